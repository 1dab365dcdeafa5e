// The slot view and its menus as a user drives them: layout at the three scales, selection by mouse
// and arrow keys, audition, Copy and Paste within and across banks, Rename, Store and Request.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/libui/libui_support.h"

using namespace libui;

namespace {

struct ThreeBanks : TwoBanks {
  ThreeBanks() { data.write("Sub/C.syx", bankBytes(3, 100)); }  // a short bank: padded with the initial program
};

// The tab with A open above and B below (the scan lists Sub/C.syx first).
struct Tab : LibrarianTab {
  explicit Tab(double scale = 1.0) : LibrarianTab(scale) {
    chooseUpper({"A.syx"});
    chooseLower({"B.syx"});
    g.menus.clear();
  }
};

void key(LibrarianTab& tab, int code) {
  tab.g.OnKeyDown(tab.slotX(0, 0), tab.slotY(0, 0), code);
}

}  // namespace

TEST(SlotView, LayoutAtTheThreeScales) {
  DataFolder data;
  struct Case {
    double scale;
    int w, h, gap, lowerTop;
  };
  const Case cases[] = {{0.75, 73, 12, 22, 229}, {1.0, 97, 16, 30, 303}, {1.25, 122, 20, 37, 379}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scale);
    LibrarianTab tab(c.scale);
    const IRECT* view = tab.view->GetRECT();
    const IRECT first = tab.view->slotRect(0, 0);
    EXPECT_EQ(first, IRECT(view->L + c.gap, view->T + 1, view->L + c.gap + c.w, view->T + 1 + c.h));
    // Slot 17: second column, second row.
    const IRECT r17 = tab.view->slotRect(1, 17);
    EXPECT_EQ(r17.L, view->L + c.gap + (c.w + c.gap));
    EXPECT_EQ(r17.T, view->T + c.lowerTop + c.h);
    EXPECT_EQ(r17.W(), c.w);
    EXPECT_EQ(r17.H(), c.h);
    int side = -1;
    EXPECT_EQ(tab.view->hitSlot(r17.L, r17.T, &side), 17);
    EXPECT_EQ(side, 1);
    EXPECT_EQ(tab.view->hitSlot(r17.R, r17.T, &side), -1) << "the gap between columns is no slot";
    EXPECT_EQ(tab.view->hitSlot(r17.L, r17.B - 1 + c.h, &side), 18);
  }
}

TEST(SlotView, ArrowKeysMoveFromTheClickedSlotAndAudition) {
  ThreeBanks banks;
  Tab tab;
  struct Case {
    int from, key, to;
  };
  // 1 up, 2 down, 3 left, 4 right.
  const Case moves[] = {{0, 1, 127}, {127, 2, 0}, {5, 3, 117}, {117, 4, 5}, {40, 1, 39}, {40, 4, 56}, {20, 3, 4},
                       {111, 4, 127}, {112, 4, 0}, {16, 3, 0}, {15, 3, 127}};
  for (const Case& m : moves) {
    SCOPED_TRACE(std::to_string(m.from) + " key " + std::to_string(m.key));
    tab.click(0, m.from);
    tab.host.calls.clear();
    key(tab, m.key);
    EXPECT_EQ(tab.view->selectedSlot(0), m.to);
    ASSERT_EQ(tab.host.calls.size(), 1u);
    EXPECT_EQ(tab.host.calls[0], "send " + programName(1, m.to));
  }
  // In the lower bank the arrows move from the lower slot clicked, not from slot 0.
  tab.click(1, 33);
  EXPECT_EQ(tab.view->selectedSlot(0), -1);
  EXPECT_EQ(tab.view->selectedSlot(1), 33);
  tab.host.calls.clear();
  key(tab, 2);
  EXPECT_EQ(tab.view->selectedSlot(1), 34);
  EXPECT_EQ(tab.host.calls, std::vector<std::string>{"send " + programName(2, 34)});
  EXPECT_EQ(tab.host.sent.back(), programDumpOf(2, 34)) << "the audition sends the program's bytes";
  // Other keys do nothing.
  tab.host.calls.clear();
  key(tab, 20);
  EXPECT_TRUE(tab.host.calls.empty());
  // A rescan that reads a list's file anew says so, as the idle does.
  banks.data.write("A.syx", raw(expectedBank(1, {{3, programDumpOf(2, 3)}})));
  tab.mainMenu({"Refresh Folders"});
  EXPECT_NE(tab.editor.lastMessage().find("Patches/A.syx changed on disk: the list shows it as it is now."),
            std::string::npos) << tab.editor.lastMessage();
  std::filesystem::create_symlink("A.syx", banks.data.patches + "/Link.syx");  // said below as its chooser names it
  tab.mainMenu({"Refresh Folders"});
  tab.chooseLower({"Link.syx"});
  banks.data.write("A.syx", bankBytes(4));
  tab.mainMenu({"Refresh Folders"});
  EXPECT_NE(tab.editor.lastMessage().find("The list below shows Patches/Link.syx as it is now."), std::string::npos)
      << tab.editor.lastMessage();
}

