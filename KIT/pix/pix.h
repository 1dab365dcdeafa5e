// The raster library: 32-bit bitmaps and the operations that draw into them.
//
// Operations are free functions that take the destination bitmap first and report nothing: a null or empty
// bitmap, an area clipped away, a weight of 0 or a mode outside those listed draws nothing. Colours are words in
// pixel layout (A | R << 8 | G << 16 | B << 24); a float alpha becomes the integer weight alpha * 256 truncated.
// Mode word: low byte 0 copy, 1 add, 2 colour dodge, 3 multiply, 4 overlay, 5 HSV adjust; 0x10000 weights by the
// source alpha; (mode AND 0xFF00) = 0x100 filters scaled and rotated blits; (mode AND 0xF0) = 0xF0 copies one
// channel in the plain blit.
#pragma once

#include "KIT/pix/pix-bitmap.h"
#include "KIT/pix/pix-combine.h"
#include "KIT/pix/pix-font.h"
#include "KIT/pix/pix-png.h"
#include "KIT/pix/pix-shapes.h"
#include "KIT/pix/pix-sysbitmap.h"

// ---- Rectangle fills, clears and pixel access ----

// Fills the rectangle with the colour. With 0x10000 in mode the alpha is scaled by the colour's alpha byte.
void PIX_FillRect(PIX_IBitmap* dest, int x, int y, int w, int h, unsigned int color, float alpha, int mode);
// Fills with a colour that changes linearly: start values (0..1) at the top-left pixel, per-pixel steps to the
// right (d?dx) and per-row steps down (d?dy). The interpolated alpha is the weight.
void PIX_GradRect(PIX_IBitmap* dest, int dstx, int dsty, int dstw, int dsth, float ir, float ig, float ib, float ia,
                  float drdx, float dgdx, float dbdx, float dadx, float drdy, float dgdy, float dbdy, float dady,
                  int mode);
void PIX_Clear(PIX_IBitmap* dest, unsigned int color);
// Every pixel p of the rectangle becomes (p AND mask) OR orbits.
void PIX_ClearRect(PIX_IBitmap* dest, int x, int y, int w, int h, unsigned int mask, unsigned int orbits);
// Every channel c becomes clamp((c * sc * 256 + add * 256) >> 8).
void PIX_MultiplyAddRect(PIX_IBitmap* dest, int x, int y, int w, int h, float rsc, float gsc, float bsc, float asc,
                         float radd, float gadd, float badd, float aadd);
void PIX_ProcessRect(PIX_IBitmap* dest, int x, int y, int w, int h, void (*procfunc)(unsigned int* px, void* parm),
                     void* parm);
// 0 outside the bitmap.
unsigned int PIX_GetPixel(PIX_IBitmap* dest, int x, int y);
void PIX_PutPixel(PIX_IBitmap* dest, int x, int y, unsigned int color, float alpha, int mode);
// Pixels whose colour bytes equal the colour word get alpha 0, all others alpha 255.
void PIX_SetAlphaFromColorMask(PIX_IBitmap* dest, unsigned int color);
// Fills, from (x, y), the rows whose pixel in column x matches the start pixel under comparemask, spreading left
// and right along each; a filled pixel becomes (pixel AND keepmask) OR newcolor. Works on memory rows.
void PIX_SimpleFill(PIX_IBitmap* dest, int x, int y, unsigned int newcolor, unsigned int comparemask,
                    unsigned int keepmask);
// 0 when equal. Sizes that differ give b's minus a's width (else height); otherwise the byte comparison of the
// first differing row, or, with diffRect (x, y, w, h), 1 and the bounding box of the differing pixels.
int PIX_BitmapCmp(PIX_IBitmap* a, PIX_IBitmap* b, int* diffRect);

// ---- Same-size blits ----

// Copies srcRect of src (all of it when null) so that its top-left pixel lands at (dstx, dsty); a negative left or
// top of srcRect moves the destination point the other way.
void PIX_Blit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, RECT* srcRect, float alpha, int mode);
void PIX_Blit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int srcx, int srcy, int srcw, int srch,
              float alpha, int mode);
// Resizes dest to src's size and copies src into it.
void PIX_Copy(PIX_IBitmap* dest, PIX_IBitmap* src);
// Softens the source rectangle with a fixed five-point blur into dest at (dstx, dsty); src may be dest.
void PIX_Blur(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int srcx, int srcy, int srcw, int srch);
// Writes src at half size (2x2 box average) into the top-left of dest.
void PIX_HalveBlitAA(PIX_IBitmap* dest, PIX_IBitmap* src);

// ---- Scaled blit ----

// Copies the source rectangle (float coordinates) into the destination rectangle of another size: nearest pixel,
// or with (mode AND 0xFF00) = 0x100 bilinear, or a box filter for reductions to 1/1.7 or smaller. Equal sizes go
// to PIX_Blit. A negative destination width or height mirrors.
void PIX_ScaledBlit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int dstw, int dsth, float srcx, float srcy,
                    float srcw, float srch, float alpha, int mode);

// ---- Rotated, delta and transform blits ----

// Rotates (and scales) the source rectangle about its centre, moved by (rotxcent, rotycent), into the destination
// rectangle. angle in radians, clockwise on the screen. With cliptosourcerect, only pixels of the source rectangle
// are sampled, else any of the bitmap.
void PIX_RotatedBlit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int dstw, int dsth, float srcx,
                     float srcy, float srcw, float srch, float angle, bool cliptosourcerect, float alpha, int mode,
                     float rotxcent, float rotycent);
// Walks the source from (srcx, srcy): (dsdx, dtdx) per destination column and (dsdy, dtdy) per row, the column
// steps changing by (dsdxdy, dtdxdy) per row.
void PIX_DeltaBlit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int dstw, int dsth, float srcx, float srcy,
                   float srcw, float srch, double dsdx, double dtdx, double dsdy, double dtdy, double dsdxdy,
                   double dtdxdy, bool cliptosourcerect, float alpha, int mode);
// Warps the source through a grid of div_h rows by div_w columns of source points (x, y), spread evenly over the
// destination rectangle.
void PIX_TransformBlit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int dstw, int dsth, float* srcpoints,
                       int div_w, int div_h, float alpha, int mode);
void PIX_TransformBlit2(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int dstw, int dsth, double* srcpoints,
                        int div_w, int div_h, float alpha, int mode);
