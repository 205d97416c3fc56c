// What the monitor reports: events found by comparing one snapshot with the next, and the
// problems a snapshot shows on its own (at start, for a controller just attached, and for
// --oneshot). Plain values; nothing here reads a bridge.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "session.h"

namespace ov::cli {

struct event {
    std::string name;                 // "disk-removed", ...: stable, for scripts
    bool problem = false;             // a warning rather than news
    std::chrono::system_clock::time_point time;
    int controller = 0;               // list number at the time of the event
    std::string controller_name;
    int bay = 0;                      // 1 or 2, 0 where no bay matters
    std::string serial;               // the disk's, "" where none matters
    std::optional<double> percent;    // rebuild events
    std::optional<std::string> state; // the controller's state now; none once removed
    std::string text;                 // one line in the user's language
};

// The problems a snapshot shows: a set degraded, out of step or broken, disks not
// responding, and a rebuild with how far it is.
std::vector<event> problems(const snapshot& s);

// Follows snapshots: each call to next() gives the events since the one before, and
// remembers which rebuild milestones and ends were told already.
class event_tracker {
public:
    // The first snapshot: its problems only, nothing is "added".
    std::vector<event> start(const snapshot& s);
    std::vector<event> next(const snapshot& s);

private:
    struct followed {
        int source = 0, target = 0;
        std::string target_serial;
        int milestone = 0;            // the last 20 % step told
        bool finished = false;        // rebuild-finished told
        rebuild_view last;
    };
    void controller_problems(const controller_view& c, std::vector<event>& out);
    void compare(const controller_view& before, const controller_view& now, std::vector<event>& out);
    void begin_rebuild(const controller_view& c, bool seen_beginning, std::vector<event>& out);
    void advance_rebuild(const controller_view& c, followed& f, std::vector<event>& out);
    // now: the controller as it is, null once it is gone.
    void end_rebuild(const controller_view& before, const controller_view* now, std::vector<event>& out);

    snapshot last_;
    std::map<std::string, followed> rebuilds_;
};

// "2026-01-05 12:00:00 [degraded] Controller 1 (NAME): State: ..." (local time).
std::string event_text_line(const event& e);
// The same without the time, as the system log takes it.
std::string event_log_line(const event& e);
// One JSON object on one line, as docs/ovraidctl-json.md describes.
std::string event_json(const event& e);

}  // namespace ov::cli
