// The raster model on a 3840 x 2160 picture: how a copy, a line and a spray
// compare with the plain memory operations they stand for.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"

namespace {

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;

void prepare(TBitmap &b)
{
    b.SetSize(kWidth, kHeight);
}

// Draw of one 4K 32-bit bitmap onto another, against memcpy of the same bytes.
void BM_Draw32(benchmark::State &state)
{
    TBitmap source(PixelFormat::pf32bit), dest(PixelFormat::pf32bit);
    prepare(source);
    prepare(dest);
    TCanvas &canvas = dest.Canvas();
    for (auto _ : state) {
        canvas.Draw(0, 0, source);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(source.ByteSize()));
}
BENCHMARK(BM_Draw32)->Unit(benchmark::kMillisecond);

void BM_Memcpy32(benchmark::State &state)
{
    std::vector<std::uint8_t> source(std::size_t(kWidth) * kHeight * 4, 0xFF), dest(source.size());
    for (auto _ : state) {
        std::memcpy(dest.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(source.size()));
}
BENCHMARK(BM_Memcpy32)->Unit(benchmark::kMillisecond);

// A 20-pixel segment (16 across, 12 down) at the given pen width.
void BM_LineTo20(benchmark::State &state)
{
    TBitmap b(PixelFormat::pf32bit);
    prepare(b);
    TCanvas &canvas = b.Canvas();
    canvas.Pen().SetWidth(int(state.range(0)));
    ColorRef colour = 0;
    for (auto _ : state) {
        canvas.Pen().SetColor(colour++ & 0xFFFFFF);
        canvas.MoveTo(1900, 1000);
        canvas.LineTo(1916, 1012);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LineTo20)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// A stroke of the widest pen, which covers the whole picture, against one
// plain fill of the same pixels.
void BM_LineToWidest(benchmark::State &state)
{
    TBitmap b(PixelFormat::pf32bit);
    prepare(b);
    TCanvas &canvas = b.Canvas();
    canvas.Pen().SetWidth(INT_MAX);
    for (auto _ : state) {
        canvas.MoveTo(INT_MIN, INT_MAX);
        canvas.LineTo(INT_MAX, INT_MIN);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(b.ByteSize()));
}
BENCHMARK(BM_LineToWidest)->Unit(benchmark::kMillisecond);

// A 1000-pixel stroke from corner to corner of the int range, crossing the
// picture: every row is worked out in 128-bit arithmetic.
void BM_LineToExtremeDiagonal(benchmark::State &state)
{
    TBitmap b(PixelFormat::pf32bit);
    prepare(b);
    TCanvas &canvas = b.Canvas();
    canvas.Pen().SetWidth(int(state.range(0)));
    for (auto _ : state) {
        canvas.MoveTo(INT_MIN, INT_MIN);
        canvas.LineTo(INT_MAX, INT_MAX);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LineToExtremeDiagonal)->Arg(1)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_FillOnce32(benchmark::State &state)
{
    std::vector<std::uint32_t> pixels(std::size_t(kWidth) * kHeight);
    std::uint32_t v = 0xFF000000;
    for (auto _ : state) {
        std::fill(pixels.begin(), pixels.end(), v++);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(pixels.size() * 4));
}
BENCHMARK(BM_FillOnce32)->Unit(benchmark::kMillisecond);

// One spray move: 33 pixels of one colour, at 32 and at 8 bits per pixel.
void BM_Spray33(benchmark::State &state)
{
    TBitmap b(state.range(0) == 8 ? PixelFormat::pf8bit : PixelFormat::pf32bit);
    prepare(b);
    TCanvas &canvas = b.Canvas();
    const ColorRef colour = makeColorRef(0x31, 0x9C, 0xE0);
    int i = 0;
    for (auto _ : state) {
        for (int k = 0; k < 33; ++k, ++i)
            canvas.SetPixel(1000 + (i * 7) % 41, 500 + (i * 13) % 41, colour);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Spray33)->Arg(32)->Arg(8)->Unit(benchmark::kMicrosecond);

} // namespace
