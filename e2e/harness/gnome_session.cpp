#include "gnome_session.h"

#include "process.h"
#include "session_processes.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <fstream>
#include <ostream>
#include <regex>
#include <sstream>
#include <sys/stat.h>

#ifndef SKARVEL_GNOME_INPUT_PATH
#error "SKARVEL_GNOME_INPUT_PATH names the input tool"
#endif

namespace e2e {

namespace {

// The extension that lets the harness ask the shell (Eval, in unsafe mode).
constexpr const char *probeUuid = "skarvel-probe@skarvel";
constexpr const char *probeMetadata =
    R"({"uuid": "skarvel-probe@skarvel", "name": "Skarvel test probe",
"description": "Lets the end-to-end tests ask the shell about its windows.", "shell-version": ["43", "44"]})";
constexpr const char *probeCode =
    "function init() {}\n"
    "function enable() { global.context.unsafe_mode = true; }\n"
    "function disable() { global.context.unsafe_mode = false; }\n";

// A JavaScript string literal.
std::string jsString(const std::string &text)
{
    const QJsonArray one{QString::fromStdString(text)};
    const std::string json = QJsonDocument(one).toJson(QJsonDocument::Compact).toStdString();
    return json.substr(1, json.size() - 2);
}

QJsonValue parseJson(const std::string &text)
{
    // QJsonDocument takes objects and arrays only: wrap the value.
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString("[" + text + "]"));
    return doc.array().at(0);
}

} // namespace

struct GnomeSession::Impl : detail::SessionProcesses {
    GnomeOptions options;
    std::filesystem::path home, runtimeDir;
    std::string waylandDisplay, busAddress, systemBusAddress;
    int scale = 1;

    ~Impl() { stopAll(); }

    std::vector<std::string> clientEnvironment() const override
    {
        auto env = baseEnvironment;
        detail::setVariable(env, "HOME", home.string());
        detail::setVariable(env, "XDG_RUNTIME_DIR", runtimeDir.string());
        detail::setVariable(env, "XDG_SESSION_TYPE", "wayland");
        detail::setVariable(env, "XDG_CURRENT_DESKTOP", "GNOME");
        if (!waylandDisplay.empty())
            detail::setVariable(env, "WAYLAND_DISPLAY", waylandDisplay);
        if (!busAddress.empty())
            detail::setVariable(env, "DBUS_SESSION_BUS_ADDRESS", busAddress);
        if (!systemBusAddress.empty())
            detail::setVariable(env, "DBUS_SYSTEM_BUS_ADDRESS", systemBusAddress);
        return env;
    }

    // JavaScript in the shell; its value as JSON.
    std::string eval(const std::string &code) const { return command("eval " + code, 20s); }

    void gsettings(const std::string &schema, const std::string &key, const std::string &value) const
    {
        run("gsettings", {"set", schema, key, value});
    }

