#include <cstdlib>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "canvas/pixel_format.h"
#include "test_support.h"

namespace {

int squaredDistance(ColorRef a, ColorRef b)
{
    const int dr = redOf(a) - redOf(b), dg = greenOf(a) - greenOf(b), db = blueOf(a) - blueOf(b);
    return dr * dr + dg * dg + db * db;
}

TEST(PixelFormat, StrideIsTheBmpRowLength)
{
    struct Case {
        std::int64_t width;
        PixelFormat format;
        std::int64_t stride;
    };
    const Case cases[] = {
        {3, PixelFormat::pf24bit, 12},     {1920, PixelFormat::pf32bit, 7680}, {1366, PixelFormat::pf24bit, 4100},
        {1024, PixelFormat::pf16bit, 2048}, {800, PixelFormat::pf8bit, 800},    {640, PixelFormat::pf4bit, 320},
        {1, PixelFormat::pf1bit, 4},       {33, PixelFormat::pf1bit, 8},       {9, PixelFormat::pf4bit, 8},
        {3, PixelFormat::pf16bit, 8},      {0, PixelFormat::pf32bit, 0},       {-5, PixelFormat::pf24bit, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(strideFor(c.width, c.format), c.stride) << c.width << " at " << bitsPerPixel(c.format);
    // The widest int still has an exact stride, and nothing wraps negative.
    EXPECT_EQ(strideFor(std::numeric_limits<int>::max(), PixelFormat::pf32bit), 4 * std::int64_t(2147483647));
    EXPECT_GT(strideFor(std::numeric_limits<std::int64_t>::max(), PixelFormat::pf32bit), 0);
}

TEST(PixelFormat, BitsRoundTripAndOddDepthsMeanThirtyTwo)
{
    for (PixelFormat f : allFormats())
        EXPECT_EQ(pixelFormatForBits(bitsPerPixel(f)), f);
    for (int bits : {0, 2, 15, 32, -1, 64})
        EXPECT_EQ(pixelFormatForBits(bits), PixelFormat::pf32bit) << bits;
}

TEST(PixelFormat, StandardPalettes)
{
    EXPECT_EQ(standardPalette(PixelFormat::pf1bit), (std::vector<ColorRef>{clBlack, clWhite}));
    const auto &vga = standardPalette(PixelFormat::pf4bit);
    const auto &full = standardPalette(PixelFormat::pf8bit);
    ASSERT_EQ(vga.size(), 16u);
    ASSERT_EQ(full.size(), 256u);
    EXPECT_EQ(vga.front(), clBlack);
    EXPECT_EQ(vga.back(), clWhite);
    EXPECT_TRUE(std::equal(vga.begin(), vga.end(), full.begin()));
    // The cube runs from black to white; the greys are greys.
    EXPECT_EQ(full[16], clBlack);
    EXPECT_EQ(full[16 + 215], clWhite);
    EXPECT_EQ(full[16 + 36 * 1 + 6 * 2 + 3], makeColorRef(0x33, 0x66, 0x99));
    for (int i = 232; i < 256; ++i) {
        EXPECT_EQ(redOf(full[i]), greenOf(full[i]));
        EXPECT_EQ(redOf(full[i]), blueOf(full[i]));
    }
    EXPECT_TRUE(standardPalette(PixelFormat::pf16bit).empty());
    EXPECT_TRUE(standardPalette(PixelFormat::pf32bit).empty());
}

TEST(PixelFormat, StoredLayoutOfTheDirectFormats)
{
    const ColorRef c = makeColorRef(0x12, 0x34, 0x56);
    EXPECT_EQ(encodeColor(PixelFormat::pf32bit, c), 0xFF123456u);
    EXPECT_EQ(encodeColor(PixelFormat::pf24bit, c), 0x00123456u);
    EXPECT_EQ(encodeColor(PixelFormat::pf16bit, clRed), 0x7C00u);
    EXPECT_EQ(encodeColor(PixelFormat::pf16bit, makeColorRef(0, 0xFF, 0)), 0x03E0u);
    EXPECT_EQ(encodeColor(PixelFormat::pf16bit, clBlue), 0x001Fu);
    EXPECT_EQ(decodeColor(PixelFormat::pf16bit, 0x7FFF), clWhite);
    EXPECT_EQ(decodeColor(PixelFormat::pf16bit, 0x4210), makeColorRef(0x84, 0x84, 0x84));
    EXPECT_EQ(decodeColor(PixelFormat::pf32bit, 0xFF123456u), c);
}

TEST(PixelFormat, TrueColourIsExactAndSixteenBitsIsNearestPerComponent)
{
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        const ColorRef c = rng() & 0xFFFFFF;
        EXPECT_EQ(stored(PixelFormat::pf32bit, c), c);
        EXPECT_EQ(stored(PixelFormat::pf24bit, c), c);
    }
    // Every 8-bit level lands on the nearest of the 32 levels 16 bits hold.
    std::vector<int> levels;
    for (std::uint32_t k = 0; k < 32; ++k)
        levels.push_back(redOf(decodeColor(PixelFormat::pf16bit, k << 10)));
    for (int v = 0; v < 256; ++v) {
        const ColorRef got = stored(PixelFormat::pf16bit, makeColorRef(std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)));
        int best = 256;
        for (int level : levels)
            best = std::min(best, std::abs(level - v));
        EXPECT_EQ(std::abs(redOf(got) - v), best) << v;
        EXPECT_EQ(greenOf(got), redOf(got));
        EXPECT_EQ(blueOf(got), redOf(got));
    }
}

class IndexedFormat : public testing::TestWithParam<PixelFormat> {};

TEST_P(IndexedFormat, NearestEntryWithTheLowestIndexOnTies)
{
    const PixelFormat f = GetParam();
    const auto &palette = standardPalette(f);
    // Each entry finds itself, or the first entry of the same colour (the
    // 8-bit cube repeats black and white, which the lowest index wins).
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const std::uint32_t index = encodeColor(f, palette[i]);
        EXPECT_LE(index, i);
        EXPECT_EQ(palette[index], palette[i]);
    }
    // Colours chosen at random, in turn with every format, so a remembered
    // answer for one colour or format never stands in for another.
    std::mt19937 rng(11);
    for (int i = 0; i < 3000; ++i) {
        const ColorRef c = rng() & 0xFFFFFF;
        const std::uint32_t index = encodeColor(f, c);
        ASSERT_LT(index, palette.size());
        int best = std::numeric_limits<int>::max();
        std::size_t first = 0;
        for (std::size_t j = 0; j < palette.size(); ++j)
            if (squaredDistance(c, palette[j]) < best) {
                best = squaredDistance(c, palette[j]);
                first = j;
            }
        ASSERT_EQ(index, first) << std::hex << c;
        encodeColor(PixelFormat::pf8bit, rng() & 0xFFFFFF);
        encodeColor(PixelFormat::pf4bit, c ^ 0x010101);
    }
}

INSTANTIATE_TEST_SUITE_P(, IndexedFormat,
                         testing::Values(PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit), formatName);

TEST(PixelFormat, IndexedBoundaries)
{
    // 0x40 red lies as far from black (0) as from maroon (1): black wins.
    EXPECT_EQ(encodeColor(PixelFormat::pf4bit, makeColorRef(0x40, 0, 0)), 0u);
    // Mid-grey at one bit: 0x80 is nearer white, 0x7F nearer black.
    EXPECT_EQ(encodeColor(PixelFormat::pf1bit, makeColorRef(0x80, 0x80, 0x80)), 1u);
    EXPECT_EQ(encodeColor(PixelFormat::pf1bit, makeColorRef(0x7F, 0x7F, 0x7F)), 0u);
}

} // namespace
