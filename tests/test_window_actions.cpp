// The user's commands through the window's own buttons: create with the mode of the chosen
// row, confirmations, failures and their rescans, warm boot, the tab guard, the page
// switch, and the rebuild actions with their progress display.
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "window_fixture.h"

namespace ovtest {
namespace {

constexpr uint64_t disk_size = 1000000;

using window_actions = window_fixture;

TEST_F(window_actions, the_fourth_row_never_lets_create_through)
{
    EXPECT_EQ(win->selected_row(), 1);
    show_chip(add_usb_chip(blank_disk(disk_size), blank_disk(disk_size)));
    ASSERT_TRUE(enabled("confirmbutton"));

    find<QRadioButton>("raid_row_3")->click();
    EXPECT_FALSE(enabled("confirmbutton"));
    win->update_raid_information();   // the panel obeys the row too
    EXPECT_FALSE(enabled("confirmbutton"));
    find<QRadioButton>("raid_row_3")->click();   // a click on the chosen row keeps a selection
    EXPECT_EQ(win->selected_row(), 3);

    find<QRadioButton>("raid_row_0")->click();
    EXPECT_TRUE(enabled("confirmbutton"));
}

class window_create : public window_fixture, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(window_create, each_row_creates_its_mode)
{
    const auto [row, mode] = GetParam();
    const int i = add_usb_chip(blank_disk(disk_size), blank_disk(disk_size));
    show_chip(i);
    const uint32_t service = chip(i).service;
    find<QRadioButton>(("raid_row_" + std::to_string(row)).c_str())->click();
    find<QPushButton>("confirmbutton")->click();

    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "warning");
    EXPECT_EQ(alerts[0].message, "all_data_lost");
    EXPECT_EQ(alerts[0].first, "ok");
    EXPECT_EQ(alerts[0].second, "cancel");
    for (int port : {0, 1}) {
        sector record{};
        ASSERT_TRUE(lib.get_sector(service, port, disk_size - 15, record)) << "port " << port;
        EXPECT_EQ(record[2], mode) << "port " << port;
    }
    EXPECT_EQ(lib.count("ovWarmBoot"), 1u);
    // The panel waits, empty and closed, for the bridge's return.
    EXPECT_EQ(text("disk0modelfield"), "");
    EXPECT_FALSE(enabled("confirmbutton"));
    EXPECT_EQ(reg.posted.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(rows, window_create,
                         ::testing::Values(std::make_pair(0, 1), std::make_pair(1, 2), std::make_pair(2, 4)));

TEST_F(window_actions, cancelling_a_confirmation_changes_nothing)
{
    const int i = add_usb_chip(blank_disk(disk_size, "KEEP"), member_disk(ov::mode_raid1, disk_size, disk_size - 16));
    chip(i).raid1_pair_present = true;
    show_chip(i);
    alerts.clear();
    lib.clear_calls();
    for (const char* button : {"confirmbutton", "cleardisk1button", "rebuild1to0button"}) {
        ASSERT_TRUE(enabled(button)) << button;
        answers = {0};
        find<QPushButton>(button)->click();
        EXPECT_EQ(text("disk0modelfield"), "KEEP") << button;
        EXPECT_TRUE(enabled(button)) << button;
    }
    EXPECT_EQ(alert_messages(), (std::vector<QString>{"all_data_lost", "clear_disk_question\n\nall_data_lost",
                                                      "disk2_to_disk1"}));
    EXPECT_TRUE(lib.calls().empty());
    EXPECT_EQ(current_tab(), "rebuildtab");
    EXPECT_EQ(reg.posted.load(), 0);
}

// Fault texts that show their bay and serial; every other key stays itself.
void localize_faults_with_their_bay()
{
    ov::set_localizer([](const std::string& key) {
        return key.rfind("fault_", 0) == 0 ? key + "[%1|%2]" : key;
    });
}

// A refused write: its alert says what failed, then a rescan is queued to the
// notification thread.
struct failing_command {
    const char* button;
    const char* question;
    const char* message;
    bool configured;
    const char* failing_call;   // fails from its first call on; nullptr: disk 2 is swapped
    const char* detail;         // what the second paragraph must hold
};

class window_failure : public window_fixture, public ::testing::WithParamInterface<failing_command> {};

TEST_P(window_failure, a_failed_write_is_reported_with_its_disk_then_rescanned)
{
    const failing_command& c = GetParam();
    localize_faults_with_their_bay();
    const int i = add_usb_chip(member_disk(ov::mode_raid1, disk_size, disk_size - 16, "Member", "SN-ONE"),
                               member_disk(ov::mode_raid1, disk_size, disk_size - 16, "Member", "SN-TWO"));
    chip(i).raid_configured = c.configured;
    chip(i).raid_mode = c.configured ? ov::mode_raid1 : 0;
    chip(i).raid1_pair_present = true;
    show_chip(i);
    alerts.clear();
    if (c.failing_call)
        lib.fail(c.failing_call, 1, -1, 1000);
    else   // another disk was put into bay 2 since the panel was drawn
        lib.identify[{chip(i).service, 1}] = make_identify("Other", "SN-NEW", disk_size);
    ASSERT_TRUE(enabled(c.button));
    find<QPushButton>(c.button)->click();

    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[0].message, c.question);
    EXPECT_EQ(alerts[1].title, "error");
    const QString message = alerts[1].message;
    EXPECT_TRUE(message.startsWith(QString::fromLatin1(c.message) + "\n\n")) << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromLatin1(c.detail))) << message.toStdString();
    EXPECT_EQ(alerts[1].first, "ok");
    EXPECT_EQ(alerts[1].posted_before, 0) << "rescan requested before the alert";
    EXPECT_EQ(reg.posted.load(), 1) << "no rescan after the failure";
    EXPECT_EQ(lib.count("ovWarmBoot"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    commands, window_failure,
    ::testing::Values(
        failing_command{"confirmbutton", "all_data_lost", "raid_create_error", false, "ovSetRaidInfo",
                        "fault_write_failed[1|SN-ONE] fault_restored"},
        failing_command{"clearconfigbutton", "all_data_lost", "raid_delete_error", true, "ovSetRaidInfo",
                        "fault_write_failed[1|SN-ONE]"},
        failing_command{"cleardisk0button", "clear_disk_question\n\nall_data_lost", "raid_info_delete_error", false,
                        "ovSetRaidInfo", "fault_write_failed[1|SN-ONE]"},
        failing_command{"cleardisk1button", "clear_disk_question\n\nall_data_lost", "raid_info_delete_error", false,
                        "ovFlushHDDCache", "fault_flush_failed[2|SN-TWO]"},
        failing_command{"rebuild0to1button", "disk1_to_disk2", "rebuild_not_started", false, "ovSetRaidInfo",
                        "fault_write_failed[1|SN-ONE]"},
        failing_command{"confirmbutton", "all_data_lost", "raid_create_error", false, nullptr,
                        "fault_disk_changed[2|SN-TWO]"}));

TEST_F(window_actions, the_rebuild_tab_opens_only_for_a_mirror_pair)
{
    auto* tabs = find<QTabWidget>("tabview");
    tabs->setCurrentIndex(1);   // no chip at all
    EXPECT_EQ(current_tab(), "configuretab");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "attention");
    EXPECT_EQ(alerts[0].message, "two_raid1_disks_for_rebuild");

    const int i = add_usb_chip(blank_disk(disk_size), blank_disk(disk_size));
    show_chip(i);
    tabs->setCurrentIndex(1);
    EXPECT_EQ(current_tab(), "configuretab");
    EXPECT_EQ(alerts.size(), 2u);

    chip(i).disks[1] = member_disk(ov::mode_raid1, disk_size, disk_size - 16);
    chip(i).raid1_pair_present = true;
    tabs->setCurrentIndex(1);
    EXPECT_EQ(current_tab(), "rebuildtab");
    tabs->setCurrentIndex(0);
    EXPECT_EQ(current_tab(), "configuretab");
    EXPECT_EQ(alerts.size(), 2u);
}

TEST_F(window_actions, the_page_buttons_show_which_page_is_on_view)
{
    auto* main = find<QToolButton>("mainguibutton");
    auto* disks = find<QToolButton>("showdiskguibutton");
    auto* pages = find<QStackedWidget>("guitab");
    disks->click();
    EXPECT_EQ(pages->currentIndex(), 1);
    EXPECT_EQ(disks->property("image").toString(), "SysInfo_click.png");
    EXPECT_EQ(main->property("image").toString(), "RaidST_normal.png");
    EXPECT_TRUE(disks->isChecked());
    EXPECT_FALSE(main->isChecked());
    main->click();
    EXPECT_EQ(pages->currentIndex(), 0);
    EXPECT_EQ(main->property("image").toString(), "RaidST_click.png");
    EXPECT_EQ(disks->property("image").toString(), "SysInfo_normal.png");
    EXPECT_TRUE(main->isChecked());
    EXPECT_FALSE(disks->isChecked());
    main->click();   // clicking the page on view keeps it marked
    EXPECT_TRUE(main->isChecked());
}

TEST_F(window_actions, closing_the_rebuild_arrows_leaves_the_other_actions_alone)
{
    const int i = add_usb_chip(member_disk(ov::mode_raid1, disk_size, disk_size - 16),
                               member_disk(ov::mode_raid1, disk_size, disk_size - 16));
    chip(i).disks[0].raid1_role = 1;
    chip(i).disks[1].raid1_role = 2;
    chip(i).raid1_pair_present = true;
    show_chip(i);
    for (const char* name : {"confirmbutton", "cleardisk0button", "cleardisk1button", "rebuild0to1button",
                             "rebuild1to0button"})
        ASSERT_TRUE(enabled(name)) << name;
    win->disablegui(true);
    EXPECT_FALSE(enabled("rebuild0to1button"));
    EXPECT_FALSE(enabled("rebuild1to0button"));
    for (const char* name : {"confirmbutton", "cleardisk0button", "cleardisk1button"})
        EXPECT_TRUE(enabled(name)) << name;

    win->disablegui(false);
    for (const char* name : {"confirmbutton", "cleardisk0button", "cleardisk1button", "clearconfigbutton"})
        EXPECT_FALSE(enabled(name)) << name;
    EXPECT_TRUE(shown("cleardisk0button"));   // visibility is not touched
}

TEST_F(window_actions, warm_boot_restarts_the_selected_bridge_only_once_until_it_is_back)
{
    const int first = add_usb_chip(blank_disk(disk_size), empty_port, 0x100);
    const int second = add_usb_chip(blank_disk(disk_size), empty_port, 0x200, "S2");
    auto* warm = find<QPushButton>("warmbootbutton");
    EXPECT_FALSE(warm->isEnabled()) << "open while no controller is selected";
    lib.clear_calls();
    win->warmboot();   // no controller selected
    EXPECT_TRUE(lib.calls().empty());
    EXPECT_FALSE(ov::j.warm_boot_pending);

    show_chip(second);
    ASSERT_TRUE(warm->isEnabled());
    lib.clear_calls();
    warm->click();
    ASSERT_EQ(lib.count("ovWarmBoot"), 1u);
    for (const call& c : lib.calls())
        if (c.name == "ovWarmBoot") {
            EXPECT_EQ(c.service, chip(second).service);
        }
    EXPECT_NE(chip(first).service, chip(second).service);
    EXPECT_TRUE(alerts.empty());

    // Closed until the restarted bridge is back, whatever redraws the panel meanwhile.
    EXPECT_FALSE(warm->isEnabled());
    win->warmboot();
    win->update_raid_information();
    win->startworking();   // a handling of another bridge, while the restart is under way
    win->stopworking();
    EXPECT_FALSE(warm->isEnabled());
    EXPECT_EQ(lib.count("ovWarmBoot"), 1u);

    // The device-added handling of its return ends the warm boot.
    win->startworking();
    win->update_raid_information();
    ov::j.warm_boot_pending = false;
    win->stopworking();
    EXPECT_TRUE(warm->isEnabled());
    ov::j.current.clear();
    win->update_raid_information();
    EXPECT_FALSE(warm->isEnabled());
}

TEST_F(window_actions, a_restart_that_fails_says_so_and_opens_the_control_again)
{
    localize_faults_with_their_bay();
    show_chip(add_usb_chip(blank_disk(disk_size), blank_disk(disk_size)));
    lib.warm_boot_result = -1;
    find<QPushButton>("warmbootbutton")->click();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "error");
    EXPECT_TRUE(alerts[0].message.startsWith("fault_plain_restart_failed")) << alerts[0].message.toStdString();
    EXPECT_TRUE(enabled("warmbootbutton"));
    EXPECT_FALSE(win->restart_pending());
    EXPECT_EQ(reg.posted.load(), 1) << "the engine rescans after a restart that did not happen";
}

