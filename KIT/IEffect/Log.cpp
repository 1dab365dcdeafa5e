#include "KIT/IEffect/Log.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "KIT/kitstring.h"

void ToLower(char* dst, const char* src) {
  if (!dst) return;
  if (!src) {
    *dst = '\0';
    return;
  }
  while (*src) *dst++ = static_cast<char>(std::tolower(static_cast<unsigned char>(*src++)));
  *dst = '\0';
}

bool IsWhitespace(char c) {
  return c == 9 || c == 10 || c == 13 || c == 32;
}

const char* CurrentTime() {
  static char buffer[64];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d %H:%M ", &local);
  long offsetMinutes = local.tm_gmtoff / 60;
  char sign = offsetMinutes < 0 ? '-' : '+';
  if (offsetMinutes < 0) offsetMinutes = -offsetMinutes;
  std::snprintf(buffer, sizeof buffer, "%s%c%02ld%02ld", stamp, sign, offsetMinutes / 60, offsetMinutes % 60);
  return buffer;
}

void CompileTimestamp(const char* date, const char* time, KIT_String* out) {
  if (!out) return;
  std::string s = "[";
  s += date ? date : "";
  s = s.substr(0, 7);
  if (s.size() > 4) s.erase(4, 1);
  s += " ";
  s += time ? time : "";
  s = s.substr(0, 12);
  s += "]";
  out->Set(s.c_str());
}

const char* AppendTimestamp(const char* date, const char* time, const char* text) {
  static KIT_String result;
  KIT_String stamp;
  CompileTimestamp(date, time, &stamp);
  std::string s = text ? text : "";
  s += " ";
  s += stamp.Get();
  result.Set(s.c_str());
  return result.Get();
}

void GetVersionParts(int version, int* major, int* minor, int* patch) {
  if (major) *major = (version >> 16) & 0xFFFF;
  if (minor) *minor = (version >> 8) & 0xFF;
  if (patch) *patch = version & 0xFF;
}

int GetDecimalVersion(int version) {
  int major, minor, patch;
  GetVersionParts(version, &major, &minor, &patch);
  return major * 10000 + minor * 100 + patch;
}

void GetVersionStr(int version, char* out) {
  if (!out) return;
  int major, minor, patch;
  GetVersionParts(version, &major, &minor, &patch);
  if (patch)
    std::snprintf(out, 32, "v%d.%d.%d", major, minor, patch);
  else if (minor)
    std::snprintf(out, 32, "v%d.%d", major, minor);
  else
    std::snprintf(out, 32, "v%d", major);
}

bool Timer::Every(double seconds) {
  std::clock_t now = std::clock();
  if (static_cast<double>(now - mLastTime) > seconds * 1000000.0) {
    mLastTime = now;
    return true;
  }
  return false;
}
