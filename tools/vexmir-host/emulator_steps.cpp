// Steps that talk to the synthesizer emulator's command socket while the script runs, so that a script can make
// the emulator act (turn a knob, send a dump) between its own steps and wait for what the emulator receives.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/vexmir-host/host.h"
#include "tools/vexmir-host/script.h"

namespace vexhost {
namespace {

StepAction fail(std::string* error, const std::string& why) {
  *error = why;
  return StepAction();
}

// One command on a fresh connection: the reply's data lines and its closing "ok ..." or "error ..." line.
bool emulatorCommand(const std::string& command, std::string* closing, std::string* error) {
  const char* path = std::getenv("VEXMIR_EMULATOR_SOCKET");
  if (!path || !*path) {
    *error = "VEXMIR_EMULATOR_SOCKET is not set";
    return false;
  }
  sockaddr_un addr{};
  if (std::strlen(path) >= sizeof addr.sun_path) {
    *error = "emulator socket path too long";
    return false;
  }
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path);
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    *error = std::string("cannot reach the emulator: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  std::string out = command + "\n";
  bool ok = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size());
  std::string buffer;
  while (ok) {
    size_t nl;
    while ((nl = buffer.find('\n')) != std::string::npos) {
      std::string line = buffer.substr(0, nl);
      buffer.erase(0, nl + 1);
      if (line == "ok" || line.rfind("ok ", 0) == 0 || line.rfind("error", 0) == 0) {
        *closing = line;
        ::close(fd);
        return true;
      }
    }
    char chunk[4096];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    buffer.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  *error = "the emulator closed the connection";
  return false;
}

// The log index from which `emulator expect` waits, set by `emulator mark`.
long long& logMark() {
  static long long mark = 0;
  return mark;
}

StepAction parseEmulator(const StepArgs& a, std::string* error) {
  if (a.words.empty()) return fail(error, "emulator mark | emulator expect TEXT [timeout=MS] | emulator COMMAND...");
  if (a.words[0] == "mark" && a.words.size() == 1 && a.keys.empty()) {
    return [](Session& s, std::string* err) {
      std::string closing;
      if (!emulatorCommand("logsize", &closing, err)) return false;
      if (closing.rfind("ok ", 0) != 0) {
        *err = "emulator logsize: " + closing;
        return false;
      }
      logMark() = std::atoll(closing.c_str() + 3);
      s.host.out().line("emulator mark");
      return true;
    };
  }
  if (a.words[0] == "expect") {
    if (a.words.size() != 2 || !a.onlyKeys({"timeout"}, error)) return fail(error, "emulator expect TEXT [timeout=MS]");
    long long timeout = 10000;
    if (a.keys.count("timeout") && !a.intKey("timeout", &timeout, error)) return StepAction();
    const std::string text = a.words[1];
    return [text, timeout](Session& s, std::string* err) {
      std::string closing;
      const std::string command = "wait " + std::to_string(timeout) + " " + std::to_string(logMark()) + " " + text;
      if (!emulatorCommand(command, &closing, err)) return false;
      if (closing.rfind("ok", 0) != 0) {
        *err = "emulator never logged \"" + text + "\": " + closing;
        return false;
      }
      s.host.out().line("emulator saw " + quoted(text.c_str(), text.size() + 1));
      return true;
    };
  }
  std::string command;
  for (const std::string& w : a.words) command += (command.empty() ? "" : " ") + w;
  for (const auto& kv : a.keys) command += " " + kv.first + "=" + kv.second;
  return [command](Session& s, std::string* err) {
    std::string closing;
    if (!emulatorCommand(command, &closing, err)) return false;
    s.host.out().line("emulator " + command + " -> " + closing);
    if (closing.rfind("error", 0) == 0) {
      *err = "emulator " + command + ": " + closing;
      return false;
    }
    return true;
  };
}

static StepRegistrar emulatorStep({"emulator",
                                   "emulator mark | emulator expect TEXT [timeout=MS] | emulator COMMAND...",
                                   parseEmulator});

}  // namespace
}  // namespace vexhost
