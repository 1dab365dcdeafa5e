// The UI settings file on a platform without an installer: the first start writes it, a size or colour scheme chosen
// on the global tab is kept there and applies at the next start, and the display says so.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphics.h"
#include "platform/cocoa/cfbundle.h"
#include "platform/vst2/vst2.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"
#include "tests/core/bundle_host.h"
#include "tests/support/Files.h"
#include "tests/support/QuietHost.h"

namespace {

using vexmir::testsupport::quietHost;

using vexmir::testsupport::readText;

void choose(Vexmir& v, int param, double value) {
  v.storeParamValue(param, value);
  v.OnParamChange(param);
}

TEST(UISettingsFile, TheFirstStartWritesItAndAChoiceAppliesAtTheNextStart) {
  coretest::TempRoot root;  // not even the data folder exists
  const std::string file = Vexmir::getDataFolder() + "Vexmir Editor UI.txt";
  {
    Vexmir v(IEffectInstanceInfo{quietHost});
    EXPECT_EQ(v.getUIScale(), 1.0);
    EXPECT_EQ(readText(file), "normal\nnormal\nyes\n\n");
    // Too long for the name and value fields, both texts are read as one message over the whole display.
    choose(v, kUserInterfaceSize, 2);
    EXPECT_EQ(v.getDisplayLine(Vexmir::kLineName), "Size changes applied... Reload project!");
    choose(v, kUserInterfaceSkin, 1);
    EXPECT_EQ(v.getDisplayLine(Vexmir::kLineName), "Skin changes applied... Reload project!");
    // This instance's editor keeps the size it was built with, however often it is opened.
    EXPECT_EQ(v.GetGUI()->Width(), 1500);
  }
  EXPECT_EQ(readText(file), "black\nlarge\nyes\n\n");
  {
    Vexmir next(IEffectInstanceInfo{quietHost});
    EXPECT_EQ(next.getUIScale(), 1.25);
    EXPECT_EQ(next.GetGUI()->Width(), 1875);
    // A file that went away meanwhile is not made again behind the user's back: the display says it is missing.
    std::remove(file.c_str());
    choose(next, kUserInterfaceSize, 0);
    EXPECT_EQ(next.getDisplayLine(Vexmir::kLineName), "Vexmir Editor UI.txt MISSING! Contact support");
    EXPECT_FALSE(std::filesystem::exists(file));
  }
}

// Editors of two sizes in one process (the size changed between two starts of the plug-in in one host session) each
// show the pictures at their own size.
TEST(UISettingsFile, EditorsOfTwoSizesInOneProcessShowTheirOwnPictures) {
  coretest::TempRoot root;
  cocoa::Bundle::registerIdentifier("com.Pellacor.vst.Vexmir Editor",
                                    std::string(std::getenv("VEXMIR_BUILD_DIR")) + "/Vexmir Editor.vst");
  std::filesystem::create_directories(Vexmir::getDataFolder());
  for (const char* size : {"normal", "large", "small"}) {
    std::ofstream(Vexmir::getDataFolder() + "Vexmir Editor UI.txt") << "normal\n" << size << "\nyes\n\n";
    Vexmir v(IEffectInstanceInfo{quietHost});
    auto& background = dynamic_cast<IBitmapControl&>(*v.GetGUI()->GetControl(0));
    EXPECT_EQ(background.GetIBitmap()->W, v.GetGUI()->Width()) << size;
  }
}

}  // namespace
