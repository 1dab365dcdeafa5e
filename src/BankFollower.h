// Every copy of a bank keeps the file it came from: PatchFile::fileStamp is the stamp of the bytes its programs were
// read from or last written to, and it goes with the bank wherever the bank goes (the lists, a project's unsaved
// edits, a store, the question before a save). This unit holds the rules that every copy follows:
// - a bank is read again from its file only while it holds nothing of the musician's: no unsaved edits and no
//   transfer that sends or writes its programs; the list catches up when the transfer ends;
// - a list on screen follows its file: the editor's idle looks at the files of the banks shown (their identity, size
//   and times, one stat each), and reads one again only when these moved and its bytes differ; while a menu, panel or
//   question of the editor stands, no list is read again, so that what the musician chooses in it goes onto the
//   programs shown when it opened;
// - an edit goes only onto a program the musician saw: where reading the bank again changed a slot it writes, the
//   edit is not made (every action that writes programs of the open bank asks editAllowed first);
// - a save writes over a file only as its bank last read or wrote it, or when the musician says Replace to the file
//   as it is at that moment.
// Each change is said on the librarian's line, naming the file; the status display keeps the outcome of what the
// musician did last.
//
// Threads: the editor's (user-interface) thread, as LibrarianEditor. Stamps are read and written under the bank lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class LibrarianEditor;
class PatchFile;

class BankFollower {
 public:
  // What one stat tells of a file: its identity, size and times. Unchanged, the file was not written since.
  struct Signature {
    uint64_t device = 0, inode = 0;
    int64_t size = -1, modified = 0, changed = 0;
    bool operator==(const Signature& o) const {
      return device == o.device && inode == o.inode && size == o.size && modified == o.modified && changed == o.changed;
    }
    bool operator!=(const Signature& o) const { return !(*this == o); }
  };
  // The signature of the file at `path` (links followed); size -1 when there is none.
  static Signature signatureOf(const std::string& path);

  // The editor's idle calls look() this often; the files are looked at on one call of so many.
  static constexpr int kIdlesPerLook = 5;

  explicit BankFollower(LibrarianEditor& editor) : editor_(editor) {}
  BankFollower(const BankFollower&) = delete;
  BankFollower& operator=(const BankFollower&) = delete;

  // The stamp a bank carries, and a new one for it (under the bank lock).
  std::string stampOf(const PatchFile& bank) const;
  void setStamp(PatchFile* bank, const std::string& stamp) const;
  // The file at `path` is there and is not the file the bank's programs came from.
  bool changedSince(const PatchFile& bank, const std::string& path) const;

  // A side's bank is read again where its file changed and nothing holds it; the list shows it and, with `say`, the
  // librarian's line says so. True when it was read again. *unreadable says why when the file is no bank now.
  bool readAgain(int side, bool say = true, std::string* unreadable = nullptr);
  // Before an edit writes slots [first, last) of the open bank: reads it again, and where that changed one of those
  // slots, says so (`refusal` leads the text, `again` ends it) and returns false: the edit is not made.
  bool editAllowed(int first, int last, const std::string& refusal, const std::string& again);
  // Before a save writes over `path`: true when the file is as the bank last read or wrote it, or gone, or the
  // musician answered Replace to the file as it is when answered (a file written while the question stood is asked
  // about again, as a new question; one gone meanwhile is written anew). False when the musician kept it; the line
  // says so.
  bool saveAllowed(const PatchFile& bank, const std::string& path);
  // The editor's idle: while the librarian is shown, no transfer runs and no menu, panel or question stands, one call
  // in kIdlesPerLook looks at the files of the banks shown. A clean bank whose file changed is read again; a change
  // under the open bank's unsaved edits, and a file that is no bank now, is said once. What one look finds is said
  // on the librarian's line in one text.
  void look();
  // Calls to the filesystem made by look() so far (for measuring).
  uint64_t filesystemCalls() const { return calls_; }

  // What the librarian's line says when a file changed under unsaved edits, when a list caught up with its file, and
  // when a shown file is no bank now (`why`: "it is gone", ...).
  static std::string changedUnderEdits(const std::string& shown);
  static std::string caughtUp(const std::string& shown);
  // The same for the list below where it shows the open bank's file through another entry (a link).
  static std::string caughtUpBelow(const std::string& shown);
  static std::string noBankNow(const std::string& shown, const std::string& why);
  // Slot numbers (from 1, ascending) as the musician reads them: "slot 5", "slots 5 to 7", "slots 2, 5 to 7 and 9".
  static std::string slotNames(const std::vector<int>& slots);
  // What the lists show before a rescan reads every bank again: the file and stamp of each side's bank that holds
  // nothing of the musician's. After it, a side that shows the same file with other programs is said on the
  // librarian's line, as the idle says it.
  struct Shown {
    std::string path[2], stamp[2];
  };
  Shown shown() const;
  void sayCaughtUp(const Shown& before);
  // The musician was told that the file at `path`, as it is now, is not the one the unsaved edits were made on (a
  // recall, a rescan): the idle does not say it again.
  void toldUnderEdits(const std::string& path);

 private:
  // Whether the file of the bank a side shows moved since the last look at that side (true for a bank not looked at
  // before).
  bool moved(int side, const PatchFile* bank, const std::string& path);
  // What the librarian's line says of a side's list read again from `path`, the open bank's file being `openPath`.
  std::string caughtUpOf(int side, const std::string& path, const std::string& openPath) const;
  // The bank file at `path` as the lists' choosers name it.
  std::string listedName(const std::string& path) const;
  // A menu, panel or question of the editor stands: no list is read again until it closes.
  bool choosing() const;

  LibrarianEditor& editor_;
  struct Look {
    const PatchFile* bank = nullptr;
    Signature signature;
  };
  Look looks_[2];
  // The stamp of the file a change under unsaved edits was last said about: each change is said once.
  std::string saidUnderEdits_;
  int idles_ = 0;
  uint64_t calls_ = 0;
};
