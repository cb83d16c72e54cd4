#pragma once

// Room for whole frames. A picture, a screen reading or a converted file
// image of a large display takes a hundred megabytes or more; when the
// program runs under a memory limit, one of them can fit where the toolkit's
// own small allocations afterwards no longer do, and the toolkit does not
// survive a failed allocation (it crashes, or closes its display connection).
// So every allocation the size of a frame is made only when it leaves a
// reserve for the toolkit; otherwise it fails as the program's own
// out-of-resources error.

#include <cstdint>
#include <functional>
#include <optional>

namespace memory {

// What a frame-sized allocation leaves free at least, for the toolkit's
// windows, dialogs, fonts and threads.
inline constexpr std::uint64_t toolkitReserve = std::uint64_t(64) << 20;
// Below this size an allocation is not a frame and is not checked.
inline constexpr std::uint64_t frameThreshold = std::uint64_t(1) << 20;

// The address space the program may still take under its limits (the
// address-space limit against what it has mapped, the data limit against its
// data), in bytes; std::nullopt when no limit binds.
std::optional<std::uint64_t> addressSpaceLeft();

// Replaces what addressSpaceLeft() reads (for tests); an empty probe
// restores the real one.
using Probe = std::function<std::optional<std::uint64_t>()>;
void setProbe(Probe probe);

// Whether `bytes` more (and `later` more that the toolkit will take on its
// own, such as a window's image) fit with the reserve to spare. Allocations
// below frameThreshold always fit.
bool roomFor(std::uint64_t bytes, std::uint64_t later = 0);
// The same, raising EOutOfResources when they do not fit.
void requireRoomFor(std::uint64_t bytes, std::uint64_t later = 0);

} // namespace memory
