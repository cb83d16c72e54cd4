// On a headless 1920 x 1080 Wayland desktop (sway and the desktop portal):
// the portal's own screenshot (the request until its answer, and until its
// PNG is loaded), and the time from starting the program to the frame that
// puts the frozen desktop on the output.

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

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "harness/wayland_session.h"

using namespace e2e;
using Clock = std::chrono::steady_clock;

namespace {

std::unique_ptr<WaylandSession> session;

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

void PortalScreenshot(benchmark::State &state)
{
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(sessionVariable("DBUS_SESSION_BUS_ADDRESS")),
                                                        QStringLiteral("bench"));
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    double answeredMs = 0;
    int n = 0;
    static int requests = 0; // a token names one request of the connection, in every repetition
    for (auto _ : state) {
        ++n;
        const QString token = QStringLiteral("bench%1").arg(requests++);
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
        Catcher catcher;
        bus.connect(QStringLiteral("org.freedesktop.portal.Desktop"), path, QStringLiteral("org.freedesktop.portal.Request"),
                    QStringLiteral("Response"), &catcher, SLOT(onResponse(uint, QVariantMap)));
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
        call << QString() << QVariantMap{{QStringLiteral("handle_token"), token}, {QStringLiteral("interactive"), false}};
        const auto start = Clock::now();
        bus.call(call);
        QTimer::singleShot(10000, &catcher.loop, &QEventLoop::quit);
        if (!catcher.answered)
            catcher.loop.exec();
        const auto answered = Clock::now();
        const QImage image(QUrl(catcher.uri).toLocalFile());
        const auto loaded = Clock::now();
        if (!catcher.answered || image.isNull()) {
            state.SkipWithError("the portal gave no picture");
            break;
        }
        answeredMs += std::chrono::duration<double, std::milli>(answered - start).count();
        state.SetIterationTime(std::chrono::duration<double>(loaded - start).count());
    }
    state.counters["answer_ms"] = n ? answeredMs / n : 0;
}

// Milliseconds on the clock libwayland stamps its WAYLAND_DEBUG lines with
// (the real-time clock's microseconds, in 32 bits).
double waylandClockMs()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const auto us = static_cast<std::uint32_t>(now.tv_sec * 1000000LL + now.tv_nsec / 1000);
    return us / 1000.0;
}

// When the surface sent the frame that follows its acknowledgement of the
// full-screen state: from then on sway shows it full screen, that is the
// frozen desktop. Read from the program's own Wayland log; -1 if not yet.
double frozenDesktopStamp(const std::filesystem::path &log)
{
    std::ifstream in(log);
    const std::regex line(R"(^\[\s*([0-9.]+)\]\s+(.*)$)");
    const std::regex shell(R"(get_xdg_surface\(new id xdg_surface@(\d+), wl_surface@(\d+)\))");
    const std::regex toplevel(R"(get_toplevel\(new id xdg_toplevel@(\d+)\))");
    std::string text, xdgSurface, surface, top;
    bool fullScreenConfigured = false, acknowledged = false;
    std::smatch m, n;
    while (std::getline(in, text)) {
        if (!std::regex_match(text, m, line))
            continue;
        const std::string what = m[2];
        if (surface.empty() && std::regex_search(what, n, shell)) {
            xdgSurface = n[1];
            surface = n[2];
        } else if (!surface.empty() && top.empty() && std::regex_search(what, n, toplevel)) {
            top = n[1];
        } else if (!top.empty() && what.starts_with("xdg_toplevel@" + top + ".configure(") &&
                   what.find("array[0]") == std::string::npos) {
            fullScreenConfigured = true; // a configure that carries states
        } else if (fullScreenConfigured && what.find("xdg_surface@" + xdgSurface + ".ack_configure(") !=
                                               std::string::npos) {
            acknowledged = true;
        } else if (acknowledged && what.find("wl_surface@" + surface + ".commit()") != std::string::npos) {
            return std::stod(m[1]);
        }
    }
    return -1;
}

// From the program's start to the frame that puts the frozen desktop on the
// output, as its own Wayland log shows it; the output is read back too, and
// must show the desktop as it was.
void StartToFrozenDesktop(benchmark::State &state)
{
    int run = 0;
    for (auto _ : state) {
        ProgramOptions options;
        options.env["WAYLAND_DEBUG"] = "1";
        const TempDir dir("skarvel-bench");
        options.outputFile = dir.path() / ("run-" + std::to_string(run++) + ".log");
        const double start = waylandClockMs();
        Program app(*session, SKARVEL_PATH, options);
        double shown = -1;
        waitUntil([&] { return (shown = frozenDesktopStamp(options.outputFile)) >= 0; }, 30s, 5ms);
        if (shown < 0 || !waitUntil([&] { return session->compareDesktop(Pattern::A).matches(); })) {
            state.SkipWithError("the frozen desktop did not appear");
            break;
        }
        // The stamps wrap every 71 minutes.
        double ms = shown - start;
        if (ms < 0)
            ms += 4294967.296;
        state.SetIterationTime(ms / 1000.0);
        app.kill();
        session->waitWindowGone("Скарвел");
    }
}

} // namespace

BENCHMARK(PortalScreenshot)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(StartToFrozenDesktop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);

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
