#include "ovchip.h"


#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "clock.h"
#include "diag.h"
#include "library.h"
#include "ovtool.h"
#include "registry.h"
#include "requests.h"
#include "threads.h"

namespace ov {

namespace {

using lock = std::lock_guard<std::mutex>;

bool fw_entry_points(const ovchip& chip, const ovdisk& disk)
{
    return chip.identity.is_firewire && disk.addressing_mode == addressing_lba48;
}

// Whether the two records name each other as partners, as the halves of one set do.
bool name_each_other(const ovdisk& a, const ovdisk& b)
{
    return str_equal(a.partner_serial, b.serial_raw, 20) && str_equal(b.partner_serial, a.serial_raw, 20);
}

}  // namespace

// ---- reading ----------------------------------------------------------------------

bool ovchip::read_sector(bool port, uint64_t lba, unsigned char* buffer)
{
    const ovdisk& disk = disks[port];
    int rc;
    {
        lock guard(j.mutex);
        rc = fw_entry_points(*this, disk)
                 ? library().ovGetRaidInfoFW(service, buffer, 512, lba, port)
                 : library().ovGetRaidInfo(service, buffer, 512, lba, port, disk.addressing_flag());
    }
    return rc == 0;
}

// A sector read twice with the same answer: what a restore writes back must be what the
// disk held, not a read that went wrong on the way.
bool ovchip::read_backup(bool port, uint64_t lba, unsigned char* buffer)
{
    unsigned char again[512] = {};
    return read_sector(port, lba, buffer) && read_sector(port, lba, again) && std::memcmp(buffer, again, 512) == 0;
}

void ovchip::read_raid_info()
{
    read_raid_info_disk(false);
    read_raid_info_disk(true);
    read_raid_combined_info();
}

void ovchip::read_raid_info_disk(bool port)
{
    ovdisk& disk = disks[port];
    if (!disk.present)
        return;
    uint64_t lba = 0;
    unsigned char buffer[512] = {};
    bool ok = false;
    // A disk too small to hold a record at capacity - 15 holds none.
    disk.record_unknown = false;
    if (disk.record_lba(lba)) {
        ok = read_sector(port, lba, buffer);
        disk.raid_record = raid_info::of(buffer);
        // A read that failed says nothing about the disk: unknown, never "no record".
        disk.record_unknown = !ok;
    }
    const raid_info& record = disk.raid_record;
    if (ok && record.valid()) {
        disk.raid_mode = record.mode();
        if (record.source())
            disk.rebuild_flag = true;
        disk.record_capacity = record.capacity();
        std::memcpy(disk.record_stamp, record.stamp, sizeof record.stamp);
        std::memcpy(disk.partner_model, record.partner_model, sizeof record.partner_model);
        std::memcpy(disk.partner_serial, record.partner_serial, sizeof record.partner_serial);
    } else {
        disk.raid_mode = 0;
        diag(diag_level::trace, "disk port no " + inttostring(port ? 1 : 0) + " mode made zero");
    }
}

void ovchip::read_raid_combined_info()
{
    const auto member_mode = [](uint32_t m) { return m == mode_raid0 || m == mode_raid1 || m == mode_span; };

    for (int d = 0; d < 2; ++d) {
        ovdisk& disk = disks[d];
        const ovdisk& other = disks[1 - d];
        disk.partner_mismatch = false;
        if (disk.present && (disk.raid_mode == mode_raid0 || disk.raid_mode == mode_span)) {
            if (!other.present || other.raid_mode != disk.raid_mode ||
                !str_equal(disk.partner_model, other.model_raw, 40) ||
                !str_equal(disk.partner_serial, other.serial_raw, 20))
                disk.partner_mismatch = true;
        }
    }
    mark_incomplete_copies();
    for (int d = 0; d < 2; ++d) {
        ovdisk& disk = disks[d];
        const ovdisk& other = disks[1 - d];
        disk.degrade_needed = false;
        // Never next to a disk that could not be judged (it may be the partner, silent for
        // a moment), and never for a partial copy, which must not become a set of its own.
        if (disk.present && !(other.present && member_mode(other.raid_mode)) && disk.raid_mode == mode_raid1 &&
            !partner_unknown(d == 1) && !disk.incomplete_copy && !disk.superseded && notes_error.empty())
            disk.degrade_needed = true;
    }
    raid1_pair_present = false;
    if (((disks[0].present && disks[0].raid_mode == mode_raid1) ||
         (disks[1].present && disks[1].raid_mode == mode_raid1)) &&
        disks[0].present && disks[1].present)
        raid1_pair_present = true;
    disks[0].raid1_role = 0;
    disks[1].raid1_role = 0;

    // Mode 3 is never written and never forms a set, like any other non-member mode.
    if (!(disks[0].present && disks[1].present && member_mode(disks[0].raid_mode) &&
          disks[0].raid_mode == disks[1].raid_mode && !disks[0].partner_mismatch && !disks[1].partner_mismatch)) {
        raid_configured = false;
        return;
    }
    // A partial copy holds no whole set: beside any disk it forms none and holds no current
    // data, whatever the stamps say (two copies of one disk cut short carry the stamps of
    // their rebuilds, which may be one and the same second). A whole half beside it has.
    if (disks[0].raid_mode == mode_raid1 && (disks[0].incomplete_copy || disks[1].incomplete_copy)) {
        raid_configured = false;
        for (int d = 0; d < 2; ++d)
            disks[d].raid1_role = !disks[d].incomplete_copy && disks[1 - d].incomplete_copy ? 1 : 0;
        return;
    }
    const int marks = (disks[0].rebuild_flag ? 1 : 0) + (disks[1].rebuild_flag ? 1 : 0);
    // Each half written alone: no set, whatever the stamps say (they may even be equal), and
    // neither is the newer.
    if (marks == 0 && disks[0].diverged) {
        raid_configured = false;
        disks[0].raid1_role = disks[1].raid1_role = 2;
        return;
    }
    if (marks != 1 && disks[0].raid_mode == mode_raid1) {
        const int order = compare_stamps(disks[0].record_stamp, disks[1].record_stamp);
        if (order != 0) {
            raid_configured = false;
            disks[0].raid1_role = order > 0 ? 1 : 2;
            disks[1].raid1_role = order > 0 ? 2 : 1;
            return;
        }
    }
    // Only two halves of one mirror form it: one stamp is no set when the records do not name
    // each other (survivors of two mirrors, each marked one second on by its bridge, share
    // one), and a source left flagged from another set is never taken to be copying over a
    // disk its record does not name.
    if (marks <= 1 && disks[0].raid_mode == mode_raid1 && !name_each_other(disks[0], disks[1])) {
        raid_configured = false;
        return;
    }
    raid_capacity = disks[0].record_capacity;
    raid_configured = true;
    rebuilding = false;
    raid_mode = disks[0].raid_mode;
    // Only a mirror is rebuilt: a stray mark on a stripe or span is not followed.
    if (marks == 1 && raid_mode == mode_raid1) {
        rebuilding = true;
        polling = true;
    }
}

void ovchip::mark_incomplete_copies()
{
    // Read once for both disks: a record reading runs on every scan and selection.
    notes_error.clear();
    std::vector<rebuild_note> notes;
    rebuild_notes::read(notes, notes_error);
    const bool pair = disks[0].present && disks[1].present && disks[0].raid_mode == mode_raid1 &&
                      disks[1].raid_mode == mode_raid1;
    const auto alone_both = [&](const ovdisk& a, const ovdisk& b) {
        return rebuild_notes::diverged(notes, a.serial, a.stamp_text(), b.serial, b.stamp_text());
    };
    const bool diverged = pair && (alone_both(disks[0], disks[1]) || alone_both(disks[1], disks[0]));
    for (int d = 0; d < 2; ++d) {
        ovdisk& disk = disks[d];
        const ovdisk& other = disks[1 - d];
        disk.diverged = diverged;
        disk.incomplete_copy = false;
        disk.copy_source_serial.clear();
        disk.superseded = disk.present && disk.raid_mode == mode_raid1 &&
                          rebuild_notes::superseded(notes, disk.partner_serial_text(), disk.stamp_text());
        const auto note = std::find_if(notes.begin(), notes.end(), [&](const rebuild_note& n) {
            return !disk.serial.empty() && n.target_serial == disk.serial;
        });
        // A mirror record on a disk a copy was going to: a half copy, whichever enclosure it
        // sits in, unless its source is beside it still marked for a copy onto this disk, so
        // the copy goes on. A source rewritten meanwhile (degraded while it stood alone, or
        // rebuilt onto another disk) no longer backs the copy, and without this the half
        // copy would pass for the second half of its mirror.
        if (!disk.present || disk.raid_mode != mode_raid1 || disk.rebuild_flag)
            continue;
        // A source beside it still marked for a copy onto it says so on the disks themselves
        // (whoever's notes these are), unless the two records still name each other, as a copy
        // under way has them. A copy target rewritten alone since (degraded by a front end that
        // had no note of the copy) is no more than it was.
        const bool copied_onto = other.present && other.raid_mode == mode_raid1 && other.rebuild_flag &&
                                 str_equal(other.partner_serial, disk.serial_raw, 20);
        const bool under_way = copied_onto && name_each_other(disk, other);
        if (under_way || (!copied_onto && (note == notes.end() || note->degrade)))
            continue;
        // Finished since, by a front end other than the note's (the note stays with its owner):
        // both halves unmarked, naming each other, carrying the copy's stamp.
        if (!copied_onto && other.present && other.serial == note->source_serial && !other.rebuild_flag &&
            other.raid_mode == mode_raid1 && name_each_other(disk, other) && disk.stamp_text() == note->stamp &&
            other.stamp_text() == note->stamp)
            continue;
        disk.incomplete_copy = true;
        disk.copy_source_serial = copied_onto ? other.serial : note->source_serial;
    }
}

std::string ovchip::get_raid_name() const
{
    device_registry& reg = registry();
    registry_entry entry = service;
    for (int level = 0; level < 3 && entry != 0; ++level)
        entry = reg.first_child(entry);
    // A chain that ends early names nothing rather than some intermediate entry.
    return entry != 0 ? reg.name(entry) : std::string();
}

bool ovchip::retrievediskinformation()
{
    unsigned char reg0[512] = {}, reg1[512] = {};
    int rc0, rc1;
    {
        lock guard(j.mutex);
        rc0 = library().ovGetRegister(service, reg0, 512, 4, reg_port0_presence);
        pause_ms(2000);
        rc1 = library().ovGetRegister(service, reg1, 512, 4, reg_port1_presence);
    }
    // Kept so a disk that is there but silent is not taken for an empty port.
    disks[0].register_present = rc0 >= 0 && reg0[0] != 0;
    disks[1].register_present = rc1 >= 0 && reg1[0] != 0;

    unsigned char id0[512] = {}, id1[512] = {};
    int r0, r1;
    {
        lock guard(j.mutex);
        r0 = library().ovGetDiskIdentify(service, id0, 512, 0);
    }
    if (r0 == 0 && identify_signed(id0)) {
        diag(diag_level::trace, "disk 0 gave a response");
        disks[0].initialize(id0);
    }
    {
        lock guard(j.mutex);
        r1 = library().ovGetDiskIdentify(service, id1, 512, 1);
    }
    if (r1 == 0 && identify_signed(id1)) {
        diag(diag_level::trace, "disk 1 gave a response");
        disks[1].initialize(id1);
    }
    if (r0 >= 0 && identify_signed(id0))
        disks[0].present = true;
    if (r1 >= 0 && identify_signed(id1))
        disks[1].present = true;
    return true;
}

// ---- one record sector written and read back, and what writes rely on ------------------

bool ovchip::execute_set_raid_info(const raid_info& record, int64_t lba, bool port)
{
    const ovdisk& disk = disks[port];
    const bool fw = fw_entry_points(*this, disk);
    const uint64_t sector = static_cast<uint64_t>(lba);
    unsigned char readback[512] = {};
    // Write and read-back under one lock: no other command may come between them.
    lock guard(j.mutex);
    int rc = fw ? library().ovSetRaidInfoFW(service, record.data(), 512, sector, port)
                : library().ovSetRaidInfo(service, record.data(), 512, sector, port, disk.addressing_flag());
    if (rc != 0)
        return false;
    rc = fw ? library().ovGetRaidInfoFW(service, readback, 512, sector, port)
            : library().ovGetRaidInfo(service, readback, 512, sector, port, disk.addressing_flag());
    if (rc != 0)
        return false;
    return std::memcmp(readback, record.data(), 512) == 0;
}

bool ovchip::set_size(int mode, uint64_t c0, uint64_t c1, uint64_t& size)
{
    const uint64_t smaller = c0 < c1 ? c0 : c1;
    switch (mode) {
    case mode_raid0:
        if (smaller < 16)
            return false;
        size = 2 * smaller - 32;
        return true;
    case mode_raid1:
        if (smaller < 16)
            return false;
        size = smaller - 16;
        return true;
    case mode_span:
        if (c0 + c1 < c0 || c0 + c1 < 65568)
            return false;
        size = c0 + c1 - 65568;
        return true;
    default:
        return false;
    }
}

void ovchip::quiesce()
{
    raid1_timer_run = false;
    pause_until([this] { return !raid1_timer_alive; });
    stop_polling();
    pause_until([this] { return !poller_alive; });
}

bool ovchip::partner_unknown(bool port) const
{
    const ovdisk& other = disks[port ? 0 : 1];
    return (other.register_present && !other.present) || (other.present && other.record_unknown);
}

void ovchip::select_chip()
{
    for (int d = 0; d < 2; ++d) {
        // degrade_needed is never set next to a silent or unreadable partner: that disk may
        // be the other half, and rewriting this one would break a healthy mirror.
        if (disks[d].degrade_needed && !partner_unknown(d == 1) && !raid_degrade(d == 1)) {
            ctrller->notice(failure_text(last_write));
            // A disk that is not the one read a moment ago: look again.
            if (last_write.fault == write_fault::disk_changed)
                request_refresh();
        }
    }
    if ((disks[0].present && disks[0].raid_mode == mode_raid1) ||
        (disks[1].present && disks[1].raid_mode == mode_raid1))
        start_raid1_timer();
    const int marks = (disks[0].rebuild_flag ? 1 : 0) + (disks[1].rebuild_flag ? 1 : 0);
    if (raid_configured && marks == 1 && raid_mode == mode_raid1) {
        rebuilding = true;
        polling = true;
    }
}

}  // namespace ov
