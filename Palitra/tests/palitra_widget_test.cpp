#include <QtTest/QtTest>

#include <QClipboard>
#include <QElapsedTimer>
#include <QToolTip>

#include "Palitra/hint_timing.h"
#include "Palitra/palitra.h"
#include "SkarvelKod/skarvel_kod.h"
#include "SkarvelKod/timage.h"
#include "canvas/tcanvas.h"
#include "platform/platform.h"
#include "app/program.h"
#include "shell/tests/widget_test.h"

namespace {

QPoint middleOf(const QWidget *w) { return w->rect().center(); }

} // namespace

class PalitraTest : public QObject {
    Q_OBJECT
    int beeps = 0;

    void showAndFocus(QWidget *target = nullptr)
    {
        frmPalitra->Show();
        QVERIFY(QTest::qWaitForWindowActive(frmPalitra));
        if (target) {
            target->setFocus(Qt::OtherFocusReason);
            QTRY_VERIFY(target->hasFocus());
        }
    }

    // Back to the state of the layout between tests.
    void resetWindow()
    {
        frmPalitra->rb1->setChecked(true);
        frmPalitra->tl->SetText(QStringLiteral("1"));
        frmPalitra->tl2->SetText(QStringLiteral("10"));
    }

    QWidget *focused() const
    {
        QWidget *w = QApplication::focusWidget();
        for (QWidget *c : {static_cast<QWidget *>(frmPalitra->tl), static_cast<QWidget *>(frmPalitra->tl2)})
            if (w && c->isAncestorOf(w))
                return c;
        return w;
    }

    void typeInto(TSpinEdit *field, const QString &text)
    {
        field->Editor()->selectAll();
        QTest::keyClicks(field->Editor(), text);
    }

private slots:
    void initTestCase()
    {
        app::createForms();
        QVERIFY(frmPalitra);
        Form1->Show();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        platform::setBeepHook([this] { ++beeps; });
    }
    void init() { beeps = 0; }
    void cleanup()
    {
        frmPalitra->Hide();
        passActivationToTheSurface();
        resetWindow();
    }

private:
    // What the window system does when the active options window hides.
    void passActivationToTheSurface()
    {
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
    }

private slots:

    void isCreatedHiddenAfterTheSurfaceWithItsLayoutState()
    {
        const auto &forms = Application->Forms();
        QVERIFY(forms.indexOf(frmPalitra) > forms.indexOf(Form1));
        QCOMPARE(forms.last().data(), frmPalitra);
        QVERIFY(!frmPalitra->IsMainForm());
        QVERIFY(!frmPalitra->isVisible());
        QCOMPARE(frmPalitra->windowTitle(), QStringLiteral("Опции"));
        QCOMPARE(frmPalitra->size(), QSize(208, 300));
        QCOMPARE(frmPalitra->minimumSize(), frmPalitra->maximumSize());
        QCOMPARE(frmPalitra->pos(), QPoint(152, 120));
        const Qt::WindowFlags flags = frmPalitra->windowFlags();
        QVERIFY(flags & Qt::WindowTitleHint);
        QVERIFY(!(flags & (Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint | Qt::WindowSystemMenuHint)));

        QCOMPARE(frmPalitra->sColor->BrushColor(), clBlack);
        for (QScrollBar *bar : {frmPalitra->R, frmPalitra->G, frmPalitra->B}) {
            QCOMPARE(bar->value(), 0);
            QCOMPARE(bar->maximum(), 255);
            QVERIFY(bar->toolTip().isEmpty());
        }
        QVERIFY(frmPalitra->rb1->isChecked());
        QVERIFY(!frmPalitra->rb2->isChecked() && !frmPalitra->rb3->isChecked());
        QCOMPARE(frmPalitra->tl->Text(), QStringLiteral("1"));
        QVERIFY(frmPalitra->tl->isEnabled());
        QCOMPARE(frmPalitra->tl2->Text(), QStringLiteral("10"));
        QVERIFY(!frmPalitra->tl2->isEnabled());
        QCOMPARE(frmPalitra->SPD_Skarvel->Title, QStringLiteral("Сохранить рисунок рабочего стола"));
        QCOMPARE(frmPalitra->SPD_Skarvel->Filter, QStringLiteral("Bitmaps (*.bmp)|*.bmp"));

        // Exactly seven controls carry a hint of their own.
        QStringList hinted;
        for (QWidget *w : frmPalitra->findChildren<QWidget *>())
            if (w->toolTipDuration() == THintStyle::HideAfter)
                hinted << w->objectName();
        hinted.sort();
        QCOMPARE(hinted, (QStringList{"B", "G", "R", "im1", "im2", "im3", "sColor"}));
        QCOMPARE(frmPalitra->sColor->toolTip(), QStringLiteral("Цвет"));
        QCOMPARE(frmPalitra->im2->toolTip(), QStringLiteral("Распылитель"));
    }

