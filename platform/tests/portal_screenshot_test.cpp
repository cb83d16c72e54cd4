// The portal screen read against a stand-in desktop portal on a private
// session bus: every way the portal may answer, or not answer.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <mutex>
#include <sys/stat.h>

#include "platform/portal_screenshot.h"

using namespace std::chrono_literals;

namespace {

enum class Reply { Answer, NoHandle, NoResponse };
enum class Make { Nothing, Png, OldPng, LinkToPng, Text, Fifo };

QImage picture()
{
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(qRgb(10, 20, 30));
    image.setPixel(3, 2, qRgb(200, 100, 0));
    return image;
}

// org.freedesktop.portal.Desktop's Screenshot, answering as it is told. It
// makes its file when the call arrives, as a desktop does.
class FakePortal : public QDBusVirtualObject {
public:
    std::mutex lock;
    Reply reply = Reply::Answer;
    uint code = 0;
    std::function<void()> make;
    QString uri;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &call, const QDBusConnection &bus) override
    {
        if (call.member() != QLatin1String("Screenshot"))
            return false;
        std::lock_guard guard(lock);
        if (make)
            make();
        if (reply == Reply::NoHandle)
            return true;
        const QString token = qdbus_cast<QVariantMap>(call.arguments().value(1)).value("handle_token").toString();
        const QString handle = "/org/freedesktop/portal/desktop/request/" +
                               call.service().mid(1).replace('.', '_') + "/" + token;
        bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
        if (reply == Reply::NoResponse)
            return true;
        QDBusMessage response = QDBusMessage::createSignal(handle, "org.freedesktop.portal.Request", "Response");
        response << code << QVariantMap{{"uri", uri}};
        bus.send(response);
        return true;
    }
};

} // namespace

Q_DECLARE_METATYPE(Reply)
Q_DECLARE_METATYPE(Make)

class PortalScreenshotTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QProcess daemon;
    FakePortal portal;
    QThread portalThread;

    QString at(const QString &name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        // A bus of the test's own, with no service that could be started.
        QFile config(at("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + dir.path().toUtf8() +
                     "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        daemon.start("dbus-daemon", {"--nofork", "--print-address=1", "--config-file=" + config.fileName()});
        if (!daemon.waitForStarted())
            QSKIP("dbus-daemon is not installed");
        QVERIFY(daemon.waitForReadyRead(20000));
        const QByteArray address = daemon.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(address), "fake-portal");
        portalThread.start();
        portal.moveToThread(&portalThread);
        QVERIFY(bus.registerVirtualObject("/org/freedesktop/portal/desktop", &portal));
        QVERIFY(bus.registerService("org.freedesktop.portal.Desktop"));
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus("fake-portal");
        portalThread.quit();
        portalThread.wait();
        daemon.terminate();
        daemon.waitForFinished();
    }

    void everyAnswerOfThePortal_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<uint>("code");
        QTest::addColumn<Make>("make");
        QTest::addColumn<QString>("error"); // %1: the file; empty: the picture is read
        QTest::addColumn<bool>("kept");     // whether the file is still there
        const QString refused = "the desktop refused the screenshot, and it remembers that answer. To allow "
                                "screenshots again, run the command under SCREENSHOTS in the manual page: man skarvel";
        QTest::newRow("a new file: read, then deleted") << Reply::Answer << 0u << Make::Png << QString() << false;
        QTest::newRow("an older file of that name: kept") << Reply::Answer << 0u << Make::OldPng << QString() << true;
        QTest::newRow("a link: read, kept") << Reply::Answer << 0u << Make::LinkToPng << QString() << true;
        QTest::newRow("not an image") << Reply::Answer << 0u << Make::Text
                                      << "the file %1 is not a readable image" << true;
        QTest::newRow("a pipe") << Reply::Answer << 0u << Make::Fifo
                                << "the portal's answer %1 is not a readable file" << true;
        QTest::newRow("cancelled") << Reply::Answer << 1u << Make::Nothing << "the screenshot was cancelled" << false;
        QTest::newRow("refused") << Reply::Answer << 2u << Make::Nothing << refused << false;
        QTest::newRow("no request") << Reply::NoHandle << 0u << Make::Nothing
                                    << "the desktop portal did not take the request within 0.5 seconds" << false;
        QTest::newRow("no answer") << Reply::NoResponse << 0u << Make::Nothing
                                   << "the desktop portal gave no answer within 0.5 seconds" << false;
    }
    void everyAnswerOfThePortal()
    {
        QFETCH(Reply, reply);
        QFETCH(uint, code);
        QFETCH(Make, make);
        QFETCH(QString, error);
        QFETCH(bool, kept);
        const QString file = at(QTest::currentDataTag()).replace(':', '_');
        const QString target = file + ".target.png";
        QVERIFY(!QFileInfo::exists(file));
        if (make == Make::OldPng) {
            QVERIFY(picture().save(file, "PNG"));
            QFile old(file);
            QVERIFY(old.open(QIODevice::ReadWrite));
            QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        }
        {
            std::lock_guard guard(portal.lock);
            portal.reply = reply;
            portal.code = code;
            portal.uri = QUrl::fromLocalFile(file).toString();
            portal.make = [=] {
                switch (make) {
                case Make::Png: picture().save(file, "PNG"); break;
                case Make::LinkToPng:
                    if (picture().save(target, "PNG"))
                        QFile::link(target, file);
                    break;
                case Make::Fifo: ::mkfifo(QFile::encodeName(file).constData(), 0600); break;
                case Make::Text: {
                    QFile text(file);
                    if (text.open(QIODevice::WriteOnly))
                        text.write("no picture here\n");
                    break;
                }
                default: break;
                }
            };
        }
        // Short limits where the case waits for one; long ones where nothing
        // should wait.
        platform::PortalScreenshot request({reply == Reply::NoHandle ? 500ms : 60000ms,
                                            reply == Reply::NoResponse ? 500ms : 60000ms});
        request.start();
        const platform::PortalShot shot = request.take();
        if (error.isEmpty()) {
            QCOMPARE(shot.error, QString());
            QCOMPARE(shot.image.convertToFormat(QImage::Format_RGB32), picture());
        } else {
            QCOMPARE(shot.error, QString(error).replace("%1", file));
            QVERIFY(shot.image.isNull());
        }
        QCOMPARE(QFileInfo(file).isSymLink() || QFileInfo::exists(file), kept);
        if (make == Make::LinkToPng)
            QVERIFY(QFileInfo::exists(target));
        // A request answers once.
        QCOMPARE(request.take().error, QString("the screen has been read already"));
    }
};

QTEST_GUILESS_MAIN(PortalScreenshotTest)
#include "portal_screenshot_test.moc"
