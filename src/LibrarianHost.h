// What the librarian's editor side needs of the plug-in around it: the named layers of the librarian
// tab, the transfer jobs that talk to the synthesizer, and the debug log. The plug-in object answers
// for the real editor; tests answer with recorders.
//
// Threads: every call comes from the user-interface thread. The transfer calls only start a job and
// return; a job that cannot start (one is running, no MIDI output) is dropped, and they say so by
// returning false.
#pragma once

#include <string>

class ControlLayer;
class LibrarianPatch;
class PatchFile;

class LibrarianHost {
 public:
  virtual ~LibrarianHost() = default;

  // The layer of that name, or null when the editor has none.
  virtual ControlLayer* librarianLayer(const std::string& name) = 0;
  // True when a MIDI output port is chosen.
  virtual bool midiOutputChosen() = 0;

  // Sends the program of a side's slot (0 upper, 1 lower) to the synthesizer's edit buffer (audition).
  virtual bool sendProgram(int side, int slot, const LibrarianPatch& program) = 0;
  // Writes the program of a side's slot into the synthesizer's memory at that slot (0..127).
  virtual bool storeProgram(int side, int slot, const LibrarianPatch& program) = 0;
  // Writes the 128 programs of a side's bank into the synthesizer's memory.
  virtual bool storeBank(int side, const PatchFile& bank) = 0;
  // Asks the synthesizer for the program at `slot` (-1: its edit buffer). The answer reaches
  // LibrarianEditor::programReceived for the open bank's `targetSlot`, or the editor when
  // `toEditor` is true.
  virtual bool requestProgram(int slot, int targetSlot, bool toEditor) = 0;
  // Asks for all 128 programs; they arrive one by one through LibrarianEditor::programReceived.
  virtual bool requestAllPrograms() = 0;
  // True while a job stores programs into the open bank: it keeps that bank open until it ends.
  virtual bool transferIntoOpenBank() { return false; }
  // True while a job sends or stores programs of the librarian's banks, or stores programs into the open bank: no
  // bank is read again from its file meanwhile.
  virtual bool transferUsesBanks() { return transferIntoOpenBank(); }
  // The main menu's jobs that concern the editor rather than the banks.
  virtual bool syncCurrentFromHardware() = 0;
  virtual bool pushCurrentToHardware() = 0;
  virtual bool initializeCurrentProgram() = 0;

  virtual void log(const std::string& line) = 0;
  // A message of the librarian for the user (a failure, a refused action): the editor's status display.
  virtual void showMessage(const std::string&) {}
  // A second line that goes with the message (a tip): the status display's value line.
  virtual void showHint(const std::string&) {}
  // The musician started another action: a message of the last one still on the status display goes.
  virtual void clearMessage() {}
  // A slot was clicked: a refused button's text still on the status display goes.
  virtual void endRefusal() {}
  // The lower list now shows the search results (true) or the bank files (false).
  virtual void searchModeChanged(bool) {}
};
