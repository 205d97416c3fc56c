// Whole stories of the engine on the simulated enclosure: sets created, deleted and
// cleared on real image files, a mirror rebuilt onto a new disk and followed by the
// poller to its end, and a pulled disk noticed by the RAID 1 timer. The engine is driven
// the way the notification thread drives it: scan, identities, records, select.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"
#include "sim/enclosure.h"

namespace ovtest {
namespace {

using ::testing::ElementsAre;

class engine_stories : public engine_fixture, public sim_tree {
protected:
    std::unique_ptr<ov::sim::enclosure> enc;
    std::string img[2];

    void TearDown() override
    {
        engine_fixture::TearDown();
        // The enclosure joins its own reboot and copy threads.
        enc.reset();
    }

    // Bridge "u" with disks "a" and "b" of these sizes, plugged in and scanned.
    void start_with(uint64_t c0, uint64_t c1, double rebuild_seconds = 0)
    {
        add_usb("u", rebuild_seconds);
        img[0] = add_disk("u", 0, "a", c0);
        img[1] = add_disk("u", 1, "b", c1);
        enc = std::make_unique<ov::sim::enclosure>(root);
        enc->sync();
        ov::install_library(enc.get());
        ov::install_registry(enc.get());
        ASSERT_NO_FATAL_FAILURE(rescan());
    }

    // What a device handling does: scan, identities, records; then the first chip is
    // the selected one.
    void rescan()
    {
        ov::j.scandevices();
        ov::j.updatediskinformation();
        ov::j.read_raid();
        ov::j.warm_boot_pending = false;
        ASSERT_EQ(ov::j.chips.size(), 1u);
        ov::j.current = ov::j.chips[0].identity;
    }

    // Runs a command that restarts the bridge, and rescans once it is back under a new handle.
    void restarting(const std::function<bool()>& command)
    {
        const uint32_t before = ov::j.chips[0].service;
        ASSERT_TRUE(command());
        ASSERT_TRUE(eventually([&] {
            const uint32_t s = enc->service_of("u");
            return s != 0 && s != before;
        }));
        ASSERT_NO_FATAL_FAILURE(rescan());
    }
    void create(int mode)
    {
        restarting([mode] { return ov::j.build_raid(0, mode); });
    }

    std::string record_on(const std::string& image, uint64_t capacity)
    {
        return read_bytes(image, (capacity - 15) * 512, 512);
    }

