#include "platform/cocoa/view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "platform/cocoa/runloop.h"
#include "platform/graphics/coords.h"
#include "platform/graphics/graphics.h"
#include "platform/graphics/png.h"

namespace cocoa {

namespace {

std::mutex g_windowsMutex;
std::vector<Window*>& windows() {
  static auto* w = new std::vector<Window*>;
  return *w;
}
int g_nextWindowNumber = 1;     // under g_windowsMutex
uint64_t g_nextOrderStamp = 1;  // under g_windowsMutex
Window* g_keyWindow = nullptr;

thread_local platform::gfx::Context* t_currentPort = nullptr;

double capSide(double v) {
  return std::min(v, kMaxWindowSide);
}

}  // namespace

struct BackingStore {
  BackingStore(int w, int h) : pixels(static_cast<size_t>(w) * h * 4, 0xFF) {
    context = platform::gfx::Context::createOverMemory(pixels.data(), w, h, w * 4);
  }
  ~BackingStore() { delete context; }
  BackingStore(const BackingStore&) = delete;
  BackingStore& operator=(const BackingStore&) = delete;
  std::vector<uint8_t> pixels;
  platform::gfx::Context* context;
};

Rect Rect::united(const Rect& o) const {
  if (o.isEmpty()) return *this;
  if (isEmpty()) return o;
  const double l = std::min(x, o.x), b = std::min(y, o.y);
  const double r = std::max(x + w, o.x + o.w), t = std::max(y + h, o.y + o.h);
  return Rect{l, b, r - l, t - b};
}

Rect Rect::intersected(const Rect& o) const {
  const double l = std::max(x, o.x), b = std::max(y, o.y);
  const double r = std::min(x + w, o.x + o.w), t = std::min(y + h, o.y + o.h);
  if (r <= l || t <= b) return Rect{};
  return Rect{l, b, r - l, t - b};
}

namespace graphicsContext {
platform::gfx::Context* currentPort() {
  return t_currentPort;
}
void setCurrentPort(platform::gfx::Context* port) {
  t_currentPort = port;
}
}  // namespace graphicsContext

namespace application {
Window* keyWindow() {
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  return g_keyWindow;
}
void setKeyWindow(Window* window) {
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  g_keyWindow = window;
}
}  // namespace application

// ---------------------------------------------------------------------------------------------------------------
// View

View::~View() {
  for (View* v : subviews_) {
    v->superview_ = nullptr;
    v->setWindow(nullptr);
    v->release();
  }
  subviews_.clear();
}

void View::setWindow(Window* window) {
  if (window_ == window) return;
  if (window_ && window_->firstResponder() == this) {
    // Kept while it is told: the resignation may end an edit whose handler destroys the window.
    Window* w = window_;
    w->retain();
    w->makeFirstResponder(nullptr);
    // In the middle of another change of responder the window refuses: it must still let go of this view.
    w->forgetFirstResponder(this);
    w->release();
  }
  window_ = window;
  for (View* v : subviews_) v->setWindow(window);
  viewDidMoveToWindow();
}

void View::addSubview(View* view) {
  addSubview(view, 1, nullptr);
}

void View::addSubview(View* view, int position, View* relativeTo) {
  if (!view || view == this || isDescendantOf(view) || view->isDeallocating()) return;
  view->retain();
  view->detach();
  auto at = subviews_.end();
  auto rel = std::find(subviews_.begin(), subviews_.end(), relativeTo);
  if (rel != subviews_.end()) {
    at = position < 0 ? rel : rel + 1;
  } else if (position < 0) {
    at = subviews_.begin();
  }
  subviews_.insert(at, view);
  view->superview_ = this;
  view->setWindow(window_);
  // A view new to its place is drawn whole at the next display.
  view->setNeedsDisplay(true);
  didAddSubview(view);
}

void View::setHidden(bool hidden) {
  if (hidden_ == hidden) return;
  hidden_ = hidden;
  if (hidden) {
    viewDidHide();
  } else {
    setNeedsDisplay(true);
    viewDidUnhide();
  }
}

bool View::isHiddenOrHasHiddenAncestor() const {
  for (const View* v = this; v; v = v->superview_) {
    if (v->hidden_) return true;
  }
  return false;
}

bool View::isDescendantOf(const View* ancestor) const {
  if (!ancestor) return false;
  for (const View* v = this; v; v = v->superview_) {
    if (v == ancestor) return true;
  }
  return false;
}

Point View::convertFromScreen(Point p) const {
  return convertFromWindow(window_ ? window_->convertScreenToBase(p) : p);
}

Point View::convertToScreen(Point p) const {
  const Point b = convertToWindow(p);
  return window_ ? window_->convertBaseToScreen(b) : b;
}

void View::detach() {
  View* parent = superview_;
  if (!parent) return;
  retain();
  parent->willRemoveSubview(this);
  release();
  if (superview_ != parent) return;
  // What the view covered shows its superview again.
  if (window_ && !hidden_) parent->setNeedsDisplayInRect(frame_);
  auto it = std::find(parent->subviews_.begin(), parent->subviews_.end(), this);
  if (it != parent->subviews_.end()) parent->subviews_.erase(it);
  superview_ = nullptr;
  retain();
  setWindow(nullptr);
  release();  // the superview's reference
  release();
}

void View::setNeedsDisplayInRect(Rect r) {
  invalid_ = invalid_.united(r.intersected(bounds()));
}

void View::setNeedsDisplay(bool needs) {
  invalid_ = needs ? bounds() : Rect{};
}

Point View::convertFromWindow(Point p) const {
  // Up the chain first: the superview's coordinates, then this view's frame within them.
  Point q = superview_ ? superview_->convertFromWindow(p) : p;
  if (superview_ && superview_->isFlipped()) {
    q = Point{q.x - frame_.x, frame_.y + frame_.h - q.y};  // into this view's y-up coordinates
  } else {
    q = Point{q.x - frame_.x, q.y - frame_.y};
  }
  if (isFlipped()) q.y = frame_.h - q.y;
  return q;
}

Point View::convertToWindow(Point p) const {
  Point q = p;
  if (isFlipped()) q.y = frame_.h - q.y;
  if (superview_ && superview_->isFlipped()) {
    q = Point{q.x + frame_.x, frame_.y + frame_.h - q.y};
  } else {
    q = Point{q.x + frame_.x, q.y + frame_.y};
  }
  return superview_ ? superview_->convertToWindow(q) : q;
}

View* View::hitTest(Point p) {
  if (hidden_) return nullptr;
  // The platform's rule: x in [left, right); in y the edge at the smaller coordinate is inside for a flipped
  // superview and the one at the larger coordinate for an unflipped one, so the top pixel row is always inside.
  const bool superFlipped = superview_ && superview_->isFlipped();
  const bool inX = p.x >= frame_.x && p.x < frame_.x + frame_.w;
  const bool inY =
      superFlipped ? p.y >= frame_.y && p.y < frame_.y + frame_.h : p.y > frame_.y && p.y <= frame_.y + frame_.h;
  if (!inX || !inY) return nullptr;
  Point local{p.x - frame_.x, superFlipped ? frame_.y + frame_.h - p.y : p.y - frame_.y};
  if (isFlipped()) local.y = frame_.h - local.y;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    if (View* hit = (*it)->hitTest(local)) return hit;
  }
  return this;
}

