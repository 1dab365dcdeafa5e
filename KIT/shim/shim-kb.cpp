#include "KIT/shim/shim-kb.h"

#include <locale.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>
#include <wctype.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "KIT/shim/shim-misc.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/cursor.h"
#include "platform/cocoa/image.h"
#include "platform/cocoa/keyboard.h"
#include "platform/cocoa/view.h"
#include "platform/graphics/coords.h"

SHIM_CursorResourceIndex* SHIM_curmodule_cursorresource_head = nullptr;

namespace {

// The key codes that have their own virtual key; 0 for the others.
int virtualKeyForKeyCode(int code) {
  switch (code) {
    case 51:
      return VK_BACK;
    case 65:
      return VK_DECIMAL;
    case 67:
      return VK_MULTIPLY;
    case 69:
      return VK_ADD;
    case 75:
      return VK_DIVIDE;
    case 78:
      return VK_SUBTRACT;
    case 81:
      return VK_SEPARATOR;
    case 71:
      return VK_NUMLOCK;
    case 76:
      return 0x8000 | VK_RETURN;
    case 82:
    case 83:
    case 84:
    case 85:
    case 86:
    case 87:
    case 88:
    case 89:
      return VK_NUMPAD0 + (code - 82);
    case 91:
      return VK_NUMPAD0 + 8;
    case 92:
      return VK_NUMPAD0 + 9;
    case 122:
      return VK_F1;
    case 120:
      return VK_F1 + 1;
    case 99:
      return VK_F1 + 2;
    case 118:
      return VK_F1 + 3;
    case 96:
      return VK_F1 + 4;
    case 97:
      return VK_F1 + 5;
    case 98:
      return VK_F1 + 6;
    case 100:
      return VK_F1 + 7;
    case 101:
      return VK_F1 + 8;
    case 109:
      return VK_F1 + 9;
    case 103:
      return VK_F1 + 10;
    case 111:
      return VK_F12;
    case 105:
      return VK_SNAPSHOT;
    case 114:
      return VK_INSERT;
    case 115:
      return VK_HOME;
    case 119:
      return VK_END;
    case 116:
      return VK_PRIOR;
    case 121:
      return VK_NEXT;
    case 117:
      return VK_DELETE;
    case 123:
      return VK_LEFT;
    case 124:
      return VK_RIGHT;
    case 125:
      return VK_DOWN;
    case 126:
      return VK_UP;
    default:
      return 0;
  }
}

int modifierFlagsOf(uint32_t m) {
  int f = 0;
  if (m & cocoa::kShiftKeyMask) f |= FSHIFT;
  if (m & cocoa::kCommandKeyMask) f |= FCONTROL;
  if (m & cocoa::kAlternateKeyMask) f |= FALT;
  if ((m & cocoa::kControlKeyMask) && !IsRightClickEmulateEnabled()) f |= FLWIN;
  return f;
}

// Letters and digits of every script, by the C library's classes under a Unicode character type.
bool isAlnumChar(char32_t c) {
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8) return iswalnum_l(static_cast<wint_t>(c), utf8) != 0;
  return c < 128 && isalnum(static_cast<int>(c));
}

// The character the current keyboard layout gives a key code with no modifiers (through a dead key, the accent
// alone); 0 when the system offers no layout or the key types nothing.
char32_t charFromVcode(uint16_t keyCode) {
  auto layout = cocoa::keyboard::currentLayout();
  if (!layout) return 0;
  uint32_t dead = 0;
  char32_t c = cocoa::keyboard::translate(*layout, keyCode, &dead);
  if (!c && dead) c = cocoa::keyboard::translate(*layout, 49, &dead);
  return c;
}

const unsigned char kShiftedDigits[10] = {0x29, 0x21, 0x40, 0x23, 0x24, 0x25, 0x5E, 0x26, 0x2A, 0x28};

// ---- mouse state (main thread) ----
int g_shim_mouse_relmode = 0;
POINT g_shim_mouse_relmode_curpos = {0, 0};
int m_curvis_cnt = 0;
HCURSOR m_last_setcursor = nullptr;

