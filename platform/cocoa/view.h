// The headless model of the platform's views and windows: a view tree with frames, flipping, hiding and invalid
// areas; windows with a content view, a first responder, key status, child windows and a backing store of pixels
// that the views draw into; mouse, wheel and key events routed as the platform routes them. The window layer's and
// the editor's views derive from View; Carbon windows and their HIViews are the same objects (see carbon.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/cocoa/application.h"
#include "platform/cocoa/object.h"

namespace platform::gfx {
class Context;
}

namespace cocoa {

class Window;
struct BackingStore;

// The largest side of a window's content, in points: the desktop platform's window server caps every window at
// about this size, so that a window never asks for more pixels than a screen could hold.
constexpr double kMaxWindowSide = 10000;

// An object that takes actions by name (the platform's target and action selector): controls and menu items send
// their action to their target this way.
class ActionTarget {
 public:
  virtual ~ActionTarget() = default;
  virtual void performAction(const std::string& action, Object* sender) = 0;
};

struct Rect {
  double x = 0, y = 0, w = 0, h = 0;
  bool isEmpty() const { return w <= 0 || h <= 0; }
  bool contains(Point p) const { return p.x >= x && p.x < x + w && p.y >= y && p.y < y + h; }
  // The smallest rectangle holding both; an empty side gives the other.
  Rect united(const Rect& o) const;
  Rect intersected(const Rect& o) const;
};

// The drawing context that a view draws into while the window displays it (the platform's current graphics
// context). Only set during drawRect: and Carbon draw events.
namespace graphicsContext {
platform::gfx::Context* currentPort();
void setCurrentPort(platform::gfx::Context* port);
}  // namespace graphicsContext

class View : public Object {
 public:
  View() = default;
  explicit View(Rect frame) : frame_(frame) {}

  Window* window() const { return window_; }
  // Sets the window of this view and of its subviews, telling each whose window changed.
  void setWindow(Window* window);
  View* superview() const { return superview_; }
  const std::vector<View*>& subviews() const { return subviews_; }

  const Rect& frame() const { return frame_; }
  Rect bounds() const { return Rect{0, 0, frame_.w, frame_.h}; }
  // The platform's `tag`: -1 for a plain view. setTag answers false for views that have no settable tag (a plain
  // view does not answer `setTag:`).
  virtual int tag() const { return -1; }
  virtual bool setTag(int tag) {
    (void)tag;
    return false;
  }
  virtual void setFrame(Rect frame) { frame_ = frame; }
  virtual void setFrameSize(double w, double h) { setFrame(Rect{frame_.x, frame_.y, w, h}); }
  // A flipped view has y growing downwards from its top edge.
  virtual bool isFlipped() const { return false; }
  virtual bool isOpaque() const { return false; }
  bool isHidden() const { return hidden_; }
  // Tells the view (viewDidHide / viewDidUnhide) when the flag changes. A view shown again is drawn whole at the
  // next display.
  void setHidden(bool hidden);
  bool isHiddenOrHasHiddenAncestor() const;
  bool isDescendantOf(const View* ancestor) const;
  virtual void viewDidHide() {}
  virtual void viewDidUnhide() {}
  // Called on the superview around changes of its subview list.
  virtual void didAddSubview(View* subview) { (void)subview; }
  virtual void willRemoveSubview(View* subview) { (void)subview; }

  // Retains the subview and puts it in front of the others (it leaves a former superview first). A view being
  // deleted is refused.
  void addSubview(View* view);
  // `addSubview:positioned:relativeTo:`: above (1) or below (-1) `relativeTo`, or above / below every subview when
  // it is null or not a subview.
  void addSubview(View* view, int position, View* relativeTo);
  // Leaves the superview, which releases it. Views may override (the platform lets them); detach() always detaches.
  virtual void removeFromSuperview() { detach(); }
  void detach();

