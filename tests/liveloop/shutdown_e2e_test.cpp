// Shut-down while the synthesizer is busy: the editor object is created, connected to the emulator and deleted
// again, a hundred times, while the emulator sends a stream of knob turns. Under the sanitizers no callback,
// job or timer may outlive the object.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "src/MIDIMessageManager.h"
#include "src/Vexmir.h"
#include "tests/support/EmulatorClient.h"

using vexmir::testsupport::EmulatorClient;

namespace {

intptr_t quietHost(AEffect*, int32_t, int32_t, intptr_t, void*, float) {
  return 0;
}

int portIndex(const std::vector<std::string>& names, const std::string& name) {
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<int>(i);
  return -1;
}

}  // namespace

TEST(ShutDown, AHundredTimesWhileTheSynthesizerStreamsKnobTurns) {
  const std::string root =
      (std::filesystem::temp_directory_path() / ("liveloop-shutdown-" + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(root);
  setenv("VEXMIR_ROOT", root.c_str(), 1);
  EmulatorClient emu;
  emu.reset();

  std::atomic<bool> stop{false};
  std::atomic<int> turns{0};
  std::thread turner([&] {
    EmulatorClient knobs;
    for (int v = 0; !stop; v = (v + 1) % 128) {
      knobs.check("turn cc 74 " + std::to_string(v));
      ++turns;
    }
  });

  int followed = 0;
  for (int i = 0; i < 100; ++i) {
    Vexmir plug(IEffectInstanceInfo{quietHost});
    const int in = portIndex(plug.getExternalMIDIInNames(), EmulatorClient::emulatorOutPort());
    const int out = portIndex(plug.getExternalMIDIOutNames(), EmulatorClient::emulatorInPort());
    ASSERT_GT(in, 0);
    ASSERT_GT(out, 0);
    plug.storeParamValue(kDeviceInSelection, in);
    plug.OnParamChange(kDeviceInSelection);
    plug.storeParamValue(kDeviceOutSelection, out);
    plug.OnParamChange(kDeviceOutSelection);
    ASSERT_TRUE(plug.midiOutReady);
    // Every fifth round waits until a turn has reached the editor; the others go down at once, in the middle of
    // the connection's job.
    if (i % 5 == 0) {
      const double start = plug.paramValue(kFilterCutoff);
      for (int wait = 0; wait < 2000 && plug.paramValue(kFilterCutoff) == start; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      followed += plug.paramValue(kFilterCutoff) != start;
    }
  }
  stop = true;
  turner.join();
  std::filesystem::remove_all(root);
  EXPECT_GT(turns, 100);
  EXPECT_GE(followed, 15);
}
