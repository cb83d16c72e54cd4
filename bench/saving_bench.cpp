// Saving a 1920 x 1080 picture at 32 bits per pixel, against a plain write of
// the same number of bytes to the same disk.
//
//   PlainWrite        open, write 8,294,454 bytes, close
//   PlainWriteRenamed the same bytes into a new file renamed over the old
//                     one, the way the save replaces a file
//   PlainWriteFlushed the same with fdatasync before close (for comparison)
//   SaveAfterChange   a pixel set, then saveToFile: conversion + write + rename
//   SaveUnchanged     saveToFile again without a change: no conversion
//   Convert           a pixel set, then the conversion alone
//
// The save benchmarks also report, from counting every heap allocation,
// the peak extra memory a save takes, as bytes and as a multiple of one
// converted copy of the picture (image_copies). A converted image kept from
// the save before and no longer current counts as part of the save that
// replaces it; stale_bytes_held is what the description still holds after
// the change, before the save (the rows are let go at the change).
//
// The files go to SKARVEL_BENCH_DIR, or to the system's temporary folder.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "saving/bmp_file.h"
#include "saving/bmp_writer.h"

// --- Heap accounting ---------------------------------------------------------
// The replaced operator new takes its memory from malloc, so free is right.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::size_t heapNow = 0;
std::size_t heapPeak = 0;
} // namespace

void *operator new(std::size_t size)
{
    void *p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    heapNow += malloc_usable_size(p);
    if (heapNow > heapPeak)
        heapPeak = heapNow;
    return p;
}
void operator delete(void *p) noexcept
{
    if (p) {
        heapNow -= malloc_usable_size(p);
        std::free(p);
    }
}
void operator delete(void *p, std::size_t) noexcept { operator delete(p); }

namespace {

constexpr int width = 1920;
constexpr int height = 1080;
constexpr std::size_t fileLength = 14 + 40 + std::size_t(width) * height * 4;

std::string benchFile(const char *name)
{
    const char *dir = std::getenv("SKARVEL_BENCH_DIR");
    return (std::filesystem::path(dir && *dir ? dir : std::filesystem::temp_directory_path().string()) / name)
        .string();
}

TBitmap &picture()
{
    static TBitmap *bitmap = [] {
        auto *b = new TBitmap(PixelFormat::pf32bit);
        b->SetSize(width, height);
        for (int y = 0; y < height; y += 7) {
            b->Canvas().MoveTo(0, y);
            b->Canvas().Pen().SetColor(makeColorRef(std::uint8_t(y), std::uint8_t(3 * y), std::uint8_t(7 * y)));
            b->Canvas().LineTo(width, height - y);
        }
        return b;
    }();
    return *bitmap;
}

void plainWrite(benchmark::State &state, bool flush)
{
    const std::string path = benchFile("skarvel-bench-plain.bmp");
    const std::vector<char> bytes(fileLength, 'x');
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) || (flush && ::fdatasync(fd)))
            state.SkipWithError("plain write failed");
        ::close(fd);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(fileLength));
    std::remove(path.c_str());
}

// The same bytes written the way the save replaces a file: into a new file
// beside the target, renamed over it.
void BM_PlainWriteRenamed(benchmark::State &state)
{
    const std::string path = benchFile("skarvel-bench-plain.bmp");
    const std::string temp = benchFile(".skarvel-bench-plain.tmp");
    const std::vector<char> bytes(fileLength, 'x');
    for (auto _ : state) {
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) || ::close(fd) ||
            ::rename(temp.c_str(), path.c_str()))
            state.SkipWithError("plain write failed");
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(fileLength));
    std::remove(path.c_str());
}

void BM_PlainWrite(benchmark::State &state) { plainWrite(state, false); }
void BM_PlainWriteFlushed(benchmark::State &state) { plainWrite(state, true); }

void save(benchmark::State &state, bool change)
{
    TBitmap &bitmap = picture();
    const std::string path = benchFile("skarvel-bench-save.bmp");
    // The converted image kept between saves, as the options window keeps it.
    bmp::DibDescription converted;
    bmp::saveToFile(bitmap, converted, path);
    std::size_t peakExtra = 0;
    std::size_t staleHeld = 0;
    const int conversionsBefore = converted.conversions;
    int n = 0;
    for (auto _ : state) {
        if (change)
            bitmap.Canvas().SetPixel(n % width, 0, makeColorRef(std::uint8_t(n), 0, 0));
        ++n;
        if (change)
            staleHeld = std::max(staleHeld, converted.bits.capacity() + 4 * converted.colorTable.capacity());
        const bool stale = converted.changeCount != bitmap.ChangeCount();
        const std::size_t base = heapNow - (stale ? malloc_usable_size(converted.bits.data()) : 0);
        heapPeak = heapNow;
        bmp::saveToFile(bitmap, converted, path);
        peakExtra = std::max(peakExtra, heapPeak - base);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(fileLength));
    state.counters["conversions_per_save"] =
        double(converted.conversions - conversionsBefore) / double(std::max<std::int64_t>(1, state.iterations()));
    state.counters["peak_extra_bytes"] = double(peakExtra);
    state.counters["stale_bytes_held"] = double(staleHeld);
    state.counters["image_copies"] = double(peakExtra) / double(std::size_t(width) * height * 4);
    std::remove(path.c_str());
}

void BM_SaveAfterChange(benchmark::State &state) { save(state, true); }
void BM_SaveUnchanged(benchmark::State &state) { save(state, false); }

void BM_Convert(benchmark::State &state)
{
    TBitmap &bitmap = picture();
    bmp::DibDescription converted;
    int n = 0;
    for (auto _ : state) {
        bitmap.Canvas().SetPixel(n++ % width, 1, clBlack);
        bmp::convert(bitmap, converted);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(fileLength - 54));
}

} // namespace

BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWriteRenamed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWriteFlushed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveAfterChange)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveUnchanged)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Convert)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
