// The window model the editor's macOS surface runs on: view geometry and display into a window's pixels, event
// routing, the text field's field editor and formatter, menus with the scripted chooser, panels, alerts, the
// workspace, bundles found by identifier, and the Carbon names over the same model.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "platform/cocoa/carbon.h"
#include "platform/cocoa/cfbundle.h"
#include "platform/cocoa/menu.h"
#include "platform/cocoa/panels.h"
#include "platform/cocoa/textfield.h"
#include "platform/graphics/graphics.h"
#include "platform/graphics/png.h"
#include "tests/guimac/guimac_support.h"

namespace {

using cocoa::Event;
using cocoa::Point;
using cocoa::Rect;

// A view that paints its bounds in one colour and records what reached it.
class PaintView : public cocoa::View {
 public:
  PaintView(Rect f, float r, float g, float b, bool flipped = false)
      : View(f), r_(r), g_(g), b_(b), flipped_(flipped) {}
  bool isFlipped() const override { return flipped_; }
  bool acceptsFirstResponder() override { return takesKeys; }
  void drawRect(Rect dirty) override {
    draws.push_back(dirty);
    auto* ctx = cocoa::graphicsContext::currentPort();
    ctx->setFillColor(platform::gfx::Color{r_, g_, b_, 1});
    ctx->fillRect(platform::gfx::Rect{0, 0, static_cast<float>(bounds().w), static_cast<float>(bounds().h / 2)});
  }
  void mouseDown(Event* e) override { log.push_back("down " + where(e)); }
  void mouseDragged(Event* e) override { log.push_back("drag " + where(e)); }
  void mouseUp(Event* e) override { log.push_back("up " + where(e)); }
  void scrollWheel(Event* e) override { log.push_back("wheel " + std::to_string(e->deltaY)); }
  void keyDown(Event* e) override {
    if (e->keyCode == 48) {
      passOn(e);  // Tab goes on
      return;
    }
    log.push_back("key " + std::to_string(e->keyCode));
  }
  void resignedFirstResponder() override {
    if (onResign) onResign();
  }
  std::string where(Event* e) const {
    const Point p = convertFromWindow(e->locationInWindow);
    return std::to_string(static_cast<int>(p.x)) + "," + std::to_string(static_cast<int>(p.y));
  }
  bool takesKeys = false;
  std::function<void()> onResign;
  std::vector<Rect> draws;
  std::vector<std::string> log;

 private:
  float r_, g_, b_;
  bool flipped_;
};

Event* mouse(cocoa::EventType t, double x, double y) {
  Event* e = Event::mouseEvent(t, Point{x, y}, 0);
  e->autorelease();
  return e;
}

Event* key(uint16_t code, std::u32string chars) {
  Event* e = Event::keyEvent(cocoa::kKeyDown, code, 0, chars, chars);
  e->autorelease();
  return e;
}

TEST(WindowModel, ViewGeometryConvertsBetweenFlippedAndUnflippedViews) {
  cocoa::AutoreleasePool pool;
  auto* w = new cocoa::Window(Rect{0, 0, 200, 100});
  auto* plain = new PaintView(Rect{10, 20, 50, 40}, 1, 0, 0);
  auto* flipped = new PaintView(Rect{5, 5, 20, 10}, 0, 1, 0, true);
  w->contentView()->addSubview(plain);
  plain->addSubview(flipped);
  struct Case {
    cocoa::View* view;
    Point local, window;
  } cases[] = {
      {plain, {0, 0}, {10, 20}},    {plain, {49, 39}, {59, 59}},
      {flipped, {0, 0}, {15, 35}},  // a flipped view's origin is its top left
      {flipped, {0, 10}, {15, 25}}, {flipped, {3, 4}, {18, 31}},
  };
  for (const auto& c : cases) {
    const Point win = c.view->convertToWindow(c.local);
    EXPECT_DOUBLE_EQ(win.x, c.window.x);
    EXPECT_DOUBLE_EQ(win.y, c.window.y);
    const Point back = c.view->convertFromWindow(c.window);
    EXPECT_DOUBLE_EQ(back.x, c.local.x);
    EXPECT_DOUBLE_EQ(back.y, c.local.y);
  }
  EXPECT_EQ(w->contentView()->hitTest(Point{16, 30}), flipped);
  EXPECT_EQ(w->contentView()->hitTest(Point{12, 22}), plain);
  EXPECT_EQ(w->contentView()->hitTest(Point{100, 90}), w->contentView());
  plain->setHidden(true);
  EXPECT_EQ(w->contentView()->hitTest(Point{16, 30}), w->contentView());
  plain->release();
  flipped->release();
  w->release();
}

TEST(WindowModel, InvalidAreasAreDrawnIntoTheBackingStoreAtTheEndOfARunLoopPass) {
  cocoa::AutoreleasePool pool;
  cocoa::useManualClock();
  auto* w = new cocoa::Window(Rect{0, 0, 100, 50});
  auto* v = new PaintView(Rect{10, 10, 20, 20}, 1, 0, 0);        // lower half painted red (y up)
  auto* f = new PaintView(Rect{50, 10, 20, 20}, 0, 0, 1, true);  // upper half blue (y down)
  w->contentView()->addSubview(v);
  w->contentView()->addSubview(f);
  v->setNeedsDisplayInRect(Rect{0, 0, 5, 5});
  v->setNeedsDisplayInRect(Rect{15, 15, 100, 100});  // joined and limited to the bounds
  EXPECT_DOUBLE_EQ(v->invalidRect().w, 20);
  f->setNeedsDisplay(true);
  cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 0.01);
  EXPECT_FALSE(v->needsDisplay());
  ASSERT_EQ(v->draws.size(), 1u);
  // Window rows count from the top: the view spans rows 20..39, its lower half rows 30..39.
  EXPECT_EQ(w->pixelAt(15, 35), 0xFF0000u);
  EXPECT_EQ(w->pixelAt(15, 25), 0xFFFFFFu);
  EXPECT_EQ(w->pixelAt(55, 25), 0x0000FFu);
  EXPECT_EQ(w->pixelAt(55, 35), 0xFFFFFFu);
  // Nothing invalid: nothing drawn.
  cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 0.01);
  EXPECT_EQ(v->draws.size(), 1u);
  const std::string png = testing::TempDir() + "window_model.png";
  EXPECT_TRUE(w->writePNG(png));
  platform::gfx::DecodedImage img;
  ASSERT_TRUE(platform::gfx::loadPngFile(png, img));
  EXPECT_EQ(img.width, 100);
  EXPECT_EQ(img.height, 50);
  std::remove(png.c_str());
  v->release();
  f->release();
  w->release();
  cocoa::useRealClock();
}

