#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "color_ref.h"
#include "geometry.h"
#include "pixel_format.h"

class TCanvas;

// The ten fields of a BMP info header, as the file writer keeps them between
// saves. biSize is 0 until the first conversion.
struct BitmapInfoHeader {
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

// The device-independent form of a bitmap that the file writer converts to and
// keeps with the bitmap until the next drawing operation.
struct DibDescription {
    BitmapInfoHeader header;
    std::uint32_t masks[3] = {0, 0, 0}; // red, green, blue; only above 8 bits
    bool converted = false;             // the converted image below is present
    std::vector<std::uint32_t> colorTable; // entries 0x00RRGGBB (RGBQUAD order in memory)
    std::vector<std::uint8_t> bits;        // pixel rows, bottom row first, BMP stride
    int conversions = 0;                   // how many times it was converted (for tests and benchmarks)
};

// A bitmap in the display's own pixel format. New pixels are white. Setting
// the width or the height keeps the overlap of the old and new areas at the
// top-left corner and makes every other pixel white. Width or height 0 means
// no pixels at all.
class TBitmap {
public:
    explicit TBitmap(PixelFormat format = displayPixelFormat());
    ~TBitmap();
    TBitmap(const TBitmap &) = delete;
    TBitmap &operator=(const TBitmap &) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // A negative size counts as 0. A size whose pixels cannot be allocated
    // raises EOutOfResources and leaves the bitmap as it was.
    void SetWidth(int width);
    void SetHeight(int height);
    void SetSize(int width, int height);
    bool Empty() const { return width_ == 0 || height_ == 0; }

    PixelFormat Format() const { return format_; }
    int BitsPerPixel() const { return bitsPerPixel(format_); }
    // Bytes per row, a multiple of 4.
    std::int64_t Stride() const { return stride_; }
    // Row y, counted from the top. Precondition: 0 <= y < Height().
    std::uint8_t *ScanLine(int y) { return pixels_.data() + std::size_t(y) * std::size_t(stride_); }
    const std::uint8_t *ScanLine(int y) const { return pixels_.data() + std::size_t(y) * std::size_t(stride_); }
    std::uint8_t *Bits() { return pixels_.data(); }
    const std::uint8_t *Bits() const { return pixels_.data(); }
    std::size_t ByteSize() const { return pixels_.size(); }

    // The colour held at (x, y). Precondition: inside the bitmap.
    ColorRef Pixel(int x, int y) const;

    // The bitmap's canvas, made on the first request and kept.
    TCanvas &Canvas();
    bool HasCanvas() const { return canvas_ != nullptr; }

    // The converted form kept for the file writer.
    DibDescription &Dib() { return dib_; }
    const DibDescription &Dib() const { return dib_; }

    // The changing signal: sent before every drawing operation. It drops the
    // converted image and zeroes colours used and important in the header.
    void Changing();
    // The change notification: sent after every drawing operation with the
    // rectangle it changed (empty when nothing changed); passed to OnChange.
    void Changed(const Rect &area);
    std::function<void(const Rect &)> OnChange;

private:
    void reallocate(int width, int height);

    PixelFormat format_;
    int width_ = 0;
    int height_ = 0;
    std::int64_t stride_ = 0;
    std::vector<std::uint8_t> pixels_;
    std::unique_ptr<TCanvas> canvas_;
    DibDescription dib_;
};
