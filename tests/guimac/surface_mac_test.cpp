// The macOS editor surface and its Cocoa and Carbon views on the window model, driven in-process: coordinate and
// modifier mapping, key and wheel mapping, the redraw timer, the bitmap copy, text entry with its character filter,
// popup menus, bundle files and images, message boxes, file prompts, URLs and the cursor.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "KIT/IEffect/IGraphicsCarbon.h"
#include "KIT/IEffect/IGraphicsCocoa.h"
#include "KIT/IEffect/IGraphicsMac.h"
#include "KIT/pix/pix-sysbitmap.h"
#include "platform/cocoa/carbon.h"
#include "platform/cocoa/cfbundle.h"
#include "platform/cocoa/cursor.h"
#include "platform/cocoa/panels.h"
#include "tests/gui/gui_support.h"
#include "tests/guimac/guimac_support.h"

namespace {

using guitest::TestPlug;

// A control over a rectangle that records every input that reaches it.
class Recorder : public IControl {
 public:
  Recorder(IEffectBase* plug, IRECT r, int param = -1) : IControl(plug, r, param) {}
  bool Draw(IGraphics* g) override {
    g->FillIRect(&COLOR_RED, GetRECT());
    return true;
  }
  static std::string mods(IMouseMod* m) {
    std::string s;
    s += m->L ? "L" : "";
    s += m->R ? "R" : "";
    s += m->S ? "S" : "";
    s += m->C ? "C" : "";
    s += m->A ? "A" : "";
    return s;
  }
  void OnMouseDown(int x, int y, IMouseMod* m) override { add("down", x, y, m); }
  void OnMouseUp(int x, int y, IMouseMod* m) override { add("up", x, y, m); }
  void OnMouseDrag(int x, int y, int, int, IMouseMod* m) override { add("drag", x, y, m); }
  void OnMouseDblClick(int x, int y, IMouseMod* m) override { add("dbl", x, y, m); }
  void OnMouseWheel(int x, int y, IMouseMod* m, int d) override {
    add("wheel", x, y, m);
    log.back() += " d" + std::to_string(d);
  }
  bool OnKeyDown(int, int, int key) override {
    log.push_back("key " + std::to_string(key));
    return takeKeys;
  }
  bool IsDirty() override {
    ++dirtyAsks;
    return IControl::IsDirty();
  }
  void TextFromTextEntry(const char* text) override { log.push_back(std::string("text ") + text); }
  void add(const char* what, int x, int y, IMouseMod* m) {
    log.push_back(std::string(what) + " " + std::to_string(x) + "," + std::to_string(y) + " " + mods(m));
  }
  std::vector<std::string> log;
  bool takeKeys = true;
  int dirtyAsks = 0;
};

// A plug-in with a 300 x 667 Mac surface: a grey panel and one recording control over everything.
struct MacEditor {
  TestPlug plug;
  IGraphicsMac* g;
  Recorder* rec;
  explicit MacEditor(int w = 300, int h = 667) {
    g = new IGraphicsMac(&plug, w, h, 0);
    plug.AttachGraphics(g);
    rec = new Recorder(&plug, IRECT(0, 0, w, h));
    g->AttachControl(rec);
    g->AttachPanelBackground(&COLOR_GRAY);
  }
  // The plug-in deletes its surface when it goes.
};

cocoa::Event* mouseAt(cocoa::EventType t, double x, double y, uint32_t mods = 0, int clicks = 1) {
  cocoa::Event* e = cocoa::Event::mouseEvent(t, cocoa::Point{x, y}, mods);
  if (t == cocoa::kLeftMouseDown || t == cocoa::kRightMouseDown) e->clickCount = clicks;
  e->autorelease();
  return e;
}

cocoa::Event* keyEvent(uint16_t code, std::u32string chars) {
  cocoa::Event* e = cocoa::Event::keyEvent(cocoa::kKeyDown, code, 0, chars, chars);
  e->autorelease();
  return e;
}

// A window of the surface's size holding the editor's Cocoa view, as a host that asks for the view form does.
struct CocoaHost {
  cocoa::Window* window;
  IGraphicsCocoa_vVexmir_vst* view;
  explicit CocoaHost(IGraphicsMac* g) {
    window = new cocoa::Window(cocoa::Rect{0, 0, static_cast<double>(g->Width()), static_cast<double>(g->Height())});
    view = static_cast<IGraphicsCocoa_vVexmir_vst*>(g->OpenWindow(window->contentView()));
    graphics = g;
  }
  ~CocoaHost() {
    graphics->CloseWindow();
    window->release();
  }
  IGraphicsMac* graphics;
};

TEST(CocoaView, MouseEventsReachTheSurfaceWithTheOffsetAndModifierMapping) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  CocoaHost host(ed.g);
  ASSERT_TRUE(ed.g->WindowIsOpen());
  EXPECT_EQ(host.window->firstResponder(), host.view);
  EXPECT_TRUE(host.window->acceptsMouseMovedEvents());
  struct Case {
    cocoa::EventType type;
    double x, y;
    uint32_t mods;
    int clicks;
    const char* expect;
  } cases[] = {
      {cocoa::kLeftMouseDown, 100.7, 600.2, 0, 1, "down 98,64 L"},
      {cocoa::kLeftMouseDragged, 110, 590, cocoa::kShiftKeyMask, 0, "drag 108,74 LS"},
      {cocoa::kLeftMouseUp, 110, 590, 0, 0, "up 108,74 L"},
      {cocoa::kLeftMouseDown, 10, 10, cocoa::kCommandKeyMask, 1, "down 8,654 LR"},  // Command-click: right too
      {cocoa::kLeftMouseUp, 10, 10, 0, 0, "up 8,654 L"},
      {cocoa::kLeftMouseDown, 50, 50, cocoa::kControlKeyMask | cocoa::kAlternateKeyMask, 2, "dbl 48,614 LCA"},
      {cocoa::kLeftMouseUp, 50, 50, 0, 0, "up 48,614 L"},
      {cocoa::kRightMouseDown, 20, 30, 0, 1, "down 18,634 R"},
      {cocoa::kRightMouseUp, 20, 30, 0, 0, "up 18,634 R"},
  };
  for (const auto& c : cases) {
    ed.rec->log.clear();
    host.window->sendEvent(mouseAt(c.type, c.x, c.y, c.mods, c.clicks));
    ASSERT_FALSE(ed.rec->log.empty()) << c.expect;
    EXPECT_EQ(ed.rec->log.back(), c.expect);
  }
  EXPECT_EQ(host.view->prevX(), 18);
  EXPECT_EQ(host.view->prevY(), 634);
}

TEST(CocoaView, WheelDeltasAreTruncatedTowardZero) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  CocoaHost host(ed.g);
  struct {
    double delta;
    const char* expect;
  } cases[] = {{0.6, "d0"}, {-2.9, "d-2"}, {3.0, "d3"}};
  for (const auto& c : cases) {
    cocoa::Event* e = mouseAt(cocoa::kScrollWheel, 40, 40);
    e->deltaY = c.delta;
    host.window->sendEvent(e);
    const std::string& last = ed.rec->log.back();
    EXPECT_EQ(last.substr(last.size() - std::strlen(c.expect)), c.expect);
  }
}

