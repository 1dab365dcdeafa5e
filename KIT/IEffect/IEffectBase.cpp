#include "KIT/IEffect/IEffectBase.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/JackOwner.h"
#include "KIT/IEffect/Log.h"
#include "KIT/kitstring.h"

namespace {

// The default audio processing of either sample type: each output carries its input, or silence where there is
// none.
template <class Sample>
void passThrough(Sample** inputs, Sample** outputs, int nIn, int nOut, int nFrames) {
  for (int i = 0; i < nOut; ++i) {
    if (!outputs || !outputs[i]) continue;
    if (i < nIn && inputs && inputs[i]) {
      if (inputs[i] != outputs[i]) std::memmove(outputs[i], inputs[i], sizeof(Sample) * static_cast<size_t>(nFrames));
    } else {
      std::memset(outputs[i], 0, sizeof(Sample) * static_cast<size_t>(nFrames));
    }
  }
}

// A NaN on either side counts as a change.
bool valueChanged(double before, double after) {
  return !(before == after);
}

int nextMidiInstance() {
  static std::atomic<int> count{0};
  return ++count;
}

}  // namespace

IEffectBase::IEffectBase(int /*nParams*/, const char* /*channelIOStr*/, int /*nPresets*/, const char* /*effectName*/,
                         const char* /*productName*/, const char* /*mfrName*/, int vendorVersion, int uniqueID,
                         int mfrID, int latency, bool /*plugDoesMidi*/, bool plugDoesChunks, bool plugIsInst,
                         EAPI plugAPI)
    : mUniqueID(uniqueID),
      mMfrID(mfrID),
      mVersion(vendorVersion),
      mAPI(plugAPI),
      mHost(kHostUninit),
      mDoesChunks(plugDoesChunks),
      mIsInst(plugIsInst),
      mCurrentPresetIdx(0),
      mSampleRate(44100.0),
      mLatency(latency),
      mMidiInstance(nextMidiInstance()) {
  // Its thread starts once the plug-in is whole (StartRelay).
  mRelay = std::make_unique<HostCallRelay>([this](const HostCallRelay::Item& item) { handleRelayedItem(item); },
                                           [this] { RunDeferredWork(); }, [this] { relayTick(); });
  jackowner::newServerEnd(&mServerEndsHeard);
}

void IEffectBase::StartRelay() {
  mRelay->start();
  jackowner::hearServerEnds(mRelay.get(), &mServerEndsHeard, true);
}

void IEffectBase::relayTick() {
  // A JACK server's end whose wake-up was lost (libjack's thread that counted it was cancelled) is heard here.
  if (jackowner::newServerEnd(&mServerEndsHeard)) mRelay->requestDeferredWork();
  tellUnidledChange();
}

void IEffectBase::handleRelayedItem(const HostCallRelay::Item& item) {
  KIT_MutexLock lock(mMutex);
  if (item.kind == HostCallRelay::Item::kMidi) {
    IMidiMsg msg(item.index, item.data[0], item.data[1], item.data[2]);
    ProcessMidiMsg(&msg, false);
    return;
  }
  if (item.index < 0 || item.index >= NParams()) return;
  if (mGraphics) mGraphics->SetParameterFromPlug(item.index, item.value, true);
  OnParamChange(item.index);
}

IEffectBase::~IEffectBase() {
  jackowner::hearServerEnds(mRelay.get(), &mServerEndsHeard, false);
  mRelay->stop();
  // The surface goes first: its controls point at the parameters deleted below. The MIDI ports
  // close after it, as the editor object has already stopped their callbacks from reaching it.
  IGraphics* graphics = mGraphics;
  mGraphics = nullptr;
  delete graphics;
  mParams.Empty(true);
  for (int i = mPresets.GetSize() - 1; i >= 0; --i) delete mPresets.Get(i);
  mPresets.Empty(false);
  for (InChannel* c : mInChannels) delete c;
  for (OutChannel* c : mOutChannels) delete c;
  closeExternalMIDIPorts();
  setMIDIPortsStopped();
}

