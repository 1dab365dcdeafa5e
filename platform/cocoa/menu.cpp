#include "platform/cocoa/menu.h"

#include <algorithm>
#include <mutex>

#include "platform/cocoa/runloop.h"

namespace cocoa {

namespace {

std::mutex g_mutex;
double g_trackingTime = 0;  // under g_mutex
std::deque<menus::Choice>& script() {
  static auto* q = new std::deque<menus::Choice>;
  return *q;
}
std::vector<ShownMenu>& shown() {
  static auto* s = new std::vector<ShownMenu>;
  return *s;
}
std::function<menus::Choice(const ShownMenu&)>& chooser() {
  static auto* c = new std::function<menus::Choice(const ShownMenu&)>;
  return *c;
}

ShownMenuItem describeItem(MenuItem* item) {
  ShownMenuItem s;
  s.title = item->title();
  s.separator = item->isSeparator();
  s.enabled = item->enabled;
  s.checked = item->state == 1;
  s.header = item->indentationLevel > 0;
  if (Menu* sub = item->submenu()) {
    s.hasSubmenu = true;
    for (int i = 0; i < sub->numberOfItems(); ++i) s.submenu.push_back(describeItem(sub->itemAt(i)));
  }
  return s;
}

void describeInto(const std::vector<ShownMenuItem>& items, int depth, std::string* out) {
  for (size_t i = 0; i < items.size(); ++i) {
    const ShownMenuItem& it = items[i];
    out->append(static_cast<size_t>(depth) * 2, ' ');
    if (it.separator) {
      *out += "----\n";
      continue;
    }
    *out += "\"" + it.title + "\"";
    if (!it.enabled) *out += " disabled";
    if (it.checked) *out += " checked";
    if (it.header) *out += " title";
    if (it.hasSubmenu) *out += " >";
    *out += "\n";
    if (it.hasSubmenu) describeInto(it.submenu, depth + 1, out);
  }
}

}  // namespace

MenuItem* MenuItem::separator() {
  MenuItem* m = new MenuItem("", false);
  m->separator_ = true;
  return m;
}

MenuItem::~MenuItem() {
  if (submenu_) {
    submenu_->supermenu_ = nullptr;
    submenu_->release();
  }
  releaseObject(represented_);
  releaseObject(image_);
}

void MenuItem::setRepresentedObject(Object* object) {
  if (object) object->retain();
  releaseObject(represented_);
  represented_ = object;
}

void MenuItem::setImage(Object* image) {
  if (image) image->retain();
  releaseObject(image_);
  image_ = image;
}

void MenuItem::setSubmenu(Menu* submenu) {
  if (submenu) submenu->retain();
  if (submenu_) {
    submenu_->supermenu_ = nullptr;
    submenu_->release();
  }
  submenu_ = submenu;
  if (submenu_) submenu_->supermenu_ = menu_;
}

Menu::~Menu() {
  for (MenuItem* i : items_) {
    i->menu_ = nullptr;
    i->release();
  }
}

void Menu::addItem(MenuItem* item) {
  if (!item) return;
  item->retain();
  item->menu_ = this;
  if (item->submenu_) item->submenu_->supermenu_ = this;
  items_.push_back(item);
}

void Menu::insertItem(MenuItem* item, int index) {
  if (!item) return;
  if (index < 0 || index >= numberOfItems()) {
    addItem(item);
    return;
  }
  item->retain();
  item->menu_ = this;
  if (item->submenu_) item->submenu_->supermenu_ = this;
  items_.insert(items_.begin() + index, item);
}

void Menu::removeItemAt(int index) {
  if (index < 0 || index >= numberOfItems()) return;
  MenuItem* item = items_[index];
  items_.erase(items_.begin() + index);
  item->menu_ = nullptr;
  item->release();
}

Menu* Menu::copy() const {
  Menu* m = new Menu(title_);
  m->autoenablesItems = autoenablesItems;
  m->delegate = delegate;
  for (MenuItem* i : items_) {
    MenuItem* c = i->separator_ ? MenuItem::separator() : new MenuItem(i->title_, i->hasAction_);
    c->enabled = i->enabled;
    c->state = i->state;
    c->indentationLevel = i->indentationLevel;
    c->tag = i->tag;
    c->keyEquivalent = i->keyEquivalent;
    c->keyEquivalentModifierMask = i->keyEquivalentModifierMask;
    c->action = i->action;
    c->target = i->target;
    c->setRepresentedObject(i->represented_);
    c->setImage(i->image_);
    if (i->submenu_) {
      Menu* sub = i->submenu_->copy();
      c->setSubmenu(sub);
      sub->release();
    }
    m->addItem(c);
    c->release();
  }
  return m;
}

void Menu::notifyNeedsUpdate() {
  retain();
  if (delegate) delegate->menuNeedsUpdate(this);
  for (size_t i = 0; i < items_.size(); ++i) {
    if (Menu* sub = items_[i]->submenu_) sub->notifyNeedsUpdate();
  }
  release();
}

MenuItem* Menu::itemAt(int index) const {
  return index >= 0 && index < numberOfItems() ? items_[index] : nullptr;
}

int Menu::indexOfItem(MenuItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

MenuItem* Menu::popUpContextMenu(Menu* menu, Event* event, View* view) {
  if (!menu) return nullptr;
  menu->notifyNeedsUpdate();
  ShownMenu s;
  for (int i = 0; i < menu->numberOfItems(); ++i) s.items.push_back(describeItem(menu->itemAt(i)));
  if (event) {
    s.x = event->locationInWindow.x;
    s.y = event->locationInWindow.y;
  }
  const menus::Choice path = menus::choose(s);
  if (path.empty()) return nullptr;
  Menu* m = menu;
  MenuItem* item = nullptr;
  for (size_t depth = 0; depth < path.size(); ++depth) {
    item = m->itemAt(path[depth]);
    if (!item) return nullptr;
    if (depth + 1 < path.size()) m = item->submenu();
    if (!m) return nullptr;
  }
  if (!item || !item->hasAction() || (!menu->autoenablesItems && !item->enabled)) return nullptr;
  if (item->target && !item->action.empty()) {
    if (auto* t = item->target->as<ActionTarget>()) {
      item->retain();
      t->performAction(item->action, item);
      item->release();
      return item;
    }
  }
  for (View* v = view; v; v = v->superview()) {
    if (auto* r = dynamic_cast<MenuActionReceiver*>(v)) {
      r->menuItemChosen(item);
      break;
    }
  }
  return item;
}

namespace application {
namespace {
Menu* g_mainMenu = nullptr;
}
Menu* mainMenu() {
  return g_mainMenu;
}
void setMainMenu(Menu* menu) {
  if (menu) menu->retain();
  releaseObject(g_mainMenu);
  g_mainMenu = menu;
}
}  // namespace application

namespace menus {

void scriptChoice(Choice choice) {
  std::lock_guard<std::mutex> lock(g_mutex);
  script().push_back(std::move(choice));
}

void scriptDismiss() {
  scriptChoice(Choice{});
}

void clearScript() {
  std::lock_guard<std::mutex> lock(g_mutex);
  script().clear();
}

int scriptedCount() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return static_cast<int>(script().size());
}

Choice takeScriptedChoice() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (script().empty()) return Choice{};
  Choice c = std::move(script().front());
  script().pop_front();
  return c;
}

void setChooser(std::function<Choice(const ShownMenu&)> c) {
  std::lock_guard<std::mutex> lock(g_mutex);
  chooser() = std::move(c);
}

void setTrackingTime(double seconds) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_trackingTime = seconds > 0 ? seconds : 0;
}

