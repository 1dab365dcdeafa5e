#include "platform/text/text.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include <strings.h>
#include <sys/stat.h>

#include <cmath>
#include <map>
#include <mutex>
#include <unordered_map>

namespace platform::text {

struct Font::Face {
  FT_Face ft = nullptr;
  FT_F26Dot6 currentSize = -1;                      // the char size last set on `ft`, 26.6
  std::unordered_map<uint32_t, FT_Fixed> advances;  // design units per glyph
};

namespace {

constexpr const char* kDejaVuDir = "/usr/share/fonts/truetype/dejavu/";
constexpr size_t kMaxCachedGlyphs = 20000;
constexpr long kMaxCachedSize26 = 256 * 64;  // glyphs of larger fonts are not kept

struct GlyphKey {
  const Font::Face* face;
  FT_F26Dot6 size;
  uint32_t glyph;
  bool mono;
  bool operator==(const GlyphKey& o) const {
    return face == o.face && size == o.size && glyph == o.glyph && mono == o.mono;
  }
};

struct GlyphKeyHash {
  size_t operator()(const GlyphKey& k) const {
    size_t h = std::hash<const void*>()(k.face);
    h = h * 1000003u ^ static_cast<size_t>(k.size);
    h = h * 1000003u ^ k.glyph;
    return h * 2u + (k.mono ? 1u : 0u);
  }
};

struct GlyphBitmap {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<uint8_t> coverage;  // width x height, rows top first
};

// The one FreeType library with its faces and glyphs. Never destroyed: fonts held by records that
// outlive static destruction (the window layer's pools) may still be released at unload.
struct Library {
  std::mutex lock;
  FT_Library ft = nullptr;
  std::map<std::string, Font::Face*> faces;  // by platform name
  std::unordered_map<GlyphKey, GlyphBitmap, GlyphKeyHash> glyphs;
  std::mutex fcLock;
  bool fcReady = false;
};

Library& library() {
  static Library* lib = [] {
    auto* l = new Library();
    if (FT_Init_FreeType(&l->ft) != 0) l->ft = nullptr;
    return l;
  }();
  return *lib;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool endsWith(const std::string& s, const char* suffix, size_t n) {
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// A font file for a family and style through fontconfig, only when fontconfig really has that
// family (it always answers with something; a substitute would differ from machine to machine).
std::string fontconfigLookup(const std::string& family, bool bold, bool italic) {
  Library& lib = library();
  std::lock_guard<std::mutex> guard(lib.fcLock);
  if (!lib.fcReady) {
    lib.fcReady = FcInit() == FcTrue;
    // Hand fontconfig's configuration back at exit so that leak checkers see a clean process.
    if (lib.fcReady) atexit([] { FcFini(); });
  }
  if (!lib.fcReady) return "";
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return "";
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return "";
  std::string out;
  bool familyMatches = false;
  FcChar8* value = nullptr;
  for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &value) == FcResultMatch; ++i)
    if (strcasecmp(reinterpret_cast<const char*>(value), family.c_str()) == 0) familyMatches = true;
  int index = 0;
  if (familyMatches && FcPatternGetString(match, FC_FILE, 0, &value) == FcResultMatch) {
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    out = std::string(reinterpret_cast<const char*>(value)) + "#" + std::to_string(index);
  }
  FcPatternDestroy(match);
  return out;
}

std::string dejaVu(bool mono, bool bold, bool italic) {
  std::string file = mono ? "DejaVuSansMono" : "DejaVuSans";
  if (bold || italic) file += std::string("-") + (bold ? "Bold" : "") + (italic ? "Oblique" : "");
  std::string path = kDejaVuDir + file + ".ttf";
  if (fileExists(path)) return path + "#0";
  return fontconfigLookup(mono ? "DejaVu Sans Mono" : "DejaVu Sans", bold, italic);
}

bool splitPlatformName(const std::string& name, std::string& path, int& index) {
  const size_t hash = name.rfind('#');
  if (hash == std::string::npos || hash == 0) return false;
  path = name.substr(0, hash);
  char* end = nullptr;
  const long v = strtol(name.c_str() + hash + 1, &end, 10);
  if (!end || *end != 0 || v < 0 || v > 0xFFFF) return false;
  index = static_cast<int>(v);
  return fileExists(path);
}

void setSize(Font::Face* face, FT_F26Dot6 size) {
  if (face->currentSize == size) return;
  FT_Set_Char_Size(face->ft, 0, size, 72, 72);
  face->currentSize = size;
}

FT_F26Dot6 toSize26(float size) {
  long v = std::lround(static_cast<double>(size) * 64.0);
  return v < 64 ? 64 : v;
}

// Rasterises one glyph into g (left empty when the face has no outline for it).
void rasterise(Font::Face* face, FT_F26Dot6 size, uint32_t glyph, bool mono, GlyphBitmap& g) {
  setSize(face, size);
  const FT_Int32 loadFlags = mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_LIGHT;
  if (FT_Load_Glyph(face->ft, glyph, loadFlags) != 0) return;
  FT_GlyphSlot slot = face->ft->glyph;
  if (FT_Render_Glyph(slot, mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_LIGHT) != 0) return;
  const FT_Bitmap& bm = slot->bitmap;
  if (bm.width == 0 || bm.rows == 0) return;
  g.left = slot->bitmap_left;
  g.top = slot->bitmap_top;
  g.width = static_cast<int>(bm.width);
  g.height = static_cast<int>(bm.rows);
  g.coverage.assign(static_cast<size_t>(g.width) * g.height, 0);
  for (int y = 0; y < g.height; ++y) {
    const unsigned char* src = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
    uint8_t* dst = g.coverage.data() + static_cast<size_t>(y) * g.width;
    for (int x = 0; x < g.width; ++x) {
      if (bm.pixel_mode == FT_PIXEL_MODE_MONO)
        dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
      else
        dst[x] = src[x];
    }
  }
}

const GlyphBitmap& cachedGlyph(Library& lib, Font::Face* face, FT_F26Dot6 size, uint32_t glyph, bool mono) {
  const GlyphKey key{face, size, glyph, mono};
  auto it = lib.glyphs.find(key);
  if (it != lib.glyphs.end()) return it->second;
  if (lib.glyphs.size() >= kMaxCachedGlyphs) lib.glyphs.clear();
  GlyphBitmap& g = lib.glyphs[key];
  rasterise(face, size, glyph, mono, g);
  return g;
}

}  // namespace

struct Layouter {
  static Font::Face* face(const Font& f) { return f.face_; }
};

std::string platformNameFor(const std::string& faceName) {
  std::string family = faceName;
  bool bold = false, italic = false;
  if (endsWith(family, " Italic", 7)) italic = true, family.resize(family.size() - 7);
  if (endsWith(family, " Bold", 5)) bold = true, family.resize(family.size() - 5);
  if (family == "NK57 Monospace" || family == "Consolas" || family == "Monaco" || family == "DejaVu Sans Mono")
    return dejaVu(true, bold, italic);
  if (family.empty() || family == "DejaVu Sans") return dejaVu(false, bold, italic);
  std::string found = fontconfigLookup(family, bold, italic);
  return found.empty() ? dejaVu(false, bold, italic) : found;
}

FontRef createFont(const std::string& name, float size) {
  std::string path;
  int index = 0;
  std::string platformName = name;
  if (!splitPlatformName(platformName, path, index)) {
    platformName = platformNameFor(name);
    if (!splitPlatformName(platformName, path, index)) return nullptr;
  }
  if (!std::isfinite(size) || size < 1.0f) size = 1.0f;
  Library& lib = library();
  std::lock_guard<std::mutex> guard(lib.lock);
  if (!lib.ft) return nullptr;
  Font::Face*& face = lib.faces[platformName];
  if (!face) {
    FT_Face ft = nullptr;
    if (FT_New_Face(lib.ft, path.c_str(), index, &ft) != 0 || !FT_IS_SCALABLE(ft)) {
      if (ft) FT_Done_Face(ft);
      lib.faces.erase(platformName);
      return nullptr;
    }
    FT_Select_Charmap(ft, FT_ENCODING_UNICODE);
    face = new Font::Face();
    face->ft = ft;
  }
  std::shared_ptr<Font> font(new Font());
  font->face_ = face;
  font->size_ = size;
  font->platformName_ = platformName;
  const float upem = face->ft->units_per_EM ? static_cast<float>(face->ft->units_per_EM) : 2048.0f;
  const float k = size / upem;
  font->metrics_.ascent = face->ft->ascender * k;
  font->metrics_.descent = -face->ft->descender * k;
  const float gap = face->ft->height * k - font->metrics_.ascent - font->metrics_.descent;
  font->metrics_.leading = gap > 0 ? gap : 0;
  if (const char* ps = FT_Get_Postscript_Name(face->ft)) font->postScriptName_ = ps;
  return font;
}

FontRef labelFont(float size) {
  return createFont(platformNameFor(""), size);
}

Font::~Font() = default;

bool decodeUtf8(const char* s, size_t n, std::u32string& out) {
  out.clear();
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  size_t i = 0;
  while (i < n) {
    const unsigned c = p[i];
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    int extra;
    char32_t cp, min;
    if (c >= 0xC2 && c <= 0xDF)
      extra = 1, cp = c & 0x1F, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF)
      extra = 2, cp = c & 0x0F, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4)
      extra = 3, cp = c & 0x07, min = 0x10000;
    else
      return false;
    if (n - i <= static_cast<size_t>(extra)) return false;
    for (int k = 1; k <= extra; ++k) {
      const unsigned t = p[i + k];
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out.push_back(cp);
    i += extra + 1;
  }
  return true;
}

