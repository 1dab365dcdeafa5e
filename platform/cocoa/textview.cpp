#include "platform/cocoa/textview.h"

#include <algorithm>

#include "platform/cocoa/scrollview.h"
#include "platform/text/text.h"

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

double widthOf(const std::string& utf8, double size) {
  std::u32string chars;
  if (!platform::text::decodeUtf8(utf8.data(), utf8.size(), chars)) return 0;
  platform::text::FontRef font = platform::text::labelFont(static_cast<float>(size));
  return font ? platform::text::layoutLine(font, chars.data(), chars.size()).width : 0;
}

}  // namespace

std::vector<std::string> TextView::layoutLines() const {
  // Paragraphs break at line feeds; a view that does not grow sideways wraps them at word boundaries.
  std::vector<std::string> lines;
  const double limit = frame().w - 4;
  size_t start = 0;
  while (start <= text_.size()) {
    size_t nl = text_.find('\n', start);
    if (nl == std::string::npos) nl = text_.size();
    std::string paragraph = text_.substr(start, nl - start);
    while (!horizontallyResizable && limit > 0 && widthOf(paragraph, fontSize) > limit) {
      size_t cut = paragraph.rfind(' ');
      while (cut != std::string::npos && cut > 0 && widthOf(paragraph.substr(0, cut), fontSize) > limit) {
        cut = paragraph.rfind(' ', cut - 1);
      }
      if (cut == std::string::npos || cut == 0) break;
      lines.push_back(paragraph.substr(0, cut));
      paragraph = paragraph.substr(cut + 1);
    }
    lines.push_back(paragraph);
    start = nl + 1;
  }
  return lines;
}

size_t TextView::length() const {
  size_t n = 0;
  for (unsigned char c : text_) n += (c & 0xC0) != 0x80;
  return n;
}

int TextView::lineCount() const {
  return static_cast<int>(layoutLines().size());
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
  if (isCommandKey(e)) {
    if (!isSelectAll(e)) return passOn(e);
    setSelectedRange(TextRange{0, length()});
    return;
  }
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
  int line = 0;
  for (const std::string& text : layoutLines()) {
    drawControlText(this, text, Rect{2, 2 + line * lineHeight(), b.w - 4, lineHeight()}, kTextAlignmentLeft, textColor,
                    fontSize);
    ++line;
  }
}

}  // namespace cocoa
