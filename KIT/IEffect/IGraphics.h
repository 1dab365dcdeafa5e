// The editor surface of one plug-in instance: the top-level controls (the background first) and layers, the
// off-screen bitmap everything is drawn into, the dirty-tracking and redraw cycle, input dispatch, the drawing
// operations the controls call and the process-wide bitmap and font caches.
//
// A platform surface derives from it: it supplies the window, the copy of the bitmap to the screen, popup menus,
// text entry, file and message prompts and resource loading (the pure virtual operations below), and drives the
// cycle from a repeating timer: IsDirty for the area to repaint, then Draw from the view's paint callback.
//
// Threads: everything runs on the main thread except SetParameterFromPlug and the controls' SetValueFromPlug /
// SetValueFromHardware, which the MIDI input thread also calls; they only store values and set dirty flags.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "KIT/IEffect/IGraphicsStructs.h"
#include "KIT/kitstring.h"
#include "KIT/mutex.h"
#include "KIT/ptrlist.h"

class ControlLayer;
class IControl;
class IEffectBase;
class IParam;
class IPopupMenu;
class PIX_IBitmap;
class PIX_IFont;
class PIX_MemBitmap;
class PIX_SysBitmap;

class IGraphics {
 public:
  static constexpr int kDefaultFPS = 25;

  // Creates no bitmap: PrepDraw does, when the plug-in attaches the surface.
  IGraphics(IEffectBase* plug, int width, int height, int fps = 0);
  virtual ~IGraphics();
  IGraphics(const IGraphics&) = delete;
  IGraphics& operator=(const IGraphics&) = delete;

  // ---- Platform operations ----
  // Copies the draw bitmap to the view; called at the end of every Draw with the repainted rectangle.
  virtual bool DrawScreen(IRECT* r) = 0;
  virtual bool MeasureIText(IText* text, const char* str, IRECT* r);
  virtual void ForceEndUserEdit() = 0;
  // Ends an open text entry whose control is hidden (a page switch hid its field) as a click elsewhere ends it: the
  // text typed is taken. An entry over a control still shown stays open.
  virtual void EndUserEditOfHiddenControl() {}
  // Rebuilds the bitmaps at the new size and tells the plug-in.
  virtual void Resize(int w, int h);
  virtual bool WindowIsOpen();
  virtual const char* GetGUIAPI();
  // type 1 OK/Cancel, 3 Yes/No/Cancel, 4 Yes/No, else OK; answers 1 OK, 6 Yes, 7 No, 2 Cancel.
  virtual int ShowMessageBox(const char* text, const char* caption, int type) = 0;
  // A question with two buttons of the caller's naming: true only when `yes` was pressed. `no` is the default (the
  // answer a key gives) and the answer of a question nobody answered. The base, which cannot show which button is
  // which, asks nothing and answers `no`.
  virtual bool AskQuestion(const char* text, const char* caption, const char* yes, const char* no);
  // Shows the menu at r; returns the menu (or submenu) in which an item was chosen, with its chosen index set, or
  // null when the menu was dismissed.
  virtual IPopupMenu* CreateIPopupMenu(IPopupMenu* menu, IRECT* r) = 0;
  // Opens a text field over r; when the user finishes, the platform calls SetFromStringAfterPrompt (with a
  // parameter) or the control's TextFromTextEntry (without).
  virtual void CreateTextEntry(IControl* control, IText* text, IRECT* r, const char* str, IParam* param) = 0;
  virtual void HostPath(KIT_String* path) = 0;
  virtual void PluginPath(KIT_String* path) = 0;
  virtual void DesktopPath(KIT_String* path) = 0;
  // file: in the proposed name, out the chosen path (empty when cancelled); dir: start folder in, chosen folder
  // out; extensions separated by spaces.
  virtual void PromptForFile(KIT_String* file, EFileAction action, KIT_String* dir, char* extensions) = 0;
  virtual bool PromptForColor(IColor* color, char* prompt) = 0;
  virtual bool OpenURL(const char* url, const char* msgWindowTitle = nullptr, const char* confirmMsg = nullptr,
                       const char* errMsgOnFailure = nullptr) = 0;
  // The view-based editor inside the host's view; returns the view.
  virtual void* OpenWindow(void* parentView) = 0;
  // The window-based editor inside the host's window; the base offers none.
  virtual void* OpenWindow(void* window, void* control, short leftOffset, short topOffset);
  virtual void AttachSubWindow(void* hostWindowRef);
  virtual void RemoveSubWindow();
  virtual void CloseWindow() = 0;
  virtual void* GetWindow() = 0;
  // The whole resource file in a buffer the caller frees with delete[]; its byte count in GetLoadedFileSize.
  virtual char* OSLoadFile(int id, const char* name) = 0;
  virtual void HideMouseCursor();
  virtual void ShowMouseCursor();
  // A new bitmap of the image resource (the caller owns it), or null.
  virtual PIX_IBitmap* OSLoadBitmap(int id, const char* name) = 0;

