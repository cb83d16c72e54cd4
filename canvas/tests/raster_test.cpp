#include <algorithm>
#include <climits>
#include <cstdint>
#include <ostream>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "canvas/raster.h"
#include "canvas/wide_int.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;

Pixels thin(Point p, Point q, const Rect &clip)
{
    Pixels out;
    raster::thinLine(p, q, clip, [&](int x, int y) {
        EXPECT_TRUE(clip.contains(x, y)) << x << "," << y;
        EXPECT_TRUE(out.insert({x, y}).second) << "twice: " << x << "," << y;
    });
    return out;
}

struct Span {
    int y, x0, x1;
    friend bool operator==(const Span &, const Span &) = default;
    friend std::ostream &operator<<(std::ostream &os, const Span &s)
    {
        return os << "row " << s.y << ": " << s.x0 << ".." << s.x1;
    }
};

std::vector<Span> wide(Point p, Point q, int width, const Rect &clip)
{
    std::vector<Span> out;
    raster::wideLine(p, q, width, clip, [&](int y, int x0, int x1) {
        EXPECT_LT(x0, x1);
        EXPECT_TRUE(clip.contains(x0, y) && clip.contains(x1 - 1, y)) << y << ": " << x0 << ".." << x1;
        if (!out.empty()) {
            EXPECT_GT(y, out.back().y) << "rows come top to bottom, once each";
        }
        out.push_back({y, x0, x1});
    });
    return out;
}

Pixels pixelsOf(const std::vector<Span> &spans)
{
    Pixels out;
    for (const Span &s : spans)
        for (int x = s.x0; x < s.x1; ++x)
            out.insert({x, s.y});
    return out;
}

Pixels within(const Pixels &pixels, const Rect &clip)
{
    Pixels out;
    for (const auto &p : pixels)
        if (clip.contains(p.first, p.second))
            out.insert(p);
    return out;
}

// The stroke by its definition: pixel centres within width / 2 of the
// segment, tested one pixel at a time in doubled coordinates, where the
// centre of (x, y) is (2x + 1, 2y + 1) and the radius is the width.
bool inStroke(Point p, Point q, int width, int x, int y)
{
    const std::int64_t o = width % 2;
    const std::int64_t ax = 2 * std::int64_t(p.x) + o, ay = 2 * std::int64_t(p.y) + o;
    const std::int64_t bx = 2 * std::int64_t(q.x) + o, by = 2 * std::int64_t(q.y) + o;
    const std::int64_t cx = 2 * std::int64_t(x) + 1, cy = 2 * std::int64_t(y) + 1;
    const std::int64_t dx = bx - ax, dy = by - ay, r2 = std::int64_t(width) * width;
    const std::int64_t len2 = dx * dx + dy * dy;
    const std::int64_t t = (cx - ax) * dx + (cy - ay) * dy;
    if (len2 == 0 || t <= 0)
        return (cx - ax) * (cx - ax) + (cy - ay) * (cy - ay) <= r2;
    if (t >= len2)
        return (cx - bx) * (cx - bx) + (cy - by) * (cy - by) <= r2;
    const Int128 cross = Int128(dx) * (cy - ay) - Int128(dy) * (cx - ax);
    return cross * cross <= Int128(r2) * len2;
}

Point randomPoint(std::mt19937 &rng, int lo, int hi)
{
    std::uniform_int_distribution<int> d(lo, hi);
    return {d(rng), d(rng)};
}

// ---------------------------------------------------------------------------

TEST(ThinLine, StartDrawnEndLeftOut)
{
    const Rect clip{-50, -50, 50, 50};
    EXPECT_EQ(thin({2, 3}, {6, 3}, clip), (Pixels{{2, 3}, {3, 3}, {4, 3}, {5, 3}}));
    EXPECT_EQ(thin({2, 3}, {2, 0}, clip), (Pixels{{2, 3}, {2, 2}, {2, 1}}));
    EXPECT_EQ(thin({0, 0}, {-3, 3}, clip), (Pixels{{0, 0}, {-1, 1}, {-2, 2}}));
    EXPECT_TRUE(thin({4, 4}, {4, 4}, clip).empty());
    EXPECT_EQ(thin({0, 0}, {1, 1}, clip), (Pixels{{0, 0}}));
}

