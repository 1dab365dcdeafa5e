// The plug-in bundle as a host sees it: loaded with dlopen, created through VSTPluginMain and
// driven through its AEffect.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/core/bundle_host.h"

using coretest::BundleHost;
using coretest::TempRoot;

namespace {

class Bundle : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.library) << dlerror();
    ASSERT_TRUE(host.entry);
    ASSERT_TRUE(host.create());
  }
  TempRoot root;
  BundleHost host;
};

}  // namespace

TEST(BundleExports, OnlyTheTwoEntryPointsAreVisible) {
  BundleHost host;
  ASSERT_TRUE(host.library) << dlerror();
  EXPECT_TRUE(dlsym(host.library, "VSTPluginMain"));
  EXPECT_TRUE(dlsym(host.library, "main"));
  EXPECT_EQ(dlsym(host.library, "_ZN10IEffectVSTD2Ev"), nullptr);
  EXPECT_EQ(dlsym(host.library, "_ZN6VexmirC1E19IEffectInstanceInfo"), nullptr);
  // "main" gives the same kind of plug-in.
  TempRoot root;
  auto legacy = reinterpret_cast<VstPluginMainProc>(dlsym(host.library, "main"));
  AEffect* e = legacy(+[](AEffect*, int32_t, int32_t, intptr_t, void*, float) -> intptr_t { return 0; });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->uniqueID, 0x78786762);
  e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

TEST_F(Bundle, IdentityOfTheEffectRecord) {
  AEffect* e = host.effect;
  EXPECT_EQ(e->magic, kEffectMagic);
  EXPECT_EQ(e->uniqueID, 0x78786762);
  EXPECT_EQ(e->version, 20008);
  EXPECT_EQ(e->numPrograms, 1);
  EXPECT_EQ(e->numParams, 0);
  EXPECT_EQ(e->numInputs, 2);
  EXPECT_EQ(e->numOutputs, 2);
  EXPECT_EQ(e->initialDelay, 128);
  EXPECT_FLOAT_EQ(e->ioRatio, 1.0f);
  // Replacing, double replacing, program chunks and synth; the editor flag comes with the editor surface.
  EXPECT_EQ(e->flags & ~effFlagsHasEditor, 0x1130);
  EXPECT_TRUE(e->object);
  EXPECT_TRUE(e->processReplacing && e->processDoubleReplacing && e->process && e->getParameter && e->setParameter);
}

TEST_F(Bundle, DispatcherAnswersEveryOpcodeOfTheTable) {
  struct Case {
    int32_t opcode;
    int32_t index;
    intptr_t value;
    intptr_t expected;
  } cases[] = {
      {effOpen, 0, 0, 0},
      {effGetProgram, 0, 0, 0},
      {effSetProgram, 0, 0, 0},
      {effSetSampleRate, 0, 0, 0},
      {effSetBlockSize, 0, 512, 0},
      {effMainsChanged, 0, 1, 0},
      {effMainsChanged, 0, 0, 0},
      {effEditGetRect, 0, 0, 1},  // the editor of 1500 x 667
      {effEditOpen, 0, 0, 0},     // no parent view given
      {effEditClose, 0, 0, 1},
      {effIdentify, 0, 0, 0x4E764566},
      {effCanBeAutomated, 5, 0, 1},
      {effGetPlugCategory, 0, 0, kPlugCategSynth},
      {effGetVendorVersion, 0, 0, 0x20008},
      {effGetVstVersion, 0, 0, 2400},
      {effVendorSpecific, 3, 0, 0},
      {effIdle, 0, 0, 0},
      {effEditIdle, 0, 0, 0},
      {effGetVu, 0, 0, 0},
      {effEditDraw, 0, 0, 0},
      {effShellGetNextPlugin, 0, 0, 0},
      {effGetNumMidiInputChannels, 0, 0, 0},
      {200, 0, 0, 0},
  };
  char buffer[256];
  for (const Case& c : cases) {
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(host.dispatch(c.opcode, c.index, c.value, c.opcode == effEditGetRect ? buffer : nullptr, 48000.0f),
              c.expected)
        << "opcode " << c.opcode;
  }
}

TEST_F(Bundle, NamesAndStringsForTheHost) {
  struct Case {
    int32_t opcode;
    int32_t index;
    intptr_t expected;
    const char* text;
  } cases[] = {
      {effGetEffectName, 0, 1, "Vexmir Editor"}, {effGetVendorString, 0, 1, "Pellacor"},
      {effGetProductString, 0, 1, ""},           {effGetProgramName, 0, 0, ""},
      {effGetProgramNameIndexed, 0, 0, ""},
  };
  for (const Case& c : cases) {
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(host.dispatch(c.opcode, c.index, 0, buffer), c.expected) << "opcode " << c.opcode;
    EXPECT_STREQ(buffer, c.text) << "opcode " << c.opcode;
  }
  EXPECT_EQ(host.dispatch(effGetEffectName, 0, 0, nullptr), 0);
  EXPECT_EQ(host.dispatch(effGetVendorString, 0, 0, nullptr), 0);
}

