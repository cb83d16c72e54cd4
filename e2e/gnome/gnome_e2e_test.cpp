// Скарвел on GNOME: a headless GNOME Shell with its own desktop portal,
// driven through mutter's remote desktop, read back through the portal.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>

#include "harness/gnome_session.h"
#include "saving/tests/bmp_reader.h"
#include "steps.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

constexpr Rgb black{0, 0, 0};
constexpr Rgb khaki{207, 205, 173};

// Qt draws its own title bar and border on GNOME: the client area starts
// this far into a window's frame (the program's logical pixels).
constexpr Point clientOffset{3, 30};

const std::string accessQuestion = "Allow Applications to Take Screenshots?";

std::string windowList(const GnomeSession &session)
{
    std::ostringstream out;
    for (const GnomeWindow &w : session.windows())
        out << "\n  " << w;
    return out.str();
}

// Whether a window without a title, such as a list that pops up, is open.
bool popupOpen(const GnomeSession &session)
{
    for (const GnomeWindow &w : session.windows())
        if (w.title.empty())
            return true;
    return false;
}

GnomeWindow waitSurface(const GnomeSession &session, const Program &app)
{
    GnomeWindow surface;
    if (!waitUntil([&] {
            for (const GnomeWindow &w : session.windows())
                if (w.title == surfaceTitle && w.fullscreen && w.rect == session.deviceRect())
                    surface = w;
            return surface.fullscreen;
        }, 30s, 50ms))
        throw Error("no full-screen window titled Скарвел:" + windowList(session) + "\nthe shell's dialog: " +
                    [&] {
                        std::string all;
                        for (const std::string &t : session.openDialogTexts())
                            all += "\"" + t + "\" ";
                        return all;
                    }() + "\n" + app.output());
    return surface;
}

// A window of the program other than the surface with this title: the
// question, an error box.
std::optional<GnomeWindow> boxTitled(const GnomeSession &session, const std::string &title,
                                     const std::function<void()> &meanwhile = {})
{
    std::optional<GnomeWindow> box;
    waitUntil([&] {
        if (meanwhile)
            meanwhile();
        for (const GnomeWindow &w : session.windows())
            if (w.title == title && !w.fullscreen && !w.rect.isEmpty())
                box = w;
        return box.has_value();
    }, 30s, 50ms);
    return box;
}

// Whether the window (by title, and full-screen or not: the surface and the
// program's boxes share the title) gets the keyboard; the shell may still
// move a window it has just shown.
bool focused(const GnomeSession &session, const GnomeWindow &which)
{
    return waitUntil([&] {
        for (const GnomeWindow &w : session.windows())
            if (w.focused)
                return w.title == which.title && w.fullscreen == which.fullscreen;
        return false;
    }, 10s, 50ms);
}

// A place in a window's client area given in the program's logical pixels,
// in the monitor's device pixels.
Point client(const GnomeSession &session, const GnomeWindow &w, Point p);

Point client(const GnomeSession &session, const GnomeWindow &w, Point p)
{
    const int s = session.scale();
    return {w.rect.x + s * (clientOffset.x + p.x), w.rect.y + s * (clientOffset.y + p.y)};
}

// The files the shell's screenshots land in: HOME and its pictures folder.
std::set<std::filesystem::path> picturesAndHome(const GnomeSession &session)
{
    std::set<std::filesystem::path> files;
    for (const auto &dir : {session.home(), session.home() / "Pictures"})
        for (const auto &entry : std::filesystem::directory_iterator(dir))
            if (entry.is_regular_file())
                files.insert(entry.path());
    return files;
}

std::string newFiles(const std::set<std::filesystem::path> &before, const std::set<std::filesystem::path> &after)
{
    std::string list;
    for (const auto &f : after)
        if (!before.contains(f)) {
            list += ' ';
            list += f.string();
        }
    return list;
}

bool sameBelowTopBar(const GnomeSession &session, const Image &expected, std::string *why = nullptr)
{
    const auto difference = session.differenceBelowTopBar(expected, session.grab());
    if (difference && why)
        *why = *difference;
    return !difference;
}

// The window with this title once its client area shows khaki at (10, 10):
// placed and drawn (the shell may still move a window it has just shown).
GnomeWindow drawnWindow(GnomeSession &session, const std::string &title)
{
    GnomeWindow w;
    if (!waitUntil([&] {
            w = session.findWindow(title);
            const Point inside = client(session, w, {10, 10});
            return session.grab().pixel(inside.x, inside.y) == khaki && session.findWindow(title).rect == w.rect;
        }))
        throw Error("the window \"" + title + "\" is not on top, drawn:" + windowList(session));
    return w;
}

