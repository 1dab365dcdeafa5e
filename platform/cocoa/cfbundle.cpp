#include "platform/cocoa/cfbundle.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

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

namespace cocoa {

namespace {

std::mutex g_idMutex;
std::map<std::string, std::string>& registeredIds() {  // identifier -> bundle path
  static auto* m = new std::map<std::string, std::string>;
  return *m;
}
std::map<std::string, Bundle*>& bundlesById() {  // kept for the process
  static auto* m = new std::map<std::string, Bundle*>;
  return *m;
}

std::string plistIdentifier(const std::string& bundlePath) {
  std::ifstream in(bundlePath + "/Contents/Info.plist");
  if (!in) return "";
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
  const std::string key = "<key>CFBundleIdentifier</key>";
  size_t k = text.find(key);
  if (k == std::string::npos) return "";
  size_t a = text.find("<string>", k + key.size());
  if (a == std::string::npos) return "";
  a += 8;
  size_t b = text.find("</string>", a);
  return b == std::string::npos ? "" : text.substr(a, b - a);
}

int collectBundle(struct dl_phdr_info* info, size_t, void* data) {
  auto* out = static_cast<std::vector<std::string>*>(data);
  if (!info->dlpi_name || !*info->dlpi_name) return 0;
  std::string p = info->dlpi_name;
  const size_t slash = p.find_last_of('/');
  if (slash == std::string::npos) return 0;
  std::string dir = p.substr(0, slash);
  const std::string tail = "/Contents/Linux";
  if (dir.size() > tail.size() && dir.compare(dir.size() - tail.size(), tail.size(), tail) == 0)
    out->push_back(dir.substr(0, dir.size() - tail.size()));
  return 0;
}

std::string findIn(const std::string& dir, const std::string& file, int depth) {
  const std::string direct = dir + "/" + file;
  if (isFile(direct)) return direct;
  if (depth <= 0) return "";
  std::vector<std::string> subs;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      if (isDirectory(dir + "/" + n)) subs.push_back(n);
    }
    closedir(d);
  }
  std::sort(subs.begin(), subs.end());
  for (const auto& sdir : subs) {
    std::string found = findIn(dir + "/" + sdir, file, depth - 1);
    if (!found.empty()) return found;
  }
  return "";
}

}  // namespace

void Bundle::registerIdentifier(const std::string& identifier, const std::string& path) {
  std::lock_guard<std::mutex> lock(g_idMutex);
  registeredIds()[identifier] = path;
  bundlesById().erase(identifier);
}

Bundle* Bundle::withIdentifier(const std::string& identifier) {
  if (identifier.empty()) return nullptr;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(g_idMutex);
    auto known = bundlesById().find(identifier);
    if (known != bundlesById().end()) return known->second;
    auto it = registeredIds().find(identifier);
    if (it != registeredIds().end()) path = it->second;
  }
  if (path.empty()) {
    std::vector<std::string> candidates;
    dl_iterate_phdr(collectBundle, &candidates);
    for (const auto& c : candidates) {
      if (plistIdentifier(c) == identifier) {
        path = c;
        break;
      }
    }
  }
  if (path.empty()) return nullptr;
  Bundle* b = create(path);
  if (!b) return nullptr;
  std::lock_guard<std::mutex> lock(g_idMutex);
  auto& m = bundlesById();
  auto known = m.find(identifier);
  if (known != m.end()) {
    b->release();
    return known->second;
  }
  m[identifier] = b;
  return b;
}

std::string Bundle::identifier() const {
  return plistIdentifier(path_);
}

std::string Bundle::pathForResource(const std::string& name, const std::string& type) const {
  if (name.empty()) return "";
  const std::string file = type.empty() ? name : name + "." + type;
  return findIn(path_ + "/Contents/Resources", file, 4);
}

}  // namespace cocoa
