#include "wayland_session.h"

#include "process.h"
#include "session_processes.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <mutex>
#include <ostream>
#include <pwd.h>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <X11/Xlib.h>

#ifndef SKARVEL_WL_INPUT_PATH
#error "SKARVEL_WL_INPUT_PATH names the virtual input tool"
#endif

namespace e2e {

namespace {

constexpr const char *swayUser = "skarvel-sway";

std::string errnoText() { return std::strerror(errno); }

// The system user sway runs as when the tests run as root; made once.
void swayAccount(uid_t *uid, gid_t *gid)
{
    static std::mutex lock;
    std::lock_guard guard(lock);
    struct passwd *pw = getpwnam(swayUser);
    if (!pw) {
        const std::string command = std::string("useradd --system --no-create-home --shell /usr/sbin/nologin ") +
                                    swayUser + " >/dev/null 2>&1";
        [[maybe_unused]] const int rc = std::system(command.c_str()); // a parallel test may have won the race
        pw = getpwnam(swayUser);
    }
    if (!pw)
        throw Error(std::string("cannot make the system user ") + swayUser + " that sway runs as");
    *uid = pw->pw_uid;
    *gid = pw->pw_gid;
}

// As root: this process and its children see a private /tmp/out.png, the
// one file the wlr portal backend writes every screenshot to.
void privateScreenshotFile()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (geteuid() != 0)
            return;
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            throw Error("cannot make a private mount namespace for the portal's screenshot file: " + errnoText());
        const char *target = "/tmp/out.png";
        const int existing = open(target, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (existing < 0)
            throw Error(std::string("cannot create ") + target + ": " + errnoText());
        close(existing);
        char own[] = "/tmp/skarvel-portal-shot-XXXXXX";
        const int fd = mkstemp(own);
        if (fd < 0)
            throw Error("cannot make a private screenshot file: " + errnoText());
        close(fd);
        chmod(own, 0644);
        const bool bound = mount(own, target, nullptr, MS_BIND, nullptr) == 0;
        const int error = errno;
        unlink(own); // the mount keeps the file
        if (!bound)
            throw Error(std::string("cannot bind a private file over ") + target + ": " + std::strerror(error));
    });
}

} // namespace

struct WaylandSession::Impl : detail::SessionProcesses {
    WaylandOptions options;
    std::filesystem::path swayDir;     // sway's runtime folder (its user's)
    std::filesystem::path runtimeDir;  // the clients' runtime folder
    std::filesystem::path configPath;
    std::string waylandDisplay, swaySocket, busAddress, x11Display;
    std::vector<std::string> outputs;
    std::vector<Rect> outputRects;
    pid_t background = 0; // the client that draws the desktop

    ~Impl() { stop(); }

    std::vector<std::string> clientEnvironment() const override
    {
        auto env = baseEnvironment;
        detail::setVariable(env, "WAYLAND_DISPLAY", waylandDisplay);
        detail::setVariable(env, "XDG_RUNTIME_DIR", runtimeDir.string());
        detail::setVariable(env, "XDG_SESSION_TYPE", "wayland");
        detail::setVariable(env, "XDG_CURRENT_DESKTOP", "sway");
        if (!busAddress.empty())
            detail::setVariable(env, "DBUS_SESSION_BUS_ADDRESS", busAddress);
        if (!swaySocket.empty())
            detail::setVariable(env, "SWAYSOCK", swaySocket);
        if (!sessionLogs().empty())
            detail::setVariable(env, "QDBUS_DEBUG", "1"); // the program's D-Bus traffic in its output
        return env;
    }

    void startBus() { busAddress = detail::SessionProcesses::startBus("session", "unix:dir=" + dir->path().string()); }

