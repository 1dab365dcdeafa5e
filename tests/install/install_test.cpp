// The installed bundle stands on its own: installed into a fresh prefix and moved elsewhere, it loads with the
// platform library that travels inside it, not the build tree's copy; and vexmir-host, run where the build and
// source trees are hidden, opens its editor from the prefix alone and draws it as the build tree's bundle does.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "platform/vst2/vst2.h"
#include "tests/support/Files.h"

namespace fs = std::filesystem;

namespace {

using vexmir::testsupport::quoted;
using vexmir::testsupport::readText;

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

// The exit code of a shell command line, or -1 when it did not exit.
int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool isInside(const fs::path& path, const fs::path& folder) {
  const std::string p = fs::weakly_canonical(path).string(), f = fs::weakly_canonical(folder).string();
  return p == f || p.rfind(f + "/", 0) == 0;
}

// `cmake --install` of this build's bundle component into prefix; the installed bundle's folder.
fs::path installBundle(const fs::path& prefix) {
  const char* build = std::getenv("VEXMIR_BUILD_DIR");
  if (!build) return {};
  const std::string command = quoted(VEXMIR_CMAKE) + " --install " + quoted(build) + " --component bundle --prefix " +
                              quoted(prefix.string()) + " >/dev/null";
  if (shell(command) != 0) return {};
  return prefix / "lib/lxvst/Vexmir Editor.vst";
}

}  // namespace

