// The model's popup menus shown as X11 menu windows: one override-redirect window per open menu level, drawn with
// the platform's label font, tracked with the pointer and keyboard grabbed until the user picks an item or
// dismisses the menu. The editor keeps being drawn meanwhile, as the platform's menu tracking keeps its run loop going.
#include <poll.h>

#include <algorithm>
#include <cstdlib>

#include "platform/cocoa/runloop.h"
#include "platform/x11/canvas.h"
#include "platform/x11/keys.h"
#include "platform/x11/presenter_impl.h"

namespace x11 {

namespace {

constexpr int kItemHeight = 20, kSeparatorHeight = 9, kPad = 4, kCheckColumn = 22, kArrowColumn = 22;
constexpr int kMinWidth = 100;
constexpr float kFontSize = 13.0f;

struct Level {
  const std::vector<cocoa::ShownMenuItem>* items = nullptr;
  int openedFrom = -1;  // the item of the level above that opened this one
  xcb_window_t win = 0;
  int x = 0, y = 0, w = 0, h = 0;  // root coordinates
  std::vector<int> tops;           // each item's top edge
  int highlighted = -1;
  Canvas canvas;

  int itemAt(int rx, int ry) const {
    if (rx < x || rx >= x + w || ry < y || ry >= y + h) return -1;
    for (size_t i = 0; i < tops.size(); ++i) {
      const int bottom = i + 1 < tops.size() ? tops[i + 1] : h - kPad;
      if (ry - y >= tops[i] && ry - y < bottom) return static_cast<int>(i);
    }
    return -1;
  }
  bool choosable(int i) const {
    if (i < 0 || i >= static_cast<int>(items->size())) return false;
    const auto& it = (*items)[i];
    return !it.separator && it.enabled && !it.header;
  }
};

}  // namespace

cocoa::menus::Choice Presenter::Impl::runMenu(const cocoa::ShownMenu& menu) {
  if (!standing() || menu.items.empty()) return {};
  lastClickWindow = 0;  // the click that opened the menu and the next one are no double click
  choiceKey = 0;
  const platform::text::FontRef font = platform::text::labelFont(kFontSize);
  const xcb_screen_t* screen = this->screen();

  std::vector<Level> levels;

  auto draw = [&](Level& L) {
    if (!L.canvas.begin(L.w, L.h, 0xF4F4F2)) return;
    Canvas& cv = L.canvas;
    cv.frame(0, 0, static_cast<float>(L.w), static_cast<float>(L.h), 0x8A8A8A);
    for (size_t i = 0; i < L.items->size(); ++i) {
      const auto& it = (*L.items)[i];
      const float top = static_cast<float>(L.tops[i]);
      if (it.separator) {
        cv.fill(6, top + kSeparatorHeight / 2, static_cast<float>(L.w - 12), 1, 0xC8C8C8);
        continue;
      }
      const bool lit = static_cast<int>(i) == L.highlighted && (L.choosable(static_cast<int>(i)) || it.hasSubmenu);
      if (lit) cv.fill(2, top, static_cast<float>(L.w - 4), kItemHeight, 0x3D6FC8);
      const int rgb = lit ? 0xFFFFFF : (!it.enabled || it.header) ? 0x8C8C8C : 0x1E1E1E;
      const float baseline = baselineIn(font, top, kItemHeight);
      cv.text(font, it.title, kCheckColumn, baseline, rgb);
      if (it.checked) cv.text(font, "\u2713", 6, baseline, rgb);
      if (it.hasSubmenu) cv.text(font, "\u25B8", static_cast<float>(L.w - kArrowColumn + 6), baseline, rgb);
    }
  };

  auto show = [&](Level& L) {
    draw(L);
    putCanvas(L.win, L.canvas);
  };

  // A level of `items` whose top left corner is at (x, y) on the screen, kept on the screen.
  auto open = [&](const std::vector<cocoa::ShownMenuItem>* items, int x, int y, int openedFrom) {
    Level L;
    L.items = items;
    L.openedFrom = openedFrom;
    int width = kMinWidth, top = kPad;
    for (const auto& it : *items) {
      L.tops.push_back(top);
      top += it.separator ? kSeparatorHeight : kItemHeight;
      if (!it.separator)
        width = std::max(width, kCheckColumn + static_cast<int>(textWidth(font, it.title)) + 1 + kArrowColumn);
    }
    L.w = width;
    L.h = top + kPad;
    L.x = std::max(0, std::min(x, screen->width_in_pixels - L.w));
    L.y = std::max(0, std::min(y, screen->height_in_pixels - L.h));
    L.win = makeWindow(L.x, L.y, L.w, L.h, true,
                       XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                           XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_KEY_PRESS);
    setName(L.win, "Vexmir Editor menu");
    xcb_map_window(c, L.win);
    levels.push_back(std::move(L));
    show(levels.back());
  };
  auto closeFrom = [&](size_t depth) {
    while (levels.size() > depth) {
      xcb_destroy_window(c, levels.back().win);
      levels.pop_back();
    }
  };
  // The deepest level and item under a point of the screen.
  auto hit = [&](int rx, int ry, int* item) -> int {
    for (int d = static_cast<int>(levels.size()) - 1; d >= 0; --d) {
      const Level& L = levels[d];
      if (rx >= L.x && rx < L.x + L.w && ry >= L.y && ry < L.y + L.h) {
        *item = L.itemAt(rx, ry);
        return d;
      }
    }
    return -1;
  };
  auto highlight = [&](size_t d, int item) {
    Level& L = levels[d];
    if (L.highlighted != item) {
      L.highlighted = item;
      show(L);
    }
    // A submenu holder opens its submenu beside it; any other item closes the deeper levels.
    const bool holder = item >= 0 && (*L.items)[item].hasSubmenu && (*L.items)[item].enabled;
    if (levels.size() > d + 1 && (!holder || levels[d + 1].openedFrom != item)) closeFrom(d + 1);
    if (holder && levels.size() == d + 1)
      open(&(*L.items)[item].submenu, L.x + L.w - 2, L.y + L.tops[item] - kPad, item);
  };
  auto pathTo = [&](size_t d, int item) {
    cocoa::menus::Choice path;
    for (size_t k = 1; k <= d; ++k) path.push_back(levels[k].openedFrom);
    path.push_back(item);
    return path;
  };

  // Where the platform puts the menu: its top left corner at the given point of the editor's window.
  int originX = static_cast<int>(menu.x), originY = height - static_cast<int>(menu.y);
  toScreen(&originX, &originY);
  open(&menu.items, originX, originY, -1);
  const xcb_window_t grabWindow = levels.front().win;
  std::free(xcb_grab_pointer_reply(
      c,
      xcb_grab_pointer(c, 1, grabWindow,
                       XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION,
                       XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
      nullptr));
  std::free(xcb_grab_keyboard_reply(
      c, xcb_grab_keyboard(c, 1, grabWindow, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr));

  cocoa::menus::Choice picked;
  bool done = false;
  while (!done && standing()) {
    flush();
    pollfd pfd{xcb_get_file_descriptor(c), POLLIN, 0};
    poll(&pfd, 1, 20);
    while (!done) {
      xcb_generic_event_t* e = xcb_poll_for_event(c);
      if (!e) break;
      const uint8_t type = e->response_type & 0x7F;
      bool keep = false;
      switch (type) {
        case XCB_EXPOSE: {
          auto* x = reinterpret_cast<xcb_expose_event_t*>(e);
          if (x->window == child) exposed.push_back(PixelRect{x->x, x->y, x->width, x->height});
          for (Level& L : levels)
            if (L.win == x->window && x->count == 0) show(L);
          break;
        }
        case XCB_MOTION_NOTIFY: {
          auto* m = reinterpret_cast<xcb_motion_notify_event_t*>(e);
          int item = -1;
          const int d = hit(m->root_x, m->root_y, &item);
          if (d >= 0) highlight(static_cast<size_t>(d), item);
          break;
        }
        case XCB_BUTTON_PRESS: {
          auto* b = reinterpret_cast<xcb_button_press_event_t*>(e);
          int item = -1;
          if (hit(b->root_x, b->root_y, &item) < 0) done = true;  // a click elsewhere dismisses the menu
          break;
        }
        case XCB_BUTTON_RELEASE: {
          auto* b = reinterpret_cast<xcb_button_release_event_t*>(e);
          int item = -1;
          const int d = hit(b->root_x, b->root_y, &item);
          // The release of the click that opened the menu lands outside it and changes nothing.
          if (d >= 0 && levels[d].choosable(item) && !(*levels[d].items)[item].hasSubmenu) {
            picked = pathTo(static_cast<size_t>(d), item);
            done = true;
          }
          break;
        }
        case XCB_KEY_PRESS: {
          auto* k = reinterpret_cast<xcb_key_press_event_t*>(e);
          const uint32_t sym = keys.keysym(k->detail, k->state);
          Level& L = levels.back();
          const int n = static_cast<int>(L.items->size());
          if (sym == kKeyEscape) {
            done = true;
          } else if (sym == kKeyDown || sym == kKeyUp) {  // the next item that can be chosen
            const int step = sym == kKeyDown ? 1 : -1;
            int i = L.highlighted;
            for (int tries = 0; tries < n; ++tries) {
              i = (i + step + n) % n;
              if (L.choosable(i)) break;
            }
            if (L.choosable(i)) highlight(levels.size() - 1, i);
          } else if (sym == kKeyLeft && levels.size() > 1) {  // Left closes a submenu
            closeFrom(levels.size() - 1);
          } else if (sym == kKeyReturn || sym == kKeyPadEnter) {
            if (L.choosable(L.highlighted) && !(*L.items)[L.highlighted].hasSubmenu) {
              picked = pathTo(levels.size() - 1, L.highlighted);
              done = true;
              choiceKey = untakenKey = k->detail;
              choiceKeyTime = k->time;
            }
          }
          break;
        }
        case XCB_DESTROY_NOTIFY:
          if (reinterpret_cast<xcb_destroy_notify_event_t*>(e)->window == child) {
            childDestroyed = true;
            done = true;
          }
          break;
        default:
          // Focus changes from the grab and whatever else the editor's window gets are handled after the menu.
          keep = type != 0;
          break;
      }
      if (keep) {
        queued.push_back(e);
      } else {
        std::free(e);
      }
    }
    if (xcb_connection_has_error(c)) broken = true;
    // The editor goes on drawing under the open menu.
    runModel(cocoa::kEventTrackingRunLoopMode);
    presentDrawn();
  }
  if (alive()) {
    xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
    xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    closeFrom(0);
    flush();
  }
  return picked;
}

}  // namespace x11
