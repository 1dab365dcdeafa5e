// What a window manager says to a client's window, shared by the test host and the tests of real hosts' windows.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vexhost {

// The atom of a name; with onlyIfExists, 0 for a name the server does not know yet.
inline xcb_atom_t internAtom(xcb_connection_t* c, const char* name, bool onlyIfExists = false) {
  xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, onlyIfExists ? 1 : 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  const xcb_atom_t a = r ? r->atom : 0;
  std::free(r);
  return a;
}

// Asks a top-level window to close as a window manager's close button does: a WM_DELETE_WINDOW message to the
// window's own client (no event mask, as the protocol has it).
inline void askWindowToClose(xcb_connection_t* c, xcb_window_t window) {
  xcb_client_message_event_t m{};
  m.response_type = XCB_CLIENT_MESSAGE;
  m.format = 32;
  m.window = window;
  m.type = internAtom(c, "WM_PROTOCOLS");
  m.data.data32[0] = internAtom(c, "WM_DELETE_WINDOW");
  m.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&m));
  xcb_flush(c);
}

}  // namespace vexhost
