// The UI settings file "Vexmir Editor UI.txt" of any content and of any kind (a file, a folder, a pipe, a link to a
// file of the data folder, a dangling link, missing), beside a debug log "Vexmir Editor LOG.txt" of any kind, read by
// a new editor object, which then stores one setting. The editor starts (no pipe holds it up), takes a size and a
// colour scheme it knows, stores the setting where the file is a file (and reads it back), and changes nothing else:
// no other file of the data folder or beside it, and never a folder or a pipe in the settings file's place.
// The first byte chooses the kinds and the setting; the rest is the file's content.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/bundle/bundle.h"
#include "platform/vst2/vst2.h"
#include "src/Vexmir.h"
#include "tests/fuzz/fuzz_data_root.h"
#include "tests/support/QuietHost.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

using vexmir::testsupport::quietHost;

const char kSettings[] = "Vexmir Editor UI.txt";
const char kLog[] = "Vexmir Editor LOG.txt";
const char kTarget[] = "settings target.txt";

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The first three lines of a settings file as the editor keeps them: line ends and trailing blanks dropped.
std::vector<std::string> firstLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (lines.size() < 3 && start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  lines.resize(3);
  return lines;
}

bool isFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = fuzztest::dataRoot();
  const std::string folder = Vexmir::getDataFolder();
  fuzztest::removeTree(root + "/Library");
  check(platform::makeFolders(folder + "Patches"), "the data folder cannot be made");
  const uint8_t kinds = size ? data[0] : 0;
  const std::string content = size ? std::string(reinterpret_cast<const char*>(data) + 1, size - 1) : std::string();

  // Bystanders: a file in the data folder, one beside the root's data, and the link's target.
  writeFile(folder + "Patches/keep.txt", "kept");
  writeFile(root + "/beside.txt", "beside");
  const std::string settings = folder + kSettings;
  const int settingsKind = kinds % 8;
  switch (settingsKind) {
    case 3:
      break;  // missing
    case 4:
      check(mkdir(settings.c_str(), 0755) == 0, "mkdir");
      writeFile(settings + "/inside.txt", content);
      break;
    case 5:
      check(mkfifo(settings.c_str(), 0644) == 0, "mkfifo");
      break;
    case 6:
      writeFile(folder + kTarget, content);
      check(symlink(kTarget, settings.c_str()) == 0, "symlink");
      break;
    case 7:
      check(symlink("no such file.txt", settings.c_str()) == 0, "symlink");
      break;
    default:
      writeFile(settings, content);
      break;
  }
  const std::string log = folder + kLog;
  switch ((kinds >> 3) % 4) {
    case 1:
      writeFile(log, "an old log\n");
      break;
    case 2:
      check(mkdir(log.c_str(), 0755) == 0, "mkdir");
      break;
    case 3:
      check(mkfifo(log.c_str(), 0644) == 0, "mkfifo");
      break;
    default:
      break;
  }
  const bool settingsReadable = isFile(settings);
  const fuzztest::Tree before = fuzztest::treeOf(root);

  const int line = (kinds >> 5) % 3;
  static const char* const words[] = {"normal", "black", "large", "small", "yes", "no"};
  const std::string word = words[(kinds >> 5) % 6];
  {
    Vexmir editor(IEffectInstanceInfo{quietHost});
    fuzztest::checkBuiltFromDescription(editor);
    const double scale = editor.getUIScale();
    check(scale == 0.75 || scale == 1.0 || scale == 1.25, "a size the editor does not have");
    check(editor.getUIStyle() == 0 || editor.getUIStyle() == 1, "a colour scheme the editor does not have");
    if (settingsReadable) {
      const std::vector<std::string> lines = firstLines(content);
      for (int i = 0; i < 3; ++i) check(editor.getUISettingsLine(i) == lines[i], "a settings line read wrongly");
    }
    const bool stored = editor.setUISettingsLine(line, word);
    if (settingsReadable) {
      check(stored, "a setting not stored in a settings file");
      std::vector<std::string> expected = firstLines(content);
      expected[line] = word;
      check(firstLines(fuzztest::fileBytes(settings)) == expected, "the stored settings do not read back");
    }
  }

  // Nothing else changed: the settings file's own bytes (or, through the link, its target's) may, and the log, which
  // a start empties, and a settings file made where there was none.
  fuzztest::Tree after = fuzztest::treeOf(root);
  const std::string base = folder.substr(root.size() + 1);
  for (const std::string& mayChange : {base + kLog, base + kSettings, base + kTarget}) {
    auto was = before.find(mayChange);
    auto now = after.find(mayChange);
    if (was == before.end()) {
      check(mayChange != base + kSettings || now == after.end() || now->second.kind == 'f', "a settings file of a kind");
    } else {
      check(now != after.end() && now->second.kind == was->second.kind, "the kind of a data file changed");
    }
  }
  for (const auto& entry : before) {
    if (entry.first == base + kLog || entry.first == base + kSettings || entry.first == base + kTarget) continue;
    auto now = after.find(entry.first);
    check(now != after.end() && now->second == entry.second, "a file beside the settings was changed or lost");
  }
  for (const auto& entry : after) {
    const bool known = before.count(entry.first) || entry.first == base + kSettings;
    check(known, "a file was made beside the settings");
  }
  return 0;
}
