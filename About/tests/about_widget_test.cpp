#include <QtTest/QtTest>

#include <QFile>
#include <QScreen>

#include <cstring>
#include <vector>

#include "About/about_box.h"
#include "About/about_controls.h"
#include "Palitra/palitra.h"
#include "SkarvelKod/skarvel_kod.h"
#include "SkarvelKod/timage.h"
#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "platform/platform.h"
#include "saving/tests/bmp_reader.h"
#include "app/program.h"
#include "shell/speed_button.h"
#include "shell/tests/widget_test.h"

namespace {

struct Box {
    QString text, caption;
    unsigned flags = 0;
};

// The link lines' state as their colours say ("both" must never happen).
QString linkState()
{
    const bool mail = AboutBox->Label1->FontColor() == clBlue, web = AboutBox->Label3->FontColor() == clBlue;
    return mail && web ? QStringLiteral("both") : mail ? QStringLiteral("mail") : web ? QStringLiteral("web") : QStringLiteral("none");
}
const QString none = QStringLiteral("none"), mail = QStringLiteral("mail"), web = QStringLiteral("web");
bool linesAtRest()
{
    return AboutBox->Label1->FontColor() == clLinkRest && AboutBox->Label3->FontColor() == clLinkRest;
}

// A point of the window inside `control`, at (dx, dy) from its top-left.
QPoint pointIn(QWidget *control, int dx, int dy) { return control->mapTo(AboutBox, QPoint(dx, dy)); }

// Moves the pointer over the window as the window system reports it: the
// move goes to the topmost control under the pointer.
void movePointer(QPoint p) { QTest::mouseMove(AboutBox->windowHandle(), p); }

QPoint screenCentre() { return QGuiApplication::primaryScreen()->geometry().center(); }

// What the options window holds: slider positions, swatch, tool, fields.
struct OptionsState {
    int r, g, b;
    ColorRef swatch;
    bool pencil, spray, line;
    QString thickness, radius;
    friend bool operator==(const OptionsState &, const OptionsState &) = default;
};
OptionsState optionsState()
{
    return {frmPalitra->R->value(),  frmPalitra->G->value(),  frmPalitra->B->value(),
            frmPalitra->sColor->BrushColor(), frmPalitra->rb1->isChecked(), frmPalitra->rb2->isChecked(),
            frmPalitra->rb3->isChecked(), frmPalitra->tl->Text(), frmPalitra->tl2->Text()};
}
// Opens the options window with a state of its own, not the one it starts with.
OptionsState openOptionsWindow()
{
    frmPalitra->Show();
    frmPalitra->R->setValue(200);
    frmPalitra->G->setValue(17);
    frmPalitra->B->setValue(90);
    frmPalitra->rb2->click();
    frmPalitra->tl2->SetText(QStringLiteral("23"));
    return optionsState();
}

// The picture's pixels, to compare before and after.
std::vector<std::uint8_t> pictureBytes()
{
    const TBitmap &bitmap = Form1->Image1->Picture.Bitmap();
    return {bitmap.Bits(), bitmap.Bits() + bitmap.ByteSize()};
}

} // namespace

class AboutTest : public QObject {
    Q_OBJECT
    QList<Box> boxes;
    int answer = platform::IDNO;
    QStringList opened;

private slots:
    void initTestCase()
    {
        platform::setMessageBoxHook([this](const QString &t, const QString &c, unsigned f) {
            boxes.append({t, c, f});
            return answer;
        });
        platform::setShellOpenHook([this](const QString &target) { opened.append(target); });
        app::createForms();
        QVERIFY(Form1 && AboutBox);
    }
    void init()
    {
        boxes.clear();
        opened.clear();
        answer = platform::IDNO;
    }

    // --- The window -----------------------------------------------------------

    void isMadeSecondAndHidden()
    {
        QVERIFY(Application->Forms().size() >= 2);
        QCOMPARE(Application->Forms()[0].data(), static_cast<TForm *>(Form1));
        QCOMPARE(Application->Forms()[1].data(), static_cast<TForm *>(AboutBox));
        QVERIFY(!AboutBox->isVisible());
        QVERIFY(!AboutBox->IsMainForm());
    }

