// The Carbon names of the headless window model: Carbon windows are model windows whose content view is a flipped
// HIView, controls are HIViews, Carbon events are dispatched through handler chains on windows and controls,
// event-loop timers run on the model run loop, Carbon menus pop up through the same scripted chooser as Cocoa
// menus, and the Unicode edit-text control is a one-line field editor of its own. Only what the editor's Carbon
// view calls on is here, under the platform's names and numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/cocoa/cfstring.h"
#include "platform/cocoa/runloop.h"
#include "platform/cocoa/view.h"

namespace platform::gfx {
class Context;
}

namespace carbon {

using OSStatus = int32_t;
using OSErr = int16_t;
using OSType = uint32_t;
using UInt32 = uint32_t;
using SInt32 = int32_t;
using UInt16 = uint16_t;
using SInt16 = int16_t;
using Boolean = unsigned char;
using MenuID = SInt16;
using MenuItemIndex = UInt16;
using MenuAttributes = UInt32;
using MenuItemAttributes = UInt32;
using MenuCommand = UInt32;
using EventTime = double;
using EventTimerInterval = double;
using WindowAttributes = UInt32;
using EventParamName = OSType;
using EventParamType = OSType;
using ControlPartCode = SInt16;
using CFStringRef = cocoa::String*;

constexpr OSType fourCC(const char (&s)[5]) {
  return (static_cast<OSType>(static_cast<unsigned char>(s[0])) << 24) |
         (static_cast<OSType>(static_cast<unsigned char>(s[1])) << 16) |
         (static_cast<OSType>(static_cast<unsigned char>(s[2])) << 8) |
         static_cast<OSType>(static_cast<unsigned char>(s[3]));
}

constexpr OSStatus noErr = 0;
constexpr OSStatus paramErr = -50;
constexpr OSStatus eventNotHandledErr = -9874;
constexpr OSStatus eventParameterNotFoundErr = -9870;
constexpr OSStatus errUnknownControl = -30584;

// Event classes and kinds.
constexpr UInt32 kEventClassMouse = fourCC("mous");
constexpr UInt32 kEventClassKeyboard = fourCC("keyb");
constexpr UInt32 kEventClassWindow = fourCC("wind");
constexpr UInt32 kEventClassControl = fourCC("cntl");
constexpr UInt32 kEventMouseDown = 1, kEventMouseUp = 2, kEventMouseMoved = 5, kEventMouseDragged = 6,
                 kEventMouseWheelMoved = 10;
constexpr UInt32 kEventRawKeyDown = 1, kEventRawKeyRepeat = 2, kEventRawKeyUp = 3;
constexpr UInt32 kEventWindowDeactivated = 6;
constexpr UInt32 kEventControlDraw = 4;

// Event parameters and their types.
constexpr EventParamName kEventParamDirectObject = fourCC("----");
constexpr EventParamName kEventParamWindowMouseLocation = fourCC("wmou");
constexpr EventParamName kEventParamMouseLocation = fourCC("mloc");
constexpr EventParamName kEventParamMouseButton = fourCC("mbtn");
constexpr EventParamName kEventParamClickCount = fourCC("ccnt");
constexpr EventParamName kEventParamMouseWheelAxis = fourCC("mwax");
constexpr EventParamName kEventParamMouseWheelDelta = fourCC("mwdl");
constexpr EventParamName kEventParamKeyModifiers = fourCC("kmod");
constexpr EventParamName kEventParamKeyCode = fourCC("kcod");
constexpr EventParamName kEventParamKeyMacCharCodes = fourCC("kchr");
constexpr EventParamName kEventParamCGContextRef = fourCC("cntx");
constexpr EventParamName kEventParamGrafPort = fourCC("graf");
constexpr EventParamName kEventParamShape = fourCC("shap");
constexpr EventParamType typeHIPoint = fourCC("hipt");
constexpr EventParamType typeMouseButton = fourCC("mbtn");
constexpr EventParamType typeUInt32 = fourCC("magn");
constexpr EventParamType typeSInt32 = fourCC("long");
constexpr EventParamType typeMouseWheelAxis = fourCC("mwax");
constexpr EventParamType typeChar = fourCC("TEXT");
constexpr EventParamType typeCGContextRef = fourCC("cntx");
constexpr EventParamType typeGrafPtr = fourCC("grft");
constexpr EventParamType typeHIShapeRef = fourCC("shap");
constexpr UInt16 kEventMouseButtonPrimary = 1, kEventMouseButtonSecondary = 2;
constexpr UInt16 kEventMouseWheelAxisX = 0, kEventMouseWheelAxisY = 1;

// Key modifier bits.
constexpr UInt32 cmdKey = 1u << 8, shiftKey = 1u << 9, alphaLock = 1u << 10, optionKey = 1u << 11,
                 controlKey = 1u << 12;

// Window attributes and classes.
constexpr WindowAttributes kWindowCompositingAttribute = 1u << 19;  // 0x80000
constexpr WindowAttributes kWindowStandardHandlerAttribute = 1u << 25;
constexpr UInt32 kDocumentWindowClass = 6;
constexpr UInt32 kWindowContentRgn = 33;

struct HIPoint {
  double x = 0, y = 0;
};
struct HISize {
  double width = 0, height = 0;
};
struct HIRect {
  HIPoint origin;
  HISize size;
};
// QuickDraw rectangle.
struct Rect {
  SInt16 top = 0, left = 0, bottom = 0, right = 0;
};

using WindowRef = cocoa::Window*;
using ControlRef = cocoa::View*;
using HIViewRef = cocoa::View*;
using CGContextRef = platform::gfx::Context*;
// A QuickDraw port stands for its window's pixels.
using CGrafPtr = cocoa::Window*;
using GrafPtr = cocoa::Window*;

// Shapes (only rectangles are needed).
struct HIShape {
  HIRect bounds;
};
using HIShapeRef = const HIShape*;
HIRect* HIShapeGetBounds(HIShapeRef shape, HIRect* out);

// Events.
class EventObject : public cocoa::Object {
 public:
  UInt32 eventClass = 0;
  UInt32 eventKind = 0;
  struct Param {
    EventParamType type;
    std::vector<uint8_t> bytes;
  };
  std::map<EventParamName, Param> params;
  HIShape shapeStorage;  // the shape a draw event points at
};
using EventRef = EventObject*;
struct EventTypeSpec {
  UInt32 eventClass;
  UInt32 eventKind;
};

OSStatus CreateEvent(void* allocator, UInt32 eventClass, UInt32 kind, EventTime when, UInt32 flags, EventRef* out);
void ReleaseEvent(EventRef event);
UInt32 GetEventClass(EventRef event);
UInt32 GetEventKind(EventRef event);
OSStatus SetEventParameter(EventRef event, EventParamName name, EventParamType type, UInt32 size, const void* data);
// The parameter's bytes when its type is the desired one (or the desired type is typeWildCard); copied up to
// bufferSize.
OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType, EventParamType* actualType,
                           UInt32 bufferSize, UInt32* actualSize, void* data);
