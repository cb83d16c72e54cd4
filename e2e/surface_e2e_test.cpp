// The frozen desktop, end to end: the real program on a private X display.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "harness/harness.h"

#include <X11/keysym.h>

using namespace e2e;

namespace {

// The surface: the window titled like the program that covers the screen.
WindowInfo findSurface(const VirtualDisplay &display)
{
    WindowInfo found;
    const bool ok = waitUntil([&] {
        for (const WindowInfo &w : display.windowsWithTitle("Скарвел"))
            if (w.viewable() && w.rect == display.screenRect()) {
                found = w;
                return true;
            }
        return false;
    });
    if (!ok)
        throw Error("no window titled Скарвел covers the screen");
    return found;
}

// The screen shows the pattern everywhere (the surface shows it too).
bool screenShows(const VirtualDisplay &display, Pattern pattern)
{
    return display.compareDesktop(pattern, display.screenRect()).matches();
}

// The desktop under the surface changes; the surface must keep showing the
// old one. The change is visible wherever no window covers the root.
void changeDesktopAndExpectFrozen(VirtualDisplay &display)
{
    display.paintDesktop(Pattern::B);
    display.sync();
    // Give a live (non-frozen) surface every chance to follow the change.
    waitUntil([&] { return !screenShows(display, Pattern::A); }, 1500ms);
    const DesktopDiff diff = display.compareDesktop(Pattern::A, display.screenRect());
    EXPECT_TRUE(diff.matches()) << diff;
}

void frozenDesktopRun(const DisplayOptions &options, ProgramOptions programOptions = {})
{
    VirtualDisplay display(options);
    display.paintDesktop(Pattern::A);
    Program app(display, SKARVEL_PATH, programOptions);
    const WindowInfo surface = findSurface(display);
    EXPECT_EQ(surface.rect, display.screenRect());
    EXPECT_EQ(surface.frameRect, display.screenRect()) << "the surface has no border";
    ASSERT_TRUE(waitUntil([&] { return screenShows(display, Pattern::A); }))
        << display.compareDesktop(Pattern::A, display.screenRect());
    changeDesktopAndExpectFrozen(display);
    EXPECT_TRUE(app.running()) << app.output();
}

} // namespace

TEST(FrozenDesktop, ShowsTheDesktopAsItWasAtStartUnderAWindowManager)
{
    frozenDesktopRun({1024, 768, 24, true});
}

TEST(FrozenDesktop, WorksOnASixteenBitDisplay)
{
    frozenDesktopRun({800, 600, 16, true});
}

TEST(FrozenDesktop, CoversTheScreenWithoutAWindowManager)
{
    frozenDesktopRun({640, 480, 24, false});
}

TEST(FrozenDesktop, IsTheSameWhenTheServerHasNoSharedMemory)
{
    // Then the screen comes through the connection instead.
    frozenDesktopRun({640, 480, 24, false, false});
    frozenDesktopRun({640, 480, 16, false, false});
}

TEST(FrozenDesktop, StaysOnePictureToOneScreenPixelWhenQtScalesTheWindow)
{
    ProgramOptions options;
    options.env["QT_SCALE_FACTOR"] = "2";
    frozenDesktopRun({1024, 768, 24, true}, options);
}

TEST(ProgramEnd, AltF4OnTheSurfaceEndsTheProgramWithCodeZero)
{
    VirtualDisplay display;
    display.paintDesktop(Pattern::A);
    Program app(display, SKARVEL_PATH);
    const WindowInfo surface = findSurface(display);
    display.activateWindow(surface);
    display.key(XK_F4, AltModifier);
    EXPECT_EQ(app.waitExit(), 0) << app.output();
}

TEST(ProgramEnd, TerminationSignalsEndTheLoopCleanly)
{
    for (int signal : {SIGTERM, SIGHUP}) {
        VirtualDisplay display({640, 480, 24, false});
        Program app(display, SKARVEL_PATH);
        findSurface(display);
        app.sendSignal(signal);
        EXPECT_EQ(app.waitExit(), 0) << "signal " << signal << ": " << app.output();
    }
}