TEST(WindowModel, MouseEventsFollowThePressedViewAndKeysTheFirstResponder) {
  cocoa::AutoreleasePool pool;
  auto* w = new cocoa::Window(Rect{0, 0, 100, 100});
  auto* a = new PaintView(Rect{0, 0, 50, 100}, 1, 0, 0);
  auto* b = new PaintView(Rect{50, 0, 50, 100}, 0, 1, 0);
  w->contentView()->addSubview(a);
  w->contentView()->addSubview(b);
  w->sendEvent(mouse(cocoa::kLeftMouseDown, 10, 90));
  w->sendEvent(mouse(cocoa::kLeftMouseDragged, 70, 90));  // outside a: still a's
  w->sendEvent(mouse(cocoa::kLeftMouseUp, 70, 90));
  w->sendEvent(mouse(cocoa::kLeftMouseDown, 70, 10));
  w->sendEvent(mouse(cocoa::kLeftMouseUp, 70, 10));
  Event* wheel = mouse(cocoa::kScrollWheel, 60, 50);
  wheel->deltaY = -2;
  w->sendEvent(wheel);
  EXPECT_EQ(a->log, (std::vector<std::string>{"down 10,90", "drag 70,90", "up 70,90"}));
  EXPECT_EQ(b->log, (std::vector<std::string>{"down 20,10", "up 20,10", "wheel -2.000000"}));

  // Keys: nobody is first responder, so the window keeps them for the host.
  w->sendEvent(key(0, U"a"));
  EXPECT_EQ(w->unhandledEvents().size(), 1u);
  EXPECT_FALSE(w->makeFirstResponder(a));  // a refuses
  a->takesKeys = true;
  EXPECT_TRUE(w->makeFirstResponder(a));
  w->sendEvent(key(0, U"a"));
  w->sendEvent(key(48, U"\t"));  // passed on through the content view to the window
  EXPECT_EQ(a->log.back(), "key 0");
  EXPECT_EQ(w->unhandledEvents().size(), 2u);
  // a's resignation takes b out of the window: b is not kept as the responder, and the window keeps the keys.
  b->takesKeys = true;
  a->onResign = [b] { b->removeFromSuperview(); };
  w->makeFirstResponder(b);
  EXPECT_EQ(w->firstResponder(), nullptr);
  w->sendEvent(key(1, U"s"));
  EXPECT_EQ(w->unhandledEvents().size(), 3u);
  a->release();
  b->release();
  w->release();
}

class LengthAndDigits : public cocoa::Formatter {
 public:
  bool isPartialStringValid(const std::string& s) override {
    if (s.size() > 4) return false;
    for (char c : s)
      if (c < '0' || c > '9') return false;
    return true;
  }
  cocoa::String* stringForObjectValue(cocoa::Object* value) override { return value->as<cocoa::String>(); }
  bool getObjectValue(cocoa::Object** value, const std::string& text, std::string*) override {
    *value = new cocoa::String(text);
    return true;
  }
};

class EndRecorder : public cocoa::TextFieldDelegate {
 public:
  void controlTextDidEndEditing(cocoa::TextField* f) override { ended.push_back(f->stringValue()); }
  std::vector<std::string> ended;
};