// A right click; the options window once it is drawn above the surface.
GnomeWindow openOptions(GnomeSession &session, Point where)
{
    session.click(where, RightButton);
    return drawnWindow(session, optionsTitle);
}

void closeOptions(GnomeSession &session, const GnomeWindow &options)
{
    session.click(client(session, options, options::closeButton));
    if (!session.waitWindowGone(optionsTitle))
        throw Error("the options window did not close");
}

void chooseTool(GnomeSession &session, Point radio)
{
    const GnomeWindow options = openOptions(session, {1500, 900});
    session.click(client(session, options, radio));
    const Point at = client(session, options, radio);
    waitUntil([&] {
        const Rgb c = session.grab().pixel(at.x, at.y);
        return c.r < 100 && c.g < 100 && c.b < 100;
    });
    closeOptions(session, options);
}

// Whether the About window's mail line shows lit on the screen: blue, where
// at rest it is greyish blue (128, 128, 192) on khaki; its letters are
// smoothed, so only their cores come near pure blue.
bool mailLineLit(const GnomeSession &session, const GnomeWindow &about)
{
    const Image screen = session.grab();
    const int s = session.scale();
    const Point from = client(session, about, {about::mailLine.x, about::mailLine.y});
    for (int y = from.y; y < from.y + s * about::mailLine.height; ++y)
        for (int x = from.x; x < from.x + s * about::mailLine.width; ++x)
            if (const Rgb c = screen.pixel(x, y); c.b >= 230 && c.r <= 60 && c.g <= 60)
                return true;
    return false;
}

// A click on "Выход" once it lands there. The shell may show the About
// window first at the corner of the work area, drawn, and move it to its
// place only on the window's next repaint (seen: drawn at (0, 32), moved to
// (45, 38) once the pointer lit its mail line; at scale 2 from (0, 64) to
// (46, 231)). A click aimed at the corner, or a move between press and
// release, takes the release off the button: no click. So the pointer goes
// over the button (the mail line is dark there), over the mail line (it
// lights up) and back over the button (it goes out), each step seen on the
// screen where the window is then: the program follows the pointer over a
// window that stays, and the click follows. A window that moves meanwhile
// is followed, and the steps start again where it is.
void clickExit(GnomeSession &session)
{
    GnomeWindow about = session.findWindow(aboutTitle);
    const auto moved = [&] { return session.findWindow(aboutTitle).rect != about.rect; };
    // The pointer at a place of the window; whether the mail line then shows
    // `lit`, false if the window moves first.
    const auto step = [&](Point place, bool lit, const char *what) {
        session.moveTo(client(session, about, place));
        if (!waitUntil([&] { return mailLineLit(session, about) == lit || moved(); }))
            throw Error(std::string("the About window does not follow the pointer: ") + what + windowList(session));
        return !moved();
    };
    for (int places = 1;; ++places) {
        if (step(about::exitButton, false, "the mail line stays lit over the button") &&
            step(about::mailLine.center(), true, "the mail line stays dark under the pointer") &&
            step(about::exitButton, false, "the mail line stays lit over the button"))
            break;
        if (places == 3)
            throw Error("the About window does not stay in place:" + windowList(session));
        const GnomeWindow now = session.findWindow(aboutTitle);
        std::cout << "the About window moved from " << about.rect << " to " << now.rect << " once drawn\n";
        about = now;
    }
    session.click(client(session, about, about::exitButton));
}

// Escape, Return on the question, "Выход" in the About window: exit code 0.
void leave(GnomeSession &session, Program &app, const GnomeWindow &surface)
{
    ASSERT_TRUE(focused(session, surface)) << "the surface does not have the keyboard:" << windowList(session);
    session.key("Escape");
    const std::optional<GnomeWindow> question = boxTitled(session, surfaceTitle);
    ASSERT_TRUE(question) << windowList(session) << "\n" << app.output();
    ASSERT_TRUE(focused(session, *question)) << "the question does not have the keyboard:" << windowList(session);
    session.key("Return");
    drawnWindow(session, aboutTitle);
    clickExit(session);
    EXPECT_EQ(app.waitExit(), 0) << app.output() << windowList(session);
    // The shell lets closed windows fade out.
    EXPECT_TRUE(session.waitNoWindows()) << windowList(session);
}

