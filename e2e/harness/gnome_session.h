#pragma once

// A private headless GNOME Shell (Wayland, no Xwayland) for end-to-end
// tests: a stand-in system bus, a private session bus and HOME, the shell
// with one virtual monitor, PipeWire, and the desktop portal with GNOME's
// backend; mutter's remote desktop for input; the portal's screenshot to
// read the screen.
//
//   e2e::GnomeSession session;                        // 1920x1080, scale 1
//   e2e::Program app(session, SKARVEL_PATH);
//   auto w = session.findWindow("Скарвел");           // from the shell
//   session.click({100, 100}, e2e::RightButton);
//   Image screen = session.grab();
//
// Coordinates: GNOME lays its monitors out in device pixels by default
// (mutter's physical layout mode), whatever their scale, so windows, input
// and pictures all use the monitor's device pixels; a program at scale 2
// gets half of them as its logical pixels.
//
// Everything runs as the test's user (root is fine). The shell runs with a
// small extension of the session's own that switches on its unsafe mode, so
// that the harness may ask the shell about its windows and dialogs
// (org.gnome.Shell.Eval); a person's desktop has it off, which changes
// nothing of what a program sees.
//
// The portal asks the person before the first screenshot of a program and
// keeps the answer in the permission store, per application id; every
// program without a sandbox has the empty one, the harness's screen reads
// included. By default the session stores "yes" before anything runs;
// a test of the question itself starts without (GnomeOptions::grant) and
// may read the screen only once an answer is stored.

#include "harness.h"
#include "session_processes.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct GnomeOptions {
    int width = 1920;   // the virtual monitor, device pixels
    int height = 1080;
    bool grant = true;  // store the portal's "yes" for programs without an id
};

// A window as the shell shows it; rect is the window's frame
// (with a client's own title bar, when it draws one).
struct GnomeWindow {
    std::string title;
    Rect rect;
    bool focused = false;
    bool fullscreen = false;
};
std::ostream &operator<<(std::ostream &out, const GnomeWindow &w);

class GnomeSession : public detail::ToolInput {
public:
    explicit GnomeSession(const GnomeOptions &options = {});
    ~GnomeSession() override;

    // The session's HOME, where the shell saves the portal's screenshots
    // (Pictures/, or HOME itself without it).
    const std::filesystem::path &home() const;
    std::vector<std::string> clientEnvironment() const;

    // The monitor's scale (1 or 2), through mutter's display configuration;
    // returns once the shell has it.
    void setScale(int scale);
    int scale() const;
    Rect deviceRect() const;   // the monitor
    // The top bar's rows in device pixels: its clock and the screen-sharing
    // indicator change on their own, so comparisons leave them out.
    Rect topBar() const;

    // The wallpaper: the pattern over the monitor's device pixels ("zoom").
    // Returns once the shell shows it (loaded, faded in), whether or not a
    // window covers it.
    void paintDesktop(Pattern pattern);

    // The monitor's picture through the portal, device pixels. The shell
    // flashes the screen after each screenshot, and the next screenshot
    // would show the flash: a read waits until the flash of the last one
    // (a program's too) is over, and until its own is. The shell's file is
    // removed at once.
    Image grab() const;
    // Whether two pictures agree outside the top bar; a description of the
    // first difference otherwise.
    std::optional<std::string> differenceBelowTopBar(const Image &a, const Image &b) const;

    // The windows the shell shows (placed and drawn), topmost last.
    std::vector<GnomeWindow> windows() const;
    // Waits for a window with this title and a size (the shell maps a
    // window before its first configure).
    GnomeWindow findWindow(const std::string &title, Milliseconds timeout = defaultTimeout) const;
    bool waitWindowGone(const std::string &title, Milliseconds timeout = defaultTimeout) const;
    std::string focusedTitle() const;
    // Asks the shell to raise and focus the windows with this title, as a
    // person's click on them would.
    void activate(const std::string &title);
    // The texts of the shell's open (fully shown) modal dialog, such as the
    // portal's question; empty when none is open.
    std::vector<std::string> openDialogTexts() const;
    // The label of the shell's control with the keyboard focus (a dialog's
    // button), or "".
    std::string shellFocusLabel() const;
    // True once the shell has no window left, fading ones included.
    bool waitNoWindows(Milliseconds timeout = defaultTimeout) const;

    // Input through mutter's remote desktop.
    // (click, drag, key, typeText: detail::ToolInput)
    using ToolInput::moveTo;
    void moveTo(double x, double y) override;
    // Waits until the shell picks the window under the pointer.
    void press(int button = LeftButton) override;

    // A command line (sh -c) run as in a terminal of the session; its exit
    // status, and its output through *output.
    int runCommand(const std::string &line, std::string *output = nullptr) const;

    // The portal's stored answer for programs without an application id:
    // "yes", "no", or "forget" (none: the next request asks).
    void setPermission(const std::string &answer);

    struct Impl;

private:
    std::string inputCommand(const std::string &text) const override;
    std::filesystem::path paintDesktopFile(Pattern pattern);
    std::unique_ptr<Impl> d;
};

} // namespace e2e
