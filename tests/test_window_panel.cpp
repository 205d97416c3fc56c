// The RAID panel drawn from chip states: texts, sizes, enabled and shown actions, the
// notices and their order, the rebuild tab, a followed rebuild, and input while a scan runs.
#include <QComboBox>
#include <QIcon>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>
#include <atomic>
#include <cstdlib>
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
        if (const char* old = std::getenv("OVRAID_SYSTEM_VERSION"))
            saved_ = old, had_ = true;
        setenv("OVRAID_SYSTEM_VERSION", version, 1);
    }
    ~host_version()
    {
        if (had_)
            setenv("OVRAID_SYSTEM_VERSION", saved_.c_str(), 1);
        else
            unsetenv("OVRAID_SYSTEM_VERSION");
    }

private:
    std::string saved_;
    bool had_ = false;
};

const char* const action_buttons[] = {"confirmbutton",     "clearconfigbutton", "cleardisk0button",
                                      "cleardisk1button",  "rebuild0to1button", "rebuild1to0button"};
const char* const panel_fields[] = {
    "disk0modelfield", "disk0serialfield", "disk0modefield",    "disk0sizefield",    "disk1modelfield",
    "disk1serialfield", "disk1modefield",  "disk1sizefield",    "rebuilddisk0field", "rebuilddisk1field",
    "disk0oldnewlabel", "disk1oldnewlabel", "disk0picmodefield", "disk1picmodefield", "raidmodelabel",
    "disk0caplabel",    "disk0label",       "disk1caplabel",     "disk1label"};

using window_panel = window_fixture;

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
    show_chip(add_usb_chip(empty_port(), empty_port()));
    for (const char* name : panel_fields)
        EXPECT_EQ(text(name), "") << name;
    for (const char* name : action_buttons)
        EXPECT_FALSE(enabled(name)) << name;
    EXPECT_TRUE(shown("tree"));
    EXPECT_TRUE(alerts.empty());
}

struct size_case {
    const char* version;
    uint64_t sectors;
    const char* capacity;   // picture caption
    const char* physical;   // size field: never in TB
};

class window_sizes : public window_fixture, public ::testing::WithParamInterface<size_case> {};

TEST_P(window_sizes, a_blank_disk_shows_its_capacity_in_the_units_of_the_host)
{
    const size_case& c = GetParam();
    host_version v(c.version);
    show_chip(add_usb_chip(blank_disk(c.sectors), empty_port()));
    EXPECT_EQ(text("disk0caplabel"), c.capacity);
    EXPECT_EQ(text("disk0sizefield"), c.physical);
    EXPECT_EQ(text("disk0label"), "disk_1");
}

INSTANTIATE_TEST_SUITE_P(
    units, window_sizes,
    ::testing::Values(size_case{"10.6.0", one_tb, "1.00 TB", "1000 GB"},
                      size_case{"10.6.0", one_tb - 1, "999 GB", "999 GB"},   // 999,999,999,488 bytes
                      size_case{"10.6.0", 2930277168ULL, "1.50 TB", "1500 GB"},
                      size_case{"10.5.8", one_tb, "931 GB", "931 GB"},
                      size_case{"11.0.0", one_tb, "931 GB", "931 GB"},
                      size_case{"10.7.2", two_tb_set, "2.00 TB", "2000 GB"}));

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

    host_version v("10.5.8");
    win->update_raid_information();
    EXPECT_EQ(text("disk0caplabel"), "1863 GB");
}

TEST_F(window_panel, two_blank_disks_offer_create_only)
{
    host_version v("10.6.0");
    show_chip(add_usb_chip(blank_disk(one_tb), blank_disk(2 * one_tb)));
    EXPECT_EQ(text("disk0caplabel"), "1.00 TB");
    EXPECT_EQ(text("disk1caplabel"), "2.00 TB");
    EXPECT_EQ(text("disk0label"), "disk_1");
    EXPECT_EQ(text("disk1label"), "disk_2");
    EXPECT_EQ(text("disk0picmodefield"), "");
    EXPECT_EQ(text("disk1picmodefield"), "");
    EXPECT_EQ(text("disk0modefield"), "not_config");
    EXPECT_EQ(text("rebuilddisk1field"), "not_config");
    EXPECT_TRUE(shown("disk0cappicture"));
    EXPECT_TRUE(shown("disk1cappicture"));
    EXPECT_TRUE(enabled("confirmbutton"));
    for (const char* name : {"clearconfigbutton", "cleardisk0button", "cleardisk1button", "rebuild0to1button",
                             "rebuild1to0button"})
        EXPECT_FALSE(enabled(name)) << name;
    EXPECT_FALSE(shown("cleardisk0button"));
    EXPECT_TRUE(alerts.empty());
    EXPECT_EQ(current_tab(), "configuretab");
}

