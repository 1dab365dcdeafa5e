// The plug-in's life as a Linux host lives it: the editor opened, idled and closed on a thread of the host's own
// (Ardour's "LXVSTEventLoop"), the module unloaded with dlclose when the plug-in is removed, and that thread ended
// afterwards, when its thread-local objects go. Anything the plug-in left with the thread then runs code that is gone.
#include <string>

#include "tools/vexmir-host/script.h"

namespace vexhost {

bool runStep(Session& session, ScriptStep& step, std::string* error) {
  if (!session.stepThread || step.name == "thread") return step.action(session, error);
  bool ok = false;
  session.stepThread->run([&] { ok = step.action(session, error); });
  return ok;
}

namespace {

StepAction fail(std::string* error, const std::string& why) {
  *error = why;
  return {};
}

StepAction parseThread(const StepArgs& a, std::string* error) {
  if (a.words.size() != 1 || !a.keys.empty() || (a.words[0] != "start" && a.words[0] != "end"))
    return fail(error, "thread start | thread end");
  if (a.words[0] == "start") {
    return [](Session& s, std::string* err) {
      if (s.stepThread) {
        *err = "a step thread is already running";
        return false;
      }
      s.stepThread = std::make_unique<JobThread>(false);
      s.host.out().line("thread start");
      return true;
    };
  }
  return [](Session& s, std::string* err) {
    if (!s.stepThread) {
      *err = "no step thread is running (thread start)";
      return false;
    }
    s.stepThread.reset();
    s.host.out().line("thread end");
    return true;
  };
}

StepAction parseUnload(const StepArgs& a, std::string* error) {
  if (!a.words.empty() || !a.keys.empty()) return fail(error, "unload takes no arguments");
  return [](Session& s, std::string* err) {
    if (!s.host.loaded()) {
      *err = "no plug-in is loaded";
      return false;
    }
    if (!s.closed) {
      *err = "the plug-in is still open (close it first)";
      return false;
    }
    const bool gone = s.host.unload();
    s.host.out().line(gone ? "unload: the module is unmapped" : "unload: the module stays loaded");
    // The next step that needs the plug-in loads it anew.
    s.opened = false;
    s.closed = false;
    return true;
  };
}

const StepRegistrar kThreadStep({"thread", "thread start | thread end", parseThread});
const StepRegistrar kUnloadStep({"unload", "unload", parseUnload});

}  // namespace

}  // namespace vexhost
