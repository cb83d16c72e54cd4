#include "platform/portal_screenshot.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <utility>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

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
    const QString name = QStringLiteral("Response");
    const char *slot = SLOT(onResponse(uint, QVariantMap));
    return on ? bus.connect(portalService, path, requestInterface, name, catcher, slot)
              : bus.disconnect(portalService, path, requestInterface, name, catcher, slot);
}

QString seconds(std::chrono::milliseconds limit) { return QString::number(limit.count() / 1000.0); }

QString answerText(uint code)
{
    switch (code) {
    case 1: return QStringLiteral("the screenshot was cancelled");
    // A desktop that asks the person stores the answer and gives it to every
    // later request without asking again.
    case 2:
        return QStringLiteral("the desktop refused the screenshot, and it remembers that answer. To allow "
                              "screenshots again, run the command under SCREENSHOTS in the manual page: man skarvel");
    default: return QStringLiteral("the desktop portal answered %1").arg(code);
    }
}

#ifdef Q_OS_UNIX
using FileTime = timespec;

// The file time that the kernel gives a file made now: file times come from
// the coarse clock, which lags the precise one by up to a tick.
FileTime fileClockNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}

// Whether a file time is not earlier than `since`. A file system that keeps
// whole seconds (two seconds on FAT) leaves the nanoseconds 0 and rounds the
// time down: such a time is compared at its own grain.
bool notBefore(const timespec &time, const timespec &since)
{
    if (time.tv_nsec == 0)
        return time.tv_sec >= since.tv_sec - since.tv_sec % 2;
    return time.tv_sec > since.tv_sec || (time.tv_sec == since.tv_sec && time.tv_nsec >= since.tv_nsec);
}

// The portal's file, read through one descriptor, so that what is deleted
// afterwards is known to be what was read. Only a regular file is read: a
// pipe or a device would never end.
struct ReadFile {
    QByteArray bytes;
    struct stat status {};
    QString error;
};

