// The dialog builder: the builder state, the coordinate transform with the automatic right shift, the creators of
// each control kind, the dialog tables and the custom control creators.
#include "KIT/shim/shim-dlggen.h"

#include <strings.h>

#include <cmath>
#include <cstring>
#include <string>

#include "KIT/shim/shim-ctl.h"
#include "KIT/shim/shim-ctlclasses.h"
#include "KIT/shim/shim-hwnd.h"

namespace {

struct BuilderState {
  float transform[4] = {0, 0, 0, 0};  // x offset, y offset, x scale, y scale
  float parentH = 0;
  HWND owner = nullptr;
  bool doautoright = false;
  bool sizetofits = false;
  float lastdoauto[3] = {0, -100, 0};  // planned right edge, centre, pending shift
  bool set = false;                    // SHIM_MakeSetCurParms has run
};
BuilderState g_state;

struct CreatorNode {
  SHIM_CustomControlCreator proc;
  int count;
};
std::vector<CreatorNode>& creators() {
  static auto* v = new std::vector<CreatorNode>;
  return *v;
}
SHIM_BuilderClassHook g_classHook = SHIM_Internal_MakeFamilyControl;

// The rounding of the builder: a single-precision product, 0.5 added in double precision, truncated.
int roundF(float v) {
  return SHIM_RoundPoint(static_cast<double>(v));
}

cocoa::View* ownerView() {
  return g_state.owner ? g_state.owner->as<cocoa::View>() : nullptr;
}

// Controls are made only into an owner view, which keeps their only reference: without one a new control would be
// gone before its handle was returned.
bool ready() {
  return g_state.set && ownerView();
}

std::string withoutMnemonics(const char* text) {
  if (!text) return std::string();
  const size_t n = std::strlen(text);
  const char* amp = static_cast<const char*>(std::memchr(text, '&', std::min<size_t>(n, 1024)));
  if (n >= 1024 || !amp || amp[1] == 0) return text;
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    if (text[i] == '&') {
      ++i;
      if (i >= n) break;
    }
    out += text[i];
  }
  return out;
}

void applyFont(cocoa::Control* c) {
  if (const double size = SHIM_Internal_BuilderFontSize()) c->fontSize = size;
}

// Adds the control to the owner (which keeps the only reference) and applies the hidden style.
HWND finish(cocoa::View* c, int style) {
  if (style < 0) c->setHidden(true);
  ownerView()->addSubview(c);
  c->release();
  return c;
}

void updatePendingShift(cocoa::View* c) {
  const cocoa::Rect f = c->frame();
  g_state.lastdoauto[2] = static_cast<float>(f.x + f.w) - g_state.lastdoauto[0];
}

cocoa::Rect coords(int x, int y, int w, int h, bool wantauto, bool unscaledHeight) {
  double r[4];
  SHIM_Internal_MakeCoords(x, y, w, h, wantauto, unscaledHeight, r);
  return cocoa::Rect{r[0], r[1], r[2], r[3]};
}

void setTarget(cocoa::Control* c) {
  c->target = g_state.owner;
  c->action = "onShimCommand:";
}

}  // namespace

HWND SHIM_Internal_BuilderOwner() {
  return g_state.owner;
}

double SHIM_Internal_BuilderFontSize() {
  const float xs = g_state.transform[2];
  return xs < 1.0f ? 8 : xs < 1.81f ? 10 : 0;
}

void SHIM_Internal_BuilderPlaced(cocoa::View* c) {
  updatePendingShift(c);
}

void SHIM_Internal_SetBuilderClassHook(SHIM_BuilderClassHook hook) {
  g_classHook = hook;
}

void SHIM_MakeSetCurParms(float xscale, float yscale, float xtrans, float ytrans, HWND parent, bool doauto,
                          bool dosizetofit) {
  g_state.sizetofits = dosizetofit;
  g_state.doautoright = doauto;
  g_state.lastdoauto[0] = 0;
  g_state.lastdoauto[1] = -100;
  g_state.lastdoauto[2] = 0;
  g_state.transform[0] = xtrans;
  g_state.transform[1] = ytrans;
  g_state.transform[2] = xscale;
  g_state.transform[3] = yscale;
  g_state.owner = parent;
  if (parent) {
    if (auto* w = parent->as<cocoa::Window>()) g_state.owner = w->contentView();
  }
  g_state.parentH = 100;
  if (cocoa::View* o = ownerView()) {
    g_state.parentH = static_cast<float>(o->bounds().h);
    if (g_state.transform[3] > 0 && o->isFlipped()) g_state.transform[3] = -g_state.transform[3];
  }
  g_state.set = true;
}

