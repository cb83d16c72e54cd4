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

// Whether a window manager puts frames around the windows (on X11: whether
// one runs and announces itself).
bool windowManagerFrames();

} // namespace platform
