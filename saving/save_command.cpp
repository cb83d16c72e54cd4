#include "saving/save_command.h"

#include "canvas/errors.h"
#include "canvas/tbitmap.h"
#include "saving/bmp_file.h"
#include "saving/save_rules.h"
#include "saving/tsave_dialog.h"

void saveCommand(const TBitmap &picture, bmp::DibDescription &converted, TSaveDialog &dialog)
{
    // The program's application object has no name, so the dialog gets an
    // empty initial folder every time.
    dialog.InitialDir = QString();
    if (!dialog.Execute())
        return;

    const std::string typed = dialog.FileName.toStdString();
    const std::optional<std::string> name = saving::typedFileName(typed);
    if (!name)
        throw EFCreateError("Cannot create file " + saving::saveTargetName(typed));
    const std::string target = saving::saveTargetName(*name);
    bmp::saveToFile(picture, converted, target);
}
