// Where the plug-in bundle and the data folder are on this machine.
#pragma once

#include <string>

namespace platform {

// The folder "<name>.vst" that holds the shared library containing `addressInLibrary`
// (".../Vexmir Editor.vst"), or "" when that library does not sit in a bundle.
std::string bundlePathFor(const void* addressInLibrary);

// "<bundle>/Contents/Resources/" for the bundle holding `addressInLibrary`, or "" when none.
std::string resourcesPathFor(const void* addressInLibrary);

// The root under which absolute data paths are resolved: $VEXMIR_ROOT when set, else
// $XDG_DATA_HOME/vexmir, else ~/.local/share/vexmir. No trailing slash.
std::string dataRoot();

// An absolute path of the program's own ("/Library/Audio/...") moved under dataRoot().
std::string resolveDataPath(const std::string& absolutePath);

// Creates every missing folder of `path`; true when the folder exists afterwards.
bool makeFolders(const std::string& path);

// Opens one of the data folder's own files (the UI settings file, the debug log) with the open(2) `flags`, never
// waiting: the descriptor, or -1 when it cannot be opened or is not a regular file (a pipe, a device or a folder in
// its place must neither hold the editor up nor be read or written as the file).
int openDataFile(const std::string& path, int flags);
// The whole content of such a file (at most `limit` bytes); false when it cannot be read.
bool readDataFile(const std::string& path, std::string* bytes, size_t limit);
// Replaces the content of such a file when it exists (nothing is created); false when it was not written whole.
bool rewriteDataFile(const std::string& path, const std::string& bytes);

}  // namespace platform
