#include "wayland_session.h"

#include "process.h"

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

struct Child {
    pid_t pid = 0;
    std::string name;
    std::filesystem::path log;
};

} // namespace

struct WaylandSession::Impl {
    WaylandOptions options;
    std::unique_ptr<TempDir> dir;
    std::filesystem::path swayDir;     // sway's runtime folder (its user's)
    std::filesystem::path runtimeDir;  // the clients' runtime folder
    std::filesystem::path configPath;
    std::string waylandDisplay, swaySocket, busAddress, x11Display;
    std::vector<std::string> outputs;
    std::vector<Rect> outputRects;
    std::vector<Child> children;  // in start order
    std::vector<std::string> baseEnvironment;
    int inputFd = -1;
    pid_t inputPid = 0;
    mutable std::atomic<int> counter{0};

    ~Impl() { stop(); }

    std::vector<std::string> clientEnvironment() const
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
        return env;
    }

    pid_t start(const std::string &name, const std::filesystem::path &executable, std::vector<std::string> args,
                std::vector<std::string> env, int passFd = -1)
    {
        detail::SpawnRequest request;
        request.executable = executable;
        request.args = std::move(args);
        request.environment = std::move(env);
        request.workingDirectory = dir->path();
        request.outputFile = dir->path() / (name + ".log");
        request.passFd = passFd;
        const pid_t pid = detail::spawn(request);
        children.push_back({pid, name, request.outputFile});
        return pid;
    }

    // Runs a tool to its end; its output, or throws naming it.
    std::string run(const std::filesystem::path &executable, std::vector<std::string> args, int *status = nullptr,
                    Milliseconds timeout = 10s) const
    {
        detail::SpawnRequest request;
        request.executable = executable;
        request.args = std::move(args);
        request.environment = clientEnvironment();
        request.outputFile = dir->path() / ("tool-" + std::to_string(counter++) + ".out");
        const pid_t pid = detail::spawn(request);
        std::optional<int> code;
        waitUntil([&] { return (code = detail::peekExit(pid)).has_value(); }, timeout, 2ms);
        const auto final = detail::stopProcessGroup(pid, SIGKILL, 1s);
        std::string out;
        try {
            out = readFile(request.outputFile);
        } catch (const Error &) {
        }
        std::filesystem::remove(request.outputFile);
        const int rc = code ? *code : final.value_or(-1);
        if (status)
            *status = rc;
        else if (rc != 0)
            throw Error(executable.string() + " failed (" + std::to_string(rc) + "): " + out);
        return out;
    }

    void expectAlive(const Child &child) const
    {
        if (detail::peekExit(child.pid))
            throw Error(child.name + " has exited: " + detail::logTail(child.log));
    }

    bool busHasName(const std::string &name) const
    {
        int status = 0;
        const std::string out =
            run("dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus.NameHasOwner", "string:" + name},
                &status);
        return status == 0 && out.find("boolean true") != std::string::npos;
    }

    void startBus()
    {
        const auto config = dir->path() / "bus.conf";
        // A bus on which nothing is started on demand: only what the session
        // starts by hand answers, so a session without a portal has none.
        std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig><type>session</type><keep_umask/>\n"
                              << "<listen>unix:dir=" << dir->path().string() << "</listen>\n"
                              << "<auth>EXTERNAL</auth>\n"
                                 "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw Error("pipe2: " + errnoText());
        try {
            start("dbus-daemon", "dbus-daemon",
                  {"--config-file=" + config.string(), "--nofork", "--nopidfile", "--print-address=3"},
                  clientEnvironment(), fds[1]);
        } catch (...) {
            close(fds[0]);
            close(fds[1]);
            throw;
        }
        close(fds[1]);
        std::string address;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            address += c;
        close(fds[0]);
        if (address.empty())
            throw Error("dbus-daemon gave no address: " + detail::logTail(children.back().log));
        busAddress = address;
    }

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
        const Child &sway = children.back();
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

    void startInput()
    {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            throw Error("socketpair: " + errnoText());
        try {
            inputPid = start("input", SKARVEL_WL_INPUT_PATH, {"--fd", "3"}, clientEnvironment(), pair[1]);
        } catch (...) {
            close(pair[0]);
            close(pair[1]);
            throw;
        }
        close(pair[1]);
        inputFd = pair[0];
        const std::string hello = readLine(10s);
        if (hello != "ready")
            throw Error("the virtual input tool did not start: " + hello + " " + detail::logTail(children.back().log));
    }

    std::string readLine(Milliseconds timeout) const
    {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + scaledTimeout(timeout);
        char c;
        while (std::chrono::steady_clock::now() < deadline) {
            const ssize_t n = recv(inputFd, &c, 1, MSG_DONTWAIT);
            if (n == 1) {
                if (c == '\n')
                    return line;
                line += c;
            } else if (n == 0) {
                return line.empty() ? "(the input tool has exited)" : line;
            } else {
                std::this_thread::sleep_for(1ms);
            }
        }
        return line + " (no answer from the input tool)";
    }

    void command(const std::string &text) const
    {
        const std::string line = text + "\n";
        if (send(inputFd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
            throw Error("the input tool is gone: " + errnoText());
        const std::string answer = readLine(10s);
        if (answer != "ok")
            throw Error("input \"" + text + "\": " + answer);
    }

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
        for (const auto &[program, busName] : parts) {
            const std::string name = std::filesystem::path(program).filename().string();
            start(name, program, {}, env);
            const Child &child = children.back();
            if (!waitUntil([&] {
                    expectAlive(child);
                    return busHasName(busName);
                }, 20s, 50ms))
                throw Error(name + " did not take " + busName + ": " + detail::logTail(child.log));
        }
    }

    void stopPortal()
    {
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if (it->name.starts_with("xdg-desktop-portal") || it->name == "pipewire") {
                detail::stopProcessGroup(it->pid, SIGTERM, 3s);
                it->pid = 0;
            }
        std::erase_if(children, [](const Child &c) { return c.pid == 0; });
    }

    void stop()
    {
        if (inputFd >= 0) {
            close(inputFd);
            inputFd = -1;
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            detail::stopProcessGroup(it->pid, SIGTERM, 3s);
        children.clear();
        // The document portal may have mounted its file system in the runtime
        // folder; it has to go before the folder can.
        if (!runtimeDir.empty() && std::filesystem::exists(runtimeDir / "doc"))
            umount2((runtimeDir / "doc").c_str(), MNT_DETACH);
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
    for (int i = 0; i < static_cast<int>(d->outputs.size()); ++i) {
        const Rect device = deviceRect(i);
        Image picture(device);
        for (int y = 0; y < device.height; ++y)
            for (int x = 0; x < device.width; ++x)
                picture.setPixel(x, y, desktopColor(pattern, i, x, y));
        const auto file = d->dir->path() /
                          ("desktop-" + std::to_string(i) + "-" + std::to_string(d->counter++) + ".png");
        picture.savePng(file);
        chmod(file.c_str(), 0644);
        swaymsg({"output", d->outputs[static_cast<std::size_t>(i)], "bg", file.string(), "fill"});
    }
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
    std::string names;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        char32_t code = c;
        int length = 1;
        if (c >= 0xF0)
            code = c & 0x07, length = 4;
        else if (c >= 0xE0)
            code = c & 0x0F, length = 3;
        else if (c >= 0xC0)
            code = c & 0x1F, length = 2;
        for (int k = 1; k < length && i + static_cast<std::size_t>(k) < utf8.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
        i += static_cast<std::size_t>(length);
        std::string name;
        if (code == '\n')
            name = "Return";
        else if (code == '\t')
            name = "Tab";
        else if (code == ' ')
            name = "space";
        else if ((code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9'))
            name = std::string(1, static_cast<char>(code));
        else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "U%04X", static_cast<unsigned>(code));
            name = buffer;
        }
        names += " " + name;
    }
    if (!names.empty())
        d->command("key 0" + names);
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
    : private_(std::make_unique<TempDir>("skarvel-e2e-program"))
{
    home_ = private_->path() / "home";
    const auto runtime = private_->path() / "runtime";
    for (const auto &dir : {home_, home_ / ".config", home_ / ".cache", home_ / ".local/share", runtime})
        std::filesystem::create_directories(dir);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    outputFile_ = options.outputFile.empty() ? private_->path() / "output.txt" : options.outputFile;

    auto env = session.clientEnvironment();
    for (const char *name : {"XDG_CURRENT_DESKTOP", "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "QT_SCALE_FACTOR",
                             "QT_SCREEN_SCALE_FACTORS", "SWAYSOCK", "QT_WAYLAND_DISABLE_WINDOWDECORATION"})
        detail::unsetVariable(env, name);
    if (platform == WaylandPlatform::Xwayland) {
        if (session.x11Display().empty())
            throw Error("the session runs no Xwayland");
        detail::setVariable(env, "DISPLAY", session.x11Display());
        detail::setVariable(env, "QT_QPA_PLATFORM", "xcb");
    } else {
        detail::setVariable(env, "QT_QPA_PLATFORM", "wayland");
    }
    detail::setVariable(env, "LC_ALL", "C.UTF-8");
    detail::setVariable(env, "HOME", home_.string());
    detail::setVariable(env, "XDG_CONFIG_HOME", (home_ / ".config").string());
    detail::setVariable(env, "XDG_CACHE_HOME", (home_ / ".cache").string());
    detail::setVariable(env, "XDG_DATA_HOME", (home_ / ".local/share").string());
    for (const auto &[name, value] : options.env)
        detail::setVariable(env, name, value);
    for (const auto &name : options.unsetEnv)
        detail::unsetVariable(env, name);

    detail::SpawnRequest request;
    request.executable = executable;
    request.args = std::move(options.args);
    request.environment = std::move(env);
    request.workingDirectory = options.workingDirectory.empty() ? home_ : options.workingDirectory;
    request.outputFile = outputFile_;
    pid_ = detail::spawn(request);
}

} // namespace e2e
