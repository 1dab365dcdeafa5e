// The running emulator: the synthesizer model on a JACK MIDI client, its message log and the text commands
// through which tests and people read its state and make it act.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "tools/synth-emulator/JackMidi.h"
#include "tools/synth-emulator/MessageLog.h"
#include "tools/synth-emulator/MidiParser.h"
#include "tools/synth-emulator/SynthModel.h"

namespace synthemu {

class Emulator {
 public:
  explicit Emulator(MessageLog& log);
  ~Emulator();

  SynthModel& model() { return model_; }  // for set-up before start()

  bool start(const std::string& clientName, std::string* error);
  void stop();

  // Runs one command line and returns its reply: zero or more data lines, then a line "ok ..." or "error ...".
  std::string execute(const std::string& line);

  bool quitRequested() const { return quit_; }
  void requestQuit();
  // Blocks until a quit command, requestQuit() or the loss of the JACK server.
  void waitForQuit();
  bool serverLost() const { return jack_.serverGone(); }
  std::string inPortName() const { return jack_.inPortName(); }
  std::string outPortName() const { return jack_.outPortName(); }

 private:
  void worker();
  void handleMessage(const Bytes& m);
  void transmit(const std::vector<Bytes>& messages);
  std::string run(const std::vector<std::string>& args, const std::string& line);

  MessageLog& log_;
  SynthModel model_;
  std::mutex modelMutex_;
  // Test hooks, under modelMutex_: program dumps still to be lost before the model sees them (as a message lost on
  // the way), and whether the results of loads and writes are answered (a family member that answers none).
  int dumpsToDrop_ = 0;
  bool answersResults_ = true;
  // How long each answer waits before it goes out; the messages after it wait as well, as on a busy synthesizer. A new
  // delay (0: none) applies to the answer waiting now too.
  int answerDelayMs_ = 0;
  std::condition_variable answerDelayChanged_;
  JackMidi jack_;
  MidiParser parser_;
  std::thread worker_;
  std::atomic<bool> running_{false};
  std::atomic<bool> quit_{false};
  std::mutex quitMutex_;
  std::condition_variable quitChanged_;
};

}  // namespace synthemu