// A mirror half beside a blank disk, on either port: both notices in order, the rebuild
// tab, and the arrow from the half to the blank disk.
class window_half : public window_fixture, public ::testing::WithParamInterface<int> {};

TEST_P(window_half, a_lone_mirror_half_beside_a_blank_disk_is_offered_for_rebuild)
{
    const int port = GetParam();
    const uint64_t set = 1000000;
    ov::ovdisk half = member_disk(ov::mode_raid1, set + 16, set);
    half.degrade_needed = true;
    const ov::ovdisk other = blank_disk(set + 16);
    const int i = port == 0 ? add_usb_chip(half, other) : add_usb_chip(other, half);
    chip(i).raid1_pair_present = true;
    show_chip(i);

    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[0].title, "attention");
    EXPECT_EQ(alerts[0].message, "raid1_degrade_mode");
    EXPECT_EQ(alerts[1].title, "attention");
    EXPECT_EQ(alerts[1].message, "raid_info_conflict");
    EXPECT_EQ(current_tab(), "rebuildtab");

    const std::string p = std::to_string(port), q = std::to_string(1 - port);
    EXPECT_EQ(text(("disk" + p + "modefield").c_str()), "raid_1degrade");
    EXPECT_EQ(text(("disk" + p + "picmodefield").c_str()), "raid_1degrade");
    EXPECT_EQ(text(("rebuilddisk" + p + "field").c_str()), "raid_1");
    EXPECT_EQ(text(("disk" + q + "modefield").c_str()), "not_config");
    EXPECT_TRUE(enabled(("rebuild" + p + "to" + q + "button").c_str()));
    EXPECT_FALSE(enabled(("rebuild" + q + "to" + p + "button").c_str()));
    EXPECT_TRUE(shown(("cleardisk" + p + "button").c_str()));
    EXPECT_TRUE(enabled(("cleardisk" + p + "button").c_str()));
    EXPECT_FALSE(shown(("cleardisk" + q + "button").c_str()));
    EXPECT_TRUE(enabled("confirmbutton"));
    EXPECT_FALSE(enabled("clearconfigbutton"));
}

INSTANTIATE_TEST_SUITE_P(ports, window_half, ::testing::Values(0, 1));

TEST_F(window_panel, a_lone_member_with_an_empty_partner_port_is_only_noticed)
{
    ov::ovdisk half = member_disk(ov::mode_raid1, 2000000, 1999984);
    half.degrade_needed = true;
    show_chip(add_usb_chip(half, empty_port()));
    EXPECT_EQ(alert_messages(), std::vector<QString>{"raid1_degrade_mode"});
    EXPECT_EQ(current_tab(), "configuretab");
    EXPECT_FALSE(enabled("confirmbutton"));
    EXPECT_FALSE(enabled("rebuild0to1button"));
    EXPECT_TRUE(enabled("cleardisk0button"));
    EXPECT_EQ(text("disk1label"), "");
}

// A mirror half beside a disk that cannot be judged: the disk is there but silent, or its
// record could not be read. The half is not called degraded, no notice blames the other
// disk, and nothing that would write to both disks or because of the unknown one is open.
struct unknown_partner_case {
    const char* what;
    int half_port;
    bool partner_answers;   // answered IDENTIFY, but its record could not be read
};

class window_unknown_partner : public window_fixture, public ::testing::WithParamInterface<unknown_partner_case> {};

