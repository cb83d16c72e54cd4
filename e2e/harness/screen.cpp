// Painting the desktop and reading the screen back.

#include "display_impl.h"

#include <bit>
#include <cstdlib>
#include <set>

namespace e2e {

namespace {

// One colour component of a true-colour pixel, scaled to 8 bits.
struct Channel {
    unsigned long mask = 0;
    int shift = 0;
    unsigned long max = 0;

    explicit Channel(unsigned long m) : mask(m)
    {
        if (mask) {
            shift = std::countr_zero(mask);
            max = mask >> shift;
        }
    }
    std::uint8_t operator()(unsigned long pixel) const
    {
        if (!max)
            return 0;
        const unsigned long v = (pixel & mask) >> shift;
        return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
    }
};

unsigned long readPixel(const XImage *image, int x, int y)
{
    const auto *row = reinterpret_cast<const unsigned char *>(image->data) +
                      static_cast<std::size_t>(y) * static_cast<std::size_t>(image->bytes_per_line);
    const bool msb = image->byte_order == MSBFirst;
    switch (image->bits_per_pixel) {
    case 32: {
        const unsigned char *p = row + x * 4;
        return msb ? (unsigned long)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]
                   : (unsigned long)p[3] << 24 | p[2] << 16 | p[1] << 8 | p[0];
    }
    case 24: {
        const unsigned char *p = row + x * 3;
        return msb ? (unsigned long)p[0] << 16 | p[1] << 8 | p[2] : (unsigned long)p[2] << 16 | p[1] << 8 | p[0];
    }
    case 16: {
        const unsigned char *p = row + x * 2;
        return msb ? (unsigned long)p[0] << 8 | p[1] : (unsigned long)p[1] << 8 | p[0];
    }
    case 8:
        return row[x];
    default:
        return XGetPixel(const_cast<XImage *>(image), x, y);
    }
}

} // namespace

void VirtualDisplay::paintDesktop(Pattern pattern)
{
    Display *dpy = d->dpy;
    const Colormap colormap = DefaultColormap(dpy, d->screen);
    unsigned long pixels[8];
    for (int i = 0; i < 8; ++i) {
        XColor color{};
        color.red = (i & 1) ? 0xffff : 0;
        color.green = (i & 2) ? 0xffff : 0;
        color.blue = (i & 4) ? 0xffff : 0;
        color.flags = DoRed | DoGreen | DoBlue;
        if (!XAllocColor(dpy, colormap, &color))
            throw Error("cannot allocate the desktop colours on " + d->name);
        pixels[i] = color.pixel;
    }
    const Pixmap pixmap = XCreatePixmap(dpy, d->root, static_cast<unsigned>(d->width),
                                        static_cast<unsigned>(d->height), static_cast<unsigned>(d->depth));
    const GC gc = XCreateGC(dpy, pixmap, 0, nullptr);
    for (int y = 0; y < d->height; y += tileSize) {
        for (int x = 0; x < d->width; x += tileSize) {
            const Rgb c = expectedDesktopColor(pattern, x, y);
            XSetForeground(dpy, gc, pixels[(c.r ? 1 : 0) | (c.g ? 2 : 0) | (c.b ? 4 : 0)]);
            XFillRectangle(dpy, pixmap, gc, x, y, tileSize, tileSize);
        }
    }
    XFreeGC(dpy, gc);
    d->showDesktop(pixmap, [pattern](int x, int y) { return expectedDesktopColor(pattern, x, y); });
    XFreePixmap(dpy, pixmap); // the windows keep their own references
    sync();
}

