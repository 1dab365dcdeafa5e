// A host that misbehaves: dispatcher calls with any opcode, index, value, float and string, each pointer a block of
// exactly the size its request allows, parameter automation with any float, audio blocks of any length and host
// time of any content, in any order. They go to the editor object (one for the whole run, in a data folder of its
// own) and to a small plug-in of the framework whose parameters the host sees. After every call each parameter is
// finite and within its range, the block size is one a host uses, and a state chunk the plug-in gave is taken back.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KIT/IEffect/IEffectVST.h"
#include "platform/vst2/vst2.h"
#include "src/Vexmir.h"
#include "tests/fuzz/fuzz_data_root.h"
#include "tests/fuzz/fuzz_reader.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

// The host's side: its time (of the input's making) and its product string.
VstTimeInfo hostTime;
bool hostAnswersTime = false;

intptr_t host(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
  switch (opcode) {
    case audioMasterVersion:
      return kVstVersion;
    case audioMasterGetTime:
      return hostAnswersTime ? reinterpret_cast<intptr_t>(&hostTime) : 0;
    case audioMasterGetProductString:
      if (ptr) std::strcpy(static_cast<char*>(ptr), "Fuzz Host");
      return 1;
    case audioMasterGetVendorVersion:
      return 10203;
    case audioMasterProcessEvents:
      return 1;
    default:
      return 0;
  }
}

// Host-visible parameters of every kind, as a plug-in other than the editor would have them.
class HostPlug : public IEffectVST {
 public:
  HostPlug()
      : IEffectVST(IEffectInstanceInfo{host}, 5, "2-2", 2, "Fuzz", "", "Maker", 0x10000, 1, 1, 0, true, true, false,
                   0) {
    initialize(IEffectInstanceInfo{host}, 4, 5, "1-1 2-2", 2, "Fuzz", "", "Maker", 0x10000, 1, 1, 0, true, true, false,
               0);
    GetParam(0)->InitDouble("gain", 0.0, -24.0, 24.0, 0.1);
    GetParam(0)->SetShape(2.0);
    GetParam(1)->InitEnum("mode", 1, 3);
    GetParam(1)->SetDisplayText(0, "low");
    GetParam(1)->SetDisplayText(1, "mid");
    GetParam(1)->SetDisplayText(2, "high");
    GetParam(2)->InitInt("steps", 5, -64, 63);
    GetParam(2)->SetDisplayNegated(true);
    GetParam(3)->InitBool("on", true);
    GetParam(4)->InitDouble("hidden", 0.5, 0.0, 1.0, 0.001);
    EnsureDefaultPreset();
  }
};

Vexmir* editor() {
  static Vexmir* plug = fuzztest::newEditor<Vexmir>(IEffectInstanceInfo{host});
  return plug;
}

void checkValues(IEffectBase& plug) {
  for (int i = 0; i < plug.NParams(); ++i) {
    IParam* p = plug.GetParam(i);
    if (p->Type() == IParam::kTypeText) continue;
    const double v = p->Value();
    check(std::isfinite(v), "a parameter is not finite");
    check(v >= p->GetMin() && v <= p->GetMax(), "a parameter is outside its range");
  }
  check(plug.GetBlockSize() >= 0 && plug.GetBlockSize() <= IEffectBase::kMaxBlockSize, "block size");
}

// A NUL-terminated text from the input in a block of exactly its size.
std::unique_ptr<char[]> text(fuzztest::Reader& in) {
  const size_t n = in.take<uint8_t>() % 48;
  std::unique_ptr<char[]> s(new char[n + 1]);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(in.take<uint8_t>());
  s[n] = '\0';
  return s;
}

std::string word(fuzztest::Reader& in) {
  static const char* const words[] = {"receiveVstTimeInfo", "receiveVstMidiEvent", "sendVstMidiEvent",
                                      "hasHostExtensions",  "hasHostViewAsConfig", "nan",
                                      "-inf",               "1e308",               "-0.5",
                                      "mid",                "12.25",               ""};
  return words[in.take<uint8_t>() % (sizeof words / sizeof *words)];
}

struct Events {
  std::vector<VstMidiEvent> midi;
  std::vector<VstMidiSysexEvent> sysex;
  std::vector<std::unique_ptr<char[]>> dumps;
  std::unique_ptr<char[]> block;  // the VstEvents with exactly its entries
};

