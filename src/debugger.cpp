#include "src/debugger.h"

#include <cstdio>
#include <ctime>

#include "src/PatchLibrarianFiles.h"
#include "src/Vexmir.h"

// The log is a file the user may replace by anything: a pipe or device under its name is left alone
// rather than waited on (the host is creating the plug-in meanwhile).
bool DebuggerOutput::openDebugFile(const std::string& path) {
  std::FILE* f = librarianfiles::openRegular(path, "r");
  if (!f) return false;
  std::fclose(f);
  f = librarianfiles::openRegular(path, "w");
  if (f) std::fclose(f);
  return true;
}

void DebuggerOutput::printDebugInfo(const std::string& path, const std::string& text) {
  std::FILE* f = librarianfiles::openRegular(path, "a");
  if (!f) return;
  char stamp[80];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  if (std::strftime(stamp, sizeof stamp, "%Y-%m-%d.%X", &local) == 0) stamp[0] = '\0';
  // One write per line keeps lines from different threads whole in most cases.
  std::string line = std::string(stamp) + "\t " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);
}

void DebuggerOutput::logSysExOutMessageByte(const unsigned char*, int) {}

bool DebuggerOutput::compareMIDIdata(Vexmir* plug, IMidiMsg msg) {
  if (!plug) return false;
  int* last = plug->lastComparedMidi;
  bool differs = last[0] != msg.mStatus || last[1] != msg.mData1 || last[2] != msg.mData2;
  last[0] = msg.mStatus;
  last[1] = msg.mData1;
  last[2] = msg.mData2;
  return differs;
}
