#include "src/AppDialogs.h"

#include <cstdlib>

namespace {

// The bank-name dialog's controls in dialog units, scaled by 1.8 when it is built.
const SHIM_DialogControlEntry kBankNameControls[] = {
    {"__SHIM_LABEL", -1, "Bank Name", 0, 10, 10, 200, 8, 0},
    {"__SHIM_EDIT", 0, "", kBankNameField, 10, 20, 200, 12, 0x10000},
    {"__SHIM_BUTTON", 0, "&Cancel", IDCANCEL, 160, 60, 50, 14, 0},
    {"__SHIM_BUTTON", 0, "&OK    ", kBankNameOK, 100, 60, 50, 14, 0},
};

void createBankNameDialog(HWND view, int flags) {
  SHIM_MakeSetCurParms(1.8f, 1.8f, 0, 0, view, false, !(flags & SHIM_DIALOG_NOAUTOSIZE));
  SHIM_GenerateDialogFromList(kBankNameControls,
                              static_cast<int>(sizeof(kBankNameControls) / sizeof(kBankNameControls[0])));
}

SHIM_DialogResourceIndex g_bankNameDialog{MAKEINTRESOURCE(kBankNameDialog),
                                          "Enter Bank Name",
                                          SHIM_DIALOG_FLIPPED | SHIM_DIALOG_NOAUTOSIZE,
                                          createBankNameDialog,
                                          396,
                                          144,
                                          nullptr};

struct Registration {
  Registration() { SHIM_RegisterDialogResource(&g_bankNameDialog); }
} g_registration;

}  // namespace

INT_PTR MessageBoxProg(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_INITDIALOG) {
    CenterWindow(hwnd);
    return 1;
  }
  if (msg == WM_COMMAND) {
    // The OK button has an id of its own, and Cancel or the close button must end the dialog too: a modal dialog
    // that only id 1 could end would leave the editor stuck behind it.
    const int id = LOWORD(wParam);
    if (id == IDOK || id == kBankNameOK) {
      EndDialog(hwnd, 1);
    } else if (id == IDCANCEL) {
      EndDialog(hwnd, 0);
    }
    return 1;
  }
  return 0;
}

INT_PTR showMessageBox(HWND parent, Vexmir* editor, int resource, void*) {
  return SHIM_DialogBox(SHIM_curmodule_dialogresource_head, MAKEINTRESOURCE(resource), parent, MessageBoxProg,
                        reinterpret_cast<LPARAM>(editor));
}

void centerDialog(HWND parent, HWND dialog) {
  RECT p, d;
  if (!parent || !dialog || !GetWindowRect(parent, &p) || !GetWindowRect(dialog, &d)) return;
  const int w = std::abs(d.right - d.left), h = std::abs(d.bottom - d.top);
  const int cx = (p.left + p.right) / 2, cy = (p.top + p.bottom) / 2;
  SetWindowPos(dialog, nullptr, cx - w / 2, cy - h / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
