#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "canvas/errors.h"
#include "canvas/pixel_format.h"
#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "saving/bmp_writer.h"
#include "saving/byte_output.h"
#include "saving/tests/bmp_reader.h"

namespace {

std::uint32_t field(const std::vector<std::uint8_t> &b, std::size_t at, int n) { return testbmp::le(b, at, n); }

// Fills every pixel with a pseudo-random value the format can hold (at 16 bits
// the unused top bit too), and the row padding with junk that must not reach
// the file.
void scramble(TBitmap &bitmap, unsigned seed)
{
    std::mt19937 random(seed);
    const int bits = bitmap.BitsPerPixel();
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::uint8_t *row = bitmap.ScanLine(y);
        for (std::int64_t i = 0; i < bitmap.Stride(); ++i)
            row[i] = std::uint8_t(random());
        if (bits == 32)
            for (int x = 0; x < bitmap.Width(); ++x)
                row[4 * x + 3] = 0xFF;
    }
}

struct Example {
    int width, height;
    PixelFormat format;
    std::uint32_t colors, offBits, stride, sizeImage, fileLength;
};

class WorkedExamples : public ::testing::TestWithParam<Example> {};

} // namespace

// Each row: picture, bits, N, bfOffBits, stride, biSizeImage, file length.
TEST_P(WorkedExamples, HeaderFieldsAndLengthsMatchTheLayout)
{
    const Example e = GetParam();
    TBitmap bitmap(e.format);
    bitmap.SetSize(e.width, e.height);
    bmp::DibDescription dib;
    const std::vector<std::uint8_t> file = bmp::encode(bitmap, dib);

    ASSERT_EQ(file.size(), e.fileLength);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(field(file, 2, 4), e.fileLength);           // bfSize
    EXPECT_EQ(field(file, 6, 4), 0u);                     // both reserved words
    EXPECT_EQ(field(file, 10, 4), e.offBits);             // bfOffBits
    EXPECT_EQ(field(file, 14, 4), 40u);                   // biSize
    EXPECT_EQ(std::int32_t(field(file, 18, 4)), e.width); // biWidth
    EXPECT_EQ(std::int32_t(field(file, 22, 4)), e.height);
    EXPECT_EQ(field(file, 26, 2), 1u);                    // biPlanes
    EXPECT_EQ(field(file, 28, 2), std::uint32_t(bitsPerPixel(e.format)));
    EXPECT_EQ(field(file, 30, 4), bmp::BI_RGB);
    EXPECT_EQ(field(file, 34, 4), e.sizeImage);
    EXPECT_EQ(field(file, 38, 4), 0u);                    // resolutions
    EXPECT_EQ(field(file, 42, 4), 0u);
    EXPECT_EQ(field(file, 46, 4), e.colors);              // biClrUsed = N, even for a full table
    EXPECT_EQ(field(file, 50, 4), 0u);

    const bmp::FileLayout layout = bmp::encodeHeaders(dib).layout;
    EXPECT_EQ(layout.stride, e.stride);
    EXPECT_EQ(layout.colors, e.colors);
    EXPECT_FALSE(layout.masks);

    // A new bitmap is white: check the first stored pixel decodes to white.
    const testbmp::Parsed parsed = testbmp::parse(file);
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.at(0, 0), clWhite);
    EXPECT_EQ(parsed.at(e.width - 1, e.height - 1), clWhite);
}

INSTANTIATE_TEST_SUITE_P(
    Bmp, WorkedExamples,
    ::testing::Values(Example{3, 2, PixelFormat::pf24bit, 0, 54, 12, 24, 78},
                      Example{1920, 1080, PixelFormat::pf32bit, 0, 54, 7680, 8294400, 8294454},
                      Example{1366, 768, PixelFormat::pf24bit, 0, 54, 4100, 3148800, 3148854},
                      Example{1024, 768, PixelFormat::pf16bit, 0, 54, 2048, 1572864, 1572918},
                      Example{800, 600, PixelFormat::pf8bit, 256, 1078, 800, 480000, 481078},
                      Example{640, 480, PixelFormat::pf4bit, 16, 118, 320, 153600, 153718},
                      Example{33, 5, PixelFormat::pf1bit, 2, 62, 8, 40, 102}));

