#include "platform/cocoa/scrollview.h"

#include <algorithm>
#include <cmath>

#include "platform/cocoa/image.h"
#include "platform/graphics/graphics.h"
#include "platform/text/text.h"

namespace cocoa {

namespace {

const RGBAColor kControlText{0, 0, 0, 1};
const RGBAColor kBezel{0.93, 0.93, 0.93, 1};
const RGBAColor kEdge{0.45, 0.45, 0.45, 1};
const RGBAColor kAccent{0.2, 0.45, 0.85, 1};
const RGBAColor kWhite{1, 1, 1, 1};

platform::gfx::Color gfxColor(const RGBAColor& c) {
  return platform::gfx::Color{static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b),
                              static_cast<float>(c.a)};
}

platform::gfx::Rect gfxRect(Rect r) {
  return platform::gfx::Rect{static_cast<float>(r.x), static_cast<float>(r.y), static_cast<float>(r.w),
                             static_cast<float>(r.h)};
}

double labelWidth(const std::string& utf8, double size) {
  std::u32string chars;
  if (!platform::text::decodeUtf8(utf8.data(), utf8.size(), chars)) return 0;
  platform::text::FontRef font = platform::text::labelFont(static_cast<float>(size));
  return font ? platform::text::layoutLine(font, chars.data(), chars.size()).width : 0;
}

Point locationIn(View* v, Event* e) {
  return v->convertFromWindow(e->locationInWindow);
}

}  // namespace

void drawImageInRect(Image* image, Rect r) {
  platform::gfx::Context* ctx = graphicsContext::currentPort();
  if (!ctx || !image || r.isEmpty() || image->width() <= 0 || image->height() <= 0) return;
  // The model's images hold R, G, B, A in memory; the drawing context reads a leading alpha byte.
  std::vector<uint8_t> argb(static_cast<size_t>(image->width()) * image->height() * 4);
  for (size_t i = 0; i < argb.size() / 4; ++i) {
    const uint32_t px = image->pixels()[i];
    argb[i * 4] = static_cast<uint8_t>(px >> 24);
    argb[i * 4 + 1] = static_cast<uint8_t>(px);
    argb[i * 4 + 2] = static_cast<uint8_t>(px >> 8);
    argb[i * 4 + 3] = static_cast<uint8_t>(px >> 16);
  }
  platform::gfx::ImageView iv{argb.data(), image->width(), image->height(), image->width() * 4, true};
  ctx->drawImage(iv, gfxRect(r));
}

void fillViewRect(View* view, Rect r, const RGBAColor& color) {
  platform::gfx::Context* ctx = graphicsContext::currentPort();
  if (!ctx || r.isEmpty()) return;
  (void)view;
  ctx->setFillColor(gfxColor(color));
  ctx->fillRect(gfxRect(r));
}

void frameViewRect(View* view, Rect r, const RGBAColor& color) {
  if (r.w < 2 || r.h < 2) return fillViewRect(view, r, color);
  fillViewRect(view, Rect{r.x, r.y, r.w, 1}, color);
  fillViewRect(view, Rect{r.x, r.y + r.h - 1, r.w, 1}, color);
  fillViewRect(view, Rect{r.x, r.y, 1, r.h}, color);
  fillViewRect(view, Rect{r.x + r.w - 1, r.y, 1, r.h}, color);
}

// ---- Cells ----

void Cell::drawWithFrame(Rect frame, View* inView) {
  drawInteriorWithFrame(frame, inView);
}

void Cell::drawInteriorWithFrame(Rect frame, View* inView) {
  Rect textFrame = frame;
  if (image) {
    // Images of plain cells sit at the left in a square of the frame's height.
    drawImageInRect(image, Rect{frame.x, frame.y, frame.h, frame.h});
    textFrame.x += frame.h + 2;
    textFrame.w -= frame.h + 2;
  }
  drawControlText(inView, stringValue, textFrame, alignment, textColor, fontSize);
}

bool Cell::highlightColor(RGBAColor* out) {
  if (out) *out = RGBAColor{0.22, 0.46, 0.84, 1};
  return true;
}

// ---- ProgressIndicator ----

void ProgressIndicator::setMinValue(double v) {
  min_ = v;
  setNeedsDisplay(true);
}

void ProgressIndicator::setMaxValue(double v) {
  max_ = v;
  setNeedsDisplay(true);
}