POINT mouseLocationRounded() {
  const cocoa::Point p = cocoa::input::mouseLocation();
  return POINT{platform::intCoord(std::floor(p.x)), platform::intCoord(std::ceil(p.y))};
}

// ---- built-in cursor images: 16 x 16, one byte a pixel, grey level high nibble, opacity low nibble ----

constexpr unsigned char kBlack = 0x0F, kWhite = 0xFF, kClear = 0x00;

// Black strokes drawn by `inside`, each with a white outline so that it shows on any background.
template <class F>
void drawOutlined(unsigned char* img, F inside) {
  bool ink[16][16];
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ink[y][x] = inside(x, y);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      unsigned char v = kClear;
      if (ink[y][x]) {
        v = kBlack;
      } else {
        for (int dy = -1; dy <= 1 && v == kClear; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if (nx >= 0 && nx < 16 && ny >= 0 && ny < 16 && ink[ny][nx]) {
              v = kWhite;
              break;
            }
          }
      }
      img[y * 16 + x] = v;
    }
  }
}

struct BuiltInImages {
  unsigned char move[256];
  unsigned char diagonal[256];  // top left to bottom right; mirrored for the other diagonal
  unsigned char no[256];
  BuiltInImages() {
    // Four-way arrow: a cross with an arrowhead at each end.
    drawOutlined(move, [](int x, int y) {
      const int dx = std::abs(2 * x - 15), dy = std::abs(2 * y - 15);  // twice the distance from the centre
      const bool shaft = (dx <= 1 && dy <= 11) || (dy <= 1 && dx <= 11);
      const bool headV = dy >= 7 && dy <= 13 && dx <= 13 - dy + 1;
      const bool headH = dx >= 7 && dx <= 13 && dy <= 13 - dx + 1;
      return shaft || headV || headH;
    });
    // Diagonal double arrow: a shaft along the diagonal with arrowheads in two corners.
    drawOutlined(diagonal, [](int x, int y) {
      const bool shaft = std::abs(x - y) <= 1 && x >= 2 && x <= 13;
      const bool headTL = x >= 1 && y >= 1 && x + y <= 7 && (x <= 2 || y <= 2 || x + y <= 5);
      const bool headBR = x <= 14 && y <= 14 && x + y >= 23 && (x >= 13 || y >= 13 || x + y >= 25);
      return shaft || headTL || headBR;
    });
    // Circle with a slash.
    drawOutlined(no, [](int x, int y) {
      const double cx = x - 7.5, cy = y - 7.5, r = std::sqrt(cx * cx + cy * cy);
      const bool ring = r >= 4.6 && r <= 6.4;
      const bool slash = std::abs(cx + cy) <= 1.0 && r <= 6.0;
      return ring || slash;
    });
  }
};

BuiltInImages& builtIns() {
  static BuiltInImages images;
  return images;
}

HCURSOR g_cachedMove = nullptr, g_cachedDiag = nullptr, g_cachedDiagMirror = nullptr;

void mirrorLeftRight(unsigned char* img) {
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 8; ++x) std::swap(img[y * 16 + x], img[y * 16 + 15 - x]);
}

bool endsWithCur(const char* name) {
  const size_t n = strlen(name);
  return n >= 5 && strcasecmp(name + n - 4, ".cur") == 0;
}

std::string tempFolder() {
  const char* t = getenv("TEMP");
  return t && *t ? std::string(t).substr(0, 200) : std::string("/tmp");
}

