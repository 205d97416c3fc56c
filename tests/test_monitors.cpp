// The two monitors of the current chip, run as real threads on the scaled clock: the
// rebuild poller (progress, the end of a rebuild, failures) and the RAID 1 timer
// (presence changes, bridges gone, silent disks), and how both are started and stopped.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>

#include "harness.h"

namespace ovtest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class monitors : public engine_fixture {
protected:
    // A mirror whose port-1 record carries the source mark, read as a scan reads it: the
    // chip is marked rebuilding and polling. The registers show both disks; the device
    // list holds the bridge.
    int marked_mirror()
    {
        const int i = add_chip(disk_a(), disk_b());
        put_record(i, 0, record_for(2, 0, 1999984, chip(i).disks[1], older_stamp));
        put_record(i, 1, record_for(2, 1, 1999984, chip(i).disks[0], older_stamp, 0x80));
        chip(i).read_raid_info();
        lib.devices = {chip(i).service};
        lib.clear_calls();
        return i;
    }

    void queue_statuses(uint64_t total, uint64_t current, int times)
    {
        for (int n = 0; n < times; ++n)
            lib.rebuild_statuses.push_back(scripted_library::status(total, current));
    }

    // Starts the poller the way the panel does (the chip is already marked polling).
    void start_poller(int i)
    {
        ASSERT_TRUE(chip(i).polling);
        chip(i).start_polling();
    }

    bool poller_ended(int i)
    {
        return eventually([&] { return !chip(i).poller_alive; });
    }

    struct statuses {
        uint64_t total, current;
        int times;
    };
    // A fresh marked mirror whose poller reads these statuses and then, with fail_after,
    // fails a read; returns the chip once its poller has ended.
    int polled(std::initializer_list<statuses> runs, bool fail_after = true)
    {
        next_case();
        lib.rebuild_statuses.clear();
        const int i = marked_mirror();
        int reads = 0;
        for (const statuses& r : runs) {
            queue_statuses(r.total, r.current, r.times);
            reads += r.times;
        }
        if (fail_after)
            lib.fail("ovGetRebuildStatus", reads + 1);
        start_poller(i);
        EXPECT_TRUE(poller_ended(i));
        return i;
    }

    bool timer_ended(int i)
    {
        return eventually([&] { return !chip(i).raid1_timer_alive; });
    }

    std::vector<std::string> progress() const
    {
        std::vector<std::string> out;
        for (const std::string& r : window.requests())
            if (r.rfind("updatepoll", 0) == 0)
                out.push_back(r);
        return out;
    }
};

const std::vector<std::string> start_requests = {"disablegui 1", "startprogressbar", "showrebuildbuttons"};

std::vector<std::string> repeated(const std::string& text, int times)
{
    return std::vector<std::string>(static_cast<size_t>(times), text);
}

// ---- the poller --------------------------------------------------------------------------

TEST_F(monitors, progress_is_decoded_from_48_bit_little_endian_fields)
{
    const int i = marked_mirror();
    queue_statuses(1000, 250, 1);
    lib.rebuild_statuses.push_back({0, 0, 0, 0, 1, 0, 5, 0, 0, 0, 0, 0});
    lib.rebuild_statuses.push_back({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0x32, 0x54, 0x76, 0x98, 0xBA});
    lib.fail("ovGetRebuildStatus", 4);
    start_poller(i);
    ASSERT_TRUE(poller_ended(i));
    std::vector<std::string> want = start_requests;
    for (const char* p : {"updatepoll 1000 250 0", "updatepoll 4294967296 5 0",
                          "updatepoll 281474976710655 205163983024656 0"})
        want.push_back(p);
    EXPECT_THAT(window.requests(), ElementsAreArray(want));
    EXPECT_FALSE(chip(i).polling);
}

TEST_F(monitors, progress_fields_read_the_same_whatever_the_host_order)
{
    // The status is little-endian on the wire on every host; a big-endian host must not
    // end up reading it the other way round.
    const unsigned char bytes[12] = {0, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0};
    for (int order : {0, 1, 2}) {
        SCOPED_TRACE("host order " + std::to_string(order));
        ov::override_architecture(order);
        EXPECT_EQ(ov::rebuild_status::decode(bytes).total(), 1ULL << 32);
        EXPECT_EQ(ov::rebuild_status::decode(bytes).current(), 2u);
    }
    ov::override_architecture(-1);
}

