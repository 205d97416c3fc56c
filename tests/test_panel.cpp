// The panel decided from chip states, without a window: mode texts and markers by key, the
// actions offered, the notices due and the rebuild tab; the pictures; size units; the
// questions before commands; progress and the rebuild's speed; and how a text is put
// together from its pieces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <cstring>

#include "health.h"
#include "ovchip.h"
#include "panel.h"
#include "rebuild_rate.h"

namespace {

using ov::ovdisk;

constexpr uint64_t set = 1000000;              // a set's record capacity, in sectors
constexpr uint64_t one_tb = 1953125000;        // 10^12 bytes
constexpr uint64_t two_tb_set = 3907029168ULL;

ovdisk blank(uint64_t capacity = set + 16)
{
    ovdisk d;
    d.present = d.register_present = true;
    d.model = "Model";
    d.serial = "SN";
    d.capacity = capacity;
    return d;
}

ovdisk member(uint32_t mode, uint64_t record = set, uint64_t capacity = set + 16)
{
    ovdisk d = blank(capacity);
    d.raid_mode = mode;
    d.record_capacity = record;
    return d;
}

template <typename T>
ovdisk with(ovdisk d, T ovdisk::*field, T value)
{
    d.*field = value;
    return d;
}

const ovdisk none{};                                                  // an empty port
const ovdisk silent = with(none, &ovdisk::register_present, true);    // in the bay, no IDENTIFY
const ovdisk unread = with(blank(), &ovdisk::record_unknown, true);   // its record unread
const ovdisk half = with(member(ov::mode_raid1), &ovdisk::degrade_needed, true);   // a lone member
const ovdisk source = with(member(ov::mode_raid1), &ovdisk::rebuild_flag, true);
const ovdisk partial_copy = with(with(half, &ovdisk::incomplete_copy, true), &ovdisk::copy_source_serial,
                                 std::string("SN-SOURCE"));

struct chip_setup {
    ovdisk d0, d1;
    uint32_t set_mode = 0;   // a configured set, 0 for none
    bool rebuilding = false, polling = false;
};

ov::ovchip make(const chip_setup& c)
{
    ov::ovchip chip;
    chip.disks = {c.d0, c.d1};
    chip.raid_configured = c.set_mode != 0;
    chip.raid_mode = c.set_mode;
    chip.raid_capacity = set;
    chip.rebuilding = c.rebuilding;
    chip.polling = c.polling;
    chip.raid1_pair_present = c.d0.present && c.d1.present &&
                              (c.d0.raid_mode == ov::mode_raid1 || c.d1.raid_mode == ov::mode_raid1);
    return chip;
}

// A text as the tables write it: its pieces joined by '+', values in brackets.
std::string str(const ov::panel_text& text)
{
    std::string out;
    for (const ov::text_piece& piece : text) {
        out += (out.empty() ? "" : "+") + piece.key;
        for (const std::string& arg : piece.args)
            out += "(" + arg + ")";
    }
    return out;
}

// Both disks' mode texts, each followed by its marker in brackets.
std::string modes(const ov::panel_state& p)
{
    std::string out;
    for (int port = 0; port < 2; ++port) {
        const ov::disk_view& d = p.disks[port];
        out += (port ? " / " : "") + str(d.mode) + (d.marker.empty() ? "" : " [" + str(d.marker) + "]");
    }
    return out;
}

std::string joined(const std::vector<std::string>& words)
{
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : " ") + w;
    return out;
}

std::string offered(const ov::panel_actions& a)
{
    std::vector<std::string> open;
    for (const auto& [on, name] : {std::pair{a.create, "create"}, {a.remove, "remove"}, {a.clear[0], "clear0"},
                                   {a.clear[1], "clear1"}, {a.rebuild[0], "rebuild0"}, {a.rebuild[1], "rebuild1"}})
        if (on)
            open.push_back(name);
    return joined(open);
}

struct panel_case {
    const char* what;
    chip_setup chip;
    const char* modes;
    const char* offered;
    const char* notices;
    bool rebuild_tab;
    int row = ov::first_row;
};

void PrintTo(const panel_case& c, std::ostream* os)
{
    *os << c.what;
}

class panel_table : public ::testing::TestWithParam<panel_case> {};

