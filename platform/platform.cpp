#include "platform/platform.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <utility>

#ifdef SKARVEL_X11
#include <QtGui/qguiapplication_platform.h>
#include <X11/Xlib.h>
#endif

#include "canvas/memory_room.h"
#include "canvas/tcanvas.h"
#include "canvas/tbitmap.h"
#include "platform/image_bridge.h"
#include "platform/portal_screenshot.h"
#include "platform/window_placement.h"
#ifdef SKARVEL_X11
#include "platform/x11_screen_read.h"
#endif

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

namespace {

// The installed hook of each kind (the hook types all differ).
template <class Hook>
Hook &installedHook()
{
    static Hook installed;
    return installed;
}
QImage &reading()
{
    static QImage image;
    return image;
}
// Why the screen could not be read, until the snapshot step reports it.
QString &readFailure()
{
    static QString why;
    return why;
}
bool &readOutOfMemory()
{
    static bool outOfMemory = false;
    return outOfMemory;
}

// The part of the portal's picture of the whole desktop that shows the
// primary screen, at device pixels: the picture spans the screens' virtual
// geometry at its own scale.
QImage primaryScreenPart(const QImage &desktop)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect all = screen->virtualGeometry();
    const QRect own = screen->geometry();
    if (all.width() <= 0 || all.height() <= 0)
        return {};
    const qreal sx = qreal(desktop.width()) / all.width();
    const qreal sy = qreal(desktop.height()) / all.height();
    const QRect part(qRound((own.x() - all.x()) * sx), qRound((own.y() - all.y()) * sy), qRound(own.width() * sx),
                     qRound(own.height() * sy));
    // One output: the whole picture, without a copy.
    if (part == desktop.rect())
        return desktop;
    // A picture smaller than the desktop yields what it has.
    return desktop.copy(part.intersected(desktop.rect()));
}

// On Wayland a parentless window shown over a full-screen one is mapped
// behind it, out of sight: boxes and dialogs are made transient for the
// program's active window (or a visible one), which keeps them above it.
void ownedByProgramWindow(QWidget *window)
{
    if (!waylandSession())
        return;
    QWidget *owner = QApplication::activeWindow();
    if (!owner || owner == window) {
        owner = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top != window && top->isVisible() && top->isWindow() && !top->isMinimized()) {
                owner = top;
                if (top->isFullScreen())
                    break;
            }
    }
    if (!owner)
        return;
    window->winId();
    if (window->windowHandle() && owner->windowHandle())
        window->windowHandle()->setTransientParent(owner->windowHandle());
}

qreal screenRatio(const QScreen *screen) { return screen ? screen->devicePixelRatio() : 1.0; }

// A dialog belongs to the program's full-screen window while one is on the
// screen. Window managers keep a window's own dialogs in front of it; i3
// shows nothing else over a full-screen window, so a dialog that belonged to
// no window would open out of sight.
void belongToFullScreenWindow(QWidget *dialog)
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window != dialog && window->isVisible() && window->isFullScreen() && window->windowHandle()) {
            dialog->winId();
            dialog->windowHandle()->setTransientParent(window->windowHandle());
            return;
        }
}

} // namespace

// --- Screen ---------------------------------------------------------------

QRect primaryScreenRect()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const qreal ratio = screenRatio(screen);
    const QRect g = screen->geometry();
    return QRect(qRound(g.x() * ratio), qRound(g.y() * ratio), qRound(g.width() * ratio), qRound(g.height() * ratio));
}

