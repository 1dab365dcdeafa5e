#include "platform/cocoa/carbon.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/cocoa/cursor.h"
#include "platform/cocoa/menu.h"
#include "platform/cocoa/textfield.h"
#include "platform/graphics/coords.h"
#include "platform/graphics/graphics.h"
#include "platform/text/text.h"

namespace carbon {

using cocoa::Point;

// ---------------------------------------------------------------------------------------------------------------
// Events

HIRect* HIShapeGetBounds(HIShapeRef shape, HIRect* out) {
  if (out) *out = shape ? shape->bounds : HIRect{};
  return out;
}

OSStatus CreateEvent(void*, UInt32 eventClass, UInt32 kind, EventTime, UInt32, EventRef* out) {
  if (!out) return paramErr;
  auto* e = new EventObject;
  e->eventClass = eventClass;
  e->eventKind = kind;
  *out = e;
  return noErr;
}

void ReleaseEvent(EventRef event) {
  if (event) event->release();
}

UInt32 GetEventClass(EventRef event) {
  return event ? event->eventClass : 0;
}

UInt32 GetEventKind(EventRef event) {
  return event ? event->eventKind : 0;
}

OSStatus SetEventParameter(EventRef event, EventParamName name, EventParamType type, UInt32 size, const void* data) {
  if (!event || (size && !data)) return paramErr;
  auto& p = event->params[name];
  p.type = type;
  p.bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  return noErr;
}

OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType, EventParamType* actualType,
                           UInt32 bufferSize, UInt32* actualSize, void* data) {
  if (!event) return paramErr;
  auto it = event->params.find(name);
  if (it == event->params.end()) return eventParameterNotFoundErr;
  if (desiredType != typeWildCard && desiredType != it->second.type) return eventParameterNotFoundErr;
  const auto& bytes = it->second.bytes;
  if (actualType) *actualType = it->second.type;
  if (actualSize) *actualSize = static_cast<UInt32>(bytes.size());
  if (data) std::memcpy(data, bytes.data(), std::min<size_t>(bufferSize, bytes.size()));
  return noErr;
}

// ---------------------------------------------------------------------------------------------------------------
// Targets and handlers

struct InstalledHandler {
  EventTarget* target;
  EventHandlerUPP proc;
  std::vector<EventTypeSpec> types;
  void* userData;
  bool removed = false;
  bool takes(EventRef e) const {
    if (removed) return false;
    for (const auto& t : types)
      if (t.eventClass == e->eventClass && t.eventKind == e->eventKind) return true;
    return false;
  }
};

struct EventTarget {
  cocoa::Object* owner;                     // the view or window (not retained)
  std::vector<InstalledHandler*> handlers;  // in install order
  int dispatching = 0;
  ~EventTarget() {
    for (auto* h : handlers) delete h;
  }
  void sweep() {
    if (dispatching) return;
    handlers.erase(std::remove_if(handlers.begin(), handlers.end(),
                                  [](InstalledHandler* h) {
                                    if (!h->removed) return false;
                                    delete h;
                                    return true;
                                  }),
                   handlers.end());
  }
};

struct HandlerCall {
  EventTarget* target;
  std::vector<InstalledHandler*> chain;  // newest first
  size_t next = 0;
  bool standardDone = false;
  OSStatus standardResult = eventNotHandledErr;
};

namespace {

class CarbonWindow : public cocoa::Window {
 public:
  CarbonWindow(cocoa::Rect r, WindowAttributes attrs) : Window(r) {
    isCarbon = true;
    carbonAttributes = attrs;
    target.owner = this;
    // The content view is a flipped HIView, as in every Carbon window.
    HIView* content = new HIView(cocoa::Rect{0, 0, r.w, r.h});
    setContentView(content);
    content->release();
    hasRoot = (attrs & kWindowCompositingAttribute) != 0;
  }
  EventTarget target;
  ControlRef focus = nullptr;  // not retained
  bool hasRoot;

 protected:
  ~CarbonWindow() override = default;
};

CarbonWindow* asCarbon(WindowRef w) {
  return w ? dynamic_cast<CarbonWindow*>(w) : nullptr;
}

OSStatus standardHandling(EventTarget* target, EventRef e);

OSStatus runChain(HandlerCall* call, EventRef e) {
  while (call->next < call->chain.size()) {
    InstalledHandler* h = call->chain[call->next++];
    if (!h->takes(e)) continue;
    const OSStatus r = h->proc(call, e, h->userData);
    if (r != eventNotHandledErr) return r;
  }
  if (!call->standardDone) {
    call->standardDone = true;
    call->standardResult = standardHandling(call->target, e);
  }
  return call->standardResult;
}

OSStatus standardHandling(EventTarget* target, EventRef e) {
  if (auto* view = dynamic_cast<HIView*>(target->owner)) {
    const OSStatus r = view->standardHandler(e);
    if (r != eventNotHandledErr) return r;
    // Up the containment: the superview, then the window. Draw events stay with their view.
    if (e->eventClass == kEventClassControl) return r;
    if (auto* parent = dynamic_cast<HIView*>(view->superview())) return SendEventToEventTarget(e, parent->target());
    if (CarbonWindow* w = asCarbon(view->window())) return SendEventToEventTarget(e, &w->target);
    return r;
  }
  return eventNotHandledErr;
}

std::mutex g_menuMutex;
MenuID g_nextMenuId = 1000;         // under g_menuMutex
std::vector<MenuRef>& menuList() {  // retained
  static auto* v = new std::vector<MenuRef>;
  return *v;
}

WindowRef g_userFocusWindow = nullptr;

}  // namespace