TEST(WindowModel, TextFieldEditsThroughItsFormatterAndTellsTheDelegateOnReturn) {
  cocoa::AutoreleasePool pool;
  auto* w = new cocoa::Window(Rect{0, 0, 100, 100});
  auto* field = new cocoa::TextField(Rect{0, 0, 80, 20});
  auto* fmt = new LengthAndDigits;
  field->setFormatter(fmt);
  fmt->release();
  EndRecorder rec;
  field->setDelegate(&rec);
  field->setStringValue("12");
  w->contentView()->addSubview(field);
  ASSERT_TRUE(w->makeFirstResponder(field));
  // The whole text is selected: the first key replaces it.
  for (char32_t c : std::u32string(U"7x8.9012")) w->sendEvent(key(0, std::u32string(1, c)));
  EXPECT_EQ(field->stringValue(), "7890");
  EXPECT_EQ(field->refusedKeys(), (std::vector<std::string>{"x", ".", "1", "2"}));
  w->sendEvent(key(51, U"\x7f"));
  EXPECT_EQ(field->stringValue(), "789");
  w->sendEvent(key(36, U"\r"));
  EXPECT_EQ(rec.ended, (std::vector<std::string>{"789"}));
  EXPECT_FALSE(field->isEditing());
  // Losing first responder ends an edit too.
  ASSERT_TRUE(w->makeFirstResponder(nullptr));
  ASSERT_TRUE(w->makeFirstResponder(field));
  w->makeFirstResponder(nullptr);
  EXPECT_EQ(rec.ended.size(), 2u);
  field->release();
  w->release();
}

// A text too wide for a field that is not being edited is shown from its start and cut at its tail, ending in an
// ellipsis where the field truncates its tail; the field's alignment does not move it.
TEST(WindowModel, ATextTooWideForItsFieldIsCutAtTheTail) {
  cocoa::AutoreleasePool pool;
  auto* w = new cocoa::Window(Rect{0, 0, 200, 60});
  auto field = [&](double y, const char* text, int alignment) {
    auto* f = new cocoa::TextField(Rect{10, y, 90, 20});
    f->drawsText = true;
    f->bezeled = f->bordered = false;
    f->truncatesTail = true;
    f->alignment = alignment;
    f->setStringValue(text);
    w->contentView()->addSubview(f);
    f->release();
  };
  field(35, "Warm Analog Pad Strings", cocoa::kTextAlignmentCenter);  // rows 5..24
  field(5, "Warm", cocoa::kTextAlignmentLeft);                        // rows 35..54
  w->displayIfNeeded();
  auto dark = [&](int x, int y) { return (w->pixelAt(x, y) & 0xFF) < 128; };
  // The long text starts as "Warm" does.
  for (int x = 10; x < 40; ++x)
    for (int y = 0; y < 20; ++y) ASSERT_EQ(dark(x, 5 + y), dark(x, 35 + y)) << x << ", " << y;
  // It ends in the dots of an ellipsis: its last ink is no taller than a dot.
  int last = -1;
  for (int x = 10; x < 100; ++x)
    for (int y = 5; y < 25; ++y)
      if (dark(x, y)) last = x;
  ASSERT_GT(last, 80) << "the text does not reach the tail";
  int rows = 0;
  for (int y = 5; y < 25; ++y) rows += dark(last, y) || dark(last - 1, y);
  EXPECT_LE(rows, 3) << "no ellipsis at the tail";
  w->release();
}

class Receiver : public cocoa::View, public cocoa::MenuActionReceiver {
 public:
  void menuItemChosen(cocoa::MenuItem* item) override { chosen.push_back(item->title()); }
  std::vector<std::string> chosen;
};

TEST(WindowModel, ContextMenusAskTheScriptedChooser) {
  cocoa::AutoreleasePool pool;
  cocoa::menus::clearScript();
  cocoa::menus::clearShown();
  auto* top = new cocoa::Menu;
  top->autoenablesItems = false;
  auto* sub = new cocoa::Menu;
  auto item = [](const char* t) {
    auto* i = new cocoa::MenuItem(t, true);
    i->autorelease();
    return i;
  };
  top->addItem(item("one"));
  auto* off = item("off");
  off->enabled = false;
  top->addItem(off);
  top->addItem(cocoa::MenuItem::separator());
  top->itemAt(2)->release();
  auto* holder = new cocoa::MenuItem("more", false);
  holder->setSubmenu(sub);
  top->addItem(holder);
  holder->release();
  sub->addItem(item("a"));
  sub->addItem(item("b"));
  sub->addItem(item("c"));
  auto* recv = new Receiver;

  struct Case {
    cocoa::menus::Choice script;
    const char* picked;  // null: dismissed
  } cases[] = {
      {{3, 2}, "c"},
      {{0}, "one"},
      {{}, nullptr},
      {{1}, nullptr} /* disabled */,
      {{2}, nullptr} /* separator */,
      {{3}, nullptr} /* submenu holder */,
      {{9}, nullptr},
  };
  for (const auto& c : cases) {
    cocoa::menus::scriptChoice(c.script);
    cocoa::MenuItem* got = cocoa::Menu::popUpContextMenu(top, nullptr, recv);
    if (c.picked) {
      ASSERT_NE(got, nullptr);
      EXPECT_EQ(got->title(), c.picked);
      EXPECT_EQ(recv->chosen.back(), c.picked);
    } else {
      EXPECT_EQ(got, nullptr);
    }
  }
  EXPECT_EQ(recv->chosen.size(), 2u);
  // Without a scripted answer the menu is dismissed.
  EXPECT_EQ(cocoa::Menu::popUpContextMenu(top, nullptr, recv), nullptr);
  const auto shown = cocoa::menus::shownMenus();
  ASSERT_EQ(shown.size(), 8u);
  EXPECT_EQ(cocoa::menus::describe(shown[0]),
            "\"one\"\n\"off\" disabled\n----\n\"more\" >\n  \"a\"\n  \"b\"\n  \"c\"\n");
  EXPECT_EQ(sub->supermenu(), top);
  recv->release();
  sub->release();
  top->release();
}

