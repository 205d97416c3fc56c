// What any front end shows for one chip: every text by its key in the string table, the
// actions it offers, the notices that are due, and the questions and failures around each
// command. Plain values decided from the engine's state; a window binds them to widgets,
// a command line prints them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "safety.h"

namespace ov {

class ovchip;
class controller_t;

// One piece of a shown text: a key of the string table whose %1 and %2 are filled from
// args, or a literal (a model name, a serial number, a size).
struct text_piece {
    std::string key;
    std::vector<std::string> args;
    bool literal = false;
    bool operator==(const text_piece&) const = default;
};
// The pieces are shown one after the other: a mode text and its suffixes.
using panel_text = std::vector<text_piece>;

using lookup_fn = std::function<std::string(const std::string& key)>;
// The text as shown, each key looked up in the installed string table (or in lookup).
std::string render(const panel_text& text);
std::string render(const panel_text& text, const lookup_fn& lookup);

// Sizes in the units of the host: powers of ten (decimal) or of two. The physical size of
// a disk never says TB; a capacity caption does from 1000 GB on.
std::string physical_size_text(uint64_t sectors, bool decimal);
std::string capacity_text(uint64_t sectors, bool decimal);

// The key of a mode's name; a mode that builds no set is "not_config".
const char* mode_key(uint32_t mode);
// A mode that makes a disk a member of a set (stripe, mirror, span).
bool member_mode(uint32_t mode);

// The four rows of a new set: stripe, mirror, span, none. The mirror is chosen at start, so
// create can never mean delete; the fourth row sends no mode (0).
constexpr int mode_rows = 4;
constexpr int first_row = 1;
uint32_t mode_of_row(int row);

// What the user may do. clear and rebuild are by port; rebuild[p] copies disk p onto the other.
struct panel_actions {
    bool create = false, remove = false, restart = false;
    bool clear[2] = {false, false};
    bool rebuild[2] = {false, false};
    bool operator==(const panel_actions&) const = default;
};

struct disk_view {
    panel_text model, serial, size;  // the disk page
    panel_text size_detail;          // the exact bytes and sectors behind size
    panel_text capacity_detail;      // the same behind capacity
    panel_text mode;                 // with its suffixes: disk page, tooltips
    panel_text rebuild_mode;         // the bare mode: rebuild tab
    panel_text marker;               // under the picture: old, new or a partial copy
    bool picture = false;            // the picture shows, with these three beside it
    panel_text caption, capacity, picture_mode;
};

// Why each action is closed, in the user's words; empty for an open one.
struct action_reasons {
    panel_text create, remove, restart;
    panel_text clear[2];
    panel_text rebuild[2];   // by source port
};

struct panel_state {
    bool chip = false;               // a chip is shown (and with it the device tree)
    disk_view disks[2];              // a configured set shows its capacity in picture 0
    panel_text set_mode;             // the configured set's mode, and whether it rebuilds
    panel_actions actions;
    action_reasons closed;           // for every action not offered, why
    std::vector<std::string> notices;   // alert keys, in the order they are shown
    bool rebuild_tab = false;        // the rebuild tab comes forward
    bool follow_rebuild = false;     // the running copy is followed with a progress bar
    int rebuild_mark = -1;           // the port the copy runs from: its arrow is marked
};

struct panel_options {
    int row = first_row;             // the chosen row of a new set
    bool decimal = true;             // the host's size units
};

// nullptr: no chip is selected, nothing shows and nothing is offered.
panel_state panel_of(const ovchip* chip, const panel_options& options = {});

// The rules panel_of is made of, for the commands and guards that need one alone.
bool unknown_disk(const ovchip& chip, int port);   // there, but silent or its record unread
bool pair_writable(const ovchip& chip);            // both disks answer and are known
bool rebuild_running(const ovchip& chip);
bool rebuild_offered(const ovchip& chip, int source);
// A mirror half whose partner (serial given back) has been a rebuild's source since this
// half's record was written: it holds older data than that partner, wherever it is.
bool superseded_half(const ovchip& chip, int port, std::string& partner);
bool mode_conflict(const ovchip& chip);            // two known disks with records, no set
bool rebuild_tab_allowed(const ovchip* chip);

enum class command { create, remove, clear_disk, rebuild, restart };

// Asked before a command; an empty text asks nothing. no_by_default: Enter answers No.
struct question {
    panel_text text;
    bool no_by_default = false;
};
// port: the disk cleared, or the source of a rebuild.
question question_before(const ovchip& chip, command c, int port = 0);
// The alert of a command that did not complete: what failed, then the engine's words.
panel_text failure_of(command c, const write_report& report);

// Why a command cannot run on this chip now, in the user's words; empty when it can. The
// same rules as the actions panel_of offers (port: the disk cleared, or a rebuild's source;
// mode: the set a create makes).
panel_text refusal(const ovchip& chip, command c, int port = 0, uint32_t mode = mode_raid1);

// A rebuild status as a percentage; none for a status that measures nothing or runs past
// twice its total. Below the final value it holds at 99.0.
std::optional<double> progress_percent(uint64_t total, uint64_t current, bool final);
std::string percent_text(double percent);

// The controller list's entry for a chip: its name and its USB serial or FireWire GUID.
std::string controller_entry(const ovchip& chip);
// The enclosure in the words of every new text: its bus and its serial or its GUID in all
// sixteen digits.
panel_text enclosure_name(const controller_t& identity);
// "Bay N: model, S/N serial" of the disk in a port.
panel_text bay_disk(int port, const std::string& model, const std::string& serial);
// The exact size of a disk or set, in bytes and sectors.
panel_text size_detail(uint64_t sectors);

}  // namespace ov
