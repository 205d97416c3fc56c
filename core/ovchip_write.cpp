// Configuration writes of a chip: every change to the records is all-or-nothing. What a
// write will touch is read first, every sector written is read back, and a write that
// cannot complete puts back what it changed.
#include "ovchip.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "diag.h"
#include "library.h"
#include "ovtool.h"
#include "requests.h"

namespace ov {

namespace {

using lock = std::lock_guard<std::mutex>;

bool over_2tb_of(const ovdisk& disk)
{
    return disk.raid_record.over_2tb != 0;
}

const unsigned char zero_serial[20] = {};
const unsigned char zero_model[40] = {};

}  // namespace

// One sector of a configuration write: what goes there, and what was there before, so
// that a write that cannot complete puts every sector it touched back.
struct ovchip::sector_write {
    bool port;
    uint64_t lba;
    raid_info data;
    raid_info backup = zero_record();
    bool touched = false;
};

namespace {

using sector_writes = std::vector<ovchip::sector_write>;

}  // namespace

void ovchip::fail_write(write_fault fault, bool port)
{
    last_write.fault = fault;
    last_write.bay = port ? 2 : 1;
    last_write.serial = disks[port].serial;
}

bool ovchip::identity_unchanged(bool port)
{
    const ovdisk& shown = disks[port];
    if (!shown.present) {
        fail_write(write_fault::disk_changed, port);
        return false;
    }
    unsigned char block[512] = {};
    int rc;
    {
        lock guard(j.mutex);
        rc = library().ovGetDiskIdentify(service, block, 512, port);
    }
    // Silent now: maybe the same disk, maybe not; either way nothing is written to it.
    if (rc != 0 || !identify_signed(block)) {
        fail_write(write_fault::disk_unknown, port);
        return false;
    }
    ovdisk now;
    now.initialize(block);
    // Raw bytes, not the trimmed texts: the record names a partner by them.
    if (now.capacity != shown.capacity || std::memcmp(now.model_raw, shown.model_raw, 40) != 0 ||
        std::memcmp(now.serial_raw, shown.serial_raw, 20) != 0) {
        fail_write(write_fault::disk_changed, port);
        return false;
    }
    return true;
}

// Checks the disks and reads what every sector holds now; nothing is written unless all
// of that succeeded.
bool ovchip::prepare_writes(std::vector<sector_write>& writes)
{
    bool checked[2] = {false, false};
    for (const sector_write& w : writes) {
        if (checked[w.port])
            continue;
        checked[w.port] = true;
        if (!identity_unchanged(w.port))
            return false;
    }
    for (sector_write& w : writes) {
        if (!read_backup(w.port, w.lba, w.backup.data())) {
            fail_write(write_fault::disk_unknown, w.port);
            return false;
        }
    }
    return true;
}

bool ovchip::apply_writes(std::vector<sector_write>& writes)
{
    for (size_t i = 0; i < writes.size(); ++i) {
        sector_write& w = writes[i];
        w.touched = true;
        if (!execute_set_raid_info(w.data, static_cast<int64_t>(w.lba), w.port)) {
            fail_write(write_fault::write_failed, w.port);
            restore(writes);
            return false;
        }
    }
    return true;
}

// Puts back every touched sector, last first; a sector that already holds its old bytes
// (the failed write never reached it) is left alone.
void ovchip::restore(std::vector<sector_write>& writes)
{
    bool restored[2] = {false, false};
    for (size_t i = writes.size(); i-- > 0;) {
        sector_write& w = writes[i];
        if (!w.touched)
            continue;
        unsigned char now[512] = {};
        if (read_sector(w.port, w.lba, now) && std::memcmp(now, w.backup.data(), 512) == 0)
            continue;
        restored[w.port] = true;
        if (!execute_set_raid_info(w.backup, static_cast<int64_t>(w.lba), w.port)) {
            if (!last_write.restore_failed) {
                last_write.restore_failed = true;
                last_write.restore_bay = w.port ? 2 : 1;
                last_write.restore_serial = disks[w.port].serial;
            }
            last_write.unrestored[w.port] = true;
            last_write.unrestored_serial[w.port] = disks[w.port].serial;
        }
    }
    // What was put back must reach the platters too; its result cannot change the report.
    if (restored[0] || restored[1]) {
        lock guard(j.mutex);
        if (restored[0])
            library().ovFlushHDDCache(service, 0);
        if (restored[1])
            library().ovFlushHDDCache(service, 1);
    }
}

bool ovchip::flush(std::vector<sector_write>& writes, bool port0, bool port1)
{
    int rc0 = 0, rc1 = 0;
    {
        lock guard(j.mutex);
        if (port0)
            rc0 = library().ovFlushHDDCache(service, 0);
        if (port1)
            rc1 = library().ovFlushHDDCache(service, 1);
    }
    if (rc0 == 0 && rc1 == 0)
        return true;
    // Unflushed records may or may not reach the disks: put the old ones back.
    fail_write(write_fault::flush_failed, rc0 != 0 ? false : true);
    restore(writes);
    return false;
}

bool ovchip::finish_with_warm_boot()
{
    if (warm_boot())
        return true;
    last_write.fault = write_fault::restart_failed;
    return false;
}

bool ovchip::create_raid(int mode)
{
    last_write.clear();
    if (mode != int(mode_raid0) && mode != int(mode_raid1) && mode != int(mode_span))
        return clear_raid();
    uint64_t size = 0, lba0 = 0, lba1 = 0;
    // A size that would wrap below zero, or a disk with no room for its record, builds
    // no set: refuse before anything is written.
    if (!set_size(mode, disks[0].capacity, disks[1].capacity, size) || !disks[0].record_lba(lba0) ||
        !disks[1].record_lba(lba1))
        return false;
    const bool over = size >= two_tb_sectors;
    diag(diag_level::notice, over ? "Orvelan : RAID size > 2TB" : "Orvelan : RAID size < 2TB");

    quiesce();
    unsigned char stamp[16] = {};
    GetTimeString(stamp);
    const raid_info r0 =
        create_raid_struct(mode, 0, 0, 0, size, disks[1].serial_raw, disks[1].model_raw, over, stamp);
    const raid_info r1 =
        create_raid_struct(mode, 1, 0, 0, size, disks[0].serial_raw, disks[0].model_raw, over, stamp);
    diag(diag_level::notice, "Orvelan : " + inttostring(r0.over_2tb));
    diag(diag_level::notice, "Orvelan : " + inttostring(r1.over_2tb));

    const raid_info zero = zero_record();
    sector_writes writes = {{false, 0, zero}, {true, 0, zero}, {false, lba0, r0}, {true, lba1, r1}};
    if (!prepare_writes(writes) || !apply_writes(writes) || !flush(writes, true, true))
        return false;
    rebuild_notes::remove_targets({disks[0].serial, disks[1].serial});
    return finish_with_warm_boot();
}

bool ovchip::clear_raid()
{
    last_write.clear();
    quiesce();
    const raid_info zero = zero_record();
    uint64_t lba0 = 0, lba1 = 0;
    // A disk too small to hold a record gets none.
    if (!disks[0].record_lba(lba0) || !disks[1].record_lba(lba1))
        return false;
    // The records go first: once they are gone the set is gone, and a failure after them
    // is undone like any other.
    sector_writes writes = {{false, lba0, zero}, {true, lba1, zero}};
    if (raid_mode != mode_raid1)
        for (uint64_t sector = 0; sector < 64; ++sector) {
            writes.push_back({false, sector, zero});
            writes.push_back({true, sector, zero});
        }
    if (!prepare_writes(writes) || !apply_writes(writes) || !flush(writes, true, true))
        return false;
    rebuild_notes::remove_targets({disks[0].serial, disks[1].serial});
    return finish_with_warm_boot();
}

bool ovchip::clear_disk(bool port)
{
    last_write.clear();
    quiesce();
    const raid_info zero = zero_record();
    uint64_t lba = 0;
    if (!disks[port].record_lba(lba))
        return false;
    // The record before the wipe: a failed record write must not leave a wiped member of
    // a set that is still valid.
    sector_writes writes = {{port, lba, zero}};
    for (uint64_t sector = 0; sector < 64; ++sector)
        writes.push_back({port, sector, zero});
    if (!prepare_writes(writes) || !apply_writes(writes) || !flush(writes, !port, port))
        return false;
    rebuild_notes::remove_targets({disks[port].serial});
    return finish_with_warm_boot();
}

bool ovchip::warm_boot()
{
    quiesce();
    j.warm_boot_pending = true;
    j.note_warm_boot(service);
    connection_open = false;
    int rc;
    {
        lock guard(j.mutex);
        rc = library().ovWarmBoot(service);
    }
    if (rc != 0) {
        // The bridge did not restart, so no removal will come to clear the flag and no
        // return to rescan: clear it and rescan now, showing the records as written.
        j.warm_boot_pending = false;
        j.forget_warm_boot(service);
        connection_open = true;
        last_write.fault = write_fault::restart_failed;
        ctrller->refresh();
        return false;
    }
    return true;
}

// ---- rebuild and degrade --------------------------------------------------------------

bool ovchip::rebuild(bool source)
{
    last_write.clear();
    last_write.rebuild = true;
    ctrller->disablegui(true);
    const int src = source ? 1 : 0;
    const int dst = 1 - src;
    if (disks[src].raid_mode != mode_raid1)
        return false;
    // A partial copy holds no whole set: copying it over the other disk loses data.
    if (disks[src].incomplete_copy)
        return false;
    uint64_t lba0 = 0, lba1 = 0;
    // A disk too small to hold a record gets none.
    if (!disks[0].record_lba(lba0) || !disks[1].record_lba(lba1))
        return false;
    // Later than both records' stamps, whatever the clock says: with a clock set back (or a
    // time zone behind), a half that went stale before this copy, put back later, would sort
    // newer than the copy and be called current.
    unsigned char stamp[16] = {};
    const unsigned char* latest = nullptr;
    for (const ovdisk& d : disks)
        if (d.raid_mode == mode_raid1 && stamp_is_digits(d.record_stamp) &&
            (latest == nullptr || compare_stamps(d.record_stamp, latest) > 0))
            latest = d.record_stamp;
    if (latest == nullptr)
        GetTimeString(stamp);
    else if (!later_stamp(stamp, latest)) {
        diag(diag_level::warning, "no stamp sorts after the mirror's; not rebuilt");
        return false;
    }
    // The monitors read the records being replaced; stop them before writing.
    quiesce();
    const uint64_t cap = disks[src].record_capacity;
    const bool over = over_2tb_of(disks[src]);
    const raid_info src_record =
        create_raid_struct(mode_raid1, src, source_mark, 0, cap, disks[dst].serial_raw, disks[dst].model_raw, over,
                           stamp);
    const raid_info dst_record =
        create_raid_struct(mode_raid1, dst, 0, 0, cap, disks[src].serial_raw, disks[src].model_raw, over, stamp);
    // The source first: should the target's write fail, the source still holds the data
    // and is put back; the target never carries a record the source does not back.
    sector_writes writes = {{src == 1, src == 0 ? lba0 : lba1, src_record},
                            {dst == 1, dst == 0 ? lba0 : lba1, dst_record}};
    if (!prepare_writes(writes))
        return false;
    // Noted before the first write, so a copy interrupted at any point is known as such;
    // without the note a half copy could later pass for current data, so no note, no copy.
    if (!rebuild_notes::add({bridge_key(identity), disks[src].serial, disks[dst].serial,
                             std::string(reinterpret_cast<const char*>(stamp), 14)})) {
        last_write.fault = write_fault::note_failed;
        last_write.detail = rebuild_notes::path();
        return false;
    }
    if (!apply_writes(writes) || !flush(writes, true, true)) {
        // A source left flagged may still start the copy when the bridge returns: then
        // the target is a partial copy, and the note must say so.
        if (!last_write.restore_failed)
            rebuild_notes::remove_targets({disks[dst].serial});
        return false;
    }
    return finish_with_warm_boot();
}

bool ovchip::raid_degrade(bool port)
{
    last_write.clear();
    ovdisk& disk = disks[port];
    uint64_t lba = 0;
    if (!disk.record_lba(lba))
        return false;
    unsigned char stamp[16] = {}, bridges_mark[16] = {};
    // Later than the stamp it replaces, or a partner that comes back could look newer, and
    // never the one a bridge gives the half it runs alone (one second on), or the partner,
    // marked so while this half was away, could carry the very same stamp. A record whose
    // stamp nothing sorts after is left as it is.
    const bool markable = stamp_after(bridges_mark, disk.record_stamp);
    if (!later_stamp(stamp, markable ? bridges_mark : disk.record_stamp)) {
        diag(diag_level::warning, "disk " + disk.serial + ": no stamp sorts after its record's; not degraded");
        return false;
    }
    const raid_info record = create_raid_struct(mode_raid1, port ? 1 : 0, 0, 0, disk.record_capacity, zero_serial,
                                                zero_model, over_2tb_of(disk), stamp);
    sector_writes writes = {{port, lba, record}};
    if (!prepare_writes(writes))
        return false;
    // The partner away keeps its older stamp: noted first, so that when it comes back alone
    // it is known as the older half and not degraded into a set of its own, newer than this.
    // A note that the partner holds a half copy says more and stays.
    std::string partner = disk.partner_serial_text();
    // The pair's stamp, kept so a partner that went on alone too is told from a stale one.
    std::string before = stamp_is_digits(disk.record_stamp) ? disk.stamp_text() : std::string();
    rebuild_note copy;
    if (rebuild_notes::find_target(partner, copy) && !copy.degrade)
        partner.clear();
    if (!partner.empty() && !rebuild_notes::add({bridge_key(identity), disk.serial, partner,
                                                 std::string(reinterpret_cast<const char*>(stamp), 14), true, before})) {
        last_write.fault = write_fault::note_failed;
        last_write.detail = rebuild_notes::path();
        return false;
    }
    if (!apply_writes(writes) || !flush(writes, !port, port)) {
        if (!partner.empty() && !last_write.restore_failed)
            rebuild_notes::remove_targets({partner});
        return false;
    }
    std::memcpy(disk.record_stamp, stamp, 16);
    return true;
}

void ovchip::clear_rebuild(bool port)
{
    ovdisk& disk = disks[port];
    uint64_t lba = 0;
    if (!disk.present || !disk.record_lba(lba))
        return;
    unsigned char buffer[512] = {};
    // Written back only when the read filled the buffer.
    if (read_sector(port, lba, buffer)) {
        raid_info on_disk;
        std::memcpy(on_disk.data(), buffer, 512);
        execute_set_raid_info(on_disk, static_cast<int64_t>(lba), port);
    }
    disk.raid_record.flags = 0;
    disk.raid_record.set_value24(0);
    execute_set_raid_info(disk.raid_record, static_cast<int64_t>(lba), port);
    {
        lock guard(j.mutex);
        library().ovFlushHDDCache(service, port);
    }
}

void ovchip::finish_rebuild()
{
    rebuilding = false;
    polling = false;
    // The target holds the whole set now: no longer a partial copy. Said before the marks
    // go, so that no one looking in between takes it for one beside an unmarked source.
    rebuild_notes::remove_targets({disks[0].serial, disks[1].serial});
    clear_rebuild(false);
    clear_rebuild(true);
    // The cached marks are over too, so a later selection does not follow it again.
    disks[0].rebuild_flag = false;
    disks[1].rebuild_flag = false;
}

}  // namespace ov