TEST(ProgramEnd, WithoutADisplayItSaysSoAndExitsWithOne)
{
    TempDir dir;
    const std::string out = (dir / "out.txt").string();
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(SKARVEL_PATH) +
                                " >" + out + " 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(readFile(out).find("display"), std::string::npos) << readFile(out);

    const std::string bad = "env DISPLAY=:9999 " + std::string(SKARVEL_PATH) + " >" + out + " 2>&1";
    const int badStatus = std::system(bad.c_str());
    ASSERT_TRUE(WIFEXITED(badStatus));
    EXPECT_EQ(WEXITSTATUS(badStatus), 1);
    EXPECT_NE(readFile(out).find(":9999"), std::string::npos) << readFile(out);
}

// Qt's widgets cannot paint on an 8-bit (PseudoColor) display: the program
// says so and ends before any window is shown, instead of a surface that
// draws nothing.
TEST(ProgramStart, OnAnEightBitDisplayItSaysWhatItNeedsAndExitsWithOne)
{
    VirtualDisplay display({640, 480, 8, false});
    Program app(display, SKARVEL_PATH);
    EXPECT_EQ(app.waitExit(), 1) << app.output();
    EXPECT_FALSE(app.killedBySignal());
    const std::string out = app.output();
    EXPECT_NE(out.find("depth of 8 bits (PseudoColor)"), std::string::npos) << out;
    EXPECT_NE(out.find("true-colour"), std::string::npos) << out;
    EXPECT_EQ(out.find("paintEngine"), std::string::npos) << out;
    EXPECT_TRUE(display.windowsWithTitle("Скарвел").empty());
}

TEST(ProgramStart, StartedIconifiedTheSurfaceIsNotShown)
{
    VirtualDisplay display;
    display.paintDesktop(Pattern::A);
    ProgramOptions options;
    options.args = {"-iconic"};
    Program app(display, SKARVEL_PATH, options);
    // The window exists but is not viewable, and the desktop stays uncovered.
    ASSERT_TRUE(waitUntil([&] { return !display.windowsWithTitle("Скарвел").empty(); })) << app.output();
    waitUntil([&] { return display.windowsWithTitle("Скарвел").front().viewable(); }, 1500ms);
    EXPECT_FALSE(display.windowsWithTitle("Скарвел").front().viewable());
    display.paintDesktop(Pattern::B);
    EXPECT_TRUE(waitUntil([&] { return screenShows(display, Pattern::B); }));
    EXPECT_TRUE(app.running());
}

TEST(ErrorBox, AnErrorInAHandlerIsShownAndTheProgramGoesOn)
{
    VirtualDisplay display;
    display.paintDesktop(Pattern::A);
    Program app(display, SKARVEL_FAULTY_PATH);
    const WindowInfo surface = findSurface(display);
    ASSERT_TRUE(waitUntil([&] { return screenShows(display, Pattern::A); }));
    display.activateWindow(surface);
    display.key(XK_F12);

    // A second window with the program's title: the error box, not covering the screen.
    WindowInfo box;
    ASSERT_TRUE(waitUntil([&] {
        for (const WindowInfo &w : display.windowsWithTitle("Скарвел"))
            if (w.viewable() && w.id != surface.id) {
                box = w;
                return true;
            }
        return false;
    })) << app.output();
    EXPECT_LT(box.rect.width, display.width() / 2);
    EXPECT_LT(box.rect.height, display.height() / 2);

    // Its one button, OK, by Return once the box has the keyboard (the window
    // manager gives it the focus after it has put it on the screen).
    ASSERT_TRUE(waitUntil([&] { return display.focusedWindow() == box.id; })) << "the error box has no focus";
    display.key(XK_Return);
    EXPECT_TRUE(waitUntil([&] { return !display.windowInfo(box.id) || !display.windowInfo(box.id)->viewable(); }));
    EXPECT_TRUE(app.running());
    // Still the same frozen surface, and it still answers: Alt+F4 ends it.
    EXPECT_TRUE(waitUntil([&] { return screenShows(display, Pattern::A); }));
    display.activateWindow(findSurface(display));
    display.key(XK_F4, AltModifier);
    EXPECT_EQ(app.waitExit(), 0) << app.output();
}
