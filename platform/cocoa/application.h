// The headless model of the platform application: its delegate, the event queue with synthetic events, the
// current event, the global keyboard-modifier and mouse-button state, the mouse location and the main screen.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/cocoa/object.h"
#include "platform/cocoa/runloop.h"

namespace cocoa {

class Window;

// Event types (the platform's numbering).
enum EventType : int {
  kLeftMouseDown = 1,
  kLeftMouseUp = 2,
  kRightMouseDown = 3,
  kRightMouseUp = 4,
  kMouseMoved = 5,
  kLeftMouseDragged = 6,
  kRightMouseDragged = 7,
  kKeyDown = 10,
  kKeyUp = 11,
  kFlagsChanged = 12,
  kScrollWheel = 22,
  kOtherMouseDown = 25,
  kOtherMouseUp = 26,
  kOtherMouseDragged = 27,
  kApplicationDefined = 15,
  kRotate = 18,
  kMagnify = 30,
  kSwipe = 31,
};
constexpr uint64_t kAnyEventMask = ~0ull;
inline uint64_t eventMaskOf(EventType t) {
  return 1ull << t;
}

// Modifier flags (the platform's bits).
enum ModifierFlags : uint32_t {
  kAlphaShiftKeyMask = 1u << 16,
  kShiftKeyMask = 1u << 17,
  kControlKeyMask = 1u << 18,
  kAlternateKeyMask = 1u << 19,
  kCommandKeyMask = 1u << 20,
  kNumericPadKeyMask = 1u << 21,
  kFunctionKeyMask = 1u << 23,
};

struct Point {
  double x = 0, y = 0;
};

class Event : public Object {
 public:
  EventType type = kApplicationDefined;
  uint32_t modifierFlags = 0;
  uint16_t keyCode = 0;
  std::u32string characters;                   // with modifiers applied
  std::u32string charactersIgnoringModifiers;  // as typed without modifiers
  Point locationInWindow;                      // window coordinates, origin bottom left
  double deltaX = 0, deltaY = 0, deltaZ = 0;
  double magnification = 0, rotation = 0;  // gestures
  int eventNumber = 0;
  float pressure = 0;
  int clickCount = 0;
  Window* window = nullptr;  // not retained
  double timestamp = 0;

  static Event* keyEvent(EventType type, uint16_t keyCode, uint32_t modifiers, std::u32string chars,
                         std::u32string charsIgnoringModifiers);
  static Event* mouseEvent(EventType type, Point location, uint32_t modifiers, Window* window = nullptr);
};

// Interfaces an application delegate may implement; the application asks for them with Object::as<>().
class ApplicationTerminateHandler {
 public:
  virtual ~ApplicationTerminateHandler() = default;
  // Return false to keep running.
  virtual bool applicationShouldTerminate() = 0;
};

class Application {
 public:
  // The one application object (the platform's NSApp); made on first use.
  static Application* shared();

  // Main thread. The delegate is not retained, as on the platform.
  Object* delegate() const { return delegate_; }
  void setDelegate(Object* delegate) { delegate_ = delegate; }

  // Any thread: queues an event (retained) for nextEvent and wakes waiting run loops.
  void postEvent(Event* event, bool atStart = false);
  // Main thread: runs the calling thread's run loop in `mode` until an event matching `mask` is queued or `untilDate`
  // (model clock) has come; returns that event (autoreleased when dequeued, else still queued) or null.
  Event* nextEvent(uint64_t mask, double untilDate, const char* mode, bool dequeue);
  // Main thread: makes the event current and hands it to the dispatcher (the window layer installs it).
  void sendEvent(Event* event);
  void setEventDispatcher(std::function<void(Event*)> dispatcher);
  // The event being handled, or null.
  Event* currentEvent() const { return currentEvent_; }
  int pendingEventCount();

  // Asks the delegate, then marks the application as terminated (a headless process keeps running).
  void terminate(Object* sender);
  bool isTerminated() const { return terminated_; }
  // Tests: back to a running application with no delegate, dispatcher or queued events.
  void reset();

 private:
  Application();
  Object* delegate_ = nullptr;
  Event* currentEvent_ = nullptr;
  bool terminated_ = false;
  struct Impl;
  Impl* impl_;
};

// The global input state that the platform's event-source and Carbon queries read. Tests and the test host set it
// when they inject events.
namespace input {
uint32_t modifierFlags();  // current modifier keys
void setModifierFlags(uint32_t flags);
uint32_t mouseButtons();  // bit 0 left, bit 1 right, bit 2 middle
void setMouseButtons(uint32_t buttons);
Point mouseLocation();  // screen coordinates, origin bottom left of the main screen, y upward
void setMouseLocation(Point p);
}  // namespace input

// The screens; the first is the main screen, whose lower-left corner is the origin of screen coordinates.
namespace screen {
struct Info {
  double x = 0, y = 0, w = 0, h = 0;      // frame
  double vx = 0, vy = 0, vw = 0, vh = 0;  // visible frame (without menu bar and dock)
  double backingScale = 1;                // device pixels per point (2 on a Retina screen)
};
// The main screen's size; 0 when there is no screen.
int width();
int height();
// Makes the main screen that size (adding it when there is none); its visible frame is the whole screen.
void setSize(int width, int height);
std::vector<Info> screens();
void setScreens(const std::vector<Info>& screens);
}  // namespace screen

}  // namespace cocoa
