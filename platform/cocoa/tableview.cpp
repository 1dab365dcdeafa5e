#include "platform/cocoa/tableview.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "platform/graphics/coords.h"

namespace cocoa {

namespace {

const RGBAColor kHeaderFill{0.9, 0.9, 0.9, 1};
const RGBAColor kHeaderEdge{0.65, 0.65, 0.65, 1};

Point locationIn(View* v, Event* e) {
  return v->convertFromWindow(e->locationInWindow);
}

}  // namespace

// ---- TableColumn ----

TableColumn::~TableColumn() {
  releaseObject(cell_);
}

void TableColumn::setWidth(double w) {
  width_ = std::max(0.0, w);
  if (table_) table_->tile();
}

void TableColumn::setHidden(bool h) {
  hidden_ = h;
  if (table_) table_->tile();
}

Cell* TableColumn::dataCell() const {
  if (!cell_) cell_ = new TextFieldCell;
  return cell_;
}

void TableColumn::setDataCell(Cell* cell) {
  if (cell) cell->retain();
  releaseObject(cell_);
  cell_ = cell;
  if (table_) table_->setNeedsDisplay(true);
}

// ---- TableView ----

TableView::TableView(Rect frame) : Control(frame) {}

TableView::~TableView() {
  for (TableColumn* c : columns_) {
    c->table_ = nullptr;
    c->release();
  }
}

void TableView::addTableColumn(TableColumn* column) {
  if (!column || indexOfColumn(column) >= 0) return;
  column->retain();
  column->table_ = this;
  columns_.push_back(column);
  tile();
}

void TableView::removeTableColumn(TableColumn* column) {
  const int i = indexOfColumn(column);
  if (i < 0) return;
  columns_.erase(columns_.begin() + i);
  column->table_ = nullptr;
  column->release();
  tile();
}

void TableView::moveColumn(int from, int to) {
  if (from < 0 || from >= numberOfColumns() || to < 0 || to >= numberOfColumns() || from == to) return;
  TableColumn* c = columns_[static_cast<size_t>(from)];
  columns_.erase(columns_.begin() + from);
  columns_.insert(columns_.begin() + to, c);
  setNeedsDisplay(true);
}

int TableView::indexOfColumn(const TableColumn* column) const {
  auto it = std::find(columns_.begin(), columns_.end(), column);
  return it == columns_.end() ? -1 : static_cast<int>(it - columns_.begin());
}

int TableView::countRows() {
  return dataSource_ ? std::max(0, dataSource_->numberOfRowsInTableView(this)) : 0;
}

std::string TableView::objectValueAt(TableColumn* column, int row) {
  return dataSource_ ? dataSource_->tableObjectValue(this, column, row) : std::string();
}

double TableView::indentOfRow(int, int) const {
  return 0;
}

void TableView::reloadData() {
  rows_ = countRows();
  selected_.erase(selected_.lower_bound(rows_), selected_.end());
  if (lastSelected_ >= rows_) lastSelected_ = selected_.empty() ? -1 : *selected_.rbegin();
  tile();
  setNeedsDisplay(true);
}

void TableView::tile() {
  double w = 0;
  for (TableColumn* c : columns_) {
    if (!c->isHidden()) w += c->width() + intercellSpacing.x;
  }
  double h = rows_ * (rowHeight + intercellSpacing.y);
  ScrollView* sv = enclosingScrollView(this);
  if (sv) {
    w = std::max(w, sv->contentSize().w);
    h = std::max(h, sv->contentSize().h);
  }
  if (w != frame().w || h != frame().h) {
    setFrameSize(w, h);
    if (sv) sv->tile();
  }
  setNeedsDisplay(true);
}

Rect TableView::rectOfRow(int row) const {
  if (row < 0 || row >= rows_) return Rect{};
  const double h = rowHeight + intercellSpacing.y;
  return Rect{0, row * h, frame().w, h};
}

Rect TableView::rectOfColumn(int column) const {
  if (column < 0 || column >= numberOfColumns()) return Rect{};
  double x = 0;
  for (int i = 0; i < column; ++i) {
    if (!columns_[static_cast<size_t>(i)]->isHidden())
      x += columns_[static_cast<size_t>(i)]->width() + intercellSpacing.x;
  }
  const TableColumn* c = columns_[static_cast<size_t>(column)];
  const double w = c->isHidden() ? 0 : c->width() + intercellSpacing.x;
  return Rect{x, 0, w, rows_ * (rowHeight + intercellSpacing.y)};
}

Rect TableView::frameOfCellAtColumnRow(int column, int row) const {
  const Rect c = rectOfColumn(column), r = rectOfRow(row);
  if (c.w <= 0 || r.h <= 0) return Rect{};
  return Rect{c.x + intercellSpacing.x / 2, r.y + intercellSpacing.y / 2, c.w - intercellSpacing.x, rowHeight};
}

int TableView::rowAtPoint(Point p) const {
  const double h = rowHeight + intercellSpacing.y;
  if (p.y < 0 || h <= 0 || p.x < 0 || p.x >= frame().w) return -1;
  const int row = platform::intCoord(p.y / h);
  return row < rows_ ? row : -1;
}

int TableView::columnAtPoint(Point p) const {
  if (p.x < 0) return -1;
  double x = 0;
  for (int i = 0; i < numberOfColumns(); ++i) {
    const TableColumn* c = columns_[static_cast<size_t>(i)];
    if (c->isHidden()) continue;
    const double w = c->width() + intercellSpacing.x;
    if (p.x < x + w) return i;
    x += w;
  }
  return -1;
}

int TableView::selectedRow() const {
  if (lastSelected_ >= 0 && isRowSelected(lastSelected_)) return lastSelected_;
  return selected_.empty() ? -1 : *selected_.rbegin();
}

void TableView::selectRowIndexes(const std::set<int>& rows, bool extend) {
  if (!extend) selected_.clear();
  for (int r : rows) {
    if (r < 0 || r >= rows_) continue;
    selected_.insert(r);
    lastSelected_ = r;
  }
  setNeedsDisplay(true);
}

void TableView::deselectRow(int row) {
  selected_.erase(row);
  if (lastSelected_ == row) lastSelected_ = -1;
  setNeedsDisplay(true);
}

void TableView::deselectAll() {
  selected_.clear();
  lastSelected_ = -1;
  setNeedsDisplay(true);
}

void TableView::setSelection(const std::set<int>& rows, int last) {
  selected_.clear();
  for (int r : rows) {
    if (r >= 0 && r < rows_) selected_.insert(r);
  }
  lastSelected_ = selected_.count(last) ? last : -1;
  setNeedsDisplay(true);
}

void TableView::scrollRowToVisible(int row) {
  ScrollView* sv = enclosingScrollView(this);
  const Rect r = rectOfRow(row);
  if (sv && r.h > 0) {
    const Rect v = sv->documentVisibleRect();
    sv->scrollRectToVisible(Rect{v.x, r.y, 1, r.h});
  }
}

void TableView::scrollColumnToVisible(int column) {
  ScrollView* sv = enclosingScrollView(this);
  const Rect c = rectOfColumn(column);
  if (sv && c.w > 0) {
    const Rect v = sv->documentVisibleRect();
    sv->scrollRectToVisible(Rect{c.x, v.y, c.w, 1});
  }
}

void TableView::userSelect(int row, uint32_t modifiers) {
  const std::set<int> before = selected_;
  if (row < 0) {
    if (allowsEmptySelection) deselectAll();
  } else if (allowsMultipleSelection && (modifiers & kCommandKeyMask)) {
    if (isRowSelected(row) && (allowsEmptySelection || selected_.size() > 1)) {
      deselectRow(row);
    } else {
      selectRowIndexes({row}, true);
    }
  } else if (allowsMultipleSelection && (modifiers & kShiftKeyMask) && selectedRow() >= 0) {
    const int anchor = selectedRow();
    std::set<int> range;
    for (int r = std::min(anchor, row); r <= std::max(anchor, row); ++r) range.insert(r);
    selectRowIndexes(range, true);
    lastSelected_ = row;
  } else {
    selectRowIndexes({row}, false);
  }
  if (selected_ != before && delegate_) delegate_->tableViewSelectionDidChange(this);
}

void TableView::mouseDown(Event* e) {
  const Point p = locationIn(this, e);
  clickedRow_ = rowAtPoint(p);
  clickedColumn_ = columnAtPoint(p);
  if (window()) window()->makeFirstResponder(this);
  userSelect(clickedRow_, e->modifierFlags);
}

void TableView::mouseUp(Event* e) {
  if (e->clickCount >= 2 && !doubleAction.empty()) {
    doubleClicked();
  } else {
    sendAction(action);
  }
}

void TableView::keyDown(Event* e) {
  if (e->characters.empty() || rows_ == 0) return;
  const char32_t c = e->characters[0];
  int row = selectedRow();
  if (c == 0xF700) {
    row = row <= 0 ? 0 : row - 1;
  } else if (c == 0xF701) {
    row = row < 0 ? 0 : std::min(rows_ - 1, row + 1);
  } else {
    return passOn(e);
  }
  userSelect(row, 0);
  scrollRowToVisible(row);
}

void TableView::highlightSelectionInClipRect(Rect clip) {
  RGBAColor color{0.22, 0.46, 0.84, 1};
  for (int r : selected_) {
    const Rect cut = rectOfRow(r).intersected(clip);
    if (!cut.isEmpty()) fillViewRect(this, cut, color);
  }
}

void TableView::drawRect(Rect dirty) {
  // Only the part that the scroll view shows is drawn (and only its rows asked for).
  if (ScrollView* sv = enclosingScrollView(this)) dirty = dirty.intersected(sv->documentVisibleRect());
  if (dirty.isEmpty()) return;
  fillViewRect(this, dirty, backgroundColor);
  const double h = rowHeight + intercellSpacing.y;
  if (h <= 0) return;
  const int first = std::max(0, platform::intCoord(dirty.y / h));
  const int last = std::min(rows_ - 1, platform::intCoord((dirty.y + dirty.h) / h));
  highlightSelectionInClipRect(dirty);
  for (int row = first; row <= last; ++row) {
    for (int col = 0; col < numberOfColumns(); ++col) {
      TableColumn* column = columns_[static_cast<size_t>(col)];
      if (column->isHidden()) continue;
      Cell* cell = column->dataCell();
      cell->stringValue = objectValueAt(column, row);
      cell->highlighted = isRowSelected(row);
      cell->textColor = cell->highlighted ? RGBAColor{1, 1, 1, 1} : RGBAColor{0, 0, 0, 1};
      if (delegate_) delegate_->tableWillDisplayCell(this, cell, column, row);
      Rect f = frameOfCellAtColumnRow(col, row);
      const double indent = indentOfRow(row, col);
      f.x += indent;
      f.w -= indent;
      cell->setControlView(this);
      if (f.w > 0) cell->drawWithFrame(f, this);
      cell->highlighted = false;
    }
  }
  if (gridStyleMask & 2) {
    for (int row = first; row <= last; ++row) {
      const Rect r = rectOfRow(row);
      fillViewRect(this, Rect{dirty.x, r.y + r.h - 1, dirty.w, 1}, gridColor);
    }
  }
  if (gridStyleMask & 1) {
    for (int col = 0; col < numberOfColumns(); ++col) {
      const Rect c = rectOfColumn(col);
      if (c.w > 0) fillViewRect(this, Rect{c.x + c.w - 1, dirty.y, 1, dirty.h}, gridColor);
    }
  }
}

double TableView::headerHeightInScrollView() const {
  return headerHeight;
}

void TableView::headerClicked(double x) {
  // The header scrolls sideways with the rows: the table's own x is the scroll view's less the frame's offset.
  const int column = columnAtPoint(Point{x - frame().x, 0});
  if (column >= 0 && delegate_) delegate_->tableDidClickColumn(this, columns_[static_cast<size_t>(column)]);
}

void TableView::drawHeader(View* view, Rect r) {
  fillViewRect(view, r, kHeaderFill);
  fillViewRect(view, Rect{r.x, r.y + r.h - 1, r.w, 1}, kHeaderEdge);
  for (int col = 0; col < numberOfColumns(); ++col) {
    const TableColumn* column = columns_[static_cast<size_t>(col)];
    const Rect c = rectOfColumn(col);
    if (c.w <= 0) continue;
    // The header scrolls sideways with the rows.
    const Rect cell{r.x + c.x + frame().x, r.y, c.w, r.h};
    fillViewRect(view, Rect{cell.x + cell.w - 1, r.y + 2, 1, r.h - 4}, kHeaderEdge);
    std::string title = column->title;
    if (column->indicatorImage == "NSAscendingSortIndicator") title += " \xE2\x96\xB4";
    if (column->indicatorImage == "NSDescendingSortIndicator") title += " \xE2\x96\xBE";
    drawControlText(view, title, Rect{cell.x + 2, cell.y, cell.w - 4, cell.h}, column->headerAlignment,
                    RGBAColor{0, 0, 0, 1}, 11);
  }
}

// ---- OutlineView ----

OutlineView::~OutlineView() {
  for (Row& r : items_) r.item->release();
  for (Object* o : expanded_) o->release();
}

Object* OutlineView::itemAtRow(int row) const {
  return row >= 0 && row < static_cast<int>(items_.size()) ? items_[static_cast<size_t>(row)].item : nullptr;
}

int OutlineView::rowForItem(Object* item) const {
  if (!item) return -1;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].item == item) return static_cast<int>(i);
  }
  return -1;
}

