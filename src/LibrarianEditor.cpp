#include "src/LibrarianEditor.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IEffectBase.h"
#include "KIT/IEffect/IEffectStructs.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/kitstring.h"
#include "src/BankFollower.h"
#include "src/BankChooserMenu.h"
#include "src/ControlAction.h"
#include "src/IPopupMenuControlEditMenus.h"
#include "src/IPopupMenuControlPatchUpper.h"
#include "src/LibrarianHost.h"
#include "src/LibrarianViewControl.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchLibrarian.h"
#include "src/PatchLibrarianFiles.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"

namespace {

constexpr size_t kShortenFrom = 53;
constexpr size_t kKeptPrefix = 47;
constexpr size_t kDisplayTextMax = 55;

const int kUpperLists[] = {kPatchSelectionListUpper, kCurrentOpenPatchBankL, kCurrentOpenPerfBankL};
const int kLowerLists[] = {kPatchSelectionListLower, kCurrentOpenPatchBankR, kCurrentOpenPerfBankR};

const char* const kHelpPages[] = {"https://www.pellacor.com/my-tickets/", "https://www.pellacor.com/downloads/",
                                  "https://kb.pellacor.com/kb/articles/"};

// The program of a complete 297-byte dump: channel byte as the librarian stores it, named from the dump.
LibrarianPatch programFromDump(const uint8_t* dump) {
  LibrarianPatch program;
  PatchSysexMessage& message = program.messages.emplace_back();
  message.data.assign(dump, kProgramDumpSize);
  message.data[2] = 0x30;
  program.name = programNameFromDump(dump, kProgramDumpSize);
  return program;
}

// F0 42 3n 58 40, 291 data bytes, F7.
bool isCompleteProgramDump(const uint8_t* d, size_t available) {
  if (available < static_cast<size_t>(kProgramDumpSize)) return false;
  if (d[0] != 0xF0 || d[1] != 0x42 || (d[2] & 0xF0) != 0x30 || d[3] != 0x58 || d[4] != kProgramDumpFunction ||
      d[kProgramDumpSize - 1] != 0xF7)
    return false;
  for (int i = 1; i < kProgramDumpSize - 1; ++i)
    if (d[i] & 0x80) return false;
  return true;
}

}  // namespace

std::string showableName(const std::string& text, bool* changed) {
  // U+00C0 to U+00FF, in order.
  static const char kPlain[] = "AAAAAAACEEEEIIIIDNOOOOOxOUUUUYTsaaaaaaaceeeeiiiidnooooo/ouuuuyty";
  std::string name;
  *changed = false;
  for (size_t i = 0; i < text.size();) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    if (i + length > text.size()) length = text.size() - i;
    char shown = 0;
    if (length == 1 && c >= 0x20 && c < 0x7F) {
      shown = static_cast<char>(c);
    } else if (length == 2 && c == 0xC3) {
      const uint8_t low = static_cast<uint8_t>(text[i + 1]);
      if (low >= 0x80 && low <= 0xBF) shown = kPlain[low - 0x80];
    } else if (length == 2 && c == 0xC2 && static_cast<uint8_t>(text[i + 1]) == 0xA0) {
      shown = ' ';
    }
    if (shown == 0 || length > 1) *changed = true;
    if (shown != 0) name.push_back(shown);
    i += length;
  }
  if (name.size() > static_cast<size_t>(kProgramNameLength)) {
    name.resize(kProgramNameLength);
    *changed = true;
  }
  return name;
}

std::string keptNameNote(const std::string& kept) {
  return "Name kept as \"" + kept + "\" (plain, 12 max)";
}

namespace {

// Writes a name of showable characters into the twelve name bytes of a program dump (blank padded).
void writeDumpName(SysexBytes& dump, const std::string& name) {
  if (dump.size() != static_cast<size_t>(kProgramDumpSize)) return;
  for (int d = 0; d < kProgramNameLength; ++d) {
    const uint8_t c = d < static_cast<int>(name.size()) ? static_cast<uint8_t>(name[d]) & 0x7F : ' ';
    dump[programDataPosition(d)] = c;
    dump[5 + 8 * (d / 7)] &= static_cast<uint8_t>(~(1u << (d % 7)));
  }
}

}  // namespace

std::string shortenBankName(const std::string& name, std::string* prefix, int* counter, bool* shortened) {
  if (shortened) *shortened = false;
  if (name.size() < kShortenFrom) return name;
  const std::string head = KIT_UTF8Head(name, kKeptPrefix);
  if (head == *prefix)
    ++*counter;
  else
    *counter = 1;
  *prefix = head;
  const size_t dot = name.rfind('.');
  std::string extension = dot == std::string::npos ? name : name.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string text = head + "~" + std::to_string(*counter) + "." + extension;
  // A display text holds 55 characters; a name without an extension would give a longer one.
  text = KIT_UTF8Head(text, kDisplayTextMax);
  if (shortened) *shortened = true;
  return text;
}

LibrarianEditor::LibrarianEditor(IEffectBase* plug, PatchLibrarian* librarian, LibrarianHost* host)
    : patchesFolder(Vexmir::getPatchesFolderStr()),
      plug_(plug),
      librarian_(librarian),
      host_(host),
      follower_(std::make_unique<BankFollower>(*this)) {}

LibrarianEditor::~LibrarianEditor() = default;

IGraphics* LibrarianEditor::graphics() const {
  return plug_ ? plug_->GetGUI() : nullptr;
}

void LibrarianEditor::attachChoosers(LeftPatchPopupMenu* upper, RightPatchPopupMenu* lower,
                                     RightSearchPopupMenu* search) {
  upperChooser_ = upper;
  lowerChooser_ = lower;
  searchChooser_ = search;
}

void LibrarianEditor::tell(const std::string& message, const std::string& hint) {
  {
    std::lock_guard<std::mutex> lock(messageLock_);
    scanNoteTexts_.clear();
    line_ = message;
    outcome_ = hint.empty() ? message : message + " " + hint;
  }
  if (message.empty()) return;
  if (view_) view_->setNotice(hint.empty() ? message : message + " " + hint);
  if (!host_) return;
  host_->showMessage(message);
  if (!hint.empty()) host_->showHint(hint);
  host_->log("PATCH LIBRARIAN: " + message);
}

void LibrarianEditor::note(const std::string& news) {
  if (news.empty()) return;
  std::string shown;
  {
    std::lock_guard<std::mutex> lock(messageLock_);
    scanNoteTexts_.clear();
    const bool ended = !outcome_.empty() && std::strchr(".!?", outcome_.back()) != nullptr;
    line_ = outcome_.empty() ? news : outcome_ + (ended ? " " : ". ") + news;
    shown = line_;
  }
  if (view_) view_->setNotice(shown);
  if (host_) host_->log("PATCH LIBRARIAN: " + news);
}

std::string LibrarianEditor::lastMessage() const {
  std::lock_guard<std::mutex> lock(messageLock_);
  return line_;
}

std::string LibrarianEditor::clearLine() {
  std::lock_guard<std::mutex> lock(messageLock_);
  line_.clear();
  return std::string();
}

void LibrarianEditor::confirm(const std::string& message) {
  if (!host_) return;
  host_->showMessage(message);
  host_->log("PATCH LIBRARIAN: " + message);
}

// Both sides as the filesystem reaches them: a path through a link, "..", or a data folder named with "//" is in
// Patches when its file is.
std::string LibrarianEditor::shownPath(const std::string& path) const {
  const std::string patches = librarianfiles::realPath(patchesFolder + "/");
  const std::string real = librarianfiles::realPath(path);
  if (patchesFolder.empty() || real.compare(0, patches.size(), patches) != 0) return path;
  return librarianfiles::lastComponent(patchesFolder) + "/" + real.substr(patches.size());
}

