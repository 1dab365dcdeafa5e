// The window layer's own platform classes: the window view Shim_vVexmir_hwnd (an HWND), the two top-level window
// classes, and the capabilities ("selectors") that the layer asks handles for. A handle answers a selector when
// its object derives from the matching interface (asked with cocoa::Object::as<>()). The controls of the layer
// (buttons, fields, lists...) implement the interfaces that concern them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "KIT/shim/shim-misc.h"
#include "KIT/shim/shim-wnd.h"
#include "platform/graphics/coords.h"
#include "platform/cocoa/controls.h"
#include "platform/cocoa/menu.h"
#include "platform/cocoa/textfield.h"

class Shim_vVexmir_menu;

// ---- Selectors ----

// `onShimCommand:`: actions of controls and menu items.
class SHIM_CommandReceiver {
 public:
  virtual ~SHIM_CommandReceiver() = default;
  virtual void onShimCommand(cocoa::Object* sender) = 0;
};
// `getShimUserData` / `setShimUserData:`.
class SHIM_UserDataHolder {
 public:
  virtual ~SHIM_UserDataHolder() = default;
  virtual LONG_PTR getShimUserData() = 0;
  virtual void setShimUserData(LONG_PTR value) = 0;
};
// `getShimStyle` / `setShimStyle:` (list views, combo boxes, popup buttons).
class SHIM_StyleHolder {
 public:
  virtual ~SHIM_StyleHolder() = default;
  virtual int getShimStyle() = 0;
  virtual void setShimStyle(int style) = 0;
};
// `shimGetExtendedStyle` / `shimSetExtendedStyle:`.
class SHIM_ExtendedStyleHolder {
 public:
  virtual ~SHIM_ExtendedStyleHolder() = default;
  virtual int shimGetExtendedStyle() = 0;
  virtual void shimSetExtendedStyle(int style) = 0;
};
// `shimGetRadioFlags` / `shimSetRadioFlags:` (the layer's buttons): bit 0 radio button, bit 1 first of a set.
class SHIM_RadioButton {
 public:
  virtual ~SHIM_RadioButton() = default;
  virtual int shimGetRadioFlags() = 0;
  virtual void shimSetRadioFlags(int flags) = 0;
};
// `setEnabled:` of views that are not platform controls.
class SHIM_Enableable {
 public:
  virtual ~SHIM_Enableable() = default;
  virtual void setEnabled(bool on) = 0;
};
// `getShimNotificationMode` (list views): non-zero in list-box mode.
class SHIM_NotificationMode {
 public:
  virtual ~SHIM_NotificationMode() = default;
  virtual int getShimNotificationMode() = 0;
};
// `shimGetOwner` / `shimSetOwner:` and the owned-window list of the layer's top-level windows.
class SHIM_OwnedWindowList {
 public:
  virtual ~SHIM_OwnedWindowList() = default;
  virtual HWND shimGetOwner() = 0;
  virtual void shimSetOwner(HWND owner) = 0;
  virtual void shimAddOwnedWindow(HWND w) = 0;
  virtual void shimRemoveOwnedWindow(HWND w) = 0;
  virtual void shimDestroyAllOwnedWindows() = 0;
  virtual void shimDoDestroyStuff() = 0;
  virtual void shimResetOwnedWindowLevels() = 0;
  // The owned windows, head first.
  virtual std::vector<HWND> shimOwnedWindows() = 0;
  // Moves the whole owned list to another window of the layer (the list here becomes empty).
  virtual void shimMoveOwnedWindowsTo(SHIM_OwnedWindowList* other) = 0;
};

// ---- The window view ----

// What a drag brings to a drop target: the paths of existing files or, when there are none, files of the promised
// types that the drag's source writes into a folder on drop (`writePromised` answers the names it wrote there).
struct SHIM_DragContents {
  std::vector<std::string> files;
  std::vector<std::string> promisedTypes;
  std::function<std::vector<std::string>(const std::string& folder)> writePromised;
  // The view the drag started from, when it is one of this application's (else null).
  cocoa::View* source = nullptr;
};

