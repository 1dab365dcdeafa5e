// Editor steps: the plug-in's editor opened in a window of the platform model (a view for hosts that ask for the
// view form, else a Carbon window) or, as a Linux host does it, in a real X11 window; synthetic mouse, wheel and key
// input, the run loop pumped tick by tick on the model clock, scripted answers for menus, panels and alerts, and the
// window's pixels saved as a PNG.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/cocoa/carbon.h"
#include "platform/cocoa/image.h"
#include "platform/cocoa/keyboard.h"
#include "platform/cocoa/menu.h"
#include "platform/cocoa/panels.h"
#include "platform/cocoa/runloop.h"
#include "platform/cocoa/view.h"
#include "platform/text/text.h"
#include "platform/vst2/vst2.h"
#include "platform/x11/presenter.h"
#include "tools/vexmir-host/script.h"
#include "tools/vexmir-host/x11_host.h"

namespace vexhost {

namespace {

// The editor window of this run (one at a time).
struct EditorWindow {
  cocoa::Window* window = nullptr;  // retained; a Carbon window on the Carbon path; the plug-in's model window on X11
  bool carbon = false;
  bool onX11 = false;
  bool realClock = false;              // X11 with the machine's clock: pumping sleeps, as a host's idle timer does
  std::unique_ptr<X11HostWindow> x11;  // the host's X11 window, when the host made one
  int width = 0, height = 0;
  size_t menusSeen = 0;
};
EditorWindow g_editor;

void closeEditorWindows() {
  if (g_editor.window) {
    if (g_editor.carbon) {
      carbon::DisposeWindow(g_editor.window);
    } else if (g_editor.onX11) {
      g_editor.window->release();
    } else {
      g_editor.window->close();
      g_editor.window->release();
    }
    g_editor.window = nullptr;
  }
  g_editor.x11.reset();
  g_editor.onX11 = false;
  g_editor.realClock = false;
}

StepAction fail(std::string* error, const std::string& why) {
  *error = why;
  return {};
}

std::string num(double v) {
  std::ostringstream o;
  o << v;
  return o.str();
}

// Modifier names: shift, ctrl, alt, cmd, separated by commas or "+".
bool parseMods(const StepArgs& a, uint32_t* cocoaMods, carbon::UInt32* carbonMods, std::string* error) {
  *cocoaMods = 0;
  *carbonMods = 0;
  auto it = a.keys.find("mods");
  if (it == a.keys.end()) return true;
  std::string text = it->second;
  std::replace(text.begin(), text.end(), '+', ',');
  std::stringstream ss(text);
  std::string m;
  while (std::getline(ss, m, ',')) {
    if (m == "shift") {
      *cocoaMods |= cocoa::kShiftKeyMask;
      *carbonMods |= carbon::shiftKey;
    } else if (m == "ctrl") {
      *cocoaMods |= cocoa::kControlKeyMask;
      *carbonMods |= carbon::controlKey;
    } else if (m == "alt") {
      *cocoaMods |= cocoa::kAlternateKeyMask;
      *carbonMods |= carbon::optionKey;
    } else if (m == "cmd") {
      *cocoaMods |= cocoa::kCommandKeyMask;
      *carbonMods |= carbon::cmdKey;
    } else if (!m.empty()) {
      *error = "unknown modifier \"" + m + "\" (shift, ctrl, alt, cmd)";
      return false;
    }
  }
  return true;
}

bool needEditor(std::string* error) {
  if (g_editor.window) return true;
  *error = "no editor window is open";
  return false;
}

// Prints the menus that popped up since the last look, as the user saw them.
void reportMenus(Session& s) {
  const auto shown = cocoa::menus::shownMenus();
  for (size_t i = g_editor.menusSeen; i < shown.size(); ++i) {
    s.host.out().line("menu shown at " + num(shown[i].x) + "," + num(shown[i].y));
    std::stringstream lines(cocoa::menus::describe(shown[i]));
    std::string l;
    while (std::getline(lines, l)) s.host.out().line("  " + l);
  }
  g_editor.menusSeen = shown.size();
}

void reportUnhandled(Session& s) {
  if (!g_editor.window || g_editor.carbon) return;
  for (cocoa::Event* e : g_editor.window->unhandledEvents())
    s.host.out().line("key " + std::to_string(e->keyCode) + " passed to the host");
  g_editor.window->clearUnhandledEvents();
}

// ---------------------------------------------------------------------------------------------------------------
// editor open / close

// What every way of opening does first: the model clock, the editor's size from effEditGetRect.
bool beginEditorOpen(Session& s, std::string* err) {
  if (g_editor.window || g_editor.x11 || g_editor.onX11) {
    *err = "an editor window is already open";
    return false;
  }
  // Timers run on the model clock from here on, so that pumping is exact and instant.
  cocoa::useManualClock();
  ERect* rect = nullptr;
  const intptr_t got = s.host.dispatch(effEditGetRect, 0, 0, &rect, 0.0f);
  if (!got || !rect) {
    *err = "the plug-in has no editor (effEditGetRect answered 0)";
    return false;
  }
  const int w = rect->right - rect->left, h = rect->bottom - rect->top;
  s.host.out().line("editor rect " + std::to_string(w) + "x" + std::to_string(h));
  if (w <= 0 || h <= 0) {
    *err = "the editor rectangle is empty";
    return false;
  }
  g_editor.width = w;
  g_editor.height = h;
  g_editor.menusSeen = cocoa::menus::shownMenus().size();
  return true;
}

// As a Linux host: a top-level X11 window whose id goes to effEditOpen (or the given id, made by no one), then
// effEditIdle as the host's idle. The plug-in's model window stays reachable for the model's own steps.
StepAction parseEditorOpenX11(const StepArgs& a, std::string* error) {
  if (!a.onlyKeys({"window", "clock"}, error)) return {};
  long long given = -1;
  if (!a.intKey("window", &given, error)) return {};
  if (a.keys.count("window") && (given < 0 || given > 0xFFFFFFFFll))
    return fail(error, "window=ID from 0 to 0xFFFFFFFF");
  const auto clock = a.keys.find("clock");
  if (clock != a.keys.end() && clock->second != "real" && clock->second != "model")
    return fail(error, "clock=real or clock=model");
  const bool realClock = clock != a.keys.end() && clock->second == "real";
  return [given, realClock](Session& s, std::string* err) {
    if (!s.needPlugin(err) || !beginEditorOpen(s, err)) return false;
    // With the real clock the editor's timers run on the machine's time, as in a Linux host.
    if (realClock) cocoa::useRealClock();
    g_editor.realClock = realClock;
    uint32_t id = static_cast<uint32_t>(given);
    if (given < 0) {
      std::string why;
      g_editor.x11 = X11HostWindow::open(g_editor.width, g_editor.height, &why);
      if (!g_editor.x11) {
        *err = why;
        return false;
      }
      id = g_editor.x11->id();
    }
    g_editor.onX11 = true;
    const intptr_t r = s.host.dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(id)), 0.0f);
    s.host.out().line("editor open x11 -> " + std::to_string(r));
    for (x11::Presenter* p : x11::Presenter::all()) {
      if (p->parent() == id && p->modelWindow()) {
        g_editor.window = p->modelWindow();
        g_editor.window->retain();
        s.host.out().line(std::string("editor shown on X11") + (p->usesSharedMemory() ? " with shared memory" : ""));
      }
    }
    return true;
  };
}

