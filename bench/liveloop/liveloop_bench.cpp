// The live editing loop's costs on the editor built from the bundle's resources: an edit from the editor's
// control to the bytes handed to the output port (CC and SysEx bindings), a message from the synthesizer to the
// control marked dirty, and the audio callback with and without queued MIDI.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/MidiInputDelivery.h"
#include "platform/vst2/vst2.h"
#include "src/ControlAction.h"
#include "src/LibrarianEditor.h"
#include "src/MIDIMessageManager.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"

namespace {

int told = 0;

intptr_t quietHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  if (opcode == audioMasterUpdateDisplay) ++told;
  return 0;
}

// An "open" output port that only counts the bytes handed to it.
class BenchPlug : public Vexmir {
 public:
  BenchPlug() : Vexmir(IEffectInstanceInfo{quietHost}) {
    getMidiManager()->getSender()->jobRunner = [](MIDIMessageSender&, const SenderJob&) {};
    midiOutReady = true;
    editModeOn = true;
    GetParam(kDeviceOutSelection)->SetBounds(0, 1);
    storeParamValue(kDeviceOutSelection, 1);
  }
  bool SendMidiMsg(IMidiMsg* m) override {
    bytes += 3;
    benchmark::DoNotOptimize(m->mData2);
    return true;
  }
  bool SendMidiSysex(unsigned char* d, int n) override {
    bytes += static_cast<size_t>(n) + 2;
    benchmark::DoNotOptimize(d[n - 1]);
    return true;
  }
  size_t bytes = 0;
};

BenchPlug& plug() {
  static BenchPlug* p = [] {
    static std::string root =
        std::filesystem::temp_directory_path().string() + "/vexmir-liveloop-bench-" + std::to_string(::getpid());
    std::filesystem::create_directories(root);
    setenv("VEXMIR_ROOT", root.c_str(), 1);
    return new BenchPlug();
  }();
  return *p;
}

// SetParameterFromGUI, as a control calls it, to the bytes at the port; the value alternates so that every call
// sends.
void editToPort(benchmark::State& state, int param) {
  BenchPlug& p = plug();
  const size_t before = p.bytes;
  bool high = false;
  for (auto _ : state) {
    high = !high;
    p.SetParameterFromGUI(param, high ? 0.75 : 0.25);
  }
  if (p.bytes == before) state.SkipWithError("nothing was sent");
  state.counters["bytes/edit"] = static_cast<double>(p.bytes - before) / static_cast<double>(state.iterations());
}

void BM_EditToPortCC(benchmark::State& state) {
  editToPort(state, kFilterCutoff);
}
BENCHMARK(BM_EditToPortCC);

void BM_EditToPortSysEx(benchmark::State& state) {
  editToPort(state, kSeq1Step1);
}
BENCHMARK(BM_EditToPortSysEx);

// A control change as the MIDI library's input thread delivers it, to the bound control marked dirty.
void BM_MidiInToControlDirty(benchmark::State& state) {
  BenchPlug& p = plug();
  IControl* knob = p.firstControl(kFilterCutoff);
  if (!knob) {
    state.SkipWithError("no cutoff control");
    return;
  }
  std::vector<unsigned char> message = {0xB0, 74, 0};
  int value = 0, moved = 0;
  for (auto _ : state) {
    value = (value + 37) % 128;
    message[2] = static_cast<unsigned char>(value);
    IEffectBase::MIDICallback(0.0, &message, &p);
    moved += knob->IsDirty();
    knob->SetClean();
    knob->SetClean();
  }
  state.counters["moved"] = static_cast<double>(moved) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MidiInToControlDirty);

