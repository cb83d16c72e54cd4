// The program with two test-only keys for the end-to-end tests of saving:
//   F11 draws a fixed stroke on the picture, through the same canvas
//       operations the drawing tools use (a wide red line, a thin blue one);
//   F9  runs the save command with a save dialog set up as the options
//       window's "Сохранить рисунок рабочего стола" / "Bitmaps (*.bmp)".
// Everything else is the real program: the dialog, the file, the error box.

#include <QKeyEvent>

#include "SkarvelKod/skarvel_kod.h"
#include "SkarvelKod/timage.h"
#include "canvas/tcanvas.h"
#include "saving/save_command.h"
#include "saving/tsave_dialog.h"
#include "shell/program.h"
#include "shell/tapplication.h"

namespace {

class SaveKeys : public QObject {
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
        if (key == Qt::Key_F9) {
            static TSaveDialog dialog;
            dialog.Title = QStringLiteral("Сохранить рисунок рабочего стола");
            dialog.Filter = QStringLiteral("Bitmaps (*.bmp)|*.bmp");
            saveCommand(dialog);
            return true;
        }
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    shell::setStartupHook([] { Application->installEventFilter(new SaveKeys); });
    return shell::runProgram(argc, argv);
}
