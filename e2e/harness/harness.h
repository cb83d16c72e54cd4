#pragma once

// The end-to-end test harness: runs a real program on a private X server and
// looks at it the way a person would.
//
//   e2e::VirtualDisplay display;                   // Xvfb + openbox, 1024x768x24
//   display.paintDesktop(e2e::Pattern::A);         // a known desktop
//   e2e::Program app(display, SKARVEL_PATH);       // the program under test
//   auto w = display.findWindow("Опции");          // waits for it, throws if absent
//   display.click(w.rect.x + 10, w.rect.y + 10);   // synthetic input through XTest
//   display.typeText("Тест 1.bmp");
//   display.key(XK_Return);                        // keysyms from <X11/keysym.h>
//   EXPECT_TRUE(e2e::waitUntil([&] { return display.pixel(5, 5) == e2e::Rgb{255, 0, 0}; }));
//   EXPECT_EQ(app.waitExit(), 0);
//
// Principles:
// - Nothing is hard-coded that could collide with another test running at the
//   same time: Xvfb picks its own display number (-displayfd), every file lives
//   in a private temporary directory.
// - Nothing sleeps for a fixed time. Every wait polls a condition until a
//   generous timeout; the environment variable SKARVEL_E2E_TIMEOUT_SCALE
//   (a positive number, default 1) multiplies every timeout for slow machines.
// - Everything started is stopped: destructors kill whole process groups, and
//   every child also gets SIGTERM from the kernel if the test process dies
//   (PR_SET_PDEATHSIG; create displays and programs on a thread that outlives
//   them, e.g. the test's own thread).
// - Failures are exceptions (e2e::Error) whose message says what was expected
//   and what was found; GoogleTest reports them as test failures.
//
// Rules that keep the tests from failing one run in twenty. Several programs
// (the server, the window manager, the program under test) each handle their
// events in their own time, so a step that "must be done by now" is a race:
// - Every wait waits for an observable condition (a pixel, a window, the
//   focus, a file, an exit), never a fixed time and never a retry of input.
// - No input before the window that should receive it has the keyboard focus
//   (activateWindow, or focusedWindow() in a waitUntil), and no key right
//   after a click without the click having arrived (release() sees to it).
// - A change of the keyboard map is confirmed before the next key: the window
//   manager drops and remakes its key grabs when it hears of the change, and
//   a shortcut sent meanwhile goes to the program. key() and typeText() wait
//   for the window manager's answer to a request sent after the change.
// - A window manager's shortcut (Alt+F4) acts on the window it thinks
//   focused; activate the window first, even if the program focused it.
// - A window manager's own drag (a window moved by its title bar) follows the
//   motions it has handled: openbox merges the motions it finds queued into
//   one, so a drag sent faster than it reads starts and never moves. Wait for
//   it after each step (waitForWindowManager).
// - A window counts as shown once it is viewable in its frame and painted
//   (a known pixel), not once it exists. A window that should take a click
//   is in front where the click lands (frameAt) and has the keyboard: a
//   window manager maps a new window first and raises it a moment later.
// - A window's frame is read anew while waiting (windowInfo), never kept
//   from the first sight: the frame seen first need not be the final one.
// - A seed of anything random is printed and can be replayed through an
//   environment variable. scripts/test --stress N runs the end-to-end tests
//   N times at -j2 and N/3 at -j4; a new test should pass it before it lands.
// - The desktop changes the way a person's does, through a client, never by
//   reconfiguring the display: sway's "output ... bg" resets the output and
//   its input devices, and for a frame or two shows no full-screen window.
//
// Tests of the program are built with skarvel_add_e2e_test() (see
// e2e/CMakeLists.txt), which links this library and defines SKARVEL_PATH.
//
// This header includes no X11 or Qt header; X resource ids are plain unsigned
// longs and keysyms come from <X11/keysym.h>, which defines only XK_ names.
// A test that includes <X11/Xlib.h> itself should do so after Qt and
// GoogleTest headers: Xlib defines macros such as None, Bool and Status.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

struct _XDisplay; // Xlib's Display

namespace e2e {

using namespace std::chrono_literals;
using Milliseconds = std::chrono::milliseconds;

// What every harness function throws.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string &message) : std::runtime_error(message) {}
};

// ---------------------------------------------------------------------------
// Waiting

