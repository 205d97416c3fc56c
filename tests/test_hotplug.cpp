// The notification thread and its handlings, run for real on the in-memory registry:
// start-up, arrivals, removals, warm boots, refreshes and how they queue.
#include <gtest/gtest.h>

#include <future>

#include "harness.h"

namespace ovtest {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using list = std::vector<std::string>;

// What the window is asked, in order, by each kind of handling.
const list added_with_first_selection = {"cleargui", "clear_controller_list", "startworking",
                                         "update_controller_list", "refreshtree", "expandtree",
                                         "select_first_controller", "update_raid_information", "stopworking"};
const list added_keeping_selection = {"cleargui", "clear_controller_list", "startworking",
                                      "update_controller_list", "refreshtree", "expandtree",
                                      "update_raid_information", "stopworking"};
const list removed_keeping_selection = {"cleargui", "startworking", "update_controller_list", "refreshtree",
                                        "expandtree", "update_raid_information", "stopworking"};
const list added_with_nothing_left = {"cleargui", "clear_controller_list", "startworking", "update_controller_list",
                                      "refreshtree", "expandtree", "select_first_controller", "stopworking"};
const list removed_with_first_selection = {"cleargui", "startworking", "update_controller_list", "refreshtree",
                                           "expandtree", "select_first_controller", "update_raid_information",
                                           "stopworking"};

class hotplug_test : public hotplug_fixture {
protected:
    // Two USB bridges listed in the opposite order of their keys: b (location 0x100)
    // comes first in the controller map although a is listed first.
    uint32_t a = 0, b = 0;
    const ov::controller_t id_a = usb_identity(0x200, "SA");
    const ov::controller_t id_b = usb_identity(0x100, "SB");

    void two_bridges()
    {
        a = plug_usb(0x200, "SA");
        b = plug_usb(0x100, "SB");
    }

    // b holds a healthy mirror, so preparing its chip again starts its RAID 1 timer.
    void mirror_on_b() { insert_mirror(b, "Disk A", "SN-A", "Disk B", "SN-B"); }

    // The requests from the nth on. The scan's flush stops the selected chip's poller,
    // which hides the progress bar once per chip; that belongs to the scan, not here.
    list requests_since(size_t n) const
    {
        const list all = window.requests();
        list out;
        for (size_t i = n; i < all.size(); ++i)
            if (all[i] != "stopprogressbar")
                out.push_back(all[i]);
        return out;
    }

