// Time from starting the program to the frozen desktop on the screen of a
// 1920 x 1080 Xvfb display, and the program's peak memory by then.

#include <benchmark/benchmark.h>

#include <chrono>

#include "harness/harness.h"

using namespace e2e;

namespace {

void StartToFrozenDesktop(benchmark::State &state)
{
    VirtualDisplay display({1920, 1080, 24, true});
    display.paintDesktop(Pattern::A);
    long peakKiB = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        Program app(display, SKARVEL_PATH);
        const bool shown = waitUntil(
            [&] {
                for (const WindowInfo &w : display.windowsWithTitle("Скарвел"))
                    if (w.viewable() && w.rect == display.screenRect())
                        return display.compareDesktop(Pattern::A, display.screenRect()).matches();
                return false;
            },
            30s, 2ms);
        const auto end = std::chrono::steady_clock::now();
        if (!shown) {
            state.SkipWithError("the frozen desktop did not appear");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        peakKiB = app.peakMemoryKiB();
        app.kill();
    }
    state.counters["peak_MiB"] = double(peakKiB) / 1024.0;
}

} // namespace

BENCHMARK(StartToFrozenDesktop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
