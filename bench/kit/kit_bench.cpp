// Costs of the shared containers on the paths the program leans on: appending to chunks, growing pointer lists,
// the string-keyed caches, and the recursive mutex taken around every host call.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "KIT/assocarray.h"
#include "KIT/heapbuf.h"
#include "KIT/mutex.h"
#include "KIT/ptrlist.h"

static void HeapBufAppendInts(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    KIT_HeapBuf b(4096);
    for (int i = 0; i < n; ++i) b.Add(&i, sizeof i);
    benchmark::DoNotOptimize(b.Get());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(HeapBufAppendInts)->Arg(1000)->Arg(100000);

static void VectorAppendIntsForComparison(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<char> v;
    for (int i = 0; i < n; ++i) v.insert(v.end(), reinterpret_cast<char*>(&i), reinterpret_cast<char*>(&i) + sizeof i);
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(VectorAppendIntsForComparison)->Arg(1000)->Arg(100000);

static void PtrListAdd(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  int x = 0;
  for (auto _ : state) {
    KIT_PtrList<int> l;
    for (int i = 0; i < n; ++i) l.Add(&x);
    benchmark::DoNotOptimize(l.GetList());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(PtrListAdd)->Arg(529)->Arg(10000);

static void StringKeyedArrayLookup(benchmark::State& state) {
  KIT_StringKeyedArray<int> a(false);
  std::vector<std::string> keys;
  for (int i = 0; i < state.range(0); ++i) keys.push_back("Section " + std::to_string(i * 7919));
  for (size_t i = 0; i < keys.size(); ++i) a.Insert(keys[i].c_str(), static_cast<int>(i));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.Get(keys[i].c_str()));
    i = (i + 1) % keys.size();
  }
}
BENCHMARK(StringKeyedArrayLookup)->Arg(64)->Arg(4096);

static void MutexEnterLeaveNested(benchmark::State& state) {
  KIT_Mutex m;
  for (auto _ : state) {
    m.Enter();
    m.Enter();
    m.Leave();
    m.Leave();
  }
}
BENCHMARK(MutexEnterLeaveNested);