TEST(ThinLine, OneConnectedPixelPerStepWithinHalfAPixelOfTheLine)
{
    std::mt19937 rng(1);
    const Rect clip{-100, -100, 100, 100};
    for (int n = 0; n < 500; ++n) {
        const Point p = randomPoint(rng, -60, 60), q = randomPoint(rng, -60, 60);
        if (p == q)
            continue;
        Pixels all = thin(p, q, clip);
        all.insert({q.x, q.y});
        const std::int64_t dx = q.x - p.x, dy = q.y - p.y;
        const bool xMajor = std::abs(dx) >= std::abs(dy);
        ASSERT_EQ(std::int64_t(all.size()), std::max(std::abs(dx), std::abs(dy)) + 1);
        std::set<int> majors;
        for (const auto &[x, y] : all) {
            // |minor - ideal minor| <= 1/2, times 2 * major length.
            const std::int64_t u = xMajor ? x - p.x : y - p.y, v = xMajor ? y - p.y : x - p.x;
            const std::int64_t du = xMajor ? dx : dy, dv = xMajor ? dy : dx;
            EXPECT_LE(std::abs(2 * v * du - 2 * u * dv), std::abs(du)) << x << "," << y;
            majors.insert(int(u));
        }
        EXPECT_EQ(majors.size(), all.size()) << "one pixel per step along the major axis";
    }
}

TEST(ThinLine, SameRunInBothDirections)
{
    std::mt19937 rng(2);
    const Rect clip{-40, -40, 40, 40};
    for (int n = 0; n < 2000; ++n) {
        const Point p = randomPoint(rng, -50, 50), q = randomPoint(rng, -50, 50);
        Pixels forward = thin(p, q, clip), backward = thin(q, p, clip);
        for (Point e : {p, q})
            if (clip.contains(e.x, e.y) && p != q) {
                forward.insert({e.x, e.y});
                backward.insert({e.x, e.y});
            }
        ASSERT_EQ(forward, backward) << p.x << "," << p.y << " " << q.x << "," << q.y;
    }
}

TEST(ThinLine, SmallClipSeesWhatTheBigClipDrawsThere)
{
    std::mt19937 rng(3);
    const Rect big{-200, -200, 200, 200};
    for (int n = 0; n < 1000; ++n) {
        const Point p = randomPoint(rng, -300, 300), q = randomPoint(rng, -300, 300);
        const Point corner = randomPoint(rng, -190, 150);
        const Rect small{corner.x, corner.y, corner.x + 1 + int(rng() % 40), corner.y + 1 + int(rng() % 40)};
        ASSERT_EQ(thin(p, q, small), within(thin(p, q, big), small));
    }
}

