#include "output_watch.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include <wayland-client.h>

#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace {

void frameBuffer(void *data, zwlr_screencopy_frame_v1 *, std::uint32_t format, std::uint32_t width,
                 std::uint32_t height, std::uint32_t stride)
{
    static_cast<OutputWatch *>(data)->onBuffer(format, width, height, stride);
}
void frameFlags(void *data, zwlr_screencopy_frame_v1 *, std::uint32_t flags)
{
    static_cast<OutputWatch *>(data)->onFlags(flags);
}
void frameReady(void *data, zwlr_screencopy_frame_v1 *, std::uint32_t hi, std::uint32_t lo, std::uint32_t ns)
{
    static_cast<OutputWatch *>(data)->onReady((std::uint64_t(hi) << 32) | lo, ns);
}
void frameFailed(void *data, zwlr_screencopy_frame_v1 *) { static_cast<OutputWatch *>(data)->onFailed(); }
void frameDamage(void *, zwlr_screencopy_frame_v1 *, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}

const zwlr_screencopy_frame_v1_listener frameListener = {frameBuffer, frameFlags, frameReady, frameFailed,
                                                          frameDamage};

void global(void *data, wl_registry *registry, std::uint32_t name, const char *interface, std::uint32_t version)
{
    static_cast<OutputWatch *>(data)->onGlobal(registry, name, interface, version);
}
void globalRemove(void *, wl_registry *, std::uint32_t) {}
const wl_registry_listener registryListener = {global, globalRemove};

} // namespace

OutputWatch::OutputWatch(const std::string &display)
{
    display_ = wl_display_connect(display.c_str());
    if (!display_)
        throw e2e::Error("cannot reach the compositor at " + display);
    auto *registry = wl_display_get_registry(display_);
    registry_ = registry;
    wl_registry_add_listener(registry, &registryListener, this);
    wl_display_roundtrip(display_);
    if (!output_ || !shm_ || !manager_)
        throw e2e::Error("the compositor offers no output, shared memory or screen copy (version 2)");
}

OutputWatch::~OutputWatch()
{
    if (frame_)
        zwlr_screencopy_frame_v1_destroy(frame_);
    if (buffer_)
        wl_buffer_destroy(buffer_);
    if (pixels_)
        munmap(pixels_, size_);
    if (manager_)
        zwlr_screencopy_manager_v1_destroy(manager_);
    if (shm_)
        wl_shm_destroy(shm_);
    if (output_)
        wl_output_destroy(output_);
    if (registry_)
        wl_registry_destroy(static_cast<wl_registry *>(registry_));
    wl_display_disconnect(display_);
}

void OutputWatch::onGlobal(void *registry, std::uint32_t name, const char *interface, std::uint32_t version)
{
    auto *r = static_cast<wl_registry *>(registry);
    if (!output_ && std::strcmp(interface, wl_output_interface.name) == 0)
        output_ = static_cast<wl_output *>(wl_registry_bind(r, name, &wl_output_interface, 1));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0)
        shm_ = static_cast<wl_shm *>(wl_registry_bind(r, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0 && version >= 2)
        manager_ = static_cast<zwlr_screencopy_manager_v1 *>(
            wl_registry_bind(r, name, &zwlr_screencopy_manager_v1_interface, 2));
}

void OutputWatch::arm()
{
    if (frame_)
        zwlr_screencopy_frame_v1_destroy(frame_);
    shown_.reset();
    failed_ = false;
    yInverted_ = false;
    frame_ = zwlr_screencopy_manager_v1_capture_output(manager_, 0, output_);
    zwlr_screencopy_frame_v1_add_listener(frame_, &frameListener, this);
    wl_display_flush(display_);
}

void OutputWatch::onBuffer(std::uint32_t format, std::uint32_t width, std::uint32_t height, std::uint32_t stride)
{
    if (!buffer_ || format != format_ || width != width_ || height != height_ || stride != stride_) {
        if (buffer_)
            wl_buffer_destroy(buffer_);
        if (pixels_)
            munmap(pixels_, size_);
        format_ = format;
        width_ = width;
        height_ = height;
        stride_ = stride;
        size_ = std::size_t(stride) * height;
        const int fd = memfd_create("skarvel-output-watch", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, off_t(size_)) != 0)
            throw e2e::Error("no shared memory for the output's frames");
        pixels_ = static_cast<std::uint8_t *>(mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        wl_shm_pool *pool = wl_shm_create_pool(shm_, fd, int(size_));
        buffer_ = wl_shm_pool_create_buffer(pool, 0, int(width), int(height), int(stride), format);
        wl_shm_pool_destroy(pool);
        close(fd);
    }
    zwlr_screencopy_frame_v1_copy_with_damage(frame_, buffer_);
}

void OutputWatch::onReady(std::uint64_t seconds, std::uint32_t nanoseconds)
{
    // The compositor stamps frames with the monotonic clock, which is the
    // steady clock's; a stamp from another clock is replaced by the arrival.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double stamp = double(seconds) + nanoseconds / 1e9;
    const double arrival = double(now.tv_sec) + now.tv_nsec / 1e9;
    const double age = arrival - stamp;
    shown_ = Clock::now() - std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(age >= 0 && age < 1 ? age : 0));
}

std::optional<OutputWatch::Clock::time_point> OutputWatch::wait(std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (!shown_ && !failed_) {
        while (wl_display_prepare_read(display_) != 0)
            wl_display_dispatch_pending(display_);
        wl_display_flush(display_);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) {
            wl_display_cancel_read(display_);
            break;
        }
        pollfd p{wl_display_get_fd(display_), POLLIN, 0};
        if (poll(&p, 1, int(left)) > 0)
            wl_display_read_events(display_);
        else
            wl_display_cancel_read(display_);
        wl_display_dispatch_pending(display_);
    }
    return failed_ ? std::nullopt : shown_;
}

bool OutputWatch::shows(e2e::Pattern pattern) const
{
    if (!shown_ || !pixels_)
        return false;
    // 32-bit formats only: XRGB/ARGB keep blue first in memory, XBGR/ABGR red.
    const bool redFirst = format_ == WL_SHM_FORMAT_XBGR8888 || format_ == WL_SHM_FORMAT_ABGR8888;
    if (!redFirst && format_ != WL_SHM_FORMAT_XRGB8888 && format_ != WL_SHM_FORMAT_ARGB8888)
        return false;
    for (std::uint32_t y = 0; y < height_; ++y) {
        const std::uint8_t *row = pixels_ + std::size_t(yInverted_ ? height_ - 1 - y : y) * stride_;
        for (std::uint32_t x = 0; x < width_; ++x) {
            const std::uint8_t *p = row + 4 * x;
            const e2e::Rgb seen = redFirst ? e2e::Rgb{p[0], p[1], p[2]} : e2e::Rgb{p[2], p[1], p[0]};
            if (seen != e2e::expectedDesktopColor(pattern, int(x), int(y)))
                return false;
        }
    }
    return true;
}
