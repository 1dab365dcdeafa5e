// A JACK server that runs its cycles but answers slowly (a loaded machine, made here by slowing libjack's calls in
// this process) is never taken for a silent one: connected ports stay open, nothing says that the server does not
// answer, and each host call still returns within about a second and a half. The server and the synthesizer emulator
// are the test's own (see own-shm.sh).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/faults/faults_support.h"
#include "tests/support/HostCallProbe.h"

using namespace faults;
using vexmir::testsupport::probe::slowJack;

TEST(BusyServer, ASlowServerKeepsEveryConnectedPortAndEveryHostCallReturnsInTime) {
  if (!std::getenv("VEXMIR_FAULTS_OWN_SHM")) GTEST_SKIP() << "needs a /dev/shm of its own (run as root)";
  if (!vexmir::testsupport::probe::active()) GTEST_SKIP() << "libjack's calls are slowed through the host-call probe";
  OwnJackServer server;
  ASSERT_TRUE(server.start());
  DataRoot root;
  OwnEmulator synth("busy");
  auto within = [](const std::function<void()>& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500);
  };
  auto until = [](const std::function<bool()>& done) {
    for (int i = 0; i < 30000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
  };
  auto saidNoAnswer = [](EmulatorPlug& p) {
    for (const std::string& t : p.texts())
      if (t.find("does not answer") != std::string::npos) return true;
    return false;
  };

  // Three instances with open, connected ports; every client open, close and graph read then takes 1.1 s. One is
  // closed while the others recall their unchanged projects.
  std::vector<std::unique_ptr<EmulatorPlug>> plugs;
  std::vector<ByteChunk> projects(3);
  for (int k = 0; k < 3; ++k) {
    plugs.push_back(std::make_unique<EmulatorPlug>(&JobClock::system()));
    ASSERT_TRUE(plugs[k]->connectTo(synth.inPort(), synth.outPort()));
    ASSERT_TRUE(plugs[k]->SerializeState(&projects[k]));
  }
  slowJack(1100, 1100, 1100);
  std::atomic<int> inTime{0};
  std::thread closing([&] { inTime += within([&] { plugs[0].reset(); }); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::vector<std::thread> recalls;
  for (int k = 1; k < 3; ++k)
    recalls.emplace_back([&, k] { inTime += within([&] { plugs[k]->UnserializeState(&projects[k], 0); }); });
  closing.join();
  for (std::thread& t : recalls) t.join();
  EXPECT_EQ(inTime, 3);
  slowJack(0, 0, 0);
  for (int k = 1; k < 3; ++k) {
    ASSERT_TRUE(plugs[k]->waitIdle());
    EXPECT_TRUE(plugs[k]->isExternalMIDIOutOpen() && plugs[k]->isExternalMIDIInOpen()) << k;
    EXPECT_GT(plugs[k]->connectedExternalMIDIOut(synth.inPort().c_str()), 0) << k;
    EXPECT_GT(plugs[k]->connectedExternalMIDIIn(synth.outPort().c_str()), 0) << k;
    EXPECT_FALSE(saidNoAnswer(*plugs[k])) << plugs[k]->lastText();
    ByteChunk now;
    ASSERT_TRUE(plugs[k]->SerializeState(&now));
    EXPECT_TRUE(now.IsEqual(projects[k])) << k;
  }
  plugs.clear();

  // Three new instances recall at once while every client open takes 300 ms more: each recall returns in time, and
  // every port opens once the server has answered.
  slowJack(300, 0, 0);
  for (int k = 0; k < 3; ++k) plugs.push_back(std::make_unique<EmulatorPlug>(&JobClock::system()));
  inTime = 0;
  for (int k = 0; k < 3; ++k)
    recalls.emplace_back([&, k] { inTime += within([&] { plugs[k]->UnserializeState(&projects[1], 0); }); });
  for (int k = 0; k < 3; ++k) recalls[k + 2].join();
  EXPECT_EQ(inTime, 3);
  for (auto& p : plugs) {
    EXPECT_TRUE(until([&] { return p->waitIdle() && p->isExternalMIDIOutOpen() && p->isExternalMIDIInOpen(); }))
        << p->lastText();
    EXPECT_FALSE(saidNoAnswer(*p)) << p->lastText();
  }
  slowJack(0, 0, 0);
  plugs.clear();
}
