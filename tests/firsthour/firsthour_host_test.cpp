// The librarian's help commands through vexmir-host on the real bundle: each opens its folder or page with the
// desktop's opener, or, where the system has none, shows where it is (the debug log keeps what was shown).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/host/run_host.h"

TEST(FirstHourHost, HelpCommandsOpenTheirTargetWithTheDesktopOpenerOrSayWhere) {
  ScratchDir dir;
  const std::string data = dir.file("root") + "/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/";
  std::filesystem::create_directories(data + "Patches");
  std::filesystem::create_directories(dir.file("none"));
  std::ofstream(data + "Vexmir Editor LOG.txt").flush();
  std::filesystem::create_directories(dir.file("bin"));
  dir.write("bin/xdg-open", "#!/bin/sh\necho \"$1\" >>\"" + dir.file("opened.txt") + "\"\n");
  chmod(dir.file("bin/xdg-open").c_str(), 0755);
  // The librarian tab; MENU > Other Helpful things > each help command, then About this Plug-in.
  std::string script = "open\neditor open cocoa\npump 3\nclick 170 18\npump 2\n";
  for (const char* item : {"12/0", "12/2", "12/3", "12/4", "14"})
    script += std::string("menu choose ") + item + "\nclick 900 47\npump 2\n";
  const std::string targets[] = {data, "https://www.pellacor.com/my-tickets/", "https://www.pellacor.com/downloads/",
                                 "https://kb.pellacor.com/kb/articles/"};
  for (const char* path : {"bin", "none"}) {
    HostRun r =
        runHost(pluginBundlePath(), script, dir, {}, {"VEXMIR_ROOT=" + dir.file("root"), "PATH=" + dir.file(path)});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  }
  EXPECT_EQ(dir.read("opened.txt"), targets[0] + "\n" + targets[1] + "\n" + targets[2] + "\n" + targets[3] + "\n");
  const std::string log = dir.read("root/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Vexmir Editor LOG.txt");
  const char* what[] = {"Data folder: ", "Support tickets: ", "Updates: ", "DAW setup guides: "};
  for (int i = 0; i < 4; ++i)
    EXPECT_NE(log.find(std::string("PATCH LIBRARIAN: ") + what[i] + targets[i]), std::string::npos) << targets[i];
  EXPECT_NE(log.find("PATCH LIBRARIAN: Vexmir Editor v"), std::string::npos) << log;
}
