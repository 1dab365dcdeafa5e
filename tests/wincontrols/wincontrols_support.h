// A window with an owner view that records what its controls send it, and scripted mouse input through the
// window, as the platform delivers it.
#pragma once

#include <string>
#include <vector>

#include "KIT/shim/shim-ctlclasses.h"
#include "platform/cocoa/view.h"

struct Sent {
  UINT msg;
  int code;  // WM_NOTIFY: the record's code; WM_COMMAND: the high word
  int item;  // NMLISTVIEW's iItem for list notifications, else -1
  WPARAM wp;
};

inline bool operator==(const Sent& a, const Sent& b) {
  return a.msg == b.msg && a.code == b.code && a.item == b.item;
}

inline std::ostream& operator<<(std::ostream& os, const Sent& s) {
  return os << "{0x" << std::hex << s.msg << std::dec << ", " << s.code << ", " << s.item << "}";
}

// The owner of the controls: receives their notifications (WM_NOTIFY, WM_COMMAND, WM_CONTEXTMENU...) and answers
// with `answer` (per code) so that tests can play the owner's part.
class Owner : public cocoa::View, public SHIM_MessageReceiver, public cocoa::ActionTarget {
 public:
  explicit Owner(cocoa::Rect r) : cocoa::View(r) {}
  bool isFlipped() const override { return true; }
  LRESULT onShimMessage(UINT msg, WPARAM wp, LPARAM lp) override {
    Sent s{msg, 0, -1, wp};
    if (msg == WM_NOTIFY && lp) {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      s.code = hdr->code;
      if (hdr->code == NM_CLICK || hdr->code == NM_RCLICK || hdr->code == LVN_ITEMCHANGED ||
          hdr->code == LVN_BEGINDRAG) {
        if (hdr->hwndFrom && hdr->hwndFrom->as<Shim_vVexmir_listview>()) {
          s.item = reinterpret_cast<NMLISTVIEW*>(lp)->iItem;
        }
      }
      if (hdr->code == LVN_GETDISPINFO) {
        auto* di = reinterpret_cast<NMLVDISPINFO*>(lp);
        if (dispInfo) dispInfo(di);
        return 0;
      }
    } else if (msg == WM_COMMAND) {
      s.code = static_cast<int>((wp >> 16) & 0xFFFF);
    }
    sent.push_back(s);
    if (onMessage) return onMessage(msg, wp, lp);
    return 0;
  }
  void performAction(const std::string& action, cocoa::Object* sender) override {
    actions.push_back(action);
    (void)sender;
  }
  std::vector<Sent> sent;
  std::vector<std::string> actions;
  std::function<LRESULT(UINT, WPARAM, LPARAM)> onMessage;
  std::function<void(NMLVDISPINFO*)> dispInfo;
};

// A window of 400 x 300 whose content view holds the owner at its full size.
struct TestWindow {
  TestWindow() {
    window = new cocoa::Window(cocoa::Rect{0, 0, 400, 300});
    owner = new Owner(cocoa::Rect{0, 0, 400, 300});
    window->contentView()->addSubview(owner);
    owner->release();
  }
  ~TestWindow() {
    window->close();
    window->release();
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  // Puts a control into a scroll view of the owner at `frame` (the way list and tree views live).
  cocoa::ScrollView* scrolled(cocoa::View* control, cocoa::Rect frame) {
    auto* sv = new cocoa::ScrollView(frame);
    sv->hasVerticalScroller = true;
    sv->autohidesScrollers = true;
    owner->addSubview(sv);
    sv->release();
    sv->setDocumentView(control);
    return sv;
  }

  // A mouse event at a point of `v` (its own coordinates) sent through the window.
  void mouse(cocoa::EventType type, cocoa::View* v, double x, double y, uint32_t mods = 0, int clicks = -1) {
    const cocoa::Point p = v->convertToWindow(cocoa::Point{x, y});
    cocoa::Event* e = cocoa::Event::mouseEvent(type, p, mods, window);
    if (clicks >= 0) e->clickCount = clicks;
    window->sendEvent(e);
    e->release();
  }
  void click(cocoa::View* v, double x, double y, uint32_t mods = 0) {
    mouse(cocoa::kLeftMouseDown, v, x, y, mods);
    mouse(cocoa::kLeftMouseUp, v, x, y, mods);
  }

  cocoa::Window* window;
  Owner* owner;
};
