// VST 2 program and bank files. Both are big-endian records opened by "CcnK": a program file
// holds one program (its parameters as floats, or the plug-in's opaque chunk), a bank file all
// presets (one program record per preset, or one opaque chunk). The chunk forms carry the same
// bytes the host gets from the program and bank chunk requests.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "KIT/IEffect/IEffectBase.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/kitstring.h"

namespace {

constexpr uint32_t fourCC(const char (&c)[5]) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(c[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c[2])) << 8) | static_cast<uint32_t>(static_cast<uint8_t>(c[3]));
}

constexpr uint32_t kChunkMagic = fourCC("CcnK");
constexpr uint32_t kProgramParamsMagic = fourCC("FxCk");
constexpr uint32_t kProgramChunkMagic = fourCC("FPCh");
constexpr uint32_t kBankParamsMagic = fourCC("FxBk");
constexpr uint32_t kBankChunkMagic = fourCC("FBCh");
constexpr int kProgramNameSize = 28;
constexpr int kBankHeaderSize = 7 * 4 + 128;                  // up to the programs or the chunk size
constexpr int kBankVersion = 2;                               // the current program sits in the reserved block
// A preset file is small; anything far larger is not one, and is not read into memory.
constexpr std::streamoff kMaxFileSize = 64 << 20;

void putU32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void putFloat(std::vector<uint8_t>& out, float f) {
  uint32_t v;
  std::memcpy(&v, &f, sizeof v);
  putU32(out, v);
}

void putName(std::vector<uint8_t>& out, const char* name) {
  char field[kProgramNameSize] = {};
  KIT_UTF8Copy(field, sizeof field, name);
  out.insert(out.end(), field, field + kProgramNameSize);
}

// The record size after "CcnK" and the size word itself.
void patchByteSize(std::vector<uint8_t>& out, size_t start) {
  const uint32_t size = static_cast<uint32_t>(out.size() - start - 8);
  for (int i = 0; i < 4; ++i) out[start + 4 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
}

// Bounds-checked big-endian reads over a file image; every read past the end fails.
class Reader {
 public:
  Reader(const std::vector<uint8_t>& data, size_t pos, size_t end) : mData(data), mPos(pos), mEnd(end) {}
  bool u32(uint32_t* v) {
    if (mEnd - mPos < 4) return false;
    const uint8_t* p = mData.data() + mPos;
    *v = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
    mPos += 4;
    return true;
  }
  bool i32(int32_t* v) {
    uint32_t u;
    if (!u32(&u)) return false;
    std::memcpy(v, &u, sizeof u);
    return true;
  }
  bool f32(float* f) {
    uint32_t u;
    if (!u32(&u)) return false;
    std::memcpy(f, &u, sizeof u);
    return true;
  }
  bool bytes(size_t n, const uint8_t** p) {
    if (mEnd - mPos < n) return false;
    *p = mData.data() + mPos;
    mPos += n;
    return true;
  }
  void seek(size_t pos) { mPos = pos < mEnd ? pos : mEnd; }
  size_t pos() const { return mPos; }
  size_t left() const { return mEnd - mPos; }

 private:
  const std::vector<uint8_t>& mData;
  size_t mPos, mEnd;
};

// "CcnK" and a byte count that fits the data: the end of the record, or 0 when either is wrong.
size_t recordEnd(Reader& r) {
  uint32_t magic, byteSize;
  if (!r.u32(&magic) || magic != kChunkMagic || !r.u32(&byteSize) || byteSize > r.left()) return 0;
  return r.pos() + byteSize;
}

std::string nameField(const uint8_t* p) {
  return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), kProgramNameSize));
}

// The fixed fields that open a program or a bank record, after "CcnK" and the byte count.
struct RecordHeader {
  uint32_t fxMagic = 0;
  int32_t version = 0, fxID = 0, fxVersion = 0, count = 0;
};

bool readHeader(Reader& r, RecordHeader* h) {
  return r.u32(&h->fxMagic) && r.i32(&h->version) && r.i32(&h->fxID) && r.i32(&h->fxVersion) && r.i32(&h->count);
}

