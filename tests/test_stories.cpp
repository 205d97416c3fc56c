// End-to-end stories: a user at the real window with simulated enclosures, from blank
// disks to a mirror, through a disk swap and a rebuild, deleting and re-creating sets,
// two enclosures at once, and an enclosure unplugged in the middle of a rebuild.
#include "story_fixture.h"

namespace stories {
namespace {

using strings = std::vector<std::string>;

TEST_F(story_test, two_blank_disks_become_a_mirror_shown_after_the_bridge_restarts)
{
    ASSERT_NO_FATAL_FAILURE(add_usb("u", 60, true, 0x100));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 0, "a", three_gb_disk));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 1, "b", two_gb_disk));
    // Old contents: creating a set clears sector 0 of each disk and nothing else.
    write_bytes(image("u", 0), 0, random_bytes(512, 10));
    write_bytes(image("u", 1), 0, random_bytes(512, 11));
    const std::string kept = random_bytes(4096, 12);
    write_bytes(image("u", 0), 100 * 512, kept);
    ASSERT_NO_FATAL_FAILURE(launch());

    auto* box = find<QComboBox>("controllerselectbox");
    ASSERT_EQ(box->count(), 1);
    EXPECT_EQ(box->currentText(), "RAID Volume  (S/N: USB-u)");
    EXPECT_EQ(text("disk0modefield"), "not_config");
    EXPECT_EQ(text("disk1modefield"), "not_config");
    EXPECT_EQ(text("disk0caplabel"), "3 GB");
    EXPECT_EQ(text("disk1caplabel"), "2 GB");
    EXPECT_EQ(text("raidmodelabel"), "");
    EXPECT_TRUE(alerts.empty());
    const uint32_t before = enc->service_of("u");

    // The first answer is Cancel: nothing is written and the bridge keeps running.
    answers["all_data_lost"] = {0};
    ASSERT_TRUE(click("raid_row_1"));
    ASSERT_TRUE(command("confirmbutton", "all_data_lost"));
    EXPECT_EQ(enc->service_of("u"), before);
    EXPECT_FALSE(ov::has_signature(record_of("u", 0).data()));
    EXPECT_FALSE(ov::has_signature(record_of("u", 1).data()));
    EXPECT_EQ(text("disk0modefield"), "not_config");

    ASSERT_TRUE(restarted_by("confirmbutton"));
    EXPECT_EQ(text("raidmodelabel"), "raid_1");
    // min(c0, c1) - 16 = 3,906,242 sectors = 1,999,995,904 bytes.
    EXPECT_EQ(text("disk0caplabel"), "1 GB");
    EXPECT_EQ(text("disk1caplabel"), "");
    EXPECT_EQ(text("disk0label"), "");
    EXPECT_TRUE(shown("disk0cappicture"));
    EXPECT_FALSE(shown("disk1cappicture"));
    EXPECT_EQ(text("disk0modefield"), "raid_1");
    EXPECT_EQ(text("disk1modefield"), "raid_1");
    EXPECT_TRUE(enabled("clearconfigbutton"));
    EXPECT_FALSE(shown("cleardisk0button"));
    EXPECT_FALSE(enabled("rebuild0to1button"));
    EXPECT_FALSE(enabled("rebuild1to0button"));
    EXPECT_EQ(current_tab(), "configuretab");
    EXPECT_EQ(box->currentText(), "RAID Volume  (S/N: USB-u)");

    ASSERT_TRUE(a_set("u", ov::mode_raid1, two_gb_disk - 16));
    for (int port = 0; port < 2; ++port) {
        EXPECT_EQ(record_of("u", port).flags, 0) << "port " << port;
        EXPECT_EQ(record_of("u", port).over_2tb, 0) << "port " << port;
        EXPECT_EQ(read_bytes(image("u", port), 0, 512), std::string(512, '\0')) << "port " << port;
    }
    EXPECT_EQ(std::memcmp(record_of("u", 0).stamp, record_of("u", 1).stamp, 16), 0);
    EXPECT_EQ(read_bytes(image("u", 0), 100 * 512, kept.size()), kept);
    EXPECT_EQ(messages(), (strings{"all_data_lost", "all_data_lost"}));
}

