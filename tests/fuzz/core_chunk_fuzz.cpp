// Host state chunks of any content given to the plug-in binding, as a program and as a bank: the
// readers must never read past the bytes, and a refused chunk must leave every value as it was.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KIT/IEffect/IEffectVST.h"
#include "platform/vst2/vst2.h"
#include "tests/support/QuietHost.h"

namespace {

using vexmir::testsupport::quietHost;

// Host-visible and hidden parameters and three presets; its state stores both kinds, as the
// editor's chunk stores the hidden ones.
class FuzzPlug : public IEffectVST {
 public:
  FuzzPlug()
      : IEffectVST(IEffectInstanceInfo{quietHost}, 6, "2-2", 3, "Fuzz", "", "Maker", 0x10000, 1, 1, 0, true, true,
                   false, 0) {
    initialize(IEffectInstanceInfo{quietHost}, 3, 6, "2-2", 3, "Fuzz", "", "Maker", 0x10000, 1, 1, 0, true, true, false,
               0);
    GetParam(0)->InitDouble("a", 0.0, -1.0, 1.0, 0.01);
    GetParam(1)->InitEnum("b", 0, 5);
    GetParam(2)->InitBool("c", false);
    GetParam(3)->InitInt("d", 1, 0, 10);
    GetParam(4)->InitDouble("e", 0.5, 0.0, 1.0, 0.001);
    GetParam(5)->InitInt("f", 2, 0, 3);
    EnsureDefaultPreset();
  }
  bool SerializeState(ByteChunk* chunk) override {
    return SerializeParams(chunk) && SerializeNonAutomatedParams(chunk, 3);
  }
  int UnserializeState(ByteChunk* chunk, int pos) override {
    // Both readers check their own values; the pair is checked first so that a second reader
    // refusing its part cannot leave the first one's values applied.
    if (pos < 0 || chunk->Size() - pos < 6 * 8) return -1;
    for (int i = 0, p = pos; i < 6; ++i) {
      double v;
      p = chunk->Get(&v, p);
      if (!std::isfinite(v)) return -1;
    }
    pos = UnserializeParams(chunk, pos);
    return UnserializeNonAutomatedParams(chunk, pos, 3);
  }
};

std::vector<double> values(FuzzPlug& p) {
  std::vector<double> v;
  for (int i = 0; i < p.NParams(); ++i) v.push_back(p.GetParam(i)->Value());
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzPlug plug;
  AEffect* e = plug.GetAEffect();
  // An exact-size copy, so that a read past the end is caught.
  std::vector<uint8_t> bytes(data, data + size);

  std::vector<double> before = values(plug);
  intptr_t r =
      e->dispatcher(e, effSetChunk, 1, static_cast<intptr_t>(size), bytes.empty() ? nullptr : bytes.data(), 0.0f);
  if (r == 0 && values(plug) != before) std::abort();
  for (int i = 0; i < plug.NParams(); ++i) {
    double v = plug.GetParam(i)->Value();
    if (!(v >= plug.GetParam(i)->GetMin() && v <= plug.GetParam(i)->GetMax())) std::abort();
  }
  e->dispatcher(e, effSetChunk, 0, static_cast<intptr_t>(size), bytes.empty() ? nullptr : bytes.data(), 0.0f);

  void* out = nullptr;
  e->dispatcher(e, effGetChunk, 0, 0, &out, 0.0f);

  std::vector<unsigned char> message(data, data + size);
  IEffectBase::MIDICallback(0.0, &message, &plug);
  return 0;
}
