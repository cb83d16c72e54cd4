#include "saving/save_command.h"

#include "SkarvelKod/skarvel_kod.h"
#include "SkarvelKod/timage.h"
#include "canvas/errors.h"
#include "canvas/tbitmap.h"
#include "saving/bmp_file.h"
#include "saving/save_rules.h"
#include "saving/tsave_dialog.h"

void saveCommand(TSaveDialog &dialog)
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
    // Without a surface there is no picture: the empty bitmap in its place
    // is refused by the writer rather than saved as nothing.
    TBitmap none;
    TBitmap &picture = Form1 ? Form1->Image1->Picture.Bitmap() : none;
    bmp::saveToFile(picture, target);
}
