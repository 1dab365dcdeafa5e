// A growable zero-terminated string over KIT_HeapBuf. Get() never returns null.
#pragma once

#include <cstdarg>

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
  // maxlen > 0 takes at most maxlen characters of text; text may point into this string.
  bool Set(const char* text, int maxlen = 0);
  bool Append(const char* text, int maxlen = 0);
  // Inserts at character position pos (clamped to the string).
  bool Insert(const char* text, int pos, int maxlen = 0);
  // Removes len characters at pos (clamped to the string).
  void DeleteSub(int pos, int len);
  // Truncates to len characters, or grows to len with zero bytes.
  bool SetLen(int len);
  // Formats at most maxlen characters (the buffer grows to maxlen + 1 bytes). The arguments may refer to this string.
  bool SetFormatted(int maxlen, const char* format, ...) __attribute__((format(printf, 3, 4)));
  bool AppendFormatted(int maxlen, const char* format, ...) __attribute__((format(printf, 3, 4)));
  bool SetFormattedV(int maxlen, const char* format, va_list args);

  bool operator==(const char* text) const;
  bool operator!=(const char* text) const { return !(*this == text); }

 private:
  KIT_HeapBuf buf_;
};
