#include "run.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "appsetup.h"
#include "controller.h"
#include "diag.h"
#include "backend.h"

namespace ov {

int run_window(QApplication& app, const window_options& options,
               const std::function<void(controller& window)>& started)
{
    install_translations(app);
    load_style(app);

    // Declared before the window, so it is destroyed after it: the window's threads are
    // joined by then, and the backend stops its own.
    std::string error;
    const std::unique_ptr<backend> bridges = backend::open(options.bridges, error);
    if (bridges) {
        bridges->install();
        diag(diag_level::info, "ovraid: " + bridges->description() + "\n");
    }

    if (!bridges && !options.screenshot.isEmpty()) {
        // Screenshot mode runs unattended: nobody would answer the alert.
        diag(diag_level::warning, "ovraid: " + error);
        return 3;
    }
    controller window;
    window.awakeFromNib();
    if (bridges) {
        window.applicationDidFinishLaunching();
    } else {
        // Nothing to look at (a broken library, an unreadable configuration): the fatal
        // alert says why, and the program ends with its status.
        diag(diag_level::warning, "ovraid: " + error);
        QTimer::singleShot(0, &app, [&window, error] { window.show_error_and_exit(error); });
    }
    route_termination_signals([&window](int status) { window.end_program(status); });

    if (bridges && !options.screenshot.isEmpty()) {
        const QString file = options.screenshot;
        QTimer::singleShot(options.quit_after_seconds * 1000, &app, [&window, file] {
            const bool ok = window.mainwindow()->grab().save(file);
            std::printf("%s %s\n", ok ? "Screenshot:" : "Could not save the screenshot to", qPrintable(file));
            std::printf("Resident memory: %.1f MB\n", resident_megabytes());
            window.end_program(ok ? 0 : 1);
        });
    }
    if (started)
        QTimer::singleShot(0, &app, [&window, &started] { started(window); });
    // A way out taken during start-up (a fatal error) skips the event loop.
    const int status = window.has_left() ? 0 : app.exec();
    return window.finish(status);
}

}  // namespace ov