void View::passOn(Event* e) {
  if (View* next = superview_) {
    // The next responder stays for its handling: what its handler does may destroy it.
    next->retain();
    bool passed = true;
    switch (e->type) {
      case kLeftMouseDown:
        next->mouseDown(e);
        break;
      case kLeftMouseUp:
        next->mouseUp(e);
        break;
      case kLeftMouseDragged:
        next->mouseDragged(e);
        break;
      case kRightMouseDown:
        next->rightMouseDown(e);
        break;
      case kRightMouseUp:
        next->rightMouseUp(e);
        break;
      case kRightMouseDragged:
        next->rightMouseDragged(e);
        break;
      case kMouseMoved:
        next->mouseMoved(e);
        break;
      case kScrollWheel:
        next->scrollWheel(e);
        break;
      case kOtherMouseDown:
        next->otherMouseDown(e);
        break;
      case kOtherMouseUp:
        next->otherMouseUp(e);
        break;
      case kOtherMouseDragged:
        next->otherMouseDragged(e);
        break;
      case kKeyDown:
        next->keyDown(e);
        break;
      case kKeyUp:
        next->keyUp(e);
        break;
      default:
        passed = false;
        break;
    }
    next->release();
    if (passed) return;
  }
  if (window_) window_->takeUnhandled(e);
}

