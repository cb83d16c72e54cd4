#include "platform/window_placement.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <vector>

#ifdef SKARVEL_X11
#include <QtGui/qguiapplication_platform.h>
#include <X11/Xlib.h>
// Xlib's event names would hide Qt's QEvent ones.
#undef Expose
#undef KeyPress
#undef KeyRelease
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

// The dialogs the program makes modal itself, the newest last. While there
// is one, input and the window manager's close reach only the newest and the
// windows that belong to it (its menus, pop-ups and boxes), as under Qt's
// own application modality.
class ModalStack : public QObject {
public:
    static ModalStack &instance()
    {
        // Made anew should the application object be.
        static QPointer<ModalStack> stack;
        if (!stack)
            stack = new ModalStack(qApp);
        return *stack;
    }

    void push(QWidget *dialog)
    {
        if (dialogs_.empty()) {
            qApp->installEventFilter(this);
            focusWatch_ = connect(qApp, &QGuiApplication::focusWindowChanged, this,
                                  [this](QWindow *now) { keyboardBackToDialog(now); });
        }
        dialogs_.push_back(dialog);
    }

    void remove(QWidget *dialog)
    {
        std::erase_if(dialogs_, [dialog](const QPointer<QWidget> &d) { return !d || d == dialog; });
        if (dialogs_.empty()) {
            qApp->removeEventFilter(this);
            disconnect(focusWatch_);
        }
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!blockable(watched, event))
            return false;
        std::erase_if(dialogs_, [](const QPointer<QWidget> &d) { return !d; });
        if (dialogs_.empty())
            return false;
        const QWidget *target = widgetOf(watched);
        if (!target || belongsToDialog(target))
            return false;
        event->ignore();
        return true;
    }

private:
    // Pop-ups and tool tips are never blocked, as under Qt's modality: the
    // completion list of the dialog's name field, for one, has no parent.
    bool belongsToDialog(const QWidget *widget) const
    {
        const Qt::WindowType type = widget->window()->windowType();
        if (type == Qt::Popup || type == Qt::ToolTip)
            return true;
        for (const QWidget *w = widget; w; w = w->parentWidget())
            if (w == dialogs_.back())
                return true;
        return false;
    }

    // A click on another window of the program gives that window the
    // keyboard; it goes back to the dialog, as Qt does for its modal
    // windows. Set directly or asked of i3, it ends i3's full-screen state
    // alike (i3 ends it whenever a window outside the full-screen one takes
    // the keyboard, but for a new dialog that it focuses itself).
    void keyboardBackToDialog(QWindow *now)
    {
        std::erase_if(dialogs_, [](const QPointer<QWidget> &d) { return !d; });
        const QWidget *target = now ? widgetOf(now) : nullptr;
        if (dialogs_.empty() || !target || belongsToDialog(target))
            return;
        QWidget *dialog = dialogs_.back();
        if (!dialog->isVisible())
            return;
#ifdef SKARVEL_X11
        if (auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>())
            if (Display *display = x11->display()) {
                XSetInputFocus(display, dialog->winId(), RevertToParent, CurrentTime);
                XFlush(display);
            }
#else
        Q_UNUSED(dialog);
#endif
    }

    explicit ModalStack(QObject *parent) : QObject(parent) {}

    static bool blockable(QObject *watched, QEvent *event)
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::Enter:
        case QEvent::HoverEnter:
        case QEvent::HoverMove:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return true;
        // The window manager's close (Alt+F4) comes to the window itself.
        case QEvent::Close:
            return event->spontaneous() && watched->isWindowType();
        default:
            return false;
        }
    }

    // The widget an event is for: itself, or the one a window shows.
    static const QWidget *widgetOf(QObject *watched)
    {
        if (watched->isWidgetType())
            return static_cast<QWidget *>(watched);
        if (watched->isWindowType())
            for (const QWidget *top : QApplication::topLevelWidgets())
                if (top->windowHandle() == watched)
                    return top;
        return nullptr;
    }

    std::vector<QPointer<QWidget>> dialogs_;
    QMetaObject::Connection focusWatch_;
};

// Takes the modality away from the dialog's window at its showing, before
// Qt maps it and would ask for its activation, and keeps input from the
// other windows itself until the dialog is hidden again.
class ModalWithoutActivationFilter : public QObject {
public:
    explicit ModalWithoutActivationFilter(QWidget *dialog) : QObject(dialog), dialog_(dialog)
    {
        dialog->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != dialog_)
            return false;
        if (event->type() == QEvent::Show && !own_) {
            QWindow *handle = dialog_->windowHandle();
            const QWindow *below = handle ? handle->transientParent() : nullptr;
            if (handle && handle->modality() != Qt::NonModal && below && below->isVisible() &&
                (below->windowStates() & Qt::WindowFullScreen)) {
                handle->setModality(Qt::NonModal);
                ModalStack::instance().push(dialog_);
                own_ = true;
            }
        } else if (event->type() == QEvent::Hide && own_) {
            own_ = false;
            ModalStack::instance().remove(dialog_);
            if (QWindow *handle = dialog_->windowHandle())
                handle->setModality(dialog_->windowModality());
        }
        return false;
    }

    ~ModalWithoutActivationFilter() override
    {
        if (own_)
            ModalStack::instance().remove(dialog_);
    }

private:
    QWidget *dialog_;
    bool own_ = false;
};

// Whether the X11 window manager is i3, by the name it announces on its
// check window.
bool underI3()
{
#ifdef SKARVEL_X11
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display *display = x11 ? x11->display() : nullptr;
    if (!display)
        return false;
    // A window's property of the given item size, its first 64 bytes; empty if
    // it is missing or of another size. A check window that has gone makes
    // an X error that Qt reports and ignores; its property is then empty.
    auto property = [display](Window window, const char *name, int format) {
        QByteArray value;
        const Atom atom = XInternAtom(display, name, True);
        Atom type = None;
        int found = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        if (atom != None &&
            XGetWindowProperty(display, window, atom, 0, 16, False, AnyPropertyType, &type, &found, &count, &after,
                               &data) == Success &&
            data && found == format)
            // Xlib hands 32-bit items over as longs.
            value = QByteArray(reinterpret_cast<const char *>(data),
                               int(count * (format == 32 ? sizeof(long) : std::size_t(format / 8))));
        if (data)
            XFree(data);
        return value;
    };
    const QByteArray check = property(DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK", 32);
    if (check.size() < int(sizeof(long)))
        return false;
    const QByteArray name =
        property(Window(*reinterpret_cast<const unsigned long *>(check.constData())), "_NET_WM_NAME", 8);
    return name == "i3";
#else
    return false;
#endif
}

} // namespace

void modalWithoutActivation(QWidget *dialog)
{
    if (QGuiApplication::platformName() == QLatin1String("xcb") && underI3())
        new ModalWithoutActivationFilter(dialog);
}

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
