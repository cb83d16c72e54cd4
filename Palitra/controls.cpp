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

TScrollBar::TScrollBar(Qt::Orientation orientation, QWidget *parent) : QScrollBar(orientation, parent)
{
    setSingleStep(1);
    setPageStep(1);
    setFocusPolicy(Qt::StrongFocus);
}

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

TRadioButton::TRadioButton(QWidget *parent) : QRadioButton(parent)
{
    setFocusPolicy(Qt::ClickFocus);
    connect(this, &QAbstractButton::toggled, this,
            [this](bool checked) { setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus); });
}

void TRadioButton::keyPressEvent(QKeyEvent *event)
{
    const bool forward = event->key() == Qt::Key_Right || event->key() == Qt::Key_Down;
    if (!forward && event->key() != Qt::Key_Left && event->key() != Qt::Key_Up) {
        QRadioButton::keyPressEvent(event);
        return;
    }
    event->accept();
    // The group's controls that take the focus at all, tab stops or not, in
    // the focus chain's order; a compound control counts once, as its proxy.
    QWidget *group = parentWidget();
    QList<QWidget *> controls;
    for (QWidget *w = window()->nextInFocusChain(); w != window(); w = w->nextInFocusChain())
        if (group->isAncestorOf(w) && w->focusPolicy() != Qt::NoFocus && !w->focusProxy())
            controls.append(w);
    const qsizetype n = controls.size();
    const qsizetype at = controls.indexOf(this);
    for (qsizetype step = 1; step < n; ++step) {
        QWidget *next = controls[((at + (forward ? step : -step)) % n + n) % n];
        if (next->isEnabled() && next->isVisible()) {
            next->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return;
        }
    }
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