VstEvents* events(fuzztest::Reader& in, Events* e) {
  const int n = in.take<uint8_t>() % 6;
  e->midi.resize(n);
  e->sysex.resize(n);
  e->block.reset(new char[offsetof(VstEvents, events) + sizeof(VstEvent*) * (n ? n : 1)]);
  VstEvents* list = reinterpret_cast<VstEvents*>(e->block.get());
  list->numEvents = n;
  list->reserved = 0;
  VstEvent** entries = reinterpret_cast<VstEvent**>(e->block.get() + offsetof(VstEvents, events));
  for (int i = 0; i < n; ++i) {
    const uint8_t kind = in.take<uint8_t>();
    if (kind % 4 == 3) {
      const size_t size = in.take<uint8_t>() % 40;
      e->dumps.emplace_back(new char[size ? size : 1]);
      for (size_t k = 0; k < size; ++k) e->dumps.back()[k] = static_cast<char>(in.take<uint8_t>());
      VstMidiSysexEvent& s = e->sysex[i];
      s = {};
      s.type = kVstSysExType;
      s.byteSize = sizeof s;
      s.dumpBytes = static_cast<int32_t>(size);
      s.sysexDump = e->dumps.back().get();
      entries[i] = reinterpret_cast<VstEvent*>(&s);
    } else if (kind % 4 == 2) {
      entries[i] = nullptr;
    } else {
      VstMidiEvent& m = e->midi[i];
      m = {};
      m.type = kind % 4 == 1 ? in.take<int32_t>() : kVstMidiType;
      m.byteSize = sizeof m;
      m.deltaFrames = in.small();
      for (char& b : m.midiData) b = static_cast<char>(in.take<uint8_t>());
      entries[i] = reinterpret_cast<VstEvent*>(&m);
    }
  }
  return list;
}

void setHostTime(fuzztest::Reader& in) {
  hostAnswersTime = in.take<uint8_t>() & 1;
  auto value = [&in]() -> double {
    switch (in.take<uint8_t>() % 6) {
      case 0:
        return std::nan("");
      case 1:
        return in.take<uint8_t>() & 1 ? HUGE_VAL : -HUGE_VAL;
      case 2:
        return in.take<double>();
      case 3:
        return -in.small();
      default:
        return in.take<uint16_t>() * 0.25;
    }
  };
  hostTime.samplePos = value();
  hostTime.sampleRate = value();
  hostTime.ppqPos = value();
  hostTime.tempo = value();
  hostTime.barStartPos = value();
  hostTime.cycleStartPos = value();
  hostTime.cycleEndPos = value();
  hostTime.timeSigNumerator = in.take<uint8_t>() & 1 ? in.take<int32_t>() : in.small();
  hostTime.timeSigDenominator = in.take<uint8_t>() & 1 ? in.take<int32_t>() : in.small();
  hostTime.flags = in.take<int32_t>();
}

void process(AEffect* e, fuzztest::Reader& in) {
  const uint8_t how = in.take<uint8_t>();
  const int n = how % 32 == 31 ? IEffectBase::kMaxBlockSize + in.take<uint8_t>() : in.take<uint16_t>() % 2049;
  // Buffers of exactly n samples for every channel the plug-in has.
  const int channels = std::max(e->numInputs, e->numOutputs);
  if (how % 3 == 2) {
    std::vector<std::vector<double>> bufs(2 * channels, std::vector<double>(static_cast<size_t>(n), 0.25));
    std::vector<double*> ins, outs;
    for (int c = 0; c < channels; ++c) ins.push_back(bufs[c].data()), outs.push_back(bufs[channels + c].data());
    e->processDoubleReplacing(e, ins.data(), outs.data(), n);
  } else {
    std::vector<std::vector<float>> bufs(2 * channels, std::vector<float>(static_cast<size_t>(n), 0.25f));
    std::vector<float*> ins, outs;
    for (int c = 0; c < channels; ++c) ins.push_back(bufs[c].data()), outs.push_back(bufs[channels + c].data());
    (how % 3 ? e->process : e->processReplacing)(e, ins.data(), outs.data(), n);
  }
}