// ---------------------------------------------------------------------------------------------------------------
// Window

Window::Window() {
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  number_ = g_nextWindowNumber++;
  windows().push_back(this);
}

Window::Window(Rect contentRect) : Window() {
  // The thread that makes windows displays them at the end of each of its run-loop passes.
  thread_local bool observing = false;
  if (!observing) {
    observing = true;
    RunLoop::current()->addObserver([] { Window::displayAllWindows(); });
  }
  contentRect_ = contentRect;
  contentRect_.w = capSide(contentRect.w);
  contentRect_.h = capSide(contentRect.h);
  View* content = new View(Rect{0, 0, contentRect_.w, contentRect_.h});
  setContentView(content);
  content->release();
  resizeBacking(platform::intCoord(contentRect_.w), platform::intCoord(contentRect_.h));
}

Window::~Window() {
  {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    auto& all = windows();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    if (g_keyWindow == this) g_keyWindow = nullptr;
  }
  for (Window* c : children_) {
    c->parent_ = nullptr;
    c->release();
  }
  children_.clear();
  clearUnhandledEvents();
  releaseObject(mouseDownView_);
  mouseDownView_ = nullptr;
  firstResponder_ = nullptr;
  setContentView(nullptr);
}

void Window::setContentView(View* view) {
  if (view == contentView_ || (view && view->isDeallocating())) return;
  if (view) {
    view->retain();
    view->detach();
    view->setWindow(this);
    view->setNeedsDisplay(true);
  }
  if (contentView_) {
    if (contentView_->window() == this) contentView_->setWindow(nullptr);
    contentView_->release();
  }
  contentView_ = view;
}

platform::gfx::Context* Window::backing() const {
  return store_ ? store_->context : nullptr;
}

void Window::resizeBacking(int w, int h) {
  if (w < 1 || h < 1) return;
  auto next = std::make_shared<BackingStore>(w, h);
  if (store_) {
    const int oldW = store_->context->width(), oldH = store_->context->height();
    for (int y = 0; y < std::min(h, oldH); ++y)
      std::copy_n(&store_->pixels[static_cast<size_t>(y) * oldW * 4], std::min(w, oldW) * 4,
                  &next->pixels[static_cast<size_t>(y) * w * 4]);
  }
  store_ = std::move(next);
}

void Window::setContentSize(double w, double h) {
  w = capSide(w);
  h = capSide(h);
  contentRect_.w = w;
  contentRect_.h = h;
  if (contentView_) contentView_->setFrame(Rect{0, 0, w, h});
  if (store_) resizeBacking(platform::intCoord(w), platform::intCoord(h));
}

void Window::setContentOrigin(double x, double y) {
  contentRect_.x = x;
  contentRect_.y = y;
}

bool Window::makeFirstResponder(View* view) {
  if (view == firstResponder_) return true;
  if (view && view->window() != this) return false;
  // Both views are kept for the change: what they are told may take either out of the window, or destroy it.
  if (view) view->retain();
  if (view && (!view->acceptsFirstResponder() || view->window() != this)) {
    view->release();
    return false;
  }
  if (changingResponder_) {
    releaseObject(view);
    return false;
  }
  changingResponder_ = true;
  // The window too: the resignation may end an edit whose handler destroys the window.
  retain();
  View* old = firstResponder_;
  firstResponder_ = nullptr;
  if (old) {
    old->retain();
    old->resignedFirstResponder();
    old->release();
  }
  // The old responder's resignation may have chosen a responder of its own; the caller's choice wins, while it is
  // still in this window.
  firstResponder_ = view && view->window() == this ? view : nullptr;
  changingResponder_ = false;
  if (firstResponder_) view->becameFirstResponder();
  releaseObject(view);
  release();
  return true;
}

void Window::forgetFirstResponder(View* view) {
  if (firstResponder_ == view) firstResponder_ = nullptr;
}

double Window::backingScaleFactor() const {
  const std::vector<screen::Info> all = screen::screens();
  for (const screen::Info& s : all)
    if (contentRect_.x >= s.x && contentRect_.x < s.x + s.w && contentRect_.y >= s.y && contentRect_.y < s.y + s.h)
      return s.backingScale;
  return all.empty() ? 1.0 : all.front().backingScale;
}

void Window::makeKeyAndOrderFront() {
  orderFront();
  makeKeyWindow();
}

