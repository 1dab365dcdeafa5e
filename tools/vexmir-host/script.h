// The step script: one step per line, parsed completely before anything runs so that a syntax error never leaves a
// plug-in half driven. Steps register themselves by name; a new kind of step is a new StepRegistrar in any source file
// of this tool.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/vexmir-host/host.h"

namespace vexhost {

// True once the host was asked to stop (SIGINT or SIGTERM): the script ends before its next step, and steps that
// wait cut their wait short.
bool interrupted();

// State shared by the steps of one run.
struct Session {
  explicit Session(Host* h) : host(*h) {}
  Host& host;
  std::string pluginPath;  // from the command line; the first step that needs the plug-in loads it
  bool opened = false;     // effOpen was sent
  // effClose was sent (or is being sent, from any thread): the effect must not be touched again.
  std::atomic<bool> closed{false};
  // Chunk bytes handed to the plug-in stay alive for the run: a plug-in may keep the pointer past the call.
  std::vector<std::unique_ptr<std::vector<uint8_t>>> keptChunks;
  // While set, the steps run on this thread (`thread start` to `thread end`), as a host runs its editor on one.
  std::unique_ptr<JobThread> stepThread;
  // Steps on threads of their own (`aside`). endAsides() gives up the waits that remain and waits for the steps that
  // run, before the host closes the plug-in at the end.
  std::vector<std::thread> asides;
  std::atomic<bool> asidesOver{false};
  void endAsides();

  // Loads the plug-in when not yet loaded and checks it is still usable.
  bool needPlugin(std::string* error);
};

// The words of one line after the step name: positional words and key=value pairs, both unquoted.
struct StepArgs {
  std::string step;
  std::vector<std::string> words;
  std::map<std::string, std::string> keys;
  int line = 0;

  // Parsers for the values; each returns false with *error naming the offending text.
  bool intKey(const std::string& key, long long* out, std::string* error) const;
  bool floatKey(const std::string& key, double* out, std::string* error) const;
  bool onlyKeys(std::initializer_list<const char*> allowed, std::string* error) const;
};

bool parseInt(const std::string& text, long long* out);
bool parseFloat(const std::string& text, double* out);

using StepAction = std::function<bool(Session&, std::string* error)>;
// Turns the arguments into an action, or returns an empty action with *error set.
using StepParser = StepAction (*)(const StepArgs&, std::string* error);

struct StepDef {
  const char* name;
  const char* usage;
  StepParser parse;
};

class StepRegistrar {
 public:
  explicit StepRegistrar(const StepDef& def);
};

const StepDef* findStep(const std::string& name);
std::vector<const StepDef*> allSteps();

struct ScriptStep {
  int line;
  std::string text;
  StepAction action;
  std::string name;
};

// Runs one step: on the step thread while one runs (the `thread` steps themselves on the caller's).
bool runStep(Session& session, ScriptStep& step, std::string* error);

// Splits one line into words: blanks separate, double quotes group (with \" \\ \n \t escapes), # starts a comment
// outside quotes, ${NAME} takes an environment variable. False with *error on a syntax fault.
bool splitLine(const std::string& line, std::vector<std::string>* words, std::vector<bool>* hasKey, std::string* error);

// Parses a whole script. False with *error ("<name>:<line>: ...") at the first fault.
bool parseScript(const std::string& text, const std::string& name, std::vector<ScriptStep>* steps, std::string* error);

}  // namespace vexhost
