// Alerts as X11 windows: the header, the message wrapped to the window's width, and one to three buttons: the default
// one at the right, the alternate one beside it and the other one at the left. Enter presses the default button,
// Escape the one named Cancel; without one, Escape leaves the alert unanswered, which loses nothing whoever asked: a
// question of the surface takes it as its default `no`, a message box as Cancel or No, a plain OK box as OK. The
// alternate button is a question's `yes` (the surface puts the answer that loses nothing on the default one), so
// Escape never presses it.
#include <algorithm>

#include "platform/x11/dialog.h"

namespace x11 {

namespace {

constexpr int kWidth = 440, kMargin = 20, kLine = 18, kButtonH = 26;

class AlertWindow : public Dialog {
 public:
  AlertWindow(Presenter::Impl& p, const cocoa::ShownAlert& alert)
      : Dialog(p),
        a_(alert) {
    // Right to left: default, alternate, other.
    buttons_.push_back({a_.defaultButton.empty() ? "OK" : a_.defaultButton, cocoa::kAlertDefaultResponse});
    if (!a_.alternateButton.empty()) buttons_.push_back({a_.alternateButton, cocoa::kAlertAlternateResponse});
    if (!a_.otherButton.empty()) buttons_.push_back({a_.otherButton, cocoa::kAlertOtherResponse});
  }

  int runIt() {
    header_ = wrapText(bold_, a_.header, kWidth - 2 * kMargin);
    lines_ = wrapText(font_, a_.message, kWidth - 2 * kMargin);
    // A message longer than the screen keeps its head, cut where the screen ends.
    const int room = (p_.screen()->height_in_pixels - 160) / kLine;
    if (static_cast<int>(header_.size() + lines_.size()) > room) {
      lines_.resize(static_cast<size_t>(std::max(1, room - static_cast<int>(header_.size()))));
      lines_.back() += U"\u2026";
    }
    const int h = kMargin + static_cast<int>(header_.size() + lines_.size()) * kLine + (header_.empty() ? 0 : 6) + 24 +
                  kButtonH + 16;
    if (!run("Vexmir Editor alert: " + (a_.header.empty() ? std::string("Alert") : a_.header), kWidth, h))
      return cocoa::kAlertCancelResponse;
    return response_;
  }

 private:
  struct Button {
    std::string title;
    int response;
    float x = 0, w = 0;
  };

  void draw(Canvas& c) override {
    float y = kMargin;
    for (const std::u32string& l : header_) {
      c.text(bold_, l, kMargin, baselineIn(bold_, y, kLine), 0x1E1E1E);
      y += kLine;
    }
    y += header_.empty() ? 0 : 6;
    for (const std::u32string& l : lines_) {
      c.text(font_, l, kMargin, baselineIn(font_, y, kLine), 0x303030);
      y += kLine;
    }
    const float by = static_cast<float>(height() - kButtonH - 16);
    float right = static_cast<float>(width() - kMargin);
    for (size_t i = 0; i < buttons_.size(); ++i) {
      Button& b = buttons_[i];
      b.w = std::max(80.0f, textWidth(font_, b.title) + 24);
      // The other button stands apart at the left.
      b.x = b.response == cocoa::kAlertOtherResponse ? kMargin : right - b.w;
      right = b.x - 10;
      c.button(font_, b.title, b.x, by, b.w, kButtonH, i == 0);
    }
  }

  void press(int x, int y, int button, int, uint16_t) override {
    const int by = height() - kButtonH - 16;
    if (button != 1 || y < by || y >= by + kButtonH) return;
    for (const Button& b : buttons_)
      if (x >= b.x && x < b.x + b.w) answer(b.response);
  }

  void key(uint32_t sym, uint16_t) override {
    if (sym == kKeyReturn || sym == kKeyPadEnter) answer(cocoa::kAlertDefaultResponse);
    if (sym != kKeyEscape) return;
    for (const Button& b : buttons_)
      if (b.title == "Cancel") return answer(b.response);
    answer(cocoa::kAlertCancelResponse);
  }

  void answer(int response) {
    response_ = response;
    finish();
  }

  const cocoa::ShownAlert a_;
  std::vector<Button> buttons_;
  std::vector<std::u32string> header_, lines_;
  int response_ = cocoa::kAlertCancelResponse;
};

}  // namespace

int Presenter::Impl::runAlert(const cocoa::ShownAlert& alert) {
  return AlertWindow(*this, alert).runIt();
}

}  // namespace x11