TEST_P(panel_table, texts_actions_notices_and_tab_follow_the_rules)
{
    const panel_case& c = GetParam();
    const ov::ovchip chip = make(c.chip);
    const ov::panel_state p = ov::panel_of(&chip, {c.row, true});
    EXPECT_EQ(modes(p), c.modes) << c.what;
    EXPECT_EQ(offered(p.actions), c.offered) << c.what;
    EXPECT_EQ(joined(p.notices), c.notices) << c.what;
    EXPECT_EQ(p.rebuild_tab, c.rebuild_tab) << c.what;
    EXPECT_TRUE(p.chip && p.actions.restart) << c.what;
    // The command line asks refusal(), the window the action: one rule.
    for (int port = 0; port < 2; ++port)
        EXPECT_EQ(ov::refusal(chip, ov::command::rebuild, port).empty(), p.actions.rebuild[port]) << c.what;
    // A followed copy marks the arrow of its source.
    EXPECT_EQ(p.follow_rebuild, c.chip.polling) << c.what;
    EXPECT_EQ(p.rebuild_mark, c.chip.polling ? (c.chip.d0.rebuild_flag ? 0 : 1) : -1) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    chips, panel_table,
    ::testing::Values(
        panel_case{"two empty ports", {none, none}, " / ", "", "", false},
        panel_case{"two blank disks", {blank(), blank(2 * set)}, "not_config / not_config", "create", "", false},
        panel_case{"the fourth row", {blank(), blank()}, "not_config / not_config", "", "", false, 3},
        panel_case{"a configured mirror", {member(2), member(2), 2}, "raid_1 / raid_1", "create remove", "", false},
        panel_case{"a configured stripe on the fourth row", {member(1), member(1), 1}, "raid_0 / raid_0", "remove", "",
                   false, 3},
        panel_case{"a configured mirror rebuilt from disk 2", {member(2), source, 2, true, true},
                   "raid_1+rebuild_target / raid_1+rebuild_source", "create remove", "", true},
        panel_case{"a configured mirror rebuilt from disk 1", {source, member(2), 2, true, true},
                   "raid_1+rebuild_source / raid_1+rebuild_target", "create remove", "", true},
        panel_case{"a followed copy outside a set", {source, blank(), 0, false, true}, "raid_1+degrade / not_config",
                   "clear0", "raid_info_conflict", true},
        panel_case{"a lone half beside a blank disk", {half, blank()}, "raid_1+degrade / not_config",
                   "create clear0 rebuild0", "raid1_degrade_mode raid_info_conflict", true},
        panel_case{"a blank disk beside a lone half", {blank(), half}, "not_config / raid_1+degrade",
                   "create clear1 rebuild1", "raid1_degrade_mode raid_info_conflict", true},
        panel_case{"a lone half beside an empty port", {half, none}, "raid_1+degrade / ", "clear0",
                   "raid1_degrade_mode", false},
        panel_case{"a silent partner on port 1", {half, silent}, "raid_1 / disk_silent", "clear0", "", false},
        panel_case{"a silent partner on port 0", {silent, half}, "disk_silent / raid_1", "clear1", "", false},
        panel_case{"an unreadable partner on port 1", {half, unread}, "raid_1 / disk_silent", "clear0", "", true},
        panel_case{"an unreadable partner on port 0", {unread, half}, "disk_silent / raid_1", "clear1", "", true},
        panel_case{"an unreadable member of a set", {member(2), with(member(2), &ovdisk::record_unknown, true), 2},
                   "raid_1 / disk_silent", "", "", false},
        panel_case{"a partial copy is never a source", {blank(), partial_copy},
                   "not_config / raid_1+incomplete_copy(SN-SOURCE) [incomplete_copy_marker(SN-SOURCE)]",
                   "create clear1", "raid_info_conflict", true},
        panel_case{"broken stripe halves",
                   {with(member(1), &ovdisk::partner_mismatch, true), with(member(4), &ovdisk::partner_mismatch, true)},
                   "raid_0+broken / span+broken", "create clear0 clear1", "raid_info_conflict", false},
        panel_case{"mirror halves of different ages",
                   {with(member(2), &ovdisk::raid1_role, 2u), with(member(2), &ovdisk::raid1_role, 1u)},
                   "raid_1+degrade [new] / raid_1+degrade [old]", "create clear0 clear1 rebuild0 rebuild1",
                   "raid_info_conflict", true},
        panel_case{"a mode number of no set", {member(3), blank()}, "not_config / not_config", "create",
                   "raid_info_conflict", false},
        // The target holds the set and, beyond it, its own 16-sector record area.
        panel_case{"a target 15 sectors over the set", {member(2), blank(set + 15)}, "raid_1+degrade / not_config",
                   "create clear0", "raid_info_conflict", true},
        panel_case{"a target 16 sectors over the set", {member(2), blank(set + 16)}, "raid_1+degrade / not_config",
                   "create clear0 rebuild0", "raid_info_conflict", true},
        panel_case{"a target 17 sectors over the set", {blank(set + 17), member(2)}, "not_config / raid_1+degrade",
                   "create clear1 rebuild1", "raid_info_conflict", true},
        panel_case{"a target the size of the set", {member(2), blank(set)}, "raid_1+degrade / not_config",
                   "create clear0", "raid_info_conflict", true},
        panel_case{"a target too small for a record", {member(2, 0, 100), blank(8)}, "raid_1+degrade / not_config",
                   "create clear0", "raid_info_conflict", true},
        panel_case{"a record claiming nearly 2^64 sectors", {member(2, UINT64_MAX - 8), blank()},
                   "raid_1+degrade / not_config", "create clear0", "raid_info_conflict", true}));

