#pragma once

// A private headless Wayland desktop for end-to-end tests: sway with the
// headless backend, a private session bus, PipeWire and the desktop portal
// (the wlr and gtk backends), Xwayland when asked, and a virtual pointer and
// keyboard held for the whole session.
//
//   e2e::WaylandSession session;                       // 1024x768, scale 1
//   session.paintDesktop(e2e::Pattern::A);
//   e2e::Program app(session, SKARVEL_PATH);           // Qt's wayland platform
//   auto w = session.findWindow("Скарвел");            // from sway's tree
//   session.click({100, 100}, e2e::RightButton);       // layout coordinates
//   session.key("Escape");
//   EXPECT_TRUE(session.compareDesktop(e2e::Pattern::A).matches()); // grim
//
// Coordinates: windows and input are in sway's layout (logical pixels);
// pictures (grab) are in the output's device pixels (scale x logical).
//
// sway refuses to run as root, so as root it runs as the system user
// skarvel-sway (made on first use); everything else runs as the test. The
// wlr portal backend writes every screenshot to /tmp/out.png: as root the
// first session of a test process moves the process into a mount namespace
// of its own where /tmp/out.png is a private file, so that sessions of
// parallel tests never read each other's screenshots. ctest also runs the
// Wayland tests one at a time (RESOURCE_LOCK), for runs without root.

#include "harness.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

struct WaylandOptions {
    int width = 1024;     // each output's mode, device pixels
    int height = 768;
    int scale = 1;        // each output's scale
    int outputs = 1;      // side by side, left to right
    int secondWidth = 640;  // the second output's mode, when there are two
    int secondHeight = 480;
    bool xwayland = false;  // start Xwayland and let the test's user reach it
    bool portal = true;     // start PipeWire and the desktop portal
};

// A window as sway shows it.
struct WaylandWindow {
    long id = 0;          // sway's container id
    std::string title;
    Rect rect;            // layout coordinates
    bool focused = false;
    bool fullscreen = false;
    bool floating = false;
    bool xwayland = false;
    std::string output;   // the output it is on
};
std::ostream &operator<<(std::ostream &out, const WaylandWindow &w);

class WaylandSession {
public:
    explicit WaylandSession(const WaylandOptions &options = {});
    ~WaylandSession();
    WaylandSession(const WaylandSession &) = delete;
    WaylandSession &operator=(const WaylandSession &) = delete;

    const WaylandOptions &options() const;
    // What a client needs: the absolute path of sway's socket, the session
    // bus, and (with Xwayland) the X display's name.
    const std::string &waylandDisplay() const;
    const std::string &busAddress() const;
    const std::string &x11Display() const;

    // Output names (HEADLESS-1, ...) and their rectangles in the layout.
    std::vector<std::string> outputNames() const;
    Rect outputRect(int output = 0) const;
    Rect layoutRect() const;
    // The output's device pixels: its rect x scale, from the origin.
    Rect deviceRect(int output = 0) const;

    // Every output shows the pattern over the whole layout in device pixels
    // (output i shows it from its layout position x scale); returns once
    // grim reads it back (or, when waitShown is false, once the desktop's
    // client has drawn it, which may be below the program's windows).
    void paintDesktop(Pattern pattern, bool waitShown = true);
    // The output's picture, device pixels, placed at (0, 0).
    Image grab(int output = 0) const;
    DesktopDiff compareDesktop(Pattern pattern, int output = 0, const std::vector<Rect> &ignore = {}) const;
    // The pattern's colour at a device pixel of an output.
    Rgb desktopColor(Pattern pattern, int output, int x, int y) const;

    // Windows, from sway's tree.
    std::vector<WaylandWindow> windows() const;
    WaylandWindow findWindow(const std::string &title, Milliseconds timeout = defaultTimeout) const;
    bool waitWindowGone(const std::string &title, Milliseconds timeout = defaultTimeout) const;
    std::string focusedTitle() const;

    // Input through the virtual pointer and keyboard, layout coordinates.
    void moveTo(double x, double y);
    void moveTo(Point p) { moveTo(p.x, p.y); }
    void press(int button = LeftButton);
    void release(int button = LeftButton);
    void click(Point p, int button = LeftButton);
    void drag(Point from, Point to, int steps = 10, int button = LeftButton);
    // A key by its XKB keysym name ("Escape", "Return", "F4", "a").
    void key(const std::string &name, unsigned modifiers = NoModifier);
    void typeText(const std::string &utf8);

    // A sway command (swaymsg), its answer; throws when it fails.
    std::string swaymsg(const std::vector<std::string> &args) const;

    // Stops the portal (its frontend and backends): a desktop without one.
    void stopPortal();

    // The environment of a client of the session ("NAME=value").
    std::vector<std::string> clientEnvironment() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace e2e
