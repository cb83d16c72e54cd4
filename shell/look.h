#pragma once

// The look of the windows' controls as designed: fonts given by their height
// in pixels at 96 dots per inch, text colours, and captions that keep to
// their designed widths.

#include <QFont>

#include "canvas/color_ref.h"

class QString;
class QWidget;

namespace shell {

QFont designFont(const char *family, int pixelSize, bool bold = false);

// The control's text colour, whether its window is active or not; a disabled
// control keeps the platform's greyed text.
void setTextColour(QWidget *control, ColorRef colour);
// Its font and text colour.
void setLook(QWidget *control, const QFont &font, ColorRef colour);

// The design's fonts are narrower than what fontconfig substitutes for them:
// a caption that would not fit its designed width is condensed until it does.
void fitCaption(QWidget *control, const QString &text, int width);

} // namespace shell
