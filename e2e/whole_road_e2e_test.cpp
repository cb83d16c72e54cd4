// The typical run of the program, start to end, in one run: the frozen
// desktop, a colour and a tool chosen in the options window, a drawing made
// with all three tools, the picture saved and compared with the screen, and
// the way out through the question and the About window.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "saving/tests/bmp_reader.h"
#include "steps.h"

using namespace e2e;
namespace fs = std::filesystem;

namespace {

constexpr Rgb orange{255, 128, 0};

// Pixels of the rectangle that no longer show the desktop pattern.
long changed(const SkarvelRun &run, const Rect &r)
{
    const Image image = run.display.grab(r);
    long n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == expectedDesktopColor(Pattern::A, r.x + x, r.y + y) ? 0 : 1;
    return n;
}

} // namespace

TEST(WholeRoad, StartDrawSaveAndLeave)
{
    TempDir dir("skarvel-road");
    // 1. Start: the surface covers the screen with the frozen desktop.
    SkarvelRun run({}, ProgramOptions{.workingDirectory = dir.path()}); // the save dialog opens there
    run.display.paintDesktop(Pattern::B);
    EXPECT_TRUE(run.display.compareDesktop(Pattern::A, run.display.screenRect()).matches()) << "not frozen";

    // 2. A right click, an orange mixed, the pencil at thickness 4, "Закрыть окно".
    WindowInfo options = run.openOptions();
    run.mix(options, 255, 128, 0);
    run.chooseTool(options, options::pencil);
    run.typeInto(options, options::thickness, "4");
    run.closeOptions(options);

    // 3. All three tools. The pencil draws in the closed colour, 4 wide.
    const Point a = clearArea(300, 40, {orange}, {40, 60});
    run.display.drag({a.x + 10, a.y + 20}, {a.x + 290, a.y + 20}, 14);
    EXPECT_TRUE(waitUntil([&] {
        for (int y = a.y + 18; y <= a.y + 21; ++y)
            for (int x = a.x + 10; x <= a.x + 290; x += 7)
                if (run.pixel({x, y}) != orange)
                    return false;
        return true;
    }));

    // The spray, radius 15, in a blue mixed without closing.
    options = run.openOptions();
    run.chooseTool(options, options::spray);
    run.typeInto(options, options::radius, "15");
    run.mix(options, 0, 0, 255);
    const Point s = clearArea(120, 80, {Rgb{0, 0, 255}}, {500, 420});
    run.display.drag({s.x + 40, s.y + 40}, {s.x + 80, s.y + 40}, 10);
    // At least one move's dots (Qt may merge moves that arrive together).
    EXPECT_TRUE(waitUntil([&] { return changed(run, {s.x, s.y, 120, 80}) > 25; }));
    EXPECT_EQ(changed(run, {s.x - 60, s.y - 60, 40, 40}), 0);

    // The line tool, after "Закрыть окно" has made the pen blue too.
    run.chooseTool(options, options::line);
    run.closeOptions(options);
    const Point l = clearArea(250, 12, {Rgb{0, 0, 255}}, {40, 560});
    run.display.click(l.x, l.y + 6);
    run.display.click(l.x + 240, l.y + 6);
    EXPECT_TRUE(waitUntil([&] {
        for (int x = l.x; x < l.x + 240; x += 5)
            if (run.pixel({x, l.y + 6}) != (Rgb{0, 0, 255}))
                return false;
        return true;
    }));

    // 4. Save, then compare the file with the screen, pixel for pixel.
    options = run.openOptions();
    const fs::path saved = run.saveAs(options, dir / "дорога");
    EXPECT_EQ(saved.filename(), "дорога.bmp");
    run.closeOptions(options);
    const testbmp::Parsed file = testbmp::parse(testbmp::readFile(saved.string()));
    ASSERT_EQ(file.error, "");
    EXPECT_EQ(file.bitCount, 32);
    ASSERT_EQ(file.width, run.display.width());
    ASSERT_EQ(file.height, run.display.height());
    long differing = -1;
    waitUntil([&] {
        const Image screen = run.display.grab();
        differing = 0;
        for (int y = 0; y < file.height; ++y)
            for (int x = 0; x < file.width; ++x) {
                const ColorRef c = file.at(x, y);
                const Rgb p = screen.pixel(x, y);
                differing += (redOf(c) == p.r && greenOf(c) == p.g && blueOf(c) == p.b) ? 0 : 1;
            }
        return differing == 0;
    });
    EXPECT_EQ(differing, 0) << "pixels of the file differ from the screen";

    // 5. Escape, Yes: the About window over the real desktop; "Выход" ends it with 0.
    const WindowInfo about = run.leaveSurface();
    EXPECT_TRUE(run.display.waitWindowGone(surfaceTitle, 5s) || !run.display.windowInfo(run.surface.id)->viewable());
    EXPECT_EQ(run.exitFromAbout(about), 0) << run.app.output();
}

