#include "pixel_format.h"

#include <array>
#include <cstddef>
#include <limits>

#include "canvas/wide_int.h"

namespace {

PixelFormat g_displayFormat = PixelFormat::pf32bit;

std::vector<ColorRef> makePalette(PixelFormat format)
{
    // The 16 colours in the order Windows lists them for a 4-bit bitmap:
    // the dark half, silver, grey, then the bright half.
    static constexpr ColorRef vga[16] = {
        makeColorRef(0x00, 0x00, 0x00), makeColorRef(0x80, 0x00, 0x00),
        makeColorRef(0x00, 0x80, 0x00), makeColorRef(0x80, 0x80, 0x00),
        makeColorRef(0x00, 0x00, 0x80), makeColorRef(0x80, 0x00, 0x80),
        makeColorRef(0x00, 0x80, 0x80), makeColorRef(0xC0, 0xC0, 0xC0),
        makeColorRef(0x80, 0x80, 0x80), makeColorRef(0xFF, 0x00, 0x00),
        makeColorRef(0x00, 0xFF, 0x00), makeColorRef(0xFF, 0xFF, 0x00),
        makeColorRef(0x00, 0x00, 0xFF), makeColorRef(0xFF, 0x00, 0xFF),
        makeColorRef(0x00, 0xFF, 0xFF), makeColorRef(0xFF, 0xFF, 0xFF),
    };
    std::vector<ColorRef> palette;
    switch (format) {
    case PixelFormat::pf1bit:
        palette = {clBlack, clWhite};
        break;
    case PixelFormat::pf4bit:
        palette.assign(std::begin(vga), std::end(vga));
        break;
    case PixelFormat::pf8bit:
        palette.assign(std::begin(vga), std::end(vga));
        // Index 16 + 36 r + 6 g + b, each level a multiple of 0x33.
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    palette.push_back(makeColorRef(std::uint8_t(r * 0x33), std::uint8_t(g * 0x33),
                                                   std::uint8_t(b * 0x33)));
        // Greys 8, 18, ..., 238: none of them repeats black or white.
        for (int i = 0; i < 24; ++i) {
            const auto v = std::uint8_t(8 + 10 * i);
            palette.push_back(makeColorRef(v, v, v));
        }
        break;
    default:
        break;
    }
    return palette;
}

int nearestIndex(const std::vector<ColorRef> &palette, ColorRef c)
{
    const int r = redOf(c), g = greenOf(c), b = blueOf(c);
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const int dr = r - redOf(palette[i]);
        const int dg = g - greenOf(palette[i]);
        const int db = b - blueOf(palette[i]);
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) { // strictly less: the lowest index wins a tie
            bestDistance = d;
            best = int(i);
            if (d == 0)
                break;
        }
    }
    return best;
}

// Looking a colour up in the 256-entry palette costs a few hundred steps; the
// spray sets 33 pixels of one colour per move and a converting Draw meets the
// same colours again and again, so recent answers are kept, direct-mapped by
// colour. A slot holds the colour with bit 31 set (a ColorRef never has it)
// and the index in the low byte of the second word.
struct IndexCache {
    static constexpr std::size_t kSlots = 512;
    std::array<std::uint32_t, kSlots> key{};
    std::array<std::uint8_t, kSlots> index{};
};

std::uint32_t cachedNearestIndex(PixelFormat format, ColorRef c)
{
    thread_local IndexCache caches[3];
    IndexCache &cache = caches[format == PixelFormat::pf1bit ? 0 : format == PixelFormat::pf4bit ? 1 : 2];
    const std::size_t slot = ((c * 2654435761u) >> 16) % IndexCache::kSlots;
    const std::uint32_t tagged = c | 0x80000000u;
    if (cache.key[slot] != tagged) {
        cache.key[slot] = tagged;
        cache.index[slot] = std::uint8_t(nearestIndex(standardPalette(format), c));
    }
    return cache.index[slot];
}

} // namespace

