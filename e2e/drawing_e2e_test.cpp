// Drawing on the frozen desktop with real pointer input: pencil, spray, line.

#include <gtest/gtest.h>

#include "steps.h"

using namespace e2e;

namespace {

constexpr Rgb black{0, 0, 0};
constexpr Rgb red{255, 0, 0};
constexpr Rgb blue{0, 0, 255};

// The pixels of row y from x0 to x1 - 1 that do not have colour c.
long offColour(const SkarvelRun &run, int y, int x0, int x1, Rgb c)
{
    long off = 0;
    const Image row = run.display.grab({x0, y, x1 - x0, 1});
    for (int x = 0; x < row.width(); ++x)
        off += row.pixel(x, 0) == c ? 0 : 1;
    return off;
}

// How many pixels of the rectangle differ from the desktop pattern, and
// whether every one of them has colour c.
struct Changes {
    long count = 0;
    bool allOf = true;
};
Changes changesIn(const SkarvelRun &run, const Rect &r, Rgb c)
{
    Changes changes;
    const Image image = run.display.grab(r);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const Rgb actual = image.pixel(x, y);
            if (actual != expectedDesktopColor(Pattern::A, r.x + x, r.y + y)) {
                ++changes.count;
                changes.allOf = changes.allOf && actual == c;
            }
        }
    return changes;
}

} // namespace

TEST(Drawing, PencilSprayAndLineLeaveTheirMarksWhereThePointerWas)
{
    SkarvelRun run;

    // The pencil at its start settings: black, one pixel, the last point left out.
    run.display.drag({200, 300}, {400, 300}, 10);
    EXPECT_TRUE(waitUntil([&] { return offColour(run, 300, 200, 400, black) == 0; }))
        << offColour(run, 300, 200, 400, black) << " pixels of the stroke are not black";
    EXPECT_EQ(run.pixel({400, 300}), expectedDesktopColor(Pattern::A, 400, 300)) << "the last point stays undrawn";
    EXPECT_EQ(run.pixel({300, 302}), expectedDesktopColor(Pattern::A, 300, 302)) << "one pixel wide";
    EXPECT_LT(changesIn(run, {200, 299, 201, 3}, black).count, 200) << "part of the line was black already";

    // The spray in a blue mixed but not handed to the pen.
    WindowInfo options = run.openOptions();
    run.chooseTool(options, options::spray);
    run.mix(options, 0, 0, 255);
    // Where no tile is blue, so that every dot shows.
    const Point at = clearArea(80, 80, {blue}, {450, 100});
    const Point p{at.x + 40, at.y + 40};
    run.display.moveTo(p);
    run.display.press();
    for (int i = 1; i <= 5; ++i)
        run.display.moveTo(p.x + i, p.y);
    run.display.release();
    // Dots only within the radius 10 of the moves, all blue. (Qt may merge
    // some of the moves, so the number of dots is not fixed.)
    ASSERT_TRUE(waitUntil([&] { return changesIn(run, {at.x, at.y, 80, 80}, blue).count >= 20; }));
    const Image area = run.display.grab({at.x, at.y, 80, 80});
    long inside = 0, outside = 0, notBlue = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x) {
            const Rgb c = area.pixel(x, y);
            if (c == expectedDesktopColor(Pattern::A, at.x + x, at.y + y))
                continue;
            notBlue += c == blue ? 0 : 1;
            const int dx = at.x + x - p.x, dy = at.y + y - p.y;
            (dx >= -9 && dx <= 5 + 9 && dy >= -9 && dy <= 9 ? inside : outside) += 1;
        }
    EXPECT_GE(inside, 20);
    EXPECT_EQ(outside, 0) << "dots beyond the radius";
    EXPECT_EQ(notBlue, 0);

    // The line tool: two clicks, a straight line in the pen's colour, which
    // "Закрыть окно" has just made blue.
    run.chooseTool(options, options::line);
    run.closeOptions(options);
    const Point row = clearArea(200, 1, {blue}, {100, 450});
    run.display.click(row.x, row.y);
    EXPECT_EQ(run.pixel({row.x + 50, row.y}), expectedDesktopColor(Pattern::A, row.x + 50, row.y))
        << "the first click draws nothing";
    run.display.click(row.x + 200, row.y);
    EXPECT_TRUE(waitUntil([&] { return offColour(run, row.y, row.x, row.x + 200, blue) == 0; }));
}

