// Entry point of the window suites: the widgets need a QApplication on the main thread,
// which is also the thread every test body runs on (the window's own thread).
#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>

#include "harness.h"

int main(int argc, char** argv)
{
    // Runnable by hand too, without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // A test waiting on this thread keeps the window's events flowing, so the requests of
    // the notification thread and the monitors are served meanwhile.
    ovtest::set_wait_step([] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
