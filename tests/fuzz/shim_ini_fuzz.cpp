// Feeds arbitrary bytes to the INI reader as a file, reads back everything it parsed through every query, then has
// it rewrite the file and checks that the rewritten file reads back the same.
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "KIT/shim/shim.h"

namespace {

std::string folder() {
  static std::string dir = [] {
    struct stat st;
    std::string base = stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/shimfuzzXXXXXX";
    std::vector<char> t(tmpl.begin(), tmpl.end());
    t.push_back(0);
    return std::string(mkdtemp(t.data()));
  }();
  return dir;
}

std::vector<std::string> splitList(const std::vector<char>& buf, DWORD len) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < len) {
    std::string s(&buf[i]);
    out.push_back(s);
    i += s.size() + 1;
  }
  return out;
}

using Snapshot = std::map<std::string, std::map<std::string, std::string>>;

Snapshot snapshot(const char* fn) {
  Snapshot snap;
  std::vector<char> buf(1 << 16);
  const DWORD n = GetPrivateProfileString(nullptr, nullptr, nullptr, buf.data(), static_cast<int>(buf.size()), fn);
  for (const std::string& section : splitList(buf, n)) {
    auto& keys = snap[section];
    std::vector<char> kb(1 << 16);
    const DWORD kn =
        GetPrivateProfileString(section.c_str(), nullptr, nullptr, kb.data(), static_cast<int>(kb.size()), fn);
    for (const std::string& key : splitList(kb, kn)) {
      char value[8192];
      GetPrivateProfileString(section.c_str(), key.c_str(), "", value, sizeof value, fn);
      keys[key] = value;
      GetPrivateProfileInt(section.c_str(), key.c_str(), 0, fn);
      unsigned char st[8];
      GetPrivateProfileStruct(section.c_str(), key.c_str(), st, sizeof st, fn);
    }
    // Section listings into every small size exercise the cutting.
    char small[16];
    for (DWORD len = 0; len < sizeof small; ++len) GetPrivateProfileSection(section.c_str(), small, len, fn);
    std::vector<char> sec(1 << 16);
    GetPrivateProfileSection(section.c_str(), sec.data(), static_cast<DWORD>(sec.size()), fn);
  }
  char tiny[8];
  for (int len = 0; len < 8; ++len) GetPrivateProfileString(nullptr, nullptr, nullptr, tiny, len, fn);
  return snap;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static unsigned counter = 0;
  // More names than the cache has slots, so that every input is read from its file.
  const std::string fn = folder() + "/f" + std::to_string(counter++ % 64) + ".ini";
  FILE* f = fopen(fn.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);

  const Snapshot before = snapshot(fn.c_str());
  if (!WritePrivateProfileString("fuzz", "k", "v", fn.c_str())) return 0;
  Snapshot after = snapshot(fn.c_str());

  // The rewrite added exactly the new key; everything else reads back as it was.
  Snapshot expected = before;
  std::string fuzzName = "fuzz";
  for (auto& s : expected)
    if (strcasecmp(s.first.c_str(), "fuzz") == 0) fuzzName = s.first;
  auto& fuzzKeys = expected[fuzzName];
  std::string keyName = "k";
  for (auto it = fuzzKeys.begin(); it != fuzzKeys.end(); ++it)
    if (strcasecmp(it->first.c_str(), "k") == 0) keyName = it->first;
  fuzzKeys[keyName] = "v";
  if (after != expected) {
    fprintf(stderr, "rewrite changed the parsed content of %s\n", fn.c_str());
    abort();
  }
  return 0;
}
