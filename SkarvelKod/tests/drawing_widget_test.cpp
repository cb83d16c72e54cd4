// The surface's pointer handlers on a real picture, with the options window's
// controls set the way a person sets them.

#include <QtTest/QtTest>

#include <climits>
#include <set>
#include <utility>

#include "Palitra/palitra.h"
#include "SkarvelKod/random_below.h"
#include "SkarvelKod/skarvel_kod.h"
#include "SkarvelKod/timage.h"
#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "app/program.h"
#include "shell/tests/widget_test.h"

namespace {

TBitmap &picture() { return Form1->Image1->Picture.Bitmap(); }
bool white(int x, int y) { return picture().Pixel(x, y) == clWhite; }

// Every pixel of the picture that is not white.
std::set<std::pair<int, int>> marks()
{
    std::set<std::pair<int, int>> found;
    TBitmap &b = picture();
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            if (b.Pixel(x, y) != clWhite)
                found.insert({x, y});
    return found;
}

void down(int x, int y, TMouseButton b = mbLeft) { Form1->FormMouseDown(b, {}, x, y); }
void move(int x, int y) { Form1->FormMouseMove(TShiftState(ssLeft), x, y); }
void up(int x, int y, TMouseButton b = mbLeft) { Form1->FormMouseUp(b, {}, x, y); }

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    QRect last;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint) {
            ++paints;
            last = static_cast<QPaintEvent *>(e)->rect();
        }
        return false;
    }
};

} // namespace

class DrawingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        app::createForms();
        // No snapshot: the picture stays white, so every mark shows.
        Form1->Timer1->stop();
        Form1->Show();
        QTRY_VERIFY(Form1->Image1->width() > 300);
        Form1->Image1->Canvas();
        QVERIFY(!Form1->Image1->Picture.Empty());
    }

    void init()
    {
        TBitmap &b = picture();
        b.Canvas().Pen().SetColor(clWhite);
        b.Canvas().Pen().SetWidth(b.Width() * 3);
        b.Canvas().MoveTo(b.Width() / 2, b.Height() / 2);
        b.Canvas().LineTo(b.Width() / 2, b.Height() / 2 + 1);
        QCOMPARE(marks().size(), std::size_t(0));
        b.Canvas().Pen().SetColor(clBlack);
        b.Canvas().Pen().SetWidth(1);
        StrokeState = TStrokeState{};
        frmPalitra->rb1->click();
        frmPalitra->tl->SetText(QStringLiteral("1"));
        frmPalitra->tl2->SetText(QStringLiteral("10"));
        frmPalitra->sColor->SetBrushColor(clBlack);
    }

    void aPencilClickWithoutAMoveDrawsNothing()
    {
        down(50, 50);
        up(50, 50);
        QVERIFY(marks().empty());
        QVERIFY(!StrokeState.Drawing);
    }

    void aThinPencilChainLeavesItsLastPointUndrawn()
    {
        down(10, 10);
        move(20, 10);
        move(20, 20);
        up(20, 20);
        for (int x = 10; x < 20; ++x)
            QVERIFY2(!white(x, 10), qPrintable(QString::number(x)));
        for (int y = 10; y < 20; ++y)
            QVERIFY(!white(20, y));
        QVERIFY(white(20, 20));
        QCOMPARE(marks().size(), std::size_t(20));
    }

    void aThickPencilChainIsRoundAndCoversItsLastPoint()
    {
        frmPalitra->tl->SetText(QStringLiteral("3"));
        down(100, 100);
        move(120, 100);
        move(120, 120);
        up(120, 120);
        QVERIFY(!white(120, 120));
        QVERIFY(!white(121, 121)); // the end disc of diameter 3
        QVERIFY(white(122, 120));
        QVERIFY(white(120, 122));
        QVERIFY(!white(99, 100)); // the start is round too
        QVERIFY(white(100, 98));
    }

    void thePencilReadsTheThicknessAtEveryMove()
    {
        down(50, 200);
        move(100, 200); // width 1
        frmPalitra->tl->SetText(QStringLiteral("9"));
        move(150, 200); // width 9
        up(150, 200);
        QVERIFY(white(75, 197) && white(75, 203));
        QVERIFY(!white(125, 196) && !white(125, 204));
        QVERIFY(white(125, 195) && white(125, 205));
    }

    void theLineToolDrawsOnTheSecondClickWithTheThicknessShownThen()
    {
        frmPalitra->rb3->click();
        down(300, 300);
        QVERIFY(marks().empty());
        QVERIFY(StrokeState.LineAnchorSet);
        QVERIFY(!StrokeState.Drawing);
        move(310, 310); // the line tool never draws on a move
        up(310, 310);
        QVERIFY(marks().empty());
        frmPalitra->tl->SetText(QStringLiteral("5"));
        down(400, 300);
        up(400, 300);
        QVERIFY(!StrokeState.LineAnchorSet);
        QVERIFY(!white(350, 298) && !white(350, 302));
        QVERIFY(white(350, 297) && white(350, 303));
        QVERIFY(!white(400, 300)); // covered by the round end at width 5
    }

    void aPendingFirstPointSurvivesAToolSwitch()
    {
        frmPalitra->rb3->click();
        down(30, 400);
        up(30, 400);
        frmPalitra->rb1->click();
        down(200, 450);
        move(210, 450);
        up(210, 450);
        frmPalitra->rb2->click();
        frmPalitra->rb3->click();
        down(130, 400);
        up(130, 400);
        for (int x = 30; x < 130; ++x)
            QVERIFY(!white(x, 400));
    }

    void aDoubleClickWithTheLineToolTakesBothPointsThere()
    {
        frmPalitra->rb3->click();
        // What the window system delivers for a double-click: press, release,
        // then the second press as a double-click, release.
        QWidget *image = Form1->Image1;
        QTest::mousePress(image, Qt::LeftButton, {}, QPoint(60, 60));
        QTest::mouseRelease(image, Qt::LeftButton, {}, QPoint(60, 60));
        QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(60, 60), image->mapToGlobal(QPointF(60, 60)),
                        Qt::LeftButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(image, &dbl);
        QTest::mouseRelease(image, Qt::LeftButton, {}, QPoint(60, 60));
        QVERIFY(!StrokeState.LineAnchorSet); // two presses: first point, then the line
        QCOMPARE(StrokeState.LineAnchor, (Point{60, 60}));
        QVERIFY(marks().empty()); // a one-pixel line from a point to itself is empty
    }

    void aRightPressDuringAStrokeOpensTheOptionsAndItsReleaseEndsTheStroke()
    {
        frmPalitra->Hide();
        down(10, 300);
        move(20, 300);
        down(20, 300, mbRight);
        QVERIFY(frmPalitra->isVisible());
        QVERIFY(StrokeState.Drawing); // the press alone touches nothing
        up(20, 300, mbRight);
        QVERIFY(!StrokeState.Drawing);
        move(60, 300); // the left button is still held: nothing more
        QVERIFY(white(40, 300));
        up(60, 300);
    }

    void outOfRangeThicknessTextsAreUsedAsTheyRead()
    {
        // 0 reads as 0 and draws like 1.
        frmPalitra->tl->SetText(QStringLiteral("0"));
        down(10, 500);
        move(60, 500);
        up(60, 500);
        QVERIFY(!white(30, 500) && white(30, 501) && white(30, 499));
        // -5: the width request is ignored, the last width (0) stays.
        frmPalitra->tl->SetText(QStringLiteral("-5"));
        down(10, 520);
        move(60, 520);
        up(60, 520);
        QVERIFY(!white(30, 520) && white(30, 521));
        QCOMPARE(picture().Canvas().Pen().Width(), 0);
        // 500 reads as 500: a stroke wider than the field allows, clipped.
        frmPalitra->tl->SetText(QStringLiteral("500"));
        down(400, 100);
        move(401, 100);
        up(401, 100);
        QCOMPARE(picture().Canvas().Pen().Width(), 500);
        QVERIFY(!white(400, 340) && !white(160, 100));
        QVERIFY(white(400, 360));
    }

    void theFirstSprayMoveOfARunLandsItsDotsExactly()
    {
        RandomSeed = 0;
        frmPalitra->rb2->click();
        frmPalitra->sColor->SetBrushColor(clRed);
        down(200, 200);
        QVERIFY(marks().empty()); // a press alone sprays nothing
        move(200, 200);
        up(200, 200);
        // The first two dots, and then every dot of the move from the
        // generator's sequence: vertical offset from the first two draws,
        // horizontal from the next two.
        QCOMPARE(picture().Pixel(206, 200), clRed);
        QCOMPARE(picture().Pixel(202, 196), clRed);
        std::uint32_t seed = 0;
        auto next = [&seed](std::uint32_t n) {
            seed = seed * 0x08088405u + 1u;
            return int((std::uint64_t(seed) * n) >> 32);
        };
        std::set<std::pair<int, int>> expected;
        for (int i = 0; i < 33; ++i) {
            const int r1 = next(10), r2 = next(10), r3 = next(10), r4 = next(10);
            expected.insert({200 + r3 - r4, 200 + r1 - r2});
        }
        QCOMPARE(marks(), expected);
        QCOMPARE(RandomSeed, seed);
        for (const auto &[x, y] : expected)
            QCOMPARE(picture().Pixel(x, y), clRed);
    }

    void radiiOfOneAndZeroPutEveryDotOnThePointer()
    {
        frmPalitra->rb2->click();
        for (const char *radius : {"1", "0"}) {
            init();
            frmPalitra->rb2->click();
            frmPalitra->tl2->SetText(QString::fromLatin1(radius));
            down(77, 88);
            move(77, 88);
            up(77, 88);
            QCOMPARE(marks(), (std::set<std::pair<int, int>>{{77, 88}}));
        }
    }

    void hugeAndNegativeRadiiSprayWithoutHarm()
    {
        frmPalitra->rb2->click();
        for (const char *radius : {"-5", "2147483647", "-2147483648"}) {
            frmPalitra->tl2->SetText(QString::fromLatin1(radius));
            const std::uint32_t before = RandomSeed;
            down(100, 100);
            for (int i = 0; i < 50; ++i)
                move(100 + i, 100);
            up(150, 100);
            // 132 draws per move, whatever the radius.
            std::uint32_t seed = before;
            for (int i = 0; i < 50 * 132; ++i)
                seed = seed * 134775813u + 1u;
            QCOMPARE(RandomSeed, seed);
        }
    }

    void theSprayUsesAMixedColourAtOnceThePencilOnlyAfterClose()
    {
        frmPalitra->Show();
        frmPalitra->R->setValue(255); // mixed: red, the window still open
        QCOMPARE(frmPalitra->sColor->BrushColor(), clRed);
        down(10, 50);
        move(50, 50);
        up(50, 50);
        QCOMPARE(picture().Pixel(30, 50), clBlack);
        frmPalitra->rb2->click();
        frmPalitra->tl2->SetText(QStringLiteral("1"));
        down(300, 50);
        move(300, 50);
        up(300, 50);
        QCOMPARE(picture().Pixel(300, 50), clRed);
        frmPalitra->rb1->click();
        frmPalitra->SpeedButton1Click();
        QVERIFY(!frmPalitra->isVisible());
        down(10, 70);
        move(50, 70);
        up(50, 70);
        QCOMPARE(picture().Pixel(30, 70), clRed);
        frmPalitra->R->setValue(0);
        frmPalitra->SpeedButton1Click();
    }

    void aSprayMoveRepaintsOnceAndOnlyAroundTheDots()
    {
        frmPalitra->rb2->click();
        QCoreApplication::processEvents();
        PaintCounter counter;
        Form1->Image1->installEventFilter(&counter);
        down(500, 300);
        move(500, 300);
        QTRY_COMPARE(counter.paints, 1);
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 1);
        QVERIFY2(QRect(491, 291, 19, 19).contains(counter.last), qPrintable(QString("%1,%2 %3x%4").arg(counter.last.x()).arg(counter.last.y()).arg(counter.last.width()).arg(counter.last.height())));
        up(500, 300);
        Form1->Image1->removeEventFilter(&counter);
    }

    void movesFarOutsideThePictureDrawOnlyTheVisiblePart()
    {
        frmPalitra->tl->SetText(QStringLiteral("3"));
        down(50, 50);
        move(-100000, 50); // dragged off the screen, under the capture
        move(INT_MIN, INT_MAX);
        up(INT_MIN, INT_MAX);
        for (int x = 0; x < 50; ++x)
            QVERIFY(!white(x, 50));
    }

    void anErrorBoxEndsTheStrokeInProgress()
    {
        down(10, 10);
        QVERIFY(StrokeState.Drawing);
        Form1->CancelMode();
        QVERIFY(!StrokeState.Drawing);
        move(40, 10);
        QVERIFY(marks().empty());
    }
};

SKARVEL_WIDGET_TEST_MAIN(DrawingTest)
#include "drawing_widget_test.moc"
