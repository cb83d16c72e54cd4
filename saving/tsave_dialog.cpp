#include "saving/tsave_dialog.h"

#include "platform/platform.h"

bool TSaveDialog::Execute()
{
    platform::SaveDialogRequest request;
    request.title = Title;
    request.filter = Filter;
    request.initialDir = InitialDir;
    request.fileName = FileName;
    const std::optional<QString> chosen = platform::GetSaveFileName(request);
    if (!chosen)
        return false;
    FileName = *chosen;
    return true;
}
