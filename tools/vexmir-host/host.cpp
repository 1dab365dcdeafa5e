#include "tools/vexmir-host/host.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "tools/vexmir-host/vst2names.h"

namespace vexhost {

namespace {
Host* g_host = nullptr;
// Set on the thread that is inside a process call: the process level it asks for is the realtime one.
thread_local bool t_inProcess = false;
thread_local bool t_isAudioThread = false;
}  // namespace

// ---- JobThread ----

JobThread::~JobThread() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

bool JobThread::isAudio() {
  return t_isAudioThread;
}

void JobThread::loop() {
  t_isAudioThread = audio_;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    cv_.wait(lock, [this] { return quit_ || job_ != nullptr; });
    if (quit_) return;
    const std::function<void()>* job = job_;
    lock.unlock();
    (*job)();
    lock.lock();
    job_ = nullptr;
    done_ = true;
    cv_.notify_all();
  }
}

void JobThread::run(const std::function<void()>& job) {
  if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
  std::unique_lock<std::mutex> lock(mutex_);
  job_ = &job;
  done_ = false;
  cv_.notify_all();
  cv_.wait(lock, [this] { return done_; });
}

// ---- Transcript ----

void Transcript::emitPendingLocked() {
  if (pendingCount_ == 0) return;
  if (pendingCount_ > 1)
    std::fprintf(out_, "%s (x%d)\n", pending_.c_str(), pendingCount_);
  else
    std::fprintf(out_, "%s\n", pending_.c_str());
  pending_.clear();
  pendingCount_ = 0;
}

void Transcript::line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  emitPendingLocked();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void Transcript::request(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pendingCount_ > 0 && text == pending_) {
    ++pendingCount_;
    return;
  }
  emitPendingLocked();
  pending_ = text;
  pendingCount_ = 1;
}

void Transcript::flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  emitPendingLocked();
  std::fflush(out_);
}

// ---- formatting ----

std::string formatFloat(double v, int digits) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  // Trim trailing zeros so that 0.5 reads "0.5" and 1 reads "1".
  std::string s(buf);
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string hexBytes(const uint8_t* bytes, size_t n) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", bytes[i]);
    if (i) s += ' ';
    s += b;
  }
  return s;
}

// In full up to 24 bytes (or always, when asked), else the first 12 and the last 4 bytes with " .. " between.
std::string Host::sysexText(const uint8_t* bytes, size_t n) const {
  if (n <= 24 || fullSysex) return hexBytes(bytes, n);
  return hexBytes(bytes, 12) + " .. " + hexBytes(bytes + n - 4, 4);
}

std::string quoted(const char* buf, size_t size) {
  std::string s = "\"";
  for (size_t i = 0; i < size && buf[i]; ++i) {
    const unsigned char c = static_cast<unsigned char>(buf[i]);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += static_cast<char>(c);
    } else if (c < 32 || c == 127) {
      char e[8];
      std::snprintf(e, sizeof e, "\\x%02x", c);
      s += e;
    } else {
      s += static_cast<char>(c);
    }
  }
  return s + "\"";
}

// ---- Host ----

Host::Host(Transcript* transcript) : transcript_(transcript), mainThread_(pthread_self()) {
  g_host = this;
}

Host::~Host() {
  // The library stays mapped: plug-ins may leave threads or exit handlers behind that still run its code.
  if (g_host == this) g_host = nullptr;
}

Host* Host::current() {
  return g_host;
}

