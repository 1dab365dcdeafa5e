// Each kind of control of the real editor, driven by scripted mouse and key input in vexmir-host: the edit reaches
// the plug-in (the host is told of the new value) and the control's area is drawn again. The controls are taken
// from the dump of the bundle (tools/vexmir-dump), the first of each kind that takes the mouse when the editor opens.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/host/run_host.h"
#include "tests/uiconfig/bundle_dump.h"

namespace {

struct Shown {
  int param = -1;
  int x = 0, y = 0, w = 0, h = 0;
  int texts = 0;  // value texts of the parameter
};

// The first shown control of each kind, from the dump.
std::map<std::string, Shown> shownControls(int* openTab) {
  std::map<std::string, Shown> out;
  std::istringstream in(bundleDump());
  std::string line;
  int param = -1, texts = 0;
  std::vector<std::pair<std::string, Shown>> pending;
  auto flush = [&] {
    for (auto& [kind, s] : pending) {
      s.texts = texts;
      // A menu needs a second choice to move to (the port choosers list the machine's ports, not shown here).
      if (kind != "menu" || texts > 1) out.emplace(kind, s);
    }
    pending.clear();
  };
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.compare(0, 9, "open tab ") == 0) *openTab = std::atoi(line.c_str() + 9);
    if (line[0] != ' ') {
      flush();
      param = std::atoi(line.c_str());
      texts = 0;
      continue;
    }
    std::istringstream w(line);
    std::string kind, at, size, flag;
    w >> kind >> at >> size >> flag;
    if (kind == "texts") {
      texts = 1;
      for (char c : line) texts += c == '|';
      continue;
    }
    Shown s;
    s.param = param;
    if (std::sscanf(at.c_str(), "%d,%d", &s.x, &s.y) != 2 || std::sscanf(size.c_str(), "%dx%d", &s.w, &s.h) != 2)
      continue;
    if (flag == "shown" && s.w > 2 && s.h > 2) pending.emplace_back(kind, s);
  }
  flush();
  return out;
}

// True when the dump lists any control of the kind, shown or not.
bool anyOfKind(const std::string& kind) {
  return bundleDump().find("\n  " + kind + " ") != std::string::npos;
}

std::string num(int v) {
  return std::to_string(v);
}

// True when a "window draws" line after the input holds an area that meets the control.
bool redrawn(const std::string& out, const Shown& s) {
  const size_t input = out.find("-- input --");
  std::istringstream in(out.substr(input == std::string::npos ? 0 : input));
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 12, "window draws") != 0) continue;
    size_t pos = 0;
    while ((pos = line.find('[', pos)) != std::string::npos) {
      int x, y, w, h;
      if (std::sscanf(line.c_str() + pos, "[%d,%d %dx%d]", &x, &y, &w, &h) == 4 && x < s.x + s.w && s.x < x + w &&
          y < s.y + s.h && s.y < y + h)
        return true;
      ++pos;
    }
  }
  return false;
}

struct Case {
  const char* kind;
  const char* path;  // cocoa or carbon
  std::string (*input)(const Shown&);
};

const Case kCases[] = {
    {"knob", "cocoa",
     [](const Shown& s) {
       const int cx = s.x + s.w / 2, cy = s.y + s.h / 2;
       return "drag " + num(cx) + " " + num(cy) + " " + num(cx) + " " + num(cy - 40) + " steps=4\n";
     }},
    {"switch", "cocoa", [](const Shown& s) { return "click " + num(s.x + s.w / 2) + " " + num(s.y + s.h / 2) + "\n"; }},
    {"button", "cocoa", [](const Shown& s) { return "click " + num(s.x + s.w / 2) + " " + num(s.y + s.h / 2) + "\n"; }},
    {"radio", "cocoa", [](const Shown& s) { return "click " + num(s.x + s.w - 2) + " " + num(s.y + s.h - 2) + "\n"; }},
    {"menu", "cocoa",
     [](const Shown& s) {
       return "menu choose " + num(s.texts > 1 ? s.texts - 1 : 0) + "\nclick " + num(s.x + s.w / 2) + " " +
              num(s.y + s.h / 2) + "\n";
     }},
    {"slider", "cocoa",
     [](const Shown& s) {
       return "drag " + num(s.x + s.w / 2) + " " + num(s.y + s.h / 2) + " " + num(s.x + 2) + " " + num(s.y + 2) +
              " steps=4\n";
     }},
    {"name", "cocoa",
     [](const Shown& s) {
       return "click " + num(s.x + s.w / 2) + " " + num(s.y + s.h / 2) + "\npump 1\ntype Lead\nkey return\n";
     }},
    {"name", "carbon",
     [](const Shown& s) {
       return "click " + num(s.x + s.w / 2) + " " + num(s.y + s.h / 2) + "\npump 1\ntype Lead\nkey return\n";
     }},
};

}  // namespace

TEST(MouseInput, EachControlKindEditsItsParameterAndRedraws) {
  int openTab = -1;
  const std::map<std::string, Shown> shown = shownControls(&openTab);
  ASSERT_FALSE(shown.empty()) << "the dump of the bundle listed no control";
  // Knobs and sliders live on the main tabs: the editor opens on one once the tab logic shows it.
  const bool tabShown = openTab > 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.kind) + " on the " + c.path + " path");
    auto it = shown.find(c.kind);
    if (it == shown.end()) {
      const bool onTabsOnly = std::string(c.kind) == "knob" || std::string(c.kind) == "slider";
      // The description binds no slider at all so far: nothing to drive then.
      const bool described = std::string(c.kind) != "slider" || anyOfKind("slider");
      if ((tabShown || !onTabsOnly) && described)
        ADD_FAILURE() << "no " << c.kind << " takes the mouse when the editor opens";
      continue;
    }
    const Shown& s = it->second;
    ScratchDir dir;
    const std::string script = std::string("editor open ") + c.path + "\npump 2\nwindow draws\necho -- input --\n" +
                               c.input(s) + "pump 2\nwindow draws\n";
    const HostRun r = runHost(pluginBundlePath(), script, dir, {}, {"VEXMIR_ROOT=" + dir.path()});
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    // The transcript leaves out an index of 0.
    EXPECT_TRUE(r.has(s.param ? "audioMasterAutomate(0) index=" + num(s.param) + " " : "audioMasterAutomate(0) opt="))
        << r.out;
    EXPECT_TRUE(redrawn(r.out, s)) << r.out;
  }
}
