// The core steps: loading, identity, dispatcher calls, parameters, transport, processing, events and chunks.
#include <time.h>
#include <algorithm>

#include <cstring>
#include <fstream>
#include <iterator>

#include "tools/vexmir-host/script.h"
#include "tools/vexmir-host/vst2names.h"

namespace vexhost {
namespace {

StepAction fail(std::string* error, const std::string& why) {
  *error = why;
  return StepAction();
}

// ---- load, open, close, info ----

StepAction parseLoad(const StepArgs& a, std::string* error) {
  if (a.words.size() > 1 || !a.keys.empty()) return fail(error, "load takes at most one path");
  const std::string path = a.words.empty() ? "" : a.words[0];
  return [path](Session& s, std::string* err) {
    if (!path.empty()) s.pluginPath = path;
    return s.needPlugin(err);
  };
}

StepAction parseOpen(const StepArgs& a, std::string* error) {
  if (!a.words.empty() || !a.keys.empty()) return fail(error, "open takes no arguments");
  return [](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    const intptr_t r = s.host.dispatch(effOpen, 0, 0, nullptr, 0.0f);
    s.host.out().line("dispatcher " + dispatcherLabel(effOpen) + " -> " + std::to_string(r));
    s.opened = true;
    return true;
  };
}

StepAction parseClose(const StepArgs& a, std::string* error) {
  if (!a.words.empty() || !a.keys.empty()) return fail(error, "close takes no arguments");
  return [](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    // Marked first: the script's thread stops idling the editor before a close from another thread frees it.
    s.closed = true;
    const intptr_t r = s.host.dispatch(effClose, 0, 0, nullptr, 0.0f);
    s.host.out().line("dispatcher " + dispatcherLabel(effClose) + " -> " + std::to_string(r));
    return true;
  };
}

std::string fourChars(int32_t id) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((id >> shift) & 0xff);
    s += (c >= 32 && c < 127) ? c : '.';
  }
  return s;
}

StepAction parseInfo(const StepArgs& a, std::string* error) {
  if (!a.words.empty() || !a.keys.empty()) return fail(error, "info takes no arguments");
  return [](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    const AEffect* e = s.host.effect();
    char id[64];
    std::snprintf(id, sizeof id, "%d (0x%08x '%s')", e->uniqueID, static_cast<unsigned>(e->uniqueID),
                  fourChars(e->uniqueID).c_str());
    Transcript& t = s.host.out();
    t.line(std::string("effect uniqueID ") + id);
    t.line("effect version " + std::to_string(e->version));
    t.line("effect numPrograms " + std::to_string(e->numPrograms));
    t.line("effect numParams " + std::to_string(e->numParams));
    t.line("effect numInputs " + std::to_string(e->numInputs));
    t.line("effect numOutputs " + std::to_string(e->numOutputs));
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%x", static_cast<unsigned>(e->flags));
    t.line(std::string("effect flags ") + flags + " " + flagNames(e->flags));
    t.line("effect initialDelay " + std::to_string(e->initialDelay));
    t.line(std::string("effect process ") + (e->process ? "yes" : "no") + " processReplacing " +
           (e->processReplacing ? "yes" : "no") + " processDoubleReplacing " + (s.host.doubleProc() ? "yes" : "no"));
    return true;
  };
}

// ---- dispatch ----

enum class PtrKind { Null, String, Text, Rect, Pin, Bytes, ChunkOut, Speakers };

PtrKind defaultPtrKind(int32_t op) {
  switch (op) {
    case effGetProgramName:
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
    case effGetProgramNameIndexed:
    case effGetEffectName:
    case effGetErrorText:
    case effGetVendorString:
    case effGetProductString:
      return PtrKind::String;
    case effEditGetRect:
      return PtrKind::Rect;
    case effGetInputProperties:
    case effGetOutputProperties:
      return PtrKind::Pin;
    case effGetChunk:
      return PtrKind::ChunkOut;
    default:
      return PtrKind::Null;
  }
}

