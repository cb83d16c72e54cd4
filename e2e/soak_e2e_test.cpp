// A soak run: the real program under a long stream of pseudo-random pointer
// and key events, with saves through the real dialog in between. It must not
// crash or hang, its memory must not grow, and every file it writes must be a
// sound BMP of the picture on the screen.
//
// The events come from a seeded generator, so a failing run can be repeated:
//   SKARVEL_SOAK_SEED=<n>      the seed (printed by every run)
//   SKARVEL_SOAK_EVENTS=<n>    stop after about this many events (default 5000)
//   SKARVEL_SOAK_SECONDS=<n>   or after this many seconds (default 45)

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "saving/tests/bmp_reader.h"
#include "steps.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

using namespace e2e;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// More places in the options window's client area.
constexpr Point thicknessUp{166, 218}; // tl's arrows
constexpr Point thicknessDown{166, 226};
constexpr Point radiusUp{110, 241};    // tl2's arrows
constexpr Point radiusDown{110, 249};
constexpr int sliderColumns[3] = {32, 64, 96}; // R, G, B; each from y = 16 to 104
constexpr Point quietPlace{204, 8};            // no control, no hint

long envNumber(const char *name, long fallback)
{
    const char *text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end && *end == '\0' && value >= 0 ? value : fallback;
}

std::uint64_t seedFromEnvironment()
{
    const char *text = std::getenv("SKARVEL_SOAK_SEED");
    if (text && *text) {
        char *end = nullptr;
        const unsigned long long value = std::strtoull(text, &end, 10);
        if (end && *end == '\0')
            return value;
    }
    return std::random_device{}() ^ (std::uint64_t(std::random_device{}()) << 32);
}

// A second connection to the display that asks a window's program for a
// _NET_WM_PING answer. Qt answers from its event loop, so a program stuck in
// a handler (an endless loop, a dead lock) stays silent.
class PingProbe {
public:
    explicit PingProbe(const std::string &displayName) : dpy_(XOpenDisplay(displayName.c_str()))
    {
        if (!dpy_)
            throw Error("cannot open " + displayName + " for the ping probe");
        root_ = DefaultRootWindow(dpy_);
        // Qt sends its answer to the root window, for those who listen to
        // the root's own structure.
        XSelectInput(dpy_, root_, StructureNotifyMask);
        protocols_ = XInternAtom(dpy_, "WM_PROTOCOLS", False);
        ping_ = XInternAtom(dpy_, "_NET_WM_PING", False);
    }
    ~PingProbe() { XCloseDisplay(dpy_); }
    PingProbe(const PingProbe &) = delete;
    PingProbe &operator=(const PingProbe &) = delete;

    bool answers(WindowId window, Milliseconds timeout)
    {
        const long serial = ++serial_;
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols_;
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(ping_);
        event.xclient.data.l[1] = CurrentTime;
        event.xclient.data.l[2] = long(window);
        event.xclient.data.l[3] = serial; // echoed back with the rest
        XSendEvent(dpy_, window, False, NoEventMask, &event);
        XFlush(dpy_);
        return waitUntil(
            [&] {
                while (XPending(dpy_) > 0) {
                    XEvent reply;
                    XNextEvent(dpy_, &reply);
                    if (reply.type == ClientMessage && reply.xclient.message_type == protocols_ &&
                        Atom(reply.xclient.data.l[0]) == ping_ && reply.xclient.data.l[3] == serial)
                        return true;
                }
                return false;
            },
            timeout, 2ms);
    }

private:
    Display *dpy_;
    Window root_ = 0;
    Atom protocols_ = 0, ping_ = 0;
    long serial_ = 0;
};

enum class Tool { Pencil, Spray, Line };
const char *const toolNames[] = {"pencil", "spray", "line"};

// The program driven by a seeded random stream of a person's actions, as a
// state machine that knows which of its windows are up. Each step is a few
// events; after each one the program must still run, show exactly the
// windows it should, and answer a ping.
// The files go into a folder of their own, where the program starts and so
// its save dialog opens (made before the program starts).
struct SoakFolder {
    TempDir dir_{"skarvel-soak"};
};

class Soak : private SoakFolder, public SkarvelRun {
public:
    Soak(std::uint64_t seed, long maxEvents, std::chrono::seconds budget)
        : SkarvelRun({}, ProgramOptions{.workingDirectory = dir_.path()}), rng_(seed), seed_(seed),
          maxEvents_(maxEvents), budget_(budget), ping_(display.name())
    {
    }

