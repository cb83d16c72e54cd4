#include "pixel_rows.h"

namespace pixelrows {

void fill(std::uint8_t *row, PixelFormat format, int x0, int x1, std::uint32_t v)
{
    if (x1 <= x0)
        return;
    const std::size_t n = std::size_t(x1 - x0);
    switch (format) {
    case PixelFormat::pf32bit:
    case PixelFormat::pf24bit:
    case PixelFormat::pf16bit: {
        // 48 bytes hold a whole number of pixels of each of these sizes; the
        // span is laid down a block at a time (three 16-byte stores).
        const std::size_t size = std::size_t(bitsPerPixel(format) / 8);
        std::uint8_t block[48];
        for (std::size_t i = 0; i < 48; i += size)
            for (std::size_t k = 0; k < size; ++k)
                block[i + k] = std::uint8_t(v >> (8 * k));
        std::uint8_t *p = row + std::size_t(x0) * size;
        const std::size_t bytes = n * size;
        std::size_t i = 0;
        for (; i + 48 <= bytes; i += 48)
            std::memcpy(p + i, block, 48);
        std::memcpy(p + i, block, bytes - i);
        return;
    }
    case PixelFormat::pf8bit:
        std::memset(row + x0, int(v & 0xFF), n);
        return;
    case PixelFormat::pf4bit:
    case PixelFormat::pf1bit: {
        // Loose pixels up to a byte boundary at either end, whole bytes between.
        const int perByte = format == PixelFormat::pf4bit ? 2 : 8;
        const std::uint8_t whole = format == PixelFormat::pf4bit ? std::uint8_t((v & 0x0F) * 0x11)
                                                                  : std::uint8_t((v & 1) ? 0xFF : 0x00);
        int x = x0;
        for (; x < x1 && x % perByte != 0; ++x)
            write(row, format, x, v);
        const int firstByte = x / perByte;
        const int bytes = (x1 - x) / perByte;
        if (bytes > 0) {
            std::memset(row + firstByte, whole, std::size_t(bytes));
            x += bytes * perByte;
        }
        for (; x < x1; ++x)
            write(row, format, x, v);
        return;
    }
    }
}

void copy(std::uint8_t *dst, int dx, const std::uint8_t *src, int sx, int n, PixelFormat format)
{
    if (n <= 0)
        return;
    const int bits = bitsPerPixel(format);
    if (bits >= 8) {
        const std::size_t bytes = std::size_t(bits / 8);
        std::memcpy(dst + std::size_t(dx) * bytes, src + std::size_t(sx) * bytes, std::size_t(n) * bytes);
        return;
    }
    int i = 0;
    const int perByte = 8 / bits;
    if (dx % perByte == 0 && sx % perByte == 0) {
        const int bytes = n / perByte;
        std::memcpy(dst + dx / perByte, src + sx / perByte, std::size_t(bytes));
        i = bytes * perByte;
    }
    for (; i < n; ++i)
        write(dst, format, dx + i, read(src, format, sx + i));
}

} // namespace pixelrows
