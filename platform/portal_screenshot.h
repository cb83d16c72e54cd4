#pragma once

// The screen read on Wayland desktops. No Wayland client may read the screen
// itself, and under Xwayland the X root window holds none of the Wayland
// windows, so the picture of the desktop comes from the desktop portal
// (org.freedesktop.portal.Screenshot, without asking the user), as a PNG
// file whose file:// address the portal returns.

#include <QImage>
#include <QString>

#include <chrono>

namespace platform {

// Whether the screen has to be read through the portal: on Qt's wayland
// platform, and on any platform when the session is a Wayland one
// (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland).
bool waylandSession();

struct PortalShot {
    QImage image;  // the whole desktop, every output, in device pixels
    QString error; // why there is no image: the portal's answer or D-Bus's error
};

// Starts the portal's screenshot in the background, once; the answer is
// needed only at the first show of the surface, so that asking early hides
// the portal's time behind the start-up.
void startPortalScreenshot();
// The answer: waits for it (up to `timeout` after the start), then hands it
// over once. Starts the request first if nobody has.
PortalShot takePortalScreenshot(std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace platform
