#pragma once

// What a person sees on an output of a wlroots compositor, frame by frame:
// the compositor's screen copy, asked to wait until something on the output
// has changed, gives each new frame with the time it was shown.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "harness/harness.h"

struct wl_buffer;
struct wl_display;
struct wl_output;
struct wl_shm;
struct zwlr_screencopy_frame_v1;
struct zwlr_screencopy_manager_v1;

class OutputWatch {
public:
    using Clock = std::chrono::steady_clock;

    // The first output of the compositor at this Wayland socket.
    explicit OutputWatch(const std::string &display);
    ~OutputWatch();
    OutputWatch(const OutputWatch &) = delete;
    OutputWatch &operator=(const OutputWatch &) = delete;

    // Asks for the next frame that changes something on the output.
    void arm();
    // That frame's presentation time, once it has come (within the limit).
    std::optional<Clock::time_point> wait(std::chrono::milliseconds limit);
    // Whether the frame got shows the pattern everywhere.
    bool shows(e2e::Pattern pattern) const;

    // For the protocol's callbacks.
    void onBuffer(std::uint32_t format, std::uint32_t width, std::uint32_t height, std::uint32_t stride);
    void onFlags(std::uint32_t flags) { yInverted_ = flags & 1; }
    void onReady(std::uint64_t seconds, std::uint32_t nanoseconds);
    void onFailed() { failed_ = true; }
    void onGlobal(void *registry, std::uint32_t name, const char *interface, std::uint32_t version);

private:
    wl_display *display_ = nullptr;
    void *registry_ = nullptr;
    wl_output *output_ = nullptr;
    wl_shm *shm_ = nullptr;
    zwlr_screencopy_manager_v1 *manager_ = nullptr;
    zwlr_screencopy_frame_v1 *frame_ = nullptr;
    wl_buffer *buffer_ = nullptr;
    std::uint8_t *pixels_ = nullptr;
    std::size_t size_ = 0;
    std::uint32_t format_ = 0, width_ = 0, height_ = 0, stride_ = 0;
    bool yInverted_ = false, failed_ = false;
    std::optional<Clock::time_point> shown_;
};
