// A minimal in-test VST 2 host: loads the real plug-in bundle with dlopen, calls VSTPluginMain
// with its own callback and records every request the plug-in makes.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/vst2/vst2.h"
#include "tests/support/TempRoot.h"

namespace coretest {

struct Request {
  int32_t opcode;
  int32_t index;
  intptr_t value;
  float opt;
  std::vector<uint8_t> eventBytes;  // for audioMasterProcessEvents: the first event's payload
  int32_t eventType = 0;
};

class BundleHost {
 public:
  static std::string bundleLibrary() {
    const char* build = std::getenv("VEXMIR_BUILD_DIR");
    return std::string(build ? build : ".") + "/Vexmir Editor.vst/Contents/Linux/Vexmir Editor.so";
  }

  BundleHost() {
    library = dlopen(bundleLibrary().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library) entry = reinterpret_cast<VstPluginMainProc>(dlsym(library, "VSTPluginMain"));
  }
  ~BundleHost() {
    if (effect) close();
    if (library) dlclose(library);
  }

  AEffect* create() {
    current() = this;
    effect = entry ? entry(&BundleHost::callback) : nullptr;
    return effect;
  }
  void close() {
    dispatch(effClose);
    effect = nullptr;
  }
  intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
  }

  std::vector<Request> requests() {
    std::lock_guard<std::mutex> lock(mutex);
    return log;
  }
  int count(int32_t opcode) {
    int n = 0;
    for (const Request& r : requests()) n += r.opcode == opcode;
    return n;
  }
  void clearRequests() {
    std::lock_guard<std::mutex> lock(mutex);
    log.clear();
  }

  void* library = nullptr;
  VstPluginMainProc entry = nullptr;
  AEffect* effect = nullptr;
  std::string product = "vexmir-test";
  intptr_t vendorVersion = 10000;
  VstTimeInfo timeInfo{};
  bool answerTime = true;

 private:
  static BundleHost*& current() {
    static BundleHost* host = nullptr;
    return host;
  }

  static intptr_t callback(AEffect*, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    BundleHost* h = current();
    if (!h) return 0;
    Request r{opcode, index, value, opt, {}, 0};
    intptr_t result = 0;
    switch (opcode) {
      case audioMasterVersion:
        result = 2400;
        break;
      case audioMasterGetProductString:
        std::strcpy(static_cast<char*>(ptr), h->product.c_str());
        result = 1;
        break;
      case audioMasterGetVendorVersion:
        result = h->vendorVersion;
        break;
      case audioMasterGetTime:
        result = h->answerTime ? reinterpret_cast<intptr_t>(&h->timeInfo) : 0;
        break;
      case audioMasterProcessEvents: {
        VstEvents* ev = static_cast<VstEvents*>(ptr);
        if (ev && ev->numEvents > 0 && ev->events[0]) {
          r.eventType = ev->events[0]->type;
          if (r.eventType == kVstSysExType) {
            VstMidiSysexEvent* s = reinterpret_cast<VstMidiSysexEvent*>(ev->events[0]);
            r.eventBytes.assign(reinterpret_cast<uint8_t*>(s->sysexDump),
                                reinterpret_cast<uint8_t*>(s->sysexDump) + s->dumpBytes);
          } else if (r.eventType == kVstMidiType) {
            VstMidiEvent* m = reinterpret_cast<VstMidiEvent*>(ev->events[0]);
            r.eventBytes.assign(m->midiData, m->midiData + 3);
          }
        }
        result = 1;
        break;
      }
      default:
        break;
    }
    std::lock_guard<std::mutex> lock(h->mutex);
    h->log.push_back(r);
    return result;
  }

  std::mutex mutex;
  std::vector<Request> log;
};

using vexmir::testsupport::TempRoot;

}  // namespace coretest
