#pragma once

#include <QWidget>

#include <functional>

#include "canvas/tpicture.h"
#include "shell/events.h"

class QImage;
class TCanvas;

// The picture control: shows its picture unscaled at its top-left corner, one
// picture pixel per device pixel, and repaints only what a drawing operation
// changed. Its canvas is made on the first request, at the control's size in
// device pixels at that moment.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget *parent);

    TPicture Picture;
    TCanvas &Canvas();

    // The control's size in device pixels.
    int DeviceWidth() const;
    int DeviceHeight() const;

    // Shown while the picture is still empty (see the surface).
    void SetBackdrop(const QImage *backdrop);

    // Pointer events, in device pixels of the control.
    std::function<void(TMouseButton, TShiftState, int, int)> OnMouseDown;
    std::function<void(TShiftState, int, int)> OnMouseMove;
    std::function<void(TMouseButton, TShiftState, int, int)> OnMouseUp;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void pictureChanged(const Rect &area);
    const QImage *backdrop_ = nullptr;
    bool painted_ = false; // the toolkit has made the window's image
};