LineLayout layoutLine(const FontRef& font, const char32_t* text, size_t n) {
  LineLayout line;
  line.font = font;
  if (!font || !text) return line;
  Library& lib = library();
  std::lock_guard<std::mutex> guard(lib.lock);
  Font::Face* face = Layouter::face(*font);
  FT_Face ft = face->ft;
  const float k = font->size() / (ft->units_per_EM ? static_cast<float>(ft->units_per_EM) : 2048.0f);
  const bool kerning = FT_HAS_KERNING(ft);
  line.glyphs.reserve(n);
  line.x.reserve(n);
  float pen = 0;
  uint32_t prev = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t g = FT_Get_Char_Index(ft, text[i]);
    if (kerning && prev && g) {
      FT_Vector kv{0, 0};
      if (FT_Get_Kerning(ft, prev, g, FT_KERNING_UNSCALED, &kv) == 0) pen += kv.x * k;
    }
    line.glyphs.push_back(g);
    line.x.push_back(pen);
    auto it = face->advances.find(g);
    FT_Fixed adv = 0;
    if (it != face->advances.end()) {
      adv = it->second;
    } else {
      if (FT_Get_Advance(ft, g, FT_LOAD_NO_SCALE, &adv) != 0) adv = 0;
      face->advances.emplace(g, adv);
    }
    pen += adv * k;
    prev = g;
  }
  line.width = pen;
  return line;
}

