// The registry of attached bridges: the chip list, the selected controller, the
// display order, the device tree, the one library mutex and the warm-boot flag.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "ovchip.h"
#include "raid.h"
#include "threads.h"
#include "treeview.h"

namespace ov {

class ovtool {
public:
    controller_t current;
    std::vector<ovchip> chips;
    // Bridges the last scan found but could not open, and left out (under handling).
    int left_out = 0;
    treeview tree;
    std::vector<std::pair<uint64_t, int>> controller_map;
    std::mutex mutex;
    atomic_flag_value warm_boot_pending;
    // The services that vanish because of a warm boot we asked for; each one's termination
    // is ignored once, whatever became of warm_boot_pending meanwhile.
    void note_warm_boot(uint32_t service);
    void forget_warm_boot(uint32_t service);
    bool take_warm_boot(uint32_t service);
    // Whether a restart was noted since the last device-added handling ended.
    bool warm_boots_noted();
    void end_warm_boot_window();
    // Device handlings and window commands never overlap: a handling holds this for its
    // whole run; a command takes it with try_lock and is dropped while a handling runs.
    std::mutex handling;

private:
    std::mutex warm_boot_mutex_;
    std::set<uint32_t> warm_booting_;
    bool warm_boot_noted_ = false;

public:

    bool controller_exists(controller_t identity) const;
    int get_controller_num(const controller_t& identity) const;
    bool curr_chip_exists() const;
    bool add_controller(controller_t identity, const uint32_t& service);
    bool setup_controller_map();
    bool updatediskinformation();
    bool flush_chips();
    bool clear_raid(int index);
    bool build_raid(int index, int mode);
    bool warm_boot();
    bool scandevices();
    bool read_raid();
    bool build_tree();

    // The chip of the current controller, or nullptr.
    ovchip* current_chip();
    // Stops the monitors of the chip at index and waits for them (every 10 ms).
    void stop_monitors(int index);
    // The monitors' threads: a poller or RAID 1 timer of any chip runs on one of these.
    thread_group monitor_threads;
};

extern ovtool j;

// Device handling, run on the notification thread.
void* start_device_notification(void*);
// The notification thread, owned here: started by a front end, stopped and joined by it.
bool start_notification_thread();
void stop_notification_thread();
// Leaving the program: stops the notification thread (no handling starts any more), then
// every monitor of every chip, and joins them all. Call on the UI thread, with no lock held.
void stop_engine_threads();
void DeviceAdded(void* refcon, uint32_t iterator);
void DeviceRemoved(void* refcon, uint32_t service, uint32_t message_type, void* argument);
// A refresh: the device-added handling without new services, queued to the
// notification thread behind every handling already waiting.
void request_refresh();

}  // namespace ov