StepAction parseEditor(const StepArgs& a, std::string* error) {
  if (a.words.empty()) return fail(error, "editor open cocoa|carbon [composited=0/1] | editor close");
  const std::string what = a.words[0];
  if (what == "close") {
    if (a.words.size() != 1 || !a.keys.empty()) return fail(error, "editor close takes nothing more");
    return [](Session& s, std::string* err) {
      if (!s.needPlugin(err)) return false;
      const intptr_t r = s.host.dispatch(effEditClose, 0, 0, nullptr, 0.0f);
      s.host.out().line("editor close -> " + std::to_string(r));
      closeEditorWindows();
      return true;
    };
  }
  if (what != "open" || a.words.size() != 2 || (a.words[1] != "cocoa" && a.words[1] != "carbon" && a.words[1] != "x11"))
    return fail(error, "editor open cocoa|carbon|x11 [composited=0/1] [window=ID] [clock=real]");
  if (a.words[1] == "x11") return parseEditorOpenX11(a, error);
  if (!a.onlyKeys({"composited"}, error)) return {};
  long long composited = 1;
  if (!a.intKey("composited", &composited, error)) return {};
  const bool useCarbon = a.words[1] == "carbon";
  return [useCarbon, composited](Session& s, std::string* err) {
    if (!s.needPlugin(err)) return false;
    if (!beginEditorOpen(s, err)) return false;
    const int w = g_editor.width, h = g_editor.height;
    void* parent = nullptr;
    if (useCarbon) {
      carbon::Rect b{100, 100, static_cast<carbon::SInt16>(100 + h), static_cast<carbon::SInt16>(100 + w)};
      carbon::WindowRef win = nullptr;
      carbon::CreateNewWindow(carbon::kDocumentWindowClass,
                              composited ? carbon::kWindowCompositingAttribute | carbon::kWindowStandardHandlerAttribute
                                         : carbon::kWindowStandardHandlerAttribute,
                              &b, &win);
      carbon::SelectWindow(win);
      g_editor.window = win;
      g_editor.carbon = true;
      parent = win;
    } else {
      // The host says it offers the view form before it opens the editor.
      char question[] = "hasHostViewAsConfig";
      const intptr_t answer = s.host.dispatch(effCanDo, 0, 0, question, 0.0f);
      char hex[32];
      std::snprintf(hex, sizeof hex, "0x%llX", static_cast<unsigned long long>(answer));
      s.host.out().line(std::string("editor asks hasHostViewAsConfig -> ") + hex);
      auto* win = new cocoa::Window(cocoa::Rect{100, 100, static_cast<double>(w), static_cast<double>(h)});
      win->makeKeyAndOrderFront();
      g_editor.window = win;
      g_editor.carbon = false;
      parent = win->contentView();
    }
    const intptr_t r = s.host.dispatch(effEditOpen, 0, 0, parent, 0.0f);
    s.host.out().line(std::string("editor open ") + (useCarbon ? "carbon" : "cocoa") + " -> " + std::to_string(r));
    return true;
  };
}

