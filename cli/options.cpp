#include "options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "diag.h"
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

// The option that is a plain switch, or nullptr.
bool* switch_of(options& o, const std::string& arg)
{
    const struct {
        const char* name;
        const char* alias;
        bool options::*flag;
    } switches[] = {{"--json", nullptr, &options::json},       {"--yes", "-y", &options::yes},
                    {"--force", nullptr, &options::force},     {"--watch", nullptr, &options::watch},
                    {"--wait", nullptr, &options::wait},       {"--oneshot", nullptr, &options::oneshot},
                    {"--no-syslog", nullptr, &options::syslog}, {"--no-notify", nullptr, &options::notify},
                    {"--help", "-h", &options::help},          {"--version", nullptr, &options::version}};
    for (const auto& s : switches)
        if (arg == s.name || (s.alias && arg == s.alias))
            return &(o.*s.flag);
    return nullptr;
}

}  // namespace

// A word of the line as an error shows it: control bytes as \xNN, so one line stays one
// line and nothing typed (or pasted) reaches the terminal as a command.
std::string shown(const std::string& word)
{
    return without_controls(word);
}

bool parse(int argc, char** argv, options& out, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // No option takes an empty value: an empty --sim would quietly mean the default one.
        const auto next = [&](std::string& into) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                error = tr("ctl_needs_value", shown(arg));
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
        } else if (bool* flag = switch_of(out, arg)) {
            // --no-syslog and --no-notify turn a sink off; every other switch turns on.
            *flag = !arg.starts_with("--no-");
        } else if (arg == "--from") {
            if (!next(value))
                return false;
            if (!bay_number(value, out.from_bay)) {
                error = tr("ctl_bad_bay", shown(value));
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
                error = tr("ctl_bad_interval", shown(value));
                return false;
            }
            out.interval = seconds;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = tr("ctl_unknown_option", shown(arg));
            return false;
        } else if (out.command.empty()) {
            if (!known_command(arg)) {
                error = tr("ctl_unknown_command", shown(arg));
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
