#include "src/IPopupMenuControlEditMenus.h"

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IGraphics.h"
#include "src/LibrarianEditor.h"
#include "src/LibrarianHost.h"
#include "src/LibrarianViewControl.h"
#include "src/PatchLibrarian.h"
#include "src/Vexmir.h"

namespace {

void emptyMenu(IPopupMenu& menu) {
  // Items are owned by the menu and go with it; a fresh menu is the empty one.
  menu.~IPopupMenu();
  new (&menu) IPopupMenu();
}

void uncheckAll(std::initializer_list<IPopupMenu*> menus) {
  for (IPopupMenu* menu : menus) menu->CheckItemAlone(-1);
}

// Opens `menu` at the control and returns the menu chosen in (with its chosen item), or null. A choice begins a new
// action: the last one's message goes.
IPopupMenu* popUp(LibrarianEditor* editor, IPopupMenu* menu, IRECT* rect, std::initializer_list<IPopupMenu*> all) {
  IGraphics* graphics = editor ? editor->graphics() : nullptr;
  if (!graphics) return nullptr;
  for (IPopupMenu* m : all) m->SetChosenItemIdx(-1);
  IPopupMenu* chosen = graphics->CreateIPopupMenu(menu, rect);
  if (chosen) editor->clearMessage();
  return chosen;
}

}  // namespace

// ---- BankEditPopupMenu ----

BankEditPopupMenu::BankEditPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect)
    : IPopupMenuControl(plug, editor, rect) {
  AddMenuItemsIn();
}

void BankEditPopupMenu::AddMenuItemsIn() {
  for (IPopupMenu* menu : {&main_, &request_, &store_, &saveAs_, &import_, &other_}) emptyMenu(*menu);
  main_.AddItem("Request Patch Data", &request_);
  main_.AddSeparator();
  main_.AddItem("Store Patch Data", &store_);
  main_.AddSeparator();
  main_.AddItem("Sync Current Data from HW");
  main_.AddItem("Push Current Data to HW");
  main_.AddSeparator();
  main_.AddItem("Save (Overwrite current bank)");
  main_.AddItem("Save As...", &saveAs_);
  main_.AddSeparator();
  main_.AddItem("Import...", &import_);
  main_.AddItem("Refresh Folders");
  main_.AddItem("Other Helpful things...", &other_);
  main_.AddSeparator();
  main_.AddItem("About this Plug-in...");

  request_.AddItem("from Active Slot to Plug-in GUI");
  request_.AddItem("from Active Slot to Librarian");
  request_.AddItem("from Currently Selected Location");
  request_.AddSeparator();
  request_.AddItem("All Patches from Memory");

  store_.AddItem("To Currently Selected Location");
  store_.AddSeparator();
  store_.AddItem("All Current Patches to Hardware");

  saveAs_.AddItem("Standard MIDI (*.mid)");
  saveAs_.AddItem("Vexmir Format (*.vmr)");

  import_.AddItem("Standard MIDI (*.mid)");
  import_.AddItem("SysEx (*.syx / *.vmr / *.vlt)");
  import_.AddItem("microKorg PRG (*.prg)", -1, IPopupMenuItem::kDisabled);

  other_.AddItem("Open Data Folder");
  other_.AddItem("Open User Manual", -1, IPopupMenuItem::kDisabled);
  other_.AddItem("Open Support Ticket");
  other_.AddItem("Check for Updates");
  other_.AddItem("DAW Setup Guides");
}

void BankEditPopupMenu::doPopupMenu() {
  IPopupMenu* chosen = popUp(editor_, &main_, &mRECT, {&main_, &request_, &store_, &saveAs_, &import_, &other_});
  if (chosen) {
    const int item = chosen->GetChosenItemIdx();
    const IPopupMenuItem* entry = chosen->GetItem(item);
    if (entry && entry->GetEnabled() && !entry->GetIsSeparator() && !entry->GetSubmenu()) dispatch(chosen, item);
  }
  uncheckAll({&main_, &request_, &store_, &saveAs_, &import_, &other_});
}

