#pragma once

#include <cstdint>
#include <vector>

#include "color_ref.h"

// How a bitmap holds its pixels: the display's own format. Rows are stored top
// to bottom, each padded to a multiple of 4 bytes (the same stride a BMP file
// uses), and within a row:
//   pf32bit  one little-endian word 0xFFRRGGBB per pixel (bytes B, G, R, 0xFF)
//   pf24bit  bytes B, G, R
//   pf16bit  one little-endian word, 5 bits each: red 10-14, green 5-9, blue 0-4
//   pf8bit   one index into the standard 256-colour palette
//   pf4bit   two indices per byte into the 16-colour palette, left pixel high
//   pf1bit   eight pixels per byte, leftmost in the top bit; 0 black, 1 white
// So 32, 24, 16 and 1 bits are laid out as Qt's RGB32, BGR888, RGB555 and
// Mono images, and as a bottom-up BMP row once the row order is reversed.
enum class PixelFormat { pf1bit, pf4bit, pf8bit, pf16bit, pf24bit, pf32bit };

int bitsPerPixel(PixelFormat format);

// The format with that many bits per pixel; anything that is not 1, 4, 8, 16
// or 24 maps to pf32bit.
PixelFormat pixelFormatForBits(int bits);

// Bytes per row: ((width * bits + 31) / 32) * 4, in 64 bits so that no width
// can overflow it. A negative width counts as 0.
std::int64_t strideFor(std::int64_t width, PixelFormat format);

// The fixed palette of an indexed format (2, 16 or 256 entries), empty for the
// formats above 8 bits. 1 bit: black, white. 4 bits: the 16 standard VGA
// colours. 8 bits: those 16, a 6x6x6 colour cube, then 24 greys.
const std::vector<ColorRef> &standardPalette(PixelFormat format);

// The stored value of the colour nearest to c that the format can hold (exact
// at 24 and 32 bits; rounded per component at 16 bits; the nearest palette
// entry by squared distance, lowest index on ties, for indexed formats).
std::uint32_t encodeColor(PixelFormat format, ColorRef c);

// The colour a stored value stands for.
ColorRef decodeColor(PixelFormat format, std::uint32_t stored);

// The display's format, used for every bitmap that does not name its own.
// The platform layer sets it once at start-up; it is pf32bit until then.
void setDisplayPixelFormat(PixelFormat format);
PixelFormat displayPixelFormat();
