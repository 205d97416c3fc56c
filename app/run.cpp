#include "run.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "appsetup.h"
#include "controller.h"
#include "diag.h"
#include "sim/enclosure.h"
#include "sim/store.h"

namespace ov {

int run_window(QApplication& app, const window_options& options,
               const std::function<void(controller& window)>& started)
{
    install_translations(app);
    load_style(app);

    sim::store store(options.sim_root);
    if (!store.exists()) {
        std::string error;
        if (!store.create_demo(error)) {
            diag(diag_level::warning, "ovraid: cannot create the demo enclosures in " + options.sim_root + ": " + error);
            return 1;
        }
    }
    // Declared before the window, so it is destroyed after it: the window's threads are
    // joined by then, and the enclosure stops its own.
    sim::enclosure sim(options.sim_root);
    install_library(&sim);
    install_registry(&sim);
    sim.start_watching();

    controller window;
    window.awakeFromNib();
    window.applicationDidFinishLaunching();
    route_termination_signals([&window](int status) { window.end_program(status); });

    if (!options.screenshot.isEmpty()) {
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
