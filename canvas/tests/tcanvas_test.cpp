#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "test_support.h"

namespace {

// Records what the bitmap was told: the notifications with their rectangles,
// and whether the changing signal came first (it moves the change count).
struct Signals {
    explicit Signals(TBitmap &b) : bitmap(b), seen(b.ChangeCount())
    {
        bitmap.OnChange = [this](const Rect &r) {
            rects.push_back(r);
            changingCameFirst.push_back(bitmap.ChangeCount() != seen);
            seen = bitmap.ChangeCount();
        };
    }
    bool quiet() const { return rects.empty() && bitmap.ChangeCount() == seen; }
    TBitmap &bitmap;
    std::uint64_t seen;
    std::vector<Rect> rects;
    std::vector<bool> changingCameFirst;
};

// The smallest rectangle around the pixels that differ between two states.
Rect differenceOf(const std::vector<ColorRef> &a, const std::vector<ColorRef> &b, int width)
{
    Rect r;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) {
            const int x = int(i % std::size_t(width)), y = int(i / std::size_t(width));
            r = r.united({x, y, x + 1, y + 1});
        }
    return r;
}

class CanvasTest : public testing::TestWithParam<PixelFormat> {
protected:
    CanvasTest() : bitmap(GetParam()) { bitmap.SetSize(20, 16); }
    TCanvas &canvas() { return bitmap.Canvas(); }
    bool painted(int x, int y) const { return bitmap.Pixel(x, y) != clWhite; }
    TBitmap bitmap;
};

TEST_P(CanvasTest, NewCanvasStartsAtTheOriginWithABlackPenOfWidthOne)
{
    EXPECT_EQ(canvas().PenPos(), (Point{0, 0}));
    EXPECT_EQ(canvas().Pen().Color(), clBlack);
    EXPECT_EQ(canvas().Pen().Width(), 1);
    canvas().LineTo(3, 0);
    EXPECT_TRUE(painted(0, 0));
    EXPECT_TRUE(painted(2, 0));
    EXPECT_FALSE(painted(3, 0));
}

TEST_P(CanvasTest, SetPixelStoresTheNearestColourInsideOnly)
{
    Signals s(bitmap);
    const ColorRef c = makeColorRef(0x12, 0x9A, 0xE7);
    canvas().SetPixel(3, 4, c);
    EXPECT_EQ(bitmap.Pixel(3, 4), stored(GetParam(), c));
    if (bitmap.BitsPerPixel() >= 24) {
        EXPECT_EQ(bitmap.Pixel(3, 4), c);
    }
    const auto before = pixelsOf(bitmap);
    for (Point p : {Point{-1, 0}, Point{20, 0}, Point{0, -1}, Point{0, 16}, Point{INT_MIN, INT_MAX}})
        canvas().SetPixel(p.x, p.y, clBlack);
    EXPECT_EQ(pixelsOf(bitmap), before);
    EXPECT_EQ(s.rects, (std::vector<Rect>{{3, 4, 4, 5}, {}, {}, {}, {}, {}}));
    EXPECT_EQ(s.changingCameFirst, std::vector<bool>(6, true));
    EXPECT_EQ(canvas().PenPos(), (Point{0, 0}));
}

TEST_P(CanvasTest, MoveToAndPenChangesSendNothing)
{
    Signals s(bitmap);
    canvas().MoveTo(5, 6);
    canvas().Pen().SetColor(clRed);
    canvas().Pen().SetWidth(4);
    EXPECT_TRUE(s.quiet());
    EXPECT_EQ(canvas().PenPos(), (Point{5, 6}));
}

TEST_P(CanvasTest, PenWidthZeroDrawsLikeOneAndNegativeIsIgnored)
{
    TBitmap other(GetParam());
    other.SetSize(20, 16);
    canvas().Pen().SetWidth(0);
    EXPECT_EQ(canvas().Pen().Width(), 0);
    canvas().MoveTo(1, 2);
    canvas().LineTo(17, 13);
    other.Canvas().MoveTo(1, 2);
    other.Canvas().LineTo(17, 13);
    EXPECT_EQ(pixelsOf(bitmap), pixelsOf(other));

    canvas().Pen().SetWidth(5);
    canvas().Pen().SetWidth(-3);
    EXPECT_EQ(canvas().Pen().Width(), 5);
}

