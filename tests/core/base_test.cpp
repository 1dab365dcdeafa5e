// The plug-in base through a small plug-in of its own: presets, parameter serializers, the state
// chunk readers given damaged bytes, parameter changes from the editor and the plug-in mutex.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "KIT/IEffect/IEffectVST.h"
#include "platform/vst2/vst2.h"
#include "tests/support/ProjectChunk.h"

namespace {

intptr_t quietHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

// Four host-visible parameters, three hidden ones and two presets; its state is the hidden
// parameters after the visible ones, as the editor's state chunk stores them.
class TestPlug : public IEffectVST {
 public:
  explicit TestPlug(int nPresets = 2)
      : IEffectVST(IEffectInstanceInfo{quietHost}, 7, "2-2", nPresets, "Test", "", "Maker", 0x10000, 1234, 1, 0, true,
                   true, false, 0) {
    initialize(IEffectInstanceInfo{quietHost}, 4, 7, "1-1 2-2", nPresets, "Test", "", "Maker", 0x10000, 1234, 1, 0,
               true, true, false, 0);
    GetParam(0)->InitDouble("gain", 0.0, -10.0, 10.0, 0.01);
    GetParam(1)->InitEnum("mode", 1, 4);
    GetParam(2)->InitBool("on", true);
    GetParam(3)->InitText();
    GetParam(3)->InitInt("name", 0, 0, 3);
    GetParam(4)->InitInt("hidden a", 3, 0, 100);
    GetParam(5)->InitDouble("hidden b", 0.5, 0.0, 1.0, 0.001);
    GetParam(6)->InitInt("hidden c", 7, 0, 9);
  }
  bool SerializeState(ByteChunk* chunk) override {
    return SerializeParams(chunk) && SerializeNonAutomatedParams(chunk, 3);
  }
  int UnserializeState(ByteChunk* chunk, int pos) override {
    // Checked as a whole first, so that a short chunk changes nothing.
    if (pos < 0 || chunk->Size() - pos < 7 * 8) return -1;
    pos = UnserializeParams(chunk, pos);
    return UnserializeNonAutomatedParams(chunk, pos, 3);
  }
  void OnParamChange(int idx) override {
    IEffectVST::OnParamChange(idx);
    changes.push_back(idx);
  }
  void OnParamChange2(int idx) override {
    IEffectVST::OnParamChange2(idx);
    changes2.push_back(idx);
  }
  void InformHostOfParamChange(int idx, double v) override {
    informed.push_back(idx);
    IEffectVST::InformHostOfParamChange(idx, v);
  }
  KIT_PtrList<IPreset>* presets() { return &mPresets; }
  std::vector<int> changes, changes2, informed;
};

std::vector<double> values(TestPlug& p) {
  std::vector<double> v;
  for (int i = 0; i < p.NParams(); ++i) v.push_back(p.GetParam(i)->Value());
  return v;
}

}  // namespace

TEST(PluginBase, InitializeBuildsChannelsAndHiddenCount) {
  TestPlug p;
  EXPECT_EQ(p.NParams(), 7);
  EXPECT_EQ(p.NHostParams(), 4);
  EXPECT_EQ(p.NInChannels(), 2);
  EXPECT_EQ(p.NOutChannels(), 2);
  EXPECT_TRUE(p.LegalIO(1, 1));
  EXPECT_TRUE(p.LegalIO(2, -1));
  EXPECT_FALSE(p.LegalIO(2, 1));
  EXPECT_EQ(p.GetBlockSize(), 1024);
  EXPECT_STREQ(p.GetPresetName(0), "empty");
  EXPECT_STREQ(p.GetPresetName(5), "");
  EXPECT_EQ(p.GetAEffect()->flags & effFlagsCanMono, effFlagsCanMono);
  EXPECT_STREQ(p.GetAPIString(), "VST2");
  EXPECT_EQ(p.GetEffectVersion(true), 10000);
}

