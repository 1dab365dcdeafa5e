#include "src/DesktopOpener.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace {

std::string findOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::string();
}

}  // namespace

// A shell starts the opener in the background and ends at once, so that the opener outlives nothing of the
// plug-in and leaves no child behind for the host; its output goes nowhere.
bool openWithDesktop(const std::string& target) {
  const std::string opener = findOnPath("xdg-open");
  if (opener.empty() || target.empty()) return false;
  const char* script = "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &";
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script),
                  const_cast<char*>(opener.c_str()), const_cast<char*>(target.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  pid_t ended;
  do {
    ended = ::waitpid(pid, &status, 0);
  } while (ended < 0 && errno == EINTR);
  // A host that ignores its children's ends reaps the shell itself: it was started.
  return ended < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
