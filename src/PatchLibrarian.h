// The librarian of one plug-in instance: every bank file of the "Patches" folder in memory, the folder
// tree that the bank menus show, the search-result banks and the selection state of the two slot lists.
//
// Threads: the scan, the search and the writers run on the user-interface thread (the first scan on
// the thread that creates the plug-in); loadFromChunk also runs on the MIDI input thread for a bank
// dump received from the synthesizer, with a bank record of the caller's own. Programs received from
// the synthesizer are stored into the open bank on the MIDI input and job threads: see lockBanks().
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "src/PatchFile.h"

class ByteChunk;
class IGraphics;
class Vexmir;
namespace Poco {
class File;
class Path;
}  // namespace Poco

// Bank files smaller than this are never read by the scan.
constexpr int64_t kMinBankFileSize = 25001;
// Files larger than this are not read by the scan: no bank form comes close, and the whole file
// would be held in memory.
constexpr int64_t kMaxBankFileSize = 64LL * 1024 * 1024;

// The names of the librarian's folders inside the data folder.
extern const char kPatchesFolderName[];
extern const char kConvertedBanksFolderName[];

// Searches `data` from `position` for the first byte equal to `value`. Found: true, `position` just
// after it. Not found, or `position` at or past the end: false and `position` -1. `position` -1 on
// entry gives false at once.
bool findByte(const ByteChunk* data, int& position, int value);

// Removes every occurrence of each character of `chars` from `text`, one character after the other.
void removeCharsFromString(std::string& text, const char* chars);

class PatchLibrarian {
 public:
  explicit PatchLibrarian(Vexmir* plugin = nullptr);
  ~PatchLibrarian();
  PatchLibrarian(const PatchLibrarian&) = delete;
  PatchLibrarian& operator=(const PatchLibrarian&) = delete;

  // Index in bankFiles of the bank open in the upper slot list. Changed under lockBanks().
  int upperBankIndex = 0;
  // Index of the lower bank: in bankFiles, or in searchFiles while the lower list shows search results.
  int lowerBankIndex = -1;
  // While a long file is split: the bound of the split loop.
  int splitBankCount = 0;
  // True when the last read found no program data. Atomic: the MIDI input reads a bank dump while the
  // interface reads files.
  std::atomic<bool> chunkUnrecognized{true};
  // Set while the file being parsed is split into " Singles " banks.
  bool fileWasSplit = false;
  // Set when a split wrote bank files during a scan; the scan then runs once more.
  bool rescanPending = false;
  // Where a log line is composed.
  std::ostringstream logStream;
  Vexmir* plugin;
  // During a bank dump from the synthesizer: how many programs were handed on.
  int targetSlot = 0;
  // Set by the MIDI side while a bank dump received from the synthesizer is read (by loadFromChunk).
  // Atomic: read for every SysEx message on the MIDI input and job threads.
  std::atomic<bool> bankDumpFromHardware{false};
  // The selected slot of a slot list (0 upper, 1 lower), -1 for none: the slot the view highlights and every
  // slot action (store, request, rename, a program received for the librarian) uses. Chosen on the main
  // thread, stepped by the transfer jobs while the MIDI input stores into them.
  int selectedSlot(int side) const;
  // Selecting a slot of one list clears the other's, so that one slot at most is highlighted. A slot outside
  // 0..127 selects none in that list. Runs selectionChanged after.
  void selectSlot(int side, int slot);
  // Called on the selecting thread after every selectSlot: the plug-in keeps its parameter and the redraw in step.
  std::function<void()> selectionChanged;
  // Full paths of the folders of the last scan: sub-folders in byte order, then the root.
  std::vector<std::string> folderList;
  // Every bank file of the last scan that holds programs, in scan order. Changed under lockBanks().
  std::vector<PatchFile*> bankFiles;
  // The banks of the last name search.
  std::vector<PatchFile*> searchFiles;
  // Owned nodes; the banks they point to are not owned by the trees.
  std::vector<FolderFiles*> folderTree;
  std::vector<FolderFiles*> searchTree;

  // Where log lines go; the plug-in points it at its debug log when that is on. Empty: nothing is logged.
  std::function<void(const std::string&)> logSink;
  // During a bank dump from the synthesizer, every program read (one 297-byte dump per slot) is
  // handed to this, in slot order, on the calling thread.
  std::function<void(const uint8_t* dump, int size)> hardwareProgramHandOff;
  // Called once after a bank dump from the synthesizer has been read.
  std::function<void()> hardwareBankFinished;

  // ---- reading ----
  // Reads the programs of a bank image into `bank` (appended). Standard MIDI files are read by their
  // events; any other data is searched for program dumps and bulk dumps on any global channel.
  // Only complete program dumps are kept; a program missing inside a bulk dump is replaced by the
  // initial program in its own slot. A bank that received any program is padded to 128; data without
  // program data leaves the bank untouched. The fourth argument is not read.
  void loadFromChunk(ByteChunk* chunk, int size, PatchFile* bank, int);
  // The same for the bytes of a file the caller holds. Never read as a bank dump from the synthesizer, even
  // while one is being received (the scan and the save's read-back run on the interface thread meanwhile).
  void loadFromBytes(const uint8_t* data, size_t length, PatchFile* bank);
  // Pads `bank` to 128 programs with copies of the initial program; 128 or more stay as they are.
  static void fillUncompletedBankFiles(PatchFile* bank);

