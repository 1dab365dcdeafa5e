// The headless model of the platform's cursors and of the display's cursor state: the current cursor, hiding and
// showing, detaching the cursor from mouse movement and warping it.
#pragma once

#include "platform/cocoa/application.h"
#include "platform/cocoa/image.h"
#include "platform/cocoa/object.h"

namespace cocoa {

class Cursor : public Object {
 public:
  // Retains the image.
  Cursor(Image* image, Point hotSpot);
  Image* image() const { return image_; }
  Point hotSpot() const { return hotSpot_; }
  // Main thread. Makes this the current cursor.
  void set();

  // The current cursor (not retained); the arrow until another is set.
  static Cursor* current();
  // The platform's standard cursors, made once and kept for the process.
  static Cursor* arrow();
  static Cursor* iBeam();
  static Cursor* resizeUp();
  static Cursor* resizeUpDown();
  static Cursor* resizeLeftRight();
  static Cursor* openHand();

 protected:
  ~Cursor() override;

 private:
  Image* image_;
  Point hotSpot_;
};

namespace display {
void hideCursor();
void showCursor();
// How many hides are outstanding; the cursor shows while this is 0.
int hiddenCount();
// With false, mouse movement no longer moves the cursor.
void associateMouseAndCursor(bool on);
bool isMouseAssociated();
// Moves the cursor to a point in top-down display coordinates; the mouse location follows.
bool warpCursor(Point topDown);
int mainDisplayHeight();
}  // namespace display

}  // namespace cocoa
