#include "platform/cocoa/cfbundle.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>

namespace cocoa {

namespace {

std::mutex g_mutex;
std::map<std::string, Bundle*>& bundles() {  // real path -> bundle, not retained
  static auto* m = new std::map<std::string, Bundle*>;
  return *m;
}
Bundle* g_main = nullptr;

bool isDirectory(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string realPath(const std::string& p) {
  char* r = realpath(p.c_str(), nullptr);
  std::string out = r ? r : p;
  free(r);
  return out;
}

}  // namespace

Bundle* Bundle::create(const std::string& path) {
  if (path.empty() || !isDirectory(path)) return nullptr;
  const std::string key = realPath(path);
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = bundles().find(key);
  if (it != bundles().end() && it->second->tryRetain()) return it->second;
  Bundle* b = new Bundle(key);
  bundles()[key] = b;
  return b;
}

Bundle::~Bundle() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = bundles().find(path_);
    if (it != bundles().end() && it->second == this) bundles().erase(it);
  }
  if (handle_) dlclose(handle_);
}

Bundle* Bundle::mainBundle() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_main) {
    // The running program's folder; when the program sits in "<bundle>/Contents/Linux/", the bundle itself.
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir = "/";
    if (n > 0) {
      exe[n] = 0;
      dir = exe;
      dir = dir.substr(0, dir.find_last_of('/'));
      const std::string tail = "/Contents/Linux";
      if (dir.size() > tail.size() && dir.compare(dir.size() - tail.size(), tail.size(), tail) == 0)
        dir = dir.substr(0, dir.size() - tail.size());
    }
    g_main = new Bundle(dir);
  }
  return g_main;
}

void Bundle::setMainBundlePath(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Bundle* old = g_main;
  g_main = new Bundle(path);
  (void)old;  // the old main bundle may still be referred to; it stays for the process
}

std::string Bundle::executablePath() const {
  const std::string linuxDir = path_ + "/Contents/Linux";
  std::string name = path_.substr(path_.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
  const std::string preferred = linuxDir + "/" + name + ".so";
  if (isFile(preferred)) return preferred;
  std::string only;
  int count = 0;
  if (DIR* d = opendir(linuxDir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string f = e->d_name;
      if (f.size() > 3 && f.compare(f.size() - 3, 3, ".so") == 0 && isFile(linuxDir + "/" + f)) {
        only = linuxDir + "/" + f;
        ++count;
      }
    }
    closedir(d);
  }
  return count == 1 ? only : std::string();
}

void* Bundle::functionPointerForName(const char* name) {
  if (!name) return nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!handle_) {
      const std::string exe = executablePath();
      if (exe.empty()) return nullptr;
      handle_ = dlopen(exe.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle_) return nullptr;
    }
  }
  return dlsym(handle_, name);
}

}  // namespace cocoa