// The frozen desktop, pixel for pixel, still so after the wallpaper changed;
// then the way out. Prints how long the start took.
void frozenDesktopRun(GnomeSession &session, Pattern next)
{
    const auto before = picturesAndHome(session);
    const Image desktop = session.grab();
    const auto portalStart = Clock::now();
    session.grab();
    const auto portalTime = Clock::now() - portalStart;

    const auto start = Clock::now();
    Program app(session, SKARVEL_PATH);
    const GnomeWindow surface = waitSurface(session, app);
    std::string why;
    ASSERT_TRUE(waitUntil([&] { return sameBelowTopBar(session, desktop, &why); })) << why << "\n" << app.output();
    const auto shown = Clock::now() - start;
    std::cout << "scale " << session.scale() << ": start to frozen desktop "
              << std::chrono::duration_cast<std::chrono::milliseconds>(shown).count()
              << " ms (first read that shows it); one portal screenshot "
              << std::chrono::duration_cast<std::chrono::milliseconds>(portalTime).count() << " ms\n";

    session.paintDesktop(next);
    EXPECT_TRUE(sameBelowTopBar(session, desktop, &why)) << "the surface follows the desktop: " << why;
    leave(session, app, surface);
    EXPECT_EQ(newFiles(before, picturesAndHome(session)), "") << "the portal's screenshot is left behind";
}

} // namespace

TEST(GnomeFrozenDesktop, EqualsTheDesktopAtScaleOneAndTwoAndTheWayOutEndsWithZero)
{
    GnomeSession session;
    frozenDesktopRun(session, Pattern::B);
    session.setScale(2);
    frozenDesktopRun(session, Pattern::A);
}

namespace {

// Pixels of a rectangle that differ from the desktop as it was, and whether
// all of them are black.
std::pair<long, bool> marksIn(const Image &screen, const Image &desktop, const Rect &r)
{
    long count = 0;
    bool allBlack = true;
    for (int y = r.y; y < r.bottom(); ++y)
        for (int x = r.x; x < r.right(); ++x)
            if (screen.pixel(x, y) != desktop.pixel(x, y)) {
                ++count;
                allBlack = allBlack && screen.pixel(x, y) == black;
            }
    return {count, allBlack};
}

} // namespace

