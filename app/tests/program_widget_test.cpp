#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest/QtTest>

#include <new>

#include "About/about_box.h"
#include "Palitra/palitra.h"
#include "SkarvelKod/skarvel_kod.h"
#include "SkarvelKod/timage.h"
#include "canvas/errors.h"
#include "canvas/tbitmap.h"
#include "platform/platform.h"
#include "app/program.h"
#include "shell/guard.h"
#include "shell/tests/widget_test.h"

namespace {

struct Box {
    QString text, caption;
    unsigned flags = 0;
};

// An object whose event handling fails the way a handler of the program can.
class Thrower : public QObject {
public:
    std::function<void()> fail;
    int handled = 0;
    bool event(QEvent *e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        ++handled;
        if (fail)
            fail();
        return true;
    }
};

} // namespace

class ShellTest : public QObject {
    Q_OBJECT
    QList<Box> boxes;

private slots:
    void init()
    {
        boxes.clear();
        platform::setMessageBoxHook([this](const QString &t, const QString &c, unsigned f) {
            boxes.append({t, c, f});
            return platform::IDOK;
        });
    }
    void cleanup() { platform::setMessageBoxHook({}); }

    // Runs before any window of the program is made: a first window whose
    // constructor fails leaves neither a main window nor a reference behind.
    void aWindowWhoseConstructorFailsLeavesNoMainWindow()
    {
        struct Failing : TForm {
            Failing() { throw EOutOfResources("Not enough timers available"); }
        };
        Failing *failing = nullptr;
        QVERIFY_THROWS_EXCEPTION(EOutOfResources, Application->CreateForm(failing));
        QVERIFY(!failing);
        QVERIFY(!Application->MainForm());
        for (const QPointer<TForm> &form : Application->Forms())
            QVERIFY(!form);
    }

    void anErrorInAHandlerShowsTheErrorBoxAndTheLoopGoesOn()
    {
        Thrower target;
        target.fail = [] { throw EFCreateError("Cannot create file /нет/x.bmp"); };
        QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, QStringLiteral("Cannot create file /нет/x.bmp."));
        QCOMPARE(boxes[0].caption, QStringLiteral("Скарвел"));
        QCOMPARE(boxes[0].flags, 0x10u);

        // The next message is handled as usual.
        target.fail = nullptr;
        QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        QCOMPARE(target.handled, 2);
        QCOMPARE(boxes.size(), 1);
    }

    void aSilentAbortShowsNothing()
    {
        Thrower target;
        target.fail = [] { throw EAbort(); };
        QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        QCOMPARE(target.handled, 1);
        QVERIFY(boxes.isEmpty());
    }

    void aForeignErrorIsShownInTheApplicationErrorForm()
    {
        Thrower target;
        target.fail = [] { throw std::bad_alloc(); };
        QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].caption, QStringLiteral("Application Error"));
        QVERIFY2(boxes[0].text.startsWith(QStringLiteral("Exception std::bad_alloc in module ")), qPrintable(boxes[0].text));
        QCOMPARE(boxes[0].flags, 0x2010u);
    }

    // Qt's own texts follow the language; the program's own do not change.
    void qtTextsComeInThePersonsLanguage()
    {
        const auto buttons = [] {
            QMessageBox box;
            return box.addButton(QMessageBox::Yes)->text().remove(QLatin1Char('&')) + QLatin1Char('/') +
                   box.addButton(QMessageBox::No)->text().remove(QLatin1Char('&'));
        };
        QVERIFY(Application->LoadToolkitTranslations(QLocale(QLocale::Russian, QLocale::Russia)));
        QCOMPARE(buttons(), QStringLiteral("Да/Нет"));
        QCOMPARE(Application->Title(), QStringLiteral("Скарвел"));
        // No translation for the C locale: English again.
        QVERIFY(!Application->LoadToolkitTranslations(QLocale::c()));
        QCOMPARE(buttons(), QStringLiteral("Yes/No"));
    }

    void theSurfaceCoversTheScreenAndTakesItsSnapshotOnce()
    {
        app::createForms();
        QVERIFY(Form1);
        QCOMPARE(Application->MainForm(), Form1);
        QVERIFY(Form1->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(Form1->windowState() & Qt::WindowFullScreen);
        QVERIFY(Form1->Timer1->isActive());
        QCOMPARE(Form1->Timer1->interval(), 1);
        QVERIFY(Form1->Image1->Picture.Empty());

        Form1->Show();
        QTRY_VERIFY(!Form1->Image1->Picture.Empty());
        QVERIFY(!Form1->Timer1->isActive());
        const QRect screen = platform::primaryScreenRect();
        TBitmap &picture = Form1->Image1->Picture.Bitmap();
        QCOMPARE(picture.Width(), screen.width());
        QCOMPARE(picture.Height(), screen.height());
        QCOMPARE(Form1->Image1->geometry(), Form1->rect());
        QVERIFY(boxes.isEmpty());
    }

    // An error in a handler bound to a signal is handled where it is raised:
    // one error box, and the signal still reaches the receivers after it.
    void aFailingScreenReadInTheSnapshotStepShowsOneErrorBoxAndGoesOn()
    {
        platform::setScreenReadHook([]() -> QImage { throw EOutOfResources(); });
        TForm1 surface; // not shown: the snapshot step alone reads the screen
        int laterReceivers = 0;
        QObject::connect(surface.Timer1, &QTimer::timeout, [&] { ++laterReceivers; });
        QTRY_COMPARE(laterReceivers, 1);
        platform::setScreenReadHook({});
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, QStringLiteral("Out of system resources."));
        QVERIFY(!surface.Timer1->isActive());
    }

    void aThrowingSliderHandlerShowsOneErrorBoxAndTheSliderGoesOn()
    {
        QScrollBar slider(Qt::Vertical);
        slider.setRange(0, 255);
        shell::connectGuarded(&slider, &QScrollBar::valueChanged, &slider,
                              [] { throw EInvalidGraphic("Bitmap image is not valid"); });
        QList<int> seen;
        QObject::connect(&slider, &QScrollBar::valueChanged, [&](int v) { seen.append(v); });
        slider.triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, QStringLiteral("Bitmap image is not valid."));
        slider.triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(seen, (QList<int>{1, 2}));
        QCOMPARE(boxes.size(), 2);
    }

    void closingAnotherWindowOnlyHidesIt()
    {
        TForm other;
        other.Show();
        QVERIFY(other.isVisible());
        QVERIFY(!other.IsMainForm());
        other.close(); // as a close request from the window manager
        QVERIFY(!other.isVisible());
        QVERIFY(!Application->Terminated());
        other.Show();
        other.Close();
        QVERIFY(!other.isVisible());
        QVERIFY(!Application->Terminated());
    }

    // Last: it ends the (test) program's loop.
    void closingTheLastVisibleWindowAfterTheSurfaceWasLeftEndsTheProgram()
    {
        // The surface has been left; the About and the options window are up.
        Form1->Hide();
        AboutBox->Show();
        frmPalitra->Show();
        AboutBox->close(); // a close request: the options window is still there
        QVERIFY(!AboutBox->isVisible());
        QVERIFY(!Application->Terminated());
        frmPalitra->close(); // nothing could ever show a window again
        QVERIFY(Application->Terminated());
    }
};

SKARVEL_WIDGET_TEST_MAIN(ShellTest)
#include "program_widget_test.moc"
