// One JACK client with a MIDI input and a MIDI output port. The process callback only moves bytes between the
// ports and two lock-free ring buffers; everything else happens on ordinary threads.
#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "tools/synth-emulator/Protocol.h"

namespace synthemu {

class JackMidi {
 public:
  static constexpr const char* kInPortName = "MIDI In";
  static constexpr const char* kOutPortName = "MIDI Out";

  JackMidi();
  ~JackMidi();
  JackMidi(const JackMidi&) = delete;
  JackMidi& operator=(const JackMidi&) = delete;

  // Opens the client under exactly `clientName` (no server is started), registers the ports and activates.
  bool open(const std::string& clientName, std::string* error);
  void close();

  std::string inPortName() const;   // full names, "<client>:MIDI In"
  std::string outPortName() const;  // "<client>:MIDI Out"

  // Queues one message for output; waits while the output buffer is full, up to `timeout`.
  bool send(const Bytes& message, std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // Takes the bytes of the next received event, waiting up to `timeout`. False when none arrived.
  bool receive(Bytes& event, std::chrono::milliseconds timeout);

  bool serverGone() const { return serverGone_; }
  unsigned long droppedInputEvents() const { return droppedInput_; }

 private:
  static int processCallback(jack_nframes_t frames, void* arg);
  static void shutdownCallback(void* arg);
  int process(jack_nframes_t frames);

  jack_client_t* client_ = nullptr;
  jack_port_t* in_ = nullptr;
  jack_port_t* out_ = nullptr;
  jack_ringbuffer_t* inRing_ = nullptr;
  jack_ringbuffer_t* outRing_ = nullptr;
  sem_t inReady_;
  std::mutex sendMutex_;  // one writer to the output ring at a time
  std::atomic<bool> serverGone_{false};
  std::atomic<unsigned long> droppedInput_{0};
  // Output message being written, possibly over several periods when it exceeds one period's buffer.
  uint32_t outRemaining_ = 0;
  bool outStarted_ = false;
  size_t bufferCapacity_ = 0;
  bool abandoned_ = false;  // the client was left to a server that went away (see close)
};

}  // namespace synthemu
