#pragma once

// 128-bit integers, where the raster model's exact geometry needs products
// of two 64-bit values. GCC and Clang (MinGW-w64 included) have them built
// in; for a compiler without them (MSVC) this is the one place to put a
// class with the same arithmetic and comparisons.
#if defined(__SIZEOF_INT128__)
__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;
#else
#error "no 128-bit integer type: canvas/wide_int.h needs one for this compiler"
#endif
