// The editor's program stored into the librarian, the timbre switches of an audition and what an audition
// puts into the program it sends, and the queue's pace after a recall.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/vst2/vst2.h"
#include "protocol_plug.h"
#include "src/LibrarianViewControl.h"
#include "tests/support/ProjectChunk.h"
#include "tests/support/SysexDumps.h"

using namespace prototest;

namespace {

// The 254 data bytes of the last program dump the editor sent.
std::vector<uint8_t> lastProgramData(const std::vector<Bytes>& sent) {
  for (auto it = sent.rbegin(); it != sent.rend(); ++it)
    if (it->size() == static_cast<size_t>(kProgramDumpSize) && (*it)[4] == 0x40)
      return vexmir::testsupport::dataOf(*it);
  return {};
}

constexpr int kTimbreStart[2] = {38, 146};
constexpr int kTimbreBytes = 108;

}  // namespace

TEST(ProtocolParts, StoreIntoTheLibrarianPutsTheEditorsProgramIntoTheSelectedSlotOnly) {
  DataRoot root;
  ProtocolPlug plug;
  plug.fromSynth(programDump(33, 0));  // not asked for: the editor keeps its own program
  plug.synthProgram = 33;
  plug.press(kRequestTempData, 1);
  ASSERT_TRUE(plug.waitIdle());
  ASSERT_EQ(plug.programName().rfind("Prog033", 0), 0u) << plug.programName();
  const std::vector<LibrarianPatch> before = plug.openBank();
  plug.getLibrarian()->selectSlot(1, 12);  // a lower slot is selected: nothing is stored
  plug.press(kOverwriteBank, 1);
  ASSERT_TRUE(plug.waitIdle());
  plug.press(kOverwriteBank, 0);
  EXPECT_EQ(plug.openBank()[12].name, before[12].name);

  plug.getLibrarian()->selectSlot(0, 12);
  // Another instance saved the bank with another program in that slot: not stored over it, and said.
  PatchFile other;
  other.patches = before;
  other.patches[12].messages[0].data.assign(programDump(44, 0).data(), kProgramDumpSize);
  const std::string file = Vexmir::getPatchesFolderStr() + "/Init.vmr";
  ASSERT_TRUE(PatchLibrarian::writeBankFile(other, file + ".new", false));
  std::filesystem::rename(file + ".new", file);
  plug.press(kOverwriteBank, 1);
  EXPECT_EQ(
      plug.getLibrarianEditor()->lastMessage().rfind("Program not stored: slot 13 of Patches/Init.vmr changed", 0), 0u);
  plug.press(kOverwriteBank, 0);
  EXPECT_EQ(plug.openBank()[12].messages[0].data, other.patches[12].messages[0].data);
  plug.sendGlobalWithProgram = true;
  plug.take();
  plug.press(kOverwriteBank, 1);
  ASSERT_TRUE(plug.waitIdle());
  const std::string said = plug.getDisplayLine(Vexmir::kLineName);
  EXPECT_TRUE(said.rfind("\"Prog033", 0) == 0 && said.find("\" stored into slot 13!") != std::string::npos) << said;
  plug.press(kOverwriteBank, 0);
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineName), said) << "the release says nothing over the store";
  const std::vector<LibrarianPatch> after = plug.openBank();
  EXPECT_EQ(after[12].name.rfind("Prog033", 0), 0u) << after[12].name;
  for (int slot = 0; slot < kProgramsPerBank; ++slot) {
    if (slot == 12) continue;
    EXPECT_EQ(after[static_cast<size_t>(slot)].name, before[static_cast<size_t>(slot)].name) << slot;
  }
  EXPECT_EQ(plug.paramValue(kBankEditUnsaved), 1.0);
  // Nothing went to the synthesizer: no program and no global dump.
  for (const Bytes& b : plug.take()) EXPECT_FALSE(b.size() > 200) << b.size();
  const std::vector<std::string> broken = plug.getMidiManager()->protocolViolations();
  EXPECT_TRUE(broken.empty()) << broken.front();
}