bool LibrarianEditor::inPatches(const std::string& path) const {
  const std::string patches = librarianfiles::realPath(patchesFolder + "/");
  return !patchesFolder.empty() && librarianfiles::realPath(path).compare(0, patches.size(), patches) == 0;
}

void LibrarianEditor::clearMessage() {
  {
    std::lock_guard<std::mutex> lock(messageLock_);
    scanNoteTexts_.clear();
    line_.clear();
    outcome_.clear();
  }
  if (view_ && !view_->notice().empty()) view_->setNotice(std::string());
  if (host_) host_->clearMessage();
}

void LibrarianEditor::warn(const std::string& message, const char* caption) {
  tell(message);
  if (IGraphics* g = graphics()) g->ShowMessageBox(message.c_str(), caption, 0);
}

void LibrarianEditor::showLayer(const char* name, bool show) {
  if (!host_) return;
  if (ControlLayer* layer = host_->librarianLayer(name)) layer->Hide(!show);
}

PatchFile* LibrarianEditor::bankOf(int side) const {
  return librarian_->openBank(side, lowerListShowsSearch);
}

void LibrarianEditor::setListParam(int paramIdx, int value) {
  IParam* param = plug_ ? plug_->GetParam(paramIdx) : nullptr;
  if (!param) return;
  double v = value;
  if (v < param->GetMin()) v = param->GetMin();
  if (v > param->GetMax()) v = param->GetMax();
  param->Set(v);
  if (IGraphics* g = graphics()) g->SetParameterFromPlug(paramIdx, v, false);
}

void LibrarianEditor::rememberBank(int side, const PatchFile* bank) {
  std::string& file = side == kUpper ? upperBankFile : lowerBankFile;
  std::string& folder = side == kUpper ? upperBankFolder : lowerBankFolder;
  std::string& path = side == kUpper ? upperBankPath : lowerBankPath;
  file = bank ? bank->fileName : std::string();
  folder = bank ? bank->folderName : std::string();
  path = bank ? bankPath(*bank) : std::string();
}

void LibrarianEditor::applySelection(int side, int index) {
  const int listParam = side == kUpper ? kPatchSelectionListUpper : kPatchSelectionListLower;
  setListParam(listParam, index);
  IControl* control = side == kUpper ? upperBankSelectionControl : lowerBankSelectionControl;
  if (control)
    if (IParam* param = plug_->GetParam(listParam)) control->SetValueFromPlug(param->GetNormalized());
  {
    std::unique_lock<std::mutex> lock = librarian_->lockBanks();
    (side == kUpper ? librarian_->upperBankIndex : librarian_->lowerBankIndex) = index;
  }
  const std::string openBefore = upperBankPath;
  rememberBank(side, bankOf(side));
  if (side == kUpper) {
    // The project keeps the open bank by its position; a rename opened on another bank renames nothing.
    if (IParam* current = plug_->GetParam(kCurrentBank)) current->Set(index);
    if (view_ && upperBankPath != openBefore)
      closeRenameUnderField("the open bank is " + shownPath(upperBankPath) + " now");
  }
  BankChooserMenu* chooser = nullptr;
  if (side == kUpper && upperChooser_) chooser = &upperChooser_->chooser();
  if (side == kLower) {
    if (lowerListShowsSearch && searchChooser_) chooser = &searchChooser_->chooser();
    if (!lowerListShowsSearch && lowerChooser_) chooser = &lowerChooser_->chooser();
  }
  if (chooser) chooser->check(side == kUpper ? upperBankPath : lowerBankPath);
  updatePatchLibrarianView(side);
}

bool LibrarianEditor::selectBank(int side, int index) {
  const auto& list = side == kLower && lowerListShowsSearch ? librarian_->searchFiles : librarian_->bankFiles;
  if (index < 0 || static_cast<size_t>(index) >= list.size() || !list[index]) return false;
  // A job that stores programs keeps its bank open until it ends; one that holds edits that are not saved opens
  // another bank only after Save or Discard.
  if (side == kUpper && index != librarian_->upperBankIndex && host_ && host_->transferIntoOpenBank()) {
    tell(MIDIMessageManager::ignoredText("Opening " + list[index]->fileName));
    return false;
  }
  if (side == kUpper && openBankUnsaved() && index != librarian_->upperBankIndex) {
    tell("Save or discard the changes of the open bank first!");
    return false;
  }
  const std::string openBefore = upperBankPath;
  applySelection(side, index);
  if (upperBankPath != openBefore) plug_->ProjectChanged();
  readAgainIfChanged(side);
  return true;
}

void LibrarianEditor::stepBank(int side, int step) {
  const auto& list = side == kLower && lowerListShowsSearch ? librarian_->searchFiles : librarian_->bankFiles;
  if (list.empty()) return;
  const int count = static_cast<int>(list.size());
  const int current = side == kUpper ? librarian_->upperBankIndex : librarian_->lowerBankIndex;
  int next = current + (step < 0 ? -1 : 1);
  if (next >= count) next = 0;
  if (next < 0) next = count - 1;
  selectBank(side, next);
}

void LibrarianEditor::updatePatchLibrarianView(int which) {
  if (!view_) return;
  // A list that shows the open bank too shows its changes.
  const bool same = bankOf(kLower) == bankOf(kUpper);
  if (which == 0 || which == 2 || same) view_->patchSelectionUpperChanged();
  if (which == 1 || which == 2 || same) view_->patchSelectionLowerChanged();
}

void LibrarianEditor::openBankChanged() {
  if (view_) view_->openBankChanged();
}

namespace {

// The list parameters a list type fills: both sides' for the bank files, the lower side's for search results.
std::vector<int> listsOf(int listType) {
  std::vector<int> lists;
  if (listType != 4) lists.insert(lists.end(), std::begin(kUpperLists), std::end(kUpperLists));
  lists.insert(lists.end(), std::begin(kLowerLists), std::end(kLowerLists));
  return lists;
}

}  // namespace

void LibrarianEditor::clearLists(int listType) {
  const std::vector<int> lists = listsOf(listType);
  for (int idx : lists)
    if (IParam* p = plug_->GetParam(idx)) p->ResetDisplayTexts();
  if (listType == 4)
    if (IParam* p = plug_->GetParam(kCurrentOpenPerfBankL)) p->ResetDisplayTexts();
  for (int idx : lists) setListParam(idx, 0);
}

void LibrarianEditor::fillLists(int listType) {
  const bool search = listType == 4;
  const std::vector<int> lists = listsOf(listType);
  const auto& source = search ? librarian_->searchFiles : librarian_->bankFiles;
  std::string prefix;
  int counter = 0;
  // An empty folder says so in the bank lists rather than showing a bare number.
  if (source.empty() && !search)
    for (int idx : lists)
      if (IParam* p = plug_->GetParam(idx)) p->SetDisplayText(0, "No banks");
  for (size_t i = 0; i < source.size(); ++i) {
    if (!source[i]) continue;
    bool shortened = false;
    const std::string text = shortenBankName(source[i]->fileName, &prefix, &counter, &shortened);
    for (int idx : lists)
      if (IParam* p = plug_->GetParam(idx)) p->SetDisplayText(static_cast<int>(i), text.c_str());
    if (shortened && host_)
      host_->log("PATCH LIBRARIAN: Filename " + source[i]->fileName + " RENAMED TO " + text +
                 " Because the filename was too long to fit in plug-in display!");
  }
}

