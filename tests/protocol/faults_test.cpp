// After each transfer, request and clock change the editor is ready for the next ordinary action: nothing armed
// or waiting outlives its job, and what the synthesizer sends next reaches the editor or the slot it belongs to.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "protocol_plug.h"
#include "src/BankFollower.h"
#include "src/LibrarianViewControl.h"
#include "tests/support/Files.h"
#include "tests/support/ProjectChunk.h"

using namespace prototest;

namespace {

bool startsWith(const std::string& text, const std::string& head) {
  return text.rfind(head, 0) == 0;
}

bool contains(const std::vector<std::string>& texts, const std::string& t) {
  return std::find(texts.begin(), texts.end(), t) != texts.end();
}

std::string slotName(ProtocolPlug& plug, int slot) {
  const std::vector<LibrarianPatch> bank = plug.openBank();
  return slot < static_cast<int>(bank.size()) ? bank[static_cast<size_t>(slot)].name : std::string();
}

std::vector<int> silentRange(int from, int to) {
  std::vector<int> r;
  for (int p = from; p <= to; ++p) r.push_back(p);
  return r;
}

void expectAtRest(ProtocolPlug& plug) {
  for (const std::string& rule : plug.getMidiManager()->protocolViolations()) ADD_FAILURE() << rule;
}

}  // namespace

TEST(ProtocolFaults, AfterAllProgramsTheSynthesizersKnobsAuditionsAndRequestsReachTheEditor) {
  DataRoot root;
  for (bool cancelHalfway : {false, true}) {
    ProtocolPlug plug;
    ASSERT_NE(plug.host(), nullptr);
    if (cancelHalfway)
      plug.onEachPause = [&](int n) {
        if (n == 40) plug.press(kReserved518, 1);
      };
    ASSERT_TRUE(plug.host()->requestAllPrograms());
    ASSERT_TRUE(plug.waitIdle());
    plug.onEachPause = nullptr;
    EXPECT_EQ(plug.texts().back(), cancelHalfway ? "Data request CANCELLED!" : "Data request completed!");
    if (!cancelHalfway) {
      EXPECT_TRUE(startsWith(slotName(plug, 77), "Prog077"));
    }
    expectAtRest(plug);
    // Three knobs turned on the synthesizer: the editor follows each.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(plug.editorFollowsKnob()) << i;

    // An audition from the librarian ends in the editor, and no slot changes.
    const std::vector<LibrarianPatch> before = plug.openBank();
    const size_t textsBefore = plug.texts().size();
    LibrarianPatch program;
    program.messages.emplace_back().data.assign(programDump(3, 0).data(), kProgramDumpSize);
    {
      PatchLibrarian* lib = plug.getLibrarian();
      std::unique_lock<std::mutex> lock = lib->lockBanks();
      lib->bankAt(lib->upperBankIndex)->patches[3] = program;
    }
    ASSERT_TRUE(plug.host()->sendProgram(0, 3, program));
    ASSERT_TRUE(plug.waitIdle());
    EXPECT_TRUE(startsWith(plug.programName(), "Prog003")) << plug.programName();
    // A REQUEST brings the synthesizer's program into the editor, not into slot 0.
    plug.synthProgram = 42;
    plug.press(kRequestTempData, 1);
    ASSERT_TRUE(plug.waitIdle());
    EXPECT_TRUE(startsWith(plug.programName(), "Prog042")) << plug.programName();
    const std::vector<std::string> texts = plug.texts();
    EXPECT_FALSE(contains(std::vector<std::string>(texts.begin() + static_cast<long>(textsBefore), texts.end()),
                          "CONNECTION TIMED OUT!"));
    EXPECT_EQ(plug.openBank()[0].messages.front().data, before[0].messages.front().data);
    expectAtRest(plug);
  }
}

TEST(ProtocolFaults, ALateOrRepeatedAnswerDuringAllProgramsIsStoredNowhereElse) {
  DataRoot root;
  ProtocolPlug plug;
  plug.answer = Answer::kTwice;
  ASSERT_TRUE(plug.host()->requestAllPrograms());
  ASSERT_TRUE(plug.waitIdle());
  plug.deliverOwed();
  const std::vector<LibrarianPatch> bank = plug.openBank();
  for (int slot : {0, 1, 64, 127}) EXPECT_TRUE(startsWith(bank[static_cast<size_t>(slot)].name, programNameOf(slot)));
  expectAtRest(plug);
  EXPECT_TRUE(plug.editorFollowsKnob());
}

