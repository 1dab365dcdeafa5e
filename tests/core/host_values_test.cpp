// Values a host hands the plug-in framework: block sizes, parameter values, texts to parse and values to show.
// Whatever the host sends, no parameter leaves its range, none becomes NaN, and no buffer is overrun.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "KIT/IEffect/IEffectVST.h"
#include "platform/vst2/vst2.h"

namespace {

intptr_t quietHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

// Three host-visible parameters: a double, an int without texts and an enum with texts.
class HostPlug : public IEffectVST {
 public:
  HostPlug()
      : IEffectVST(IEffectInstanceInfo{quietHost}, 3, "2-2", 1, "Host", "", "Maker", 0x10000, 4321, 1, 0, true, true,
                   false, 0) {
    initialize(IEffectInstanceInfo{quietHost}, 3, 3, "2-2", 1, "Host", "", "Maker", 0x10000, 4321, 1, 0, true, true,
               false, 0);
    GetParam(0)->InitDouble("gain", 0.0, -10.0, 10.0, 0.01);
    GetParam(1)->InitInt("steps", 5, 0, 100);
    GetParam(2)->InitEnum("mode", 1, 3);
    GetParam(2)->SetDisplayText(0, "low");
    GetParam(2)->SetDisplayText(1, "mid");
    GetParam(2)->SetDisplayText(2, "high");
  }
};

std::string shown(AEffect* e, int idx, float normalized) {
  char text[kVstMaxParamStrLen + 1];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(e->dispatcher(e, effVendorSpecific, 7, idx, text, normalized), 0xBEEF);
  return text;
}

}  // namespace

TEST(HostValues, BlockSizesNoHostUsesAreRefusedAndTheOldOneKept) {
  HostPlug p;
  AEffect* e = p.GetAEffect();
  e->dispatcher(e, effSetBlockSize, 0, 512, nullptr, 0.0f);
  ASSERT_EQ(p.GetBlockSize(), 512);
  for (intptr_t huge : {intptr_t{268435456}, intptr_t{268435455}, intptr_t{1} << 31, intptr_t{65537},
                        std::numeric_limits<intptr_t>::max()}) {
    e->dispatcher(e, effSetBlockSize, 0, huge, nullptr, 0.0f);
    EXPECT_EQ(p.GetBlockSize(), 512) << huge;
  }
  e->dispatcher(e, effSetBlockSize, 0, IEffectBase::kMaxBlockSize, nullptr, 0.0f);
  EXPECT_EQ(p.GetBlockSize(), IEffectBase::kMaxBlockSize);
  e->dispatcher(e, effSetBlockSize, 0, 256, nullptr, 0.0f);

  // The next ordinary blocks pass the input through; one longer than any block the plug-in takes is silent.
  for (int n : {256, 100, 300, IEffectBase::kMaxBlockSize + 7}) {
    std::vector<float> inL(n, 0.25f), inR(n, -0.5f), outL(n, 9.0f), outR(n, 9.0f);
    float* in[2] = {inL.data(), inR.data()};
    float* out[2] = {outL.data(), outR.data()};
    e->processReplacing(e, in, out, n);
    const bool taken = n <= IEffectBase::kMaxBlockSize;
    EXPECT_EQ(outL, taken ? inL : std::vector<float>(n, 0.0f)) << n;
    EXPECT_EQ(outR, taken ? inR : std::vector<float>(n, 0.0f)) << n;
  }
  EXPECT_EQ(p.GetBlockSize(), 300);
}

TEST(HostValues, ParameterValuesStayInRangeAndNonFiniteOnesAreRefused) {
  HostPlug p;
  AEffect* e = p.GetAEffect();
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();

  // Automation beyond 0..1 stands for the nearer end; NaN and infinities change nothing.
  e->setParameter(e, 0, -0.5f);
  EXPECT_EQ(p.GetParam(0)->Value(), -10.0);
  e->setParameter(e, 1, 7.0f);
  EXPECT_EQ(p.GetParam(1)->Value(), 100.0);
  e->setParameter(e, 1, 0.5f);
  for (float bad : {nan, inf, -inf}) {
    e->setParameter(e, 1, bad);
    EXPECT_EQ(p.GetParam(1)->Value(), 50.0);
  }
  EXPECT_FLOAT_EQ(e->getParameter(e, 1), 0.5f);

  // Texts: numbers beyond the range give its ends, "nan" and "inf" are refused.
  EXPECT_EQ(e->dispatcher(e, effString2Parameter, 0, 0, const_cast<char*>("-1e300"), 0.0f), 1);
  EXPECT_EQ(p.GetParam(0)->Value(), -10.0);
  EXPECT_EQ(e->dispatcher(e, effString2Parameter, 0, 0, const_cast<char*>("3.5"), 0.0f), 1);
  for (const char* bad : {"nan", "NaN", "inf", "-infinity"}) {
    EXPECT_EQ(e->dispatcher(e, effString2Parameter, 0, 0, const_cast<char*>(bad), 0.0f), 0) << bad;
    EXPECT_EQ(p.GetParam(0)->Value(), 3.5) << bad;
  }
  EXPECT_EQ(e->dispatcher(e, effString2Parameter, 2, 0, const_cast<char*>("high"), 0.0f), 1);
  EXPECT_EQ(p.GetParam(2)->Value(), 2.0);

  // The text of a value asked for by the host: within the range, or nothing for NaN.
  EXPECT_EQ(shown(e, 0, 0.5f), "0.00");
  EXPECT_EQ(shown(e, 0, 5.0f), "10.00");
  EXPECT_EQ(shown(e, 1, -3.0f), "0");
  EXPECT_EQ(shown(e, 1, 1e30f), "100");
  EXPECT_EQ(shown(e, 2, 1e30f), "high");
  EXPECT_EQ(shown(e, 2, nan), "");
  for (int i = 0; i < p.NParams(); ++i) {
    const double v = p.GetParam(i)->Value();
    EXPECT_TRUE(v >= p.GetParam(i)->GetMin() && v <= p.GetParam(i)->GetMax()) << i << " " << v;
  }
}
