#include "src/LibrarianViewControl.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IEffectBase.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/kitstring.h"
#include "src/LibrarianEditor.h"
#include "src/LibrarianHost.h"
#include "src/PatchLibrarian.h"
#include "src/TextCell.h"
#include "src/VexmirParams.h"

namespace {

constexpr int kRows = 16;
constexpr int kKeyUp = 1, kKeyDown = 2, kKeyLeft = 3, kKeyRight = 4;

int slotWidth(double scale) {
  return scale == 1.0 ? 97 : static_cast<int>(98 * scale);
}

}  // namespace

LibrarianViewControl::LibrarianViewControl(LibrarianEditor* editor, IEffectBase* plug, int x, int y, int paramIdx,
                                           IBitmap* bitmap, IRECT targetArea, PatchLibrarian* librarian, double scale)
    : CustomOverlayControl(plug, x, y, paramIdx, bitmap, targetArea),
      editor_(editor),
      librarian_(librarian),
      scale_(scale) {
  const IColor white(255, 255, 255, 255);
  slotStyle_ = IText(static_cast<int>(13 * scale), &white, "NK57 Monospace", IText::kStyleNormal, IText::kAlignNear);
  slotStyle_.mVAlign = IText::kVAlignMiddle;
  patchSelectionUpperChanged();
  patchSelectionLowerChanged();
}

LibrarianViewControl::~LibrarianViewControl() = default;

IRECT LibrarianViewControl::slotRect(int side, int slot) const {
  if (slot < 0 || slot >= kSlots) return IRECT();
  const int h = static_cast<int>(16 * scale_);
  const int gap = static_cast<int>(30 * scale_);
  const int w = slotWidth(scale_);
  const int x = mRECT.L, y = mRECT.T;
  int top;
  if (side == 0)
    top = scale_ < 1.0 ? y + static_cast<int>(scale_) + 1 : scale_ == 1.0 ? y + 1 : static_cast<int>(y + scale_);
  else
    top = scale_ < 1.0    ? y + static_cast<int>(303 * scale_) + 2
          : scale_ == 1.0 ? y + 303
                          : y + static_cast<int>(303 * scale_) + 1;
  const int column = slot / kRows, row = slot % kRows;
  const int left = x + gap + column * (w + gap);
  return IRECT(left, top + row * h, left + w, top + row * h + h);
}

int LibrarianViewControl::hitSlot(int x, int y, int* side) const {
  for (int i = 0; i < kSlots; ++i)
    for (int s = 0; s < 2; ++s) {
      const IRECT r = slotRect(s, i);
      if (!r.Empty() && r.Contains(x, y)) {
        if (side) *side = s;
        return i;
      }
    }
  return -1;
}

const std::string& LibrarianViewControl::slotText(int side, int slot) {
  static const std::string none;
  refreshStale();
  return slot >= 0 && slot < kSlots && (side == 0 || side == 1) ? texts_[side][slot] : none;
}

void LibrarianViewControl::refreshColumn(int side) {
  SetDirty(false);
  // Cleared before the bank is read: a program stored after this marks the column again.
  if (side == 0) upperStale_ = false;
  const PatchFile* bank = editor_ ? editor_->bankOf(side) : nullptr;
  if (!bank) {
    // A list that has become empty (no banks, no search results) shows empty slots, not the last bank.
    const bool listEmpty = side == 0 ? librarian_->bankFiles.empty()
                                     : (editor_ && editor_->lowerListShowsSearch ? librarian_->searchFiles.empty()
                                                                                 : librarian_->bankFiles.empty());
    if (listEmpty)
      for (std::string& text : texts_[side]) text.clear();
    return;
  }
  std::unique_lock<std::mutex> lock = librarian_->lockBanks();
  for (int i = 0; i < kSlots; ++i)
    texts_[side][i] = i < static_cast<int>(bank->patches.size()) ? bank->patches[i].name : std::string();
}

void LibrarianViewControl::setNotice(const std::string& text, const std::string& tail) {
  {
    std::lock_guard<std::mutex> lock(noticeLock_);
    notice_ = tail.empty() ? text : text + " " + tail;
    noticeText_ = text;
    noticeTail_ = tail;
  }
  SetDirty(false);
}