TEST(CocoaView, KeysMapToTheEditorsCodesAndOthersGoToTheHost) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  CocoaHost host(ed.g);
  host.window->sendEvent(mouseAt(cocoa::kMouseMoved, 100.7, 600.2));  // the position keys are sent with
  struct Case {
    uint16_t code;
    std::u32string chars;
    int key;  // -1: goes to the host; -2: dropped
  } cases[] = {
      {0, U"a", 15},       {0, U"A", 15},       {6, U"z", 40},       {26, U"7", 12},
      {123, U"\uF702", 3}, {124, U"\uF703", 4}, {125, U"\uF701", 2}, {126, U"\uF700", 1},
      {49, U" ", 0},       {48, U"\t", -1},     {0, U"", -2},        {0, U"ab", -2},
  };
  for (const auto& c : cases) {
    ed.rec->log.clear();
    host.window->clearUnhandledEvents();
    host.window->sendEvent(keyEvent(c.code, c.chars));
    if (c.key >= 0) {
      ASSERT_EQ(ed.rec->log.size(), 1u);
      EXPECT_EQ(ed.rec->log[0], "key " + std::to_string(c.key));
      EXPECT_TRUE(host.window->unhandledEvents().empty());
    } else {
      EXPECT_TRUE(ed.rec->log.empty());
      EXPECT_EQ(host.window->unhandledEvents().size(), c.key == -1 ? 1u : 0u);
    }
  }
  // A key the surface does not take goes on to the host as well.
  ed.rec->takeKeys = false;
  host.window->clearUnhandledEvents();
  host.window->sendEvent(keyEvent(0, U"a"));
  EXPECT_EQ(host.window->unhandledEvents().size(), 1u);
}

TEST(CocoaView, TheTimerRunsAtTwentyFiveFramesAndInvalidatesTheDirtyArea) {
  cocoa::AutoreleasePool pool;
  cocoa::useManualClock();
  {
    MacEditor ed;
    CocoaHost host(ed.g);
    ASSERT_NE(host.view->timer(), nullptr);
    EXPECT_DOUBLE_EQ(host.view->timer()->interval(), 0.04);
    // A second control, so that the surface asks the recorder (index 1) each tick.
    ed.rec->dirtyAsks = 0;
    cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 1.0 + 1e-6);
    EXPECT_EQ(ed.rec->dirtyAsks, 25);

    // A dirty rectangle 10, 20, 30, 40 on a 667-high surface becomes x 10, y 626, 21 x 21 in the view.
    auto* small = new Recorder(&ed.plug, IRECT(10, 20, 30, 40));
    ed.g->AttachControl(small);
    ed.rec->SetClean();
    small->SetDirty(false);
    host.view->onTimer(host.view->timer());
    const cocoa::Rect inv = host.view->invalidRect();
    EXPECT_DOUBLE_EQ(inv.x, 10);
    EXPECT_DOUBLE_EQ(inv.y, 626);
    EXPECT_DOUBLE_EQ(inv.w, 21);
    EXPECT_DOUBLE_EQ(inv.h, 21);
    // The display copies the surface's bitmap into the window: the recorder painted red over the grey panel.
    host.window->displayIfNeeded();
    EXPECT_EQ(host.window->pixelAt(15, 25), 0xFF0000u);
    // A timer other than the view's own changes nothing; neither does a view without its surface.
    cocoa::Timer* other = new cocoa::Timer(1, false, nullptr);
    small->SetDirty(false);
    host.view->onTimer(other);
    EXPECT_FALSE(host.view->needsDisplay());
    other->release();
    ed.g->CloseWindow();
    EXPECT_EQ(host.view->timer(), nullptr);
    EXPECT_FALSE(ed.g->WindowIsOpen());
  }
  cocoa::useRealClock();
}

TEST(CocoaView, TextEntryFiltersByParameterTypeAndLength) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  CocoaHost host(ed.g);
  IRECT r(10, 10, 90, 30);
  struct Case {
    int param;  // -1: no parameter
    std::string typed;
    std::string kept;
  } cases[] = {
      {guitest::kWave, "x12", "12"},                              // enum: digits and signs only
      {guitest::kWave, "12345678901234567", "1234567890123456"},  // the 17th character is refused
      {guitest::kLevel, "-0.5x", "-0.5"},                         // double: the point too
      {guitest::kCutoff, "1.5", "15"},                            // int: no point
      {guitest::kName, "Ab c!~", "Ab c!"},                        // text: its own set
      {-1, "anything ~ at all, and longer than sixteen", "anything ~ at all, and longer than sixteen"},
  };
  for (const auto& c : cases) {
    IParam* p = c.param >= 0 ? ed.plug.GetParam(c.param) : nullptr;
    ed.g->CreateTextEntry(ed.rec, ed.rec->GetText(), &r, "", p);
    cocoa::TextField* field = host.view->textField();
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->formatter() != nullptr, p != nullptr);
    EXPECT_EQ(field->fontName, "Monaco");
    EXPECT_DOUBLE_EQ(field->fontSize, 10);  // 12 x 0.9, truncated
    EXPECT_EQ(host.window->firstResponder(), field);
    for (char ch : c.typed) host.window->sendEvent(keyEvent(0, std::u32string(1, static_cast<char32_t>(ch))));
    EXPECT_EQ(field->stringValue(), c.kept) << c.typed;
    ed.g->ForceEndUserEdit();
    EXPECT_EQ(host.view->textField(), nullptr);
    EXPECT_EQ(host.window->firstResponder(), host.view);
  }
  // The field sits over the control's rectangle in view coordinates (y up).
  ed.g->CreateTextEntry(ed.rec, ed.rec->GetText(), &r, "", nullptr);
  const cocoa::Rect f = host.view->textField()->frame();
  EXPECT_DOUBLE_EQ(f.x, 10);
  EXPECT_DOUBLE_EQ(f.y, 667 - 1 - 30);
  EXPECT_DOUBLE_EQ(f.w, 81);
  EXPECT_DOUBLE_EQ(f.h, 21);
  // A second request while one is open is ignored.
  cocoa::TextField* first = host.view->textField();
  ed.g->CreateTextEntry(ed.rec, ed.rec->GetText(), &r, "x", nullptr);
  EXPECT_EQ(host.view->textField(), first);
  ed.g->ForceEndUserEdit();
}

