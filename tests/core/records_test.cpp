// The plug-in framework's small records: parameters, MIDI messages, the state chunk buffer, the
// MIDI queue, version texts, host names and the log helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "KIT/IEffect/Hosts.h"
#include "KIT/IEffect/IEffectStructs.h"
#include "KIT/IEffect/IMidiQueue.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/IEffect/Log.h"
#include "KIT/kitstring.h"

TEST(IParam, NormalizedValuesMapThroughRangeStepAndShape) {
  IParam e;
  e.InitEnum("mode", 0, 5);
  e.SetNormalized(0.5);
  EXPECT_EQ(e.Value(), 2.0);

  IParam d;
  d.InitDouble("level", 0.0, 0.0, 10.0, 0.01);
  d.SetShape(2.0);
  d.SetNormalized(0.5);
  EXPECT_DOUBLE_EQ(d.Value(), 2.5);
  d.Set(20.0);
  EXPECT_DOUBLE_EQ(d.GetNormalized(), 1.0);

  IParam i;
  i.InitInt("steps", 0, 0, 10);
  i.SetNormalized(0.34);  // 3.4 rounds to the step
  EXPECT_EQ(i.Value(), 3.0);
  i.SetShape(0.0);  // a zero shape is ignored
  EXPECT_EQ(i.GetShape(), 1.0);
}

TEST(IParam, PrecisionFollowsTheStep) {
  struct Case {
    double step;
    int precision;
  } cases[] = {{1.0, 0}, {0.5, 1}, {0.01, 2}, {0.25, 2}, {0.001, 3}, {0.0000001, 6}};
  for (const Case& c : cases) {
    IParam p;
    p.InitDouble("x", 0.0, 0.0, 100.0, c.step);
    EXPECT_EQ(p.GetPrecision(), c.precision) << "step " << c.step;
  }
}

TEST(IParam, RangesAreNeverEmpty) {
  IParam i;
  i.InitInt("x", 0, 5, 3);
  EXPECT_EQ(i.GetMax(), 6.0);
  IParam e;
  e.InitEnum("x", 0, 1);
  EXPECT_EQ(e.GetMax(), 1.0);
  IParam d;
  d.InitDouble("x", 0.0, 1.0, 0.5, 0.25);
  EXPECT_EQ(d.GetMax(), 1.25);
}

TEST(IParam, DisplayTextsAndHostDisplay) {
  IParam b;
  b.InitBool("switch", false, "dB");
  char out[128];
  b.GetDisplayForHost(out);
  EXPECT_STREQ(out, "off");
  b.Set(1.0);
  b.GetDisplayForHost(out);
  EXPECT_STREQ(out, "on");
  EXPECT_STREQ(b.GetLabelForHost(), "");

  IParam d;
  d.InitDouble("gain", 1.5, 0.0, 10.0, 0.01, "dB");
  d.GetDisplayForHost(out);
  EXPECT_STREQ(out, "1.50");
  EXPECT_STREQ(d.GetLabelForHost(), "dB");
  d.SetDisplayNegated(true);
  d.GetDisplayForHost(out);
  EXPECT_STREQ(out, "-1.50");
  d.GetDisplayForHost(0.5, true, out);  // normalized: 5 without rounding
  EXPECT_STREQ(out, "-5.00");

  IParam e;
  e.InitEnum("wave", 0, 1);
  e.SetDisplayText(0, "Saw");
  e.SetDisplayText(1, "Square");
  e.SetDisplayText(2, "Triangle");  // appending raises the maximum
  e.SetDisplayText(5, "gap");       // out of order: refused
  e.SetDisplayText(1, "Pulse");     // replacing keeps the count
  EXPECT_EQ(e.GetNDisplayTexts(), 3);
  EXPECT_EQ(e.GetMax(), 2.0);
  EXPECT_STREQ(e.GetDisplayText(1), "Pulse");
  EXPECT_STREQ(e.GetDisplayText(7), "");
  int v = -1;
  EXPECT_TRUE(e.MapDisplayText("Triangle", &v));
  EXPECT_EQ(v, 2);
  EXPECT_FALSE(e.MapDisplayText("triangle", &v));
  e.Set(2.0);
  e.GetDisplayForHost(out);
  EXPECT_STREQ(out, "Triangle");
  e.GetDisplayForHost(e.Value(), false, out, false);
  EXPECT_STREQ(out, "2");

  // Names, labels and groups keep 54 characters.
  IParam n;
  std::string longName(80, 'n');
  n.InitBool(longName.c_str(), false, longName.c_str(), longName.c_str());
  EXPECT_EQ(std::strlen(n.GetNameForHost()), 54u);
  EXPECT_EQ(std::strlen(n.GetParamGroupForHost()), 54u);
}

