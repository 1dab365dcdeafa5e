#include "KIT/heapbuf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct GrowthCase {
  int granularity;
  int minAllocation;
  int size;
  int allocation;
};

// Allocations pinned for the growth rule: small granularities grow by max(size/2, granularity); from 4096 on the
// allocation is whole pages less 96 bytes, with the step between 4096 and 4 MiB.
const GrowthCase kGrowth[] = {
    {16, 0, 10, 26},       {16, 0, 100, 150},     {4095, 0, 1, 4096},        {4096, 0, 1, 4000},
    {4096, 0, 4000, 8096}, {4096, 0, 4001, 8096}, {4096, 0, 100000, 147360}, {4096, 0, 20000000, 24190880},
    {10000, 0, 1, 8096},   {16, 1000, 10, 1000},  {4096, 9000, 1, 9000},
};

TEST(HeapBuf, FirstResizeAllocatesByTheGrowthRule) {
  for (const GrowthCase& c : kGrowth) {
    KIT_HeapBuf b(c.granularity, c.minAllocation);
    ASSERT_NE(b.Resize(c.size), nullptr);
    EXPECT_EQ(b.GetSize(), c.size);
    EXPECT_EQ(b.GetAllocated(), c.allocation) << "granularity " << c.granularity << " size " << c.size;
  }
}

TEST(HeapBuf, GrowingWithinTheAllocationKeepsTheBlock) {
  KIT_HeapBuf b(4096);
  void* p = b.Resize(10);
  EXPECT_EQ(b.Resize(4000), p);
  EXPECT_EQ(b.GetAllocated(), 4000);
  b.Resize(4001);
  EXPECT_EQ(b.GetAllocated(), 8096);
}

struct ShrinkCase {
  int granularity;
  int from;
  int to;
  bool allowShrink;
  int allocation;
};

// Shrinking reallocates only when allowed and the new size is below the old size, half the allocation and the
// allocation less four granularities.
const ShrinkCase kShrink[] = {
    {16, 1000, 100, true, 150},      {16, 1000, 100, false, 1500},       {16, 1000, 700, true, 1050},
    {16, 1000, 800, true, 1500},     {4096, 100000, 10000, true, 12192}, {4096, 100000, 0, true, 4000},
    {4096, 10000, 100, true, 12192},  // 100 is not below 12192 - 4 * 4096
};

TEST(HeapBuf, ShrinksOnlyWhenAllowedAndFarBelowTheAllocation) {
  for (const ShrinkCase& c : kShrink) {
    KIT_HeapBuf b(c.granularity);
    b.Resize(c.from);
    b.Resize(c.to, c.allowShrink);
    EXPECT_EQ(b.GetSize(), c.to);
    EXPECT_EQ(b.GetAllocated(), c.allocation) << c.granularity << ": " << c.from << " -> " << c.to;
  }
}

TEST(HeapBuf, ContentsSurviveGrowthAndShrink) {
  KIT_HeapBuf b(16);
  unsigned char* p = static_cast<unsigned char*>(b.Resize(300));
  for (int i = 0; i < 300; ++i) p[i] = static_cast<unsigned char>(i * 7);
  p = static_cast<unsigned char*>(b.Resize(5000));
  for (int i = 0; i < 300; ++i) ASSERT_EQ(p[i], static_cast<unsigned char>(i * 7));
  p = static_cast<unsigned char*>(b.Resize(20, true));
  for (int i = 0; i < 20; ++i) ASSERT_EQ(p[i], static_cast<unsigned char>(i * 7));
}

TEST(HeapBuf, SizeZeroGivesNull) {
  KIT_HeapBuf b;
  EXPECT_EQ(b.Get(), nullptr);
  b.Resize(10);
  EXPECT_EQ(b.Resize(0), nullptr);
  EXPECT_EQ(b.GetSize(), 0);
}

// Allocation failures, switched on per test.
bool g_failRealloc = false;
bool g_failMalloc = false;
int g_mallocCalls = 0;
void* testRealloc(void* p, size_t n) {
  return g_failRealloc ? nullptr : std::realloc(p, n);
}
void* testMalloc(size_t n) {
  ++g_mallocCalls;
  return g_failMalloc ? nullptr : std::malloc(n);
}

class HeapBufFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    g_failRealloc = g_failMalloc = false;
    g_mallocCalls = 0;
    old_ = KIT_SetHeapAllocator({testRealloc, testMalloc, std::free});
  }
  void TearDown() override { KIT_SetHeapAllocator(old_); }
  KIT_HeapAllocator old_{};
};

TEST_F(HeapBufFailure, FailedReallocFallsBackToAFreshBlockWithTheContents) {
  KIT_HeapBuf b(16);
  char* p = static_cast<char*>(b.Resize(10));
  std::memcpy(p, "0123456789", 10);
  g_failRealloc = true;
  char* q = static_cast<char*>(b.Resize(1000));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(g_mallocCalls, 1);
  EXPECT_EQ(b.GetSize(), 1000);
  EXPECT_EQ(b.GetAllocated(), 1500);
  EXPECT_EQ(std::memcmp(q, "0123456789", 10), 0);
}

