// Draws the program icon for the desktop's icon theme at the sizes asked for:
//
//   make_icons <output folder> <size>...
//
// writes <output folder>/<size>x<size>/apps/skarvel.png for each size. The
// picture is the one of main_icon.ico (the monitor with the frozen desktop, a
// red scribble on it and a pencil leaning on it, on a rounded square), drawn
// anew at each size instead of scaled from 32 pixels, so every size is sharp:
// the straight edges of the monitor fall on whole pixels, the scribble and
// the pencil are smooth lines at least one pixel wide, and from 48 pixels up
// the sky, the desktop icons and the pencil's eraser come back from the logo.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const QColor khaki(207, 205, 173), cream(250, 248, 225), frost(224, 240, 250), sky(150, 200, 240);
const QColor graphite(60, 60, 70), teal(0, 128, 128), red(220, 30, 30), deepBlue(24, 52, 120);
const QColor pencilYellow(242, 190, 40), pencilShade(200, 140, 20), wood(236, 200, 150), eraser(230, 120, 140);

// The design is laid out on a 32-unit square; s is pixels per unit.
class IconPainter {
public:
    IconPainter(QImage &image, int size) : p_(&image), s_(size / 32.0) { p_.setRenderHint(QPainter::Antialiasing); }

    // A rectangle in design units, its edges rounded to whole pixels.
    QRect snapped(double x0, double y0, double x1, double y1) const
    {
        const int left = int(std::lround(x0 * s_)), top = int(std::lround(y0 * s_));
        const int right = std::max(left + 1, int(std::lround(x1 * s_)));
        const int bottom = std::max(top + 1, int(std::lround(y1 * s_)));
        return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
    }
    void fill(double x0, double y0, double x1, double y1, const QBrush &brush)
    {
        p_.fillRect(snapped(x0, y0, x1, y1), brush);
    }
    QPointF at(double x, double y) const { return {x * s_, y * s_}; }
    // A pen `width` units wide, never thinner than one pixel.
    QPen pen(const QColor &color, double width) const
    {
        return QPen(color, std::max(1.0, width * s_), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    }
    double scale() const { return s_; }
    QPainter &painter() { return p_; }

private:
    QPainter p_;
    double s_;
};

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    IconPainter icon(image, size);
    QPainter &p = icon.painter();
    const bool detailed = size >= 48;

    // The rounded square, light at the top and khaki at the bottom.
    QLinearGradient background(0, 0, 0, size);
    background.setColorAt(0, cream);
    background.setColorAt(1, khaki);
    const double corner = std::max(2.0, 4.5 * icon.scale());
    p.setPen(Qt::NoPen);
    p.setBrush(background);
    p.drawRoundedRect(QRectF(0, 0, size, size), corner, corner);

    // The monitor, its frozen desktop with the task bar, and the stand.
    icon.fill(3, 4, 29, 22, graphite);
    if (detailed) {
        const QRect screen = icon.snapped(5, 6, 27, 17);
        QLinearGradient air(0, screen.top(), 0, screen.bottom());
        air.setColorAt(0, sky);
        air.setColorAt(1, frost);
        icon.fill(5, 6, 27, 17, air);
        for (double top : {7.5, 12.0}) { // two icons on the desktop
            icon.fill(6.5, top, 9.5, top + 3, deepBlue);
            const double border = 1 / icon.scale();
            icon.fill(6.5 + border, top + border, 9.5 - border, top + 3 - border, Qt::white);
        }
    } else {
        icon.fill(5, 6, 27, 17, frost);
    }
    icon.fill(5, 17, 27, 20, teal);
    if (detailed)
        icon.fill(6, 17.8, 10, 19.2, QColor(200, 210, 210)); // the start button
    icon.fill(14, 22, 18, 25, graphite);
    icon.fill(9, 25, 23, 27, graphite);

    // The scribble on the copy of the desktop.
    // (With the desktop icons drawn it starts right of them.)
    QPainterPath scribble;
    for (int i = detailed ? 3 : 0; i <= 16; ++i) {
        const QPointF point = icon.at(8 + i, 11 + 3 * std::sin(i * 0.8));
        if (scribble.elementCount() == 0)
            scribble.moveTo(point);
        else
            scribble.lineTo(point);
    }
    if (size > 16) {
        p.setBrush(Qt::NoBrush);
        p.setPen(icon.pen(red, 1.6));
        p.drawPath(scribble);
    } else {
        // At 16 pixels a smooth line of half a pixel turns to pink mist: the
        // wave is set pixel by pixel instead.
        constexpr int wave[] = {5, 4, 4, 5, 6, 6, 5, 4, 4, 5};
        for (int x = 0; x < 10; ++x)
            p.fillRect(3 + x, wave[x], 1, 1, red);
    }

    // The pencil: body, a darker edge, eraser, wood cone and graphite tip.
    p.setPen(icon.pen(pencilYellow, 3.4));
    p.drawLine(icon.at(28, 16), icon.at(19, 26));
    if (detailed) {
        p.setPen(icon.pen(pencilShade, 0.8));
        p.drawLine(icon.at(28.9, 16.9), icon.at(20.2, 26.6));
        p.setPen(icon.pen(eraser, 3.4));
        p.drawLine(icon.at(28.6, 15.3), icon.at(28.2, 15.8));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(wood);
    p.drawPolygon(QPolygonF({icon.at(17.6, 24.4), icon.at(20.4, 27.4), icon.at(15.8, 28.8)}));
    p.setBrush(graphite);
    p.drawPolygon(QPolygonF({icon.at(16.6, 27.4), icon.at(17.4, 28.3), icon.at(15.8, 28.8)}));
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_icons <output folder> <size>...\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "make_icons: %s is not a size from 16 to 1024\n", argv[i]);
            return 2;
        }
        const QString sub = QStringLiteral("%1x%1/apps").arg(size);
        const QString path = folder + QLatin1Char('/') + sub + QStringLiteral("/skarvel.png");
        if (!QDir(folder).mkpath(sub) || !drawIcon(size).save(path, "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", path.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
