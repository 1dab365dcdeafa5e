// A librarian session of a user, scripted in vexmir-host on the real plug-in bundle and its editor, on a
// generated "Patches" tree of 1,000 banks in nested folders, two sub-folders holding same-named folders
// and banks, and a sub-folder named "Patches": the librarian tab, banks chosen from the nested menus,
// slots selected by mouse and arrow key, copy and paste across banks, rename, save, save as raw and
// Standard MIDI, import, search, rescan. The bank files are checked byte for byte; the tab after the
// edits is compared pixel by pixel with tests/golden/libui/host-librarian-tab.png (VEXMIR_UPDATE_GOLDEN=1
// writes it anew, a differing picture is kept as host-librarian-tab.actual.png).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "KIT/pix/pix.h"
#include "tests/host/run_host.h"
#include "tests/libui/libui_support.h"
#include "tests/support/Files.h"
#include "tests/support/Pixels.h"

using namespace libui;

namespace {

// The slot view lies at (84, 58) of the editor: slot i's middle, upper bank (side 0) or lower.
std::string slot(int side, int i) {
  const int x = 84 + 30 + (i / 16) * 127 + 48;
  const int y = 58 + (side == 0 ? 1 : 303) + (i % 16) * 16 + 8;
  return std::to_string(x) + " " + std::to_string(y);
}

const std::string kLibrarianTab = "click 170 18\npump 2\n";

size_t timesIn(const std::string& text, const std::string& part) {
  size_t times = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++times;
  return times;
}

// The real bundle over the data folder (its root named `root`, when given, as another spelling of it): its editor
// opened, then the steps.
HostRun editorSession(const DataFolder& data, const ScratchDir& dir, const std::string& steps,
                      const std::string& root = "") {
  return runHost(pluginBundlePath(), "open\neditor open cocoa\npump 3\n" + steps, dir, {},
                 {"VEXMIR_ROOT=" + (root.empty() ? data.root : root), "VEXMIR_MIDI_API=alsa"});
}

}  // namespace