int bitsPerPixel(PixelFormat format)
{
    switch (format) {
    case PixelFormat::pf1bit:
        return 1;
    case PixelFormat::pf4bit:
        return 4;
    case PixelFormat::pf8bit:
        return 8;
    case PixelFormat::pf16bit:
        return 16;
    case PixelFormat::pf24bit:
        return 24;
    case PixelFormat::pf32bit:
        return 32;
    }
    return 32;
}

PixelFormat pixelFormatForBits(int bits)
{
    switch (bits) {
    case 1:
        return PixelFormat::pf1bit;
    case 4:
        return PixelFormat::pf4bit;
    case 8:
        return PixelFormat::pf8bit;
    case 16:
        return PixelFormat::pf16bit;
    case 24:
        return PixelFormat::pf24bit;
    default:
        return PixelFormat::pf32bit;
    }
}

std::int64_t strideFor(std::int64_t width, PixelFormat format)
{
    if (width <= 0)
        return 0;
    // Worked in 128 bits; a stride beyond INT64_MAX (no real width gets
    // near it) saturates instead of wrapping.
    const UInt128 bits = (UInt128)width * unsigned(bitsPerPixel(format));
    const UInt128 stride = (bits + 31) / 32 * 4;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    return stride > (UInt128)kMax ? kMax : std::int64_t(stride);
}

const std::vector<ColorRef> &standardPalette(PixelFormat format)
{
    static const std::vector<ColorRef> palettes[] = {
        makePalette(PixelFormat::pf1bit), makePalette(PixelFormat::pf4bit),
        makePalette(PixelFormat::pf8bit), {}};
    switch (format) {
    case PixelFormat::pf1bit:
        return palettes[0];
    case PixelFormat::pf4bit:
        return palettes[1];
    case PixelFormat::pf8bit:
        return palettes[2];
    default:
        return palettes[3];
    }
}

std::uint32_t encodeColor(PixelFormat format, ColorRef c)
{
    c &= 0x00FFFFFF;
    const std::uint32_t r = redOf(c), g = greenOf(c), b = blueOf(c);
    switch (format) {
    case PixelFormat::pf32bit:
        return 0xFF000000u | (r << 16) | (g << 8) | b;
    case PixelFormat::pf24bit:
        return (r << 16) | (g << 8) | b;
    case PixelFormat::pf16bit: {
        // Rounding to the nearest of 32 levels also gives the nearest of the
        // colours decodeColor replicates the bits back to.
        const auto five = [](std::uint32_t v) { return (v * 31 + 127) / 255; };
        return (five(r) << 10) | (five(g) << 5) | five(b);
    }
    case PixelFormat::pf1bit:
    case PixelFormat::pf4bit:
    case PixelFormat::pf8bit:
        return cachedNearestIndex(format, c);
    }
    return 0;
}

ColorRef decodeColor(PixelFormat format, std::uint32_t stored)
{
    switch (format) {
    case PixelFormat::pf32bit:
    case PixelFormat::pf24bit:
        return makeColorRef(std::uint8_t(stored >> 16), std::uint8_t(stored >> 8), std::uint8_t(stored));
    case PixelFormat::pf16bit: {
        const auto eight = [](std::uint32_t v) { return std::uint8_t((v << 3) | (v >> 2)); };
        return makeColorRef(eight((stored >> 10) & 31), eight((stored >> 5) & 31), eight(stored & 31));
    }
    case PixelFormat::pf1bit:
    case PixelFormat::pf4bit:
    case PixelFormat::pf8bit: {
        const std::vector<ColorRef> &palette = standardPalette(format);
        return palette[stored & (palette.size() - 1)];
    }
    }
    return clBlack;
}

void setDisplayPixelFormat(PixelFormat format)
{
    g_displayFormat = format;
}

PixelFormat displayPixelFormat()
{
    return g_displayFormat;
}
