// Open and save panels as X11 windows: the current folder, its sub-folders and the files of the allowed types
// (sorted, hidden ones left out, ".." to go up), a name field in save panels, Cancel and Open/Save. A click selects,
// a double click opens a folder or chooses a file, the wheel scrolls; Up/Down move in the list, Enter presses the
// default button, Escape cancels, Backspace and Delete edit the name (Backspace in open panels goes up).
// A typed path reaches any folder, hidden ones too, as a go-to-folder entry does: in an open panel typing "/" or "~"
// begins one (Return goes there, Escape drops it); in a save panel the name may be one.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/x11/dialog.h"

namespace x11 {

namespace {

constexpr int kRow = 20, kMargin = 14, kButtonW = 92, kButtonH = 26;

using Entry = cocoa::PanelRow;

std::string lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

std::string join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

using cocoa::panels::isFolder;
using cocoa::panels::parentOf;

class FilePanel : public Dialog {
 public:
  FilePanel(Presenter::Impl& p, const cocoa::ShownPanel& shown)
      : Dialog(p),
        s_(shown) {
    for (std::string t : s_.types) {
      if (!t.empty() && t[0] == '.') t.erase(0, 1);
      if (!t.empty()) types_.push_back(lower(t));
    }
    if (!s_.open) {
      name_ = withExtension(s_.fileName);
      // The proposed name's stem is selected: what the user types replaces it.
      const size_t dot = name_.rfind('.');
      stem_ = dot == std::string::npos || dot == 0 ? name_.size() : dot;
      caret_ = stem_;
    }
    enter(cocoa::panels::startFolder(s_.directory), "");
  }

  cocoa::panels::Answer answer;

  void runIt() {
    const std::string title = !s_.title.empty() ? s_.title : s_.open ? "Open" : "Save";
    if (!run(std::string("Vexmir Editor ") + (s_.open ? "open panel: " : "save panel: ") + title, 620, 440))
      answer = {};
  }

 private:
  int listTop() const { return s_.open ? 62 : 98; }
  int listBottom() const { return height() - kButtonH - 24; }
  int visibleRows() const { return std::max(1, (listBottom() - listTop() - 2) / kRow); }
  int rowAt(int y) const {
    const int r = top_ + (y - listTop() - 1) / kRow;
    return y > listTop() && y < listBottom() && r < static_cast<int>(entries_.size()) ? r : -1;
  }
  bool hasType(const std::string& name) const { return cocoa::panels::offersFile(types_, name); }
  // A save panel that allows only its types adds the first one to a name that has none of them.
  std::string withExtension(const std::string& name) const {
    if (name.empty() || s_.allowsOtherTypes || types_.empty() || hasType(name)) return name;
    return name + "." + types_[0];
  }
  bool choosable(int i) const {
    if (i < 0 || i >= static_cast<int>(entries_.size())) return false;
    return entries_[i].folder ? s_.canChooseDirectories && entries_[i].name != ".." : s_.canChooseFiles;
  }

  // Goes where a typed path leads ("~" is the home folder, a path not from the root lies in the current folder, "."
  // and ".." name the folders they reach): a folder opens; a file's folder opens with its row selected and its name
  // given to a save panel; a path whose folder does not exist opens the nearest folder above it that does. True when
  // a file's own folder opened.
  bool goTo(const std::string& typed) {
    const bool home = typed == "~" || typed.compare(0, 2, "~/") == 0;
    const std::string full = cocoa::panels::resolvedPath(typed[0] == '/' ? typed
                                                         : home ? cocoa::panels::startFolder("~") + typed.substr(1)
                                                                : join(folder_, typed));
    const std::string folder = cocoa::panels::startFolder(full);
    const bool isDir = isFolder(full);
    const std::string name = isDir ? "" : full.substr(full.find_last_of('/') + 1);
    enter(folder, name);
    if (!s_.open) {
      name_ = name;
      caret_ = name_.size();
      stem_ = 0;
    }
    return !isDir && !name.empty() && parentOf(full) == folder;
  }
  bool typingPath() const { return s_.open && !typed_.empty() && (typed_[0] == '/' || typed_[0] == '~'); }