void VirtualDisplay::paintDesktop(const Image &picture)
{
    Display *dpy = d->dpy;
    if (d->visual->c_class != TrueColor)
        throw Error("a desktop picture needs a true-colour display");
    const unsigned width = static_cast<unsigned>(d->width), height = static_cast<unsigned>(d->height);
    XImage *xi = XCreateImage(dpy, d->visual, static_cast<unsigned>(d->depth), ZPixmap, 0, nullptr, width, height, 32, 0);
    if (!xi)
        throw Error("cannot make an image for the desktop of " + d->name);
    xi->data = static_cast<char *>(std::calloc(static_cast<std::size_t>(xi->bytes_per_line) * height, 1));
    // 8-bit components into the visual's masks.
    auto place = [](std::uint8_t v, unsigned long mask) {
        if (!mask)
            return 0ul;
        const int shift = std::countr_zero(mask);
        const unsigned long max = mask >> shift;
        return ((static_cast<unsigned long>(v) * max + 127) / 255) << shift;
    };
    for (int y = 0; y < d->height; ++y)
        for (int x = 0; x < d->width; ++x) {
            const Rgb c = x < picture.width() && y < picture.height() ? picture.pixel(x, y) : Rgb{};
            XPutPixel(xi, x, y,
                      place(c.r, d->visual->red_mask) | place(c.g, d->visual->green_mask) |
                          place(c.b, d->visual->blue_mask));
        }
    const Pixmap pixmap = XCreatePixmap(dpy, d->root, width, height, static_cast<unsigned>(d->depth));
    const GC gc = XCreateGC(dpy, pixmap, 0, nullptr);
    XPutImage(dpy, pixmap, gc, xi, 0, 0, 0, 0, width, height);
    XFreeGC(dpy, gc);
    XDestroyImage(xi); // frees the data too
    d->showDesktop(pixmap, [&picture](int x, int y) {
        return x < picture.width() && y < picture.height() ? picture.pixel(x, y) : Rgb{};
    });
    XFreePixmap(dpy, pixmap);
    sync();
}

namespace {

// The pixels of an image read from the server, decoded to 8-bit RGB; the
// image is destroyed.
Image decode(VirtualDisplay::Impl &d, XImage *xi, const Rect &area)
{
    Display *dpy = d.dpy;
    Image image(area);
    if (d.visual->c_class == TrueColor) {
        const Channel red(d.visual->red_mask), green(d.visual->green_mask), blue(d.visual->blue_mask);
        for (int y = 0; y < area.height; ++y)
            for (int x = 0; x < area.width; ++x) {
                const unsigned long p = readPixel(xi, x, y);
                image.setPixel(x, y, {red(p), green(p), blue(p)});
            }
    } else {
        // Palette (and other) visuals: look the pixel values up in the colormap.
        std::set<unsigned long> values;
        for (int y = 0; y < area.height; ++y)
            for (int x = 0; x < area.width; ++x)
                values.insert(readPixel(xi, x, y));
        std::vector<XColor> colors;
        for (unsigned long v : values) {
            XColor c{};
            c.pixel = v;
            colors.push_back(c);
        }
        XQueryColors(dpy, DefaultColormap(dpy, d.screen), colors.data(), static_cast<int>(colors.size()));
        std::map<unsigned long, Rgb> lookup;
        for (const XColor &c : colors)
            lookup[c.pixel] = {static_cast<std::uint8_t>(c.red >> 8), static_cast<std::uint8_t>(c.green >> 8),
                               static_cast<std::uint8_t>(c.blue >> 8)};
        for (int y = 0; y < area.height; ++y)
            for (int x = 0; x < area.width; ++x)
                image.setPixel(x, y, lookup[readPixel(xi, x, y)]);
    }
    XDestroyImage(xi);
    return image;
}

} // namespace

Image VirtualDisplay::grab(const Rect &rect) const
{
    const Rect area = rect.intersected(screenRect());
    if (area.isEmpty())
        return Image(area);
    XImage *xi = XGetImage(d->dpy, d->root, area.x, area.y, static_cast<unsigned>(area.width),
                           static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    if (!xi)
        throw Error("cannot read the screen of " + d->name);
    return decode(*d, xi, area);
}

std::optional<Rgb> VirtualDisplay::windowPixel(const WindowInfo &window, Point p) const
{
    if (!Rect{0, 0, window.rect.width, window.rect.height}.contains(p.x, p.y))
        throw Error("pixel " + std::to_string(p.x) + ", " + std::to_string(p.y) + " is outside " + window.title);
    XImage *xi = nullptr;
    {
        detail::XErrorTrap trap(d->dpy);
        xi = XGetImage(d->dpy, window.id, p.x, p.y, 1, 1, AllPlanes, ZPixmap);
        if (trap.failed() && xi) {
            XDestroyImage(xi);
            xi = nullptr;
        }
    }
    if (!xi)
        return std::nullopt;
    return decode(*d, xi, {p.x, p.y, 1, 1}).pixel(0, 0);
}

Rgb VirtualDisplay::pixel(int x, int y) const
{
    if (!screenRect().contains(x, y))
        throw Error("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is outside the screen");
    return grab({x, y, 1, 1}).pixel(0, 0);
}

DesktopDiff VirtualDisplay::compareDesktop(Pattern pattern, const Rect &region, const std::vector<Rect> &ignore) const
{
    return compareWithDesktop(grab(region), pattern, ignore);
}

} // namespace e2e
