// Standard file dialogs, the message box and shell opening.
#include "KIT/shim/shim-miscdlg.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KIT/kitstring.h"
#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim-menu.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/panels.h"
#include "platform/graphics/graphics.h"

namespace {

const char* g_tmplId = nullptr;
DLGPROC g_tmplProc = nullptr;
SHIM_DialogResourceIndex* g_tmplHead = nullptr;

// Pairs of description and patterns, ended by an empty string; a null list is an empty filter.
std::vector<std::string> extensionsFromList(const char* list) {
  std::vector<std::string> out;
  if (!list) return out;
  while (*list) {
    list += std::strlen(list) + 1;  // the description
    if (!*list) break;
    const char* p = list;
    while (*p) {
      const char* dot = std::strchr(p, '.');
      if (!dot) break;
      std::string ext;
      const char* q = dot + 1;
      while (*q && *q != ';' && ext.size() < 31) ext += *q++;
      while (*q && *q != ';') ++q;
      if (!ext.empty() && ext != "*") out.push_back(ext);
      p = *q ? q + 1 : q;
    }
    list += std::strlen(list) + 1;
  }
  return out;
}

void splitInitial(const char* initialDir, const char* initialFile, std::string* dir, std::string* file) {
  dir->clear();
  file->clear();
  if (initialFile && *initialFile) {
    std::string f(initialFile, std::min<size_t>(std::strlen(initialFile), 2047));
    const size_t slash = f.rfind('/');
    if (slash == std::string::npos) {
      *file = f;
    } else {
      *dir = slash == 0 ? "/" : f.substr(0, slash);
      *file = f.substr(slash + 1);
    }
  }
  if (dir->empty() && initialDir && *initialDir) *dir = initialDir;
}

// Runs a panel with the modal-window menu and the pending accessory dialog.
int runPanel(cocoa::SavePanel* panel, const std::string& dir, const std::string& file) {
  HWND accessory = nullptr;
  if (g_tmplId && g_tmplProc) {
    accessory = SHIM_CreateDialog(g_tmplHead, g_tmplId, panel, g_tmplProc, 0);
    g_tmplId = nullptr;
    g_tmplProc = nullptr;
    g_tmplHead = nullptr;
  }
  HMENU modalMenu = SHIM_DuplicateMenu(SHIM_GetDefaultModalWindowMenu());
  if (modalMenu) SHIM_SetCurrentMenu(modalMenu);
  const int r = panel->runModal(dir, file);
  if (HMENU m = GetMenu(GetFocus())) SHIM_SetCurrentMenu(m);
  if (modalMenu) DestroyMenu(modalMenu);
  if (accessory) SendMessage(accessory, WM_DESTROY, 0, 0);
  panel->setAccessoryView(nullptr);
  return r;
}

// The focus rectangle's content: opaque mid grey (its window is half transparent).
class Shim_vVexmir_drawfocusrectwnd : public cocoa::View {
 public:
  explicit Shim_vVexmir_drawfocusrectwnd(cocoa::Rect r) : cocoa::View(r) {}
  bool isOpaque() const override { return true; }
  void drawRect(cocoa::Rect) override {
    platform::gfx::Context* ctx = cocoa::graphicsContext::currentPort();
    if (!ctx) return;
    ctx->setFillColor(platform::gfx::Color{0.5f, 0.5f, 0.5f, 1});
    const cocoa::Rect b = bounds();
    ctx->fillRect(platform::gfx::Rect{0, 0, static_cast<float>(b.w), static_cast<float>(b.h)});
  }
};

void closeFocusWindow(cocoa::Window* w) {
  if (cocoa::Window* p = w->parentWindow()) p->removeChildWindow(w);
  w->close();
  w->release();
}

}  // namespace

void SHIM_DrawFocusRect(HWND parent, const RECT* rect, void** handle) {
  if (!handle) return;
  auto* existing = *handle ? static_cast<cocoa::Object*>(*handle)->as<cocoa::Window>() : nullptr;
  if (!rect) {
    if (existing) closeFocusWindow(existing);
    *handle = nullptr;
    return;
  }
  POINT a{rect->left, rect->top}, b{rect->right, rect->bottom};
  if (parent) {
    ClientToScreen(parent, &a);
    ClientToScreen(parent, &b);
  }
  cocoa::Window* owner = nullptr;
  if (parent) {
    if (auto* w = parent->as<cocoa::Window>()) {
      owner = w;
    } else if (auto* v = parent->as<cocoa::View>()) {
      owner = v->window();
    } else {
      return;
    }
  }
  // The sides are taken in doubles: corners at the two ends of the int range are further apart than an int holds.
  const cocoa::Rect r{static_cast<double>(std::min(a.x, b.x)), static_cast<double>(std::min(a.y, b.y)),
                      std::abs(static_cast<double>(b.x) - a.x), std::abs(static_cast<double>(b.y) - a.y)};
  if (existing && existing->parentWindow() != owner) {
    closeFocusWindow(existing);
    existing = nullptr;
  }
  if (!existing) {
    existing = new cocoa::Window(r);
    existing->isOpaque = true;
    existing->alphaValue = 0.5;
    existing->ignoresMouseEvents = true;
    auto* content = new Shim_vVexmir_drawfocusrectwnd(cocoa::Rect{0, 0, r.w, r.h});
    existing->setContentView(content);
    content->release();
    if (owner) {
      owner->addChildWindow(existing);
    } else {
      existing->setLevel(101);  // the pop-up-menu level
    }
    existing->orderFront();
    *handle = existing;
  }
  existing->setFrame(r, false);
  if (cocoa::View* cv = existing->contentView()) cv->setNeedsDisplay(true);
  existing->displayIfNeeded();
}

