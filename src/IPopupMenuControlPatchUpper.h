// The popup-menu controls of the librarian tab: an invisible control over a field of the tab that
// opens its menus on any click, and the three bank choosers built on it. The choosers differ only
// in the side they choose for and the list they offer; the menus and choosing are BankChooserMenu's.
#pragma once

#include "KIT/IEffect/IControl.h"
#include "src/BankChooserMenu.h"

class LibrarianEditor;

class IPopupMenuControl : public IControl {
 public:
  IPopupMenuControl(IEffectBase* plug, LibrarianEditor* editor, IRECT rect) : IControl(plug, rect), editor_(editor) {}
  // Nothing visible: the menu's button is part of the background picture.
  bool Draw(IGraphics* graphics) override;

 protected:
  LibrarianEditor* editor_;
};

class BankChooserControl : public IPopupMenuControl {
 public:
  BankChooserControl(IEffectBase* plug, LibrarianEditor* editor, IRECT rect, int side, BankChooserMenu::Source source);
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
  BankChooserMenu& chooser() { return chooser_; }

 private:
  int side_;
  BankChooserMenu chooser_;
};

// The upper (open) bank, from the bank files.
class LeftPatchPopupMenu : public BankChooserControl {
 public:
  LeftPatchPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect);
};

// The lower bank, from the bank files.
class RightPatchPopupMenu : public BankChooserControl {
 public:
  RightPatchPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect);
};

// The lower bank, from the search results.
class RightSearchPopupMenu : public BankChooserControl {
 public:
  RightSearchPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect);
};
