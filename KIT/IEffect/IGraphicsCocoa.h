// The Cocoa view of the editor on the platform model: it drives the redraw from a repeating timer, copies the
// surface's bitmap in its draw callback, turns mouse, wheel and key events into the surface's input calls, shows
// popup menus as context menus and the value entry as a text field with a character filter. The view's y axis
// points up (it is not flipped); every crossing between view and surface coordinates converts y.
#pragma once

#include <atomic>
#include <string>

#include "KIT/IEffect/IGraphicsStructs.h"
#include "platform/cocoa/cfstring.h"
#include "platform/cocoa/menu.h"
#include "platform/cocoa/runloop.h"
#include "platform/cocoa/textfield.h"
#include "platform/cocoa/view.h"

class IControl;
class IGraphicsMac;
class IParam;
class IPopupMenu;

class IGraphicsCocoa_vVexmir_vst : public cocoa::View, public cocoa::TextFieldDelegate {
 public:
  // `init`: no surface and no timer.
  IGraphicsCocoa_vVexmir_vst();
  // `initWithIGraphics:`: frame 0, 0, surface size; starts the redraw timer at the surface's frame rate in the
  // common run-loop modes.
  explicit IGraphicsCocoa_vVexmir_vst(IGraphicsMac* graphics);

  bool isOpaque() const override { return mGraphics != nullptr; }
  bool acceptsFirstResponder() override { return true; }
  bool acceptsFirstMouse(cocoa::Event*) override { return true; }
  void viewDidMoveToWindow() override;
  void drawRect(cocoa::Rect rect) override;
  void displayTree(const std::function<void()>& drawAll) override;
  void onTimer(cocoa::Timer* timer);
  // Surface coordinates of the event (also kept as the last mouse position); false without a surface.
  bool getMouseXY(cocoa::Event* e, int* x, int* y);

  void mouseDown(cocoa::Event* e) override;
  void mouseUp(cocoa::Event* e) override;
  void mouseDragged(cocoa::Event* e) override;
  void rightMouseDown(cocoa::Event* e) override;
  void rightMouseUp(cocoa::Event* e) override;
  void rightMouseDragged(cocoa::Event* e) override;
  void mouseMoved(cocoa::Event* e) override;
  void scrollWheel(cocoa::Event* e) override;
  void keyDown(cocoa::Event* e) override;

  void killTimer();
  // Takes the text of an open entry and detaches from the surface (closing its side); the view stays in its
  // superview.
  void removeFromSuperview() override;

  // r in view coordinates. Returns the menu (or submenu) in which an item was chosen, its chosen index set; null
  // when dismissed.
  IPopupMenu* createIPopupMenu(IPopupMenu* menu, cocoa::Rect r);
  void createTextEntry(IControl* control, IParam* param, const IText* text, const char* str, cocoa::Rect r);
  void controlTextDidEndEditing(cocoa::TextField* field) override;
  void endUserInput();
  // As a click elsewhere, for an open entry whose control is hidden: the field loses the focus and takes the text.
  void endUserInputOfHiddenControl();
  // As a click elsewhere, for any open entry: the field loses the focus and hands its text over.
  void takeUserInput();

  IGraphicsMac* graphics() const { return mGraphics; }
  void detachGraphics() { mGraphics = nullptr; }
  cocoa::Timer* timer() const { return mTimer; }
  cocoa::TextField* textField() const { return mTextFieldView; }
  int prevX() const { return mPrevX; }
  int prevY() const { return mPrevY; }

  // The surface's mouse modifiers of an event: left-button form (left set, right = Command) or right-button form.
  static IMouseMod mouseModFor(cocoa::Event* e, bool rightButton);
  // Key code of a key event for the surface's OnKeyDown; -1 for a key that is not one of the editor's (it goes on to
  // the next responder), -2 for an event without exactly one character (dropped).
  static int keyCodeFor(cocoa::Event* e);

 protected:
  ~IGraphicsCocoa_vVexmir_vst() override;

 private:
  cocoa::Timer* mTimer = nullptr;              // retained while valid
  cocoa::TextField* mTextFieldView = nullptr;  // retained while open
  IControl* mEdControl = nullptr;
  IParam* mEdParam = nullptr;
  int mPrevX = 0, mPrevY = 0;
  // Cleared by a close, which may come from another thread than the one that delivers events.
  std::atomic<IGraphicsMac*> mGraphics{nullptr};
};

class IGraphicsNSMenu_vVexmir_vst : public cocoa::Menu {
 public:
  // `initWithIPopupMenuAndReciever::`: the items of the popup menu, numbered by its prefix; submenus alike.
  IGraphicsNSMenu_vVexmir_vst(IPopupMenu* menu, cocoa::View* receiver);
  IPopupMenu* AssociatedIPopupMenu() const { return mIPopupMenu; }

 private:
  IPopupMenu* mIPopupMenu;
};

// Catches the menu's choice.
class IGraphicsMenuRcvr_vVexmir_vst : public cocoa::View, public cocoa::MenuActionReceiver {
 public:
  explicit IGraphicsMenuRcvr_vVexmir_vst(cocoa::Rect frame) : View(frame) {}
  void menuItemChosen(cocoa::MenuItem* item) override;  // `OnMenuSelection:`
  cocoa::MenuItem* MenuItem() const { return nsMenuItem; }

 protected:
  ~IGraphicsMenuRcvr_vVexmir_vst() override;

 private:
  cocoa::MenuItem* nsMenuItem = nullptr;  // retained
};

// Limits what can be typed into the value entry: a set of characters, a length and an integer value.
class CocoaFormatter_vVexmir_vst : public cocoa::Formatter {
 public:
  void setAcceptableCharacterSet(const std::u32string* set);
  void setMaximumLength(int n) { maxLength = n; }
  void setMaximumValue(int n) { maxValue = n; }
  bool isPartialStringValid(const std::string& partial) override;
  // The value is the text itself: a string shows as it is, anything else not at all.
  cocoa::String* stringForObjectValue(cocoa::Object* value) override;
  // A copy of the text; always answers yes.
  bool getObjectValue(cocoa::Object** value, const std::string& text, std::string* error) override;

 private:
  bool hasSet = false;
  std::u32string filterCharacterSet;
  int maxLength = 0;  // 0: no limit
  int maxValue = 0;   // 0: no limit
};

// The characters a value entry of that parameter type accepts (for text, also the Latin-1 letters U+00C0 to U+00FF).
std::u32string CharacterSetForParamType(int type);
// UTF-8 text to the platform's string (null for malformed UTF-8); autoreleased.
cocoa::String* ToNSString(const char* utf8);