TEST(HostSession, ALibrarianSessionOnTheRealEditor) {
  DataFolder data;
  // Top menu: Bulk, Mine, Patches, Theirs, then the root's bank.
  for (int n = 0; n < 1000; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "Bulk/Sub %d/Bank %04d.syx", n / 100, n);
    data.write(name, bankBytes(10 + n % 40));
  }
  data.write("Mine/X/Pads.syx", bankBytes(3));
  data.write("Theirs/X/Pads.syx", bankBytes(4));
  data.write("Patches/Inner.syx", bankBytes(5));
  data.write("Root Bank.syx", bankBytes(6));
  const std::string outside = data.root + "/from a friend";
  std::filesystem::create_directories(outside);
  vectors::writeFile(outside + "/Gift.syx", bankBytes(9));

  ScratchDir dir;
  const std::string script =
      "menu choose 1/0/0\n"  // upper: Mine / X / Pads.syx
      "click 500 47\n"
      "menu choose 0/7/3\n"  // lower: Bulk / Sub 7 / Bank 0703.syx
      "click 500 351\n"
      "pump 2\ndispatch effEditIdle\necho told 1 opened\n"
      "window save bulk.png\n"
      "menu choose 3/0/0\n"  // lower: Theirs / X / Pads.syx
      "click 500 351\n"
      "click " +
      slot(0, 10) +
      "\n"
      "key down\n"
      "menu choose 0\n"  // Copy lower slot 5
      "click " +
      slot(1, 5) +
      " button=right\n"
      "pump 2\ndispatch effEditIdle\necho told 0 browsed\n"
      "menu choose 0\n"  // Paste into upper slot 10
      "click " +
      slot(0, 10) +
      " button=right\n"
      "pump 1\ndispatch effEditIdle\necho told 1 pasted\n"
      "window save changed.png\n"
      "menu choose 2\n"  // Rename upper slot 11
      "click " +
      slot(0, 11) +
      " button=right\n"
      "pump 2\n"
      "type \"Warm Pad\"\n"
      "key return\n"
      "pump 2\n"
      "menu choose 7\n"  // Save (Overwrite current bank)
      "click 900 47\n"
      "pump 2\ndispatch effEditIdle\necho told 1 saved\n"
      "window save edited.png\n"
      "click 1200 380\n"  // STORE TO SLOT: pressed, then stored once the bank shows as changed
      "pump 1\ndispatch effEditIdle\necho told 0 pressed\n"
      "pump until 1180 404 60 30 like changed.png within=60000\n"
      "dispatch effEditIdle\necho told 1 stored\n"
      "click 1200 415\n"  // Discard Changes
      "pump 2\ndispatch effEditIdle\necho told 1 discarded\n"
      "menu choose 4\n"  // Initialize upper slot 13, then Discard Changes
      "click " +
      slot(0, 12) +
      " button=right\n"
      "pump until 1180 404 60 30 like changed.png within=60000\n"
      "dispatch effEditIdle\necho told 1 initialized\n"
      "click 1200 415\n"
      "pump 2\ndispatch effEditIdle\necho told 1 discarded again\n"
      "panel choose \"" +
      data.patches +
      "/Mine/Saved.vmr\"\n"
      "menu choose 8/1\n"
      "click 900 47\n"
      "panel choose \"" +
      data.patches +
      "/Saved.mid\"\n"
      "menu choose 8/0\n"
      "click 900 47\n"
      "panel choose \"" +
      outside +
      "/Gift.syx\"\n"
      "menu choose 10/1\n"
      "click 900 47\n"
      "pump 2\n"
      "click 1200 240\n"  // search on
      "click 1300 270\n"
      "type \"b4s12\"\n"
      "key return\n"
      "pump 2\n"
      "window save search.png\n"
      "click 1200 240\n"  // search off
      "menu choose 11\n"  // Refresh Folders
      "click 900 47\n"
      "pump 2\n"
      "window save final.png\n"
      "dispatch effEditIdle\necho told 1 saved as\n"
      "chunk save " + dir.file("project.bin") + "\nchunk load " + dir.file("project.bin") + "\n"
      // Program Up and Down without a port, SEND, the sequence's and the global settings' tabs
      "click 856 18\nclick 722 18\nclick 1378 17\nclick 250 18\nclick 364 18\n"
      "pump 2\ndispatch effEditIdle\necho told 0 recalled\n"
      "click 364 18\nclick 1460 17\npump 2\ndispatch effEditIdle\necho told 1 randomized\n"
      "chunk save " + dir.file("random.bin") + "\nchunk load " + dir.file("random.bin") + "\n"
      "pump 2\ndispatch effEditIdle\necho told 0 reopened\n";
  const HostRun r = editorSession(data, dir, kLibrarianTab + "dispatch effEditIdle\necho told 0 tab\n" + script);
  ASSERT_TRUE(r.exited && r.exitCode == 0) << r.out << r.err;

  // The bulk bank was shown below: its menu was nested three deep.
  EXPECT_TRUE(r.has("\"Bank 0703.syx\"")) << r.out;
  // Each change of the open bank or its unsaved edits tells the host once, on the next idle, as a knob does; a tab,
  // browsing the other list, STORE TO SLOT's press, a project that opens as it says and a button that only acts do
  // not: each "told N" says how often since the one before (idles this far apart, the plug-in's thread tells too).
  size_t from = 0, marks = 0;
  for (size_t to; (to = r.out.find("echo told ", from)) != std::string::npos; from = to + 1, ++marks) {
    const std::string told = r.out.substr(from, to - from);
    const size_t all = timesIn(told, "UpdateDisplay"), onIdle = all - timesIn(told, "UpdateDisplay(42) -> 1 [thread]");
    EXPECT_TRUE(r.out[to + 10] == '0' ? all == 0 : all >= 1 && onIdle <= 1) << told;
  }
  EXPECT_EQ(marks, 14u);
  std::vector<Bytes> edited = expectedBank(3);
  edited[10] = programDumpOf(4, 5);
  edited[11] = vectors::programDump(vectors::programDataNamed(11, "Warm Pad"));
  EXPECT_EQ(vectors::readFile(data.patches + "/Mine/X/Pads.syx"), raw(edited));
  EXPECT_EQ(vectors::readFile(data.patches + "/Theirs/X/Pads.syx"), bankBytes(4));
  EXPECT_EQ(vectors::readFile(data.patches + "/Mine/Saved.vmr"), raw(edited));
  EXPECT_EQ(vectors::readFile(data.patches + "/Saved.mid"), vectors::midiBank(edited));
  EXPECT_EQ(vectors::readFile(data.patches + "/Gift.syx"), bankBytes(9));
  EXPECT_EQ(vectors::readFile(outside + "/Gift.syx"), bankBytes(9));

  // The pictures of the session stay in the working folder to be looked at.
  for (const char* name : {"bulk", "edited", "search", "final"})
    rastertest::writeFile(std::string("host-session-") + name + ".png",
                          vectors::readFile(dir.file(std::string(name) + ".png")));
  std::unique_ptr<PIX_IBitmap> picture(PIX_LoadPNG(dir.file("edited.png").c_str()));
  ASSERT_NE(picture, nullptr);
  pixels::expectColoursMatchGolden(picture.get(), "libui", "host-librarian-tab");
}

