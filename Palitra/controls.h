#pragma once

// The small standard controls of the options window.

#include <QRadioButton>
#include <QScrollBar>
#include <QWidget>

#include "canvas/color_ref.h"
#include "platform/qt_color.h"

// A rectangle shape: a one-pixel outline in the pen colour on its outer edge
// and the interior filled with the brush colour.
class TShape : public QWidget {
    Q_OBJECT
public:
    explicit TShape(QWidget *parent);

    ColorRef BrushColor() const { return brushColor_; }
    void SetBrushColor(ColorRef color);
    ColorRef PenColor() const { return penColor_; }
    void SetPenColor(ColorRef color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ColorRef brushColor_ = clWhite;
    ColorRef penColor_ = clBlack;
};

// A scroll bar that takes the keyboard focus and moves one unit at every
// step: arrows, arrow keys, trough clicks and pages. Its arrow keys follow the
// platform's standard bar: Up and Left step towards the minimum, Down and
// Right towards the maximum, whatever the orientation.
class TScrollBar : public QScrollBar {
    Q_OBJECT
public:
    TScrollBar(Qt::Orientation orientation, QWidget *parent);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// A radio button of a group box. The checked button is the group's only tab
// stop (the others take the focus on a click only). Right and Down move the
// focus to the next control of the group box in Qt's focus chain, Left and Up
// to the previous one, wrapping round within the group box and skipping what
// is disabled; a button that receives the focus from the keyboard while
// unchecked becomes checked.
class TRadioButton : public QRadioButton {
    Q_OBJECT
public:
    explicit TRadioButton(QWidget *parent);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
};

using platform::toQColor;
