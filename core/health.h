// A chip's state in plain words for the front ends that summarise it (the command line,
// the monitor): one state for the set, what each bay holds, which disk has the current
// data, and what looks wrong in a disk's record. Decided from what a scan read; nothing
// here reads or writes a disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ov {

class ovchip;

enum class chip_state {
    healthy,         // a set the bridge presents, not copying
    rebuilding,      // a mirror whose bridge copies one half onto the other
    degraded,        // a mirror half without its partner (bay empty, or a disk that is no member)
    out_of_step,     // both mirror halves present, their records written at different times
    broken,          // a stripe or span without its partner, records that form no set, or only a partial copy
    not_configured,  // no disk carries a record of a set
    disk_silent,     // a disk is there but does not answer, or its record could not be read
};

// The key of a state's words in the string table, and its name in JSON.
const char* state_key(chip_state state);
const char* state_name(chip_state state);

// How bad a state is, as a monitoring check counts: 0 OK, 1 WARNING, 2 CRITICAL.
int state_severity(chip_state state);

// Something in a disk's record that a healthy record never shows. Reading stays as it is;
// these only inform.
enum class record_warning {
    stamp_not_a_date,       // the stamp is not a real date and time
    set_too_large,          // the set size cannot fit on this disk (and its partner)
    partner_not_printable,  // the partner's model or serial holds bytes that are not text
    mode_forms_no_set,      // a record whose mode is none of stripe, mirror, span or none
    member_not_bay,         // the member number is not the bay the disk sits in
    serial_shared,          // the other disk reports the same serial: records cannot tell them apart
};
const char* warning_key(record_warning warning);
const char* warning_name(record_warning warning);

enum class bay_content {
    empty,      // nothing in the bay
    silent,     // a disk is there but does not answer
    unknown,    // the disk answers, its record could not be read
    disk,       // a disk, identified and its record read
};

struct bay_summary {
    int bay = 0;                    // 1 or 2, as printed on the enclosure
    bay_content content = bay_content::empty;
    std::string model, serial;
    uint64_t sectors = 0;
    uint32_t addressing = 0;        // addressing_lba48, _lba28 or _chs
    uint32_t record_mode = 0;       // 0 without a record of a set
    bool current_data = false;      // a mirror half holding the current data
    bool rebuild_source = false, rebuild_target = false;
    bool incomplete_copy = false;   // a copy onto it was cut short; never a source
    std::string copy_source_serial;
    std::vector<record_warning> warnings;
};

struct chip_summary {
    chip_state state = chip_state::not_configured;
    uint32_t set_mode = 0;          // the mode of the set the bridge presents, 0 for none
    uint64_t set_sectors = 0;
    int current_bay = 0;            // the bay with the current data of a mirror; 0 none or both
    bay_summary bays[2];
};

chip_summary summarize(const ovchip& chip);

// The record's own faults, judged against the disk it was read from and its partner
// (nullptr when the other bay holds no readable disk).
std::vector<record_warning> record_warnings(const ovchip& chip, int port);

}  // namespace ov
