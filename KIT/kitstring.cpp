#include "KIT/kitstring.h"

#include <cstdio>
#include <cstring>

namespace {
int clampedLength(const char* text, int maxlen) {
  if (!text) return 0;
  if (maxlen <= 0) return static_cast<int>(strnlen(text, 0x7ffffffe));
  const size_t max = static_cast<size_t>(maxlen);
  return static_cast<int>(KIT_UTF8Fit(text, strnlen(text, max + 1), max));
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
  const int n = r < maxlen ? r : static_cast<int>(KIT_UTF8Complete(p, static_cast<size_t>(maxlen)));
  p[n] = 0;
  fresh.Resize(n + 1, false);
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

size_t KIT_UTF8CharLen(const char* s, size_t avail) {
  if (avail == 0) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  const unsigned c = p[0];
  if (c < 0x80) return 1;
  size_t len = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) low = 0xA0;   // overlong below
    if (c == 0xED) high = 0x9F;  // surrogates above
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) low = 0x90;   // overlong below
    if (c == 0xF4) high = 0x8F;  // beyond U+10FFFF above
  } else {
    return 1;
  }
  for (size_t i = 1; i < len; ++i) {
    if (i >= avail) return 0;
    const unsigned b = p[i];
    if (b < (i == 1 ? low : 0x80u) || b > (i == 1 ? high : 0xBFu)) return 1;
  }
  return len;
}

size_t KIT_UTF8Complete(const char* s, size_t n) {
  size_t i = 0;
  while (i < n) {
    const size_t len = KIT_UTF8CharLen(s + i, n - i);
    if (len == 0) break;
    i += len;
  }
  return i;
}

size_t KIT_UTF8Fit(const char* s, size_t n, size_t max) {
  // Within the first max bytes, a character that does not end there is one the cut would split.
  return n <= max ? n : KIT_UTF8Complete(s, max);
}

std::string KIT_UTF8Head(const std::string& text, size_t maxBytes) {
  return text.substr(0, KIT_UTF8Fit(text.data(), text.size(), maxBytes));
}

namespace {
// The offset after `count` characters of text, a sequence cut short counting by its bytes; stops at `until` bytes.
size_t skipChars(const std::string& text, size_t count, size_t until) {
  size_t i = 0;
  for (; i < text.size() && i < until && count > 0; --count) {
    const size_t len = KIT_UTF8CharLen(text.data() + i, text.size() - i);
    i += len ? len : 1;
  }
  return i;
}
}  // namespace

std::string KIT_UTF8Tail(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  return text.substr(skipChars(text, text.size(), text.size() - maxBytes));
}

size_t KIT_UTF8Count(const std::string& text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++count) {
    const size_t len = KIT_UTF8CharLen(text.data() + i, text.size() - i);
    i += len ? len : 1;
  }
  return count;
}

std::string KIT_UTF8TailChars(const std::string& text, size_t maxChars) {
  const size_t count = KIT_UTF8Count(text);
  return count <= maxChars ? text : text.substr(skipChars(text, count - maxChars, text.size()));
}

std::string KIT_UTF8HeadChars(const std::string& text, size_t maxChars) {
  if (KIT_UTF8Count(text) <= maxChars) return text;
  size_t i = 0;
  for (size_t count = 0; count < maxChars; ++count) {
    const size_t len = KIT_UTF8CharLen(text.data() + i, text.size() - i);
    if (len == 0) break;
    i += len;
  }
  return text.substr(0, i);
}

size_t KIT_UTF8Copy(char* dst, size_t size, const char* src) {
  if (!dst || size == 0) return 0;
  if (!src) src = "";
  const size_t n = KIT_UTF8Fit(src, strnlen(src, size), size - 1);
  std::memmove(dst, src, n);
  dst[n] = 0;
  return n;
}
