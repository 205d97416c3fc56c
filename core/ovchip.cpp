#include "ovchip.h"

#include <syslog.h>

#include <cstring>

#include "clock.h"
#include "library.h"
#include "ovtool.h"
#include "registry.h"
#include "requests.h"

namespace ov {

namespace {

using lock = std::lock_guard<std::mutex>;

bool fw_entry_points(const ovchip& chip, const ovdisk& disk)
{
    return chip.identity.is_firewire && disk.addressing_mode == addressing_lba48;
}

bool over_2tb_of(const ovdisk& disk)
{
    return disk.raid_record.over_2tb != 0;
}

const unsigned char zero_serial[20] = {};
const unsigned char zero_model[40] = {};

}  // namespace

// Little-endian fields are assembled byte by byte, so no host needs to swap them.
uint64_t decode_lba48(const unsigned char* field)
{
    uint64_t value = 0;
    for (int i = 5; i >= 0; --i)
        value = (value << 8) | field[i];
    return value;
}

uint64_t decode_le64(const unsigned char* field)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | field[i];
    return value;
}

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
    if (disk.record_lba(lba)) {
        ok = read_sector(port, lba, buffer);
        std::memcpy(disk.raid_record.data(), buffer, sizeof buffer);
    }
    if (ok && has_signature(buffer)) {
        disk.raid_mode = buffer[offsetof(raid_info, raid_mode)];
        if (buffer[offsetof(raid_info, flags)] & source_mark)
            disk.rebuild_flag = true;
        disk.record_capacity = decode_le64(buffer + offsetof(raid_info, capacity));
        std::memcpy(disk.record_stamp, buffer + offsetof(raid_info, stamp), 16);
        std::memcpy(disk.partner_model, buffer + offsetof(raid_info, partner_model), 40);
        std::memcpy(disk.partner_serial, buffer + offsetof(raid_info, partner_serial), 20);
    } else {
        disk.raid_mode = 0;
        writeintofile("disk port no " + inttostring(port ? 1 : 0) + " mode made zero");
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
    for (int d = 0; d < 2; ++d) {
        ovdisk& disk = disks[d];
        const ovdisk& other = disks[1 - d];
        disk.degrade_needed = false;
        if (disk.present && !(other.present && member_mode(other.raid_mode)) && disk.raid_mode == mode_raid1)
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
    const int marks = (disks[0].rebuild_flag ? 1 : 0) + (disks[1].rebuild_flag ? 1 : 0);
    if (marks != 1 && disks[0].raid_mode == mode_raid1) {
        const int order = compare_stamps(disks[0].record_stamp, disks[1].record_stamp);
        if (order != 0) {
            raid_configured = false;
            disks[0].raid1_role = order > 0 ? 1 : 2;
            disks[1].raid1_role = order > 0 ? 2 : 1;
            return;
        }
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
    if (r0 == 0 && id0[identify::signature_offset] == identify::signature_value) {
        writeintofile("disk 0 gave a response");
        disks[0].initialize(id0);
    }
    {
        lock guard(j.mutex);
        r1 = library().ovGetDiskIdentify(service, id1, 512, 1);
    }
    if (r1 == 0 && id1[identify::signature_offset] == identify::signature_value) {
        writeintofile("disk 1 gave a response");
        disks[1].initialize(id1);
    }
    if (r0 >= 0 && id0[identify::signature_offset] == identify::signature_value)
        disks[0].present = true;
    if (r1 >= 0 && id1[identify::signature_offset] == identify::signature_value)
        disks[1].present = true;
    return true;
}

// ---- configuration writes -------------------------------------------------------------

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
    while (raid1_timer_alive)
        pause_ms(10);
    polling = false;
    ctrller->stopprogressbar();
    while (poller_alive)
        pause_ms(10);
}

bool ovchip::create_raid(int mode)
{
    const raid_info zero = zero_record();
    if (mode != int(mode_raid0) && mode != int(mode_raid1) && mode != int(mode_span))
        return clear_raid();
    uint64_t size = 0, lba0 = 0, lba1 = 0;
    // A size that would wrap below zero, or a disk with no room for its record, builds
    // no set: refuse before anything is written.
    if (!set_size(mode, disks[0].capacity, disks[1].capacity, size) || !disks[0].record_lba(lba0) ||
        !disks[1].record_lba(lba1))
        return false;
    const bool over = size >= two_tb_sectors;
    syslog(LOG_NOTICE, over ? "Orvelan : RAID size > 2TB" : "Orvelan : RAID size < 2TB");

    quiesce();
    unsigned char stamp[16] = {};
    GetTimeString(stamp);
    const raid_info r0 =
        create_raid_struct(mode, 0, 0, 0, size, disks[1].serial_raw, disks[1].model_raw, over, stamp);
    const raid_info r1 =
        create_raid_struct(mode, 1, 0, 0, size, disks[0].serial_raw, disks[0].model_raw, over, stamp);
    syslog(LOG_NOTICE, "Orvelan : %u", static_cast<unsigned>(r0.over_2tb));
    syslog(LOG_NOTICE, "Orvelan : %u", static_cast<unsigned>(r1.over_2tb));

    execute_set_raid_info(zero, 0, false);
    execute_set_raid_info(zero, 0, true);
    const bool ok0 = execute_set_raid_info(r0, static_cast<int64_t>(lba0), false);
    const bool ok1 = execute_set_raid_info(r1, static_cast<int64_t>(lba1), true);
    if (!ok0 || !ok1)
        return false;
    {
        lock guard(j.mutex);
        library().ovFlushHDDCache(service, 0);
        library().ovFlushHDDCache(service, 1);
    }
    warm_boot();
    return true;
}

bool ovchip::clear_raid()
{
    quiesce();
    const raid_info zero = zero_record();
    if (raid_mode != mode_raid1) {
        for (int64_t sector = 0; sector < 64; ++sector) {
            execute_set_raid_info(zero, sector, false);
            execute_set_raid_info(zero, sector, true);
        }
    }
    uint64_t lba0 = 0, lba1 = 0;
    const bool ok0 = disks[0].record_lba(lba0) && execute_set_raid_info(zero, static_cast<int64_t>(lba0), false);
    const bool ok1 = disks[1].record_lba(lba1) && execute_set_raid_info(zero, static_cast<int64_t>(lba1), true);
    if (!ok0 || !ok1)
        return false;
    {
        lock guard(j.mutex);
        library().ovFlushHDDCache(service, 0);
        library().ovFlushHDDCache(service, 1);
    }
    warm_boot();
    return true;
}

bool ovchip::clear_disk(bool port)
{
    quiesce();
    const raid_info zero = zero_record();
    for (int64_t sector = 0; sector < 64; ++sector)
        execute_set_raid_info(zero, sector, port);
    uint64_t lba = 0;
    if (!disks[port].record_lba(lba) || !execute_set_raid_info(zero, static_cast<int64_t>(lba), port))
        return false;
    {
        lock guard(j.mutex);
        library().ovFlushHDDCache(service, port);
    }
    warm_boot();
    return true;
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
        ctrller->refresh();
        return false;
    }
    return true;
}

