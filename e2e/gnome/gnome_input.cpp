// skarvel_gnome_input: the tests' hand on a headless GNOME Shell. It holds
// one remote-desktop session of mutter, with the screen-cast stream of the
// monitor that absolute pointer motion needs, for as long as it runs, and
// reads one command per line, answering each with "ok" (or "ok TEXT") once
// done, or "error <why>":
//
//   move X Y           pointer to (X, Y), logical pixels, fractions allowed
//   press B            button B down (1 left, 2 middle, 3 right)
//   release B          button B up
//   key MODS NAME...   with the modifiers MODS (bits: 1 Shift, 2 Control,
//                      4 Alt, 8 Super) held, presses and releases each key
//                      named by its XKB keysym name (Escape, Return, U0436)
//   shot               a screenshot through the desktop portal; answers
//                      "ok FILE", the PNG the portal wrote
//   eval CODE          runs JavaScript in the shell (which the session lets
//                      anyone do); answers "ok RESULT"
//   permission WORD    stores the portal's screenshot answer for programs
//                      without an application id: yes, no, or forget
//
// Commands come from standard input and answers go to standard output, or
// both through the socket given as --fd N; "ready" comes once the stream
// runs.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

const QString mutter = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString screenCast = QStringLiteral("org.gnome.Mutter.ScreenCast");
const QString portal = QStringLiteral("org.freedesktop.portal.Desktop");

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

QDBusConnection bus() { return QDBusConnection::sessionBus(); }

QDBusMessage call(const QString &service, const QString &path, const QString &iface, const QString &method,
                  const QVariantList &args = {}, int timeoutMs = 20000)
{
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, iface, method);
    m.setArguments(args);
    const QDBusMessage reply = bus().call(m, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw Failure((method + ": " + reply.errorMessage()).toStdString());
    return reply;
}

// Waits in an event loop until `done` (set by a signal's slot) or the time
// is up.
class Waiter : public QObject {
    Q_OBJECT
public:
    bool done = false;
    QVariantList args;
    bool wait(int timeoutMs)
    {
        if (done)
            return true;
        QTimer::singleShot(timeoutMs, &loop_, &QEventLoop::quit);
        loop_.exec();
        return done;
    }
public Q_SLOTS:
    void onSignal(const QDBusMessage &m)
    {
        done = true;
        args = m.arguments();
        loop_.quit();
    }
private:
    QEventLoop loop_;
};

class Tool {
public:
    void start()
    {
        const QString rd = call(mutter, "/org/gnome/Mutter/RemoteDesktop", mutter, "CreateSession")
                               .arguments().value(0).value<QDBusObjectPath>().path();
        session_ = rd;
        const QString id = property(mutter, rd, mutter + ".Session", "SessionId").toString();
        const QString sc = call(screenCast, "/org/gnome/Mutter/ScreenCast", screenCast, "CreateSession",
                                {QVariantMap{{"remote-desktop-session-id", id}}})
                               .arguments().value(0).value<QDBusObjectPath>().path();
        stream_ = call(screenCast, sc, screenCast + ".Session", "RecordMonitor",
                       {QString("Meta-0"), QVariantMap{}})
                      .arguments().value(0).value<QDBusObjectPath>().path();
        Waiter added;
        bus().connect(screenCast, stream_, screenCast + ".Stream", "PipeWireStreamAdded", &added,
                      SLOT(onSignal(QDBusMessage)));
        call(mutter, rd, mutter + ".Session", "Start");
        if (!added.wait(30000))
            throw Failure("the screen-cast stream did not start (is PipeWire running?)");
        // Mutter drops the first key event of a session.
        keysym(XKB_KEY_Shift_L, true);
        keysym(XKB_KEY_Shift_L, false);
    }

    std::string run(const std::string &line)
    {
        const std::size_t space = line.find(' ');
        const std::string verb = line.substr(0, space);
        const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (verb == "move") {
            double x, y;
            if (std::sscanf(rest.c_str(), "%lf %lf", &x, &y) != 2)
                throw Failure("move X Y");
            call(mutter, session_, mutter + ".Session", "NotifyPointerMotionAbsolute",
                 {QString(stream_), x, y});
        } else if (verb == "press" || verb == "release") {
            const int b = std::atoi(rest.c_str());
            const int code = b == 1 ? 0x110 : b == 2 ? 0x112 : b == 3 ? 0x111 : 0;
            if (!code)
                throw Failure("no such button");
            call(mutter, session_, mutter + ".Session", "NotifyPointerButton", {code, verb == "press"});
        } else if (verb == "key") {
            key(rest);
        } else if (verb == "shot") {
            return shot();
        } else if (verb == "eval") {
            const QDBusMessage r = call("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "Eval",
                                        {QString::fromStdString(rest)});
            if (!r.arguments().value(0).toBool())
                throw Failure("the shell refused or failed: " + r.arguments().value(1).toString().toStdString());
            return r.arguments().value(1).toString().toStdString();
        } else if (verb == "permission") {
            permission(rest);
        } else {
            throw Failure("unknown command " + verb);
        }
        return {};
    }

private:
    static QVariant property(const QString &service, const QString &path, const QString &iface, const QString &name)
    {
        return call(service, path, "org.freedesktop.DBus.Properties", "Get", {iface, name})
            .arguments().value(0).value<QDBusVariant>().variant();
    }

