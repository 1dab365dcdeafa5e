// Random sequences of librarian actions, with failures injected into the writes and renames of
// files and files changed behind the editor's back between actions (cut, grown, replaced, deleted,
// renamed, made read-only, swapped for a pipe or a link loop, the case of their extension changed,
// the whole "Patches" folder renamed): after every action every bank file the editor saved and nobody
// touched since reads back as the programs last saved there, unsaved edits of the open bank are still
// open and flagged, no temporary file is left, no action takes more than a second, and every failure
// and every file the scan passes over was shown to the user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "src/BankChooserMenu.h"
#include "src/BankFollower.h"
#include "src/PatchLibrarianFiles.h"
#include "tests/jobs/editor_test_support.h"
#include "tests/libui/libui_support.h"

using namespace libui;

namespace {

std::mt19937* failureDice = nullptr;
int failurePercent = 0;
bool randomFailure(const char*) {
  return failureDice && static_cast<int>((*failureDice)() % 100) < failurePercent;
}

std::vector<Bytes> dumpsOf(const PatchFile* bank) {
  std::vector<Bytes> dumps;
  if (bank)
    for (const LibrarianPatch& p : bank->patches) dumps.push_back(p.messages.empty() ? Bytes() : p.messages[0].data);
  return dumps;
}

int sequencesToRun() {
  const char* n = std::getenv("VEXMIR_LIBUI_SEQUENCES");
  return n ? std::atoi(n) : 1000;
}

namespace fs = std::filesystem;

// Watches the actions from a thread of its own: one that runs longer than a second is counted (a loaded
// machine may be that slow), one still running after six seconds is stuck (on a pipe) and is set free by
// opening the pipes from this side, so that the test fails rather than hangs.
class Watchdog {
 public:
  Watchdog() : thread_([this] { watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  // Runs `action` on this thread; false when it had to be set free.
  bool run(const std::function<void()>& action, const std::vector<std::string>& pipes) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pipes_ = pipes;
      started_ = std::chrono::steady_clock::now();
      running_ = true;
      stuck_ = false;
    }
    wake_.notify_all();
    action();
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    slowest = std::max(slowest, seconds);
    if (seconds > 1.0) ++slow;
    return !stuck_;
  }

  double slowest = 0;
  int slow = 0;

 private:
  void watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      if (!running_) {
        wake_.wait(lock);
        continue;
      }
      const auto deadline = started_ + std::chrono::seconds(6);
      if (wake_.wait_until(lock, deadline) == std::cv_status::no_timeout || !running_) continue;
      stuck_ = true;
      for (const std::string& pipe : pipes_) {
        const int fd = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::string> pipes_;
  std::chrono::steady_clock::time_point started_;
  bool running_ = false, stuck_ = false, stop_ = false;
  std::thread thread_;
};

Watchdog& watchdog() {
  static Watchdog dog;
  return dog;
}

class Sequence {
 public:
  Sequence(unsigned seed, bool behindTheBack) : dice_(seed), behindTheBack_(behindTheBack) {
    data_.write("A.syx", bankBytes(1));
    data_.write("B.vmr", bankBytes(2));
    data_.write("Sub/C.syx", bankBytes(3));
    saved_[data_.patches + "/A.syx"] = expectedBank(1);
    saved_[data_.patches + "/B.vmr"] = expectedBank(2);
    saved_[data_.patches + "/Sub/C.syx"] = expectedBank(3);
    tab_ = std::make_unique<LibrarianTab>();
    memory_ = dumpsOf(tab_->editor.bankOf(0));
  }

  // What the sequence did to files behind the editor's back, by kind.
  static std::map<std::string, int>& changesMade() {
    static std::map<std::string, int> made;
    return made;
  }