// Run twice: with the simulator linked in, and loaded as a bridge library through the
// loader and the C interface.
class loadable_story : public story_test, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(linked_and_loaded, loadable_story, ::testing::Bool());

TEST_P(loadable_story, a_pulled_mirror_disk_is_replaced_by_a_larger_blank_one_and_rebuilt)
{
    through_loader = GetParam();
    ASSERT_NO_FATAL_FAILURE(add_usb("u", 60, true, 0x100));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 0, "a", gib));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 1, "b", gib));
    const uint64_t set = write_mirror("u");
    ASSERT_NO_FATAL_FAILURE(shelf_disk("c", gib + 8192));
    const pieces data = fill_for_rebuild(image("u", 0), st.shelf_image("c"), set);
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_EQ(text("raidmodelabel"), "raid_1");
    ASSERT_TRUE(alerts.empty());

    // Disk 2 is pulled: the watcher notices, tells the user and rescans; the lone member
    // is re-written as a degraded mirror and the panel says so.
    std::string pulled;
    ASSERT_TRUE(st.pull_disk("u", 1, pulled, error)) << error;
    ASSERT_TRUE(eventually([&] { return count("raid1_degrade_mode") == 1 && idle(); }));
    EXPECT_EQ(messages(), (strings{"hot_swap", "raid1_degrade_mode"}));
    EXPECT_EQ(text("disk1modelfield"), "");
    EXPECT_EQ(text("disk0modefield"), "raid_1degrade");
    EXPECT_EQ(text("raidmodelabel"), "");
    EXPECT_EQ(current_tab(), "configuretab");
    EXPECT_FALSE(enabled("rebuild0to1button"));
    {
        const ov::raid_info r = record_of("u", 0);
        ASSERT_TRUE(ov::has_signature(r.data()));
        EXPECT_EQ(r.raid_mode, ov::mode_raid1);
        EXPECT_EQ(r.member_index, 0);
        EXPECT_EQ(r.flags, 0);
        EXPECT_EQ(r.capacity(), set);
        EXPECT_TRUE(all_zero(r.partner_serial, 20));
        EXPECT_TRUE(all_zero(r.partner_model, 40));
        EXPECT_NE(std::memcmp(r.stamp, older_stamp, 14), 0) << "the record was not re-written";
    }

    // A larger blank disk goes in: noticed again; the half and the blank disk conflict,
    // and the rebuild tab opens with the one direction that makes sense.
    ASSERT_NO_FATAL_FAILURE(insert("u", 1, "c"));
    ASSERT_TRUE(eventually([&] { return count("raid_info_conflict") == 1 && idle(); }));
    EXPECT_EQ(messages(), (strings{"hot_swap", "raid1_degrade_mode", "hot_swap", "raid1_degrade_mode",
                                   "raid_info_conflict"}));
    EXPECT_EQ(current_tab(), "rebuildtab");
    EXPECT_EQ(text("rebuilddisk0field"), "raid_1");
    EXPECT_EQ(text("rebuilddisk1field"), "not_config");
    EXPECT_TRUE(enabled("rebuild0to1button"));
    EXPECT_FALSE(enabled("rebuild1to0button"));

    choose_tab(1);
    EXPECT_EQ(current_tab(), "rebuildtab");
    const size_t from = progress.size();
    const size_t asked = alerts.size();
    ASSERT_TRUE(command("rebuild0to1button", "disk1_to_disk2"));
    ASSERT_TRUE(eventually([&] { return count("rebuild_finished") == 1; }, 180s));
    ASSERT_TRUE(eventually([&] { return idle() && text("raidmodelabel") == "raid_1"; }));
    EXPECT_EQ(messages(asked), (strings{"disk1_to_disk2", "rebuild_finished"}));

    size_t end = 0;
    EXPECT_TRUE(climbed_to_the_end(from, end));
    for (size_t i = from; i < end; ++i) {
        const progress_seen& p = progress[i];
        if (p.value == 0)
            continue;
        SCOPED_TRACE("at " + std::to_string(p.value / 10.0) + "%");
        EXPECT_TRUE(p.bar_shown);
        EXPECT_EQ(p.mode_label, "raid_1rebuilding");
        EXPECT_EQ(p.disk0mode, "raid_1rebuild_source");
        EXPECT_EQ(p.disk1mode, "raid_1rebuild_target");
        EXPECT_TRUE(p.mark0);
        EXPECT_FALSE(p.mark1);
        EXPECT_FALSE(p.rebuild0);
        EXPECT_FALSE(p.rebuild1);
    }
    for (const alert_seen& a : alerts) {
        if (a.message == "rebuild_finished") {
            EXPECT_EQ(a.percent_text, "100.0%");
        }
    }

    // A healthy mirror again, on screen and on the disks.
    EXPECT_EQ(text("disk0modefield"), "raid_1");
    EXPECT_EQ(text("disk1modefield"), "raid_1");
    EXPECT_FALSE(shown("levelindicator"));
    EXPECT_TRUE(button("rebuild0to1button")->icon().isNull());
    ASSERT_TRUE(a_set("u", ov::mode_raid1, set));
    EXPECT_TRUE(holds(image("u", 0), data));
    EXPECT_EQ(first_difference(image("u", 0), image("u", 1), set * 512), -1);
}

