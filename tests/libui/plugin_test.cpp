// The librarian's editor side inside the real plug-in object: created with it over the librarian it
// scanned, and quiet where the editor has no surface or no MIDI output yet.
#include <gtest/gtest.h>

#include <cstdio>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IEffectStructs.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/libui/libui_support.h"

using namespace libui;

namespace {

intptr_t quietHost(AEffect*, int32_t, int32_t, intptr_t, void*, float) {
  return 0;
}

}  // namespace

TEST(PluginLibrarian, TheEditorSideWorksOnThePluginsOwnBanks) {
  DataFolder data;
  data.write("Mine.syx", bankBytes(4));
  data.write("Theirs/Other.syx", bankBytes(5));
  Vexmir plug(IEffectInstanceInfo{quietHost});
  LibrarianEditor* editor = plug.getLibrarianEditor();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->librarian(), plug.getLibrarian());
  editor->patchTypeChanged(0, 0, false);
  EXPECT_STREQ(plug.GetParam(kPatchSelectionListUpper)->GetDisplayText(1), "Mine.syx");
  ASSERT_TRUE(editor->selectBank(0, 1));
  EXPECT_EQ(editor->bankOf(0)->patches[9].name, programName(4, 9));
  // No MIDI output: nothing is sent, nothing breaks. A layer is found only when the bundle's description was
  // read, and then it is the one of that name.
  EXPECT_FALSE(editor->host()->midiOutputChosen());
  EXPECT_FALSE(editor->auditionSlot(0, 9));
  if (ControlLayer* rename = editor->host()->librarianLayer("patchRename")) {
    EXPECT_EQ(rename->getName(), "patchRename");
  }
  EXPECT_EQ(editor->host()->librarianLayer("noSuchLayer"), nullptr);
  EXPECT_FALSE(editor->saveOpenBankAs(false));
  // The transfer jobs flag the open bank through the plug-in: the editor side sees it.
  plug.SetLibrarianStatusUnsaved(true);
  EXPECT_TRUE(editor->openBankUnsaved());
  EXPECT_FALSE(editor->selectBank(0, 0)) << "no other bank opens over unsaved edits";
  EXPECT_TRUE(editor->programReceived(3, editor->bankOf(1)->patches[0]));
  EXPECT_TRUE(editor->saveOpenBank());
  EXPECT_FALSE(editor->openBankUnsaved());
  EXPECT_EQ(readBank(data.patches + "/Mine.syx")[3], programDumpOf(5, 0));
}

// A project saved with unsaved edits of the open bank brings them back with the flag, and Save then writes what
// the musician saw; with the bank's file gone meanwhile the edits still open, and Save writes the file again.
TEST(PluginLibrarian, AProjectKeepsTheOpenBanksUnsavedEdits) {
  DataFolder data;
  data.write("Mine.syx", bankBytes(4));
  data.write("Theirs/Other.syx", bankBytes(5));
  const std::string path = data.patches + "/Mine.syx";
  ByteChunk project;
  {
    Vexmir plug(IEffectInstanceInfo{quietHost});
    LibrarianEditor* editor = plug.getLibrarianEditor();
    editor->patchTypeChanged(0, 0, false);
    ASSERT_TRUE(editor->selectBank(0, 1));
    ASSERT_TRUE(editor->renameProgram(4, "Renamed"));
    ASSERT_TRUE(plug.SerializeState(&project));
  }
  for (bool fileGone : {false, true}) {
    if (fileGone) std::remove(path.c_str());
    Vexmir plug(IEffectInstanceInfo{quietHost});
    LibrarianEditor* editor = plug.getLibrarianEditor();
    ASSERT_GT(plug.UnserializeState(&project, 0), 0);
    EXPECT_TRUE(editor->openBankUnsaved());
    ASSERT_NE(editor->bankOf(0), nullptr);
    EXPECT_EQ(editor->bankOf(0)->fileName, "Mine.syx");
    EXPECT_EQ(editor->bankOf(0)->patches[4].name.rfind("Renamed", 0), 0u) << editor->bankOf(0)->patches[4].name;
    ASSERT_TRUE(editor->saveOpenBank()) << fileGone;
    const std::vector<Bytes> saved = readBank(path);
    ASSERT_EQ(saved.size(), 128u);
    EXPECT_EQ(programDumpName(saved[4].data(), saved[4].size()).rfind("Renamed", 0), 0u);
    EXPECT_EQ(saved[5], programDumpOf(4, 5));
  }
}
