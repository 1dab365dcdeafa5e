// vexmir-host: a small VST 2 host for tests. Usage: vexmir-host [options] PLUGIN [SCRIPT | -]
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "tools/vexmir-host/script.h"
#include "tools/vexmir-host/vst2names.h"
#include "tools/vexmir-host/x11_host.h"

namespace {

// Exit codes, so that a test can tell a script fault from a plug-in that would not load.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitLoad = 3;
constexpr int kExitStep = 4;
constexpr int kExitWatchdog = 5;

void usage(FILE* to) {
  std::fprintf(
      to,
      "usage: vexmir-host [--product TEXT] [--rate HZ] [--block FRAMES] [--transcript FILE] PLUGIN [SCRIPT | -]\n"
      "       vexmir-host --steps      (list the script steps)\n"
      "       vexmir-host --x11-capture NAME FILE.png   (a top-level window named NAME... of $DISPLAY as a PNG)\n"
      "       vexmir-host --x11-close NAME   (asks that window to close, as a window manager does)\n"
      "PLUGIN is a VST 2 library or a .vst bundle; SCRIPT is a step file, - reads standard input.\n"
      "VEXMIR_HOST_WATCHDOG=SECONDS: a script still running after that long ends with a message and exit code 5.\n"
      "Without a script: open, info, close.\n");
}

// SIGINT or SIGTERM: the script stops before its next step and the plug-in is closed as at its end, so that the
// plug-in lets go of its MIDI ports (a JACK client that merely vanishes holds its server up for many seconds); the
// host then ends by the same signal, so that the shell that started it sees the interrupt. A second signal ends the
// host at once.
volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int sig) {
  if (stopSignal != 0) {
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  stopSignal = sig;
}

// The step the script is in, by its place in the watchdog's list, for the watchdog's message.
std::atomic<int> currentStep{-1};

// A host held past the seconds of VEXMIR_HOST_WATCHDOG (in a panel or alert of the plug-in that a test's input never
// answered, say) says which step it was in and which windows of the plug-in stood open, and ends with kExitWatchdog
// rather than hang its test until the test's own timeout. False, with the reason, on a value that is no count.
bool startWatchdog(const std::string& scriptName, const std::vector<vexhost::ScriptStep>& steps, std::string* why) {
  const char* value = std::getenv("VEXMIR_HOST_WATCHDOG");
  if (!value || !*value) return true;
  long long seconds = 0;
  if (!vexhost::parseInt(value, &seconds) || seconds < 1 || seconds > 86400) {
    *why = "VEXMIR_HOST_WATCHDOG needs a number of seconds from 1 to 86400";
    return false;
  }
  std::vector<std::string> places;
  for (const vexhost::ScriptStep& step : steps)
    places.push_back(scriptName + ":" + std::to_string(step.line) + " (" + step.text + ")");
  std::thread([seconds, places] {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const int at = currentStep.load();
    std::string text = "vexmir-host: watchdog: still running after " + std::to_string(seconds) + " s, in step " +
                       (at >= 0 && at < static_cast<int>(places.size()) ? places[at] : std::string("(none)"));
    const std::vector<std::string> open = vexhost::viewableWindowNames("Vexmir Editor ");
    text += open.empty() ? "; no window of the plug-in stands open" : "; waiting in:";
    for (const std::string& name : open) text += " \"" + name + "\"";
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    _exit(kExitWatchdog);
  }).detach();
  return true;
}

// Like a real host, close what was loaded, so that the plug-in's shutdown runs (and leak checks see it).
void closeIfOpen(vexhost::Host& host, vexhost::Session& session, vexhost::Transcript& transcript, const char* why) {
  session.endAsides();
  if (!host.loaded() || session.closed) return;
  const intptr_t r = host.dispatch(effClose, 0, 0, nullptr, 0.0f);
  session.closed = true;
  transcript.line("dispatcher " + vexhost::dispatcherLabel(effClose) + " -> " + std::to_string(r) + " (" + why + ")");
}

int run(int argc, char** argv) {
  std::string plugin, scriptPath, product, transcriptPath;
  double rate = 0;
  long long block = 0;
  bool haveProduct = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto needValue = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vexmir-host: %s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      usage(stdout);
      return kExitOk;
    } else if (a == "--steps") {
      for (const vexhost::StepDef* d : vexhost::allSteps()) std::printf("%s\n", d->usage);
      return kExitOk;
    } else if (a == "--x11-capture" && i + 2 < argc) {
      std::string why;
      if (vexhost::captureWindowNamed(argv[i + 1], argv[i + 2], &why)) return kExitOk;
      std::fprintf(stderr, "vexmir-host: %s\n", why.c_str());
      return kExitStep;
    } else if (a == "--x11-close" && i + 1 < argc) {
      std::string why;
      if (vexhost::closeWindowNamed(argv[i + 1], &why)) return kExitOk;
      std::fprintf(stderr, "vexmir-host: %s\n", why.c_str());
      return kExitStep;
    } else if (a == "--product") {
      const char* v = needValue("--product");
      if (!v) return kExitUsage;
      product = v;
      haveProduct = true;
    } else if (a == "--transcript") {
      const char* v = needValue("--transcript");
      if (!v) return kExitUsage;
      transcriptPath = v;
    } else if (a == "--rate") {
      const char* v = needValue("--rate");
      if (!v || !vexhost::parseFloat(v, &rate) || rate < 1000 || rate > 768000) {
        std::fprintf(stderr, "vexmir-host: --rate needs a sample rate from 1000 to 768000\n");
        return kExitUsage;
      }
    } else if (a == "--block") {
      const char* v = needValue("--block");
      if (!v || !vexhost::parseInt(v, &block) || block < 1 || block > 65536) {
        std::fprintf(stderr, "vexmir-host: --block needs a frame count from 1 to 65536\n");
        return kExitUsage;
      }
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "vexmir-host: unknown option %s\n", a.c_str());
      usage(stderr);
      return kExitUsage;
    } else if (plugin.empty()) {
      plugin = a;
    } else if (scriptPath.empty()) {
      scriptPath = a;
    } else {
      std::fprintf(stderr, "vexmir-host: too many arguments\n");
      usage(stderr);
      return kExitUsage;
    }
  }
  if (plugin.empty()) {
    usage(stderr);
    return kExitUsage;
  }

  std::string text, name;
  if (scriptPath.empty()) {
    text = "open\ninfo\nclose\n";
    name = "(default script)";
  } else if (scriptPath == "-") {
    std::ostringstream ss;
    ss << std::cin.rdbuf();
    text = ss.str();
    name = "(stdin)";
  } else {
    std::ifstream f(scriptPath, std::ios::binary);
    if (!f) {
      std::fprintf(stderr, "vexmir-host: cannot read script %s\n", scriptPath.c_str());
      return kExitUsage;
    }
    std::ostringstream ss;
    ss << f.rdbuf();
    text = ss.str();
    name = scriptPath;
  }

  std::vector<vexhost::ScriptStep> steps;
  std::string error;
  if (!vexhost::parseScript(text, name, &steps, &error)) {
    std::fprintf(stderr, "vexmir-host: %s\n", error.c_str());
    return kExitUsage;
  }

  // A transcript file keeps the plug-in's own chatter on standard output out of what tests compare.
  FILE* out = stdout;
  if (!transcriptPath.empty()) {
    out = std::fopen(transcriptPath.c_str(), "w");
    if (!out) {
      std::fprintf(stderr, "vexmir-host: cannot write transcript %s\n", transcriptPath.c_str());
      return kExitUsage;
    }
  }
  struct Closer {
    FILE* f;
    ~Closer() {
      if (f != stdout) std::fclose(f);
    }
  } closer{out};
  vexhost::Transcript transcript(out);
  vexhost::Host host(&transcript);
  if (haveProduct) host.identity.product = product;
  if (rate > 0) host.sampleRate = rate;
  if (block > 0) host.blockSize = static_cast<int>(block);
  vexhost::Session session(&host);
  session.pluginPath = plugin;

  // Loading first, so that a missing or broken plug-in is reported as such whatever the script starts with.
  if (!session.needPlugin(&error)) {
    transcript.flush();
    std::fprintf(stderr, "vexmir-host: %s\n", error.c_str());
    return kExitLoad;
  }
  struct sigaction stop {};
  stop.sa_handler = onStopSignal;
  sigemptyset(&stop.sa_mask);
  for (int sig : {SIGINT, SIGTERM}) {
    struct sigaction before {};
    // A signal its starter chose to ignore (a background job of a shell) stays ignored.
    if (sigaction(sig, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) sigaction(sig, &stop, nullptr);
  }
  if (!startWatchdog(name, steps, &error)) {
    std::fprintf(stderr, "vexmir-host: %s\n", error.c_str());
    return kExitUsage;
  }
  for (vexhost::ScriptStep& step : steps) {
    if (vexhost::interrupted()) break;
    currentStep = static_cast<int>(&step - steps.data());
    if (!vexhost::runStep(session, step, &error)) {
      transcript.line("error " + name + ":" + std::to_string(step.line) + ": " + error);
      std::fprintf(stderr, "vexmir-host: %s:%d: %s\n", name.c_str(), step.line, error.c_str());
      closeIfOpen(host, session, transcript, "after error");
      return kExitStep;
    }
  }
  if (const int sig = stopSignal) {
    transcript.line(std::string("stopped by ") + (sig == SIGINT ? "SIGINT" : "SIGTERM"));
    closeIfOpen(host, session, transcript, "stopped");
    transcript.flush();
    std::fflush(nullptr);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return 128 + sig;
  }
  closeIfOpen(host, session, transcript, "end of script");
  transcript.flush();
  return kExitOk;
}

}  // namespace

namespace vexhost {
bool interrupted() {
  return stopSignal != 0;
}
}  // namespace vexhost

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vexmir-host: internal error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "vexmir-host: internal error\n");
  }
  return 1;
}
