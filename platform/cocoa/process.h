// The headless model of the platform's child-process task, process activities (the App Nap switch), process
// activation and the Foundation version number.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/cocoa/object.h"

namespace cocoa {

class Task : public Object {
 public:
  void setLaunchPath(std::string path) { launchPath_ = std::move(path); }
  void setArguments(std::vector<std::string> args) { arguments_ = std::move(args); }
  // Starts the program. Throws std::runtime_error when it cannot be started (the platform raises an exception).
  void launch();
  // Any thread. Whether the process still runs; reaps it once it has ended.
  bool isRunning();
  pid_t processIdentifier() const { return pid_; }
  // Valid once isRunning has answered false: the exit status, or 128 + signal.
  int terminationStatus();

 protected:
  ~Task() override;

 private:
  std::string launchPath_;
  std::vector<std::string> arguments_;
  pid_t pid_ = -1;
  struct State;
  State* state_ = nullptr;
};

// Process activities that hold off the platform's idle throttling.
class Activity : public Object {
 public:
  Activity(unsigned long long options, std::string reason) : options(options), reason(std::move(reason)) {}
  const unsigned long long options;
  const std::string reason;
};

namespace processinfo {
// A new activity (retained by the caller) counted as active until endActivity.
Activity* beginActivity(unsigned long long options, const std::string& reason);
void endActivity(Activity* activity);
int activeActivityCount();
// The Foundation version that the layer compares against; settable so that tests can act as an older system.
double foundationVersionNumber();
void setFoundationVersionNumber(double v);
}  // namespace processinfo

// Process activation: find a process by id and bring it to the front.
namespace processes {
// True when a process of that id exists.
bool processForPID(pid_t pid);
bool setFrontProcess(pid_t pid);
pid_t frontProcess();
}  // namespace processes

}  // namespace cocoa