TEST(panel, no_chip_shows_and_offers_nothing)
{
    const ov::panel_state p = ov::panel_of(nullptr);
    EXPECT_FALSE(p.chip);
    EXPECT_EQ(p.actions, ov::panel_actions{});
    EXPECT_EQ(modes(p), " / ");
    EXPECT_TRUE(p.notices.empty() && p.set_mode.empty() && !p.rebuild_tab && !p.disks[0].picture);
}

TEST(panel, pictures_show_each_disk_outside_a_set_and_the_set_alone_inside_one)
{
    ov::ovchip chip = make({member(ov::mode_raid1, one_tb, 2 * one_tb), partial_copy});
    ov::panel_state p = ov::panel_of(&chip);
    const auto picture = [&](int port) {
        const ov::disk_view& d = p.disks[port];
        return d.picture ? str(d.caption) + " " + str(d.capacity) + " " + str(d.picture_mode) : std::string("-");
    };
    // A member shows its set's capacity; a partial copy its bare mode (the marker says the rest).
    EXPECT_EQ(picture(0), "disk_1 1.00 TB raid_1+degrade");
    EXPECT_EQ(picture(1), "disk_2 0 GB raid_1");
    EXPECT_EQ(str(p.disks[0].size), "2000 GB");
    EXPECT_EQ(str(p.disks[1].rebuild_mode), "raid_1");

    chip.disks[1] = blank(2 * one_tb);
    p = ov::panel_of(&chip, {ov::first_row, false});
    EXPECT_EQ(picture(1), "disk_2 1862 GB ");
    chip.disks[1] = silent;
    p = ov::panel_of(&chip);
    EXPECT_EQ(picture(1), "disk_2  disk_silent");
    EXPECT_EQ(str(p.disks[1].serial), "");

    chip = make({member(2), source, 2, true});
    chip.raid_capacity = two_tb_set;
    p = ov::panel_of(&chip);
    EXPECT_EQ(picture(0), " 2.00 TB ");
    EXPECT_EQ(picture(1), "-");
    EXPECT_EQ(str(p.set_mode), "raid_1+rebuilding");
}

struct size_case {
    bool decimal;
    uint64_t sectors;
    const char* capacity;   // picture caption
    const char* physical;   // disk page: never in TB
};

class panel_sizes : public ::testing::TestWithParam<size_case> {};

TEST_P(panel_sizes, sizes_are_in_the_units_of_the_host)
{
    const size_case& c = GetParam();
    EXPECT_EQ(ov::capacity_text(c.sectors, c.decimal), c.capacity);
    EXPECT_EQ(ov::physical_size_text(c.sectors, c.decimal), c.physical);
}