  // Invalid area in this view's coordinates; the window draws it at its next display.
  virtual void setNeedsDisplayInRect(Rect r);
  virtual void setNeedsDisplay(bool needs);
  const Rect& invalidRect() const { return invalid_; }
  bool needsDisplay() const { return !invalid_.isEmpty(); }
  // Called with the current graphics context set up for this view: origin at the view's corner (top left when
  // flipped), clipped to `dirty`.
  virtual void drawRect(Rect dirty) { (void)dirty; }
  // The window's display of this view and its subviews runs inside this: a view whose drawing belongs to another
  // party's calls may run it as one of them, or not at all.
  virtual void displayTree(const std::function<void()>& drawAll) { drawAll(); }
  // Called after the view's window changed.
  virtual void viewDidMoveToWindow() {}

  // Point conversion between this view and its window's base coordinates (origin bottom left, y up).
  virtual Point convertFromWindow(Point p) const;
  Point convertToWindow(Point p) const;
  // Screen coordinates (origin bottom left of the main screen, y up) through the window's base coordinates; a view
  // without a window takes screen and base coordinates as one.
  Point convertFromScreen(Point p) const;
  Point convertToScreen(Point p) const;
  // The deepest visible view at `p` (in this view's superview coordinates), or null.
  View* hitTest(Point pointInSuperview);

  // Responder chain. The defaults pass the event on to the next responder: the superview, then the window, which
  // keeps what nobody took (the host's part of the chain).
  virtual bool acceptsFirstResponder() { return false; }
  virtual bool acceptsFirstMouse(Event*) { return false; }
  virtual void becameFirstResponder() {}
  virtual void resignedFirstResponder() {}
  virtual void mouseDown(Event* e) { passOn(e); }
  virtual void mouseUp(Event* e) { passOn(e); }
  virtual void mouseDragged(Event* e) { passOn(e); }
  virtual void rightMouseDown(Event* e) { passOn(e); }
  virtual void rightMouseUp(Event* e) { passOn(e); }
  virtual void rightMouseDragged(Event* e) { passOn(e); }
  virtual void mouseMoved(Event* e) { passOn(e); }
  virtual void otherMouseDown(Event* e) { passOn(e); }
  virtual void otherMouseUp(Event* e) { passOn(e); }
  virtual void otherMouseDragged(Event* e) { passOn(e); }
  virtual void magnifyWithEvent(Event* e) { (void)e; }
  virtual void swipeWithEvent(Event* e) { (void)e; }
  virtual void rotateWithEvent(Event* e) { (void)e; }
  virtual void scrollWheel(Event* e) { passOn(e); }
  virtual void keyDown(Event* e) { passOn(e); }
  virtual void keyUp(Event* e) { passOn(e); }
  // Hands the event to the next responder's method of the same kind.
  void passOn(Event* e);

 protected:
  ~View() override;

 private:
  Window* window_ = nullptr;     // not retained: the window owns its views
  View* superview_ = nullptr;    // not retained: the superview owns its subviews
  std::vector<View*> subviews_;  // retained, back to front
  Rect frame_;
  Rect invalid_;
  bool hidden_ = false;
};

class Window : public Object {
 public:
  // A window without geometry or pixels (the system services use windows only as owners of views).
  Window();
  // A window of that content size at `contentRect` on the screen (each side capped at kMaxWindowSide), with a
  // content view and a backing store of opaque white pixels.
  explicit Window(Rect contentRect);

  View* contentView() const { return contentView_; }
  // Retains the new content view (drawn whole at the next display) and releases the old one; a view being deleted
  // is refused.
  void setContentView(View* view);
  const Rect& contentRect() const { return contentRect_; }
  // The frame on the screen. Headless windows have no decorations: the frame is the content rectangle.
  Rect frame() const { return contentRect_; }
  // Moves and sizes the window (windowDidMove when the origin changed). Window classes may override, as the
  // platform's `setFrame:display:`.
  virtual void setFrame(Rect frame, bool display);
  virtual void windowDidMove() {}
  virtual Point minSize() const { return minSize_; }
  virtual Point maxSize() const { return maxSize_; }
  void setMinSize(Point p) { minSize_ = p; }
  void setMaxSize(Point p) { maxSize_ = p; }
  Point convertBaseToScreen(Point p) const { return Point{p.x + contentRect_.x, p.y + contentRect_.y}; }
  // The backing scale factor of the window's screen (the one holding its origin, else the main screen); 1 without
  // screens.
  double backingScaleFactor() const;
  Point convertScreenToBase(Point p) const { return Point{p.x - contentRect_.x, p.y - contentRect_.y}; }

