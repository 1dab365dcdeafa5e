#include "tools/vexmir-host/x11_host.h"

#include <xcb/res.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/graphics/png.h"
#include "tools/vexmir-host/x11_wm.h"

namespace vexhost {

struct X11HostWindow::Impl {
  xcb_connection_t* c = nullptr;  // the host's connection, not the window's own
  uint32_t popup = 0;             // the popup made by popUpWithTheFocus, which goes with the window
  std::vector<std::string> keys;  // since the last look
};

namespace {

// The host's one connection to the X server, made at the first need and kept for the process, as a DAW keeps its
// own. An X server started without -noreset (a bare Xvfb) resets when its last client leaves and hangs up on a
// connection that arrives meanwhile: a host that let go of the server when the editor closed would find none when it
// opened the editor again. Null, with the reason, when no server answers.
xcb_connection_t* hostConnection(int* screenNumber, std::string* why) {
  static xcb_connection_t* kept = nullptr;
  static int keptScreen = 0;
  if (!kept) {
    xcb_connection_t* c = xcb_connect(nullptr, &keptScreen);
    if (xcb_connection_has_error(c)) {
      xcb_disconnect(c);
      const char* display = std::getenv("DISPLAY");
      *why = std::string("no X11 server answers at DISPLAY=\"") + (display ? display : "") + "\"";
      return nullptr;
    }
    kept = c;
  }
  *screenNumber = keptScreen;
  return kept;
}

// The first keysym of a key code, as the server maps it.
uint32_t firstKeysym(xcb_connection_t* c, uint8_t keycode) {
  xcb_get_keyboard_mapping_reply_t* map =
      xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, keycode, 1), nullptr);
  if (!map) return 0;
  const uint32_t sym = xcb_get_keyboard_mapping_keysyms_length(map) > 0 ? xcb_get_keyboard_mapping_keysyms(map)[0] : 0;
  std::free(map);
  return sym;
}

}  // namespace

std::unique_ptr<X11HostWindow> X11HostWindow::open(int width, int height, std::string* why) {
  int screenNumber = 0;
  xcb_connection_t* c = hostConnection(&screenNumber, why);
  if (!c) return nullptr;
  xcb_screen_iterator_t si = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && si.rem; ++i) xcb_screen_next(&si);
  const xcb_screen_t* screen = si.data;
  std::unique_ptr<X11HostWindow> w(new X11HostWindow);
  w->impl_ = new Impl{c, 0, {}};
  w->width_ = width;
  w->height_ = height;
  w->window_ = xcb_generate_id(c);
  // A DAW's window listens for keys: its own shortcuts.
  const uint32_t values[] = {0x303030,
                             XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, w->window_, screen->root, 0, 0, static_cast<uint16_t>(width),
                    static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                    XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
  static const char kName[] = "vexmir-host";
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w->window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, sizeof kName - 1,
                      kName);
  xcb_map_window(c, w->window_);
  xcb_flush(c);
  // The window is on the screen once the server says it is mapped.
  while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
    const bool mapped = (e->response_type & 0x7F) == XCB_MAP_NOTIFY &&
                        reinterpret_cast<xcb_map_notify_event_t*>(e)->window == w->window_;
    std::free(e);
    if (mapped) break;
  }
  // The window has the keyboard, as a window manager gives it to the window the user works in.
  xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, w->window_, XCB_CURRENT_TIME);
  w->sync();
  return w;
}

X11HostWindow::~X11HostWindow() {
  if (!impl_) return;
  destroyWindow();
  delete impl_;
}

void X11HostWindow::destroyWindow() {
  if (destroyed_) return;
  destroyed_ = true;
  xcb_destroy_window(impl_->c, window_);
  if (impl_->popup) xcb_destroy_window(impl_->c, impl_->popup);
  sync();
}