void IEffectBase::initialize(int hostParams, int nParams, const char* channelIOStr, int nPresets,
                             const char* effectName, const char* productName, const char* mfrName, int vendorVersion,
                             int uniqueID, int mfrID, int latency, bool plugDoesMidi, bool plugDoesChunks,
                             bool plugIsInst) {
  mNonAutomatedParams = nParams - hostParams;
  mUniqueID = uniqueID;
  mMfrID = mfrID;
  mVersion = vendorVersion;
  mLatency = latency;
  mDoesMIDI = plugDoesMidi;
  mDoesChunks = plugDoesChunks;
  mIsInst = plugIsInst;

  for (int i = 0; i < nParams; ++i) mParams.Add(new IParam())->SetChangeHint(&mProjectHint);
  for (int i = 0; i < nPresets; ++i) mPresets.Add(new IPreset());

  KIT_UTF8Copy(mEffectName, sizeof mEffectName, effectName);
  KIT_UTF8Copy(mProductName, sizeof mProductName, productName);
  KIT_UTF8Copy(mMfrName, sizeof mMfrName, mfrName);

  // "2-2" or "1-1 2-2": pairs of input and output counts separated by single blanks.
  int nIn = 0, nOut = 0;
  const char* p = channelIOStr ? channelIOStr : "";
  while (*p) {
    int in = 0, out = 0, used = 0;
    if (std::sscanf(p, "%d-%d%n", &in, &out, &used) != 2) break;
    mChannelIO.push_back(ChannelIO{in, out});
    if (in > nIn) nIn = in;
    if (out > nOut) nOut = out;
    p += used;
    while (*p == ' ') ++p;
  }

  mInData.assign(static_cast<size_t>(nIn), nullptr);
  mOutData.assign(static_cast<size_t>(nOut), nullptr);
  for (int i = 0; i < nIn; ++i) {
    InChannel* c = new InChannel();
    c->mSrc = &mInData[static_cast<size_t>(i)];
    mInChannels.push_back(c);
  }
  for (int i = 0; i < nOut; ++i) {
    OutChannel* c = new OutChannel();
    c->mDest = &mOutData[static_cast<size_t>(i)];
    mOutChannels.push_back(c);
  }
  mInBusLabels.assign(2, "");
  mOutBusLabels.assign(2, "");
}

// ---------------------------------------------------------------------------------------------
// Hooks

void IEffectBase::Reset() {
  KIT_MutexLock lock(mMutex);
}

void IEffectBase::OnParamChange(int) {
  KIT_MutexLock lock(mMutex);
}

void IEffectBase::OnParamChange2(int) {
  KIT_MutexLock lock(mMutex);
}

void IEffectBase::OnActivate(bool) {
  KIT_MutexLock lock(mMutex);
}

void IEffectBase::ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames) {
  passThrough(inputs, outputs, NInChannels(), NOutChannels(), nFrames);
}

void IEffectBase::ProcessSingleReplacing(float** inputs, float** outputs, int nFrames) {
  passThrough(inputs, outputs, NInChannels(), NOutChannels(), nFrames);
}

bool IEffectBase::MidiNoteName(int, char* name) {
  if (name) *name = '\0';
  return false;
}

bool IEffectBase::CompareState(const unsigned char* incomingState, int startPos) {
  int n = NHostParams();
  if (n <= 0) return true;
  if (!incomingState) return false;
  const unsigned char* base = incomingState + static_cast<size_t>(startPos) * sizeof(double);
  for (int i = 0; i < n; ++i) {
    double stored;
    std::memcpy(&stored, base + static_cast<size_t>(i) * sizeof(double), sizeof stored);
    float a = static_cast<float>(mParams.Get(i)->Value());
    float b = static_cast<float>(stored);
    if (!(std::fabs(a - b) < 0.00001f)) return false;
  }
  return true;
}

bool IEffectBase::TakeUnreportedChange() {
  if (!mProjectHint.exchange(false, std::memory_order_acq_rel)) return false;
  // Under the mutex, a change made under it (a program dump taken in) is compared whole, never half made.
  KIT_MutexLock lock(mMutex);
  std::string now = ProjectDigest();
  if (now == mHeldDigest) return false;
  mHeldDigest = std::move(now);
  return true;
}

void IEffectBase::TellUnreportedChange() {
  std::unique_lock<std::mutex> telling(mTellLock, std::try_to_lock);
  if (!telling.owns_lock() || mTellsEnded) return;
  if (TakeUnreportedChange()) InformHostOfProgramChange();
}

void IEffectBase::tellUnidledChange() {
  if (!mUnidledTells.load() || !mProjectHint.load(std::memory_order_acquire)) return;
  const std::chrono::steady_clock::duration sinceIdle{std::chrono::steady_clock::now().time_since_epoch().count() -
                                                      mLastIdle.load()};
  if (sinceIdle < kIdleCover) return;
  TellUnreportedChange();
}