  const std::string& title() const { return title_; }
  void setTitle(const std::string& title) { title_ = title; }
  // Style mask bits: 1 titled, 2 closable, 4 miniaturizable, 8 resizable; 0 borderless.
  unsigned styleMask = 0;
  bool isMiniaturized = false;
  bool isOpaque = true;
  // A clear background lets what is behind the window show where nothing is drawn.
  bool clearBackground = false;
  bool hasShadow = true;
  // The document the window shows (its title-bar icon) and whether it has unsaved changes.
  std::string representedFilename;
  bool documentEdited = false;
  double alphaValue = 1;
  bool ignoresMouseEvents = false;
  // Resizes the content (and the backing store, which keeps what fits); each side is capped at kMaxWindowSide.
  void setContentSize(double w, double h);
  void setContentOrigin(double x, double y);

  int windowNumber() const { return number_; }
  int level() const { return level_; }
  void setLevel(int level) { level_ = level; }
  bool acceptsMouseMovedEvents() const { return acceptsMouseMoved_; }
  void setAcceptsMouseMovedEvents(bool on) { acceptsMouseMoved_ = on; }

  // The responder that gets key events: a view of this window, or null (the window itself).
  View* firstResponder() const { return firstResponder_; }
  // False when the view refuses; a text field being edited ends its editing when it loses first responder.
  bool makeFirstResponder(View* view);
  // A view leaving the window: it is no longer the first responder, without being told.
  void forgetFirstResponder(View* view);
  void makeKeyAndOrderFront();
  // Makes the window key when it can become key: the previous key window resigns first.
  void makeKeyWindow();
  virtual bool canBecomeKeyWindow() { return true; }
  virtual void becomeKeyWindow() {}
  virtual void resignKeyWindow() {}
  void orderOut();
  // Shows the window in front of the others of its level.
  void orderFront();
  // The close button: closes when windowShouldClose answers true.
  void performClose();
  virtual bool windowShouldClose() { return true; }
  bool isVisible() const { return visible_; }
  bool isKeyWindow() const;
  void close();

  // Child windows (retained) that move with this window.
  void addChildWindow(Window* child);
  void removeChildWindow(Window* child);
  const std::vector<Window*>& childWindows() const { return children_; }
  Window* parentWindow() const { return parent_; }

  // Routes an event as the platform does: mouse down to the view under it (which then gets the drags and the up),
  // right button likewise, moves to the first responder when mouse-moved events are on, the wheel to the view under
  // the pointer, keys to the first responder.
  virtual void sendEvent(Event* e);
  // Draws every invalid view into the backing store, back to front, and every view over the area drawn beneath it.
  void displayIfNeeded();
  // Every window's displayIfNeeded (what the platform does at the end of each run-loop pass).
  static void displayAllWindows();

  // The backing store: content width x height pixels, a leading byte then R, G, B, row 0 at the top. Null for a
  // window without geometry.
  platform::gfx::Context* backing() const;
  // The platform's lockFocus: saves the backing store's graphics state, then gives it the view's own coordinates,
  // clipped to the part of the view its superviews show. The state before does not matter, so one view may be
  // focused while another draws. Answers the backing store (restore it to unlock), or null without one or for a
  // view of another window.
  platform::gfx::Context* lockFocus(View* view);
  // Pixel (x, y) from the top left as 0xRRGGBB.
  uint32_t pixelAt(int x, int y) const;
  // Writes the backing store as an RGB PNG; false when there is none or the file cannot be written.
  bool writePNG(const std::string& path) const;
  int displayCount() const { return displayCount_; }
  // Areas drawn since the last call, in window pixels from the top left (x, y, w, h), oldest first.
  std::vector<Rect> takeDisplayedRects();
  void noteDisplayed(Rect topDown);

