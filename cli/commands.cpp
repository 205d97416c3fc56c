// The commands that write: create, delete, clear-disk, rebuild, restart. Each runs the very
// engine operation the window runs, after the same refusals and the same question, and
// then waits for the restarted controller and checks that it shows what was written.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>

#include "clock.h"
#include "commands.h"
#include "json.h"
#include "ovtool.h"
#include "panel.h"
#include "report.h"
#include "texts.h"

namespace ov::cli {

namespace {

// How long a restarted controller may take to come back (system time).
constexpr uint64_t return_ms = 60000;
// The rebuild's position is read as often as the window's poller reads it, and its end is
// believed after as many readings at the end as the poller waits for.
constexpr uint64_t follow_ms = 4000;
constexpr int end_readings = 6;
// A copy that has not moved for this long is stalled (the window says so after a minute too).
constexpr uint64_t stall_ms = 60000;

struct request {
    command what = command::restart;
    uint32_t mode = mode_none;
    int port = 0;           // clear-disk: the bay's port; rebuild: the source's
    bool follow_only = false;   // rebuild --wait without --from
    std::string controller;     // as typed; "" for the only one attached
};

struct outcome {
    int code = exit_ok;
    std::string message;
    int bay = 0;
    std::string serial;
};

bool parse_request(const options& o, request& r, std::string& error)
{
    std::vector<std::string> words = o.words;
    const auto take_last = [&](std::string& into) {
        if (words.empty())
            return false;
        into = words.back();
        words.pop_back();
        return true;
    };
    std::string value;
    if (o.command == "create") {
        r.what = command::create;
        if (!take_last(value)) {
            error = tr("ctl_needs_mode");
            return false;
        }
        if (value == "raid0")
            r.mode = mode_raid0;
        else if (value == "raid1")
            r.mode = mode_raid1;
        else if (value == "span")
            r.mode = mode_span;
        else {
            error = tr("ctl_bad_mode", shown(value));
            return false;
        }
    } else if (o.command == "delete") {
        r.what = command::remove;
    } else if (o.command == "clear-disk") {
        r.what = command::clear_disk;
        if (!take_last(value) || (value != "1" && value != "2")) {
            error = value.empty() ? tr("ctl_needs_bay") : tr("ctl_bad_bay", value);
            return false;
        }
        r.port = value[0] - '1';
    } else if (o.command == "rebuild") {
        r.what = command::rebuild;
        if (o.from_bay == 0 && !o.wait) {
            error = tr("ctl_needs_from");
            return false;
        }
        r.follow_only = o.from_bay == 0;
        r.port = o.from_bay - 1;
    } else {
        r.what = command::restart;
    }
    if (words.size() > 1) {
        error = tr("ctl_too_many_words", o.command);
        return false;
    }
    if (!words.empty())
        r.controller = words[0];
    return true;
}

std::string disk_line(const bay_summary& bay)
{
    return "  " + bay_words(bay.bay) + ": " + disk_words(bay, false);
}

// Exactly what a command will lose, bay by bay.
std::string what_is_lost(const request& r, const controller_view& c)
{
    const std::string who = std::to_string(c.number) + " (" + printable_text(c.name) + ")";
    const chip_summary& s = c.summary;
    switch (r.what) {
    case command::create:
        return tr("ctl_lose_create", tr(mode_key(r.mode)), who) + "\n" + disk_line(s.bays[0]) + "\n" +
               disk_line(s.bays[1]);
    case command::remove:
        return tr("ctl_lose_delete", tr(mode_key(s.set_mode)), who) + "\n" + disk_line(s.bays[0]) + "\n" +
               disk_line(s.bays[1]);
    case command::clear_disk:
        return tr("ctl_lose_clear", bay_words(r.port + 1), who) + "\n" + disk_line(s.bays[r.port]);
    case command::rebuild:
        return tr("ctl_lose_rebuild", bay_words(r.port + 1), bay_words(2 - r.port)) + "\n" +
               disk_line(s.bays[1 - r.port]);
    case command::restart:
        return tr("ctl_restart_what", who);
    }
    return {};
}

// The question of the window, on a terminal. --yes answers the plain ones; one whose safe
// answer is No (a rebuild from the older half, stopping a running rebuild) needs --force.
bool agreed(const options& o, const question& q, const std::string& lost, outcome& out)
{
    if (q.text.empty())
        return true;
    if (o.yes && (!q.no_by_default || o.force))
        return true;
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    if (!terminal) {
        out.code = refused;
        out.message = q.no_by_default ? tr("ctl_needs_force") : tr("ctl_needs_yes");
        return false;
    }
    std::fprintf(stderr, "%s\n\n%s\n%s ", lost.c_str(), render(q.text).c_str(), tr("ctl_prompt").c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        answer.clear();
    for (char& ch : answer)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (answer == "y" || answer == "yes" || answer == "j" || answer == "ja")
        return true;
    out.code = refused;
    out.message = tr("ctl_not_done");
    return false;
}

// Ctrl-C, a hang-up or a kill during a write waits until the write is over (or put back):
// a record half written is worse than any delay. Outside a write they end the program as
// always. (Any thread may take a signal, so it is caught, not blocked.)
std::atomic<bool> writing{false};
std::atomic<int> held_signal{0};

void end_by(int sig)
{
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    sigaction(sig, &plain, nullptr);
    raise(sig);
}

void on_signal(int sig)
{
    if (writing) {
        held_signal = sig;
        return;
    }
    end_by(sig);
}

class signals_held {
public:
    signals_held()
    {
        struct sigaction action {};
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            sigaction(sig, &action, nullptr);
        writing = true;
    }
    ~signals_held()
    {
        writing = false;
        if (const int sig = held_signal.exchange(0))
            end_by(sig);
    }
};

// Runs the engine operation with the chip list held still, as a window command does.
bool execute(const request& r, const controller_t& identity, write_report& report)
{
    const signals_held held;
    const int index = j.get_controller_num(identity);
    if (index < 0)
        return false;
    ovchip& chip = j.chips[static_cast<size_t>(index)];
    // The engine's restart acts on the selected controller. The selection lasts only while
    // the command holds the list: a rescan with a selection would select the chip, and a
    // selection may degrade a lone mirror half, which only the window's user asks for.
    j.current = identity;
    bool ok = false;
    switch (r.what) {
    case command::create: ok = j.build_raid(index, static_cast<int>(r.mode)); break;
    case command::remove: ok = j.clear_raid(index); break;
    case command::clear_disk: ok = chip.clear_disk(r.port == 1); break;
    case command::rebuild: ok = chip.rebuild(r.port == 1); break;
    case command::restart: ok = j.warm_boot(); break;
    }
    j.current.clear();
    report = chip.last_write;
    return ok;
}

outcome failure(command what, const write_report& report)
{
    outcome out;
    // Refused, nothing written: a disk that is not the one shown, or that did not answer,
    // or a rebuild whose note could not be kept.
    const bool untouched = report.fault == write_fault::disk_changed || report.fault == write_fault::disk_unknown ||
                           report.fault == write_fault::note_failed || report.fault == write_fault::none;
    out.code = untouched && !report.restore_failed ? refused : failed;
    // The records are written and flushed; only the restart that puts them in effect failed.
    if (report.fault == write_fault::restart_failed && !report.plain_restart && !report.restore_failed)
        out.message = tr("ctl_written_no_restart");
    else
        out.message = render(failure_of(what, report));
    if (report.restore_failed) {
        out.bay = report.restore_bay;
        out.serial = report.restore_serial;
    } else {
        out.bay = report.bay;
        out.serial = report.serial;
    }
    return out;
}

// Ends a copy that reached its end: the marks cleared on both disks and the notes dropped,
// then a rescan must show the mirror whole, or the bays that still carry a mark are named.
void finish(session& s, const controller_t& identity, outcome& out)
{
    {
        std::lock_guard<std::mutex> handling(j.handling);
        const signals_held held;
        const int chip = j.get_controller_num(identity);
        if (chip >= 0)
            j.chips[static_cast<size_t>(chip)].finish_rebuild();
    }
    s.rescan();
    const snapshot now = s.look(false);
    const int index = find_identity(now, identity);
    if (index >= 0 && now.controllers[static_cast<size_t>(index)].summary.state == chip_state::healthy) {
        out.message = tr("rebuild_finished");
        return;
    }
    out.code = failed;
    out.message = tr("ctl_finish_failed");
    if (index < 0)
        return;
    for (const bay_summary& bay : now.controllers[static_cast<size_t>(index)].summary.bays)
        if (bay.rebuild_source) {
            out.bay = bay.bay;
            out.serial = bay.serial;
            out.message += " " + tr("ctl_mark_left", bay_words(bay.bay), printable_text(bay.serial));
        }
}

// Whether the controller came back showing what the command wrote.
bool as_written(const request& r, const controller_view& c)
{
    const chip_summary& s = c.summary;
    switch (r.what) {
    case command::create: return s.set_mode == r.mode;
    case command::remove: return s.set_mode == mode_none && s.bays[0].record_mode == 0 && s.bays[1].record_mode == 0;
    case command::clear_disk: return s.bays[r.port].content == bay_content::disk && s.bays[r.port].record_mode == 0;
    case command::rebuild: return s.state == chip_state::rebuilding || s.state == chip_state::healthy;
    case command::restart: return true;
    }
    return true;
}

void print_progress(const options& o, const controller_view& c, bool terminal)
{
    const rebuild_view& r = *c.rebuild;
    if (o.json) {
        json out;
        out.begin_object().field("event", "rebuild-progress").field("controller", c.name);
        rebuild_fields(out, r);
        out.end_object();
        std::printf("%s\n", out.text().c_str());
    } else if (terminal) {
        std::printf("\r\033[K%s", rebuild_line(r).c_str());
    } else {
        std::printf("%s\n", rebuild_line(r).c_str());
    }
    std::fflush(stdout);
}

// Follows a running rebuild to its end and finishes it as the window's poller does. A copy
// that stops (a disk pulled, the controller gone) or stands still for a minute, or a bridge
// that stops telling its position for that long, ends the following with a failure.
outcome follow_rebuild(session& s, const options& o, const controller_t& identity)
{
    outcome out;
    std::map<std::string, rebuild_rate> rates;
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    int at_end = 0, still = 0;
    std::optional<double> shown;
    uint64_t last_position = UINT64_MAX;
    for (;;) {
        // A disk pulled or put in shows only in the presence registers: rescan first.
        if (s.presence_changed())
            s.rescan();
        const snapshot now = s.look(rates);
        const int index = find_identity(now, identity);
        if (index < 0) {
            out.code = failed;
            out.message = tr("ctl_rebuild_left");
            break;
        }
        const controller_view& c = now.controllers[static_cast<size_t>(index)];
        if (c.summary.state != chip_state::rebuilding) {
            out.code = failed;
            out.message = tr("ctl_rebuild_stopped", tr(state_key(c.summary.state)));
            break;
        }
        const bool known = c.rebuild && c.rebuild->known;
        if (known) {
            // A pipe gets a line per whole percent; a terminal and JSON every reading.
            const double percent = c.rebuild->percent.value_or(0);
            if (terminal || o.json || !shown || static_cast<int>(percent) != static_cast<int>(*shown))
                print_progress(o, c, terminal);
            shown = percent;
            at_end = c.rebuild->complete ? at_end + 1 : 0;
        }
        const uint64_t position = known ? c.rebuild->current : UINT64_MAX;
        still = known && c.rebuild->complete ? 0 : position == last_position || !known ? still + 1 : 0;
        last_position = position;
        if (static_cast<uint64_t>(still) * follow_ms >= stall_ms) {
            out.code = failed;
            out.message = tr(known ? "ctl_rebuild_stalled" : "ctl_rebuild_silent");
            break;
        }
        if (at_end >= end_readings) {
            finish(s, identity, out);
            break;
        }
        pause_ms(follow_ms);
    }
    if (terminal && !o.json && shown)
        std::printf("\n");
    return out;
}

void report(const options& o, const std::string& command_name, const std::string& name, const outcome& out,
            session& s, const controller_t* identity = nullptr)
{
    const snapshot now = s.look();
    const int index = identity ? find_identity(now, *identity) : -1;
    if (o.json) {
        const char* results[] = {"done", "refused", "failed", "unknown"};
        json doc;
        doc.begin_object().field("schema_version", schema_version).field("command", command_name);
        doc.field("controller", name).field("result", results[out.code >= 0 && out.code <= 3 ? out.code : 2]);
        doc.field("message", out.message);
        doc.key("bay");
        out.bay ? doc.value(out.bay) : doc.null();
        doc.key("serial");
        out.serial.empty() ? doc.null() : doc.value(out.serial);
        doc.key("status");
        if (index >= 0)
            doc.raw(status_json(now, s.description(), index));
        else
            doc.null();
        doc.end_object();
        std::printf("%s\n", doc.text().c_str());
        return;
    }
    if (!out.message.empty())
        std::fprintf(out.code == exit_ok ? stdout : stderr, "%s%s\n", out.code == exit_ok ? "" : "ovraidctl: ",
                     out.message.c_str());
    if (out.code == exit_ok && index >= 0)
        std::printf("%s", status_text(now, index).c_str());
}

}  // namespace

int run_command(session& s, const options& o)
{
    request r;
    std::string error;
    if (!parse_request(o, r, error))
        return usage_error(error);
    if (!s.follow()) {
        std::fprintf(stderr, "ovraidctl: %s\n", tr("ctl_list_unreadable").c_str());
        return exit_unknown;
    }
    const snapshot before = s.look(false);
    int index = -1;
    if (!r.controller.empty())
        index = find_controller(before, r.controller);
    else if (before.controllers.size() == 1 && before.unreadable == 0)
        index = 0;
    if (index < 0) {
        outcome out;
        out.code = exit_unknown;
        out.message = !r.controller.empty()      ? (index == -2   ? tr("ctl_ambiguous", shown(r.controller))
                                                    : index == -3 ? tr("ctl_number_unsure", shown(r.controller))
                                                                  : tr("ctl_no_such_controller", shown(r.controller)))
                      : before.controllers.empty() ? tr("ctl_no_enclosure")
                                                   : tr("ctl_name_controller");
        report(o, o.command, r.controller, out, s);
        return out.code;
    }
    const controller_view& c = before.controllers[static_cast<size_t>(index)];
    // From here on the controller is the one with this identity, whatever its name.
    const controller_t identity = c.identity;
    const std::string name = c.name;
    outcome out;
    if (r.follow_only) {
        if (c.summary.state != chip_state::rebuilding) {
            out.code = refused;
            out.message = tr("ctl_no_rebuild_running");
        } else {
            out = follow_rebuild(s, o, identity);
        }
        report(o, o.command, name, out, s, &identity);
        return out.code;
    }
    uint64_t handlings = 0;
    {
        std::unique_lock<std::mutex> handling(j.handling);
        const int chip_index = j.get_controller_num(identity);
        if (chip_index < 0) {
            out.code = exit_unknown;
            out.message = tr("ctl_no_such_controller", name);
        } else {
            const ovchip& chip = j.chips[static_cast<size_t>(chip_index)];
            // What the user is asked about is what the command acts on: the list stays still
            // from the question to the write.
            controller_view fresh = c;
            fresh.summary = summarize(chip);
            const panel_text why = refusal(chip, r.what, r.port, r.mode);
            if (!why.empty()) {
                out.code = refused;
                out.message = render(why);
            } else if (agreed(o, question_before(chip, r.what, r.port), what_is_lost(r, fresh), out)) {
                handlings = s.handlings_ended();
                write_report written;
                if (!execute(r, identity, written))
                    out = failure(r.what, written);
            }
        }
    }
    if (out.code != exit_ok) {
        report(o, o.command, name, out, s, &identity);
        return out.code;
    }
    // The controller restarts: wait for its return and see that it shows what was written.
    const bool back = pause_until(
        [&] {
            if (j.warm_boot_pending || s.handlings_ended() <= handlings)
                return false;
            return find_identity(s.look(false), identity) >= 0;
        },
        static_cast<int>(return_ms / 10));
    if (!back) {
        out.code = failed;
        out.message = tr("ctl_not_back");
    } else {
        const snapshot after = s.look(false);
        const controller_view& now = after.controllers[static_cast<size_t>(find_identity(after, identity))];
        // A bay the write went to that does not answer now: what it holds is not seen, whatever
        // the rest shows (a delete's missing record reads like a silent disk's).
        const auto unread =
            std::find_if(std::begin(now.summary.bays), std::end(now.summary.bays), [&](const bay_summary& b) {
                return (b.content == bay_content::silent || b.content == bay_content::unknown) &&
                       r.what != command::restart && (r.what != command::clear_disk || b.bay == r.port + 1);
            });
        if (unread != std::end(now.summary.bays)) {
            // Not seen is not seen otherwise: which bay kept the check from being made.
            out.code = failed;
            out.bay = unread->bay;
            out.serial = unread->serial;
            out.message = tr("ctl_not_checked", bay_words(unread->bay));
        } else if (!as_written(r, now)) {
            out.code = failed;
            // What it shows instead, so that a change made meanwhile by someone else is recognised.
            std::string shows = tr(state_key(now.summary.state));
            if (now.summary.set_mode != mode_none)
                shows += ", " + mode_words(now.summary.set_mode);
            out.message = tr("ctl_not_as_written", shows);
        } else if (r.what == command::rebuild && o.wait && now.summary.state == chip_state::rebuilding) {
            out = follow_rebuild(s, o, identity);
        } else {
            out.message = tr("ctl_done");
        }
    }
    report(o, o.command, name, out, s, &identity);
    return out.code;
}

}  // namespace ov::cli