// What a person does on the frozen desktop: the options window, the three
// tools where the pointer went, and a save through the real dialog whose
// file holds the picture the screen shows, 32 bits per pixel.
TEST(GnomeRoad, OptionsPencilSprayLineAndASave)
{
    GnomeSession session;
    const auto before = picturesAndHome(session);
    const Image desktop = session.grab();
    // The save dialog opens in the program's working folder: an empty one.
    const TempDir dir;
    ProgramOptions programOptions;
    programOptions.workingDirectory = dir.path();
    Program app(session, SKARVEL_PATH, programOptions);
    waitSurface(session, app);
    std::string why;
    ASSERT_TRUE(waitUntil([&] { return sameBelowTopBar(session, desktop, &why); })) << why << "\n" << app.output();

    // A right click opens "Опции" above the surface.
    closeOptions(session, openOptions(session, {1500, 900}));

    // The pencil at its start settings: black, one pixel, the last point left out.
    session.drag({200, 300}, {400, 300}, 10);
    long marks = 0;
    bool allBlack = false;
    auto blackAlong = [](const Image &screen, Point from, Point to) {
        for (int x = from.x; x < to.x; ++x)
            if (screen.pixel(x, from.y + (x - from.x) * (to.y - from.y) / (to.x - from.x)) != black)
                return false;
        return true;
    };
    EXPECT_TRUE(waitUntil([&] {
        const Image screen = session.grab();
        std::tie(marks, allBlack) = marksIn(screen, desktop, {190, 290, 220, 20});
        // Only row 300 changes (black tiles of the desktop stay as they were).
        return allBlack && marks == marksIn(screen, desktop, {200, 300, 200, 1}).first &&
               blackAlong(screen, {200, 300}, {400, 300}) && screen.pixel(400, 300) == desktop.pixel(400, 300);
    })) << "the stroke is not where the pointer went: " << marks << " marks, " << (allBlack ? "all" : "not all")
        << " black";

    // The line: two clicks, a one-pixel black line between them.
    chooseTool(session, options::line);
    session.click({600, 100});
    session.click({800, 200});
    session.moveTo(1800, 1000);
    EXPECT_TRUE(waitUntil([&] {
        const Image screen = session.grab();
        std::tie(marks, allBlack) = marksIn(screen, desktop, {590, 90, 220, 120});
        return allBlack && marks < 450 && screen.pixel(600, 100) == black && screen.pixel(700, 150) == black &&
               screen.pixel(650, 125) == black && screen.pixel(750, 175) == black;
    })) << "no one-pixel black line from (600, 100) to (800, 200): " << marks << " marks";

    // The spray: black dots within its radius (10) of the pointer's path only.
    chooseTool(session, options::spray);
    const Point p{1000, 500};
    session.moveTo(p);
    session.press();
    for (int i = 1; i <= 5; ++i)
        session.moveTo(p.x + i, p.y);
    session.release();
    session.moveTo(1800, 1000);
    long all = 0, inside = 0;
    bool insideBlack = false;
    EXPECT_TRUE(waitUntil([&] {
        const Image screen = session.grab();
        all = marksIn(screen, desktop, {p.x - 60, p.y - 60, 125, 120}).first;
        std::tie(inside, insideBlack) = marksIn(screen, desktop, {p.x - 10, p.y - 10, 26, 21});
        return all >= 20 && insideBlack && all == inside;
    })) << all << " dots, " << inside << " within the radius, " << (insideBlack ? "all" : "not all") << " black";

    // The save: the dialog above the options window, the name typed into it.
    // The name field completes what is typed from the folder's entries in a
    // list that pops up over the dialog, and while that list is open it
    // takes a Return for itself: in the empty folder nothing completes
    // "gnome", so the one Return goes to the dialog.
    const GnomeWindow options = openOptions(session, {1500, 900});
    session.click(client(session, options, options::saveButton));
    const GnomeWindow dialog = session.findWindow(saveDialogTitle);
    if (!focused(session, dialog))
        session.activate(saveDialogTitle); // a person clicks into it
    ASSERT_TRUE(focused(session, dialog)) << "the save dialog does not take the keyboard:" << windowList(session);
    session.typeText("gnome");
    ASSERT_FALSE(popupOpen(session)) << "a list pops up over the dialog:" << windowList(session);
    session.key("Return");
    // The dialog goes, then the whole file is written.
    const auto saved = dir / "gnome.bmp";
    testbmp::Parsed file;
    ASSERT_TRUE(session.waitWindowGone(saveDialogTitle)) << "the dialog stays:" << windowList(session);
    ASSERT_TRUE(waitUntil([&] {
        if (!std::filesystem::exists(saved))
            return false;
        file = testbmp::parse(testbmp::readFile(saved.string()));
        return file.error.empty();
    })) << "no whole file " << saved << ": " << file.error << "\n" << app.output() << windowList(session);
    closeOptions(session, options);

    EXPECT_EQ(file.bitCount, 32);
    ASSERT_EQ(file.width, 1920);
    ASSERT_EQ(file.height, 1080);
    Image picture(session.deviceRect());
    for (int y = 0; y < file.height; ++y)
        for (int x = 0; x < file.width; ++x) {
            const ColorRef c = file.at(x, y);
            picture.setPixel(x, y, {redOf(c), greenOf(c), blueOf(c)});
        }
    EXPECT_TRUE(waitUntil([&] { return sameBelowTopBar(session, picture, &why); })) << "the file differs from the screen: " << why;
    EXPECT_TRUE(app.running()) << app.output();
    app.kill();
    EXPECT_EQ(newFiles(before, picturesAndHome(session)), "") << "the portal's screenshot is left behind";
}

namespace {

bool asks(const GnomeSession &session)
{
    for (const std::string &text : session.openDialogTexts())
        if (text == accessQuestion)
            return true;
    return false;
}

// The error box, once it has the keyboard and has settled: the picture of
// its client area, below Qt's title bar (whose look follows the focus). The
// box does not always get the keyboard from the shell when it appears over
// the surface: a person clicks into it (on its title bar, away from its
// controls). The harness may read the screen only while the portal's
// answer is "yes": it is stored for the moment.
Image errorBoxPicture(GnomeSession &session, const std::string &storedAnswer)
{
    const std::optional<GnomeWindow> box = boxTitled(session, surfaceTitle);
    if (!box)
        throw Error("no error box:" + windowList(session));
    if (!focused(session, *box)) {
        session.click({box->rect.x + box->rect.width / 3, box->rect.y + 10 * session.scale()});
        if (!focused(session, *box))
            throw Error("the error box does not take the keyboard:" + windowList(session));
    }
    session.setPermission("yes");
    GnomeWindow shown;
    Image screen;
    const bool settled = waitUntil([&] {
        shown = *boxTitled(session, surfaceTitle);
        screen = session.grab();
        return boxTitled(session, surfaceTitle)->rect == shown.rect;
    });
    session.setPermission(storedAnswer);
    if (!settled)
        throw Error("the error box does not stay in place:" + windowList(session));
    const Point origin = client(session, shown, {0, 0});
    const Rect area{0, 0, shown.rect.right() - origin.x, shown.rect.bottom() - origin.y};
    Image picture(area);
    for (int y = 0; y < area.height; ++y)
        for (int x = 0; x < area.width; ++x)
            picture.setPixel(x, y, screen.pixel(origin.x + x, origin.y + y));
    return picture;
}

} // namespace