bool parseHex(const std::vector<std::string>& words, size_t from, std::vector<uint8_t>* out, std::string* error) {
  for (size_t i = from; i < words.size(); ++i) {
    std::string w = words[i];
    if (w.size() > 2 && (w[0] == '0') && (w[1] == 'x' || w[1] == 'X')) w = w.substr(2);
    // Runs of hex digits without blanks are read two at a time ("F0427F" or "f0 42 7f").
    if (w.empty() || w.size() % 2) {
      *error = "bad hex byte \"" + words[i] + "\"";
      return false;
    }
    for (size_t k = 0; k < w.size(); k += 2) {
      char* end = nullptr;
      const std::string pair = w.substr(k, 2);
      const long v = std::strtol(pair.c_str(), &end, 16);
      if (*end != 0) {
        *error = "bad hex byte \"" + words[i] + "\"";
        return false;
      }
      out->push_back(static_cast<uint8_t>(v));
    }
  }
  return true;
}

struct DispatchCall {
  int32_t opcode = 0;
  long long index = 0, value = 0;
  double opt = 0;
  PtrKind kind = PtrKind::Null;
  std::string text;
  std::vector<uint8_t> bytes;
  int speakersIn = 0, speakersOut = 0;
};

void fillArrangement(VstSpeakerArrangement* a, int channels) {
  std::memset(a, 0, sizeof *a);
  a->numChannels = channels;
  a->type = channels == 1 ? kSpeakerArrMono : channels == 2 ? kSpeakerArrStereo : kSpeakerArrUserDefined;
}

std::string runDispatch(Session& s, const DispatchCall& d) {
  char str[1024];
  std::memset(str, 0, sizeof str);
  ERect* rect = nullptr;
  VstPinProperties pin;
  std::memset(&pin, 0, sizeof pin);
  void* chunk = nullptr;
  VstSpeakerArrangement in, out;
  std::vector<uint8_t> bytes = d.bytes;
  std::string textCopy = d.text;
  void* ptr = nullptr;
  intptr_t value = static_cast<intptr_t>(d.value);
  switch (d.kind) {
    case PtrKind::Null:
      break;
    case PtrKind::String:
      ptr = str;
      break;
    case PtrKind::Text:
      ptr = &textCopy[0];
      break;
    case PtrKind::Rect:
      ptr = &rect;
      break;
    case PtrKind::Pin:
      ptr = &pin;
      break;
    case PtrKind::Bytes:
      ptr = bytes.empty() ? nullptr : bytes.data();
      if (!d.bytes.empty() && d.value == 0) value = static_cast<intptr_t>(bytes.size());
      break;
    case PtrKind::ChunkOut:
      ptr = &chunk;
      break;
    case PtrKind::Speakers:
      fillArrangement(&in, d.speakersIn);
      fillArrangement(&out, d.speakersOut);
      value = reinterpret_cast<intptr_t>(&in);
      ptr = &out;
      break;
  }
  const intptr_t r = s.host.dispatch(d.opcode, static_cast<int32_t>(d.index), value, ptr, static_cast<float>(d.opt));
  std::string line = "dispatcher " + dispatcherLabel(d.opcode);
  if (d.index) line += " index=" + std::to_string(d.index);
  if (d.value && d.kind != PtrKind::Bytes) line += " value=" + std::to_string(d.value);
  if (d.opt != 0) line += " opt=" + formatFloat(d.opt);
  if (d.kind == PtrKind::Text) line += " ptr=" + quoted(d.text.c_str(), d.text.size());
  if (d.kind == PtrKind::Bytes) line += " ptr=bytes(" + std::to_string(d.bytes.size()) + ")";
  if (d.kind == PtrKind::Speakers)
    line += " speakers=" + std::to_string(d.speakersIn) + "," + std::to_string(d.speakersOut);
  line += " -> " + std::to_string(r);
  switch (d.kind) {
    case PtrKind::String:
      str[sizeof str - 1] = 0;
      line += " " + quoted(str, sizeof str);
      break;
    case PtrKind::Rect:
      if (rect)
        line += " rect top=" + std::to_string(rect->top) + " left=" + std::to_string(rect->left) +
                " bottom=" + std::to_string(rect->bottom) + " right=" + std::to_string(rect->right);
      else
        line += " rect=null";
      break;
    case PtrKind::Pin:
      line += " pin label=" + quoted(pin.label, sizeof pin.label) + " flags=" + std::to_string(pin.flags) +
              " arrangement=" + std::to_string(pin.arrangementType) +
              " short=" + quoted(pin.shortLabel, sizeof pin.shortLabel);
      break;
    case PtrKind::ChunkOut:
      line += chunk ? " chunk" : " chunk=null";
      break;
    default:
      break;
  }
  return line;
}