void drawLine(gfx::Context& ctx, const LineLayout& line, float x, float baselineY, const gfx::Color& color) {
  if (!line.font || line.glyphs.empty() || !(color.a > 0)) return;
  Library& lib = library();
  std::lock_guard<std::mutex> guard(lib.lock);
  Font::Face* face = Layouter::face(*line.font);
  const FT_F26Dot6 size = toSize26(line.font->size());
  const bool mono = !ctx.antialias();
  const gfx::Affine& m = ctx.transform();
  // Glyphs fit in a few ems around their origin: those wholly outside the clip are not rasterised at all, and
  // very large ones are drawn without being kept.
  const int em = static_cast<int>(line.font->size()) + 1;
  int cx0, cy0, cx1, cy1;
  ctx.deviceClip(cx0, cy0, cx1, cy1);
  GlyphBitmap big;
  for (size_t i = 0; i < line.glyphs.size(); ++i) {
    const gfx::Point o = m.apply({x + line.x[i], baselineY});
    if (!std::isfinite(o.x) || !std::isfinite(o.y) || std::fabs(o.x) > 1e8f || std::fabs(o.y) > 1e8f) continue;
    if (o.x + 3.0f * em < cx0 || o.x - 2.0f * em >= cx1 || o.y + 2.0f * em < cy0 || o.y - 3.0f * em >= cy1) continue;
    const GlyphBitmap* gp = &big;
    if (size > kMaxCachedSize26) {
      big = GlyphBitmap();
      rasterise(face, size, line.glyphs[i], mono, big);
    } else {
      gp = &cachedGlyph(lib, face, size, line.glyphs[i], mono);
    }
    const GlyphBitmap& g = *gp;
    if (g.coverage.empty()) continue;
    const int gx = static_cast<int>(std::floor(o.x + 0.5f)) + g.left;
    const int gy = static_cast<int>(std::floor(o.y + 0.5f)) - g.top;
    ctx.drawCoverage(gx, gy, g.coverage.data(), g.width, g.height, g.width, color);
  }
}

void clearGlyphCache() {
  Library& lib = library();
  std::lock_guard<std::mutex> guard(lib.lock);
  lib.glyphs.clear();
}

}  // namespace platform::text
