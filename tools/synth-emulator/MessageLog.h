// Time-stamped record of every message in and out and of every notable event, kept in memory for the command
// interface (and optionally appended to a file). Lines look like
//   12.345678 in F0 42 30 58 10 F7
//   12.346001 out F0 42 30 58 40 ... F7
//   12.346002 note program dump request answered
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "tools/synth-emulator/Protocol.h"

namespace synthemu {

class MessageLog {
 public:
  MessageLog();
  ~MessageLog();

  bool openFile(const std::string& path, std::string* error);

  void message(const char* direction, const Bytes& bytes);
  void note(const std::string& text);

  // Index of the next line to be added; indices never repeat, even after clear().
  size_t end() const;
  // Lines with index >= from (those still kept).
  std::vector<std::string> linesFrom(size_t from) const;
  void clear();
  // Waits until a line with index >= from contains `text`; gives its index and text.
  bool waitFor(const std::string& text, size_t from, std::chrono::milliseconds timeout, size_t* index,
               std::string* line);
  // Wakes every waiter (at shutdown).
  void wakeAll();

  static constexpr size_t kKeptLines = 50000;

 private:
  void add(std::string line);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  size_t first_ = 0;  // index of lines_.front()
  std::chrono::steady_clock::time_point start_;
  std::FILE* file_ = nullptr;
  bool closing_ = false;
};

std::string hexString(const Bytes& bytes);
// Parses "F0 42 30" or "F04230"; false on anything that is not pairs of hex digits.
bool parseHex(const std::string& text, Bytes& out);

}  // namespace synthemu
