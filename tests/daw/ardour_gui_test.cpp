// Ardour 7's own GUI as a musician uses it, on an Xvfb display of the test's own: the plug-in on a MIDI track, its
// editor opened by the session's saved window state, a knob dragged (the picture and the saved state change), the
// editor closed and opened again from the mixer, Space pressed over the editor (Ardour's transport rolls), the
// session saved with Ctrl+S and Ardour quit with Ctrl+Q: it must end with status 0.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/graphics/png.h"
#include "src/StateChunk.h"
#include "src/VexmirParams.h"
#include "tests/daw/ardour_support.h"
#include "tests/x11/xvfb.h"

using namespace dawtest;

namespace {

const char* const kArdour = "/usr/bin/ardour";
// The editor's resonance knob (editor pixels) and the area its picture takes.
constexpr int kKnobX = 110, kKnobY = 380;

// A window's pixels as the server shows them: red, green, blue per pixel.
struct Shot {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  bool empty() const { return rgb.empty(); }
};

class Display {
 public:
  explicit Display(const std::string& name) : c_(xcb_connect(name.c_str(), nullptr)) {}
  ~Display() { xcb_disconnect(c_); }
  bool ok() const { return !xcb_connection_has_error(c_); }
  uint32_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root; }

  bool exists(uint32_t window) {
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr);
    std::free(g);
    return g != nullptr;
  }
  // The top-level window (a child of the root) that holds the window.
  uint32_t topLevel(uint32_t window) {
    for (;;) {
      xcb_query_tree_reply_t* t = xcb_query_tree_reply(c_, xcb_query_tree(c_, window), nullptr);
      if (!t) return 0;
      const uint32_t parent = t->parent, root = t->root;
      std::free(t);
      if (parent == root || !parent) return window;
      window = parent;
    }
  }
  Shot shot(uint32_t window, int x, int y, int w, int h) {
    Shot s;
    xcb_get_image_reply_t* img = xcb_get_image_reply(
        c_,
        xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, static_cast<int16_t>(x), static_cast<int16_t>(y),
                      static_cast<uint16_t>(w), static_cast<uint16_t>(h), ~0u),
        nullptr);
    if (!img) return s;
    const uint8_t* d = xcb_get_image_data(img);
    if (xcb_get_image_data_length(img) >= w * h * 4) {
      s.width = w;
      s.height = h;
      s.rgb.resize(static_cast<size_t>(w) * h * 3);
      for (int i = 0; i < w * h; ++i) {
        s.rgb[i * 3] = d[i * 4 + 2];
        s.rgb[i * 3 + 1] = d[i * 4 + 1];
        s.rgb[i * 3 + 2] = d[i * 4];
      }
    }
    std::free(img);
    return s;
  }
  // Asks the window to close as a window manager's close button does.
  void askToClose(uint32_t window) {
    auto atom = [this](const char* name) {
      xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
          c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
      const xcb_atom_t a = r ? r->atom : 0;
      std::free(r);
      return a;
    };
    xcb_client_message_event_t m{};
    m.response_type = XCB_CLIENT_MESSAGE;
    m.format = 32;
    m.window = window;
    m.type = atom("WM_PROTOCOLS");
    m.data.data32[0] = atom("WM_DELETE_WINDOW");
    m.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&m));
    xcb_flush(c_);
  }

 private:
  xcb_connection_t* c_;
};

int differing(const Shot& a, const Shot& b) {
  if (a.width != b.width || a.height != b.height) return -1;
  int n = 0;
  for (size_t i = 0; i < a.rgb.size(); i += 3) n += std::memcmp(&a.rgb[i], &b.rgb[i], 3) != 0;
  return n;
}

Shot crop(const Shot& s, int x, int y, int w, int h) {
  Shot out;
  if (x < 0 || y < 0 || x + w > s.width || y + h > s.height) return out;
  out.width = w;
  out.height = h;
  out.rgb.resize(static_cast<size_t>(w) * h * 3);
  for (int row = 0; row < h; ++row)
    std::memcpy(&out.rgb[static_cast<size_t>(row) * w * 3], &s.rgb[(static_cast<size_t>(y + row) * s.width + x) * 3],
                static_cast<size_t>(w) * 3);
  return out;
}