    void hasAFixedFrameWithoutCaptionButtons()
    {
        QCOMPARE(AboutBox->windowTitle(), QStringLiteral("О программе"));
        QCOMPARE(AboutBox->size(), QSize(298, 223));
        QCOMPARE(AboutBox->minimumSize(), QSize(298, 223));
        QCOMPARE(AboutBox->maximumSize(), QSize(298, 223));
        const Qt::WindowFlags buttons = Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                        Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint |
                                        Qt::WindowContextHelpButtonHint;
        QVERIFY(!(AboutBox->windowFlags() & buttons));
        QVERIFY(AboutBox->windowFlags() & Qt::WindowTitleHint);
        QCOMPARE(AboutBox->palette().color(QPalette::Window), QColor(207, 205, 173));
        // No keyboard interface: nothing can take the focus.
        for (QWidget *w : AboutBox->findChildren<QWidget *>())
            QVERIFY2(w->focusPolicy() == Qt::NoFocus, qPrintable(w->objectName()));
    }

    void labelsFitTheirTextsInsideThePanel()
    {
        const QList<about::Label *> labels = AboutBox->Panel1->findChildren<about::Label *>();
        QCOMPARE(labels.size(), 7);
        const QRect inside = AboutBox->Panel1->rect().adjusted(2, 2, -2, -2);
        for (about::Label *label : labels) {
            QVERIFY2(inside.contains(label->geometry()), qPrintable(label->objectName()));
            QCOMPARE(label->font().pixelSize(), 11);
            if (label->WordWrap())
                continue;
            const QFontMetrics metrics(label->font());
            QCOMPARE(label->width(), metrics.horizontalAdvance(label->Caption()));
            QCOMPARE(label->height(), metrics.height());
        }
        // The location line wraps within 150 pixels into two lines.
        const QFontMetrics metrics(AboutBox->Comments->font());
        QCOMPARE(AboutBox->Comments->width(), 150);
        QVERIFY(metrics.horizontalAdvance(AboutBox->Comments->Caption()) > 150);
        QCOMPARE(AboutBox->Comments->height(), 2 * metrics.lineSpacing());
        QCOMPARE(AboutBox->Label2->Caption(), QStringLiteral("Версия 1.8"));
        QCOMPARE(AboutBox->Label4->Caption(), QStringLiteral("Дата компиляции: 12.06.2003"));
        QCOMPARE(AboutBox->ProductName->Caption(), QStringLiteral("Скарвел"));
        QVERIFY(AboutBox->Label1->Caption().endsWith(AboutBox->MailTarget().mid(7)));
        QVERIFY(AboutBox->Label3->Caption().endsWith(AboutBox->WebTarget()));
    }

    void theLogoIsDecodedAtItsSize()
    {
        QCOMPARE(AboutBox->ProgramIcon->Image().size(), QSize(73, 97));
        QCOMPARE(AboutBox->ProgramIcon->geometry(), QRect(8, 8, 73, 97));
        // Not an empty or flat picture.
        const QImage &logo = AboutBox->ProgramIcon->Image();
        QVERIFY(logo.pixel(1, 1) != logo.pixel(40, 47));
    }

    void theProgramIconIsOnEveryWindow()
    {
        for (TForm *form : {static_cast<TForm *>(Form1), static_cast<TForm *>(AboutBox), static_cast<TForm *>(frmPalitra)}) {
            const QIcon icon = form->windowIcon();
            QVERIFY(!icon.isNull());
            QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
        }
    }

    // --- The way in: Escape on the drawing surface ------------------------

    void otherCharactersDoNothing()
    {
        answer = platform::IDYES;
        Form1->Show();
        QTRY_VERIFY(!Form1->Image1->Picture.Empty());
        for (char16_t key : {char16_t('a'), char16_t(13), char16_t(' '), char16_t(26), char16_t(28), char16_t(0x42B),
                             char16_t(0)}) {
            char16_t typed = key;
            Form1->FormKeyPress(typed);
            QCOMPARE(typed, key);
        }
        QTest::keyClick(Form1, Qt::Key_Return);
        QTest::keyClick(Form1, Qt::Key_Space);
        QTest::keyClick(Form1, Qt::Key_Q);
        QTest::keyClick(Form1, Qt::Key_F4, Qt::AltModifier);
        QVERIFY(boxes.isEmpty());
        QVERIFY(Form1->isVisible());
        QVERIFY(!AboutBox->isVisible());
    }