TEST(WindowModel, PanelsAlertsAndTheWorkspaceAnswerAsScripted) {
  cocoa::panels::clearShown();
  auto* save = new cocoa::SavePanel;
  save->allowedFileTypes = {"syx", "mid"};
  cocoa::panels::scriptChoice("/tmp/x.syx");
  EXPECT_EQ(save->runModal("~/Desktop", "bank.syx"), cocoa::kModalResponseOK);
  EXPECT_EQ(save->url(), "/tmp/x.syx");
  EXPECT_EQ(save->runModal("/a", ""), cocoa::kModalResponseCancel);  // nothing scripted
  EXPECT_EQ(save->url(), "");
  save->release();
  auto panels = cocoa::panels::shownPanels();
  ASSERT_EQ(panels.size(), 2u);
  EXPECT_FALSE(panels[0].open);
  EXPECT_EQ(panels[0].directory, "~/Desktop");
  EXPECT_EQ(panels[0].types, (std::vector<std::string>{"syx", "mid"}));

  cocoa::alerts::clearShown();
  unsigned long response = 99;
  cocoa::alerts::scriptResponse(cocoa::kAlertOtherResponse);
  cocoa::userNotificationDisplayAlert(0, 1, "Head", "Body", nullptr, "No", nullptr, &response);
  EXPECT_EQ(response, 3u);  // there is no third button to press: no answer
  cocoa::alerts::scriptResponse(cocoa::kAlertAlternateResponse);
  cocoa::userNotificationDisplayAlert(0, 1, "Head", "Body", "Yes", "No", nullptr, &response);
  EXPECT_EQ(response, 1u);
  EXPECT_EQ(cocoa::alerts::shownAlerts().back().defaultButton, "Yes");

  struct {
    const char* text;
    bool valid;
  } urls[] = {{"http://example.org/a?b=1", true}, {"has space", false}, {"", false}, {"file:///tmp", true}};
  for (const auto& u : urls) {
    cocoa::URL* url = cocoa::URL::withString(u.text);
    EXPECT_EQ(url != nullptr, u.valid) << u.text;
    cocoa::releaseObject(url);
  }
  cocoa::URL* file = cocoa::URL::fileURLWithPath("/tmp/a b");
  EXPECT_EQ(file->absoluteString(), "file:///tmp/a%20b");
  cocoa::workspace::clearOpened();
  EXPECT_TRUE(cocoa::workspace::openURL(file));
  cocoa::workspace::setOpenSucceeds(false);
  EXPECT_FALSE(cocoa::workspace::openURL(file));
  cocoa::workspace::setOpenSucceeds(true);
  EXPECT_EQ(cocoa::workspace::openedURLs().size(), 2u);
  file->release();
}

TEST(WindowModel, BundlesAreFoundByIdentifierAndResourcesInSubfolders) {
  const std::string root = testing::TempDir() + "guimac_bundle_" + std::to_string(getpid()) + ".vst";
  const std::string res = root + "/Contents/Resources/resources/img";
  ASSERT_EQ(std::system(("mkdir -p '" + res + "'").c_str()), 0);
  std::ofstream(root + "/Contents/Info.plist")
      << "<plist><dict><key>CFBundleIdentifier</key><string>org.example.test</string></dict></plist>";
  std::ofstream(res + "/knob.png") << "x";
  std::ofstream(root + "/Contents/Resources/top.tea") << "y";
  cocoa::Bundle::registerIdentifier("org.example.test", root);
  cocoa::Bundle* b = cocoa::Bundle::withIdentifier("org.example.test");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->identifier(), "org.example.test");
  EXPECT_EQ(b->pathForResource("knob", "png"), b->bundlePath() + "/Contents/Resources/resources/img/knob.png");
  EXPECT_EQ(b->pathForResource("top", "tea"), b->bundlePath() + "/Contents/Resources/top.tea");
  EXPECT_EQ(b->pathForResource("knob", "jpg"), "");
  EXPECT_EQ(cocoa::Bundle::withIdentifier("org.example.none"), nullptr);
  std::system(("rm -rf '" + root + "'").c_str());
}

// ---------------------------------------------------------------------------------------------------------------
// Carbon

struct HandlerLog {
  std::vector<std::string> lines;
  bool takeIt = true;
  bool callNext = false;
};