TEST_F(story_test, a_mirror_is_deleted_a_foreign_disk_cleared_then_stripe_and_span_created)
{
    ASSERT_NO_FATAL_FAILURE(add_usb("u", 60, true, 0x100));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 0, "a", two_gb_disk));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 1, "b", two_gb_disk));
    write_mirror("u");
    const std::string low_a = random_bytes(64 * 512, 20), low_b = random_bytes(64 * 512, 21);
    write_bytes(image("u", 0), 0, low_a);
    write_bytes(image("u", 1), 0, low_b);
    // A disk from another enclosure: a stripe member whose partner stayed behind.
    ASSERT_NO_FATAL_FAILURE(shelf_disk("c", three_gb_disk));
    const std::string low_c = random_bytes(65 * 512, 22);
    write_bytes(st.shelf_image("c"), 0, low_c);
    {
        const unsigned char serial[20] = "ELSEWHERE", model[40] = "Other Disk";
        unsigned char stamp[16] = {};
        std::memcpy(stamp, older_stamp, 14);
        const ov::raid_info r = ov::create_raid_struct(ov::mode_raid0, 1, 0, 0, 2 * three_gb_disk - 32, serial,
                                                       model, false, stamp);
        write_bytes(st.shelf_image("c"), (three_gb_disk - 15) * 512,
                    std::string(reinterpret_cast<const char*>(r.data()), 512));
    }
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_EQ(text("raidmodelabel"), "raid_1");

    // Delete the mirror: only the two records go (the data of a mirror half stays usable).
    ASSERT_TRUE(restarted_by("clearconfigbutton"));
    EXPECT_EQ(text("raidmodelabel"), "");
    EXPECT_EQ(text("disk0modefield"), "not_config");
    EXPECT_EQ(text("disk1modefield"), "not_config");
    EXPECT_EQ(text("disk0caplabel"), "2 GB");
    EXPECT_EQ(text("disk1caplabel"), "2 GB");
    EXPECT_EQ(text("disk0label"), "disk_1");
    EXPECT_EQ(text("disk1label"), "disk_2");
    EXPECT_FALSE(enabled("clearconfigbutton"));
    EXPECT_TRUE(enabled("confirmbutton"));
    for (int port = 0; port < 2; ++port) {
        const ov::raid_info r = record_of("u", port);
        EXPECT_TRUE(all_zero(r.data(), 512)) << "port " << port;
    }
    EXPECT_EQ(read_bytes(image("u", 0), 0, low_a.size()), low_a);
    EXPECT_EQ(read_bytes(image("u", 1), 0, low_b.size()), low_b);

    // Disk 2 is swapped for the foreign one; without a mirror nothing watches the ports,
    // so the user asks for a rescan.
    std::string pulled;
    ASSERT_TRUE(st.pull_disk("u", 1, pulled, error)) << error;
    ASSERT_NO_FATAL_FAILURE(insert("u", 1, "c"));
    ASSERT_TRUE(eventually([&] { return idle(); }));
    ASSERT_TRUE(click("refresh_button"));
    ASSERT_TRUE(eventually([&] { return count("raid_info_conflict") == 1 && idle(); }));
    EXPECT_EQ(text("disk1modefield"), "raid_0broken");
    EXPECT_EQ(text("raidmodelabel"), "");
    EXPECT_TRUE(shown("cleardisk1button"));
    EXPECT_FALSE(shown("cleardisk0button"));

    // Clear the foreign disk: its record and first 64 sectors go, nothing else.
    ASSERT_TRUE(restarted_by("cleardisk1button"));
    EXPECT_EQ(text("disk1modefield"), "not_config");
    EXPECT_EQ(text("disk1caplabel"), "3 GB");
    EXPECT_FALSE(shown("cleardisk1button"));
    EXPECT_TRUE(all_zero(record_of("u", 1).data(), 512));
    EXPECT_EQ(read_bytes(image("u", 1), 0, 64 * 512), std::string(64 * 512, '\0'));
    EXPECT_EQ(read_bytes(image("u", 1), 64 * 512, 512), low_c.substr(64 * 512));

    // The fourth row creates nothing; the first creates a stripe.
    ASSERT_TRUE(click("raid_row_3"));
    EXPECT_FALSE(enabled("confirmbutton"));
    ASSERT_TRUE(click("raid_row_0"));
    EXPECT_TRUE(enabled("confirmbutton"));
    ASSERT_TRUE(restarted_by("confirmbutton"));
    EXPECT_EQ(text("raidmodelabel"), "raid_0");
    // 2 x min(c0, c1) - 32 = 7,812,484 sectors = 3,999,991,808 bytes.
    EXPECT_EQ(text("disk0caplabel"), "3 GB");
    EXPECT_EQ(text("disk0modefield"), "raid_0");
    EXPECT_EQ(text("disk1modefield"), "raid_0");
    ASSERT_TRUE(a_set("u", ov::mode_raid0, 2 * two_gb_disk - 32));
    for (int port = 0; port < 2; ++port)
        EXPECT_EQ(read_bytes(image("u", port), 0, 512), std::string(512, '\0')) << "stripe, port " << port;

    // Then a span over the stripe, chosen in the third row.
    ASSERT_TRUE(click("raid_row_2"));
    ASSERT_TRUE(restarted_by("confirmbutton"));
    EXPECT_EQ(text("raidmodelabel"), "span");
    // c0 + c1 - 65568 = 9,700,065 sectors = 4,966,433,280 bytes.
    EXPECT_EQ(text("disk0caplabel"), "4 GB");
    ASSERT_TRUE(a_set("u", ov::mode_span, two_gb_disk + three_gb_disk - 65568));
    EXPECT_EQ(messages(), (strings{"all_data_lost", "raid_info_conflict", "clear_disk_question\n\nall_data_lost",
                                   "all_data_lost", "all_data_lost"}));
}

