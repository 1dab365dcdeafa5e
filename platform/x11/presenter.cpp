#include "platform/x11/presenter.h"

#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/cocoa/application.h"
#include "platform/cocoa/object.h"
#include "platform/cocoa/panels.h"
#include "platform/cocoa/runloop.h"
#include "platform/graphics/graphics.h"
#include "platform/x11/presenter_impl.h"

namespace x11 {

namespace {

// X event masks and pointer state bits (protocol numbers).
constexpr uint32_t kEventMask = XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                XCB_EVENT_MASK_FOCUS_CHANGE | XCB_EVENT_MASK_ENTER_WINDOW |
                                XCB_EVENT_MASK_STRUCTURE_NOTIFY;
constexpr uint16_t kButton1Mask = 256, kButton3Mask = 1024;
// Presses of one button this close in place (pixels), and in time (kDoubleClickMs), count as one multiple click.
constexpr int kDoubleClickSlop = 4;
// Plain image requests stay below this size, whatever the server would take.
constexpr uint32_t kMaxPutBytes = 256 * 1024;

std::mutex g_mutex;
std::vector<Presenter*>& presenters() {
  static auto* p = new std::vector<Presenter*>;
  return *p;
}

thread_local Presenter::Impl* t_dispatching = nullptr;

// While an X11 editor is open, popup menus of the model are the user's X11 menus when they pop up from its events.
cocoa::menus::Choice chooseFromScreen(const cocoa::ShownMenu& menu) {
  if (Presenter::Impl* p = dispatchingPresenter()) return p->runMenu(menu);
  return cocoa::menus::takeScriptedChoice();
}

// Panels and alerts that nothing scripted appear on the screen when the user's input in an editor opened them.
// Asked at any other time (the host's thread outside the editor's idle, another thread) nobody sees them: a panel
// is cancelled and an alert ends unanswered, never with its default button.
cocoa::panels::Answer panelFromScreen(const cocoa::ShownPanel& panel) {
  if (Presenter::Impl* p = dispatchingPresenter()) return p->runPanel(panel);
  return {};
}
int alertFromScreen(const cocoa::ShownAlert& alert) {
  if (Presenter::Impl* p = dispatchingPresenter()) return p->runAlert(alert);
  return cocoa::kAlertCancelResponse;
}

void showDialogsOnScreen(bool on) {
  cocoa::menus::setChooser(on ? chooseFromScreen : nullptr);
  cocoa::panels::setRunner(on ? panelFromScreen : nullptr);
  cocoa::alerts::setRunner(on ? alertFromScreen : nullptr);
  cocoa::workspace::setOpensOnDesktop(on);
}

// One model pixel (a leading byte, then red, green, blue) as a 32-bit little-endian true colour pixel.
inline uint32_t toServerPixel(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return __builtin_bswap32(v) | 0xFF000000u;
}

void convertRow(const uint8_t* src, uint8_t* dst, int n) {
  auto* out = reinterpret_cast<uint32_t*>(dst);
  for (int i = 0; i < n; ++i) out[i] = toServerPixel(src + i * 4);
}

template <class Reply>
struct FreeReply {
  void operator()(Reply* r) const { std::free(r); }
};
template <class Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply<Reply>>;

}  // namespace

Presenter::Impl* dispatchingPresenter() {
  return t_dispatching;
}

uint32_t hostWindowOf(const void* ptr) {
  if (!ptr) return 0;
  const uintptr_t v = reinterpret_cast<uintptr_t>(ptr);
  // Resource ids have 29 bits; anything larger is an address.
  if (v >> 29) return 0;
  if (cocoa::Object::isLiveAddress(ptr)) return 0;
  return static_cast<uint32_t>(v);
}

// ---------------------------------------------------------------------------------------------------------------
// Opening and closing

Presenter* Presenter::open(uint32_t parent, int width, int height, const Attach& attach, std::string* why) {
  std::string reason;
  if (!why) why = &reason;
  if (width < 1 || height < 1 || width > 32767 || height > 32767) {
    *why = "the editor has no size";
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  int screenNumber = 0;
  impl->c = xcb_connect(nullptr, &screenNumber);
  // Whatever fails from here on, the destructor of a half-made presenter gives everything back.
  Presenter* shell = new Presenter(impl.release());
  std::unique_ptr<Presenter> p(shell);
  Impl& s = *p->impl_;
  s.width = width;
  s.height = height;
  if (xcb_connection_has_error(s.c)) {
    const char* display = std::getenv("DISPLAY");
    *why = std::string("no X11 server answers at DISPLAY=\"") + (display ? display : "") + "\"";
    s.broken = true;
    return nullptr;
  }
  const xcb_setup_t* setup = xcb_get_setup(s.c);
  xcb_screen_iterator_t si = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && si.rem; ++i) xcb_screen_next(&si);
  if (!si.rem) {
    *why = "the X11 server has no such screen";
    return nullptr;
  }
  const xcb_screen_t* screen = si.data;
  s.root = screen->root;

  xcb_generic_error_t* err = nullptr;
  ReplyPtr<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(s.c, xcb_get_geometry(s.c, parent), &err));
  std::free(err);
  if (!geometry) {
    char text[96];
    std::snprintf(text, sizeof text, "the host's X11 window 0x%x does not exist", parent);
    *why = text;
    return nullptr;
  }
  s.parent = parent;

