// The portal screen read against a stand-in desktop portal on a private
// session bus: every way the portal may answer, or not answer.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QtTest/QtTest>

#include <sys/stat.h>

#include "platform/portal_screenshot.h"

using namespace std::chrono_literals;

enum class Reply { Answer, NoHandle, NoResponse };
enum class Make { Nothing, Png, OldPng, Link, Text, Fifo };
Q_DECLARE_METATYPE(Reply)
Q_DECLARE_METATYPE(Make)

// org.freedesktop.portal.Desktop's Screenshot, answering as it is told. It
// makes its file when the call arrives, as a desktop does.
struct FakePortal : QDBusVirtualObject {
    std::atomic<Reply> reply;
    std::atomic<uint> code;
    std::function<void()> make; // set while no call is in flight
    QString file;
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &call, const QDBusConnection &bus) override
    {
        if (call.member() != "Screenshot")
            return false;
        make();
        if (reply == Reply::NoHandle)
            return true;
        const QString handle = "/org/freedesktop/portal/desktop/request/" + call.service().mid(1).replace('.', '_') +
                               "/" + qdbus_cast<QVariantMap>(call.arguments().value(1)).value("handle_token").toString();
        bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
        if (reply == Reply::Answer)
            bus.send(QDBusMessage::createSignal(handle, "org.freedesktop.portal.Request", "Response")
                     << uint(code) << QVariantMap{{"uri", QUrl::fromLocalFile(file).toString()}});
        return true;
    }
};

class PortalScreenshotTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QProcess daemon;
    FakePortal portal;
    QThread portalThread;

    QImage picture() const
    {
        QImage image(4, 3, QImage::Format_RGB32);
        image.fill(qRgb(10, 20, 30));
        image.setPixel(3, 2, qRgb(200, 100, 0));
        return image;
    }

private slots:
    void initTestCase()
    {
        // A bus of the test's own, where no service can be started.
        QFile config(dir.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + dir.path().toUtf8() +
                     "</listen><policy context='default'><allow send_destination='*' eavesdrop='true'/>"
                     "<allow eavesdrop='true'/><allow own='*'/></policy></busconfig>");
        config.close();
        daemon.start("dbus-daemon", {"--nofork", "--print-address=1", "--config-file=" + config.fileName()});
        QVERIFY2(daemon.waitForReadyRead(20000), "dbus-daemon does not start");
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

    // The program's main thread touches the shared session bus before its
    // event loop runs (Qt's accessibility bridge does), then waits for the
    // screenshot: the answer must still come through.
    void answerWhileTheMainThreadWaitsBeforeItsEventLoop()
    {
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        const QString file = dir.filePath("before-the-event-loop");
        portal.reply = Reply::Answer;
        portal.code = 0;
        portal.file = file;
        portal.make = [=, this] { picture().save(file, "PNG"); };
        platform::PortalScreenshot request({60s, 60s});
        const platform::PortalShot shot = request.take();
        QCOMPARE(shot.error, QString());
        QCOMPARE(shot.image, picture());
    }

    void everyAnswerOfThePortal_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<uint>("code");
        QTest::addColumn<Make>("make");
        QTest::addColumn<QString>("error"); // %1: the file; none: the picture is read
        QTest::addColumn<bool>("kept");     // whether the file is there afterwards
        const QString refused = "the desktop refused the screenshot, and it remembers that answer. To allow "
                                "screenshots again, run the command under SCREENSHOTS in the manual page: man skarvel";
        QTest::newRow("new file: read, deleted") << Reply::Answer << 0u << Make::Png << QString() << false;
        QTest::newRow("older file: read, kept") << Reply::Answer << 0u << Make::OldPng << QString() << true;
        QTest::newRow("link: read, kept") << Reply::Answer << 0u << Make::Link << QString() << true;
        QTest::newRow("no image") << Reply::Answer << 0u << Make::Text << "the file %1 is not a readable image" << true;
        QTest::newRow("pipe") << Reply::Answer << 0u << Make::Fifo << "the portal's answer %1 is not a readable file"
                              << true;
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
        const QString file = dir.filePath(QTest::currentDataTag()), target = file + ".png";
        if (make == Make::OldPng) {
            QVERIFY(picture().save(file, "PNG"));
            QFile old(file);
            QVERIFY(old.open(QIODevice::ReadWrite));
            QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        }
        portal.reply = reply;
        portal.code = code;
        portal.file = file;
        portal.make = [=, this] {
            QFile text(file);
            if (make == Make::Png)
                picture().save(file, "PNG");
            if (make == Make::Link && picture().save(target, "PNG"))
                QFile::link(target, file);
            if (make == Make::Text && text.open(QIODevice::WriteOnly))
                text.write("no picture here\n");
            if (make == Make::Fifo)
                ::mkfifo(QFile::encodeName(file).constData(), 0600);
        };
        // Short limits where the case waits for one, long ones elsewhere.
        platform::PortalScreenshot request(
            {reply == Reply::NoHandle ? 500ms : 60s, reply == Reply::NoResponse ? 500ms : 60s});
        request.start();
        const platform::PortalShot shot = request.take();
        QCOMPARE(shot.error, error.isNull() ? QString() : QString(error).replace("%1", file));
        QCOMPARE(shot.image.convertToFormat(QImage::Format_RGB32), error.isNull() ? picture() : QImage());
        QCOMPARE(QFileInfo(file).isSymLink() || QFileInfo::exists(file), kept);
        QVERIFY(make != Make::Link || QFileInfo::exists(target));
        QCOMPARE(request.take().error, QString("the screen has been read already"));
    }
};

QTEST_GUILESS_MAIN(PortalScreenshotTest)
#include "portal_screenshot_test.moc"
