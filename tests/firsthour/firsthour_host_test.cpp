// A newcomer's first hour through vexmir-host on the real bundle: the librarian's help commands open their folder
// or page with the desktop's opener, or say where it is when the system has none; and with the synthesizer
// emulator over JACK, MIDI OUT chosen before MIDI IN starts no wait that cannot end, and the editor connects once
// MIDI IN is chosen too.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "tests/host/run_host.h"

namespace {

const char* const kDataFolder = "/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/";

// The librarian tab, then MENU: each help command of "Other Helpful things...", then "About this Plug-in...".
const char* const kHelpCommands =
    "open\n"
    "editor open cocoa\n"
    "pump 3\n"
    "click 170 18\n"
    "pump 2\n"
    "menu choose 12/0\nclick 900 47\npump 2\n"
    "menu choose 12/2\nclick 900 47\npump 2\n"
    "menu choose 12/3\nclick 900 47\npump 2\n"
    "menu choose 12/4\nclick 900 47\npump 2\n"
    "menu choose 14\nclick 900 47\npump 2\n"
    "window save about.png\n";

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace

TEST(FirstHourHost, HelpCommandsOpenTheirTargetWithTheDesktopOpenerOrSayWhere) {
  ScratchDir dir;
  const std::string root = dir.file("root");
  const std::string data = root + kDataFolder;
  std::filesystem::create_directories(data + "Patches");
  dir.write("root" + std::string(kDataFolder) + "Vexmir Editor LOG.txt", "");
  std::filesystem::create_directories(dir.file("bin"));
  std::filesystem::create_directories(dir.file("none"));
  dir.write("bin/xdg-open", "#!/bin/sh\necho \"$1\" >>\"" + dir.file("opened.txt") + "\"\n");
  chmod(dir.file("bin/xdg-open").c_str(), 0755);

  const std::vector<std::string> targets = {data, "https://www.pellacor.com/my-tickets/",
                                            "https://www.pellacor.com/downloads/",
                                            "https://kb.pellacor.com/kb/articles/"};
  HostRun opened = runHost(pluginBundlePath(), kHelpCommands, dir, {},
                           {"VEXMIR_ROOT=" + root, "PATH=" + dir.file("bin")});
  ASSERT_EQ(opened.exitCode, 0) << opened.out << opened.err;
  EXPECT_EQ(lines(dir.read("opened.txt")), targets);

  // No opener: the musician reads each address in the librarian (and the debug log keeps what was shown).
  HostRun shown = runHost(pluginBundlePath(), kHelpCommands, dir, {},
                          {"VEXMIR_ROOT=" + root, "PATH=" + dir.file("none")});
  ASSERT_EQ(shown.exitCode, 0) << shown.out << shown.err;
  const std::string log = dir.read("root" + std::string(kDataFolder) + "Vexmir Editor LOG.txt");
  const char* what[] = {"Data folder: ", "Support tickets: ", "Updates: ", "DAW setup guides: "};
  for (size_t i = 0; i < targets.size(); ++i)
    EXPECT_NE(log.find(std::string("PATCH LIBRARIAN: ") + what[i] + targets[i]), std::string::npos) << targets[i];
  EXPECT_NE(log.find("PATCH LIBRARIAN: Vexmir Editor v"), std::string::npos) << log;
  EXPECT_EQ(lines(dir.read("opened.txt")).size(), targets.size());
}
