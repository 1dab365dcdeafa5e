// The folder scan of "Patches": which files are read, how long files are split, and the folder tree.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <Poco/DirectoryIterator.h>
#include <Poco/File.h>
#include <Poco/Path.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <map>

#include "src/PatchLibrarian.h"
#include "src/PatchLibrarianFiles.h"

namespace {

std::string withoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

const char kMovedReason[] =
    " - it is not a bank of 128 programs; its programs were written to its \" Singles \" bank files";

}  // namespace

// A folder held open so that its entries are looked up relative to it: one path component per
// lookup instead of the whole path. Where the folder cannot be opened, the full paths are used.
class PatchLibrarian::FolderHandle {
 public:
  explicit FolderHandle(const std::string& folder) : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~FolderHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  // lstat (or, with `follow`, stat) of the entry `name` whose full path is `path`.
  int statEntry(const std::string& name, const std::string& path, struct stat* st, bool follow) const {
    if (fd_ < 0) return follow ? ::stat(path.c_str(), st) : ::lstat(path.c_str(), st);
    return ::fstatat(fd_, name.c_str(), st, follow ? 0 : AT_SYMLINK_NOFOLLOW);
  }

  // Opens the entry for reading; -1 on failure. Non-blocking: an entry that was swapped for a pipe
  // since the listing must not hang the scan.
  int openEntry(const std::string& name, const std::string& path) const {
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    return fd_ >= 0 ? ::openat(fd_, name.c_str(), flags) : ::open(path.c_str(), flags);
  }

 private:
  int fd_;
};

// Points parseFolderFiles at the open folder whose files the scan reads, for as long as it lives.
class PatchLibrarian::ScanFolderScope {
 public:
  ScanFolderScope(PatchLibrarian* librarian, const FolderHandle* folder, const std::string& path)
      : librarian_(librarian) {
    librarian_->scanFolder_ = folder;
    librarian_->scanFolderPath_ = path;
  }
  ~ScanFolderScope() {
    librarian_->scanFolder_ = nullptr;
    librarian_->scanFolderPath_.clear();
  }
  ScanFolderScope(const ScanFolderScope&) = delete;
  ScanFolderScope& operator=(const ScanFolderScope&) = delete;

 private:
  PatchLibrarian* librarian_;
};

