#pragma once

#include <QPoint>

#include <optional>

// Qt hands pointer positions over in logical pixels rounded to whole numbers,
// so with a scale factor of 2 every odd device pixel would be out of reach.
// The platform layer therefore watches the window system's own pointer events
// and keeps the last position in device pixels of the screen.

namespace platform {

// Starts watching (once, after the application object exists).
void watchNativePointer();

// The device-pixel screen position of the pointer event with this timestamp
// whose position agrees with Qt's logical one (within one logical pixel at
// the given ratio), if the window system reported it. Qt reads several
// window-system events before it delivers the first, so the events are told
// apart by their time, not by their order.
std::optional<QPoint> nativePointerPosition(const QPointF &logicalGlobal, qreal ratio, unsigned long timestamp);

} // namespace platform
