#include "platform/cocoa/controls.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/graphics.h"
#include "platform/text/text.h"

namespace cocoa {

namespace {

platform::gfx::Color gfxColor(const RGBAColor& c) {
  return platform::gfx::Color{static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b),
                              static_cast<float>(c.a)};
}

void fill(platform::gfx::Context* ctx, Rect r, float grey) {
  ctx->setFillColor(platform::gfx::Color{grey, grey, grey, 1});
  ctx->fillRect(platform::gfx::Rect{static_cast<float>(r.x), static_cast<float>(r.y), static_cast<float>(r.w),
                                    static_cast<float>(r.h)});
}

void frameRect(platform::gfx::Context* ctx, Rect r, float grey) {
  ctx->setStrokeColor(platform::gfx::Color{grey, grey, grey, 1});
  ctx->strokeRect(platform::gfx::Rect{static_cast<float>(r.x) + 0.5f, static_cast<float>(r.y) + 0.5f,
                                      static_cast<float>(r.w) - 1, static_cast<float>(r.h) - 1},
                  1);
}

double textWidth(const std::string& utf8, double size) {
  const auto font = platform::text::labelFont(static_cast<float>(size));
  std::u32string t;
  if (!font || !platform::text::decodeUtf8(utf8.data(), utf8.size(), t)) return 0;
  return platform::text::layoutLine(font, t.data(), t.size()).width;
}

}  // namespace

void drawControlText(View* view, const std::string& utf8, Rect r, int alignment, const RGBAColor& color,
                     double fontSize) {
  platform::gfx::Context* ctx = graphicsContext::currentPort();
  if (!ctx || utf8.empty()) return;
  const auto font = platform::text::labelFont(static_cast<float>(fontSize));
  std::u32string t;
  if (!font || !platform::text::decodeUtf8(utf8.data(), utf8.size(), t)) return;
  const auto line = platform::text::layoutLine(font, t.data(), t.size());
  double x = r.x;
  if (alignment == 2) x = r.x + (r.w - line.width) / 2;
  if (alignment == 1) x = r.x + r.w - line.width;
  const auto& m = font->metrics();
  const double textH = m.ascent + m.descent;
  // The baseline, vertically centred; in an unflipped view y grows upward, so the baseline sits below the centre.
  double baseline;
  if (view->isFlipped()) {
    baseline = r.y + (r.h - textH) / 2 + m.ascent;
  } else {
    baseline = r.y + (r.h - textH) / 2 + m.descent;
  }
  ctx->save();
  ctx->clipToRect(platform::gfx::Rect{static_cast<float>(r.x), static_cast<float>(r.y), static_cast<float>(r.w),
                                      static_cast<float>(r.h)});
  platform::text::drawLine(*ctx, line, static_cast<float>(std::floor(x)), static_cast<float>(std::round(baseline)),
                           gfxColor(color));
  ctx->restore();
}

// ---- Button

Button::~Button() {
  releaseObject(image_);
}

void Button::setState(int s) {
  if (s < 0 && !allowsMixedState) s = 1;
  state_ = s < 0 ? -1 : (s > 0 ? 1 : 0);
  setNeedsDisplay(true);
}

void Button::setImage(Object* image) {
  if (image) image->retain();
  releaseObject(image_);
  image_ = image;
  setNeedsDisplay(true);
}

void Button::mouseDown(Event*) {
  if (!isEnabled()) return;
}

void Button::mouseUp(Event* e) {
  if (!isEnabled()) return;
  // The click counts when released over the button.
  const Point p = convertFromWindow(e->locationInWindow);
  if (!bounds().contains(p)) return;
  if (buttonType == 3) {
    setState(allowsMixedState ? (state_ == 0 ? 1 : state_ == 1 ? -1 : 0) : (state_ ? 0 : 1));
  } else if (buttonType == 4) {
    setState(1);
  }
  sendAction(action);
}

void Button::sizeToFit() {
  double w = textWidth(title_, fontSize) + (buttonType == 3 || buttonType == 4 ? 22 : 24);
  setFrameSize(std::ceil(w), frame().h);
}