void LibrarianEditor::rescanKeepingEdits() {
  // A rescan reads every bank again from its file: edits of the open bank that are not saved are
  // carried over to the bank read from the same file, so that "Refresh Folders" never drops them.
  const BankFollower::Shown shownBefore = follower_->shown();
  std::unique_ptr<PatchFile> edited;
  if (openBankUnsaved()) edited = librarian_->cloneBank(bankOf(kUpper));
  // A bank a project brought without a file has nothing to read again: discarded, it is gone. Saved under a name of
  // its own, it is that file now.
  const bool withoutFile = bankOf(kUpper) && bankOf(kUpper)->fromProject && upperBankPath == bankPath(*bankOf(kUpper));
  std::string path = edited ? bankPath(*edited) : upperBankPath;
  std::string keptMessage;
  bool keptOnDisk = true, writtenOut = false;
  if (edited && !edited->folderPath.empty()) {
    const std::string& name = edited->fileName;
    std::string why;
    const bool listable = librarian_->listable(path, &why);
    if (listable && librarianfiles::fileStamp(path, static_cast<size_t>(kMaxBankFileSize)) != edited->fileStamp) {
      keptMessage = BankFollower::changedUnderEdits(shownPath(path));
      follower_->toldUnderEdits(path);
    }
    if (!listable) {
      // The scan will not list its file as it is now (gone, cut, grown, split, no bank any more): the
      // edits go to a file first, where it was when it is gone, else beside it (the other file is left alone).
      const size_t dot = name.rfind('.');
      std::string target = path;
      struct stat st {};
      if (::lstat(path.c_str(), &st) == 0)
        target = librarianfiles::freeName(edited->folderPath, dot == std::string::npos ? name : name.substr(0, dot),
                                          dot == std::string::npos ? std::string() : name.substr(dot));
      if (!target.empty() &&
          PatchLibrarian::writeBankFile(*edited, target, librarianfiles::lowerExtension(name) == "mid")) {
        keptMessage = target == path ? name + " was gone from disk: its unsaved edits were written back to it."
                                     : name + " changed on disk (" + why + "): its unsaved edits were written to " +
                                           librarianfiles::lastComponent(target) + ".";
        path = target;
        writtenOut = true;
      } else {
        keptOnDisk = false;
        keptMessage = name + " changed on disk (" + why + ") and its unsaved edits could not be written to disk: " +
                      "they stay open here. Save them under a new name.";
      }
    }
  }
  {
    // While the lists are rebuilt no bank is open: a program arriving from the synthesizer meanwhile is
    // dropped rather than stored into whichever bank comes first.
    std::unique_lock<std::mutex> lock = librarian_->lockBanks();
    librarian_->upperBankIndex = -1;
  }
  // The copied program is a copy of its own: it stays until the next Copy, whatever the rescan finds.
  librarian_->initBankFilesOnDiscard(patchesFolder);
  int index = bankIndexByPath(librarian_->bankFiles, path);
  if (edited) {
    // Not listed after all (the write failed, or the file lies outside "Patches"): the edited bank stays
    // open from memory.
    if (index < 0)
      index = librarian_->adoptBank(std::move(edited));
    else {
      std::unique_lock<std::mutex> lock = librarian_->lockBanks();
      // The edits were made on the file as this bank read it: a Save over what is there now asks first.
      PatchFile* listed = librarian_->bankFiles[index];
      listed->patches = edited->patches;
      if (!writtenOut) listed->fileStamp = edited->fileStamp;
    }
    upperBankPath = index >= 0 ? bankPath(*librarian_->bankFiles[index]) : path;
  } else if (index >= 0) {
    // The file listed, its path written another way ("..", a link): the open bank goes by the listed path.
    upperBankPath = bankPath(*librarian_->bankFiles[index]);
  } else if (!path.empty() && !withoutFile) {
    // A bank saved outside "Patches" stays open while its file reads as a bank.
    std::string why;
    if (librarian_->listable(path, &why))
      librarian_->adoptFile(path);
    else
      keptMessage = librarianfiles::lastComponent(path) + " is no longer listed: " + why + ".";
  }
  reportScanNotes();
  if (!keptOnDisk)
    warn(keptMessage, "Refresh Folders");
  else if (!keptMessage.empty())
    tell(keptMessage);
  follower_->sayCaughtUp(shownBefore);
}

void LibrarianEditor::reportScanNotes() {
  const auto& notes = librarian_->scanNotes;
  if (notes.empty()) return;
  if (notes.size() == 1 && !notes.front().listed && notes.front().reason == PatchLibrarian::kFolderMissing) {
    tell(noBanksHint());
    return;
  }
  // Every file passed over, one after the other: a file not listed at all matters more than a bank missing from
  // the menus only.
  std::vector<std::string> texts;
  for (bool listed : {false, true})
    for (const PatchLibrarian::ScanNote& n : notes)
      if (n.listed == listed)
        texts.push_back((listed ? "Not in the bank menus: " : "Not listed: ") + librarianfiles::lastComponent(n.path) +
                        " - " + n.reason);
  showScanNote(std::move(texts), 0);
}

