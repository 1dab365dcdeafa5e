// The layer's own control classes that the dialog builder makes: push buttons, check boxes and radio buttons,
// text fields and labels, boxes, popup buttons and combo boxes. They carry the layer's per-control state (user
// data, radio flags, style words, the GDI image of a button) on the platform model's controls.
#pragma once

#include <vector>

#include "KIT/shim/shim-hwnd.h"
#include "platform/cocoa/controls.h"
#include "platform/cocoa/scrollview.h"

// Sets the descendant-changed bit (2) of `m_isdirty` on each window view above `from`, up to the first that has it.
void SHIM_MarkAncestorsChanged(cocoa::View* from);
// Sends a message to a window or control through its message entry; 0 when it has none.
LRESULT SHIM_Internal_Send(HWND to, UINT msg, WPARAM wParam, LPARAM lParam);
// A new platform image (the caller releases it) of a bitmap object's pixels, null for anything else.
cocoa::Image* SHIM_Internal_ImageOfBitmap(HGDIOBJ bitmap);
// The list view or tree view behind a handle, or null.
class Shim_vVexmir_listview;
Shim_vVexmir_listview* SHIM_ListViewOf(HWND h);

// Gives the window functions what they ask of the control family (scroll views, text views, combo messages).
// Every control's constructor calls it, so that the hooks are in place while any control exists.
void SHIM_Internal_InstallControlHooks();

// Every control class of the layer flags its window views when it needs painting.
#define SHIM_REPAINT_FLAGGING(Base)                    \
  void setNeedsDisplay(bool needs) override {          \
    Base::setNeedsDisplay(needs);                      \
    if (needs) SHIM_MarkAncestorsChanged(this);        \
  }                                                    \
  void setNeedsDisplayInRect(cocoa::Rect r) override { \
    Base::setNeedsDisplayInRect(r);                    \
    SHIM_MarkAncestorsChanged(this);                   \
  }

class Shim_vVexmir_button : public cocoa::Button, public SHIM_UserDataHolder, public SHIM_RadioButton {
 public:
  explicit Shim_vVexmir_button(cocoa::Rect frame = cocoa::Rect{}) : cocoa::Button(frame) {
    SHIM_Internal_InstallControlHooks();
  }
  SHIM_REPAINT_FLAGGING(cocoa::Button)
  HGDIOBJ getShimImage() const { return m_image; }
  void setShimImage(HGDIOBJ image) { m_image = image; }
  LONG_PTR getShimUserData() override { return m_userdata; }
  void setShimUserData(LONG_PTR v) override { m_userdata = v; }
  int shimGetRadioFlags() override { return m_radioflags; }
  void shimSetRadioFlags(int f) override { m_radioflags = f; }
  // An owner-drawn button draws through its cell (retained) instead of the platform's look.
  void setCell(cocoa::Cell* cell);
  cocoa::Cell* cell() const { return m_cell; }
  void drawRect(cocoa::Rect dirty) override;

 protected:
  ~Shim_vVexmir_button() override;

 private:
  HGDIOBJ m_image = nullptr;
  LONG_PTR m_userdata = 0;
  int m_radioflags = 0;
  cocoa::Cell* m_cell = nullptr;
};

// A drop-down list (combo style 3). Item data words live beside the items, index for index.
class Shim_vVexmir_pub : public cocoa::PopUpButton, public SHIM_StyleHolder {
 public:
  explicit Shim_vVexmir_pub(cocoa::Rect frame = cocoa::Rect{}) : cocoa::PopUpButton(frame) {
    SHIM_Internal_InstallControlHooks();
  }
  SHIM_REPAINT_FLAGGING(cocoa::PopUpButton)
  int getShimStyle() override { return static_cast<int>(m_style); }
  void setShimStyle(int s) override { m_style = s; }
  long m_style = 0;
  std::vector<LPARAM> m_data;
};

// An editable combo box with one data word per item.
class Shim_vVexmir_cbox : public cocoa::ComboBox, public SHIM_StyleHolder {
 public:
  explicit Shim_vVexmir_cbox(cocoa::Rect frame = cocoa::Rect{}) : cocoa::ComboBox(frame) {
    SHIM_Internal_InstallControlHooks();
  }
  SHIM_REPAINT_FLAGGING(cocoa::ComboBox)
  int getShimStyle() override { return static_cast<int>(m_style); }
  void setShimStyle(int s) override { m_style = s; }
  long m_style = 0;
  std::vector<LPARAM> m_ids;
};

class Shim_vVexmir_textfield : public cocoa::TextField {
 public:
  explicit Shim_vVexmir_textfield(cocoa::Rect frame = cocoa::Rect{}) : cocoa::TextField(frame) {
    drawsText = true;
    SHIM_Internal_InstallControlHooks();
  }
  SHIM_REPAINT_FLAGGING(cocoa::TextField)
};

class Shim_vVexmir_box : public cocoa::Box {
 public:
  explicit Shim_vVexmir_box(cocoa::Rect frame = cocoa::Rect{}) : cocoa::Box(frame) {
    SHIM_Internal_InstallControlHooks();
  }
  SHIM_REPAINT_FLAGGING(cocoa::Box)
  int tag() const override { return m_tag; }
  bool setTag(int t) override {
    m_tag = t;
    return true;
  }
  int m_tag = 0;
};