    void writeConfig()
    {
        std::ofstream config(configPath);
        int x = 0;
        for (int i = 0; i < options.outputs; ++i) {
            const int w = i == 0 ? options.width : options.secondWidth;
            const int h = i == 0 ? options.height : options.secondHeight;
            const std::string name = "HEADLESS-" + std::to_string(i + 1);
            config << "output " << name << " mode " << w << "x" << h << " position " << x << " 0 scale "
                   << options.scale << "\n";
            outputs.push_back(name);
            outputRects.push_back({x, 0, w / options.scale, h / options.scale});
            x += w / options.scale;
        }
        // A window's request for the keyboard is granted while it is on the
        // screen (sway's default only marks the window as urgent): the
        // program's dialogs above the full-screen surface ask for it.
        config << "default_border none\ndefault_floating_border none\nfocus_follows_mouse no\n"
                  "seat * hide_cursor 100\nfocus_on_window_activation smart\n"
               << (options.xwayland ? "xwayland force\n" : "xwayland disable\n");
        config.close();
        chmod(configPath.c_str(), 0644);
    }

    void startSway()
    {
        swayDir = dir->path() / "sway";
        std::filesystem::create_directories(swayDir);
        configPath = dir->path() / "sway.conf";
        writeConfig();
        std::vector<std::string> env = baseEnvironment;
        for (const char *name : {"WAYLAND_DISPLAY", "DISPLAY", "SWAYSOCK", "DBUS_SESSION_BUS_ADDRESS"})
            detail::unsetVariable(env, name);
        detail::setVariable(env, "XDG_RUNTIME_DIR", swayDir.string());
        detail::setVariable(env, "HOME", swayDir.string());
        detail::setVariable(env, "WLR_BACKENDS", "headless");
        detail::setVariable(env, "WLR_LIBINPUT_NO_DEVICES", "1");
        detail::setVariable(env, "WLR_RENDERER", "pixman");
        detail::setVariable(env, "WLR_HEADLESS_OUTPUTS", std::to_string(options.outputs));
        std::vector<std::string> args{"-c", configPath.string()};
        std::filesystem::path executable = "sway";
        if (geteuid() == 0) {
            uid_t uid;
            gid_t gid;
            swayAccount(&uid, &gid);
            if (chown(swayDir.c_str(), uid, gid) != 0)
                throw Error("cannot hand " + swayDir.string() + " to " + swayUser + ": " + errnoText());
            args.insert(args.begin(), {"--reuid=" + std::to_string(uid), "--regid=" + std::to_string(gid),
                                       "--clear-groups", "--", "sway"});
            executable = "setpriv";
        }
        chmod(swayDir.c_str(), 0700);
        start("sway", executable, args, env);
        const detail::SessionChild &sway = children.back();
        const bool up = waitUntil([&] {
            expectAlive(sway);
            for (const auto &entry : std::filesystem::directory_iterator(swayDir)) {
                const std::string name = entry.path().filename().string();
                if (name.starts_with("wayland-") && !name.ends_with(".lock"))
                    waylandDisplay = entry.path().string();
                if (name.starts_with("sway-ipc."))
                    swaySocket = entry.path().string();
            }
            if (waylandDisplay.empty() || swaySocket.empty())
                return false;
            int status = 0;
            run("swaymsg", {"-t", "get_outputs"}, &status);
            return status == 0;
        }, 20s, 20ms);
        if (!up)
            throw Error("sway did not come up: " + detail::logTail(sway.log));
    }

    void startInput() { detail::SessionProcesses::startInput(SKARVEL_WL_INPUT_PATH, clientEnvironment()); }