    void prepareHome()
    {
        const auto probe = home / ".local/share/gnome-shell/extensions" / probeUuid;
        std::filesystem::create_directories(probe);
        // The pictures folder as xdg-user-dirs names it on a desktop; the shell
        // saves its screenshots there.
        std::filesystem::create_directories(home / "Pictures");
        std::filesystem::create_directories(home / ".config");
        std::ofstream(home / ".config/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/Pictures\"\n";
        // No "screen lock disabled" notice.
        std::ofstream(home / ".local/share/gnome-shell/lock-warning-shown");
        std::ofstream(probe / "metadata.json") << probeMetadata;
        std::ofstream(probe / "extension.js") << probeCode;
    }

    void settings()
    {
        start("dconf-service", "/usr/libexec/dconf-service", {}, clientEnvironment());
        waitBusName(children.back(), "ca.desrt.dconf");
        // As root the shell would show "Logged in as a privileged user" over
        // everything, full-screen windows included.
        gsettings("org.gnome.desktop.notifications", "show-banners", "false");
        gsettings("org.gnome.shell", "welcome-dialog-last-shown-version", "'999'");
        gsettings("org.gnome.shell", "enabled-extensions", std::string("['") + probeUuid + "']");
        gsettings("org.gnome.desktop.session", "idle-delay", "uint32 0");
        gsettings("org.gnome.desktop.screensaver", "lock-enabled", "false");
        gsettings("org.gnome.desktop.background", "picture-options", "'zoom'");
    }

    void startShell()
    {
        auto env = clientEnvironment();
        detail::unsetVariable(env, "WAYLAND_DISPLAY");
        start("gnome-shell", "gnome-shell",
              {"--wayland", "--headless", "--no-x11", "--wayland-display=wayland-skarvel", "--virtual-monitor",
               std::to_string(options.width) + "x" + std::to_string(options.height)},
              env);
        waitBusName(children.back(), "org.gnome.Shell.Screenshot", 60s);
        waylandDisplay = (runtimeDir / "wayland-skarvel").string();
    }

    void startPipewire()
    {
        start("pipewire", "pipewire", {}, clientEnvironment());
        if (!waitUntil([&] {
                expectAlive(children.back());
                return std::filesystem::exists(runtimeDir / "pipewire-0");
            }, 20s))
            throw Error("pipewire did not come up: " + detail::logTail(children.back().log));
    }

    // The shell opens the overview after its start, and the overview takes
    // the first click: wait for it, then close it.
    void closeOverview()
    {
        if (!waitUntil([&] { return eval("Main.overview.visible") == "true"; }, 30s, 50ms))
            throw Error("the shell did not open its overview after start");
        eval("Main.overview.hide()");
        if (!waitUntil([&] { return eval("!Main.overview.visible && !Main.overview.animationInProgress") == "true"; },
                       30s, 50ms))
            throw Error("the overview does not close");
    }

    void startPortal()
    {
        const auto env = clientEnvironment();
        const std::pair<const char *, const char *> parts[] = {
            {"/usr/libexec/xdg-permission-store", "org.freedesktop.impl.portal.PermissionStore"},
            {"/usr/libexec/xdg-desktop-portal-gnome", "org.freedesktop.impl.portal.desktop.gnome"},
            {"/usr/libexec/xdg-desktop-portal", "org.freedesktop.portal.Desktop"},
        };
        for (const auto &[program, busName] : parts) {
            start(std::filesystem::path(program).filename().string(), program, {}, env);
            waitBusName(children.back(), busName, 30s);
        }
    }

    // Whether the flash of the last screenshot is over.
    bool noFlash() const
    {
        return eval("Main.uiGroup.get_children().some(c => c.constructor.name === 'Flashspot')") == "false";
    }
};

std::ostream &operator<<(std::ostream &out, const GnomeWindow &w)
{
    return out << "\"" << w.title << "\" " << w.rect << (w.focused ? " focused" : "")
               << (w.fullscreen ? " fullscreen" : "");
}

GnomeSession::GnomeSession(const GnomeOptions &options) : d(std::make_unique<Impl>())
{
    d->options = options;
    d->dir = std::make_unique<TempDir>("skarvel-gnome");
    d->home = d->dir->path() / "home";
    d->runtimeDir = d->dir->path() / "runtime";
    std::filesystem::create_directories(d->home);
    std::filesystem::create_directories(d->runtimeDir);
    chmod(d->runtimeDir.c_str(), 0700);
    d->baseEnvironment = detail::currentEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS",
                             "SESSION_MANAGER", "DESKTOP_SESSION", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP",
                             "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                             "GSETTINGS_BACKEND"})
        detail::unsetVariable(d->baseEnvironment, name);
    d->prepareHome();
    // gnome-shell 43 dies at start without a system bus to ask logind on.
    d->systemBusAddress = d->startBus("system", "unix:path=" + (d->dir->path() / "system_bus_socket").string());
    d->busAddress = d->startBus("session", "unix:dir=" + d->dir->path().string());
    d->settings();
    paintDesktopFile(Pattern::A);
    d->startShell();
    d->startPipewire();
    d->startInput(SKARVEL_GNOME_INPUT_PATH, d->clientEnvironment());
    d->closeOverview();
    // The seat offers clients a pointer only once the remote desktop's
    // pointer has moved: a program started before that would bind its
    // pointer at the first motion, and lose the button that follows it.
    moveTo(deviceRect().center());
    d->startPortal();
    if (options.grant)
        setPermission("yes");
    paintDesktop(Pattern::A); // shown, faded in
}

GnomeSession::~GnomeSession() = default;

const std::filesystem::path &GnomeSession::home() const { return d->home; }
std::vector<std::string> GnomeSession::clientEnvironment() const { return d->clientEnvironment(); }
int GnomeSession::scale() const { return d->scale; }
Rect GnomeSession::deviceRect() const { return {0, 0, d->options.width, d->options.height}; }
Rect GnomeSession::topBar() const { return {0, 0, d->options.width, 33 * d->scale}; }

void GnomeSession::setScale(int scale)
{
    const std::string dest = "org.gnome.Mutter.DisplayConfig";
    const std::vector<std::string> base{"call", "--session", "--dest", dest, "--object-path",
                                        "/org/gnome/Mutter/DisplayConfig", "--method"};
    auto args = base;
    args.push_back(dest + ".GetCurrentState");
    const std::string state = d->run("gdbus", args);
    std::smatch serial, mode;
    if (!std::regex_search(state, serial, std::regex(R"(\(uint32 (\d+),)")) ||
        !std::regex_search(state, mode, std::regex(R"(\[\('([^']+)', \d+, \d+, [0-9.]+, [0-9.]+, \[[^\]]*\], \{[^}]*'is-current': <true>)")))
        throw Error("cannot read mutter's display state: " + state);
    args = base;
    args.push_back(dest + ".ApplyMonitorsConfig");
    args.insert(args.end(), {serial[1].str(), "1",
                             "[(0, 0, " + std::to_string(scale) + ".0, uint32 0, true, [('Meta-0', '" + mode[1].str() +
                                 "', @a{sv} {})])]",
                             "@a{sv} {}"});
    d->run("gdbus", args);
    d->scale = scale;
    if (!waitUntil([&] { return d->eval("global.display.get_monitor_scale(0)") == std::to_string(scale); }, 20s,
                   50ms))
        throw Error("the stage did not take scale " + std::to_string(scale));
}

void GnomeSession::paintDesktop(Pattern pattern)
{
    const std::filesystem::path file = paintDesktopFile(pattern);
    // The shell loads the picture, then fades it in over the old one.
    const std::string shown =
        "Main.layoutManager._bgManagers.every(m => !m._newBackgroundActor && "
        "m.backgroundActor.content.background.isLoaded && "
        "m.backgroundActor.content.background._file.get_path() === " + jsString(file.string()) + ")";
    if (!waitUntil([&] { return d->eval(shown) == "true"; }, 30s, 50ms))
        throw Error("the shell does not show the new wallpaper");
}

std::filesystem::path GnomeSession::paintDesktopFile(Pattern pattern)
{
    Image picture(deviceRect());
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, expectedDesktopColor(pattern, x, y));
    const auto file = d->dir->path() / ("desktop-" + std::to_string(d->counter++) + ".png");
    picture.savePng(file);
    const std::string uri = "'file://" + file.string() + "'";
    d->gsettings("org.gnome.desktop.background", "picture-uri", uri);
    d->gsettings("org.gnome.desktop.background", "picture-uri-dark", uri);
    return file;
}