// ---------------------------------------------------------------------------------------------------------------
// mouse, wheel, keys

struct MouseSpec {
  std::string action;  // down, up, drag, move, click, dblclick, wheel
  double x = 0, y = 0, x2 = 0, y2 = 0;
  bool right = false;
  int clicks = 1;
  int steps = 4;
  double delta = 0;
  uint32_t cocoaMods = 0;
  carbon::UInt32 carbonMods = 0;
};

void sendCocoaMouse(cocoa::EventType type, double x, double y, const MouseSpec& m, int clicks, double delta = 0) {
  cocoa::Window* w = g_editor.window;
  cocoa::Event* e = cocoa::Event::mouseEvent(type, cocoa::Point{x, g_editor.height - y}, m.cocoaMods, w);
  e->clickCount = (type == cocoa::kLeftMouseDown || type == cocoa::kRightMouseDown) ? clicks : 0;
  e->deltaY = delta;
  cocoa::input::setModifierFlags(m.cocoaMods);
  w->sendEvent(e);
  e->release();
}

void sendCarbonMouse(carbon::UInt32 kind, double x, double y, const MouseSpec& m, int clicks, int delta = 0) {
  carbon::EventRef e = nullptr;
  carbon::CreateEvent(nullptr, carbon::kEventClassMouse, kind, 0, 0, &e);
  carbon::HIPoint p{x, y};
  carbon::UInt16 button = m.right ? carbon::kEventMouseButtonSecondary : carbon::kEventMouseButtonPrimary;
  carbon::UInt32 count = static_cast<carbon::UInt32>(clicks);
  carbon::UInt16 axis = carbon::kEventMouseWheelAxisY;
  carbon::SInt32 d = delta;
  carbon::SetEventParameter(e, carbon::kEventParamWindowMouseLocation, carbon::typeHIPoint, sizeof p, &p);
  carbon::SetEventParameter(e, carbon::kEventParamKeyModifiers, carbon::typeUInt32, sizeof m.carbonMods, &m.carbonMods);
  carbon::SetEventParameter(e, carbon::kEventParamMouseButton, carbon::typeMouseButton, sizeof button, &button);
  carbon::SetEventParameter(e, carbon::kEventParamClickCount, carbon::typeUInt32, sizeof count, &count);
  if (kind == carbon::kEventMouseWheelMoved) {
    carbon::SetEventParameter(e, carbon::kEventParamMouseWheelAxis, carbon::typeMouseWheelAxis, sizeof axis, &axis);
    carbon::SetEventParameter(e, carbon::kEventParamMouseWheelDelta, carbon::typeSInt32, sizeof d, &d);
  }
  carbon::SendEventToEventTarget(e, carbon::GetWindowEventTarget(g_editor.window));
  carbon::ReleaseEvent(e);
}

void press(const MouseSpec& m, double x, double y, int clicks) {
  if (g_editor.carbon) {
    sendCarbonMouse(carbon::kEventMouseDown, x, y, m, clicks);
  } else {
    sendCocoaMouse(m.right ? cocoa::kRightMouseDown : cocoa::kLeftMouseDown, x, y, m, clicks);
  }
}

void release(const MouseSpec& m, double x, double y) {
  if (g_editor.carbon) {
    sendCarbonMouse(carbon::kEventMouseUp, x, y, m, 1);
  } else {
    sendCocoaMouse(m.right ? cocoa::kRightMouseUp : cocoa::kLeftMouseUp, x, y, m, 0);
  }
}

void dragTo(const MouseSpec& m, double x, double y) {
  if (g_editor.carbon) {
    sendCarbonMouse(carbon::kEventMouseDragged, x, y, m, 1);
  } else {
    sendCocoaMouse(m.right ? cocoa::kRightMouseDragged : cocoa::kLeftMouseDragged, x, y, m, 0);
  }
}