void BankEditPopupMenu::dispatch(IPopupMenu* menu, int item) {
  LibrarianHost* host = editor_->host();
  if (menu == &main_) {
    switch (item) {
      case 4:
        if (host) host->syncCurrentFromHardware();
        break;
      case 5:
        if (host && host->midiOutputChosen()) host->pushCurrentToHardware();
        break;
      case 7:
        editor_->saveOpenBank();
        break;
      case 11:
        editor_->patchTypeChanged(0, 0, true);
        break;
      case 14:
        editor_->showAbout();
        break;
    }
  } else if (menu == &request_) {
    // Programs asked for go into the open bank as the musician saw it: where its file changed a slot they would
    // write, nothing is asked for. With no slot selected nothing is asked for a slot.
    switch (item) {
      case 0:
        if (host) host->requestProgram(-1, -1, true);
        break;
      case 1:
        editor_->requestIntoSlot(-1);
        break;
      case 2:
        editor_->requestIntoSelectedSlot();
        break;
      case 4:
        editor_->requestAllIntoOpenBank();
        break;
    }
  } else if (menu == &store_) {
    if (item == 0) editor_->storeSelectedProgram();
    if (item == 2) editor_->storeOpenBank();
  } else if (menu == &saveAs_) {
    editor_->saveOpenBankAs(item == 0);
  } else if (menu == &import_) {
    if (item <= 1 && editor_->saveImportedFile(item == 0)) editor_->patchTypeChanged(0, 0, true);
  } else if (menu == &other_) {
    if (item == 0) {
      editor_->openOnDesktop(Vexmir::getDataFolder(), "Data folder");
    } else if (item >= 2) {
      editor_->OpenHelpTopics(item - 2);
    }
  }
}

void BankEditPopupMenu::OnMouseDown(int, int, IMouseMod*) {
  doPopupMenu();
  SetRedraw(true);
  SetDirty(false);
}

// ---- FileEditPopupMenu ----

FileEditPopupMenu::FileEditPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect)
    : IPopupMenuControl(plug, editor, rect) {
  AddMenuItemsIn();
}

void FileEditPopupMenu::AddMenuItemsIn() {
  // Offered once a Copy has taken a program: before that a Paste would have nothing to store.
  main_.AddItem("Paste", -1,
                editor_ && editor_->copiedProgram() ? IPopupMenuItem::kNoFlags : IPopupMenuItem::kDisabled);
  main_.AddSeparator();
  main_.AddItem("Rename");
  main_.AddSeparator();
  main_.AddItem("Initialize");
  main_.AddItem("Request", &request_);
  request_.AddItem("Temp from Hardware");
  request_.AddItem("Program by Slot");
}

void FileEditPopupMenu::doPopupMenu(int x, int y) {
  IPopupMenu* chosen = popUp(editor_, &main_, &mRECT, {&main_, &request_});
  LibrarianViewControl* view = editor_ ? editor_->view() : nullptr;
  LibrarianHost* host = editor_ ? editor_->host() : nullptr;
  const int item = chosen ? chosen->GetChosenItemIdx() : -1;
  if (chosen == &main_) {
    if (item == 0 && view) view->PasteSlotData(x, y);
    // A rename opens on the program the list shows now: one the file changed while the menu stood is not renamed.
    if (item == 2 && view) {
      const int slot = editor_->librarian()->selectedSlot(LibrarianEditor::kUpper);
      if (editor_->slotsWritable(slot, slot + 1, "Not renamed", "Rename the slot again.")) view->renameSlot(x, y);
    }
    if (item == 4) editor_->initializeSelectedSlot();
  } else if (chosen == &request_ && host) {
    if (item == 0) editor_->requestIntoSlot(-1);
    if (item == 1) editor_->requestIntoSelectedSlot();
  }
  uncheckAll({&main_, &request_});
}

void FileEditPopupMenu::OnMouseDown(int x, int y, IMouseMod*) {
  doPopupMenu(x, y);
  SetRedraw(true);
  SetDirty(false);
}

// ---- FileCopyPopupMenu ----

FileCopyPopupMenu::FileCopyPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect)
    : IPopupMenuControl(plug, editor, rect) {
  main_.AddItem("Copy");
}

void FileCopyPopupMenu::doPopupMenu(int x, int y) {
  IPopupMenu* chosen = popUp(editor_, &main_, &mRECT, {&main_});
  if (chosen == &main_ && chosen->GetChosenItemIdx() == 0 && editor_->view()) editor_->view()->CopySlotData(x, y);
  uncheckAll({&main_});
}

void FileCopyPopupMenu::OnMouseDown(int x, int y, IMouseMod*) {
  doPopupMenu(x, y);
  SetRedraw(true);
  SetDirty(false);
}
