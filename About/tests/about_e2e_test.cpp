// The way out of the program, end to end: Escape on the surface asks, Yes
// hides the surface and shows the About window, whose link lines light up and
// open through the desktop's URL handler, and "Выход" ends the program.

#include "steps.h"
#include "saving/tests/bmp_reader.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <memory>
#include <set>
#include <tuple>

using namespace e2e;

namespace {


// Points of the About window, from its client area's top-left corner: the
// panel lies at (8, 8) and the lines at their places inside it.
constexpr Point mailLine{8 + 88 + 4, 8 + 72 + 6};
constexpr Point webLine{8 + 88 + 4, 8 + 88 + 6};
constexpr Point versionLine{8 + 88 + 3, 8 + 24 + 6};
constexpr Point authorLine{8 + 88 + 3, 8 + 48 + 6};
constexpr Point exitButton{16 + 265 / 2, 184 + 28 / 2};


// The sizes of the icons a window offers the task bar (_NET_WM_ICON).
std::vector<std::pair<long, long>> iconSizes(const VirtualDisplay &display, WindowId window)
{
    Display *x = display.xdisplay();
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    std::vector<std::pair<long, long>> sizes;
    if (XGetWindowProperty(x, window, XInternAtom(x, "_NET_WM_ICON", False), 0, 1 << 20, False, XA_CARDINAL, &type,
                           &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const long *values = reinterpret_cast<const long *>(data); // Xlib hands 32-bit items out as longs
        for (unsigned long i = 0; i + 2 <= count;) {
            sizes.emplace_back(values[i], values[i + 1]);
            i += 2 + static_cast<unsigned long>(values[i] * values[i + 1]);
        }
    }
    if (data)
        XFree(data);
    return sizes;
}

// How many pixels of a line's text are the highlight blue (anti-aliased edges
// aside). The rest colour (128, 128, 192) never counts.
long bluePixels(const Image &image)
{
    long n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const Rgb c = image.pixel(x, y);
            if (c.b >= 200 && c.r <= 80 && c.g <= 80)
                ++n;
        }
    return n;
}

// A folder with a stand-in for the desktop's URL handler that records what it
// was asked to open, and the program's environment that finds it first.
struct UrlHandler {
    TempDir dir;
    ProgramOptions options;

    UrlHandler()
    {
        std::filesystem::create_directories(dir / "bin");
        const std::filesystem::path handler = dir / "bin" / "xdg-open";
        {
            std::ofstream script(handler);
            script << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << (dir / "opened.txt").string() << "'\n";
        }
        std::filesystem::permissions(handler, std::filesystem::perms::owner_all);
        const char *path = std::getenv("PATH");
        options.env["PATH"] = (dir / "bin").string() + ":" + (path ? path : "/usr/bin:/bin");
    }
};

class WayOut : public testing::Test, protected UrlHandler, protected SkarvelRun {
protected:
    WayOut() : SkarvelRun({}, UrlHandler::options) {}

    void SetUp() override
    {
        // Once the surface shows its copy, a new desktop underneath stays unseen.
        display.paintDesktop(Pattern::B);
        ASSERT_TRUE(waitUntil([&] { return display.compareDesktop(Pattern::A, display.screenRect()).matches(); }))
            << display.compareDesktop(Pattern::A, display.screenRect());
        display.activateWindow(surface);
    }

