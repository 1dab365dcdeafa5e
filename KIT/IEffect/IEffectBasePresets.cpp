// Presets of the plug-in base and the generic readers and writers of parameter values.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "KIT/IEffect/IEffectBase.h"
#include "KIT/kitstring.h"

namespace {

constexpr int32_t kChunkMagic = 0x70666674;
constexpr int32_t kChunkVersion = 0x00010000;
const char* const kUserPresetName = "user preset";

double clampToBounds(const IParam* p, double v) {
  if (v < p->GetMin()) v = p->GetMin();
  if (v > p->GetMax()) v = p->GetMax();
  return v;
}

int decodeBase64Char(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int countUserPresets(KIT_PtrList<IPreset>* presets) {
  int k = 0;
  for (int i = 0; i < presets->GetSize(); ++i)
    if (std::strstr(presets->Get(i)->mName, kUserPresetName)) ++k;
  return k;
}

// Reads n doubles at pos into values, all or nothing: a chunk too short for every value, or one
// holding a value that is not a number, yields -1 and leaves values alone.
int readDoubles(const ByteChunk* chunk, int pos, int n, std::vector<double>& values) {
  if (pos < 0 || n < 0) return -1;
  long long need = static_cast<long long>(n) * static_cast<long long>(sizeof(double));
  if (need > static_cast<long long>(chunk->Size()) - pos) return -1;
  values.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    pos = chunk->Get(&values[static_cast<size_t>(i)], pos);
    if (pos < 0 || !std::isfinite(values[static_cast<size_t>(i)])) return -1;
  }
  return pos;
}

}  // namespace

IPreset* IEffectBase::GetNextUninitializedPreset(KIT_PtrList<IPreset>* presets) {
  if (!presets) return nullptr;
  for (int i = 0; i < presets->GetSize(); ++i) {
    IPreset* p = presets->Get(i);
    if (!p->mInitialized) return p;
  }
  return nullptr;
}

void IEffectBase::MakeDefaultPreset(const char* name, int nPresets) {
  for (int i = 0; i < nPresets; ++i) {
    IPreset* p = GetNextUninitializedPreset(&mPresets);
    if (!p) return;
    p->mInitialized = true;
    KIT_UTF8Copy(p->mName, sizeof p->mName, name ? name : "Empty");
    SerializeState(&p->mChunk);
  }
}

void IEffectBase::EnsureDefaultPreset() {
  MakeDefaultPreset("Empty", NPresets());
}

bool IEffectBase::MakePreset(const char* name, ...) {
  IPreset* p = GetNextUninitializedPreset(&mPresets);
  if (!p) return false;
  p->mInitialized = true;
  KIT_UTF8Copy(p->mName, sizeof p->mName, name);
  va_list args;
  va_start(args, name);
  int n = NHostParams();
  for (int i = 0; i < n; ++i) {
    IParam* param = mParams.Get(i);
    double v;
    switch (param->Type()) {
      case IParam::kTypeBool:
      case IParam::kTypeInt:
      case IParam::kTypeEnum:
        v = static_cast<double>(va_arg(args, int));
        break;
      default:
        v = va_arg(args, double);
        break;
    }
    p->mChunk.Put(&v);
  }
  va_end(args);
  return true;
}

bool IEffectBase::MakePresetFromNamedParams(const char* name, int nParamsNamed, ...) {
  IPreset* p = GetNextUninitializedPreset(&mPresets);
  if (!p) return false;
  p->mInitialized = true;
  KIT_UTF8Copy(p->mName, sizeof p->mName, name);
  int n = NHostParams();
  std::vector<double> values(static_cast<size_t>(n > 0 ? n : 0));
  for (int i = 0; i < n; ++i) values[static_cast<size_t>(i)] = mParams.Get(i)->Value();
  va_list args;
  va_start(args, nParamsNamed);
  for (int i = 0; i < nParamsNamed; ++i) {
    int idx = va_arg(args, int);
    IParam* param = mParams.Get(idx);
    // The argument's type follows the parameter's; an unknown index still consumes a double.
    double v;
    if (param &&
        (param->Type() == IParam::kTypeBool || param->Type() == IParam::kTypeInt || param->Type() == IParam::kTypeEnum))
      v = static_cast<double>(va_arg(args, int));
    else
      v = va_arg(args, double);
    if (idx >= 0 && idx < n) values[static_cast<size_t>(idx)] = v;
  }
  va_end(args);
  for (double v : values) p->mChunk.Put(&v);
  return true;
}