INSTANTIATE_TEST_SUITE_P(units, panel_sizes,
                         ::testing::Values(size_case{true, one_tb, "1.00 TB", "1000 GB"},
                                           size_case{true, one_tb - 1, "999 GB", "999 GB"},   // 999,999,999,488 bytes
                                           size_case{true, 2930277168ULL, "1.50 TB", "1500 GB"},
                                           size_case{false, one_tb, "931 GB", "931 GB"},
                                           size_case{true, two_tb_set, "2.00 TB", "2000 GB"}));

TEST(panel, questions_before_commands_and_the_rows_modes)
{
    ov::ovchip chip = make({with(member(2), &ovdisk::raid1_role, 2u), with(member(2), &ovdisk::raid1_role, 1u)});
    const auto asked = [&](ov::command c, int port = 0) {
        const ov::question q = ov::question_before(chip, c, port);
        return str(q.text) + (q.no_by_default ? " (No)" : "");
    };
    EXPECT_EQ(asked(ov::command::create), "all_data_lost");
    EXPECT_EQ(asked(ov::command::clear_disk, 1), "clear_disk_question(2)(Model)(SN)+\n\n+all_data_lost");
    EXPECT_EQ(asked(ov::command::remove), "all_data_lost");
    EXPECT_EQ(asked(ov::command::restart), "");
    // The returning disk (older data) over the one that stayed in the set.
    EXPECT_EQ(asked(ov::command::rebuild, 0), "rebuild_from_older(1)(2) (No)");
    EXPECT_EQ(asked(ov::command::rebuild, 1), "disk2_to_disk1");
    std::swap(chip.disks[0], chip.disks[1]);
    EXPECT_EQ(asked(ov::command::rebuild, 0), "disk1_to_disk2");
    EXPECT_EQ(asked(ov::command::rebuild, 1), "rebuild_from_older(2)(1) (No)");
    chip.polling = true;   // a running rebuild: stopping it is asked for, No by default
    EXPECT_EQ(asked(ov::command::remove), "delete_stops_rebuild (No)");
    EXPECT_EQ(asked(ov::command::restart), "restart_stops_rebuild (No)");

    const uint32_t modes[] = {ov::mode_raid0, ov::mode_raid1, ov::mode_span, ov::mode_none, ov::mode_none};
    for (int row = 0; row <= ov::mode_rows; ++row)
        EXPECT_EQ(ov::mode_of_row(row), modes[row]) << row;
    EXPECT_EQ(ov::mode_of_row(ov::first_row), ov::mode_raid1) << "create must never start as delete";
}

TEST(panel, progress_holds_below_the_end_and_ignores_what_measures_nothing)
{
    struct {
        uint64_t total, current;
        bool final;
        const char* text;   // "" when ignored
    } const cases[] = {
        {1000, 250, false, "25.0%"},  {1000, 995, false, "99.0%"},   {1000, 995, true, "99.5%"},
        {1000, 1000, true, "100.0%"}, {1000, 2001, false, "99.0%"},  {1000, 2001, true, "200.1%"},
        {1000, 2010, true, ""},       {1000, 2010, false, ""},       {0, 500, true, ""},
        {3, 1, false, "33.3%"},       {1000, 0, false, "0.0%"},
    };
    for (const auto& c : cases) {
        const std::optional<double> percent = ov::progress_percent(c.total, c.current, c.final);
        EXPECT_EQ(percent ? ov::percent_text(*percent) : "", c.text) << c.total << "/" << c.current << " " << c.final;
    }
}