TEST(BmpWriter, SmallTrueColourFileIsByteExact)
{
    TBitmap bitmap(PixelFormat::pf24bit);
    bitmap.SetSize(3, 2);
    bitmap.Canvas().SetPixel(0, 0, makeColorRef(0x11, 0x22, 0x33)); // top left
    bitmap.Canvas().SetPixel(2, 1, makeColorRef(0xAA, 0xBB, 0xCC)); // bottom right
    const std::vector<std::uint8_t> file = bmp::encode(bitmap);

    const std::array<std::uint8_t, 54> header = {
        'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, // file header
        40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 24, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(file.size(), 78u);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));

    // Bottom row first: white, white, the pixel set at (2, 1); then three
    // padding bytes. Then the top row with the pixel set at (0, 0).
    const std::array<std::uint8_t, 24> rows = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xCC, 0xBB, 0xAA, 0, 0, 0,
        0x33, 0x22, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0};
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), file.begin() + 54));
}

TEST(BmpWriter, EveryDepthRoundTripsThroughAnIndependentReader)
{
    for (PixelFormat format : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit, PixelFormat::pf16bit,
                               PixelFormat::pf24bit, PixelFormat::pf32bit}) {
        SCOPED_TRACE(bitsPerPixel(format));
        TBitmap bitmap(format);
        bitmap.SetSize(37, 11); // odd width: every depth but 32 needs row padding
        scramble(bitmap, 7u + unsigned(bitsPerPixel(format)));
        const std::vector<std::uint8_t> file = bmp::encode(bitmap);

        const testbmp::Parsed parsed = testbmp::parse(file);
        ASSERT_EQ(parsed.error, "");
        EXPECT_EQ(parsed.bitCount, bitsPerPixel(format));
        EXPECT_EQ(parsed.compression, 0u);
        ASSERT_EQ(parsed.width, 37);
        ASSERT_EQ(parsed.height, 11);
        int mismatches = 0;
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 37; ++x)
                if (parsed.at(x, y) != bitmap.Pixel(x, y) && mismatches++ < 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << "): file " << std::hex << parsed.at(x, y)
                                  << ", picture " << bitmap.Pixel(x, y);
        EXPECT_EQ(mismatches, 0);

        // What readers ignore is still written as zeros: row padding, the
        // bits after a row's last pixel, the fourth byte of 32-bit pixels.
        const std::size_t used = (std::size_t(37) * std::size_t(parsed.bitCount) + 7) / 8;
        for (int y = 0; y < 11; ++y) {
            const std::uint8_t *row = file.data() + parsed.offBits + std::size_t(y) * parsed.stride;
            for (std::size_t i = used; i < parsed.stride; ++i)
                EXPECT_EQ(row[i], 0) << "row " << y << " byte " << i;
            if (parsed.bitCount < 8) {
                EXPECT_EQ(row[used - 1] & ((1u << (8 - (37 * parsed.bitCount) % 8)) - 1), 0u);
            }
            for (int x = 0; x < 37; ++x) {
                if (parsed.bitCount == 32) {
                    EXPECT_EQ(row[4 * x + 3], 0);
                }
                if (parsed.bitCount == 16) {
                    EXPECT_EQ(row[2 * x + 1] & 0x80, 0);
                }
            }
        }
    }
}

TEST(BmpWriter, ConvertedImageIsKeptUntilTheNextDrawing)
{
    TBitmap bitmap(PixelFormat::pf8bit);
    bitmap.SetSize(21, 9);
    scramble(bitmap, 3);
    bmp::DibDescription dib;

    const std::vector<std::uint8_t> first = bmp::encode(bitmap, dib);
    EXPECT_EQ(dib.conversions, 1);
    EXPECT_EQ(bitmap.Pixel(3, 3), testbmp::parse(first).at(3, 3)); // a read changes nothing
    const std::vector<std::uint8_t> second = bmp::encode(bitmap, dib);
    EXPECT_EQ(dib.conversions, 1) << "a second save without a change converted again";
    EXPECT_EQ(first, second);
    EXPECT_EQ(dib.header.biClrUsed, 256u);

    // A stroke makes the kept image out of date; the next save converts again
    // and writes the stroke. The stored header is reused without its colour
    // counts: the full count is stated again and none is marked important.
    bitmap.Canvas().Pen().SetColor(clRed);
    bitmap.Canvas().MoveTo(0, 4);
    bitmap.Canvas().LineTo(21, 4);
    EXPECT_FALSE(dib.converted);
    EXPECT_EQ(dib.bits.capacity(), 0u) << "the out-of-date rows are still held";
    dib.header.biClrUsed = 16;
    dib.header.biClrImportant = 7;

    const std::vector<std::uint8_t> third = bmp::encode(bitmap, dib);
    EXPECT_EQ(dib.conversions, 2);
    EXPECT_NE(third, first);
    EXPECT_EQ(field(third, 50, 4), 0u); // biClrImportant
    const testbmp::Parsed parsed = testbmp::parse(third);
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.clrUsed, 256u);
    for (int x = 0; x < 21; ++x)
        EXPECT_EQ(parsed.at(x, 4), bitmap.Pixel(x, 4));
    EXPECT_EQ(parsed.at(5, 4), decodeColor(PixelFormat::pf8bit, encodeColor(PixelFormat::pf8bit, clRed)));

    // The kept image belongs to its bitmap: another of the same size is
    // converted for itself.
    TBitmap other(PixelFormat::pf8bit);
    other.SetSize(21, 9);
    EXPECT_EQ(testbmp::parse(bmp::encode(other, dib)).at(5, 4), clWhite);
    EXPECT_EQ(dib.conversions, 3);

    // A description that is gone is not called at its bitmap's next change.
    {
        bmp::DibDescription gone;
        bmp::encode(other, gone);
    }
    other.Canvas().SetPixel(0, 0, clBlack);
    EXPECT_TRUE(dib.bits.empty());
}

