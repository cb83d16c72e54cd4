#include "harness.h"

#include <ostream>
#include <sstream>

namespace e2e {

namespace {

std::uint32_t mix(std::uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

std::uint32_t tileHash(std::uint32_t tx, std::uint32_t ty, std::uint32_t seed)
{
    return mix(tx * 0x9e3779b1u ^ mix(ty * 0x85ebca77u ^ seed));
}

int floorDiv(int v, int d)
{
    return v >= 0 ? v / d : -((-v + d - 1) / d);
}

} // namespace

// The colour index of a tile is (tx + 3 ty + 2 g) mod 8 for a pseudo-random
// g: horizontal neighbours differ by an odd amount plus an even one, and so do
// vertical ones, so neighbours never share a colour, while g breaks every
// period. Pattern B's g is A's plus 1, 2 or 3 (mod 4), so B's index differs
// from A's by 2, 4 or 6: never equal.
Rgb expectedDesktopColor(Pattern pattern, int x, int y)
{
    const int tx = floorDiv(x, tileSize);
    const int ty = floorDiv(y, tileSize);
    const auto utx = static_cast<std::uint32_t>(tx);
    const auto uty = static_cast<std::uint32_t>(ty);
    std::uint32_t g = tileHash(utx, uty, 0x5ca4e1u) & 3;
    if (pattern == Pattern::B)
        g += 1 + tileHash(utx, uty, 0xb0b0b0bu) % 3;
    const std::uint32_t index = (utx + 3 * uty + 2 * g) & 7;
    return {static_cast<std::uint8_t>(index & 1 ? 255 : 0), static_cast<std::uint8_t>(index & 2 ? 255 : 0),
            static_cast<std::uint8_t>(index & 4 ? 255 : 0)};
}

DesktopDiff compareWithDesktop(const Image &image, Pattern pattern, const std::vector<Rect> &ignore)
{
    DesktopDiff diff;
    const Rect &r = image.rect();
    for (int y = 0; y < r.height; ++y) {
        for (int x = 0; x < r.width; ++x) {
            const int sx = r.x + x;
            const int sy = r.y + y;
            bool skip = false;
            for (const Rect &i : ignore)
                skip = skip || i.contains(sx, sy);
            if (skip)
                continue;
            ++diff.compared;
            const Rgb expected = expectedDesktopColor(pattern, sx, sy);
            const Rgb actual = image.pixel(x, y);
            if (actual != expected && diff.mismatches++ == 0) {
                diff.first = {sx, sy};
                diff.expected = expected;
                diff.actual = actual;
            }
        }
    }
    return diff;
}

std::string DesktopDiff::describe() const
{
    std::ostringstream out;
    if (matches()) {
        out << "all " << compared << " pixels match the desktop";
    } else {
        out << mismatches << " of " << compared << " pixels differ from the desktop; the first at " << first
            << " is " << actual << " instead of " << expected;
    }
    return out.str();
}

std::ostream &operator<<(std::ostream &out, const DesktopDiff &diff)
{
    return out << diff.describe();
}

} // namespace e2e