// While a rebuild runs, restart and delete ask first, and No is the answer Enter gives.
struct stopping_command {
    const char* button;
    const char* question;
    const char* call;   // the library call that proceeding makes
};

class window_rebuild_stops : public window_fixture, public ::testing::WithParamInterface<stopping_command> {};

TEST_P(window_rebuild_stops, a_command_that_stops_a_rebuild_asks_with_cancel_as_default)
{
    const stopping_command& c = GetParam();
    const uint64_t set = disk_size - 16;
    const int i = add_usb_chip(member_disk(ov::mode_raid1, disk_size, set, "A", "SA"),
                               member_disk(ov::mode_raid1, disk_size, set, "B", "SB"));
    chip(i).raid_configured = true;
    chip(i).raid_mode = ov::mode_raid1;
    chip(i).raid1_pair_present = true;
    show_chip(i);
    chip(i).rebuilding = true;   // the engine found the rebuild after the panel was drawn
    alerts.clear();
    lib.clear_calls();

    answers = {0};
    find<QPushButton>(c.button)->click();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "warning");
    EXPECT_EQ(alerts[0].message, c.question);
    EXPECT_EQ(alerts[0].second, "cancel");
    EXPECT_TRUE(alerts[0].second_is_default);
    EXPECT_TRUE(lib.calls().empty()) << "cancelled, yet the bridge was called";
    EXPECT_TRUE(chip(i).rebuilding);
    EXPECT_EQ(text("disk0modelfield"), "A");
    EXPECT_TRUE(enabled(c.button));

    answers = {1};
    find<QPushButton>(c.button)->click();
    EXPECT_EQ(alerts.size(), 2u);
    EXPECT_GT(lib.count(c.call), 0u);

    // Without a rebuild, a restart asks nothing.
    if (std::string(c.button) == "warmbootbutton") {
        chip(i).rebuilding = false;
        win->startworking();
        ov::j.warm_boot_pending = false;
        win->stopworking();
        alerts.clear();
        find<QPushButton>(c.button)->click();
        EXPECT_TRUE(alerts.empty());
        EXPECT_EQ(lib.count("ovWarmBoot"), 2u);
    }
}

