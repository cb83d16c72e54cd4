#include "platform/x11_screen_read.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <X11/Xlib.h>

#include "canvas/memory_room.h"

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace platform {

namespace {

struct Layout {
    QImage::Format format = QImage::Format_Invalid;
    int bitsPerPixel = 0;
    int scanlinePad = 0;
};

// The Qt format with the root window's exact pixel layout: 32 bits per pixel
// with 8-bit red, green, blue (depth 24), or 16 bits as 5-6-5 or 5-5-5.
Layout rootLayout(const xcb_setup_t *setup, const xcb_screen_t *screen)
{
    Layout layout;
    // Qt's formats are in the machine's byte order; the server's must match.
    const bool littleEndian = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
    if ((setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST) != littleEndian)
        return layout;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == screen->root_depth) {
            layout.bitsPerPixel = f.data->bits_per_pixel;
            layout.scanlinePad = f.data->scanline_pad;
        }
    const xcb_visualtype_t *visual = nullptr;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem && !visual; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == screen->root_visual) {
                visual = v.data;
                break;
            }
    if (!visual || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR)
        return layout;
    const auto masks = [&](std::uint32_t r, std::uint32_t g, std::uint32_t b) {
        return visual->red_mask == r && visual->green_mask == g && visual->blue_mask == b;
    };
    if (layout.bitsPerPixel == 32 && masks(0xFF0000, 0x00FF00, 0x0000FF))
        layout.format = QImage::Format_RGB32;
    else if (layout.bitsPerPixel == 16 && masks(0xF800, 0x07E0, 0x001F))
        layout.format = QImage::Format_RGB16;
    else if (layout.bitsPerPixel == 16 && masks(0x7C00, 0x03E0, 0x001F))
        layout.format = QImage::Format_RGB555;
    return layout;
}

void detachSegment(void *address) { shmdt(address); }

} // namespace

QImage readRootThroughSharedMemory(bool *outOfMemory)
{
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    Display *display = x11 ? x11->display() : nullptr;
    if (!c || !display)
        return {};

    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_shm_id);
    if (!extension || !extension->present)
        return {};

    const xcb_setup_t *setup = xcb_get_setup(c);
    const xcb_screen_t *screen = nullptr;
    auto roots = xcb_setup_roots_iterator(setup);
    for (int i = DefaultScreen(display); roots.rem && i > 0; --i)
        xcb_screen_next(&roots);
    screen = roots.rem ? roots.data : nullptr;
    if (!screen)
        return {};
    const Layout layout = rootLayout(setup, screen);
    if (layout.format == QImage::Format_Invalid || layout.scanlinePad <= 0 || layout.scanlinePad % 32 != 0)
        return {};

    const int width = screen->width_in_pixels, height = screen->height_in_pixels;
    const int padBytes = layout.scanlinePad / 8;
    const qsizetype stride = (qsizetype(width) * layout.bitsPerPixel / 8 + padBytes - 1) / padBytes * padBytes;
    const std::size_t bytes = std::size_t(stride) * std::size_t(height);
    if (bytes == 0)
        return {};

    // The segment is a whole frame.
    if (!memory::roomFor(bytes)) {
        if (outOfMemory)
            *outOfMemory = true;
        return {};
    }

    // A private segment: once the server has attached it, it is marked for
    // removal, so that it disappears with the last detach whatever happens.
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0)
        return {};
    void *address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) {
        if (errno == ENOMEM && outOfMemory)
            *outOfMemory = true;
        shmctl(id, IPC_RMID, nullptr);
        return {};
    }
    const xcb_shm_seg_t segment = xcb_generate_id(c);
    xcb_generic_error_t *error = xcb_request_check(c, xcb_shm_attach_checked(c, segment, std::uint32_t(id), 0));
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        // The server cannot reach our memory (it runs on another host, say).
        std::free(error);
        shmdt(address);
        return {};
    }
    xcb_shm_get_image_reply_t *reply = xcb_shm_get_image_reply(
        c,
        xcb_shm_get_image(c, screen->root, 0, 0, std::uint16_t(width), std::uint16_t(height), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, segment, 0),
        &error);
    xcb_shm_detach(c, segment);
    xcb_flush(c);
    const bool ok = reply && !error;
    std::free(reply);
    std::free(error);
    if (!ok) {
        shmdt(address);
        return {};
    }
    return QImage(static_cast<uchar *>(address), width, height, stride, layout.format, detachSegment, address);
}

} // namespace platform
