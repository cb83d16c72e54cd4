#include "saving/byte_output.h"

#include <cstring>

#include "canvas/errors.h"

void writeChecked(ByteOutput &output, const void *data, std::size_t count)
{
    if (count == 0)
        return;
    if (output.write(data, count) != count)
        throw EWriteError();
}

std::size_t MemoryOutput::write(const void *data, std::size_t count)
{
    const auto *bytesIn = static_cast<const std::uint8_t *>(data);
    bytes.insert(bytes.end(), bytesIn, bytesIn + count);
    return count;
}
