// Costs of the shared containers on the paths the program leans on: appending to chunks, growing pointer lists,
// the string-keyed caches, and the recursive mutex taken around every host call.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "KIT/assocarray.h"
#include "KIT/heapbuf.h"
#include "KIT/mutex.h"
#include "KIT/ptrlist.h"

// Checks, after the timed loop, what the work measured gives when done once more.
static void expect(benchmark::State& state, bool ok) {
  if (!ok) state.SkipWithError("the work gave a wrong result");
}

static void HeapBufAppendInts(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto append = [n](KIT_HeapBuf& b) {
    for (int i = 0; i < n; ++i) b.Add(&i, sizeof i);
  };
  for (auto _ : state) {
    KIT_HeapBuf b(4096);
    append(b);
    benchmark::DoNotOptimize(b.Get());
  }
  state.SetItemsProcessed(state.iterations() * n);
  KIT_HeapBuf b(4096);
  append(b);
  expect(state, b.GetSize() == n * static_cast<int>(sizeof(int)) && static_cast<const int*>(b.Get())[n - 1] == n - 1);
}
BENCHMARK(HeapBufAppendInts)->Arg(1000)->Arg(100000);

static void VectorAppendIntsForComparison(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto append = [n](std::vector<char>& v) {
    for (int i = 0; i < n; ++i) v.insert(v.end(), reinterpret_cast<char*>(&i), reinterpret_cast<char*>(&i) + sizeof i);
  };
  for (auto _ : state) {
    std::vector<char> v;
    append(v);
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
  std::vector<char> v;
  append(v);
  expect(state, v.size() == n * sizeof(int) && reinterpret_cast<const int*>(v.data())[n - 1] == n - 1);
}
BENCHMARK(VectorAppendIntsForComparison)->Arg(1000)->Arg(100000);

static void PtrListAdd(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  int x = 0;
  auto add = [n, &x](KIT_PtrList<int>& l) {
    for (int i = 0; i < n; ++i) l.Add(&x);
  };
  for (auto _ : state) {
    KIT_PtrList<int> l;
    add(l);
    benchmark::DoNotOptimize(l.GetList());
  }
  state.SetItemsProcessed(state.iterations() * n);
  KIT_PtrList<int> l;
  add(l);
  expect(state, l.GetSize() == n && l.GetLast() == &x);
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
  bool found = a.GetSize() == static_cast<int>(keys.size());
  for (size_t k = 0; k < keys.size(); ++k) found = found && a.Get(keys[k].c_str(), -1) == static_cast<int>(k);
  expect(state, found);
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
  const bool freed = !m.IsHeldByCaller();
  m.Enter();
  m.Enter();
  expect(state, freed && m.GetDepth() == 2);
  m.Leave();
  m.Leave();
}
BENCHMARK(MutexEnterLeaveNested);
