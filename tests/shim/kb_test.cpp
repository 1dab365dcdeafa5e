#include <dirent.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KIT/shim/shim-internal.h"
#include "KIT/shim/shim.h"
#include "platform/cocoa/cursor.h"
#include "platform/cocoa/keyboard.h"
#include "platform/cocoa/view.h"
#include "tests/raster/png_util.h"

namespace {

using cocoa::kAlternateKeyMask;
using cocoa::kCommandKeyMask;
using cocoa::kControlKeyMask;
using cocoa::kShiftKeyMask;

struct KeyCase {
  const char* what;
  uint16_t keyCode;
  uint32_t modifiers;
  std::u32string chars, ignoring;
  int mode;
  int wantKey, wantFlags;
};

class ShimKeys : public ::testing::Test {
 protected:
  void TearDown() override {
    SHIM_EnableRightClickEmulate(TRUE);
    cocoa::keyboard::setCurrentLayout(cocoa::keyboard::usLayout());
  }
  static void check(const KeyCase& c) {
    cocoa::Event* e = cocoa::Event::keyEvent(cocoa::kKeyDown, c.keyCode, c.modifiers, c.chars, c.ignoring);
    int flags = -1;
    EXPECT_EQ(SHIM_MacKeyToWindowsKeyEx(e, &flags, c.mode), c.wantKey) << c.what;
    EXPECT_EQ(flags, c.wantFlags) << c.what;
    e->release();
  }
};

TEST_F(ShimKeys, KeyEventsBecomeVirtualKeysWithFlags) {
  const KeyCase cases[] = {
      {"Shift+Tab", 48, kShiftKeyMask, U"\x19", U"\x19", 0, 9, FVIRTKEY | FSHIFT},
      {"A", 0, 0, U"a", U"a", 0, 'A', FVIRTKEY},
      {"Shift+minus", 27, kShiftKeyMask, U"_", U"-", 0, 0x2D, 0},
      {"keypad Enter", 76, 0, U"\x03", U"\x03", 0, 0x800D, FVIRTKEY},
      {"F13", 105, 0, U"", U"", 0, 44, FVIRTKEY},
      {"no characters", 110, 0, U"", U"", 0, 1134, FVIRTKEY},
      {"left arrow", 123, kShiftKeyMask, U"\xF702", U"\xF702", 0, 37, FVIRTKEY | FSHIFT},
      {"delete backwards", 51, 0, U"\x7F", U"\x7F", 0, 8, FVIRTKEY},
      {"keypad 9", 92, 0, U"9", U"9", 0, 105, FVIRTKEY},
      {"F1", 122, 0, U"", U"", 0, 112, FVIRTKEY},
      {"Command+A", 0, kCommandKeyMask, U"a", U"a", 0, 'A', FVIRTKEY | FCONTROL},
      {"Option+E", 14, kAlternateKeyMask, U"\u00B4", U"e", 0, 'E', FVIRTKEY | FALT},
      {"Control+A, emulation on", 0, kControlKeyMask, U"\x01", U"a", 0, 'A', FVIRTKEY},
      {"letter beyond ASCII", 41, 0, U"\u00E9", U"\u00E9", 0, 0xE9, FVIRTKEY},
      {"space", 49, kShiftKeyMask, U" ", U" ", 0, 32, FVIRTKEY | FSHIFT},
      {"mode 1 uses the typed character", 24, kShiftKeyMask, U"+", U"=", 1, '+', 0},
      {"mode 1 layout character", 33, kShiftKeyMask, U"", U"", 1, '[', 0},
  };
  for (const KeyCase& c : cases) check(c);
  SHIM_EnableRightClickEmulate(FALSE);
  check({"Control+A, emulation off", 0, kControlKeyMask, U"\x01", U"a", 0, 'A', FVIRTKEY | FLWIN});
}

TEST_F(ShimKeys, DeadKeysAndMissingLayouts) {
  auto layout = std::make_shared<cocoa::KeyboardLayout>(*cocoa::keyboard::usLayout());
  layout->deadKeys[33] = U'^';
  cocoa::keyboard::setCurrentLayout(layout);
  check({"dead circumflex", 33, 0, U"", U"", 1, '^', 0});
  cocoa::keyboard::setCurrentLayout(nullptr);
  check({"no layout", 33, 0, U"", U"", 1, 33 + 1024, FVIRTKEY});
  int flags = 5;
  EXPECT_EQ(SHIM_MacKeyToWindowsKey(nullptr, &flags), 0);
  EXPECT_EQ(flags, 0);
}

TEST_F(ShimKeys, ShiftedDigitsAsCharacters) {
  const char want[] = ")!@#$%^&*(";
  for (int d = 0; d < 10; ++d) {
    int newFlags = 99;
    EXPECT_EQ(SHIM_KeyToASCII('0' + d, FVIRTKEY | FSHIFT, &newFlags), want[d]);
    EXPECT_EQ(newFlags, 0);
  }
  int newFlags = 99;
  EXPECT_EQ(SHIM_KeyToASCII('2', FVIRTKEY, &newFlags), 0);
  EXPECT_EQ(newFlags, 99);
  EXPECT_EQ(SHIM_KeyToASCII('A', FVIRTKEY | FSHIFT, &newFlags), 0);
}

TEST_F(ShimKeys, AsynchronousKeyAndButtonState) {
  cocoa::input::setMouseButtons(1 | 4);
  cocoa::input::setModifierFlags(kShiftKeyMask | kControlKeyMask);
  struct {
    int key;
    WORD want;
  } cases[] = {{VK_LBUTTON, 0x8000}, {VK_RBUTTON, 0}, {VK_MBUTTON, 0x8000}, {VK_SHIFT, 0x8000},
               {VK_CONTROL, 0},      {VK_MENU, 0},    {VK_LWIN, 0},         {'A', 0}};
  for (auto& c : cases) EXPECT_EQ(GetAsyncKeyState(c.key), c.want) << c.key;
  SHIM_EnableRightClickEmulate(FALSE);
  EXPECT_EQ(GetAsyncKeyState(VK_LWIN), 0x8000);
  cocoa::input::setMouseButtons(0);
  cocoa::input::setModifierFlags(0);
}

TEST(ShimMouse, PositionRoundsXDownAndYUp) {
  cocoa::input::setMouseLocation({100.5, 200.2});
  POINT p;
  EXPECT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p.x, 100);
  EXPECT_EQ(p.y, 201);
  EXPECT_EQ(GetMessagePos(), (201u << 16) | 100u);
  EXPECT_FALSE(GetCursorPos(nullptr));
}

