#pragma once

// The screen read on Wayland desktops. No Wayland client may read the screen
// itself, and under Xwayland the X root window holds none of the Wayland
// windows, so the picture of the desktop comes from the desktop portal
// (org.freedesktop.portal.Screenshot, without asking the user), as a PNG
// file whose file:// address the portal returns. Some desktops save that
// file where the person keeps pictures; the file made for this request is
// deleted once it has been read, and nothing else is.

#include <QImage>
#include <QString>

#include <chrono>
#include <memory>

namespace platform {

// Whether the screen has to be read through the portal: on Qt's wayland
// platform, and on any platform when the session is a Wayland one
// (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland).
bool waylandSession();

struct PortalShot {
    QImage image;  // the whole desktop, every output, in device pixels
    QString error; // why there is no image: the portal's answer or D-Bus's error
};

// How long the portal may take. The Screenshot call only opens a request and
// returns at once; its answer may wait for the person, when the desktop
// first asks whether the program may take screenshots at all.
struct PortalLimits {
    std::chrono::milliseconds call{std::chrono::seconds(10)};      // until the call returns the request
    std::chrono::milliseconds answer{std::chrono::seconds(120)};   // then until the request is answered
};

// One screenshot through the portal, asked on a thread of its own so that the
// portal's time hides behind the program's start-up.
class PortalScreenshot {
public:
    explicit PortalScreenshot(PortalLimits limits = {});
    ~PortalScreenshot();
    PortalScreenshot(const PortalScreenshot &) = delete;
    PortalScreenshot &operator=(const PortalScreenshot &) = delete;

    // Asks the portal, once.
    void start();
    // The answer: waits for it (at most the two limits, and a little for the
    // image to load), then hands it over once. Starts the request first if
    // nobody has.
    PortalShot take();

private:
    struct State;
    std::shared_ptr<State> state_;
};

// The program's own request, with the limits above.
void startPortalScreenshot();
PortalShot takePortalScreenshot();

// For the handler of a termination signal (safe in one). While the program
// waits for the portal's answer, which may mean a person still reading the
// desktop's question, nothing has been drawn yet and the event loop is not
// running: the program then ends at once, with exit code 0, and so it does
// when the wait begins after such a signal. Otherwise nothing happens here.
void endIfWaitingForPortal();

} // namespace platform
