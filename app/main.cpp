// ovraid: the window over the simulated enclosures.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "appsetup.h"
#include "controller.h"
#include "requests.h"
#include "sim/enclosure.h"
#include "sim/store.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("ovraid"));
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption sim_option(QStringLiteral("sim"), QStringLiteral("Simulation root directory."),
                                  QStringLiteral("DIR"),
                                  QString::fromStdString(ov::sim::store::default_root()));
    QCommandLineOption shot_option(QStringLiteral("screenshot"),
                                   QStringLiteral("Save a picture of the window to FILE, then quit."),
                                   QStringLiteral("FILE"));
    QCommandLineOption quit_option(QStringLiteral("quit-after"),
                                   QStringLiteral("Seconds to run before the screenshot is taken."),
                                   QStringLiteral("SECONDS"), QStringLiteral("12"));
    parser.addOption(sim_option);
    parser.addOption(shot_option);
    parser.addOption(quit_option);
    parser.process(app);

    ov::install_translations(app);
    ov::load_style(app);

    const std::string root = parser.value(sim_option).toStdString();
    ov::sim::store store(root);
    if (!store.exists()) {
        std::string error;
        if (!store.create_demo(error)) {
            std::fprintf(stderr, "ovraid: cannot create the demo enclosures in %s: %s\n", root.c_str(),
                         error.c_str());
            return 1;
        }
    }
    ov::sim::enclosure sim(root);
    ov::install_library(&sim);
    ov::install_registry(&sim);
    sim.start_watching();

    controller window;
    window.awakeFromNib();
    window.applicationDidFinishLaunching();
    ov::route_termination_signals([&window](int status) { window.end_program(status); });

    if (parser.isSet(shot_option)) {
        const QString file = parser.value(shot_option);
        const int seconds = parser.value(quit_option).toInt();
        QTimer::singleShot(seconds * 1000, &app, [&window, file] {
            const bool ok = window.mainwindow()->grab().save(file);
            std::printf("%s %s\n", ok ? "Screenshot:" : "Could not save the screenshot to", qPrintable(file));
            std::printf("Resident memory: %.1f MB\n", ov::resident_megabytes());
            window.end_program(ok ? 0 : 1);
        });
    }
    // However the event loop ends, the process leaves through the window's one way out:
    // returning from main would destroy the window and the enclosure under live threads.
    const int status = app.exec();
    window.end_program(status);
    return status;
}
