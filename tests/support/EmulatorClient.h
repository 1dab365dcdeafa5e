// Client of the synthesizer emulator's command socket, for end-to-end tests. Tests registered with
// vexmir_test(... FIXTURES jack emulator) find the running emulator through the environment:
//   VEXMIR_EMULATOR_SOCKET    its command socket
//   VEXMIR_EMULATOR_IN_PORT   full JACK name of its MIDI input  ("Vexmir Synth Emulator:MIDI In")
//   VEXMIR_EMULATOR_OUT_PORT  full JACK name of its MIDI output ("Vexmir Synth Emulator:MIDI Out")
// Every failure (no socket, an "error" reply, a lost connection) throws std::runtime_error with the reason, which
// fails the calling test with that text.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vexmir::testsupport {

using Bytes = std::vector<uint8_t>;

struct EmulatorReply {
  bool ok = false;
  std::string value;               // text after "ok " (or the error message)
  std::vector<std::string> lines;  // data lines before the final line
};

class EmulatorClient {
 public:
  // Connects to `socketPath`, by default the fixture's socket from $VEXMIR_EMULATOR_SOCKET.
  explicit EmulatorClient(const std::string& socketPath = defaultSocketPath());
  ~EmulatorClient();
  EmulatorClient(const EmulatorClient&) = delete;
  EmulatorClient& operator=(const EmulatorClient&) = delete;

  static std::string defaultSocketPath();
  static std::string emulatorInPort();   // where a test sends to the emulator
  static std::string emulatorOutPort();  // where a test receives from the emulator

  // Sends one command line and reads its whole reply. An "error" reply is returned, not thrown.
  EmulatorReply command(const std::string& line);
  // Like command(), but throws on an "error" reply; returns the text after "ok".
  std::string check(const std::string& line);

  // Power-on state again (programs, edit buffer, global data, channel 0), and an empty log.
  void reset();

  Bytes editBuffer();         // 254 bytes
  Bytes program(int number);  // 254 bytes
  Bytes globalData();         // 200 bytes
  int editByte(int offset);
  std::string editName();  // 12 characters as stored
  std::string programName(int number);
  int channel();
  int currentProgram();

  void setChannel(int channel);
  void setEditByte(int offset, int value);
  void loadEdit(const Bytes& data);
  void loadProgram(int number, const Bytes& data);
  void loadGlobal(const Bytes& data);

  // Log positions: logMark() is the index the next log line will get; lines keep their index.
  size_t logMark();
  std::vector<std::string> log(size_t from = 0);
  // How many log lines at or after `from` contain `text`.
  int countLog(const std::string& text, size_t from = 0);
  void clearLog();
  // Waits for a log line at or after `from` that contains `text` (for example "out F0 42 30 58 40"); returns it,
  // or nothing when the time-out passes. The wait happens in the emulator: no polling and no fixed sleeps.
  std::optional<std::string> waitForLog(const std::string& text, size_t from = 0,
                                        std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // A JACK connection made a moment ago carries data only from a later process cycle on (under load, many
  // milliseconds later), so the first messages over it can be lost. After connecting something to the emulator,
  // these two wait until data flows:
  // - awaitInput: calls `sendProbe` (which sends F0 7D 01 F7, a SysEx for non-commercial use that the emulator
  //   logs and otherwise ignores) until the emulator has logged it;
  // - awaitOutput: makes the emulator send F0 7D 02 F7 until `arrived(wait)` reports, within `wait`, that it came.
  // Both return false after `timeout`.
  bool awaitInput(const std::function<void()>& sendProbe, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  bool awaitOutput(const std::function<bool(std::chrono::milliseconds wait)>& arrived,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));
  static const Bytes& inputProbe();   // F0 7D 01 F7
  static const Bytes& outputProbe();  // F0 7D 02 F7

 private:
  std::string readLine();

  int fd_ = -1;
  std::string pending_;
};

// True for an exclusive message whose function byte (the fifth, after F0 42 3g 58) is `function`.
bool isFunction(const Bytes& message, uint8_t function);
std::string toHex(const Bytes& bytes);   // "F0 42 30"
Bytes fromHex(const std::string& text);  // throws on bad input

}  // namespace vexmir::testsupport