INSTANTIATE_TEST_SUITE_P(commands, window_rebuild_stops,
                         ::testing::Values(stopping_command{"warmbootbutton", "restart_stops_rebuild", "ovWarmBoot"},
                                           stopping_command{"clearconfigbutton", "delete_stops_rebuild",
                                                            "ovSetRaidInfo"}));

TEST_F(window_actions, rebuilding_from_the_older_half_asks_explicitly_with_cancel_as_default)
{
    ov::set_localizer([](const std::string& key) {
        return key == "rebuild_from_older" ? std::string("older %1 over current %2") : key;
    });
    const uint64_t set = disk_size - 16;
    ov::ovdisk older = member_disk(ov::mode_raid1, disk_size, set, "A", "SA");
    ov::ovdisk current = member_disk(ov::mode_raid1, disk_size, set, "B", "SB");
    older.raid1_role = 2;
    current.raid1_role = 1;
    const int i = add_usb_chip(older, current);
    chip(i).raid1_pair_present = true;
    show_chip(i);
    alerts.clear();
    lib.clear_calls();

    answers = {0, 0};
    find<QPushButton>("rebuild0to1button")->click();   // older disk 1 over current disk 2
    find<QPushButton>("rebuild1to0button")->click();   // the right way: the ordinary question
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[0].message, "older 1 over current 2");
    EXPECT_TRUE(alerts[0].second_is_default);
    EXPECT_EQ(alerts[1].message, "disk2_to_disk1");
    EXPECT_FALSE(alerts[1].second_is_default);
    EXPECT_TRUE(lib.calls().empty());
}