EventTargetRef GetWindowEventTarget(WindowRef window) {
  CarbonWindow* w = asCarbon(window);
  return w ? &w->target : nullptr;
}

EventTargetRef GetControlEventTarget(ControlRef control) {
  auto* v = control ? dynamic_cast<HIView*>(control) : nullptr;
  return v ? v->target() : nullptr;
}

EventTargetRef GetUserFocusEventTarget() {
  WindowRef w = g_userFocusWindow ? g_userFocusWindow : cocoa::application::keyWindow();
  CarbonWindow* cw = asCarbon(w);
  if (!cw) return nullptr;
  if (cw->focus) return GetControlEventTarget(cw->focus);
  return &cw->target;
}

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, UInt32 numTypes,
                             const EventTypeSpec* types, void* userData, EventHandlerRef* outRef) {
  if (!target || !handler || (numTypes && !types)) return paramErr;
  auto* h = new InstalledHandler{target, handler, std::vector<EventTypeSpec>(types, types + numTypes), userData};
  target->handlers.push_back(h);
  if (outRef) *outRef = h;
  return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef handler) {
  if (!handler) return paramErr;
  handler->removed = true;
  handler->target->sweep();
  return noErr;
}

OSStatus CallNextEventHandler(EventHandlerCallRef call, EventRef event) {
  if (!call || !event) return paramErr;
  return runChain(call, event);
}

OSStatus SendEventToEventTarget(EventRef event, EventTargetRef target) {
  if (!event || !target) return paramErr;
  HandlerCall call;
  call.target = target;
  call.chain.assign(target->handlers.rbegin(), target->handlers.rend());
  // A handler may dispose of the target's view or window (a text field ending its own edit): both stay alive until
  // the dispatch is over.
  cocoa::Object* owner = target->owner;
  owner->retain();
  event->retain();
  ++target->dispatching;
  const OSStatus r = runChain(&call, event);
  --target->dispatching;
  target->sweep();
  event->release();
  owner->release();
  return r;
}

// ---------------------------------------------------------------------------------------------------------------
// Timers

struct EventLoop {};

EventLoopRef GetMainEventLoop() {
  static EventLoop loop;
  return &loop;
}

OSStatus InstallEventLoopTimer(EventLoopRef, EventTimerInterval firstFire, EventTimerInterval interval,
                               EventLoopTimerUPP proc, void* userData, EventLoopTimerRef* out) {
  if (!proc || !out) return paramErr;
  auto* t = new cocoa::Timer(interval, true, [proc, userData](cocoa::Timer* timer) { proc(timer, userData); });
  // A first fire of 0 is due at once: the loop's next pass fires it.
  t->setFireDate(cocoa::clockNow() + (firstFire > 0 ? firstFire : 0));
  cocoa::RunLoop::current()->addTimer(t, cocoa::kCommonRunLoopModes);
  *out = t;  // the caller's reference, given back by RemoveEventLoopTimer
  return noErr;
}

OSStatus RemoveEventLoopTimer(EventLoopTimerRef timer) {
  if (!timer) return paramErr;
  timer->invalidate();
  timer->release();
  return noErr;
}

// ---------------------------------------------------------------------------------------------------------------
// Windows

OSStatus CreateNewWindow(UInt32, WindowAttributes attributes, const Rect* b, WindowRef* out) {
  if (!b || !out || b->right <= b->left || b->bottom <= b->top) return paramErr;
  const double h = b->bottom - b->top;
  cocoa::Rect r{static_cast<double>(b->left), cocoa::screen::height() - b->top - h,
                static_cast<double>(b->right - b->left), h};
  *out = new CarbonWindow(r, attributes);
  return noErr;
}

void DisposeWindow(WindowRef window) {
  if (!window) return;
  if (g_userFocusWindow == window) g_userFocusWindow = nullptr;
  window->close();
  window->release();
}

OSStatus GetWindowAttributes(WindowRef window, WindowAttributes* out) {
  if (!window || !out) return paramErr;
  *out = window->carbonAttributes;
  return noErr;
}

