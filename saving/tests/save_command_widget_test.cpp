#include <QFileDialog>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include "canvas/errors.h"
#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "platform/platform.h"
#include "saving/bmp_writer.h"
#include "saving/save_command.h"
#include "saving/tests/bmp_reader.h"
#include "saving/tsave_dialog.h"
#include "shell/tests/widget_test.h"

// The save command and its dialog on their own: a picture, a dialog set up
// as the options window sets up its own, and a window the dialog is placed
// over.
namespace {

std::vector<std::uint8_t> fileBytes(const QString &path) { return testbmp::readFile(path.toStdString()); }

} // namespace

class SaveCommandTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QList<platform::SaveDialogRequest> requests;
    std::optional<QString> answer;
    TBitmap picture_{PixelFormat::pf24bit};
    bmp::DibDescription converted_;
    TSaveDialog dialog;
    QWidget anchor;
    // The error the last save raised; empty when it raised none.
    QString error;

    TBitmap &picture() { return picture_; }
    QString path(const QString &name) const { return dir.filePath(name); }

    // What "Сохранить как..." does: the command with the picture and the dialog.
    void clickSaveAs()
    {
        error.clear();
        try {
            saveCommand(picture_, converted_, dialog);
        } catch (const Exception &e) {
            error = QString::fromStdString(e.Message());
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        dialog.Title = QStringLiteral("Сохранить рисунок рабочего стола");
        dialog.Filter = QStringLiteral("Bitmaps (*.bmp)|*.bmp");
        dialog.Anchor = &anchor;
        anchor.resize(300, 200);
        anchor.show();
        picture_.SetWidth(320);
        picture_.SetHeight(200);
        TCanvas &canvas = picture_.Canvas();
        canvas.Pen().SetColor(clRed);
        canvas.Pen().SetWidth(5);
        canvas.MoveTo(10, 10);
        canvas.LineTo(200, 120);
    }

    void init()
    {
        requests.clear();
        platform::setSaveDialogHook([this](const platform::SaveDialogRequest &r) {
            requests.append(r);
            return answer;
        });
    }

    void cleanup()
    {
        platform::setSaveDialogHook({});
    }

    void savesThePictureWithBmpAddedAndRemembersTheNameAsReturned()
    {
        const QString chosen = path(QStringLiteral("desk"));
        answer = chosen;
        dialog.InitialDir = QStringLiteral("/somewhere"); // emptied before every showing
        clickSaveAs();

        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].title, QStringLiteral("Сохранить рисунок рабочего стола"));
        QCOMPARE(requests[0].filter, QStringLiteral("Bitmaps (*.bmp)|*.bmp"));
        QCOMPARE(requests[0].initialDir, QString());
        QCOMPARE(requests[0].defaultExt, QString());
        QCOMPARE(error, QString());

        QVERIFY(QFileInfo::exists(chosen + QStringLiteral(".bmp")));
        QVERIFY(!QFileInfo::exists(chosen));
        const testbmp::Parsed parsed = testbmp::parse(fileBytes(chosen + QStringLiteral(".bmp")));
        QCOMPARE(parsed.error, std::string());
        QCOMPARE(parsed.width, picture().Width());
        QCOMPARE(parsed.height, picture().Height());
        QCOMPARE(int(parsed.bitCount), picture().BitsPerPixel());
        QCOMPARE(parsed.at(100, 63), picture().Pixel(100, 63));
        QCOMPARE(parsed.at(100, 63), clRed);

        // The dialog keeps the name it returned, without ".bmp", and offers it
        // next time; the next save replaces the file without a question.
        QCOMPARE(dialog.FileName, chosen);
        answer = chosen;
        clickSaveAs();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[1].fileName, chosen);
        QCOMPARE(error, QString());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("desk.bmp")});
    }

    void namesWithAnExtensionAreKeptAsTheyAre_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("upper-case BMP") << QStringLiteral("upper.BMP");
        QTest::newRow("other extension") << QStringLiteral("picture.png");
        QTest::newRow("lone dot") << QStringLiteral("dot.");
        QTest::newRow("Cyrillic with spaces") << QStringLiteral("Мой рабочий стол.bmp");
    }
    void namesWithAnExtensionAreKeptAsTheyAre()
    {
        QFETCH(QString, name);
        answer = path(name);
        clickSaveAs();
        QCOMPARE(error, QString());
        QVERIFY2(QFileInfo::exists(path(name)), qPrintable(name));
        QCOMPARE(fileBytes(path(name)), bmp::encode(picture()));
        QVERIFY(!QFileInfo::exists(path(name) + QStringLiteral(".bmp")));
    }

    void cancelWritesNothingShowsNothingAndKeepsTheName()
    {
        answer = path(QStringLiteral("kept"));
        clickSaveAs();
        const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        answer.reset();
        clickSaveAs();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[1].fileName, path(QStringLiteral("kept")));
        QCOMPARE(error, QString());
        QCOMPARE(dialog.FileName, path(QStringLiteral("kept")));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
    }

    void missingFolderRaisesCannotCreateFile()
    {
        const QString chosen = path(QStringLiteral("нет папки/x"));
        answer = chosen;
        clickSaveAs();
        QCOMPARE(error, QStringLiteral("Cannot create file ") + chosen + QStringLiteral(".bmp"));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("нет папки"))));
    }

    // A name pasted from a terminal brings its line break along; other
    // control characters make no file at all.
    void controlCharactersInTheName_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved"); // empty: refused
        QTest::newRow("trailing LF") << QStringLiteral("pic\n") << QStringLiteral("pic.bmp");
        QTest::newRow("trailing CR LF") << QStringLiteral("crlf.bmp\r\n") << QStringLiteral("crlf.bmp");
        QTest::newRow("LF inside") << QStringLiteral("a\nb") << QString();
        QTest::newRow("tab") << QStringLiteral("a\tb") << QString();
        QTest::newRow("DEL") << QStringLiteral("a\x7f") << QString();
        QTest::newRow("escape before a trailing LF") << QStringLiteral("\x1b[0m\n") << QString();
    }
    void controlCharactersInTheName()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        answer = path(typed);
        clickSaveAs();
        const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        if (saved.isEmpty()) {
            QVERIFY2(error.startsWith(QStringLiteral("Cannot create file ") + dir.path() + QLatin1Char('/')),
                     qPrintable(error));
            QCOMPARE(files, QStringList());
        } else {
            QCOMPARE(error, QString());
            QCOMPARE(files, QStringList{saved});
            QCOMPARE(fileBytes(path(saved)), bmp::encode(picture()));
        }
    }

    // A link whose target does not exist yet keeps pointing there: the save
    // makes the target, or, when the target's folder is missing, nothing.
    void danglingLinkIsWrittenThrough()
    {
        QDir(dir.path()).mkpath(QStringLiteral("real"));
        QVERIFY(QFile::link(QStringLiteral("real/target.bmp"), path(QStringLiteral("link.bmp"))));
        answer = path(QStringLiteral("link"));
        clickSaveAs();
        QCOMPARE(error, QString());
        QVERIFY(QFileInfo(path(QStringLiteral("link.bmp"))).isSymLink());
        QCOMPARE(fileBytes(path(QStringLiteral("real/target.bmp"))), bmp::encode(picture()));

        QVERIFY(QFile::link(QStringLiteral("gone/target.bmp"), path(QStringLiteral("nowhere.bmp"))));
        answer = path(QStringLiteral("nowhere"));
        clickSaveAs();
        QCOMPARE(error, QStringLiteral("Cannot create file ") + path(QStringLiteral("nowhere.bmp")));
        QVERIFY(QFileInfo(path(QStringLiteral("nowhere.bmp"))).isSymLink());
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("gone"))));
    }

    void aSecondSaveWithoutDrawingDoesNotConvertAgain()
    {
        answer = path(QStringLiteral("first"));
        clickSaveAs();
        const int conversions = converted_.conversions;
        answer = path(QStringLiteral("second"));
        clickSaveAs();
        QCOMPARE(converted_.conversions, conversions);
        QCOMPARE(fileBytes(path(QStringLiteral("first.bmp"))), fileBytes(path(QStringLiteral("second.bmp"))));

        picture_.Canvas().SetPixel(1, 1, clBlue);
        answer = path(QStringLiteral("third"));
        clickSaveAs();
        QCOMPARE(converted_.conversions, conversions + 1);
        QCOMPARE(testbmp::parse(fileBytes(path(QStringLiteral("third.bmp")))).at(1, 1), picture().Pixel(1, 1));
    }

    // The folder the dialog was showing is removed from outside before the
    // name is typed: the file goes where the person meant it, or nowhere.
    void vanishedFolderOfTheRealDialog()
    {
        platform::setSaveDialogHook({});
        QDir(dir.path()).mkpath(QStringLiteral("x/photos"));
        const QString folder = path(QStringLiteral("x/photos"));
        whenDialogOpen([&](QFileDialog *fd) {
            auto *edit = fd->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            edit->setText(folder);
            QTest::keyClick(edit, Qt::Key_Return);
            QDir(folder).removeRecursively();
            QTest::keyClicks(edit, QStringLiteral("pic"));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        clickSaveAs();
        QCOMPARE(error, QStringLiteral("Cannot create file ") + folder + QStringLiteral("/pic.bmp"));
        QCOMPARE(QDir(path(QStringLiteral("x"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // The platform's own dialog, without the test's hook. What it shows is
    // noted while it is open and checked once it has closed, so that a
    // failing check cannot leave the dialog waiting.
    void realDialogIsPlacedModalAndAddsNothing()
    {
        platform::setSaveDialogHook({});
        const QString typed = path(QStringLiteral("набранное имя"));
        dialog.FileName = path(QStringLiteral("offered"));

        struct Seen {
            bool found = false;
            QString title, offered, suffix;
            QStringList filters;
            bool noOverwriteQuestion = false, save = false;
            Qt::WindowModality modality = Qt::NonModal;
            QPoint at, expected;
        } seen;
        whenDialogOpen([&](QFileDialog *fd) {
            seen.found = true;
            seen.title = fd->windowTitle();
            seen.filters = fd->nameFilters();
            seen.suffix = fd->defaultSuffix();
            seen.noOverwriteQuestion = fd->testOption(QFileDialog::DontConfirmOverwrite);
            seen.save = fd->acceptMode() == QFileDialog::AcceptSave;
            seen.modality = fd->windowModality();
            const QRect monitor = anchor.screen()->geometry();
            const QSize outer = fd->frameGeometry().size();
            seen.at = fd->frameGeometry().topLeft();
            seen.expected = QPoint(monitor.x() + (monitor.width() - outer.width()) / 2,
                                   monitor.y() + (monitor.height() - outer.height()) / 3);
            auto *edit = fd->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (!edit) {
                fd->reject();
                return;
            }
            seen.offered = edit->text();
            edit->setText(typed);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        const bool accepted = dialog.Execute();
        QVERIFY(seen.found);
        QCOMPARE(seen.title, QStringLiteral("Сохранить рисунок рабочего стола"));
        QCOMPARE(seen.filters, QStringList{QStringLiteral("Bitmaps (*.bmp)")});
        QCOMPARE(seen.suffix, QString());
        QVERIFY(seen.noOverwriteQuestion);
        QVERIFY(seen.save);
        QCOMPARE(seen.modality, Qt::ApplicationModal);
        QCOMPARE(seen.at, seen.expected);
        QCOMPARE(seen.offered, QStringLiteral("offered"));
        QVERIFY(accepted);
        QCOMPARE(dialog.FileName, typed);

        // Closed without a name: false, and the name stays.
        whenDialogOpen([](QFileDialog *fd) { fd->reject(); });
        QVERIFY(!dialog.Execute());
        QCOMPARE(dialog.FileName, typed);
    }

private:
    // Calls `f` once the real save dialog is up (gives up after ten seconds).
    void whenDialogOpen(std::function<void(QFileDialog *)> f)
    {
        auto *poll = new QTimer(this);
        auto tries = std::make_shared<int>(0);
        connect(poll, &QTimer::timeout, this, [poll, tries, f] {
            auto *fd = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (fd && fd->isVisible()) {
                poll->deleteLater();
                poll->stop();
                f(fd);
            } else if (++*tries > 1000) {
                poll->stop();
                poll->deleteLater();
            }
        });
        poll->start(10);
    }
};

SKARVEL_WIDGET_TEST_MAIN(SaveCommandTest)
#include "save_command_widget_test.moc"
