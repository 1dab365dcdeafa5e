// MIDI into the editor's own input handlers: from the synthesizer's port as its input delivers it (one message at a
// time, short messages and SysEx of any length, Korg-framed or not) and from the host (effProcessEvents), with the
// protocol state the handlers look at drawn from the input too: the filters of both sides, master keyboard, local
// control, MIDI out ready, the awaited dump, the connect and bank receive flags, the channel the editor believes the
// synthesizer is on and the timbres' channels. After every message each parameter is finite and within its range,
// every message the editor sends is well formed and the synthesizer's device id stays one of its 16 channels'.
// One editor for the whole run, in a data folder of its own; its transfer jobs run on a clock of their own.
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "KIT/IEffect/IParam.h"
#include "platform/vst2/vst2.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchLibrarian.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"
#include "tests/fuzz/fuzz_data_root.h"
#include "tests/fuzz/fuzz_reader.h"
#include "tests/support/SysexDumps.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

void checkShort(uint8_t status, uint8_t data1, uint8_t data2) {
  check(status >= 0x80 && status != 0xF0 && status != 0xF7, "a short message without a status byte");
  check(data1 < 0x80 && data2 < 0x80, "a short message with a data byte above 127");
}

void checkSysEx(const uint8_t* b, size_t n) {
  check(n >= 2 && b[0] == 0xF0 && b[n - 1] == 0xF7, "a SysEx message that is not framed");
  for (size_t i = 1; i + 1 < n; ++i) check(b[i] < 0x80, "a SysEx data byte above 127");
}

// The host: events the editor hands back or sends are checked like the port's.
intptr_t host(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
  if (opcode == audioMasterVersion) return kVstVersion;
  if (opcode != audioMasterProcessEvents || !ptr) return 0;
  const VstEvents* list = static_cast<const VstEvents*>(ptr);
  VstEvent* const* entries = list->events;
  for (int i = 0; i < list->numEvents; ++i) {
    const VstEvent* ev = entries[i];
    if (ev && ev->type == kVstMidiType) {
      const VstMidiEvent* m = reinterpret_cast<const VstMidiEvent*>(ev);
      checkShort(static_cast<uint8_t>(m->midiData[0]), static_cast<uint8_t>(m->midiData[1]),
                 static_cast<uint8_t>(m->midiData[2]));
    }
  }
  return 1;
}

