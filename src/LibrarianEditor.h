// The librarian's editor side: the bank selection lists, the bank choosers, the slot view, the bank
// edit and slot menus, saving, importing and searching, kept together for one plug-in instance. It
// holds what the editor object keeps for the librarian (the names of the two open banks, the search
// mode, the copied program) and carries out the librarian commands of the parameter handler.
//
// Threads: user-interface thread only, but for openBankChanged and projectBank. While the editor is open a recall
// that comes on another thread hands its part over to this thread (Vexmir::recallHandsOver). Programs received from
// the synthesizer are stored into the open bank by the MIDI input and the transfer jobs under the librarian's bank
// lock (PatchLibrarian::lockBanks), which this class takes wherever it reads or changes the programs of a listed bank;
// paste and import hand theirs over on this thread (programReceived).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KIT/IEffect/IGraphicsStructs.h"
#include "src/LibrarianPatch.h"

class BankFollower;
class ByteChunk;
class ControlLayer;
class FileCopyPopupMenu;
class FileEditPopupMenu;
class IControl;
class IEffectBase;
class IGraphics;
class LeftPatchPopupMenu;
class LibrarianHost;
class LibrarianViewControl;
class PatchFile;
class PatchLibrarian;
class RightPatchPopupMenu;
class RightSearchPopupMenu;

// What the synthesizer can show of a typed program name (UTF-8): printable ASCII is kept, the accented letters
// of Latin-1 become their plain letters, control characters and everything else are left out; cut to twelve
// characters. *changed tells whether anything was replaced, left out or cut.
std::string showableName(const std::string& text, bool* changed);
// What the musician reads when a typed name was kept as `kept`: `Name kept as "kept" (plain, 12 max)`.
std::string keptNameNote(const std::string& kept);
// The text a bank list shows for a bank name: unchanged below 53 bytes, else its first 47 bytes, "~", a running
// number and the lower-case extension, cut to the 55 bytes a display text holds; a UTF-8 character is never cut.
// `prefix` and `counter` carry the numbering from one name of a list to the next; `shortened` tells whether the
// name changed.
std::string shortenBankName(const std::string& name, std::string* prefix, int* counter, bool* shortened);

class LibrarianEditor {
 public:
  enum Side { kUpper = 0, kLower = 1 };

  LibrarianEditor(IEffectBase* plug, PatchLibrarian* librarian, LibrarianHost* host);
  ~LibrarianEditor();
  LibrarianEditor(const LibrarianEditor&) = delete;
  LibrarianEditor& operator=(const LibrarianEditor&) = delete;

  // Wiring, done once by whoever builds the librarian tab. The controls are owned by their layers.
  void attachView(LibrarianViewControl* view) { view_ = view; }
  void attachChoosers(LeftPatchPopupMenu* upper, RightPatchPopupMenu* lower, RightSearchPopupMenu* search);
  void attachSelectionControls(IControl* upper, IControl* lower) {
    upperBankSelectionControl = upper;
    lowerBankSelectionControl = lower;
  }

  // Creates the tab's own controls on a surface built from the UI description: the slot view over
  // `viewRect` (the description's coordinates, before scaling) with parameter `viewParam` in
  // `tabLayer`, and the two bank choosers, the search chooser and the main menu, each in a layer of
  // its own (hidden until the tab shows them). The new layers are attached to the surface and
  // returned, so that the editor can find them by name. Fills the lists and menus.
  std::vector<ControlLayer*> buildTab(IGraphics* surface, double scale, IRECT viewRect, int viewParam,
                                      ControlLayer* tabLayer);

  // ---- bank lists ----
  // Refills the bank lists: listType 0 from the bank files, 4 from the search results; `rescan`
  // scans the "Patches" folder first. The open banks are kept by their paths where they still exist.
  void patchTypeChanged(int, int listType, bool rescan);
  // Refills the six lists from the bank files without rescanning.
  void ResetPatchSelectionMenus();
  // Rebuilds the three choosers, re-selects the remembered banks and refreshes both slot columns.
  void refreshPopUpMenus();
  // 0 upper, 1 lower, 2 both.
  void updatePatchLibrarianView(int which);
  // Any thread: a program was stored into the open bank off the user-interface thread; the slot view reads
  // the bank again on its own thread.
  void openBankChanged();
  // Makes `index` the bank of a side: the list parameter, its control, the librarian's index, the
  // remembered names and the slot column follow. An index outside the side's list changes nothing.
  bool selectBank(int side, int index);
  // The next (+1) or previous (-1) bank of a side, wrapping around.
  void stepBank(int side, int step);
  // The bank a side shows now (null when none).
  PatchFile* bankOf(int side) const;