  // The root visual, when it is 24-bit true colour in 32-bit little-endian pixels: the editor's pixels then copy as
  // they are, with their bytes in the server's order.
  const xcb_visualtype_t* visual = nullptr;
  for (xcb_depth_iterator_t di = xcb_screen_allowed_depths_iterator(screen); di.rem; xcb_depth_next(&di)) {
    for (xcb_visualtype_iterator_t vi = xcb_depth_visuals_iterator(di.data); vi.rem; xcb_visualtype_next(&vi))
      if (vi.data->visual_id == screen->root_visual) visual = vi.data;
  }
  int bitsPerPixel = 0;
  for (xcb_format_iterator_t fi = xcb_setup_pixmap_formats_iterator(setup); fi.rem; xcb_format_next(&fi))
    if (fi.data->depth == screen->root_depth) bitsPerPixel = fi.data->bits_per_pixel;
  if (!visual || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR || visual->red_mask != 0xFF0000 ||
      visual->green_mask != 0xFF00 || visual->blue_mask != 0xFF || bitsPerPixel != 32 ||
      setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST || (screen->root_depth != 24 && screen->root_depth != 32)) {
    *why = "the X11 screen is not 24-bit true colour";
    return nullptr;
  }
  s.visual = screen->root_visual;
  s.depth = screen->root_depth;

  s.child = xcb_generate_id(s.c);
  // No background: nothing flashes before the editor's pixels arrive. A colour map of its own visual lets the child
  // live in a host window of another depth.
  const uint32_t values[] = {XCB_BACK_PIXMAP_NONE, 0, kEventMask, screen->default_colormap};
  err = xcb_request_check(
      s.c, xcb_create_window_checked(s.c, s.depth, s.child, parent, 0, 0, static_cast<uint16_t>(width),
                                     static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, s.visual,
                                     XCB_CW_BACK_PIXMAP | XCB_CW_BORDER_PIXEL | XCB_CW_EVENT_MASK | XCB_CW_COLORMAP,
                                     values));
  if (err) {
    std::free(err);
    s.child = 0;
    *why = "the X11 server refused the editor's window";
    return nullptr;
  }
  static const char kName[] = "Vexmir Editor";
  xcb_change_property(s.c, XCB_PROP_MODE_REPLACE, s.child, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, sizeof kName - 1,
                      kName);
  s.gc = xcb_generate_id(s.c);
  const uint32_t gcValues[] = {0};
  xcb_create_gc(s.c, s.gc, s.child, XCB_GC_GRAPHICS_EXPOSURES, gcValues);

  // Shared memory works only with a server on this machine; the attach request tells.
  const xcb_query_extension_reply_t* shmExt = xcb_get_extension_data(s.c, &xcb_shm_id);
  if (shmExt && shmExt->present && !std::getenv("VEXMIR_X11_NO_SHM")) {
    const size_t bytes = static_cast<size_t>(width) * height * 4;
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id >= 0) {
      void* addr = shmat(id, nullptr, 0);
      if (addr != reinterpret_cast<void*>(-1)) {
        s.seg = xcb_generate_id(s.c);
        xcb_generic_error_t* e = xcb_request_check(s.c, xcb_shm_attach_checked(s.c, s.seg, id, 0));
        if (!e) {
          s.shm = true;
          s.shmAddr = static_cast<uint8_t*>(addr);
        } else {
          std::free(e);
          s.seg = 0;
          shmdt(addr);
        }
      }
      // The segment goes when both sides have detached, even if this process dies.
      shmctl(id, IPC_RMID, nullptr);
    }
  }
  s.maxRequestBytes = std::min<uint32_t>(kMaxPutBytes, xcb_get_maximum_request_length(s.c) * 4u);
  s.loadKeyMap();
  xcb_map_window(s.c, s.child);
  s.flush();

  s.window = new cocoa::Window(cocoa::Rect{0, 0, static_cast<double>(width), static_cast<double>(height)});
  s.window->makeKeyAndOrderFront();
  if (!attach || !attach(s.window->contentView())) {
    *why = "the editor made no view";
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (presenters().empty()) showDialogsOnScreen(true);
    presenters().push_back(shell);
  }
  return p.release();
}

