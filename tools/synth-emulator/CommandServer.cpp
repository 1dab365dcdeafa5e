#include "tools/synth-emulator/CommandServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/synth-emulator/Emulator.h"

namespace synthemu {

namespace {

bool writeAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = ::write(fd, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Serves one connection or stream: reads lines, answers each; ends on EOF, error, quit or `stopping`.
void serveLines(Emulator& emulator, int inFd, int outFd, const std::atomic<bool>* stopping) {
  std::string pending;
  char buf[65536];
  for (;;) {
    if (emulator.quitRequested() || (stopping && *stopping)) return;
    pollfd p{inFd, POLLIN, 0};
    int rc = ::poll(&p, 1, 200);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return;
    if (rc == 0) continue;
    ssize_t n = ::read(inFd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    pending.append(buf, static_cast<size_t>(n));
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      if (!writeAll(outFd, emulator.execute(line))) return;
    }
    if (pending.size() > (64u << 20)) {
      writeAll(outFd, "error command line too long\n");
      return;
    }
  }
}

}  // namespace

CommandServer::~CommandServer() {
  stop();
}

bool CommandServer::listen(const std::string& path, std::string* error) {
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    *error = "socket path must be 1 to " + std::to_string(sizeof addr.sun_path - 1) + " characters: " + path;
    return false;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    *error = std::string("cannot create a socket: ") + std::strerror(errno);
    return false;
  }
  // A socket file left by an emulator that died is replaced; a live one is not.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = path + " exists and is not a socket";
      return false;
    }
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool alive = ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(probe);
    if (alive) {
      *error = "another program already listens on " + path;
      return false;
    }
    ::unlink(path.c_str());
  }
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 16) != 0) {
    *error = "cannot listen on " + path + ": " + std::strerror(errno);
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  path_ = path;
  acceptThread_ = std::thread([this] { acceptLoop(); });
  return true;
}

void CommandServer::acceptLoop() {
  while (!stopping_) {
    pollfd p{listenFd_, POLLIN, 0};
    int rc = ::poll(&p, 1, 200);
    if (rc <= 0) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(clientsMutex_);
    clientThreads_.emplace_back([this, fd] { serveClient(fd); });
  }
}

void CommandServer::serveClient(int fd) {
  try {
    serveLines(emulator_, fd, fd, &stopping_);
  } catch (...) {
    // A failing connection must not take the emulator down; the client sees the connection close.
  }
  ::close(fd);
}

void CommandServer::stop() {
  stopping_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  std::list<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    threads.swap(clientThreads_);
  }
  for (std::thread& t : threads) t.join();
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    ::unlink(path_.c_str());
  }
}

void CommandServer::serveStream(Emulator& emulator, int inFd, int outFd) {
  try {
    serveLines(emulator, inFd, outFd, nullptr);
  } catch (...) {
  }
}

}  // namespace synthemu