void SHIM_Internal_MakeCoords(int x, int y, int w, int h, bool wantauto, bool unscaledHeight, double out[4]) {
  if (w < 0 && h < 0) {
    out[0] = -x;
    out[1] = -y;
    out[2] = -w;
    out[3] = -h;
    return;
  }
  const float xs = g_state.transform[2], ys = g_state.transform[3];
  const float xo = g_state.transform[0], yo = g_state.transform[1];
  const float ys2 = unscaledHeight ? 1.0f : ys;
  int xp = roundF((static_cast<float>(x) + xo) * xs);
  const int wp = roundF(static_cast<float>(w) * xs);
  const int hp = roundF(std::fabs(ys2) * static_cast<float>(h));
  int yp;
  if (ys < 0) {
    yp = roundF(-(static_cast<float>(y) + yo) * ys);
  } else {
    // Unflipped owners: the control's lower edge measured up from the bottom of the owner.
    yp = roundF(g_state.parentH - (static_cast<float>(y) + yo) * ys - static_cast<float>(h) * ys2);
  }
  if (g_state.doautoright && wantauto) {
    const int unshifted = xp;
    if (std::fabs(static_cast<float>(xp) - g_state.lastdoauto[0]) < 32 && g_state.lastdoauto[1] >= yp &&
        g_state.lastdoauto[1] < yp + hp) {
      xp = platform::intCoord(xp + std::trunc(g_state.lastdoauto[2]));
    }
    g_state.lastdoauto[0] = static_cast<float>(unshifted + wp);
    g_state.lastdoauto[1] = static_cast<float>(yp) + static_cast<float>(hp) / 2;
    g_state.lastdoauto[2] = 0;
  }
  out[0] = xp;
  out[1] = yp;
  out[2] = wp;
  out[3] = hp;
}

HWND SHIM_MakeButton(int def, const char* text, int id, int x, int y, int w, int h, int style) {
  if (!ready()) return nullptr;
  auto* b = new Shim_vVexmir_button(coords(x, y, w, h, true, false));
  applyFont(b);
  b->setTag(id);
  b->bezelStyle = 6;
  b->setTitle(reinterpret_cast<uintptr_t>(text) < 0x10000 ? std::string("ICONTEMP") : withoutMnemonics(text));
  setTarget(b);
  b->isDefaultButton = def != 0;
  HWND out = finish(b, style);
  updatePendingShift(b);
  return out;
}

HWND SHIM_MakeEditField(int id, int x, int y, int w, int h, int style) {
  if (!ready()) return nullptr;
  if (style & (WS_HSCROLL | WS_VSCROLL)) {
    return g_classHook ? g_classHook("", id, "Edit", style, x, y, w, h, 0) : nullptr;
  }
  auto* f = new Shim_vVexmir_textfield(coords(x, y, w, h, true, false));
  f->secure = (style & ES_PASSWORD) != 0;
  f->editable = !(style & ES_READONLY);
  f->selectable = true;
  applyFont(f);
  f->alignment = (style & ES_CENTER)  ? cocoa::kTextAlignmentCenter
                 : (style & ES_RIGHT) ? cocoa::kTextAlignmentRight
                                      : cocoa::kTextAlignmentLeft;
  f->wraps = std::abs(h) >= 20;
  f->setTag(id);
  setTarget(f);
  if (g_state.owner) f->setDelegate(g_state.owner->as<cocoa::TextFieldDelegate>());
  HWND out = finish(f, style);
  updatePendingShift(f);
  return out;
}

namespace {
Shim_vVexmir_textfield* makeStatic(const char* text, int id, cocoa::Rect frame) {
  auto* f = new Shim_vVexmir_textfield(frame);
  f->editable = false;
  f->selectable = false;
  f->bordered = false;
  f->bezeled = false;
  f->drawsBackground = false;
  applyFont(f);
  f->setStringValue(withoutMnemonics(text));
  f->setTag(id);
  return f;
}
}  // namespace

HWND SHIM_MakeLabel(int align, const char* text, int id, int x, int y, int w, int h, int style) {
  if (!ready()) return nullptr;
  auto* f = makeStatic(text, id, coords(x, y, w, h, true, false));
  if (style & SS_NOTIFY) setTarget(f);
  f->alignment = align < 0    ? cocoa::kTextAlignmentLeft
                 : align == 0 ? cocoa::kTextAlignmentCenter
                              : cocoa::kTextAlignmentRight;
  f->wraps = h > 12;
  HWND out = finish(f, style);
  if (g_state.sizetofits && text && std::strlen(text) >= 2) f->sizeToFit();
  updatePendingShift(f);
  return out;
}