OSStatus GetWindowBounds(WindowRef window, UInt32, Rect* out) {
  if (!window || !out) return paramErr;
  const cocoa::Rect& c = window->contentRect();
  out->left = platform::shortCoord(c.x);
  // The bottom follows the top before either is cut to the 16-bit range: a window beyond an end reports that end
  // for both edges.
  const int top = platform::intCoord(cocoa::screen::height() - c.y - c.h);
  out->top = platform::shortCoord(top);
  out->right = platform::shortCoord(c.x + c.w);
  out->bottom = platform::shortCoord(top + c.h);
  return noErr;
}

OSStatus SetWindowBounds(WindowRef window, UInt32, const Rect* b) {
  if (!window || !b || b->right < b->left || b->bottom < b->top) return paramErr;
  const double h = b->bottom - b->top;
  window->setContentOrigin(b->left, cocoa::screen::height() - b->top - h);
  window->setContentSize(b->right - b->left, h);
  return noErr;
}

CGrafPtr GetWindowPort(WindowRef window) {
  return window;
}

void ShowWindow(WindowRef window) {
  if (window) window->orderFront();
}

void SelectWindow(WindowRef window) {
  if (window) window->makeKeyAndOrderFront();
}

namespace {
void drawControls(cocoa::View* v, WindowRef window) {
  if (v->isHidden()) return;
  if (auto* hv = dynamic_cast<HIView*>(v)) {
    EventRef e = nullptr;
    CreateEvent(nullptr, kEventClassControl, kEventControlDraw, 0, 0, &e);
    CGrafPtr port = window;
    SetEventParameter(e, kEventParamGrafPort, typeGrafPtr, sizeof port, &port);
    drawLog().push_back({hv, HIRect{}, false});
    const cocoa::Point a = hv->convertToWindow(cocoa::Point{0, 0});
    window->noteDisplayed(cocoa::Rect{a.x, window->contentRect().h - a.y, hv->frame().w, hv->frame().h});
    SendEventToEventTarget(e, hv->target());
    ReleaseEvent(e);
  }
  std::vector<cocoa::View*> subs = v->subviews();
  for (auto* s : subs) s->retain();
  for (auto* s : subs) {
    drawControls(s, window);
    s->release();
  }
}
}  // namespace

void UpdateControls(WindowRef window, void*) {
  if (!window || !window->contentView() || !window->backing()) return;
  window->retain();
  drawControls(window->contentView(), window);
  window->release();
}

void DrawControls(WindowRef window) {
  UpdateControls(window, nullptr);
}

void ActivateWindow(WindowRef window, Boolean activate) {
  if (!window) return;
  if (activate) {
    window->makeKeyWindow();
  } else if (cocoa::application::keyWindow() == window) {
    cocoa::application::setKeyWindow(nullptr);
  }
}

OSType HIView::controlKind() const {
  return fourCC("user");
}

OSStatus GetControlKind(ControlRef control, ControlKind* out) {
  auto* v = control ? control->as<HIView>() : nullptr;
  if (!v || !out) return paramErr;
  *out = ControlKind{fourCC("appl"), v->controlKind()};
  return noErr;
}

OSStatus HIViewRender(HIViewRef view) {
  if (!view || !view->window()) return paramErr;
  view->window()->displayIfNeeded();
  return noErr;
}

namespace {
// The focus lock behind each context begun on a port and not ended yet.
std::map<CGContextRef, std::unique_ptr<cocoa::FocusLock>>& portLocks() {
  static auto* locks = new std::map<CGContextRef, std::unique_ptr<cocoa::FocusLock>>;
  return *locks;
}
}  // namespace

OSStatus QDBeginCGContext(CGrafPtr port, CGContextRef* out) {
  if (!port || !out) return paramErr;
  // A lock of its own over the port's whole content (origin at the bottom left, y up) keeps the pixels it draws into
  // until the context ends, also when the holder resizes or disposes of the window meanwhile.
  auto lock = std::make_unique<cocoa::FocusLock>(port);
  if (!lock->context()) return paramErr;
  *out = lock->context();
  portLocks()[*out] = std::move(lock);
  return noErr;
}

OSStatus QDEndCGContext(CGrafPtr port, CGContextRef* context) {
  if (!port || !context || !portLocks().erase(*context)) return paramErr;
  *context = nullptr;
  return noErr;
}

// ---------------------------------------------------------------------------------------------------------------
// Views and controls

const OSType kHIViewWindowContentID = fourCC("wind");

HIView::~HIView() {
  delete target_;
}

EventTarget* HIView::target() {
  if (!target_) target_ = new EventTarget{this, {}};
  return target_;
}

OSStatus HIView::standardHandler(EventRef) {
  return eventNotHandledErr;
}

