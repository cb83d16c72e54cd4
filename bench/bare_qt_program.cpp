// The floor start-up and memory are measured against: a bare Qt program that
// reads the screen before its window maps and shows that reading full screen
// with QPainter::drawImage. It does nothing else.

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>

class FrozenScreen : public QWidget {
protected:
    void showEvent(QShowEvent *) override
    {
        if (reading.isNull())
            reading = screen()->grabWindow(0).toImage();
    }
    void paintEvent(QPaintEvent *event) override { QPainter(this).drawImage(event->rect(), reading, event->rect()); }

private:
    QImage reading;
};

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    FrozenScreen window;
    window.setWindowTitle(QStringLiteral("bare"));
    window.setAttribute(Qt::WA_OpaquePaintEvent);
    // Without a window manager nobody honours the full-screen state alone.
    window.setGeometry(window.screen()->geometry());
    window.showFullScreen();
    return application.exec();
}
