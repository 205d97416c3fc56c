// ovraidctl monitor: follows every enclosure until stopped and tells what changes, reading
// only. Hot-plug rescans come from the engine's notification thread; a disk pulled or put
// in shows only in the bays' presence registers, so those are read every interval, and a
// rescan is asked for only when one differs from what the last scan saw.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>

#include "clock.h"
#include "commands.h"
#include "events.h"
#include "notify.h"
#include "ovtool.h"
#include "report.h"
#include "texts.h"

namespace ov::cli {

namespace {

std::atomic<bool> stop_asked{false};

void on_stop_signal(int)
{
    stop_asked = true;
}

// SIGTERM (systemd) and SIGINT (a terminal) end the loop, so the session's end stops the
// engine's threads cleanly.
class stop_signals {
public:
    stop_signals()
    {
        stop_asked = false;
        struct sigaction action {};
        action.sa_handler = on_stop_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, &old_term_);
        sigaction(SIGINT, &action, &old_int_);
    }
    ~stop_signals()
    {
        sigaction(SIGTERM, &old_term_, nullptr);
        sigaction(SIGINT, &old_int_, nullptr);
    }
    stop_signals(const stop_signals&) = delete;
    stop_signals& operator=(const stop_signals&) = delete;

private:
    struct sigaction old_term_ {}, old_int_ {};
};

bool handling_running()
{
    std::unique_lock<std::mutex> handling(j.handling, std::try_to_lock);
    return !handling.owns_lock();
}


}  // namespace

int run_monitor(session& s, const options& o)
{
    if (!o.words.empty())
        return usage_error(tr("ctl_too_many_words", o.command));
    event_sinks sinks(o.json, o.syslog, o.notify, o.program);
    if (o.oneshot) {
        if (!s.scan_once()) {
            std::fprintf(stderr, "ovraidctl: %s\n", tr("ctl_list_unreadable").c_str());
            return exit_unknown;
        }
        const snapshot now = s.look();
        s.print_notices();
        sinks.deliver(problems(now));
        sinks.finish();
        return severity(now);
    }

    stop_signals signals;
    if (!s.follow()) {
        std::fprintf(stderr, "ovraidctl: %s\n", tr("ctl_list_unreadable").c_str());
        return exit_unknown;
    }
    std::map<std::string, rebuild_rate> rates;
    const auto look = [&] {
        snapshot now = s.look(rates);
        s.print_notices();
        return now;
    };
    event_tracker tracker;
    uint64_t seen = s.handlings_ended();
    // A copy at its end is finished by whoever follows it (the window, rebuild --wait) by
    // rewriting the records, which no hot-plug event tells: rescan each interval until then.
    const auto copy_ended = [](const snapshot& now) {
        for (const controller_view& c : now.controllers)
            if (c.rebuild && c.rebuild->complete)
                return true;
        return false;
    };
    snapshot last = look();
    sinks.deliver(tracker.start(last));

    // Short steps, so a stop signal ends the monitor within a fraction of a second.
    constexpr uint64_t step_ms = 500;
    const uint64_t interval_ms = static_cast<uint64_t>((o.interval > 0 ? o.interval : 3) * 1000);
    uint64_t waited = 0;
    while (!stop_asked) {
        pause_ms(step_ms);
        waited += step_ms;
        sinks.service();
        const bool rescanned = s.handlings_ended() != seen;
        if (!rescanned) {
            if (waited < interval_ms)
                continue;
            waited = 0;
            if (copy_ended(last) || s.presence_changed()) {
                // The rescan runs on the notification thread; its end brings the next look.
                request_refresh();
                continue;
            }
        }
        // A rescan still running is looked at once it has ended.
        if (handling_running())
            continue;
        seen = s.handlings_ended();
        last = look();
        sinks.deliver(tracker.next(last));
    }
    sinks.finish();
    return exit_ok;
}

}  // namespace ov::cli
