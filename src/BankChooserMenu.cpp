#include "src/BankChooserMenu.h"

#include <sys/stat.h>

#include "KIT/IEffect/IGraphics.h"
#include "src/PatchLibrarian.h"

std::string bankPath(const PatchFile& bank) {
  if (bank.fromProject) return "project:" + bank.fileName;
  if (bank.folderPath.empty()) return "search:" + bank.fileName;
  return bank.folderPath + "/" + bank.fileName;
}

int bankIndexByPath(const std::vector<PatchFile*>& list, const std::string& path) {
  if (path.empty()) return -1;
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i] && bankPath(*list[i]) == path) return static_cast<int>(i);
  // The path written another way ("..", a doubled slash, a link to a folder): the entry of that very name first (a
  // link inside Patches is an entry of its own), else the bank read from that very file.
  if (path[0] != '/') return -1;
  for (auto info : {::lstat, ::stat}) {
    struct stat wanted {};
    if (info(path.c_str(), &wanted) != 0) continue;
    for (size_t i = 0; i < list.size(); ++i) {
      const PatchFile* bank = list[i];
      struct stat st {};
      if (bank && !bank->fromProject && !bank->folderPath.empty() && info(bankPath(*bank).c_str(), &st) == 0 &&
          st.st_dev == wanted.st_dev && st.st_ino == wanted.st_ino)
        return static_cast<int>(i);
    }
  }
  return -1;
}

IPopupMenu* BankChooserMenu::newMenu() {
  menus_.push_back(std::make_unique<IPopupMenu>());
  return menus_.back().get();
}

void BankChooserMenu::addBank(IPopupMenu* menu, const PatchFile* bank) {
  if (!bank) return;
  menu->AddItem(bank->fileName.c_str());
  items_.push_back(Item{menu, menu->GetNItems() - 1, bankPath(*bank)});
}

void BankChooserMenu::rebuild(const PatchLibrarian& librarian) {
  items_.clear();
  menus_.clear();
  IPopupMenu* top = newMenu();
  if (source_ == Source::SearchResults) {
    for (const PatchFile* bank : librarian.searchFiles) addBank(top, bank);
    return;
  }
  // The folder submenus first, in the order of the tree; the root's own banks after all of them.
  for (const FolderFiles* entry : librarian.folderTree) {
    if (!entry) continue;
    for (const SubFolderFiles& sub : entry->subFolders) {
      IPopupMenu* subMenu = newMenu();
      for (const SubFolderFiles2& subSub : sub.subFolders2) {
        IPopupMenu* subSubMenu = newMenu();
        for (const PatchFile* bank : subSub.files) addBank(subSubMenu, bank);
        subMenu->AddItem(subSub.name.c_str(), subSubMenu);
      }
      for (const PatchFile* bank : sub.files) addBank(subMenu, bank);
      top->AddItem(sub.name.c_str(), subMenu);
    }
  }
  for (const FolderFiles* entry : librarian.folderTree)
    if (entry)
      for (const PatchFile* bank : entry->files) addBank(top, bank);
}

void BankChooserMenu::check(const std::string& path) {
  for (auto& menu : menus_) menu->CheckItemAlone(-1);
  for (const Item& item : items_)
    if (item.path == path) {
      item.menu->CheckItemAlone(item.index);
      return;
    }
}

std::string BankChooserMenu::itemPath(const IPopupMenu* menu, int index) const {
  for (const Item& item : items_)
    if (item.menu == menu && item.index == index) return item.path;
  return std::string();
}

int BankChooserMenu::choose(IGraphics* graphics, IRECT* rect, const PatchLibrarian& librarian) {
  if (!graphics || items_.empty()) return -1;
  for (auto& menu : menus_) menu->SetChosenItemIdx(-1);
  IPopupMenu* chosen = graphics->CreateIPopupMenu(topMenu(), rect);
  if (!chosen) return -1;
  const std::string path = itemPath(chosen, chosen->GetChosenItemIdx());
  const auto& list = source_ == Source::SearchResults ? librarian.searchFiles : librarian.bankFiles;
  const int index = bankIndexByPath(list, path);
  if (index >= 0) check(path);
  return index;
}
