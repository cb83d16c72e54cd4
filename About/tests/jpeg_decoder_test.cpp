#include <gtest/gtest.h>

#include <cstdint>
#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "About/jpeg_decoder.h"
#include "canvas/errors.h"

using namespace about;

namespace {

std::vector<std::uint8_t> readFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::vector<std::uint8_t> &logo()
{
    static const std::vector<std::uint8_t> bytes = readFile(SKARVEL_ASSETS_DIR "/about_logo.jpg");
    return bytes;
}

// The offset of the first marker `code` (0xFF code) in the stream, or -1.
long findMarker(const std::vector<std::uint8_t> &s, std::uint8_t code)
{
    for (std::size_t i = 2; i + 1 < s.size();) {
        if (s[i] != 0xFF)
            return -1;
        if (s[i + 1] == code)
            return long(i);
        if (s[i + 1] == 0xDA) // the scan's entropy data follows
            return -1;
        i += 2 + (std::size_t(s[i + 2]) << 8 | s[i + 3]);
    }
    return -1;
}

std::array<int, 3> pixelAt(const RgbImage &image, int x, int y)
{
    const std::size_t i = (std::size_t(y) * std::size_t(image.width) + std::size_t(x)) * 3;
    return {image.pixels[i], image.pixels[i + 1], image.pixels[i + 2]};
}

void expectNear(std::array<int, 3> got, std::array<int, 3> want, int tolerance)
{
    for (int c = 0; c < 3; ++c)
        EXPECT_LE(std::abs(got[std::size_t(c)] - want[std::size_t(c)]), tolerance)
            << "channel " << c << ": " << got[std::size_t(c)] << " for " << want[std::size_t(c)];
}

} // namespace

TEST(Logo, IsABaselineJfifPictureWithFullColourResolution)
{
    ASSERT_FALSE(logo().empty()) << "missing " SKARVEL_ASSETS_DIR "/about_logo.jpg";
    const JpegInfo info = readJpegInfo(logo());
    EXPECT_EQ(info.width, 73);
    EXPECT_EQ(info.height, 97);
    EXPECT_EQ(info.components, 3);
    EXPECT_TRUE(info.ycbcr);
    EXPECT_TRUE(info.fullChroma);
    EXPECT_FALSE(info.progressive);
    EXPECT_FALSE(info.arithmetic);
    EXPECT_EQ(info.precision, 8);
    ASSERT_TRUE(info.jfif);
    EXPECT_EQ(info.jfifMajor, 1);
    EXPECT_EQ(info.jfifMinor, 2);
    EXPECT_EQ(info.densityUnit, 1);
    EXPECT_EQ(info.xDensity, 100);
    EXPECT_EQ(info.yDensity, 100);
    // Baseline: the frame header is SOF0.
    EXPECT_GT(findMarker(logo(), 0xC0), 0);
}

TEST(Logo, DecodesToItsPictureInRedGreenBlueOrder)
{
    const RgbImage image = decodeJpeg(logo());
    ASSERT_EQ(image.width, 73);
    ASSERT_EQ(image.height, 97);
    ASSERT_EQ(image.pixels.size(), std::size_t(73 * 97 * 3));
    // The pale top of the background and the teal task bar of the monitor:
    // a swap of red and blue, or a grey decode, would miss both.
    expectNear(pixelAt(image, 1, 1), {250, 248, 225}, 8);
    expectNear(pixelAt(image, 40, 47), {0, 128, 128}, 12);
}

TEST(JpegDecoder, ATruncatedStreamFailsCleanly)
{
    const std::vector<std::uint8_t> &whole = logo();
    ASSERT_GT(whole.size(), 1000u);
    const long scan = findMarker(whole, 0xDA);
    ASSERT_GT(scan, 0);
    // Cut inside the headers, at the start of the scan, inside the scan and
    // just before the end-of-image marker.
    const std::size_t cuts[] = {0, 1, 2, 20, std::size_t(scan), std::size_t(scan) + 20, whole.size() / 2,
                                whole.size() - 3, whole.size() - 2};
    for (std::size_t cut : cuts) {
        const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + long(cut));
        EXPECT_THROW(decodeJpeg(part), EInvalidGraphic) << "cut at " << cut << " of " << whole.size();
    }
    // The headers alone still read: the failure is in the picture data.
    const std::vector<std::uint8_t> half(whole.begin(), whole.begin() + long(whole.size() / 2));
    EXPECT_EQ(readJpegInfo(half).width, 73);
}

TEST(JpegDecoder, DamagedOrForeignDataFailsWithAMessage)
{
    const std::vector<std::uint8_t> notJpeg = {'B', 'M', 0x36, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0};
    try {
        decodeJpeg(notJpeg);
        FAIL() << "a bitmap file decoded as JPEG";
    } catch (const EInvalidGraphic &e) {
        EXPECT_FALSE(e.Message().empty());
    }

    // An end-of-image marker in the middle of the picture data.
    std::vector<std::uint8_t> cut = logo();
    const std::size_t middle = cut.size() / 2;
    cut[middle] = 0xFF;
    cut[middle + 1] = 0xD9;
    EXPECT_THROW(decodeJpeg(cut), EInvalidGraphic);

    // A frame header with no components.
    std::vector<std::uint8_t> broken = logo();
    const long sof = findMarker(broken, 0xC0);
    ASSERT_GT(sof, 0);
    broken[std::size_t(sof) + 9] = 0;
    EXPECT_THROW(decodeJpeg(broken), EInvalidGraphic);
}

TEST(JpegDecoder, RefusesPicturesLargerThanTheLimitBeforeTakingMemory)
{
    EXPECT_THROW(decodeJpeg(logo(), 73 * 97 - 1), EInvalidGraphic);
    EXPECT_NO_THROW(decodeJpeg(logo(), 73 * 97));

    // A header that claims 60000 x 60000 pixels.
    std::vector<std::uint8_t> huge = logo();
    const long sof = findMarker(huge, 0xC0);
    ASSERT_GT(sof, 0);
    const std::size_t at = std::size_t(sof) + 5; // height, then width, big-endian
    huge[at] = huge[at + 2] = 0xEA;
    huge[at + 1] = huge[at + 3] = 0x60;
    EXPECT_EQ(readJpegInfo(huge).width, 60000);
    EXPECT_THROW(decodeJpeg(huge), EInvalidGraphic);
}
