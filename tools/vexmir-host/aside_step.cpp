// aside PIPE STEP...: one step on a second thread of the host's, as a host calls the plug-in from another thread while
// its GUI thread is inside the editor (a menu, panel or alert standing during an `x11 input` step). The thread waits
// until a process has written the named pipe PIPE and closed it, runs the step, moves the model clock one tick on (time
// passes while a call runs: the editor's timer is due on its thread), then writes a line into PIPE for a process that
// waits for the call to end (`echo > PIPE; cat PIPE`). The script goes on at once.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/cocoa/runloop.h"
#include "tools/vexmir-host/script.h"

namespace vexhost {

void Session::endAsides() {
  asidesOver = true;
  for (std::thread& t : asides) t.join();
  asides.clear();
}

namespace {

// True once a writer has opened the pipe and gone; false when the script ended first.
bool heardFrom(const std::string& pipe, const std::atomic<bool>& over) {
  const int fd = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  bool gone = false;
  while (fd >= 0 && !gone && !over && !interrupted()) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buffer[256];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
    }
    gone = got == 0 || (errno != EAGAIN && errno != EINTR);
  }
  if (fd >= 0) ::close(fd);
  return gone;
}

// A line for the process that waits for the call's end, once it reads the pipe (or nothing once the script ended).
void tell(const std::string& pipe, const std::atomic<bool>& over) {
  while (!over && !interrupted()) {
    const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      const char line[] = "done\n";
      (void)!::write(fd, line, sizeof line - 1);
      ::close(fd);
      return;
    }
    if (errno != ENXIO) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

StepAction parseAside(const StepArgs& a, std::string* error) {
  const StepDef* def = a.words.size() >= 2 ? findStep(a.words[1]) : nullptr;
  if (!def || a.words[1] == "aside") {
    *error = "aside PIPE STEP [ARGS...] with a step of the script";
    return {};
  }
  StepArgs inner = a;
  inner.step = a.words[1];
  inner.words.assign(a.words.begin() + 2, a.words.end());
  StepAction action = def->parse(inner, error);
  if (!action) return {};
  const std::string pipe = a.words[0];
  return [pipe, action](Session& s, std::string*) {
    s.host.out().line("aside waits for " + quoted(pipe.c_str(), pipe.size() + 1));
    s.asides.emplace_back([&s, pipe, action] {
      if (!heardFrom(pipe, s.asidesOver)) {
        s.host.out().line("aside did not run: nothing wrote " + quoted(pipe.c_str(), pipe.size() + 1));
        return;
      }
      std::string why;
      if (!action(s, &why)) s.host.out().line("aside failed: " + why);
      if (cocoa::clockIsManual()) cocoa::advanceClock(0.04);
      tell(pipe, s.asidesOver);
    });
    return true;
  };
}

const StepRegistrar kAsideStep({"aside", "aside PIPE STEP [ARGS...]", parseAside});

}  // namespace

}  // namespace vexhost
