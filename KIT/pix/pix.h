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
