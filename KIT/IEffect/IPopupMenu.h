// A platform-neutral popup menu: items with texts, flags and optional submenus, a numbering prefix and the index
// of the item the user chose. The editor surface shows it with the platform's menu.
#pragma once

#include <string>

#include "KIT/ptrlist.h"

class IPopupMenu;

class IPopupMenuItem {
 public:
  enum EFlags { kNoFlags = 0, kDisabled = 1, kTitle = 2, kChecked = 4, kSeparator = 8 };

  IPopupMenuItem(const char* text, int flags = kNoFlags, IPopupMenu* submenu = nullptr)
      : mText(text ? text : ""), mSubmenu(submenu), mFlags(flags) {}

  const char* GetText() const { return mText.c_str(); }
  void SetText(const char* text) { mText = text ? text : ""; }
  int GetFlags() const { return mFlags; }
  void SetFlags(int flags) { mFlags = flags; }
  // Not owned: whoever created the submenu deletes it.
  IPopupMenu* GetSubmenu() const { return mSubmenu; }
  bool GetEnabled() const { return !(mFlags & kDisabled); }
  bool GetChecked() const { return (mFlags & kChecked) != 0; }
  bool GetIsTitle() const { return (mFlags & kTitle) != 0; }
  bool GetIsSeparator() const { return (mFlags & kSeparator) != 0; }
  void SetChecked(bool checked) { mFlags = checked ? (mFlags | kChecked) : (mFlags & ~kChecked); }

 private:
  std::string mText;
  IPopupMenu* mSubmenu;
  int mFlags;
};

class IPopupMenu {
 public:
  IPopupMenu() = default;
  ~IPopupMenu();
  IPopupMenu(const IPopupMenu&) = delete;
  IPopupMenu& operator=(const IPopupMenu&) = delete;

  // Index -1 appends; any other index is limited to 0..count. The menu owns the item from then on.
  IPopupMenuItem* AddItem(IPopupMenuItem* item, int index = -1);
  IPopupMenuItem* AddItem(const char* text, int index = -1, int flags = IPopupMenuItem::kNoFlags);
  IPopupMenuItem* AddItem(const char* text, int index, IPopupMenu* submenu);
  IPopupMenuItem* AddItem(const char* text, IPopupMenu* submenu);
  IPopupMenuItem* AddSeparator(int index = -1);

  int GetNItems() const { return mMenuItems.GetSize(); }
  // Null outside 0..count-1.
  IPopupMenuItem* GetItem(int index) const { return mMenuItems.Get(index); }
  // "" for an item without text and for an index outside the list.
  const char* GetItemText(int index) const;
  // The item's text as the platform menus show it: behind the numbering prefix, counted from 1.
  std::string GetNumberedItemText(int index) const;

  // 0 no numbering, 1 "%1d: ", 2 "%02d: ", 3 "%03d: "; other values are refused.
  void SetPrefix(int prefix) {
    if (prefix >= 0 && prefix <= 3) mPrefix = prefix;
  }
  int GetPrefix() const { return mPrefix; }

  bool CheckItem(int index, bool checked);
  // Checks the item at index and unchecks every other one; an index outside the list unchecks all.
  void CheckItemAlone(int index);
  bool IsItemChecked(int index) const;

  int GetChosenItemIdx() const { return mChosenItemIdx; }
  void SetChosenItemIdx(int index) { mChosenItemIdx = index; }

 private:
  KIT_PtrList<IPopupMenuItem> mMenuItems{256};
  int mPrefix = 0;
  int mChosenItemIdx = -1;
};
