#include "display_impl.h"
#include "process.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace e2e {

namespace detail {

namespace {

struct ErrorState {
    unsigned long count = 0;
    int trapDepth = 0;
};
ErrorState errorState;

int onXError(Display *dpy, XErrorEvent *event)
{
    ++errorState.count;
    if (errorState.trapDepth == 0) {
        char text[256] = {};
        XGetErrorText(dpy, event->error_code, text, sizeof text);
        std::fprintf(stderr, "e2e: X error: %s (request %d.%d, resource 0x%lx)\n", text, event->request_code,
                     event->minor_code, event->resourceid);
    }
    return 0;
}

int onXIoError(Display *dpy)
{
    std::fprintf(stderr, "e2e: lost the connection to X server %s (did Xvfb die?)\n", DisplayString(dpy));
    return 0; // Xlib ends the process; the kernel stops our children
}

} // namespace

void installErrorHandler()
{
    static const bool installed = [] {
        XSetErrorHandler(onXError);
        XSetIOErrorHandler(onXIoError);
        return true;
    }();
    (void)installed;
}

XErrorTrap::XErrorTrap(Display *dpy) : dpy_(dpy)
{
    XSync(dpy_, False); // errors of earlier requests are not ours
    before_ = errorState.count;
    ++errorState.trapDepth;
}

XErrorTrap::~XErrorTrap()
{
    XSync(dpy_, False);
    --errorState.trapDepth;
}

bool XErrorTrap::failed()
{
    XSync(dpy_, False);
    return errorState.count != before_;
}

} // namespace detail

namespace {

constexpr auto startTimeout = 30s;

// Reads the display number Xvfb writes to -displayfd once it accepts
// connections.
std::optional<int> readDisplayNumber(int fd, pid_t server, Milliseconds timeout)
{
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + scaledTimeout(timeout);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, 50);
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready > 0) {
            char buffer[32];
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0)
                return std::nullopt; // Xvfb closed it without a number: it is exiting
            text.append(buffer, static_cast<std::size_t>(got));
            if (text.find('\n') != std::string::npos) {
                try {
                    return std::stoi(text);
                } catch (const std::exception &) {
                    return std::nullopt;
                }
            }
        } else if (detail::peekExit(server)) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace

Atom VirtualDisplay::Impl::atom(const char *atomName) const
{
    return XInternAtom(dpy, atomName, False);
}

void VirtualDisplay::Impl::drainMappingNotify() const
{
    XEvent event;
    while (XCheckTypedEvent(dpy, MappingNotify, &event))
        XRefreshKeyboardMapping(&event.xmapping);
}