Image GnomeSession::grab() const
{
    if (!waitUntil([&] { return d->noFlash(); }, 10s, 50ms))
        throw Error("the shell's screenshot flash does not end");
    const std::filesystem::path file = d->command("shot", 60s);
    Image image = Image::load(file);
    std::filesystem::remove(file);
    // Nor does a read leave its flash for the next screenshot, the program's.
    if (!waitUntil([&] { return d->noFlash(); }, 10s, 50ms))
        throw Error("the shell's screenshot flash does not end");
    return image;
}

std::optional<std::string> GnomeSession::differenceBelowTopBar(const Image &a, const Image &b) const
{
    if (a.width() != b.width() || a.height() != b.height()) {
        std::ostringstream out;
        out << "sizes differ: " << a.width() << "x" << a.height() << " and " << b.width() << "x" << b.height();
        return out.str();
    }
    long count = 0;
    std::ostringstream first;
    for (int y = topBar().bottom(); y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y) && count++ == 0)
                first << "at " << Point{x, y} << " " << a.pixel(x, y) << " and " << b.pixel(x, y);
    if (count == 0)
        return std::nullopt;
    return std::to_string(count) + " pixels differ, first " + first.str();
}

std::vector<GnomeWindow> GnomeSession::windows() const
{
    const std::string json = d->eval(
        "global.get_window_actors().map(a => { const w = a.meta_window; const r = w.get_frame_rect(); "
        "return {title: w.title, x: r.x, y: r.y, w: r.width, h: r.height, focus: w.has_focus(), "
        "full: w.is_fullscreen(), shown: a.mapped && a.opacity === 255}; })");
    std::vector<GnomeWindow> found;
    for (const QJsonValue &v : parseJson(json).toArray()) {
        const QJsonObject o = v.toObject();
        if (!o.value("shown").toBool())
            continue; // not placed and faded in yet
        GnomeWindow w;
        w.title = o.value("title").toString().toStdString();
        w.rect = {o.value("x").toInt(), o.value("y").toInt(), o.value("w").toInt(), o.value("h").toInt()};
        w.focused = o.value("focus").toBool();
        w.fullscreen = o.value("full").toBool();
        found.push_back(w);
    }
    return found;
}

GnomeWindow GnomeSession::findWindow(const std::string &title, Milliseconds timeout) const
{
    GnomeWindow found;
    std::vector<GnomeWindow> all;
    const bool ok = waitUntil([&] {
        all = windows();
        for (const GnomeWindow &w : all)
            if (w.title == title && !w.rect.isEmpty())
                found = w;
        return found.title == title;
    }, timeout, 50ms);
    if (!ok) {
        std::ostringstream there;
        for (const GnomeWindow &w : all)
            there << "\n  " << w;
        throw Error("no window \"" + title + "\"; there are:" + there.str());
    }
    return found;
}

