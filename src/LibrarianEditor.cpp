#include "src/LibrarianEditor.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include <sys/stat.h>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IEffectBase.h"
#include "KIT/IEffect/IEffectStructs.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/kitstring.h"
#include "src/BankChooserMenu.h"
#include "src/IPopupMenuControlEditMenus.h"
#include "src/IPopupMenuControlPatchUpper.h"
#include "src/LibrarianHost.h"
#include "src/LibrarianViewControl.h"
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

// Writes a name into the twelve name bytes of a program dump (7-bit characters, blank padded).
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
  const std::string head = name.substr(0, kKeptPrefix);
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
  if (text.size() > kDisplayTextMax) text.resize(kDisplayTextMax);
  if (shortened) *shortened = true;
  return text;
}

LibrarianEditor::LibrarianEditor(IEffectBase* plug, PatchLibrarian* librarian, LibrarianHost* host)
    : patchesFolder(Vexmir::getPatchesFolderStr()), plug_(plug), librarian_(librarian), host_(host) {}

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

void LibrarianEditor::tell(const std::string& message) {
  lastMessage = message;
  if (host_ && !message.empty()) host_->log("PATCH LIBRARIAN: " + message);
}

void LibrarianEditor::showLayer(const char* name, bool show) {
  if (!host_) return;
  if (ControlLayer* layer = host_->librarianLayer(name)) layer->Hide(!show);
}

PatchFile* LibrarianEditor::bankOf(int side) const {
  if (side == kUpper) return librarian_->bankAt(librarian_->upperBankIndex);
  return lowerListShowsSearch ? librarian_->searchBankAt(librarian_->lowerBankIndex)
                              : librarian_->bankAt(librarian_->lowerBankIndex);
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
  rememberBank(side, bankOf(side));
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
  // The open bank holds edits that are not saved: another bank is opened only after Save or Discard.
  if (side == kUpper && openBankUnsaved() && index != librarian_->upperBankIndex) {
    tell("Save or discard the changes of the open bank first!");
    return false;
  }
  applySelection(side, index);
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
  if (which == 0 || which == 2) view_->patchSelectionUpperChanged();
  if (which == 1 || which == 2) view_->patchSelectionLowerChanged();
}

void LibrarianEditor::openBankChanged() {
  if (view_) view_->openBankChanged();
}

void LibrarianEditor::fillLists(int listType, bool clear) {
  const bool search = listType == 4;
  std::vector<int> lists;
  if (!search) lists.insert(lists.end(), std::begin(kUpperLists), std::end(kUpperLists));
  lists.insert(lists.end(), std::begin(kLowerLists), std::end(kLowerLists));
  if (clear) {
    for (int idx : lists)
      if (IParam* p = plug_->GetParam(idx)) p->ResetDisplayTexts();
    if (search)
      if (IParam* p = plug_->GetParam(kCurrentOpenPerfBankL)) p->ResetDisplayTexts();
    for (int idx : lists) setListParam(idx, 0);
  }
  const auto& source = search ? librarian_->searchFiles : librarian_->bankFiles;
  std::string prefix;
  int counter = 0;
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

bool LibrarianEditor::rescanKeepingEdits() {
  // A rescan reads every bank again from its file: edits of the open bank that are not saved are
  // carried over to the bank read from the same file, so that "Refresh Folders" never drops them.
  std::unique_ptr<PatchFile> edited;
  if (openBankUnsaved()) edited = librarian_->cloneBank(bankOf(kUpper));
  std::string path = edited ? bankPath(*edited) : std::string();
  if (edited && !edited->folderPath.empty()) {
    const std::string& name = edited->fileName;
    const size_t dot = name.rfind('.');
    const bool midi = dot != std::string::npos && name.substr(dot) == ".mid";
    // Its file went away, or no longer reads as a bank: the edits go to a file of their own first.
    struct stat st {};
    bool placed = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (placed) {
      PatchFile probe;
      std::string bytes;
      placed = librarianfiles::readWhole(path, &bytes);
      if (placed) librarian_->loadFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &probe);
      placed = placed && !probe.patches.empty();
    }
    if (!placed) {
      if (::lstat(path.c_str(), &st) == 0)
        path = librarianfiles::freeName(edited->folderPath, dot == std::string::npos ? name : name.substr(0, dot),
                                        dot == std::string::npos ? std::string() : name.substr(dot));
      if (path.empty() || !PatchLibrarian::writeBankFile(*edited, path, midi)) {
        // Nothing is rescanned: the edited bank stays open in memory for the user to save elsewhere.
        tell("Could not keep the edited bank on disk; save it under a new name first.");
        return false;
      }
    }
  }
  librarian_->initBankFilesOnDiscard(patchesFolder);
  copied_.reset();
  if (!edited) return true;
  const int index = bankIndexByPath(librarian_->bankFiles, path);
  if (index >= 0) {
    std::unique_lock<std::mutex> lock = librarian_->lockBanks();
    librarian_->bankFiles[index]->patches = edited->patches;
    upperBankPath = path;
  }
  return true;
}

