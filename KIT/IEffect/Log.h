// Small text and time helpers of the plug-in framework, and the version-word conversions.
#pragma once

#include <ctime>

class KIT_String;

inline void Trace(...) {}

// Copies src lower-cased, with its terminator.
void ToLower(char* dst, const char* src);
bool IsWhitespace(char c);

// Local time as "YYYYMMDD HH:MM +HHMM" in one shared buffer (not reentrant).
const char* CurrentTime();
// "[" month and two-character day run together, a blank, "HH:MM" "]" from the compiler's
// __DATE__ and __TIME__ texts.
void CompileTimestamp(const char* date, const char* time, KIT_String* out);
// text + " " + the compile stamp, in one shared string (not reentrant).
const char* AppendTimestamp(const char* date, const char* time, const char* text);

// The version word: major in bits 16-31, minor in 8-15, patch in 0-7.
void GetVersionParts(int version, int* major, int* minor, int* patch);
int GetDecimalVersion(int version);
// "v2.0.8", "v2.1" or "v2"; out must hold at least 32 characters.
void GetVersionStr(int version, char* out);

// Fires when more than the given number of seconds of processor time have passed.
class Timer {
 public:
  Timer() : mLastTime(std::clock()) {}
  bool Every(double seconds);

 private:
  std::clock_t mLastTime;
};
