#pragma once

// The spray's pseudo-random generator. Plain C++.

#include <cstdint>

// The generator's state: 0 when the program starts, never re-seeded, so the
// dots of a spray are the same on every run for the same pointer input.
extern std::uint32_t RandomSeed;

// Advances RandomSeed := RandomSeed * 134775813 + 1 (mod 2^32) and returns the
// upper 32 bits of the 64-bit product of the new state and n, both taken as
// unsigned 32-bit numbers: a value in 0 .. n-1 for n >= 1, and 0 for n of 0
// or 1. A negative n counts as the unsigned number it is stored as, so its
// results are huge; they come back as the 32-bit pattern they are.
std::int32_t RandomBelow(std::int32_t n);
