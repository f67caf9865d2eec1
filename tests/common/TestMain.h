#pragma once
// One main for every test executable: offscreen platform and test-mode standard paths,
// so no test touches the user's real folders or needs a display.
#include <QCoreApplication>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#endif
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#ifdef QT_WIDGETS_LIB
// The windows read and write the program's settings file and data folder. Under test mode
// every test program would share them in ~/.qttest, and one program's settings (limits, the
// language, reconnecting) would change another's run at the same time: each gets a home
// folder of its own, from which test mode builds those paths.
#define TAMREL_TEST_MAIN(TestClass)                                                                          \
    int main(int argc, char **argv) {                                                                        \
        qputenv("QT_QPA_PLATFORM", "offscreen");                                                             \
        QStandardPaths::setTestModeEnabled(true);                                                            \
        QTemporaryDir privateHome;                                                                           \
        if (privateHome.isValid()) qputenv("HOME", QFile::encodeName(privateHome.path()));                   \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestClass tc;                                                                                        \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
#endif

// For tests that need only QtCore (the protocol engine must not pull in widgets).
#define TAMREL_TEST_MAIN_CORE(TestClass)                                                                     \
    int main(int argc, char **argv) {                                                                        \
        QStandardPaths::setTestModeEnabled(true);                                                            \
        QCoreApplication app(argc, argv);                                                                    \
        TestClass tc;                                                                                        \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