size_t putHeader(std::vector<uint8_t>& out, uint32_t fxMagic, int version, int fxID, int fxVersion, int count) {
  const size_t start = out.size();
  putU32(out, kChunkMagic);
  putU32(out, 0);  // byte count, patched when the record is complete
  putU32(out, fxMagic);
  putU32(out, static_cast<uint32_t>(version));
  putU32(out, static_cast<uint32_t>(fxID));
  putU32(out, static_cast<uint32_t>(fxVersion));
  putU32(out, static_cast<uint32_t>(count));
  return start;
}

// The opaque chunk that ends a chunk-form record: its size word and its bytes.
bool readChunk(Reader& r, ByteChunk* chunk) {
  int32_t size;
  const uint8_t* bytes;
  if (!r.i32(&size) || size < 0 || !r.bytes(static_cast<size_t>(size), &bytes)) return false;
  chunk->Clear();
  return chunk->PutBytes(bytes, size) == size;
}

void putChunk(std::vector<uint8_t>& out, const ByteChunk& chunk) {
  putU32(out, static_cast<uint32_t>(chunk.Size()));
  if (chunk.Size() > 0) out.insert(out.end(), chunk.GetBytes(), chunk.GetBytes() + chunk.Size());
}

// A value the parameters can take: finite and within 0..1 once clamped.
bool usableNormalized(float f) {
  return f == f && f >= -1e30f && f <= 1e30f;
}

double clampNormalized(float f) {
  return f < 0.0f ? 0.0 : f > 1.0f ? 1.0 : static_cast<double>(f);
}

// One program in parameter form, checked against the plug-in: its name and nParams values.
struct ParamsProgram {
  std::string name;
  std::vector<float> values;
};

bool readParamsProgram(const std::vector<uint8_t>& data, Reader& outer, int uniqueID, int nParams, ParamsProgram* out) {
  const size_t end = recordEnd(outer);
  if (!end) return false;
  Reader r(data, outer.pos(), end);
  outer.seek(end);
  RecordHeader h;
  const uint8_t* name;
  if (!readHeader(r, &h) || h.fxMagic != kProgramParamsMagic || h.fxID != uniqueID || h.count != nParams ||
      !r.bytes(kProgramNameSize, &name))
    return false;
  out->name = nameField(name);
  out->values.resize(static_cast<size_t>(nParams));
  for (float& f : out->values)
    if (!r.f32(&f) || !usableNormalized(f)) return false;
  return true;
}

std::string base64(const uint8_t* data, int size) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (int i = 0; i < size; i += 3) {
    const int n = size - i < 3 ? size - i : 3;
    uint32_t bits = static_cast<uint32_t>(data[i]) << 16;
    if (n > 1) bits |= static_cast<uint32_t>(data[i + 1]) << 8;
    if (n > 2) bits |= data[i + 2];
    out += kAlphabet[(bits >> 18) & 63];
    out += kAlphabet[(bits >> 12) & 63];
    out += n > 1 ? kAlphabet[(bits >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[bits & 63] : '=';
  }
  return out;
}

// A name as a C string literal.
std::string quoted(const char* text) {
  std::string out = "\"";
  for (const char* c = text ? text : ""; *c; ++c) {
    if (*c == '"' || *c == '\\') out += '\\';
    out += *c;
  }
  return out + "\"";
}

bool writeText(const char* path, const std::string& text) {
  if (!path || !*path) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << text;
  out.close();
  return !out.fail();
}

bool readFile(const std::string& path, std::vector<uint8_t>* data) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxFileSize) return false;
  in.seekg(0);
  data->resize(static_cast<size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(data->data()), size)) return false;
  return true;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  out.close();
  return !out.fail();
}

}  // namespace

struct IEffectBase::StateSnapshot {
  struct Preset {
    bool initialized;
    std::string name;
    std::vector<uint8_t> state;
  };
  std::vector<double> values;
  std::vector<Preset> presets;
  int currentPreset = 0;
};

