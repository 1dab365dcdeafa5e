#include "src/debugger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "platform/bundle/bundle.h"
#include "src/Vexmir.h"

bool DebuggerOutput::openDebugFile(const std::string& path) {
  // Only a log that is a file turns logging on, and a start empties it.
  const int fd = platform::openDataFile(path, O_WRONLY | O_TRUNC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

void DebuggerOutput::printDebugInfo(const std::string& path, const std::string& text) {
  // Made again when it was deleted while logging is on; never a pipe or a folder in its place.
  const int fd = platform::openDataFile(path, O_WRONLY | O_APPEND | O_CREAT);
  if (fd < 0) return;
  char stamp[80];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  if (std::strftime(stamp, sizeof stamp, "%Y-%m-%d.%X", &local) == 0) stamp[0] = '\0';
  // One write per line keeps lines from different threads whole in most cases.
  std::string line = std::string(stamp) + "\t " + text + "\n";
  const ssize_t written = ::write(fd, line.data(), line.size());
  (void)written;  // a log line that cannot be written is lost, nothing else
  ::close(fd);
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
