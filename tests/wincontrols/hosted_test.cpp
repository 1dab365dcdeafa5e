// Hosted views: promised-file drags and their drop (with the "Copy" question), file-list drags, Carbon windows
// over a window view (placement, hiding, keys, handlers), the Audio Unit view stand-in and OpenGL views.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "KIT/shim/shim-ctlclasses.h"
#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim-hosted.h"
#include "KIT/shim/shim-internal.h"
#include "platform/cocoa/drag.h"
#include "platform/cocoa/opengl.h"
#include "platform/cocoa/panels.h"
#include "tests/wincontrols/auview_bundle.h"

namespace {

std::string tempFolder() {
  char tmpl[] = "/tmp/wincontrols-XXXXXX";
  const char* d = mkdtemp(tmpl);
  return d ? d : "/tmp";
}

bool exists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

void touch(const std::string& p) {
  std::ofstream(p) << "x";
}

std::string g_written;
void writeFile(const char* path) {
  g_written = path;
  std::ofstream(path) << "bank";
}

struct HostedTest : ::testing::Test {
  void SetUp() override {
    dlg = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, nullptr, 0);
    ASSERT_NE(dlg, nullptr);
    view = dlg->as<Shim_vVexmir_hwnd>();
    window = view->window();
    window->setContentSize(400, 300);
    view->setFrame(cocoa::Rect{0, 0, 400, 300});
    ShowWindow(dlg, SW_SHOW);
    folder = tempFolder();
    cocoa::drag::clearDrags();
    cocoa::drag::clearScript();
    cocoa::alerts::clearScript();
    g_written.clear();
  }
  void TearDown() override {
    if (dlg) DestroyWindow(dlg);
    std::system(("rm -rf '" + folder + "'").c_str());
    cocoa::Application::shared()->setEventDispatcher(nullptr);
  }
  // Drags `name` (a path in a folder of its own) and drops it into the test folder.
  std::string dragAndDrop(const std::string& promised) {
    g_written.clear();
    cocoa::drag::scriptDropFolder(folder);
    const RECT r{10, 10, 50, 30};
    SHIM_InitiateDragDrop(dlg, &r, promised.c_str(), writeFile);
    return g_written.empty() ? "" : g_written.substr(folder.size() + 1);
  }
  cocoa::AutoreleasePool pool;
  HWND dlg = nullptr;
  Shim_vVexmir_hwnd* view = nullptr;
  cocoa::Window* window = nullptr;
  std::string folder;
};

TEST_F(HostedTest, PromisedFileTypesComeFromTheFileName) {
  struct Case {
    const char* path;
    const char* type;
  };
  for (const Case& c : {Case{"/src/Take.wav", "wav"}, Case{"/src/banks.v2/Bank", ""}, Case{"Plain", ""},
                        Case{"/src/a.b/c.syx", "syx"}}) {
    cocoa::drag::clearDrags();
    SHIM_InitiateDragDrop(dlg, nullptr, c.path, writeFile);
    ASSERT_EQ(cocoa::drag::drags().size(), 1u);
    EXPECT_EQ(cocoa::drag::drags()[0].types, std::vector<std::string>{c.type}) << c.path;
    EXPECT_TRUE(cocoa::drag::drags()[0].promisedFiles);
  }
  SHIM_FinishDragDrop();
  // Only window views start drags.
  auto* plain = new cocoa::View;
  cocoa::drag::clearDrags();
  SHIM_InitiateDragDrop(plain, nullptr, "/src/x.syx", writeFile);
  EXPECT_TRUE(cocoa::drag::drags().empty());
  plain->release();
}

TEST_F(HostedTest, DroppingAPromiseAsksBeforeReplacing) {
  EXPECT_EQ(dragAndDrop("/src/Take.wav"), "Take.wav");
  // Keep Both Files (the default button) counts up from the name.
  for (int i = 0; i < 4; ++i) cocoa::alerts::scriptResponse(cocoa::kAlertDefaultResponse);
  EXPECT_EQ(dragAndDrop("/src/Take.wav"), "Take 001.wav");
  EXPECT_EQ(dragAndDrop("/src/Take.wav"), "Take 002.wav");
  touch(folder + "/Take_07.wav");
  EXPECT_EQ(dragAndDrop("/src/Take_07.wav"), "Take_008.wav");
  touch(folder + "/Bank");
  EXPECT_EQ(dragAndDrop("/src/Bank"), "Bank 001");
  // Stop, the question closed without an answer, and one shown to nobody write nothing; Replace writes over the file.
  cocoa::alerts::scriptResponse(1);
  EXPECT_EQ(dragAndDrop("/src/Take.wav"), "");
  cocoa::alerts::scriptResponse(cocoa::kAlertCancelResponse);
  EXPECT_EQ(dragAndDrop("/src/Take.wav"), "");
  EXPECT_EQ(dragAndDrop("/src/Take.wav"), "");
  cocoa::alerts::scriptResponse(2);
  EXPECT_EQ(dragAndDrop("/src/Take.wav"), "Take.wav");
  // A press on a window view ends the pending drag: a late drop writes nothing.
  const RECT r{0, 0, 1, 1};
  SHIM_InitiateDragDrop(dlg, &r, "/src/Late.syx", writeFile);
  cocoa::Event* down = cocoa::Event::mouseEvent(cocoa::kLeftMouseDown, cocoa::Point{5, 5}, 0, window);
  view->mouseDown(down);
  down->release();
  EXPECT_TRUE(SHIM_DoDragDrop(folder.c_str()).empty());
  EXPECT_FALSE(exists(folder + "/Late.syx"));
}

