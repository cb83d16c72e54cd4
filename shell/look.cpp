#include "shell/look.h"

#include <QFontMetrics>
#include <QPalette>
#include <QWidget>

#include <algorithm>

#include "platform/qt_color.h"

namespace shell {

QFont designFont(const char *family, int pixelSize, bool bold)
{
    QFont font{QString::fromUtf8(family)};
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void setTextColour(QWidget *control, ColorRef colour)
{
    QPalette palette = control->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, platform::toQColor(colour));
        palette.setColor(group, QPalette::Text, platform::toQColor(colour));
    }
    control->setPalette(palette);
}

void setLook(QWidget *control, const QFont &font, ColorRef colour)
{
    control->setFont(font);
    setTextColour(control, colour);
}

void fitCaption(QWidget *control, const QString &text, int width)
{
    QFont font = control->font();
    const int advance = QFontMetrics(font).horizontalAdvance(text);
    if (advance <= width || advance <= 0)
        return;
    font.setStretch(std::max(50, 100 * width / advance));
    control->setFont(font);
}

} // namespace shell