StepAction parseDispatch(const StepArgs& a, std::string* error) {
  if (a.words.size() != 1) return fail(error, "dispatch needs one opcode");
  if (!a.onlyKeys({"index", "value", "opt", "ptr", "speakers"}, error)) return StepAction();
  DispatchCall d;
  if (!dispatcherFromText(a.words[0], &d.opcode)) return fail(error, "unknown opcode \"" + a.words[0] + "\"");
  if (!a.intKey("index", &d.index, error) || !a.intKey("value", &d.value, error) || !a.floatKey("opt", &d.opt, error))
    return StepAction();
  if (d.index < INT32_MIN || d.index > INT32_MAX) return fail(error, "index out of range");
  d.kind = defaultPtrKind(d.opcode);
  auto p = a.keys.find("ptr");
  if (p != a.keys.end()) {
    const std::string& v = p->second;
    if (v == "null")
      d.kind = PtrKind::Null;
    else if (v == "string")
      d.kind = PtrKind::String;
    else if (v == "rect")
      d.kind = PtrKind::Rect;
    else if (v == "pin")
      d.kind = PtrKind::Pin;
    else if (v.compare(0, 5, "text:") == 0) {
      d.kind = PtrKind::Text;
      d.text = v.substr(5);
    } else if (v.compare(0, 6, "bytes:") == 0) {
      d.kind = PtrKind::Bytes;
      if (!parseHex({v.substr(6)}, 0, &d.bytes, error)) return StepAction();
    } else {
      return fail(error, "unknown ptr kind \"" + v + "\" (null, string, text:TEXT, bytes:HEX, rect, pin)");
    }
  }
  auto sp = a.keys.find("speakers");
  if (sp != a.keys.end()) {
    const size_t comma = sp->second.find(',');
    long long i = 0, o = 0;
    if (comma == std::string::npos || !parseInt(sp->second.substr(0, comma), &i) ||
        !parseInt(sp->second.substr(comma + 1), &o) || i < 0 || i > 8 || o < 0 || o > 8)
      return fail(error, "speakers=IN,OUT takes two channel counts from 0 to 8");
    d.kind = PtrKind::Speakers;
    d.speakersIn = static_cast<int>(i);
    d.speakersOut = static_cast<int>(o);
  }
  return [d](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    s.host.out().line(runDispatch(s, d));
    return true;
  };
}

// ---- setup, resume, suspend ----

StepAction parseSetup(const StepArgs& a, std::string* error) {
  if (!a.words.empty() || !a.onlyKeys({"rate", "block"}, error)) return fail(error, "setup takes rate= and block=");
  double rate = 0;
  long long block = 0;
  if (!a.floatKey("rate", &rate, error) || !a.intKey("block", &block, error)) return StepAction();
  if (a.keys.count("rate") && (rate < 1000 || rate > 768000)) return fail(error, "rate out of range");
  if (a.keys.count("block") && (block < 1 || block > 65536)) return fail(error, "block out of range");
  return [rate, block](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    if (rate > 0) {
      {
        std::lock_guard<std::mutex> lock(s.host.transportMutex());
        s.host.sampleRate = rate;
      }
      DispatchCall d;
      d.opcode = effSetSampleRate;
      d.opt = rate;
      s.host.out().line(runDispatch(s, d));
    }
    if (block > 0) {
      {
        std::lock_guard<std::mutex> lock(s.host.transportMutex());
        s.host.blockSize = static_cast<int>(block);
      }
      DispatchCall d;
      d.opcode = effSetBlockSize;
      d.value = block;
      s.host.out().line(runDispatch(s, d));
    }
    return true;
  };
}

