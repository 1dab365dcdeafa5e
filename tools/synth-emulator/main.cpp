// synth-emulator: a model of the synthesizer on JACK MIDI for tests and demonstrations. See README.md.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "tools/synth-emulator/CommandServer.h"
#include "tools/synth-emulator/Emulator.h"

namespace {

const char* kUsage =
    "usage: synth-emulator [options]\n"
    "  --name NAME        JACK client name; the ports are \"NAME:MIDI In\" and \"NAME:MIDI Out\"\n"
    "                     (default \"Vexmir Synth Emulator\")\n"
    "  --socket PATH      listen for commands on this Unix domain socket\n"
    "  --stdin            read commands from standard input (the default without --socket)\n"
    "  --channel N        global MIDI channel 0-15 at start (default 0)\n"
    "  --bank FILE        the 128 programs at start: a 128-program dump, an all-data dump or 128 program dumps\n"
    "  --log-file FILE    also append every log line to FILE\n"
    "  --background       detach once ready (JACK ports and socket up); needs --socket\n"
    "  --pid-file FILE    write the process id to FILE once ready\n"
    "  --exit-with PID    quit as a signal would make it when process PID has ended (a test that started it\n"
    "                     and died cannot leave it running)\n"
    "  --help             this text\n";

// Set by the signal handler, read by the watch thread: a lock-free atomic is both signal-safe and a
// cross-thread value (a volatile sig_atomic_t is only the former).
std::atomic<int> gSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
void onSignal(int sig) {
  gSignal.store(sig);
}

int fail(const std::string& message, int code) {
  std::fprintf(stderr, "synth-emulator: %s\n", message.c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  std::string name = "Vexmir Synth Emulator", socketPath, bankPath, logPath, pidPath;
  bool useStdin = false, background = false;
  int channel = 0;
  pid_t exitWith = 0;
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    bool okOpt = true;
    if (opt == "--help" || opt == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (opt == "--name") {
      okOpt = value(name);
    } else if (opt == "--socket") {
      okOpt = value(socketPath);
    } else if (opt == "--stdin") {
      useStdin = true;
    } else if (opt == "--bank") {
      okOpt = value(bankPath);
    } else if (opt == "--log-file") {
      okOpt = value(logPath);
    } else if (opt == "--pid-file") {
      okOpt = value(pidPath);
    } else if (opt == "--background") {
      background = true;
    } else if (opt == "--exit-with") {
      okOpt = value(v);
      char* end = nullptr;
      long p = okOpt ? std::strtol(v.c_str(), &end, 10) : 0;
      if (!okOpt || v.empty() || *end || p <= 0) {
        std::fprintf(stderr, "synth-emulator: --exit-with needs a process id\n%s", kUsage);
        return 2;
      }
      exitWith = static_cast<pid_t>(p);
    } else if (opt == "--channel") {
      okOpt = value(v);
      char* end = nullptr;
      long c = okOpt ? std::strtol(v.c_str(), &end, 10) : -1;
      if (!okOpt || v.empty() || *end || c < 0 || c > 15) {
        std::fprintf(stderr, "synth-emulator: --channel needs a number from 0 to 15\n%s", kUsage);
        return 2;
      }
      channel = static_cast<int>(c);
    } else {
      std::fprintf(stderr, "synth-emulator: unknown option \"%s\"\n%s", opt.c_str(), kUsage);
      return 2;
    }
    if (!okOpt) {
      std::fprintf(stderr, "synth-emulator: option %s needs a value\n%s", opt.c_str(), kUsage);
      return 2;
    }
  }
  if (name.empty()) return fail("--name must not be empty", 2);
  if (background && socketPath.empty()) return fail("--background needs --socket", 2);
  if (background && useStdin) return fail("--background and --stdin exclude each other", 2);
  if (socketPath.empty()) useStdin = true;

  // In the background the parent waits for the child's word that it is ready, so that a caller can use the
  // ports and the socket as soon as the parent has exited.
  int readyPipe[2] = {-1, -1};
  if (background) {
    if (::pipe(readyPipe) != 0) return fail("cannot create a pipe", 1);
    pid_t child = ::fork();
    if (child < 0) return fail("cannot fork", 1);
    if (child > 0) {
      ::close(readyPipe[1]);
      std::string message;
      char buf[512];
      ssize_t n;
      while ((n = ::read(readyPipe[0], buf, sizeof buf)) > 0) message.append(buf, static_cast<size_t>(n));
      if (message.rfind("ready", 0) == 0) return 0;
      int status = 0;
      ::waitpid(child, &status, 0);
      std::fprintf(stderr, "%s", message.empty() ? "synth-emulator: failed to start\n" : message.c_str());
      return 1;
    }
    ::close(readyPipe[0]);
    ::setsid();
    int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
      // Errors go back through the pipe; after that there is no one to read standard error.
      ::dup2(devnull, 2);
      if (devnull > 2) ::close(devnull);
    }
  }
  auto startFailed = [&](const std::string& message, int code) {
    if (readyPipe[1] >= 0) {
      std::string line = "synth-emulator: " + message + "\n";
      ssize_t ignored = ::write(readyPipe[1], line.data(), line.size());
      (void)ignored;
    }
    return fail(message, code);
  };

  synthemu::MessageLog log;
  std::string error;
  if (!logPath.empty() && !log.openFile(logPath, &error)) return startFailed(error, 2);
  synthemu::Emulator emulator(log);
  if (!bankPath.empty()) {
    std::vector<synthemu::Program> programs;
    if (!synthemu::readBankFile(bankPath, programs, &error)) return startFailed(error, 2);
    emulator.model().setPowerOnPrograms(programs);
    emulator.model().reset();
  }
  emulator.model().setPowerOnChannel(channel);
  emulator.model().reset();

  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!emulator.start(name, &error)) return startFailed(error, 1);
  synthemu::CommandServer server(emulator);
  if (!socketPath.empty() && !server.listen(socketPath, &error)) {
    emulator.stop();
    return startFailed(error, 1);
  }
  if (!pidPath.empty()) {
    if (std::FILE* f = std::fopen(pidPath.c_str(), "w")) {
      std::fprintf(f, "%d\n", static_cast<int>(::getpid()));
      std::fclose(f);
    }
  }
  if (readyPipe[1] >= 0) {
    ssize_t ignored = ::write(readyPipe[1], "ready\n", 6);
    (void)ignored;
    ::close(readyPipe[1]);
  } else {
    std::fprintf(stderr, "synth-emulator: ports \"%s\" and \"%s\"%s%s\n", emulator.inPortName().c_str(),
                 emulator.outPortName().c_str(), socketPath.empty() ? "" : ", commands on ", socketPath.c_str());
  }

  std::thread stdinThread;
  if (useStdin) {
    stdinThread = std::thread([&] {
      synthemu::CommandServer::serveStream(emulator, 0, 1);
      // Without a socket, the end of standard input ends the emulator.
      if (socketPath.empty()) emulator.requestQuit();
    });
  }
  std::thread signalWatch([&] {
    while (!emulator.quitRequested()) {
      // kill(pid, 0) fails with ESRCH once the process is gone (a zombie still counts, so a parent that waits
      // for its children keeps its emulator until then).
      if (gSignal.load() || (exitWith > 0 && ::kill(exitWith, 0) != 0 && errno == ESRCH)) emulator.requestQuit();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  emulator.waitForQuit();
  emulator.requestQuit();
  bool lost = emulator.serverLost();
  signalWatch.join();
  log.wakeAll();
  server.stop();
  if (stdinThread.joinable()) stdinThread.join();
  emulator.stop();
  if (!pidPath.empty()) ::unlink(pidPath.c_str());
  if (lost) return fail("the JACK server has gone away", 1);
  return 0;
}
