// What the tests of the real editor object share: a data folder with an open bank, and the framing of a SysEx
// message as it leaves the output port.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "KIT/IEffect/IGraphics.h"
#include "KIT/pix/pix.h"
#include "src/LibrarianViewControl.h"
#include "src/MIDIMessageSender.h"
#include "src/PatchFile.h"
#include "src/PatchLibrarian.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/support/TempRoot.h"

namespace jobtest {

// A data folder with one bank of "Init Sound" programs in "Patches", so that the librarian has an open bank.
class DataRoot : public vexmir::testsupport::TempRoot {
 public:
  DataRoot() : TempRoot("jobs") {
    const std::string patches = Vexmir::getPatchesFolderStr();
    std::filesystem::create_directories(patches);
    PatchFile bank;
    bank.patches.resize(128);
    for (LibrarianPatch& p : bank.patches)
      p.messages.emplace_back().data.assign(initialProgramDump(), kProgramDumpSize);
    PatchLibrarian::writeBankFile(bank, patches + "/Init.vmr", false);
  }
};

// Job `code`, its flag argument (toEditor and temporary) as given.
inline SenderJob jobOf(int code, bool flag = false) {
  SenderJob job;
  job.job = code;
  job.toEditor = flag;
  job.temporary = flag;
  return job;
}

// The bytes a SysEx send puts on the wire: F0 and F7 added where the buffer lacks them.
inline std::vector<uint8_t> framedSysex(const unsigned char* b, int n) {
  std::vector<uint8_t> framed;
  if (n <= 0) return framed;
  if (b[0] != 0xF0) framed.push_back(0xF0);
  framed.insert(framed.end(), b, b + n);
  if (b[n - 1] != 0xF7) framed.push_back(0xF7);
  return framed;
}

// The slot of a side that the slot view highlights once drawn, -1 for none: read from the pixels (the light grey
// fill at a slot's right end), as the musician sees it, not from any field.
inline int drawnSlot(IGraphics* g, LibrarianViewControl* view, int side) {
  IRECT area = *view->GetRECT();
  const IColor black(255, 0, 0, 0);
  g->FillIRect(&black, &area);
  view->Draw(g);
  for (int slot = 0; slot < LibrarianViewControl::kSlots; ++slot) {
    const IRECT r = view->slotRect(side, slot);
    if (PIX_GetPixel(g->GetDrawBitmap(), r.R - 2, r.T + 1) >> 8 == 0xE1E1E1u) return slot;
  }
  return -1;
}

}  // namespace jobtest
