// The program short of memory on a 7680 x 4320 display, where every whole
// frame (the screen reading, the picture, the window's image) takes 127 MiB.
// The address-space limits (prlimit --as) come from what the program needs
// without one on a 1024 x 768 display, measured first: about what it has on
// the large one before any frame is made, whatever the machine's libraries
// take. That and half a frame leaves no room for the surface; that, one and
// a half frames and the toolkit's reserve let it start but give the snapshot
// no room for both the reading and the picture. Never a signal, never the
// toolkit's own failure ("X11 connection broke").

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "canvas/memory_room.h"
#include "harness/harness.h"

#include <X11/keysym.h>

using namespace e2e;

namespace {

// A viewable window with this title, the surface (covering the screen) or not.
std::optional<WindowInfo> window(const VirtualDisplay &display, const std::string &title, bool surface = false)
{
    for (const WindowInfo &w : display.windowsWithTitle(title))
        if (w.viewable() && (w.rect == display.screenRect()) == surface)
            return w;
    return std::nullopt;
}
std::optional<WindowInfo> errorBox(const VirtualDisplay &display) { return window(display, "Скарвел"); }

// The program, under a limit when one is given. The C library keeps two
// heap arenas in every run (the program does so itself under a limit), since
// each further one reserves 64 MiB of address space.
std::unique_ptr<Program> start(const VirtualDisplay &display, long limitKiB = 0)
{
    ProgramOptions options;
    options.env["MALLOC_ARENA_MAX"] = "2";
    if (limitKiB == 0)
        return std::make_unique<Program>(display, SKARVEL_PATH, options);
    options.args = {"--as=" + std::to_string(limitKiB * 1024), SKARVEL_PATH};
    return std::make_unique<Program>(display, "prlimit", options);
}

// The peak address space of the program on a 1024 x 768 display once the
// snapshot has run and the options window has opened.
long smallDisplayNeedKiB()
{
    VirtualDisplay small;
    small.paintDesktop(Pattern::A);
    const auto app = start(small);
    if (!waitUntil([&] { return window(small, "Скарвел", true).has_value(); }, 60s))
        throw Error("the frozen desktop did not appear: " + app->output());
    small.click(500, 500, RightButton);
    if (!waitUntil([&] { return window(small, "Опции").has_value(); }, 30s) || errorBox(small))
        throw Error("the options window did not open, or an error box came: " + app->output());
    return app->peakAddressSpaceKiB();
}

long frameKiB(const VirtualDisplay &display) { return long(display.width()) * display.height() * 4 / 1024; }

// Return on the error box if one comes within a moment; waits until it has gone.
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

void expectNoToolkitFailure(Program &app)
{
    EXPECT_FALSE(app.killedBySignal()) << app.output();
    EXPECT_EQ(app.output().find("X11 connection broke"), std::string::npos) << app.output();
}

TEST(ShortMemory, NoRoomForTheSnapshotGivesTheErrorBoxAWhitePictureAndTheProgramGoesOn)
{
    VirtualDisplay display({.width = 7680, .height = 4320});
    display.paintDesktop(Pattern::A);
    const long limit = smallDisplayNeedKiB() + frameKiB(display) * 3 / 2 + long(memory::toolkitReserve / 1024);
    const auto app = start(display, limit);
    ASSERT_TRUE(waitUntil([&] { return errorBox(display) || !app->running(); }, 60s) && app->running())
        << "no error box under a limit of " << limit << " KiB: " << app->output();
    dismissErrorBox(display);

    // One box, and the surface white where the desktop has its tiles.
    ASSERT_TRUE(waitUntil([&] { return window(display, "Скарвел", true).has_value(); }, 30s)) << app->output();
    const Rect sample{2000, 1500, 512, 512};
    EXPECT_TRUE(waitUntil([&] { return display.grab(sample).count(Rgb{255, 255, 255}) == 512L * 512L; }))
        << "the picture is not white after the failed snapshot";
    EXPECT_FALSE(errorBox(display).has_value()) << "a second error box";

    // The program goes on: the options window, a stroke, a save, each ending
    // in its result or in the error box.
    display.click(3000, 3000, RightButton);
    std::optional<WindowInfo> options;
    ASSERT_TRUE(waitUntil([&] { return (options = window(display, "Опции")) || !app->running(); }, 30s) &&
                app->running())
        << app->output();
    display.drag({3000, 2000}, {3600, 2300});
    dismissErrorBox(display);
    display.click(options->rect.x + 51, options->rect.y + 283); // "Сохранить как..."
    std::optional<WindowInfo> dialog;
    ASSERT_TRUE(waitUntil([&] { return (dialog = window(display, "Сохранить рисунок рабочего стола")).has_value(); }) &&
                waitUntil([&] { return display.focusedWindow() == dialog->id; }))
        << app->output();
    display.typeText("pic\n");
    EXPECT_TRUE(waitUntil(
        [&] { return std::filesystem::exists(app->home() / "pic.bmp") || errorBox(display) || !app->running(); },
        60s));
    dismissErrorBox(display);

    // Ended as a log-off ends it, with exit code 0.
    app->sendSignal(SIGTERM);
    EXPECT_EQ(app->waitExit(30s), std::optional<int>(0)) << app->output();
    expectNoToolkitFailure(*app);
}

TEST(ShortMemory, NoRoomForTheSurfaceGivesTheStartupFailureBoxAndExitCode1)
{
    VirtualDisplay display({.width = 7680, .height = 4320});
    display.paintDesktop(Pattern::A);
    const long limit = smallDisplayNeedKiB() + frameKiB(display) / 2;
    const auto app = start(display, limit);
    std::optional<WindowInfo> box;
    ASSERT_TRUE(waitUntil([&] { return (box = window(display, "Application Error")) || !app->running(); }, 60s) &&
                box)
        << "no start-up failure box under a limit of " << limit << " KiB: " << app->output();
    EXPECT_FALSE(window(display, "Скарвел", true).has_value()) << "a surface although the program could not start";
    display.activateWindow(*box);
    display.key(XK_Return);
    EXPECT_EQ(app->waitExit(30s), std::optional<int>(1)) << app->output();
    expectNoToolkitFailure(*app);
}

} // namespace