TEST_F(HeapBufFailure, WhenNoMemoryCanBeHadNothingChanges) {
  KIT_HeapBuf b(16);
  char* p = static_cast<char*>(b.Resize(10));
  std::memcpy(p, "abcdefghij", 10);
  g_failRealloc = g_failMalloc = true;
  EXPECT_EQ(b.Resize(1000), p);
  EXPECT_EQ(b.GetSize(), 10);
  EXPECT_EQ(b.GetAllocated(), 26);
  EXPECT_EQ(b.Add(nullptr, 100), nullptr);
  EXPECT_EQ(b.GetSize(), 10);
  EXPECT_EQ(std::memcmp(p, "abcdefghij", 10), 0);
}

TEST(HeapBuf, SizesBeyondIntRangeFailInsteadOfOverflowing) {
  KIT_HeapBuf b(4096);
  b.Resize(10);
  EXPECT_EQ(KIT_HeapBuf::AllocationFor(0x7ffff000LL, 4096, 0), -1);
  b.Resize(0x7ffff000);
  EXPECT_EQ(b.GetSize(), 10);
  b.Resize(-5);
  EXPECT_EQ(b.GetSize(), 10);
}

TEST(HeapBuf, AddAndInsertAcceptDataFromTheBufferItself) {
  KIT_HeapBuf b(16);
  b.Add("abcd", 4);
  // Each Add may move the block: the source must be read from its new place.
  for (int i = 0; i < 6; ++i) b.Add(b.Get(), b.GetSize());
  ASSERT_EQ(b.GetSize(), 4 * 64);
  for (int i = 0; i < b.GetSize(); ++i) ASSERT_EQ(static_cast<char*>(b.Get())[i], "abcd"[i % 4]);

  KIT_HeapBuf c(16);
  c.Add("0123", 4);
  c.Insert(static_cast<char*>(c.Get()) + 1, 2, 1);  // "12" inserted at 1
  EXPECT_EQ(std::string(static_cast<char*>(c.Get()), c.GetSize()), "012123");
  c.Remove(1, 3);
  EXPECT_EQ(std::string(static_cast<char*>(c.Get()), c.GetSize()), "023");
}

TEST(HeapBuf, CopiesAreDeep) {
  KIT_HeapBuf a(16);
  a.Add("hello", 5);
  KIT_HeapBuf b(a);
  static_cast<char*>(a.Get())[0] = 'j';
  EXPECT_EQ(std::string(static_cast<char*>(b.Get()), 5), "hello");
  KIT_HeapBuf c(std::move(a));
  EXPECT_EQ(a.GetSize(), 0);
  EXPECT_EQ(std::string(static_cast<char*>(c.Get()), 5), "jello");
}

TEST(TypedBuf, CountsInElements) {
  KIT_TypedBuf<double> t;
  for (int i = 0; i < 1000; ++i) ASSERT_NE(t.Add(i * 0.5), nullptr);
  EXPECT_EQ(t.GetSize(), 1000);
  EXPECT_EQ(t.Buffer().GetSize(), 8000);
  t.Insert(-1.0, 0);
  t.Delete(1000);
  EXPECT_EQ(t.GetSize(), 1000);
  EXPECT_EQ(t.Get()[0], -1.0);
  EXPECT_EQ(t.Get()[999], 998 * 0.5);
  t.Resize(3);
  EXPECT_EQ(t.GetSize(), 3);
  t.Empty();
  EXPECT_EQ(t.GetSize(), 0);
  EXPECT_EQ(t.Get(), nullptr);
}

}  // namespace

namespace {

// Random edits applied both to the buffer and to a std::string model must leave the same bytes, whatever the
// granularity (small, page-sized, odd) and whatever mix of growth and shrinking.
TEST(HeapBuf, RandomEditsMatchAPlainModel) {
  const int granularities[] = {1, 16, 4095, 4096, 10000};
  for (int g : granularities) {
    KIT_HeapBuf b(g);
    std::string model;
    unsigned seed = 12345u + static_cast<unsigned>(g);
    auto next = [&seed] {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 8) & 0xffffff;
    };
    for (int step = 0; step < 4000; ++step) {
      const int op = static_cast<int>(next() % 5);
      const int n = static_cast<int>(next() % 3000);
      if (op == 0) {
        std::string add(static_cast<size_t>(n), static_cast<char>('a' + step % 26));
        ASSERT_NE(b.Add(add.data(), n), nullptr);
        model += add;
      } else if (op == 1) {
        const int pos = model.empty() ? 0 : static_cast<int>(next() % (model.size() + 1));
        std::string ins(static_cast<size_t>(n % 100), static_cast<char>('A' + step % 26));
        b.Insert(ins.data(), static_cast<int>(ins.size()), pos);
        model.insert(static_cast<size_t>(pos), ins);
      } else if (op == 2 && !model.empty()) {
        const int pos = static_cast<int>(next() % model.size());
        b.Remove(pos, n);
        model.erase(static_cast<size_t>(pos), static_cast<size_t>(n));
      } else if (op == 3) {
        const int size = static_cast<int>(next() % (model.size() + 1));
        b.Resize(size, (next() & 1) != 0);
        model.resize(static_cast<size_t>(size));
      } else if (op == 4 && model.size() > 20000) {
        b.Resize(n % 50, true);
        model.resize(static_cast<size_t>(n % 50));
      }
      ASSERT_EQ(b.GetSize(), static_cast<int>(model.size())) << "granularity " << g << " step " << step;
      ASSERT_GE(b.GetAllocated(), b.GetSize());
      if (!model.empty()) {
        ASSERT_EQ(std::memcmp(b.Get(), model.data(), model.size()), 0) << g << " step " << step;
      }
    }
  }
}

}  // namespace