StepAction parseMains(const StepArgs& a, std::string* error) {
  if (!a.words.empty() || !a.keys.empty()) return fail(error, a.step + " takes no arguments");
  const long long on = a.step == "resume" ? 1 : 0;
  return [on](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    DispatchCall d;
    d.opcode = effMainsChanged;
    d.value = on;
    s.host.out().line(runDispatch(s, d));
    return true;
  };
}

// ---- parameters ----

StepAction parseParam(const StepArgs& a, std::string* error) {
  if (!a.keys.empty() || a.words.size() < 2) return fail(error, "param needs an action and an index");
  const std::string what = a.words[0];
  long long index = 0;
  if (!parseInt(a.words[1], &index) || index < 0 || index > INT32_MAX)
    return fail(error, "bad parameter index \"" + a.words[1] + "\"");
  double value = 0;
  if (what == "set") {
    if (a.words.size() != 3 || !parseFloat(a.words[2], &value)) return fail(error, "param set needs a value");
  } else if ((what != "get" && what != "show") || a.words.size() != 2) {
    return fail(error, "param takes get, set or show");
  }
  const int32_t idx = static_cast<int32_t>(index);
  return [what, idx, value](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    AEffect* e = s.host.effect();
    if (idx >= e->numParams) {
      *err =
          "parameter " + std::to_string(idx) + " out of range (the plug-in has " + std::to_string(e->numParams) + ")";
      return false;
    }
    if (what == "set") {
      if (!e->setParameter) {
        *err = "plug-in has no setParameter";
        return false;
      }
      e->setParameter(e, idx, static_cast<float>(value));
      s.host.out().line("param set " + std::to_string(idx) + " " + formatFloat(value));
      return true;
    }
    if (!e->getParameter) {
      *err = "plug-in has no getParameter";
      return false;
    }
    const float v = e->getParameter(e, idx);
    std::string line = "param " + what + " " + std::to_string(idx) + " -> " + formatFloat(v);
    if (what == "show") {
      const int32_t ops[] = {effGetParamName, effGetParamLabel, effGetParamDisplay};
      const char* names[] = {" name=", " label=", " display="};
      for (int k = 0; k < 3; ++k) {
        char buf[1024] = {};
        s.host.dispatch(ops[k], idx, 0, buf, 0.0f);
        buf[sizeof buf - 1] = 0;
        line += names[k] + quoted(buf, sizeof buf);
      }
    }
    s.host.out().line(line);
    return true;
  };
}

// ---- host identity, transport ----

StepAction parseHostStep(const StepArgs& a, std::string* error) {
  if (!a.keys.empty() || a.words.size() != 2) return fail(error, "host needs a setting and a value");
  const std::string what = a.words[0], v = a.words[1];
  long long n = 0;
  if (what == "vendorversion" || what == "vstversion") {
    if (!parseInt(v, &n)) return fail(error, "host " + what + " needs a number");
  } else if (what == "sysex") {
    if (v != "full" && v != "short") return fail(error, "host sysex takes full or short");
  } else if (what != "product" && what != "vendor") {
    return fail(error, "host takes product, vendor, vendorversion, vstversion or sysex");
  }
  if ((what == "product" || what == "vendor") && v.size() >= 64) return fail(error, "host " + what + " too long");
  return [what, v, n](Session& s, std::string*) {
    HostIdentity& id = s.host.identity;
    if (what == "product") id.product = v;
    if (what == "vendor") id.vendor = v;
    if (what == "vendorversion") id.vendorVersion = static_cast<intptr_t>(n);
    if (what == "vstversion") id.vstVersion = static_cast<intptr_t>(n);
    if (what == "sysex") {
      s.host.fullSysex = v == "full";
      s.host.out().line("host sysex " + v);
      return true;
    }
    const bool text = what == "product" || what == "vendor";
    s.host.out().line("host " + what + " " + (text ? quoted(v.c_str(), v.size()) : std::to_string(n)));
    return true;
  };
}

