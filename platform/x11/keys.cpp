#include "platform/x11/keys.h"

#include "platform/cocoa/application.h"
#include "platform/cocoa/keyboard.h"

namespace x11 {

namespace {

// X modifier state bits.
constexpr uint16_t kShift = 1, kLock = 2, kControl = 4, kMod1 = 8, kMod4 = 64;

bool isLetter(uint32_t sym) {
  return (sym >= 'a' && sym <= 'z') || (sym >= 'A' && sym <= 'Z');
}

}  // namespace

void KeyMap::set(uint8_t minKeycode, int symsPerCode, std::vector<uint32_t> syms) {
  min_ = minKeycode;
  per_ = symsPerCode > 0 ? symsPerCode : 0;
  syms_ = per_ ? std::move(syms) : std::vector<uint32_t>{};
}

uint32_t KeyMap::keysym(uint8_t keycode, uint16_t state) const {
  if (keycode < min_ || per_ == 0) return 0;
  const size_t base = static_cast<size_t>(keycode - min_) * per_;
  if (base >= syms_.size()) return 0;
  const uint32_t plain = syms_[base];
  uint32_t shifted = per_ > 1 ? syms_[base + 1] : 0;
  // A key with one keysym that is a lower case letter has its upper case as the shifted level.
  if (!shifted) shifted = (plain >= 'a' && plain <= 'z') ? plain - 'a' + 'A' : plain;
  bool shift = (state & kShift) != 0;
  if ((state & kLock) && isLetter(plain)) shift = !shift;
  return shift ? shifted : plain;
}

bool KeyMap::sameAskingKey(uint8_t a, uint8_t b) const {
  if (a == b) return true;
  auto enter = [this](uint8_t code) {
    const uint32_t sym = keysym(code, 0);
    return sym == kKeyReturn || sym == kKeyPadEnter;
  };
  return enter(a) && enter(b);
}

ModelKey modelKeyFor(uint32_t sym) {
  struct Special {
    uint32_t keysym;
    uint16_t code;
    char32_t ch;
  };
  static const Special specials[] = {
      {0xff0d, 36, U'\r'},   {0xff8d, 76, 3},       {0xff09, 48, U'\t'},   {0xfe20, 48, U'\t'},   {0x0020, 49, U' '},
      {0xff08, 51, 0x7F},    {0xff1b, 53, 0x1B},    {0xffff, 117, 0xF728}, {0xff51, 123, 0xF702}, {0xff53, 124, 0xF703},
      {0xff54, 125, 0xF701}, {0xff52, 126, 0xF700}, {0xff50, 115, 0xF729}, {0xff57, 119, 0xF72B}, {0xff55, 116, 0xF72C},
      {0xff56, 121, 0xF72D}, {0xffbe, 122, 0xF704}, {0xffbf, 120, 0xF705}, {0xffc0, 99, 0xF706},  {0xffc1, 118, 0xF707},
      {0xffc2, 96, 0xF708},  {0xffc3, 97, 0xF709},  {0xffc4, 98, 0xF70A},  {0xffc5, 100, 0xF70B}, {0xffc6, 101, 0xF70C},
      {0xffc7, 109, 0xF70D}, {0xffc8, 103, 0xF70E}, {0xffc9, 111, 0xF70F}, {0xffb0, 82, U'0'},    {0xffb1, 83, U'1'},
      {0xffb2, 84, U'2'},    {0xffb3, 85, U'3'},    {0xffb4, 86, U'4'},    {0xffb5, 87, U'5'},    {0xffb6, 88, U'6'},
      {0xffb7, 89, U'7'},    {0xffb8, 91, U'8'},    {0xffb9, 92, U'9'},    {0xffae, 65, U'.'},    {0xffab, 69, U'+'},
      {0xffad, 78, U'-'},    {0xffaa, 67, U'*'},    {0xffaf, 75, U'/'},
  };
  for (const Special& s : specials)
    if (s.keysym == sym) return ModelKey{s.code, s.ch, true};

  char32_t c = 0;
  if ((sym >= 0x20 && sym <= 0x7e) || (sym >= 0xa0 && sym <= 0xff)) {
    c = static_cast<char32_t>(sym);
  } else if ((sym & 0xff000000u) == 0x01000000u) {
    c = static_cast<char32_t>(sym & 0x00ffffffu);
  }
  if (!c) return ModelKey{};
  ModelKey k{0, c, true};
  // The key that types it on the US layout; upper case letters are their lower case key.
  const char32_t lower = (c >= U'A' && c <= U'Z') ? c - U'A' + U'a' : c;
  static const char32_t shiftedPunct[][2] = {
      {U'!', U'1'},  {U'@', U'2'}, {U'#', U'3'},  {U'$', U'4'}, {U'%', U'5'}, {U'^', U'6'}, {U'&', U'7'},
      {U'*', U'8'},  {U'(', U'9'}, {U')', U'0'},  {U'_', U'-'}, {U'+', U'='}, {U'{', U'['}, {U'}', U']'},
      {U'|', U'\\'}, {U':', U';'}, {U'"', U'\''}, {U'<', U','}, {U'>', U'.'}, {U'?', U'/'}, {U'~', U'`'}};
  char32_t base = lower;
  for (const auto& p : shiftedPunct)
    if (p[0] == c) base = p[1];
  if (auto layout = cocoa::keyboard::usLayout()) {
    for (const auto& kv : layout->characters) {
      if (kv.second == base) {
        k.keyCode = kv.first;
        break;
      }
    }
  }
  return k;
}

uint32_t modelModifiers(uint16_t state) {
  uint32_t f = 0;
  if (state & kShift) f |= cocoa::kShiftKeyMask;
  if (state & kLock) f |= cocoa::kAlphaShiftKeyMask;
  if (state & kControl) f |= cocoa::kControlKeyMask;
  if (state & kMod1) f |= cocoa::kAlternateKeyMask;
  if (state & kMod4) f |= cocoa::kCommandKeyMask;
  return f;
}

}  // namespace x11