TEST(CocoaView, FinishingTheEntryHandsTheTextToTheSurfaceOrTheControl) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  CocoaHost host(ed.g);
  IRECT r(10, 10, 90, 30);
  // With a parameter: converted and sent to the plug-in as a normalized value by the control bound to it.
  auto* knob = new Recorder(&ed.plug, IRECT(0, 0, 5, 5), guitest::kCutoff);
  ed.g->AttachControl(knob);
  ed.g->CreateTextEntry(knob, knob->GetText(), &r, "0", ed.plug.GetParam(guitest::kCutoff));
  for (char32_t c : std::u32string(U"64\r"))
    host.window->sendEvent(keyEvent(c == U'\r' ? 36 : 0, std::u32string(1, c)));
  EXPECT_EQ(host.view->textField(), nullptr);
  ASSERT_FALSE(ed.plug.guiCalls.empty());
  EXPECT_EQ(ed.plug.guiCalls.back(), "gui 0 0.5039");
  EXPECT_DOUBLE_EQ(ed.plug.GetParam(guitest::kCutoff)->Value(), 64);
  // Without one: the control gets the text.
  ed.g->CreateTextEntry(ed.rec, ed.rec->GetText(), &r, "", nullptr);
  for (char32_t c : std::u32string(U"Hello\r")) host.window->sendEvent(keyEvent(0, std::u32string(1, c)));
  EXPECT_EQ(ed.rec->log.back(), "text Hello");
  // The wheel ends an entry without committing it.
  ed.g->CreateTextEntry(ed.rec, ed.rec->GetText(), &r, "", nullptr);
  host.window->sendEvent(keyEvent(0, U"Z"));
  cocoa::Event* wheel = mouseAt(cocoa::kScrollWheel, 5, 5);
  wheel->deltaY = 1;
  host.window->sendEvent(wheel);
  EXPECT_EQ(host.view->textField(), nullptr);
  EXPECT_EQ(ed.rec->log.back().substr(0, 5), "wheel");
}

TEST(CocoaView, PopupMenusReturnTheMenuOfTheChosenItem) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  IRECT r(20, 30, 60, 50);
  // No view open: no menu.
  IPopupMenu plain;
  plain.AddItem("a");
  EXPECT_EQ(ed.g->CreateIPopupMenu(&plain, &r), nullptr);
  CocoaHost host(ed.g);
  IPopupMenu sub;
  for (const char* t : {"s1", "s2", "s3"}) sub.AddItem(t);
  IPopupMenu top;
  for (int i = 0; i < 9; ++i) top.AddItem(("item" + std::to_string(i + 1)).c_str());
  top.AddSeparator();
  top.AddItem("more", &sub);
  top.AddItem("off", -1, IPopupMenuItem::kDisabled);
  top.AddItem("on", -1, IPopupMenuItem::kChecked);
  top.SetPrefix(2);
  cocoa::menus::clearScript();
  cocoa::menus::clearShown();

  cocoa::menus::scriptChoice({10, 2});
  IPopupMenu* got = ed.g->CreateIPopupMenu(&top, &r);
  EXPECT_EQ(got, &sub);
  EXPECT_EQ(sub.GetChosenItemIdx(), 2);
  cocoa::menus::scriptChoice({12});
  EXPECT_EQ(ed.g->CreateIPopupMenu(&top, &r), &top);
  EXPECT_EQ(top.GetChosenItemIdx(), 12);
  cocoa::menus::scriptChoice({11});  // disabled
  EXPECT_EQ(ed.g->CreateIPopupMenu(&top, &r), nullptr);
  cocoa::menus::scriptDismiss();
  EXPECT_EQ(ed.g->CreateIPopupMenu(&top, &r), nullptr);

  const auto shown = cocoa::menus::shownMenus();
  ASSERT_EQ(shown.size(), 4u);
  const auto& items = shown[0].items;
  ASSERT_EQ(items.size(), 13u);
  EXPECT_EQ(items[0].title, "01: item1");
  EXPECT_EQ(items[8].title, "09: item9");
  EXPECT_TRUE(items[9].separator);
  EXPECT_EQ(items[10].title, "11: more");
  EXPECT_EQ(items[10].submenu[0].title, "s1");  // the submenu has no prefix of its own
  EXPECT_FALSE(items[11].enabled);
  EXPECT_TRUE(items[12].checked);
  // Shown 4 pixels below the rectangle's bottom in the view (y up): x 20, y 667 - 1 - 50 - 4.
  EXPECT_DOUBLE_EQ(shown[0].x, 20);
  EXPECT_DOUBLE_EQ(shown[0].y, 612);
  auto screens = cocoa::screen::screens();
  screens[0].backingScale = 2;  // two device pixels per point: at half those numbers
  cocoa::screen::setScreens(screens);
  cocoa::menus::scriptDismiss();
  ed.g->CreateIPopupMenu(&top, &r);
  screens[0].backingScale = 1;
  cocoa::screen::setScreens(screens);
  EXPECT_DOUBLE_EQ(cocoa::menus::shownMenus().back().x, 10);
  EXPECT_DOUBLE_EQ(cocoa::menus::shownMenus().back().y, 306);
}

// ---------------------------------------------------------------------------------------------------------------
// The surface's platform services

struct TempBundle {
  std::string root;
  explicit TempBundle(const char* id) {
    root = testing::TempDir() + "guimac_surface_" + std::to_string(getpid()) + ".vst";
    std::system(("mkdir -p '" + root + "/Contents/Resources/resources/img' '" + root + "/Contents/Linux'").c_str());
    std::ofstream(root + "/Contents/Linux/Fake.so") << "not a library";
    cocoa::Bundle::registerIdentifier(id, root);
  }
  ~TempBundle() { std::system(("rm -rf '" + root + "'").c_str()); }
  void write(const std::string& rel, const std::string& bytes) {
    std::ofstream(root + "/Contents/Resources/" + rel, std::ios::binary) << bytes;
  }
};

void writePng(const std::string& path, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  guimactest::writePng(path, w, h, [=](int, int, uint8_t* p) {
    p[0] = r;
    p[1] = g;
    p[2] = b;
    p[3] = 255;
  });
}

TEST(MacSurface, DataFilesAreReadWholeAndFollowedByZeroBytes) {
  TempBundle bundle("org.vexmir.surface-files");
  MacEditor ed;
  ed.g->SetBundleID("org.vexmir.surface-files");
  bundle.write("resources/ten.tea", "0123456789");
  std::string big(5000000, 'x');
  big[4095999] = 'y';
  big[4999999] = 'z';
  bundle.write("big.xml", big);

  std::unique_ptr<char[]> ten(ed.g->LoadFile(100, "resources/ten.tea"));
  ASSERT_NE(ten, nullptr);
  EXPECT_EQ(ed.g->GetLoadedFileSize(), 10);
  EXPECT_EQ(std::string(ten.get(), 10), "0123456789");
  bool zeros = true;
  for (int i = 10; i < IGraphicsMac::kMinLoadBufferSize; ++i) zeros = zeros && ten[i] == 0;
  EXPECT_TRUE(zeros);

  // Longer than the fixed buffer: read whole, still followed by a zero byte.
  std::unique_ptr<char[]> whole(ed.g->LoadFile(101, "big.xml"));
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(ed.g->GetLoadedFileSize(), 5000000);
  EXPECT_EQ(whole[4095999], 'y');
  EXPECT_EQ(whole[4999999], 'z');
  EXPECT_EQ(whole[5000000], 0);

  // Missing resources change nothing.
  EXPECT_EQ(ed.g->LoadFile(1, "resources/none.tea"), nullptr);
  EXPECT_EQ(ed.g->GetLoadedFileSize(), 5000000);
  EXPECT_EQ(ed.g->LoadFile(1, ".tea"), nullptr);
  ed.g->SetBundleID("org.vexmir.unknown");
  EXPECT_EQ(ed.g->LoadFile(1, "resources/ten.tea"), nullptr);
}

