// Image is the harness's only user of Qt, for reading and writing files.

#include "harness.h"

#include <QImage>

namespace e2e {

Image::Image(Rect rect, Rgb fill) : rect_(rect)
{
    if (rect_.isEmpty())
        rect_.width = rect_.height = 0;
    pixels_.assign(static_cast<std::size_t>(rect_.width) * static_cast<std::size_t>(rect_.height), fill);
}

std::size_t Image::index(int x, int y) const
{
    if (x < 0 || y < 0 || x >= rect_.width || y >= rect_.height)
        throw Error("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is outside a " +
                    std::to_string(rect_.width) + "x" + std::to_string(rect_.height) + " image");
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(rect_.width) + static_cast<std::size_t>(x);
}

Rgb Image::pixel(int x, int y) const
{
    return pixels_[index(x, y)];
}

void Image::setPixel(int x, int y, Rgb color)
{
    pixels_[index(x, y)] = color;
}

long Image::count(Rgb color) const
{
    long n = 0;
    for (const Rgb &p : pixels_)
        n += p == color;
    return n;
}

void Image::savePng(const std::filesystem::path &path) const
{
    if (rect_.isEmpty())
        throw Error("cannot save an empty image to " + path.string());
    QImage out(rect_.width, rect_.height, QImage::Format_RGB888);
    for (int y = 0; y < rect_.height; ++y) {
        uchar *line = out.scanLine(y);
        for (int x = 0; x < rect_.width; ++x) {
            const Rgb p = pixels_[index(x, y)];
            line[3 * x] = p.r;
            line[3 * x + 1] = p.g;
            line[3 * x + 2] = p.b;
        }
    }
    if (!out.save(QString::fromStdString(path.string()), "PNG"))
        throw Error("cannot write " + path.string());
}

Image Image::load(const std::filesystem::path &path)
{
    QImage in(QString::fromStdString(path.string()));
    if (in.isNull())
        throw Error("cannot read a picture from " + path.string());
    in = in.convertToFormat(QImage::Format_RGB888);
    Image image(Rect{0, 0, in.width(), in.height()});
    for (int y = 0; y < in.height(); ++y) {
        const uchar *line = in.constScanLine(y);
        for (int x = 0; x < in.width(); ++x)
            image.setPixel(x, y, {line[3 * x], line[3 * x + 1], line[3 * x + 2]});
    }
    return image;
}

} // namespace e2e