class Shim_vVexmir_hwnd : public cocoa::View,
                          public SHIM_MessageReceiver,
                          public SHIM_TimerReceiver,
                          public SHIM_PostTarget,
                          public SHIM_CommandReceiver,
                          public SHIM_UserDataHolder,
                          public SHIM_ExtendedStyleHolder,
                          public SHIM_Enableable,
                          public cocoa::ActionTarget,
                          public cocoa::MenuDelegate,
                          public cocoa::TextFieldDelegate,
                          public cocoa::ComboBoxDelegate {
 public:
  // Creation: the frame from the record (300 x 200 without one), hidden, attached to the parent, controls built,
  // then WM_CREATE or WM_INITDIALOG. Returns the view (one reference for the creator).
  static Shim_vVexmir_hwnd* initChild(const SHIM_DialogResourceIndex* res, cocoa::Object* parent, DLGPROC proc,
                                      LPARAM param);

  // SHIM_MessageReceiver: the message entry; destroyed views answer 0.
  LRESULT onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  int tag() const override { return m_tag; }
  bool setTag(int t) override {
    m_tag = t;
    return true;
  }
  LONG_PTR getShimUserData() override { return m_userdata; }
  void setShimUserData(LONG_PTR v) override { m_userdata = v; }
  // Byte index 0..127 (words of pointer size, index / 4); other indices read 0 and write nothing.
  LONG_PTR getShimExtraData(int index);
  void setShimExtraData(int index, LONG_PTR value);
  WNDPROC getShimWindowProc() const { return m_wndproc; }
  void setShimWindowProc(WNDPROC p) { m_wndproc = p; }
  DLGPROC getShimDialogProc() const { return m_dlgproc; }
  void setShimDialogProc(DLGPROC p) { m_dlgproc = p; }
  HMENU shimGetMenu() const { return m_menu; }
  void shimSetMenu(HMENU menu);
  bool shimHasBeenDestroyed() const { return m_hashaddestroy != 0; }
  bool shimCanPostMessage() override { return m_hashaddestroy == 0; }
  bool shimCapChangeNotify() const { return true; }
  int shimGetExtendedStyle() override { return m_supports_ddrop ? 0x10 : 0; }
  void shimSetExtendedStyle(int v) override;
  unsigned shimCreateWindowFlags() const { return m_create_windowflags; }
  void setCreateWindowFlags(unsigned f) { m_create_windowflags = f; }
  bool isFlipped() const override { return m_flip != 0; }
  bool isOpaque() const override { return m_isopaque != 0; }
  void setOpaque(bool o) { m_isopaque = o ? 1 : 0; }
  void setEnabled(bool on) override { m_enabled = on ? 1 : 0; }
  bool isEnabled() const { return m_enabled != 0; }
  const char* onShimGetText() const { return m_titlestr; }
  void onShimSetText(const char* text);
  // During painting fills the record (and notes that the paint context was fetched); outside it does nothing.
  void getShimPaintInfo(PAINTSTRUCT* ps);
  HDC paintContext() const { return m_paintctx_hdc; }
  unsigned char dirtyBits() const { return m_isdirty; }
  // The OpenGL context of a GL view (a cocoa::OpenGLContext), null for none.
  void* glContext() const { return m_glctx; }
  void setGLContext(void* context) { m_glctx = context; }
  void setDirtyBits(unsigned char bits) { m_isdirty = bits; }
  cocoa::Object* lastTopLevelOwner() const { return m_lastTopLevelOwner; }
  void setLastTopLevelOwner(cocoa::Object* o);

  // Properties: keys below 0x10000 are atoms, others strings compared exactly.
  int shimSetProp(const char* key, void* value);
  void* shimGetProp(const char* key, bool remove);
  int shimEnumProps(PROPENUMPROCEX proc, LPARAM lp);

  // Platform callbacks.
  void setFrame(cocoa::Rect frame) override;
  void drawRect(cocoa::Rect dirty) override;
  void viewDidHide() override;
  void viewDidUnhide() override;
  void didAddSubview(cocoa::View* subview) override;
  void willRemoveSubview(cocoa::View* subview) override;
  bool acceptsFirstResponder() override;
  bool acceptsFirstMouse(cocoa::Event* e) override;
  void keyDown(cocoa::Event* e) override;
  void keyUp(cocoa::Event* e) override;
  void mouseDown(cocoa::Event* e) override;
  void mouseUp(cocoa::Event* e) override;
  void mouseDragged(cocoa::Event* e) override;
  void rightMouseDown(cocoa::Event* e) override;
  void rightMouseUp(cocoa::Event* e) override;
  void rightMouseDragged(cocoa::Event* e) override;
  void otherMouseDown(cocoa::Event* e) override;
  void otherMouseUp(cocoa::Event* e) override;
  void otherMouseDragged(cocoa::Event* e) override;
  void mouseMoved(cocoa::Event* e) override;
  void scrollWheel(cocoa::Event* e) override;
  void magnifyWithEvent(cocoa::Event* e) override;
  void swipeWithEvent(cocoa::Event* e) override;
  void rotateWithEvent(cocoa::Event* e) override;
  void SHIM_Timer(cocoa::Timer* timer) override;
  void onShimCommand(cocoa::Object* sender) override;
  void performAction(const std::string& action, cocoa::Object* sender) override;
  void menuNeedsUpdate(cocoa::Menu* menu) override;
  void controlTextDidEndEditing(cocoa::TextField* field) override;
  void controlTextDidChange(cocoa::TextField* field) override;
  // Editable combo boxes: the list opens (WM_COMMAND code 7), an item was chosen (code 1), the text was typed
  // (code 5).
  void comboBoxWillPopUp(cocoa::ComboBox* box) override;
  void comboBoxSelectionDidChange(cocoa::ComboBox* box) override;
  void comboBoxTextDidChange(cocoa::ComboBox* box) override;
  // Dropped files: builds the WM_DROPFILES block from what the drag carries and the drop point (view coordinates)
  // and sends it (dropping) or returns it (looking; the caller frees it). Promised files are written on a drop into
  // the folder SHIM_DDrop_getDroppedFileTargetPath names; while only looking, "tmp.<type>" names stand in for them.
  // Views that are no drop target answer null.
  HANDLE shimExtendedDragOp(const SHIM_DragContents& contents, cocoa::Point where, bool retGlob);
  bool supportsDroppedFiles() const { return m_supports_ddrop; }
  // Accessibility and OpenGL have no counterpart here: what was asked is recorded (see SHIM_Internal_*).
  cocoa::Object* accessibilityElement();

 protected:
  ~Shim_vVexmir_hwnd() override;

 protected:
  explicit Shim_vVexmir_hwnd(cocoa::Rect frame) : cocoa::View(frame) {}
  // initChild's work on a view made by a subclass (hosted windows): attaches it, builds it, sends the creation
  // messages; returns the view.
  static Shim_vVexmir_hwnd* initView(Shim_vVexmir_hwnd* v, const SHIM_DialogResourceIndex* res, cocoa::Object* parent,
                                     DLGPROC proc, LPARAM param);

 private:
  struct WindowPropRec {
    bool isString = false;
    std::string name;
    uintptr_t atom = 0;
    void* value = nullptr;
  };
  void drawImpl(cocoa::Rect rect, HDC hdc);
  LRESULT sendMouse(UINT msg, cocoa::Event* e);

  signed char m_enabled = 1;
  DLGPROC m_dlgproc = nullptr;
  WNDPROC m_wndproc = nullptr;
  LONG_PTR m_userdata = 0;
  LONG_PTR m_extradata[32] = {};
  int m_tag = 0;
  int m_isfakerightmouse = 0;
  unsigned char m_hashaddestroy = 0;
  HMENU m_menu = nullptr;
  unsigned char m_flip = 1;
  bool m_supports_ddrop = false;
  bool m_paintctx_used = false;
  HDC m_paintctx_hdc = nullptr;
  std::vector<WindowPropRec> m_props;  // head first
  cocoa::Rect m_paintctx_rect;
  signed char m_isopaque = 1;
  char m_titlestr[1024] = {};
  unsigned int m_create_windowflags = 0;
  void* m_glctx = nullptr;
  unsigned char m_isdirty = 3;
  cocoa::Object* m_lastTopLevelOwner = nullptr;  // retained
  bool m_inDealloc = false;
};

