#pragma once

// The small standard controls of the options window.

#include <QRadioButton>
#include <QScrollBar>
#include <QWidget>

#include <functional>

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

// A scroll bar whose arrow keys follow the platform's standard bar: Up and
// Left step towards the minimum, Down and Right towards the maximum, whatever
// the orientation.
class TScrollBar : public QScrollBar {
    Q_OBJECT
public:
    TScrollBar(Qt::Orientation orientation, QWidget *parent);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// A radio button of a group box. The arrow keys hand the focus on through
// OnArrowKey (+1 for Right and Down, -1 for Left and Up); a button that
// receives the focus from the keyboard while unchecked becomes checked.
class TRadioButton : public QRadioButton {
    Q_OBJECT
public:
    explicit TRadioButton(QWidget *parent);

    std::function<void(TRadioButton *, int)> OnArrowKey;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
};

using platform::toQColor;
