#include "KIT/IEffect/IGraphicsStructs.h"

#include <cstring>

#include "KIT/kitstring.h"
#include "KIT/pix/pix-bitmap.h"

const IColor COLOR_TRANSPARENT(0, 0, 0, 0);
const IColor COLOR_BLACK(255, 0, 0, 0);
const IColor COLOR_GRAY(255, 127, 127, 127);
const IColor COLOR_WHITE(255, 255, 255, 255);
const IColor COLOR_RED(255, 255, 0, 0);
const IColor COLOR_GREEN(255, 0, 255, 0);
const IColor COLOR_BLUE(255, 0, 0, 255);
const IColor COLOR_YELLOW(255, 255, 255, 0);
const IColor COLOR_ORANGE(255, 255, 127, 0);
// Spelled out rather than copied from the constants above: the order in which other units' constants are set at
// program load is not defined, and the text style defaults below are read while other statics are being built.
const IColor DEFAULT_TEXT_COLOR(255, 0, 0, 0);
const IColor DEFAULT_TEXT_ENTRY_BGCOLOR(255, 255, 255, 255);
const IColor DEFAULT_TEXT_ENTRY_FGCOLOR(255, 0, 0, 0);

float BlendAlpha(const IChannelBlend* blend) {
  return blend ? BlendWeight(blend) : 1.0f;
}

int BlendMode(const IChannelBlend* blend) {
  if (!blend) return PIX_BLIT_USE_SOURCE_ALPHA;
  switch (blend->mMethod) {
    case IChannelBlend::kBlendClobber:
      return PIX_BLIT_MODE_COPY;
    case IChannelBlend::kBlendAdd:
      return PIX_BLIT_MODE_ADD | PIX_BLIT_USE_SOURCE_ALPHA;
    case IChannelBlend::kBlendColorDodge:
      return PIX_BLIT_MODE_DODGE | PIX_BLIT_USE_SOURCE_ALPHA;
    default:
      return PIX_BLIT_USE_SOURCE_ALPHA;
  }
}

IText::IText() : mColor(255, 0, 0, 0), mTextEntryBGColor(255, 255, 255, 255), mTextEntryFGColor(255, 0, 0, 0) {
  SetFont("Consolas");
}

IText::IText(int size, const IColor* color, const char* font, int style, int align, int orientation, int quality)
    : IText() {
  mSize = size;
  if (color) mColor = *color;
  if (font) SetFont(font);
  mStyle = style;
  mAlign = align;
  mOrientation = orientation;
  mQuality = quality;
}

void IText::SetFont(const char* font) {
  std::memset(mFont, 0, sizeof(mFont));
  KIT_UTF8Copy(mFont, sizeof mFont, font);
}