constexpr Milliseconds defaultTimeout = 10s;

// SKARVEL_E2E_TIMEOUT_SCALE applied to a timeout.
Milliseconds scaledTimeout(Milliseconds timeout);

// Calls predicate until it returns true (then returns true) or until the
// scaled timeout has passed (then returns false after one last try).
bool waitUntil(const std::function<bool()> &predicate, Milliseconds timeout = defaultTimeout,
               Milliseconds pollInterval = 20ms);

// ---------------------------------------------------------------------------
// Geometry and pixels

struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point &, const Point &) = default;
};

// x, y is the top-left pixel; the rectangle covers width x height pixels.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    int right() const { return x + width; }   // one past the last column
    int bottom() const { return y + height; } // one past the last row
    bool isEmpty() const { return width <= 0 || height <= 0; }
    bool contains(int px, int py) const { return px >= x && px < right() && py >= y && py < bottom(); }
    Point center() const { return {x + width / 2, y + height / 2}; }
    Rect intersected(const Rect &other) const;
    friend bool operator==(const Rect &, const Rect &) = default;
};

// A colour with 8 bits per component, whatever the display stores.
struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb &, const Rgb &) = default;
};

std::ostream &operator<<(std::ostream &out, const Point &p);
std::ostream &operator<<(std::ostream &out, const Rect &r);
std::ostream &operator<<(std::ostream &out, const Rgb &c); // #rrggbb

// A picture of a part of the screen (or anything else): pixels in rows, and
// the place on the screen it came from (rect().x, rect().y), so that it can
// be compared with the desktop pattern at the right position.
class Image {
public:
    Image() = default;
    explicit Image(Rect rect, Rgb fill = {});

    const Rect &rect() const { return rect_; }
    int width() const { return rect_.width; }
    int height() const { return rect_.height; }
    // Image coordinates: 0 <= x < width(), 0 <= y < height(). Throws outside.
    Rgb pixel(int x, int y) const;
    void setPixel(int x, int y, Rgb color);
    // How many pixels have this colour.
    long count(Rgb color) const;

    // Writes an 8-bit RGB PNG; throws when the file cannot be written.
    void savePng(const std::filesystem::path &path) const;
    // Reads any picture file Qt reads (PNG, BMP of any depth, ...), placed at
    // the screen origin; throws when it cannot be read.
    static Image load(const std::filesystem::path &path);

    friend bool operator==(const Image &, const Image &) = default;

private:
    std::size_t index(int x, int y) const;
    Rect rect_;
    std::vector<Rgb> pixels_;
};

// ---------------------------------------------------------------------------
// The known desktop

// Two tiled desktop patterns. Tiles are tileSize pixels square and use the
// eight colours whose components are 0 or 255 (exact on 16-bit displays too).
// Neighbouring tiles always differ, the tile colours follow no period, and the
// two patterns differ in every tile, so a shifted, scaled, stale or
// channel-swapped copy of the desktop never matches.
enum class Pattern { A, B };
constexpr int tileSize = 32;

Rgb expectedDesktopColor(Pattern pattern, int x, int y);

// Where an image differs from the desktop pattern.
struct DesktopDiff {
    long mismatches = 0;     // pixels that differ (ignored areas not counted)
    long compared = 0;       // pixels compared
    Point first;             // screen position of the first mismatch, if any
    Rgb expected, actual;    // the colours there
    bool matches() const { return mismatches == 0; }
    std::string describe() const;
};
std::ostream &operator<<(std::ostream &out, const DesktopDiff &diff);

// Compares image (at its rect() on the screen) with the pattern, skipping
// the pixels inside any of the ignore rectangles (screen coordinates).
DesktopDiff compareWithDesktop(const Image &image, Pattern pattern, const std::vector<Rect> &ignore = {});

// ---------------------------------------------------------------------------
// Windows

using WindowId = unsigned long;

enum class MapState { Unmapped, Unviewable, Viewable };

