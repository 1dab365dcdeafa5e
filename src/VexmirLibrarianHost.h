// The plug-in object as the librarian's editor side sees it: the librarian tab's layers of the editor
// surface, and the transfer jobs of the MIDI hub for audition, store and request.
#pragma once

#include "src/LibrarianHost.h"

class LibrarianEditor;
class Vexmir;

class VexmirLibrarianHost : public LibrarianHost {
 public:
  explicit VexmirLibrarianHost(Vexmir* plugin) : plugin_(plugin) {}
  void setEditor(LibrarianEditor* editor) { editor_ = editor; }

  ControlLayer* librarianLayer(const std::string& name) override;
  bool midiOutputChosen() override;
  bool sendProgram(int side, int slot, const LibrarianPatch& program) override;
  bool storeProgram(int side, int slot, const LibrarianPatch& program) override;
  bool storeBank(int side, const PatchFile& bank) override;
  bool requestProgram(int slot, int targetSlot, bool toEditor) override;
  bool requestAllPrograms() override;
  bool transferIntoOpenBank() override;
  bool transferUsesBanks() override;
  bool syncCurrentFromHardware() override;
  bool pushCurrentToHardware() override;
  bool initializeCurrentProgram() override;
  void log(const std::string& line) override;
  void showMessage(const std::string& text) override;
  void showHint(const std::string& text) override;
  void clearMessage() override;
  void endRefusal() override;
  void searchModeChanged(bool on) override;

 private:
  bool startJob(int job, bool toEditor = false, bool temporary = false);
  // The MIDI output is chosen and no transfer job runs.
  bool jobCanStart();
  // The ports a transfer needs are open (`answer`: the input too, for a request that waits for the synthesizer):
  // otherwise false, and the display names the port to choose.
  bool portsChosen(bool answer);
  // A store or audition whose job did not start: false, and the display says why: the MIDI output to choose, the
  // transfer that runs, or (for one program, `oneProgram`) the part lock of the timbre shown.
  bool notStarted(const std::string& what, bool oneProgram = false);

  Vexmir* plugin_;
  LibrarianEditor* editor_ = nullptr;
  // The message a hint goes with: the status display shows them together.
  std::string lastMessage_;
};
