// The librarian tab with 1,000 banks in nested folders: opening the tab (bank lists, the three
// choosers' menus, both slot columns and the whole tab drawn), choosing a bank from the nested menu
// until the slot view is drawn, and a name search over all 128,000 programs with the lists and the
// search chooser refilled. Goals: 16 ms, 5 ms and 10 ms. And the editor's idle with both lists shown over 2,000 banks,
// as the lists follow their files: the time of one idle and the calls to the filesystem a second, with the files
// unchanged and with the shown bank's file written before every look.
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <memory>

#include "src/BankChooserMenu.h"
#include "src/BankFollower.h"
#include "tests/libui/libui_support.h"

namespace {

using namespace libui;

// 10 folders of 10 sub-folders of 10 banks each (and so on for more); the programs of bank n are named
// "b<n%50>s<slot>".
struct Library {
  DataFolder data;
  std::unique_ptr<LibrarianTab> tab;
  explicit Library(int banks = 1000) {
    for (int n = 0; n < banks; ++n) {
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
    state.PauseTiming();
    if (tab.librarian.bankFiles.size() != 1000 || tab.upperName(0).empty()) state.SkipWithError("no banks are shown");
    state.ResumeTiming();
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
    state.PauseTiming();
    if (tab.upperName(0) != programName(n % 50, 0)) state.SkipWithError("the chosen bank is not shown");
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ChooseBankToSlotViewDrawn)->Unit(benchmark::kMillisecond);

// A name search over the 128,000 programs of the 1,000 banks, with the lists and the search chooser refilled: "s10"
// finds slot 10 and slots 100 to 109 of every bank (11,000 programs, 86 result banks), "s19" slot 19 alone (1,000
// programs, 8 result banks). The search ends between searches, outside the timing: while results are shown, a new
// text does not search.
void BM_NameSearchOver1000Banks(benchmark::State& state, const char* text) {
  LibrarianTab& tab = *library().tab;
  const size_t banks = tab.librarian.bankFiles.size();
  size_t expected = 0;
  for (int slot = 0; slot < 128; ++slot) expected += programName(0, slot).find(text) != std::string::npos;
  expected *= banks;
  size_t found = 0;
  for (auto _ : state) {
    tab.editor.search(text);
    state.PauseTiming();
    found = 0;
    for (const PatchFile* b : tab.librarian.searchFiles) found += b->patches.size();
    if (found != expected || !tab.editor.lowerListShowsSearch) state.SkipWithError("the search did not find all");
    state.counters["result banks"] = static_cast<double>(tab.librarian.searchFiles.size());
    tab.editor.endSearch();
    state.ResumeTiming();
  }
  size_t programs = 0;
  for (const PatchFile* b : tab.librarian.bankFiles) programs += b->patches.size();
  state.counters["programs searched"] = static_cast<double>(programs);
  state.counters["programs found"] = static_cast<double>(found);
}
BENCHMARK_CAPTURE(BM_NameSearchOver1000Banks, many, "s10")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_NameSearchOver1000Banks, few, "s19")->Unit(benchmark::kMillisecond);

// The editor idles 25 times a second. With `written`, another program writes the open bank's file (another bank each
// time) before every look, outside the timing: that look reads the file and the list again.
void BM_IdleWithBothListsShownOver2000Banks(benchmark::State& state, bool written) {
  static Library lib(2000);
  LibrarianTab& tab = *lib.tab;
  if (!tab.editor.selectBank(0, 0) || !tab.editor.selectBank(1, 1)) state.SkipWithError("no banks");
  const std::string path = bankPath(*tab.editor.bankOf(0));
  // In step with the looks: the next one is on the fifth idle from here.
  for (const uint64_t calls = tab.editor.follower().filesystemCalls(); tab.editor.follower().filesystemCalls() == calls;)
    tab.editor.idle();
  const uint64_t before = tab.editor.follower().filesystemCalls();
  int64_t idles = 0, readAgain = 0;
  for (auto _ : state) {
    if (written && idles % BankFollower::kIdlesPerLook == BankFollower::kIdlesPerLook - 1) {
      state.PauseTiming();
      lib.data.write(path.substr(lib.data.patches.size() + 1), bankBytes(static_cast<int>(idles % 40) + 1));
      state.ResumeTiming();
    }
    tab.editor.idle();
    ++idles;
    if (written && idles % BankFollower::kIdlesPerLook == 0) {
      state.PauseTiming();
      readAgain += tab.upperName(0) == programName(static_cast<int>((idles - 1) % 40) + 1, 0);
      state.ResumeTiming();
    }
  }
  const double calls = static_cast<double>(tab.editor.follower().filesystemCalls() - before);
  state.counters["stat calls/s at 25 idles/s"] = calls / static_cast<double>(idles) * 25.0;
  if (written && readAgain != idles / BankFollower::kIdlesPerLook) state.SkipWithError("a change was not followed");
}
BENCHMARK_CAPTURE(BM_IdleWithBothListsShownOver2000Banks, unchanged, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IdleWithBothListsShownOver2000Banks, written, true)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