  // Lists a folder; `from` (a sub-folder left by going up) is selected.
  void enter(const std::string& folder, const std::string& from) {
    folder_ = folder;
    top_ = 0;
    selected_ = -1;
    entries_ = cocoa::panels::listFolder(s_, folder_, &error_);
    marked_.assign(entries_.size(), false);
    for (size_t i = 0; i < entries_.size(); ++i)
      if (!from.empty() && entries_[i].name == from) select(static_cast<int>(i));
  }

  void select(int i) {
    if (entries_.empty()) return;
    selected_ = std::max(0, std::min(i, static_cast<int>(entries_.size()) - 1));
    if (!s_.allowsMultipleSelection) std::fill(marked_.begin(), marked_.end(), false);
    marked_[selected_] = true;
    if (selected_ < top_) top_ = selected_;
    if (selected_ >= top_ + visibleRows()) top_ = selected_ - visibleRows() + 1;
    const Entry& e = entries_[selected_];
    if (!s_.open && !e.folder) {
      name_ = e.name;
      caret_ = name_.size();
      stem_ = 0;
    }
  }
  void scroll(int rows) {
    top_ = std::max(0, std::min(top_ + rows, static_cast<int>(entries_.size()) - visibleRows()));
  }
  void goUp() {
    if (folder_ != "/") enter(parentOf(folder_), folder_.substr(folder_.find_last_of('/') + 1));
  }
  void open(int i) {
    if (entries_[i].name == "..")
      goUp();
    else
      enter(join(folder_, entries_[i].name), "");
  }

  // The default button: Save with the typed name, Open with the chosen files or folder.
  bool canAnswer() const {
    if (!s_.open) return !name_.empty();
    for (size_t i = 0; i < entries_.size(); ++i)
      if (marked_[i] && choosable(static_cast<int>(i))) return true;
    return s_.canChooseDirectories && selected_ < 0;
  }
  void answerDefault() {
    if (s_.open) {
      if (selected_ >= 0 && entries_[selected_].folder && !choosable(selected_)) return open(selected_);
      for (size_t i = 0; i < entries_.size(); ++i)
        if (marked_[i] && choosable(static_cast<int>(i))) answer.paths.push_back(join(folder_, entries_[i].name));
      if (answer.paths.empty() && s_.canChooseDirectories && selected_ < 0) answer.paths.push_back(folder_);
      if (answer.paths.empty()) return;
    } else {
      if (listActive_ && selected_ >= 0 && entries_[selected_].folder) return open(selected_);
      // A path, "~", "." or "..": the panel goes where it leads, so that what it hands back names the folder reached.
      const bool typedPath = name_.find('/') != std::string::npos || name_ == "~" || name_ == "." || name_ == "..";
      if (name_.empty() || (typedPath && !goTo(name_))) return;
      if (isFolder(join(folder_, name_))) {  // a folder's name goes into it
        const std::string folder = join(folder_, name_);
        name_.clear();
        caret_ = stem_ = 0;
        return enter(folder, "");
      }
      const std::string name = withExtension(name_);
      const std::string path = join(folder_, name);
      struct stat st;
      if (stat(path.c_str(), &st) == 0) {
        // The caller writes over the file: the user says so first.
        const int r = p_.runAlert({"\u201C" + name + "\u201D already exists. Do you want to replace it?",
                                   "A file with the same name already exists in \u201C" + folder_ +
                                       "\u201D. Replacing it will overwrite its current contents.",
                                   "Replace", "Cancel", "", 0, 0});
        // The key that answered the question, still down, is none of the panel's.
        holdKeysDown();
        if (r != cocoa::kAlertDefaultResponse) return redraw();
      }
      answer.paths.push_back(path);
    }
    answer.ok = true;
    finish();
  }