TEST_F(monitors, seven_done_polls_end_the_rebuild_and_clear_both_marks)
{
    const int i = marked_mirror();
    window.act_like_panel = true;
    queue_statuses(1000, 1000, 7);
    std::mutex m;
    std::vector<bool> held_at_request;
    size_t record_calls_at_final = 0;
    window.on_request = [&](const std::string& r) {
        const bool held = registry_mutex_held();
        std::lock_guard<std::mutex> g(m);
        held_at_request.push_back(held);
        if (r == "updatepoll 1000 1000 1")
            record_calls_at_final = lib.count("ovSetRaidInfo") + lib.count("ovFlushHDDCache");
    };
    start_poller(i);
    ASSERT_TRUE(window.wait_for("update_raid_information"));
    ASSERT_TRUE(poller_ended(i));

    std::vector<std::string> want = start_requests;
    for (const std::string& r : repeated("updatepoll 1000 1000 0", 7))
        want.push_back(r);
    for (const char* r : {"updatepoll 1000 1000 1", "show_message rebuild_finished", "update_raid_information"})
        want.push_back(r);
    EXPECT_THAT(window.requests(), ElementsAreArray(want));
    // The marks were cleared before the final progress was shown.
    EXPECT_EQ(record_calls_at_final, 6u);

    std::vector<std::string> after_last_poll;
    bool polls_over = false;
    int polls = 0;
    for (const call& c : lib.calls()) {
        if (c.name == "ovGetRebuildStatus") {
            ++polls;
            polls_over = polls == 7;
            continue;
        }
        if (polls_over)
            after_last_poll.push_back(describe(c));
    }
    EXPECT_EQ(polls, 7);
    const std::string l0 = std::to_string(record_lba(i, 0)), l1 = std::to_string(record_lba(i, 1));
    EXPECT_THAT(after_last_poll,
                ElementsAre("ovGetRaidInfo 0 " + l0, "ovSetRaidInfo 0 " + l0, "ovGetRaidInfo 0 " + l0,
                            "ovSetRaidInfo 0 " + l0, "ovGetRaidInfo 0 " + l0, "ovFlushHDDCache 0",
                            "ovGetRaidInfo 1 " + l1, "ovSetRaidInfo 1 " + l1, "ovGetRaidInfo 1 " + l1,
                            "ovSetRaidInfo 1 " + l1, "ovGetRaidInfo 1 " + l1, "ovFlushHDDCache 1"));

    EXPECT_FALSE(chip(i).rebuilding);
    EXPECT_FALSE(chip(i).polling);
    EXPECT_FALSE(chip(i).disks[0].rebuild_flag);
    EXPECT_FALSE(chip(i).disks[1].rebuild_flag);
    EXPECT_EQ(stored_record(i, 1)[4], 0);
    EXPECT_EQ(stored_record(i, 0)[4], 0);
    {
        std::lock_guard<std::mutex> g(m);
        for (bool held : held_at_request)
            EXPECT_FALSE(held) << "a window request made under the registry mutex";
    }
    window.on_request = nullptr;

    // Selecting the chip again without a rescan does not follow the finished rebuild.
    chip(i).select_chip();
    EXPECT_FALSE(chip(i).rebuilding);
    EXPECT_FALSE(chip(i).polling);
}

TEST_F(monitors, six_done_polls_are_not_an_end)
{
    const int i = polled({{1000, 1000, 6}});
    EXPECT_THAT(progress(), ElementsAreArray(repeated("updatepoll 1000 1000 0", 6)));
    EXPECT_FALSE(window.contains("show_message rebuild_finished"));
    EXPECT_EQ(lib.count("ovSetRaidInfo"), 0u);
    EXPECT_TRUE(chip(i).rebuilding);
}

