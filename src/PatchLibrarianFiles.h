// File-system steps of the librarian that must never lose or half-write a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace librarianfiles {

enum class WriteResult { Written, NameTaken, Failed };

// For tests that prove no failure loses data: when set, asked before the bytes of a file are written
// ("write") and before the finished file is put in place ("rename"); true makes that step fail as a
// full disk or a refused rename would.
extern bool (*injectedFailure)(const char* step);

// Writes `size` bytes to a temporary file beside `path` and then puts it in place: replacing an
// existing file when `replace` is true, otherwise only when no file of that name exists
// (NameTaken). On any failure the temporary file is removed and the target is as it was. When
// replacing, a symbolic link at `path` is followed: the file it names is written, the link stays.
WriteResult writeWhole(const std::string& path, const uint8_t* data, size_t size, bool replace);

// The first of "<stem><suffix>", "<stem> (2)<suffix>", "<stem> (3)<suffix>" ... in `folder` that
// names no existing entry; empty when none is free.
std::string freeName(const std::string& folder, const std::string& stem, const std::string& suffix);

// Moves `source` to `target` without replacing anything at `target`. Within one file system by a
// hard link; across file systems by a copy that is complete before the source is removed. On failure
// nothing is left at `target` and the source is where it was.
bool moveWithoutReplacing(const std::string& source, const std::string& target);

// Reads a whole regular file; false when it cannot be read.
bool readWhole(const std::string& path, std::string* out);

// "a/b/c.syx" gives "a/b"; a path without a separator gives "".
std::string folderOf(const std::string& path);
// The text after the last "/" or "\".
std::string lastComponent(const std::string& path);

}  // namespace librarianfiles