void LibrarianEditor::patchTypeChanged(int, int listType, bool rescan) {
  if (rescan && !rescanKeepingEdits()) return;
  {
    std::unique_lock<std::mutex> lock = librarian_->lockBanks();
    librarian_->upperBankIndex = 0;
    librarian_->lowerBankIndex = 0;
  }
  updatePatchLibrarianView(2);
  if (listType != 0 && listType != 4) return;
  fillLists(listType, true);
  for (IControl* control : {upperBankSelectionControl, lowerBankSelectionControl})
    if (control) control->SetValueFromPlug(0.0);
  refreshPopUpMenus();
}

void LibrarianEditor::ResetPatchSelectionMenus() {
  fillLists(0, false);
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
  if (text.empty()) {
    endSearch();
    return lastMessage = std::string();
  }
  if (text.size() == 1) {
    tell("Enter 2 digits or more!");
    return lastMessage;
  }
  if (IParam* p = plug_->GetParam(kPatchSearchString)) p->SetDisplayText(0, text.c_str());
  librarian_->createNewSearchPatchFiles(text);
  if (librarian_->searchFiles.empty()) {
    // Nothing found: the lower list stays with the bank files and their chooser.
    if (lowerListShowsSearch) endSearch();
    if (IParam* p = plug_->GetParam(kPatchSearchString)) p->SetDisplayText(0, "search...");
    tell("No results - Try another keyword!");
    return lastMessage;
  }
  if (!lowerListShowsSearch) lowerPathBeforeSearch_ = lowerBankPath;
  lowerListShowsSearch = true;
  if (host_) host_->searchModeChanged(true);
  lowerBankPath.clear();
  if (tabShown_) {
    showLayer("RightPatchPopupMenu", false);
    showLayer("RightSearchPopupMenu", true);
  }
  patchTypeChanged(0, 4, false);
  lastMessage.clear();
  return lastMessage;
}

void LibrarianEditor::endSearch() {
  const bool was = lowerListShowsSearch;
  lowerListShowsSearch = false;
  if (host_) host_->searchModeChanged(false);
  if (IParam* p = plug_->GetParam(kPatchSearchString)) p->SetDisplayText(0, "search...");
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
  if (!copied_) return false;
  const LibrarianPatch program = *copied_;
  return programReceived(upperSlot, program);
}

bool LibrarianEditor::programReceived(int slot, const LibrarianPatch& program) {
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
  std::string cut = name.substr(0, kProgramNameLength);
  for (char& c : cut) c = static_cast<char>(c & 0x7F);
  {
    std::unique_lock<std::mutex> lock = librarian_->lockBanks();
    LibrarianPatch* program = PatchLibrarian::patchAt(bankOf(kUpper), upperSlot);
    if (!program || program->messages.empty()) return false;
    SysexBytes& dump = program->messages.front().data;
    writeDumpName(dump, cut);
    program->name = programNameFromDump(dump.data(), static_cast<int>(dump.size()));
  }
  SetLibrarianStatusUnsaved(true);
  updatePatchLibrarianView(kUpper);
  return true;
}

bool LibrarianEditor::auditionSlot(int side, int slot) {
  LibrarianPatch program;
  if (!librarian_->copyProgram(bankOf(side), slot, &program) || !program.hasWritableMessage() || !host_) return false;
  return host_->sendProgram(side, slot, program);
}

bool LibrarianEditor::storeSelectedProgram() {
  if (!view_ || !host_) return false;
  // Each side stores from its own selection: never a slot number taken from the other bank.
  const int side = view_->selectedUpperSlot >= 0 ? kUpper : kLower;
  const int slot = side == kUpper ? view_->selectedUpperSlot : view_->selectedLowerSlot;
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
  if (!view_ || !host_ || !bankOf(kUpper)) return false;
  const int slot = view_->selectedUpperSlot;
  if (slot < 0 || slot >= kProgramsPerBank) return false;
  return host_->requestProgram(slot, slot, false);
}

// ---- files ----

// The open bank matches its file again: the tab shows what the tab switch shows for a saved bank. The "Bank Saved"
// panel covers the "Bank Changed" one, whose layer leaves its pixels behind when it is hidden.
void LibrarianEditor::showSavedState() {
  if (IParam* p = plug_->GetParam(kBankEditUnsaved)) p->Set(0.0);
  showLayer("discardChangesLayerRight", false);
  if (!tabShown_) return;
  showLayer("LeftPatchPopupMenu", true);
  showLayer("keepBankOpenLayer", true);
  showLayer("saveChangesLayer", true);
}