    void startXwaylandAccess()
    {
        // sway sets DISPLAY in its own children only: ask one, and let the
        // test's user in (Xwayland runs as sway's user).
        if (!std::filesystem::exists("/tmp/.X11-unix")) {
            std::filesystem::create_directories("/tmp/.X11-unix");
            chmod("/tmp/.X11-unix", 01777);
        }
        const auto file = swayDir / "display";
        const bool known = waitUntil([&] {
            run("swaymsg", {"exec", "echo \"$DISPLAY\" > " + file.string() + ".part && mv " + file.string() +
                                        ".part " + file.string()});
            return waitUntil([&] { return std::filesystem::exists(file); }, 1s);
        }, 10s);
        if (!known)
            throw Error("sway did not say its X display");
        std::string name = readFile(file);
        name.erase(name.find_last_not_of(" \n") + 1);
        if (name.empty())
            throw Error("sway runs no Xwayland");
        x11Display = name;
        const bool reachable = waitUntil([&] {
            run("swaymsg", {"exec", "xhost +si:localuser:" + std::string(getpwuid(geteuid())->pw_name)});
            return waitUntil([&] {
                Display *dpy = XOpenDisplay(x11Display.c_str());
                if (dpy)
                    XCloseDisplay(dpy);
                return dpy != nullptr;
            }, 1s);
        }, 15s);
        if (!reachable)
            throw Error("Xwayland " + x11Display + " does not let the tests in");
    }

    void startPortal()
    {
        auto env = clientEnvironment();
        start("pipewire", "pipewire", {}, env);
        // PipeWire's socket first: the wlr backend gives up without it.
        if (!waitUntil([&] {
                expectAlive(children.back());
                return std::filesystem::exists(runtimeDir / "pipewire-0");
            }, 10s))
            throw Error("pipewire did not come up: " + detail::logTail(children.back().log));
        const std::pair<const char *, const char *> parts[] = {
            {"/usr/libexec/xdg-desktop-portal-wlr", "org.freedesktop.impl.portal.desktop.wlr"},
            {"/usr/libexec/xdg-desktop-portal-gtk", "org.freedesktop.impl.portal.desktop.gtk"},
            {"/usr/libexec/xdg-desktop-portal", "org.freedesktop.portal.Desktop"},
        };
        // With SKARVEL_E2E_SESSION_LOGS set, everything on the session bus and
        // the portal's own account of each request go to the session's logs.
        const bool logged = !sessionLogs().empty();
        if (logged)
            start("dbus-monitor", "dbus-monitor", {"--session"}, env);
        for (const auto &[program, busName] : parts) {
            const std::string name = std::filesystem::path(program).filename().string();
            std::vector<std::string> args;
            if (logged)
                args = name.ends_with("-wlr") ? std::vector<std::string>{"-l", "TRACE"} : std::vector<std::string>{"-v"};
            start(name, program, args, env);
            waitBusName(children.back(), busName);
        }
    }

    // Starts a background client and waits until it has put a picture on
    // every output (its protocol log shows a buffer attached to each of its
    // surfaces and committed, and sway has answered a request made after
    // that), then stops the one it replaces.
    void replaceBackground(const std::vector<std::string> &args)
    {
        auto env = clientEnvironment();
        detail::setVariable(env, "WAYLAND_DEBUG", "1");
        const pid_t previous = background;
        background = start("swaybg-" + std::to_string(counter++), "swaybg", args, env);
        const detail::SessionChild &child = children.back();
        const bool drawn = waitUntil([&] {
            expectAlive(child);
            std::istringstream log(readFile(child.log));
            std::size_t committed = 0;
            bool attached = false;
            for (std::string line; std::getline(log, line);) {
                attached = attached || line.find(".attach(wl_buffer@") != std::string::npos;
                if (attached && line.find(".commit()") != std::string::npos) {
                    ++committed;
                    attached = false;
                }
            }
            return committed >= outputs.size();
        }, 10s, 20ms);
        if (!drawn)
            throw Error("the desktop's background client drew nothing: " + detail::logTail(child.log));
        run("swaymsg", {"-t", "get_version"});
        if (previous) {
            detail::stopProcessGroup(previous, SIGTERM, 3s);
            std::erase_if(children, [&](const detail::SessionChild &c) { return c.pid == previous; });
        }
    }

