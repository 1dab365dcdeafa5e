// Opening a folder or a web page the way the desktop does, with its opener (xdg-open).
#pragma once

#include <string>

// Starts the desktop's opener on `target` (a path or an address) without waiting for it; false when the system
// has no opener on its PATH or it could not be started.
bool openWithDesktop(const std::string& target);
