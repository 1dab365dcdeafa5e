// Audition, store and request from the librarian through the real plug-in object, over JACK with the
// synthesizer emulator: the program's bytes arrive in its edit buffer, in its program memory when
// stored, and a program requested from it lands in the selected slot of the open bank.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "src/LibrarianHost.h"
#include "src/LibrarianViewControl.h"
#include "src/Vexmir.h"
#include "tests/libui/libui_support.h"
#include "tests/support/EmulatorClient.h"

using namespace libui;
using vexmir::testsupport::EmulatorClient;

namespace {

intptr_t quietHost(AEffect*, int32_t, int32_t, intptr_t, void*, float) {
  return 0;
}

// Asks the emulator until `arrived` holds or ten seconds pass.
bool eventually(const std::function<bool()>& arrived) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (arrived()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return arrived();
}

}  // namespace

TEST(LibrarianTransfers, AuditionStoreAndRequestGoThroughTheSynthesizer) {
  DataFolder data;
  data.write("A.syx", bankBytes(6));
  EmulatorClient emulator;
  emulator.reset();
  Vexmir plug(IEffectInstanceInfo{quietHost});
  plug.getExternalMIDIOutNames();
  int index = 1;
  plug.setExternalMIDIOut(index, EmulatorClient::emulatorInPort().c_str());
  ASSERT_TRUE(plug.isExternalMIDIOutOpen());
  int in = 1;
  plug.getExternalMIDIInNames();
  plug.setExternalMIDIIn(in, EmulatorClient::emulatorOutPort().c_str());
  ASSERT_TRUE(plug.isExternalMIDIInOpen());
  plug.midiOutReady = plug.midiInReady = true;
  // The editor's own tempo is not put into the programs sent, so they must arrive byte for byte.
  plug.GetParam(kOverrideTempo)->Set(0.0);
  LibrarianEditor* editor = plug.getLibrarianEditor();
  ASSERT_TRUE(editor->selectBank(0, 0));

  ASSERT_TRUE(editor->auditionSlot(0, 17));
  const Bytes program17 = vectors::programDataNamed(17, programName(6, 17));
  EXPECT_TRUE(eventually([&] { return emulator.editBuffer() == program17; })) << emulator.editName();

  PatchLibrarian* librarian = editor->librarian();
  LibrarianPatch program40;
  ASSERT_TRUE(librarian->copyProgram(editor->bankOf(0), 40, &program40));
  ASSERT_TRUE(eventually([&] { return editor->host()->storeProgram(0, 40, program40); }));
  const Bytes expected = vectors::programDataNamed(40, programName(6, 40));
  EXPECT_TRUE(eventually([&] { return emulator.program(40) == expected; })) << emulator.programName(40);

  // And one back: the synthesizer's program 7 into the selected slot 7 of the open bank. The MIDI input
  // stores it while this thread reads the bank, as the user interface does: through the bank lock.
  const Bytes asked = vectors::programDataNamed(99, "From Synth");
  emulator.loadProgram(7, asked);
  LibrarianViewControl* view = editor->view();
  ASSERT_NE(view, nullptr) << "the bundle's description places the slot view";
  librarian->selectSlot(0, 7);
  ASSERT_TRUE(eventually([&] { return editor->requestIntoSelectedSlot(); }));
  const Bytes dump = vectors::programDump(asked);
  EXPECT_TRUE(eventually([&] {
    LibrarianPatch p;
    return librarian->copyProgram(editor->bankOf(0), 7, &p) && !p.messages.empty() && Bytes(p.messages[0].data) == dump;
  }));
  EXPECT_EQ(view->slotText(0, 7), "From Synth  ") << "the slot view shows the stored program";
  // The job flags the bank as changed once it has taken the answer.
  EXPECT_TRUE(eventually([&] { return editor->openBankUnsaved(); }));
  LibrarianPatch program8;
  ASSERT_TRUE(librarian->copyProgram(editor->bankOf(0), 8, &program8));
  EXPECT_EQ(Bytes(program8.messages[0].data), programDumpOf(6, 8)) << "one slot only";
}
