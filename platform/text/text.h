// Fonts, metrics and text drawing on FreeType, fontconfig and the DejaVu fonts: the text half of the
// desktop platform that the window layer's fonts and text drawing stand on.
//
// Font names resolve through a small fixed map first, so that the editor's own faces look the same
// on every machine: "NK57 Monospace", "Consolas" and "Monaco" are DejaVu Sans Mono, the label font
// (an empty name) is DejaVu Sans. Other names go to fontconfig; a name it has no family for falls
// back to DejaVu Sans. A trailing " Bold" and/or " Italic" on a face name picks the style.
//
// Metrics and advances come from the face's design units scaled by the size (pixels per em).
// Everything here may be called from any thread: one FreeType library, its faces and the glyph
// cache sit behind one lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/graphics.h"

namespace platform::text {

struct FontMetrics {
  float ascent = 0;   // above the baseline, positive
  float descent = 0;  // below the baseline, positive
  float leading = 0;  // extra line gap, 0 or more
};

class Font;
using FontRef = std::shared_ptr<const Font>;

// The platform name of a face name (with optional " Bold" / " Italic" suffixes): the font file and
// face index as "path#index". Never empty when any font can be found; "" when none can.
std::string platformNameFor(const std::string& faceName);

// A font of the platform name (as returned above, or a face name, which is resolved first) at a
// size in pixels per em. Null when no font file can be loaded.
FontRef createFont(const std::string& platformName, float size);

// The label font (DejaVu Sans) at a size.
FontRef labelFont(float size);

class Font {
 public:
  ~Font();
  float size() const { return size_; }
  const FontMetrics& metrics() const { return metrics_; }
  // The face's PostScript name, e.g. "DejaVuSansMono".
  const std::string& postScriptName() const { return postScriptName_; }
  const std::string& platformName() const { return platformName_; }

  struct Face;  // shared FreeType face, internal

 private:
  friend FontRef createFont(const std::string&, float);
  friend struct Layouter;
  Font() = default;
  Face* face_ = nullptr;
  float size_ = 0;
  FontMetrics metrics_;
  std::string postScriptName_;
  std::string platformName_;
};

// Decodes UTF-8 strictly (no overlong forms, surrogates or cut sequences). False on any error.
bool decodeUtf8(const char* s, size_t n, std::u32string& out);

// One line of glyphs laid out left to right with kerning.
struct LineLayout {
  FontRef font;
  std::vector<uint32_t> glyphs;  // glyph indices of the face
  std::vector<float> x;          // pen position of each glyph from the line's origin
  float width = 0;               // typographic width: the pen position after the last glyph
};

LineLayout layoutLine(const FontRef& font, const char32_t* text, size_t n);

// Draws the line with its origin (left end of the baseline) at user point (x, baselineY) of the
// context. Glyphs stand upright in device space: the window layer flips both the context and the
// text matrix, so only the origin goes through the transform. Anti-aliased when the context's
// antialias setting is on, else one bit per pixel. Clipped to the context's clip.
void drawLine(gfx::Context& ctx, const LineLayout& line, float x, float baselineY, const gfx::Color& color);

// Drops every cached glyph (tests use it to compare cold and warm drawing).
void clearGlyphCache();

}  // namespace platform::text
