#include <cstdint>
#include <optional>

#include <gtest/gtest.h>

#include "canvas/errors.h"
#include "canvas/memory_room.h"
#include "canvas/tbitmap.h"
#include "test_support.h"

#if defined(__linux__)
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

constexpr std::uint64_t MiB = std::uint64_t(1) << 20;

// Pretends the program may still map `left` bytes, for the length of a test.
struct PretendLeft {
    explicit PretendLeft(std::optional<std::uint64_t> left)
    {
        memory::setProbe([left] { return left; });
    }
    ~PretendLeft() { memory::setProbe({}); }
};

TEST(MemoryRoom, AFrameIsMadeOnlyWhereItLeavesTheToolkitItsReserve)
{
    // 1024 x 1024 at 32 bits per pixel: a 4 MiB frame.
    const std::uint64_t frame = 4 * MiB;
    TBitmap b(PixelFormat::pf32bit);
    b.SetSize(3, 2);
    paintPattern(b);
    const auto before = pixelsOf(b);
    {
        PretendLeft left(frame + memory::toolkitReserve - 1);
        EXPECT_THROW(b.SetSize(1024, 1024), EOutOfResources);
        // Refused before anything was touched.
        EXPECT_EQ(b.Width(), 3);
        EXPECT_EQ(b.Height(), 2);
        EXPECT_EQ(pixelsOf(b), before);
        // What the toolkit will take on its own counts too.
        EXPECT_FALSE(memory::roomFor(frame - 2 * MiB, 2 * MiB));
        // Small allocations are no frames and are never refused.
        b.SetSize(500, 500);
        EXPECT_EQ(b.Width(), 500);
    }
    {
        PretendLeft left(frame + memory::toolkitReserve);
        b.SetSize(1024, 1024);
        EXPECT_EQ(b.Pixel(1023, 1023), clWhite);
        EXPECT_TRUE(memory::roomFor(frame - 2 * MiB, 2 * MiB));
        // Sizes beyond any memory cannot wrap around into "fits".
        EXPECT_FALSE(memory::roomFor(UINT64_MAX, UINT64_MAX));
        EXPECT_FALSE(memory::roomFor(frame, UINT64_MAX - 1));
    }
    {
        // Nothing left at all, and no limit at all.
        PretendLeft nothing(0);
        EXPECT_THROW(memory::requireRoomFor(2 * MiB), EOutOfResources);
        PretendLeft unlimited(std::nullopt);
        EXPECT_NO_THROW(memory::requireRoomFor(UINT64_MAX / 2));
    }
}

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
// The real measure, in a child process under a real address-space limit of
// what it has mapped plus 256 MiB: a 64 MiB frame fits with the reserve,
// a 256 MiB one does not and is refused before the allocation could fail.
TEST(MemoryRoomDeathTest, MeasuresWhatARealLimitLeaves)
{
    if (memory::addressSpaceLeft())
        GTEST_SKIP() << "the tests already run under a memory limit";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto underLimit = [] {
        std::FILE *statm = std::fopen("/proc/self/statm", "r");
        unsigned long long pages = 0;
        if (!statm || std::fscanf(statm, "%llu", &pages) != 1)
            std::_Exit(3);
        std::fclose(statm);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = rlim_t(pages * std::uint64_t(sysconf(_SC_PAGESIZE)) + 256 * MiB);
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            std::_Exit(4);
        const std::optional<std::uint64_t> left = memory::addressSpaceLeft();
        if (!left || *left > 256 * MiB || *left < 200 * MiB)
            std::_Exit(5);
        TBitmap b(PixelFormat::pf32bit);
        b.SetSize(4096, 4096); // 64 MiB
        if (b.Pixel(4095, 4095) != clWhite)
            std::_Exit(6);
        try {
            b.SetSize(8192, 8192); // 256 MiB
            std::_Exit(7);
        } catch (const EOutOfResources &) {
        }
        std::_Exit(b.Width() == 4096 ? 0 : 8);
    };
    EXPECT_EXIT(underLimit(), testing::ExitedWithCode(0), "");
}
#endif

} // namespace