void IEffectBase::takeSnapshot(StateSnapshot* snapshot) {
  for (int i = 0; i < NParams(); ++i) snapshot->values.push_back(mParams.Get(i)->Value());
  for (int i = 0; i < NPresets(); ++i) {
    const IPreset* p = mPresets.Get(i);
    const uint8_t* bytes = p->mChunk.GetBytes();
    snapshot->presets.push_back(
        {p->mInitialized, p->mName, std::vector<uint8_t>(bytes, bytes ? bytes + p->mChunk.Size() : bytes)});
  }
  snapshot->currentPreset = mCurrentPresetIdx;
}

void IEffectBase::restoreSnapshot(const StateSnapshot& snapshot) {
  for (int i = 0; i < NParams() && i < static_cast<int>(snapshot.values.size()); ++i)
    mParams.Get(i)->Set(snapshot.values[i]);
  for (int i = 0; i < NPresets() && i < static_cast<int>(snapshot.presets.size()); ++i) {
    IPreset* p = mPresets.Get(i);
    const StateSnapshot::Preset& s = snapshot.presets[i];
    p->mInitialized = s.initialized;
    KIT_UTF8Copy(p->mName, sizeof p->mName, s.name.c_str());
    p->mChunk.Clear();
    if (!s.state.empty()) p->mChunk.PutBytes(s.state.data(), static_cast<int>(s.state.size()));
  }
  mCurrentPresetIdx = snapshot.currentPreset;
  // A partly read file may have moved controls already.
  RedrawParamControls();
}

// The file prompt is modal, so it runs without the plug-in mutex: the audio thread keeps going.
std::string IEffectBase::promptForPresetFile(const char* proposedName, bool save, const char* extension) {
  IGraphics* graphics = mGraphics;
  if (!graphics) return std::string();
  KIT_String file(proposedName ? proposedName : "");
  KIT_String dir(mPresetFolder.c_str());
  char extensions[16];
  std::snprintf(extensions, sizeof extensions, "%s", extension);
  graphics->PromptForFile(&file, save ? kFileSave : kFileOpen, &dir, extensions);
  mPresetFolder = dir.Get();
  return file.Get();
}

bool IEffectBase::SaveProgramAsFXP(const char* file) {
  const std::string path = promptForPresetFile(file, true, "fxp");
  if (path.empty()) return false;
  std::vector<uint8_t> out;
  {
    KIT_MutexLock lock(mMutex);
    const int nParams = NHostParams();
    const char* name = GetPresetName(mCurrentPresetIdx);
    if (mDoesChunks) {
      ByteChunk chunk;
      InitChunkWithIEffectVer(&chunk);
      if (!SerializeState(&chunk)) return false;
      putHeader(out, kProgramChunkMagic, 1, mUniqueID, mVersion, nParams);
      putName(out, name);
      putChunk(out, chunk);
    } else {
      putHeader(out, kProgramParamsMagic, 1, mUniqueID, mVersion, nParams);
      putName(out, name);
      for (int i = 0; i < nParams; ++i) putFloat(out, static_cast<float>(mParams.Get(i)->GetNormalized()));
    }
    patchByteSize(out, 0);
  }
  return writeFile(path, out);
}