TEST(MacSurface, ImagesAreFoundByTheirLastNameAndOnlyAsPng) {
  TempBundle bundle("org.vexmir.surface-images");
  writePng(bundle.root + "/Contents/Resources/resources/img/knob.png", 4, 3, 10, 20, 30);
  writePng(bundle.root + "/Contents/Resources/resources/img/png.png", 2, 2, 0, 0, 0);
  struct Case {
    const char* name;
    int w;  // 0: no image
  } cases[] = {{"resources/img/knob.png", 4},
               {"resources/img/knob.PNG", 4},
               {"other/folder/knob.png", 4},
               {"resources/img/knob.jpg", 0},
               {"knob", 0},
               {"png", 2},
               {"resources/img/none.png", 0},
               {nullptr, 0}};
  for (const auto& c : cases) {
    std::unique_ptr<PIX_IBitmap> bm(LoadImgFromResourceOSX("org.vexmir.surface-images", c.name));
    EXPECT_EQ(bm ? bm->getWidth() : 0, c.w) << (c.name ? c.name : "(null)");
  }
  std::unique_ptr<PIX_IBitmap> none(LoadImgFromResourceOSX("org.vexmir.missing", "resources/img/knob.png"));
  EXPECT_EQ(none, nullptr);
}

TEST(MacSurface, MessageBoxesAnswerByTypeAndButton) {
  MacEditor ed;
  struct Case {
    int type;
    int response;
    int answer;
    const char* defaultButton;
    const char* alternate;
  } cases[] = {
      {1, cocoa::kAlertDefaultResponse, 1, "", "Cancel"}, {1, cocoa::kAlertAlternateResponse, 2, "", "Cancel"},
      {4, cocoa::kAlertDefaultResponse, 6, "Yes", "No"},  {4, cocoa::kAlertAlternateResponse, 7, "Yes", "No"},
      {3, cocoa::kAlertOtherResponse, 2, "Yes", "No"},    {0, cocoa::kAlertDefaultResponse, 1, "", ""},
      {3, cocoa::kAlertCancelResponse, 0, "Yes", "No"},
  };
  for (const auto& c : cases) {
    cocoa::alerts::scriptResponse(c.response);
    EXPECT_EQ(ed.g->ShowMessageBox("text", "caption", c.type), c.answer) << c.type << " " << c.response;
    const cocoa::ShownAlert a = cocoa::alerts::shownAlerts().back();
    EXPECT_EQ(a.header, "caption");
    EXPECT_EQ(a.message, "text");
    EXPECT_EQ(a.defaultButton, c.defaultButton);
    EXPECT_EQ(a.alternateButton, c.alternate);
  }
}

TEST(MacSurface, FilePromptsStartOnTheDesktopAndReportTheChoice) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  KIT_String file("proposed.syx"), dir;
  char ext[] = "syx mid";
  ed.g->PromptForFile(&file, kFileSave, &dir, ext);  // no window: nothing shown
  EXPECT_STREQ(file.Get(), "");
  CocoaHost host(ed.g);
  cocoa::panels::clearShown();
  file.Set("proposed.syx");
  cocoa::panels::scriptCancel();
  ed.g->PromptForFile(&file, kFileSave, &dir, ext);
  EXPECT_STREQ(file.Get(), "");
  EXPECT_STREQ(dir.Get(), "~/Desktop");
  cocoa::panels::scriptChoice("/data/banks/new.syx");
  ed.g->PromptForFile(&file, kFileOpen, &dir, ext);
  EXPECT_STREQ(file.Get(), "/data/banks/new.syx");
  EXPECT_STREQ(dir.Get(), "/data/banks/");
  const auto shown = cocoa::panels::shownPanels();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_FALSE(shown[0].open);
  EXPECT_EQ(shown[0].fileName, "proposed.syx");
  EXPECT_FALSE(shown[0].allowsOtherTypes);
  EXPECT_EQ(shown[0].types, (std::vector<std::string>{"syx", "mid"}));
  EXPECT_TRUE(shown[1].open);
  EXPECT_TRUE(shown[1].canChooseFiles);
  EXPECT_FALSE(shown[1].canChooseDirectories);
}

TEST(MacSurface, UrlsOpenThroughTheWorkspaceAndPathsAsFileUrls) {
  MacEditor ed;
  cocoa::workspace::clearOpened();
  EXPECT_TRUE(ed.g->OpenURL("https://example.org/manual"));
  EXPECT_TRUE(ed.g->OpenURL("/Library/Audio/Presets"));
  EXPECT_TRUE(ed.g->OpenURL("http://bad url"));  // no URL can be made: nothing opened, still true
  cocoa::workspace::setOpenSucceeds(false);
  EXPECT_FALSE(ed.g->OpenURL("http://example.org"));
  cocoa::workspace::setOpenSucceeds(true);
  EXPECT_EQ(
      cocoa::workspace::openedURLs(),
      (std::vector<std::string>{"https://example.org/manual", "file:///Library/Audio/Presets", "http://example.org"}));
}