    // Before anything else has shown the window.
    void theFirstActivationFocusesTheFirstSlider()
    {
        showAndFocus();
        QTRY_COMPARE(focused(), frmPalitra->R);
    }

    void aNonPrimaryPressOnTheSurfaceShowsTheWindow()
    {
        Form1->FormMouseDown(mbLeft, {}, 10, 10);
        QVERIFY(!frmPalitra->isVisible());
        Form1->FormMouseDown(mbRight, {}, 10, 10);
        QVERIFY(frmPalitra->isVisible());
        frmPalitra->Hide();
        passActivationToTheSurface();
        Form1->FormMouseDown(mbMiddle, {}, 10, 10);
        QVERIFY(frmPalitra->isVisible());
    }

    void theMixerPacksAllThreeSlidersAndSetsEveryHint()
    {
        showAndFocus(frmPalitra->G);
        QTest::keyClick(frmPalitra->G, Qt::Key_Down);
        QCOMPARE(frmPalitra->sColor->BrushColor(), ColorRef(0x00000100));
        QCOMPARE(frmPalitra->R->toolTip(), QStringLiteral("0"));
        QCOMPARE(frmPalitra->G->toolTip(), QStringLiteral("1"));
        QCOMPARE(frmPalitra->B->toolTip(), QStringLiteral("0"));

        frmPalitra->G->setValue(0);
        frmPalitra->B->setValue(255);
        QCOMPARE(frmPalitra->sColor->BrushColor(), clBlue);
        QCOMPARE(frmPalitra->B->toolTip(), QStringLiteral("255"));
        QCOMPARE(frmPalitra->G->toolTip(), QStringLiteral("0"));
        frmPalitra->R->setValue(255);
        frmPalitra->G->setValue(255);
        QCOMPARE(frmPalitra->sColor->BrushColor(), clWhite);
        frmPalitra->R->setValue(0);
        frmPalitra->G->setValue(0);
        frmPalitra->B->setValue(0);
        QCOMPARE(frmPalitra->sColor->BrushColor(), clBlack);
    }