bool IEffectBase::MakePresetFromChunk(const char* name, ByteChunk* chunk) {
  IPreset* p = GetNextUninitializedPreset(&mPresets);
  if (!p || !chunk) return false;
  p->mInitialized = true;
  KIT_UTF8Copy(p->mName, sizeof p->mName, name);
  p->mChunk.PutBytes(chunk->GetBytes(), chunk->Size());
  return true;
}

bool IEffectBase::MakePresetFromBlob(const char* name, const char* base64, int size) {
  if (size < 0) return false;
  ByteChunk chunk;
  chunk.Resize(size);
  uint8_t* out = chunk.GetBytes();
  int written = 0;
  unsigned int bits = 0;
  int nBits = 0;
  for (const char* c = base64 ? base64 : ""; *c; ++c) {
    int v = decodeBase64Char(*c);
    if (v < 0) break;
    bits = (bits << 6) | static_cast<unsigned int>(v);
    nBits += 6;
    if (nBits >= 8) {
      nBits -= 8;
      if (written < size) out[written++] = static_cast<uint8_t>((bits >> nBits) & 0xFF);
    }
  }
  return MakePresetFromChunk(name, &chunk);
}

void IEffectBase::MakeDefaultUserPresetName(KIT_PtrList<IPreset>* presets, char* out) {
  if (!out) return;
  int k = presets ? countUserPresets(presets) : 0;
  std::sprintf(out, "%s %d", kUserPresetName, k + 1);
}

void IEffectBase::PruneUninitializedPresets() {
  for (int i = mPresets.GetSize() - 1; i >= 0; --i) {
    IPreset* p = mPresets.Get(i);
    if (!p->mInitialized) {
      mPresets.Delete(i);
      delete p;
    }
  }
  if (mCurrentPresetIdx >= mPresets.GetSize()) mCurrentPresetIdx = 0;
}

bool IEffectBase::RestorePreset(int idx) {
  if (idx < 0 || idx >= NPresets()) return false;
  IPreset* p = mPresets.Get(idx);
  if (p->mInitialized) {
    if (UnserializeState(&p->mChunk, 0) <= 0) return false;
  } else {
    p->mInitialized = true;
    std::snprintf(p->mName, sizeof p->mName, "%s %d", kUserPresetName, countUserPresets(&mPresets) + 1);
    if (!SerializeState(&p->mChunk)) return false;
  }
  mCurrentPresetIdx = idx;
  PresetsChangedByHost();
  RedrawParamControls();
  return true;
}

bool IEffectBase::RestorePreset(const char* name) {
  if (!name || !*name) return false;
  for (int i = 0; i < NPresets(); ++i)
    if (std::strcmp(mPresets.Get(i)->mName, name) == 0) return RestorePreset(i);
  return false;
}

const char* IEffectBase::GetPresetName(int idx) {
  IPreset* p = mPresets.Get(idx);
  return p ? p->mName : "";
}

void IEffectBase::ModifyCurrentPreset(const char* name) {
  IPreset* p = mPresets.Get(mCurrentPresetIdx);
  if (!p) return;
  p->mChunk.Clear();
  SerializeState(&p->mChunk);
  if (name && *name) KIT_UTF8Copy(p->mName, sizeof p->mName, name);
}

bool IEffectBase::SerializePresets(ByteChunk* chunk) {
  if (!chunk) return false;
  for (int i = 0; i < NPresets(); ++i) {
    IPreset* p = mPresets.Get(i);
    int32_t len = static_cast<int32_t>(std::strlen(p->mName));
    chunk->Put(&len);
    chunk->PutBytes(p->mName, len);
    uint8_t init = p->mInitialized ? 1 : 0;
    chunk->Put(&init);
    if (p->mInitialized) chunk->PutBytes(p->mChunk.GetBytes(), p->mChunk.Size());
    if (chunk->Size() == 0) return false;
  }
  return true;
}

