// Random sequences of the ordinary actions of a musician against the real editor object and the model
// synthesizer, which answers, stays silent, answers late or twice; during any job a program change may come from
// the host or the synthesizer, and the host may play a note or open a project. After every action the protocol must
// be at rest: nothing armed, waiting or busy without its job, no librarian slot changed but the one the action
// addressed, every slot a fetch reported as received holds the program the synthesizer sent for it, the arrow keys
// move from the highlighted slot, the host's notes reached the synthesizer during a librarian transfer and its program
// changes did not, the editor follows the next knob turned on the synthesizer, a reset sends all notes off, and a
// clock switched off stops. Projects are saved and opened again, some after edits in another bank and some with their
// bank path rewritten as a stranger may, and banks are saved as files in Patches and beside it, those a project
// brought without a file too: no file outside the data folder changes or appears, every program fetched, stored or
// renamed and not discarded is on disk or in the open bank shown as unsaved, the bank the librarian's message says is
// open is the open one, and what it says names what happened. A failing sequence is shrunk to a short one and printed.
//
// VEXMIR_SEQUENCES sets the number of sequences (2,000 by default), VEXMIR_SEQUENCE_SEED the first seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <sstream>

#include "platform/cocoa/panels.h"
#include "platform/cocoa/view.h"
#include "platform/vst2/vst2.h"
#include "protocol_plug.h"
#include "src/PatchLibrarianFiles.h"
#include "tests/fuzz/fuzz_data_root.h"
#include "tests/support/Files.h"
#include "tests/support/ProjectChunk.h"
#include "tests/support/SysexDumps.h"

using namespace prototest;