void Window::makeKeyWindow() {
  if (!canBecomeKeyWindow()) return;
  Window* old = application::keyWindow();
  if (old == this) return;
  retain();
  if (old && old->tryRetain()) {
    application::setKeyWindow(nullptr);
    old->resignKeyWindow();
    old->release();
  }
  application::setKeyWindow(this);
  becomeKeyWindow();
  release();
}

void Window::orderFront() {
  visible_ = true;
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  orderStamp_ = g_nextOrderStamp++;
}

void Window::orderOut() {
  visible_ = false;
  bool wasKey = false;
  {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    if (g_keyWindow == this) {
      g_keyWindow = nullptr;
      wasKey = true;
    }
  }
  if (wasKey) resignKeyWindow();
}

void Window::performClose() {
  retain();
  if (windowShouldClose()) close();
  release();
}

void Window::setFrame(Rect frame, bool display) {
  const bool moved = frame.x != contentRect_.x || frame.y != contentRect_.y;
  setContentOrigin(frame.x, frame.y);
  frame.w = capSide(frame.w);
  frame.h = capSide(frame.h);
  if (frame.w != contentRect_.w || frame.h != contentRect_.h) {
    if (store_) {
      setContentSize(frame.w, frame.h);
    } else {
      contentRect_.w = frame.w;
      contentRect_.h = frame.h;
      if (contentView_) contentView_->setFrame(Rect{0, 0, frame.w, frame.h});
    }
  }
  if (display) displayIfNeeded();
  if (moved) windowDidMove();
}

std::vector<Window*> Window::orderedWindows() {
  std::vector<Window*> out;
  {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    for (Window* w : windows()) {
      if (w->visible_) out.push_back(w);
    }
  }
  std::stable_sort(out.begin(), out.end(), [](Window* a, Window* b) {
    if (a->level_ != b->level_) return a->level_ > b->level_;
    return a->orderStamp_ > b->orderStamp_;
  });
  return out;
}

bool Window::isKeyWindow() const {
  return application::keyWindow() == this;
}

void Window::close() {
  orderOut();
  if (parent_) parent_->removeChildWindow(this);
}

void Window::addChildWindow(Window* child) {
  if (!child || child == this || child->parent_ == this) return;
  child->retain();
  if (child->parent_) child->parent_->removeChildWindow(child);
  children_.push_back(child);
  child->parent_ = this;
}

void Window::removeChildWindow(Window* child) {
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it == children_.end()) return;
  children_.erase(it);
  child->parent_ = nullptr;
  child->release();
}

void Window::sendEvent(Event* e) {
  if (!e || !contentView_) return;
  retain();
  // Every view an event goes to is kept for the event: its handlers may take it out of the window, or destroy it.
  auto hit = [&]() -> View* {
    View* v = contentView_ ? contentView_->hitTest(e->locationInWindow) : nullptr;
    return v;
  };
  switch (e->type) {
    case kLeftMouseDown:
    case kRightMouseDown: {
      View* v = hit();
      if (v) {
        v->retain();
        // The platform gives the click's view first responder status when it accepts it.
        if (v->acceptsFirstResponder() && firstResponder_ != v && v->window() == this) makeFirstResponder(v);
        releaseObject(mouseDownView_);
        mouseDownView_ = v;
        if (e->type == kLeftMouseDown) {
          v->mouseDown(e);
        } else {
          v->rightMouseDown(e);
        }
      }
      break;
    }
    case kLeftMouseDragged:
    case kRightMouseDragged:
    case kLeftMouseUp:
    case kRightMouseUp: {
      View* v = mouseDownView_ ? mouseDownView_ : hit();
      if (!v) break;
      v->retain();
      if (e->type == kLeftMouseDragged) v->mouseDragged(e);
      if (e->type == kRightMouseDragged) v->rightMouseDragged(e);
      if (e->type == kLeftMouseUp) v->mouseUp(e);
      if (e->type == kRightMouseUp) v->rightMouseUp(e);
      if (e->type == kLeftMouseUp || e->type == kRightMouseUp) {
        releaseObject(mouseDownView_);
        mouseDownView_ = nullptr;
      }
      v->release();
      break;
    }
    case kOtherMouseDown:
    case kOtherMouseUp:
    case kOtherMouseDragged: {
      View* v = hit();
      if (!v) break;
      v->retain();
      if (e->type == kOtherMouseDown) v->otherMouseDown(e);
      if (e->type == kOtherMouseUp) v->otherMouseUp(e);
      if (e->type == kOtherMouseDragged) v->otherMouseDragged(e);
      v->release();
      break;
    }
    case kMagnify:
    case kSwipe:
    case kRotate: {
      View* v = hit();
      if (!v) break;
      v->retain();
      if (e->type == kMagnify) v->magnifyWithEvent(e);
      if (e->type == kSwipe) v->swipeWithEvent(e);
      if (e->type == kRotate) v->rotateWithEvent(e);
      v->release();
      break;
    }
    case kMouseMoved:
      if (acceptsMouseMoved_) {
        View* v = firstResponder_ ? firstResponder_ : hit();
        if (v) {
          v->retain();
          v->mouseMoved(e);
          v->release();
        }
      }
      break;
    case kScrollWheel:
      if (View* v = hit()) {
        v->retain();
        v->scrollWheel(e);
        v->release();
      }
      break;
    case kKeyDown:
    case kKeyUp:
      if (View* v = firstResponder_) {
        v->retain();
        if (e->type == kKeyDown) {
          v->keyDown(e);
        } else {
          v->keyUp(e);
        }
        v->release();
      } else {
        takeUnhandled(e);
      }
      break;
    default:
      break;
  }
  release();
}

