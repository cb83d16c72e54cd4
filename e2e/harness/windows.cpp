// Finding top-level windows by title, with and without a window manager.

#include "display_impl.h"

#include <X11/Xatom.h>

#include <sstream>

namespace e2e {

using detail::XErrorTrap;

namespace {

std::string latin1ToUtf8(const unsigned char *text, std::size_t length)
{
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = text[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return out;
}

struct Property {
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned char *data = nullptr;
    ~Property()
    {
        if (data)
            XFree(data);
    }
};

bool readProperty(Display *dpy, Window w, Atom name, Atom type, Property &p, long maxLength = 1 << 16)
{
    unsigned long after = 0;
    return XGetWindowProperty(dpy, w, name, 0, maxLength, False, type, &p.type, &p.format, &p.items, &after,
                              &p.data) == Success &&
           p.type != None;
}

std::optional<std::string> windowTitle(const VirtualDisplay::Impl &d, Window w)
{
    {
        Property p;
        if (readProperty(d.dpy, w, d.atom("_NET_WM_NAME"), d.atom("UTF8_STRING"), p) && p.format == 8 && p.data)
            return std::string(reinterpret_cast<const char *>(p.data), p.items);
    }
    Property p;
    if (!readProperty(d.dpy, w, XA_WM_NAME, AnyPropertyType, p) || p.format != 8 || !p.data)
        return std::nullopt;
    if (p.type == XA_STRING)
        return latin1ToUtf8(p.data, p.items);
    if (p.type == d.atom("UTF8_STRING"))
        return std::string(reinterpret_cast<const char *>(p.data), p.items);
    // COMPOUND_TEXT and the like: let Xlib convert.
    XTextProperty text{p.data, p.type, p.format, p.items};
    char **list = nullptr;
    int count = 0;
    std::optional<std::string> result;
    if (Xutf8TextPropertyToTextList(d.dpy, &text, &list, &count) >= Success && count > 0 && list) {
        result = std::string(list[0]);
        XFreeStringList(list);
    }
    return result;
}

bool hasWmState(const VirtualDisplay::Impl &d, Window w)
{
    Property p;
    return readProperty(d.dpy, w, d.atom("WM_STATE"), AnyPropertyType, p, 2);
}

// The window below `w` that the window manager manages (has WM_STATE).
Window managedDescendant(const VirtualDisplay::Impl &d, Window w, int levels)
{
    if (levels <= 0)
        return None;
    Window rootReturn, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d.dpy, w, &rootReturn, &parent, &children, &count))
        return None;
    Window found = None;
    for (unsigned i = 0; i < count && found == None; ++i)
        if (hasWmState(d, children[i]))
            found = children[i];
    for (unsigned i = 0; i < count && found == None; ++i)
        found = managedDescendant(d, children[i], levels - 1);
    if (children)
        XFree(children);
    return found;
}

// Fills in everything but id and frame; false when the window is gone.
bool describe(const VirtualDisplay::Impl &d, WindowInfo &info)
{
    XErrorTrap trap(d.dpy);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(d.dpy, info.id, &attributes) || trap.failed())
        return false;
    int rx = 0, ry = 0;
    Window child;
    if (!XTranslateCoordinates(d.dpy, info.id, d.root, 0, 0, &rx, &ry, &child) || trap.failed())
        return false;
    info.title = windowTitle(d, info.id).value_or("");
    info.rect = {rx, ry, attributes.width, attributes.height};
    info.frameRect = info.rect;
    Property extents;
    if (readProperty(d.dpy, info.id, d.atom("_NET_FRAME_EXTENTS"), XA_CARDINAL, extents, 4) &&
        extents.format == 32 && extents.items == 4) {
        // Format-32 data comes as longs.
        const auto *e = reinterpret_cast<const long *>(extents.data);
        const int left = static_cast<int>(e[0]), right = static_cast<int>(e[1]);
        const int top = static_cast<int>(e[2]), bottom = static_cast<int>(e[3]);
        info.frameRect = {rx - left, ry - top, attributes.width + left + right, attributes.height + top + bottom};
    }
    info.mapState = attributes.map_state == IsViewable     ? MapState::Viewable
                    : attributes.map_state == IsUnviewable ? MapState::Unviewable
                                                           : MapState::Unmapped;
    return !trap.failed();
}

// The viewable windows, and the one with the keyboard focus marked.
std::string describeViewable(const std::vector<WindowInfo> &windows, WindowId focus)
{
    std::ostringstream out;
    int n = 0;
    for (const WindowInfo &w : windows) {
        if (!w.viewable())
            continue;
        out << (n++ ? ", " : "") << "\"" << w.title << "\" " << w.rect << (w.id == focus ? " (focused)" : "");
    }
    return n ? out.str() : std::string("none");
}

} // namespace

