// TEA, the resource decryption, the SysEx value tables, the routing tables and the attribute helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "FileEncrypt/ResourceKey.h"
#include "FileEncrypt/Tea.h"
#include "KIT/IEffect/IParam.h"
#include "src/ControlAction.h"
#include "src/ControlContainers.h"
#include "src/UIConfigManager.h"
#include "src/VexmirParams.h"

namespace {

std::vector<unsigned char> encryptText(const std::string& text) {
  std::vector<unsigned char> data(text.begin(), text.end());
  data.resize((data.size() + 7) / 8 * 8, 0);
  unsigned int key[4];
  teaResourceKey(key);
  Tea tea;
  for (size_t off = 0; off < data.size(); off += 8) tea.simpleencrypt(&data[off], key);
  return data;
}

// A fake control pointer: the tables only store and return pointers.
IControl* fake(uintptr_t n) {
  return reinterpret_cast<IControl*>(n * 16);
}

}  // namespace

TEST(Tea, PublishedVectorHoldsForWordsAndBigEndianBlocks) {
  // The all-zero key and block of the algorithm's published test vectors.
  unsigned int key[4] = {0, 0, 0, 0};
  unsigned int words[2] = {0, 0};
  Tea tea;
  tea.encryptTea(words, key);
  EXPECT_EQ(words[0], 0x41EA3A0Au);
  EXPECT_EQ(words[1], 0x94BAA940u);
  tea.decryptTea(words, key);
  EXPECT_EQ(words[0], 0u);
  EXPECT_EQ(words[1], 0u);

  unsigned char block[8] = {0};
  tea.simpleencrypt(block, key);
  const unsigned char expected[8] = {0x41, 0xEA, 0x3A, 0x0A, 0x94, 0xBA, 0xA9, 0x40};
  EXPECT_EQ(std::memcmp(block, expected, 8), 0);
}

TEST(Tea, RoundTripsAndLengthTrailer) {
  std::mt19937 rng(7);
  Tea tea;
  for (int i = 0; i < 200; ++i) {
    unsigned int key[4];
    for (unsigned int& k : key) k = static_cast<unsigned int>(rng());
    unsigned char block[8], copy[8];
    for (unsigned char& b : block) b = static_cast<unsigned char>(rng());
    std::memcpy(copy, block, 8);
    tea.simpleencrypt(block, key);
    EXPECT_NE(std::memcmp(block, copy, 8), 0);
    tea.simpledecrypt(block, key);
    ASSERT_EQ(std::memcmp(block, copy, 8), 0);
  }
  unsigned int key[4] = {1, 2, 3, 4};
  unsigned char buffer[24] = "0123456789";
  unsigned int length = 10;
  tea.encryptBlock(buffer, &length, key);
  EXPECT_EQ(length, 24u);
  tea.decryptBlock(buffer, &length, key);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(std::memcmp(buffer, "0123456789", 10), 0);
  // No trailer to read, or a stored length beyond the data: nothing is taken as data.
  unsigned int shortLength = 7;
  tea.decryptBlock(buffer, &shortLength, key);
  EXPECT_EQ(shortLength, 0u);
  // A trailer that claims one byte more than the data blocks hold, or the trailer itself, is damage; the whole
  // data blocks are the most a trailer may claim.
  auto storedLengthGives = [&](uint32_t stored) {
    unsigned char sealed[24] = "ABCDEFGHIJKLMNOP";
    std::memcpy(sealed + 20, &stored, 4);
    for (int i = 0; i < 3; ++i) {
      unsigned int words[2];
      std::memcpy(words, sealed + 8 * i, 8);
      tea.encryptTea(words, key);
      std::memcpy(sealed + 8 * i, words, 8);
    }
    unsigned int sealedLength = 24;
    tea.decryptBlock(sealed, &sealedLength, key);
    return sealedLength;
  };
  EXPECT_EQ(storedLengthGives(16), 16u);
  EXPECT_EQ(storedLengthGives(17), 0u);
  EXPECT_EQ(storedLengthGives(24), 0u);
}

TEST(Tea, ResourceDecryptsWholeBlocksAndReportsACutTail) {
  const std::string text = "<uiconfig><layer name=\"root\"/></uiconfig>";
  std::vector<unsigned char> data = encryptText(text);
  std::string tail;
  EXPECT_EQ(UIConfigManager::decryptResource(data.data(), data.size(), &tail), text);
  EXPECT_TRUE(tail.empty());
  // Cut inside the last block: the whole blocks come back, the tail is reported.
  const size_t cut = data.size() - 3;
  const std::string partial = UIConfigManager::decryptResource(data.data(), cut, &tail);
  EXPECT_EQ(partial, text.substr(0, cut / 8 * 8));
  EXPECT_NE(tail.find("CONFIG READER"), std::string::npos);
  // A damaged byte changes one block only, and nothing crashes on garbage or nothing.
  data[9] ^= 0x40;
  const std::string damaged = UIConfigManager::decryptResource(data.data(), data.size(), nullptr);
  EXPECT_EQ(damaged.substr(0, 8), text.substr(0, 8));
  EXPECT_EQ(UIConfigManager::decryptResource(nullptr, 100, nullptr), "");
  EXPECT_EQ(UIConfigManager::decryptResource(data.data(), 5, &tail), "");
}

