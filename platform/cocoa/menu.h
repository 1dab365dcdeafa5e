// The headless model of the platform's menus and of the person who picks from them: Cocoa menus and menu items,
// context menus that "pop up" by asking a scripted chooser, and the record of what was shown, so that tests and the
// test host say what the user picks and check what the user saw. Carbon menus (carbon.h) ask the same chooser.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/cocoa/view.h"

namespace cocoa {

class Menu;

// The platform's menu delegate, asked before a menu opens.
class MenuDelegate {
 public:
  virtual ~MenuDelegate() = default;
  virtual void menuNeedsUpdate(Menu* menu) = 0;
};

class MenuItem : public Object {
 public:
  MenuItem(std::string title, bool hasAction) : title_(std::move(title)), hasAction_(hasAction) {}
  static MenuItem* separator();

  const std::string& title() const { return title_; }
  void setTitle(const std::string& title) { title_ = title; }
  bool isSeparator() const { return separator_; }
  bool hasAction() const { return hasAction_ || !action.empty(); }
  Menu* submenu() const { return submenu_; }
  // Retains the submenu.
  void setSubmenu(Menu* submenu);
  Menu* menu() const { return menu_; }  // the menu that holds the item (not retained)

  bool enabled = true;
  int state = 0;  // 1 on, 0 off
  int indentationLevel = 0;
  int tag = 0;
  // The key equivalent (UTF-8, "" for none) and its modifier flags (the platform's modifier bits).
  std::string keyEquivalent;
  uint32_t keyEquivalentModifierMask = 0;
  // The action sent to the target when the item is chosen; an item with a target gets it through ActionTarget.
  std::string action;
  Object* target = nullptr;  // not retained, as on the platform
  Object* representedObject() const { return represented_; }
  // Retains the object.
  void setRepresentedObject(Object* object);
  Object* image() const { return image_; }
  void setImage(Object* image);  // retained

 protected:
  ~MenuItem() override;

 private:
  friend class Menu;
  std::string title_;
  bool hasAction_ = false;
  bool separator_ = false;
  Menu* submenu_ = nullptr;
  Menu* menu_ = nullptr;
  Object* represented_ = nullptr;
  Object* image_ = nullptr;
};

// A view that takes the menu's choice: the item's action goes to it (the platform sends actions without an explicit
// target along the responder chain, starting at the view the menu was shown for).
class MenuActionReceiver {
 public:
  virtual ~MenuActionReceiver() = default;
  virtual void menuItemChosen(MenuItem* item) = 0;
};

class Menu : public Object {
 public:
  explicit Menu(std::string title = "") : title_(std::move(title)) {}
  const std::string& title() const { return title_; }
  bool autoenablesItems = true;

  void setTitle(const std::string& title) { title_ = title; }
  MenuDelegate* delegate = nullptr;  // not retained

  // Retains the item.
  void addItem(MenuItem* item);
  // Inserts at index (appends for an index outside the list); retains the item.
  void insertItem(MenuItem* item, int index);
  // Releases the item at index; nothing outside the list.
  void removeItemAt(int index);
  // A new menu (owned by the caller) with copies of the items and, deeply, of their submenus.
  Menu* copy() const;
  // Tells the delegates of the menu and its submenus that they are about to open.
  void notifyNeedsUpdate();
  int numberOfItems() const { return static_cast<int>(items_.size()); }
  MenuItem* itemAt(int index) const;
  int indexOfItem(MenuItem* item) const;
  Menu* supermenu() const { return supermenu_; }

  // Shows the menu as a context menu for `view` at the event's location and returns when it closes: the chooser
  // picks an item; an enabled item with an action sends it to the first MenuActionReceiver among the view and its
  // superviews. Returns the chosen item (not retained) or null when the menu was dismissed.
  static MenuItem* popUpContextMenu(Menu* menu, Event* event, View* view);

 protected:
  ~Menu() override;

 private:
  friend class MenuItem;
  std::string title_;
  std::vector<MenuItem*> items_;  // retained
  Menu* supermenu_ = nullptr;
};

// What the user saw when a menu popped up, independent of the kind of menu.
struct ShownMenuItem {
  std::string title;
  bool separator = false;
  bool enabled = true;
  bool checked = false;
  bool header = false;  // a section title
  std::vector<ShownMenuItem> submenu;
  bool hasSubmenu = false;
};

struct ShownMenu {
  std::vector<ShownMenuItem> items;
  double x = 0, y = 0;  // where it was shown (screen or window coordinates, as the caller gave them)
};

namespace application {
// The application's main menu (the menu bar), retained; null for none.
Menu* mainMenu();
void setMainMenu(Menu* menu);
}  // namespace application

namespace menus {
// The user's pick: item indices from the top menu down through submenus; empty means dismissing the menu.
using Choice = std::vector<int>;
// Queues the next answers. Each menu shown takes the first queued answer; with none queued the menu is dismissed.
void scriptChoice(Choice choice);
void scriptDismiss();
void clearScript();
int scriptedCount();
// Takes the first queued answer (empty when none is queued): for a chooser that leaves menus it does not show to
// the queue.
Choice takeScriptedChoice();
// A chooser that replaces the queue (null to go back to the queue).
void setChooser(std::function<Choice(const ShownMenu&)> chooser);
// How long the user keeps each menu open before picking (model seconds; 0, the default, picks at once). The menu
// call runs the calling thread's run loop in the event-tracking mode meanwhile, so timers of the common modes keep
// firing and windows keep being displayed while the menu is tracked, as on the platform.
void setTrackingTime(double seconds);
double trackingTime();
// Asks the chooser (after the tracking time); returns the path of an item that can be chosen (enabled, not a separator,
// not a submenu holder) or empty. Records the menu as the last shown.
Choice choose(const ShownMenu& menu);
// The menus shown since the last clear, oldest first.
std::vector<ShownMenu> shownMenus();
void clearShown();
// Text of a shown menu, one item a line, submenus indented, for transcripts.
std::string describe(const ShownMenu& menu);
}  // namespace menus

}  // namespace cocoa