PixelFormat displayPixelFormat()
{
    // Wayland has no display depth: pictures are 32-bit there.
    if (waylandSession())
        return PixelFormat::pf32bit;
    const QScreen *screen = QGuiApplication::primaryScreen();
    const int depth = screen ? screen->depth() : 32;
#ifdef SKARVEL_X11
    // The depth a display advertises is not what it stores: ask the server
    // for the bits per pixel of its pixmap format at that depth.
    if (auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (Display *display = x11->display()) {
            const int rootDepth = DefaultDepth(display, DefaultScreen(display));
            int count = 0;
            if (XPixmapFormatValues *formats = XListPixmapFormats(display, &count)) {
                int bits = 0;
                for (int i = 0; i < count; ++i)
                    if (formats[i].depth == rootDepth)
                        bits = formats[i].bits_per_pixel;
                XFree(formats);
                if (bits > 0)
                    return pixelFormatForBits(bits);
            }
        }
    }
#endif
    if (depth <= 1)
        return PixelFormat::pf1bit;
    if (depth <= 4)
        return PixelFormat::pf4bit;
    if (depth <= 8)
        return PixelFormat::pf8bit;
    if (depth <= 16)
        return PixelFormat::pf16bit;
    return PixelFormat::pf32bit;
}

void setScreenReadHook(ScreenReadHook hook) { installedHook<ScreenReadHook>() = std::move(hook); }

