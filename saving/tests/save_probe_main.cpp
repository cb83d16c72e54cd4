// The program with one test-only key for the end-to-end tests of saving: F11
// draws a fixed stroke on the picture through the same canvas operations the
// drawing tools use (a wide red line and a thin blue one), so that the saved
// file can be checked against a known stroke. Everything else is the real
// program: the options window, the dialog, the file, the error box.

#include <QKeyEvent>

#include "SkarvelKod/skarvel_kod.h"
#include "SkarvelKod/timage.h"
#include "canvas/tcanvas.h"
#include "shell/program.h"
#include "shell/tapplication.h"

namespace {

class StrokeKey : public QObject {
protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !Form1)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_F11) {
            TCanvas &canvas = Form1->Image1->Canvas();
            canvas.Pen().SetColor(clRed);
            canvas.Pen().SetWidth(9);
            canvas.MoveTo(100, 100);
            canvas.LineTo(400, 250);
            canvas.Pen().SetColor(clBlue);
            canvas.Pen().SetWidth(1);
            canvas.MoveTo(100, 300);
            canvas.LineTo(500, 300);
            return true;
        }
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    shell::setStartupHook([] { Application->installEventFilter(new StrokeKey); });
    return shell::runProgram(argc, argv);
}