bool Host::load(const std::string& path, std::string* error) {
  if (effect_) {
    *error = "a plug-in is already loaded";
    return false;
  }
  std::string file = path;
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) {
    *error = "plug-in file not found: " + path;
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    // A bundle: "<name>.vst/Contents/Linux/<name>.so".
    std::string dir = file;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    std::string base = dir.substr(dir.find_last_of('/') + 1);
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".vst") == 0) base.resize(base.size() - 4);
    file = dir + "/Contents/Linux/" + base + ".so";
    if (stat(file.c_str(), &st) != 0) {
      *error = "plug-in bundle has no library: " + file;
      return false;
    }
  }
  // A DAW has the system's audio and MIDI libraries loaded for its own engine, so unloading a plug-in never unloads
  // them (with them would go the caches they keep for the process's life, which leak checks then count).
  static const bool audioLibraries = [] {
    for (const char* name : {"libasound.so.2", "libjack.so.0"}) dlopen(name, RTLD_NOW | RTLD_LOCAL);
    return true;
  }();
  (void)audioLibraries;
  void* lib = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    const char* why = dlerror();
    *error = "cannot load plug-in " + file + ": " + (why ? why : "unknown error");
    return false;
  }
  const char* entryName = "VSTPluginMain";
  void* sym = dlsym(lib, entryName);
  if (!sym) {
    entryName = "main";
    sym = dlsym(lib, entryName);
  }
  if (!sym) {
    dlclose(lib);
    *error = "plug-in " + file + " exports neither VSTPluginMain nor main";
    return false;
  }
  VstPluginMainProc entry = reinterpret_cast<VstPluginMainProc>(sym);
  transcript_->line(std::string("load ") + quoted(file.c_str(), file.size()) + " entry " + entryName);
  AEffect* e = entry(&Host::callback);
  transcript_->flush();
  if (!e) {
    *error = std::string("plug-in entry ") + entryName + " returned no effect";
    return false;
  }
  if (e->magic != kEffectMagic) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "plug-in effect has bad magic 0x%08x (expected 0x%08x)",
                  static_cast<unsigned>(e->magic), static_cast<unsigned>(kEffectMagic));
    *error = buf;
    return false;
  }
  if (!e->dispatcher) {
    *error = "plug-in effect has no dispatcher";
    return false;
  }
  library_ = lib;
  effect_ = e;
  path_ = file;
  return true;
}

bool Host::unload() {
  if (!library_) return true;
  dlclose(library_);
  library_ = nullptr;
  effect_ = nullptr;
  void* still = dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!still) return true;
  dlclose(still);
  return false;
}

intptr_t Host::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
  const intptr_t r = effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
  return r;
}

intptr_t Host::flushEvents() {
  if (events.empty() || !effect_) return 0;
  // VstEvents ends in an array of pointers as long as the event count.
  const size_t n = events.size();
  std::vector<uint8_t> header(sizeof(VstEvents) + n * sizeof(VstEvent*));
  VstEvents* list = reinterpret_cast<VstEvents*>(header.data());
  list->numEvents = static_cast<int32_t>(n);
  list->reserved = 0;
  std::vector<VstMidiEvent> midi(n);
  std::vector<VstMidiSysexEvent> sysex(n);
  std::string summary;
  for (size_t i = 0; i < n; ++i) {
    HostEvent& h = events[i];
    if (h.sysex) {
      VstMidiSysexEvent& s = sysex[i];
      std::memset(&s, 0, sizeof s);
      s.type = kVstSysExType;
      s.byteSize = sizeof(VstMidiSysexEvent);
      s.deltaFrames = h.delta;
      s.dumpBytes = static_cast<int32_t>(h.bytes.size());
      s.sysexDump = reinterpret_cast<char*>(h.bytes.data());
      list->events[i] = reinterpret_cast<VstEvent*>(&s);
    } else {
      VstMidiEvent& m = midi[i];
      std::memset(&m, 0, sizeof m);
      m.type = kVstMidiType;
      m.byteSize = sizeof(VstMidiEvent);
      m.deltaFrames = h.delta;
      for (size_t b = 0; b < h.bytes.size() && b < 3; ++b) m.midiData[b] = static_cast<char>(h.bytes[b]);
      list->events[i] = reinterpret_cast<VstEvent*>(&m);
    }
  }
  const intptr_t r = dispatch(effProcessEvents, 0, 0, list, 0.0f);
  transcript_->line("dispatcher " + dispatcherLabel(effProcessEvents) + " events=" + std::to_string(n) + " -> " +
                    std::to_string(r));
  events.clear();
  return r;
}

namespace {
void fillInput(std::vector<float>& ch, const std::string& kind, int channel) {
  for (size_t i = 0; i < ch.size(); ++i) {
    if (kind == "impulse")
      ch[i] = i == 0 ? 1.0f : 0.0f;
    else if (kind == "sine")
      ch[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / 44100.0 + channel));
    else
      ch[i] = 0.0f;
  }
}
}  // namespace

AEffectProcessDoubleProc Host::doubleProc() const {
  if (!effect_ || !(effect_->flags & effFlagsCanDoubleReplacing)) return nullptr;
  return effect_->processDoubleReplacing;
}