TEST(MacSurface, PathsApiNamesResizeAndCursor) {
  cocoa::AutoreleasePool pool;
  TempBundle bundle("org.vexmir.surface-paths");
  MacEditor ed;
  EXPECT_STREQ(ed.g->GetGUIAPI(), "Cocoa gui");
  ed.g->SetBundleID("org.vexmir.surface-paths");
  KIT_String p("unchanged");
  ed.g->HostPath(&p);
  EXPECT_EQ(std::string(p.Get()).substr(std::string(p.Get()).size() - 8), "/Fake.so");
  ed.g->PluginPath(&p);
  const std::string bundlePath = cocoa::Bundle::withIdentifier("org.vexmir.surface-paths")->bundlePath();
  EXPECT_EQ(std::string(p.Get()), bundlePath.substr(0, bundlePath.find_last_of('/') + 1));
  EXPECT_EQ(p.Get()[p.GetLength() - 1], '/');
  ed.g->SetBundleID("org.vexmir.none");
  KIT_String q("unchanged");
  ed.g->HostPath(&q);
  EXPECT_STREQ(q.Get(), "unchanged");
  const char* home = getenv("HOME");
  ed.g->DesktopPath(&q);
  EXPECT_EQ(std::string(q.Get()), std::string(home ? home : "") + "/Desktop/");
  IColor c;
  EXPECT_FALSE(ed.g->PromptForColor(&c, nullptr));

  // Resizing to the current size keeps the bitmap; another size makes a new one and tells the plug-in.
  PIX_SysBitmap* before = ed.g->GetDrawBitmap();
  ed.g->Resize(300, 667);
  EXPECT_EQ(ed.g->GetDrawBitmap(), before);
  EXPECT_TRUE(ed.plug.resized.empty());
  CocoaHost host(ed.g);
  ed.g->Resize(320, 600);
  EXPECT_EQ(ed.plug.resized.size(), 1u);
  EXPECT_DOUBLE_EQ(host.view->frame().w, 320);
  EXPECT_DOUBLE_EQ(host.view->frame().h, 600);

  // The cursor hides once and comes back where it was.
  cocoa::screen::setSize(1920, 1080);
  cocoa::input::setMouseLocation(cocoa::Point{300.6, 80.2});
  const int hiddenBefore = cocoa::display::hiddenCount();
  ed.g->HideMouseCursor();
  ed.g->HideMouseCursor();
  EXPECT_EQ(cocoa::display::hiddenCount(), hiddenBefore + 1);
  cocoa::input::setMouseLocation(cocoa::Point{10, 10});
  ed.g->ShowMouseCursor();
  EXPECT_EQ(cocoa::display::hiddenCount(), hiddenBefore);
  EXPECT_DOUBLE_EQ(cocoa::input::mouseLocation().x, 300);
  EXPECT_DOUBLE_EQ(cocoa::input::mouseLocation().y, 81);  // 1080 - trunc(1080 - 80.2)
  EXPECT_EQ(ed.g->GetUserOSVersion(), 0x1090);
}

// ---------------------------------------------------------------------------------------------------------------
// Carbon

struct CarbonHost {
  IGraphicsMac* g;
  carbon::WindowRef window = nullptr;
  carbon::ControlRef pane = nullptr;
  CarbonHost(IGraphicsMac* graphics, bool composited) : g(graphics) {
    carbon::Rect b{0, 0, static_cast<carbon::SInt16>(g->Height()), static_cast<carbon::SInt16>(g->Width())};
    carbon::CreateNewWindow(carbon::kDocumentWindowClass, composited ? carbon::kWindowCompositingAttribute : 0, &b,
                            &window);
    carbon::SelectWindow(window);
    pane = static_cast<carbon::ControlRef>(g->OpenWindow(window, nullptr, 0, 0));
  }
  ~CarbonHost() {
    g->CloseWindow();
    carbon::DisposeWindow(window);
  }

  carbon::OSStatus mouse(carbon::UInt32 kind, double x, double y, carbon::UInt32 mods = 0,
                         carbon::UInt16 button = carbon::kEventMouseButtonPrimary, carbon::UInt32 clicks = 1) {
    carbon::EventRef e;
    carbon::CreateEvent(nullptr, carbon::kEventClassMouse, kind, 0, 0, &e);
    carbon::HIPoint p{x, y};
    carbon::SetEventParameter(e, carbon::kEventParamWindowMouseLocation, carbon::typeHIPoint, sizeof p, &p);
    carbon::SetEventParameter(e, carbon::kEventParamKeyModifiers, carbon::typeUInt32, sizeof mods, &mods);
    carbon::SetEventParameter(e, carbon::kEventParamMouseButton, carbon::typeMouseButton, sizeof button, &button);
    carbon::SetEventParameter(e, carbon::kEventParamClickCount, carbon::typeUInt32, sizeof clicks, &clicks);
    const carbon::OSStatus r = carbon::SendEventToEventTarget(e, carbon::GetWindowEventTarget(window));
    carbon::ReleaseEvent(e);
    return r;
  }
  carbon::OSStatus key(char c, carbon::UInt32 code = 0) { return guimactest::pressKey(c, code); }
};

TEST(CarbonView, ClicksKeysAndTheWheelReachTheSurface) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  CarbonHost host(ed.g, true);
  EXPECT_STREQ(ed.g->GetGUIAPI(), "Carbon Composited gui");
  EXPECT_EQ(ed.g->GetWindow(), nullptr);
  EXPECT_TRUE(ed.g->WindowIsOpen());
  host.mouse(carbon::kEventMouseDown, 10, 10);
  EXPECT_EQ(ed.rec->log.back(), "down 8,7 L");
  host.mouse(carbon::kEventMouseDown, 10, 10, carbon::cmdKey);
  EXPECT_EQ(ed.rec->log.back(), "down 8,7 LR");
  host.mouse(carbon::kEventMouseDown, 30, 40, carbon::shiftKey, carbon::kEventMouseButtonSecondary, 2);
  EXPECT_EQ(ed.rec->log.back(), "dbl 28,37 LRS");
  host.mouse(carbon::kEventMouseDown, 31, 41);
  host.mouse(carbon::kEventMouseDragged, 35, 45);
  EXPECT_EQ(ed.rec->log.back(), "drag 33,42 L");
  host.mouse(carbon::kEventMouseMoved, 50, 60);
  carbon::EventRef wheel;
  carbon::CreateEvent(nullptr, carbon::kEventClassMouse, carbon::kEventMouseWheelMoved, 0, 0, &wheel);
  carbon::HIPoint p{50, 60};
  carbon::SInt32 d = -3;
  carbon::UInt16 axis = carbon::kEventMouseWheelAxisY;
  carbon::SetEventParameter(wheel, carbon::kEventParamWindowMouseLocation, carbon::typeHIPoint, sizeof p, &p);
  carbon::SetEventParameter(wheel, carbon::kEventParamMouseWheelDelta, carbon::typeSInt32, sizeof d, &d);
  carbon::SetEventParameter(wheel, carbon::kEventParamMouseWheelAxis, carbon::typeMouseWheelAxis, sizeof axis, &axis);
  EXPECT_EQ(carbon::SendEventToEventTarget(wheel, carbon::GetWindowEventTarget(host.window)), carbon::noErr);
  EXPECT_EQ(ed.rec->log.back(), "wheel 48,57 L d-3");
  axis = carbon::kEventMouseWheelAxisX;
  carbon::SetEventParameter(wheel, carbon::kEventParamMouseWheelAxis, carbon::typeMouseWheelAxis, sizeof axis, &axis);
  EXPECT_EQ(carbon::SendEventToEventTarget(wheel, carbon::GetWindowEventTarget(host.window)),
            carbon::eventNotHandledErr);
  carbon::ReleaseEvent(wheel);
  struct {
    char c;
    carbon::UInt32 code;
    int key;
  } keys[] = {{'a', 0, 15}, {'Z', 6, 40}, {'7', 26, 12}, {0, 126, 1}, {' ', 49, 0}, {'\t', 48, -1}};
  for (const auto& k : keys) {
    ed.rec->log.clear();
    const carbon::OSStatus r = host.key(k.c, k.code);
    if (k.key >= 0) {
      EXPECT_EQ(r, carbon::noErr);
      EXPECT_EQ(ed.rec->log.back(), "key " + std::to_string(k.key));
    } else {
      EXPECT_EQ(r, carbon::eventNotHandledErr);
      EXPECT_TRUE(ed.rec->log.empty());
    }
  }
}

