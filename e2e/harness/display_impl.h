#pragma once

// What the harness's sources share about a VirtualDisplay: the Xlib
// connection and its facts. Includes Xlib, so harness.h users never see it.

#include "harness.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <functional>
#include <optional>
#include <map>
#include <string>
#include <vector>

namespace e2e {

namespace detail {
struct SpawnCommand;
}

struct VirtualDisplay::Impl {
    ~Impl();

    DisplayOptions options;
    std::unique_ptr<TempDir> dir; // logs and the window manager's config and cache
    pid_t xvfb = 0;
    pid_t wm = 0;                 // the window manager, or what runs it
    Window desktopWindow = 0;     // under the window managers that draw the desktop
    Window panelWindow = 0;       // the harness's own task bar
    std::optional<Rect> panelPlace; // where the panel came up
    std::string name;

    Display *dpy = nullptr;
    int screen = 0;
    Window root = 0;
    Visual *visual = nullptr;
    int depth = 0;
    int bitsPerPixel = 0;
    int width = 0;
    int height = 0;

    // Keysyms bound to spare keycodes by typeText/key, and when each was
    // last used (for reuse when the spare keycodes run out).
    std::map<KeySym, KeyCode> boundKeys;
    std::map<KeyCode, unsigned long> lastUse;
    unsigned long useCounter = 0;
    // The keyboard map has changed since the window manager last showed
    // that it has handled such a change (see confirmKeyboardMapping).
    bool mapUnconfirmed = false;

    Atom atom(const char *atomName) const;
    void drainMappingNotify() const;
    // Returns once the window manager, if there is one, has handled every
    // event the server has sent it so far; throws if it does not answer.
    void windowManagerRoundTrip(const std::string &why);
    // Returns once the window manager, if there is one, has handled every
    // change of the keyboard map made so far; throws if it does not answer.
    void confirmKeyboardMapping();
    void startServer();
    void startWindowManager();
    void stop();

    // window_managers.cpp
    detail::SpawnCommand windowManagerCommand() const;
    bool drawsOwnDesktop() const; // the root window's background does not show
    void showDesktop(Pixmap pixmap, const std::function<Rgb(int, int)> &expected);
    void startPanel();
    std::optional<Rect> panelRect() const;
};

namespace detail {

// What runs a window manager: the program, its arguments, and variables to
// set on top of the harness's environment for it.
struct SpawnCommand {
    std::string executable;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> environment;
};

// Installs the harness's X error handler (once per process): errors are
// counted instead of ending the process, and printed unless trapped.
void installErrorHandler();

// Collects X errors for a stretch of code:
//   XErrorTrap trap(dpy); ...requests...; if (trap.failed()) ...
class XErrorTrap {
public:
    explicit XErrorTrap(Display *dpy);
    ~XErrorTrap();
    XErrorTrap(const XErrorTrap &) = delete;
    XErrorTrap &operator=(const XErrorTrap &) = delete;
    bool failed(); // syncs, then tells whether any request failed

private:
    Display *dpy_;
    unsigned long before_;
};

} // namespace detail
} // namespace e2e
