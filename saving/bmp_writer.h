#pragma once

// The BMP encoder: turns a picture bitmap into the bytes of a Windows bitmap
// file (14-byte file header, 40-byte info header, uncompressed rows stored
// bottom-up) at the picture's own depth. Plain C++, no I/O: the bytes go to a
// ByteOutput (saving/byte_output.h) or into memory.
//
// The rows in file form (the "converted image") are kept in the bitmap's
// DibDescription until the next drawing operation drops them, so that saving
// again without a change writes the same rows without converting them again.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "canvas/tbitmap.h"

class ByteOutput;

namespace bmp {

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

// Makes sure the bitmap carries a converted image that matches its pixels:
// does nothing when the one from an earlier save is still there, converts
// otherwise. Returns true when it converted.
//
// A header left by an earlier conversion is reused: its compression (BI_RGB,
// or BI_BITFIELDS at 16 and 32 bits with the stored masks) and, at 8 bits and
// fewer, a colours-used count smaller than the full palette, to which the
// pixels are then mapped. Everything else is taken from the bitmap itself.
//
// Throws EInvalidGraphic ("Bitmap image is not valid") for a bitmap without
// pixels or with unusable colour masks, EOutOfResources when the rows cannot
// be allocated. The bitmap's pixels are never changed.
bool convert(TBitmap &bitmap);

// The header blocks of a converted description. Precondition: dib.converted.
HeaderBlocks encodeHeaders(const DibDescription &dib);

// Writes the whole file to the output, converting first when needed: file
// header, info header, masks (BI_BITFIELDS only), colour table (8 bits and
// fewer), pixel rows, each as one checked block (a block stored short raises
// EWriteError, "Stream write error"). A picture without pixels raises
// EInvalidGraphic and writes nothing.
void saveToStream(TBitmap &bitmap, ByteOutput &output);

// The whole file in memory (converts first when needed).
std::vector<std::uint8_t> encode(TBitmap &bitmap);

// The masks a BI_BITFIELDS description is written with: fixed ones when the
// red mask is 0 (16 bits: 5-6-5; 32 bits: 8-8-8), the stored ones otherwise.
std::array<std::uint32_t, 3> effectiveMasks(int bitCount, const std::uint32_t (&stored)[3]);

} // namespace bmp