namespace {

enum class Act {
  kRequest,
  kConnect,
  kFetchOne,
  kFetchTemporary,
  kFetchAll,
  kAudition,
  kStoreOne,
  kStoreBank,
  kStoreIntoLibrarian,
  kInitialize,
  kSynthKnob,
  kSynthEditMode,
  kSynthProgramChange,
  kHostProgramChange,
  kProgramUpDown,
  kTimbre,
  kTab,
  kClock,
  kRandomize,
  kSaveAndRecall,
  kStoreSelected,
  kArrowKey,
  kSaveAs,
  kCount
};

const char* const kActNames[] = {"REQUEST",          "connect",           "fetch program by slot",
                                 "fetch temporary",  "fetch all programs", "audition slot",
                                 "store slot",       "store bank",        "store editor program into librarian",
                                 "initialize slot",  "synth knob",        "synth edit mode on",
                                 "synth program change", "host program change", "program up/down",
                                 "timbre",           "tab",               "clock on and off",
                                 "randomize",        "save and recall state", "store selected slot",
                                 "arrow key",        "save as"};

struct Step {
  Act act = Act::kRequest;
  int arg = 0;
  Answer answer = Answer::kAnswer;
  int lateBy = 0;
  int cancelAt = 0;  // the pause at which the user cancels (0: never)
  int knobAt = 0;    // the pause at which a knob is turned on the synthesizer (0: never)
  int changeAt = 0;  // the pause at which a program change comes from outside (0: never)
  bool changeFromHost = false;
  int changeTo = 0;
  int noteAt = 0;  // the pause at which the host plays a note (0: never)
  int recallAt = 0;  // the pause at which the host opens a project (0: never): bit 0 of variant its own, else one of
                     // another bank; bit 1 its ports come back at once
  // Save and recall: bits 0-1 zero makes unsaved edits in another bank before the recall, both set only settles the
  // open bank's own (bit 2: they are saved, else discarded); bits 3-6 from 10 on rewrite the project's bank path.
  int variant = 0;
};

const char* const kPathNames[] = {"a text file outside the data folder", "../ to a bank beside Patches",
                                  "../ back into Patches", "a text file in Patches", "a missing file outside",
                                  "a missing file in Patches"};
constexpr int kRewriteFrom = 10;

bool editsElsewhere(const Step& s) {
  return (s.variant & 3) == 0;
}
// Bits 0-1 both set: the open bank's edits are only saved or discarded (bit 2) before the recall.
bool settlesFirst(const Step& s) {
  return editsElsewhere(s) || (s.variant & 3) == 3;
}
int rewrittenPath(const Step& s) {
  return (s.variant >> 3) - kRewriteFrom;
}

// The host opens a project during the action, but not while the clock is switched or a project saved and recalled.
bool recallsDuring(const Step& s) {
  return s.recallAt && s.act != Act::kClock && s.act != Act::kSaveAndRecall;
}

std::string describe(const Step& s) {
  std::ostringstream out;
  out << kActNames[static_cast<int>(s.act)] << " " << s.arg << ", synthesizer " << answerName(s.answer);
  if (s.answer == Answer::kLate) out << " by " << s.lateBy << " pauses";
  if (s.cancelAt) out << ", cancel at pause " << s.cancelAt;
  if (s.knobAt) out << ", knob at pause " << s.knobAt;
  if (s.changeAt)
    out << ", program change " << s.changeTo << " from the " << (s.changeFromHost ? "host" : "synthesizer")
        << " at pause " << s.changeAt;
  if (s.noteAt) out << ", host note at pause " << s.noteAt;
  if (recallsDuring(s))
    out << ", " << (s.variant & 1 ? "its own" : "another bank's") << " project opened at pause " << s.recallAt
        << (s.variant & 2 ? ", ports back" : "");
  if (s.act == Act::kSaveAndRecall && settlesFirst(s))
    out << (editsElsewhere(s) ? ", edits in another bank" : "") << " after " << (s.variant & 4 ? "saving" : "discarding")
        << " the open one's edits (if any)";
  if (s.act == Act::kSaveAndRecall && rewrittenPath(s) >= 0) out << ", bank path: " << kPathNames[rewrittenPath(s)];
  return out.str();
}

Step randomStep(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  Step s;
  s.act = static_cast<Act>(pick(static_cast<int>(Act::kCount)));
  s.arg = pick(128);
  const int a = pick(20);
  s.answer = a < 12 ? Answer::kAnswer : a < 15 ? Answer::kSilent : a < 18 ? Answer::kLate : Answer::kTwice;
  s.lateBy = 1 + pick(60);
  if (pick(4) == 0) s.cancelAt = 1 + pick(60);
  if (pick(4) == 0) s.knobAt = 1 + pick(60);
  if (pick(3) == 0) {
    s.changeAt = 1 + pick(60);
    s.changeFromHost = pick(2) == 0;
    s.changeTo = pick(128);
  }
  if (pick(3) == 0) s.noteAt = 1 + pick(60);
  if (pick(4) == 0) s.recallAt = 1 + pick(pick(2) ? 4 : 60);
  s.variant = pick(128);
  return s;
}

bool sameProgram(const LibrarianPatch& a, const LibrarianPatch& b) {
  return a.messages.size() == b.messages.size() &&
         (a.messages.empty() || a.messages.front().data == b.messages.front().data);
}

// The same program, whatever channel its dump names (a bank file keeps its own).
bool sameData(const LibrarianPatch& a, const LibrarianPatch& b) {
  if (a.messages.empty() || b.messages.empty()) return false;
  const SysexBytes &x = a.messages.front().data, &y = b.messages.front().data;
  return x.size() > 3 && y.size() > 3 && std::equal(x.begin() + 3, x.end(), y.begin() + 3, y.end());
}

// The bank a message of the librarian says is open ("" when it names none).
std::string namedBank(const std::string& said) {
  static const std::pair<const char*, const char*> kForms[] = {
      {"", " has unsaved changes here, so it stays open: "},
      {"", " stays open while the transfer into it runs: "},
      {"Saved ", " outside the Patches folder: it stays open"},
      {"The project's unsaved bank ", " is open from the project"},
      {": ", " is open instead."}};
  for (const auto& [head, tail] : kForms) {
    const size_t end = said.find(tail), start = *head == ':' ? said.rfind(head, end) : 0;
    if (end != std::string::npos && start != std::string::npos && said.compare(start, std::strlen(head), head) == 0)
      return librarianfiles::lastComponent(said.substr(start + std::strlen(head), end - start - std::strlen(head)));
  }
  return {};
}

// The slot an arrow key (1 up, 2 down, 3 left, 4 right) moves to in a bank of 8 columns of 16, wrapping around.
int arrowTarget(int from, int key) {
  static const int step[] = {127, 1, 112, 16};
  return (from + step[key - 1]) % 128;
}

// The fetches end with one of these texts.
bool isFetchEnd(const std::string& t) {
  return t == "Data request completed!" || t == "Data request CANCELLED!" || t == "CONNECTION TIMED OUT!" ||
         t.find("(slots kept)") != std::string::npos || t.rfind("Not received", 0) == 0;
}

struct Failure {
  int step = -1;
  std::string what;
  explicit operator bool() const { return step >= 0; }
};

class Runner {
 public:
  Runner() {
    plug.press(kMIDIFilterDAWCCPassThrough + Vexmir::kFilterPC, 1);
    plug.press(kMIDIFilterHWCCPassThrough + Vexmir::kFilterPC, 1);
    // A second bank, and what a project may name instead of a bank: files of the musician's outside the data
    // folder, a bank beside Patches and a text file in it.
    namespace fs = std::filesystem;
    fs::create_directories(outside);
    vexmir::testsupport::writeText(outside + "/notes.txt", "the musician's notes\n");
    fs::copy_file(patches + "/Init.vmr", patches + "/Other.vmr");
    fs::copy_file(patches + "/Init.vmr", dataFolder + "/Outside.vmr");
    vexmir::testsupport::writeText(patches + "/readme.txt", "not a bank\n");
    plug.press(kRefreshFolders, 1);
    untouched = outsideFiles();
    // A project saved with the second bank open, and the editor open for the file panels.
    LibrarianEditor* editor = plug.getLibrarianEditor();
    editor->selectBank(0, 1);
    otherProject = vexmir::testsupport::projectOf(plug.GetAEffect());
    editor->selectBank(0, 0);
    plug.GetAEffect()->dispatcher(plug.GetAEffect(), effCanDo, 0, 0, const_cast<char*>("hasHostViewAsConfig"), 0);
    plug.GetAEffect()->dispatcher(plug.GetAEffect(), effEditOpen, 0, 0, window->contentView(), 0);
  }
  ~Runner() {
    plug.GetAEffect()->dispatcher(plug.GetAEffect(), effEditClose, 0, 0, nullptr, 0);
    window->release();
  }

