#pragma once

#include <QTimer>

#include <memory>

#include "canvas/geometry.h"
#include "shell/events.h"
#include "shell/tform.h"

class TBitmap;
class TImage;
namespace platform {
struct ScreenContext;
}

// The pointer-tracking state of the surface.
struct TStrokeState {
    bool Drawing = false;       // a pencil or spray stroke is under way
    bool LineAnchorSet = false; // the line tool has its first point
    Point LineAnchor;           // the line tool's first point
};

// The drawing surface: a borderless window over the whole screen whose one
// visible control, the picture Image1, shows a frozen copy of the desktop
// taken on the first tick of Timer1.
class TForm1 : public TForm {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    TImage *Image1 = nullptr;
    QTimer *Timer1 = nullptr;

    void FormCreate();
    void Timer1Timer();
    void FormMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void FormMouseMove(TShiftState Shift, int X, int Y);
    void FormMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void FormKeyPress(char16_t &Key);

    void CancelMode() override;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Reads the screen once, for the snapshot step, and shows the reading
    // until then.
    void readScreen();

    bool screenRead_ = false;
};

extern TForm1 *Form1;
extern TStrokeState StrokeState;