    void escapeThenNoChangesNothing()
    {
        answer = platform::IDNO;
        Form1->Show();
        QTRY_VERIFY(!Form1->Image1->Picture.Empty());
        // Some drawing state to keep.
        TCanvas &canvas = Form1->Image1->Canvas();
        canvas.Pen().SetColor(0x00123456);
        canvas.Pen().SetWidth(7);
        canvas.MoveTo(3, 4);
        canvas.LineTo(40, 30);
        StrokeState.LineAnchorSet = true;
        StrokeState.LineAnchor = Point{11, 12};
        const std::vector<std::uint8_t> before = pictureBytes();
        const Point penPos = canvas.PenPos();
        const OptionsState options = openOptionsWindow();

        char16_t key = 27;
        Form1->FormKeyPress(key);
        QCOMPARE(key, char16_t(27));
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, QStringLiteral("Вы действительно хотите покинуть программу?"));
        QCOMPARE(boxes[0].caption, QStringLiteral("Скарвел"));
        QCOMPARE(boxes[0].flags, 4u);

        QVERIFY(Form1->isVisible());
        QVERIFY(!AboutBox->isVisible());
        QVERIFY(pictureBytes() == before);
        QCOMPARE(canvas.Pen().Color(), ColorRef(0x00123456));
        QCOMPARE(canvas.Pen().Width(), 7);
        QCOMPARE(canvas.PenPos(), penPos);
        QVERIFY(StrokeState.LineAnchorSet);
        QCOMPARE(StrokeState.LineAnchor, (Point{11, 12}));
        QVERIFY(frmPalitra->isVisible());
        QVERIFY(optionsState() == options);