TEST(ProtocolFaults, AllProgramsKeepsEveryProgramThatCameAndNamesTheOnesThatDidNot) {
  DataRoot root;
  struct Case {
    std::vector<int> silent;
    const char* end;
  } cases[] = {{{5}, "Not received (slots kept): 6"},
               {silentRange(60, 127), "Synth stopped; not received (slots kept): 61-128"},
               // Lone misses far apart are no synthesizer that stopped answering.
               {{6, 41, 91}, "Not received (slots kept): 7, 42, 92"}};
  for (const Case& c : cases) {
    ProtocolPlug plug;
    plug.lostRequestsOnly = true;
    const std::vector<LibrarianPatch> before = plug.openBank();
    auto silent = [&](int p) { return std::find(c.silent.begin(), c.silent.end(), p) != c.silent.end(); };
    plug.onEachPause = [&](int) { plug.answer = silent(plug.synthProgram) ? Answer::kSilent : Answer::kAnswer; };
    ASSERT_TRUE(plug.host()->requestAllPrograms());
    ASSERT_TRUE(plug.waitIdle());
    plug.onEachPause = nullptr;
    EXPECT_EQ(plug.texts().back(), c.end);
    EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineName), c.end);  // whole on the status display, not cut
    const std::vector<LibrarianPatch> bank = plug.openBank();
    for (int slot = 0; slot < kProgramsPerBank; ++slot) {
      if (!silent(slot))
        EXPECT_TRUE(plug.slotHoldsProgram(slot, slot)) << slot;
      else
        EXPECT_EQ(bank[static_cast<size_t>(slot)].messages.front().data, before[static_cast<size_t>(slot)].messages.front().data) << slot;
    }
    EXPECT_TRUE(plug.getLibrarianEditor()->openBankUnsaved());
    expectAtRest(plug);
  }
}

// A fetch of all programs cancelled before any program came changed nothing: the open bank is not flagged as
// holding unsaved edits (a Discard would then be offered for nothing, and a recall would keep the bank open). One
// cancelled after programs came keeps them, flagged.
TEST(ProtocolFaults, ACancelledAllProgramsFlagsTheBankOnlyWhenAProgramCame) {
  DataRoot root;
  const struct Case {
    int cancelAt;
    Answer answer;
    bool came;
  } cases[] = {{1, Answer::kAnswer, false}, {8, Answer::kSilent, false}, {40, Answer::kAnswer, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cancelAt);
    ProtocolPlug plug;
    const std::vector<LibrarianPatch> before = plug.openBank();
    plug.answer = c.answer;
    plug.onEachPause = [&](int n) {
      if (n == c.cancelAt) plug.press(kReserved518, 1);
    };
    ASSERT_TRUE(plug.host()->requestAllPrograms());
    ASSERT_TRUE(plug.waitIdle());
    plug.onEachPause = nullptr;
    EXPECT_EQ(plug.texts().back(), "Data request CANCELLED!");
    const std::vector<LibrarianPatch> after = plug.openBank();
    int changed = 0;
    for (size_t p = 0; p < after.size(); ++p) changed += after[p].messages != before[p].messages;
    EXPECT_EQ(changed > 0, c.came) << changed;
    EXPECT_EQ(plug.getLibrarianEditor()->openBankUnsaved(), c.came);
    expectAtRest(plug);
  }
}