bool parseBool(const std::string& v, bool* out) {
  if (v == "1" || v == "yes" || v == "on" || v == "true") {
    *out = true;
    return true;
  }
  if (v == "0" || v == "no" || v == "off" || v == "false") {
    *out = false;
    return true;
  }
  return false;
}

StepAction parseTransport(const StepArgs& a, std::string* error) {
  if (!a.words.empty()) return fail(error, "transport takes key=value settings only");
  if (!a.onlyKeys(
          {"playing", "recording", "cycle", "tempo", "ppq", "samplepos", "barstart", "cyclestart", "cycleend", "sig"},
          error))
    return StepAction();
  // Parsed now into a patch applied at run time, so that unset fields keep their current values.
  struct Patch {
    int playing = -1, recording = -1, cycle = -1;
    double tempo = -1, ppq = -1, samplepos = -1, barstart = -1, cyclestart = -1, cycleend = -1;
    int num = 0, den = 0;
  } p;
  for (auto& kv : a.keys) {
    const std::string& k = kv.first;
    const std::string& v = kv.second;
    if (k == "playing" || k == "recording" || k == "cycle") {
      bool b;
      if (!parseBool(v, &b)) return fail(error, k + "= takes 0 or 1");
      (k == "playing" ? p.playing : k == "recording" ? p.recording : p.cycle) = b ? 1 : 0;
    } else if (k == "sig") {
      const size_t slash = v.find('/');
      long long num = 0, den = 0;
      if (slash == std::string::npos || !parseInt(v.substr(0, slash), &num) || !parseInt(v.substr(slash + 1), &den) ||
          num < 1 || num > 64 || (den != 1 && den != 2 && den != 4 && den != 8 && den != 16 && den != 32))
        return fail(error, "sig= takes a time signature such as 4/4");
      p.num = static_cast<int>(num);
      p.den = static_cast<int>(den);
    } else {
      double d;
      if (!parseFloat(v, &d) || d < 0) return fail(error, k + "= takes a number of at least 0");
      if (k == "tempo" && (d < 1 || d > 999)) return fail(error, "tempo= takes 1 to 999");
      (k == "tempo"        ? p.tempo
       : k == "ppq"        ? p.ppq
       : k == "samplepos"  ? p.samplepos
       : k == "barstart"   ? p.barstart
       : k == "cyclestart" ? p.cyclestart
                           : p.cycleend) = d;
    }
  }
  return [p](Session& s, std::string*) {
    std::lock_guard<std::mutex> lock(s.host.transportMutex());
    Transport& t = s.host.transport;
    const bool wasPlaying = t.playing;
    if (p.playing >= 0) t.playing = p.playing;
    if (p.recording >= 0) t.recording = p.recording;
    if (p.cycle >= 0) t.cycle = p.cycle;
    if (p.tempo >= 0) t.tempo = p.tempo;
    if (p.ppq >= 0) t.ppq = p.ppq;
    if (p.samplepos >= 0) t.samplePos = p.samplepos;
    if (p.barstart >= 0) t.barStart = p.barstart;
    if (p.cyclestart >= 0) t.cycleStart = p.cyclestart;
    if (p.cycleend >= 0) t.cycleEnd = p.cycleend;
    if (p.num) {
      t.sigNumerator = p.num;
      t.sigDenominator = p.den;
    }
    if (t.playing != wasPlaying) t.changed = true;
    s.host.out().line("transport playing=" + std::to_string(t.playing) + " recording=" + std::to_string(t.recording) +
                      " tempo=" + formatFloat(t.tempo) + " ppq=" + formatFloat(t.ppq) +
                      " samplepos=" + formatFloat(t.samplePos) + " sig=" + std::to_string(t.sigNumerator) + "/" +
                      std::to_string(t.sigDenominator));
    return true;
  };
}

// ---- processing and events ----