TEST(CarbonView, TimerInvalidatesAndThePaintCopiesTheBitmap) {
  cocoa::AutoreleasePool pool;
  cocoa::useManualClock();
  for (bool composited : {true, false}) {
    MacEditor ed(100, 80);
    CarbonHost host(ed.g, composited);
    EXPECT_STREQ(ed.g->GetGUIAPI(), composited ? "Carbon Composited gui" : "Carbon Non-Composited gui");
    // The first pass draws the new pane whole (composited) or nothing (nothing is dirty yet).
    cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 0.041);
    auto* small = new Recorder(&ed.plug, IRECT(10, 20, 30, 40));
    ed.g->AttachControl(small);
    small->SetDirty(false);
    ed.rec->SetClean();
    carbon::drawLog().clear();
    cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 0.041);
    ASSERT_FALSE(carbon::drawLog().empty());
    const carbon::DrawRecord d = carbon::drawLog().back();
    EXPECT_EQ(d.view, host.pane);
    if (composited) {
      ASSERT_TRUE(d.hasShape);
      EXPECT_DOUBLE_EQ(d.bounds.origin.x, 10);
      EXPECT_DOUBLE_EQ(d.bounds.origin.y, 20);
      EXPECT_DOUBLE_EQ(d.bounds.size.width, 20);
    }
    EXPECT_EQ(host.window->pixelAt(15, 25), 0xFF0000u) << composited;
    if (!composited) {
      EXPECT_FALSE(d.hasShape);  // the whole pane
    }
  }
  cocoa::useRealClock();
}

TEST(CarbonView, TextEntryFiltersCommitsAndIsOfferedOnlyWhenComposited) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  {
    CarbonHost plain(ed.g, false);
    IRECT r(10, 10, 90, 30);
    ed.g->CreateTextEntry(ed.rec, ed.rec->GetText(), &r, "1", ed.plug.GetParam(guitest::kLevel));
    EXPECT_EQ(ed.g->GetCarbonView()->GetTextEntryView(), nullptr);
  }
  CarbonHost host(ed.g, true);
  IRECT r(10, 10, 90, 30);
  auto* level = new Recorder(&ed.plug, IRECT(0, 0, 5, 5), guitest::kLevel);
  ed.g->AttachControl(level);
  level->SetTextEntryLength(4);
  ed.g->CreateTextEntry(level, level->GetText(), &r, "0.25", ed.plug.GetParam(guitest::kLevel));
  carbon::ControlRef field = ed.g->GetCarbonView()->GetTextEntryView();
  ASSERT_NE(field, nullptr);
  auto* et = dynamic_cast<carbon::EditTextControl*>(field);
  EXPECT_EQ(et->text, "0.25");
  EXPECT_EQ(et->style.size, 12);
  EXPECT_EQ(carbon::FMGetFontFamilyName(et->style.font), level->GetText()->mFont);
  // Full (4 of 4): even an acceptable '5' is dropped; Backspace goes through.
  EXPECT_EQ(host.key('5'), carbon::noErr);
  EXPECT_EQ(et->text, "0.25");
  EXPECT_EQ(host.key(8), carbon::noErr);  // the selection (all) goes
  EXPECT_EQ(et->text, "");
  for (char c : std::string("0.x7")) host.key(c);
  EXPECT_EQ(et->text, "0.7");
  EXPECT_EQ(host.key(13), carbon::noErr);  // Return commits
  EXPECT_EQ(ed.g->GetCarbonView()->GetTextEntryView(), nullptr);
  ASSERT_FALSE(ed.plug.guiCalls.empty());
  EXPECT_EQ(ed.plug.guiCalls.back(), "gui 3 0.7000");

  struct {
    int type;
    char c;
    bool ok;
  } filter[] = {{IParam::kTypeDouble, '.', true}, {IParam::kTypeInt, '.', false}, {IParam::kTypeEnum, '+', true},
                {IParam::kTypeBool, 'a', false},  {IParam::kTypeText, '~', true}, {IParam::kTypeInt, '9', true}};
  for (const auto& f : filter) {
    IParam p;
    p.InitInt("t", 0, 0, 9);
    if (f.type == IParam::kTypeDouble) {
      IParam d;
      d.InitDouble("d", 0, 0, 1, 0.1);
      EXPECT_EQ(IGraphicsCarbon::AcceptsCharacter(&d, f.c), f.ok);
      continue;
    }
    if (f.type == IParam::kTypeText) {
      p.InitText();
    } else if (f.type == IParam::kTypeEnum) {
      IParam e;
      e.InitEnum("e", 0, 3);
      EXPECT_EQ(IGraphicsCarbon::AcceptsCharacter(&e, f.c), f.ok);
      continue;
    } else if (f.type == IParam::kTypeBool) {
      IParam b;
      b.InitBool("b", false);
      EXPECT_EQ(IGraphicsCarbon::AcceptsCharacter(&b, f.c), f.ok);
      continue;
    }
    EXPECT_EQ(IGraphicsCarbon::AcceptsCharacter(&p, f.c), f.ok);
  }
  EXPECT_TRUE(IGraphicsCarbon::AcceptsCharacter(nullptr, '~'));

  // A click outside an open field commits it first; the wheel cancels.
  ed.g->CreateTextEntry(ed.rec, ed.rec->GetText(), &r, "", nullptr);
  host.key('h');
  host.key('i');
  host.mouse(carbon::kEventMouseDown, 200, 200);
  EXPECT_EQ(ed.rec->log[ed.rec->log.size() - 2], "text hi");
}