  // ---- Controls, layers, redraw ----
  void PrepDraw();
  void ReleaseMouseCapture();
  // Pixels of the draw bitmap (null before PrepDraw).
  void* GetBits();
  // Index of the new control.
  int AttachControl(IControl* control);
  int AttachLayer(ControlLayer* layer);
  // The background goes to index 0 however late it is attached.
  void AttachBackground(int id, const char* name, double scale = 1.0);
  void AttachPanelBackground(const IColor* color);
  // Owned: receives keys that no control takes.
  void AttachKeyCatcher(IControl* control);

  // Over the top-level controls bound to the parameter (layers are not visited).
  void HideControl(int paramIdx, bool hide);
  void GrayOutControl(int paramIdx, bool gray);
  void ClampControl(int paramIdx, double lo, double hi, bool normalized);
  void SetParameterFromGUI(int paramIdx, double normalizedValue);
  void SetControlFromPlug(int controlIdx, double normalizedValue);
  void SetAllControlsDirty();
  // The editor's timer, before it looks for what to redraw: the controls' and then the plug-in's idle.
  void OnGUIIdle();
  // Any thread: moves the controls bound to the parameter (and stores a plain value into the parameter) without
  // telling the plug-in or sending MIDI.
  void SetParameterFromPlug(int paramIdx, double value, bool normalized);
  void SetStrictDrawing(bool strict);
  // The separate dirty areas to paint for a redraw of r (empty: paint r whole).
  void dirtyParts(const IRECT& r, std::vector<IRECT>* parts);
  // Grows each area over the whole rectangle of every shown control that draws unclipped and reaches out of it.
  void growOverUnclipped(std::vector<IRECT>* parts);
  // After painting those areas: every control clean but a shown one that changed beyond them.
  void setCleanWithin(const std::vector<IRECT>& painted);

  // Joins the rectangles of the dirty controls (background excepted) into *r; true when any was dirty.
  bool IsDirty(IRECT* r);
  // Repaints what meets *r into the draw bitmap and hands the rectangle to DrawScreen.
  bool Draw(IRECT* r);

  // The value prompt: a popup menu of the display texts for bool and enum parameters, else a text entry.
  void PromptUserInput(IControl* control, IParam* param, IRECT* r);
  void SetFromStringAfterPrompt(IControl* control, IParam* param, const char* text);

  char* LoadFile(int id, const char* name) { return OSLoadFile(id, name); }
  int GetLoadedFileSize() const { return mLoadedFileSize; }

  // ---- Input (main thread, surface pixels, origin top left) ----
  void OnMouseDown(int x, int y, IMouseMod* mod);
  void OnMouseUp(int x, int y, IMouseMod* mod);
  void OnMouseDrag(int x, int y, IMouseMod* mod);
  // True when the double click was delivered as a press.
  bool OnMouseDblClick(int x, int y, IMouseMod* mod);
  void OnMouseWheel(int x, int y, IMouseMod* mod, int d);
  // Key codes: 0 space, 1 up, 2 down, 3 left, 4 right, 5..14 digits, 15..40 letters.
  bool OnKeyDown(int x, int y, int key);
  bool OnMouseOver(int x, int y, IMouseMod* mod);
  void OnMouseOut();
  // The control under the point (the captured one first), or null.
  IControl* GetMouseControlIdx(int x, int y, bool mouseOver = false);
  int GetParamIdxForPTAutomation(int x, int y);
  int GetLastClickedParamForPTAutomation();

