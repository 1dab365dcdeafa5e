// The editor object's state chunk through the VST binding: saved by one instance and recalled by another,
// all or nothing for cut, damaged and random chunks, values limited to their ranges; the bank form of the
// chunk with preset names; the MIDI queue's order for messages of equal timing.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "KIT/IEffect/IMidiQueue.h"
#include "job_plug.h"
#include "platform/vst2/vst2.h"
#include "src/PatchManager.h"
#include "src/StateChunk.h"

using namespace jobtest;

namespace {

Bytes getChunk(IEffectVST& plug, bool bank) {
  AEffect* e = plug.GetAEffect();
  void* data = nullptr;
  const intptr_t size = e->dispatcher(e, effGetChunk, bank ? 0 : 1, 0, &data, 0.0f);
  return size > 0 && data ? Bytes(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size) : Bytes();
}

intptr_t setChunk(IEffectVST& plug, bool bank, Bytes chunk) {
  AEffect* e = plug.GetAEffect();
  return e->dispatcher(e, effSetChunk, bank ? 0 : 1, static_cast<intptr_t>(chunk.size()), chunk.data(), 0.0f);
}

// Every parameter of the chunk set to a value of its own within its range.
void setDistinctValues(JobPlug& plug, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int i = 0; i < kStateParamCount; ++i) {
    IParam* p = plug.GetParam(i);
    const double span = p->GetMax() - p->GetMin();
    p->Set(p->GetMin() + (span > 0 ? static_cast<double>(rng() % (static_cast<unsigned>(span) + 1)) : 0.0));
  }
  for (int light : {kMIDILed, kMIDILedT2}) plug.GetParam(light)->Set(0.0);  // shown only, and saved off
  plug.GetParam(kQuickTab)->Set(1);
  plug.GetParam(kPatchName)->SetDisplayText(0, "Recalled");
  plug.getPatchManager()->setProgramName("Recalled");
}

std::vector<double> values(JobPlug& plug) {
  std::vector<double> v;
  for (int i = 0; i < kNumParams; ++i) v.push_back(plug.GetParam(i)->Value());
  return v;
}

}  // namespace

TEST(StateRecall, AChunkOfOneInstanceRestoresEverySavedParameterInAnother) {
  JobPlug a;
  setDistinctValues(a, 1);
  const Bytes chunk = getChunk(a, false);
  ASSERT_GT(chunk.size(), 8u + 3796u);
  JobPlug b;
  ASSERT_EQ(setChunk(b, false, chunk), 1);
  for (int i = 0; i < kStateParamCount; ++i) EXPECT_EQ(b.GetParam(i)->Value(), a.GetParam(i)->Value()) << paramName(i);
  EXPECT_EQ(b.displayedTimbre, 1);
  EXPECT_STREQ(b.GetParam(kPatchName)->GetDisplayText(0), "Recalled");
  EXPECT_EQ(b.getPatchManager()->patch.names[0], std::string("Recalled\0\0\0\0", 12));
  // The snapshot travels unchanged, and b writes back what it was given.
  EXPECT_EQ(b.getPatchManager()->stateBytes(), a.getPatchManager()->stateBytes());
  EXPECT_EQ(getChunk(b, false), chunk);
  EXPECT_EQ(b.paramValue(kMainTab), 2.0);  // the editor tab
  EXPECT_EQ(b.deviceId, 0x30 + static_cast<int>(a.paramValue(kGlobalMidiChannel)));
}

TEST(StateRecall, TheEditorWithItsOwnRangesWritesBackExactlyWhatItRecalled) {
  Vexmir a(IEffectInstanceInfo{quietHost});
  const Bytes chunk = getChunk(a, false);
  ByteChunk body;
  body.PutBytes(chunk.data() + 8, static_cast<int>(chunk.size() - 8));
  PluginState state;
  ASSERT_GT(readStateBody(body, 0, true, &state), 0);
  state.quickTab = 1;  // showing timbre 2 moves controls
  state.values[kFilterCutoff] = 17;
  ByteChunk changedBody;
  writeStateBody(&changedBody, state, true);
  Bytes changed(chunk.begin(), chunk.begin() + 8);
  changed.insert(changed.end(), changedBody.GetBytes(), changedBody.GetBytes() + changedBody.Size());
  Vexmir b(IEffectInstanceInfo{quietHost});
  ASSERT_EQ(setChunk(b, false, changed), 1);
  const Bytes back = getChunk(b, false);
  size_t first = 0;
  while (first < back.size() && first < changed.size() && back[first] == changed[first]) ++first;
  EXPECT_EQ(first, changed.size()) << "first difference at byte " << first << " of " << back.size();
}