// A top-level client window as the window manager shows it.
struct WindowInfo {
    WindowId id = 0;        // the client window (the one the program created)
    WindowId frame = 0;     // the window manager's frame (id itself without one)
    std::string title;      // _NET_WM_NAME, or WM_NAME, as UTF-8
    Rect rect;              // the client area in root (screen) coordinates
    Rect frameRect;         // rect grown by _NET_FRAME_EXTENTS (== rect without them)
    MapState mapState = MapState::Unmapped;
    bool popup = false;     // override-redirect: a menu, tooltip or drop-down list
    bool viewable() const { return mapState == MapState::Viewable; }
};
std::ostream &operator<<(std::ostream &out, const WindowInfo &w);

// ---------------------------------------------------------------------------
// Input

enum MouseButton { LeftButton = 1, MiddleButton = 2, RightButton = 3 };
// Bits for VirtualDisplay::key(); combine with |.
enum Modifier : unsigned { NoModifier = 0, ShiftModifier = 1, ControlModifier = 2, AltModifier = 4, SuperModifier = 8 };

// ---------------------------------------------------------------------------
// The display

// The window managers of real X11 desktops the harness can run.
//   Openbox:  openbox --sm-disable
//   Xfwm4:    xfwm4 (Xfce), compositing as it does by default
//   Metacity: metacity (GNOME Flashback), compositing
//   Mutter:   mutter --x11 --sm-disable (GNOME on Xorg), compositing through
//             OpenGL
//   I3:       i3 (tiling) with a configuration of the harness's own: a bar at
//             the bottom, everything else i3's defaults
// Xfwm4, Metacity and Mutter each get a private session bus, as in their
// desktops; settings come from their defaults, never the user's.
enum class WindowManager { Openbox, Xfwm4, Metacity, Mutter, I3 };
const char *windowManagerName(WindowManager manager);  // "openbox", "xfwm4", ...

struct DisplayOptions {
    int width = 1024;
    int height = 768;
    int depth = 24;             // 24 (32 bits per pixel), 16 (RGB 565) or 8 (palette)
    bool windowManager = true;  // run a window manager on the display
    bool sharedMemory = true;   // offer the MIT-SHM extension (Xvfb's default)
    WindowManager manager = WindowManager::Openbox; // which window manager
    // A task bar: a 40-pixel dock window along the bottom with a strut
    // (_NET_WM_STRUT_PARTIAL), painted panelColor. Under i3 the bar of its
    // configuration is the panel.
    bool panel = false;
};

// The task bar's colour.
constexpr Rgb panelColor{64, 64, 64};
constexpr int panelHeight = 40;

