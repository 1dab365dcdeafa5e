#include "KIT/IEffect/IGraphicsMac.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphicsCarbon.h"
#include "KIT/IEffect/IGraphicsCocoa.h"
#include "KIT/IEffect/IPopupMenu.h"
#include "KIT/IEffect/Log.h"
#include "KIT/pix/pix-png.h"
#include "KIT/pix/pix-sysbitmap.h"
#include "platform/cocoa/carbon.h"
#include "platform/cocoa/cfbundle.h"
#include "platform/cocoa/panels.h"
#include "platform/graphics/graphics.h"

namespace {

// The head of a window-layer memory drawing context: its first field is the bitmap context that owns the pixels.
struct MemoryContextHead {
  platform::gfx::Context* bitmapContext;
};

std::string lastPathComponent(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The extension of the last path component ("" when it has none).
std::string pathExtension(const std::string& path) {
  const std::string last = lastPathComponent(path);
  const size_t dot = last.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? std::string() : last.substr(dot + 1);
}

std::string withoutExtension(const std::string& component) {
  const size_t dot = component.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? component : component.substr(0, dot);
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

int IGraphicsMac::KeyFromMacKey(unsigned keyCode, char32_t c) {
  switch (keyCode) {
    case 123:
      return 3;
    case 124:
      return 4;
    case 125:
      return 2;
    case 126:
      return 1;
    case 49:
      return 0;
    default:
      break;
  }
  if (c >= U'0' && c <= U'9') return 5 + static_cast<int>(c - U'0');
  if (c >= U'A' && c <= U'Z') return 15 + static_cast<int>(c - U'A');
  if (c >= U'a' && c <= U'z') return 15 + static_cast<int>(c - U'a');
  return -1;
}

IGraphicsMac::IGraphicsMac(IEffectBase* plug, int width, int height, int fps) : IGraphics(plug, width, height, fps) {
  // The application object exists before any view does.
  cocoa::Application::shared();
}

IGraphicsMac::~IGraphicsMac() {
  // The plug-in is being torn down: a text still open in a field goes nowhere.
  closeView(false);
  if (mHostNSWindow) mHostNSWindow->release();
}

void IGraphicsMac::ToViewRect(const IRECT* r, double* x, double* y, double* w, double* h) const {
  *x = r->L;
  *y = static_cast<float>(mHeight - 1 - r->B);
  *w = static_cast<float>(r->R - r->L + 1);
  *h = static_cast<float>(r->B - r->T + 1);
}

bool IGraphicsMac::DrawScreen(IRECT*) {
  carbon::CGContextRef target = nullptr;
  if (mGraphicsCocoa) {
    target = cocoa::graphicsContext::currentPort();
  } else if (mGraphicsCarbon) {
    target = mGraphicsCarbon->GetCGContext();
  } else {
    return false;
  }
  if (!target || !mDrawBitmap) return false;
  HDC dc = mDrawBitmap->getDC();
  if (!dc) return false;
  carbon::CGImageRef image =
      carbon::CGBitmapContextCreateImage(reinterpret_cast<MemoryContextHead*>(dc)->bitmapContext);
  if (!image) return false;
  carbon::CGRect rect;
  rect.size.width = mDrawBitmap->getRowSpan();
  rect.size.height = mHeight;
  carbon::CGContextDrawImage(target, rect, image);
  carbon::CGImageRelease(image);
  return true;
}

bool IGraphicsMac::MeasureIText(IText* text, const char* str, IRECT* r) {
  cocoa::AutoreleasePool pool;
  return DrawIText(text, str, r, true);
}

void IGraphicsMac::ForceEndUserEdit() {
  if (mGraphicsCarbon) mGraphicsCarbon->EndUserInput(false);
  if (mGraphicsCocoa) mGraphicsCocoa->endUserInput();
}

void IGraphicsMac::EndUserEditOfHiddenControl() {
  if (mGraphicsCarbon) mGraphicsCarbon->EndUserInputOfHiddenControl();
  if (mGraphicsCocoa) mGraphicsCocoa->endUserInputOfHiddenControl();
}

void IGraphicsMac::Resize(int w, int h) {
  if (w == mWidth && h == mHeight) return;
  IGraphics::Resize(w, h);
  if (mGraphicsCarbon) {
    mGraphicsCarbon->Resize(w, h);
  } else if (mGraphicsCocoa) {
    mGraphicsCocoa->setFrameSize(w, h);
  }
}

bool IGraphicsMac::WindowIsOpen() {
  return mGraphicsCarbon || mGraphicsCocoa;
}

const char* IGraphicsMac::GetGUIAPI() {
  if (mGraphicsCarbon)
    return mGraphicsCarbon->GetIsComposited() ? "Carbon Composited gui" : "Carbon Non-Composited gui";
  return "Cocoa gui";
}

int IGraphicsMac::ShowMessageBox(const char* text, const char* caption, int type) {
  // A closing editor shows nothing more, and what a box standing then was answered with counts for nothing.
  if (ModalsEnding()) return 0;
  const ModalScope modal(this);
  const char* defaultButton = nullptr;
  const char* alternateButton = nullptr;
  const char* otherButton = nullptr;
  switch (type) {
    case 1:
      alternateButton = "Cancel";
      break;
    case 3:
      defaultButton = "Yes";
      alternateButton = "No";
      otherButton = "Cancel";
      break;
    case 4:
      defaultButton = "Yes";
      alternateButton = "No";
      break;
    default:
      break;
  }
  unsigned long response = cocoa::kAlertCancelResponse;
  cocoa::userNotificationDisplayAlert(0, 1, caption, text, defaultButton, alternateButton, otherButton, &response);
  if (ModalsEnding()) return 0;
  switch (response) {
    case cocoa::kAlertDefaultResponse:
      return (type == 3 || type == 4) ? 6 : 1;
    case cocoa::kAlertAlternateResponse:
      if (type == 1) return 2;
      if (type == 3 || type == 4) return 7;
      return 0;
    case cocoa::kAlertOtherResponse:
      return type == 3 ? 2 : 0;
    default:
      return 0;
  }
}

bool IGraphicsMac::AskQuestion(const char* text, const char* caption, const char* yes, const char* no) {
  // The answer that loses nothing is the default, so that Return, Enter or Escape never replace anything: `yes`
  // takes a press on its own button.
  if (ModalsEnding()) return false;
  const ModalScope modal(this);
  unsigned long response = cocoa::kAlertDefaultResponse;
  cocoa::userNotificationDisplayAlert(0, 1, caption, text, no, yes, nullptr, &response);
  return response == cocoa::kAlertAlternateResponse && !ModalsEnding();
}

IPopupMenu* IGraphicsMac::CreateIPopupMenu(IPopupMenu* menu, IRECT* r) {
  ReleaseMouseCapture();
  if (!menu || !r || ModalsEnding()) return nullptr;
  const ModalScope modal(this);
  IPopupMenu* chosen = nullptr;
  if (mGraphicsCocoa) {
    double x, y, w, h;
    ToViewRect(r, &x, &y, &w, &h);
    chosen = mGraphicsCocoa->createIPopupMenu(menu, cocoa::Rect{x, y, w, h});
  } else if (mGraphicsCarbon) {
    chosen = mGraphicsCarbon->CreateIPopupMenu(menu, r);
  }
  // A menu the closing editor ended chose nothing.
  return ModalsEnding() ? nullptr : chosen;
}

void IGraphicsMac::CreateTextEntry(IControl* control, IText* text, IRECT* r, const char* str, IParam* param) {
  if (!r) return;
  if (mGraphicsCocoa) {
    double x, y, w, h;
    ToViewRect(r, &x, &y, &w, &h);
    mGraphicsCocoa->createTextEntry(control, param, text, str, cocoa::Rect{x, y, w, h});
  } else if (mGraphicsCarbon) {
    mGraphicsCarbon->CreateTextEntry(control, text, r, str, param);
  }
}

void IGraphicsMac::HostPath(KIT_String* path) {
  if (!path) return;
  cocoa::Bundle* bundle = cocoa::Bundle::withIdentifier(mBundleID.Get());
  if (!bundle) return;
  const std::string exe = bundle->executablePath();
  if (!exe.empty()) path->Set(exe.c_str());
}

void IGraphicsMac::PluginPath(KIT_String* path) {
  if (!path) return;
  cocoa::Bundle* bundle = cocoa::Bundle::withIdentifier(mBundleID.Get());
  if (!bundle) return;
  const std::string& b = bundle->bundlePath();
  const size_t slash = b.find_last_of('/');
  if (slash == std::string::npos) return;
  path->Set((b.substr(0, slash) + "/").c_str());
}

void IGraphicsMac::DesktopPath(KIT_String* path) {
  if (!path) return;
  std::string home;
  if (const char* h = std::getenv("HOME")) {
    home = h;
  } else if (const passwd* pw = getpwuid(getuid())) {
    // Without HOME the account's home folder is the next best guess of where the desktop is.
    home = pw->pw_dir ? pw->pw_dir : "";
  }
  path->Set((home + "/Desktop/").c_str());
}

void IGraphicsMac::PromptForFile(KIT_String* file, EFileAction action, KIT_String* dir, char* extensions) {
  if (!file || !dir) return;
  if (!WindowIsOpen() || ModalsEnding()) {
    file->Set("");
    return;
  }
  const std::string proposed = file->Get();
  if (!dir->GetLength()) dir->Set("~/Desktop");
  const std::string start = dir->Get();
  file->Set("");
  std::vector<std::string> types;
  if (extensions) {
    std::string all = extensions;
    size_t pos = 0;
    while (pos <= all.size()) {
      const size_t sp = all.find(' ', pos);
      const std::string t = all.substr(pos, sp == std::string::npos ? std::string::npos : sp - pos);
      if (!t.empty()) types.push_back(t);
      if (sp == std::string::npos) break;
      pos = sp + 1;
    }
  }
  cocoa::SavePanel* panel = nullptr;
  if (action == kFileSave) {
    panel = new cocoa::SavePanel;
    panel->allowedFileTypes = types;
    panel->allowsOtherFileTypes = false;
  } else {
    auto* open = new cocoa::OpenPanel;
    open->canChooseFiles = true;
    open->canChooseDirectories = false;
    open->resolvesAliases = true;
    open->allowedFileTypes = types;
    panel = open;
  }
  const ModalScope modal(this);
  if (panel->runModal(start, proposed) == cocoa::kModalResponseOK && !ModalsEnding()) {
    const std::string chosen = panel->url();
    file->Set(chosen.c_str());
    const size_t slash = chosen.find_last_of('/');
    dir->Set(slash == std::string::npos ? "/" : (chosen.substr(0, slash) + "/").c_str());
  }
  panel->release();
}

bool IGraphicsMac::PromptForColor(IColor*, char*) {
  return false;
}

bool IGraphicsMac::OpenURL(const char* url, const char*, const char*, const char*) {
  if (!url) return true;
  cocoa::AutoreleasePool pool;
  cocoa::URL* u = std::strstr(url, "http") ? cocoa::URL::withString(url) : cocoa::URL::fileURLWithPath(url);
  if (!u) return true;
  const bool ok = cocoa::workspace::openURL(u);
  u->release();
  return ok;
}

void* IGraphicsMac::OpenWindow(void* parentView) {
  return OpenCocoaWindow(parentView);
}

void* IGraphicsMac::OpenCocoaWindow(void* parentView) {
  CloseWindow();
  mGraphicsCocoa = new IGraphicsCocoa_vVexmir_vst(this);
  if (parentView) static_cast<cocoa::View*>(parentView)->addSubview(mGraphicsCocoa);
  return mGraphicsCocoa;
}

void* IGraphicsMac::OpenWindow(void* window, void* control, short leftOffset, short topOffset) {
  return OpenCarbonWindow(window, control, leftOffset, topOffset);
}

void* IGraphicsMac::OpenCarbonWindow(void* window, void* control, short leftOffset, short topOffset) {
  CloseWindow();
  if (!window) return nullptr;
  mGraphicsCarbon = new IGraphicsCarbon(this, static_cast<carbon::WindowRef>(window),
                                        static_cast<carbon::ControlRef>(control), leftOffset, topOffset);
  return mGraphicsCarbon->GetView();
}

CustomCocoaWindow_vVexmir_vst::CustomCocoaWindow_vVexmir_vst(cocoa::Rect contentRect) : cocoa::Window(contentRect) {
  styleMask = 0;  // borderless
  isOpaque = true;
  hasShadow = false;
}

void IGraphicsMac::AttachSubWindow(void* hostWindowRef) {
  if (!hostWindowRef) return;
  cocoa::AutoreleasePool pool;
  auto* host = static_cast<cocoa::Window*>(hostWindowRef);
  host->retain();
  const cocoa::Rect frame = host->contentRect();
  const double offset = frame.w > mWidth ? std::floor((frame.w - mWidth) * 0.5) : 0.0;
  auto* child = new CustomCocoaWindow_vVexmir_vst(
      cocoa::Rect{frame.x + offset, frame.y, static_cast<double>(mWidth), static_cast<double>(mHeight)});
  OpenWindow(child->contentView());
  host->addChildWindow(child);
  host->makeKeyAndOrderFront();
  host->displayIfNeeded();
  // The child comes to the front a moment later, once the host window is up.
  // The timer holds the child until it has fired.
  auto* later = new cocoa::Timer(
      0.05, false, [child](cocoa::Timer*) { child->orderFront(); }, child);
  cocoa::RunLoop::current()->addTimer(later, cocoa::kCommonRunLoopModes);
  later->release();
  child->release();  // the host window holds it as a child
  if (mHostNSWindow) mHostNSWindow->release();
  mHostNSWindow = host;
}

void IGraphicsMac::RemoveSubWindow() {
  if (!mHostNSWindow) return;
  cocoa::AutoreleasePool pool;
  cocoa::Window* host = mHostNSWindow;
  cocoa::Window* child = host->childWindows().empty() ? nullptr : host->childWindows().front();
  if (child) child->retain();
  CloseWindow();
  if (child) child->orderOut();
  host->orderOut();
  if (child) {
    child->close();
    host->removeChildWindow(child);
    child->release();
  }
  host->close();
  mHostNSWindow = nullptr;
  host->release();
}

void IGraphicsMac::CloseWindow() {
  closeView(true);
}

void IGraphicsMac::closeView(bool takeInput) {
  if (mGraphicsCarbon) {
    delete mGraphicsCarbon;
    mGraphicsCarbon = nullptr;
  }
  if (mGraphicsCocoa) {
    IGraphicsCocoa_vVexmir_vst* view = mGraphicsCocoa;
    view->killTimer();
    mGraphicsCocoa = nullptr;
    if (view->graphics() == this) {
      // A text typed and not confirmed goes where a click elsewhere sends it, while the surface still takes it.
      if (takeInput)
        view->takeUserInput();
      else
        view->endUserInput();
      view->detachGraphics();
      view->removeFromSuperview();
    }
    view->release();
  }
}

void* IGraphicsMac::GetWindow() {
  return mGraphicsCocoa;
}

char* IGraphicsMac::OSLoadFile(int, const char* name) {
  if (!name) return nullptr;
  cocoa::Bundle* bundle = cocoa::Bundle::withIdentifier(mBundleID.Get());
  const std::string ext = pathExtension(name);
  const std::string base = withoutExtension(lastPathComponent(name));
  if (!bundle || base.empty()) return nullptr;
  const std::string path = bundle->pathForResource(base, ext);
  if (path.empty()) return nullptr;
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) {
    std::printf("failed to open file\n");
    return nullptr;
  }
  // The whole file is read, however large; the buffer is at least the fixed size and always ends in zero bytes,
  // on which readers that stop at the first zero byte rely.
  struct stat st;
  size_t fileSize = 0;
  if (fstat(fileno(f), &st) == 0 && st.st_size > 0) fileSize = static_cast<size_t>(st.st_size);
  if (fileSize > static_cast<size_t>(INT_MAX) - 1) fileSize = static_cast<size_t>(INT_MAX) - 1;
  const size_t bufferSize = std::max(static_cast<size_t>(kMinLoadBufferSize), fileSize + 1);
  char* buffer = new (std::nothrow) char[bufferSize]();
  if (!buffer) {
    std::fclose(f);
    return nullptr;
  }
  size_t got = 0;
  while (got < bufferSize - 1) {
    const size_t n = std::fread(buffer + got, 1, bufferSize - 1 - got, f);
    if (n == 0) break;
    got += n;
  }
  mLoadedFileSize = static_cast<int>(got);
  std::fclose(f);
  return buffer;
}

void IGraphicsMac::HideMouseCursor() {
  if (mCursorHidden) return;
  const carbon::CGDirectDisplayID display = carbon::CGMainDisplayID();
  if (carbon::CGDisplayHideCursor(display) == 0) mCursorHidden = true;
  const cocoa::Point loc = cocoa::input::mouseLocation();
  mHiddenMousePointX = platform::intCoord(loc.x);
  mHiddenMousePointY = platform::intCoord(static_cast<double>(carbon::CGDisplayPixelsHigh(display)) - loc.y);
}

void IGraphicsMac::ShowMouseCursor() {
  if (!mCursorHidden) return;
  carbon::CGPoint p;
  p.x = mHiddenMousePointX;
  p.y = mHiddenMousePointY;
  carbon::CGWarpMouseCursorPosition(p);
  if (carbon::CGDisplayShowCursor(carbon::CGMainDisplayID()) == 0) mCursorHidden = false;
}

PIX_IBitmap* IGraphicsMac::OSLoadBitmap(int, const char* name) {
  return LoadImgFromResourceOSX(mBundleID.Get(), name);
}

int IGraphicsMac::GetUserOSVersion() {
  carbon::SInt32 v = 0;
  carbon::Gestalt(carbon::gestaltSystemVersion, &v);
  Trace("GetUserOSVersion", __LINE__, "%x", v);
  return v;
}

PIX_IBitmap* LoadImgFromResourceOSX(const char* bundleID, const char* name) {
  if (!name) return nullptr;
  cocoa::AutoreleasePool pool;
  const std::string n = name;
  const size_t dot = n.find_last_of('.');
  const std::string ext = dot == std::string::npos ? n : n.substr(dot + 1);
  if (!equalsIgnoringCase(ext, "png")) return nullptr;
  cocoa::Bundle* bundle = cocoa::Bundle::withIdentifier(bundleID ? bundleID : "");
  const std::string base = withoutExtension(lastPathComponent(n));
  if (!bundle || base.empty()) return nullptr;
  const std::string path = bundle->pathForResource(base, "png");
  if (path.empty()) return nullptr;
  return PIX_LoadPNG(path.c_str(), nullptr);
}