void LibrarianEditor::SetLibrarianStatusUnsaved(bool on) {
  if (!on) return;
  if (IParam* p = plug_->GetParam(kBankEditUnsaved)) p->Set(1.0);
  if (IParam* p = plug_->GetParam(kDiscardBankData)) p->Set(0.0);
  showLayer("discardChangesLayerRight", true);
  showLayer("keepBankOpenLayer", false);
  showLayer("LeftPatchPopupMenu", false);
  showLayer("saveChangesLayer", false);
}

bool LibrarianEditor::saveOpenBank() {
  const PatchFile* bank = bankOf(kUpper);
  if (!bank || bank->folderPath.empty()) return false;
  const std::string path = bank->folderPath + "/" + bank->fileName;
  std::string saved;
  if (!librarian_->saveEditedPatch(path, bank->fileName, &saved)) {
    tell("Could not save " + bank->fileName + ": the bank stays open with its changes.");
    if (IGraphics* g = graphics()) g->ShowMessageBox(lastMessage.c_str(), "Save", 0);
    return false;
  }
  rememberBank(kUpper, bank);
  showSavedState();
  return true;
}

bool LibrarianEditor::saveOpenBankAs(bool midi) {
  const PatchFile* bank = bankOf(kUpper);
  IGraphics* g = graphics();
  if (!bank || !g) return false;
  std::string stem = bank->fileName;
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos) stem.resize(dot);
  std::string file, folder, path, error;
  const std::string openIn = fileFolder.empty() ? bank->folderPath : fileFolder;
  if (!librarian_->savePatchAs(g, stem.c_str(), openIn, midi, &file, &folder, &path, &error)) {
    if (!error.empty()) {
      tell("Could not save the bank: " + error);
      g->ShowMessageBox(lastMessage.c_str(), "Save As", 0);
    }
    return false;
  }
  upperBankFile = file;
  upperBankFolder = folder;
  upperBankPath = path;
  fileFolder = librarianfiles::folderOf(path);
  showSavedState();
  // The new file joins the lists and stays open.
  patchTypeChanged(0, 0, true);
  return true;
}

bool LibrarianEditor::saveImportedFile(bool midi) {
  IGraphics* g = graphics();
  if (!g) return false;
  KIT_String file;
  KIT_String dir(fileFolder.c_str());
  char extensions[4];
  std::strcpy(extensions, midi ? "mid" : "syx");
  g->PromptForFile(&file, kFileOpen, &dir, extensions);
  const std::string chosen = file.Get();
  if (chosen.empty()) return false;
  fileFolder = librarianfiles::folderOf(chosen);
  std::string bytes;
  if (!librarianfiles::readWhole(chosen, &bytes)) {
    tell("Could not read " + chosen);
    return false;
  }
  if (host_) host_->log("FILE IMPORTER: patch file copied to " + patchesFolder);
  // A bank of the same name already in "Patches" is never replaced: the copy takes a free name.
  std::string name = librarianfiles::lastComponent(chosen);
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string suffix = dot == std::string::npos ? std::string() : name.substr(dot);
  std::string target = patchesFolder + "/" + name;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const auto result =
        librarianfiles::writeWhole(target, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), false);
    if (result == librarianfiles::WriteResult::Written) return true;
    if (result == librarianfiles::WriteResult::Failed) break;
    target = librarianfiles::freeName(patchesFolder, stem, suffix);
    if (target.empty()) break;
  }
  tell("Could not copy " + chosen + " into the Patches folder");
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
  std::string bytes;
  if (!librarianfiles::readWhole(chosen, &bytes) || bytes.empty()) {
    tell("Could not read " + chosen);
    return 0;
  }
  ByteChunk chunk;
  chunk.PutBytes(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
  // Each program goes into a slot of its own, from the selected slot on.
  const int selected = librarian_->selectedUpperSlot;
  const int first = selected >= 0 ? selected : 0;
  int slot = first;
  int pos = 0;
  while (slot < kProgramsPerBank && ReadSysExDataFromPackage(&chunk, pos, &slot) > 0) {
  }
  return slot - first;
}

bool LibrarianEditor::OpenHelpTopics(int topic) {
  IGraphics* g = graphics();
  if (!g || topic < 0 || topic > 2) return false;
  g->OpenURL(kHelpPages[topic], nullptr, nullptr, nullptr);
  return true;
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
    case kPatchRename: {
      const char* text = param->GetDisplayText(0);
      if (view_ && text) renameProgram(view_->selectedUpperSlot, text);
      showLayer("patchRename", false);
      return true;
    }
    default:
      return false;
  }
}
