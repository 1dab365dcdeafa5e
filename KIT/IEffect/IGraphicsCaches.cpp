#include "KIT/IEffect/IGraphicsCaches.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "KIT/IEffect/IGraphics.h"
#include "KIT/pix/pix.h"
#include "KIT/shim/shim.h"

BitmapStorage s_bitmapCache;
FontStorage s_fontCache;

// ---- BitmapStorage ----

BitmapStorage::~BitmapStorage() {
  const int n = mBitmaps.GetSize();
  for (int i = 0; i < n; ++i) {
    delete mBitmaps.Get(i)->bitmap;
    mBitmaps.Get(i)->bitmap = nullptr;
  }
  mBitmaps.Empty(true);
}

PIX_IBitmap* BitmapStorage::Find(int id, double scale) {
  KIT_MutexLock lock(mMutex);
  for (int i = 0; i < mBitmaps.GetSize(); ++i)
    if (mBitmaps.Get(i)->id == id && mBitmaps.Get(i)->scale == scale) return mBitmaps.Get(i)->bitmap;
  return nullptr;
}

void BitmapStorage::Add(PIX_IBitmap* bitmap, int id, double scale) {
  if (!bitmap) return;
  KIT_MutexLock lock(mMutex);
  if (!mBitmaps.Add(new BitmapKey{id, bitmap, scale})) delete bitmap;
}

void BitmapStorage::Remove(PIX_IBitmap* bitmap) {
  if (!bitmap) return;
  KIT_MutexLock lock(mMutex);
  for (int i = 0; i < mBitmaps.GetSize(); ++i) {
    BitmapKey* key = mBitmaps.Get(i);
    if (key->bitmap == bitmap) {
      mBitmaps.Delete(i);
      delete key->bitmap;
      delete key;
      return;
    }
  }
}

int BitmapStorage::Count() {
  KIT_MutexLock lock(mMutex);
  return mBitmaps.GetSize();
}

// ---- FontStorage ----

FontStorage::~FontStorage() {
  const int n = mFonts.GetSize();
  for (int i = 0; i < n; ++i) {
    delete mFonts.Get(i)->font;
    mFonts.Get(i)->font = nullptr;
  }
  mFonts.Empty(true);
}

PIX_IFont* FontStorage::Find(IText* text) {
  KIT_MutexLock lock(mMutex);
  for (int i = 0; i < mFonts.GetSize(); ++i) {
    FontKey* key = mFonts.Get(i);
    if (key->size == text->mSize && key->orientation == text->mOrientation && key->style == text->mStyle &&
        std::strncmp(key->face, text->mFont, IText::kFaceLen) == 0)
      return key->font;
  }
  return nullptr;
}

bool FontStorage::Add(PIX_IFont* font, IText* text) {
  if (!font || !text) return false;
  auto* key = new FontKey{text->mSize, text->mOrientation, text->mStyle, {}, font};
  std::memcpy(key->face, text->mFont, strnlen(text->mFont, IText::kFaceLen - 1));
  KIT_MutexLock lock(mMutex);
  if (!mFonts.Add(key)) {
    delete key;
    delete font;
    return false;
  }
  return true;
}

int FontStorage::Count() {
  KIT_MutexLock lock(mMutex);
  return mFonts.GetSize();
}

// ---- Surface operations over the caches ----

namespace {

// A copy of w x h made with bilinear filtering.
PIX_IBitmap* scaledCopy(PIX_IBitmap* src, int w, int h) {
  auto* copy = new PIX_MemBitmap(std::max(w, 0), std::max(h, 0), 4);
  if (w > 0 && h > 0 && src)
    PIX_ScaledBlit(copy, src, 0, 0, w, h, 0.0f, 0.0f, static_cast<float>(src->getWidth()),
                   static_cast<float>(src->getHeight()), 1.0f, PIX_BLIT_FILTER_BILINEAR);
  return copy;
}

}  // namespace

