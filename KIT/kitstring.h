// A growable zero-terminated string over KIT_HeapBuf, and the cuts of UTF-8 text to a size. Get() never returns
// null.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "KIT/heapbuf.h"

class KIT_String {
 public:
  KIT_String() : buf_(64) {}
  explicit KIT_String(const char* text) : buf_(64) { Set(text); }
  KIT_String(const KIT_String& other) : buf_(64) { Set(other.Get(), other.GetLength()); }
  KIT_String& operator=(const KIT_String& other) {
    if (this != &other) Set(other.Get(), other.GetLength());
    return *this;
  }

  const char* Get() const { return buf_.GetSize() > 0 ? static_cast<const char*>(buf_.Get()) : ""; }
  // The writable text, or null while the string has no storage.
  char* GetWritable() { return static_cast<char*>(buf_.Get()); }
  int GetLength() const { return buf_.GetSize() > 0 ? buf_.GetSize() - 1 : 0; }

  // Each edit leaves the string as it was when memory cannot be had, and returns false then.
  // maxlen > 0 takes at most maxlen bytes of text, whole UTF-8 characters; text may point into this string.
  bool Set(const char* text, int maxlen = 0);
  bool Append(const char* text, int maxlen = 0);
  // Inserts at character position pos (clamped to the string).
  bool Insert(const char* text, int pos, int maxlen = 0);
  // Removes len characters at pos (clamped to the string).
  void DeleteSub(int pos, int len);
  // Truncates to len characters, or grows to len with zero bytes.
  bool SetLen(int len);
  // Formats at most maxlen bytes, whole UTF-8 characters (the buffer grows to maxlen + 1 bytes). The arguments may
  // refer to this string.
  bool SetFormatted(int maxlen, const char* format, ...) __attribute__((format(printf, 3, 4)));
  bool AppendFormatted(int maxlen, const char* format, ...) __attribute__((format(printf, 3, 4)));
  bool SetFormattedV(int maxlen, const char* format, va_list args);

  bool operator==(const char* text) const;
  bool operator!=(const char* text) const { return !(*this == text); }

 private:
  KIT_HeapBuf buf_;
};

// ---- UTF-8 text cut to a size ----
// Every text shown or put into a field of fixed size is cut here, so that a cut never splits a character. A
// character is a whole UTF-8 sequence (no overlong form, surrogate or code point beyond U+10FFFF) or one byte that
// starts none; a text that fits is never changed, whatever bytes it holds.

// Bytes of the character at s, of the `avail` bytes there; 0 when avail is 0 or when the sequence that starts at
// s runs past avail (cut short).
size_t KIT_UTF8CharLen(const char* s, size_t avail);
// The length of s[0, n) without a last character that n cut short.
size_t KIT_UTF8Complete(const char* s, size_t n);
// The length of the longest head of s[0, n) of at most max bytes that ends between characters.
size_t KIT_UTF8Fit(const char* s, size_t n, size_t max);
std::string KIT_UTF8Head(const std::string& text, size_t maxBytes);
// The end of text of at most maxBytes bytes that starts between characters.
std::string KIT_UTF8Tail(const std::string& text, size_t maxBytes);
// Characters, for fields whose font gives every character one cell; a sequence cut short counts by its bytes.
size_t KIT_UTF8Count(const std::string& text);
std::string KIT_UTF8HeadChars(const std::string& text, size_t maxChars);
std::string KIT_UTF8TailChars(const std::string& text, size_t maxChars);
// Copies src (null counts as "") into dst of `size` bytes, always terminated when size > 0; returns the bytes
// copied. src may overlap dst.
size_t KIT_UTF8Copy(char* dst, size_t size, const char* src);