StepAction parseMouse(const StepArgs& a, std::string* error) {
  MouseSpec m;
  m.action = a.step;
  size_t coords = 2;
  if (a.step == "mouse") {
    if (a.words.empty()) return fail(error, "mouse down|up|drag|move X Y [button=left/right] [mods=...] [clicks=N]");
    m.action = a.words[0];
    if (m.action != "down" && m.action != "up" && m.action != "drag" && m.action != "move")
      return fail(error, "mouse down|up|drag|move X Y");
  }
  const size_t first = a.step == "mouse" ? 1 : 0;
  if (a.step == "drag") coords = 4;
  if (a.step == "wheel") coords = 3;
  if (a.words.size() != first + coords) return fail(error, a.step + ": wrong number of values");
  double v[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < coords; ++i)
    if (!parseFloat(a.words[first + i], &v[i])) return fail(error, "not a number: " + a.words[first + i]);
  m.x = v[0];
  m.y = v[1];
  if (a.step == "drag") {
    m.x2 = v[2];
    m.y2 = v[3];
  }
  if (a.step == "wheel") m.delta = v[2];
  if (!a.onlyKeys({"button", "mods", "clicks", "steps"}, error)) return {};
  auto b = a.keys.find("button");
  if (b != a.keys.end()) {
    if (b->second != "left" && b->second != "right") return fail(error, "button=left or button=right");
    m.right = b->second == "right";
  }
  long long n = 1;
  if (!a.intKey("clicks", &n, error)) return {};
  m.clicks = static_cast<int>(n);
  n = 4;
  if (!a.intKey("steps", &n, error)) return {};
  if (n < 1 || n > 1000) return fail(error, "steps from 1 to 1000");
  m.steps = static_cast<int>(n);
  if (!parseMods(a, &m.cocoaMods, &m.carbonMods, error)) return {};

  return [m](Session& s, std::string* err) {
    if (!s.needPlugin(err) || !needEditor(err)) return false;
    cocoa::AutoreleasePool pool;
    if (m.action == "down") {
      press(m, m.x, m.y, m.clicks);
    } else if (m.action == "up") {
      release(m, m.x, m.y);
    } else if (m.action == "move") {
      if (g_editor.carbon) {
        sendCarbonMouse(carbon::kEventMouseMoved, m.x, m.y, m, 0);
      } else {
        sendCocoaMouse(cocoa::kMouseMoved, m.x, m.y, m, 0);
      }
    } else if (m.action == "click") {
      press(m, m.x, m.y, 1);
      release(m, m.x, m.y);
    } else if (m.action == "dblclick") {
      press(m, m.x, m.y, 1);
      release(m, m.x, m.y);
      press(m, m.x, m.y, 2);
      release(m, m.x, m.y);
    } else if (m.action == "drag") {
      // One drag event; the drag step presses, moves in steps and releases.
      dragTo(m, m.x, m.y);
    } else if (m.action == "wheel") {
      if (g_editor.carbon) {
        sendCarbonMouse(carbon::kEventMouseWheelMoved, m.x, m.y, m, 0, static_cast<int>(m.delta));
      } else {
        sendCocoaMouse(cocoa::kScrollWheel, m.x, m.y, m, 0, m.delta);
      }
    }
    s.host.out().line(m.action + " " + num(m.x) + "," + num(m.y));
    reportMenus(s);
    return true;
  };
}

StepAction parseDrag(const StepArgs& a, std::string* error) {
  StepAction base = parseMouse(a, error);
  if (!base) return {};
  // Re-read what parseMouse checked: press at the first point, move in steps, release at the second.
  double v[4];
  for (int i = 0; i < 4; ++i) parseFloat(a.words[i], &v[i]);
  MouseSpec m;
  long long n = 4;
  a.intKey("steps", &n, error);
  m.steps = static_cast<int>(n);
  auto b = a.keys.find("button");
  m.right = b != a.keys.end() && b->second == "right";
  parseMods(a, &m.cocoaMods, &m.carbonMods, error);
  return [m, v0 = v[0], v1 = v[1], v2 = v[2], v3 = v[3]](Session& s, std::string* err) {
    if (!s.needPlugin(err) || !needEditor(err)) return false;
    cocoa::AutoreleasePool pool;
    press(m, v0, v1, 1);
    for (int i = 1; i <= m.steps; ++i) dragTo(m, v0 + (v2 - v0) * i / m.steps, v1 + (v3 - v1) * i / m.steps);
    release(m, v2, v3);
    s.host.out().line("drag " + num(v0) + "," + num(v1) + " to " + num(v2) + "," + num(v3));
    reportMenus(s);
    return true;
  };
}

// A key by name or as its character: its key code, its characters for Cocoa and its character code for Carbon.
struct KeySpec {
  uint16_t code = 0;
  char32_t cocoaChar = 0;
  char carbonChar = 0;
  std::string label;
};

bool keyFor(const std::string& name, KeySpec* k) {
  struct Named {
    const char* name;
    uint16_t code;
    char32_t cocoaChar;
    char carbonChar;
  } named[] = {{"left", 123, 0xF702, 28}, {"right", 124, 0xF703, 29},  {"down", 125, 0xF701, 31},
               {"up", 126, 0xF700, 30},   {"space", 49, U' ', ' '},    {"tab", 48, U'\t', 9},
               {"return", 36, U'\r', 13}, {"enter", 76, 3, 3},         {"backspace", 51, 0x7F, 8},
               {"escape", 53, 0x1B, 27},  {"delete", 117, 0xF728, 127}};
  for (const auto& n : named) {
    if (name == n.name) {
      *k = KeySpec{n.code, n.cocoaChar, n.carbonChar, name};
      return true;
    }
  }
  if (name.size() != 1 || static_cast<unsigned char>(name[0]) < 0x20 || static_cast<unsigned char>(name[0]) > 0x7E)
    return false;
  const char c = name[0];
  k->cocoaChar = static_cast<char32_t>(c);
  k->carbonChar = c;
  k->label = name;
  // The key that types it on the US layout (upper case letters are their lower case key with Shift).
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (auto layout = cocoa::keyboard::usLayout()) {
    for (const auto& kv : layout->characters) {
      if (kv.second == static_cast<char32_t>(lower) || kv.second == static_cast<char32_t>(c)) {
        k->code = kv.first;
        break;
      }
    }
  }
  return true;
}

