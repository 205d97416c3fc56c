// status and check: looking only. Nothing here writes to a disk; the engine's own selection
// (which may degrade a lone mirror half) is never made.
#include <unistd.h>

#include <cstdio>

#include "clock.h"
#include "commands.h"
#include "ovtool.h"
#include "report.h"
#include "texts.h"

namespace ov::cli {

namespace {

// The controller a status or check is about: -1 for all, -2 when the one named is not
// there, -3 when the name fits more than one, -4 when its number is not certain.
int chosen(const snapshot& s, const options& o)
{
    if (o.words.empty())
        return -1;
    const int index = find_controller(s, o.words[0]);
    return index == -2 ? -3 : index == -3 ? -4 : index < 0 ? -2 : index;
}

std::string not_chosen(int index, const std::string& name)
{
    return index == -3   ? tr("ctl_ambiguous", shown(name))
           : index == -4 ? tr("ctl_number_unsure", shown(name))
                         : tr("ctl_no_such_controller", shown(name));
}

// Two readings a second apart give a running rebuild its speed.
snapshot look_with_rates(session& s, std::map<std::string, rebuild_rate>& rates)
{
    snapshot now = s.look(rates);
    bool rebuilding = false;
    for (const controller_view& c : now.controllers)
        rebuilding = rebuilding || (c.rebuild && c.rebuild->known && !c.rebuild->complete);
    if (!rebuilding)
        return now;
    pause_ms(1000);
    return s.look(rates);
}


}  // namespace

int run_status(session& s, const options& o)
{
    if (o.words.size() > 1)
        return usage_error(tr("ctl_too_many_words", o.command));
    if (o.watch ? !s.follow() : !s.scan_once()) {
        std::fprintf(stderr, "ovraidctl: %s\n", tr("ctl_list_unreadable").c_str());
        return exit_unknown;
    }
    std::map<std::string, rebuild_rate> rates;
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    std::string last;
    for (;;) {
        const snapshot now = look_with_rates(s, rates);
        s.print_notices();
        const int index = chosen(now, o);
        if (index < -1 && !o.watch) {
            std::fprintf(stderr, "ovraidctl: %s\n", not_chosen(index, o.words[0]).c_str());
            return exit_unknown;
        }
        const std::string shown = o.json       ? status_json(now, s.description(), index < -1 ? -2 : index) + "\n"
                                 : index < -1 ? not_chosen(index, o.words[0]) + "\n"
                                              : status_text(now, index);
        if (!o.watch) {
            std::fputs(shown.c_str(), stdout);
            return severity(now, index);
        }
        // A terminal is redrawn; a pipe gets each new state once (JSON: one line per look).
        if (terminal && !o.json)
            std::printf("\033[H\033[J%s", shown.c_str());
        else if (o.json || shown != last)
            std::printf("%s%s", last.empty() || o.json ? "" : "\n", shown.c_str());
        std::fflush(stdout);
        last = shown;
        pause_ms(static_cast<uint64_t>((o.interval > 0 ? o.interval : 2) * 1000));
        // A disk pulled or put in: rescan before the next look.
        if (s.presence_changed())
            s.rescan();
    }
}

int run_check(session& s, const options& o)
{
    if (o.words.size() > 1)
        return usage_error(tr("ctl_too_many_words", o.command));
    if (!s.scan_once()) {
        std::printf("RAID UNKNOWN - %s\n", tr("ctl_list_unreadable").c_str());
        return exit_unknown;
    }
    std::map<std::string, rebuild_rate> rates;
    const snapshot now = look_with_rates(s, rates);
    s.print_notices();
    const int index = chosen(now, o);
    if (index < -1) {
        std::printf("RAID UNKNOWN - %s\n", not_chosen(index, o.words[0]).c_str());
        return exit_unknown;
    }
    std::printf("%s\n", check_line(now, index).c_str());
    return severity(now, index);
}

}  // namespace ov::cli