  Failure run(const std::vector<Step>& steps) {
    for (size_t i = 0; i < steps.size(); ++i) {
      const std::string broken = step(steps[i]);
      if (!broken.empty()) return Failure{static_cast<int>(i), broken};
    }
    return Failure{};
  }

 private:
  // A program the musician changed or a job stored: the bank it went into (a file's path, or a bank without one),
  // its slot and the program.
  struct Edit {
    std::string bank;
    int slot;
    LibrarianPatch program;
  };

  // Every entry under the root but the data folder, and the bank beside Patches.
  fuzztest::Tree outsideFiles() const {
    fuzztest::Tree files = fuzztest::treeOutside(root.path, dataFolder);
    files["Outside.vmr"] = {'f', fuzztest::fileBytes(dataFolder + "/Outside.vmr")};
    return files;
  }

  // The renamed programs that a later change of the musician's replaced, or that went with their file, are gone.
  template <class Replaced>
  void forget(Replaced replaced) {
    edits.erase(std::remove_if(edits.begin(), edits.end(), replaced), edits.end());
  }

  static bool holds(const std::vector<LibrarianPatch>& bank, const Edit& e) {
    return static_cast<size_t>(e.slot) < bank.size() && sameData(bank[static_cast<size_t>(e.slot)], e.program);
  }
  // Every slot of `bank` whose program differs from `from` holds a change of the musician's or a job's.
  void track(const std::vector<LibrarianPatch>& from, const std::vector<LibrarianPatch>& to, const std::string& bank) {
    for (int p = 0; p < static_cast<int>(std::min(from.size(), to.size())); ++p)
      if (!sameProgram(from[static_cast<size_t>(p)], to[static_cast<size_t>(p)])) {
        forget([&](const Edit& e) { return e.bank == bank && e.slot == p; });
        edits.push_back({bank, p, to[static_cast<size_t>(p)]});
      }
  }
  // The open bank was saved from `from` to the file `to`, over what that file held.
  void saved(const std::string& from, const std::string& to) {
    if (from != to) forget([&](const Edit& e) { return e.bank == to; });
    for (Edit& e : edits)
      if (e.bank == from) e.bank = to;
  }
  // The first broken rule of the changes: each is on disk, or in the open bank shown as unsaved.
  std::string lostChange(LibrarianEditor* editor, const std::vector<LibrarianPatch>& open) {
    std::map<std::string, PatchFile> files;
    for (const Edit& e : edits) {
      if (editor->openBankUnsaved() && e.bank == editor->upperBankPath && holds(open, e)) continue;
      if (!e.bank.empty() && e.bank[0] == '/' && !files.count(e.bank)) {
        const Bytes bytes = vexmir::testsupport::readBytes(e.bank);
        reader.loadFromBytes(bytes.data(), bytes.size(), &files[e.bank]);
      }
      if (!files.count(e.bank) || !holds(files[e.bank].patches, e))
        return "the program " + e.program.name + " put into slot " + std::to_string(e.slot) + " of " + e.bank +
               " is neither on disk nor in the open bank shown as unsaved";
    }
    return {};
  }
  // A project's unsaved edits opened over a bank (not kept open here): what that bank held here gives way to them.
  void projectOpened(bool kept) {
    const std::string open = plug.getLibrarianEditor()->upperBankPath;
    if (!kept && plug.getLibrarianEditor()->openBankUnsaved()) forget([&](const Edit& e) { return e.bank == open; });
  }
  void portsBack() {
    plug.storeParamValue(kDeviceOutSelection, 1);
    plug.midiOutReady = true;
    plug.midiInReady = true;
  }
  // The host opens a project while the action runs, on the job's thread: the open editor's thread takes its
  // librarian part over on its next idle, after the action (handedOverRecall).
  void recallDuring(const Step& s) {
    LibrarianEditor* editor = plug.getLibrarianEditor();
    const std::string path = editor->upperBankPath;
    if (!vexmir::testsupport::openProject(plug.GetAEffect(), s.variant & 1 ? stepProject : otherProject))
      broke("the project opened during the action was refused");
    if (editor->upperBankPath != path) broke("the recall changed the open bank on the host's thread");
    if (s.variant & 2) portsBack();
    recallWaits = true;
  }
  // The editor's idle on its own thread: a recall handed over opens its bank now. What a job stored until then went
  // into the bank open before.
  void handedOverRecall() {
    if (!recallWaits) return;
    recallWaits = false;
    LibrarianEditor* editor = plug.getLibrarianEditor();
    if (editor->upperBankPath == basePath) track(base, plug.openBank(), basePath);
    const bool kept = editor->openBankUnsaved();
    plug.OnIdle();
    projectOpened(kept);
    base = plug.openBank();
    basePath = editor->upperBankPath;
    recalled = true;
  }

