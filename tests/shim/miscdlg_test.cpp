// Message boxes with each button set, file panels with filters and shell opening, answered as scripted.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "KIT/shim/shim.h"
#include "platform/cocoa/panels.h"
#include "platform/cocoa/view.h"

namespace {

TEST(ShimMiscDialogs, MessageBoxesAnswerForEachButtonSet) {
  struct Case {
    int type, scripted, expected;
  };
  // Closed without an answer (the cancel response), a question is never consent: Cancel where there is one, else No.
  const int unanswered = cocoa::kAlertCancelResponse;
  for (const Case& c : {Case{MB_OK, 0, IDOK}, Case{MB_OKCANCEL, 1, IDCANCEL}, Case{MB_YESNOCANCEL, 2, IDNO},
                        Case{MB_YESNOCANCEL, 1, IDCANCEL}, Case{MB_YESNO, 1, IDNO}, Case{MB_YESNO, 0, IDYES},
                        Case{MB_RETRYCANCEL, 0, IDRETRY}, Case{MB_OK, unanswered, IDOK},
                        Case{MB_OKCANCEL, unanswered, IDCANCEL}, Case{MB_YESNOCANCEL, unanswered, IDCANCEL},
                        Case{MB_YESNO, unanswered, IDNO}, Case{MB_RETRYCANCEL, unanswered, IDCANCEL}}) {
    cocoa::alerts::scriptResponse(c.scripted);
    EXPECT_EQ(MessageBox(nullptr, "Save bank?", "Vexmir", c.type), c.expected) << c.type;
  }
  cocoa::alerts::clearShown();
  EXPECT_EQ(MessageBox(nullptr, "x", "y", 0x30), 0);  // an icon bit makes the type unknown: nothing is shown
  EXPECT_TRUE(cocoa::alerts::shownAlerts().empty());
}

TEST(ShimMiscDialogs, PanelsTakeFiltersAndStartFoldersAndReturnTheirChoices) {
  cocoa::panels::clearShown();
  const char filter[] = "Banks\0*.syx;*.vmr\0All files\0*.*\0";
  cocoa::panels::scriptChoice("/data/Bank 1.syx");
  char out[64];
  ASSERT_TRUE(BrowseForSaveFile("Save", "/home", "/Bank.syx", filter, out, sizeof(out)));
  EXPECT_STREQ(out, "/data/Bank 1.syx");
  auto shown = cocoa::panels::shownPanels().back();
  EXPECT_EQ(shown.types, (std::vector<std::string>{"syx", "vmr"}));
  EXPECT_EQ(shown.directory, "/");
  EXPECT_EQ(shown.fileName, "Bank.syx");
  // A null filter is an empty one; a size below 1 writes nothing.
  cocoa::panels::scriptChoice("/x");
  char untouched = 'u';
  EXPECT_TRUE(BrowseForSaveFile("Save", "/home", "name", nullptr, &untouched, 0));
  EXPECT_EQ(untouched, 'u');
  EXPECT_EQ(cocoa::panels::shownPanels().back().directory, "/home");
  cocoa::panels::scriptChoice("/dir");
  EXPECT_TRUE(BrowseForDirectory("Folder", "/", &untouched, 0));
  EXPECT_EQ(untouched, 'u');
  cocoa::panels::scriptCancel();
  EXPECT_FALSE(BrowseForDirectory("Folder", "/", out, sizeof(out)));

  cocoa::panels::scriptChoices({"/a.syx", "/B.VMR"});  // a type in upper case is offered too
  char* block = BrowseForFiles("Import", "/", nullptr, true, filter);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[0], 0);
  EXPECT_STREQ(block + 1, "/a.syx");
  EXPECT_STREQ(block + 8, "/B.VMR");
  EXPECT_EQ(block[15], 0);
  std::free(block);
  cocoa::panels::scriptChoice("/one.syx");
  block = BrowseForFiles("Import", "/", nullptr, false, filter);
  ASSERT_NE(block, nullptr);
  EXPECT_STREQ(block, "/one.syx");
  EXPECT_EQ(block[9], 0);
  std::free(block);
  // A type written in capitals offers a lower-case name too.
  cocoa::panels::scriptChoice("/one.syx");
  block = BrowseForFiles("Import", "/", nullptr, false, "Banks\0*.SYX\0");
  EXPECT_NE(block, nullptr) << "refused " << cocoa::panels::shownPanels().back().refused;
  std::free(block);
}

TEST(ShimMiscDialogs, ShellOpeningSendsWebAddressesFilesAndApplications) {
  cocoa::workspace::clearOpened();
  EXPECT_TRUE(ShellExecute(nullptr, "open", "https://example.invalid/kb/articles/", nullptr, nullptr, 0));
  EXPECT_TRUE(ShellExecute(nullptr, "open", "HTTP://example.invalid/", nullptr, nullptr, 0));
  EXPECT_TRUE(ShellExecute(nullptr, "open", "notepad", "/tmp/log.txt", nullptr, 0));
  EXPECT_TRUE(ShellExecute(nullptr, "open", "explorer.exe", "/tmp", nullptr, 0));
  EXPECT_TRUE(ShellExecute(nullptr, "open", "Calculator.APP", nullptr, nullptr, 0));
  EXPECT_FALSE(ShellExecute(nullptr, "open", "explorer.exe", "explorer.exe", nullptr, 0));
  EXPECT_EQ(cocoa::workspace::openedURLs(),
            (std::vector<std::string>{"https://example.invalid/kb/articles/", "HTTP://example.invalid/",
                                      "file:/tmp/log.txt with:TextEdit.app", "file:/tmp", "launch:Calculator.APP"}));
}

TEST(ShimMiscDialogs, TheFocusRectangleIsMovedAndRemoved) {
  HWND v = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, nullptr, 0);
  cocoa::Window* owner = v->as<cocoa::View>()->window();
  owner->setFrame(cocoa::Rect{100, 100, 300, 200}, false);
  void* handle = nullptr;
  RECT r{10, 10, 60, 40};
  SHIM_DrawFocusRect(v, &r, &handle);
  ASSERT_NE(handle, nullptr);
  auto* w = static_cast<cocoa::Object*>(handle)->as<cocoa::Window>();
  EXPECT_EQ(w->parentWindow(), owner);
  EXPECT_EQ(w->frame().w, 50);
  EXPECT_EQ(w->frame().h, 30);
  EXPECT_EQ(w->frame().x, 110);
  RECT r2{20, 20, 40, 30};
  SHIM_DrawFocusRect(v, &r2, &handle);
  EXPECT_EQ(handle, static_cast<void*>(w));  // one window, moved
  EXPECT_EQ(w->frame().w, 20);
  EXPECT_EQ(w->pixelAt(1, 1), 0x808080u);
  SHIM_DrawFocusRect(v, nullptr, &handle);
  EXPECT_EQ(handle, nullptr);
  EXPECT_TRUE(owner->childWindows().empty());
  DestroyWindow(v);
}

}  // namespace
