#include "KIT/IEffect/IBitmapMonoText.h"

#include <cstring>

#include "KIT/IEffect/IGraphics.h"

void DrawBitmapedText(IGraphics* graphics, IBitmap* font, IRECT* r, IText* style, IChannelBlend* blend, const char* str,
                      bool vCenter, bool multiline, int charWidth, int charHeight) {
  if (!graphics || !font || !r || !str || !*str) return;
  // Cells of no size would divide by nothing below and draw nothing anyway.
  if (charWidth <= 0 || charHeight <= 0) return;
  const int n = static_cast<int>(std::strlen(str));
  const int W = r->R - r->L, H = r->B - r->T;
  const int y0 = vCenter ? r->T + (H - charHeight) / 2 : r->T;
  const bool centred = style && style->mAlign == IText::kAlignCenter;
  const int x0 = centred ? r->L + (W - n * charWidth) / 2 : r->L + charWidth;
  const int room = W - 2 * charWidth;
  // No room for a single cell between the margins: nothing fits.
  if (room <= 0) return;

  int perRow, rows;
  if (multiline && n * charWidth > room) {
    perRow = room / charWidth;
    rows = (n * charWidth) / room;
  } else if (multiline) {
    perRow = n;
    rows = 1;
  } else {
    perRow = room / charWidth;
    rows = 1;
  }
  if (perRow < 1 || rows < 0) return;

  int k = 0;
  for (int j = 0; j <= rows && k < n; ++j) {
    int x = x0;
    const int y = y0 + j * charHeight;
    for (int c = 0; c < perRow && k < n; ++c, ++k) {
      IRECT cell(x, y, x + charWidth, y + charHeight);
      const int frame = static_cast<unsigned char>(str[k]) - 31;
      graphics->DrawBitmap(font, &cell, frame, blend);
      x += charWidth;
    }
  }
}

IBitmapTextControl::IBitmapTextControl(IEffectBase* plug, IRECT rect, IBitmap* font, const char* str, IText* style,
                                       int charWidth, int charHeight)
    : IControl(plug, rect), mStr(str ? str : ""), mCharWidth(charWidth), mCharHeight(charHeight) {
  if (font) mFontBitmap = *font;
  SetText(style);
}

bool IBitmapTextControl::Draw(IGraphics* graphics) {
  const std::string str = GetTextForPlug();
  if (!str.empty())
    DrawBitmapedText(graphics, &mFontBitmap, &mRECT, &mText, &mBlend, str.c_str(), true, false, mCharWidth,
                     mCharHeight);
  return true;
}

void IBitmapTextControl::SetTextFromPlug(const char* str) {
  if (!str) str = "";
  {
    std::lock_guard<std::mutex> lock(mStrLock);
    if (mStr == str) return;
    mStr = str;
  }
  SetDirty(false);
}

std::string IBitmapTextControl::GetTextForPlug() const {
  std::lock_guard<std::mutex> lock(mStrLock);
  return mStr;
}
