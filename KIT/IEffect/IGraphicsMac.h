// The editor surface on the macOS platform model: an IGraphics hosted either as a Cocoa view inside the host's view
// or as a Carbon user pane inside the host's window. It copies the draw bitmap to whichever view is open, loads the
// images and data files of the plug-in bundle, and gives the controls the platform's popup menus, text entry, file
// panels, message boxes, URL opening and cursor control.
//
// Main thread only (the view's timer, drawing, events and the host's editor requests).
#pragma once

#include "KIT/IEffect/IGraphics.h"
#include "KIT/kitstring.h"
#include "platform/cocoa/view.h"

class IGraphicsCarbon;
class IGraphicsCocoa_vVexmir_vst;
class PIX_IBitmap;

// The borderless child window that AttachSubWindow puts over a host's window. Borderless windows of the platform
// refuse to become key; this one accepts, so that the editor's text entry gets the keyboard.
class CustomCocoaWindow_vVexmir_vst : public cocoa::Window {
 public:
  explicit CustomCocoaWindow_vVexmir_vst(cocoa::Rect contentRect);
  bool canBecomeKeyWindow() override { return true; }
};

class IGraphicsMac : public IGraphics {
 public:
  // The largest data file read in one piece is at least this big; shorter files are followed by zero bytes up to it.
  static constexpr int kMinLoadBufferSize = 4096000;

  // The surface's key number for a Mac virtual key code and the character it typed: the arrows, space, digits
  // and letters of either case; -1 for any other key. Both window paths share it.
  static int KeyFromMacKey(unsigned keyCode, char32_t c);

  IGraphicsMac(IEffectBase* plug, int width, int height, int fps = 0);
  ~IGraphicsMac() override;

  void SetBundleID(const char* id) { mBundleID.Set(id ? id : ""); }
  const char* GetBundleID() const { return mBundleID.Get(); }

  bool DrawScreen(IRECT* r) override;
  bool MeasureIText(IText* text, const char* str, IRECT* r) override;
  void ForceEndUserEdit() override;
  void EndUserEditOfHiddenControl() override;
  void Resize(int w, int h) override;
  bool WindowIsOpen() override;
  const char* GetGUIAPI() override;
  int ShowMessageBox(const char* text, const char* caption, int type) override;
  bool AskQuestion(const char* text, const char* caption, const char* yes, const char* no) override;
  IPopupMenu* CreateIPopupMenu(IPopupMenu* menu, IRECT* r) override;
  void CreateTextEntry(IControl* control, IText* text, IRECT* r, const char* str, IParam* param) override;
  void HostPath(KIT_String* path) override;
  void PluginPath(KIT_String* path) override;
  void DesktopPath(KIT_String* path) override;
  void PromptForFile(KIT_String* file, EFileAction action, KIT_String* dir, char* extensions) override;
  bool PromptForColor(IColor* color, char* prompt) override;
  bool OpenURL(const char* url, const char* msgWindowTitle = nullptr, const char* confirmMsg = nullptr,
               const char* errMsgOnFailure = nullptr) override;
  // parentView: the host's view (a cocoa::View); returns the editor's view.
  void* OpenWindow(void* parentView) override;
  // window: the host's Carbon window; control: the pane to embed into, or null; returns the editor's pane.
  void* OpenWindow(void* window, void* control, short leftOffset, short topOffset) override;
  void AttachSubWindow(void* hostWindowRef) override;
  void RemoveSubWindow() override;
  void CloseWindow() override;
  void* GetWindow() override;
  char* OSLoadFile(int id, const char* name) override;
  void HideMouseCursor() override;
  void ShowMouseCursor() override;
  PIX_IBitmap* OSLoadBitmap(int id, const char* name) override;

  void* OpenCocoaWindow(void* parentView);
  void* OpenCarbonWindow(void* window, void* control, short leftOffset, short topOffset);
  int GetUserOSVersion();

  IGraphicsCocoa_vVexmir_vst* GetCocoaView() const { return mGraphicsCocoa; }
  IGraphicsCarbon* GetCarbonView() const { return mGraphicsCarbon; }

  // A surface rectangle as the Cocoa view's rectangle (y up from the bottom, one pixel larger each way).
  void ToViewRect(const IRECT* r, double* x, double* y, double* w, double* h) const;

 private:
  // Closes the view; a text open in a field is taken as a click elsewhere takes it, or dropped.
  void closeView(bool takeInput);

  IGraphicsCarbon* mGraphicsCarbon = nullptr;
  IGraphicsCocoa_vVexmir_vst* mGraphicsCocoa = nullptr;  // retained while open
  KIT_String mBundleID;
  cocoa::Window* mHostNSWindow = nullptr;  // retained
};

// The PNG image of that name (only its last path component counts) from the bundle with that identifier; a new
// bitmap the caller owns, or null.
PIX_IBitmap* LoadImgFromResourceOSX(const char* bundleID, const char* name);
