// Random sequences of librarian actions, with failures injected into the writes and renames of
// files: after every action every bank file reads back as 128 valid programs, each the program that
// was last saved there, and the open bank holds exactly what the user made of it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <random>

#include "src/BankChooserMenu.h"
#include "src/PatchLibrarianFiles.h"
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

std::vector<Bytes> generated(int bank) {
  std::vector<Bytes> dumps;
  for (int s = 0; s < 128; ++s) dumps.push_back(programDumpOf(bank, s));
  return dumps;
}

int sequencesToRun() {
  const char* n = std::getenv("VEXMIR_LIBUI_SEQUENCES");
  return n ? std::atoi(n) : 1000;
}

class Sequence {
 public:
  explicit Sequence(unsigned seed) : dice_(seed) {
    data_.write("A.syx", bankBytes(1));
    data_.write("B.vmr", bankBytes(2));
    data_.write("Sub/C.syx", bankBytes(3));
    saved_[data_.patches + "/A.syx"] = generated(1);
    saved_[data_.patches + "/B.vmr"] = generated(2);
    saved_[data_.patches + "/Sub/C.syx"] = generated(3);
    tab_ = std::make_unique<LibrarianTab>();
    memory_ = saved_[tab_->editor.upperBankPath];
  }

  void run(int actions) {
    for (int i = 0; i < actions && !::testing::Test::HasFailure(); ++i) {
      const int action = static_cast<int>(dice_() % 9);
      SCOPED_TRACE("action " + std::to_string(i) + " kind " + std::to_string(action));
      act(action);
      check();
    }
  }

 private:
  int roll(int n) { return static_cast<int>(dice_() % static_cast<unsigned>(n)); }

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

  void act(int action) {
    LibrarianTab& tab = *tab_;
    LibrarianEditor& editor = tab.editor;
    const int banks = static_cast<int>(tab.librarian.bankFiles.size());
    switch (action) {
      case 0: {  // open another bank: refused while the open one has unsaved edits
        const bool unsaved = editor.openBankUnsaved();
        const int index = roll(banks);
        editor.selectBank(0, index);
        if (!unsaved) memory_ = dumpsOf(editor.bankOf(0));
        break;
      }
      case 1:
        editor.selectBank(1, roll(banks));
        break;
      case 2: {  // copy and paste through the slot menus
        const int from = roll(128), to = roll(128);
        tab.g.menuPath = {"Copy"};
        tab.click(1, from, true);
        const LibrarianPatch* copied = editor.copiedProgram();
        const Bytes program = copied ? Bytes(copied->messages[0].data) : Bytes();
        tab.g.menuPath = {"Paste"};
        tab.click(0, to, true);
        if (!program.empty()) memory_[to] = program;
        break;
      }
      case 3: {  // rename
        const int slot = roll(128);
        tab.click(0, slot);
        editor.renameProgram(slot, "R" + std::to_string(roll(1000)));
        memory_[slot] = editor.bankOf(0)->patches[slot].messages[0].data;
        break;
      }
      case 4: {  // save over the open bank's file
        const std::string path = editor.upperBankPath;
        bool ok;
        {
          Failures failures(dice_);
          ok = editor.saveOpenBank();
        }
        if (ok) saved_[path] = memory_;
        EXPECT_EQ(editor.openBankUnsaved(), !ok && unsavedBefore());
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
          EXPECT_EQ(editor.upperBankPath, path);
        }
        break;
      }
      case 6:
        tab.mainMenu({"Refresh Folders"});
        break;
      case 7:  // discard the edits
        editor.discardChanges();
        memory_ = saved_[editor.upperBankPath];
        break;
      case 8:
        editor.search("s1" + std::to_string(roll(10)));
        if (roll(2)) editor.endSearch();
        break;
    }
    unsaved_ = editor.openBankUnsaved();
  }

  bool unsavedBefore() const { return unsaved_; }

  void check() {
    LibrarianEditor& editor = tab_->editor;
    ASSERT_NE(editor.bankOf(0), nullptr);
    EXPECT_EQ(dumpsOf(editor.bankOf(0)), memory_) << "the open bank holds what the user made of it";
    for (const auto& entry : saved_) {
      const std::vector<Bytes> onDisk = readBank(entry.first);
      ASSERT_EQ(onDisk.size(), 128u) << entry.first;
      EXPECT_EQ(onDisk, entry.second) << entry.first;
    }
    // Nothing else is in the folders: no temporary file survives a failure.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(data_.patches))
      EXPECT_NE(entry.path().filename().string()[0], '.') << "a temporary file was left: " << entry.path();
  }

  DataFolder data_;
  std::mt19937 dice_;
  std::map<std::string, std::vector<Bytes>> saved_;
  std::unique_ptr<LibrarianTab> tab_;
  std::vector<Bytes> memory_;
  bool unsaved_ = false;
};

}  // namespace

TEST(DataSafety, RandomActionsWithFailingWritesNeverLoseASavedProgram) {
  const int sequences = sequencesToRun();
  for (int s = 0; s < sequences && !HasFailure(); ++s) {
    SCOPED_TRACE("sequence " + std::to_string(s));
    Sequence sequence(static_cast<unsigned>(s) * 7919u + 1u);
    sequence.run(std::getenv("VEXMIR_LIBUI_ACTIONS") ? std::atoi(std::getenv("VEXMIR_LIBUI_ACTIONS")) : 12);
  }
}