// The value entry shows what is typed, with its caret, as it is typed (no other redraw asked for): in the Cocoa
// view's field and in the Carbon view's edit-text control. The caret follows the text in each alignment.
TEST(MacViews, TheValueEntryShowsWhatIsTypedAsItIsTyped) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  IRECT r(10, 10, 90, 30);
  for (bool carbonPath : {false, true}) {
    SCOPED_TRACE(carbonPath ? "Carbon" : "Cocoa");
    auto cocoaHost = carbonPath ? nullptr : std::make_unique<CocoaHost>(ed.g);
    auto carbonHost = carbonPath ? std::make_unique<CarbonHost>(ed.g, true) : nullptr;
    cocoa::Window* w = carbonPath ? carbonHost->window : cocoaHost->window;
    ed.g->CreateTextEntry(ed.rec, ed.rec->GetText(), &r, "", nullptr);
    std::vector<int> ink;  // dark pixels inside the field after opening it and after each key
    for (char c : std::string("bas")) {
      w->displayIfNeeded();
      ink.push_back(0);
      for (int y = 12; y < 29; ++y)
        for (int x = 12; x < 89; ++x) ink.back() += (w->pixelAt(x, y) >> 16) < 100;  // black on white and red
      if (carbonPath)
        carbonHost->key(c);
      else
        w->sendEvent(keyEvent(0, std::u32string(1, static_cast<char32_t>(c))));
    }
    EXPECT_GT(ink[0], 5) << "no caret";
    EXPECT_GT(ink[2], ink[0] + 20) << "\"ba\" does not show";
    ed.g->ForceEndUserEdit();

    // The caret stands where the next character goes, just after the text, whatever the alignment: it is the one
    // column dark from top to bottom of the text (no letter is that tall).
    for (int align : {IText::kAlignNear, IText::kAlignCenter, IText::kAlignFar}) {
      SCOPED_TRACE("alignment " + std::to_string(align));
      IText style = *ed.rec->GetText();
      style.mAlign = align;
      ed.g->CreateTextEntry(ed.rec, &style, &r, "", nullptr);
      for (char c : std::string("ba")) {
        if (carbonPath)
          carbonHost->key(c);
        else
          w->sendEvent(keyEvent(0, std::u32string(1, static_cast<char32_t>(c))));
      }
      w->displayIfNeeded();
      auto dark = [&](int x, int y) { return (w->pixelAt(x, y) >> 16) < 100; };
      int caret = -1, carets = 0, firstInk = 90, lastInk = -1;
      for (int x = 11; x < 90; ++x) {
        int run = 0, longest = 0;
        for (int y = 11; y < 30; ++y) longest = std::max(longest, run = dark(x, y) ? run + 1 : 0);
        if (longest >= 13) caret = x, ++carets;
      }
      EXPECT_EQ(carets, 1) << "no caret, or more than one";
      for (int x = 11; x < caret; ++x)
        for (int y = 11; y < 30; ++y)
          if (dark(x, y)) firstInk = std::min(firstInk, x), lastInk = x;
      EXPECT_GE(lastInk, caret - 3) << "the caret at " << caret << " stands away from the text's end at " << lastInk;
      // And the text with its caret stands at the field's left, in its middle (50) or at its right.
      const int at = align == IText::kAlignNear ? firstInk : align == IText::kAlignFar ? caret : (firstInk + caret) / 2;
      EXPECT_NEAR(at, align == IText::kAlignNear ? 13 : align == IText::kAlignFar ? 87 : 50, 3);
      ed.g->ForceEndUserEdit();
    }
  }
}

TEST(CarbonView, PopupMenusAreNumberedAndAnswerTheMenuOfThePick) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  CarbonHost host(ed.g, true);
  IPopupMenu sub;
  sub.AddItem("x");
  sub.AddItem("y");
  IPopupMenu top;
  top.AddItem("first");
  top.AddSeparator();
  top.AddItem("sub", &sub);
  top.AddItem("title", -1, IPopupMenuItem::kTitle);
  top.SetPrefix(1);
  IRECT r(20, 30, 60, 50);
  cocoa::menus::clearShown();
  cocoa::menus::scriptChoice({2, 1});
  EXPECT_EQ(ed.g->CreateIPopupMenu(&top, &r), &sub);
  EXPECT_EQ(sub.GetChosenItemIdx(), 1);
  cocoa::menus::scriptChoice({0});
  EXPECT_EQ(ed.g->CreateIPopupMenu(&top, &r), &top);
  EXPECT_EQ(top.GetChosenItemIdx(), 0);
  cocoa::menus::scriptChoice({3});  // a section title cannot be picked
  EXPECT_EQ(ed.g->CreateIPopupMenu(&top, &r), nullptr);
  cocoa::menus::scriptDismiss();
  EXPECT_EQ(ed.g->CreateIPopupMenu(&top, &r), nullptr);
  const auto shown = cocoa::menus::shownMenus();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].items[0].title, "1: first");
  EXPECT_TRUE(shown[0].items[1].separator);
  EXPECT_EQ(shown[0].items[2].title, "3: sub");
  EXPECT_EQ(shown[0].items[2].submenu[1].title, "y");  // numbered by its own prefix (none)
  EXPECT_TRUE(shown[0].items[3].header);
  // Five pixels below the rectangle, in global coordinates.
  EXPECT_DOUBLE_EQ(shown[0].x, 20);
  EXPECT_DOUBLE_EQ(shown[0].y, 55);
  // The menus are gone from the menu list afterwards.
  IPopupMenu empty;
  EXPECT_EQ(ed.g->CreateIPopupMenu(&empty, &r), nullptr);
}

}  // namespace

namespace {

TEST(MacSurface, SubWindowsSitCentredOverTheHostWindowAndGoAway) {
  cocoa::AutoreleasePool pool;
  cocoa::useManualClock();
  {
    MacEditor ed(300, 200);
    auto* host = new cocoa::Window(cocoa::Rect{50, 60, 501, 400});
    ed.g->AttachSubWindow(host);
    ASSERT_EQ(host->childWindows().size(), 1u);
    cocoa::Window* child = host->childWindows()[0];
    // The editor's own borderless window, which can become key all the same.
    ASSERT_NE(dynamic_cast<CustomCocoaWindow_vVexmir_vst*>(child), nullptr);
    EXPECT_EQ(child->styleMask, 0u);
    EXPECT_DOUBLE_EQ(child->contentRect().x, 50 + 100);  // floor((501 - 300) / 2)
    EXPECT_DOUBLE_EQ(child->contentRect().y, 60);
    EXPECT_DOUBLE_EQ(child->contentRect().w, 300);
    EXPECT_TRUE(ed.g->WindowIsOpen());
    EXPECT_EQ(ed.g->GetCocoaView()->window(), child);
    EXPECT_TRUE(host->isKeyWindow());
    EXPECT_FALSE(child->isVisible());
    cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 0.06);
    EXPECT_TRUE(child->isVisible());  // brought to the front a moment later
    ed.g->RemoveSubWindow();
    EXPECT_FALSE(ed.g->WindowIsOpen());
    EXPECT_TRUE(host->childWindows().empty());
    EXPECT_FALSE(host->isVisible());
    host->release();
  }
  cocoa::useRealClock();
}

TEST(CocoaView, ClickingOutsideTheFieldCommitsItAndClosingTheEditorStopsEverything) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  CocoaHost host(ed.g);
  IRECT r(10, 10, 90, 30);
  ed.g->CreateTextEntry(ed.rec, ed.rec->GetText(), &r, "", nullptr);
  host.window->sendEvent(keyEvent(0, U"q"));
  host.window->sendEvent(mouseAt(cocoa::kLeftMouseDown, 200, 200));
  EXPECT_EQ(host.view->textField(), nullptr);
  ASSERT_GE(ed.rec->log.size(), 2u);
  EXPECT_EQ(ed.rec->log[ed.rec->log.size() - 2], "text q");
  EXPECT_EQ(ed.rec->log.back(), "down 198,464 L");
  // A host that takes the view away closes the surface's side; the view then ignores everything.
  host.view->retain();
  host.view->removeFromSuperview();
  EXPECT_FALSE(ed.g->WindowIsOpen());
  EXPECT_EQ(host.view->graphics(), nullptr);
  ed.rec->log.clear();
  host.window->sendEvent(mouseAt(cocoa::kLeftMouseDown, 200, 200));
  EXPECT_TRUE(ed.rec->log.empty());
  EXPECT_FALSE(host.view->isOpaque());
  host.view->release();
}