  // The open bank's edits saved or discarded, as the librarian asks, and then (bits 0-1 zero) unsaved edits in another
  // bank.
  std::string editElsewhere(const Step& s, LibrarianEditor* editor) {
    if (editor->openBankUnsaved()) {
      if (s.variant & 4) {
        const std::string from = editor->upperBankPath;
        // The edits go into the file whatever another project's recall made of it: Replace, should Save ask.
        cocoa::alerts::scriptResponse(cocoa::kAlertAlternateResponse);
        const bool ok = editor->saveOpenBank();
        cocoa::alerts::clearScript();
        if (!ok) return "Save failed: " + editor->lastMessage();
        saved(from, editor->upperBankPath);
      } else {
        forget([&](const Edit& e) { return e.bank == editor->upperBankPath; });
        plug.press(kDiscardBankData, 1);
      }
      if (editor->openBankUnsaved()) return "the open bank is still flagged unsaved after Save or Discard";
    }
    if (!editsElsewhere(s)) return {};
    std::vector<int> others;
    const auto& banks = plug.getLibrarian()->bankFiles;
    for (size_t i = 0; i < banks.size(); ++i)
      if (banks[i] && banks[i]->fileName != "A.vmr" && static_cast<int>(i) != plug.getLibrarian()->upperBankIndex)
        others.push_back(static_cast<int>(i));
    if (others.empty()) return "no other bank is listed";
    if (!editor->selectBank(0, others[static_cast<size_t>(s.arg) % others.size()]))
      return "another bank did not open: " + editor->lastMessage();
    const std::vector<LibrarianPatch> open = plug.openBank();
    char name[16];
    std::snprintf(name, sizeof name, "Edit%07d", ++editCount);
    if (!editor->renameProgram(s.arg, name)) return "the rename was refused";
    track(open, plug.openBank(), editor->upperBankPath);
    return {};
  }

