// The bank chooser: nested popup menus built from the librarian's folder tree (or a flat list of the
// search-result banks), which item is checked, and how a choice becomes a bank index. One algorithm
// serves the upper chooser, the lower chooser and the lower search chooser.
//
// Every bank item carries its bank's path, so two folders of the same name at different places of
// the tree, or a sub-folder that is itself named "Patches", never stand for each other, and no menu
// text is ever taken for a file name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "KIT/IEffect/IPopupMenu.h"

class IGraphics;
class PatchFile;
class PatchLibrarian;
struct IRECT;

// The identity of a bank: its file's full path, "search:" and its name for a search-result bank, or "project:" and
// its name for a bank that a project brought without a file of its own.
std::string bankPath(const PatchFile& bank);

class BankChooserMenu {
 public:
  enum class Source { BankFiles, SearchResults };

  explicit BankChooserMenu(Source source) : source_(source) {}

  Source source() const { return source_; }
  // Builds the menus anew: one submenu per sub-folder of "Patches" (its own sub-folders first, then
  // its banks), then the banks lying directly in "Patches" at the bottom of the top menu. For search
  // results, one flat menu. Nothing is checked.
  void rebuild(const PatchLibrarian& librarian);
  // Checks the item of the bank with that path alone; no item stays checked when none has it.
  void check(const std::string& path);
  // Shows the menus at `rect`. The chosen bank's index in the source list, or -1 when the menu was
  // dismissed, nothing could be chosen, or the chosen bank is no longer in the list.
  int choose(IGraphics* graphics, IRECT* rect, const PatchLibrarian& librarian);

  // For tests and the menu's platform: the top menu, and the path of item `index` of `menu` ("" for
  // a submenu item or an unknown item).
  IPopupMenu* topMenu() const { return menus_.empty() ? nullptr : menus_.front().get(); }
  std::string itemPath(const IPopupMenu* menu, int index) const;
  int bankItemCount() const { return static_cast<int>(items_.size()); }

 private:
  struct Item {
    IPopupMenu* menu;
    int index;
    std::string path;
  };
  IPopupMenu* newMenu();
  void addBank(IPopupMenu* menu, const PatchFile* bank);

  Source source_;
  // The top menu first; the control owns every menu it built.
  std::vector<std::unique_ptr<IPopupMenu>> menus_;
  std::vector<Item> items_;
};

// Index in `list` of the bank with that path, or read from the file it names however written, or -1.
int bankIndexByPath(const std::vector<PatchFile*>& list, const std::string& path);
