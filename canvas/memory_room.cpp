#include "memory_room.h"

#include <algorithm>
#include <utility>

#include "errors.h"

#if defined(__linux__)
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace memory {

namespace {

Probe &installedProbe()
{
    static Probe probe;
    return probe;
}

#if defined(__linux__)
// What is left under one limit, or nothing when the limit is infinite.
std::optional<std::uint64_t> leftUnder(int resource, std::uint64_t used)
{
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    const std::uint64_t cap = limit.rlim_cur;
    return cap > used ? cap - used : 0;
}
#endif

std::optional<std::uint64_t> realAddressSpaceLeft()
{
#if defined(__linux__)
    // /proc/self/statm: size resident shared text lib data dt, in pages.
    // The address-space limit counts every mapping (size); the data limit
    // counts private writable mappings, which "data" (data + stack) gives.
    std::FILE *statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return std::nullopt;
    unsigned long long size = 0, resident = 0, shared = 0, text = 0, lib = 0, data = 0;
    const int n = std::fscanf(statm, "%llu %llu %llu %llu %llu %llu", &size, &resident, &shared, &text, &lib, &data);
    std::fclose(statm);
    if (n != 6)
        return std::nullopt;
    const std::uint64_t page = std::uint64_t(sysconf(_SC_PAGESIZE));
    std::optional<std::uint64_t> left = leftUnder(RLIMIT_AS, size * page);
    if (const std::optional<std::uint64_t> dataLeft = leftUnder(RLIMIT_DATA, data * page))
        left = left ? std::min(*left, *dataLeft) : *dataLeft;
    return left;
#else
    return std::nullopt;
#endif
}

} // namespace

std::optional<std::uint64_t> addressSpaceLeft()
{
    if (installedProbe())
        return installedProbe()();
    return realAddressSpaceLeft();
}

void setProbe(Probe probe) { installedProbe() = std::move(probe); }

bool roomFor(std::uint64_t bytes, std::uint64_t later)
{
    if (bytes < frameThreshold && later < frameThreshold)
        return true;
    const std::optional<std::uint64_t> left = addressSpaceLeft();
    if (!left)
        return true;
    // Each term is far below 2^62 in any real use; the sum is checked in
    // steps so that absurd sizes cannot wrap around.
    if (bytes > *left || later > *left - bytes)
        return false;
    return *left - bytes - later >= toolkitReserve;
}

void requireRoomFor(std::uint64_t bytes, std::uint64_t later)
{
    if (!roomFor(bytes, later))
        throw EOutOfResources();
}

} // namespace memory