double trackingTime() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_trackingTime;
}

Choice choose(const ShownMenu& menu) {
  Choice picked;
  std::function<Choice(const ShownMenu&)> c;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    shown().push_back(menu);
  }
  // The menu is open while the user looks at it: the run loop goes on in the tracking mode until the pick.
  if (const double open = trackingTime(); open > 0)
    RunLoop::current()->runUntilDate(clockNow() + open, kEventTrackingRunLoopMode);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    c = chooser();
    if (!c && !script().empty()) {
      picked = script().front();
      script().pop_front();
    }
  }
  if (c) picked = c(menu);
  // Only an item a person could click counts: the path must lead through submenus to an enabled plain item.
  const std::vector<ShownMenuItem>* items = &menu.items;
  for (size_t depth = 0; depth < picked.size(); ++depth) {
    const int i = picked[depth];
    if (i < 0 || i >= static_cast<int>(items->size())) return Choice{};
    const ShownMenuItem& it = (*items)[i];
    if (depth + 1 < picked.size()) {
      if (!it.hasSubmenu) return Choice{};
      items = &it.submenu;
    } else if (it.separator || !it.enabled || it.hasSubmenu) {
      return Choice{};
    }
  }
  return picked;
}

std::vector<ShownMenu> shownMenus() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return shown();
}

void clearShown() {
  std::lock_guard<std::mutex> lock(g_mutex);
  shown().clear();
}

std::string describe(const ShownMenu& menu) {
  std::string out;
  describeInto(menu.items, 0, &out);
  return out;
}

}  // namespace menus

}  // namespace cocoa