  void run(int actions) {
    for (int i = 0; i < actions && !::testing::Test::HasFailure(); ++i) {
      if (behindTheBack_ && roll(3) == 0) {
        SCOPED_TRACE("change behind the back before action " + std::to_string(i));
        changeBehindTheBack();
        if (::testing::Test::HasFailure()) return;
      }
      const int action = static_cast<int>(dice_() % (behindTheBack_ ? 11 : 10));
      if (std::getenv("VEXMIR_LIBUI_VERBOSE"))
        std::printf("action %d (open %s%s)\n", action, tab_->editor.upperBankPath.c_str(),
                    tab_->editor.openBankUnsaved() ? ", unsaved" : "");
      SCOPED_TRACE("action " + std::to_string(i) + " kind " + std::to_string(action));
      const size_t told = tab_->host.messages.size();
      mustTell_ = false;
      EXPECT_TRUE(watchdog().run([&] { act(action); }, pipes_)) << "the action hung";
      if (rescanned_) {
        // Every file the scan passed over, and every change to the open bank's file, was shown.
        mustTell_ = mustTell_ || !tab_->librarian.scanNotes.empty() || (unsavedBeforeAction_ && openFileTouched_);
        touched_.clear();
      }
      if (mustTell_) {
        EXPECT_GT(tab_->host.messages.size(), told) << "a failure was not shown to the user";
      }
      check();
    }
  }

 private:
  int roll(int n) { return n > 0 ? static_cast<int>(dice_() % static_cast<unsigned>(n)) : 0; }

  // Injects failures into this one action's file steps, one time in three.
  struct Failures {
    explicit Failures(std::mt19937& dice) {
      failureDice = &dice;
      failurePercent = dice() % 3 == 0 ? 50 : 0;
      librarianfiles::injectedFailure = randomFailure;
    }
    ~Failures() {
      librarianfiles::injectedFailure = nullptr;
      failureDice = nullptr;
    }
  };

