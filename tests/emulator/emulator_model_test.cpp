// The emulator's model and input parsing without JACK: packing sizes, the device's answers, value codings and
// the handling of broken input.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/synth-emulator/MessageLog.h"
#include "tools/synth-emulator/MidiParser.h"
#include "tools/synth-emulator/SynthModel.h"

using namespace synthemu;

namespace {

TEST(EmulatorModel, DumpsHaveTheDeviceSizesAndRoundTrip) {
  SynthModel m;
  m.setChannel(9);
  struct Case {
    Bytes dump;
    size_t length;
    uint8_t function;
  } cases[] = {{m.programDump(), 297, 0x40},
               {m.globalDump(), 235, 0x51},
               {m.allProgramsDump(), 37163, 0x4C},
               {m.allDataDump(), 37392, 0x50}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.dump.size(), c.length);
    EXPECT_EQ(c.dump[2], 0x39);
    EXPECT_EQ(c.dump[4], c.function);
    for (size_t i = 1; i + 1 < c.dump.size(); ++i) ASSERT_LT(c.dump[i], 0x80) << "byte " << i;
  }
  // Everything a dump carries comes back through reception.
  SynthModel other;
  other.setChannel(9);
  m.edit()[100] = 0xFE;
  m.program(77)[3] = 0x81;
  m.global()[150] = 0x99;
  other.receive(m.programDump());
  other.receive(m.allDataDump());
  EXPECT_EQ(other.edit(), m.edit());
  EXPECT_EQ(other.program(77), m.program(77));
  EXPECT_EQ(other.global(), m.global());
}

TEST(EmulatorModel, PackingPlacesTopBitsAsTheDeviceDoes) {
  uint8_t data[9] = {0x80, 0x01, 0x82, 0, 0, 0, 0x7F, 0xFF, 0x10};
  Bytes p = pack7(data, 9);
  EXPECT_EQ(p, (Bytes{0x05, 0x00, 0x01, 0x02, 0, 0, 0, 0x7F, 0x01, 0x7F, 0x10}));
  uint8_t back[9];
  ASSERT_TRUE(unpack7(p.data(), p.size(), 9, back));
  EXPECT_EQ(Bytes(back, back + 9), Bytes(data, data + 9));
  p[3] |= 0x80;
  EXPECT_FALSE(unpack7(p.data(), p.size(), 9, back));
  EXPECT_FALSE(unpack7(p.data(), 5, 9, back));
}

TEST(EmulatorModel, InitialStateIsNamedProgramsAndTheFactoryGlobals) {
  SynthModel m;
  EXPECT_EQ(SynthModel::programName(m.program(0)), "Init 001    ");
  EXPECT_EQ(SynthModel::programName(m.program(127)), "Init 128    ");
  EXPECT_EQ(m.edit(), m.program(0));
  EXPECT_EQ(m.channel(), 0);
  EXPECT_FALSE(m.writeProtected());
  EXPECT_EQ(m.global()[SynthModel::kGlobalFilterByte], 0x45);  // program change, CC and bend enabled
}

TEST(EmulatorModel, AnswersFollowTheFunctionAndLength) {
  SynthModel m;
  struct Case {
    Bytes in;
    std::string reply;  // first reply, "" for none
  } cases[] = {
      {{0xF0, 0x42, 0x30, 0x58, 0x11, 0x00, 0x10, 0xF7}, "21"},  // write completed
      {{0xF0, 0x42, 0x30, 0x58, 0x11, 0x00, 0xF7}, "26"},        // malformed write request
      {{0xF0, 0x42, 0x30, 0x58, 0x10, 0x00, 0xF7}, "26"},        // request with a stray byte
      {{0xF0, 0x42, 0x30, 0x58, 0x40, 0x00, 0xF7}, "24"},        // program dump too short
      {{0xF0, 0x42, 0x30, 0x58, 0x51, 0x00, 0xF7}, "24"},        // global dump too short
      {{0xF0, 0x42, 0x30, 0x58, 0x4C, 0x00, 0xF7}, "24"},        // bulk dump too short
      {{0xF0, 0x42, 0x30, 0x58, 0x41, 0x55, 0x00, 0xF7}, "26"},  // parameter change too short
      {{0xF0, 0x42, 0x31, 0x58, 0x10, 0xF7}, ""},                // another channel
      {{0xF0, 0x42, 0x30, 0x59, 0x10, 0xF7}, ""},                // another model
      {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, ""},                // universal message
      {{0xF0, 0xF7}, ""},
      {{0xF0, 0x42, 0x30, 0x58, 0x41, 0x7F, 0x7F, 0x01, 0x00, 0xF7}, ""},  // unknown parameter
  };
  for (const Case& c : cases) {
    Reaction r = m.receive(c.in);
    if (c.reply.empty()) {
      EXPECT_TRUE(r.replies.empty()) << hexString(c.in);
    } else {
      ASSERT_EQ(r.replies.size(), 1u) << hexString(c.in);
      EXPECT_EQ(hexString(r.replies[0]), "F0 42 30 58 " + c.reply + " F7") << hexString(c.in);
    }
    EXPECT_FALSE(r.notes.empty() && c.reply != "21") << hexString(c.in);
  }
}

