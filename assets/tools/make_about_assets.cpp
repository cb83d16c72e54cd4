// Draws the About window's logo and the program icon and writes them as the
// files the program is built with:
//
//   about_logo.jpg  73 x 97, baseline JPEG, YCbCr with every component sampled
//                   1 x 1, JFIF 1.02 at 100 x 100 dots per inch
//   main_icon.ico   one 32 x 32 image with a 256-colour palette and a mask
//
// Usage: make_about_assets <output folder>. The pictures are computed, not
// loaded, so running it again gives the same files.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h> // after <cstdio>: it needs FILE and size_t

namespace {

struct Rgb {
    std::uint8_t r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    auto channel = [t](int x, int y) { return std::uint8_t(std::lround(x + (y - x) * t)); };
    return {channel(a.r, b.r), channel(a.g, b.g), channel(a.b, b.b)};
}

// A small RGB raster with the few shapes the two pictures need.
struct Picture {
    int width, height;
    std::vector<Rgb> pixels;

    Picture(int w, int h, Rgb fill) : width(w), height(h), pixels(std::size_t(w) * std::size_t(h), fill) {}

    void set(int x, int y, Rgb c)
    {
        if (x >= 0 && y >= 0 && x < width && y < height)
            pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] = c;
    }
    Rgb at(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }

    void fillRect(int x0, int y0, int x1, int y1, Rgb c) // x1, y1 exclusive
    {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                set(x, y, c);
    }
    void frameRect(int x0, int y0, int x1, int y1, Rgb c)
    {
        for (int x = x0; x < x1; ++x) {
            set(x, y0, c);
            set(x, y1 - 1, c);
        }
        for (int y = y0; y < y1; ++y) {
            set(x0, y, c);
            set(x1 - 1, y, c);
        }
    }
    // Every pixel whose centre lies within `radius` of the segment a-b.
    void stroke(double ax, double ay, double bx, double by, double radius, Rgb c)
    {
        const int x0 = int(std::floor(std::min(ax, bx) - radius)), x1 = int(std::ceil(std::max(ax, bx) + radius));
        const int y0 = int(std::floor(std::min(ay, by) - radius)), y1 = int(std::ceil(std::max(ay, by) + radius));
        const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5 - ax, py = y + 0.5 - ay;
                const double t = len2 > 0 ? std::clamp((px * dx + py * dy) / len2, 0.0, 1.0) : 0.0;
                const double ex = px - t * dx, ey = py - t * dy;
                if (ex * ex + ey * ey <= radius * radius)
                    set(x, y, c);
            }
    }
    // A filled triangle (pixel centres inside or on an edge).
    void triangle(double ax, double ay, double bx, double by, double cx, double cy, Rgb c)
    {
        auto side = [](double px, double py, double qx, double qy, double x, double y) {
            return (qx - px) * (y - py) - (qy - py) * (x - px);
        };
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double px = x + 0.5, py = y + 0.5;
                const double s1 = side(ax, ay, bx, by, px, py), s2 = side(bx, by, cx, cy, px, py),
                             s3 = side(cx, cy, ax, ay, px, py);
                if ((s1 >= 0 && s2 >= 0 && s3 >= 0) || (s1 <= 0 && s2 <= 0 && s3 <= 0))
                    set(x, y, c);
            }
    }
};

// A fixed sequence, so that the spray looks the same on every run.
struct Lcg {
    std::uint32_t state;
    int below(int n)
    {
        state = state * 1664525u + 1013904223u;
        return int((state >> 16) % std::uint32_t(n));
    }
};

constexpr Rgb black{0, 0, 0}, white{255, 255, 255};
constexpr Rgb khaki{207, 205, 173};   // the About window's colour
constexpr Rgb frost{224, 240, 250};   // the frozen desktop
constexpr Rgb deepBlue{24, 52, 120};
constexpr Rgb linkBlue{0, 0, 255};
constexpr Rgb red{220, 30, 30};
constexpr Rgb teal{0, 128, 128};
constexpr Rgb pencilYellow{242, 190, 40};
constexpr Rgb wood{236, 200, 150};
constexpr Rgb graphite{60, 60, 70};