void keepPicture(const Shot& s, const std::string& name) {
  const char* build = std::getenv("VEXMIR_BUILD_DIR");
  if (!build || s.empty()) return;
  const std::string out = std::string(build) + "/out/daw";
  fs::create_directories(out);
  std::vector<uint8_t> pixels(static_cast<size_t>(s.width) * s.height * 4);
  for (size_t i = 0, n = static_cast<size_t>(s.width) * s.height; i < n; ++i) {
    pixels[i * 4] = 0xFF;
    std::memcpy(&pixels[i * 4 + 1], &s.rgb[i * 3], 3);
  }
  platform::gfx::writeRgbPngFile(out + "/" + name + ".png", pixels.data(), s.width, s.height, s.width * 4);
}

// Waits up to `seconds` for `done`, checking every tenth of a second.
template <class Done>
bool waitFor(double seconds, Done done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

class ArdourGui : public ArdourSession {
 protected:
  void SetUp() override {
    ArdourSession::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (access(kArdour, X_OK) != 0) GTEST_SKIP() << "Ardour's GUI is not installed";
    if (!x11test::haveProgram("Xvfb") || !x11test::haveProgram("xdotool"))
      GTEST_SKIP() << "Xvfb or xdotool is not installed";
  }
  void TearDown() override {
    if (ardour_ > 0) {
      kill(ardour_, SIGKILL);
      waitpid(ardour_, nullptr, 0);
    }
    ArdourSession::TearDown();
  }

  // Runs xdotool with the display; answers its output.
  std::string xdotool(const std::string& words) {
    int status = 0;
    return run("DISPLAY=" + display_ + " timeout 30 xdotool " + words, &status);
  }
  // The editor's own window (the plug-in names it), or 0.
  uint32_t editorWindow() {
    int status = 0;
    const std::string out = run("DISPLAY=" + display_ + " xdotool search --name '^Vexmir Editor$'", &status);
    return static_cast<uint32_t>(std::strtoul(out.c_str(), nullptr, 10));
  }

  // Starts Ardour's GUI on the session file; its output goes to ardour.log.
  void startArdour(const std::string& display, const fs::path& session) {
    display_ = display;
    const std::string command = "exec env DISPLAY=" + display + " " + env + kArdour + " " +
                                quoted(session.string()) + " >" + quoted((dir / "ardour.log").string()) + " 2>&1";
    ardour_ = fork();
    if (ardour_ == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  // Waits for Ardour to end; its status, or -1 when it did not end in time (it is killed then).
  int waitForArdour(double seconds) {
    int status = 0;
    const bool ended = waitFor(seconds, [&] { return waitpid(ardour_, &status, WNOHANG) == ardour_; });
    if (!ended) return -1;
    ardour_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string log() { return readFile(dir / "ardour.log").substr(0, 6000); }

  pid_t ardour_ = 0;
  std::string display_;
};

// The id of the first element that starts with `open` and has `attribute`, or "".
std::string idOfTag(const std::string& xml, const std::string& open, const std::string& attribute) {
  for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
    const std::string tag = xml.substr(at, xml.find('>', at) - at);
    if (tag.find(attribute) == std::string::npos) continue;
    const size_t id = tag.find(" id=\"");
    if (id == std::string::npos) return "";
    return tag.substr(id + 5, tag.find('"', id + 5) - id - 5);
  }
  return "";
}

// The filter resonance of timbre 1 in the session file's state chunk, or -1.
double savedResonance(const fs::path& file) {
  const std::string xml = readFile(file);
  size_t begin = 0, end = 0;
  if (!findChunk(xml, &begin, &end)) return -1;
  const std::vector<uint8_t> saved = fromBase64(xml.substr(begin, end - begin));
  if (saved.size() <= 8) return -1;
  ByteChunk body;
  body.PutBytes(saved.data() + 8, static_cast<int>(saved.size() - 8));
  PluginState state;
  if (readStateBody(body, 0, true, &state) != body.Size()) return -1;
  return state.values[kFilterResonance];
}

}  // namespace

TEST_F(ArdourGui, TheEditorWorksInArdoursWindowAndArdourQuitsCleanly) {
  int status = 0;
  const std::string so = (bundlePath / "Contents/Linux/Vexmir Editor.so").string();
  ASSERT_NE(run(env + "env LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 120 " + kScanner + " -f '" + so + "'", &status)
                .find("Found Plugin"),
            std::string::npos);
  // The session, made by Ardour's own tool: a MIDI track with the plug-in as its instrument.
  const std::string sessionDir = (dir / "vexmir").string();
  const std::string made = lua("create.lua", "create_session(\"" + sessionDir +
                                                 "\", \"vexmir\", 48000)\n"
                                                 "local pi = ARDOUR.LuaAPI.new_plugin_info(\"Vexmir Editor\", "
                                                 "ARDOUR.PluginType.LXVST)\n"
                                                 "assert(not pi:isnil(), \"plug-in not found\")\n"
                                                 "Session:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType(\"midi\"), "
                                                 "1), ARDOUR.ChanCount(ARDOUR.DataType(\"audio\"), 2), false, pi, "
                                                 "nil, nil, 1, \"Synth\", ARDOUR.PresentationInfo.max_order, "
                                                 "ARDOUR.TrackMode.Normal, true, false)\n"
                                                 "Session:save_state(\"\", false, false, false, false, false)\n");
  ASSERT_NE(made.find("closed"), std::string::npos) << made;
  const fs::path file = dir / "vexmir/vexmir.ardour";
  std::string xml = readFile(file);
  const double resonanceBefore = savedResonance(file);
  ASSERT_GE(resonanceBefore, 0) << "no state chunk of the plug-in in the new session";

  // The plug-in's window is open in the saved window state, so Ardour opens it with the session, below Ardour's main
  // window (whose transport bar the test watches). The engine hints
  // of the headless tool's dummy back end would make Ardour ask about a changed device.
  const std::string route = idOfTag(xml, "<Route ", "name=\"Synth\"");
  const std::string processor = idOfTag(xml, "<Processor ", "name=\"Vexmir Editor\"");
  ASSERT_FALSE(route.empty() || processor.empty()) << xml.substr(0, 3000);
  const size_t hints = xml.find("<EngineHints");
  if (hints != std::string::npos) xml.erase(hints, xml.find("/>", hints) + 2 - hints);
  const size_t end = xml.rfind("</Session>");
  ASSERT_NE(end, std::string::npos);
  xml.insert(end, "  <Extra>\n    <UI>\n      <Window name=\"P-" + route + "-" + processor +
                      "\" visible=\"1\" x-off=\"100\" y-off=\"730\" custom-ui=\"1\"/>\n    </UI>\n  </Extra>\n");
  std::ofstream(file, std::ios::trunc) << xml;

  // A configuration as after the first-run wizard and the audio setup: the dummy back end, started unasked; closing
  // a plug-in's window closes its editor.
  const fs::path config = dir / "home/.config/ardour7";
  fs::create_directories(config);
  std::ofstream(config / ".a7");
  std::ofstream(config / "config")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Ardour>\n  <Config>\n"
         "    <Option name=\"try-autostart-engine\" value=\"1\"/>\n"
         "    <Option name=\"hide-dummy-backend\" value=\"0\"/>\n  </Config>\n  <Extra>\n    <AudioMIDISetup>\n"
         "      <EngineStates>\n        <State backend=\"None (Dummy)\" driver=\"Normal Speed\" device=\"Silence\" "
         "input-device=\"\" output-device=\"\" sample-rate=\"48000\" buffer-size=\"1024\" n-periods=\"0\" "
         "input-latency=\"0\" output-latency=\"0\" lm-input=\"\" lm-output=\"\" active=\"1\" use-buffered-io=\"0\" "
         "midi-option=\"1 in, 1 out, Silence\" lru=\"1\"/>\n      </EngineStates>\n    </AudioMIDISetup>\n"
         "  </Extra>\n</Ardour>\n";
  std::ofstream(config / "ui_config") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Ardour>\n  <UI>\n"
                                         "    <Option name=\"plugin-gui-behavior\" value=\"PluginGUIDestroyVST\"/>\n"
                                         "  </UI>\n</Ardour>\n";
  fs::create_directories(dir / "home/.local/share");

  x11test::Xvfb server("1920x1440x24");
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  Display x(server.display());
  ASSERT_TRUE(x.ok());
  startArdour(server.display(), file);

  // The editor in Ardour's plug-in window.
  uint32_t editor = 0;
  Shot opened;
  ASSERT_TRUE(waitFor(90, [&] {
    editor = editorWindow();
    opened = editor ? x.shot(editor, 0, 0, 1500, 667) : Shot();
    return !opened.empty();
  })) << "the editor never appeared\n" << log();
  keepPicture(opened, "ardour-editor-opened");

  // A knob dragged up: the editor's picture changes where the knob is.
  const std::string w = std::to_string(editor);
  xdotool("mousemove --window " + w + " " + std::to_string(kKnobX) + " " + std::to_string(kKnobY) +
          " sleep 0.2 mousedown 1 sleep 0.2 mousemove_relative 0 -6 sleep 0.1 mousemove_relative 0 -6 sleep 0.1 "
          "mousemove_relative 0 -6 sleep 0.2 mouseup 1");
  const Shot knobBefore = crop(opened, kKnobX - 20, kKnobY - 20, 40, 40);
  auto knobNow = [&](uint32_t window) { return x.shot(window, kKnobX - 20, kKnobY - 20, 40, 40); };
  EXPECT_TRUE(waitFor(10, [&] { return differing(knobNow(editor), knobBefore) > 0; }))
      << "the knob's picture did not change";
  const Shot afterDrag = x.shot(editor, 0, 0, 1500, 667);
  keepPicture(afterDrag, "ardour-editor-knob-dragged");

  // Closed as a window manager's close button closes it, and opened again from the mixer strip.
  const uint32_t pluginWindow = x.topLevel(editor);
  ASSERT_NE(pluginWindow, 0u);
  x.askToClose(pluginWindow);
  ASSERT_TRUE(waitFor(20, [&] { return !x.exists(editor); })) << "the editor did not close\n" << log();
  xdotool("mousemove 1326 72 click 1 sleep 1 mousemove 336 195 click --repeat 2 --delay 80 1");
  uint32_t reopened = 0;
  ASSERT_TRUE(waitFor(30, [&] { return (reopened = editorWindow()) != 0 && !knobNow(reopened).empty(); }))
      << "the editor did not open again\n" << log();
  // It shows the dragged knob as it was.
  const Shot knobDragged = crop(afterDrag, kKnobX - 20, kKnobY - 20, 40, 40);
  EXPECT_TRUE(waitFor(10, [&] { return differing(knobNow(reopened), knobDragged) == 0; }));
  keepPicture(x.shot(reopened, 0, 0, 1500, 667), "ardour-editor-reopened");

  // Space over the editor (clicked before, so it would hold the keyboard if it took it) starts Ardour's transport:
  // its clocks and transport buttons in the top bar change; before, nothing there moves.
  xdotool("mousemove --window " + std::to_string(reopened) + " 700 600 click 1");
  const int barWidth = 800, barTop = 20, barHeight = 40;
  const Shot still1 = x.shot(x.root(), 0, barTop, barWidth, barHeight);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(differing(still1, x.shot(x.root(), 0, barTop, barWidth, barHeight)), 0)
      << "the transport bar changes while nothing plays: the test cannot tell";
  xdotool("key space");
  EXPECT_TRUE(waitFor(10, [&] { return differing(still1, x.shot(x.root(), 0, barTop, barWidth, barHeight)) > 0; }))
      << "Space did not reach Ardour";
  keepPicture(x.shot(x.root(), 0, 0, 1920, 1440), "ardour-playing");
  xdotool("key space");

  // Ctrl+S saves the session with the knob's new value; Ctrl+Q ends Ardour with status 0.
  xdotool("key ctrl+s");
  EXPECT_TRUE(waitFor(20, [&] {
    const double now = savedResonance(file);
    return now >= 0 && now != resonanceBefore;
  })) << "the saved state did not change";
  xdotool("key ctrl+q");
  const int exitStatus = waitForArdour(60);
  if (exitStatus != 0) keepPicture(x.shot(x.root(), 0, 0, 1920, 1440), "ardour-at-quit");
  EXPECT_EQ(exitStatus, 0) << log();
}
