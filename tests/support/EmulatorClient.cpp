#include "tests/support/EmulatorClient.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vexmir::testsupport {

namespace {

std::string env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  if (v && *v) return v;
  if (fallback) return fallback;
  throw std::runtime_error(std::string(name) +
                           " is not set: register the test with vexmir_test(... FIXTURES jack emulator)");
}

}  // namespace

bool isFunction(const Bytes& message, uint8_t function) {
  return message.size() >= 6 && message[0] == 0xF0 && message[4] == function;
}

std::string toHex(const Bytes& bytes) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += d[bytes[i] >> 4];
    s += d[bytes[i] & 15];
  }
  return s;
}

Bytes fromHex(const std::string& text) {
  Bytes out;
  int hi = -1;
  for (char c : text) {
    if (c == ' ') continue;
    int v = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                   : -1;
    if (v < 0) throw std::runtime_error("not hex: \"" + text.substr(0, 60) + "\"");
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi << 4 | v));
      hi = -1;
    }
  }
  if (hi >= 0) throw std::runtime_error("odd number of hex digits");
  return out;
}

std::string EmulatorClient::defaultSocketPath() {
  return env("VEXMIR_EMULATOR_SOCKET", nullptr);
}
std::string EmulatorClient::emulatorInPort() {
  return env("VEXMIR_EMULATOR_IN_PORT", "Vexmir Synth Emulator:MIDI In");
}
std::string EmulatorClient::emulatorOutPort() {
  return env("VEXMIR_EMULATOR_OUT_PORT", "Vexmir Synth Emulator:MIDI Out");
}

EmulatorClient::EmulatorClient(const std::string& socketPath) {
  sockaddr_un addr{};
  if (socketPath.size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long: " + socketPath);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::string why = std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw std::runtime_error("cannot connect to the emulator at " + socketPath + ": " + why);
  }
}

EmulatorClient::~EmulatorClient() {
  if (fd_ >= 0) ::close(fd_);
}

std::string EmulatorClient::readLine() {
  for (;;) {
    size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return line;
    }
    char buf[65536];
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("the emulator closed the command connection");
    pending_.append(buf, static_cast<size_t>(n));
  }
}

EmulatorReply EmulatorClient::command(const std::string& line) {
  std::string out = line + "\n";
  for (size_t done = 0; done < out.size();) {
    ssize_t n = ::send(fd_, out.data() + done, out.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("cannot send to the emulator: " + std::string(std::strerror(errno)));
    done += static_cast<size_t>(n);
  }
  EmulatorReply reply;
  for (;;) {
    std::string l = readLine();
    if (l == "ok" || l.rfind("ok ", 0) == 0) {
      reply.ok = true;
      reply.value = l.size() > 3 ? l.substr(3) : "";
      return reply;
    }
    if (l.rfind("error", 0) == 0) {
      reply.value = l.size() > 6 ? l.substr(6) : "";
      return reply;
    }
    reply.lines.push_back(l);
  }
}

std::string EmulatorClient::check(const std::string& line) {
  EmulatorReply r = command(line);
  if (!r.ok) throw std::runtime_error("emulator command \"" + line.substr(0, 80) + "\" failed: " + r.value);
  return r.value;
}

void EmulatorClient::reset() {
  check("reset");
  check("clearlog");
}

Bytes EmulatorClient::editBuffer() {
  return fromHex(check("get edit"));
}
Bytes EmulatorClient::program(int number) {
  return fromHex(check("get program " + std::to_string(number)));
}
Bytes EmulatorClient::globalData() {
  return fromHex(check("get global"));
}
int EmulatorClient::editByte(int offset) {
  return std::stoi(check("get edit " + std::to_string(offset)));
}
std::string EmulatorClient::editName() {
  return check("get name edit");
}
std::string EmulatorClient::programName(int number) {
  return check("get name " + std::to_string(number));
}
int EmulatorClient::channel() {
  return std::stoi(check("get channel"));
}
int EmulatorClient::currentProgram() {
  return std::stoi(check("state program"));
}
void EmulatorClient::setChannel(int channel) {
  check("channel " + std::to_string(channel));
}
void EmulatorClient::setEditByte(int offset, int value) {
  check("set edit " + std::to_string(offset) + " " + std::to_string(value));
}
void EmulatorClient::loadEdit(const Bytes& data) {
  check("load edit " + toHex(data));
}
void EmulatorClient::loadProgram(int number, const Bytes& data) {
  check("load program " + std::to_string(number) + " " + toHex(data));
}
void EmulatorClient::loadGlobal(const Bytes& data) {
  check("load global " + toHex(data));
}

size_t EmulatorClient::logMark() {
  return std::stoul(check("logsize"));
}

std::vector<std::string> EmulatorClient::log(size_t from) {
  EmulatorReply r = command("log " + std::to_string(from));
  if (!r.ok) throw std::runtime_error("emulator log: " + r.value);
  return r.lines;
}

int EmulatorClient::countLog(const std::string& text, size_t from) {
  int n = 0;
  for (const std::string& line : log(from)) n += line.find(text) != std::string::npos;
  return n;
}

void EmulatorClient::clearLog() {
  check("clearlog");
}

std::optional<std::string> EmulatorClient::waitForLog(const std::string& text, size_t from,
                                                      std::chrono::milliseconds timeout) {
  EmulatorReply r = command("wait " + std::to_string(timeout.count()) + " " + std::to_string(from) + " " + text);
  if (!r.ok) {
    if (r.value.rfind("timeout", 0) == 0) return std::nullopt;
    throw std::runtime_error("emulator wait: " + r.value);
  }
  size_t sp = r.value.find(' ');
  return sp == std::string::npos ? r.value : r.value.substr(sp + 1);
}

const Bytes& EmulatorClient::inputProbe() {
  static const Bytes probe{0xF0, 0x7D, 0x01, 0xF7};
  return probe;
}

const Bytes& EmulatorClient::outputProbe() {
  static const Bytes probe{0xF0, 0x7D, 0x02, 0xF7};
  return probe;
}

bool EmulatorClient::awaitInput(const std::function<void()>& sendProbe, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  size_t mark = logMark();
  do {
    sendProbe();
    if (waitForLog("in " + toHex(inputProbe()), mark, std::chrono::milliseconds(300))) return true;
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

bool EmulatorClient::awaitOutput(const std::function<bool(std::chrono::milliseconds)>& arrived,
                                 std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    check("send raw " + toHex(outputProbe()));
    if (arrived(std::chrono::milliseconds(300))) return true;
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

}  // namespace vexmir::testsupport
