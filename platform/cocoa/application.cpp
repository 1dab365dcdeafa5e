#include "platform/cocoa/application.h"

#include <deque>
#include <mutex>

#include "platform/graphics/coords.h"

namespace cocoa {

Event* Event::keyEvent(EventType type, uint16_t keyCode, uint32_t modifiers, std::u32string chars,
                       std::u32string charsIgnoringModifiers) {
  Event* e = new Event;
  e->type = type;
  e->keyCode = keyCode;
  e->modifierFlags = modifiers;
  e->characters = std::move(chars);
  e->charactersIgnoringModifiers = std::move(charsIgnoringModifiers);
  e->timestamp = clockNow();
  return e;
}

Event* Event::mouseEvent(EventType type, Point location, uint32_t modifiers, Window* window) {
  Event* e = new Event;
  e->type = type;
  e->locationInWindow = location;
  e->modifierFlags = modifiers;
  e->window = window;
  e->clickCount = (type == kLeftMouseDown || type == kRightMouseDown || type == kOtherMouseDown) ? 1 : 0;
  e->timestamp = clockNow();
  return e;
}

struct Application::Impl {
  std::mutex mutex;
  std::deque<Event*> queue;  // retained
  std::function<void(Event*)> dispatcher;
};

Application::Application() : impl_(new Impl) {}

Application* Application::shared() {
  static Application* app = new Application;
  return app;
}

void Application::postEvent(Event* event, bool atStart) {
  if (!event) return;
  event->retain();
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (atStart) {
      impl_->queue.push_front(event);
    } else {
      impl_->queue.push_back(event);
    }
  }
  RunLoop::wakeAll();
}

Event* Application::nextEvent(uint64_t mask, double untilDate, const char* mode, bool dequeue) {
  Event* found = nullptr;
  auto take = [&]() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    for (auto it = impl_->queue.begin(); it != impl_->queue.end(); ++it) {
      if (mask & eventMaskOf((*it)->type)) {
        found = *it;
        if (dequeue) impl_->queue.erase(it);
        return true;
      }
    }
    return false;
  };
  if (!take()) RunLoop::current()->runUntil(untilDate, mode, take);
  if (found && dequeue) found->autorelease();
  return found;
}

void Application::sendEvent(Event* event) {
  if (!event) return;
  Event* previous = currentEvent_;
  currentEvent_ = event;
  std::function<void(Event*)> dispatcher;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    dispatcher = impl_->dispatcher;
  }
  if (dispatcher) dispatcher(event);
  currentEvent_ = previous;
}

void Application::setEventDispatcher(std::function<void(Event*)> dispatcher) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->dispatcher = std::move(dispatcher);
}

int Application::pendingEventCount() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return static_cast<int>(impl_->queue.size());
}

void Application::terminate(Object* /*sender*/) {
  if (delegate_) {
    if (auto* h = delegate_->as<ApplicationTerminateHandler>()) {
      if (!h->applicationShouldTerminate()) return;
    }
  }
  terminated_ = true;
}

void Application::reset() {
  std::deque<Event*> queue;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    queue.swap(impl_->queue);
    impl_->dispatcher = nullptr;
  }
  for (Event* e : queue) e->release();
  delegate_ = nullptr;
  currentEvent_ = nullptr;
  terminated_ = false;
}

namespace input {
namespace {
std::mutex g_mutex;
uint32_t g_modifiers = 0;
uint32_t g_buttons = 0;
Point g_mouse{0, 0};
}  // namespace

uint32_t modifierFlags() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_modifiers;
}
void setModifierFlags(uint32_t flags) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_modifiers = flags;
}
uint32_t mouseButtons() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_buttons;
}
void setMouseButtons(uint32_t buttons) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_buttons = buttons;
}
Point mouseLocation() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_mouse;
}
void setMouseLocation(Point p) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_mouse = p;
}
}  // namespace input

namespace screen {
namespace {
std::mutex g_mutex;
std::vector<Info>& all() {
  static auto* v = new std::vector<Info>{Info{0, 0, 1920, 1080, 0, 0, 1920, 1080}};
  return *v;
}
}  // namespace

int width() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return all().empty() ? 0 : platform::intCoord(all()[0].w);
}

int height() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return all().empty() ? 0 : platform::intCoord(all()[0].h);
}

void setSize(int width, int height) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (all().empty()) all().push_back(Info{});
  all()[0] = Info{0, 0, static_cast<double>(width), static_cast<double>(height),
                  0, 0, static_cast<double>(width), static_cast<double>(height)};
}

std::vector<Info> screens() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return all();
}

void setScreens(const std::vector<Info>& screens) {
  std::lock_guard<std::mutex> lock(g_mutex);
  all() = screens;
}

}  // namespace screen

}  // namespace cocoa
