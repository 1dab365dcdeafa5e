#include "tools/synth-emulator/MessageLog.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace synthemu {

MessageLog::MessageLog() : start_(std::chrono::steady_clock::now()) {}

MessageLog::~MessageLog() {
  if (file_) std::fclose(file_);
}

bool MessageLog::openFile(const std::string& path, std::string* error) {
  file_ = std::fopen(path.c_str(), "a");
  if (!file_) {
    *error = "cannot open log file " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string hexString(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  s.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

bool parseHex(const std::string& text, Bytes& out) {
  out.clear();
  int nibble = -1;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (nibble >= 0) return false;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
    if (nibble < 0) {
      nibble = v;
    } else {
      out.push_back(static_cast<uint8_t>(nibble << 4 | v));
      nibble = -1;
    }
  }
  return nibble < 0;
}

void MessageLog::add(std::string line) {
  double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%.6f ", t);
  line.insert(0, stamp);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_) {
      std::fprintf(file_, "%s\n", line.c_str());
      std::fflush(file_);
    }
    lines_.push_back(std::move(line));
    if (lines_.size() > kKeptLines) {
      lines_.pop_front();
      ++first_;
    }
  }
  changed_.notify_all();
}

void MessageLog::message(const char* direction, const Bytes& bytes) {
  add(std::string(direction) + " " + hexString(bytes));
}

void MessageLog::note(const std::string& text) {
  add("note " + text);
}

size_t MessageLog::end() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return first_ + lines_.size();
}

std::vector<std::string> MessageLog::linesFrom(size_t from) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (size_t i = from > first_ ? from - first_ : 0; i < lines_.size(); ++i) out.push_back(lines_[i]);
  return out;
}

void MessageLog::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  first_ += lines_.size();
  lines_.clear();
}

bool MessageLog::waitFor(const std::string& text, size_t from, std::chrono::milliseconds timeout, size_t* index,
                         std::string* line) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  size_t next = from;
  for (;;) {
    for (size_t i = next > first_ ? next - first_ : 0; i < lines_.size(); ++i) {
      // The text is looked for after the time stamp, so that "in F0" cannot match inside a number.
      const std::string& l = lines_[i];
      size_t body = l.find(' ');
      if (l.find(text, body == std::string::npos ? 0 : body + 1) != std::string::npos) {
        *index = first_ + i;
        *line = l;
        return true;
      }
    }
    next = std::max(next, first_ + lines_.size());
    if (closing_ || std::chrono::steady_clock::now() >= deadline) return false;
    changed_.wait_until(lock, deadline);
  }
}

void MessageLog::wakeAll() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
}

}  // namespace synthemu
