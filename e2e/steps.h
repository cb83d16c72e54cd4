#pragma once

// What a person does with Скарвел, as steps for the end-to-end tests: start
// it on a known desktop, open the options window, find its controls where
// its layout puts them.

#include <cstdlib>
#include <exception>
#include <iostream>
#include <filesystem>
#include <initializer_list>
#include <optional>

#include "harness/harness.h"

#include <X11/keysym.h>

namespace e2e {

// Places in the options window's client area, as its layout gives them.
namespace options {
constexpr Point closeButton{156, 283};  // "Закрыть окно"
constexpr Point saveButton{51, 283};    // "Сохранить как..."
constexpr Point swatch{156, 56};        // inside sColor, away from its outline
constexpr Point rSlider{32, 60};        // the R slider's trough, for the focus
constexpr Point rLowerArrow{32, 99};
constexpr Point gSlider{64, 60};
constexpr Point bSlider{96, 60};
constexpr Point pencil{64, 192};        // rb1
constexpr Point spray{104, 192};        // rb2
constexpr Point line{144, 192};         // rb3
constexpr Point thickness{142, 223};    // tl's text
constexpr Point radius{86, 246};        // tl2's text
} // namespace options

// Places in the About window's client area.
namespace about {
constexpr Point exitButton{148, 198};   // "Выход"
constexpr Rect mailLine{96, 80, 131, 13}; // "E-mail: ...", blue while the pointer is over it
} // namespace about

// Window titles.
inline const std::string surfaceTitle = "Скарвел";
inline const std::string optionsTitle = "Опции";
inline const std::string aboutTitle = "О программе";
inline const std::string saveDialogTitle = "Сохранить рисунок рабочего стола";

// The top-left corner of a w x h area of the screen, starting the search at
// `from` and going right then down, where the desktop pattern has none of the
// given colours, so that marks of those colours show everywhere in it.
inline Point clearArea(int w, int h, std::initializer_list<Rgb> colours, Point from = {0, 0}, int screenWidth = 1024,
                       int screenHeight = 768)
{
    for (int y = from.y; y + h <= screenHeight; y += tileSize / 2)
        for (int x = from.x; x + w <= screenWidth; x += tileSize / 2) {
            bool clear = true;
            for (int ty = y; ty < y + h && clear; ty += 1)
                for (int tx = x; tx < x + w && clear; tx += 1)
                    for (const Rgb &c : colours)
                        clear = clear && expectedDesktopColor(Pattern::A, tx, ty) != c;
            if (clear)
                return {x, y};
        }
    throw Error("no such area on the desktop");
}

// The program running on a display with a known desktop, its surface up.
struct SkarvelRun {
    VirtualDisplay display;
    Image startScreen; // the whole screen just before the program started
    // The program's working folder, where its save dialog opens; the test's
    // own private folder when it passes one (ProgramOptions::workingDirectory).
    std::filesystem::path folder;
    Program app;
    WindowInfo surface;

    // The desktop shows pattern A, or the given picture, when the program
    // starts; returns once the surface covers the screen showing it (and the
    // panel, when the display has one, as it was).
    explicit SkarvelRun(DisplayOptions displayOptions = {}, ProgramOptions programOptions = {},
                        std::optional<Image> desktop = std::nullopt)
        : display(displayOptions),
          folder(programOptions.workingDirectory),
          app((desktop ? display.paintDesktop(*desktop) : display.paintDesktop(Pattern::A),
               startScreen = display.grab(), display),
              SKARVEL_PATH, std::move(programOptions))
    {
        if (folder.empty())
            folder = app.home();
        const bool up = waitUntil([&] {
            for (const WindowInfo &w : display.windowsWithTitle(surfaceTitle))
                if (w.viewable() && w.rect == display.screenRect()) {
                    surface = w;
                    if (desktop || display.panel())
                        return display.grab() == startScreen;
                    return display.compareDesktop(Pattern::A, display.screenRect()).matches();
                }
            return false;
        });
        if (!up)
            throw Error("the frozen desktop did not appear: " + app.output());
    }

    // A step that fails shows what the program said on its way.
    ~SkarvelRun()
    {
        if (std::uncaught_exceptions() > 0)
            std::cerr << "The program's output so far:\n"
                      << app.output() << "\nIts threads:\n"
                      << app.threadStates() << std::endl;
    }
    SkarvelRun(const SkarvelRun &) = delete;
    SkarvelRun &operator=(const SkarvelRun &) = delete;