bool readScreenBeforeMapping()
{
    if (waylandSession()) {
        // The portal was asked at start-up; its answer is awaited here.
        PortalShot shot = takePortalScreenshot();
        QImage image = shot.image.isNull() ? QImage() : primaryScreenPart(shot.image);
        if (image.isNull()) {
            readFailure() = shot.error.isEmpty() ? QStringLiteral("the portal's picture holds no screen") : shot.error;
            return false;
        }
        reading() = std::move(image);
        return true;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return false;
    // The whole root window, at device resolution; the copy takes the
    // primary display's rectangle from its origin. On X11 the server writes
    // it straight into shared memory where it can; otherwise it comes through
    // the connection, over twice as slowly.
    QImage image;
    if (installedHook<ScreenReadHook>()) {
        image = installedHook<ScreenReadHook>()();
    } else {
        bool outOfMemory = false;
#ifdef SKARVEL_X11
        image = readRootThroughSharedMemory(&outOfMemory);
#endif
        if (image.isNull() && !outOfMemory) {
            // Through the connection the frame comes as one reply, which Qt
            // turns into an image and that into a pixmap: three frames at
            // once. A reply the connection has no memory for ends the
            // connection, and the program with it, so the read is not tried
            // without room for all of them.
            const QSize all = screen->virtualSize() * screen->devicePixelRatio();
            const std::uint64_t frame = std::uint64_t(std::max(all.width(), 0)) * std::uint64_t(std::max(all.height(), 0)) * 4;
            if (memory::roomFor(3 * frame))
                image = screen->grabWindow(0).toImage();
            else
                outOfMemory = true;
        }
        if (outOfMemory) {
            readFailure() = QStringLiteral("not enough memory for the whole screen");
            readOutOfMemory() = true;
            return false;
        }
    }
    if (image.isNull())
        return false;
    image.setDevicePixelRatio(1.0);
    reading() = std::move(image);
    return true;
}

const QImage &screenReading() { return reading(); }

QString takeScreenReadFailure(bool *outOfMemory)
{
    if (outOfMemory)
        *outOfMemory = std::exchange(readOutOfMemory(), false);
    return std::exchange(readFailure(), QString());
}

std::uint64_t screenFrameBytes()
{
    const QRect screen = primaryScreenRect();
    return std::uint64_t(std::max(screen.width(), 0)) * std::uint64_t(std::max(screen.height(), 0)) * 4;
}

bool windowInvisibleUntilFirstFrame()
{
    // Under Xwayland (the xcb platform on a Wayland desktop) an X window is
    // on the screen, unpainted, as soon as it is mapped.
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void startScreenRead()
{
    if (waylandSession())
        startPortalScreenshot();
}

void forgetScreenReading() { reading() = QImage(); }

void returnFreedMemory()
{
#if defined(__GLIBC__)
    // A freed frame below 32 MB goes back to glibc's heap, and glibc keeps it
    // unless asked: whole free pages go back to the system here.
    malloc_trim(0);
#endif
}

void fitHeapToLimits()
{
#if defined(__GLIBC__)
    if (memory::addressSpaceLeft())
        mallopt(M_ARENA_MAX, 2);
#endif
}

struct ScreenContext {
    QImage image;
};

ScreenContext *GetDC()
{
    static ScreenContext context;
    if (reading().isNull() && readFailure().isEmpty())
        readScreenBeforeMapping();
    context.image = reading();
    return &context;
}

void ReleaseDC(ScreenContext *dc)
{
    if (dc)
        dc->image = QImage();
}

void BitBlt(TCanvas &dest, int x, int y, int w, int h, ScreenContext *src, int sx, int sy)
{
    TBitmap &bitmap = dest.BlockCopyTarget();
    if (!src || src->image.isNull() || w <= 0 || h <= 0)
        return;
    copyImageToBitmap(src->image, QRect(sx, sy, w, h), bitmap, x, y);
    dest.BlockCopied(Rect{x, y, x + w, y + h});
}

// --- Message box ------------------------------------------------------------

void setMessageBoxHook(MessageBoxHook hook) { installedHook<MessageBoxHook>() = std::move(hook); }

int MessageBox(const QString &text, const QString &caption, unsigned flags)
{
    if (installedHook<MessageBoxHook>())
        return installedHook<MessageBoxHook>()(text, caption, flags);
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(text);
    box.setWindowModality(Qt::ApplicationModal);
    belongToFullScreenWindow(&box);
    modalWithoutActivation(&box);
    if (flags & MB_ICONERROR)
        box.setIcon(QMessageBox::Critical);
    if ((flags & 0xF) == MB_YESNO) {
        QPushButton *yes = box.addButton(QMessageBox::Yes);
        box.addButton(QMessageBox::No);
        box.setDefaultButton(yes);
    } else {
        box.setDefaultButton(box.addButton(QMessageBox::Ok));
    }
    ownedByProgramWindow(&box);
    askForKeyboardWhenShown(&box);
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Ok: return IDOK;
    default: return (flags & 0xF) == MB_YESNO ? IDNO : IDOK;
    }
}

// --- Save dialog --------------------------------------------------------------

void setSaveDialogHook(SaveDialogHook hook) { installedHook<SaveDialogHook>() = std::move(hook); }


std::optional<QString> GetSaveFileName(const SaveDialogRequest &request)
{
    if (installedHook<SaveDialogHook>())
        return installedHook<SaveDialogHook>()(request);
    // "Label|pattern|Label|pattern" becomes Qt's "Label (pattern)" entries.
    QStringList filters;
    const QStringList parts = request.filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString label = parts[i], pattern = parts[i + 1];
        filters << (label.endsWith(QStringLiteral("(") + pattern + QStringLiteral(")")) ? label : label + QStringLiteral(" (") + pattern + QStringLiteral(")"));
    }
    QFileDialog dialog(nullptr, request.title, request.initialDir);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // No question before a file is replaced, and no extension of its own
    // unless one is asked for.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setDefaultSuffix(request.defaultExt);
    dialog.setNameFilters(filters);
    dialog.setSizeGripEnabled(true);
    // Modal to every window of the program.
    dialog.setWindowModality(Qt::ApplicationModal);
    belongToFullScreenWindow(&dialog);
    modalWithoutActivation(&dialog);
    if (request.place)
        placeOnShow(&dialog, request.place);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    // A folder entered by typing its path and Return leaves that path in the
    // name field, and a name typed next is glued to it: "photos" + "pic" makes
    // "photospic" beside the folder. The field is emptied once the dialog
    // shows that folder, so that the next name is taken in it (and refused
    // with the path the person meant if the folder has gone by then).
    auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    auto *model = dialog.findChild<QFileSystemModel *>();
    if (name && model) {
        QObject::connect(model, &QFileSystemModel::rootPathChanged, name,
                         [name, shown = dialog.directory().absolutePath()](const QString &entered) mutable {
                             const QString typed = name->text();
                             if (!typed.isEmpty() &&
                                 QDir::cleanPath(QDir(shown).absoluteFilePath(typed)) == QDir::cleanPath(entered))
                                 name->clear();
                             shown = entered;
                         });
    }
    ownedByProgramWindow(&dialog);
    askForKeyboardWhenShown(&dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

// --- Shell, beep, launcher ------------------------------------------------

void setShellOpenHook(ShellOpenHook hook) { installedHook<ShellOpenHook>() = std::move(hook); }

void ShellOpen(const QString &target)
{
    if (installedHook<ShellOpenHook>()) {
        installedHook<ShellOpenHook>()(target);
        return;
    }
#if defined(Q_OS_WIN)
    QProcess::startDetached(QStringLiteral("cmd"), {QStringLiteral("/c"), QStringLiteral("start"), QString(), target});
#else
    QProcess::startDetached(QStringLiteral("xdg-open"), {target});
#endif
}

void setBeepHook(BeepHook hook) { installedHook<BeepHook>() = std::move(hook); }

void MessageBeep()
{
    if (installedHook<BeepHook>())
        installedHook<BeepHook>()();
    else
        QApplication::beep();
}

int launcherShowCommand(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "-iconic") == 0)
            return SW_SHOWMINNOACTIVE;
    return SW_SHOWNORMAL;
}