void HIView::drawRect(cocoa::Rect dirty) {
  CGContextRef ctx = cocoa::graphicsContext::currentPort();
  if (!ctx) return;
  EventRef e = nullptr;
  CreateEvent(nullptr, kEventClassControl, kEventControlDraw, 0, 0, &e);
  e->shapeStorage.bounds = HIRect{{dirty.x, dirty.y}, {dirty.w, dirty.h}};
  HIShapeRef shape = &e->shapeStorage;
  SetEventParameter(e, kEventParamCGContextRef, typeCGContextRef, sizeof ctx, &ctx);
  SetEventParameter(e, kEventParamShape, typeHIShapeRef, sizeof shape, &shape);
  drawLog().push_back({this, e->shapeStorage.bounds, true});
  SendEventToEventTarget(e, target());
  ReleaseEvent(e);
}

HIViewRef HIViewGetRoot(WindowRef window) {
  return window ? window->contentView() : nullptr;
}

OSStatus HIViewFindByID(HIViewRef start, HIViewID id, HIViewRef* out) {
  if (!start || !out) return paramErr;
  // The model's root is the content view itself.
  if (id.signature == kHIViewWindowContentID && start->window() && start == start->window()->contentView()) {
    *out = start;
    return noErr;
  }
  return errUnknownControl;
}

OSStatus HIViewAddSubview(HIViewRef parent, HIViewRef child) {
  if (!parent || !child) return paramErr;
  parent->addSubview(child);
  return noErr;
}

OSStatus HIViewRemoveFromSuperview(HIViewRef view) {
  if (!view) return paramErr;
  view->detach();
  return noErr;
}

OSStatus HIViewSetFrame(HIViewRef view, const HIRect* f) {
  if (!view || !f) return paramErr;
  view->setFrame(cocoa::Rect{f->origin.x, f->origin.y, f->size.width, f->size.height});
  return noErr;
}

OSStatus HIViewGetFrame(HIViewRef view, HIRect* out) {
  if (!view || !out) return paramErr;
  const cocoa::Rect& f = view->frame();
  *out = HIRect{{f.x, f.y}, {f.w, f.h}};
  return noErr;
}

OSStatus HIViewSetNeedsDisplayInRect(HIViewRef view, const HIRect* r, Boolean needs) {
  if (!view || !r) return paramErr;
  if (needs) view->setNeedsDisplayInRect(cocoa::Rect{r->origin.x, r->origin.y, r->size.width, r->size.height});
  return noErr;
}

OSStatus HIViewSetNeedsDisplay(HIViewRef view, Boolean needs) {
  if (!view) return paramErr;
  view->setNeedsDisplay(needs != 0);
  return noErr;
}

OSStatus HIViewSetVisible(HIViewRef view, Boolean visible) {
  if (!view) return paramErr;
  view->setHidden(!visible);
  if (auto* et = dynamic_cast<EditTextControl*>(view)) et->visible = visible != 0;
  return noErr;
}

void HIPointConvert(HIPoint* p, int sourceSpace, void* source, int destinationSpace, void* destination) {
  if (!p) return;
  // Through window base coordinates (y up from the bottom of the content).
  Point base{p->x, p->y};
  if (sourceSpace == kHICoordSpaceWindow) {
    auto* w = static_cast<cocoa::Window*>(source);
    base = Point{p->x, (w ? w->contentRect().h : 0) - p->y};
  } else if (sourceSpace == kHICoordSpaceView && source) {
    base = static_cast<cocoa::View*>(source)->convertToWindow(Point{p->x, p->y});
  }
  Point out = base;
  if (destinationSpace == kHICoordSpaceWindow) {
    auto* w = static_cast<cocoa::Window*>(destination);
    out = Point{base.x, (w ? w->contentRect().h : 0) - base.y};
  } else if (destinationSpace == kHICoordSpaceView && destination) {
    out = static_cast<cocoa::View*>(destination)->convertFromWindow(base);
  }
  p->x = out.x;
  p->y = out.y;
}

OSStatus CreateUserPaneControl(WindowRef window, const Rect* b, UInt32 features, ControlRef* out) {
  if (!window || !b || !out) return paramErr;
  auto* v = new HIView(cocoa::Rect{static_cast<double>(b->left), static_cast<double>(b->top),
                                   static_cast<double>(b->right - b->left), static_cast<double>(b->bottom - b->top)});
  v->features = features;
  // A new control lives in its window until it is embedded somewhere; the window's content view holds it.
  window->contentView()->addSubview(v);
  v->release();
  *out = v;
  return noErr;
}

OSStatus GetRootControl(WindowRef window, ControlRef* out) {
  CarbonWindow* w = asCarbon(window);
  if (!w || !out) return paramErr;
  if (!w->hasRoot) return errUnknownControl;
  *out = w->contentView();
  return noErr;
}

OSStatus CreateRootControl(WindowRef window, ControlRef* out) {
  CarbonWindow* w = asCarbon(window);
  if (!w || !out) return paramErr;
  w->hasRoot = true;
  *out = w->contentView();
  return noErr;
}

