// Hosted views: Carbon windows kept over a window view, the Audio Unit view stand-in, drags of promised files and
// file lists, and OpenGL views.
#include "KIT/shim/shim-hosted.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KIT/shim/shim-ctlclasses.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/appstate.h"
#include "platform/cocoa/cfbundle.h"
#include "platform/cocoa/drag.h"
#include "platform/cocoa/image.h"
#include "platform/cocoa/opengl.h"
#include "platform/cocoa/panels.h"

using carbon::fourCC;

namespace {

constexpr carbon::OSStatus kNotHandled = carbon::eventNotHandledErr;

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void encodeUtf8(char32_t c, std::u32string& out) {
  out += c;
}

}  // namespace

// ---- Carbon windows ----

Shim_vVexmir_hwndcarbonhost* Shim_vVexmir_hwndcarbonhost::initCarbonChild(HWND parent, const carbon::Rect& rect,
                                                                          bool composited) {
  auto* host = new Shim_vVexmir_hwndcarbonhost(cocoa::Rect{0, 0, 300, 200});
  initView(host, nullptr, parent, nullptr, 0);
  host->m_wantallkeys = false;
  carbon::WindowAttributes attrs = 0x2200000 | (composited ? carbon::kWindowCompositingAttribute : 0);
  carbon::WindowRef w = nullptr;
  if (carbon::CreateNewWindow(13, attrs, &rect, &w) != carbon::noErr || !w) return host;
  carbon::ControlRef root = nullptr;
  if (!composited) carbon::CreateRootControl(w, &root);
  const carbon::EventTypeSpec windowEvents[] = {
      {carbon::kEventClassWindow, 5},   {carbon::kEventClassWindow, 7},   {carbon::kEventClassWindow, 92},
      {carbon::kEventClassKeyboard, 1}, {carbon::kEventClassKeyboard, 3}, {carbon::kEventClassKeyboard, 4},
  };
  carbon::InstallEventHandler(carbon::GetWindowEventTarget(w), carbon::NewEventHandlerUPP(carbonEvent), 6, windowEvents,
                              host, &host->m_wndhandler);
  if (root) {
    const carbon::EventTypeSpec bounds[] = {{carbon::kEventClassControl, 154}};
    carbon::InstallEventHandler(carbon::GetControlEventTarget(root), carbon::NewEventHandlerUPP(carbonEvent), 1, bounds,
                                host, &host->m_ctlhandler);
  }
  host->m_cwnd = w;  // the model's Carbon windows are platform windows already
  carbon::ShowWindow(w);
  SetTimer(host, 1, 10, nullptr);
  return host;
}

Shim_vVexmir_hwndcarbonhost::~Shim_vVexmir_hwndcarbonhost() {
  close();
}

int Shim_vVexmir_hwndcarbonhost::installedHandlers() const {
  return (m_wndhandler ? 1 : 0) + (m_ctlhandler ? 1 : 0) + static_cast<int>(m_panehandlers.size());
}

bool Shim_vVexmir_hwndcarbonhost::isAttached() const {
  return m_cwnd && m_cwnd->parentWindow();
}

void Shim_vVexmir_hwndcarbonhost::addPane(carbon::ControlRef control) {
  if (!m_cwnd || !control) return;
  const carbon::EventTypeSpec bounds[] = {{carbon::kEventClassControl, 154}};
  carbon::EventHandlerRef ref = nullptr;
  if (carbon::InstallEventHandler(carbon::GetControlEventTarget(control), carbon::NewEventHandlerUPP(carbonEvent), 1,
                                  bounds, this, &ref) == carbon::noErr) {
    m_panehandlers.push_back(ref);
  }
}

void Shim_vVexmir_hwndcarbonhost::close() {
  KillTimer(this, 1);
  // Every handler goes, the panes' too: none may reach a host that is gone.
  if (m_wndhandler) carbon::RemoveEventHandler(m_wndhandler);
  if (m_ctlhandler) carbon::RemoveEventHandler(m_ctlhandler);
  for (carbon::EventHandlerRef h : m_panehandlers) carbon::RemoveEventHandler(h);
  m_wndhandler = m_ctlhandler = nullptr;
  m_panehandlers.clear();
  if (!m_cwnd) return;
  carbon::WindowRef w = m_cwnd;
  m_cwnd = nullptr;
  if (w->parentWindow()) w->parentWindow()->removeChildWindow(w);
  w->orderOut();
  carbon::DisposeWindow(w);
}