  // ---- Drawing (called by controls from Draw; all report true) ----
  bool DrawBitmap(IBitmap* bitmap, IRECT* dest, int srcX, int srcY, const IChannelBlend* blend);
  // Frames count from 1.
  bool DrawBitmap(IBitmap* bitmap, IRECT* dest, int frame, int srcX, int srcY, const IChannelBlend* blend);
  bool DrawBitmap(IBitmap* bitmap, IRECT* dest, int frame = 1, const IChannelBlend* blend = nullptr);
  bool DrawRotatedBitmap(IBitmap* bitmap, int destCtrX, int destCtrY, double angle, int yOffsetZeroDeg = 0,
                         const IChannelBlend* blend = nullptr);
  bool DrawRotatedMask(IBitmap* base, IBitmap* mask, IBitmap* top, int x, int y, double angle,
                       const IChannelBlend* blend = nullptr);
  bool DrawPoint(const IColor* color, float x, float y, const IChannelBlend* blend = nullptr, bool aa = false);
  // Stores the colour unblended; points outside the bitmap are ignored.
  bool ForcePixel(const IColor* color, int x, int y);
  IColor GetPoint(int x, int y);
  bool FillIRect(const IColor* color, IRECT* r, const IChannelBlend* blend = nullptr);
  bool DrawLine(const IColor* color, float x1, float y1, float x2, float y2, const IChannelBlend* blend = nullptr,
                bool aa = false);
  // Angle in radians, 0 pointing up, growing clockwise.
  bool DrawRadialLine(const IColor* color, float cx, float cy, float angle, float rMin, float rMax,
                      const IChannelBlend* blend = nullptr, bool aa = false);
  bool DrawArc(const IColor* color, float cx, float cy, float r, float minAngle, float maxAngle,
               const IChannelBlend* blend = nullptr, bool aa = false);
  bool DrawCircle(const IColor* color, float cx, float cy, float r, const IChannelBlend* blend = nullptr,
                  bool aa = false);
  bool FillCircle(const IColor* color, int cx, int cy, float r, const IChannelBlend* blend = nullptr, bool aa = false);
  bool RoundRect(const IColor* color, IRECT* r, const IChannelBlend* blend, int cornerRadius, bool aa);
  bool FillRoundRect(const IColor* color, IRECT* r, const IChannelBlend* blend, int cornerRadius, bool aa);
  bool FillTriangle(const IColor* color, int x1, int y1, int x2, int y2, int x3, int y3, const IChannelBlend* blend);
  bool FillIConvexPolygon(const IColor* color, int* x, int* y, int npoints, const IChannelBlend* blend = nullptr);
  bool DrawRect(const IColor* color, IRECT* r);
  bool DrawVerticalLine(const IColor* color, int xi, int yLo, int yHi);
  bool DrawHorizontalLine(const IColor* color, int yi, int xLo, int xHi);
  // At the fraction x (0..1) of the rectangle's width, from its top to its bottom.
  bool DrawVerticalLine(const IColor* color, IRECT* r, float x);
  // At the fraction y (0..1) of the rectangle's height, counted from the bottom.
  bool DrawHorizontalLine(const IColor* color, IRECT* r, float y);
  // Lays the text out in r; with measure, draws nothing and fits r to the text instead. False only when no font
  // can be made.
  // clip: nothing is drawn outside r (text is otherwise laid out in r and may run past it).
  bool DrawIText(IText* text, const char* str, IRECT* r, bool measure = false, bool clip = false);

  // ---- Bitmap and font caches (process-wide) ----
  // Loads and scales the image once per id and scale; later calls at the same scale return the same bitmap, and an
  // editor of another size gets its own. A missing image gives an empty bitmap (and a line on standard error).
  IBitmap LoadIBitmap(int id, const char* name, double scale = 1.0, int nStates = 1, bool framesAreHoriz = false);
  // The cached bitmap of an id loaded before at that scale; an empty handle for one never loaded.
  IBitmap getImageById(int id, int nStates = 1, bool framesAreHoriz = false, double scale = 1.0);
  void RetainBitmap(IBitmap* bitmap);
  void ReleaseBitmap(IBitmap* bitmap);
  IBitmap ScaleBitmap(IBitmap* bitmap, int w, int h);
  IBitmap CropBitmap(IBitmap* bitmap, IRECT* r);
  PIX_IFont* CacheFont(IText* text);