TEST(PluginBase, EditorChangesReachTheHookOnlyWhenTheValueMoves) {
  TestPlug p;
  p.SetParameterFromGUI(1, 1.0 / 3.0);  // enum 0..3: 1, unchanged
  EXPECT_TRUE(p.changes.empty());
  EXPECT_EQ(p.informed, std::vector<int>{1});  // the host hears of it anyway
  p.SetParameterFromGUI(1, 1.0);
  EXPECT_EQ(p.changes, std::vector<int>{1});
  p.SetParameterFromGUI(3, 0.0);  // a text parameter always reacts
  EXPECT_EQ(p.changes, (std::vector<int>{1, 3}));
  p.SetParameterFromGUI2(0, 0.75);
  EXPECT_EQ(p.changes2, std::vector<int>{0});
  EXPECT_DOUBLE_EQ(p.GetParam(0)->Value(), 5.0);
  p.SetParameterFromGUI(99, 0.5);  // a stray index changes nothing
  EXPECT_EQ(p.changes.size(), 2u);
}

TEST(PluginBase, ParameterSerializersRoundTripAndClamp) {
  TestPlug p;
  ByteChunk c;
  ASSERT_TRUE(p.SerializeParams(&c));
  EXPECT_EQ(c.Size(), 4 * 8);
  ASSERT_TRUE(p.SerializeNonAutomatedParams(&c, 3));
  EXPECT_EQ(c.Size(), 7 * 8);

  double tooBig = 1000.0;
  std::memcpy(c.GetBytes() + 4 * 8, &tooBig, 8);  // hidden a: 0..100
  EXPECT_EQ(p.UnserializeParams(&c, 0), 32);
  EXPECT_EQ(p.UnserializeNonAutomatedParams(&c, 32, 3), 56);
  EXPECT_EQ(p.GetParam(4)->Value(), 100.0);
  EXPECT_EQ(p.UnserializeNonAutomatedParams(&c, -1, 3), -1);
  EXPECT_EQ(p.UnserializeNonAutomatedParams(&c, 8, 0), 8);
}

TEST(PluginBase, ShortOrNonNumericParameterDataChangesNothing) {
  TestPlug p;
  std::vector<double> before = values(p);
  ByteChunk c;
  double v = 0.25;
  for (int i = 0; i < 2; ++i) c.Put(&v);  // two of the three hidden values
  EXPECT_EQ(p.UnserializeNonAutomatedParams(&c, 0, 3), -1);
  EXPECT_EQ(p.UnserializeParams(&c, 0), -1);
  EXPECT_EQ(values(p), before);

  ByteChunk nan;
  double bad = std::nan("");
  for (int i = 0; i < 4; ++i) nan.Put(i == 2 ? &bad : &v);
  EXPECT_EQ(p.UnserializeParams(&nan, 0), -1);
  EXPECT_EQ(values(p), before);
}

TEST(PluginBase, PresetsSaveRestoreAndName) {
  TestPlug p;
  p.MakeDefaultPreset("Init", 1);
  EXPECT_STREQ(p.GetPresetName(0), "Init");
  p.GetParam(0)->Set(2.5);
  // Restoring an uninitialised preset takes the current state and a user name.
  EXPECT_TRUE(p.RestorePreset(1));
  EXPECT_STREQ(p.GetPresetName(1), "user preset 1");
  EXPECT_TRUE(p.RestorePreset(0));
  EXPECT_EQ(p.GetParam(0)->Value(), 0.0);
  EXPECT_TRUE(p.RestorePreset("user preset 1"));
  EXPECT_EQ(p.GetParam(0)->Value(), 2.5);
  EXPECT_EQ(p.GetCurrentPresetIdx(), 1);
  EXPECT_FALSE(p.RestorePreset(""));
  EXPECT_FALSE(p.RestorePreset("nothing"));
  EXPECT_FALSE(p.RestorePreset(2));
  char name[64];
  p.MakeDefaultUserPresetName(nullptr, name);
  EXPECT_STREQ(name, "user preset 1");
  p.MakeDefaultUserPresetName(p.presets(), name);  // "Init" and "user preset 1"
  EXPECT_STREQ(name, "user preset 2");
}

