#include "platform/portal_screenshot.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <memory>
#include <mutex>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");

// Catches the Response signal of one request object.
class ResponseCatcher : public QObject {
    Q_OBJECT
public:
    explicit ResponseCatcher(QEventLoop *loop) : loop_(loop) {}
    bool answered = false;
    uint code = 0;
    QVariantMap results;

public Q_SLOTS:
    void onResponse(uint response, const QVariantMap &values)
    {
        answered = true;
        code = response;
        results = values;
        loop_->quit();
    }

private:
    QEventLoop *loop_;
};

bool subscribe(QDBusConnection &bus, const QString &path, ResponseCatcher *catcher, bool on)
{
    const QString iface = QStringLiteral("org.freedesktop.portal.Request");
    const QString name = QStringLiteral("Response");
    const char *slot = SLOT(onResponse(uint, QVariantMap));
    return on ? bus.connect(portalService, path, iface, name, catcher, slot)
              : bus.disconnect(portalService, path, iface, name, catcher, slot);
}

QString portalCodeText(uint code)
{
    switch (code) {
    case 1: return QStringLiteral("the portal answered 1 (the request was cancelled)");
    case 2: return QStringLiteral("the portal answered 2 (the request was refused or failed)");
    default: return QStringLiteral("the portal answered %1").arg(code);
    }
}

// One screenshot through the portal, answered by `deadline`. Runs on a
// thread of its own, whose event loop receives the answer.
PortalShot askPortal(Clock::time_point deadline)
{
    auto remaining = [&] {
        return int(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return {{}, QStringLiteral("no session bus: %1").arg(bus.lastError().message())};

    // The request object's path is known before the call, so that the answer
    // cannot come before the subscription.
    const QString token = QStringLiteral("skarvel%1").arg(QRandomGenerator::global()->generate());
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);

    QEventLoop loop;
    ResponseCatcher catcher(&loop);
    subscribe(bus, path, &catcher, true);

    QDBusMessage call = QDBusMessage::createMethodCall(portalService, QStringLiteral("/org/freedesktop/portal/desktop"),
                                                       QStringLiteral("org.freedesktop.portal.Screenshot"),
                                                       QStringLiteral("Screenshot"));
    call << QString() << QVariantMap{{QStringLiteral("handle_token"), token},
                                     {QStringLiteral("interactive"), false}};
    const QDBusMessage reply = bus.call(call, QDBus::Block, std::max(1, remaining()));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        subscribe(bus, path, &catcher, false);
        return {{}, QStringLiteral("%1 (%2)").arg(reply.errorMessage(), reply.errorName())};
    }
    // A portal older than handle tokens names a request object of its own.
    const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
    if (!handle.isEmpty() && handle != path) {
        subscribe(bus, path, &catcher, false);
        path = handle;
        subscribe(bus, path, &catcher, true);
    }
    QCoreApplication::sendPostedEvents(&catcher);
    if (!catcher.answered && remaining() > 0) {
        QTimer::singleShot(remaining(), &loop, &QEventLoop::quit);
        loop.exec();
    }
    subscribe(bus, path, &catcher, false);
    if (!catcher.answered)
        return {{}, QStringLiteral("the portal did not answer within 10 seconds")};
    if (catcher.code != 0)
        return {{}, portalCodeText(catcher.code)};

    const QString uri = catcher.results.value(QStringLiteral("uri")).toString();
    const QUrl url(uri);
    if (!url.isLocalFile())
        return {{}, QStringLiteral("the portal's answer \"%1\" is not a local file").arg(uri)};
    QImage image;
    if (!image.load(url.toLocalFile()) || image.isNull())
        return {{}, QStringLiteral("the file %1 is not a readable image").arg(url.toLocalFile())};
    // The format the picture's copy reads fastest.
    image = image.convertToFormat(QImage::Format_RGB32);
    image.setDevicePixelRatio(1.0);
    return {std::move(image), {}};
}

struct Request {
    QThread *thread = nullptr;  // left running (never deleted) if the portal hangs
    Clock::time_point deadline;
    PortalShot shot;
    bool handedOver = false;
};
Request request;
std::mutex requestLock;

} // namespace

bool waylandSession()
{
    if (QGuiApplication::platformName() == QLatin1String("wayland") ||
        QGuiApplication::platformName().startsWith(QLatin1String("wayland-")))
        return true;
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qgetenv("XDG_SESSION_TYPE") == QByteArrayLiteral("wayland");
}

void startPortalScreenshot()
{
    std::lock_guard guard(requestLock);
    if (request.thread || request.handedOver)
        return;
    request.deadline = Clock::now() + std::chrono::seconds(10);
    const Clock::time_point deadline = request.deadline;
    request.thread = QThread::create([deadline] {
        PortalShot shot = askPortal(deadline);
        std::lock_guard inner(requestLock);
        request.shot = std::move(shot);
    });
    request.thread->start();
}

PortalShot takePortalScreenshot(std::chrono::milliseconds timeout)
{
    startPortalScreenshot();
    QThread *thread;
    Clock::time_point deadline;
    {
        std::lock_guard guard(requestLock);
        if (request.handedOver)
            return {{}, QStringLiteral("the screen has been read already")};
        thread = request.thread;
        deadline = std::min(request.deadline, Clock::now() + timeout);
    }
    // The thread gives up at its deadline by itself; a little more for the
    // image to load.
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()) +
                      std::chrono::milliseconds(500);
    const bool finished = thread->wait(QDeadlineTimer(std::max<qint64>(0, wait.count())));
    std::lock_guard guard(requestLock);
    request.handedOver = true;
    if (!finished)
        return {{}, QStringLiteral("the portal did not answer within 10 seconds")};
    delete request.thread;
    request.thread = nullptr;
    return std::move(request.shot);
}

} // namespace platform

#include "portal_screenshot.moc"