void X11HostWindow::popUpWithTheFocus() {
  xcb_connection_t* c = impl_->c;
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  if (impl_->popup) xcb_destroy_window(c, impl_->popup);
  const xcb_window_t popup = impl_->popup = xcb_generate_id(c);
  const uint32_t overrideRedirect = 1;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, popup, screen->root, static_cast<int16_t>(width_ + 10), 0, 40, 40, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
  xcb_map_window(c, popup);
  std::free(xcb_grab_keyboard_reply(
      c, xcb_grab_keyboard(c, 0, popup, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr));
  xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, popup, XCB_CURRENT_TIME);
  xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
  sync();
}

void X11HostWindow::sync() {
  std::free(xcb_get_input_focus_reply(impl_->c, xcb_get_input_focus(impl_->c), nullptr));
  // Of our own window's events, only the keys are of interest.
  while (xcb_generic_event_t* e = xcb_poll_for_event(impl_->c)) {
    const uint8_t type = e->response_type & 0x7F;
    if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
      char text[48];
      std::snprintf(text, sizeof text, "%s 0x%x%s", type == XCB_KEY_PRESS ? "press" : "release",
                    firstKeysym(impl_->c, reinterpret_cast<xcb_key_press_event_t*>(e)->detail),
                    (e->response_type & 0x80) ? " sent" : "");
      impl_->keys.push_back(text);
    }
    std::free(e);
  }
}

std::vector<std::string> X11HostWindow::takeKeys() {
  sync();
  std::vector<std::string> out;
  out.swap(impl_->keys);
  return out;
}

std::string X11HostWindow::focusOwner(uint32_t editorWindow) {
  xcb_get_input_focus_reply_t* r = xcb_get_input_focus_reply(impl_->c, xcb_get_input_focus(impl_->c), nullptr);
  const uint32_t focus = r ? r->focus : 0;
  std::free(r);
  if (focus == window_) return "host";
  if (focus && focus == editorWindow) return "editor";
  if (focus == XCB_NONE) return "none";
  if (focus == XCB_INPUT_FOCUS_POINTER_ROOT) return "pointer root";
  return "other";
}

namespace {

// A viewable window's pixels as the server has them (its children included) as an RGB PNG.
bool writeWindowImage(xcb_connection_t* c, uint32_t window, int width, int height, const std::string& path,
                      std::string* why) {
  xcb_generic_error_t* err = nullptr;
  xcb_get_image_reply_t* image =
      xcb_get_image_reply(c,
                          xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, static_cast<uint16_t>(width),
                                        static_cast<uint16_t>(height), ~0u),
                          &err);
  std::free(err);
  if (!image) {
    *why = "the server gave no image of the window";
    return false;
  }
  const uint8_t* data = xcb_get_image_data(image);
  const int length = xcb_get_image_data_length(image);
  if (length < width * height * 4) {
    std::free(image);
    *why = "the window's image is not 32 bits a pixel";
    return false;
  }
  // Little-endian 32-bit true colour (blue, green, red, pad) into the drawing contexts' layout.
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = 0xFF;
    pixels[i + 1] = data[i + 2];
    pixels[i + 2] = data[i + 1];
    pixels[i + 3] = data[i];
  }
  std::free(image);
  if (!platform::gfx::writeRgbPngFile(path, pixels.data(), width, height, width * 4)) {
    *why = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

bool X11HostWindow::screenshot(const std::string& path, std::string* why) {
  if (destroyed_) {
    *why = "the host window is destroyed";
    return false;
  }
  return writeWindowImage(impl_->c, window_, width_, height_, path, why);
}

namespace {

// Calls `each` with every viewable top-level window of the server, its name and size, until it returns true.
void forEachViewableTopLevel(xcb_connection_t* c,
                             const std::function<bool(xcb_window_t, const std::string&, int, int)>& each) {
  xcb_query_tree_reply_t* tree =
      xcb_connection_has_error(c)
          ? nullptr
          : xcb_query_tree_reply(c, xcb_query_tree(c, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root), nullptr);
  const xcb_window_t* children = tree ? xcb_query_tree_children(tree) : nullptr;
  bool done = false;
  for (int i = 0; tree && i < xcb_query_tree_children_length(tree) && !done; ++i) {
    xcb_get_property_reply_t* name = xcb_get_property_reply(
        c, xcb_get_property(c, 0, children[i], XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 256), nullptr);
    xcb_get_window_attributes_reply_t* attrs =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr);
    const std::string text = name ? std::string(static_cast<const char*>(xcb_get_property_value(name)),
                                                static_cast<size_t>(xcb_get_property_value_length(name)))
                                  : std::string();
    if (attrs && geometry && attrs->map_state == XCB_MAP_STATE_VIEWABLE)
      done = each(children[i], text, geometry->width, geometry->height);
    std::free(name);
    std::free(attrs);
    std::free(geometry);
  }
  std::free(tree);
}

}  // namespace

