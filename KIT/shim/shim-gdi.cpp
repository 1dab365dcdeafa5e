// Drawing contexts, drawing objects, fonts and text.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "KIT/assocarray.h"
#include "KIT/kitstring.h"
#include "KIT/mutex.h"
#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim-sys.h"
#include "platform/graphics/coords.h"

using platform::gfx::Color;
using platform::gfx::Context;
namespace text = platform::text;

namespace {

constexpr int kMaxPooledContexts = 100;
constexpr int kMaxPooledObjects = 200;
constexpr int kTextBufferSize = 4096;
constexpr size_t kMaxFaceName = 899;

// Both free lists share one recursive mutex. The counts are read before taking it (a pool may briefly exceed its
// limit by a record or two), so they are atomic.
struct Pools {
  KIT_Mutex mutex;
  SHIM_GDP_CTX* ctxpool = nullptr;
  std::atomic<int> ctxpool_size{0};
  SHIM_GDP_OBJECT* objpool = nullptr;
  std::atomic<int> objpool_size{0};
};

// Made on first use (thread-safe static initialisation) and torn down by the unloader below; after that, records
// are freed instead of pooled, and fonts are named without the cache, so that releases from later static
// destructors stay safe. Every user checks s_unloaded before touching them.
std::atomic<bool> s_unloaded{false};

Pools& pools() {
  static Pools* p = new Pools();
  return *p;
}

// Font face name with its style suffixes -> platform font name.
struct FontNameCache {
  KIT_Mutex mutex;
  KIT_StringKeyedArray<char*> names{true, [](char* v) { std::free(v); }};
};

FontNameCache*& fontNameCacheSlot() {
  static FontNameCache* c = new FontNameCache();
  return c;
}

FontNameCache* fontNameCache() {
  return s_unloaded.load() ? nullptr : fontNameCacheSlot();
}

// The empty brush and the empty pen. Set up once and never written again (they are never freed, so cloning them
// counts nothing), so that any thread may hand them out.
SHIM_GDP_OBJECT global_objs[2];
std::once_flag s_stockOnce;

struct ShimGdiUnloader {
  ~ShimGdiUnloader() {
    Pools* p = &pools();
    FontNameCache* cache = fontNameCacheSlot();
    s_unloaded = true;
    while (SHIM_GDP_CTX* c = p->ctxpool) {
      p->ctxpool = c->_next;
      delete c;
    }
    while (SHIM_GDP_OBJECT* o = p->objpool) {
      p->objpool = o->_next;
      delete o;
    }
    delete p;
    fontNameCacheSlot() = nullptr;
    delete cache;
  }
} _shimGdiUnloader;

const text::FontRef& defaultFont() {
  // The label font of size 10, made once (thread-safe static initialisation) and kept.
  static const text::FontRef font = text::labelFont(10.0f);
  return font;
}

void releaseContextRecord(SHIM_GDP_CTX* c) {
  *c = SHIM_GDP_CTX();
  if (s_unloaded.load() || pools().ctxpool_size.load() >= kMaxPooledContexts) {
    delete c;
    return;
  }
  Pools& p = pools();
  KIT_MutexLock lock(p.mutex);
  c->_infreelist = true;
  c->_next = p.ctxpool;
  p.ctxpool = c;
  p.ctxpool_size++;
}

void releaseObjectRecord(SHIM_GDP_OBJECT* o) {
  *o = SHIM_GDP_OBJECT();
  if (s_unloaded.load() || pools().objpool_size.load() >= kMaxPooledObjects) {
    delete o;
    return;
  }
  Pools& p = pools();
  KIT_MutexLock lock(p.mutex);
  o->_infreelist = true;
  o->_next = p.objpool;
  p.objpool = o;
  p.objpool_size++;
}

bool isStock(HGDIOBJ o) {
  return o == &global_objs[0] || o == &global_objs[1];
}

// The selected font when it is a usable font object, else null.
SHIM_GDP_OBJECT* selectedFont(HDC ctx) {
  HGDIOBJ f = ctx->curfont;
  return SHIM_GDP_ObjValid(f) && f->type == SHIM_GDI_FONT && f->font ? f : nullptr;
}

// The platform name for a font key: from the cache, else converted and cached. Values are copied out under the
// lock: another thread may replace the cached value at any time.
std::string platformFontName(const std::string& key) {
  FontNameCache* cache = fontNameCache();
  if (cache) {
    KIT_MutexLock lock(cache->mutex);
    if (const char* v = cache->names.Get(key.c_str(), nullptr)) return std::string(v);
  }
  std::u32string decoded;
  if (!text::decodeUtf8(key.data(), key.size(), decoded)) return std::string();  // neither UTF-8 nor ASCII
  std::string name = text::platformNameFor(key);
  if (cache && !name.empty()) {
    char* copy = strdup(name.c_str());
    if (copy) {
      KIT_MutexLock lock(cache->mutex);
      if (!cache->names.Insert(key.c_str(), copy)) std::free(copy);
    }
  }
  return name;
}

struct MeasuredLine {
  text::LineLayout layout;
  float width = 0;  // typographic, unrounded
};

}  // namespace

