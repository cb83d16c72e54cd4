// The program with one extra way to fail, for the end-to-end tests only: F12
// raises an error inside the handling of the key press, as any handler of
// the program might.

#include <QKeyEvent>

#include "canvas/errors.h"
#include "app/program.h"
#include "shell/tapplication.h"

namespace {
class FailOnF12 : public QObject {
protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_F12)
            throw Exception("Injected failure");
        return false;
    }
};
} // namespace

int main(int argc, char **argv)
{
    app::setStartupHook([] { Application->installEventFilter(new FailOnF12); });
    return app::runProgram(argc, argv);
}
