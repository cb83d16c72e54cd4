#include "saving/bmp_writer.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "canvas/errors.h"
#include "canvas/memory_room.h"
#include "canvas/pixel_format.h"
#include "canvas/pixel_rows.h"
#include "saving/byte_output.h"

// Pixel words are moved with memcpy in the machine's byte order, which is the
// file's (little-endian) on every platform the program is built for.
static_assert(std::endian::native == std::endian::little, "the BMP writer assumes a little-endian machine");

namespace bmp {

namespace {

const char *const invalidBitmap = "Bitmap image is not valid";

// Largest pixel block that still leaves room for the headers in the 32-bit
// size fields of the file.
constexpr std::uint64_t maxImageSize = std::numeric_limits<std::uint32_t>::max() - (14 + 40 + 12 + 4 * 256);

void put16(std::uint8_t *at, std::uint16_t v)
{
    at[0] = std::uint8_t(v);
    at[1] = std::uint8_t(v >> 8);
}

void put32(std::uint8_t *at, std::uint32_t v)
{
    at[0] = std::uint8_t(v);
    at[1] = std::uint8_t(v >> 8);
    at[2] = std::uint8_t(v >> 16);
    at[3] = std::uint8_t(v >> 24);
}

// A ColorRef (0x00BBGGRR) as a colour-table entry 0x00RRGGBB, whose bytes in
// memory are blue, green, red, 0.
std::uint32_t rgbQuad(ColorRef c)
{
    return (std::uint32_t(redOf(c)) << 16) | (std::uint32_t(greenOf(c)) << 8) | blueOf(c);
}

bool contiguous(std::uint32_t mask)
{
    if (mask == 0)
        return true;
    const std::uint32_t run = mask >> std::countr_zero(mask);
    return (run & (run + 1)) == 0;
}

// Masks a reader can decode: each one a single run of bits inside the pixel,
// no two sharing a bit. A mask of 0 leaves its component out.
void checkMasks(int bitCount, const std::array<std::uint32_t, 3> &m)
{
    const std::uint32_t inPixel = bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (std::uint32_t mask : m)
        if (!contiguous(mask) || (mask & ~inPixel) != 0)
            throw EInvalidGraphic(invalidBitmap);
    if ((m[0] & m[1]) || (m[0] & m[2]) || (m[1] & m[2]))
        throw EInvalidGraphic(invalidBitmap);
}

// For each 8-bit component value, its bits under `mask`, scaled to the width
// of the mask and rounded to nearest.
std::array<std::uint32_t, 256> maskTable(std::uint32_t mask)
{
    std::array<std::uint32_t, 256> table{};
    if (mask == 0)
        return table;
    const int shift = std::countr_zero(mask);
    const std::uint64_t top = std::uint64_t(mask >> shift); // 2^width - 1
    for (std::uint64_t v = 0; v < 256; ++v)
        table[v] = std::uint32_t(((v * top + 127) / 255) << shift);
    return table;
}

// Where each palette index goes when the colour table is cut to its first
// `colors` entries: itself when it is kept, else the nearest kept colour
// (squared distance, lowest index on ties).
std::array<std::uint8_t, 256> remapTable(const std::vector<ColorRef> &palette, std::uint32_t colors)
{
    std::array<std::uint8_t, 256> remap{};
    for (std::size_t i = 0; i < palette.size(); ++i) {
        if (i < colors) {
            remap[i] = std::uint8_t(i);
            continue;
        }
        long best = std::numeric_limits<long>::max();
        for (std::uint32_t j = 0; j < colors; ++j) {
            const long dr = long(redOf(palette[i])) - redOf(palette[j]);
            const long dg = long(greenOf(palette[i])) - greenOf(palette[j]);
            const long db = long(blueOf(palette[i])) - blueOf(palette[j]);
            const long d = dr * dr + dg * dg + db * db;
            if (d < best) {
                best = d;
                remap[i] = std::uint8_t(j);
            }
        }
    }
    return remap;
}

struct Plan {
    int width = 0;
    int height = 0;
    int bits = 0;
    std::size_t stride = 0;
    bool bitfields = false;
    std::array<std::uint32_t, 3> masks{};
    std::uint32_t colors = 0; // at 8 bits and fewer
};

// Rows of the bitmap (top-down) into the file's rows (bottom-up). Padding and
// the unused bits of a row stay 0, as the freshly zeroed buffer has them; so
// does the fourth byte of a 32-bit pixel.
void fillRows(const TBitmap &bitmap, const Plan &plan, std::uint8_t *out)
{
    const int w = plan.width;
    const PixelFormat format = bitmap.Format();

    std::array<std::uint32_t, 256> red{}, green{}, blue{};
    if (plan.bitfields) {
        red = maskTable(plan.masks[0]);
        green = maskTable(plan.masks[1]);
        blue = maskTable(plan.masks[2]);
    }
    const std::vector<ColorRef> &palette = standardPalette(format);
    const bool cutPalette = plan.bits <= 8 && plan.colors < palette.size();
    std::array<std::uint8_t, 256> remap{};
    if (cutPalette)
        remap = remapTable(palette, plan.colors);

    for (int y = 0; y < plan.height; ++y) {
        const std::uint8_t *src = bitmap.ScanLine(y);
        std::uint8_t *dst = out + std::size_t(plan.height - 1 - y) * plan.stride;
        if (plan.bitfields) {
            // Each pixel re-packed under the masks.
            for (int x = 0; x < w; ++x) {
                std::uint32_t stored = 0;
                std::memcpy(&stored, src + std::size_t(x) * (plan.bits / 8), std::size_t(plan.bits / 8));
                const ColorRef c = decodeColor(format, stored);
                const std::uint32_t packed = red[redOf(c)] | green[greenOf(c)] | blue[blueOf(c)];
                std::memcpy(dst + std::size_t(x) * (plan.bits / 8), &packed, std::size_t(plan.bits / 8));
            }
            continue;
        }
        switch (plan.bits) {
        case 32:
            // Stored 0xFFRRGGBB: blue, green, red as they are, the fourth byte 0.
            for (int x = 0; x < w; ++x) {
                std::uint32_t word;
                std::memcpy(&word, src + std::size_t(x) * 4, 4);
                word &= 0x00FFFFFFu;
                std::memcpy(dst + std::size_t(x) * 4, &word, 4);
            }
            break;
        case 24:
            std::memcpy(dst, src, std::size_t(w) * 3);
            break;
        case 16:
            // 5-5-5 with bit 15 unused, which stays 0.
            for (int x = 0; x < w; ++x) {
                std::uint16_t word;
                std::memcpy(&word, src + std::size_t(x) * 2, 2);
                word &= 0x7FFF;
                std::memcpy(dst + std::size_t(x) * 2, &word, 2);
            }
            break;
        default: {
            if (cutPalette) {
                for (int x = 0; x < w; ++x)
                    pixelrows::writePacked(dst, x, plan.bits, remap[pixelrows::readPacked(src, x, plan.bits)]);
                break;
            }
            const std::size_t usedBits = std::size_t(w) * std::size_t(plan.bits);
            const std::size_t usedBytes = (usedBits + 7) / 8;
            std::memcpy(dst, src, usedBytes);
            // Bits of the last byte beyond the row's last pixel are cleared.
            if (const unsigned tail = unsigned(usedBits % 8))
                dst[usedBytes - 1] &= std::uint8_t(0xFFu << (8 - tail));
            break;
        }
        }
    }
}

std::size_t rowStride(int width, int bits)
{
    return std::size_t(((std::int64_t(width) * bits + 31) / 32) * 4);
}

} // namespace

std::array<std::uint32_t, 3> effectiveMasks(int bitCount, const std::uint32_t (&stored)[3])
{
    if (stored[0] == 0) {
        if (bitCount == 16)
            return {0xF800, 0x07E0, 0x001F};
        if (bitCount == 32)
            return {0x00FF0000, 0x0000FF00, 0x000000FF};
    }
    return {stored[0], stored[1], stored[2]};
}

bool convert(const TBitmap &bitmap, DibDescription &dib)
{
    if (bitmap.Empty())
        throw EInvalidGraphic(invalidBitmap);

    Plan plan;
    plan.width = bitmap.Width();
    plan.height = bitmap.Height();
    plan.bits = bitmap.BitsPerPixel();
    plan.stride = rowStride(plan.width, plan.bits);
    const std::uint64_t imageSize = std::uint64_t(plan.stride) * std::uint64_t(plan.height);
    if (imageSize > maxImageSize)
        throw EOutOfResources();

    // The converted image of an earlier save still stands for these pixels.
    const BitmapInfoHeader &old = dib.header;
    const bool sameSize = old.biWidth == plan.width && old.biHeight == plan.height && old.biBitCount == plan.bits;
    if (dib.converted && dib.source == &bitmap && dib.changeCount == bitmap.ChangeCount() && old.biSize == 40 &&
        sameSize && dib.bits.size() == imageSize)
        return false;

    // The bitmap changed since the last conversion: the header it left is
    // kept without its colour counts, or dropped when it describes another
    // size or another bitmap, so that the next file describes the bitmap as
    // it is now. A header given before any conversion is taken as it stands.
    if (dib.source) {
        if (dib.source == &bitmap && sameSize) {
            dib.header.biClrUsed = 0;
            dib.header.biClrImportant = 0;
        } else {
            dib.header = BitmapInfoHeader{};
            std::fill(std::begin(dib.masks), std::end(dib.masks), 0u);
        }
    }

    // What the stored header keeps between conversions. An empty header
    // (before the first conversion) asks for plain BI_RGB.
    const bool storedHeader = old.biSize != 0;
    plan.bitfields = storedHeader && old.biCompression == BI_BITFIELDS && (plan.bits == 16 || plan.bits == 32);
    if (plan.bitfields) {
        plan.masks = effectiveMasks(plan.bits, dib.masks);
        checkMasks(plan.bits, plan.masks);
    }
    if (plan.bits <= 8) {
        const std::uint32_t full = std::uint32_t(standardPalette(bitmap.Format()).size());
        plan.colors = storedHeader && old.biClrUsed != 0 && old.biClrUsed < full ? old.biClrUsed : full;
    }

    // The old rows go before the new ones are made, so that a save never
    // holds more than one converted copy of the picture.
    dib.converted = false;
    std::vector<std::uint8_t>().swap(dib.bits);
    std::vector<std::uint32_t>().swap(dib.colorTable);
    // The converted copy is a whole frame: made only where it leaves the
    // toolkit its reserve (the save dialog has just been up; the error box
    // comes next).
    memory::requireRoomFor(imageSize);
    try {
        dib.bits.assign(std::size_t(imageSize), 0);
        if (plan.colors) {
            const std::vector<ColorRef> &palette = standardPalette(bitmap.Format());
            dib.colorTable.reserve(plan.colors);
            for (std::uint32_t i = 0; i < plan.colors; ++i)
                dib.colorTable.push_back(rgbQuad(palette[i]));
        }
    } catch (const std::bad_alloc &) {
        std::vector<std::uint8_t>().swap(dib.bits);
        throw EOutOfResources();
    }
    fillRows(bitmap, plan, dib.bits.data());

    BitmapInfoHeader h;
    h.biSize = 40;
    h.biWidth = plan.width;
    h.biHeight = plan.height;
    h.biPlanes = 1;
    h.biBitCount = std::uint16_t(plan.bits);
    h.biCompression = plan.bitfields ? BI_BITFIELDS : BI_RGB;
    h.biSizeImage = std::uint32_t(imageSize);
    h.biClrUsed = plan.colors;
    dib.header = h;
    if (plan.bitfields)
        std::copy(plan.masks.begin(), plan.masks.end(), dib.masks);
    dib.converted = true;
    dib.source = &bitmap;
    dib.changeCount = bitmap.ChangeCount();
    ++dib.conversions;
    dib.atChange.release = std::make_shared<const std::function<void()>>([&dib] {
        dib.converted = false;
        std::vector<std::uint8_t>().swap(dib.bits);
        std::vector<std::uint32_t>().swap(dib.colorTable);
    });
    bitmap.WatchNextChange(dib.atChange.release);
    return true;
}

HeaderBlocks encodeHeaders(const DibDescription &dib)
{
    const BitmapInfoHeader &h = dib.header;
    HeaderBlocks blocks;
    FileLayout &l = blocks.layout;
    l.colors = h.biBitCount <= 8 ? std::uint32_t(std::min<std::size_t>(dib.colorTable.size(), 256)) : 0;
    l.masks = h.biBitCount > 8 && h.biCompression == BI_BITFIELDS;
    l.stride = std::uint32_t(rowStride(h.biWidth, h.biBitCount));
    // Always the size of the rows themselves, whatever a stored field says.
    const std::uint64_t rows = std::uint64_t(std::llabs(std::int64_t(h.biHeight)));
    l.imageSize = std::uint32_t(std::uint64_t(l.stride) * rows);
    l.offBits = 14 + 40 + (l.masks ? 12 : 0) + 4 * l.colors;
    l.fileSize = l.offBits + l.imageSize;

    std::uint8_t *f = blocks.fileHeader.data();
    f[0] = 'B';                        // bfType
    f[1] = 'M';
    put32(f + 2, l.fileSize);          // bfSize
    put16(f + 6, 0);                   // bfReserved1
    put16(f + 8, 0);                   // bfReserved2
    put32(f + 10, l.offBits);          // bfOffBits

    std::uint8_t *i = blocks.infoHeader.data();
    put32(i + 0, 40);                  // biSize
    put32(i + 4, std::uint32_t(h.biWidth));  // biWidth
    put32(i + 8, std::uint32_t(h.biHeight)); // biHeight: positive, rows bottom-up
    put16(i + 12, 1);                  // biPlanes
    put16(i + 14, h.biBitCount);       // biBitCount
    put32(i + 16, h.biCompression);    // biCompression
    put32(i + 20, l.imageSize);        // biSizeImage
    put32(i + 24, std::uint32_t(h.biXPelsPerMeter)); // biXPelsPerMeter
    put32(i + 28, std::uint32_t(h.biYPelsPerMeter)); // biYPelsPerMeter
    put32(i + 32, l.colors);           // biClrUsed: the table's length, stated even when full
    put32(i + 36, h.biClrImportant);   // biClrImportant

    if (l.masks) {
        put32(blocks.masks.data() + 0, dib.masks[0]); // red
        put32(blocks.masks.data() + 4, dib.masks[1]); // green
        put32(blocks.masks.data() + 8, dib.masks[2]); // blue
    }
    for (std::uint32_t n = 0; n < l.colors; ++n)
        put32(blocks.colorTable.data() + 4 * n, dib.colorTable[n]); // blue, green, red, 0
    return blocks;
}

void saveToStream(const TBitmap &bitmap, DibDescription &dib, ByteOutput &output)
{
    convert(bitmap, dib);
    const HeaderBlocks blocks = encodeHeaders(dib);
    const FileLayout &l = blocks.layout;
    writeChecked(output, blocks.fileHeader.data(), blocks.fileHeader.size());
    writeChecked(output, blocks.infoHeader.data(), blocks.infoHeader.size());
    if (l.masks)
        writeChecked(output, blocks.masks.data(), blocks.masks.size());
    writeChecked(output, blocks.colorTable.data(), 4 * std::size_t(l.colors));
    // The pixel rows in one block, exactly the size the header announces.
    if (dib.bits.size() != l.imageSize)
        throw EInvalidGraphic(invalidBitmap);
    writeChecked(output, dib.bits.data(), l.imageSize);
}

std::vector<std::uint8_t> encode(const TBitmap &bitmap, DibDescription &dib)
{
    MemoryOutput output;
    convert(bitmap, dib);
    output.bytes.reserve(encodeHeaders(dib).layout.fileSize);
    saveToStream(bitmap, dib, output);
    return std::move(output.bytes);
}

std::vector<std::uint8_t> encode(const TBitmap &bitmap)
{
    DibDescription dib;
    return encode(bitmap, dib);
}

} // namespace bmp
