#pragma once

// Reading, writing, filling and copying pixels within one row of a bitmap, in
// stored values (see encodeColor). Used by TBitmap and TCanvas; x is a pixel
// index into the row and must lie inside it.

#include <cstdint>
#include <cstring>

#include "pixel_format.h"

namespace pixelrows {

// Pixels smaller than a byte: `bits` (1, 2, 4 or 8) per pixel, the leftmost
// pixel in the most significant bits of its byte, as in the bitmaps, BMP
// files and Qt's indexed images. The one place such rows are packed.
inline unsigned readPacked(const std::uint8_t *row, int x, int bits)
{
    if (bits == 8)
        return row[x];
    const int perByte = 8 / bits;
    const int shift = 8 - bits * (x % perByte + 1);
    return (row[x / perByte] >> shift) & ((1u << bits) - 1);
}

inline void writePacked(std::uint8_t *row, int x, int bits, unsigned v)
{
    if (bits == 8) {
        row[x] = std::uint8_t(v);
        return;
    }
    const int perByte = 8 / bits;
    const int shift = 8 - bits * (x % perByte + 1);
    const unsigned mask = ((1u << bits) - 1) << shift;
    row[x / perByte] = std::uint8_t((row[x / perByte] & ~mask) | ((v << shift) & mask));
}

inline std::uint32_t read(const std::uint8_t *row, PixelFormat format, int x)
{
    switch (format) {
    case PixelFormat::pf32bit: {
        std::uint32_t v;
        std::memcpy(&v, row + std::size_t(x) * 4, 4);
        return v;
    }
    case PixelFormat::pf24bit: {
        const std::uint8_t *p = row + std::size_t(x) * 3;
        return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16);
    }
    case PixelFormat::pf16bit: {
        const std::uint8_t *p = row + std::size_t(x) * 2;
        return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8);
    }
    case PixelFormat::pf8bit:
        return row[x];
    case PixelFormat::pf4bit:
        return readPacked(row, x, 4);
    case PixelFormat::pf1bit:
        return readPacked(row, x, 1);
    }
    return 0;
}

inline void write(std::uint8_t *row, PixelFormat format, int x, std::uint32_t v)
{
    switch (format) {
    case PixelFormat::pf32bit:
        std::memcpy(row + std::size_t(x) * 4, &v, 4);
        return;
    case PixelFormat::pf24bit: {
        std::uint8_t *p = row + std::size_t(x) * 3;
        p[0] = std::uint8_t(v);
        p[1] = std::uint8_t(v >> 8);
        p[2] = std::uint8_t(v >> 16);
        return;
    }
    case PixelFormat::pf16bit: {
        std::uint8_t *p = row + std::size_t(x) * 2;
        p[0] = std::uint8_t(v);
        p[1] = std::uint8_t(v >> 8);
        return;
    }
    case PixelFormat::pf8bit:
        row[x] = std::uint8_t(v);
        return;
    case PixelFormat::pf4bit:
        writePacked(row, x, 4, v);
        return;
    case PixelFormat::pf1bit:
        writePacked(row, x, 1, v);
        return;
    }
}

// Pixels x0 <= x < x1 := v.
void fill(std::uint8_t *row, PixelFormat format, int x0, int x1, std::uint32_t v);

// n pixels from src starting at sx to dst starting at dx, both rows in the
// same format. The two ranges must not overlap.
void copy(std::uint8_t *dst, int dx, const std::uint8_t *src, int sx, int n, PixelFormat format);

} // namespace pixelrows