SHIM_GDP_CTX* SHIM_GDP_CTX_NEW() {
  if (!s_unloaded.load() && pools().ctxpool_size.load() > 0) {
    Pools& p = pools();
    KIT_MutexLock lock(p.mutex);
    if (SHIM_GDP_CTX* c = p.ctxpool) {
      p.ctxpool = c->_next;
      p.ctxpool_size--;
      *c = SHIM_GDP_CTX();
      return c;
    }
  }
  return new SHIM_GDP_CTX();
}

SHIM_GDP_OBJECT* GDP_OBJECT_NEW() {
  if (!s_unloaded.load() && pools().objpool_size.load() > 0) {
    Pools& p = pools();
    KIT_MutexLock lock(p.mutex);
    if (SHIM_GDP_OBJECT* o = p.objpool) {
      p.objpool = o->_next;
      p.objpool_size--;
      *o = SHIM_GDP_OBJECT();
      return o;
    }
  }
  return new SHIM_GDP_OBJECT();
}

platform::gfx::Rect SHIM_GDP_Rect(const RECT& r) {
  return platform::gfx::Rect{static_cast<float>(r.left), static_cast<float>(r.top),
                             static_cast<float>(SHIM_RectWidth(r)), static_cast<float>(SHIM_RectHeight(r))};
}

bool SHIM_GDP_CtxValid(HDC ctx) {
  return ctx && !ctx->_infreelist;
}

bool SHIM_GDP_ObjValid(HGDIOBJ obj) {
  return reinterpret_cast<uintptr_t>(obj) >= 5 && !obj->_infreelist;
}

int SHIM_GDP_CtxPoolSize() {
  return s_unloaded.load() ? 0 : pools().ctxpool_size.load();
}
int SHIM_GDP_ObjPoolSize() {
  return s_unloaded.load() ? 0 : pools().objpool_size.load();
}

bool SHIM_GDP_FontNameCached(const char* key) {
  FontNameCache* cache = fontNameCache();
  if (!cache || !key) return false;
  KIT_MutexLock lock(cache->mutex);
  return cache->names.Exists(key);
}

HDC SHIM_CreateMemContext(HDC, int width, int height) {
  if (width < 1 || height < 1 || static_cast<long long>(width) * 4 * height > 0x7FFFFFFFLL - 63) return nullptr;
  const size_t rowBytes = static_cast<size_t>(width) * 4;
  void* block = std::calloc(rowBytes * height + 63, 1);
  if (!block) return nullptr;
  auto* aligned = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(block) + 63) & ~uintptr_t(63));
  Context* gc = Context::createOverMemory(aligned, width, height, static_cast<int>(rowBytes));
  if (!gc) {
    std::free(block);
    return nullptr;
  }
  // y grows downwards from the top row, as everywhere in this layer.
  gc->translate(0, static_cast<float>(height));
  gc->scale(1, -1);
  SHIM_GDP_CTX* c = SHIM_GDP_CTX_NEW();
  c->ctx = gc;
  c->ownedbuf = block;
  SetTextColor(c, 0);
  return c;
}

