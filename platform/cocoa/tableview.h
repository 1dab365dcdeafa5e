// The headless model of the platform's table and outline views: rows from a data source, columns with a width, a
// hidden flag and a data cell, a selection of row indexes with the platform's click rules, row and column at a
// point, row and cell rectangles, scrolling inside an enclosing scroll view, and for outlines an expanded set of
// items flattened into rows.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/cocoa/scrollview.h"

namespace cocoa {

class TableView;
class OutlineView;

class TableColumn : public Object {
 public:
  explicit TableColumn(std::string identifier = "") : identifier(std::move(identifier)) {}
  std::string identifier;
  std::string title;
  int headerAlignment = kTextAlignmentLeft;
  bool editable = true;
  double width() const { return width_; }
  void setWidth(double w);
  bool isHidden() const { return hidden_; }
  void setHidden(bool h);
  // The cell that draws every row of the column (retained). A new column has a text cell.
  Cell* dataCell() const;
  void setDataCell(Cell* cell);
  // The name of the sort indicator image shown in the header, empty for none.
  std::string indicatorImage;
  TableView* tableView() const { return table_; }

 protected:
  ~TableColumn() override;

 private:
  friend class TableView;
  double width_ = 100;
  bool hidden_ = false;
  mutable Cell* cell_ = nullptr;
  TableView* table_ = nullptr;  // not retained
};

class TableDataSource {
 public:
  virtual ~TableDataSource() = default;
  virtual int numberOfRowsInTableView(TableView* table) = 0;
  virtual std::string tableObjectValue(TableView* table, TableColumn* column, int row) = 0;
};

class TableViewDelegate {
 public:
  virtual ~TableViewDelegate() = default;
  // After the user changed the selection with the mouse or the keyboard (not after calls).
  virtual void tableViewSelectionDidChange(TableView* table) { (void)table; }
  // Before a cell of a row is drawn: the delegate may change its colours.
  virtual void tableWillDisplayCell(TableView* table, Cell* cell, TableColumn* column, int row) {
    (void)table, (void)cell, (void)column, (void)row;
  }
  virtual void tableDidClickColumn(TableView* table, TableColumn* column) { (void)table, (void)column; }
};

class TableView : public Control, public ScrollHeader {
 public:
  explicit TableView(Rect frame = Rect{});

  TableDataSource* dataSource() const { return dataSource_; }
  void setDataSource(TableDataSource* ds) { dataSource_ = ds; }  // not retained
  TableViewDelegate* delegate() const { return delegate_; }
  void setDelegate(TableViewDelegate* d) { delegate_ = d; }  // not retained

  // Columns in displayed order (retained).
  const std::vector<TableColumn*>& tableColumns() const { return columns_; }
  int numberOfColumns() const { return static_cast<int>(columns_.size()); }
  void addTableColumn(TableColumn* column);
  void removeTableColumn(TableColumn* column);
  void moveColumn(int from, int to);
  int indexOfColumn(const TableColumn* column) const;  // displayed position, -1 when absent

  // Asks the data source for the row count again; selected rows past the new end leave the selection.
  virtual void reloadData();
  int numberOfRows() const { return rows_; }

  double rowHeight = 17;
  Point intercellSpacing{3, 2};
  bool allowsMultipleSelection = false;
  bool allowsEmptySelection = true;
  bool allowsColumnReordering = true;
  bool allowsColumnResizing = true;
  int columnAutoresizingStyle = 1;
  int gridStyleMask = 0;  // 1 vertical, 2 horizontal lines
  RGBAColor backgroundColor{1, 1, 1, 1};
  RGBAColor gridColor{0.8, 0.8, 0.8, 1};
  // A header above the rows (drawn by the enclosing scroll view); 0 for none.
  double headerHeight = 17;
  bool hasHeaderView() const { return headerHeight > 0; }

  // Geometry in the table's own (flipped) coordinates.
  Rect rectOfRow(int row) const;
  Rect rectOfColumn(int column) const;  // displayed position
  Rect frameOfCellAtColumnRow(int column, int row) const;
  int rowAtPoint(Point p) const;     // -1 outside the rows
  int columnAtPoint(Point p) const;  // displayed position, -1 outside the visible columns
  // Resizes the frame to hold every row and column (at least as large as the visible area).
  void tile();

