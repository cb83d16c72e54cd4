#pragma once

#include <QFrame>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>

#include <functional>

#include "canvas/color_ref.h"

class TSpinEdit;

// One arrow button of a spin field: a standard push button with a glyph
// centred on it. A press of the primary button first calls OnPress, then the
// button shows pressed and a repeat timer starts: the first step comes after
// 400 ms, then one every 100 ms while the button is held and shown pressed.
// Moving off the button while holding shows it unpressed and pauses the
// steps; the release stops the timer and, over the button, steps once more.
class TSpinButton : public QWidget {
    Q_OBJECT
public:
    TSpinButton(QWidget *parent, const QPixmap &glyph);

    std::function<void()> OnPress;
    std::function<void()> OnStep;

    bool ShownPressed() const { return held_ && inside_; }

    static constexpr int FirstRepeatDelay = 400;
    static constexpr int RepeatInterval = 100;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void repeat();

    QPixmap glyph_;
    QTimer repeat_;
    bool held_ = false;
    bool inside_ = false;
};

// The text part of a spin field: it checks every typed character before the
// text sees it, steps on Up and Down, selects its text when entered other
// than by a mouse click, and clamps its value when the focus leaves it for
// another control of the same window.
class TSpinEditor : public QLineEdit {
    Q_OBJECT
public:
    explicit TSpinEditor(TSpinEdit *field);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    // The accepted part of typed text; every rejected character beeps.
    QString filterTyped(const QString &text) const;
    TSpinEdit *field_;
};

// The numeric spin field: a one-line text field with an up/down arrow pair
// at its right edge, inside a sunken border. The value lives in the text:
// reading Value parses the text and never clamps (unreadable text reads as
// MinValue); writing clamps and replaces the text.
class TSpinEdit : public QFrame {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget *parent);

    std::int32_t Value() const;
    void SetValue(std::int32_t value);

    std::int32_t MinValue() const { return minValue_; }
    void SetMinValue(std::int32_t v) { minValue_ = v; }
    std::int32_t MaxValue() const { return maxValue_; }
    void SetMaxValue(std::int32_t v) { maxValue_ = v; }
    std::int32_t Increment() const { return increment_; }
    void SetIncrement(std::int32_t v) { increment_ = v; }

    QString Text() const;
    void SetText(const QString &text);

    // Off: typed printable characters, Backspace and Delete beep, and paste
    // and cut are ignored; the arrows still step.
    bool EditorEnabled() const { return editorEnabled_; }
    void SetEditorEnabled(bool on);
    // On: the arrows and Up/Down beep instead of stepping; paste and cut are ignored.
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool on);
    bool AutoSelect() const { return autoSelect_; }
    void SetAutoSelect(bool on) { autoSelect_ = on; }
    // 0: no limit.
    int MaxLength() const { return maxLength_; }
    void SetMaxLength(int length);
    ColorRef Color() const { return color_; }
    void SetColor(ColorRef color);

    // The two steps, as the arrow buttons and the Up/Down keys do them.
    void UpClick();
    void DownClick();

    // Clamps the value if clamping changes it, as leaving the field does.
    void CheckValue();

    // The parts, for the window's focus handling and for tests.
    TSpinEditor *Editor() const { return editor_; }
    TSpinButton *UpButton() const { return up_; }
    TSpinButton *DownButton() const { return down_; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateReadOnly();
    void updateMinimumHeight();
    void focusEditorForArrow();

    TSpinEditor *editor_;
    TSpinButton *up_;
    TSpinButton *down_;
    std::int32_t minValue_ = 0;
    std::int32_t maxValue_ = 0;
    std::int32_t increment_ = 1;
    bool editorEnabled_ = true;
    bool readOnly_ = false;
    bool autoSelect_ = true;
    int maxLength_ = 0;
    ColorRef color_ = clWhite;
};

// A glyph bitmap whose background colour (the colour of its lower-left
// pixel) is made transparent.
QImage transparentGlyph(const QImage &glyph);
