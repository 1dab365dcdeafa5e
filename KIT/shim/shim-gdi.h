// Drawing contexts and drawing objects of the window layer: memory contexts over pixel buffers, text and
// background colours, pens, brushes, fonts and bitmaps with reference counts, font creation, text metrics,
// text drawing and measuring, shapes, clipping and copies between memory contexts.
//
// Colours crossing this interface are integers 0xRRGGBB (red in bits 16 to 23). Handle values below 5 are never
// objects: 1, 2 and 3 are the tokens of the pen, brush and font slots that SelectObject hands out, 0 is null.
// Contexts and objects may be made and released on any thread; one context or object is used by one thread at a
// time.
#pragma once

#include "KIT/shim/shim-types.h"

namespace platform::gfx {
class Context;
}

typedef struct tagTEXTMETRIC {
  int tmHeight;
  int tmAscent;
  int tmDescent;
  int tmInternalLeading;
  int tmAveCharWidth;
} TEXTMETRIC, *LPTEXTMETRIC;

#define SHIM_LF_FACESIZE 900
typedef struct tagLOGFONT {
  int lfHeight;
  int lfWidth;
  int lfEscapement;
  int lfOrientation;
  int lfWeight;
  char lfItalic;
  char lfUnderline;
  char lfStrikeOut;
  char lfCharSet;
  char lfOutPrecision;
  char lfClipPrecision;
  char lfQuality;
  char lfPitchAndFamily;
  char lfFaceName[SHIM_LF_FACESIZE];
} LOGFONT, *LPLOGFONT;

// SHIM_DrawText flags (left and top alignment are 0).
#define DT_LEFT 0x0
#define DT_TOP 0x0
#define DT_CALCRECT 0x1
#define DT_VCENTER 0x2
#define DT_CENTER 0x4
#define DT_BOTTOM 0x10
#define DT_RIGHT 0x20
#define DT_SINGLELINE 0x40
#define DT_NOPREFIX 0x80
#define DT_NOCLIP 0x100

// Background modes: OPAQUE fills the text box with the background colour first.
#define TRANSPARENT 0
#define OPAQUE 1

// Font weights and qualities.
#define FW_NORMAL 400
#define FW_BOLD 700
#define DEFAULT_QUALITY 0
#define NONANTIALIASED_QUALITY 3
#define ANTIALIASED_QUALITY 4

// GetStockObject values of this layer.
#define NULL_PEN 1
#define NULL_BRUSH 2

// Pen styles are accepted and ignored.
#define PS_SOLID 0

// Copy mode of StretchBlt that blends with the source's leading alpha byte; any other mode copies opaque pixels.
#define SRCCOPY_USEALPHA ((int)0xDEADBEEF)
#define SRCCOPY 0x00CC0020

// Contexts.
HDC SHIM_CreateMemContext(HDC compatible, int width, int height);
// A context over someone else's drawing context (a window view's paint); it owns nothing.
HDC SHIM_CreateGfxContext(void* graphicsContext);
void SHIM_DeleteGfxContext(HDC ctx);
void* SHIM_GetCtxFrameBuffer(HDC ctx);
platform::gfx::Context* SHIM_GetCtxGC(HDC ctx);

void SetTextColor(HDC ctx, int colour);
int GetTextColor(HDC ctx);
void SetBkColor(HDC ctx, int colour);
void SetBkMode(HDC ctx, int mode);

// Objects.
HGDIOBJ SelectObject(HDC ctx, HGDIOBJ obj);
void DeleteObject(HGDIOBJ obj);
HGDIOBJ SHIM_CloneGDIObject(HGDIOBJ obj);
HGDIOBJ GetStockObject(int which);

// Fonts and text.
HFONT CreateFont(int height, int width, int escapement, int orientation, int weight, char italic, char underline,
                 char strikeOut, char charSet, char outPrecision, char clipPrecision, char quality, char pitchAndFamily,
                 const char* faceName);
HFONT CreateFontIndirect(const LOGFONT* lf);
BOOL GetTextMetrics(HDC ctx, TEXTMETRIC* tm);
int SHIM_DrawText(HDC ctx, const char* text, int length, RECT* rect, int flags);