// Renames typed into the librarian's rename field keep what the synthesizer shows, as the top bar's name field does,
// and say what they kept; Control-A and Command-A select the typed text instead of typing an "a", and another
// Control key goes to the host. The saved bank holds the names. A bank saved as a file of Patches through another
// spelling of its path (through "..", through a link, with the data folder named with "//") is that file's one bank:
// renamed and saved, then chosen in the bank menu, renamed and saved again, the file holds both names. A host that
// closes the plug-in while a name is typed, its editor still open, ends normally. A second host on the same data
// folder, and a link in Patches to the bank, write the file between this one's saves: a bank without unsaved edits
// reads the file again before it is edited, so each save keeps the other's names (a Paste or an Initialize chosen in a
// menu held open across the other's save is not made); its save over a file written since its rename asks first, and
// Cancel writes nothing, Replace its bank.
TEST(HostSession, ARenameKeepsWhatTheSynthesizerShowsAndSaysSo) {
  DataFolder data;
  data.write("Bank.syx", bankBytes(3));
  std::filesystem::create_symlink("Bank.syx", data.patches + "/Ln.syx");
  std::filesystem::create_symlink(data.patches, data.root + "/In");
  const std::string root = data.root.substr(0, data.root.rfind('/')) + "/" + data.root.substr(data.root.rfind('/'));
  const std::string log = data.patches + "/../Vexmir Editor LOG.txt";
  vectors::writeFile(log, {});
  auto rename = [](int slotIndex, const std::string& keys) {
    return "menu choose 2\nclick " + slot(0, slotIndex) + " button=right\npump 1\n" + keys +
           "key return\npump 1\n";
  };
  const std::string save = "menu choose 7\nclick 900 47\npump 2\n";
  // Saved as `path`, renamed and saved, chosen in the bank menu, renamed and saved.
  auto savedAs = [&](const std::string& path, int menuItem, int slotIndex, const char* first, const char* second) {
    return "panel choose \"" + path + "\"\nmenu choose 8/1\nclick 900 47\npump 2\n" +
           rename(slotIndex, std::string("type ") + first + "\n") + save + "menu choose " + std::to_string(menuItem) +
           "\nclick 500 47\npump 2\n" + rename(slotIndex + 1, std::string("type ") + second + "\n") + save;
  };
  // The two hosts take turns through pipes: a `chunk save` into one waits for the other's `compare` to read it; a
  // menu held `until` one stands until the other host has written it, and its `signal` says it is shown.
  ScratchDir dir, other;
  const char* pipes[] = {"ready", "a1", "a2", "b2", "a3"};
  for (const char* pipe : pipes) ASSERT_EQ(::mkfifo(other.file(pipe).c_str(), 0600), 0);
  auto signal = [&](const char* pipe) { return "chunk save \"" + other.file(pipe) + "\"\n"; };
  auto waitFor = [&](const char* pipe) { return "compare \"" + other.file(pipe) + "\" script.txt\n"; };
  auto heldMenu = [&](int item, const char* shown, const char* until) {
    return "menu choose " + std::to_string(item) + " signal=\"" + other.file(shown) + "\" until=\"" +
           other.file(until) + "\" held=25\n";
  };
  auto release = [&] {  // a host that ended early leaves none waiting, now or at a later step: each pipe becomes a file
    for (const std::string pipe : pipes) {
      const int fd = ::open(other.file(pipe).c_str(), O_RDWR | O_NONBLOCK);
      other.write(pipe + ".end", "");
      std::rename(other.file(pipe + ".end").c_str(), other.file(pipe).c_str());
      if (fd >= 0) ::close(fd);
    }
  };
  std::vector<Bytes> afterA = expectedBank(3);
  const char* namesA[] = {"Creme Brulee", "Renamed Five", "Warm Analog ", "Linked", "Direct", "EDITB"};
  for (int i = 0; i < 6; ++i) afterA[i] = vectors::programDump(vectors::programDataNamed(i, namesA[i]));
  vectors::writeFile(other.file("after-a.syx"), raw(afterA));
  auto copyPaste = [](int from, int to) {
    return "menu choose 0\nclick " + slot(1, from) + " button=right\nmenu choose 0\nclick " + slot(0, to) +
           " button=right\npump 1\n";
  };
  const std::string unchanged = "compare \"" + data.patches + "/Bank.syx\" after-a.syx\n";
  // Until the list below shows its file as last saved: the row of its slot 4 changes.
  const std::string lowerCaughtUp =
      "window save before.png\npump until 114 409 120 16 unlike before.png within=60000\n";
  HostRun b;
  std::thread second([&] {
    // Below, Ln.syx. The paste chosen in a menu that stood while the first host saved is not made; once the list
    // below shows the first host's later saves (its slot 4 changed), that slot 4 goes into slot 8 above.
    b = editorSession(data, other,
                      kLibrarianTab + "menu choose 1\nclick 500 351\npump 2\nmenu choose 0\nclick " + slot(1, 10) +
                          " button=right\n" + heldMenu(0, "ready", "a1") + "click " + slot(0, 0) + " button=right\n" +
                          rename(5, "type EDITB\n") + waitFor("a2") + save + rename(6, "type Typed\n") + signal("b2") +
                          waitFor("a3") + lowerCaughtUp + copyPaste(3, 7) +
                          "menu choose 11\nclick 900 47\npump 2\nalert answer default\n" + save + unchanged +
                          "alert answer cancel\n" + save + unchanged + "alert answer alternate\n" + save +
                          "alert shown\n");
    release();
  });
  if (const int fd = ::open(other.file("ready").c_str(), O_RDONLY); fd >= 0) {
    for (char buffer[4096]; ::read(fd, buffer, sizeof buffer) > 0;) {
    }
    ::close(fd);
  }
  const HostRun r = editorSession(data, dir,
                                  kLibrarianTab + rename(0, "type \"Cr\u00e8me Br\u00fbl\u00e9e\"\n") +
                                      rename(1, "type ab\nkey a mods=ctrl\ntype \"Renamed Five\"\nkey s mods=ctrl\n") +
                                      rename(2, "key a mods=cmd\ntype \"Warm Analog Pad Strings\"\n") +
                                      "chunk save project.bin\n" + save +
                                      signal("a1") + rename(2, "type \"Warm Analog Pad\"\n") + heldMenu(4, "a2", "b2") +
                                      "click " + slot(0, 5) + " button=right\npump 1\n" +
                                      "menu choose 1\nclick 500 47\npump 2\n" + rename(3, "type Linked\n") + save +
                                      "menu choose 0\nclick 500 47\npump 2\n" + rename(4, "type Direct\n") + save +
                                      signal("a3") +
                                      savedAs(data.patches + "/../Patches/Dd.vmr", 1, 3, "EDITA", "EDITB") +
                                      savedAs(data.root + "/In/Ee.vmr", 2, 5, "EDITC", "EDITD") +
                                      "menu choose 2\nclick " + slot(0, 7) + " button=right\npump 1\ntype Unsaved\n",
                                  root);
  release();
  second.join();
  ASSERT_TRUE(r.exited && r.exitCode == 0) << r.out << r.err;
  ASSERT_TRUE(b.exited && b.exitCode == 0) << b.out << b.err;
  EXPECT_EQ(b.out.find("after-a.syx\" -> differ"), std::string::npos) << "Cancel wrote over the file\n" << b.out;
  EXPECT_TRUE(b.has("after-a.syx\" -> equal")) << "a save lost a name\n" << b.out;
  // The question's default button keeps the file, its alternate one replaces it.
  EXPECT_TRUE(b.has("alert shown: \"Save\" default \"Cancel\" alternate \"Replace\" other \"\"")) << b.out;
  const std::vector<Bytes> dd = readBank(data.patches + "/Dd.vmr"), ee = readBank(data.patches + "/Ee.vmr");
  ASSERT_TRUE(dd.size() == 128u && ee.size() == 128u);
  EXPECT_EQ(vectors::dumpName(dd[3]) + vectors::dumpName(dd[4]), "EDITA       EDITB       ");
  for (int i = 3; i < 7; ++i) EXPECT_EQ(vectors::dumpName(ee[i]).substr(0, 5), "EDIT" + std::string(1, 'A' + i - 3));
  // The second host's Replace: its bank, with the first one's names that it read before its first rename.
  std::vector<Bytes> renamed = expectedBank(3);
  const char* names[] = {"Creme Brulee", "Renamed Five", "Warm Analog ", "", "", "EDITB", "Typed"};
  for (int i = 0; i < 7; ++i)
    if (*names[i]) renamed[i] = vectors::programDump(vectors::programDataNamed(i, names[i]));
  renamed[7] = vectors::programDump(vectors::programDataNamed(3, "Linked"));
  const std::vector<Bytes> saved = readBank(data.patches + "/Bank.syx");
  ASSERT_EQ(saved.size(), 128u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(vectors::dumpName(saved[i]), names[i]) << "slot " << i + 1;
  EXPECT_TRUE(vectors::readFile(data.patches + "/Bank.syx") == raw(renamed)) << "the bank saved is not the one renamed";
  // The message of the top bar's field, for the names that changed.
  const std::string said = vexmir::testsupport::readText(log);
  EXPECT_NE(said.find("Name kept as \"Creme Brulee\" (plain, 12 max)"), std::string::npos) << said;
  // Typed again, the name cut to what it is already: the bank stays saved, and the note says what was kept.
  const std::string notSaved = "Not saved: Patches/Bank.syx changed on disk since it was opened here. The changes "
                               "stay open here; Save As keeps both.";
  for (const std::string& text : {std::string("Name kept as \"Warm Analog \" (plain, 12 max)"),
                                  std::string("Saved Patches/Dd.vmr\n"), std::string("Saved Patches/Ee.vmr\n"), notSaved}) {
    EXPECT_EQ(timesIn(said, text), text[0] == 'N' ? 2u : 3u) << text << said;
  }
  for (const char* text :
       {"Not pasted: slot 1 of Patches/Bank.syx changed on disk, and the list now shows it as it is. Paste again to "
        "replace it.",
        "Not initialized: slot 6 of Patches/Bank.syx changed on disk, and the list now shows it as it is. Initialize it "
        "again to replace it.",
        "Patches/Bank.syx changed on disk while it held unsaved edits: they stay open here, and Save asks before it "
        "writes over the file."})
    EXPECT_NE(said.find(text), std::string::npos) << text << said;
  EXPECT_EQ(said.find("Renamed Five\" (plain"), std::string::npos) << said;
  EXPECT_TRUE(r.has("key 1 passed to the host")) << "Control-S stayed in the field\n" << r.out;
  // The first host's project kept its unsaved renames with the file they were made on: recalled in a third host after
  // the second one's saves, its Save asks, and Cancel keeps the file.
  ScratchDir third;
  vectors::writeFile(third.file("kept.syx"), vectors::readFile(data.patches + "/Bank.syx"));
  const HostRun c = editorSession(data, third,
                                  "chunk load \"" + dir.file("project.bin") + "\"\npump 2\n" + kLibrarianTab +
                                      "alert answer default\n" + save + "compare \"" + data.patches +
                                      "/Bank.syx\" kept.syx\n");
  EXPECT_TRUE(c.has("kept.syx\" -> equal")) << c.out << c.err;
  const std::string recalled = vexmir::testsupport::readText(log);
  for (const std::string& text : {notSaved, std::string("Patches/Bank.syx is not as it was when the project's unsaved "
                                                        "edits were made on it: they are open here, and Save asks "
                                                        "before it writes over the file.")})
    EXPECT_NE(recalled.find(text), std::string::npos) << text << recalled;
}

// A project recalled while the librarian is shown opens the timbre page, and the tab buttons show that page: the
// LIBRARIAN button is not lit, and one click on it shows the librarian again. So too for a project saved on the
// timbre page.
TEST(HostSession, ARecallOnTheLibrarianLightsTheButtonOfThePageShown) {
  DataFolder data;
  data.write("Bank.syx", bankBytes(3));
  ScratchDir dir;
  const HostRun r = editorSession(data, dir,
                                  "window save fresh.png\nchunk save timbre.bin\n"
                                  "click 170 18\npump 2\nwindow save librarian.png\nchunk save librarian.bin\n"
                                  "chunk load librarian.bin\npump 2\nwindow save recalled1.png\n"
                                  "click 170 18\npump 2\nwindow save clicked1.png\n"
                                  "chunk load timbre.bin\npump 2\nwindow save recalled2.png\n"
                                  "click 170 18\npump 2\nwindow save clicked2.png\n");
  ASSERT_TRUE(r.exited && r.exitCode == 0) << r.out << r.err;
  pixels::Shots shots(dir.path());
  for (const char* name : {"fresh", "librarian", "recalled1", "clicked1", "recalled2", "clicked2"})
    ASSERT_TRUE(shots.load(name)) << name;
  // Pixels differing between two pictures in an area: the LIBRARIAN button, and the librarian's TRANSFER panel.
  ASSERT_GT(shots.differing("fresh", "librarian", 124, 6, 234, 30), 0) << "the button looks the same lit and unlit";
  for (const char* recalled : {"recalled1", "recalled2"}) {
    EXPECT_EQ(shots.differing(recalled, "fresh", 124, 6, 234, 30), 0)
        << recalled << ": LIBRARIAN lit on the timbre page";
    EXPECT_GT(shots.differing(recalled, "librarian", 1172, 76, 1494, 190), 0) << recalled << ": not the timbre page";
  }
  for (const char* clicked : {"clicked1", "clicked2"}) {
    EXPECT_EQ(shots.differing(clicked, "librarian", 124, 6, 234, 30), 0) << clicked << ": LIBRARIAN not lit";
    EXPECT_EQ(shots.differing(clicked, "librarian", 1172, 76, 1494, 190), 0)
        << clicked << ": one click did not show it";
  }
}

TEST(HostSession, TheLibrarianTabAtTheSmallAndLargeSizes) {
  DataFolder data;
  data.write("Mine/X/Pads.syx", bankBytes(3));
  data.write("Theirs/X/Pads.syx", bankBytes(4));
  data.write("Root Bank.syx", bankBytes(6, 90));
  struct Case {
    const char* size;
    double scale;
  };
  for (const Case& c : {Case{"small", 0.75}, Case{"large", 1.25}}) {
    SCOPED_TRACE(c.size);
    // The editor's size comes from the UI settings file beside the "Patches" folder.
    vectors::Bytes settings;
    const std::string text = std::string("normal\n") + c.size + "\nyes\n";
    settings.assign(text.begin(), text.end());
    vectors::writeFile(data.patches + "/../Vexmir Editor UI.txt", settings);
    auto click = [&](int x, int y) {
      return "click " + std::to_string(static_cast<int>(x * c.scale)) + " " +
             std::to_string(static_cast<int>(y * c.scale)) + "\n";
    };
    ScratchDir dir;
    const std::string steps = click(170, 18) + "pump 2\nmenu choose 2\n" + click(500, 47) + "menu choose 1/0/0\n" +
                              click(500, 351) + click(162, 449) + "pump 2\nwindow save tab.png\n";
    const HostRun r = editorSession(data, dir, steps);
    ASSERT_TRUE(r.exited && r.exitCode == 0) << r.out << r.err;
    rastertest::writeFile(std::string("host-session-") + c.size + ".png", vectors::readFile(dir.file("tab.png")));
    std::unique_ptr<PIX_IBitmap> picture(PIX_LoadPNG(dir.file("tab.png").c_str()));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->getWidth(), static_cast<int>(1500 * c.scale));
    pixels::expectColoursMatchGolden(picture.get(), "libui", std::string("host-librarian-tab-") + c.size);
  }
}