        // The key itself, as typed on the surface, asks the same question.
        QTest::keyClick(Form1, Qt::Key_Escape);
        QCOMPARE(boxes.size(), 2);
        QVERIFY(Form1->isVisible());
        QVERIFY(pictureBytes() == before);
        frmPalitra->Hide();
    }

    void escapeThenYesHidesTheSurfaceThenShowsTheAboutWindowCentred()
    {
        answer = platform::IDYES;
        Form1->Show();
        QTRY_VERIFY(!Form1->Image1->Picture.Empty());
        const std::vector<std::uint8_t> before = pictureBytes();
        const OptionsState options = openOptionsWindow();
        // The surface is already hidden when the About window appears.
        bool surfaceVisibleAtShow = true;
        struct ShowWatch : QObject {
            bool *seen;
            explicit ShowWatch(bool *s) : seen(s) {}
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::Show)
                    *seen = Form1->isVisible();
                return false;
            }
        } watch(&surfaceVisibleAtShow);
        AboutBox->installEventFilter(&watch);

        QTest::keyClick(Form1, Qt::Key_Escape);
        AboutBox->removeEventFilter(&watch);
        QCOMPARE(boxes.size(), 1);
        QVERIFY(!Form1->isVisible());
        QVERIFY(AboutBox->isVisible());
        QVERIFY(!surfaceVisibleAtShow);
        QVERIFY(QTest::qWaitForWindowExposed(AboutBox));
        const QPoint centre = AboutBox->frameGeometry().center();
        QVERIFY2((centre - screenCentre()).manhattanLength() <= 2, qPrintable(QStringLiteral("centre %1,%2").arg(centre.x()).arg(centre.y())));
        // The picture stays in memory as it was; the options window stays
        // open as it was.
        QVERIFY(pictureBytes() == before);
        QVERIFY(frmPalitra->isVisible());
        QVERIFY(optionsState() == options);

        // Its save still writes the picture.
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("after-yes.bmp"));
        platform::setSaveDialogHook([name](const platform::SaveDialogRequest &) { return std::optional<QString>(name); });
        frmPalitra->SpeedButton2Click();
        platform::setSaveDialogHook({});
        QVERIFY(QFile::exists(name));
        const testbmp::Parsed file = testbmp::parse(testbmp::readFile(name.toStdString()));
        QCOMPARE(QString::fromStdString(file.error), QString());
        const TBitmap &picture = Form1->Image1->Picture.Bitmap();
        QCOMPARE(file.width, picture.Width());
        QCOMPARE(file.height, picture.Height());
        QCOMPARE(file.at(20, 15), picture.Pixel(20, 15)); // on the line drawn before the No
        QCOMPARE(file.at(picture.Width() - 1, picture.Height() - 1), picture.Pixel(picture.Width() - 1, picture.Height() - 1));
        QVERIFY(boxes.size() == 1); // no error box
    }

    void keepsItsPlaceAfterTheFirstShowing()
    {
        QVERIFY(AboutBox->isVisible());
        AboutBox->move(30, 40);
        const QPoint moved = AboutBox->pos();
        AboutBox->Hide();
        AboutBox->Show();
        QCOMPARE(AboutBox->pos(), moved);
        // Back to the centre for the tests that follow.
        AboutBox->move(screenCentre() - QPoint(AboutBox->frameGeometry().width() / 2, AboutBox->frameGeometry().height() / 2));
        QVERIFY(QTest::qWaitForWindowExposed(AboutBox));
    }

    // --- Link lines -------------------------------------------------------

    void pointerMoves_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<bool>("neutral");
        QTest::newRow("version line") << "Label2" << true;
        QTest::newRow("product line") << "ProductName" << true;
        QTest::newRow("logo") << "ProgramIcon" << true;
        QTest::newRow("compile date") << "Label4" << true;
        QTest::newRow("compile date over the separator") << "Label4/Bevel1" << true;
        QTest::newRow("panel background") << "Panel1" << true;
        QTest::newRow("exit button") << "SpeedButton1" << true;
        QTest::newRow("window background") << "window" << true;
        QTest::newRow("author line") << "Author" << false;
        QTest::newRow("location line") << "Comments" << false;
        QTest::newRow("separator") << "Bevel1" << false;
    }
    void pointerMoves()
    {
        QFETCH(QString, place);
        QFETCH(bool, neutral);
        QVERIFY(QTest::qWaitForWindowExposed(AboutBox));

        // Where the pointer goes, and what must be under it there.
        QPoint p;
        QWidget *expected = nullptr;
        if (place == QLatin1String("window")) {
            p = QPoint(3, AboutBox->height() / 2);
        } else if (place == QLatin1String("Panel1")) {
            p = pointIn(AboutBox->Panel1, AboutBox->Panel1->width() - 8, 40);
            expected = AboutBox->Panel1;
        } else if (place == QLatin1String("Label4/Bevel1")) {
            // Where the compile date lies over the separator.
            p = pointIn(AboutBox->Bevel1, 4, AboutBox->Label4->y() - AboutBox->Bevel1->y() + 1);
            expected = AboutBox->Label4;
            QVERIFY(AboutBox->Bevel1->geometry().contains(AboutBox->Panel1->mapFrom(AboutBox, p)));
        } else if (place == QLatin1String("Bevel1")) {
            p = pointIn(AboutBox->Bevel1, AboutBox->Bevel1->width() - 4, 2);
            expected = AboutBox->Bevel1;
        } else {
            expected = AboutBox->findChild<QWidget *>(place);
            QVERIFY(expected);
            p = pointIn(expected, 3, expected->height() / 2);
        }
        QCOMPARE(AboutBox->childAt(p), expected);

        for (const QString &lit : {mail, web}) {
            movePointer(pointIn(lit == mail ? AboutBox->Label1 : AboutBox->Label3, 4, 4));
            QCOMPARE(linkState(), lit);
            movePointer(p);
            QCOMPARE(linkState(), neutral ? none : lit);
            if (neutral)
                QVERIFY(linesAtRest());
        }
        movePointer(pointIn(AboutBox->Label2, 2, 2));
        QCOMPARE(linkState(), none);
    }

    void clickingALinkOpensItsTarget()
    {
        movePointer(pointIn(AboutBox->Label1, 5, 5));
        QTest::mouseClick(AboutBox->windowHandle(), Qt::LeftButton, {}, pointIn(AboutBox->Label1, 5, 5));
        QCOMPARE(opened, QStringList{QStringLiteral("mailto:skarvel@example.org")});
        QCOMPARE(linkState(), mail);

        movePointer(pointIn(AboutBox->Label3, 5, 5));
        QTest::mouseClick(AboutBox->windowHandle(), Qt::LeftButton, {}, pointIn(AboutBox->Label3, 5, 5));
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened[1], QStringLiteral("http://www.example.org"));
        QCOMPARE(linkState(), web);
        QVERIFY(AboutBox->isVisible());

        // Other buttons, and a press that ends elsewhere, open nothing.
        QTest::mouseClick(AboutBox->windowHandle(), Qt::RightButton, {}, pointIn(AboutBox->Label3, 5, 5));
        QTest::mousePress(AboutBox->windowHandle(), Qt::LeftButton, {}, pointIn(AboutBox->Label1, 5, 5));
        QTest::mouseRelease(AboutBox->windowHandle(), Qt::LeftButton, {}, pointIn(AboutBox->Label2, 5, 5));
        QCOMPARE(opened.size(), 2);
        // Text lines that are not links open nothing either.
        QTest::mouseClick(AboutBox->windowHandle(), Qt::LeftButton, {}, pointIn(AboutBox->Author, 5, 5));
        QCOMPARE(opened.size(), 2);
    }

    void enterAndEscapeDoNothingHere()
    {
        QTest::keyClick(AboutBox, Qt::Key_Escape);
        QTest::keyClick(AboutBox, Qt::Key_Return);
        QVERIFY(AboutBox->isVisible());
        QVERIFY(boxes.isEmpty());
        QVERIFY(opened.isEmpty());
    }

    void theExitButtonIsBlueAndFlat()
    {
        QCOMPARE(AboutBox->SpeedButton1->Caption(), QStringLiteral("Выход"));
        QCOMPARE(AboutBox->SpeedButton1->geometry(), QRect(16, 184, 265, 28));
        const QImage shot = AboutBox->SpeedButton1->grab().toImage();
        int blue = 0, other = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (c == QColor(207, 205, 173))
                    continue;
                (c.blue() > 150 && c.red() < 120 && c.green() < 120 ? blue : other)++;
            }
        QVERIFY2(blue > 10, "the caption is not drawn in blue");
        // At rest no frame: anything else drawn is only the caption's edges.
        QVERIFY2(other < blue, qPrintable(QStringLiteral("%1 pixels that are neither window colour nor blue").arg(other)));
    }

    // --- A damaged logo -----------------------------------------------------

    void aDamagedLogoLeavesTheWindowWorking()
    {
        QFile file(QStringLiteral(":/about_logo.jpg"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray whole = file.readAll();
        QVERIFY(!AboutBox->LoadLogo(whole.left(whole.size() / 2)));
        QVERIFY(AboutBox->ProgramIcon->Image().isNull());
        QVERIFY(!AboutBox->LoadLogo(QByteArray()));
        QVERIFY(!AboutBox->LoadLogo(QByteArray("not a picture at all")));
        QVERIFY(AboutBox->ProgramIcon->Image().isNull());
        // The window paints, the logo's place is still neutral and the links work.
        AboutBox->repaint();
        movePointer(pointIn(AboutBox->Label1, 3, 3));
        QCOMPARE(linkState(), mail);
        movePointer(pointIn(AboutBox->ProgramIcon, 30, 30));
        QCOMPARE(linkState(), none);
        QVERIFY(AboutBox->LoadLogo(whole));
        QCOMPARE(AboutBox->ProgramIcon->Image().size(), QSize(73, 97));
    }

    // --- The way out --------------------------------------------------------

    void closingTheAboutWindowWhileAnotherIsOpenOnlyHidesIt()
    {
        // The options window is still open from the way in.
        QVERIFY(frmPalitra->isVisible());
        AboutBox->Show();
        // Ends the loop with 7 unless something ends it first.
        QTimer::singleShot(0, AboutBox, [] { AboutBox->close(); });
        QTimer::singleShot(300, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 7);
        QVERIFY(!AboutBox->isVisible());
        QVERIFY(frmPalitra->isVisible());
        frmPalitra->Hide();
        QVERIFY(!Application->Terminated());
    }

    void exitEndsTheProgramWithTheSurfaceHidden()
    {
        AboutBox->Show();
        QVERIFY(QTest::qWaitForWindowExposed(AboutBox));
        QVERIFY(!Form1->isVisible());
        const QPoint button = pointIn(AboutBox->SpeedButton1, 100, 14);
        QTimer::singleShot(0, AboutBox, [button] {
            QTest::mouseMove(AboutBox->windowHandle(), button);
            QTest::mouseClick(AboutBox->windowHandle(), Qt::LeftButton, {}, button);
        });
        QTimer::singleShot(2000, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(Application->Terminated());
    }

    void closingTheLastVisibleWindowEndsTheProgram()
    {
        // After "Выход" above the program would have ended; the loop can
        // still be run again to see that the close ends it too.
        AboutBox->Show();
        QVERIFY(!Form1->isVisible());
        QTimer::singleShot(0, AboutBox, [] { AboutBox->close(); });
        QTimer::singleShot(2000, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!AboutBox->isVisible());
    }

    void cleanupTestCase()
    {
        platform::setMessageBoxHook({});
        platform::setShellOpenHook({});
    }
};

SKARVEL_WIDGET_TEST_MAIN(AboutTest)
#include "about_widget_test.moc"