  // Deletes the selected stem of the name; false when none is selected.
  bool takeSelection() {
    if (stem_ == 0) return false;
    name_.erase(0, stem_);
    caret_ = stem_ = 0;
    return true;
  }
  // Where the character before byte `at` of the name begins.
  size_t characterBefore(size_t at) const {
    do --at;
    while (at > 0 && (static_cast<unsigned char>(name_[at]) & 0xC0) == 0x80);
    return at;
  }

  void newFolder() {
    std::string path = join(folder_, "untitled folder");
    for (int n = 2; n < 1000 && mkdir(path.c_str(), 0777) != 0; ++n) {
      if (errno != EEXIST) return;
      path = join(folder_, "untitled folder " + std::to_string(n));
    }
    enter(folder_, path.substr(path.find_last_of('/') + 1));
  }

  void draw(Canvas& c) override {
    const float w = static_cast<float>(width());
    const std::string title = !s_.title.empty() ? s_.title : s_.open ? "Open" : "Save";
    c.text(bold_, title, kMargin, 24, 0x1E1E1E, w - 2 * kMargin);
    if (typingPath())
      c.text(font_, "Go to the folder: " + typed_, kMargin, 48, 0x1E1E1E, w - 2 * kMargin, true);
    else
      c.text(font_, folder_, kMargin, 48, 0x505050, w - 2 * kMargin, true);
    if (!s_.open) {
      c.text(font_, "Save As:", kMargin, baselineIn(font_, 62, 24), 0x1E1E1E);
      const float fx = kMargin + 70, fw = w - fx - kMargin;
      c.fill(fx, 62, fw, 24, 0xFFFFFF);
      c.frame(fx, 62, fw, 24, listActive_ ? 0x9A9A9A : 0x3D6FC8);
      if (stem_ > 0) c.fill(fx + 4, 66, std::min(textWidth(font_, name_.substr(0, stem_)) + 2, fw - 8), 16, 0xB8CCF0);
      const float tw = c.text(font_, name_, fx + 5, baselineIn(font_, 62, 24), 0x1E1E1E, fw - 12, true);
      const float cx = tw < fw - 12 ? textWidth(font_, name_.substr(0, caret_)) : tw;
      if (!listActive_ && stem_ == 0) c.fill(fx + 6 + std::min(cx, fw - 12), 66, 1, 16, 0x1E1E1E);  // the caret
    }
    const float lt = static_cast<float>(listTop()), lh = static_cast<float>(listBottom() - listTop());
    c.fill(kMargin, lt, w - 2 * kMargin, lh, 0xFFFFFF);
    c.frame(kMargin, lt, w - 2 * kMargin, lh, 0xA8A8A8);
    const bool more = static_cast<int>(entries_.size()) > visibleRows();
    const float rowW = w - 2 * kMargin - 2 - (more ? 8 : 0);
    for (int r = 0; r < visibleRows() && top_ + r < static_cast<int>(entries_.size()); ++r) {
      const int i = top_ + r;
      const Entry& e = entries_[i];
      const float y = lt + 1 + static_cast<float>(r * kRow);
      const bool lit = marked_[i];
      if (lit) c.fill(kMargin + 1, y, rowW, kRow, listActive_ || s_.open ? 0x3D6FC8 : 0xB8C8E4);
      const bool dim = s_.open ? !e.folder && !choosable(i) : !e.folder;
      const int ink = lit ? 0xFFFFFF : dim ? 0x8C8C8C : 0x1E1E1E;
      if (e.folder) {  // a small folder
        c.fill(kMargin + 8, y + 5, 6, 2, lit ? 0xFFFFFF : 0xD9A441);
        c.fill(kMargin + 8, y + 7, 14, 9, lit ? 0xFFFFFF : 0xE8B850);
      } else {  // a sheet
        c.fill(kMargin + 10, y + 4, 10, 13, 0xFFFFFF);
        c.frame(kMargin + 10, y + 4, 10, 13, lit ? 0xFFFFFF : 0x9A9A9A);
      }
      c.text(font_, e.name, kMargin + 30, baselineIn(font_, y, kRow), ink, rowW - 34);
    }
    if (more) {  // where the rows shown are in the whole list
      const float track = lh - 4, n = static_cast<float>(entries_.size());
      c.fill(w - kMargin - 8, lt + 2 + track * static_cast<float>(top_) / n, 5,
             std::max(12.0f, track * static_cast<float>(visibleRows()) / n), 0xA8A8A8);
    }
    const bool none = entries_.size() == (folder_ == "/" ? 0u : 1u);
    const std::string empty = !error_.empty() ? error_ : none ? "Nothing to choose here" : "";
    if (!empty.empty())
      c.text(font_, empty, kMargin + 30, lt + 1 + static_cast<float>(std::min<int>(entries_.size(), 1)) * kRow + 14,
             !error_.empty() ? 0xB02020 : 0x8C8C8C, w - 2 * kMargin - 40);
    const float by = static_cast<float>(height() - kButtonH - 12);
    if (s_.canCreateDirectories) c.button(font_, "New Folder", kMargin, by, kButtonW + 12, kButtonH, false);
    c.button(font_, "Cancel", w - kMargin - 2 * kButtonW - 10, by, kButtonW, kButtonH, false);
    c.button(font_, s_.open ? "Open" : "Save", w - kMargin - kButtonW, by, kButtonW, kButtonH, true, canAnswer());
  }