    void run()
    {
        start_ = Clock::now();
        settle("the start");
        warmUp();
        while (events_ < maxEvents_ && Clock::now() - start_ < budget_)
            optionsUp_ ? optionsStep() : surfaceStep();
        settle("the last step");
        elapsed_ = Clock::now() - start_;
        rssEnd_ = app.residentMemoryKiB();
        rssPeak_ = app.peakMemoryKiB();
    }

    // The figures of the run, for the log and the note.
    void report(std::ostream &out) const
    {
        std::ostringstream growth;
        growth << std::showpos << std::fixed << std::setprecision(1)
               << 100.0 * double(rssEnd_ - rssFirstSave_) / double(std::max(rssFirstSave_, 1L));
        out << "soak: seed " << seed_ << ", " << events_ << " events in " << steps_ << " steps, "
            << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed_).count() / 1000.0 << " s\n"
            << "soak: " << savedFiles_.size() << " files from " << saves_ << " saves (" << overwrites_
            << " over an earlier file), " << cancels_ << " dialogs cancelled\n"
            << "soak: strokes: " << strokes_[0] << " pencil, " << strokes_[1] << " spray, " << strokes_[2]
            << " line; options window opened " << opened_ << " times; " << noAnswers_ << " Escape-No\n"
            << "soak: resident memory " << rssFirstSave_ << " KiB after the first save, " << rssEnd_
            << " KiB at the end (" << growth.str() << "%), peak " << rssPeak_ << " KiB\n";
    }

    // Each file the run saved, once more from the disk, and nothing else in
    // the folder (no temporary file left behind).
    void checkFolder() const
    {
        std::set<fs::path> found;
        for (const fs::directory_entry &e : fs::directory_iterator(dir_.path()))
            found.insert(e.path());
        std::set<fs::path> expected(savedFiles_.begin(), savedFiles_.end());
        EXPECT_EQ(found, expected);
        for (const fs::path &file : savedFiles_)
            checkHeaders(file);
    }

    // Alt+F4 on the surface: the program ends with code 0 after all this.
    void leave()
    {
        display.activateWindow(surface);
        key(XK_F4, AltModifier);
        const auto code = app.waitExit();
        ASSERT_TRUE(code.has_value()) << "the program did not end after Alt+F4";
        EXPECT_EQ(*code, 0) << app.output();
    }

    long rssFirstSave() const { return rssFirstSave_; }
    long rssEnd() const { return rssEnd_; }