// Program 100 comes from the host's track or the synthesizer's panel right after the fetch switched the
// synthesizer to program 10: every slot still gets its own program, the host's change is not passed on, and the
// display says it was ignored.
TEST(ProtocolFaults, AProgramChangeDuringAFetchIsIgnoredAndEverySlotGetsItsOwnProgram) {
  DataRoot root;
  for (bool fromHost : {true, false}) {
    for (bool all : {true, false}) {
      SCOPED_TRACE(std::string(fromHost ? "host" : "synthesizer") + (all ? ", all programs" : ", program by slot"));
      ProtocolPlug plug;
      plug.hostFilter[Vexmir::kFilterPC] = false;
      plug.deviceFilter[Vexmir::kFilterPC] = false;
      const int target = all ? 10 : 20;
      bool sent = false;
      std::vector<Bytes> passedOn;
      std::string shown;
      plug.onEachPause = [&](int) {
        if (sent || plug.synthProgram != target) return;
        sent = true;
        if (fromHost) {
          passedOn = plug.fromHost({0xC0, 100});
          shown = plug.getDisplayLine(Vexmir::kLineName);
        } else {
          plug.synthProgram = 100;
          plug.fromSynth({0xC0, 100});
        }
      };
      ASSERT_TRUE(all ? plug.host()->requestAllPrograms() : plug.host()->requestProgram(target, target, false));
      ASSERT_TRUE(plug.waitIdle());
      plug.onEachPause = nullptr;
      ASSERT_TRUE(sent);
      EXPECT_EQ(plug.texts().back(), "Data request completed!");
      for (int slot = all ? 0 : target; slot <= (all ? kProgramsPerBank - 1 : target); ++slot)
        EXPECT_TRUE(plug.slotHoldsProgram(slot, slot)) << slot;
      if (!all) {
        EXPECT_FALSE(plug.slotHoldsProgram(100, 100));
      }
      EXPECT_TRUE(passedOn.empty()) << "the host's program change reached the synthesizer";
      if (fromHost) {
        EXPECT_EQ(shown, "Program change 101 ignored: a transfer is running");  // whole on the status display
      }
      expectAtRest(plug);
    }
  }
}

// With only MIDI OUT chosen nothing can answer: a host's program change goes out, and the host's notes after it pass.
TEST(ProtocolFaults, WithoutMidiInAHostProgramChangeGoesOutAndTheHostsNotesPass) {
  DataRoot root;
  ProtocolPlug plug;
  plug.midiInReady = false;
  plug.hostFilter[Vexmir::kFilterPC] = false;
  plug.take();
  IMidiMsg change(0, 0xC0, 7, 0);
  plug.ProcessMidiMsg(&change, false);
  for (int n = 0; n < 10; ++n) {
    IMidiMsg note(0, 0x90, 60 + n, 100);
    plug.ProcessMidiMsg(&note, false);
  }
  const std::vector<Bytes> out = plug.take();
  EXPECT_TRUE(std::any_of(out.begin(), out.end(), [](const Bytes& b) { return isProgramChange(b, 7); }));
  EXPECT_EQ(std::count_if(out.begin(), out.end(), [](const Bytes& b) { return b.size() == 3 && b[0] == 0x90; }), 10);
  EXPECT_FALSE(plug.getMidiManager()->isWorkerBusy(MidiWorker::kJobThread));
  EXPECT_EQ(plug.librarianCurrentProgram(), 7);
  expectAtRest(plug);
}

// The arrow keys move from the highlighted slot, whatever moved the highlight last: a paste, or a program change
// from the synthesizer. The slot they land on is the one auditioned.
TEST(ProtocolFaults, TheArrowKeysMoveFromTheHighlightedSlot) {
  DataRoot root;
  ProtocolPlug plug;
  plug.deviceFilter[Vexmir::kFilterPC] = false;
  LibrarianViewControl* view = plug.getLibrarianEditor()->view();
  ASSERT_NE(view, nullptr);
  auto click = [&](int side, int slot) {
    const IRECT r = view->slotRect(side, slot);
    IMouseMod left(true);
    view->OnMouseDown((r.L + r.R) / 2, (r.T + r.B) / 2, &left);
  };
  auto downAuditions = [&](int side, int slot) {
    plug.take();
    EXPECT_TRUE(view->OnKeyDown(0, 0, 2));
    ASSERT_TRUE(plug.waitIdle());
    EXPECT_EQ(jobtest::drawnSlot(plug.GetGUI(), view, side), slot);
    const std::vector<Bytes> out = plug.take();
    EXPECT_TRUE(std::any_of(out.begin(), out.end(), [&](const Bytes& b) { return isProgramChange(b, slot); }));
  };
  click(0, 10);
  const IRECT target = view->slotRect(0, 20);
  view->PasteSlotData((target.L + target.R) / 2, (target.T + target.B) / 2);
  EXPECT_EQ(jobtest::drawnSlot(plug.GetGUI(), view, 0), 20);
  downAuditions(0, 21);

  click(1, 3);
  ASSERT_EQ(jobtest::drawnSlot(plug.GetGUI(), view, 1), 3);
  plug.synthProgram = 57;
  plug.fromSynth({0xC0, 57});
  ASSERT_TRUE(plug.waitIdle());
  EXPECT_EQ(jobtest::drawnSlot(plug.GetGUI(), view, 0), 57);
  downAuditions(0, 58);
  EXPECT_EQ(jobtest::drawnSlot(plug.GetGUI(), view, 1), -1);
  expectAtRest(plug);
}