HWND SHIM_MakeCombo(int id, int x, int y, int w, int, int style) {
  if (!ready()) return nullptr;
  cocoa::ItemListControl* c;
  if ((style & 3) == CBS_DROPDOWNLIST) {
    auto* p = new Shim_vVexmir_pub(coords(x, y, w, 18, true, true));
    p->setShimStyle(style);
    c = p;
  } else {
    auto* cb = new Shim_vVexmir_cbox(coords(x, y - 1, w, 22, true, true));
    cb->focusRing = false;
    cb->editable = true;
    cb->setShimStyle(style);
    cb->setDelegate(g_state.owner->as<cocoa::ComboBoxDelegate>());
    c = cb;
  }
  c->setTag(id);
  c->fontSize = 10;
  setTarget(c);
  HWND out = finish(c, style);
  updatePendingShift(c);
  return out;
}

HWND SHIM_MakeGroupBox(const char* text, int id, int x, int y, int w, int h, int style) {
  if (!ready()) return nullptr;
  // The raw form (negative width and height) comes out as (-x, 1 - y, -w, -3 - h) from the same record.
  auto* b = new Shim_vVexmir_box(coords(x, y - 1, w, h + 3, false, false));
  b->setTitle(withoutMnemonics(text));
  b->setTag(id);
  b->titleCentered = (style & 0x300) != 0;
  ownerView()->addSubview(b, -1, nullptr);
  b->release();
  return b;
}

HWND SHIM_MakeCheckBox(const char* text, int id, int x, int y, int w, int h, int style) {
  return SHIM_MakeControl(text, id, "Button", style | 3, x, y, w, h, 0);
}

HWND SHIM_MakeListBox(int id, int x, int y, int w, int h, int style) {
  return SHIM_MakeControl("", id, "SysListView32_LB", style, x, y, w, h, 0);
}

HWND SHIM_MakeControl(const char* text, int id, const char* classname, int style, int x, int y, int w, int h,
                      int exstyle) {
  if (!ready() || !classname) return nullptr;
  if (!text) text = "";
  if (!creators().empty()) {
    double r[4];
    SHIM_Internal_MakeCoords(x, y, w, h, false, false, r);
    const std::vector<CreatorNode> list = creators();
    for (const CreatorNode& n : list) {
      HWND c = n.proc(g_state.owner, text, id, classname, style, SHIM_RoundPoint(r[0]),
                      SHIM_RoundPoint(r[1]), SHIM_RoundPoint(r[2]), SHIM_RoundPoint(r[3]));
      if (!c) continue;
      if (exstyle) {
        if (auto* e = c->as<SHIM_ExtendedStyleHolder>()) {
          e->shimSetExtendedStyle(exstyle);
        } else if (auto* hv = c->as<Shim_vVexmir_hwnd>()) {
          hv->setShimExtraData(GWL_EXSTYLE, exstyle);
        }
      }
      return c;
    }
  }
  if (!strcasecmp(classname, "SysTabControl32") || !strcasecmp(classname, "SysListView32") ||
      !strcasecmp(classname, "SysListView32_LB") || !strcasecmp(classname, "SysTreeView32") ||
      !strcasecmp(classname, "msctls_progress32")) {
    return g_classHook ? g_classHook(text, id, classname, style, x, y, w, h, exstyle) : nullptr;
  }
  if (!strcasecmp(classname, "Edit")) return SHIM_MakeEditField(id, x, y, w, h, style);
  if (!strcasecmp(classname, "static")) {
    auto* f = makeStatic(text, id, coords(x, y, w, h, true, false));
    const int low = style & 0x1F;
    f->alignment = low == SS_CENTER  ? cocoa::kTextAlignmentCenter
                   : low == SS_RIGHT ? cocoa::kTextAlignmentRight
                                     : cocoa::kTextAlignmentLeft;
    if (low == SS_LEFTNOWORDWRAP) f->wraps = false;
    HWND out = finish(f, style);
    if (low == SS_BLACKRECT) f->setHidden(true);
    updatePendingShift(f);
    return out;
  }
  if (!strcasecmp(classname, "Button")) {
    if (style & 0x20000000) return SHIM_MakeGroupBox(text, id, x, y, w, h, style & ~0x20000000);
    if (style & 0x10000000) return SHIM_MakeButton(1, text, id, x, y, w, h, style & ~0x10000000);
    if (style & 0x08000000) return SHIM_MakeButton(0, text, id, x, y, w, h, style & ~0x08000000);
    auto* b = new Shim_vVexmir_button(coords(x, y, w, h, true, false));
    b->setTag(id);
    bool ownerDrawn = false;
    switch (style & 0xF) {
      case BS_AUTOCHECKBOX:
        b->buttonType = 3;
        break;
      case BS_AUTO3STATE:
        b->buttonType = 3;
        b->allowsMixedState = true;
        break;
      case BS_AUTORADIOBUTTON:
        b->buttonType = 4;
        b->shimSetRadioFlags((style & WS_GROUP) ? 3 : 1);
        break;
      case BS_OWNERDRAW: {
        ownerDrawn = true;
        auto* cell = new Shim_vVexmir_ODbuttoncell;
        b->setCell(cell);
        cell->release();
        break;
      }
      default:
        break;
    }
    applyFont(b);
    b->setTitle(withoutMnemonics(text));
    setTarget(b);
    if (style & BS_LEFTTEXT) b->imagePosition = 3;
    HWND out = finish(b, style);
    if (g_state.sizetofits && !ownerDrawn) b->sizeToFit();
    updatePendingShift(b);
    return out;
  }
  if (!strcasecmp(classname, "KIThfader") || !strcasecmp(classname, "msctls_trackbar32")) {
    auto* s = new cocoa::Slider(coords(x, y, w, h, false, false));
    s->setTag(id);
    s->minValue = 0;
    s->maxValue = 1000;
    if (!strcasecmp(classname, "msctls_trackbar32")) s->controlSize = 2;
    setTarget(s);
    return finish(s, style);
  }
  return nullptr;
}

