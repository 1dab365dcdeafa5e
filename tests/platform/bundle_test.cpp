#include "platform/bundle/bundle.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old, had_ = true;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(DataFolder, AbsolutePathsAreResolvedUnderTheRootVariable) {
  ScopedEnv root("VEXMIR_ROOT", "/tmp/vexmir-root/");
  EXPECT_EQ(platform::dataRoot(), "/tmp/vexmir-root");
  EXPECT_EQ(platform::resolveDataPath("/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/"),
            "/tmp/vexmir-root/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/");
  EXPECT_EQ(platform::resolveDataPath("relative/file"), "relative/file");
}

TEST(DataFolder, WithoutTheRootVariableXdgAndThenHomeAreUsed) {
  ScopedEnv root("VEXMIR_ROOT", nullptr);
  {
    ScopedEnv xdg("XDG_DATA_HOME", "/tmp/xdg");
    EXPECT_EQ(platform::dataRoot(), "/tmp/xdg/vexmir");
  }
  ScopedEnv xdg("XDG_DATA_HOME", nullptr);
  ScopedEnv home("HOME", "/tmp/home");
  EXPECT_EQ(platform::dataRoot(), "/tmp/home/.local/share/vexmir");
}

TEST(DataFolder, MakeFoldersCreatesEveryMissingLevel) {
  char tmpl[] = "/tmp/vexmir-folders-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string deep = std::string(tmpl) + "/a/b c/d";
  EXPECT_TRUE(platform::makeFolders(deep));
  struct stat st {};
  EXPECT_EQ(stat(deep.c_str(), &st), 0);
  EXPECT_TRUE(platform::makeFolders(deep));  // already there
  std::string cmd = std::string("rm -rf '") + tmpl + "'";
  EXPECT_EQ(system(cmd.c_str()), 0);
}

// The platform library itself travels inside the plug-in bundle; this test program does not.
void codeOutsideABundle() {}

TEST(Bundle, ALibraryOutsideABundleHasNoBundlePath) {
  EXPECT_EQ(platform::bundlePathFor(reinterpret_cast<const void*>(&codeOutsideABundle)), "");
  EXPECT_EQ(platform::resourcesPathFor(nullptr), "");
}

}  // namespace