OSStatus EmbedControl(ControlRef control, ControlRef container) {
  if (!control || !container) return paramErr;
  container->addSubview(control);
  return noErr;
}

void SizeControl(ControlRef control, SInt16 w, SInt16 h) {
  if (control) control->setFrameSize(w, h);
}

void DisposeControl(ControlRef control) {
  if (!control) return;
  if (CarbonWindow* w = asCarbon(control->window())) {
    if (w->focus == control) w->focus = nullptr;
  }
  control->detach();
}

OSStatus EditTextControl::standardHandler(EventRef e) {
  if (e->eventClass != kEventClassKeyboard || (e->eventKind != kEventRawKeyDown && e->eventKind != kEventRawKeyRepeat))
    return eventNotHandledErr;
  char c = 0;
  UInt32 code = 0;
  GetEventParameter(e, kEventParamKeyMacCharCodes, typeChar, nullptr, 1, nullptr, &c);
  GetEventParameter(e, kEventParamKeyCode, typeUInt32, nullptr, sizeof code, nullptr, &code);
  const bool allSelected = selStart == 0 && selEnd >= static_cast<SInt16>(text.size()) && !text.empty();
  if (c == 13 || c == 3 || c == 9) return eventNotHandledErr;
  if (code >= 123 && code <= 126) {
    selStart = selEnd = static_cast<SInt16>(text.size());
    setNeedsDisplay(true);
    return noErr;
  }
  if (c == 8 || c == 127) {
    if (allSelected) {
      text.clear();
    } else if (!text.empty()) {
      size_t n = text.size() - 1;
      while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
      text.resize(n);
    }
  } else if (static_cast<unsigned char>(c) >= 0x20) {
    const std::string ch = cocoa::utf8Of(static_cast<unsigned char>(c));
    text = allSelected ? ch : text + ch;
  } else {
    return eventNotHandledErr;
  }
  selStart = selEnd = static_cast<SInt16>(text.size());
  setNeedsDisplay(true);
  return noErr;
}

void EditTextControl::drawRect(cocoa::Rect dirty) {
  if (CGContextRef ctx = cocoa::graphicsContext::currentPort()) {
    const float w = static_cast<float>(frame().w), h = static_cast<float>(frame().h);
    ctx->setFillColor(platform::gfx::Color{1, 1, 1, 1});
    ctx->fillRect(platform::gfx::Rect{0, 0, w, h});
    // The text in the style's justification (left by default) and, while the field has the keyboard focus, the
    // caret or the selection.
    const int align = style.just == teCenter ? 2 : style.just == teFlushRight ? 1 : 0;
    const double size = style.size > 0 ? style.size : 12;
    std::u32string before;
    platform::text::decodeUtf8(text.data(), std::min(text.size(), static_cast<size_t>(std::max<SInt16>(selStart, 0))),
                               before);
    const int start = static_cast<int>(before.size());
    std::u32string upTo;
    platform::text::decodeUtf8(text.data(), std::min(text.size(), static_cast<size_t>(std::max<SInt16>(selEnd, 0))),
                               upTo);
    const bool focused = window() && GetKeyboardFocus(window()) == this;
    cocoa::drawFieldText(this, text, cocoa::Rect{3, 0, frame().w - 6, frame().h}, align, cocoa::RGBAColor{0, 0, 0, 1},
                         size, focused, start, static_cast<int>(upTo.size()) - start);
  }
  HIView::drawRect(dirty);
}

OSStatus CreateEditUnicodeTextControl(WindowRef window, const Rect* b, CFStringRef text, Boolean,
                                      const ControlFontStyleRec* style, ControlRef* out) {
  if (!window || !b || !out) return paramErr;
  auto* v = new EditTextControl(cocoa::Rect{static_cast<double>(b->left), static_cast<double>(b->top),
                                            static_cast<double>(b->right - b->left),
                                            static_cast<double>(b->bottom - b->top)});
  if (text) v->text = text->utf8();
  if (style) v->style = *style;
  window->contentView()->addSubview(v);
  v->release();
  *out = v;
  return noErr;
}

OSStatus SetControlData(ControlRef control, ControlPartCode, OSType tag, UInt32 size, const void* data) {
  auto* et = control ? dynamic_cast<EditTextControl*>(control) : nullptr;
  if (!et || !data) return paramErr;
  if (tag == kControlEditTextCFStringTag && size >= sizeof(CFStringRef)) {
    CFStringRef s = *static_cast<const CFStringRef*>(data);
    et->text = s ? s->utf8() : "";
    et->selStart = et->selEnd = static_cast<SInt16>(et->text.size());
  } else if (tag == kControlEditTextSelectionTag && size >= sizeof(ControlEditTextSelectionRec)) {
    auto* sel = static_cast<const ControlEditTextSelectionRec*>(data);
    et->selStart = sel->selStart;
    et->selEnd = sel->selEnd;
  } else if (tag == kControlFontStyleTag && size >= sizeof(ControlFontStyleRec)) {
    et->style = *static_cast<const ControlFontStyleRec*>(data);
  } else if (tag == kControlEditTextSingleLineTag && size >= 1) {
    et->singleLine = *static_cast<const Boolean*>(data) != 0;
  } else {
    return paramErr;
  }
  et->setNeedsDisplay(true);
  return noErr;
}

