// X11 keyboard input in the platform model's terms: the keysyms of each key code as the server maps them, and the
// model's key code, characters and modifier flags for a key or pointer event.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace x11 {

// X keysyms the menu window and the dialogs react to.
enum : uint32_t {
  kKeyBackSpace = 0xff08,
  kKeyReturn = 0xff0d,
  kKeyEscape = 0xff1b,
  kKeyHome = 0xff50,
  kKeyLeft = 0xff51,
  kKeyUp = 0xff52,
  kKeyRight = 0xff53,
  kKeyDown = 0xff54,
  kKeyPageUp = 0xff55,
  kKeyPageDown = 0xff56,
  kKeyEnd = 0xff57,
  kKeyPadEnter = 0xff8d,
  kKeyDelete = 0xffff,
};

// The server's keyboard map: keysyms per key code, unshifted first.
class KeyMap {
 public:
  void set(uint8_t minKeycode, int symsPerCode, std::vector<uint32_t> syms);
  bool empty() const { return syms_.empty(); }
  // The keysym a key gives with the X modifier state (Shift and Lock choose the level; Lock shifts letters only).
  uint32_t keysym(uint8_t keycode, uint16_t state) const;
  // True when two key codes are one key for a question: the same key, or Return and keypad Enter, which both answer
  // with the default button.
  bool sameAskingKey(uint8_t a, uint8_t b) const;

 private:
  uint8_t min_ = 0;
  int per_ = 0;
  std::vector<uint32_t> syms_;
};

// A key as the model's key events carry it.
struct ModelKey {
  uint16_t keyCode = 0;  // the platform's virtual key code
  char32_t character = 0;
  bool known = false;  // false: a key the platform has no code for (modifier keys, multimedia keys)
};

// The model's key for a keysym: letters, digits and punctuation take the US layout's key codes; Return, Tab, space,
// Backspace, Escape, Delete, the arrows, Home, End, Page Up/Down, keypad digits and Enter, and F1 to F12 take their
// fixed key codes and the platform's characters for them.
ModelKey modelKeyFor(uint32_t keysym);

// The model's modifier flags for an X modifier state (Shift, Lock, Control, Mod1 as Option, Mod4 as Command).
uint32_t modelModifiers(uint16_t state);

}  // namespace x11