// MENU > Import... > SysEx on a folder of bank files of every kind: the open panel lists every type the item names,
// in upper case too, in the order people sort names, and none other; a .vmr the editor saved and an upper-case .VLT
// are imported from it.
TEST(HostSession, TheImportPanelListsEveryTypeItsItemNames) {
  DataFolder data;
  data.write("Root Bank.syx", bankBytes(6));
  const std::string banks = data.root + "/Banks";
  std::filesystem::create_directories(banks + "/Old");
  const std::pair<const char*, int> files[] = {{"Bank 10.syx", 10}, {"Bank 2.syx", 2}, {"Cello.vmr", 5},
                                               {"Drums.VLT", 7},    {"EXTRA.SYX", 8},  {"Notes.txt", 1},
                                               {"Song.mid", 3},     {".hidden.syx", 4}};
  for (const auto& [name, seed] : files) vectors::writeFile(banks + "/" + name, bankBytes(seed));
  ScratchDir dir;
  std::string script = kLibrarianTab;
  for (const char* chosen : {"Cello.vmr", "Drums.VLT"})
    script += "panel choose \"" + banks + "/" + chosen + "\"\nmenu choose 10/1\nclick 900 47\npump 2\npanel shown\n";
  const HostRun r = editorSession(data, dir, script);
  ASSERT_TRUE(r.exited && r.exitCode == 0) << r.out << r.err;
  const std::string rows = "panel shown: open \"" + banks + "\", 7 rows: \"..\" \"Old\" \"Bank 2.syx\" \"Bank 10.syx\" " +
                           "\"Cello.vmr\" \"Drums.VLT\" \"EXTRA.SYX\"";
  EXPECT_TRUE(r.has(rows)) << r.out;
  EXPECT_FALSE(r.has("panel refused")) << r.out;
  EXPECT_EQ(vectors::readFile(data.patches + "/Cello.vmr"), bankBytes(5));
  EXPECT_EQ(vectors::readFile(data.patches + "/Drums.VLT"), bankBytes(7));
}

