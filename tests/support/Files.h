// Files and shell commands as the tests use them: a file read or written whole, a text quoted for the shell, and
// what a command printed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vexmir::testsupport {

// The whole file; empty when it cannot be read.
inline std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
  const std::string text = readText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

// Replaces the file's contents.
inline void writeText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}
inline void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  writeText(path, std::string(bytes.begin(), bytes.end()));
}

// The text as one word of a shell command line.
inline std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// What `command` (run by the shell) printed on its standard output; its wait status in `status`.
inline std::string commandOutput(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int end = pclose(p);
  if (status) *status = end;
  return out;
}

}  // namespace vexmir::testsupport