TEST(SlotView, DoubleClickAuditionsOnlyWithAMidiOutput) {
  ThreeBanks banks;
  Tab tab;
  IMouseMod left(true);
  tab.host.midiOut = false;
  tab.g.OnMouseDblClick(tab.slotX(0, 9), tab.slotY(0, 9), &left);
  EXPECT_TRUE(tab.host.calls.empty());
  tab.host.midiOut = true;
  tab.g.OnMouseDblClick(tab.slotX(1, 9), tab.slotY(1, 9), &left);
  EXPECT_EQ(tab.host.calls, std::vector<std::string>{"send " + programName(2, 9)});
  tab.host.calls.clear();
  tab.g.OnMouseDblClick(tab.view->GetRECT()->L + 1, tab.view->GetRECT()->T + 1, &left);  // no slot
  EXPECT_TRUE(tab.host.calls.empty());
}

TEST(SlotMenus, CopyTakesTheProgramAtCopyTimeAndPasteStoresItInItsSlot) {
  ThreeBanks banks;
  Tab tab;
  // Copy lower slot 7 of B, then show another lower bank before pasting into upper slot 3.
  tab.g.menuPath = {"Copy"};
  tab.click(1, 7, true);
  EXPECT_EQ(tab.g.menus.back(), "Copy");
  tab.chooseLower({"Sub", "C.syx"});
  EXPECT_EQ(tab.lowerName(7), programName(3, 7));
  tab.g.menuPath = {"Paste"};
  tab.click(0, 3, true);
  EXPECT_EQ(tab.g.menus.back(), "Paste,-,Rename,-,Initialize,Request>");
  const PatchFile* open = tab.editor.bankOf(0);
  EXPECT_EQ(Bytes(open->patches[3].messages[0].data), programDumpOf(2, 7));
  EXPECT_EQ(tab.upperName(3), programName(2, 7));
  EXPECT_EQ(tab.upperName(2), programName(1, 2));
  EXPECT_EQ(tab.upperName(4), programName(1, 4));
  EXPECT_TRUE(tab.editor.openBankUnsaved());
  EXPECT_EQ(tab.plug.GetParam(kBankEditUnsaved)->Int(), 1);
  EXPECT_TRUE(tab.host.layers["discardChangesLayerRight"]->isVisible());
  EXPECT_FALSE(tab.host.layers["LeftPatchPopupMenu"]->isVisible()) << "no other bank opens over unsaved edits";

  // Copy within the open bank works the same way when the lower list shows it too.
  tab.chooseLower({"A.syx"});
  tab.g.menuPath = {"Copy"};
  tab.click(1, 3, true);
  tab.g.menuPath = {"Paste"};
  tab.click(0, 100, true);
  EXPECT_EQ(tab.upperName(100), programName(2, 7));
  EXPECT_EQ(tab.lowerName(100), programName(2, 7)) << "the lower list shows the open bank's change too";

  // A Copy on no slot leaves nothing to paste; a rescan keeps what was copied until the next Copy.
  tab.editor.saveOpenBank();
  tab.g.menuPath = {"Copy"};
  IMouseMod right(false, true);
  tab.g.OnMouseDown(tab.view->GetRECT()->L + 1, tab.view->GetRECT()->T + 1, &right);
  EXPECT_EQ(tab.editor.copiedProgram(), nullptr);
  tab.g.menuPath = {"Paste"};
  tab.click(0, 0, true);
  EXPECT_FALSE(tab.editor.openBankUnsaved());
  EXPECT_EQ(tab.upperName(0), programName(1, 0));
  tab.g.menuPath = {"Copy"};
  tab.click(1, 1, true);
  ASSERT_NE(tab.editor.copiedProgram(), nullptr);
  const std::string copied = tab.lowerName(1);
  tab.mainMenu({"Refresh Folders"});
  EXPECT_NE(tab.editor.copiedProgram(), nullptr);
  tab.g.menuPath = {"Paste"};
  tab.click(0, 0, true);
  EXPECT_EQ(tab.upperName(0), copied);
}

