// The process-wide caches shared by every editor surface: bitmaps by resource id and the scale they were loaded at
// (each scaled once, at load; editors of two sizes in one process each get their own) and fonts by text style. Entries
// keep their insertion order; look-ups take the first match. Each cache has its own recursive lock, held only for one
// look-up or one insertion at a time.
#pragma once

#include "KIT/IEffect/IGraphicsStructs.h"
#include "KIT/mutex.h"
#include "KIT/ptrlist.h"

class BitmapStorage {
 public:
  struct BitmapKey {
    int id;  // the resource id, or -1 for bitmaps made at run time
    PIX_IBitmap* bitmap;
    double scale;  // what the image was scaled by at load
  };

  BitmapStorage() = default;
  // Deletes every bitmap it holds.
  ~BitmapStorage();
  BitmapStorage(const BitmapStorage&) = delete;
  BitmapStorage& operator=(const BitmapStorage&) = delete;

  // The first bitmap cached under id at that scale, or null.
  PIX_IBitmap* Find(int id, double scale = 1.0);
  // The cache owns the bitmap from then on.
  void Add(PIX_IBitmap* bitmap, int id = -1, double scale = 1.0);
  // Removes and deletes the first entry holding the bitmap; a bitmap not in the cache is left alone.
  void Remove(PIX_IBitmap* bitmap);
  int Count();

 private:
  KIT_PtrList<BitmapKey> mBitmaps{1024};
  KIT_Mutex mMutex;
};

class FontStorage {
 public:
  struct FontKey {
    int size;
    int orientation;
    int style;
    char face[IText::kFaceLen];
    PIX_IFont* font;
  };

  FontStorage() = default;
  ~FontStorage();
  FontStorage(const FontStorage&) = delete;
  FontStorage& operator=(const FontStorage&) = delete;

  // The first font whose size, orientation, style and face (exact) match; colour and alignment are no part of the
  // key. Null when absent.
  PIX_IFont* Find(IText* text);
  // False (and the font deleted) when the cache cannot grow.
  bool Add(PIX_IFont* font, IText* text);
  int Count();

 private:
  KIT_PtrList<FontKey> mFonts{1024};
  KIT_Mutex mMutex;
};

extern BitmapStorage s_bitmapCache;
extern FontStorage s_fontCache;
