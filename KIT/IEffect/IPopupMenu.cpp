#include "KIT/IEffect/IPopupMenu.h"

#include <cstdio>

IPopupMenu::~IPopupMenu() {
  mMenuItems.Empty(true);
}

IPopupMenuItem* IPopupMenu::AddItem(IPopupMenuItem* item, int index) {
  if (!item) return nullptr;
  const bool added = index == -1 ? mMenuItems.Add(item) != nullptr : mMenuItems.Insert(index, item) != nullptr;
  if (!added) {
    // The list could not grow: the item would otherwise be lost.
    delete item;
    return nullptr;
  }
  return item;
}

IPopupMenuItem* IPopupMenu::AddItem(const char* text, int index, int flags) {
  return AddItem(new IPopupMenuItem(text, flags), index);
}

IPopupMenuItem* IPopupMenu::AddItem(const char* text, int index, IPopupMenu* submenu) {
  return AddItem(new IPopupMenuItem(text, IPopupMenuItem::kNoFlags, submenu), index);
}

IPopupMenuItem* IPopupMenu::AddItem(const char* text, IPopupMenu* submenu) {
  return AddItem(text, -1, submenu);
}

IPopupMenuItem* IPopupMenu::AddSeparator(int index) {
  return AddItem(new IPopupMenuItem("", IPopupMenuItem::kSeparator), index);
}

const char* IPopupMenu::GetItemText(int index) const {
  IPopupMenuItem* item = mMenuItems.Get(index);
  return item ? item->GetText() : "";
}

std::string IPopupMenu::GetNumberedItemText(int index) const {
  char prefix[16] = "";
  switch (mPrefix) {
    case 1:
      std::snprintf(prefix, sizeof prefix, "%1d: ", index + 1);
      break;
    case 2:
      std::snprintf(prefix, sizeof prefix, "%02d: ", index + 1);
      break;
    case 3:
      std::snprintf(prefix, sizeof prefix, "%03d: ", index + 1);
      break;
    default:
      break;
  }
  return std::string(prefix) + GetItemText(index);
}

bool IPopupMenu::CheckItem(int index, bool checked) {
  IPopupMenuItem* item = mMenuItems.Get(index);
  if (!item) return false;
  item->SetChecked(checked);
  return true;
}

void IPopupMenu::CheckItemAlone(int index) {
  for (int i = 0; i < mMenuItems.GetSize(); ++i) mMenuItems.Get(i)->SetChecked(i == index);
}

bool IPopupMenu::IsItemChecked(int index) const {
  IPopupMenuItem* item = mMenuItems.Get(index);
  return item && item->GetChecked();
}
