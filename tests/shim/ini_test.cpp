#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KIT/shim/shim-internal.h"
#include "KIT/shim/shim.h"

namespace {

class ShimIni : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/shiminiXXXXXX";
    dir_ = mkdtemp(tmpl);
    fn_ = dir_ + "/test.ini";
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
  }
  void write(const std::string& content, const std::string& path = "") {
    std::ofstream f(path.empty() ? fn_ : path, std::ios::binary | std::ios::trunc);
    f << content;
  }
  std::string read(const std::string& path = "") {
    std::ifstream f(path.empty() ? fn_ : path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  std::string get(const char* app, const char* key, const char* def = "<none>", const std::string& path = "") {
    char buf[256];
    GetPrivateProfileString(app, key, def, buf, sizeof buf, (path.empty() ? fn_ : path).c_str());
    return buf;
  }
  std::vector<std::string> folderEntries() {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) out.push_back(e->d_name);
      closedir(d);
    }
    return out;
  }
  ino_t inode() {
    struct stat st;
    return stat(fn_.c_str(), &st) == 0 ? st.st_ino : 0;
  }
  std::string dir_, fn_;
};

TEST_F(ShimIni, BlankBeforeEqualsBelongsToTheKeyAndValueBlanksAreDropped) {
  write("[s]\nkey =  spaced value  \nother=x\n");
  EXPECT_EQ(get("s", "key"), "<none>");
  EXPECT_EQ(get("s", "key "), "spaced value");
  EXPECT_EQ(get("S", "OTHER"), "x");  // sections and keys compare without case
}

TEST_F(ShimIni, OnePairOfMatchingQuotesIsRemoved) {
  write("[q]\na='single'\nb=\"double\"\nc='\nd='mixed\"\ne=  ' inner '  \nf=''\ng=\"'both'\"\n");
  struct {
    const char* key;
    const char* want;
  } cases[] = {{"a", "single"},  {"b", "double"}, {"c", "'"},     {"d", "'mixed\""},
               {"e", " inner "}, {"f", ""},       {"g", "'both'"}};
  for (auto& c : cases) EXPECT_EQ(get("q", c.key), c.want) << c.key;
}

TEST_F(ShimIni, RepeatedHeaderStartsItsSectionAfresh) {
  write("[A]\nold=1\n[b]\nx=2\n[a]\nnew=3\n");
  EXPECT_EQ(get("a", "old"), "<none>");
  EXPECT_EQ(get("A", "new"), "3");
  EXPECT_EQ(get("b", "x"), "2");
}

TEST_F(ShimIni, StrayLinesAreIgnoredAndVanishAtTheNextRewrite) {
  write("top=1\n[]\nafterempty=2\n[s]\nno equals here\n;comment=kept\n=novalue\n[broken\nk=v\n");
  EXPECT_EQ(get("s", ";comment"), "kept");
  EXPECT_EQ(get("s", "k"), "v");  // a "[" without "]" is ignored and the section goes on
  EXPECT_EQ(get("s", "afterempty"), "<none>");
  EXPECT_TRUE(WritePrivateProfileString("s", "added", "1", fn_.c_str()));
  EXPECT_EQ(read(), "[s]\n;comment=kept\nadded=1\nk=v\n\n");
}

TEST_F(ShimIni, HugePreambleReadsAsEmptyAndIsNeverWrittenBack) {
  std::string big(300000, 'x');
  big += "\n[s]\nk=v\n";
  write(big);
  EXPECT_EQ(get("s", "k"), "<none>");
  // The cut-short file is not overwritten from what little was read.
  EXPECT_FALSE(WritePrivateProfileString("s", "k", "w", fn_.c_str()));
  EXPECT_EQ(read(), big);
}

TEST_F(ShimIni, ListingSectionsAndKeysIntoSmallBuffers) {
  write("[beta]\nk2=1\nk1=2\n[alpha]\n[]\n");
  char buf[32];
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, "ignored", buf, 6, fn_.c_str()), 4u);
  EXPECT_EQ(std::string(buf, 7), std::string("alph\0\0#", 7));
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, nullptr, buf, sizeof buf, fn_.c_str()), 10u);
  EXPECT_EQ(std::string(buf, 12), std::string("alpha\0beta\0\0", 12));
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetPrivateProfileString("beta", nullptr, nullptr, buf, sizeof buf, fn_.c_str()), 5u);
  EXPECT_EQ(std::string(buf, 7), std::string("k1\0k2\0\0", 7));
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetPrivateProfileString("missing", nullptr, nullptr, buf, sizeof buf, fn_.c_str()), 0u);
  EXPECT_EQ(std::string(buf, 3), std::string("\0\0#", 3));
  // Buffers of one and no byte are never written beyond.
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, nullptr, buf, 1, fn_.c_str()), 0u);
  EXPECT_EQ(std::string(buf, 2), std::string("\0#", 2));
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, nullptr, buf, 0, fn_.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileString("beta", "k1", "d", buf, 0, fn_.c_str()), 0u);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(GetPrivateProfileString("beta", "k1", "d", nullptr, 10, fn_.c_str()), 0u);
}

