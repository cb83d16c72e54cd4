// Tests of the end-to-end harness itself, against real Xvfb servers, openbox,
// windows made here with Xlib and a tiny Qt program.

#include "harness/harness.h"

#include <gtest/gtest.h>

#include <QImage>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <csignal>
#include <fstream>

using namespace e2e;

namespace {

// Exact on 16-bit (565) displays too, and unlike any desktop colour.
constexpr Rgb windowGrey{132, 130, 132};

std::string keysymText(KeySym ks)
{
    char32_t c = 0;
    if (ks == XK_Return)
        c = U'\n';
    else if (ks >= 0x20 && ks < 0x100)
        c = static_cast<char32_t>(ks);
    else if ((ks & 0xff000000) == 0x01000000)
        c = static_cast<char32_t>(ks & 0xffffff);
    else
        return "<" + std::string(XKeysymToString(ks) ? XKeysymToString(ks) : "?") + ">";
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xe0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
    return out;
}

// Another X client on the display, like the program under test would be:
// makes windows and records the events they get.
class TestClient {
public:
    explicit TestClient(const VirtualDisplay &display) : dpy_(XOpenDisplay(display.name().c_str()))
    {
        if (!dpy_)
            throw Error("test client cannot connect to " + display.name());
    }
    ~TestClient() { XCloseDisplay(dpy_); }

    Display *dpy() const { return dpy_; }

    Window createWindow(const Rect &r, const char *netWmName, const char *wmName = nullptr, bool popup = false)
    {
        XColor grey{};
        grey.red = windowGrey.r * 257;
        grey.green = windowGrey.g * 257;
        grey.blue = windowGrey.b * 257;
        XAllocColor(dpy_, DefaultColormap(dpy_, DefaultScreen(dpy_)), &grey);
        const Window w = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), r.x, r.y, static_cast<unsigned>(r.width),
                                             static_cast<unsigned>(r.height), 0, 0, grey.pixel);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = popup;
        XChangeWindowAttributes(dpy_, w, CWOverrideRedirect, &attributes);
        XSizeHints hints{};
        hints.flags = USPosition | USSize;
        hints.x = r.x;
        hints.y = r.y;
        hints.width = r.width;
        hints.height = r.height;
        XSetWMNormalHints(dpy_, w, &hints);
        if (netWmName)
            XChangeProperty(dpy_, w, XInternAtom(dpy_, "_NET_WM_NAME", False), XInternAtom(dpy_, "UTF8_STRING", False),
                            8, PropModeReplace, reinterpret_cast<const unsigned char *>(netWmName),
                            static_cast<int>(std::strlen(netWmName)));
        if (wmName)
            XChangeProperty(dpy_, w, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(wmName), static_cast<int>(std::strlen(wmName)));
        XSelectInput(dpy_, w,
                     ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask | KeyReleaseMask |
                         StructureNotifyMask);
        XMapWindow(dpy_, w);
        XSync(dpy_, False);
        return w;
    }

    // Reads what has arrived; keeps the map current for XLookupString.
    const std::vector<XEvent> &events()
    {
        while (XPending(dpy_)) {
            XEvent e;
            XNextEvent(dpy_, &e);
            if (e.type == MappingNotify)
                XRefreshKeyboardMapping(&e.xmapping);
            events_.push_back(e);
        }
        return events_;
    }
    void clear()
    {
        events();
        events_.clear();
    }
    std::vector<XEvent> ofType(int type)
    {
        std::vector<XEvent> out;
        for (const XEvent &e : events())
            if (e.type == type)
                out.push_back(e);
        return out;
    }
    // The text of the key presses so far, as the keysyms spell it.
    std::string typed()
    {
        std::string text;
        for (XEvent e : ofType(KeyPress)) {
            char buffer[16];
            KeySym ks = NoSymbol;
            XLookupString(&e.xkey, buffer, sizeof buffer, &ks, nullptr);
            if (!IsModifierKey(ks))
                text += keysymText(ks);
        }
        return text;
    }

private:
    Display *dpy_;
    std::vector<XEvent> events_;
};

bool processAlive(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

} // namespace

// --- The desktop pattern --------------------------------------------------