carbon::OSStatus logHandler(carbon::EventHandlerCallRef call, carbon::EventRef e, void* data) {
  auto* log = static_cast<HandlerLog*>(data);
  log->lines.push_back("kind " + std::to_string(carbon::GetEventKind(e)));
  if (log->callNext) {
    const carbon::OSStatus r = carbon::CallNextEventHandler(call, e);
    log->lines.push_back("next " + std::to_string(r));
  }
  return log->takeIt ? carbon::noErr : carbon::eventNotHandledErr;
}

TEST(CarbonModel, HandlersRunNewestFirstAndUnhandledEventsClimbToTheWindow) {
  carbon::WindowRef w = nullptr;
  carbon::Rect bounds{100, 100, 300, 400};
  ASSERT_EQ(carbon::CreateNewWindow(carbon::kDocumentWindowClass, carbon::kWindowCompositingAttribute, &bounds, &w),
            carbon::noErr);
  carbon::Rect b;
  carbon::GetWindowBounds(w, carbon::kWindowContentRgn, &b);
  EXPECT_EQ(b.left, 100);
  EXPECT_EQ(b.top, 100);
  EXPECT_EQ(b.right, 400);
  carbon::ControlRef pane = nullptr;
  carbon::Rect pr{0, 0, 100, 200};
  ASSERT_EQ(carbon::CreateUserPaneControl(w, &pr, 0x26, &pane), carbon::noErr);

  HandlerLog older, newer, windowLog;
  const carbon::EventTypeSpec keys[] = {{carbon::kEventClassKeyboard, carbon::kEventRawKeyDown}};
  carbon::EventHandlerRef h1, h2, h3;
  carbon::InstallEventHandler(carbon::GetControlEventTarget(pane), logHandler, 1, keys, &older, &h1);
  carbon::InstallEventHandler(carbon::GetControlEventTarget(pane), logHandler, 1, keys, &newer, &h2);
  carbon::InstallEventHandler(carbon::GetWindowEventTarget(w), logHandler, 1, keys, &windowLog, &h3);
  carbon::EventRef e;
  carbon::CreateEvent(nullptr, carbon::kEventClassKeyboard, carbon::kEventRawKeyDown, 0, 0, &e);

  newer.callNext = true;
  EXPECT_EQ(carbon::SendEventToEventTarget(e, carbon::GetControlEventTarget(pane)), carbon::noErr);
  EXPECT_EQ(newer.lines, (std::vector<std::string>{"kind 1", "next 0"}));
  EXPECT_EQ(older.lines.size(), 1u);
  EXPECT_TRUE(windowLog.lines.empty());

  // Nobody on the pane takes it: it climbs to the window, whose handler also refuses: not handled.
  newer = HandlerLog{{}, false, false};
  older = HandlerLog{{}, false, false};
  windowLog.takeIt = false;
  EXPECT_EQ(carbon::SendEventToEventTarget(e, carbon::GetControlEventTarget(pane)), carbon::eventNotHandledErr);
  EXPECT_EQ(windowLog.lines.size(), 1u);
  carbon::RemoveEventHandler(h2);
  newer.lines.clear();
  carbon::SendEventToEventTarget(e, carbon::GetControlEventTarget(pane));
  EXPECT_TRUE(newer.lines.empty());
  carbon::ReleaseEvent(e);
  carbon::RemoveEventHandler(h1);
  carbon::RemoveEventHandler(h3);

  // Window mouse coordinates (top left, y down) into the pane's.
  const carbon::HIRect frame{{10, 20}, {100, 200}};
  carbon::HIViewSetFrame(pane, &frame);
  carbon::HIPoint p{15, 30};
  carbon::HIPointConvert(&p, carbon::kHICoordSpaceWindow, w, carbon::kHICoordSpaceView, pane);
  EXPECT_DOUBLE_EQ(p.x, 5);
  EXPECT_DOUBLE_EQ(p.y, 10);
  carbon::DisposeWindow(w);
}

void countTick(carbon::EventLoopTimerRef, void* data) {
  ++*static_cast<int*>(data);
}

TEST(CarbonModel, EventLoopTimersFireFirstAfterTheirDelayThenAtTheirInterval) {
  cocoa::useManualClock();
  struct Case {
    double firstFire;
    int atOnce;  // ticks on a pass with no time gone by
    int afterOneSecond;
  } cases[] = {
      {0, 1, 26},    // at once, then at 0.04 .. 1.0
      {0.5, 0, 13},  // at 0.5, 0.54 .. 0.98
      {-1, 1, 26},   // a negative delay is no delay
  };
  for (const Case& c : cases) {
    int ticks = 0;
    carbon::EventLoopTimerRef t = nullptr;
    const double start = cocoa::clockNow();
    ASSERT_EQ(carbon::InstallEventLoopTimer(carbon::GetMainEventLoop(), c.firstFire, carbon::kEventDurationSecond / 25,
                                            countTick, &ticks, &t),
              carbon::noErr);
    cocoa::RunLoop::current()->runUntilDate(start);
    EXPECT_EQ(ticks, c.atOnce) << c.firstFire;
    cocoa::RunLoop::current()->runUntilDate(start + 1.0 + 1e-6);
    EXPECT_EQ(ticks, c.afterOneSecond) << c.firstFire;
    carbon::RemoveEventLoopTimer(t);
    cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 0.2);
    EXPECT_EQ(ticks, c.afterOneSecond) << c.firstFire;
  }
  cocoa::useRealClock();
}