void IEffectBase::EndTells() {
  std::lock_guard<std::mutex> telling(mTellLock);
  mTellsEnded = true;
}

bool IEffectBase::SerializeProject(ByteChunk* chunk, std::string* digest) {
  KIT_MutexLock lock(mMutex);
  if (!SerializeState(chunk)) return false;
  *digest = ProjectDigest();
  return true;
}

std::string IEffectBase::ProjectDigest() {
  std::string values;
  for (int i = 0; i < NParams(); ++i) {
    const double v = mParams.Get(i)->Value();
    values.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  return values;
}

void IEffectBase::ProjectHeld(const std::string& digest) {
  KIT_MutexLock lock(mMutex);
  mHeldDigest = digest;
}

void IEffectBase::SetParameterFromGUI(int idx, double normalizedValue) {
  KIT_MutexLock lock(mMutex);
  IParam* p = mParams.Get(idx);
  if (!p) return;  // callers pass indices within the list; a stray one changes nothing
  double before = p->Value();
  p->SetNormalized(normalizedValue);
  InformHostOfParamChange(idx, normalizedValue);
  if (!valueChanged(before, p->Value()) && p->Type() != IParam::kTypeText) return;
  OnParamChange(idx);
}

void IEffectBase::SetParameterFromGUI2(int idx, double normalizedValue) {
  KIT_MutexLock lock(mMutex);
  IParam* p = mParams.Get(idx);
  if (!p) return;
  double before = p->Value();
  p->SetNormalized(normalizedValue);
  InformHostOfParamChange(idx, normalizedValue);
  if (!valueChanged(before, p->Value()) && p->Type() != IParam::kTypeText) return;
  OnParamChange2(idx);
}

// Every parameter, hidden ones included: the editor shows all of them. The plain value goes
// through the surface, which stores it back rounded to the step.
void IEffectBase::RedrawParamControls() {
  if (!mGraphics) return;
  for (int i = 0; i < NParams(); ++i) mGraphics->SetParameterFromPlug(i, mParams.Get(i)->Value(), false);
}

void IEffectBase::AttachGraphics(IGraphics* graphics) {
  if (!graphics) return;
  KIT_MutexLock lock(mMutex);
  // Controls attached before the surface was handed over start from the current values.
  for (int i = 0; i < NParams(); ++i) graphics->SetParameterFromPlug(i, mParams.Get(i)->GetNormalized(), true);
  // Controls may draw from now on, so the surface's bitmaps must exist.
  graphics->PrepDraw();
  // The plug-in owns its surface: one handed over in place of another replaces it for good.
  if (mGraphics && mGraphics != graphics) delete mGraphics;
  mGraphics = graphics;
}

void IEffectBase::SetBlockSize(int blockSize) {
  if (blockSize == mBlockSize) return;
  if (blockSize < 0) blockSize = 0;
  if (blockSize > kMaxBlockSize) {
    std::fprintf(stderr, "Vexmir: block size %d refused (at most %d frames), keeping %d\n", blockSize, kMaxBlockSize,
                 mBlockSize);
    return;
  }
  for (InChannel* c : mInChannels) {
    c->mScratchBuf.Resize(blockSize, true);
    if (blockSize > 0 && c->mScratchBuf.Get()) std::memset(c->mScratchBuf.Get(), 0, sizeof(double) * blockSize);
  }
  for (OutChannel* c : mOutChannels) {
    c->mScratchBuf.Resize(blockSize, true);
    if (blockSize > 0 && c->mScratchBuf.Get()) std::memset(c->mScratchBuf.Get(), 0, sizeof(double) * blockSize);
  }
  // Unconnected channels read and write their scratch buffers, which may just have moved.
  for (InChannel* c : mInChannels)
    if (!c->mConnected) *c->mSrc = c->mScratchBuf.Get();
  for (OutChannel* c : mOutChannels)
    if (!c->mConnected) *c->mDest = c->mScratchBuf.Get();
  mBlockSize = blockSize;
}

// ---------------------------------------------------------------------------------------------
// Parameters, identity and host

void IEffectBase::OnParamReset() {
  int n = NHostParams();
  for (int i = 0; i < n; ++i) OnParamChange(i);
  Reset();
}

void IEffectBase::DirtyParameters() {
  KIT_MutexLock lock(mMutex);
  int n = NHostParams();
  for (int i = 0; i < n; ++i) InformHostOfParamChange(i, mParams.Get(i)->GetNormalized());
}

int IEffectBase::GetHostVersion(bool decimal) {
  GetHost();
  return decimal ? GetDecimalVersion(mHostVersion) : mHostVersion;
}

void IEffectBase::GetHostVersionStr(char* out) {
  GetHost();
  GetVersionStr(mHostVersion, out);
}

int IEffectBase::GetEffectVersion(bool decimal) const {
  return decimal ? GetDecimalVersion(mVersion) : mVersion;
}

void IEffectBase::GetEffectVersionStr(char* out) const {
  GetVersionStr(mVersion, out);
}

const char* IEffectBase::GetAPIString() const {
  switch (mAPI) {
    case kAPIVST2:
      return "VST2";
    case kAPIVST3:
      return "VST3";
    case kAPIAU:
      return "AU";
    case kAPIRTAS:
      return "RTAS";
    case kAPIAAX:
      return "AAX";
    case kAPISA:
      return "Standalone";
  }
  return "";
}

void IEffectBase::SetHost(const char* productString, int version) {
  mHost = LookUpHost(productString);
  mHostVersion = version;
}

double IEffectBase::GetSamplesPerBeat() {
  double tempo = GetTempo();
  return tempo > 0.0 ? mSampleRate * 60.0 / tempo : 0.0;
}

// ---------------------------------------------------------------------------------------------
// Audio channels

bool IEffectBase::LegalIO(int nIn, int nOut) const {
  for (const ChannelIO& io : mChannelIO)
    if ((nIn < 0 || nIn == io.mIn) && (nOut < 0 || nOut == io.mOut)) return true;
  return false;
}

void IEffectBase::LimitToStereoIO() {
  int nIn = NInChannels(), nOut = NOutChannels();
  if (nIn > 2) SetInputChannelConnections(2, nIn - 2, false);
  if (nOut > 2) SetOutputChannelConnections(2, nOut - 2, true);
}

void IEffectBase::SetInputChannelConnections(int idx, int n, bool connected) {
  int end = idx + n < NInChannels() ? idx + n : NInChannels();
  for (int i = idx < 0 ? 0 : idx; i < end; ++i) {
    InChannel* c = mInChannels[static_cast<size_t>(i)];
    c->mConnected = connected;
    if (!connected) {
      // The scratch buffer may still hold converted host samples; an unconnected input is silent.
      if (c->mScratchBuf.Get()) std::memset(c->mScratchBuf.Get(), 0, sizeof(double) * c->mScratchBuf.GetSize());
      *c->mSrc = c->mScratchBuf.Get();
    }
  }
}

void IEffectBase::SetOutputChannelConnections(int idx, int n, bool connected) {
  int end = idx + n < NOutChannels() ? idx + n : NOutChannels();
  for (int i = idx < 0 ? 0 : idx; i < end; ++i) {
    OutChannel* c = mOutChannels[static_cast<size_t>(i)];
    c->mConnected = connected;
    if (!connected) *c->mDest = c->mScratchBuf.Get();
  }
}

bool IEffectBase::IsInChannelConnected(int chIdx) const {
  return chIdx >= 0 && chIdx < NInChannels() && mInChannels[static_cast<size_t>(chIdx)]->mConnected;
}

bool IEffectBase::IsOutChannelConnected(int chIdx) const {
  return chIdx >= 0 && chIdx < NOutChannels() && mOutChannels[static_cast<size_t>(chIdx)]->mConnected;
}

void IEffectBase::AttachInputBuffers(int idx, int n, double** ppData, int) {
  int end = idx + n < NInChannels() ? idx + n : NInChannels();
  for (int i = idx < 0 ? 0 : idx; i < end; ++i) {
    InChannel* c = mInChannels[static_cast<size_t>(i)];
    if (c->mConnected) *c->mSrc = ppData ? *ppData++ : c->mScratchBuf.Get();
  }
}

void IEffectBase::AttachInputBuffers(int idx, int n, float** ppData, int nFrames) {
  int end = idx + n < NInChannels() ? idx + n : NInChannels();
  for (int i = idx < 0 ? 0 : idx; i < end; ++i) {
    InChannel* c = mInChannels[static_cast<size_t>(i)];
    if (!c->mConnected) continue;
    double* scratch = c->mScratchBuf.Get();
    const float* src = ppData ? *ppData++ : nullptr;
    int frames = nFrames < c->mScratchBuf.GetSize() ? nFrames : c->mScratchBuf.GetSize();
    if (src && scratch)
      for (int s = 0; s < frames; ++s) scratch[s] = src[s];
    *c->mSrc = scratch;
  }
}

void IEffectBase::AttachOutputBuffers(int idx, int n, double** ppData) {
  int end = idx + n < NOutChannels() ? idx + n : NOutChannels();
  for (int i = idx < 0 ? 0 : idx; i < end; ++i) {
    OutChannel* c = mOutChannels[static_cast<size_t>(i)];
    if (c->mConnected) *c->mDest = ppData ? *ppData++ : c->mScratchBuf.Get();
  }
}

void IEffectBase::AttachOutputBuffers(int idx, int n, float** ppData) {
  int end = idx + n < NOutChannels() ? idx + n : NOutChannels();
  for (int i = idx < 0 ? 0 : idx; i < end; ++i) {
    OutChannel* c = mOutChannels[static_cast<size_t>(i)];
    if (!c->mConnected) continue;
    c->mFDest = ppData ? *ppData++ : nullptr;
    *c->mDest = c->mScratchBuf.Get();
  }
}

void IEffectBase::ProcessBuffers(double, int nFrames) {
  ProcessDoubleReplacing(mInData.data(), mOutData.data(), nFrames);
}

void IEffectBase::ProcessBuffers(float, int nFrames) {
  ProcessDoubleReplacing(mInData.data(), mOutData.data(), nFrames);
  for (OutChannel* c : mOutChannels) {
    if (!c->mConnected || !c->mFDest || !*c->mDest) continue;
    const double* src = *c->mDest;
    for (int s = 0; s < nFrames; ++s) c->mFDest[s] = static_cast<float>(src[s]);
  }
}

void IEffectBase::ProcessBuffersAccumulating(float, int nFrames) {
  ProcessDoubleReplacing(mInData.data(), mOutData.data(), nFrames);
  for (OutChannel* c : mOutChannels) {
    if (!c->mConnected || !c->mFDest || !*c->mDest) continue;
    const double* src = *c->mDest;
    for (int s = 0; s < nFrames; ++s) c->mFDest[s] += static_cast<float>(src[s]);
  }
}

void IEffectBase::PassThroughBuffers(double, int nFrames) {
  IEffectBase::ProcessDoubleReplacing(mInData.data(), mOutData.data(), nFrames);
}

void IEffectBase::PassThroughBuffers(float, int nFrames) {
  IEffectBase::ProcessDoubleReplacing(mInData.data(), mOutData.data(), nFrames);
  for (OutChannel* c : mOutChannels) {
    if (!c->mConnected || !c->mFDest || !*c->mDest) continue;
    const double* src = *c->mDest;
    for (int s = 0; s < nFrames; ++s) c->mFDest[s] = static_cast<float>(src[s]);
  }
}

void IEffectBase::ZeroScratchBuffers() {
  for (InChannel* c : mInChannels)
    if (c->mScratchBuf.Get()) std::memset(c->mScratchBuf.Get(), 0, sizeof(double) * c->mScratchBuf.GetSize());
  for (OutChannel* c : mOutChannels)
    if (c->mScratchBuf.Get()) std::memset(c->mScratchBuf.Get(), 0, sizeof(double) * c->mScratchBuf.GetSize());
}

void IEffectBase::SetInputLabel(int idx, const char* label) {
  if (idx >= 0 && idx < NInChannels()) mInChannels[static_cast<size_t>(idx)]->mLabel = label ? label : "";
}

void IEffectBase::SetOutputLabel(int idx, const char* label) {
  if (idx >= 0 && idx < NOutChannels()) mOutChannels[static_cast<size_t>(idx)]->mLabel = label ? label : "";
}

void IEffectBase::SetInputBusLabel(int idx, const char* label) {
  if (idx == 0 || idx == 1) mInBusLabels[static_cast<size_t>(idx)] = label ? label : "";
}

void IEffectBase::SetOutputBusLabel(int idx, const char* label) {
  if (idx == 0 || idx == 1) mOutBusLabels[static_cast<size_t>(idx)] = label ? label : "";
}

bool IEffectBase::SendMidiMsgs(KIT_TypedBuf<IMidiMsg>* msgs) {
  bool ok = true;
  if (!msgs) return ok;
  int n = msgs->GetSize();
  IMidiMsg* list = msgs->Get();
  for (int i = 0; i < n; ++i) ok &= SendMidiMsg(&list[i]);
  return ok;
}