  std::string step(const Step& s) {
    const std::vector<LibrarianPatch> before = plug.openBank();
    std::vector<int> addressed;
    // A recall may open another bank than the one open before.
    bool anotherBank = false;
    LibrarianEditor* editor = plug.getLibrarianEditor();
    AEffect* e = plug.GetAEffect();
    editor->clearMessage();
    base = before;
    basePath = editor->upperBankPath;
    recalled = false;
    if (s.recallAt) stepProject = vexmir::testsupport::projectOf(e);
    plug.answer = s.answer;
    plug.lateBy = s.lateBy;
    const int start = plug.pauses;
    const size_t textsBefore = plug.texts().size();
    {
      std::lock_guard<std::mutex> lock(pauseMutex);
      pauseBroken.clear();
    }
    plug.onEachPause = [this, s, start](int n) {
      if (s.cancelAt && n - start == s.cancelAt) plug.press(kReserved518, 1);
      if (s.knobAt && n - start == s.knobAt) plug.fromSynth(plug.knob(n % 2));
      if (s.changeAt && n - start == s.changeAt) outsideProgramChange(s);
      if (s.noteAt && n - start == s.noteAt) hostNote(s);
      if (recallsDuring(s) && n - start == s.recallAt) recallDuring(s);
    };
    LibrarianHost* host = plug.host();
    const int slot = s.arg;
    // What the musician sees highlighted before the action: the slot it must use.
    const int shown = jobtest::drawnSlot(plug.GetGUI(), editor->view(), 0);
    switch (s.act) {
      case Act::kRequest:
        plug.press(kRequestTempData, 1);
        break;
      case Act::kConnect:
        plug.sendSysExInitialization();
        break;
      case Act::kFetchOne:
        host->requestProgram(slot, slot, false);
        addressed.push_back(slot);
        break;
      case Act::kFetchTemporary:
        host->requestProgram(-1, slot, false);
        addressed.push_back(slot);
        break;
      case Act::kFetchAll:
        host->requestAllPrograms();
        for (int p = 0; p < kProgramsPerBank; ++p) addressed.push_back(p);
        break;
      case Act::kAudition:
        host->sendProgram(0, slot, before[static_cast<size_t>(slot)]);
        break;
      case Act::kStoreOne:
        host->storeProgram(0, slot, before[static_cast<size_t>(slot)]);
        break;
      case Act::kStoreBank: {
        PatchFile bank;
        host->storeBank(0, bank);
        break;
      }
      case Act::kStoreIntoLibrarian:
        addressed.push_back(shown);
        plug.press(kOverwriteBank, 1);
        plug.press(kOverwriteBank, 0);
        break;
      case Act::kInitialize:
        addressed.push_back(shown);
        host->initializeCurrentProgram();
        break;
      case Act::kSynthKnob:
        plug.fromSynth(plug.knob(slot % 2));
        break;
      case Act::kSynthEditMode:
        plug.fromSynth({0xF0, 0x42, 0x30, 0x58, 0x4E, 0x01, 0x00, 0xF7});
        break;
      case Act::kSynthProgramChange:
        plug.synthProgram = slot;
        plug.fromSynth({0xC0, static_cast<uint8_t>(slot)});
        break;
      case Act::kHostProgramChange: {
        IMidiMsg pc(0, 0xC0, slot, 0);
        plug.ProcessMidiMsg(&pc, false);
        break;
      }
      case Act::kProgramUpDown:
        plug.press(slot % 2 ? kPatchUp : kPatchDown, 1);
        break;
      case Act::kTimbre:
        plug.press(kQuickTab, slot % 2);
        break;
      case Act::kTab:
        plug.press(kMainTab, 1 + slot % 4);
        break;
      case Act::kClock: {
        plug.press(kSendMIDIClockInfo, 1);
        plug.audioBlock();
        const int ticks = plug.clockTicks;
        if (!plug.waitUntil([&] { return plug.clockTicks != ticks; }, 60))
          return "the clock sent no tick after it was switched on (" + plug.stalled + ")";
        plug.press(kSendMIDIClockInfo, 0);
        plug.audioBlock();  // a block right after the switch-off
        if (!plug.waitIdle(MidiWorker::kClockThread, 5))
          return "the clock still runs after it was switched off (" + plug.stalled + ")";
        break;
      }
      case Act::kRandomize:
        if (plug.paramValue(kMainTab) < 1) plug.press(kMainTab, 2);
        plug.press(kRandomize, 1);
        break;
      case Act::kSaveAndRecall: {
        // Through the host's entry, as a host saves and opens a project.
        Bytes project = vexmir::testsupport::projectOf(e);
        const bool projectEdits = editor->openBankUnsaved();
        const std::string projectPath = editor->upperBankPath;
        if (!plug.waitIdle()) return "a job did not end (" + plug.stalled + ")";
        Bytes saved(kProgramDumpSize);
        plug.buildProgramDumpOf(plug.programName(), plug.currentValues(), saved.data());
        // Another program comes before the project is opened again: none of its bytes may go out with the recall.
        plug.synthProgram = (slot + 1) % kProgramsPerBank;
        plug.press(kRequestTempData, 1);
        if (!plug.waitIdle()) return "a job did not end (" + plug.stalled + ")";
        plug.deliverOwed();
        // The Patches folder changes too, and is read again: a bank that sorts first comes, or goes again with what
        // was saved into it (unless it is the one open).
        const std::string added = patches + "/A.vmr";
        if (editor->upperBankPath != added) {
          forget([&](const Edit& d) { return d.bank == added; });
          if (!std::filesystem::remove(added)) std::filesystem::copy_file(patches + "/Init.vmr", added);
        }
        plug.press(kRefreshFolders, 1);
        if (settlesFirst(s)) {
          const std::string broken = editElsewhere(s, editor);
          if (!broken.empty()) return broken;
        }
        const int rewritten = rewrittenPath(s);
        const std::string paths[] = {outside + "/notes.txt",   patches + "/../Outside.vmr",
                                     patches + "/../Patches/Init.vmr", patches + "/readme.txt",
                                     outside + "/missing.vmr", patches + "/Missing.vmr"};
        if (rewritten >= 0) {
          project = vexmir::testsupport::withBankPath(project, projectPath, paths[rewritten]);
          if (project.empty()) return "the project holds no bank path " + projectPath;
        }
        // Edits made here (by this action or before it) keep their bank open.
        const std::string kept = editor->openBankUnsaved() ? editor->upperBankPath : std::string();
        // (The missing file in Patches is there once a bank without a file named after it was saved.)
        const std::string projectBank = rewritten < 0    ? projectPath
                                        : rewritten == 2 ? patches + "/Init.vmr"
                                        : rewritten == 5 && std::filesystem::exists(paths[5]) ? paths[5]
                                                                                              : "";
        // Where its path names none of the banks, the bank it opened from memory before goes by that path's name.
        const std::string name = rewritten < 0 ? "" : librarianfiles::lastComponent(paths[rewritten]);
        const std::string fromMemory = "project:" + name + (name.find(".vmr") == std::string::npos ? ".syx" : "");
        anotherBank = settlesFirst(s) || rewritten >= 0;
        editor->clearMessage();
        if (!vexmir::testsupport::openProject(e, project)) return "the project was refused";
        projectOpened(!kept.empty());
        const std::string said = editor->lastMessage();
        if (!kept.empty()) {
          if (editor->upperBankPath != kept || !editor->openBankUnsaved())
            return "the bank with the edits made here did not stay open and flagged";
          // Quiet only where the project's bank is that bank (with the same programs).
          if (((kept != projectBank && kept != fromMemory) || !said.empty()) &&
              said.rfind(editor->bankOf(0)->fileName + " has unsaved changes here, so it stays open: ", 0) != 0)
            return "the recall said: " + said;
        } else if (!projectBank.empty()) {
          if (editor->upperBankPath != projectBank ||
              (rewritten < 0 && jobtest::drawnSlot(plug.GetGUI(), editor->view(), 0) != shown))
            return "another bank or slot opened";
          // A bank without a file opens from the project again, and says so; edits made on another file than the one
          // they open on say that Save asks.
          const bool fromProject = projectBank.rfind("project:", 0) == 0 && said.rfind("The project's unsaved bank ", 0) == 0;
          const bool otherFile =
              projectEdits && said.find(" is not as it was when the project's unsaved edits were made on it: ") != std::string::npos;
          if (!said.empty() && !fromProject && !otherFile) return "the recall said: " + said;
        } else if (projectEdits) {
          if (editor->upperBankPath.rfind("project:", 0) != 0 || !editor->openBankUnsaved() ||
              said.rfind("The project's unsaved bank ", 0) != 0)
            return "the project's edits of a path that is none of its banks did not open from memory: " + said;
        } else if (said.rfind("The project's bank ", 0) != 0) {
          return "the recall said: " + said;
        }
        if (plug.paramValue(kCurrentBank) != plug.getLibrarian()->upperBankIndex) return "the bank shown is not the one open";
        // The port of the project is found again (the test's port has no name a MIDI system would list), and the
        // recall sends its program as it does then.
        portsBack();
        plug.take();
        if (!plug.startRecalledProgramSend() || !plug.waitIdle()) return "the recalled program's send did not run";
        const std::vector<Bytes> out = plug.take();
        const auto dump = std::find_if(out.rbegin(), out.rend(), [](const Bytes& b) { return b.size() == static_cast<size_t>(kProgramDumpSize); });
        if (dump == out.rend()) return "the recall sent no program";
        if (vexmir::testsupport::dataOf(*dump) != vexmir::testsupport::dataOf(saved)) return "the recall sent another program than the one saved";
        break;
      }
      case Act::kStoreSelected:
        plug.take();
        if (editor->storeSelectedProgram() && !plug.waitIdle()) return "a job did not end (" + plug.stalled + ")";
        for (const Bytes& b : plug.take())
          if (b.size() == 8 && b[4] == 0x11 && shown >= 0 && b[6] != shown)
            return "the program stored is " + std::to_string(b[6]) + ", not the highlighted " + std::to_string(shown);
        break;
      case Act::kArrowKey: {
        const int key = 1 + slot % 4;
        const int lower = jobtest::drawnSlot(plug.GetGUI(), editor->view(), 1);
        const int side = lower >= 0 ? 1 : 0, from = side ? lower : shown;
        plug.take();
        editor->view()->OnKeyDown(0, 0, key);
        if (!plug.waitIdle()) return "a job did not end (" + plug.stalled + ")";
        if (recalled) break;  // the project's highlight
        const int to = jobtest::drawnSlot(plug.GetGUI(), editor->view(), side);
        if (from >= 0 && to != arrowTarget(from, key))
          return "the arrow key went to slot " + std::to_string(to) + ", not on from the highlighted " + std::to_string(from);
        if (from < 0 && to < 0) return "the arrow key highlighted no slot";
        // The slot it lands on is the one auditioned: the synthesizer is switched to its program.
        const std::vector<Bytes> out = plug.take();
        if (side == 0 && std::none_of(out.begin(), out.end(), [&](const Bytes& b) { return isProgramChange(b, to); }))
          return "the arrow key did not audition the highlighted slot " + std::to_string(to);
        break;
      }
      case Act::kSaveAs: {
        // In Patches or beside it (in the data folder): the bank saved is the one open, and no longer flagged.
        const std::string target = (slot % 2 ? patches : dataFolder) + "/Saved " + std::to_string(slot % 3) + ".vmr";
        if (s.variant & 1) {
          // A bank a project brought without a file: the open one's edits, the project naming no bank for them.
          // A name of its own: a rename to the name a slot already has changes nothing.
          char name[16];
          std::snprintf(name, sizeof name, "Proj%07d", ++editCount);
          if (!editor->openBankUnsaved() && !editor->renameProgram(slot, name)) return "the rename was refused";
          const Bytes project = vexmir::testsupport::withBankPath(vexmir::testsupport::projectOf(e),
                                                                  editor->upperBankPath, outside + "/missing.vmr");
          forget([&](const Edit& d) { return d.bank == editor->upperBankPath; });
          plug.press(kDiscardBankData, 1);
          if (!vexmir::testsupport::openProject(e, project) || !plug.waitIdle() || !editor->bankOf(0)->fromProject)
            return "no bank without a file opened: " + editor->lastMessage();
          projectOpened(false);
          track(before, plug.openBank(), editor->upperBankPath);
          anotherBank = true;
        }
        const std::string from = editor->upperBankPath;
        editor->clearMessage();  // as the menu does
        cocoa::panels::scriptChoice(target);
        if (!editor->saveOpenBankAs(false)) return "Save As did not save: " + editor->lastMessage();
        const PatchFile* open = editor->bankOf(0);
        if (editor->upperBankPath != target || !open || open->folderPath + "/" + open->fileName != target ||
            editor->openBankUnsaved())
          return "after Save As to " + target + " the bank open is " + editor->upperBankPath;
        saved(from, target);
        break;
      }
      case Act::kCount:
        break;
    }
    if (!plug.waitIdle()) return "a job did not end (" + plug.stalled + ")";
    plug.onEachPause = nullptr;
    portsBack();
    plug.deliverOwed();
    // The block after the action starts what the action left for it (the request after a randomize).
    plug.audioBlock();
    if (!plug.waitIdle()) return "a job started by the audio block did not end (" + plug.stalled + ")";
    plug.deliverOwed();
    if (!plug.waitIdle() || !plug.waitIdle(MidiWorker::kClockThread))
      return "a job did not end (" + plug.stalled + ")";

    {
      std::lock_guard<std::mutex> lock(pauseMutex);
      if (!pauseBroken.empty()) return pauseBroken;
    }
    const std::vector<std::string> rules = plug.getMidiManager()->protocolViolations();
    if (!rules.empty()) return rules.front();
    const std::vector<LibrarianPatch> after = plug.openBank();
    if (after.size() != before.size()) return "the open bank changed its size";
    if (s.act != Act::kSaveAndRecall && editor->upperBankPath == basePath) track(base, after, basePath);
    anotherBank = anotherBank || recalled;
    for (size_t p = 0; p < after.size(); ++p)
      if (editor->view()->slotText(0, static_cast<int>(p)) != after[p].name) return "slot " + std::to_string(p) + "'s label";
    auto isAddressed = [&](int p) { return std::find(addressed.begin(), addressed.end(), p) != addressed.end(); };
    for (size_t p = 0; p < after.size() && !anotherBank; ++p)
      if (!sameProgram(after[p], before[p]) && !isAddressed(static_cast<int>(p)))
        return "librarian slot " + std::to_string(p) + " changed";
    // What a fetch reports as received is the synthesizer's program of that number. (A dump does not say which
    // program it is: an answer so late that it comes during the next program's request cannot be told apart.)
    const std::vector<std::string> texts = plug.texts();
    const auto newTexts = texts.rbegin() + static_cast<long>(texts.size() - std::min(textsBefore, texts.size()));
    const auto endText = std::find_if(texts.rbegin(), newTexts, isFetchEnd);
    const std::string end = endText == newTexts ? std::string() : *endText;
    // So does every slot a fetch of all programs changed.
    const bool fetched = (s.act == Act::kFetchOne || s.act == Act::kFetchAll) && s.answer != Answer::kLate;
    for (int p : fetched ? addressed : std::vector<int>{}) {
      const bool changed = s.act == Act::kFetchAll && !sameProgram(after[p], before[p]);
      if ((changed || end == "Data request completed!") && !plug.slotHoldsProgram(p, p))
        return "slot " + std::to_string(p) + " does not hold the synthesizer's program " + std::to_string(p) + " (" +
               end + ")";
    }
    // A project opened during the action on the job's thread: the editor's idle opens its bank now.
    handedOverRecall();
    // What the musician sees of the files and of the edits.
    if (outsideFiles() != untouched) return "a file outside the data folder changed or appeared";
    const std::string lost = lostChange(editor, plug.openBank());
    if (!lost.empty()) return lost;
    const PatchFile* open = editor->bankOf(0);
    const std::string named = namedBank(editor->lastMessage());
    if (!named.empty() && (!open || open->fileName != named))
      return "the librarian said \"" + editor->lastMessage() + "\" but " + (open ? open->fileName : "no bank") + " is open";
    for (const char* never : {"Save or discard the changes of the open bank first!", "written back"})
      if (editor->lastMessage().find(never) != std::string::npos) return "the librarian said: " + editor->lastMessage();
    testTicks += MIDIMessageManager::kUnansweredWaitMs + 1;
    if (!plug.editorFollowsKnob()) return "the editor does not follow a knob turned on the synthesizer";
    plug.Reset();
    plug.take();
    plug.audioBlock();
    const std::vector<Bytes> sent = plug.take();
    if (std::count_if(sent.begin(), sent.end(), isAllNotesOff) < 2) return "a reset sends no all notes off";
    if (!plug.waitIdle()) return "a job did not end (" + plug.stalled + ")";
    return {};
  }

