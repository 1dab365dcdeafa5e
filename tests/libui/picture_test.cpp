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

// Notices longer than their line, drawn on the tab: a scan note naming a file of 160 characters goes on two lines of
// a smaller size inside the notice's area, and nothing of it lies to the right of the slot columns or below the area.
// With a second note of a 250-character name, that note is cut with "..." on its second line and keeps its click
// hint; a click shows the whole note, then the next one.
TEST(LibrarianTabPicture, LongNoticesFitTheirLine) {
  DataFolder data;
  data.write("A.syx", bankBytes(1));
  const std::string longName = std::string(156, 'n') + ".syx", longest = std::string(246, 'm') + ".syx";
  data.write(longName, Bytes(100, 0x20));
  LibrarianTab tab;
  // Pixels of the notice's colour in a band of rows, left and right of a column.
  const IRECT area = tab.view->noticeRect();
  auto ink = [&](int top, int bottom, int left, int right) {
    PIX_IBitmap* bm = tab.g.GetDrawBitmap();
    int n = 0;
    for (int y = std::max(0, top); y < std::min(bottom, bm->getHeight()); ++y)
      for (int x = std::max(0, left); x < std::min(right, bm->getWidth()); ++x) {
        const PIX_pixel p = bm->getBits()[static_cast<size_t>(y) * bm->getRowSpan() + x];
        n += PIX_GETR(p) > 180 && PIX_GETG(p) > 120 && PIX_GETG(p) < 220 && PIX_GETB(p) < 130;
      }
    return n;
  };
  const int width = tab.g.GetDrawBitmap()->getWidth(), middle = (area.T + area.B) / 2;
  tab.mainMenu({"Refresh Folders"});
  tab.tick();
  ASSERT_GT(tab.view->notice().size(), 200u) << tab.view->notice();
  rastertest::writeFile("librarian-long-notice.png", rastertest::encodeBitmap(tab.g.GetDrawBitmap()));
  EXPECT_GT(ink(area.T, middle, area.L, area.R), 100) << "the first line";
  EXPECT_GT(ink(middle, area.B, area.L, area.R), 100) << "the second line";
  EXPECT_EQ(ink(area.T, area.B + 20, area.R, width), 0) << "drawn past the slot columns";
  EXPECT_EQ(ink(area.B, area.B + 20, 0, width), 0) << "drawn below the notice's area";

  data.write(longest, Bytes(100, 0x20));
  tab.mainMenu({"Refresh Folders"});
  tab.tick();
  const std::string first = tab.editor.lastMessage();
  EXPECT_EQ(ink(area.T, area.B + 20, area.R, width), 0) << "drawn past the slot columns";
  tab.g.calls.clear();
  for (int click = 0; click < 2; ++click) {
    tab.tick();
    IMouseMod left(true);
    const std::string shown = tab.view->notice();
    tab.view->OnMouseDown((area.L + area.R) / 2, (area.T + area.B) / 2, &left);
    const bool cut = shown.find(longest) != std::string::npos;
    // The cut note is shown whole in a message box, and either click goes on to the other note.
    EXPECT_EQ(tab.g.calls.size(), cut ? 1u : 0u) << shown;
    if (cut && !tab.g.calls.empty()) {
      EXPECT_NE(tab.g.calls[0].find(longest), std::string::npos) << tab.g.calls[0];
    }
    EXPECT_NE(tab.view->notice(), shown) << "the click did not show the next note";
    tab.g.calls.clear();
  }
  EXPECT_EQ(tab.editor.lastMessage(), first);
}