TEST(Drawing, APencilTakesAMixedColourOnlyAfterCloseTheSprayAtOnce)
{
    SkarvelRun run;
    WindowInfo options = run.openOptions();
    run.mix(options, 255, 0, 0);
    ASSERT_TRUE(run.waitPixel(SkarvelRun::at(options, options::swatch), red));

    // Not yet handed over: the pencil still draws black.
    run.display.drag({100, 650}, {300, 650}, 5);
    EXPECT_TRUE(waitUntil([&] { return offColour(run, 650, 100, 300, black) == 0; }));

    // The spray reads the swatch itself.
    run.chooseTool(options, options::spray);
    const Point at = clearArea(80, 60, {red}, {450, 500});
    run.display.drag({at.x + 30, at.y + 30}, {at.x + 50, at.y + 30}, 4);
    // At least one move's dots (Qt may merge moves that arrive together).
    Changes dots;
    EXPECT_TRUE(waitUntil([&] { return (dots = changesIn(run, {at.x, at.y, 80, 60}, red)).count > 20; }));
    EXPECT_TRUE(dots.allOf);

    // "Закрыть окно" hands the colour to the pen.
    run.chooseTool(options, options::pencil);
    run.closeOptions(options);
    run.display.drag({100, 700}, {300, 700}, 5);
    EXPECT_TRUE(waitUntil([&] { return offColour(run, 700, 100, 300, red) == 0; }));
    EXPECT_LT(changesIn(run, {100, 700, 200, 1}, red).count, 200) << "part of the line was red already";
}

TEST(Drawing, AStrokeGoesOnAcrossTheOpenOptionsWindow)
{
    SkarvelRun run;
    const WindowInfo options = run.openOptions();
    const int y = options.rect.y + 150;
    // From left of the window to right of it, through it, with the button held.
    run.display.drag({60, y}, {options.frameRect.right() + 100, y}, 20);
    // The window is still in front of the surface.
    ASSERT_TRUE(run.display.windowInfo(options.id)->viewable());
    EXPECT_TRUE(waitUntil([&] { return offColour(run, y, 60, options.frameRect.x, black) == 0; }));

    run.display.activateWindow(options);
    run.display.key(XK_F4, AltModifier);
    ASSERT_TRUE(run.display.waitWindowGone("Опции"));
    EXPECT_TRUE(waitUntil([&] { return offColour(run, y, 60, options.frameRect.right() + 100, black) == 0; }))
        << offColour(run, y, 60, options.frameRect.right() + 100, black) << " pixels missing under the window";
}

TEST(Drawing, ThicknessAndLineWidthComeFromTheField)
{
    SkarvelRun run;
    WindowInfo options = run.openOptions();
    run.typeInto(options, options::thickness, "7");
    run.closeOptions(options);
    run.display.drag({200, 400}, {400, 400}, 8);
    // Seven pixels across: rows 397 to 403 are black along the stroke.
    EXPECT_TRUE(waitUntil([&] {
        for (int y = 397; y <= 403; ++y)
            if (offColour(run, y, 210, 390, black) != 0)
                return false;
        return true;
    }));
    for (int y : {396, 404}) {
        long outside = 0;
        for (int x = 210; x < 390; ++x)
            outside += run.pixel({x, y}) == expectedDesktopColor(Pattern::A, x, y) ? 0 : 1;
        EXPECT_EQ(outside, 0) << "row " << y << ": the stroke is no wider than seven pixels";
    }
}

TEST(Drawing, WithQtScalingADotLandsOnThePixelUnderThePointer)
{
    ProgramOptions scaled;
    scaled.env["QT_SCALE_FACTOR"] = "2";
    SkarvelRun run({1024, 768, 24, true}, scaled);
    // Odd screen positions fall between two logical pixels.
    run.display.drag({301, 201}, {341, 201}, 4);
    EXPECT_TRUE(waitUntil([&] { return offColour(run, 201, 301, 341, black) == 0; }))
        << offColour(run, 201, 301, 341, black) << " pixels off";
    EXPECT_EQ(run.pixel({300, 201}), expectedDesktopColor(Pattern::A, 300, 201));
    EXPECT_EQ(run.pixel({320, 200}), expectedDesktopColor(Pattern::A, 320, 200));
    EXPECT_EQ(run.pixel({320, 202}), expectedDesktopColor(Pattern::A, 320, 202));
}