// A request for a slot that a running job refuses leaves the highlight where it was.
TEST(ProtocolFaults, ARefusedProgramRequestMovesNoHighlight) {
  DataRoot root;
  ProtocolPlug plug;
  plug.getLibrarian()->selectSlot(0, 4);
  int during = -2;
  bool refused = false;
  plug.onEachPause = [&](int) {
    if (during != -2) return;
    refused = !plug.host()->requestProgram(40, 40, false);
    during = plug.getLibrarian()->selectedSlot(0);
  };
  plug.press(kRequestTempData, 1);
  ASSERT_TRUE(plug.waitIdle());
  plug.onEachPause = nullptr;
  EXPECT_TRUE(refused);
  EXPECT_EQ(during, 4);
  EXPECT_EQ(jobtest::drawnSlot(plug.GetGUI(), plug.getLibrarianEditor()->view(), 0), 4);
  expectAtRest(plug);
}

TEST(ProtocolFaults, AConnectOrGlobalRequestWithoutAnAnswerLeavesNoConnectionPending) {
  DataRoot root;
  ProtocolPlug plug;
  plug.answer = Answer::kSilent;
  plug.sendSysExInitialization();
  ASSERT_TRUE(plug.waitIdle());
  EXPECT_TRUE(contains(plug.texts(), "No response from Hardware"));
  EXPECT_FALSE(plug.connectPending);
  // A reset sends all notes off on the next block.
  plug.Reset();
  plug.take();
  plug.audioBlock();
  const std::vector<Bytes> sent = plug.take();
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(), isAllNotesOff), 2);
  // A global dump nobody asked for, from another channel, is not taken.
  Bytes global(kGlobalDumpSize);
  std::vector<double> values(static_cast<size_t>(kNumParams), 0.0);
  buildGlobalDump(values.data(), 0x37, global.data());
  plug.fromSynth(global);
  EXPECT_EQ(plug.deviceId, 0x30);

  // A REQUEST cancelled while it waits for the global data.
  plug.answer = Answer::kAnswer;
  plug.onEachPause = [&](int) {
    if (plug.connectPending) {
      plug.answer = Answer::kSilent;
      plug.press(kReserved518, 1);
    }
  };
  plug.press(kRequestTempData, 1);
  ASSERT_TRUE(plug.waitIdle());
  plug.onEachPause = nullptr;
  EXPECT_EQ(plug.texts().back(), "Data request CANCELLED!");
  EXPECT_FALSE(plug.connectPending);
  expectAtRest(plug);
}

TEST(ProtocolFaults, ProgramBySlotFetchesTheSlotsOwnProgramAndTheLibrarianFollowsSends) {
  DataRoot root;
  ProtocolPlug plug;
  plug.synthProgram = 0;
  ASSERT_TRUE(plug.host()->requestProgram(5, 5, false));
  ASSERT_TRUE(plug.waitIdle());
  const std::vector<Bytes> sent = plug.take();
  EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [](const Bytes& b) { return isProgramChange(b, 5); }));
  EXPECT_FALSE(std::any_of(sent.begin(), sent.end(), [](const Bytes& b) { return isProgramChange(b, 0); }));
  EXPECT_TRUE(startsWith(slotName(plug, 5), "Prog005")) << slotName(plug, 5);
  EXPECT_EQ(plug.librarianCurrentProgram(), 5);
  // An audition of slot 9 switches the synthesizer to program 9: the librarian follows.
  LibrarianPatch program = plug.openBank()[9];
  ASSERT_TRUE(plug.host()->sendProgram(0, 9, program));
  ASSERT_TRUE(plug.waitIdle());
  EXPECT_EQ(plug.librarianCurrentProgram(), 9);
  expectAtRest(plug);
}