LRESULT Shim_vVexmir_hwndcarbonhost::onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DESTROY && m_cwnd) {
    if (cocoa::application::keyWindow() == m_cwnd) {
      for (cocoa::Window* w : cocoa::Window::orderedWindows()) {
        if (w != m_cwnd && w->isVisible()) {
          w->makeKeyWindow();
          break;
        }
      }
    }
    close();
  }
  return Shim_vVexmir_hwnd::onShimMessage(msg, wParam, lParam);
}

void Shim_vVexmir_hwndcarbonhost::SHIM_Timer(cocoa::Timer* timer) {
  auto* sdh = timer && timer->userInfo() ? timer->userInfo()->as<Shim_vVexmir_sdh>() : nullptr;
  const UINT id = sdh ? static_cast<UINT>(sdh->getValue()) : 0;
  if (id != 1) {
    KillTimer(this, id);
    return;
  }
  if (!m_cwnd) return;
  cocoa::View* sup = superview();
  if (!sup || sup->isHiddenOrHasHiddenAncestor()) {
    if (isAttached()) {
      m_cwnd->parentWindow()->removeChildWindow(m_cwnd);
      m_cwnd->orderOut();
    }
    return;
  }
  if (isAttached()) {
    if ((cocoa::input::mouseButtons() & 7) && window() && window()->isKeyWindow()) {
      POINT p{0, 0};
      GetCursorPos(&p);
      RECT r{};
      GetWindowRect(this, &r);
      const int top = std::min(r.top, r.bottom), bottom = std::max(r.top, r.bottom);
      if (p.x >= r.left && p.x < r.right && p.y >= top && p.y < bottom) m_cwnd->makeKeyWindow();
    }
  } else if (window()) {
    window()->addChildWindow(m_cwnd);
    m_cwnd->orderFront();
    shimDoRepos();
  }
}

void Shim_vVexmir_hwndcarbonhost::shimDoRepos() {
  if (!m_cwnd) return;
  RECT r{};
  GetWindowRect(this, &r);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  const int H = cocoa::screen::height();
  carbon::Rect bounds;
  bounds.left = platform::shortCoord(r.left);
  bounds.top = platform::shortCoord(static_cast<double>(H) - r.bottom);
  bounds.right = platform::shortCoord(r.right);
  bounds.bottom = platform::shortCoord(static_cast<double>(bounds.top) + SHIM_RectHeight(r));
  carbon::SetWindowBounds(m_cwnd, carbon::kWindowContentRgn, &bounds);
  if (m_cwnd->carbonAttributes & carbon::kWindowCompositingAttribute) {
    carbon::HIViewRef root = carbon::HIViewGetRoot(m_cwnd);
    if (root) {
      for (cocoa::View* s : root->subviews()) carbon::HIViewSetNeedsDisplay(s, true);
      carbon::HIViewSetNeedsDisplay(root, true);
      carbon::HIViewRender(root);
    }
  } else {
    carbon::DrawControls(m_cwnd);
  }
}

void Shim_vVexmir_hwndcarbonhost::setFrame(cocoa::Rect frame) {
  Shim_vVexmir_hwnd::setFrame(frame);
  shimDoRepos();
}

void Shim_vVexmir_hwndcarbonhost::viewDidMoveToWindow() {
  Shim_vVexmir_hwnd::viewDidMoveToWindow();
  if (m_cwnd && m_cwnd->parentWindow() && m_cwnd->parentWindow() != window()) {
    m_cwnd->parentWindow()->removeChildWindow(m_cwnd);
  }
  shimDoRepos();
}

carbon::OSStatus Shim_vVexmir_hwndcarbonhost::carbonEvent(carbon::EventHandlerCallRef, carbon::EventRef event,
                                                          void* host) {
  auto* h = static_cast<Shim_vVexmir_hwndcarbonhost*>(host);
  return h ? h->handle(event) : kNotHandled;
}

