#pragma once

// The plain controls the About window is built of: an opaque text label, a
// panel with a two-line bevel, a separator line and a picture. Each takes the
// pointer moves over it itself (they never pass to the control below or to
// the parent), whether or not it has a handler, as the window's controls do.

#include <QImage>
#include <QWidget>

#include <functional>

#include "canvas/color_ref.h"
#include "platform/qt_color.h"
#include "shell/events.h"

namespace about {

using platform::toQColor;

// A line of text on its own box, painted in the colour behind it (the
// window's colour) before the text. Sized to its text when AutoSize is on:
// the width and height of the text in its font, or, with WordWrap, the height
// of the text wrapped within the label's width.
class Label : public QWidget {
    Q_OBJECT
public:
    explicit Label(QWidget *parent);

    QString Caption() const { return caption_; }
    void SetCaption(const QString &caption);
    ColorRef FontColor() const { return fontColor_; }
    // Repaints the label only when the colour changes.
    void SetFontColor(ColorRef color);
    void SetAutoSize(bool on);
    void SetWordWrap(bool on);
    bool WordWrap() const { return wordWrap_; }

    std::function<void()> OnClick;
    std::function<void(TShiftState, int, int)> OnMouseMove;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void adjustSize();
    int textFlags() const;

    QString caption_;
    ColorRef fontColor_ = clBlack;
    bool autoSize_ = false;
    bool wordWrap_ = false;
    bool pressed_ = false;
};

// A box in the window's colour with a lowered outer and a raised inner bevel,
// one pixel each.
class Panel : public QWidget {
    Q_OBJECT
public:
    explicit Panel(QWidget *parent);
    std::function<void(TShiftState, int, int)> OnMouseMove;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
};

// A lowered, etched line along the top edge of its box.
class Bevel : public QWidget {
    Q_OBJECT
public:
    explicit Bevel(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
};

// A picture shown unscaled at the top-left corner. The control takes the
// picture's size; without a picture it keeps its own size and shows what
// lies behind it.
class Picture : public QWidget {
    Q_OBJECT
public:
    explicit Picture(QWidget *parent);

    const QImage &Image() const;
    void SetImage(const QImage &image);
    // The picture is made by `load` when it is first needed (painted or
    // asked for), not before: nobody sees it until its window is shown.
    void SetImageLoader(std::function<QImage()> load);

    std::function<void(TShiftState, int, int)> OnMouseMove;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    mutable QImage image_;
    mutable std::function<QImage()> load_;
};

// The edge colours of the bevels.
constexpr ColorRef bevelShadow = 0x00808080;
constexpr ColorRef bevelHighlight = clWhite;

} // namespace about
