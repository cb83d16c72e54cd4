#pragma once

// The program's one hint timing: a hint appears after the pointer has rested
// 500 ms on a control with a hint, at once when the pointer moves straight
// to another hinted control while a hint is showing, and disappears after
// 2,500 ms or on any key or mouse-button press.

#include <QProxyStyle>

class QWidget;

class THintStyle : public QProxyStyle {
    Q_OBJECT
public:
    explicit THintStyle(QStyle *base);

    static constexpr int WakeUpDelay = 500;
    static constexpr int HideAfter = 2500;

    int styleHint(StyleHint hint, const QStyleOption *option = nullptr, const QWidget *widget = nullptr,
                  QStyleHintReturn *returnData = nullptr) const override;
};

// Puts the hint timing on the application (once) and shows the widget's hint
// for HideAfter milliseconds.
void useHintTiming(QWidget *hinted);
