// The editor and the host's keyboard. The host keeps the X keyboard focus (Space to play, Ctrl+S to save) while the
// editor is only clicked: the editor takes the focus while one of its text fields is being edited and gives it back
// to whoever had it when the edit ends. Keys that reach the editor's window without being used there (the pointer is
// over the editor while the host has the focus, or the edit does not take the key) go on to the host, as if the
// editor's window had not selected them: to the nearest window above it that listens for keys.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/cocoa/textfield.h"
#include "platform/cocoa/textview.h"
#include "platform/x11/presenter_impl.h"

namespace x11 {

namespace {

template <class Reply>
struct FreeReply {
  void operator()(Reply* r) const { std::free(r); }
};
template <class Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply<Reply>>;

// True while the window's keys go into text: a text field being edited or an editable text view has them.
bool editingText(cocoa::Window* window) {
  cocoa::View* r = window ? window->firstResponder() : nullptr;
  if (!r) return false;
  if (auto* field = r->as<cocoa::TextField>()) return field->isEditing();
  if (auto* text = r->as<cocoa::TextView>()) return text->editable;
  return false;
}

}  // namespace

void Presenter::Impl::updateKeyboard(bool pressed) {
  if (!alive()) return;
  const bool editing = editingText(window);
  const bool began = editing && !wasEditing;
  wasEditing = editing;
  // A focus someone took during the edit is taken back only by a click, never by the pointer passing by.
  if (editing && !holdingFocus && (began || pressed)) {
    ReplyPtr<xcb_get_input_focus_reply_t> before(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!before) return;
    focusBefore = before->focus;
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, child, XCB_CURRENT_TIME);
    holdingFocus = true;
  } else if (!editing && holdingFocus) {
    giveFocusBack();
  }
}

bool Presenter::Impl::repeatsChoiceKey(const xcb_key_press_event_t& key) {
  const bool repeat = key.detail == releasedKey && key.time - releasedKeyTime <= kRepeatPairMs;
  if (repeat && key.detail == untakenKey) return true;
  const bool second = choiceKey && keys.sameAskingKey(choiceKey, key.detail) &&
                      key.time - choiceKeyTime <= kDoubleClickMs && editingText(window);
  untakenKey = second ? key.detail : 0;
  return second;
}

void Presenter::Impl::giveFocusBack() {
  if (!holdingFocus) return;
  holdingFocus = false;
  if (!alive()) return;
  // Only while the editor still has it: a focus someone else took since is theirs.
  ReplyPtr<xcb_get_input_focus_reply_t> now(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  if (!now || now->focus != child) return;
  // A window that went away meanwhile costs an error event, and the focus then stays with the host's window.
  xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, focusBefore == child ? parent : focusBefore, XCB_CURRENT_TIME);
}

void Presenter::Impl::forwardKey(const xcb_key_press_event_t& key) {
  const bool press = (key.response_type & 0x7F) == XCB_KEY_PRESS;
  // A release goes where its press went.
  if (!press && !forwardedDown.test(key.detail)) return;
  forwardedDown.set(key.detail, press);
  if (!alive()) return;
  const uint32_t mask = press ? XCB_EVENT_MASK_KEY_PRESS : XCB_EVENT_MASK_KEY_RELEASE;
  // Up from the host's window to the first window that listens for the key, unless one on the way keeps it.
  xcb_window_t below = child, w = parent;
  while (w && w != root) {
    ReplyPtr<xcb_get_window_attributes_reply_t> a(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
    if (!a) return;
    if (a->all_event_masks & mask) break;
    if (a->do_not_propagate_mask & mask) return;
    ReplyPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
    if (!tree) return;
    below = w;
    w = tree->parent;
  }
  if (!w || w == root) return;
  ReplyPtr<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
      c, xcb_translate_coordinates(c, child, w, key.event_x, key.event_y), nullptr));
  if (!at) return;
  xcb_key_press_event_t out = key;
  out.event = w;
  out.child = below;
  out.event_x = at->dst_x;
  out.event_y = at->dst_y;
  out.same_screen = 1;
  char bytes[32] = {};
  static_assert(sizeof out <= sizeof bytes, "an X event is 32 bytes");
  std::memcpy(bytes, &out, sizeof out);
  xcb_send_event(c, 0, w, mask, bytes);
}

}  // namespace x11
