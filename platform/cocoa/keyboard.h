// The headless model of the keyboard layout: what character a key code types with no modifiers, with dead keys
// that combine with the next key. The default layout is US English; tests may install another or none.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

namespace cocoa {

struct KeyboardLayout {
  std::map<uint16_t, char32_t> characters;  // key code -> character typed
  std::map<uint16_t, char32_t> deadKeys;    // key code -> the accent it leaves, typed alone by a following space
};

namespace keyboard {
// The current layout, or null when the system offers none.
std::shared_ptr<const KeyboardLayout> currentLayout();
void setCurrentLayout(std::shared_ptr<const KeyboardLayout> layout);
std::shared_ptr<const KeyboardLayout> usLayout();
// Translates a key-down of `keyCode` with no modifiers. Returns the character (0 for none); a dead key returns 0
// and sets *deadKeyState, which the next translation consumes.
char32_t translate(const KeyboardLayout& layout, uint16_t keyCode, uint32_t* deadKeyState);
}  // namespace keyboard

}  // namespace cocoa
