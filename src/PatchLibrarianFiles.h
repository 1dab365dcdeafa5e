// File-system steps of the librarian that must never lose or half-write a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace librarianfiles {

enum class WriteResult { Written, NameTaken, ReadOnly, Failed };

// For tests that prove no failure loses data: when set, asked before the bytes of a file are written
// ("write") and before the finished file is put in place ("rename"); true makes that step fail as a
// full disk or a refused rename would.
extern bool (*injectedFailure)(const char* step);

// Writes `size` bytes to a temporary file beside `path` and then puts it in place: replacing an
// existing file when `replace` is true, otherwise only when no file of that name exists
// (NameTaken). On any failure the temporary file is removed and the target is as it was. When
// replacing, a symbolic link at `path` is followed: the file it names is written, the link stays; a
// file replaced keeps its permissions, and a read-only one is not replaced (ReadOnly).
WriteResult writeWhole(const std::string& path, const uint8_t* data, size_t size, bool replace);

// True when `path` (links followed) is a file that nobody may write: no write permission bit is set.
bool isReadOnly(const std::string& path);

// The first of "<stem><suffix>", "<stem> (2)<suffix>", "<stem> (3)<suffix>" ... in `folder` that
// names no existing entry; empty when none is free.
std::string freeName(const std::string& folder, const std::string& stem, const std::string& suffix);

// Moves `source` to `target` without replacing anything at `target`. Within one file system by a
// hard link; across file systems by a copy that is complete before the source is removed. On failure
// nothing is left at `target` and the source is where it was.
bool moveWithoutReplacing(const std::string& source, const std::string& target);

// Reads a whole regular file of at most `maxSize` bytes; false when it cannot be read, and then
// *why (when given) says why in words for the user. A pipe or device is refused without waiting
// for it, and a file too large is refused before it is read.
bool readWhole(const std::string& path, std::string* out, size_t maxSize = SIZE_MAX, std::string* why = nullptr);

// A short text that tells two contents of a file apart (their size and a hash of their bytes).
std::string contentStamp(const uint8_t* data, size_t size);
// The stamp of the file at `path` now (empty when it is no readable file of a bank file's size at most).
std::string fileStamp(const std::string& path, size_t maxSize);

// "a/b/c.syx" gives "a/b"; a path without a separator gives "". Only "/" separates the components of a
// path here: a backslash is a character of a name.
std::string folderOf(const std::string& path);
// The text after the last "/".
std::string lastComponent(const std::string& path);
// The path as the filesystem reaches it: links, ".", ".." and doubled slashes resolved as far as it exists (the rest
// by their names); a trailing "/" stays.
std::string realPath(const std::string& path);
// The extension of a file name in lower case, without its dot ("" for none).
std::string lowerExtension(const std::string& name);
// Whether a lower-case extension is one of a bank file's: mid, syx, vmr, vlt.
bool isBankExtension(const std::string& ext);

}  // namespace librarianfiles
