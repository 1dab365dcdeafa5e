// Line-based command interface on a Unix domain socket: every connection sends command lines and reads the
// replies (data lines, then one line starting with "ok" or "error").
#pragma once

#include <atomic>
#include <list>
#include <mutex>
#include <string>
#include <thread>

namespace synthemu {

class Emulator;

class CommandServer {
 public:
  explicit CommandServer(Emulator& emulator) : emulator_(emulator) {}
  ~CommandServer();

  bool listen(const std::string& path, std::string* error);
  void stop();

  // Reads commands from a stream (standard input) until it ends or the emulator quits.
  static void serveStream(Emulator& emulator, int inFd, int outFd);

 private:
  void acceptLoop();
  void serveClient(int fd);

  Emulator& emulator_;
  std::string path_;
  int listenFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::mutex clientsMutex_;
  std::list<std::thread> clientThreads_;
};

}  // namespace synthemu