bool displayAvailable(QString *why)
{
#ifdef SKARVEL_X11
    const QByteArray platformName = qgetenv("QT_QPA_PLATFORM");
    if (!platformName.isEmpty() && !platformName.startsWith("xcb"))
        return true; // another Qt platform (offscreen, wayland) says for itself
    const QByteArray name = qgetenv("DISPLAY");
    if (name.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        // A Wayland desktop without Xwayland: Qt's wayland platform, which
        // Qt would not choose by itself without XDG_SESSION_TYPE.
        if (platformName.isEmpty())
            qputenv("QT_QPA_PLATFORM", "wayland");
        return true;
    }
    if (name.isEmpty()) {
        if (why)
            *why = QStringLiteral("no display: neither DISPLAY nor WAYLAND_DISPLAY is set");
        return false;
    }
    Display *display = XOpenDisplay(name.constData());
    if (!display) {
        if (why)
            *why = QStringLiteral("cannot open the display \"%1\"").arg(QString::fromLocal8Bit(name));
        return false;
    }
    XCloseDisplay(display);
#else
    Q_UNUSED(why);
#endif
    return true;
}

bool displayPaintable(QString *why)
{
#ifdef SKARVEL_X11
    const QByteArray platformName = qgetenv("QT_QPA_PLATFORM");
    if (!platformName.isEmpty() && !platformName.startsWith("xcb"))
        return true;
    Display *display = XOpenDisplay(qgetenv("DISPLAY").constData());
    if (!display)
        return true; // displayAvailable says why
    const int screen = DefaultScreen(display);
    const int depth = DefaultDepth(display, screen);
    const Visual *visual = DefaultVisual(display, screen);
    const int visualClass = visual ? visual->c_class : -1;
    XCloseDisplay(display);
    if (visualClass == TrueColor && depth >= 15)
        return true;
    if (why) {
        static const char *const classNames[] = {"StaticGray", "GrayScale", "StaticColor",
                                                 "PseudoColor", "TrueColor", "DirectColor"};
        const char *className = visualClass >= 0 && visualClass < 6 ? classNames[visualClass] : "unknown";
        *why = QStringLiteral("the display has a depth of %1 bits (%2); the program needs a true-colour display "
                              "of 15 bits or more (16, 24 or 30 bits)")
                   .arg(depth)
                   .arg(QLatin1String(className));
    }
    return false;
#else
    Q_UNUSED(why);
    return true;
#endif
}

} // namespace platform
