// Start-up and memory of the program next to a bare Qt program that only
// reads the screen and shows it full screen (bare_qt_program.cpp), on one
// Xvfb display at depth 24 without a window manager, at 1920 x 1080 and
// 3840 x 2160. The two programs start alternately, round after round, so
// that a busy machine slows both alike.
//
// "Start" is the time from exec until a window covering the screen is
// mapped, seen by polling the X server's window tree. "Resident" is VmRSS
// 0.5 s after that, "peak" is VmHWM at the same moment. Each figure is the
// median of the rounds (SKARVEL_BENCH_ROUNDS, default 7). Beside the wall
// time it gives the CPU time the program had used by then ("cpu"), which a
// busy machine disturbs much less.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "harness/harness.h"

#include <X11/Xlib.h>

using namespace e2e;

namespace {

int rounds()
{
    const char *text = std::getenv("SKARVEL_BENCH_ROUNDS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 7;
}

// A viewable child of the root covering the whole screen: without a window
// manager the program's top-level windows are the root's children.
bool fullScreenWindowMapped(const VirtualDisplay &display)
{
    Display *dpy = display.xdisplay();
    Window rootReturn, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &rootReturn, &parent, &children, &count))
        return false;
    bool found = false;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(dpy, children[i], &a) && a.map_state == IsViewable && a.x <= 0 && a.y <= 0 &&
            a.x + a.width >= display.width() && a.y + a.height >= display.height())
            found = true;
    }
    if (children)
        XFree(children);
    return found;
}

// CPU time all threads of a process have had so far, in ms: on a shared
// machine the wall time swings with the load, the work done much less.
double cpuMs(pid_t pid)
{
    double ns = 0;
    std::error_code error;
    for (const auto &task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream in(task.path() / "schedstat");
        double onCpu = 0;
        if (in >> onCpu)
            ns += onCpu;
    }
    return ns / 1e6;
}

struct Sample {
    double startMs = 0;
    double cpuMs = 0;
    double residentMiB = 0;
    double peakMiB = 0;
};

Sample startOnce(const VirtualDisplay &display, const char *path)
{
    const auto begin = std::chrono::steady_clock::now();
    Program app(display, path);
    if (!waitUntil([&] { return fullScreenWindowMapped(display); }, 30s, 1ms))
        throw Error(std::string(path) + " mapped no full-screen window: " + app.output());
    const auto mapped = std::chrono::steady_clock::now();
    const double cpu = cpuMs(app.pid());
    std::this_thread::sleep_for(500ms);
    Sample s;
    s.startMs = std::chrono::duration<double, std::milli>(mapped - begin).count();
    s.cpuMs = cpu;
    s.residentMiB = double(app.residentMemoryKiB()) / 1024.0;
    s.peakMiB = double(app.peakMemoryKiB()) / 1024.0;
    app.kill();
    return s;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0.0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0);
}

void StartNextToBareQt(benchmark::State &state)
{
    VirtualDisplay display({int(state.range(0)), int(state.range(1)), 24, false});
    display.paintDesktop(Pattern::A);
    // The program, the bare one, and (SKARVEL_BENCH_EARLIER, optional) an
    // earlier build of the program to compare with in the same run.
    std::vector<std::pair<std::string, std::string>> programs = {{"skarvel", SKARVEL_PATH}, {"bare", BARE_QT_PATH}};
    if (const char *earlier = std::getenv("SKARVEL_BENCH_EARLIER"); earlier && *earlier)
        programs.emplace_back("earlier", earlier);
    const std::size_t n = programs.size();
    std::vector<std::vector<double>> start(n), cpu(n), resident(n), peak(n);
    for (auto _ : state) {
        try {
            for (const auto &program : programs) // warms the file cache
                startOnce(display, program.second.c_str());
            for (int round = 0; round < rounds(); ++round)
                for (std::size_t k = 0; k < n; ++k) {
                    const std::size_t p = (std::size_t(round) + k) % n; // each goes first in turn
                    const Sample s = startOnce(display, programs[p].second.c_str());
                    start[p].push_back(s.startMs);
                    cpu[p].push_back(s.cpuMs);
                    resident[p].push_back(s.residentMiB);
                    peak[p].push_back(s.peakMiB);
                }
        } catch (const Error &e) {
            state.SkipWithError(e.what());
            return;
        }
        state.SetIterationTime(median(start[0]) / 1000.0);
    }
    for (std::size_t p = 0; p < n; ++p) {
        const std::string &name = programs[p].first;
        state.counters[name + "_ms"] = median(start[p]);
        state.counters[name + "_cpu_ms"] = median(cpu[p]);
        state.counters[name + "_rss_MiB"] = median(resident[p]);
        state.counters[name + "_peak_MiB"] = median(peak[p]);
        if (p != 1)
            state.counters[name + "_ratio"] = median(start[p]) / median(start[1]);
    }
    state.counters["frame_MiB"] = double(state.range(0)) * double(state.range(1)) * 4.0 / (1024.0 * 1024.0);
}

} // namespace

BENCHMARK(StartNextToBareQt)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->ArgNames({"w", "h"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK_MAIN();