namespace {

// The last `count` components of `path` (or all, when there are fewer), in order, as components()
// gives them; only those are copied.
std::vector<std::string> lastComponents(const std::string& path, size_t count) {
  std::vector<std::string> parts;
  size_t end = path.size();
  while (parts.size() < count && end > 0) {
    const size_t slash = path.rfind('/', end - 1);
    const size_t begin = slash == std::string::npos ? 0 : slash + 1;
    if (end > begin) parts.push_back(path.substr(begin, end - begin));
    if (slash == std::string::npos) break;
    end = slash;
  }
  std::reverse(parts.begin(), parts.end());
  return parts;
}

// Reads the whole file open at `fd` into `buffer`, then closes `fd`. The buffer's size only ever
// grows and serves as its capacity (so it is zero-filled once, not for every file); the bytes read
// are the first `*length`. With room for every bank form from the start, a bank file is read by one
// call and the call that sees its end. False when `fd` is not open, or the file cannot be read
// completely or is larger than any bank file.
bool readFileInto(int fd, std::vector<uint8_t>* buffer, size_t* length) {
  *length = 0;
  if (fd < 0) return false;
  constexpr size_t kLimit = static_cast<size_t>(kMaxBankFileSize);
  constexpr size_t kInitialRoom = 64 * 1024;
  if (buffer->size() < kInitialRoom) buffer->resize(kInitialRoom);
  bool ok = true;
  size_t done = 0;
  for (;;) {
    if (done == buffer->size()) {
      if (done > kLimit) {
        ok = false;
        break;
      }
      buffer->resize(std::min(kLimit + 1, 2 * done));
    }
    const ssize_t n = ::read(fd, buffer->data() + done, buffer->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  ok = ok && done <= kLimit;
  if (ok) *length = done;
  return ok;
}

}  // namespace

// A split writes new bank files that only a further pass lists; a few passes are allowed so that a
// long file that turns up during a rescan is listed too, and a failing split can never loop.
void PatchLibrarian::loadPatchesFromFilesystem(const std::string& folder) {
  scanFolders(folder, 3);
}

void PatchLibrarian::scanFolders(const std::string& folder, int passesLeft) {
  // A trailing separator would shift every depth; the root is taken without it.
  const std::string root = withoutTrailingSeparators(folder);
  bool present = false;
  try {
    Poco::File rootFile(root);
    present = !root.empty() && rootFile.exists() && rootFile.isDirectory();
  } catch (const std::exception&) {
  }
  scanNotes.clear();
  if (!present) {
    writeLog("PLUGIN IS NOT ABLE TO FIND PATCHES FOLDER...");
    scanNotes.push_back(ScanNote{root, kFolderMissing, false});
    return;
  }

  folderList.clear();
  // One walk lists every folder once and asks the file system once about each entry; the files
  // with a bank extension are kept, with that answer, for the reading below.
  std::map<std::string, std::vector<BankCandidate>> candidates;
  walkFolder(root, &folderList, &candidates);
  std::sort(folderList.begin(), folderList.end());
  folderList.push_back(root);

  const std::string prefix = root == "/" ? root : root + "/";
  for (const std::string& current : folderList) {
    auto listed = candidates.find(current);
    if (listed == candidates.end()) continue;
    std::vector<BankCandidate>& entries = listed->second;
    std::sort(entries.begin(), entries.end(),
              [](const BankCandidate& a, const BankCandidate& b) { return a.path < b.path; });
    const int depth = current == root ? 0 : static_cast<int>(components(current.substr(prefix.size())).size());
    // The folder's files are opened relative to it (see parseFolderFiles).
    const FolderHandle handle(current);
    const ScanFolderScope scope(this, &handle, current);

    for (BankCandidate& entry : entries) {
      try {
        if (S_ISLNK(entry.mode)) {
          // A link to a bank file is read like the file; only links to folders are not followed.
          struct stat target {};
          if (handle.statEntry(entry.name, entry.path, &target, true) != 0) {
            note(entry.path, std::string("it is a link to nothing: ") + std::strerror(errno));
            continue;
          }
          entry.mode = target.st_mode;
          entry.size = static_cast<int64_t>(target.st_size);
        }
        const char* skipped = fileRuleBroken(entry.mode, entry.size);
        if (skipped) {
          note(entry.path, skipped);
          continue;
        }
        if (unmovableSources_.count(entry.path)) {
          note(entry.path, "it was split into banks already, but could not be moved away");
          continue;
        }
        PatchFile* bank =
            parseFolderFiles(Poco::File(entry.path), Poco::Path(entry.path), depth, 0, 1, entry.extension);
        if (bank) {
          createFolderFilesStructure(bank, bank->folderPath);
          if (bank->folderParts.size() > 3)
            scanNotes.push_back(ScanNote{
                entry.path, "it lies more than two folders below Patches, deeper than the bank menus go", true});
        }
      } catch (const std::exception& e) {
        note(entry.path, std::string("it cannot be read: ") + e.what());
      }
    }
  }

  if (rescanPending) {
    rescanPending = false;
    if (passesLeft > 1) {
      writeLog("FOLDER RESCAN INITIATED BY PATCH LIBRARIAN");
      std::vector<std::shared_ptr<PatchFile>> dropped;
      {
        std::lock_guard<std::mutex> lock(banksLock_);
        bankFiles.clear();
        dropped.swap(ownedBanks_);
      }
      clearDataStructures(0);
      scanFolders(root, passesLeft - 1);
    }
  }
}

void PatchLibrarian::note(const std::string& path, const std::string& reason) {
  writeLog("PATCH LIBRARIAN: skipped file " + path + " - " + reason);
  scanNotes.push_back(ScanNote{path, reason, false});
}

const char* PatchLibrarian::fileRuleBroken(unsigned mode, int64_t size) {
  if (S_ISDIR(mode)) return "it is a folder";
  if (!S_ISREG(mode)) return "it is not a file but a pipe or device";
  if (size < kMinBankFileSize) return "it is too small for a bank file";
  if (size > kMaxBankFileSize) return "it is too large for a bank file";
  return nullptr;
}

std::unique_ptr<PatchFile> PatchLibrarian::readBankFile(const std::string& path, std::string* why) {
  auto fails = [why](const std::string& text) {
    if (why) *why = text;
    return nullptr;
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return fails(::lstat(path.c_str(), &st) == 0 ? "it is a link to nothing" : "it is gone");
  if (const char* broken = fileRuleBroken(st.st_mode, static_cast<int64_t>(st.st_size))) return fails(broken);
  std::string bytes, unreadable;
  if (!librarianfiles::readWhole(path, &bytes, static_cast<size_t>(kMaxBankFileSize), &unreadable))
    return fails(unreadable);
  if (bytes.size() < static_cast<size_t>(kMinBankFileSize)) return fails("it is too small for a bank file");
  auto bank = std::make_unique<PatchFile>();
  loadFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), bank.get());
  if (bank->patches.empty()) return fails("it holds no program of the synthesizer");
  if (bank->patches.size() > static_cast<size_t>(kProgramsPerBank)) return fails("it holds more than 128 programs");
  fillUncompletedBankFiles(bank.get());
  bank->fileStamp = librarianfiles::contentStamp(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return bank;
}

bool PatchLibrarian::listable(const std::string& path, std::string* why) {
  return readBankFile(path, why) != nullptr;
}

bool PatchLibrarian::readAgainIfChanged(PatchFile* bank, std::string* why) {
  if (!bank || bank->fromProject || bank->folderPath.empty()) return false;
  std::unique_ptr<PatchFile> now = readBankFile(bank->folderPath + "/" + bank->fileName, why);
  if (!now) return false;
  // The stamp is compared and replaced in one step with the programs: a recall on another thread does the same.
  std::lock_guard<std::mutex> lock(banksLock_);
  if (now->fileStamp == bank->fileStamp) return false;
  bank->patches = std::move(now->patches);
  bank->fileStamp = now->fileStamp;
  return true;
}

int PatchLibrarian::adoptBank(std::unique_ptr<PatchFile> bank) {
  if (!bank) return -1;
  std::shared_ptr<PatchFile> shared(std::move(bank));
  fillUncompletedBankFiles(shared.get());
  std::lock_guard<std::mutex> lock(banksLock_);
  ownedBanks_.push_back(shared);
  bankFiles.push_back(shared.get());
  return static_cast<int>(bankFiles.size()) - 1;
}

int PatchLibrarian::adoptFile(const std::string& path) {
  std::unique_ptr<PatchFile> bank = readBankFile(path, nullptr);
  if (!bank) return -1;
  bank->fileName = librarianfiles::lastComponent(path);
  bank->folderPath = librarianfiles::folderOf(path);
  bank->folderName = librarianfiles::lastComponent(bank->folderPath);
  return adoptBank(std::move(bank));
}

void PatchLibrarian::buildFolderStructure(const std::string& folder, std::vector<std::string>* out) {
  if (out) walkFolder(folder, out, nullptr);
}

void PatchLibrarian::walkFolder(const std::string& folder, std::vector<std::string>* out,
                                std::map<std::string, std::vector<BankCandidate>>* files) {
  struct Listed {
    std::string path, name;
    struct stat st;
  };
  std::vector<Listed> found;
  try {
    for (Poco::DirectoryIterator it(folder), end; it != end; ++it) found.push_back(Listed{it->path(), it.name(), {}});
  } catch (const std::exception& e) {
    writeLog("PATCH LIBRARIAN: could not list folder " + folder + ": " + e.what());
  }
  {
    // One question per entry, about the link itself rather than what it points to, asked relative
    // to the folder so that the whole path is not looked up again for every entry. The folder is
    // let go before going down, so that a deep tree holds no descriptors.
    const FolderHandle handle(folder);
    for (Listed& entry : found) {
      if (handle.statEntry(entry.name, entry.path, &entry.st, false) != 0) {
        writeLog("PATCH LIBRARIAN: skipped " + entry.path + ": " + std::strerror(errno));
        entry.st.st_mode = 0;
      }
    }
  }
  std::vector<BankCandidate>* kept = files ? &(*files)[folder] : nullptr;
  for (Listed& entry : found) {
    // A link to a folder is not followed: it could lead out of "Patches" or round in a circle.
    if (S_ISDIR(entry.st.st_mode)) {
      walkFolder(entry.path, out, files);
      if (out) out->push_back(entry.path);
      continue;
    }
    // The answer (type and size) is kept for a bank file, so that the scan does not ask again.
    if (!kept || entry.st.st_mode == 0) continue;
    std::string extension = librarianfiles::lowerExtension(entry.name);
    if (!librarianfiles::isBankExtension(extension)) continue;
    kept->push_back(BankCandidate{std::move(entry.path), std::move(entry.name), std::move(extension), entry.st.st_mode,
                                  static_cast<int64_t>(entry.st.st_size)});
  }
}

PatchFile* PatchLibrarian::parseFolderFiles(const Poco::File& file, const Poco::Path& path, int depth, int fileKind,
                                            int, const std::string& extension) {
  fileWasSplit = false;
  auto bank = std::make_shared<PatchFile>();
  const std::string fullPath = file.path();
  bank->fileName = path.getFileName();
  bank->folderPath = librarianfiles::folderOf(fullPath);
  bank->folderName = librarianfiles::lastComponent(bank->folderPath);
  bank->folderParts = lastComponents(bank->folderPath, static_cast<size_t>(depth < 0 ? 0 : depth) + 1);
  bank->fileKind = fileKind;
  const bool midi = extension == "mid";

  // Composed only when someone reads it: this runs for every bank file of a scan.
  if (logSink) writeLog("PATCH LIBRARIAN: loaded file " + fullPath);
  size_t length = 0;
  // Within the scan, a file of the folder being read is opened relative to it.
  const std::string folderPrefix = scanFolderPath_ == "/" ? scanFolderPath_ : scanFolderPath_ + "/";
  const bool inScanFolder = scanFolder_ && fullPath.size() > folderPrefix.size() &&
                            fullPath.compare(0, folderPrefix.size(), folderPrefix) == 0 &&
                            fullPath.find('/', folderPrefix.size()) == std::string::npos;
  const int fd = inScanFolder ? scanFolder_->openEntry(fullPath.substr(folderPrefix.size()), fullPath)
                              : ::open(fullPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (!readFileInto(fd, &fileBuffer_, &length)) {
    note(fullPath, "it cannot be read");
    return nullptr;
  }
  loadFromBytes(fileBuffer_.data(), length, bank.get());
  bank->fileStamp = librarianfiles::contentStamp(fileBuffer_.data(), length);
  const size_t programs = bank->patches.size();
  if (programs == 0) {
    note(fullPath, "it holds no program of the synthesizer");
    return nullptr;
  }

  if (programs > static_cast<size_t>(kProgramsPerBank)) {
    fileWasSplit = true;
    splitBankCount = static_cast<int>(programs / kProgramsPerBank);
    std::vector<std::string> written;
    const bool rescanBefore = rescanPending;
    bool complete = true;
    for (int splitIndex = -1; splitIndex < splitBankCount && complete; ++splitIndex)
      complete = createNewPatchFile(bank.get(), bank->folderName, bank->fileName, extension, fullPath, fileKind,
                                    splitIndex, midi, false, false, false, &written);
    if (!complete) {
      // Without every part the source is the only whole copy: it stays, and the parts go.
      for (const std::string& part : written) ::unlink(part.c_str());
      rescanPending = rescanBefore;
      writeLog("PATCH LIBRARIAN: could not split file " + fullPath + "; it is left as it is");
      scanNotes.push_back(
          ScanNote{fullPath, "it holds more than 128 programs and could not be split into banks", false});
      return nullptr;
    }
    std::string movedTo;
    if (moveToConvertedBanks(fullPath, &movedTo)) {
      writeLog("PATCH LIBRARIAN: moved file " + bank->fileName + kMovedReason);
    } else {
      unmovableSources_.insert(fullPath);
      writeLog("PATCH LIBRARIAN: could not move file " + fullPath + " to " + convertedBanksFolder() +
               "; it is not split again");
    }
    return nullptr;
  }

  fillUncompletedBankFiles(bank.get());
  std::lock_guard<std::mutex> lock(banksLock_);
  ownedBanks_.push_back(bank);
  bankFiles.push_back(bank.get());
  return bank.get();
}

bool PatchLibrarian::moveToConvertedBanks(const std::string& sourcePath, std::string* movedTo) {
  const std::string folder = convertedBanksFolder();
  try {
    Poco::File target(folder);
    if (!target.exists()) target.createDirectories();
    if (!target.isDirectory()) return false;
  } catch (const std::exception& e) {
    writeLog(std::string("PATCH LIBRARIAN: ") + e.what());
    return false;
  }
  const std::string name = librarianfiles::lastComponent(sourcePath);
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string suffix = dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
  // A converted file of the same name from an earlier split is kept: the new one takes a free name.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::string target = librarianfiles::freeName(folder, stem, suffix);
    if (target.empty()) return false;
    if (librarianfiles::moveWithoutReplacing(sourcePath, target)) {
      if (movedTo) *movedTo = target;
      return true;
    }
    if (::access(sourcePath.c_str(), F_OK) != 0) return false;
  }
  return false;
}

void PatchLibrarian::createFolderFilesStructure(PatchFile* bank, const std::string&) {
  if (!bank) return;
  const std::vector<std::string>& parts = bank->folderParts;
  const size_t n = parts.size();
  if (n < 1 || n > 3) return;

  bool matched = false;
  for (FolderFiles* top : folderTree) {
    if (n == 1) {
      if (top->name == parts[0]) {
        top->files.push_back(bank);
        matched = true;
      }
      continue;
    }
    for (SubFolderFiles& sub : top->subFolders) {
      if (sub.name != parts[1]) continue;
      matched = true;
      if (n == 2) {
        sub.files.push_back(bank);
        continue;
      }
      auto third = std::find_if(sub.subFolders2.begin(), sub.subFolders2.end(),
                                [&](const SubFolderFiles2& s) { return s.name == parts[2]; });
      if (third != sub.subFolders2.end())
        third->files.push_back(bank);
      else
        sub.subFolders2.push_back(SubFolderFiles2{parts[2], {bank}});
    }
  }
  if (matched) return;

  auto* entry = new FolderFiles;
  if (n == 1) {
    entry->name = parts[0];
    entry->files.push_back(bank);
  } else {
    SubFolderFiles sub;
    sub.name = parts[1];
    if (n == 2)
      sub.files.push_back(bank);
    else
      sub.subFolders2.push_back(SubFolderFiles2{parts[2], {bank}});
    entry->subFolders.push_back(std::move(sub));
  }
  folderTree.push_back(entry);
}
