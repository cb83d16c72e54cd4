// The program's screen read of a 3840 x 2160 Xvfb display at depth 24: the
// read the program makes before its surface maps (through MIT-SHM when the
// server offers it, Qt's own read otherwise), and Qt's own read beside it.
// On a shared machine the fastest of the reads says most about the read
// itself; the X server's CPU time per read is given too.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

#include "harness/harness.h"
#include "platform/platform.h"

using namespace e2e;

namespace {

// CPU time the X server has spent so far, in ms: on a busy machine the wall
// time of a read says little, the work done by both sides does.
double serverCpuMs(pid_t server)
{
    std::ifstream in("/proc/" + std::to_string(server) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// A display and a Qt application connected to it, for one benchmark.
struct QtOnDisplay {
    explicit QtOnDisplay(bool sharedMemory) : display({3840, 2160, 24, false, sharedMemory})
    {
        display.paintDesktop(Pattern::A);
        setenv("DISPLAY", display.name().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    VirtualDisplay display;
    int argc = 1;
    char name[16] = "screen_read";
    char *argv[2] = {name, nullptr};
    std::unique_ptr<QGuiApplication> app;
};

// state.range(0): 1 with MIT-SHM on the server, 0 without.
void ProgramRead(benchmark::State &state)
{
    QtOnDisplay qt(state.range(0) != 0);
    const double serverBefore = serverCpuMs(qt.display.serverPid());
    double fastest = 1e9;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        if (!platform::readScreenBeforeMapping()) {
            state.SkipWithError("the screen could not be read");
            break;
        }
        benchmark::DoNotOptimize(platform::screenReading().constBits());
        fastest = std::min(fastest, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count());
        platform::forgetScreenReading();
    }
    state.counters["fastest_ms"] = fastest;
    state.counters["server_cpu_ms"] = (serverCpuMs(qt.display.serverPid()) - serverBefore) / double(state.iterations());
}

void QtGrabWindow(benchmark::State &state)
{
    QtOnDisplay qt(state.range(0) != 0);
    const double serverBefore = serverCpuMs(qt.display.serverPid());
    double fastest = 1e9;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        benchmark::DoNotOptimize(image.constBits());
        fastest = std::min(fastest, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count());
    }
    state.counters["fastest_ms"] = fastest;
    state.counters["server_cpu_ms"] = (serverCpuMs(qt.display.serverPid()) - serverBefore) / double(state.iterations());
}

} // namespace

BENCHMARK(ProgramRead)->ArgName("shm")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(QtGrabWindow)->ArgName("shm")->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(15);

BENCHMARK_MAIN();