TEST(DesktopPattern, UsesPureColoursNeighboursDifferAndPatternsDifferEverywhere)
{
    for (int ty = 0; ty < 40; ++ty) {
        for (int tx = 0; tx < 60; ++tx) {
            const int x = tx * tileSize, y = ty * tileSize;
            for (Pattern p : {Pattern::A, Pattern::B}) {
                const Rgb c = expectedDesktopColor(p, x, y);
                for (int v : {c.r, c.g, c.b})
                    ASSERT_TRUE(v == 0 || v == 255) << c;
                ASSERT_EQ(c, expectedDesktopColor(p, x + tileSize - 1, y + tileSize - 1)) << "tiles are uniform";
                ASSERT_NE(c, expectedDesktopColor(p, x + tileSize, y)) << "tile " << tx << "," << ty;
                ASSERT_NE(c, expectedDesktopColor(p, x, y + tileSize)) << "tile " << tx << "," << ty;
            }
            ASSERT_NE(expectedDesktopColor(Pattern::A, x, y), expectedDesktopColor(Pattern::B, x, y));
        }
    }
}

TEST(DesktopPattern, ShiftedScaledOrChannelSwappedCopiesDoNotMatch)
{
    const Rect screen{0, 0, 1024, 768};
    auto fraction = [&](auto transformed) {
        long differing = 0, total = 0;
        for (int y = 0; y < screen.height; y += 8)
            for (int x = 0; x < screen.width; x += 8, ++total)
                differing += transformed(x, y) != expectedDesktopColor(Pattern::A, x, y);
        return double(differing) / double(total);
    };
    for (int shift : {1, 2, 3, 4, 5, 8, 16}) {
        const int d = shift * tileSize;
        EXPECT_GT(fraction([&](int x, int y) { return expectedDesktopColor(Pattern::A, x + d, y); }), 0.5) << shift;
        EXPECT_GT(fraction([&](int x, int y) { return expectedDesktopColor(Pattern::A, x, y + d); }), 0.5) << shift;
    }
    EXPECT_GT(fraction([](int x, int y) { return expectedDesktopColor(Pattern::A, x / 2, y / 2); }), 0.5);
    EXPECT_GT(fraction([](int x, int y) { return expectedDesktopColor(Pattern::A, x * 2, y * 2); }), 0.5);
    EXPECT_GT(fraction([](int x, int y) {
                  const Rgb c = expectedDesktopColor(Pattern::A, x, y);
                  return Rgb{c.b, c.g, c.r};
              }),
              0.3);
}

TEST(DesktopPattern, ComparisonCountsMismatchesOutsideIgnoredAreasAtScreenPositions)
{
    // An image of the screen area 100x60+40+50, i.e. not at the origin.
    Image image(Rect{40, 50, 100, 60});
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, expectedDesktopColor(Pattern::A, 40 + x, 50 + y));
    EXPECT_TRUE(compareWithDesktop(image, Pattern::A).matches());
    EXPECT_EQ(compareWithDesktop(image, Pattern::A).compared, 6000);
    EXPECT_EQ(compareWithDesktop(image, Pattern::B).mismatches, 6000);

    const Rgb wrong = expectedDesktopColor(Pattern::B, 45, 53);
    image.setPixel(5, 3, wrong);                   // screen (45, 53)
    image.setPixel(99, 59, Rgb{1, 2, 3});          // screen (139, 109)
    const DesktopDiff diff = compareWithDesktop(image, Pattern::A);
    EXPECT_EQ(diff.mismatches, 2);
    EXPECT_EQ(diff.first, (Point{45, 53}));
    EXPECT_EQ(diff.actual, wrong);
    EXPECT_EQ(diff.expected, expectedDesktopColor(Pattern::A, 45, 53));
    EXPECT_NE(diff.describe().find("(45, 53)"), std::string::npos) << diff;

    const DesktopDiff ignoring = compareWithDesktop(image, Pattern::A, {Rect{130, 100, 50, 50}});
    EXPECT_EQ(ignoring.mismatches, 1);
    EXPECT_EQ(ignoring.compared, 6000 - 10 * 10);
}

