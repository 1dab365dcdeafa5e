// Audition, store and request from the librarian through the real plug-in object, over JACK with the
// synthesizer emulator: the program's bytes arrive in its edit buffer, in its program memory when
// stored, and a program requested from it lands in the selected slot of the open bank. A bank store holds the
// open bank as stored, whatever its file and a recall do meanwhile, until it ends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "src/BankFollower.h"
#include "src/LibrarianHost.h"
#include "src/LibrarianViewControl.h"
#include "src/MIDIMessageManager.h"
#include "src/MIDIMessageSender.h"
#include "src/Vexmir.h"
#include "tests/libui/libui_support.h"
#include "tests/support/EmulatorClient.h"
#include "tests/support/ProjectChunk.h"
#include "tests/support/QuietHost.h"

using namespace libui;
using namespace vexmir::testsupport;

namespace {

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
  plug.StartRelay();  // as the plug-in's entry does once it is made
  plug.getExternalMIDIOutNames();
  int index = 1;
  plug.setExternalMIDIOut(index, EmulatorClient::emulatorInPort().c_str());
  ASSERT_TRUE(plug.isExternalMIDIOutOpen());
  int in = 1;
  plug.getExternalMIDIInNames();
  plug.setExternalMIDIIn(in, EmulatorClient::emulatorOutPort().c_str());
  ASSERT_TRUE(plug.isExternalMIDIInOpen());
  plug.midiOutReady = plug.midiInReady = true;
  // As chosen on the port menus, so that a recalled project opens the same ports.
  plug.GetParam(kDeviceOutSelection)->Set(index);
  plug.GetParam(kDeviceInSelection)->Set(in);
  // The editor's own tempo is not put into the programs sent, so they must arrive byte for byte.
  plug.GetParam(kOverrideTempo)->Set(0.0);
  LibrarianEditor* editor = plug.getLibrarianEditor();
  ASSERT_TRUE(editor->selectBank(0, 0));

  // A program brought into the editor is told once, the host idling all through the job and the dump's parse; the one
  // it holds already, never. So is a randomized program, sent to the synthesizer.
  AEffect* e = plug.GetAEffect();
  auto toldAfter = [&](bool started) {
    int told = 0;
    EXPECT_TRUE(started && eventually([&] {
      for (int i = 0; i < 100; ++i) told += toldOnIdle(e);
      return !plug.getMidiManager()->isWorkerBusy(MidiWorker::kJobThread);
    }));
    return told + toldOnIdle(e);
  };
  toldOnIdle(e);
  EXPECT_EQ(toldAfter(editor->auditionSlot(0, 17)), 1);
  const Bytes program17 = vectors::programDataNamed(17, programName(6, 17));
  EXPECT_TRUE(eventually([&] { return emulator.editBuffer() == program17; })) << emulator.editName();
  emulator.loadEdit(vectors::programDataNamed(3, "Sent Back"));
  EXPECT_EQ(toldAfter(editor->host()->syncCurrentFromHardware()), 1);
  EXPECT_EQ(toldAfter(editor->host()->syncCurrentFromHardware()), 0);
  plug.SetParameterFromGUI(kRandomize, 1.0);
  EXPECT_EQ(toldAfter(true), 1);

  PatchLibrarian* librarian = editor->librarian();
  LibrarianPatch program40;
  ASSERT_TRUE(librarian->copyProgram(editor->bankOf(0), 40, &program40));
  ASSERT_TRUE(eventually([&] { return editor->host()->storeProgram(0, 40, program40); }));
  const Bytes expected = vectors::programDataNamed(40, programName(6, 40));
  EXPECT_TRUE(eventually([&] { return emulator.program(40) == expected; })) << emulator.programName(40);