Presenter::~Presenter() {
  Impl& s = *impl_;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto& all = presenters();
    auto it = std::find(all.begin(), all.end(), this);
    if (it != all.end()) {
      all.erase(it);
      if (all.empty()) showDialogsOnScreen(false);
    }
  }
  if (s.window) {
    s.window->close();
    s.window->release();
  }
  for (xcb_generic_event_t* e : s.queued) std::free(e);
  if (s.c) {
    if (!s.broken) {
      s.giveFocusBack();
      if (s.shm) xcb_shm_detach(s.c, s.seg);
      if (s.gc) xcb_free_gc(s.c, s.gc);
      if (s.child && !s.childDestroyed) xcb_destroy_window(s.c, s.child);
      // The server has done everything asked before the connection closes.
      std::free(xcb_get_input_focus_reply(s.c, xcb_get_input_focus(s.c), nullptr));
    }
    xcb_disconnect(s.c);
  }
  if (s.shmAddr) shmdt(s.shmAddr);
  delete impl_;
}

std::vector<Presenter*> Presenter::all() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return presenters();
}

cocoa::Window* Presenter::modelWindow() const {
  return impl_->window;
}
uint32_t Presenter::window() const {
  return impl_->child;
}
uint32_t Presenter::parent() const {
  return impl_->parent;
}
bool Presenter::usesSharedMemory() const {
  return impl_->shm;
}
void Presenter::abandonModals() {
  impl_->abandoned = true;
}

bool Presenter::connected() const {
  return !impl_->broken;
}
long Presenter::presentedCount() const {
  return impl_->presented;
}

// ---------------------------------------------------------------------------------------------------------------
// Idle

void Presenter::idle() {
  Impl& s = *impl_;
  // Menus that pop up during this idle, from an event or from a timer of the pass, are this editor's.
  Impl* outer = t_dispatching;
  t_dispatching = &s;
  if (s.alive()) {
    s.readEvents();
    while (!s.queued.empty()) {
      xcb_generic_event_t* e = s.queued.front();
      s.queued.pop_front();
      s.handle(e, s.queued.empty() ? nullptr : s.queued.front());
      std::free(e);
    }
  }
  s.runModel(cocoa::kDefaultRunLoopMode);
  s.updateKeyboard(false);
  s.presentDrawn();
  s.flush();
  t_dispatching = outer;
}

void Presenter::sync() {
  Impl& s = *impl_;
  if (s.alive()) std::free(xcb_get_input_focus_reply(s.c, xcb_get_input_focus(s.c), nullptr));
  idle();
}

void Presenter::Impl::flush() {
  if (broken) return;
  xcb_flush(c);
  if (xcb_connection_has_error(c)) broken = true;
}

void Presenter::Impl::runModel(const char* mode) {
  cocoa::AutoreleasePool pool;
  cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow(), mode);
}

void Presenter::Impl::readEvents() {
  if (broken) return;
  while (xcb_generic_event_t* e = xcb_poll_for_event(c)) queued.push_back(e);
  if (xcb_connection_has_error(c)) broken = true;
}

void Presenter::Impl::loadKeyMap() {
  const xcb_setup_t* setup = xcb_get_setup(c);
  const uint8_t first = setup->min_keycode;
  const int count = setup->max_keycode - setup->min_keycode + 1;
  ReplyPtr<xcb_get_keyboard_mapping_reply_t> map(
      xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, first, static_cast<uint8_t>(count)), nullptr));
  if (!map) return;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
  const int n = xcb_get_keyboard_mapping_keysyms_length(map.get());
  keys.set(first, map->keysyms_per_keycode, std::vector<uint32_t>(syms, syms + n));
}

// ---------------------------------------------------------------------------------------------------------------
// Events