TEST_P(CanvasTest, ThinChainDrawsEveryPointOnceAndLeavesTheLastOne)
{
    const Point chain[] = {{2, 2}, {9, 2}, {9, 8}, {3, 12}, {3, 14}};
    canvas().MoveTo(chain[0].x, chain[0].y);
    for (std::size_t i = 1; i < std::size(chain); ++i)
        canvas().LineTo(chain[i].x, chain[i].y);
    for (std::size_t i = 0; i + 1 < std::size(chain); ++i)
        EXPECT_TRUE(painted(chain[i].x, chain[i].y)) << i;
    EXPECT_FALSE(painted(3, 14));
    EXPECT_TRUE(painted(3, 13));
    EXPECT_EQ(canvas().PenPos(), (Point{3, 14}));
}

TEST_P(CanvasTest, WideChainHasRoundEndsCoveringTheLastPoint)
{
    canvas().Pen().SetWidth(3);
    canvas().MoveTo(4, 4);
    canvas().LineTo(10, 4);
    canvas().LineTo(10, 10);
    // Width 3 covers the 3 x 3 block around each point, corners included
    // (their centres lie sqrt 2 < 1.5 away), and nothing two steps off.
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            EXPECT_TRUE(painted(10 + dx, 10 + dy));
            EXPECT_TRUE(painted(4 + dx, 4 + dy));
        }
    EXPECT_FALSE(painted(10, 12));
    EXPECT_FALSE(painted(12, 11));
    EXPECT_FALSE(painted(2, 4));

    // At width 7 an end is visibly round: the corners of its 7 x 7 square stay white.
    canvas().Pen().SetWidth(7);
    canvas().MoveTo(12, 8);
    canvas().LineTo(12, 8);
    EXPECT_TRUE(painted(15, 8));
    EXPECT_TRUE(painted(15, 9));
    EXPECT_TRUE(painted(14, 10));
    EXPECT_FALSE(painted(15, 11));
    EXPECT_FALSE(painted(15, 5));
    EXPECT_FALSE(painted(16, 8));
}

TEST_P(CanvasTest, LineToFarOutsideDrawsTheVisiblePart)
{
    canvas().MoveTo(10, 5);
    canvas().LineTo(1000000, 5);
    for (int x = 0; x < 20; ++x)
        EXPECT_EQ(painted(x, 5), x >= 10) << x;
    canvas().MoveTo(INT_MIN, INT_MIN);
    canvas().LineTo(INT_MAX, INT_MAX);
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(painted(i, i)) << i;
    canvas().Pen().SetWidth(INT_MAX);
    canvas().Pen().SetColor(clBlack);
    canvas().MoveTo(INT_MAX, INT_MIN);
    canvas().LineTo(INT_MIN, INT_MAX);
    for (ColorRef c : pixelsOf(bitmap))
        ASSERT_EQ(c, clBlack);
}

TEST_P(CanvasTest, LineToReportsExactlyWhatItChanged)
{
    struct Stroke {
        int width;
        Point from, to;
    };
    const Stroke strokes[] = {{1, {3, 3}, {15, 9}}, {0, {-5, 20}, {25, -4}}, {4, {17, 2}, {6, 13}},
                              {9, {-3, -3}, {2, 1}}, {1, {5, 5}, {5, 5}},     {3, {40, 40}, {60, 50}}};
    for (const Stroke &k : strokes) {
        TBitmap b(GetParam());
        b.SetSize(20, 16);
        const auto before = pixelsOf(b);
        Signals s(b);
        b.Canvas().Pen().SetWidth(k.width);
        b.Canvas().MoveTo(k.from.x, k.from.y);
        b.Canvas().LineTo(k.to.x, k.to.y);
        ASSERT_EQ(s.rects.size(), 1u);
        EXPECT_EQ(s.rects[0], differenceOf(before, pixelsOf(b), 20)) << k.width;
        EXPECT_TRUE(s.changingCameFirst[0]);
        EXPECT_EQ(b.Canvas().PenPos(), k.to);
    }
}

TEST_P(CanvasTest, PositionLastsAcrossOtherOperations)
{
    canvas().MoveTo(2, 9);
    canvas().SetPixel(0, 0, clBlack);
    TBitmap other(GetParam());
    other.SetSize(3, 3);
    canvas().Draw(15, 0, other);
    canvas().LineTo(6, 9);
    EXPECT_TRUE(painted(2, 9));
    EXPECT_TRUE(painted(5, 9));
    EXPECT_EQ(canvas().PenPos(), (Point{6, 9}));
}

