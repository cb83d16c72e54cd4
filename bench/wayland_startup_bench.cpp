// On a headless 1920 x 1080 Wayland desktop (sway and the desktop portal):
// the portal's own screenshot (the request until its answer, and until its
// PNG is loaded), and the time from starting the program to the frozen
// desktop on the output.

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
#include <memory>

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
    for (auto _ : state) {
        const QString token = QStringLiteral("bench%1").arg(n++);
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

void StartToFrozenDesktop(benchmark::State &state)
{
    for (auto _ : state) {
        const auto start = Clock::now();
        Program app(*session, SKARVEL_PATH);
        const bool shown = waitUntil(
            [&] {
                for (const WaylandWindow &w : session->windows())
                    if (w.fullscreen && w.title == "Скарвел")
                        return session->compareDesktop(Pattern::A).matches();
                return false;
            },
            30s, 2ms);
        const auto end = Clock::now();
        if (!shown) {
            state.SkipWithError("the frozen desktop did not appear");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        app.kill();
        session->waitWindowGone("Скарвел");
    }
}

} // namespace

BENCHMARK(PortalScreenshot)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(StartToFrozenDesktop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

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