TEST_F(ShimIni, DefaultsAndCutValues) {
  write("[s]\nlong=abcdefghij\n");
  char buf[8];
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetPrivateProfileString("s", "long", nullptr, buf, 5, fn_.c_str()), 4u);
  EXPECT_EQ(std::string(buf, 6), std::string("abcd\0#", 6));
  EXPECT_EQ(GetPrivateProfileString("s", "nope", "  untrimmed ", buf, sizeof buf, fn_.c_str()), 7u);
  EXPECT_STREQ(buf, "  untri");
  EXPECT_EQ(GetPrivateProfileString("s", "nope", nullptr, buf, sizeof buf, fn_.c_str()), 0u);
}

TEST_F(ShimIni, IntegersFallBackToTheDefaultForNonNumbers) {
  write("[n]\nletters=abc\nminuszero=-0\nhex=0x10\nneg=-5\nzero=0\nempty=\nlead=12abc\n");
  struct {
    const char* key;
    int want;
  } cases[] = {{"letters", 77}, {"minuszero", 77}, {"hex", 0},   {"neg", -5},
               {"zero", 0},     {"empty", 77},     {"lead", 12}, {"missing", 77}};
  for (auto& c : cases) EXPECT_EQ(GetPrivateProfileInt("n", c.key, 77, fn_.c_str()), c.want) << c.key;
}

TEST_F(ShimIni, SectionListingIsCutWithinItsBuffer) {
  write("[s]\nb= 2 \na=1\n");
  char buf[32];
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetPrivateProfileSection("s", buf, sizeof buf, fn_.c_str()), 8);
  EXPECT_EQ(std::string(buf, 10), std::string("a=1\0b=2\0\0#", 10));
  for (DWORD len = 2; len < 10; ++len) {
    memset(buf, '#', sizeof buf);
    int n = GetPrivateProfileSection("s", buf, len, fn_.c_str());
    EXPECT_LE(n, static_cast<int>(len) - 1) << len;
    EXPECT_EQ(buf[len], '#') << len;  // nothing beyond the buffer
    EXPECT_EQ(buf[len - 1], 0) << len;
  }
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetPrivateProfileSection("s", buf, 1, fn_.c_str()), 0);
  EXPECT_EQ(std::string(buf, 2), std::string("\0#", 2));
  EXPECT_EQ(GetPrivateProfileSection("s", nullptr, 1, fn_.c_str()), 0);
  EXPECT_EQ(GetPrivateProfileSection("s", buf, 0, fn_.c_str()), 0);
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetPrivateProfileSection("none", buf, sizeof buf, fn_.c_str()), 0);
  EXPECT_EQ(std::string(buf, 3), std::string("\0\0#", 3));
}

TEST_F(ShimIni, WritingASectionReplacesItsEntries) {
  write("[s]\nold=1\n[t]\nkeep=1\n");
  const char entries[] = "x=1\0noequals\0y=a=b\0x=2\0";
  EXPECT_TRUE(WritePrivateProfileSection("s", entries, fn_.c_str()));
  EXPECT_EQ(read(), "[s]\nx=2\ny=a=b\n\n[t]\nkeep=1\n\n");
  EXPECT_TRUE(WritePrivateProfileSection("new", "", fn_.c_str()));  // nothing to write
  EXPECT_EQ(read(), "[s]\nx=2\ny=a=b\n\n[t]\nkeep=1\n\n");
  EXPECT_FALSE(WritePrivateProfileSection(nullptr, entries, fn_.c_str()));
}

