#include "tests/host/run_host.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/Files.h"

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vexmir-host-test-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

ScratchDir::~ScratchDir() {
  nftw(
      path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return std::remove(p); }, 16,
      FTW_DEPTH | FTW_PHYS);
}

void ScratchDir::write(const std::string& name, const std::string& content) const {
  vexmir::testsupport::writeText(file(name), content);
}

std::string ScratchDir::read(const std::string& name) const {
  return vexmir::testsupport::readText(file(name));
}

std::string pluginBundlePath() {
  const char* build = std::getenv("VEXMIR_BUILD_DIR");
  return build && *build ? std::string(build) + "/Vexmir Editor.vst" : std::string();
}

std::string hostExecutable() {
  return VEXMIR_HOST_EXE;
}

HostRun runHostArgs(const std::vector<std::string>& args, const ScratchDir& dir, const std::vector<std::string>& env) {
  const std::string outFile = dir.file("stdout.txt"), errFile = dir.file("stderr.txt");
  std::vector<std::string> argv{VEXMIR_HOST_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(&a[0]);
  cargv.push_back(nullptr);

  HostRun r;
  const pid_t pid = fork();
  if (pid < 0) return r;
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    const int o = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (o < 0 || e < 0 || in < 0) _exit(126);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    for (const std::string& kv : env) putenv(strdup(kv.c_str()));
    execv(cargv[0], cargv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  r.exited = WIFEXITED(status);
  r.exitCode = r.exited ? WEXITSTATUS(status) : -WTERMSIG(status);
  r.out = dir.read("stdout.txt");
  r.err = dir.read("stderr.txt");
  return r;
}

HostRun runHost(const std::string& plugin, const std::string& script, const ScratchDir& dir,
                const std::vector<std::string>& options, const std::vector<std::string>& env) {
  dir.write("script.txt", script);
  std::vector<std::string> args = options;
  args.push_back(plugin);
  args.push_back("script.txt");
  return runHostArgs(args, dir, env);
}
