#include "platform/x11/dialog.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/cocoa/runloop.h"

namespace x11 {

Dialog::Dialog(Presenter::Impl& p)
    : p_(p), font_(platform::text::labelFont(13)), bold_(platform::text::createFont("DejaVu Sans Bold", 14)) {}

char32_t typedCharacter(uint32_t keysym) {
  if ((keysym >= 0x20 && keysym < 0x7F) || (keysym >= 0xA0 && keysym <= 0xFF)) return keysym;
  if ((keysym & 0xFF000000u) == 0x01000000u) return keysym & 0xFFFFFF;
  return 0;
}

uint32_t Dialog::atom(const char* name) {
  xcb_intern_atom_reply_t* r =
      xcb_intern_atom_reply(p_.c, xcb_intern_atom(p_.c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  const uint32_t a = r ? r->atom : 0;
  std::free(r);
  return a;
}

namespace {

// The keys the server has down, by keycode.
std::bitset<256> keysDown(xcb_connection_t* c) {
  std::bitset<256> down;
  if (xcb_query_keymap_reply_t* r = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr)) {
    for (int code = 0; code < 256; ++code) down[code] = (r->keys[code / 8] >> (code % 8)) & 1;
    std::free(r);
  }
  return down;
}

}  // namespace

void Dialog::holdKeysDown() {
  held_ = keysDown(p_.c);
  std::fill(std::begin(releasedAt_), std::end(releasedAt_), 0);
}

void Dialog::releaseKeysUp() {
  if (held_.none()) return;
  const std::bitset<256> down = keysDown(p_.c);
  // What the server sent before it answered came while the keys were held.
  while (!finished_ && !lost_) {
    xcb_generic_event_t* e = xcb_poll_for_queued_event(p_.c);
    if (!e) break;
    handle(e);
    std::free(e);
  }
  held_ &= down;
}

bool Dialog::freshPress(const xcb_key_press_event_t& k) {
  uint32_t& released = releasedAt_[k.detail];
  if (released != 0 && k.time - released <= kRepeatPairMs) held_[k.detail] = true;
  released = 0;
  if (held_[k.detail] || !shownBy(k.time) ||
      (askedBy_ && p_.keys.sameAskingKey(askedBy_, k.detail) && k.time - askedAt_ <= kDoubleClickMs))
    return false;
  askedBy_ = 0;  // another key between makes the asking key's next press no second one
  return true;
}

bool Dialog::freshClick(const xcb_button_press_event_t& b) {
  const bool continues = b.detail == runButton_ && b.time - runAt_ <= kDoubleClickMs;
  if (b.event == win_ && shownBy(b.time) && !continues) return true;
  // A click before the window was shown begins a run, one close to the run's last goes on with it, wherever it
  // landed (the editor under a window not yet mapped, the last dialog's window on its way out).
  if (continues || !shownBy(b.time)) {
    runButton_ = b.detail;
    runAt_ = b.time;
  }
  return false;
}

void Dialog::redraw() {
  if (!canvas_.begin(w_, h_, 0xECECEC)) return;
  draw(canvas_);
  canvas_.frame(0, 0, static_cast<float>(w_), static_cast<float>(h_), 0x8A8A8A);
  if (win_ && p_.alive()) p_.putCanvas(win_, canvas_);
}

bool Dialog::run(const std::string& name, int w, int h) {
  if (!p_.standing()) return false;
  p_.lastClickWindow = 0;  // a click after the dialog begins a new count
  // Asked by the key a dialog is handling (a panel's Return that asks whether to replace), else by the one that chose
  // the menu item.
  askedBy_ = p_.handledKey ? p_.handledKey : p_.choiceKey;
  askedAt_ = p_.handledKey ? p_.handledKeyTime : p_.choiceKeyTime;
  runButton_ = p_.answerClickButton;
  runAt_ = p_.answerClickTime;
  const xcb_screen_t* screen = p_.screen();
  w_ = std::max(1, std::min(w, screen->width_in_pixels - 20));
  h_ = std::max(1, std::min(h, screen->height_in_pixels - 20));
  // Centred over the editor, on the screen.
  int x = (p_.width - w_) / 2, y = (p_.height - h_) / 2;
  p_.toScreen(&x, &y);
  x = std::max(0, std::min(x, screen->width_in_pixels - w_));
  y = std::max(0, std::min(y, screen->height_in_pixels - h_));
  xcb_get_input_focus_reply_t* focus = xcb_get_input_focus_reply(p_.c, xcb_get_input_focus(p_.c), nullptr);
  const xcb_window_t focusBefore = focus ? focus->focus : XCB_NONE;
  std::free(focus);

  win_ =
      p_.makeWindow(x, y, w_, h_, false,
                    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_KEY_PRESS |
                        XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
  // A window manager keeps it above the host's window, at its size, and asks it to close through WM_DELETE_WINDOW.
  const uint32_t protocols = atom("WM_PROTOCOLS");
  deleteAtom_ = atom("WM_DELETE_WINDOW");
  xcb_change_property(p_.c, XCB_PROP_MODE_REPLACE, win_, protocols, XCB_ATOM_ATOM, 32, 1, &deleteAtom_);
  xcb_change_property(p_.c, XCB_PROP_MODE_REPLACE, win_, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &p_.parent);
  const uint32_t dialogType = atom("_NET_WM_WINDOW_TYPE_DIALOG");
  xcb_change_property(p_.c, XCB_PROP_MODE_REPLACE, win_, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1,
                      &dialogType);
  uint32_t hints[18] = {};
  hints[0] = 1 | 16 | 32;  // user position, minimum and maximum size
  hints[1] = static_cast<uint32_t>(x);
  hints[2] = static_cast<uint32_t>(y);
  hints[5] = hints[7] = static_cast<uint32_t>(w_);
  hints[6] = hints[8] = static_cast<uint32_t>(h_);
  xcb_change_property(p_.c, XCB_PROP_MODE_REPLACE, win_, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18,
                      hints);
  xcb_map_window(p_.c, win_);
  // Without a window manager the window is on the screen now and takes the keyboard at once (what is typed next is
  // its); with one, when it has been mapped.
  xcb_set_input_focus(p_.c, XCB_INPUT_FOCUS_PARENT, win_, XCB_CURRENT_TIME);
  // Asked after the focus: a key down now is let go in a release to this window, or later to another one.
  holdKeysDown();
  redraw();
  // Named once drawn: whoever finds the window by its name finds it complete, and the server's note of the name
  // tells from when on it was shown.
  p_.setName(win_, name);

  while (!finished_ && !lost_ && p_.standing()) {
    p_.flush();
    pollfd pfd{xcb_get_file_descriptor(p_.c), POLLIN, 0};
    poll(&pfd, 1, 20);
    while (!finished_ && !lost_) {
      xcb_generic_event_t* e = xcb_poll_for_event(p_.c);
      if (!e) break;
      handle(e);
      std::free(e);
    }
    if (!finished_ && !lost_) releaseKeysUp();
    if (xcb_connection_has_error(p_.c)) p_.broken = true;
    // The editor goes on drawing under the dialog.
    p_.runModel(cocoa::kModalPanelRunLoopMode);
    p_.presentDrawn();
  }
  if (!p_.broken) {
    if (!destroyed_) xcb_destroy_window(p_.c, win_);
    // The keyboard goes back to where it was; a window that is gone meanwhile costs an ignored error.
    if (focusBefore != XCB_NONE) xcb_set_input_focus(p_.c, XCB_INPUT_FOCUS_POINTER_ROOT, focusBefore, XCB_CURRENT_TIME);
    p_.flush();
  }
  win_ = 0;
  return finished_;
}

void Dialog::handle(xcb_generic_event_t* e) {
  switch (e->response_type & 0x7F) {
    case XCB_EXPOSE: {
      auto* x = reinterpret_cast<xcb_expose_event_t*>(e);
      if (x->window == p_.child) p_.exposed.push_back(PixelRect{x->x, x->y, x->width, x->height});
      if (x->window == win_ && x->count == 0) p_.putCanvas(win_, canvas_);
      break;
    }
    case XCB_MAP_NOTIFY:
      if (reinterpret_cast<xcb_map_notify_event_t*>(e)->window == win_)
        xcb_set_input_focus(p_.c, XCB_INPUT_FOCUS_PARENT, win_, XCB_CURRENT_TIME);
      break;
    case XCB_BUTTON_PRESS: {
      auto* b = reinterpret_cast<xcb_button_press_event_t*>(e);
      const bool fresh = freshClick(*b);
      if (b->event != win_) break;  // the editor's input is ignored until the dialog is answered
      xcb_set_input_focus(p_.c, XCB_INPUT_FOCUS_PARENT, win_, XCB_CURRENT_TIME);
      if (!fresh) break;
      p_.choiceKey = 0;  // what the click opens was not asked by a menu's key
      p_.answerClickButton = 0;
      press(b->event_x, b->event_y, b->detail, b->detail == 1 ? p_.countClick(*b) : 0, b->state);
      if (finished_ && !p_.answerClickButton) {  // a dialog that the answer opens takes no second click of it
        p_.answerClickButton = b->detail;
        p_.answerClickTime = b->time;
      }
      break;
    }
    case XCB_KEY_PRESS: {
      auto* k = reinterpret_cast<xcb_key_press_event_t*>(e);
      if (k->event != win_ || !freshPress(*k)) break;
      p_.choiceKey = 0;
      p_.answerClickButton = 0;
      p_.handledKey = k->detail;
      p_.handledKeyTime = k->time;
      key(p_.keys.keysym(k->detail, k->state), k->state);
      p_.handledKey = 0;
      break;
    }
    case XCB_KEY_RELEASE: {  // to this window or to one of the editor's that had the keyboard before
      auto* k = reinterpret_cast<xcb_key_release_event_t*>(e);
      if (held_[k->detail]) {
        held_[k->detail] = false;
        releasedAt_[k->detail] = k->time ? k->time : 1;
      }
      break;
    }
    case XCB_PROPERTY_NOTIFY: {
      auto* n = reinterpret_cast<xcb_property_notify_event_t*>(e);
      if (n->window == win_ && n->atom == XCB_ATOM_WM_NAME && !shown_) {
        shown_ = true;
        shownAt_ = n->time;
      }
      break;
    }
    case XCB_CLIENT_MESSAGE: {
      auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
      if (m->window == win_ && m->format == 32 && m->data.data32[0] == deleteAtom_) lost_ = true;
      break;
    }
    case XCB_DESTROY_NOTIFY: {
      const xcb_window_t gone = reinterpret_cast<xcb_destroy_notify_event_t*>(e)->window;
      if (gone == p_.child) p_.childDestroyed = true;
      if (gone == win_) lost_ = destroyed_ = true;
      break;
    }
    case XCB_MAPPING_NOTIFY:
      if (reinterpret_cast<xcb_mapping_notify_event_t*>(e)->request != XCB_MAPPING_POINTER) p_.loadKeyMap();
      break;
    default:
      break;
  }
}

}  // namespace x11
