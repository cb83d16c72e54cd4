// Скарвел on a Wayland desktop: a headless sway with the desktop portal,
// driven through a virtual pointer and keyboard, read back with grim.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>
#include <utility>

#include "harness/wayland_session.h"
#include "saving/tests/bmp_reader.h"
#include "steps.h"

using namespace e2e;

namespace {

constexpr Rgb black{0, 0, 0};
constexpr Rgb white{255, 255, 255};
constexpr Rgb khaki{207, 205, 173};

// The surface: the program's full-screen window on the first output. It
// maps only once the screen has been read, and on a loaded machine the
// portal's answer takes seconds.
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
    }, 30s, 50ms);
    if (!up)
        throw Error("no full-screen window titled Скарвел: " + app.output());
    return surface;
}

bool shows(const WaylandSession &session, Pattern pattern, int output = 0)
{
    return session.compareDesktop(pattern, output).matches();
}

// The desktop below changes (paintDesktop returns once the new one is drawn
// below the surface); the surface keeps the old one. sway lists a new window
// at once but draws it only once the program has drawn it at the size it was
// given, so the old desktop on the output may still be sway's own: wait for
// the surface. A surface that is not frozen never shows the old one again.
void expectFrozen(WaylandSession &session, Pattern shown, Pattern next)
{
    session.paintDesktop(next, false);
    EXPECT_TRUE(waitUntil([&] { return shows(session, shown); })) << session.compareDesktop(shown);
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

// A window that opens above the surface must take the keyboard by itself:
// nothing here hands it over.
void expectKeyboard(const WaylandSession &session, const WaylandWindow &w)
{
    if (!focusedIs(session, w.id))
        throw Error("the window " + w.title + " does not take the keyboard; windows:" + windowList(session));
}

// A right click on the surface; the options window once it is drawn.
WaylandWindow openOptions(WaylandSession &session, Point where = {700, 600})
{
    session.click(where, RightButton);
    const WaylandWindow options = session.findWindow(optionsTitle);
    const int scale = session.options().scale;
    if (!waitUntil([&] { return session.grab().pixel(scale * (options.rect.x + 10), scale * (options.rect.y + 10)) == khaki; }))
        throw Error("the options window is not on top, drawn");
    return options;
}

void closeOptions(WaylandSession &session, const WaylandWindow &options)
{
    session.click({options.rect.x + options::closeButton.x, options.rect.y + options::closeButton.y});
    if (!session.waitWindowGone(optionsTitle))
        throw Error("the options window did not close");
}

void chooseTool(WaylandSession &session, Point radio)
{
    const WaylandWindow options = openOptions(session);
    session.click({options.rect.x + radio.x, options.rect.y + radio.y});
    waitUntil([&] {
        const Rgb c = session.grab().pixel(options.rect.x + radio.x, options.rect.y + radio.y);
        return c.r < 100 && c.g < 100 && c.b < 100;
    });
    closeOptions(session, options);
}

// Pixels of the output's rectangle (device pixels) that differ from the
// desktop pattern, and whether all of them are black.
std::pair<long, bool> marksIn(const WaylandSession &session, const Rect &r)
{
    const Image image = session.grab();
    long count = 0;
    bool allBlack = true;
    for (int y = r.y; y < r.bottom(); ++y)
        for (int x = r.x; x < r.right(); ++x)
            if (image.pixel(x, y) != session.desktopColor(Pattern::A, 0, x, y)) {
                ++count;
                allBlack = allBlack && image.pixel(x, y) == black;
            }
    return {count, allBlack};
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
        << session.compareDesktop(Pattern::A) << "; windows:" << windowList(session) << "\n" << app.output();
    expectFrozen(session, Pattern::A, Pattern::B);
    EXPECT_TRUE(app.running()) << app.output();
}

// The process of this session that runs the executable (0 if none): the one
// whose environment names the session's Wayland socket.
pid_t sessionProcess(const WaylandSession &session, const std::filesystem::path &executable)
{
    const std::string mark = "WAYLAND_DISPLAY=" + session.waylandDisplay();
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        std::error_code error;
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            std::filesystem::read_symlink(entry.path() / "exe", error) != executable)
            continue;
        std::ifstream environment(entry.path() / "environ", std::ios::binary);
        for (std::string variable; std::getline(environment, variable, '\0');)
            if (variable == mark)
                return std::stoi(pid);
    }
    return 0;
}

// Holds a process stopped, for as long as it lives.
struct Stopped {
    pid_t pid;
    explicit Stopped(pid_t p) : pid(p) { ::kill(pid, SIGSTOP); }
    ~Stopped() { resume(); }
    void resume()
    {
        if (pid > 0)
            ::kill(std::exchange(pid, 0), SIGCONT);
    }
};

} // namespace

