#include "src/BankFollower.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <vector>

#include "KIT/IEffect/IGraphics.h"
#include "src/BankChooserMenu.h"
#include "src/LibrarianEditor.h"
#include "src/LibrarianHost.h"
#include "src/LibrarianViewControl.h"
#include "src/PatchLibrarian.h"
#include "src/PatchLibrarianFiles.h"

namespace {

// The stamp of the file's bytes as they are now; empty when it cannot be read.
std::string stampNow(const std::string& path) {
  return librarianfiles::fileStamp(path, static_cast<size_t>(kMaxBankFileSize));
}

// A file gone is written anew: nothing there is lost.
bool gone(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) != 0;
}

}  // namespace

BankFollower::Signature BankFollower::signatureOf(const std::string& path) {
  Signature s;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return s;
  s.device = static_cast<uint64_t>(st.st_dev);
  s.inode = static_cast<uint64_t>(st.st_ino);
  s.size = static_cast<int64_t>(st.st_size);
  s.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return s;
}

std::string BankFollower::stampOf(const PatchFile& bank) const {
  std::unique_lock<std::mutex> lock = editor_.librarian()->lockBanks();
  return bank.fileStamp;
}

void BankFollower::setStamp(PatchFile* bank, const std::string& stamp) const {
  std::unique_lock<std::mutex> lock = editor_.librarian()->lockBanks();
  bank->fileStamp = stamp;
}

bool BankFollower::changedSince(const PatchFile& bank, const std::string& path) const {
  return !gone(path) && stampNow(path) != stampOf(bank);
}

std::string BankFollower::changedUnderEdits(const std::string& shown) {
  return shown + " changed on disk while it held unsaved edits: they stay open here, and Save asks before it " +
         "writes over the file.";
}

std::string BankFollower::caughtUp(const std::string& shown) {
  return shown + " changed on disk: the list shows it as it is now.";
}

std::string BankFollower::caughtUpBelow(const std::string& shown) {
  return "The list below shows " + shown + " as it is now.";
}

std::string BankFollower::noBankNow(const std::string& shown, const std::string& why) {
  return shown + " is no bank now (" + why + "): the list keeps what it shows.";
}

bool BankFollower::choosing() const {
  const IGraphics* g = editor_.graphics();
  return g && g->ModalShown();
}

void BankFollower::toldUnderEdits(const std::string& path) {
  saidUnderEdits_ = stampNow(path);
}

bool BankFollower::readAgain(int side, bool say, std::string* unreadable) {
  LibrarianEditor& e = editor_;
  if (side != LibrarianEditor::kUpper && e.lowerListShowsSearch) return false;
  PatchFile* bank = e.bankOf(side);
  if (!bank) return false;
  const bool open = bank == e.bankOf(LibrarianEditor::kUpper);
  // Edits not saved, and programs a transfer sends or stores, are the musician's: never read over. The transfer's
  // bank is looked at again once it has ended. What a menu, panel or question was chosen on stays until it closes.
  if ((open && e.openBankUnsaved()) || (e.host() && e.host()->transferUsesBanks()) || choosing()) return false;
  if (!e.librarian()->readAgainIfChanged(bank, unreadable)) return false;
  const std::string path = bankPath(*bank);
  if (e.host()) e.host()->log("PATCH LIBRARIAN: read " + path + " again: it changed on disk");
  e.updatePatchLibrarianView(2);
  if (say) e.note(caughtUp(listedName(path)));
  return true;
}

bool BankFollower::editAllowed(int first, int last, const std::string& refusal, const std::string& again) {
  LibrarianEditor& e = editor_;
  PatchFile* bank = e.bankOf(LibrarianEditor::kUpper);
  first = std::clamp(first, 0, kProgramsPerBank);
  last = std::clamp(last, first, kProgramsPerBank);
  if (!bank || first == last) return true;
  auto slots = [&] {
    std::vector<PatchMessages> programs;
    std::unique_lock<std::mutex> lock = e.librarian()->lockBanks();
    for (int i = first; i < last; ++i)
      programs.push_back(static_cast<size_t>(i) < bank->patches.size() ? bank->patches[i].messages : PatchMessages());
    return programs;
  };
  const std::vector<PatchMessages> seen = slots();
  if (!readAgain(LibrarianEditor::kUpper)) return true;
  const std::vector<PatchMessages> now = slots();
  if (now == seen) return true;
  std::vector<int> changed;
  for (size_t i = 0; i < now.size(); ++i)
    if (now[i] != seen[i]) changed.push_back(first + static_cast<int>(i) + 1);
  e.tell(refusal + ": " + slotNames(changed) + " of " + e.shownPath(bankPath(*bank)) +
         " changed on disk, and the list now shows it as it is. " + again);
  return false;
}