TEST(WholeRoad, TwoRunsAtOnceTheSecondFreezesTheFirst)
{
    SkarvelRun first;
    // A black stroke on the first one's surface.
    first.display.drag({100, 200}, {300, 200}, 5);
    ASSERT_TRUE(first.waitPixel({200, 200}, Rgb{0, 0, 0}));

    // The second starts on the same display and copies the screen with the
    // first one (and its stroke) on it.
    Program second(first.display, SKARVEL_PATH);
    std::optional<WindowInfo> secondSurface;
    ASSERT_TRUE(waitUntil([&] {
        int covering = 0;
        for (const WindowInfo &w : first.display.windowsWithTitle(surfaceTitle))
            if (w.viewable() && w.rect == first.display.screenRect()) {
                ++covering;
                if (w.id != first.surface.id)
                    secondSurface = w;
            }
        return covering == 2;
    })) << second.output();
    // The window manager frames the new surface, raises it and gives it the
    // keyboard a moment after it first shows; a stroke before that goes to
    // the first one, which the second then hides.
    auto where = [&] {
        const WindowId focus = first.display.focusedWindow();
        return std::string("the keyboard is with ") +
               (focus == secondSurface->id ? "the second" : focus == first.surface.id ? "the first" : "another window") +
               ", in front is " +
               (first.display.frameAt(200, 250) == secondSurface->frame ? "the second" : "another window");
    };
    ASSERT_TRUE(waitUntil([&] {
        secondSurface = first.display.windowInfo(secondSurface->id).value_or(*secondSurface);
        return first.display.focusedWindow() == secondSurface->id &&
               first.display.frameAt(100, 250) == secondSurface->frame &&
               first.display.frameAt(300, 250) == secondSurface->frame;
    })) << "the second surface did not come to the front with the keyboard: " << where();
    // Its own stroke goes onto its own picture only.
    first.display.drag({100, 250}, {300, 250}, 5);
    EXPECT_TRUE(first.waitPixel({200, 250}, Rgb{0, 0, 0}));
    EXPECT_EQ(first.pixel({200, 200}), (Rgb{0, 0, 0})) << "the first one's stroke is in the second one's snapshot";
    EXPECT_TRUE(first.app.running());
    EXPECT_TRUE(second.running());
    second.sendSignal(SIGTERM);
    EXPECT_EQ(second.waitExit(), 0);
    // Back on the first one: its picture never had the second stroke.
    EXPECT_TRUE(waitUntil([&] { return first.pixel({200, 250}) == expectedDesktopColor(Pattern::A, 200, 250); }));
    EXPECT_EQ(first.pixel({200, 200}), (Rgb{0, 0, 0}));
}

// Qt's own texts follow the person's language: under a Russian LANG the
// question's buttons read "Да" and "Нет", under LANG=C "Yes" and "No"; the
// question itself is the program's own and stays as it is.
TEST(WholeRoad, TheQuestionsButtonsFollowTheLanguage)
{
    std::map<std::string, Image> boxes;
    for (const char *lang : {"ru_RU.UTF-8", "C"}) {
        ProgramOptions options;
        options.env["LANG"] = lang;
        options.unsetEnv = {"LC_ALL", "LC_MESSAGES", "LANGUAGE"};
        SkarvelRun run({800, 600, 24, false}, std::move(options));
        run.display.activateWindow(run.surface);
        run.display.key(XK_Escape);
        const std::optional<WindowInfo> box = run.messageBox();
        ASSERT_TRUE(box) << run.app.output();
        // The buttons' row, once the box has drawn itself and stays still.
        const Rect buttons{box->rect.x, box->rect.y + box->rect.height / 2, box->rect.width, box->rect.height / 2};
        Image shown = run.display.grab(buttons);
        waitUntil([&] {
            const Image now = run.display.grab(buttons);
            return std::exchange(shown, now) == now && now.count({0, 0, 0}) > 0;
        });
        boxes[lang] = shown;
    }
    EXPECT_NE(boxes["ru_RU.UTF-8"], boxes["C"]);
}