  // A program change from outside during the action: from the host it must not reach the synthesizer while a
  // job runs.
  void outsideProgramChange(const Step& s) {
    MIDIMessageManager* hub = plug.getMidiManager();
    if (!s.changeFromHost) {
      plug.synthProgram = s.changeTo;
      plug.fromSynth({0xC0, static_cast<uint8_t>(s.changeTo)});
      return;
    }
    const bool busy = hub->isWorkerBusy(MidiWorker::kJobThread);
    const std::vector<Bytes> out = plug.fromHost({0xC0, static_cast<uint8_t>(s.changeTo)});
    const bool passed = std::any_of(out.begin(), out.end(), [](const Bytes& b) { return (b[0] & 0xF0) == 0xC0; });
    if (passed && busy && hub->isWorkerBusy(MidiWorker::kJobThread))
      broke("the host's program change " + std::to_string(s.changeTo) + " reached the synthesizer during a job");
  }
  // The host plays a note: during a librarian transfer nothing holds it (no program comes into the editor).
  void hostNote(const Step& s) {
    const std::vector<Bytes> out = plug.fromHost({0x90, 60, 100});
    const bool passed = std::any_of(out.begin(), out.end(), [](const Bytes& b) { return (b[0] & 0xF0) == 0x90; });
    const bool transfer = (s.act == Act::kFetchOne || s.act == Act::kFetchTemporary || s.act == Act::kFetchAll ||
                           s.act == Act::kStoreOne || s.act == Act::kStoreBank || s.act == Act::kStoreSelected) &&
                          plug.midiOutReady;
    // An outside program change before it may have started a request for the editor, which holds it.
    const bool changedBefore = s.changeAt && s.changeAt <= s.noteAt;
    if (!passed && transfer && !changedBefore) broke("the host's note did not reach the synthesizer during the transfer");
  }
  void broke(const std::string& what) {
    std::lock_guard<std::mutex> lock(pauseMutex);
    if (pauseBroken.empty()) pauseBroken = what;
  }

