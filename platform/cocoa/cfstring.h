// The platform's string object: immutable Unicode text held as UTF-8.
#pragma once

#include <string>

#include "platform/cocoa/object.h"

namespace cocoa {

class String : public Object {
 public:
  explicit String(std::string utf8) : utf8_(std::move(utf8)) {}
  // Null unless `bytes` is valid UTF-8 (as the platform's conversion fails on malformed input).
  static String* fromUTF8(const char* bytes);
  // Each byte above 0x7F becomes "?"; never fails for a non-null pointer.
  static String* fromASCII(const char* bytes);
  const std::string& utf8() const { return utf8_; }
  // The ASCII form: every character beyond ASCII becomes "?".
  std::string ascii() const;

 private:
  std::string utf8_;
};

// Whether `s` is well-formed UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
bool isValidUTF8(const std::string& s);

}  // namespace cocoa
