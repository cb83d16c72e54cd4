#include "shell/speed_button.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

TSpeedButton::TSpeedButton(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
}

void TSpeedButton::SetCaption(const QString &caption)
{
    caption_ = caption;
    update();
}

TSpeedButton::Look TSpeedButton::CurrentLook() const
{
    if (!isEnabled())
        return Look::Rest;
    if (held_)
        return inside_ ? Look::Sunken : Look::Raised;
    return hover_ ? Look::Raised : Look::Rest;
}

void TSpeedButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const Look look = CurrentLook();
    const QRect r = rect().adjusted(0, 0, -1, -1);
    if (look != Look::Rest) {
        const QColor light = palette().color(QPalette::Light);
        const QColor dark = palette().color(QPalette::Dark);
        const QColor topLeft = look == Look::Raised ? light : dark;
        const QColor bottomRight = look == Look::Raised ? dark : light;
        painter.setPen(topLeft);
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
    }
    QRect text = rect();
    if (look == Look::Sunken)
        text.translate(1, 1);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.setFont(font());
    painter.drawText(text, Qt::AlignCenter, caption_);
}

void TSpeedButton::enterEvent(QEnterEvent *event)
{
    hover_ = true;
    inside_ = true;
    update();
    QWidget::enterEvent(event);
}

void TSpeedButton::leaveEvent(QEvent *event)
{
    hover_ = false;
    inside_ = false;
    update();
    QWidget::leaveEvent(event);
}

void TSpeedButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && isEnabled()) {
        held_ = true;
        inside_ = rect().contains(event->position().toPoint());
        update();
    }
}

void TSpeedButton::mouseMoveEvent(QMouseEvent *event)
{
    if (held_) {
        const bool inside = rect().contains(event->position().toPoint());
        if (inside != inside_) {
            inside_ = inside;
            update();
        }
    }
    if (OnMouseMove)
        OnMouseMove(shiftStateOf(event), int(event->position().x()), int(event->position().y()));
}

void TSpeedButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !held_)
        return;
    held_ = false;
    const bool over = rect().contains(event->position().toPoint());
    inside_ = over;
    hover_ = over;
    update();
    if (over && OnClick)
        OnClick();
}

void TSpeedButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange)
        update();
    QWidget::changeEvent(event);
}