// A request the window manager answers, sent now, reaches it after every
// event the server has queued for it so far, and it handles its events one by
// one: once it has answered, it has handled them all. The request is
// _NET_REQUEST_FRAME_EXTENTS for a window of our own that is never mapped,
// which changes nothing on the screen; the answer is the _NET_FRAME_EXTENTS
// property on that window.
void VirtualDisplay::Impl::windowManagerRoundTrip(const std::string &why)
{
    XSync(dpy, False);
    drainMappingNotify();
    if (XGetSelectionOwner(dpy, atom("WM_S0")) == None)
        return;
    const Window probe = XCreateSimpleWindow(dpy, root, -10, -10, 1, 1, 0, 0, 0);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = probe;
    event.xclient.message_type = atom("_NET_REQUEST_FRAME_EXTENTS");
    event.xclient.format = 32;
    XSendEvent(dpy, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(dpy, False);
    const Atom extents = atom("_NET_FRAME_EXTENTS");
    const bool answered = waitUntil(
        [&] {
            Atom type = None;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char *data = nullptr;
            XGetWindowProperty(dpy, probe, extents, 0, 4, False, AnyPropertyType, &type, &format, &items, &after,
                               &data);
            if (data)
                XFree(data);
            return type != None;
        },
        defaultTimeout, 1ms);
    XDestroyWindow(dpy, probe);
    XSync(dpy, False);
    if (!answered)
        throw Error("the window manager on " + name + " did not answer _NET_REQUEST_FRAME_EXTENTS, so nothing tells " +
                    why);
}

// A window manager makes its key grabs (Alt+F4 and the rest) anew when it
// handles the MappingNotify of a change of the keyboard map. Openbox first
// drops every grab, then grabs key after key, with a round trip to the server
// for each; a key that reaches the server in between goes to the focused
// client instead, and the shortcut is lost. The server queues the notice to
// the window manager when it makes the change, so once the window manager has
// answered a request sent after the change, it has its grabs back.
void VirtualDisplay::Impl::confirmKeyboardMapping()
{
    if (!mapUnconfirmed)
        return;
    windowManagerRoundTrip("when it has made its key grabs anew after a change of the keyboard map");
    mapUnconfirmed = false;
}

void VirtualDisplay::waitForWindowManager()
{
    d->windowManagerRoundTrip("when it has handled the input sent so far");
}

void VirtualDisplay::Impl::startServer()
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        throw Error(std::string("pipe2: ") + std::strerror(errno));
    const auto log = dir->path() / "xvfb.log";
    detail::SpawnRequest request;
    request.executable = "Xvfb";
    request.args = {"-displayfd", "3",
                    "-screen", "0",
                    std::to_string(options.width) + "x" + std::to_string(options.height) + "x" +
                        std::to_string(options.depth),
                    "-nolisten", "tcp", "-noreset", "-dpi", "96", "-s", "0"};
    if (!options.sharedMemory)
        request.args.insert(request.args.end(), {"-extension", "MIT-SHM"});
    request.environment = detail::currentEnvironment();
    request.outputFile = log;
    request.passFd = pipeFds[1];
    try {
        xvfb = detail::spawn(request);
    } catch (...) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        throw;
    }
    close(pipeFds[1]);
    const auto number = readDisplayNumber(pipeFds[0], xvfb, startTimeout);
    close(pipeFds[0]);
    if (!number)
        throw Error("Xvfb did not start (" + std::to_string(options.width) + "x" + std::to_string(options.height) +
                    "x" + std::to_string(options.depth) + "); its log ends:\n" + detail::logTail(log));
    name = ":" + std::to_string(*number);

    detail::installErrorHandler();
    waitUntil([&] { return (dpy = XOpenDisplay(name.c_str())) != nullptr; }, startTimeout, 20ms);
    if (!dpy)
        throw Error("cannot connect to Xvfb at " + name + "; its log ends:\n" + detail::logTail(log));

    int eventBase, errorBase, major, minor;
    if (!XTestQueryExtension(dpy, &eventBase, &errorBase, &major, &minor))
        throw Error("Xvfb at " + name + " has no XTEST extension");
    screen = DefaultScreen(dpy);
    root = RootWindow(dpy, screen);
    visual = DefaultVisual(dpy, screen);
    depth = DefaultDepth(dpy, screen);
    width = DisplayWidth(dpy, screen);
    height = DisplayHeight(dpy, screen);
    int formats = 0;
    XPixmapFormatValues *list = XListPixmapFormats(dpy, &formats);
    for (int i = 0; i < formats; ++i)
        if (list[i].depth == depth)
            bitsPerPixel = list[i].bits_per_pixel;
    XFree(list);

    // A key held while the test is descheduled must not repeat, and the
    // screen must not blank during a long test.
    XAutoRepeatOff(dpy);
    XSetScreenSaver(dpy, 0, 0, DontPreferBlanking, DefaultExposures);
    XSync(dpy, False);
}