void Presenter::Impl::handle(xcb_generic_event_t* e, xcb_generic_event_t* next) {
  const uint8_t type = e->response_type & 0x7F;
  switch (type) {
    case 0:  // an error of a request without a reply: a window that went away, nothing to do
      break;
    case XCB_EXPOSE: {
      auto* x = reinterpret_cast<xcb_expose_event_t*>(e);
      if (x->window == child) exposed.push_back(PixelRect{x->x, x->y, x->width, x->height});
      break;
    }
    case XCB_BUTTON_PRESS: {
      auto* b = reinterpret_cast<xcb_button_press_event_t*>(e);
      if (b->event != child) break;
      choiceKey = 0;  // what this click opens was not asked by a menu's key
      answerClickButton = 0;  // nor is the next click on a dialog the second of one that answered the last
      // A click leaves the keyboard with the host (see keyboard.cpp).
      buttonState = b->state;
      if (b->detail == 4 || b->detail == 5) {
        dispatch(cocoa::kScrollWheel, b->event_x, b->event_y, b->state, b->detail == 4 ? 1.0 : -1.0, 0);
        break;
      }
      if (b->detail != 1 && b->detail != 3) break;
      dispatch(b->detail == 1 ? cocoa::kLeftMouseDown : cocoa::kRightMouseDown, b->event_x, b->event_y, b->state, 0,
               countClick(*b));
      updateKeyboard(true);
      break;
    }
    case XCB_BUTTON_RELEASE: {
      auto* b = reinterpret_cast<xcb_button_release_event_t*>(e);
      if (b->event != child || (b->detail != 1 && b->detail != 3)) break;
      buttonState = b->state;
      dispatch(b->detail == 1 ? cocoa::kLeftMouseUp : cocoa::kRightMouseUp, b->event_x, b->event_y, b->state, 0, 0);
      break;
    }
    case XCB_MOTION_NOTIFY: {
      auto* m = reinterpret_cast<xcb_motion_notify_event_t*>(e);
      if (m->event != child) break;
      // Only the last of a run of moves matters: the editor follows the pointer, not its path.
      if (next && (next->response_type & 0x7F) == XCB_MOTION_NOTIFY &&
          reinterpret_cast<xcb_motion_notify_event_t*>(next)->state == m->state)
        break;
      buttonState = m->state;
      const uint32_t kind = (m->state & kButton1Mask)   ? cocoa::kLeftMouseDragged
                            : (m->state & kButton3Mask) ? cocoa::kRightMouseDragged
                                                        : cocoa::kMouseMoved;
      dispatch(kind, m->event_x, m->event_y, m->state, 0, 0);
      break;
    }
    case XCB_ENTER_NOTIFY: {
      auto* en = reinterpret_cast<xcb_enter_notify_event_t*>(e);
      if (en->event == child && !(en->state & (kButton1Mask | kButton3Mask)))
        dispatch(cocoa::kMouseMoved, en->event_x, en->event_y, en->state, 0, 0);
      break;
    }
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE: {
      auto* k = reinterpret_cast<xcb_key_press_event_t*>(e);
      if (k->event != child) break;
      if (type == XCB_KEY_PRESS) {
        if (repeatsChoiceKey(*k)) break;
        choiceKey = 0;
      } else {
        releasedKey = k->detail;
        releasedKeyTime = k->time;
      }
      dispatchKey(*k);
      break;
    }
    case XCB_FOCUS_IN:
      if (reinterpret_cast<xcb_focus_in_event_t*>(e)->event == child && window) window->makeKeyAndOrderFront();
      break;
    case XCB_FOCUS_OUT: {
      auto* f = reinterpret_cast<xcb_focus_out_event_t*>(e);
      if (f->event != child) break;
      if (cocoa::application::keyWindow() == window) cocoa::application::setKeyWindow(nullptr);
      // Someone else set the focus (a menu's grab only borrows it): it is theirs now, nothing to give back.
      if (f->mode == XCB_NOTIFY_MODE_NORMAL && f->detail != XCB_NOTIFY_DETAIL_INFERIOR &&
          f->detail != XCB_NOTIFY_DETAIL_POINTER)
        holdingFocus = false;
      break;
    }
    case XCB_DESTROY_NOTIFY:
      if (reinterpret_cast<xcb_destroy_notify_event_t*>(e)->window == child) childDestroyed = true;
      break;
    case XCB_MAPPING_NOTIFY:
      if (reinterpret_cast<xcb_mapping_notify_event_t*>(e)->request != XCB_MAPPING_POINTER) loadKeyMap();
      break;
    default:
      break;
  }
}

