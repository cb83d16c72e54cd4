// Скарвел on a Wayland desktop: a headless sway with the desktop portal,
// driven through a virtual pointer and keyboard, read back with grim.

#include <gtest/gtest.h>

#include <sstream>

#include "harness/wayland_session.h"
#include "steps.h"

using namespace e2e;

namespace {

constexpr Rgb black{0, 0, 0};
constexpr Rgb white{255, 255, 255};
constexpr Rgb khaki{207, 205, 173};

// The surface: the program's full-screen window on the first output.
WaylandWindow waitSurface(const WaylandSession &session, const Program &app)
{
    WaylandWindow surface;
    const bool up = waitUntil([&] {
        for (const WaylandWindow &w : session.windows())
            if (w.title == surfaceTitle && w.fullscreen) {
                surface = w;
                return true;
            }
        return false;
    });
    if (!up)
        throw Error("no full-screen window titled Скарвел: " + app.output());
    return surface;
}

bool shows(const WaylandSession &session, Pattern pattern, int output = 0)
{
    return session.compareDesktop(pattern, output).matches();
}

// The desktop below changes; the surface keeps the old one.
void expectFrozen(WaylandSession &session, Pattern shown, Pattern next)
{
    session.paintDesktop(next, false);
    waitUntil([&] { return !shows(session, shown); }, 1500ms);
    const DesktopDiff diff = session.compareDesktop(shown);
    EXPECT_TRUE(diff.matches()) << diff;
}

// A floating window of the program other than the surface with this title.
std::optional<WaylandWindow> boxTitled(const WaylandSession &session, const std::string &title,
                                       Milliseconds timeout = defaultTimeout)
{
    std::optional<WaylandWindow> box;
    waitUntil([&] {
        for (const WaylandWindow &w : session.windows())
            if (w.title == title && !w.fullscreen) {
                box = w;
                return true;
            }
        return false;
    }, timeout, 50ms);
    return box;
}

bool focusedIs(const WaylandSession &session, long id, Milliseconds timeout = defaultTimeout)
{
    return waitUntil([&] {
        for (const WaylandWindow &w : session.windows())
            if (w.focused)
                return w.id == id;
        return false;
    }, timeout, 50ms);
}

std::string windowList(const WaylandSession &session)
{
    std::ostringstream out;
    for (const WaylandWindow &w : session.windows())
        out << "\n  " << w;
    return out.str();
}

// sway 1.7 does not give the keyboard to a window that opens above a
// full-screen one (Qt 6.4 names its parent only after the window is mapped):
// a person clicks into it first. The click lands on the box's text, away
// from its buttons.
void giveKeyboard(WaylandSession &session, const WaylandWindow &w)
{
    if (!focusedIs(session, w.id, 300ms))
        session.click({w.rect.x + w.rect.width / 2, w.rect.y + 12});
    if (!focusedIs(session, w.id))
        throw Error("the window does not take the keyboard even when clicked");
}

Point at(const WaylandWindow &w, Point p) { return {w.rect.x + p.x, w.rect.y + p.y}; }

// The frozen desktop, pixel for pixel, and still so after the desktop changed.
void frozenDesktopRun(const WaylandOptions &options, WaylandPlatform platform)
{
    WaylandSession session(options);
    session.paintDesktop(Pattern::A);
    Program app(session, SKARVEL_PATH, {}, platform);
    const WaylandWindow surface = waitSurface(session, app);
    EXPECT_EQ(surface.rect, session.outputRect(0)) << surface;
    EXPECT_EQ(surface.output, session.outputNames().front());
    ASSERT_TRUE(waitUntil([&] { return shows(session, Pattern::A); }))
        << session.compareDesktop(Pattern::A) << app.output();
    expectFrozen(session, Pattern::A, Pattern::B);
    EXPECT_TRUE(app.running()) << app.output();
}

} // namespace

TEST(WaylandFrozenDesktop, NativeWaylandShowsTheDesktopAsItWasAtStart)
{
    frozenDesktopRun({}, WaylandPlatform::Native);
}

