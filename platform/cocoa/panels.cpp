#include "platform/cocoa/panels.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>

namespace cocoa {

namespace {

std::mutex g_mutex;

struct PanelAnswer {
  bool ok;
  std::string path;
  std::vector<std::string> paths;
};
std::deque<PanelAnswer>& panelScript() {
  static auto* q = new std::deque<PanelAnswer>;
  return *q;
}
std::vector<ShownPanel>& panelsShown() {
  static auto* v = new std::vector<ShownPanel>;
  return *v;
}
std::deque<int>& alertScript() {
  static auto* q = new std::deque<int>;
  return *q;
}
std::vector<ShownAlert>& alertsShown() {
  static auto* v = new std::vector<ShownAlert>;
  return *v;
}
std::function<panels::Answer(const ShownPanel&)>& panelRunner() {
  static auto* f = new std::function<panels::Answer(const ShownPanel&)>;
  return *f;
}
std::function<int(const ShownAlert&)>& alertRunner() {
  static auto* f = new std::function<int(const ShownAlert&)>;
  return *f;
}

std::string lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

std::string lastComponent(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A scripted answer the panel could not give: an open panel's file of a type it does not offer.
std::string refusedChoice(const ShownPanel& s, const std::vector<std::string>& paths) {
  if (!s.open) return std::string();
  for (const std::string& path : paths)
    if (!panels::isFolder(path) && !panels::offersFile(s.types, lastComponent(path))) return path;
  return std::string();
}

}  // namespace

SavePanel::~SavePanel() {
  releaseObject(accessory_);
}

void SavePanel::setAccessoryView(Object* view) {
  if (view) view->retain();
  releaseObject(accessory_);
  accessory_ = view;
}

int SavePanel::runModal(const std::string& directory, const std::string& fileName) {
  ShownPanel s;
  s.title = title;
  s.hasAccessory = accessory_ != nullptr;
  s.canCreateDirectories = canCreateDirectories;
  s.open = isOpenPanel();
  s.directory = directory;
  s.fileName = fileName;
  s.types = allowedFileTypes;
  s.allowsOtherTypes = allowsOtherFileTypes;
  if (auto* o = dynamic_cast<OpenPanel*>(this)) {
    s.canChooseFiles = o->canChooseFiles;
    s.canChooseDirectories = o->canChooseDirectories;
    s.resolvesAliases = o->resolvesAliases;
    s.allowsMultipleSelection = o->allowsMultipleSelection;
  }
  s.folder = panels::startFolder(directory);
  for (const PanelRow& row : panels::listFolder(s, s.folder)) s.rows.push_back(row.name);
  PanelAnswer a{false, "", {}};
  std::function<panels::Answer(const ShownPanel&)> runner;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!panelScript().empty()) {
      a = panelScript().front();
      panelScript().pop_front();
      if (a.ok) s.refused = refusedChoice(s, a.paths.empty() ? std::vector<std::string>{a.path} : a.paths);
      if (!s.refused.empty()) a = {false, "", {}};
    } else {
      runner = panelRunner();
    }
    panelsShown().push_back(s);
  }
  if (runner) {
    const panels::Answer shown = runner(s);
    a = {shown.ok && !shown.paths.empty(), shown.paths.empty() ? std::string() : shown.paths[0], shown.paths};
  }
  url_ = a.ok ? a.path : std::string();
  urls_.clear();
  if (a.ok) urls_ = a.paths.empty() ? std::vector<std::string>{a.path} : a.paths;
  return a.ok ? kModalResponseOK : kModalResponseCancel;
}

namespace panels {
void scriptChoice(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  panelScript().push_back({true, path, {}});
}
void scriptChoices(const std::vector<std::string>& paths) {
  std::lock_guard<std::mutex> lock(g_mutex);
  panelScript().push_back({true, paths.empty() ? std::string() : paths[0], paths});
}
void scriptCancel() {
  std::lock_guard<std::mutex> lock(g_mutex);
  panelScript().push_back({false, "", {}});
}
void clearScript() {
  std::lock_guard<std::mutex> lock(g_mutex);
  panelScript().clear();
}
void setRunner(std::function<Answer(const ShownPanel&)> runner) {
  std::lock_guard<std::mutex> lock(g_mutex);
  panelRunner() = std::move(runner);
}
std::vector<ShownPanel> shownPanels() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return panelsShown();
}
void clearShown() {
  std::lock_guard<std::mutex> lock(g_mutex);
  panelsShown().clear();
}

bool isFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string parentOf(const std::string& folder) {
  const size_t slash = folder.find_last_of('/');
  return slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
}

bool offersFile(const std::vector<std::string>& types, const std::string& name) {
  bool any = false;
  const size_t dot = name.rfind('.');
  const std::string extension = dot == std::string::npos || dot == 0 ? std::string() : lower(name.substr(dot + 1));
  for (std::string t : types) {
    if (!t.empty() && t[0] == '.') t.erase(0, 1);
    if (t.empty()) continue;
    any = true;
    if (!extension.empty() && lower(t) == extension) return true;
  }
  return !any;
}

