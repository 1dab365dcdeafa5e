// Text into raster bitmaps with a window-layer font object.
//
// PIX_CachedFont works one of two ways. On the glyph path each character is rendered once, white on black, into a
// shared scratch bitmap through the window layer's text drawing, kept as an 8-bit coverage mask, and drawn from
// then on with the font's colours, alpha and blend mode. On the native path the text goes straight to the window
// layer's SHIM_DrawText on a drawing context.
//
// Main thread only: the scratch bitmaps are shared by every font and not locked.
#pragma once

#include "KIT/heapbuf.h"
#include "KIT/pix/pix-bitmap.h"

class PIX_SysBitmap;

// Font flags (SetFromHFont).
#define PIX_FONT_FLAG_VERTICAL 1
#define PIX_FONT_FLAG_VERTICAL_BOTTOMUP 2
#define PIX_FONT_FLAG_PRECALCALL 4
#define PIX_FONT_FLAG_FXBLUR 0x10
#define PIX_FONT_FLAG_FXINVERT 0x20
#define PIX_FONT_FLAG_FXMONO 0x40
#define PIX_FONT_FLAG_FXSHADOW 0x80
#define PIX_FONT_FLAG_FXOUTLINE 0x100
#define PIX_FONT_FLAG_OWNS_HFONT 0x200
#define PIX_FONT_FLAG_NATIVE 0x400

// Text flags of DrawText beyond the window layer's DT_ flags.
#define PIX_DT_USEFGALPHA 0x40000000u
#define PIX_DT_FORCECACHED 0x80000000u

class PIX_IFont {
 public:
  virtual ~PIX_IFont() {}
  virtual void SetFromHFont(HFONT font, int flags = 0) = 0;
  virtual unsigned int SetTextColor(unsigned int color) = 0;
  virtual unsigned int SetBkColor(unsigned int color) = 0;
  virtual unsigned int SetEffectColor(unsigned int color) = 0;
  virtual int SetBkMode(int mode) = 0;
  virtual void SetCombineMode(int mode, float alpha = 1.0f) = 0;
  virtual int DrawText(PIX_IBitmap* bm, const char* str, int strcnt, RECT* rect, unsigned int dtFlags) = 0;
  virtual unsigned int GetTextColor() = 0;
  virtual HFONT GetHFont() = 0;
  virtual int GetLineHeight() = 0;
};

class PIX_CachedFont : public PIX_IFont {
 public:
  PIX_CachedFont();
  ~PIX_CachedFont() override;
  PIX_CachedFont(const PIX_CachedFont&) = delete;
  PIX_CachedFont& operator=(const PIX_CachedFont&) = delete;

  // Binds a font object (null unbinds) with font flags and empties the glyph cache.
  void SetFromHFont(HFONT font, int flags = 0) override;
  unsigned int SetTextColor(unsigned int color) override;
  unsigned int SetBkColor(unsigned int color) override;
  unsigned int SetEffectColor(unsigned int color) override;
  int SetBkMode(int mode) override;
  void SetCombineMode(int mode, float alpha = 1.0f) override;
  // Draws or (with DT_CALCRECT) measures UTF-8 text; a negative count runs to the terminating zero.
  int DrawText(PIX_IBitmap* bm, const char* str, int strcnt, RECT* rect, unsigned int dtFlags) override;
  unsigned int GetTextColor() override { return m_fg; }
  HFONT GetHFont() override { return m_font; }
  int GetLineHeight() override { return m_line_height; }

  // Bytes taken by the UTF-8 character at s (1 for a byte that starts no valid sequence, whose code point is the
  // byte itself; four-byte sequences give a space); stores the code point when out is given.
  static int utf8char(const char* s, unsigned short* out);

  // The shared scratch bitmaps (null when no font is alive or none was needed yet). For tests.
  static PIX_SysBitmap* GetScratchBitmap();
  static PIX_SysBitmap* GetNativeScratchBitmap();

 private:
  struct charEnt {
    int base_offset;  // 1 + byte offset of the mask in the glyph store; 0 not rendered; -1 failed
    int width;
    int height;
    int advance;
    int charid;
  };

  int DrawTextImpl(PIX_IBitmap* bm, const char* str, int strcnt, RECT* rect, unsigned int dtFlags);
  int DrawTextNative(PIX_IBitmap* bm, const char* str, int strcnt, RECT* rect, unsigned int dtFlags);
  int MeasureGlyphs(const char* str, int strcnt, RECT* rect, unsigned int dtFlags);
  int DrawGlyphs(PIX_IBitmap* bm, const char* str, int strcnt, RECT* rect, unsigned int dtFlags);
  template <class F>
  void WalkText(const char* str, int strcnt, unsigned int dtFlags, F&& onItem);
  charEnt* findChar(unsigned short c);
  bool RenderGlyph(unsigned short c);
  bool DrawGlyph(PIX_IBitmap* bm, unsigned short c, int xpos, int ypos, const RECT* clip);
  static int _charSortFunc(const void* a, const void* b);
  static int utf8charLimited(const char* s, int avail, unsigned short* out);

  unsigned int m_fg = 0;
  unsigned int m_bg = 0xFFFFFFFF;
  unsigned int m_effectcol = 0xFFFFFFFF;
  int m_bgmode = 0;
  int m_comb = 0;
  float m_alpha = 1.0f;
  int m_flags = 0;
  int m_line_height = 0;
  charEnt m_lowchars[128];
  KIT_TypedBuf<charEnt> m_extracharlist{4096};
  KIT_HeapBuf m_cachestore{65536};
  HFONT m_font = nullptr;
};
