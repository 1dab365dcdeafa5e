// The headless model of the platform's multi-line text view: UTF-8 text with a selected range in characters, typed
// keys replacing the selection (Return inserts a line break), a delegate told of every change and of the end of
// editing, and scrolling of a range into view inside an enclosing scroll view.
#pragma once

#include <string>
#include <vector>

#include "platform/cocoa/textfield.h"
#include "platform/cocoa/view.h"

namespace cocoa {

class TextView;

// A range of characters: the caret when the length is 0.
struct TextRange {
  size_t location = 0, length = 0;
};

class TextViewDelegate {
 public:
  virtual ~TextViewDelegate() = default;
  virtual void textDidChange(TextView* view) { (void)view; }
  virtual void textDidEndEditing(TextView* view) { (void)view; }
};

class TextView : public View {
 public:
  explicit TextView(Rect frame = Rect{}) : View(frame) {}

  const std::string& string() const { return text_; }
  // Replaces the whole text; the caret goes to its end.
  void setString(const std::string& utf8);
  size_t length() const;
  TextRange selectedRange() const { return sel_; }
  // Limited to the text, as the platform's field editor does.
  void setSelectedRange(TextRange r);
  // Scrolls the enclosing scroll view so that the range's line is shown (top for the start, bottom for the end).
  void scrollRangeToVisible(TextRange r);

  TextViewDelegate* delegate() const { return delegate_; }
  void setDelegate(TextViewDelegate* d) { delegate_ = d; }  // not retained

  bool editable = true;
  bool selectable = true;
  bool horizontallyResizable = false;
  bool verticallyResizable = true;
  bool drawsBackground = true;
  std::string fontName;
  double fontSize = 12;
  RGBAColor textColor{0, 0, 0, 1};
  double lineHeight() const { return fontSize + 4; }
  // The lines as shown: paragraphs, wrapped at the view's width unless it grows sideways.
  std::vector<std::string> layoutLines() const;
  int lineCount() const;

  bool isFlipped() const override { return true; }
  bool acceptsFirstResponder() override { return editable || selectable; }
  void resignedFirstResponder() override;
  void keyDown(Event* e) override;
  void drawRect(Rect dirty) override;

 private:
  void replaceSelection(const std::string& utf8);
  void fitHeight();
  std::string text_;
  TextRange sel_;
  TextViewDelegate* delegate_ = nullptr;
  bool changedSinceFocus_ = false;
};

}  // namespace cocoa