std::string LibrarianEditor::noBanksHint() const {
  if (!librarian_->bankFiles.empty()) return std::string();
  struct stat st {};
  if (::stat(patchesFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return "No Patches folder: make " + patchesFolder + " and put bank files in it";
  return "No banks in " + shownPath(patchesFolder + "/") + ": put bank files in it, then Refresh Folders";
}

void LibrarianEditor::tellNoOpenBank(const std::string& action) {
  tell(action + ": no bank is open.", noBanksHint());
}

void LibrarianEditor::showScanNote(std::vector<std::string> texts, size_t index) {
  std::string tail;
  if (texts.size() > 1)
    tail = "(" + std::to_string(index + 1) + " of " + std::to_string(texts.size()) + ": click here for the next)";
  tell(tail.empty() ? texts[index] : texts[index] + " " + tail);
  if (view_) view_->setNotice(texts[index], tail);
  std::lock_guard<std::mutex> lock(messageLock_);
  scanNoteTexts_ = std::move(texts);
  scanNoteShown_ = index;
}

bool LibrarianEditor::showNextScanNote() {
  std::vector<std::string> texts;
  size_t next = 0;
  {
    std::lock_guard<std::mutex> lock(messageLock_);
    if (scanNoteTexts_.size() < 2) return false;
    next = (scanNoteShown_ + 1) % scanNoteTexts_.size();
    texts = std::move(scanNoteTexts_);
  }
  showScanNote(std::move(texts), next);
  return true;
}

void LibrarianEditor::reselectBanks() {
  // The open banks are found again by their paths in the same step as the lists they index change: a
  // program arriving from the synthesizer meanwhile goes into the open bank, never into the first one.
  std::unique_lock<std::mutex> lock = librarian_->lockBanks();
  const int upper = bankIndexByPath(librarian_->bankFiles, upperBankPath);
  librarian_->upperBankIndex = upper >= 0 ? upper : 0;
  const auto& lowerList = lowerListShowsSearch ? librarian_->searchFiles : librarian_->bankFiles;
  const int lower = bankIndexByPath(lowerList, lowerBankPath);
  librarian_->lowerBankIndex = lower >= 0 ? lower : 0;
}

void LibrarianEditor::patchTypeChanged(int, int listType, bool rescan) {
  if (rescan) {
    rescanKeepingEdits();
    // The rescan dropped the search results: the lower list goes back to the bank files (and is refilled there).
    if (lowerListShowsSearch) {
      endSearch();
      if (listType == 0) return;
    }
  }
  reselectBanks();
  updatePatchLibrarianView(2);
  if (listType != 0 && listType != 4) {
    // The remembered names follow the banks shown: Save writes the bank the user sees.
    rememberBank(kUpper, bankOf(kUpper));
    rememberBank(kLower, bankOf(kLower));
    return;
  }
  clearLists(listType);
  if (listType == 0)
    ResetPatchSelectionMenus();
  else
    fillLists(listType);
  for (IControl* control : {upperBankSelectionControl, lowerBankSelectionControl})
    if (control) control->SetValueFromPlug(0.0);
  refreshPopUpMenus();
}

void LibrarianEditor::ResetPatchSelectionMenus() {
  fillLists(0);
  updatePatchLibrarianView(2);
}

void LibrarianEditor::refreshPopUpMenus() {
  if (upperChooser_) upperChooser_->chooser().rebuild(*librarian_);
  if (lowerChooser_) lowerChooser_->chooser().rebuild(*librarian_);
  if (searchChooser_) searchChooser_->chooser().rebuild(*librarian_);
  // The open banks are found again by their paths; where one is gone, the first bank of its list.
  const int upper = bankIndexByPath(librarian_->bankFiles, upperBankPath);
  applySelection(kUpper, upper >= 0 ? upper : 0);
  const auto& lowerList = lowerListShowsSearch ? librarian_->searchFiles : librarian_->bankFiles;
  const int lower = bankIndexByPath(lowerList, lowerBankPath);
  applySelection(kLower, lower >= 0 ? lower : 0);
}

std::string LibrarianEditor::search(const std::string& text) {
  // Return in a field not typed into commits its prompt: no word was given, so nothing is searched.
  if (text == kSearchPrompt) return clearLine();
  if (text.empty()) {
    endSearch();
    return clearLine();
  }
  if (text.size() == 1) {
    showSearchText(kSearchPrompt);
    tell("Enter 2 digits or more!");
    return lastMessage();
  }
  // Results stay until the search ends (an emptied field or the search switch); the field keeps
  // naming the text they were found by, never one they do not match.
  showSearchText(lowerListShowsSearch ? searchedText_ : text);
  if (lowerListShowsSearch) return lastMessage();
  librarian_->createNewSearchPatchFiles(text);
  if (librarian_->searchFiles.empty()) {
    // Nothing found: the lower list stays with the bank files and their chooser.
    showSearchText(kSearchPrompt);
    tell("No results - Try another keyword!", "Tip: Note that letter size matters..");
    return lastMessage();
  }
  lowerPathBeforeSearch_ = lowerBankPath;
  searchedText_ = text;
  lowerListShowsSearch = true;
  if (host_) host_->searchModeChanged(true);
  lowerBankPath.clear();
  if (tabShown_) {
    showLayer("RightPatchPopupMenu", false);
    showLayer("RightSearchPopupMenu", true);
  }
  patchTypeChanged(0, 4, false);
  return clearLine();
}

void LibrarianEditor::showSearchText(const std::string& text) {
  IParam* param = plug_ ? plug_->GetParam(kPatchSearchString) : nullptr;
  if (!param) return;
  const char* shown = param->GetDisplayText(0);
  if (shown && text == shown) return;
  param->SetDisplayText(0, text.c_str());
  // The field draws the parameter's text: it is drawn again, or the word searched before stays on the screen.
  if (ControlAction* action = param->GetControlAction())
    for (IControl* control : action->controls) control->SetDirty(false);
}

void LibrarianEditor::endSearch() {
  const bool was = lowerListShowsSearch;
  lowerListShowsSearch = false;
  if (host_) host_->searchModeChanged(false);
  showSearchText(kSearchPrompt);
  // The invisible search chooser must not stay over the list once the search is over.
  showLayer("RightSearchPopupMenu", false);
  if (tabShown_) showLayer("RightPatchPopupMenu", true);
  if (was) {
    // The lower list goes back to the bank it showed before the search, where that still exists.
    lowerBankPath = lowerPathBeforeSearch_;
    patchTypeChanged(0, 0, false);
  }
}

void LibrarianEditor::librarianTabShown(bool shown) {
  tabShown_ = shown;
  if (view_ && shown) view_->shown = true;
  showLayer("RightSearchPopupMenu", shown && lowerListShowsSearch);
  showLayer("RightPatchPopupMenu", shown && !lowerListShowsSearch);
  showLayer("LeftPatchPopupMenu", shown && !openBankUnsaved());
  if (shown) {
    readAgainIfChanged(kUpper);
    readAgainIfChanged(kLower);
    return;
  }
  // The tab's fields go with it, and an entry open in one ends as a click elsewhere ends it: a search word typed is
  // searched, a name typed renames the slot its rename was opened on.
  showLayer("patchRename", false);
  if (IGraphics* g = graphics()) g->EndUserEditOfHiddenControl();
  if (view_) view_->closeRename();
}

// ---- slots ----

void LibrarianEditor::copyProgram(int lowerSlot) {
  // The program is copied now: what is pasted later is what the user saw when copying, even if the
  // lower list has moved to another bank or a search meanwhile.
  auto program = std::make_unique<LibrarianPatch>();
  if (librarian_->copyProgram(bankOf(kLower), lowerSlot, program.get()) && program->hasWritableMessage())
    copied_ = std::move(program);
  else
    copied_.reset();
}

bool LibrarianEditor::pasteProgram(int upperSlot) {
  if (!copied_ || !follower_->editAllowed(upperSlot, upperSlot + 1, "Not pasted", "Paste again to replace it."))
    return false;
  const LibrarianPatch program = *copied_;
  return programReceived(upperSlot, program);
}

bool LibrarianEditor::programReceived(int slot, const LibrarianPatch& program) {
  readAgainIfChanged(kUpper);
  PatchFile* bank = bankOf(kUpper);
  if (!bank || slot < 0 || slot >= kProgramsPerBank || !program.hasWritableMessage()) return false;
  {
    std::unique_lock<std::mutex> lock = librarian_->lockBanks();
    PatchLibrarian::fillUncompletedBankFiles(bank);
    LibrarianPatch& target = bank->patches[slot];
    target = program;
    if (target.name.empty() && !target.messages.empty())
      target.name = programNameFromDump(target.messages.front().data.data(),
                                        static_cast<int>(target.messages.front().data.size()));
  }
  SetLibrarianStatusUnsaved(true);
  updatePatchLibrarianView(kUpper);
  return true;
}

bool LibrarianEditor::renameProgram(int upperSlot, const std::string& name) {
  bool changed = false, unchanged = false;
  const std::string cut = showableName(name, &changed);
  if (cut.find_first_not_of(' ') == std::string::npos) {
    tell("A program name needs a letter, digit or sign the synthesizer can show: the name stays as it was.");
    return false;
  }
  if (!follower_->editAllowed(upperSlot, upperSlot + 1, "Not renamed to \"" + name + "\"", "Rename the slot again."))
    return false;
  {
    std::unique_lock<std::mutex> lock = librarian_->lockBanks();
    LibrarianPatch* program = PatchLibrarian::patchAt(bankOf(kUpper), upperSlot);
    if (!program || program->messages.empty()) return false;
    SysexBytes& dump = program->messages.front().data;
    SysexBytes renamed = dump;
    writeDumpName(renamed, cut);
    const std::string now = programNameFromDump(renamed.data(), static_cast<int>(renamed.size()));
    // A rename left as it opened, or a name typed as it was, changes nothing: the bank stays as it is.
    unchanged = now == programNameFromDump(dump.data(), static_cast<int>(dump.size()));
    if (!unchanged) {
      dump = renamed;
      program->name = now;
    }
  }
  if (!unchanged) {
    SetLibrarianStatusUnsaved(true);
    updatePatchLibrarianView(kUpper);
  }
  // As in the top bar's name field: the musician reads the name it became when that changed what was typed.
  if (changed) tell(keptNameNote(cut));
  return true;
}

bool LibrarianEditor::auditionSlot(int side, int slot) {
  LibrarianPatch program;
  if (!librarian_->copyProgram(bankOf(side), slot, &program) || !program.hasWritableMessage() || !host_) return false;
  return host_->sendProgram(side, slot, program);
}

bool LibrarianEditor::storeSelectedProgram() {
  if (!host_) return false;
  // The highlighted slot, of whichever list has one.
  const int side = librarian_->selectedSlot(kUpper) >= 0 ? kUpper : kLower;
  const int slot = librarian_->selectedSlot(side);
  LibrarianPatch program;
  if (!librarian_->copyProgram(bankOf(side), slot, &program) || !program.hasWritableMessage()) return false;
  return host_->storeProgram(side, slot, program);
}

bool LibrarianEditor::storeOpenBank() {
  std::unique_ptr<PatchFile> copy = librarian_->cloneBank(bankOf(kUpper));
  if (!copy || !host_) return false;
  PatchLibrarian::fillUncompletedBankFiles(copy.get());
  return host_->storeBank(kUpper, *copy);
}

bool LibrarianEditor::requestIntoSelectedSlot() {
  return requestIntoSlot(librarian_->selectedSlot(kUpper));
}

bool LibrarianEditor::slotsWritable(int first, int last, const std::string& refusal, const std::string& again) {
  return follower_->editAllowed(first, last, refusal, again);
}

bool LibrarianEditor::requestIntoSlot(int fromSlot) {
  const int slot = librarian_->selectedSlot(kUpper);
  if (!host_ || !bankOf(kUpper) || slot < 0 || slot >= kProgramsPerBank || fromSlot >= kProgramsPerBank) return false;
  // The program arrives for the slot as the musician saw it: where the file changed it meanwhile, nothing is asked.
  if (!slotsWritable(slot, slot + 1, "Not requested", "Request again to replace it.")) return false;
  return host_->requestProgram(fromSlot, slot, false);
}

bool LibrarianEditor::requestAllIntoOpenBank() {
  if (!host_) return false;
  if (!slotsWritable(0, kProgramsPerBank, "Not fetched", "Fetch again to replace them.")) return false;
  return host_->requestAllPrograms();
}

bool LibrarianEditor::initializeSelectedSlot() {
  const int slot = librarian_->selectedSlot(kUpper);
  if (!host_ || !slotsWritable(slot, slot + 1, "Not initialized", "Initialize it again to replace it.")) return false;
  return host_->initializeCurrentProgram();
}

// ---- files ----

// The open bank matches its file again: the tab shows what the tab switch shows for a saved bank. The "Bank Saved"
// panel covers the "Bank Changed" one, whose layer leaves its pixels behind when it is hidden.
void LibrarianEditor::showSavedState() {
  if (IParam* p = plug_->GetParam(kBankEditUnsaved)) p->Set(0.0);
  // Saved or discarded: the project keeps the open bank without edits from now on.
  plug_->ProjectChanged();
  showLayer("discardChangesLayerRight", false);
  if (!tabShown_) return;
  showLayer("LeftPatchPopupMenu", true);
  showLayer("keepBankOpenLayer", true);
  showLayer("saveChangesLayer", true);
}

void LibrarianEditor::closeRenameUnderField(const std::string& why) {
  if (!view_ || view_->renameClosed) return;
  renameClosedWhy_ = why;
  view_->closeRename();
  // The field goes with it: what was typed is ended now, and refused with the reason.
  if (IGraphics* g = graphics()) g->EndUserEditOfHiddenControl();
}

bool LibrarianEditor::readAgainIfChanged(int side) {
  return follower_->readAgain(side);
}

void LibrarianEditor::idle() {
  follower_->look();
}

void LibrarianEditor::SetLibrarianStatusUnsaved(bool on) {
  if (!on) return;
  if (IParam* p = plug_->GetParam(kBankEditUnsaved)) p->Set(1.0);
  if (IParam* p = plug_->GetParam(kDiscardBankData)) p->Set(0.0);
  // Every edit changes the image the project keeps, flagged already or not. Told once flagged: a host that saves on
  // its own thread as soon as it hears saves the image with the edit.
  plug_->ProjectChanged();
  showLayer("discardChangesLayerRight", true);
  showLayer("keepBankOpenLayer", false);
  showLayer("LeftPatchPopupMenu", false);
  showLayer("saveChangesLayer", false);
}

void LibrarianEditor::projectBank(std::string* path, std::vector<uint8_t>* image, std::string* stamp) const {
  // Any thread (a host saves its project whenever it likes): the open bank is found and copied under the bank lock.
  const std::unique_ptr<PatchFile> bank = librarian_->cloneOpenBank();
  path->clear();
  image->clear();
  stamp->clear();
  if (!bank) return;
  *path = bankPath(*bank);
  if (!openBankUnsaved()) return;
  *stamp = bank->fileStamp;
  ByteChunk bytes;
  PatchLibrarian::buildBankImage(*bank, false, &bytes);
  image->assign(bytes.GetBytes(), bytes.GetBytes() + bytes.Size());
}

namespace {

// A folder with its links and ".." resolved; "" when it is not there.
std::string resolvedFolder(const std::string& folder) {
  char* real = ::realpath(folder.empty() ? "/" : folder.c_str(), nullptr);
  if (!real) return std::string();
  std::string out = real;
  std::free(real);
  return out;
}

// The name a project's bank without a file goes by (and is saved under): the path's last component with a bank
// file's extension, so that the scan lists what Save writes.
std::string projectBankName(const std::string& path) {
  std::string name = librarianfiles::lastComponent(path);
  const std::string prefix = "project:";
  if (name.compare(0, prefix.size(), prefix) == 0) name.erase(0, prefix.size());
  if (name.empty() || name == "." || name == ".." || name.size() > 200) name = "Project Bank";
  if (!librarianfiles::isBankExtension(librarianfiles::lowerExtension(name))) name += ".syx";
  return name;
}

}  // namespace

std::string LibrarianEditor::recallProjectBank(const std::string& path, const std::vector<uint8_t>& image,
                                               const std::string& stamp, const double* position, bool* opened) {
  *opened = false;
  std::unique_ptr<PatchFile> edits;
  if (!image.empty()) {
    edits = std::make_unique<PatchFile>();
    librarian_->loadFromBytes(image.data(), image.size(), edits.get());
    if (edits->patches.empty())
      edits.reset();
    else
      PatchLibrarian::fillUncompletedBankFiles(edits.get());
  }
  if (!edits && !position) return std::string();
  const RecallOutcome outcome = recallOutcome(path, image);
  if (outcome.keepsOpenBank) {
    // The edits made here are in no file, and a job that stores programs owns its bank until it ends: the open bank
    // stays open, and so does its highlighted slot. Nothing needs saying when it is the project's bank and holds what
    // the project kept (a host opening a project recalls it twice); a bank the project brought without a file goes
    // by the name its path gives it.
    const PatchFile* open = bankOf(kUpper);
    const int projectIndex = path.empty() && !edits && position
                                 ? static_cast<int>(std::clamp(*position, -1.0, 1e6))
                                 : projectBankIndex(path, nullptr);
    const bool same = open && (path == upperBankPath || projectIndex == librarian_->upperBankIndex ||
                               (open->fromProject && projectIndex < 0 && projectBankName(path) == open->fileName));
    if (same && edits) {
      const std::unique_ptr<PatchFile> now = librarian_->cloneBank(open);
      if (now && now->holdsSameProgramsAs(*edits)) edits.reset();
    }
    *opened = outcome.takesSelection;
    if (same && !edits) return projectBankOpened();
    // The editor keeps another bank than the project's: the host's project is no longer what it holds.
    plug_->ProjectChanged();
    const std::string what =
        same ? "the project's own unsaved edits of it were"
             : (path.empty() ? std::string("the project's bank") : "the project's bank " + projectBankName(path)) +
                   (edits ? " with its unsaved edits" : "") + " was";
    const std::string name = open ? open->fileName : std::string("The open bank");
    if (openBankUnsaved())
      tell(name + " has unsaved changes here, so it stays open: " + what +
           " not opened. Save or discard the changes, then open the project again.");
    else if (host_->transferIntoOpenBank())
      tell(name + " stays open while the transfer into it runs: " + what +
           " not opened. Open the project again when the transfer has ended.");
    else
      tell(name + " stays open while the transfer of its programs runs: " + what +
           " not opened. Open the project again when the transfer has ended.");
    projectBankNotOpened_ = lastMessage();
    return lastMessage();
  }
  *opened = true;
  projectBankOpened();
  std::string message;
  if (edits) {
    message = restoreUnsavedEdits(path, std::move(edits), stamp);
  } else {
    if (IParam* current = plug_->GetParam(kCurrentBank))
      current->Set(std::clamp(*position, current->GetMin(), current->GetMax()));
    message = reopenProjectBank(path);
    readAgainIfChanged(kUpper);
  }
  // The project's bank is gone, or its edits open from the project under a name of their own: another bank than the
  // one the project names is open, and the host's project is no longer what the editor holds.
  if (!path.empty() && upperBankPath != path) plug_->ProjectChanged();
  return message;
}

LibrarianEditor::RecallOutcome LibrarianEditor::recallOutcome(const std::string& path,
                                                             const std::vector<uint8_t>& image) const {
  RecallOutcome outcome;
  // A transfer that stores into the open bank, or sends programs of the banks, holds them until it ends.
  const bool transfer = host_ && host_->transferUsesBanks();
  outcome.keepsOpenBank = openBankUnsaved() || transfer;
  if (!outcome.keepsOpenBank || transfer || image.empty()) return outcome;
  std::string openPath, stamp;
  std::vector<uint8_t> openImage;
  projectBank(&openPath, &openImage, &stamp);
  outcome.takesSelection = openPath == path && openImage == image;
  return outcome;
}

std::string LibrarianEditor::takeRenameRefusal() {
  std::string refusal;
  refusal.swap(renameRefusal_);
  return refusal;
}

std::string LibrarianEditor::projectBankOpened() {
  if (!projectBankNotOpened_.empty() && lastMessage() == projectBankNotOpened_) clearMessage();
  projectBankNotOpened_.clear();
  return std::string();
}

std::string LibrarianEditor::reopenProjectBank(const std::string& path) {
  IParam* current = plug_->GetParam(kCurrentBank);
  if (!current) return std::string();
  std::string why;
  const int index = path.empty() ? -1 : projectBankIndex(path, &why);
  if (index >= 0) current->Set(index);
  onParamChange(kCurrentBank);
  if (index >= 0 || path.empty()) return std::string();
  // The bank at the project's position is another bank: the musician must know before a Send or Store uses it.
  const PatchFile* bank = bankOf(kUpper);
  const std::string open = bank ? shownPath(bankPath(*bank)) + " is open instead" : "no bank is open";
  tell("The project's bank " + shownPath(path) + " could not be opened" + (why.empty() ? "" : " (" + why + ")") +
       ": " + open + ".");
  return lastMessage();
}

int LibrarianEditor::projectBankIndex(const std::string& path, std::string* why) {
  // A bank this instance lists by that very path: one of "Patches", one the musician saved elsewhere through the
  // file panel, or one a project brought without a file.
  int index = bankIndexByPath(librarian_->bankFiles, path);
  if (index >= 0) return index;
  std::string reason;
  const std::string name = librarianfiles::lastComponent(path);
  const std::string folder = path.empty() || path[0] != '/' ? std::string() : resolvedFolder(librarianfiles::folderOf(path));
  const std::string patches = resolvedFolder(patchesFolder);
  if (path.rfind("project:", 0) == 0) {
    reason = "it was never saved to a file";
  } else if (path.empty() || path[0] != '/' || name.empty() || name == "." || name == "..") {
    reason = "it names no file on this computer";
  } else if (folder.empty()) {
    reason = "it is not on disk here";
  } else if (patches.empty() || (folder != patches && folder.compare(0, patches.size() + 1, patches + "/") != 0)) {
    reason = "it lies outside the Patches folder";
  } else {
    // Inside "Patches" after all: the listed bank of the same file, named another way.
    const std::string resolved = folder + "/" + name;
    std::unique_lock<std::mutex> lock = librarian_->lockBanks();
    for (size_t i = 0; i < librarian_->bankFiles.size() && index < 0; ++i) {
      const PatchFile* bank = librarian_->bankFiles[i];
      if (bank && !bank->fromProject && !bank->folderPath.empty() &&
          resolvedFolder(bank->folderPath) + "/" + bank->fileName == resolved)
        index = static_cast<int>(i);
    }
    lock.unlock();
    struct stat st {};
    if (index >= 0)
      return index;
    else if (::lstat(path.c_str(), &st) != 0)
      reason = "it is not on disk here";
    else if (librarian_->listable(path, &reason))
      reason = "the last scan did not list it";
  }
  if (why) *why = reason;
  return -1;
}

std::string LibrarianEditor::restoreUnsavedEdits(const std::string& path, std::unique_ptr<PatchFile> edits,
                                                 const std::string& stamp) {
  std::string why, message;
  int index = projectBankIndex(path, &why);
  if (index >= 0) {
    PatchFile* listed = librarian_->bankFiles[static_cast<size_t>(index)];
    const std::string file = bankPath(*listed);
    // The edits were made on the file the project names by its stamp: Save asks before it writes over another. Edits
    // that the file holds already (saved since the project kept them) are the file as it is now.
    std::string madeOn = stamp;
    if (const std::unique_ptr<PatchFile> now = librarian_->readBankFile(file, nullptr);
        now && now->holdsSameProgramsAs(*edits))
      madeOn = now->fileStamp;
    // A name typed for a slot of the open bank is refused when the project's edits bring another program into it.
    const int renaming = view_ && index == librarian_->upperBankIndex ? view_->renamingSlot() : -1;
    LibrarianPatch before, after;
    const bool had = renaming >= 0 && librarian_->copyProgram(listed, renaming, &before);
    {
      std::unique_lock<std::mutex> lock = librarian_->lockBanks();
      listed->patches = edits->patches;
      listed->fileStamp = madeOn;
    }
    const bool has = renaming >= 0 && librarian_->copyProgram(listed, renaming, &after);
    if (renaming >= 0 && (had != has || before.messages != after.messages))
      closeRenameUnderField("slot " + std::to_string(renaming + 1) + " of " + shownPath(file) +
                            " took the recalled project's program while it was typed");
    if (follower_->changedSince(*listed, file)) {
      tell((stamp.empty() ? "The project does not say which version of " + shownPath(file) +
                                " its unsaved edits were made on"
                          : shownPath(file) + " is not as it was when the project's unsaved edits were made on it") +
           ": they are open here, and Save asks before it writes over the file.");
      follower_->toldUnderEdits(file);
      message = lastMessage();
    }
  } else {
    // The project's path names no bank of this instance: its edits open from memory, and no file is written, made
    // or replaced for them until the musician saves.
    edits->fromProject = true;
    edits->fileName = projectBankName(path);
    edits->folderName.clear();
    edits->folderPath.clear();
    edits->folderParts.clear();
    const std::string name = edits->fileName;
    index = librarian_->adoptBank(std::move(edits));
    const std::string from = path.rfind("project:", 0) == 0 ? std::string() : ", not from " + shownPath(path);
    tell("The project's unsaved bank " + name + " is open from the project" + from + " (" + why +
         "): Save writes it to a new file in Patches.");
    message = lastMessage();
  }
  applySelection(kUpper, index);
  SetLibrarianStatusUnsaved(true);
  openBankChanged();
  return message;
}

bool LibrarianEditor::saveProjectBank(PatchFile* bank) {
  const std::string name = bank->fileName;
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string suffix = dot == std::string::npos ? std::string() : name.substr(dot);
  std::string target, saved, note;
  bool written = false;
  // Never over an existing file: a name taken meanwhile gives the next free one.
  for (int attempt = 0; attempt < 3 && !written; ++attempt) {
    target = librarianfiles::freeName(patchesFolder, stem, suffix);
    if (target.empty()) break;
    written = librarian_->saveEditedPatch(target, librarianfiles::lastComponent(target), &saved, &note, false);
  }
  if (!written) {
    warn("Could not save " + name + " into the Patches folder: the bank stays open with its changes. Save it under a "
             "new name.",
         "Save");
    return false;
  }
  upperBankPath = target;
  showSavedState();
  // The new file joins the lists and stays open.
  patchTypeChanged(0, 0, true);
  confirm("Saved " + shownPath(target));
  return true;
}

bool LibrarianEditor::saveOpenBank() {
  PatchFile* bank = bankOf(kUpper);
  if (!bank) {
    tellNoOpenBank("Nothing to save");
    return false;
  }
  if (bank->fromProject) return saveProjectBank(bank);
  if (bank->folderPath.empty()) {
    tell("Could not save " + bank->fileName + ": it has no file yet. Save it under a new name.");
    return false;
  }
  const std::string path = bank->folderPath + "/" + bank->fileName;
  // Without unsaved edits the bank is its file as it is now; with them, the file must be as the bank found it.
  readAgainIfChanged(kUpper);
  if (!follower_->saveAllowed(*bank, path)) return false;
  std::string saved, note, stamp;
  if (!librarian_->saveEditedPatch(path, bank->fileName, &saved, &note, true, &stamp)) {
    warn("Could not save " + bank->fileName + (note.empty() ? std::string() : " (" + note + ")") +
             ": the bank stays open with its changes. Save it under a new name.",
         "Save");
    return false;
  }
  // The file as saved: a later save or showing tells whether someone else wrote it since.
  follower_->setStamp(bank, stamp);
  rememberBank(kUpper, bank);
  showSavedState();
  // The lower list may show the same file through another entry: it shows what was saved, which needs no word.
  follower_->readAgain(kLower, false);
  if (!note.empty())
    tell("Saved " + bank->fileName + ": " + note + ".");
  else
    confirm("Saved " + shownPath(path));
  return true;
}

bool LibrarianEditor::saveOpenBankAs(bool midi) {
  const PatchFile* bank = bankOf(kUpper);
  IGraphics* g = graphics();
  if (!g) return false;
  if (!bank) {
    tellNoOpenBank("Nothing to save");
    return false;
  }
  std::string stem = bank->fileName;
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos) stem.resize(dot);
  std::string file, folder, path, error;
  // Beside the open bank where it lies in Patches, else in Patches: never where an import or a save elsewhere was.
  const std::string openIn = inPatches(bank->folderPath + "/") ? bank->folderPath : patchesFolder;
  if (!librarian_->savePatchAs(g, stem.c_str(), openIn, midi, &file, &folder, &path, &error)) {
    if (!error.empty()) {
      tell("Could not save the bank: " + error);
      g->ShowMessageBox(lastMessage().c_str(), "Save As", 0);
    }
    return false;
  }
  // Written over its own file, the open bank is that file as saved (as after Save): no list caught up with it.
  if (librarianfiles::realPath(path) == librarianfiles::realPath(bankPath(*bank)))
    follower_->setStamp(bankOf(kUpper), librarianfiles::fileStamp(path, static_cast<size_t>(kMaxBankFileSize)));
  upperBankFile = file;
  upperBankFolder = folder;
  upperBankPath = path;
  fileFolder = librarianfiles::folderOf(path);
  showSavedState();
  // The new file joins the lists and stays open.
  patchTypeChanged(0, 0, true);
  if (!inPatches(path))
    tell("Saved " + file +
         " outside the Patches folder: it stays open, but the bank menus list only banks in Patches.");
  else
    confirm("Saved " + shownPath(path));
  return true;
}

bool LibrarianEditor::saveImportedFile(bool midi) {
  IGraphics* g = graphics();
  if (!g) return false;
  KIT_String file;
  KIT_String dir(fileFolder.c_str());
  // Every type the menu item names, the editor's own bank files among them.
  char extensions[16];
  std::strcpy(extensions, midi ? "mid" : "syx vmr vlt");
  g->PromptForFile(&file, kFileOpen, &dir, extensions);
  const std::string chosen = file.Get();
  if (chosen.empty()) return false;
  fileFolder = librarianfiles::folderOf(chosen);
  const std::string name = librarianfiles::lastComponent(chosen);
  std::string bytes, why;
  if (!librarianfiles::readWhole(chosen, &bytes, static_cast<size_t>(kMaxBankFileSize), &why)) {
    warn(why == "it cannot be opened" ? "Could not read " + chosen : "Could not import " + name + ": " + why, "Import");
    return false;
  }
  // Only what the scan lists is copied: an import that would show nothing is no success.
  std::string notABank;
  if (bytes.size() < static_cast<size_t>(kMinBankFileSize)) {
    notABank = "it is too small for a bank file";
  } else {
    PatchFile probe;
    librarian_->loadFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &probe);
    if (probe.patches.empty()) notABank = "it holds no program of the synthesizer";
  }
  if (!notABank.empty()) {
    warn("Could not import " + name + ": " + notABank, "Import");
    return false;
  }
  if (host_) host_->log("FILE IMPORTER: patch file copied to " + patchesFolder);
  // A bank of the same name already in "Patches" is never replaced: the copy takes a free name.
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string suffix = dot == std::string::npos ? std::string() : name.substr(dot);
  std::string target = patchesFolder + "/" + name;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const auto result =
        librarianfiles::writeWhole(target, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), false);
    if (result == librarianfiles::WriteResult::Written) {
      confirm("Imported " + name + " as " + shownPath(target));
      return true;
    }
    if (result != librarianfiles::WriteResult::NameTaken) break;
    target = librarianfiles::freeName(patchesFolder, stem, suffix);
    if (target.empty()) break;
  }
  warn("Could not copy " + name + " into the Patches folder", "Import");
  return false;
}

