// The test host against a plug-in of our own that makes every host request and reports what it received.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "tests/host/run_host.h"

namespace {

const std::string kProbe = PROBE_PLUGIN;
const std::string kNoEntry = NOENTRY_PLUGIN;

// The probe's report line as the transcript prints it (the effGetErrorText dispatch).
std::string reportOf(const HostRun& r, int nth = 0) {
  const std::string key = "dispatcher effGetErrorText(46) -> 1 \"";
  size_t at = 0;
  for (int i = 0; i <= nth; ++i) {
    at = r.out.find(key, at);
    if (at == std::string::npos) return "";
    at += key.size();
  }
  return r.out.substr(at, r.out.find('\n', at) - at - 1);
}

TEST(HostWithProbe, AnswersEveryHostRequestAndRecordsIt) {
  ScratchDir dir;
  HostRun r = runHost(kProbe,
                      "host product \"REAPER\"\n"
                      "host vendorversion 60012\n"
                      "open\n"
                      "dispatch effVendorSpecific\n"
                      "dispatch effGetErrorText\n",
                      dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string report = reportOf(r);
  const char* inReport[] = {
      "product=\\\"REAPER\\\" vendorversion=60012",
      "automate=0",
      "version=2400",
      "wantmidi=1",
      "iochanged=1",
      "level=1",  // outside processing: the user level
      "display=1",
      "begin=1",
      "end=1",
      "unknown=0",
      "time[pos=0 rate=44100 ppq=0.0000 tempo=120.00 bar=0.0 sig=4/4 playing=0 changed=0]",
  };
  for (const char* s : inReport) EXPECT_NE(report.find(s), std::string::npos) << s << "\nin: " << report;

  const char* inTranscript[] = {
      "load \"" PROBE_PLUGIN "\" entry VSTPluginMain",
      "request audioMasterVersion(1) -> 2400",
      "request audioMasterGetProductString(33) \"REAPER\" -> 1",
      "request audioMasterGetVendorVersion(34) -> 60012",
      "dispatcher effOpen(0) -> 1",
      "request audioMasterAutomate(0) index=2 opt=0.75 -> 0",
      "request audioMasterWantMidi(6) -> 1",
      "request audioMasterGetTime(7) -> 1",
      "request audioMasterIOChanged(13) -> 1",
      "request audioMasterGetCurrentProcessLevel(23) -> 1",
      "request audioMasterUpdateDisplay(42) -> 1",
      "request audioMasterBeginEdit(43) index=1 -> 1",
      "request audioMasterEndEdit(44) index=1 -> 1",
      "request audioMaster(99) -> 0",
      "dispatcher effVendorSpecific(50) -> 1",
      "dispatcher effClose(1) -> 1 (end of script)",
  };
  for (const char* s : inTranscript) EXPECT_TRUE(r.has(s)) << s << "\nin:\n" << r.out;
}

TEST(HostWithProbe, TransportAdvancesWithEachBlockWhilePlaying) {
  ScratchDir dir;
  HostRun r = runHost(kProbe,
                      "setup rate=48000 block=480\n"
                      "transport playing=1 tempo=150 ppq=4 sig=3/4\n"
                      "process float\n"
                      "dispatch effGetErrorText\n"
                      "process double\n"
                      "dispatch effGetErrorText\n"
                      "transport playing=0\n"
                      "process accumulate\n"
                      "dispatch effGetErrorText\n",
                      dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // level 2 is the realtime level: the host knows it is inside a process call.
  EXPECT_EQ(reportOf(r, 0),
            "rate=48000 block=480 level=2 "
            "time[pos=0 rate=48000 ppq=4.0000 tempo=150.00 bar=3.0 sig=3/4 playing=1 changed=1]");
  // 480 frames at 48 kHz and 150 BPM are a fortieth of a quarter note.
  EXPECT_EQ(reportOf(r, 1),
            "level=2 time[pos=480 rate=48000 ppq=4.0250 tempo=150.00 bar=3.0 sig=3/4 playing=1 changed=0]");
  EXPECT_EQ(reportOf(r, 2),
            "level=2 time[pos=960 rate=48000 ppq=4.0500 tempo=150.00 bar=3.0 sig=3/4 playing=0 changed=1]");
  EXPECT_TRUE(r.has("transport playing=1 recording=0 tempo=150 ppq=4 samplepos=0 sig=3/4")) << r.out;
}

TEST(HostWithProbe, ProcessesEachPrecisionWithTheChannelsItDeclares) {
  ScratchDir dir;
  HostRun r = runHost(kProbe,
                      "process float frames=64 input=impulse\n"
                      "process double frames=64 input=sine\n"
                      "process accumulate frames=64 count=2\n",
                      dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.has("process float frames=64 in=1 out=2 -> peaks [0.25 2]")) << r.out;
  EXPECT_TRUE(r.has("process double frames=64 in=1 out=2 -> peaks [0.25 1]")) << r.out;
  EXPECT_TRUE(r.has("process accumulate frames=64 in=1 out=2 -> peaks [0.25 0]")) << r.out;
}

TEST(HostWithProbe, DeliversHostEventsAndRecordsThePluginsEvents) {
  ScratchDir dir;
  HostRun r = runHost(kProbe,
                      "midi 90 3c 64 delta=5\n"
                      "sysex F0 43 10 7F F7\n"
                      "midi c0 05\n"
                      "process float frames=32\n"
                      "dispatch effGetErrorText\n"
                      "events\n",
                      dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.has("event midi delta=5 90 3c 64"));
  EXPECT_TRUE(r.has("event sysex delta=0 bytes=5 f0 43 10 7f f7"));
  EXPECT_TRUE(r.has("dispatcher effProcessEvents(25) events=3 -> 1")) << r.out;
  EXPECT_NE(reportOf(r).find("midi@5 sysex@0x5 midi@0"), std::string::npos) << reportOf(r);
  // The probe sends what it got back to the host during the block.
  EXPECT_TRUE(
      r.has("request audioMasterProcessEvents(8) events=3 [midi delta=0 90 3c 64] "
            "[sysex delta=0 bytes=5 f0 43 10 7f f7] [midi delta=2 c0 05 00] -> 1"))
      << r.out;
  EXPECT_TRUE(r.has("events none queued"));
}

TEST(HostWithProbe, ChunksGoToFilesAndBack) {
  ScratchDir dir;
  dir.write("other.bin", std::string("hello\0world", 11));
  HostRun r = runHost(kProbe,
                      "chunk save first.bin\n"
                      "chunk load other.bin preset\n"
                      "chunk save second.bin\n"
                      "compare other.bin second.bin\n"
                      "compare first.bin second.bin\n"
                      "dispatch effGetErrorText\n",
                      dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(dir.read("first.bin"), "probe");
  EXPECT_EQ(dir.read("second.bin"), std::string("hello\0world", 11));
  EXPECT_TRUE(r.has("chunk save bank -> 5 bytes \"first.bin\""));
  EXPECT_TRUE(r.has("chunk load preset 11 bytes \"other.bin\" -> 1"));
  EXPECT_TRUE(r.has("compare \"other.bin\" \"second.bin\" -> equal 11 bytes"));
  EXPECT_TRUE(r.has("compare \"first.bin\" \"second.bin\" -> differ at byte 0 (sizes 5 11)"));
  EXPECT_EQ(reportOf(r), "setchunk=11 preset");
}

TEST(HostWithProbe, SysExFromAFileLongMessagesSummarisedUnlessAskedInFull) {
  ScratchDir dir;
  std::string longMsg = "\xf0";
  for (int i = 1; i <= 38; ++i) longMsg += static_cast<char>(i);
  longMsg += "\xf7";
  dir.write("two.syx", std::string("\xf0\x43\x10\x7f\xf7", 5) + longMsg);
  HostRun r = runHost(kProbe,
                      "sysex file=two.syx delta=3\n"
                      "process float frames=16\n"
                      "host sysex full\n"
                      "sysex file=two.syx\n"
                      "process float frames=16\n",
                      dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const char* lines[] = {
      "event sysex delta=3 bytes=5 f0 43 10 7f f7\n",
      "event sysex delta=3 bytes=40 f0 01 02 03 04 05 06 07 08 09 0a 0b .. 24 25 26 f7\n",
      "dispatcher effProcessEvents(25) events=2 -> 1\n",
      "request audioMasterProcessEvents(8) events=2 [sysex delta=0 bytes=5 f0 43 10 7f f7] "
      "[sysex delta=0 bytes=40 f0 01 02 03 04 05 06 07 08 09 0a 0b .. 24 25 26 f7] -> 1\n",
      "host sysex full\n",
      "event sysex delta=0 bytes=40 f0 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 15 16 17 18 19 1a "
      "1b 1c 1d 1e 1f 20 21 22 23 24 25 26 f7\n",
  };
  for (const char* s : lines) EXPECT_TRUE(r.has(s)) << s << "\nin:\n" << r.out;
}

TEST(HostWithProbe, BlocksCanRunOnAnAudioThreadOfTheirOwn) {
  ScratchDir dir;
  HostRun r = runHost(kProbe,
                      "midi 90 3c 64\n"
                      "process float frames=16 thread=audio count=2\n"
                      "process double frames=16\n",
                      dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const char* lines[] = {
      "request audioMasterGetCurrentProcessLevel(23) -> 2 [audio]\n",
      "request audioMasterGetTime(7) -> 1 [audio]\n",
      "request audioMasterProcessEvents(8) events=1 [midi delta=0 90 3c 64] -> 1 [audio]\n",
      "process float frames=16 thread=audio in=1 out=2 -> peaks [0.25 0]\n",
      // Back on the script's thread: no marker.
      "request audioMasterGetCurrentProcessLevel(23) -> 2\nrequest audioMasterGetTime(7) -> 1\n"
      "process double frames=16 in=1 out=2 -> peaks [0.25 0]\n",
  };
  for (const char* s : lines) EXPECT_TRUE(r.has(s)) << s << "\nin:\n" << r.out;
}

TEST(HostWithProbe, RawBytesThroughTheDispatcher) {
  ScratchDir dir;
  HostRun r = runHost(kProbe,
                      "dispatch effSetChunk ptr=bytes:68656c6c6f\n"
                      "chunk save raw.bin\n",
                      dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.has("dispatcher effSetChunk(24) ptr=bytes(5) -> 1")) << r.out;
  EXPECT_EQ(dir.read("raw.bin"), "hello");
}

TEST(HostWithProbe, LoadsABundleAndReportsAnEmptyProductString) {
  ScratchDir dir;
  ASSERT_EQ(std::system(("mkdir -p '" + dir.file("Probe.vst/Contents/Linux") + "' && cp '" + kProbe + "' '" +
                         dir.file("Probe.vst/Contents/Linux/Probe.so") + "'")
                            .c_str()),
            0);
  HostRun r = runHost(dir.file("Probe.vst"), "host product \"\"\nopen\ndispatch effGetErrorText\n", dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.has("Probe.vst/Contents/Linux/Probe.so\" entry VSTPluginMain")) << r.out;
  EXPECT_TRUE(r.has("request audioMasterGetProductString(33) \"\" -> 0")) << r.out;
  EXPECT_EQ(reportOf(r), "product=\\\"\\\" vendorversion=10000");
}

TEST(HostWithProbe, ParametersAndStringOpcodes) {
  ScratchDir dir;
  HostRun r = runHost(kProbe,
                      "info\n"
                      "param set 1 0.3\n"
                      "param get 1\n"
                      "param show 2\n"
                      "dispatch effGetEffectName\n"
                      "dispatch 47\n"
                      "dispatch effCanDo ptr=text:\"receiveVstMidiEvent\"\n"
                      "dispatch effCanDo ptr=text:bogus\n"
                      "dispatch effSetSpeakerArrangement speakers=1,2\n",
                      dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const char* lines[] = {
      "effect uniqueID 1450725490 (0x56785072 'VxPr')",
      "effect numParams 3",
      "effect numInputs 1",
      "effect numOutputs 2",
      "effect flags 0x1130 CanReplacing|ProgramChunks|IsSynth|CanDoubleReplacing",
      "effect process yes processReplacing yes processDoubleReplacing yes",
      "param set 1 0.3",
      "param get 1 -> 0.3",
      "param show 2 -> 1 name=\"P2\" label=\"\" display=\"\"",
      "dispatcher effGetEffectName(45) -> 1 \"Vexmir Probe\"",
      "dispatcher effGetVendorString(47) -> 1 \"Vexmir Tests\"",
      "dispatcher effCanDo(51) ptr=\"receiveVstMidiEvent\" -> 1",
      "dispatcher effCanDo(51) ptr=\"bogus\" -> -1",
      "dispatcher effSetSpeakerArrangement(42) speakers=1,2 -> 0",
  };
  for (const char* s : lines) EXPECT_TRUE(r.has(s)) << s << "\nin:\n" << r.out;
}

TEST(HostWithProbe, RepeatedRequestsAreFoldedWithACount) {
  ScratchDir dir;
  // The probe's idle asks for a display update three times.
  HostRun r = runHost(kProbe, "dispatch effIdle\ndispatch effIdle\n", dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(
      r.has("request audioMasterUpdateDisplay(42) -> 1 (x3)\ndispatcher effIdle(53) -> 0\n"
            "request audioMasterUpdateDisplay(42) -> 1 (x3)\ndispatcher effIdle(53) -> 0\n"))
      << r.out;
}

TEST(HostWithProbe, RequestsFromOtherThreadsAreMarked) {
  ScratchDir dir;
  HostRun r = runHost(kProbe, "dispatch effVendorSpecific index=1\n", dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.has("request audioMasterUpdateDisplay(42) -> 1 [thread]\n")) << r.out;
  // Off the script's thread no process call is running: the user level.
  EXPECT_TRUE(r.has("request audioMasterGetCurrentProcessLevel(23) -> 1 [thread]\n")) << r.out;
  EXPECT_TRUE(r.has("dispatcher effVendorSpecific(50) index=1 -> 1\n")) << r.out;
}

struct BadInput {
  const char* name;
  std::vector<std::string> args;  // {plugin, script text}; "" script means none
  std::string script;
  std::vector<std::string> env;
  int exitCode;
  const char* message;
  std::string dataFile = "";  // written as data.syx when not empty
};

TEST(HostWithProbe, BadInputGivesAClearMessageAndNonZeroExit) {
  const BadInput cases[] = {
      {"missing plug-in",
       {"/nonexistent/missing.so"},
       "open\n",
       {},
       3,
       "plug-in file not found: /nonexistent/missing.so"},
      {"library without entry", {kNoEntry}, "open\n", {}, 3, "exports neither VSTPluginMain nor main"},
      {"not a library", {"script.txt"}, "open\n", {}, 3, "cannot load plug-in"},
      {"bundle without library", {"."}, "open\n", {}, 3, "plug-in bundle has no library"},
      {"entry returns null", {kProbe}, "open\n", {"VEXMIR_PROBE_ENTRY=null"}, 3, "returned no effect"},
      {"bad magic", {kProbe}, "open\n", {"VEXMIR_PROBE_ENTRY=badmagic"}, 3, "bad magic 0x12345678"},
      {"unknown step", {kProbe}, "open\nfrobnicate 3\n", {}, 2, "script.txt:2: unknown step \"frobnicate\""},
      {"unterminated quote", {kProbe}, "echo \"abc\n", {}, 2, "script.txt:1: unterminated quote"},
      {"bad escape", {kProbe}, "echo \"a\\qb\"\n", {}, 2, "unknown escape"},
      {"bad integer", {kProbe}, "process float frames=abc\n", {}, 2, "frames=abc is not an integer"},
      {"frames out of range", {kProbe}, "process float frames=0\n", {}, 2, "frames= takes 1 to 65536"},
      {"unknown key", {kProbe}, "process float speed=2\n", {}, 2, "unknown argument speed="},
      {"key twice", {kProbe}, "process float count=1 count=2\n", {}, 2, "argument count= given twice"},
      {"midi data byte", {kProbe}, "midi 90 80 00\n", {}, 2, "midi data bytes must be below 80"},
      {"midi without status", {kProbe}, "midi 3c 64\n", {}, 2, "midi needs a status byte first"},
      {"bad hex", {kProbe}, "midi 9g\n", {}, 2, "bad hex byte \"9g\""},
      {"sysex frame", {kProbe}, "sysex 43 10 F7\n", {}, 2, "sysex must start with F0 and end with F7"},
      {"unknown opcode", {kProbe}, "dispatch effFrobnicate\n", {}, 2, "unknown opcode \"effFrobnicate\""},
      {"unknown ptr kind", {kProbe}, "dispatch effIdle ptr=window\n", {}, 2, "unknown ptr kind \"window\""},
      {"undefined variable", {kProbe}, "chunk save ${VEXMIR_SURELY_UNSET}/x\n", {}, 2, "undefined variable"},
      {"param set without value", {kProbe}, "param set 1\n", {}, 2, "param set needs a value"},
      {"bad time signature", {kProbe}, "transport sig=4/5\n", {}, 2, "sig= takes a time signature"},
      {"missing script", {kProbe, "nosuchscript.txt"}, "", {}, 2, "cannot read script nosuchscript.txt"},
      {"no plug-in argument", {}, "", {}, 2, "usage: vexmir-host"},
      {"unknown option", {"--frob", kProbe}, "", {}, 2, "unknown option --frob"},
      {"option without value", {kProbe, "--rate"}, "", {}, 2, "--rate needs"},
      {"parameter out of range", {kProbe}, "param get 3\n", {}, 4, "script.txt:1: parameter 3 out of range"},
      {"missing chunk file", {kProbe}, "chunk load nothing.bin\n", {}, 4, "script.txt:1: cannot read nothing.bin"},
      {"step after close", {kProbe}, "close\ninfo\n", {}, 4, "script.txt:2: the plug-in was closed"},
      {"sysex file missing", {kProbe}, "sysex file=none.syx\n", {}, 4, "cannot read none.syx"},
      {"sysex file truncated", {kProbe}, "sysex file=script.txt\n", {}, 4, "stray byte 73 at offset 0"},
      {"sysex file cut short",
       {kProbe},
       "sysex file=data.syx\n",
       {},
       4,
       "data.syx: truncated SysEx message at offset 3",
       std::string("\xf0\x01\xf7\xf0\x02\xf0\x03", 7)},
      {"sysex file with a status byte inside",
       {kProbe},
       "sysex file=data.syx\n",
       {},
       4,
       "truncated SysEx message at offset 0",
       std::string("\xf0\x01\x90\xf7", 4)},
      {"sysex file empty", {kProbe}, "sysex file=data.syx\n", {}, 4, "no SysEx message in the file", " "},
      {"sysex bytes and file", {kProbe}, "sysex F0 F7 file=a.syx\n", {}, 2, "sysex takes either bytes or file=PATH"},
      {"host sysex mode", {kProbe}, "host sysex long\n", {}, 2, "host sysex takes full or short"},
  };
  for (const BadInput& c : cases) {
    ScratchDir dir;
    std::vector<std::string> args = c.args;
    if (!c.script.empty()) {
      dir.write("script.txt", c.script);
      args.push_back("script.txt");
    }
    if (!c.dataFile.empty()) dir.write("data.syx", c.dataFile == " " ? "" : c.dataFile);
    HostRun r = runHostArgs(args, dir, c.env);
    EXPECT_TRUE(r.exited) << c.name << ": killed by signal " << -r.exitCode;
    EXPECT_EQ(r.exitCode, c.exitCode) << c.name << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": stderr was\n" << r.err;
  }
}

TEST(HostWithProbe, AScriptErrorStopsEverythingBeforeThePluginIsTouched) {
  ScratchDir dir;
  HostRun r = runHost(kProbe, "open\nchunk save a.bin\nprocess sideways\n", dir);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("script.txt:3:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("usage: process float|double|accumulate"), std::string::npos) << r.err;
}

TEST(HostWithProbe, ScriptFromStandardInputAndTranscriptFile) {
  ScratchDir dir;
  dir.write("in.txt", "echo hello \"quoted words\" # a comment\n\n   # only a comment\ninfo\n");
  // Standard input of the child is /dev/null in runHostArgs, so the stdin path is covered through the shell.
  const std::string cmd = std::string("cd '") + dir.path() + "' && '" + hostExecutable() + "' --transcript t.txt '" +
                          kProbe + "' - < in.txt > o.txt 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << dir.read("o.txt");
  const std::string t = dir.read("t.txt");
  EXPECT_NE(t.find("echo hello quoted words\n"), std::string::npos) << t;
  EXPECT_NE(t.find("effect numParams 3"), std::string::npos) << t;
  EXPECT_EQ(dir.read("o.txt"), "");
}

}  // namespace

// Ctrl-C or a cleanup's TERM in the middle of a long wait, or of a long pump of the real editor: the host stops before
// the next step, closes the plug-in as at the end of a script (so the plug-in lets go of its ports) and ends by the
// same signal, soon.
TEST(HostWithProbe, AnInterruptEndsTheScriptClosesThePluginAndEndsByTheSignal) {
  struct Case {
    std::string plugin, script, begun;  // the transcript's line once the long step has begun
  };
  const Case cases[] = {{kProbe, "open\nwait 10000\necho not reached\n", "effOpen"},
                        {pluginBundlePath(), "open\neditor open cocoa\npump 100000\necho not reached\n", "editor open"}};
  for (const Case& c : cases) {
    for (int sig : {SIGINT, SIGTERM}) {
      ScratchDir dir;
      dir.write("script.txt", c.script);
      const std::string transcript = dir.file("transcript.txt");
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        setenv("VEXMIR_ROOT", dir.path().c_str(), 1);
        execl(VEXMIR_HOST_EXE, VEXMIR_HOST_EXE, "--transcript", transcript.c_str(), c.plugin.c_str(),
              dir.file("script.txt").c_str(), static_cast<char*>(nullptr));
        _exit(127);
      }
      for (int i = 0; i < 400 && dir.read("transcript.txt").find(c.begun) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const auto sent = std::chrono::steady_clock::now();
      kill(pid, sig);
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent).count();
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
      EXPECT_LT(ms, 5000) << "the long step was not cut short: " << c.script;
      const std::string out = dir.read("transcript.txt");
      EXPECT_NE(out.find(c.begun), std::string::npos) << out;
      EXPECT_NE(out.find(sig == SIGINT ? "stopped by SIGINT" : "stopped by SIGTERM"), std::string::npos) << out;
      EXPECT_NE(out.find("dispatcher effClose(1) -> "), std::string::npos) << out;
      EXPECT_NE(out.find(" (stopped)"), std::string::npos) << out;
      EXPECT_EQ(out.find("pump 100000"), std::string::npos) << out;
      EXPECT_EQ(out.find("not reached"), std::string::npos) << out;
    }
  }
}