bool IEffectBase::SaveBankAsFXB(const char* file) {
  const std::string path = promptForPresetFile(file, true, "fxb");
  if (path.empty()) return false;
  std::vector<uint8_t> out;
  {
    KIT_MutexLock lock(mMutex);
    // The current preset carries the current state, as in the host's bank chunk.
    ModifyCurrentPreset(nullptr);
    const int nPresets = NPresets();
    ByteChunk chunk;
    if (mDoesChunks) {
      InitChunkWithIEffectVer(&chunk);
      if (!SerializePresets(&chunk) || !SerializeState(&chunk)) return false;
    }
    putHeader(out, mDoesChunks ? kBankChunkMagic : kBankParamsMagic, kBankVersion, mUniqueID, mVersion, nPresets);
    putU32(out, static_cast<uint32_t>(mCurrentPresetIdx));
    out.insert(out.end(), kBankHeaderSize - 7 * 4 - 4, 0);
    if (mDoesChunks) {
      putChunk(out, chunk);
    } else {
      const int nParams = NHostParams();
      for (int k = 0; k < nPresets; ++k) {
        const IPreset* preset = mPresets.Get(k);
        const size_t start = putHeader(out, kProgramParamsMagic, 1, mUniqueID, mVersion, nParams);
        putName(out, preset->mName);
        // A preset never made holds no values: it shows the current ones.
        int pos = preset->mInitialized ? 0 : -1;
        for (int i = 0; i < nParams; ++i) {
          IParam* param = mParams.Get(i);
          double v = param->Value();
          if (pos >= 0) pos = preset->mChunk.Get(&v, pos);
          if (pos < 0) v = param->Value();
          putFloat(out, static_cast<float>(param->GetNormalized(v)));
        }
        patchByteSize(out, start);
      }
    }
    patchByteSize(out, 0);
  }
  return writeFile(path, out);
}

bool IEffectBase::LoadProgramFromFXP() {
  const std::string path = promptForPresetFile(nullptr, false, "fxp");
  std::vector<uint8_t> data;
  if (path.empty() || !readFile(path, &data)) return false;
  KIT_MutexLock lock(mMutex);
  return loadProgramFile(data);
}

bool IEffectBase::LoadBankFromFXB() {
  const std::string path = promptForPresetFile(nullptr, false, "fxb");
  std::vector<uint8_t> data;
  if (path.empty() || !readFile(path, &data)) return false;
  KIT_MutexLock lock(mMutex);
  return loadBankFile(data);
}

bool IEffectBase::loadProgramFile(const std::vector<uint8_t>& data) {
  const int nParams = NHostParams();
  if (!mDoesChunks) {
    Reader r(data, 0, data.size());
    ParamsProgram program;
    if (!readParamsProgram(data, r, mUniqueID, nParams, &program)) return false;
    for (int i = 0; i < nParams; ++i) mParams.Get(i)->SetNormalized(clampNormalized(program.values[i]));
    for (int i = 0; i < nParams; ++i) OnParamChange(i);
    ModifyCurrentPreset(program.name.c_str());
    RedrawParamControls();
    return true;
  }

  Reader outer(data, 0, data.size());
  const size_t end = recordEnd(outer);
  if (!end) return false;
  Reader r(data, outer.pos(), end);
  RecordHeader h;
  const uint8_t* nameBytes;
  ByteChunk chunk;
  if (!readHeader(r, &h) || h.fxMagic != kProgramChunkMagic || h.fxID != mUniqueID ||
      !r.bytes(kProgramNameSize, &nameBytes) || !readChunk(r, &chunk))
    return false;
  const std::string name = nameField(nameBytes);

  StateSnapshot before;
  takeSnapshot(&before);
  int pos = 0;
  GetIEffectVerFromChunk(&chunk, &pos);
  if (UnserializeState(&chunk, pos) < 0) {
    restoreSnapshot(before);
    return false;
  }
  ModifyCurrentPreset(name.c_str());
  RedrawParamControls();
  return true;
}

