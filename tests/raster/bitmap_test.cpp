#include <gtest/gtest.h>

#include <cstdint>

#include "KIT/pix/pix.h"

namespace {

bool aligned64(const void* p) {
  return ((uintptr_t)p & 63) == 0;
}

TEST(PixelLayout, BytesInMemoryAreAlphaRedGreenBlue) {
  PIX_pixel p = PIX_RGBA(0x11, 0x22, 0x33, 0x44);
  const unsigned char* b = (const unsigned char*)&p;
  EXPECT_EQ(b[PIX_BYTE_A], 0x44);
  EXPECT_EQ(b[PIX_BYTE_R], 0x11);
  EXPECT_EQ(b[PIX_BYTE_G], 0x22);
  EXPECT_EQ(b[PIX_BYTE_B], 0x33);
  EXPECT_EQ(p, 0x33221144u);
  EXPECT_EQ(PIX_GETR(p), 0x11u);
  EXPECT_EQ(PIX_GETG(p), 0x22u);
  EXPECT_EQ(PIX_GETB(p), 0x33u);
  EXPECT_EQ(PIX_GETA(p), 0x44u);
}

TEST(MemBitmap, RowsArePaddedToTheAlignmentAndPixelsStartOn64Bytes) {
  struct Row {
    int w, h;
    unsigned align;
    int span, bytes;
  } rows[] = {
      {10, 3, 4, 12, 144}, {10, 3, 0, 10, 120},  {10, 3, 1, 10, 120},  {10, 3, 2, 10, 120},
      {9, 2, 2, 10, 80},   {10, 3, 16, 16, 192}, {10, 3, 64, 16, 192}, {10, 3, 12, 12, 144},  // 12: lowest bit 4
  };
  for (const Row& r : rows) {
    PIX_MemBitmap bm(r.w, r.h, r.align);
    SCOPED_TRACE(testing::Message() << r.w << "x" << r.h << " align " << r.align);
    EXPECT_EQ(bm.getWidth(), r.w);
    EXPECT_EQ(bm.getHeight(), r.h);
    EXPECT_EQ(bm.getRowSpan(), r.span);
    EXPECT_EQ(bm.getAllocatedBytes(), r.bytes);
    ASSERT_NE(bm.getBits(), nullptr);
    EXPECT_TRUE(aligned64(bm.getBits()));
    EXPECT_FALSE(bm.isFlipped());
    EXPECT_EQ(bm.getDC(), nullptr);
    EXPECT_EQ(bm.Extended(1, nullptr), 0);
    EXPECT_FALSE(bm.resize(r.w, r.h));
  }
}

TEST(MemBitmap, GrowsByAQuarterAndNeverShrinks) {
  PIX_MemBitmap bm(4, 4, 4);
  EXPECT_EQ(bm.getAllocatedBytes(), 64);
  EXPECT_TRUE(bm.resize(8, 8));
  EXPECT_EQ(bm.getAllocatedBytes(), 320);
  EXPECT_TRUE(aligned64(bm.getBits()));
  EXPECT_TRUE(bm.resize(4, 4));
  EXPECT_EQ(bm.getAllocatedBytes(), 320);
  EXPECT_EQ(bm.getWidth(), 4);
  // Every pixel of the grown bitmap is writable (the sanitizer build checks the bounds).
  EXPECT_TRUE(bm.resize(9, 8));
  for (int i = 0; i < bm.getRowSpan() * bm.getHeight(); i++) bm.getBits()[i] = 0xFFFFFFFF;
}

TEST(MemBitmap, DegenerateSizesLeaveAnEmptyBitmap) {
  struct Row {
    int w, h;
  } rows[] = {
      {0, 5}, {5, 0}, {-10, 5}, {5, -10}, {-10, -10}, {0x7FFFFFFF, 0x7FFFFFFF}, {100000, 100000}, {-2147483647 - 1, 2}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.w << "x" << r.h);
    PIX_MemBitmap bm(r.w, r.h, 4);
    EXPECT_EQ(bm.getBits(), nullptr);
    EXPECT_EQ(bm.getWidth(), 0);
    EXPECT_EQ(bm.getHeight(), 0);
    PIX_MemBitmap grown(8, 8, 4);
    EXPECT_TRUE(grown.resize(r.w, r.h));
    EXPECT_EQ(grown.getBits(), nullptr);
    EXPECT_EQ(grown.getWidth(), 0);
    EXPECT_EQ(grown.getHeight(), 0);
  }
  PIX_MemBitmap empty;
  EXPECT_EQ(empty.getBits(), nullptr);
  EXPECT_EQ(empty.getRowSpan(), 0);
}

}  // namespace