TEST_P(window_unknown_partner, the_panel_says_did_not_answer_and_offers_nothing_because_of_it)
{
    const unknown_partner_case& c = GetParam();
    const uint64_t set = 1000000;
    ov::ovdisk half = member_disk(ov::mode_raid1, set + 16, set, "Half", "SN-HALF");
    half.degrade_needed = true;   // even if the engine said so, the window does not act on it
    ov::ovdisk partner;
    if (c.partner_answers) {
        partner = blank_disk(set + 16, "Quiet", "SN-QUIET");
        partner.record_unknown = true;
    } else {
        partner.register_present = true;   // in the bay, silent at IDENTIFY
    }
    const int i = c.half_port == 0 ? add_usb_chip(half, partner) : add_usb_chip(partner, half);
    chip(i).raid1_pair_present = true;
    show_chip(i);

    const std::string p = std::to_string(c.half_port), q = std::to_string(1 - c.half_port);
    const auto field = [&](const std::string& name) { return text(name.c_str()); };
    EXPECT_TRUE(alerts.empty()) << c.what << ": " << (alerts.empty() ? "" : alerts[0].message.toStdString());
    EXPECT_EQ(field("disk" + p + "modefield"), "raid_1") << c.what;
    EXPECT_EQ(field("disk" + p + "picmodefield"), "raid_1") << c.what;
    for (const char* name : {"modefield", "picmodefield"})
        EXPECT_EQ(field("disk" + q + name), "disk_silent") << c.what << " " << name;
    EXPECT_EQ(field("rebuilddisk" + q + "field"), "disk_silent") << c.what;
    EXPECT_EQ(field("disk" + q + "serialfield"), c.partner_answers ? "SN-QUIET" : "") << c.what;
    EXPECT_TRUE(shown(("disk" + q + "cappicture").c_str())) << c.what;
    for (const char* name : {"confirmbutton", "clearconfigbutton", "rebuild0to1button", "rebuild1to0button"})
        EXPECT_FALSE(enabled(name)) << c.what << " " << name;
    // Clearing the known half writes to that disk alone: the user may still want it.
    EXPECT_TRUE(enabled(("cleardisk" + p + "button").c_str())) << c.what;
    EXPECT_FALSE(enabled(("cleardisk" + q + "button").c_str())) << c.what;
    EXPECT_FALSE(shown(("cleardisk" + q + "button").c_str())) << c.what;

    // Not even a row change opens create.
    find<QAbstractButton>("raid_row_0")->click();
    EXPECT_FALSE(enabled("confirmbutton")) << c.what;
    find<QAbstractButton>("raid_row_1")->click();
}

INSTANTIATE_TEST_SUITE_P(partners, window_unknown_partner,
                         ::testing::Values(unknown_partner_case{"silent partner on port 1", 0, false},
                                           unknown_partner_case{"silent partner on port 0", 1, false},
                                           unknown_partner_case{"unreadable record on port 1", 0, true},
                                           unknown_partner_case{"unreadable record on port 0", 1, true}));

TEST_F(window_panel, an_incomplete_copy_is_named_and_never_a_rebuild_source)
{
    ov::set_localizer([](const std::string& key) {
        return key == "incomplete_copy" ? std::string(" (partial copy of %1)") : key;
    });
    const uint64_t set = 1000000;
    ov::ovdisk copy = member_disk(ov::mode_raid1, set + 16, set, "Copy", "SN-COPY");
    copy.incomplete_copy = true;
    copy.copy_source_serial = "SN-SOURCE";
    copy.degrade_needed = true;
    const int i = add_usb_chip(blank_disk(set + 16), copy);
    chip(i).raid1_pair_present = true;
    show_chip(i);

    EXPECT_EQ(text("disk1modefield"), "raid_1 (partial copy of SN-SOURCE)");
    // Beside the picture the warning has the marker's room, which holds all of it.
    EXPECT_EQ(text("disk1picmodefield"), "raid_1");
    EXPECT_EQ(text("disk1oldnewlabel"), "incomplete_copy_marker");
    EXPECT_FALSE(enabled("rebuild1to0button"));
    EXPECT_FALSE(enabled("rebuild0to1button"));
    for (const QString& m : alert_messages())
        EXPECT_NE(m, "raid1_degrade_mode");
    // Clearing the copy is how the disk is used again.
    EXPECT_TRUE(enabled("cleardisk1button"));
}

TEST_F(window_panel, broken_stripe_halves_are_marked_and_never_a_set)
{
    ov::ovdisk d0 = member_disk(ov::mode_raid0, 1000000, 1999968);
    ov::ovdisk d1 = member_disk(ov::mode_span, 1000000, 1934432);
    d0.partner_mismatch = d1.partner_mismatch = true;
    show_chip(add_usb_chip(d0, d1));
    EXPECT_EQ(text("disk0modefield"), "raid_0broken");
    EXPECT_EQ(text("disk1modefield"), "spanbroken");
    EXPECT_EQ(alert_messages(), std::vector<QString>{"raid_info_conflict"});
    EXPECT_EQ(current_tab(), "configuretab");   // no mirror half: nothing to rebuild
    EXPECT_FALSE(enabled("rebuild0to1button"));
    EXPECT_FALSE(enabled("rebuild1to0button"));
}