  DataRoot root;
  ProtocolPlug plug;
  std::mutex pauseMutex;
  std::string pauseBroken;
  const std::string patches = Vexmir::getPatchesFolderStr();
  const std::string dataFolder = librarianfiles::folderOf(patches);
  const std::string outside = root.path + "/outside";
  fuzztest::Tree untouched;
  cocoa::Window* window = new cocoa::Window(cocoa::Rect{0, 0, 1200, 800});
  Bytes otherProject, stepProject;
  // The open bank and its path as the action found them, or as a recall during it left them.
  std::vector<LibrarianPatch> base;
  std::string basePath;
  bool recalled = false, recallWaits = false;
  std::vector<Edit> edits;
  int editCount = 0;
  PatchLibrarian reader;
};

int envInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

// Removes steps one at a time as long as the sequence still fails on a fresh editor.
std::vector<Step> shrink(std::vector<Step> steps, Failure* failure) {
  for (bool progress = true; progress;) {
    progress = false;
    for (size_t i = 0; i < steps.size() && steps.size() > 1; ++i) {
      std::vector<Step> shorter = steps;
      shorter.erase(shorter.begin() + static_cast<long>(i));
      Runner runner;
      const Failure f = runner.run(shorter);
      if (!f) continue;
      shorter.resize(static_cast<size_t>(f.step) + 1);
      steps = shorter;
      *failure = f;
      progress = true;
      --i;
    }
  }
  return steps;
}

}  // namespace

