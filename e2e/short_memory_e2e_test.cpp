// The program short of memory on a 7680 x 4320 display, whose every whole
// frame (the screen reading, the picture, the window's image) takes 127 MiB.
// It runs under an address-space limit (prlimit --as) set from what the same
// program needs without one on a small display (frames of 3 MiB), measured
// first in the same test: about what it has on the large one before its
// frames are made. So the limits follow whatever the machine's libraries
// take:
// - that need and half a frame leaves no room for the surface's window
//   image (a frame and the toolkit's reserve): the start-up failure box and
//   exit code 1;
// - that need, one and a half frames and the reserve let the program start,
//   and the snapshot finds no room for both the reading and the picture: the
//   error box, a white picture, and the program goes on.
// Never a signal, never the toolkit's own failure ("X11 connection broke").

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>

#include "canvas/memory_room.h"
#include "harness/harness.h"

#include <X11/keysym.h>

using namespace e2e;

namespace {

const std::string surfaceTitle = "Скарвел";

DisplayOptions largeDisplay()
{
    DisplayOptions options;
    options.width = 7680;
    options.height = 4320;
    return options;
}

// The C library's heap in at most two arenas in every run, measured or
// limited: the program keeps to two under a limit, and each arena more
// reserves 64 MiB of address space.
ProgramOptions underLimit(long limitKiB)
{
    ProgramOptions options;
    options.env["MALLOC_ARENA_MAX"] = "2";
    if (limitKiB > 0)
        options.args = {"--as=" + std::to_string(limitKiB * 1024), SKARVEL_PATH};
    return options;
}

std::string executable(long limitKiB) { return limitKiB > 0 ? "prlimit" : SKARVEL_PATH; }

std::optional<WindowInfo> surfaceOf(const VirtualDisplay &display)
{
    for (const WindowInfo &w : display.windowsWithTitle(surfaceTitle))
        if (w.viewable() && w.rect == display.screenRect())
            return w;
    return std::nullopt;
}

// The program's error box: a window with its title that is not the surface.
std::optional<WindowInfo> errorBox(const VirtualDisplay &display)
{
    for (const WindowInfo &w : display.windowsWithTitle(surfaceTitle))
        if (w.viewable() && w.rect != display.screenRect())
            return w;
    return std::nullopt;
}

std::optional<WindowInfo> viewable(const VirtualDisplay &display, const std::string &title)
{
    for (const WindowInfo &w : display.windowsWithTitle(title))
        if (w.viewable())
            return w;
    return std::nullopt;
}

// What the program needs on the display without a limit, in KiB of address
// space: its peak once the frozen desktop is up and the options window has
// opened (so the snapshot step has run).
long measuredNeedKiB(VirtualDisplay &display)
{
    Program app(display, executable(0), underLimit(0));
    std::optional<WindowInfo> surface;
    if (!waitUntil([&] { return (surface = surfaceOf(display)).has_value(); }, 60s))
        throw Error("the frozen desktop did not appear without a limit: " + app.output());
    display.click(3000, 3000, RightButton);
    if (!waitUntil([&] { return viewable(display, "Опции").has_value(); }, 30s))
        throw Error("the options window did not open without a limit: " + app.output());
    if (errorBox(display))
        throw Error("an error box came up without a limit: " + app.output());
    const long need = app.peakAddressSpaceKiB();
    app.kill();
    return need;
}

// What the program needs on a 1024 x 768 display, whose frames take 3 MiB:
// about what it has on the large display before its whole frames are made
// (less than half a frame apart, the frames of 3 MiB and the options window).
long smallDisplayNeedKiB()
{
    VirtualDisplay small;
    small.paintDesktop(Pattern::A);
    return measuredNeedKiB(small);
}

// Return on the error box, if one comes within a moment, and waits until it
// has gone.
void dismissErrorBox(VirtualDisplay &display)
{
    std::optional<WindowInfo> box;
    if (!waitUntil([&] { return (box = errorBox(display)).has_value(); }, 2s))
        return;
    display.activateWindow(*box);
    display.key(XK_Return);
    if (!waitUntil([&] { return !errorBox(display).has_value(); }))
        throw Error("the error box did not go");
}

long frameKiB(const VirtualDisplay &display) { return long(display.width()) * display.height() * 4 / 1024; }

void expectNoToolkitFailure(Program &app)
{
    EXPECT_FALSE(app.killedBySignal()) << app.output();
    EXPECT_EQ(app.output().find("X11 connection broke"), std::string::npos) << app.output();
}

TEST(ShortMemory, NoRoomForTheSnapshotGivesTheErrorBoxAWhitePictureAndTheProgramGoesOn)
{
    VirtualDisplay display(largeDisplay());
    display.paintDesktop(Pattern::A);
    const long limit = smallDisplayNeedKiB() + frameKiB(display) * 3 / 2 + long(memory::toolkitReserve / 1024);

    Program app(display, executable(limit), underLimit(limit));
    std::optional<WindowInfo> box;
    ASSERT_TRUE(waitUntil([&] { return (box = errorBox(display)).has_value() || !app.running(); }, 60s))
        << "no error box under a limit of " << limit << " KiB: " << app.output();
    ASSERT_TRUE(app.running()) << "the program ended instead: " << app.output();
    ASSERT_TRUE(box.has_value());
    dismissErrorBox(display);

    // The surface is up and white all over where the desktop had its tiles;
    // one box, not one per step.
    std::optional<WindowInfo> surface;
    ASSERT_TRUE(waitUntil([&] { return (surface = surfaceOf(display)).has_value(); }, 30s)) << app.output();
    const Rect sample{2000, 1500, 512, 512};
    const bool white = waitUntil([&] { return display.grab(sample).count(Rgb{255, 255, 255}) == 512L * 512L; });
    EXPECT_TRUE(white) << "the picture is not white after the failed snapshot";
    EXPECT_FALSE(errorBox(display).has_value()) << "a second error box";

    // The program goes on: a right click opens the options window, a stroke
    // and a save each end in their result or in the error box, and nothing
    // else.
    display.click(3000, 3000, RightButton);
    std::optional<WindowInfo> options;
    ASSERT_TRUE(waitUntil([&] { return (options = viewable(display, "Опции")).has_value() || !app.running(); }, 30s) &&
                app.running())
        << app.output();
    display.drag({3000, 2000}, {3600, 2300});
    dismissErrorBox(display);
    display.click(options->rect.x + 51, options->rect.y + 283); // "Сохранить как..."
    std::optional<WindowInfo> dialog;
    ASSERT_TRUE(waitUntil(
        [&] { return (dialog = viewable(display, "Сохранить рисунок рабочего стола")).has_value() || !app.running(); },
        30s) && app.running())
        << app.output();
    ASSERT_TRUE(waitUntil([&] { return display.focusedWindow() == dialog->id; }));
    display.typeText("pic\n");
    const auto saved = app.home() / "pic.bmp";
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(saved) || errorBox(display) || !app.running(); }, 60s));
    dismissErrorBox(display);
    ASSERT_TRUE(app.running()) << app.output();

    // Ended as a log-off ends it, with exit code 0.
    app.sendSignal(SIGTERM);
    EXPECT_EQ(app.waitExit(30s), std::optional<int>(0)) << app.output();
    expectNoToolkitFailure(app);
}

TEST(ShortMemory, NoRoomForTheSurfaceGivesTheStartupFailureBoxAndExitCode1)
{
    VirtualDisplay display(largeDisplay());
    display.paintDesktop(Pattern::A);
    // The need less the three whole frames (reading, picture, window image)
    // is what the program has before its windows are made.
    const long limit = smallDisplayNeedKiB() + frameKiB(display) / 2;

    Program app(display, executable(limit), underLimit(limit));
    std::optional<WindowInfo> box;
    ASSERT_TRUE(
        waitUntil([&] { return (box = viewable(display, "Application Error")).has_value() || !app.running(); }, 60s))
        << "no start-up failure box under a limit of " << limit << " KiB: " << app.output();
    ASSERT_TRUE(box.has_value()) << "the program ended without the box: " << app.output();
    EXPECT_FALSE(surfaceOf(display).has_value()) << "a surface was shown although the program could not start";
    display.activateWindow(*box);
    display.key(XK_Return);
    EXPECT_EQ(app.waitExit(30s), std::optional<int>(1)) << app.output();
    expectNoToolkitFailure(app);
}

} // namespace