// GNOME asks the person before the first screenshot, and remembers the
// answer. Allow: the frozen desktop. Deny: an error box that explains, and
// the program goes on; the next start gets the stored refusal at once and
// the same box, without a question, until the README's command allows
// screenshots again.
TEST(GnomePortalQuestion, AllowShowsTheDesktopDenyExplainsItselfIsRememberedAndTheReadmeUndoesIt)
{
    GnomeOptions options;
    options.grant = false;
    GnomeSession session(options);
    const auto before = picturesAndHome(session);
    {
        SCOPED_TRACE("Allow");
        Program app(session, SKARVEL_PATH);
        ASSERT_TRUE(waitUntil([&] { return asks(session); }, 30s, 50ms)) << windowList(session) << app.output();
        // The focus starts on Deny.
        ASSERT_TRUE(waitUntil([&] { return session.shellFocusLabel() == "Deny"; })) << session.shellFocusLabel();
        session.key("Tab");
        ASSERT_TRUE(waitUntil([&] { return session.shellFocusLabel() == "Allow"; })) << session.shellFocusLabel();
        session.key("Return");
        const GnomeWindow surface = waitSurface(session, app);
        // The answer is stored now, for the harness's reads too.
        const Image frozen = session.grab();
        leave(session, app, surface);
        // The shell's screenshot may still show the last frame with a window
        // in it for a moment after the window is gone.
        std::string why;
        EXPECT_TRUE(waitUntil([&] { return sameBelowTopBar(session, frozen, &why); }))
            << "the surface did not show the desktop: " << why;
    }
    EXPECT_EQ(newFiles(before, picturesAndHome(session)), "") << "the portal's screenshot is left behind";

    session.setPermission("forget");
    Image firstBox;
    {
        Program app(session, SKARVEL_PATH);
        ASSERT_TRUE(waitUntil([&] { return asks(session); }, 30s, 50ms)) << windowList(session) << app.output();
        ASSERT_TRUE(waitUntil([&] { return session.shellFocusLabel() == "Deny"; })) << session.shellFocusLabel();
        session.key("Return");
        waitSurface(session, app);
        firstBox = errorBoxPicture(session, "no");
        EXPECT_TRUE(app.running()) << app.output();
    }
    {
        Program app(session, SKARVEL_PATH);
        bool asked = false;
        const std::optional<GnomeWindow> box = boxTitled(session, surfaceTitle, [&] { asked = asked || asks(session); });
        ASSERT_TRUE(box) << "no error box:" << windowList(session) << "\n" << app.output();
        EXPECT_FALSE(asked) << "the stored refusal was asked again";
        const Image secondBox = errorBoxPicture(session, "no");
        EXPECT_EQ(secondBox, firstBox) << "not the same error box";
        EXPECT_TRUE(app.running()) << app.output();
    }
    EXPECT_EQ(newFiles(before, picturesAndHome(session)), "") << "a file is left behind";

    // The README's command allows screenshots again: the next start shows
    // the desktop without a question.
    const std::string readme = readFile(SKARVEL_SOURCE_DIR "/README.md");
    const std::size_t at = readme.find("gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore");
    ASSERT_NE(at, std::string::npos) << "the README gives no command that allows screenshots again";
    const std::string command = readme.substr(at, readme.find('\n', at) - at);
    ASSERT_NE(command.find("SetPermission"), std::string::npos) << command;
    std::string output;
    ASSERT_EQ(session.runCommand(command, &output), 0) << command << "\n" << output;
    SCOPED_TRACE("allowed again");
    const Image desktop = session.grab();
    Program app(session, SKARVEL_PATH);
    const GnomeWindow surface = waitSurface(session, app);
    std::string why;
    EXPECT_TRUE(waitUntil([&] { return sameBelowTopBar(session, desktop, &why); })) << why << "\n" << app.output();
    // No error box: the surface has the keyboard, and the way out is open.
    leave(session, app, surface);
}

