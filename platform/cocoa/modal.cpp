#include "platform/cocoa/modal.h"

#include <vector>

namespace cocoa {

struct ModalSession {
  Window* window = nullptr;  // retained
  bool stopped = false;
  int code = kModalResponseContinue;
};

namespace {

std::vector<ModalSession*>& stack() {
  static auto* s = new std::vector<ModalSession*>;
  return *s;
}
double g_idleLimit = 60;

// Hands one queued event to its window (or the key window); events for windows below the modal one are dropped,
// as the platform refuses them during a modal loop.
void dispatch(Event* e, Window* modalWindow) {
  Window* w = e->window ? e->window : application::keyWindow();
  if (!w) return;
  bool allowed = w == modalWindow;
  for (Window* p = w->parentWindow(); p && !allowed; p = p->parentWindow()) allowed = p == modalWindow;
  if (!allowed && e->type != kKeyDown && e->type != kKeyUp && e->type != kMouseMoved) return;
  w->retain();
  w->sendEvent(e);
  w->release();
}

bool pumpOnce(ModalSession* s, double until) {
  Event* e = Application::shared()->nextEvent(kAnyEventMask, until, kModalPanelRunLoopMode, true);
  if (e && !s->stopped) dispatch(e, s->window);
  return e != nullptr;
}

void finish(ModalSession* s, int code) {
  if (s->stopped) return;
  s->stopped = true;
  s->code = code;
}

}  // namespace

namespace modal {

ModalSession* beginSession(Window* window) {
  if (!window) return nullptr;
  auto* s = new ModalSession;
  s->window = window;
  window->retain();
  stack().push_back(s);
  window->makeKeyAndOrderFront();
  return s;
}

int runSession(ModalSession* s) {
  if (!s) return kModalResponseAbort;
  if (!s->stopped) {
    RunLoop::current()->runUntilDate(clockNow(), kModalPanelRunLoopMode);
    while (!s->stopped && pumpOnce(s, clockNow())) {
    }
  }
  return s->stopped ? s->code : kModalResponseContinue;
}

void endSession(ModalSession* s) {
  if (!s) return;
  auto& st = stack();
  for (auto it = st.begin(); it != st.end(); ++it) {
    if (*it == s) {
      st.erase(it);
      break;
    }
  }
  s->window->release();
  delete s;
}

int runForWindow(Window* window) {
  ModalSession* s = beginSession(window);
  if (!s) return kModalResponseAbort;
  double idleSince = clockNow();
  while (!s->stopped) {
    if (pumpOnce(s, clockNow() + 0.05)) idleSince = clockNow();
    // A modal window that was closed (destroyed by its owner's code) can take no more input: the loop ends.
    if (!s->stopped && !s->window->isVisible()) finish(s, kModalResponseAbort);
    if (!s->stopped && clockNow() - idleSince > g_idleLimit) finish(s, kModalResponseAbort);
  }
  const int code = s->code;
  endSession(s);
  return code;
}

void stop() {
  if (!stack().empty()) finish(stack().back(), kModalResponseStop);
}

void stopWithCode(int code) {
  if (!stack().empty()) finish(stack().back(), code);
}

void abort() {
  if (!stack().empty()) finish(stack().back(), kModalResponseAbort);
}

Window* modalWindow() {
  return stack().empty() ? nullptr : stack().back()->window;
}

void setIdleLimit(double seconds) {
  g_idleLimit = seconds;
}

double idleLimit() {
  return g_idleLimit;
}

}  // namespace modal

}  // namespace cocoa