carbon::OSStatus Shim_vVexmir_hwndcarbonhost::handle(carbon::EventRef event) {
  const carbon::UInt32 kind = carbon::GetEventKind(event);
  const carbon::UInt32 cls = carbon::GetEventClass(event);
  if (cls == carbon::kEventClassKeyboard && (kind == 1 || kind == 3 || kind == 4)) {
    if (m_wantallkeys) return kNotHandled;
    if (carbon::ControlRef focus = m_cwnd ? carbon::GetKeyboardFocus(m_cwnd) : nullptr) {
      carbon::ControlKind ck{};
      if (carbon::GetControlKind(focus, &ck) == carbon::noErr &&
          (ck.kind == fourCC("etxt") || ck.kind == fourCC("eutx") || ck.kind == fourCC("hitx"))) {
        return kNotHandled;
      }
    }
    carbon::UInt32 code = 0, mods = 0;
    carbon::GetEventParameter(event, carbon::kEventParamKeyCode, carbon::typeUInt32, nullptr, sizeof(code), nullptr,
                              &code);
    carbon::GetEventParameter(event, carbon::kEventParamKeyModifiers, carbon::typeUInt32, nullptr, sizeof(mods),
                              nullptr, &mods);
    // The character: the key's Unicode text when the event has it, so that letters beyond ASCII survive; else the
    // one-byte character code, when it is ASCII.
    std::u32string chars;
    uint16_t units[8] = {};
    carbon::UInt32 size = 0;
    if (carbon::GetEventParameter(event, fourCC("kuni"), fourCC("utxt"), nullptr, sizeof(units), &size, units) ==
            carbon::noErr &&
        size >= 2) {
      for (size_t i = 0; i < size / 2 && i < 8; ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < size / 2) {
          c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
          ++i;
        }
        encodeUtf8(c, chars);
      }
    } else {
      char byte = 0;
      carbon::GetEventParameter(event, carbon::kEventParamKeyMacCharCodes, carbon::typeChar, nullptr, 1, nullptr,
                                &byte);
      if (byte && !(static_cast<unsigned char>(byte) & 0x80)) chars += static_cast<char32_t>(byte);
    }
    const cocoa::EventType type = kind == 1 ? cocoa::kKeyDown : (kind == 3 ? cocoa::kKeyUp : cocoa::kFlagsChanged);
    cocoa::Event* e = cocoa::Event::keyEvent(type, static_cast<uint16_t>(code & 0xFFFF), mods, chars, chars);
    cocoa::Application::shared()->sendEvent(e);
    e->release();
    return carbon::noErr;
  }
  if (cls == carbon::kEventClassWindow) {
    if (kind == 5) {
      if (!g_shim_terminating) cocoa::application::setMainMenu(nullptr);
    } else if (kind == 7) {
      const carbon::UInt32 clickActivation = 3;
      carbon::SetEventParameter(event, fourCC("clac"), carbon::typeUInt32, sizeof(clickActivation), &clickActivation);
    } else if (kind == 92) {
      if (m_cwnd) carbon::ActivateWindow(m_cwnd, true);
    }
    return carbon::noErr;
  }
  if (cls == carbon::kEventClassControl && kind == 154 && !m_whileresizing) {
    carbon::Rect prev{}, cur{};
    carbon::GetEventParameter(event, fourCC("prct"), fourCC("qdrt"), nullptr, sizeof(prev), nullptr, &prev);
    carbon::GetEventParameter(event, fourCC("crct"), fourCC("qdrt"), nullptr, sizeof(cur), nullptr, &cur);
    RECT r{};
    GetWindowRect(this, &r);
    r.left = platform::satInt(static_cast<long long>(r.left) + cur.left - prev.left);
    r.top = platform::satInt(static_cast<long long>(r.top) + cur.top - prev.top);
    r.right = platform::satInt(static_cast<long long>(r.right) + cur.right - prev.right);
    r.bottom = platform::satInt(static_cast<long long>(r.bottom) + cur.bottom - prev.bottom);
    m_whileresizing = true;
    SetWindowPos(this, nullptr, r.left, r.top, platform::satInt(SHIM_RectWidth(r)),
                 platform::satInt(SHIM_RectHeight(r)), 12);
    m_whileresizing = false;
  }
  return carbon::noErr;
}

HWND SHIM_CreateCarbonWindowView(HWND parent, void** windowRefOut, RECT* r, bool composited) {
  if (!r) return nullptr;
  POINT a{r->left, r->top}, b{r->right, r->bottom};
  ClientToScreen(parent, &a);
  ClientToScreen(parent, &b);
  carbon::Rect rect;
  rect.top = static_cast<carbon::SInt16>(b.y);
  rect.left = static_cast<carbon::SInt16>(a.x);
  rect.bottom = static_cast<carbon::SInt16>(a.y);
  rect.right = static_cast<carbon::SInt16>(b.x);
  if (rect.top > rect.bottom) std::swap(rect.top, rect.bottom);
  Shim_vVexmir_hwndcarbonhost* host = Shim_vVexmir_hwndcarbonhost::initCarbonChild(parent, rect, composited);
  if (host && windowRefOut) *windowRefOut = host->carbonWindow();
  return host;
}

