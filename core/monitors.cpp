// The two background monitors of the current chip: the rebuild poller and the
// RAID 1 watcher. Both are threads owned by the registry (j.monitor_threads), steered by
// the chip's flags and ended early by a stop request.
#include <cstring>
#include <stop_token>

#include "clock.h"
#include "library.h"
#include "ovchip.h"
#include "ovtool.h"
#include "requests.h"

namespace ov {

namespace {

using lock = std::lock_guard<std::mutex>;

// Position of a chip in the registry's list, -1 when it is not one of them.
int index_in_list(const ovchip* chip)
{
    const ovchip* first = j.chips.data();
    if (j.chips.empty() || chip < first || chip >= first + j.chips.size())
        return -1;
    return static_cast<int>(chip - first);
}

// The thread serves the chip of the current controller. The starter set the alive flag
// on its own chip; a thread that finds another chip current hands that flag back and
// ends without using the list further.
int claim_chip(int starter_index, atomic_flag_value ovchip::*alive)
{
    const int chip_index = j.get_controller_num(j.current);
    if (chip_index < 0 || chip_index >= static_cast<int>(j.chips.size()) || chip_index != starter_index) {
        if (starter_index >= 0 && starter_index < static_cast<int>(j.chips.size()))
            j.chips[starter_index].*alive = false;
        return -1;
    }
    j.chips[chip_index].*alive = true;
    return chip_index;
}

void poller_body(std::stop_token stop, int starter_index)
{
    const int chip_index = claim_chip(starter_index, &ovchip::poller_alive);
    if (chip_index < 0)
        return;
    int finished_polls = 0;
    // Polls without progress; a minute of them is reported once, not left as a frozen bar.
    constexpr int stalled_polls = 60000 / 4000;
    int still_polls = 0;
    uint64_t last_current = 0;
    while (j.chips[chip_index].polling && !stop.stop_requested()) {
        rebuild_status status;
        int rc;
        {
            lock guard(j.mutex);
            rc = library().ovGetRebuildStatus(j.chips[chip_index].service, status.data(), sizeof status);
        }
        if (rc != 0) {
            j.chips[chip_index].polling = false;
            j.chips[chip_index].poller_alive = false;
            return;
        }
        const uint64_t total = status.total();
        const uint64_t current = status.current();
        // A status of total 0 measures nothing: no progress, like a position that stands.
        const bool moved = current != last_current;
        last_current = current;
        still_polls = moved || (total != 0 && current >= total) ? 0 : still_polls + 1;
        if (still_polls == stalled_polls)
            ctrller->notice(localized("rebuild_stalled"));
        if (total == 0) {
            // Nothing to measure against: not an end, and nothing to show.
            finished_polls = 0;
        } else {
            ctrller->updatepoll(total, current, false);
            const bool done = current >= total;
            if (finished_polls > 5 && done) {
                j.chips[chip_index].finish_rebuild();
                ctrller->updatepoll(total, current, true);
                ctrller->show_message(localized("rebuild_finished"));
                ctrller->update_raid_information();
            } else {
                finished_polls = done ? finished_polls + 1 : 0;
            }
        }
        pause_ms(4000);
    }
    j.chips[chip_index].poller_alive = false;
}

void raid1_timer_body(std::stop_token stop, int starter_index)
{
    const int chip_index = claim_chip(starter_index, &ovchip::raid1_timer_alive);
    if (chip_index < 0)
        return;
    while (j.chips[chip_index].raid1_timer_run && !stop.stop_requested()) {
        pause_ms(1000);
        const ovchip::presence now = j.chips[chip_index].read_presence();
        const bool seen0 = now.seen[0];
        const bool seen1 = now.seen[1];
        const ovdisk& d0 = j.chips[chip_index].disks[0];
        const ovdisk& d1 = j.chips[chip_index].disks[1];
        // Compared with what the registers said at the last scan: a disk that is there but
        // silent is no change, or the notice and rescan would repeat forever.
        if (seen0 != d0.register_present || seen1 != d1.register_present) {
            pause_ms(2000);
            uint32_t handles[device_list_capacity];
            uint32_t count = 0;
            {
                lock guard(j.mutex);
                library().getDeviceList(handles, &count);
            }
            if (count >= j.chips.size()) {
                ctrller->show_hot_swap_message();
                j.chips[chip_index].raid1_timer_alive = false;
                ctrller->refresh();
                return;
            }
            break;
        }
        if (!((d0.present && d0.raid_mode == mode_raid1) || (d1.present && d1.raid_mode == mode_raid1)))
            break;
    }
    j.chips[chip_index].raid1_timer_alive = false;
}

// Starts a monitor's owned thread. Marked alive before the thread exists, so a second
// start cannot make a second thread; a chip outside the registry's list cannot be found
// by its thread, so it gets none.
void start_monitor(const ovchip* chip, atomic_flag_value& alive, atomic_flag_value& run,
                   void (*body)(std::stop_token, int), const char* failure)
{
    alive = true;
    run = true;
    const int index = index_in_list(chip);
    if (index < 0) {
        alive = false;
        return;
    }
    if (!j.monitor_threads.start([body, index](std::stop_token stop) { body(stop, index); })) {
        alive = false;
        run = false;
        ctrller->show_error_and_exit(failure);
    }
}

}  // namespace

ovchip::presence ovchip::read_presence() const
{
    presence p;
    const uint32_t addresses[2] = {reg_port0_presence, reg_port1_presence};
    lock guard(j.mutex);
    for (int port = 0; port < 2; ++port) {
        unsigned char reg[512] = {};
        p.answered[port] = library().ovGetRegister(service, reg, 512, 4, addresses[port]) >= 0;
        p.seen[port] = p.answered[port] && reg[0] != 0;
    }
    return p;
}

void poller()
{
    poller_body(std::stop_token(), j.get_controller_num(j.current));
}

void raid1_timer()
{
    raid1_timer_body(std::stop_token(), j.get_controller_num(j.current));
}

bool ovchip::start_polling()
{
    if (poller_alive)
        return true;
    ctrller->disablegui(true);
    ctrller->startprogressbar();
    ctrller->showrebuildbuttons();
    start_monitor(this, poller_alive, polling, poller_body, "Error creating polling thread..Exiting");
    return true;
}

bool ovchip::stop_polling()
{
    polling = false;
    ctrller->stopprogressbar();
    return true;
}

bool ovchip::start_raid1_timer()
{
    if (raid1_timer_alive)
        return true;
    start_monitor(this, raid1_timer_alive, raid1_timer_run, raid1_timer_body,
                  "Error creating RAID1 timer thread..Exiting");
    return true;
}

bool ovchip::stop_raid1_timer()
{
    raid1_timer_run = false;
    return true;
}

}  // namespace ov
