// The editor as a musician sees it: the real plug-in bundle is loaded by vexmir-host, its editor opened in a
// window of the platform model at each of the three sizes of the UI settings file, and the main tabs and the
// timbre tabs are clicked through like a user would. Each picture is compared pixel by pixel with its golden
// copy under tests/golden/uiconfig/pictures/; VEXMIR_UPDATE_GOLDEN=1 writes the golden copies instead (look at
// every one before committing it, and rebuild docs/editor-pictures.png: see tools/vexmir-images/README.md).
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "tests/host/run_host.h"
#include "tests/librarian/bank_vectors.h"
#include "tests/support/Pixels.h"

namespace {

struct Size {
  const char* word;  // the size line of the UI settings file
  double scale;
};

void PrintTo(const Size& size, std::ostream* os) {
  *os << size.word;
}

// Where to click, in unscaled editor pixels (the tab buttons and the timbre cells of the top bar).
struct Point {
  int x, y;
};
constexpr Point kLibrarianTab{179, 18}, kModSeqTab{293, 18}, kGlobalTab{407, 18}, kTimbre1{517, 18}, kTimbre2{607, 18};

// The script: each step names the picture it saves after it, or nothing.
std::string script(const Size& size, const std::string& out) {
  std::string s = "open\neditor open cocoa\npump 3\n";
  auto click = [&](Point p) {
    s += "click " + std::to_string(static_cast<int>(p.x * size.scale)) + " " +
         std::to_string(static_cast<int>(p.y * size.scale)) + "\npump 2\n";
  };
  auto save = [&](const std::string& name) { s += "window save \"" + out + "/" + name + "-" + size.word + ".png\"\n"; };
  // Into the modulation-sequence tab and out again: the sound editor tab is then shown whatever tab the editor
  // opened on.
  click(kModSeqTab);
  click(kModSeqTab);
  save("edit-timbre1");
  click(kTimbre2);
  save("edit-timbre2");
  click(kModSeqTab);
  save("modseq-timbre2");
  click(kTimbre1);
  save("modseq-timbre1");
  click(kModSeqTab);  // off again: back to the sound editor
  click(kLibrarianTab);
  // Closed and opened again, the editor shows the tab it was left on, and that tab's button turns it off.
  s += "editor close\neditor open cocoa\npump 3\n";
  save("librarian");
  click(kLibrarianTab);
  click(kGlobalTab);
  save("global");
  s += "editor close\nclose\n";
  return s;
}

const char* const kPictures[] = {"edit-timbre1",   "edit-timbre2", "modseq-timbre2",
                                 "modseq-timbre1", "librarian",    "global"};

class EditorPictures : public ::testing::TestWithParam<Size> {};

TEST_P(EditorPictures, EveryTabAndTimbreLooksAsItsGoldenCopy) {
  const Size size = GetParam();
  // The pictures stay where a failing run can be looked at.
  const char* build = std::getenv("VEXMIR_BUILD_DIR");
  const std::string out = std::string(build ? build : ".") + "/tests/pictures/out";
  ASSERT_EQ(std::system(("mkdir -p '" + out + "'").c_str()), 0);
  ScratchDir dir;
  const std::string folder = "Library/Audio/Presets/Pellacor/Korg Vexmir Editor";
  ASSERT_EQ(std::system(("mkdir -p '" + dir.file(folder) + "'").c_str()), 0);
  dir.write(folder + "/Vexmir Editor UI.txt", std::string("normal\n") + size.word + "\nyes\n");
  // Two banks in the librarian, so that its slots show names as they do in use.
  ASSERT_EQ(std::system(("mkdir -p '" + dir.file(folder + "/Patches") + "'").c_str()), 0);
  std::vector<vectors::Bytes> user;
  const char* const kinds[] = {"Pad", "Lead", "Bass", "Keys", "Brass", "Seq", "Drone", "Vox"};
  for (int k = 0; k < 128; ++k) {
    std::string name = std::string(kinds[k % 8]) + " " + std::to_string(k / 8 + 1);
    name.resize(12, ' ');
    user.push_back(vectors::programDataNamed(k, name));
  }
  vectors::writeFile(dir.file(folder + "/Patches/Factory.syx"), vectors::singles(vectors::testPrograms()));
  vectors::writeFile(dir.file(folder + "/Patches/User Sounds.syx"), vectors::singles(user));
  const HostRun r = runHost(pluginBundlePath(), script(size, out), dir, {"--transcript", dir.file("t.txt")},
                            // No MIDI system, whatever the machine runs: the status display says so, as it would.
                            {"VEXMIR_ROOT=" + dir.path(), "VEXMIR_MIDI_API=alsa"});
  ASSERT_TRUE(r.exited) << r.err;
  ASSERT_EQ(r.exitCode, 0) << r.err << dir.read("t.txt");
  const std::string transcript = dir.read("t.txt");
  const int w = static_cast<int>(1500 * size.scale), h = static_cast<int>(667 * size.scale);
  EXPECT_NE(transcript.find(std::to_string(w) + "x" + std::to_string(h)), std::string::npos) << transcript;
  for (const char* picture : kPictures) {
    const std::string name = std::string(picture) + "-" + size.word + ".png";
    pixels::expectFileMatchesGolden(out + "/" + name, "uiconfig/pictures", name);
  }
  // The reopened editor showed the librarian (its golden picture), and its button's next click turned it off.
  EXPECT_NE(transcript.find("index=521 -> 0", transcript.rfind("editor open")), std::string::npos) << transcript;
}

INSTANTIATE_TEST_SUITE_P(Sizes, EditorPictures,
                         ::testing::Values(Size{"small", 0.75}, Size{"normal", 1.0}, Size{"large", 1.25}),
                         [](const ::testing::TestParamInfo<Size>& info) { return std::string(info.param.word); });

}  // namespace