TEST(Image, SavesEveryPixelToPngAndLoadsItBack)
{
    TempDir dir;
    Image image(Rect{7, 9, 37, 21});
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, Rgb{std::uint8_t(x * 7), std::uint8_t(y * 11), std::uint8_t(x ^ y)});
    image.savePng(dir / "shot.png");
    QImage back(QString::fromStdString((dir / "shot.png").string()));
    ASSERT_EQ(back.width(), 37);
    ASSERT_EQ(back.height(), 21);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = back.pixel(x, y);
            ASSERT_EQ((Rgb{std::uint8_t(qRed(p)), std::uint8_t(qGreen(p)), std::uint8_t(qBlue(p))}), image.pixel(x, y))
                << x << "," << y;
        }
    Image loaded = Image::load(dir / "shot.png");
    EXPECT_EQ(loaded.rect(), (Rect{0, 0, 37, 21}));
    EXPECT_NE(loaded, image) << "placed at the origin";
    Image moved(Rect{7, 9, 37, 21});
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            moved.setPixel(x, y, loaded.pixel(x, y));
    EXPECT_EQ(moved, image);

    EXPECT_THROW(image.pixel(37, 0), Error);
    EXPECT_THROW(image.savePng(dir / "no-such-dir" / "x.png"), Error);
    std::ofstream(dir / "junk.bmp") << "not a picture";
    EXPECT_THROW(Image::load(dir / "junk.bmp"), Error);
}

