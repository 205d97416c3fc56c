// Entry point of the window suites: the widgets need a QApplication on the main thread,
// which is also the thread every test body runs on (the window's own thread).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    // Runnable by hand too, without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
