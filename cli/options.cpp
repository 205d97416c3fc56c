#include "options.h"

#include <cmath>
#include <cstdlib>

#include "texts.h"

namespace ov::cli {

namespace {

const char* const commands[] = {"status", "check", "create", "delete", "clear-disk", "rebuild", "restart",
                                "monitor", "udev-rules", "help"};

bool known_command(const std::string& word)
{
    for (const char* c : commands)
        if (word == c)
            return true;
    return false;
}

bool bay_number(const std::string& text, int& bay)
{
    if (text == "1" || text == "2") {
        bay = text[0] - '0';
        return true;
    }
    return false;
}

}  // namespace

bool parse(int argc, char** argv, options& out, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // No option takes an empty value: an empty --sim would quietly mean the default one.
        const auto next = [&](std::string& into) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                error = tr("ctl_needs_value", arg);
                return false;
            }
            into = argv[++i];
            return true;
        };
        std::string value;
        if (arg == "--sim") {
            if (!next(out.bridges.sim_root))
                return false;
            out.bridges.sim_given = true;
        } else if (arg == "--library") {
            if (!next(out.bridges.library))
                return false;
        } else if (arg == "--json") {
            out.json = true;
        } else if (arg == "--yes" || arg == "-y") {
            out.yes = true;
        } else if (arg == "--force") {
            out.force = true;
        } else if (arg == "--watch") {
            out.watch = true;
        } else if (arg == "--wait") {
            out.wait = true;
        } else if (arg == "--oneshot") {
            out.oneshot = true;
        } else if (arg == "--no-syslog") {
            out.syslog = false;
        } else if (arg == "--no-notify") {
            out.notify = false;
        } else if (arg == "--help" || arg == "-h") {
            out.help = true;
        } else if (arg == "--version") {
            out.version = true;
        } else if (arg == "--from") {
            if (!next(value))
                return false;
            if (!bay_number(value, out.from_bay)) {
                error = tr("ctl_bad_bay", value);
                return false;
            }
        } else if (arg == "--program") {
            if (!next(out.program))
                return false;
        } else if (arg == "--interval") {
            if (!next(value))
                return false;
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            // A day between looks is the most that still watches anything.
            if (end == value.c_str() || *end != '\0' || !std::isfinite(seconds) || seconds < 0.1 || seconds > 86400) {
                error = tr("ctl_bad_interval", value);
                return false;
            }
            out.interval = seconds;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = tr("ctl_unknown_option", arg);
            return false;
        } else if (out.command.empty()) {
            if (!known_command(arg)) {
                error = tr("ctl_unknown_command", arg);
                return false;
            }
            out.command = arg;
        } else {
            out.words.push_back(arg);
        }
    }
    return true;
}

}  // namespace ov::cli