bool Host::processBlock(const std::string& precision, int frames, const std::string& input, bool onAudioThread,
                        std::string* error) {
  AEffect* e = effect_;
  const bool isDouble = precision == "double";
  if (precision == "float" && !e->processReplacing) {
    *error = "plug-in has no processReplacing";
    return false;
  }
  if (isDouble && !doubleProc()) {
    *error = "plug-in has no processDoubleReplacing (flag CanDoubleReplacing not set)";
    return false;
  }
  if (precision == "accumulate" && !e->process) {
    *error = "plug-in has no accumulating process";
    return false;
  }
  flushEvents();
  const int nIn = e->numInputs > 0 ? e->numInputs : 0;
  const int nOut = e->numOutputs > 0 ? e->numOutputs : 0;
  std::vector<std::vector<float>> inF(nIn, std::vector<float>(frames)), outF(nOut, std::vector<float>(frames));
  for (int c = 0; c < nIn; ++c) fillInput(inF[c], input, c);
  std::vector<std::vector<double>> inD, outD;
  // Never hand the plug-in a null channel array, even with no channels.
  std::vector<float*> inPF(nIn + 1, nullptr), outPF(nOut + 1, nullptr);
  std::vector<double*> inPD(nIn + 1, nullptr), outPD(nOut + 1, nullptr);
  for (int c = 0; c < nIn; ++c) inPF[c] = inF[c].data();
  for (int c = 0; c < nOut; ++c) outPF[c] = outF[c].data();
  if (isDouble) {
    inD.assign(nIn, std::vector<double>(frames));
    outD.assign(nOut, std::vector<double>(frames));
    for (int c = 0; c < nIn; ++c) {
      for (int i = 0; i < frames; ++i) inD[c][i] = inF[c][i];
      inPD[c] = inD[c].data();
    }
    for (int c = 0; c < nOut; ++c) outPD[c] = outD[c].data();
  }
  const std::function<void()> call = [&] {
    t_inProcess = true;
    if (isDouble)
      doubleProc()(e, inPD.data(), outPD.data(), frames);
    else if (precision == "float")
      e->processReplacing(e, inPF.data(), outPF.data(), frames);
    else
      e->process(e, inPF.data(), outPF.data(), frames);
    t_inProcess = false;
  };
  if (onAudioThread)
    audio_.run(call);
  else
    call();

  std::string peaks;
  for (int c = 0; c < nOut; ++c) {
    double peak = 0.0;
    for (int i = 0; i < frames; ++i) {
      const double v = std::fabs(isDouble ? outD[c][i] : static_cast<double>(outF[c][i]));
      if (!(v <= peak)) peak = v;  // NaN sticks
    }
    if (c) peaks += ' ';
    peaks += formatFloat(peak, 4);
  }
  transcript_->line("process " + precision + " frames=" + std::to_string(frames) +
                    (onAudioThread ? " thread=audio" : "") + " in=" + std::to_string(nIn) +
                    " out=" + std::to_string(nOut) + " -> peaks [" + peaks + "]");
  advanceTransport(frames);
  return true;
}

void Host::advanceTransport(int frames) {
  std::lock_guard<std::mutex> lock(timeMutex_);
  if (!transport.playing) return;
  transport.samplePos += frames;
  transport.ppq += frames / sampleRate * transport.tempo / 60.0;
}

VstTimeInfo* Host::fillTimeInfo(intptr_t /*filter*/) {
  // Every field is filled whatever the plug-in asked for; the flags say which are valid. The record stays valid
  // until the same thread asks again, as plug-ins expect.
  static thread_local VstTimeInfo record;
  std::lock_guard<std::mutex> lock(timeMutex_);
  VstTimeInfo& t = record;
  std::memset(&t, 0, sizeof t);
  t.samplePos = transport.samplePos;
  t.sampleRate = sampleRate;
  t.ppqPos = transport.ppq;
  t.tempo = transport.tempo;
  const double barLength = transport.sigNumerator * 4.0 / (transport.sigDenominator > 0 ? transport.sigDenominator : 4);
  t.barStartPos = transport.barStart != 0.0 || barLength <= 0 ? transport.barStart
                                                              : std::floor(transport.ppq / barLength) * barLength;
  t.cycleStartPos = transport.cycleStart;
  t.cycleEndPos = transport.cycleEnd;
  t.timeSigNumerator = transport.sigNumerator;
  t.timeSigDenominator = transport.sigDenominator;
  t.flags = kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstTimeSigValid | kVstCyclePosValid;
  if (transport.playing) t.flags |= kVstTransportPlaying;
  if (transport.recording) t.flags |= kVstTransportRecording;
  if (transport.cycle) t.flags |= kVstTransportCycleActive;
  if (transport.changed) {
    t.flags |= kVstTransportChanged;
    transport.changed = false;
  }
  return &t;
}