TEST(IParam, TextParametersKeepTheirType) {
  IParam t;
  t.InitText();
  t.InitInt("name", 0, 0, 10);
  EXPECT_EQ(t.Type(), IParam::kTypeText);
}

TEST(IMidiMsg, MakersAndReaders) {
  IMidiMsg m;
  m.MakePitchWheelMsg(1.0, 0);
  EXPECT_EQ(m.mData1, 0x7F);
  EXPECT_EQ(m.mData2, 0x7F);
  m.MakePitchWheelMsg(-1.0, 0);
  EXPECT_EQ(m.mData1, 0);
  EXPECT_EQ(m.mData2, 0);
  m.MakePitchWheelMsg(0.0, 3);
  EXPECT_EQ(m.mStatus, 0xE3);
  EXPECT_DOUBLE_EQ(m.PitchWheel(), 0.0);

  m.MakeControlChangeMsg(kChannelVolume, 1.0, 2);
  EXPECT_EQ(m.mStatus, 0xB2);
  EXPECT_EQ(m.StatusMsg(), IMidiMsg::kControlChange);
  EXPECT_EQ(m.NoteNumber(), -1);
  EXPECT_DOUBLE_EQ(m.ControlChange(kChannelVolume), 1.0);
  EXPECT_DOUBLE_EQ(m.ControlChange(kPan), -1.0);

  m.MakeProgramChangeMsg(1.0, 0);
  EXPECT_EQ(m.mStatus, 0xC0);
  EXPECT_EQ(m.Program(), 127);
  EXPECT_EQ(m.mData2, 0);

  // A value no data byte holds gives the nearest end (a bend the centre for not a number), never a status bit.
  m.MakeControlChangeMsg(kChannelVolume, 2.0, 0);
  EXPECT_EQ(m.mData2, 127);
  m.MakeControlChangeMsg(kChannelVolume, std::nan(""), 0);
  EXPECT_EQ(m.mData2, 0);
  m.MakeProgramChangeMsg(1e300, 0);
  EXPECT_EQ(m.Program(), 127);
  m.MakeProgramChangeMsg(-1e300, 0);
  EXPECT_EQ(m.Program(), 0);
  m.MakePitchWheelMsg(1e12, 0);
  EXPECT_EQ(m.mData1 | m.mData2 << 7, 16383);
  m.MakePitchWheelMsg(std::nan(""), 0);
  EXPECT_EQ(m.mData1 | m.mData2 << 7, 8192);

  m.MakeNoteOnMsg(60, 100, 12, 1);
  EXPECT_EQ(m.mOffset, 12);
  EXPECT_EQ(m.NoteNumber(), 60);
  EXPECT_EQ(m.Velocity(), 100);
  EXPECT_EQ(m.Channel(), 1);

  IMidiMsg clock(0, 0xF8, 0, 0);
  EXPECT_EQ(clock.StatusMsg(), IMidiMsg::kNone);

  EXPECT_STREQ(StatusMsgStr(9), "noteon ");
  EXPECT_STREQ(StatusMsgStr(3), "unknown");
  EXPECT_STREQ(StatusMsgStr(15), "unknown");
  EXPECT_STREQ(StatusMsgStr(14), "pitchwheel");
}

TEST(SysExStr, WritesAsManyBytesAsFit) {
  const unsigned char bytes[] = {0xF0, 0x42, 0x30, 0x58, 0xF7};
  char out[64];
  SysExStr(out, sizeof out, bytes, 5);
  EXPECT_STREQ(out, "F0 42 30 58 F7");
  SysExStr(out, 9, bytes, 5);  // room for three bytes
  EXPECT_STREQ(out, "F0 42 30");
  SysExStr(out, sizeof out, nullptr, 5);
  EXPECT_STREQ(out, "");
}

TEST(ByteChunk, ReadsStopAtTheEnd) {
  ByteChunk c;
  int32_t i = 0x01020304;
  double d = 2.5;
  c.Put(&i);
  c.Put(&d);
  EXPECT_EQ(c.Size(), 12);
  int32_t ri = 0;
  double rd = 0;
  int pos = c.Get(&ri, 0);
  EXPECT_EQ(pos, 4);
  pos = c.Get(&rd, pos);
  EXPECT_EQ(pos, 12);
  EXPECT_EQ(ri, i);
  EXPECT_EQ(rd, 2.5);
  // Past the end or from a negative position: -1 and nothing read.
  rd = 7.0;
  EXPECT_EQ(c.Get(&rd, 8), -1);
  EXPECT_EQ(rd, 7.0);
  EXPECT_EQ(c.Get(&rd, -1), -1);

  c.PutStr("abc");
  char s[8];
  EXPECT_EQ(c.GetStr(s, sizeof s, 12), 19);
  EXPECT_STREQ(s, "abc");
  // A string whose length runs past the end is refused.
  ByteChunk bad;
  int32_t huge = 1000;
  bad.Put(&huge);
  EXPECT_EQ(bad.GetStr(s, sizeof s, 0), -1);

  c.Resize(40);
  EXPECT_EQ(c.Size(), 40);
  for (int k = 19; k < 40; ++k) EXPECT_EQ(c.GetBytes()[k], 0);
  c.Clear();
  EXPECT_EQ(c.Size(), 0);
}

