// The emulator's command interface without JACK: what each command reads, changes and transmits (transmitted
// messages show in the log), and the error line every bad command gets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/synth-emulator/Emulator.h"

using namespace synthemu;

namespace {

class EmulatorCommands : public ::testing::Test {
 protected:
  std::string run(const std::string& line) { return emulator.execute(line); }
  // The value after "ok " of a successful command.
  std::string value(const std::string& line) {
    std::string r = run(line);
    EXPECT_EQ(r.rfind("ok", 0), 0u) << line << " -> " << r;
    std::string last = r.substr(r.rfind('\n', r.size() - 2) == std::string::npos ? 0 : r.rfind('\n', r.size() - 2) + 1);
    return last.size() > 4 ? last.substr(3, last.size() - 4) : "";
  }
  std::vector<std::string> sent(size_t from) {
    std::vector<std::string> out;
    for (const std::string& l : log.linesFrom(from))
      if (l.find(" out ") != std::string::npos) out.push_back(l.substr(l.find(" out ") + 5));
    return out;
  }

  MessageLog log;
  Emulator emulator{log};
};

TEST_F(EmulatorCommands, ReadAndChangeState) {
  EXPECT_EQ(value("get name 41"), "Init 042    ");
  EXPECT_EQ(value("set name 41 Pad"), "");
  EXPECT_EQ(value("get name 41"), "Pad         ");
  EXPECT_EQ(value("set edit 58 99"), "");
  EXPECT_EQ(value("get edit 58"), "99");
  EXPECT_EQ(value("write 7"), "");
  EXPECT_EQ(value("get program 7 58"), "99");
  EXPECT_EQ(value("program 41"), "");
  EXPECT_EQ(value("state program"), "41");
  EXPECT_EQ(value("get name"), "Pad         ");
  EXPECT_EQ(value("channel 12"), "");
  EXPECT_EQ(value("get channel"), "12");
  EXPECT_EQ(value("get global 9"), "12");
  std::string hex = value("get edit");
  EXPECT_EQ(hex.size(), 254u * 3 - 1);
  EXPECT_EQ(value("load program 3 " + hex), "");
  EXPECT_EQ(value("get name 3"), "Pad         ");
  EXPECT_EQ(value("get global").size(), 200u * 3 - 1);
  std::string state = run("state");
  EXPECT_NE(state.find("channel 12\nprogram 41\nname Pad         \neditmode 0\ntimbre 1\nwriteprotect 0\nok\n"),
            std::string::npos)
      << state;
  EXPECT_EQ(value("reset"), "");
  EXPECT_EQ(value("get name 41"), "Init 042    ");
  EXPECT_EQ(value("get channel"), "0");
}

TEST_F(EmulatorCommands, PanelActionsAndSendsTransmit) {
  struct Case {
    const char* command;
    std::vector<std::string> out;
  } cases[] = {
      {"turn cc 74 100", {"B0 4A 64"}},
      {"turn cc 74 100 2", {"B0 4A 64"}},
      {"turn nrpn 4 8 36 2", {"B0 63 04", "B0 62 08", "B0 06 24"}},
      {"turn param 90 -10", {"F0 42 30 58 41 5A 00 76 7F F7"}},
      {"send progchange 9", {"C0 09"}},  // program 9 replaces the edits above in the edit buffer
      {"send cc 5 7 1", {"B5 07 01"}},
      {"send nrpn 1 0 2 127", {"B1 63 00", "B1 62 02", "B1 06 7F"}},
      {"send param 300 2", {"F0 42 30 58 41 2C 02 02 00 F7"}},
      {"send mode 1", {"F0 42 30 58 4E 01 00 F7"}},
      {"send raw F8", {"F8"}},
  };
  for (const Case& c : cases) {
    size_t mark = log.end();
    EXPECT_EQ(run(c.command).rfind("ok", 0), 0u) << c.command;
    EXPECT_EQ(sent(mark), c.out) << c.command;
    if (std::string(c.command) == "turn param 90 -10") {
      EXPECT_EQ(value("get edit 58"), "100");
      EXPECT_EQ(value("get edit 166"), "100");
      EXPECT_EQ(value("get edit 190"), "34") << "timbre 2 patch 1 destination 2 in the high nibble";
      EXPECT_EQ(value("get edit 64"), "54") << "pan -10 stored with +64";
    }
  }
  EXPECT_EQ(value("get name"), "Init 010    ");
  size_t mark = log.end();
  run("send dump bulk");
  ASSERT_EQ(sent(mark).size(), 1u);
  EXPECT_EQ(sent(mark)[0].size(), 37163u * 3 - 1);
}

TEST_F(EmulatorCommands, LogCommandsCountAndWait) {
  size_t start = std::stoul(value("logsize"));
  run("send raw F0 42 30 58 10 F7");
  EXPECT_EQ(std::stoul(value("logsize")), start + 1);
  EXPECT_NE(value("wait 0 " + std::to_string(start) + " out F0 42 30 58 10").find("out F0 42 30 58 10 F7"),
            std::string::npos);
  EXPECT_EQ(run("wait 0 " + std::to_string(start + 1) + " out F0").rfind("error timeout", 0), 0u);
  std::string all = run("log " + std::to_string(start));
  EXPECT_NE(all.find(" out F0 42 30 58 10 F7\nok " + std::to_string(start + 1) + "\n"), std::string::npos) << all;
  EXPECT_EQ(value("clearlog"), std::to_string(start + 1));
  EXPECT_EQ(run("log"), "ok " + std::to_string(start + 1) + "\n");
}

TEST_F(EmulatorCommands, BankSaveAndLoad) {
  std::string path = ::testing::TempDir() + "/emulator-commands-bank.syx";
  run("set name 100 Saved");
  EXPECT_EQ(value("bank save " + path), "");
  run("reset");
  EXPECT_EQ(value("bank load " + path), "");
  EXPECT_EQ(value("get name 100"), "Saved       ");
}

TEST_F(EmulatorCommands, BadCommandsGetAnErrorLineAndChangeNothing) {
  std::string before = value("get edit");
  for (const char* bad : {"",
                          "   ",
                          "nonsense",
                          "get",
                          "get edit 254",
                          "get edit -1",
                          "get program 128",
                          "get name 128",
                          "get thing",
                          "set edit 1",
                          "set edit 1 256",
                          "set edit x 1",
                          "set edit 1 2 3",
                          "set global 200 1",
                          "set name",
                          "load edit",
                          "load edit 00",
                          "load edit XYZ",
                          "load thing 00",
                          "program 128",
                          "write",
                          "channel 16",
                          "channel -1",
                          "turn cc 1 1",
                          "turn cc 74 128",
                          "turn cc 74 1 3",
                          "turn nrpn 9 9 1",
                          "turn param 5 1",
                          "turn param 85 99999",
                          "turn knob 1",
                          "send",
                          "send dump nothing",
                          "send cc 16 1 1",
                          "send raw",
                          "send raw F",
                          "send mode 2",
                          "send progchange 200",
                          "log x",
                          "wait 10",
                          "wait 10 0",
                          "wait -1 0 x",
                          "bank",
                          "bank load",
                          "bank load /nonexistent/file",
                          "bank save /nonexistent/dir/file",
                          "bank open x",
                          "state nothing"}) {
    std::string r = run(bad);
    EXPECT_EQ(r.rfind("error ", 0), 0u) << "\"" << bad << "\" -> " << r;
    EXPECT_GT(r.size(), 8u) << bad;
    EXPECT_EQ(r.back(), '\n');
  }
  EXPECT_EQ(value("get edit"), before);
  EXPECT_EQ(value("ping"), "pong");
}

}  // namespace
