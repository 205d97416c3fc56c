// One attached RAID bridge: its handle, its two disk ports, the RAID state derived
// from their records, and the flags that start and stop its background monitors.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "library.h"
#include "ovdisk.h"
#include "raid.h"
#include "safety.h"

namespace ov {

// A flag that several threads read and write; copied by value with its chip.
class atomic_flag_value {
public:
    atomic_flag_value(bool v = false) : value_(v) {}
    atomic_flag_value(const atomic_flag_value& other) : value_(other.value_.load()) {}
    atomic_flag_value& operator=(const atomic_flag_value& other)
    {
        value_.store(other.value_.load());
        return *this;
    }
    atomic_flag_value& operator=(bool v)
    {
        value_.store(v);
        return *this;
    }
    operator bool() const { return value_.load(); }
    bool exchange(bool v) { return value_.exchange(v); }

private:
    std::atomic<bool> value_;
};

class ovchip {
public:
    std::vector<ovdisk> disks = std::vector<ovdisk>(2);
    uint32_t service = 0;
    bool raid_configured = false;
    uint32_t raid_mode = 0;
    uint64_t raid_capacity = 0;
    atomic_flag_value polling;
    atomic_flag_value raid1_timer_run;
    atomic_flag_value raid1_timer_alive;
    atomic_flag_value poller_alive;
    atomic_flag_value rebuilding;
    bool raid1_pair_present = false;
    // Why the rebuild notes could not be read at the last record reading ("" when they
    // could): no disk is then known not to be a half copy, so none is degraded or rebuilt from.
    std::string notes_error;
    controller_t identity;
    bool connection_open = false;
    // Why the last configuration write of this chip failed (fault none after a success).
    write_report last_write;

    // Reading (records and their combination).
    void read_raid_info();
    void read_raid_info_disk(bool port);
    void read_raid_combined_info();
    std::string get_raid_name() const;
    bool retrievediskinformation();

    // Configuration writes.
    bool execute_set_raid_info(const raid_info& record, int64_t lba, bool port);
    bool create_raid(int mode);
    bool clear_raid();
    bool clear_disk(bool port);
    bool warm_boot();

    // Rebuild and degrade.
    bool rebuild(bool source);
    void clear_rebuild(bool port);
    // The bridge's copy reached its end: the source marks are cleared and the notes dropped.
    void finish_rebuild();
    bool raid_degrade(bool port);
    void select_chip();

    // What the bays' presence registers say now, read under the library mutex. A register
    // that could not be read answered nothing (answered false, seen false).
    struct presence {
        bool answered[2] = {false, false};
        bool seen[2] = {false, false};
    };
    presence read_presence() const;

    // Background monitors.
    bool start_polling();
    bool stop_polling();
    bool start_raid1_timer();
    bool stop_raid1_timer();

    // Stops both monitors and waits until their threads have left their loops.
    void quiesce();

    // Set size for a mode from the two disks' capacities; false for a mode that
    // builds no set or disks too small to hold one.
    static bool set_size(int mode, uint64_t c0, uint64_t c1, uint64_t& size);

    // A disk on the other port that is there but cannot be judged: silent at IDENTIFY, or
    // its record could not be read. Nothing is written because of such a disk.
    bool partner_unknown(bool port) const;

    // One sector of a configuration write, with what it held before.
    struct sector_write;

private:
    bool read_sector(bool port, uint64_t lba, unsigned char* buffer);
    bool read_backup(bool port, uint64_t lba, unsigned char* buffer);
    void mark_incomplete_copies();
    void fail_write(write_fault fault, bool port);
    bool identity_unchanged(bool port);
    bool prepare_writes(std::vector<sector_write>& writes);
    bool apply_writes(std::vector<sector_write>& writes);
    void restore(std::vector<sector_write>& writes);
    bool flush(std::vector<sector_write>& writes, bool port0, bool port1);
    bool finish_with_warm_boot();
};

// Thread bodies of the monitors; they find their chip through the current controller.
void poller();
void raid1_timer();

}  // namespace ov
