#pragma once

// What a person does with Скарвел, as steps for the end-to-end tests: start
// it on a known desktop, open the options window, find its controls where
// its layout puts them.

#include <gtest/gtest.h>

#include <initializer_list>

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
    Program app;
    WindowInfo surface;

    explicit SkarvelRun(DisplayOptions displayOptions = {}, ProgramOptions programOptions = {})
        : display(displayOptions),
          app((display.paintDesktop(Pattern::A), display), SKARVEL_PATH, std::move(programOptions))
    {
        const bool up = waitUntil([&] {
            for (const WindowInfo &w : display.windowsWithTitle("Скарвел"))
                if (w.viewable() && w.rect == display.screenRect()) {
                    surface = w;
                    return display.compareDesktop(Pattern::A, display.screenRect()).matches();
                }
            return false;
        });
        if (!up)
            throw Error("the frozen desktop did not appear: " + app.output());
    }

    // A right (or middle) click on the surface at a place of the desktop;
    // returns once the window is on the screen with its content drawn, as a
    // person would wait before using it.
    WindowInfo openOptions(int button = RightButton, Point where = {700, 600})
    {
        display.click(where, button);
        const WindowInfo w = display.findWindow("Опции");
        if (!waitPixel(at(w, {10, 10}), khaki))
            throw Error("the options window did not paint itself");
        return w;
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
        display.key(XK_a, ControlModifier);
        display.key(XK_BackSpace);
        display.typeText(text);
    }

    // Mixes (r, g, b) as a person would: a click in a slider's trough (one
    // step, and the keyboard focus), then Home and Down steps, or End. Each
    // step waits until the swatch shows its result.
    void mix(const WindowInfo &w, int r, int g, int b)
    {
        const Point swatch = at(w, options::swatch);
        const Point sliders[3] = {options::rSlider, options::gSlider, options::bSlider};
        int values[3] = {0, 0, 0};
        const Rgb start = pixel(swatch);
        values[0] = start.r, values[1] = start.g, values[2] = start.b;
        const int wanted[3] = {r, g, b};
        auto expectSwatch = [&] {
            const Rgb c{std::uint8_t(values[0]), std::uint8_t(values[1]), std::uint8_t(values[2])};
            if (!waitPixel(swatch, c))
                throw Error("the swatch did not follow the sliders");
        };
        for (int i = 0; i < 3; ++i) {
            const Rgb before = pixel(swatch);
            click(w, sliders[i]);
            if (!waitUntil([&] { return pixel(swatch) != before; }))
                throw Error("a click in a slider's trough changed nothing");
            const Rgb after = pixel(swatch);
            values[0] = after.r, values[1] = after.g, values[2] = after.b;
            if (wanted[i] == 255) {
                display.key(XK_End);
                values[i] = 255;
                expectSwatch();
                continue;
            }
            display.key(XK_Home);
            values[i] = 0;
            expectSwatch();
            for (int n = 0; n < wanted[i]; ++n) {
                display.key(XK_Down);
                ++values[i];
                expectSwatch();
            }
        }
    }

    // "Закрыть окно", and wait until the window has gone.
    void closeOptions(const WindowInfo &w)
    {
        click(w, options::closeButton);
        if (!display.waitWindowGone("Опции"))
            throw Error("the options window did not close");
    }

    Rgb pixel(Point p) const { return display.pixel(p.x, p.y); }
    bool waitPixel(Point p, Rgb c, Milliseconds timeout = defaultTimeout) const
    {
        return waitUntil([&] { return display.pixel(p.x, p.y) == c; }, timeout);
    }
};

} // namespace e2e