std::string BankFollower::slotNames(const std::vector<int>& slots) {
  // Runs of neighbours as ranges: "slot 5", "slots 5 to 7", "slots 2, 5 to 7 and 9".
  std::vector<std::string> runs;
  for (size_t i = 0; i < slots.size();) {
    size_t j = i;
    while (j + 1 < slots.size() && slots[j + 1] == slots[j] + 1) ++j;
    runs.push_back(std::to_string(slots[i]) + (j > i ? " to " + std::to_string(slots[j]) : ""));
    i = j + 1;
  }
  std::string text;
  for (size_t i = 0; i < runs.size(); ++i)
    text += (i == 0 ? "" : i + 1 == runs.size() ? " and " : ", ") + runs[i];
  return (slots.size() == 1 ? "slot " : "slots ") + text;
}

bool BankFollower::saveAllowed(const PatchFile& bank, const std::string& path) {
  if (gone(path)) return true;
  std::string asked = stampNow(path);
  const std::string madeOn = stampOf(bank);
  if (asked == madeOn) return true;
  // Another instance, another entry of the same file or another program wrote it since this bank read or wrote it
  // (or the edits came from a project that kept no stamp, and nobody knows): what is there goes only when the
  // musician says so, about the file as it is when answered.
  const std::string shown = editor_.shownPath(path);
  const std::string why = madeOn.empty()
                              ? "the project does not say which version of " + shown + " its unsaved edits were made on"
                              : shown + " changed on disk since it was opened here";
  std::string question = why + ". Replace it with the bank open here?";
  question[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(question[0])));
  for (;;) {
    IGraphics* g = editor_.graphics();
    if (!g || !g->AskQuestion(question.c_str(), "Save", "Replace", "Cancel")) {
      editor_.tell("Not saved: " + why + ". The changes stay open here; Save As keeps both.");
      saidUnderEdits_ = asked;
      return false;
    }
    // Nothing is left to lose where the file went meanwhile: it is written anew.
    if (gone(path)) return true;
    const std::string now = stampNow(path);
    if (now == asked) return true;
    asked = now;
    question = shown + " changed on disk again while this question stood. Replace it with the bank open here?";
  }
}

BankFollower::Shown BankFollower::shown() const {
  LibrarianEditor& e = editor_;
  Shown s;
  const PatchFile* open = e.bankOf(LibrarianEditor::kUpper);
  // Save As leaves the open bank for the file it wrote: what the lists showed of the bank left were the edits saved
  // there, not a version of its own file.
  const bool left = open && !e.upperBankPath.empty() &&
                    librarianfiles::realPath(bankPath(*open)) != librarianfiles::realPath(e.upperBankPath);
  for (int side : {LibrarianEditor::kUpper, LibrarianEditor::kLower}) {
    const PatchFile* bank = e.bankOf(side);
    if (!bank || bank->fromProject || bank->folderPath.empty() || (bank == open && left) ||
        (side == LibrarianEditor::kUpper ? e.openBankUnsaved() : e.lowerListShowsSearch))
      continue;
    s.path[side] = bankPath(*bank);
    s.stamp[side] = stampOf(*bank);
  }
  return s;
}

void BankFollower::sayCaughtUp(const Shown& before) {
  LibrarianEditor& e = editor_;
  std::string news;
  const std::vector<PatchFile*>& banks = e.librarian()->bankFiles;
  for (int side : {LibrarianEditor::kUpper, LibrarianEditor::kLower}) {
    // The lists are chosen again after the rescan by their paths (the first bank where one is not listed): a list
    // that shows another bank now caught up with no file, and each is said by what it shows now.
    const std::string& path = before.path[side];
    const int index = path.empty() ? -1 : bankIndexByPath(banks, path);
    const int shows = bankIndexByPath(banks, side == LibrarianEditor::kUpper ? e.upperBankPath : e.lowerBankPath);
    const PatchFile* bank = e.librarian()->bankAt(index);
    if (!bank || index != std::max(shows, 0) || stampOf(*bank) == before.stamp[side]) continue;
    news += (news.empty() ? "" : " ") + caughtUpOf(side, bankPath(*bank), e.upperBankPath);
  }
  e.note(news);
}