// The slot highlighted is the one a program change selects and the one the store into the librarian then uses, also
// after a whole bank was fetched; a project keeps the highlighted slot of its bank.
TEST(ProtocolParts, TheHighlightedSlotIsTheSlotEveryActionUsesAndTheProjectKeeps) {
  DataRoot root;
  const std::string patches = Vexmir::getPatchesFolderStr();
  for (const char* name : {"/Keep.vmr", "/Zed.vmr"}) std::filesystem::copy_file(patches + "/Init.vmr", patches + name);
  auto plug = std::make_unique<ProtocolPlug>();
  LibrarianEditor* editor = plug->getLibrarianEditor();
  auto drawn = [&] { return jobtest::drawnSlot(plug->GetGUI(), plug->getLibrarianEditor()->view(), 0); };
  auto storedInto = [&] {  // the slot the store into the librarian changed
    const std::vector<LibrarianPatch> before = plug->openBank();
    plug->press(kOverwriteBank, 1);
    EXPECT_TRUE(plug->waitIdle());
    plug->press(kOverwriteBank, 0);
    for (size_t p = 0; p < before.size(); ++p)
      if (plug->openBank()[p].name != before[p].name) return static_cast<int>(p);
    return -1;
  };
  IMouseMod left(true);
  auto click = [&](int slot) {
    const IRECT r = editor->view()->slotRect(0, slot);
    editor->view()->OnMouseDown(r.L + 4, r.T + 4, &left);
  };
  const int keep = editor->librarian()->bankAt(0)->fileName == "Keep.vmr" ? 0 : 1;
  ASSERT_TRUE(editor->selectBank(0, keep));
  click(40);
  plug->press(kMIDIFilterHWCCPassThrough + Vexmir::kFilterPC, 1);
  plug->synthProgram = 7;
  plug->fromSynth({0xC0, 7});
  ASSERT_TRUE(plug->waitIdle());
  EXPECT_EQ(drawn(), 7);
  EXPECT_EQ(storedInto(), 7);
  plug->host()->requestAllPrograms();
  ASSERT_TRUE(plug->waitIdle());
  EXPECT_EQ(storedInto(), drawn());
  click(57);
  ASSERT_TRUE(editor->saveOpenBank());  // no unsaved edits: the project names its bank by its path alone
  const Bytes project = vexmir::testsupport::projectOf(plug->GetAEffect());
  // A bank that sorts first comes; the banks before it go; the bank itself goes, and the one at its position opens.
  std::filesystem::copy_file(patches + "/Init.vmr", patches + "/A.vmr");
  const std::vector<std::vector<std::string>> gone = {{}, {"/A.vmr", "/Init.vmr"}, {"/Keep.vmr"}};
  for (int change = 0; change < 3; ++change) {
    for (const std::string& name : gone[change]) std::filesystem::remove(patches + name);
    plug.reset();
    plug = std::make_unique<ProtocolPlug>();
    ASSERT_TRUE(vexmir::testsupport::openProject(plug->GetAEffect(), project));
    plug->press(kMainTab, 1);
    EXPECT_EQ(plug->getLibrarianEditor()->bankOf(0)->fileName, change < 2 ? "Keep.vmr" : "Zed.vmr") << change;
    EXPECT_EQ(plug->getLibrarianEditor()->view()->notice().find("Zed.vmr is open") != std::string::npos, change == 2);
    EXPECT_EQ(drawn(), 57) << change;
    plug->midiOutReady = true;  // the test's port has no name a MIDI system would list
    ASSERT_TRUE(plug->SendSingleProgramFromLibrarian(false) && plug->waitIdle());
    EXPECT_EQ(lastProgramData(plug->take()), lastProgramData({plug->openBank()[57].messages.front().data.toVector()}));
  }
}