void ProgressIndicator::setDoubleValue(double v) {
  value_ = v;
  setNeedsDisplay(true);
}

void ProgressIndicator::drawRect(Rect) {
  const Rect b = bounds();
  fillViewRect(this, b, RGBAColor{0.85, 0.85, 0.85, 1});
  frameViewRect(this, b, kEdge);
  if (indeterminate || max_ <= min_) return;
  const double f = std::clamp((value_ - min_) / (max_ - min_), 0.0, 1.0);
  fillViewRect(this, Rect{1, 1, (b.w - 2) * f, b.h - 2}, kAccent);
}

// ---- TabView ----

TabView::~TabView() {
  for (TabViewItem* i : items_) i->release();
}

TabViewItem* TabView::itemAt(int index) const {
  return index >= 0 && index < numberOfTabViewItems() ? items_[static_cast<size_t>(index)] : nullptr;
}

void TabView::insertTabViewItem(TabViewItem* item, int index) {
  if (!item) return;
  index = std::clamp(index, 0, numberOfTabViewItems());
  item->retain();
  items_.insert(items_.begin() + index, item);
  if (selected_ < 0) {
    selectItemAt(index);
  } else if (index <= selected_) {
    ++selected_;
  }
  setNeedsDisplay(true);
}

void TabView::removeTabViewItem(TabViewItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  const int index = static_cast<int>(it - items_.begin());
  items_.erase(it);
  const bool wasSelected = index == selected_;
  if (index < selected_) --selected_;
  if (wasSelected) {
    selected_ = -1;
    if (!items_.empty()) selectItemAt(std::min(index, numberOfTabViewItems() - 1));
  }
  item->release();
  setNeedsDisplay(true);
}

void TabView::selectItemAt(int index) {
  if (index < 0 || index >= numberOfTabViewItems() || index == selected_) return;
  selected_ = index;
  setNeedsDisplay(true);
  if (delegate_) delegate_->tabViewDidSelectTabViewItem(this, items_[static_cast<size_t>(index)]);
}

Rect TabView::tabRect(int index) const {
  double x = 8;
  for (int i = 0; i < numberOfTabViewItems(); ++i) {
    const double w = labelWidth(items_[static_cast<size_t>(i)]->label, fontSize) + 16;
    if (i == index) return Rect{x, 2, w, 20};
    x += w;
  }
  return Rect{};
}

int TabView::tabAtPoint(Point p) const {
  for (int i = 0; i < numberOfTabViewItems(); ++i) {
    if (tabRect(i).contains(p)) return i;
  }
  return -1;
}

void TabView::mouseDown(Event* e) {
  const int i = tabAtPoint(locationIn(this, e));
  if (i >= 0) selectItemAt(i);
}

void TabView::drawRect(Rect) {
  const Rect b = bounds();
  frameViewRect(this, Rect{0, 21, b.w, b.h - 21}, RGBAColor{0.6, 0.6, 0.6, 1});
  for (int i = 0; i < numberOfTabViewItems(); ++i) {
    const Rect r = tabRect(i);
    fillViewRect(this, r, i == selected_ ? kAccent : kBezel);
    frameViewRect(this, r, kEdge);
    drawControlText(this, items_[static_cast<size_t>(i)]->label, r, kTextAlignmentCenter,
                    i == selected_ ? kWhite : kControlText, fontSize);
  }
}

// ---- ScrollView ----

ScrollView::ScrollView(Rect frame) : View(frame) {
  // The scroll view keeps its clip view (as the platform does its content view): a clip view taken out of it from
  // outside stays memory the scroll view may still look at.
  clip_ = new ClipView(Rect{0, 0, frame.w, frame.h});
  addSubview(clip_);
}

ScrollView::~ScrollView() {
  clip_->release();
}

void ScrollView::setDocumentView(View* v) {
  if (View* old = documentView()) old->detach();
  if (!v) return;
  clip_->addSubview(v);
  offset_ = Point{};
  tile();
}

void ScrollView::setFrame(Rect frame) {
  View::setFrame(frame);
  tile();
}

