// Window extras: mouse events for windows that claim a point as non-client area, the raise amount and level of
// top-level windows, opacity, transparency and shadow, the default button, the represented document, and the
// hiding of the menu bar and the Dock.
#include <cmath>
#include "KIT/shim/shim-ctlclasses.h"

#include "platform/cocoa/appstate.h"
#include "platform/cocoa/carbon.h"

namespace {

cocoa::Window* windowOf(HWND h) {
  if (!h) return nullptr;
  if (auto* w = h->as<cocoa::Window>()) return w;
  auto* v = h->as<cocoa::View>();
  return v ? v->window() : nullptr;
}

Shim_vVexmir_windowbase* raisableWindowOf(HWND h) {
  if (!h) return nullptr;
  if (auto* w = h->as<Shim_vVexmir_modelesswindow>()) return w;
  auto* v = h->as<cocoa::View>();
  return v && v->window() ? v->window()->as<Shim_vVexmir_modelesswindow>() : nullptr;
}

cocoa::Button* defaultButtonIn(cocoa::View* v) {
  if (!v) return nullptr;
  if (auto* b = v->as<cocoa::Button>()) {
    if (b->isDefaultButton) return b;
  }
  for (cocoa::View* s : v->subviews()) {
    if (cocoa::Button* b = defaultButtonIn(s)) return b;
  }
  return nullptr;
}

signed char g_presentationChecked = 0;  // 0 not yet, 1 available, -1 not available
unsigned g_defaultPresentation = 0;

}  // namespace

bool SHIM_HandleMouseEvent(cocoa::Event* event) {
  if (!event || GetCapture() || event->type < cocoa::kLeftMouseDown || event->type > cocoa::kRightMouseDragged) {
    return false;
  }
  cocoa::Window* w = event->window;
  cocoa::View* content = w ? w->contentView() : nullptr;
  if (!content) return false;
  cocoa::View* hit = content->hitTest(event->locationInWindow);
  if (!hit) return false;
  const cocoa::Point screen = w->convertBaseToScreen(event->locationInWindow);
  const LPARAM where = SHIM_PointParam(platform::intCoord(std::floor(screen.x)), platform::intCoord(std::floor(screen.y)));
  cocoa::View* chosen = nullptr;
  for (cocoa::View* v = hit; v; v = v->superview()) {
    if (auto* r = v->as<SHIM_MessageReceiver>()) {
      if (r->onShimMessage(WM_NCHITTEST, 0, where) > 1) chosen = v;
    }
    if (v == content) break;
  }
  if (!chosen) return false;
  switch (event->type) {
    case cocoa::kLeftMouseDown:
      chosen->mouseDown(event);
      break;
    case cocoa::kLeftMouseUp:
      chosen->mouseUp(event);
      break;
    case cocoa::kRightMouseDown:
      chosen->rightMouseDown(event);
      break;
    case cocoa::kRightMouseUp:
      chosen->rightMouseUp(event);
      break;
    case cocoa::kMouseMoved:
      chosen->mouseMoved(event);
      break;
    case cocoa::kLeftMouseDragged:
      chosen->mouseDragged(event);
      break;
    default:
      chosen->rightMouseDragged(event);
      break;
  }
  return true;
}

int SHIM_GetWindowWantRaiseAmt(HWND h) {
  Shim_vVexmir_windowbase* w = raisableWindowOf(h);
  return w ? w->m_wantraiseamt : 0;
}

void SHIM_SetWindowWantRaiseAmt(HWND h, int amount) {
  Shim_vVexmir_windowbase* w = raisableWindowOf(h);
  if (!w) return;
  const int old = w->m_wantraiseamt;
  w->m_wantraiseamt = amount;
  if (old != amount && cocoa::application::isActive()) w->setLevel(w->level() + (amount - old));
}

int SHIM_SetWindowLevel(HWND h, int level) {
  cocoa::Window* w = windowOf(h);
  if (!w) return 0;
  const int previous = w->level();
  w->setLevel(level);
  return previous;
}

void SetOpaque(HWND h, bool opaque) {
  if (auto* v = h ? h->as<Shim_vVexmir_hwnd>() : nullptr) v->setOpaque(opaque);
}

void SetTransparent(HWND h) {
  if (cocoa::Window* w = windowOf(h)) {
    w->clearBackground = true;
    w->isOpaque = false;
  }
}

void SHIM_SetWindowShadow(HWND h, bool shadow) {
  if (cocoa::Window* w = windowOf(h)) w->hasShadow = shadow;
}

int SHIM_GetDefaultButtonID(HWND h, bool onlyIfEnabled) {
  auto* v = h ? h->as<cocoa::View>() : nullptr;
  cocoa::Window* w = v ? v->window() : nullptr;
  cocoa::Button* b = w ? defaultButtonIn(w->contentView()) : nullptr;
  if (!b) return 0;
  const int id = b->tag();
  if (id != 0 && onlyIfEnabled && !b->isEnabled()) return 0;
  return id;
}

void SHIM_SetWindowRepre(HWND h, const char* filename, bool isDirty) {
  cocoa::Window* w = windowOf(h);
  if (!w) return;
  if (auto* content = w->contentView() ? w->contentView()->as<Shim_vVexmir_hwnd>() : nullptr) {
    if (content->shimGetProp("SHIM_DisableWindowRepre", false)) return;
  }
  w->documentEdited = isDirty;
  w->representedFilename = filename ? filename : "";
}

bool SHIM_SetAppAutoHideMenuAndDock(int mode) {
  if (g_presentationChecked == 0) {
    g_presentationChecked = -1;
    carbon::SInt32 version = 0x1040;
    carbon::Gestalt(carbon::gestaltSystemVersion, &version);
    if (version >= 0x1060) {
      g_presentationChecked = 1;
      g_defaultPresentation = cocoa::application::presentationOptions();
    }
  }
  if (g_presentationChecked < 0) return false;
  cocoa::application::setPresentationOptions(mode < 1 ? g_defaultPresentation : (mode == 1 ? 5u : 6u));
  return true;
}
