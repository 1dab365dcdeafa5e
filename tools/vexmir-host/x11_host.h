// The host's own X11 side, as a Linux VST host has it: a top-level window for the editor, whose id goes to the
// plug-in in effEditOpen, a screenshot of what the server shows in it, and the server's count of the resources its
// clients hold (so that tests see what an editor left behind).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexhost {

class X11HostWindow {
 public:
  // A mapped top-level window of width x height on the server of $DISPLAY; null with *why when there is none.
  static std::unique_ptr<X11HostWindow> open(int width, int height, std::string* why);
  ~X11HostWindow();

  uint32_t id() const { return window_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // The window's pixels as the server has them (the plug-in's child window included) as an RGB PNG.
  bool screenshot(const std::string& path, std::string* why);
  // Waits until the server has handled everything sent so far (and notes the keys the window got meanwhile).
  void sync();
  // The keys the window got since the last call, oldest first: "press 0x20", "release 0x20" (the key's first
  // keysym), "sent" added for keys another client sent.
  std::vector<std::string> takeKeys();
  // Who has the keyboard focus: "host" (this window), "editor" (the window `editorWindow`), "none", "pointer root"
  // or "other".
  std::string focusOwner(uint32_t editorWindow);
  // A window of the host beside this one grabs the keyboard, takes the focus and lets the grab go, as a host's popup
  // menu does: the focus stays with that window (focusOwner says "other").
  void popUpWithTheFocus();
  // Destroys the window now, editor or not, as hosts do that tear their window down before closing the editor.
  void destroyWindow();
  bool destroyed() const { return destroyed_; }

  struct Impl;

 private:
  X11HostWindow() = default;
  Impl* impl_ = nullptr;
  uint32_t window_ = 0;
  bool destroyed_ = false;
  int width_ = 0, height_ = 0;
};

// Writes the pixels of the viewable top-level window whose name begins with `prefix` (a panel or alert of the
// plug-in, while the host is blocked in it) as an RGB PNG; false with *why when there is none.
bool captureWindowNamed(const std::string& prefix, const std::string& path, std::string* why);
// Asks the viewable top-level window whose name begins with `prefix` to close, as a window manager does when its
// close button is pressed (a WM_DELETE_WINDOW message); false with *why when there is none.
bool closeWindowNamed(const std::string& prefix, std::string* why);
// The names of the viewable top-level windows of the server of $DISPLAY that begin with `prefix` (none without one).
std::vector<std::string> viewableWindowNames(const std::string& prefix);

// "clients=N windows=N pixmaps=N gcs=N other=N": what every client of the server of $DISPLAY holds, through the
// X-Resource extension; *why and "" when there is no server or no extension.
std::string x11ResourceSummary(std::string* why);

}  // namespace vexhost

namespace vexhost {
// The X11 window of the editor the script opened with `editor open x11`, or null.
X11HostWindow* currentX11HostWindow();
}  // namespace vexhost
