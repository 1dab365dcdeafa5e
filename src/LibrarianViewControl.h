// The slot view of the librarian tab: the 128 programs of the open (upper) bank above the 128 of the
// lower bank, each bank in 8 columns of 16 slots. Selects slots with the mouse and the arrow keys,
// auditions by double click or arrow key, opens the slot menus on a right click, and carries out
// Copy, Paste and Rename for them.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "src/CustomOverlayControl.h"

class LibrarianEditor;
class PatchLibrarian;

class LibrarianViewControl : public CustomOverlayControl {
 public:
  static constexpr int kSlots = 128;

  LibrarianViewControl(LibrarianEditor* editor, IEffectBase* plug, int x, int y, int paramIdx, IBitmap* bitmap,
                       IRECT targetArea, PatchLibrarian* librarian, double scale);
  ~LibrarianViewControl() override;

  void patchSelectionUpperChanged();
  void patchSelectionLowerChanged();
  // Any thread: programs of the open bank were stored off the user-interface thread (a program received from
  // the synthesizer). The upper column reads the bank again before it is next drawn or asked for.
  void openBankChanged();

  bool Draw(IGraphics* graphics) override;
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
  void OnMouseUp(int x, int y, IMouseMod* mod) override;
  void OnMouseDrag(int x, int y, int dX, int dY, IMouseMod* mod) override;
  void OnMouseDblClick(int x, int y, IMouseMod* mod) override;
  bool OnKeyDown(int x, int y, int key) override;

  // The slot menus' operations, with the position of the right click.
  void renameSlot(int x, int y);
  void CopySlotData(int x, int y);
  void PasteSlotData(int x, int y);

  // The rectangle of a slot (side 0 upper, 1 lower) at this view's scale.
  IRECT slotRect(int side, int slot) const;
  // Where the librarian's message line is drawn.
  IRECT noticeRect() const;
  // The slot under a point: *side 0 or 1 and the slot, or -1.
  int hitSlot(int x, int y, int* side) const;
  // Not const: a column marked by openBankChanged is read again first.
  const std::string& slotText(int side, int slot);

  // The librarian's last message to the user (a failure, a refused action, why a file is not listed),
  // drawn between the two banks until the next message replaces it. `tail` (what a click on it does) follows the
  // text and stays in view when the text must be cut. notice() is the whole of it. Any thread (a recall says what
  // it did from the host's).
  void setNotice(const std::string& text, const std::string& tail = std::string());
  std::string notice() const;
  // The notice as drawn: one line, or two of a smaller size when it is longer; the second line is cut with "..."
  // when even they are too short, and a click on it then shows the whole text.
  struct NoticeLines {
    std::vector<std::string> lines;
    bool small = false;
    bool cut = false;
  };
  // Lines of `chars` characters at the view's size and of `smallChars` at the smaller one.
  static NoticeLines fitNotice(const std::string& text, const std::string& tail, size_t chars, size_t smallChars);

  // The highlighted slot of a side, -1 for none: the librarian's selection, which the view only draws and moves.
  int selectedSlot(int side) const;
  // The side that holds the selection: the lower bank when a slot of it is selected, else the upper.
  int selectedSide() const;
  // Set by the first switch to the librarian tab; until then a drag does nothing.
  bool shown = false;
  // False from Rename until the rename is committed or closed (a click, a double click, an arrow key).
  bool renameClosed = true;
  // The upper slot the open rename was opened on, -1 when none is open.
  int renamingSlot() const { return renamingSlot_; }
  // The name the rename field last opened with, gave a program or was said to have renamed nothing: a name the
  // field hands over that differs from it was typed since.
  std::string renameName;
  // Closes an open rename: its field is hidden and its text no longer renames anything.
  void closeRename();

 private:
  void refreshColumn(int side);
  // Reads the open bank again where openBankChanged marked it.
  void refreshStale();
  void selectHit(int side, int slot);
  // Clears both selections and selects the slot under the point; the slot, or -1.
  int selectAt(int x, int y);

  LibrarianEditor* editor_;
  PatchLibrarian* librarian_;
  double scale_;
  IText slotStyle_;
  // The texts each slot shows, upper then lower; drawn by the view itself. User-interface thread only.
  std::string texts_[2][kSlots];
  mutable std::mutex noticeLock_;
  std::string notice_, noticeText_, noticeTail_;  // the whole notice, and its text and tail apart (noticeLock_)
  bool noticeCut_ = false;  // as last drawn
  int renamingSlot_ = -1;
  // Set by openBankChanged: texts_[0] no longer shows the open bank.
  std::atomic<bool> upperStale_{false};
};