TEST(ShimMouse, HidingTheCursorEntersRelativeMode) {
  cocoa::screen::setSize(1000, 800);
  cocoa::input::setMouseLocation({300, 400});
  EXPECT_TRUE(SHIM_IsCursorVisible());
  EXPECT_EQ(SHIM_ShowCursor(false), -1);
  EXPECT_EQ(SHIM_ShowCursor(false), -2);
  EXPECT_FALSE(SHIM_IsCursorVisible());
  EXPECT_EQ(cocoa::display::hiddenCount(), 1);  // hidden once
  EXPECT_FALSE(cocoa::display::isMouseAssociated());

  // Mouse moves now move a virtual position; the real cursor stays where it was hidden.
  cocoa::Event* move = cocoa::Event::mouseEvent(cocoa::kMouseMoved, {0, 0}, 0);
  move->deltaX = 10.7;
  move->deltaY = 5.2;
  cocoa::View* view = new cocoa::View;
  cocoa::Point p = shimProcessMouseEvent(0x200, view, move);
  EXPECT_EQ(p.x, 310);
  EXPECT_EQ(p.y, 395);
  POINT cur;
  GetCursorPos(&cur);
  EXPECT_EQ(cur.x, 310);
  EXPECT_EQ(cur.y, 395);
  p = shimProcessMouseEvent(0x201, view, move);  // other messages report without moving
  EXPECT_EQ(p.x, 310);
  EXPECT_TRUE(SHIM_SetCursorPos(50, 60));
  GetCursorPos(&cur);
  EXPECT_EQ(cur.x, 50);
  EXPECT_EQ(cocoa::input::mouseLocation().x, 300);

  EXPECT_EQ(SHIM_ShowCursor(true), -1);
  EXPECT_EQ(cocoa::display::hiddenCount(), 1);
  EXPECT_EQ(SHIM_ShowCursor(true), 0);  // shown once, and the cursor moves to the virtual position
  EXPECT_EQ(cocoa::display::hiddenCount(), 0);
  EXPECT_TRUE(cocoa::display::isMouseAssociated());
  EXPECT_EQ(cocoa::input::mouseLocation().x, 50);
  EXPECT_EQ(cocoa::input::mouseLocation().y, 60);

  // Out of relative mode, positions come from the event and SetCursorPos moves the real cursor.
  move->locationInWindow = {12, 34};
  p = shimProcessMouseEvent(0x200, view, move);
  EXPECT_EQ(p.x, 12);
  EXPECT_EQ(p.y, 34);
  EXPECT_TRUE(SHIM_SetCursorPos(70, 80));
  EXPECT_EQ(cocoa::input::mouseLocation().y, 80);
  view->release();
  move->release();
}

