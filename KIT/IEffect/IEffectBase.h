// The host-independent plug-in: parameters, presets, the plug-in mutex, audio channel bookkeeping,
// the editor surface and the two external MIDI ports. The VST binding (IEffectVST) derives from it
// and the editor object derives from that.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KIT/IEffect/HostCallRelay.h"
#include "KIT/IEffect/Hosts.h"
#include "KIT/IEffect/IEffectStructs.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/heapbuf.h"
#include "KIT/mutex.h"
#include "KIT/ptrlist.h"

class IGraphics;
class RtMidiIn;
class RtMidiOut;
class JackConnectionWatch;
namespace jackowner {
class HelperClient;
enum class Reply;
}
class MidiInputDelivery;

enum EAPI { kAPIVST2 = 0, kAPIVST3 = 1, kAPIAU = 2, kAPIRTAS = 3, kAPIAAX = 4, kAPISA = 5 };

// A four-character code as an int ('Pcr1').
constexpr int MakeFourCC(char a, char b, char c, char d) {
  return (static_cast<int>(static_cast<unsigned char>(a)) << 24) |
         (static_cast<int>(static_cast<unsigned char>(b)) << 16) |
         (static_cast<int>(static_cast<unsigned char>(c)) << 8) | static_cast<int>(static_cast<unsigned char>(d));
}

struct IPreset {
  bool mInitialized = false;
  char mName[256] = "empty";
  ByteChunk mChunk;
};

struct InChannel {
  bool mConnected = false;
  double** mSrc = nullptr;  // this channel's slot in the input data array
  KIT_TypedBuf<double> mScratchBuf;
  std::string mLabel;
};

struct OutChannel {
  bool mConnected = false;
  double** mDest = nullptr;  // this channel's slot in the output data array
  float* mFDest = nullptr;   // the host's single-precision destination
  KIT_TypedBuf<double> mScratchBuf;
  std::string mLabel;
};

struct ChannelIO {
  int mIn = 0, mOut = 0;
};

class IEffectBase {
 public:
  // Stores the identity; initialize() builds parameters, presets and channels.
  IEffectBase(int nParams, const char* channelIOStr, int nPresets, const char* effectName, const char* productName,
              const char* mfrName, int vendorVersion, int uniqueID, int mfrID, int latency, bool plugDoesMidi,
              bool plugDoesChunks, bool plugIsInst, EAPI plugAPI);
  virtual ~IEffectBase();
  IEffectBase(const IEffectBase&) = delete;
  IEffectBase& operator=(const IEffectBase&) = delete;

  void initialize(int hostParams, int nParams, const char* channelIOStr, int nPresets, const char* effectName,
                  const char* productName, const char* mfrName, int vendorVersion, int uniqueID, int mfrID, int latency,
                  bool plugDoesMidi, bool plugDoesChunks, bool plugIsInst);