void sendKey(Session& s, const KeySpec& k, uint32_t cocoaMods, carbon::UInt32 carbonMods) {
  if (g_editor.carbon) {
    carbon::EventRef e = nullptr;
    carbon::CreateEvent(nullptr, carbon::kEventClassKeyboard, carbon::kEventRawKeyDown, 0, 0, &e);
    carbon::UInt32 code = k.code;
    carbon::SetEventParameter(e, carbon::kEventParamKeyCode, carbon::typeUInt32, sizeof code, &code);
    carbon::SetEventParameter(e, carbon::kEventParamKeyMacCharCodes, carbon::typeChar, 1, &k.carbonChar);
    carbon::SetEventParameter(e, carbon::kEventParamKeyModifiers, carbon::typeUInt32, sizeof carbonMods, &carbonMods);
    carbon::EventTargetRef target = carbon::GetUserFocusEventTarget();
    if (!target) target = carbon::GetWindowEventTarget(g_editor.window);
    const carbon::OSStatus r = carbon::SendEventToEventTarget(e, target);
    carbon::ReleaseEvent(e);
    if (r == carbon::eventNotHandledErr) s.host.out().line("key " + std::to_string(k.code) + " passed to the host");
  } else {
    const std::u32string chars(1, k.cocoaChar);
    cocoa::Event* e = cocoa::Event::keyEvent(cocoa::kKeyDown, k.code, cocoaMods, chars, chars);
    e->window = g_editor.window;
    g_editor.window->sendEvent(e);
    e->release();
    reportUnhandled(s);
  }
}

StepAction parseKey(const StepArgs& a, std::string* error) {
  if (a.words.size() != 1) return fail(error, "key NAME|CHARACTER [mods=...]");
  KeySpec k;
  if (!keyFor(a.words[0], &k)) return fail(error, "unknown key \"" + a.words[0] + "\"");
  if (!a.onlyKeys({"mods"}, error)) return {};
  uint32_t cm = 0;
  carbon::UInt32 km = 0;
  if (!parseMods(a, &cm, &km, error)) return {};
  return [k, cm, km](Session& s, std::string* err) {
    if (!s.needPlugin(err) || !needEditor(err)) return false;
    cocoa::AutoreleasePool pool;
    s.host.out().line("key " + k.label);
    sendKey(s, k, cm, km);
    reportMenus(s);
    return true;
  };
}

StepAction parseType(const StepArgs& a, std::string* error) {
  if (a.words.size() != 1 || !a.keys.empty()) return fail(error, "type TEXT (quote text with blanks)");
  std::vector<KeySpec> keys;
  std::u32string chars;
  if (!platform::text::decodeUtf8(a.words[0].data(), a.words[0].size(), chars))
    return fail(error, "type takes UTF-8 text");
  for (char32_t c : chars) {
    KeySpec k;
    if (c > 0x7E) {
      // A character no key of the US layout types: it reaches a Cocoa editor as the character of a key without a
      // key code, as from an input method (a Carbon editor gets none).
      k.cocoaChar = c;
      keys.push_back(k);
      continue;
    }
    if (!keyFor(std::string(1, static_cast<char>(c)), &k)) return fail(error, "type takes printable characters only");
    keys.push_back(k);
  }
  const std::string text = a.words[0];
  return [keys, text](Session& s, std::string* err) {
    if (!s.needPlugin(err) || !needEditor(err)) return false;
    cocoa::AutoreleasePool pool;
    s.host.out().line("type " + quoted(text.c_str(), text.size() + 1));
    for (const KeySpec& k : keys) {
      if (g_editor.carbon && !k.carbonChar) continue;
      const bool upper = k.carbonChar >= 'A' && k.carbonChar <= 'Z';
      sendKey(s, k, upper ? static_cast<uint32_t>(cocoa::kShiftKeyMask) : 0u, upper ? carbon::shiftKey : 0u);
    }
    reportMenus(s);
    return true;
  };
}

// ---------------------------------------------------------------------------------------------------------------
// run loop, scripted answers, pictures

// One tick: one period of a 25-frames-a-second timer; the run loop displays the windows after each pass. On X11 the
// plug-in's idle runs the pass, as a Linux host drives it; with the real clock the tick waits 40 ms of the machine's
// time first (at least: a slow machine only makes more of the timer due).
void pumpTick(Session& s) {
  if (g_editor.onX11) {
    if (g_editor.realClock) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    } else {
      cocoa::advanceClock(0.04);
    }
    s.host.dispatch(effEditIdle, 0, 0, nullptr, 0.0f);
  } else {
    cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 0.04);
  }
}