    void expect_one_at_a_time_on_the_notifier()
    {
        EXPECT_EQ(max_depth.load(), 1) << "two device handlings overlapped";
        EXPECT_EQ(off_thread.load(), 0) << "a device handling ran off the notification thread";
        EXPECT_EQ(depth.load(), 0);
    }
};

TEST_F(hotplug_test, start_up_scans_once_arms_every_bridge_and_selects_the_first_in_map_order)
{
    two_bridges();
    ov::j.warm_boot_pending = true;
    CaptureStderr();
    start();
    EXPECT_EQ(GetCapturedStderr(), "Starting run loop.\n\n");

    EXPECT_EQ(lib.count("getDeviceList"), 1u);
    auto armed = reg.interest_registered();
    std::sort(armed.begin(), armed.end());
    EXPECT_EQ(armed, (std::vector<ov::registry_entry>{a, b}));
    EXPECT_EQ(window.requests(), added_with_first_selection);
    EXPECT_TRUE(ov::j.current == id_b);
    EXPECT_FALSE(ov::j.warm_boot_pending);
    ASSERT_EQ(ov::j.chips.size(), 2u);
    EXPECT_EQ(ov::j.chips[0].service, a);
    EXPECT_EQ(outline_text(ov::j.tree.getdata()), "device 1 (USB)\ndevice 2 (USB)\n");
    expect_one_at_a_time_on_the_notifier();

    CaptureStdout();
    stop();
    EXPECT_NE(GetCapturedStdout().find("\n---Unexpectedly back from CFRunLoopRun()!\n"), std::string::npos);
}

TEST_F(hotplug_test, without_a_matching_description_nothing_is_ever_scanned)
{
    two_bridges();
    reg.matching = false;
    CaptureStderr();
    EXPECT_EQ(ov::start_device_notification(nullptr), nullptr);
    EXPECT_EQ(GetCapturedStderr(), "IOServiceMatching returned NULL.\n");
    EXPECT_TRUE(lib.calls().empty());
    EXPECT_TRUE(window.requests().empty());
    EXPECT_TRUE(reg.interest_registered().empty());
    EXPECT_TRUE(ov::j.chips.empty());
}

TEST_F(hotplug_test, a_failed_interest_registration_is_reported_and_the_handling_goes_on)
{
    two_bridges();
    reg.interest_result = static_cast<int>(0xE00002C7u);
    CaptureStdout();
    start();
    const std::string out = GetCapturedStdout();
    const std::string line = "IOServiceAddInterestNotification returned 0xe00002c7.\n";
    const size_t first = out.find(line);
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_NE(out.find(line, first + line.size()), std::string::npos) << "one line per bridge";
    EXPECT_EQ(window.requests(), added_with_first_selection);
    EXPECT_EQ(ov::j.chips.size(), 2u);

    // That bridge's removal is never heard of.
    const size_t before = window.requests().size();
    unplug(a);
    reg.terminate(a);
    settle();
    EXPECT_EQ(window.requests().size(), before);
    EXPECT_EQ(lib.count("getDeviceList"), 1u);
}

TEST_F(hotplug_test, a_warm_boot_is_not_a_removal_and_its_return_rescans_and_ends_it)
{
    two_bridges();
    start();
    const size_t before = window.requests().size();

    ov::j.warm_boot_pending = true;
    reg.terminate(b);
    settle();
    EXPECT_EQ(window.requests().size(), before) << "a termination during a warm boot must be ignored";
    EXPECT_EQ(lib.count("getDeviceList"), 1u);
    EXPECT_TRUE(ov::j.warm_boot_pending);

    // The bridge comes back with a new service handle.
    unplug(b);
    const uint32_t b2 = plug_usb(0x100, "SB");
    reg.announce({b2});
    settle();
    EXPECT_EQ(requests_since(before), added_keeping_selection);
    EXPECT_FALSE(ov::j.warm_boot_pending);
    EXPECT_EQ(lib.count("getDeviceList"), 2u);
    ASSERT_NE(chip_of(id_b), -1);
    EXPECT_EQ(ov::j.chips[static_cast<size_t>(chip_of(id_b))].service, b2);
    const auto armed = reg.interest_registered();
    EXPECT_NE(std::find(armed.begin(), armed.end(), b2), armed.end()) << "the returned bridge must be armed";
    expect_one_at_a_time_on_the_notifier();
}

// The warm boot of a bridge that is unplugged while it restarts: its return never comes,
// so no arrival ends the warm boot. A later unplug of another bridge must still be seen,
// or both stay listed as ghosts until something else rescans.
TEST_F(hotplug_test, a_warm_boot_that_never_returns_does_not_hide_later_removals)
{
    two_bridges();
    start();
    ASSERT_TRUE(ov::j.current == id_b);
    {
        std::lock_guard<std::mutex> command(ov::j.handling);
        ASSERT_TRUE(ov::j.warm_boot());
    }
    unplug(b);
    reg.terminate(b);   // its own termination: rightly ignored
    settle();

    unplug(a);
    reg.terminate(a);
    settle();
    EXPECT_TRUE(ov::j.chips.empty()) << "the removal of another bridge was ignored because of a warm boot "
                                        "that will never end";
}

TEST_F(hotplug_test, another_bridge_gone_keeps_and_prepares_the_selected_one_again)
{
    two_bridges();
    mirror_on_b();
    start();
    ASSERT_TRUE(ov::j.current == id_b);
    const size_t before = window.requests().size();

    unplug(a);
    reg.terminate(a);
    settle();
    EXPECT_EQ(requests_since(before), removed_keeping_selection);
    EXPECT_EQ(lib.count("getDeviceList"), 2u);
    ASSERT_EQ(ov::j.chips.size(), 1u);
    EXPECT_TRUE(ov::j.current == id_b);
    // Preparing the chip again restarts the watcher of its mirror.
    EXPECT_TRUE(ov::j.chips[0].raid1_timer_alive);
    EXPECT_EQ(outline_text(ov::j.tree.getdata()), "device 1 (USB)\n"
                                                  "  RAID Volume (SN: SB)\n"
                                                  "    M0: Disk A\n"
                                                  "    M1: Disk B\n");
    expect_one_at_a_time_on_the_notifier();
}

TEST_F(hotplug_test, the_selected_bridge_gone_clears_the_selection_before_the_first_is_chosen)
{
    two_bridges();
    mirror_on_b();
    start();
    ASSERT_TRUE(ov::j.current == id_b);

    ov::controller_t seen;
    bool seen_attached = true;
    also = [&](const std::string& r) {
        if (r == "select_first_controller") {
            seen = ov::j.current;
            seen_attached = ov::j.curr_chip_exists();
        }
    };
    const size_t before = window.requests().size();
    unplug(b);
    reg.terminate(b);
    settle();
    EXPECT_EQ(requests_since(before), removed_with_first_selection);
    EXPECT_FALSE(seen_attached);
    // The clearing keeps the vendor id and location, and empties the rest.
    EXPECT_FALSE(seen.is_firewire);
    EXPECT_EQ(seen.product_id, 0u);
    EXPECT_EQ(seen.usb_serial, "");
    EXPECT_EQ(seen.guid, 0u);
    EXPECT_EQ(seen.order_key, 0u);
    EXPECT_EQ(seen.vendor_id, static_cast<uint32_t>(usb_vendor));
    EXPECT_EQ(seen.location_id, 0x100);
    EXPECT_TRUE(ov::j.current == id_a) << "the first remaining bridge is selected";

    // The last one goes too: nothing left to select.
    const size_t before_last = window.requests().size();
    unplug(a);
    reg.terminate(a);
    settle();
    EXPECT_EQ(requests_since(before_last),
              (list{"cleargui", "startworking", "update_controller_list", "refreshtree", "expandtree",
                    "select_first_controller", "stopworking"}));
    EXPECT_TRUE(ov::j.chips.empty());
    EXPECT_EQ(ov::j.current.order_key, 0u);
    EXPECT_TRUE(ov::j.tree.getdata().empty());
    expect_one_at_a_time_on_the_notifier();
}

TEST_F(hotplug_test, a_refresh_does_not_clear_a_selection_that_is_gone)
{
    b = plug_usb(0x100, "SB");
    start();
    ASSERT_TRUE(ov::j.current == id_b);
    const size_t before = window.requests().size();

    unplug(b);   // gone without a termination message
    ov::request_refresh();
    settle();
    EXPECT_EQ(requests_since(before), added_with_nothing_left);
    EXPECT_TRUE(ov::j.chips.empty());
    EXPECT_TRUE(ov::j.current == id_b);
    EXPECT_EQ(ov::j.current.order_key, 0x100u);
}

TEST_F(hotplug_test, a_removal_waits_eight_seconds_before_its_rescan_and_an_arrival_does_not)
{
    two_bridges();
    start();

    struct pause {
        uint64_t real_ms;
        size_t scans_before;
        bool on_notifier;
    };
    std::mutex m;
    std::vector<pause> pauses;
    ov::set_waiter([&](uint64_t real_ms) {
        const pause p{real_ms, lib.count("getDeviceList"), on_notifier()};
        std::lock_guard<std::mutex> lock(m);
        pauses.push_back(p);
        return false;   // the clock sleeps as usual
    });
    ov::pause_ms(8000);   // what 8 s comes to at this clock scale

    unplug(a);
    reg.terminate(a);
    settle();
    size_t arrival_from;
    {
        std::lock_guard<std::mutex> lock(m);
        arrival_from = pauses.size();
    }
    const uint32_t c = plug_usb(0x300, "SC");
    reg.announce({c});
    settle();
    ov::set_waiter(nullptr);

    ASSERT_FALSE(pauses.empty());
    const uint64_t eight_seconds = pauses.front().real_ms;
    EXPECT_FALSE(pauses.front().on_notifier);
    bool removal_paused = false;
    for (size_t i = 1; i < pauses.size(); ++i) {
        const pause& p = pauses[i];
        EXPECT_TRUE(p.on_notifier);
        if (i < arrival_from && p.scans_before == 1 && p.real_ms == eight_seconds)
            removal_paused = true;
        if (i >= arrival_from) {
            EXPECT_EQ(p.scans_before, 3u) << "the arrival paused before its scan";
        }
    }
    EXPECT_TRUE(removal_paused) << "no 8 s pause before the removal's rescan";
    EXPECT_EQ(lib.count("getDeviceList"), 3u);
}

TEST_F(hotplug_test, only_termination_and_message_zero_are_acted_upon)
{
    two_bridges();
    start();
    const size_t before = window.requests().size();

    reg.terminate(a, 0xE0000020);
    reg.terminate(a, 0xE0000030);
    settle();
    EXPECT_EQ(window.requests().size(), before);
    EXPECT_EQ(lib.count("getDeviceList"), 1u);

    // Message 0 is acted upon even during a warm boot, and a removal leaves the flag alone.
    ov::j.warm_boot_pending = true;
    reg.terminate(a, 0);
    settle();
    EXPECT_EQ(requests_since(before), removed_keeping_selection);
    EXPECT_EQ(lib.count("getDeviceList"), 2u);
    EXPECT_TRUE(ov::j.warm_boot_pending);
    expect_one_at_a_time_on_the_notifier();
}

TEST_F(hotplug_test, a_refresh_with_nothing_attached_still_reloads_the_outline)
{
    start();
    EXPECT_EQ(window.requests(), added_with_nothing_left);
    window.clear();

    ov::request_refresh();
    settle();
    EXPECT_EQ(window.requests(), added_with_nothing_left);
    EXPECT_TRUE(ov::j.chips.empty());
    EXPECT_TRUE(ov::j.tree.getdata().empty());
    EXPECT_EQ(lib.count("getDeviceList"), 2u);
    EXPECT_EQ(lib.count("openConnection"), 0u);
    expect_one_at_a_time_on_the_notifier();
}

TEST_F(hotplug_test, refreshes_wait_behind_a_running_removal_and_keep_their_order)
{
    two_bridges();
    const uint32_t c = plug_usb(0x300, "SC");
    start();
    const size_t first = handlings().size();

    unplug(a);
    reg.terminate(a);
    ASSERT_TRUE(window.wait_for("startworking", 2));   // the removal is in its pause now
    ov::request_refresh();
    reg.terminate(c, 0);
    ov::request_refresh();
    settle();

    const auto all = handlings();
    ASSERT_EQ(all.size(), first + 4);
    const auto is_removal = [](const list& h) { return h.size() > 1 && h[1] == "startworking"; };
    const auto is_added = [](const list& h) { return h.size() > 1 && h[1] == "clear_controller_list"; };
    EXPECT_TRUE(is_removal(all[first]));
    EXPECT_TRUE(is_added(all[first + 1]));
    EXPECT_TRUE(is_removal(all[first + 2]));
    EXPECT_TRUE(is_added(all[first + 3]));
    EXPECT_EQ(lib.count("getDeviceList"), 5u);
    EXPECT_EQ(ov::j.chips.size(), 2u);
    expect_one_at_a_time_on_the_notifier();
}

TEST_F(hotplug_test, handlings_and_window_commands_exclude_each_other)
{
    two_bridges();
    start();

    // While a handling runs, a window command cannot get in.
    bool command_got_in = true;
    also = [&](const std::string& r) {
        if (r == "update_controller_list") {
            command_got_in = std::async(std::launch::async, [] {
                                 if (!ov::j.handling.try_lock())
                                     return false;
                                 ov::j.handling.unlock();
                                 return true;
                             }).get();
        }
    };
    ov::request_refresh();
    settle();
    EXPECT_FALSE(command_got_in);
    also = nullptr;

    // While a command is inside the engine, an arrival waits for it.
    const size_t before = window.requests().size();
    ov::j.handling.lock();
    const uint32_t c = plug_usb(0x300, "SC");
    reg.announce({c});
    EXPECT_FALSE(window.wait_for("clear_controller_list", 3, std::chrono::milliseconds(200)));
    EXPECT_EQ(window.requests().size(), before);
    ov::j.handling.unlock();
    settle();
    EXPECT_EQ(requests_since(before), added_keeping_selection);
    EXPECT_EQ(ov::j.chips.size(), 3u);
}

// The RAID 1 watcher sees a disk pulled; its rescan is queued to the notification
// thread, and the watcher has already marked itself ended when it asks for it.
TEST_F(hotplug_test, a_disk_swap_seen_by_the_raid1_watcher_is_rescanned_on_the_notification_thread)
{
    b = plug_usb(0x100, "SB");
    mirror_on_b();
    start();
    ASSERT_EQ(ov::j.chips.size(), 1u);
    ASSERT_TRUE(ov::j.chips[0].raid1_timer_alive);

    bool alive_when_asked = true;
    bool asked_on_notifier = true;
    also = [&](const std::string& r) {
        if (r == "refresh") {
            alive_when_asked = ov::j.chips[0].raid1_timer_alive;
            asked_on_notifier = on_notifier();
        }
    };
    const size_t before = window.requests().size();
    lib.identify.erase({b, 1});
    lib.set_register(b, ov::reg_port1_presence, 0);
    ASSERT_TRUE(window.wait_for("stopworking", 2));
    settle();

    EXPECT_FALSE(alive_when_asked) << "the watcher must end before its refresh is handled";
    EXPECT_FALSE(asked_on_notifier);
    const list after = requests_since(before);
    ASSERT_GE(after.size(), 5u);
    EXPECT_EQ(list(after.begin(), after.begin() + 5),
              (list{"show_hot_swap_message", "refresh", "cleargui", "clear_controller_list", "startworking"}));
    EXPECT_EQ(after.back(), "stopworking");
    expect_one_at_a_time_on_the_notifier();
    ASSERT_EQ(ov::j.chips.size(), 1u);
    EXPECT_FALSE(ov::j.chips[0].disks[1].present);
    EXPECT_EQ(outline_text(ov::j.tree.getdata()), "device 1 (USB)\n"
                                                  "  P0: Disk A\n");
}

}  // namespace
}  // namespace ovtest