TEST_F(monitors, a_minute_without_progress_is_reported_once_and_progress_resets_it)
{
    polled({{1000, 250, 15}, {1000, 260, 15}});
    EXPECT_EQ(window.count("notice rebuild_stalled"), 0u) << "progress just in time";
    polled({{1000, 250, 3}, {1000, 260, 30}});
    EXPECT_EQ(window.count("notice rebuild_stalled"), 1u) << "stuck for longer than a minute";
    polled({{1000, 250, 16}, {1000, 260, 16}});
    EXPECT_EQ(window.count("notice rebuild_stalled"), 2u) << "stuck, moving, stuck again";
}

TEST_F(monitors, a_poll_below_the_end_starts_the_count_again)
{
    polled({{1000, 1000, 6}, {1000, 999, 1}, {1000, 1000, 6}});
    EXPECT_EQ(progress().size(), 13u) << "six, one lower, six";
    EXPECT_FALSE(window.contains("show_message rebuild_finished"));
    EXPECT_EQ(lib.count("ovSetRaidInfo"), 0u);

    // Past the end counts as done.
    polled({{1000, 1000, 6}, {1000, 999, 1}, {1000, 1200, 7}}, false);
    EXPECT_TRUE(window.contains("show_message rebuild_finished")) << "six, one lower, seven";
    EXPECT_EQ(lib.count("ovGetRebuildStatus"), 14u);
    EXPECT_TRUE(window.contains("updatepoll 1000 1200 1"));
}

TEST_F(monitors, a_status_with_total_0_is_not_an_end_and_shows_nothing)
{
    polled({{0, 0, 10}});
    EXPECT_THAT(progress(), IsEmpty()) << "only zero totals";
    EXPECT_FALSE(window.contains("show_message rebuild_finished"));
    EXPECT_EQ(lib.count("ovSetRaidInfo"), 0u);

    polled({{1000, 1000, 6}, {0, 0, 1}, {1000, 1000, 6}});
    EXPECT_THAT(progress(), ElementsAreArray(repeated("updatepoll 1000 1000 0", 12))) << "a zero total between";
    EXPECT_FALSE(window.contains("show_message rebuild_finished"));
}

TEST_F(monitors, a_failed_first_status_read_ends_the_poller_silently)
{
    const int i = marked_mirror();
    lib.fail("ovGetRebuildStatus");
    start_poller(i);
    ASSERT_TRUE(poller_ended(i));
    EXPECT_THAT(window.requests(), ElementsAreArray(start_requests));
    EXPECT_FALSE(chip(i).polling);
    EXPECT_THAT(lib.names(), ElementsAre("ovGetRebuildStatus"));
}

TEST_F(monitors, starting_a_live_poller_again_changes_nothing_and_stopping_does_not_wait)
{
    const int i = marked_mirror();
    queue_statuses(1000, 10, 1);
    // The poller is held inside its status read until the test lets it go.
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> entered{0};
    lib.on_call = [&](const call& c) {
        if (c.name != "ovGetRebuildStatus")
            return;
        std::unique_lock<std::mutex> lock(m);
        ++entered;
        cv.wait_for(lock, 20s, [&] { return open; });
    };
    start_poller(i);
    ASSERT_TRUE(eventually([&] { return entered.load() == 1; }));
    EXPECT_THAT(window.requests(), ElementsAreArray(start_requests));

    window.clear();
    EXPECT_TRUE(chip(i).start_polling());
    EXPECT_THAT(window.requests(), IsEmpty());

    EXPECT_TRUE(chip(i).stop_polling());
    EXPECT_THAT(window.requests(), ElementsAre("stopprogressbar"));
    EXPECT_FALSE(chip(i).polling);
    EXPECT_TRUE(chip(i).poller_alive) << "the poller is still inside its read";

    {
        std::lock_guard<std::mutex> lock(m);
        open = true;
    }
    cv.notify_all();
    ASSERT_TRUE(poller_ended(i));
    lib.on_call = nullptr;
    EXPECT_EQ(lib.threads("ovGetRebuildStatus"), 1u);
    EXPECT_EQ(entered.load(), 1);
}

TEST_F(monitors, two_quick_starts_make_one_poller)
{
    const int i = marked_mirror();
    queue_statuses(1000, 10, 1);
    chip(i).start_polling();
    chip(i).start_polling();
    ASSERT_TRUE(eventually([&] { return lib.count("ovGetRebuildStatus") >= 4; }));
    chip(i).stop_polling();
    ASSERT_TRUE(poller_ended(i));
    EXPECT_EQ(lib.threads("ovGetRebuildStatus"), 1u);
    EXPECT_EQ(window.count("startprogressbar"), 1u);
}