// The surface is made while the portal reads the screen, and shows nothing
// until the reading is in. With the portal's screenshot held up, the program
// gets its surface ready (it answers the compositor's first configure, after
// which a frame could follow at once) while the desktop still shows and can
// change; the picture is then the desktop as the portal found it.
TEST(WaylandFrozenDesktop, TheSurfaceWaitsUnseenForThePortalsPicture)
{
    WaylandSession session;
    session.paintDesktop(Pattern::A);
    const pid_t backend = sessionProcess(session, "/usr/libexec/xdg-desktop-portal-wlr");
    ASSERT_GT(backend, 0) << "the wlr portal backend of the session is not found";
    Stopped held(backend);
    ProgramOptions options;
    options.env["WAYLAND_DEBUG"] = "1";
    Program app(session, SKARVEL_PATH, options);
    ASSERT_TRUE(waitUntil([&] { return app.output().find(".ack_configure(") != std::string::npos; }, 30s))
        << "the surface was not made while the portal worked";
    // paintDesktop waits for grim to read the new desktop back: nothing of
    // the program may cover it.
    session.paintDesktop(Pattern::B);
    held.resume();
    const WaylandWindow surface = waitSurface(session, app);
    EXPECT_EQ(surface.rect, session.outputRect(0)) << surface;
    ASSERT_TRUE(waitUntil([&] { return shows(session, Pattern::B); }))
        << session.compareDesktop(Pattern::B) << "; windows:" << windowList(session);
    expectFrozen(session, Pattern::B, Pattern::A);
    EXPECT_TRUE(app.running());
}

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
    expectKeyboard(session, options);
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
    expectKeyboard(session, *question);
    session.key("Return");
    const WaylandWindow about = session.findWindow(aboutTitle);
    ASSERT_TRUE(waitUntil([&] { return session.grab().pixel(about.rect.x + 10, about.rect.y + 10) == khaki; }));
    expectKeyboard(session, about);
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
    // Shown before the person has pressed anything, the box can ask for the
    // keyboard only later: the person clicks into it (on its icon).
    session.click({box->rect.x + 20, box->rect.y + 20});
    expectKeyboard(session, *box);
    // The picture stays white around the box (once the surface's first
    // frame is on the screen).
    long notWhite = 0;
    waitUntil([&] {
        const Image image = session.grab();
        notWhite = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (!box->rect.contains(x, y) && image.pixel(x, y) != white)
                    ++notWhite;
        return notWhite == 0;
    });
    EXPECT_EQ(notWhite, 0);
    session.key("Return");
    EXPECT_TRUE(waitUntil([&] { return !boxTitled(session, surfaceTitle, 0ms); }));
    EXPECT_TRUE(app.running()) << app.output();
    EXPECT_TRUE(focusedIs(session, surface.id));
}