constexpr EventParamType typeWildCard = fourCC("****");

// Handlers and targets.
struct HandlerCall;
using EventHandlerCallRef = HandlerCall*;
using EventHandlerProcPtr = OSStatus (*)(EventHandlerCallRef, EventRef, void*);
using EventHandlerUPP = EventHandlerProcPtr;
inline EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr p) {
  return p;
}
inline void DisposeEventHandlerUPP(EventHandlerUPP) {}
struct EventTarget;
using EventTargetRef = EventTarget*;
struct InstalledHandler;
using EventHandlerRef = InstalledHandler*;

EventTargetRef GetWindowEventTarget(WindowRef window);
EventTargetRef GetControlEventTarget(ControlRef control);
// The focused control of the key window, else the key window, else null.
EventTargetRef GetUserFocusEventTarget();
OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, UInt32 numTypes,
                             const EventTypeSpec* types, void* userData, EventHandlerRef* outRef);
OSStatus RemoveEventHandler(EventHandlerRef handler);
OSStatus CallNextEventHandler(EventHandlerCallRef call, EventRef event);
// Runs the target's handlers for the event, newest first, then its standard handling; controls pass what they do
// not take to their superview and then to their window. eventNotHandledErr when nobody took it.
OSStatus SendEventToEventTarget(EventRef event, EventTargetRef target);

