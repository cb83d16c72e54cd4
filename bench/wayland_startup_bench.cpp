// On a headless 1920 x 1080 Wayland desktop (sway and the desktop portal):
// the portal's own screenshot (the request until its answer, and until its
// PNG is loaded), and the time from starting the program to the first frame
// on the output that shows the frozen desktop.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QImage>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "harness/wayland_session.h"
#include "output_watch.h"

using namespace e2e;
using Clock = std::chrono::steady_clock;

namespace {

std::unique_ptr<WaylandSession> session;

// The median of a run's times, in milliseconds: under load a few slow runs
// pull the mean far off.
double medianMs(std::vector<double> times)
{
    if (times.empty())
        return 0;
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

std::string sessionVariable(const std::string &name)
{
    for (const std::string &entry : session->clientEnvironment())
        if (entry.starts_with(name + "="))
            return entry.substr(name.size() + 1);
    return {};
}

// The Response of one request, caught in the bench's own event loop.
class Catcher : public QObject {
    Q_OBJECT
public:
    QEventLoop loop;
    QString uri;
    bool answered = false;
public Q_SLOTS:
    void onResponse(uint code, const QVariantMap &results)
    {
        answered = code == 0;
        uri = results.value(QStringLiteral("uri")).toString();
        loop.quit();
    }
};

// Screenshots through the portal, as the program asks for them, on a
// connection of the bench's own.
class Portal {
public:
    Portal()
        : bus_(QDBusConnection::connectToBus(QString::fromStdString(sessionVariable("DBUS_SESSION_BUS_ADDRESS")),
                                             QStringLiteral("bench")))
    {
        sender_ = bus_.baseService().mid(1);
        sender_.replace(QLatin1Char('.'), QLatin1Char('_'));
    }

    struct Shot {
        double answeredMs = -1; // the request until its answer
        double loadedMs = -1;   // until its PNG is loaded as well; -1 without a picture
    };

    Shot take()
    {
        static int requests = 0; // a token names one request of the connection
        const QString token = QStringLiteral("bench%1").arg(requests++);
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender_, token);
        Catcher catcher;
        bus_.connect(QStringLiteral("org.freedesktop.portal.Desktop"), path,
                     QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), &catcher,
                     SLOT(onResponse(uint, QVariantMap)));
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
        call << QString() << QVariantMap{{QStringLiteral("handle_token"), token}, {QStringLiteral("interactive"), false}};
        const auto start = Clock::now();
        bus_.call(call);
        QTimer::singleShot(10000, &catcher.loop, &QEventLoop::quit);
        if (!catcher.answered)
            catcher.loop.exec();
        const auto answered = Clock::now();
        const QImage image(QUrl(catcher.uri).toLocalFile());
        const auto loaded = Clock::now();
        if (!catcher.answered || image.isNull())
            return {};
        return {std::chrono::duration<double, std::milli>(answered - start).count(),
                std::chrono::duration<double, std::milli>(loaded - start).count()};
    }

private:
    QDBusConnection bus_;
    QString sender_;
};

void PortalScreenshot(benchmark::State &state)
{
    Portal portal;
    std::vector<double> answered, loaded;
    for (auto _ : state) {
        const Portal::Shot shot = portal.take();
        if (shot.loadedMs < 0) {
            state.SkipWithError("the portal gave no picture");
            break;
        }
        answered.push_back(shot.answeredMs);
        loaded.push_back(shot.loadedMs);
        state.SetIterationTime(shot.loadedMs / 1000);
    }
    state.counters["answer_median_ms"] = medianMs(answered);
    state.counters["median_ms"] = medianMs(loaded);
}

// From a program's start to the first frame on the output that shows the
// frozen desktop, as a person sees it: the compositor's screen copy gives
// every frame that changes anything on the output, with the time it was
// shown. The desktop stays as it is, so the first changed frame that shows
// it whole is the surface's (a frame that shows anything else, a white
// surface say, does not count). In milliseconds; -1 if it never came.
double startToFrozenDesktop(OutputWatch &output, const std::string &program)
{
    // Changes from before (the last run's window going) come at the output's
    // next frame, a few milliseconds after asking: they are taken until the
    // output has been still for 300 ms.
    do
        output.arm();
    while (output.wait(300ms));
    const auto start = Clock::now();
    Program app(*session, program);
    std::optional<Clock::time_point> shown;
    for (auto end = start + 30s; Clock::now() < end && !shown;) {
        const auto frame = output.wait(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()));
        if (frame && *frame >= start && output.shows(Pattern::A))
            shown = frame;
        else
            output.arm();
    }
    if (!shown)
        std::fprintf(stderr, "%s: no frozen desktop within 30 s; its output:\n%s\n", program.c_str(),
                     app.output().c_str());
    app.kill();
    session->waitWindowGone("Скарвел");
    return shown ? std::chrono::duration<double, std::milli>(*shown - start).count() : -1;
}

// The program's start to the frozen desktop, each run paired with a portal
// screenshot just before it: under a changing load only the pair's
// difference, the program's time over the portal's own, holds still.
// SKARVEL_BENCH_COMPARE names another build of the program, run in the same
// rounds (in turns first and second) and reported as compare_*.
void StartToFrozenDesktop(benchmark::State &state)
{
    OutputWatch output(session->waylandDisplay());
    Portal portal;
    const char *compare = std::getenv("SKARVEL_BENCH_COMPARE");
    const bool comparing = compare && *compare;
    std::vector<double> times, portalTimes, over, compareTimes, compareOver, gain;
    int round = 0;
    for (auto _ : state) {
        const double portalMs = portal.take().loadedMs;
        double ms = -1, compareMs = 0;
        if (comparing && round % 2)
            compareMs = startToFrozenDesktop(output, compare);
        ms = startToFrozenDesktop(output, SKARVEL_PATH);
        if (comparing && round % 2 == 0)
            compareMs = startToFrozenDesktop(output, compare);
        ++round;
        if (portalMs < 0 || ms < 0 || compareMs < 0) {
            state.SkipWithError(portalMs < 0 ? "the portal gave no picture" : "the frozen desktop did not appear");
            break;
        }
        state.SetIterationTime(ms / 1000);
        times.push_back(ms);
        portalTimes.push_back(portalMs);
        over.push_back(ms - portalMs);
        if (comparing) {
            compareTimes.push_back(compareMs);
            compareOver.push_back(compareMs - portalMs);
            gain.push_back(compareMs - ms);
        }
    }
    state.counters["median_ms"] = medianMs(times);
    state.counters["portal_median_ms"] = medianMs(portalTimes);
    state.counters["over_portal_median_ms"] = medianMs(over);
    if (comparing) {
        state.counters["compare_median_ms"] = medianMs(compareTimes);
        state.counters["compare_over_portal_median_ms"] = medianMs(compareOver);
        state.counters["compare_minus_this_median_ms"] = medianMs(gain);
    }
}

} // namespace

BENCHMARK(PortalScreenshot)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(11);
BENCHMARK(StartToFrozenDesktop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(11);

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    WaylandOptions options;
    options.width = 1920;
    options.height = 1080;
    session = std::make_unique<WaylandSession>(options);
    session->paintDesktop(Pattern::A);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    session.reset();
    return 0;
}

#include "wayland_startup_bench.moc"