int LibrarianEditor::ReadSysExDataFromPackage(const ByteChunk* file, int& pos, int* nextSlot) {
  const int size = file ? file->Size() : 0;
  const uint8_t* d = file ? file->GetBytes() : nullptr;
  if (pos < 0 || !d) return pos = -1;
  while (pos < size && d[pos] != 0xF0) ++pos;
  if (pos >= size) return pos = -1;
  const int start = pos;
  // A Standard MIDI SysEx event: F0, the length 82 28 (296), the dump without its F0.
  if (size - start >= 3 && d[start + 1] == 0x82 && d[start + 2] == 0x28) {
    uint8_t dump[kProgramDumpSize];
    const int available = size - (start + 3);
    if (available >= kProgramDumpSize - 1) {
      dump[0] = 0xF0;
      std::memcpy(dump + 1, d + start + 3, kProgramDumpSize - 1);
      if (isCompleteProgramDump(dump, kProgramDumpSize)) {
        pos = start + 3 + kProgramDumpSize - 1;
        if (*nextSlot < kProgramsPerBank && programReceived(*nextSlot, programFromDump(dump))) ++*nextSlot;
        return pos > 0 ? pos : -1;
      }
    }
  } else if (isCompleteProgramDump(d + start, static_cast<size_t>(size - start))) {
    pos = start + kProgramDumpSize;
    if (*nextSlot < kProgramsPerBank && programReceived(*nextSlot, programFromDump(d + start))) ++*nextSlot;
    return pos;
  }
  // Anything else, a cut or damaged dump included, is passed over: only whole programs are taken.
  pos = start + 1;
  return pos < size ? pos : -1;
}

