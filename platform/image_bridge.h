#pragma once

// Between the raster model's bitmaps and Qt's images.

#include <QImage>
#include <QRect>

class TBitmap;

namespace platform {

// A QImage over the bitmap's own memory where Qt has the same layout (32, 24,
// 16, 8 and 1 bits per pixel), so painting needs no copy; a converted copy
// otherwise. Valid while the bitmap keeps its size.
QImage imageView(const TBitmap &bitmap);

// Copies the source rectangle of an image 1:1 onto the bitmap at (x, y),
// clipped to both, converting to the bitmap's pixel format.
void copyImageToBitmap(const QImage &image, const QRect &source, TBitmap &bitmap, int x, int y);

} // namespace platform
