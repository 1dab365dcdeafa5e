// What the fault cases share beside the editor object on the emulator (tests/jobs/emulator_plug.h): a job held at
// one of its steps, and a synthesizer emulator and a JACK server of the test's own that the test may kill
// without disturbing the fixture's, which other tests use.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "KIT/IEffect/IParam.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchFile.h"
#include "src/PatchLibrarian.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/jobs/emulator_plug.h"
#include "tests/support/EmulatorClient.h"

namespace faults {

using vexmir::testsupport::Bytes;
using vexmir::testsupport::EmulatorClient;

using jobtest::DataRoot;
using jobtest::EmulatorPlug;

// VEXMIR_FAULTS_FULL=1 runs the fault cases in their full size.
inline bool fullSize() {
  const char* v = std::getenv("VEXMIR_FAULTS_FULL");
  return v && std::string(v) == "1";
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every parameter of the editor with a range outside it, as "index value".
inline std::vector<std::string> paramsOutOfRange(Vexmir& plug) {
  std::vector<std::string> bad;
  for (int i = 0; i < kNumParams; ++i) {
    IParam* p = plug.GetParam(i);
    if (!p || p->Type() == IParam::kTypeNone) continue;
    const double v = p->Value();
    if (!(v >= p->GetMin() && v <= p->GetMax())) bad.push_back(std::to_string(i) + " " + std::to_string(v));
  }
  return bad;
}

// Holds the running job on its own thread where it shows the status text `at`, until release(): a fault the test
// brings meanwhile meets the job at that step, however fast or slow the machine runs the job.
class JobHold {
 public:
  JobHold(EmulatorPlug& plug, const std::string& at) : plug(plug) {
    plug.setStatusHook([this, at](const std::string& text) {
      std::unique_lock<std::mutex> lock(mutex);
      if (text != at) return;
      reached = true;
      changed.notify_all();
      changed.wait(lock, [this] { return released; });
    });
  }
  ~JobHold() {
    release();
    plug.waitIdle();  // the job has left the hook
    plug.setStatusHook(nullptr);
  }
  // Waits until the job is held; false when it ended without getting there.
  bool held() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!reached && plug.getMidiManager()->isWorkerBusy(MidiWorker::kJobThread))
      changed.wait_for(lock, std::chrono::milliseconds(5));
    return reached;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    changed.notify_all();
  }

 private:
  EmulatorPlug& plug;
  std::mutex mutex;
  std::condition_variable changed;
  bool reached = false, released = false;
};

// The editor's program: the values of every sound parameter.
inline std::vector<double> programValues(Vexmir& plug) {
  std::vector<double> out;
  const std::vector<double> all = plug.currentValues();
  for (int i = 0; i < kNumParams && static_cast<size_t>(i) < all.size(); ++i)
    if (paramInfo(i).sound) out.push_back(all[static_cast<size_t>(i)]);
  return out;
}

// The open bank's programs as stored in the librarian.
inline std::vector<SysexBytes> librarianBank(EmulatorPlug& plug) {
  std::vector<SysexBytes> out;
  for (const LibrarianPatch& p : plug.openBank())
    out.push_back(p.messages.empty() ? SysexBytes() : p.messages.front().data);
  return out;
}