int LibrarianEditor::ImportSinglePatches() {
  IGraphics* g = graphics();
  if (!g || !bankOf(kUpper)) return 0;
  KIT_String file;
  KIT_String dir(fileFolder.c_str());
  char extensions[] = "mid syx prg";
  g->PromptForFile(&file, kFileOpen, &dir, extensions);
  const std::string chosen = file.Get();
  if (chosen.empty()) return 0;
  fileFolder = librarianfiles::folderOf(chosen);
  std::string bytes, why;
  if (!librarianfiles::readWhole(chosen, &bytes, static_cast<size_t>(kMaxBankFileSize), &why) || bytes.empty()) {
    warn("Could not read " + chosen + (why.empty() ? std::string() : ": " + why), "Import");
    return 0;
  }
  ByteChunk chunk;
  chunk.PutBytes(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
  // Each program goes into a slot of its own, from the selected slot on.
  const int selected = librarian_->selectedSlot(kUpper);
  const int first = selected >= 0 ? selected : 0;
  if (!follower_->editAllowed(first, kProgramsPerBank, "Not imported", "Import again to replace them.")) return 0;
  int slot = first;
  int pos = 0;
  while (slot < kProgramsPerBank && ReadSysExDataFromPackage(&chunk, pos, &slot) > 0) {
  }
  return slot - first;
}

bool LibrarianEditor::OpenHelpTopics(int topic) {
  static const char* const kWhat[] = {"Support tickets", "Updates", "DAW setup guides"};
  if (!graphics() || topic < 0 || topic > 2) return false;
  openOnDesktop(kHelpPages[topic], kWhat[topic]);
  return true;
}

// The desktop opens the folder or page; where it has no opener the musician reads where to go instead.
void LibrarianEditor::openOnDesktop(const std::string& target, const std::string& what) {
  IGraphics* g = graphics();
  if (g && g->OpenURL(target.c_str(), nullptr, nullptr, nullptr))
    tell("Opening " + what + ": " + target);
  else
    warn(what + ": " + target, what.c_str());
}

void LibrarianEditor::showAbout() {
  char version[64] = {};
  if (plug_) plug_->GetEffectVersionStr(version);
  const std::string name = plug_ && *plug_->GetEffectName() ? plug_->GetEffectName() : "Vexmir Editor";
  warn(name + " " + version + ": editor and librarian for the microKorg family", "About this Plug-in");
}

void LibrarianEditor::discardChanges() {
  showSavedState();
  patchTypeChanged(0, 0, true);
}

// ---- menus ----

void LibrarianEditor::showFileEditMenu(int x, int y) {
  fileEditMenu_ = std::make_unique<FileEditPopupMenu>(plug_, this, IRECT(x, y, x, y));
  fileEditMenu_->doPopupMenu(x, y);
}

void LibrarianEditor::showFileCopyMenu(int x, int y) {
  fileCopyMenu_ = std::make_unique<FileCopyPopupMenu>(plug_, this, IRECT(x, y, x, y));
  fileCopyMenu_->doPopupMenu(x, y);
}

// ---- parameter handler ----

bool LibrarianEditor::openBankUnsaved() const {
  // The parameter is the one record: the transfer jobs flag the bank through it as well.
  const IParam* param = plug_ ? plug_->GetParam(kBankEditUnsaved) : nullptr;
  return param && param->Value() == 1.0;
}

bool LibrarianEditor::onParamChange(int paramIdx) {
  IParam* param = plug_ ? plug_->GetParam(paramIdx) : nullptr;
  if (!param) return false;
  static const int kActions[] = {kPatchSelectionListUpper, kPatchSelectionListLower, kLibUpperNextBank,
                                 kLibUpperPreviousBank, kLibLowerNextBank, kLibLowerPreviousBank, kRefreshFolders,
                                 kPatchSearch, kPatchSearchString, kDiscardBankData, kPatchRename};
  // The musician's next librarian action: the message of the last one goes. A field reports its text a second time
  // as the action left it (the search field back at its prompt, the rename closed): no action, its message stays.
  const char* typed = param->GetDisplayText(0);
  const bool echo = (paramIdx == kPatchSearchString && typed && std::strcmp(typed, kSearchPrompt) == 0) ||
                    (paramIdx == kPatchRename && (!view_ || view_->renameClosed));
  if (!echo && std::find(std::begin(kActions), std::end(kActions), paramIdx) != std::end(kActions)) clearMessage();
  switch (paramIdx) {
    case kPatchSelectionListUpper:
      if (!selectBank(kUpper, param->Int())) setListParam(kPatchSelectionListUpper, librarian_->upperBankIndex);
      return true;
    case kPatchSelectionListLower:
      if (!selectBank(kLower, param->Int())) setListParam(kPatchSelectionListLower, librarian_->lowerBankIndex);
      return true;
    case kLibUpperNextBank:
    case kLibUpperPreviousBank:
    case kLibLowerNextBank:
    case kLibLowerPreviousBank:
      if (param->Value() >= 0.5) {
        const int side = paramIdx == kLibUpperNextBank || paramIdx == kLibUpperPreviousBank ? kUpper : kLower;
        stepBank(side, paramIdx == kLibUpperNextBank || paramIdx == kLibLowerNextBank ? 1 : -1);
      }
      return true;
    case kRefreshFolders:
      patchTypeChanged(0, 0, true);
      return true;
    case kDataType:
      if (param->Int() != 1) {
        patchTypeChanged(0, 0, false);
        patchTypeChanged(0, lowerListShowsSearch ? 4 : 0, false);
      }
      return true;
    case kPatchSearch:
      if (param->Int() == 1)
        showLayer("searchField", true);
      else
        endSearch();
      return true;
    case kPatchSearchString: {
      const char* text = param->GetDisplayText(0);
      search(text ? text : "");
      return true;
    }
    case kDiscardBankData:
      if (param->Int() == 1) discardChanges();
      return true;
    case kCurrentBank:
      // A recalled project's open bank, where it is another than the one open now.
      if (param->Int() != librarian_->upperBankIndex && !selectBank(kUpper, param->Int()))
        param->Set(librarian_->upperBankIndex);
      return true;
    case kPatchRename: {
      // Only an open rename is committed, and to the slot it was opened on: an arrow key, a click or a
      // double click closes it, and the selection may have moved on since.
      const char* text = param->GetDisplayText(0);
      if (view_ && text && !view_->renameClosed) {
        renameProgram(view_->renamingSlot(), text);
        view_->renameName = text;
      } else if (view_ && text && text != view_->renameName) {
        // The rename was closed under its field (the open bank changed), and then the entry ended.
        view_->renameName = text;
        tell("Not renamed to \"" + std::string(text) + "\": " +
             (renameClosedWhy_.empty() ? std::string("the open bank changed while it was typed") : renameClosedWhy_) +
             ". Rename the slot again.");
        renameRefusal_ = lastMessage();
      }
      if (view_) view_->renameClosed = true;
      showLayer("patchRename", false);
      return true;
    }
    default:
      return false;
  }
}
