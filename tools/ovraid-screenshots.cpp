// Takes the README's screenshots by driving the real window over fresh simulated
// enclosures, answering every alert with its first button as a user would:
//   empty.png      no enclosure attached
//   main.png       the demo enclosures, the mirror selected
//   too-small.png  a replacement disk too small for the mirror, the rebuild arrow's reason shown
//   rebuild.png    a disk replaced and the mirror being rebuilt onto it
// Usage: ovraid-screenshots OUTDIR [LANGUAGE]
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QToolTip>
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

    // Both enclosures unplugged first: the window opens on its empty state.
    for (const char* bridge : {"usb-raid", "firewire-pair"})
        if (!store.set_plugged(bridge, false, error))
            return fail(error.c_str()) ? 0 : 1;
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

    // A tooltip is a window of its own: it is painted into the picture where it stands.
    const auto shoot_with_tip = [&](QWidget* widget, const char* name) {
        QWidget* main = window.mainwindow();
        // Below the tab's buttons, where it hides nothing the picture is about.
        QToolTip::showText(main->mapToGlobal(QPoint(250, widget->mapTo(main, QPoint(0, widget->height() * 3)).y())),
                           widget->toolTip(), widget);
        QTest::qWait(300);
        QPixmap picture = main->grab();
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->inherits("QTipLabel") && top->isVisible()) {
                QPainter painter(&picture);
                painter.drawPixmap(top->mapToGlobal(QPoint(0, 0)) - main->mapToGlobal(QPoint(0, 0)), top->grab());
            }
        QToolTip::hideText();
        const QString file = out + QLatin1Char('/') + QLatin1String(name);
        const bool saved = picture.save(file);
        std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(file));
        return saved;
    };

    bool ok = wait_until([&] { return ui->panelstatelabel->isVisible() && !window.working(); }, 60) ||
              fail("the empty state never showed");
    ok = ok && shoot("empty.png");
    for (const char* bridge : {"usb-raid", "firewire-pair"})
        ok = ok && (store.set_plugged(bridge, true, error) || fail(error.c_str()));
    ok = ok && (wait_until([&] { return !ui->raidmodelabel->text().isEmpty() && !window.working(); }, 90) ||
                fail("the demo mirror never showed"));
    ok = ok && shoot("main.png");

    // Replace disk 2 of the mirror with a blank, larger disk and rebuild onto it.
    std::string pulled;
    ov::sim::disk_desc spare{"Northwind ND2000AS", "NW2K9C20771", 3907029168ULL, "lba48", false};
    // As a user swaps a disk: pull it, let the enclosure notice, then insert the new one.
    ok = ok && (store.pull_disk("usb-raid", 1, pulled, error) || fail(error.c_str()));
    ok = ok && (wait_until([&] { return ui->disk1modelfield->text().isEmpty() && !window.working() &&
                                        !ui->disk0modelfield->text().isEmpty(); }, 90) ||
                fail("the pulled disk was never noticed"));
    // First a disk 400,168 sectors too small for the mirror: the arrow stays closed and says why.
    ov::sim::disk_desc small{"Kestrel KS1000 SATA", "KS1T09B0017", 1953525168ULL - 400168, "lba48", false};
    ok = ok && ((store.make_disk("small", small, error) && store.insert_disk("usb-raid", 1, "small", error)) ||
                fail(error.c_str()));
    ok = ok && (wait_until([&] { return !ui->disk1modelfield->text().isEmpty() && !window.working() &&
                                        ui->tabview->currentIndex() == 1; }, 90) ||
                fail("the small disk was never shown"));
    ok = ok && shoot_with_tip(ui->rebuild0to1button, "too-small.png");
    std::string small_disk;
    ok = ok && (store.pull_disk("usb-raid", 1, small_disk, error) || fail(error.c_str()));
    ok = ok && (wait_until([&] { return ui->disk1modelfield->text().isEmpty() && !window.working() &&
                                        !ui->disk0modelfield->text().isEmpty(); }, 90) ||
                fail("the small disk's removal was never noticed"));
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