  // Events that went down the whole responder chain without being taken: the host would see them.
  const std::vector<Event*>& unhandledEvents() const { return unhandled_; }
  void clearUnhandledEvents();
  void takeUnhandled(Event* e);

  // Every window that exists (not retained), in creation order.
  static std::vector<Window*> allWindows();
  // Every window that exists, each retained (the caller releases them): in creation order, or front to back (the
  // visible windows as orderedWindows, then the others in creation order). Code that calls out to handlers for each
  // window walks such a list, so that a window that an earlier handler destroyed is still memory to look at.
  static std::vector<Window*> retainedWindows(bool frontToBack);
  // The visible windows front to back: higher levels first, then the most recently ordered front.
  static std::vector<Window*> orderedWindows();

  // Carbon attributes of the window (see carbon.h); 0 for a Cocoa window.
  uint32_t carbonAttributes = 0;
  bool isCarbon = false;

 protected:
  ~Window() override;

 private:
  friend class FocusLock;
  void resizeBacking(int w, int h);
  // Draws the view where it is invalid or where its superview was just drawn (`drawnInWindow`, base coordinates),
  // then its subviews over it.
  void displayView(View* v, Rect drawnInWindow);
  void displayViewNow(View* v, Rect drawnInWindow);

  View* contentView_ = nullptr;
  Rect contentRect_;
  int number_;
  int level_ = 0;
  bool acceptsMouseMoved_ = false;
  bool visible_ = false;
  uint64_t orderStamp_ = 0;
  std::string title_;
  Point minSize_{0, 0};
  Point maxSize_{1e7, 1e7};
  View* firstResponder_ = nullptr;  // not retained: one of this window's views
  View* mouseDownView_ = nullptr;   // retained while a button is down
  std::vector<Window*> children_;
  Window* parent_ = nullptr;
  // Shared with whoever draws into it: a store replaced by a resize stays while a display or a FocusLock still
  // draws into it.
  std::shared_ptr<BackingStore> store_;
  int displayCount_ = 0;
  std::vector<Rect> displayed_;
  std::vector<Event*> unhandled_;  // retained
  bool changingResponder_ = false;
};

// The platform's lockFocus taken from outside a display, to draw into a window at any time. The lock draws through
// a context of its own over the window's backing store, set up as lockFocus sets up the store, so that several
// locks and the window's displays never share graphics state. The pixels stay while the lock lives: a resize gives
// the window a new store (what is drawn after it lands in the old one, which nobody sees) and a window that goes
// away leaves its store to the lock.
class FocusLock {
 public:
  // context() is null when the view has no window with a backing store.
  explicit FocusLock(View* view);
  // The whole content of the window in its base coordinates (origin at the bottom left, y up), as a port draws.
  explicit FocusLock(Window* window);
  // Shows what was drawn (the area locked counts as displayed) when the window still shows the store.
  ~FocusLock();
  FocusLock(const FocusLock&) = delete;
  FocusLock& operator=(const FocusLock&) = delete;
  platform::gfx::Context* context() const { return context_; }
  // False once the window has gone.
  bool windowAlive() const;

 private:
  std::shared_ptr<BackingStore> store_;
  platform::gfx::Context* context_ = nullptr;
  Window* window_ = nullptr;
  uint64_t windowSerial_ = 0;
  Rect shown_;  // the part locked (a view's visible part), in window base coordinates
};

// A list of retained windows (Window::retainedWindows) released when it goes.
class RetainedWindows {
 public:
  explicit RetainedWindows(bool frontToBack) : list_(Window::retainedWindows(frontToBack)) {}
  ~RetainedWindows() {
    for (Window* w : list_) w->release();
  }
  RetainedWindows(const RetainedWindows&) = delete;
  RetainedWindows& operator=(const RetainedWindows&) = delete;
  std::vector<Window*>::const_iterator begin() const { return list_.begin(); }
  std::vector<Window*>::const_iterator end() const { return list_.end(); }

 private:
  std::vector<Window*> list_;
};

namespace application {
// The key window, or null.
Window* keyWindow();
void setKeyWindow(Window* window);
}  // namespace application

}  // namespace cocoa
