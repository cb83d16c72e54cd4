#include "saving/tsave_dialog.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include "platform/platform.h"
#include "saving/save_rules.h"

bool TSaveDialog::Execute()
{
    platform::SaveDialogRequest request;
    request.title = Title;
    request.filter = Filter;
    request.initialDir = InitialDir;
    request.fileName = FileName;
    request.defaultExt = DefaultExt;
    // Centred horizontally on the anchor window's monitor (the first monitor
    // without one), with a third of the free height above it.
    request.place = [anchor = Anchor](const QSize &outer) {
        QScreen *screen = nullptr;
        if (anchor)
            screen = anchor->screen();
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return QPoint();
        const QRect m = screen->geometry();
        const Point at = saving::saveDialogPosition(Rect{m.left(), m.top(), m.left() + m.width(), m.top() + m.height()},
                                                    outer.width(), outer.height());
        return QPoint(at.x, at.y);
    };

    // The dialog is modal to all of the program's windows; whichever window
    // was active gets the focus back afterwards.
    const QPointer<QWidget> active = QApplication::activeWindow();
    const std::optional<QString> chosen = platform::GetSaveFileName(request);
    if (active && active->isVisible())
        active->activateWindow();

    if (!chosen)
        return false;
    FileName = *chosen;
    return true;
}
