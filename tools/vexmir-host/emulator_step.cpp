// `emulator WORDS...`: one command to the synthesizer emulator's command socket, so that a script can make the
// emulator act (turn a knob, send a program change) or ask for its state between editor steps. The socket is
// socket=PATH, else $VEXMIR_EMULATOR_SOCKET.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/vexmir-host/script.h"

namespace vexhost {
namespace {

// Sends one command line and collects the reply lines up to the closing "ok ..." or "error ...".
bool askEmulator(const std::string& socketPath, const std::string& command, std::vector<std::string>* reply,
                 std::string* error) {
  sockaddr_un addr{};
  if (socketPath.size() >= sizeof addr.sun_path) return *error = "emulator socket path too long", false;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return *error = std::string("emulator socket: ") + std::strerror(errno), false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    *error = "cannot reach the emulator at " + socketPath + ": " + std::strerror(errno);
    close(fd);
    return false;
  }
  timeval limit{60, 0};  // the emulator's own waits are bounded well below this
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  const std::string line = command + "\n";
  bool ok = send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  std::string pending;
  bool done = false;
  char buffer[4096];
  while (ok && !done) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t end;
    while (!done && (end = pending.find('\n')) != std::string::npos) {
      std::string text = pending.substr(0, end);
      pending.erase(0, end + 1);
      reply->push_back(text);
      done = text == "ok" || text.rfind("ok ", 0) == 0 || text.rfind("error", 0) == 0;
    }
  }
  close(fd);
  if (!done) return *error = "the emulator did not answer \"" + command + "\"", false;
  return true;
}

StepAction parseEmulator(const StepArgs& a, std::string* error) {
  if (!a.onlyKeys({"socket"}, error)) return {};
  if (a.words.empty()) return *error = "emulator needs a command", StepAction();
  std::string command;
  for (const std::string& w : a.words) command += (command.empty() ? "" : " ") + w;
  auto key = a.keys.find("socket");
  const std::string socketKey = key == a.keys.end() ? "" : key->second;
  return [command, socketKey](Session& s, std::string* error) {
    std::string path = socketKey;
    if (path.empty()) {
      const char* env = std::getenv("VEXMIR_EMULATOR_SOCKET");
      if (!env || !*env) return *error = "no emulator socket (socket=PATH or $VEXMIR_EMULATOR_SOCKET)", false;
      path = env;
    }
    std::vector<std::string> reply;
    s.host.out().line("emulator " + command);
    if (!askEmulator(path, command, &reply, error)) return false;
    for (const std::string& line : reply) s.host.out().line("  " + line);
    if (reply.back().rfind("error", 0) == 0) return *error = "the emulator answered: " + reply.back(), false;
    return true;
  };
}

const StepRegistrar kEmulatorStep({"emulator", "emulator [socket=PATH] COMMAND...", parseEmulator});

}  // namespace
}  // namespace vexhost