// What the editor would send through its output port is checked instead.
class FuzzEditor : public Vexmir {
 public:
  FuzzEditor() : Vexmir(IEffectInstanceInfo{host}) { setJobClock(&clock); }
  bool SendMidiMsg(IMidiMsg* m) override {
    checkShort(m->mStatus, m->mData1, m->mData2);
    return true;
  }
  bool SendMidiSysex(unsigned char* b, int n) override {
    check(b && n > 0, "an empty SysEx send");
    const std::vector<uint8_t> framed = vexmir::testsupport::framedSysex(b, n);
    checkSysEx(framed.data(), framed.size());
    return true;
  }
  bool SendMidiSysex2(std::vector<unsigned char> v) override {
    checkSysEx(v.data(), v.size());
    return true;
  }
  // Waits (in real time, with a bound) until the transfer job a message started has ended.
  void settle() {
    for (int i = 0; i < 5000 && getMidiManager()->isWorkerBusy(MidiWorker::kJobThread); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void checkState() {
    for (int i = 0; i < NParams(); ++i) {
      IParam* p = GetParam(i);
      if (p->Type() == IParam::kTypeText) continue;
      const double v = p->Value();
      check(std::isfinite(v), "a parameter is not finite");
      check(v >= p->GetMin() && v <= p->GetMax(), "a parameter is outside its range");
    }
    check(deviceId >= 0x30 && deviceId <= 0x3F, "the device id is not a channel's");
  }

  ManualJobClock clock;
};

FuzzEditor* editor() {
  static FuzzEditor* plug = fuzztest::newEditor<FuzzEditor>();
  return plug;
}

// Sizes the SysEx input tells apart, and the Korg header in front half of the time.
std::vector<uint8_t> sysex(fuzztest::Reader& in, int channel) {
  static const int sizes[] = {6, 8, 10, 24, 25, 229, 230, 237, 238, 289, 290, 297, 298, 300};
  const uint8_t how = in.take<uint8_t>();
  const size_t n = how & 0x80 ? in.take<uint16_t>() % 400 : sizes[how % (sizeof sizes / sizeof *sizes)];
  std::vector<uint8_t> m(n);
  const bool korg = how & 0x40;
  for (size_t i = 0; i < n; ++i) m[i] = in.take<uint8_t>() & (korg ? 0x7F : 0xFF);
  if (korg && n >= 6) {
    const uint8_t functions[] = {0x40, 0x41, 0x4C, 0x4E, 0x50, 0x51, 0x21, 0x23, 0x24, 0x26};
    m[0] = 0xF0, m[1] = 0x42, m[2] = static_cast<uint8_t>(0x30 | channel), m[3] = 0x58;
    m[4] = functions[m[4] % sizeof functions];
    m[n - 1] = 0xF7;
  }
  return m;
}

void setState(FuzzEditor* plug, fuzztest::Reader& in) {
  const uint8_t which = in.take<uint8_t>();
  const uint8_t v = in.take<uint8_t>();
  const bool on = v & 1;
  MIDIMessageManager* hub = plug->getMidiManager();
  switch (which % 24) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
      plug->deviceFilter[which % 24] = on;
      break;
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
      plug->hostFilter[which % 24 - 7] = on;
      break;
    case 14:
      plug->masterKeyboardFlag = on;
      break;
    case 15:
      plug->localControlFlag = on;
      break;
    case 16:
      plug->midiOutReady = on;
      break;
    case 17:
      hub->dumpPending = on;
      break;
    case 18:
      plug->connectPending = on;
      break;
    case 19:
      plug->bankReceiveActive = on;
      if (plug->getLibrarian()) plug->getLibrarian()->bankDumpFromHardware = (v & 2) != 0;
      break;
    case 20:
      plug->deviceId = 0x30 + v % 16;
      plug->storeParamValue(kGlobalMidiChannel, v % 16);
      break;
    case 21:
      plug->storeParamValue(kMultiPartMIDICh + (v & 1), (v >> 1) % 18);
      break;
    case 22:
      plug->storeParamValue(kCommonMode, v % 3);
      plug->storeParamValue(kPartLock + (v & 1), (v >> 2) & 1);
      break;
    default:
      plug->trackIncomingMidi = on;
      hub->channelSearchActive = (v & 2) != 0;
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzEditor* plug = editor();
  AEffect* e = plug->GetAEffect();
  fuzztest::Reader in{data, size};
  int steps = 0;
  while (in.left > 0 && ++steps < 64) {
    const uint8_t op = in.take<uint8_t>();
    const int channel = plug->deviceId - 0x30;
    switch (op % 6) {
      case 0:
      case 1: {
        // A short message from the synthesizer: one to three bytes as the port gives them.
        std::vector<unsigned char> m(1 + in.take<uint8_t>() % 3);
        for (unsigned char& b : m) b = in.take<uint8_t>();
        if (op & 0x80) m[0] = static_cast<unsigned char>(0x80 | (m[0] & 0x70) | (op & 0x40 ? channel : m[0] & 0x0F));
        IEffectBase::MIDICallback(0.0, &m, plug);
        break;
      }
      case 2: {
        std::vector<unsigned char> m = sysex(in, op & 0x80 ? channel : in.take<uint8_t>() % 16);
        IEffectBase::MIDICallback(0.0, &m, plug);
        break;
      }
      case 3: {
        // Events from the host: short messages, and SysEx, which goes back to the host untouched.
        const int n = 1 + in.take<uint8_t>() % 4;
        std::vector<VstMidiEvent> midi(static_cast<size_t>(n));
        std::vector<uint8_t> dump = sysex(in, channel);
        VstMidiSysexEvent sx{};
        sx.type = kVstSysExType;
        sx.byteSize = sizeof sx;
        sx.dumpBytes = static_cast<int32_t>(dump.size());
        sx.sysexDump = reinterpret_cast<char*>(dump.data());
        std::vector<char> block(offsetof(VstEvents, events) + sizeof(VstEvent*) * static_cast<size_t>(n + 1));
        VstEvents* list = reinterpret_cast<VstEvents*>(block.data());
        list->numEvents = n + 1;
        VstEvent** entries = reinterpret_cast<VstEvent**>(block.data() + offsetof(VstEvents, events));
        for (int i = 0; i < n; ++i) {
          midi[i] = {};
          midi[i].type = kVstMidiType;
          midi[i].byteSize = sizeof midi[i];
          for (int k = 0; k < 3; ++k) midi[i].midiData[k] = static_cast<char>(in.take<uint8_t>());
          entries[i] = reinterpret_cast<VstEvent*>(&midi[i]);
        }
        entries[n] = reinterpret_cast<VstEvent*>(&sx);
        e->dispatcher(e, effProcessEvents, 0, 0, list, 0.0f);
        break;
      }
      default:
        setState(plug, in);
        break;
    }
    plug->settle();
    plug->checkState();
  }
  return 0;
}
