// What the tests of the real editor object share: a data folder with an open bank, and the framing of a SysEx
// message as it leaves the output port.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "src/PatchFile.h"
#include "src/PatchLibrarian.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"

namespace jobtest {

// A data folder with one bank of "Init Sound" programs in "Patches", so that the librarian has an open bank.
class DataRoot {
 public:
  DataRoot() {
    char tmpl[] = "/tmp/vexmir-jobs-XXXXXX";
    path = mkdtemp(tmpl);
    setenv("VEXMIR_ROOT", path.c_str(), 1);
    const std::string patches = Vexmir::getPatchesFolderStr();
    std::filesystem::create_directories(patches);
    PatchFile bank;
    bank.patches.resize(128);
    for (LibrarianPatch& p : bank.patches)
      p.messages.emplace_back().data.assign(initialProgramDump(), kProgramDumpSize);
    PatchLibrarian::writeBankFile(bank, patches + "/Init.vmr", false);
  }
  ~DataRoot() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

// The bytes a SysEx send puts on the wire: F0 and F7 added where the buffer lacks them.
inline std::vector<uint8_t> framedSysex(const unsigned char* b, int n) {
  std::vector<uint8_t> framed;
  if (n <= 0) return framed;
  if (b[0] != 0xF0) framed.push_back(0xF0);
  framed.insert(framed.end(), b, b + n);
  if (b[n - 1] != 0xF7) framed.push_back(0xF7);
  return framed;
}

}  // namespace jobtest
