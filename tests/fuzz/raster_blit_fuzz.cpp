// Every blit, fill and walk with coordinates, sizes, scales, angles and modes taken from the input must stay inside
// both bitmaps (the sanitizers watch every access).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "KIT/pix/pix.h"
#include "tests/fuzz/fuzz_reader.h"
#include "tests/raster/raster_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzztest::Reader r{data, size};
  rastertest::GuardedBitmap src(r.take<uint8_t>() % 24, r.take<uint8_t>() % 24, r.take<uint8_t>() & 1);
  rastertest::GuardedBitmap dest(r.take<uint8_t>() % 24, r.take<uint8_t>() % 24, r.take<uint8_t>() & 1);
  const int modes[] = {0, 1, 2, 3, 4, 5, 6, 0x10000, 0x10003, 0x10005, 0x100, 0x10100, 0x104, 0xF7, 0xFB};
  while (r.left > 0) {
    const int op = r.take<uint8_t>() % 9;
    const int mode = modes[r.take<uint8_t>() % 15];
    const float alpha = r.f();
    switch (op) {
      case 0:
        PIX_FillRect(&dest, r.any(), r.any(), r.any(), r.any(), r.take<uint32_t>(), alpha, mode);
        break;
      case 1:
        PIX_Blit(&dest, &src, r.any(), r.any(), r.any(), r.any(), r.any(), r.any(), alpha, mode);
        break;
      case 2:
        PIX_ScaledBlit(&dest, &src, r.any(), r.any(), r.any(), r.any(), r.f(), r.f(), r.f(), r.f(), alpha, mode);
        break;
      case 3:
        PIX_RotatedBlit(&dest, &src, r.any(), r.any(), r.any(), r.any(), r.f(), r.f(), r.f(), r.f(), r.f(),
                        r.take<uint8_t>() & 1, alpha, mode, r.f(), r.f());
        break;
      case 4:
        PIX_DeltaBlit(&dest, &src, r.any(), r.any(), r.any(), r.any(), r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), r.f(),
                      r.f(), r.f(), r.f(), r.take<uint8_t>() & 1, alpha, mode);
        break;
      case 5:
        PIX_Blur(&dest, (r.take<uint8_t>() & 1) ? &dest : &src, r.any(), r.any(), r.any(), r.any(), r.any(), r.any());
        break;
      case 6: {
        float grid[18];
        for (float& g : grid) g = r.f();
        PIX_TransformBlit(&dest, &src, r.any(), r.any(), r.any(), r.any(), grid, 2 + r.take<uint8_t>() % 2,
                          2 + r.take<uint8_t>() % 2, alpha, mode);
        break;
      }
      case 7:
        PIX_GradRect(&dest, r.any(), r.any(), r.any(), r.any(), r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), r.f(),
                     r.f(), r.f(), r.f(), r.f(), mode);
        break;
      default:
        PIX_PutPixel(&dest, r.any(), r.any(), r.take<uint32_t>(), alpha, mode);
        break;
    }
  }
  return 0;
}
