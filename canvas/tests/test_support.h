#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "canvas/pixel_format.h"
#include "canvas/tbitmap.h"

// The display's format for new bitmaps, set for one scope and put back as it
// was when the scope ends, whatever a failing check does.
class DisplayFormatScope {
public:
    explicit DisplayFormatScope(PixelFormat format) : saved_(displayPixelFormat()) { setDisplayPixelFormat(format); }
    ~DisplayFormatScope() { setDisplayPixelFormat(saved_); }
    DisplayFormatScope(const DisplayFormatScope &) = delete;
    DisplayFormatScope &operator=(const DisplayFormatScope &) = delete;

private:
    PixelFormat saved_;
};

inline const std::vector<PixelFormat> &allFormats()
{
    static const std::vector<PixelFormat> formats = {PixelFormat::pf1bit,  PixelFormat::pf4bit,
                                                     PixelFormat::pf8bit,  PixelFormat::pf16bit,
                                                     PixelFormat::pf24bit, PixelFormat::pf32bit};
    return formats;
}

inline std::string formatName(const testing::TestParamInfo<PixelFormat> &info)
{
    return "bits" + std::to_string(bitsPerPixel(info.param));
}

// The colour c turns into when stored in the format.
inline ColorRef stored(PixelFormat format, ColorRef c)
{
    return decodeColor(format, encodeColor(format, c));
}

// Every pixel, row by row.
inline std::vector<ColorRef> pixelsOf(const TBitmap &b)
{
    std::vector<ColorRef> out;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            out.push_back(b.Pixel(x, y));
    return out;
}

// A colour the format holds exactly, different for neighbouring (x, y) where
// the format has the colours for it.
inline ColorRef patternColor(PixelFormat format, int x, int y)
{
    static const ColorRef colours[] = {clBlack, clWhite, clRed, clBlue, makeColorRef(0x20, 0xC0, 0x60)};
    return stored(format, colours[unsigned(x * 3 + y * 7) % 5]);
}

// Sets every pixel of b to patternColor, without the canvas.
inline void paintPattern(TBitmap &b)
{
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            const ColorRef c = patternColor(b.Format(), x, y);
            // Written through the stored form so this needs no canvas.
            const std::uint32_t v = encodeColor(b.Format(), c);
            std::uint8_t *row = b.ScanLine(y);
            switch (b.BitsPerPixel()) {
            case 32: row[4 * x] = std::uint8_t(v); row[4 * x + 1] = std::uint8_t(v >> 8);
                     row[4 * x + 2] = std::uint8_t(v >> 16); row[4 * x + 3] = std::uint8_t(v >> 24); break;
            case 24: row[3 * x] = std::uint8_t(v); row[3 * x + 1] = std::uint8_t(v >> 8);
                     row[3 * x + 2] = std::uint8_t(v >> 16); break;
            case 16: row[2 * x] = std::uint8_t(v); row[2 * x + 1] = std::uint8_t(v >> 8); break;
            case 8: row[x] = std::uint8_t(v); break;
            case 4: row[x / 2] = std::uint8_t(x % 2 ? (row[x / 2] & 0xF0) | v : (row[x / 2] & 0x0F) | (v << 4)); break;
            default: row[x / 8] = std::uint8_t(v ? row[x / 8] | (0x80 >> x % 8) : row[x / 8] & ~(0x80 >> x % 8));
            }
        }
}
