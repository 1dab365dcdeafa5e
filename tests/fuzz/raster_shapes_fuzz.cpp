// Every line, polygon, circle, arc, glyph and curve operation with coordinates, radii, angles, alphas and modes
// taken from the input, drawn into a window of a larger block: nothing may change outside the window, and the
// sanitizers watch every access and every integer operation.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KIT/pix/pix.h"
#include "tests/fuzz/fuzz_reader.h"

namespace {

const int kMargin = 2;

// A w x h window at (kMargin, kMargin) of a block whose rows are the window's rows.
class WindowBitmap : public PIX_IBitmap {
 public:
  WindowBitmap(int w, int h, bool flipped)
      : w_(w), h_(h), span_(w + 2 * kMargin), flipped_(flipped), block_((size_t)span_ * (h + 2 * kMargin)) {
    for (size_t i = 0; i < block_.size(); i++) block_[i] = (PIX_pixel)(i * 2654435761u);
    before_ = block_;
  }
  PIX_pixel* getBits() override { return w_ > 0 && h_ > 0 ? block_.data() + kMargin * span_ + kMargin : nullptr; }
  int getWidth() override { return w_; }
  int getHeight() override { return h_; }
  int getRowSpan() override { return span_; }
  bool isFlipped() override { return flipped_; }
  bool resize(int, int) override { return false; }
  bool outsideUntouched() const {
    for (int y = 0; y < h_ + 2 * kMargin; y++)
      for (int x = 0; x < span_; x++) {
        const bool in = x >= kMargin && x < kMargin + w_ && y >= kMargin && y < kMargin + h_;
        if (!in && block_[(size_t)y * span_ + x] != before_[(size_t)y * span_ + x]) return false;
      }
    return true;
  }

 private:
  int w_, h_, span_;
  bool flipped_;
  std::vector<PIX_pixel> block_, before_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzztest::Reader r{data, size};
  WindowBitmap dest(r.take<uint8_t>() % 20, r.take<uint8_t>() % 20, r.take<uint8_t>() & 1);
  const int modes[] = {0, 1, 2, 3, 4, 5, 6, 0x10000, 0x10003, 0x100, 0xFF};
  unsigned char mask[64];
  for (int i = 0; i < 64; i++) mask[i] = (unsigned char)(i * 37);
  while (r.left > 0) {
    const int op = r.take<uint8_t>() % 16;
    const int mode = modes[r.take<uint8_t>() % 11];
    const float alpha = r.f();
    const unsigned int c = r.take<uint32_t>();
    const bool aa = r.take<uint8_t>() & 1;
    switch (op) {
      case 0:
        PIX_Line(&dest, r.any(), r.any(), r.any(), r.any(), c, alpha, mode, aa);
        break;
      case 1:
        PIX_DrawRect(&dest, r.any(), r.any(), r.any(), r.any(), c, alpha, mode);
        break;
      case 2:
        PIX_FLine(&dest, r.f(), r.f(), r.f(), r.f(), c, alpha, mode, aa);
        break;
      case 3:
        PIX_DashedLine(&dest, r.any(), r.any(), r.any(), r.any(), r.any(), r.any(), c, alpha, mode, aa);
        break;
      case 4:
        PIX_FillTrapezoid(&dest, r.any(), r.any(), r.any(), r.any(), r.any(), r.any(), c, alpha, mode);
        break;
      case 5: {
        const int n = r.take<uint8_t>() % 12;
        int xs[12], ys[12];
        for (int i = 0; i < n; i++) xs[i] = r.any(), ys[i] = r.any();
        PIX_FillConvexPolygon(&dest, xs, ys, n, c, alpha, mode);
        break;
      }
      case 6:
        PIX_Circle(&dest, r.f(), r.f(), r.f(), c, alpha, mode, aa);
        break;
      case 7:
        PIX_FillCircle(&dest, r.f(), r.f(), r.f(), c, alpha, mode, aa);
        break;
      case 8:
        PIX_Arc(&dest, r.f(), r.f(), r.f(), r.f(), r.f(), c, alpha, mode, aa);
        break;
      case 9:
        PIX_RoundRect(&dest, r.f(), r.f(), r.f(), r.f(), r.any(), c, alpha, mode, aa);
        break;
      case 10:
        PIX_DrawGlyphEx(&dest, r.any(), r.any(), c, mask, r.take<uint8_t>() % 8, 8, r.take<uint8_t>() % 8, alpha, mode);
        break;
      case 11:
        PIX_DrawQBezier(&dest, r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), c, alpha, mode, aa, r.f());
        break;
      case 12:
        PIX_DrawCBezier(&dest, r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), c, alpha, mode, aa, r.f());
        break;
      case 13:
        PIX_FillCBezier(&dest, r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), r.any(), c, alpha, mode, r.f());
        break;
      case 14:
        PIX_FillCBezierX(&dest, r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), r.f(), r.any(), c, alpha, mode, r.f());
        break;
      default:
        PIX_FillTriangle(&dest, r.any(), r.any(), r.any(), r.any(), r.any(), r.any(), c, alpha, mode);
        break;
    }
  }
  if (!dest.outsideUntouched()) abort();
  return 0;
}
