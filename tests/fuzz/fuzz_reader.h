// Turns a fuzzer's input into the arguments of the operations it drives. Past the end every value reads as zero,
// so that any input is a complete run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzztest {

struct Reader {
  const uint8_t* p;
  size_t left;
  template <class T>
  T take() {
    T v{};
    size_t n = left < sizeof(T) ? left : sizeof(T);
    memcpy(&v, p, n);
    p += n, left -= n;
    return v;
  }
  int small() { return (int)(int8_t)take<uint8_t>(); }
  int any() { return (take<uint8_t>() & 1) ? take<int32_t>() : small(); }
  float f() { return (take<uint8_t>() & 1) ? take<float>() : small() * 0.37f; }
};

}  // namespace fuzztest