TEST(panel, speed_and_time_left_come_from_the_last_minute_of_one_copy)
{
    constexpr uint64_t total = 10000000, big = 4000000000;   // sectors
    constexpr double reset = -1;                              // a step that starts afresh by hand
    struct reading {
        double seconds;
        uint64_t total, current;
    };
    struct {
        const char* what;
        std::vector<reading> readings;
        const char *speed, *left;   // "" for none
    } const cases[] = {
        {"one reading", {{0, total, 0}}, "", ""},
        {"under a second apart", {{0, total, 0}, {0.5, total, 1000}}, "", ""},
        {"a steady copy", {{0, total, 0}, {10, total, 1000000}}, "51.2 MB/s", "1 min 30 s"},
        {"hours to go", {{0, big, 0}, {10, big, 100000}}, "5.1 MB/s", "111 h 06 min"},
        {"older than a minute is forgotten", {{0, total, 0}, {40, total, 4000000}, {80, total, 8000000},
                                              {120, total, 8000000}}, "25.6 MB/s", "40 s"},
        {"the copy started over", {{0, total, 0}, {10, total, 1000000}, {20, total, 500000}, {30, total, 1500000}},
         "51.2 MB/s", "1 min 25 s"},
        {"a new total", {{0, total, 0}, {10, total, 1000000}, {20, big, 2000000}}, "", ""},
        {"reset", {{0, total, 0}, {10, total, 1000000}, {reset, 0, 0}, {20, total, 2000000}}, "", ""},
        {"standing still", {{0, total, 1000000}, {10, total, 1000000}}, "0 B/s", ""},
    };
    for (const auto& c : cases) {
        ov::rebuild_rate rate;
        for (const reading& r : c.readings)
            r.seconds == reset ? rate.reset() : rate.add(r.seconds, r.total, r.current);
        const std::optional<double> speed = rate.bytes_per_second();
        const std::optional<double> left = rate.seconds_left();
        EXPECT_EQ(speed ? ov::speed_text(*speed) : "", c.speed) << c.what;
        EXPECT_EQ(left ? ov::duration_text(*left) : "", c.left) << c.what;
    }
}

TEST(panel, a_text_is_its_pieces_looked_up_and_filled_in)
{
    // A model that reads "%2" is a model, not a place for the next argument.
    const ov::panel_text text = {{"incomplete_copy", {"SN-1"}}, {"rebuild_from_older", {"%2", "2"}},
                                 {std::string("Disk\0tail", 9), {}, true}, {"unknown", {"x"}}};
    const auto lookup = [](const std::string& key) -> std::string {
        if (key == "incomplete_copy")
            return " (copy of %1, %1)";
        return key == "rebuild_from_older" ? "%2 over %1%3" : key;
    };
    EXPECT_EQ(ov::render(text, lookup), " (copy of SN-1, SN-1)2 over %2Diskunknown") << "a missing argument is empty";
    EXPECT_EQ(ov::render({}, lookup), "");
    EXPECT_EQ(ov::render({ov::text_piece{"key", {}, false}}), "key") << "without a table a key shows as itself";
}

}  // namespace

namespace {

// Two halves of one mirror written at different times: the later stamp holds the current
// data, unless a stamp is no date at all, or a note says its partner was written later
// still (it sits beside a half copy of that partner); then neither half is called current.
TEST(chip_summary, out_of_step_names_the_current_half_only_on_real_dates)
{
    struct row {
        const char* stamp0;
        const char* stamp1;
        int current_bay;
        bool warned;
        bool superseded = false;
    };
    for (const row& r : {row{"20110203090508", "20110203090507", 1, false},
                         row{"20111399999999", "20110203090507", 0, true},
                         row{"20110203090508", "20110203090507", 0, false, true}}) {
        ov::ovchip chip;
        for (int port = 0; port < 2; ++port) {
            ovdisk d = member(ov::mode_raid1);
            d.serial += std::to_string(port);
            unsigned char stamp[16] = {};
            std::memcpy(stamp, port ? r.stamp1 : r.stamp0, 14);
            const unsigned char partner[40] = {};
            d.raid_record = ov::create_raid_struct(ov::mode_raid1, port, 0, 0, set, partner, partner, false, stamp);
            std::memcpy(d.record_stamp, stamp, 16);
            chip.disks[static_cast<size_t>(port)] = d;
        }
        chip.read_raid_combined_info();
        chip.disks[0].superseded = r.superseded;
        const ov::chip_summary s = ov::summarize(chip);
        SCOPED_TRACE(r.stamp0);
        EXPECT_EQ(s.state, ov::chip_state::out_of_step);
        EXPECT_EQ(s.current_bay, r.current_bay);
        EXPECT_EQ(s.bays[0].current_data, r.current_bay == 1);
        EXPECT_FALSE(s.bays[1].current_data);
        EXPECT_EQ(s.bays[0].warnings.size(), r.warned ? 1u : 0u);
    }
}

}  // namespace