namespace {

// Gives the context the view's own coordinates, clipped to the part of the view its superviews show; answers that
// part in window base coordinates.
Rect focusOn(platform::gfx::Context* ctx, View* v) {
  // A view shows only inside its superviews (a scroll view's document view only inside the clip view).
  Rect shown;
  for (View* a = v; a; a = a->superview()) {
    const Point p = a->convertToWindow(Point{0, 0});
    const Point q = a->convertToWindow(Point{a->frame().w, a->frame().h});
    const Rect r{std::min(p.x, q.x), std::min(p.y, q.y), std::abs(q.x - p.x), std::abs(q.y - p.y)};
    shown = a == v ? r : shown.intersected(r);
  }
  ctx->clipToRect(platform::gfx::Rect{static_cast<float>(shown.x), static_cast<float>(shown.y),
                                      static_cast<float>(shown.w), static_cast<float>(shown.h)});
  // The view's own coordinates in window base coordinates (y up from the bottom row, the backing store's user
  // space at creation): an origin and the direction of y, whatever flipping the chain of superviews has.
  const Point o = v->convertToWindow(Point{0, 0});
  const double sy = v->convertToWindow(Point{0, 1}).y - o.y;
  ctx->translate(static_cast<float>(o.x), static_cast<float>(o.y));
  ctx->scale(1, static_cast<float>(sy));
  return shown;
}

}  // namespace

platform::gfx::Context* Window::lockFocus(View* v) {
  if (!store_ || !v || v->window() != this) return nullptr;
  platform::gfx::Context* ctx = store_->context;
  ctx->save();
  ctx->resetState();
  focusOn(ctx, v);
  return ctx;
}

FocusLock::FocusLock(View* view) : FocusLock(view ? view->window() : nullptr) {
  if (context_) shown_ = focusOn(context_, view).intersected(shown_);
}

FocusLock::FocusLock(Window* w) {
  if (!w || !w->store_) return;
  store_ = w->store_;
  const platform::gfx::Context* c = store_->context;
  context_ = platform::gfx::Context::createOverMemory(store_->pixels.data(), c->width(), c->height(), c->rowBytes());
  if (!context_) return;
  window_ = w;
  windowSerial_ = w->serial();
  shown_ = Rect{0, 0, w->contentRect().w, w->contentRect().h};
}

FocusLock::~FocusLock() {
  if (context_ && windowAlive() && window_->store_ == store_ && !shown_.isEmpty()) {
    window_->noteDisplayed(Rect{shown_.x, window_->contentRect().h - shown_.y - shown_.h, shown_.w, shown_.h});
  }
  delete context_;
}

bool FocusLock::windowAlive() const {
  return Object::isLive(window_, windowSerial_);
}

void Window::displayView(View* v, Rect drawnInWindow) {
  if (v->isHidden()) return;
  v->displayTree([&] { displayViewNow(v, drawnInWindow); });
}