    // A right (or middle) click on the surface at a place of the desktop;
    // returns once the window is on the screen with its content drawn, as a
    // person would wait before using it.
    WindowInfo openOptions(int button = RightButton, Point where = {700, 600})
    {
        display.click(where, button);
        const WindowInfo w = display.findWindow("Опции");
        const bool painted = waitUntil([&] { return shows(w, {10, 10}, khaki); });
        if (!painted)
            throw Error("the options window did not paint itself");
        return w;
    }

    // Whether the window has drawn this colour at a point of its client area
    // (as nearly as the display keeps colours). Read from the window: mutter
    // now and then misses a repaint on the screen (the frame of the first
    // paint of a window shown again, the repaint of a key just after a
    // click's), and shows it only once the window paints there again.
    bool shows(const WindowInfo &w, Point p, Rgb colour) const
    {
        const std::optional<Rgb> drawn = display.windowPixel(w, p);
        return drawn && near(*drawn, colour);
    }

    // The options and About windows' colour.
    static constexpr Rgb khaki{207, 205, 173};

    // A point of a window's client area, in screen coordinates.
    static Point at(const WindowInfo &w, Point p) { return {w.rect.x + p.x, w.rect.y + p.y}; }

    void click(const WindowInfo &w, Point p) { display.click(at(w, p)); }

    // Clicks a tool's radio button and waits until it shows its check mark.
    void chooseTool(const WindowInfo &w, Point radio)
    {
        click(w, radio);
        const bool checked = waitUntil([&] {
            const Rgb c = pixel(at(w, radio));
            return c.r < 100 && c.g < 100 && c.b < 100;
        });
        if (!checked)
            throw Error("the tool's radio button did not become checked");
    }

    // Replaces the text of a spin field by typing.
    void typeInto(const WindowInfo &w, Point field, const std::string &text)
    {
        click(w, field);
        // As for the sliders below: the keys wait until the window has the
        // keyboard, or the text goes to the surface and the field keeps its
        // old value.
        if (!waitUntil([&] { return display.focusedWindow() == w.id; }))
            throw Error("the window did not get the keyboard after a click on a field");
        display.key(XK_a, ControlModifier);
        display.key(XK_BackSpace);
        display.typeText(text);
    }

    // Mixes (r, g, b) as a person would: a click in a slider's trough (one
    // step, and the keyboard focus), then Home and Down steps, or End; then
    // waits until the swatch shows the colour (as nearly as the display can).
    void mix(const WindowInfo &w, int r, int g, int b)
    {
        const Point sliders[3] = {options::rSlider, options::gSlider, options::bSlider};
        const int wanted[3] = {r, g, b};
        for (int i = 0; i < 3; ++i) {
            click(w, sliders[i]);
            // The keys go to the window only once it has the keyboard: a
            // window manager that gives it on a click (mutter) may still be
            // handing it over when the click has arrived.
            if (!waitUntil([&] { return display.focusedWindow() == w.id; }))
                throw Error("the options window did not get the keyboard after a click on a slider");
            if (wanted[i] == 255) {
                display.key(XK_End);
                continue;
            }
            display.key(XK_Home);
            for (int n = 0; n < wanted[i]; ++n)
                display.key(XK_Down);
        }
        const Rgb c{std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)};
        if (!waitUntil([&] { return shows(w, options::swatch, c); }))
            throw Error("the swatch does not show the mixed colour");
    }

    // Equal as far as the display keeps colours (16-bit displays drop the low bits).
    bool near(Rgb a, Rgb b) const
    {
        const int tolerance = display.depth() >= 24 ? 0 : 8;
        return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
               std::abs(a.b - b.b) <= tolerance;
    }

    // "Закрыть окно", and wait until the window has gone. A person clicks
    // it once nothing else (a closing dialog's frame) is in front of it.
    void closeOptions(const WindowInfo &w)
    {
        const Point button = at(w, options::closeButton);
        // (The window's frame as it is now: the window manager frames a
        // window anew each time it is shown.)
        const bool onTop = waitUntil([&] {
            const std::optional<WindowInfo> now = display.windowInfo(w.id);
            return now && display.frameAt(button.x, button.y) == now->frame;
        });
        if (!onTop)
            throw Error("the options window is not in front");
        display.click(button);
        if (!display.waitWindowGone(optionsTitle))
            throw Error("the options window did not close");
    }