IBitmap IGraphics::LoadIBitmap(int id, const char* name, double scale, int nStates, bool framesAreHoriz) {
  PIX_IBitmap* bitmap = s_bitmapCache.Find(id, scale);
  if (!bitmap) {
    PIX_IBitmap* src = OSLoadBitmap(id, name);
    if (src) {
      const int w = static_cast<int>(src->getWidth() * scale);
      const int h = static_cast<int>(src->getHeight() * scale);
      // At its own size the decoded image is kept as it is: a filtered copy of the same size would only cost time.
      if (w == src->getWidth() && h == src->getHeight()) {
        bitmap = src;
      } else {
        bitmap = scaledCopy(src, w, h);
        delete src;
      }
    } else {
      // Controls draw from whatever the cache gives them: an empty bitmap draws nothing and keeps them safe.
      std::fprintf(stderr, "IGraphics: image %d \"%s\" could not be loaded; an empty bitmap stands in for it\n", id,
                   name ? name : "(null)");
      bitmap = new PIX_MemBitmap(0, 0, 4);
    }
    s_bitmapCache.Add(bitmap, id, scale);
  }
  return IBitmap(bitmap, bitmap->getWidth(), bitmap->getHeight(), nStates, framesAreHoriz);
}

IBitmap IGraphics::getImageById(int id, int nStates, bool framesAreHoriz, double scale) {
  PIX_IBitmap* bitmap = s_bitmapCache.Find(id, scale);
  if (!bitmap) {
    std::fprintf(stderr, "IGraphics: image %d at scale %g was never loaded\n", id, scale);
    return IBitmap(nullptr, 0, 0, nStates, framesAreHoriz);
  }
  return IBitmap(bitmap, bitmap->getWidth(), bitmap->getHeight(), nStates, framesAreHoriz);
}

void IGraphics::RetainBitmap(IBitmap* bitmap) {
  if (bitmap && bitmap->mData) s_bitmapCache.Add(bitmap->mData, -1);
}

void IGraphics::ReleaseBitmap(IBitmap* bitmap) {
  if (bitmap && bitmap->mData) s_bitmapCache.Remove(bitmap->mData);
}

IBitmap IGraphics::ScaleBitmap(IBitmap* bitmap, int w, int h) {
  PIX_IBitmap* copy = scaledCopy(bitmap ? bitmap->mData : nullptr, w, h);
  s_bitmapCache.Add(copy, -1);
  return IBitmap(copy, copy->getWidth(), copy->getHeight(), bitmap ? bitmap->N : 1, false);
}

IBitmap IGraphics::CropBitmap(IBitmap* bitmap, IRECT* r) {
  const int w = r ? std::max(r->W(), 0) : 0, h = r ? std::max(r->H(), 0) : 0;
  auto* copy = new PIX_MemBitmap(w, h, 4);
  if (bitmap && bitmap->mData && w > 0 && h > 0)
    PIX_Blit(copy, bitmap->mData, 0, 0, r->L, r->T, w, h, 1.0f, PIX_BLIT_MODE_COPY);
  s_bitmapCache.Add(copy, -1);
  return IBitmap(copy, copy->getWidth(), copy->getHeight(), bitmap ? bitmap->N : 1, false);
}

namespace {

HFONT createSystemFont(const IText* text, int height) {
  static const char kQuality[4] = {0, 3, 4, 4};
  const char quality = text->mQuality >= 0 && text->mQuality <= 3 ? kQuality[text->mQuality] : 3;
  return CreateFont(height, 0, text->mOrientation * 10, text->mOrientation * 10,
                    text->mStyle == IText::kStyleBold ? FW_BOLD : FW_NORMAL, text->mStyle == IText::kStyleItalic, 0, 0,
                    0, 0, 0, quality, 0, text->mFont);
}

}  // namespace

PIX_IFont* IGraphics::CacheFont(IText* text) {
  if (!text) return nullptr;
  if (PIX_IFont* found = s_fontCache.Find(text)) {
    text->mCached = found;
    return found;
  }
  int h = std::max(text->mSize, 2);
  HFONT hfont = createSystemFont(text, h);
  if (!hfont) return nullptr;
  auto* font = new PIX_CachedFont();
  font->SetFromHFont(hfont, PIX_FONT_FLAG_OWNS_HFONT | PIX_FONT_FLAG_NATIVE);
  // The face's line height rarely equals the size asked for: ask once more for a size scaled so that the line
  // height comes out close to it. Binding the second font deletes the first.
  const int lineHeight = font->GetLineHeight();
  if (lineHeight > 0 && lineHeight != h) {
    const int refit = std::max(static_cast<int>(static_cast<double>(h) * h / lineHeight + 0.5), 2);
    if (HFONT second = createSystemFont(text, refit)) {
      font->SetFromHFont(second, PIX_FONT_FLAG_OWNS_HFONT | PIX_FONT_FLAG_NATIVE);
    }
  }
  if (!s_fontCache.Add(font, text)) return nullptr;
  text->mCached = font;
  return font;
}