bool IEffectBase::loadBankFile(const std::vector<uint8_t>& data) {
  Reader outer(data, 0, data.size());
  const size_t end = recordEnd(outer);
  if (!end) return false;
  Reader r(data, outer.pos(), end);
  RecordHeader h;
  const uint8_t* reserved;
  if (!readHeader(r, &h) || h.fxMagic != (mDoesChunks ? kBankChunkMagic : kBankParamsMagic) || h.fxID != mUniqueID ||
      !r.bytes(kBankHeaderSize - 7 * 4, &reserved))
    return false;
  // Version 2 banks name their current program in the reserved block.
  int current = mCurrentPresetIdx;
  if (h.version >= 2) {
    const int32_t stored =
        static_cast<int32_t>((static_cast<uint32_t>(reserved[0]) << 24) | (static_cast<uint32_t>(reserved[1]) << 16) |
                             (static_cast<uint32_t>(reserved[2]) << 8) | reserved[3]);
    if (stored >= 0 && stored < NPresets()) current = stored;
  }

  if (mDoesChunks) {
    ByteChunk chunk;
    if (!readChunk(r, &chunk)) return false;
    StateSnapshot before;
    takeSnapshot(&before);
    int pos = 0;
    const int version = GetIEffectVerFromChunk(&chunk, &pos);
    if (version >= 0x10000) {
      // The presets are restored into the program that was current when the bank was saved.
      mCurrentPresetIdx = current;
      pos = UnserializePresets(&chunk, pos);
      pos = UnserializeState(&chunk, pos);
    } else {
      pos = UnserializeState(&chunk, pos);
      if (pos >= 0) ModifyCurrentPreset(nullptr);
    }
    if (pos < 0) {
      restoreSnapshot(before);
      return false;
    }
    RedrawParamControls();
    return true;
  }

  // Parameter form: every program is read and checked before any preset changes.
  const int nParams = NHostParams();
  if (h.count != NPresets()) return false;
  std::vector<ParamsProgram> programs(static_cast<size_t>(h.count));
  for (ParamsProgram& program : programs)
    if (!readParamsProgram(data, r, mUniqueID, nParams, &program)) return false;

  StateSnapshot before;
  takeSnapshot(&before);
  for (int k = 0; k < h.count; ++k) {
    IPreset* preset = mPresets.Get(k);
    for (int i = 0; i < nParams; ++i) mParams.Get(i)->SetNormalized(clampNormalized(programs[k].values[i]));
    preset->mChunk.Clear();
    if (!SerializeState(&preset->mChunk)) {
      restoreSnapshot(before);
      return false;
    }
    preset->mInitialized = true;
    KIT_UTF8Copy(preset->mName, sizeof preset->mName, programs[k].name.c_str());
  }
  if (nParams == 0) {
    // Nothing to read back from the presets just made: only the current program moves.
    mCurrentPresetIdx = current;
    PresetsChangedByHost();
    RedrawParamControls();
  } else if (h.count > 0 && !RestorePreset(current)) {
    restoreSnapshot(before);
    return false;
  }
  for (int i = 0; i < nParams; ++i) OnParamChange(i);
  return true;
}

bool IEffectBase::DumpPresetSrcCode(const char* file, const char** paramNames) {
  std::string line;
  {
    KIT_MutexLock lock(mMutex);
    const int n = NHostParams();
    line = "  MakePresetFromNamedParams(" + quoted(GetPresetName(mCurrentPresetIdx)) + ", " + std::to_string(n);
    for (int i = 0; i < n; ++i) {
      const IParam* param = mParams.Get(i);
      char value[64];
      // The argument types MakePresetFromNamedParams reads: an int for whole-number kinds.
      const IParam::EParamType type = param->Type();
      if (type == IParam::kTypeBool || type == IParam::kTypeInt || type == IParam::kTypeEnum)
        std::snprintf(value, sizeof value, "%d", static_cast<int>(param->Value()));
      else
        std::snprintf(value, sizeof value, "%.6f", param->Value());
      line += ", ";
      line += paramNames && paramNames[i] ? paramNames[i] : std::to_string(i);
      line += ", ";
      line += value;
    }
    line += ");\n";
  }
  return writeText(file, line);
}

bool IEffectBase::DumpPresetBlob(const char* file) {
  std::string line;
  {
    KIT_MutexLock lock(mMutex);
    ByteChunk state;
    if (!SerializeState(&state)) return false;
    line = "  MakePresetFromBlob(" + quoted(GetPresetName(mCurrentPresetIdx)) + ", \"" +
           base64(state.GetBytes(), state.Size()) + "\", " + std::to_string(state.Size()) + ");\n";
  }
  return writeText(file, line);
}
