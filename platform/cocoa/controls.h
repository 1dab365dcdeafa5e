// The headless model of the platform's controls: the control base (tag, enabled flag, target and action, string
// value, font size and alignment), buttons, popup buttons, combo boxes, sliders and boxes. Each draws a plain,
// legible picture of itself so that a dialog saved as PNG shows what the user would see.
#pragma once

#include <string>
#include <vector>

#include "platform/cocoa/menu.h"
#include "platform/cocoa/textfield.h"

namespace cocoa {

// Draws one line of UTF-8 text in the current graphics context of a view, in `r` (view coordinates of a flipped
// or unflipped view), aligned left (0), centred (2) or right (1), vertically centred.
void drawControlText(View* view, const std::string& utf8, Rect r, int alignment, const RGBAColor& color,
                     double fontSize);

class Button : public Control {
 public:
  explicit Button(Rect frame) : Control(frame) {}
  // Button types: 0 momentary push, 3 switch (check box), 4 radio.
  int buttonType = 0;
  int bezelStyle = 0;
  bool allowsMixedState = false;
  int imagePosition = 0;
  const std::string& title() const { return title_; }
  void setTitle(const std::string& t) {
    title_ = t;
    setNeedsDisplay(true);
  }
  // -1 mixed, 0 off, 1 on.
  int state() const { return state_; }
  void setState(int s);
  Object* image() const { return image_; }
  void setImage(Object* image);  // retained
  bool isDefaultButton = false;
  RGBAColor textColor{0, 0, 0, 1};
  bool hasTextColor = false;

  // A click: check boxes and radio buttons change state, then the action goes to the target.
  void mouseDown(Event* e) override;
  void mouseUp(Event* e) override;
  void drawRect(Rect dirty) override;
  void sizeToFit() override;

 protected:
  ~Button() override;

 private:
  std::string title_;
  int state_ = 0;
  Object* image_ = nullptr;
};

// Items of a popup button or combo box.
class ItemListControl : public Control {
 public:
  explicit ItemListControl(Rect frame) : Control(frame) {}
  int numberOfItems() const { return static_cast<int>(items_.size()); }
  int indexOfSelectedItem() const { return selected_; }
  // Out-of-range indices select nothing (-1).
  virtual void selectItemAtIndex(int index);
  void insertItem(const std::string& title, int index);  // appends for an index outside the list
  void removeItemAt(int index);
  void removeAllItems();
  std::string itemTitle(int index) const;
  const std::vector<std::string>& items() const { return items_; }

 protected:
  std::vector<std::string> items_;
  int selected_ = -1;
};

class PopUpButton : public ItemListControl {
 public:
  explicit PopUpButton(Rect frame) : ItemListControl(frame) {}
  // The user opens the list and picks (scripted through the menu chooser); the action goes to the target.
  void mouseDown(Event* e) override;
  void drawRect(Rect dirty) override;
};

class ComboBox;

// The combo box's delegate (the platform's NSComboBoxDelegate with its text-change callback).
class ComboBoxDelegate {
 public:
  virtual ~ComboBoxDelegate() = default;
  // The list is about to open.
  virtual void comboBoxWillPopUp(ComboBox* box) = 0;
  // The user chose an item from the list.
  virtual void comboBoxSelectionDidChange(ComboBox* box) = 0;
  // The user changed the text by typing.
  virtual void comboBoxTextDidChange(ComboBox* box) = 0;
};

// An editable text with a list of items: typing changes the text, choosing an item from the list (opened by a click
// on the arrow at the right, picked through the menu chooser) makes it the text.
class ComboBox : public ItemListControl {
 public:
  explicit ComboBox(Rect frame) : ItemListControl(frame) {}
  const std::string& stringValue() const { return text_; }
  void setStringValue(const std::string& utf8);
  bool editable = true;
  // How many items the open list shows before it scrolls.
  int numberOfVisibleItems = 5;
  ComboBoxDelegate* delegate() const { return delegate_; }
  void setDelegate(ComboBoxDelegate* d) { delegate_ = d; }  // not retained, as on the platform
  // Also makes the item the text.
  void selectItemAtIndex(int index) override;
  bool acceptsFirstResponder() override { return editable && isEnabled(); }
  void mouseDown(Event* e) override;
  // Typing edits the text at its end (backspace removes the last character); Return sends the action.
  void keyDown(Event* e) override;
  void drawRect(Rect dirty) override;

 private:
  std::string text_;
  ComboBoxDelegate* delegate_ = nullptr;
};

class Slider : public Control {
 public:
  explicit Slider(Rect frame) : Control(frame) {}
  double doubleValue() const { return value_; }
  void setDoubleValue(double v);
  double minValue = 0, maxValue = 1;
  int controlSize = 0;
  void drawRect(Rect dirty) override;

 private:
  double value_ = 0;
};

class Box : public View {
 public:
  explicit Box(Rect frame) : View(frame) {}
  const std::string& title() const { return title_; }
  void setTitle(const std::string& t) { title_ = t; }
  int titlePosition = 2;  // 2 at the top; the title is centred when titleCentered
  bool titleCentered = false;
  RGBAColor titleColor{0, 0, 0, 1};
  void drawRect(Rect dirty) override;

 private:
  std::string title_;
};

}  // namespace cocoa