    void everySliderActionMovesByOne()
    {
        TScrollBar *bar = frmPalitra->B;
        showAndFocus(bar);
        bar->setValue(10);
        struct Step {
            Qt::Key key;
            int expected;
        } steps[] = {
            {Qt::Key_Down, 11},    {Qt::Key_Right, 12}, {Qt::Key_Up, 11}, {Qt::Key_Left, 10},
            {Qt::Key_PageDown, 11}, {Qt::Key_PageUp, 10}, {Qt::Key_End, 255}, {Qt::Key_Down, 255},
            {Qt::Key_Home, 0},     {Qt::Key_Up, 0},
        };
        for (const Step &s : steps) {
            QTest::keyClick(bar, s.key);
            QCOMPARE(bar->value(), s.expected);
        }
        // A click in the trough below the thumb is one step, not a page.
        bar->setValue(100);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 20));
        QCOMPARE(bar->value(), 101);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, 20));
        QCOMPARE(bar->value(), 100);
        bar->setValue(0);
    }

    void aSliderThatDoesNotMoveRaisesNoChange()
    {
        // At 0 the upper arrow and Home change nothing, so the hints stay as
        // the last change left them.
        frmPalitra->R->setValue(3);
        frmPalitra->R->setValue(0);
        frmPalitra->G->setToolTip(QStringLiteral("marker"));
        showAndFocus(frmPalitra->R);
        QTest::keyClick(frmPalitra->R, Qt::Key_Home);
        QTest::keyClick(frmPalitra->R, Qt::Key_Up);
        QCOMPARE(frmPalitra->G->toolTip(), QStringLiteral("marker"));
        frmPalitra->RChange();
    }

    void theRadioButtonsEnableTheFieldTheirToolUses()
    {
        showAndFocus();
        QTest::mouseClick(frmPalitra->rb2, Qt::LeftButton, {}, middleOf(frmPalitra->rb2));
        QVERIFY(frmPalitra->rb2->isChecked() && !frmPalitra->rb1->isChecked());
        QVERIFY(frmPalitra->tl2->isEnabled());
        QVERIFY(!frmPalitra->tl->isEnabled());
        QTest::mouseClick(frmPalitra->rb3, Qt::LeftButton, {}, middleOf(frmPalitra->rb3));
        QVERIFY(frmPalitra->tl->isEnabled());
        QVERIFY(!frmPalitra->tl2->isEnabled());

        // Clicking the checked button runs nothing: a handler would disable tl2 again.
        frmPalitra->tl2->setEnabled(true);
        QTest::mouseClick(frmPalitra->rb3, Qt::LeftButton, {}, middleOf(frmPalitra->rb3));
        QVERIFY(frmPalitra->rb3->isChecked());
        QVERIFY(frmPalitra->tl2->isEnabled());
        frmPalitra->tl2->setEnabled(false);

        QTest::mouseClick(frmPalitra->rb1, Qt::LeftButton, {}, middleOf(frmPalitra->rb1));
        QVERIFY(frmPalitra->tl->isEnabled() && !frmPalitra->tl2->isEnabled());
        // The pictures choose nothing.
        QTest::mouseClick(frmPalitra->im2, Qt::LeftButton, {}, middleOf(frmPalitra->im2));
        QVERIFY(frmPalitra->rb1->isChecked());
    }

    void tabFollowsTheLayoutAndSkipsADisabledField()
    {
        showAndFocus(frmPalitra->R);
        QList<QWidget *> visited;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << focused();
        }
        QCOMPARE(visited, (QList<QWidget *>{frmPalitra->G, frmPalitra->B, frmPalitra->tl, frmPalitra->rb1,
                                            frmPalitra->R}));
        visited.clear();
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            visited << focused();
        }
        QCOMPARE(visited, (QList<QWidget *>{frmPalitra->rb1, frmPalitra->tl, frmPalitra->B, frmPalitra->G,
                                            frmPalitra->R}));

        // With the spray the radius field and rb2 are in the round instead.
        frmPalitra->rb2->setChecked(true);
        QCOMPARE(frmPalitra->TabOrder(), (QList<QWidget *>{frmPalitra->R, frmPalitra->G, frmPalitra->B,
                                                           frmPalitra->tl2, frmPalitra->rb2}));
    }

    void arrowKeysOnTheRadioButtonsMoveTheFocusAndCheck()
    {
        showAndFocus(frmPalitra->rb1);
        QTest::keyClick(frmPalitra->rb1, Qt::Key_Right);
        QCOMPARE(focused(), frmPalitra->rb2);
        QVERIFY(frmPalitra->rb2->isChecked());
        QVERIFY(frmPalitra->tl2->isEnabled() && !frmPalitra->tl->isEnabled());

        QTest::keyClick(frmPalitra->rb2, Qt::Key_Down);
        QCOMPARE(focused(), frmPalitra->rb3);
        QVERIFY(frmPalitra->rb3->isChecked());
        QVERIFY(frmPalitra->tl->isEnabled() && !frmPalitra->tl2->isEnabled());

        // Past the last control the focus wraps round to the first field that
        // is enabled, skipping the disabled radius field on the way back.
        QTest::keyClick(frmPalitra->rb3, Qt::Key_Right);
        QCOMPARE(focused(), frmPalitra->tl);
        QVERIFY(frmPalitra->rb3->isChecked());

        frmPalitra->rb1->setFocus(Qt::MouseFocusReason);
        QTest::mouseClick(frmPalitra->rb1, Qt::LeftButton, {}, middleOf(frmPalitra->rb1));
        QTest::keyClick(frmPalitra->rb1, Qt::Key_Left);
        QCOMPARE(focused(), frmPalitra->tl);
        QTest::keyClick(frmPalitra->tl->Editor(), Qt::Key_Tab);
        QTest::keyClick(frmPalitra->rb1, Qt::Key_Up);
        QCOMPARE(focused(), frmPalitra->tl);
        QVERIFY(frmPalitra->rb1->isChecked());
    }

    void upAndDownStepFromTheTextRead()
    {
        TSpinEdit *tl = frmPalitra->tl;
        showAndFocus(tl);
        tl->SetText(QString());
        QTest::keyClick(tl->Editor(), Qt::Key_Up);
        QCOMPARE(tl->Text(), QStringLiteral("2"));
        tl->SetText(QString());
        QTest::keyClick(tl->Editor(), Qt::Key_Down);
        QCOMPARE(tl->Text(), QStringLiteral("1"));
        tl->SetText(QStringLiteral("500"));
        QTest::keyClick(tl->Editor(), Qt::Key_Up);
        QCOMPARE(tl->Text(), QStringLiteral("100"));
        tl->SetText(QStringLiteral("2147483647"));
        QTest::keyClick(tl->Editor(), Qt::Key_Up);
        QCOMPARE(tl->Text(), QStringLiteral("100"));
        tl->SetText(QStringLiteral("-2147483648"));
        QTest::keyClick(tl->Editor(), Qt::Key_Down);
        QCOMPARE(tl->Text(), QStringLiteral("1"));
        QCOMPARE(beeps, 0);
    }

    void leavingForAnotherControlClampsButTheCloseCommandDoesNot()
    {
        TSpinEdit *tl = frmPalitra->tl;
        showAndFocus(tl);
        typeInto(tl, QStringLiteral("500"));
        QCOMPARE(tl->Text(), QStringLiteral("500"));
        QCOMPARE(tl->Value(), 500); // reading never clamps
        QTest::keyClick(tl->Editor(), Qt::Key_Tab);
        QCOMPARE(tl->Text(), QStringLiteral("100"));

        showAndFocus(tl);
        typeInto(tl, QStringLiteral("0"));
        QTest::mouseClick(frmPalitra->rb1, Qt::LeftButton, {}, middleOf(frmPalitra->rb1));
        QCOMPARE(tl->Text(), QStringLiteral("1"));

        // Unreadable text reads as 1, which is in range: it stays.
        const QString withSeparator = QStringLiteral("1") + QLocale().decimalPoint() + QStringLiteral("5");
        showAndFocus(tl);
        typeInto(tl, withSeparator);
        QTest::keyClick(tl->Editor(), Qt::Key_Tab);
        QCOMPARE(tl->Text(), withSeparator);
        QCOMPARE(tl->Value(), 1);

        // The flat buttons take no focus: the text stays and is read as it is.
        frmPalitra->B->setValue(255);
        showAndFocus(tl);
        typeInto(tl, QStringLiteral("500"));
        QTest::mouseClick(frmPalitra->SpeedButton1, Qt::LeftButton, {}, middleOf(frmPalitra->SpeedButton1));
        QVERIFY(!frmPalitra->isVisible());
        passActivationToTheSurface();
        QCOMPARE(tl->Text(), QStringLiteral("500"));
        QCOMPARE(tl->Value(), 500);
        QCOMPARE(Form1->Image1->Canvas().Pen().Color(), clBlue);
        frmPalitra->B->setValue(0);
    }

    void aCloseRequestHidesWithoutHandingTheColourOver()
    {
        Form1->Image1->Canvas().Pen().SetColor(clBlack);
        showAndFocus();
        frmPalitra->G->setValue(255);
        frmPalitra->close();
        QVERIFY(!frmPalitra->isVisible());
        QVERIFY(!Application->Terminated());
        QCOMPARE(Form1->Image1->Canvas().Pen().Color(), clBlack);
        frmPalitra->G->setValue(0);
    }

    void rejectedCharactersBeepAndChangeNothing()
    {
        TSpinEdit *tl = frmPalitra->tl;
        showAndFocus(tl);
        tl->SetText(QStringLiteral("12"));
        tl->Editor()->setCursorPosition(2);
        QTest::keyClicks(tl->Editor(), QStringLiteral("a x$"));
        QCOMPARE(tl->Text(), QStringLiteral("12"));
        QCOMPARE(beeps, 4);
        QTest::keyClick(tl->Editor(), Qt::Key_Return);
        QTest::keyClick(tl->Editor(), Qt::Key_Enter);
        QCOMPARE(tl->Text(), QStringLiteral("12"));
        QCOMPARE(beeps, 6);

        // The order of accepted characters is not checked.
        QTest::keyClicks(tl->Editor(), QStringLiteral("-+3"));
        QCOMPARE(tl->Text(), QStringLiteral("12-+3"));
        QCOMPARE(tl->Value(), 1);
        QTest::keyClick(tl->Editor(), Qt::Key_Backspace);
        QTest::keyClick(tl->Editor(), Qt::Key_Home);
        QTest::keyClick(tl->Editor(), Qt::Key_Delete);
        QCOMPARE(tl->Text(), QStringLiteral("2-+"));
        QCOMPARE(beeps, 6);
    }

    void pasteIsNotFilteredAndNoTextBreaksTheField()
    {
        TSpinEdit *tl = frmPalitra->tl;
        showAndFocus(tl);
        QGuiApplication::clipboard()->setText(QStringLiteral("abc"));
        tl->Editor()->selectAll();
        QTest::keySequence(tl->Editor(), QKeySequence::Paste);
        QCOMPARE(tl->Text(), QStringLiteral("abc"));
        QCOMPARE(tl->Value(), 1);
        QCOMPARE(beeps, 0);

        const QString huge = QString(10000, QLatin1Char('9'));
        QGuiApplication::clipboard()->setText(huge);
        tl->Editor()->selectAll();
        QTest::keySequence(tl->Editor(), QKeySequence::Paste);
        QCOMPARE(tl->Text(), huge);
        QCOMPARE(tl->Value(), 1);
        for (const QString &odd : {QStringLiteral("0x10"), QStringLiteral("$7FFFFFFF"), QStringLiteral("\t\r\n\x01"),
                                   QString(QChar(0)), QStringLiteral("\u202E12")}) {
            tl->SetText(odd);
            (void)tl->Value();
            tl->UpClick();
            QVERIFY(tl->Value() >= 1 && tl->Value() <= 100);
        }
    }

    void enteringByKeyboardSelectsTheText()
    {
        TSpinEdit *tl = frmPalitra->tl;
        tl->SetText(QStringLiteral("42"));
        showAndFocus(frmPalitra->B);
        QTest::keyClick(frmPalitra->B, Qt::Key_Tab);
        QCOMPARE(focused(), tl);
        QCOMPARE(tl->Editor()->selectedText(), QStringLiteral("42"));
        // A click in the text places the caret instead.
        frmPalitra->B->setFocus(Qt::OtherFocusReason);
        QTest::mouseClick(tl->Editor(), Qt::LeftButton, {}, QPoint(2, 5));
        QCOMPARE(focused(), tl);
        QVERIFY(tl->Editor()->selectedText().isEmpty());
    }

    void theArrowButtonsRepeatAfter400MsThenEvery100Ms()
    {
        TSpinEdit *tl = frmPalitra->tl;
        showAndFocus(frmPalitra->R);
        TSpinButton *up = tl->UpButton();

        // A short click: focus moves into the field and it steps once, on release.
        QTest::mousePress(up, Qt::LeftButton, {}, middleOf(up));
        QCOMPARE(focused(), tl);
        QVERIFY(up->ShownPressed());
        QCOMPARE(tl->Text(), QStringLiteral("1"));
        QTest::mouseRelease(up, Qt::LeftButton, {}, middleOf(up));
        QCOMPARE(tl->Text(), QStringLiteral("2"));

        // Held: nothing before 400 ms, then about one step every 100 ms.
        QElapsedTimer clock;
        QTest::mousePress(up, Qt::LeftButton, {}, middleOf(up));
        clock.start();
        QTest::qWait(250);
        if (clock.elapsed() < 390)
            QCOMPARE(tl->Value(), 2);
        while (clock.elapsed() < 1000)
            QTest::qWait(10);
        const int steps = tl->Value() - 2;
        QVERIFY2(steps >= 4 && steps <= 8, qPrintable(QString::number(steps)));
        QTest::mouseRelease(up, Qt::LeftButton, {}, middleOf(up));
        QCOMPARE(tl->Value(), 2 + steps + 1);

        // Off the button the steps pause and the release there adds none.
        const int before = tl->Value();
        TSpinButton *down = tl->DownButton();
        QTest::mousePress(down, Qt::LeftButton, {}, middleOf(down));
        QMouseEvent away(QEvent::MouseMove, QPointF(-30, -30), down->mapToGlobal(QPointF(-30, -30)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(down, &away);
        QVERIFY(!down->ShownPressed());
        QTest::qWait(700);
        QTest::mouseRelease(down, Qt::LeftButton, {}, QPoint(-30, -30));
        QCOMPARE(tl->Value(), before);
    }

    void theSpinFieldIsLaidOutInsideItsBorder()
    {
        TSpinEdit *tl = frmPalitra->tl;
        QCOMPARE(tl->size(), QSize(49, 22));
        QCOMPARE(tl->contentsRect(), QRect(2, 2, 45, 18));
        QCOMPARE(tl->UpButton()->geometry(), QRect(31, 2, 15, 8));
        QCOMPARE(tl->DownButton()->geometry(), QRect(31, 9, 15, 10));
        QCOMPARE(tl->Editor()->geometry(), QRect(2, 2, 28, 18));
    }

    void theArrowGlyphsAreDrawnWithoutTheirBackground()
    {
        for (const char *name : {":/palitra/SpinUp.bmp", ":/palitra/SpinDown.bmp"}) {
            const QImage raw(QString::fromLatin1(name));
            QCOMPARE(raw.size(), QSize(9, 6));
            QCOMPARE(raw.pixelColor(0, 5), QColor(128, 128, 0));
            const QImage glyph = transparentGlyph(raw);
            int opaque = 0;
            for (int y = 0; y < 6; ++y)
                for (int x = 0; x < 9; ++x) {
                    const QColor c = glyph.pixelColor(x, y);
                    if (c.alpha() != 0) {
                        QCOMPARE(c, QColor(Qt::black));
                        ++opaque;
                    }
                }
            QCOMPARE(opaque, 1 + 3 + 5 + 7);
        }
        QCOMPARE(QImage(":/palitra/SpinUp.bmp").pixelColor(4, 1), QColor(Qt::black));
        QCOMPARE(QImage(":/palitra/SpinDown.bmp").pixelColor(4, 4), QColor(Qt::black));
        for (const char *name : {":/palitra/pencil.bmp", ":/palitra/spray.bmp", ":/palitra/line.bmp"}) {
            QFile file(QString::fromLatin1(name));
            QCOMPARE(file.size(), 3126);
            const QImage glyph(QString::fromLatin1(name));
            QCOMPARE(glyph.size(), QSize(32, 32));
            QCOMPARE(glyph.pixelColor(0, 0), QColor(Qt::white));
        }
    }

    void theFocusComesBackToTheControlThatHadIt()
    {
        showAndFocus(frmPalitra->B);
        frmPalitra->Hide();
        passActivationToTheSurface();
        frmPalitra->Show();
        QVERIFY(QTest::qWaitForWindowActive(frmPalitra));
        QTRY_COMPARE(focused(), frmPalitra->B);
    }

    void hintsUseTheProgramTiming()
    {
        QStyle *style = QApplication::style();
        QCOMPARE(style->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 500);
        QCOMPARE(style->styleHint(QStyle::SH_ToolTip_FallAsleepDelay), 2500);
        showAndFocus();
        // What Qt sends once the pointer has rested: the hint of a hinted
        // control shows and a key press hides it; a slider without a hint yet
        // shows nothing.
        auto rest = [](QWidget *w) {
            QHelpEvent help(QEvent::ToolTip, w->rect().center(), w->mapToGlobal(w->rect().center()));
            QApplication::sendEvent(w, &help);
        };
        rest(frmPalitra->im2);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("Распылитель"));
        QTest::keyClick(frmPalitra, Qt::Key_Shift);
        QTRY_VERIFY(!QToolTip::isVisible());

        frmPalitra->R->setToolTip(QString());
        rest(frmPalitra->R);
        QTest::qWait(50);
        QVERIFY(!QToolTip::isVisible());
    }
};

SKARVEL_WIDGET_TEST_MAIN(PalitraTest)
#include "palitra_widget_test.moc"
