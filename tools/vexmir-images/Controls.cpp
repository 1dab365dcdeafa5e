#include "tools/vexmir-images/Controls.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tools/vexmir-images/Canvas.h"

namespace images {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr int kKnobFrames = 128;
// A knob turns through 270 degrees, from 7:30 to 4:30 on a clock face.
constexpr float kKnobStart = -135.0f * kPi / 180.0f;
constexpr float kKnobEnd = 135.0f * kPi / 180.0f;

// One knob frame: track, value arc (from the start, or from the top for bipolar knobs), body and pointer.
void drawKnobFrame(Canvas& c, int top, int size, double value, bool bipolar, const Theme& t) {
  const float cx = size / 2.0f - 0.5f, cy = top + size / 2.0f - 0.5f;
  const float arcR = size / 2.0f - 3.0f;
  const float thick = size >= 40 ? 3.5f : 3.0f;
  const float angle = kKnobStart + static_cast<float>(value) * (kKnobEnd - kKnobStart);
  c.arc(cx, cy, arcR, thick, kKnobStart, kKnobEnd, rgb(t.knobTrack));
  const float from = bipolar ? 0.0f : kKnobStart;
  if (std::fabs(angle - from) > 0.01f) c.arc(cx, cy, arcR, thick, from, angle, rgb(t.accent));
  if (bipolar) c.stroke(cx, cy - arcR - 2.5f, cx, cy - arcR + 2.5f, 1.0f, rgb(t.labelText));
  const float bodyR = size / 2.0f - (size >= 40 ? 8.0f : 7.0f);
  c.disc(cx, cy + 1.0f, bodyR + 0.5f, rgb(0x000000), 0.6f);  // shadow
  c.disc(cx, cy, bodyR, rgb(t.knobBodyLo));
  c.disc(cx - 0.6f, cy - 0.8f, bodyR - 1.5f, rgb(t.knobBody));
  c.ring(cx, cy, bodyR, rgb(0x5A616B));
  const float px = std::sin(angle), py = -std::cos(angle);
  c.stroke(cx + px * bodyR * 0.25f, cy + py * bodyR * 0.25f, cx + px * (bodyR - 1.5f), cy + py * (bodyR - 1.5f), 2.0f,
           rgb(t.pointer));
}

bool knobStrip(const std::string& path, int size, bool bipolar, const Theme& t) {
  Canvas c(size, size * kKnobFrames);
  c.clear(rgb(t.panelBg, 0));
  for (int i = 0; i < kKnobFrames; ++i) drawKnobFrame(c, i * size, size, i / double(kKnobFrames - 1), bipolar, t);
  return writePng(c.bitmap(), path);
}

// A strip of two frames stacked: draw(frame canvas, top, lit).
bool twoFrames(const std::string& path, int w, int h, const std::function<void(Canvas&, int, bool)>& draw,
               unsigned clearColor) {
  Canvas c(w, 2 * h);
  c.clear(clearColor);
  draw(c, 0, false);
  draw(c, h, true);
  return writePng(c.bitmap(), path);
}

// A labelled push button or tab: dark and raised when off, lit in the accent colour when on.
void labelButton(Canvas& c, int x, int y, int w, int h, const std::string& text, bool lit, const Theme& t,
                 int size = 12) {
  if (lit) {
    c.roundFill(x, y, w, h, 4, rgb(t.accent));
    c.text(text, x, y, w, h, Face::Label, size, rgb(0x101010));
  } else {
    c.roundFill(x, y, w, h, 4, rgb(0x0A0B0C));
    c.roundFill(x + 1, y + 1, w - 2, h - 2, 3, rgb(0x3B414A));
    c.gradient(x + 3, y + 2, w - 6, h / 2 - 1, rgb(0x474E58), rgb(0x3B414A));
    c.text(text, x, y, w, h, Face::Label, size, rgb(t.titleText));
  }
}

bool labelButtonImage(const std::string& path, int w, int h, const std::string& text, const Theme& t, int size = 12) {
  return twoFrames(
      path, w, h, [&](Canvas& c, int top, bool lit) { labelButton(c, 0, top, w, h, text, lit, t, size); },
      rgb(t.barBg, 0));
}

// A radio strip: two frames stacked, each a row of equal cells, unlit and lit.
bool radioStrip(const std::string& path, int cellW, int h, const std::vector<std::string>& cells, const Theme& t) {
  const int n = static_cast<int>(cells.size());
  return twoFrames(
      path, cellW * n, h,
      [&](Canvas& c, int top, bool lit) {
        for (int i = 0; i < n; ++i) labelButton(c, i * cellW + 1, top, cellW - 2, h, cells[i], lit, t);
      },
      rgb(t.barBg, 0));
}

void padlock(Canvas& c, int top, bool locked, const Theme& t) {
  const unsigned col = locked ? rgb(0xFF4A3A) : rgb(t.dimText);
  // Shackle: closed sits in the body, open is lifted to the right.
  const float sx = locked ? 8.0f : 10.0f, sy = top + (locked ? 6.5f : 5.5f);
  c.arc(sx - 0.5f, sy, 3.5f, 1.5f, -kPi / 2, kPi / 2, col);
  c.stroke(sx - 4.0f, sy, sx - 4.0f, sy + 2.5f, 1.5f, col);
  c.stroke(sx + 3.0f, sy, sx + 3.0f, sy + (locked ? 2.5f : 0.5f), 1.5f, col);
  c.roundFill(3, top + 8, 10, 7, 1, col);
  c.fill(7, top + 10, 2, 3, rgb(t.panelBg));
}

// The section lock of a panel's title strip: an open padlock, or a red padlock with the word LOCKED, so that a
// locked section (which the randomizer and incoming programs leave alone) is told apart at a glance.
void wideLock(Canvas& c, int top, bool locked, const Theme& t) {
  if (locked) {
    c.roundFill(0, top, 62, 16, 3, rgb(0x5A1A16));
    c.text("LOCKED", 4, top, 40, 16, Face::Label, 10, rgb(0xFF6A5A), Align::Left);
  }
  Canvas lockIcon(16, 16);
  lockIcon.clear(rgb(locked ? 0x5A1A16 : t.titleBg, 0));
  padlock(lockIcon, 0, locked, t);
  PIX_Blit(c.bitmap(), lockIcon.bitmap(), 46, top, nullptr, 1.0f, PIX_BLIT_USE_SOURCE_ALPHA);
}

void led(Canvas& c, int top, bool on, const Theme&) {
  c.disc(5.5f, top + 5.5f, 5.5f, rgb(0x050505));
  c.disc(5.5f, top + 5.5f, 4.5f, on ? rgb(0x39FF6A) : rgb(0x1F3A26));
  if (on) c.disc(4.5f, top + 4.5f, 1.6f, rgb(0xD8FFE0));
}

void toggle(Canvas& c, int top, bool on, const Theme& t) {
  c.roundFill(0, top + 1, 30, 14, 7, rgb(0x0A0B0C));
  c.roundFill(1, top + 2, 28, 12, 6, on ? rgb(t.accent) : rgb(0x30353C));
  const float kx = on ? 22.0f : 7.5f;
  c.disc(kx, top + 7.5f, 5.0f, on ? rgb(0xFFFFFF) : rgb(0x8C939C));
}

void plainButton(Canvas& c, int top, int w, int h, bool on, const Theme& t) {
  labelButton(c, 0, top, w, h, "", on, t);
  c.disc(w / 2.0f - 0.5f, top + h / 2.0f - 0.5f, 2.5f, on ? rgb(0x101010) : rgb(0x8C939C));
}

void linkIcon(Canvas& c, int top, bool on, const Theme& t) {
  labelButton(c, 0, top, 48, 24, "", on, t);
  const unsigned col = on ? rgb(0x101010) : rgb(t.titleText);
  c.roundFrame(8, top + 8, 16, 8, 4, col);
  c.roundFrame(9, top + 9, 14, 6, 3, col);
  c.roundFrame(22, top + 8, 16, 8, 4, col);
  c.roundFrame(23, top + 9, 14, 6, 3, col);
}

// A small button with a triangle pointing left (dir -1) or right (dir 1).
void arrowButton(Canvas& c, int top, bool on, int dir, const Theme& t) {
  labelButton(c, 0, top, 22, 24, "", on, t);
  const unsigned col = on ? rgb(0x101010) : rgb(t.titleText);
  const int cx = 11, cy = top + 12;
  PIX_FillTriangle(c.bitmap(), cx - 3 * dir, cy - 5, cx - 3 * dir, cy + 5, cx + 3 * dir, cy, col, 1.0f, 0);
}

void faderHandle(Canvas& c, int w, int h, const Theme& t) {
  c.roundFill(0, 0, w, h, 3, rgb(0x0A0B0C));
  c.roundFill(1, 1, w - 2, h - 2, 2, rgb(0xB8BEC6));
  if (w > h)
    c.fill(w / 2 - 1, 2, 2, h - 4, rgb(t.accent));
  else
    c.fill(2, h / 2 - 1, w - 4, 2, rgb(t.accent));
}

// The progress overlay: the editor dimmed and a message box that holds both places of the Cancel button, of which
// one shows at a time: the general one in the title bar at (1150, 122), the librarian's in the lower left corner
// at (860, 340).
bool overlay(const std::string& path, const Theme& t) {
  Canvas c(1500, 667);
  c.clear(rgb(0x000000, 170));
  c.roundFill(840, 110, 412, 266, 8, rgb(t.panelEdge));
  c.roundFill(842, 112, 408, 262, 7, rgb(t.panelBg));
  c.fill(842, 112, 408, 46, rgb(t.titleBg));
  c.text("DATA TRANSFER", 856, 122, 280, 24, Face::Title, 13, rgb(t.titleText), Align::Left);
  c.text("Talking to the synthesizer...", 856, 200, 380, 20, Face::Label, 14, rgb(t.labelText), Align::Left);
  c.text("Please wait, or cancel the transfer.", 856, 224, 380, 20, Face::Label, 12, rgb(t.dimText), Align::Left);
  return writePng(c.bitmap(), path);
}

// The first-run notice: what to do before the editor can talk to the synthesizer.
bool firstRunDialog(const std::string& path, const Theme& t) {
  Canvas c(520, 230);
  c.roundFill(0, 0, 520, 230, 8, rgb(t.accent));
  c.roundFill(2, 2, 516, 226, 7, rgb(t.panelBg));
  c.fill(2, 2, 516, 28, rgb(t.titleBg));
  c.text("WELCOME TO VEXMIR EDITOR", 16, 2, 480, 28, Face::Title, 14, rgb(t.titleText), Align::Left);
  const char* lines[] = {"1. Open the GLOBAL tab and choose the MIDI input and output",
                         "    ports your synthesizer is connected to.",
                         "2. Set the global MIDI channel to the synthesizer's channel.",
                         "3. Press REQUEST to load the synthesizer's current program.",
                         "Every knob you turn is sent to the synthesizer at once."};
  for (int i = 0; i < 5; ++i)
    c.text(lines[i], 18, 42 + i * 26, 490, 22, Face::Label, 13, rgb(i == 4 ? t.dimText : t.labelText), Align::Left);
  return writePng(c.bitmap(), path);
}

}  // namespace