OSStatus GetControlData(ControlRef control, ControlPartCode, OSType tag, UInt32 bufferSize, void* buffer,
                        UInt32* actualSize) {
  auto* et = control ? dynamic_cast<EditTextControl*>(control) : nullptr;
  if (!et || tag != kControlEditTextCFStringTag || !buffer || bufferSize < sizeof(CFStringRef)) return paramErr;
  *static_cast<CFStringRef*>(buffer) = new cocoa::String(et->text);
  if (actualSize) *actualSize = sizeof(CFStringRef);
  return noErr;
}

OSStatus SetKeyboardFocus(WindowRef window, ControlRef control, ControlPartCode) {
  CarbonWindow* w = asCarbon(window);
  if (!w) return paramErr;
  if (control && control->window() != window) return paramErr;
  // The field that loses the focus loses its caret, the one that gets it shows it.
  if (w->focus) w->focus->setNeedsDisplay(true);
  w->focus = control;
  if (control) control->setNeedsDisplay(true);
  return noErr;
}

ControlRef GetKeyboardFocus(WindowRef window) {
  CarbonWindow* w = asCarbon(window);
  return w ? w->focus : nullptr;
}

const WindowRef kUserFocusAuto = reinterpret_cast<WindowRef>(static_cast<intptr_t>(-1));

OSStatus SetUserFocusWindow(WindowRef window) {
  g_userFocusWindow = window == kUserFocusAuto ? nullptr : window;
  return noErr;
}

WindowRef GetUserFocusWindow() {
  return g_userFocusWindow ? g_userFocusWindow : cocoa::application::keyWindow();
}

namespace {
std::mutex g_fontMutex;
std::map<std::string, SInt16>& fontFamilies() {
  static auto* m = new std::map<std::string, SInt16>{{"Geneva", 3},     {"Monaco", 4},   {"Times", 20},
                                                     {"Helvetica", 21}, {"Courier", 22}, {"Consolas", 1001}};
  return *m;
}
}  // namespace

SInt16 FMGetFontFamilyFromName(const char* name) {
  if (!name || !*name) return 0;
  std::lock_guard<std::mutex> lock(g_fontMutex);
  auto& m = fontFamilies();
  auto it = m.find(name);
  if (it != m.end()) return it->second;
  SInt16 next = 2000 + static_cast<SInt16>(m.size());
  m[name] = next;
  return next;
}

std::string FMGetFontFamilyName(SInt16 family) {
  std::lock_guard<std::mutex> lock(g_fontMutex);
  for (const auto& kv : fontFamilies())
    if (kv.second == family) return kv.first;
  return "";
}

OSStatus SetThemeCursor(UInt32) {
  cocoa::Cursor::arrow()->set();
  return noErr;
}

// ---------------------------------------------------------------------------------------------------------------
// Menus

class MenuObject : public cocoa::Object {
 public:
  struct Item {
    std::string text;
    MenuItemAttributes attributes = 0;
    bool checked = false;
    MenuRef submenu = nullptr;  // retained
    uintptr_t refCon = 0;
  };
  MenuID id = 0;
  MenuAttributes attributes = 0;
  uintptr_t refCon = 0;
  std::vector<Item> items;

 protected:
  ~MenuObject() override {
    for (auto& i : items)
      if (i.submenu) i.submenu->release();
  }
};

OSStatus CreateNewMenu(MenuID id, MenuAttributes attributes, MenuRef* out) {
  if (!out) return paramErr;
  auto* m = new MenuObject;
  m->id = id;
  m->attributes = attributes;
  *out = m;
  return noErr;
}

MenuID UniqueMenuID() {
  std::lock_guard<std::mutex> lock(g_menuMutex);
  for (;;) {
    const MenuID id = g_nextMenuId++;
    if (g_nextMenuId > 32000) g_nextMenuId = 1000;
    bool used = false;
    for (MenuRef m : menuList()) used = used || m->id == id;
    if (!used) return id;
  }
}

MenuID GetMenuID(MenuRef menu) {
  return menu ? menu->id : 0;
}

UInt16 CountMenuItems(MenuRef menu) {
  return menu ? static_cast<UInt16>(menu->items.size()) : 0;
}