TEST(PluginBase, PresetListRoundTripsAndRefusesDamagedNames) {
  TestPlug p;
  p.EnsureDefaultPreset();
  p.GetParam(1)->Set(3.0);
  p.ModifyCurrentPreset("Bright");
  ByteChunk c;
  ASSERT_TRUE(p.SerializePresets(&c));
  int end = c.Size();

  TestPlug q;
  EXPECT_EQ(q.UnserializePresets(&c, 0), end);
  EXPECT_STREQ(q.GetPresetName(0), "Bright");
  EXPECT_STREQ(q.GetPresetName(1), "Empty");
  EXPECT_EQ(q.GetParam(1)->Value(), 3.0);  // the current preset is restored

  ByteChunk damaged;
  int32_t hugeName = 0x7ffffff0;
  damaged.Put(&hugeName);
  damaged.PutBytes("abc", 3);
  TestPlug r;
  EXPECT_EQ(r.UnserializePresets(&damaged, 0), -1);
  EXPECT_STREQ(r.GetPresetName(0), "empty");

  TestPlug none(0);
  ByteChunk empty;
  EXPECT_TRUE(none.SerializePresets(&empty));
  EXPECT_EQ(empty.Size(), 0);
  EXPECT_EQ(none.UnserializePresets(&empty, 4), 4);
  EXPECT_FALSE(none.RestorePreset(0));
}

TEST(PluginBase, HiddenParameterWritersMatchTheStateSize) {
  TestPlug p;
  p.addNonAutomateParamCount(7);
  ByteChunk c;
  ASSERT_TRUE(p.SerializeNonAutomatedParams(&c, 7));
  EXPECT_EQ(c.Size(), 56);
  EXPECT_EQ(p.UnserializeNonAutomatedParams(&c, 0, 7), 56);
}

TEST(StateChunk, DamagedChunksThroughTheDispatcherChangeNothing) {
  TestPlug p;
  AEffect* e = p.GetAEffect();
  const std::vector<uint8_t> good = vexmir::testsupport::projectOf(e);
  ASSERT_EQ(good.size(), 8u + 56);

  p.GetParam(0)->Set(4.0);
  p.GetParam(6)->Set(2.0);
  std::vector<double> before = values(p);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"truncated body", std::vector<uint8_t>(good.begin(), good.end() - 3)},
      {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 8)},
      {"half header", std::vector<uint8_t>(good.begin(), good.begin() + 6)},
      {"garbage", std::vector<uint8_t>(13, 0xA5)},
      {"empty", std::vector<uint8_t>()},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = c.bytes;
    EXPECT_EQ(e->dispatcher(e, effSetChunk, 1, static_cast<intptr_t>(bytes.size()), bytes.data(), 0.0f), 0) << c.what;
    EXPECT_EQ(values(p), before) << c.what;
  }
  // The good chunk still restores.
  EXPECT_TRUE(vexmir::testsupport::openProject(e, good));
  EXPECT_EQ(p.GetParam(0)->Value(), 0.0);
  EXPECT_EQ(p.GetParam(6)->Value(), 7.0);
}

TEST(StateChunk, HeaderReader) {
  ByteChunk c;
  InitializeVSTChunk(&c);
  int pos = 0;
  EXPECT_EQ(GetIEffectVerFromChunk(&c, &pos), 0x10000);
  EXPECT_EQ(pos, 8);
  ByteChunk half;
  int32_t magic = 0x70666674;
  half.Put(&magic);
  pos = 0;
  EXPECT_EQ(GetIEffectVerFromChunk(&half, &pos), 0);
  EXPECT_EQ(pos, -1);
  ByteChunk other;
  int32_t x = 5;
  other.Put(&x);
  other.Put(&x);
  pos = 0;
  EXPECT_EQ(GetIEffectVerFromChunk(&other, &pos), 0);
  EXPECT_EQ(pos, 0);
}

TEST(PluginMutex, OnlyTheOutermostLeaveLetsAnotherThreadIn) {
  TestPlug p;
  KIT_Mutex& m = p.GetMutex();
  m.Enter();
  m.Enter();
  m.Enter();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    m.Enter();
    entered = true;
    m.Leave();
  });
  m.Leave();
  m.Leave();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(entered.load());
  m.Leave();
  other.join();
  EXPECT_TRUE(entered.load());
}

TEST(HostTime, AbsentHostTimeLeavesTheRecordAlone) {
  TestPlug p;
  ITimeInfo t;
  t.mTempo = 99.0;
  p.GetTime(&t);
  EXPECT_EQ(t.mTempo, 99.0);
  EXPECT_EQ(p.GetTempo(), 0.0);
  EXPECT_EQ(p.GetSamplePos(), 0);
  int num = 5, den = 5;
  p.GetTimeSig(&num, &den);
  EXPECT_EQ(num, 0);
  EXPECT_EQ(den, 0);
  EXPECT_EQ(p.GetSamplesPerBeat(), 0.0);
}

