// The real bundle as a Linux DAW treats it: the editor opened, idled and closed on a thread of the host's own, the
// module unloaded with dlclose and loaded again, and the thread ended afterwards; the host's keyboard left with the
// host while the editor is only clicked.
#include <gtest/gtest.h>

#include <string>

#include "tests/host/run_host.h"
#include "tests/x11/x11_support.h"

namespace {

using x11test::run;

// A knob of the sound editor dragged up with real input (the filter's cutoff).
const char* const kKnobDrag =
    "x11 input mousemove --window %HOST 44 380 mousedown 1 mousemove --window %HOST 44 370 mousemove --window "
    "%HOST 44 360 mouseup 1\n";

// After the module is gone, the thread that ran the editor ends: whatever the editor left with that thread (its run
// loop's timers, queued work) would now run code that is no longer mapped. Loaded again on the same thread, as when
// a DAW reopens a session, the new instance's idle must not meet anything of the old one either.
TEST(RealHostLifeCycle, TheEditorsThreadOutlivesTheUnloadedModule) {
  NEED_X11_TOOLS();
  x11test::Xvfb server;
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  struct Case {
    const char* name;
    const char* script;
  } cases[] = {
      {"editor closed, then the plug-in, reloaded on the same thread",
       "thread start\nopen\neditor open x11\npump 3\n{KNOB}pump 3\neditor close\nclose\nunload\n"
       "open\neditor open x11\npump 3\n{KNOB}pump 3\neditor close\nclose\nunload\nthread end\n"},
      {"the plug-in closed with its editor open", "thread start\nopen\neditor open x11\npump 3\n{KNOB}pump 3\nclose\n"
                                                  "unload\nthread end\n"},
  };
  for (const Case& c : cases) {
    std::string script = c.script;
    for (size_t at; (at = script.find("{KNOB}")) != std::string::npos;) script.replace(at, 6, kKnobDrag);
    ScratchDir dir;
    const HostRun r = run(pluginBundlePath(), script, dir, {"DISPLAY=" + server.display()});
    EXPECT_TRUE(r.exited) << c.name << ": the host crashed\n" << r.err.substr(0, 4000) << r.out;
    EXPECT_EQ(r.exitCode, 0) << c.name << "\n" << r.err.substr(0, 4000) << r.out;
    // The module really left the process (else the test would prove nothing), and the thread ended after it.
    const size_t unloaded = r.out.rfind("unload: the module is unmapped");
    EXPECT_NE(unloaded, std::string::npos) << c.name << "\n" << r.out;
    EXPECT_NE(r.out.find("thread end", unloaded == std::string::npos ? 0 : unloaded), std::string::npos)
        << c.name << "\n" << r.out;
  }
}

}  // namespace
