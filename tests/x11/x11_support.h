// What the X11 tests share: an Xvfb of their own, the host run with its transcript in a file, and pictures compared
// pixel by pixel.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/host/run_host.h"
#include "tests/support/Pixels.h"
#include "tests/x11/xvfb.h"

namespace x11test {

#define NEED_X11_TOOLS()                                                                        \
  do {                                                                                          \
    if (!x11test::haveProgram("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (xvfb)";          \
    if (!x11test::haveProgram("xdotool")) GTEST_SKIP() << "xdotool is not installed (xdotool)"; \
  } while (0)

// A test with an Xvfb server of its own that has started; skipped when Xvfb or xdotool is not installed.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NEED_X11_TOOLS();
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  }
  Xvfb server;
};

inline std::vector<std::string> linesWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  std::string l;
  while (std::getline(ss, l))
    if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
  return out;
}

// Keeps a copy of a run's picture and transcript under <build>/out/x11/ for people to look at.
inline void keepForPeople(const ScratchDir& dir, const std::string& picture, const std::string& name) {
  const char* build = std::getenv("VEXMIR_BUILD_DIR");
  if (!build) return;
  const std::string out = std::string(build) + "/out/x11";
  std::system(("mkdir -p '" + out + "' && cp '" + dir.file(picture) + "' '" + out + "/" + name + ".png' && cp '" +
               dir.file("transcript.txt") + "' '" + out + "/" + name + ".txt'")
                  .c_str());
}

// A host script that opens the plug-in and its editor (`how`: the kind of window and options), runs the steps and
// closes both.
inline std::string editorScript(const std::string& steps, const std::string& how = "x11") {
  return "open\neditor open " + how + "\n" + steps + "editor close\nclose\n";
}

// Runs vexmir-host on the bundle with the script in dir, the plug-in's data folder and ${OUT} there; the transcript
// comes from its own file, away from what the plug-in prints.
inline HostRun run(const std::string& bundle, const std::string& script, const ScratchDir& dir,
                   std::vector<std::string> env) {
  env.push_back("VEXMIR_ROOT=" + dir.path());
  env.push_back("OUT=" + dir.path());
  HostRun r = runHost(bundle, script, dir, {"--transcript", dir.file("transcript.txt")}, env);
  r.out = dir.read("transcript.txt");
  return r;
}

}  // namespace x11test
