// The emulator program's command line: bad options end with a message and exit code 2, never a crash; the
// standard-input command interface answers without a socket.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/Files.h"

namespace {

std::string source(const char* path) {
  return std::string(std::getenv("VEXMIR_SOURCE_DIR")) + "/" + path;
}

std::string emulator() {
  return std::string(std::getenv("VEXMIR_BUILD_DIR")) + "/tools/synth-emulator/synth-emulator";
}

// Runs the emulator with `args`, standard input from `input`; gives its exit code and combined output.
int run(const std::string& args, const std::string& input, std::string* output) {
  int status = -1;
  *output += vexmir::testsupport::commandOutput("printf '" + input + "' | '" + emulator() + "' " + args + " 2>&1", &status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(EmulatorCli, BadOptionsGiveAMessageAndExitCode2) {
  struct Case {
    std::string args;
    const char* message;
  } cases[] = {
      {"--bogus", "unknown option \"--bogus\""},
      {"--name", "option --name needs a value"},
      {"--channel 16", "--channel needs a number from 0 to 15"},
      {"--channel x", "--channel needs a number from 0 to 15"},
      {"--background", "--background needs --socket"},
      {"--bank /nonexistent/bank.syx", "cannot open bank file"},
      {"--bank '" + source("tests/emulator/CMakeLists.txt") + "'", "is neither a 128-program dump"},
      {"--log-file /nonexistent/dir/log", "cannot open log file"},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(run(c.args, "", &out), 2) << c.args << ": " << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.args << ": " << out;
  }
  std::string help;
  EXPECT_EQ(run("--help", "", &help), 0);
  EXPECT_NE(help.find("--socket PATH"), std::string::npos);
}

}  // namespace
