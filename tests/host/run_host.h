// Runs vexmir-host as a child process on a script and collects what it printed and how it ended. Link
// vexmir-hostrun to use it; VEXMIR_ROOT and other settings for the plug-in go in the env entries.
#pragma once

#include <string>
#include <vector>

struct HostRun {
  bool exited = false;  // false: killed by a signal (a crash)
  int exitCode = -1;
  std::string out;
  std::string err;
  // True when some line of out contains text.
  bool has(const std::string& text) const { return out.find(text) != std::string::npos; }
};

// A fresh folder for one test's files, removed with its contents at destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;

 private:
  std::string path_;
};

// The plug-in bundle of this build: "$VEXMIR_BUILD_DIR/Vexmir Editor.vst" ("" when the variable is unset).
std::string pluginBundlePath();
// The vexmir-host program of this build.
std::string hostExecutable();

// Runs the host with args (options, plug-in, script file) in dir, with extra NAME=VALUE environment entries.
HostRun runHostArgs(const std::vector<std::string>& args, const ScratchDir& dir,
                    const std::vector<std::string>& env = {});
// Writes script to dir/script.txt and runs the host on plugin with it.
HostRun runHost(const std::string& plugin, const std::string& script, const ScratchDir& dir,
                const std::vector<std::string>& options = {}, const std::vector<std::string>& env = {});
