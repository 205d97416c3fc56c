// The window's program as a user starts it: its command line answered without a display,
// the simulation it is pointed at made only when asked for; and in the window, F1 and the
// title bar's help button with the help page and the About box.
#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QTranslator>

#include "posix_io.h"
#include "ui_controller.h"
#include "version.h"
#include "window_fixture.h"

namespace ovtest {
namespace {

// ---- the program ---------------------------------------------------------------------------

class window_program : public ::testing::Test, public sim_tree {
protected:
    std::string data = dir.path() + "/data";

    // No display at all unless env gives one; English unless env says otherwise; nothing of
    // the user's (configuration, default simulation, rebuild notes).
    program_run ovraid(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
    {
        std::vector<std::string> argv = {OVRAID_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> environment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE", "LC_ALL",
                                                "LC_MESSAGES", "LANG=C", "OVRAID_SIM_TOOL=" OVRAID_SIM_TOOL,
                                                "XDG_DATA_HOME=" + data, "XDG_CONFIG_HOME=" + dir.path() + "/config",
                                                "XDG_STATE_HOME=" + dir.path() + "/state"};
        environment.insert(environment.end(), env.begin(), env.end());
        return run_program(argv, environment);
    }
};

TEST_F(window_program, answers_its_command_line_without_a_display)
{
    struct program_case {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string out;     // in standard output ("" for none at all)
        std::string errors;  // in standard error ("" for none at all)
        std::vector<std::string> env = {};
    };
    const std::string default_root = data + "/ovraid/sim";
    const program_case cases[] = {
        {"help", {"--help"}, 0, "--sim DIR", ""},
        {"help names the default simulation", {"-h"}, 0, "\n  " + default_root + "\n", ""},
        {"help in German", {"--help"}, 0, "Aufruf: ovraid", "", {"LANG=de_DE.UTF-8"}},
        {"version", {"--version"}, 0, "ovraid " OVRAID_VERSION "\n", ""},
        {"short version", {"-v"}, 0, "ovraid " OVRAID_VERSION "\n", ""},
        {"unknown option", {"--colour", "red"}, 64, "", "unknown option --colour"},
        {"an argument", {"extra"}, 64, "", "'extra'"},
        {"no value", {"--sim"}, 64, "", "--sim needs a value"},
        {"empty value", {"--library="}, 64, "", "--library needs a value"},
        {"twice", {"--sim", "a", "--sim=b"}, 64, "", "--sim is given twice"},
        {"seconds", {"--quit-after", "soon"}, 64, "", "'soon'"},
        {"the way out of a usage error", {"--colour"}, 64, "", "ovraid --help"},
        {"no simulation", {"--sim", root}, 2, "", root + ": no simulated enclosures there"},
        {"how to make one", {"--sim", root}, 2, "", "ovraid --sim " + root + " --demo"},
        {"or with the tool", {"--sim", root, "--screenshot", "x.png"}, 2, "", "ovraid-sim --sim " + root + " demo"},
        {"no simulation in German", {"--sim", root}, 2, "", "dort sind keine simulierten", {"LANG=de_DE.UTF-8"}},
        // Last: it makes the demo, then finds no display to show it on.
        {"no display", {"--sim", root, "--demo"}, 1, "", "no display to open the window on"},
    };
    for (const program_case& c : cases) {
        const program_run r = ovraid(c.args, c.env);
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.output << r.errors;
        if (c.out.empty())
            EXPECT_EQ(r.output, "") << c.what;
        else
            EXPECT_NE(r.output.find(c.out), std::string::npos) << c.what << ": wants " << c.out << " in\n" << r.output;
        if (c.errors.empty())
            EXPECT_EQ(r.errors, "") << c.what;
        else
            EXPECT_NE(r.errors.find(c.errors), std::string::npos) << c.what << ": wants " << c.errors << " in\n"
                                                                  << r.errors;
        EXPECT_FALSE(st.exists()) << c.what << ": a simulation was made";
        EXPECT_FALSE(ov::io::path_exists(data)) << c.what << ": the default simulation was made";
    }
}

TEST_F(window_program, makes_the_demo_where_named_only_when_asked)
{
    const std::string shot = dir.path() + "/shot.png";
    const std::vector<std::string> offscreen = {"QT_QPA_PLATFORM=offscreen"};
    const std::vector<std::string> look = {"--sim", root, "--demo", "--screenshot", shot, "--quit-after", "0"};

    program_run r = ovraid(look, offscreen);
    EXPECT_EQ(r.status, 0) << r.output << r.errors;
    EXPECT_EQ(st.bridges(), (std::vector<std::string>{"firewire-pair", "usb-raid"}));
    EXPECT_TRUE(ov::io::path_exists(shot)) << r.output;

    // Asked again: what is there is kept, and said so.
    ASSERT_EQ(run_program({OVRAID_SIM_TOOL, "--sim", root, "remove-bridge", "firewire-pair"}).status, 0);
    r = ovraid(look, offscreen);
    EXPECT_EQ(r.status, 0) << r.output << r.errors;
    EXPECT_NE(r.errors.find("already holds simulated enclosures"), std::string::npos) << r.errors;
    EXPECT_EQ(st.bridges(), (std::vector<std::string>{"usb-raid"}));

    // An empty directory holds no enclosures: the demo goes in; without --demo it is looked at as it is.
    const std::string empty = dir.path() + "/empty";
    ASSERT_EQ(run_program({"mkdir", empty}).status, 0);
    r = ovraid({"--sim", empty, "--screenshot", shot, "--quit-after", "0"}, offscreen);
    EXPECT_EQ(r.status, 0) << r.output << r.errors;
    EXPECT_TRUE(ov::sim::store(empty).bridges().empty());
    r = ovraid({"--sim", empty, "--demo", "--screenshot", shot, "--quit-after", "0"}, offscreen);
    EXPECT_EQ(r.status, 0) << r.output << r.errors;
    EXPECT_EQ(ov::sim::store(empty).bridges().size(), 2u);
    EXPECT_FALSE(ov::io::path_exists(data)) << "the default simulation was made";
}

// ---- help and About in the window ----------------------------------------------------------

class window_help : public window_fixture {
protected:
    QDialog* dialog(const char* name) const
    {
        return win->mainwindow()->findChild<QDialog*>(QString::fromLatin1(name));
    }
    // Every control of a dialog can be named by a screen reader.
    static void every_control_named(QDialog* d)
    {
        for (QWidget* w : d->findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QTextBrowser*>(w)) {
                EXPECT_FALSE(w->accessibleName().isEmpty())
                    << d->objectName().toStdString() << ": " << w->metaObject()->className();
            }
        }
    }
    QAction* action(const char* name) const
    {
        return win->mainwindow()->findChild<QAction*>(QString::fromLatin1(name));
    }
};

TEST_F(window_help, the_title_bar_offers_help_and_about)
{
    Ui::controllerform* form = win->form();
    auto* help = find<QToolButton>("helpbutton");
    EXPECT_EQ(form->titlerow->indexOf(help) + 1, form->titlerow->indexOf(form->minimizebutton)) << "left of minimize";
    EXPECT_EQ(help->text(), QStringLiteral("?"));
    EXPECT_EQ(help->accessibleName(), QStringLiteral("help_button"));
    QWidget* next = help->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    EXPECT_EQ(next, form->minimizebutton) << "Tab goes on to minimize, as on screen";
    ASSERT_NE(help->menu(), nullptr);
    const QList<QAction*> entries = help->menu()->actions();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0], action("helpaction"));
    EXPECT_EQ(entries[0]->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(entries[1], action("aboutaction"));

    // F1 anywhere in the window opens the page; asked again, the same one comes forward.
    win->mainwindow()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(win->mainwindow()));
    EXPECT_EQ(dialog("helpdialog"), nullptr);
    QTest::keyClick(form->controllerselectbox, Qt::Key_F1);
    QDialog* page = dialog("helpdialog");
    ASSERT_NE(page, nullptr) << "F1 opened no help page";
    EXPECT_TRUE(page->isVisible());
    EXPECT_FALSE(page->isModal()) << "the page stays open beside the window";
    entries[0]->trigger();
    EXPECT_EQ(win->mainwindow()->findChildren<QDialog*>(QStringLiteral("helpdialog")).size(), 1);
    every_control_named(page);
    // Without a table the page shows its ids: each state word and each step is there.
    const QString text = page->findChild<QTextBrowser*>(QStringLiteral("helptext"))->toPlainText();
    for (const char* id : {"state_healthy", "state_degraded", "state_out_of_step", "state_rebuilding", "state_broken",
                           "state_not_configured", "state_disk_silent", "help_failure_source", "help_failure_never",
                           "help_key_f1", "help_key_f5"})
        EXPECT_TRUE(text.contains(QLatin1String(id))) << id;
    page->close();
    EXPECT_TRUE(eventually([&] { return dialog("helpdialog") == nullptr; })) << "closed means gone";

