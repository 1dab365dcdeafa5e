// The state body: layout, round trip, and all-or-nothing reading of cut, damaged and random bodies.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "src/StateChunk.h"

namespace {

PluginState sampleState() {
  PluginState s;
  s.quickTab = 1.0;
  s.patch.stateBytes = {1, 2, 3, 0, 5};
  s.patch.names = {std::string("Bass\0\0\0\0\0\0\0\0", 12), std::string(12, '\0'), std::string("- INIT -\0\0\0\0", 12),
                   "Vexmir Synth Emulator:MIDI Out", "Vexmir Synth Emulator:MIDI In"};
  s.deviceInNormalized = 0.25;
  s.deviceOutNormalized = 0.5;
  s.bankNormalized = 0.125;
  s.programNormalized = 1.0;
  for (int i = 0; i < kStateParamCount; ++i) s.values.push_back(i * 0.5);
  for (int i = 0; i < kStateReceivedProgramSize; ++i) s.receivedProgram.push_back(static_cast<uint8_t>(255 - i));
  s.receivedGlobal.assign(kStateReceivedGlobalSize, 0x80);
  s.editedBankPath = "/data/Patches/Bank.syx";
  s.editedBankImage = {0xF0, 1, 2, 0xF7};
  s.currentPatch = 57;
  s.editedBankStamp = "38016:99";
  return s;
}

// What a full body carries after the parameter values: the received bytes, the open bank's edits, the selection and
// the stamp of the file the edits were made on.
constexpr int kExtension = kStateReceivedProgramSize + kStateReceivedGlobalSize + 4 + 22 + 4 + 4 + 16 + 4 + 8;

uint32_t bigEndianAt(const ByteChunk& c, int pos) {
  const uint8_t* b = c.GetBytes() + pos;
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

TEST(StateChunk, TheFullBodyHasTheLayoutHostsStore) {
  const PluginState s = sampleState();
  ByteChunk c;
  writeStateBody(&c, s, true);
  EXPECT_EQ(bigEndianAt(c, 0), 4u);
  double q;
  c.Get(&q, 4);
  EXPECT_EQ(q, 1.0);
  EXPECT_EQ(bigEndianAt(c, 12), 1u);
  EXPECT_EQ(bigEndianAt(c, 16), 1u);
  EXPECT_EQ(bigEndianAt(c, 20), 5u);
  int pos = 24 + 5;
  // Names are written up to their first zero: "Bass" is 4 bytes, an empty name 0.
  const int lengths[] = {4, 0, 8, 30, 29};
  for (int len : lengths) {
    int32_t l;
    c.Get(&l, pos);
    EXPECT_EQ(l, len);
    pos += 4 + l;
  }
  const int block = pos - 12;
  double v;
  c.Get(&v, 12 + block);
  EXPECT_EQ(v, 0.25);
  c.Get(&v, 36 + block);
  EXPECT_EQ(v, 1.0);
  c.Get(&v, 44 + block + 472 * 8);
  EXPECT_EQ(v, 236.0);
  const int extension = 44 + block + kStateParamCount * 8;
  EXPECT_EQ(c.GetBytes()[extension], 255);
  EXPECT_EQ(c.GetBytes()[extension + kStateReceivedProgramSize], 0x80);
  int32_t l;
  c.Get(&l, extension + kStateReceivedProgramSize + kStateReceivedGlobalSize);
  EXPECT_EQ(l, 22);
  EXPECT_EQ(c.Size(), extension + kExtension);

  ByteChunk snapshot;
  writeStateBody(&snapshot, s, false);
  EXPECT_EQ(snapshot.Size(), 3796);
  EXPECT_EQ(bigEndianAt(snapshot, 0), 1u);
}

TEST(StateChunk, ABodyReadsBackWithShortNamesExactlyTwelveLong) {
  PluginState s = sampleState();
  s.patch.names[0] = "A name much longer than twelve";
  ByteChunk c;
  const int8_t lead[3] = {7, 7, 7};  // the body may start anywhere in the chunk
  c.PutBytes(lead, 3);
  writeStateBody(&c, s, true);
  PluginState r;
  ASSERT_EQ(readStateBody(c, 3, true, &r), c.Size());
  EXPECT_EQ(r.quickTab, 1.0);
  EXPECT_EQ(r.patch.stateBytes, s.patch.stateBytes);
  EXPECT_EQ(r.patch.names[0], "A name much ");
  EXPECT_EQ(r.patch.names[1], std::string(12, '\0'));
  EXPECT_EQ(r.patch.names[2], s.patch.names[2]);
  EXPECT_EQ(r.patch.names[3], s.patch.names[3]);
  EXPECT_EQ(r.patch.names[4], s.patch.names[4]);
  EXPECT_EQ(r.values, s.values);
  EXPECT_EQ(r.bankNormalized, 0.125);
  EXPECT_TRUE(r.hasReceived);
  EXPECT_EQ(r.receivedProgram, s.receivedProgram);
  EXPECT_EQ(r.receivedGlobal, s.receivedGlobal);
  EXPECT_EQ(r.editedBankPath, s.editedBankPath);
  EXPECT_EQ(r.editedBankImage, s.editedBankImage);
  EXPECT_EQ(r.currentPatch, 57);
  EXPECT_EQ(r.editedBankStamp, "38016:99");

  ByteChunk snapshot;
  writeStateBody(&snapshot, s, false);
  PluginState rs;
  EXPECT_EQ(readStateBody(snapshot, 0, false, &rs), 3796);
  EXPECT_EQ(rs.values, s.values);
  EXPECT_FALSE(rs.hasReceived);

  // The digest tells a rename of the last character, never the spaces that fill a program name.
  std::vector<std::string> d;
  for (const char* name : {"Lead A", "Lead B", "Lead A      ", "Twelve Chars", "Twelve Charz"})
    s.patch.names[0] = name, d.push_back(projectDigest(s));
  EXPECT_TRUE(d[0] != d[1] && d[0] == d[2] && d[3] != d[4]);
}

TEST(StateChunk, EveryCutOfABodyIsRefusedAndLeavesTheTargetAlone) {
  ByteChunk whole;
  writeStateBody(&whole, sampleState(), true);
  for (int size = 0; size < whole.Size(); ++size) {
    ByteChunk cut;
    cut.PutBytes(whole.GetBytes(), size);
    PluginState r;
    r.quickTab = 42;
    ASSERT_EQ(readStateBody(cut, 0, true, &r), -1) << size;
    ASSERT_EQ(r.quickTab, 42) << size;
  }
}

TEST(StateChunk, DamagedCountsLengthsAndValuesAreRefused) {
  ByteChunk whole;
  writeStateBody(&whole, sampleState(), true);
  auto damaged = [&](int pos, const void* bytes, int n) {
    ByteChunk c;
    c.PutBytes(whole.GetBytes(), whole.Size());
    std::memcpy(c.GetBytes() + pos, bytes, static_cast<size_t>(n));
    PluginState r;
    return readStateBody(c, 0, true, &r);
  };
  const uint8_t hugeCount[4] = {0x7F, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(damaged(20, hugeCount, 4), -1);
  const uint8_t countPastEnd[4] = {0x00, 0x00, 0x40, 0x00};
  EXPECT_EQ(damaged(20, countPastEnd, 4), -1);
  const int32_t negative = -8;
  EXPECT_EQ(damaged(29, &negative, 4), -1);
  const int32_t pastEnd = 1 << 20;
  EXPECT_EQ(damaged(29, &pastEnd, 4), -1);
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(damaged(4, &nan, 8), -1);
  EXPECT_EQ(damaged(whole.Size() - kExtension - 8, &inf, 8), -1);
  EXPECT_EQ(damaged(whole.Size() - 36, &pastEnd, 4), -1);
  // A later version is read as this one; version 3 ends before the stamp, version 2 before the selection, version 1
  // with the parameter values.
  const uint8_t version5[4] = {0, 0, 0, 5}, version3[4] = {0, 0, 0, 3}, version2[4] = {0, 0, 0, 2},
                version1[4] = {0, 0, 0, 1};
  EXPECT_EQ(damaged(0, version5, 4), whole.Size());
  EXPECT_EQ(damaged(0, version3, 4), whole.Size() - 12);
  EXPECT_EQ(damaged(0, version2, 4), whole.Size() - 28);
  EXPECT_EQ(damaged(0, version1, 4), whole.Size() - kExtension);
}

TEST(StateChunk, RandomBytesAndRandomEditsNeverReadPastTheChunk) {
  ByteChunk whole;
  writeStateBody(&whole, sampleState(), true);
  std::mt19937 rng(3);
  int accepted = 0;
  for (int run = 0; run < 20000; ++run) {
    ByteChunk c;
    if (run % 2) {
      c.PutBytes(whole.GetBytes(), whole.Size());
      for (int k = 0; k < 4; ++k) c.GetBytes()[rng() % static_cast<unsigned>(c.Size())] = static_cast<uint8_t>(rng());
      c.Resize(static_cast<int>(rng() % static_cast<unsigned>(c.Size() + 16)));
    } else {
      std::vector<uint8_t> bytes(rng() % 5000);
      for (auto& b : bytes) b = static_cast<uint8_t>(rng());
      c.PutBytes(bytes.data(), static_cast<int>(bytes.size()));
    }
    PluginState r;
    const int end = readStateBody(c, 0, true, &r);
    ASSERT_LE(end, c.Size());
    if (end > 0) {
      ++accepted;
      ASSERT_EQ(r.values.size(), static_cast<size_t>(kStateParamCount));
      for (double v : r.values) ASSERT_TRUE(std::isfinite(v));
    }
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