// With no Patches folder, MENU > Save and MENU > Save As... on the real editor: each says why nothing was saved, and
// the librarian's line between the banks keeps saying what to do (its text, in the notice's colour, stays there).
TEST(HostSession, SavingWithNoBankKeepsTheLibrariansLine) {
  DataFolder data;
  std::filesystem::remove_all(data.patches);
  ScratchDir dir;
  const std::string saves =
      "menu choose 7\nclick 900 47\npump 2\nwindow save save.png\n"
      "menu choose 8/1\nclick 900 47\npump 2\nwindow save saveas.png\n";
  const HostRun r = editorSession(data, dir, kLibrarianTab + saves);
  ASSERT_TRUE(r.exited && r.exitCode == 0) << r.out << r.err;
  pixels::Shots shots(dir.path());
  for (const char* name : {"save", "saveas"}) {
    rastertest::writeFile(std::string("host-session-nobank-") + name + ".png",
                          vectors::readFile(dir.file(std::string(name) + ".png")));
    ASSERT_TRUE(shots.load(name)) << name;
    // The line between the banks, in the notice's colour: below the upper bank's last row (315) and above the lower
    // bank's list (341), over the slot columns (114 to 1100).
    const int ink = shots.count(name, 110, 315, 1105, 341, [](const pixels::Colour& c) {
      return c[0] > 180 && c[1] > 120 && c[1] < 220 && c[2] < 130;
    });
    EXPECT_GT(ink, 300) << name << ": the librarian's line is empty";
  }
}