TEST_P(CanvasTest, DrawCopiesClipsAndKeepsTheRest)
{
    for (PixelFormat sourceFormat : allFormats()) {
        TBitmap dest(GetParam());
        dest.SetSize(9, 7);
        TBitmap big(sourceFormat);
        big.SetSize(12, 10);
        paintPattern(big);
        Signals s(dest);

        dest.Canvas().Draw(0, 0, big); // fills from the top-left, drops the rest
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x)
                ASSERT_EQ(dest.Pixel(x, y), stored(GetParam(), big.Pixel(x, y)));

        TBitmap small(sourceFormat);
        small.SetSize(3, 2);
        dest.Canvas().Draw(0, 0, small); // white 3 x 2 at the corner, the rest stays
        dest.Canvas().Draw(-2, 5, small);
        dest.Canvas().Draw(INT_MAX, 0, small);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x) {
                const bool covered = (x < 3 && y < 2) || (x < 1 && y >= 5);
                ASSERT_EQ(dest.Pixel(x, y), covered ? clWhite : stored(GetParam(), big.Pixel(x, y)))
                    << x << "," << y << " from " << bitsPerPixel(sourceFormat);
            }
        EXPECT_EQ(s.rects, (std::vector<Rect>{{0, 0, 9, 7}, {0, 0, 3, 2}, {0, 5, 1, 7}, {}}));
        EXPECT_EQ(s.changingCameFirst, std::vector<bool>(4, true));
    }
}

TEST_P(CanvasTest, DrawAtEveryOffsetOfTheSameFormatIsExact)
{
    // Sub-byte formats shift pixels within bytes: try every phase.
    TBitmap source(GetParam());
    source.SetSize(13, 3);
    paintPattern(source);
    for (int dx = -9; dx < 12; ++dx) {
        bitmap.SetSize(0, 0);
        bitmap.SetSize(20, 5);
        canvas().Draw(dx, 1, source);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 20; ++x) {
                const bool inside = x >= dx && x < dx + 13 && y >= 1 && y < 4;
                ASSERT_EQ(bitmap.Pixel(x, y), inside ? source.Pixel(x - dx, y - 1) : clWhite) << dx << ": " << x;
            }
    }
}

TEST_P(CanvasTest, DrawOfAnEmptySourceDoesNothingAtAll)
{
    Signals s(bitmap);
    TBitmap empty(GetParam());
    empty.SetWidth(5);
    canvas().Draw(0, 0, empty);
    EXPECT_TRUE(s.quiet());
}

TEST_P(CanvasTest, DrawOntoItselfReadsThePixelsAsTheyWere)
{
    paintPattern(bitmap);
    TBitmap copy(GetParam());
    copy.SetSize(20, 16);
    copy.Canvas().Draw(0, 0, bitmap);
    canvas().Draw(3, 2, bitmap);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(bitmap.Pixel(x, y), (x >= 3 && y >= 2) ? copy.Pixel(x - 3, y - 2) : copy.Pixel(x, y));
}

TEST_P(CanvasTest, BlockCopyIsBracketedBySignals)
{
    Signals s(bitmap);
    TBitmap &target = canvas().BlockCopyTarget();
    EXPECT_EQ(&target, &bitmap);
    EXPECT_NE(bitmap.ChangeCount(), s.seen);
    EXPECT_TRUE(s.rects.empty());
    canvas().BlockCopied({-5, 3, 100, 4});
    EXPECT_EQ(s.rects, (std::vector<Rect>{{0, 3, 20, 4}}));
}

TEST_P(CanvasTest, EmptyBitmapTakesEveryOperationSafely)
{
    TBitmap empty(GetParam());
    Signals s(empty);
    TCanvas &c = empty.Canvas();
    c.LineTo(5, 5);
    c.Pen().SetWidth(30);
    c.LineTo(0, 0);
    c.SetPixel(0, 0, clRed);
    c.Draw(0, 0, bitmap);
    EXPECT_EQ(s.rects, std::vector<Rect>(4));
}

INSTANTIATE_TEST_SUITE_P(, CanvasTest, testing::ValuesIn(allFormats()), formatName);

} // namespace
