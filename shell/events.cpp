#include "shell/events.h"

#include <QMouseEvent>
#include <QWidget>

#include <cmath>
#include <limits>

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
} // namespace

int devicePixelX(const QWidget *widget, const QMouseEvent *event)
{
    return toDevice(event->position().x(), widget->devicePixelRatioF());
}

int devicePixelY(const QWidget *widget, const QMouseEvent *event)
{
    return toDevice(event->position().y(), widget->devicePixelRatioF());
}
