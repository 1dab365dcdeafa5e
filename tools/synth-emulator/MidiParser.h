// Turns the bytes that arrive on a MIDI input into whole messages. A SysEx may be split over several JACK
// events; one cut short (a new status byte, or silence before its F7) is reported, never passed on.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "tools/synth-emulator/Protocol.h"

namespace synthemu {

class MidiParser {
 public:
  using Clock = std::chrono::steady_clock;
  using MessageFn = std::function<void(const Bytes&)>;
  using NoteFn = std::function<void(const std::string&)>;

  MidiParser(MessageFn onMessage, NoteFn onNote) : onMessage_(std::move(onMessage)), onNote_(std::move(onNote)) {}

  // Feeds the bytes of one received event.
  void feed(const uint8_t* bytes, size_t n, Clock::time_point now);
  // Reports a SysEx or channel message that has waited longer than `limit` for its end.
  void expire(Clock::time_point now, std::chrono::milliseconds limit);
  bool inSysEx() const { return inSysEx_; }

  static constexpr size_t kMaxSysEx = 1 << 20;

 private:
  void dropSysEx(const char* why);
  void dropIncomplete(const char* why);
  static int dataBytesFor(uint8_t status);

  MessageFn onMessage_;
  NoteFn onNote_;
  Bytes buffer_;
  bool inSysEx_ = false;
  bool oversize_ = false;
  uint8_t runningStatus_ = 0;
  int needed_ = 0;
  Clock::time_point lastByte_{};
};

}  // namespace synthemu