void Button::drawRect(Rect) {
  platform::gfx::Context* ctx = graphicsContext::currentPort();
  if (!ctx) return;
  const Rect b = bounds();
  RGBAColor tc = hasTextColor ? textColor : RGBAColor{0, 0, 0, 1};
  if (!isEnabled()) tc.a *= 0.45;
  if (buttonType == 3 || buttonType == 4) {
    // A check box or radio button: the mark at the left, the title after it.
    const double s = std::min(14.0, b.h - 2);
    const Rect box{2, (b.h - s) / 2, s, s};
    fill(ctx, box, 1);
    frameRect(ctx, box, 0.35f);
    if (state_ != 0) {
      ctx->setFillColor(platform::gfx::Color{0.1f, 0.1f, 0.1f, 1});
      if (state_ < 0) {
        ctx->fillRect(platform::gfx::Rect{static_cast<float>(box.x + 3), static_cast<float>(box.y + s / 2 - 1),
                                          static_cast<float>(s - 6), 2});
      } else if (buttonType == 4) {
        ctx->fillEllipse(platform::gfx::Rect{static_cast<float>(box.x + 3.5), static_cast<float>(box.y + 3.5),
                                             static_cast<float>(s - 7), static_cast<float>(s - 7)});
      } else {
        ctx->fillRect(platform::gfx::Rect{static_cast<float>(box.x + 3), static_cast<float>(box.y + 3),
                                          static_cast<float>(s - 6), static_cast<float>(s - 6)});
      }
    }
    drawControlText(this, title_, Rect{s + 6, 0, b.w - s - 6, b.h}, 0, tc, fontSize);
    return;
  }
  fill(ctx, b, isDefaultButton ? 0.78f : 0.9f);
  frameRect(ctx, b, isDefaultButton ? 0.2f : 0.5f);
  drawControlText(this, title_, Rect{2, 0, b.w - 4, b.h}, 2, tc, fontSize);
}

// ---- Item lists

void ItemListControl::selectItemAtIndex(int index) {
  selected_ = index >= 0 && index < numberOfItems() ? index : -1;
  setNeedsDisplay(true);
}

void ItemListControl::insertItem(const std::string& title, int index) {
  if (index < 0 || index >= numberOfItems()) {
    items_.push_back(title);
  } else {
    items_.insert(items_.begin() + index, title);
    if (selected_ >= index) ++selected_;
  }
  setNeedsDisplay(true);
}

void ItemListControl::removeItemAt(int index) {
  if (index < 0 || index >= numberOfItems()) return;
  items_.erase(items_.begin() + index);
  if (selected_ == index) {
    selected_ = -1;
  } else if (selected_ > index) {
    --selected_;
  }
  setNeedsDisplay(true);
}

void ItemListControl::removeAllItems() {
  items_.clear();
  selected_ = -1;
  setNeedsDisplay(true);
}

std::string ItemListControl::itemTitle(int index) const {
  return index >= 0 && index < numberOfItems() ? items_[index] : std::string();
}

void PopUpButton::mouseDown(Event* e) {
  if (!isEnabled()) return;
  ShownMenu shown;
  for (const std::string& t : items_) {
    ShownMenuItem it;
    it.title = t;
    it.checked = &t == &items_[std::max(0, selected_)] && selected_ >= 0;
    shown.items.push_back(it);
  }
  if (e) {
    shown.x = e->locationInWindow.x;
    shown.y = e->locationInWindow.y;
  }
  const menus::Choice c = menus::choose(shown);
  if (c.size() != 1 || c[0] < 0 || c[0] >= numberOfItems()) return;
  selectItemAtIndex(c[0]);
  sendAction(action);
}

void PopUpButton::drawRect(Rect) {
  platform::gfx::Context* ctx = graphicsContext::currentPort();
  if (!ctx) return;
  const Rect b = bounds();
  fill(ctx, b, 0.93f);
  frameRect(ctx, b, 0.5f);
  drawControlText(this, itemTitle(selected_), Rect{5, 0, b.w - 22, b.h}, 0, RGBAColor{0, 0, 0, 1}, fontSize);
  drawControlText(this, "\xE2\x96\xBE", Rect{b.w - 16, 0, 12, b.h}, 2, RGBAColor{0.2, 0.2, 0.2, 1}, fontSize);
}

void ComboBox::setStringValue(const std::string& utf8) {
  text_ = utf8;
  setNeedsDisplay(true);
}

void ComboBox::selectItemAtIndex(int index) {
  ItemListControl::selectItemAtIndex(index);
  if (selected_ >= 0) setStringValue(items_[static_cast<size_t>(selected_)]);
}