TEST(ShimCursor, StandardAndBuiltInCursors) {
  EXPECT_EQ(SHIM_LoadCursor(IDC_ARROW), cocoa::Cursor::arrow());
  EXPECT_EQ(SHIM_LoadCursor(IDC_IBEAM), cocoa::Cursor::iBeam());
  EXPECT_EQ(SHIM_LoadCursor(IDC_HAND), cocoa::Cursor::openHand());
  EXPECT_EQ(SHIM_LoadCursor(IDC_NO), nullptr);
  std::vector<unsigned char> before(SHIM_Internal_DiagonalCursorImage(), SHIM_Internal_DiagonalCursorImage() + 256);
  HCURSOR ne = SHIM_LoadCursor(IDC_SIZENESW);
  ASSERT_NE(ne, nullptr);
  EXPECT_EQ(SHIM_LoadCursor(IDC_SIZENESW), ne);
  EXPECT_EQ(std::vector<unsigned char>(SHIM_Internal_DiagonalCursorImage(), SHIM_Internal_DiagonalCursorImage() + 256),
            before);
  HCURSOR nw = SHIM_LoadCursor(IDC_SIZENWSE);
  ASSERT_NE(nw, nullptr);
  EXPECT_NE(nw, ne);
  auto* a = nw->as<cocoa::Cursor>();
  auto* b = ne->as<cocoa::Cursor>();
  EXPECT_EQ(a->hotSpot().x, 8);
  EXPECT_EQ(a->hotSpot().y, 8);
  int opaque = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      EXPECT_EQ(a->image()->pixel(x, y), b->image()->pixel(15 - x, y));  // mirror images
      opaque += (a->image()->pixel(x, y) >> 24) == 0xFF;
    }
  }
  EXPECT_GT(opaque, 20);
  EXPECT_EQ(a->image()->pixel(0, 15) >> 24, 0u);  // the other diagonal's corner is clear
  EXPECT_NE(SHIM_LoadCursor(IDC_SIZEALL), nullptr);
}

TEST(ShimCursor, SetCursorRemembersOnlyCursors) {
  HCURSOR ibeam = SHIM_LoadCursor(IDC_IBEAM);
  SHIM_SetCursor(ibeam);
  EXPECT_EQ(SHIM_GetCursor(), ibeam);
  EXPECT_EQ(SHIM_GetLastSetCursor(), ibeam);
  cocoa::View* notACursor = new cocoa::View;
  SHIM_SetCursor(notACursor);
  EXPECT_EQ(SHIM_GetLastSetCursor(), nullptr);
  EXPECT_EQ(SHIM_GetCursor(), cocoa::Cursor::arrow());
  notACursor->release();
}

// A 16 x 16 Windows cursor file, 32 bits a pixel: red top half, transparent bottom half, hot spot (3, 5).
std::vector<unsigned char> makeCurFile() {
  std::vector<unsigned char> f;
  auto u16 = [&](int v) {
    f.push_back(v & 0xFF);
    f.push_back((v >> 8) & 0xFF);
  };
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) f.push_back((v >> (8 * i)) & 0xFF);
  };
  const uint32_t dibSize = 40 + 16 * 16 * 4 + 16 * 4;
  u16(0), u16(2), u16(1);  // reserved, cursor, one image
  f.push_back(16), f.push_back(16), f.push_back(0), f.push_back(0);
  u16(3), u16(5), u32(dibSize), u32(22);  // hot spot, size, offset
  u32(40), u32(16), u32(32), u16(1), u16(32), u32(0), u32(0), u32(0), u32(0), u32(0), u32(0);
  for (int row = 0; row < 16; ++row) {  // bottom-up
    const bool top = row >= 8;
    for (int x = 0; x < 16; ++x) {
      f.push_back(0), f.push_back(0), f.push_back(top ? 0xFF : 0), f.push_back(top ? 0xFF : 0);
    }
  }
  for (int i = 0; i < 16 * 4; ++i) f.push_back(0);
  return f;
}