TEST(CarbonModel, PopUpMenuSelectAnswersTheMenuIdAndItemOfThePick) {
  cocoa::menus::clearScript();
  carbon::MenuRef top, sub;
  const carbon::MenuID topId = carbon::UniqueMenuID();
  carbon::CreateNewMenu(topId, 32, &top);
  carbon::InsertMenu(top, carbon::kInsertHierarchicalMenu);
  const carbon::MenuID subId = carbon::UniqueMenuID();
  EXPECT_NE(subId, topId);
  carbon::CreateNewMenu(subId, 32, &sub);
  carbon::InsertMenu(sub, carbon::kInsertHierarchicalMenu);
  auto* t1 = new cocoa::String("1: first");
  carbon::InsertMenuItemTextWithCFString(top, t1, 0, 0, 0);
  carbon::AppendMenuItemTextWithCFString(top, nullptr, carbon::kMenuItemAttrSeparator, 0, nullptr);
  carbon::InsertMenuItemTextWithCFString(top, t1, 2, carbon::kMenuItemAttrDisabled, 0);
  carbon::InsertMenuItemTextWithCFString(top, t1, 3, 0, 0);
  carbon::SetMenuItemHierarchicalMenu(top, 4, sub);
  carbon::InsertMenuItemTextWithCFString(sub, t1, 0, 0, 0);
  carbon::InsertMenuItemTextWithCFString(sub, t1, 1, 0, 0);
  t1->release();
  carbon::SetMenuItemRefCon(sub, 0, 1234);
  struct Case {
    cocoa::menus::Choice pick;
    carbon::SInt32 result;
  } cases[] = {{{0}, (topId << 16) | 1}, {{3, 1}, (subId << 16) | 2}, {{2}, 0}, {{1}, 0}, {{}, 0}};
  for (const auto& c : cases) {
    cocoa::menus::scriptChoice(c.pick);
    EXPECT_EQ(carbon::PopUpMenuSelect(top, 10, 20, 0), c.result);
  }
  uintptr_t ref = 0;
  carbon::GetMenuItemRefCon(carbon::GetMenuHandle(subId), 0, &ref);
  EXPECT_EQ(ref, 1234u);
  carbon::DeleteMenu(subId);
  carbon::DeleteMenu(topId);
  EXPECT_EQ(carbon::GetMenuHandle(subId), nullptr);
  carbon::ReleaseMenu(sub);
  carbon::ReleaseMenu(top);
}

TEST(CarbonModel, EditTextControlTypesReplacesTheSelectionAndHandsOutItsText) {
  carbon::WindowRef w = nullptr;
  carbon::Rect bounds{0, 0, 100, 100};
  carbon::CreateNewWindow(carbon::kDocumentWindowClass, carbon::kWindowCompositingAttribute, &bounds, &w);
  carbon::ControlRef field = nullptr;
  carbon::Rect fr{10, 10, 30, 90};
  ASSERT_EQ(carbon::CreateEditUnicodeTextControl(w, &fr, nullptr, false, nullptr, &field), carbon::noErr);
  auto* initial = new cocoa::String("0.50");
  carbon::SetControlData(field, 0, carbon::kControlEditTextCFStringTag, sizeof initial, &initial);
  initial->release();
  carbon::ControlEditTextSelectionRec all{0, 32767};
  carbon::SetControlData(field, 0, carbon::kControlEditTextSelectionTag, sizeof all, &all);
  carbon::SetKeyboardFocus(w, field, carbon::kControlFocusNextPart);
  carbon::SelectWindow(w);
  auto type = [](char c, carbon::UInt32 code = 0) { return guimactest::pressKey(c, code); };
  EXPECT_EQ(type('7'), carbon::noErr);
  EXPECT_EQ(type('5'), carbon::noErr);
  EXPECT_EQ(type(8), carbon::noErr);
  EXPECT_EQ(type('2'), carbon::noErr);
  EXPECT_EQ(type(13), carbon::eventNotHandledErr);  // Return is for whoever handles the field
  cocoa::String* text = nullptr;
  ASSERT_EQ(carbon::GetControlData(field, 0, carbon::kControlEditTextCFStringTag, sizeof text, &text, nullptr),
            carbon::noErr);
  EXPECT_EQ(text->utf8(), "72");
  text->release();
  carbon::DisposeControl(field);
  EXPECT_EQ(carbon::GetKeyboardFocus(w), nullptr);
  carbon::DisposeWindow(w);
}

struct DrawSeen {
  std::vector<std::string> lines;
};

