// The bank choosers on a generated "Patches" tree: nested menus in the tree's order with the root's
// banks at the bottom, same-named folders and a sub-folder named "Patches" told apart by path, the
// choice surviving a rescan, and the bank lists' texts.
#include <gtest/gtest.h>

#include "tests/libui/libui_support.h"

using namespace libui;

namespace {

// Patches/          Root B.syx, Root A.syx
//   Alpha/          a1.syx, X/x.syx
//   Beta/           X/x.syx (same names as under Alpha), b1.syx
//   Patches/        p.syx (a sub-folder named like the root)
struct Tree {
  DataFolder data;
  Tree() {
    data.write("Root B.syx", bankBytes(1));
    data.write("Root A.syx", bankBytes(2));
    data.write("Alpha/a1.syx", bankBytes(3));
    data.write("Alpha/X/x.syx", bankBytes(4));
    data.write("Beta/X/x.syx", bankBytes(5));
    data.write("Beta/b1.syx", bankBytes(6));
    data.write("Patches/p.syx", bankBytes(7));
  }
};

}  // namespace

TEST(BankChooser, MenusFollowTheTreeWithTheRootBanksAtTheBottom) {
  Tree tree;
  LibrarianTab tab;
  tab.chooseUpper({});
  ASSERT_EQ(tab.g.menus.size(), 1u);
  // The open bank is the first of the scan, Alpha's own bank.
  EXPECT_EQ(tab.g.menus[0], "Alpha>,Beta>,Patches>,Root A.syx,Root B.syx");
  const IPopupMenu* top = tab.upper->chooser().topMenu();
  EXPECT_EQ(LibGraphics::describe(top->GetItem(0)->GetSubmenu()), "X>,*a1.syx");
  EXPECT_EQ(LibGraphics::describe(top->GetItem(1)->GetSubmenu()), "X>,b1.syx");
  EXPECT_EQ(LibGraphics::describe(top->GetItem(2)->GetSubmenu()), "p.syx");
}

TEST(BankChooser, SameNamedFoldersAndAFolderNamedPatchesAreToldApartByPath) {
  Tree tree;
  LibrarianTab tab;
  struct Case {
    std::vector<std::string> path;
    int bank;  // whose programs the upper column must show
  };
  const Case cases[] = {{{"Beta", "X", "x.syx"}, 5},
                        {{"Alpha", "X", "x.syx"}, 4},
                        {{"Patches", "p.syx"}, 7},
                        {{"Root B.syx"}, 1},
                        {{"Beta", "b1.syx"}, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.back() + " of bank " + std::to_string(c.bank));
    tab.chooseUpper(c.path);
    EXPECT_EQ(tab.upperName(0), programName(c.bank, 0));
    EXPECT_EQ(tab.upperName(127), programName(c.bank, 127));
    const PatchFile* open = tab.editor.bankOf(0);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(tab.editor.upperBankPath, open->folderPath + "/" + open->fileName);
    // Exactly one item of all the menus is checked: the open bank's.
    tab.chooseUpper({});
    const std::string shown = tab.g.menus.back();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '*'), c.path.size() == 1 ? 1 : 0) << shown;
  }
  // The lower chooser is independent of the upper one.
  tab.chooseLower({"Alpha", "X", "x.syx"});
  EXPECT_EQ(tab.lowerName(3), programName(4, 3));
  EXPECT_EQ(tab.upperName(3), programName(6, 3));
}

TEST(BankChooser, TheChoiceSurvivesARescanThatMovesTheBankAndDismissingKeepsIt) {
  Tree tree;
  LibrarianTab tab;
  tab.chooseUpper({"Beta", "X", "x.syx"});
  tab.chooseLower({"Root A.syx"});
  const int before = tab.librarian.upperBankIndex;
  // A new folder sorts before Beta: every later bank moves one place down the list.
  tree.data.write("Aardvark/new.syx", bankBytes(8));
  tab.mainMenu({"Refresh Folders"});
  EXPECT_EQ(tab.librarian.upperBankIndex, before + 1);
  EXPECT_EQ(tab.upperName(9), programName(5, 9));
  EXPECT_EQ(tab.lowerName(9), programName(2, 9));
  EXPECT_EQ(tab.plug.GetParam(kPatchSelectionListUpper)->Int(), before + 1);
  tab.chooseUpper({});  // dismissed
  EXPECT_EQ(tab.upperName(9), programName(5, 9));
  // The bank removed from disk: the first bank is shown, with no stale index.
  std::remove((tree.data.patches + "/Beta/X/x.syx").c_str());
  tab.mainMenu({"Refresh Folders"});
  EXPECT_EQ(tab.librarian.upperBankIndex, 0);
  EXPECT_EQ(tab.upperName(0), programName(8, 0));
}

