#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>

class QWidget;

namespace platform {

// Where a window's outer top-left corner (its frame's) goes, given its outer
// size (frame included).
using OuterPlace = std::function<QPoint(const QSize &outer)>;

// Puts a top-level window in its place when it is shown. A window manager
// adds its frame only after the window is mapped, and the dialog or window
// may still settle its size just then, so for a few seconds the window is
// checked and placed again until it sits at the place computed from its
// outer size, with its frame, for a moment. Without a window manager there is
// no frame and the first place stands. Call it before the window's first
// showing; it places the window that once and then ends by itself, so later
// showings keep wherever the window is by then.
void placeOnShow(QWidget *window, OuterPlace place);

// On Qt's Wayland platform: the window asks the compositor for the keyboard
// each time it comes onto the screen. sway, for one, gives no window the
// keyboard when it maps it above a full-screen one, not even a dialog of
// that window; a request through the activation protocol, once the window is
// mapped, gets it there (with sway's focus_on_window_activation smart or
// focus; its default, urgent, only marks the window). Qt 6.4 can ask only
// after the person's first key or button press: a box shown at start-up,
// before any, waits for a click. Elsewhere this does nothing: on X11 the
// window manager hands a new window the keyboard by itself. Call it once,
// before the window's first showing.
void askForKeyboardWhenShown(QWidget *window);

// Under i3 on X11: makes a modal box or dialog that opens above a
// full-screen window of the program modal without Qt's request to activate
// it. Qt asks the window manager to activate every modal window it maps, and
// i3 answers such a request for a window outside the full-screen one by
// ending the full-screen state: its bar showed over the frozen desktop while
// the box was open. i3 focuses a new dialog of the full-screen window by
// itself and keeps the full screen then, so the request adds nothing there.
// While the dialog is on the screen the program itself keeps the pointer,
// the keys and the window manager's close (Alt+F4) from its other windows,
// as Qt's modality does, and gives the keyboard back to the dialog when a
// click has taken it to another window of the program (i3 ends the full
// screen then, as it does whenever a window outside it takes the keyboard).
// Elsewhere (other window managers, which keep the full screen with Qt's
// modality, no window manager, Wayland, no full-screen window below) Qt's
// own modality stays. Call it before the dialog is shown; it lasts as long
// as the dialog.
void modalWithoutActivation(QWidget *dialog);

// Whether a window manager puts frames around the windows (on X11: whether
// one runs and announces itself).
bool windowManagerFrames();

} // namespace platform
