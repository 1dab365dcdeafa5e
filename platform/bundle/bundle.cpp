#include "platform/bundle/bundle.h"

#include <dlfcn.h>
#include <sys/stat.h>

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

}  // namespace platform