void ComboBox::mouseDown(Event* e) {
  if (!isEnabled()) return;
  if (editable && window()) window()->makeFirstResponder(this);
  // The text part takes the click; the arrow at the right opens the list.
  if (e && convertFromWindow(e->locationInWindow).x < bounds().w - 18) return;
  retain();
  if (delegate_) delegate_->comboBoxWillPopUp(this);
  ShownMenu shown;
  for (int i = 0; i < numberOfItems(); ++i) {
    ShownMenuItem it;
    it.title = items_[static_cast<size_t>(i)];
    it.checked = i == selected_;
    shown.items.push_back(it);
  }
  if (e) {
    shown.x = e->locationInWindow.x;
    shown.y = e->locationInWindow.y;
  }
  const menus::Choice c = menus::choose(shown);
  if (c.size() == 1 && c[0] >= 0 && c[0] < numberOfItems()) {
    selectItemAtIndex(c[0]);
    if (delegate_) delegate_->comboBoxSelectionDidChange(this);
    sendAction(action);
  }
  release();
}

void ComboBox::keyDown(Event* e) {
  if (!editable || !isEnabled() || !e) {
    Control::keyDown(e);
    return;
  }
  std::string text = text_;
  for (char32_t c : e->characters) {
    if (c == U'\r' || c == 3) {  // Return, Enter
      sendAction(action);
      return;
    }
    if (c == 0x7F || c == 0x08) {
      // Removes the last whole UTF-8 character.
      while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.pop_back();
      if (!text.empty()) text.pop_back();
    } else if (c >= 0x20) {
      text += utf8Of(c);
    }
  }
  if (text == text_) return;
  retain();
  setStringValue(text);
  if (delegate_) delegate_->comboBoxTextDidChange(this);
  release();
}

void ComboBox::drawRect(Rect) {
  platform::gfx::Context* ctx = graphicsContext::currentPort();
  if (!ctx) return;
  const Rect b = bounds();
  fill(ctx, b, 1);
  frameRect(ctx, b, 0.5f);
  fill(ctx, Rect{b.w - 18, 1, 17, b.h - 2}, 0.9f);
  drawControlText(this, text_, Rect{4, 0, b.w - 24, b.h}, 0, RGBAColor{0, 0, 0, 1}, fontSize);
  drawControlText(this, "\xE2\x96\xBE", Rect{b.w - 17, 0, 15, b.h}, 2, RGBAColor{0.2, 0.2, 0.2, 1}, fontSize);
}

// ---- Slider and box

void Slider::setDoubleValue(double v) {
  value_ = std::isfinite(v) ? std::min(std::max(v, minValue), std::max(minValue, maxValue)) : minValue;
  setNeedsDisplay(true);
}

void Slider::drawRect(Rect) {
  platform::gfx::Context* ctx = graphicsContext::currentPort();
  if (!ctx) return;
  const Rect b = bounds();
  fill(ctx, Rect{4, b.h / 2 - 2, b.w - 8, 4}, 0.6f);
  const double span = maxValue - minValue;
  const double f = span > 0 ? (value_ - minValue) / span : 0;
  fill(ctx, Rect{4 + f * (b.w - 16), 1, 8, b.h - 2}, 0.3f);
}

void Box::drawRect(Rect) {
  platform::gfx::Context* ctx = graphicsContext::currentPort();
  if (!ctx) return;
  const Rect b = bounds();
  // The frame's top edge runs through the middle of the title line and leaves a gap for the title.
  const double w = title_.empty() ? 0 : textWidth(title_, 11) + 8;
  const double x = titleCentered ? (b.w - w) / 2 : 8;
  const float edge = static_cast<float>(isFlipped() ? 7.5 : b.h - 7.5);
  const float far = static_cast<float>(isFlipped() ? b.h - 0.5 : 0.5);
  const float r = static_cast<float>(b.w - 0.5);
  ctx->setStrokeColor(platform::gfx::Color{0.6f, 0.6f, 0.6f, 1});
  ctx->setLineWidth(1);
  ctx->beginPath();
  ctx->moveTo(static_cast<float>(x), edge);
  ctx->lineTo(0.5f, edge);
  ctx->lineTo(0.5f, far);
  ctx->lineTo(r, far);
  ctx->lineTo(r, edge);
  ctx->lineTo(static_cast<float>(x + w), edge);
  ctx->strokePath();
  if (title_.empty()) return;
  const double ty = isFlipped() ? 0 : b.h - 14;
  drawControlText(this, title_, Rect{x, ty, w, 14}, 2, titleColor, 11);
}

}  // namespace cocoa