TEST(CarbonView, ResizeSetsTheWindowAndThePane) {
  cocoa::AutoreleasePool pool;
  MacEditor ed(200, 100);
  CarbonHost host(ed.g, true);
  ed.g->Resize(240, 120);
  carbon::Rect b;
  carbon::GetWindowBounds(host.window, carbon::kWindowContentRgn, &b);
  EXPECT_EQ(b.right - b.left, 240);
  EXPECT_EQ(b.bottom - b.top, 120);
  EXPECT_DOUBLE_EQ(host.pane->frame().w, 240);
  EXPECT_DOUBLE_EQ(host.pane->frame().h, 120);
  EXPECT_EQ(ed.g->Width(), 240);
}

}  // namespace

namespace {

TEST(CarbonView, ClicksInsideTheFieldAreTheFieldsAndDeactivationCancels) {
  cocoa::AutoreleasePool pool;
  MacEditor ed;
  CarbonHost host(ed.g, true);
  IRECT r(10, 10, 90, 30);
  ed.g->CreateTextEntry(ed.rec, ed.rec->GetText(), &r, "", nullptr);
  ASSERT_NE(ed.g->GetCarbonView()->GetTextEntryView(), nullptr);
  ed.rec->log.clear();
  EXPECT_EQ(host.mouse(carbon::kEventMouseDown, 20, 15), carbon::eventNotHandledErr);  // inside: left to the field
  EXPECT_TRUE(ed.rec->log.empty());
  EXPECT_NE(ed.g->GetCarbonView()->GetTextEntryView(), nullptr);
  host.key('a');
  // The window going to the background cancels the entry: nothing reaches the control.
  carbon::EventRef e;
  carbon::CreateEvent(nullptr, carbon::kEventClassWindow, carbon::kEventWindowDeactivated, 0, 0, &e);
  EXPECT_EQ(carbon::SendEventToEventTarget(e, carbon::GetWindowEventTarget(host.window)), carbon::eventNotHandledErr);
  carbon::ReleaseEvent(e);
  EXPECT_EQ(ed.g->GetCarbonView()->GetTextEntryView(), nullptr);
  EXPECT_TRUE(ed.rec->log.empty());
  // Keys reach the editor again.
  EXPECT_EQ(host.key('b', 11), carbon::noErr);
  EXPECT_EQ(ed.rec->log.back(), "key 16");
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// The redraw timer of both views: when it starts, and that it goes on while a popup menu is open.

namespace {

// A control that fills its rectangle with a colour the test changes.
class Swatch : public IControl {
 public:
  Swatch(IEffectBase* plug, IRECT r) : IControl(plug, r) {}
  bool Draw(IGraphics* g) override {
    g->FillIRect(&color, GetRECT());
    return true;
  }
  IColor color = COLOR_BLUE;
};

// The editor opened through either path into a window of its own.
struct EitherHost {
  std::unique_ptr<CocoaHost> cocoaHost;
  std::unique_ptr<CarbonHost> carbonHost;
  EitherHost(IGraphicsMac* g, bool carbonPath) {
    if (carbonPath) {
      carbonHost = std::make_unique<CarbonHost>(g, true);
    } else {
      cocoaHost = std::make_unique<CocoaHost>(g);
    }
  }
  uint32_t pixelAt(int x, int y) const {
    return carbonHost ? carbonHost->window->pixelAt(x, y) : cocoaHost->window->pixelAt(x, y);
  }
};

TEST(MacViews, TheCarbonTimerFiresAtOnceAndTheCocoaTimerAfterOnePeriod) {
  cocoa::AutoreleasePool pool;
  cocoa::useManualClock();
  struct Case {
    bool carbonPath;
    int ticksAtOnce;       // on the first run-loop pass, with no time gone by
    int ticksAfterPeriod;  // by one period (40 ms) later
  } cases[] = {{true, 1, 2}, {false, 0, 1}};
  for (const Case& c : cases) {
    MacEditor ed(100, 80);
    EitherHost host(ed.g, c.carbonPath);
    ed.rec->dirtyAsks = 0;
    const double opened = cocoa::clockNow();
    cocoa::RunLoop::current()->runUntilDate(opened);
    EXPECT_EQ(ed.rec->dirtyAsks, c.ticksAtOnce) << (c.carbonPath ? "carbon" : "cocoa");
    cocoa::RunLoop::current()->runUntilDate(opened + 0.04);
    EXPECT_EQ(ed.rec->dirtyAsks, c.ticksAfterPeriod) << (c.carbonPath ? "carbon" : "cocoa");
  }
  cocoa::useRealClock();
}

TEST(MacViews, TheEditorKeepsRepaintingWhileAPopupMenuIsOpen) {
  cocoa::AutoreleasePool pool;
  cocoa::useManualClock();
  cocoa::menus::clearScript();
  for (bool carbonPath : {true, false}) {
    const char* path = carbonPath ? "carbon" : "cocoa";
    MacEditor ed(100, 80);
    auto* swatch = new Swatch(&ed.plug, IRECT(10, 20, 30, 40));
    ed.g->AttachControl(swatch);
    EitherHost host(ed.g, carbonPath);
    // Two periods from the opening end on a tick: the first paint is on screen.
    cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 0.08);
    ASSERT_EQ(host.pixelAt(15, 25), 0x0000FFu) << path;

    // The plug-in changes the look just before the user opens a menu and keeps it open for 200 ms.
    swatch->color = COLOR_GREEN;
    swatch->SetDirty(false);
    ed.rec->dirtyAsks = 0;
    uint32_t seenWhileOpen = 0;
    int ticksWhileOpen = -1;
    cocoa::menus::setChooser([&](const cocoa::ShownMenu&) {
      seenWhileOpen = host.pixelAt(15, 25);
      ticksWhileOpen = ed.rec->dirtyAsks;
      return cocoa::menus::Choice{1};
    });
    cocoa::menus::setTrackingTime(0.2);
    IPopupMenu menu;
    menu.AddItem("one");
    menu.AddItem("two");
    IRECT r(10, 20, 30, 40);
    const double before = cocoa::clockNow();
    IPopupMenu* got = ed.g->CreateIPopupMenu(&menu, &r);
    cocoa::menus::setTrackingTime(0);
    cocoa::menus::setChooser(nullptr);

    EXPECT_EQ(got, &menu) << path;
    EXPECT_EQ(menu.GetChosenItemIdx(), 1) << path;
    EXPECT_NEAR(cocoa::clockNow() - before, 0.2, 1e-9) << path;
    EXPECT_EQ(ticksWhileOpen, 5) << path;
    EXPECT_EQ(seenWhileOpen, 0x00FF00u) << path;
  }
  cocoa::useRealClock();
}

}  // namespace