TEST(SlotMenus, RenameWritesTheNameIntoTheProgram) {
  ThreeBanks banks;
  Tab tab;
  // Another instance saves the bank while a name is typed: the slot's program changed, and no name goes onto it.
  tab.g.menuPath = {"Rename"};
  tab.click(0, 12, true);
  banks.data.write("A.syx", bankBytes(4));
  tab.plug.GetParam(kPatchRename)->SetDisplayText(0, "Typed");
  tab.plug.OnParamChange(kPatchRename);
  EXPECT_EQ(tab.editor.lastMessage(), "Not renamed to \"Typed\": slot 13 of Patches/A.syx changed on disk, and the "
                                      "list now shows it as it is. Rename the slot again.");
  // Rename chosen over a slot the file changed since the list showed it opens no field on the old name.
  banks.data.write("A.syx", bankBytes(1));
  tab.g.menuPath = {"Rename"};
  tab.click(0, 12, true);
  EXPECT_EQ(tab.editor.lastMessage().rfind("Not renamed: slot 13 of Patches/A.syx changed on disk", 0), 0u);
  EXPECT_FALSE(tab.host.layers["patchRename"]->isVisible());
  tab.g.menuPath = {"Rename"};
  tab.click(0, 12, true);
  EXPECT_TRUE(tab.host.layers["patchRename"]->isVisible());
  EXPECT_STREQ(tab.plug.GetParam(kPatchRename)->GetDisplayText(0), programName(1, 12).c_str());
  tab.plug.OnParamChange(kPatchRename);  // ended as it opened: nothing changed
  EXPECT_FALSE(tab.editor.openBankUnsaved());
  tab.g.menuPath = {"Rename"};
  tab.click(0, 12, true);
  tab.plug.GetParam(kPatchRename)->SetDisplayText(0, "Warm Pad \xC3\xA9 and more");
  tab.plug.OnParamChange(kPatchRename);
  EXPECT_FALSE(tab.host.layers["patchRename"]->isVisible());
  const Bytes& dump = tab.editor.bankOf(0)->patches[12].messages[0].data;
  EXPECT_EQ(vectors::dumpName(dump), tab.upperName(12));
  EXPECT_EQ(tab.upperName(12), "Warm Pad e a") << "the accented letter becomes its plain letter";
  for (size_t i = 1; i + 1 < dump.size(); ++i) EXPECT_LT(dump[i], 0x80) << i;
  EXPECT_TRUE(tab.editor.openBankUnsaved());
  // A left click closes the rename field.
  tab.g.menuPath = {"Rename"};
  tab.click(0, 13, true);
  tab.click(0, 14);
  EXPECT_FALSE(tab.host.layers["patchRename"]->isVisible());
}