TEST(ProtocolSequence, EveryActionLeavesTheProtocolAtRestForTheNext) {
  const int sequences = envInt("VEXMIR_SEQUENCES", 2000);
  const int firstSeed = envInt("VEXMIR_SEQUENCE_SEED", 25);
  constexpr int kStepsPerSequence = 20;
  // One editor serves a run of sequences (building one costs more than a sequence); a failure is shrunk
  // from everything that editor did, on fresh editors.
  constexpr int kSequencesPerEditor = 25;
  int steps = 0;
  for (int first = 0; first < sequences; first += kSequencesPerEditor) {
    Runner runner;
    std::vector<Step> done;
    for (int k = first; k < std::min(sequences, first + kSequencesPerEditor); ++k) {
      std::mt19937 rng(static_cast<unsigned>(firstSeed + k));
      std::vector<Step> sequence;
      for (int i = 0; i < kStepsPerSequence; ++i) sequence.push_back(randomStep(rng));
      Failure failure = runner.run(sequence);
      steps += failure ? failure.step + 1 : kStepsPerSequence;
      done.insert(done.end(), sequence.begin(), sequence.begin() + (failure ? failure.step + 1 : kStepsPerSequence));
      if (!failure) continue;
      Failure shrunk{static_cast<int>(done.size()) - 1, failure.what};
      const std::vector<Step> reproducer = shrink(done, &shrunk);
      std::ostringstream text;
      text << "sequence " << k << " (seed " << firstSeed + k << ") broke a rule: " << failure.what
           << "\nshrunk to " << reproducer.size() << " steps on a fresh editor (" << shrunk.what << "):";
      for (const Step& s : reproducer) text << "\n  " << describe(s);
      FAIL() << text.str();
    }
    // Long runs by hand say how far they are.
    if (sequences > 2000 && (first + kSequencesPerEditor) % 1000 == 0) {
      std::printf("%d sequences, %d actions so far\n", first + kSequencesPerEditor, steps);
      std::fflush(stdout);
    }
  }
  std::printf("%d sequences, %d actions, every rule held after each\n", sequences, steps);
}
