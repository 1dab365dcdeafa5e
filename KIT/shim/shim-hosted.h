// Views the window layer hosts: Carbon windows shown inside a window view, Audio Unit views, drags of promised
// files and file lists from a window view, and OpenGL views.
#pragma once

#include <string>
#include <vector>

#include "KIT/shim/shim-hwnd.h"
#include "platform/cocoa/carbon.h"

// ---- Carbon windows ----

// A Carbon window kept in place over a window view: it follows the view's screen position, leaves the screen while
// the view is hidden, and passes the keys its edit-text controls do not take on to the application.
class Shim_vVexmir_hwndcarbonhost : public Shim_vVexmir_hwnd {
 public:
  // Null when the view cannot be made; a host whose Carbon window could not be made has none (no timer, no
  // handlers).
  static Shim_vVexmir_hwndcarbonhost* initCarbonChild(HWND parent, const carbon::Rect& rect, bool composited);

  carbon::WindowRef carbonWindow() const { return m_cwnd; }
  void setWantAllKeys(bool want) { m_wantallkeys = want; }
  bool wantAllKeys() const { return m_wantallkeys; }
  // Watches the bounds of a further Carbon control; the handler is removed when the host closes.
  void addPane(carbon::ControlRef control);
  // The handlers installed now (window, root control, panes), for tests.
  int installedHandlers() const;
  bool isAttached() const;

  void SHIM_Timer(cocoa::Timer* timer) override;
  LRESULT onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void setFrame(cocoa::Rect frame) override;
  void viewDidMoveToWindow() override;
  bool isOpaque() const override { return false; }
  bool shimIsCarbonHostingView() const { return true; }
  // Takes the Carbon window off screen, removes every handler and closes it.
  void close();
  // Puts the Carbon window's content over the host's screen rectangle and redraws it.
  void shimDoRepos();
  // The Carbon event handler (the host is the user data).
  static carbon::OSStatus carbonEvent(carbon::EventHandlerCallRef call, carbon::EventRef event, void* host);

 protected:
  ~Shim_vVexmir_hwndcarbonhost() override;

 private:
  explicit Shim_vVexmir_hwndcarbonhost(cocoa::Rect frame) : Shim_vVexmir_hwnd(frame) {}
  carbon::OSStatus handle(carbon::EventRef event);
  carbon::WindowRef m_cwnd = nullptr;  // retained
  bool m_whileresizing = false;
  carbon::EventHandlerRef m_wndhandler = nullptr;
  carbon::EventHandlerRef m_ctlhandler = nullptr;
  std::vector<carbon::EventHandlerRef> m_panehandlers;
  bool m_wantallkeys = false;
};

HWND SHIM_CreateCarbonWindowView(HWND parent, void** windowRefOut, RECT* r, bool composited);
void* SHIM_GetWindowFromCarbonWindowView(HWND host);
void SHIM_AddCarbonPaneToView(HWND host, void* control);
void SHIM_CarbonWndHost_SetWantAllKeys(void* host, bool want);

// ---- Audio Unit views ----

// There are no Audio Units on this platform. A plug-in bundle stands in for an Audio Unit's view bundle: the view
// class named in the information is the bundle's exported factory "<class>_uiViewForAudioUnit", which makes a new
// view (one reference for the caller) of the asked size for the unit.
typedef struct SHIM_AudioUnitRecord* AudioUnit;
struct AudioUnitCocoaViewInfo {
  const char* mCocoaAUViewBundleLocation;  // a file URL ("file:///...") or a path
  const char* mCocoaAUViewClass[1];
};
typedef cocoa::View* (*SHIM_AUViewFactory)(AudioUnit unit, double width, double height);
HWND SHIM_GetAudioUnitCocoaView(HWND parent, AudioUnit unit, const AudioUnitCocoaViewInfo* info, RECT* r);

// ---- Drags from a window view ----

// Starts a drag that promises the file `srcfn`; when it is dropped on a folder, `callback` writes it there.
void SHIM_InitiateDragDrop(HWND hwnd, const RECT* srcrect, const char* srcfn, void (*callback)(const char*));
void SHIM_InitiateDragDropOfFileList(HWND hwnd, const RECT* srcrect, const char** files, int count, HGDIOBJ icon);
void SHIM_FinishDragDrop();
// The drop of the promise into a folder: writes the file (asking before replacing one) and returns its name, or
// nothing when no file was written.
std::vector<std::string> SHIM_DoDragDrop(const char* destinationFolder);

// ---- OpenGL views ----

void SHIM_SetViewGL(HWND hwnd, bool on);
bool SHIM_GetViewGL(HWND hwnd);
bool SHIM_SetGLContextToView(HWND hwnd);