TEST_F(window_panel, mirror_halves_of_different_ages_are_told_apart_as_old_and_new)
{
    const uint64_t set = 1000000;
    ov::ovdisk d0 = member_disk(ov::mode_raid1, set + 16, set);
    ov::ovdisk d1 = member_disk(ov::mode_raid1, set + 16, set);
    d0.raid1_role = 2;   // came back: older data
    d1.raid1_role = 1;   // stayed in the set: current data
    const int i = add_usb_chip(d0, d1);
    chip(i).raid1_pair_present = true;
    show_chip(i);
    EXPECT_EQ(text("disk0oldnewlabel"), "new");
    EXPECT_EQ(text("disk1oldnewlabel"), "old");
    EXPECT_EQ(alert_messages(), std::vector<QString>{"raid_info_conflict"});
    EXPECT_EQ(current_tab(), "rebuildtab");
    EXPECT_TRUE(enabled("rebuild0to1button"));
    EXPECT_TRUE(enabled("rebuild1to0button"));

    chip(i).disks[0].raid1_role = 1;
    chip(i).disks[1].raid1_role = 0;
    win->update_raid_information();
    EXPECT_EQ(text("disk0oldnewlabel"), "old");
    EXPECT_EQ(text("disk1oldnewlabel"), "");
}

// The target must hold the source's set and, beyond it, its own 16-sector record area.
struct boundary_case {
    int64_t spare;   // target capacity minus the source's record capacity
    bool enabled;
};

class window_rebuild_boundary : public window_fixture, public ::testing::WithParamInterface<boundary_case> {};

TEST_P(window_rebuild_boundary, the_rebuild_arrow_opens_only_when_the_target_holds_set_and_record)
{
    const uint64_t set = 1000000;
    for (int port : {0, 1}) {
        ov::j.chips.clear();
        ov::ovdisk half = member_disk(ov::mode_raid1, set + 16, set);
        const ov::ovdisk target = blank_disk(static_cast<uint64_t>(static_cast<int64_t>(set) + GetParam().spare));
        const int i = port == 0 ? add_usb_chip(half, target) : add_usb_chip(target, half);
        chip(i).raid1_pair_present = true;
        show_chip(i);
        const char* arrow = port == 0 ? "rebuild0to1button" : "rebuild1to0button";
        EXPECT_EQ(enabled(arrow), GetParam().enabled) << "spare " << GetParam().spare << " port " << port;
    }
}

INSTANTIATE_TEST_SUITE_P(spare, window_rebuild_boundary,
                         ::testing::Values(boundary_case{15, false}, boundary_case{16, true},
                                           boundary_case{17, true}, boundary_case{0, false}));

TEST_F(window_panel, a_tiny_target_never_wraps_the_size_comparison)
{
    // record_capacity 0 and a target under 16 sectors: no room for a record, no arrow.
    ov::ovdisk half = member_disk(ov::mode_raid1, 100, 0);
    const int i = add_usb_chip(half, blank_disk(8));
    chip(i).raid1_pair_present = true;
    show_chip(i);
    EXPECT_FALSE(enabled("rebuild0to1button"));
}

TEST_F(window_panel, a_running_rebuild_is_followed_and_its_arrow_marked)
{
    const uint64_t set = 1000000;
    ov::ovdisk target = member_disk(ov::mode_raid1, set + 16, set);
    ov::ovdisk source = member_disk(ov::mode_raid1, set + 16, set);
    source.rebuild_flag = true;   // rebuild from port 1 to port 0
    const int i = add_usb_chip(target, source);
    chip(i).raid_configured = true;
    chip(i).raid_mode = ov::mode_raid1;
    chip(i).raid_capacity = set;
    chip(i).rebuilding = true;
    chip(i).polling = true;
    chip(i).raid1_pair_present = true;
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
    EXPECT_TRUE(wait_until([&] { return text("percentagefield") == "25.0%"; })) << text("percentagefield").toStdString();
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

TEST_F(window_panel, no_input_is_taken_while_a_device_handling_runs)
{
    const uint64_t set = 1000000;
    const int i = add_usb_chip(member_disk(ov::mode_raid1, set + 16, set), blank_disk(set + 16));
    chip(i).raid1_pair_present = true;
    ov::j.current = chip(i).identity;

    // The handlings announce themselves from the notification thread.
    std::atomic<bool> done{false};
    std::thread t([&] {
        win->startworking();
        done = true;
    });
    ASSERT_TRUE(wait_until([&] { return done.load(); }));
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
