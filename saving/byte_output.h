#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Where the bitmap writer puts its bytes: a sink that accepts a block and
// reports how many of its bytes it stored.
class ByteOutput {
public:
    virtual ~ByteOutput() = default;
    // Stores up to `count` bytes; returns how many were stored (0 on failure).
    virtual std::size_t write(const void *data, std::size_t count) = 0;
};

// Writes one block and insists that all of it was stored: a block of length 0
// is skipped, a block stored short raises EWriteError ("Stream write error").
void writeChecked(ByteOutput &output, const void *data, std::size_t count);

// Collects the bytes in memory.
class MemoryOutput : public ByteOutput {
public:
    std::size_t write(const void *data, std::size_t count) override;
    std::vector<std::uint8_t> bytes;
};
