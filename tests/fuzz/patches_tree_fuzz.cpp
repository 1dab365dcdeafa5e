// The "Patches" folder as a tree made from the input: folders at any depth, names of any bytes, bank files of 0 to
// 300 programs with any extension, files of other bytes around the size the scan starts reading at, links (to files
// and folders outside the data folder, to the tree itself, in circles, dangling), pipes with a bank's name, files
// already named like the parts of a split, and "Converted Banks" as a file or a folder with names taken. The
// librarian scans it as at a start, and a new librarian scans it once more. After each scan: nothing outside the
// data folder changed, no file's bytes were lost (a split source is moved, whole, into "Converted Banks", and its
// name may then go to a part of another split), every file made is a bank of 128 programs, and every bank listed
// lies in "Patches" and holds 128 programs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "platform/bundle/bundle.h"
#include "src/PatchLibrarian.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/fuzz/fuzz_data_root.h"
#include "tests/fuzz/fuzz_reader.h"

namespace {

void check(bool ok, const char* what, const std::string& about = std::string()) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s %s\n", what, about.c_str());
  std::abort();
}

// Never through a link or into a pipe that an earlier step put at that name.
void writeFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return;
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

// `count` program dumps back to back, their bodies from the seed.
std::string programs(int count, uint32_t seed) {
  std::string bytes;
  for (int p = 0; p < count; ++p) {
    std::string dump(static_cast<size_t>(kProgramDumpSize), '\0');
    dump[0] = '\xF0', dump[1] = 0x42, dump[2] = 0x30, dump[3] = 0x58, dump[4] = 0x40;
    for (int i = 5; i < kProgramDumpSize - 1; ++i) {
      seed = seed * 1664525u + 1013904223u;
      dump[static_cast<size_t>(i)] = static_cast<char>((seed >> 24) & 0x7F);
    }
    dump.back() = '\xF7';
    bytes += dump;
  }
  return bytes;
}

std::string name(fuzztest::Reader& in) {
  static const char* const known[] = {"Bank", "My Sounds", ".hidden", "Bank Singles 2", "ü Ŝounds", "a b  c", "-"};
  const uint8_t how = in.take<uint8_t>();
  if (how < 160) return known[how % (sizeof known / sizeof *known)];
  std::string n(1 + in.take<uint8_t>() % 24, '_');
  for (char& c : n) {
    const char b = static_cast<char>(in.take<uint8_t>());
    c = b == '/' || b == '\0' ? '_' : b;
  }
  return n == "." || n == ".." ? "dots" : n;
}

std::string extension(fuzztest::Reader& in) {
  static const char* const known[] = {".syx", ".vmr", ".vlt", ".mid", ".SYX", ".Vmr", "", ".txt", ".syx.bak", "."};
  return known[in.take<uint8_t>() % (sizeof known / sizeof *known)];
}

// A file with the same bytes somewhere in the tree.
bool bytesKept(const fuzztest::Tree& after, const fuzztest::Entry& e) {
  for (const auto& entry : after)
    if (entry.second == e) return true;
  return false;
}

// Compares the data folder and what lies beside it before and after a scan.
void checkScan(const fuzztest::Tree& before, const fuzztest::Tree& after, const std::string& dataBase) {
  const std::string converted = dataBase + kConvertedBanksFolderName;
  for (const auto& entry : before) {
    const bool inData = entry.first.compare(0, dataBase.size(), dataBase) == 0;
    auto now = after.find(entry.first);
    if (!inData) {
      check(now != after.end() && now->second == entry.second, "changed outside the data folder:", entry.first);
      continue;
    }
    if (now != after.end() && now->second == entry.second) continue;
    // Gone or changed: only a split source may go, and its bytes (or its link) are in "Converted Banks".
    check(entry.second.kind == 'f' || entry.second.kind == 'l', "a folder or pipe went:", entry.first);
    // Its name may be taken again, by a part of a later split, once the source has moved away.
    check(now == after.end() || (now->second.kind == 'f' && now->second.bytes.size() == 38016u),
          "a file's bytes were changed:", entry.first);
    check(bytesKept(after, entry.second), "a file's bytes were lost:", entry.first);
  }
  for (const auto& entry : after) {
    if (before.count(entry.first)) continue;
    check(entry.first.compare(0, dataBase.size(), dataBase) == 0, "made outside the data folder:", entry.first);
    if (entry.second.kind == 'd') {
      check(entry.first == converted, "a folder was made:", entry.first);
      continue;
    }
    // A part of a split (a raw bank of 128 programs) or a source moved into "Converted Banks".
    const bool moved = entry.first.compare(0, converted.size() + 1, converted + "/") == 0;
    check(moved || (entry.second.kind == 'f' && entry.second.bytes.size() == 38016u), "a file that is no bank:",
          entry.first);
  }
}