namespace {

const char* gProduct = "";
intptr_t gVendorVersion = 0;
int gVersionRequests = 0;

intptr_t namedHost(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
  if (opcode == audioMasterGetProductString) std::strcpy(static_cast<char*>(ptr), gProduct);
  if (opcode == audioMasterGetVendorVersion) {
    ++gVersionRequests;
    return gVendorVersion;
  }
  return 0;
}

class NamedHostPlug : public IEffectVST {
 public:
  NamedHostPlug()
      : IEffectVST(IEffectInstanceInfo{namedHost}, 0, "2-2", 0, "T", "", "M", 0x10000, 1, 1, 0, true, true, true, 0) {
    initialize(IEffectInstanceInfo{namedHost}, 0, 0, "2-2", 0, "T", "", "M", 0x10000, 1, 1, 0, true, true, true, 0);
  }
};

}  // namespace

TEST(HostIdentity, ProductStringAndVendorVersion) {
  struct Case {
    const char* product;
    intptr_t version;
    EHost host;
    int word;
    int versionRequests;
  } cases[] = {
      {"REAPER", 9040, kHostReaper, 0x5A28, 1},
      {"Cubase", 50102, kHostCubase, 0x50102, 1},
      {"", 50102, kHostUnknown, 0, 0},
  };
  for (const Case& c : cases) {
    gProduct = c.product;
    gVendorVersion = c.version;
    gVersionRequests = 0;
    NamedHostPlug p;
    EXPECT_EQ(p.GetHost(), c.host) << c.product;
    EXPECT_EQ(p.GetHostVersion(false), c.word) << c.product;
    EXPECT_EQ(p.GetHost(), c.host);  // asked once, kept
    EXPECT_EQ(gVersionRequests, c.versionRequests) << c.product;
  }
}

TEST(AudioChannels, DefaultProcessingPassesInputsThrough) {
  TestPlug p;
  AEffect* e = p.GetAEffect();
  const int n = 64;
  std::vector<float> inL(n), inR(n), outL(n, 9.0f), outR(n, 9.0f);
  for (int i = 0; i < n; ++i) {
    inL[i] = 0.01f * i;
    inR[i] = -0.02f * i;
  }
  float* in[2] = {inL.data(), inR.data()};
  float* out[2] = {outL.data(), outR.data()};

  e->processReplacing(e, in, out, n);
  EXPECT_EQ(outL, inL);
  EXPECT_EQ(outR, inR);

  e->process(e, in, out, n);  // accumulating: adds to what is there
  for (int i = 0; i < n; ++i) EXPECT_FLOAT_EQ(outL[i], 2.0f * inL[i]);

  std::vector<double> dL(n, 0.5), dR(n, 0.25), oL(n), oR(n);
  double* din[2] = {dL.data(), dR.data()};
  double* dout[2] = {oL.data(), oR.data()};
  e->processDoubleReplacing(e, din, dout, n);
  EXPECT_EQ(oL, dL);
  EXPECT_EQ(oR, dR);

  // One input connected: the second output gets silence.
  VstSpeakerArrangement mono{};
  mono.numChannels = 1;
  VstSpeakerArrangement stereo{};
  stereo.numChannels = 2;
  EXPECT_EQ(e->dispatcher(e, effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&mono), &stereo, 0.0f), 1);
  EXPECT_TRUE(p.IsInChannelConnected(0));
  EXPECT_FALSE(p.IsInChannelConnected(1));
  EXPECT_FALSE(p.IsInChannelConnected(5));
  // A new block size moves the scratch buffers that the unconnected input reads.
  EXPECT_EQ(e->dispatcher(e, effSetBlockSize, 0, 8192, nullptr, 0.0f), 0);
  std::fill(outR.begin(), outR.end(), 9.0f);
  e->processReplacing(e, in, out, n);
  EXPECT_EQ(outL, inL);
  for (float v : outR) EXPECT_EQ(v, 0.0f);
}
