// An Xvfb server of a test's own: it picks a free display number itself (-displayfd) and says which once it
// accepts clients, so nothing waits on a guess. Tests skip when Xvfb or xdotool is not installed.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace x11test {

inline bool haveProgram(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

class Xvfb {
 public:
  // A screen of the given size ("WIDTHxHEIGHTx24"). A server that `resets` starts anew whenever its last client
  // leaves, as an X server does by default; otherwise it keeps running as it is (-noreset).
  explicit Xvfb(const std::string& screen = "2048x1152x24", bool resets = false) {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    pid_ = fork();
    if (pid_ == 0) {
      // The server goes with the test, however the test ends.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      close(fds[0]);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
             resets ? static_cast<char*>(nullptr) : "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ < 0) pid_ = 0;
    close(fds[1]);
    // The server writes its display number when it is ready; end of file means it died.
    std::string number;
    char c;
    while (pid_ && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~Xvfb() {
    if (!pid_) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  // ":N", or "" when the server did not start.
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = 0;
  std::string display_;
};

}  // namespace x11test
