#include "src/PatchLibrarianFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace librarianfiles {

bool (*injectedFailure)(const char* step) = nullptr;

namespace {

bool failsHere(const char* step) {
  return injectedFailure && injectedFailure(step);
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool entryExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Puts a finished temporary file at `path`. Without `replace`, a hard link refuses an existing
// target atomically; where links are not supported the check and rename are the fallback.
WriteResult publish(const std::string& temp, const std::string& path, bool replace) {
  if (replace) return ::rename(temp.c_str(), path.c_str()) == 0 ? WriteResult::Written : WriteResult::Failed;
  if (::link(temp.c_str(), path.c_str()) == 0) {
    ::unlink(temp.c_str());
    return WriteResult::Written;
  }
  if (errno == EEXIST) return WriteResult::NameTaken;
  if (entryExists(path)) return WriteResult::NameTaken;
  return ::rename(temp.c_str(), path.c_str()) == 0 ? WriteResult::Written : WriteResult::Failed;
}

// A save over a symbolic link must write the file the link names: a rename over the link itself
// would replace the link by a file and leave the bank it pointed to stale. Follows a chain of links
// (also to a file that does not exist yet); a loop, or one too long, leaves the path as it was.
std::string resolveLinks(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size() - 1);
    if (n <= 0 || static_cast<size_t>(n) >= target.size() - 1) return path;
    const std::string link(target.data(), static_cast<size_t>(n));
    const std::string folder = folderOf(current);
    current = link[0] == '/' || folder.empty() ? link : folder + "/" + link;
  }
  return path;
}

}  // namespace

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string realPath(const std::string& path) {
  std::error_code error;
  std::string real = std::filesystem::weakly_canonical(path, error).string();
  if (error || real.empty()) real = std::filesystem::path(path).lexically_normal().string();
  if (!path.empty() && path.back() == '/' && (real.empty() || real.back() != '/')) real += '/';
  return real;
}

std::string contentStamp(const uint8_t* data, size_t size) {
  // The same bytes give the same stamp in every build and on every machine, as a project keeps it: FNV-1a's steps
  // over eight bytes at a time (read as a little-endian word, each step folded), so that a scan hashes its files at
  // the speed it reads them.
  constexpr uint64_t kPrime = 0x100000001b3ull;
  uint64_t hash = 0xcbf29ce484222325ull;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word = 0;
    for (int b = 7; b >= 0; --b) word = (word << 8) | data[i + static_cast<size_t>(b)];
    hash = (hash ^ word) * kPrime;
    hash ^= hash >> 29;
  }
  for (; i < size; ++i) hash = (hash ^ data[i]) * kPrime;
  return std::to_string(size) + ":" + std::to_string(hash);
}

std::string fileStamp(const std::string& path, size_t maxSize) {
  std::string bytes;
  if (!readWhole(path, &bytes, maxSize)) return std::string();
  return contentStamp(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool isBankExtension(const std::string& ext) {
  return ext == "mid" || ext == "syx" || ext == "vmr" || ext == "vlt";
}

std::string lowerExtension(const std::string& name) {
  const std::string file = lastComponent(name);
  const size_t dot = file.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : file.substr(dot + 1);
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return extension;
}

bool isReadOnly(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

WriteResult writeWhole(const std::string& requested, const uint8_t* data, size_t size, bool replace) {
  const std::string path = replace ? resolveLinks(requested) : requested;
  // A file made read-only is kept as it is, and one replaced keeps its permissions (not the defaults).
  struct stat existing {};
  const bool replacing = replace && ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  if (replacing && (existing.st_mode & 0222) == 0) return WriteResult::ReadOnly;
  std::string folder = folderOf(path);
  if (folder.empty() && !path.empty() && path[0] == '/') folder = "/";
  std::string pattern = (folder.empty() ? std::string() : folder + "/") + "." + lastComponent(path) + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return WriteResult::Failed;
  const std::string temp(name.data());
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const mode_t mode = replacing ? (existing.st_mode & 07777) : (0666 & ~mask);
  bool ok = ::fchmod(fd, mode) == 0 && !failsHere("write") && writeAll(fd, data, size) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  WriteResult result = ok && !failsHere("rename") ? publish(temp, path, replace) : WriteResult::Failed;
  if (result != WriteResult::Written) ::unlink(temp.c_str());
  return result;
}

std::string freeName(const std::string& folder, const std::string& stem, const std::string& suffix) {
  const std::string base = folder.empty() ? std::string() : folder + "/";
  for (int n = 1; n < 10000; ++n) {
    const std::string candidate = base + stem + (n == 1 ? std::string() : " (" + std::to_string(n) + ")") + suffix;
    if (!entryExists(candidate)) return candidate;
  }
  return std::string();
}

namespace {

// Opens without blocking and keeps the descriptor only for a regular file; *isRegular tells a pipe
// or device (false) from a file that could not be opened at all.
int openRegularFd(const std::string& path, int flags, bool* isRegular) {
  *isRegular = false;
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  *isRegular = true;
  // The file is a file: reads and writes may wait for the disk as usual.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool because(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

}  // namespace

bool readWhole(const std::string& path, std::string* out, size_t maxSize, std::string* why) {
  bool regular = false;
  const int fd = openRegularFd(path, O_RDONLY, &regular);
  if (fd < 0) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
      return because(why, S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a file but a pipe or device");
    return because(why, "it cannot be opened");
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > maxSize) {
    ::close(fd);
    return because(why, "it is too large for a bank file");
  }
  out->clear();
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = because(why, "it cannot be read");
    if (n <= 0) break;
    out->append(buffer, static_cast<size_t>(n));
    // A file that grows while it is read is cut off here rather than read without end.
    if (out->size() > maxSize) {
      ok = because(why, "it is too large for a bank file");
      break;
    }
  }
  ::close(fd);
  return ok;
}

bool moveWithoutReplacing(const std::string& source, const std::string& target) {
  if (::link(source.c_str(), target.c_str()) == 0) {
    if (::unlink(source.c_str()) == 0) return true;
    ::unlink(target.c_str());
    return false;
  }
  if (errno == EEXIST) return false;
  std::string bytes;
  if (!readWhole(source, &bytes)) return false;
  if (writeWhole(target, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), false) != WriteResult::Written)
    return false;
  if (::unlink(source.c_str()) == 0) return true;
  ::unlink(target.c_str());
  return false;
}

}  // namespace librarianfiles