TEST(ThinLine, ExtremeEndPointsCostOnlyTheClip)
{
    const Rect clip{0, 0, 64, 48};
    Pixels diagonal;
    for (int i = 0; i < 48; ++i)
        diagonal.insert({i, i});
    EXPECT_EQ(thin({INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, clip), diagonal);
    EXPECT_EQ(thin({INT_MAX, INT_MAX}, {INT_MIN, INT_MIN}, clip), diagonal);

    Pixels row;
    for (int x = 0; x < 64; ++x)
        row.insert({x, 7});
    EXPECT_EQ(thin({INT_MIN, 7}, {INT_MAX, 7}, clip), row);
    EXPECT_EQ(thin({INT_MAX, 7}, {INT_MIN, 7}, clip), row);

    // Nearly flat over 2^32 columns: one pixel in each column of the clip,
    // on row 0 or 1, never stepping back.
    const Pixels flat = thin({INT_MIN, 0}, {INT_MAX, 1}, clip);
    ASSERT_EQ(flat.size(), 64u);
    int lastY = 0;
    for (const auto &[x, y] : flat) {
        EXPECT_TRUE(y == 0 || y == 1);
        EXPECT_GE(y, lastY);
        lastY = y;
    }

    // A clip far out on the line.
    const Rect far{INT_MAX - 10, INT_MAX - 10, INT_MAX, INT_MAX};
    EXPECT_EQ(thin({0, 0}, {INT_MAX, INT_MAX}, far).size(), 10u);
    EXPECT_TRUE(thin({0, 0}, {INT_MAX, INT_MAX - 100}, Rect{0, INT_MAX - 50, 10, INT_MAX}).empty());
}

// ---------------------------------------------------------------------------

TEST(WideLine, MatchesTheDefinitionPixelForPixel)
{
    std::mt19937 rng(4);
    const Rect clip{-40, -40, 40, 40};
    for (int n = 0; n < 1500; ++n) {
        const Point p = randomPoint(rng, -30, 30);
        const Point q = n % 5 == 0 ? p : randomPoint(rng, -30, 30);
        const int width = 1 + int(rng() % 16);
        const Pixels got = pixelsOf(wide(p, q, width, clip));
        Pixels expected;
        for (int y = clip.top; y < clip.bottom; ++y)
            for (int x = clip.left; x < clip.right; ++x)
                if (inStroke(p, q, width, x, y))
                    expected.insert({x, y});
        ASSERT_EQ(got, expected) << "width " << width << " from " << p.x << "," << p.y << " to " << q.x << ","
                                 << q.y;
    }
}

TEST(WideLine, WidthIsThePixelsAcrossAndBothEndsAreCovered)
{
    const Rect clip{-20, -20, 20, 20};
    for (int width = 2; width <= 9; ++width) {
        // A horizontal stroke is `width` rows high, centred on its row (even
        // widths: the extra row above).
        const auto spans = wide({-5, 0}, {5, 0}, width, clip);
        ASSERT_EQ(int(spans.size()), width);
        EXPECT_EQ(spans.front().y, -(width / 2));
        const Pixels px = pixelsOf(spans);
        EXPECT_TRUE(px.count({-5, 0}) && px.count({5, 0}));
    }
    EXPECT_TRUE(wide({0, 0}, {5, 5}, 0, clip).empty());
    EXPECT_TRUE(wide({0, 0}, {5, 5}, -4, clip).empty());
}

TEST(WideLine, SmallClipSeesWhatTheBigClipDrawsThere)
{
    std::mt19937 rng(5);
    const Rect big{-128, -128, 128, 128};
    const int scales[] = {200, 100000, 1 << 28, INT_MAX};
    for (int n = 0; n < 800; ++n) {
        const int scale = scales[n % 4];
        const Point p = randomPoint(rng, -scale, scale);
        const Point q = n % 7 == 0 ? p : randomPoint(rng, -scale, scale);
        const int widths[] = {2, 3, 8, 17, 64, 255, 1000, INT_MAX};
        const int width = widths[rng() % 8];
        const Point corner = randomPoint(rng, -128, 67); // small stays inside big
        const Rect small{corner.x, corner.y, corner.x + 1 + int(rng() % 60), corner.y + 1 + int(rng() % 60)};
        std::vector<Span> expected;
        for (const Span &s : wide(p, q, width, big)) {
            const Span cut{s.y, std::max(s.x0, small.left), std::min(s.x1, small.right)};
            if (s.y >= small.top && s.y < small.bottom && cut.x0 < cut.x1)
                expected.push_back(cut);
        }
        ASSERT_EQ(wide(p, q, width, small), expected)
            << n << ": width " << width << " from " << p.x << "," << p.y << " to " << q.x << "," << q.y;
    }
}

TEST(WideLine, ExtremeWidthsAndPointsAreExact)
{
    const Rect bitmap{0, 0, 64, 48};
    const int full = 64 * 48;
    EXPECT_EQ(int(pixelsOf(wide({0, 0}, {0, 0}, INT_MAX, bitmap)).size()), full);
    EXPECT_EQ(int(pixelsOf(wide({INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, INT_MAX, bitmap)).size()), full);
    EXPECT_EQ(int(pixelsOf(wide({INT_MAX, INT_MIN}, {INT_MIN, INT_MAX}, INT_MAX - 1, bitmap)).size()), full);
    EXPECT_TRUE(wide({INT_MIN, INT_MAX}, {INT_MAX, INT_MAX}, INT_MAX, bitmap).empty());

    // The edge of a stroke of width 2^31 - 1 along row INT_MAX: rows within
    // 1073741823.5 of it, so from row 1073741824 on.
    const Rect edge{-3, 1073741820, 3, 1073741830};
    const auto spans = wide({INT_MIN, INT_MAX}, {INT_MAX, INT_MAX}, INT_MAX, edge);
    ASSERT_EQ(spans.size(), 6u);
    EXPECT_EQ(spans.front(), (Span{1073741824, -3, 3}));

    // The edge of a wide diagonal, where the band alone decides: |x - y| at
    // most w / sqrt 2, the largest d with 2 d^2 <= w^2.
    for (int width : {INT_MAX, INT_MAX - 1, 1000001}) {
        std::int64_t d = std::int64_t(width / 1.41421356237);
        while (2 * Int128(d + 1) * (d + 1) <= Int128(width) * width)
            ++d;
        while (2 * Int128(d) * d > Int128(width) * width)
            --d;
        // Even widths centre the stroke on pixel corners, a half pixel up and
        // left, which the diagonal does not notice.
        const Rect around{int(d) - 4, 0, int(d) + 4, 1};
        const auto row = wide({INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, width, around);
        ASSERT_EQ(row.size(), 1u) << width;
        EXPECT_EQ(row[0], (Span{0, around.left, int(d) + 1})) << width;

        // A clip with three corners in the stroke and the fourth just out
        // of it is not filled whole.
        const Rect corner{int(d) - 5, -2, int(d) + 1, 1};
        EXPECT_EQ(wide({INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, width, corner),
                  (std::vector<Span>{{-2, int(d) - 5, int(d) - 1}, {-1, int(d) - 5, int(d)}, {0, int(d) - 5, int(d) + 1}}))
            << width;
    }
}

} // namespace
