#include "events.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "json.h"
#include "panel.h"
#include "report.h"
#include "texts.h"

namespace ov::cli {

namespace {

event about(const controller_view& c, const char* name, bool problem)
{
    event e;
    e.name = name;
    e.problem = problem;
    e.time = std::chrono::system_clock::now();
    e.controller = c.number;
    e.controller_name = c.name;
    e.state = state_name(c.summary.state);
    return e;
}

event about_bay(const controller_view& c, const char* name, bool problem, const bay_summary& bay)
{
    event e = about(c, name, problem);
    e.bay = bay.bay;
    e.serial = bay.serial;
    return e;
}

// A disk that gave its identity: its serial tells it apart from another.
bool identified(const bay_summary& bay)
{
    return bay.content == bay_content::disk || bay.content == bay_content::unknown;
}

bool mute(const bay_summary& bay)
{
    return bay.content == bay_content::silent || bay.content == bay_content::unknown;
}

event not_responding(const controller_view& c, const bay_summary& bay)
{
    event e = about_bay(c, "disk-not-responding", true, bay);
    e.text = bay_words(bay.bay) + ": " + disk_words(bay, false);
    return e;
}

// The event a set entering a state is told by; none for the states told otherwise (a
// rebuild, a disk not responding) or not at all (nothing configured).
const char* state_event(chip_state s)
{
    switch (s) {
    case chip_state::degraded: return "degraded";
    case chip_state::out_of_step: return "out-of-step";
    case chip_state::broken: return "broken";
    case chip_state::healthy: return "healthy";
    default: return nullptr;
    }
}

event state_change(const controller_view& c, const char* name)
{
    const chip_summary& s = c.summary;
    event e = about(c, name, s.state != chip_state::healthy);
    // The mirror half with the data, the one to keep.
    if (s.current_bay != 0)
        e = about_bay(c, name, e.problem, s.bays[s.current_bay - 1]);
    e.text = tr("mon_state", tr(state_key(s.state)));
    return e;
}

const controller_view* by_name(const snapshot& s, const std::string& name)
{
    for (const controller_view& c : s.controllers)
        if (c.name == name)
            return &c;
    return nullptr;
}

rebuild_view rebuild_of(const controller_view& c)
{
    return c.rebuild.value_or(rebuild_view{});
}

std::string target_serial(const controller_view& c, const rebuild_view& r)
{
    return r.target_bay >= 1 && r.target_bay <= 2 ? c.summary.bays[r.target_bay - 1].serial : std::string();
}

int milestone_of(const rebuild_view& r)
{
    if (!r.known || !r.percent)
        return 0;
    return std::min(80, static_cast<int>(std::floor(*r.percent / 20)) * 20);
}

event about_rebuild(const controller_view& c, const char* name, bool problem, int target, const std::string& serial,
                    const rebuild_view& r)
{
    event e = about(c, name, problem);
    e.bay = target;
    e.serial = serial;
    if (r.known)
        e.percent = r.percent;
    return e;
}

std::string direction(const rebuild_view& r)
{
    return tr("ctl_rebuild_direction", bay_words(r.source_bay), bay_words(r.target_bay));
}

std::string bay_change(const char* key, const bay_summary& bay)
{
    return tr(key, bay_words(bay.bay), disk_words(bay, false));
}

}  // namespace

std::vector<event> problems(const snapshot& s)
{
    event_tracker t;
    return t.start(s);
}

std::vector<event> event_tracker::start(const snapshot& s)
{
    std::vector<event> out;
    rebuilds_.clear();
    for (const controller_view& c : s.controllers)
        controller_problems(c, out);
    last_ = s;
    return out;
}

std::vector<event> event_tracker::next(const snapshot& s)
{
    std::vector<event> out;
    for (const controller_view& old : last_.controllers) {
        if (by_name(s, old.name))
            continue;
        event e = about(old, "controller-removed", false);
        e.state.reset();
        e.text = tr("mon_removed", bus_words(old));
        out.push_back(e);
        end_rebuild(old, nullptr, out);
    }
    for (const controller_view& c : s.controllers) {
        if (const controller_view* old = by_name(last_, c.name)) {
            compare(*old, c, out);
            continue;
        }
        event e = about(c, "controller-added", false);
        e.text = tr("mon_added", bus_words(c));
        out.push_back(e);
        controller_problems(c, out);
    }
    last_ = s;
    return out;
}

void event_tracker::controller_problems(const controller_view& c, std::vector<event>& out)
{
    switch (c.summary.state) {
    case chip_state::disk_silent:
        for (const bay_summary& bay : c.summary.bays)
            if (mute(bay))
                out.push_back(not_responding(c, bay));
        return;
    case chip_state::rebuilding:
        begin_rebuild(c, false, out);
        return;
    case chip_state::degraded:
    case chip_state::out_of_step:
    case chip_state::broken:
        out.push_back(state_change(c, state_event(c.summary.state)));
        return;
    case chip_state::healthy:
    case chip_state::not_configured:
        return;
    }
}

void event_tracker::compare(const controller_view& before, const controller_view& now, std::vector<event>& out)
{
    for (int b = 0; b < 2; ++b) {
        const bay_summary& was = before.summary.bays[b];
        const bay_summary& is = now.summary.bays[b];
        const bool gone = was.content != bay_content::empty && is.content == bay_content::empty;
        const bool came = was.content == bay_content::empty && is.content != bay_content::empty;
        // Pulled and another put in between two looks.
        const bool swapped = identified(was) && identified(is) && was.serial != is.serial;
        if (gone || swapped) {
            event e = about_bay(now, "disk-removed", false, was);
            e.text = bay_change("mon_disk_removed", was);
            out.push_back(e);
        }
        if (came || swapped) {
            event e = about_bay(now, "disk-inserted", false, is);
            e.text = bay_change("mon_disk_inserted", is);
            out.push_back(e);
        }
        if (mute(is) && (came || swapped || was.content == bay_content::disk))
            out.push_back(not_responding(now, is));
    }

    const auto it = rebuilds_.find(now.name);
    if (now.summary.state == chip_state::rebuilding) {
        const rebuild_view r = rebuild_of(now);
        if (it != rebuilds_.end() && it->second.source == r.source_bay && it->second.target == r.target_bay &&
            it->second.target_serial == target_serial(now, r)) {
            advance_rebuild(now, it->second, out);
        } else {
            end_rebuild(before, &now, out);
            begin_rebuild(now, true, out);
        }
    } else {
        end_rebuild(before, &now, out);
    }

    const chip_state state = now.summary.state;
    if (state != before.summary.state && state_event(state))
        out.push_back(state_change(now, state_event(state)));
}

// A rebuild seen to begin is told as started; one found running (at start, on a controller
// just attached) by how far it is.
void event_tracker::begin_rebuild(const controller_view& c, bool seen_beginning, std::vector<event>& out)
{
    const rebuild_view r = rebuild_of(c);
    followed f;
    f.source = r.source_bay;
    f.target = r.target_bay;
    f.target_serial = target_serial(c, r);
    f.milestone = milestone_of(r);
    f.last = r;
    if (seen_beginning || !r.complete) {
        event e = about_rebuild(c, seen_beginning ? "rebuild-started" : "rebuild-progress", false, f.target,
                                f.target_serial, r);
        e.text = tr(seen_beginning ? "mon_rebuild_started" : "mon_rebuild_progress", rebuild_line(r));
        out.push_back(e);
    }
    rebuilds_[c.name] = f;
    advance_rebuild(c, rebuilds_[c.name], out);
}

void event_tracker::advance_rebuild(const controller_view& c, followed& f, std::vector<event>& out)
{
    const rebuild_view r = rebuild_of(c);
    const int m = milestone_of(r);
    // Only the last step passed: a look that comes late tells one step, not a burst.
    if (m > f.milestone && !r.complete) {
        event e = about_rebuild(c, "rebuild-progress", false, f.target, f.target_serial, r);
        e.text = tr("mon_rebuild_progress", rebuild_line(r));
        out.push_back(e);
    }
    f.milestone = std::max(f.milestone, m);
    // The bridge's position at its end: told once, though the marks stay until the window
    // or a following rebuild command finishes it.
    if (r.complete && !f.finished) {
        f.finished = true;
        event e = about_rebuild(c, "rebuild-finished", false, f.target, f.target_serial, r);
        e.text = tr("mon_rebuild_finished", direction(r));
        out.push_back(e);
    }
    f.last = r;
}

void event_tracker::end_rebuild(const controller_view& before, const controller_view* now, std::vector<event>& out)
{
    const auto it = rebuilds_.find(before.name);
    if (it == rebuilds_.end())
        return;
    const followed f = it->second;
    rebuilds_.erase(it);
    if (f.finished)
        return;
    const controller_view& c = now ? *now : before;
    // Finished by someone between two looks: healthy with the marks gone.
    if (now && now->summary.state == chip_state::healthy) {
        event e = about_rebuild(c, "rebuild-finished", false, f.target, f.target_serial, f.last);
        e.text = tr("mon_rebuild_finished", direction(f.last));
        out.push_back(e);
        return;
    }
    event e = about_rebuild(c, "rebuild-failed", true, f.target, f.target_serial, f.last);
    if (!now)
        e.state.reset();
    std::string where = direction(f.last);
    if (f.last.known && f.last.percent)
        where += ", " + percent_text(*f.last.percent);
    const std::string why = !now ? tr("mon_reason_removed")
                            : now->summary.state == chip_state::rebuilding ? tr("mon_reason_replaced")
                                                                           : tr(state_key(now->summary.state));
    e.text = tr("mon_rebuild_failed", where, why);
    out.push_back(e);
}

namespace {

std::string prefix(const event& e)
{
    return "[" + e.name + "] " + tr("mon_controller", std::to_string(e.controller), printable_text(e.controller_name)) +
           ": ";
}

}  // namespace

std::string event_log_line(const event& e)
{
    return prefix(e) + printable_text(e.text);
}

std::string event_text_line(const event& e)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(e.time);
    std::tm local{};
    localtime_r(&t, &local);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(when) + " " + event_log_line(e);
}

std::string event_json(const event& e)
{
    const auto since = e.time.time_since_epoch();
    const std::time_t t = std::chrono::system_clock::to_time_t(e.time);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
    std::tm utc{};
    gmtime_r(&t, &utc);
    char when[40];
    const size_t n = std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(when + n, sizeof when - n, ".%03dZ", static_cast<int>(ms < 0 ? ms + 1000 : ms));

    json out;
    out.begin_object().field("schema_version", schema_version).field("event", e.name);
    out.field("level", e.problem ? "warning" : "info").field("time", when);
    out.field("controller_number", e.controller).field("controller", e.controller_name);
    out.key("bay");
    if (e.bay != 0)
        out.value(e.bay);
    else
        out.null();
    out.key("serial");
    if (!e.serial.empty())
        out.value(e.serial);
    else
        out.null();
    out.field("state", e.state).field("percent", e.percent).field("text", e.text);
    out.end_object();
    return out.text();
}

}  // namespace ov::cli