// A private Xvfb server (96 dpi, no screen saver, no key auto-repeat), with
// a window manager on it when asked, and one Xlib connection through which
// the harness reads the screen, finds windows and injects input. The
// destructor closes the connection and stops the window manager and Xvfb.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const DisplayOptions &options = {});
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;

    const std::string &name() const;  // ":N", for DISPLAY
    int width() const;
    int height() const;
    int depth() const;
    int bitsPerPixel() const;         // what the server stores per pixel
    Rect screenRect() const { return {0, 0, width(), height()}; }
    bool hasWindowManager() const;
    WindowManager windowManager() const; // which one, when hasWindowManager()
    pid_t serverPid() const;          // Xvfb
    pid_t windowManagerPid() const;   // the window manager (or what runs it), or 0
    // Where the panel (options.panel) came up on the screen; std::nullopt
    // without one.
    std::optional<Rect> panel() const;

    // The harness's own connection. Tests may create windows with it; events
    // on it are theirs, except MappingNotify, which the harness consumes.
    _XDisplay *xdisplay() const;
    // Flushes and waits until the server has handled every request.
    void sync() const;

    // Desktop: every place no window covers shows the pattern. Openbox and
    // i3 draw no desktop of their own, so the root window's background is
    // set to it; under the compositing window managers, which draw the
    // desktop themselves, it is a full-screen window of the desktop type
    // (_NET_WM_WINDOW_TYPE_DESKTOP), which they keep below everything.
    // Returns once the screen shows it where no window covers it.
    void paintDesktop(Pattern pattern);
    // Or any picture (true-colour displays), placed at the screen's origin.
    void paintDesktop(const Image &picture);

    // Screen reading (root window, any visual, decoded to 8-bit RGB).
    Rgb pixel(int x, int y) const;
    Image grab(const Rect &rect) const;  // rect is clipped to the screen
    Image grab() const { return grab(screenRect()); }
    void screenshot(const std::filesystem::path &pngPath) const { grab().savePng(pngPath); }
    DesktopDiff compareDesktop(Pattern pattern, const Rect &region, const std::vector<Rect> &ignore = {}) const;
    // A pixel of what a window has drawn, at a point of its client area,
    // read from the window itself (where it is in front: without a
    // compositor, covered parts read as whatever covers them). A compositing
    // window manager puts the window's drawing on the screen in its own time
    // and may miss a repaint (mutter 43 now and then keeps showing a
    // window's previous frame until the window paints again): a control's
    // state is read here; the screen, for everything else. std::nullopt
    // while the window is not on the screen.
    std::optional<Rgb> windowPixel(const WindowInfo &window, Point p) const;

    // Windows. findWindow waits until a viewable top-level client window has
    // exactly this title and throws, naming the windows that are there, when
    // none appears in time. Of several, it takes the topmost real window, and
    // a pop-up only if no real window matches.
    WindowInfo findWindow(const std::string &title, Milliseconds timeout = defaultTimeout) const;
    // Every top-level client window with exactly this title, viewable or
    // not, topmost first. Does not wait.
    std::vector<WindowInfo> windowsWithTitle(const std::string &title) const;
    // Every top-level client window, topmost first.
    std::vector<WindowInfo> topLevelWindows() const;
    // Current state of a window; std::nullopt once it has been destroyed.
    std::optional<WindowInfo> windowInfo(WindowId id) const;
    // True once no viewable window has this title.
    bool waitWindowGone(const std::string &title, Milliseconds timeout = defaultTimeout) const;
    // Raises the window and gives it the keyboard focus (through the window
    // manager when there is one); throws if it has not happened in time.
    void activateWindow(const WindowInfo &window, Milliseconds timeout = defaultTimeout) const;
    // The client window that has the keyboard focus, or 0.
    WindowId focusedWindow() const;
    // The top-level window a click at (x, y) would reach: the window
    // manager's frame (WindowInfo::frame) of the topmost window there, a
    // frame still on its way out included; 0 over the bare desktop.
    WindowId frameAt(int x, int y) const;

    // Input through XTest, in root coordinates; each call returns after the
    // server has delivered the events. moveTo also waits (briefly) until the
    // pointer is there: while openbox's click-to-focus grab holds the pointer,
    // the server would merge queued motions, and a drag would lose its steps.
    void moveTo(int x, int y);
    void moveTo(Point p) { moveTo(p.x, p.y); }
    Point pointer() const;
    void press(int button = LeftButton);
    void release(int button = LeftButton);
    // Note: two clicks at one place within the program's double-click time
    // make a double click.
    void click(int x, int y, int button = LeftButton);
    void click(Point p, int button = LeftButton) { click(p.x, p.y, button); }
    // Presses at from, moves in `steps` equal steps to `to`, releases there.
    void drag(Point from, Point to, int steps = 10, int button = LeftButton);
    // Returns once the window manager has handled every event the server has
    // sent it so far (at once without one). A drag the window manager carries
    // out, a window moved by its title bar, waits for it after each step:
    // openbox merges the motions it finds queued into one, and a drag whose
    // first motion comes merged with all the others starts and never moves.
    void waitForWindowManager();
    // Presses the modifiers, then the key, and releases them in reverse order.
    // Shift is added by itself when the keysym needs it (e.g. XK_exclam).
    // The first key after a change of the keyboard map waits until the
    // window manager has handled the change (and so has its key grabs again).
    void key(unsigned long keysym, unsigned modifiers = NoModifier);
    // Types UTF-8 text key by key: any character, Cyrillic included; '\n' is
    // Return and '\t' is Tab. A character the keyboard map lacks is bound to a
    // spare keycode first. Such bindings stay until restoreKeyboardMapping()
    // or the end of the display: a client reads the map only when it handles
    // the change notice, so undoing a binding right after typing could make a
    // slow client read the key with the map already restored.
    void typeText(const std::string &utf8);
    void restoreKeyboardMapping();

    struct Impl; // the harness's own sources share it; opaque to tests

private:
    std::unique_ptr<Impl> d;
};