// Mouse delivery of the window views: the window procedure's result, 0 for a null view, -1 for a destroyed view or
// one without a procedure.
LRESULT SHIM_SendMouseMessage(HWND view, UINT msg, cocoa::Event* event);
// The platform's drop of files on a view (point in window base coordinates): the view hit there and its ancestors
// below `target` are offered the drop first. True when a view took it.
bool SHIM_DropFiles(HWND target, const std::vector<std::string>& files, cocoa::Point pointInWindow);
bool SHIM_DropContents(HWND target, const SHIM_DragContents& contents, cocoa::Point pointInWindow);
// The platform's dragging callbacks on a view (point in window base coordinates): entering answers the copy
// operation (4) for drop targets, 0 for others, and hands a looking block to SHIM_DDrop_onDragEnter; moving reports
// to SHIM_DDrop_onDragOver; leaving to SHIM_DDrop_onDragLeave.
int SHIM_DragEntered(HWND target, const std::vector<std::string>& files, cocoa::Point pointInWindow);
int SHIM_DragEnteredContents(HWND target, const SHIM_DragContents& contents, cocoa::Point pointInWindow);
int SHIM_DragUpdated(HWND target, cocoa::Point pointInWindow);
void SHIM_DragExited(HWND target);
// True while `hdc` is the context of a paint in progress (of any window view): such a context belongs to the paint.
bool SHIM_Internal_IsPaintContext(HDC hdc);
// Ends a paint's own context as its paint ends: freed, or, while GetDC holders have not released it, emptied and
// left for the last ReleaseDC to free.
void SHIM_Internal_EndPaintContext(HDC hdc);
// How often accessibility asked a window procedure for its element (the platform model has no accessibility).
int SHIM_Internal_AccessibilityAsks();

