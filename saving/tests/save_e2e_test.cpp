// Saving the picture, end to end: the real dialog on a private X display,
// the file on disk, and the screen it must match.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "harness/harness.h"
#include "saving/tests/bmp_reader.h"

#include <X11/keysym.h>

using namespace e2e;
namespace fs = std::filesystem;

namespace {

const std::string dialogTitle = "Сохранить рисунок рабочего стола";

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

// The program with its picture frozen and a known stroke drawn on it.
struct Session {
    explicit Session(const DisplayOptions &options) : display(options)
    {
        display.paintDesktop(Pattern::A);
        app = std::make_unique<Program>(display, SKARVEL_SAVE_PROBE_PATH);
        surface = findSurface(display);
        if (!waitUntil([&] { return display.compareDesktop(Pattern::A, display.screenRect()).matches(); }))
            throw Error("the surface does not show the desktop: " + app->output());
        display.activateWindow(surface);
        display.key(XK_F11); // the stroke: red from (100, 100) to (400, 250), blue along y = 300
        if (!waitUntil([&] { return display.pixel(250, 175) == Rgb{255, 0, 0}; }))
            throw Error("the stroke did not appear");
    }

    // A press of the right button opens the options window; its
    // "Сохранить как..." opens the real save dialog.
    WindowInfo openDialog()
    {
        display.click(900, 700, RightButton);
        options = display.findWindow("Опции");
        display.click(options.rect.x + 7 + 44, options.rect.y + 272 + 11);
        return display.findWindow(dialogTitle);
    }

    // "Закрыть окно" hides the options window again. The window manager's
    // frame of the closed dialog may linger over it for a moment.
    void closeOptions()
    {
        const Point button{options.rect.x + 112 + 44, options.rect.y + 272 + 11};
        const bool onTop = waitUntil([&] {
            for (const WindowInfo &w : display.topLevelWindows())
                if (w.viewable() && !w.popup && w.frameRect.contains(button.x, button.y))
                    return w.id == options.id;
            return false;
        });
        if (!onTop)
            throw Error("the options window does not come back on top");
        display.click(button);
        if (!display.waitWindowGone("Опции"))
            throw Error("the options window stays");
    }

    VirtualDisplay display;
    std::unique_ptr<Program> app;
    WindowInfo surface;
    WindowInfo options;
    TempDir dir{"skarvel-save"};
};

// Pixels where the file and the screen differ, compared with `bits` bits per
// component (the display's precision).
long mismatches(const testbmp::Parsed &file, const Image &screen, int bits, std::string *first)
{
    const int shift = 8 - bits;
    long bad = 0;
    for (int y = 0; y < file.height; ++y)
        for (int x = 0; x < file.width; ++x) {
            const ColorRef c = file.at(x, y);
            const Rgb s = screen.pixel(x, y);
            if ((redOf(c) >> shift) != (s.r >> shift) || (greenOf(c) >> shift) != (s.g >> shift) ||
                (blueOf(c) >> shift) != (s.b >> shift)) {
                if (bad++ == 0 && first) {
                    std::ostringstream out;
                    out << "first at (" << x << ", " << y << "): file #" << std::hex << c << ", screen " << s;
                    *first = out.str();
                }
            }
        }
    return bad;
}

void saveAndCompare(const DisplayOptions &options, int expectedBits, std::uintmax_t expectedSize)
{
    Session s(options);
    const WindowInfo dialog = s.openDialog();
    // Centred horizontally on the monitor, a third of the free height above.
    EXPECT_EQ(dialog.frameRect.x, (options.width - dialog.frameRect.width) / 2) << dialog;
    EXPECT_EQ(dialog.frameRect.y, (options.height - dialog.frameRect.height) / 3) << dialog;

    // A full path without an extension, Cyrillic and with spaces.
    const fs::path typed = s.dir / "Мой рабочий стол";
    s.display.typeText(typed.string() + "\n");
    const fs::path saved = s.dir / "Мой рабочий стол.bmp";
    ASSERT_TRUE(waitUntil([&] { return fs::exists(saved); })) << s.app->output();
    EXPECT_TRUE(s.display.waitWindowGone(dialogTitle));
    EXPECT_EQ(fs::file_size(saved), expectedSize);
    EXPECT_FALSE(fs::exists(typed)) << "saved without .bmp";

    const testbmp::Parsed file = testbmp::parse(testbmp::readFile(saved.string()));
    ASSERT_EQ(file.error, "");
    EXPECT_EQ(file.bitCount, expectedBits);
    EXPECT_EQ(file.compression, 0u);
    ASSERT_EQ(file.width, options.width);
    ASSERT_EQ(file.height, options.height);
    EXPECT_EQ(file.at(250, 175), clRed);
    EXPECT_EQ(file.at(300, 300), clBlue);
    const Rgb desktop = expectedDesktopColor(Pattern::A, 700, 600);
    EXPECT_EQ(file.at(700, 600), makeColorRef(desktop.r, desktop.g, desktop.b));

    // Every pixel is what the screen shows, once the dialog and the options
    // window are gone and their places repainted.
    s.closeOptions();
    const int precision = options.depth == 16 ? 5 : 8;
    long bad = -1;
    std::string first;
    waitUntil([&] {
        first.clear();
        bad = mismatches(file, s.display.grab(), precision, &first);
        return bad == 0;
    });
    EXPECT_EQ(bad, 0) << first;

    // Nothing else was left in the folder, and the program goes on.
    EXPECT_EQ(std::distance(fs::directory_iterator(s.dir.path()), fs::directory_iterator()), 1);
    EXPECT_TRUE(s.app->running()) << s.app->output();
}

} // namespace

TEST(SaveE2E, StrokeIsSavedThroughTheRealDialogAsTheScreenShowsIt)
{
    // A true-colour display stores 32 bits per pixel: width x height x 4 + 54.
    saveAndCompare({1024, 768, 24, true}, 32, 1024u * 768u * 4u + 54u);
}

TEST(SaveE2E, SixteenBitDisplayGivesASixteenBitFile)
{
    saveAndCompare({1024, 768, 16, true}, 16, 1572918u);
}

TEST(SaveE2E, MissingFolderShowsTheErrorBoxAndWritesNothing)
{
    Session s({1024, 768, 24, true});
    s.openDialog();
    s.display.typeText((s.dir / "нет такой папки" / "x").string() + "\n");
    EXPECT_TRUE(s.display.waitWindowGone(dialogTitle));

    // The error box: a second window with the program's title.
    WindowInfo box;
    ASSERT_TRUE(waitUntil([&] {
        for (const WindowInfo &w : s.display.windowsWithTitle("Скарвел"))
            if (w.viewable() && w.id != s.surface.id) {
                box = w;
                return true;
            }
        return false;
    })) << s.app->output();
    EXPECT_LT(box.rect.width, s.display.width() / 2);

    s.display.key(XK_Return); // OK
    EXPECT_TRUE(waitUntil([&] { return !s.display.windowInfo(box.id) || !s.display.windowInfo(box.id)->viewable(); }));
    EXPECT_FALSE(fs::exists(s.dir / "нет такой папки"));
    EXPECT_TRUE(fs::is_empty(s.dir.path()));
    EXPECT_TRUE(s.app->running()) << s.app->output();
}
