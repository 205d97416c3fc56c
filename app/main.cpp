// ovraid: the window over the bridges: the simulated enclosures, or a bridge library's.
#include <QApplication>
#include <QCommandLineParser>

#include "run.h"
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
    QCommandLineOption library_option(QStringLiteral("library"),
                                      QStringLiteral("Bridge library to load (bridges found through udev; with "
                                                     "--sim, those of the simulation)."),
                                      QStringLiteral("PATH"));
    parser.addOption(sim_option);
    parser.addOption(library_option);
    parser.addOption(shot_option);
    parser.addOption(quit_option);
    parser.process(app);

    ov::window_options options;
    options.bridges.sim_root = parser.value(sim_option).toStdString();
    options.bridges.sim_given = parser.isSet(sim_option);
    options.bridges.library = parser.value(library_option).toStdString();
    options.screenshot = parser.value(shot_option);
    options.quit_after_seconds = parser.value(quit_option).toInt();
    return ov::run_window(app, options);
}