private:
    // --- Random choices -------------------------------------------------------------

    int below(int n) { return int(rng_() % std::uint64_t(n)); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    bool chance(int percent) { return below(100) < percent; }
    // An index into weights, each chosen in proportion to its weight.
    int weighted(std::initializer_list<int> weights)
    {
        int total = 0;
        for (int w : weights)
            total += w;
        int pick = below(total), index = 0;
        for (int w : weights) {
            if (pick < w)
                return index;
            pick -= w;
            ++index;
        }
        return index - 1;
    }

    // --- Counted input --------------------------------------------------------------

    void move(Point p)
    {
        display.moveTo(p);
        ++events_;
    }
    void press(int button)
    {
        display.press(button);
        ++events_;
    }
    void release(int button)
    {
        display.release(button);
        ++events_;
    }
    void click(Point p, int button = LeftButton)
    {
        move(p);
        press(button);
        release(button);
    }
    void key(unsigned long keysym, unsigned modifiers = NoModifier)
    {
        display.key(keysym, modifiers);
        ++events_;
    }
    void type(const std::string &utf8)
    {
        display.typeText(utf8);
        for (unsigned char c : utf8)
            events_ += (c & 0xc0) != 0x80 ? 1 : 0;
    }

    // --- Checks ---------------------------------------------------------------------

    [[noreturn]] void fail(const std::string &what)
    {
        std::ostringstream message;
        message << what << "\n(seed " << seed_ << "; repeat with SKARVEL_SOAK_SEED=" << seed_ << ")\nlast steps:";
        for (const std::string &step : history_)
            message << "\n  " << step;
        const fs::path shot = fs::temp_directory_path() / ("skarvel-soak-" + std::to_string(seed_) + ".png");
        try {
            display.screenshot(shot);
            message << "\nscreen: " << shot.string();
        } catch (const Error &) {
        }
        message << "\nwindows:";
        for (const WindowInfo &w : display.topLevelWindows())
            if (w.viewable())
                message << "\n  " << w;
        if (app.running())
            message << "\nthe program is still running";
        else
            message << "\nthe program has ended with code " << app.waitExit(0ms).value_or(-1)
                    << (app.killedBySignal() ? " (a signal)" : "");
        message << "\nprogram output:\n" << app.output();
        throw Error(message.str());
    }

    void log(std::string step)
    {
        ++steps_;
        history_.push_back(std::to_string(events_) + ": " + std::move(step));
        if (history_.size() > 25)
            history_.pop_front();
    }

    // After a step: the program runs, shows the surface and the options
    // window exactly when it should and no other window (an error box would
    // be one), and its event loop answers.
    void settle(const std::string &after)
    {
        if (!app.running())
            fail("the program ended after " + after);
        const bool expected = waitUntil([&] {
            bool surfaceUp = false, optionsUp = false, other = false;
            for (const WindowInfo &w : display.topLevelWindows()) {
                if (!w.viewable() || w.popup)
                    continue;
                if (w.id == surface.id)
                    surfaceUp = true;
                else if (w.title == optionsTitle)
                    optionsUp = true;
                else
                    other = true;
            }
            return surfaceUp && optionsUp == optionsUp_ && !other;
        });
        if (!expected)
            fail("after " + after + " the windows are not the surface" + (optionsUp_ ? " and the options window" : ""));
        if (!ping_.answers(surface.id, defaultTimeout))
            fail("the program does not answer after " + after + ": it hangs");
    }

    // The options window as it is now, once it is up.
    void optionsShown()
    {
        std::optional<WindowInfo> shown;
        waitUntil([&] {
            for (const WindowInfo &w : display.windowsWithTitle(optionsTitle))
                if (w.viewable())
                    shown = w;
            return shown.has_value() || !app.running();
        });
        if (!shown)
            fail("the options window did not appear after " + history_.back());
        options_ = *shown;
        if (!waitUntil([&] { return near(pixel(at(options_, {10, 10})), khaki); }))
            fail("the options window did not paint itself");
        if (!optionsUp_)
            ++opened_;
        optionsUp_ = true;
    }

    // Waits until a click at p reaches the options window: the frame of a
    // dialog that has just closed may linger over it for a moment, and a
    // hint may cover the place; a hint goes once the pointer leaves its
    // control.
    void optionsOnTopAt(Point p)
    {
        bool movedAway = false;
        const bool onTop = waitUntil([&] {
            const std::optional<WindowInfo> now = display.windowInfo(options_.id);
            if (now && now->viewable() && display.frameAt(p.x, p.y) == now->frame)
                return true;
            if (!movedAway) {
                move(at(options_, quietPlace));
                movedAway = true;
            }
            return false;
        });
        if (!onTop)
            fail("the options window is not on top at its controls");
    }

    // Which tool's radio button shows the check mark.
    void readTool()
    {
        const Point radios[3] = {options::pencil, options::spray, options::line};
        for (int i = 0; i < 3; ++i) {
            const Rgb c = pixel(at(options_, radios[i]));
            if (c.r < 100 && c.g < 100 && c.b < 100)
                tool_ = Tool(i);
        }
    }

    // The list of names below the save dialog's file name field: a pop-up
    // of the program over the dialog (a hint would be by the options window).
    bool nameListShown(const WindowInfo &dialog) const
    {
        for (const WindowInfo &w : display.topLevelWindows())
            if (w.viewable() && w.popup && w.title == surfaceTitle && !w.rect.intersected(dialog.frameRect).isEmpty())
                return true;
        return false;
    }

    bool surfaceHasFocus() const { return display.focusedWindow() == surface.id; }

    // --- The surface ----------------------------------------------------------------

    // A random place of the surface, away from the options window and any hint.
    Point surfacePoint()
    {
        std::vector<Rect> avoid;
        for (const WindowInfo &w : display.topLevelWindows())
            if (w.viewable() && w.id != surface.id)
                avoid.push_back({w.frameRect.x - 6, w.frameRect.y - 6, w.frameRect.width + 12, w.frameRect.height + 12});
        for (;;) {
            const Point p{below(display.width()), below(display.height())};
            if (std::none_of(avoid.begin(), avoid.end(), [&](const Rect &r) { return r.contains(p.x, p.y); }))
                return p;
        }
    }

    // A step of a stroke: near the last point, sometimes far, sometimes off
    // the screen's edge (the harness stops the pointer there).
    Point nextPoint(Point p)
    {
        const int reach = chance(10) ? 400 : 40;
        return {std::clamp(p.x + between(-reach, reach), -5, display.width() + 5),
                std::clamp(p.y + between(-reach, reach), -5, display.height() + 5)};
    }

    // A left-button stroke of random length; with the line tool every press
    // is one end of a line. Now and then other buttons go down and up in the
    // middle of it: the right and middle ones open the options window.
    void stroke(bool otherButtons)
    {
        Point p = surfacePoint();
        move(p);
        press(LeftButton);
        ++strokes_[int(tool_)];
        std::set<int> held{LeftButton};
        const int moves = below(4) == 0 ? 0 : between(1, 40);
        for (int i = 0; i < moves; ++i) {
            p = nextPoint(p);
            move(p);
            if (otherButtons && chance(15)) {
                const int button = between(MiddleButton, 5);
                if (held.count(button)) {
                    release(button);
                    held.erase(button);
                } else {
                    press(button);
                    held.insert(button);
                    if (button == MiddleButton || button == RightButton)
                        opensOptions_ = true;
                }
            }
        }
        std::vector<int> order(held.begin(), held.end());
        std::shuffle(order.begin(), order.end(), rng_);
        for (int button : order)
            release(button);
        log(std::string(otherButtons ? "stroke with other buttons, " : "stroke, ") + toolNames[int(tool_)] + ", " +
            std::to_string(moves) + " moves");
    }

    // One to three left clicks, at one place (a double click) or apart.
    void clicks()
    {
        Point p = surfacePoint();
        const int n = between(1, 3);
        const bool samePlace = chance(40);
        for (int i = 0; i < n; ++i) {
            if (i > 0 && !samePlace)
                p = surfacePoint();
            click(p);
        }
        log(std::to_string(n) + " left clicks" + (samePlace ? " at one place" : "") + ", " + toolNames[int(tool_)]);
    }

    // The right or middle button on the surface, or the wheel (buttons 4
    // and 5); 0 picks one at random.
    void otherButton(int button = 0)
    {
        if (button == 0)
            button = weighted({4, 2, 1, 1}) + MiddleButton;
        click(surfacePoint(), button);
        if (button == MiddleButton || button == RightButton)
            opensOptions_ = true;
        log("button " + std::to_string(button) + " on the surface");
    }

    void focusSurface()
    {
        if (!surfaceHasFocus())
            display.activateWindow(surface);
    }

    // Characters typed on the surface, which ignores them.
    void typeOnSurface()
    {
        static const char *const pieces[] = {"a", "Z", "7", " ", "!", "ж", "Ё", "щ", "q", "%", "~", "Ю", "\n", "\t"};
        focusSurface();
        std::string text;
        const int n = between(1, 8);
        for (int i = 0; i < n; ++i)
            text += pieces[below(int(std::size(pieces)))];
        type(text);
        log("typed on the surface");
    }

    // Escape asks whether to leave; the answer is No, by Tab and Space or by
    // Escape. Nothing changes.
    void escapeAnsweredNo()
    {
        focusSurface();
        key(XK_Escape);
        const std::optional<WindowInfo> asked = messageBox();
        if (!asked)
            fail("no question after Escape");
        const WindowInfo box = *asked;
        if (!waitUntil([&] { return display.focusedWindow() == box.id; }))
            fail("the question did not get the keyboard focus");
        if (chance(50)) {
            key(XK_Tab); // from Yes to No
            key(XK_space);
        } else {
            key(XK_Escape);
        }
        ++noAnswers_;
        log("Escape, No");
    }

    void surfaceStep()
    {
        switch (weighted({35, 15, 10, 18, 8, 4})) {
        case 0: stroke(false); break;
        case 1: clicks(); break;
        case 2: stroke(true); break;
        case 3: otherButton(); break;
        case 4: typeOnSurface(); break;
        default: escapeAnsweredNo(); break;
        }
        afterStep();
    }

    void afterStep()
    {
        if (!app.running())
            fail("the program ended after " + history_.back());
        if (opensOptions_) {
            opensOptions_ = false;
            optionsShown();
        }
        settle(history_.empty() ? std::string("a step") : history_.back());
        if (optionsUp_)
            readTool();
    }

    // --- The options window ---------------------------------------------------------

    void clickOptions(Point p, int button = LeftButton)
    {
        const Point screen = at(options_, p);
        optionsOnTopAt(screen);
        click(screen, button);
    }

    void radio()
    {
        const Point radios[3] = {options::pencil, options::spray, options::line};
        const int i = below(3);
        clickOptions(radios[i]);
        const bool checked = waitUntil([&] {
            const Rgb c = pixel(at(options_, radios[i]));
            return c.r < 100 && c.g < 100 && c.b < 100;
        });
        if (!checked)
            fail(std::string("the ") + toolNames[i] + " radio button did not become checked");
        log(std::string("tool ") + toolNames[i]);
    }

    // Clicks on a slider: its arrows, its trough or its thumb; now and then
    // a short drag along it.
    void sliderClicks()
    {
        const int x = sliderColumns[below(3)] + between(-5, 5);
        const int n = between(1, 6);
        for (int i = 0; i < n; ++i) {
            const Point p{x, between(17, 104)};
            if (chance(20)) {
                const Point screen = at(options_, p);
                optionsOnTopAt(screen);
                move(screen);
                press(LeftButton);
                move({screen.x, screen.y + between(-40, 40)});
                release(LeftButton);
            } else {
                clickOptions(p);
            }
        }
        log("slider clicks");
    }

    // Keys for whatever control has the focus in the options window, after
    // a click on a slider (the focus) now and then.
    void optionsKeys()
    {
        if (chance(60))
            clickOptions({sliderColumns[below(3)], between(17, 104)});
        else
            display.activateWindow(options_);
        static const unsigned long keys[] = {XK_Up,   XK_Down, XK_Left,  XK_Right, XK_Prior,  XK_Next,
                                             XK_Home, XK_End,  XK_space, XK_5,     XK_Escape, XK_Return};
        const int n = between(1, 10);
        for (int i = 0; i < n; ++i)
            key(keys[below(int(std::size(keys)))]);
        log("keys in the options window");
    }

    void tabs()
    {
        display.activateWindow(options_);
        const int n = between(1, 5);
        for (int i = 0; i < n; ++i)
            key(XK_Tab, chance(40) ? ShiftModifier : NoModifier);
        log("Tab and Shift+Tab");
    }

    // A text typed into the thickness or the radius field (the radius only
    // takes it with the spray): numbers in and out of range, the largest
    // int, letters, nothing.
    void fieldText()
    {
        static const char *const texts[] = {"abc", "-5", "500", "2147483647", "", "0",
                                            "1",   "100", "+3", "$1F",        "99999999999", "5x"};
        const bool thickness = chance(50);
        std::string text = chance(40) ? std::to_string(between(1, 100)) : texts[below(int(std::size(texts)))];
        clickOptions(thickness ? options::thickness : options::radius);
        key(XK_a, ControlModifier);
        key(XK_BackSpace);
        type(text);
        // Leaving the field for another control corrects the value.
        if (chance(50))
            key(XK_Tab);
        log(std::string(thickness ? "thickness" : "radius") + " field: \"" + text + "\"");
    }

    void spinArrows()
    {
        const Point arrows[4] = {thicknessUp, thicknessDown, radiusUp, radiusDown};
        const Point p = arrows[below(4)];
        const int n = between(1, 5);
        for (int i = 0; i < n; ++i)
            clickOptions(p);
        log("spin arrows");
    }

    void closeButton()
    {
        clickOptions(options::closeButton);
        optionsUp_ = false;
        log("Закрыть окно");
    }

    void altF4()
    {
        display.activateWindow(options_);
        key(XK_F4, AltModifier);
        optionsUp_ = false;
        log("Alt+F4 on the options window");
    }

    // "Сохранить как..." and a name typed into the real dialog: new names
    // with and without ".bmp", in Cyrillic and Latin letters, a name saved
    // before, or Escape instead.
    void save()
    {
        clickOptions(options::saveButton);
        const WindowInfo dialog = display.findWindow(saveDialogTitle);
        // A person types once the dialog has the keyboard.
        if (!waitUntil([&] { return display.focusedWindow() == dialog.id; }))
            fail("the save dialog did not get the keyboard focus");

        if (rssFirstSave_ >= 0 && chance(12)) {
            key(XK_Escape);
            if (!display.waitWindowGone(saveDialogTitle))
                fail("the save dialog stayed after Escape");
            ++cancels_;
            log("save dialog cancelled");
            return;
        }

        // Names are typed as a person types them, in the folder the dialog
        // shows: the program's, where it opens the first time, and where it
        // saved last ever after.
        fs::path target;
        ino_t before = 0;
        const bool overwrite = !savedFiles_.empty() && chance(15);
        if (overwrite) {
            target = savedFiles_[std::size_t(below(int(savedFiles_.size())))];
            struct stat st{};
            if (stat(target.c_str(), &st) == 0)
                before = st.st_ino;
            ++overwrites_;
        } else {
            static const char *const names[] = {"рисунок", "Мой рабочий стол", "soak", "Снимок_экрана", "ёж"};
            target = dir_ / (std::string(names[below(int(std::size(names)))]) + " " +
                             std::to_string(savedFiles_.size() + 1) + ".bmp");
        }
        const bool withExtension = overwrite || chance(50);
        type(withExtension ? target.filename().string() : target.stem().string());

        // The name field lists the names in the folder that start like what
        // is typed, below it; while the list is up, Return only closes it.
        // A new name starts like none (each has a number of its own), so the
        // list has closed by the last key. An earlier file's name brings it up
        // for good, though perhaps late: the field matches once the dialog
        // has read the folder, which it does in the background. So a person
        // who types such a name waits for the list, closes it with Return,
        // and presses Return again once it has gone. The new file replaces
        // the old one under its name in one step.
        if (overwrite) {
            if (!waitUntil([&] { return nameListShown(dialog); }))
                fail("the name field did not list the earlier file " + target.filename().string());
            key(XK_Return);
            if (!waitUntil([&] { return !nameListShown(dialog); }))
                fail("the list of names stayed after Return");
        }
        key(XK_Return);
        const bool saved = waitUntil([&] {
            struct stat st{};
            return stat(target.c_str(), &st) == 0 && st.st_ino != before;
        });
        if (!saved)
            fail("no file " + target.string() + " after saving");
        if (!display.waitWindowGone(saveDialogTitle))
            fail("the save dialog stayed after saving");
        if (!overwrite)
            savedFiles_.push_back(target);
        ++saves_;
        log("saved " + target.filename().string());

        checkHeaders(target);
        checkAgainstScreen(target, dialog.frameRect);
        settle("saving " + target.filename().string());
        if (rssFirstSave_ < 0)
            rssFirstSave_ = app.residentMemoryKiB();
    }

    void optionsStep()
    {
        switch (weighted({10, 12, 8, 10, 6, 5, 15, 3, 3, 2, 6, 3, 5})) {
        case 0: radio(); break;
        case 1: sliderClicks(); break;
        case 2: optionsKeys(); break;
        case 3: fieldText(); break;
        case 4: spinArrows(); break;
        case 5: tabs(); break;
        case 6: stroke(chance(20)); break;
        case 7: otherButton(); break;
        case 8: typeOnSurface(); break;
        case 9: escapeAnsweredNo(); break;
        case 10: closeButton(); break;
        case 11: altF4(); break;
        default: save(); break;
        }
        afterStep();
    }

    // Every kind of step once, so that what the program sets up on first use
    // is there before the first save, from which memory is measured.
    void warmUp()
    {
        const auto step = [this](auto action) {
            action();
            afterStep();
        };
        step([&] { stroke(false); });
        step([&] { clicks(); });
        step([&] { typeOnSurface(); });
        step([&] { escapeAnsweredNo(); });
        step([&] { otherButton(RightButton); });
        step([&] { radio(); });
        step([&] { sliderClicks(); });
        step([&] { optionsKeys(); });
        step([&] { fieldText(); });
        step([&] { spinArrows(); });
        step([&] { tabs(); });
        step([&] { stroke(true); });
        step([&] { altF4(); });
        step([&] { otherButton(MiddleButton); });
        step([&] { closeButton(); });
        step([&] { otherButton(4); });
        step([&] { otherButton(RightButton); });
        step([&] { save(); });
    }

    // --- Files ----------------------------------------------------------------------

    void checkHeaders(const fs::path &file) const
    {
        const testbmp::Parsed bmp = testbmp::parse(testbmp::readFile(file.string()));
        EXPECT_EQ(bmp.error, "") << file;
        EXPECT_EQ(bmp.width, display.width()) << file;
        EXPECT_EQ(bmp.height, display.height()) << file;
        // A true-colour display stores 32 bits per pixel.
        EXPECT_EQ(bmp.bitCount, 32) << file;
        EXPECT_EQ(bmp.compression, 0u) << file;
        EXPECT_EQ(bmp.offBits, 54u) << file;
        EXPECT_EQ(fs::file_size(file), std::uintmax_t(display.width()) * std::uintmax_t(display.height()) * 4 + 54)
            << file;
    }

    // The file holds what the surface shows, wherever no window covers it.
    void checkAgainstScreen(const fs::path &file, const Rect &dialogFrame)
    {
        const testbmp::Parsed bmp = testbmp::parse(testbmp::readFile(file.string()));
        if (!bmp.error.empty() || bmp.width != display.width() || bmp.height != display.height())
            return; // reported by checkHeaders
        std::vector<Rect> covered{dialogFrame};
        long bad = 0;
        std::string first;
        waitUntil([&] {
            covered.resize(1);
            for (const WindowInfo &w : display.topLevelWindows())
                if (w.viewable() && w.id != surface.id)
                    covered.push_back(w.frameRect);
            const Image screen = display.grab();
            bad = 0;
            for (int y = 0; y < bmp.height; ++y)
                for (int x = 0; x < bmp.width; ++x) {
                    if (std::any_of(covered.begin(), covered.end(), [&](const Rect &r) { return r.contains(x, y); }))
                        continue;
                    const ColorRef c = bmp.at(x, y);
                    const Rgb s = screen.pixel(x, y);
                    if (s != Rgb{redOf(c), greenOf(c), blueOf(c)} && bad++ == 0) {
                        std::ostringstream at;
                        at << "(" << x << ", " << y << "): file " << Rgb{redOf(c), greenOf(c), blueOf(c)}
                           << ", screen " << s;
                        first = at.str();
                    }
                }
            return bad == 0;
        });
        if (bad != 0)
            fail(file.filename().string() + " differs from the screen in " + std::to_string(bad) +
                 " pixels, first at " + first);
    }

    std::mt19937_64 rng_;
    std::uint64_t seed_;
    long maxEvents_;
    std::chrono::seconds budget_;
    PingProbe ping_;
    bool optionsUp_ = false;
    bool opensOptions_ = false;
    WindowInfo options_;
    Tool tool_ = Tool::Pencil;

    Clock::time_point start_;
    Clock::duration elapsed_{};
    long events_ = 0, steps_ = 0, saves_ = 0, overwrites_ = 0, cancels_ = 0, opened_ = 0, noAnswers_ = 0;
    long strokes_[3] = {0, 0, 0};
    std::vector<fs::path> savedFiles_;
    long rssFirstSave_ = -1, rssEnd_ = -1, rssPeak_ = -1;
    std::deque<std::string> history_;
};

} // namespace

TEST(Soak, ThousandsOfRandomEventsWithSavesLeaveItRunningWithSteadyMemoryAndSoundFiles)
{
    const std::uint64_t seed = seedFromEnvironment();
    const long maxEvents = envNumber("SKARVEL_SOAK_EVENTS", 5000);
    const long seconds = envNumber("SKARVEL_SOAK_SECONDS", 45);
    std::cout << "soak: seed " << seed << " (SKARVEL_SOAK_SEED), up to " << maxEvents << " events or " << seconds
              << " s" << std::endl;

    Soak soak(seed, maxEvents, std::chrono::seconds(seconds));
    soak.run();
    soak.report(std::cout);
    soak.checkFolder();

    // Whatever the program keeps is there by the first save; after that its
    // memory must not grow.
    ASSERT_GT(soak.rssFirstSave(), 0);
    EXPECT_LE(soak.rssEnd(), soak.rssFirstSave() + soak.rssFirstSave() / 10)
        << "resident memory grew from " << soak.rssFirstSave() << " KiB to " << soak.rssEnd() << " KiB";

    soak.leave();
}