// One dispatcher call built from the input.
void dispatch(AEffect* e, fuzztest::Reader& in) {
  const int32_t opcode = in.take<uint8_t>() % 80;
  const int32_t index = in.take<uint8_t>() & 1 ? in.take<int32_t>() : in.small();
  const intptr_t value = in.take<uint8_t>() & 1 ? in.take<int64_t>() : in.small();
  const float opt = in.f();
  auto call = [&](intptr_t v, void* ptr) { return e->dispatcher(e, opcode, index, v, ptr, opt); };
  switch (opcode) {
    case effClose:
    case effEditOpen:  // with a real window pointer only; the editor tests open it
      return;
    case effSetProgramName:
    case effString2Parameter:
    case effCanDo: {
      std::unique_ptr<char[]> s = in.take<uint8_t>() & 1 ? text(in) : nullptr;
      if (!s) {
        const std::string w = word(in);
        s.reset(new char[w.size() + 1]);
        std::memcpy(s.get(), w.c_str(), w.size() + 1);
      }
      call(value, s.get());
      return;
    }
    case effGetProgramName:
    case effGetProgramNameIndexed: {
      std::unique_ptr<char[]> out(new char[kVstMaxProgNameLen + 1]);
      call(value, out.get());
      check(std::memchr(out.get(), 0, kVstMaxProgNameLen + 1) || opcode == effGetProgramName, "unterminated name");
      return;
    }
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
    case effVendorSpecific: {
      std::unique_ptr<char[]> out(new char[kVstMaxParamStrLen + 1]);
      call(opcode == effVendorSpecific && (in.take<uint8_t>() & 1) ? index : value, out.get());
      return;
    }
    case effGetEffectName: {
      std::unique_ptr<char[]> out(new char[kVstMaxEffectNameLen + 1]);
      call(value, out.get());
      return;
    }
    case effGetVendorString:
    case effGetProductString: {
      std::unique_ptr<char[]> out(new char[kVstMaxVendorStrLen]);
      call(value, out.get());
      return;
    }
    case effEditGetRect: {
      std::unique_ptr<ERect*> out(new ERect*(nullptr));
      if (call(value, out.get()) == 1) check(*out != nullptr, "no rectangle");
      return;
    }
    case effGetChunk: {
      std::unique_ptr<void*> out(new void*(nullptr));
      const intptr_t size = call(value, out.get());
      check(size >= 0, "negative chunk size");
      if (size > 0) {
        check(*out != nullptr, "no chunk");
        // A host that stores the chunk gives it back: it is taken as it was given.
        std::vector<uint8_t> copy(static_cast<uint8_t*>(*out), static_cast<uint8_t*>(*out) + size);
        check(e->dispatcher(e, effSetChunk, index == 0 ? 0 : 1, size, copy.data(), 0.0f) == 1, "own chunk refused");
      }
      return;
    }
    case effSetChunk: {
      const size_t n = in.take<uint8_t>() & 1 ? in.take<uint16_t>() % 600 : in.take<uint8_t>() % 24;
      std::unique_ptr<uint8_t[]> bytes(new uint8_t[n ? n : 1]);
      if (n >= 8 && (in.take<uint8_t>() & 1)) {
        const uint8_t header[8] = {0x74, 0x66, 0x66, 0x70, 0x00, 0x00, 0x01, 0x00};
        std::memcpy(bytes.get(), header, 8);
        for (size_t i = 8; i < n; ++i) bytes[i] = in.take<uint8_t>();
      } else {
        for (size_t i = 0; i < n; ++i) bytes[i] = in.take<uint8_t>();
      }
      call(static_cast<intptr_t>(n), bytes.get());
      return;
    }
    case effProcessEvents: {
      Events store;
      call(value, events(in, &store));
      return;
    }
    case effGetInputProperties:
    case effGetOutputProperties: {
      std::unique_ptr<VstPinProperties> out(new VstPinProperties{});
      call(value, out.get());
      return;
    }
    case effSetSpeakerArrangement: {
      std::unique_ptr<VstSpeakerArrangement> a(new VstSpeakerArrangement{}), b(new VstSpeakerArrangement{});
      a->numChannels = in.take<uint8_t>() & 1 ? in.take<int32_t>() : in.small();
      b->numChannels = in.take<uint8_t>() & 1 ? in.take<int32_t>() : in.small();
      const uint8_t which = in.take<uint8_t>();
      e->dispatcher(e, opcode, index, which & 1 ? reinterpret_cast<intptr_t>(a.get()) : 0, which & 2 ? b.get() : nullptr,
                    opt);
      return;
    }
    case effGetSpeakerArrangement: {
      std::unique_ptr<VstSpeakerArrangement*> a(new VstSpeakerArrangement*(nullptr)),
          b(new VstSpeakerArrangement*(nullptr));
      call(reinterpret_cast<intptr_t>(a.get()), b.get());
      return;
    }
    case effGetMidiKeyName: {
      std::unique_ptr<MidiKeyName> key(new MidiKeyName{});
      key->thisKeyNumber = in.take<int32_t>();
      call(value, key.get());
      return;
    }
    case effSetBlockSize:
    case effSetSampleRate:
    case effMainsChanged:
    case effOpen:
    case effEditClose:
    case effEditIdle:
    case effIdle:
    case effSetProgram:
      call(value, nullptr);
      return;
    default: {
      // Requests the plug-in does not know get a block of any size (or none) and must change nothing.
      const size_t n = in.take<uint8_t>() % 64;
      std::unique_ptr<uint8_t[]> block(n ? new uint8_t[n] : nullptr);
      for (size_t i = 0; i < n; ++i) block[i] = in.take<uint8_t>();
      call(value, block.get());
      return;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzztest::Reader in{data, size};
  HostPlug small;
  Vexmir* plug = editor();
  hostAnswersTime = false;
  int steps = 0;
  while (in.left > 0 && ++steps < 200) {
    IEffectBase& target = in.take<uint8_t>() & 1 ? static_cast<IEffectBase&>(*plug) : small;
    AEffect* e = static_cast<IEffectVST&>(target).GetAEffect();
    switch (in.take<uint8_t>() % 8) {
      case 0:
        e->setParameter(e, in.take<uint8_t>() & 1 ? in.take<int32_t>() : in.small(), in.f());
        break;
      case 1: {
        const float v = e->getParameter(e, in.small());
        check(v >= 0.0f && v <= 1.0f, "a normalized value outside 0..1");
        break;
      }
      case 2:
        process(e, in);
        break;
      case 3:
        setHostTime(in);
        break;
      default:
        dispatch(e, in);
        break;
    }
    checkValues(target);
  }
  checkValues(*plug);
  return 0;
}
