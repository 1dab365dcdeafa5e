// A tiny VST 2 plug-in that exercises the host: it makes every host request the test host answers, reports what it
// saw through effGetErrorText, keeps a chunk, echoes host events back as its own output events, and processes in
// every precision with fixed, checkable output. VEXMIR_PROBE_ENTRY=null|badmagic makes its entry misbehave.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/vst2/vst2.h"

namespace {

struct Probe {
  AEffect effect;
  audioMasterCallback host;
  std::string report;  // read back by the host with effGetErrorText
  std::vector<char> chunk{'p', 'r', 'o', 'b', 'e'};
  float params[3] = {0.f, 0.5f, 1.f};
  std::vector<std::vector<unsigned char>> received;  // host events, echoed on the next block
};

Probe* probeOf(AEffect* e) {
  return static_cast<Probe*>(e->object);
}

void add(Probe* p, const std::string& s) {
  if (!p->report.empty()) p->report += ' ';
  p->report += s;
}

intptr_t ask(Probe* p, int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.f) {
  return p->host(&p->effect, op, index, value, ptr, opt);
}

void reportTime(Probe* p) {
  const VstTimeInfo* t =
      reinterpret_cast<const VstTimeInfo*>(ask(p, audioMasterGetTime, 0, kVstPpqPosValid | kVstTempoValid));
  if (!t) {
    add(p, "time=null");
    return;
  }
  char buf[200];
  std::snprintf(buf, sizeof buf,
                "time[pos=%.0f rate=%.0f ppq=%.4f tempo=%.2f bar=%.1f sig=%d/%d playing=%d changed=%d]", t->samplePos,
                t->sampleRate, t->ppqPos, t->tempo, t->barStartPos, t->timeSigNumerator, t->timeSigDenominator,
                (t->flags & kVstTransportPlaying) ? 1 : 0, (t->flags & kVstTransportChanged) ? 1 : 0);
  add(p, buf);
}

void sendEvents(Probe* p) {
  if (p->received.empty()) return;
  std::vector<VstMidiEvent> midi(p->received.size());
  std::vector<VstMidiSysexEvent> sysex(p->received.size());
  std::vector<unsigned char> list(sizeof(VstEvents) + p->received.size() * sizeof(VstEvent*));
  VstEvents* ev = reinterpret_cast<VstEvents*>(list.data());
  ev->numEvents = static_cast<int32_t>(p->received.size());
  for (size_t i = 0; i < p->received.size(); ++i) {
    std::vector<unsigned char>& b = p->received[i];
    if (b[0] == 0xf0) {
      std::memset(&sysex[i], 0, sizeof sysex[i]);
      sysex[i].type = kVstSysExType;
      sysex[i].byteSize = sizeof(VstMidiSysexEvent);
      sysex[i].dumpBytes = static_cast<int32_t>(b.size());
      sysex[i].sysexDump = reinterpret_cast<char*>(b.data());
      ev->events[i] = reinterpret_cast<VstEvent*>(&sysex[i]);
    } else {
      std::memset(&midi[i], 0, sizeof midi[i]);
      midi[i].type = kVstMidiType;
      midi[i].byteSize = sizeof(VstMidiEvent);
      midi[i].deltaFrames = static_cast<int32_t>(i);
      std::memcpy(midi[i].midiData, b.data(), b.size() < 3 ? b.size() : 3);
      ev->events[i] = reinterpret_cast<VstEvent*>(&midi[i]);
    }
  }
  ask(p, audioMasterProcessEvents, 0, 0, ev);
  p->received.clear();
}

intptr_t dispatcher(AEffect* e, int32_t op, int32_t index, intptr_t value, void* ptr, float opt) {
  Probe* p = probeOf(e);
  switch (op) {
    case effOpen: {
      char product[64] = {};
      ask(p, audioMasterGetProductString, 0, 0, product);
      const intptr_t version = ask(p, audioMasterGetVendorVersion);
      char buf[128];
      std::snprintf(buf, sizeof buf, "product=\"%s\" vendorversion=%ld", product, static_cast<long>(version));
      add(p, buf);
      return 1;
    }
    case effClose:
      delete p;
      return 1;
    case effGetEffectName:
      std::strcpy(static_cast<char*>(ptr), "Vexmir Probe");
      return 1;
    case effGetVendorString:
      std::strcpy(static_cast<char*>(ptr), "Vexmir Tests");
      return 1;
    case effGetParamName:
      std::snprintf(static_cast<char*>(ptr), 8, "P%d", index);
      return 0;
    case effGetErrorText:
      // The report is longer than the field the format allows; the test host gives a large buffer.
      std::snprintf(static_cast<char*>(ptr), 1000, "%s", p->report.c_str());
      p->report.clear();
      return 1;
    case effVendorSpecific:
      if (index == 1) {
        // Requests from a thread of the plug-in's own, as plug-ins with worker threads make them.
        std::thread([p] {
          ask(p, audioMasterUpdateDisplay);
          ask(p, audioMasterGetCurrentProcessLevel);
        }).join();
        return 1;
      }
      // Every other host request the test host must answer, in one go.
      add(p, "automate=" + std::to_string(ask(p, audioMasterAutomate, 2, 0, nullptr, 0.75f)));
      add(p, "version=" + std::to_string(ask(p, audioMasterVersion)));
      add(p, "wantmidi=" + std::to_string(ask(p, audioMasterWantMidi)));
      add(p, "iochanged=" + std::to_string(ask(p, audioMasterIOChanged)));
      add(p, "level=" + std::to_string(ask(p, audioMasterGetCurrentProcessLevel)));
      add(p, "display=" + std::to_string(ask(p, audioMasterUpdateDisplay)));
      add(p, "begin=" + std::to_string(ask(p, audioMasterBeginEdit, 1)));
      add(p, "end=" + std::to_string(ask(p, audioMasterEndEdit, 1)));
      add(p, "unknown=" + std::to_string(ask(p, 99)));
      reportTime(p);
      return 1;
    case effIdle:
      for (int i = 0; i < 3; ++i) ask(p, audioMasterUpdateDisplay);
      return 0;
    case effGetChunk:
      *static_cast<void**>(ptr) = p->chunk.data();
      return static_cast<intptr_t>(p->chunk.size());
    case effSetChunk:
      p->chunk.assign(static_cast<char*>(ptr), static_cast<char*>(ptr) + value);
      add(p, "setchunk=" + std::to_string(value) + (index ? " preset" : " bank"));
      return 1;
    case effProcessEvents: {
      const VstEvents* ev = static_cast<const VstEvents*>(ptr);
      for (int32_t i = 0; i < ev->numEvents; ++i) {
        const VstEvent* x = ev->events[i];
        if (x->type == kVstMidiType) {
          const VstMidiEvent* m = reinterpret_cast<const VstMidiEvent*>(x);
          const unsigned char* d = reinterpret_cast<const unsigned char*>(m->midiData);
          p->received.push_back({d[0], d[1], d[2]});
          add(p, "midi@" + std::to_string(m->deltaFrames));
        } else if (x->type == kVstSysExType) {
          const VstMidiSysexEvent* s = reinterpret_cast<const VstMidiSysexEvent*>(x);
          const unsigned char* d = reinterpret_cast<const unsigned char*>(s->sysexDump);
          p->received.emplace_back(d, d + s->dumpBytes);
          add(p, "sysex@" + std::to_string(s->deltaFrames) + "x" + std::to_string(s->dumpBytes));
        }
      }
      return 1;
    }
    case effCanDo:
      return std::strcmp(static_cast<const char*>(ptr), "receiveVstMidiEvent") == 0 ? 1 : -1;
    case effGetVstVersion:
      return kVstVersion;
    case effSetSampleRate:
      add(p, "rate=" + std::to_string(static_cast<int>(opt)));
      return 0;
    case effSetBlockSize:
      add(p, "block=" + std::to_string(value));
      return 0;
    default:
      return 0;
  }
}

template <class T>
void processAny(AEffect* e, T** in, T** out, int32_t n, bool accumulate) {
  Probe* p = probeOf(e);
  add(p, "level=" + std::to_string(ask(p, audioMasterGetCurrentProcessLevel)));
  reportTime(p);
  sendEvents(p);
  // Output 0: a constant 0.25 (added when accumulating); output 1: the input doubled.
  for (int32_t i = 0; i < n; ++i) {
    out[0][i] = static_cast<T>(accumulate ? out[0][i] + 0.25 : 0.25);
    out[1][i] = static_cast<T>(2 * in[0][i]);
  }
}

void process(AEffect* e, float** in, float** out, int32_t n) {
  processAny(e, in, out, n, true);
}
void processReplacing(AEffect* e, float** in, float** out, int32_t n) {
  processAny(e, in, out, n, false);
}
void processDouble(AEffect* e, double** in, double** out, int32_t n) {
  processAny(e, in, out, n, false);
}
void setParameter(AEffect* e, int32_t i, float v) {
  if (i >= 0 && i < 3) probeOf(e)->params[i] = v;
}
float getParameter(AEffect* e, int32_t i) {
  return i >= 0 && i < 3 ? probeOf(e)->params[i] : -1.f;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback host) {
  const char* mode = std::getenv("VEXMIR_PROBE_ENTRY");
  if (mode && std::strcmp(mode, "null") == 0) return nullptr;
  if (mode && std::strcmp(mode, "badmagic") == 0) {
    static AEffect bad;
    std::memset(&bad, 0, sizeof bad);
    bad.magic = 0x12345678;
    bad.dispatcher = dispatcher;
    return &bad;
  }
  if (!host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.f)) return nullptr;
  Probe* p = new Probe();
  AEffect& e = p->effect;
  std::memset(&e, 0, sizeof e);
  e.magic = kEffectMagic;
  e.dispatcher = dispatcher;
  e.process = process;
  e.setParameter = setParameter;
  e.getParameter = getParameter;
  e.numPrograms = 1;
  e.numParams = 3;
  e.numInputs = 1;
  e.numOutputs = 2;
  e.flags = effFlagsCanReplacing | effFlagsProgramChunks | effFlagsCanDoubleReplacing | effFlagsIsSynth;
  e.object = p;
  e.uniqueID = 0x56785072;  // 'VxPr'
  e.version = 1;
  e.processReplacing = processReplacing;
  e.processDoubleReplacing = processDouble;
  p->host = host;
  return &e;
}