carbon::OSStatus drawHandler(carbon::EventHandlerCallRef, carbon::EventRef e, void* data) {
  auto* seen = static_cast<DrawSeen*>(data);
  carbon::HIShapeRef shape = nullptr;
  carbon::CGContextRef ctx = nullptr;
  carbon::GrafPtr port = nullptr;
  const bool hasShape = carbon::GetEventParameter(e, carbon::kEventParamShape, carbon::typeHIShapeRef, nullptr,
                                                  sizeof shape, nullptr, &shape) == carbon::noErr;
  carbon::GetEventParameter(e, carbon::kEventParamCGContextRef, carbon::typeCGContextRef, nullptr, sizeof ctx, nullptr,
                            &ctx);
  carbon::GetEventParameter(e, carbon::kEventParamGrafPort, carbon::typeGrafPtr, nullptr, sizeof port, nullptr, &port);
  std::string line = hasShape ? "shape" : "noshape";
  if (hasShape) {
    carbon::HIRect r;
    carbon::HIShapeGetBounds(shape, &r);
    line += " " + std::to_string(static_cast<int>(r.origin.x)) + "," + std::to_string(static_cast<int>(r.origin.y)) +
            "," + std::to_string(static_cast<int>(r.size.width)) + "," +
            std::to_string(static_cast<int>(r.size.height));
  }
  if (ctx) {
    ctx->setFillColor(platform::gfx::Color{1, 0, 0, 1});
    ctx->fillRect(platform::gfx::Rect{0, 0, 100, 100});
  }
  if (port) line += " port";
  seen->lines.push_back(line);
  return carbon::noErr;
}

TEST(CarbonModel, CompositedViewsDrawFromInvalidAreasAndOthersOnUpdateControls) {
  cocoa::AutoreleasePool pool;
  for (carbon::UInt32 attrs : {carbon::kWindowCompositingAttribute, 0u}) {
    carbon::WindowRef w = nullptr;
    carbon::Rect bounds{0, 0, 60, 50};  // top, left, bottom, right
    carbon::CreateNewWindow(carbon::kDocumentWindowClass, attrs, &bounds, &w);
    carbon::ControlRef pane = nullptr;
    carbon::Rect pr{0, 0, 60, 50};
    carbon::CreateUserPaneControl(w, &pr, 0x26, &pane);
    DrawSeen seen;
    const carbon::EventTypeSpec draw[] = {{carbon::kEventClassControl, carbon::kEventControlDraw}};
    carbon::InstallEventHandler(carbon::GetControlEventTarget(pane), drawHandler, 1, draw, &seen, nullptr);
    if (attrs) {
      w->displayIfNeeded();  // the new pane's first, whole display
      seen.lines.clear();
      carbon::drawLog().clear();
      for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 50; ++x)
          for (int c = 1; c < 4; ++c) w->backing()->pixels()[(y * 50 + x) * 4 + c] = 0xFF;  // back to white
      carbon::HIRect r{{5, 6}, {7, 8}};
      carbon::HIViewSetNeedsDisplayInRect(pane, &r, true);
      w->displayIfNeeded();
      EXPECT_EQ(seen.lines, (std::vector<std::string>{"shape 5,6,7,8"}));
      // The context's origin is the view's top left and it is clipped to the invalid area.
      EXPECT_EQ(w->pixelAt(6, 7), 0xFF0000u);
      EXPECT_EQ(w->pixelAt(1, 1), 0xFFFFFFu);
      EXPECT_EQ(w->pixelAt(6, 53), 0xFFFFFFu);
    } else {
      carbon::UpdateControls(w, nullptr);
      // The content view and the pane each get a draw event with the port.
      EXPECT_EQ(seen.lines, (std::vector<std::string>{"noshape port"}));
    }
    carbon::DisposeWindow(w);
  }
}

// A context begun on a port draws into the window until it ends, and does no harm when its holder resizes or
// disposes of the window first. Its end shows the port's area (the window reports it drawn, which puts it on the
// screen); drawn into a store that a resize replaced, it shows nothing.
TEST(CarbonModel, APortContextOutlivesAResizeAndItsWindow) {
  cocoa::AutoreleasePool pool;
  carbon::WindowRef w = nullptr;
  carbon::Rect bounds{0, 0, 60, 50}, bigger{0, 0, 90, 80};
  carbon::CreateNewWindow(carbon::kDocumentWindowClass, 0, &bounds, &w);
  for (int step = 0; step < 3; ++step) {
    if (step < 2) w->takeDisplayedRects();
    carbon::CGContextRef ctx = nullptr;
    ASSERT_EQ(carbon::QDBeginCGContext(carbon::GetWindowPort(w), &ctx), carbon::noErr);
    if (step == 1) carbon::SetWindowBounds(w, carbon::kWindowContentRgn, &bigger);
    if (step == 2) carbon::DisposeWindow(w);
    ctx->setFillColor(platform::gfx::Color{1, 0, 0, 1});
    ctx->fillRect(platform::gfx::Rect{0, 0, 10, 10});  // the bottom left corner
    EXPECT_EQ(carbon::QDEndCGContext(w, &ctx), carbon::noErr);
    EXPECT_EQ(ctx, nullptr);
    if (step == 0) {
      EXPECT_EQ(w->pixelAt(5, 55), 0xFF0000u);
      const std::vector<cocoa::Rect> shown = w->takeDisplayedRects();
      ASSERT_EQ(shown.size(), 1u) << "the port's area was not shown when its context ended";
      EXPECT_EQ((std::vector<double>{shown[0].x, shown[0].y, shown[0].w, shown[0].h}),
                (std::vector<double>{0, 0, 50, 60}));
    }
    if (step == 1) {
      EXPECT_EQ(w->pixelAt(5, 85), 0xFFFFFFu);  // drawn into the store the resize replaced
      EXPECT_TRUE(w->takeDisplayedRects().empty());
    }
  }
}