  // ---- writing ----
  // The image of a bank file: the first 128 programs (empty or unwritable slots as the initial
  // program), raw or as a Standard MIDI file with computed lengths. For a bank of 128 program dumps
  // the raw image is 38016 bytes and the Standard MIDI image 38580.
  static void buildBankImage(const PatchFile& bank, bool midi, ByteChunk* out);
  // Writes the bank image to a new file at `path` through a temporary file in the same folder, so that a failure
  // never leaves a truncated file; a file that is there already is never replaced. False when nothing was written.
  static bool writeBankFile(const PatchFile& bank, const std::string& path, bool midi);
  // Writes the upper bank to `path` in the form the extension of `name` asks for ("mid" Standard MIDI,
  // "syx"/"vmr" raw with ".vmr", "vlt" raw with ".vlt", anything else raw with no suffix). On success
  // stores `name` with that suffix in *savedName and returns true; on failure (no upper bank, write
  // failed) returns false, leaves *savedName and the file at `path` as they were.
  // Saved over an all-data dump, the file stays one, with its global settings kept. *note (when given)
  // says what the user should know: why it failed, or that the global settings were kept.
  // With `replace` false an existing file at `path` is never replaced: the save fails instead.
  // *stamp (when given) gets the stamp of the bytes written.
  bool saveEditedPatch(const std::string& path, const std::string& name, std::string* savedName,
                       std::string* note = nullptr, bool replace = true, std::string* stamp = nullptr);

  // Prompts (through `graphics`) for a file in `folder`, offering `fileName`, and writes the upper
  // bank there: Standard MIDI ("mid") or raw ("vmr"). The image is built and read back before
  // anything is written, goes to a temporary file in the chosen folder, is renamed into place and
  // checked on disk. Only then are the chosen file's name, its folder's name and its path stored
  // (any pointer may be null). False when the prompt was cancelled, there is no upper bank, or any
  // step failed (`error` says which); nothing is recorded then and an existing file stays whole.
  bool savePatchAs(IGraphics* graphics, const char* fileName, std::string folder, bool midi, std::string* savedFile,
                   std::string* savedFolder, std::string* savedPath, std::string* error = nullptr);

  // ---- new bank files ----
  // Writes slice `splitIndex` + 1 of `source` (programs 128 * (splitIndex + 1) on, at most 128) as a
  // raw bank "<name> Singles <splitIndex + 2>.vmr" in the source's folder, padded to 128; an existing
  // file is never replaced (a free name is chosen). Updates splitBankCount and sets rescanPending when
  // a file was written. Returns false only when the slice held programs and could not be written; the
  // path written is added to *written when given.
  bool createNewPatchFile(PatchFile* source, std::string folderName, std::string fileName, std::string extension,
                          std::string sourcePath, int bankNumber, int splitIndex, bool, bool, bool, bool,
                          std::vector<std::string>* written = nullptr);

  // ---- folder scan and tree ----
  // Scans `folder` (the "Patches" folder) into bankFiles and folderTree; see the unit for the rules.
  void loadPatchesFromFilesystem(const std::string& folder);
  // Appends every folder below `folder`, each after its own sub-folders; links are not followed.
  void buildFolderStructure(const std::string& folder, std::vector<std::string>* out);
  // Reads one bank file. Returns its listed bank, or null when the file was split or holds no programs.
  PatchFile* parseFolderFiles(const Poco::File& file, const Poco::Path& path, int depth, int fileKind, int,
                              const std::string& extension);
  // Files `bank` into folderTree by the number of its folderParts (1 to 3; other banks are not filed).
  void createFolderFilesStructure(PatchFile* bank, const std::string&);
  // 0 frees the nodes of folderTree, 3 those of searchTree; other values do nothing.
  void clearDataStructures(int which);
  // Drops both bank lists, frees both trees and scans `folder` again.
  void initBankFilesOnDiscard(const std::string& folder);

