#include "tcanvas.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "pixel_rows.h"
#include "raster.h"
#include "tbitmap.h"

namespace {

Rect boundsOf(const TBitmap &bitmap)
{
    return {0, 0, bitmap.Width(), bitmap.Height()};
}

// The smallest rectangle around everything drawn so far.
struct Extent {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool any = false;
    void add(int y, int x0, int x1)
    {
        if (!any) {
            left = x0;
            right = x1;
            top = y;
            bottom = y + 1;
            any = true;
            return;
        }
        left = std::min(left, x0);
        right = std::max(right, x1);
        top = std::min(top, y);
        bottom = std::max(bottom, y + 1);
    }
    Rect rect() const { return any ? Rect{left, top, right, bottom} : Rect{}; }
};

} // namespace

void TCanvas::MoveTo(int x, int y)
{
    penPos_ = {x, y};
}

void TCanvas::LineTo(int x, int y)
{
    bitmap_.Changing();
    const Point from = penPos_;
    const Point to{x, y};
    const PixelFormat format = bitmap_.Format();
    const std::uint32_t stored = encodeColor(format, pen_.Color());
    const Rect clip = boundsOf(bitmap_);
    Extent drawn;

    if (pen_.Width() <= 1) {
        raster::thinLine(from, to, clip, [&](int px, int py) {
            pixelrows::write(bitmap_.ScanLine(py), format, px, stored);
            drawn.add(py, px, px + 1);
        });
    } else {
        raster::wideLine(from, to, pen_.Width(), clip, [&](int py, int x0, int x1) {
            pixelrows::fill(bitmap_.ScanLine(py), format, x0, x1, stored);
            drawn.add(py, x0, x1);
        });
    }

    penPos_ = to;
    bitmap_.Changed(drawn.rect());
}

void TCanvas::SetPixel(int x, int y, ColorRef c)
{
    bitmap_.Changing();
    Rect changed;
    if (boundsOf(bitmap_).contains(x, y)) {
        pixelrows::write(bitmap_.ScanLine(y), bitmap_.Format(), x, encodeColor(bitmap_.Format(), c));
        changed = {x, y, x + 1, y + 1};
    }
    bitmap_.Changed(changed);
}

void TCanvas::Draw(int x, int y, const TBitmap &source)
{
    if (source.Empty())
        return;
    bitmap_.Changing();

    // Where the source lands, worked out in 64 bits (x + width can pass
    // INT_MAX) and cut to this bitmap.
    const Rect bounds = boundsOf(bitmap_);
    const std::int64_t left = std::max<std::int64_t>(x, 0);
    const std::int64_t top = std::max<std::int64_t>(y, 0);
    const std::int64_t right = std::min<std::int64_t>(std::int64_t(x) + source.Width(), bounds.right);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t(y) + source.Height(), bounds.bottom);
    if (left >= right || top >= bottom) {
        bitmap_.Changed(Rect{});
        return;
    }
    const Rect target{int(left), int(top), int(right), int(bottom)};
    const int sx = int(left - x), sy = int(top - y);
    const int n = target.width();

    // Drawing a bitmap onto itself: read from a copy, so rows are not
    // overwritten before they are read.
    std::vector<std::uint8_t> selfCopy;
    const bool self = &source == &bitmap_;
    if (self)
        selfCopy.assign(source.Bits(), source.Bits() + source.ByteSize());
    const auto sourceRow = [&](int row) {
        return self ? selfCopy.data() + std::size_t(row) * std::size_t(source.Stride()) : source.ScanLine(row);
    };

    const PixelFormat to = bitmap_.Format();
    const PixelFormat from = source.Format();
    if (from == to) {
        for (int j = 0; j < target.height(); ++j)
            pixelrows::copy(bitmap_.ScanLine(target.top + j), target.left, sourceRow(sy + j), sx, n, to);
    } else {
        // Neighbouring pixels mostly share a colour: convert each run once.
        std::uint32_t lastIn = 0, lastOut = encodeColor(to, decodeColor(from, 0));
        for (int j = 0; j < target.height(); ++j) {
            const std::uint8_t *src = sourceRow(sy + j);
            std::uint8_t *dst = bitmap_.ScanLine(target.top + j);
            for (int i = 0; i < n; ++i) {
                const std::uint32_t in = pixelrows::read(src, from, sx + i);
                if (in != lastIn) {
                    lastIn = in;
                    lastOut = encodeColor(to, decodeColor(from, in));
                }
                pixelrows::write(dst, to, target.left + i, lastOut);
            }
        }
    }
    bitmap_.Changed(target);
}

TBitmap &TCanvas::BlockCopyTarget()
{
    bitmap_.Changing();
    return bitmap_;
}

void TCanvas::BlockCopied(const Rect &area)
{
    bitmap_.Changed(area.intersected(boundsOf(bitmap_)));
}