  // A store of the open bank holds it until the store ends: its file replaced and a project recalled on a thread of its
  // own while the editor shows the tab, idles and draws the name typed since (the project's replaces it), it stays.
  ByteChunk project;
  ASSERT_TRUE(plug.SerializeState(&project));
  const std::string savedName = plug.programName();
  ASSERT_NE(savedName, "Typed Here");
  {
    KIT_MutexLock lock(plug.GetMutex());
    plug.GetParam(kPatchName)->SetDisplayText(0, "Typed Here");
  }
  auto* nameField = dynamic_cast<ITextControl*>(plug.firstControl(kPatchName));
  ASSERT_NE(nameField, nullptr) << "the bundle's description places the program's name";
  ASSERT_TRUE(eventually([&] { return editor->storeOpenBank(); }));
  data.write("A.syx", bankBytes(7));
  std::atomic<bool> recalled{false};
  nameField->SetClean();  // as drawn: only what marks it dirty draws it again
  std::thread recall([&] {
    plug.UnserializeState(&project, 0);
    recalled = true;
  });
  while (!recalled) {
    editor->librarianTabShown(true);
    plug.OnIdle();
    nameField->Draw(plug.GetGUI());
  }
  recall.join();
  EXPECT_TRUE(nameField->IsDirty()) << "the editor would go on showing the name typed before the recall";
  nameField->Draw(plug.GetGUI());
  EXPECT_EQ(nameField->GetTextForPlug(), savedName + " ") << "the recalled name, then the name's empty unit";
  plug.GetParam(kMainTab)->Set(1.0);  // the librarian's page again, as the recall showed the timbre's
  plug.OnParamChange(kMainTab);
  EXPECT_EQ(editor->view()->slotText(0, 40), programName(6, 40)) << "the list left the bank being stored";
  // The synthesizer gets what the list shows; stopped after its first program, the store lets the list go.
  EXPECT_TRUE(eventually([&] { return emulator.program(0) == vectors::programDataNamed(0, programName(6, 0)); }));
  emulator.command("drop dumps 1000");
  plug.getMidiManager()->getSender()->cancel = true;
  ASSERT_TRUE(eventually([&] { return !plug.getMidiManager()->isWorkerBusy(MidiWorker::kJobThread); }));
  emulator.command("drop dumps 0");
  const std::string end = plug.getDisplayLine(Vexmir::kLineName);
  EXPECT_EQ(end.rfind("Data write cancelled!", 0), 0u) << end;
  // A second of the editor's timer once it has ended: the list catches up, on the librarian's line only.
  for (int i = 0; i < 25; ++i) plug.GetGUI()->OnGUIIdle();
  EXPECT_EQ(editor->view()->slotText(0, 40), programName(7, 40));
  EXPECT_EQ(editor->lastMessage(), "Patches/A.syx changed on disk: the list shows it as it is now.");
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineName), end) << "the catch-up wiped the store's end";

  // And one back: the synthesizer's program 7 into the selected slot 7 of the open bank. The MIDI input
  // stores it while this thread reads the bank, as the user interface does: through the bank lock.
  const Bytes asked = vectors::programDataNamed(99, "From Synth");
  emulator.loadProgram(7, asked);
  LibrarianViewControl* view = editor->view();
  ASSERT_NE(view, nullptr) << "the bundle's description places the slot view";
  librarian->selectSlot(0, 7);
  // Another instance saves the bank first: nothing is asked for the slot the musician did not see.
  data.write("A.syx", bankBytes(8));
  EXPECT_FALSE(editor->requestIntoSelectedSlot());
  EXPECT_EQ(editor->lastMessage().rfind("Not requested: slot 8 of Patches/A.syx changed on disk, and the list", 0), 0u);
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
  EXPECT_EQ(Bytes(program8.messages[0].data), programDumpOf(8, 8)) << "one slot only";

  // A project that opens the ports it names tells nothing; one whose MIDI OUT port is gone opens it OFF and tells once,
  // and so does the port chosen again.
  const Bytes connected = projectOf(e);
  toldSoFar(e);
  ASSERT_TRUE(openProject(e, connected));
  EXPECT_EQ(toldAfter(true), 0);
  ASSERT_TRUE(openProject(e, withBankPath(connected, EmulatorClient::emulatorInPort(), "gone:in")));
  EXPECT_EQ(toldAfter(true), 1);
  plug.setParameterFromPlug(kDeviceOutSelection,
                            plug.getExternalMIDIOutDevice(EmulatorClient::emulatorInPort().c_str()));
  EXPECT_EQ(toldAfter(true), 1);

  // Where the host never idles the plug-in (its editor closed), the plug-in's own thread tells it, once: the
  // synthesizer's knob turned, its channel message, tempo sync switched on and the host's tempo.
  plug.StartUnidledTells();  // as the plug-in's entry does once it is made
  double* none[2] = {nullptr, nullptr};
  const std::function<void()> changes[] = {
      [&] { emulator.check("send cc 0 74 5"); }, [&] { emulator.check("send raw F0 42 35 58 4E 00 00 F7"); },
      [&] { plug.GetParam(kOverrideTempo)->Set(1.0); },
      [&] { hostTempo = 133, plug.midiOutReady = true, plug.ProcessDoubleReplacing(none, none, 64); }};
  for (size_t i = 0; i < std::size(changes); ++i) {
    changes[i]();
    EXPECT_TRUE(toldUnidled(e) == 1 && toldOnIdle(e) == 0) << i;
  }
  plug.EndTells();  // as the host's close does
}