int OutlineView::levelForRow(int row) const {
  return row >= 0 && row < static_cast<int>(items_.size()) ? items_[static_cast<size_t>(row)].level : -1;
}

bool OutlineView::isItemExpanded(Object* item) const {
  return item && expanded_.count(item) != 0;
}

void OutlineView::rebuild() {
  // Rows hold a reference to their items until the next rebuild, so that an item freed by the data source before
  // the reload cannot be mistaken for a new one at the same address.
  std::vector<Row> old;
  old.swap(items_);
  std::set<Object*> selectedItems;
  for (int r : selectedRowIndexes()) {
    if (r < static_cast<int>(old.size())) selectedItems.insert(old[static_cast<size_t>(r)].item);
  }
  const int lastRow = selectedRow();
  Object* lastItem =
      lastRow >= 0 && lastRow < static_cast<int>(old.size()) ? old[static_cast<size_t>(lastRow)].item : nullptr;
  std::set<Object*> reachable;
  if (outlineDataSource_) {
    std::function<void(Object*, int, bool)> walk = [&](Object* parent, int level, bool visible) {
      const int n = outlineDataSource_->outlineNumberOfChildren(this, parent);
      for (int i = 0; i < n; ++i) {
        Object* child = outlineDataSource_->outlineChild(this, i, parent);
        if (!child) continue;
        reachable.insert(child);
        if (visible) {
          child->retain();
          items_.push_back(Row{child, level});
        }
        if (expanded_.count(child) || outlineDataSource_->outlineNumberOfChildren(this, child) > 0) {
          walk(child, level + 1, visible && expanded_.count(child) != 0);
        }
      }
    };
    walk(nullptr, 0, true);
  }
  for (auto it = expanded_.begin(); it != expanded_.end();) {
    if (reachable.count(*it)) {
      ++it;
    } else {
      (*it)->release();
      it = expanded_.erase(it);
    }
  }
  rows_ = static_cast<int>(items_.size());
  std::set<int> sel;
  int last = -1;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (selectedItems.count(items_[i].item)) sel.insert(static_cast<int>(i));
    if (items_[i].item == lastItem) last = static_cast<int>(i);
  }
  setSelection(sel, last);
  for (Row& r : old) r.item->release();
}

