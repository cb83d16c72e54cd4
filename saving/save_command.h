#pragma once

class TBitmap;
class TSaveDialog;
namespace bmp {
struct DibDescription;
}

// The save command behind "Сохранить как...": asks for a file name with the
// dialog and writes the given picture there as a BMP file. `converted` keeps
// the picture's converted image between saves, so that saving again without
// a drawing in between does not convert it again.
//  1. The dialog opens with an empty initial folder (the platform chooses).
//  2. A cancelled dialog ends the command: nothing is written or shown.
//  3. A trailing line break is dropped from the name; a name with any other
//     control character is refused ("Cannot create file") and nothing is
//     written.
//  4. A name without an extension gets ".bmp"; the dialog keeps the name as
//     it returned it, and offers that next time.
//  5. The picture is saved under that name, replacing a file of the name
//     without asking.
// Failures are raised as errors for the shell's error box.
void saveCommand(const TBitmap &picture, bmp::DibDescription &converted, TSaveDialog &dialog);
