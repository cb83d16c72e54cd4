#include "shell/events.h"

#include <QMouseEvent>
#include <QWidget>

#include <cmath>
#include <limits>
#include <optional>

#include "platform/native_pointer.h"

TMouseButton mouseButtonOf(const QMouseEvent *event)
{
    switch (event->button()) {
    case Qt::LeftButton: return mbLeft;
    case Qt::MiddleButton: return mbMiddle;
    default: return mbRight;
    }
}

TShiftState shiftStateOf(const QMouseEvent *event, bool doubleClick)
{
    TShiftState s;
    const Qt::KeyboardModifiers m = event->modifiers();
    if (m & Qt::ShiftModifier)
        s |= ssShift;
    if (m & Qt::AltModifier)
        s |= ssAlt;
    if (m & Qt::ControlModifier)
        s |= ssCtrl;
    const Qt::MouseButtons b = event->buttons();
    if (b & Qt::LeftButton)
        s |= ssLeft;
    if (b & Qt::RightButton)
        s |= ssRight;
    if (b & Qt::MiddleButton)
        s |= ssMiddle;
    if (doubleClick)
        s |= ssDouble;
    return s;
}

namespace {
int toDevice(qreal logical, qreal ratio)
{
    const double v = std::floor(double(logical) * double(ratio));
    if (v <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (v >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return int(v);
}

// With a scale factor the window system's own position of the event is the
// exact one; Qt's is rounded to whole logical pixels.
std::optional<QPoint> exactDevicePosition(const QWidget *widget, const QMouseEvent *event)
{
    const qreal ratio = widget->devicePixelRatioF();
    if (ratio == 1.0)
        return std::nullopt;
    const std::optional<QPoint> screen = platform::nativePointerPosition(event->globalPosition(), ratio, event->timestamp());
    if (!screen)
        return std::nullopt;
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    return QPoint(screen->x() - toDevice(origin.x(), ratio), screen->y() - toDevice(origin.y(), ratio));
}
} // namespace

int devicePixelX(const QWidget *widget, const QMouseEvent *event)
{
    if (const std::optional<QPoint> p = exactDevicePosition(widget, event))
        return p->x();
    return toDevice(event->position().x(), widget->devicePixelRatioF());
}

int devicePixelY(const QWidget *widget, const QMouseEvent *event)
{
    if (const std::optional<QPoint> p = exactDevicePosition(widget, event))
        return p->y();
    return toDevice(event->position().y(), widget->devicePixelRatioF());
}