std::string LibrarianViewControl::notice() const {
  std::lock_guard<std::mutex> lock(noticeLock_);
  return notice_;
}

namespace {

// Words onto lines of at most `chars` characters; a word longer than a line is broken.
std::vector<std::string> wrapped(const std::string& text, size_t chars) {
  std::vector<std::string> lines(1);
  size_t from = 0;
  while (from <= text.size()) {
    size_t space = text.find(' ', from);
    if (space == std::string::npos) space = text.size();
    std::string word = text.substr(from, space - from);
    from = space + 1;
    while (!word.empty()) {
      const size_t room = lines.back().empty() ? chars : chars - std::min(chars, KIT_UTF8Count(lines.back()) + 1);
      if (KIT_UTF8Count(word) <= room) {
        lines.back() += (lines.back().empty() ? "" : " ") + word;
        word.clear();
      } else if (lines.back().empty()) {
        const std::string head = KIT_UTF8HeadChars(word, chars);
        lines.back() = head;
        word.erase(0, head.size());
        lines.emplace_back();
      } else {
        lines.emplace_back();
      }
    }
  }
  if (lines.size() > 1 && lines.back().empty()) lines.pop_back();
  return lines;
}

}  // namespace

LibrarianViewControl::NoticeLines LibrarianViewControl::fitNotice(const std::string& text, const std::string& tail,
                                                                  size_t chars, size_t smallChars) {
  NoticeLines fit;
  const std::string whole = tail.empty() ? text : text + " " + tail;
  if (KIT_UTF8Count(whole) <= chars) {
    fit.lines = {whole};
    return fit;
  }
  fit.small = true;
  fit.lines = wrapped(whole, smallChars);
  if (fit.lines.size() <= 2) return fit;
  // The first line as wrapped; the second keeps the tail (or says where the rest is) after what fits of the text.
  fit.cut = true;
  const std::string end = "... " + (tail.empty() ? std::string("(click here for the whole text)") : tail);
  // Where the first line ends in the text: its words stand one space apart there, in the text perhaps more.
  size_t firstEnd = 0;
  for (char c : fit.lines[0]) {
    if (c == ' ') continue;
    while (firstEnd < text.size() && text[firstEnd] == ' ') ++firstEnd;
    if (firstEnd < text.size()) ++firstEnd;
  }
  std::string rest = text.substr(firstEnd);
  while (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  const size_t room = smallChars > KIT_UTF8Count(end) ? smallChars - KIT_UTF8Count(end) : 0;
  fit.lines = {fit.lines[0], KIT_UTF8HeadChars(rest, room) + end};
  return fit;
}

void LibrarianViewControl::refreshStale() {
  if (!upperStale_.load()) return;
  refreshColumn(0);
  // The lower list may show the open bank too.
  if (editor_ && editor_->bankOf(1) == editor_->bankOf(0)) refreshColumn(1);
}

void LibrarianViewControl::openBankChanged() {
  upperStale_ = true;
  SetDirty(false);
}

void LibrarianViewControl::patchSelectionUpperChanged() {
  refreshColumn(0);
}

void LibrarianViewControl::patchSelectionLowerChanged() {
  refreshColumn(1);
}

// In the gap between the two banks, over the width of the slot columns, above the lower bank's list: one line of a
// slot's height, or two of three quarters of it.
IRECT LibrarianViewControl::noticeRect() const {
  const IRECT first = slotRect(0, 15), last = slotRect(1, kSlots - 1);
  const int top = first.B + static_cast<int>(2 * scale_);
  return IRECT(first.L, top, last.R, top + first.H() * 3 / 2);
}

bool LibrarianViewControl::Draw(IGraphics* graphics) {
  refreshStale();
  CustomOverlayControl::Draw(graphics);
  const IColor highlight(255, 225, 225, 225);
  const int selected[2] = {selectedSlot(0), selectedSlot(1)};
  for (int side = 0; side < 2; ++side) {
    if (selected[side] >= 0 && selected[side] < kSlots) {
      IRECT r = slotRect(side, selected[side]);
      graphics->FillIRect(&highlight, &r);
    }
    for (int i = 0; i < kSlots; ++i) {
      if (texts_[side][i].empty()) continue;
      // A little room at the left, so that a name never touches the slot number drawn beside the slot.
      IRECT r = slotRect(side, i);
      r.L += static_cast<int>(3 * scale_);
      IText text = slotStyle_;
      if (i == selected[side]) text.mColor = IColor(255, 0, 0, 0);
      graphics->DrawIText(&text, texts_[side][i].c_str(), &r);
    }
  }
  std::string noticeText, noticeTail;
  {
    std::lock_guard<std::mutex> lock(noticeLock_);
    noticeText = noticeText_;
    noticeTail = noticeTail_;
  }
  noticeCut_ = false;
  if (!noticeText.empty()) {
    const IRECT area = noticeRect();
    IText text = slotStyle_;
    text.mColor = IColor(255, 255, 196, 92);
    IText small = text;
    small.mSize = std::max(7, text.mSize * 6 / 7);
    auto charsIn = [&](IText* style) { return static_cast<size_t>(area.W() / textCellWidth(graphics, style)); };
    const NoticeLines fit = fitNotice(noticeText, noticeTail, charsIn(&text), charsIn(&small));
    noticeCut_ = fit.cut;
    // One line stands a little lower, in the middle of the gap; two stand below the line that parts the banks.
    const bool two = fit.lines.size() > 1;
    const int top = area.T + (two ? static_cast<int>(std::ceil(4 * scale_))
                                  : static_cast<int>(4 * scale_) - static_cast<int>(2 * scale_));
    const int h = two ? (area.B + 1 - top) / 2 : slotRect(0, 15).H();
    for (size_t i = 0; i < fit.lines.size(); ++i) {
      IRECT r(area.L, top + static_cast<int>(i) * h, area.R, top + static_cast<int>(i + 1) * h);
      graphics->DrawIText(fit.small ? &small : &text, fit.lines[i].c_str(), &r);
    }
  }
  return true;
}

int LibrarianViewControl::selectedSlot(int side) const {
  return librarian_->selectedSlot(side);
}

int LibrarianViewControl::selectedSide() const {
  return selectedSlot(1) >= 0 ? 1 : 0;
}

void LibrarianViewControl::selectHit(int side, int slot) {
  ControlLayer* save = editor_ && editor_->host() ? editor_->host()->librarianLayer("saveChangesLayer") : nullptr;
  librarian_->selectSlot(side == 0 ? 0 : 1, slot);
  if (save) save->GrayOut(side != 0);
}

int LibrarianViewControl::selectAt(int x, int y) {
  SetDirty(false);
  if (editor_ && editor_->host()) editor_->host()->endRefusal();
  int side = 0;
  const int slot = hitSlot(x, y, &side);
  if (slot >= 0) {
    selectHit(side, slot);
  } else {
    librarian_->selectSlot(0, -1);
    librarian_->selectSlot(1, -1);
  }
  return slot;
}

void LibrarianViewControl::OnMouseDown(int x, int y, IMouseMod* mod) {
  if (!mod) return;
  if (mod->R) {
    selectAt(x, y);
    if (!editor_) return;
    if (selectedSlot(0) >= 0)
      editor_->showFileEditMenu(x, y);
    else
      editor_->showFileCopyMenu(x, y);
    return;
  }
  if (!mod->L) return;
  // A click on a message cut short shows it whole; on a message that names several files, the next one.
  std::string whole;
  bool noticeShown = false;
  {
    std::lock_guard<std::mutex> lock(noticeLock_);
    noticeShown = !notice_.empty();
    whole = noticeText_;
  }
  if (editor_ && noticeRect().Contains(x, y) && noticeShown) {
    if (noticeCut_)
      if (IGraphics* g = editor_->graphics()) g->ShowMessageBox(whole.c_str(), "Librarian", 0);
    if (editor_->showNextScanNote() || noticeCut_) return;
  }
  closeRename();
  selectAt(x, y);
}

void LibrarianViewControl::OnMouseUp(int, int, IMouseMod*) {
  SetDirty(false);
}

void LibrarianViewControl::OnMouseDrag(int, int, int, int, IMouseMod*) {
  if (shown) SetDirty(false);
}

void LibrarianViewControl::closeRename() {
  renameClosed = true;
  renamingSlot_ = -1;
  if (editor_ && editor_->host())
    if (ControlLayer* rename = editor_->host()->librarianLayer("patchRename")) rename->Hide(true);
}

void LibrarianViewControl::OnMouseDblClick(int x, int y, IMouseMod*) {
  closeRename();
  SetDirty(false);
  if (!editor_ || !editor_->host() || !editor_->host()->midiOutputChosen()) return;
  const int slot = selectAt(x, y);
  if (slot < 0) return;
  editor_->auditionSlot(selectedSide(), slot);
}

bool LibrarianViewControl::OnKeyDown(int, int, int key) {
  // Only the keys that move the selection close a rename: a key the rename's field passes on (Control-S for the
  // host) leaves the name being typed alone.
  if (key < kKeyUp || key > kKeyRight) return false;
  closeRename();
  // From the one selection, whatever moved it last (a click, a paste, a program change, a job, a recall).
  const int side = selectedSide();
  int c = selectedSlot(side);
  switch (key) {
    case kKeyUp:
      c = c <= 0 ? 127 : c - 1;
      break;
    case kKeyDown:
      c = c > 126 ? 0 : c + 1;
      break;
    case kKeyLeft:
      c = c >= 16 ? c - 16 : c + 112;
      break;
    case kKeyRight:
      c = c + 16 <= 127 ? c + 16 : c - 112;
      break;
    default:
      return false;
  }
  // From "no slot" (-1) the left arrow would land beyond the bank: keep to the bank.
  if (c < 0 || c >= kSlots) c = 0;
  librarian_->selectSlot(side, c);
  SetDirty(false);
  if (editor_) editor_->auditionSlot(side, c);
  return true;
}

void LibrarianViewControl::renameSlot(int, int) {
  renameClosed = false;
  const int slot = selectedSlot(0);
  renamingSlot_ = slot;
  if (slot < 0 || !editor_) return;
  PatchFile* bank = editor_->bankOf(0);
  if (!bank) return;
  std::string name;
  {
    std::unique_lock<std::mutex> lock = librarian_->lockBanks();
    // Slots of a listed bank always hold a program: a short bank is padded with the initial program,
    // so a rename never creates a slot without data that a save would have to write.
    PatchLibrarian::fillUncompletedBankFiles(bank);
    if (bank->patches.size() > static_cast<size_t>(kSlots)) bank->patches.resize(kSlots);
    const LibrarianPatch& program = bank->patches[slot];
    if (program.messages.empty()) return;
    name = program.name;
  }
  if (IParam* param = GetPlug() ? GetPlug()->GetParam(kPatchRename) : nullptr) param->SetDisplayText(0, name.c_str());
  renameName = name;
  ControlLayer* layer = editor_->host() ? editor_->host()->librarianLayer("patchRename") : nullptr;
  if (!layer) return;
  layer->Hide(false);
  // The new name is typed at once, over the old one, as in the top bar's name field.
  if (IControl* field = layer->getControlFromParam(kPatchRename)) field->PromptUserInput();
}

// Copy and Paste act on the slot of their own list under the click, which becomes the selected slot.
void LibrarianViewControl::CopySlotData(int x, int y) {
  int side = 0;
  const int slot = hitSlot(x, y, &side);
  librarian_->selectSlot(1, side == 1 ? slot : -1);
  if (editor_) editor_->copyProgram(selectedSlot(1));
}

void LibrarianViewControl::PasteSlotData(int x, int y) {
  SetDirty(false);
  int side = 0;
  const int slot = hitSlot(x, y, &side);
  librarian_->selectSlot(0, side == 0 ? slot : -1);
  if (editor_) editor_->pasteProgram(selectedSlot(0));
}