    void stopPortal()
    {
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if (it->name.starts_with("xdg-desktop-portal") || it->name == "pipewire") {
                detail::stopProcessGroup(it->pid, SIGTERM, 3s);
                it->pid = 0;
            }
        std::erase_if(children, [](const detail::SessionChild &c) { return c.pid == 0; });
    }

    void stop()
    {
        stopAll();
        keepLogs();
        // The document portal may have mounted its file system in the runtime
        // folder; it has to go before the folder can.
        if (!runtimeDir.empty() && std::filesystem::exists(runtimeDir / "doc"))
            umount2((runtimeDir / "doc").c_str(), MNT_DETACH);
    }

    // The folder SKARVEL_E2E_SESSION_LOGS names, or none.
    static std::filesystem::path sessionLogs()
    {
        const char *folder = std::getenv("SKARVEL_E2E_SESSION_LOGS");
        return folder ? folder : "";
    }

    // Copies the session's logs into a folder of their own there.
    void keepLogs() const
    {
        const auto folder = sessionLogs();
        if (folder.empty() || !dir)
            return;
        const auto to = folder / (std::to_string(getpid()) + "-" + dir->path().filename().string());
        std::error_code ignored;
        std::filesystem::create_directories(to, ignored);
        for (const auto &entry : std::filesystem::directory_iterator(dir->path(), ignored))
            if (entry.path().extension() == ".log")
                std::filesystem::copy_file(entry.path(), to / entry.path().filename(), ignored);
    }

    QJsonObject tree() const
    {
        const std::string json = run("swaymsg", {"-r", "-t", "get_tree"});
        return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    }
};

namespace {

void collectWindows(const QJsonObject &node, const std::string &output, bool floating,
                    std::vector<WaylandWindow> &found)
{
    const std::string type = node.value("type").toString().toStdString();
    const std::string here = type == "output" ? node.value("name").toString().toStdString() : output;
    const QJsonArray nodes = node.value("nodes").toArray();
    const QJsonArray floatingNodes = node.value("floating_nodes").toArray();
    if ((type == "con" || type == "floating_con") && node.contains("pid") && nodes.isEmpty()) {
        WaylandWindow w;
        w.id = node.value("id").toInteger();
        w.title = node.value("name").toString().toStdString();
        const QJsonObject r = node.value("rect").toObject();
        w.rect = {r.value("x").toInt(), r.value("y").toInt(), r.value("width").toInt(), r.value("height").toInt()};
        w.focused = node.value("focused").toBool();
        w.fullscreen = node.value("fullscreen_mode").toInt() != 0;
        w.floating = floating || type == "floating_con";
        w.xwayland = node.value("shell").toString() == "xwayland";
        w.output = here;
        if (node.value("visible").toBool(true))
            found.push_back(w);
    }
    for (const auto &child : nodes)
        collectWindows(child.toObject(), here, floating, found);
    for (const auto &child : floatingNodes)
        collectWindows(child.toObject(), here, true, found);
}

} // namespace

std::ostream &operator<<(std::ostream &out, const WaylandWindow &w)
{
    return out << "\"" << w.title << "\" " << w.rect << (w.focused ? " focused" : "")
               << (w.fullscreen ? " fullscreen" : "") << (w.floating ? " floating" : "") << " on " << w.output;
}

WaylandSession::WaylandSession(const WaylandOptions &options) : d(std::make_unique<Impl>())
{
    d->options = options;
    if (options.outputs < 1 || options.outputs > 2 || options.scale < 1)
        throw Error("a session has one or two outputs and a scale of at least 1");
    privateScreenshotFile();
    d->dir = std::make_unique<TempDir>("skarvel-wayland");
    chmod(d->dir->path().c_str(), 0755); // sway's user reads its config and the desktop pictures
    d->runtimeDir = d->dir->path() / "runtime";
    std::filesystem::create_directories(d->runtimeDir);
    chmod(d->runtimeDir.c_str(), 0700);
    d->baseEnvironment = detail::currentEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "SESSION_MANAGER",
                             "DESKTOP_SESSION", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP"})
        detail::unsetVariable(d->baseEnvironment, name);
    d->startSway();
    d->startBus();
    d->startInput();
    if (options.xwayland)
        d->startXwaylandAccess();
    if (options.portal)
        d->startPortal();
}

