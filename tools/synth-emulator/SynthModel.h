// The synthesizer's memory and its reaction to MIDI: 128 programs, the edit buffer, the global data and the
// global channel. Pure logic without threads or I/O; the caller serialises access.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "tools/synth-emulator/Protocol.h"

namespace synthemu {

using Program = std::array<uint8_t, kProgramSize>;
using GlobalData = std::array<uint8_t, kGlobalSize>;

// What one received message did: replies to transmit and notes worth logging.
struct Reaction {
  std::vector<Bytes> replies;
  std::vector<std::string> notes;
};

class SynthModel {
 public:
  SynthModel();

  // Back to the power-on state: programs "Init 001".."Init 128" (or the loaded bank), program 0 in the edit
  // buffer, the factory global data on the start channel, edit mode off, timbre 1 selected.
  void reset();
  // Replaces the 128 programs that reset() restores (a bank given at start).
  void setPowerOnPrograms(const std::vector<Program>& programs);
  // The global channel that reset() restores (the channel given at start).
  void setPowerOnChannel(int channel) { powerOnChannel_ = channel & 0x0F; }

  // Takes one complete MIDI message (a channel message, a SysEx from F0 to F7, or a system message).
  Reaction receive(const Bytes& message);

  // --- what the player does on the panel; each returns the messages the device transmits ---
  // Selects a program: it is loaded into the edit buffer and a program change goes out on the global channel.
  std::vector<Bytes> selectProgram(int program, std::string* error);
  // Turns the knob that a control change number stands for, in timbre `timbre` (0, 1; -1 for the selected one).
  std::vector<Bytes> turnControl(int cc, int value, int timbre, std::string* error);
  std::vector<Bytes> turnNrpn(int msb, int lsb, int value, int timbre, std::string* error);
  // Changes a parameter by its SysEx parameter number and transmits the parameter change message.
  std::vector<Bytes> turnParameter(int id, int value, std::string* error);

  // Dumps as the device transmits them.
  Bytes programDump() const;
  Bytes globalDump() const;
  Bytes allProgramsDump() const;
  Bytes allDataDump() const;

  // Direct state access for the command interface.
  Program& edit() { return edit_; }
  Program& program(int p) { return programs_[p]; }
  GlobalData& global() { return global_; }
  int channel() const { return global_[kGlobalChannelByte] & 0x0F; }
  void setChannel(int ch) { global_[kGlobalChannelByte] = static_cast<uint8_t>(ch & 0x0F); }
  int currentProgram() const { return currentProgram_; }
  bool editMode() const { return editMode_; }
  int selectedTimbre() const { return selectedTimbre_; }  // 0, 1, or 2 for both
  bool writeProtected() const { return global_[kGlobalSwitchByte] & 0x01; }

  static std::string programName(const Program& p);
  static void setProgramName(Program& p, const std::string& name);
  static Program initProgram(int number);  // "Init 001" for number 0
  static GlobalData factoryGlobal();

  // Data byte of the global channel and the MIDI filter bytes in the global data.
  static constexpr int kGlobalSwitchByte = 5;
  static constexpr int kGlobalChannelByte = 9;
  static constexpr int kGlobalSysExFilterByte = 16;  // bit 7: SysEx enabled
  static constexpr int kGlobalFilterByte = 17;       // bit 0 program change, bit 2 control change, bit 6 bend

 private:
  Reaction receiveSysEx(const Bytes& m);
  void receiveControl(int channel, int cc, int value, Reaction& r);
  void receiveProgramChange(int channel, int program, Reaction& r);
  void receiveParameterChange(const Bytes& m, Reaction& r);
  bool applyControl(int cc, int value, int timbre, std::string* what);
  bool applyNrpn(int msb, int lsb, int value, int timbre, std::string* what);
  bool applyParameter(int id, int value, std::string* what);
  int timbreChannel(int timbre) const;
  std::vector<int> timbresOnChannel(int channel) const;
  bool controlChangesEnabled() const { return global_[kGlobalFilterByte] & 0x04; }
  bool programChangesEnabled() const { return global_[kGlobalFilterByte] & 0x01; }
  bool sysExEnabled() const { return global_[kGlobalSysExFilterByte] & 0x80; }

  std::array<Program, kProgramCount> programs_{};
  std::array<Program, kProgramCount> powerOn_{};
  Program edit_{};
  GlobalData global_{};
  int powerOnChannel_ = 0;
  int currentProgram_ = 0;
  bool editMode_ = false;
  int selectedTimbre_ = 0;
  std::array<int, 16> nrpnMsb_{};
  std::array<int, 16> nrpnLsb_{};
};

// The fields of a program and of the global data as the device reads them, by name and in a fixed order, with
// signed fields as signed numbers: what the tests compare the editor's values with. A vocoder program (voice
// mode 3) has no synth timbre fields.
std::vector<std::pair<std::string, int>> programFields(const Program& p);
std::vector<std::pair<std::string, int>> globalFields(const GlobalData& g);

// Bank files: a 128-program bulk dump (37163 bytes), an all-data dump (37392) or 128 program dumps back to back
// (38016). Returns false with a reason for anything else.
bool readBankFile(const std::string& path, std::vector<Program>& programs, std::string* error);
bool writeBankFile(const std::string& path, const SynthModel& model, std::string* error);

}  // namespace synthemu
