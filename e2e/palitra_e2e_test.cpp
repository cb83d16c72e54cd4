// The options window, end to end: the real program under openbox.

#include <gtest/gtest.h>

#include <cstdlib>

#include "harness/harness.h"

#include <X11/keysym.h>

using namespace e2e;

namespace {

constexpr Rgb black{0, 0, 0};

struct OptionsRun {
    VirtualDisplay display;
    Program app;

    OptionsRun() : app((display.paintDesktop(Pattern::A), display), SKARVEL_PATH)
    {
        // The surface is up once the whole screen is covered by it.
        if (!waitUntil([&] {
                for (const WindowInfo &w : display.windowsWithTitle("Скарвел"))
                    if (w.viewable() && w.rect == display.screenRect())
                        return true;
                return false;
            }))
            throw Error("the surface did not appear");
    }

    // Returns once the window is on the screen with its content drawn, as a
    // person would wait before using it.
    WindowInfo open(int button)
    {
        display.click(600, 500, button);
        const WindowInfo w = display.findWindow("Опции");
        waitUntil([&] {
            const Rgb c = display.pixel(w.rect.x + 10, w.rect.y + 10);
            return std::abs(c.r - 207) < 8 && std::abs(c.g - 205) < 8 && std::abs(c.b - 173) < 8;
        });
        return w;
    }

    // A point of the window's client area, in screen coordinates.
    static Point at(const WindowInfo &w, int x, int y) { return {w.rect.x + x, w.rect.y + y}; }

    // How many almost black pixels a part of the client area shows.
    long darkPixels(const WindowInfo &w, int x, int y, int width, int height) const
    {
        const Image image = display.grab({w.rect.x + x, w.rect.y + y, width, height});
        long dark = 0;
        for (int j = 0; j < image.height(); ++j)
            for (int i = 0; i < image.width(); ++i) {
                const Rgb c = image.pixel(i, j);
                if (c.r < 80 && c.g < 80 && c.b < 80)
                    ++dark;
            }
        return dark;
    }
};

// The swatch's interior, away from its outline.
Rgb swatch(const OptionsRun &run, const WindowInfo &w)
{
    const Point p = OptionsRun::at(w, 120 + 36, 16 + 40);
    return run.display.pixel(p.x, p.y);
}

} // namespace

TEST(OptionsWindow, RightAndMiddleClicksOpenItAtItsPlaceAndAltF4HidesIt)
{
    OptionsRun run;
    for (int button : {RightButton, MiddleButton}) {
        const WindowInfo w = run.open(button);
        EXPECT_EQ(w.rect.width, 208);
        EXPECT_EQ(w.rect.height, 300);
        EXPECT_EQ(w.frameRect.x, 152) << w;
        EXPECT_EQ(w.frameRect.y, 120) << w;
        EXPECT_GT(w.rect.y, w.frameRect.y) << "a title bar above the client area";

        run.display.activateWindow(w);
        run.display.key(XK_F4, AltModifier);
        EXPECT_TRUE(run.display.waitWindowGone("Опции"));
        EXPECT_TRUE(run.app.running()) << run.app.output();
    }
}

TEST(OptionsWindow, ComesBackWhereTheUserLeftIt)
{
    OptionsRun run;
    WindowInfo first = run.open(RightButton);
    // Where the window manager put it first: its designed place.
    ASSERT_TRUE(waitUntil([&] {
        first = run.display.windowInfo(first.id).value_or(first);
        return first.frameRect.x == 152 && first.frameRect.y == 120;
    })) << first;
    // Dragged by its title bar; the button is let go once the window has
    // followed, as a person lets go. The window manager carries out the move,
    // one motion after another (see waitForWindowManager).
    const Point title{first.rect.x + 60, (first.frameRect.y + first.rect.y) / 2};
    run.display.moveTo(title);
    run.display.press();
    for (int i = 1; i <= 10; ++i) {
        run.display.moveTo(title.x + 12 * i, title.y + 8 * i);
        run.display.waitForWindowManager();
    }
    const bool followed = waitUntil([&] {
        const auto now = run.display.windowInfo(first.id);
        return now && now->frameRect.x == first.frameRect.x + 120 && now->frameRect.y == first.frameRect.y + 80;
    });
    run.display.release();
    ASSERT_TRUE(followed) << *run.display.windowInfo(first.id);
    run.display.key(XK_F4, AltModifier);
    ASSERT_TRUE(run.display.waitWindowGone("Опции"));

    const WindowInfo again = run.open(RightButton);
    EXPECT_EQ(again.frameRect.x, first.frameRect.x + 120) << again;
    EXPECT_EQ(again.frameRect.y, first.frameRect.y + 80) << again;
}

TEST(OptionsWindow, TheSwatchShowsTheMixedColour)
{
    OptionsRun run;
    const WindowInfo w = run.open(RightButton);
    EXPECT_TRUE(waitUntil([&] { return swatch(run, w) == black; })) << swatch(run, w);

    // One click on the lower arrow of R: one step.
    run.display.click(OptionsRun::at(w, 24 + 8, 16 + 89 - 5));
    EXPECT_TRUE(waitUntil([&] { return swatch(run, w) == Rgb{1, 0, 0}; })) << swatch(run, w);

    // End puts the focused slider at the bottom.
    run.display.key(XK_End);
    EXPECT_TRUE(waitUntil([&] { return swatch(run, w) == Rgb{255, 0, 0}; })) << swatch(run, w);
}

TEST(OptionsWindow, ChoosingTheSprayEnablesTheRadiusField)
{
    OptionsRun run;
    const WindowInfo w = run.open(RightButton);
    // The fields' texts: black while enabled, greyed while disabled. The
    // group box sits at (16, 120); tl at (112, 92) and tl2 at (56, 115) in it.
    auto thicknessText = [&] { return run.darkPixels(w, 16 + 112 + 3, 120 + 92 + 3, 26, 16); };
    auto radiusText = [&] { return run.darkPixels(w, 16 + 56 + 3, 120 + 115 + 3, 26, 16); };
    ASSERT_TRUE(waitUntil([&] { return thicknessText() > 0; }));
    EXPECT_EQ(radiusText(), 0);

    run.display.click(OptionsRun::at(w, 16 + 80 + 8, 120 + 64 + 8));
    EXPECT_TRUE(waitUntil([&] { return radiusText() > 0 && thicknessText() == 0; }))
        << "radius " << radiusText() << ", thickness " << thicknessText();
}