// A monitor showing a frozen desktop with a red scribble on it, a spray of
// blue dots and a pencil leaning on the stand.
Picture drawLogo()
{
    Picture p(73, 97, khaki);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.set(x, y, mix(Rgb{250, 248, 225}, khaki, double(y) / (p.height - 1)));

    // Monitor and stand.
    p.fillRect(5, 8, 68, 54, graphite);
    p.fillRect(8, 11, 65, 51, frost);
    for (int y = 11; y < 51; ++y) // a sky over the frozen desktop
        for (int x = 8; x < 65; ++x)
            p.set(x, y, mix(Rgb{150, 200, 240}, frost, (y - 11) / 30.0));
    p.fillRect(8, 44, 65, 51, teal); // the task bar
    p.fillRect(10, 46, 20, 50, Rgb{200, 210, 210});
    p.fillRect(12, 15, 22, 23, white); // two icons on the desktop
    p.frameRect(12, 15, 22, 23, deepBlue);
    p.fillRect(12, 28, 22, 36, white);
    p.frameRect(12, 28, 22, 36, deepBlue);
    p.fillRect(32, 54, 42, 62, graphite);
    p.fillRect(22, 62, 52, 66, graphite);

    // The scribble drawn on the copy.
    double lastX = 26, lastY = 30;
    for (int i = 1; i <= 32; ++i) {
        const double x = 26 + i * 1.15, y = 30 + 7 * std::sin(i * 0.45);
        p.stroke(lastX, lastY, x, y, 1.4, red);
        lastX = x;
        lastY = y;
    }

    // A spray of 33 dots below the monitor.
    Lcg random{20030612u};
    for (int i = 0; i < 33; ++i) {
        int dx, dy;
        do {
            dx = random.below(21) - 10;
            dy = random.below(21) - 10;
        } while (dx * dx + dy * dy > 100);
        p.fillRect(18 + dx, 80 + dy, 20 + dx, 82 + dy, linkBlue);
    }

    // The pencil: body, wood cone, graphite tip.
    p.stroke(66, 70, 46, 88, 3.6, pencilYellow);
    p.stroke(66.8, 69.3, 46.8, 87.3, 0.9, Rgb{200, 140, 20});
    p.triangle(43.2, 85.1, 48.9, 91.4, 38.5, 94.5, wood);
    p.triangle(40.6, 91.1, 42.2, 92.9, 38.5, 94.5, graphite);
    p.stroke(68.5, 67.8, 67.3, 69.0, 3.4, Rgb{230, 120, 140}); // the eraser
    return p;
}

bool writeJpeg(const Picture &p, const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(p.width);
    cinfo.image_height = JDIMENSION(p.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE); // baseline tables
    jpeg_set_colorspace(&cinfo, JCS_YCbCr);
    for (int i = 0; i < cinfo.num_components; ++i) {
        cinfo.comp_info[i].h_samp_factor = 1;
        cinfo.comp_info[i].v_samp_factor = 1;
    }
    cinfo.write_JFIF_header = TRUE;
    cinfo.JFIF_major_version = 1;
    cinfo.JFIF_minor_version = 2;
    cinfo.density_unit = 1; // dots per inch
    cinfo.X_density = 100;
    cinfo.Y_density = 100;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t(p.width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < p.width; ++x) {
            const Rgb c = p.at(x, y);
            row[std::size_t(x) * 3 + 0] = c.r;
            row[std::size_t(x) * 3 + 1] = c.g;
            row[std::size_t(x) * 3 + 2] = c.b;
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

// The same scene, small: the monitor with its scribble and the pencil, on a
// rounded square; the corners outside it are transparent.
Picture drawIcon(std::vector<bool> &transparent)
{
    Picture p(32, 32, black);
    transparent.assign(32 * 32, false);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const int cx = std::clamp(x, 4, 27), cy = std::clamp(y, 4, 27);
            const int dx = x - cx, dy = y - cy;
            if (dx * dx + dy * dy > 16)
                transparent[std::size_t(y) * 32 + std::size_t(x)] = true;
            else
                p.set(x, y, mix(Rgb{250, 248, 225}, khaki, y / 31.0));
        }
    p.fillRect(3, 4, 29, 22, graphite);
    p.fillRect(5, 6, 27, 20, frost);
    p.fillRect(5, 17, 27, 20, teal);
    p.fillRect(14, 22, 18, 25, graphite);
    p.fillRect(9, 25, 23, 27, graphite);
    double lastX = 8, lastY = 11;
    for (int i = 1; i <= 16; ++i) {
        const double x = 8 + i, y = 11 + 3 * std::sin(i * 0.8);
        p.stroke(lastX, lastY, x, y, 0.8, red);
        lastX = x;
        lastY = y;
    }
    p.stroke(28, 16, 19, 26, 1.7, pencilYellow);
    p.triangle(17.6, 24.4, 20.4, 27.4, 15.8, 28.8, wood);
    p.triangle(16.6, 27.4, 17.4, 28.3, 15.8, 28.8, graphite);
    return p;
}

// 256 colours: the 6 x 6 x 6 cube and a ramp of 40 greys.
std::array<Rgb, 256> iconPalette()
{
    std::array<Rgb, 256> palette{};
    int i = 0;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                palette[std::size_t(i++)] = {std::uint8_t(r * 51), std::uint8_t(g * 51), std::uint8_t(b * 51)};
    for (int k = 0; k < 40; ++k) {
        const auto v = std::uint8_t(std::lround(3 + k * 249.0 / 39));
        palette[std::size_t(i++)] = {v, v, v};
    }
    return palette;
}

int nearest(const std::array<Rgb, 256> &palette, Rgb c)
{
    int best = 0, bestDistance = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        const int dr = palette[std::size_t(i)].r - c.r, dg = palette[std::size_t(i)].g - c.g,
                  db = palette[std::size_t(i)].b - c.b;
        const int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

void put16(std::vector<std::uint8_t> &out, unsigned v)
{
    out.push_back(std::uint8_t(v & 0xFF));
    out.push_back(std::uint8_t((v >> 8) & 0xFF));
}
void put32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t((v >> (8 * i)) & 0xFF));
}