TEST(Util, TempDirRemovesItselfAndWaitUntilPollsUntilTrueOrTimeout)
{
    std::filesystem::path path;
    {
        TempDir dir;
        path = dir.path();
        std::filesystem::create_directories(dir / "sub");
        std::ofstream(dir / "sub" / "file.txt") << "x";
        EXPECT_TRUE(std::filesystem::exists(dir / "sub" / "file.txt"));
    }
    EXPECT_FALSE(std::filesystem::exists(path));

    int calls = 0;
    EXPECT_TRUE(waitUntil([&] { return ++calls == 3; }, 5s, 1ms));
    EXPECT_EQ(calls, 3);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(waitUntil([] { return false; }, 200ms, 10ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
}

// --- Displays and reading the screen ----------------------------------------

class DisplayDepth : public testing::TestWithParam<int> {};

TEST_P(DisplayDepth, PaintsAndReadsBackBothPatternsExactly)
{
    // A size that is no multiple of the tile size.
    VirtualDisplay display({.width = 1000, .height = 740, .depth = GetParam(), .windowManager = false});
    EXPECT_EQ(display.name().rfind(':', 0), 0u) << display.name();
    EXPECT_EQ(display.width(), 1000);
    EXPECT_EQ(display.height(), 740);
    EXPECT_EQ(display.depth(), GetParam());
    EXPECT_EQ(display.bitsPerPixel(), GetParam() == 24 ? 32 : GetParam());

    display.paintDesktop(Pattern::A);
    DesktopDiff diff = display.compareDesktop(Pattern::A, display.screenRect());
    EXPECT_TRUE(diff.matches()) << diff;
    EXPECT_EQ(diff.compared, 1000 * 740);
    for (Point p : {Point{0, 0}, Point{999, 739}, Point{31, 32}, Point{500, 1}, Point{998, 420}})
        EXPECT_EQ(display.pixel(p.x, p.y), expectedDesktopColor(Pattern::A, p.x, p.y)) << p;
    EXPECT_THROW(display.pixel(1000, 0), Error);

    // The pointer over the desktop does not show in what is read.
    display.moveTo(300, 300);
    display.paintDesktop(Pattern::B);
    const Image grabbed = display.grab(Rect{250, 260, 120, 90});
    EXPECT_EQ(grabbed.rect(), (Rect{250, 260, 120, 90}));
    EXPECT_TRUE(compareWithDesktop(grabbed, Pattern::B).matches()) << compareWithDesktop(grabbed, Pattern::B);
    diff = display.compareDesktop(Pattern::A, display.screenRect());
    EXPECT_EQ(diff.mismatches, diff.compared) << "B differs from A in every pixel";
    EXPECT_EQ(display.grab(Rect{990, 730, 50, 50}).rect(), (Rect{990, 730, 10, 10})) << "clipped to the screen";
}

INSTANTIATE_TEST_SUITE_P(Depths, DisplayDepth, testing::Values(24, 16, 8),
                         [](const auto &info) { return std::to_string(info.param) + "bit"; });

TEST(VirtualDisplay, DisplaysRunSideBySideAndLeaveNothingBehind)
{
    pid_t servers[2], windowManager;
    std::string names[2];
    {
        VirtualDisplay first({.windowManager = true});
        VirtualDisplay second({.width = 640, .height = 480, .windowManager = false});
        EXPECT_NE(first.name(), second.name());
        EXPECT_TRUE(first.hasWindowManager());
        EXPECT_FALSE(second.hasWindowManager());
        EXPECT_EQ(second.width(), 640);
        servers[0] = first.serverPid();
        servers[1] = second.serverPid();
        windowManager = first.windowManagerPid();
        names[0] = first.name();
        names[1] = second.name();
        EXPECT_TRUE(processAlive(servers[0]) && processAlive(servers[1]) && processAlive(windowManager));
        // Each paints its own screen.
        first.paintDesktop(Pattern::A);
        second.paintDesktop(Pattern::B);
        EXPECT_TRUE(first.compareDesktop(Pattern::A, first.screenRect()).matches());
        EXPECT_TRUE(second.compareDesktop(Pattern::B, second.screenRect()).matches());
    }
    EXPECT_FALSE(processAlive(servers[0]));
    EXPECT_FALSE(processAlive(servers[1]));
    EXPECT_FALSE(processAlive(windowManager));
    // No lock file of theirs is left either (it holds the server's process
    // id). Another test's server may take a display number as soon as it is
    // free, so a server that answers there now, or a lock file of another
    // process, is no leftover.
    for (int i = 0; i < 2; ++i) {
        std::ifstream lock("/tmp/.X" + names[i].substr(1) + "-lock");
        long owner = 0;
        if (lock >> owner) {
            EXPECT_NE(owner, long(servers[i])) << names[i] << " left its lock file behind";
        }
    }
}

TEST(VirtualDisplay, ReportsAServerThatCannotStart)
{
    try {
        VirtualDisplay display({.depth = 7, .windowManager = false});
        FAIL() << "a display of depth 7 started";
    } catch (const Error &e) {
        EXPECT_NE(std::string(e.what()).find("Xvfb did not start"), std::string::npos) << e.what();
    }
}

// --- Windows and input, without and with a window manager -------------------

class WindowTest : public testing::TestWithParam<bool> {
protected:
    VirtualDisplay display{{.windowManager = GetParam()}};
    TestClient client{display};
    void SetUp() override { display.paintDesktop(Pattern::A); }
};

TEST_P(WindowTest, FindsWindowsByExactTitleWithTheirGeometry)
{
    const Window options = client.createWindow({100, 120, 240, 160}, "Опции");
    const Window palette = client.createWindow({500, 300, 200, 100}, nullptr, "Caf\xe9");  // WM_NAME, Latin-1
    const Window both = client.createWindow({600, 500, 100, 80}, "Скарвел", "Skarvel");

    const WindowInfo w = display.findWindow("Опции");
    EXPECT_EQ(w.id, options);
    EXPECT_EQ(w.title, "Опции");
    EXPECT_TRUE(w.viewable());
    EXPECT_EQ(w.rect.width, 240);
    EXPECT_EQ(w.rect.height, 160);
    if (GetParam()) {
        EXPECT_NE(w.frame, w.id) << "openbox reparents into a frame";
        EXPECT_LT(w.frameRect.y, w.rect.y) << "a title bar above";
        EXPECT_LE(w.frameRect.x, w.rect.x);
        EXPECT_GE(w.frameRect.right(), w.rect.right());
        EXPECT_GE(w.frameRect.bottom(), w.rect.bottom());
    } else {
        EXPECT_EQ(w.rect, (Rect{100, 120, 240, 160}));
        EXPECT_EQ(w.frame, w.id);
        EXPECT_EQ(w.frameRect, w.rect);
    }
    EXPECT_EQ(display.findWindow("Caf\u00e9").id, palette);
    EXPECT_EQ(display.findWindow("Скарвел").id, both) << "_NET_WM_NAME comes before WM_NAME";
    EXPECT_TRUE(display.windowsWithTitle("Опц").empty());

    // A pop-up with the same title on top (as a tooltip may have) is not
    // taken for the window.
    const Window tip = client.createWindow({110, 130, 50, 20}, "Опции", nullptr, true);
    ASSERT_TRUE(waitUntil([&] { return display.windowsWithTitle("Опции").size() == 2; }));
    EXPECT_EQ(display.windowsWithTitle("Опции")[0].id, tip);
    EXPECT_TRUE(display.windowsWithTitle("Опции")[0].popup);
    EXPECT_EQ(display.findWindow("Опции").id, options);
    EXPECT_FALSE(display.findWindow("Опции").popup);
    XDestroyWindow(client.dpy(), tip);
    XSync(client.dpy(), False);
    ASSERT_TRUE(waitUntil([&] { return display.windowsWithTitle("Опции").size() == 1; }));
    EXPECT_TRUE(display.windowsWithTitle("Skarvel").empty());

    // The client rectangle is exactly the window's inside, and everything
    // outside the frame is still the desktop.
    ASSERT_TRUE(waitUntil([&] { return display.grab(w.rect).count(windowGrey) == 240L * 160; }))
        << display.grab(w.rect).count(windowGrey);
    // What the window shows of itself, read at its own coordinates.
    EXPECT_EQ(display.windowPixel(w, {0, 0}), windowGrey);
    EXPECT_EQ(display.windowPixel(w, {239, 159}), windowGrey);
    EXPECT_THROW(display.windowPixel(w, {240, 0}), Error);
    const auto refreshed = [&](Window id) { return display.windowInfo(id).value().frameRect; };
    const DesktopDiff outside = display.compareDesktop(Pattern::A, display.screenRect(),
                                                       {refreshed(options), refreshed(palette), refreshed(both)});
    EXPECT_TRUE(outside.matches()) << outside;
    if (GetParam()) {
        // ...and the frame around it is drawn by openbox, not desktop.
        const DesktopDiff frame = display.compareDesktop(Pattern::A, w.frameRect, {w.rect});
        EXPECT_GT(frame.compared, 0);
        EXPECT_GT(frame.mismatches, frame.compared * 8 / 10) << frame;
    }

    try {
        display.findWindow("Нет такого", 300ms);
        ADD_FAILURE() << "found a window that does not exist";
    } catch (const Error &e) {
        EXPECT_NE(std::string(e.what()).find("\"Опции\""), std::string::npos) << e.what();
    }

    XUnmapWindow(client.dpy(), options);
    XSync(client.dpy(), False);
    EXPECT_TRUE(display.waitWindowGone("Опции"));
    EXPECT_FALSE(display.windowPixel(w, {0, 0})) << "an unmapped window shows nothing";
    for (const WindowInfo &gone : display.windowsWithTitle("Опции"))
        EXPECT_FALSE(gone.viewable());
    XDestroyWindow(client.dpy(), palette);
    XSync(client.dpy(), False);
    EXPECT_TRUE(waitUntil([&] { return !display.windowInfo(palette).has_value(); }));
}

TEST_P(WindowTest, ClicksAndDragsArriveAtWindowCoordinates)
{
    const Window window = client.createWindow({200, 150, 300, 200}, "Скарвел");
    const WindowInfo w = display.findWindow("Скарвел");
    display.activateWindow(w);
    client.clear();

    display.click(w.rect.x + 10, w.rect.y + 20);
    display.click(w.rect.x + 250, w.rect.y + 180, RightButton);
    ASSERT_TRUE(waitUntil([&] { return client.ofType(ButtonRelease).size() >= 2; }));
    auto presses = client.ofType(ButtonPress);
    ASSERT_EQ(presses.size(), 2u);
    EXPECT_EQ(presses[0].xbutton.window, window);
    EXPECT_EQ(presses[0].xbutton.button, 1u);
    EXPECT_EQ((Point{presses[0].xbutton.x, presses[0].xbutton.y}), (Point{10, 20}));
    EXPECT_EQ((Point{presses[0].xbutton.x_root, presses[0].xbutton.y_root}), (Point{w.rect.x + 10, w.rect.y + 20}));
    EXPECT_EQ(presses[1].xbutton.button, 3u);
    EXPECT_EQ((Point{presses[1].xbutton.x, presses[1].xbutton.y}), (Point{250, 180}));

    client.clear();
    display.drag({w.rect.x + 5, w.rect.y + 5}, {w.rect.x + 105, w.rect.y + 55}, 5);
    ASSERT_TRUE(waitUntil([&] { return !client.ofType(ButtonRelease).empty(); }));
    presses = client.ofType(ButtonPress);
    std::vector<XEvent> motions; // while the button is down
    for (const XEvent &m : client.ofType(MotionNotify))
        if (m.xmotion.state & Button1Mask)
            motions.push_back(m);
    const auto releases = client.ofType(ButtonRelease);
    ASSERT_EQ(presses.size(), 1u);
    EXPECT_EQ((Point{presses[0].xbutton.x, presses[0].xbutton.y}), (Point{5, 5}));
    ASSERT_EQ(motions.size(), 5u);
    EXPECT_EQ((Point{motions[0].xmotion.x, motions[0].xmotion.y}), (Point{25, 15}));
    EXPECT_EQ((Point{motions[4].xmotion.x, motions[4].xmotion.y}), (Point{105, 55}));
    EXPECT_EQ((Point{releases[0].xbutton.x, releases[0].xbutton.y}), (Point{105, 55}));
    EXPECT_EQ(display.pointer(), (Point{w.rect.x + 105, w.rect.y + 55}));
}

TEST_P(WindowTest, TypesCyrillicTextAndKeysWithModifiers)
{
    client.createWindow({100, 100, 300, 200}, "Сохранить");
    const WindowInfo w = display.findWindow("Сохранить");
    display.activateWindow(w);
    EXPECT_EQ(display.focusedWindow(), w.id);

    int minCode, maxCode, perCode;
    XDisplayKeycodes(client.dpy(), &minCode, &maxCode);
    auto keyboardMap = [&] {
        KeySym *map = XGetKeyboardMapping(client.dpy(), KeyCode(minCode), maxCode - minCode + 1, &perCode);
        std::vector<KeySym> syms(map, map + (maxCode - minCode + 1) * perCode);
        XFree(map);
        return syms;
    };
    const auto before = keyboardMap();

    client.clear();
    display.typeText("Тест 1.bmp");
    display.typeText("ЁжЪ!\n");
    ASSERT_TRUE(waitUntil([&] { return client.ofType(KeyRelease).size() >= 15; }));
    EXPECT_EQ(client.typed(), "Тест 1.bmpЁжЪ!\n");

    client.clear();
    display.key(XK_Tab, ShiftModifier);
    display.key(XK_Home);
    display.key(XK_Escape, ControlModifier | AltModifier);
    // Shift, Tab, Home, Control, Alt, Escape.
    ASSERT_TRUE(waitUntil([&] { return client.ofType(KeyRelease).size() >= 6; }));
    std::vector<std::pair<KeySym, unsigned>> keys; // non-modifier presses and their state
    for (XEvent e : client.ofType(KeyPress)) {
        const KeySym ks = XLookupKeysym(&e.xkey, 0);
        if (!IsModifierKey(ks))
            keys.emplace_back(ks, e.xkey.state & (ShiftMask | ControlMask | Mod1Mask));
    }
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0], std::make_pair(KeySym(XK_Tab), unsigned(ShiftMask)));
    EXPECT_EQ(keys[1], std::make_pair(KeySym(XK_Home), 0u));
    EXPECT_EQ(keys[2], std::make_pair(KeySym(XK_Escape), unsigned(ControlMask | Mod1Mask)));

    EXPECT_NE(keyboardMap(), before) << "Cyrillic letters were bound to spare keys";
    display.restoreKeyboardMapping();
    EXPECT_EQ(keyboardMap(), before);
    EXPECT_THROW(display.typeText("\xff"), Error);
}

