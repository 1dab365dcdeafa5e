// The editor object's host state chunk of any content through effSetChunk, as a program and as a bank:
// the reader never reads past the bytes, and a refused chunk leaves the whole state as it was. Inputs whose first
// byte has bit 2 set are a bank path instead, under a folder of the musician's beside the data root, put into a
// project with unsaved edits. After every recall the librarian is refreshed and saved: no file outside the data
// root is written, made or replaced.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/vst2/vst2.h"
#include "src/LibrarianEditor.h"
#include "src/PatchLibrarian.h"
#include "src/Vexmir.h"
#include "tests/fuzz/fuzz_data_root.h"
#include "tests/support/ProjectChunk.h"
#include "tests/support/QuietHost.h"

namespace {

using vexmir::testsupport::projectOf;
using vexmir::testsupport::quietHost;

PatchFile initialBank() {
  PatchFile bank;
  bank.patches.resize(kProgramsPerBank);
  for (LibrarianPatch& p : bank.patches) p.messages.emplace_back().data.assign(initialProgramDump(), kProgramDumpSize);
  return bank;
}

// Beside the data root: a text file and a bank of the musician's, which no project may change.
const std::string& outsideFolder() {
  static const std::string folder = [] {
    std::string name = fuzztest::dataRoot() + "-outside-XXXXXX";
    if (!mkdtemp(name.data())) std::abort();
    std::FILE* f = std::fopen((name + "/notes.txt").c_str(), "w");
    if (!f) std::abort();
    std::fputs("the musician's notes\n", f);
    std::fclose(f);
    PatchLibrarian::writeBankFile(initialBank(), name + "/Bank.syx", false);
    static std::string removed = name;
    std::atexit([] { fuzztest::removeTree(removed); });
    return name;
  }();
  return folder;
}

void press(Vexmir* plug, int idx) {
  plug->GetParam(idx)->Set(1.0);
  plug->getLibrarianEditor()->onParamChange(idx);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string patches = [] {
    fuzztest::dataRoot();
    const std::string folder = Vexmir::getPatchesFolderStr();
    std::filesystem::create_directories(folder);
    PatchLibrarian::writeBankFile(initialBank(), folder + "/Init.vmr", false);
    return folder;
  }();
  static const fuzztest::Tree outside = fuzztest::treeOf(outsideFolder());
  static Vexmir* plug = fuzztest::newEditor<Vexmir>(IEffectInstanceInfo{quietHost});
  AEffect* e = plug->GetAEffect();
  LibrarianEditor* editor = plug->getLibrarianEditor();
  // A project with unsaved edits of the bank open, made once.
  static const std::string projectPath = editor->upperBankPath;
  static const std::vector<uint8_t> project = [&] {
    editor->renameProgram(0, "Edited");
    std::vector<uint8_t> bytes = projectOf(e);
    press(plug, kDiscardBankData);
    return bytes;
  }();

  const bool bank = size > 0 && (data[0] & 1);
  std::vector<uint8_t> chunk;
  if (size > 0 && (data[0] & 4)) {
    const std::string tail(reinterpret_cast<const char*>(data + 1), strnlen(reinterpret_cast<const char*>(data + 1), std::min<size_t>(size - 1, 300)));
    chunk = vexmir::testsupport::withBankPath(project, projectPath, outsideFolder() + "/" + tail);
  } else {
    // A valid header in front half of the time, so that the body reader sees most inputs.
    if (size > 1 && (data[0] & 2)) chunk = {0x74, 0x66, 0x66, 0x70, 0x00, 0x00, 0x01, 0x00};
    if (size > 1) chunk.insert(chunk.end(), data + 1, data + size);
  }
  const std::vector<uint8_t> before = projectOf(e);
  const intptr_t accepted =
      e->dispatcher(e, effSetChunk, bank ? 0 : 1, static_cast<intptr_t>(chunk.size()), chunk.data(), 0.0f);
  if (!accepted && projectOf(e) != before) std::abort();
  // What the musician does next with a bank the project brought: rescan, save.
  press(plug, kRefreshFolders);
  if (editor->openBankUnsaved()) editor->saveOpenBank();
  if (fuzztest::treeOf(outsideFolder()) != outside) {
    std::fprintf(stderr, "a file outside the data root was written\n");
    std::abort();
  }
  // The next input starts from the one bank again.
  if (editor->openBankUnsaved()) press(plug, kDiscardBankData);
  for (const auto& entry : std::filesystem::directory_iterator(patches))
    if (entry.path().filename() != "Init.vmr") std::filesystem::remove_all(entry.path());
  return 0;
}