StepAction parseProcess(const StepArgs& a, std::string* error) {
  if (a.words.size() != 1 || (a.words[0] != "float" && a.words[0] != "double" && a.words[0] != "accumulate"))
    return fail(error, "process needs float, double or accumulate");
  if (!a.onlyKeys({"frames", "count", "input", "thread"}, error)) return StepAction();
  std::string thread = "main";
  if (a.keys.count("thread")) thread = a.keys.at("thread");
  if (thread != "main" && thread != "audio") return fail(error, "thread= takes main or audio");
  const bool audio = thread == "audio";
  long long frames = -1, count = 1;
  if (!a.intKey("frames", &frames, error) || !a.intKey("count", &count, error)) return StepAction();
  if (a.keys.count("frames") && (frames < 1 || frames > 65536)) return fail(error, "frames= takes 1 to 65536");
  if (count < 1 || count > 100000) return fail(error, "count= takes 1 to 100000");
  std::string input = "silence";
  if (a.keys.count("input")) input = a.keys.at("input");
  if (input != "silence" && input != "impulse" && input != "sine")
    return fail(error, "input= takes silence, impulse or sine");
  const std::string precision = a.words[0];
  return [precision, frames, count, input, audio](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    const int n = frames > 0 ? static_cast<int>(frames) : s.host.blockSize;
    for (long long i = 0; i < count; ++i)
      if (!s.host.processBlock(precision, n, i == 0 ? input : "silence", audio, err)) return false;
    return true;
  };
}

StepAction parseMidi(const StepArgs& a, std::string* error) {
  if (!a.onlyKeys({"delta"}, error)) return StepAction();
  HostEvent ev;
  if (!parseHex(a.words, 0, &ev.bytes, error)) return StepAction();
  if (ev.bytes.empty() || ev.bytes.size() > 3) return fail(error, "midi takes one to three bytes");
  if (ev.bytes[0] < 0x80 || ev.bytes[0] == 0xf0 || ev.bytes[0] == 0xf7)
    return fail(error, "midi needs a status byte first (SysEx goes with the sysex step)");
  for (size_t i = 1; i < ev.bytes.size(); ++i)
    if (ev.bytes[i] >= 0x80) return fail(error, "midi data bytes must be below 80");
  long long delta = 0;
  if (!a.intKey("delta", &delta, error)) return StepAction();
  if (delta < 0 || delta > 65535) return fail(error, "delta= takes 0 to 65535");
  ev.delta = static_cast<int32_t>(delta);
  return [ev](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    s.host.events.push_back(ev);
    s.host.out().line("event midi delta=" + std::to_string(ev.delta) + " " +
                      hexBytes(ev.bytes.data(), ev.bytes.size()));
    return true;
  };
}

bool readFile(const std::string& path, std::vector<uint8_t>* out, std::string* error);

// Splits a file of SysEx messages (as .syx files hold them) into messages; false with *error on anything else.
bool splitSysex(const std::vector<uint8_t>& bytes, std::vector<std::vector<uint8_t>>* messages, std::string* error) {
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] != 0xf0) {
      *error = "stray byte " + hexBytes(&bytes[i], 1) + " at offset " + std::to_string(i) + " outside a SysEx message";
      return false;
    }
    size_t end = i + 1;
    while (end < bytes.size() && bytes[end] < 0x80) ++end;
    if (end >= bytes.size() || bytes[end] != 0xf7) {
      *error = "truncated SysEx message at offset " + std::to_string(i);
      return false;
    }
    messages->emplace_back(bytes.begin() + static_cast<long>(i), bytes.begin() + static_cast<long>(end) + 1);
    i = end + 1;
  }
  if (messages->empty()) {
    *error = "no SysEx message in the file";
    return false;
  }
  return true;
}

