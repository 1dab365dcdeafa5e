#include "KIT/IEffect/IBitmapMonoText.h"

#include <cstring>

#include "KIT/IEffect/IGraphics.h"

void DrawBitmapedText(IGraphics* graphics, IBitmap* font, IRECT* r, IText* style, IChannelBlend* blend, const char* str,
                      bool vCenter, bool multiline, int charWidth, int charHeight) {
  if (!graphics || !font || !r || !str || !*str) return;
  // Cells of no size would divide by nothing below and draw nothing anyway.
  if (charWidth <= 0 || charHeight <= 0) return;
  // Laid out in 64 bits: the rectangle may span the int range; cells beyond its ends stand at those ends.
  const long long n = static_cast<long long>(std::strlen(str));
  const long long W = static_cast<long long>(r->R) - r->L, H = static_cast<long long>(r->B) - r->T;
  const long long y0 = vCenter ? r->T + (H - charHeight) / 2 : r->T;
  const bool centred = style && style->mAlign == IText::kAlignCenter;
  const long long x0 = centred ? r->L + (W - n * charWidth) / 2 : static_cast<long long>(r->L) + charWidth;
  const long long room = W - 2LL * charWidth;
  // No room for a single cell between the margins: nothing fits.
  if (room <= 0) return;

  long long perRow, rows;
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

  long long k = 0;
  for (long long j = 0; j <= rows && k < n; ++j) {
    long long x = x0;
    const long long y = y0 + j * charHeight;
    for (long long c = 0; c < perRow && k < n; ++c, ++k) {
      IRECT cell(platform::satInt(x), platform::satInt(y), platform::satInt(x + charWidth),
                 platform::satInt(y + charHeight));
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