  // Why a file of the last scan is not offered: a file with a bank extension that is not listed at all
  // (too small, too large, unreadable, no program in it), or a bank that is listed but lies too deep in
  // the folders for the bank menus. In scan order; the scan logs each as well.
  struct ScanNote {
    std::string path;
    std::string reason;
    bool listed;
  };
  std::vector<ScanNote> scanNotes;
  // The reason of the one note of a scan that found no "Patches" folder.
  static constexpr const char* kFolderMissing = "the folder is missing";
  // Whether the scan would list the file at `path` as one bank as it is now: a regular file (or a link
  // to one) of a bank file's size holding 1 to 128 programs. When not, *why says why in words for the user.
  bool listable(const std::string& path, std::string* why);
  // The bank file at `path` as it is now, as listable() reads it: its programs padded to 128 and its stamp; null
  // (and *why) when the scan would not list it.
  std::unique_ptr<PatchFile> readBankFile(const std::string& path, std::string* why);
  // A listed bank is its file as it is now: where the file changed since the bank read or wrote it (another
  // instance or another entry of the same file saved it), its programs and stamp are read again. False when the file
  // is unchanged, or is no bank the scan would list (then the bank stays as it was, and *why says why).
  bool readAgainIfChanged(PatchFile* bank, std::string* why = nullptr);
  // Appends a bank that the scan did not list (one whose file changed on disk while it held unsaved
  // edits, or one saved outside "Patches") to bankFiles, padded to 128; it is filed in no menu.
  // Returns its index.
  int adoptBank(std::unique_ptr<PatchFile> bank);
  // Reads the bank file at `path` (as listable() allows) and adopts it; -1 when it is no bank.
  int adoptFile(const std::string& path);

  // ---- name search ----
  // Replaces searchFiles and searchTree by "Search Results n" banks of at most 128 copies of every
  // program whose name holds `text` (byte for byte).
  void createNewSearchPatchFiles(const std::string& text);

  // ---- the bank lock ----
  // The MIDI input and the transfer jobs store programs received from the synthesizer into the open bank
  // (bankFiles[upperBankIndex]) while the user-interface thread draws, edits, saves and rescans the banks. This
  // lock guards the programs of the listed banks (and their names), the list bankFiles and upperBankIndex: the
  // user-interface thread takes it to change any of them and to read the programs of a listed bank; the other
  // threads for every access. It is held briefly and nothing else is taken while it is held (no other lock, no
  // MIDI send, no wait, no prompt, no call into the editor), so it is in no lock-order cycle. Not recursive.
  std::unique_lock<std::mutex> lockBanks() const { return std::unique_lock<std::mutex>(banksLock_); }
  // Under the lock: a copy of the program in `slot` of `bank`; false (and *out untouched) when there is none.
  bool copyProgram(const PatchFile* bank, int slot, LibrarianPatch* out) const;
  // Under the lock: a copy of `bank` (null for none).
  std::unique_ptr<PatchFile> cloneBank(const PatchFile* bank) const;
  // Under the lock: a copy of the open bank (bankFiles[upperBankIndex]; null for none).
  std::unique_ptr<PatchFile> cloneOpenBank() const;

  // ---- checked access ----
  PatchFile* bankAt(int index) const;
  PatchFile* searchBankAt(int index) const;
  // The open bank of a list: side 0 the upper, any other the lower, which shows a search result bank
  // while `lowerShowsSearch`.
  PatchFile* openBank(int side, bool lowerShowsSearch) const;
  static LibrarianPatch* patchAt(PatchFile* bank, int slot);
  // Keeps a bank of this librarian alive for as long as the caller holds the result, even after a
  // rescan dropped it (views, the clipboard and transfer jobs hold banks this way). Null for a bank
  // the librarian does not own.
  std::shared_ptr<PatchFile> shareBank(const PatchFile* bank) const;

  // "<data folder>/Converted Banks", where split sources go.
  static std::string convertedBanksFolder();

 private:
  // A directory entry with a bank extension and what its one lstat said (type, size).
  struct BankCandidate {
    std::string path;
    std::string name;
    std::string extension;
    unsigned mode = 0;
    int64_t size = 0;
  };

  class FolderHandle;
  class ScanFolderScope;

  void readBank(const uint8_t* data, size_t length, PatchFile* bank, bool fromHardware);
  void scanFolders(const std::string& folder, int passesLeft);
  // Appends to `out` every folder below `folder`, each after its own sub-folders, and, when `files`
  // is given, files each bank candidate under the path of its folder.
  void walkFolder(const std::string& folder, std::vector<std::string>* out,
                  std::map<std::string, std::vector<BankCandidate>>* files);
  void writeLog(const std::string& line);
  // Logs why the scan skips a file and keeps it in scanNotes.
  void note(const std::string& path, const std::string& reason);
  // Why a directory entry (its mode and size, links followed) is no bank file for the scan; null when it may be one.
  static const char* fileRuleBroken(unsigned mode, int64_t size);
  bool moveToConvertedBanks(const std::string& sourcePath, std::string* movedTo);

  mutable std::mutex banksLock_;
  // The records of bankFiles (and those dropped by a rescan until no share holds them).
  std::vector<std::shared_ptr<PatchFile>> ownedBanks_;
  std::vector<std::shared_ptr<PatchFile>> ownedSearchBanks_;
  // The bytes of the file being parsed; kept between files so that a scan does not allocate
  // (and fault in) a fresh buffer for every bank file. Its size is its capacity: it only grows.
  std::vector<uint8_t> fileBuffer_;
  // While the scan reads the files of a folder: that folder, held open, and its path.
  const FolderHandle* scanFolder_ = nullptr;
  std::string scanFolderPath_;
  // Split sources that could not be moved away: not read again, so they are not split twice.
  std::set<std::string> unmovableSources_;
  std::atomic<int> selected_[2] = {-1, -1};
};