StepAction parseSysex(const StepArgs& a, std::string* error) {
  if (!a.onlyKeys({"delta", "file"}, error)) return StepAction();
  long long delta = 0;
  if (!a.intKey("delta", &delta, error)) return StepAction();
  if (delta < 0 || delta > 65535) return fail(error, "delta= takes 0 to 65535");
  HostEvent ev;
  ev.sysex = true;
  ev.delta = static_cast<int32_t>(delta);
  std::string file;
  if (a.keys.count("file")) {
    file = a.keys.at("file");
    if (!a.words.empty() || file.empty()) return fail(error, "sysex takes either bytes or file=PATH");
  } else {
    if (!parseHex(a.words, 0, &ev.bytes, error)) return StepAction();
    if (ev.bytes.size() < 2 || ev.bytes.front() != 0xf0 || ev.bytes.back() != 0xf7)
      return fail(error, "sysex must start with F0 and end with F7");
    for (size_t i = 1; i + 1 < ev.bytes.size(); ++i)
      if (ev.bytes[i] >= 0x80) return fail(error, "sysex data bytes must be below 80");
  }
  return [ev, file](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    std::vector<std::vector<uint8_t>> messages;
    if (file.empty()) {
      messages.push_back(ev.bytes);
    } else {
      std::vector<uint8_t> bytes;
      if (!readFile(file, &bytes, err)) return false;
      std::string why;
      if (!splitSysex(bytes, &messages, &why)) {
        *err = file + ": " + why;
        return false;
      }
    }
    for (std::vector<uint8_t>& m : messages) {
      HostEvent e = ev;
      e.bytes = std::move(m);
      const std::string shown = s.host.sysexText(e.bytes.data(), e.bytes.size());
      s.host.out().line("event sysex delta=" + std::to_string(e.delta) + " bytes=" + std::to_string(e.bytes.size()) +
                        " " + shown);
      s.host.events.push_back(std::move(e));
    }
    return true;
  };
}

StepAction parseEvents(const StepArgs& a, std::string* error) {
  if (!a.words.empty() || !a.keys.empty()) return fail(error, "events takes no arguments");
  return [](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    if (s.host.events.empty())
      s.host.out().line("events none queued");
    else
      s.host.flushEvents();
    return true;
  };
}

// ---- chunks and files ----

bool readFile(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    *error = "cannot read " + path;
    return false;
  }
  out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  if (f.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  return true;
}

StepAction parseChunk(const StepArgs& a, std::string* error) {
  if (!a.keys.empty() || a.words.size() < 2 || a.words.size() > 3)
    return fail(error, "chunk needs save or load, a file, and optionally bank or preset");
  const std::string what = a.words[0], file = a.words[1];
  if (what != "save" && what != "load") return fail(error, "chunk takes save or load");
  const std::string kind = a.words.size() == 3 ? a.words[2] : "bank";
  if (kind != "bank" && kind != "preset") return fail(error, "chunk kind is bank or preset");
  const int32_t index = kind == "preset" ? 1 : 0;
  return [what, file, kind, index](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    Transcript& t = s.host.out();
    if (what == "save") {
      void* data = nullptr;
      const intptr_t size = s.host.dispatch(effGetChunk, index, 0, &data, 0.0f);
      if (size < 0 || size > (intptr_t(1) << 30) || (size > 0 && !data)) {
        *err = "plug-in gave an unusable chunk (size " + std::to_string(size) + (data ? "" : ", no data") + ")";
        return false;
      }
      std::ofstream f(file, std::ios::binary | std::ios::trunc);
      if (f) f.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
      if (!f) {
        *err = "cannot write " + file;
        return false;
      }
      t.line("chunk save " + kind + " -> " + std::to_string(size) + " bytes " + quoted(file.c_str(), file.size()));
      return true;
    }
    auto bytes = std::make_unique<std::vector<uint8_t>>();
    if (!readFile(file, bytes.get(), err)) return false;
    // An empty chunk still gets a valid pointer.
    if (bytes->empty()) bytes->reserve(1);
    const intptr_t r = s.host.dispatch(effSetChunk, index, static_cast<intptr_t>(bytes->size()), bytes->data(), 0.0f);
    t.line("chunk load " + kind + " " + std::to_string(bytes->size()) + " bytes " + quoted(file.c_str(), file.size()) +
           " -> " + std::to_string(r));
    s.keptChunks.push_back(std::move(bytes));
    return true;
  };
}

