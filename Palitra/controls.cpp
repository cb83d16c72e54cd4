#include "Palitra/controls.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>

// --- TShape ------------------------------------------------------------------------

TShape::TShape(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TShape::SetBrushColor(ColorRef color)
{
    if (color == brushColor_)
        return;
    brushColor_ = color;
    update();
}

void TShape::SetPenColor(ColorRef color)
{
    if (color == penColor_)
        return;
    penColor_ = color;
    update();
}

void TShape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), toQColor(penColor_));
    const QRect inside = rect().adjusted(1, 1, -1, -1);
    if (inside.isValid())
        painter.fillRect(inside, toQColor(brushColor_));
}

// --- TScrollBar --------------------------------------------------------------------

TScrollBar::TScrollBar(Qt::Orientation orientation, QWidget *parent) : QScrollBar(orientation, parent) {}

void TScrollBar::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        triggerAction(SliderSingleStepSub);
        event->accept();
        return;
    case Qt::Key_Right:
    case Qt::Key_Down:
        triggerAction(SliderSingleStepAdd);
        event->accept();
        return;
    default:
        QScrollBar::keyPressEvent(event);
    }
}

// --- TRadioButton ------------------------------------------------------------------

TRadioButton::TRadioButton(QWidget *parent) : QRadioButton(parent) {}

void TRadioButton::keyPressEvent(QKeyEvent *event)
{
    int direction = 0;
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Down: direction = 1; break;
    case Qt::Key_Left:
    case Qt::Key_Up: direction = -1; break;
    default: QRadioButton::keyPressEvent(event); return;
    }
    event->accept();
    if (OnArrowKey)
        OnArrowKey(this, direction);
}

void TRadioButton::focusInEvent(QFocusEvent *event)
{
    QRadioButton::focusInEvent(event);
    // A click checks the button on release; focus from anywhere else (the
    // arrow keys, Tab) checks it at once.
    const Qt::FocusReason reason = event->reason();
    if (!isChecked() && reason != Qt::MouseFocusReason && reason != Qt::ActiveWindowFocusReason &&
        reason != Qt::PopupFocusReason)
        setChecked(true);
}