  // ---- Accessors ----
  int Width() const { return mWidth; }
  int Height() const { return mHeight; }
  int FPS() const { return mFPS; }
  IEffectBase* GetPlug() const { return mPlug; }
  PIX_SysBitmap* GetDrawBitmap() const { return mDrawBitmap; }
  PIX_MemBitmap* GetScratchBitmap() const { return mTmpBitmap; }
  int NControls() const { return mControls.GetSize(); }
  IControl* GetControl(int idx) const { return mControls.Get(idx); }
  int NLayers() const { return mLayers.GetSize(); }
  ControlLayer* GetLayer(int idx) const { return mLayers.Get(idx); }
  const IRECT& GetDrawRECT() const { return mDrawRECT; }
  IControl* GetCapturedControl() const { return mMouseCapture; }
  IControl* GetMouseOverControl() const { return mMouseOver; }
  IControl* GetKeyCatcher() const { return mKeyCatcher; }
  bool GetStrictDrawing() const { return mStrict; }
  bool GetHandleMouseOver() const { return mHandleMouseOver; }
  void HandleMouseOver(bool handle) { mHandleMouseOver = handle; }
  int GetIdleTicks() const { return mIdleTicks; }
  KIT_Mutex& GetMutex() { return mMutex; }

  // True while a menu, panel or question of this surface stands: its loop runs, and with it the timer and idle.
  // Any thread may ask.
  bool ModalShown() const { return mModalDepth.load() > 0; }
  // Held by the surface for as long as one of its menus, panels or questions stands.
  class ModalScope {
   public:
    explicit ModalScope(IGraphics* g) : g_(g) {
      if (g_) ++g_->mModalDepth;
    }
    ~ModalScope() {
      if (g_) --g_->mModalDepth;
    }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

   private:
    IGraphics* g_;
  };

  // The editor's thread: the one that opens the window, and on which the platform delivers its events, timer and
  // paints. Each such call into the surface runs inside a CallScope, so that another thread can tell whether it
  // is that thread, and a close can wait until none runs. A host's call that may come on any thread is counted for
  // the close's wait alone (kCountOnly): it makes no thread the editor's.
  class CallScope {
   public:
    enum Kind { kEditorsThread, kCountOnly };
    explicit CallScope(IGraphics* g, Kind kind = kEditorsThread);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

   private:
    IGraphics* g_;
  };
  // The editor's window opens on the calling thread: it is the editor's thread, and menus, panels and questions may
  // stand again.
  void EditorOpening();
  // The calling thread is the editor's (the last one that opened the window or called into the surface).
  bool OnEditorThread() const;
  // Any thread, before the editor closes: every menu, panel and question that stands ends unanswered (nothing chosen,
  // nothing written) and none opens until the window opens again. Then waits until the editor's thread has left the
  // surface's calls and every counted host call (not for the calling thread's own). The caller must not hold a lock
  // the editor's thread takes.
  void EndModalsAndWait();
  // True from EndModalsAndWait until the window opens again: what a standing menu, panel or question was answered
  // with is dropped.
  bool ModalsEnding() const { return mModalsEnding.load(); }

 protected:
  // The control under the point: layers last to first, then the top-level controls last to first that are
  // neither hidden nor greyed.
  IControl* hitSearch(int x, int y);

  int mLoadedFileSize = 0;
  KIT_Mutex mMutex;
  KIT_PtrList<IControl> mControls{1024};
  KIT_PtrList<ControlLayer> mLayers{256};
  IEffectBase* mPlug;
  IRECT mDrawRECT;
  bool mCursorHidden = false;
  int mHiddenMousePointX = -1, mHiddenMousePointY = -1;
  PIX_SysBitmap* mDrawBitmap = nullptr;
  PIX_MemBitmap* mTmpBitmap = nullptr;
  int mWidth, mHeight;
  int mFPS;
  int mIdleTicks = 0;
  IControl* mMouseOver = nullptr;
  IControl* mMouseCapture = nullptr;
  int mMouseX = 0, mMouseY = 0;
  int mLastClickedParam = -1;
  bool mHandleMouseOver = false;
  bool mStrict = true;
  std::vector<IRECT> mDirtyParts;  // the dirty rectangles of the last IsDirty, for the Draw that follows
  IControl* mKeyCatcher = nullptr;
  std::atomic<int> mModalDepth{0};
  std::atomic<bool> mModalsEnding{false};
  std::atomic<std::thread::id> mEditorThread{};
  // Counted calls that are running (the editor's thread's and the host's), under mCallsLock.
  std::mutex mCallsLock;
  std::condition_variable mCallsEnded;
  int mCalls = 0;
};