ReadFile readRegularFile(const QString &path)
{
    ReadFile file;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::fstat(fd, &file.status) != 0 || !S_ISREG(file.status.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        file.error = QStringLiteral("the portal's answer %1 is not a readable file").arg(path);
        return file;
    }
    QFile in;
    if (in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        file.bytes = in.readAll();
    else
        ::close(fd);
    return file;
}

// Deletes the portal's file when it is the very file that was read, still a
// regular file under that name (not a link to one), and was made or changed
// after the request went out. Anything else at that name stays.
void deleteIfMadeForUs(const QString &path, const ReadFile &read, const FileTime &asked)
{
    struct stat now {};
    if (::lstat(QFile::encodeName(path).constData(), &now) != 0 || !S_ISREG(now.st_mode) ||
        now.st_dev != read.status.st_dev || now.st_ino != read.status.st_ino)
        return;
    if (notBefore(now.st_mtim, asked) && notBefore(now.st_ctim, asked))
        ::unlink(QFile::encodeName(path).constData());
}
#else
// Elsewhere the file is read and kept.
struct FileTime {};
FileTime fileClockNow() { return {}; }
struct ReadFile {
    QByteArray bytes;
    QString error;
};
ReadFile readRegularFile(const QString &path)
{
    ReadFile file;
    QFile in(path);
    if (in.open(QIODevice::ReadOnly))
        file.bytes = in.readAll();
    else
        file.error = QStringLiteral("the portal's answer %1 is not a readable file").arg(path);
    return file;
}
void deleteIfMadeForUs(const QString &, const ReadFile &, const FileTime &) {}
#endif

// One screenshot through the portal. Runs on a thread of its own, whose
// event loop receives the answer.
PortalShot askPortal(const PortalLimits &limits)
{
    // A session bus connection of its own. The shared one, once the main
    // thread has touched it (Qt's accessibility bridge does while the window
    // system starts), holds back every incoming message until the main
    // thread's event loop runs; that thread waits for this answer before it
    // runs any, so the answer would arrive and never be delivered. Qt never
    // holds back a connection opened by name.
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                        QStringLiteral("skarvel-portal-screenshot"));
    if (!bus.isConnected()) {
        const QString why = bus.lastError().message();
        QDBusConnection::disconnectFromBus(bus.name()); // a later request tries again
        return {{}, QStringLiteral("no session bus: %1").arg(why)};
    }

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
    const auto asked = fileClockNow();
    const QDBusMessage reply = bus.call(call, QDBus::Block, int(std::max<long long>(1, limits.call.count())));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        subscribe(bus, path, &catcher, false);
        const QDBusError::ErrorType error = QDBusError(reply).type();
        if (error == QDBusError::NoReply || error == QDBusError::Timeout || error == QDBusError::TimedOut)
            return {{}, QStringLiteral("the desktop portal did not take the request within %1 seconds")
                            .arg(seconds(limits.call))};
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
    if (!catcher.answered) {
        QTimer::singleShot(limits.answer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    subscribe(bus, path, &catcher, false);
    if (!catcher.answered) {
        // Whatever the desktop still shows for this request goes away.
        bus.call(QDBusMessage::createMethodCall(portalService, path, requestInterface, QStringLiteral("Close")),
                 QDBus::NoBlock);
        return {{}, QStringLiteral("the desktop portal gave no answer within %1 seconds").arg(seconds(limits.answer))};
    }
    if (catcher.code != 0)
        return {{}, answerText(catcher.code)};

    const QString uri = catcher.results.value(QStringLiteral("uri")).toString();
    const QUrl url(uri);
    if (!url.isLocalFile())
        return {{}, QStringLiteral("the portal's answer \"%1\" is not a local file").arg(uri)};
    const ReadFile file = readRegularFile(url.toLocalFile());
    if (!file.error.isEmpty())
        return {{}, file.error};
    QImage image = QImage::fromData(file.bytes);
    if (image.isNull())
        return {{}, QStringLiteral("the file %1 is not a readable image").arg(url.toLocalFile())};
    // The program keeps no screenshot: the file the portal made is read.
    deleteIfMadeForUs(url.toLocalFile(), file, asked);
    // The format the picture's copy reads fastest.
    image = image.convertToFormat(QImage::Format_RGB32);
    image.setDevicePixelRatio(1.0);
    return {std::move(image), {}};
}

} // namespace

struct PortalScreenshot::State {
    std::mutex lock;
    PortalLimits limits;
    QThread *thread = nullptr; // left running (never deleted) if it outlives every limit
    PortalShot shot;
    bool handedOver = false;
};

PortalScreenshot::PortalScreenshot(PortalLimits limits) : state_(std::make_shared<State>())
{
    state_->limits = limits;
}

PortalScreenshot::~PortalScreenshot()
{
    // A thread still running keeps the state alive and ends by itself.
    std::lock_guard guard(state_->lock);
    if (state_->thread && state_->thread->isFinished())
        delete std::exchange(state_->thread, nullptr);
}

void PortalScreenshot::start()
{
    std::lock_guard guard(state_->lock);
    if (state_->thread || state_->handedOver)
        return;
    std::shared_ptr<State> state = state_;
    state_->thread = QThread::create([state] {
        PortalShot shot = askPortal(state->limits);
        std::lock_guard inner(state->lock);
        state->shot = std::move(shot);
    });
    state_->thread->start();
}

PortalShot PortalScreenshot::take()
{
    start();
    QThread *thread;
    PortalLimits limits;
    {
        std::lock_guard guard(state_->lock);
        if (state_->handedOver)
            return {{}, QStringLiteral("the screen has been read already")};
        thread = state_->thread;
        limits = state_->limits;
    }
    // The thread gives up at its limits by itself; a little more for the
    // image to load.
    const auto wait = limits.call + limits.answer + std::chrono::seconds(5);
    const bool finished = thread->wait(QDeadlineTimer(wait.count()));
    std::lock_guard guard(state_->lock);
    state_->handedOver = true;
    if (!finished)
        return {{}, QStringLiteral("the desktop portal gave no answer within %1 seconds").arg(seconds(wait))};
    delete std::exchange(state_->thread, nullptr);
    return std::move(state_->shot);
}

bool waylandSession()
{
    if (QGuiApplication::platformName() == QLatin1String("wayland") ||
        QGuiApplication::platformName().startsWith(QLatin1String("wayland-")))
        return true;
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qgetenv("XDG_SESSION_TYPE") == QByteArrayLiteral("wayland");
}

namespace {
// Never destroyed: its thread may still be running when the program ends.
PortalScreenshot &programRequest()
{
    static auto *request = new PortalScreenshot();
    return *request;
}

std::atomic<bool> endRequested{false};
std::atomic<bool> waitingForPortal{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set in a signal handler");

[[noreturn]] void endNow()
{
#ifdef Q_OS_UNIX
    ::_exit(0);
#else
    std::_Exit(0);
#endif
}
} // namespace

void startPortalScreenshot() { programRequest().start(); }

PortalShot takePortalScreenshot()
{
    waitingForPortal = true;
    if (endRequested)
        endNow();
    PortalShot shot = programRequest().take();
    waitingForPortal = false;
    return shot;
}

void endIfWaitingForPortal()
{
    endRequested = true;
    if (waitingForPortal)
        endNow();
}

} // namespace platform

#include "portal_screenshot.moc"
