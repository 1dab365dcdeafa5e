// Building and reading one program dump and one global dump.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "src/GlobalDump.h"
#include "src/ProgramDump.h"
#include "src/VexmirParams.h"

namespace {

std::vector<double> initialValues() {
  std::vector<double> v(kNumParams);
  for (int i = 0; i < kNumParams; ++i) v[i] = paramInfo(i).defaultValue;
  return v;
}

void BM_BuildProgramDump(benchmark::State& state) {
  std::vector<double> v = initialValues();
  uint8_t out[kProgramDumpSize];
  for (auto _ : state) {
    buildProgramDump(v.data(), "Init Sound", 0x30, out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BuildProgramDump);

void BM_ParseProgramDump(benchmark::State& state) {
  std::vector<double> v = initialValues();
  const uint8_t* msg = initialProgramDump();
  ProgramParseResult r;
  for (auto _ : state) {
    if (!parseProgramDump(msg, kProgramDumpSize, v.data(), &r)) state.SkipWithError("the dump was not read");
    benchmark::DoNotOptimize(v.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ParseProgramDump);

void BM_BuildGlobalDump(benchmark::State& state) {
  std::vector<double> v = initialValues();
  uint8_t out[kGlobalDumpSize];
  for (auto _ : state) {
    buildGlobalDump(v.data(), 0x30, out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BuildGlobalDump);

void BM_ParseGlobalDump(benchmark::State& state) {
  std::vector<double> v = initialValues();
  const uint8_t* msg = globalDumpTemplate();
  for (auto _ : state) {
    if (!parseGlobalDump(msg, kGlobalDumpSize, v.data())) state.SkipWithError("the dump was not read");
    benchmark::DoNotOptimize(v.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ParseGlobalDump);

}  // namespace
