#pragma once

#include <QWidget>

#include <functional>

#include "shell/events.h"

// A flat push button: at rest only its caption, centred, on the colour behind
// it. While the pointer is over it a one-pixel raised edge is drawn; while the
// primary button is held on it the edge is sunken and the caption moves one
// pixel right and down (raised again while the held pointer is outside). A
// release of the primary button over it is a click. It never takes the focus.
class TSpeedButton : public QWidget {
    Q_OBJECT
public:
    explicit TSpeedButton(QWidget *parent);

    QString Caption() const { return caption_; }
    void SetCaption(const QString &caption);

    std::function<void()> OnClick;
    std::function<void(TShiftState, int, int)> OnMouseMove;

    // For tests: what the button shows now.
    enum class Look { Rest, Raised, Sunken };
    Look CurrentLook() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString caption_;
    bool hover_ = false;
    bool held_ = false;   // the primary button went down on the button and is still down
    bool inside_ = false; // the pointer is over the button
};
