#include "KIT/IEffect/IEffectVST.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IGraphicsMac.h"
#include "KIT/IEffect/JackOwner.h"
#include "KIT/IEffect/Log.h"
#include "KIT/kitstring.h"
#include "platform/vst2/vst2.h"
#include "platform/x11/presenter.h"

struct IEffectVST::VSTState {
  AEffect mAEffect{};
  ERect mEditRect{};
  audioMasterCallback mHostCallback = nullptr;
  VstSpeakerArrangement mInputSpkrArr{};
  VstSpeakerArrangement mOutputSpkrArr{};
  bool mHostSpecificInitDone = false;
  int mHasVSTExtensions = 0;
  ByteChunk mState;                      // program chunk handed to the host
  ByteChunk mBankState;                  // bank chunk handed to the host
  x11::Presenter* mX11Editor = nullptr;  // the editor shown in a Linux host's X11 window; host GUI thread only
};

namespace {

constexpr int kHostExtensionsBit = 1;
constexpr int kHostViewAsConfigBit = 2;
constexpr intptr_t kVendorAnswer = 0xBEEF;
constexpr intptr_t kHostExtensionAnswer = 0xBEEF0000;
constexpr int32_t kIdentifyAnswer = 0x4E764566;  // 'NvEf'

int32_t speakerArrType(int nChannels) {
  return nChannels < 3 ? nChannels - 1 : kSpeakerArrUserDefined;
}

void setSpeakerArr(VstSpeakerArrangement* arr, int nChannels) {
  std::memset(arr, 0, sizeof *arr);
  arr->type = speakerArrType(nChannels);
  arr->numChannels = nChannels;
}

// Copies text into a host buffer of the given size, always terminated.
void copyOut(void* ptr, const char* text, size_t size) {
  KIT_UTF8Copy(static_cast<char*>(ptr), size, text);
}

IEffectVST* plugOf(AEffect* effect) {
  return effect ? static_cast<IEffectVST*>(effect->object) : nullptr;
}

KIT_Mutex& creationLock() {
  static KIT_Mutex lock;  // destroyed at process exit
  return lock;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Static entry points of the AEffect. Each finds the plug-in through the record, holds the
// plug-in mutex for the whole call and lets no exception reach the host.

class IEffectVSTEntry {
 public:
  static intptr_t dispatcher(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
  static float getParameter(AEffect* effect, int32_t idx);
  static void setParameter(AEffect* effect, int32_t idx, float value);
  static void process(AEffect* effect, float** inputs, float** outputs, int32_t nFrames);
  static void processReplacing(AEffect* effect, float** inputs, float** outputs, int32_t nFrames);
  static void processDoubleReplacing(AEffect* effect, double** inputs, double** outputs, int32_t nFrames);
  // Closes an editor shown on X11 (none: nothing) and gives back its X11 window, connection and model window.
  static void closeX11Editor(IEffectVST* plug);
  // Closes the editor as the host's editor close does, in either window model; false without a surface.
  static bool closeEditor(IEffectVST* plug);
  // Before the editor closes, on whichever thread the host closes it: a menu, panel or question standing on the
  // editor's thread ends unanswered, and the close waits until that thread has left the editor's calls. Without
  // the plug-in mutex, which the editor's thread takes as it returns.
  static void endEditorCalls(IEffectVST* plug);

 private:
  static intptr_t dispatch(IEffectVST* plug, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
  static intptr_t getChunk(IEffectVST* plug, bool isBank, void* ptr);
  static intptr_t setChunk(IEffectVST* plug, bool isBank, intptr_t size, void* ptr);
  static intptr_t processEvents(IEffectVST* plug, void* ptr);
  static intptr_t string2Parameter(IEffectVST* plug, int idx, const char* text);
  static intptr_t canDo(IEffectVST* plug, const char* question);
  static intptr_t pinProperties(IEffectVST* plug, bool input, int idx, void* ptr);
  static intptr_t setSpeakerArrangement(IEffectVST* plug, intptr_t value, void* ptr);
  static void prepareProcess(IEffectVST* plug, int nFrames);
  template <class Sample, class Run>
  static void runBlock(AEffect* effect, Sample** inputs, Sample** outputs, int32_t nFrames, bool replacing, Run run);
};

void IEffectVSTEntry::closeX11Editor(IEffectVST* plug) {
  if (!plug->mState->mX11Editor) return;
  // The editor leaves the model window before the window goes.
  if (IGraphics* g = plug->GetGUI()) g->CloseWindow();
  delete plug->mState->mX11Editor;
  plug->mState->mX11Editor = nullptr;
}

void IEffectVSTEntry::endEditorCalls(IEffectVST* plug) {
  IGraphics* g = plug->GetGUI();
  if (!g) return;
  if (plug->mState->mX11Editor) plug->mState->mX11Editor->abandonModals();
  g->EndModalsAndWait();
}

bool IEffectVSTEntry::closeEditor(IEffectVST* plug) {
  IGraphics* g = plug->GetGUI();
  if (!g) return false;
  plug->OnGUIClose();
  g->CloseWindow();
  closeX11Editor(plug);
  return true;
}

intptr_t IEffectVSTEntry::dispatcher(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                     float opt) {
  IEffectVST* plug = plugOf(effect);
  if (!plug) return 0;
  // Whatever the MIDI system has to do for the call answers within about a second of its arrival.
  const jackowner::AnswerWithin answer;
  if (opcode == effClose) {
    // The mutex lives in the object, so it is released before the object goes. The MIDI input is unhooked
    // before the object's destruction begins: no message may be handed to an object whose destructors run.
    // A host may close the plug-in with its editor open: the editor closes first, as the host's editor close does,
    // while the plug-in is whole, so that a text still typed in a field reaches a plug-in that can take it.
    try {
      plug->EndTells();
      endEditorCalls(plug);
      {
        KIT_MutexLock lock(&plug->GetMutex());
        IGraphics* g = plug->GetGUI();
        if (g && (g->WindowIsOpen() || plug->mState->mX11Editor)) closeEditor(plug);
      }
      plug->giveUpMidiWaits();
      plug->closeExternalMIDIPorts();
      delete plug;
    } catch (...) {
      std::fprintf(stderr, "Vexmir: error while closing the plug-in\n");
    }
    return 0;
  }
  // The editor closes, or opens anew in place of what was shown, only once what stands has ended unanswered and the
  // editor's thread has left its calls: the X11 editor is deleted then. Only then is the call counted itself, so that
  // two of them on two threads do not wait for each other.
  if (opcode == effEditClose || opcode == effEditOpen) {
    try {
      endEditorCalls(plug);
    } catch (...) {
      std::fprintf(stderr, "Vexmir: error while ending the editor's menus\n");
    }
  }
  // Every host call is counted for as long as it runs, so that a close from another thread waits for it to end and
  // frees nothing under it. Only the editor's idle is a call of the editor's thread: a host's thread that recalls a
  // project or idles the plug-in does not become the editor's by it. The host's MIDI on its audio thread touches
  // nothing of the editor and takes none of its locks.
  const IGraphics::CallScope call(
      opcode == effProcessEvents ? nullptr : plug->GetGUI(),
      opcode == effEditIdle ? IGraphics::CallScope::kEditorsThread : IGraphics::CallScope::kCountOnly);
  if (opcode == effEditIdle || opcode == effIdle) {
    // A Linux host's idle calls are the editor's clock and event loop; they run without the plug-in mutex, as the
    // view's timer and events do on the Mac, and the controls take it where they change parameters. None idles the
    // editor after a close began.
    IGraphics* g = plug->GetGUI();
    if (opcode == effEditIdle && g) {
      try {
        if (!g->ModalsEnding() && plug->mState->mX11Editor) plug->mState->mX11Editor->idle();
      } catch (...) {
        std::fprintf(stderr, "Vexmir: error while idling the editor\n");
      }
    }
    // On the host's own thread, once for any number of edits: the host marks its project modified (Ardour does;
    // Qtractor 0.9.31 does not). While the host idles the plug-in, the relay leaves the tell to the idle.
    try {
      plug->HostIdled();
      plug->TellUnreportedChange();
    } catch (...) {
      std::fprintf(stderr, "Vexmir: error while comparing the project with the host's\n");
    }
    return 0;
  }
  // A project's state is read and written by the plug-in under its mutex, which a recall gives up while it reopens
  // the MIDI ports: the recall waits for the MIDI server, and nothing else may wait for the recall meanwhile. The
  // host's MIDI goes to the relay, which takes the mutex on its own thread.
  const bool ownLocking = opcode == effGetChunk || opcode == effSetChunk || opcode == effProcessEvents;
  KIT_MutexLock lock(ownLocking ? nullptr : &plug->GetMutex());
  try {
    return dispatch(plug, opcode, index, value, ptr, opt);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Vexmir: host request %d failed: %s\n", opcode, e.what());
  } catch (...) {
    std::fprintf(stderr, "Vexmir: host request %d failed\n", opcode);
  }
  return 0;
}

intptr_t IEffectVSTEntry::dispatch(IEffectVST* plug, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                   float opt) {
  IEffectVST::VSTState* st = plug->mState;
  auto hostVisible = [plug](int idx) { return idx >= 0 && idx < plug->NHostParams(); };

  switch (opcode) {
    case effOpen:
      plug->HostSpecificInit();
      plug->OnParamReset();
      return 0;
    case effSetProgram:
      if (!plug->DoesChunks()) plug->ModifyCurrentPreset(nullptr);
      plug->RestorePreset(static_cast<int>(value));
      return 0;
    case effGetProgram:
      return plug->GetCurrentPresetIdx();
    case effSetProgramName:
      if (ptr) {
        plug->ModifyCurrentPreset(static_cast<const char*>(ptr));
        plug->PresetsChangedByHost();
      }
      return 0;
    case effGetProgramName:
      if (ptr) copyOut(ptr, plug->GetPresetName(plug->GetCurrentPresetIdx()), kVstMaxProgNameLen + 1);
      return 0;
    case effGetParamLabel:
      if (ptr && hostVisible(index)) copyOut(ptr, plug->GetParam(index)->GetLabelForHost(), kVstMaxParamStrLen + 1);
      return 0;
    case effGetParamDisplay:
      if (ptr && hostVisible(index)) {
        char text[128];
        IParam* p = plug->GetParam(index);
        p->GetDisplayForHost(p->Value(), false, text, true);
        copyOut(ptr, text, kVstMaxParamStrLen + 1);
      }
      return 0;
    case effGetParamName:
      if (ptr && hostVisible(index)) copyOut(ptr, plug->GetParam(index)->GetNameForHost(), kVstMaxParamStrLen + 1);
      return 0;
    case effSetSampleRate:
      plug->SetSampleRate(opt);
      plug->Reset();
      return 0;
    case effSetBlockSize:
      // SetBlockSize refuses sizes no host uses; a value beyond the int range is one of them.
      plug->SetBlockSize(value > IEffectBase::kMaxBlockSize ? IEffectBase::kMaxBlockSize + 1
                                                            : static_cast<int>(value < 0 ? 0 : value));
      plug->Reset();
      return 0;
    case effMainsChanged:
      if (value) {
        plug->OnActivate(true);
      } else {
        plug->OnActivate(false);
        plug->Reset();
      }
      return 0;
    case effEditGetRect:
      if (ptr && plug->GetGUI()) {
        *static_cast<ERect**>(ptr) = &st->mEditRect;
        return 1;
      }
      return 0;
    case effEditOpen: {
      IGraphics* g = plug->GetGUI();
      if (!g) return 0;
      closeX11Editor(plug);
      g->EditorOpening();
      // A Linux host hands over its X11 window: the editor goes into a window of the platform model, which the
      // presenter shows inside the host's window.
      if (const uint32_t hostWindow = x11::hostWindowOf(ptr)) {
        std::string why;
        st->mX11Editor = x11::Presenter::open(
            hostWindow, g->Width(), g->Height(),
            [g](cocoa::View* content) { return g->OpenWindow(content) != nullptr; }, &why);
        if (!st->mX11Editor) {
          g->CloseWindow();
          std::fprintf(stderr, "Vexmir: the editor cannot be shown: %s\n", why.c_str());
          return 0;
        }
        plug->OnGUIOpen();
        return 1;
      }
      // A host that asked for the view form gets a view inside its own; otherwise the editor goes into its window.
      void* view =
          (st->mHasVSTExtensions & kHostViewAsConfigBit) ? g->OpenWindow(ptr) : g->OpenWindow(ptr, nullptr, 0, 0);
      if (!view) return 0;
      plug->OnGUIOpen();
      return 1;
    }
    case effEditClose:
      return closeEditor(plug) ? 1 : 0;
    case effIdentify:
      return kIdentifyAnswer;
    case effGetChunk:
      return getChunk(plug, index == 0, ptr);
    case effSetChunk:
      return setChunk(plug, index == 0, value, ptr);
    case effProcessEvents:
      return processEvents(plug, ptr);
    case effCanBeAutomated:
      return 1;
    case effString2Parameter:
      return string2Parameter(plug, index, static_cast<const char*>(ptr));
    case effGetProgramNameIndexed:
      if (!ptr) return 0;
      copyOut(ptr, plug->GetPresetName(index), kVstMaxProgNameLen + 1);
      return static_cast<char*>(ptr)[0] ? 1 : 0;
    case effGetInputProperties:
      return pinProperties(plug, true, index, ptr);
    case effGetOutputProperties:
      return pinProperties(plug, false, index, ptr);
    case effGetPlugCategory:
      return plug->IsInst() ? kPlugCategSynth : kPlugCategEffect;
    case effSetSpeakerArrangement:
      return setSpeakerArrangement(plug, value, ptr);
    case effGetEffectName:
      if (!ptr) return 0;
      copyOut(ptr, plug->GetEffectName(), kVstMaxEffectNameLen + 1);
      return 1;
    case effGetVendorString:
      if (!ptr) return 0;
      copyOut(ptr, plug->GetMfrName(), kVstMaxVendorStrLen);
      return 1;
    case effGetProductString:
      if (!ptr) return 0;
      copyOut(ptr, plug->GetProductName(), kVstMaxProductStrLen);
      return 1;
    case effGetVendorVersion:
      return plug->GetEffectVersion(false);
    case effVendorSpecific:
      if (index != 7) return 0;
      if (!ptr) return 0;
      if (value >= 0 && value < plug->NHostParams()) {
        char text[128];
        plug->GetParam(static_cast<int>(value))->GetDisplayForHost(opt, true, text, true);
        copyOut(ptr, text, kVstMaxParamStrLen + 1);
      }
      return kVendorAnswer;
    case effCanDo:
      return canDo(plug, static_cast<const char*>(ptr));
    case effGetVstVersion:
      return kVstVersion;
    case effGetMidiKeyName: {
      if (!ptr) return 0;
      MidiKeyName* key = static_cast<MidiKeyName*>(ptr);
      key->keyName[0] = '\0';
      return plug->MidiNoteName(key->thisKeyNumber, key->keyName) ? 1 : 0;
    }
    case effGetSpeakerArrangement:
      if (value) *reinterpret_cast<VstSpeakerArrangement**>(value) = &st->mInputSpkrArr;
      if (ptr) *static_cast<VstSpeakerArrangement**>(ptr) = &st->mOutputSpkrArr;
      return 1;
    default:
      return 0;
  }
}

intptr_t IEffectVSTEntry::getChunk(IEffectVST* plug, bool isBank, void* ptr) {
  if (!ptr) return 0;
  IEffectVST::VSTState* st = plug->mState;
  ByteChunk* chunk = isBank ? &st->mBankState : &st->mState;
  KIT_MutexLock lock(plug->GetMutex());
  InitializeVSTChunk(chunk);
  bool ok = true;
  if (isBank) {
    plug->ModifyCurrentPreset(nullptr);
    ok = plug->SerializePresets(chunk);
  }
  std::string digest;
  ok = ok && plug->SerializeProject(chunk, &digest);
  if (!ok || chunk->Size() == 0) return 0;
  // What the host saves is what its project holds from now on: only a change after it is told.
  plug->ProjectHeld(digest);
  *static_cast<void**>(ptr) = chunk->GetBytes();
  return chunk->Size();
}

intptr_t IEffectVSTEntry::setChunk(IEffectVST* plug, bool isBank, intptr_t size, void* ptr) {
  if (!ptr || size < 0 || size > 0x7fffffff) return 0;
  // A copy of its own: the buffers handed out by getChunk stay as the host got them, which may still be copying
  // one on another thread.
  ByteChunk copy;
  ByteChunk* chunk = &copy;
  if (chunk->Resize(static_cast<int>(size)) != size) return 0;
  if (size > 0) std::memcpy(chunk->GetBytes(), ptr, static_cast<size_t>(size));
  int pos = 0;
  int version = GetIEffectVerFromChunk(chunk, &pos);
  if (!isBank || version < 0x10000) {
    pos = plug->UnserializeState(chunk, pos);
    KIT_MutexLock lock(plug->GetMutex());
    plug->ModifyCurrentPreset(nullptr);
  } else {
    {
      KIT_MutexLock lock(plug->GetMutex());
      pos = plug->UnserializePresets(chunk, pos);
    }
    pos = plug->UnserializeState(chunk, pos);
  }
  if (pos < 0) return 0;
  KIT_MutexLock lock(plug->GetMutex());
  plug->RedrawParamControls();
  return 1;
}

intptr_t IEffectVSTEntry::processEvents(IEffectVST* plug, void* ptr) {
  if (!ptr) return 0;
  VstEvents* events = static_cast<VstEvents*>(ptr);
  IEffectVST::VSTState* st = plug->mState;
  // The list is declared with two entries but holds numEvents: indexing the declared array past its second entry
  // is undefined (and the compiler may assume it never happens), so the entries are reached through a pointer.
  VstEvent* const* entries = events->events;
  for (int i = 0; i < events->numEvents; ++i) {
    VstEvent* ev = entries[i];
    if (!ev) continue;
    if (ev->type == kVstMidiType) {
      // Handled on the relay's thread, in order: the host's call does not wait for the plug-in.
      VstMidiEvent* me = reinterpret_cast<VstMidiEvent*>(ev);
      HostCallRelay::Item item;
      item.kind = HostCallRelay::Item::kMidi;
      item.index = me->deltaFrames;
      for (int k = 0; k < 3; ++k) item.data[k] = static_cast<uint8_t>(me->midiData[k]);
      plug->GetHostCallRelay().post(item);
    } else if (st->mHostCallback) {
      VstEvents one{};
      one.numEvents = 1;
      one.events[0] = ev;
      st->mHostCallback(&st->mAEffect, audioMasterProcessEvents, 0, 0, &one, 0.0f);
    }
  }
  return 1;
}

intptr_t IEffectVSTEntry::string2Parameter(IEffectVST* plug, int idx, const char* text) {
  if (idx < 0 || idx >= plug->NHostParams()) return 0;
  if (!text) return 1;
  IParam* p = plug->GetParam(idx);
  double v;
  if (p->GetNDisplayTexts()) {
    int iv = 0;
    if (!p->MapDisplayText(text, &iv)) return 0;
    v = iv;
  } else {
    v = std::atof(text);
    if (p->DisplayNegated()) v = -v;
  }
  // "nan" and "inf" read as numbers; no parameter takes them.
  if (!std::isfinite(v)) return 0;
  if (v < p->GetMin()) v = p->GetMin();
  if (v > p->GetMax()) v = p->GetMax();
  if (IGraphics* g = plug->GetGUI()) g->SetParameterFromPlug(idx, v, false);
  p->Set(v);
  plug->OnParamChange(idx);
  return 1;
}

intptr_t IEffectVSTEntry::canDo(IEffectVST* plug, const char* question) {
  if (!question) return 0;
  IEffectVST::VSTState* st = plug->mState;
  if (!std::strcmp(question, "receiveVstTimeInfo")) return 1;
  if (plug->DoesMIDI()) {
    if (!std::strcmp(question, "sendVstEvents") || !std::strcmp(question, "sendVstMidiEvent") ||
        !std::strcmp(question, "receiveVstEvents") || !std::strcmp(question, "receiveVstMidiEvent"))
      return 1;
  }
  if (!std::strcmp(question, "hasHostExtensions")) {
    st->mHasVSTExtensions |= kHostExtensionsBit;
    return kHostExtensionAnswer;
  }
  if (!std::strcmp(question, "hasHostViewAsConfig")) {
    st->mHasVSTExtensions |= kHostViewAsConfigBit;
    return kHostExtensionAnswer;
  }
  return 0;
}

intptr_t IEffectVSTEntry::pinProperties(IEffectVST* plug, bool input, int idx, void* ptr) {
  int n = input ? plug->NInChannels() : plug->NOutChannels();
  if (!ptr || idx < 0 || idx >= n) return 0;
  VstPinProperties* pp = static_cast<VstPinProperties*>(ptr);
  pp->flags = kVstPinIsActive;
  if (idx % 2 == 0 && idx + 1 < n) pp->flags |= kVstPinIsStereo;
  std::snprintf(pp->label, sizeof pp->label, input ? "Input %d" : "Output %d", idx + 1);
  return 1;
}

intptr_t IEffectVSTEntry::setSpeakerArrangement(IEffectVST* plug, intptr_t value, void* ptr) {
  VstSpeakerArrangement* in = reinterpret_cast<VstSpeakerArrangement*>(value);
  VstSpeakerArrangement* out = static_cast<VstSpeakerArrangement*>(ptr);
  if (in) {
    int n = in->numChannels;
    plug->SetInputChannelConnections(0, n, true);
    plug->SetInputChannelConnections(n, plug->NInChannels() - n, false);
  }
  if (out) {
    int n = out->numChannels;
    plug->SetOutputChannelConnections(0, n, true);
    plug->SetOutputChannelConnections(n, plug->NOutChannels() - n, false);
  }
  return 1;
}

// A parameter's value is atomic: reading it takes no lock.
float IEffectVSTEntry::getParameter(AEffect* effect, int32_t idx) {
  IEffectVST* plug = plugOf(effect);
  if (!plug) return 0.0f;
  if (idx < 0 || idx >= plug->NHostParams()) return 0.0f;
  return static_cast<float>(plug->GetParam(idx)->GetNormalized());
}

// Hosts set parameters from their audio thread too: the value is stored at once (a following getParameter reads
// it), and the editor surface and the parameter's logic follow on the relay's thread.
void IEffectVSTEntry::setParameter(AEffect* effect, int32_t idx, float value) {
  IEffectVST* plug = plugOf(effect);
  if (!plug) return;
  if (idx < 0 || idx >= plug->NHostParams()) return;
  // A host's automation may carry anything: beyond 0..1 stands for the nearer end, NaN and infinities are refused.
  if (!std::isfinite(value)) return;
  const double normalized = value < 0.0f ? 0.0 : (value > 1.0f ? 1.0 : static_cast<double>(value));
  plug->GetParam(idx)->SetNormalized(normalized);
  HostCallRelay::Item item;
  item.kind = HostCallRelay::Item::kParam;
  item.index = idx;
  item.value = static_cast<float>(normalized);
  plug->GetHostCallRelay().post(item);
}

// A host that hands over more frames than it announced gets scratch buffers of that size rather
// than writes past their end.
void IEffectVSTEntry::prepareProcess(IEffectVST* plug, int nFrames) {
  if (nFrames > plug->GetBlockSize()) plug->SetBlockSize(nFrames);
}

// The three audio entries differ only in sample type and in how the block reaches the outputs.
template <class Sample, class Run>
void IEffectVSTEntry::runBlock(AEffect* effect, Sample** inputs, Sample** outputs, int32_t nFrames, bool replacing,
                               Run run) {
  IEffectVST* plug = plugOf(effect);
  if (!plug || nFrames < 0) return;
  IEffectBase::hostAudioRuns();
  // Every process call asks for MIDI, a silent one too (the host's callback needs no lock of the plug-in).
  if (plug->DoesMIDI() && plug->mState->mHostCallback)
    plug->mState->mHostCallback(&plug->mState->mAEffect, audioMasterWantMidi, 0, 1, nullptr, 0.0f);
  // The block never waits for the plug-in: while another thread holds it, the outputs are silence and the
  // block's timing work is done by the next block (everything in it goes by state and queue, so nothing is lost;
  // what may wait is handed to the relay's thread).
  if (!plug->GetMutex().TryEnter()) {
    if (replacing && outputs)
      for (int c = 0; c < plug->NOutChannels(); ++c)
        if (outputs[c]) std::fill(outputs[c], outputs[c] + nFrames, Sample(0));
    return;
  }
  struct Taken {
    KIT_Mutex& mutex;
    ~Taken() { mutex.Leave(); }
  } taken{plug->GetMutex()};
  try {
    prepareProcess(plug, nFrames);
    if (nFrames > plug->GetBlockSize()) {
      // Longer than any block the plug-in takes (the size was refused): not processed, and silent where the
      // outputs are to be replaced. The host's buffers go to the connected outputs in order.
      if (!replacing || !outputs) return;
      Sample** next = outputs;
      for (int i = 0; i < plug->NOutChannels(); ++i) {
        if (!plug->IsOutChannelConnected(i)) continue;
        if (Sample* out = *next++) std::memset(out, 0, sizeof(Sample) * static_cast<size_t>(nFrames));
      }
      return;
    }
    plug->AttachInputBuffers(0, plug->NInChannels(), inputs, nFrames);
    plug->AttachOutputBuffers(0, plug->NOutChannels(), outputs);
    run(plug);
  } catch (...) {
    std::fprintf(stderr, "Vexmir: process failed\n");
  }
}

void IEffectVSTEntry::process(AEffect* effect, float** inputs, float** outputs, int32_t nFrames) {
  runBlock(effect, inputs, outputs, nFrames, false,
           [nFrames](IEffectVST* plug) { plug->ProcessBuffersAccumulating(0.0f, nFrames); });
}

void IEffectVSTEntry::processReplacing(AEffect* effect, float** inputs, float** outputs, int32_t nFrames) {
  runBlock(effect, inputs, outputs, nFrames, true,
           [nFrames](IEffectVST* plug) { plug->ProcessBuffers(0.0f, nFrames); });
}

void IEffectVSTEntry::processDoubleReplacing(AEffect* effect, double** inputs, double** outputs, int32_t nFrames) {
  runBlock(effect, inputs, outputs, nFrames, true,
           [nFrames](IEffectVST* plug) { plug->ProcessBuffers(0.0, nFrames); });
}

// ---------------------------------------------------------------------------------------------

IEffectVST::IEffectVST(IEffectInstanceInfo instanceInfo, int nParams, const char* channelIOStr, int nPresets,
                       const char* effectName, const char* productName, const char* mfrName, int vendorVersion,
                       int uniqueID, int mfrID, int latency, bool plugDoesMidi, bool plugDoesChunks, bool plugIsInst,
                       int)
    : IEffectBase(nParams, channelIOStr, nPresets, effectName, productName, mfrName, vendorVersion, uniqueID, mfrID,
                  latency, plugDoesMidi, plugDoesChunks, plugIsInst, kAPIVST2),
      mState(new VSTState()) {
  mState->mHostCallback = instanceInfo.mVSTHostCallback;
  mDoesMIDI = plugDoesMidi;
}

IEffectVST::~IEffectVST() {
  // A host may close the plug-in with its editor open.
  IEffectVSTEntry::closeX11Editor(this);
  delete mState;
}

void IEffectVST::initialize(IEffectInstanceInfo instanceInfo, int hostParams, int nParams, const char* channelIOStr,
                            int nPresets, const char* effectName, const char* productName, const char* mfrName,
                            int vendorVersion, int uniqueID, int mfrID, int latency, bool plugDoesMidi,
                            bool plugDoesChunks, bool plugIsInst, int) {
  IEffectBase::initialize(hostParams, nParams, channelIOStr, nPresets, effectName, productName, mfrName, vendorVersion,
                          uniqueID, mfrID, latency, plugDoesMidi, plugDoesChunks, plugIsInst);
  if (instanceInfo.mVSTHostCallback) mState->mHostCallback = instanceInfo.mVSTHostCallback;
  mState->mHasVSTExtensions = 0;

  AEffect& e = mState->mAEffect;
  std::memset(&e, 0, sizeof e);
  e.magic = kEffectMagic;
  e.object = this;
  e.dispatcher = &IEffectVSTEntry::dispatcher;
  e.process = &IEffectVSTEntry::process;
  e.setParameter = &IEffectVSTEntry::setParameter;
  e.getParameter = &IEffectVSTEntry::getParameter;
  e.processReplacing = &IEffectVSTEntry::processReplacing;
  e.processDoubleReplacing = &IEffectVSTEntry::processDoubleReplacing;
  e.numPrograms = nPresets;
  e.numParams = hostParams;
  e.numInputs = NInChannels();
  e.numOutputs = NOutChannels();
  e.flags = effFlagsCanReplacing | effFlagsCanDoubleReplacing;
  if (plugDoesChunks) e.flags |= effFlagsProgramChunks;
  if (LegalIO(1, -1)) e.flags |= effFlagsCanMono;
  if (plugIsInst) e.flags |= effFlagsIsSynth;
  if (GetGUI()) e.flags |= effFlagsHasEditor;
  e.initialDelay = GetLatency();
  e.ioRatio = 1.0f;
  e.uniqueID = uniqueID;
  e.version = GetEffectVersion(true);

  std::memset(&mState->mEditRect, 0, sizeof mState->mEditRect);
  setSpeakerArr(&mState->mInputSpkrArr, NInChannels());
  setSpeakerArr(&mState->mOutputSpkrArr, NOutChannels());
  SetInputChannelConnections(0, NInChannels(), true);
  SetOutputChannelConnections(0, NOutChannels(), true);
  SetBlockSize(1024);
}

AEffect* IEffectVST::PluginMain(audioMasterCallback hostCallback, IEffectVST* (*create)(IEffectInstanceInfo)) {
  if (!create) return nullptr;
  KIT_MutexLock lock(creationLock());
  try {
    IEffectInstanceInfo info;
    info.mVSTHostCallback = hostCallback;
    IEffectVST* plug = create(info);
    if (!plug) return nullptr;
    plug->EnsureDefaultPreset();
    // Whole now: the relay's thread may call into it, hear a server's end for it, and tell where the host makes no
    // idle.
    plug->StartRelay();
    plug->StartUnidledTells();
    AEffect* e = plug->GetAEffect();
    if (e->numPrograms < 1) e->numPrograms = 1;
    return e;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Vexmir: the plug-in could not be created: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Vexmir: the plug-in could not be created\n");
  }
  return nullptr;
}

AEffect* IEffectVST::GetAEffect() {
  return &mState->mAEffect;
}

audioMasterCallback IEffectVST::GetHostCallback() const {
  return mState->mHostCallback;
}

int IEffectVST::GetHostExtensionFlags() const {
  return mState->mHasVSTExtensions;
}

IGraphics* MakeGraphics(IEffectVST* plug, int width, int height, int fps) {
  auto* graphics = new IGraphicsMac(plug, width, height, fps);
  const std::string bundleID = std::string("com.") + plug->GetMfrName() + ".vst." + plug->GetEffectName();
  graphics->SetBundleID(bundleID.c_str());
  return graphics;
}

void IEffectVST::BeginInformHostOfParamChange(int idx) {
  if (mState->mHostCallback) mState->mHostCallback(&mState->mAEffect, audioMasterBeginEdit, idx, 0, nullptr, 0.0f);
}

void IEffectVST::InformHostOfParamChange(int idx, double normalizedValue) {
  if (mState->mHostCallback)
    mState->mHostCallback(&mState->mAEffect, audioMasterAutomate, idx, 0, nullptr, static_cast<float>(normalizedValue));
}

void IEffectVST::EndInformHostOfParamChange(int idx) {
  if (mState->mHostCallback) mState->mHostCallback(&mState->mAEffect, audioMasterEndEdit, idx, 0, nullptr, 0.0f);
}

void IEffectVST::InformHostOfProgramChange() {
  if (mState->mHostCallback) mState->mHostCallback(&mState->mAEffect, audioMasterUpdateDisplay, 0, 0, nullptr, 0.0f);
}

bool IEffectVST::IsRenderingOffline() {
  if (!mState->mHostCallback) return false;
  return mState->mHostCallback(&mState->mAEffect, audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f) ==
         kVstProcessLevelOffline;
}

namespace {

VstTimeInfo* askTime(audioMasterCallback cb, AEffect* e, intptr_t filter) {
  if (!cb) return nullptr;
  return reinterpret_cast<VstTimeInfo*>(cb(e, audioMasterGetTime, 0, filter, nullptr, 0.0f));
}

}  // namespace

int IEffectVST::GetSamplePos() {
  VstTimeInfo* t = askTime(mState->mHostCallback, &mState->mAEffect, 0);
  if (t && t->samplePos >= 0.0) return static_cast<int>(t->samplePos + 0.5);
  return 0;
}

double IEffectVST::GetTempo() {
  VstTimeInfo* t = askTime(mState->mHostCallback, &mState->mAEffect, kVstTempoValid);
  if (t && (t->flags & kVstTempoValid) && t->tempo >= 0.0) return t->tempo;
  return 0.0;
}

void IEffectVST::GetTimeSig(int* numerator, int* denominator) {
  if (numerator) *numerator = 0;
  if (denominator) *denominator = 0;
  VstTimeInfo* t = askTime(mState->mHostCallback, &mState->mAEffect, kVstTimeSigValid);
  if (t && (t->flags & kVstTimeSigValid) && t->timeSigNumerator >= 0 && t->timeSigDenominator >= 0) {
    if (numerator) *numerator = t->timeSigNumerator;
    if (denominator) *denominator = t->timeSigDenominator;
  }
}

void IEffectVST::GetTime(ITimeInfo* timeInfo) {
  if (!timeInfo) return;
  constexpr int32_t kWanted = kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstCyclePosValid | kVstTimeSigValid;
  VstTimeInfo* t = askTime(mState->mHostCallback, &mState->mAEffect, kWanted);
  if (!t || !(t->flags & kWanted)) return;
  timeInfo->mSamplePos = t->samplePos;
  if ((t->flags & kVstPpqPosValid) && t->ppqPos >= 0.0) timeInfo->mPPQPos = t->ppqPos;
  if ((t->flags & kVstTempoValid) && t->tempo > 0.0) timeInfo->mTempo = t->tempo;
  if ((t->flags & kVstBarsValid) && t->barStartPos >= 0.0) timeInfo->mLastBar = t->barStartPos;
  if ((t->flags & kVstCyclePosValid) && t->cycleStartPos >= 0.0 && t->cycleEndPos >= 0.0) {
    timeInfo->mCycleStart = t->cycleStartPos;
    timeInfo->mCycleEnd = t->cycleEndPos;
  }
  if ((t->flags & kVstTimeSigValid) && t->timeSigNumerator > 0 && t->timeSigDenominator > 0) {
    timeInfo->mNumerator = t->timeSigNumerator;
    timeInfo->mDenominator = t->timeSigDenominator;
  }
  timeInfo->mTransportIsRunning = (t->flags & kVstTransportPlaying) != 0;
  timeInfo->mTransportLoopEnabled = (t->flags & kVstTransportCycleActive) != 0;
}

EHost IEffectVST::GetHost() {
  if (mHost != kHostUninit) return mHost;
  char product[256];
  product[0] = '\0';
  int version = 0;
  if (mState->mHostCallback) {
    mState->mHostCallback(&mState->mAEffect, audioMasterGetProductString, 0, 0, product, 0.0f);
    product[sizeof product - 1] = '\0';
    if (product[0]) {
      intptr_t d = mState->mHostCallback(&mState->mAEffect, audioMasterGetVendorVersion, 0, 0, nullptr, 0.0f);
      int decimal = static_cast<int>(d);
      int major = decimal / 10000, rest = decimal % 10000;
      version = (major << 16) + ((rest / 100) << 8) + rest % 100;
    }
  }
  SetHost(product, version);
  return mHost;
}

void IEffectVST::ResizeGraphics(int, int) {
  IGraphics* g = GetGUI();
  if (!g) return;
  mState->mEditRect.bottom = static_cast<int16_t>(g->Height());
  mState->mEditRect.right = static_cast<int16_t>(g->Width());
  OnWindowResize();
}

void IEffectVST::SetLatency(int samples) {
  mState->mAEffect.initialDelay = samples;
  IEffectBase::SetLatency(samples);
}

bool IEffectVST::SendMidiVST(IMidiMsg* msg) {
  if (!msg || !mState->mHostCallback) return false;
  VstMidiEvent ev{};
  ev.type = kVstMidiType;
  ev.byteSize = sizeof(VstMidiEvent);
  ev.deltaFrames = msg->mOffset;
  ev.midiData[0] = static_cast<char>(msg->mStatus);
  ev.midiData[1] = static_cast<char>(msg->mData1);
  ev.midiData[2] = static_cast<char>(msg->mData2);
  VstEvents events{};
  events.numEvents = 1;
  events.events[0] = reinterpret_cast<VstEvent*>(&ev);
  return mState->mHostCallback(&mState->mAEffect, audioMasterProcessEvents, 0, 0, &events, 0.0f) == 1;
}

bool IEffectVST::SendSysEx(ISysEx* msg) {
  if (!msg || !mState->mHostCallback) return false;
  VstMidiSysexEvent ev{};
  ev.type = kVstSysExType;
  ev.byteSize = sizeof(VstMidiSysexEvent);
  ev.deltaFrames = msg->mOffset;
  ev.dumpBytes = msg->mSize;
  ev.sysexDump = reinterpret_cast<char*>(const_cast<uint8_t*>(msg->mData));
  VstEvents events{};
  events.numEvents = 1;
  events.events[0] = reinterpret_cast<VstEvent*>(&ev);
  return mState->mHostCallback(&mState->mAEffect, audioMasterProcessEvents, 0, 0, &events, 0.0f) == 1;
}

namespace {

// Bytes in a short message with this status; 0 for bytes that cannot start one (data bytes and
// the SysEx framing, which goes through the SysEx sends).
size_t shortMessageLength(uint8_t status) {
  if (status < 0x80) return 0;
  if (status < 0xC0) return 3;
  if (status < 0xE0) return 2;  // program change, channel aftertouch
  if (status < 0xF0) return 3;
  switch (status) {
    case 0xF1:  // time code quarter frame
    case 0xF3:  // song select
      return 2;
    case 0xF2:  // song position
      return 3;
    case 0xF0:
    case 0xF7:
      return 0;
    default:  // tune request and the real-time messages (clock, start, stop...)
      return 1;
  }
}

}  // namespace

bool IEffectVST::SendMidiMsg(IMidiMsg* msg) {
  if (!msg) return false;
  unsigned char bytes[3] = {msg->mStatus, msg->mData1, msg->mData2};
  size_t n = shortMessageLength(msg->mStatus);
  return n > 0 && sendToExternalMIDIOut(bytes, n);
}

IEffectBase::ESendResult IEffectVST::TrySendMidiMsgNow(const IMidiMsg* msg) {
  if (!msg) return kSendFailed;
  unsigned char bytes[3] = {msg->mStatus, msg->mData1, msg->mData2};
  size_t n = shortMessageLength(msg->mStatus);
  return n > 0 ? trySendToExternalMIDIOut(bytes, n) : kSendFailed;
}

bool IEffectVST::SendMidiSysex(unsigned char* bytes, int length) {
  if (!bytes || length <= 0) return false;
  if (bytes[0] == 0xF0) return sendToExternalMIDIOut(bytes, static_cast<size_t>(length));
  std::vector<unsigned char> framed;
  framed.reserve(static_cast<size_t>(length) + 2);
  framed.push_back(0xF0);
  framed.insert(framed.end(), bytes, bytes + length);
  framed.push_back(0xF7);
  return sendToExternalMIDIOut(framed.data(), framed.size());
}

bool IEffectVST::SendPatchSysex(unsigned char* bytes, int length) {
  if (!bytes || length <= 0) return false;
  return sendToExternalMIDIOut(bytes, static_cast<size_t>(length));
}

bool IEffectVST::SendMidiSysex2(std::vector<unsigned char> bytes) {
  return sendToExternalMIDIOut(bytes.data(), bytes.size());
}

void IEffectVST::HostSpecificInit() {
  if (mState->mHostSpecificInitDone) return;
  mState->mHostSpecificInitDone = true;
  EHost host = GetHost();
  if (host == kHostForte || host == kHostAudition || host == kHostOrion || host == kHostSAWStudio) LimitToStereoIO();
  mState->mAEffect.numInputs = mState->mInputSpkrArr.numChannels = NInChannels();
  mState->mAEffect.numOutputs = mState->mOutputSpkrArr.numChannels = NOutChannels();
  OnHostIdentified();
}

void IEffectVST::AttachGraphics(IGraphics* graphics) {
  if (!graphics) return;
  IEffectBase::AttachGraphics(graphics);
  mState->mAEffect.flags |= effFlagsHasEditor;
  mState->mEditRect.top = 0;
  mState->mEditRect.left = 0;
  mState->mEditRect.bottom = static_cast<int16_t>(graphics->Height());
  mState->mEditRect.right = static_cast<int16_t>(graphics->Width());
}

void InitializeVSTChunk(ByteChunk* chunk) {
  if (!chunk) return;
  chunk->Clear();
  int32_t magic = 0x70666674, ver = 0x00010000;
  chunk->Put(&magic);
  chunk->Put(&ver);
}

int GetIEffectVerFromChunk(ByteChunk* chunk, int* position) {
  if (!chunk || !position) return 0;
  int32_t magic = 0, ver = 0;
  int pos = chunk->Get(&magic, *position);
  if (pos < 0 || magic != 0x70666674) return 0;
  pos = chunk->Get(&ver, pos);
  if (pos < 0) {
    *position = -1;
    return 0;
  }
  *position = pos;
  return ver;
}