TEST_F(monitors, a_thread_that_cannot_be_created_takes_the_fatal_path)
{
    const int i = marked_mirror();
    ov::simulate_thread_creation_failure(true);
    chip(i).start_polling();
    EXPECT_FALSE(chip(i).poller_alive);
    EXPECT_TRUE(window.contains("show_error_and_exit Error creating polling thread..Exiting"));
    chip(i).start_raid1_timer();
    EXPECT_FALSE(chip(i).raid1_timer_alive);
    EXPECT_FALSE(chip(i).raid1_timer_run);
    EXPECT_TRUE(window.contains("show_error_and_exit Error creating RAID1 timer thread..Exiting"));
    ov::simulate_thread_creation_failure(false);
    EXPECT_THAT(lib.names(), IsEmpty());
}

TEST_F(monitors, a_monitor_of_a_chip_that_is_not_current_ends_at_once)
{
    const int first = marked_mirror();
    const int second = add_chip(disk_a(), disk_b(), true, false);
    chip(second).disks[0].raid_mode = 2;
    chip(second).disks[1].raid_mode = 2;
    ASSERT_EQ(ov::j.get_controller_num(ov::j.current), first);
    chip(second).polling = true;
    chip(second).start_polling();
    chip(second).start_raid1_timer();
    EXPECT_TRUE(poller_ended(second));
    EXPECT_TRUE(timer_ended(second));

    // No current controller at all.
    ov::j.current = ov::controller_t{};
    chip(first).start_polling();
    chip(first).start_raid1_timer();
    EXPECT_TRUE(poller_ended(first));
    EXPECT_TRUE(timer_ended(first));
    EXPECT_EQ(lib.count("ovGetRebuildStatus"), 0u);
    EXPECT_EQ(lib.count("ovGetRegister"), 0u);
}

// ---- the RAID 1 timer --------------------------------------------------------------------

TEST_F(monitors, a_disk_pulled_while_the_bridge_stays_raises_the_notice_and_a_rescan)
{
    const int i = marked_mirror();
    std::mutex m;
    std::vector<bool> held_at_register;
    std::atomic<int> alive_at_refresh{-1};
    lib.on_call = [&](const call& c) {
        if (c.name != "ovGetRegister" && c.name != "getDeviceList")
            return;
        const bool held = registry_mutex_held();
        std::lock_guard<std::mutex> g(m);
        held_at_register.push_back(held);
    };
    window.on_request = [&](const std::string& r) {
        if (r == "refresh")
            alive_at_refresh = chip(i).raid1_timer_alive ? 1 : 0;
    };
    chip(i).start_raid1_timer();
    ASSERT_TRUE(eventually([&] { return lib.count("ovGetRegister") >= 4; }));
    lib.set_register(chip(i).service, ov::reg_port1_presence, 0);
    ASSERT_TRUE(window.wait_for("refresh"));
    ASSERT_TRUE(timer_ended(i));
    EXPECT_THAT(window.requests(), ElementsAre("show_hot_swap_message", "refresh"));
    ASSERT_TRUE(eventually([&] { return alive_at_refresh.load() != -1; }));
    EXPECT_EQ(alive_at_refresh.load(), 0) << "the rescan waits for this flag";

    // Register reads come in pairs, port 0 first; the device list is read once, last.
    const auto calls = lib.calls();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(calls.back().name, "getDeviceList");
    for (size_t k = 0; k + 1 < calls.size(); ++k) {
        EXPECT_EQ(calls[k].name, "ovGetRegister");
        EXPECT_EQ(calls[k].address, k % 2 == 0 ? ov::reg_port0_presence : ov::reg_port1_presence);
        EXPECT_EQ(calls[k].flag, 4);
    }
    {
        std::lock_guard<std::mutex> g(m);
        for (bool held : held_at_register)
            EXPECT_TRUE(held);
    }
    lib.on_call = nullptr;
    window.on_request = nullptr;
}

