// Ardour 7 as the host: a session saved with the plug-in's state chunk (changed on disk, so that a restore that
// did nothing would show) is loaded by a new Ardour process, which saves the chunk back byte for byte.
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

#include "src/StateChunk.h"
#include "src/VexmirParams.h"

namespace fs = std::filesystem;

namespace {

const char* const kLua = "/usr/bin/ardour7-lua";
const char* const kScanner = "/usr/lib/ardour7/ardour-vst-scanner";

std::string run(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = pclose(p);
  return out;
}

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::vector<uint8_t> fromBase64(const std::string& text) {
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

std::string toBase64(const std::vector<uint8_t>& bytes) {
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
bool findChunk(const std::string& xml, size_t* begin, size_t* end) {
  const size_t tag = xml.find("<chunk");
  if (tag == std::string::npos) return false;
  *begin = xml.find('>', tag);
  *end = xml.find("</chunk>", tag);
  if (*begin == std::string::npos || *end == std::string::npos) return false;
  ++*begin;
  return true;
}

class ArdourSession : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kLua, X_OK) != 0 || access(kScanner, X_OK) != 0)
      GTEST_SKIP() << "Ardour 7 is not installed (Debian's \"ardour\": scripts/setup.sh installs it where it can)";
    const char* build = std::getenv("VEXMIR_DAW_BUILD");
    if (!build || !fs::exists(fs::path(build) / "Vexmir Editor.vst/Contents/Linux/Vexmir Editor.so"))
      GTEST_SKIP() << "no release bundle to load (the daw_bundle_build fixture makes it)";
    char tmpl[] = "/tmp/vexmir-daw-XXXXXX";
    dir = mkdtemp(tmpl);
    fs::create_directories(dir / "home/.config");
    fs::create_directories(dir / "home/.cache");
    fs::create_directories(dir / "root");
    // The bundle as a user installs it, into a prefix of the test's own.
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
    // Ardour and its scanner run where the build and source trees are hidden, as on a machine that has only the
    // installation; where mount namespaces cannot be made, they run beside the trees (the bundle still loads from
    // the prefix).
    const char* tree = std::getenv("VEXMIR_BUILD_DIR");
    const char* source = std::getenv("VEXMIR_SOURCE_DIR");
    if (tree && source) {
      const std::string hide = "bash " + quoted(std::string(source) + "/tests/fixtures/hide-trees.sh") + " " +
                               quoted(tree) + " " + quoted(source) + " -- ";
      const std::string probe = run(hide + "true", &status);
      if (status == 0)
        hidden = hide;
      else
        std::cout << "[   NOTE   ] the build tree stays visible to Ardour: " << probe;
    }
    // Ardour's settings and plug-in cache, and the plug-in's data folder, stay inside the test's folder.
    env = "HOME='" + (dir / "home").string() + "' XDG_CONFIG_HOME='" + (dir / "home/.config").string() +
          "' XDG_CACHE_HOME='" + (dir / "home/.cache").string() + "' LXVST_PATH='" + bundlePath.parent_path().string() +
          "' VEXMIR_ROOT='" + (dir / "root").string() + "' " + hidden;
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
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

  fs::path dir, bundlePath;
  std::string env, hidden;
};

}  // namespace

TEST_F(ArdourSession, ASavedSessionRestoresTheStateChunkByteForByteInANewProcess) {
  int status = 0;
  const std::string so = (bundlePath / "Contents/Linux/Vexmir Editor.so").string();
  const std::string scan =
      run(env + "env LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 120 " + kScanner + " -f '" + so + "'", &status);
  ASSERT_NE(scan.find("Found Plugin"), std::string::npos) << scan;

  const std::string sessionDir = (dir / "session").string();
  std::string out = lua("create.lua", "create_session(\"" + sessionDir +
                                          "\", \"vexmir\", 48000)\n"
                                          "local proc = ARDOUR.LuaAPI.new_plugin(Session, \"Vexmir Editor\", "
                                          "ARDOUR.PluginType.LXVST, \"\")\n"
                                          "assert(not proc:isnil(), \"plug-in not found\")\n"
                                          "local tracks = Session:new_audio_track(2, 2, nil, 1, \"Synth\", "
                                          "ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)\n"
                                          "for t in tracks:iter() do t:add_processor_by_index(proc, 0, nil, true) end\n"
                                          "Session:save_state(\"\", false, false, false, false, false)\n");
  ASSERT_NE(out.find("closed"), std::string::npos) << out;

  // The saved chunk is ours: the header and a state body behind it. Two values are changed on disk.
  const fs::path file = dir / "session/vexmir.ardour";
  std::string xml = readFile(file);
  size_t begin = 0, end = 0;
  ASSERT_TRUE(findChunk(xml, &begin, &end)) << xml.substr(0, 2000);
  std::vector<uint8_t> saved = fromBase64(xml.substr(begin, end - begin));
  ASSERT_GT(saved.size(), 8u);
  ASSERT_EQ(std::vector<uint8_t>(saved.begin(), saved.begin() + 8),
            (std::vector<uint8_t>{0x74, 0x66, 0x66, 0x70, 0x00, 0x00, 0x01, 0x00}));
  ByteChunk body;
  body.PutBytes(saved.data() + 8, static_cast<int>(saved.size() - 8));
  PluginState state;
  ASSERT_EQ(readStateBody(body, 0, true, &state), body.Size());
  state.quickTab = 1;
  state.values[kFilterCutoff] = 17;
  state.values[kFilterCutoff + 1] = 101;
  ByteChunk changedBody;
  writeStateBody(&changedBody, state, true);
  std::vector<uint8_t> changed(saved.begin(), saved.begin() + 8);
  changed.insert(changed.end(), changedBody.GetBytes(), changedBody.GetBytes() + changedBody.Size());
  ASSERT_NE(changed, saved);
  xml.replace(begin, end - begin, toBase64(changed));
  std::ofstream(file, std::ios::trunc) << xml;

  out = lua("reload.lua", "load_session(\"" + sessionDir +
                              "\", \"vexmir\")\n"
                              "Session:save_state(\"\", false, false, false, false, false)\n");
  ASSERT_NE(out.find("closed"), std::string::npos) << out;
  EXPECT_EQ(out.find("unknown plug-in"), std::string::npos) << out;
  const std::string reloaded = readFile(file);
  ASSERT_TRUE(findChunk(reloaded, &begin, &end));
  const std::vector<uint8_t> back = fromBase64(reloaded.substr(begin, end - begin));
  size_t first = 0;
  while (first < back.size() && first < changed.size() && back[first] == changed[first]) ++first;
  EXPECT_EQ(back.size(), changed.size());
  EXPECT_EQ(first, changed.size()) << "the chunk saved after the reload first differs at byte " << first;
}