INSTANTIATE_TEST_SUITE_P(WindowManager, WindowTest, testing::Values(false, true),
                         [](const auto &info) { return std::string(info.param ? "openbox" : "bare"); });

// --- A Qt program through Program --------------------------------------------

TEST(QtProgram, TypedCyrillicReachesQtAndAltF4ClosesItUnderOpenbox)
{
    VirtualDisplay display;
    display.paintDesktop(Pattern::B);
    Program probe(display, E2E_QT_PROBE, {.args = {"Проба"}});
    const WindowInfo w = display.findWindow("Проба", 20s);
    display.activateWindow(w);
    display.click(w.rect.center());

    display.typeText("Тест 1.bmp\n");
    EXPECT_TRUE(waitUntil([&] { return probe.output().find("typed: [Тест 1.bmp]") != std::string::npos; }))
        << probe.output();
    display.typeText("Ёж");
    display.key(XK_Left);
    display.typeText("Ъ");
    display.key(XK_Return);
    EXPECT_TRUE(waitUntil([&] { return probe.output().find("typed: [ЁЪж]") != std::string::npos; }))
        << probe.output();

    EXPECT_GT(probe.residentMemoryKiB(), 1000);
    EXPECT_GE(probe.peakMemoryKiB(), probe.residentMemoryKiB());

    display.key(XK_F4, AltModifier);
    EXPECT_TRUE(display.waitWindowGone("Проба"));
    EXPECT_EQ(probe.waitExit(), 0) << probe.output();
}