TEST(ProtocolFaults, ATimbreSwitchWhileAProgramIsRequestedKeepsTheEditorWaitingForIt) {
  DataRoot root;
  ProtocolPlug plug;
  plug.onEachPause = [&](int n) {
    if (n == 1) plug.press(kQuickTab, 1);
  };
  plug.deviceFilter[Vexmir::kFilterPC] = false;
  plug.synthProgram = 7;
  plug.fromSynth({0xC0, 7});  // a program change on the synthesizer: the editor asks for the program
  ASSERT_TRUE(plug.waitIdle());
  plug.onEachPause = nullptr;
  EXPECT_TRUE(startsWith(plug.programName(), "Prog007")) << plug.programName();
  ASSERT_FALSE(plug.texts().empty());
  EXPECT_EQ(plug.texts().back(), "Data request completed!");
  expectAtRest(plug);
}

// The host's program change: the editor asks for the program after the synthesizer's pause to switch. A knob turned
// on the synthesizer during that pause is held, as is everything else until the program has come.
TEST(ProtocolFaults, AKnobTurnedWhileTheEditorsProgramIsOnItsWayIsHeld) {
  DataRoot root;
  ProtocolPlug plug;
  std::atomic<int> followed{-1};
  const int leadPause = plug.pauses + 1;
  plug.onEachPause = [&](int n) {
    if (n == leadPause) followed = plug.editorFollowsKnob();
  };
  plug.hostFilter[Vexmir::kFilterPC] = false;
  IMidiMsg change(0, 0xC0, 7, 0);
  plug.ProcessMidiMsg(&change, false);
  ASSERT_TRUE(plug.waitIdle());
  plug.onEachPause = nullptr;
  EXPECT_EQ(followed, 0) << "the knob was applied before the program came";
  EXPECT_TRUE(startsWith(plug.programName(), "Prog007")) << plug.programName();
  expectAtRest(plug);
}

// The request records are armed by the job thread while the input fills them: under ThreadSanitizer a record
// written by both without its lock is reported here.
TEST(ProtocolFaults, RequestRecordsArmedByJobsWhileTheInputFillsThem) {
  DataRoot root;
  ProtocolPlug plug;
  std::atomic<bool> done{false};
  std::thread input([&] {
    const Bytes dump = programDump(11, 0);
    while (!done) plug.fromSynth(dump);
  });
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(plug.host()->initializeCurrentProgram());
    ASSERT_TRUE(plug.waitIdle());
  }
  done = true;
  input.join();
  expectAtRest(plug);
}

