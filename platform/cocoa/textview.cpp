#include "platform/cocoa/textview.h"

#include <algorithm>

#include "platform/cocoa/scrollview.h"

namespace cocoa {

namespace {

size_t byteOf(const std::string& s, size_t n) {
  size_t i = 0;
  while (i < s.size() && n > 0) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    --n;
  }
  return i;
}

}  // namespace

size_t TextView::length() const {
  size_t n = 0;
  for (unsigned char c : text_) n += (c & 0xC0) != 0x80;
  return n;
}

int TextView::lineCount() const {
  return 1 + static_cast<int>(std::count(text_.begin(), text_.end(), '\n'));
}

void TextView::setString(const std::string& utf8) {
  text_ = utf8;
  sel_ = TextRange{length(), 0};
  fitHeight();
  setNeedsDisplay(true);
}

void TextView::setSelectedRange(TextRange r) {
  const size_t n = length();
  if (r.location > n) r.location = n;
  if (r.length > n - r.location) r.length = n - r.location;
  sel_ = r;
  setNeedsDisplay(true);
}

void TextView::scrollRangeToVisible(TextRange r) {
  ScrollView* sv = enclosingScrollView(this);
  if (!sv) return;
  const size_t end = byteOf(text_, r.location);
  const int line = static_cast<int>(std::count(text_.begin(), text_.begin() + static_cast<long>(end), '\n'));
  sv->scrollRectToVisible(Rect{0, line * lineHeight(), 1, lineHeight()});
}

void TextView::fitHeight() {
  if (!verticallyResizable) return;
  ScrollView* sv = enclosingScrollView(this);
  const double minH = sv ? sv->contentSize().h : frame().h;
  const double h = std::max(minH, lineCount() * lineHeight() + 4);
  if (h != frame().h) {
    setFrameSize(frame().w, h);
    if (sv) sv->tile();
  }
}

void TextView::replaceSelection(const std::string& utf8) {
  const size_t from = byteOf(text_, sel_.location), to = byteOf(text_, sel_.location + sel_.length);
  text_ = text_.substr(0, from) + utf8 + text_.substr(to);
  size_t added = 0;
  for (unsigned char c : utf8) added += (c & 0xC0) != 0x80;
  sel_ = TextRange{sel_.location + added, 0};
  changedSinceFocus_ = true;
  fitHeight();
  setNeedsDisplay(true);
  if (delegate_) delegate_->textDidChange(this);
}

void TextView::keyDown(Event* e) {
  if (!editable) return;
  for (char32_t c : e->characters) {
    if (c == U'\r' || c == 3 || c == U'\n') {
      replaceSelection("\n");
    } else if (c == 0x7F || c == 8) {
      if (sel_.length == 0 && sel_.location > 0) sel_ = TextRange{sel_.location - 1, 1};
      if (sel_.length > 0) replaceSelection("");
    } else if (c >= 0xF700 && c <= 0xF8FF) {
      sel_ = TextRange{length(), 0};
    } else if (c >= 0x20) {
      replaceSelection(utf8Of(c));
    }
  }
}

void TextView::resignedFirstResponder() {
  if (changedSinceFocus_ && delegate_) delegate_->textDidEndEditing(this);
  changedSinceFocus_ = false;
}

void TextView::drawRect(Rect) {
  const Rect b = bounds();
  if (drawsBackground) fillViewRect(this, b, RGBAColor{1, 1, 1, 1});
  size_t start = 0;
  int line = 0;
  while (start <= text_.size()) {
    size_t nl = text_.find('\n', start);
    if (nl == std::string::npos) nl = text_.size();
    drawControlText(this, text_.substr(start, nl - start), Rect{2, 2 + line * lineHeight(), b.w - 4, lineHeight()},
                    kTextAlignmentLeft, textColor, fontSize);
    ++line;
    start = nl + 1;
  }
}

}  // namespace cocoa