HDC SHIM_CreateGfxContext(void* graphicsContext) {
  SHIM_GDP_CTX* c = SHIM_GDP_CTX_NEW();
  c->ctx = static_cast<Context*>(graphicsContext);
  return c;
}

void SHIM_DeleteGfxContext(HDC ctx) {
  if (!SHIM_GDP_CtxValid(ctx)) return;
  if (ctx->ownedbuf) {
    delete ctx->ctx;
    std::free(ctx->ownedbuf);
  }
  releaseContextRecord(ctx);
}

void* SHIM_GetCtxFrameBuffer(HDC ctx) {
  if (!SHIM_GDP_CtxValid(ctx) || !ctx->ownedbuf) return nullptr;
  return reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(ctx->ownedbuf) + 63) & ~uintptr_t(63));
}

Context* SHIM_GetCtxGC(HDC ctx) {
  return SHIM_GDP_CtxValid(ctx) ? ctx->ctx : nullptr;
}

void SetTextColor(HDC ctx, int colour) {
  if (!SHIM_GDP_CtxValid(ctx)) return;
  ctx->cur_text_color_int = colour;
  ctx->textColor = platform::gfx::colorFromRGB(colour, 1.0f);
  ctx->hasTextColor = true;
}

int GetTextColor(HDC ctx) {
  return SHIM_GDP_CtxValid(ctx) ? ctx->cur_text_color_int : -1;
}

void SetBkColor(HDC ctx, int colour) {
  if (SHIM_GDP_CtxValid(ctx)) ctx->curbkcol = colour;
}

void SetBkMode(HDC ctx, int mode) {
  if (SHIM_GDP_CtxValid(ctx)) ctx->curbkmode = mode;
}

HGDIOBJ SelectObject(HDC ctx, HGDIOBJ obj) {
  if (!SHIM_GDP_CtxValid(ctx)) return nullptr;
  const uintptr_t v = reinterpret_cast<uintptr_t>(obj);
  if (v == 0 || v == 4) return nullptr;
  auto slotFor = [ctx](uintptr_t kind) -> HGDIOBJ* {
    return kind == SHIM_GDI_PEN ? &ctx->curpen : kind == SHIM_GDI_BRUSH ? &ctx->curbrush : &ctx->curfont;
  };
  if (v < 4) {
    HGDIOBJ* slot = slotFor(v);
    HGDIOBJ old = *slot;
    *slot = nullptr;
    if (SHIM_GDP_ObjValid(old) && static_cast<uintptr_t>(old->type) == v) return old;
    return obj;
  }
  if (obj->_infreelist || obj->type < SHIM_GDI_PEN || obj->type > SHIM_GDI_FONT) return nullptr;
  HGDIOBJ* slot = slotFor(static_cast<uintptr_t>(obj->type));
  HGDIOBJ prev = *slot;
  if (!SHIM_GDP_ObjValid(prev) || prev->type != obj->type)
    prev = reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(obj->type));
  if (prev == obj) return obj;
  *slot = obj;
  return prev;
}

void DeleteObject(HGDIOBJ obj) {
  if (!SHIM_GDP_ObjValid(obj) || isStock(obj)) return;
  if (obj->additional_refcnt-- > 0) return;
  if (obj->type < SHIM_GDI_PEN || obj->type > SHIM_GDI_BITMAP) return;
  if ((obj->type == SHIM_GDI_PEN || obj->type == SHIM_GDI_BRUSH) && obj->wid < 0) return;
  releaseObjectRecord(obj);
}

HGDIOBJ SHIM_CloneGDIObject(HGDIOBJ obj) {
  if (!SHIM_GDP_ObjValid(obj)) return nullptr;
  if (isStock(obj)) return obj;
  obj->additional_refcnt++;
  return obj;
}