  // --- Hooks of the editor object. Each runs with the plug-in mutex held by its caller. ---
  virtual void Reset();
  virtual void OnParamChange(int paramIdx);
  virtual void OnParamChange2(int paramIdx);
  // Audio thread: no allocation, no file access, no waiting on other threads.
  virtual void ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames);
  virtual void ProcessSingleReplacing(float** inputs, float** outputs, int nFrames);
  virtual void OnGUIOpen() {}
  virtual void OnGUIClose() {}
  // The editor's thread, on every tick of its timer while it is open.
  virtual void OnIdle() {}
  virtual void OnActivate(bool active);
  // fromDevice: true on the MIDI library's input thread (the synthesizer), false on a host thread.
  virtual void ProcessMidiMsg(IMidiMsg* msg, bool fromDevice) {
    (void)msg;
    (void)fromDevice;
  }
  virtual void ProcessSysEx(ISysEx* msg, bool fromDevice) {
    (void)msg;
    (void)fromDevice;
  }
  virtual bool MidiNoteName(int noteNumber, char* name);
  virtual bool SerializeState(ByteChunk* chunk) { return SerializeParams(chunk); }
  virtual int UnserializeState(ByteChunk* chunk, int startPos) { return UnserializeParams(chunk, startPos); }
  virtual bool CompareState(const unsigned char* incomingState, int startPos);
  virtual void OnWindowResize() {}
  virtual bool HostRequestingAboutBox() { return false; }
  virtual void OnHostIdentified() {}
  virtual void PopupHostContextMenuForParam(int, int, int) {}

  // User-interface thread: a control moved by the user.
  virtual void SetParameterFromGUI(int idx, double normalizedValue);
  // MIDI input thread: a control moved by a value that came from the synthesizer.
  virtual void SetParameterFromGUI2(int idx, double normalizedValue);
  // The host's idle: whether what the project keeps differs from what it held when the host was last told of it or
  // last saved or recalled it; true once for each such difference. The host sees no parameter of the plug-in, so only
  // InformHostOfProgramChange tells it that its project is no longer as saved. Nothing to compare without a hint.
  bool TakeUnreportedChange();
  // Any thread: something the project keeps may have changed (every parameter raises this as it is set); the next
  // idle compares. Cheap: a flag.
  void ProjectChanged() { mProjectHint.store(true, std::memory_order_release); }
  // What the project keeps, as a digest that differs wherever the kept state differs. Under the plug-in mutex; no
  // call of the MIDI system. Here: every parameter's value.
  virtual std::string ProjectDigest();
  // The host holds the project whose digest this is (it saved or recalled it). Under the plug-in mutex.
  void ProjectHeld(const std::string& digest);
  // The state chunk the host saves, with the digest of the very state written into it.
  virtual bool SerializeProject(ByteChunk* chunk, std::string* digest);
  // Tells the host once (InformHostOfProgramChange) if TakeUnreportedChange finds a change, on the calling thread:
  // the host's idle, or the relay's tick where the host has not idled the plug-in for kIdleCover. Never waits for
  // a tell under way on another thread, and tells nothing once EndTells began.
  void TellUnreportedChange();
  static constexpr std::chrono::milliseconds kIdleCover{500};
  void HostIdled() { mLastIdle.store(std::chrono::steady_clock::now().time_since_epoch().count()); }
  // The plug-in is whole (its most derived constructor has returned): from now on the relay tells where no idle
  // comes.
  void StartUnidledTells() { mUnidledTells.store(true); }
  // The host is closing the plug-in: no tell reaches it after this returns, which waits for one under way.
  void EndTells();

  // --- Host-facing operations, implemented by the binding. ---
  virtual void BeginInformHostOfParamChange(int idx) = 0;
  virtual void InformHostOfParamChange(int idx, double normalizedValue) = 0;
  virtual void EndInformHostOfParamChange(int idx) = 0;
  virtual void InformHostOfProgramChange() = 0;
  virtual bool IsRenderingOffline() { return false; }
  virtual int GetSamplePos() = 0;
  virtual double GetTempo() = 0;
  virtual void GetTimeSig(int* numerator, int* denominator) = 0;
  virtual void GetTime(ITimeInfo* timeInfo) = 0;
  virtual EHost GetHost() { return mHost; }
  virtual EAPI GetAPI() { return mAPI; }
  virtual void ResizeGraphics(int w, int h) = 0;
  virtual void RedrawParamControls();
  virtual void SetLatency(int samples) { mLatency = samples; }
  virtual bool SendMidiVST(IMidiMsg* msg) = 0;
  virtual bool SendMidiMsg(IMidiMsg* msg) = 0;
  virtual bool SendMidiSysex(unsigned char*, int) { return false; }
  virtual bool SendPatchSysex(unsigned char*, int) { return false; }
  virtual bool SendMidiSysex2(std::vector<unsigned char>) { return false; }
  virtual void HostSpecificInit() {}
  virtual void AttachGraphics(IGraphics* graphics);
  virtual bool SendSysEx(ISysEx*) { return false; }
  virtual void DirtyPTCompareState() {}
  virtual void PresetsChangedByHost() {}
  // The largest block any host uses is a few thousand frames; a larger size is refused (the old size stays and
  // stderr says so), as is a process call with more frames than that.
  static constexpr int kMaxBlockSize = 65536;
  virtual void SetBlockSize(int blockSize);

  // --- Parameters ---
  int NParams() const { return mParams.GetSize(); }
  IParam* GetParam(int idx) const { return mParams.Get(idx); }
  int NHostParams() const { return NParams() - mNonAutomatedParams; }
  void addNonAutomateParamCount(int n) { mNonAutomatedParams = n; }
  void OnParamReset();
  void DirtyParameters();
  IGraphics* GetGUI() const { return mGraphics; }

  // --- Identity and host ---
  const char* GetEffectName() const { return mEffectName; }
  const char* GetMfrName() const { return mMfrName; }
  const char* GetProductName() const { return mProductName; }
  int GetUniqueID() const { return mUniqueID; }
  int GetMfrID() const { return mMfrID; }
  int GetHostVersion(bool decimal);
  void GetHostVersionStr(char* out);
  int GetEffectVersion(bool decimal) const;
  void GetEffectVersionStr(char* out) const;
  const char* GetAPIString() const;
  const char* GetArchString() const { return "x86"; }
  void SetHost(const char* productString, int version);
  bool DoesMIDI() const { return mDoesMIDI; }
  bool DoesChunks() const { return mDoesChunks; }
  bool IsInst() const { return mIsInst; }

  // --- Audio ---
  double GetSampleRate() const { return mSampleRate; }
  int GetBlockSize() const { return mBlockSize; }
  int GetLatency() const { return mLatency; }
  double GetSamplesPerBeat();
  void SetSampleRate(double sampleRate) { mSampleRate = sampleRate; }
  bool LegalIO(int nIn, int nOut) const;
  void LimitToStereoIO();
  int NInChannels() const { return static_cast<int>(mInChannels.size()); }
  int NOutChannels() const { return static_cast<int>(mOutChannels.size()); }
  void SetInputChannelConnections(int idx, int n, bool connected);
  void SetOutputChannelConnections(int idx, int n, bool connected);
  bool IsInChannelConnected(int chIdx) const;
  bool IsOutChannelConnected(int chIdx) const;
  void AttachInputBuffers(int idx, int n, double** ppData, int nFrames);
  void AttachInputBuffers(int idx, int n, float** ppData, int nFrames);
  void AttachOutputBuffers(int idx, int n, double** ppData);
  void AttachOutputBuffers(int idx, int n, float** ppData);
  void ProcessBuffers(double sampleType, int nFrames);
  void ProcessBuffers(float sampleType, int nFrames);
  void ProcessBuffersAccumulating(float sampleType, int nFrames);
  void PassThroughBuffers(double sampleType, int nFrames);
  void PassThroughBuffers(float sampleType, int nFrames);
  void ZeroScratchBuffers();
  void SetInputLabel(int idx, const char* label);
  void SetOutputLabel(int idx, const char* label);
  void SetInputBusLabel(int idx, const char* label);
  void SetOutputBusLabel(int idx, const char* label);
  bool SendMidiMsgs(KIT_TypedBuf<IMidiMsg>* msgs);

  // --- Presets and serialization ---
  int NPresets() const { return mPresets.GetSize(); }
  int GetCurrentPresetIdx() const { return mCurrentPresetIdx; }
  IPreset* GetNextUninitializedPreset(KIT_PtrList<IPreset>* presets);
  void MakeDefaultPreset(const char* name = nullptr, int nPresets = 1);
  void EnsureDefaultPreset();
  bool MakePreset(const char* name, ...);
  bool MakePresetFromNamedParams(const char* name, int nParamsNamed, ...);
  bool MakePresetFromChunk(const char* name, ByteChunk* chunk);
  bool MakePresetFromBlob(const char* name, const char* base64, int size);
  void MakeDefaultUserPresetName(KIT_PtrList<IPreset>* presets, char* out);
  void PruneUninitializedPresets();
  bool RestorePreset(int idx);
  bool RestorePreset(const char* name);
  const char* GetPresetName(int idx);
  void ModifyCurrentPreset(const char* name = nullptr);
  bool SerializePresets(ByteChunk* chunk);
  int UnserializePresets(ByteChunk* chunk, int startPos);
  bool SerializeParams(ByteChunk* chunk);
  int UnserializeParams(ByteChunk* chunk, int startPos);
  bool SerializeNonAutomatedParams(ByteChunk* chunk, int n);
  int UnserializeNonAutomatedParams(ByteChunk* chunk, int startPos, int n);
  void InitChunkWithIEffectVer(ByteChunk* chunk);
  int GetIEffectVerFromChunk(ByteChunk* chunk, int* position);

  // --- Preset files: VST 2 program (.fxp) and bank (.fxb) files, chunk form when the plug-in
  // does chunks, parameter form otherwise. User-interface thread; each needs the editor surface,
  // whose file prompt picks the file (a save proposes the given name). False when there is no
  // surface, the prompt was cancelled, or the file could not be written or read. A load applies
  // nothing unless the whole file is valid for this plug-in.
  bool SaveProgramAsFXP(const char* file);
  bool SaveBankAsFXB(const char* file);
  bool LoadProgramFromFXP();
  bool LoadBankFromFXB();
  // Developer aids: the current values as a source line calling MakePresetFromNamedParams
  // (parameters named by paramNames, or by index when it is null), and the current state as a
  // source line calling MakePresetFromBlob. Each replaces the file; false when it cannot be written.
  bool DumpPresetSrcCode(const char* file, const char** paramNames);
  bool DumpPresetBlob(const char* file);

  // --- External MIDI ports ---
  // Any thread that holds the plug-in mutex (the lists are built on first request and kept).
  std::vector<std::string> getExternalMIDIInNames();
  std::vector<std::string> getExternalMIDIOutNames();
  // The lists as last read (empty before the first): nothing is asked of the MIDI system, and nothing waits for it.
  std::vector<std::string> listedExternalMIDIInNames();
  std::vector<std::string> listedExternalMIDIOutNames();
  // The lists read anew from the MIDI system (ports come and go while the plug-in lives). An open port stays open
  // and selected under its new position; one whose port is gone is closed, its selection 0.
  std::vector<std::string> rereadExternalMIDIInNames();
  std::vector<std::string> rereadExternalMIDIOutNames();
  // Close the open port and open the one named; index receives its list position, or 0 when
  // it is not listed or cannot be opened (the port then stays closed).
  void setExternalMIDIIn(int& index, const char* name);
  void setExternalMIDIOut(int& index, const char* name);
  // The list position of the port named when it is the open one and connected in the graph the server runs, else
  // 0 (always on ALSA). A recall leaves such a port as it is.
  int connectedExternalMIDIIn(const char* name);
  int connectedExternalMIDIOut(const char* name);
  int getExternalMIDIInDevice(const char* name);
  int getExternalMIDIOutDevice(const char* name);
  int GetMIDIInPortNumber(const char* name);
  int GetMIDIOutPortNumber(const char* name);
  void initializeVirtualOutput(std::string name);
  // True while an output port is open.
  bool isExternalMIDIOutOpen();
  bool isExternalMIDIInOpen();
  // Why the port lists hold only "OFF" (no MIDI system could be reached when they were last read), for the
  // musician; null when a MIDI system answered.
  const char* midiSystemProblem() const { return mMidiSystemProblem; }
  // True when the output port is open but the port it was connected to is no longer there (the
  // synthesizer's client ended, its interface was unplugged, or the server went away).
  bool externalMIDIOutLost();
  // Closes both ports and forgets the port lists, so that the next list is read anew from the MIDI system
  // (after its server went away and came back, the old port objects cannot be used again).
  void dropExternalMIDIPorts();
  // Whether the JACK server of the port objects went away (asked of the server that runs now, if any); when it did,
  // forgetGoneMIDIServer drops them (as above) and answers true.
  bool midiServerGone();
  bool forgetGoneMIDIServer();
  // Every audio block of the host tells, first (real-time safe): after a JACK server's end, no client of ours opens
  // until the host's audio has run again.
  static void hostAudioRuns();
  // Whether the JACK server of a port object has ended (as far as this process heard): no lock, no call to the
  // server. The relay's deferred work runs as soon as a server's end is heard.
  bool midiServerEnded() const;
  // Whether the JACK server of the port objects runs no cycles (stopped or hung): read without a call that can
  // block; when it does, the ports are taken for those of an ended server (midiServerEnded).
  bool midiServerStopped();
  // Whether a port operation stopped waiting for a busy server since the last call (see midiLate).
  bool takeMidiLate();
  bool midiAnswerLate() const { return mMidiLate; }
  // The instance is being closed: waits for the MIDI system on its behalf end at once (see jackowner::GiveUpWhen).
  void giveUpMidiWaits() { mMidiClosing = true; }
  const std::atomic<bool>& midiWaitsGivenUp() const { return mMidiClosing; }
  int getSelectedMIDIIn() const { return mSelectedMIDIIn; }
  int getSelectedMIDIOut() const { return mSelectedMIDIOut; }
  // The editor object calls this first in its destructor, so that no MIDI callback reaches it
  // while it is being torn down: the ports are closed and the library's clients ended, which waits
  // for a message still being delivered. No port can be opened afterwards.
  void closeExternalMIDIPorts();

  // Hands one message from the synthesizer to the plug-in (userData) on the calling thread. The input port's
  // messages come here on a delivery thread of the port's own, never on the MIDI library's thread.
  static void MIDICallback(double timestamp, std::vector<unsigned char>* message, void* userData);
  static void processMIDIInput(double timestamp, std::vector<unsigned char>* message, void* userData);

  KIT_Mutex& GetMutex() { return mMutex; }

  // The relay of the host's real-time calls (see HostCallRelay): the binding posts host MIDI and parameter
  // changes to it, and the audio callback asks it for work that may wait (RunDeferredWork).
  HostCallRelay& GetHostCallRelay() { return *mRelay; }
  // The plug-in is whole (its most derived constructor has returned): the relay's thread starts, which hands it what
  // the host posted and the deferred work, and hears a JACK server's end. The plug-in's entry calls it, and so does a
  // test that makes a plug-in itself and needs these. Idempotent.
  void StartRelay();
  // Stops the relay: nothing it carries reaches the plug-in afterwards. A derived destructor calls it first.
  void stopHostCallRelay() { mRelay->stop(); }
  // The relay's thread, without the plug-in mutex, whenever work was asked for with requestDeferredWork.
  virtual void RunDeferredWork() {}

  // A short message sent at once unless a port operation holds the output (the audio callback, which must not
  // wait for one): kSendBusy then, and the message is not sent.
  enum ESendResult { kSendDone, kSendBusy, kSendFailed };
  virtual ESendResult TrySendMidiMsgNow(const IMidiMsg*) { return kSendFailed; }

 protected:
  // Output-port sends of the binding; any thread. One lock serialises them with opening and
  // closing the port. False when no port is open or the library refused the message.
  bool sendToExternalMIDIOut(const unsigned char* bytes, size_t length);
  ESendResult trySendToExternalMIDIOut(const unsigned char* bytes, size_t length);
  // The relay's handling of one item, under the plug-in mutex: host MIDI into ProcessMidiMsg, a parameter change
  // into the editor surface and OnParamChange.
  void handleRelayedItem(const HostCallRelay::Item& item);
  // The relay's tick: a JACK server's end heard (the deferred work follows), and the tell where the host has not
  // idled the plug-in lately.
  void relayTick();
  void tellUnidledChange();

  int mNonAutomatedParams = 0;
  // Read by any thread; written under the lock of their port.
  std::atomic<int> mSelectedMIDIIn{0};
  std::atomic<int> mSelectedMIDIOut{0};
  std::atomic<bool> mProjectHint{false};
  std::string mHeldDigest;  // under mMutex
  std::atomic<std::chrono::steady_clock::rep> mLastIdle{0};  // when the host last idled the plug-in
  std::atomic<bool> mUnidledTells{false};
  std::mutex mTellLock;      // held for a tell to the host; never waited for but by EndTells
  bool mTellsEnded = false;  // under mTellLock
  std::vector<ChannelIO> mChannelIO;
  KIT_Mutex mMutex;
  char mEffectName[128] = {};
  char mProductName[128] = {};
  char mMfrName[128] = {};
  int mUniqueID = 0;
  int mMfrID = 0;
  int mVersion = 0;
  EAPI mAPI = kAPIVST2;
  EHost mHost = kHostUninit;
  int mHostVersion = 0;
  bool mDoesMIDI = false;
  bool mDoesChunks = false;
  bool mIsInst = false;
  int mCurrentPresetIdx = 0;
  double mSampleRate = 44100.0;
  int mBlockSize = 0;
  int mLatency = 0;
  IGraphics* mGraphics = nullptr;
  std::string mPresetFolder;  // where the last preset-file prompt ended
  KIT_PtrList<IParam> mParams;
  KIT_PtrList<IPreset> mPresets;
  std::vector<double*> mInData, mOutData;
  std::vector<InChannel*> mInChannels;
  std::vector<OutChannel*> mOutChannels;
  std::vector<std::string> mInBusLabels, mOutBusLabels;

 private:
  struct StateSnapshot;
  std::string promptForPresetFile(const char* proposedName, bool save, const char* extension);
  void takeSnapshot(StateSnapshot* snapshot);
  void restoreSnapshot(const StateSnapshot& snapshot);
  bool loadProgramFile(const std::vector<uint8_t>& file);
  bool loadBankFile(const std::vector<uint8_t>& file);
  void setMIDIPortsStopped();
  bool openOutputPort(unsigned int portNumber, const std::string& name, std::unique_ptr<JackConnectionWatch>* watch);
  bool openInputPort(unsigned int portNumber, const std::string& name, std::unique_ptr<JackConnectionWatch>* watch);
  void closeOutputPort();
  void closeInputPort();
  // The JACK server did not answer a port operation in time: the port objects are taken for those of a server that
  // ended (midiServerEnded), and are given up to the MIDI system's owner, which ends them once the server answers.
  void midiSilent();
  std::atomic<bool> mMidiSilent{false};
  // A wait for the MIDI system ended while its server ran (a busy machine): nothing is taken for an answer, the port
  // operations leave the ports as they are until the instance has taken the flag up (takeMidiLate), and the relay is
  // woken to carry the work out once the owner has answered.
  void midiLate();
  std::atomic<bool> mMidiLate{false};
  std::atomic<bool> mMidiClosing{false};
  // kSilent or kLate noted as above; true for either.
  bool unanswered(jackowner::Reply r);
  // Whether a direction's port object may be used (see serverRuns); each holds its direction's lock (mMidiOutOpLock,
  // mMidiInLock).
  bool outServerRuns();
  bool inServerRuns();
  bool portServerRuns(bool made, std::atomic<long>* server, std::shared_ptr<jackowner::HelperClient>* helper, int out);

  // Guards mMidiIn, mMidiInDelivery and mMidiInNames: the port is chosen on the main thread, recalled on a host
  // thread, and dropped by a transfer job that finds the synthesizer gone. The input's threads never take it.
  std::mutex mMidiInLock;
  RtMidiIn* mMidiIn = nullptr;
  MidiInputDelivery* mMidiInDelivery = nullptr;  // lives exactly as long as mMidiIn
  // Set before the input port closes or its object goes, cleared (release) once an opened port is hooked up;
  // the delivery reads it (acquire) and hands nothing on while it is set. The library's thread is woken through
  // JACK, which orders nothing that the editor wrote: this flag is what makes the editor's set-up visible to the
  // thread that delivers the messages.
  std::atomic<bool> mMidiInShut{false};
  // The output's port operations (opening, closing, listing; each waits for the MIDI server) are apart from its
  // sends: mMidiOutOpLock serialises the operations and is held across the server's work; mMidiOutLock is held by
  // a send and briefly by an operation as it begins and ends. During an operation a send is held back in
  // mMidiOutHeld and goes out when it ends, in order, so that no sender waits for the server.
  class OutPortOperation;
  // Sends at once; the caller holds mMidiOutLock, or is the port operation (which alone sends while it runs).
  bool sendNowLocked(const unsigned char* bytes, size_t length);
  RtMidiOut* mMidiOut = nullptr;  // written holding both locks, read holding either
  std::mutex mMidiOutOpLock;
  std::mutex mMidiOutLock;
  bool mMidiOutOpInProgress = false;                      // under mMidiOutLock
  std::vector<std::vector<unsigned char>> mMidiOutHeld;  // under mMidiOutLock
  std::atomic<bool> mMidiOutOpen{false};                  // as the last operation left the port
  // On JACK each direction's port object has a helper client of its own from its first use on, for the connection
  // watches and a recall's check, which also notices a server that goes away: the library's send would then wait for
  // buffer space for ever, so nothing more is sent once it is gone, and nothing of that server is used or closed again.
  std::shared_ptr<jackowner::HelperClient> mOutHelper;  // under mMidiOutOpLock
  std::shared_ptr<jackowner::HelperClient> mInHelper;   // under mMidiInLock
  // The JACK server each direction's port object belongs to (written with the object, read by any thread).
  std::atomic<long> mOutServer{-1};
  std::atomic<long> mInServer{-1};
  const int mMidiInstance;  // this instance's number in the process, in its JACK clients' names
  std::atomic<const char*> mMidiSystemProblem{nullptr};
  std::vector<std::string> mMidiOutNames;  // written holding both output locks, read holding either
  std::vector<std::string> mMidiInNames;   // under mMidiInLock
  // Copies of the lists (input, output) under a lock of their own, which no port operation holds while it waits for
  // the MIDI system: what a host call reads of them never waits.
  void publishListed(int out, const std::vector<std::string>& names);
  std::mutex mListedLock;
  std::vector<std::string> mListedNames[2];
  // The system's full names of this instance's own ports, input then output ("" where unknown), as the other
  // direction lists them: never offered there, as a port chosen so would feed the editor its own messages. Known
  // from the port objects' client names, so that another instance's port is never taken for ours.
  std::string ownPortName(int direction);
  void setOwnPortName(int direction, const std::string& name);
  std::mutex mOwnPortLock;
  std::string mOwnPortNames[2];  // under mOwnPortLock
  std::unique_ptr<HostCallRelay> mRelay;
  std::atomic<long> mServerEndsHeard{-1};  // the count of JACK server ends this instance's relay has heard of
};
