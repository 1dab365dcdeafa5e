#include "tools/vexmir-host/script.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace vexhost {

namespace {
std::map<std::string, StepDef>& registry() {
  static std::map<std::string, StepDef> r;
  return r;
}
}  // namespace

StepRegistrar::StepRegistrar(const StepDef& def) {
  registry()[def.name] = def;
}

const StepDef* findStep(const std::string& name) {
  auto it = registry().find(name);
  return it == registry().end() ? nullptr : &it->second;
}

std::vector<const StepDef*> allSteps() {
  std::vector<const StepDef*> v;
  for (auto& kv : registry()) v.push_back(&kv.second);
  return v;
}

bool Session::needPlugin(std::string* error) {
  if (closed) {
    *error = "the plug-in was closed";
    return false;
  }
  if (host.loaded()) return true;
  if (pluginPath.empty()) {
    *error = "no plug-in given";
    return false;
  }
  return host.load(pluginPath, error);
}

bool parseInt(const std::string& text, long long* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (*end != 0 || errno == ERANGE) return false;
  *out = v;
  return true;
}

bool parseFloat(const std::string& text, double* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != 0 || errno == ERANGE || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool StepArgs::intKey(const std::string& key, long long* out, std::string* error) const {
  auto it = keys.find(key);
  if (it == keys.end()) return true;
  if (!parseInt(it->second, out)) {
    *error = key + "=" + it->second + " is not an integer";
    return false;
  }
  return true;
}

bool StepArgs::floatKey(const std::string& key, double* out, std::string* error) const {
  auto it = keys.find(key);
  if (it == keys.end()) return true;
  if (!parseFloat(it->second, out)) {
    *error = key + "=" + it->second + " is not a number";
    return false;
  }
  return true;
}

bool StepArgs::onlyKeys(std::initializer_list<const char*> allowed, std::string* error) const {
  for (auto& kv : keys) {
    bool ok = false;
    for (const char* a : allowed) ok = ok || kv.first == a;
    if (!ok) {
      *error = "unknown argument " + kv.first + "= for " + step;
      return false;
    }
  }
  return true;
}

bool splitLine(const std::string& line, std::vector<std::string>* words, std::vector<bool>* hasKey,
               std::string* error) {
  words->clear();
  hasKey->clear();
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= n || line[i] == '#') break;
    std::string word;
    bool quoted = false, sawQuote = false, key = false;
    while (i < n) {
      const char c = line[i];
      if (!quoted && (c == ' ' || c == '\t' || c == '\r')) break;
      if (c == '"') {
        quoted = !quoted;
        sawQuote = true;
        ++i;
        continue;
      }
      if (quoted && c == '\\') {
        if (i + 1 >= n) break;
        const char e = line[i + 1];
        if (e == 'n')
          word += '\n';
        else if (e == 't')
          word += '\t';
        else if (e == '"' || e == '\\')
          word += e;
        else {
          *error = std::string("unknown escape \\") + e;
          return false;
        }
        i += 2;
        continue;
      }
      if (c == '$' && i + 1 < n && line[i + 1] == '{') {
        const size_t close = line.find('}', i + 2);
        if (close == std::string::npos) {
          *error = "unterminated ${";
          return false;
        }
        const std::string name = line.substr(i + 2, close - i - 2);
        const char* v = name.empty() ? nullptr : std::getenv(name.c_str());
        if (!v) {
          *error = "undefined variable ${" + name + "}";
          return false;
        }
        word += v;
        i = close + 1;
        continue;
      }
      // The first = outside quotes of a word makes it a key=value pair.
      if (c == '=' && !quoted && !sawQuote && !key && !word.empty()) key = true;
      word += c;
      ++i;
    }
    if (quoted) {
      *error = "unterminated quote";
      return false;
    }
    words->push_back(word);
    hasKey->push_back(key);
  }
  return true;
}

bool parseScript(const std::string& text, const std::string& name, std::vector<ScriptStep>* steps, std::string* error) {
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    std::vector<std::string> words;
    std::vector<bool> hasKey;
    std::string why;
    const std::string where = name + ":" + std::to_string(lineNo) + ": ";
    if (!splitLine(line, &words, &hasKey, &why)) {
      *error = where + why;
      return false;
    }
    if (words.empty()) continue;
    if (hasKey[0]) {
      *error = where + "a line must start with a step name, not " + words[0];
      return false;
    }
    const StepDef* def = findStep(words[0]);
    if (!def) {
      *error = where + "unknown step \"" + words[0] + "\"";
      return false;
    }
    StepArgs args;
    args.step = words[0];
    args.line = lineNo;
    for (size_t i = 1; i < words.size(); ++i) {
      if (hasKey[i]) {
        const size_t eq = words[i].find('=');
        const std::string k = words[i].substr(0, eq);
        if (args.keys.count(k)) {
          *error = where + "argument " + k + "= given twice";
          return false;
        }
        args.keys[k] = words[i].substr(eq + 1);
      } else {
        args.words.push_back(words[i]);
      }
    }
    StepAction action = def->parse(args, &why);
    if (!action) {
      *error = where + why + " (usage: " + def->usage + ")";
      return false;
    }
    size_t first = line.find_first_not_of(" \t");
    steps->push_back({lineNo, line.substr(first == std::string::npos ? 0 : first), std::move(action), words[0]});
  }
  return true;
}

}  // namespace vexhost
