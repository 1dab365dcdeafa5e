// The librarian tab with 1,000 banks in nested folders: opening the tab (bank lists, the three
// choosers' menus, both slot columns and the whole tab drawn), choosing a bank from the nested menu
// until the slot view is drawn, and a name search over all 128,000 programs with the lists and the
// search chooser refilled. Goals: 16 ms, 5 ms and 10 ms.
#include <benchmark/benchmark.h>

#include <memory>

#include "tests/libui/libui_support.h"

namespace {

using namespace libui;

// 10 folders of 10 sub-folders of 10 banks each; the programs of bank n are named "b<n%50>s<slot>".
struct Library {
  DataFolder data;
  std::unique_ptr<LibrarianTab> tab;
  Library() {
    for (int n = 0; n < 1000; ++n) {
      const std::string name = "Folder " + std::to_string(n / 100) + "/Sub " + std::to_string(n / 10 % 10) + "/Bank " +
                               std::to_string(n) + ".syx";
      data.write(name, bankBytes(n % 50));
    }
    tab = std::make_unique<LibrarianTab>();
  }
};

Library& library() {
  static Library lib;
  return lib;
}

void drawAll(LibrarianTab& tab) {
  IRECT all(0, 0, tab.g.Width(), tab.g.Height());
  tab.g.Draw(&all);
}

void BM_OpenLibrarianTab(benchmark::State& state) {
  LibrarianTab& tab = *library().tab;
  for (auto _ : state) {
    tab.editor.librarianTabShown(false);
    tab.editor.patchTypeChanged(0, 0, false);
    tab.editor.librarianTabShown(true);
    drawAll(tab);
  }
  state.counters["banks"] = static_cast<double>(tab.librarian.bankFiles.size());
}
BENCHMARK(BM_OpenLibrarianTab)->Unit(benchmark::kMillisecond);

void BM_ChooseBankToSlotViewDrawn(benchmark::State& state) {
  LibrarianTab& tab = *library().tab;
  int n = 0;
  for (auto _ : state) {
    n = (n + 37) % 1000;
    tab.chooseUpper({"Folder " + std::to_string(n / 100), "Sub " + std::to_string(n / 10 % 10),
                     "Bank " + std::to_string(n) + ".syx"});
    tab.tick();
  }
  if (tab.upperName(0) != programName(n % 50, 0)) state.SkipWithError("the chosen bank is not shown");
}
BENCHMARK(BM_ChooseBankToSlotViewDrawn)->Unit(benchmark::kMillisecond);

void BM_NameSearchOver1000Banks(benchmark::State& state) {
  LibrarianTab& tab = *library().tab;
  int n = 0;
  for (auto _ : state) {
    // Every program of slot 1n: 20 of them in each of the 1,000 banks, 160 result banks.
    tab.editor.search("s1" + std::to_string(n++ % 10));
  }
  state.counters["result banks"] = static_cast<double>(tab.librarian.searchFiles.size());
  tab.editor.endSearch();
}
BENCHMARK(BM_NameSearchOver1000Banks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
