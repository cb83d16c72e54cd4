#include "tbitmap.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "errors.h"
#include "memory_room.h"
#include "pixel_rows.h"
#include "tcanvas.h"

TBitmap::TBitmap(PixelFormat format) : format_(format) {}

TBitmap::~TBitmap() = default;

void TBitmap::SetWidth(int width)
{
    SetSize(width, height_);
}

void TBitmap::SetHeight(int height)
{
    SetSize(width_, height);
}

void TBitmap::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_)
        return;
    reallocate(width, height);
}

// Builds the new pixels completely before touching the bitmap, so a failure
// leaves it as it was.
void TBitmap::reallocate(int width, int height)
{
    constexpr std::int64_t kMaxBytes = std::numeric_limits<std::int32_t>::max();
    const std::int64_t stride = strideFor(width, format_);
    std::int64_t bytes = 0;
    if (width > 0 && height > 0) {
        // One row alone can pass the limit (up to 8 GiB at 32 bits); once it
        // is within it, stride * height stays below 2^62 for any int height.
        if (stride > kMaxBytes)
            throw EOutOfResources();
        bytes = stride * height;
        if (bytes > kMaxBytes)
            throw EOutOfResources();
    }

    // A frame is made only where it leaves the toolkit its reserve.
    memory::requireRoomFor(std::uint64_t(bytes));
    std::vector<std::uint8_t> pixels;
    try {
        pixels.resize(std::size_t(bytes));
    } catch (const std::bad_alloc &) {
        throw EOutOfResources();
    } catch (const std::length_error &) {
        throw EOutOfResources();
    }

    if (bytes > 0) {
        const std::uint32_t white = encodeColor(format_, clWhite);
        const int keepRows = std::min(height, height_);
        const int keepColumns = std::min(width, width_);
        for (int y = 0; y < height; ++y) {
            std::uint8_t *row = pixels.data() + std::size_t(y) * std::size_t(stride);
            int x = 0;
            if (y < keepRows && keepColumns > 0) {
                pixelrows::copy(row, 0, ScanLine(y), 0, keepColumns, format_);
                x = keepColumns;
            }
            pixelrows::fill(row, format_, x, width, white);
        }
    }

    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    stride_ = stride;

    Changing();
}

ColorRef TBitmap::Pixel(int x, int y) const
{
    return decodeColor(format_, pixelrows::read(ScanLine(y), format_, x));
}

TCanvas &TBitmap::Canvas()
{
    if (!canvas_)
        canvas_ = std::make_unique<TCanvas>(*this);
    return *canvas_;
}

void TBitmap::Changing()
{
    ++changes_;
    if (watchers_.empty())
        return;
    const auto watchers = std::move(watchers_);
    watchers_.clear();
    for (const auto &watcher : watchers)
        if (const auto call = watcher.lock())
            (*call)();
}

void TBitmap::WatchNextChange(std::weak_ptr<const std::function<void()>> watcher) const
{
    std::erase_if(watchers_, [](const auto &w) { return w.expired(); });
    watchers_.push_back(std::move(watcher));
}

void TBitmap::Changed(const Rect &area)
{
    if (OnChange)
        OnChange(area);
}
