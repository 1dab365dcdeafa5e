// A JACK MIDI input and output for a test, made with RtMidi's JACK back end (as the plug-in makes its ports),
// connected to two ports chosen by their full JACK names — by default the emulator's, so that a test can talk
// to the emulator directly.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class RtMidiIn;
class RtMidiOut;

namespace vexmir::testsupport {

using Bytes = std::vector<uint8_t>;

class JackMidiPair {
 public:
  // `clientName` and the process id name this side's JACK clients ("<clientName>-<pid> in" and "... out"). `sourcePort`
  // is the output port to listen to, `destinationPort` the input port to send to; an empty name leaves that side
  // unconnected. A new JACK connection carries data only from a later process cycle on, and under load that can be many
  // milliseconds after the port was opened. Connected to the emulator (the default), the constructor therefore
  // waits until one message has gone each way (EmulatorClient::awaitInput and awaitOutput).
  explicit JackMidiPair(const std::string& clientName = "vexmir-test", const std::string& sourcePort = defaultSource(),
                        const std::string& destinationPort = defaultDestination());
  ~JackMidiPair();
  JackMidiPair(const JackMidiPair&) = delete;
  JackMidiPair& operator=(const JackMidiPair&) = delete;

  static std::string defaultSource();       // the emulator's "MIDI Out"
  static std::string defaultDestination();  // the emulator's "MIDI In"
  // Every JACK MIDI port of the given direction as RtMidi names it (full "client:port" names).
  static std::vector<std::string> outputPorts();
  static std::vector<std::string> inputPorts();

  // Sends one message; waits while RtMidi's output buffer is full (it holds about 16 KB), then throws.
  // RtMidi's JACK output cannot carry a single message longer than that at all.
  void send(const Bytes& message, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // The next received message, or nothing after `timeout`.
  std::optional<Bytes> receive(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // The next message for which `match` holds; messages before it are dropped.
  std::optional<Bytes> receiveMatching(const std::function<bool(const Bytes&)>& match,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Sends a message and returns the first exclusive answer of the given function (see isFunction); throws when
  // none comes within `timeout`.
  Bytes ask(const Bytes& message, uint8_t answerFunction, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Drops what has been received so far.
  void clear();

 private:
  static void onMessage(double, std::vector<unsigned char>* message, void* self);
  void handshakeWithEmulator();

  std::unique_ptr<RtMidiIn> in_;
  std::unique_ptr<RtMidiOut> out_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Bytes> queue_;
  bool outputFull_ = false;
  std::string lastError_;
};

}  // namespace vexmir::testsupport