TEST_F(window_actions, no_command_reaches_a_bridge_without_a_current_controller_or_during_a_scan)
{
    const uint64_t set = disk_size - 16;
    const int i = add_usb_chip(member_disk(ov::mode_raid1, disk_size, set), member_disk(ov::mode_raid1, disk_size, set));
    chip(i).raid_configured = true;
    chip(i).raid_mode = ov::mode_raid1;
    const auto run_all = [&] {
        win->confirm();
        win->clearconfiguration();
        win->cleardisk0();
        win->cleardisk1();
        win->rebuild0to1();
        win->rebuild1to0();
        win->warmboot();
    };
    run_all();   // the chip list is not empty, but nothing is selected
    EXPECT_TRUE(lib.calls().empty());
    for (const QString& m : alert_messages())   // at most a confirmation that leads nowhere
        EXPECT_EQ(m, "all_data_lost");
    alerts.clear();

    ov::j.current = chip(i).identity;
    win->startworking();
    run_all();
    win->stopworking();
    EXPECT_TRUE(lib.calls().empty());

    // A device handling holds the engine on the notification thread.
    handling_holder handling;
    run_all();
    handling.join();
    EXPECT_TRUE(lib.calls().empty());
    EXPECT_TRUE(alerts.empty());
    EXPECT_EQ(reg.posted.load(), 0);
}