bool namesInOrder(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      while (i < a.size() && a[i] == '0') ++i;
      while (j < b.size() && b[j] == '0') ++j;
      size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      if (ei - i != ej - j) return ei - i < ej - j;
      if (const int c = a.compare(i, ei - i, b, j, ej - j)) return c < 0;
      i = ei;
      j = ej;
      continue;
    }
    const int ca = std::tolower(static_cast<unsigned char>(a[i])), cb = std::tolower(static_cast<unsigned char>(b[j]));
    if (ca != cb) return ca < cb;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  return a < b;
}

std::string resolvedPath(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().string();
}

std::string startFolder(const std::string& directory) {
  const char* home = std::getenv("HOME");
  std::string f = directory;
  if (f.empty() || f[0] != '/') {
    const bool tilde = !f.empty() && f[0] == '~' && (f.size() == 1 || f[1] == '/');
    f = std::string(home && *home == '/' ? home : "/") + (tilde ? f.substr(1) : f.empty() ? "" : "/" + f);
  }
  f = resolvedPath(f);
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  while (f != "/" && !isFolder(f)) f = parentOf(f);
  return f;
}

std::vector<PanelRow> listFolder(const ShownPanel& panel, const std::string& folder, std::string* error) {
  std::vector<PanelRow> rows;
  if (error) error->clear();
  if (folder != "/") rows.push_back({"..", true});
  std::vector<PanelRow> found;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* de = readdir(d)) {
      const std::string n = de->d_name;
      if (n.empty() || n[0] == '.') continue;
      struct stat st;
      if (stat((folder == "/" ? "/" + n : folder + "/" + n).c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode))
        found.push_back({n, true});
      else if (S_ISREG(st.st_mode) && (panel.canChooseFiles || !panel.open) && offersFile(panel.types, n))
        found.push_back({n, false});
    }
    closedir(d);
  } else if (error) {
    *error = std::string("This folder cannot be read: ") + std::strerror(errno);
  }
  std::sort(found.begin(), found.end(), [](const PanelRow& a, const PanelRow& b) {
    return a.folder != b.folder ? a.folder : namesInOrder(a.name, b.name);
  });
  rows.insert(rows.end(), found.begin(), found.end());
  return rows;
}
}  // namespace panels

int userNotificationDisplayAlert(double timeout, int level, const char* header, const char* message,
                                 const char* defaultButton, const char* alternateButton, const char* otherButton,
                                 unsigned long* response) {
  ShownAlert s;
  s.header = header ? header : "";
  s.message = message ? message : "";
  s.defaultButton = defaultButton ? defaultButton : "";
  s.alternateButton = alternateButton ? alternateButton : "";
  s.otherButton = otherButton ? otherButton : "";
  s.level = level;
  s.timeout = timeout;
  // An alert that nothing scripted and no runner shows was seen by nobody: it ends unanswered.
  int r = kAlertCancelResponse;
  std::function<int(const ShownAlert&)> runner;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    alertsShown().push_back(s);
    if (!alertScript().empty()) {
      r = alertScript().front();
      alertScript().pop_front();
    } else {
      runner = alertRunner();
    }
  }
  if (runner) r = runner(s);
  // A button that the alert does not have was pressed by nobody: no answer, never the default button's.
  if ((r == kAlertAlternateResponse && s.alternateButton.empty()) ||
      (r == kAlertOtherResponse && s.otherButton.empty()))
    r = kAlertCancelResponse;
  if (response) *response = static_cast<unsigned long>(r);
  return 0;
}

int runAlertPanel(const std::string& title, const std::string& message, const std::string& defaultButton,
                  const std::string& alternateButton, const std::string& otherButton) {
  unsigned long response = 0;
  userNotificationDisplayAlert(0, 0, title.c_str(), message.c_str(), defaultButton.c_str(), alternateButton.c_str(),
                               otherButton.c_str(), &response);
  switch (response) {
    case kAlertDefaultResponse:
      return 1;
    case kAlertAlternateResponse:
      return 0;
    case kAlertOtherResponse:
      return -1;
    default:
      return kAlertPanelUnanswered;
  }
}

namespace alerts {
void scriptResponse(int response) {
  std::lock_guard<std::mutex> lock(g_mutex);
  alertScript().push_back(response);
}
void clearScript() {
  std::lock_guard<std::mutex> lock(g_mutex);
  alertScript().clear();
}
void setRunner(std::function<int(const ShownAlert&)> runner) {
  std::lock_guard<std::mutex> lock(g_mutex);
  alertRunner() = std::move(runner);
}
std::vector<ShownAlert> shownAlerts() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return alertsShown();
}
void clearShown() {
  std::lock_guard<std::mutex> lock(g_mutex);
  alertsShown().clear();
}
}  // namespace alerts

URL* URL::withString(const std::string& text) {
  if (text.empty()) return nullptr;
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`' || c == '{' ||
        c == '|' || c == '}')
      return nullptr;
  }
  return new URL(text, text.compare(0, 7, "file://") == 0);
}

URL* URL::fileURLWithPath(const std::string& path) {
  if (path.empty()) return nullptr;
  std::string t = "file://";
  for (unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7F || c == '%' || c == '"' || c == '<' || c == '>' || c == '#' || c == '?') {
      static const char* hex = "0123456789ABCDEF";
      t += '%';
      t += hex[c >> 4];
      t += hex[c & 15];
    } else {
      t += static_cast<char>(c);
    }
  }
  return new URL(t, true);
}

}  // namespace cocoa