    entries[1]->trigger();
    QDialog* about = dialog("aboutbox");
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    every_control_named(about);
    const QString words = about->findChild<QLabel*>(QStringLiteral("abouttext"))->text();
    EXPECT_TRUE(words.contains(QLatin1String("about_version"))) << words.toStdString();
    about->close();
}

// In German every text of both dialogs comes from the table, with the window's words for
// the states and the mirror halves, and the version in the About box.
TEST_F(window_help, the_dialogs_speak_the_language_of_the_table)
{
    QTranslator german;
    ASSERT_TRUE(german.load(QStringLiteral(":/i18n/ovraid_de.qm")));
    QCoreApplication::installTranslator(&german);
    win.reset();
    launch();
    action("helpaction")->trigger();
    action("aboutaction")->trigger();
    const QString page = dialog("helpdialog")->findChild<QTextBrowser*>()->toPlainText();
    const QString about = dialog("aboutbox")->findChild<QLabel*>(QStringLiteral("abouttext"))->text();
    const QString title = dialog("helpdialog")->windowTitle() + dialog("aboutbox")->windowTitle();
    const QString button = find<QToolButton>("helpbutton")->accessibleName();
    QCoreApplication::removeTranslator(&german);

    for (const QString& shown : {page, about, title, button}) {
        EXPECT_FALSE(shown.contains(QLatin1String("help_"))) << "an id without a text: " << shown.toStdString();
        EXPECT_FALSE(shown.contains(QLatin1String("about_"))) << "an id without a text: " << shown.toStdString();
    }
    for (const char* german_word : {"in Ordnung", "Originalplatte (aktuelle Daten)", "Wieder eingesetzt (ältere Daten)",
                                    "Schacht 1", "Wenn eine Festplatte ausfällt"})
        EXPECT_TRUE(page.contains(QString::fromUtf8(german_word))) << german_word;
    EXPECT_TRUE(about.contains(QStringLiteral("Version " OVRAID_VERSION))) << about.toStdString();
    EXPECT_TRUE(about.contains(QLatin1String(qVersion()))) << about.toStdString();
    EXPECT_EQ(button, QStringLiteral("Hilfe"));
}

}  // namespace
}  // namespace ovtest