TEST(InstalledBundle, LoadsFromAMovedPrefixWithItsOwnPlatformLibrary) {
  fs::path temp = makeTempDir();
  ASSERT_FALSE(temp.empty());
  fs::path prefix = temp / "prefix";
  fs::path installed = installBundle(prefix);
  ASSERT_FALSE(installed.empty()) << "cmake --install failed";
  ASSERT_TRUE(fs::exists(installed / "Contents/Linux/Vexmir Editor.so"));
  ASSERT_TRUE(fs::exists(installed / "Contents/Linux/libvexmir-platform"));
  ASSERT_TRUE(fs::exists(installed / "Contents/Info.plist"));
  // Hosts search plug-in folders recursively and try every file named like a shared library: Ardour each "*.so",
  // Qtractor also each "*.so.N" (but nothing in a hidden folder). The plug-in must be the only one in the bundle.
  const std::regex libraryName(R"(.*\.so(\.[0-9]+)*)");
  for (const auto& entry : fs::recursive_directory_iterator(installed)) {
    if (std::regex_match(entry.path().filename().string(), libraryName)) {
      EXPECT_EQ(entry.path(), installed / "Contents/Linux/Vexmir Editor.so") << "a host would try it as a plug-in";
    }
  }

  // Moved as a user moves a bundle between plug-in folders: nothing may point back to where it was made.
  fs::path moved = temp / "elsewhere/Vexmir Editor.vst";
  fs::create_directories(moved.parent_path());
  fs::rename(installed, moved);

  setenv("VEXMIR_ROOT", (temp / "data").c_str(), 1);
  fs::create_directories(temp / "data");
  void* library = dlopen((moved / "Contents/Linux/Vexmir Editor.so").c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  ASSERT_TRUE(library) << dlerror();
  EXPECT_EQ(fs::path(loadedPathOf("libvexmir-platform")).parent_path(), moved / "Contents/Linux");

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

// The editor as a user meets it after installing: the host's program and the bundle outside the build tree, the build
// and source trees covered by empty folders. A few steps (open, a knob dragged, two tabs) draw pictures that must
// equal, pixel for pixel, those of the build tree's bundle, so every image and configuration resource came from the
// installed bundle; the loader's record shows each library it loaded, none from the hidden trees.
TEST(InstalledBundle, OpensItsEditorInVexmirHostWithTheBuildAndSourceTreesHidden) {
  const char* build = std::getenv("VEXMIR_BUILD_DIR");
  const char* source = std::getenv("VEXMIR_SOURCE_DIR");
  ASSERT_TRUE(build && source);
  const fs::path temp = makeTempDir();
  ASSERT_FALSE(temp.empty());
  ASSERT_FALSE(isInside(temp, build) || isInside(temp, source)) << temp << " lies inside a tree that is hidden";
  const fs::path installed = installBundle(temp / "prefix");
  ASSERT_FALSE(installed.empty()) << "cmake --install failed";
  const fs::path linux = installed / "Contents/Linux";
  fs::create_directories(temp / "bin");
  const fs::path host = temp / "bin/vexmir-host";
  fs::copy_file(VEXMIR_HOST_EXE, host);

  std::ofstream(temp / "steps.txt") << "open\nsetup rate=48000 block=512\nresume\neditor open cocoa\npump 5\n"
                                       "window save 1-opened.png\nchunk save before.bin\n"
                                       "drag 44 380 44 440 steps=8\npump 3\nchunk save after.bin\n"
                                       "compare before.bin after.bin\nwindow save 2-cutoff-dragged.png\n"
                                       "click 293 18\npump 3\nwindow save 3-mod-sequence.png\n"
                                       "click 179 18\npump 3\nwindow save 4-librarian.png\n"
                                       "editor close\nclose\n";
  const fs::path data = temp / "data";
  const fs::path log = data / "Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Vexmir Editor LOG.txt";
  // One run in folder `name`, with a fresh data folder (holding the log file, so the editor keeps its log).
  auto run = [&](const std::string& name, const std::string& prefixCommand, const std::string& program,
                 const fs::path& bundle) {
    fs::remove_all(data);
    fs::create_directories(log.parent_path());
    std::ofstream{log};
    fs::create_directories(temp / name);
    return shell("cd " + quoted((temp / name).string()) + " && VEXMIR_ROOT=" + quoted(data.string()) + " " +
                 prefixCommand + " " + quoted(program) + " --transcript transcript.txt " + quoted(bundle.string()) +
                 " " + quoted((temp / "steps.txt").string()) + " >/dev/null 2>stderr.txt");
  };

  ASSERT_EQ(run("reference", "", VEXMIR_HOST_EXE, fs::path(build) / "Vexmir Editor.vst"), 0)
      << readText(temp / "reference/transcript.txt");
  // The copied host finds the platform library in the installed bundle; the loader records what it loads.
  const std::string hidden = "bash " + quoted(std::string(source) + "/tests/fixtures/hide-trees.sh") + " " +
                             quoted(build) + " " + quoted(source) +
                             " -- env LD_LIBRARY_PATH=" + quoted(linux.string()) +
                             " LD_DEBUG=libs LD_DEBUG_OUTPUT=" + quoted((temp / "ld").string());
  const int status = run("installed", hidden, host.string(), installed);
  const std::string transcript = readText(temp / "installed/transcript.txt");
  if (status == 77) GTEST_SKIP() << readText(temp / "installed/stderr.txt");
  ASSERT_EQ(status, 0) << transcript << readText(temp / "installed/stderr.txt");

  EXPECT_NE(transcript.find("compare \"before.bin\" \"after.bin\" -> differ"), std::string::npos) << transcript;
  // Loaded from the installed bundle, the build tree's from its own (when the host is told of a change may differ).
  const std::string reference = readText(temp / "reference/transcript.txt");
  EXPECT_EQ(transcript.rfind("load \"" + installed.string(), 0), 0u) << transcript;
  EXPECT_EQ(reference.rfind("load \"" + (fs::path(build) / "Vexmir Editor.vst").string(), 0), 0u) << reference;
  for (const char* picture : {"1-opened.png", "2-cutoff-dragged.png", "3-mod-sequence.png", "4-librarian.png"}) {
    const std::string drawn = readText(temp / "installed" / picture);
    EXPECT_FALSE(drawn.empty()) << picture;
    EXPECT_TRUE(drawn == readText(temp / "reference" / picture)) << picture << " differs from the build tree's";
  }
  const std::string logText = readText(log);
  EXPECT_NE(logText.find("USER INTERFACE CONFIGURATION COMPLETED"), std::string::npos) << logText;
  EXPECT_EQ(logText.find("MISSING"), std::string::npos) << logText;

  std::set<std::string> loaded;
  for (const auto& entry : fs::directory_iterator(temp)) {
    if (entry.path().filename().string().rfind("ld.", 0) != 0) continue;
    std::istringstream lines(readText(entry.path()));
    for (std::string line; std::getline(lines, line);) {
      const size_t at = line.find("calling init: ");
      if (at != std::string::npos) loaded.insert(line.substr(at + 14));
    }
  }
  EXPECT_TRUE(loaded.count((linux / "libvexmir-platform").string())) << "the installed platform library";
  EXPECT_TRUE(loaded.count((linux / "Vexmir Editor.so").string())) << "the installed plug-in";
  for (const std::string& library : loaded)
    EXPECT_FALSE(isInside(library, build) || isInside(library, source)) << library;
  fs::remove_all(temp);
}

// A build folder that was configured but never built (its bundle folder exists from the configuring) installs
// nothing: the installation fails saying what to run first, rather than leave a bundle without its plug-in.
TEST(InstalledBundle, AFolderNeverBuiltInstallsNothingAndSaysWhatToRun) {
  const char* source = std::getenv("VEXMIR_SOURCE_DIR");
  ASSERT_TRUE(source);
  const fs::path temp = makeTempDir();
  ASSERT_FALSE(temp.empty());
  const fs::path build = temp / "build";
  ASSERT_EQ(shell(quoted(VEXMIR_CMAKE) + " -S " + quoted(source) + " -B " + quoted(build.string()) +
                  " -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXMIR_TESTS=OFF >" + quoted((temp / "configure.txt").string()) +
                  " 2>&1"),
            0)
      << readText(temp / "configure.txt");
  const std::string command = quoted(VEXMIR_CMAKE) + " --install " + quoted(build.string()) +
                              " --component bundle --prefix " + quoted((temp / "prefix").string()) + " >" +
                              quoted((temp / "install.txt").string()) + " 2>&1";
  EXPECT_NE(shell(command), 0);
  // CMake breaks the message into lines.
  std::istringstream words(readText(temp / "install.txt"));
  std::string said;
  for (std::string w; words >> w;) said += w + " ";
  EXPECT_NE(said.find("The plug-in has not been built in " + build.string() + ": run `cmake --build " +
                      build.string() + "` first"),
            std::string::npos)
      << said;
  EXPECT_FALSE(fs::exists(temp / "prefix/lib/lxvst")) << said;
  fs::remove_all(temp);
}
