// What the command line prints about a snapshot: the status in words or as one JSON
// document, the one-line summary of a check, and the exit codes both share.
#pragma once

#include <map>
#include <string>

#include "session.h"

namespace ov::cli {

// Exit codes. A status or a check: 0 all healthy (or nothing attached), 1 a mirror
// degraded, out of step or rebuilding, 2 a set broken or a disk not responding, 3 could not
// look. A command: 0 done, 1 refused with nothing written, 2 failed, 3 could not look.
enum exit_code { exit_ok = 0, exit_warning = 1, exit_critical = 2, exit_unknown = 3, exit_usage = 64 };
constexpr int refused = 1;
constexpr int failed = 2;

constexpr int schema_version = 1;

// The worst severity of the controllers shown (all of them, or the one chosen).
int severity(const snapshot& s, int only = -1);

std::string status_text(const snapshot& s, int only = -1);
// One controller, or every one, as the JSON document of `status --json` (one line).
std::string status_json(const snapshot& s, const std::string& backend, int only = -1);
// "RAID WARNING - ...": the monitoring plugin's line.
std::string check_line(const snapshot& s, int only = -1);
// One line about a rebuild: "Bay 1 -> Bay 2: 42.0 %, 85.3 MB/s, 2 h 05 min left".
std::string rebuild_line(const rebuild_view& r);
void rebuild_fields(class json& out, const rebuild_view& r);

// The bay and disk words shared with the monitor's events and the commands.
std::string mode_words(uint32_t mode);
std::string bay_words(int bay);
// say_current: name the half with the current data (not when both halves have it).
std::string disk_words(const bay_summary& bay, bool say_current = true);
std::string bus_words(const controller_view& c);

// Control characters of a disk's or a bridge's text shown as '?', so nothing a device
// says can steer the terminal.
std::string printable_text(const std::string& text);

}  // namespace ov::cli