TEST(SysExTables, TokenizeSkipsEveryRunOfDelimiters) {
  std::vector<std::string> tokens;
  UIConfigManager::Tokenize("  a b  c ", tokens, " ");
  EXPECT_EQ(tokens, (std::vector<std::string>{"a", "b", "c"}));
  tokens.clear();
  UIConfigManager::Tokenize("   ", tokens, " ");
  EXPECT_TRUE(tokens.empty());
  EXPECT_EQ(UIConfigManager::convertStringSysextoVector("F0 42 zz 7f"), (std::vector<int>{240, 0x42, 0, 0x7F}));
}

TEST(SysExTables, PlainAndSpecialBuilders) {
  const std::string tmpl = "42 30 58 41 10 00 00 05 00 00";  // ten bytes, element 4 = 0x10, element 5 = 0
  using B = UIConfigManager;
  struct Case {
    const char* what;
    B::SysExBuilder builder;
    int changingByte, count, firstValue, timbre;
    int message;                // which message to look at
    std::vector<int> expected;  // the whole message
    // clang-format off
  } cases[] = {
      {"plain value 0..2", &B::calculateSysexWithChangingByte, 8, 3, 0, 0, 2,
       {0x42, 0x30, 0x58, 0x41, 0x10, 0, 0, 2, 0, 0}},
      {"timbre 2 shifts 4 and 5", &B::calculateSysexWithChangingByte, 8, 3, 0, 1, 1,
       {0x42, 0x30, 0x58, 0x41, 0x20, 1, 0, 1, 0, 0}},
      {"two bytes shift", &B::calculateSysexWithTwoChangingBytes, 8, 3, 0, 1, 0,
       {0x42, 0x30, 0x58, 0x41, 0x20, 2, 0, 0, 0, 0}},
      {"wrap at 128", &B::calculateSysexWithChangingByte, 7, 4, 126, 0, 2,
       {0x42, 0x30, 0x58, 0x41, 0x10, 0, 0, 5, 0, 0}},
      {"first -1 repeats the template", &B::calculateSysexWithChangingByte, 8, 3, -1, 0, 1,
       {0x42, 0x30, 0x58, 0x41, 0x10, 0, 0, 5, 0, 0}},
      {"first -1 keeps timbre 2 on timbre 2", &B::calculateSysexWithChangingByte, 8, 3, -1, 1, 0,
       {0x42, 0x30, 0x58, 0x41, 0x20, 1, 0, 5, 0, 0}},
      {"tempo 300", &B::calculateSysexWithChangingByteTempo, 7, 281, 0, 0, 280,
       {0x42, 0x30, 0x58, 0x41, 0x10, 0, 44, 2, 0, 0}},
      {"tempo 128", &B::calculateSysexWithChangingByteTempo, 7, 281, 0, 0, 108,
       {0x42, 0x30, 0x58, 0x41, 0x10, 0, 0, 1, 0, 0}},
      {"swing past 200 is the template", &B::calculateSysexWithChangingByteSwing, 7, 205, 0, 0, 203,
       {0x42, 0x30, 0x58, 0x41, 0x10, 0, 0, 5, 0, 0}},
      {"EQ -12", &B::calculateSysexWithChangingByteEQ, 7, 25, 0, 0, 0, {0x42, 0x30, 0x58, 0x41, 0x10, 0, 116, 5, 0, 0}},
      {"EQ +12", &B::calculateSysexWithChangingByteEQ, 7, 25, 0, 0, 24, {0x42, 0x30, 0x58, 0x41, 0x10, 0, 12, 0, 0, 0}},
      {"velo shifts only 5", &B::calculateSysexWithChangingByteVelo, 7, 128, 0, 1, 64,
       {0x42, 0x30, 0x58, 0x41, 0x10, 1, 0, 0, 0, 0}},
      {"transpose +24", &B::calculateSysexWithChangingByteTranspose, 7, 49, 0, 0, 48,
       {0x42, 0x30, 0x58, 0x41, 0x10, 0, 24, 0, 0, 0}},
      {"tune -50", &B::calculateSysexWithChangingByteTuning, 7, 101, 0, 0, 0,
       {0x42, 0x30, 0x58, 0x41, 0x10, 0, 78, 5, 0, 0}},
      {"mod seq +63", &B::calculateSysexWithChangingByteModSeq, 7, 128, 0, 0, 127,
       {0x42, 0x30, 0x58, 0x41, 0x10, 0, 63, 0, 0, 0}},
  };
  // clang-format on
  for (const Case& c : cases) {
    ControlActionSysExMessage out;
    c.builder(tmpl, c.changingByte, c.count, &out, c.firstValue, c.timbre);
    ASSERT_EQ(static_cast<int>(out.messages.size()), c.count) << c.what;
    EXPECT_EQ(out.messages[c.message], c.expected) << c.what;
  }
}