void checkBanks(const PatchLibrarian& librarian, const std::string& patches) {
  for (const PatchFile* bank : librarian.bankFiles) {
    check(bank->patches.size() == static_cast<size_t>(kProgramsPerBank), "a listed bank without 128 programs");
    check(bank->folderPath.compare(0, patches.size(), patches) == 0, "a listed bank outside Patches:", bank->folderPath);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = fuzztest::dataRoot();
  const std::string folder = Vexmir::getDataFolder();
  const std::string patches = Vexmir::getPatchesFolderStr();
  fuzztest::removeTree(root + "/Library");
  fuzztest::removeTree(root + "/outside");
  check(platform::makeFolders(patches), "Patches cannot be made");
  check(platform::makeFolders(root + "/outside/folder"), "outside cannot be made");
  writeFile(root + "/outside/Long.syx", programs(200, 7));
  writeFile(root + "/outside/folder/Bank.syx", programs(128, 8));

  fuzztest::Reader in{data, size};
  std::vector<std::string> folders{patches};
  for (int op = 0; op < 24 && in.left > 0; ++op) {
    const uint8_t what = in.take<uint8_t>();
    const std::string parent = folders[in.take<uint8_t>() % folders.size()];
    const std::string path = parent + "/" + name(in);
    switch (what % 8) {
      case 0:
        if (folders.size() < 12 && mkdir(path.c_str(), 0755) == 0) folders.push_back(path);
        break;
      case 1:
      case 2: {
        static const int counts[] = {1, 84, 85, 127, 128, 129, 200, 256, 257, 300};
        const int count = counts[in.take<uint8_t>() % (sizeof counts / sizeof *counts)];
        std::string bytes = programs(count, in.take<uint32_t>());
        if (what & 0x80) bytes.insert(0, std::string(in.take<uint8_t>(), '\x55'));
        writeFile(path + extension(in), bytes);
        break;
      }
      case 3: {
        // Other bytes, around the smallest size the scan reads.
        const size_t n = (what & 0x80) ? 25000 + in.take<uint8_t>() % 4 : in.take<uint16_t>() % 2000;
        std::string bytes(n, '\0');
        const uint8_t fill = in.take<uint8_t>();
        for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(fill + i * 31);
        writeFile(path + extension(in), bytes);
        break;
      }
      case 4: {
        const std::string targets[] = {root + "/outside/Long.syx", root + "/outside/folder", "..", ".",
                                       patches,                    "missing.syx",          parent};
        const std::string target = targets[in.take<uint8_t>() % (sizeof targets / sizeof *targets)];
        if (symlink(target.c_str(), (path + extension(in)).c_str()) != 0) break;
        break;
      }
      case 5:
        mkfifo((path + extension(in)).c_str(), 0644);
        break;
      case 6: {
        const std::string converted = folder + kConvertedBanksFolderName;
        if (what & 0x80) {
          writeFile(converted, "not a folder");
        } else if (mkdir(converted.c_str(), 0755) == 0 || errno == EEXIST) {
          writeFile(converted + "/" + name(in) + extension(in), "taken");
        }
        break;
      }
      default:
        // A name a split would choose, already taken.
        writeFile(parent + "/" + name(in) + " Singles " + std::to_string(2 + in.take<uint8_t>() % 3) + ".vmr",
                  programs(in.take<uint8_t>() % 2 ? 128 : 3, 9));
        break;
    }
  }

  const std::string dataBase = folder.substr(root.size() + 1, folder.size() - root.size() - 2);
  fuzztest::Tree before = fuzztest::treeOf(root);
  {
    PatchLibrarian librarian;
    librarian.loadPatchesFromFilesystem(patches);
    checkBanks(librarian, patches);
  }
  fuzztest::Tree after = fuzztest::treeOf(root);
  checkScan(before, after, dataBase + "/");
  {
    // The next start.
    PatchLibrarian librarian;
    librarian.loadPatchesFromFilesystem(patches);
    checkBanks(librarian, patches);
  }
  checkScan(after, fuzztest::treeOf(root), dataBase + "/");
  return 0;
}