// A .cur file as an icon: the type becomes 1 and the directory entry's hot spot becomes planes 1, bit count 0. The
// image is read from a temporary copy made with mkstemps, so that no other file of that name is ever touched.
cocoa::Image* imageFromCurFile(const std::string& path, POINT* hotspot, bool* converted) {
  *converted = false;
  FILE* in = fopen(path.c_str(), "rb");
  if (!in) return nullptr;
  unsigned char header[6], entry[16];
  const bool isCursor = fread(header, 1, 6, in) == 6 && header[0] == 0 && header[1] == 0 && header[2] == 2 &&
                        header[3] == 0 && header[4] == 1 && header[5] == 0;
  if (!isCursor || fread(entry, 1, 16, in) != 16 || entry[3] != 0) {
    fclose(in);
    return nullptr;
  }
  std::string tmpl =
      tempFolder() + "/shimcur" + std::to_string(GetTickCount()) + "_" + std::to_string(getpid()) + "XXXXXX.ico";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back(0);
  const int fd = mkstemps(name.data(), 4);
  if (fd < 0) {
    fclose(in);
    return nullptr;
  }
  FILE* out = fdopen(fd, "wb");
  if (!out) {
    close(fd);
    unlink(name.data());
    fclose(in);
    return nullptr;
  }
  unsigned char iconHeader[6] = {0, 0, 1, 0, 1, 0};
  unsigned char iconEntry[16];
  memcpy(iconEntry, entry, 16);
  iconEntry[4] = 1;
  iconEntry[5] = 0;
  iconEntry[6] = 0;
  iconEntry[7] = 0;
  bool ok = fwrite(iconHeader, 1, 6, out) == 6 && fwrite(iconEntry, 1, 16, out) == 16;
  unsigned char block[4096];
  size_t n;
  while (ok && (n = fread(block, 1, sizeof block, in)) > 0) ok = fwrite(block, 1, n, out) == n;
  fclose(in);
  ok = fclose(out) == 0 && ok;
  cocoa::Image* img = ok ? cocoa::Image::fromFile(name.data()) : nullptr;
  unlink(name.data());
  if (img) {
    *converted = true;
    if (hotspot) {
      hotspot->x = entry[4] + 256 * entry[5];
      hotspot->y = entry[6] + 256 * entry[7];
    }
  }
  return img;
}

cocoa::Image* shim_imageFromCursorString(const char* name, POINT* hotspot) {
  if (!name || !*name) return nullptr;
  const bool isResource = !strchr(name, '/') && strlen(name) < 1024;
  std::string path;
  if (isResource) {
    char bundle[8192];
    GetModuleFileName(nullptr, bundle, sizeof bundle);
    path = std::string(bundle) + "/Contents/Resources/" + name + ".cur";
  } else if (endsWithCur(name)) {
    path = name;
  } else {
    return cocoa::Image::fromFile(name);
  }
  bool converted = false;
  if (cocoa::Image* img = imageFromCurFile(path, hotspot, &converted)) return img;
  return isResource ? cocoa::Image::named(name) : cocoa::Image::fromFile(name);
}

}  // namespace

// ===============================================================================================================
// Keys

int SHIM_MacKeyToWindowsKeyEx(cocoa::Event* event, int* flags, int mode) {
  if (!event) event = cocoa::Application::shared()->currentEvent();
  int f = 0, code = 0;
  if (event) {
    f = modifierFlagsOf(event->modifierFlags);
    const int keyCode = event->keyCode;
    const int vk = keyCode >= 51 && keyCode <= 126 ? virtualKeyForKeyCode(keyCode) : 0;
    if (vk) {
      code = vk;
      f |= FVIRTKEY;
    } else {
      const std::u32string& chars =
          mode == 1 && !event->characters.empty() ? event->characters : event->charactersIgnoringModifiers;
      if (!chars.empty()) {
        char32_t c = chars[0];
        if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
        if ((f & FSHIFT) && c == 25) c = 9;  // Shift+Tab arrives as back-tab
        if (isAlnumChar(c) || c == 9 || c == 10 || c == 13 || c == 27 || c == 32) {
          f |= FVIRTKEY;
        } else {
          f &= ~FSHIFT;
        }
        code = static_cast<int>(c);
      } else {
        char32_t c = mode == 1 ? charFromVcode(static_cast<uint16_t>(keyCode)) : 0;
        if (c) {
          code = static_cast<int>(c);
          f &= ~FSHIFT;
        } else {
          code = keyCode + 1024;
          f |= FVIRTKEY;
        }
      }
    }
  }
  if (flags) *flags = f;
  return code;
}

