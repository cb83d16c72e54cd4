#include "saving/tsave_dialog.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include "platform/platform.h"

bool TSaveDialog::Execute()
{
    platform::SaveDialogRequest request;
    request.title = Title;
    request.filter = Filter;
    request.initialDir = InitialDir;
    request.fileName = FileName;
    request.defaultExt = DefaultExt;

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
