#include "platform/cocoa/cfstring.h"

namespace cocoa {

bool isValidUTF8(const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len;
    unsigned cp;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (int k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    static const unsigned minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

String* String::fromUTF8(const char* bytes) {
  if (!bytes) return nullptr;
  std::string s(bytes);
  if (!isValidUTF8(s)) return nullptr;
  return new String(std::move(s));
}

String* String::fromASCII(const char* bytes) {
  if (!bytes) return nullptr;
  std::string s(bytes);
  for (char& c : s)
    if (static_cast<unsigned char>(c) > 0x7F) c = '?';
  return new String(std::move(s));
}

std::string String::ascii() const {
  std::string out;
  for (size_t i = 0; i < utf8_.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8_[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c & 0xC0) != 0x80) {
      out += '?';  // one mark per character, at its lead byte
    }
  }
  return out;
}

}  // namespace cocoa