int IEffectBase::UnserializePresets(ByteChunk* chunk, int startPos) {
  if (!chunk) return -1;
  int pos = startPos;
  for (int i = 0; i < NPresets() && pos >= 0; ++i) {
    IPreset* p = mPresets.Get(i);
    int32_t len = 0;
    int flagPos = chunk->Get(&len, pos);
    // A name length that is negative or runs past the chunk means the list is damaged: stop
    // before anything of this preset is taken.
    if (flagPos < 0 || len < 0 || len > chunk->Size() - flagPos - 1) {
      pos = -1;
      break;
    }
    std::vector<char> name(static_cast<size_t>(len) + 1, '\0');
    chunk->GetBytes(name.data(), len, flagPos);
    flagPos += len;
    KIT_UTF8Copy(p->mName, sizeof p->mName, name.data());
    uint8_t init = 0;
    pos = chunk->Get(&init, flagPos);
    p->mInitialized = init != 0;
    if (p->mInitialized && pos >= 0) {
      pos = UnserializeState(chunk, pos);
      if (pos > 0) {
        p->mChunk.Clear();
        SerializeState(&p->mChunk);
      }
    }
  }
  // A damaged list is not followed by a restore, which would rename and overwrite a preset.
  if (pos >= 0) RestorePreset(mCurrentPresetIdx);
  return pos;
}

bool IEffectBase::SerializeParams(ByteChunk* chunk) {
  KIT_MutexLock lock(mMutex);
  int n = NHostParams();
  if (n <= 0) return true;
  if (!chunk) return false;
  for (int i = 0; i < n; ++i) {
    double v = mParams.Get(i)->Value();
    chunk->Put(&v);
  }
  return chunk->Size() > 0;
}

int IEffectBase::UnserializeParams(ByteChunk* chunk, int startPos) {
  KIT_MutexLock lock(mMutex);
  if (startPos < 0 || !chunk) return startPos < 0 ? startPos : -1;
  int n = NHostParams();
  if (n <= 0) return startPos;
  std::vector<double> values;
  int pos = readDoubles(chunk, startPos, n, values);
  if (pos < 0) return -1;
  for (int i = 0; i < n; ++i) {
    IParam* p = mParams.Get(i);
    p->Set(clampToBounds(p, values[static_cast<size_t>(i)]));
  }
  return pos;
}

bool IEffectBase::SerializeNonAutomatedParams(ByteChunk* chunk, int n) {
  KIT_MutexLock lock(mMutex);
  if (!chunk) return false;
  int first = NParams() - mNonAutomatedParams;
  for (int i = 0; i < n; ++i) {
    IParam* p = mParams.Get(first + i);
    double v = p ? p->Value() : 0.0;
    chunk->Put(&v);
  }
  return true;
}

int IEffectBase::UnserializeNonAutomatedParams(ByteChunk* chunk, int startPos, int n) {
  KIT_MutexLock lock(mMutex);
  if (startPos < 0 || n < 1) return startPos;
  if (!chunk) return -1;
  std::vector<double> values;
  int pos = readDoubles(chunk, startPos, n, values);
  if (pos < 0) return -1;
  int first = NParams() - mNonAutomatedParams;
  for (int i = 0; i < n; ++i) {
    IParam* p = mParams.Get(first + i);
    if (p) p->Set(clampToBounds(p, values[static_cast<size_t>(i)]));
  }
  return pos;
}

void IEffectBase::InitChunkWithIEffectVer(ByteChunk* chunk) {
  if (!chunk) return;
  chunk->Clear();
  int32_t magic = kChunkMagic, ver = kChunkVersion;
  chunk->Put(&magic);
  chunk->Put(&ver);
}

int IEffectBase::GetIEffectVerFromChunk(ByteChunk* chunk, int* position) {
  if (!chunk || !position) return 0;
  int32_t magic = 0, ver = 0;
  int pos = chunk->Get(&magic, *position);
  if (pos < 0 || magic != kChunkMagic) return 0;
  pos = chunk->Get(&ver, pos);
  if (pos < 0) {
    *position = -1;
    return 0;
  }
  *position = pos;
  return ver;
}
