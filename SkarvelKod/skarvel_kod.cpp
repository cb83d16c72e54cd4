#include "SkarvelKod/skarvel_kod.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include "Palitra/palitra_controls.h"
#include "canvas/errors.h"
#include "canvas/memory_room.h"
#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "platform/platform.h"
#include "platform/portal_screenshot.h"
#include "About/about_box.h"
#include "SkarvelKod/random_below.h"
#include "SkarvelKod/timage.h"
#include "shell/guard.h"
#include "shell/tapplication.h"

TForm1 *Form1 = nullptr;
TStrokeState StrokeState;

TForm1::TForm1(QWidget *parent) : TForm(parent)
{
    // The surface covers the screen, and the toolkit makes its window image,
    // a whole frame, when it first shows: without room for that the program
    // cannot start.
    memory::requireRoomFor(platform::screenFrameBytes());

    // Borderless, no title-bar buttons, design size 121 x 89 (the window
    // covers the whole screen at run time).
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(Application ? Application->Title() : QString());
    setGeometry(223, 136, 121, 89);
    // The window never paints a background of its own.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);

    Image1 = new TImage(this);
    Image1->setGeometry(0, 0, 121, 89);
    shell::bindGuarded(Image1->OnMouseDown,
                       [this](TMouseButton b, TShiftState s, int x, int y) { FormMouseDown(b, s, x, y); });
    shell::bindGuarded(Image1->OnMouseMove, [this](TShiftState s, int x, int y) { FormMouseMove(s, x, y); });
    shell::bindGuarded(Image1->OnMouseUp, [this](TMouseButton b, TShiftState s, int x, int y) { FormMouseUp(b, s, x, y); });

    // The one-shot snapshot trigger: armed now, it cannot fire before the loop runs.
    Timer1 = new QTimer(this);
    Timer1->setInterval(1);
    Timer1->setTimerType(Qt::PreciseTimer);
    shell::connectGuarded(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Timer1->start();
    if (!Timer1->isActive())
        throw EOutOfResources("Not enough timers available");

    if (Application)
        Application->RunCreationHandler([this] { FormCreate(); });
    else
        FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate()
{
    // Over the whole screen, panels and docks included. A window manager
    // keeps a maximised window inside the work area, which leaves the panels
    // out, so the surface asks for the full-screen state, which covers them.
    // Without a window manager nobody honours a state, so the window also
    // asks for the screen's rectangle.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->geometry());
    setWindowState(windowState() | Qt::WindowFullScreen);
    // Erasing the background paints nothing (see the constructor).
    StrokeState.LineAnchorSet = false;
}

void TForm1::showEvent(QShowEvent *event)
{
    // An unpainted window is not see-through on X11, so the screen is read
    // here, the last moment before the window is first mapped, and the
    // snapshot step copies from that reading. Until then the surface shows the
    // reading, which is exactly the desktop a see-through window would show.
    // Where nothing of a window reaches the screen before its first frame
    // (Qt's Wayland platform), the window is made at once and the reading is
    // collected just before that frame, by the first expose or the snapshot
    // step, whichever comes first: the compositor's handshake for the new
    // window then runs while the desktop portal reads the screen.
    if (!screenRead_) {
        if (platform::windowInvisibleUntilFirstFrame() && windowHandle())
            windowHandle()->installEventFilter(this);
        else
            readScreen();
    }
    TForm::showEvent(event);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    // The first expose is what paints and commits the first frame.
    if (watched == windowHandle() && event->type() == QEvent::Expose)
        readScreen();
    return TForm::eventFilter(watched, event);
}

void TForm1::readScreen()
{
    if (screenRead_)
        return;
    screenRead_ = true;
    if (windowHandle())
        windowHandle()->removeEventFilter(this);
    if (platform::readScreenBeforeMapping())
        Image1->SetBackdrop(&platform::screenReading());
}

void TForm1::changeEvent(QEvent *event)
{
    // i3 ends the full-screen state when another window of the program
    // takes the keyboard other than as a new dialog (a box open above the
    // surface takes it back after a click on the surface). Back on the
    // surface, the person gets the whole screen again.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && isVisible() &&
        !(windowState() & (Qt::WindowFullScreen | Qt::WindowMinimized)))
        setWindowState(windowState() | Qt::WindowFullScreen);
    // On Wayland the compositor puts the surface on the screen full screen
    // only once a frame follows its acknowledgement of the new state. Qt
    // commits no frame when nothing needs repainting, and sway then waits 200
    // ms before it shows the surface anyway: a one-pixel repaint sends the
    // frame at once.
    if ((event->type() == QEvent::WindowStateChange || event->type() == QEvent::ActivationChange) &&
        QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        Image1->update(0, 0, 1, 1);
    TForm::changeEvent(event);
}

void TForm1::Timer1Timer()
{
    // The step runs once per run. The timer stops before the step rather than
    // after it, so that a failing step is reported once and not every
    // millisecond.
    Timer1->stop();
    // The step may come before the first frame that waits for the reading.
    readScreen();

    // Once the step is over, whether it copied the screen or failed, the
    // reading goes, and its memory back to the system; the surface then shows
    // the picture, or white where there is none.
    struct ReadingRelease {
        TImage *image;
        ~ReadingRelease()
        {
            image->SetBackdrop(nullptr);
            platform::forgetScreenReading();
            platform::returnFreedMemory();
        }
    } release{Image1};

    {
        // The screen goes straight into the picture, converted strip by strip
        // where its format differs: no whole copy of the screen in between,
        // so the step holds the reading and the picture and nothing more.
        // The whole-screen context lives only while it is read, and it is
        // given back even when the reading fails.
        const QRect screen = platform::primaryScreenRect();
        TCanvas &picture = Image1->Canvas();
        const std::unique_ptr<platform::ScreenContext, void (*)(platform::ScreenContext *)> screenDC(
            platform::GetDC(), [](platform::ScreenContext *dc) { platform::ReleaseDC(dc); });
        platform::BitBlt(picture, 0, 0, screen.width(), screen.height(), screenDC.get(), 0, 0);
    }

    // A screen that could not be read leaves the picture white, and says so;
    // one that did not fit in memory is the out-of-resources error.
    bool outOfMemory = false;
    const QString failure = platform::takeScreenReadFailure(&outOfMemory);
    if (outOfMemory)
        throw EOutOfResources();
    if (!failure.isEmpty())
        throw Exception("The screen could not be read: " + failure.toStdString());
}

void TForm1::FormMouseDown(TMouseButton Button, TShiftState, int X, int Y)
{
    // Any button but the primary one opens the options window.
    if (Button != mbLeft) {
        frmPalitra->Show();
        return;
    }
    // Three separate tests, each on its own radio button.
    if (frmPalitra->rb1->isChecked()) {
        Image1->Canvas().MoveTo(X, Y);
        StrokeState.Drawing = true;
    }
    if (frmPalitra->rb2->isChecked())
        StrokeState.Drawing = true;
    if (frmPalitra->rb3->isChecked()) {
        // The line tool alternates: a first point, then a line to the second.
        StrokeState.LineAnchorSet = !StrokeState.LineAnchorSet;
        if (StrokeState.LineAnchorSet) {
            StrokeState.LineAnchor = Point{X, Y};
        } else {
            TCanvas &canvas = Image1->Canvas();
            canvas.MoveTo(StrokeState.LineAnchor.x, StrokeState.LineAnchor.y);
            canvas.Pen().SetWidth(frmPalitra->tl->Value());
            canvas.LineTo(X, Y);
        }
    }
}

void TForm1::FormMouseMove(TShiftState, int X, int Y)
{
    if (!StrokeState.Drawing)
        return;
    if (frmPalitra->rb1->isChecked()) {
        // The pencil: a segment from the last point, at the thickness shown now.
        TCanvas &canvas = Image1->Canvas();
        canvas.Pen().SetWidth(frmPalitra->tl->Value());
        canvas.LineTo(X, Y);
    }
    if (frmPalitra->rb2->isChecked()) {
        // The spray scatters 33 dots per move in the swatch colour, each offset
        // by the difference of two draws below the radius, vertical first.
        // The sums wrap in 32 bits, as a huge radius from an uncorrected field
        // may need; such dots fall outside and are dropped.
        const std::int32_t n = frmPalitra->tl2->Value();
        TCanvas &canvas = Image1->Canvas();
        for (int i = 0; i < 33; ++i) {
            const ColorRef c = frmPalitra->sColor->BrushColor();
            const std::uint32_t r1 = std::uint32_t(RandomBelow(n));
            const std::uint32_t r2 = std::uint32_t(RandomBelow(n));
            const std::int32_t y = std::int32_t(std::uint32_t(Y) + r1 - r2);
            const std::uint32_t r3 = std::uint32_t(RandomBelow(n));
            const std::uint32_t r4 = std::uint32_t(RandomBelow(n));
            const std::int32_t x = std::int32_t(std::uint32_t(X) + r3 - r4);
            canvas.SetPixel(x, y, c);
        }
    }
}

void TForm1::FormMouseUp(TMouseButton, TShiftState, int, int)
{
    // A release of any button ends a stroke.
    StrokeState.Drawing = false;
}

void TForm1::FormKeyPress(char16_t &Key)
{
    // Escape is the way out, through a question and the About window.
    if (Key != 27)
        return;
    if (platform::MessageBox(QStringLiteral("Вы действительно хотите покинуть программу?"), QStringLiteral("Скарвел"),
                             platform::MB_YESNO) != platform::IDYES)
        return;
    // Nothing is saved or asked: the picture and the tool settings stay as
    // they are, and the options window stays open if it is.
    Hide();
    AboutBox->Show();
}

void TForm1::CancelMode()
{
    // Before an error box: the stroke in progress ends, as a release would
    // end it, so that the pointer draws nothing once the box has gone.
    StrokeState.Drawing = false;
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    // The picture control fills the client area.
    Image1->setGeometry(rect());
    TForm::resizeEvent(event);
}

void TForm1::keyPressEvent(QKeyEvent *event)
{
    // Typed characters reach FormKeyPress one by one.
    const QString text = event->text();
    for (QChar c : text) {
        char16_t key = c.unicode();
        FormKeyPress(key);
    }
    if (text.isEmpty())
        TForm::keyPressEvent(event);
}

void TForm1::mousePressEvent(QMouseEvent *event)
{
    FormMouseDown(mouseButtonOf(event), shiftStateOf(event), devicePixelX(this, event), devicePixelY(this, event));
}

void TForm1::mouseDoubleClickEvent(QMouseEvent *event)
{
    FormMouseDown(mouseButtonOf(event), shiftStateOf(event, true), devicePixelX(this, event),
                  devicePixelY(this, event));
}

void TForm1::mouseMoveEvent(QMouseEvent *event)
{
    FormMouseMove(shiftStateOf(event), devicePixelX(this, event), devicePixelY(this, event));
}

void TForm1::mouseReleaseEvent(QMouseEvent *event)
{
    FormMouseUp(mouseButtonOf(event), shiftStateOf(event), devicePixelX(this, event), devicePixelY(this, event));
}

void TForm1::paintEvent(QPaintEvent *) {}