TEST(ShimCursor, WindowsCursorFilesLoadWithTheirHotSpot) {
  char tmpl[] = "/tmp/shimcurXXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::string temp = dir + "/temp";
  mkdir(temp.c_str(), 0755);
  setenv("TEMP", temp.c_str(), 1);
  std::string path = dir + "/hand.CUR";
  auto bytes = makeCurFile();
  FILE* fp = fopen(path.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), fp);
  fclose(fp);

  HCURSOR h = SHIM_LoadCursorFromFile(path.c_str());
  ASSERT_NE(h, nullptr);
  auto* c = h->as<cocoa::Cursor>();
  EXPECT_EQ(c->hotSpot().x, 3);
  EXPECT_EQ(c->hotSpot().y, 5);
  EXPECT_EQ(c->image()->pixel(4, 2), cocoa::rgba(255, 0, 0, 255));
  EXPECT_EQ(c->image()->pixel(4, 12) >> 24, 0u);
  h->release();
  // The conversion's temporary file is gone.
  DIR* d = opendir(temp.c_str());
  int entries = 0;
  while (dirent* e = readdir(d)) entries += e->d_name[0] != '.';
  closedir(d);
  EXPECT_EQ(entries, 0);

  // Through the application's cursor resources, loaded once and cached.
  SHIM_CursorResourceIndex broken = {500, "/no/such/file.cur", 0, 0, nullptr, nullptr};
  SHIM_CursorResourceIndex good = {500, strdup(path.c_str()), 0, 0, nullptr, nullptr};
  broken._next = &good;
  SHIM_curmodule_cursorresource_head = &broken;
  HCURSOR r = SHIM_LoadCursor(reinterpret_cast<const char*>(static_cast<intptr_t>(500)));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r, good.cachedCursor);
  EXPECT_EQ(SHIM_LoadCursor(reinterpret_cast<const char*>(static_cast<intptr_t>(500))), r);
  EXPECT_EQ(SHIM_LoadCursor(reinterpret_cast<const char*>(static_cast<intptr_t>(501))), nullptr);
  SHIM_curmodule_cursorresource_head = nullptr;
  r->release();
  free(const_cast<char*>(good.resname));

  EXPECT_EQ(SHIM_LoadCursorFromFile((dir + "/missing.cur").c_str()), nullptr);
  unsetenv("TEMP");
  std::string cmd = "rm -rf '" + dir + "'";
  EXPECT_EQ(system(cmd.c_str()), 0);
}

// A 2 x 2 RGBA picture: red, green / blue, translucent white.
std::string writePng(const std::string& path) {
  rastertest::PngImage image;
  image.width = 2, image.height = 2, image.colorType = PNG_COLOR_TYPE_RGBA;
  image.rows = {{255, 0, 0, 255, 0, 255, 0, 255}, {0, 0, 255, 255, 255, 255, 255, 128}};
  return rastertest::writePngFile(path, image) ? path : "";
}

TEST(ShimCursor, OtherImageFilesLoadWithoutAHotSpot) {
  const std::string path =
      writePng(std::string(testing::TempDir()) + "/shimcursor-" + std::to_string(getpid()) + ".png");
  ASSERT_FALSE(path.empty());
  HCURSOR h = SHIM_LoadCursorFromFile(path.c_str());
  ASSERT_NE(h, nullptr);
  auto* c = h->as<cocoa::Cursor>();
  EXPECT_EQ(c->hotSpot().x, 0);
  ASSERT_EQ(c->image()->width(), 2);
  EXPECT_EQ(c->image()->pixel(0, 0), cocoa::rgba(255, 0, 0, 255));
  EXPECT_EQ(c->image()->pixel(1, 0), cocoa::rgba(0, 255, 0, 255));
  EXPECT_EQ(c->image()->pixel(1, 1), cocoa::rgba(255, 255, 255, 128));
  h->release();
  unlink(path.c_str());
}

}  // namespace