HGDIOBJ GetStockObject(int which) {
  if (which != NULL_PEN && which != NULL_BRUSH) return nullptr;
  std::call_once(s_stockOnce, [] {
    global_objs[0].type = SHIM_GDI_BRUSH;
    global_objs[0].wid = -1;
    global_objs[1].type = SHIM_GDI_PEN;
    global_objs[1].wid = -1;
  });
  return &global_objs[which == NULL_BRUSH ? 0 : 1];
}

HFONT CreateFont(int height, int width, int, int orientation, int weight, char italic, char, char, char, char, char,
                 char quality, char, const char* faceName) {
  SHIM_GDP_OBJECT* font = GDP_OBJECT_NEW();
  font->type = SHIM_GDI_FONT;
  float size = std::fabs(static_cast<float>(height ? height : width));
  if (size > 8192.0f || size < 2.0f) size = 10.0f;
  font->font_rotation = static_cast<float>(orientation) / 10.0f;

  std::string key = faceName ? std::string(faceName, strnlen(faceName, kMaxFaceName)) : std::string();
  if (weight >= FW_BOLD) key += " Bold";
  if (italic) key += " Italic";
  std::string platformName;
  if (faceName && *faceName) platformName = platformFontName(key);

  font->font = text::createFont(platformName, size);
  if (!font->font) font->font = text::labelFont(size);
  static const char kQuality[5] = {0, 0, 0, 3, 4};
  const unsigned q = static_cast<unsigned char>(quality);
  font->font_quality = q <= 4 ? kQuality[q] : 0;
  return font;
}

HFONT CreateFontIndirect(const LOGFONT* lf) {
  if (!lf) return CreateFont(0, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "");
  // The face name may fill its array without a terminator.
  std::string face(lf->lfFaceName, strnlen(lf->lfFaceName, sizeof(lf->lfFaceName)));
  return CreateFont(lf->lfHeight, lf->lfWidth, 0, lf->lfOrientation, lf->lfWeight, lf->lfItalic, 0, 0, 0, 0, 0,
                    lf->lfQuality, 0, face.c_str());
}

BOOL GetTextMetrics(HDC ctx, TEXTMETRIC* tm) {
  if (tm) {
    tm->tmHeight = 16;
    tm->tmAscent = 12;
    tm->tmDescent = 4;
    tm->tmInternalLeading = 3;
    tm->tmAveCharWidth = 10;
  }
  if (!tm || !SHIM_GDP_CtxValid(ctx)) return FALSE;
  SHIM_GDP_OBJECT* f = selectedFont(ctx);
  const text::FontRef& font = f ? f->font : defaultFont();
  if (!font) return TRUE;
  const text::FontMetrics& m = font->metrics();
  tm->tmInternalLeading = static_cast<int>(m.leading);
  tm->tmAscent = static_cast<int>(m.ascent);
  tm->tmDescent = static_cast<int>(m.descent);
  tm->tmHeight = tm->tmAscent + tm->tmDescent + tm->tmInternalLeading;
  tm->tmAveCharWidth = tm->tmHeight * 2 / 3;
  if (tm->tmHeight) tm->tmHeight++;
  return TRUE;
}

