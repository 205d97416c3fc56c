// ovraidctl: the enclosures' state, their commands and a monitor, for scripts, servers and
// terminals. The same engine and bridges as the window; nothing here shows a widget.
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "diag.h"
#include "loader/loaded_library.h"
#include "sim/conf.h"
#include "udev/udev_registry.h"
#include "report.h"
#include "texts.h"
#include "version.h"

using namespace ov::cli;

namespace {

// Standard output belongs to the report (JSON must parse): the engine's working words are
// dropped, its complaints go to standard error and its log lines to the system log.
void route_diagnostics()
{
    ov::set_diag_sink([](ov::diag_level level, std::string_view text) {
        switch (level) {
        case ov::diag_level::trace:
        case ov::diag_level::console:
        case ov::diag_level::info:
            return;
        case ov::diag_level::warning:
            // Paths and names in it come from the command line and the devices: no control bytes.
            std::fprintf(stderr, "ovraidctl: %s\n", shown(std::string(text)).c_str());
            return;
        case ov::diag_level::notice:
            syslog(LOG_NOTICE, "%.*s", static_cast<int>(text.size()), text.data());
            return;
        }
    });
}

int help(const std::string& command)
{
    const std::string key = command.empty() || command == "help" ? "ctl_help" : "ctl_help_" + command;
    std::string text = tr(key.c_str());
    // A command there is no help for is no command.
    if (text == key)
        return usage_error(tr("ctl_unknown_command", command));
    for (char& c : text)
        if (c == '\t')
            c = ' ';
    std::printf("%s\n", text.c_str());
    return exit_ok;
}

// The rules come from the library's match table; nothing is scanned.
int udev_rules(const options& o)
{
    std::string library = o.bridges.library, error;
    if (library.empty() && !ov::configured_library(library, error)) {
        std::fprintf(stderr, "ovraidctl: %s\n", shown(error).c_str());
        return exit_unknown;
    }
    if (library.empty())
        return usage_error(tr("ctl_needs_library"));
    const auto lib = ov::loaded_library::open(library, error);
    if (!lib) {
        std::fprintf(stderr, "ovraidctl: %s\n", shown(error).c_str());
        return exit_unknown;
    }
    // The simulated bridges' ids are made up: a real device may carry them, and would be
    // opened to the seat by such rules.
    const ov::sim::bridge_desc simulated;
    for (const ov::bridge_match& m : lib->match_table())
        if (!m.firewire && m.vendor == simulated.vendor_id && m.product == simulated.product_id) {
            std::fprintf(stderr, "ovraidctl: %s\n", tr("ctl_rules_for_simulation").c_str());
            break;
        }
    std::fputs(ov::udev_rules_for(lib->match_table()).c_str(), stdout);
    return exit_ok;
}

}  // namespace

namespace ov::cli {

int usage_error(const std::string& text)
{
    std::fprintf(stderr, "ovraidctl: %s\n%s\n", text.c_str(), tr("ctl_try_help").c_str());
    return exit_usage;
}

}  // namespace ov::cli

int main(int argc, char** argv)
{
    choose_language();
    // A reader that goes away (a pipe into head) ends us quietly, with what was written kept.
    ::signal(SIGPIPE, SIG_DFL);
    options o;
    std::string error;
    if (!parse(argc, argv, o, error))
        return usage_error(error);
    if (o.version) {
        std::printf("ovraidctl %s\n", OVRAID_VERSION);
        return exit_ok;
    }
    if (o.help || o.command == "help")
        return help(o.command == "help" && !o.words.empty() ? o.words[0] : o.command);
    // Nothing asked: the usage, as an error a script notices.
    if (o.command.empty()) {
        std::fprintf(stderr, "%s\n", tr("ctl_help").c_str());
        return exit_usage;
    }
    if (o.command == "udev-rules")
        return o.words.empty() ? udev_rules(o) : usage_error(tr("ctl_too_many_words", o.command));
    route_diagnostics();
    // Looking never makes a demo: a missing simulation is an error to report, not to fill.
    o.bridges.create_demo = false;
    std::unique_ptr<session> s = session::open(o.bridges, error);
    if (!s) {
        std::fprintf(stderr, "ovraidctl: %s\n", shown(error).c_str());
        return o.command == "check" ? (std::printf("RAID UNKNOWN - %s\n", shown(error).c_str()), exit_unknown)
                                    : exit_unknown;
    }
    if (o.command == "status")
        return run_status(*s, o);
    if (o.command == "check")
        return run_check(*s, o);
    if (o.command == "monitor")
        return run_monitor(*s, o);
    return run_command(*s, o);
}
