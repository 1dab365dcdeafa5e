#include "platform/cocoa/panels.h"

#include <deque>
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
  PanelAnswer a{false, "", {}};
  std::function<panels::Answer(const ShownPanel&)> runner;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    panelsShown().push_back(s);
    if (!panelScript().empty()) {
      a = panelScript().front();
      panelScript().pop_front();
    } else {
      runner = panelRunner();
    }
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
  int r = kAlertDefaultResponse;
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
  // A button that the alert does not have cannot be pressed: the person closes it the default way.
  if ((r == kAlertAlternateResponse && s.alternateButton.empty()) ||
      (r == kAlertOtherResponse && s.otherButton.empty()))
    r = kAlertDefaultResponse;
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