void OutlineView::reloadData() {
  rebuild();
  tile();
  setNeedsDisplay(true);
}

void OutlineView::expandItem(Object* item) {
  if (!item || expanded_.count(item) || !outlineDataSource_ || !outlineDataSource_->outlineIsItemExpandable(this, item))
    return;
  item->retain();
  expanded_.insert(item);
  reloadData();
}

void OutlineView::collapseItem(Object* item) {
  auto it = expanded_.find(item);
  if (it == expanded_.end()) return;
  expanded_.erase(it);
  reloadData();
  item->release();
}

std::string OutlineView::objectValueAt(TableColumn* column, int row) {
  Object* item = itemAtRow(row);
  return outlineDataSource_ && item ? outlineDataSource_->outlineObjectValue(this, column, item) : std::string();
}

double OutlineView::indentOfRow(int row, int column) const {
  const int outlineIndex = indexOfColumn(outlineColumn_ ? outlineColumn_ : nullptr);
  if (column != (outlineIndex < 0 ? 0 : outlineIndex)) return 0;
  return (levelForRow(row) + 1) * indentationPerLevel;
}

void OutlineView::mouseDown(Event* e) {
  const Point p = locationIn(this, e);
  const int row = rowAtPoint(p);
  Object* item = itemAtRow(row);
  const int col = columnAtPoint(p);
  if (item && col >= 0 && outlineDataSource_) {
    const Rect cell = frameOfCellAtColumnRow(col, row);
    const double indent = indentOfRow(row, col);
    // The disclosure triangle sits in the last indentation step before the text.
    if (indent > 0 && p.x >= cell.x + indent - indentationPerLevel && p.x < cell.x + indent &&
        outlineDataSource_->outlineIsItemExpandable(this, item)) {
      if (isItemExpanded(item)) {
        collapseItem(item);
      } else {
        expandItem(item);
      }
      return;
    }
  }
  TableView::mouseDown(e);
}

void OutlineView::drawRect(Rect dirty) {
  TableView::drawRect(dirty);
  if (!outlineDataSource_) return;
  const int outlineIndex = std::max(0, indexOfColumn(outlineColumn_));
  for (int row = 0; row < rows_; ++row) {
    const Rect f = frameOfCellAtColumnRow(outlineIndex, row);
    if (f.isEmpty() || f.intersected(dirty).isEmpty()) continue;
    Object* item = itemAtRow(row);
    if (!outlineDataSource_->outlineIsItemExpandable(this, item)) continue;
    const double x = f.x + indentOfRow(row, outlineIndex) - indentationPerLevel / 2 - 2;
    drawControlText(this, isItemExpanded(item) ? "\xE2\x96\xBE" : "\xE2\x96\xB8", Rect{x - 5, f.y, 12, f.h},
                    kTextAlignmentCenter, isRowSelected(row) ? RGBAColor{1, 1, 1, 1} : RGBAColor{0.3, 0.3, 0.3, 1}, 12);
  }
}

}  // namespace cocoa
