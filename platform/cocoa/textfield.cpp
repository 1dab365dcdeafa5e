#include "platform/cocoa/textfield.h"

#include "platform/graphics/graphics.h"

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
}

void TextField::setFormatter(Formatter* f) {
  if (f) f->retain();
  releaseObject(formatter_);
  formatter_ = f;
}

void TextField::becameFirstResponder() {
  editing_ = true;
  allSelected_ = true;
}

void TextField::resignedFirstResponder() {
  if (editing_) endEditing();
}

void TextField::endEditing() {
  if (!editing_ || ending_) return;
  ending_ = true;
  editing_ = false;
  allSelected_ = false;
  retain();
  if (delegate_) delegate_->controlTextDidEndEditing(this);
  ending_ = false;
  release();
}

bool TextField::tryText(const std::string& candidate) {
  if (formatter_ && !formatter_->isPartialStringValid(candidate)) return false;
  text_ = candidate;
  return true;
}

void TextField::keyDown(Event* e) {
  if (!editing_ || e->characters.empty()) return;
  for (char32_t c : e->characters) {
    if (c == U'\r' || c == 3) {  // Return, Enter
      endEditing();
      return;
    }
    if (c == 0x7F || c == 8) {  // Backspace, Delete
      if (allSelected_) {
        tryText("");
      } else if (!text_.empty()) {
        size_t n = text_.size() - 1;
        while (n > 0 && (static_cast<unsigned char>(text_[n]) & 0xC0) == 0x80) --n;
        tryText(text_.substr(0, n));
      }
      allSelected_ = false;
      continue;
    }
    if (c >= 0xF700 && c <= 0xF8FF) {  // arrows and function keys: caret movement only
      allSelected_ = false;
      continue;
    }
    if (c < 0x20) continue;
    const std::string ch = utf8Of(c);
    const std::string candidate = allSelected_ ? ch : text_ + ch;
    if (tryText(candidate)) {
      allSelected_ = false;
    } else {
      refused_.push_back(ch);
    }
  }
}

void TextField::drawRect(Rect) {
  platform::gfx::Context* ctx = graphicsContext::currentPort();
  if (!ctx) return;
  const Rect b = bounds();
  ctx->setFillColor(platform::gfx::Color{static_cast<float>(backgroundColor.r), static_cast<float>(backgroundColor.g),
                                         static_cast<float>(backgroundColor.b), static_cast<float>(backgroundColor.a)});
  ctx->fillRect(platform::gfx::Rect{0, 0, static_cast<float>(b.w), static_cast<float>(b.h)});
}

}  // namespace cocoa
