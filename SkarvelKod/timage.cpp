#include "SkarvelKod/timage.h"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "canvas/memory_room.h"
#include "canvas/tcanvas.h"
#include "platform/image_bridge.h"

TImage::TImage(QWidget *parent) : QWidget(parent)
{
    // The picture covers the control: nothing under it is erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    Picture.OnChange = [this](const Rect &area) { pictureChanged(area); };
}

int TImage::DeviceWidth() const { return int(std::lround(width() * devicePixelRatioF())); }
int TImage::DeviceHeight() const { return int(std::lround(height() * devicePixelRatioF())); }

TCanvas &TImage::Canvas()
{
    // The toolkit makes the window's image, a frame of the control's size,
    // when the control first paints: a picture made before that leaves room
    // for it too, so that neither starves the toolkit.
    if (Picture.Empty() && !painted_) {
        const std::uint64_t frame = std::uint64_t(std::max(DeviceWidth(), 0)) * std::uint64_t(std::max(DeviceHeight(), 0)) * 4;
        memory::requireRoomFor(frame, frame);
    }
    return Picture.CanvasFor(DeviceWidth(), DeviceHeight());
}

void TImage::SetBackdrop(const QImage *backdrop)
{
    backdrop_ = backdrop;
    update();
}

void TImage::pictureChanged(const Rect &area)
{
    if (area.isEmpty())
        return;
    // Device pixels to the logical coordinates Qt repaints in, rounded outward.
    const qreal ratio = devicePixelRatioF();
    const int left = int(std::floor(area.left / ratio));
    const int top = int(std::floor(area.top / ratio));
    const int right = int(std::ceil(area.right / ratio));
    const int bottom = int(std::ceil(area.bottom / ratio));
    update(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
}

void TImage::paintEvent(QPaintEvent *event)
{
    painted_ = true;
    QImage image;
    if (!Picture.Empty())
        image = platform::imageView(Picture.Bitmap());
    else if (backdrop_)
        image = *backdrop_;
    if (image.isNull()) {
        // No picture yet (it could not be made) and no reading to show: white.
        QPainter(this).fillRect(event->rect(), Qt::white);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    image.setDevicePixelRatio(ratio);
    QPainter painter(this);
    // Only the damaged rectangle: its device-pixel counterpart of the picture.
    const QRect logical = event->rect();
    const QRect device(int(std::floor(logical.x() * ratio)), int(std::floor(logical.y() * ratio)),
                       int(std::ceil(logical.width() * ratio)), int(std::ceil(logical.height() * ratio)));
    const QRect source = device.intersected(image.rect());
    if (source.isEmpty())
        return;
    painter.drawImage(QRectF(source.x() / ratio, source.y() / ratio, source.width() / ratio, source.height() / ratio),
                      image, source);
}

void TImage::mousePressEvent(QMouseEvent *event)
{
    if (OnMouseDown)
        OnMouseDown(mouseButtonOf(event), shiftStateOf(event), devicePixelX(this, event), devicePixelY(this, event));
}

void TImage::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double-click is a press like any other.
    if (OnMouseDown)
        OnMouseDown(mouseButtonOf(event), shiftStateOf(event, true), devicePixelX(this, event),
                    devicePixelY(this, event));
}

void TImage::mouseMoveEvent(QMouseEvent *event)
{
    if (OnMouseMove)
        OnMouseMove(shiftStateOf(event), devicePixelX(this, event), devicePixelY(this, event));
}

void TImage::mouseReleaseEvent(QMouseEvent *event)
{
    if (OnMouseUp)
        OnMouseUp(mouseButtonOf(event), shiftStateOf(event), devicePixelX(this, event), devicePixelY(this, event));
}