    void keysym(unsigned sym, bool pressed)
    {
        call(mutter, session_, mutter + ".Session", "NotifyKeyboardKeysym", {sym, pressed});
    }

    void key(const std::string &rest)
    {
        unsigned modifiers = 0;
        int used = 0;
        if (std::sscanf(rest.c_str(), "%u %n", &modifiers, &used) != 1 || modifiers > 15)
            throw Failure("key MODS NAME...");
        std::vector<unsigned> syms;
        std::string names = rest.substr(static_cast<std::size_t>(used));
        std::size_t at = 0;
        while (at < names.size()) {
            std::size_t end = names.find(' ', at);
            if (end == std::string::npos)
                end = names.size();
            const std::string name = names.substr(at, end - at);
            at = end + 1;
            if (name.empty())
                continue;
            const xkb_keysym_t sym = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS);
            if (sym == XKB_KEY_NoSymbol)
                throw Failure("no keysym " + name);
            syms.push_back(sym);
        }
        const unsigned mods[] = {XKB_KEY_Shift_L, XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_Super_L};
        for (int i = 0; i < 4; ++i)
            if (modifiers & (1u << i))
                keysym(mods[i], true);
        for (unsigned sym : syms) {
            keysym(sym, true);
            keysym(sym, false);
        }
        for (int i = 3; i >= 0; --i)
            if (modifiers & (1u << i))
                keysym(mods[i], false);
    }

    // The portal's screenshot, as a program without a sandbox asks for it.
    std::string shot()
    {
        const QString token = QStringLiteral("probe%1").arg(QRandomGenerator::global()->generate());
        QString sender = bus().baseService().mid(1);
        sender.replace('.', '_');
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
        Waiter response;
        bus().connect(portal, path, "org.freedesktop.portal.Request", "Response", &response,
                      SLOT(onSignal(QDBusMessage)));
        call(portal, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Screenshot", "Screenshot",
             {QString(), QVariantMap{{"handle_token", token}, {"interactive", false}}});
        const bool answered = response.wait(60000);
        bus().disconnect(portal, path, "org.freedesktop.portal.Request", "Response", &response,
                         SLOT(onSignal(QDBusMessage)));
        if (!answered)
            throw Failure("the portal did not answer");
        const uint code = response.args.value(0).toUInt();
        if (code != 0)
            throw Failure("the portal answered " + std::to_string(code));
        const QVariantMap results = qdbus_cast<QVariantMap>(response.args.value(1));
        return QUrl(results.value("uri").toString()).toLocalFile().toStdString();
    }

    static void permission(const std::string &word)
    {
        const QString store = "org.freedesktop.impl.portal.PermissionStore";
        const QString path = "/org/freedesktop/impl/portal/PermissionStore";
        if (word == "forget") {
            QDBusMessage m = QDBusMessage::createMethodCall(store, path, store, "DeletePermission");
            m.setArguments({QString("screenshot"), QString("screenshot"), QString("")});
            bus().call(m, QDBus::Block, 20000); // nothing stored is fine too
        } else if (word == "yes" || word == "no") {
            call(store, path, store, "SetPermission",
                 {QString("screenshot"), true, QString("screenshot"), QString(""),
                  QStringList{QString::fromStdString(word)}});
        } else {
            throw Failure("permission yes|no|forget");
        }
    }

    QString session_, stream_;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int fd = 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--fd")
            fd = std::atoi(argv[i + 1]);
    FILE *out = fd == 0 ? stdout : fdopen(dup(fd), "w");
    Tool tool;
    try {
        tool.start();
    } catch (const Failure &e) {
        std::fprintf(out, "error %s\n", e.what());
        return 1;
    }
    std::fprintf(out, "ready\n");
    std::fflush(out);
    std::string pending;
    QSocketNotifier notifier(fd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            app.quit();
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            try {
                const std::string answer = tool.run(line);
                std::fprintf(out, answer.empty() ? "ok\n" : "ok %s\n", answer.c_str());
            } catch (const Failure &e) {
                std::fprintf(out, "error %s\n", e.what());
            }
            std::fflush(out);
        }
    });
    return app.exec();
}

#include "gnome_input.moc"
