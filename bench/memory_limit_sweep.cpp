// What a person sees when the program runs short of memory: the program on a
// large Xvfb display (7680 x 4320 at depth 24 unless told otherwise), started
// under an address-space limit (prlimit --as) and driven through start-up,
// the snapshot, a right click, a stroke and a save. For each limit it prints
// one line: what the start gave (the frozen desktop, the start-up failure
// box, an exit), whether an error box came up at each step, and how the
// program ended (exit code or signal, and Qt's "X11 connection broke").
//
//   memory_limit_sweep [from-MiB to-MiB step-MiB [width height]]
//
// The limits default to 300 to 700 MiB in steps of 25. Without a limit the
// first line gives the program's peak (VmHWM) over the same road. Each step
// is followed by the program's address space at that moment and its peak
// so far (VmSize/VmPeak, MiB).
//
// SKARVEL_SWEEP_PROGRAM runs another program file (an older build, to
// compare), SKARVEL_SWEEP_FOLDER runs it in a folder that is kept (with any
// core file), SKARVEL_SWEEP_MAPS lists its large mappings at each step.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "harness/harness.h"

#include <X11/keysym.h>

using namespace e2e;

namespace {

const std::string surfaceTitle = "Скарвел";

// The program's error box or the start-up failure box, whichever is up.
std::string boxUp(const VirtualDisplay &display, WindowId surface)
{
    for (const WindowInfo &w : display.windowsWithTitle("Application Error"))
        if (w.viewable())
            return "startup-box";
    for (const WindowInfo &w : display.windowsWithTitle(surfaceTitle))
        if (w.viewable() && w.id != surface && w.rect != display.screenRect())
            return "error-box";
    return {};
}

struct Outcome {
    std::string steps;
    std::string end;
    long peakKiB = 0;
};

// The program's address space now (VmSize), in MiB; what a limit counts.
pid_t watched = 0;
std::string addressSpace()
{
    std::ifstream in("/proc/" + std::to_string(watched) + "/status");
    std::string line, peak;
    while (std::getline(in, line)) {
        if (line.starts_with("VmPeak:"))
            peak = "/" + std::to_string(std::stol(line.substr(7)) >> 10);
        if (line.starts_with("VmSize:"))
            return " (" + std::to_string(std::stol(line.substr(7)) >> 10) + peak + ")";
    }
    return {};
}

// SKARVEL_SWEEP_MAPS: the program's mappings of 16 MiB or more at each step, on stderr.
void bigMappings(const std::string &step)
{
    if (!std::getenv("SKARVEL_SWEEP_MAPS"))
        return;
    std::ifstream in("/proc/" + std::to_string(watched) + "/maps");
    std::string line;
    while (std::getline(in, line)) {
        const auto dash = line.find('-'), space = line.find(' ');
        const unsigned long long from = std::stoull(line.substr(0, dash), nullptr, 16);
        const unsigned long long to = std::stoull(line.substr(dash + 1, space - dash - 1), nullptr, 16);
        if (to - from >= (16ull << 20))
            std::fprintf(stderr, "  %s: %llu MiB %s\n", step.c_str(), (to - from) >> 20, line.substr(space).c_str());
    }
}

void note(Outcome &o, const std::string &what) {
    bigMappings(what); o.steps += (o.steps.empty() ? "" : ", ") + what + addressSpace(); }

// Dismisses a box with Return and waits for it to go.
void dismiss(VirtualDisplay &display, WindowId surface)
{
    for (const std::string title : {"Application Error", "Скарвел"})
        for (const WindowInfo &w : display.windowsWithTitle(title))
            if (w.viewable() && w.id != surface && w.rect != display.screenRect()) {
                try {
                    display.activateWindow(w);
                } catch (const Error &) {
                }
            }
    display.key(XK_Return);
    waitUntil([&] { return boxUp(display, surface).empty(); }, 5s);
}

// After a step: a box (noted and dismissed), an exit, or nothing within a moment.
bool settle(VirtualDisplay &display, Program &app, WindowId surface, Outcome &o, const std::string &step,
            Milliseconds wait)
{
    std::string box;
    waitUntil([&] { return !app.running() || !(box = boxUp(display, surface)).empty(); }, wait);
    if (!box.empty()) {
        note(o, step + ": " + box);
        dismiss(display, surface);
    }
    if (!app.running()) {
        note(o, step + ": exit");
        return false;
    }
    return true;
}

Outcome run(VirtualDisplay &display, const std::string &program, long limitMiB, const std::filesystem::path &folder)
{
    Outcome o;
    ProgramOptions options;
    options.workingDirectory = folder;
    if (limitMiB > 0)
        options.args = {"--as=" + std::to_string(limitMiB * 1024 * 1024), program};
    Program app(display, limitMiB > 0 ? "/usr/bin/prlimit" : program, options);
    watched = app.pid();
    auto peak = [&] {
        try {
            o.peakKiB = std::max(o.peakKiB, app.peakMemoryKiB());
        } catch (const Error &) {
        }
    };

    WindowId surface = 0;
    std::string box;
    waitUntil(
        [&] {
            if (!app.running())
                return true;
            if (!(box = boxUp(display, 0)).empty())
                return true;
            for (const WindowInfo &w : display.windowsWithTitle(surfaceTitle))
                if (w.viewable() && w.rect == display.screenRect()) {
                    surface = w.id;
                    return true;
                }
            return false;
        },
        60s);
    if (!box.empty()) {
        note(o, "start: " + box);
        peak();
        dismiss(display, surface);
        if (box == "error-box")
            waitUntil(
                [&] {
                    for (const WindowInfo &w : display.windowsWithTitle(surfaceTitle))
                        if (w.viewable() && w.rect == display.screenRect())
                            surface = w.id;
                    return surface != 0 || !app.running();
                },
                10s);
    }
    if (surface) {
        note(o, "surface");
        // The snapshot runs as soon as the loop does; its error box, if any,
        // comes within a moment.
        peak();
        if (settle(display, app, surface, o, "snapshot", 3s)) {
            peak();
            display.click(3000, 3000, RightButton);
            const bool options = waitUntil(
                [&] {
                    for (const WindowInfo &w : display.windowsWithTitle("Опции"))
                        if (w.viewable())
                            return true;
                    return !app.running() || !boxUp(display, surface).empty();
                },
                20s);
            WindowInfo palitra;
            for (const WindowInfo &w : display.windowsWithTitle("Опции"))
                if (w.viewable())
                    palitra = w;
            if (palitra.id)
                note(o, "options");
            if (options && settle(display, app, surface, o, "right-click", 1s)) {
                display.drag({3000, 2000}, {4000, 2500}, 10);
                peak();
                if (settle(display, app, surface, o, "stroke", 1s) && palitra.id) {
                    // "Сохранить как..." at (51, 283) of the options window.
                    display.click(palitra.rect.x + 51, palitra.rect.y + 283);
                    waitUntil(
                        [&] {
                            for (const WindowInfo &w : display.windowsWithTitle("Сохранить рисунок рабочего стола"))
                                if (w.viewable())
                                    return true;
                            return !app.running();
                        },
                        20s);
                    if (app.running()) {
                        display.typeText("pic\n");
                        const auto file = folder / "pic.bmp";
                        waitUntil(
                            [&] {
                                peak();
                                return std::filesystem::exists(file) || !app.running() ||
                                       !boxUp(display, surface).empty();
                            },
                            60s);
                        peak();
                        if (std::filesystem::exists(file)) {
                            note(o, "saved " + std::to_string(std::filesystem::file_size(file) >> 20) + " MiB");
                            std::filesystem::remove(file);
                        }
                        settle(display, app, surface, o, "save", 1s);
                    }
                }
            }
        }
    }
    if (app.running()) {
        o.end = "running";
        if (std::getenv("SKARVEL_SWEEP_OUTPUT"))
            o.end += " [" + app.output() + "]";
        app.kill();
    } else {
        const int code = *app.waitExit();
        o.end = app.killedBySignal() ? "signal " + std::to_string(code - 128) : "exit " + std::to_string(code);
    }
    const std::string out = app.output();
    if (out.find("X11 connection broke") != std::string::npos)
        o.end += " + \"X11 connection broke\"";
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    const long from = argc > 3 ? std::atol(argv[1]) : 300;
    const long to = argc > 3 ? std::atol(argv[2]) : 700;
    const long step = argc > 3 ? std::atol(argv[3]) : 25;
    DisplayOptions options;
    options.width = argc > 5 ? std::atoi(argv[4]) : 7680;
    options.height = argc > 5 ? std::atoi(argv[5]) : 4320;
    VirtualDisplay display(options);
    TempDir folder("skarvel-memory-sweep");
    // SKARVEL_SWEEP_FOLDER: where the program runs and saves instead (kept,
    // with any core file the system writes there).
    const char *kept = std::getenv("SKARVEL_SWEEP_FOLDER");
    const std::filesystem::path work = kept ? std::filesystem::path(kept) : folder.path();
    // SKARVEL_SWEEP_PROGRAM: another program file (a wrapper that runs the
    // program under a debugger, say).
    const char *other = std::getenv("SKARVEL_SWEEP_PROGRAM");
    const std::string program = other ? other : SKARVEL_PATH;
    std::printf("%dx%dx%d, frame %.0f MiB\n", display.width(), display.height(), display.depth(),
                double(display.width()) * display.height() * 4 / (1 << 20));
    const Outcome free = run(display, program, 0, work);
    std::printf("no limit: peak %ld MiB | %s | %s\n", free.peakKiB >> 10, free.steps.c_str(), free.end.c_str());
    std::fflush(stdout);
    for (long limit = from; limit <= to; limit += step) {
        const Outcome o = run(display, program, limit, work);
        std::printf("%4ld MiB | %s | %s\n", limit, o.steps.c_str(), o.end.c_str());
        std::fflush(stdout);
    }
    return 0;
}
