// The global dump: the fields the editor mirrors, read and written at their positions over the template.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "src/GlobalDump.h"
#include "src/ProgramDump.h"
#include "src/VexmirParams.h"
#include "tests/codec/codec_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes build(const std::vector<double>& v, uint8_t device = 0x30) {
  Bytes out(kGlobalDumpSize);
  buildGlobalDump(v.data(), device, out.data());
  return out;
}

Bytes templ() {
  return Bytes(globalDumpTemplate(), globalDumpTemplate() + kGlobalDumpSize);
}

TEST(GlobalDump, TemplateIsAWholeDump) {
  Bytes t = templ();
  EXPECT_EQ(t[0], 0xF0);
  EXPECT_EQ(t[1], 0x42);
  EXPECT_EQ(t[2], 0x30);
  EXPECT_EQ(t[3], 0x58);
  EXPECT_EQ(t[4], 0x51);
  EXPECT_EQ(t[234], 0xF7);
  for (int i = 1; i < 234; ++i) EXPECT_EQ(t[i] & 0x80, 0) << i;
  // Unpacked: controller numbers from data byte 18, zeros 59..71, then 0..127 in order.
  uint8_t data[kGlobalDataSize];
  unpackData(t.data() + 5, kGlobalDataSize, data);
  EXPECT_EQ(data[18], 5);
  EXPECT_EQ(data[19], 77);
  EXPECT_EQ(data[20], 14);
  for (int i = 59; i <= 71; ++i) EXPECT_EQ(data[i], 0) << i;
  for (int i = 72; i < 200; ++i) EXPECT_EQ(data[i], i - 72) << i;
}

TEST(GlobalDump, FieldsAtTheirPositions) {
  struct Case {
    int index;
    double value;
    int position;
    int byte;
  } cases[] = {
      {kMasterTune, 101, 6, 0x00},
      {kMasterTune, 151, 6, 50},
      {kMasterTune, 100, 6, 0x7F},
      {kMasterTune, 51, 6, 0x4E},
      {kMasterTranspose, 13, 7, 0},
      {kMasterTranspose, 1, 7, 0x74},
      {kMasterTranspose, 25, 7, 12},
      {kMasterPosition, 0, 8, 0},
      {kMasterVelocityValue, 100, 9, 100},
      {kMasterVelocityArea, 8, 10, 8},
      {kGlobalClockSource, 2, 15, 2},
      {kGlobalMidiChannel, 15, 16, 15},
      {kMIDIFilterSysEx, 0, 21, 0},
      {kMIDIFilterSysEx, 1, 21, 4},
      {kGlobalMIDI1Ctrl, 77, 22, 77},
      {kGlobalMIDI2Ctrl, 95, 23, 95},
      {kMIDIFilterWriteProtect, 1, 11, 0x0F},
      {kGlobalPageMemory, 0, 11, 0x0C},
      {kGlobalLocalControl, 0, 11, 0x0A},
      {kGlobalPageJump, 0, 11, 0x06},
      {kMIDIFilterProgramChange, 0, 25, 0x44},
      {kMIDIFilterControlChange, 0, 25, 0x41},
      {kMIDIFilterPitchBend, 0, 25, 0x05},
  };
  for (const Case& c : cases) {
    std::vector<double> v = codectest::defaults();
    v[c.index] = c.value;
    Bytes msg = build(v);
    EXPECT_EQ(msg[c.position], c.byte) << paramName(c.index) << " = " << c.value;
    std::vector<double> back(kNumParams, 0.0);
    ASSERT_TRUE(parseGlobalDump(msg.data(), msg.size(), back.data()));
    EXPECT_EQ(back[c.index], c.value) << paramName(c.index);
  }
  // The signs travel in position 5.
  std::vector<double> v = codectest::defaults();
  v[kMasterTune] = 90;
  v[kMasterTranspose] = 20;
  EXPECT_EQ(build(v)[5], 1);
  v[kMasterTranspose] = 2;
  EXPECT_EQ(build(v)[5], 3);
}

TEST(GlobalDump, DefaultsBuildTheTemplate) {
  EXPECT_EQ(build(codectest::defaults()), templ());
  Bytes other = build(codectest::defaults(), 0x3B);
  EXPECT_EQ(other[2], 0x3B);
}

