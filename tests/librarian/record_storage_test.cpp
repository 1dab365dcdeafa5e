// The storage of program records: message bytes kept in the record up to a program dump's size and on
// the heap beyond it, and a program's messages kept in the record while there is one. Both must behave
// as the vectors they stand in for, across every change of where the bytes live.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "src/LibrarianPatch.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes counting(size_t size, uint8_t first = 1) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(first + i * 7);
  return b;
}

}  // namespace

TEST(RecordStorage, MessageBytesActLikeAVectorWhereverTheyLive) {
  // Sizes on both sides of the inline capacity (a program dump), and moves between the two.
  const size_t kInline = SysexBytes::kInlineCapacity;
  const struct {
    size_t from, to;
  } cases[] = {{0, 2}, {2, 0}, {297, 297}, {297, 298}, {298, 297}, {100, 1000}, {1000, 10}, {1000, 2000}, {0, 0}};
  ASSERT_EQ(kInline, 297u);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to));
    const Bytes original = counting(c.from);
    SysexBytes bytes(original);
    EXPECT_EQ(bytes, original);
    EXPECT_EQ(bytes.size(), c.from);

    // A copy shares nothing.
    SysexBytes copy = bytes;
    if (!copy.empty()) copy[0] ^= 0xFF;
    EXPECT_EQ(bytes, original);

    // Resizing keeps the bytes that stay and zero-fills the new ones, as a vector does.
    Bytes expected = original;
    expected.resize(c.to);
    bytes.resize(c.to);
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(bytes.toVector(), expected);

    // Assigning a message its own bytes (or part of them) keeps them.
    if (bytes.size() > 1) {
      const Bytes tail(expected.begin() + 1, expected.end());
      bytes.assign(bytes.data() + 1, bytes.size() - 1);
      EXPECT_EQ(bytes, tail);
    }

    // A move takes the bytes and leaves an empty message.
    SysexBytes moved(std::move(copy));
    EXPECT_EQ(moved.size(), c.from);
    EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): the state after a move is specified
    SysexBytes target(counting(500, 9));
    target = std::move(moved);
    EXPECT_EQ(target.size(), c.from);
    if (c.from > 0) {
      EXPECT_EQ(target[0], static_cast<uint8_t>(original[0] ^ 0xFF));
    }
  }
}

TEST(RecordStorage, ProgramMessagesKeepOrderAndIndependence) {
  const Bytes dump = counting(297);
  const Bytes longMessage = counting(400, 3);
  const Bytes shortMessage = counting(12, 5);
  for (int count = 0; count <= 3; ++count) {
    SCOPED_TRACE(count);
    const Bytes all[] = {dump, longMessage, shortMessage};
    LibrarianPatch patch;
    for (int m = 0; m < count; ++m) patch.messages.push_back(all[m]);
    ASSERT_EQ(patch.messages.size(), static_cast<size_t>(count));
    EXPECT_EQ(patch.messages.empty(), count == 0);
    int seen = 0;
    for (const PatchSysexMessage& m : patch.messages) EXPECT_EQ(m.data, all[seen++]);
    EXPECT_EQ(seen, count);

    // Copies are equal and independent.
    LibrarianPatch copy = patch;
    EXPECT_EQ(copy.messages, patch.messages);
    if (count > 0) {
      copy.messages.back().data[0] ^= 1;
      EXPECT_NE(copy.messages, patch.messages);
      EXPECT_EQ(patch.messages.back().data, all[count - 1]);
    }

    // A program's own message appended again, while the first move to the heap.
    if (count > 0) {
      copy = patch;
      copy.messages.push_back(copy.messages[0]);
      ASSERT_EQ(copy.messages.size(), static_cast<size_t>(count + 1));
      EXPECT_EQ(copy.messages.back().data, dump);
      EXPECT_EQ(copy.messages.front().data, dump);
    }

    // Records in a growing vector keep their messages when they are moved.
    std::vector<LibrarianPatch> records;
    for (int r = 0; r < 40; ++r) records.push_back(patch);
    for (const LibrarianPatch& r : records) EXPECT_EQ(r.messages, patch.messages);

    LibrarianPatch moved = std::move(copy);
    EXPECT_TRUE(copy.messages.empty());  // NOLINT(bugprone-use-after-move)
    moved.messages.clear();
    EXPECT_TRUE(moved.messages.empty());
    moved.messages.push_back(shortMessage);
    EXPECT_EQ(moved.messages.size(), 1u);
    EXPECT_EQ(moved.messages[0].data, shortMessage);
  }
}