// ---- rebuild and degrade --------------------------------------------------------------

bool ovchip::rebuild(bool source)
{
    ctrller->disablegui(true);
    const int src = source ? 1 : 0;
    const int dst = 1 - src;
    if (disks[src].raid_mode != mode_raid1)
        return false;
    // The monitors read the records being replaced; stop them before writing.
    quiesce();
    unsigned char stamp[16] = {};
    GetTimeString(stamp);
    const uint64_t cap = disks[src].record_capacity;
    const bool over = over_2tb_of(disks[src]);
    const raid_info src_record =
        create_raid_struct(mode_raid1, src, source_mark, 0, cap, disks[dst].serial_raw, disks[dst].model_raw, over,
                           stamp);
    const raid_info dst_record =
        create_raid_struct(mode_raid1, dst, 0, 0, cap, disks[src].serial_raw, disks[src].model_raw, over, stamp);
    const raid_info& r0 = src == 0 ? src_record : dst_record;
    const raid_info& r1 = src == 0 ? dst_record : src_record;
    uint64_t lba0 = 0, lba1 = 0;
    const bool ok0 = disks[0].record_lba(lba0) && execute_set_raid_info(r0, static_cast<int64_t>(lba0), false);
    const bool ok1 = disks[1].record_lba(lba1) && execute_set_raid_info(r1, static_cast<int64_t>(lba1), true);
    // A failed write must not look like a started rebuild.
    if (!ok0 || !ok1)
        return false;
    {
        lock guard(j.mutex);
        library().ovFlushHDDCache(service, 0);
        library().ovFlushHDDCache(service, 1);
    }
    warm_boot();
    return true;
}

bool ovchip::raid_degrade(bool port)
{
    ovdisk& disk = disks[port];
    unsigned char stamp[16] = {};
    GetTimeString(stamp);
    const raid_info record = create_raid_struct(mode_raid1, port ? 1 : 0, 0, 0, disk.record_capacity, zero_serial,
                                                zero_model, over_2tb_of(disk), stamp);
    uint64_t lba = 0;
    const bool ok = disk.record_lba(lba) && execute_set_raid_info(record, static_cast<int64_t>(lba), port);
    {
        lock guard(j.mutex);
        library().ovFlushHDDCache(service, port);
    }
    std::memcpy(disk.record_stamp, stamp, 16);
    return ok;
}

void ovchip::select_chip()
{
    for (int d = 0; d < 2; ++d) {
        const ovdisk& other = disks[1 - d];
        // A disk in the other port that the register saw but that did not answer IDENTIFY
        // may be spinning up: degrading now would break a healthy mirror.
        const bool silent_partner = other.register_present && !other.present;
        if (disks[d].degrade_needed && !silent_partner)
            raid_degrade(d == 1);
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
    std::memset(disk.raid_record.data() + offsetof(raid_info, flags), 0, 4);
    execute_set_raid_info(disk.raid_record, static_cast<int64_t>(lba), port);
    {
        lock guard(j.mutex);
        library().ovFlushHDDCache(service, port);
    }
}

}  // namespace ov