TEST_F(Bundle, NoParameterIsVisibleToTheHost) {
  for (int32_t opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
    for (int32_t index : {-1, 0, 1, 528, 529}) {
      char buffer[64];
      std::memset(buffer, 'x', sizeof buffer);
      EXPECT_EQ(host.dispatch(opcode, index, 0, buffer), 0);
      EXPECT_EQ(buffer[0], 'x') << "opcode " << opcode << " touched the buffer";
    }
  }
  EXPECT_EQ(host.dispatch(effString2Parameter, 0, 0, const_cast<char*>("1")), 0);
  EXPECT_FLOAT_EQ(host.effect->getParameter(host.effect, 0), 0.0f);
  host.effect->setParameter(host.effect, 0, 1.0f);  // ignored
  EXPECT_FLOAT_EQ(host.effect->getParameter(host.effect, 0), 0.0f);
  char text[64] = "unchanged";
  EXPECT_EQ(host.dispatch(effVendorSpecific, 7, 0, text, 0.5f), 0xBEEF);
  EXPECT_STREQ(text, "unchanged");
  EXPECT_EQ(host.dispatch(effVendorSpecific, 7, 0, nullptr, 0.5f), 0);
}

TEST_F(Bundle, CanDoAnswers) {
  struct Case {
    const char* question;
    intptr_t expected;
  } cases[] = {
      {"receiveVstTimeInfo", 1},
      {"sendVstEvents", 1},
      {"sendVstMidiEvent", 1},
      {"receiveVstEvents", 1},
      {"receiveVstMidiEvent", 1},
      {"hasHostExtensions", 0xBEEF0000},
      {"hasHostViewAsConfig", 0xBEEF0000},
      {"offline", 0},
      {"receiveVstSysexEvent", 0},
      {"", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(host.dispatch(effCanDo, 0, 0, const_cast<char*>(c.question)), c.expected) << c.question;
  EXPECT_EQ(host.dispatch(effCanDo, 0, 0, nullptr), 0);
}

TEST_F(Bundle, PinPropertiesAndSpeakerArrangements) {
  struct Case {
    int32_t opcode;
    int32_t index;
    intptr_t expected;
    int32_t flags;
    const char* label;
  } cases[] = {
      {effGetInputProperties, 0, 1, 3, "Input 1"},   {effGetInputProperties, 1, 1, 1, "Input 2"},
      {effGetInputProperties, 2, 0, 0, ""},          {effGetInputProperties, -1, 0, 0, ""},
      {effGetOutputProperties, 0, 1, 3, "Output 1"}, {effGetOutputProperties, 1, 1, 1, "Output 2"},
      {effGetOutputProperties, 2, 0, 0, ""},
  };
  for (const Case& c : cases) {
    VstPinProperties p{};
    EXPECT_EQ(host.dispatch(c.opcode, c.index, 0, &p), c.expected);
    EXPECT_EQ(p.flags, c.flags);
    EXPECT_STREQ(p.label, c.label);
  }
  VstSpeakerArrangement* in = nullptr;
  VstSpeakerArrangement* out = nullptr;
  EXPECT_EQ(host.dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&in), &out), 1);
  ASSERT_TRUE(in && out);
  EXPECT_EQ(in->type, kSpeakerArrStereo);
  EXPECT_EQ(in->numChannels, 2);
  EXPECT_EQ(out->numChannels, 2);
  VstSpeakerArrangement mono{};
  mono.numChannels = 1;
  EXPECT_EQ(host.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&mono), &mono), 1);
  MidiKeyName key{};
  std::strcpy(key.keyName, "C4");
  EXPECT_EQ(host.dispatch(effGetMidiKeyName, 0, 0, &key), 0);
  EXPECT_STREQ(key.keyName, "");
}