bool drawControls(const std::string& dir) {
  const Theme& t = normalTheme();
  const Theme& b = blackTheme();
  auto at = [&dir](const char* name) { return dir + "/" + name; };
  bool ok = true;
  ok &= knobStrip(at("knob-large.png"), 40, false, t);
  ok &= knobStrip(at("knob-small.png"), 30, false, t);
  ok &= knobStrip(at("knob-large-bipolar.png"), 40, true, t);
  ok &= knobStrip(at("knob-small-bipolar.png"), 30, true, t);
  ok &= knobStrip(at("knob-large-black.png"), 40, false, b);
  ok &= knobStrip(at("knob-small-black.png"), 30, false, b);
  ok &= knobStrip(at("knob-large-bipolar-black.png"), 40, true, b);
  ok &= knobStrip(at("knob-small-bipolar-black.png"), 30, true, b);
  ok &= twoFrames(
      at("switch.png"), 30, 16, [&](Canvas& c, int top, bool on) { toggle(c, top, on, t); }, rgb(t.panelBg, 0));
  ok &= twoFrames(
      at("button.png"), 64, 20, [&](Canvas& c, int top, bool on) { plainButton(c, top, 64, 20, on, t); },
      rgb(t.panelBg, 0));
  ok &= twoFrames(
      at("button-small.png"), 40, 16, [&](Canvas& c, int top, bool on) { plainButton(c, top, 40, 16, on, t); },
      rgb(t.panelBg, 0));
  ok &= twoFrames(
      at("led.png"), 12, 12, [&](Canvas& c, int top, bool on) { led(c, top, on, t); }, rgb(t.barBg, 0));
  ok &= twoFrames(
      at("lock.png"), 16, 16, [&](Canvas& c, int top, bool on) { padlock(c, top, on, t); }, rgb(t.titleBg, 0));
  ok &= twoFrames(
      at("lock-wide.png"), 62, 16, [&](Canvas& c, int top, bool on) { wideLock(c, top, on, t); }, rgb(t.titleBg, 0));
  ok &= twoFrames(
      at("link.png"), 48, 24, [&](Canvas& c, int top, bool on) { linkIcon(c, top, on, t); }, rgb(t.barBg, 0));
  ok &= labelButtonImage(at("tab-librarian.png"), 110, 24, "LIBRARIAN", t);
  ok &= labelButtonImage(at("tab-modseq.png"), 110, 24, "MOD SEQUENCE", t);
  ok &= labelButtonImage(at("tab-global.png"), 110, 24, "GLOBAL", t);
  ok &= radioStrip(at("tabs-timbre.png"), 90, 24, {"TIMBRE 1", "TIMBRE 2"}, t);
  ok &= radioStrip(at("tabs-main.png"), 110, 24, {"LIBRARIAN", "EDIT", "MOD SEQUENCE", "GLOBAL"}, t);
  ok &= labelButtonImage(at("button-request.png"), 66, 24, "REQUEST", t);
  ok &= labelButtonImage(at("button-send.png"), 50, 24, "SEND", t);
  ok &= labelButtonImage(at("button-random.png"), 78, 24, "RANDOMIZE", t);
  ok &= labelButtonImage(at("button-lib-cancel.png"), 90, 24, "CANCEL", t);
  ok &= labelButtonImage(at("button-store.png"), 138, 24, "STORE TO SLOT", t);
  ok &= labelButtonImage(at("button-discard.png"), 138, 24, "DISCARD CHANGES", t);
  ok &= labelButtonImage(at("button-unlock.png"), 96, 24, "UNLOCK ALL", t);
  ok &= labelButtonImage(at("button-ok.png"), 90, 24, "OK", t);
  ok &= twoFrames(
      at("button-prev.png"), 22, 24, [&](Canvas& c, int top, bool on) { arrowButton(c, top, on, -1, t); },
      rgb(t.barBg, 0));
  ok &= twoFrames(
      at("button-next.png"), 22, 24, [&](Canvas& c, int top, bool on) { arrowButton(c, top, on, 1, t); },
      rgb(t.barBg, 0));
  Canvas hv(24, 12), hh(12, 24);
  faderHandle(hv, 24, 12, t);
  faderHandle(hh, 12, 24, t);
  ok &= writePng(hv.bitmap(), at("slider-handle-ver.png"));
  ok &= writePng(hh.bitmap(), at("slider-handle-hor.png"));
  ok &= overlay(at("overlayer.png"), t);
  ok &= firstRunDialog(at("dialog.png"), t);
  return ok;
}

}  // namespace images