// ---- Top-level windows ----

// What both window classes share: the owner, the owned-window list, the size memory and the platform callbacks that
// become messages to the content view.
class Shim_vVexmir_windowbase : public cocoa::Window, public SHIM_OwnedWindowList, public SHIM_MessageReceiver {
 public:
  explicit Shim_vVexmir_windowbase(cocoa::Rect contentRect) : cocoa::Window(contentRect) {}
  HWND shimGetOwner() override { return m_owner; }
  void shimSetOwner(HWND owner) override { m_owner = owner; }
  void shimAddOwnedWindow(HWND w) override;
  void shimRemoveOwnedWindow(HWND w) override;
  void shimDestroyAllOwnedWindows() override;
  void shimDoDestroyStuff() override;
  void shimResetOwnedWindowLevels() override;
  std::vector<HWND> shimOwnedWindows() override { return m_ownedwnds; }
  void shimMoveOwnedWindowsTo(SHIM_OwnedWindowList* other) override;
  // Windows pass their messages to nobody of their own: the content view has the procedure.
  LRESULT onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  bool canBecomeKeyWindow() override;
  void becomeKeyWindow() override;
  void resignKeyWindow() override;
  bool windowShouldClose() override;
  void windowDidMove() override;
  void setFrame(cocoa::Rect frame, bool display) override;
  cocoa::Point minSize() const override;
  cocoa::Point maxSize() const override;
  // Drops the reference a window of the layer holds on itself from creation until it is destroyed.
  void releaseSelf();
  void markNotSelfHeld() { m_selfReleased = true; }
  signed char m_enabled = 1;
  int m_wantraiseamt = 0;
  bool m_wantInitialKeyWindowOnShow = false;

 protected:
  ~Shim_vVexmir_windowbase() override;
  virtual bool isDialogBox() const { return false; }
  cocoa::Point lastFrameSize{0, 0};
  HWND m_owner = nullptr;  // not retained
  std::vector<HWND> m_ownedwnds;
  bool m_selfReleased = false;
};

class Shim_vVexmir_modelesswindow : public Shim_vVexmir_windowbase {
 public:
  explicit Shim_vVexmir_modelesswindow(cocoa::Rect r) : Shim_vVexmir_windowbase(r) {}
};