TEST(ProtocolFaults, AHugeOrMissingHostTempoGivesTheClockItsLimits) {
  DataRoot root;
  for (double tempo : {1e12, std::numeric_limits<double>::quiet_NaN(), -5.0}) {
    ProtocolPlug plug;
    plug.hostTempo = tempo;
    plug.storeParamValue(kOverrideTempo, 1);
    plug.press(kSendMIDIClockInfo, 1);
    plug.audioBlock();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (plug.clockTicks < 4 && std::chrono::steady_clock::now() < end) std::this_thread::yield();
    plug.press(kSendMIDIClockInfo, 0);
    ASSERT_TRUE(plug.waitIdle(MidiWorker::kClockThread));
    ASSERT_GE(plug.clockTicks, 4);
    const int64_t interval = plug.firstTickTimes[3] - plug.firstTickTimes[2];
    const int bpm = std::isnan(tempo) || tempo < 20 ? 20 : 300;
    EXPECT_NEAR(interval, 60'000'000'000 / (24 * bpm), 2) << tempo;
  }
}

TEST(ProtocolFaults, AStrayEditModeMessageDoesNotLeaveTheEditorDeaf) {
  DataRoot root;
  ProtocolPlug plug;
  plug.fromSynth({0xF0, 0x42, 0x30, 0x58, 0x4E, 0x01, 0x00, 0xF7});
  testTicks += MIDIMessageManager::kUnansweredWaitMs + 1;
  EXPECT_TRUE(plug.editorFollowsKnob());
  // A control change from the host is passed on again too.
  plug.take();
  IMidiMsg cc(0, 0xB0, 7, 99);
  plug.ProcessMidiMsg(&cc, false);
  EXPECT_FALSE(plug.take().empty());
  expectAtRest(plug);
}

// During a bank store (minutes long) the knobs and the host's MIDI keep working, also after the synthesizer said
// it went into edit mode: no dump is awaited then, so that wait ends by itself as it does when nothing runs.
TEST(ProtocolFaults, DuringABankStoreTheKnobsAndTheHostsMidiGoOn) {
  DataRoot root;
  ProtocolPlug plug;
  int turns = 0, followed = 0;
  plug.onEachPause = [&](int n) {
    if (n % 10 == 3) plug.fromSynth({0xF0, 0x42, 0x30, 0x58, 0x4E, 0x01, 0x00, 0xF7});
    if (n % 10 != 5) return;
    testTicks += MIDIMessageManager::kUnansweredWaitMs + 1;
    ++turns;
    followed += plug.editorFollowsKnob();
    IMidiMsg cc(0, 0xB0, 74, 64);
    plug.ProcessMidiMsg(&cc, false);
  };
  PatchFile bank;
  ASSERT_TRUE(plug.host()->storeBank(0, bank));
  ASSERT_TRUE(plug.waitIdle());
  plug.onEachPause = nullptr;
  const std::vector<Bytes> sent = plug.take();
  EXPECT_EQ(followed, turns);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), Bytes{0xB0, 74, 64}), turns);
  expectAtRest(plug);
}

// A Store or audition while the host's program change is fetched is refused and said so, and sends nothing into
// that fetch; during the store itself the host's program change and the program buttons are ignored and said so,
// and the program still goes out (into its memory, for a store).
TEST(ProtocolFaults, AStoreOrAuditionDuringATransferIsDoneOrSaysWhyNot) {
  DataRoot root;
  for (bool store : {true, false}) {
    ProtocolPlug plug;
    plug.hostFilter[Vexmir::kFilterPC] = false;
    const LibrarianPatch program = plug.openBank()[9];
    auto start = [&] { return store ? plug.host()->storeProgram(0, 9, program) : plug.host()->sendProgram(0, 9, program); };
    std::vector<std::string> shown;
    for (bool fetching : {true, false}) {
      plug.onEachPause = [&, fetching, at = plug.pauses + 1](int n) {
        if (n != at) return;
        plug.take();
        plug.editModeOn = true;  // a bank store refused sends nothing either, not even the end of edit mode
        EXPECT_FALSE(fetching && (start() || plug.sendPatchToDeviceFromLibrarian(9, 0) ||
                                  plug.storeAllPatchesToDeviceFromLibrarian(0, 0)));
        plug.editModeOn = false;
        if (!fetching) plug.fromHost({0xC0, 100});
        for (double v : {-1.0, 1.0, 0.0}) {
          if (v >= 0) plug.press(kPatchUp, v);
          if (v != 1) shown.push_back(plug.getDisplayLine(Vexmir::kLineName));
        }
        EXPECT_TRUE(plug.take().empty()) << "sent during the job";
      };
      ASSERT_TRUE(fetching ? !plug.fromHost({0xC0, 100}).empty() : start());
      ASSERT_TRUE(plug.waitIdle());
    }
    const std::string no = " ignored: a transfer is running";
    EXPECT_EQ(shown, std::vector<std::string>({(store ? "Store to program 10" : "Audition of slot 10") + no,
                                               "Program change 102" + no, "Program change 101" + no, "Program change 11" + no}));
    const std::vector<Bytes> out = plug.take();
    const SysexBytes& dump = program.messages.front().data;
    EXPECT_EQ(std::count(out.begin(), out.end(), Bytes(dump.data(), dump.data() + dump.size())), 1);
    EXPECT_EQ(std::count(out.begin(), out.end(), Bytes{0xF0, 0x42, 0x30, 0x58, 0x11, 0x00, 9, 0xF7}), store ? 1 : 0);
    EXPECT_EQ(plug.librarianCurrentProgram(), 9);
    expectAtRest(plug);
  }
}