TEST_F(ShimIni, StructsAreHexWithAChecksum) {
  const unsigned char bytes[2] = {0x01, 0xFF};
  EXPECT_TRUE(WritePrivateProfileStruct("s", "k", bytes, 2, fn_.c_str()));
  EXPECT_EQ(get("s", "k"), "01FF00");
  unsigned char back[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_TRUE(GetPrivateProfileStruct("s", "k", back, 2, fn_.c_str()));
  EXPECT_EQ(back[0], 0x01);
  EXPECT_EQ(back[1], 0xFF);
  EXPECT_EQ(back[2], 0xAA);  // the checksum is checked, not stored past the buffer
  EXPECT_FALSE(GetPrivateProfileStruct("s", "k", back, 1, fn_.c_str()));
  WritePrivateProfileString("s", "bad", "01FF01", fn_.c_str());
  EXPECT_FALSE(GetPrivateProfileStruct("s", "bad", back, 2, fn_.c_str()));
  WritePrivateProfileString("s", "lower", "01ff00", fn_.c_str());
  EXPECT_TRUE(GetPrivateProfileStruct("s", "lower", back, 2, fn_.c_str()));
  WritePrivateProfileString("s", "junk", "0xFF00", fn_.c_str());
  EXPECT_FALSE(GetPrivateProfileStruct("s", "junk", back, 2, fn_.c_str()));
  EXPECT_FALSE(GetPrivateProfileStruct("s", "k", back, -1, fn_.c_str()));
  EXPECT_FALSE(GetPrivateProfileStruct("s", "k", nullptr, 2, fn_.c_str()));
  // A null buffer removes the key, as the string form does.
  EXPECT_TRUE(WritePrivateProfileStruct("s", "k", nullptr, 2, fn_.c_str()));
  EXPECT_EQ(get("s", "k"), "<none>");
}

TEST_F(ShimIni, AnIdenticalValueCausesNoRewrite) {
  EXPECT_TRUE(WritePrivateProfileString("s", "k", "v", fn_.c_str()));
  const ino_t first = inode();
  ASSERT_NE(first, 0u);
  EXPECT_TRUE(WritePrivateProfileString("s", "K", "v", fn_.c_str()));
  EXPECT_EQ(inode(), first);
  EXPECT_TRUE(WritePrivateProfileString("s", "K", "V", fn_.c_str()));  // case of values matters
  EXPECT_NE(inode(), first);
  EXPECT_EQ(read(), "[s]\nk=V\n\n");  // the key keeps its stored spelling
}

TEST_F(ShimIni, RemovingKeysAndSections) {
  write("[a]\nx=1\ny=2\n[b]\nz=3\n");
  EXPECT_TRUE(WritePrivateProfileString("a", "x", nullptr, fn_.c_str()));
  EXPECT_TRUE(WritePrivateProfileString("b", nullptr, nullptr, fn_.c_str()));
  EXPECT_EQ(read(), "[a]\ny=2\n\n");
  EXPECT_TRUE(WritePrivateProfileString("gone", nullptr, nullptr, fn_.c_str()));
  EXPECT_FALSE(WritePrivateProfileString(nullptr, "x", "1", fn_.c_str()));
  EXPECT_FALSE(WritePrivateProfileString("a", "", "1", fn_.c_str()));
  EXPECT_FALSE(WritePrivateProfileString("a", "x", "1", nullptr));
}

TEST_F(ShimIni, RewriteLeavesNoTemporaryFileAndKeepsPermissions) {
  write("[s]\nk=1\n");
  chmod(fn_.c_str(), 0640);
  EXPECT_TRUE(WritePrivateProfileString("s", "k", "2", fn_.c_str()));
  EXPECT_EQ(folderEntries(), std::vector<std::string>{"test.ini"});
  struct stat st;
  ASSERT_EQ(stat(fn_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(ShimIni, AFailedWriteReportsFailureAndDropsTheChange) {
  std::string nowhere = dir_ + "/missing/folder/x.ini";
  EXPECT_FALSE(WritePrivateProfileString("s", "k", "v", nowhere.c_str()));
  EXPECT_EQ(get("s", "k", "<none>", nowhere), "<none>");
  // A target that cannot be replaced (a folder) fails the same way and leaves no temporary file.
  std::string folder = dir_ + "/adir";
  mkdir(folder.c_str(), 0755);
  EXPECT_FALSE(WritePrivateProfileString("s", "k", "v", folder.c_str()));
  EXPECT_EQ(get("s", "k", "<none>", folder), "<none>");
  EXPECT_EQ(folderEntries(), std::vector<std::string>{"adir"});
}

TEST_F(ShimIni, FileNamesCompareExactly) {
  std::string upper = dir_ + "/TEST.ini";
  write("[s]\nk=lower\n");
  write("[s]\nk=upper\n", upper);
  EXPECT_EQ(get("s", "k"), "lower");
  EXPECT_EQ(get("s", "k", "", upper), "upper");
  EXPECT_EQ(get("s", "k"), "lower");
}

TEST_F(ShimIni, AChangedFileIsReadAgain) {
  write("[s]\nk=1\n");
  EXPECT_EQ(get("s", "k"), "1");
  write("[s]\nk=22\n");  // another size
  EXPECT_EQ(get("s", "k"), "22");
}

TEST_F(ShimIni, TheThirtyThirdFileEvictsTheLeastRecentlyUsed) {
  write("[s]\nk=old\n");
  struct utimbuf t = {1000000, 1000000};
  utime(fn_.c_str(), &t);
  EXPECT_EQ(get("s", "k"), "old");
  // Same size and modification second: only a fresh read can see the change.
  write("[s]\nk=new\n");
  utime(fn_.c_str(), &t);
  EXPECT_EQ(get("s", "k"), "old");
  for (int i = 0; i < 31; ++i) get("s", "k", "", dir_ + "/other" + std::to_string(i) + ".ini");
  EXPECT_EQ(get("s", "k"), "old");  // still one of the 32 cached files
  for (int i = 31; i < 63; ++i) get("s", "k", "", dir_ + "/other" + std::to_string(i) + ".ini");
  EXPECT_EQ(get("s", "k"), "new");  // evicted and read again
}

void crashNow() {
  _exit(3);
}

TEST_F(ShimIni, ACrashBeforeTheRenameLeavesTheOldFileWhole) {
  const std::string original = "[s]\nk=original\nother=kept\n";
  write(original);
  EXPECT_EQ(get("s", "k"), "original");
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    SHIM_Internal_INI_SetBeforeRenameHook(crashNow);
    WritePrivateProfileString("s", "k", "changed", fn_.c_str());
    _exit(0);  // not reached when the hook runs
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(read(), original);
  EXPECT_EQ(folderEntries().size(), 2u);  // the crashed writer's temporary file beside it
  for (auto& name : folderEntries()) {
    if (name != "test.ini") {
      EXPECT_EQ(name.rfind(".test.ini.", 0), 0u) << name;
    }
  }
}

TEST_F(ShimIni, ThreadsWritingOneFileLoseNoChange) {
  constexpr int kThreads = 4, kKeys = 25;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < kKeys; ++k) {
        const std::string key = "t" + std::to_string(t) + "k" + std::to_string(k);
        if (!WritePrivateProfileString("s", key.c_str(), std::to_string(k).c_str(), fn_.c_str())) ++failures;
        char buf[16];
        GetPrivateProfileString("s", key.c_str(), "", buf, sizeof buf, fn_.c_str());
        if (std::to_string(k) != buf) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  // Every change reached the file: a fresh copy under another name reads them all.
  const std::string copy = dir_ + "/copy.ini";
  write(read(), copy);
  for (int t = 0; t < kThreads; ++t)
    for (int k = 0; k < kKeys; ++k)
      EXPECT_EQ(get("s", ("t" + std::to_string(t) + "k" + std::to_string(k)).c_str(), "", copy), std::to_string(k));
}

}  // namespace

namespace {

TEST(ShimIniMends, TextsTheFileCannotHoldAreRefusedAndNothingIsLost) {
  char dir[] = "/tmp/vexmir-ini-mend-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string fn = std::string(dir) + "/ui.ini";
  ASSERT_TRUE(WritePrivateProfileString("main", "size", "normal", fn.c_str()));
  struct Bad {
    const char *section, *key, *value;
  };
  for (const Bad& b : {Bad{"main", "size", "large\n[evil]"}, Bad{"main", "a=b", "1"}, Bad{"main", " lead", "1"},
                       Bad{"main", "k\r", "1"}, Bad{"main", "[x", "1"}, Bad{"ma]in", "k", "1"}, Bad{"", "k", "1"},
                       Bad{" main", "k", "1"}, Bad{"a\nb", "k", "1"}}) {
    EXPECT_FALSE(WritePrivateProfileString(b.section, b.key, b.value, fn.c_str())) << b.section << "/" << b.key;
  }
  EXPECT_FALSE(WritePrivateProfileSection("main", "good=1\0bad=x\ny\0", fn.c_str()));
  char buf[64];
  GetPrivateProfileString("main", "size", "", buf, sizeof buf, fn.c_str());
  EXPECT_STREQ(buf, "normal");
  GetPrivateProfileString("evil", "x", "none", buf, sizeof buf, fn.c_str());
  EXPECT_STREQ(buf, "none");
  unlink(fn.c_str());
  rmdir(dir);
}

TEST(ShimIniMends, IntegersOutOfRangeGiveTheDefault) {
  char dir[] = "/tmp/vexmir-ini-int-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string fn = std::string(dir) + "/n.ini";
  struct Case {
    const char* text;
    int expected;
  };
  for (const Case& c : {Case{"42", 42}, Case{"-7x", -7}, Case{"2147483647", 2147483647}, Case{"2147483648", 5},
                        Case{"-2147483649", 5}, Case{"99999999999999999999", 5}, Case{"abc", 5}, Case{"0", 0}}) {
    WritePrivateProfileString("s", "n", c.text, fn.c_str());
    EXPECT_EQ(GetPrivateProfileInt("s", "n", 5, fn.c_str()), c.expected) << c.text;
  }
  unlink(fn.c_str());
  rmdir(dir);
}

}  // namespace