  // ---- search ----
  // Two or more characters: gathers the matching programs and shows them in the lower list; while
  // results are shown, another text leaves them (and the field shows the text they were found by).
  // One character: asks for more. Empty: ends the search. Returns the message shown ("" for none).
  std::string search(const std::string& text);
  void endSearch();

  // ---- slots ----
  // The program copied by the last Copy (its messages taken at Copy time); null when none.
  const LibrarianPatch* copiedProgram() const { return copied_.get(); }
  void copyProgram(int lowerSlot);
  // Stores the copied program into the open bank's slot; false when nothing was copied or the slot
  // is not a slot of the open bank.
  bool pasteProgram(int upperSlot);
  // Renames the program of the open bank's slot (name cut to 12 characters, written into the dump).
  bool renameProgram(int upperSlot, const std::string& name);
  // A program that arrived for the open bank (paste, import, a request to the synthesizer): stored
  // into `slot` of the open bank, which is flagged as changed.
  bool programReceived(int slot, const LibrarianPatch& program);
  // Auditions the program of a side's slot. Slot -1, or a slot beyond the bank, sends nothing.
  bool auditionSlot(int side, int slot);
  // Store and request use the side's own selected slot; -1 sends and stores nothing.
  bool storeSelectedProgram();
  bool storeOpenBank();
  bool requestIntoSelectedSlot();
  // The synthesizer's program at `fromSlot` (-1: its edit buffer) into the selected slot of the open bank.
  bool requestIntoSlot(int fromSlot);
  // All 128 programs of the synthesizer into the open bank.
  bool requestAllIntoOpenBank();
  // The initial program into the selected slot of the open bank.
  bool initializeSelectedSlot();
  // Before an action writes slots [first, last) of the open bank (see BankFollower::editAllowed): false, and the
  // line says why, when the file changed one of them since the list showed it.
  bool slotsWritable(int first, int last, const std::string& refusal, const std::string& again);

  // ---- files ----
  // Writes the open bank over its file; on success the bank is no longer flagged as changed. A file changed on disk
  // since the bank read or wrote it is replaced only when the musician answers Replace.
  bool saveOpenBank();
  // A side's bank that holds no unsaved edits and no transfer uses is its file as it is now: read again where the
  // file changed since it was read or saved here (on showing it, and before an edit goes into it), and the line says
  // so. True when it was read again.
  bool readAgainIfChanged(int side);
  // The editor's idle: the lists shown follow their files (see BankFollower::look).
  void idle();
  const BankFollower& follower() const { return *follower_; }
  // Prompts for a file and writes the open bank there (Standard MIDI or raw); see PatchLibrarian::savePatchAs.
  bool saveOpenBankAs(bool midi);
  // Prompts for a bank file and copies it into "Patches" (never over an existing file), then rescans.
  bool saveImportedFile(bool midi);
  // Prompts for a file and stores each complete program dump found in it into its own slot of the
  // open bank, from the selected slot on. The number of programs stored.
  int ImportSinglePatches();
  // The next program of a file image at or after `pos`: a 297-byte dump, raw or as a Standard MIDI
  // SysEx event (F0 82 28 ...). Hands it to programReceived for slot *nextSlot (then advanced) and
  // returns the position after it; 0 or less at the end.
  int ReadSysExDataFromPackage(const ByteChunk* file, int& pos, int* nextSlot);
  bool OpenHelpTopics(int topic);
  // Opens a folder or web page (`what` names it) with the desktop's opener, else shows where it is.
  void openOnDesktop(const std::string& target, const std::string& what);
  // The plug-in's name, version and purpose, in the librarian and a message box.
  void showAbout();
  // The next file the last scan passed over and why (a click on the librarian's message line); false when the
  // message names no more than one.
  bool showNextScanNote();
  // A rename whose slot is no longer the program it was opened on (`why` says what happened) closes with its field;
  // the name typed is refused with that reason.
  void closeRenameUnderField(const std::string& why);
  // Drops the unsaved edits of the open bank: scans again and shows the saved state.
  void discardChanges();

