#include "src/IPopupMenuControlPatchUpper.h"

#include "KIT/IEffect/IGraphics.h"
#include "src/LibrarianEditor.h"
#include "src/PatchLibrarian.h"

bool IPopupMenuControl::Draw(IGraphics* graphics) {
  return graphics->FillIRect(&COLOR_TRANSPARENT, &mRECT);
}

BankChooserControl::BankChooserControl(IEffectBase* plug, LibrarianEditor* editor, IRECT rect, int side,
                                       BankChooserMenu::Source source)
    : IPopupMenuControl(plug, editor, rect), side_(side), chooser_(source) {
  if (editor_ && editor_->librarian()) chooser_.rebuild(*editor_->librarian());
}

void BankChooserControl::OnMouseDown(int, int, IMouseMod*) {
  if (!editor_) return;
  const int chosen = chooser_.choose(editor_->graphics(), &mRECT, *editor_->librarian());
  if (chosen >= 0) {
    editor_->clearMessage();
    editor_->selectBank(side_, chosen);
  }
  // The check follows the bank really shown, whether a choice was made, refused or dismissed.
  chooser_.check(side_ == LibrarianEditor::kUpper ? editor_->upperBankPath : editor_->lowerBankPath);
  SetRedraw(true);
  SetDirty(false);
}

LeftPatchPopupMenu::LeftPatchPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect)
    : BankChooserControl(plug, editor, rect, LibrarianEditor::kUpper, BankChooserMenu::Source::BankFiles) {}

RightPatchPopupMenu::RightPatchPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect)
    : BankChooserControl(plug, editor, rect, LibrarianEditor::kLower, BankChooserMenu::Source::BankFiles) {}

RightSearchPopupMenu::RightSearchPopupMenu(IEffectBase* plug, LibrarianEditor* editor, IRECT rect)
    : BankChooserControl(plug, editor, rect, LibrarianEditor::kLower, BankChooserMenu::Source::SearchResults) {}