TEST(StateRecall, TheFlagsFollowTheRecalledParametersNotTheOldOnes) {
  JobPlug a;
  for (int i = kMIDIFilterDAWCCPassThrough; i <= kSendMIDIClockInfo; ++i) a.GetParam(i)->Set(1.0);
  a.GetParam(kGlobalLocalControl)->Set(0.0);
  a.GetParam(kSectionLockOsc1 + 1)->Set(1.0);  // a section of timbre 2
  a.GetParam(kSectionLockArp)->Set(1.0);
  const Bytes chunk = getChunk(a, false);
  JobPlug b;
  ASSERT_EQ(setChunk(b, false, chunk), 1);
  EXPECT_FALSE(b.timbre1LockActive);
  EXPECT_TRUE(b.timbre2LockActive);
  EXPECT_TRUE(b.commonLockActive);
  for (int k = 0; k < Vexmir::kNumFilterKinds; ++k) {
    EXPECT_FALSE(b.hostFilter[k]) << k;
    EXPECT_FALSE(b.deviceFilter[k]) << k;
  }
  EXPECT_TRUE(b.trackIncomingMidi);
  EXPECT_TRUE(b.midiOutViaAudioQueue);
  EXPECT_TRUE(b.sendClockStartStop);
  EXPECT_TRUE(b.sendClockTicks);
  EXPECT_FALSE(b.localControlFlag);
}

TEST(StateRecall, CutDamagedAndRandomChunksChangeNothingAndAreRefused) {
  JobPlug a;
  setDistinctValues(a, 2);
  const Bytes good = getChunk(a, false);
  JobPlug b;
  setDistinctValues(b, 3);
  const Bytes before = getChunk(b, false);
  const std::vector<double> beforeValues = values(b);
  std::mt19937 rng(4);
  int refused = 0;
  for (int run = 0; run < 600; ++run) {
    Bytes chunk = good;
    if (run < 200) {
      chunk.resize(rng() % good.size());  // cut anywhere, the header included
    } else if (run < 400) {
      // A byte count or a name length of the patch block made huge or negative.
      const size_t at = run % 2 ? 8 + 12 + 8 : 8 + 12 + 12 + 3796;
      const int32_t huge = run % 3 ? 0x7FFFFFF0 : -5;
      if (at + 4 <= chunk.size()) std::memcpy(&chunk[at], &huge, 4);
      chunk.resize(chunk.size() - (run % 5));
    } else {
      chunk.resize(rng() % 8000);
      for (auto& byte : chunk) byte = static_cast<uint8_t>(rng());
      if (run % 2 && chunk.size() >= 8) std::memcpy(chunk.data(), good.data(), 8);
    }
    if (setChunk(b, false, chunk) == 0) ++refused;
    ASSERT_EQ(values(b), beforeValues) << "run " << run;
    ASSERT_EQ(getChunk(b, false), before) << "run " << run;
  }
  EXPECT_GT(refused, 590);
}

TEST(StateRecall, ValuesOutsideTheirRangesAreLimitedWhenRecalled) {
  JobPlug a;
  ByteChunk body;
  PluginState state;
  state.values.assign(kStateParamCount, 1e9);
  for (int i = 0; i < kStateParamCount; i += 2) state.values[static_cast<size_t>(i)] = -1e9;
  state.quickTab = 7;
  writeStateBody(&body, state, true);
  Bytes chunk = {0x74, 0x66, 0x66, 0x70, 0x00, 0x00, 0x01, 0x00};
  chunk.insert(chunk.end(), body.GetBytes(), body.GetBytes() + body.Size());
  ASSERT_EQ(setChunk(a, false, chunk), 1);
  for (int i = 0; i < kStateParamCount; ++i) {
    IParam* p = a.GetParam(i);
    // The flag of unsaved bank edits is the open bank's, never a value of the project: it stays as it was.
    if (i == kBankEditUnsaved || i == kMIDILed || i == kMIDILedT2)
      EXPECT_EQ(p->Value(), 0.0);
    else
      EXPECT_EQ(p->Value(), i % 2 ? p->GetMax() : p->GetMin()) << paramName(i);
  }
  EXPECT_EQ(a.paramValue(kQuickTab), 1.0);
  EXPECT_EQ(a.displayedTimbre, 1);
}