std::string BankFollower::caughtUpOf(int side, const std::string& path, const std::string& openPath) const {
  // The list below can show the open bank's own file through another entry (a link): the open bank's words about
  // that file stand, and the list below is said as such.
  const std::string shown = listedName(path);
  const bool openFile = side == LibrarianEditor::kLower && !openPath.empty() &&
                        librarianfiles::realPath(path) == librarianfiles::realPath(openPath);
  return openFile ? caughtUpBelow(shown) : caughtUp(shown);
}

std::string BankFollower::listedName(const std::string& path) const {
  // A link in Patches is an entry of its own: its chooser names it, not the file it leads to.
  return editor_.shownPath(librarianfiles::folderOf(path) + "/") + librarianfiles::lastComponent(path);
}

bool BankFollower::moved(int side, const PatchFile* bank, const std::string& path) {
  ++calls_;
  const Signature now = signatureOf(path);
  Look& seen = looks_[side];
  if (seen.bank == bank && seen.signature == now) return false;
  seen.bank = bank;
  seen.signature = now;
  return true;
}

void BankFollower::look() {
  LibrarianEditor& e = editor_;
  if (++idles_ < kIdlesPerLook) return;
  // A menu, panel or question stands: the look waits, and comes on the first idle after it closed (after what was
  // chosen in it is done).
  if (choosing()) {
    idles_ = kIdlesPerLook - 1;
    return;
  }
  idles_ = 0;
  // The lists are on screen with the librarian only; a transfer holds its banks until it ends, and the files are
  // looked at after it.
  if (!e.tabShown_ || (e.host() && e.host()->transferUsesBanks())) return;
  PatchFile* const open = e.bankOf(LibrarianEditor::kUpper);
  std::string news;
  auto say = [&news](const std::string& text) { news += (news.empty() ? "" : " ") + text; };
  for (int side : {LibrarianEditor::kUpper, LibrarianEditor::kLower}) {
    PatchFile* bank = e.bankOf(side);
    if (!bank || bank->fromProject || bank->folderPath.empty() ||
        (side == LibrarianEditor::kLower && (bank == open || e.lowerListShowsSearch)))
      continue;
    const std::string path = bankPath(*bank);
    if (!moved(side, bank, path)) continue;
    const std::string shown = e.shownPath(path);
    std::string why;
    if (bank == open && e.openBankUnsaved()) {
      const std::unique_ptr<PatchFile> now = e.librarian()->readBankFile(path, &why);
      if (!now) {
        say(noBankNow(shown, why));
        continue;
      }
      const std::string& stamp = now->fileStamp;
      if (stamp != stampOf(*bank) && stamp != saidUnderEdits_) {
        saidUnderEdits_ = stamp;
        say(changedUnderEdits(shown));
      }
      continue;
    }
    // A rename typed on a slot whose program changed under it renames nothing: the musician sees the program first.
    LibrarianViewControl* view = e.view();
    const int renaming = bank == open && view ? view->renamingSlot() : -1;
    LibrarianPatch before;
    const bool had = renaming >= 0 && e.librarian()->copyProgram(bank, renaming, &before);
    const bool read = readAgain(side, false, &why);
    if (read) say(caughtUpOf(side, path, open && !open->folderPath.empty() ? bankPath(*open) : std::string()));
    if (!read && !why.empty()) say(noBankNow(shown, why));
    if (!read || renaming < 0) continue;
    LibrarianPatch after;
    const bool has = e.librarian()->copyProgram(bank, renaming, &after);
    if (had != has || before.messages != after.messages)
      e.closeRenameUnderField("slot " + std::to_string(renaming + 1) + " of " + shown +
                              " changed on disk while it was typed, and the list now shows it as it is");
  }
  e.note(news);
}
