// ovraid: the window over the bridges: the simulated enclosures, or a bridge library's.
// The command line is read before any QApplication exists, so --help, --version and a
// wrong command line need no display.
#include <QApplication>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "run.h"
#include "sim/store.h"
#include "version.h"

namespace {

constexpr int exit_usage = 64;      // as ovraidctl's usage errors
constexpr int exit_no_bridges = 2;  // nothing to look at: no simulation where one was named

// The string table of the locale, read without an application object (which would need
// a display before the command line is understood).
class words {
public:
    words()
    {
        if (!table_.load(QLocale(), QStringLiteral("ovraid"), QStringLiteral("_"), QStringLiteral(":/i18n")))
            (void)table_.load(QStringLiteral(":/i18n/ovraid_en.qm"));
    }
    QString operator()(const char* id) const
    {
        const QString text = table_.translate(nullptr, id);
        return text.isEmpty() ? QString::fromLatin1(id) : text;
    }

private:
    QTranslator table_;
};

void say(FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fputc('\n', to);
}

struct command_line {
    std::map<std::string, std::string> values;   // --sim, --library, --screenshot, --quit-after
    bool help = false, version = false, demo = false;
    QString error;                                 // a usage error, in the user's words
};

command_line parse(int argc, char** argv, const words& w)
{
    static const char* const valued[] = {"--sim", "--library", "--screenshot", "--quit-after"};
    command_line c;
    for (int k = 1; k < argc && c.error.isEmpty(); ++k) {
        const std::string arg = argv[k];
        const size_t eq = arg.find('=');
        const std::string key = arg.compare(0, 2, "--") == 0 && eq != std::string::npos ? arg.substr(0, eq) : arg;
        bool is_valued = false;
        for (const char* v : valued)
            is_valued = is_valued || key == v;
        if (is_valued) {
            if (key == arg && k + 1 >= argc) {
                c.error = w("program_needs_value").arg(QString::fromStdString(key));
                break;
            }
            const std::string value = key == arg ? std::string(argv[++k]) : arg.substr(eq + 1);
            if (c.values.count(key) != 0)
                c.error = w("program_given_twice").arg(QString::fromStdString(key));
            else if (value.empty())
                c.error = w("program_needs_value").arg(QString::fromStdString(key));
            c.values[key] = value;
        } else if (arg == "--help" || arg == "-h") {
            c.help = true;
        } else if (arg == "--version" || arg == "-v") {
            c.version = true;
        } else if (arg == "--demo") {
            c.demo = true;
        } else if (!arg.empty() && arg[0] == '-') {
            c.error = w("program_unknown_option").arg(QString::fromLocal8Bit(argv[k]));
        } else {
            c.error = w("program_unexpected_argument").arg(QString::fromLocal8Bit(argv[k]));
        }
    }
    if (c.error.isEmpty() && c.values.count("--quit-after") != 0) {
        bool ok = false;
        const int seconds = QString::fromStdString(c.values["--quit-after"]).toInt(&ok);
        if (!ok || seconds < 0)
            c.error = w("program_bad_seconds").arg(QString::fromStdString(c.values["--quit-after"]));
    }
    return c;
}

// With --sim the simulation must be there already, or --demo asked for one: a mistyped
// directory must not quietly become a fresh demo. false when the window cannot start.
bool prepare_simulation(const std::string& root, bool demo, const words& w)
{
    ov::sim::store sim(root);
    const QString where = QString::fromStdString(root);
    if (!demo) {
        if (sim.exists())
            return true;
        say(stderr, QStringLiteral("ovraid: ") + w("program_no_simulation").arg(where));
        return false;
    }
    // An empty directory is a fine place for the demo; enclosures already there stay as they are.
    if (sim.exists() && (!sim.bridges().empty() || !sim.shelf().empty())) {
        say(stderr, QStringLiteral("ovraid: ") + w("program_demo_exists").arg(where));
        return true;
    }
    std::string error;
    if (!sim.create_demo(error)) {
        say(stderr, QStringLiteral("ovraid: ") + w("program_demo_failed").arg(where, QString::fromStdString(error)));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const words w;
    command_line c = parse(argc, argv, w);
    if (!c.error.isEmpty()) {
        say(stderr, QStringLiteral("ovraid: ") + c.error);
        say(stderr, w("program_usage_hint"));
        return exit_usage;
    }
    if (c.help) {
        std::fputs(w("program_usage").arg(QString::fromStdString(ov::sim::store::default_root())).toLocal8Bit().constData(),
                   stdout);
        return 0;
    }
    if (c.version) {
        std::printf("ovraid %s\n", OVRAID_VERSION);
        return 0;
    }

    ov::window_options options;
    options.bridges.sim_given = c.values.count("--sim") != 0;
    options.bridges.sim_root = options.bridges.sim_given ? c.values["--sim"] : ov::sim::store::default_root();
    // Without a display Qt would abort; a user is told what to use instead, and no demo is
    // made for a window that cannot open.
    const bool no_display = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
                            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (options.bridges.sim_given && !(no_display && c.demo)) {
        if (!prepare_simulation(options.bridges.sim_root, c.demo, w))
            return exit_no_bridges;
        // Made above or there already; one that vanishes meanwhile is said by the window.
        options.bridges.create_demo = false;
    }
    if (no_display) {
        say(stderr, QStringLiteral("ovraid: ") + w("program_no_display"));
        return 1;
    }
    options.bridges.library = c.values["--library"];
    options.screenshot = QString::fromStdString(c.values["--screenshot"]);
    if (c.values.count("--quit-after") != 0)
        options.quit_after_seconds = QString::fromStdString(c.values["--quit-after"]).toInt();

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("ovraid"));
    app.setApplicationVersion(QStringLiteral(OVRAID_VERSION));
    // The desktop entry's id (packaging/CMakeLists.txt): a Wayland compositor matches the
    // window to its launcher and icon by it, as X11 does by the class "ovraid".
    QGuiApplication::setDesktopFileName(QStringLiteral(OVRAID_APP_ID));
    return ov::run_window(app, options);
}