// --- Program ----------------------------------------------------------------

class ProgramTest : public testing::Test {
protected:
    VirtualDisplay display{{.width = 320, .height = 240, .windowManager = false}};
};

TEST_F(ProgramTest, ReportsExitCodesAndSignalDeaths)
{
    {
        Program p(display, "/bin/sh", {.args = {"-c", "exit 3"}});
        EXPECT_EQ(p.waitExit(), 3);
        EXPECT_FALSE(p.killedBySignal());
        EXPECT_FALSE(p.running());
        EXPECT_EQ(p.waitExit(), 3) << "asking again";
    }
    {
        Program p(display, "/bin/sh", {.args = {"-c", "kill -SEGV $$"}});
        EXPECT_EQ(p.waitExit(), 128 + SIGSEGV);
        EXPECT_TRUE(p.killedBySignal());
    }
    {
        Program p(display, "sleep", {.args = {"30"}});
        EXPECT_TRUE(p.running());
        EXPECT_EQ(p.waitExit(100ms), std::nullopt);
        p.sendSignal(SIGTERM);
        EXPECT_EQ(p.waitExit(), 128 + SIGTERM);
    }
    {
        Program p(display, "sleep", {.args = {"30"}});
        p.kill();
        EXPECT_FALSE(p.running());
        EXPECT_EQ(p.waitExit(0ms), 128 + SIGKILL);
        EXPECT_THROW(p.residentMemoryKiB(), Error);
    }
    EXPECT_THROW(Program(display, "/nonexistent/skarvel"), Error);
    EXPECT_THROW(Program(display, "/bin/sh", {.workingDirectory = "/nonexistent"}), Error);
}