TEST(BankChooser, AnEmptyPatchesFolderOffersNothingAndBreaksNothing) {
  DataFolder data;
  LibrarianTab tab;
  tab.chooseUpper({"anything"});
  tab.chooseLower({});
  EXPECT_TRUE(tab.g.menus.empty()) << "no menu opens without banks";
  EXPECT_EQ(tab.upperName(0), "");
  tab.click(0, 5);
  tab.click(1, 5);
  EXPECT_FALSE(tab.editor.storeSelectedProgram());
  EXPECT_FALSE(tab.editor.saveOpenBank());
  EXPECT_FALSE(tab.editor.auditionSlot(0, 5));
  for (int p : {kLibUpperNextBank, kLibLowerPreviousBank, kPatchSelectionListUpper, kPatchSelectionListLower}) {
    tab.plug.GetParam(p)->Set(1);
    tab.plug.OnParamChange(p);
  }
  tab.tick();
  EXPECT_TRUE(tab.host.calls.empty());
}

TEST(BankLists, LongNamesAreShortenedAndNumbered) {
  const std::string p47(47, 'A'), q47(47, 'Q');
  std::string e23;  // 23 two-byte characters
  for (int i = 0; i < 23; ++i) e23 += "\xC3\xA9";
  struct Case {
    std::string name;
    std::string text;
  };
  // One pass over a list: the numbering runs across names of the same first 47 characters.
  const Case list[] = {
      {std::string(48, 'n') + ".syx", std::string(48, 'n') + ".syx"},  // 52 characters: unchanged
      {p47 + "123456.SYX", p47 + "~1.syx"},
      {p47 + "7890123456789.syx", p47 + "~2.syx"},
      {"short.syx", "short.syx"},
      {p47 + "zzzzzzzz.MiD", p47 + "~3.mid"},
      {q47 + "zzzzzzzz.vmr", q47 + "~1.vmr"},
      {p47 + "zzzzzzzz.vmr", p47 + "~1.vmr"},
      {std::string(70, 'x'), std::string(47, 'x') + "~1." + std::string(5, 'x')},
      {e23 + "\xC3\xA9\xC3\xA9.syx", e23 + "~1.syx"},  // cut between characters, not inside one
  };
  std::string prefix;
  int counter = 0;
  for (const Case& c : list) {
    bool shortened = false;
    EXPECT_EQ(shortenBankName(c.name, &prefix, &counter, &shortened), c.text) << c.name;
    EXPECT_EQ(shortened, c.name.size() >= 53);
    EXPECT_LE(c.text.size(), 55u);
  }
}