  // ---- the parameter handler's librarian branches ----
  // True when `paramIdx` is a librarian parameter and was handled: the bank lists (519, 520), the
  // next and previous bank buttons, "Refresh Folders", the search switch and text, the data type,
  // discarding the open bank's edits and the rename text.
  bool onParamChange(int paramIdx);
  // The librarian tab was shown (true) or another tab (false): the bank choosers' layers follow, so
  // an invisible chooser never catches a click on another tab.
  void librarianTabShown(bool shown);

  // ---- the host's project ----
  // The open bank as a project keeps it: its file's path (empty when no bank is open) and, while it holds unsaved
  // edits, the bank image that Save would write and the stamp of the file they were made on (else both empty).
  void projectBank(std::string* path, std::vector<uint8_t>* image, std::string* stamp) const;
  // Opens a recalled project's bank: `path` and `image` as projectBank gave them, `position` (when the project kept
  // it) the position kCurrentBank held, which stands in where the project kept no path or its bank is no longer
  // listed. Edits made here are never dropped: while the open bank holds unsaved edits it stays open with them (the
  // message line says so), unless it is the project's bank holding the very same programs. A path is a name, never
  // a permission: edits whose path names none of this instance's listed banks (a file outside "Patches", missing,
  // or no bank; links and ".." resolved) open from memory as a bank without a file, which Save writes into
  // "Patches" as a new file. Edits restored into a listed bank carry `stamp`, the file they were made on (empty:
  // not known), so that Save asks before it writes over a file changed since. Returns the message shown ("" for
  // none); *opened tells whether the project's bank is the open bank now.
  std::string recallProjectBank(const std::string& path, const std::vector<uint8_t>& image, const std::string& stamp,
                                const double* position, bool* opened);
  // What recallProjectBank does with a project's bank (`path` and `image` as projectBank gave them) while the open
  // bank stays as it is now: the open bank is kept while it holds unsaved edits or a transfer uses the banks, and then
  // takes the project's selection only when it is the project's bank holding the very same edits. Any thread (as
  // projectBank): a state saved while a recall waits for this thread holds what the recall will do.
  struct RecallOutcome {
    bool keepsOpenBank = false;
    bool takesSelection = false;
  };
  RecallOutcome recallOutcome(const std::string& path, const std::vector<uint8_t>& image) const;
  // The refusal of the last name typed into a field that closed under it (see closeRenameUnderField), once; "" when
  // none since the last call.
  std::string takeRenameRefusal();

  // ---- status ----
  // An action of the musician begins: the message of the last one is no longer shown.
  void clearMessage();
  // News the musician did not ask for (a list caught up with its file): the librarian's line only, after the
  // outcome of the musician's last action where one is still said. The status display keeps that outcome.
  void note(const std::string& news);
  void SetLibrarianStatusUnsaved(bool on);
  // True while the open bank holds edits that are not saved (kBankEditUnsaved).
  bool openBankUnsaved() const;

  // ---- menus ----
  void showFileEditMenu(int x, int y);
  void showFileCopyMenu(int x, int y);

  IEffectBase* plug() const { return plug_; }
  IGraphics* graphics() const;
  PatchLibrarian* librarian() const { return librarian_; }
  LibrarianHost* host() const { return host_; }
  LibrarianViewControl* view() const { return view_; }

  // The open banks, by name and by path (the path decides; the names are what the lists show).
  std::string upperBankFile, upperBankFolder, upperBankPath;
  std::string lowerBankFile, lowerBankFolder, lowerBankPath;
  bool lowerListShowsSearch = false;
  IControl* upperBankSelectionControl = nullptr;
  IControl* lowerBankSelectionControl = nullptr;
  // The folder the file prompts open in.
  std::string fileFolder;
  // The "Patches" folder that rescans read.
  std::string patchesFolder;
  // What the librarian's line says now (search hints, save failures, a list catching up with its file); for the
  // display and tests. Any thread.
  std::string lastMessage() const;

