#include "platform/cocoa/keyboard.h"

#include <mutex>

namespace cocoa {
namespace keyboard {

namespace {
std::mutex g_mutex;
std::shared_ptr<const KeyboardLayout> g_layout;
bool g_set = false;
}  // namespace

std::shared_ptr<const KeyboardLayout> usLayout() {
  static std::shared_ptr<const KeyboardLayout> us = [] {
    auto l = std::make_shared<KeyboardLayout>();
    // The platform's key codes of an ANSI keyboard, unshifted.
    const char* keys = "asdfhgzxcv\0bqweryt123465=97-80]ou[ip\0lj'k;\\,/nm.\0 `";  // key codes 0..50 in order
    for (uint16_t code = 0; code <= 50; ++code) {
      const char c = keys[code];
      if (c) l->characters[code] = static_cast<char32_t>(c);
    }
    l->characters[36] = '\r';
    l->characters[48] = '\t';
    l->characters[53] = 27;
    return l;
  }();
  return us;
}

std::shared_ptr<const KeyboardLayout> currentLayout() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_set ? g_layout : usLayout();
}

void setCurrentLayout(std::shared_ptr<const KeyboardLayout> layout) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_layout = std::move(layout);
  g_set = true;
}

char32_t translate(const KeyboardLayout& layout, uint16_t keyCode, uint32_t* deadKeyState) {
  if (deadKeyState && *deadKeyState) {
    // A pending accent followed by space gives the accent itself; anything else gives the key's own character.
    const char32_t accent = static_cast<char32_t>(*deadKeyState);
    *deadKeyState = 0;
    if (keyCode == 49) return accent;
  }
  auto dead = layout.deadKeys.find(keyCode);
  if (dead != layout.deadKeys.end()) {
    if (deadKeyState) *deadKeyState = static_cast<uint32_t>(dead->second);
    return 0;
  }
  auto it = layout.characters.find(keyCode);
  return it == layout.characters.end() ? 0 : it->second;
}

}  // namespace keyboard
}  // namespace cocoa
