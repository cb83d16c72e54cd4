#include "SkarvelKod/random_below.h"

std::uint32_t RandomSeed = 0;

std::int32_t RandomBelow(std::int32_t n)
{
    RandomSeed = RandomSeed * 134775813u + 1u;
    const std::uint64_t product = std::uint64_t(RandomSeed) * std::uint32_t(n);
    return std::int32_t(std::uint32_t(product >> 32));
}