// Pens and brushes.
HPEN CreatePen(int style, int width, int colour);
HPEN CreatePenAlpha(int style, int width, int colour, float alpha);
HBRUSH CreateSolidBrush(int colour);
HBRUSH CreateSolidBrushAlpha(int colour, float alpha);

// Lines and shapes; each does nothing for a null or released context.
void MoveToEx(HDC ctx, int x, int y, POINT* old);
void SHIM_LineTo(HDC ctx, int x, int y);
void PolyPolyline(HDC ctx, const POINT* points, const unsigned* counts, int polylines);
void PolyBezierTo(HDC ctx, const POINT* points, int count);
void SHIM_Polygon(HDC ctx, const POINT* points, int count);
void RoundRect(HDC ctx, int x1, int y1, int x2, int y2, int w, int h);
void Rectangle(HDC ctx, int x1, int y1, int x2, int y2);
void Ellipse(HDC ctx, int x1, int y1, int x2, int y2);
void SHIM_FillRect(HDC ctx, const RECT* r, HBRUSH brush);
void SHIM_SetPixel(HDC ctx, int x, int y, int colour);
void SHIM_FillDialogBackground(HDC ctx, const RECT* r, int level);

// Clipping: push saves the graphics state, set intersects the clip with the rectangle, pop restores.
void SHIM_PushClipRegion(HDC ctx);
void SHIM_SetClipRegion(HDC ctx, const RECT* r);
void SHIM_PopClipRegion(HDC ctx);

// Bitmaps: CreateBitmap takes 32-bit rows of width x 4 bytes (alpha, red, green, blue).
typedef struct tagBITMAP {
  int bmWidth;
  int bmHeight;
} BITMAP;
typedef struct tagICONINFO {
  int fIcon;
  int xHotspot;
  int yHotspot;
  HBITMAP hbmMask;
  HBITMAP hbmColor;
} ICONINFO;
HBITMAP CreateBitmap(int width, int height, int planes, int bitsPerPixel, const void* bits);
// A bitmap object sharing the colour bitmap's image when the icon flag is set; null otherwise. (Icons here are
// drawing objects, not the platform's cursor-and-icon objects of HICON.)
HGDIOBJ CreateIconIndirect(const ICONINFO* info);
// Draws a bitmap object's image scaled into the rectangle, source over, full opacity.
void DrawImageInRect(HDC ctx, HGDIOBJ image, const RECT* r);
// Zero-fills `size` bytes of `out`; for a bitmap object and size 8 fills a BITMAP and returns 1, else 0.
int GetObject(HGDIOBJ obj, int size, void* out);

// A bitmap object holding the image of a PNG file (a name containing "/"); null when it cannot be loaded. With
// `magentaTransparent`, pure magenta pixels (255, 0, 255) become transparent. This platform keeps no images by name,
// so a bare name gives null.
HBITMAP LoadNamedImage(const char* name, bool magentaTransparent);

// Image lists: growable lists of bitmap objects, each entry holding its own reference; an entry may be null.
HIMAGELIST ImageList_CreateEx();
// Replaces the entry at index (deleting the old object) or, for any index outside the list, appends; returns the
// entry's index, or -1 for a bad list or icon.
int ImageList_ReplaceIcon(HIMAGELIST list, int index, HGDIOBJ icon);
// A negative index empties the list; otherwise the entry's object is deleted and the entry becomes null.
BOOL ImageList_Remove(HIMAGELIST list, int index);
void ImageList_Destroy(HIMAGELIST list);
// The number of entries and the object at an index (null outside or for an emptied entry).
int ImageList_GetImageCount(HIMAGELIST list);
HGDIOBJ ImageList_GetImage(HIMAGELIST list, int index);

// Copies between contexts: the source must be a memory context. StretchBlt scales; SRCCOPY_USEALPHA blends with
// the source's leading alpha byte, any other mode copies opaque pixels.
void BitBlt(HDC out, int x, int y, int w, int h, HDC in, int xin, int yin, int mode);
void StretchBlt(HDC out, int x, int y, int w, int h, HDC in, int xin, int yin, int win, int hin, int mode);

// The fixed system colour table; indices outside 0 to 9 give 0.
int GetSysColor(int index);
