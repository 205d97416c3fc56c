// The device notification thread and the two handlers every rescan goes through.
// All handlings, refreshes included, run one after another on this thread.
#include <atomic>
#include <cstdio>

#include "clock.h"
#include "diag.h"
#include "ovtool.h"
#include "registry.h"
#include "requests.h"
#include "threads.h"

namespace ov {

uint32_t gAddedIter = 0;

namespace {

owned_thread notifier;
// Set while a front end ends the loop on purpose: then coming back from it is no surprise.
std::atomic<bool> notifier_stopping{false};

void rescan_and_reselect(bool removal)
{
    j.scandevices();
    ctrller->update_controller_list();
    j.updatediskinformation();
    j.read_raid();
    if (j.curr_chip_exists()) {
        if (!removal)
            diag(diag_level::trace, "Conn open made true");
        j.chips[static_cast<size_t>(j.get_controller_num(j.current))].select_chip();
        ctrller->update_raid_information();
    } else {
        if (removal)
            j.current.clear();
        ctrller->select_first_controller();
    }
}

}  // namespace

void DeviceAdded(void* refcon, uint32_t iterator)
{
    (void)refcon;
    std::lock_guard<std::mutex> handling(j.handling);
    ctrller->cleargui();
    ctrller->clear_controller_list();
    ctrller->startworking();
    diag(diag_level::trace, "Dev Added");
    if (iterator != 0) {
        device_registry& reg = registry();
        while (const registry_entry service = reg.iterator_next(iterator)) {
            const int rc = reg.add_interest_notification(
                service, [](registry_entry s, uint32_t type, void* arg) { DeviceRemoved(nullptr, s, type, arg); });
            if (rc != 0) {
                char text[64];
                std::snprintf(text, sizeof text, "IOServiceAddInterestNotification returned 0x%08x.\n",
                              static_cast<unsigned>(rc));
                diag(diag_level::console, text);
            }
            reg.release(service);
        }
    }
    rescan_and_reselect(false);
    j.warm_boot_pending = false;
    j.end_warm_boot_window();
    diag(diag_level::trace, "Dev Add finished");
    ctrller->stopworking();
}

void DeviceRemoved(void* refcon, uint32_t service, uint32_t message_type, void* argument)
{
    (void)refcon;
    (void)argument;
    diag(diag_level::trace, "Dev Removed");
    if (message_type != 0 && message_type != msg_service_terminated)
        return;
    // A bridge vanishing during its own warm boot is no removal: its return rescans. Only the
    // bridge that was restarted is excused, so a restart that never comes back does not hide
    // other bridges' removals, and a rescan in between does not turn it into one.
    if (message_type == msg_service_terminated &&
        (j.take_warm_boot(service) || (j.warm_boot_pending && !j.warm_boots_noted())))
        return;
    std::lock_guard<std::mutex> handling(j.handling);
    ctrller->cleargui();
    ctrller->startworking();
    pause_ms(8000);
    rescan_and_reselect(true);
    ctrller->stopworking();
}

void request_refresh()
{
    registry().post([] { DeviceAdded(nullptr, 0); });
}

void* start_device_notification(void*)
{
    device_registry& reg = registry();
    if (!reg.matching_available(bridge_service_class)) {
        diag(diag_level::info, "IOServiceMatching returned NULL.\n");
        return nullptr;
    }
    gAddedIter = reg.add_matching_notification(bridge_service_class,
                                               [](uint32_t iterator) { DeviceAdded(nullptr, iterator); });
    DeviceAdded(nullptr, gAddedIter);
    diag(diag_level::info, "Starting run loop.\n\n");
    reg.run_loop();
    if (!notifier_stopping)
        diag(diag_level::console, "\n---Unexpectedly back from CFRunLoopRun()!\n");
    return nullptr;
}

bool start_notification_thread()
{
    return notifier.start([](std::stop_token) { start_device_notification(nullptr); });
}

void stop_notification_thread()
{
    if (!notifier.joinable())
        return;
    // The loop ends once the handling it is in (if any) is over; its requests are served
    // meanwhile because join waits through the clock.
    notifier_stopping = true;
    registry().stop_run_loop();
    notifier.join();
    notifier_stopping = false;
}

void stop_engine_threads()
{
    stop_notification_thread();
    for (ovchip& chip : j.chips) {
        chip.raid1_timer_run = false;
        chip.polling = false;
    }
    j.monitor_threads.stop_all();
}

}  // namespace ov