int SHIM_DrawText(HDC ctx, const char* textIn, int length, RECT* rect, int flags) {
  if (!SHIM_GDP_CtxValid(ctx) || !textIn) return 0;

  // Copy into the working buffer: carriage returns dropped, "&" prefixes taken out unless asked to keep them,
  // line feeds turned into spaces on a single line.
  char buf[kTextBufferSize];
  int n = 0;
  bool multiline = false;
  const char* src = textIn;
  const char* end = length < 0 ? nullptr : textIn + length;
  auto more = [&]() { return (!end || src < end) && *src; };
  while (n < kTextBufferSize - 1 && more()) {
    char c = *src++;
    if (c == '\r') continue;
    if (c == '&' && !(flags & DT_NOPREFIX)) {
      if (!more()) break;  // an ampersand at the very end ends the text
      c = *src++;
      if (c == '\r') continue;
    }
    if (c == '\n') {
      if (flags & DT_SINGLELINE)
        c = ' ';
      else
        multiline = true;
    }
    buf[n++] = c;
  }
  // The length limit (ours or the caller's) may have cut a UTF-8 sequence; drop the partial character rather
  // than the whole text.
  n = static_cast<int>(KIT_UTF8Complete(buf, static_cast<size_t>(n)));
  if (n == 0) return 0;
  std::u32string chars;
  if (!text::decodeUtf8(buf, static_cast<size_t>(n), chars)) return 0;

  SHIM_GDP_OBJECT* selected = selectedFont(ctx);
  const text::FontRef font = selected ? selected->font : defaultFont();
  if (!font) return 0;
  const text::FontMetrics& fm = font->metrics();
  const float lineHeight = fm.ascent + fm.descent + fm.leading;

  // Layout: one line, or lines broken only at line feeds (a trailing line feed opens no further line).
  std::vector<MeasuredLine> lines;
  if (!multiline) {
    lines.push_back({text::layoutLine(font, chars.data(), chars.size()), 0});
  } else {
    size_t start = 0;
    while (start < chars.size()) {
      size_t lf = chars.find(U'\n', start);
      if (lf == std::u32string::npos) lf = chars.size();
      lines.push_back({text::layoutLine(font, chars.data() + start, lf - start), 0});
      start = lf + 1;
    }
  }
  int W = 0, H = 0;
  for (MeasuredLine& l : lines) {
    l.width = l.layout.width;
    W = std::max(W, platform::intCoord(std::floor(l.width + 0.5f)));
    H = platform::intCoord(H + std::floor(lineHeight + 1.5f));
  }
  const int blockHeight = H ? H + 1 : 0;
  if (!rect) return blockHeight;

  if (flags & DT_CALCRECT) {
    rect->right = platform::satAdd(rect->left, W);
    rect->bottom = platform::satAdd(rect->top, blockHeight);
    return blockHeight;
  }
  Context* gc = ctx->ctx;
  if (!gc) return blockHeight;

  // Placed in 64 bits: a rectangle may span the whole int range.
  const long long rw = SHIM_RectWidth(*rect), rh = SHIM_RectHeight(*rect);
  long long x = rect->left;
  if (flags & DT_RIGHT)
    x = static_cast<long long>(rect->right) - W;
  else if (flags & DT_CENTER)
    x = rect->left + rw / 2 - W / 2;
  long long y = rect->top;
  if (flags & DT_BOTTOM)
    y = static_cast<long long>(rect->bottom) - blockHeight;
  else if (flags & DT_VCENTER)
    y = rect->top + rh / 2 - blockHeight / 2;

  gc->save();
  if (!(flags & DT_NOCLIP)) gc->clipToRect(SHIM_GDP_Rect(*rect));
  const bool opaque = ctx->curbkmode == OPAQUE;
  const Color background = platform::gfx::colorFromRGB(ctx->curbkcol, 1.0f);
  if (selected && selected->font_quality) gc->setAntialias(selected->font_quality == ANTIALIASED_QUALITY);
  const Color ink = ctx->hasTextColor ? ctx->textColor : Color{0, 0, 0, 1};

  if (!multiline) {
    if (opaque) {
      gc->setFillColor(background);
      gc->fillRect(
          {static_cast<float>(x), static_cast<float>(y), static_cast<float>(W), static_cast<float>(blockHeight)});
    }
    text::drawLine(*gc, lines[0].layout, static_cast<float>(x), y + fm.ascent, ink);
  } else {
    float ly = static_cast<float>(y);
    for (const MeasuredLine& l : lines) {
      if (opaque) {
        gc->setFillColor(background);
        gc->fillRect({static_cast<float>(x), ly, l.width, lineHeight});
      }
      text::drawLine(*gc, l.layout, static_cast<float>(x), ly + fm.ascent, ink);
      ly += std::floor(lineHeight + 0.5f);
    }
  }
  gc->restore();
  return blockHeight;
}