TEST(EmulatorModel, SteppedAndSignedControlsSpreadAsTheDeviceReadsThem) {
  struct Case {
    int cc, value, offset, mask, expected;
  } cases[] = {
      {77, 0, 45, 0x7F, 0},      {77, 17, 45, 0x7F, 1},     {77, 90, 45, 0x7F, 5},    {77, 126, 45, 0x7F, 7},
      {78, 42, 50, 0x0F, 0},     {78, 64, 50, 0x0F, 1},     {78, 127, 50, 0x0F, 2},   {82, 43, 50, 0x30, 0x10},
      {82, 127, 50, 0x30, 0x30}, {83, 31, 57, 0x7F, 0},     {83, 43, 57, 0x7F, 1},    {83, 127, 57, 0x7F, 3},
      {10, 0, 64, 0x7F, 1},      {10, 64, 64, 0x7F, 64},    {10, 127, 64, 0x7F, 127}, {92, 63, 65, 0x01, 0},
      {92, 64, 65, 0x01, 1},     {86, 127, 65, 0x40, 0x40}, {18, 64, 51, 0x7F, 64},   {18, 127, 51, 0x7F, 88},
  };
  for (const Case& c : cases) {
    SynthModel m;
    m.receive({0xB0, static_cast<uint8_t>(c.cc), static_cast<uint8_t>(c.value)});
    EXPECT_EQ(m.edit()[c.offset] & c.mask, c.expected) << "CC " << c.cc << " value " << c.value;
  }
  // With the DWGS wave, control 2 picks one of 64 waves.
  SynthModel m;
  m.receive({0xB0, 77, 90});
  m.receive({0xB0, 15, 40});
  EXPECT_EQ(m.edit()[48], 20);
  // A tempo-synced delay takes CC 13 as one of 15 note lengths.
  m.edit()[19] = 0x80;
  m.receive({0xB0, 13, 30});
  EXPECT_EQ(m.edit()[19], 0x83);
}

TEST(EmulatorModel, TimbreChannelsAndFiltersDecideWhatAControlChangeMoves) {
  SynthModel m;
  m.edit()[38] = 2;      // timbre 1 on channel 2
  m.edit()[146] = 0x7F;  // timbre 2 follows the global channel 0
  m.receive({0xB2, 74, 11});
  m.receive({0xB0, 74, 22});
  m.receive({0xB5, 74, 33});
  EXPECT_EQ(m.edit()[58], 11);
  EXPECT_EQ(m.edit()[166], 22);
  m.receive({0xB2, 93, 44});  // common knobs answer on the global channel only
  EXPECT_NE(m.edit()[24], 44);
  m.global()[SynthModel::kGlobalFilterByte] = 0x01;  // control changes disabled
  m.receive({0xB2, 74, 55});
  EXPECT_EQ(m.edit()[58], 11);
  m.global()[SynthModel::kGlobalFilterByte] = 0x00;  // program changes disabled too
  m.receive({0xC0, 3});
  EXPECT_EQ(m.currentProgram(), 0);
}