std::vector<WindowInfo> VirtualDisplay::topLevelWindows() const
{
    sync();
    std::vector<WindowInfo> result;
    Window rootReturn, parent, *children = nullptr;
    unsigned count = 0;
    {
        XErrorTrap trap(d->dpy);
        if (!XQueryTree(d->dpy, d->root, &rootReturn, &parent, &children, &count))
            return result;
    }
    // Children come bottom to top; the answer goes top to bottom.
    for (unsigned i = count; i-- > 0;) {
        const Window top = children[i];
        XErrorTrap trap(d->dpy);
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(d->dpy, top, &attributes) || trap.failed() || attributes.c_class == InputOnly)
            continue;
        Window client = hasWmState(*d, top) ? top : managedDescendant(*d, top, 3);
        if (trap.failed())
            continue;
        WindowInfo info;
        info.id = client != None ? client : top;
        info.frame = top;
        info.popup = attributes.override_redirect;
        if (describe(*d, info))
            result.push_back(info);
    }
    if (children)
        XFree(children);
    return result;
}

std::vector<WindowInfo> VirtualDisplay::windowsWithTitle(const std::string &title) const
{
    std::vector<WindowInfo> result;
    for (WindowInfo &w : topLevelWindows())
        if (w.title == title)
            result.push_back(std::move(w));
    return result;
}

WindowInfo VirtualDisplay::findWindow(const std::string &title, Milliseconds timeout) const
{
    std::optional<WindowInfo> found;
    std::vector<WindowInfo> last;
    waitUntil(
        [&] {
            last = topLevelWindows();
            // Under a window manager a window counts once it has its frame,
            // so that its frame rectangle and position are the final ones.
            for (bool popups : {false, true})
                for (const WindowInfo &w : last)
                    if (w.viewable() && w.popup == popups && w.title == title &&
                        (popups || !hasWindowManager() || w.frame != w.id)) {
                        found = w;
                        return true;
                    }
            return false;
        },
        timeout, 25ms);
    if (!found)
        throw Error("no window titled \"" + title + "\" appeared on " + d->name + " within " +
                    std::to_string(scaledTimeout(timeout).count()) +
                    " ms; the windows there are: " + describeViewable(last, focusedWindow()));
    return *found;
}

std::optional<WindowInfo> VirtualDisplay::windowInfo(WindowId id) const
{
    sync();
    WindowInfo info;
    info.id = id;
    // The frame is the ancestor just below the root.
    Window w = id;
    while (true) {
        Window rootReturn, parent, *children = nullptr;
        unsigned count = 0;
        XErrorTrap trap(d->dpy);
        const Status ok = XQueryTree(d->dpy, w, &rootReturn, &parent, &children, &count);
        if (children)
            XFree(children);
        if (!ok || trap.failed())
            return std::nullopt;
        if (parent == d->root || parent == None)
            break;
        w = parent;
    }
    info.frame = w;
    XWindowAttributes attributes;
    XErrorTrap trap(d->dpy);
    if (!XGetWindowAttributes(d->dpy, w, &attributes) || trap.failed())
        return std::nullopt;
    info.popup = attributes.override_redirect;
    if (!describe(*d, info))
        return std::nullopt;
    return info;
}

bool VirtualDisplay::waitWindowGone(const std::string &title, Milliseconds timeout) const
{
    return waitUntil(
        [&] {
            for (const WindowInfo &w : windowsWithTitle(title))
                if (w.viewable())
                    return false;
            return true;
        },
        timeout, 25ms);
}

WindowId VirtualDisplay::focusedWindow() const
{
    sync();
    Window focus = None;
    int revert = 0;
    XGetInputFocus(d->dpy, &focus, &revert);
    if (focus == None || focus == PointerRoot || focus == d->root)
        return 0;
    // Up to the managed client (or, without a window manager, the top level).
    Window w = focus;
    XErrorTrap trap(d->dpy);
    while (true) {
        if (hasWmState(*d, w))
            return w;
        Window rootReturn, parent, *children = nullptr;
        unsigned count = 0;
        const Status ok = XQueryTree(d->dpy, w, &rootReturn, &parent, &children, &count);
        if (children)
            XFree(children);
        if (!ok || trap.failed() || parent == None)
            return 0;
        if (parent == d->root)
            return w;
        w = parent;
    }
}

void VirtualDisplay::activateWindow(const WindowInfo &window, Milliseconds timeout) const
{
    Display *dpy = d->dpy;
    auto request = [&] {
        XErrorTrap trap(dpy);
        if (hasWindowManager()) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window.id;
            event.xclient.message_type = d->atom("_NET_ACTIVE_WINDOW");
            event.xclient.format = 32;
            event.xclient.data.l[0] = 2; // from a pager: the user asked for it
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(dpy, d->root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        } else {
            XRaiseWindow(dpy, window.frame ? window.frame : window.id);
            XSetInputFocus(dpy, window.id, RevertToParent, CurrentTime);
        }
    };
    request();
    int polls = 0;
    const bool done = waitUntil(
        [&] {
            if (focusedWindow() == window.id)
                return true;
            if (++polls % 50 == 0)
                request(); // asked too early (e.g. before the window was mapped)
            return false;
        },
        timeout, 20ms);
    if (!done)
        throw Error("could not activate \"" + window.title + "\" on " + d->name);
}

} // namespace e2e

namespace e2e {

WindowId VirtualDisplay::frameAt(int x, int y) const
{
    sync();
    Window child = None;
    int wx = 0, wy = 0;
    XTranslateCoordinates(d->dpy, d->root, d->root, x, y, &wx, &wy, &child);
    return child == None ? 0 : child;
}

} // namespace e2e
