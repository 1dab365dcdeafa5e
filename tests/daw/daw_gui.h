// What the tests of real hosts' own GUIs share: a host program on an Xvfb display of the test's own, driven with
// xdotool, and the pictures of its windows as the server shows them, compared pixel by pixel and kept under
// out/daw of the build tree.
#pragma once

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
#include "tests/daw/daw_support.h"
#include "tools/vexmir-host/x11_wm.h"

namespace dawtest {

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
  void askToClose(uint32_t window) { vexhost::askWindowToClose(c_, window); }

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

// Whether the JACK port has a connection.
inline bool jackPortConnected(const std::string& port) {
  int status = 0;
  const std::string out = run("jack_lsp -c", &status);
  const size_t at = out.find(port + "\n");
  return at != std::string::npos && out.compare(at + port.size() + 1, 3, "   ") == 0;
}

// A host program on a display, its output in a log file; killed if the test ends while it runs.
class GuiHost {
 public:
  GuiHost() = default;
  GuiHost(const GuiHost&) = delete;
  GuiHost& operator=(const GuiHost&) = delete;
  ~GuiHost() { stop(); }
  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = 0;
  }

  // Runs `command` (a shell command line, with the environment words before the program) on the display.
  void start(const std::string& display, const std::string& command, const fs::path& log) {
    display_ = display;
    log_ = log;
    const std::string line = "exec env DISPLAY=" + display + " " + command + " >" + quoted(log.string()) + " 2>&1";
    pid_ = fork();
    if (pid_ == 0) {
      execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  // Waits for the program to end; its status, or -1 when it did not end in time.
  int wait(double seconds) {
    int status = 0;
    const bool ended = waitFor(seconds, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
    if (!ended) return -1;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  bool running() const { return pid_ > 0; }
  std::string log() const { return readText(log_).substr(0, 6000); }

  // Runs xdotool with the display; answers its output.
  std::string xdotool(const std::string& words) const {
    int status = 0;
    return run("DISPLAY=" + display_ + " timeout 30 xdotool " + words, &status);
  }
  // The first window whose name matches the pattern, or 0.
  uint32_t window(const std::string& pattern) const {
    return static_cast<uint32_t>(std::strtoul(xdotool("search --name " + quoted(pattern)).c_str(), nullptr, 10));
  }
  // The editor's own window (the plug-in names it), or 0.
  uint32_t editorWindow() const { return window("^Vexmir Editor$"); }

 private:
  pid_t pid_ = 0;
  std::string display_;
  fs::path log_;
};

}  // namespace dawtest