// Event-loop timers.
struct EventLoop;
using EventLoopRef = EventLoop*;
using EventLoopTimerRef = cocoa::Timer*;
using EventLoopTimerProcPtr = void (*)(EventLoopTimerRef, void*);
using EventLoopTimerUPP = EventLoopTimerProcPtr;
inline EventLoopTimerUPP NewEventLoopTimerUPP(EventLoopTimerProcPtr p) {
  return p;
}
inline void DisposeEventLoopTimerUPP(EventLoopTimerUPP) {}
constexpr EventTimerInterval kEventDurationSecond = 1.0;
EventLoopRef GetMainEventLoop();
// Fires first after `firstFire` seconds, then every `interval` seconds, in the common run-loop modes.
OSStatus InstallEventLoopTimer(EventLoopRef loop, EventTimerInterval firstFire, EventTimerInterval interval,
                               EventLoopTimerUPP proc, void* userData, EventLoopTimerRef* out);
OSStatus RemoveEventLoopTimer(EventLoopTimerRef timer);

// Windows.
OSStatus CreateNewWindow(UInt32 windowClass, WindowAttributes attributes, const Rect* contentBounds, WindowRef* out);
void DisposeWindow(WindowRef window);
OSStatus GetWindowAttributes(WindowRef window, WindowAttributes* out);
// Content bounds in global coordinates (top left of the main screen, y down).
OSStatus GetWindowBounds(WindowRef window, UInt32 region, Rect* out);
OSStatus SetWindowBounds(WindowRef window, UInt32 region, const Rect* bounds);
CGrafPtr GetWindowPort(WindowRef window);
void ShowWindow(WindowRef window);
void SelectWindow(WindowRef window);
// Non-composited windows: draws every control now (each gets a draw event with the window's port).
void UpdateControls(WindowRef window, void* updateRegion);
// The same for the whole window, without an update region.
void DrawControls(WindowRef window);
// Makes the window the active (key) window, or gives that up.
void ActivateWindow(WindowRef window, Boolean activate);
// A context over the port's whole content (origin at the bottom left, y up) of its own, until QDEndCGContext. The
// pixels it draws into stay while it lives: after a resize or the window's end, drawing lands where nobody sees it.
OSStatus QDBeginCGContext(CGrafPtr port, CGContextRef* out);
OSStatus QDEndCGContext(CGrafPtr port, CGContextRef* context);

// Views and controls. A control's bounds are in its window's content coordinates (top left, y down).
class HIView : public cocoa::View {
 public:
  explicit HIView(cocoa::Rect frame) : View(frame) {}
  bool isFlipped() const override { return true; }
  EventTarget* target();
  // Composited drawing: the draw event with a context whose origin is the view's top left, y down.
  void drawRect(cocoa::Rect dirty) override;
  // What the control does with an event none of its handlers took.
  virtual OSStatus standardHandler(EventRef event);
  // The control's kind: signature 'appl' and a kind code ('user' for a user pane).
  virtual OSType controlKind() const;
  UInt32 features = 0;

 protected:
  ~HIView() override;

 private:
  EventTarget* target_ = nullptr;
};