OSStatus AppendMenuItemTextWithCFString(MenuRef menu, CFStringRef text, MenuItemAttributes attributes, MenuCommand,
                                        MenuItemIndex* outIndex) {
  if (!menu) return paramErr;
  MenuObject::Item it;
  it.text = text ? text->utf8() : "";
  it.attributes = attributes;
  menu->items.push_back(it);
  if (outIndex) *outIndex = static_cast<MenuItemIndex>(menu->items.size());
  return noErr;
}

OSStatus InsertMenuItemTextWithCFString(MenuRef menu, CFStringRef text, MenuItemIndex afterItem,
                                        MenuItemAttributes attributes, MenuCommand) {
  if (!menu) return paramErr;
  MenuObject::Item it;
  it.text = text ? text->utf8() : "";
  it.attributes = attributes;
  const size_t at = std::min<size_t>(afterItem, menu->items.size());
  menu->items.insert(menu->items.begin() + static_cast<long>(at), it);
  return noErr;
}

void CheckMenuItem(MenuRef menu, MenuItemIndex item, Boolean checked) {
  if (menu && item >= 1 && item <= menu->items.size()) menu->items[item - 1].checked = checked != 0;
}

OSStatus SetMenuItemHierarchicalMenu(MenuRef menu, MenuItemIndex item, MenuRef submenu) {
  if (!menu || item < 1 || item > menu->items.size()) return paramErr;
  if (submenu) submenu->retain();
  if (menu->items[item - 1].submenu) menu->items[item - 1].submenu->release();
  menu->items[item - 1].submenu = submenu;
  return noErr;
}

OSStatus SetMenuItemRefCon(MenuRef menu, MenuItemIndex item, uintptr_t refCon) {
  if (!menu || item > menu->items.size()) return paramErr;
  if (item == 0) {
    menu->refCon = refCon;
  } else {
    menu->items[item - 1].refCon = refCon;
  }
  return noErr;
}

OSStatus GetMenuItemRefCon(MenuRef menu, MenuItemIndex item, uintptr_t* refCon) {
  if (!menu || !refCon || item > menu->items.size()) return paramErr;
  *refCon = item == 0 ? menu->refCon : menu->items[item - 1].refCon;
  return noErr;
}

void InsertMenu(MenuRef menu, MenuID) {
  if (!menu) return;
  std::lock_guard<std::mutex> lock(g_menuMutex);
  auto& l = menuList();
  if (std::find(l.begin(), l.end(), menu) != l.end()) return;
  menu->retain();
  l.push_back(menu);
}

MenuRef GetMenuHandle(MenuID id) {
  std::lock_guard<std::mutex> lock(g_menuMutex);
  for (MenuRef m : menuList())
    if (m->id == id) return m;
  return nullptr;
}

void DeleteMenu(MenuID id) {
  MenuRef found = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_menuMutex);
    auto& l = menuList();
    for (auto it = l.begin(); it != l.end(); ++it) {
      if ((*it)->id == id) {
        found = *it;
        l.erase(it);
        break;
      }
    }
  }
  if (found) found->release();
}

void ReleaseMenu(MenuRef menu) {
  if (menu) menu->release();
}

namespace {
cocoa::ShownMenuItem describe(const MenuObject::Item& it) {
  cocoa::ShownMenuItem s;
  s.title = it.text;
  s.separator = (it.attributes & kMenuItemAttrSeparator) != 0;
  s.enabled = (it.attributes & kMenuItemAttrDisabled) == 0;
  s.header = (it.attributes & kMenuItemAttrSectionHeader) != 0;
  s.checked = it.checked;
  if (it.submenu) {
    s.hasSubmenu = true;
    for (const auto& sub : it.submenu->items) s.submenu.push_back(describe(sub));
  }
  return s;
}
}  // namespace

SInt32 PopUpMenuSelect(MenuRef menu, SInt16 top, SInt16 left, MenuItemIndex) {
  if (!menu || menu->items.empty()) return 0;
  cocoa::ShownMenu s;
  s.x = left;
  s.y = top;
  for (const auto& it : menu->items) s.items.push_back(describe(it));
  const cocoa::menus::Choice path = cocoa::menus::choose(s);
  if (path.empty()) return 0;
  MenuRef m = menu;
  for (size_t depth = 0; depth + 1 < path.size(); ++depth) m = m->items[path[depth]].submenu;
  // Section headers cannot be picked.
  if (m->items[path.back()].attributes & kMenuItemAttrSectionHeader) return 0;
  return (static_cast<SInt32>(static_cast<uint16_t>(m->id)) << 16) | static_cast<SInt32>(path.back() + 1);
}

// ---------------------------------------------------------------------------------------------------------------
// Display, cursor, images

CGDirectDisplayID CGMainDisplayID() {
  return 1;
}

CGError CGDisplayHideCursor(CGDirectDisplayID) {
  cocoa::display::hideCursor();
  return 0;
}

CGError CGDisplayShowCursor(CGDirectDisplayID) {
  cocoa::display::showCursor();
  return 0;
}

