#pragma once

// The raster model's colours in Qt's terms: the one place that takes a
// ColorRef apart for Qt.

#include <QColor>
#include <QRgb>

#include "canvas/color_ref.h"

namespace platform {

inline QRgb toQRgb(ColorRef color) { return qRgb(redOf(color), greenOf(color), blueOf(color)); }
inline QColor toQColor(ColorRef color) { return QColor(redOf(color), greenOf(color), blueOf(color)); }

} // namespace platform