extern const OSType kHIViewWindowContentID;
struct HIViewID {
  OSType signature;
  SInt32 id;
};
struct ControlKind {
  OSType signature;
  OSType kind;
};
OSStatus GetControlKind(ControlRef control, ControlKind* out);
// Draws the view and its subviews into their window now (composited windows).
OSStatus HIViewRender(HIViewRef view);
HIViewRef HIViewGetRoot(WindowRef window);
OSStatus HIViewFindByID(HIViewRef start, HIViewID id, HIViewRef* out);
OSStatus HIViewAddSubview(HIViewRef parent, HIViewRef child);
OSStatus HIViewRemoveFromSuperview(HIViewRef view);
OSStatus HIViewSetFrame(HIViewRef view, const HIRect* frame);
OSStatus HIViewGetFrame(HIViewRef view, HIRect* out);
OSStatus HIViewSetNeedsDisplayInRect(HIViewRef view, const HIRect* rect, Boolean needs);
OSStatus HIViewSetNeedsDisplay(HIViewRef view, Boolean needs);
OSStatus HIViewSetVisible(HIViewRef view, Boolean visible);
enum HICoordinateSpace { kHICoordSpaceWindow = 1, kHICoordSpaceView = 3 };
// Window space: top left of the content, y down.
void HIPointConvert(HIPoint* point, int sourceSpace, void* sourceObject, int destinationSpace, void* destinationObject);
OSStatus CreateUserPaneControl(WindowRef window, const Rect* bounds, UInt32 features, ControlRef* out);
OSStatus GetRootControl(WindowRef window, ControlRef* out);
OSStatus CreateRootControl(WindowRef window, ControlRef* out);
OSStatus EmbedControl(ControlRef control, ControlRef container);
void SizeControl(ControlRef control, SInt16 w, SInt16 h);
void DisposeControl(ControlRef control);

// The Unicode edit-text control.
struct ControlFontStyleRec {
  SInt16 flags = 0;
  SInt16 font = 0;
  SInt16 size = 0;
  SInt16 style = 0;
  SInt16 mode = 0;
  SInt16 just = 0;
};
constexpr SInt16 kControlUseFontMask = 1, kControlUseSizeMask = 4, kControlUseJustMask = 0x40;
constexpr SInt16 teFlushDefault = 0, teCenter = 1, teFlushRight = -1, teFlushLeft = -2;
struct ControlEditTextSelectionRec {
  SInt16 selStart;
  SInt16 selEnd;
};
constexpr OSType kControlEditTextCFStringTag = fourCC("cfst");
constexpr OSType kControlEditTextSelectionTag = fourCC("sele");
constexpr OSType kControlFontStyleTag = fourCC("font");
constexpr OSType kControlEditTextSingleLineTag = fourCC("sglc");
constexpr ControlPartCode kControlEntireControl = 0, kControlEditTextPart = 5, kControlFocusNextPart = -1;

class EditTextControl : public HIView {
 public:
  explicit EditTextControl(cocoa::Rect frame) : HIView(frame) {}
  std::string text;  // UTF-8
  SInt16 selStart = 0, selEnd = 0;
  ControlFontStyleRec style;
  bool singleLine = false;
  bool visible = true;
  // Inserts typed characters, Backspace and Delete remove; arrows move the caret (kept at the end).
  OSStatus standardHandler(EventRef event) override;
  void drawRect(cocoa::Rect dirty) override;
  OSType controlKind() const override { return fourCC("eutx"); }
};
OSStatus CreateEditUnicodeTextControl(WindowRef window, const Rect* bounds, CFStringRef text, Boolean isPassword,
                                      const ControlFontStyleRec* style, ControlRef* out);
// Tags above. CFString data is a CFStringRef: SetControlData copies the text; GetControlData hands out a new
// retained string.
OSStatus SetControlData(ControlRef control, ControlPartCode part, OSType tag, UInt32 size, const void* data);
OSStatus GetControlData(ControlRef control, ControlPartCode part, OSType tag, UInt32 bufferSize, void* buffer,
                        UInt32* actualSize);
OSStatus SetKeyboardFocus(WindowRef window, ControlRef control, ControlPartCode part);
ControlRef GetKeyboardFocus(WindowRef window);
// The automatic user focus (the platform's -1).
extern const WindowRef kUserFocusAuto;
OSStatus SetUserFocusWindow(WindowRef window);
WindowRef GetUserFocusWindow();
// Font families by name (a small table of the model; unknown names get a new number).
SInt16 FMGetFontFamilyFromName(const char* name);
std::string FMGetFontFamilyName(SInt16 family);

// Theme cursors.
constexpr UInt32 kThemeArrowCursor = 0;
OSStatus SetThemeCursor(UInt32 cursor);

// Menus.
class MenuObject;
using MenuRef = MenuObject*;
constexpr MenuItemAttributes kMenuItemAttrDisabled = 1u << 0, kMenuItemAttrIgnoreMeta = 1u << 5,
                             kMenuItemAttrSeparator = 1u << 6, kMenuItemAttrSectionHeader = 1u << 11;
