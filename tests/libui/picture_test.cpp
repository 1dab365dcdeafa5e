// The librarian tab drawn at the three UI scales, compared pixel by pixel with the pictures under
// tests/golden/libui/: two banks of named programs, a selected slot in each, the bank lists' names and the
// librarian's message between the banks. A second picture stacks the message strip of every message the
// librarian shows when a file or an action fails. With VEXMIR_UPDATE_GOLDEN=1 the pictures are written as
// the new goldens; a differing picture is written as <name>.actual.png in the working folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "KIT/pix/pix.h"
#include "src/BankChooserMenu.h"
#include "tests/libui/libui_support.h"
#include "tests/support/Pixels.h"

using namespace libui;

TEST(LibrarianTabPicture, AtTheThreeScales) {
  DataFolder data;
  data.write("Factory/Factory Bank A.syx", bankBytes(1));
  data.write("Factory/Factory Bank B.syx", bankBytes(2));
  data.write("My Sounds 2026.syx", bankBytes(3, 90));
  data.write("notes.syx", Bytes(100, 0x20));
  for (double scale : {0.75, 1.0, 1.25}) {
    SCOPED_TRACE(scale);
    LibrarianTab tab(scale);
    tab.chooseUpper({"My Sounds 2026.syx"});
    tab.chooseLower({"Factory", "Factory Bank B.syx"});
    tab.mainMenu({"Refresh Folders"});
    tab.click(1, 20);
    tab.click(0, 37);
    tab.tick();
    const int percent = static_cast<int>(scale * 100);
    pixels::expectColoursMatchGolden(tab.g.GetDrawBitmap(), "libui", "librarian-tab-" + std::to_string(percent));
  }
}

TEST(LibrarianTabPicture, EveryMessageBetweenTheBanks) {
  DataFolder data;
  data.write("A.syx", bankBytes(1));
  data.write("B.syx", bankBytes(2));
  data.write("tiny.syx", Bytes(100, 0x20));
  data.write("One/Two/Three/deep.syx", bankBytes(4));
  LibrarianTab tab;
  tab.chooseUpper({"A.syx"});
  tab.chooseLower({"B.syx"});
  const std::string a = data.patches + "/A.syx";
  auto edit = [&] {
    tab.g.menuPath = {"Copy"};
    tab.click(1, 3, true);
    tab.g.menuPath = {"Paste"};
    tab.click(0, 3, true);
  };
  auto importing = [&](const std::string& path) {
    tab.g.fileAnswers = {path};
    tab.mainMenu({"Import...", "SysEx (*.syx / *.vmr / *.vlt)"});
  };
  const std::vector<std::function<void()>> steps = {
      [&] { tab.mainMenu({"Refresh Folders"}); },
      [&] {
        std::filesystem::remove(data.patches + "/tiny.syx");
        tab.mainMenu({"Refresh Folders"});
      },
      [&] {
        edit();
        tab.editor.selectBank(0, bankIndexByPath(tab.librarian.bankFiles, data.patches + "/B.syx"));
      },
      [&] {
        ::chmod(a.c_str(), 0444);
        tab.mainMenu({"Save (Overwrite current bank)"});
        ::chmod(a.c_str(), 0644);
      },
      [&] {
        vectors::writeFile(a, bankBytes(1, 40));
        tab.mainMenu({"Refresh Folders"});
      },
      [&] {
        std::filesystem::remove(tab.editor.upperBankPath);
        tab.mainMenu({"Refresh Folders"});
      },
      [&] {
        const std::string away = data.patches + " away";
        std::filesystem::rename(data.patches, away);
        tab.mainMenu({"Refresh Folders"});
        std::filesystem::rename(away, data.patches);
      },
      [&] { tab.editor.renameProgram(5, "Caf\xC3\xA9 \xE2\x99\xAA Noir"); },
      [&] { tab.editor.renameProgram(5, "\x01"); },
      [&] {
        vectors::writeFile(data.root + "/junk.syx", Bytes(30000, 0x11));
        importing(data.root + "/junk.syx");
      },
      [&] {
        ::mkfifo((data.root + "/pipe.syx").c_str(), 0644);
        importing(data.root + "/pipe.syx");
      },
      [&] {
        std::FILE* f = std::fopen((data.root + "/huge.syx").c_str(), "wb");
        if (f) {
          if (::ftruncate(fileno(f), kMaxBankFileSize + 1) != 0) ADD_FAILURE();
          std::fclose(f);
        }
        importing(data.root + "/huge.syx");
      },
      [&] {
        std::filesystem::create_directories(data.root + "/Elsewhere");
        tab.g.fileAnswers = {data.root + "/Elsewhere/Out.vmr"};
        tab.mainMenu({"Save As...", "Vexmir Format (*.vmr)"});
      },
      [&] {
        std::vector<Bytes> programs;
        for (int s = 0; s < 128; ++s) programs.push_back(vectors::programDataNamed(s, programName(6, s)));
        data.write("All.syx", vectors::bulkDump(programs, 0x50));
        tab.mainMenu({"Refresh Folders"});
        tab.chooseUpper({"All.syx"});
        edit();
        tab.mainMenu({"Save (Overwrite current bank)"});
      },
      [&] {
        std::filesystem::remove(data.patches + "/All.syx");
        tab.mainMenu({"Refresh Folders"});
      },
  };
  // The strip between the two banks, one below the other.
  const IRECT above = tab.view->slotRect(0, 15), below = tab.view->slotRect(1, 0);
  const int stripTop = above.B, stripHeight = below.T - above.B - 20;
  const int width = tab.g.GetDrawBitmap()->getWidth();
  PIX_MemBitmap sheet(width, stripHeight * static_cast<int>(steps.size()));
  std::string previous;
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    steps[i]();
    EXPECT_NE(tab.view->notice(), previous) << "each step shows a message of its own";
    previous = tab.view->notice();
    tab.tick();
    PIX_Blit(&sheet, tab.g.GetDrawBitmap(), 0, static_cast<int>(i) * stripHeight, 0, stripTop, width, stripHeight, 1.0f,
             PIX_BLIT_MODE_COPY);
  }
  pixels::expectColoursMatchGolden(&sheet, "libui", "librarian-messages");
}