int Presenter::Impl::countClick(const xcb_button_press_event_t& b) {
  const bool repeat =
      b.event == lastClickWindow && b.detail == lastButton && b.time - lastPressTime <= kDoubleClickMs &&
      std::abs(b.event_x - lastPressX) <= kDoubleClickSlop && std::abs(b.event_y - lastPressY) <= kDoubleClickSlop;
  clickCount = repeat ? clickCount + 1 : 1;
  lastClickWindow = b.event;
  lastButton = b.detail;
  lastPressTime = b.time;
  lastPressX = b.event_x;
  lastPressY = b.event_y;
  return clickCount;
}

void Presenter::Impl::dispatch(uint32_t type, int x, int y, uint16_t state, double deltaY, int clicks) {
  if (!window) return;
  cocoa::AutoreleasePool pool;
  const uint32_t mods = modelModifiers(state);
  // Window coordinates have y up from the bottom edge.
  cocoa::Event* ev =
      cocoa::Event::mouseEvent(static_cast<cocoa::EventType>(type),
                               cocoa::Point{static_cast<double>(x), static_cast<double>(height - y)}, mods, window);
  ev->clickCount = clicks;
  ev->deltaY = deltaY;
  ev->timestamp = cocoa::clockNow();
  cocoa::input::setModifierFlags(mods);
  cocoa::input::setMouseButtons(((state & kButton1Mask) ? 1u : 0u) | ((state & kButton3Mask) ? 2u : 0u));
  deliver(ev);
}

// Sends one model event to the window and lets go of it.
bool Presenter::Impl::deliver(cocoa::Event* ev) {
  Presenter::Impl* outer = t_dispatching;
  t_dispatching = this;
  window->retain();
  window->sendEvent(ev);
  const bool unhandled = !window->unhandledEvents().empty();
  window->clearUnhandledEvents();
  window->release();
  t_dispatching = outer;
  ev->release();
  return unhandled;
}

void Presenter::Impl::dispatchKey(const xcb_key_press_event_t& key) {
  if (!window) return;
  const bool down = (key.response_type & 0x7F) == XCB_KEY_PRESS;
  const ModelKey k = modelKeyFor(keys.keysym(key.detail, key.state));
  // Keys the platform has no code for (modifiers, media keys) are the host's.
  if (!k.known) {
    forwardKey(key);
    return;
  }
  cocoa::AutoreleasePool pool;
  const std::u32string chars = k.character ? std::u32string(1, k.character) : std::u32string();
  const uint32_t mods = modelModifiers(key.state);
  cocoa::Event* ev = cocoa::Event::keyEvent(down ? cocoa::kKeyDown : cocoa::kKeyUp, k.keyCode, mods, chars, chars);
  ev->window = window;
  ev->timestamp = cocoa::clockNow();
  cocoa::input::setModifierFlags(mods);
  if (deliver(ev)) forwardKey(key);
  updateKeyboard(false);
}

// ---------------------------------------------------------------------------------------------------------------
// Pixels

void Presenter::Impl::presentDrawn() {
  if (!window) return;
  const std::vector<cocoa::Rect> drawn = window->takeDisplayedRects();
  if (!alive()) {
    exposed.clear();
    return;
  }
  std::vector<PixelRect> rects;
  rects.reserve(drawn.size() + exposed.size());
  for (const cocoa::Rect& r : drawn) {
    const int x0 = static_cast<int>(std::floor(r.x)), y0 = static_cast<int>(std::floor(r.y));
    const int x1 = static_cast<int>(std::ceil(r.x + r.w)), y1 = static_cast<int>(std::ceil(r.y + r.h));
    rects.push_back(PixelRect{x0, y0, x1 - x0, y1 - y0});
  }
  rects.insert(rects.end(), exposed.begin(), exposed.end());
  exposed.clear();
  // Many small areas cost more requests than one copy of the area around them.
  if (rects.size() > 16) {
    PixelRect u = rects.front();
    for (const PixelRect& r : rects) {
      const int x1 = std::max(u.x + u.w, r.x + r.w), y1 = std::max(u.y + u.h, r.y + r.h);
      u.x = std::min(u.x, r.x);
      u.y = std::min(u.y, r.y);
      u.w = x1 - u.x;
      u.h = y1 - u.y;
    }
    rects.assign(1, u);
  }
  for (const PixelRect& r : rects) present(r);
}