// The spray, the line and a save through the real dialog: the file holds the
// picture as the output shows it, 32 bits per pixel.
TEST(WaylandRoad, SprayLineAndASaveThroughTheDialog)
{
    WaylandSession session;
    session.paintDesktop(Pattern::A);
    Program app(session, SKARVEL_PATH);
    waitSurface(session, app);
    ASSERT_TRUE(waitUntil([&] { return shows(session, Pattern::A); })) << app.output();

    // The line: two clicks, a one-pixel black line between them.
    chooseTool(session, options::line);
    session.click({100, 100});
    session.click({300, 200});
    session.moveTo(1000, 10);
    EXPECT_TRUE(waitUntil([&] {
        const auto [marks, allBlack] = marksIn(session, {90, 90, 220, 120});
        return session.grab().pixel(200, 150) == black && allBlack && marks < 450;
    })) << "no one-pixel black line from (100, 100) to (300, 200)";

    // The spray: black dots within its radius (10) of the pointer's path only.
    chooseTool(session, options::spray);
    const Point at = clearArea(80, 80, {black}, {450, 100});
    const Point p{at.x + 40, at.y + 40};
    session.moveTo(p);
    session.press();
    for (int i = 1; i <= 5; ++i)
        session.moveTo(p.x + i, p.y);
    session.release();
    session.moveTo(1000, 10); // the pointer out of the way
    long all = 0, inside = 0;
    bool insideBlack = false;
    EXPECT_TRUE(waitUntil([&] {
        all = marksIn(session, {at.x, at.y, 80, 80}).first;
        std::tie(inside, insideBlack) = marksIn(session, {p.x - 10, p.y - 10, 26, 21});
        return all >= 20 && insideBlack && all == inside;
    })) << all << " dots, " << inside << " within the radius, " << (insideBlack ? "all" : "not all") << " black";

    // The save: the dialog above the options window, the name typed into it.
    const TempDir dir;
    WaylandWindow options = openOptions(session);
    session.click({options.rect.x + options::saveButton.x, options.rect.y + options::saveButton.y});
    const WaylandWindow dialog = session.findWindow(saveDialogTitle);
    EXPECT_TRUE(dialog.floating) << dialog;
    expectKeyboard(session, dialog);
    const auto saved = dir / "wayland.bmp";
    session.typeText((dir / "wayland").string());
    // The name field's completion list may take the first Return.
    for (int attempt = 0; attempt < 3 && !std::filesystem::exists(saved); ++attempt) {
        session.key("Return");
        waitUntil([&] { return std::filesystem::exists(saved); }, 2s);
    }
    ASSERT_TRUE(std::filesystem::exists(saved)) << app.output();
    ASSERT_TRUE(session.waitWindowGone(saveDialogTitle));
    closeOptions(session, options);

    const testbmp::Parsed file = testbmp::parse(testbmp::readFile(saved.string()));
    ASSERT_EQ(file.error, "");
    EXPECT_EQ(file.bitCount, 32);
    ASSERT_EQ(file.width, 1024);
    ASSERT_EQ(file.height, 768);
    long differing = 0;
    waitUntil([&] {
        const Image screen = session.grab();
        differing = 0;
        for (int y = 0; y < file.height; ++y)
            for (int x = 0; x < file.width; ++x) {
                const ColorRef c = file.at(x, y);
                const Rgb px = screen.pixel(x, y);
                differing += (redOf(c) == px.r && greenOf(c) == px.g && blueOf(c) == px.b) ? 0 : 1;
            }
        return differing == 0;
    });
    EXPECT_EQ(differing, 0) << "pixels of the file differ from the output";
    EXPECT_TRUE(app.running());
}

// At output scale 2 the pointer's logical position has halves; a stroke
// lands on the device pixels under it, and it goes on across the options
// window (the surface keeps the pointer while the button is down).
TEST(WaylandRoad, AtScaleTwoAStrokeLandsOnTheDevicePixelsUnderThePointer)
{
    WaylandOptions options;
    options.width = 1280;
    options.height = 960;
    options.scale = 2;
    WaylandSession session(options);
    session.paintDesktop(Pattern::A);
    Program app(session, SKARVEL_PATH);
    waitSurface(session, app);
    ASSERT_TRUE(waitUntil([&] { return shows(session, Pattern::A); })) << app.output();

    // From (50.5, 100.5) to (150.5, 100.5): device row 201, columns 101 to 300.
    session.moveTo(50.5, 100.5);
    session.press();
    for (int i = 1; i <= 10; ++i)
        session.moveTo(50.5 + 10 * i, 100.5);
    session.release();
    auto rowDrawn = [&] {
        const Image image = session.grab();
        for (int x = 101; x < 301; ++x)
            if (image.pixel(x, 201) != black)
                return false;
        return image.pixel(100, 201) != black && image.pixel(150, 200) != black && image.pixel(150, 202) != black;
    };
    EXPECT_TRUE(waitUntil(rowDrawn)) << "the stroke is not on device row 201 from column 101 to 300:" << [&] {
        std::ostringstream out;
        const Image image = session.grab();
        for (int y = 198; y < 205; ++y) {
            out << "\n" << y << ":";
            for (int x = 96; x < 106; ++x)
                out << (image.pixel(x, y) == black ? '#' : '.');
            out << " ... ";
            for (int x = 296; x < 306; ++x)
                out << (image.pixel(x, y) == black ? '#' : '.');
        }
        return out.str();
    }();

    // A stroke that starts on the surface and crosses the options window.
    const WaylandWindow palitra = openOptions(session, {500, 400});
    const int y = palitra.rect.y + palitra.rect.height / 2;
    const int from = palitra.rect.x - 40, to = palitra.rect.right() + 40;
    session.moveTo(from, y);
    session.press();
    for (int x = from + 10; x <= to; x += 10)
        session.moveTo(x, y);
    session.release();
    closeOptions(session, palitra);
    EXPECT_TRUE(waitUntil([&] {
        const Image image = session.grab();
        const int middle = palitra.rect.x + palitra.rect.width / 2;
        return image.pixel(2 * (from + 5), 2 * y) == black && image.pixel(2 * middle, 2 * y) == black &&
               image.pixel(2 * (to - 15), 2 * y) == black;
    })) << "the stroke did not go on past the options window";
}
