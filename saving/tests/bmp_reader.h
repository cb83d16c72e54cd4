#pragma once

// A small BMP reader for the tests, written from the file format alone and
// sharing no code with the writer: it checks the headers for consistency and
// decodes every pixel to a ColorRef, rows top-down.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "canvas/color_ref.h"

namespace testbmp {

struct Parsed {
    std::string error; // empty when the file is a well-formed BMP
    std::uint32_t fileSize = 0, offBits = 0;
    std::int32_t width = 0, height = 0;
    std::uint16_t planes = 0, bitCount = 0;
    std::uint32_t infoSize = 0, compression = 0, sizeImage = 0, clrUsed = 0, clrImportant = 0;
    std::int32_t xPels = 0, yPels = 0;
    std::uint32_t masks[3] = {0, 0, 0};
    std::vector<std::uint32_t> palette; // 0x00RRGGBB
    std::uint32_t stride = 0;
    std::vector<ColorRef> pixels;       // width x height, top row first
    // Raw fields per pixel for BI_BITFIELDS files: the value under each mask,
    // shifted down (red, green, blue).
    std::vector<std::uint32_t> fields[3];

    ColorRef at(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
};

inline std::uint32_t le(const std::vector<std::uint8_t> &b, std::size_t at, int n)
{
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | b[at + std::size_t(i)];
    return v;
}

inline int lowBit(std::uint32_t m)
{
    int s = 0;
    while (m && !(m & 1)) {
        m >>= 1;
        ++s;
    }
    return s;
}

// A field of `max` steps widened to 8 bits.
inline ColorRef expand(std::uint32_t v, std::uint32_t max) { return ColorRef(max ? (v * 255 + max / 2) / max : 0); }

// A pixel stored under BI_BITFIELDS masks: each field is kept (for the tests
// that check the raw fields) and widened to 8 bits.
inline ColorRef fromMasks(Parsed &p, std::uint32_t v)
{
    std::uint32_t comp[3];
    for (int i = 0; i < 3; ++i) {
        comp[i] = (v & p.masks[i]) >> lowBit(p.masks[i]);
        p.fields[i].push_back(comp[i]);
    }
    return makeColorRef(std::uint8_t(expand(comp[0], p.masks[0] >> lowBit(p.masks[0]))),
                        std::uint8_t(expand(comp[1], p.masks[1] >> lowBit(p.masks[1]))),
                        std::uint8_t(expand(comp[2], p.masks[2] >> lowBit(p.masks[2]))));
}

inline Parsed parse(const std::vector<std::uint8_t> &b)
{
    Parsed p;
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') {
        p.error = "no BMP signature";
        return p;
    }
    p.fileSize = le(b, 2, 4);
    p.offBits = le(b, 10, 4);
    p.infoSize = le(b, 14, 4);
    p.width = std::int32_t(le(b, 18, 4));
    p.height = std::int32_t(le(b, 22, 4));
    p.planes = std::uint16_t(le(b, 26, 2));
    p.bitCount = std::uint16_t(le(b, 28, 2));
    p.compression = le(b, 30, 4);
    p.sizeImage = le(b, 34, 4);
    p.xPels = std::int32_t(le(b, 38, 4));
    p.yPels = std::int32_t(le(b, 42, 4));
    p.clrUsed = le(b, 46, 4);
    p.clrImportant = le(b, 50, 4);
    if (p.fileSize != b.size())
        p.error = "bfSize is not the file length";
    else if (le(b, 6, 4) != 0)
        p.error = "reserved fields are not 0";
    else if (p.infoSize != 40 || p.planes != 1 || p.width <= 0 || p.height <= 0)
        p.error = "unexpected info header";
    if (!p.error.empty())
        return p;

    std::size_t at = 54;
    if (p.compression == 3) {
        if (p.bitCount != 16 && p.bitCount != 32) {
            p.error = "BI_BITFIELDS at a depth without masks";
            return p;
        }
        for (int i = 0; i < 3; ++i)
            p.masks[i] = le(b, at + 4 * std::size_t(i), 4);
        at += 12;
    } else if (p.compression != 0) {
        p.error = "compressed";
        return p;
    }
    if (p.bitCount <= 8) {
        const std::uint32_t n = p.clrUsed ? p.clrUsed : (1u << p.bitCount);
        if (n > (1u << p.bitCount) || at + 4 * std::size_t(n) > b.size()) {
            p.error = "bad colour table";
            return p;
        }
        for (std::uint32_t i = 0; i < n; ++i)
            p.palette.push_back(le(b, at + 4 * i, 4));
        at += 4 * std::size_t(n);
    } else if (p.clrUsed != 0) {
        p.error = "colours used above 8 bits";
        return p;
    }
    if (p.offBits != at) {
        p.error = "bfOffBits does not follow the headers";
        return p;
    }
    p.stride = ((std::uint32_t(p.width) * p.bitCount + 31) / 32) * 4;
    const std::size_t image = std::size_t(p.stride) * std::size_t(p.height);
    if (p.sizeImage != 0 && p.sizeImage != image) {
        p.error = "biSizeImage is not stride x height";
        return p;
    }
    if (b.size() != at + image) {
        p.error = "pixel block is not stride x height";
        return p;
    }

    p.pixels.resize(std::size_t(p.width) * std::size_t(p.height));
    for (int y = 0; y < p.height; ++y) {
        // The first stored row is the bottom one.
        const std::size_t row = at + std::size_t(p.height - 1 - y) * p.stride;
        for (int x = 0; x < p.width; ++x) {
            ColorRef c = 0;
            if (p.bitCount == 32 || p.bitCount == 24) {
                const std::size_t px = row + std::size_t(x) * (p.bitCount / 8);
                if (p.compression == 3) {
                    const std::uint32_t v = le(b, px, 4);
                    c = fromMasks(p, v);
                } else {
                    c = makeColorRef(b[px + 2], b[px + 1], b[px]);
                }
            } else if (p.bitCount == 16) {
                const std::uint32_t v = le(b, row + std::size_t(x) * 2, 2);
                if (p.compression == 3) {
                    c = fromMasks(p, v);
                } else {
                    // 5-5-5, each component widened by repeating its top bits.
                    const std::uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, bl = v & 31;
                    c = makeColorRef(std::uint8_t(r << 3 | r >> 2), std::uint8_t(g << 3 | g >> 2),
                                     std::uint8_t(bl << 3 | bl >> 2));
                }
            } else {
                const std::size_t bitPos = std::size_t(x) * p.bitCount;
                const std::uint32_t byte = b[row + bitPos / 8];
                const std::uint32_t index = (byte >> (8 - p.bitCount - bitPos % 8)) & ((1u << p.bitCount) - 1);
                if (index >= p.palette.size()) {
                    p.error = "pixel index beyond the colour table";
                    return p;
                }
                const std::uint32_t q = p.palette[index];
                c = makeColorRef(std::uint8_t(q >> 16), std::uint8_t(q >> 8), std::uint8_t(q));
            }
            p.pixels[std::size_t(y) * std::size_t(p.width) + std::size_t(x)] = c;
        }
    }
    return p;
}

inline std::vector<std::uint8_t> readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace testbmp