// The arithmetic is the panel's (test_panel); here the bar and its text follow it, from the
// window's thread and from the poller's.
TEST_F(window_actions, progress_shows_in_tenths_on_the_bar_and_as_text)
{
    auto* bar = find<QProgressBar>("levelindicator");
    win->startprogressbar();
    win->showrebuildbuttons();
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->maximum(), 1000);
    win->updatepoll(3, 1, false);
    EXPECT_EQ(bar->value(), 333);
    EXPECT_EQ(text("percentagefield"), "33.3%");
    win->updatepoll(0, 500, true);   // measures nothing: ignored
    EXPECT_EQ(text("percentagefield"), "33.3%");
    win->updatepoll(1000, 2001, true);   // beyond 100 %: the bar is full, the text says it
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(text("percentagefield"), "200.1%");

    std::atomic<bool> done{false};
    std::thread t([&] {
        win->updatepoll(2000, 500, false);
        done = true;
    });
    EXPECT_TRUE(eventually([&] { return done.load(); }));
    t.join();
    EXPECT_EQ(text("percentagefield"), "25.0%");
    EXPECT_EQ(bar->value(), 250);

    win->stopprogressbar();
    EXPECT_FALSE(shown("levelindicator"));
    EXPECT_FALSE(enabled("levelindicator"));
    EXPECT_TRUE(shown("percentagefield"));
    EXPECT_TRUE(shown("rebuildlabel"));
    EXPECT_EQ(text("percentagefield"), "25.0%");
}

TEST_F(window_actions, a_refused_rebuild_is_reported_then_rescanned)
{
    // Neither disk holds a mirror record: the engine refuses either direction.
    show_chip(add_usb_chip(blank_disk(disk_size), blank_disk(disk_size)));
    alerts.clear();
    win->rebuild0to1();
    win->rebuild1to0();
    ASSERT_EQ(alerts.size(), 4u);
    EXPECT_EQ(alerts[0].title, "warning");
    EXPECT_EQ(alerts[0].message, "disk1_to_disk2");
    EXPECT_EQ(alerts[0].second, "cancel");
    EXPECT_EQ(alerts[1].title, "error");
    EXPECT_EQ(alerts[1].message, "rebuild_error");
    EXPECT_EQ(alerts[1].posted_before, 0);
    EXPECT_EQ(alerts[2].message, "disk2_to_disk1");
    EXPECT_EQ(alerts[3].message, "rebuild_error");
    EXPECT_EQ(alerts[3].posted_before, 1);
    EXPECT_EQ(reg.posted.load(), 2);
    EXPECT_EQ(lib.count("ovSetRaidInfo"), 0u);
}

TEST_F(window_actions, a_rebuild_marks_the_disk_of_the_chosen_direction_as_source)
{
    const int i = add_usb_chip(member_disk(ov::mode_raid1, disk_size, disk_size - 16), blank_disk(disk_size));
    chip(i).raid1_pair_present = true;
    show_chip(i);
    const uint32_t service = chip(i).service;
    ASSERT_TRUE(enabled("rebuild0to1button"));
    find<QPushButton>("rebuild0to1button")->click();
    sector r0{}, r1{};
    ASSERT_TRUE(lib.get_sector(service, 0, disk_size - 15, r0));
    ASSERT_TRUE(lib.get_sector(service, 1, disk_size - 15, r1));
    EXPECT_EQ(r0[4] & 0x80, 0x80);   // port 0 is the source
    EXPECT_EQ(r1[4] & 0x80, 0);
    EXPECT_EQ(lib.count("ovWarmBoot"), 1u);
    EXPECT_EQ(reg.posted.load(), 0);
}

}  // namespace
}  // namespace ovtest
