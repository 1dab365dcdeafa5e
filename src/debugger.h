// The debug log that every part of the editor writes through. Logging is on for an instance
// only when the log file already existed when the instance started.
#pragma once

#include <string>

#include "KIT/IEffect/IEffectStructs.h"

class Vexmir;

class DebuggerOutput {
 public:
  // True when the file at path exists and can be read; it is then emptied. Nothing is created.
  static bool openDebugFile(const std::string& path);
  // Appends "<local time>\t <text>\n" (time as %Y-%m-%d.%X); creates the file when it went
  // missing. Any thread; callers test the instance's log flag first.
  static void printDebugInfo(const std::string& path, const std::string& text);
  // Kept for the SysEx send path; the bytes are not logged.
  static void logSysExOutMessageByte(const unsigned char* bytes, int length);
  // True when status or data bytes differ from the last message compared for this plug-in.
  static bool compareMIDIdata(Vexmir* plug, IMidiMsg msg);
};
