#include "run.h"

#include <syslog.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QTimer>
#include <QTreeView>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "appsetup.h"
#include "controller.h"
#include "diag.h"
#include "backend.h"
#include "ui_controller.h"

namespace ov {

namespace {

// OVRAID_DEBUG set to anything but "" or "0" brings back the engine's working words.
bool debug_words_wanted()
{
    const char* value = std::getenv("OVRAID_DEBUG");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

// One line, whatever line ends the engine's text carries: its words run together without
// them ("addedtree built") or come with blank lines ("Starting run loop.\n\n").
void put_line(FILE* to, std::string_view text)
{
    while (!text.empty() && text.front() == '\n')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    if (text.empty())
        return;
    // One call, so lines from different threads do not interleave.
    std::fprintf(to, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(to);
}

// Started from a desktop, the window's standard output and error end up in the journal: the
// engine's words as it works (the console and info levels) are a developer's, and stay out
// unless asked for. Any thread calls this; it touches no widget.
diag_sink window_diagnostics(bool debug)
{
    return [debug](diag_level level, std::string_view text) {
        switch (level) {
        case diag_level::trace:
            return;
        case diag_level::console:
            if (debug)
                put_line(stdout, text);
            return;
        case diag_level::info:
            if (debug)
                put_line(stderr, text);
            return;
        case diag_level::notice:
            syslog(LOG_NOTICE, "%.*s", static_cast<int>(text.size()), text.data());
            return;
        case diag_level::warning:
            put_line(stderr, text);
            return;
        }
    };
}

// What the screenshot shows, as text a script can check: every line of the device tree, indented
// by its depth, with what its tooltip adds (the enclosure's state, the bay and disk) on the same line.
void print_tree(const QAbstractItemModel& model, const QModelIndex& parent, int depth)
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        const QString label = index.data(Qt::DisplayRole).toString();
        const QString more = index.data(Qt::ToolTipRole).toString().replace(QLatin1Char('\n'), QStringLiteral("; "));
        std::printf("%*s%s%s\n", 2 * depth, "", qPrintable(label),
                    more.isEmpty() || more == label ? "" : qPrintable(QStringLiteral(" [") + more + QLatin1Char(']')));
        print_tree(model, index, depth + 1);
    }
}

}  // namespace

int run_window(QApplication& app, const window_options& options,
               const std::function<void(controller& window)>& started)
{
    // First, so the words of opening the bridges are sorted too.
    set_diag_sink(window_diagnostics(debug_words_wanted()));
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
        set_diag_sink({});
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
            const QAbstractItemModel& tree = *window.form()->tree->model();
            std::printf("Shown:%s\n", tree.rowCount() == 0 ? " no enclosure" : "");
            print_tree(tree, QModelIndex(), 1);
            std::printf("Resident memory: %.1f MB\n", resident_megabytes());
            std::fflush(stdout);
            window.end_program(ok ? 0 : 1);
        });
    }
    if (started)
        QTimer::singleShot(0, &app, [&window, &started] { started(window); });
    // A way out taken during start-up (a fatal error) skips the event loop.
    const int status = window.has_left() ? 0 : app.exec();
    const int left_with = window.finish(status);
    // The engine's threads are joined: the default sink is back before the window and the
    // bridges go.
    set_diag_sink({});
    return left_with;
}

}  // namespace ov
