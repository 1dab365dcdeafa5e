// Test bench for the librarian's editor side: a plug-in with the editor's parameter numbering whose
// parameter handler runs the librarian's branches, an editor surface that chooses menu items by their
// texts (through submenus) and answers file prompts from a script, a host that records what would go
// to the synthesizer, and generated "Patches" trees of bank files whose every program is named after
// its bank and slot.
#pragma once

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControls.h"
#include "src/IPopupMenuControlEditMenus.h"
#include "src/IPopupMenuControlPatchUpper.h"
#include "src/LibrarianEditor.h"
#include "src/LibrarianHost.h"
#include "src/LibrarianViewControl.h"
#include "src/PatchLibrarian.h"
#include "src/VexmirParams.h"
#include "tests/gui/gui_support.h"
#include "tests/librarian/bank_vectors.h"

namespace libui {

using vectors::Bytes;

// The twelve name bytes of program `slot` of bank `bank`: "b<bank>s<slot>", blank padded.
std::string programName(int bank, int slot);
// 128 program dumps back to back, each named after its bank and slot.
Bytes bankBytes(int bank, int count = 128);
// The dump of one program of a generated bank.
Bytes programDumpOf(int bank, int slot);
// The 128 dumps of a generated bank, with the given slots replaced.
std::vector<Bytes> expectedBank(int bank, std::initializer_list<std::pair<int, Bytes>> changes = {});
// Dumps back to back, as a raw bank file holds them.
Bytes raw(const std::vector<Bytes>& dumps);

class LibPlug : public IEffectVST {
 public:
  LibPlug();
  void OnParamChange(int idx) override;
  LibrarianEditor* editor = nullptr;
};

// Chooses by item texts: menuPath {"Folder", "Sub", "file.syx"} walks the submenus; an empty path
// dismisses. Every menu opened is recorded as its items ("*" before a checked one, "-" a separator).
class LibGraphics : public guitest::TestGraphics {
 public:
  using TestGraphics::TestGraphics;
  IPopupMenu* CreateIPopupMenu(IPopupMenu* menu, IRECT* r) override;
  static std::string describe(const IPopupMenu* menu);
  std::vector<std::string> menuPath;
  // Prompts answer these in turn (then fileAnswer).
  std::vector<std::string> fileAnswers;
  // Runs while the next menu stands, before it is answered (the editor's timer goes on meanwhile).
  std::function<void()> whileMenuOpen;
  void PromptForFile(KIT_String* file, EFileAction action, KIT_String* dir, char* extensions) override;
};

class RecordingHost : public LibrarianHost {
 public:
  ControlLayer* librarianLayer(const std::string& name) override;
  bool midiOutputChosen() override { return midiOut; }
  bool sendProgram(int side, int slot, const LibrarianPatch& program) override;
  bool storeProgram(int side, int slot, const LibrarianPatch& program) override;
  bool storeBank(int side, const PatchFile& bank) override;
  bool requestProgram(int slot, int targetSlot, bool toEditor) override;
  bool requestAllPrograms() override;
  bool syncCurrentFromHardware() override;
  bool pushCurrentToHardware() override;
  bool initializeCurrentProgram() override;
  void log(const std::string& line) override {
    logLines.push_back(line);
    if (onLog) onLog();
  }
  void showMessage(const std::string& text) override { messages.push_back(text); }

  bool midiOut = true;
  std::vector<std::string> calls;
  std::vector<Bytes> sent;
  std::vector<std::string> logLines;
  std::vector<std::string> messages;
  // Runs at every log line: lets a test look at the librarian in the middle of an operation.
  std::function<void()> onLog;
  // Owned here in the tests; the real editor's layers belong to its surface.
  std::map<std::string, ControlLayer*> layers;
};

// A temporary data folder with a "Patches" folder (removed afterwards).
class DataFolder {
 public:
  DataFolder();
  ~DataFolder();
  std::string root, patches;
  void write(const std::string& relative, const Bytes& bytes) const;
};

// The librarian tab as the editor builds it: view, choosers and main menu on a surface at `scale`.
struct LibrarianTab {
  explicit LibrarianTab(double scale = 1.0, const std::string& patches = std::string());
  ~LibrarianTab();

  // One timer tick and paint.
  void tick() { g.Tick(); }
  // Points of the surface for a slot's middle.
  int slotX(int side, int slot) const;
  int slotY(int side, int slot) const;
  void click(int side, int slot, bool right = false);
  void chooseUpper(const std::vector<std::string>& path);
  void chooseLower(const std::vector<std::string>& path);
  void mainMenu(const std::vector<std::string>& path);
  std::string upperName(int slot) const { return view->slotText(0, slot); }
  std::string lowerName(int slot) const { return view->slotText(1, slot); }

  double scale;
  LibPlug plug;
  LibGraphics& g;
  RecordingHost host;
  PatchLibrarian librarian;
  LibrarianEditor editor;
  LibrarianViewControl* view = nullptr;
  LeftPatchPopupMenu* upper = nullptr;
  RightPatchPopupMenu* lower = nullptr;
  RightSearchPopupMenu* search = nullptr;
  BankEditPopupMenu* menu = nullptr;
  ICaptionControl* upperList = nullptr;
  ICaptionControl* lowerList = nullptr;
};

// A data folder with two banks: "A.syx" (bank 1) and "B.syx" (bank 2).
struct TwoBanks {
  TwoBanks();
  std::string path(const std::string& name) const { return data.patches + "/" + name; }
  DataFolder data;
};

// The librarian tab with "A.syx" in the upper list and "B.syx" in the lower one.
struct TwoBanksTab : LibrarianTab {
  TwoBanksTab();
  // Copies lower slot `from` into upper slot `to` through the slot menus.
  void copyPaste(int from, int to);
};

// Reads a bank file as the librarian does; the dumps of its programs.
std::vector<Bytes> readBank(const std::string& path);

}  // namespace libui