// Whether the window's pixels in the rectangle (x, y, w, h) equal the picture's in the same place.
bool areaLike(const cocoa::Image& picture, const long long* r) {
  for (long long y = r[1]; y < r[1] + r[3]; ++y) {
    for (long long x = r[0]; x < r[0] + r[2]; ++x) {
      const uint32_t p = picture.pixel(static_cast<int>(x), static_cast<int>(y));  // bytes R, G, B, A
      if (g_editor.window->pixelAt(static_cast<int>(x), static_cast<int>(y)) !=
          (((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF)))
        return false;
    }
  }
  return true;
}

// pump until X Y W H like|unlike FILE.png [within=MS]: ticks, a few milliseconds of the machine's time apart, until
// the area shows (or no longer shows) what the picture shows there, for work the plug-in finishes on its own threads.
StepAction parsePumpUntil(const StepArgs& a, std::string* error) {
  const char* usage = "pump until X Y W H like|unlike FILE.png [within=MS] (MS from 1 to 60000, default 10000)";
  long long r[4] = {0, 0, 0, 0}, within = 10000;
  if (a.words.size() != 7 || (a.words[5] != "like" && a.words[5] != "unlike")) return fail(error, usage);
  for (int i = 0; i < 4; ++i)
    if (!parseInt(a.words[static_cast<size_t>(i) + 1], &r[i]) || r[i] < 0 || r[i] > 100000) return fail(error, usage);
  for (const auto& k : a.keys)
    if (k.first != "within" || !parseInt(k.second, &within) || within < 1 || within > 60000) return fail(error, usage);
  const bool like = a.words[5] == "like";
  const std::string file = a.words[6];
  std::string text = "pump";
  for (size_t i = 0; i < 6; ++i) text += " " + a.words[i];
  text += " " + quoted(file.c_str(), file.size() + 1);
  return [=](Session& s, std::string* err) {
    if (!needEditor(err)) return false;
    cocoa::Image* picture = cocoa::Image::fromFile(file);
    if (!picture || r[0] + r[2] > std::min(picture->width(), g_editor.width) ||
        r[1] + r[3] > std::min(picture->height(), g_editor.height)) {
      if (picture) picture->release();
      *err = "the area lies outside the window or " + file + " (or it cannot be read)";
      return false;
    }
    if (!g_editor.realClock) cocoa::useManualClock();
    cocoa::AutoreleasePool pool;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(within);
    // A tick first: the window shows what the plug-in changed since the last pass only once it has been pumped.
    bool met = false;
    for (;;) {
      pumpTick(s);
      met = areaLike(*picture, r) == like;
      if (met || std::chrono::steady_clock::now() >= end || interrupted()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    picture->release();
    reportMenus(s);
    if (interrupted()) return true;  // the host stops before the next step
    if (!met) {
      *err = "after " + std::to_string(within) + " ms the area is still " + (like ? "unlike " : "like ") + file;
      return false;
    }
    s.host.out().line(text);
    return true;
  };
}

StepAction parsePump(const StepArgs& a, std::string* error) {
  if (!a.words.empty() && a.words[0] == "until") return parsePumpUntil(a, error);
  long long n = 0;
  if (a.words.size() != 1 || !parseInt(a.words[0], &n) || n < 1 || n > 100000)
    return fail(error, "pump TICKS (1 to 100000 ticks of 40 ms on the model clock) | pump until ...");
  if (!a.keys.empty()) return fail(error, "pump takes only the tick count");
  return [n](Session& s, std::string*) {
    if (!g_editor.realClock) cocoa::useManualClock();
    cocoa::AutoreleasePool pool;
    // An interrupt ends the pump at the next tick, as it does a wait.
    for (long long i = 0; i < n && !interrupted(); ++i) pumpTick(s);
    if (!interrupted()) s.host.out().line("pump " + std::to_string(n));  // else the host stops before the next step
    reportMenus(s);
    return true;
  };
}

// One tick of a menu held open: the run loop goes on in the tracking mode, so the editor's timer fires.
void trackingTick() {
  cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 0.04, cocoa::kEventTrackingRunLoopMode);
}

// menu choose ... until=PIPE / signal=PIPE: the menu stands until another process hands over, not for a time. Once the
// menu is shown, a line goes into `signal` (a named pipe: this waits for its reader, as `chunk save` does); then the
// menu stays open, tick by tick, until a process has opened `until`, written it and closed it (a reader opened without
// blocking hears nothing before its first writer, and reads the end once the writer is gone); then for the held ticks.
StepAction heldOpen(const cocoa::menus::Choice& path, const std::string& text, long long held, const std::string& until,
                    const std::string& signal) {
  return [=](Session& s, std::string* err) {
    // Opened now, the pipe takes a writer that comes before the menu does.
    const int fd = until.empty() ? -1 : ::open(until.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (!until.empty() && fd < 0) {
      *err = "cannot open " + until;
      return false;
    }
    Host* host = &s.host;
    cocoa::menus::setChooser([=](const cocoa::ShownMenu&) {
      cocoa::menus::setChooser(nullptr);
      bool told = true;
      if (!signal.empty()) {
        const int out = ::open(signal.c_str(), O_WRONLY | O_CLOEXEC);
        const std::string line = "menu shown\n";
        told = out >= 0 && ::write(out, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        if (out >= 0) ::close(out);
        if (!told) host->out().line("menu could not signal " + quoted(signal.c_str(), signal.size() + 1));
      }
      // Without the signal the other side never hands over: the menu closes.
      for (bool over = fd < 0 || !told; !over && !interrupted();) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, cocoa::clockIsManual() ? 40 : 0) > 0) {
          char buffer[4096];
          ssize_t got;
          while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
          }
          over = got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR);
        }
        if (!over) trackingTick();
      }
      if (fd >= 0) ::close(fd);
      for (long long i = 0; i < held && told && !interrupted(); ++i) trackingTick();
      return told && !interrupted() ? path : cocoa::menus::Choice{};
    });
    std::string line = "menu will choose " + text;
    if (!until.empty()) line += " until " + quoted(until.c_str(), until.size() + 1);
    if (!signal.empty()) line += " signal " + quoted(signal.c_str(), signal.size() + 1);
    if (held > 0) line += " held " + std::to_string(held);
    s.host.out().line(line);
    return true;
  };
}