int SHIM_MacKeyToWindowsKey(cocoa::Event* event, int* flags) {
  if (!event) {
    if (flags) *flags = 0;
    return 0;
  }
  return SHIM_MacKeyToWindowsKeyEx(event, flags, 0);
}

int SHIM_KeyToASCII(int key, int flags, int* newFlags) {
  if (flags == (FVIRTKEY | FSHIFT) && key >= '0' && key <= '9') {
    if (newFlags) *newFlags = 0;
    return kShiftedDigits[key - '0'];
  }
  return 0;
}

WORD GetAsyncKeyState(int key) {
  switch (key) {
    case VK_LBUTTON:
    case VK_RBUTTON:
    case VK_MBUTTON:
      return (cocoa::input::mouseButtons() & static_cast<uint32_t>(key)) ? 0x8000 : 0;
    case VK_SHIFT:
      return (cocoa::input::modifierFlags() & cocoa::kShiftKeyMask) ? 0x8000 : 0;
    case VK_CONTROL:
      return (cocoa::input::modifierFlags() & cocoa::kCommandKeyMask) ? 0x8000 : 0;
    case VK_MENU:
      return (cocoa::input::modifierFlags() & cocoa::kAlternateKeyMask) ? 0x8000 : 0;
    case VK_LWIN:
      return (!IsRightClickEmulateEnabled() && (cocoa::input::modifierFlags() & cocoa::kControlKeyMask)) ? 0x8000 : 0;
    default:
      return 0;
  }
}

// ===============================================================================================================
// Mouse

BOOL GetCursorPos(POINT* pt) {
  if (!pt) return FALSE;
  *pt = g_shim_mouse_relmode ? g_shim_mouse_relmode_curpos : mouseLocationRounded();
  return TRUE;
}

DWORD GetMessagePos() {
  POINT p;
  GetCursorPos(&p);
  return (static_cast<DWORD>(p.y) << 16) | (static_cast<DWORD>(p.x) & 0xFFFF);
}

cocoa::Point shimProcessMouseEvent(int message, cocoa::View* view, cocoa::Event* event) {
  if (!event) return cocoa::Point{};
  if (g_shim_mouse_relmode) {
    if (message == 0x200) {
      g_shim_mouse_relmode_curpos.x = platform::intCoord(g_shim_mouse_relmode_curpos.x + std::trunc(event->deltaX));
      g_shim_mouse_relmode_curpos.y = platform::intCoord(g_shim_mouse_relmode_curpos.y - std::trunc(event->deltaY));
    }
    const cocoa::Point screen{static_cast<double>(g_shim_mouse_relmode_curpos.x),
                              static_cast<double>(g_shim_mouse_relmode_curpos.y)};
    return view ? view->convertFromScreen(screen) : screen;
  }
  return view ? view->convertFromWindow(event->locationInWindow) : event->locationInWindow;
}

int SHIM_ShowCursor(bool show) {
  m_curvis_cnt += show ? 1 : -1;
  if (!show && m_curvis_cnt == -1) {
    if (!g_shim_mouse_relmode) g_shim_mouse_relmode_curpos = mouseLocationRounded();
    cocoa::display::hideCursor();
    cocoa::display::associateMouseAndCursor(false);
    g_shim_mouse_relmode = 1;
  } else if (show && m_curvis_cnt == 0) {
    cocoa::display::showCursor();
    cocoa::display::associateMouseAndCursor(true);
    g_shim_mouse_relmode = 0;
    cocoa::display::warpCursor(
        cocoa::Point{static_cast<double>(g_shim_mouse_relmode_curpos.x),
                     static_cast<double>(cocoa::display::mainDisplayHeight() - g_shim_mouse_relmode_curpos.y)});
  }
  return m_curvis_cnt;
}

bool SHIM_IsCursorVisible() {
  return m_curvis_cnt >= 0;
}