void VirtualDisplay::Impl::startWindowManager()
{
    const detail::SpawnCommand command = windowManagerCommand();
    const std::string wmName = windowManagerName(options.manager);
    const auto log = dir->path() / (wmName + ".log");
    detail::SpawnRequest request;
    request.executable = command.executable;
    request.args = command.args;
    request.environment = detail::currentEnvironment();
    // The system's default configuration, never the user's own.
    detail::setVariable(request.environment, "DISPLAY", name);
    detail::setVariable(request.environment, "HOME", (dir->path() / "home").string());
    detail::setVariable(request.environment, "XDG_CONFIG_HOME", (dir->path() / "config").string());
    detail::setVariable(request.environment, "XDG_CACHE_HOME", (dir->path() / "cache").string());
    detail::setVariable(request.environment, "XDG_DATA_HOME", (dir->path() / "data").string());
    detail::unsetVariable(request.environment, "SESSION_MANAGER");
    detail::unsetVariable(request.environment, "DBUS_SESSION_BUS_ADDRESS");
    detail::unsetVariable(request.environment, "WAYLAND_DISPLAY");
    for (const auto &[variable, value] : command.environment)
        detail::setVariable(request.environment, variable, value);
    request.outputFile = log;
    wm = detail::spawn(request);

    const Atom selection = atom("WM_S0");
    const Atom check = atom("_NET_SUPPORTING_WM_CHECK");
    bool exited = false;
    const bool ready = waitUntil(
        [&] {
            if (detail::peekExit(wm)) {
                exited = true;
                return true;
            }
            if (XGetSelectionOwner(dpy, selection) == None)
                return false;
            Atom type;
            int format;
            unsigned long items, after;
            unsigned char *data = nullptr;
            const bool has = XGetWindowProperty(dpy, root, check, 0, 1, False, XA_WINDOW, &type, &format, &items,
                                                &after, &data) == Success &&
                             items == 1;
            if (data)
                XFree(data);
            return has;
        },
        startTimeout, 20ms);
    if (exited || !ready)
        throw Error(wmName + (exited ? " exited" : " did not take the display") + " on " + name +
                    "; its log ends:\n" + detail::logTail(log));

    // Owning WM_S0 is not yet managing windows: openbox drops map requests
    // that come during its start-up. Map a window of our own (again, if the
    // request was dropped) until the window manager has framed it.
    const Window probe = XCreateSimpleWindow(dpy, root, 0, 0, 1, 1, 0, 0, 0);
    Window frame = None;
    int polls = 0;
    const bool managed = waitUntil(
        [&] {
            if (polls++ % 5 == 0) {
                XMapWindow(dpy, probe);
                XSync(dpy, False);
            }
            Window rootReturn, parent = None, *children = nullptr;
            unsigned count = 0;
            if (XQueryTree(dpy, probe, &rootReturn, &parent, &children, &count) && children)
                XFree(children);
            frame = parent;
            return detail::peekExit(wm) || (parent != None && parent != root);
        },
        startTimeout, 20ms);
    XDestroyWindow(dpy, probe);
    XSync(dpy, False);
    if (!managed || detail::peekExit(wm))
        throw Error(wmName + " on " + name + " does not manage windows; its log ends:\n" + detail::logTail(log));
    // Wait until its frame is gone too, so that it shows on no screenshot.
    detail::XErrorTrap trap(dpy);
    waitUntil(
        [&] {
            XWindowAttributes attributes;
            return !XGetWindowAttributes(dpy, frame, &attributes) || trap.failed() ||
                   attributes.map_state == IsUnmapped;
        },
        startTimeout, 10ms);
}

void VirtualDisplay::Impl::stop()
{
    // Talking to a server that has died would make Xlib end the process, so
    // the connection of a dead server is left alone.
    bool serverAlive = xvfb != 0;
    try {
        serverAlive = serverAlive && !detail::peekExit(xvfb);
    } catch (const Error &) {
        serverAlive = false;
    }
    if (dpy && serverAlive) {
        // Leave the keyboard as it was found.
        for (const auto &[keysym, keycode] : boundKeys) {
            KeySym none = NoSymbol;
            XChangeKeyboardMapping(dpy, keycode, 1, &none, 1);
        }
        boundKeys.clear();
        XCloseDisplay(dpy);
    }
    dpy = nullptr;
    detail::stopProcessGroup(wm, SIGTERM, 5s);
    wm = 0;
    detail::stopProcessGroup(xvfb, SIGTERM, 5s);
    xvfb = 0;
}

VirtualDisplay::Impl::~Impl()
{
    stop();
}

VirtualDisplay::VirtualDisplay(const DisplayOptions &options) : d(std::make_unique<Impl>())
{
    if (options.width <= 0 || options.height <= 0)
        throw Error("a display needs a positive size");
    d->options = options;
    d->dir = std::make_unique<TempDir>("skarvel-e2e-display");
    d->startServer();
    if (options.windowManager)
        d->startWindowManager();
    if (options.panel)
        d->startPanel();
}

VirtualDisplay::~VirtualDisplay() = default;

const std::string &VirtualDisplay::name() const { return d->name; }
int VirtualDisplay::width() const { return d->width; }
int VirtualDisplay::height() const { return d->height; }
int VirtualDisplay::depth() const { return d->depth; }
int VirtualDisplay::bitsPerPixel() const { return d->bitsPerPixel; }
bool VirtualDisplay::hasWindowManager() const { return d->wm != 0; }
WindowManager VirtualDisplay::windowManager() const { return d->options.manager; }
std::optional<Rect> VirtualDisplay::panel() const { return d->panelPlace; }
pid_t VirtualDisplay::serverPid() const { return d->xvfb; }
pid_t VirtualDisplay::windowManagerPid() const { return d->wm; }
_XDisplay *VirtualDisplay::xdisplay() const { return d->dpy; }

void VirtualDisplay::sync() const
{
    XSync(d->dpy, False);
    d->drainMappingNotify();
}

} // namespace e2e
