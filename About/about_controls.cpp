#include "About/about_controls.h"

#include <QMouseEvent>
#include <QPainter>

#include <limits>

namespace about {

namespace {

// The pointer position as the move handlers take it.
void forwardMove(const std::function<void(TShiftState, int, int)> &handler, QMouseEvent *event)
{
    event->accept();
    if (handler)
        handler(shiftStateOf(event), int(event->position().x()), int(event->position().y()));
}

} // namespace

// --- Label ------------------------------------------------------------------

Label::Label(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

void Label::SetCaption(const QString &caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    adjustSize();
    update();
}

void Label::SetFontColor(ColorRef color)
{
    if (color == fontColor_)
        return;
    fontColor_ = color;
    update();
}

void Label::SetAutoSize(bool on)
{
    autoSize_ = on;
    adjustSize();
}

void Label::SetWordWrap(bool on)
{
    wordWrap_ = on;
    adjustSize();
    update();
}

int Label::textFlags() const
{
    return Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs | (wordWrap_ ? Qt::TextWordWrap : 0);
}

void Label::adjustSize()
{
    if (!autoSize_)
        return;
    const QFontMetrics metrics(font());
    if (wordWrap_) {
        const QRect wrapped = metrics.boundingRect(QRect(0, 0, width(), std::numeric_limits<int>::max() / 2),
                                                   textFlags(), caption_);
        resize(width(), qMax(wrapped.height(), metrics.height()));
    } else {
        resize(metrics.horizontalAdvance(caption_), metrics.height());
    }
}

void Label::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        adjustSize();
    QWidget::changeEvent(event);
}

void Label::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(toQColor(fontColor_));
    painter.setFont(font());
    painter.drawText(rect(), textFlags(), caption_);
}

void Label::mouseMoveEvent(QMouseEvent *event) { forwardMove(OnMouseMove, event); }

void Label::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        pressed_ = true;
    event->accept();
}

void Label::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() != Qt::LeftButton || !pressed_)
        return;
    pressed_ = false;
    // A click is a press and a release of the primary button on the label.
    if (rect().contains(event->position().toPoint()) && OnClick)
        OnClick();
}

// --- Panel ------------------------------------------------------------------

Panel::Panel(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

void Panel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const QColor shadow = toQColor(bevelShadow), highlight = toQColor(bevelHighlight);
    auto frame = [&painter](const QRect &r, const QColor &topLeft, const QColor &bottomRight) {
        painter.setPen(topLeft);
        painter.drawLine(r.left(), r.top(), r.right(), r.top());
        painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
        painter.setPen(bottomRight);
        painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        painter.drawLine(r.right(), r.top(), r.right(), r.bottom());
    };
    const QRect outer = rect();
    frame(outer, shadow, highlight);                         // lowered
    frame(outer.adjusted(1, 1, -1, -1), highlight, shadow); // raised
}

void Panel::mouseMoveEvent(QMouseEvent *event) { forwardMove(OnMouseMove, event); }

// --- Bevel ------------------------------------------------------------------

Bevel::Bevel(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

void Bevel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(toQColor(bevelShadow));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.setPen(toQColor(bevelHighlight));
    painter.drawLine(0, 1, width() - 1, 1);
}

void Bevel::mouseMoveEvent(QMouseEvent *event) { event->accept(); }

// --- Picture ----------------------------------------------------------------

Picture::Picture(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

const QImage &Picture::Image() const
{
    if (load_) {
        const auto load = std::move(load_);
        load_ = nullptr;
        image_ = load();
    }
    return image_;
}

void Picture::SetImageLoader(std::function<QImage()> load)
{
    image_ = QImage();
    load_ = std::move(load);
    update();
}

void Picture::SetImage(const QImage &image)
{
    load_ = nullptr;
    image_ = image;
    if (!image_.isNull())
        resize(image_.size());
    update();
}

void Picture::paintEvent(QPaintEvent *)
{
    if (Image().isNull())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
}

void Picture::mouseMoveEvent(QMouseEvent *event) { forwardMove(OnMouseMove, event); }

} // namespace about
