// The window managers of real X11 desktops, and what every desktop has
// besides: a desktop the window manager keeps at the bottom, and a task bar.

#include "display_impl.h"

#include <X11/Xatom.h>

#include <fstream>

namespace e2e {

const char *windowManagerName(WindowManager manager)
{
    switch (manager) {
    case WindowManager::Openbox: return "openbox";
    case WindowManager::Xfwm4: return "xfwm4";
    case WindowManager::Metacity: return "metacity";
    case WindowManager::Mutter: return "mutter";
    case WindowManager::I3: return "i3";
    }
    return "?";
}

namespace {

// i3 as a person sets it up: the default look, a bar at the bottom with the
// workspace buttons. A configuration of its own also keeps i3 from asking
// its first-run question.
constexpr const char *i3Config = R"(# i3 config file (v4)
font pango:DejaVu Sans 10
bar {
    position bottom
}
)";

// The session bus a GNOME or Xfce session would give the window manager.
detail::SpawnCommand inSession(std::string executable, std::vector<std::string> args)
{
    detail::SpawnCommand command;
    command.executable = "dbus-run-session";
    command.args = {"--", std::move(executable)};
    for (std::string &arg : args)
        command.args.push_back(std::move(arg));
    // Their defaults, kept in memory: nothing read from or written to a
    // settings daemon.
    command.environment = {{"GSETTINGS_BACKEND", "memory"}, {"NO_AT_BRIDGE", "1"}};
    return command;
}

// Window ids of every window below `w` (to `levels` levels) with this
// _NET_WM_WINDOW_TYPE.
void findByType(Display *dpy, Window w, Atom typeProperty, Atom wanted, int levels, std::vector<Window> &found)
{
    Window rootReturn, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(dpy, w, &rootReturn, &parent, &children, &count))
        return;
    for (unsigned i = 0; i < count; ++i) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(dpy, children[i], typeProperty, 0, 8, False, XA_ATOM, &type, &format, &items, &after,
                               &data) == Success &&
            data && format == 32) {
            const auto *atoms = reinterpret_cast<const Atom *>(data);
            for (unsigned long k = 0; k < items; ++k)
                if (atoms[k] == wanted)
                    found.push_back(children[i]);
        }
        if (data)
            XFree(data);
        if (levels > 1)
            findByType(dpy, children[i], typeProperty, wanted, levels - 1, found);
    }
    if (children)
        XFree(children);
}

void setAtomProperty(Display *dpy, Window w, Atom property, Atom value)
{
    XChangeProperty(dpy, w, property, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char *>(&value), 1);
}

} // namespace

detail::SpawnCommand VirtualDisplay::Impl::windowManagerCommand() const
{
    switch (options.manager) {
    case WindowManager::Openbox: return {"openbox", {"--sm-disable"}, {}};
    case WindowManager::Xfwm4: return inSession("xfwm4", {"--sm-client-disable"});
    case WindowManager::Metacity: return inSession("metacity", {"--sm-disable"});
    case WindowManager::Mutter: return inSession("mutter", {"--x11", "--sm-disable"});
    case WindowManager::I3: {
        const auto config = dir->path() / "i3.config";
        std::ofstream(config) << i3Config;
        return {"i3", {"-c", config.string()}, {}};
    }
    }
    throw Error("unknown window manager");
}

bool VirtualDisplay::Impl::drawsOwnDesktop() const
{
    if (!wm)
        return false;
    switch (options.manager) {
    case WindowManager::Xfwm4:
    case WindowManager::Metacity:
    case WindowManager::Mutter: return true;
    case WindowManager::Openbox:
    case WindowManager::I3: return false;
    }
    return false;
}

void VirtualDisplay::Impl::showDesktop(Pixmap pixmap, const std::function<Rgb(int, int)> &expected)
{
    XSetWindowBackgroundPixmap(dpy, root, pixmap);
    XClearWindow(dpy, root);
    if (!drawsOwnDesktop()) {
        XSync(dpy, False);
        return;
    }
    if (desktopWindow) {
        XSetWindowBackgroundPixmap(dpy, desktopWindow, pixmap);
        XClearWindow(dpy, desktopWindow);
        XSync(dpy, False);
        return;
    }
    // A desktop window, as a file manager puts up. The window manager keeps
    // it below every other window, frameless, over the whole screen.
    XSetWindowAttributes attributes{};
    attributes.background_pixmap = pixmap;
    desktopWindow = XCreateWindow(dpy, root, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                  CopyFromParent, InputOutput, CopyFromParent, CWBackPixmap, &attributes);
    XStoreName(dpy, desktopWindow, "desktop");
    setAtomProperty(dpy, desktopWindow, atom("_NET_WM_WINDOW_TYPE"), atom("_NET_WM_WINDOW_TYPE_DESKTOP"));
    XSizeHints hints{};
    hints.flags = PPosition | PSize;
    hints.width = width;
    hints.height = height;
    XSetWMNormalHints(dpy, desktopWindow, &hints);
    XMapWindow(dpy, desktopWindow);
    XSync(dpy, False);

    // The desktop is there once the screen shows it wherever the panel is
    // not, nor the shadow a compositing window manager casts around it.
    std::optional<Rect> bar = panelPlace;
    if (bar)
        bar = Rect{bar->x - panelHeight, bar->y - panelHeight, bar->width + 2 * panelHeight,
                   bar->height + 2 * panelHeight};
    int bad = 0;
    const bool shown = waitUntil(
        [&] {
            XImage *image = XGetImage(dpy, root, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                      AllPlanes, ZPixmap);
            if (!image)
                return false;
            bad = 0;
            for (int y = 0; y < height && !bad; y += 7)
                for (int x = 0; x < width && !bad; x += 7) {
                    if (bar && bar->contains(x, y))
                        continue;
                    const unsigned long p = XGetPixel(image, x, y);
                    auto component = [&](unsigned long mask) {
                        const int shift = __builtin_ctzl(mask);
                        const unsigned long max = mask >> shift;
                        return static_cast<int>((((p & mask) >> shift) * 255 + max / 2) / max);
                    };
                    const Rgb want = expected(x, y);
                    if (std::abs(component(visual->red_mask) - want.r) > 8 ||
                        std::abs(component(visual->green_mask) - want.g) > 8 ||
                        std::abs(component(visual->blue_mask) - want.b) > 8)
                        ++bad;
                }
            XDestroyImage(image);
            return bad == 0;
        },
        defaultTimeout, 20ms);
    if (!shown)
        throw Error(std::string(windowManagerName(options.manager)) + " does not show the desktop window on " +
                    name);
}