TEST(ProtocolParts, TheTimbreSwitchesAreChoicesAndAnAuditionLoadsTheLastOnesPressed) {
  DataRoot root;
  ProtocolPlug plug;
  // Library program: timbre 1 all 0x11, timbre 2 all 0x22 (channel bytes aside).
  Bytes data = vexmir::testsupport::dataOf(programDump(1, 0));
  for (int t = 0; t < 2; ++t)
    for (int i = 1; i < kTimbreBytes; ++i) data[static_cast<size_t>(kTimbreStart[t] + i)] = t == 0 ? 0x11 : 0x22;
  const Bytes dump = vexmir::testsupport::dumpOf(data);
  LibrarianPatch program;
  program.messages.emplace_back().data.assign(dump.data(), dump.size());
  {
    PatchLibrarian* lib = plug.getLibrarian();
    std::unique_lock<std::mutex> lock = lib->lockBanks();
    lib->bankAt(lib->upperBankIndex)->patches[1] = program;
  }

  plug.press(kReadFromTimbre1, 1);
  plug.press(kReadFromTimbre2, 1);
  EXPECT_EQ(plug.paramValue(kReadFromTimbre1), 0.0);
  plug.press(kLoadToTimbre2, 1);
  plug.press(kLoadToTimbre1, 1);
  EXPECT_EQ(plug.paramValue(kLoadToTimbre2), 0.0);
  plug.storeParamValue(kOverrideTempo, 1);
  plug.storeParamValue(kArpTempo, 100);  // 120 BPM
  plug.storeParamValue(kLockPartMIDIch + 1, 1);
  plug.storeParamValue(kMultiPartMIDICh + 1, 5);
  plug.take();
  ASSERT_TRUE(plug.host()->sendProgram(0, 1, program));
  ASSERT_TRUE(plug.waitIdle());
  const std::vector<uint8_t> sent = lastProgramData(plug.take());
  ASSERT_EQ(sent.size(), static_cast<size_t>(kProgramDataSize));
  // Timbre 2 of the library program went into timbre 1; timbre 2 is the editor's own.
  for (int i = 1; i < kTimbreBytes; ++i) ASSERT_EQ(sent[static_cast<size_t>(kTimbreStart[0] + i)], 0x22) << i;
  EXPECT_NE(sent[static_cast<size_t>(kTimbreStart[1] + 1)], 0x22);
  EXPECT_EQ(sent[30] << 8 | sent[31], 120);
  EXPECT_EQ(sent[static_cast<size_t>(kTimbreStart[1])], 5);

  // Without a source timbre the program goes out whole.
  plug.press(kReadFromTimbre2, 0);
  plug.storeParamValue(kOverrideTempo, 0);
  plug.storeParamValue(kLockPartMIDIch + 1, 0);
  ASSERT_TRUE(plug.host()->sendProgram(0, 1, program));
  ASSERT_TRUE(plug.waitIdle());
  std::vector<uint8_t> whole = lastProgramData(plug.take());
  EXPECT_EQ(whole, data);

  // A locked timbre or an empty slot sends nothing, and the librarian is not told that it did.
  plug.storeParamValue(kPartLock, 1);
  EXPECT_FALSE(plug.host()->sendProgram(0, 1, program));
  EXPECT_FALSE(plug.host()->storeProgram(0, 1, program));
  EXPECT_FALSE(plug.singleProgramFlag) << "a store that sent nothing must not turn the next audition into a store";
  plug.storeParamValue(kPartLock, 0);
  {
    PatchLibrarian* lib = plug.getLibrarian();
    std::unique_lock<std::mutex> lock = lib->lockBanks();
    lib->bankAt(lib->upperBankIndex)->patches[2] = LibrarianPatch();
  }
  EXPECT_FALSE(plug.host()->sendProgram(0, 2, LibrarianPatch()));
  ASSERT_TRUE(plug.waitIdle());
  EXPECT_TRUE(lastProgramData(plug.take()).empty());
}

