// The platform model shown on a real X11 display. A Linux VST host hands the plug-in its own X11 window when it
// opens the editor; the presenter makes a model window of the editor's size, lets the editor fill it as it fills any
// host view, puts a child window into the host's window, and from then on copies what the model window draws into
// that child (only the areas drawn, through MIT-SHM where the server offers it) and turns the child's pointer,
// button, wheel, key and focus events into the model's events. The host's idle calls drive it: each one handles the
// pending X11 events, runs one pass of the calling thread's run loop at the clock's time (timers fire, invalid views
// draw) and shows the result. Popup menus of the model appear as X11 menu windows while a presenter dispatches.
//
// Built on libxcb: a plug-in shares the host's process, and Xlib reports protocol errors through one process-wide
// handler that by default exits the process, whereas xcb hands each error to the connection that caused it, so a
// stale or foreign window id from the host costs a failed request, not the host.
//
// One thread uses a presenter: the host's GUI thread, which opens, idles and closes the editor.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cocoa {
class View;
class Window;
}  // namespace cocoa

namespace x11 {

// The X11 window id that an editor-open request's pointer carries, or 0 when the pointer is null, points at a live
// object of the platform model (a view or a Carbon window: the model's own hosts), or is too large for an id.
uint32_t hostWindowOf(const void* ptr);

class Presenter {
 public:
  // Fills the model window's content view with the editor; false when no editor view could be made.
  using Attach = std::function<bool(cocoa::View* contentView)>;

  // Connects to the X server of $DISPLAY and shows a width x height editor inside the X11 window `parent`. Null,
  // with the reason in *why, when no server answers, `parent` is no window, the server's visual is not 24-bit true
  // colour, or `attach` fails; nothing is left behind then.
  static Presenter* open(uint32_t parent, int width, int height, const Attach& attach, std::string* why);
  // Destroys the child window (and any menu window), detaches and frees the shared memory, closes the connection
  // and releases the model window. The editor must have left the model window first.
  ~Presenter();
  Presenter(const Presenter&) = delete;
  Presenter& operator=(const Presenter&) = delete;

  // The host's idle: pending events, one run-loop pass, the drawn areas shown.
  void idle();
  // Waits until the server has answered everything sent so far, then idles: every event the server produced
  // before the call has been handled (test hosts use it after injecting input).
  void sync();

  cocoa::Window* modelWindow() const;
  uint32_t window() const;  // the child window
  uint32_t parent() const;
  bool usesSharedMemory() const;
  // False once the connection has failed (the server went away); the presenter then only runs the model.
  bool connected() const;
  // Any thread, before the editor closes: a menu, panel or alert that stands ends at once, unanswered, and none
  // opens after it.
  void abandonModals();
  // Rectangles copied to the X11 window since creation (benchmarks and tests).
  long presentedCount() const;

  // Every open presenter of the process, oldest first.
  static std::vector<Presenter*> all();

  struct Impl;

 private:
  explicit Presenter(Impl* impl) : impl_(impl) {}
  Impl* impl_;
};

}  // namespace x11
