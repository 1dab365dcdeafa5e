// The SysEx value tables: for a control bound to a SysEx parameter, every message it can send, one per integer
// value, computed once from the message template of its entry in the SysEx description.
#include <cstdlib>

#include "src/UIConfigManager.h"

namespace {

// What a special table writes for the message number k and the running value v: the value byte, and the high
// byte at element 7 (-1 leaves the template's byte); write false leaves the message as the template.
struct Encoded {
  int low;
  int high;
  bool write = true;
};
using Encoder = Encoded (*)(int k, int v);

enum class Shift { kNone, kBoth, kTwoBytes, kParamHighOnly };

void setAt(std::vector<int>& m, int index, int value) {
  if (index >= 0 && index < static_cast<int>(m.size())) m[index] = value;
}

int at(const std::vector<int>& m, int index) {
  return index >= 0 && index < static_cast<int>(m.size()) ? m[index] : 0;
}

// The parameter address of timbre 2 is timbre 1's plus 144 (one high-byte step and 16): the low byte moves up
// by 16, and when it passes 127 the carry goes into the high byte as well, so that the address is never another
// parameter's. The parameters addressed by two changing bytes always step the high byte by two.
void shiftForTimbre2(std::vector<int>& m, Shift shift) {
  if (shift == Shift::kNone) return;
  int carry = 0;
  if (shift != Shift::kParamHighOnly) {
    const int low = at(m, 4);
    carry = low + 16 <= 127 ? 0 : 1;
    setAt(m, 4, carry ? low - 112 : low + 16);
  }
  setAt(m, 5, at(m, 5) + (shift == Shift::kTwoBytes ? 2 : 1 + carry));
}

// The common walk of every table. A first value of -1 starts from the template's own value and keeps the
// template as message 0; that message is shifted for timbre 2 too, so that it never addresses timbre 1.
void build(const std::string& tmpl, int changingByte, int count, ControlActionSysExMessage* out, int firstValue,
           int timbre, Shift shift, Encoder encode, bool wrapAt128) {
  if (!out) return;
  const std::vector<int> b = UIConfigManager::convertStringSysextoVector(tmpl);
  const int pos = changingByte - 1;
  std::vector<std::vector<int>> messages;
  int k = 0, v = firstValue;
  if (firstValue == -1) {
    std::vector<int> m = b;
    if (timbre == 1) shiftForTimbre2(m, shift);
    messages.push_back(m);
    v = at(b, pos);
    k = 1;
  }
  for (; k < count; ++k, ++v) {
    std::vector<int> m = b;
    if (wrapAt128 && v == 128) v = 0;
    if (timbre == 1) shiftForTimbre2(m, shift);
    if (encode) {
      const Encoded e = encode(k, v);
      if (e.write) {
        setAt(m, pos, e.low);
        if (e.high >= 0) setAt(m, 7, e.high);
      }
    } else {
      setAt(m, pos, v);
    }
    messages.push_back(m);
  }
  out->messages = messages;
}

Encoded eq(int k, int v) {
  return k <= 11 ? Encoded{v + 116, -1} : Encoded{v - 12, 0};
}
Encoded tempo(int k, int v) {
  if (k <= 107) return {v + 20, 0};
  if (k <= 235) return {v - 108, 1};
  return {v - 236, 2};
}
Encoded swing(int k, int v) {
  if (k <= 99) return {v + 28, -1};
  if (k <= 200) return {v - 100, 0};
  return {0, -1, false};
}
Encoded signed64(int k, int v) {
  return k <= 63 ? Encoded{v + 64, -1} : Encoded{v - 64, 0};
}
Encoded transpose(int k, int v) {
  return k <= 23 ? Encoded{v + 104, -1} : Encoded{v - 24, 0};
}
Encoded tuning(int k, int v) {
  return k <= 49 ? Encoded{v + 78, -1} : Encoded{v - 50, 0};
}

}  // namespace

void UIConfigManager::Tokenize(const std::string& text, std::vector<std::string>& tokens,
                               const std::string& delimiters) {
  size_t start = text.find_first_not_of(delimiters);
  while (start != std::string::npos) {
    const size_t end = text.find_first_of(delimiters, start);
    tokens.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    start = end == std::string::npos ? end : text.find_first_not_of(delimiters, end);
  }
}

std::vector<int> UIConfigManager::convertStringSysextoVector(std::string text) {
  std::vector<std::string> tokens;
  Tokenize(text, tokens, " ");
  std::vector<int> bytes;
  bytes.reserve(tokens.size());
  for (const std::string& t : tokens) {
    char* end = nullptr;
    const long v = std::strtol(t.c_str(), &end, 16);
    // A token that is not entirely hexadecimal, or too large for a byte list, reads as 0.
    bytes.push_back(end == t.c_str() || *end != '\0' || v < 0 || v > 0xFFFF ? 0 : static_cast<int>(v));
  }
  return bytes;
}

void UIConfigManager::calculateSysexWithChangingByte(std::string tmpl, int changingByte, int count,
                                                     ControlActionSysExMessage* out, int firstValue, int timbre) {
  build(tmpl, changingByte, count, out, firstValue, timbre, Shift::kBoth, nullptr, true);
}

void UIConfigManager::calculateSysexWithTwoChangingBytes(std::string tmpl, int changingByte, int count,
                                                         ControlActionSysExMessage* out, int firstValue, int timbre) {
  build(tmpl, changingByte, count, out, firstValue, timbre, Shift::kTwoBytes, nullptr, true);
}

void UIConfigManager::calculateSysexWithChangingByteEQ(std::string tmpl, int changingByte, int count,
                                                       ControlActionSysExMessage* out, int firstValue, int timbre) {
  build(tmpl, changingByte, count, out, firstValue, timbre, Shift::kBoth, eq, false);
}

void UIConfigManager::calculateSysexWithChangingByteTempo(std::string tmpl, int changingByte, int count,
                                                          ControlActionSysExMessage* out, int firstValue, int timbre) {
  build(tmpl, changingByte, count, out, firstValue, timbre, Shift::kNone, tempo, false);
}

void UIConfigManager::calculateSysexWithChangingByteSwing(std::string tmpl, int changingByte, int count,
                                                          ControlActionSysExMessage* out, int firstValue, int timbre) {
  build(tmpl, changingByte, count, out, firstValue, timbre, Shift::kNone, swing, false);
}

void UIConfigManager::calculateSysexWithChangingByteVelo(std::string tmpl, int changingByte, int count,
                                                         ControlActionSysExMessage* out, int firstValue, int timbre) {
  build(tmpl, changingByte, count, out, firstValue, timbre, Shift::kParamHighOnly, signed64, false);
}

void UIConfigManager::calculateSysexWithChangingByteTranspose(std::string tmpl, int changingByte, int count,
                                                              ControlActionSysExMessage* out, int firstValue,
                                                              int timbre) {
  build(tmpl, changingByte, count, out, firstValue, timbre, Shift::kBoth, transpose, false);
}

void UIConfigManager::calculateSysexWithChangingByteTuning(std::string tmpl, int changingByte, int count,
                                                           ControlActionSysExMessage* out, int firstValue, int timbre) {
  build(tmpl, changingByte, count, out, firstValue, timbre, Shift::kBoth, tuning, false);
}

void UIConfigManager::calculateSysexWithChangingByteModSeq(std::string tmpl, int changingByte, int count,
                                                           ControlActionSysExMessage* out, int firstValue, int timbre) {
  build(tmpl, changingByte, count, out, firstValue, timbre, Shift::kBoth, signed64, false);
}
