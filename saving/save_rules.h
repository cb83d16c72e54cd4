#pragma once

// The save command's small rules, as plain functions.

#include <optional>
#include <string>
#include <string_view>

#include "canvas/geometry.h"

namespace saving {

// The extension of a file name, dot included: the text from the last "." to
// the end, provided no delimiter ("\", ":" or "/") follows that dot. A name
// without one has the empty extension: "/home/u/my.pics/desk" has none,
// "desk.bmp" has ".bmp", "desk." has ".". The name is UTF-8; its multi-byte
// characters never contain these ASCII bytes.
std::string fileNameExtension(std::string_view fileName);

// The name the picture is written under: the name as given when it has any
// extension at all (".bmp", ".BMP", ".png" or a lone "."), otherwise the name
// with ".bmp" appended.
std::string saveTargetName(std::string_view fileName);

// The name as the person meant it: a trailing line break (CR or LF, as a
// path copied from a terminal brings along) was never part of it and is
// dropped. Nothing when another control character (below 0x20, or 0x7F)
// is left in it: no file is made under such a name.
std::optional<std::string> typedFileName(std::string_view fileName);

// Where the save dialog goes: centred horizontally on the monitor, with one
// third of the free height above it and two thirds below. `width` and
// `height` are the dialog's outer size; divisions truncate towards zero, so a
// dialog larger than the monitor overhangs it evenly.
Point saveDialogPosition(const Rect &monitor, int width, int height);

} // namespace saving