BOOL SHIM_SetCursorPos(int x, int y) {
  if (g_shim_mouse_relmode) {
    g_shim_mouse_relmode_curpos = POINT{x, y};
    return TRUE;
  }
  return cocoa::display::warpCursor(
             cocoa::Point{static_cast<double>(x), static_cast<double>(cocoa::display::mainDisplayHeight() - y)})
             ? TRUE
             : FALSE;
}

// ===============================================================================================================
// Cursors

HCURSOR MakeCursorFromData(const unsigned char* data) {
  if (!data) return nullptr;
  auto* img = new cocoa::Image(16, 16);
  for (int i = 0; i < 256; ++i) {
    const unsigned grey = (data[i] >> 4) * 0x11, alpha = (data[i] & 0x0F) * 0x11;
    img->pixels()[i] = cocoa::rgba(static_cast<uint8_t>(grey), static_cast<uint8_t>(grey), static_cast<uint8_t>(grey),
                                   static_cast<uint8_t>(alpha));
  }
  auto* cursor = new cocoa::Cursor(img, cocoa::Point{8, 8});
  img->release();
  return cursor;
}

HCURSOR SHIM_LoadCursor(const char* idText) {
  const int id = static_cast<int>(reinterpret_cast<intptr_t>(idText));
  switch (id) {
    case -1005:
      return cocoa::Cursor::iBeam();
    case -1004:
      return cocoa::Cursor::resizeUp();
    case -1001:
      return cocoa::Cursor::resizeUpDown();
    case -1000:
      return cocoa::Cursor::resizeLeftRight();
    case -999:
      return cocoa::Cursor::arrow();
    case 32649:
      return cocoa::Cursor::openHand();
    case -1003:
      return nullptr;
    case -1002:
      if (!g_cachedMove) g_cachedMove = MakeCursorFromData(builtIns().move);
      return g_cachedMove;
    case -1006:
      if (!g_cachedDiag) g_cachedDiag = MakeCursorFromData(builtIns().diagonal);
      return g_cachedDiag;
    case -1007:
      if (!g_cachedDiagMirror) {
        // Made from the stored image mirrored for the call, which is put back as it was afterwards.
        mirrorLeftRight(builtIns().diagonal);
        g_cachedDiagMirror = MakeCursorFromData(builtIns().diagonal);
        mirrorLeftRight(builtIns().diagonal);
      }
      return g_cachedDiagMirror;
    default:
      break;
  }
  for (SHIM_CursorResourceIndex* r = SHIM_curmodule_cursorresource_head; r; r = r->_next) {
    if (r->resid != id) continue;
    if (r->cachedCursor) return r->cachedCursor;
    POINT hot = {r->hsx, r->hsy};
    cocoa::Image* img = shim_imageFromCursorString(r->resname, &hot);
    if (!img) continue;
    r->cachedCursor = new cocoa::Cursor(img, cocoa::Point{static_cast<double>(hot.x), static_cast<double>(hot.y)});
    img->release();
    return r->cachedCursor;
  }
  return nullptr;
}

HCURSOR SHIM_LoadCursorFromFile(const char* name) {
  POINT hot = {0, 0};
  cocoa::Image* img = shim_imageFromCursorString(name, &hot);
  if (!img) return nullptr;
  auto* cursor = new cocoa::Cursor(img, cocoa::Point{static_cast<double>(hot.x), static_cast<double>(hot.y)});
  img->release();
  return cursor;
}

void SHIM_SetCursor(HCURSOR cursor) {
  cocoa::Cursor* c = cursor ? cursor->as<cocoa::Cursor>() : nullptr;
  m_last_setcursor = c;
  (c ? c : cocoa::Cursor::arrow())->set();
}

HCURSOR SHIM_GetCursor() {
  return cocoa::Cursor::current();
}

HCURSOR SHIM_GetLastSetCursor() {
  return m_last_setcursor;
}

// Tests: the stored built-in diagonal image.
const unsigned char* SHIM_Internal_DiagonalCursorImage() {
  return builtIns().diagonal;
}