void* SHIM_GetWindowFromCarbonWindowView(HWND host) {
  auto* h = host ? host->as<Shim_vVexmir_hwndcarbonhost>() : nullptr;
  return h ? h->carbonWindow() : nullptr;
}

void SHIM_AddCarbonPaneToView(HWND host, void* control) {
  if (auto* h = host ? host->as<Shim_vVexmir_hwndcarbonhost>() : nullptr) {
    h->addPane(static_cast<carbon::ControlRef>(control));
  }
}

void SHIM_CarbonWndHost_SetWantAllKeys(void* host, bool want) {
  if (auto* h = host ? static_cast<cocoa::Object*>(host)->as<Shim_vVexmir_hwndcarbonhost>() : nullptr) {
    h->setWantAllKeys(want);
  }
}

// ---- Audio Unit views ----

HWND SHIM_GetAudioUnitCocoaView(HWND parent, AudioUnit unit, const AudioUnitCocoaViewInfo* info, RECT* r) {
  if (!info || !info->mCocoaAUViewClass[0] || !info->mCocoaAUViewBundleLocation) return nullptr;
  std::string location = info->mCocoaAUViewBundleLocation;
  if (location.rfind("file://", 0) == 0) location = location.substr(7);
  cocoa::Bundle* bundle = cocoa::Bundle::create(location);
  if (!bundle) return nullptr;
  const std::string factoryName = std::string(info->mCocoaAUViewClass[0]) + "_uiViewForAudioUnit";
  auto factory = reinterpret_cast<SHIM_AUViewFactory>(bundle->functionPointerForName(factoryName.c_str()));
  cocoa::View* view = nullptr;
  if (factory) {
    const double w = r ? static_cast<double>(SHIM_RectWidth(*r)) : 0,
                 h = r ? static_cast<double>(SHIM_RectHeight(*r)) : 0;
    view = factory(unit, w, h);
  }
  bundle->release();
  if (!view) return nullptr;
  // The parent (a window stands for its content view) holds the view's only reference; without a view to hold it
  // the view would be gone before the caller saw it.
  cocoa::View* owner = SHIM_ViewOf(parent);
  if (!owner) {
    view->release();
    return nullptr;
  }
  owner->addSubview(view);
  if (r) *r = RECT{0, 0, platform::intCoord(view->bounds().w), platform::intCoord(view->bounds().h)};
  view->release();
  return view;
}

// ---- Drags ----

namespace {

char* s_dragdropsrcfn = nullptr;
void (*s_dragdropsrccallback)(const char*) = nullptr;

std::string fileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name for "Keep Both Files": the stem's trailing number (after " ", "_" or "-") counts up, else " 001" follows.
std::string freeName(const std::string& target) {
  const size_t slash = target.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = target.rfind('.');
  std::string stem = target, ext;
  if (dot != std::string::npos && dot >= nameStart) {
    stem = target.substr(0, dot);
    ext = target.substr(dot);
  }
  int counter = 0;
  size_t digits = 0;
  while (digits < 3 && digits < stem.size() - nameStart &&
         std::isdigit(static_cast<unsigned char>(stem[stem.size() - 1 - digits]))) {
    ++digits;
  }
  const size_t sep = stem.size() - digits;
  if (digits > 0 && sep > nameStart && (stem[sep - 1] == ' ' || stem[sep - 1] == '_' || stem[sep - 1] == '-')) {
    counter = std::atoi(stem.c_str() + sep);
    stem.resize(sep);
  } else {
    stem += ' ';
  }
  for (int n = counter + 1; n <= 999; ++n) {
    char number[16];
    snprintf(number, sizeof(number), "%03d", n);
    const std::string candidate = stem + number + ext;
    if (!fileExists(candidate)) return candidate;
  }
  return "";
}

}  // namespace

void SHIM_FinishDragDrop() {
  free(s_dragdropsrcfn);
  s_dragdropsrcfn = nullptr;
  s_dragdropsrccallback = nullptr;
}

void SHIM_InitiateDragDrop(HWND hwnd, const RECT* srcrect, const char* srcfn, void (*callback)(const char*)) {
  SHIM_FinishDragDrop();
  if (!hwnd || !hwnd->as<Shim_vVexmir_hwnd>() || !srcfn) return;
  s_dragdropsrcfn = strdup(srcfn);
  s_dragdropsrccallback = callback;
  // The promised type is the extension of the file's own name; a dot in a folder name is no extension.
  const std::string name = fileNameOf(srcfn);
  const size_t dot = name.rfind('.');
  cocoa::drag::DragRecord rec;
  rec.promisedFiles = true;
  rec.types.push_back(dot == std::string::npos ? "" : name.substr(dot + 1));
  if (srcrect) {
    rec.from =
        cocoa::Rect{static_cast<double>(srcrect->left), static_cast<double>(srcrect->top),
                    static_cast<double>(SHIM_RectWidth(*srcrect)), static_cast<double>(SHIM_RectHeight(*srcrect))};
  }
  rec.slideBack = true;
  const std::string folder = cocoa::drag::performDrag(rec);
  // The platform asks the source for the promised files once the drop lands in a folder.
  if (!folder.empty()) SHIM_DoDragDrop(folder.c_str());
}

