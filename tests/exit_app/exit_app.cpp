// The window's program, left by one of its ways out once it runs: "close" (the window
// manager closes the window), "menu" (the quit control), "fatal" (an error from the
// notification thread), "library" (a bridge library that cannot be loaded) or "stuck" (a
// close while a device call never returns). Run by test_exit_paths, which checks how it ended.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <thread>

#include "controller.h"
#include "ovtool.h"
#include "registry.h"
#include "requests.h"
#include "run.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const std::string way = argv[1];
    QApplication app(argc, argv);
    ov::window_options options;
    options.bridges.sim_root = argv[2];
    options.bridges.sim_given = true;
    if (way == "library") {
        // A library that is none: the window must stop with the fatal alert, not crash.
        options.bridges.library = std::string(argv[2]) + ".so";
        std::FILE* f = std::fopen(options.bridges.library.c_str(), "w");
        if (f != nullptr) {
            std::fputs("not a library\n", f);
            std::fclose(f);
        }
    }
    // The fatal error's message is answered at once.
    controller::set_alert_handler([](const QString&, const QString&, const QString&, const QString&) { return 0; });
    return ov::run_window(app, options, [way](controller& window) {
        // Once the first scan has shown the enclosures and their monitors run.
        QTimer::singleShot(1500, window.mainwindow(), [&window, way] {
            if (way == "close")
                window.mainwindow()->close();
            else if (way == "menu")
                window.exitprogram();
            else if (way == "stuck") {
                // A device call that never returns holds the notification thread.
                ov::registry().post([] { std::this_thread::sleep_for(std::chrono::hours(1)); });
                window.mainwindow()->close();
            } else if (way == "fatal")
                ov::registry().post([] { ov::ctrller->show_error_and_exit("Error creating polling thread..Exiting"); });
        });
    });
}
