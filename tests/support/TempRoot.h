// A fresh folder for one test under /tmp, removed with all it holds when the test ends. It is the editor's data
// root meanwhile: $VEXMIR_ROOT points at it, so that no test reads or changes the user's own data folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vexmir::testsupport {

class TempRoot {
 public:
  explicit TempRoot(const std::string& tag = "test") {
    std::string name = "/tmp/vexmir-" + tag + "-XXXXXX";
    path = mkdtemp(name.data()) ? name : "/tmp";
    setenv("VEXMIR_ROOT", path.c_str(), 1);
  }
  ~TempRoot() {
    std::error_code ec;
    if (path != "/tmp") std::filesystem::remove_all(path, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  // The editor's data folder under this root, created.
  std::string dataFolder() const {
    std::string f = path + "/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/";
    std::error_code ec;
    std::filesystem::create_directories(f, ec);
    return f;
  }

  std::string path;
};

}  // namespace vexmir::testsupport
