// The installed bundle stands on its own: installed into a fresh prefix and moved elsewhere, it loads with the
// platform library that travels inside it, not the build tree's copy.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/vst2/vst2.h"

namespace fs = std::filesystem;

namespace {

fs::path makeTempDir() {
  std::string pattern = (fs::temp_directory_path() / "vexmir-install-XXXXXX").string();
  const char* made = mkdtemp(pattern.data());
  return made ? fs::path(made) : fs::path();
}

// Where the loader found the library whose file name is `name`.
std::string loadedPathOf(const std::string& name) {
  struct Search {
    std::string name, found;
  } search{name, ""};
  dl_iterate_phdr(
      +[](dl_phdr_info* info, size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        if (info->dlpi_name && fs::path(info->dlpi_name).filename() == s->name) s->found = info->dlpi_name;
        return 0;
      },
      &search);
  return search.found;
}

}  // namespace

TEST(InstalledBundle, LoadsFromAMovedPrefixWithItsOwnPlatformLibrary) {
  const char* build = std::getenv("VEXMIR_BUILD_DIR");
  ASSERT_TRUE(build);
  fs::path temp = makeTempDir();
  ASSERT_FALSE(temp.empty());
  fs::path prefix = temp / "prefix";
  std::string command = std::string("\"") + VEXMIR_CMAKE + "\" --install \"" + build +
                        "\" --component bundle --prefix \"" + prefix.string() + "\" >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  fs::path installed = prefix / "lib/lxvst/Vexmir Editor.vst";
  ASSERT_TRUE(fs::exists(installed / "Contents/Linux/Vexmir Editor.so"));
  ASSERT_TRUE(fs::exists(installed / "Contents/Linux/libvexmir-platform.so"));
  ASSERT_TRUE(fs::exists(installed / "Contents/Info.plist"));

  // Moved as a user moves a bundle between plug-in folders: nothing may point back to where it was made.
  fs::path moved = temp / "elsewhere/Vexmir Editor.vst";
  fs::create_directories(moved.parent_path());
  fs::rename(installed, moved);

  setenv("VEXMIR_ROOT", (temp / "data").c_str(), 1);
  fs::create_directories(temp / "data");
  void* library = dlopen((moved / "Contents/Linux/Vexmir Editor.so").c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  ASSERT_TRUE(library) << dlerror();
  EXPECT_EQ(fs::path(loadedPathOf("libvexmir-platform.so")).parent_path(), moved / "Contents/Linux");

  auto entry = reinterpret_cast<VstPluginMainProc>(dlsym(library, "VSTPluginMain"));
  ASSERT_TRUE(entry);
  AEffect* effect = entry(+[](AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) -> intptr_t {
    return opcode == audioMasterVersion ? 2400 : 0;
  });
  ASSERT_TRUE(effect);
  EXPECT_EQ(effect->magic, kEffectMagic);
  EXPECT_EQ(effect->uniqueID, 0x78786762);
  effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
  dlclose(library);
  fs::remove_all(temp);
}