// QuickDraw's rectangles hold 16-bit edges: a window edge beyond them reports the range's end, never a wrapped one.
TEST(CarbonModel, WindowEdgesBeyondTheShortRangeStandAtItsEnds) {
  cocoa::AutoreleasePool pool;
  carbon::WindowRef w = nullptr;
  carbon::Rect bounds{0, 0, 60, 50};  // top, left, bottom, right: 50 wide, 60 high
  ASSERT_EQ(carbon::CreateNewWindow(carbon::kDocumentWindowClass, 0, &bounds, &w), carbon::noErr);
  const double screenTop = cocoa::screen::height();
  struct Case {
    double x, y;             // the content's origin (bottom left, y up)
    std::vector<int> edges;  // left, top, right, bottom
  } cases[] = {
      {34950, -35000, {32767, 32767, 32767, 32767}},  // the right edge at 35,000 is not -30,536
      {-35050, screenTop + 35000, {-32768, -32768, -32768, -32768}},
      {32740, screenTop - 150, {32740, 90, 32767, 150}},  // across the end
  };
  for (const Case& c : cases) {
    w->setContentOrigin(c.x, c.y);
    carbon::Rect b;
    ASSERT_EQ(carbon::GetWindowBounds(w, carbon::kWindowContentRgn, &b), carbon::noErr);
    EXPECT_EQ((std::vector<int>{b.left, b.top, b.right, b.bottom}), c.edges) << c.x << ", " << c.y;
  }
  carbon::DisposeWindow(w);
}

}  // namespace

namespace {

// The one-to-one copy the editor's bitmap takes must land exactly where the general image drawing puts it.
TEST(CarbonModel, BitmapImagesDrawnOneToOneMatchTheGeneralImageDrawing) {
  const int W = 37, H = 23;
  std::vector<uint8_t> srcPixels(W * H * 4);
  for (size_t i = 0; i < srcPixels.size(); ++i) srcPixels[i] = static_cast<uint8_t>(i * 7 + 3);
  platform::gfx::Context* src = platform::gfx::Context::createOverMemory(srcPixels.data(), W, H, W * 4);
  struct Case {
    float tx, ty, sy;  // transform after creation: translate, then scale y
    platform::gfx::Rect clip;
  } cases[] = {
      {0, 0, 1, {0, 0, 60, 40}},     // the port's own space (y up)
      {5, 3, 1, {0, 0, 60, 40}},     // moved by whole pixels
      {4, 40, -1, {0, 0, 60, 40}},   // flipped, as a composited view's context is
      {2, 1, 1, {10, 5, 12, 9}},     // clipped
      {-6, -4, 1, {0, 0, 60, 40}},   // partly outside
      {0.5f, 0, 1, {0, 0, 60, 40}},  // half a pixel: the general path
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> a(60 * 40 * 4, 0x11), b(60 * 40 * 4, 0x11);
    platform::gfx::Context* ca = platform::gfx::Context::createOverMemory(a.data(), 60, 40, 60 * 4);
    platform::gfx::Context* cb = platform::gfx::Context::createOverMemory(b.data(), 60, 40, 60 * 4);
    for (auto* ctx : {ca, cb}) {
      ctx->translate(c.tx, c.ty);
      ctx->scale(1, c.sy);
      ctx->clipToRect(c.clip);
    }
    carbon::CGImageRef img = carbon::CGBitmapContextCreateImage(src);
    carbon::CGRect r;
    r.size.width = W;
    r.size.height = H;
    carbon::CGContextDrawImage(ca, r, img);
    carbon::CGImageRelease(img);
    platform::gfx::ImageView v;
    v.pixels = srcPixels.data();
    v.width = W;
    v.height = H;
    v.rowBytes = W * 4;
    cb->drawImage(v, platform::gfx::Rect{0, 0, static_cast<float>(W), static_cast<float>(H)});
    EXPECT_EQ(a, b) << c.tx << "," << c.ty << " " << c.sy;
    delete ca;
    delete cb;
  }
  delete src;
}

}  // namespace

namespace {

// The plug-in's own bundle answers to its identifier once its library is loaded, as the editor looks it up.
TEST(WindowModel, ThePluginBundleIsFoundByItsIdentifierOnceLoaded) {
  const char* build = std::getenv("VEXMIR_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  const std::string bundle = std::string(build) + "/Vexmir Editor.vst";
  void* lib = dlopen((bundle + "/Contents/Linux/Vexmir Editor.so").c_str(), RTLD_LAZY | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  cocoa::Bundle* b = cocoa::Bundle::withIdentifier("com.Pellacor.vst.Vexmir Editor");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->bundlePath().substr(b->bundlePath().size() - 18), "/Vexmir Editor.vst");
  EXPECT_EQ(b->identifier(), "com.Pellacor.vst.Vexmir Editor");
  // The library stays loaded: its process-wide objects live as long as the process.
}

}  // namespace
