// Text drawn from a bitmap font: frame k of the font bitmap (counting from 1) holds the character of code k + 31,
// each character cell charWidth x charHeight pixels.
#pragma once

#include <mutex>
#include <string>

#include "KIT/IEffect/IControl.h"

// Lays str out in r one cell after another. A centred style centres each row; otherwise rows start one cell in
// from the left edge, and one cell of margin is kept on each side. Rows run 0..rows inclusive, so a single-line
// text longer than a row continues on one more row below.
void DrawBitmapedText(IGraphics* graphics, IBitmap* font, IRECT* r, IText* style, IChannelBlend* blend, const char* str,
                      bool vCenter = true, bool multiline = false, int charWidth = 6, int charHeight = 12);

class IBitmapTextControl : public IControl, public ITextDisplay {
 public:
  IBitmapTextControl(IEffectBase* plug, IRECT rect, IBitmap* font, const char* str = "", IText* style = nullptr,
                     int charWidth = 6, int charHeight = 12);
  bool Draw(IGraphics* graphics) override;
  // Dirties the control only when the text differs; any thread.
  void SetTextFromPlug(const char* str) override;
  std::string GetTextForPlug() const override;

 protected:
  mutable std::mutex mStrLock;
  std::string mStr;
  int mCharWidth, mCharHeight;
  IBitmap mFontBitmap;
};
