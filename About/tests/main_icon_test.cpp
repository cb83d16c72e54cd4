#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

// The program icon as the window system reads it: one 32 x 32 image with a
// 256-colour palette, colour indices and a transparency mask.

namespace {

std::vector<std::uint8_t> icon()
{
    std::ifstream in(SKARVEL_ASSETS_DIR "/main_icon.ico", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

unsigned u16(const std::vector<std::uint8_t> &b, std::size_t at) { return b[at] | unsigned(b[at + 1]) << 8; }
std::uint32_t u32(const std::vector<std::uint8_t> &b, std::size_t at) { return u16(b, at) | std::uint32_t(u16(b, at + 2)) << 16; }

} // namespace

TEST(MainIcon, HoldsOne32By32ImageWith256Colours)
{
    const std::vector<std::uint8_t> b = icon();
    ASSERT_EQ(b.size(), 6u + 16u + 2216u);
    EXPECT_EQ(u16(b, 0), 0u); // reserved
    EXPECT_EQ(u16(b, 2), 1u); // an icon, not a cursor
    ASSERT_EQ(u16(b, 4), 1u); // one image
    EXPECT_EQ(b[6], 32);
    EXPECT_EQ(b[7], 32);
    EXPECT_EQ(b[8], 0); // 0 colours in the directory stands for 256
    EXPECT_EQ(u16(b, 12), 8u);
    EXPECT_EQ(u32(b, 14), 2216u);
    ASSERT_EQ(u32(b, 18), 22u);

    const std::size_t header = 22;
    EXPECT_EQ(u32(b, header), 40u);
    EXPECT_EQ(u32(b, header + 4), 32u);
    EXPECT_EQ(u32(b, header + 8), 64u); // colour rows and mask rows
    EXPECT_EQ(u16(b, header + 12), 1u);
    EXPECT_EQ(u16(b, header + 14), 8u);
    EXPECT_EQ(u32(b, header + 16), 0u); // uncompressed

    // A real picture: many of the palette's colours in use, some pixels
    // transparent (the rounded corners) and most not.
    const std::size_t indices = header + 40 + 1024, mask = indices + 1024;
    const std::set<std::uint8_t> used(b.begin() + long(indices), b.begin() + long(mask));
    EXPECT_GT(used.size(), 8u);
    int transparent = 0;
    for (std::size_t i = mask; i < b.size(); ++i)
        for (int bit = 0; bit < 8; ++bit)
            transparent += (b[i] >> bit) & 1;
    EXPECT_GT(transparent, 0);
    EXPECT_LT(transparent, 32 * 32 / 4);
}