TEST_F(Bundle, ChunkStartsWithTheHeaderAndRestores) {
  const uint8_t header[] = {0x74, 0x66, 0x66, 0x70, 0x00, 0x00, 0x01, 0x00};
  for (int32_t index : {1, 0}) {  // program, then bank
    void* data = nullptr;
    intptr_t size = host.dispatch(effGetChunk, index, 0, &data);
    ASSERT_GE(size, 8);
    ASSERT_TRUE(data);
    EXPECT_EQ(std::memcmp(data, header, 8), 0);
    std::vector<uint8_t> copy(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    EXPECT_EQ(host.dispatch(effSetChunk, index, static_cast<intptr_t>(copy.size()), copy.data()), 1);
  }
  EXPECT_EQ(host.dispatch(effGetChunk, 1, 0, nullptr), 0);
}

TEST_F(Bundle, DamagedChunksAreRefusedAndChangeNothing) {
  void* data = nullptr;
  intptr_t size = host.dispatch(effGetChunk, 1, 0, &data);
  std::vector<uint8_t> before(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);

  std::vector<uint8_t> truncatedHeader = {0x74, 0x66, 0x66, 0x70, 0x00};
  EXPECT_EQ(host.dispatch(effSetChunk, 1, static_cast<intptr_t>(truncatedHeader.size()), truncatedHeader.data()), 0);
  EXPECT_EQ(host.dispatch(effSetChunk, 0, static_cast<intptr_t>(truncatedHeader.size()), truncatedHeader.data()), 0);
  EXPECT_EQ(host.dispatch(effSetChunk, 1, 16, nullptr), 0);
  EXPECT_EQ(host.dispatch(effSetChunk, 1, -5, truncatedHeader.data()), 0);

  size = host.dispatch(effGetChunk, 1, 0, &data);
  std::vector<uint8_t> after(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  EXPECT_EQ(before, after);
}

TEST_F(Bundle, EveryProcessCallAsksForMidi) {
  std::vector<float> l(256), r(256);
  float* fin[2] = {l.data(), r.data()};
  float* fout[2] = {l.data(), r.data()};
  std::vector<double> dl(256), dr(256);
  double* din[2] = {dl.data(), dr.data()};
  double* dout[2] = {dl.data(), dr.data()};
  host.clearRequests();
  host.effect->processReplacing(host.effect, fin, fout, 256);
  host.effect->processDoubleReplacing(host.effect, din, dout, 256);
  host.effect->process(host.effect, fin, fout, 256);
  // A block larger than announced must not overrun the plug-in's scratch buffers.
  std::vector<float> big(4096);
  float* bin[2] = {big.data(), big.data()};
  host.effect->processReplacing(host.effect, bin, bin, 4096);
  EXPECT_EQ(host.count(audioMasterWantMidi), 4);
}

TEST_F(Bundle, HostSysExIsHandedBackAndMidiIsKept) {
  uint8_t sysex[] = {0xF0, 0x42, 0x30, 0x58, 0x4E, 0x01, 0x00, 0xF7};
  VstMidiSysexEvent se{};
  se.type = kVstSysExType;
  se.byteSize = sizeof se;
  se.dumpBytes = sizeof sysex;
  se.sysexDump = reinterpret_cast<char*>(sysex);
  VstMidiEvent me{};
  me.type = kVstMidiType;
  me.byteSize = sizeof me;
  me.midiData[0] = static_cast<char>(0xB0);
  me.midiData[1] = 7;
  me.midiData[2] = 100;
  struct {
    int32_t numEvents;
    intptr_t reserved;
    VstEvent* events[3];
  } events{3, 0, {reinterpret_cast<VstEvent*>(&me), nullptr, reinterpret_cast<VstEvent*>(&se)}};

  host.clearRequests();
  EXPECT_EQ(host.dispatch(effProcessEvents, 0, 0, &events), 1);
  std::vector<coretest::Request> sent;
  for (const coretest::Request& r : host.requests())
    if (r.opcode == audioMasterProcessEvents) sent.push_back(r);
  ASSERT_EQ(sent.size(), 1u);  // the SysEx, alone; the MIDI event stays with the plug-in
  EXPECT_EQ(sent[0].eventType, kVstSysExType);
  EXPECT_EQ(sent[0].eventBytes, std::vector<uint8_t>(sysex, sysex + sizeof sysex));

  EXPECT_EQ(host.dispatch(effProcessEvents, 0, 0, nullptr), 0);
  events.numEvents = 0;
  EXPECT_EQ(host.dispatch(effProcessEvents, 0, 0, &events), 1);
}

TEST_F(Bundle, HostIsIdentifiedOnceAtOpen) {
  host.close();
  BundleHost reaper;
  reaper.product = "REAPER";
  reaper.vendorVersion = 9040;
  ASSERT_TRUE(reaper.create());
  reaper.dispatch(effOpen);
  reaper.dispatch(effOpen);
  EXPECT_EQ(reaper.count(audioMasterGetProductString), 1);
  EXPECT_EQ(reaper.count(audioMasterGetVendorVersion), 1);
  reaper.close();

  BundleHost silent;
  silent.product = "";
  ASSERT_TRUE(silent.create());
  silent.dispatch(effOpen);
  EXPECT_EQ(silent.count(audioMasterGetProductString), 1);
  EXPECT_EQ(silent.count(audioMasterGetVendorVersion), 0);  // no version asked of an unnamed host
  silent.close();
  host.effect = nullptr;
}

TEST_F(Bundle, InstancesAreIndependent) {
  BundleHost second;
  ASSERT_TRUE(second.create());
  EXPECT_NE(second.effect, host.effect);
  EXPECT_NE(second.effect->object, host.effect->object);
  second.close();
  EXPECT_EQ(host.dispatch(effIdentify), 0x4E764566);
}

TEST(BundleDispatcher, ARecordWithoutObjectAnswersNothing) {
  BundleHost host;
  TempRoot root;
  ASSERT_TRUE(host.create());
  void* object = host.effect->object;
  host.effect->object = nullptr;
  EXPECT_EQ(host.dispatch(effIdentify), 0);
  EXPECT_EQ(host.dispatch(effClose), 0);
  host.effect->object = object;
}