TEST_F(ProgramTest, PassesDisplayAndEnvironmentAndCapturesOutput)
{
    setenv("WAYLAND_DISPLAY", "wayland-9", 1);
    setenv("SKARVEL_E2E_INHERITED", "yes", 1);
    Program p(display, "/bin/sh",
              {.args = {"-c", "echo \"$DISPLAY|$FOO|${WAYLAND_DISPLAY-unset}|$SKARVEL_E2E_INHERITED|$QT_QPA_PLATFORM\"; "
                              "echo \"$HOME\"; pwd; echo oops >&2; echo \"$@\"",
                        "sh", "арг 1", "b"},
               .env = {{"FOO", "бар"}},
               .unsetEnv = {"SKARVEL_E2E_INHERITED"}});
    ASSERT_EQ(p.waitExit(), 0);
    const std::string home = p.home().string();
    EXPECT_EQ(p.output(), display.name() + "|бар|unset||xcb\n" + home + "\n" + home + "\noops\nарг 1 b\n");
    EXPECT_TRUE(std::filesystem::is_directory(p.home()));
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SKARVEL_E2E_INHERITED");
}

TEST_F(ProgramTest, MeasuresMemoryAndKillsWhatTheProgramStarted)
{
    pid_t grandchild = 0;
    {
        // Holds about 20 MB in a shell variable, then starts a background
        // process of its own.
        Program p(display, "/bin/sh",
                  {.args = {"-c", "x=$(head -c 20000000 /dev/zero | tr '\\0' a); sleep 300 & echo $!; wait"}});
        ASSERT_TRUE(waitUntil([&] { return p.output().find('\n') != std::string::npos; })) << p.output();
        grandchild = std::stoi(p.output());
        EXPECT_TRUE(processAlive(grandchild));
        const long peak = p.peakMemoryKiB();
        EXPECT_GT(peak, 19000);
        EXPECT_GE(peak, p.residentMemoryKiB());
        EXPECT_GT(p.residentMemoryKiB(), 0);
    }
    EXPECT_TRUE(waitUntil([&] { return !processAlive(grandchild); }));
}
