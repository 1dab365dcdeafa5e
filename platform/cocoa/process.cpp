#include "platform/cocoa/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>

extern char** environ;

namespace cocoa {

struct Task::State {
  std::mutex mutex;
  bool reaped = false;
  int status = 0;
};

Task::~Task() {
  // A task released while its process runs leaves the process running; reap it when it has already ended so that
  // no zombie stays behind.
  if (state_ && pid_ > 0 && !state_->reaped) {
    int st;
    waitpid(pid_, &st, WNOHANG);
  }
  delete state_;
}

void Task::launch() {
  if (pid_ > 0) throw std::runtime_error("task already launched");
  if (launchPath_.empty()) throw std::runtime_error("task has no launch path");
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(launchPath_.c_str()));
  for (auto& a : arguments_) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, launchPath_.c_str(), nullptr, nullptr, argv.data(), environ);
  if (rc != 0) throw std::runtime_error(std::string("launch failed: ") + strerror(rc));
  pid_ = pid;
  state_ = new State;
}

bool Task::isRunning() {
  if (pid_ <= 0 || !state_) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->reaped) return false;
  int st = 0;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == 0) return true;
  state_->reaped = true;
  if (r == pid_) state_->status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
  return false;
}

int Task::terminationStatus() {
  if (!state_) return 0;
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->status;
}

namespace processinfo {
namespace {
std::atomic<int> g_active{0};
std::atomic<double> g_version{1673.126};
}  // namespace

Activity* beginActivity(unsigned long long options, const std::string& reason) {
  g_active.fetch_add(1);
  return new Activity(options, reason);
}

void endActivity(Activity* activity) {
  if (activity) g_active.fetch_sub(1);
}

int activeActivityCount() {
  return g_active.load();
}
double foundationVersionNumber() {
  return g_version.load();
}
void setFoundationVersionNumber(double v) {
  g_version.store(v);
}
}  // namespace processinfo

namespace processes {
namespace {
std::atomic<pid_t> g_front{0};
}

bool processForPID(pid_t pid) {
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

bool setFrontProcess(pid_t pid) {
  if (!processForPID(pid)) return false;
  g_front.store(pid);
  return true;
}

pid_t frontProcess() {
  return g_front.load();
}
}  // namespace processes

}  // namespace cocoa