TEST_F(HostedTest, FileListDrags) {
  const char* files[] = {"/banks/A.syx", "/banks/B.syx"};
  const RECT r{4, 6, 40, 20};
  SHIM_InitiateDragDropOfFileList(dlg, &r, files, 2, nullptr);
  ASSERT_EQ(cocoa::drag::drags().size(), 1u);
  const cocoa::drag::DragRecord d = cocoa::drag::drags()[0];
  EXPECT_FALSE(d.promisedFiles);
  EXPECT_EQ(d.files, (std::vector<std::string>{"/banks/A.syx", "/banks/B.syx"}));
  EXPECT_TRUE(d.hasImage);
  EXPECT_EQ(d.from.x, 4);
}

TEST_F(HostedTest, CarbonWindowsFollowTheirHostAndPassKeysOn) {
  void* ref = nullptr;
  RECT r{20, 30, 220, 180};
  HWND host = SHIM_CreateCarbonWindowView(dlg, &ref, &r, false);
  ASSERT_NE(host, nullptr);
  auto* h = host->as<Shim_vVexmir_hwndcarbonhost>();
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(SHIM_GetWindowFromCarbonWindowView(host), ref);
  h->setFrame(cocoa::Rect{20, 30, 200, 150});
  h->setHidden(false);
  EXPECT_EQ(h->installedHandlers(), 2);
  carbon::ControlRef pane = nullptr;
  carbon::Rect pr{0, 0, 10, 10};
  carbon::CreateUserPaneControl(static_cast<carbon::WindowRef>(ref), &pr, 0, &pane);
  SHIM_AddCarbonPaneToView(host, pane);
  EXPECT_EQ(h->installedHandlers(), 3);
  // A pane of a window the host does not own outlives the host.
  carbon::WindowRef other = nullptr;
  carbon::Rect otherBounds{300, 300, 400, 400};
  ASSERT_EQ(carbon::CreateNewWindow(13, 0, &otherBounds, &other), carbon::noErr);
  carbon::ControlRef outsidePane = nullptr;
  carbon::CreateUserPaneControl(other, &pr, 0, &outsidePane);
  SHIM_AddCarbonPaneToView(host, outsidePane);
  EXPECT_EQ(h->installedHandlers(), 4);
  auto paneMoved = [&] {
    carbon::EventRef e = nullptr;
    carbon::CreateEvent(nullptr, carbon::kEventClassControl, 154, 0, 0, &e);
    const carbon::OSStatus st = carbon::SendEventToEventTarget(e, carbon::GetControlEventTarget(outsidePane));
    carbon::ReleaseEvent(e);
    return st;
  };

  cocoa::Timer* timer = SHIM_Internal_TimerObject(host, 1);
  ASSERT_NE(timer, nullptr);
  h->SHIM_Timer(timer);
  EXPECT_TRUE(h->isAttached());
  // Its content lies over the host on the screen.
  RECT hostRect{};
  GetWindowRect(host, &hostRect);
  carbon::Rect bounds{};
  carbon::GetWindowBounds(static_cast<carbon::WindowRef>(ref), carbon::kWindowContentRgn, &bounds);
  EXPECT_EQ(bounds.left, hostRect.left);
  EXPECT_EQ(bounds.right - bounds.left, 200);
  EXPECT_EQ(bounds.bottom - bounds.top, 150);
  // Hidden host: off screen at the next tick, back when shown.
  view->setHidden(true);
  h->SHIM_Timer(timer);
  EXPECT_FALSE(h->isAttached());
  view->setHidden(false);
  h->SHIM_Timer(timer);
  EXPECT_TRUE(h->isAttached());

  // Keys reach the application as platform key events, letters beyond ASCII included; not while the host wants
  // all keys, nor while an edit-text control has the focus.
  std::vector<std::u32string> keys;
  cocoa::Application::shared()->setEventDispatcher([&](cocoa::Event* e) { keys.push_back(e->characters); });
  auto sendKey = [&](char16_t unit) {
    carbon::EventRef e = nullptr;
    carbon::CreateEvent(nullptr, carbon::kEventClassKeyboard, 1, 0, 0, &e);
    const carbon::UInt32 code = 14;
    carbon::SetEventParameter(e, carbon::kEventParamKeyCode, carbon::typeUInt32, 4, &code);
    carbon::SetEventParameter(e, carbon::fourCC("kuni"), carbon::fourCC("utxt"), 2, &unit);
    const carbon::OSStatus st =
        carbon::SendEventToEventTarget(e, carbon::GetWindowEventTarget(static_cast<carbon::WindowRef>(ref)));
    carbon::ReleaseEvent(e);
    return st;
  };
  EXPECT_EQ(sendKey(u'\u00e9'), carbon::noErr);
  SHIM_CarbonWndHost_SetWantAllKeys(h, true);
  sendKey(u'x');
  SHIM_CarbonWndHost_SetWantAllKeys(h, false);
  carbon::ControlRef edit = nullptr;
  carbon::CreateEditUnicodeTextControl(static_cast<carbon::WindowRef>(ref), &pr, nullptr, false, nullptr, &edit);
  carbon::SetKeyboardFocus(static_cast<carbon::WindowRef>(ref), edit, carbon::kControlEditTextPart);
  sendKey(u'y');
  EXPECT_EQ(keys, std::vector<std::u32string>{U"\u00e9"});

  // Closing removes every handler it installed.
  EXPECT_EQ(paneMoved(), carbon::noErr) << "the host follows its panes";
  DestroyWindow(host);
  EXPECT_EQ(h->installedHandlers(), 0);
  EXPECT_EQ(h->carbonWindow(), nullptr);
  EXPECT_EQ(paneMoved(), carbon::eventNotHandledErr) << "no handler of the closed host is left on a pane";
  carbon::DisposeWindow(other);
}