TEST(SysExTables, Timbre2AddressIsTimbre1Plus144) {
  // Element 4 of 0x75 passes 127: the carry moves into element 5 (0x75 + 144 = 0x105 -> 05, 02).
  ControlActionSysExMessage out;
  UIConfigManager::calculateSysexWithChangingByte("42 30 58 41 75 00 00 00", 7, 1, &out, 0, 1);
  ASSERT_EQ(out.messages.size(), 1u);
  EXPECT_EQ(out.messages[0][4], 0x05);
  EXPECT_EQ(out.messages[0][5], 2);
  for (int n = 0; n < 128; ++n) {
    char t[64];
    std::snprintf(t, sizeof t, "42 30 58 41 %02X 00 00 00", n);
    UIConfigManager::calculateSysexWithChangingByte(t, 7, 1, &out, 0, 1);
    EXPECT_EQ(out.messages[0][4] + 128 * out.messages[0][5], n + 144) << n;
  }
  // Short templates and empty counts never write outside a message.
  UIConfigManager::calculateSysexWithChangingByteTempo("42 30", 7, 3, &out, 0, 1);
  EXPECT_EQ(out.messages.size(), 3u);
  UIConfigManager::calculateSysexWithChangingByte("42 30 58", 8, 0, &out, 0, 0);
  EXPECT_TRUE(out.messages.empty());
}

TEST(RoutingTables, KeysOrderReplacementAndMisses) {
  CCControlMap cc;
  addCCControl(cc, 1, 74, 0, fake(1));
  addCCControl(cc, 1, 74, 0, fake(2));
  EXPECT_EQ(findCCControl(cc, 1, 74, 0), fake(2));  // the later one wins
  EXPECT_EQ(findCCControl(cc, 1, 74, 1), nullptr);
  EXPECT_EQ(findCCControl(cc, 2, 74, 0), nullptr);
  EXPECT_EQ(cc.count(2), 0u);  // a look-up creates nothing
  EXPECT_EQ(cc[1].map[74].map.size(), 1u);

  NRPNControlContainer nrpn;
  ControlAction a;
  a.channel = 1;
  a.nrpnMsb = 0;
  a.valueOffset = 0;
  a.nrpnLsb = 7;
  a.subKey = 0;
  nrpn.addToControlMap(&a, fake(3));
  EXPECT_EQ(nrpn.findControl(1, 0, 0, 7, 0), fake(3));
  EXPECT_EQ(nrpn.findControl(1, 0, 0, 7, 1), nullptr);
  EXPECT_EQ(nrpn.findControl(1, 0, 7, 0, 0), nullptr);
  EXPECT_EQ(findCCControl(cc, 1, 0, 0), nullptr);  // separate tables never collide

  SysExControlContainer sysex;
  const unsigned char address[4] = {0x58, 0x41, 0xC8, 0x01};
  sysex.addToControlMap(address, 0, fake(4));
  EXPECT_EQ(sysex.findControl(0x58, 0x41, 200, 1, 0), fake(4));
  EXPECT_EQ(sysex.findControl(0x58, 0x41, -56, 1, 0), nullptr);
  EXPECT_EQ(sysex.findControl(0x58, 0x41, 200, 1, 1), nullptr);
}

TEST(ReaderHelpers, GroupsLinksAndNumberLists) {
  UIConfigManager ui;
  EXPECT_STREQ(ui.getParamGroup(1, "Global"), "Timbre 2:Global");
  EXPECT_STREQ(ui.getParamGroup(0, ""), "Timbre 1");
  EXPECT_STREQ(ui.getParamGroup(-1, "Global"), "Global");
  EXPECT_STREQ(ui.getParamGroup(-1, ""), "");

  struct Case {
    const char* text;
    int timbre;
    int expected[3];
  } links[] = {
      {"kFilterCutoff+1,kFilterCutoff", 0, {25, 24, -1}},
      {"kTimbreTune,kTimbreTune,7", 1, {316, 316, 7}},  // the copy's timbre is added once
      {"kTimbreTune", 0, {-1, -1, -1}},
      {"kNoSuchName,kTimbreTune", -1, {-1, 315, -1}},
  };
  for (const Case& c : links) {
    int out[3] = {9, 9, 9};
    UIConfigManager::getBiDirectLinkValues(c.text, out, c.timbre);
    EXPECT_EQ(std::vector<int>(out, out + 3), std::vector<int>(c.expected, c.expected + 3)) << c.text;
  }
  int values[4] = {7, 7, 7, 7};
  UIConfigManager::getCSValues("1, 2,x", values, 4);
  EXPECT_EQ(std::vector<int>(values, values + 4), (std::vector<int>{1, 2, 7, 7}));
}

TEST(ReaderHelpers, NormalizedOfAnEmptyRangeIsZero) {
  IParam p;
  p.InitEnum("one text", 0, 1);
  p.SetBounds(3.0, 3.0);
  EXPECT_EQ(p.GetNormalized(3.0), 0.0);
  p.SetBounds(5.0, 2.0);
  EXPECT_EQ(p.GetNormalized(4.0), 0.0);
}
