#include "platform/bundle/bundle.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace platform {

namespace {

const char kBundleSuffix[] = ".vst";

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::string bundlePathFor(const void* addressInLibrary) {
  Dl_info info{};
  if (!addressInLibrary || dladdr(addressInLibrary, &info) == 0 || !info.dli_fname) return {};
  char* real = realpath(info.dli_fname, nullptr);
  std::string library = real ? real : info.dli_fname;
  free(real);
  // <bundle>.vst/Contents/Linux/<name>.so
  const std::string linuxDir = folderOf(library);
  const std::string contents = folderOf(linuxDir);
  const std::string bundle = folderOf(contents);
  if (!endsWith(linuxDir, "/Linux") || !endsWith(contents, "/Contents") || !endsWith(bundle, kBundleSuffix)) return {};
  return bundle;
}

std::string resourcesPathFor(const void* addressInLibrary) {
  const std::string bundle = bundlePathFor(addressInLibrary);
  return bundle.empty() ? std::string() : bundle + "/Contents/Resources/";
}

std::string dataRoot() {
  std::string root;
  if (const char* v = getenv("VEXMIR_ROOT"); v && *v) {
    root = v;
  } else if (const char* x = getenv("XDG_DATA_HOME"); x && *x) {
    root = std::string(x) + "/vexmir";
  } else {
    const char* home = getenv("HOME");
    root = std::string(home && *home ? home : "/tmp") + "/.local/share/vexmir";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string resolveDataPath(const std::string& absolutePath) {
  if (absolutePath.empty() || absolutePath[0] != '/') return absolutePath;
  return dataRoot() + absolutePath;
}

bool makeFolders(const std::string& path) {
  if (path.empty()) return false;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int openDataFile(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool readDataFile(const std::string& path, std::string* bytes, size_t limit) {
  bytes->clear();
  const int fd = openDataFile(path, O_RDONLY);
  if (fd < 0) return false;
  char buf[4096];
  bool ok = true;
  while (bytes->size() < limit) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    bytes->append(buf, std::min(static_cast<size_t>(n), limit - bytes->size()));
  }
  ::close(fd);
  return ok;
}

bool rewriteDataFile(const std::string& path, const std::string& bytes) {
  const int fd = openDataFile(path, O_WRONLY | O_TRUNC);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0 && done == bytes.size();
}

}  // namespace platform