std::vector<std::string> SHIM_DoDragDrop(const char* destinationFolder) {
  std::vector<std::string> written;
  if (!destinationFolder || !*destinationFolder || !s_dragdropsrcfn || !s_dragdropsrccallback) {
    SHIM_FinishDragDrop();
    return written;
  }
  const std::string name = fileNameOf(s_dragdropsrcfn);
  std::string target = std::string(destinationFolder) + "/" + name;
  bool write = true;
  if (fileExists(target)) {
    const std::string message = "An item named \"" + name +
                                "\" already exists in this location. Do you want to replace it with the one you're "
                                "moving?";
    // Keep Both Files writes under a free name, Replace over the file; Stop, and a question closed without an
    // answer, write nothing.
    const int answer = cocoa::runAlertPanel("Copy", message, "Keep Both Files", "Stop", "Replace");
    if (answer == 1) {
      target = freeName(target);
      write = !target.empty();
    } else if (answer != -1) {
      write = false;
    }
  }
  if (write) s_dragdropsrccallback(target.c_str());
  if (write && fileExists(target)) written.push_back(fileNameOf(target));
  SHIM_FinishDragDrop();
  return written;
}

void SHIM_InitiateDragDropOfFileList(HWND hwnd, const RECT* srcrect, const char** files, int count, HGDIOBJ icon) {
  SHIM_FinishDragDrop();
  if (!hwnd || !hwnd->as<Shim_vVexmir_hwnd>()) return;
  cocoa::drag::DragRecord rec;
  for (int i = 0; files && i < count; ++i) {
    if (files[i]) rec.files.push_back(files[i]);
  }
  if (srcrect) rec.from = cocoa::Rect{static_cast<double>(srcrect->left), static_cast<double>(srcrect->top), 0, 0};
  // The icon's image, or the workspace's icon for the files: a drag always shows an image.
  rec.hasImage = true;
  if (cocoa::Image* image = SHIM_Internal_ImageOfBitmap(icon)) {
    rec.imageFromIcon = true;
    rec.imageWidth = image->width();
    rec.imageHeight = image->height();
    image->release();
  } else {
    rec.imageWidth = rec.imageHeight = 32;
  }
  rec.slideBack = true;
  cocoa::drag::performDrag(rec);
}

// ---- OpenGL views ----

namespace {

Shim_vVexmir_hwnd* glViewOf(HWND h) {
  return h ? h->as<Shim_vVexmir_hwnd>() : nullptr;
}

}  // namespace

void SHIM_SetViewGL(HWND hwnd, bool on) {
  Shim_vVexmir_hwnd* v = glViewOf(hwnd);
  if (!v || (v->glContext() != nullptr) == on) return;
  if (on) {
    carbon::SInt32 version = 0x1040;
    carbon::Gestalt(carbon::gestaltSystemVersion, &version);
    auto* format = new cocoa::OpenGLPixelFormat(version >= 0x1050 ? std::vector<int>{96} : std::vector<int>{});
    auto* context = new cocoa::OpenGLContext(format, nullptr);
    format->release();
    v->setGLContext(context);
  } else {
    auto* context = static_cast<cocoa::OpenGLContext*>(v->glContext());
    if (cocoa::OpenGLContext::currentContext() == context) cocoa::OpenGLContext::clearCurrentContext();
    v->setGLContext(nullptr);
    context->release();
  }
}

bool SHIM_GetViewGL(HWND hwnd) {
  Shim_vVexmir_hwnd* v = glViewOf(hwnd);
  return v && v->glContext();
}

bool SHIM_SetGLContextToView(HWND hwnd) {
  if (!hwnd) {
    cocoa::OpenGLContext::clearCurrentContext();
    return false;
  }
  Shim_vVexmir_hwnd* v = glViewOf(hwnd);
  if (!v || !v->glContext()) return false;
  static_cast<cocoa::OpenGLContext*>(v->glContext())->makeCurrentContext();
  return true;
}
