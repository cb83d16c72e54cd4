#include <cstdint>
#include <optional>

#include <gtest/gtest.h>

#include "canvas/errors.h"
#include "canvas/memory_room.h"
#include "canvas/tbitmap.h"
#include "test_support.h"

#if defined(__linux__)
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

constexpr std::uint64_t MiB = std::uint64_t(1) << 20;

TEST(MemoryRoom, AFrameIsMadeOnlyWhereItLeavesTheToolkitItsReserve)
{
    std::optional<std::uint64_t> left;
    memory::setProbe([&] { return left; });
    TBitmap b(PixelFormat::pf32bit);
    b.SetSize(3, 2);
    paintPattern(b);
    const auto before = pixelsOf(b);
    // 1024 x 1024 at 32 bits per pixel is a 4 MiB frame.
    left = 4 * MiB + memory::toolkitReserve - 1;
    EXPECT_THROW(b.SetSize(1024, 1024), EOutOfResources);
    EXPECT_EQ(pixelsOf(b), before); // refused before anything was touched
    EXPECT_FALSE(memory::roomFor(2 * MiB, 2 * MiB)); // what the toolkit takes later counts
    b.SetSize(500, 500); // no frame: never refused
    left = 4 * MiB + memory::toolkitReserve;
    b.SetSize(1024, 1024);
    EXPECT_EQ(b.Pixel(1023, 1023), clWhite);
    // Sizes beyond any memory cannot wrap around into "fits".
    EXPECT_FALSE(memory::roomFor(UINT64_MAX, UINT64_MAX));
    EXPECT_FALSE(memory::roomFor(4 * MiB, UINT64_MAX - 1));
    left = std::nullopt; // no limit
    EXPECT_TRUE(memory::roomFor(UINT64_MAX / 2));
    memory::setProbe({});
}

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
// The real measure, in a child under an address-space limit of what it has
// mapped plus 256 MiB: a 64 MiB frame fits with the reserve; then a 160 MiB
// one would fit beside it alone but not with the reserve, and is refused.
TEST(MemoryRoomDeathTest, MeasuresWhatARealLimitLeaves)
{
    if (memory::addressSpaceLeft())
        GTEST_SKIP() << "the tests already run under a memory limit";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto underLimit = [] {
        long pages = 0;
        if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = rlim_t(pages * sysconf(_SC_PAGESIZE)) + 256 * MiB;
        const std::optional<std::uint64_t> left =
            pages > 0 && setrlimit(RLIMIT_AS, &limit) == 0 ? memory::addressSpaceLeft() : std::nullopt;
        if (!left || *left > 256 * MiB || *left < 240 * MiB)
            std::_Exit(2);
        TBitmap b(PixelFormat::pf32bit);
        b.SetSize(4096, 4096); // 64 MiB
        try {
            b.SetSize(8192, 5120); // 160 MiB
        } catch (const EOutOfResources &) {
            std::_Exit(b.Width() == 4096 && b.Pixel(4095, 4095) == clWhite ? 0 : 3);
        }
        std::_Exit(4);
    };
    EXPECT_EXIT(underLimit(), testing::ExitedWithCode(0), "");
}
#endif

} // namespace