class Shim_vVexmir_dialogbox : public Shim_vVexmir_windowbase {
 public:
  explicit Shim_vVexmir_dialogbox(cocoa::Rect r) : Shim_vVexmir_windowbase(r) {}
  void shimSetModalRetVal(INT_PTR v) {
    m_rv = v;
    m_hasrv = true;
  }
  INT_PTR shimGetModalRetVal() const { return m_rv; }
  bool shimHasModalRetVal() const { return m_hasrv; }

 protected:
  bool isDialogBox() const override { return true; }

 private:
  INT_PTR m_rv = 0;
  bool m_hasrv = false;
};

// ---- Helpers shared by the layer's units ----

// Keeps an object (and, for a view, its window) alive for a scope: calls that reach window procedures and then go
// on using the handle hold it, since any procedure may destroy any window.
class SHIM_Hold {
 public:
  explicit SHIM_Hold(cocoa::Object* o) : object_(o), window_(nullptr) {
    if (object_) object_->retain();
    auto* v = object_ ? object_->as<cocoa::View>() : nullptr;
    window_ = v ? v->window() : nullptr;
    if (window_) window_->retain();
  }
  ~SHIM_Hold() {
    if (window_) window_->release();
    if (object_) object_->release();
  }
  SHIM_Hold(const SHIM_Hold&) = delete;
  SHIM_Hold& operator=(const SHIM_Hold&) = delete;

 private:
  cocoa::Object* object_;
  cocoa::Object* window_;
};

// A window handle's content view, a view itself, else null.
cocoa::View* SHIM_ViewOf(HWND hwnd);
// True when the view is its window's content view.
bool SHIM_IsContentView(cocoa::View* v);
// The layer's window view behind a handle (a window stands for its content view), or null.
Shim_vVexmir_hwnd* SHIM_WindowViewOf(HWND hwnd);
// WM_COMMAND's first parameter: the id in the low 16 bits and the code in the high 16 bits, packed without
// shifting a negative number.
WPARAM SHIM_CommandParam(int id, int code);
// A point packed as y << 16 | x (low 16 bits each), clamped to 16 bits first.
LPARAM SHIM_PointParam(int x, int y);
// What the layer's controls add to the window functions: scroll views and their document views, multi-line text
// views and field editors, the combo-box family's messages. Null slots mean the kind of control is not there.
struct SHIM_ControlHooks {
  cocoa::View* (*documentViewOf)(cocoa::View* v) = nullptr;       // a scroll or clip view's document view
  cocoa::View* (*enclosingScrollView)(cocoa::View* v) = nullptr;  // the scroll view of a scrolled view
  bool (*isTextView)(HWND h) = nullptr;                           // the platform's NSText family
  bool (*textOf)(HWND h, std::string* out) = nullptr;             // text of other text-holding controls
  bool (*setTextOf)(HWND h, const char* text) = nullptr;
  HWND (*fieldOfEditor)(cocoa::View* v) = nullptr;  // the text field a field editor edits, or null
};
SHIM_ControlHooks& SHIM_Internal_ControlHooks();
// Hands every control under `root` (itself included) that notifies `from` (its target, delegate, tab notification
// window or edit owner) over to `to`, which may be null: a control moved to another parent notifies its new owner,
// never the one it left, which may be gone.
void SHIM_Internal_MoveOwner(cocoa::View* root, cocoa::Object* from, cocoa::Object* to);
// The combo messages 0x143..0x161 other than the count and selection ones, for every popup button and combo box:
// through the combo-box helpers, with the control itself as item 0.
LRESULT SHIM_Internal_ComboMessage(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);

// The platform menu behind a menu handle.
cocoa::Menu* SHIM_MenuObject(HMENU menu);
// The layer's handle of a platform menu, or null for a menu that is none of the layer's.
HMENU SHIM_MenuHandle(cocoa::Menu* menu);
// Forgets every reference that views and the application hold to a menu that is being destroyed.
void SHIM_Internal_ForgetMenu(HMENU menu);

// The rounding of the layer: float edges to integers.
int SHIM_TruncEdge(double v);
int SHIM_RoundEdge(double origin, double size);
int SHIM_RoundPoint(double v);