bool captureWindowNamed(const std::string& prefix, const std::string& path, std::string* why) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  *why = "no viewable top-level window is named \"" + prefix + "...\"";
  bool done = false;
  forEachViewableTopLevel(c, [&](xcb_window_t w, const std::string& text, int width, int height) {
    if (text.compare(0, prefix.size(), prefix) == 0) done = writeWindowImage(c, w, width, height, path, why);
    return done;
  });
  xcb_disconnect(c);
  return done;
}

bool closeWindowNamed(const std::string& prefix, std::string* why) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  *why = "no viewable top-level window is named \"" + prefix + "...\"";
  xcb_window_t target = 0;
  forEachViewableTopLevel(c, [&](xcb_window_t w, const std::string& text, int, int) {
    if (text.compare(0, prefix.size(), prefix) == 0) target = w;
    return target != 0;
  });
  if (target) {
    askWindowToClose(c, target);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // a round trip: the server has it
  }
  xcb_disconnect(c);
  return target != 0;
}

std::vector<std::string> viewableWindowNames(const std::string& prefix) {
  std::vector<std::string> names;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  forEachViewableTopLevel(c, [&](xcb_window_t, const std::string& text, int, int) {
    if (text.compare(0, prefix.size(), prefix) == 0) names.push_back(text);
    return false;
  });
  xcb_disconnect(c);
  return names;
}

std::string x11ResourceSummary(std::string* why) {
  int screenNumber = 0;
  xcb_connection_t* c = hostConnection(&screenNumber, why);
  if (!c) return "";
  // Made if need be: the server names a resource type's atom only when a look at the resources first reports that
  // type, and a type not yet named would count as other in the first summary and as itself in the next.
  const xcb_atom_t windowAtom = internAtom(c, "WINDOW"), pixmapAtom = internAtom(c, "PIXMAP"),
                   gcAtom = internAtom(c, "GC");
  xcb_res_query_clients_reply_t* clients = xcb_res_query_clients_reply(c, xcb_res_query_clients(c), nullptr);
  if (!clients) {
    *why = "the X11 server has no X-Resource extension";
    return "";
  }
  // The host's own connection is not counted: it holds only the host's window.
  const uint32_t self = xcb_get_setup(c)->resource_id_base;
  long nClients = 0, windows = 0, pixmaps = 0, gcs = 0, other = 0;
  xcb_res_client_iterator_t it = xcb_res_query_clients_clients_iterator(clients);
  for (; it.rem; xcb_res_client_next(&it)) {
    if (it.data->resource_base == self) continue;
    ++nClients;
    xcb_res_query_client_resources_reply_t* res =
        xcb_res_query_client_resources_reply(c, xcb_res_query_client_resources(c, it.data->resource_base), nullptr);
    if (!res) continue;
    for (xcb_res_type_iterator_t t = xcb_res_query_client_resources_types_iterator(res); t.rem; xcb_res_type_next(&t)) {
      if (t.data->resource_type == windowAtom) {
        windows += t.data->count;
      } else if (t.data->resource_type == pixmapAtom) {
        pixmaps += t.data->count;
      } else if (t.data->resource_type == gcAtom) {
        gcs += t.data->count;
      } else {
        other += t.data->count;
      }
    }
    std::free(res);
  }
  std::free(clients);
  return "clients=" + std::to_string(nClients) + " windows=" + std::to_string(windows) +
         " pixmaps=" + std::to_string(pixmaps) + " gcs=" + std::to_string(gcs) + " other=" + std::to_string(other);
}

}  // namespace vexhost
