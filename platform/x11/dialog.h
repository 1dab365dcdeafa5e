// A modal window of the presenter: an open or save panel or an alert. It stands centred over the editor, has the
// keyboard while it runs (and again when clicked), and runs until the user answers; the editor goes on drawing under
// it, and what the user does to the editor meanwhile is ignored.
// When the host destroys the editor's window or the server connection fails, the dialog ends unanswered.
// A key that was down when the dialog opened (a Return held from the panel into its question, say) is no answer: its
// presses, the server's repeats among them, are ignored until it has been let go. Nor is a second press of the key
// that asked a question of a dialog, before any other key and as close to the first as a double click's clicks; a
// menu item chosen with a key asks with that key whatever panel or question the choice opens, and Return and keypad
// Enter ask as one key.
// A dialog is answered only by what the user did after it appeared: a key or click made before its window was shown
// is none, and neither is a click that goes on with a run of clicks begun before it, each as close to the one before
// as a double click's: the run whose first click answered the dialog before it (a question asked again at once stands
// where the last one stood, under the pointer, and takes neither the second nor the third click of a triple click),
// or one begun before the window was shown. A click after a pause answers.
#pragma once

#include <bitset>
#include <string>

#include "platform/x11/canvas.h"
#include "platform/x11/keys.h"
#include "platform/x11/presenter_impl.h"

namespace x11 {

class Dialog {
 public:
  explicit Dialog(Presenter::Impl& p);
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Shows the window, w x h at most (kept on the screen), with the name as its title and runs it until finish();
  // false when it ended otherwise (no server, the editor's window destroyed, the window closed).
  bool run(const std::string& name, int w, int h);

 protected:
  // The window's size, known in draw() and the handlers.
  int width() const { return w_; }
  int height() const { return h_; }
  void finish() { finished_ = true; }
  // Takes the keys that are down now as held from before (after a question of the dialog's own, say).
  void holdKeysDown();
  // Draws anew and shows the result.
  void redraw();
  virtual void draw(Canvas& c) = 0;
  // A press of a button (1 left, 4 and 5 the wheel) at window pixels, the click count of left presses.
  virtual void press(int x, int y, int button, int clicks, uint16_t state) = 0;
  // A key pressed: its keysym and the X modifier state.
  virtual void key(uint32_t keysym, uint16_t state) = 0;

  Presenter::Impl& p_;
  // The dialogs' text and their titles' bold.
  const platform::text::FontRef font_, bold_;

 private:
  void handle(xcb_generic_event_t* e);
  // Lets go of the held keys that are up now, whose release went to another window.
  void releaseKeysUp();
  // False for the press of a held key, for a repeat the server sends as a release and a press at once, for the
  // second press of the key that opened the dialog, before any other key, and for a press before the window was shown.
  bool freshPress(const xcb_key_press_event_t& k);
  // True for a click on the window after it was shown that goes on with no run of clicks begun before; notes a click
  // that begins or goes on with such a run.
  bool freshClick(const xcb_button_press_event_t& b);
  // True once the window has been shown, at or after server time t.
  bool shownBy(uint32_t t) const { return shown_ && static_cast<int32_t>(t - shownAt_) >= 0; }
  uint32_t atom(const char* name);

  xcb_window_t win_ = 0;
  int w_ = 0, h_ = 0;
  bool finished_ = false;
  bool lost_ = false;       // the window was closed or destroyed without an answer
  bool destroyed_ = false;  // by someone else
  uint32_t deleteAtom_ = 0;
  uint8_t askedBy_ = 0;   // the key whose press opened the dialog, or chose the menu item that did (0: none)
  uint32_t askedAt_ = 0;  // and when
  bool shown_ = false;    // the window is shown: drawn and named
  uint32_t shownAt_ = 0;  // since that server time
  // A run of clicks of one button begun before the window was shown, as the one whose first click answered the
  // dialog before it: the button (0: none) and the server time of the run's last click.
  uint8_t runButton_ = 0;
  uint32_t runAt_ = 0;
  std::bitset<256> held_;          // keycodes held since before the dialog opened
  uint32_t releasedAt_[256] = {};  // the server time a held key was let go, 0 when it was not
  Canvas canvas_;
};

// The character a keysym types, or 0 (Latin-1 keysyms and those of Unicode characters).
char32_t typedCharacter(uint32_t keysym);

}  // namespace x11