TEST_F(monitors, a_change_with_a_bridge_gone_ends_the_timer_without_a_notice)
{
    const int i = marked_mirror();
    lib.devices.clear();  // the device list is shorter than the chip list
    lib.set_register(chip(i).service, ov::reg_port1_presence, 0);
    chip(i).start_raid1_timer();
    ASSERT_TRUE(eventually([&] { return lib.count("getDeviceList") == 1; }));
    ASSERT_TRUE(timer_ended(i));
    EXPECT_THAT(window.requests(), IsEmpty());
    EXPECT_EQ(lib.count("ovGetRegister"), 2u);
}

TEST_F(monitors, a_mirror_member_on_port_1_keeps_the_timer_running_whatever_port_0_holds)
{
    struct port0_case {
        const char* what;
        ov::ovdisk disk;
        uint32_t mode;
    };
    const std::vector<port0_case> cases = {{"empty", empty_port, 0},
                                           {"blank disk", disk_a(), 0},
                                           {"stripe member", disk_a(), 1},
                                           {"silent disk", silent_disk(), 0}};
    for (const port0_case& pc : cases) {
        SCOPED_TRACE(pc.what);
        next_case();
        ov::ovdisk d0 = pc.disk;
        d0.raid_mode = pc.mode;
        ov::ovdisk d1 = disk_b();
        d1.raid_mode = 2;
        const int i = add_chip(d0, d1);
        lib.devices = {chip(i).service};
        chip(i).start_raid1_timer();
        EXPECT_TRUE(eventually([&] { return lib.count("ovGetRegister") >= 12; }));
        EXPECT_TRUE(chip(i).raid1_timer_alive);
        EXPECT_THAT(window.requests(), IsEmpty());
        EXPECT_EQ(lib.count("getDeviceList"), 0u);
    }
}

TEST_F(monitors, no_mirror_member_present_ends_the_timer)
{
    for (uint32_t mode : {0u, 1u, 4u}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        next_case();
        ov::ovdisk d0 = disk_a(), d1 = disk_b();
        d0.raid_mode = d1.raid_mode = mode;
        const int i = add_chip(d0, d1);
        chip(i).start_raid1_timer();
        ASSERT_TRUE(timer_ended(i));
        EXPECT_EQ(lib.count("ovGetRegister"), 2u);
        EXPECT_THAT(window.requests(), IsEmpty());
    }
}

TEST_F(monitors, a_silent_disk_is_no_change_until_its_register_changes)
{
    ov::ovdisk d0 = disk_a();
    d0.raid_mode = 2;
    const int i = add_chip(d0, silent_disk());
    lib.devices = {chip(i).service};
    chip(i).start_raid1_timer();
    EXPECT_TRUE(eventually([&] { return lib.count("ovGetRegister") >= 12; }));
    EXPECT_TRUE(chip(i).raid1_timer_alive);
    EXPECT_THAT(window.requests(), IsEmpty());

    // The silent disk is pulled: that is a change.
    lib.set_register(chip(i).service, ov::reg_port1_presence, 0);
    ASSERT_TRUE(window.wait_for("refresh"));
    ASSERT_TRUE(timer_ended(i));
    EXPECT_THAT(window.requests(), ElementsAre("show_hot_swap_message", "refresh"));
}

TEST_F(monitors, a_failed_register_read_counts_as_an_empty_port)
{
    const int i = marked_mirror();
    lib.register_results[{chip(i).service, ov::reg_port0_presence}] = -1;
    chip(i).start_raid1_timer();
    ASSERT_TRUE(window.wait_for("refresh"));
    ASSERT_TRUE(timer_ended(i));
    EXPECT_THAT(window.requests(), ElementsAre("show_hot_swap_message", "refresh"));
}

TEST_F(monitors, a_second_timer_start_makes_no_second_thread)
{
    const int i = marked_mirror();
    chip(i).start_raid1_timer();
    chip(i).start_raid1_timer();
    ASSERT_TRUE(eventually([&] { return lib.count("ovGetRegister") >= 8; }));
    chip(i).start_raid1_timer();
    EXPECT_TRUE(chip(i).stop_raid1_timer());
    ASSERT_TRUE(timer_ended(i));
    EXPECT_EQ(lib.threads("ovGetRegister"), 1u);
}

}  // namespace
}  // namespace ovtest