// The same through the input port's delivery thread, as a JACK port hands it over: the message is queued by the
// library's callback and the time runs until the delivery thread has marked the control dirty.
void BM_MidiInThroughDeliveryToControlDirty(benchmark::State& state) {
  BenchPlug& p = plug();
  IControl* knob = p.firstControl(kFilterCutoff);
  if (!knob) {
    state.SkipWithError("no cutoff control");
    return;
  }
  MidiInputDelivery delivery(&p);
  std::vector<unsigned char> message = {0xB0, 74, 0};
  IEffectBase::MIDICallback(0.0, &message, &p);  // the first value a control hears does not dirty it
  int value = 0;
  for (auto _ : state) {
    value = (value + 37) % 128;
    message[2] = static_cast<unsigned char>(value);
    knob->SetClean();
    knob->SetClean();
    MidiInputDelivery::post(0.0, &message, &delivery);
    for (long spin = 0; !knob->IsDirty(); ++spin) {
      if (spin > 100000000) {
        state.SkipWithError("the control was not marked dirty");
        return;
      }
    }
  }
}
BENCHMARK(BM_MidiInThroughDeliveryToControlDirty)->UseRealTime();

// One 512-frame block of the audio callback with the given number of queued messages (routed through the queue).
void BM_ProcessBlock(benchmark::State& state) {
  BenchPlug& p = plug();
  p.SetBlockSize(512);
  p.Reset();
  p.storeParamValue(kMIDIFilterToDAWBuffer, state.range(0) > 0 ? 1.0 : 0.0);
  p.OnParamChange(kMIDIFilterToDAWBuffer);
  double* none[2] = {nullptr, nullptr};
  for (auto _ : state) {
    for (int i = 0; i < state.range(0); ++i) {
      IMidiMsg m(i * 512 / static_cast<int>(state.range(0)), 0xB0, 74, static_cast<uint8_t>(i & 0x7F));
      p.MIDIOutRoutingSwitch(&m);
    }
    p.ProcessDoubleReplacing(none, none, 512);
  }
}
BENCHMARK(BM_ProcessBlock)->Arg(0)->Arg(8)->Arg(64);

// The host's idle through the entry: with nothing changed since the one before, and after a kept value changed (the
// project is compared with what the host holds, and the host told). With the argument 1 a bank of 128 programs is open
// with an unsaved edit, whose image the project keeps.
void hostIdle(benchmark::State& state, bool change) {
  BenchPlug& p = plug();
  AEffect* e = p.GetAEffect();
  LibrarianEditor* editor = p.getLibrarianEditor();
  if (state.range(0) == 1 && !editor->openBankUnsaved()) {
    std::vector<uint8_t> dump(kProgramDumpSize);
    p.buildProgramDumpOf("Bench", p.currentValues(), dump.data());
    std::filesystem::create_directories(Vexmir::getPatchesFolderStr());
    std::ofstream file(Vexmir::getPatchesFolderStr() + "/Bench.syx", std::ios::binary);
    for (int i = 0; i < 128; ++i) file.write(reinterpret_cast<const char*>(dump.data()), kProgramDumpSize);
    file.close();
    editor->patchTypeChanged(0, 0, true);
    if (!editor->selectBank(0, 0) || !editor->renameProgram(3, "Edited")) state.SkipWithError("no bank to edit");
  }
  e->dispatcher(e, effIdle, 0, 0, nullptr, 0.0f);
  const int before = told;
  bool high = false;
  for (auto _ : state) {
    if (change) p.storeParamValue(kFilterCutoff, (high = !high) ? 100 : 20);
    e->dispatcher(e, effIdle, 0, 0, nullptr, 0.0f);
  }
  state.counters["told/idle"] = static_cast<double>(told - before) / static_cast<double>(state.iterations());
}

void BM_HostIdleNothingChanged(benchmark::State& state) {
  hostIdle(state, false);
}
BENCHMARK(BM_HostIdleNothingChanged)->Arg(0)->Arg(1);

void BM_HostIdleAfterAChange(benchmark::State& state) {
  hostIdle(state, true);
}
BENCHMARK(BM_HostIdleAfterAChange)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