constexpr SInt16 kInsertHierarchicalMenu = -1;
OSStatus CreateNewMenu(MenuID id, MenuAttributes attributes, MenuRef* out);
MenuID UniqueMenuID();
MenuID GetMenuID(MenuRef menu);
UInt16 CountMenuItems(MenuRef menu);
OSStatus AppendMenuItemTextWithCFString(MenuRef menu, CFStringRef text, MenuItemAttributes attributes,
                                        MenuCommand command, MenuItemIndex* outIndex);
// Inserts after item `afterItem` (0 inserts at the top).
OSStatus InsertMenuItemTextWithCFString(MenuRef menu, CFStringRef text, MenuItemIndex afterItem,
                                        MenuItemAttributes attributes, MenuCommand command);
void CheckMenuItem(MenuRef menu, MenuItemIndex item, Boolean checked);
OSStatus SetMenuItemHierarchicalMenu(MenuRef menu, MenuItemIndex item, MenuRef submenu);
// Item 0 is the menu itself.
OSStatus SetMenuItemRefCon(MenuRef menu, MenuItemIndex item, uintptr_t refCon);
OSStatus GetMenuItemRefCon(MenuRef menu, MenuItemIndex item, uintptr_t* refCon);
void InsertMenu(MenuRef menu, MenuID beforeId);
MenuRef GetMenuHandle(MenuID id);
void DeleteMenu(MenuID id);
void ReleaseMenu(MenuRef menu);
// Shows the menu with its top left at the global point and returns (menu id << 16) | item (1-based) of the pick,
// or 0 when dismissed. Submenus must be in the menu list to be found by id afterwards.
SInt32 PopUpMenuSelect(MenuRef menu, SInt16 top, SInt16 left, MenuItemIndex popUpItem);
inline SInt16 HiWord(SInt32 x) {
  return static_cast<SInt16>((x >> 16) & 0xFFFF);
}
inline SInt16 LoWord(SInt32 x) {
  return static_cast<SInt16>(x & 0xFFFF);
}

// Display and cursor (the Core Graphics calls the editor uses).
using CGDirectDisplayID = UInt32;
using CGError = SInt32;
struct CGPoint {
  double x = 0, y = 0;
};
CGDirectDisplayID CGMainDisplayID();
CGError CGDisplayHideCursor(CGDirectDisplayID display);
CGError CGDisplayShowCursor(CGDirectDisplayID display);
size_t CGDisplayPixelsHigh(CGDirectDisplayID display);
CGError CGWarpMouseCursorPosition(CGPoint p);

// Images of bitmap contexts, drawn into other contexts.
struct CGImage;
using CGImageRef = CGImage*;
struct CGRect {
  CGPoint origin;
  struct {
    double width = 0, height = 0;
  } size;
};
// An image of the context's pixels (opaque, the leading byte of each pixel ignored), or null for a null context.
// As on the platform it is copy-on-write: this model shares the context's pixels, so draw the image and release it
// before drawing into the context again.
CGImageRef CGBitmapContextCreateImage(CGContextRef bitmapContext);
void CGImageRelease(CGImageRef image);
size_t CGImageGetWidth(CGImageRef image);
size_t CGImageGetHeight(CGImageRef image);
// As the platform draws: the image's first row at the rectangle's maximum y in user space.
void CGContextDrawImage(CGContextRef context, CGRect rect, CGImageRef image);
void CGContextTranslateCTM(CGContextRef context, double tx, double ty);
void CGContextScaleCTM(CGContextRef context, double sx, double sy);
void CGContextSaveGState(CGContextRef context);
void CGContextRestoreGState(CGContextRef context);

// System facts: 'sysv' answers the system version code (0x1090 on this platform).
constexpr OSType gestaltSystemVersion = fourCC("sysv");
OSErr Gestalt(OSType selector, SInt32* response);

// Every Carbon draw event sent so far (view, shape bounds), for tests: cleared by tests.
struct DrawRecord {
  HIViewRef view;
  HIRect bounds;
  bool hasShape;
};
std::vector<DrawRecord>& drawLog();

}  // namespace carbon
