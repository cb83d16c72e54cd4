#include <climits>
#include <vector>

#include <gtest/gtest.h>

#include "canvas/errors.h"
#include "canvas/tcanvas.h"
#include "canvas/tpicture.h"
#include "test_support.h"

namespace {

TEST(Picture, BitmapIsMadeOnTheFirstCanvasRequestAtThatSize)
{
    TPicture picture;
    EXPECT_TRUE(picture.Empty());
    TCanvas &canvas = [&]() -> TCanvas & {
        const DisplayFormatScope display(PixelFormat::pf16bit);
        return picture.CanvasFor(30, 20);
    }();
    ASSERT_FALSE(picture.Empty());
    TBitmap &bitmap = picture.Bitmap();
    EXPECT_EQ(&canvas.Bitmap(), &bitmap);
    EXPECT_EQ(bitmap.Format(), PixelFormat::pf16bit); // the display's format then
    EXPECT_EQ(bitmap.Width(), 30);
    EXPECT_EQ(bitmap.Height(), 20);
    for (ColorRef c : pixelsOf(bitmap))
        ASSERT_EQ(c, clWhite);

    // Later requests get the same canvas, pen and position, whatever the size.
    canvas.MoveTo(4, 5);
    canvas.Pen().SetWidth(6);
    TCanvas &again = picture.CanvasFor(100, 100);
    EXPECT_EQ(&again, &canvas);
    EXPECT_EQ(again.PenPos(), (Point{4, 5}));
    EXPECT_EQ(again.Pen().Width(), 6);
    EXPECT_EQ(picture.Bitmap().Width(), 30);
}

TEST(Picture, BitmapBeforeAnyCanvasIsAnEmptyStandIn)
{
    TPicture picture;
    TBitmap &standIn = picture.Bitmap();
    EXPECT_TRUE(standIn.Empty());
    EXPECT_EQ(&picture.Bitmap(), &standIn);
    EXPECT_TRUE(picture.Empty());
    // The first canvas request still makes the picture at the control's size.
    picture.CanvasFor(8, 6);
    EXPECT_EQ(picture.Bitmap().Width(), 8);
    EXPECT_EQ(picture.Bitmap().Height(), 6);
    EXPECT_TRUE(standIn.Empty());
}

TEST(Picture, ChangesOfTheBitmapReachThePicture)
{
    TPicture picture;
    std::vector<Rect> seen;
    picture.OnChange = [&](const Rect &r) { seen.push_back(r); };
    TCanvas &canvas = picture.CanvasFor(10, 10);
    canvas.SetPixel(2, 3, clRed);
    canvas.MoveTo(0, 9);
    canvas.LineTo(4, 9);
    EXPECT_EQ(seen, (std::vector<Rect>{{2, 3, 3, 4}, {0, 9, 4, 10}}));
}

TEST(Picture, ACanvasThatCannotBeMadeLeavesThePictureEmpty)
{
    TPicture picture;
    EXPECT_THROW(picture.CanvasFor(INT_MAX, INT_MAX), EOutOfResources);
    EXPECT_TRUE(picture.Empty());
    picture.CanvasFor(3, 3);
    EXPECT_EQ(picture.Bitmap().Width(), 3);
}

} // namespace