void Window::displayViewNow(View* v, Rect drawnInWindow) {
  // What was drawn beneath the view covers it there: the view is drawn again over that part, as the platform draws
  // every subview that intersects the area a superview drew.
  Rect beneath;
  if (!drawnInWindow.isEmpty()) {
    const Point a = v->convertFromWindow(Point{drawnInWindow.x, drawnInWindow.y});
    const Point b = v->convertFromWindow(Point{drawnInWindow.x + drawnInWindow.w, drawnInWindow.y + drawnInWindow.h});
    beneath = Rect{std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x), std::abs(b.y - a.y)}.intersected(
        v->bounds());
  }
  const Rect dirty = v->invalidRect().united(beneath);
  // The store drawn into stays until the drawing ends, also when the view's drawing resizes the window.
  const std::shared_ptr<BackingStore> store = store_;
  platform::gfx::Context* ctx = dirty.isEmpty() ? nullptr : lockFocus(v);
  Rect drawn;
  if (ctx) {
    ctx->clipToRect(platform::gfx::Rect{static_cast<float>(dirty.x), static_cast<float>(dirty.y),
                                        static_cast<float>(dirty.w), static_cast<float>(dirty.h)});
    platform::gfx::Context* previous = graphicsContext::currentPort();
    graphicsContext::setCurrentPort(ctx);
    v->setNeedsDisplay(false);
    v->drawRect(dirty);
    graphicsContext::setCurrentPort(previous);
    ctx->restore();
    ++displayCount_;
    const Point a = v->convertToWindow(Point{dirty.x, dirty.y});
    const Point b = v->convertToWindow(Point{dirty.x + dirty.w, dirty.y + dirty.h});
    drawn = Rect{std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x), std::abs(b.y - a.y)};
    const double h = contentRect_.h;
    noteDisplayed(Rect{drawn.x, h - drawn.y - drawn.h, drawn.w, drawn.h});
  }
  // Subviews are drawn over their superview.
  std::vector<View*> subs = v->subviews();
  for (View* s : subs) s->retain();
  for (View* s : subs) {
    displayView(s, drawn);
    s->release();
  }
}

void Window::displayIfNeeded() {
  if (!contentView_ || !store_) return;
  retain();
  displayView(contentView_, Rect{});
  release();
}

void Window::displayAllWindows() {
  for (Window* w : RetainedWindows(false)) w->displayIfNeeded();
}

std::vector<Window*> Window::retainedWindows(bool frontToBack) {
  std::vector<Window*> out;
  {
    // Retained under the lock: a window leaves the list before its memory goes, and one whose count reached zero
    // is on its way out.
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    for (Window* w : windows()) {
      if (w->tryRetain()) out.push_back(w);
    }
  }
  if (frontToBack) {
    std::stable_sort(out.begin(), out.end(), [](Window* a, Window* b) {
      if (a->visible_ != b->visible_) return a->visible_;
      if (!a->visible_) return false;
      if (a->level_ != b->level_) return a->level_ > b->level_;
      return a->orderStamp_ > b->orderStamp_;
    });
  }
  return out;
}

std::vector<Window*> Window::allWindows() {
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  return windows();
}

uint32_t Window::pixelAt(int x, int y) const {
  const platform::gfx::Context* b = backing();
  if (!b || x < 0 || y < 0 || x >= b->width() || y >= b->height()) return 0;
  const uint8_t* p = &store_->pixels[(static_cast<size_t>(y) * b->width() + x) * 4];
  return (static_cast<uint32_t>(p[1]) << 16) | (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

bool Window::writePNG(const std::string& path) const {
  const platform::gfx::Context* b = backing();
  if (!b) return false;
  return platform::gfx::writeRgbPngFile(path, store_->pixels.data(), b->width(), b->height(), b->width() * 4);
}

std::vector<Rect> Window::takeDisplayedRects() {
  std::vector<Rect> out;
  out.swap(displayed_);
  return out;
}

void Window::noteDisplayed(Rect topDown) {
  // A long session keeps only its recent draws.
  if (displayed_.size() >= 4096) displayed_.erase(displayed_.begin(), displayed_.begin() + 2048);
  displayed_.push_back(topDown);
}

void Window::clearUnhandledEvents() {
  for (Event* e : unhandled_) e->release();
  unhandled_.clear();
}

void Window::takeUnhandled(Event* e) {
  if (!e) return;
  e->retain();
  unhandled_.push_back(e);
}

}  // namespace cocoa
