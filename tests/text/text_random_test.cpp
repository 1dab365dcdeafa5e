// Seeded random text cases: arbitrary bytes (cut and invalid UTF-8, "&", carriage returns and line feeds), any
// length, rectangle, flags and font flags. Under the sanitizers nothing may be read or written out of bounds, and
// with clipping no pixel may change outside the rectangle.
#include <gtest/gtest.h>

#include <random>

#include "text_fuzz_case.h"

namespace {

std::vector<uint8_t> makeCase(uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(17 + rng() % 48);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  // Bias the text towards characters that have rules of their own.
  static const uint8_t special[] = {'&', '\r', '\n', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 'A', 'g', ' '};
  for (size_t i = 17; i < bytes.size(); ++i)
    if (rng() % 2) bytes[i] = special[rng() % sizeof(special)];
  bytes[5] = static_cast<uint8_t>(6 + rng() % 30);  // mostly readable font sizes
  return bytes;
}

// Inputs the fuzz target once stopped at.
const std::vector<uint8_t> kRegressions[] = {
    // A rectangle given right to left, inverted coverage, "f" without a terminator.
    {0x0f, 0x28, 0x28, 0x2a, 0xff, 0xff, 0xff, 0x02, 0x2f, 0x0f, 0x00, 0x3d, 0x32, 0x66},
};

TEST(TextRandom, RegressionInputs) {
  for (const std::vector<uint8_t>& c : kRegressions) EXPECT_EQ(textfuzz::runCase(c.data(), c.size()), 0);
}

TEST(TextRandom, ArbitraryBytesStayInBoundsAndInsideTheRectangle) {
  for (uint32_t seed = 1; seed <= 1000; ++seed) {
    const std::vector<uint8_t> c = makeCase(seed);
    EXPECT_EQ(textfuzz::runCase(c.data(), c.size()), 0) << "case " << seed;
  }
}

}  // namespace