TEST(GlobalDump, AllZeroDiffersFromTheTemplateOnlyAtTheFields) {
  std::vector<double> zero(kNumParams, 0.0);
  Bytes msg = build(zero);
  Bytes t = templ();
  std::vector<int> differ;
  for (int i = 0; i < kGlobalDumpSize; ++i) {
    if (msg[i] != t[i]) differ.push_back(i);
    EXPECT_EQ(msg[i] & (i == 0 || i == 234 ? 0 : 0x80), 0);
  }
  EXPECT_EQ(differ, (std::vector<int>{5, 6, 7, 8, 9, 10, 11, 15, 21, 23, 25}));
  // Read back, even the out-of-range zeros agree.
  std::vector<double> back(kNumParams, 50.0);
  ASSERT_TRUE(parseGlobalDump(msg.data(), msg.size(), back.data()));
  EXPECT_EQ(back[kMasterTranspose], 1);  // 0 is below the range; the reader limits it
}

TEST(GlobalDump, ReaderTakesEachFieldFromItsOwnBits) {
  struct Case {
    int position;
    int byte;
    std::vector<std::pair<int, double>> expect;  // after a parse over all-7 values
  } cases[] = {
      {5, 0x03, {{kMasterTune, 51}, {kMasterTranspose, 1}}},    // 0x10 negative: far below, limited
      {5, 0x07, {{kMasterTune, 51}, {kMasterTranspose, 1}}},   // another byte's top bit changes neither
      {11,
       0x05,
       {{kMIDIFilterWriteProtect, 1}, {kGlobalLocalControl, 1}, {kGlobalPageMemory, 0}, {kGlobalPageJump, 0}}},
      {11,
       0x10,
       {{kMIDIFilterWriteProtect, 0}, {kGlobalLocalControl, 0}, {kGlobalPageMemory, 0}, {kGlobalPageJump, 0}}},
      {21, 0x04, {{kMIDIFilterSysEx, 1}}},
      {21, 0x00, {{kMIDIFilterSysEx, 0}}},
      {21, 0x05, {{kMIDIFilterSysEx, 1}}},
      {21, 0x71, {{kMIDIFilterSysEx, 0}}},
      {25, 0x44, {{kMIDIFilterControlChange, 1}, {kMIDIFilterPitchBend, 1}, {kMIDIFilterProgramChange, 0}}},
      {25, 0x02, {{kMIDIFilterControlChange, 0}, {kMIDIFilterPitchBend, 0}, {kMIDIFilterProgramChange, 0}}},
  };
  for (const Case& c : cases) {
    Bytes msg = templ();
    msg[6] = msg[7] = 0x10;
    msg[c.position] = uint8_t(c.byte);
    std::vector<double> v(kNumParams, 7.0);
    ASSERT_TRUE(parseGlobalDump(msg.data(), msg.size(), v.data()));
    for (const auto& e : c.expect) {
      EXPECT_EQ(v[e.first], e.second) << "position " << c.position << " byte " << c.byte << ": " << paramName(e.first);
    }
  }
}

TEST(GlobalDump, WrongLengthOrHeaderChangesNothing) {
  Bytes good = templ();
  std::vector<Bytes> bad;
  bad.push_back(Bytes(good.begin(), good.end() - 1));
  Bytes longer = good;
  longer.push_back(0xF7);
  bad.push_back(longer);
  const int header[][2] = {{0, 0xF0 ^ 1}, {1, 0x43}, {2, 0x20}, {3, 0x59}, {4, 0x40}, {234, 0x7F}};
  for (const auto& h : header) {
    Bytes b = good;
    b[h[0]] = uint8_t(h[1]);
    bad.push_back(b);
  }
  for (const Bytes& b : bad) {
    std::vector<double> v(kNumParams, 9.0);
    EXPECT_FALSE(parseGlobalDump(b.data(), b.size(), v.data()));
    EXPECT_EQ(v, std::vector<double>(kNumParams, 9.0));
  }
}

TEST(GlobalDump, RandomSettingsRoundTrip) {
  std::mt19937 rng(235);
  for (int n = 0; n < 2000; ++n) {
    std::vector<double> v = codectest::defaults();
    for (int i : kGlobalDumpParams) {
      const ParamInfo& p = paramInfo(i);
      v[i] = std::uniform_int_distribution<int>(int(p.min), int(p.max))(rng);
    }
    Bytes msg = build(v, uint8_t(0x30 + n % 16));
    std::vector<double> back = codectest::defaults();
    ASSERT_TRUE(parseGlobalDump(msg.data(), msg.size(), back.data()));
    for (int i : kGlobalDumpParams) ASSERT_EQ(back[i], v[i]) << paramName(i);
    for (int i = 1; i < 234; ++i) ASSERT_EQ(msg[i] & 0x80, 0);
  }
}

}  // namespace