 private:
  friend class BankFollower;
  void setListParam(int paramIdx, int value);
  // Empties the list parameters of a list type and sets them to 0.
  void clearLists(int listType);
  // Stores the bank names of the list type's source as the texts of its list parameters.
  void fillLists(int listType);
  void rememberBank(int side, const PatchFile* bank);
  void showLayer(const char* name, bool show);
  // What the search field shows.
  void showSearchText(const std::string& text);
  void applySelection(int side, int index);
  // Scans again; the open bank's unsaved edits are kept (on disk where its file changed, else in memory)
  // and a bank saved outside "Patches" stays open.
  void rescanKeepingEdits();
  // Tells the user why files of the last scan are not listed or not in the menus.
  void reportScanNotes();
  // What the musician can do when no bank is listed: make the Patches folder, or fill it ("" while banks are listed).
  std::string noBanksHint() const;
  // An action that needs the open bank found none: says so, with what to do about it.
  void tellNoOpenBank(const std::string& action);
  void reselectBanks();
  void showSavedState();
  // The project's bank is the open bank: a message that said it was not opened goes. Returns "".
  std::string projectBankOpened();
  // The bank of a recalled project's path where it stands in kCurrentBank's stead; see recallProjectBank.
  std::string reopenProjectBank(const std::string& path);
  // Opens a project's unsaved edits, flagged as changed: in the listed bank its path names (with the stamp of the
  // file they were made on), else from memory.
  std::string restoreUnsavedEdits(const std::string& path, std::unique_ptr<PatchFile> edits, const std::string& stamp);
  // The index of the listed bank a project's path names (exactly, or with the links and ".." of its folders
  // resolved to a bank inside "Patches"); -1 when none, and then *why says why in words for the musician.
  int projectBankIndex(const std::string& path, std::string* why);
  // Writes a bank that a project brought without a file into "Patches" under a free name.
  bool saveProjectBank(PatchFile* bank);
  // Shows a message to the user in the librarian and on the status display (and in the debug log): the outcome of
  // the musician's action, said until the next one.
  void tell(const std::string& message, const std::string& hint = std::string());
  // Forgets what the line says without redrawing it; returns "".
  std::string clearLine();
  // The same for a failure the user must acknowledge: also in a message box.
  void warn(const std::string& message, const char* caption);
  // What a save or import wrote where, on the status display (and in the debug log).
  void confirm(const std::string& message);
  // A path under the data folder as from "Patches" on; any other path whole.
  std::string shownPath(const std::string& path) const;
  // The path, "." and ".." resolved, lies inside the Patches folder.
  bool inPatches(const std::string& path) const;
  // The files the last scan passed over, each with its reason, shown one at a time.
  void showScanNote(std::vector<std::string> texts, size_t index);
  // The librarian's line and what the musician's last action said on it. A recall writes them on the host's thread
  // too: under messageLock_.
  mutable std::mutex messageLock_;
  std::string line_, outcome_;
  std::vector<std::string> scanNoteTexts_;
  // The message of a recall that left the project's bank unopened: it goes when a later recall opens that bank.
  std::string projectBankNotOpened_;
  size_t scanNoteShown_ = 0;
  // Set by the recall on the host's thread as well as on this one.
  std::atomic<bool> tabShown_{false};
  std::string lowerPathBeforeSearch_;
  // Why the last rename closed under its field, and what the musician was told of the name typed in it.
  std::string renameClosedWhy_;
  std::string renameRefusal_;
  std::string searchedText_;

  IEffectBase* plug_;
  PatchLibrarian* librarian_;
  LibrarianHost* host_;
  LibrarianViewControl* view_ = nullptr;
  LeftPatchPopupMenu* upperChooser_ = nullptr;
  RightPatchPopupMenu* lowerChooser_ = nullptr;
  RightSearchPopupMenu* searchChooser_ = nullptr;
  std::unique_ptr<FileEditPopupMenu> fileEditMenu_;
  std::unique_ptr<FileCopyPopupMenu> fileCopyMenu_;
  std::unique_ptr<LibrarianPatch> copied_;
  std::unique_ptr<BankFollower> follower_;
};