// ---------------------------------------------------------------------------
// Files

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// by the destructor.
class TempDir {
public:
    explicit TempDir(const std::string &prefix = "skarvel-e2e");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path operator/(const std::string &name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path &path);

// ---------------------------------------------------------------------------
// The program under test

struct ProgramOptions {
    std::vector<std::string> args{};
    // Added to (or replacing) the inherited environment.
    std::map<std::string, std::string> env{};
    // Removed from the inherited environment.
    std::vector<std::string> unsetEnv{};
    // Defaults to home().
    std::filesystem::path workingDirectory{};
    // Where stdout and stderr go; defaults to a file in the private directory.
    std::filesystem::path outputFile{};
};

class WaylandSession; // wayland_session.h
class GnomeSession;   // gnome_session.h

// Which of Qt's platforms a program on a Wayland session uses.
enum class WaylandPlatform { Native, Xwayland };

// A program started on a display, in its own process group, stdin from
// /dev/null. Its environment is the test's, plus:
//   DISPLAY=<the display>, QT_QPA_PLATFORM=xcb, LC_ALL=C.UTF-8,
//   HOME and XDG_CONFIG_HOME / XDG_CACHE_HOME / XDG_DATA_HOME /
//   XDG_RUNTIME_DIR inside a private directory (home()) that is removed with
//   the Program, so a test never touches the real home;
// minus WAYLAND_DISPLAY and XDG_SESSION_TYPE (which would send the screen
//   read to the desktop portal), SESSION_MANAGER, XDG_CURRENT_DESKTOP,
//   DESKTOP_SESSION, QT_QPA_PLATFORMTHEME, QT_STYLE_OVERRIDE,
//   QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS,
//   QT_WAYLAND_DISABLE_WINDOWDECORATION, which would make the look
//   depend on the machine. options.env and options.unsetEnv override all this.
// The destructor kills the whole process group (what the program started
// too) if kill() has not done so.
class Program {
public:
    Program(const VirtualDisplay &display, const std::filesystem::path &executable, ProgramOptions options = {});
    // On a Wayland session (wayland_session.h): WAYLAND_DISPLAY, the session
    // bus, XDG_SESSION_TYPE=wayland and QT_QPA_PLATFORM=wayland, or xcb with
    // DISPLAY on the session's Xwayland; otherwise as above.
    Program(const WaylandSession &session, const std::filesystem::path &executable, ProgramOptions options = {},
            WaylandPlatform platform = WaylandPlatform::Native);
    // On GNOME Shell (gnome_session.h): as on a Wayland session, natively.
    Program(const GnomeSession &session, const std::filesystem::path &executable, ProgramOptions options = {});
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    pid_t pid() const { return pid_; }
    const std::filesystem::path &home() const { return home_; }
    const std::filesystem::path &outputFile() const { return outputFile_; }
    std::string output() const;  // what it wrote to stdout and stderr so far

    bool running();
    // The exit code once it has exited (128 + signal number after a signal
    // death, like a shell reports it), std::nullopt if still running after
    // the timeout. Waiting again returns the same code.
    std::optional<int> waitExit(Milliseconds timeout = defaultTimeout);
    // True if the last exit was a signal death.
    bool killedBySignal() const { return signal_ != 0; }
    void sendSignal(int signal);
    // SIGKILL to the whole process group; returns after the process is gone.
    void kill();

    // From /proc/<pid>/status, in KiB: VmRSS and VmHWM. Throw once the
    // program has exited.
    long residentMemoryKiB() const;
    long peakMemoryKiB() const;
    // VmPeak: the most address space it has had mapped, which is what an
    // address-space limit (prlimit --as) counts.
    long peakAddressSpaceKiB() const;
    // For a failure's report: each thread's state and kernel wait, and,
    // where gdb is installed, every thread's stack.
    std::string threadStates() const;

private:
    void reap();
    // Every start: a private home and the common variables over the given
    // environment (the test's own for X, the session's client environment
    // on Wayland), then options.env and options.unsetEnv.
    enum class RuntimeDir { Session, Private };
    void start(std::vector<std::string> env, const std::filesystem::path &executable, ProgramOptions options,
               RuntimeDir runtimeDir = RuntimeDir::Session);
    std::unique_ptr<TempDir> private_;
    std::filesystem::path home_;
    std::filesystem::path outputFile_;
    pid_t pid_ = 0;
    std::optional<int> exitCode_;
    int signal_ = 0;
    bool reaped_ = false;
};

} // namespace e2e
