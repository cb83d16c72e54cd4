#pragma once

// The pointer event arguments the windows' handlers take.

#include <QFlags>

class QMouseEvent;
class QWidget;

enum TMouseButton { mbLeft, mbRight, mbMiddle };

enum TShiftFlag {
    ssShift = 0x1,
    ssAlt = 0x2,
    ssCtrl = 0x4,
    ssLeft = 0x8,
    ssRight = 0x10,
    ssMiddle = 0x20,
    ssDouble = 0x40,
};
Q_DECLARE_FLAGS(TShiftState, TShiftFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TShiftState)

// The button of a press or release; the primary button is mbLeft, every
// other button counts as right or middle.
TMouseButton mouseButtonOf(const QMouseEvent *event);
TShiftState shiftStateOf(const QMouseEvent *event, bool doubleClick = false);
// The pointer position in device pixels of the widget (floor of the logical
// position times the device pixel ratio), so that with any scale factor a
// position names the picture pixel under the pointer.
int devicePixelX(const QWidget *widget, const QMouseEvent *event);
int devicePixelY(const QWidget *widget, const QMouseEvent *event);
