// What the tests in real hosts share: running programs, the plug-in's state chunk in a session file, and a fixture
// that installs the release bundle into a prefix of its own with the host's settings in a folder of the test's own
// (and, for Ardour, runs Ardour's tools).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Files.h"

namespace dawtest {

namespace fs = std::filesystem;

inline const char* const kLua = "/usr/bin/ardour7-lua";
const char* const kScanner = "/usr/lib/ardour7/ardour-vst-scanner";

using vexmir::testsupport::quoted;
using vexmir::testsupport::readText;

// What the command printed on its standard output and error.
inline std::string run(const std::string& command, int* status) {
  return vexmir::testsupport::commandOutput(command + " 2>&1", status);
}

const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

inline std::vector<uint8_t> fromBase64(const std::string& text) {
  std::vector<uint8_t> out;
  int bits = 0;
  unsigned value = 0;
  for (char c : text) {
    const size_t k = kAlphabet.find(c);
    if (k == std::string::npos) continue;  // line breaks, padding
    value = ((value << 6) | static_cast<unsigned>(k)) & 0xFFFFu;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>((value >> bits) & 0xFF));
    }
  }
  return out;
}

inline std::string toBase64(const std::vector<uint8_t>& bytes) {
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const int v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    for (int s = 18; s >= 0; s -= 6) out.push_back(kAlphabet[static_cast<size_t>((v >> s) & 63)]);
  }
  if (i + 1 == bytes.size()) {
    const int v = bytes[i] << 16;
    out += {kAlphabet[static_cast<size_t>((v >> 18) & 63)], kAlphabet[static_cast<size_t>((v >> 12) & 63)], '=', '='};
  } else if (i + 2 == bytes.size()) {
    const int v = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += {kAlphabet[static_cast<size_t>((v >> 18) & 63)], kAlphabet[static_cast<size_t>((v >> 12) & 63)],
            kAlphabet[static_cast<size_t>((v >> 6) & 63)], '='};
  }
  return out;
}

// The text between <chunk ...> and </chunk> of the plug-in's entry, and where it lies.
inline bool findChunk(const std::string& xml, size_t* begin, size_t* end) {
  const size_t tag = xml.find("<chunk");
  if (tag == std::string::npos) return false;
  *begin = xml.find('>', tag);
  *end = xml.find("</chunk>", tag);
  if (*begin == std::string::npos || *end == std::string::npos) return false;
  ++*begin;
  return true;
}

// The release bundle installed as a user installs it, into a prefix of the test's own, and the environment a host
// runs in: its settings, caches and the plug-in's data folder inside the test's folder, the build and source trees
// hidden where mount namespaces can be made.
class InstalledPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("VEXMIR_DAW_BUILD");
    if (!build || !fs::exists(fs::path(build) / "Vexmir Editor.vst/Contents/Linux/Vexmir Editor.so"))
      GTEST_SKIP() << "no release bundle to load (the daw_bundle_build fixture makes it)";
    dawBuild = build;
    char tmpl[] = "/tmp/vexmir-daw-XXXXXX";
    dir = mkdtemp(tmpl);
    for (const char* sub : {"home/.config", "home/.cache", "home/.local/share", "root"}) fs::create_directories(dir / sub);
    const fs::path prefix = dir / "prefix";
    int status = 0;
    const std::string installed = run(quoted(VEXMIR_CMAKE) + " --install " + quoted(build) +
                                          " --component bundle --prefix " + quoted(prefix.string()),
                                      &status);
    ASSERT_EQ(status, 0) << installed;
    bundlePath = prefix / "lib/lxvst/Vexmir Editor.vst";
    ASSERT_TRUE(fs::exists(bundlePath / "Contents/Linux/Vexmir Editor.so")) << installed;
    // Ardour stamps its cache entry with the scan's time in whole seconds and takes the entry as stale while the
    // plug-in's file is not older than that. The installation keeps the build's file times, so a bundle linked in
    // the same second as the scan (the fixture builds it just before this test) would not be offered: the
    // installed files are dated an hour back.
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& entry : fs::recursive_directory_iterator(bundlePath)) fs::last_write_time(entry.path(), past);
    // The host runs where the build and source trees are hidden, as on a machine that has only the installation;
    // where mount namespaces cannot be made, it runs beside the trees (the bundle still loads from the prefix).
    const char* tree = std::getenv("VEXMIR_BUILD_DIR");
    const char* source = std::getenv("VEXMIR_SOURCE_DIR");
    if (tree && source) {
      const std::string hide = "bash " + quoted(std::string(source) + "/tests/fixtures/hide-trees.sh") + " " +
                               quoted(tree) + " " + quoted(source) + " -- ";
      const std::string probe = run(hide + "true", &status);
      if (status == 0)
        hidden = hide;
      else
        std::cout << "[   NOTE   ] the build tree stays visible to the host: " << probe;
    }
    const fs::path home = dir / "home";
    env = "HOME=" + quoted(home.string()) + " XDG_CONFIG_HOME=" + quoted((home / ".config").string()) +
          " XDG_CACHE_HOME=" + quoted((home / ".cache").string()) +
          " XDG_DATA_HOME=" + quoted((home / ".local/share").string()) +
          " LXVST_PATH=" + quoted(bundlePath.parent_path().string()) +
          " VEXMIR_ROOT=" + quoted((dir / "root").string()) + " " + hidden;
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
  }

  fs::path dir, bundlePath, dawBuild;
  std::string env, hidden;
};

// Ardour 7's tools on the installed bundle.
class ArdourSession : public InstalledPlugin {
 protected:
  void SetUp() override {
    if (access(kLua, X_OK) != 0 || access(kScanner, X_OK) != 0)
      GTEST_SKIP() << "Ardour 7 is not installed (Debian's \"ardour\": scripts/setup.sh installs it where it can)";
    InstalledPlugin::SetUp();
  }

  std::string lua(const std::string& name, const std::string& body) {
    const fs::path script = dir / name;
    std::ofstream(script) << "ARDOUR.config():set_hide_dummy_backend(false)\n"
                          << "AudioEngine:set_backend(\"None (Dummy)\", \"\", \"\")\n"
                          << body << "close_session()\nprint(\"closed\")\nquit()\n";
    int status = 0;
    std::string out = run(env + "timeout 120 " + kLua + " '" + script.string() + "'", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
  }
};

}  // namespace dawtest