TEST(EmulatorModel, ParserJoinsSplitSysExAndReportsBrokenInput) {
  std::vector<Bytes> messages;
  std::vector<std::string> notes;
  MidiParser p([&](const Bytes& m) { messages.push_back(m); }, [&](const std::string& n) { notes.push_back(n); });
  auto now = MidiParser::Clock::now();
  Bytes a{0xF0, 0x42, 0x30}, b{0xF8, 0x58, 0x10, 0xF7}, c{0x90, 0x40, 0x7F, 0x41, 0x00}, d{0xF0, 0x01, 0xB0, 7, 1};
  p.feed(a.data(), a.size(), now);
  p.feed(b.data(), b.size(), now);  // a clock byte inside a SysEx is passed on at once
  p.feed(c.data(), c.size(), now);  // running status
  p.feed(d.data(), d.size(), now);
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0], Bytes{0xF8});
  EXPECT_EQ(messages[1], (Bytes{0xF0, 0x42, 0x30, 0x58, 0x10, 0xF7}));
  EXPECT_EQ(messages[3], (Bytes{0x90, 0x41, 0x00}));
  EXPECT_EQ(messages[4], (Bytes{0xB0, 7, 1}));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("truncated SysEx of 2 bytes"), std::string::npos);
  Bytes e{0xF0, 0x42};
  p.feed(e.data(), e.size(), now);
  p.expire(now + std::chrono::milliseconds(100), std::chrono::milliseconds(500));
  EXPECT_EQ(notes.size(), 1u);
  p.expire(now + std::chrono::seconds(1), std::chrono::milliseconds(500));
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_NE(notes[1].find("no F7 followed"), std::string::npos);
  // A controller value of 128 cannot travel: its byte starts a note-off, and the control change is reported.
  Bytes cut{0xB0, 0x06, 0x80, 0x40, 0x00};
  messages.clear();
  p.feed(cut.data(), cut.size(), now);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], (Bytes{0x80, 0x40, 0x00}));
  EXPECT_NE(notes.back().find("incomplete message B0 06 dropped"), std::string::npos) << notes.back();
  notes.pop_back();
  Bytes stray{0x12, 0xF7};
  MidiParser q([&](const Bytes& m) { messages.push_back(m); }, [&](const std::string& n) { notes.push_back(n); });
  q.feed(stray.data(), stray.size(), now);
  EXPECT_EQ(notes.size(), 4u);
}

TEST(EmulatorModel, LogWaitsFindLinesByIndexAndText) {
  MessageLog log;
  log.message("in", {0xF0, 0x42, 0xF7});
  size_t mark = log.end();
  log.note("something happened");
  size_t index;
  std::string line;
  EXPECT_TRUE(log.waitFor("note something", mark, std::chrono::milliseconds(0), &index, &line));
  EXPECT_EQ(index, mark);
  EXPECT_FALSE(log.waitFor("in F0 42", mark, std::chrono::milliseconds(0), &index, &line));
  log.clear();
  EXPECT_EQ(log.end(), mark + 1);
  EXPECT_TRUE(log.linesFrom(0).empty());
  Bytes parsed;
  EXPECT_TRUE(parseHex("f0 42 3058", parsed));
  EXPECT_EQ(parsed, (Bytes{0xF0, 0x42, 0x30, 0x58}));
  EXPECT_FALSE(parseHex("F0 4", parsed));
  EXPECT_FALSE(parseHex("G0", parsed));
}

}  // namespace

namespace {

TEST(EmulatorModel, BankFilesInEveryAcceptedFormReadBack) {
  SynthModel m;
  for (int p = 0; p < kProgramCount; ++p) m.program(p)[200] = static_cast<uint8_t>(p * 2 + 1);
  SynthModel::setProgramName(m.program(3), "Bank Three");
  std::string dir = ::testing::TempDir();
  std::string error;
  std::vector<Program> programs;

  std::string bulk = dir + "/emulator-bank.syx";
  ASSERT_TRUE(writeBankFile(bulk, m, &error)) << error;
  ASSERT_TRUE(readBankFile(bulk, programs, &error)) << error;
  for (int p = 0; p < kProgramCount; ++p) ASSERT_EQ(programs[p], m.program(p)) << p;

  // 128 program dumps back to back.
  std::string singles = dir + "/emulator-singles.syx";
  {
    std::FILE* f = std::fopen(singles.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (int p = 0; p < kProgramCount; ++p) {
      m.edit() = m.program(p);
      Bytes d = m.programDump();
      std::fwrite(d.data(), 1, d.size(), f);
    }
    std::fclose(f);
  }
  programs.clear();
  ASSERT_TRUE(readBankFile(singles, programs, &error)) << error;
  EXPECT_EQ(SynthModel::programName(programs[3]), "Bank Three  ");
  EXPECT_EQ(programs[127], m.program(127));

  // A damaged byte is refused with the reason.
  {
    std::FILE* f = std::fopen(bulk.c_str(), "r+b");
    std::fseek(f, 1000, SEEK_SET);
    std::fputc(0x90, f);
    std::fclose(f);
  }
  EXPECT_FALSE(readBankFile(bulk, programs, &error));
  EXPECT_NE(error.find("bit 7"), std::string::npos) << error;
  EXPECT_FALSE(readBankFile(dir + "/no-such-bank.syx", programs, &error));
}

}  // namespace
