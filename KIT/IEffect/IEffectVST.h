// The VST 2.4 binding of the plug-in base. The host's records stay inside this unit: the header
// names them only as opaque types so that the editor's classes never depend on them.
#pragma once

#include <cstdint>

#include "KIT/IEffect/IEffectBase.h"

extern "C" {
struct AEffect;
struct VstEvent;
typedef intptr_t (*audioMasterCallback)(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                        float opt);
}

// What the host gave the plug-in when it created it.
struct IEffectInstanceInfo {
  audioMasterCallback mVSTHostCallback = nullptr;
};

class IEffectVST : public IEffectBase {
 public:
  IEffectVST(IEffectInstanceInfo instanceInfo, int nParams, const char* channelIOStr, int nPresets,
             const char* effectName, const char* productName, const char* mfrName, int vendorVersion, int uniqueID,
             int mfrID, int latency, bool plugDoesMidi, bool plugDoesChunks, bool plugIsInst, int plugScChans);
  ~IEffectVST() override;

  void initialize(IEffectInstanceInfo instanceInfo, int hostParams, int nParams, const char* channelIOStr, int nPresets,
                  const char* effectName, const char* productName, const char* mfrName, int vendorVersion, int uniqueID,
                  int mfrID, int latency, bool plugDoesMidi, bool plugDoesChunks, bool plugIsInst, int plugScChans);

  // The exported entry's work: creates one plug-in with `create` under a process-wide lock,
  // makes sure it has a program, and returns the record the host keeps. Null when creation fails.
  static AEffect* PluginMain(audioMasterCallback hostCallback, IEffectVST* (*create)(IEffectInstanceInfo));
  AEffect* GetAEffect();

  void BeginInformHostOfParamChange(int idx) override;
  void InformHostOfParamChange(int idx, double normalizedValue) override;
  void EndInformHostOfParamChange(int idx) override;
  void InformHostOfProgramChange() override;
  bool IsRenderingOffline() override;
  int GetSamplePos() override;
  double GetTempo() override;
  void GetTimeSig(int* numerator, int* denominator) override;
  void GetTime(ITimeInfo* timeInfo) override;
  EHost GetHost() override;
  void ResizeGraphics(int w, int h) override;
  void SetLatency(int samples) override;
  // Short messages and SysEx for the host (request 8); true when the host took them.
  bool SendMidiVST(IMidiMsg* msg) override;
  bool SendSysEx(ISysEx* msg) override;
  // Short messages and SysEx for the external output port; any thread.
  bool SendMidiMsg(IMidiMsg* msg) override;
  ESendResult TrySendMidiMsgNow(const IMidiMsg* msg) override;
  bool SendMidiSysex(unsigned char* bytes, int length) override;
  bool SendPatchSysex(unsigned char* bytes, int length) override;
  bool SendMidiSysex2(std::vector<unsigned char> bytes) override;
  void HostSpecificInit() override;
  void AttachGraphics(IGraphics* graphics) override;
  void DirtyPTCompareState() override {}
  void PresetsChangedByHost() override {}

  audioMasterCallback GetHostCallback() const;
  int GetHostExtensionFlags() const;

  struct VSTState;  // the host-facing records, defined in the binding unit
  friend class IEffectVSTEntry;

 private:
  VSTState* mState;
};

// The chunk header: the magic 0x70666674 and the version 0x00010000, native byte order.
void InitializeVSTChunk(ByteChunk* chunk);
int GetIEffectVerFromChunk(ByteChunk* chunk, int* position);

// A Mac editor surface of that size for the plug-in, told the identifier of the plug-in's bundle
// ("com.<maker>.vst.<effect name>") so that it loads that bundle's images. The caller attaches it.
IGraphics* MakeGraphics(IEffectVST* plug, int width, int height, int fps = 0);
