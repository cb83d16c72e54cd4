// Writes the program icon as a PNG for the desktop's icon theme, which does
// not read .ico files: icon_png <icon.ico> <out.png>.

#include <QGuiApplication>
#include <QImage>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: icon_png <icon.ico> <out.png>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QImage icon(QString::fromLocal8Bit(argv[1]));
    if (icon.isNull() || !icon.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "icon_png: cannot turn %s into %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
