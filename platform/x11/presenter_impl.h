// The presenter's state, shared by its units (presenter.cpp: window, pixels, events; menu_window.cpp: menus;
// dialog.cpp, file_panel.cpp and alert_window.cpp: open and save panels and alerts).
#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <atomic>
#include <bitset>
#include <deque>
#include <string>
#include <vector>

#include "platform/cocoa/menu.h"
#include "platform/cocoa/panels.h"
#include "platform/cocoa/view.h"
#include "platform/x11/canvas.h"
#include "platform/x11/keys.h"
#include "platform/x11/presenter.h"

namespace x11 {

// Presses this close in server time (ms) are one gesture: the clicks of a multiple click, a key pressed twice.
constexpr uint32_t kDoubleClickMs = 500;
// This connection leaves XKB's detectable auto-repeat off: the server repeats a held key as its release and a press
// of one time stamp, this close (ms).
constexpr uint32_t kRepeatPairMs = 1;

// A rectangle of window pixels from the top left.
struct PixelRect {
  int x = 0, y = 0, w = 0, h = 0;
};

struct Presenter::Impl {
  xcb_connection_t* c = nullptr;
  xcb_window_t parent = 0;
  xcb_window_t child = 0;
  xcb_window_t root = 0;
  xcb_gcontext_t gc = 0;
  xcb_visualid_t visual = 0;
  uint8_t depth = 0;
  int width = 0, height = 0;
  bool broken = false;          // the connection failed
  bool childDestroyed = false;  // the host destroyed its window and ours with it

  // MIT-SHM: one segment of width x height pixels in the server's format, written row by row where drawn.
  bool shm = false;
  xcb_shm_seg_t seg = 0;
  uint8_t* shmAddr = nullptr;
  std::vector<uint8_t> scratch;  // converted rows for plain image requests
  uint32_t maxRequestBytes = 0;

  KeyMap keys;
  cocoa::Window* window = nullptr;          // retained
  std::deque<xcb_generic_event_t*> queued;  // read while waiting for something else; handled next
  std::vector<PixelRect> exposed;
  long presented = 0;

  // Click counting as the platform does it: presses of one button close in time and place.
  xcb_window_t lastClickWindow = 0;
  uint8_t lastButton = 0;
  uint32_t lastPressTime = 0;
  int lastPressX = 0, lastPressY = 0, clickCount = 0;
  uint16_t buttonState = 0;  // X state of the last event
  // The key press a dialog is handling, by keycode (0 for none) and server time: a question it asks takes no second
  // press of that key as close as a double click's.
  uint8_t handledKey = 0;
  uint32_t handledKeyTime = 0;
  // The key press that chose the last menu item (0 when it was clicked, or a click or a key answered since), by
  // keycode and server time: a panel or question that the choice opens was asked by that key.
  uint8_t choiceKey = 0;
  uint32_t choiceKeyTime = 0;
  // The key whose last press was no input (0 once a press of any key over the editor is taken): the one that chose
  // the last menu item, or its second press that the field the choice opened ignored. The server's repeats of it are
  // no input either, however long it is held; a press after its release is.
  uint8_t untakenKey = 0;
  // The last key let go over the editor's window, by keycode and server time: a press of it at once is a repeat.
  uint8_t releasedKey = 0;
  uint32_t releasedKeyTime = 0;
  // The click that answered the last dialog, by button (0 when a key or a click on the editor came after it) and
  // server time: a dialog that this answer opens takes no second click of it as close as a double click's.
  uint8_t answerClickButton = 0;
  uint32_t answerClickTime = 0;

  // The keyboard (keyboard.cpp): the focus is the editor's only while it edits text.
  bool holdingFocus = false;       // the editor set the focus to its window
  bool wasEditing = false;         // a text edit was under way at the last look
  xcb_window_t focusBefore = 0;    // where the focus was when the editor took it
  std::bitset<256> forwardedDown;  // keys whose press went on to the host

  // Reading and handling events.
  // The click count of a press: 1, or one more than the last when it repeats a press of the same button on the same
  // window, close in time and place.
  int countClick(const xcb_button_press_event_t& press);
  void readEvents();
  void handle(xcb_generic_event_t* e, xcb_generic_event_t* next);
  void dispatch(uint32_t type, int x, int y, uint16_t state, double deltaY, int clicks);
  // Sends one model event to the window; answers whether the window left it unhandled.
  bool deliver(cocoa::Event* ev);
  void dispatchKey(const xcb_key_press_event_t& key);
  // True for a second press of the key that chose the last menu item, before any other key and as close to it as a
  // double click's clicks, while the text field that the choice opened is edited, and for the server's repeats of an
  // untaken key: they end nothing.
  bool repeatsChoiceKey(const xcb_key_press_event_t& key);
  // Takes the focus when a text edit begins (or is clicked while the host has the focus) and gives it back when
  // the edit ends.
  void updateKeyboard(bool pressed);
  void giveFocusBack();
  // Sends a key the editor did not use on to the host's window.
  void forwardKey(const xcb_key_press_event_t& key);
  void loadKeyMap();
  // Pixels.
  void presentDrawn();
  void present(PixelRect r);
  void runModel(const char* mode);
  void flush();
  bool alive() const { return !broken && !childDestroyed; }
  // A menu, panel or alert loop goes on: the presenter is alive and its editor is not closing.
  bool standing() const { return alive() && !abandoned.load(); }
  // Set from any thread by a close that ends whatever stands (Presenter::abandonModals).
  std::atomic<bool> abandoned{false};

  // The presenter's own windows: menus, panels and alerts.
  const xcb_screen_t* screen() const;
  // A window of w x h at (x, y) of the screen, with the event mask; an override-redirect one is never placed or
  // decorated by a window manager.
  xcb_window_t makeWindow(int x, int y, int w, int h, bool overrideRedirect, uint32_t eventMask);
  void setName(xcb_window_t win, const std::string& name);
  void putCanvas(xcb_window_t win, const Canvas& canvas);
  // A point of the editor's window (pixels from its top left) in screen coordinates.
  void toScreen(int* x, int* y);

  // The model's popup menu as X11 windows; returns the user's pick (empty when dismissed).
  cocoa::menus::Choice runMenu(const cocoa::ShownMenu& menu);
  // An open or save panel as an X11 window, run until the user answers.
  cocoa::panels::Answer runPanel(const cocoa::ShownPanel& panel);
  // An alert as an X11 window; the response of the button the user pressed.
  int runAlert(const cocoa::ShownAlert& alert);
};

// The presenter dispatching an event on this thread (menus pop up from inside event handling), or null.
Presenter::Impl* dispatchingPresenter();

}  // namespace x11
