#include "platform/window_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#ifdef SKARVEL_X11
#include <QtGui/qguiapplication_platform.h>
#include <X11/Xlib.h>
// Xlib's event name would hide Qt's QEvent::Expose.
#undef Expose
#endif

namespace platform {

bool windowManagerFrames();

namespace {

class Placer : public QObject {
public:
    Placer(QWidget *window, OuterPlace place) : QObject(window), window_(window), place_(std::move(place))
    {
        window->installEventFilter(this);
        watch_.setInterval(10);
        connect(&watch_, &QTimer::timeout, this, [this] { check(); });
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != window_)
            return false;
        if (event->type() == QEvent::Show) {
            put();
            checks_ = 0;
            steady_ = 0;
            if (windowManagerFrames())
                watch_.start();
            else
                finish(); // no frame will come: the first place stands
        } else if (event->type() == QEvent::Resize && watch_.isActive()) {
            steady_ = 0;
        }
        return false;
    }

private:
    // The outer and the client rectangle as the window system reports them.
    QRect outer() const
    {
        const QWindow *w = window_->windowHandle();
        return w ? w->frameGeometry() : window_->frameGeometry();
    }
    QRect client() const
    {
        const QWindow *w = window_->windowHandle();
        return w ? w->geometry() : window_->geometry();
    }

    QPoint target() const { return place_(outer().size()); }

    // The client area is placed inside the outer rectangle, which does not
    // depend on how the window system reads a frame position.
    void put()
    {
        const QPoint at = target();
        const QRect frame = outer(), inside = client();
        window_->setGeometry(at.x() + (inside.x() - frame.x()), at.y() + (inside.y() - frame.y()), inside.width(),
                             inside.height());
    }

    void check()
    {
        const QRect frame = outer();
        const bool framed = frame != client();
        if (frame.topLeft() != target()) {
            put();
            steady_ = 0;
        } else {
            ++steady_;
        }
        // Settled: framed and in place for 300 ms; given up after 5 seconds.
        if ((framed && steady_ >= 30) || !window_->isVisible() || ++checks_ >= 500)
            finish();
    }

    // Placed once: later showings keep wherever the window is then.
    void finish()
    {
        watch_.stop();
        window_->removeEventFilter(this);
        deleteLater();
    }

    QWidget *window_;
    OuterPlace place_;
    QTimer watch_;
    int checks_ = 0;
    int steady_ = 0;
};

// Asks for the keyboard after the first expose of every showing: the frame
// painted then is what maps the window, and a compositor ignores a request
// of a window that is not mapped yet.
class KeyboardAsker : public QObject {
public:
    explicit KeyboardAsker(QWidget *window) : QObject(window), window_(window) { window->installEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        QWindow *handle = window_->windowHandle();
        if (watched == window_ && event->type() == QEvent::Show && handle) {
            handle->removeEventFilter(this);
            handle->installEventFilter(this);
            armed_ = true;
        } else if (armed_ && watched == handle && event->type() == QEvent::Expose && handle->isExposed()) {
            armed_ = false;
            // Once the expose has been painted and its frame sent. Asked of
            // the window system itself: Qt counts a modal box as active while
            // the surface below it has the keyboard.
            QTimer::singleShot(0, this, [this] {
                QWindow *shown = window_->windowHandle();
                if (shown && window_->isVisible() && QGuiApplication::focusWindow() != shown)
                    shown->requestActivate();
            });
        }
        return false;
    }

private:
    QWidget *window_;
    bool armed_ = false;
};

} // namespace

void askForKeyboardWhenShown(QWidget *window)
{
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        new KeyboardAsker(window);
}

bool windowManagerFrames()
{
    const QString name = QGuiApplication::platformName();
    if (name == QLatin1String("offscreen") || name == QLatin1String("minimal"))
        return false;
#ifdef SKARVEL_X11
    // On X11 a window manager announces itself on the root window.
    if (auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (Display *display = x11->display()) {
            const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
            if (check == None)
                return false;
            Atom type = None;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char *data = nullptr;
            const bool announced = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False,
                                                      AnyPropertyType, &type, &format, &count, &after, &data) ==
                                       Success &&
                                   count > 0;
            if (data)
                XFree(data);
            return announced;
        }
    }
#endif
    return true;
}

void placeOnShow(QWidget *window, OuterPlace place) { new Placer(window, std::move(place)); }

} // namespace platform