TEST(IMidiQueue, KeepsOffsetOrderAndArrivalOrderForTies) {
  IMidiQueue q(4);
  EXPECT_EQ(q.GetSize(), 512);  // whole pages of 512 entries
  int offsets[] = {10, 5, 10, 0, 7};
  for (int k = 0; k < 5; ++k) {
    IMidiMsg m(offsets[k], 0xB0, static_cast<uint8_t>(k), 0);
    q.Add(&m);
  }
  std::vector<int> order;
  while (!q.Empty()) {
    order.push_back(q.Peek()->mData1);
    q.Remove();
  }
  EXPECT_EQ(order, (std::vector<int>{3, 1, 4, 0, 2}));
}

TEST(IMidiQueue, GrowsByWholeStepsAndFlushShiftsOffsets) {
  IMidiQueue q(1);
  for (int k = 0; k < 600; ++k) {
    IMidiMsg m(k, 0x90, 60, 1);
    q.Add(&m);
  }
  EXPECT_EQ(q.ToDo(), 600);
  EXPECT_EQ(q.GetSize(), 1024);
  for (int k = 0; k < 100; ++k) q.Remove();
  q.Flush(256);
  EXPECT_EQ(q.ToDo(), 500);
  EXPECT_EQ(q.Peek()->mOffset, 100 - 256);
  q.Resize(2000);
  EXPECT_EQ(q.GetGrow(), 2048);
  EXPECT_EQ(q.GetSize(), 2048);
  EXPECT_EQ(q.ToDo(), 500);
}

TEST(Versions, TextsAndParts) {
  char out[32];
  struct Case {
    int word;
    const char* text;
    int decimal;
  } cases[] = {
      {0x20008, "v2.0.8", 20008}, {0x20100, "v2.1", 20100}, {0x20000, "v2", 20000}, {0x5A28, "v0.90.40", 9040}};
  for (const Case& c : cases) {
    GetVersionStr(c.word, out);
    EXPECT_STREQ(out, c.text);
    EXPECT_EQ(GetDecimalVersion(c.word), c.decimal);
  }
}

TEST(Hosts, ProductStringsNameHosts) {
  struct Case {
    const char* product;
    EHost host;
    const char* name;
  } cases[] = {
      {"REAPER", kHostReaper, "Reaper"},
      {"Ableton Live 11", kHostAbletonLive, "Live"},
      {"Cubase LIVE", kHostCubase, "Cubase"},  // earlier tests win
      {"Melodyne", kHostMelodyneStudio, "Unknown"},
      {"Bitwig Studio", kHostUnknown, "Unknown"},
      {"", kHostUnknown, "Unknown"},
      {"Ardour", kHostArdour, "Ardour"},
      {"Presonus Studio One", kHostStudioOne, "StudioOne"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LookUpHost(c.product), c.host) << c.product;
    char name[32];
    GetHostNameStr(c.host, name);
    EXPECT_STREQ(name, c.name);
  }
  char name[32];
  GetHostNameStr(kHostVegas, name);
  EXPECT_STREQ(name, "Vegas");
}

TEST(LogHelpers, TimestampsAndText) {
  KIT_String s;
  CompileTimestamp("Oct 10 2020", "13:45:10", &s);
  EXPECT_STREQ(s.Get(), "[Oct10 13:45]");
  CompileTimestamp("Oct  1 2020", "09:05:00", &s);
  EXPECT_STREQ(s.Get(), "[Oct 1 09:05]");
  EXPECT_STREQ(AppendTimestamp("Oct 10 2020", "13:45:10", "build"), "build [Oct10 13:45]");

  char lower[16];
  ToLower(lower, "ReAPer");
  EXPECT_STREQ(lower, "reaper");
  EXPECT_TRUE(IsWhitespace('\t'));
  EXPECT_FALSE(IsWhitespace('x'));

  std::string now = CurrentTime();
  ASSERT_EQ(now.size(), 20u);  // "YYYYMMDD HH:MM +HHMM"
  EXPECT_EQ(now[8], ' ');
  EXPECT_TRUE(now[15] == '+' || now[15] == '-');
}