// The host opens a project saved with another bank open at several pauses of each job that stores into the open bank
// (its ports coming back or not): the job's programs stay in the bank it started with, which stays open (flagged
// once a program came) and says so, the highlight stays, the other bank is left alone, and "completed" means every
// slot got its own program. Store into a slot with no slot highlighted or during a job says why it did not start.
TEST(ProtocolFaults, ARecallDuringAJobThatStoresIntoTheOpenBankLeavesItThatBank) {
  DataRoot root;
  const std::string patches = Vexmir::getPatchesFolderStr();
  std::filesystem::copy_file(patches + "/Init.vmr", patches + "/Other.vmr");
  for (int job : {kJobAllPatchRequest, kJobSinglePatchRequest, kJobSendArrangement})
    for (int at : {1, 4, 30})
      for (bool portsBack : {true, false}) {
        SCOPED_TRACE(std::to_string(job) + " at pause " + std::to_string(at) + (portsBack ? ", ports back" : ""));
        ProtocolPlug plug;
        LibrarianEditor* editor = plug.getLibrarianEditor();
        plug.press(kRefreshFolders, 1);
        ASSERT_TRUE(editor->selectBank(0, 1));
        plug.getLibrarian()->selectSlot(0, 5);
        const Bytes project = vexmir::testsupport::projectOf(plug.GetAEffect());
        ASSERT_TRUE(editor->selectBank(0, 0) && editor->bankOf(0)->fileName == "Init.vmr");
        plug.getLibrarian()->selectSlot(0, 20);
        plug.GetParam(kPatchName)->SetDisplayText(0, "Mine");
        const std::vector<LibrarianPatch> before = plug.openBank();
        std::string said;
        // Another instance saves the bank meanwhile: the bank held for the transfer is not read again, and Save asks.
        const std::string path = patches + "/Init.vmr";
        std::vector<uint8_t> theirs = vexmir::testsupport::readBytes(patches + "/Other.vmr");
        theirs[100 * kProgramDumpSize + 20] ^= 1;
        bool saved = false;
        plug.onEachPause = [&](int n) {
          if (n != at) return;
          vexmir::testsupport::writeBytes(path, theirs);
          saved = true;
          EXPECT_FALSE(editor->readAgainIfChanged(0)) << "the bank held for the transfer was read again";
          ASSERT_TRUE(vexmir::testsupport::openProject(plug.GetAEffect(), project));
          said = editor->lastMessage();
          plug.midiOutReady = plug.midiInReady = portsBack;
        };
        if (job == kJobSendArrangement) plug.press(kOverwriteBank, 1);
        ASSERT_TRUE(job == kJobSendArrangement || (job == kJobAllPatchRequest ? plug.host()->requestAllPrograms()
                                                                               : plug.host()->requestProgram(20, 20, false)));
        ASSERT_TRUE(plug.waitIdle());
        plug.onEachPause = nullptr;
        EXPECT_EQ(editor->bankOf(0)->fileName, "Init.vmr");
        const std::vector<LibrarianPatch> after = plug.openBank();
        bool came = false;
        for (size_t p = 0; p < after.size(); ++p) came |= after[p].messages != before[p].messages;
        EXPECT_EQ(editor->openBankUnsaved(), came);
        EXPECT_TRUE(!came || !saved || editor->follower().changedSince(*editor->bankOf(0), path)) << "Save would not ask";
        std::filesystem::copy_file(patches + "/Other.vmr", path, std::filesystem::copy_options::overwrite_existing);
        EXPECT_TRUE(said.empty() || (startsWith(said, "Init.vmr ") &&
                                     said.find(": the project's bank Other.vmr was not opened.") != std::string::npos)) << said;
        if (job != kJobAllPatchRequest) {
          EXPECT_EQ(plug.getLibrarian()->selectedSlot(0), 20);
        }
        const std::vector<LibrarianPatch>& other = plug.getLibrarian()->bankAt(1)->patches;
        EXPECT_TRUE(std::all_of(other.begin(), other.end(), [&](const LibrarianPatch& p) { return p.messages == before[0].messages; }));
        for (int slot = job == kJobAllPatchRequest ? 0 : 20; slot <= (job == kJobAllPatchRequest ? 127 : 20); ++slot) {
          EXPECT_TRUE(plug.lastText() != "Data request completed!" || plug.slotHoldsProgram(slot, slot)) << slot;
        }
        expectAtRest(plug);
      }
  ProtocolPlug plug;
  plug.getLibrarian()->selectSlot(0, -1);
  plug.press(kOverwriteBank, 1);
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineName), "Program not stored: no slot is highlighted");
  plug.getLibrarian()->selectSlot(0, 9);
  std::string shown;
  plug.onEachPause = [&](int n) {
    if (n > 1) return;
    plug.press(kOverwriteBank, 1);
    shown = plug.getDisplayLine(Vexmir::kLineName);
  };
  plug.press(kRequestTempData, 1);
  ASSERT_TRUE(plug.waitIdle());
  plug.onEachPause = nullptr;
  EXPECT_EQ(shown, "Store into slot 10 ignored: a transfer is running");
}

