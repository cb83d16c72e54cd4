#include "platform/image_bridge.h"

#include <algorithm>
#include <cstring>

#include "canvas/errors.h"
#include "canvas/pixel_rows.h"
#include "canvas/tbitmap.h"
#include "platform/qt_color.h"

namespace platform {

namespace {

QImage::Format sharedFormat(PixelFormat f)
{
    switch (f) {
    case PixelFormat::pf32bit: return QImage::Format_RGB32;
    case PixelFormat::pf24bit: return QImage::Format_BGR888;
    case PixelFormat::pf16bit: return QImage::Format_RGB555;
    case PixelFormat::pf8bit: return QImage::Format_Indexed8;
    case PixelFormat::pf1bit: return QImage::Format_Mono;
    case PixelFormat::pf4bit: break;
    }
    return QImage::Format_Invalid;
}

QList<QRgb> colorTable(PixelFormat f)
{
    QList<QRgb> table;
    for (ColorRef c : standardPalette(f))
        table.append(toQRgb(c));
    return table;
}

} // namespace

QImage imageView(const TBitmap &bitmap)
{
    if (bitmap.Empty())
        return {};
    const QImage::Format format = sharedFormat(bitmap.Format());
    if (format != QImage::Format_Invalid) {
        QImage view(bitmap.Bits(), bitmap.Width(), bitmap.Height(), qsizetype(bitmap.Stride()), format);
        if (format == QImage::Format_Indexed8 || format == QImage::Format_Mono)
            view.setColorTable(colorTable(bitmap.Format()));
        return view;
    }
    // 4 bits per pixel has no Qt layout: unpack to 8-bit indices.
    QImage copy(bitmap.Width(), bitmap.Height(), QImage::Format_Indexed8);
    copy.setColorTable(colorTable(bitmap.Format()));
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t *src = bitmap.ScanLine(y);
        uchar *dst = copy.scanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x)
            dst[x] = (x & 1) ? (src[x / 2] & 0x0F) : (src[x / 2] >> 4);
    }
    return copy;
}

void copyImageToBitmap(const QImage &image, const QRect &source, TBitmap &bitmap, int x, int y)
{
    if (image.isNull() || bitmap.Empty())
        return;
    QRect src = source.intersected(image.rect());
    // Clip against the destination: the part of src that lands inside.
    const QRect dstArea = QRect(x, y, src.width(), src.height()).intersected(QRect(0, 0, bitmap.Width(), bitmap.Height()));
    if (dstArea.isEmpty())
        return;
    src = QRect(src.x() + (dstArea.x() - x), src.y() + (dstArea.y() - y), dstArea.width(), dstArea.height());

    const QImage::Format format = sharedFormat(bitmap.Format());
    if (format != QImage::Format_Invalid && format != QImage::Format_Indexed8 && format != QImage::Format_Mono) {
        // Same layout as a Qt format: rows in that format are copied as bytes.
        // Other rows are converted a strip at a time, so that no converted
        // copy of the whole image is ever held next to it and the bitmap.
        constexpr int stripRows = 64;
        const bool same = image.format() == format;
        const int bytes = (src.width() * bitmap.BitsPerPixel()) / 8;
        const int offset = (dstArea.x() * bitmap.BitsPerPixel()) / 8;
        const int sourceOffset = (src.x() * image.depth()) / 8;
        for (int first = 0; first < src.height(); first += stripRows) {
            const int rows = std::min(stripRows, src.height() - first);
            QImage strip;
            if (!same) {
                strip = image.copy(src.x(), src.y() + first, src.width(), rows).convertToFormat(format);
                // A conversion without memory is an error, not rows read from nowhere.
                if (strip.isNull())
                    throw EOutOfResources();
            }
            for (int row = 0; row < rows; ++row) {
                const uchar *line = same ? image.constScanLine(src.y() + first + row) + sourceOffset : strip.constScanLine(row);
                std::uint8_t *target = bitmap.ScanLine(dstArea.y() + first + row) + offset;
                std::memcpy(target, line, std::size_t(bytes));
                if (bitmap.Format() == PixelFormat::pf32bit) {
                    // Qt keeps the unused top byte as it found it; the bitmap holds 0xFF there.
                    auto *p = reinterpret_cast<std::uint32_t *>(target);
                    for (int i = 0; i < src.width(); ++i)
                        p[i] |= 0xFF000000u;
                }
            }
        }
        return;
    }
    // Indexed formats: the nearest palette entry for every pixel.
    const QImage part = src == image.rect() ? image : image.copy(src);
    const QImage rgb = part.convertToFormat(QImage::Format_RGB32);
    if (rgb.isNull())
        throw EOutOfResources();
    TBitmap &b = bitmap;
    for (int row = 0; row < src.height(); ++row) {
        const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(row));
        for (int col = 0; col < src.width(); ++col) {
            const QRgb c = line[col];
            const std::uint32_t v = encodeColor(b.Format(), makeColorRef(qRed(c), qGreen(c), qBlue(c)));
            const int px = dstArea.x() + col;
            std::uint8_t *scan = b.ScanLine(dstArea.y() + row);
            pixelrows::write(scan, b.Format(), px, v);
        }
    }
}

} // namespace platform