StepAction parseMenu(const StepArgs& a, std::string* error) {
  if (a.words.size() == 1 && a.words[0] == "dismiss" && a.keys.empty()) {
    return [](Session& s, std::string*) {
      cocoa::menus::scriptDismiss();
      s.host.out().line("menu will be dismissed");
      return true;
    };
  }
  if (a.words.size() == 2 && a.words[0] == "title" && a.keys.empty()) {
    // The next menu picks its top-level item of that title (a port name, say, whose position is not known in
    // advance); without one it is dismissed.
    const std::string title = a.words[1];
    return [title](Session& s, std::string*) {
      cocoa::menus::setChooser([title](const cocoa::ShownMenu& menu) {
        cocoa::menus::setChooser(nullptr);
        for (size_t i = 0; i < menu.items.size(); ++i)
          if (menu.items[i].title == title) return cocoa::menus::Choice{static_cast<int>(i)};
        return cocoa::menus::Choice{};
      });
      s.host.out().line("menu will choose " + quoted(title.c_str(), title.size() + 1));
      return true;
    };
  }
  long long held = 0;
  if (a.words.size() != 2 || a.words[0] != "choose" || !a.onlyKeys({"held", "until", "signal"}, error) ||
      (a.keys.count("held") && (!a.intKey("held", &held, error) || held < 0 || held > 1500)))
    return fail(error,
                "menu choose I[/J...] [held=TICKS] [until=PIPE] [signal=PIPE] | menu title TEXT | menu dismiss (item "
                "numbers from 0, submenus after /)");
  const auto until = a.keys.find("until"), signal = a.keys.find("signal");
  if ((until != a.keys.end() && until->second.empty()) || (signal != a.keys.end() && signal->second.empty()))
    return fail(error, "until= and signal= name a file");
  cocoa::menus::Choice path;
  std::stringstream ss(a.words[1]);
  std::string part;
  while (std::getline(ss, part, '/')) {
    long long i = 0;
    if (!parseInt(part, &i) || i < 0 || i > 100000) return fail(error, "bad menu item number \"" + part + "\"");
    path.push_back(static_cast<int>(i));
  }
  const std::string text = a.words[1];
  if (until != a.keys.end() || signal != a.keys.end())
    return heldOpen(path, text, held, until == a.keys.end() ? "" : until->second,
                    signal == a.keys.end() ? "" : signal->second);
  return [path, text, held](Session& s, std::string*) {
    if (held > 0) {
      // The musician keeps this menu open for so many ticks of 40 ms before the pick: the editor's timer goes on.
      cocoa::menus::setTrackingTime(static_cast<double>(held) * 0.04);
      cocoa::menus::setChooser([path](const cocoa::ShownMenu&) {
        cocoa::menus::setTrackingTime(0);
        cocoa::menus::setChooser(nullptr);
        return path;
      });
      s.host.out().line("menu will choose " + text + " held " + std::to_string(held));
      return true;
    }
    cocoa::menus::scriptChoice(path);
    s.host.out().line("menu will choose " + text);
    return true;
  };
}

// The last of what the user was shown, or null once the transcript says that nothing was (`what`: none).
template <class Shown>
const Shown* lastShown(Session& s, const std::vector<Shown>& shown, const std::string& what) {
  if (shown.empty()) s.host.out().line(what + ": none");
  return shown.empty() ? nullptr : &shown.back();
}

StepAction parsePanel(const StepArgs& a, std::string* error) {
  if (a.words.size() == 1 && a.words[0] == "cancel") {
    return [](Session& s, std::string*) {
      cocoa::panels::scriptCancel();
      s.host.out().line("panel will be cancelled");
      return true;
    };
  }
  if (a.words.size() == 1 && a.words[0] == "shown") {
    // The last panel as the user saw it: its folder and rows, and a scripted choice it did not offer.
    return [](Session& s, std::string*) {
      const auto shown = cocoa::panels::shownPanels();
      const cocoa::ShownPanel* p = lastShown(s, shown, "panel shown");
      if (!p) return true;
      std::string line = std::string("panel shown: ") + (p->open ? "open " : "save ") +
                         quoted(p->folder.c_str(), p->folder.size() + 1) + ", " + std::to_string(p->rows.size()) +
                         " rows:";
      for (const std::string& row : p->rows) line += " " + quoted(row.c_str(), row.size() + 1);
      s.host.out().line(line);
      if (!p->refused.empty())
        s.host.out().line("panel refused " + quoted(p->refused.c_str(), p->refused.size() + 1) + ": not offered");
      return true;
    };
  }
  if (a.words.size() != 2 || a.words[0] != "choose")
    return fail(error, "panel choose PATH | panel cancel | panel shown");
  const std::string path = a.words[1];
  return [path](Session& s, std::string*) {
    cocoa::panels::scriptChoice(path);
    s.host.out().line("panel will choose " + quoted(path.c_str(), path.size() + 1));
    return true;
  };
}

