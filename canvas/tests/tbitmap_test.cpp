#include <climits>
#include <vector>

#include <gtest/gtest.h>

#include "canvas/errors.h"
#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "test_support.h"

namespace {

class BitmapTest : public testing::TestWithParam<PixelFormat> {};

TEST_P(BitmapTest, NewBitmapIsEmptyThenWhiteOnceSized)
{
    TBitmap b(GetParam());
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.ByteSize(), 0u);
    b.SetWidth(13);
    EXPECT_TRUE(b.Empty()); // no height yet
    EXPECT_EQ(b.ByteSize(), 0u);
    b.SetHeight(5);
    ASSERT_FALSE(b.Empty());
    EXPECT_EQ(b.Width(), 13);
    EXPECT_EQ(b.Height(), 5);
    EXPECT_EQ(b.Stride(), strideFor(13, GetParam()));
    EXPECT_EQ(b.ByteSize(), std::size_t(b.Stride()) * 5);
    for (ColorRef c : pixelsOf(b))
        ASSERT_EQ(c, clWhite);
}

TEST_P(BitmapTest, ResizeKeepsTheTopLeftOverlapAndWhitensTheRest)
{
    TBitmap b(GetParam());
    b.SetSize(11, 7);
    paintPattern(b);
    const auto check = [&](int keptWidth, int keptHeight) {
        for (int y = 0; y < b.Height(); ++y)
            for (int x = 0; x < b.Width(); ++x) {
                const bool kept = x < keptWidth && y < keptHeight;
                ASSERT_EQ(b.Pixel(x, y), kept ? patternColor(GetParam(), x, y) : clWhite)
                    << x << "," << y << " in " << b.Width() << "x" << b.Height();
            }
    };
    b.SetWidth(19); // wider: a new white strip on the right
    check(11, 7);
    b.SetHeight(4); // lower: the bottom rows go
    check(11, 4);
    b.SetSize(6, 9); // narrower and taller at once
    check(6, 4);
    b.SetSize(20, 20);
    check(6, 4);
}

TEST_P(BitmapTest, ZeroOrNegativeSizeHoldsNoPixels)
{
    TBitmap b(GetParam());
    b.SetSize(8, 8);
    b.SetWidth(-3);
    EXPECT_EQ(b.Width(), 0);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.ByteSize(), 0u);
    b.SetSize(8, 0);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.ByteSize(), 0u);
    b.SetHeight(2); // grows back white
    for (ColorRef c : pixelsOf(b))
        ASSERT_EQ(c, clWhite);
}

TEST_P(BitmapTest, TooLargeRaisesOutOfResourcesAndChangesNothing)
{
    // Nine rows: even at one bit per pixel nine rows of INT_MAX pixels pass
    // the limit, so no attempt below allocates anything.
    TBitmap b(GetParam());
    b.SetSize(5, 9);
    paintPattern(b);
    const auto before = pixelsOf(b);
    const auto attempt = [&](auto &&resize) {
        try {
            resize();
            ADD_FAILURE() << "no exception";
        } catch (const EOutOfResources &e) {
            EXPECT_STREQ(e.what(), "Out of system resources");
        }
        EXPECT_EQ(b.Width(), 5);
        EXPECT_EQ(b.Height(), 9);
        EXPECT_EQ(pixelsOf(b), before);
    };
    attempt([&] { b.SetSize(INT_MAX, INT_MAX); });
    attempt([&] { b.SetHeight(INT_MAX); });
    attempt([&] { b.SetWidth(INT_MAX); });
    // One byte past 2^31 - 1 at 32 bits per pixel: refused before allocating.
    if (GetParam() == PixelFormat::pf32bit)
        attempt([&] { b.SetSize(1 << 29, 1); });
}

TEST_P(BitmapTest, AHugeWidthWithoutRowsNeedsNoMemory)
{
    // Width first, then height, as a picture is sized: the width alone
    // allocates nothing, so only the height can fail.
    TBitmap b(GetParam());
    b.SetWidth(INT_MAX);
    EXPECT_EQ(b.Width(), INT_MAX);
    EXPECT_EQ(b.ByteSize(), 0u);
    EXPECT_THROW(b.SetHeight(1000), EOutOfResources);
    EXPECT_EQ(b.Height(), 0);
}

TEST_P(BitmapTest, ChangeCountMovesWithEveryDrawingAndResizeButNotWithReads)
{
    TBitmap b(GetParam());
    std::uint64_t last = b.ChangeCount();
    const auto moved = [&] {
        const bool m = b.ChangeCount() != last;
        last = b.ChangeCount();
        return m;
    };
    b.SetSize(6, 5);
    EXPECT_TRUE(moved());
    b.SetSize(6, 5);
    EXPECT_FALSE(moved()) << "the same size is no change";

    TCanvas &c = b.Canvas();
    c.Pen().SetColor(clRed);
    c.Pen().SetWidth(2);
    c.MoveTo(1, 1);
    EXPECT_EQ(b.Pixel(1, 1), clWhite);
    std::vector<ColorRef> seen = pixelsOf(b);
    EXPECT_FALSE(moved()) << "reads, the pen and moving it change nothing";

    c.LineTo(4, 3);
    EXPECT_TRUE(moved());
    c.SetPixel(0, 0, clBlue);
    EXPECT_TRUE(moved());
    TBitmap source(GetParam());
    source.SetSize(2, 2);
    c.Draw(3, 3, source);
    EXPECT_TRUE(moved());
    c.BlockCopyTarget();
    EXPECT_TRUE(moved()) << "a block copy counts before its pixels are written";
    b.SetHeight(7);
    EXPECT_TRUE(moved());
    EXPECT_NE(pixelsOf(b), seen);
}

INSTANTIATE_TEST_SUITE_P(, BitmapTest, testing::ValuesIn(allFormats()), formatName);

TEST(Bitmap, ChangedPassesTheRectangleToOnChange)
{
    TBitmap b(PixelFormat::pf32bit);
    b.Changed({1, 2, 3, 4}); // nobody listening: nothing happens
    std::vector<Rect> seen;
    b.OnChange = [&](const Rect &r) { seen.push_back(r); };
    b.Changed({1, 2, 3, 4});
    b.Changed({});
    EXPECT_EQ(seen, (std::vector<Rect>{{1, 2, 3, 4}, {}}));
}

TEST(Bitmap, NewBitmapTakesTheDisplayFormat)
{
    EXPECT_EQ(TBitmap().Format(), PixelFormat::pf32bit); // until the display's format is known
    const DisplayFormatScope display(PixelFormat::pf8bit);
    EXPECT_EQ(TBitmap().Format(), PixelFormat::pf8bit);
}

TEST(Bitmap, CanvasIsMadeOnceAndKept)
{
    TBitmap b(PixelFormat::pf24bit);
    EXPECT_FALSE(b.HasCanvas());
    TCanvas &c = b.Canvas();
    EXPECT_TRUE(b.HasCanvas());
    EXPECT_EQ(&b.Canvas(), &c);
    EXPECT_EQ(&c.Bitmap(), &b);
}

} // namespace