void VirtualDisplay::Impl::startPanel()
{
    if (options.manager == WindowManager::I3 && wm) {
        // i3's own bar is the panel; it is up once it shows its workspace
        // button on its background.
        if (!waitUntil([&] {
                const std::optional<Rect> r = panelRect();
                if (!r || r->isEmpty())
                    return false;
                XImage *image = XGetImage(dpy, root, r->x, r->y, static_cast<unsigned>(r->width),
                                          static_cast<unsigned>(r->height), AllPlanes, ZPixmap);
                if (!image)
                    return false;
                bool twoColours = false;
                const unsigned long first = XGetPixel(image, 0, 0);
                for (int y = 0; y < r->height && !twoColours; ++y)
                    for (int x = 0; x < r->width && !twoColours; ++x)
                        twoColours = XGetPixel(image, x, y) != first;
                XDestroyImage(image);
                return twoColours;
            }))
            throw Error("i3's bar did not appear on " + name);
        panelPlace = panelRect();
        return;
    }
    const int top = height - panelHeight;
    XColor color{};
    color.red = static_cast<unsigned short>(panelColor.r * 257);
    color.green = static_cast<unsigned short>(panelColor.g * 257);
    color.blue = static_cast<unsigned short>(panelColor.b * 257);
    color.flags = DoRed | DoGreen | DoBlue;
    XAllocColor(dpy, DefaultColormap(dpy, screen), &color);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = color.pixel;
    panelWindow = XCreateWindow(dpy, root, 0, top, static_cast<unsigned>(width), panelHeight, 0, CopyFromParent,
                                InputOutput, CopyFromParent, CWBackPixel, &attributes);
    XStoreName(dpy, panelWindow, "panel");
    setAtomProperty(dpy, panelWindow, atom("_NET_WM_WINDOW_TYPE"), atom("_NET_WM_WINDOW_TYPE_DOCK"));
    // Reserved: the bottom 40 rows, across the whole width.
    long strut[12] = {0, 0, 0, panelHeight, 0, 0, 0, 0, 0, 0, 0, width - 1};
    XChangeProperty(dpy, panelWindow, atom("_NET_WM_STRUT_PARTIAL"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(strut), 12);
    XChangeProperty(dpy, panelWindow, atom("_NET_WM_STRUT"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(strut), 4);
    // On every workspace.
    long allDesktops = 0xFFFFFFFF;
    XChangeProperty(dpy, panelWindow, atom("_NET_WM_DESKTOP"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(&allDesktops), 1);
    XSizeHints hints{};
    hints.flags = PPosition | PSize;
    hints.x = 0;
    hints.y = top;
    hints.width = width;
    hints.height = panelHeight;
    XSetWMNormalHints(dpy, panelWindow, &hints);
    XMapWindow(dpy, panelWindow);
    XSync(dpy, False);

    // Up once it is in place and the screen shows it.
    const bool shown = waitUntil([&] {
        XWindowAttributes a;
        if (!XGetWindowAttributes(dpy, panelWindow, &a) || a.map_state != IsViewable)
            return false;
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(dpy, panelWindow, root, 0, 0, &x, &y, &child);
        if (x != 0 || y != top || a.width != width || a.height != panelHeight)
            return false;
        XImage *image = XGetImage(dpy, root, width / 2, top + panelHeight / 2, 1, 1, AllPlanes, ZPixmap);
        if (!image)
            return false;
        const bool painted = XGetPixel(image, 0, 0) == color.pixel;
        XDestroyImage(image);
        return painted;
    });
    if (!shown)
        throw Error("the panel did not appear at the bottom of " + name);
    panelPlace = Rect{0, top, width, panelHeight};
}

std::optional<Rect> VirtualDisplay::Impl::panelRect() const
{
    if (!options.panel)
        return std::nullopt;
    Window bar = panelWindow;
    if (!bar) {
        std::vector<Window> docks;
        detail::XErrorTrap trap(dpy);
        findByType(dpy, root, atom("_NET_WM_WINDOW_TYPE"), atom("_NET_WM_WINDOW_TYPE_DOCK"), 4, docks);
        if (docks.empty() || trap.failed())
            return std::nullopt;
        bar = docks.front();
    }
    detail::XErrorTrap trap(dpy);
    XWindowAttributes a;
    int x = 0, y = 0;
    Window child;
    if (!XGetWindowAttributes(dpy, bar, &a) || a.map_state != IsViewable ||
        !XTranslateCoordinates(dpy, bar, root, 0, 0, &x, &y, &child) || trap.failed())
        return std::nullopt;
    return Rect{x, y, a.width, a.height};
}

} // namespace e2e
