// Saving the picture, end to end: the real dialog on a private X display,
// the file on disk, and the screen it must match.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "steps.h"
#include "saving/tests/bmp_reader.h"

#include <X11/keysym.h>

using namespace e2e;
namespace fs = std::filesystem;

namespace {

const std::string &dialogTitle = saveDialogTitle;

// A private folder for the pictures, where the program starts (and so its
// save dialog opens).
struct Folder {
    TempDir dir{"skarvel-save"};
};

// The program with its picture frozen and two strokes drawn on it with the
// pencil, as a person draws them: red from (100, 100) to (400, 250) through
// (250, 175), then blue along y = 300.
struct Session : Folder, SkarvelRun {
    explicit Session(const DisplayOptions &options)
        : SkarvelRun(options, ProgramOptions{.workingDirectory = dir.path()})
    {
        WindowInfo w = openOptions();
        mix(w, 255, 0, 0);
        closeOptions(w);
        display.drag({100, 100}, {400, 250}, 2);
        w = openOptions();
        mix(w, 0, 0, 255);
        closeOptions(w);
        display.drag({200, 300}, {400, 300}, 4);
        if (!waitPixel({250, 175}, Rgb{255, 0, 0}) || !waitPixel({300, 300}, Rgb{0, 0, 255}))
            throw Error("the strokes did not appear");
    }

    // A press of the right button opens the options window; its
    // "Сохранить как..." opens the real save dialog.
    WindowInfo openDialog()
    {
        options = openOptions(RightButton, {900, 700});
        return openSaveDialog(options);
    }

    WindowInfo options;
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
    WindowInfo dialog = s.openDialog();
    // Centred horizontally on the monitor, a third of the free height above
    // (once the window manager's frame is there and counted).
    waitUntil([&] {
        dialog = s.display.windowInfo(dialog.id).value_or(dialog);
        return dialog.frameRect.x == (options.width - dialog.frameRect.width) / 2 &&
               dialog.frameRect.y == (options.height - dialog.frameRect.height) / 3;
    });
    EXPECT_EQ(dialog.frameRect.x, (options.width - dialog.frameRect.width) / 2) << dialog;
    EXPECT_EQ(dialog.frameRect.y, (options.height - dialog.frameRect.height) / 3) << dialog;

    // A full path without an extension, Cyrillic and with spaces.
    const fs::path typed = s.dir / "Мой рабочий стол";
    const fs::path saved = s.typeSaveName(typed);
    EXPECT_EQ(saved, s.dir / "Мой рабочий стол.bmp");
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
    s.closeOptions(s.options);
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
    EXPECT_TRUE(s.app.running()) << s.app.output();
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
    // Typed relative to the private folder the dialog opens in: nothing there
    // starts like the name, so no completion list comes up to take the Return.
    s.display.typeText("нет такой папки/x\n");
    EXPECT_TRUE(s.display.waitWindowGone(dialogTitle));

    // The error box: a second window with the program's title.
    const std::optional<WindowInfo> shown = s.messageBox();
    ASSERT_TRUE(shown) << s.app.output();
    const WindowInfo box = *shown;
    EXPECT_LT(box.rect.width, s.display.width() / 2);

    s.display.key(XK_Return); // OK
    EXPECT_TRUE(waitUntil([&] { return !s.display.windowInfo(box.id) || !s.display.windowInfo(box.id)->viewable(); }));
    EXPECT_FALSE(fs::exists(s.dir / "нет такой папки"));
    EXPECT_TRUE(fs::is_empty(s.dir.path()));
    EXPECT_TRUE(s.app.running()) << s.app.output();
}

// The folder the dialog entered is removed from outside before the name is
// typed: the error box names the path the person meant, and no file appears
// anywhere else (the dialog of the toolkit glues "photos" and "pic" together
// once the folder has gone).
TEST(SaveE2E, AFolderRemovedUnderTheDialogGetsNoFileAnywhere)
{
    TempDir dir("skarvel-vanished");
    const fs::path photos = dir / "photos";
    fs::create_directories(photos);
    SkarvelRun s({1024, 768, 24, true}, ProgramOptions{.workingDirectory = dir.path()});
    const WindowInfo dialog = s.openSaveDialog(s.openOptions(RightButton, {900, 700}));

    // The folder's name (the dialog opens in `dir`) and Return: the dialog
    // enters the folder, which a person sees as the dialog drawn anew and then
    // still. With the slash the completion list has nothing to offer (the
    // folder is empty), so it cannot be up to take the Return.
    const auto still = [&] {
        Image shown = s.display.grab(dialog.rect);
        waitUntil([&] {
            const Image now = s.display.grab(dialog.rect);
            return std::exchange(shown, now) == now;
        });
        return shown;
    };
    s.display.typeText("photos/");
    const Image before = still();
    s.display.key(XK_Return);
    ASSERT_TRUE(waitUntil([&] { return s.display.grab(dialog.rect) != before; }));
    still();
    fs::remove(photos);

    // Nothing is left in the folder to complete "pic" with.
    s.display.typeText("pic\n");
    ASSERT_TRUE(s.display.waitWindowGone(saveDialogTitle)) << s.app.output();
    const std::optional<WindowInfo> box = s.messageBox();
    ASSERT_TRUE(box) << s.app.output();
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_FALSE(fs::exists(dir / "photospic.bmp"));
    s.display.key(XK_Return); // OK
    EXPECT_TRUE(s.app.running()) << s.app.output();
}