TEST_F(story_test, switching_controllers_during_a_rebuild_and_back_then_warm_booting_the_selected_one)
{
    // Scanned in name order (the FireWire bridge first) but listed in bridge order (the
    // USB bridge first): the selected bridge is not the first chip of the list.
    ASSERT_NO_FATAL_FAILURE(add_firewire("a-fw", 0x0030E0F0A0B0C0D0ULL, 60));
    ASSERT_NO_FATAL_FAILURE(add_disk("a-fw", 0, "f0", gib));
    ASSERT_NO_FATAL_FAILURE(add_disk("a-fw", 1, "f1", gib));
    write_mirror("a-fw");
    ASSERT_NO_FATAL_FAILURE(add_usb("b-usb", 120, true, 0x100));
    ASSERT_NO_FATAL_FAILURE(add_disk("b-usb", 0, "p", gib));
    ASSERT_NO_FATAL_FAILURE(add_disk("b-usb", 1, "q", gib + 4096));
    const uint64_t set = write_mirror("b-usb", 0);
    const pieces data = fill_for_rebuild(image("b-usb", 0), image("b-usb", 1), set);
    ASSERT_NO_FATAL_FAILURE(launch());

    auto* box = find<QComboBox>("controllerselectbox");
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(0), "RAID Volume  (S/N: USB-b-usb)");
    EXPECT_EQ(box->itemText(1), "FW Volume  (GUID: 30E0F0A0B0C0D0)");
    EXPECT_EQ(box->currentIndex(), 0);
    with_chips([&] { EXPECT_GT(chip_of("b-usb"), 0); });

    // The running rebuild of the first bridge is followed.
    ASSERT_TRUE(eventually([&] { return under_way(); }));
    EXPECT_EQ(text("raidmodelabel"), "raid_1rebuilding");

    // Away to the FireWire bridge: following the first one ends before the switch is over.
    ASSERT_TRUE(choose_controller(1));
    with_chips([&] {
        const int b = chip_of("b-usb");
        ASSERT_GE(b, 0);
        EXPECT_FALSE(ov::j.chips[b].poller_alive);
        EXPECT_FALSE(ov::j.chips[b].polling);
    });
    EXPECT_FALSE(shown("levelindicator"));
    EXPECT_EQ(text("raidmodelabel"), "raid_1");
    EXPECT_EQ(text("disk0caplabel"), "1 GB");
    const int values_away = values_set;
    // The bridge copies on meanwhile; nobody shows it.
    auto copied = [&] {
        unsigned char b[12] = {};
        if (enc->ovGetRebuildStatus(enc->service_of("b-usb"), b, 12) != 0)
            return uint64_t(0);
        return ov::rebuild_status::decode(b).current();
    };
    const uint64_t at_switch = copied();
    ASSERT_TRUE(eventually([&] { return copied() > at_switch || !enc->rebuild_running("b-usb"); }));
    EXPECT_EQ(values_set, values_away) << "the bar moved for a controller that is not selected";

    // Back: following resumes.
    const size_t back = progress.size();
    ASSERT_TRUE(choose_controller(0));
    EXPECT_TRUE(shown("levelindicator"));
    with_chips([&] {
        const int b = chip_of("b-usb");
        ASSERT_GE(b, 0);
        EXPECT_TRUE(ov::j.chips[b].poller_alive);
    });
    ASSERT_TRUE(eventually([&] { return count("rebuild_finished") == 1; }, 180s));
    ASSERT_TRUE(eventually([&] { return idle() && text("raidmodelabel") == "raid_1"; }));
    size_t end = 0;
    EXPECT_TRUE(climbed_to_the_end(back, end, 0));
    for (int port = 0; port < 2; ++port)
        EXPECT_EQ(record_of("b-usb", port).flags & ov::source_mark, 0) << "port " << port;
    EXPECT_TRUE(holds(image("b-usb", 0), data));
    EXPECT_EQ(first_difference(image("b-usb", 0), image("b-usb", 1), set * 512), -1);

    // A warm boot restarts the selected bridge, and only that one.
    const uint32_t fw_before = enc->service_of("a-fw"), usb_before = enc->service_of("b-usb");
    ASSERT_TRUE(eventually([&] { return idle(); }));
    ASSERT_TRUE(click("warmbootbutton"));
    ASSERT_TRUE(eventually([&] { return rescanned_after_boot("b-usb", usb_before); }));
    EXPECT_EQ(enc->service_of("a-fw"), fw_before);
    EXPECT_EQ(box->currentText(), "RAID Volume  (S/N: USB-b-usb)");
    EXPECT_EQ(text("raidmodelabel"), "raid_1");
    EXPECT_EQ(messages(), (strings{"rebuild_finished"}));
}

