#include "health.h"

#include <algorithm>

#include "ovchip.h"
#include "panel.h"

namespace ov {

const char* state_key(chip_state state)
{
    switch (state) {
    case chip_state::healthy: return "state_healthy";
    case chip_state::rebuilding: return "state_rebuilding";
    case chip_state::degraded: return "state_degraded";
    case chip_state::out_of_step: return "state_out_of_step";
    case chip_state::broken: return "state_broken";
    case chip_state::not_configured: return "state_not_configured";
    case chip_state::disk_silent: return "state_disk_silent";
    }
    return "state_not_configured";
}

const char* state_name(chip_state state)
{
    switch (state) {
    case chip_state::healthy: return "healthy";
    case chip_state::rebuilding: return "rebuilding";
    case chip_state::degraded: return "degraded";
    case chip_state::out_of_step: return "out_of_step";
    case chip_state::broken: return "broken";
    case chip_state::not_configured: return "not_configured";
    case chip_state::disk_silent: return "disk_not_responding";
    }
    return "not_configured";
}

int state_severity(chip_state state)
{
    switch (state) {
    case chip_state::healthy:
    case chip_state::not_configured:
        return 0;
    case chip_state::rebuilding:
    case chip_state::degraded:
    case chip_state::out_of_step:
        return 1;
    case chip_state::broken:
    case chip_state::disk_silent:
        return 2;
    }
    return 2;
}

const char* warning_key(record_warning warning)
{
    switch (warning) {
    case record_warning::stamp_not_a_date: return "warning_stamp";
    case record_warning::set_too_large: return "warning_set_size";
    case record_warning::partner_not_printable: return "warning_partner_text";
    case record_warning::mode_forms_no_set: return "warning_mode";
    case record_warning::member_not_bay: return "warning_member";
    case record_warning::serial_shared: return "warning_same_serial";
    }
    return "warning_mode";
}

const char* warning_name(record_warning warning)
{
    switch (warning) {
    case record_warning::stamp_not_a_date: return "stamp_not_a_date";
    case record_warning::set_too_large: return "set_size_does_not_fit";
    case record_warning::partner_not_printable: return "partner_not_printable";
    case record_warning::mode_forms_no_set: return "mode_forms_no_set";
    case record_warning::member_not_bay: return "member_not_bay";
    case record_warning::serial_shared: return "serial_shared";
    }
    return "mode_forms_no_set";
}

namespace {

bool digits(const unsigned char* at, int n, int& value)
{
    value = 0;
    for (int k = 0; k < n; ++k) {
        if (at[k] < '0' || at[k] > '9')
            return false;
        value = value * 10 + (at[k] - '0');
    }
    return true;
}

// "YYYYMMDDhhmmss" naming a day the calendar has.
bool real_date(const unsigned char* stamp)
{
    int f[6] = {};
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    for (int k = 0, at = 0; k < 6; at += widths[k], ++k)
        if (!digits(stamp + at, widths[k], f[k]))
            return false;
    const int year = f[0], month = f[1], day = f[2];
    if (year < 1970 || month < 1 || month > 12 || day < 1 || f[3] > 23 || f[4] > 59 || f[5] > 59)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days[12] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return day <= days[month - 1];
}

// IDENTIFY text: printable ASCII, padded with spaces or NULs.
bool printable(const unsigned char* bytes, int n)
{
    for (int k = 0; k < n; ++k)
        if (bytes[k] != 0 && (bytes[k] < 0x20 || bytes[k] > 0x7e))
            return false;
    return true;
}

bool readable(const ovdisk& disk)
{
    return disk.present && !disk.record_unknown;
}

}  // namespace

std::vector<record_warning> record_warnings(const ovchip& chip, int port)
{
    std::vector<record_warning> out;
    const ovdisk& disk = chip.disks[port];
    const raid_info& record = disk.raid_record;
    if (!readable(disk) || !record.valid())
        return out;
    const uint32_t mode = record.mode();
    if (mode != mode_none && !member_mode(mode)) {
        out.push_back(record_warning::mode_forms_no_set);
        return out;
    }
    if (!member_mode(mode))
        return out;
    if (!real_date(record.stamp))
        out.push_back(record_warning::stamp_not_a_date);
    const ovdisk& other = chip.disks[1 - port];
    // The largest set this disk could hold: with its partner when that is here and of the
    // same set, else the most the disk alone allows (a span's partner is needed to judge).
    uint64_t most = 0;
    const bool paired = readable(other) && other.raid_mode == mode;
    bool judged = true;
    if (paired)
        judged = ovchip::set_size(static_cast<int>(mode), disk.capacity, other.capacity, most);
    else if (mode == mode_raid1)
        judged = ovchip::set_size(static_cast<int>(mode), disk.capacity, disk.capacity, most);
    else if (mode == mode_raid0)
        judged = ovchip::set_size(static_cast<int>(mode), disk.capacity, disk.capacity, most);
    else
        judged = false;
    if ((judged && record.capacity() > most) || (!judged && paired))
        out.push_back(record_warning::set_too_large);
    if (!printable(record.partner_serial, sizeof record.partner_serial) ||
        !printable(record.partner_model, sizeof record.partner_model))
        out.push_back(record_warning::partner_not_printable);
    if (record.member() != static_cast<uint32_t>(port))
        out.push_back(record_warning::member_not_bay);
    // Records name a partner by its serial: with two alike, which half is which is a guess.
    if (readable(other) && !disk.serial.empty() && disk.serial == other.serial)
        out.push_back(record_warning::serial_shared);
    return out;
}

chip_summary summarize(const ovchip& chip)
{
    chip_summary s;
    bool silent = false;
    for (int port = 0; port < 2; ++port) {
        const ovdisk& disk = chip.disks[port];
        bay_summary& bay = s.bays[port];
        bay.bay = port + 1;
        if (!disk.present) {
            bay.content = disk.register_present ? bay_content::silent : bay_content::empty;
            silent = silent || disk.register_present;
            continue;
        }
        bay.model = disk.model;
        bay.serial = disk.serial;
        bay.sectors = disk.capacity;
        bay.addressing = disk.addressing_mode;
        if (disk.record_unknown) {
            bay.content = bay_content::unknown;
            silent = true;
            continue;
        }
        bay.content = bay_content::disk;
        bay.record_mode = disk.raid_mode;
        bay.incomplete_copy = disk.incomplete_copy;
        bay.copy_source_serial = disk.copy_source_serial;
        bay.warnings = record_warnings(chip, port);
    }
    const auto half = [&](int port) {
        return s.bays[port].content == bay_content::disk && s.bays[port].record_mode == mode_raid1;
    };
    const auto current = [&](int port) {
        s.bays[port].current_data = true;
        s.current_bay = port + 1;
    };
    if (silent) {
        s.state = chip_state::disk_silent;
    } else if (chip.raid_configured) {
        s.set_mode = chip.raid_mode;
        s.set_sectors = chip.raid_capacity;
        s.state = chip.rebuilding ? chip_state::rebuilding : chip_state::healthy;
        if (chip.rebuilding) {
            const int source = chip.disks[0].rebuild_flag ? 0 : 1;
            s.bays[source].rebuild_source = true;
            s.bays[1 - source].rebuild_target = true;
            current(source);
        } else if (chip.raid_mode == mode_raid1) {
            // Both halves hold the same data.
            s.bays[0].current_data = s.bays[1].current_data = true;
        }
    } else {
        int halves = 0, others = 0;
        for (int port = 0; port < 2; ++port) {
            if (half(port))
                ++halves;
            else if (s.bays[port].content == bay_content::disk && member_mode(s.bays[port].record_mode))
                ++others;
        }
        const bool stepped = (chip.disks[0].raid1_role != 0 || chip.disks[1].raid1_role != 0) && half(0) && half(1);
        if (halves == 0 && others == 0) {
            s.state = chip_state::not_configured;
        } else if (stepped) {
            s.state = chip_state::out_of_step;
            // Which half is newer is told by the stamps; a stamp that is no date tells nothing,
            // and no half is called current on its word.
            const auto dated = [&](int port) {
                const std::vector<record_warning>& w = s.bays[port].warnings;
                return std::find(w.begin(), w.end(), record_warning::stamp_not_a_date) == w.end();
            };
            // Nor is a half whose partner a note shows written later (beside a half copy of it).
            const int newer = chip.disks[0].raid1_role == 1 ? 0 : 1;
            if (dated(0) && dated(1) && !chip.disks[newer].superseded && !chip.disks[newer].diverged)
                current(newer);
        } else if (others > 0 || halves == 2) {
            // A stripe or span without its partner, or records of sets that are not this pair.
            s.state = chip_state::broken;
        } else {
            const int port = half(0) ? 0 : 1;
            // A partial copy alone is no mirror half at all: nothing here holds the whole set.
            if (s.bays[port].incomplete_copy) {
                s.state = chip_state::broken;
            } else {
                s.state = chip_state::degraded;
                // Without the rebuild notes it may be a half copy, and a half whose partner
                // was written later while it was away is older: neither is called current.
                if (chip.notes_error.empty() && !chip.disks[port].superseded)
                    current(port);
            }
        }
    }
    return s;
}

}  // namespace ov