TEST_F(HostedTest, AudioUnitViewsComeFromTheBundlesFactory) {
  const std::string url = makeAuViewBundle(folder, AUVIEW_MODULE);
  ASSERT_FALSE(url.empty());
  AudioUnitCocoaViewInfo info{url.c_str(), {"VexmirTestView"}};
  RECT r{0, 0, 240, 160};
  HWND v = SHIM_GetAudioUnitCocoaView(dlg, nullptr, &info, &r);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->as<cocoa::View>()->superview(), view);
  EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), (std::vector<int>{0, 0, 240, 160}));
  AudioUnitCocoaViewInfo missing{url.c_str(), {"NoSuchView"}};
  EXPECT_EQ(SHIM_GetAudioUnitCocoaView(dlg, nullptr, &missing, &r), nullptr);
  AudioUnitCocoaViewInfo nowhere{"/no/such/bundle", {"VexmirTestView"}};
  EXPECT_EQ(SHIM_GetAudioUnitCocoaView(dlg, nullptr, &nowhere, &r), nullptr);
  AudioUnitCocoaViewInfo unnamed{url.c_str(), {nullptr}};
  EXPECT_EQ(SHIM_GetAudioUnitCocoaView(dlg, nullptr, &unnamed, &r), nullptr);
}

// Whether the procedure painted with the view's context bound to it, current, updated once and recorded by the
// paint's drawing context.
bool g_glReadyAtPaint = false;
LRESULT checksGLAtPaint(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  cocoa::OpenGLContext* c = cocoa::OpenGLContext::currentContext();
  if (msg == WM_PAINT)
    g_glReadyAtPaint = c && c->view() == h && c->timesUpdated() == 1 && reinterpret_cast<HDC>(wp)->GLgfxctx == c;
  return DefWindowProc(h, msg, wp, lp);
}

TEST_F(HostedTest, OpenGLViewsKeepARecordedContext) {
  const int live = cocoa::OpenGLContext::liveCount();
  EXPECT_FALSE(SHIM_GetViewGL(dlg));
  SHIM_SetViewGL(dlg, true);
  ASSERT_TRUE(SHIM_GetViewGL(dlg));
  auto* ctx = static_cast<cocoa::OpenGLContext*>(view->glContext());
  EXPECT_EQ(ctx->attributes(), std::vector<int>{96});
  SHIM_SetViewGL(dlg, true);  // already on: the same context
  EXPECT_EQ(view->glContext(), ctx);
  view->setShimWindowProc(checksGLAtPaint);
  InvalidateRect(dlg, nullptr, 0);
  window->displayIfNeeded();
  EXPECT_TRUE(g_glReadyAtPaint);
  EXPECT_EQ(cocoa::OpenGLContext::currentContext(), nullptr);  // cleared after the paint
  EXPECT_TRUE(SHIM_SetGLContextToView(dlg));
  EXPECT_EQ(cocoa::OpenGLContext::currentContext(), ctx);
  EXPECT_FALSE(SHIM_SetGLContextToView(nullptr));
  EXPECT_EQ(cocoa::OpenGLContext::currentContext(), nullptr);
  SHIM_SetGLContextToView(dlg);
  SHIM_SetViewGL(dlg, false);
  EXPECT_EQ(cocoa::OpenGLContext::currentContext(), nullptr);
  EXPECT_EQ(cocoa::OpenGLContext::liveCount(), live);
  EXPECT_FALSE(SHIM_SetGLContextToView(dlg));
  // A view that goes away takes its context along.
  SHIM_SetViewGL(dlg, true);
  DestroyWindow(dlg);
  dlg = nullptr;
  cocoa::Window::displayAllWindows();
}

}  // namespace