size_t CGDisplayPixelsHigh(CGDirectDisplayID) {
  return static_cast<size_t>(cocoa::display::mainDisplayHeight());
}

CGError CGWarpMouseCursorPosition(CGPoint p) {
  return cocoa::display::warpCursor(Point{p.x, p.y}) ? 0 : 1;
}

struct CGImage {
  int width = 0, height = 0, rowBytes = 0;
  const uint8_t* pixels = nullptr;  // the context's own pixels: copy on write, and nothing writes before release
};

CGImageRef CGBitmapContextCreateImage(CGContextRef ctx) {
  if (!ctx || !ctx->pixels()) return nullptr;
  auto* img = new CGImage;
  img->width = ctx->width();
  img->height = ctx->height();
  img->rowBytes = ctx->rowBytes();
  img->pixels = ctx->pixels();
  return img;
}

void CGImageRelease(CGImageRef image) {
  delete image;
}

size_t CGImageGetWidth(CGImageRef image) {
  return image ? static_cast<size_t>(image->width) : 0;
}

size_t CGImageGetHeight(CGImageRef image) {
  return image ? static_cast<size_t>(image->height) : 0;
}

namespace {
// The editor copies its bitmap one to one into views whose transform is a whole-pixel translation, upright: row by
// row, the colour bytes only (the leading byte of an opaque context is left alone, as the general path does).
bool drawImageOneToOne(CGContextRef ctx, const CGRect& r, CGImageRef image) {
  const platform::gfx::Affine& m = ctx->transform();
  if (m.a != 1 || m.b != 0 || m.c != 0 || (m.d != 1 && m.d != -1)) return false;
  if (r.size.width != image->width || r.size.height != image->height) return false;
  // Row 0 of the image lands at the rectangle's maximum y: that corner must be the top in device space.
  const platform::gfx::Point top =
      m.apply({static_cast<float>(r.origin.x), static_cast<float>(r.origin.y + r.size.height)});
  const platform::gfx::Point bottom = m.apply({static_cast<float>(r.origin.x), static_cast<float>(r.origin.y)});
  if (!(top.y < bottom.y) || top.x != std::floor(top.x) || top.y != std::floor(top.y)) return false;
  const int dx = platform::intCoord(top.x), dy = platform::intCoord(top.y);
  int x0, y0, x1, y1;
  ctx->deviceClip(x0, y0, x1, y1);
  x0 = std::max({x0, dx, 0});
  y0 = std::max({y0, dy, 0});
  x1 = std::min({x1, dx + image->width, ctx->width()});
  y1 = std::min({y1, dy + image->height, ctx->height()});
  for (int y = y0; y < y1; ++y) {
    const uint8_t* src =
        image->pixels + static_cast<size_t>(y - dy) * image->rowBytes + static_cast<size_t>(x0 - dx) * 4;
    uint8_t* dst = ctx->pixels() + static_cast<size_t>(y) * ctx->rowBytes() + static_cast<size_t>(x0) * 4;
    for (int x = x0; x < x1; ++x, src += 4, dst += 4) {
      dst[1] = src[1];
      dst[2] = src[2];
      dst[3] = src[3];
    }
  }
  return true;
}
}  // namespace

void CGContextDrawImage(CGContextRef ctx, CGRect r, CGImageRef image) {
  if (!ctx || !image) return;
  if (drawImageOneToOne(ctx, r, image)) return;
  platform::gfx::ImageView v;
  v.pixels = image->pixels;
  v.width = image->width;
  v.height = image->height;
  v.rowBytes = image->rowBytes;
  v.leadingAlpha = false;
  ctx->drawImage(v, platform::gfx::Rect{static_cast<float>(r.origin.x), static_cast<float>(r.origin.y),
                                        static_cast<float>(r.size.width), static_cast<float>(r.size.height)});
}

void CGContextTranslateCTM(CGContextRef ctx, double tx, double ty) {
  if (ctx) ctx->translate(static_cast<float>(tx), static_cast<float>(ty));
}

void CGContextScaleCTM(CGContextRef ctx, double sx, double sy) {
  if (ctx) ctx->scale(static_cast<float>(sx), static_cast<float>(sy));
}

void CGContextSaveGState(CGContextRef ctx) {
  if (ctx) ctx->save();
}

void CGContextRestoreGState(CGContextRef ctx) {
  if (ctx) ctx->restore();
}

OSErr Gestalt(OSType selector, SInt32* response) {
  if (!response) return paramErr;
  if (selector != gestaltSystemVersion) return -5551;  // gestaltUndefSelectorErr
  *response = 0x1090;
  return noErr;
}

std::vector<DrawRecord>& drawLog() {
  static auto* v = new std::vector<DrawRecord>;
  // A long session keeps only its recent draws.
  if (v->size() > 4096) v->erase(v->begin(), v->begin() + 2048);
  return *v;
}

}  // namespace carbon
