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

    // How many times the pixels may have changed: it moves with every
    // changing signal and every resize, and never on a read. Whoever keeps
    // something made from the pixels (a converted file image) compares it to
    // tell whether that is still current.
    std::uint64_t ChangeCount() const { return changes_; }

    // The changing signal: sent before every drawing operation.
    void Changing();

    // Calls `watcher` once, at the next changing signal or resize, if it
    // still exists then: whoever keeps something made from the pixels lets it
    // go as soon as it is out of date. Watching changes nothing of the bitmap.
    void WatchNextChange(std::weak_ptr<const std::function<void()>> watcher) const;
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
    std::uint64_t changes_ = 0;
    mutable std::vector<std::weak_ptr<const std::function<void()>>> watchers_;
};