  // Every bank file of "Patches" now, by path.
  std::vector<std::string> bankFilesOnDisk() const {
    std::vector<std::string> found;
    std::error_code ignored;
    for (fs::recursive_directory_iterator it(data_.patches, ignored), end; it != end; it.increment(ignored)) {
      const std::string ext = librarianfiles::lowerExtension(it->path().filename().string());
      if (ext == "syx" || ext == "vmr" || ext == "mid" || ext == "vlt") found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  // A file renamed behind the back (over whatever had that name) takes its expected programs along.
  void moved(const std::string& from, const std::string& to) {
    if (saved_.count(from))
      saved_[to] = saved_[from];
    else
      saved_.erase(to);
    touched_.insert(to);
  }

  void forget(const std::string& path) {
    saved_.erase(path);
    touched_.insert(path);
  }

  void changeBehindTheBack() {
    static const char* const kinds[] = {"cut",
                                        "grown",
                                        "replaced by more than 128 programs",
                                        "deleted",
                                        "renamed",
                                        "made read-only",
                                        "pipe",
                                        "link loop",
                                        "extension case changed",
                                        "replaced by another bank",
                                        "Patches renamed"};
    const int kind = roll(11);
    ++changesMade()[kinds[kind]];
    if (std::getenv("VEXMIR_LIBUI_VERBOSE")) std::printf("behind the back: %s\n", kinds[kind]);
    const std::vector<std::string> files = bankFilesOnDisk();
    const std::string open = tab_->editor.upperBankPath;
    std::string path =
        roll(2) == 0 || files.empty() ? open : files[static_cast<size_t>(roll(static_cast<int>(files.size())))];
    if (path.empty() || path.compare(0, data_.patches.size(), data_.patches) != 0) return;
    struct stat st {};
    const bool exists = ::lstat(path.c_str(), &st) == 0;
    const bool file = exists && S_ISREG(st.st_mode);
    switch (kind) {
      case 0:
        if (file) vectors::writeFile(path, bankBytes(4, 40));
        break;
      case 1:
        if (file && ::truncate(path.c_str(), kMaxBankFileSize + 1) != 0) ADD_FAILURE() << "truncate " << path;
        break;
      case 2:
        if (file) vectors::writeFile(path, bankBytes(5, 200));
        break;
      case 3:
        ::unlink(path.c_str());
        break;
      case 4:
        if (exists) {
          const std::string to = path + ".renamed.syx";
          if (::rename(path.c_str(), to.c_str()) == 0) {
            moved(path, to);
          }
        }
        break;
      case 5:
        if (file) ::chmod(path.c_str(), 0444);
        return;  // the programs in it are as they were
      case 6:
        ::unlink(path.c_str());
        if (::mkfifo(path.c_str(), 0644) == 0) pipes_.push_back(path);
        break;
      case 7:
        ::unlink(path.c_str());
        if (::symlink(librarianfiles::lastComponent(path).c_str(), path.c_str()) != 0) ADD_FAILURE() << "symlink";
        break;
      case 8:
        if (exists) {
          std::string to = path;
          const size_t dot = to.rfind('.');
          for (size_t i = dot; i < to.size(); ++i)
            to[i] = static_cast<char>(std::isupper(static_cast<unsigned char>(to[i])) ? std::tolower(to[i])
                                                                                      : std::toupper(to[i]));
          if (::rename(path.c_str(), to.c_str()) == 0) {
            moved(path, to);
          }
        }
        break;
      case 9:
        if (saveAnotherBank(path)) return;
        break;
      case 10: {
        // The whole folder goes away while the editor refreshes, then comes back.
        const std::string away = data_.patches + " away";
        ASSERT_EQ(::rename(data_.patches.c_str(), away.c_str()), 0);
        const bool unsaved = tab_->editor.openBankUnsaved();
        const size_t told = tab_->host.messages.size();
        EXPECT_TRUE(watchdog().run([&] { tab_->mainMenu({"Refresh Folders"}); }, pipes_));
        EXPECT_GT(tab_->host.messages.size(), told) << "the missing folder was not shown";
        if (unsaved) {
          EXPECT_TRUE(tab_->editor.openBankUnsaved());
          EXPECT_TRUE(dumpsOf(tab_->editor.bankOf(0)) == memory_) << "the edits left with the folder";
        }
        ASSERT_EQ(::rename(away.c_str(), data_.patches.c_str()), 0);
        for (const auto& entry : saved_) touched_.insert(entry.first);
        tab_->mainMenu({"Refresh Folders"});
        touched_.clear();
        afterRescan();
        return;
      }
    }
    forget(path);
  }

  static std::string stampOf(const std::string& path) {
    return librarianfiles::fileStamp(path, static_cast<size_t>(kMaxBankFileSize));
  }

  // A rescan read the open bank again: without edits it shows its file as it is now.
  void afterRescan() {
    if (!tab_->editor.openBankUnsaved()) memory_ = dumpsOf(tab_->editor.bankOf(0));
  }

  // An open bank without unsaved edits is its file as it is now: shown again or edited, it reads a file that another
  // program replaced by another bank.
  void fileAsItIsNow() {
    const PatchFile* bank = tab_->editor.bankOf(0);
    if (!bank || tab_->editor.openBankUnsaved()) return;
    const std::string path = bankPath(*bank);
    if (stampOf(path) != bank->fileStamp && tab_->librarian.listable(path, nullptr)) memory_ = readBank(path);
  }

  void act(int action) {
    LibrarianTab& tab = *tab_;
    LibrarianEditor& editor = tab.editor;
    const int banks = static_cast<int>(tab.librarian.bankFiles.size());
    unsavedBeforeAction_ = editor.openBankUnsaved();
    // Someone else wrote the open bank's file since the editor last read or saved it.
    openFileTouched_ = editor.bankOf(0) && stampOf(editor.upperBankPath) != editor.bankOf(0)->fileStamp;
    rescanned_ = false;
    switch (action) {
      case 0: {  // open another bank: refused while the open one has unsaved edits
        const bool unsaved = editor.openBankUnsaved();
        const int index = roll(banks);
        const bool opened = editor.selectBank(0, index);
        if (!unsaved && opened) memory_ = dumpsOf(editor.bankOf(0));
        if (unsaved && banks > 0 && index != tab.librarian.upperBankIndex) mustTell_ = true;
        break;
      }
      case 1: {
        const int index = roll(banks);
        if (index == tab.librarian.upperBankIndex && !editor.lowerListShowsSearch) fileAsItIsNow();
        editor.selectBank(1, index);
        break;
      }
      case 2: {  // copy and paste through the slot menus
        const int from = roll(128), to = roll(128);
        tab.g.menuPath = {"Copy"};
        tab.click(1, from, true);
        const LibrarianPatch* copied = editor.copiedProgram();
        const Bytes program = copied ? Bytes(copied->messages[0].data) : Bytes();
        // What was copied is the program shown highlighted.
        const std::vector<Bytes> lower = dumpsOf(editor.bankOf(1));
        EXPECT_EQ(jobtest::drawnSlot(&tab.g, tab.view, 1), from);
        EXPECT_TRUE(program == (static_cast<size_t>(from) < lower.size() ? lower[from] : Bytes()));
        const std::vector<Bytes> shown = memory_;
        if (!program.empty()) fileAsItIsNow();
        tab.g.menuPath = {"Paste"};
        tab.click(0, to, true);
        // A slot that changed on disk before the list caught up is not pasted over: the musician sees it first.
        if (memory_.size() == 128u && shown.size() == 128u && memory_[to] != shown[to])
          mustTell_ = true;
        else if (!program.empty() && editor.bankOf(0) && memory_.size() == 128u)
          memory_[to] = program;
        break;
      }
      case 3: {  // rename through the slot menu, now and then with another bank opened before it is committed
        const int slot = roll(128);
        tab.g.menuPath = {"Rename"};
        // Rename opens on the program the list shows once the menu closed: the file as it is then.
        fileAsItIsNow();
        tab.click(0, slot, true);
        const std::string open = editor.upperBankPath;
        if (roll(3) == 0) {
          const int index = roll(banks);
          if (index == tab.librarian.upperBankIndex) fileAsItIsNow();
          if (editor.selectBank(0, index) && editor.upperBankPath != open) memory_ = dumpsOf(editor.bankOf(0));
        }
        if (editor.upperBankPath == open) fileAsItIsNow();
        tab.plug.GetParam(kPatchRename)->SetDisplayText(0, ("R" + std::to_string(roll(1000))).c_str());
        tab.plug.OnParamChange(kPatchRename);
        if (editor.bankOf(0) && editor.upperBankPath == open && memory_.size() == 128u)
          memory_[slot] = editor.bankOf(0)->patches[slot].messages[0].data;
        break;
      }
      case 4: {  // save over the open bank's file
        const std::string path = editor.upperBankPath;
        const bool unsaved = editor.openBankUnsaved();
        fileAsItIsNow();
        bool ok;
        {
          Failures failures(dice_);
          ok = editor.saveOpenBank();
        }
        if (ok) {
          saved_[path] = memory_;
          touched_.erase(path);
        }
        EXPECT_EQ(editor.openBankUnsaved(), !ok && unsaved);
        if (!ok && editor.bankOf(0)) mustTell_ = true;
        break;
      }
      case 5: {  // save as, over a new file or an existing one
        static const char* const names[] = {"New.vmr", "New.mid", "A.syx", "Sub/Other.vmr"};
        const std::string name = names[roll(4)];
        const std::string path = data_.patches + "/" + name;
        tab.g.fileAnswers = {path};
        bool ok;
        {
          Failures failures(dice_);
          ok = editor.saveOpenBankAs(name.size() > 4 && name.substr(name.size() - 4) == ".mid");
        }
        if (ok) {
          saved_[path] = memory_;
          touched_.erase(path);
          EXPECT_EQ(editor.upperBankPath, path);
          rescanned_ = true;
          unsavedBeforeAction_ = false;  // the edits are in the new file
          afterRescan();
        } else if (editor.bankOf(0)) {
          mustTell_ = true;
        }
        break;
      }
      case 6:
        tab.mainMenu({"Refresh Folders"});
        rescanned_ = true;
        afterRescan();
        break;
      case 7:                          // discard the edits: the open bank shows its file again
        unsavedBeforeAction_ = false;  // dropped on purpose: nothing to tell about them
        editor.discardChanges();
        rescanned_ = true;
        memory_ = dumpsOf(editor.bankOf(0));
        break;
      case 8:
        editor.search("s1" + std::to_string(roll(10)));
        if (roll(2)) editor.endSearch();
        break;
      case 9:  // the tab shown again, or the editor idling a look's worth: a clean open bank follows its file
        fileAsItIsNow();
        if (roll(2))
          editor.librarianTabShown(true);
        else
          for (int i = 0; i < BankFollower::kIdlesPerLook; ++i) editor.idle();
        break;
      case 10:
        heldMenu();
        break;
    }
  }

  // Another instance saves another bank into the file at `path` where it is a file.
  bool saveAnotherBank(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    // Another bank each time: a file written again with the same bytes has not changed.
    const int bank = 10 + replacements_++ % 80;
    vectors::writeFile(path, bankBytes(bank));
    forget(path);
    saved_[path] = expectedBank(bank);
    return true;
  }

  // A slot's menu held open for a look's worth of idling while another instance saves the bank of that list, then
  // Paste or Initialize (upper) or Copy (lower) chosen: each acts on the program shown when the menu opened.
  void heldMenu() {
    LibrarianEditor& editor = tab_->editor;
    const int item = roll(3), slot = roll(128), side = item == 2 ? 1 : 0;
    const std::vector<Bytes> lower = dumpsOf(editor.bankOf(1)), shown = memory_;
    const Bytes copied = editor.copiedProgram() ? Bytes(editor.copiedProgram()->messages[0].data) : Bytes();
    const size_t calls = tab_->host.calls.size();
    tab_->g.menuPath = {item == 0 ? "Paste" : item == 1 ? "Initialize" : "Copy"};
    tab_->g.whileMenuOpen = [&] {
      // The open bank without edits is read again before it is written (Paste is offered once a program is copied).
      if (!(side == 1 && editor.lowerListShowsSearch) &&
          saveAnotherBank(side == 0 ? editor.upperBankPath : editor.lowerBankPath) && side == 0 &&
          (item == 1 || !copied.empty()))
        fileAsItIsNow();
      for (int i = 0; i < BankFollower::kIdlesPerLook; ++i) editor.idle();
    };
    tab_->click(side, slot, true);
    tab_->g.whileMenuOpen = nullptr;
    const bool changed = memory_.size() == 128u && shown.size() == 128u && memory_[slot] != shown[slot];
    if (item != 2 && (item == 1 || !copied.empty())) mustTell_ = changed;
    if (item == 0 && !copied.empty() && !changed && editor.bankOf(0) && memory_.size() == 128u) memory_[slot] = copied;
    EXPECT_TRUE(item != 1 || tab_->host.calls.size() == calls + (changed ? 0 : 1)) << "Initialize went on";
    EXPECT_TRUE(item != 2 || !editor.copiedProgram() || static_cast<size_t>(slot) >= lower.size() ||
                Bytes(editor.copiedProgram()->messages[0].data) == lower[slot])
        << "copied another program";
  }

  void check() {
    LibrarianEditor& editor = tab_->editor;
    // Each list shows a bank while there are banks, and every label is the name of the program in its slot.
    if (!tab_->librarian.bankFiles.empty()) {
      EXPECT_NE(editor.bankOf(1), nullptr) << "the lower list shows nothing";
    }
    for (int side = 0; side < 2; ++side)
      for (size_t p = 0; editor.bankOf(side) && p < 128; ++p) {
        const auto& programs = editor.bankOf(side)->patches;
        ASSERT_EQ(tab_->view->slotText(side, static_cast<int>(p)), p < programs.size() ? programs[p].name : "") << p;
      }
    if (editor.openBankUnsaved()) {
      ASSERT_NE(editor.bankOf(0), nullptr) << "unsaved edits without an open bank";
      EXPECT_TRUE(dumpsOf(editor.bankOf(0)) == memory_) << "the unsaved edits are still open";
    } else if (editor.bankOf(0)) {
      EXPECT_TRUE(dumpsOf(editor.bankOf(0)) == memory_) << "the open bank holds what the user made of it";
      // Saved and untouched since: the open bank is its file.
      if (!touched_.count(editor.upperBankPath) && saved_.count(editor.upperBankPath)) {
        EXPECT_TRUE(saved_[editor.upperBankPath] == memory_) << editor.upperBankPath;
      }
    }
    for (const auto& entry : saved_) {
      if (touched_.count(entry.first)) continue;
      const std::vector<Bytes> onDisk = readBank(entry.first);
      ASSERT_EQ(onDisk.size(), 128u) << entry.first;
      EXPECT_TRUE(onDisk == entry.second) << entry.first;
    }
    // Nothing else is in the folders: no temporary file survives a failure.
    std::error_code ignored;
    for (fs::recursive_directory_iterator it(data_.patches, ignored), end; it != end; it.increment(ignored))
      EXPECT_NE(it->path().filename().string()[0], '.') << "a temporary file was left: " << it->path();
  }

  DataFolder data_;
  std::mt19937 dice_;
  bool behindTheBack_;
  std::map<std::string, std::vector<Bytes>> saved_;
  // Changed behind the editor's back since its last rescan: their contents are not the editor's to keep.
  std::set<std::string> touched_;
  std::vector<std::string> pipes_;
  std::unique_ptr<LibrarianTab> tab_;
  std::vector<Bytes> memory_;
  int replacements_ = 0;
  bool mustTell_ = false, rescanned_ = false, unsavedBeforeAction_ = false, openFileTouched_ = false;
};

}  // namespace

int actionsPerSequence() {
  const char* n = std::getenv("VEXMIR_LIBUI_ACTIONS");
  return n ? std::atoi(n) : 12;
}

TEST(DataSafety, RandomActionsWithFailingWritesNeverLoseASavedProgram) {
  const int sequences = sequencesToRun();
  for (int s = 0; s < sequences && !HasFailure(); ++s) {
    SCOPED_TRACE("sequence " + std::to_string(s));
    Sequence sequence(static_cast<unsigned>(s) * 7919u + 1u, false);
    sequence.run(actionsPerSequence());
  }
}

TEST(DataSafety, FilesChangedBehindTheEditorsBackNeverLoseAnEditOrHangIt) {
  const int sequences = sequencesToRun();
  // VEXMIR_LIBUI_FROM=n replays from sequence n (with VEXMIR_LIBUI_SEQUENCES=1, that one alone).
  const int from = std::getenv("VEXMIR_LIBUI_FROM") ? std::atoi(std::getenv("VEXMIR_LIBUI_FROM")) : 0;
  const auto start = std::chrono::steady_clock::now();
  for (int s = from; s < from + sequences && !HasFailure(); ++s) {
    SCOPED_TRACE("sequence " + std::to_string(s));
    Sequence sequence(static_cast<unsigned>(s) * 104729u + 7u, true);
    sequence.run(actionsPerSequence());
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::string made;
  for (const auto& kind : Sequence::changesMade()) made += " " + kind.first + ": " + std::to_string(kind.second) + ";";
  std::printf(
      "%d sequences of %d actions in %.1f s; slowest action %.3f s, %d over a second; changes behind the back:%s\n",
      sequences, actionsPerSequence(), seconds, watchdog().slowest, watchdog().slow, made.c_str());
}