TEST(SlotMenus, StoreAndRequestUseTheSelectedSlotOfTheirOwnSide) {
  ThreeBanks banks;
  Tab tab;
  struct Case {
    const char* what;
    int side, slot;  // selection made by a left click (slot -1: a click on no slot)
    std::vector<std::string> menu;
    std::vector<std::string> calls;
  };
  // clang-format off
  const Case cases[] = {
      {"store an upper slot", 0, 5, {"Store Patch Data", "To Currently Selected Location"}, {"store 5 b1s5        "}},
      {"store a lower slot", 1, 9, {"Store Patch Data", "To Currently Selected Location"}, {"store 9 b2s9        "}},
      {"store with no slot", 0, -1, {"Store Patch Data", "To Currently Selected Location"}, {}},
      {"request into the selected slot", 0, 20, {"Request Patch Data", "from Currently Selected Location"},
       {"request 20 into 20 librarian"}},
      {"request with a lower slot selected", 1, 20, {"Request Patch Data", "from Currently Selected Location"}, {}},
      {"active slot to the librarian", 0, 6, {"Request Patch Data", "from Active Slot to Librarian"},
       {"request -1 into 6 librarian"}},
      {"active slot with no slot", 0, -1, {"Request Patch Data", "from Active Slot to Librarian"}, {}},
      {"store the bank", 0, 0, {"Store Patch Data", "All Current Patches to Hardware"},
       {"store bank 128 b1s0        "}},
      {"all programs", 0, 0, {"Request Patch Data", "All Patches from Memory"}, {"request all"}},
      {"a submenu title does nothing", 0, 0, {"Store Patch Data"}, {}},
      {"sync", 0, 0, {"Sync Current Data from HW"}, {"sync"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.slot >= 0) {
      tab.click(c.side, c.slot);
    } else {
      IMouseMod left(true);
      tab.g.OnMouseDown(tab.view->GetRECT()->L + 1, tab.view->GetRECT()->T + 1, &left);
    }
    tab.host.calls.clear();
    tab.mainMenu(c.menu);
    EXPECT_EQ(tab.host.calls, c.calls);
  }
  // Another instance saved the bank: nothing is asked for slots the musician did not see, and the line names them.
  tab.click(0, 6);
  tab.host.calls.clear();
  banks.data.write("A.syx", raw(expectedBank(1, {{6, programDumpOf(2, 6)}})));
  tab.mainMenu({"Request Patch Data", "from Active Slot to Librarian"});
  EXPECT_EQ(tab.editor.lastMessage().rfind("Not requested: slot 7 of Patches/A.syx changed on disk", 0), 0u);
  banks.data.write("A.syx", raw(expectedBank(1, {{9, programDumpOf(2, 9)}, {40, programDumpOf(2, 40)}, {41, programDumpOf(2, 41)}, {43, programDumpOf(2, 43)}})));
  tab.mainMenu({"Request Patch Data", "All Patches from Memory"});
  EXPECT_EQ(tab.editor.lastMessage().rfind("Not fetched: slots 7, 10, 41 to 42 and 44 of Patches/A.syx changed", 0), 0u);
  EXPECT_TRUE(tab.host.calls.empty());
  // The disabled items cannot be chosen.
  tab.host.calls.clear();
  tab.mainMenu({"Import...", "microKorg PRG (*.prg)"});
  tab.mainMenu({"Other Helpful things...", "Open User Manual"});
  EXPECT_TRUE(tab.g.calls.empty());
  tab.mainMenu({"Other Helpful things...", "DAW Setup Guides"});
  EXPECT_NE(std::find(tab.g.calls.begin(), tab.g.calls.end(), "OpenURL https://kb.pellacor.com/kb/articles/"),
            tab.g.calls.end());
  EXPECT_FALSE(tab.editor.OpenHelpTopics(3));
}