// A synthesizer emulator of the test's own on the fixture's JACK server (or the one JACK_DEFAULT_SERVER names),
// with its own client name and command socket.
class OwnEmulator {
 public:
  explicit OwnEmulator(const std::string& tag) {
    name = "Faults " + tag + " " + std::to_string(::getpid());
    const std::string base = "/tmp/vexmir-faults-" + tag + "-" + std::to_string(::getpid());
    socket = base + ".sock";
    pidFile = base + ".pid";
    std::filesystem::remove(socket);
    const char* build = std::getenv("VEXMIR_BUILD_DIR");
    const std::string exe = std::string(build ? build : ".") + "/tools/synth-emulator/synth-emulator";
    const std::string cmd = "'" + exe + "' --name '" + name + "' --socket '" + socket + "' --background --pid-file '" +
                            pidFile + "' --exit-with " + std::to_string(::getpid()) + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("the test's own emulator did not start");
    std::ifstream in(pidFile);
    in >> pid;
    client = std::make_unique<EmulatorClient>(socket);
  }
  ~OwnEmulator() { kill(); }
  std::string inPort() const { return name + ":MIDI In"; }
  std::string outPort() const { return name + ":MIDI Out"; }
  // Ends the emulator: its ports vanish at once. (A SIGKILL would leave its JACK client for the server to
  // drop after its time-out, which stalls the shared server for every other test meanwhile.)
  void kill() {
    client.reset();
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      for (int i = 0; i < 400 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      pid = -1;
    }
    std::error_code ec;
    std::filesystem::remove(socket, ec);
    std::filesystem::remove(pidFile, ec);
  }

  std::string name, socket, pidFile;
  pid_t pid = -1;
  std::unique_ptr<EmulatorClient> client;
};

inline std::string jackServerArgs() {
  const char* server = std::getenv("JACK_DEFAULT_SERVER");
  return server ? std::string(" -s '") + server + "'" : std::string();
}

// The ports `port` is connected to.
inline std::vector<std::string> peersOf(const std::string& port) {
  std::vector<std::string> peers;
  if (FILE* f = popen(("jack_lsp" + jackServerArgs() + " -c '" + port + "' 2>/dev/null").c_str(), "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
      std::string s(line);
      while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
      if (s.size() > 3 && s[0] == ' ') peers.push_back(s.substr(s.find_first_not_of(' ')));
    }
    pclose(f);
  }
  return peers;
}

// Cuts every JACK connection of `port` (as a pulled cable does); returns how many were cut.
inline int disconnectAll(const std::string& port) {
  int cut = 0;
  for (const std::string& peer : peersOf(port))
    if (std::system(
            ("jack_disconnect" + jackServerArgs() + " '" + port + "' '" + peer + "' >/dev/null 2>&1").c_str()) == 0)
      ++cut;
  return cut;
}

// A JACK server of the test's own, started and stopped by the fixture's scripts; the test's JACK clients use it.
class OwnJackServer {
 public:
  OwnJackServer() {
    name = "vexmir-faults-" + std::to_string(::getpid());
    char tmpl[] = "/tmp/vexmir-faults-jack-XXXXXX";
    state = mkdtemp(tmpl);
    const char* source = std::getenv("VEXMIR_SOURCE_DIR");
    scripts = std::string(source ? source : ".") + "/tests/fixtures/";
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    setenv("VEXMIR_MIDI_API", "jack", 1);
  }
  ~OwnJackServer() {
    stop();
    std::error_code ec;
    std::filesystem::remove_all(state, ec);
  }
  bool start() { return run("jack-start.sh '" + name + "' '" + state + "'"); }
  bool stop() { return run("jack-stop.sh '" + state + "'"); }
  // SIGSTOP: the server stops answering, its clients' calls wait; SIGCONT: it goes on.
  bool signal(int sig) {
    std::ifstream in(state + "/jackd.pid");
    pid_t pid = -1;
    return (in >> pid) && pid > 0 && ::kill(pid, sig) == 0;
  }
  // As a crash ends it: no client is told before its connection breaks.
  bool kill() {
    std::ifstream in(state + "/jackd.pid");
    pid_t pid = -1;
    if (!(in >> pid) || pid <= 0 || ::kill(pid, SIGKILL) != 0) return false;
    // Gone once it is no process or a zombie (its parent is not this test).
    auto running = [&] {
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
      return !all.empty() && all.find(") Z ") == std::string::npos;
    };
    while (running()) std::this_thread::yield();
    std::filesystem::remove(state + "/jackd.pid");
    return true;
  }

  std::string name, state, scripts;

 private:
  bool run(const std::string& args) {
    return std::system(("bash " + scripts + args + " >/dev/null 2>&1").c_str()) == 0;
  }
};

}  // namespace faults