void Presenter::Impl::present(PixelRect r) {
  const platform::gfx::Context* backing = window ? window->backing() : nullptr;
  if (!backing) return;
  const int w = std::min(width, backing->width()), h = std::min(height, backing->height());
  const int x0 = std::max(0, r.x), y0 = std::max(0, r.y);
  const int x1 = std::min(w, r.x + r.w), y1 = std::min(h, r.y + r.h);
  if (x1 <= x0 || y1 <= y0) return;
  const int rw = x1 - x0, rh = y1 - y0;
  const uint8_t* src = backing->pixels();
  const int srcRow = backing->rowBytes();
  if (shm) {
    // The segment holds the whole window; only the drawn rows are brought up to date before the server reads them.
    for (int y = y0; y < y1; ++y)
      convertRow(src + static_cast<size_t>(y) * srcRow + x0 * 4, shmAddr + (static_cast<size_t>(y) * width + x0) * 4,
                 rw);
    xcb_shm_put_image(c, child, gc, static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                      static_cast<uint16_t>(x0), static_cast<uint16_t>(y0), static_cast<uint16_t>(rw),
                      static_cast<uint16_t>(rh), static_cast<int16_t>(x0), static_cast<int16_t>(y0), depth,
                      XCB_IMAGE_FORMAT_Z_PIXMAP, 0, seg, 0);
  } else {
    const int rowsPerPut = std::max(1, static_cast<int>(maxRequestBytes / (static_cast<uint32_t>(rw) * 4 + 32)));
    for (int y = y0; y < y1; y += rowsPerPut) {
      const int n = std::min(rowsPerPut, y1 - y);
      scratch.resize(static_cast<size_t>(rw) * n * 4);
      for (int k = 0; k < n; ++k)
        convertRow(src + static_cast<size_t>(y + k) * srcRow + x0 * 4, &scratch[static_cast<size_t>(k) * rw * 4], rw);
      xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, child, gc, static_cast<uint16_t>(rw), static_cast<uint16_t>(n),
                    static_cast<int16_t>(x0), static_cast<int16_t>(y), 0, depth, static_cast<uint32_t>(scratch.size()),
                    scratch.data());
    }
  }
  ++presented;
}

// ---------------------------------------------------------------------------------------------------------------
// The presenter's own windows

const xcb_screen_t* Presenter::Impl::screen() const {
  const xcb_screen_t* first = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  for (xcb_screen_iterator_t si = xcb_setup_roots_iterator(xcb_get_setup(c)); si.rem; xcb_screen_next(&si))
    if (si.data->root == root) return si.data;
  return first;
}

xcb_window_t Presenter::Impl::makeWindow(int x, int y, int w, int h, bool overrideRedirect, uint32_t eventMask) {
  const xcb_window_t win = xcb_generate_id(c);
  const uint32_t values[] = {0xFFFFFF, 0, overrideRedirect ? 1u : 0u, eventMask, screen()->default_colormap};
  xcb_create_window(
      c, depth, win, root, static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<uint16_t>(w),
      static_cast<uint16_t>(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
      XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK | XCB_CW_COLORMAP, values);
  return win;
}

void Presenter::Impl::setName(xcb_window_t win, const std::string& name) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, win, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                      static_cast<uint32_t>(name.size()), name.data());
}

void Presenter::Impl::putCanvas(xcb_window_t win, const Canvas& canvas) {
  const int w = canvas.width(), h = canvas.height();
  const int rowsPerPut = std::max(1, static_cast<int>(maxRequestBytes / (static_cast<uint32_t>(w) * 4 + 32)));
  for (int y = 0; y < h; y += rowsPerPut) {
    const int n = std::min(rowsPerPut, h - y);
    scratch.resize(static_cast<size_t>(w) * n * 4);
    for (int k = 0; k < n; ++k)
      convertRow(canvas.pixels() + static_cast<size_t>(y + k) * w * 4, &scratch[static_cast<size_t>(k) * w * 4], w);
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, win, gc, static_cast<uint16_t>(w), static_cast<uint16_t>(n), 0,
                  static_cast<int16_t>(y), 0, depth, static_cast<uint32_t>(scratch.size()), scratch.data());
  }
}

void Presenter::Impl::toScreen(int* x, int* y) {
  ReplyPtr<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(
      c, xcb_translate_coordinates(c, child, root, static_cast<int16_t>(*x), static_cast<int16_t>(*y)), nullptr));
  if (!t) return;
  *x = t->dst_x;
  *y = t->dst_y;
}

}  // namespace x11
