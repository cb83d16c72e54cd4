#include <gtest/gtest.h>

#include <climits>

#include "SkarvelKod/random_below.h"

namespace {
struct FreshSeed : ::testing::Test {
    void SetUp() override { RandomSeed = 0; }
};
} // namespace

TEST_F(FreshSeed, TheFirstResultsAtRadiusTenAreFixed)
{
    const int expected[] = {0, 0, 8, 2, 2, 6, 3, 1};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(RandomBelow(10), expected[i]) << "call " << i;
}

TEST_F(FreshSeed, ZeroAndOneAlwaysGiveZeroAndOtherRadiiStayBelowThemselves)
{
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(RandomBelow(0), 0);
        ASSERT_EQ(RandomBelow(1), 0);
        const int r = RandomBelow(100);
        ASSERT_GE(r, 0);
        ASSERT_LT(r, 100);
    }
}

TEST_F(FreshSeed, ANegativeRadiusIsTakenAsItsUnsignedPattern)
{
    // -5 is 4294967291 unsigned; the results are the upper halves of the products.
    const std::int32_t first = RandomBelow(-5); // state 1: floor(1 * 4294967291 / 2^32) = 0
    EXPECT_EQ(first, 0);
    const std::int32_t second = RandomBelow(-5);
    const std::uint64_t product = std::uint64_t(134775814u) * 4294967291u;
    EXPECT_EQ(std::uint32_t(second), std::uint32_t(product >> 32));
    // INT_MIN and INT_MAX are radii like any other: INT_MIN is 2^31
    // unsigned, so its results are the state's upper bit and never negative.
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t state = RandomSeed * 134775813u + 1u;
        const std::int32_t atMin = RandomBelow(INT_MIN);
        ASSERT_EQ(atMin, std::int32_t(state >> 1));
        const std::int32_t atMax = RandomBelow(INT_MAX);
        ASSERT_GE(atMax, 0);
        ASSERT_LT(atMax, INT_MAX);
    }
}
