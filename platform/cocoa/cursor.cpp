#include "platform/cocoa/cursor.h"

#include <atomic>
#include <mutex>

namespace cocoa {

namespace {

std::atomic<Cursor*> g_current{nullptr};

Cursor* standardCursor(int which) {
  static Cursor* cursors[6] = {};
  static std::once_flag once;
  std::call_once(once, [] {
    for (auto& c : cursors) {
      // Each standard cursor is a distinct object; its picture does not matter to a headless display.
      Image* img = new Image(16, 16);
      c = new Cursor(img, Point{0, 0});
      img->release();
    }
  });
  return cursors[which];
}

std::mutex g_displayMutex;
int g_hidden = 0;
bool g_associated = true;

}  // namespace

Cursor::Cursor(Image* image, Point hotSpot) : image_(image), hotSpot_(hotSpot) {
  if (image_) image_->retain();
}

Cursor::~Cursor() {
  Cursor* self = this;
  g_current.compare_exchange_strong(self, nullptr);
  releaseObject(image_);
}

void Cursor::set() {
  g_current.store(this);
}

Cursor* Cursor::current() {
  Cursor* c = g_current.load();
  return c ? c : arrow();
}

Cursor* Cursor::arrow() {
  return standardCursor(0);
}
Cursor* Cursor::iBeam() {
  return standardCursor(1);
}
Cursor* Cursor::resizeUp() {
  return standardCursor(2);
}
Cursor* Cursor::resizeUpDown() {
  return standardCursor(3);
}
Cursor* Cursor::resizeLeftRight() {
  return standardCursor(4);
}
Cursor* Cursor::openHand() {
  return standardCursor(5);
}

namespace display {

void hideCursor() {
  std::lock_guard<std::mutex> lock(g_displayMutex);
  ++g_hidden;
}

void showCursor() {
  std::lock_guard<std::mutex> lock(g_displayMutex);
  if (g_hidden > 0) --g_hidden;
}

int hiddenCount() {
  std::lock_guard<std::mutex> lock(g_displayMutex);
  return g_hidden;
}

void associateMouseAndCursor(bool on) {
  std::lock_guard<std::mutex> lock(g_displayMutex);
  g_associated = on;
}

bool isMouseAssociated() {
  std::lock_guard<std::mutex> lock(g_displayMutex);
  return g_associated;
}

bool warpCursor(Point topDown) {
  input::setMouseLocation(Point{topDown.x, mainDisplayHeight() - topDown.y});
  return true;
}

int mainDisplayHeight() {
  return screen::height();
}

}  // namespace display

}  // namespace cocoa
