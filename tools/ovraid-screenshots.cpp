// Takes the README's screenshots by driving the real window over fresh simulated
// enclosures, answering every alert with its first button as a user would:
//   main.png     the demo enclosures, the mirror selected
//   rebuild.png  a disk replaced and the mirror being rebuilt onto it
// Usage: ovraid-screenshots OUTDIR [LANGUAGE]
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <unistd.h>

#include "appsetup.h"
#include "controller.h"
#include "ovtool.h"
#include "sim/enclosure.h"
#include "sim/store.h"
#include "ui_controller.h"

namespace {

bool wait_until(const std::function<bool()>& done, int seconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000)
            return false;
        QTest::qWait(50);
    }
    return true;
}

bool fail(const char* what)
{
    std::fprintf(stderr, "ovraid-screenshots: %s\n", what);
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: ovraid-screenshots OUTDIR [LANGUAGE]\n");
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("OVRAID_TIME_SCALE"))
        qputenv("OVRAID_TIME_SCALE", "10");
    QApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString language = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("en");
    QDir().mkpath(out);
    ov::install_translations(app, language);
    ov::load_style(app);

    const std::string root = std::filesystem::temp_directory_path() / "ovraid-screenshots";
    std::filesystem::remove_all(root);
    ov::sim::store store(root);
    std::string error;
    if (!store.create_demo(error))
        return fail(error.c_str()) ? 0 : 1;
    ov::sim::enclosure sim(root);
    ov::install_library(&sim);
    ov::install_registry(&sim);
    sim.start_watching();

    controller::set_alert_handler([](const QString&, const QString&, const QString&, const QString&) { return 1; });
    controller window;
    window.awakeFromNib();
    window.applicationDidFinishLaunching();
    Ui::controllerform* ui = window.form();

    const auto shoot = [&](const char* name) {
        const QString file = out + QLatin1Char('/') + QLatin1String(name);
        const bool ok = window.mainwindow()->grab().save(file);
        std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(file));
        return ok;
    };

    bool ok = wait_until([&] { return !ui->raidmodelabel->text().isEmpty() && !window.working(); }, 60) ||
              fail("the demo mirror never showed");
    ok = ok && shoot("main.png");

    // Replace disk 2 of the mirror with a blank, larger disk and rebuild onto it.
    std::string pulled;
    ov::sim::disk_desc spare{"Northwind ND2000AS", "NW2K9C20771", 3907029168ULL, "lba48", false};
    // As a user swaps a disk: pull it, let the enclosure notice, then insert the new one.
    ok = ok && (store.pull_disk("usb-raid", 1, pulled, error) || fail(error.c_str()));
    ok = ok && (wait_until([&] { return ui->disk1modelfield->text().isEmpty() && !window.working() &&
                                        !ui->disk0modelfield->text().isEmpty(); }, 90) ||
                fail("the pulled disk was never noticed"));
    ok = ok && ((store.make_disk("spare", spare, error) && store.insert_disk("usb-raid", 1, "spare", error)) ||
                fail(error.c_str()));
    ok = ok && (wait_until([&] { return ui->rebuild0to1button->isEnabled() && !window.working(); }, 90) ||
                fail("the rebuild button never opened"));
    if (ok)
        ui->rebuild0to1button->click();
    ok = ok && (wait_until([&] {
                    const double percent = ui->levelindicator->property("percent").toDouble();
                    return ui->levelindicator->isVisible() && percent >= 30.0 && percent < 90.0;
                }, 120) ||
                fail("the rebuild was never seen under way"));
    ok = ok && shoot("rebuild.png");

    std::fflush(nullptr);
    // Detached monitors and the notification thread are still running: leave at once.
    ::_exit(ok ? 0 : 1);
}