TEST_F(story_test, an_enclosure_unplugged_during_a_rebuild_is_followed_again_once_plugged_back)
{
    ASSERT_NO_FATAL_FAILURE(add_usb("u", 150, true, 0x100));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 0, "p", gib));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 1, "q", gib + 4096));
    const uint64_t set = write_mirror("u", 0);
    const pieces data = fill_for_rebuild(image("u", 0), image("u", 1), set);
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_TRUE(eventually([&] { return under_way(); }));

    // Unplugged: after the removal pause the window shows no controller; the watcher,
    // finding fewer bridges than chips, says nothing.
    ASSERT_TRUE(st.set_plugged("u", false, error)) << error;
    auto* box = find<QComboBox>("controllerselectbox");
    ASSERT_TRUE(eventually([&] { return idle_and([] { return ov::j.chips.empty(); }) && box->count() == 0; }));
    EXPECT_EQ(text("raidmodelabel"), "");
    EXPECT_FALSE(shown("levelindicator"));
    EXPECT_EQ(count("hot_swap"), 0);

    // Plugged back: the bridge starts its copy again and the window follows it to the end.
    const size_t replug = progress.size();
    ASSERT_TRUE(st.set_plugged("u", true, error)) << error;
    ASSERT_TRUE(eventually([&] { return count("rebuild_finished") == 1; }, 180s));
    ASSERT_TRUE(eventually([&] { return idle() && text("raidmodelabel") == "raid_1"; }));
    EXPECT_EQ(box->count(), 1);
    EXPECT_EQ(box->currentIndex(), 0);
    size_t end = 0;
    EXPECT_TRUE(climbed_to_the_end(replug, end));
    for (int port = 0; port < 2; ++port)
        EXPECT_EQ(record_of("u", port).flags & ov::source_mark, 0) << "port " << port;
    EXPECT_TRUE(holds(image("u", 0), data));
    EXPECT_EQ(first_difference(image("u", 0), image("u", 1), set * 512), -1);
    EXPECT_EQ(messages(), (strings{"rebuild_finished"}));
}