TEST(ProtocolParts, ARecallSetsTheQueuesPaceFromTheOffsetKnob) {
  DataRoot root;
  ProtocolPlug plug;
  plug.storeParamValue(kAdjustDAWOffset, 100);
  plug.storeParamValue(kMIDIFilterToDAWBuffer, 1);
  ByteChunk chunk;
  ASSERT_TRUE(plug.SerializeState2(&chunk, false));
  ASSERT_GT(plug.UnserializeState2(&chunk, 0, false), 0);
  plug.press(kMIDIFilterToDAWBuffer, 1);
  ASSERT_GT(plug.UnserializeState2(&chunk, 0, false), 0);
  plug.midiOutViaAudioQueue = true;
  // 200 steps of the queue per block: a message 150 steps ahead leaves with the next block.
  IMidiMsg cc(150, 0xB0, 7, 42);
  plug.midiQueue.Add(&cc);
  plug.take();
  plug.audioBlock();
  const std::vector<Bytes> sent = plug.take();
  EXPECT_TRUE(std::find(sent.begin(), sent.end(), Bytes{0xB0, 7, 42}) != sent.end());
}

// Operations that nothing in the editor calls, through their own entries.
TEST(ProtocolParts, TheOperationsNothingCallsDoWhatTheySay) {
  DataRoot root;
  ProtocolPlug plug;
  plug.storeParamValue(kMultiPartMIDICh, 2);
  plug.storeParamValue(kMultiPartMIDICh + 1, 5);
  plug.take();
  plug.AllSoundsOff();  // both timbres' channels; nothing while connecting
  plug.connectPending = true;
  plug.AllSoundsOff();
  plug.connectPending = false;
  EXPECT_EQ(plug.take(), (std::vector<Bytes>{{0xB2, 123, 0}, {0xB5, 123, 0}}));

  plug.deviceBusy = plug.dumpSendRunning = true;
  plug.sendPatchAndPatternToDevice(0, false, false, true, false, false);
  EXPECT_TRUE(plug.sendGlobalWithProgram);
  EXPECT_FALSE(plug.deviceBusy || plug.dumpSendRunning);
  EXPECT_TRUE(plug.take().empty());

  // The part data goes back as a program dump only while a section is locked.
  for (int locked : {0, 1}) {
    plug.press(kSectionLockOsc1, locked);
    plug.sendPartDataBackToHardware(0);
    ASSERT_TRUE(plug.waitIdle());
    EXPECT_EQ(lastProgramData(plug.take()).empty(), locked == 0) << locked;
  }

  // A parameter change's control moved by its address; an address without a control moves nothing.
  int low = 8;
  while (low < 128 && !plug.getSysexControl(0x58, 0x41, low, 0, 0)) ++low;
  ASSERT_LT(low, 128);
  IControl* control = plug.getSysexControl(0x58, 0x41, low, 0, 0);
  const double max = control->GetParam()->GetMax();
  plug.getMidiManager()->getNormalControl(0x58, 0x41, low, 0, static_cast<int>(max), true);
  EXPECT_EQ(control->GetValue(), 1.0);
  plug.getMidiManager()->getNormalControl(0x58, 0x41, low, 0x55, 0, true);
  EXPECT_EQ(control->GetValue(), 1.0);

  // A tap pattern code: three words of five base-24 digits (low and high bits of each step pair), then the last
  // three steps from the eleventh byte.
  const unsigned char code[11] = {25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7F};
  char steps[33];
  MIDIMessageManager::decodeTapPatternCode(code, steps);
  char expected[33] = {};
  expected[6] = 1;  // digit 1 of word 0 ...
  expected[8] = 1;  // ... and digit 1: 25 is 1 x 24 + 1
  expected[30] = 7;
  expected[32] = 0x18;
  EXPECT_EQ(std::string(steps, 33), std::string(expected, 33));
}