TEST(StateRecall, TheBankFormOfTheChunkIsRecalledToo) {
  JobPlug a;
  setDistinctValues(a, 5);
  const Bytes bank = getChunk(a, true);
  JobPlug b;
  ASSERT_EQ(setChunk(b, true, bank), 1);
  for (int i = 0; i < kStateParamCount; ++i) EXPECT_EQ(b.GetParam(i)->Value(), a.GetParam(i)->Value()) << paramName(i);
  Bytes cut = bank;
  cut.resize(cut.size() - 1);
  JobPlug c;
  const std::vector<double> before = values(c);
  EXPECT_EQ(setChunk(c, true, cut), 0);
  EXPECT_EQ(values(c), before);
}

namespace {

// Three host-visible parameters and two presets, to see the bank chunk carry preset names and values.
class PresetPlug : public IEffectVST {
 public:
  PresetPlug()
      : IEffectVST(IEffectInstanceInfo{quietHost}, 3, "2-2", 2, "Presets", "", "Test", 0x10000, 1, 1, 0, true, true,
                   false, 0) {
    initialize(IEffectInstanceInfo{quietHost}, 3, 3, "2-2", 2, "Presets", "", "Test", 0x10000, 1, 1, 0, true, true,
               false, 0);
    GetParam(0)->InitDouble("Gain", 0.5, 0.0, 1.0, 0.001);
    GetParam(1)->InitInt("Steps", 3, 0, 10);
    GetParam(2)->InitDouble("Pan", 0.0, -1.0, 1.0, 0.01);
    MakeDefaultPreset("First", 1);
    GetParam(0)->Set(0.25);
    MakeDefaultPreset("Second", 1);
    RestorePreset(0);
  }
  void BeginInformHostOfParamChange(int) override {}
  void InformHostOfParamChange(int, double) override {}
  void EndInformHostOfParamChange(int) override {}
  void InformHostOfProgramChange() override {}
};

}  // namespace

TEST(StateRecall, ABankChunkGivenBackRestoresPresetNamesAndValuesAndLimitsHostValues) {
  PresetPlug a;
  Bytes bank = getChunk(a, true);
  ASSERT_FALSE(bank.empty());
  PresetPlug b;
  ASSERT_TRUE(b.RestorePreset(1));
  b.ModifyCurrentPreset("Renamed");
  b.GetParam(1)->Set(9);
  ASSERT_EQ(setChunk(b, true, bank), 1);
  EXPECT_STREQ(b.GetPresetName(0), "First");
  EXPECT_STREQ(b.GetPresetName(1), "Second");
  EXPECT_EQ(b.GetParam(0)->Value(), a.GetParam(0)->Value());
  EXPECT_EQ(b.GetParam(1)->Value(), a.GetParam(1)->Value());
  // A host value beyond its range in the chunk comes back limited: the last double is "Pan".
  const double far = 50.0;
  std::memcpy(&bank[bank.size() - 8], &far, 8);
  ASSERT_EQ(setChunk(b, true, bank), 1);
  EXPECT_EQ(b.GetParam(2)->Value(), 1.0);
}

TEST(MidiQueueOrder, MessagesOfEqualTimingKeepTheirArrivalOrderWhereverTheyLand) {
  // Offsets 5, 10, 20 queued first; then three messages at 10 (middle), 20 (end) and 5 (front) each.
  IMidiQueue q(4);
  int tag = 0;
  auto add = [&](int offset) {
    IMidiMsg m(offset, 0xB0, 1, static_cast<uint8_t>(tag++));
    q.Add(&m);
  };
  for (int offset : {5, 10, 20, 10, 10, 20, 20, 5, 5, 0}) add(offset);
  std::vector<std::pair<int, int>> order;
  while (!q.Empty()) {
    order.push_back({q.Peek()->mOffset, q.Peek()->mData2});
    q.Remove();
  }
  const std::vector<std::pair<int, int>> expected = {{0, 9},  {5, 0},  {5, 7},  {5, 8},  {10, 1},
                                                     {10, 3}, {10, 4}, {20, 2}, {20, 5}, {20, 6}};
  EXPECT_EQ(order, expected);
}