// The command line and the window at once on one simulation: what one writes, the other
// shows after its rescan.
TEST_F(story_test, a_set_made_on_the_command_line_shows_in_the_window_and_one_deleted_in_the_window_on_the_command_line)
{
    ASSERT_NO_FATAL_FAILURE(add_usb("u", 60, true, 0x100));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 0, "a", two_gb_disk));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 1, "b", two_gb_disk));
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_EQ(text("raidmodelabel"), "");
    // The other program runs while the window's threads go on (their requests of the window
    // wait until the test serves events again).
    const auto ctl = [&](const std::vector<std::string>& args, int& status) {
        std::vector<std::string> argv = {OVRAIDCTL, "--sim", root};
        argv.insert(argv.end(), args.begin(), args.end());
        const program_run run = run_program(argv, {"XDG_STATE_HOME=" + dir.path() + "/state"}, true);
        status = run.status;
        return run.output;
    };
    int status = -1;
    const uint32_t before = enc->service_of("u");
    const std::string made = ctl({"create", "USB-u", "raid1", "--yes"}, status);
    ASSERT_EQ(status, 0) << made;
    ASSERT_TRUE(eventually([&] { return rescanned_after_boot("u", before) && text("raidmodelabel") == "raid_1"; }))
        << made;
    ASSERT_TRUE(a_set("u", ov::mode_raid1, two_gb_disk - 16));
    EXPECT_TRUE(enabled("clearconfigbutton"));

    ASSERT_TRUE(restarted_by("clearconfigbutton"));
    EXPECT_EQ(text("raidmodelabel"), "");
    const std::string seen = ctl({"status", "USB-u", "--json"}, status);
    EXPECT_EQ(status, 0) << seen;
    EXPECT_NE(seen.find("\"state\":\"not_configured\""), std::string::npos) << seen;
    EXPECT_NE(seen.find("\"set\":null"), std::string::npos) << seen;
    EXPECT_EQ(messages(), (strings{"all_data_lost"}));
}

}  // namespace
}  // namespace stories