TEST(WaylandFrozenDesktop, XwaylandShowsTheDesktopAsItWasAtStart)
{
    WaylandOptions options;
    options.xwayland = true;
    frozenDesktopRun(options, WaylandPlatform::Xwayland);
}

TEST(WaylandFrozenDesktop, OutputScaleTwoKeepsOnePicturePixelPerDevicePixel)
{
    WaylandOptions options;
    options.width = 1280;
    options.height = 960;
    options.scale = 2;
    frozenDesktopRun(options, WaylandPlatform::Native);
}

TEST(WaylandFrozenDesktop, WithTwoOutputsThePictureHoldsTheSurfacesOutputOnly)
{
    WaylandOptions options;
    options.outputs = 2;
    frozenDesktopRun(options, WaylandPlatform::Native);
}

// What a person does: the options window, a pencil stroke, and the way out
// through the question and the About window, each window taking the keys.
TEST(WaylandRoad, OptionsPencilAndTheWayOutOnNativeWayland)
{
    WaylandSession session;
    session.paintDesktop(Pattern::A);
    Program app(session, SKARVEL_PATH);
    const WaylandWindow surface = waitSurface(session, app);
    ASSERT_TRUE(waitUntil([&] { return shows(session, Pattern::A); })) << app.output();

    // A right click opens "Опции" above the surface, drawn.
    session.click({700, 600}, RightButton);
    const WaylandWindow options = session.findWindow(optionsTitle);
    EXPECT_TRUE(options.floating) << options;
    ASSERT_TRUE(waitUntil([&] { return session.grab().pixel(options.rect.x + 10, options.rect.y + 10) == khaki; }))
        << "the options window is not on top, drawn";
    session.click(at(options, options::closeButton));
    ASSERT_TRUE(session.waitWindowGone(optionsTitle));

    // The pencil at its start settings: black, one pixel, the last point left out.
    session.drag({200, 300}, {400, 300}, 10);
    auto strokeDrawn = [&] {
        const Image image = session.grab();
        for (int x = 200; x < 400; ++x)
            if (image.pixel(x, 300) != black)
                return false;
        return image.pixel(400, 300) == expectedDesktopColor(Pattern::A, 400, 300) &&
               image.pixel(300, 302) == expectedDesktopColor(Pattern::A, 300, 302);
    };
    EXPECT_TRUE(waitUntil(strokeDrawn)) << "the stroke is not where the pointer went";

    // Escape asks; the question has the keyboard, so Return answers it.
    ASSERT_TRUE(focusedIs(session, surface.id)) << "the surface does not have the keyboard";
    session.key("Escape");
    const std::optional<WaylandWindow> question = boxTitled(session, surfaceTitle);
    ASSERT_TRUE(question) << "windows:" << windowList(session) << "\n" << app.output();
    giveKeyboard(session, *question);
    session.key("Return");
    const WaylandWindow about = session.findWindow(aboutTitle);
    ASSERT_TRUE(waitUntil([&] { return session.grab().pixel(about.rect.x + 10, about.rect.y + 10) == khaki; }));
    session.click(at(about, about::exitButton));
    EXPECT_EQ(app.waitExit(), 0) << app.output();
}

TEST(WaylandRoad, WithoutAPortalTheErrorBoxSaysSoAndTheProgramGoesOn)
{
    WaylandOptions options;
    options.portal = false;
    WaylandSession session(options);
    session.paintDesktop(Pattern::A);
    Program app(session, SKARVEL_PATH);
    const WaylandWindow surface = waitSurface(session, app);
    const std::optional<WaylandWindow> box = boxTitled(session, surfaceTitle);
    ASSERT_TRUE(box) << "no error box; windows:" << windowList(session) << "\n" << app.output();
    giveKeyboard(session, *box);
    // The picture stays white around the box.
    const Image image = session.grab();
    long notWhite = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!box->rect.contains(x, y) && image.pixel(x, y) != white)
                ++notWhite;
    EXPECT_EQ(notWhite, 0);
    session.key("Return");
    EXPECT_TRUE(waitUntil([&] { return !boxTitled(session, surfaceTitle, 0ms); }));
    EXPECT_TRUE(app.running()) << app.output();
    EXPECT_TRUE(focusedIs(session, surface.id));
}
