// The headless model of the platform's one-line text field and its field editor: typed keys are inserted at the
// end (the whole text is selected when editing starts, so the first key replaces it), a formatter may refuse each
// new partial string, Return or the loss of first responder ends editing and tells the delegate.
#pragma once

#include <string>
#include <vector>

#include "platform/cocoa/cfstring.h"
#include "platform/cocoa/view.h"

namespace cocoa {

class TextField;

// The platform's formatter: decides, key by key, whether the text being typed may become the new text, and turns
// the field's text into its object value and back. The field shows only what the formatter makes of the value:
// the abstract formatter makes nothing of any value, so a formatter that does not answer both conversions empties
// the field.
class Formatter : public Object {
 public:
  // `partial` is the whole text as it would be after the key (UTF-8).
  virtual bool isPartialStringValid(const std::string& partial) = 0;
  // The text shown for an object value (not retained for the caller); null when it cannot be shown.
  virtual String* stringForObjectValue(Object* value) {
    (void)value;
    return nullptr;
  }
  // The object value of a text, retained for the caller in *value; false when the text cannot become one.
  virtual bool getObjectValue(Object** value, const std::string& text, std::string* error) {
    (void)value;
    (void)text;
    (void)error;
    return false;
  }
};

class TextFieldDelegate {
 public:
  virtual ~TextFieldDelegate() = default;
  virtual void controlTextDidEndEditing(TextField* field) = 0;
  // The user changed the text (each accepted key).
  virtual void controlTextDidChange(TextField* field) { (void)field; }
};

enum TextAlignment {
  kTextAlignmentLeft = 0,
  kTextAlignmentRight = 1,
  kTextAlignmentCenter = 2,
  kTextAlignmentNatural = 4
};

struct RGBAColor {
  double r = 0, g = 0, b = 0, a = 1;
};

// The platform's control base: a tag, an enabled flag, a target with its action and double action, a font size
// and a text alignment.
class Control : public View {
 public:
  explicit Control(Rect frame) : View(frame) {}
  int tag() const override { return tag_; }
  bool setTag(int t) override {
    tag_ = t;
    return true;
  }
  bool isEnabled() const { return enabled_; }
  virtual void setEnabled(bool on) {
    enabled_ = on;
    setNeedsDisplay(true);
  }
  Object* target = nullptr;  // not retained, as on the platform
  std::string action;
  std::string doubleAction;
  // Sends the action to the target when both are set and the target takes actions.
  void sendAction(const std::string& which);
  virtual void sizeToFit() {}
  std::string fontName;
  double fontSize = 12;
  int alignment = 4;  // natural
  bool focusRing = true;

 private:
  int tag_ = 0;
  bool enabled_ = true;
};

class TextField : public Control {
 public:
  explicit TextField(Rect frame) : Control(frame) {}

  const std::string& stringValue() const { return text_; }
  // With a formatter, the text becomes the formatter's object value and the field shows the value's text.
  void setStringValue(const std::string& utf8);
  Object* objectValue() const { return objectValue_; }
  Formatter* formatter() const { return formatter_; }
  // Retains the formatter.
  void setFormatter(Formatter* f);
  TextFieldDelegate* delegate() const { return delegate_; }
  void setDelegate(TextFieldDelegate* d) { delegate_ = d; }

  // Looks: kept so that callers and tests can read them back.
  RGBAColor textColor{0, 0, 0, 1};
  bool editable = true;
  bool selectable = true;
  bool drawsBackground = true;
  bool bezeled = true;
  bool wraps = false;
  bool secure = false;  // shows bullets
  // The plain model field draws only its background; fields that show their text (the window layer's) set this.
  bool drawsText = false;
  // The selection while editing, in characters: start and length.
  void selectedRange(int* start, int* length) const;
  void setSelectedRange(int start, int length);
  void sizeToFit() override;
  RGBAColor backgroundColor{1, 1, 1, 1};
  bool bordered = true;
  bool focusRing = true;
  // A text too wide for the field ends in an ellipsis while it is not edited (else it is only cut).
  bool truncatesTail = false;
  bool allowsEditingTextAttributes = true;

  bool acceptsFirstResponder() override { return editable || selectable; }
  void becameFirstResponder() override;
  void resignedFirstResponder() override;
  // The field editor: characters are inserted, Backspace and Delete remove the last character, Return and Enter
  // end editing, arrows move the caret (the model keeps it at the end), other control keys are ignored. A key held
  // with Control or Command types nothing: with A it selects the whole text, any other goes to the next responder.
  void keyDown(Event* e) override;
  void drawRect(Rect dirty) override;

  bool isEditing() const { return editing_; }
  // Keys the formatter refused (their characters, UTF-8), for tests.
  const std::vector<std::string>& refusedKeys() const { return refused_; }
  // Ends editing and tells the delegate (as Return does).
  void endEditing();

 protected:
  ~TextField() override;

 private:
  bool tryText(const std::string& candidate);
  // Through the formatter: the text's object value, and the text that value shows.
  void takeValueOf(const std::string& utf8);
  std::string text_;
  Object* objectValue_ = nullptr;  // retained
  Formatter* formatter_ = nullptr;
  TextFieldDelegate* delegate_ = nullptr;  // not retained, as on the platform
  bool editing_ = false;
  bool allSelected_ = false;
  int selStart_ = -1, selLength_ = 0;  // -1: the caret at the end
  bool ending_ = false;
  std::vector<std::string> refused_;
};

// A one-line field's text drawn in `box` of the view with `alignment` (0 left, 1 right, 2 centred, as
// drawControlText) and, while it is edited, the caret or the selection of `selLength` characters from `selStart`.
// A text wider than the box is shown from its start: scrolled, while it is edited, so that the caret stays in view;
// else cut at the tail (ending in an ellipsis with `truncatesTail`).
void drawFieldText(View* view, const std::string& utf8, Rect box, int alignment, const RGBAColor& color,
                   double fontSize, bool editing, int selStart, int selLength, bool truncatesTail = false);

// UTF-8 of one character.
std::string utf8Of(char32_t c);

// A key held with Control or Command: a command, never text.
bool isCommandKey(const Event* e);
// Control-A or Command-A: select all.
bool isSelectAll(const Event* e);

}  // namespace cocoa