  // Selection.
  const std::set<int>& selectedRowIndexes() const { return selected_; }
  bool isRowSelected(int row) const { return selected_.count(row) != 0; }
  // The last row selected, -1 for none.
  int selectedRow() const;
  int numberOfSelectedRows() const { return static_cast<int>(selected_.size()); }
  void selectRowIndexes(const std::set<int>& rows, bool extend);
  void deselectRow(int row);
  void deselectAll();
  // Replaces the selection (for controls that keep it across changes of their rows); the last row stays last.
  void setSelection(const std::set<int>& rows, int last);

  void scrollRowToVisible(int row);
  void scrollColumnToVisible(int column);

  bool isFlipped() const override { return true; }
  bool acceptsFirstResponder() override { return true; }
  // The platform's mouse handling: mouse-down selects the row (Shift extends to a range, Command toggles, when
  // multiple selection is allowed); a click outside the rows deselects all when an empty selection is allowed.
  // Mouse-up sends the action, or the double action for a second click.
  void mouseDown(Event* e) override;
  void mouseUp(Event* e) override;
  // Up and down arrows move the selection.
  void keyDown(Event* e) override;
  void drawRect(Rect dirty) override;
  // Paints the selected rows' background inside the clip rectangle.
  virtual void highlightSelectionInClipRect(Rect clip);
  double headerHeightInScrollView() const override;
  void drawHeader(View* view, Rect r) override;
  // Tells the delegate which column's header was clicked.
  void headerClicked(double x) override;

  // The row under the last mouse-down, -1 for none (the platform's clicked row).
  int clickedRow() const { return clickedRow_; }
  int clickedColumn() const { return clickedColumn_; }

 protected:
  // A second click: sends the double action (controls may report it their own way).
  virtual void doubleClicked() { sendAction(doubleAction); }
  ~TableView() override;
  // The row count and a cell's value: from the data source here, from the outline's items in an outline view.
  virtual int countRows();
  virtual std::string objectValueAt(TableColumn* column, int row);
  virtual double indentOfRow(int row, int column) const;

  int rows_ = 0;

 private:
  void userSelect(int row, uint32_t modifiers);
  TableDataSource* dataSource_ = nullptr;
  TableViewDelegate* delegate_ = nullptr;
  std::vector<TableColumn*> columns_;
  std::set<int> selected_;
  int lastSelected_ = -1;
  int clickedRow_ = -1, clickedColumn_ = -1;
};

class OutlineDataSource {
 public:
  virtual ~OutlineDataSource() = default;
  // `item` null stands for the invisible root.
  virtual int outlineNumberOfChildren(OutlineView* outline, Object* item) = 0;
  virtual bool outlineIsItemExpandable(OutlineView* outline, Object* item) = 0;
  virtual Object* outlineChild(OutlineView* outline, int index, Object* item) = 0;
  virtual std::string outlineObjectValue(OutlineView* outline, TableColumn* column, Object* item) = 0;
};

// Rows are the visible items: the root's children, and the children of every expanded item among them. The
// selection follows items across reloads; items that are gone leave it, and leave the expanded set.
class OutlineView : public TableView {
 public:
  explicit OutlineView(Rect frame = Rect{}) : TableView(frame) {}
  OutlineDataSource* outlineDataSource() const { return outlineDataSource_; }
  void setOutlineDataSource(OutlineDataSource* ds) { outlineDataSource_ = ds; }  // not retained
  TableColumn* outlineTableColumn() const { return outlineColumn_; }
  void setOutlineTableColumn(TableColumn* c) { outlineColumn_ = c; }  // one of the table's columns
  double indentationPerLevel = 16;

  void reloadData() override;
  Object* itemAtRow(int row) const;
  int rowForItem(Object* item) const;  // -1 when not shown
  int levelForRow(int row) const;
  bool isItemExpanded(Object* item) const;
  // Expanding an item that is not expandable does nothing.
  void expandItem(Object* item);
  void collapseItem(Object* item);

  // A click on an item's disclosure triangle expands or collapses it instead of selecting.
  void mouseDown(Event* e) override;
  void drawRect(Rect dirty) override;

 protected:
  ~OutlineView() override;
  int countRows() override { return static_cast<int>(items_.size()); }
  std::string objectValueAt(TableColumn* column, int row) override;
  double indentOfRow(int row, int column) const override;

 private:
  void rebuild();
  OutlineDataSource* outlineDataSource_ = nullptr;
  TableColumn* outlineColumn_ = nullptr;
  struct Row {
    Object* item;
    int level;
  };
  std::vector<Row> items_;
  std::set<Object*> expanded_;  // retained
};

}  // namespace cocoa