void BrowseFile_SetTemplate(const char* dialogId, DLGPROC proc, SHIM_DialogResourceIndex* head) {
  g_tmplId = dialogId;
  g_tmplProc = proc;
  g_tmplHead = head;
}

bool BrowseForSaveFile(const char* title, const char* initialDir, const char* initialFile, const char* extensions,
                       char* out, int outSize) {
  auto* panel = new cocoa::SavePanel;
  panel->title = title ? title : "";
  panel->allowedFileTypes = extensionsFromList(extensions);
  std::string dir, file;
  splitInitial(initialDir, initialFile, &dir, &file);
  const int r = runPanel(panel, dir, file);
  std::string chosen = r == cocoa::kModalResponseOK ? panel->url() : std::string();
  panel->release();
  if (chosen.empty()) return false;
  if (out && outSize >= 1) lstrcpyn(out, chosen.c_str(), std::min(outSize, 2047));
  return true;
}

bool BrowseForDirectory(const char* title, const char* initialDir, char* out, int outSize) {
  auto* panel = new cocoa::OpenPanel;
  panel->title = title ? title : "";
  panel->canChooseFiles = false;
  panel->canChooseDirectories = true;
  panel->canCreateDirectories = true;
  panel->resolvesAliases = true;
  const int r = runPanel(panel, initialDir ? initialDir : "", "");
  const std::string chosen = r == cocoa::kModalResponseOK && !panel->urls().empty() ? panel->urls()[0] : "";
  panel->release();
  if (r != cocoa::kModalResponseOK) return false;
  // Sizes below 1 write nothing (the Part's outSize - 2 would run before the buffer).
  if (out && outSize >= 1) lstrcpyn(out, chosen.c_str(), outSize);
  return true;
}

char* BrowseForFiles(const char* title, const char* initialDir, const char* initialFile, bool multiple,
                     const char* extensions) {
  auto* panel = new cocoa::OpenPanel;
  panel->title = title ? title : "";
  panel->canChooseFiles = true;
  panel->canChooseDirectories = false;
  panel->allowsMultipleSelection = multiple;
  panel->allowedFileTypes = extensionsFromList(extensions);
  std::string dir, file;
  splitInitial(initialDir, initialFile, &dir, &file);
  const int r = runPanel(panel, dir, file);
  std::vector<std::string> files = r == cocoa::kModalResponseOK ? panel->urls() : std::vector<std::string>{};
  panel->release();
  if (files.empty() || files[0].empty()) return nullptr;
  std::string block;
  if (files.size() == 1 || !multiple) {
    block = files[0] + '\0' + '\0';
  } else {
    block += '\0';
    for (const std::string& f : files) block += f + '\0';
    block += '\0';
  }
  char* out = static_cast<char*>(std::malloc(block.size()));
  if (!out) return nullptr;
  std::memcpy(out, block.data(), block.size());
  return out;
}

// A question closed without an answer is never consent: it answers Cancel where there is one, else No; only a
// plain OK box answers OK whatever happened to it.
int MessageBox(HWND, const char* text, const char* caption, int type) {
  const std::string t = text ? text : "", c = caption ? caption : "";
  switch (type) {
    case MB_OK:
      cocoa::runAlertPanel(c, t, "OK", "", "");
      return IDOK;
    case MB_OKCANCEL:
      return cocoa::runAlertPanel(c, t, "OK", "Cancel", "") == 1 ? IDOK : IDCANCEL;
    case MB_YESNOCANCEL: {
      const int r = cocoa::runAlertPanel(c, t, "Yes", "Cancel", "No");
      return r == 1 ? IDYES : r == -1 ? IDNO : IDCANCEL;
    }
    case MB_YESNO:
      return cocoa::runAlertPanel(c, t, "Yes", "No", "") == 1 ? IDYES : IDNO;
    case MB_RETRYCANCEL:
      return cocoa::runAlertPanel(c, t, "Retry", "Cancel", "") == 1 ? IDRETRY : IDCANCEL;
    default:
      return 0;
  }
}

bool ShellExecute(HWND, const char*, const char* file, const char* parameters, const char*, int) {
  const std::string f = file ? file : "";
  // Web addresses, plain or secure, go to the browser.
  if (!strncasecmp(f.c_str(), "http://", 7) || !strncasecmp(f.c_str(), "https://", 8)) {
    cocoa::URL* url = cocoa::URL::withString(f);
    const bool ok = cocoa::workspace::openURL(url);
    if (url) url->release();
    return ok;
  }
  std::string app = f;
  if (!strcasecmp(app.c_str(), "explorer.exe")) app.clear();
  if (!strcasecmp(app.c_str(), "notepad.exe") || !strcasecmp(app.c_str(), "notepad")) app = "TextEdit.app";
  std::string params = parameters ? parameters : "";
  if (!strcasecmp(params.c_str(), "explorer.exe")) params.clear();
  if (!app.empty() && !params.empty()) return cocoa::workspace::openFile(params, app);
  const std::string one = !app.empty() ? app : params;
  if (one.empty()) return false;
  if (one.size() >= 5 && !strcasecmp(one.c_str() + one.size() - 4, ".app")) {
    return cocoa::workspace::launchApplication(one);
  }
  return cocoa::workspace::openFile(one);
}
