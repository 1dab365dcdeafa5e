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

}  // namespace platform
