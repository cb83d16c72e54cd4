#pragma once

// The main() of a widget test: the program's own application object on Qt's
// offscreen platform, with the message box answered by the test.

#include <QtTest/QtTest>

#include "shell/tapplication.h"

#define SKARVEL_WIDGET_TEST_MAIN(TestClass)                                                                            \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        qputenv("QT_QPA_PLATFORM", "offscreen");                                                                       \
        TApplication app(argc, argv);                                                                                  \
        app.SetTitle(QStringLiteral("Скарвел"));                                                                       \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