    static uint64_t capacity_of(const std::string& record)
    {
        return ov::le::load64(reinterpret_cast<const unsigned char*>(record.data()) + 8);
    }
};

TEST_F(engine_stories, sets_are_created_found_after_the_boot_and_deleted)
{
    const uint64_t c0 = 200000, c1 = 260000;
    ASSERT_NO_FATAL_FAILURE(start_with(c0, c1));
    const std::string &img0 = img[0], &img1 = img[1];
    ASSERT_TRUE(ov::j.chips[0].disks[0].present);
    ASSERT_TRUE(ov::j.chips[0].disks[1].present);
    EXPECT_EQ(ov::j.chips[0].disks[0].capacity, c0);
    EXPECT_FALSE(ov::j.chips[0].raid_configured);

    struct set_case {
        int mode;
        uint64_t size;
    };
    for (const set_case& sc : {set_case{1, 2 * c0 - 32}, set_case{2, c0 - 16}, set_case{4, c0 + c1 - 65568}}) {
        SCOPED_TRACE("mode " + std::to_string(sc.mode));
        const std::string data = random_bytes(4096, static_cast<unsigned>(sc.mode));
        write_bytes(img0, 10 * 512, data);
        write_bytes(img1, 0, data);

        ASSERT_NO_FATAL_FAILURE(create(sc.mode));
        const ov::ovchip& c = ov::j.chips[0];
        EXPECT_TRUE(c.raid_configured);
        EXPECT_EQ(c.raid_mode, static_cast<uint32_t>(sc.mode));
        EXPECT_EQ(c.raid_capacity, sc.size);
        EXPECT_FALSE(c.rebuilding);
        EXPECT_EQ(read_bytes(img1, 0, 512), std::string(512, '\0')) << "sector 0 is zeroed";
        const std::string r0 = record_on(img0, c0), r1 = record_on(img1, c1);
        EXPECT_EQ(r0.substr(0, 4), std::string("OV") + char(sc.mode) + char(0));
        EXPECT_EQ(r1.substr(0, 4), std::string("OV") + char(sc.mode) + char(1));
        EXPECT_EQ(capacity_of(r1), sc.size);
        EXPECT_EQ(0, std::memcmp(r0.data() + 16, c.disks[1].serial_raw, 20));
        EXPECT_EQ(0, std::memcmp(r1.data() + 36, c.disks[0].model_raw, 40));
        EXPECT_EQ(r0.substr(480, 16), r1.substr(480, 16));

        ASSERT_NO_FATAL_FAILURE(restarting([] { return ov::j.clear_raid(0); }));
        EXPECT_FALSE(ov::j.chips[0].raid_configured);
        EXPECT_EQ(ov::j.chips[0].disks[0].raid_mode, 0u);
        EXPECT_EQ(ov::j.chips[0].disks[1].raid_mode, 0u);
        EXPECT_EQ(record_on(img0, c0), std::string(512, '\0'));
        EXPECT_EQ(record_on(img1, c1), std::string(512, '\0'));
        // Only a mirror's delete leaves the first sectors alone.
        EXPECT_EQ(read_bytes(img0, 10 * 512, 4096) == data, sc.mode == 2);
    }
}

TEST_F(engine_stories, clearing_one_disk_breaks_the_stripe_and_spares_the_other_disk)
{
    const uint64_t c0 = 150000, c1 = 150000;
    ASSERT_NO_FATAL_FAILURE(start_with(c0, c1));
    ASSERT_NO_FATAL_FAILURE(create(1));
    const std::string &img0 = img[0], &img1 = img[1];
    ASSERT_TRUE(ov::j.chips[0].raid_configured);
    const std::string kept = record_on(img0, c0);
    write_bytes(img1, 63 * 512, "last wiped sector");
    write_bytes(img1, 64 * 512, "first kept sector");

    ASSERT_NO_FATAL_FAILURE(restarting([] { return ov::j.chips[0].clear_disk(true); }));
    EXPECT_EQ(record_on(img1, c1), std::string(512, '\0'));
    EXPECT_EQ(read_bytes(img1, 63 * 512, 17), std::string(17, '\0'));
    EXPECT_EQ(read_bytes(img1, 64 * 512, 17), "first kept sector");
    EXPECT_EQ(record_on(img0, c0), kept);
    const ov::ovchip& c = ov::j.chips[0];
    EXPECT_FALSE(c.raid_configured);
    EXPECT_TRUE(c.disks[0].partner_mismatch);
    EXPECT_EQ(c.disks[1].raid_mode, 0u);
}

TEST_F(engine_stories, a_mirror_is_rebuilt_onto_a_new_disk_and_followed_to_its_end)
{
    const uint64_t c0 = 200000, c_new = 300000, set = c0 - 16;
    ASSERT_NO_FATAL_FAILURE(start_with(c0, 200000, 20));  // 20 s of system time for the whole copy
    ASSERT_NO_FATAL_FAILURE(create(2));
    const std::string& src = img[0];
    ASSERT_TRUE(ov::j.chips[0].raid_configured);
    ASSERT_EQ(ov::j.chips[0].raid_capacity, set);

    // The set holds data, right up to its last sector.
    write_bytes(src, 0, random_bytes(1 << 20, 1));
    write_bytes(src, 40ULL << 20, random_bytes(300 << 10, 2));
    write_bytes(src, (set - 1) * 512, random_bytes(512, 3));

    // Disk 1 is pulled: the lone member is degraded when its chip is selected.
    std::string pulled;
    ASSERT_TRUE(st.pull_disk("u", 1, pulled, error)) << error;
    ASSERT_NO_FATAL_FAILURE(rescan());
    ASSERT_TRUE(ov::j.chips[0].disks[0].degrade_needed);
    ov::j.chips[0].select_chip();
    const std::string degraded = record_on(src, c0);
    EXPECT_EQ(degraded.substr(16, 60), std::string(60, '\0')) << "the lone member names no partner";
    EXPECT_EQ(capacity_of(degraded), set);

    // A blank, larger disk goes in; the rebuild from port 0 is started.
    const std::string dst = add_disk("u", 1, "c", c_new);
    ASSERT_NO_FATAL_FAILURE(rescan());
    ASSERT_TRUE(ov::j.chips[0].disks[1].present);
    ASSERT_TRUE(ov::j.chips[0].raid1_pair_present);
    ASSERT_NO_FATAL_FAILURE(restarting([] { return ov::j.chips[0].rebuild(false); }));
    ov::ovchip& c = ov::j.chips[0];
    ASSERT_TRUE(c.raid_configured);
    ASSERT_TRUE(c.rebuilding);
    ASSERT_TRUE(c.polling);

    // The panel starts the poller when it shows a chip marked polling.
    window.act_like_panel = true;
    window.clear();
    c.select_chip();
    ov::ctrller->update_raid_information();
    ASSERT_TRUE(window.wait_for("show_message rebuild_finished", 1, 60s));
    ASSERT_TRUE(eventually([&] { return !c.poller_alive; }, 60s));
    const std::string final_poll = "updatepoll " + std::to_string(set) + " " + std::to_string(set) + " 1";
    EXPECT_TRUE(window.contains(final_poll));
    EXPECT_EQ(window.count("startprogressbar"), 1u);
    EXPECT_FALSE(c.rebuilding);
    EXPECT_FALSE(c.disks[0].rebuild_flag);
    EXPECT_FALSE(c.disks[1].rebuild_flag);
    c.raid1_timer_run = false;
    ASSERT_TRUE(eventually([&] { return !c.raid1_timer_alive; }));

    EXPECT_EQ(first_difference(src, dst, set * 512), -1) << "the target holds the set";
    const std::string r0 = record_on(src, c0), r1 = record_on(dst, c_new);
    EXPECT_EQ(r0[4], 0) << "source mark cleared";
    EXPECT_EQ(r1[4], 0);
    EXPECT_EQ(r0[2], 2);
    EXPECT_EQ(r1[2], 2);
    EXPECT_EQ(capacity_of(r0), set);
    EXPECT_EQ(capacity_of(r1), set);
    EXPECT_EQ(r0.substr(480, 16), r1.substr(480, 16));

    // The next boot finds a healthy mirror with nothing left to follow.
    ASSERT_NO_FATAL_FAILURE(restarting([&c] { return c.warm_boot(); }));
    EXPECT_TRUE(ov::j.chips[0].raid_configured);
    EXPECT_EQ(ov::j.chips[0].raid_mode, 2u);
    EXPECT_FALSE(ov::j.chips[0].rebuilding);
    EXPECT_FALSE(ov::j.chips[0].polling);
}

TEST_F(engine_stories, a_disk_pulled_from_a_mirror_is_noticed_by_the_timer)
{
    ASSERT_NO_FATAL_FAILURE(start_with(120000, 120000));
    ASSERT_NO_FATAL_FAILURE(create(2));
    ASSERT_TRUE(ov::j.chips[0].raid_configured);
    window.clear();
    ov::j.chips[0].select_chip();
    ASSERT_TRUE(ov::j.chips[0].raid1_timer_alive);

    std::string pulled;
    ASSERT_TRUE(st.pull_disk("u", 1, pulled, error)) << error;
    ASSERT_TRUE(window.wait_for("refresh"));
    ASSERT_TRUE(eventually([] { return !ov::j.chips[0].raid1_timer_alive; }));
    EXPECT_THAT(window.requests(), ElementsAre("show_hot_swap_message", "refresh"));
}

}  // namespace
}  // namespace ovtest