    WindowInfo askToLeave()
    {
        display.key(XK_Escape);
        const std::optional<WindowInfo> box = messageBox();
        if (!box)
            throw Error("no confirmation box after Escape");
        return *box;
    }
    bool surfaceVisible() const
    {
        const auto info = display.windowInfo(surface.id);
        return info && info->viewable();
    }
    bool centred(const Rect &frame) const
    {
        return std::abs(2 * frame.x + frame.width - display.width()) <= 1 &&
               std::abs(2 * frame.y + frame.height - display.height()) <= 1;
    }
    // The About window where it stays: centred once the window manager has
    // put its frame around it.
    WindowInfo settled(const WindowInfo &about) const
    {
        std::optional<WindowInfo> now;
        if (!waitUntil([&] {
                now = display.windowInfo(about.id);
                return now && now->viewable() && centred(now->frameRect);
            }))
            throw Error("the About window is not centred on the screen: " +
                        (std::ostringstream() << display.windowInfo(about.id).value_or(about)).str());
        return *now;
    }
    WindowInfo leaveForTheAboutWindow()
    {
        askToLeave();
        display.key(XK_Return); // Yes is the default button
        const WindowInfo about = display.findWindow(aboutTitle);
        EXPECT_TRUE(waitUntil([&] { return !surfaceVisible(); }));
        return settled(about);
    }
    // A close request as a task bar sends it.
    void requestClose(const WindowInfo &window)
    {
        Display *x = display.xdisplay();
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window.id;
        event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(XInternAtom(x, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(x, window.id, False, NoEventMask, &event);
        display.sync();
    }
    std::string opened() const
    {
        return std::filesystem::exists(dir / "opened.txt") ? readFile(dir / "opened.txt") : std::string();
    }

};

} // namespace

TEST_F(WayOut, EscapeAsksAndYesShowsTheAboutWindowCentred)
{
    const WindowInfo box = askToLeave();
    // The box is on top of the surface, not hidden under it.
    EXPECT_FALSE(display.compareDesktop(Pattern::A, box.rect).matches());
    EXPECT_LT(box.rect.width, display.width() / 2);
    EXPECT_TRUE(surfaceVisible());

    display.key(XK_Return);
    const WindowInfo about = display.findWindow(aboutTitle);
    EXPECT_TRUE(waitUntil([&] { return !surfaceVisible(); }));
    EXPECT_TRUE(waitUntil([&] { return !messageBox(0ms); }));
    EXPECT_EQ(about.rect.width, 298);
    EXPECT_EQ(about.rect.height, 223);
    // Centred, frame included, once the window manager has framed it.
    const Rect frame = settled(about).frameRect;
    // With the surface gone the real desktop shows around the window.
    EXPECT_TRUE(waitUntil([&] { return display.compareDesktop(Pattern::B, display.screenRect(), {frame}).matches(); }))
        << display.compareDesktop(Pattern::B, display.screenRect(), {frame});
    EXPECT_TRUE(app.running());

    // The logo (decoded only now) is there: a picture, not a flat panel.
    const Image logo = display.grab({about.rect.x + 8 + 8, about.rect.y + 8 + 8, 73, 97});
    std::set<std::tuple<int, int, int>> colours;
    for (int y = 0; y < logo.height(); ++y)
        for (int x = 0; x < logo.width(); ++x)
            colours.insert({logo.pixel(x, y).r, logo.pixel(x, y).g, logo.pixel(x, y).b});
    EXPECT_GT(colours.size(), 16u);

    // Both windows carry the program icon, 32 x 32.
    using Sizes = std::vector<std::pair<long, long>>;
    EXPECT_EQ(iconSizes(display, about.id), (Sizes{{32, 32}}));
    EXPECT_EQ(iconSizes(display, surface.id), (Sizes{{32, 32}}));
}

TEST_F(WayOut, EscapeThenNoLeavesTheScreenAsItWas)
{
    askToLeave();
    display.key(XK_Tab); // from Yes to No
    display.key(XK_space);
    EXPECT_TRUE(waitUntil([&] { return !messageBox(0ms); }));
    EXPECT_TRUE(surfaceVisible());
    EXPECT_TRUE(display.windowsWithTitle(aboutTitle).empty() || !display.windowsWithTitle(aboutTitle)[0].viewable());
    EXPECT_TRUE(waitUntil([&] { return display.compareDesktop(Pattern::A, display.screenRect()).matches(); }))
        << display.compareDesktop(Pattern::A, display.screenRect());
    EXPECT_TRUE(app.running());
}

TEST_F(WayOut, LinkLinesLightUpUnderThePointer)
{
    const WindowInfo w = leaveForTheAboutWindow();
    const Rect mailText{w.rect.x + 96, w.rect.y + 80, 180, 13};
    const Rect webText{w.rect.x + 96, w.rect.y + 96, 180, 13};
    EXPECT_EQ(bluePixels(display.grab(mailText)), 0);

    display.moveTo(at(w, mailLine));
    EXPECT_TRUE(waitUntil([&] { return bluePixels(display.grab(mailText)) > 20; }));
    EXPECT_EQ(bluePixels(display.grab(webText)), 0);

    // Straight on to the web line: one goes out, the other lights up.
    display.moveTo(at(w, webLine));
    EXPECT_TRUE(waitUntil([&] { return bluePixels(display.grab(webText)) > 20; }));
    EXPECT_TRUE(waitUntil([&] { return bluePixels(display.grab(mailText)) == 0; }));

    // The author line is not a neutral zone: the web line stays lit.
    display.moveTo(at(w, authorLine));
    EXPECT_FALSE(waitUntil([&] { return bluePixels(display.grab(webText)) == 0; }, 300ms));

    // The version line clears it.
    display.moveTo(at(w, mailLine));
    EXPECT_TRUE(waitUntil([&] { return bluePixels(display.grab(mailText)) > 20; }));
    display.moveTo(at(w, versionLine));
    EXPECT_TRUE(waitUntil([&] { return bluePixels(display.grab(mailText)) == 0; }));
    EXPECT_EQ(bluePixels(display.grab(webText)), 0);

    // Leaving the window straight from a lit line leaves it lit.
    display.moveTo(at(w, mailLine));
    EXPECT_TRUE(waitUntil([&] { return bluePixels(display.grab(mailText)) > 20; }));
    display.moveTo(w.frameRect.x + w.frameRect.width + 40, w.frameRect.y + w.frameRect.height + 40);
    EXPECT_FALSE(waitUntil([&] { return bluePixels(display.grab(mailText)) == 0; }, 300ms));
}

TEST_F(WayOut, ClickingALinkRunsTheUrlHandler)
{
    const WindowInfo w = leaveForTheAboutWindow();
    display.click(at(w, mailLine));
    EXPECT_TRUE(waitUntil([&] { return opened() == "mailto:skarvel@example.org\n"; })) << opened();
    display.click(at(w, webLine));
    EXPECT_TRUE(waitUntil([&] { return opened() == "mailto:skarvel@example.org\nhttp://www.example.org\n"; }))
        << opened();
    // The window stays.
    EXPECT_TRUE(display.windowInfo(w.id).value_or(WindowInfo{}).viewable());
    EXPECT_TRUE(app.running());
}

TEST_F(WayOut, ExitEndsTheProgramWithCodeZero)
{
    const WindowInfo w = leaveForTheAboutWindow();
    display.moveTo(at(w, exitButton));
    display.click(at(w, exitButton));
    EXPECT_EQ(app.waitExit(), 0);
}

TEST_F(WayOut, ClosingTheAboutWindowWhenNothingElseIsOpenEndsTheProgram)
{
    const WindowInfo about = leaveForTheAboutWindow();
    requestClose(about);
    EXPECT_EQ(app.waitExit(), 0);
}

TEST_F(WayOut, TheOptionsWindowStaysOpenAndItsSaveStillWritesThePicture)
{
    const WindowInfo options = openOptions(RightButton, {display.width() / 2, display.height() / 2});
    display.activateWindow(surface);
    const WindowInfo about = leaveForTheAboutWindow();
    const auto after = display.windowInfo(options.id);
    ASSERT_TRUE(after && after->viewable());
    EXPECT_EQ(after->rect, options.rect);

    // "Сохранить как..." writes the frozen picture, not the desktop of now.
    const std::filesystem::path saved = saveAs(options, dir / "farewell.bmp");
    const testbmp::Parsed file = testbmp::parse(testbmp::readFile(saved.string()));
    ASSERT_EQ(file.error, "");
    ASSERT_EQ(file.width, display.width());
    ASSERT_EQ(file.height, display.height());
    for (const Point p : {Point{5, 5}, Point{700, 600}, Point{display.width() / 2, display.height() / 2}}) {
        const Rgb c = expectedDesktopColor(Pattern::A, p.x, p.y);
        EXPECT_EQ(file.at(p.x, p.y), makeColorRef(c.r, c.g, c.b)) << p;
    }

    // Its close command still works, and the About window stays.
    closeOptions(options);
    EXPECT_TRUE(display.windowInfo(about.id).value_or(WindowInfo{}).viewable());
    EXPECT_TRUE(app.running());
    // Now the About window is the last one open.
    requestClose(about);
    EXPECT_EQ(app.waitExit(), 0);
}

TEST_F(WayOut, AltF4OnTheAboutWindowAloneEndsTheProgram)
{
    const WindowInfo about = leaveForTheAboutWindow();
    display.activateWindow(about);
    display.key(XK_F4, AltModifier);
    EXPECT_EQ(app.waitExit(), 0);
}