TEST(BmpWriter, AResizeWithoutADrawingStillConvertsAgain)
{
    TBitmap bitmap(PixelFormat::pf32bit);
    bitmap.SetSize(5, 5);
    bmp::DibDescription dib;
    bmp::encode(bitmap, dib);
    bitmap.SetSize(7, 3);
    const testbmp::Parsed parsed = testbmp::parse(bmp::encode(bitmap, dib));
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.width, 7);
    EXPECT_EQ(parsed.height, 3);
}

TEST(BmpWriter, BitfieldsDescriptionGetsTheFixedMasksWhenRedIsZero)
{
    TBitmap bitmap(PixelFormat::pf32bit);
    bitmap.SetSize(9, 4);
    scramble(bitmap, 11);
    bmp::DibDescription dib;
    dib.header.biSize = 40;
    dib.header.biCompression = bmp::BI_BITFIELDS;

    const std::vector<std::uint8_t> file = bmp::encode(bitmap, dib);
    EXPECT_EQ(field(file, 30, 4), 3u);  // compression
    EXPECT_EQ(field(file, 10, 4), 66u); // bfOffBits counts the masks
    EXPECT_EQ(field(file, 54, 4), 0x00FF0000u);
    EXPECT_EQ(field(file, 58, 4), 0x0000FF00u);
    EXPECT_EQ(field(file, 62, 4), 0x000000FFu);
    EXPECT_EQ(field(file, 46, 4), 0u);
    EXPECT_EQ(file.size(), 66u + 9 * 4 * 4);
    const testbmp::Parsed parsed = testbmp::parse(file);
    ASSERT_EQ(parsed.error, "");
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x)
            EXPECT_EQ(parsed.at(x, y), bitmap.Pixel(x, y));

    // After a drawing the stored description keeps its compression.
    bitmap.Canvas().SetPixel(0, 0, clBlack);
    EXPECT_EQ(field(bmp::encode(bitmap, dib), 30, 4), 3u);
}

TEST(BmpWriter, SixteenBitBitfieldsRepacksThePixelsToTheMasks)
{
    TBitmap bitmap(PixelFormat::pf16bit);
    bitmap.SetSize(13, 3);
    scramble(bitmap, 5);
    bmp::DibDescription dib;
    dib.header.biSize = 40;
    dib.header.biCompression = bmp::BI_BITFIELDS;

    const testbmp::Parsed parsed = testbmp::parse(bmp::encode(bitmap, dib));
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.masks[0], 0xF800u);
    EXPECT_EQ(parsed.masks[1], 0x07E0u);
    EXPECT_EQ(parsed.masks[2], 0x001Fu);
    // 5-6-5: red and blue keep their five bits, green gains one bit whose top
    // five are the picture's.
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 13; ++x) {
            std::uint16_t stored;
            std::memcpy(&stored, bitmap.ScanLine(y) + 2 * x, 2);
            const std::size_t i = std::size_t(y) * 13 + std::size_t(x);
            EXPECT_EQ(parsed.fields[0][i], (stored >> 10) & 31u);
            EXPECT_EQ(parsed.fields[1][i] >> 1, (stored >> 5) & 31u);
            EXPECT_EQ(parsed.fields[2][i], stored & 31u);
        }

    // Masks a reader could not use are refused rather than written.
    const std::uint32_t unusable[][3] = {
        {0x7C00, 0x0FE0, 0x001F},  // green overlaps red
        {0x7C01, 0x03E0, 0x001E},  // red in two runs
        {0x7C000, 0x03E0, 0x001F}, // red outside the pixel
    };
    for (const auto &masks : unusable) {
        std::copy(std::begin(masks), std::end(masks), dib.masks);
        bitmap.Canvas().SetPixel(0, 0, clBlack);
        EXPECT_THROW(bmp::encode(bitmap, dib), EInvalidGraphic);
    }
}

