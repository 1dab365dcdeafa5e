// X11 keys in the platform model's terms: what the editor's key handling and text entry receive for the keys a
// person presses on a Linux keyboard.
#include <gtest/gtest.h>

#include "platform/cocoa/application.h"
#include "platform/x11/keys.h"

namespace {

TEST(X11Keys, KeysymsBecomeThePlatformsKeyCodesAndCharacters) {
  struct Case {
    uint32_t keysym;
    uint16_t code;
    char32_t ch;
  } cases[] = {
      {'a', 0, U'a'},        {'A', 0, U'A'},        {'z', 6, U'z'},          {'7', 26, U'7'},       {'&', 26, U'&'},
      {' ', 49, U' '},       {0xff0d, 36, U'\r'},   {0xff09, 48, U'\t'},     {0xff08, 51, 0x7F},    {0xff1b, 53, 0x1B},
      {0xff51, 123, 0xF702}, {0xff53, 124, 0xF703}, {0xff54, 125, 0xF701},   {0xff52, 126, 0xF700}, {0xffb7, 89, U'7'},
      {0xff8d, 76, 3},       {0xe9, 0, 0xE9},       {0x010020ac, 0, 0x20AC},
  };
  for (const Case& c : cases) {
    const x11::ModelKey k = x11::modelKeyFor(c.keysym);
    EXPECT_TRUE(k.known) << std::hex << c.keysym;
    EXPECT_EQ(k.keyCode, c.code) << std::hex << c.keysym;
    EXPECT_EQ(k.character, c.ch) << std::hex << c.keysym;
  }
  // Modifier keys alone and keys the platform has no code for are not keys to the editor.
  EXPECT_FALSE(x11::modelKeyFor(0xffe1).known);  // Shift_L
  EXPECT_FALSE(x11::modelKeyFor(0).known);
}

TEST(X11Keys, ShiftAndCapsLockChooseTheLevel) {
  x11::KeyMap map;
  // Key codes 10 to 12: "a"/"A", "1"/"!", and a key with only "q" on it.
  map.set(10, 2, {'a', 'A', '1', '!', 'q', 0});
  struct Case {
    uint8_t code;
    uint16_t state;
    uint32_t want;
  } cases[] = {{10, 0, 'a'}, {10, 1, 'A'}, {10, 2, 'A'}, {10, 3, 'a'}, {11, 0, '1'},
               {11, 1, '!'}, {11, 2, '1'}, {12, 1, 'Q'}, {9, 0, 0},    {13, 0, 0}};
  for (const Case& c : cases) EXPECT_EQ(map.keysym(c.code, c.state), c.want) << int(c.code) << " " << c.state;
}

TEST(X11Keys, ModifierStateBecomesThePlatformsFlags) {
  EXPECT_EQ(x11::modelModifiers(0), 0u);
  EXPECT_EQ(x11::modelModifiers(1 | 4), cocoa::kShiftKeyMask | cocoa::kControlKeyMask);
  EXPECT_EQ(x11::modelModifiers(8), cocoa::kAlternateKeyMask);
  EXPECT_EQ(x11::modelModifiers(64), cocoa::kCommandKeyMask);
  EXPECT_EQ(x11::modelModifiers(2), cocoa::kAlphaShiftKeyMask);
}

}  // namespace
