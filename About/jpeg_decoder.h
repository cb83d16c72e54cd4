#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Reading a JPEG stream with the IJG libjpeg library, for the About window's
// logo. Every failure is an EInvalidGraphic carrying libjpeg's own message;
// nothing here ends the program or prints anything. A stream that ends early
// or holds damaged data is a failure too: libjpeg would only warn and fill the
// rest of the picture with grey.

namespace about {

// What the stream's header says.
struct JpegInfo {
    int width = 0;
    int height = 0;
    int components = 0;
    bool ycbcr = false;       // stored as luminance and two colour differences
    bool fullChroma = false;  // every component sampled 1 x 1
    bool progressive = false;
    bool arithmetic = false;  // arithmetic rather than Huffman coding
    int precision = 0;        // bits per sample
    bool jfif = false;        // a JFIF marker; the fields below only then
    int jfifMajor = 0;
    int jfifMinor = 0;
    int densityUnit = 0;      // 0 none, 1 dots per inch, 2 dots per centimetre
    int xDensity = 0;
    int yDensity = 0;
};

// A decoded picture: 8-bit red, green and blue, rows top to bottom, three
// bytes a pixel, no padding.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

// Pictures larger than this are refused before any pixel memory is taken.
constexpr std::size_t defaultMaxJpegPixels = std::size_t(1) << 24;

JpegInfo readJpegInfo(std::span<const std::uint8_t> data);
RgbImage decodeJpeg(std::span<const std::uint8_t> data, std::size_t maxPixels = defaultMaxJpegPixels);

} // namespace about