    // "Сохранить как..." in the options window, the name typed into the real
    // dialog, Return; returns once the file (the name, with ".bmp" when it
    // has no extension) has appeared.
    std::filesystem::path saveAs(const WindowInfo &w, const std::filesystem::path &typed)
    {
        openSaveDialog(w);
        return typeSaveName(typed);
    }

    // "Сохранить как..."; returns the dialog once it has the keyboard, as a
    // person starts typing only then.
    WindowInfo openSaveDialog(const WindowInfo &w)
    {
        click(w, options::saveButton);
        const WindowInfo dialog = display.findWindow(saveDialogTitle);
        if (!waitUntil([&] { return display.focusedWindow() == dialog.id; }))
            throw Error("the save dialog did not get the keyboard focus");
        return dialog;
    }

    // Types the name into the open save dialog and confirms it; returns once
    // the file has appeared. The file must go into `folder`, where the dialog
    // opens: the name is typed relative to it, as a person types a name.
    // (The name field completes what is typed in a list below it, over a model
    // that reads folders in the background; while the list is up, Return only
    // closes it. A full path typed through /tmp matches the folders of other
    // tests running at the same time, and the list comes up late, once /tmp has
    // been read, so it can swallow the Return. A private folder with nothing
    // in it that the name starts like gives the list nothing to show. The
    // dialog opens there the first time; later it opens where it saved last.)
    std::filesystem::path typeSaveName(const std::filesystem::path &typed)
    {
        const std::filesystem::path name = typed.lexically_relative(folder);
        if (name.empty() || *name.begin() == "..")
            throw Error("the save dialog opens in " + folder.string() + ", not above " + typed.string() +
                        "; start the program there (ProgramOptions::workingDirectory)");
        display.typeText(name.string() + "\n");
        std::filesystem::path saved = typed;
        if (!typed.has_extension())
            saved += ".bmp";
        if (!waitUntil([&] { return std::filesystem::exists(saved); }) || !display.waitWindowGone(saveDialogTitle))
            throw Error("the picture was not saved as " + saved.string() + ": " + app.output());
        return saved;
    }

    // Waits for a message box of the program (the question, or the error
    // box): a window with the program's title that is not the surface.
    std::optional<WindowInfo> messageBox(Milliseconds timeout = defaultTimeout) const
    {
        std::optional<WindowInfo> box;
        waitUntil(
            [&] {
                for (const WindowInfo &w : display.windowsWithTitle(surfaceTitle))
                    if (w.viewable() && w.id != surface.id) {
                        box = w;
                        return true;
                    }
                return false;
            },
            timeout);
        return box;
    }

    // Escape on the surface, Yes (Return, the default) to the question; returns
    // the About window once it is on the screen.
    WindowInfo leaveSurface()
    {
        display.activateWindow(surface);
        display.key(XK_Escape);
        const std::optional<WindowInfo> box = messageBox();
        if (!box)
            throw Error("Escape did not ask before leaving");
        if (!waitUntil([&] { return display.focusedWindow() == box->id; }))
            throw Error("the question did not get the keyboard focus");
        display.key(XK_Return);
        WindowInfo about = display.findWindow(aboutTitle);
        // It is centred on the screen, frame included, once the window
        // manager's frame is there; a person points at it after that.
        const bool centred = waitUntil([&] {
            about = display.windowInfo(about.id).value_or(about);
            return about.frameRect.x == (display.width() - about.frameRect.width) / 2 &&
                   about.frameRect.y == (display.height() - about.frameRect.height) / 2;
        });
        if (!centred)
            throw Error("the About window is not centred on the screen");
        return about;
    }

    // "Выход" in the About window; returns the program's exit code.
    std::optional<int> exitFromAbout(const WindowInfo &about)
    {
        click(about, about::exitButton);
        return app.waitExit();
    }

    Rgb pixel(Point p) const { return display.pixel(p.x, p.y); }
    bool waitPixel(Point p, Rgb c, Milliseconds timeout = defaultTimeout) const
    {
        return waitUntil([&] { return display.pixel(p.x, p.y) == c; }, timeout);
    }
};

} // namespace e2e
