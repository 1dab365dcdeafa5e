#include "platform/cocoa/textfield.h"

#include <algorithm>
#include <cmath>

#include "platform/cocoa/controls.h"
#include "platform/graphics/graphics.h"
#include "platform/text/text.h"

namespace cocoa {

std::string utf8Of(char32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

TextField::~TextField() {
  releaseObject(formatter_);
  releaseObject(objectValue_);
}

void TextField::setStringValue(const std::string& utf8) {
  takeValueOf(utf8);
  if (drawsText) setNeedsDisplay(true);
}

void TextField::takeValueOf(const std::string& utf8) {
  releaseObject(objectValue_);
  objectValue_ = nullptr;
  if (!formatter_) {
    text_ = utf8;
    return;
  }
  Object* value = nullptr;
  std::string error;
  if (formatter_->getObjectValue(&value, utf8, &error)) objectValue_ = value;
  String* shown = objectValue_ ? formatter_->stringForObjectValue(objectValue_) : nullptr;
  text_ = shown ? shown->utf8() : std::string();
}

void TextField::setFormatter(Formatter* f) {
  if (f) f->retain();
  releaseObject(formatter_);
  formatter_ = f;
}

void TextField::becameFirstResponder() {
  editing_ = true;
  allSelected_ = true;
  selStart_ = -1;
  if (drawsText) setNeedsDisplay(true);
}

void TextField::resignedFirstResponder() {
  if (editing_) endEditing();
}

void TextField::endEditing() {
  if (!editing_ || ending_) return;
  ending_ = true;
  editing_ = false;
  allSelected_ = false;
  if (drawsText) setNeedsDisplay(true);  // the caret goes
  takeValueOf(text_);
  retain();
  if (delegate_) delegate_->controlTextDidEndEditing(this);
  ending_ = false;
  release();
}

bool TextField::tryText(const std::string& candidate) {
  if (formatter_ && !formatter_->isPartialStringValid(candidate)) return false;
  text_ = candidate;
  if (drawsText) setNeedsDisplay(true);
  return true;
}

namespace {
std::u32string decode(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    char32_t v = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < n && i + k < s.size(); ++k) v = (v << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out += v;
    i += n;
  }
  return out;
}
std::string encode(const std::u32string& s) {
  std::string out;
  for (char32_t c : s) out += utf8Of(c);
  return out;
}
}  // namespace

void TextField::selectedRange(int* start, int* length) const {
  const int n = static_cast<int>(decode(text_).size());
  int s = n, l = 0;
  if (allSelected_) {
    s = 0;
    l = n;
  } else if (selStart_ >= 0) {
    s = std::min(selStart_, n);
    l = std::max(0, std::min(selLength_, n - s));
  }
  if (start) *start = s;
  if (length) *length = l;
}

void TextField::setSelectedRange(int start, int length) {
  const int n = static_cast<int>(decode(text_).size());
  start = std::max(0, std::min(start, n));
  length = std::max(0, std::min(length, n - start));
  allSelected_ = false;
  selStart_ = start;
  selLength_ = length;
  if (drawsText) setNeedsDisplay(true);  // the caret moves, and a text wider than the field scrolls to it
}

bool isSelectAll(const Event* e) {
  const char32_t c = e->charactersIgnoringModifiers.size() == 1 ? e->charactersIgnoringModifiers[0] : 0;
  return c == U'a' || c == U'A';
}

bool isCommandKey(const Event* e) {
  return (e->modifierFlags & (kControlKeyMask | kCommandKeyMask)) != 0;
}

void TextField::keyDown(Event* e) {
  if (!editing_ || !editable || e->characters.empty()) return;
  if (isCommandKey(e)) {
    if (!isSelectAll(e)) return passOn(e);
    allSelected_ = true;
    selStart_ = -1;
    if (drawsText) setNeedsDisplay(true);
    return;
  }
  for (char32_t c : e->characters) {
    if (c == U'\r' || c == 3) {  // Return, Enter
      endEditing();
      return;
    }
    std::u32string t = decode(text_);
    int s = 0, l = 0;
    selectedRange(&s, &l);
    if (c >= 0xF700 && c <= 0xF8FF) {  // arrows and function keys: caret movement only (to the end)
      allSelected_ = false;
      selStart_ = -1;
      if (drawsText) setNeedsDisplay(true);
      continue;
    }
    if (c == 0x7F || c == 8) {  // Backspace, Delete
      if (l == 0 && s > 0) {
        --s;
        l = 1;
      }
      const std::u32string candidate = t.substr(0, s) + t.substr(s + l);
      if (tryText(encode(candidate))) {
        allSelected_ = false;
        selStart_ = s;
        selLength_ = 0;
        if (delegate_) delegate_->controlTextDidChange(this);
      }
      continue;
    }
    if (c < 0x20) continue;
    const std::u32string candidate = t.substr(0, s) + c + t.substr(s + l);
    if (tryText(encode(candidate))) {
      allSelected_ = false;
      selStart_ = s + 1;
      selLength_ = 0;
      if (delegate_) delegate_->controlTextDidChange(this);
    } else {
      refused_.push_back(utf8Of(c));
    }
  }
}

void TextField::sizeToFit() {
  double w = 4;
  const auto font = platform::text::labelFont(static_cast<float>(fontSize));
  if (font) {
    const std::u32string t = decode(text_);
    w += platform::text::layoutLine(font, t.data(), t.size()).width;
  }
  setFrameSize(std::ceil(w), frame().h);
}

void TextField::drawRect(Rect) {
  platform::gfx::Context* ctx = graphicsContext::currentPort();
  if (!ctx) return;
  const Rect b = bounds();
  if (!drawsText || drawsBackground) {
    ctx->setFillColor(platform::gfx::Color{static_cast<float>(backgroundColor.r), static_cast<float>(backgroundColor.g),
                                           static_cast<float>(backgroundColor.b),
                                           static_cast<float>(backgroundColor.a)});
    ctx->fillRect(platform::gfx::Rect{0, 0, static_cast<float>(b.w), static_cast<float>(b.h)});
  }
  if (!drawsText) return;
  if (bordered || bezeled) {
    ctx->setStrokeColor(platform::gfx::Color{0.55f, 0.55f, 0.55f, 1});
    ctx->strokeRect(platform::gfx::Rect{0.5f, 0.5f, static_cast<float>(b.w - 1), static_cast<float>(b.h - 1)}, 1);
  }
  std::string shown = text_;
  if (secure) {
    shown.clear();
    for (size_t i = 0, n = decode(text_).size(); i < n; ++i) shown += "\xE2\x80\xA2";
  }
  const int align = alignment == kTextAlignmentCenter ? 2 : alignment == kTextAlignmentRight ? 1 : 0;
  RGBAColor c = textColor;
  if (!isEnabled()) c.a *= 0.5;
  int s = 0, l = 0;
  selectedRange(&s, &l);
  drawFieldText(this, shown, Rect{3, 0, b.w - 6, b.h}, align, c, fontSize, editing_, s, l, truncatesTail);
}

void drawFieldText(View* view, const std::string& utf8, Rect box, int alignment, const RGBAColor& color,
                   double fontSize, bool editing, int selStart, int selLength, bool truncatesTail) {
  platform::gfx::Context* ctx = graphicsContext::currentPort();
  const auto font = platform::text::labelFont(static_cast<float>(fontSize));
  if (!ctx || !font) return;
  std::u32string t = decode(utf8);
  const size_t n = t.size();
  const size_t s = std::min(static_cast<size_t>(std::max(selStart, 0)), n);
  const size_t e = std::min(s + static_cast<size_t>(std::max(selLength, 0)), n);
  auto widthOf = [&](const std::u32string& text, size_t count) {
    return platform::text::layoutLine(font, text.data(), count).width;
  };
  const double width = widthOf(t, n);
  // Where the text starts. A text that fits stands as aligned. One that does not starts at the left edge: while it
  // is edited it scrolls so that the caret (the selection's end, where typing goes on) stays in view, else it is
  // cut at the tail, with an ellipsis where the field asks for one.
  double left = box.x;
  if (width <= box.w) {
    left += alignment == 2 ? (box.w - width) / 2 : alignment == 1 ? box.w - width : 0;
  } else if (editing) {
    left -= std::min(std::max(0.0, widthOf(t, e) + 1 - box.w), width + 1 - box.w);
  } else if (truncatesTail) {
    const std::u32string ellipsis = U"\u2026";
    const double mark = widthOf(ellipsis, 1);
    size_t keep = n;
    while (keep > 0 && widthOf(t, keep) + mark > box.w) --keep;
    t = t.substr(0, keep) + ellipsis;
  }
  // On whole pixels: the text, the caret and the selection are placed from the same point.
  left = std::floor(left);
  ctx->save();
  ctx->clipToRect(platform::gfx::Rect{static_cast<float>(box.x), static_cast<float>(box.y), static_cast<float>(box.w),
                                      static_cast<float>(box.h)});
  drawControlText(view, encode(t), Rect{left, box.y, std::max(width, box.w) + 2, box.h}, 0, color, fontSize);
  ctx->restore();
  if (editing) {
    // The caret of a right-aligned text stands just past the box, inside the field's margin.
    auto within = [&](double x) {
      return static_cast<float>(std::floor(std::min(std::max(x, box.x), box.x + box.w)));
    };
    const float x0 = within(left + widthOf(t, s));
    const float x1 = within(left + widthOf(t, e));
    const float y = static_cast<float>(box.y), h = static_cast<float>(box.h);
    if (e > s) {
      ctx->setFillColor(platform::gfx::Color{0.2f, 0.45f, 0.9f, 0.35f});
      ctx->fillRect(platform::gfx::Rect{x0, y + 2, x1 - x0, h - 4});
    } else {
      ctx->setFillColor(platform::gfx::Color{0, 0, 0, 1});
      ctx->fillRect(platform::gfx::Rect{x0, y + 3, 1, h - 6});
    }
  }
}

void Control::sendAction(const std::string& which) {
  if (!target || which.empty()) return;
  if (auto* t = target->as<ActionTarget>()) {
    retain();
    t->performAction(which, this);
    release();
  }
}

}  // namespace cocoa
