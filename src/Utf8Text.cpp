#include "src/Utf8Text.h"

#include <cstdint>

namespace {
bool continuationByte(char c) {
  return (static_cast<uint8_t>(c) & 0xC0) == 0x80;
}
}  // namespace

std::string utf8Head(const std::string& text, size_t size) {
  if (text.size() <= size) return text;
  while (size > 0 && continuationByte(text[size])) --size;
  return text.substr(0, size);
}

std::string utf8Tail(const std::string& text, size_t size) {
  if (text.size() <= size) return text;
  size_t start = text.size() - size;
  while (start < text.size() && continuationByte(text[start])) ++start;
  return text.substr(start);
}
