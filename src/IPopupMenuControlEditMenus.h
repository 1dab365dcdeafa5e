// The librarian's main menu and the two slot menus: their items, and what each choice does.
#pragma once

#include "KIT/IEffect/IPopupMenu.h"
#include "src/IPopupMenuControlPatchUpper.h"

class BankEditPopupMenu : public IPopupMenuControl {
 public:
  BankEditPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect);
  // Empties the menus and adds their items again.
  void AddMenuItemsIn();
  // Shows the menu and carries out the choice; every item is unchecked afterwards.
  void doPopupMenu();
  void OnMouseDown(int x, int y, IMouseMod* mod) override;

  IPopupMenu& mainMenu() { return main_; }

 private:
  void dispatch(IPopupMenu* menu, int item);

  IPopupMenu main_, request_, store_, saveAs_, import_, other_;
};

class FileEditPopupMenu : public IPopupMenuControl {
 public:
  FileEditPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect);
  void AddMenuItemsIn();
  void doPopupMenu(int x, int y);
  void OnMouseDown(int x, int y, IMouseMod* mod) override;

 private:
  IPopupMenu main_, request_;
};

class FileCopyPopupMenu : public IPopupMenuControl {
 public:
  FileCopyPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect);
  void doPopupMenu(int x, int y);
  void OnMouseDown(int x, int y, IMouseMod* mod) override;

 private:
  IPopupMenu main_;
};