// A bank store against a synthesizer that confirms what it loads: a dump lost before it confirmed any is written
// unconfirmed, once it confirms a dump lost once is sent again, one lost twice is not written, and the end names them,
// also when the store is cancelled.
TEST(ProtocolFaults, ABankStoreResendsALostDumpAndNamesTheProgramNotConfirmed) {
  DataRoot root;
  ProtocolPlug plug;
  plug.answersResults = true;
  plug.lostDumps = {0, 4, 9, 9};
  ASSERT_TRUE(plug.host()->storeBank(0, PatchFile()));
  ASSERT_TRUE(plug.waitIdle());
  EXPECT_EQ(plug.texts().back(), "Not confirmed: 1, 10");
  int program = 0, dumps[128] = {}, writes[128] = {};
  for (const Bytes& b : plug.take()) {
    if (b.size() == 3 && (b[0] & 0xF0) == 0xC0) program = b[1];
    dumps[program] += b.size() == static_cast<size_t>(kProgramDumpSize);
    if (b.size() == 8 && b[4] == 0x11) ++writes[b[6]];
  }
  for (int p : {0, 4, 9, 127})
    EXPECT_EQ(std::make_pair(dumps[p], writes[p]), std::make_pair(p == 4 || p == 9 ? 2 : 1, p == 9 ? 0 : 1)) << p;
  plug.lostDumps = {9, 9};
  plug.setStatusHook([&](const std::string& text) {
    if (text == "Please wait! Writing.. 9%") plug.getMidiManager()->getSender()->cancel = true;  // after program 13
  });
  ASSERT_TRUE(plug.host()->storeBank(0, PatchFile()));
  ASSERT_TRUE(plug.waitIdle());
  EXPECT_EQ(plug.texts().back(), "Data write cancelled! Not confirmed (not written): 10");
  EXPECT_NE(plug.getDisplayLine(Vexmir::kLineName).find("not written): 10"), std::string::npos);  // whole on the display
}

// The host's program change reaches the synthesizer before the request for the program it chose starts: were the
// request's job running when the change is passed on, the change would wait here for the job's first step.
TEST(ProtocolFaults, AHostsProgramChangeIsPassedOnBeforeItsRequestStarts) {
  DataRoot root;
  ProtocolPlug plug;
  plug.hostFilter[Vexmir::kFilterPC] = false;
  const Bytes change = {0xC1, 100, 0};
  std::atomic<int> passedOn{0}, atFirstStep{-1};
  plug.onEachPause = [&, first = plug.pauses + 1](int n) {
    if (n == first) atFirstStep = passedOn.load();
  };
  plug.onHeard = [&](const Bytes& b) {
    if (b != change) return;
    for (int ms = 0; ms < 10000 && atFirstStep < 0 && plug.getMidiManager()->isWorkerBusy(MidiWorker::kJobThread); ++ms)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++passedOn;
  };
  plug.fromHost({0xC1, 100});
  ASSERT_TRUE(plug.waitIdle());
  EXPECT_EQ(atFirstStep, 1);
}
