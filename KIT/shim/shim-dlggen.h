// The dialog builder: control records in dialog units become platform controls inside an owner view.
#pragma once

#include "KIT/shim/shim-types.h"

namespace cocoa {
struct Rect;
class View;
}

// One record of a dialog table: nine words, pointer-sized. Word 0 is a builder kind or a control's text; word 2 the
// text of a builder kind or the class name of a class record (see SHIM_GenerateDialogFromList).
struct SHIM_DialogControlEntry {
  const char* p0;
  INT_PTR p1;
  const char* p2;
  INT_PTR p3, p4, p5, p6, p7, p8;
};

#define ES_CENTER 0x1
#define ES_RIGHT 0x2
#define ES_PASSWORD 0x20
#define ES_READONLY 0x800
#define SS_CENTER 1
#define SS_RIGHT 2
#define SS_BLACKRECT 4
#define SS_LEFTNOWORDWRAP 0xC
#define SS_NOTIFY 0x100
#define CBS_DROPDOWNLIST 3
#define CBS_SORT 0x100
#define LVS_REPORT 0x1
#define LVS_SINGLESEL 0x4
#define LVS_NOCOLUMNHEADER 0x4000
#define LBS_OWNERDRAWFIXED 0x10
#define LBS_EXTENDEDSEL 0x800

typedef HWND (*SHIM_CustomControlCreator)(HWND owner, const char* text, int id, const char* classname, int style, int x,
                                          int y, int w, int h);

void SHIM_MakeSetCurParms(float xscale, float yscale, float xtrans, float ytrans, HWND parent, bool doauto,
                          bool dosizetofit);
HWND SHIM_MakeButton(int def, const char* text, int id, int x, int y, int w, int h, int style);
HWND SHIM_MakeEditField(int id, int x, int y, int w, int h, int style);
HWND SHIM_MakeLabel(int align, const char* text, int id, int x, int y, int w, int h, int style);
HWND SHIM_MakeCombo(int id, int x, int y, int w, int h, int style);
HWND SHIM_MakeGroupBox(const char* text, int id, int x, int y, int w, int h, int style);
HWND SHIM_MakeCheckBox(const char* text, int id, int x, int y, int w, int h, int style);
HWND SHIM_MakeListBox(int id, int x, int y, int w, int h, int style);
HWND SHIM_MakeControl(const char* text, int id, const char* classname, int style, int x, int y, int w, int h,
                      int exstyle);
void SHIM_GenerateDialogFromList(const void* records, int count);
void SHIM_RegisterCustomControlCreator(SHIM_CustomControlCreator creator);
void SHIM_UnregisterCustomControlCreator(SHIM_CustomControlCreator creator);

// The builder's transform of a record rectangle (x, y, width, height in owner-view units), for the controls'
// own builders. `wantauto` takes part in the automatic right shift; `unscaledHeight` keeps h as given.
void SHIM_Internal_MakeCoords(int x, int y, int w, int h, bool wantauto, bool unscaledHeight, double out[4]);
// The owner view of the builder state (null before any SHIM_MakeSetCurParms).
HWND SHIM_Internal_BuilderOwner();
// The font size the builder gives texts at its x scale: 8 below 1.0, 10 below 1.81, else 0 (the platform's default).
double SHIM_Internal_BuilderFontSize();
// After a control placed with the automatic shift has its final frame: the pending shift follows its right edge.
void SHIM_Internal_BuilderPlaced(cocoa::View* c);
// Builds the classes that the control family makes ("SysTabControl32", "SysListView32", "SysListView32_LB",
// "SysTreeView32", "msctls_progress32") and edit fields with scroll bars; null when it does not make the class.
typedef HWND (*SHIM_BuilderClassHook)(const char* text, int id, const char* classname, int style, int x, int y, int w,
                                      int h, int exstyle);
void SHIM_Internal_SetBuilderClassHook(SHIM_BuilderClassHook hook);
void* SHIM_Internal_SaveBuilderState();
void SHIM_Internal_RestoreBuilderState(void* saved);
