#include "saving/save_command.h"

#include "SkarvelKod/skarvel_kod.h"
#include "SkarvelKod/timage.h"
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

    const std::string target = saving::saveTargetName(dialog.FileName.toStdString());
    // Without a surface there is no picture: the empty bitmap in its place
    // is refused by the writer rather than saved as nothing.
    TBitmap none;
    TBitmap &picture = Form1 ? Form1->Image1->Picture.Bitmap() : none;
    bmp::saveToFile(picture, target);
}
