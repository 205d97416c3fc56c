// The panel bound to the widgets: an empty panel, a configured set in the host's units,
// every field of a disk, the warnings about a record, a followed rebuild with its speed, and
// input while a scan runs. The rules behind what shows are tested without a window in
// test_panel.cpp.
#include <QComboBox>
#include <QIcon>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>

#include "window_fixture.h"

namespace ovtest {
namespace {

constexpr uint64_t one_tb = 1953125000;        // 10^12 bytes in sectors
constexpr uint64_t two_tb_set = 3907029168ULL;  // a RAID 1 of two "2 TB" disks

// Sets the host version the size texts are chosen by, for one test.
class host_version {
public:
    explicit host_version(const char* version)
    {
        if (const char* old = std::getenv(name))
            saved_ = old;
        setenv(name, version, 1);
    }
    ~host_version() { saved_ ? setenv(name, saved_->c_str(), 1) : unsetenv(name); }

private:
    static constexpr const char* name = "OVRAID_SYSTEM_VERSION";
    std::optional<std::string> saved_;
};

const char* const action_buttons[] = {"confirmbutton",     "clearconfigbutton", "cleardisk0button",
                                      "cleardisk1button",  "rebuild0to1button", "rebuild1to0button"};
const char* const panel_fields[] = {
    "disk0modelfield", "disk0serialfield", "disk0modefield",    "disk0sizefield",    "disk1modelfield",
    "disk1serialfield", "disk1modefield",  "disk1sizefield",    "rebuilddisk0field", "rebuilddisk1field",
    "disk0oldnewlabel", "disk1oldnewlabel", "disk0picmodefield", "disk1picmodefield", "raidmodelabel",
    "disk0caplabel",    "disk0label",       "disk1caplabel",     "disk1label"};

using window_panel = window_fixture;
// The sectors of rebuilding_mirror()'s set.
constexpr uint64_t set = 1000000;

TEST_F(window_panel, without_chips_or_disks_the_panel_is_empty_and_closed)
{
    for (const char* name : panel_fields)
        find<QLabel>(name)->setText("stale");
    win->update_raid_information();
    for (const char* name : panel_fields)
        EXPECT_EQ(text(name), "") << name;
    for (const char* name : action_buttons)
        EXPECT_FALSE(enabled(name)) << name;
    EXPECT_FALSE(shown("tree"));
    EXPECT_EQ(current_tab(), "configuretab");

    // A chip whose ports are both empty: still nothing to show, but the tree is.
    show_chip(add_usb_chip(empty_port, empty_port));
    for (const char* name : panel_fields)
        EXPECT_EQ(text(name), "") << name;
    for (const char* name : action_buttons)
        EXPECT_FALSE(enabled(name)) << name;
    EXPECT_TRUE(shown("tree"));
    EXPECT_TRUE(alerts.empty());
}

TEST_F(window_panel, a_configured_mirror_shows_one_picture_with_the_set_capacity)
{
    ov::ovdisk d0 = member_disk(ov::mode_raid1, two_tb_set + 16, two_tb_set, "A", "SA");
    ov::ovdisk d1 = member_disk(ov::mode_raid1, two_tb_set + 16, two_tb_set, "B", "SB");
    const int i = add_usb_chip(d0, d1);
    chip(i).raid_configured = true;
    chip(i).raid_mode = ov::mode_raid1;
    chip(i).raid_capacity = two_tb_set;
    chip(i).raid1_pair_present = true;
    {
        host_version v("10.6.0");
        show_chip(i);
        EXPECT_EQ(text("disk0caplabel"), "2.00 TB");
    }
    EXPECT_EQ(text("raidmodelabel"), "raid_1");
    EXPECT_EQ(text("disk0modefield"), "raid_1");
    EXPECT_EQ(text("disk1modefield"), "raid_1");
    EXPECT_EQ(text("disk0modelfield"), "A");
    EXPECT_EQ(text("disk1serialfield"), "SB");
    for (const char* name : {"disk1caplabel", "disk0label", "disk1label", "disk0picmodefield", "disk0oldnewlabel"})
        EXPECT_EQ(text(name), "") << name;
    EXPECT_TRUE(shown("disk0cappicture"));
    EXPECT_FALSE(shown("disk1cappicture"));
    EXPECT_TRUE(enabled("confirmbutton"));
    EXPECT_TRUE(enabled("clearconfigbutton"));
    for (const char* name : {"cleardisk0button", "cleardisk1button"}) {
        EXPECT_FALSE(shown(name)) << name;
        EXPECT_FALSE(enabled(name)) << name;
    }
    EXPECT_FALSE(enabled("rebuild0to1button"));
    EXPECT_FALSE(enabled("rebuild1to0button"));
    EXPECT_TRUE(alerts.empty());
    EXPECT_EQ(current_tab(), "configuretab");

    // Hosts before 10.6 count in powers of two, and so does an 11.0 (its minor is below 6).
    for (const char* version : {"10.5.8", "11.0.0"}) {
        host_version v(version);
        win->update_raid_information();
        EXPECT_EQ(text("disk0caplabel"), "1863 GB") << version;
    }
}

// Every widget shows its part of the panel; the notices come in order, then the tab.
TEST_F(window_panel, each_widget_shows_its_part_of_the_panel)
{
    host_version v("10.6.0");
    ov::ovdisk half = member_disk(ov::mode_raid1, one_tb + 16, one_tb, "Half", "SN-HALF");
    half.degrade_needed = true;
    half.raid1_role = 1;
    const int i = add_usb_chip(blank_disk(2 * one_tb, "Blank", "SN-BLANK"), half);
    chip(i).raid1_pair_present = true;
    show_chip(i);
    const std::pair<const char*, const char*> fields[] = {
        {"disk0modelfield", "Blank"},         {"disk0serialfield", "SN-BLANK"},    {"disk0sizefield", "2000 GB"},
        {"disk0modefield", "not_config"},     {"rebuilddisk0field", "not_config"}, {"disk0oldnewlabel", ""},
        {"disk0label", "disk_1"},             {"disk0caplabel", "2.00 TB"},        {"disk0picmodefield", ""},
        {"disk1modelfield", "Half"},          {"disk1serialfield", "SN-HALF"},     {"disk1sizefield", "1000 GB"},
        {"disk1modefield", "raid_1degrade"},  {"rebuilddisk1field", "raid_1"},     {"disk1oldnewlabel", "old"},
        {"disk1label", "disk_2"},             {"disk1caplabel", "1.00 TB"},        {"disk1picmodefield", "raid_1degrade"},
        {"raidmodelabel", ""}};
    for (const auto& [name, expected] : fields)
        EXPECT_EQ(text(name), expected) << name;
    EXPECT_EQ(find("disk1picmodefield")->toolTip(), "raid_1degrade");
    EXPECT_EQ(alert_messages(), (std::vector<QString>{"raid1_degrade_mode", "raid_info_conflict"}));
    EXPECT_EQ(alerts[0].title, "attention");
    EXPECT_EQ(current_tab(), "rebuildtab");
    for (const char* name : {"confirmbutton", "cleardisk1button", "rebuild1to0button"})
        EXPECT_TRUE(enabled(name)) << name;
    for (const char* name : {"clearconfigbutton", "cleardisk0button", "rebuild0to1button"})
        EXPECT_FALSE(enabled(name)) << name;
    EXPECT_TRUE(shown("cleardisk1button"));
    EXPECT_FALSE(shown("cleardisk0button"));
    EXPECT_TRUE(shown("disk0cappicture") && shown("disk1cappicture"));
}

TEST_F(window_panel, a_running_rebuild_is_followed_and_its_arrow_marked)
{
    const int i = rebuilding_mirror();
    lib.rebuild_statuses.push_back(scripted_library::status(1000, 250));
    show_chip(i);

    EXPECT_TRUE(chip(i).poller_alive);
    EXPECT_EQ(current_tab(), "rebuildtab");
    EXPECT_TRUE(alerts.empty()) << "the rebuild tab must not be refused";
    EXPECT_EQ(text("raidmodelabel"), "raid_1rebuilding");
    EXPECT_EQ(text("disk1modefield"), "raid_1rebuild_source");
    EXPECT_EQ(text("disk0modefield"), "raid_1rebuild_target");
    EXPECT_EQ(text("rebuilddisk0field"), "raid_1");
    const auto* to0 = find<QPushButton>("rebuild1to0button");
    const auto* to1 = find<QPushButton>("rebuild0to1button");
    EXPECT_FALSE(to0->icon().isNull());
    EXPECT_FALSE(to0->icon().pixmap(16, 16).isNull()) << "yellow.JPG did not load";
    EXPECT_TRUE(to1->icon().isNull());
    EXPECT_FALSE(to0->isEnabled());
    EXPECT_FALSE(to1->isEnabled());
    EXPECT_TRUE(shown("levelindicator"));
    EXPECT_TRUE(shown("percentagefield"));
    EXPECT_TRUE(shown("rebuildlabel"));

    // The poller's first status reaches the window from its own thread.
    EXPECT_TRUE(eventually([&] { return text("percentagefield") == "25.0%"; })) << text("percentagefield").toStdString();
    EXPECT_GT(lib.count("ovGetRebuildStatus"), 0u);

    ov::j.stop_monitors(i);
    EXPECT_FALSE(chip(i).poller_alive);
    EXPECT_FALSE(shown("levelindicator"));

    // A new panel takes the mark away again.
    chip(i).polling = false;
    chip(i).rebuilding = false;
    chip(i).disks[1].rebuild_flag = false;
    win->update_raid_information();
    EXPECT_TRUE(find<QPushButton>("rebuild1to0button")->icon().isNull());
    EXPECT_FALSE(shown("percentagefield"));
}

// The figures are in system time: at a scaled clock the poller's readings come sooner, and
// speed and time left must still be those the hardware would show.
TEST_F(window_panel, a_followed_rebuild_shows_its_speed_and_time_left_until_it_ends)
{
    ov::set_localizer([](const std::string& key) { return key == "rebuild_rate" ? std::string("%1 | %2") : key; });
    const int i = rebuilding_mirror();
    // A tenth of the set per poll, polls at least 4 s apart: at most 12.8 MB/s.
    for (uint64_t at = 0; at <= set; at += set / 10)
        lib.rebuild_statuses.push_back(scripted_library::status(set, at));
    show_chip(i);
    // The poller's readings wait for the window's thread: nothing is measured yet.
    EXPECT_TRUE(shown("rebuildratelabel"));
    EXPECT_EQ(text("rebuildratelabel"), "rebuild_rate_measuring");

    ASSERT_TRUE(eventually([&] { return text("rebuildratelabel") != "rebuild_rate_measuring"; }));
    static const QRegularExpression figures(R"(^([0-9.]+) (kB|MB)/s \| (\d+ h \d\d min|\d+ min \d\d s|\d+ s)$)");
    const QRegularExpressionMatch m = figures.match(text("rebuildratelabel"));
    ASSERT_TRUE(m.hasMatch()) << text("rebuildratelabel").toStdString();
    const double mb_per_s = m.captured(1).toDouble() / (m.captured(2) == "kB" ? 1000 : 1);
    EXPECT_GT(mb_per_s, 0);
    EXPECT_LE(mb_per_s, 12.8) << "measured in scaled time, not system time";
    EXPECT_TRUE(shown("rebuildratelabel") && shown("levelindicator"));

    // The poller ends the rebuild; the panel that follows shows neither bar nor rate.
    ASSERT_TRUE(eventually([&] { return !chip(i).poller_alive; }));
    EXPECT_EQ(alert_messages(), std::vector<QString>{"rebuild_finished"});
    EXPECT_FALSE(shown("rebuildratelabel"));
    EXPECT_FALSE(shown("levelindicator"));
}

// Warnings only inform: the set is shown and offered as it would be without them.
TEST_F(window_panel, the_disk_page_lists_what_looks_wrong_in_each_record)
{
    ov::ovdisk d0 = member_disk(ov::mode_raid1, set + 16, set, "A", "SA");
    ov::ovdisk d1 = member_disk(ov::mode_raid1, set + 16, set, "B", "SB");
    d0.raid_record = record_for(ov::mode_raid1, 1, set, d1, "20110231250000");   // no such day, the other bay
    d1.raid_record = record_for(ov::mode_raid1, 1, set, d0);
    const int i = add_usb_chip(d0, d1);
    chip(i).raid_configured = true;
    chip(i).raid_mode = ov::mode_raid1;
    chip(i).raid_capacity = set;
    chip(i).raid1_pair_present = true;
    show_chip(i);
    EXPECT_TRUE(shown("disk0warningsfield"));
    EXPECT_EQ(text("disk0warningsfield"), "warning_stamp\nwarning_member");
    EXPECT_TRUE(find<QLabel>("disk0warningsfield")->wordWrap());
    EXPECT_FALSE(shown("disk1warningsfield"));
    EXPECT_EQ(text("disk1warningsfield"), "");
    EXPECT_EQ(text("raidmodelabel"), "raid_1");
    EXPECT_TRUE(enabled("clearconfigbutton"));
    EXPECT_TRUE(alerts.empty());

    // No chip, no warnings.
    ov::j.chips.clear();
    win->update_raid_information();
    EXPECT_FALSE(shown("disk0warningsfield"));
    EXPECT_EQ(text("disk0warningsfield"), "");
}

TEST_F(window_panel, no_input_is_taken_while_a_device_handling_runs)
{
    const int i = add_usb_chip(member_disk(ov::mode_raid1, set + 16, set), blank_disk(set + 16));
    chip(i).raid1_pair_present = true;
    ov::j.current = chip(i).identity;

    // The handlings announce themselves from the notification thread.
    std::atomic<bool> done{false};
    std::thread t([&] {
        win->startworking();
        done = true;
    });
    ASSERT_TRUE(eventually([&] { return done.load(); }));
    t.join();
    win->update_raid_information();   // would open create, clear disk 1 and an arrow
    EXPECT_EQ(alert_messages(), std::vector<QString>{"raid_info_conflict"});

    const char* inputs[] = {"controllerselectbox", "refresh_button",   "warmbootbutton",   "raidconfigradiobutton",
                            "confirmbutton",       "clearconfigbutton", "cleardisk0button", "cleardisk1button",
                            "rebuild0to1button",   "rebuild1to0button"};
    for (const char* name : inputs)
        EXPECT_FALSE(enabled(name)) << name;
    EXPECT_TRUE(shown("workingindicator"));
    EXPECT_FALSE(find<QTabWidget>("tabview")->tabBar()->isEnabled());

    win->stopworking();
    EXPECT_FALSE(shown("workingindicator"));
    for (const char* name : {"controllerselectbox", "refresh_button", "warmbootbutton", "raidconfigradiobutton",
                             "confirmbutton", "cleardisk0button", "rebuild0to1button"})
        EXPECT_TRUE(enabled(name)) << name;
    for (const char* name : {"clearconfigbutton", "cleardisk1button", "rebuild1to0button"})
        EXPECT_FALSE(enabled(name)) << name;
    EXPECT_TRUE(find<QTabWidget>("tabview")->tabBar()->isEnabled());
}

}  // namespace
}  // namespace ovtest