StepAction parseAlert(const StepArgs& a, std::string* error) {
  struct {
    const char* name;
    int response;
  } answers[] = {{"default", cocoa::kAlertDefaultResponse},
                 {"alternate", cocoa::kAlertAlternateResponse},
                 {"other", cocoa::kAlertOtherResponse},
                 {"cancel", cocoa::kAlertCancelResponse}};
  if (a.words.size() == 2 && a.words[0] == "answer") {
    for (const auto& ans : answers) {
      if (a.words[1] == ans.name) {
        const int r = ans.response;
        const std::string name = ans.name;
        return [r, name](Session& s, std::string*) {
          cocoa::alerts::scriptResponse(r);
          s.host.out().line("alert will answer " + name);
          return true;
        };
      }
    }
  }
  if (a.words.size() == 1 && a.words[0] == "shown" && a.keys.empty()) {
    // The last alert as the user saw it: its header and the titles of its buttons.
    return [](Session& s, std::string*) {
      const auto shown = cocoa::alerts::shownAlerts();
      const cocoa::ShownAlert* al = lastShown(s, shown, "alert shown");
      if (!al) return true;
      auto text = [](const std::string& t) { return quoted(t.c_str(), t.size() + 1); };
      s.host.out().line("alert shown: " + text(al->header) + " default " + text(al->defaultButton) + " alternate " +
                        text(al->alternateButton) + " other " + text(al->otherButton));
      return true;
    };
  }
  return fail(error, "alert answer default|alternate|other|cancel | alert shown");
}

}  // namespace

X11HostWindow* currentX11HostWindow() {
  return g_editor.x11.get();
}

namespace {

StepAction parseWindow(const StepArgs& a, std::string* error) {
  if (a.words.size() == 2 && a.words[0] == "save" && a.keys.empty()) {
    const std::string file = a.words[1];
    return [file](Session& s, std::string* err) {
      if (!needEditor(err)) return false;
      if (!g_editor.window->writePNG(file)) {
        *err = "cannot write " + file;
        return false;
      }
      s.host.out().line("window save " + quoted(file.c_str(), file.size() + 1) + " " + std::to_string(g_editor.width) +
                        "x" + std::to_string(g_editor.height));
      return true;
    };
  }
  if (a.words.size() == 1 && a.words[0] == "draws" && a.keys.empty()) {
    return [](Session& s, std::string* err) {
      if (!needEditor(err)) return false;
      const auto rects = g_editor.window->takeDisplayedRects();
      std::string line = "window draws " + std::to_string(rects.size());
      for (const auto& r : rects) line += " [" + num(r.x) + "," + num(r.y) + " " + num(r.w) + "x" + num(r.h) + "]";
      s.host.out().line(line);
      return true;
    };
  }
  return fail(error, "window save FILE.png | window draws");
}

const StepRegistrar kEditorSteps[] = {
    StepRegistrar({"editor", "editor open cocoa|carbon|x11 [composited=0/1] [window=ID] [clock=real] | editor close",
                   parseEditor}),
    StepRegistrar(
        {"mouse", "mouse down|up|drag|move X Y [button=left/right] [mods=shift,ctrl,alt,cmd] [clicks=N]", parseMouse}),
    StepRegistrar({"click", "click X Y [button=left/right] [mods=...]", parseMouse}),
    StepRegistrar({"dblclick", "dblclick X Y [mods=...]", parseMouse}),
    StepRegistrar({"drag", "drag X1 Y1 X2 Y2 [steps=N] [button=left/right] [mods=...]", parseDrag}),
    StepRegistrar({"wheel", "wheel X Y DELTA [mods=...]", parseMouse}),
    StepRegistrar({"key",
                   "key NAME|CHARACTER [mods=...] (names: left right up down space tab return enter "
                   "backspace escape delete)",
                   parseKey}),
    StepRegistrar({"type", "type TEXT", parseType}),
    StepRegistrar({"pump", "pump TICKS | pump until X Y W H like|unlike FILE.png [within=MS]", parsePump}),
    StepRegistrar({"menu",
                   "menu choose I[/J...] [held=TICKS] [until=PIPE] [signal=PIPE] | menu title TEXT | menu dismiss",
                   parseMenu}),
    StepRegistrar({"panel", "panel choose PATH | panel cancel | panel shown", parsePanel}),
    StepRegistrar({"alert", "alert answer default|alternate|other|cancel | alert shown", parseAlert}),
    StepRegistrar({"window", "window save FILE.png | window draws", parseWindow}),
};

}  // namespace

}  // namespace vexhost
