#include "raster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "canvas/wide_int.h"

namespace raster {
namespace {

using i64 = std::int64_t;
using i128 = Int128;
using u128 = UInt128;

// Division rounding down / up, for a positive divisor.
template <class I>
I floorDiv(I a, I b)
{
    const I q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}
template <class I>
I ceilDiv(I a, I b)
{
    const I q = a / b;
    return (a % b != 0 && a > 0) ? q + 1 : q;
}

// floor(sqrt(v)) for 0 <= v < 2^63, exact.
i64 isqrt64(i64 v)
{
    auto s = i64(std::sqrt(double(v))); // off by at most one either way
    while (s > 0 && s * s > v)
        --s;
    while ((s + 1) * (s + 1) <= v)
        ++s;
    return s;
}

// ---------------------------------------------------------------------------
// Thin lines

// The closed pixel run of a segment from a to b, stepped along the major axis
// u (n steps, direction su) with the minor coordinate v moving by m/n per step
// (direction sv): pixel i sits at
//     u = u0 + su * i,   v = v0 + sv * floor((2 i m + n) / (2 n)),
// that is, the ideal line rounded half away from a. The error term of the
// loop is (2 i m + n) mod 2n; it starts at n for i = 0.
struct Run {
    i64 u0, v0;
    int su, sv;
    i64 n, m;
};

// floor((2 i m + n) / (2 n)), the minor offset of step i.
i128 minorOffset(const Run &r, i128 i)
{
    return floorDiv<i128>(2 * i * r.m + r.n, 2 * r.n);
}

// The steps i in [lo, hi] whose minor offset f(i) lies in [kLo, kHi]; f is
// non-decreasing, so they form one range. Returns false when there are none.
bool stepsWithOffset(const Run &r, i128 kLo, i128 kHi, i128 &lo, i128 &hi)
{
    if (kLo > kHi)
        return false;
    if (r.m == 0) // f(i) == 0 for every i
        return kLo <= 0 && 0 <= kHi;
    // f(i) >= k  <=>  2 i m >= 2 n k - n
    lo = std::max(lo, ceilDiv<i128>(2 * r.n * kLo - r.n, 2 * r.m));
    // f(i) <= k  <=>  2 i m < 2 n k + n
    hi = std::min(hi, ceilDiv<i128>(2 * r.n * kHi + r.n, 2 * r.m) - 1);
    return lo <= hi;
}

// The steps i in [lo, hi] with uMin <= u0 + su * i <= uMax.
bool stepsWithMajor(const Run &r, i64 uMin, i64 uMax, i128 &lo, i128 &hi)
{
    if (r.su > 0) {
        lo = std::max<i128>(lo, uMin - r.u0);
        hi = std::min<i128>(hi, uMax - r.u0);
    } else {
        lo = std::max<i128>(lo, r.u0 - uMax);
        hi = std::min<i128>(hi, r.u0 - uMin);
    }
    return lo <= hi;
}

} // namespace

void thinLine(Point p, Point q, const Rect &clip, PlotFn plot)
{
    if (p == q || clip.isEmpty())
        return;
    // The pixels are worked out from the lexicographically smaller end point
    // whichever way the line is drawn, so p->q and q->p cover the same run;
    // only the end point left out differs.
    const bool forward = p.x < q.x || (p.x == q.x && p.y < q.y);
    const Point a = forward ? p : q;
    const Point b = forward ? q : p;

    const i64 dx = i64(b.x) - a.x;
    const i64 dy = i64(b.y) - a.y;
    const bool xMajor = std::abs(dx) >= std::abs(dy);
    Run r;
    if (xMajor)
        r = {a.x, a.y, dx < 0 ? -1 : 1, dy < 0 ? -1 : 1, std::abs(dx), std::abs(dy)};
    else
        r = {a.y, a.x, dy < 0 ? -1 : 1, dx < 0 ? -1 : 1, std::abs(dy), std::abs(dx)};

    // Steps 0..n, less the end point q: step n when drawing forward, step 0
    // when drawing backward.
    i128 lo = forward ? 0 : 1;
    i128 hi = forward ? r.n - 1 : r.n;

    const i64 uMin = xMajor ? clip.left : clip.top;
    const i64 uMax = (xMajor ? i64(clip.right) : i64(clip.bottom)) - 1;
    const i64 vMin = xMajor ? clip.top : clip.left;
    const i64 vMax = (xMajor ? i64(clip.bottom) : i64(clip.right)) - 1;
    if (!stepsWithMajor(r, uMin, uMax, lo, hi))
        return;
    // vMin <= v0 + sv * f(i) <= vMax
    const bool inRange = r.sv > 0 ? stepsWithOffset(r, vMin - r.v0, vMax - r.v0, lo, hi)
                                  : stepsWithOffset(r, r.v0 - vMax, r.v0 - vMin, lo, hi);
    if (!inRange)
        return;

    // Every pixel from lo to hi lies inside the clip, so u and v stay within
    // int, and there are at most as many steps as the clip is long.
    const i64 twoN = 2 * r.n;
    const i64 twoM = 2 * r.m;
    i64 error = i64((2 * lo * r.m + r.n) % twoN);
    int u = int(r.u0 + r.su * i64(lo));
    int v = int(r.v0 + r.sv * i64(minorOffset(r, lo)));
    for (i64 i = i64(lo);; ++i) {
        if (xMajor)
            plot(u, v);
        else
            plot(v, u);
        if (i == i64(hi))
            break;
        u += r.su;
        error += twoM;
        if (error >= twoN) {
            error -= twoN;
            v += r.sv;
        }
    }
}

// ---------------------------------------------------------------------------
// Wide lines
//
// Everything is measured in doubled coordinates, where pixel (x, y) has its
// centre at (2x + 1, 2y + 1) and the radius of the stroke is the width itself.
// The stroke is the union of a disc around each end and the band between
// them; each meets a row in one interval, and because the union is convex
// those intervals join into the row's span. Every bound is an exact integer
// computation, so a row's span depends only on the stroke and the row: a
// smaller clip cuts spans short but never moves them.

namespace {

// The part of the stroke that does not depend on the row.
struct Capsule {
    i64 ax, ay, bx, by; // end points
    i64 dx, dy;         // b - a
    i64 r;              // radius
    i64 rr;             // r^2, below 2^62
    i128 len2;          // dx^2 + dy^2, below 2^67
    i128 bandHalf;      // floor(r * sqrt(len2)): |cross(d, c - a)| <= bandHalf inside the band
};

// a * b for a, b < 2^128, as (high, low) halves of 128 bits.
void multiplyWide(u128 a, u128 b, u128 &high, u128 &low)
{
    const u128 mask = ~std::uint64_t(0);
    const u128 a0 = a & mask, a1 = a >> 64, b0 = b & mask, b1 = b >> 64;
    const u128 p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const u128 middle = (p00 >> 64) + (p01 & mask) + (p10 & mask);
    low = (middle << 64) | (p00 & mask);
    high = p11 + (p01 >> 64) + (p10 >> 64) + (middle >> 64);
}

// s * s <= rr * len2, in 256 bits (rr * len2 can reach 2^129).
bool squareAtMost(u128 s, u128 rr, u128 len2)
{
    u128 sh, sl, ph, pl;
    multiplyWide(s, s, sh, sl);
    multiplyWide(rr, len2, ph, pl);
    return sh < ph || (sh == ph && sl <= pl);
}

Capsule makeCapsule(Point p, Point q, int width)
{
    // Odd widths centre the stroke on the pixel centres, even widths on the
    // pixels' top-left corners; either way it is `width` pixels across.
    const i64 offset = (width & 1) ? 1 : 0;
    Capsule c;
    c.ax = 2 * i64(p.x) + offset;
    c.ay = 2 * i64(p.y) + offset;
    c.bx = 2 * i64(q.x) + offset;
    c.by = 2 * i64(q.y) + offset;
    c.dx = c.bx - c.ax;
    c.dy = c.by - c.ay;
    c.r = width;
    c.rr = c.r * c.r;
    c.len2 = i128(c.dx) * c.dx + i128(c.dy) * c.dy;
    if (c.len2 == 0) {
        c.bandHalf = 0;
    } else {
        const long double estimate = static_cast<long double>(c.r) * std::sqrt(static_cast<long double>(c.len2));
        auto s = u128(estimate);
        while (s > 0 && !squareAtMost(s, u128(c.rr), u128(c.len2)))
            --s;
        while (squareAtMost(s + 1, u128(c.rr), u128(c.len2)))
            ++s;
        c.bandHalf = i128(s);
    }
    return c;
}

// Whether the centre of pixel (x, y) lies in the stroke.
bool covers(const Capsule &c, i64 x, i64 y)
{
    const i128 cx = 2 * x + 1 - c.ax, cy = 2 * y + 1 - c.ay;
    const i128 t = cx * c.dx + cy * c.dy;
    if (t <= 0)
        return cx * cx + cy * cy <= c.rr;
    if (t >= c.len2) {
        const i128 ex = 2 * x + 1 - c.bx, ey = 2 * y + 1 - c.by;
        return ex * ex + ey * ey <= c.rr;
    }
    const i128 cross = c.dx * cy - c.dy * cx;
    return cross <= c.bandHalf && -cross <= c.bandHalf;
}

// The pixel columns x (as an inclusive range, lo > hi when empty) whose
// centres lie in the stroke on row y. I is the integer type wide enough for
// the products involved: i64 when every coordinate is small, else i128.
template <class I>
struct RowSpan {
    I lo, hi;
};

// The columns x with c0 <= 2x + 1 - centre <= c1.
template <class I>
RowSpan<I> columnsFor(I centre, I c0, I c1)
{
    return {ceilDiv<I>(centre + c0 - 1, 2), floorDiv<I>(centre + c1 - 1, 2)};
}

template <class I>
void unite(RowSpan<I> &acc, const RowSpan<I> &s)
{
    if (s.lo > s.hi)
        return;
    if (acc.lo > acc.hi) {
        acc = s;
        return;
    }
    acc.lo = std::min(acc.lo, s.lo);
    acc.hi = std::max(acc.hi, s.hi);
}

template <class I>
RowSpan<I> discColumns(const Capsule &c, i64 centreX, i64 centreY, i64 row)
{
    const i64 cy = 2 * row + 1 - centreY;
    if (cy > c.r || cy < -c.r)
        return {1, 0};
    const i64 s = isqrt64(c.rr - cy * cy); // |2x + 1 - centreX| <= s
    return columnsFor<I>(centreX, -s, s);
}

template <class I>
RowSpan<I> bandColumns(const Capsule &c, i64 row)
{
    if (c.len2 == 0)
        return {1, 0};
    const I cy = I(2 * row + 1 - c.ay);
    const I dx = c.dx, dy = c.dy;
    // The band is where two strips cross; each bounds cx = 2x + 1 - ax to an
    // interval, or holds the whole row, or none of it.
    bool bounded = false;
    I cxLo = 0, cxHi = 0;
    const auto narrow = [&](I lo, I hi) {
        if (!bounded) {
            cxLo = lo;
            cxHi = hi;
            bounded = true;
        } else {
            cxLo = std::max(cxLo, lo);
            cxHi = std::min(cxHi, hi);
        }
    };

    // Between the two ends: 0 <= cx * dx + cy * dy <= len2.
    const I along0 = -cy * dy, along1 = I(c.len2) - cy * dy; // bounds of cx * dx
    if (dx == 0) {
        if (along0 > 0 || along1 < 0)
            return {1, 0};
    } else if (dx > 0) {
        narrow(ceilDiv<I>(along0, dx), floorDiv<I>(along1, dx));
    } else {
        narrow(ceilDiv<I>(-along1, -dx), floorDiv<I>(-along0, -dx));
    }

    // Near the axis: |dx * cy - dy * cx| <= bandHalf.
    const I k = dx * cy, h = I(c.bandHalf);
    if (dy == 0) {
        if (k > h || -k > h)
            return {1, 0};
    } else if (dy > 0) {
        narrow(ceilDiv<I>(k - h, dy), floorDiv<I>(k + h, dy));
    } else {
        narrow(ceilDiv<I>(-k - h, -dy), floorDiv<I>(-k + h, -dy));
    }

    if (!bounded || cxLo > cxHi) // a band is never unbounded along a row
        return {1, 0};
    return columnsFor<I>(I(c.ax), cxLo, cxHi);
}

template <class I>
void emitRows(const Capsule &c, i64 top, i64 bottom, const Rect &clip, SpanFn span)
{
    for (i64 y = top; y <= bottom; ++y) {
        RowSpan<I> s{1, 0};
        unite(s, discColumns<I>(c, c.ax, c.ay, y));
        unite(s, discColumns<I>(c, c.bx, c.by, y));
        unite(s, bandColumns<I>(c, y));
        if (s.lo > s.hi)
            continue;
        const I lo = std::max<I>(s.lo, clip.left);
        const I hi = std::min<I>(s.hi, I(clip.right) - 1);
        if (lo <= hi)
            span(int(y), int(lo), int(hi) + 1);
    }
}

} // namespace

void wideLine(Point p, Point q, int width, const Rect &clip, SpanFn span)
{
    if (width <= 0 || clip.isEmpty())
        return;
    const Capsule c = makeCapsule(p, q, width);

    // Rows whose centre 2y + 1 lies within r of the end points' rows, cut to
    // the clip before anything loops.
    const i64 yMin = ceilDiv<i64>(std::min(c.ay, c.by) - c.r - 1, 2);
    const i64 yMax = floorDiv<i64>(std::max(c.ay, c.by) + c.r - 1, 2);
    const i64 top = std::max<i64>(yMin, clip.top);
    const i64 bottom = std::min<i64>(yMax, i64(clip.bottom) - 1);
    if (top > bottom)
        return;

    // A stroke that holds all four corner pixels of the clip holds the whole
    // clip (it is convex): each row is the full width.
    const i64 left = clip.left, right = i64(clip.right) - 1;
    if (top == clip.top && bottom == i64(clip.bottom) - 1 && covers(c, left, top) && covers(c, right, top) &&
        covers(c, left, bottom) && covers(c, right, bottom)) {
        for (i64 y = top; y <= bottom; ++y)
            span(int(y), clip.left, clip.right);
        return;
    }

    // With every doubled coordinate and the radius below 2^29 the products
    // stay below 2^62 and 64-bit arithmetic is exact; otherwise use 128 bits.
    constexpr i64 kSmall = i64(1) << 29;
    const auto small = [&](i64 v) { return v > -kSmall && v < kSmall; };
    const bool fits = small(c.ax) && small(c.ay) && small(c.bx) && small(c.by) && small(c.r) &&
                      small(2 * top) && small(2 * bottom + 2) && small(2 * left) && small(2 * right + 2);
    if (fits)
        emitRows<i64>(c, top, bottom, clip, span);
    else
        emitRows<i128>(c, top, bottom, clip, span);
}

} // namespace raster