void ScrollView::tile() {
  const Rect b = bounds();
  View* doc = documentView();
  const double docW = doc ? doc->frame().w : 0, docH = doc ? doc->frame().h : 0;
  auto* header = doc ? doc->as<ScrollHeader>() : nullptr;
  const double top = header ? std::max(0.0, header->headerHeightInScrollView()) : 0;
  const bool showV = hasVerticalScroller && (!autohidesScrollers || docH > b.h - top);
  const bool showH = hasHorizontalScroller && (!autohidesScrollers || docW > b.w - (showV ? 15 : 0));
  clip_->setFrame(Rect{0, top, std::max(0.0, b.w - (showV ? 15 : 0)), std::max(0.0, b.h - top - (showH ? 15 : 0))});
  scrollToPoint(offset_);
  setNeedsDisplay(true);
}

Rect ScrollView::contentSize() const {
  return Rect{0, 0, clip_->frame().w, clip_->frame().h};
}

Rect ScrollView::documentVisibleRect() const {
  View* doc = documentView();
  if (!doc) return Rect{};
  return Rect{offset_.x, offset_.y, std::min(clip_->frame().w, doc->frame().w),
              std::min(clip_->frame().h, doc->frame().h)};
}

void ScrollView::scrollToPoint(Point p) {
  View* doc = documentView();
  if (!doc) return;
  const double maxX = std::max(0.0, doc->frame().w - clip_->frame().w);
  const double maxY = std::max(0.0, doc->frame().h - clip_->frame().h);
  offset_ = Point{std::clamp(p.x, 0.0, maxX), std::clamp(p.y, 0.0, maxY)};
  // The document sits in the flipped clip view with its top left corner moved by the offset.
  const double y = doc->isFlipped() ? -offset_.y : -(doc->frame().h - clip_->frame().h - offset_.y);
  doc->setFrame(Rect{-offset_.x, y, doc->frame().w, doc->frame().h});
  setNeedsDisplay(true);
  doc->setNeedsDisplay(true);
}

void ScrollView::scrollRectToVisible(Rect r) {
  const Rect v = documentVisibleRect();
  Point p = offset_;
  if (r.y < v.y) {
    p.y = r.y;
  } else if (r.y + r.h > v.y + v.h) {
    p.y = r.y + r.h - v.h;
  }
  if (r.x < v.x) {
    p.x = r.x;
  } else if (r.x + r.w > v.x + v.w) {
    p.x = r.x + r.w - v.w;
  }
  scrollToPoint(p);
}

void ScrollView::scrollWheel(Event* e) {
  scrollToPoint(Point{offset_.x - e->deltaX * 10, offset_.y - e->deltaY * 10});
}

void ScrollView::mouseDown(Event* e) {
  const Point p = locationIn(this, e);
  View* doc = documentView();
  auto* header = doc ? doc->as<ScrollHeader>() : nullptr;
  if (header && p.y < clip_->frame().y) {
    header->headerClicked(p.x);
    return;
  }
  View::mouseDown(e);
}

void ScrollView::drawRect(Rect) {
  const Rect b = bounds();
  if (drawsBackground) fillViewRect(this, b, kWhite);
  View* doc = documentView();
  const Rect c = clip_->frame();
  if (auto* header = doc ? doc->as<ScrollHeader>() : nullptr) {
    if (c.y > 0) header->drawHeader(this, Rect{0, 0, c.w, c.y});
  }
  if (doc && c.w < b.w) {
    // The vertical scroller: a track and a thumb in proportion to the visible part.
    const Rect track{c.w, c.y, b.w - c.w, c.h};
    fillViewRect(this, track, RGBAColor{0.9, 0.9, 0.9, 1});
    const double dh = std::max(1.0, doc->frame().h);
    fillViewRect(this,
                 Rect{track.x + 3, track.y + track.h * offset_.y / dh, track.w - 6, std::max(8.0, track.h * c.h / dh)},
                 RGBAColor{0.6, 0.6, 0.6, 1});
  }
  if (doc && c.y + c.h < b.h) {
    const Rect track{0, c.y + c.h, c.w, b.h - c.y - c.h};
    fillViewRect(this, track, RGBAColor{0.9, 0.9, 0.9, 1});
    const double dw = std::max(1.0, doc->frame().w);
    fillViewRect(this, Rect{track.w * offset_.x / dw, track.y + 3, std::max(8.0, track.w * c.w / dw), track.h - 6},
                 RGBAColor{0.6, 0.6, 0.6, 1});
  }
}

ScrollView* enclosingScrollView(View* v) {
  if (!v) return nullptr;
  View* clip = v->superview();
  if (!clip || !clip->as<ClipView>()) return nullptr;
  return clip->superview() ? clip->superview()->as<ScrollView>() : nullptr;
}

}  // namespace cocoa