TEST(BankLists, TheListsNameEveryBankAndFollowSearches) {
  Tree tree;
  LibrarianTab tab;
  tab.chooseLower({"Beta", "b1.syx"});
  IParam* upperList = tab.plug.GetParam(kPatchSelectionListUpper);
  IParam* lowerList = tab.plug.GetParam(kPatchSelectionListLower);
  ASSERT_EQ(upperList->GetNDisplayTexts(), 7);
  EXPECT_STREQ(upperList->GetDisplayText(0), "a1.syx");
  EXPECT_EQ(upperList->GetMax(), 6);
  // The lower list switches to the search results, the upper keeps its banks.
  tab.editor.search("s12 ");
  EXPECT_TRUE(tab.editor.lowerListShowsSearch);
  EXPECT_STREQ(lowerList->GetDisplayText(0), "Search Results 1");
  EXPECT_EQ(lowerList->GetNDisplayTexts(), 1);
  EXPECT_EQ(upperList->GetNDisplayTexts(), 7);
  // In the order of the scan: Alpha, Alpha/X, Beta, Beta/X, Patches/Patches, then the root's banks.
  const int order[] = {3, 4, 6, 5, 7, 2, 1};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(tab.lowerName(i), programName(order[i], 12));
  EXPECT_EQ(tab.lowerName(7), "");
  // Another text leaves the results shown, and the field names the text they were found by.
  IParam* field = tab.plug.GetParam(kPatchSearchString);
  field->SetDisplayText(0, "b4s1");
  tab.plug.OnParamChange(kPatchSearchString);
  EXPECT_EQ(tab.lowerName(0), programName(3, 12));
  EXPECT_STREQ(field->GetDisplayText(0), "s12 ");
  // The visible chooser over the lower list is the search one, and only while searching.
  EXPECT_TRUE(tab.host.layers["RightSearchPopupMenu"]->isVisible());
  EXPECT_FALSE(tab.host.layers["RightPatchPopupMenu"]->isVisible());
  tab.editor.librarianTabShown(false);
  EXPECT_FALSE(tab.host.layers["RightSearchPopupMenu"]->isVisible()) << "no invisible chooser on other tabs";
  tab.editor.librarianTabShown(true);
  tab.plug.GetParam(kPatchSearch)->Set(0);
  tab.plug.OnParamChange(kPatchSearch);
  EXPECT_FALSE(tab.editor.lowerListShowsSearch);
  EXPECT_FALSE(tab.host.layers["RightSearchPopupMenu"]->isVisible()) << "the search chooser goes with the search";
  EXPECT_TRUE(tab.host.layers["RightPatchPopupMenu"]->isVisible());
  EXPECT_EQ(lowerList->GetNDisplayTexts(), 7);
  EXPECT_EQ(tab.lowerName(0), programName(6, 0)) << "the bank shown before the search comes back";
  // One character asks for more, a word without matches says so; neither leaves search mode on.
  field->SetDisplayText(0, "b");
  tab.plug.OnParamChange(kPatchSearchString);
  EXPECT_EQ(tab.editor.lastMessage(), "Enter 2 digits or more!");
  EXPECT_STREQ(field->GetDisplayText(0), "search...");
  tab.editor.clearMessage();
  tab.plug.OnParamChange(kPatchSearchString);  // Return in the untouched field: its prompt is no word
  EXPECT_EQ(tab.editor.lastMessage(), "");
  EXPECT_EQ(tab.view->notice(), "");
  EXPECT_EQ(tab.editor.search("nothing like it"), "No results - Try another keyword!");
  EXPECT_NE(tab.view->notice().find("Tip: Note that letter size matters.."), std::string::npos);
  EXPECT_FALSE(tab.editor.lowerListShowsSearch);
  // A rescan ends the search whose results it dropped: the lower list shows its banks again.
  tab.editor.search("s12 ");
  tab.mainMenu({"Refresh Folders"});
  EXPECT_FALSE(tab.editor.lowerListShowsSearch);
  EXPECT_EQ(tab.lowerName(0), programName(6, 0));
}

TEST(BankChooser, NextAndPreviousBankWrapAroundTheList) {
  Tree tree;
  LibrarianTab tab;
  const int count = static_cast<int>(tab.librarian.bankFiles.size());
  ASSERT_GE(count, 3);
  auto press = [&](int p) {
    tab.plug.GetParam(p)->Set(1);
    tab.plug.OnParamChange(p);
    tab.tick();
  };
  for (int side = 0; side < 2; ++side) {
    SCOPED_TRACE(side == 0 ? "upper" : "lower");
    const int next = side == 0 ? kLibUpperNextBank : kLibLowerNextBank;
    const int previous = side == 0 ? kLibUpperPreviousBank : kLibLowerPreviousBank;
    auto index = [&] { return side == 0 ? tab.librarian.upperBankIndex : tab.librarian.lowerBankIndex; };
    auto firstName = [&] { return side == 0 ? tab.upperName(0) : tab.lowerName(0); };
    auto choose = [&](int i) {
      tab.plug.GetParam(side == 0 ? kPatchSelectionListUpper : kPatchSelectionListLower)->Set(i);
      tab.plug.OnParamChange(side == 0 ? kPatchSelectionListUpper : kPatchSelectionListLower);
      tab.tick();
    };
    choose(0);
    const std::string first = firstName();
    press(previous);
    EXPECT_EQ(index(), count - 1) << "previous on the first bank goes to the last";
    const std::string last = firstName();
    EXPECT_NE(last, first);
    press(next);
    EXPECT_EQ(index(), 0) << "next on the last bank goes to the first";
    EXPECT_EQ(firstName(), first);
    press(next);
    EXPECT_EQ(index(), 1);
  }
}
