// X11 steps for an editor opened with `editor open x11`: real input injected into the server by xdotool while the
// host idles the editor, a screenshot of the host's window as the server shows it, and the server's resource counts.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/vst2/vst2.h"
#include "platform/x11/presenter.h"
#include "tools/vexmir-host/script.h"
#include "tools/vexmir-host/x11_host.h"

extern char** environ;

namespace vexhost {

namespace {

StepAction fail(std::string* error, const std::string& why) {
  *error = why;
  return {};
}

X11HostWindow* needX11Window(std::string* err) {
  X11HostWindow* w = currentX11HostWindow();
  if (!w) *err = "no editor is open in a host X11 window (editor open x11)";
  return w;
}

// Runs xdotool with the words (%HOST is the host window's id) and idles the editor until it is done, as a host's
// GUI thread would; then everything the server produced for the editor has been handled.
bool runXdotool(Session& s, const std::vector<std::string>& words, std::string* err) {
  X11HostWindow* w = needX11Window(err);
  if (!w) return false;
  std::vector<std::string> args{"xdotool"};
  for (std::string word : words) {
    for (size_t at; (at = word.find("%HOST")) != std::string::npos;) word.replace(at, 5, std::to_string(w->id()));
    args.push_back(word);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdotool", nullptr, nullptr, argv.data(), environ) != 0) {
    *err = "cannot run xdotool";
    return false;
  }
  int status = 0;
  // xdotool waits for windows it searches for; one that never comes must not hang the script. An armed watchdog
  // bounds it instead: a long script of xdotool steps on a loaded machine may rightly take longer than 30 s.
  const bool watched = std::getenv("VEXMIR_HOST_WATCHDOG") != nullptr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) {
      *err = "lost the xdotool process";
      return false;
    }
    if (!watched && std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      *err = "xdotool did not finish within 30 s (did a window it waits for never appear?)";
      return false;
    }
    if (!s.closed) s.host.dispatch(effEditIdle, 0, 0, nullptr, 0.0f);
    usleep(2000);
  }
  for (x11::Presenter* p : x11::Presenter::all()) p->sync();
  std::string line = "x11 input";
  for (size_t i = 1; i < args.size(); ++i) line += " " + words[i - 1];
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  s.host.out().line(line + " -> " + std::to_string(code));
  if (code != 0) {
    *err = code == 127 ? "xdotool is not installed" : "xdotool failed";
    return false;
  }
  return true;
}

StepAction parseX11(const StepArgs& a, std::string* error) {
  const char* usage =
      "x11 input XDOTOOL-WORDS... | x11 screenshot FILE.png | x11 destroy | x11 resources | x11 keys | x11 focus | "
      "x11 popup";
  if (a.words.empty()) return fail(error, usage);
  const std::string what = a.words[0];
  if (what == "input" && a.words.size() >= 2 && a.keys.empty()) {
    const std::vector<std::string> words(a.words.begin() + 1, a.words.end());
    return [words](Session& s, std::string* err) { return s.needPlugin(err) && runXdotool(s, words, err); };
  }
  if (what == "screenshot" && a.words.size() == 2 && a.keys.empty()) {
    const std::string file = a.words[1];
    return [file](Session& s, std::string* err) {
      X11HostWindow* w = needX11Window(err);
      if (!w) return false;
      w->sync();
      if (!w->screenshot(file, err)) return false;
      s.host.out().line("x11 screenshot " + quoted(file.c_str(), file.size() + 1) + " " + std::to_string(w->width()) +
                        "x" + std::to_string(w->height()));
      return true;
    };
  }
  if (what == "destroy" && a.words.size() == 1 && a.keys.empty()) {
    return [](Session& s, std::string* err) {
      X11HostWindow* w = needX11Window(err);
      if (!w) return false;
      w->destroyWindow();
      s.host.out().line("x11 destroy: the host window is gone");
      return true;
    };
  }
  if (what == "keys" && a.words.size() == 1 && a.keys.empty()) {
    return [](Session& s, std::string* err) {
      X11HostWindow* w = needX11Window(err);
      if (!w) return false;
      std::string line = "x11 host keys:";
      const std::vector<std::string> keys = w->takeKeys();
      for (size_t i = 0; i < keys.size(); ++i) line += (i ? ", " : " ") + keys[i];
      s.host.out().line(keys.empty() ? line + " none" : line);
      return true;
    };
  }
  if (what == "focus" && a.words.size() == 1 && a.keys.empty()) {
    return [](Session& s, std::string* err) {
      X11HostWindow* w = needX11Window(err);
      if (!w) return false;
      uint32_t editor = 0;
      for (x11::Presenter* p : x11::Presenter::all())
        if (p->parent() == w->id()) editor = p->window();
      s.host.out().line("x11 focus " + w->focusOwner(editor));
      return true;
    };
  }
  if (what == "popup" && a.words.size() == 1 && a.keys.empty()) {
    return [](Session& s, std::string* err) {
      X11HostWindow* w = needX11Window(err);
      if (!w) return false;
      w->popUpWithTheFocus();
      s.host.out().line("x11 popup: a window of the host took the keyboard with a grab");
      return true;
    };
  }
  if (what == "resources" && a.words.size() == 1 && a.keys.empty()) {
    return [](Session& s, std::string* err) {
      const std::string summary = x11ResourceSummary(err);
      if (summary.empty()) return false;
      s.host.out().line("x11 resources " + summary);
      return true;
    };
  }
  return fail(error, usage);
}

const StepRegistrar kX11Steps({"x11",
                               "x11 input XDOTOOL-WORDS... | x11 screenshot FILE.png | x11 destroy | x11 resources | "
                               "x11 keys | x11 focus | x11 popup",
                               parseX11});

}  // namespace

}  // namespace vexhost
