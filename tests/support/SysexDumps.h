// The synthesizer's exclusive messages as the tests build and read them: dumps, their data bytes packed seven into
// eight after the header F0 42 3g 58 <function> and closed by F7, and a SysEx send as it goes out.
#pragma once

#include <cstdint>
#include <vector>

#include "src/ProgramDump.h"

namespace vexmir::testsupport {

using Bytes = std::vector<uint8_t>;

// The dump of `data` with the given function (0x40: a program, 0x51: the global data) on channel `channel`.
inline Bytes dumpOf(const Bytes& data, uint8_t function = 0x40, int channel = 0) {
  Bytes msg = {0xF0, 0x42, static_cast<uint8_t>(0x30 + channel), 0x58, function};
  msg.resize(5 + data.size() + (data.size() + 6) / 7 + 1);
  packData(data.data(), static_cast<int>(data.size()), msg.data() + 5);
  msg.back() = 0xF7;
  return msg;
}

// The bytes a SysEx send puts on the wire: F0 and F7 added where the buffer lacks them.
inline Bytes framedSysex(const unsigned char* b, int n) {
  Bytes framed;
  if (n <= 0) return framed;
  if (b[0] != 0xF0) framed.push_back(0xF0);
  framed.insert(framed.end(), b, b + n);
  if (b[n - 1] != 0xF7) framed.push_back(0xF7);
  return framed;
}

// The first `size` data bytes of a dump (all of a program dump's by default).
inline Bytes dataOf(const Bytes& dump, int size = kProgramDataSize) {
  Bytes data(static_cast<size_t>(size));
  unpackData(dump.data() + 5, size, data.data());
  return data;
}

}  // namespace vexmir::testsupport
