#include "KIT/kitstring.h"

#include <cstdio>
#include <cstring>

namespace {
int clampedLength(const char* text, int maxlen) {
  if (!text) return 0;
  if (maxlen <= 0) return static_cast<int>(strnlen(text, 0x7ffffffe));
  return static_cast<int>(strnlen(text, static_cast<size_t>(maxlen)));
}
}  // namespace

bool KIT_String::Set(const char* text, int maxlen) {
  const int n = clampedLength(text, maxlen);
  // Build the new text aside, so text may point into this string and a failed allocation changes nothing.
  KIT_HeapBuf fresh(buf_.GetGranularity());
  if (!fresh.Resize(n + 1, false) || fresh.GetSize() != n + 1) return false;
  char* p = static_cast<char*>(fresh.Get());
  if (n > 0) std::memcpy(p, text, static_cast<size_t>(n));
  p[n] = 0;
  buf_.Swap(fresh);
  return true;
}

bool KIT_String::Append(const char* text, int maxlen) {
  return Insert(text, GetLength(), maxlen);
}

bool KIT_String::Insert(const char* text, int pos, int maxlen) {
  const int n = clampedLength(text, maxlen);
  if (n == 0) return true;
  const int len = GetLength();
  if (pos < 0) pos = 0;
  if (pos > len) pos = len;
  if (buf_.GetSize() == 0) {
    if (buf_.Resize(1, false) == nullptr) return false;
    static_cast<char*>(buf_.Get())[0] = 0;
  }
  return buf_.Insert(text, n, pos) != nullptr;
}

void KIT_String::DeleteSub(int pos, int len) {
  const int total = GetLength();
  if (pos < 0) {
    len += pos;
    pos = 0;
  }
  if (pos >= total || len <= 0) return;
  if (len > total - pos) len = total - pos;
  buf_.Remove(pos, len);
}

bool KIT_String::SetLen(int len) {
  if (len < 0) len = 0;
  const int old = GetLength();
  buf_.Resize(len + 1, false);
  if (buf_.GetSize() != len + 1) return false;
  char* p = static_cast<char*>(buf_.Get());
  if (len > old) std::memset(p + old, 0, static_cast<size_t>(len + 1 - old));
  p[len] = 0;
  return true;
}

bool KIT_String::SetFormattedV(int maxlen, const char* format, va_list args) {
  if (maxlen < 0 || !format) return false;
  KIT_HeapBuf fresh(buf_.GetGranularity());
  if (!fresh.Resize(maxlen + 1, false) || fresh.GetSize() != maxlen + 1) return false;
  char* p = static_cast<char*>(fresh.Get());
  const int r = std::vsnprintf(p, static_cast<size_t>(maxlen) + 1, format, args);
  if (r < 0) return false;
  fresh.Resize((r < maxlen ? r : maxlen) + 1, false);
  buf_.Swap(fresh);
  return true;
}

bool KIT_String::SetFormatted(int maxlen, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool ok = SetFormattedV(maxlen, format, args);
  va_end(args);
  return ok;
}

bool KIT_String::AppendFormatted(int maxlen, const char* format, ...) {
  KIT_String tail;
  va_list args;
  va_start(args, format);
  const bool ok = tail.SetFormattedV(maxlen, format, args);
  va_end(args);
  return ok && Append(tail.Get(), tail.GetLength() > 0 ? tail.GetLength() : 0);
}

bool KIT_String::operator==(const char* text) const {
  return std::strcmp(Get(), text ? text : "") == 0;
}