intptr_t Host::callback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
  Host* h = g_host;
  if (!h) return 0;
  std::string detail;
  const intptr_t r = h->answer(effect, opcode, index, value, ptr, opt, &detail);
  std::string line = "request " + requestLabel(opcode);
  if (index) line += " index=" + std::to_string(index);
  if (value && opcode != audioMasterGetTime) line += " value=" + std::to_string(value);
  if (opt != 0.0f) line += " opt=" + formatFloat(opt);
  if (!detail.empty()) line += " " + detail;
  line += " -> " + std::to_string(opcode == audioMasterGetTime ? (r ? 1 : 0) : r);
  if (JobThread::isAudio())
    line += " [audio]";
  else if (!pthread_equal(pthread_self(), h->mainThread_))
    line += " [thread]";
  h->transcript_->request(line);
  return r;
}

intptr_t Host::answer(AEffect*, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt,
                      std::string* detail) {
  (void)index;
  (void)opt;
  switch (opcode) {
    case audioMasterAutomate:
      return 0;
    case audioMasterVersion:
      return identity.vstVersion;
    case audioMasterWantMidi:
      return 1;
    case audioMasterGetTime:
      return reinterpret_cast<intptr_t>(fillTimeInfo(value));
    case audioMasterProcessEvents: {
      const VstEvents* list = static_cast<const VstEvents*>(ptr);
      if (!list) {
        *detail = "events=null";
        return 0;
      }
      *detail = "events=" + std::to_string(list->numEvents);
      for (int32_t i = 0; i < list->numEvents && i < 4096; ++i) {
        const VstEvent* ev = list->events[i];
        if (!ev) {
          *detail += " [null]";
        } else if (ev->type == kVstMidiType) {
          const VstMidiEvent* m = reinterpret_cast<const VstMidiEvent*>(ev);
          *detail += " [midi delta=" + std::to_string(m->deltaFrames) + " " +
                     hexBytes(reinterpret_cast<const uint8_t*>(m->midiData), 3) + "]";
        } else if (ev->type == kVstSysExType) {
          const VstMidiSysexEvent* s = reinterpret_cast<const VstMidiSysexEvent*>(ev);
          const int32_t n = s->dumpBytes;
          *detail += " [sysex delta=" + std::to_string(s->deltaFrames) + " bytes=" + std::to_string(n) + " " +
                     (s->sysexDump && n > 0 && n < (1 << 24)
                          ? sysexText(reinterpret_cast<const uint8_t*>(s->sysexDump), static_cast<size_t>(n))
                          : std::string("-")) +
                     "]";
        } else {
          *detail += " [type=" + std::to_string(ev->type) + "]";
        }
      }
      return 1;
    }
    case audioMasterIOChanged:
      return 1;
    case audioMasterGetSampleRate: {
      std::lock_guard<std::mutex> lock(timeMutex_);
      return static_cast<intptr_t>(sampleRate);
    }
    case audioMasterGetBlockSize: {
      std::lock_guard<std::mutex> lock(timeMutex_);
      return blockSize;
    }
    case audioMasterGetCurrentProcessLevel:
      return t_inProcess ? kVstProcessLevelRealtime : kVstProcessLevelUser;
    case audioMasterGetVendorString:
      if (!ptr) return 0;
      std::snprintf(static_cast<char*>(ptr), kVstMaxVendorStrLen, "%s", identity.vendor.c_str());
      return 1;
    case audioMasterGetProductString:
      if (!ptr) return 0;
      std::snprintf(static_cast<char*>(ptr), kVstMaxProductStrLen, "%s", identity.product.c_str());
      *detail = quoted(identity.product.c_str(), identity.product.size());
      return identity.product.empty() ? 0 : 1;
    case audioMasterGetVendorVersion:
      return identity.vendorVersion;
    case audioMasterCanDo: {
      const char* what = static_cast<const char*>(ptr);
      if (!what) return 0;
      *detail = quoted(what, 256);
      static const char* const kCan[] = {"sendVstEvents",       "sendVstMidiEvent", "receiveVstEvents",
                                         "receiveVstMidiEvent", "sendVstTimeInfo",  "supplyIdle"};
      for (const char* c : kCan)
        if (std::strcmp(c, what) == 0) return 1;
      return 0;
    }
    case audioMasterUpdateDisplay:
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
      return 1;
    default:
      return 0;
  }
}

}  // namespace vexhost