  void press(int x, int y, int button, int clicks, uint16_t state) override {
    if (button == 4 || button == 5) {
      scroll(button == 4 ? -3 : 3);
      return redraw();
    }
    if (button != 1) return;
    const int by = height() - kButtonH - 12;
    if (y >= by && y < by + kButtonH) {
      if (x >= width() - kMargin - kButtonW && x < width() - kMargin) return answerDefault(), redraw();
      if (x >= width() - kMargin - 2 * kButtonW - 10 && x < width() - kMargin - kButtonW - 10) return finish();
      if (s_.canCreateDirectories && x >= kMargin && x < kMargin + kButtonW + 12) newFolder();
    } else if (!s_.open && y >= 62 && y < 86) {
      listActive_ = false;
    } else if (const int i = rowAt(y); i >= 0) {
      listActive_ = true;
      if (s_.allowsMultipleSelection && (state & 4) && clicks == 1) {  // Control toggles a row
        marked_[i] = !marked_[i];
        selected_ = i;
      } else {
        select(i);
        if (clicks >= 2) {
          if (entries_[i].folder)
            open(i);
          else
            answerDefault();
        }
      }
    }
    redraw();
  }

  void key(uint32_t sym, uint16_t state) override {
    const char32_t ch = typedCharacter(sym);
    if (typingPath() && (sym == kKeyReturn || sym == kKeyPadEnter || sym == kKeyBackSpace || sym == kKeyEscape)) {
      const std::string path = typed_;
      while (!typed_.empty() && (static_cast<unsigned char>(typed_.back()) & 0xC0) == 0x80) typed_.pop_back();
      typed_.pop_back();
      if (sym != kKeyBackSpace) typed_.clear();
      if (sym == kKeyReturn || sym == kKeyPadEnter) goTo(path);
      return redraw();
    }
    if (!ch && (sym < 0xffe1 || sym > 0xffee)) typed_.clear();  // modifier keys keep it
    if (sym == kKeyEscape) return finish();
    if (sym == kKeyReturn || sym == kKeyPadEnter) {
      answerDefault();
    } else if (sym == kKeyUp && (state & (4 | 8))) {  // Control or Alt with Up: the folder above
      goUp();
    } else if (sym == kKeyUp || sym == kKeyDown || sym == kKeyPageUp || sym == kKeyPageDown || sym == kKeyHome ||
               sym == kKeyEnd) {
      listActive_ = true;
      const int page = visibleRows() - 1;
      const int to = sym == kKeyHome     ? 0
                     : sym == kKeyEnd    ? static_cast<int>(entries_.size())
                     : sym == kKeyUp     ? std::max(0, selected_ - 1)
                     : sym == kKeyDown   ? selected_ + 1
                     : sym == kKeyPageUp ? selected_ - page
                                         : selected_ + page;
      select(to);
    } else if (sym == kKeyBackSpace) {
      if (s_.open) {
        goUp();
      } else if (!takeSelection() && caret_ > 0) {
        const size_t from = characterBefore(caret_);
        name_.erase(from, caret_ - from);
        caret_ = from;
      }
      listActive_ = false;
    } else if (sym == kKeyDelete && !s_.open) {  // the character after the caret
      if (!takeSelection() && caret_ < name_.size()) {
        size_t to = caret_ + 1;
        while (to < name_.size() && (static_cast<unsigned char>(name_[to]) & 0xC0) == 0x80) ++to;
        name_.erase(caret_, to - caret_);
      }
      listActive_ = false;
    } else if (!s_.open && (sym == kKeyLeft || sym == kKeyRight)) {
      stem_ = 0;
      listActive_ = false;
      if (sym == kKeyLeft && caret_ > 0) caret_ = characterBefore(caret_);
      if (sym == kKeyRight && caret_ < name_.size()) do
          ++caret_;
        while (caret_ < name_.size() && (static_cast<unsigned char>(name_[caret_]) & 0xC0) == 0x80);
    } else if (ch && !(state & 4)) {
      std::string utf8;
      if (ch < 0x80) {
        utf8 = static_cast<char>(ch);
      } else if (ch < 0x800) {
        utf8 = {static_cast<char>(0xC0 | (ch >> 6)), static_cast<char>(0x80 | (ch & 0x3F))};
      } else if (ch < 0x10000) {
        utf8 = {static_cast<char>(0xE0 | (ch >> 12)), static_cast<char>(0x80 | ((ch >> 6) & 0x3F)),
                static_cast<char>(0x80 | (ch & 0x3F))};
      } else {
        utf8 = {static_cast<char>(0xF0 | (ch >> 18)), static_cast<char>(0x80 | ((ch >> 12) & 0x3F)),
                static_cast<char>(0x80 | ((ch >> 6) & 0x3F)), static_cast<char>(0x80 | (ch & 0x3F))};
      }
      if (!s_.open) {
        takeSelection();
        name_.insert(caret_, utf8);
        caret_ += utf8.size();
        listActive_ = false;
      } else if (typingPath() || ch == U'/' || (ch == U'~' && typed_.empty())) {
        typed_ = (typingPath() ? typed_ : "") + utf8;
      } else {  // typing selects the first name that begins so; a character that fits none begins anew
        for (const std::string& prefix : {typed_ + lower(utf8), lower(utf8)}) {
          typed_ = prefix;
          for (size_t i = 0; i < entries_.size(); ++i)
            if (lower(entries_[i].name).compare(0, typed_.size(), typed_) == 0)
              return select(static_cast<int>(i)), redraw();
        }
      }
    } else {
      return;
    }
    redraw();
  }

  const cocoa::ShownPanel s_;
  std::vector<std::string> types_;  // lower case, without the dot
  std::string folder_, error_, name_, typed_;
  std::vector<Entry> entries_;
  std::vector<bool> marked_;  // the selected rows
  int top_ = 0, selected_ = -1;
  size_t caret_ = 0, stem_ = 0;  // in the name: the caret and the end of the selected stem (0 for none)
  bool listActive_ = false;      // the list, not the name field, was used last
};

}  // namespace

cocoa::panels::Answer Presenter::Impl::runPanel(const cocoa::ShownPanel& panel) {
  FilePanel p(*this, panel);
  p.runIt();
  return p.answer;
}

}  // namespace x11