StepAction parseCompare(const StepArgs& a, std::string* error) {
  if (!a.keys.empty() || a.words.size() != 2) return fail(error, "compare needs two files");
  const std::string f1 = a.words[0], f2 = a.words[1];
  return [f1, f2](Session& s, std::string* err) {
    std::vector<uint8_t> b1, b2;
    if (!readFile(f1, &b1, err) || !readFile(f2, &b2, err)) return false;
    std::string line = "compare " + quoted(f1.c_str(), f1.size()) + " " + quoted(f2.c_str(), f2.size()) + " -> ";
    if (b1 == b2) {
      line += "equal " + std::to_string(b1.size()) + " bytes";
    } else {
      size_t i = 0;
      while (i < b1.size() && i < b2.size() && b1[i] == b2[i]) ++i;
      line += "differ at byte " + std::to_string(i) + " (sizes " + std::to_string(b1.size()) + " " +
              std::to_string(b2.size()) + ")";
    }
    s.host.out().line(line);
    return true;
  };
}

// ---- misc ----

StepAction parseEcho(const StepArgs& a, std::string* error) {
  if (!a.keys.empty()) return fail(error, "echo text with = must be quoted");
  std::string text;
  for (const std::string& w : a.words) text += (text.empty() ? "" : " ") + w;
  return [text](Session& s, std::string*) {
    s.host.out().line("echo " + text);
    return true;
  };
}

StepAction parseWait(const StepArgs& a, std::string* error) {
  long long ms = 0;
  if (!a.keys.empty() || a.words.size() != 1 || !parseInt(a.words[0], &ms) || ms < 0 || ms > 10000)
    return fail(error, "wait takes milliseconds from 0 to 10000");
  return [ms](Session& s, std::string*) {
    s.host.out().flush();
    // In slices, so that an interrupt (which may land on any of the plug-in's threads) ends the wait soon.
    for (long long left = ms; left > 0 && !interrupted(); left -= 50) {
      timespec ts{0, static_cast<long>(std::min(left, 50LL)) * 1000000L};
      while (nanosleep(&ts, &ts) != 0 && !interrupted()) {
      }
    }
    s.host.out().line("wait " + std::to_string(ms));
    return true;
  };
}

const StepRegistrar kSteps[] = {
    StepRegistrar({"load", "load [PATH]", parseLoad}),
    StepRegistrar({"open", "open", parseOpen}),
    StepRegistrar({"close", "close", parseClose}),
    StepRegistrar({"info", "info", parseInfo}),
    StepRegistrar(
        {"dispatch", "dispatch OPCODE [index=N] [value=N] [opt=F] [ptr=KIND] [speakers=IN,OUT]", parseDispatch}),
    StepRegistrar({"setup", "setup [rate=HZ] [block=FRAMES]", parseSetup}),
    StepRegistrar({"resume", "resume", parseMains}),
    StepRegistrar({"suspend", "suspend", parseMains}),
    StepRegistrar({"param", "param get|show INDEX | param set INDEX VALUE", parseParam}),
    StepRegistrar(
        {"host", "host product|vendor TEXT | host vendorversion|vstversion N | host sysex full|short", parseHostStep}),
    StepRegistrar({"transport",
                   "transport [playing=0|1] [recording=0|1] [cycle=0|1] [tempo=BPM] [ppq=Q] [samplepos=N] "
                   "[barstart=Q] [cyclestart=Q] [cycleend=Q] [sig=N/D]",
                   parseTransport}),
    StepRegistrar(
        {"process",
         "process float|double|accumulate [frames=N] [count=N] [input=silence|impulse|sine] [thread=main|audio]",
         parseProcess}),
    StepRegistrar({"midi", "midi STATUS [DATA1 [DATA2]] [delta=FRAMES]", parseMidi}),
    StepRegistrar({"sysex", "sysex F0 ... F7 [delta=FRAMES] | sysex file=PATH [delta=FRAMES]", parseSysex}),
    StepRegistrar({"events", "events", parseEvents}),
    StepRegistrar({"chunk", "chunk save|load FILE [bank|preset]", parseChunk}),
    StepRegistrar({"compare", "compare FILE1 FILE2", parseCompare}),
    StepRegistrar({"echo", "echo TEXT", parseEcho}),
    StepRegistrar({"wait", "wait MILLISECONDS", parseWait}),
};

}  // namespace
}  // namespace vexhost
