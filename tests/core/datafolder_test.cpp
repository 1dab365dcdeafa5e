// The data folder, the UI settings file and the debug log, on disk under a temporary root.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/vst2/vst2.h"
#include "src/Vexmir.h"
#include "tests/core/bundle_host.h"
#include "tests/support/Files.h"
#include "tests/support/QuietHost.h"

using coretest::BundleHost;
using coretest::TempRoot;

namespace {

using vexmir::testsupport::quietHost;

using vexmir::testsupport::readText;
using vexmir::testsupport::writeText;

// The message of a log line "YYYY-MM-DD.HH:MM:SS\t message", or "?" when the line has another form.
std::string logMessage(const std::string& line) {
  const char* pattern = "dddd-dd-dd.dd:dd:dd\t ";
  size_t n = std::strlen(pattern);
  if (line.size() < n) return "?";
  for (size_t i = 0; i < n; ++i) {
    bool ok = pattern[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == pattern[i];
    if (!ok) return "?";
  }
  return line.substr(n);
}

bool exists(const std::string& path) {
  return std::ifstream(path).good();
}

const char* const kLogName = "Vexmir Editor LOG.txt";
const char* const kSettingsName = "Vexmir Editor UI.txt";

}  // namespace

TEST(DataFolder, PathsLieUnderTheRoot) {
  TempRoot root;
  EXPECT_EQ(Vexmir::getDataFolder(), root.path + "/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/");
  EXPECT_EQ(Vexmir::getPatchesFolderStr(), Vexmir::getDataFolder() + "Patches");
  EXPECT_EQ(Vexmir::getPatchesFolderLength(), static_cast<int>(Vexmir::getDataFolder().size()) + 7);
}

TEST(UISettings, FirstThreeLinesChooseStyleAndScale) {
  struct Case {
    const char* file;
    int style;
    double scale;
    const char* firstRun;
  } cases[] = {
      {"black\nlarge\nno\n", 1, 1.25, "no"},
      {"black\nsmall", 1, 0.75, ""},
      {"normal\r\n", 0, 1.0, ""},
      {"normal\nlarge  \t\r\nyes\nextra\n", 0, 1.25, "yes"},
      {"purple\nhuge\n", 0, 1.0, ""},
      {"", 0, 1.0, ""},
  };
  for (const Case& c : cases) {
    TempRoot root;
    writeText(root.dataFolder() + kSettingsName, c.file);
    Vexmir v(IEffectInstanceInfo{quietHost});
    EXPECT_EQ(v.getUIStyle(), c.style) << c.file;
    EXPECT_EQ(v.getUIScale(), c.scale) << c.file;
    EXPECT_EQ(v.getUISettingsLine(2), c.firstRun) << c.file;
  }
  TempRoot missing;
  Vexmir v(IEffectInstanceInfo{quietHost});
  EXPECT_EQ(v.getUIStyle(), 0);
  EXPECT_EQ(v.getUIScale(), 1.0);
}

TEST(UISettings, RewrittenAsFiveLinesOnlyWhenPresent) {
  TempRoot root;
  std::string path = root.dataFolder() + kSettingsName;
  writeText(path, "normal\nnormal\nno\nold four\nold five\n");
  Vexmir v(IEffectInstanceInfo{quietHost});
  EXPECT_TRUE(v.setUISettingsLine(1, "large"));
  EXPECT_EQ(readText(path), "normal\nlarge\nno\n\n");
  EXPECT_TRUE(v.setUISettingsLine(2, "yes"));
  EXPECT_TRUE(v.setUISettingsLine(0, "black"));
  EXPECT_EQ(readText(path), "black\nlarge\nyes\n\n");
  EXPECT_FALSE(v.setUISettingsLine(3, "nope"));

  std::remove(path.c_str());
  EXPECT_FALSE(v.setUISettingsLine(1, "small"));
  EXPECT_FALSE(exists(path));  // never created
}

TEST(DebugLog, WrittenOnlyWhenTheFileExistedAtStart) {
  TempRoot root;
  std::string folder = root.dataFolder();
  {
    BundleHost host;
    ASSERT_TRUE(host.create());
    host.close();
  }
  EXPECT_FALSE(exists(folder + kLogName));

  writeText(folder + kLogName, "old text that must go\n");
  {
    BundleHost host;
    ASSERT_TRUE(host.create());
    host.close();
  }
  std::string log = readText(folder + kLogName);
  EXPECT_EQ(log.find("old text"), std::string::npos);
  std::istringstream lines(log);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(logMessage(first), "INITIALIZATION STARTED!");
  EXPECT_EQ(logMessage(second), "Data folder located at " + folder);
  EXPECT_EQ(log.back(), '\n');
}

TEST(DebugLog, DeletedWhileOnIsCreatedAgain) {
  TempRoot root;
  std::string path = root.dataFolder() + kLogName;
  writeText(path, "");
  Vexmir v(IEffectInstanceInfo{quietHost});
  ASSERT_TRUE(v.isDebugLogOn());
  std::remove(path.c_str());
  v.log("RESET: again");
  EXPECT_NE(readText(path).find("\t RESET: again\n"), std::string::npos);
}

TEST(EditorObject, StartsWithEveryParameterHiddenAndItsQueue) {
  TempRoot root;
  Vexmir v(IEffectInstanceInfo{quietHost});
  EXPECT_EQ(v.NParams(), 529);
  EXPECT_EQ(v.NHostParams(), 0);
  EXPECT_EQ(v.midiQueue.GetSize(), 1024);
  EXPECT_EQ(v.deviceId.load(), 0x30);
  EXPECT_EQ(v.displayedTimbre.load(), 0);
  EXPECT_FALSE(v.midiOutReady.load());
  EXPECT_EQ(v.GetLatency(), 128);
  char version[32];
  v.GetEffectVersionStr(version);
  EXPECT_STREQ(version, "v2.0.8");
}

TEST(EditorObject, HiddenParameterStateOf473Values) {
  TempRoot root;
  Vexmir v(IEffectInstanceInfo{quietHost});
  ByteChunk c;
  int32_t lead = 7;
  c.Put(&lead);
  ASSERT_TRUE(v.SerializeNonAutomatedParams(&c, 473));
  EXPECT_EQ(c.Size(), 4 + 3784);
  EXPECT_EQ(v.UnserializeNonAutomatedParams(&c, 4, 473), 4 + 3784);

  // Ten values where 473 are announced: refused whole, nothing set (the parameters keep the values the editor
  // started with).
  double before[11];
  for (int i = 0; i < 11; ++i) before[i] = v.GetParam(i)->Value();
  ByteChunk shortChunk;
  double one = 1.0;
  for (int i = 0; i < 10; ++i) shortChunk.Put(&one);
  EXPECT_EQ(v.UnserializeNonAutomatedParams(&shortChunk, 0, 473), -1);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(v.GetParam(i)->Value(), before[i]) << i;
}