WaylandSession::~WaylandSession() = default;

const WaylandOptions &WaylandSession::options() const { return d->options; }
const std::string &WaylandSession::waylandDisplay() const { return d->waylandDisplay; }
const std::string &WaylandSession::busAddress() const { return d->busAddress; }
const std::string &WaylandSession::x11Display() const { return d->x11Display; }
std::vector<std::string> WaylandSession::outputNames() const { return d->outputs; }
Rect WaylandSession::outputRect(int output) const { return d->outputRects.at(static_cast<std::size_t>(output)); }

Rect WaylandSession::layoutRect() const
{
    Rect all = d->outputRects.front();
    for (const Rect &r : d->outputRects) {
        all.width = std::max(all.right(), r.right()) - all.x;
        all.height = std::max(all.bottom(), r.bottom()) - all.y;
    }
    return all;
}

Rect WaylandSession::deviceRect(int output) const
{
    const Rect r = outputRect(output);
    return {0, 0, r.width * d->options.scale, r.height * d->options.scale};
}

Rgb WaylandSession::desktopColor(Pattern pattern, int output, int x, int y) const
{
    const Rect r = outputRect(output);
    return expectedDesktopColor(pattern, r.x * d->options.scale + x, r.y * d->options.scale + y);
}

void WaylandSession::paintDesktop(Pattern pattern, bool waitShown)
{
    // The desktop is a background client of the session's own (swaybg, one
    // surface per output), not sway's "output bg": that command reconfigures
    // the output, resets the pointer and the input devices and restarts
    // sway's background client, and sway then shows a frame or two without
    // the full-screen window on top (its grey, then black) while a desktop
    // changes below the program. A new client replaces the old one instead,
    // as a wallpaper changes on a person's desktop.
    std::vector<std::string> args;
    for (int i = 0; i < static_cast<int>(d->outputs.size()); ++i) {
        const Rect device = deviceRect(i);
        Image picture(device);
        for (int y = 0; y < device.height; ++y)
            for (int x = 0; x < device.width; ++x)
                picture.setPixel(x, y, desktopColor(pattern, i, x, y));
        const auto file = d->dir->path() /
                          ("desktop-" + std::to_string(i) + "-" + std::to_string(d->counter++) + ".png");
        picture.savePng(file);
        args.insert(args.end(), {"-o", d->outputs[static_cast<std::size_t>(i)], "-i", file.string(), "-m", "fill"});
    }
    d->replaceBackground(args);
    for (int i = 0; waitShown && i < static_cast<int>(d->outputs.size()); ++i)
        if (!waitUntil([&] { return compareDesktop(pattern, i).matches(); }))
            throw Error("the desktop of " + d->outputs[static_cast<std::size_t>(i)] +
                        " does not show the pattern: " + compareDesktop(pattern, i).describe());
}

Image WaylandSession::grab(int output) const
{
    const auto file = d->dir->path() / ("grab-" + std::to_string(d->counter++) + ".ppm");
    d->run("grim", {"-t", "ppm", "-o", d->outputs.at(static_cast<std::size_t>(output)), file.string()});
    Image image = Image::load(file);
    std::filesystem::remove(file);
    return image;
}

