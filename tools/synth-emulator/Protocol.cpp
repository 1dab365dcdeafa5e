#include "tools/synth-emulator/Protocol.h"

#include <algorithm>

namespace synthemu {

Bytes pack7(const uint8_t* data, size_t n) {
  Bytes out;
  out.reserve(packedSize(n));
  for (size_t unit = 0; unit < n; unit += 7) {
    size_t count = n - unit < 7 ? n - unit : 7;
    uint8_t top = 0;
    for (size_t k = 0; k < count; ++k) top |= static_cast<uint8_t>(((data[unit + k] >> 7) & 1) << k);
    out.push_back(top);
    for (size_t k = 0; k < count; ++k) out.push_back(data[unit + k] & 0x7F);
  }
  return out;
}

bool unpack7(const uint8_t* packed, size_t packedLength, size_t count, uint8_t* out) {
  if (packedLength < packedSize(count)) return false;
  size_t pos = 0;
  for (size_t unit = 0; unit < count; unit += 7) {
    size_t n = count - unit < 7 ? count - unit : 7;
    uint8_t top = packed[pos++];
    if (top & 0x80) return false;
    for (size_t k = 0; k < n; ++k) {
      uint8_t b = packed[pos++];
      if (b & 0x80) return false;
      out[unit + k] = static_cast<uint8_t>(b | (((top >> k) & 1) << 7));
    }
  }
  return true;
}

Bytes sysexMessage(int channel, uint8_t function, const Bytes& payload) {
  // Sized once and filled by index: appending to a vector made from an initializer list makes g++ 12 warn about
  // a copy out of bounds that cannot happen (-Warray-bounds, optimised builds).
  Bytes m(payload.size() + 6);
  m[0] = 0xF0;
  m[1] = kKorgId;
  m[2] = static_cast<uint8_t>(0x30 | (channel & 0x0F));
  m[3] = kModelId;
  m[4] = function;
  std::copy(payload.begin(), payload.end(), m.begin() + 5);
  m.back() = 0xF7;
  return m;
}

}  // namespace synthemu
