// The Carbon view of the editor on the platform model: a user pane of the surface's size in the host's Carbon
// window, repainted from an event-loop timer, with the window's mouse, wheel and key events turned into the
// surface's input calls, popup menus shown as Carbon menus and a one-line Unicode field for value entry (composited
// windows only).
#pragma once

#include <vector>

#include "KIT/IEffect/IGraphicsStructs.h"
#include "platform/cocoa/carbon.h"

class IControl;
class IGraphicsMac;
class IParam;
class IPopupMenu;

class IGraphicsCarbon {
 public:
  IGraphicsCarbon(IGraphicsMac* graphics, carbon::WindowRef window, carbon::ControlRef parent, short leftOffset,
                  short topOffset);
  ~IGraphicsCarbon();
  IGraphicsCarbon(const IGraphicsCarbon&) = delete;
  IGraphicsCarbon& operator=(const IGraphicsCarbon&) = delete;

  carbon::ControlRef GetView() const { return mView; }
  carbon::WindowRef GetWindow() const { return mWindow; }
  // The drawing context of the paint in progress, or null.
  carbon::CGContextRef GetCGContext() const { return mCGC; }
  bool GetIsComposited() const { return mIsComposited; }
  carbon::ControlRef GetTextEntryView() const { return mTextEntryView; }

  bool Resize(int w, int h);
  IPopupMenu* CreateIPopupMenu(IPopupMenu* menu, IRECT* r);
  // A new Carbon menu of the popup menu's items (in the menu list, its popup menu as its reference value), or null
  // when it has no items.
  carbon::MenuRef CreateMenu(IPopupMenu* menu);
  void CreateTextEntry(IControl* control, IText* text, IRECT* r, const char* str, IParam* param);
  void EndUserInput(bool commit);
  // Commits an open entry whose control is hidden.
  void EndUserInputOfHiddenControl();

  // The surface's mouse position of an event on the window: the view point truncated, less 2 and 3 pixels.
  void GetMouseXY(carbon::EventRef e, int* x, int* y);
  static IMouseMod MouseModFor(carbon::EventRef e);
  // The surface's key code of a raw key event, or -1 when the key is not one of the editor's.
  static int KeyCodeFor(carbon::EventRef e);
  // Whether a typed character may go into the field of a parameter of that type (null parameter: any).
  static bool AcceptsCharacter(const IParam* param, char c);

 private:
  static carbon::OSStatus MainEventHandler(carbon::EventHandlerCallRef call, carbon::EventRef e, void* self);
  static carbon::OSStatus TextEntryHandler(carbon::EventHandlerCallRef call, carbon::EventRef e, void* self);
  static void TimerHandler(carbon::EventLoopTimerRef timer, void* self);
  carbon::OSStatus onEvent(carbon::EventHandlerCallRef call, carbon::EventRef e);
  carbon::OSStatus onTextEntryKey(carbon::EventHandlerCallRef call, carbon::EventRef e);

  IGraphicsMac* mGraphicsMac;
  bool mIsComposited = false;
  carbon::WindowRef mWindow;
  carbon::ControlRef mView = nullptr;
  carbon::EventLoopTimerRef mTimer = nullptr;
  carbon::EventHandlerRef mControlHandler = nullptr;
  carbon::EventHandlerRef mWindowHandler = nullptr;
  carbon::EventHandlerRef mTextEntryHandler = nullptr;
  carbon::CGContextRef mCGC = nullptr;
  carbon::ControlRef mTextEntryView = nullptr;
  IControl* mEdControl = nullptr;
  IParam* mEdParam = nullptr;
  int mPrevX = 0, mPrevY = 0;
  // The offsets the host gave, kept; the view fills its pane from the pane's origin.
  [[maybe_unused]] short mLeftOffset, mTopOffset;
  std::vector<carbon::MenuRef> mMenusBuilt;  // during one CreateIPopupMenu
};

// The bounds of the event's shape, truncated, or 0, 0, w, h when it has none.
IRECT GetRegionRect(carbon::EventRef e, int w, int h);
// Sets the window's content bounds to its current top left plus w x h.
void ResizeWindow(carbon::WindowRef window, int w, int h);