bool GnomeSession::waitWindowGone(const std::string &title, Milliseconds timeout) const
{
    return waitUntil([&] {
        for (const GnomeWindow &w : windows())
            if (w.title == title)
                return false;
        return true;
    }, timeout, 50ms);
}

std::string GnomeSession::focusedTitle() const
{
    for (const GnomeWindow &w : windows())
        if (w.focused)
            return w.title;
    return {};
}

std::vector<std::string> GnomeSession::openDialogTexts() const
{
    const std::string json = d->eval(
        "const texts = a => [].concat(a.get_text ? [a.get_text()] : [], ...a.get_children().map(texts)); "
        "[].concat(...Main.layoutManager.modalDialogGroup.get_children()"
        ".filter(d => d.visible && d.state === 0 /* opened */).map(texts)).filter(t => t)");
    std::vector<std::string> texts;
    for (const QJsonValue &v : parseJson(json).toArray())
        texts.push_back(v.toString().toStdString());
    return texts;
}

std::string GnomeSession::shellFocusLabel() const
{
    return parseJson(d->eval("(() => { const f = global.stage.key_focus; return f && f.label ? f.label : ''; })()"))
        .toString()
        .toStdString();
}

bool GnomeSession::waitNoWindows(Milliseconds timeout) const
{
    return waitUntil([&] { return d->eval("global.get_window_actors().length") == "0"; }, timeout, 50ms);
}

void GnomeSession::moveTo(double x, double y)
{
    std::ostringstream text;
    text.precision(10);
    text << "move " << x << " " << y;
    d->command(text.str());
    // Mutter moves the pointer on a thread of its own: wait until the shell
    // has it there, so that a press cannot overtake the motion.
    std::ostringstream there;
    there << "global.get_pointer()[0] === " << static_cast<int>(x) << " && global.get_pointer()[1] === "
          << static_cast<int>(y);
    if (!waitUntil([&] { return d->eval(there.str()) == "true"; }, 10s, 10ms))
        throw Error("the pointer does not arrive at " + text.str().substr(5) + ": it is at " +
                    d->eval("global.get_pointer().slice(0, 2)"));
}

void GnomeSession::press(int button)
{
    // The shell gives a button to the window its last picture had under the
    // pointer: a window just shown, or just gone, may not have been drawn
    // there yet. Wait until what the shell picks there is the topmost window
    // (or the desktop) there.
    const std::string picked =
        "(() => { const [x, y] = global.get_pointer(); "
        "let a = global.stage.get_actor_at_pos(imports.gi.Clutter.PickMode.REACTIVE, x, y); "
        "while (a && !(a instanceof Meta.WindowActor)) a = a.get_parent(); "
        "const top = global.get_window_actors().filter(w => { const r = w.meta_window.get_frame_rect(); "
        "return w.mapped && w.opacity === 255 && x >= r.x && y >= r.y && x < r.x + r.width && "
        "y < r.y + r.height; }).pop(); "
        "return (a || null) === (top || null); })()";
    if (!waitUntil([&] { return d->eval(picked) == "true"; }, 10s, 20ms))
        throw Error("the shell does not pick the window under the pointer");
    d->command("press " + std::to_string(button));
}
void GnomeSession::release(int button) { d->command("release " + std::to_string(button)); }

void GnomeSession::click(Point p, int button)
{
    moveTo(p);
    press(button);
    release(button);
}

void GnomeSession::drag(Point from, Point to, int steps, int button)
{
    moveTo(from);
    press(button);
    for (int i = 1; i <= steps; ++i)
        moveTo(from.x + (to.x - from.x) * static_cast<double>(i) / steps,
               from.y + (to.y - from.y) * static_cast<double>(i) / steps);
    release(button);
}

void GnomeSession::key(const std::string &name, unsigned modifiers)
{
    d->command("key " + std::to_string(modifiers) + " " + name);
}

void GnomeSession::typeText(const std::string &utf8)
{
    const std::string names = detail::keysymNames(utf8);
    if (!names.empty())
        d->command("key 0 " + names);
}

void GnomeSession::activate(const std::string &title)
{
    d->eval("global.get_window_actors().map(a => a.meta_window).filter(w => w.title === " + jsString(title) +
            ").forEach(w => w.activate(global.get_current_time()))");
}

int GnomeSession::runCommand(const std::string &line, std::string *output) const
{
    int status = 0;
    const std::string out = d->run("sh", {"-c", line}, &status, 20s);
    if (output)
        *output = out;
    return status;
}

void GnomeSession::setPermission(const std::string &answer) { d->command("permission " + answer); }

// --- The program on the session -------------------------------------------

Program::Program(const GnomeSession &session, const std::filesystem::path &executable, ProgramOptions options)
{
    auto env = session.clientEnvironment();
    detail::setVariable(env, "QT_QPA_PLATFORM", "wayland");
    start(std::move(env), executable, std::move(options));
}

} // namespace e2e