void SHIM_GenerateDialogFromList(const void* records, int count) {
  if (!records || count < 1) return;
  const auto* r = static_cast<const SHIM_DialogControlEntry*>(records);
  const BuilderState outer = g_state;
  for (int i = 0; i < count; ++i, ++r) {
    const char* kind = r->p0 ? r->p0 : "";
    const int w3 = static_cast<int>(r->p3), w4 = static_cast<int>(r->p4), w5 = static_cast<int>(r->p5);
    const int w6 = static_cast<int>(r->p6), w7 = static_cast<int>(r->p7), w8 = static_cast<int>(r->p8);
    if (!std::strcmp(kind, "__SHIM_BUTTON")) {
      SHIM_MakeButton(static_cast<int>(r->p1), r->p2, w3, w4, w5, w6, w7, w8);
    } else if (!std::strcmp(kind, "__SHIM_EDIT")) {
      SHIM_MakeEditField(w3, w4, w5, w6, w7, w8);
    } else if (!std::strcmp(kind, "__SHIM_COMBO")) {
      SHIM_MakeCombo(w3, w4, w5, w6, w7, w8);
    } else if (!std::strcmp(kind, "__SHIM_LISTBOX")) {
      SHIM_MakeControl("", w3, "SysListView32_LB", w8, w4, w5, w6, w7, 0);
    } else if (!std::strcmp(kind, "__SHIM_GROUP")) {
      SHIM_MakeGroupBox(r->p2, w3, w4, w5, w6, w7, w8);
    } else if (!std::strcmp(kind, "__SHIM_CHECKBOX")) {
      SHIM_MakeControl(r->p2, w3, "Button", w8 | 3, w4, w5, w6, w7, 0);
    } else if (!std::strcmp(kind, "__SHIM_LABEL")) {
      SHIM_MakeLabel(static_cast<int>(r->p1), r->p2, w3, w4, w5, w6, w7, w8);
    } else if (r->p2 && r->p2[0]) {
      SHIM_MakeControl(kind, static_cast<int>(r->p1), r->p2, w3, w4, w5, w6, w7, w8);
    }
    // A control whose making built a dialog of its own (a nested SHIM_MakeSetCurParms) must not move the rest of
    // this table into that dialog: the outer owner and transform come back.
    if (g_state.owner != outer.owner || std::memcmp(g_state.transform, outer.transform, sizeof(outer.transform))) {
      const BuilderState now = g_state;
      g_state = outer;
      if (now.owner == outer.owner) std::memcpy(g_state.lastdoauto, now.lastdoauto, sizeof(now.lastdoauto));
    }
  }
}

void SHIM_RegisterCustomControlCreator(SHIM_CustomControlCreator creator) {
  if (!creator) return;
  for (CreatorNode& n : creators()) {
    if (n.proc == creator) {
      ++n.count;
      return;
    }
  }
  creators().push_back(CreatorNode{creator, 1});
}

void SHIM_UnregisterCustomControlCreator(SHIM_CustomControlCreator creator) {
  if (!creator) return;
  auto& list = creators();
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->proc != creator) continue;
    if (it->count <= 1) {
      list.erase(it);
    } else {
      --it->count;
    }
    return;
  }
}

// Saves the builder state around a nested build (a create function run while another dialog is being built).
void* SHIM_Internal_SaveBuilderState() {
  return new BuilderState(g_state);
}

void SHIM_Internal_RestoreBuilderState(void* saved) {
  if (!saved) return;
  g_state = *static_cast<BuilderState*>(saved);
  delete static_cast<BuilderState*>(saved);
}
