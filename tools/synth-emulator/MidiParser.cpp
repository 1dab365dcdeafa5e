#include "tools/synth-emulator/MidiParser.h"

#include <cstdio>

namespace synthemu {

int MidiParser::dataBytesFor(uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 1;
    case 0xF0:
      return status == 0xF1 || status == 0xF3 ? 1 : status == 0xF2 ? 2 : 0;
    default:
      return 2;
  }
}

void MidiParser::dropSysEx(const char* why) {
  if (oversize_) {
    onNote_("SysEx longer than " + std::to_string(kMaxSysEx) + " bytes dropped");
  } else {
    std::string hex;
    for (size_t i = 0; i < buffer_.size() && i < 16; ++i) {
      char b[4];
      std::snprintf(b, sizeof b, "%02X ", buffer_[i]);
      hex += b;
    }
    if (buffer_.size() > 16) hex += "... ";
    onNote_("truncated SysEx of " + std::to_string(buffer_.size()) + " bytes (" + hex + "without F7) dropped: " + why);
  }
  buffer_.clear();
  inSysEx_ = false;
  oversize_ = false;
}

void MidiParser::dropIncomplete(const char* why) {
  std::string hex;
  for (uint8_t x : buffer_) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X ", x);
    hex += b;
  }
  onNote_("incomplete message " + hex + "dropped: " + why);
  buffer_.clear();
}

void MidiParser::feed(const uint8_t* bytes, size_t n, Clock::time_point now) {
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = bytes[i];
    if (b >= 0xF8) {  // real-time bytes may appear anywhere, even inside a SysEx
      onMessage_(Bytes{b});
      continue;
    }
    if (b == 0xF7) {
      if (inSysEx_) {
        if (oversize_) {
          dropSysEx("too long");
        } else {
          buffer_.push_back(b);
          Bytes m;
          m.swap(buffer_);
          inSysEx_ = false;
          onMessage_(m);
        }
      } else {
        onNote_("F7 without a SysEx ignored");
      }
      continue;
    }
    if (b & 0x80) {
      if (inSysEx_)
        dropSysEx("a status byte came before F7");
      else if (!buffer_.empty())
        dropIncomplete("a status byte came before its data bytes");
      buffer_.clear();
      if (b == 0xF0) {
        inSysEx_ = true;
        buffer_.push_back(b);
        runningStatus_ = 0;
        continue;
      }
      runningStatus_ = b < 0xF0 ? b : 0;
      needed_ = dataBytesFor(b);
      buffer_.push_back(b);
      if (needed_ == 0) {
        onMessage_(buffer_);
        buffer_.clear();
      }
      continue;
    }
    // A data byte.
    if (inSysEx_) {
      if (buffer_.size() >= kMaxSysEx)
        oversize_ = true;
      else
        buffer_.push_back(b);
      continue;
    }
    if (buffer_.empty()) {
      if (!runningStatus_) {
        onNote_("data byte without a status byte ignored");
        continue;
      }
      buffer_.push_back(runningStatus_);
      needed_ = dataBytesFor(runningStatus_);
    }
    buffer_.push_back(b);
    if (static_cast<int>(buffer_.size()) - 1 >= needed_) {
      onMessage_(buffer_);
      buffer_.clear();
    }
  }
  if (n) lastByte_ = now;
}

void MidiParser::expire(Clock::time_point now, std::chrono::milliseconds limit) {
  if (now - lastByte_ <= limit) return;
  if (inSysEx_)
    dropSysEx("no F7 followed");
  else if (!buffer_.empty())
    dropIncomplete("its data bytes did not follow");
}

}  // namespace synthemu
