#pragma once

// The BMP encoder: turns a picture bitmap into the bytes of a Windows bitmap
// file (14-byte file header, 40-byte info header, uncompressed rows stored
// bottom-up) at the picture's own depth. Plain C++, no I/O: the bytes go to a
// ByteOutput (saving/byte_output.h) or into memory.
//
// The rows in file form (the "converted image") are kept in a DibDescription
// together with the bitmap's change count, so that saving again without a
// change writes the same rows without converting them again.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "canvas/tbitmap.h"

class ByteOutput;

namespace bmp {

// The ten fields of a BMP info header, as the writer keeps them between
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

// Lets the converted rows go at the bitmap's next change (a converted 4K
// picture holds over 30 MB). A copy of a description starts without it.
struct ReleaseAtChange {
    ReleaseAtChange() = default;
    ReleaseAtChange(const ReleaseAtChange &) {}
    ReleaseAtChange &operator=(const ReleaseAtChange &) { return *this; }
    std::shared_ptr<const std::function<void()>> release;
};

// The device-independent form of one picture bitmap, kept by whoever saves
// it from one save to the next. The rows stand for the bitmap `source` as it
// was at its change count `changeCount`; the bitmap's next drawing operation
// lets them go, and the next save converts again, reusing the stored header
// with colours used and important set to 0 (all of it is dropped when the
// size changed).
struct DibDescription {
    BitmapInfoHeader header;
    std::uint32_t masks[3] = {0, 0, 0}; // red, green, blue; only above 8 bits
    bool converted = false;             // the converted image below is present
    const TBitmap *source = nullptr;    // the bitmap last converted
    std::uint64_t changeCount = 0;      // its change count at that conversion
    std::vector<std::uint32_t> colorTable; // entries 0x00RRGGBB (RGBQUAD order in memory)
    std::vector<std::uint8_t> bits;        // pixel rows, bottom row first, BMP stride
    int conversions = 0;                   // how many times it was converted (for tests and benchmarks)
    ReleaseAtChange atChange;
};

inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr std::uint32_t BI_BITFIELDS = 3;

// The sizes a converted picture is written with.
struct FileLayout {
    std::uint32_t colors = 0;     // N: colour-table entries (0 above 8 bits per pixel)
    bool masks = false;           // the three colour masks follow the info header
    std::uint32_t stride = 0;     // bytes per stored row, a multiple of 4
    std::uint32_t imageSize = 0;  // stride x height: exactly the pixel block written
    std::uint32_t offBits = 0;    // 14 + 40 + (12 with masks) + 4 x N
    std::uint32_t fileSize = 0;   // offBits + imageSize
};

// Everything that precedes the pixel rows, each part ready to be written as
// one block. The colour table is collected in a fixed 256-entry buffer.
struct HeaderBlocks {
    FileLayout layout;
    std::array<std::uint8_t, 14> fileHeader{};
    std::array<std::uint8_t, 40> infoHeader{};
    std::array<std::uint8_t, 12> masks{};         // written only when layout.masks
    std::array<std::uint8_t, 4 * 256> colorTable{}; // the first 4 x layout.colors bytes
};

// Makes sure `dib` holds a converted image that matches the bitmap's pixels:
// does nothing when the one from an earlier save is still current (the same
// bitmap, no change since), converts otherwise. Returns true when it converted.
//
// A header left by an earlier conversion, or set before the first one, is
// reused: its compression (BI_RGB,
// or BI_BITFIELDS at 16 and 32 bits with the stored masks) and, at 8 bits and
// fewer, a colours-used count smaller than the full palette, to which the
// pixels are then mapped. Everything else is taken from the bitmap itself.
//
// Throws EInvalidGraphic ("Bitmap image is not valid") for a bitmap without
// pixels or with unusable colour masks, EOutOfResources when the rows cannot
// be allocated. The bitmap's pixels are never changed.
bool convert(const TBitmap &bitmap, DibDescription &dib);

// The header blocks of a converted description. Precondition: dib.converted.
HeaderBlocks encodeHeaders(const DibDescription &dib);

// Writes the whole file to the output, converting first when needed: file
// header, info header, masks (BI_BITFIELDS only), colour table (8 bits and
// fewer), pixel rows, each as one checked block (a block stored short raises
// EWriteError, "Stream write error"). A picture without pixels raises
// EInvalidGraphic and writes nothing.
void saveToStream(const TBitmap &bitmap, DibDescription &dib, ByteOutput &output);

// The whole file in memory (converts first when needed).
std::vector<std::uint8_t> encode(const TBitmap &bitmap, DibDescription &dib);
// The whole file in memory, converted afresh and kept nowhere.
std::vector<std::uint8_t> encode(const TBitmap &bitmap);

// The masks a BI_BITFIELDS description is written with: fixed ones when the
// red mask is 0 (16 bits: 5-6-5; 32 bits: 8-8-8), the stored ones otherwise.
std::array<std::uint32_t, 3> effectiveMasks(int bitCount, const std::uint32_t (&stored)[3]);

} // namespace bmp
