// A window with a line edit: e2e_qt_probe <title>. It prints what was typed
// when Return is pressed and exits with 0 when its window is closed.

#include <QApplication>
#include <QLineEdit>
#include <QTextStream>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QLineEdit edit;
    edit.setWindowTitle(argc > 1 ? QString::fromUtf8(argv[1]) : QStringLiteral("probe"));
    edit.resize(300, 40);
    QObject::connect(&edit, &QLineEdit::returnPressed, [&] {
        QTextStream(stdout) << "typed: [" << edit.text() << "]" << Qt::endl;
        edit.clear();
    });
    edit.show();
    return app.exec();
}
