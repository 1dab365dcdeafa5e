// The editor's own window-layer dialogs: the "Enter Bank Name" dialog, registered with the window layer when the
// plug-in loads, and the procedure and helpers that run such a dialog over the editor's window.
#pragma once

#include "KIT/shim/shim.h"

class Vexmir;

// The resource id of the "Enter Bank Name" dialog and the ids of its edit field and OK button.
constexpr int kBankNameDialog = 10014;
constexpr int kBankNameField = 10013;
constexpr int kBankNameOK = 10006;

// The dialog procedure of the editor's dialogs: centres the dialog when it opens; OK ends it with 1, Cancel (also
// what the close button sends) with 0.
INT_PTR MessageBoxProg(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Runs dialog `resource` of the editor's table modally over `parent` with MessageBoxProg, `editor` as the dialog's
// parameter; answers the code the dialog ended with (-1 for a resource the table does not hold).
INT_PTR showMessageBox(HWND parent, Vexmir* editor, int resource, void* reserved);

// Moves `dialog` so that its centre is the centre of `parent`; nothing when either is missing.
void centerDialog(HWND parent, HWND dialog);
