// The workspace: files and addresses opened, recorded for tests and, on a desktop, handed to its opener.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/cocoa/panels.h"

extern char** environ;

namespace cocoa {

namespace {

std::mutex g_mutex;
std::vector<std::string>& opened() {
  static auto* v = new std::vector<std::string>;
  return *v;
}
bool g_openSucceeds = true;
bool g_onDesktop = false;

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

// A shell starts the opener in the background and ends at once, so that the opener outlives nothing of the
// plug-in and leaves no child behind for the host; its output goes nowhere. False when the system has no opener
// on its PATH or it could not be started.
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

// The path a file URL names (its escapes undone).
std::string filePath(const std::string& url) {
  std::string path;
  for (size_t i = 7; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size()) {
      path += static_cast<char>(std::strtol(url.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      path += url[i];
    }
  }
  return path;
}

// Recorded; answered by the desktop's opener or by the script.
bool open(const std::string& record, const std::string& target) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    opened().push_back(record);
    if (!g_onDesktop) return g_openSucceeds;
  }
  return openWithDesktop(target);
}

}  // namespace

namespace workspace {
bool openURL(URL* url) {
  if (!url) return false;
  const std::string& text = url->absoluteString();
  return open(text, url->isFileURL() ? filePath(text) : text);
}
bool openFile(const std::string& path, const std::string& application) {
  return open("file:" + path + (application.empty() ? "" : " with:" + application), path);
}
bool launchApplication(const std::string& application) {
  std::lock_guard<std::mutex> lock(g_mutex);
  opened().push_back("launch:" + application);
  return g_openSucceeds;
}
void setOpenSucceeds(bool succeeds) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_openSucceeds = succeeds;
}
void setOpensOnDesktop(bool onDesktop) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_onDesktop = onDesktop;
}
std::vector<std::string> openedURLs() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return opened();
}
void clearOpened() {
  std::lock_guard<std::mutex> lock(g_mutex);
  opened().clear();
}
}  // namespace workspace

}  // namespace cocoa
