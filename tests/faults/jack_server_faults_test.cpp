// The JACK server stopped while both ports are open and a bank store runs: no crash, no host call held up, the
// store ends saying the port was lost, both ports show OFF, and once the server is back choosing the ports
// again works. Killed under open ports, the instance says which closed, a request in flight ends, and the next
// REQUEST opens the project's ports on the server started again (or says that none runs). The server, the synthesizer emulator and the /dev/shm are the test's own (see own-shm.sh).
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "src/LibrarianEditor.h"
#include "tests/faults/faults_support.h"

using namespace faults;

TEST(JackServerFaults, TheServerStoppedDuringABankStoreHoldsNoHostCallAndTheChosenPortsWorkAgainAfter) {
  if (!std::getenv("VEXMIR_FAULTS_OWN_SHM")) GTEST_SKIP() << "needs a /dev/shm of its own (run as root)";
  OwnJackServer server;
  ASSERT_TRUE(server.start());
  DataRoot root;
  // The store's pauses run 200 times faster than real (it waits for no answer).
  ScaledJobClock clock(200);
  auto synth = std::make_unique<OwnEmulator>("server");
  EmulatorPlug plug(&clock);
  ASSERT_TRUE(plug.connectTo(synth->inPort(), synth->outPort()));
  SenderJob job = jobtest::jobOf(kJobStoreAllPatches);
  job.bank = plug.getLibrarian()->bankAt(plug.getLibrarian()->upperBankIndex)->patches;
  JobHold hold(plug, "Please wait! Writing.. 12%");  // program 16 written
  ASSERT_TRUE(plug.getMidiManager()->startJob(MidiWorker::kJobThread, job));
  ASSERT_TRUE(hold.held());

  // The host keeps calling meanwhile: edits, state saves.
  std::atomic<bool> done{false};
  std::atomic<int64_t> longestMicros{0};
  std::atomic<int> calls{0};
  std::thread host([&] {
    for (int k = 0; !done; ++k) {
      const auto start = std::chrono::steady_clock::now();
      plug.press(kArpTempo, 100 + k % 50);
      ByteChunk chunk;
      plug.SerializeState(&chunk);
      const int64_t us =
          std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
      longestMicros = std::max(longestMicros.load(), us);
      ++calls;
    }
  });
  const bool stopped = server.stop();
  hold.release();
  const bool ended = plug.waitIdle(MidiWorker::kJobThread, 30);
  done = true;
  host.join();
  ASSERT_TRUE(stopped && ended);
  std::printf("%d host calls while the server went away, the longest %.1f ms\n", calls.load(),
              static_cast<double>(longestMicros.load()) / 1000.0);
  // A call held by the dying server would wait for it: the MIDI system's owner gives up on a silent server after about
  // a second, and nothing else of a host call waits for it.
  EXPECT_LT(longestMicros.load(), 2000000);
  EXPECT_NE(plug.lastText().find("the MIDI port was lost"), std::string::npos) << plug.lastText();
  EXPECT_EQ(plug.paramValue(kDeviceOutSelection), 0.0);
  EXPECT_EQ(plug.paramValue(kDeviceInSelection), 0.0);
  EXPECT_FALSE(plug.isExternalMIDIOutOpen());
  EXPECT_FALSE(plug.isExternalMIDIInOpen());
  EXPECT_FALSE(plug.midiOutReady);
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
  synth.reset();

  // The server is back: choosing the ports again reconnects, and a request is answered (waiting for the answer with
  // the editor's own pauses, as a loaded machine may need them).
  plug.setJobClock(&JobClock::system());
  ASSERT_TRUE(server.start());
  synth = std::make_unique<OwnEmulator>("back");
  synth->client->check("set name edit Server Back");
  ASSERT_TRUE(plug.connectTo(synth->inPort(), synth->outPort()));
  ASSERT_TRUE(plug.run(kJobActiveArrangementRequest, true));
  EXPECT_EQ(plug.lastText(), "Data request completed!");
  EXPECT_EQ(plug.programName(), "Server Back ");

  // Two more instances have read their port lists (their menus opened) and opened no port when the server is killed:
  // a recall naming the ports, and a port chosen in the menu, touch nothing of the dead server (libjack frees its
  // clients' memory once the process opens a client again), leave the ports OFF and say that no server runs.
  ByteChunk project;
  ASSERT_TRUE(plug.SerializeState(&project));
  EmulatorPlug listed(&JobClock::system()), chooser(&JobClock::system());
  listed.getExternalMIDIOutNames();
  listed.getExternalMIDIInNames();
  const std::vector<std::string> outs = chooser.getExternalMIDIOutNames();
  chooser.getExternalMIDIInNames();
  const auto chosen = std::find(outs.begin(), outs.end(), synth->inPort());
  ASSERT_NE(chosen, outs.end());
  synth.reset();
  // A client of the test's own hears of the server's end, and with it libjack in this process: from then on the next
  // client opened frees the dead server's clients. (Never closed: it is one of them.)
  std::atomic<bool> serverEnded{false};
  jack_client_t* watcher = jack_client_open("vexmir-faults-watcher", JackNoStartServer, nullptr);
  ASSERT_NE(watcher, nullptr);
  jack_on_shutdown(watcher, [](void* flag) { static_cast<std::atomic<bool>*>(flag)->store(true); }, &serverEnded);
  ASSERT_TRUE(server.kill());
  while (!serverEnded) std::this_thread::yield();
  ASSERT_GT(listed.UnserializeState(&project, 0), 0);
  chooser.press(kDeviceOutSelection, static_cast<double>(chosen - outs.begin()));
  ASSERT_TRUE(listed.waitIdle() && chooser.waitIdle());
  for (EmulatorPlug* p : {&listed, &chooser}) {
    EXPECT_EQ(p->paramValue(kDeviceOutSelection), 0.0);
    EXPECT_FALSE(p->isExternalMIDIOutOpen() || p->isExternalMIDIInOpen());
    const std::string shown = p->getDisplayLine(Vexmir::kLineName);
    EXPECT_EQ(shown.rfind("No MIDI system: no JACK server runs", 0), 0u) << shown;
  }
  // The server started again with the synthesizer: a recall opens the ports on it, and a request is answered there.
  auto recallAnswers = [&](EmulatorPlug& p) {
    ASSERT_GT(p.UnserializeState(&project, 0), 0);
    ASSERT_TRUE(p.waitIdle());
    EXPECT_TRUE(p.isExternalMIDIOutOpen() && p.isExternalMIDIInOpen());
    ASSERT_TRUE(p.run(kJobActiveArrangementRequest, true));
    EXPECT_EQ(p.lastText(), "Data request completed!");
  };
  ASSERT_TRUE(server.start());
  synth = std::make_unique<OwnEmulator>("back");
  recallAnswers(listed);

  // A request in flight when the server is killed ends saying that the port was lost, and the instance says which
  // ports closed; nothing searches the channels for an answer that cannot come.
  auto until = [](const std::function<bool()>& done) {
    for (int i = 0; i < 15000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
  };
  auto said = [](EmulatorPlug& p, const std::string& head) {
    const std::vector<std::string> texts = p.texts();
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(head, 0) == 0; });
  };
  const std::string closed = "JACK server stopped, MIDI ports closed: MIDI IN " + synth->outPort() + ", MIDI OUT " +
                             synth->inPort();
  ByteChunk named;
  ASSERT_TRUE(listed.SerializeState(&named));
  // The synthesizer answers no request on the editor's channel: the request is still waiting when the server dies.
  synth->client->setChannel(5);
  const std::string from = std::to_string(std::stoul(synth->client->check("logsize")));
  ASSERT_TRUE(listed.start(kJobActiveArrangementRequest));
  synth->client->check("wait 60000 " + from + " in F0 42 30 58 10");
  synth.reset();
  ASSERT_TRUE(server.kill());
  ASSERT_TRUE(until([&] { return said(listed, closed); })) << listed.lastText();
  ASSERT_TRUE(listed.waitIdle());
  EXPECT_TRUE(said(listed, "Data request stopped: the MIDI port was lost!")) << listed.lastText();
  EXPECT_FALSE(said(listed, "Please wait, checking DeviceID"));
  EXPECT_FALSE(listed.isExternalMIDIOutOpen() || listed.isExternalMIDIInOpen() || listed.midiOutReady);
  EXPECT_EQ(listed.paramValue(kDeviceOutSelection), 0.0);
  EXPECT_NE(listed.getLibrarianEditor()->lastMessage().find(closed), std::string::npos);
  // The project still names the ports.
  ByteChunk whileGone;
  ASSERT_TRUE(listed.SerializeState(&whileGone));
  EXPECT_TRUE(whileGone.IsEqual(named));

  // The server started again with the synthesizer: REQUEST opens the ports there and is answered.
  ASSERT_TRUE(server.start());
  synth = std::make_unique<OwnEmulator>("back");
  listed.press(kRequestTempData, 1);
  ASSERT_TRUE(listed.waitIdle());
  EXPECT_EQ(listed.lastText(), "Data request completed!");
  EXPECT_TRUE(listed.isExternalMIDIOutOpen() && listed.isExternalMIDIInOpen());

  // Stopped while nothing of ours waits on it: REQUEST says that the server does not answer, and once it runs its
  // cycles again, the next REQUEST is answered.
  std::atomic<int> cycles{0};
  jack_client_t* ticker = jack_client_open("vexmir-faults-ticker", JackNoStartServer, nullptr);
  ASSERT_NE(ticker, nullptr);
  jack_set_process_callback(ticker, [](jack_nframes_t, void* n) { return ++*static_cast<std::atomic<int>*>(n), 0; },
                            &cycles);
  ASSERT_EQ(jack_activate(ticker), 0);
  ASSERT_TRUE(server.signal(SIGSTOP));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // a cycle under way when it stopped ends
  listed.press(kRequestTempData, 1);
  ASSERT_TRUE(listed.waitIdle());
  EXPECT_EQ(listed.lastText().rfind("No MIDI system: the JACK server does not answer", 0), 0u) << listed.lastText();
  const int stoppedAt = cycles;
  ASSERT_TRUE(server.signal(SIGCONT));
  ASSERT_TRUE(until([&] { return cycles > stoppedAt + 2; }));
  jack_client_close(ticker);
  listed.press(kRequestTempData, 1);
  ASSERT_TRUE(listed.waitIdle());
  EXPECT_EQ(listed.lastText(), "Data request completed!");

  // Killed for good: REQUEST says at once that no server runs, and the project keeps its ports.
  ASSERT_TRUE(listed.SerializeState(&named));
  synth.reset();
  ASSERT_TRUE(server.kill());
  ASSERT_TRUE(until([&] { return !listed.midiOutReady && listed.GetHostCallRelay().idle(); }));
  listed.press(kRequestTempData, 1);
  ASSERT_TRUE(listed.waitIdle());
  EXPECT_EQ(listed.lastText().rfind("No MIDI system: no JACK server runs, set to OFF: ", 0), 0u) << listed.lastText();
  ASSERT_TRUE(listed.SerializeState(&whileGone));
  EXPECT_TRUE(whileGone.IsEqual(named));

  // A server started again between an instance's port lists and its next use of them (no client of this process
  // heard of the end): a recall opens the ports on the new server, nothing of the old one is touched.
  ASSERT_TRUE(server.start());
  synth = std::make_unique<OwnEmulator>("back");
  EmulatorPlug late(&JobClock::system());
  late.getExternalMIDIOutNames();
  late.getExternalMIDIInNames();
  synth.reset();
  ASSERT_TRUE(server.kill());
  ASSERT_TRUE(server.start());
  synth = std::make_unique<OwnEmulator>("back");
  recallAnswers(late);

  // A server that stops answering holds no host call longer than the MIDI system's owner waits for it, whatever holds
  // the owner: another instance's open on it here. An unchanged recall of an instance whose ports are open and
  // connected keeps naming them and tells nothing; its close, a recall that lists the ports and a port choice return
  // while the server is still stopped. Once it answers, the closed instance leaves no port on it, the synthesizer's
  // messages reach nothing freed, and the next REQUEST of the recalled instance opens the ports again.
  {
    const std::string ours = "RtMidi.* " + std::to_string(::getpid()) + "-";
    jack_client_t* looker = jack_client_open("vexmir-faults-looker", JackNoStartServer, nullptr);
    ASSERT_NE(looker, nullptr);
    auto portsOfOurs = [&] {
      std::string all;
      const char** ports = jack_get_ports(looker, ours.c_str(), nullptr, 0);
      for (int i = 0; ports && ports[i]; ++i) all += std::string(ports[i]) + "; ";
      jack_free(ports);
      return all;
    };
    const std::string others = portsOfOurs();
    auto kept = std::make_unique<EmulatorPlug>(&JobClock::system());
    EmulatorPlug stalled(&JobClock::system()), chooser(&JobClock::system());
    ASSERT_TRUE(kept->connectTo(synth->inPort(), synth->outPort()));
    ByteChunk keptProject, keptNow;
    ASSERT_TRUE(kept->SerializeState(&keptProject));
    kept->TakeUnreportedChange();
    const std::vector<std::string> outs = chooser.getExternalMIDIOutNames();
    const int at = static_cast<int>(std::find(outs.begin(), outs.end(), synth->inPort()) - outs.begin());
    ASSERT_TRUE(server.signal(SIGSTOP));
    std::atomic<int> returned{0}, inTime{0};
    auto timed = [&](const std::function<void()>& call) {
      const auto start = std::chrono::steady_clock::now();
      call();
      inTime += std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500);
    };
    std::string chooserSaid, chooserProject;
    std::thread calls([&] {
      stalled.getExternalMIDIOutNames();
      ++returned;
      timed([&] { kept->UnserializeState(&keptProject, 0); });
      ++returned;
      ASSERT_TRUE(kept->SerializeState(&keptNow));
      EXPECT_FALSE(kept->TakeUnreportedChange());
      timed([&] { kept.reset(); });
      timed([&] { stalled.UnserializeState(&named, 0); });
      timed([&] { chooser.press(kDeviceOutSelection, at); });
      chooser.waitIdle();
      // The choice made while the server is stopped: OFF, said so, and the project names the port chosen.
      chooserSaid = chooser.lastText();
      ByteChunk chosenProject;
      chooser.SerializeState(&chosenProject);
      chooserProject.resize(static_cast<size_t>(chosenProject.Size()));
      chosenProject.GetBytes(chooserProject.data(), chosenProject.Size(), 0);
      ++returned;
    });
    const bool answered = until([&] { return returned == 3; });
    server.signal(SIGCONT);
    calls.join();
    ASSERT_TRUE(answered) << returned << " calls returned";
    EXPECT_EQ(inTime, 4);
    EXPECT_EQ(chooserSaid, "No MIDI system: the JACK server does not answer, set to OFF: " + synth->inPort());
    EXPECT_NE(chooserProject.find(synth->inPort()), std::string::npos);
    EXPECT_EQ(chooser.paramValue(kDeviceOutSelection), 0.0);
    EXPECT_TRUE(keptNow.IsEqual(keptProject));
    for (int k = 0; k < 50; ++k) synth->client->check("send cc 1 74 " + std::to_string(k));
    EXPECT_TRUE(until([&] { return portsOfOurs() == others; })) << portsOfOurs() << " / " << others;
    jack_client_close(looker);
    stalled.press(kRequestTempData, 1);
    ASSERT_TRUE(stalled.waitIdle());
    EXPECT_EQ(stalled.lastText(), "Data request completed!");
    EXPECT_NE(stalled.getLibrarianEditor()->lastMessage().find("MIDI ports opened again: MIDI IN "),
              std::string::npos)
        << stalled.getLibrarianEditor()->lastMessage();
  }

  // The server killed a few milliseconds into such a recall: the recall returns, nothing crashes (by hand with
  // VEXMIR_FAULTS_FULL=1: 200 rounds).
  for (int round = 0, rounds = fullSize() ? 200 : 2; round < rounds; ++round) {
    EmulatorPlug dying(&JobClock::system());
    dying.getExternalMIDIOutNames();
    dying.getExternalMIDIInNames();
    std::thread recall([&] { dying.UnserializeState(&named, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    synth.reset();
    const bool killed = server.kill();
    recall.join();
    ASSERT_TRUE(killed && server.start());
    synth = std::make_unique<OwnEmulator>("back");
  }

  // A host's report function that takes its time, instances with open ports, the server killed and an instance made a
  // little later (libjack then cancels the dead clients' threads, reporting or waiting to): the process goes on (by
  // hand with VEXMIR_FAULTS_FULL=1: 20 rounds).
  static std::atomic<int> reports{0};
  jack_set_error_function([](const char*) {
    ++reports;
    usleep(300000);
  });
  for (int round = 0, rounds = fullSize() ? 20 : 2; round < rounds; ++round) {
    std::vector<std::unique_ptr<EmulatorPlug>> four;
    for (int k = 0; k < 4; ++k) {
      four.push_back(std::make_unique<EmulatorPlug>(&JobClock::system()));
      // libjack's reports of the last server's end, 100 ms each, may hold the owner past its answer.
      ASSERT_TRUE(until([&] { return four.back()->connectTo(synth->inPort(), synth->outPort()); }))
          << round << ": " << four.back()->lastText() << " / " << (four.back()->midiSystemProblem() ?: "");
    }
    synth.reset();
    ASSERT_TRUE(server.kill());
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + 40 * (round % 5)));
    EmulatorPlug made(&JobClock::system());
    made.getExternalMIDIOutNames();
    ASSERT_TRUE(server.start());
    synth = std::make_unique<OwnEmulator>("back");
    // However long libjack's clean-up takes, the next recall opens its ports on the running server.
    ASSERT_GT(made.UnserializeState(&project, 0), 0);
    EXPECT_TRUE(until([&] { return made.waitIdle() && made.isExternalMIDIOutOpen() && made.isExternalMIDIInOpen(); }))
        << round << ": " << made.lastText();
  }
  // Two of libjack's threads reporting, cancelled asynchronously as libjack does: one while it reports, one while it
  // waits for the other. The plug-in's report function is the process's once a client of ours has opened.
  ASSERT_TRUE(until([] { return EmulatorPlug(&JobClock::system()).getExternalMIDIOutNames().size() > 1; }));
  const int before = reports;
  pthread_t threads[2];
  for (pthread_t& t : threads)
    ASSERT_EQ(pthread_create(&t, nullptr,
                             [](void*) -> void* {
                               pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
                               jack_error_callback("a report");
                               return nullptr;
                             },
                             nullptr),
              0);
  while (reports == before) std::this_thread::yield();
  for (pthread_t& t : threads) pthread_cancel(t);
  for (pthread_t& t : threads) pthread_join(t, nullptr);
  jack_set_error_function([](const char*) {});

  // Once the host's audio has run, a server's end keeps every client of ours closed until that audio runs again (a
  // client opened earlier frees the host's clients of the ended server under its threads); the lists say why, and
  // nothing falls back to another MIDI system.
  IEffectBase::hostAudioRuns();
  synth.reset();
  ASSERT_TRUE(server.kill());
  EmulatorPlug(&JobClock::system()).getExternalMIDIOutNames();  // its open finds no server: the end is counted
  ASSERT_TRUE(server.start());
  synth = std::make_unique<OwnEmulator>("back");
  EmulatorPlug reconnecting(&JobClock::system());
  EXPECT_EQ(reconnecting.getExternalMIDIOutNames().size(), 1u);
  EXPECT_STREQ(reconnecting.midiSystemProblem(),
               "No MIDI system yet: the DAW's audio must reconnect to the JACK server first");
  EXPECT_TRUE(until([&] {
    IEffectBase::hostAudioRuns();
    return reconnecting.getExternalMIDIOutNames().size() > 1;
  }));
}
