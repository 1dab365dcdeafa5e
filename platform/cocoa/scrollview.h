// The headless model of the platform's cells (what draws a value into a frame: a table column's rows, an
// owner-drawn button), scroll views with their clip view and header, tab views and progress indicators. Everything
// draws into the window's backing store, so a dialog of these views can be saved as a picture.
#pragma once

#include <string>
#include <vector>

#include "platform/cocoa/controls.h"
#include "platform/cocoa/view.h"

namespace cocoa {

class Image;

// Fills or frames a rectangle of `view`'s coordinates in the current graphics context.
void fillViewRect(View* view, Rect r, const RGBAColor& color);
void frameViewRect(View* view, Rect r, const RGBAColor& color);
// Draws the whole image scaled into the rectangle of the current graphics context, source over.
void drawImageInRect(Image* image, Rect r);

// The platform's cells: the part of a control that draws its value into a frame. A table column draws every row
// with its one data cell.
class Cell : public Object {
 public:
  std::string stringValue;
  int alignment = kTextAlignmentNatural;
  bool wraps = false;
  bool scrollable = false;
  bool editable = false;
  double fontSize = 12;
  RGBAColor textColor{0, 0, 0, 1};
  bool highlighted = false;  // set while drawing a selected row
  Image* image = nullptr;    // not retained
  // The control the cell serves (not retained), null for a free cell.
  View* controlView() const { return controlView_; }
  void setControlView(View* v) { controlView_ = v; }

  // The platform's look: the interior (text and image) in the frame.
  virtual void drawWithFrame(Rect frame, View* inView);
  virtual void drawInteriorWithFrame(Rect frame, View* inView);
  // The colour the platform paints a selected row's cell with; false for none (the table's highlight alone).
  virtual bool highlightColor(RGBAColor* out);

 private:
  View* controlView_ = nullptr;
};

class TextFieldCell : public Cell {};

class ProgressIndicator : public View {
 public:
  explicit ProgressIndicator(Rect frame = Rect{}) : View(frame) {}
  double minValue() const { return min_; }
  double maxValue() const { return max_; }
  void setMinValue(double v);
  void setMaxValue(double v);
  double doubleValue() const { return value_; }
  void setDoubleValue(double v);
  void incrementBy(double d) { setDoubleValue(value_ + d); }
  bool indeterminate = true;
  int style = 0;  // 0 bar, 1 spinning
  bool isAnimating() const { return animating_; }
  void startAnimation() { animating_ = true; }
  void stopAnimation() { animating_ = false; }
  void drawRect(Rect dirty) override;

 private:
  double min_ = 0, max_ = 100, value_ = 0;
  bool animating_ = false;
};

class TabView;

class TabViewItem : public Object {
 public:
  explicit TabViewItem(std::string l = "") : label(std::move(l)) {}
  std::string label;
};

class TabViewDelegate {
 public:
  virtual ~TabViewDelegate() = default;
  virtual void tabViewDidSelectTabViewItem(TabView* tabView, TabViewItem* item) = 0;
};

// Tabs along the top; a click on a tab selects it and tells the delegate.
class TabView : public View {
 public:
  explicit TabView(Rect frame = Rect{}) : View(frame) {}
  int numberOfTabViewItems() const { return static_cast<int>(items_.size()); }
  TabViewItem* itemAt(int index) const;
  // Retains the item. The first item of an empty tab view becomes selected (and the delegate is told).
  void insertTabViewItem(TabViewItem* item, int index);
  // Removing the selected item selects its neighbour (the delegate is told).
  void removeTabViewItem(TabViewItem* item);
  int indexOfSelectedItem() const { return selected_; }
  TabViewItem* selectedItem() const { return itemAt(selected_); }
  void selectItemAt(int index);
  TabViewDelegate* delegate() const { return delegate_; }
  void setDelegate(TabViewDelegate* d) { delegate_ = d; }  // not retained
  bool allowsTruncatedLabels = false;
  double fontSize = 11;
  // The tab that a point of this view's coordinates lies on, -1 for none.
  int tabAtPoint(Point p) const;
  Rect tabRect(int index) const;

  bool isFlipped() const override { return true; }
  void mouseDown(Event* e) override;
  void drawRect(Rect dirty) override;

 protected:
  ~TabView() override;

 private:
  std::vector<TabViewItem*> items_;  // retained
  int selected_ = -1;
  TabViewDelegate* delegate_ = nullptr;
};

// A document view with a header row that the scroll view shows above the clip view (a table's column headers).
class ScrollHeader {
 public:
  virtual ~ScrollHeader() = default;
  virtual double headerHeightInScrollView() const = 0;
  // Draws the header into the scroll view at `r` (the scroll view's coordinates).
  virtual void drawHeader(View* scrollView, Rect r) = 0;
  // A click on the header at `x` (the scroll view's coordinates).
  virtual void headerClicked(double x) = 0;
};

// A scroll view shows part of its document view through its clip view.
class ClipView : public View {
 public:
  explicit ClipView(Rect frame = Rect{}) : View(frame) {}
  View* documentView() const { return subviews().empty() ? nullptr : subviews().front(); }
  bool isFlipped() const override { return true; }
};

class ScrollView : public View {
 public:
  explicit ScrollView(Rect frame = Rect{});
  ClipView* contentView() const { return clip_; }
  View* documentView() const { return clip_->documentView(); }
  // Retains the view and shows it from its top left corner.
  void setDocumentView(View* v);
  // The part of the document view that is shown, in the document's coordinates.
  Rect documentVisibleRect() const;
  Rect contentSize() const;
  // Scrolls so that the document's point comes to the top left corner (limited to the document).
  void scrollToPoint(Point p);
  // Scrolls the least amount that shows the rectangle (in the document's coordinates).
  void scrollRectToVisible(Rect r);
  bool hasVerticalScroller = false;
  bool hasHorizontalScroller = false;
  bool autohidesScrollers = false;
  bool drawsBackground = true;
  void setFrame(Rect frame) override;
  bool isFlipped() const override { return true; }
  void drawRect(Rect dirty) override;
  // The wheel scrolls the document.
  void scrollWheel(Event* e) override;
  // A click on the document's header goes to the document.
  void mouseDown(Event* e) override;
  // Lays the clip view out again after the document or the scrollers changed.
  void tile();

 protected:
  ~ScrollView() override;

 private:
  ClipView* clip_;  // retained
  Point offset_;
};

// The scroll view that shows `v` as its document, or null.
ScrollView* enclosingScrollView(View* v);

}  // namespace cocoa
