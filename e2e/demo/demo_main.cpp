// The demo: Скарвел on a private virtual display, used the way a person uses
// it. A made-up desktop, then the real program: a pencil stroke in a mixed
// colour, a spray, a line, a save through the real dialog, and the way out
// through Escape, Yes and "Выход". It prints where the saved picture and a
// screenshot of the options window beside the drawing are.
//
//   skarvel_demo [output folder]     (default: ./skarvel-demo)

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "steps.h"

using namespace e2e;
namespace fs = std::filesystem;

namespace {

constexpr int W = 1024, H = 768;

// A desktop to draw on: a sky, a few icons, a text window and a task bar.
Image madeUpDesktop()
{
    QImage picture(W, H, QImage::Format_RGB32);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, H);
    sky.setColorAt(0, QColor(40, 90, 160));
    sky.setColorAt(1, QColor(150, 200, 230));
    p.fillRect(picture.rect(), sky);
    p.setBrush(QColor(250, 240, 200));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(860, 130), 55, 55);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    p.setFont(font);
    const char *icons[] = {"Документы", "Фото", "Музыка", "Корзина"};
    for (int i = 0; i < 4; ++i) {
        const QRect icon(30, 30 + i * 90, 48, 48);
        p.setPen(QColor(20, 40, 70));
        p.setBrush(QColor::fromHsv(40 + i * 70, 140, 230));
        p.drawRoundedRect(icon, 6, 6);
        p.setPen(Qt::white);
        p.drawText(QRect(10, icon.bottom() + 4, 88, 16), Qt::AlignCenter, QString::fromUtf8(icons[i]));
    }

    const QRect window(360, 220, 420, 300);
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(245, 245, 240));
    p.drawRect(window);
    p.fillRect(QRect(window.x() + 1, window.y() + 1, window.width() - 1, 24), QColor(70, 110, 170));
    p.setPen(Qt::white);
    p.drawText(window.adjusted(8, 4, 0, 0), QStringLiteral("заметки.txt"));
    p.setPen(QColor(40, 40, 40));
    const char *lines[] = {"Купить хлеб и молоко", "Позвонить в мастерскую", "Отправить отчёт до пятницы",
                           "Полить цветы", "Скарвел: обвести главное"};
    for (int i = 0; i < 5; ++i)
        p.drawText(window.x() + 14, window.y() + 54 + i * 24, QString::fromUtf8(lines[i]));

    p.fillRect(QRect(0, H - 32, W, 32), QColor(30, 30, 40));
    p.setPen(QColor(220, 220, 220));
    p.drawText(QRect(W - 90, H - 32, 80, 32), Qt::AlignCenter, QStringLiteral("12:06"));
    p.end();

    Image image({0, 0, W, H});
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const QRgb c = picture.pixel(x, y);
            image.setPixel(x, y, {std::uint8_t(qRed(c)), std::uint8_t(qGreen(c)), std::uint8_t(qBlue(c))});
        }
    return image;
}

void say(const std::string &what) { std::cout << "skarvel-demo: " << what << std::endl; }

} // namespace

int main(int argc, char **argv)
{
    const auto start = std::chrono::steady_clock::now();
    const fs::path out = fs::absolute(argc > 1 ? fs::path(argv[1]) : fs::path("skarvel-demo"));
    fs::create_directories(out);
    try {
        // QPainter needs an application object; nothing here is shown by it.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication qt(argc, argv);
        const Image desktop = madeUpDesktop();

        say("starting a private virtual display and the program");
        // Started in the output folder, where its save dialog then opens. The
        // picture of an earlier run goes first: the dialog's name field would
        // offer it in a completion list, and the list would take the Return.
        fs::remove(out / "Рабочий стол.bmp");
        SkarvelRun run({W, H, 24, true}, ProgramOptions{.workingDirectory = out}, desktop);

        say("mixing a colour and taking the pencil, 5 pixels thick");
        WindowInfo options = run.openOptions(RightButton, {700, 650});
        run.mix(options, 220, 30, 60);
        run.chooseTool(options, options::pencil);
        run.typeInto(options, options::thickness, "5");
        run.closeOptions(options);
        // An ellipse around the last line of the notes.
        for (int i = 0; i <= 36; ++i) {
            const double a = i * 3.14159265 / 18.0;
            const Point p{int(470 + 110 * std::cos(a)), int(366 + 20 * std::sin(a))};
            if (i == 0) {
                run.display.moveTo(p);
                run.display.press();
            } else {
                run.display.moveTo(p);
            }
        }
        run.display.release();

        say("spraying in green");
        options = run.openOptions(RightButton, {700, 650});
        run.chooseTool(options, options::spray);
        run.typeInto(options, options::radius, "14");
        run.mix(options, 20, 170, 40);
        run.display.moveTo(830, 300);
        run.display.press();
        for (int i = 1; i <= 40; ++i)
            run.display.moveTo(830 + i * 3, 300 + (i % 8) * 4);
        run.display.release();

        say("drawing a line from the desktop to the notes");
        run.chooseTool(options, options::line);
        run.closeOptions(options);
        run.display.click(110, 600);
        run.display.click(355, 420);

        say("saving the picture through the save dialog");
        options = run.openOptions(RightButton, {700, 650});
        run.display.moveTo(options.frameRect.right() + 40, options.frameRect.y + 40);
        const fs::path screenshot = out / "options-and-drawing.png";
        run.display.screenshot(screenshot);
        const fs::path saved = run.saveAs(options, out / "Рабочий стол");
        run.closeOptions(options);

        say("leaving: Escape, Yes, then \"Выход\"");
        const WindowInfo about = run.leaveSurface();
        run.display.screenshot(out / "about.png");
        const std::optional<int> code = run.exitFromAbout(about);
        if (code != 0) {
            std::cerr << "skarvel-demo: the program ended with " << (code ? std::to_string(*code) : "no exit")
                      << ": " << run.app.output() << "\n";
            return 1;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        say("the program ended with exit code 0 after " + std::to_string(int(seconds + 0.5)) + " s");
        std::cout << "\nThe saved picture:      " << saved.string() << " (" << fs::file_size(saved) << " bytes)\n"
                  << "The options window:     " << screenshot.string() << "\n"
                  << "The About window:       " << (out / "about.png").string() << "\n";
        return 0;
    } catch (const std::exception &error) {
        std::cerr << "skarvel-demo: " << error.what() << "\n";
        return 1;
    }
}