bool writeIcon(const std::string &path)
{
    std::vector<bool> transparent;
    const Picture p = drawIcon(transparent);
    const auto palette = iconPalette();
    constexpr std::uint32_t imageBytes = 40 + 256 * 4 + 32 * 32 + 32 * 4;

    std::vector<std::uint8_t> out;
    put16(out, 0);          // reserved
    put16(out, 1);          // type: icon
    put16(out, 1);          // one image
    out.push_back(32);      // width
    out.push_back(32);      // height
    out.push_back(0);       // colour count: 0 stands for 256
    out.push_back(0);       // reserved
    put16(out, 1);          // planes
    put16(out, 8);          // bits per pixel
    put32(out, imageBytes); // size of the image
    put32(out, 22);         // offset of the image

    put32(out, 40);            // header size
    put32(out, 32);            // width
    put32(out, 64);            // height: colour and mask rows together
    put16(out, 1);             // planes
    put16(out, 8);             // bits per pixel
    put32(out, 0);             // no compression
    put32(out, 32 * 32 + 32 * 4); // size of the pixel data
    put32(out, 0);             // horizontal resolution
    put32(out, 0);             // vertical resolution
    put32(out, 256);           // colours used
    put32(out, 0);             // all colours important
    for (const Rgb &c : palette) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }
    for (int y = 31; y >= 0; --y) // colour indices, bottom row first
        for (int x = 0; x < 32; ++x)
            out.push_back(transparent[std::size_t(y) * 32 + std::size_t(x)] ? std::uint8_t(0)
                                                                              : std::uint8_t(nearest(palette, p.at(x, y))));
    for (int y = 31; y >= 0; --y) // the mask: a set bit is transparent
        for (int byte = 0; byte < 4; ++byte) {
            std::uint8_t bits = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (transparent[std::size_t(y) * 32 + std::size_t(byte * 8 + bit)])
                    bits |= std::uint8_t(0x80 >> bit);
            out.push_back(bits);
        }

    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_about_assets <output folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    if (!writeJpeg(drawLogo(), folder + "/about_logo.jpg")) {
        std::fprintf(stderr, "make_about_assets: cannot write %s/about_logo.jpg\n", folder.c_str());
        return 1;
    }
    if (!writeIcon(folder + "/main_icon.ico")) {
        std::fprintf(stderr, "make_about_assets: cannot write %s/main_icon.ico\n", folder.c_str());
        return 1;
    }
    return 0;
}