DesktopDiff WaylandSession::compareDesktop(Pattern pattern, int output, const std::vector<Rect> &ignore) const
{
    const Image image = grab(output);
    DesktopDiff diff;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            bool skip = false;
            for (const Rect &r : ignore)
                skip = skip || r.contains(x, y);
            if (skip)
                continue;
            ++diff.compared;
            const Rgb expected = desktopColor(pattern, output, x, y);
            const Rgb actual = image.pixel(x, y);
            if (expected != actual) {
                if (diff.mismatches++ == 0) {
                    diff.first = {x, y};
                    diff.expected = expected;
                    diff.actual = actual;
                }
            }
        }
    return diff;
}

std::vector<WaylandWindow> WaylandSession::windows() const
{
    std::vector<WaylandWindow> found;
    collectWindows(d->tree(), {}, false, found);
    return found;
}

WaylandWindow WaylandSession::findWindow(const std::string &title, Milliseconds timeout) const
{
    WaylandWindow found;
    std::vector<WaylandWindow> all;
    const bool ok = waitUntil([&] {
        all = windows();
        for (const WaylandWindow &w : all)
            if (w.title == title) {
                found = w;
                return true;
            }
        return false;
    }, timeout, 50ms);
    if (!ok) {
        std::ostringstream there;
        for (const WaylandWindow &w : all)
            there << "\n  " << w;
        throw Error("no window \"" + title + "\"; there are:" + there.str());
    }
    return found;
}

bool WaylandSession::waitWindowGone(const std::string &title, Milliseconds timeout) const
{
    return waitUntil([&] {
        for (const WaylandWindow &w : windows())
            if (w.title == title)
                return false;
        return true;
    }, timeout, 50ms);
}

std::string WaylandSession::focusedTitle() const
{
    for (const WaylandWindow &w : windows())
        if (w.focused)
            return w.title;
    return {};
}

void WaylandSession::moveTo(double x, double y)
{
    const Rect all = layoutRect();
    std::ostringstream text;
    text.precision(10);
    text << "move " << (x - all.x) << " " << (y - all.y) << " " << all.width << " " << all.height;
    d->command(text.str());
}

void WaylandSession::press(int button) { d->command("press " + std::to_string(button)); }
void WaylandSession::release(int button) { d->command("release " + std::to_string(button)); }

void WaylandSession::click(Point p, int button)
{
    moveTo(p);
    press(button);
    release(button);
}

void WaylandSession::drag(Point from, Point to, int steps, int button)
{
    moveTo(from);
    press(button);
    for (int i = 1; i <= steps; ++i)
        moveTo(from.x + (to.x - from.x) * static_cast<double>(i) / steps,
               from.y + (to.y - from.y) * static_cast<double>(i) / steps);
    release(button);
}

void WaylandSession::key(const std::string &name, unsigned modifiers)
{
    d->command("key " + std::to_string(modifiers) + " " + name);
}

void WaylandSession::typeText(const std::string &utf8)
{
    const std::string names = detail::keysymNames(utf8);
    if (!names.empty())
        d->command("key 0 " + names);
}

std::string WaylandSession::swaymsg(const std::vector<std::string> &args) const
{
    std::vector<std::string> all{"--"};
    all.insert(all.end(), args.begin(), args.end());
    return d->run("swaymsg", all);
}

void WaylandSession::stopPortal() { d->stopPortal(); }

std::vector<std::string> WaylandSession::clientEnvironment() const { return d->clientEnvironment(); }

// --- The program on the session -------------------------------------------

Program::Program(const WaylandSession &session, const std::filesystem::path &executable, ProgramOptions options,
                 WaylandPlatform platform)
{
    auto env = session.clientEnvironment();
    detail::unsetVariable(env, "SWAYSOCK");
    if (platform == WaylandPlatform::Xwayland) {
        if (session.x11Display().empty())
            throw Error("the session runs no Xwayland");
        detail::setVariable(env, "DISPLAY", session.x11Display());
        detail::setVariable(env, "QT_QPA_PLATFORM", "xcb");
    } else {
        detail::setVariable(env, "QT_QPA_PLATFORM", "wayland");
    }
    start(std::move(env), executable, std::move(options));
}

} // namespace e2e