TEST(BmpWriter, FewerColoursUsedCutsTheTableAndMapsEveryPixelIntoIt)
{
    TBitmap bitmap(PixelFormat::pf8bit);
    bitmap.SetSize(17, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            bitmap.ScanLine(y)[x] = std::uint8_t(16 * y + x); // every palette index once
    bmp::DibDescription dib;
    dib.header.biSize = 40;
    dib.header.biClrUsed = 16;

    const std::vector<std::uint8_t> file = bmp::encode(bitmap, dib);
    const testbmp::Parsed parsed = testbmp::parse(file);
    ASSERT_EQ(parsed.error, ""); // also: no pixel points beyond the 16 entries
    EXPECT_EQ(parsed.clrUsed, 16u);
    EXPECT_EQ(parsed.offBits, 54u + 16 * 4);
    const std::vector<ColorRef> &palette = standardPalette(PixelFormat::pf8bit);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(parsed.at(i, 0), palette[std::size_t(i)]) << "kept entries keep their pixels";
    // Pure red, green and blue of the colour cube land on the table's own.
    for (int y = 1; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const ColorRef c = parsed.at(x, y);
            bool inTable = false;
            for (int i = 0; i < 16; ++i)
                inTable = inTable || c == palette[std::size_t(i)];
            EXPECT_TRUE(inTable);
        }
}

TEST(BmpWriter, PictureWithoutPixelsIsRefusedAndWritesNothing)
{
    for (auto size : {std::pair{0, 0}, std::pair{10, 0}, std::pair{0, 10}}) {
        TBitmap bitmap(PixelFormat::pf32bit);
        bitmap.SetSize(size.first, size.second);
        MemoryOutput out;
        bmp::DibDescription dib;
        EXPECT_THROW(bmp::saveToStream(bitmap, dib, out), EInvalidGraphic);
        EXPECT_TRUE(out.bytes.empty());
    }
}

namespace {

// Stores blocks until `capacity` bytes are used up, then stores short.
class LimitedOutput : public ByteOutput {
public:
    explicit LimitedOutput(std::size_t capacity) : capacity_(capacity) {}
    std::size_t write(const void *, std::size_t count) override
    {
        if (count == 0)
            ++emptyCalls;
        const std::size_t stored = std::min(count, capacity_ - used);
        used += stored;
        return stored;
    }
    std::size_t used = 0;
    int emptyCalls = 0;

private:
    std::size_t capacity_;
};

} // namespace

TEST(BmpWriter, AShortWriteAnywhereRaisesStreamWriteError)
{
    TBitmap bitmap(PixelFormat::pf4bit);
    bitmap.SetSize(5, 3);
    const std::size_t length = bmp::encode(bitmap).size(); // 14 + 40 + 64 + 12
    // Inside the file header, between blocks, inside the table, one byte short.
    for (std::size_t capacity : {std::size_t(0), std::size_t(9), std::size_t(14), std::size_t(54),
                                 std::size_t(60), length - 1}) {
        SCOPED_TRACE(capacity);
        LimitedOutput out(capacity);
        bmp::DibDescription dib;
        try {
            bmp::saveToStream(bitmap, dib, out);
            ADD_FAILURE() << "no error";
        } catch (const EWriteError &e) {
            EXPECT_STREQ(e.what(), "Stream write error");
        }
        EXPECT_EQ(out.used, capacity);
    }

    // Enough room: the whole file, and no empty block (an output may answer
    // an empty write with 0, which must not count as a short write).
    LimitedOutput enough(length);
    bmp::DibDescription dib;
    bmp::saveToStream(bitmap, dib, enough);
    EXPECT_EQ(enough.used, length);
    EXPECT_EQ(enough.emptyCalls, 0);

    // A 24-bit picture has no table: still no empty block.
    TBitmap rgb(PixelFormat::pf24bit);
    rgb.SetSize(2, 2);
    LimitedOutput out(1000);
    bmp::DibDescription rgbDib;
    bmp::saveToStream(rgb, rgbDib, out);
    EXPECT_EQ(out.used, bmp::encode(rgb).size());
    EXPECT_EQ(out.emptyCalls, 0);
}
