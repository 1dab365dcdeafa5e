// The layer's own control classes that the dialog builder makes: push buttons, check boxes and radio buttons,
// text fields and labels, boxes, popup buttons and combo boxes. They carry the layer's per-control state (user
// data, radio flags, style words, the GDI image of a button) on the platform model's controls.
#pragma once

#include "KIT/shim/shim-hwnd.h"
#include "platform/cocoa/controls.h"

class Shim_vVexmir_button : public cocoa::Button, public SHIM_UserDataHolder, public SHIM_RadioButton {
 public:
  explicit Shim_vVexmir_button(cocoa::Rect frame) : cocoa::Button(frame) {}
  LONG_PTR getShimUserData() override { return m_userdata; }
  void setShimUserData(LONG_PTR v) override { m_userdata = v; }
  int shimGetRadioFlags() override { return m_radioflags; }
  void shimSetRadioFlags(int f) override { m_radioflags = f; }
  HGDIOBJ getShimImage() const { return m_bitmap; }
  void setShimImage(HGDIOBJ image) { m_bitmap = image; }

 private:
  LONG_PTR m_userdata = 0;
  int m_radioflags = 0;
  HGDIOBJ m_bitmap = nullptr;
};

class Shim_vVexmir_textfield : public cocoa::TextField {
 public:
  explicit Shim_vVexmir_textfield(cocoa::Rect frame) : cocoa::TextField(frame) { drawsText = true; }
};

class Shim_vVexmir_box : public cocoa::Box {
 public:
  explicit Shim_vVexmir_box(cocoa::Rect frame) : cocoa::Box(frame) {}
  int tag() const override { return m_tag; }
  bool setTag(int t) override {
    m_tag = t;
    return true;
  }

 private:
  int m_tag = 0;
};

class Shim_vVexmir_pub : public cocoa::PopUpButton, public SHIM_StyleHolder {
 public:
  explicit Shim_vVexmir_pub(cocoa::Rect frame) : cocoa::PopUpButton(frame) {}
  int getShimStyle() override { return m_style; }
  void setShimStyle(int s) override { m_style = s; }

 private:
  int m_style = 0;
};

class Shim_vVexmir_cbox : public cocoa::ComboBox, public SHIM_StyleHolder {
 public:
  explicit Shim_vVexmir_cbox(cocoa::Rect frame) : cocoa::ComboBox(frame) {}
  int getShimStyle() override { return m_style; }
  void setShimStyle(int s) override { m_style = s; }

 private:
  int m_style = 0;
};
