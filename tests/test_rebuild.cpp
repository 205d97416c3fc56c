// Rebuild and degrade: the records a rebuild writes in each direction, degrading a lone
// mirror member, what selecting a chip writes and starts, and clearing the marks after
// a rebuild.
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"
#include "panel.h"

namespace ovtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class rebuild_test : public engine_fixture {
protected:
    // A mirror of two disks of different sizes whose records differ in capacity and in the
    // over-2-TB byte, read the way a scan reads them. `source` holds capacity 1999984 and
    // over_2tb 1; the other record states 2999984 and 0. A blank target holds no record.
    int mirror(int source, bool blank_target = false, int source_flags = 0, const char* source_stamp = older_stamp,
               const char* target_stamp = older_stamp)
    {
        const int i = add_chip(disk_a(2000000), disk_c(3000000));
        const int target = 1 - source;
        put_record(i, source, record_for(2, source, 1999984, chip(i).disks[target], source_stamp, source_flags, true));
        put_record(i, target,
                   blank_target ? ov::zero_record()
                                : record_for(2, target, 2999984, chip(i).disks[source], target_stamp, 0, false));
        chip(i).read_raid_info();
        lib.clear_calls();
        return i;
    }

    void expect_rebuild_record(const sector& r, int member, int flags, const ov::ovdisk& partner)
    {
        EXPECT_EQ(r[0], 'O');
        EXPECT_EQ(r[1], 'V');
        EXPECT_EQ(r[2], 2);
        EXPECT_EQ(r[3], member);
        EXPECT_EQ(r[4], flags);
        EXPECT_TRUE(all_zero(r.data() + 5, 3));
        EXPECT_EQ(ov::le::load64(r.data() + 8), 1999984u);
        EXPECT_EQ(0, std::memcmp(r.data() + 16, partner.serial_raw, 20));
        EXPECT_EQ(0, std::memcmp(r.data() + 36, partner.model_raw, 40));
        EXPECT_EQ(r[496], 1);
        EXPECT_EQ(0, std::memcmp(r.data() + 504, "Orvelan ", 8));
        EXPECT_NE(0, std::memcmp(r.data() + 480, stamp16(older_stamp).bytes, 16)) << "a new stamp";
        EXPECT_EQ(r[494], 0);
        EXPECT_EQ(r[495], 0);
    }
};

class rebuild_direction : public rebuild_test, public ::testing::WithParamInterface<int> {};

TEST_P(rebuild_direction, writes_both_records_from_the_source_port_0_first)
{
    const int source = GetParam(), target = 1 - source;
    for (bool blank_target : {false, true}) {
        SCOPED_TRACE(blank_target ? "blank target" : "target with its own record");
        next_case();
        const int i = mirror(source, blank_target);
        std::vector<std::string> requests_at_first_call;
        lib.on_call = [&](const call&) {
            if (requests_at_first_call.empty())
                requests_at_first_call = window.requests();
        };
        EXPECT_TRUE(chip(i).rebuild(source == 1));
        lib.on_call = nullptr;

        EXPECT_THAT(requests_at_first_call, ElementsAre("disablegui 1", "stopprogressbar"));
        // The source's record first: should the target's write fail, the target never
        // carries a record that the source does not back.
        const std::string s = std::to_string(source), t = std::to_string(target);
        const std::string ls = source == 0 ? "1999985" : "2999985", lt = target == 0 ? "1999985" : "2999985";
        EXPECT_THAT(describe(from_first_write(lib.calls())),
                    ElementsAre("ovSetRaidInfo " + s + " " + ls, "ovGetRaidInfo " + s + " " + ls,
                                "ovSetRaidInfo " + t + " " + lt, "ovGetRaidInfo " + t + " " + lt,
                                "ovFlushHDDCache 0", "ovFlushHDDCache 1", "ovWarmBoot"));
        // Noted on the host until the copy ends: the target is a partial copy meanwhile.
        ov::rebuild_note note;
        EXPECT_TRUE(ov::rebuild_notes::find_target(chip(i).disks[target].serial, note));
        EXPECT_EQ(note.source_serial, chip(i).disks[source].serial);
        const sector src = stored_record(i, source), dst = stored_record(i, target);
        {
            SCOPED_TRACE("source record");
            expect_rebuild_record(src, source, 0x80, chip(i).disks[target]);
        }
        {
            SCOPED_TRACE("target record");
            expect_rebuild_record(dst, target, 0, chip(i).disks[source]);
        }
        EXPECT_EQ(0, std::memcmp(src.data() + 480, dst.data() + 480, 16)) << "one stamp for both";
        EXPECT_TRUE(ov::j.warm_boot_pending);
    }
}

INSTANTIATE_TEST_SUITE_P(from_port, rebuild_direction, ::testing::Values(0, 1));

// With the clock behind the records (set back, a time zone behind) the copy still sorts after
// both halves, or a half that went stale before it, put back, would be called current.
TEST_F(rebuild_test, the_copy_is_stamped_after_both_halves_whatever_the_clock)
{
    struct row {
        const char* source;
        const char* target;  // nullptr: a blank target
        const char* stamped;  // nullptr: no stamp sorts after, nothing written
    };
    for (const row& r : {row{"20991231235958", "20991231235959", "21000101000000"},
                         row{"20990101000000", nullptr, "20990101000001"},
                         row{"20990101000009", "20990101000002", "20990101000010"},
                         row{"99999999999999", older_stamp, nullptr}}) {
        SCOPED_TRACE(std::string(r.source) + " / " + (r.target ? r.target : "blank"));
        next_case();
        const int i = mirror(0, r.target == nullptr, 0, r.source, r.target ? r.target : older_stamp);
        const sector before = stored_record(i, 1);
        EXPECT_EQ(chip(i).rebuild(false), r.stamped != nullptr);
        if (r.stamped == nullptr) {
            EXPECT_EQ(lib.count("ovSetRaidInfo"), 0u);
            EXPECT_EQ(stored_record(i, 1), before);
            continue;
        }
        for (int port : {0, 1})
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored_record(i, port).data() + 480), 14), r.stamped);
    }
}

TEST_F(rebuild_test, a_source_without_a_mirror_record_is_refused_untouched)
{
    for (int source : {0, 1}) {
        for (int mode : {0, 1, 4}) {
            SCOPED_TRACE("source " + std::to_string(source) + " mode " + std::to_string(mode));
            next_case();
            const int i = add_chip(disk_a(), disk_b());
            chip(i).disks[0].raid_mode = static_cast<uint32_t>(mode);
            chip(i).disks[1].raid_mode = static_cast<uint32_t>(mode);
            chip(i).disks[1 - source].raid_mode = 2;  // the other disk's mirror record does not count
            EXPECT_FALSE(chip(i).rebuild(source == 1));
            EXPECT_THAT(lib.names(), IsEmpty());
            EXPECT_THAT(window.requests(), ElementsAre("disablegui 1"));
        }
    }
}

TEST_F(rebuild_test, a_failed_record_write_puts_both_records_back_and_starts_nothing)
{
    const std::vector<std::pair<const char*, std::function<void(scripted_library&, int)>>> injections = {
        {"write fails", [](scripted_library& l, int n) { l.fail("ovSetRaidInfo", n); }},
        {"read-back fails", [](scripted_library& l, int n) { l.fail("ovGetRaidInfo", n); }},
        {"read-back differs", [](scripted_library& l, int n) { l.corrupt_writes("ovSetRaidInfo", n); }},
    };
    for (const auto& [what, arm] : injections) {
        for (int n : {1, 2}) {
            SCOPED_TRACE(std::string(what) + " at record " + std::to_string(n));
            next_case();
            const int i = mirror(0);
            const sector before0 = stored_record(i, 0), before1 = stored_record(i, 1);
            // The n-th read-back comes after the two backup reads of each record.
            arm(lib, std::string(what) == "read-back fails" ? 4 + n : n);
            EXPECT_FALSE(chip(i).rebuild(false));
            EXPECT_EQ(lib.count("ovWarmBoot"), 0u);
            EXPECT_FALSE(ov::j.warm_boot_pending);
            EXPECT_EQ(stored_record(i, 0), before0);
            EXPECT_EQ(stored_record(i, 1), before1);
            EXPECT_EQ(chip(i).last_write.fault, ov::write_fault::write_failed);
            EXPECT_EQ(chip(i).last_write.bay, n);
            ov::rebuild_note note;
            EXPECT_FALSE(ov::rebuild_notes::find_target(chip(i).disks[1].serial, note));
        }
    }
}

TEST_F(rebuild_test, a_half_copy_stays_one_in_any_enclosure_until_its_record_is_replaced)
{
    // A rebuild onto disk_c in the first enclosure, interrupted: the target is carried alone
    // into a second enclosure, next to a blank disk.
    const int first = mirror(0, true);
    ASSERT_TRUE(chip(first).rebuild(false));
    const sector copied = stored_record(first, 1);
    const int second = add_chip(disk_c(3000000), disk_b(), true, true);
    lib.set_sector(chip(second).service, 0, record_lba(second, 0), copied);
    put_record(second, 1, ov::zero_record());
    chip(second).read_raid_info();
    const ov::ovdisk& half = chip(second).disks[0];
    EXPECT_TRUE(half.incomplete_copy);
    EXPECT_EQ(half.copy_source_serial, chip(first).disks[0].serial);
    EXPECT_FALSE(half.degrade_needed) << "a half copy must never become a set of its own";
    lib.clear_calls();
    chip(second).select_chip();
    EXPECT_EQ(lib.count("ovSetRaidInfo"), 0u);
    EXPECT_FALSE(chip(second).rebuild(false)) << "never a source";
    EXPECT_EQ(lib.count("ovSetRaidInfo"), 0u);
    ov::stop_engine_threads();

    // Clearing it replaces what the copy left: it is an ordinary disk again.
    ASSERT_TRUE(chip(second).clear_disk(false));
    ov::rebuild_note note;
    EXPECT_FALSE(ov::rebuild_notes::find_target(chip(second).disks[0].serial, note));
}

// disk_c, a copy from disk_a cut short, is back beside disk_a. The copy goes on only while
// disk_a still carries the mark of a copy onto disk_c; rebuilt onto disk_b since (the hot-plug
// soak's find) or rewritten without a mark, disk_a no longer backs it. disk_c degraded since
// by a front end without the note (another user) is the half copy still: the mark says so.
TEST_F(rebuild_test, a_half_copy_beside_its_source_is_one_unless_the_source_still_copies_onto_it)
{
    struct row {
        const char* name;
        bool names_half;  // disk_a's record names disk_c (else disk_b)
        int flags;        // of disk_a's record
        bool half_degraded, noted;
        bool copying;
    };
    const row rows[] = {{"marked, naming the half copy", true, 0x80, false, true, true},
                        {"marked, naming another disk", false, 0x80, false, true, false},
                        {"unmarked, naming the half copy", true, 0, false, true, false},
                        {"marked, the half copy degraded since, no note", true, 0x80, true, false, false},
                        {"marked, the half copy degraded since, noted", true, 0x80, true, true, false}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        next_case();
        const int i = add_chip(disk_a(2000000), disk_c(3000000));
        const ov::ovdisk half = chip(i).disks[1];
        put_record(i, 0, record_for(2, 0, 1999984, r.names_half ? half : disk_b(), newer_stamp, r.flags));
        put_record(i, 1, record_for(2, 1, 1999984, r.half_degraded ? ov::ovdisk{} : chip(i).disks[0],
                                    r.half_degraded ? "20991231000000" : older_stamp));
        if (r.noted) {
            ASSERT_TRUE(ov::rebuild_notes::add(
                {ov::bridge_key(chip(i).identity), chip(i).disks[0].serial, half.serial, older_stamp}));
        }
        chip(i).read_raid_info();
        EXPECT_EQ(chip(i).rebuilding, r.copying);
        EXPECT_EQ(chip(i).disks[1].incomplete_copy, !r.copying);
        EXPECT_FALSE(ov::rebuild_offered(chip(i), 1)) << "a half copy offered as a source";
        EXPECT_FALSE(ov::refusal(chip(i), ov::command::rebuild, 1).empty());
    }

    // Finished since by a front end without the note: both unmarked, naming each other, with the
    // copy's stamp, they are one healthy mirror for the note's owner too.
    next_case();
    const int i = add_chip(disk_a(2000000), disk_c(3000000));
    for (int port = 0; port < 2; ++port)
        put_record(i, port, record_for(2, port, 1999984, chip(i).disks[1 - port], older_stamp));
    ASSERT_TRUE(ov::rebuild_notes::add(
        {ov::bridge_key(chip(i).identity), chip(i).disks[0].serial, chip(i).disks[1].serial, older_stamp}));
    chip(i).read_raid_info();
    EXPECT_FALSE(chip(i).disks[1].incomplete_copy);
    EXPECT_EQ(ov::summarize(chip(i)).state, ov::chip_state::healthy);
}

// Survivors of two mirrors, each marked one second on by its bridge, share a stamp: still no set.
TEST_F(rebuild_test, halves_of_two_mirrors_are_no_mirror_even_with_one_stamp)
{
    const int i = add_chip(disk_a(2000000), disk_c(3000000));
    for (int port = 0; port < 2; ++port)
        put_record(i, port, record_for(2, port, 1999984, disk_b(), newer_stamp));
    chip(i).read_raid_info();
    EXPECT_FALSE(chip(i).raid_configured);
    EXPECT_NE(ov::summarize(chip(i)).state, ov::chip_state::healthy);
    for (int port = 0; port < 2; ++port)
        EXPECT_EQ(chip(i).disks[port].raid1_role, 0u) << "a stranger's half called current";
    EXPECT_TRUE(ov::refusal(chip(i), ov::command::clear_disk, 1).empty()) << "a stranger called a member";
}

TEST_F(rebuild_test, two_half_copies_of_one_disk_are_no_mirror_even_with_one_stamp)
{
    // Copies from disk_a onto disk_b and onto disk_c, both cut short within one second.
    const int i = add_chip(disk_b(), disk_c(3000000));
    const ov::ovdisk a = disk_a(2000000);
    for (int port = 0; port < 2; ++port) {
        put_record(i, port, record_for(2, port, 1999984, a, older_stamp));
        ASSERT_TRUE(ov::rebuild_notes::add({ov::bridge_key(chip(i).identity), a.serial,
                                            chip(i).disks[port].serial, older_stamp}));
    }
    chip(i).read_raid_info();
    EXPECT_FALSE(chip(i).raid_configured) << "two partial copies taken for a healthy mirror";
    for (int port = 0; port < 2; ++port) {
        EXPECT_TRUE(chip(i).disks[port].incomplete_copy);
        EXPECT_EQ(chip(i).disks[port].raid1_role, 0u) << "a partial copy called current";
        EXPECT_FALSE(ov::rebuild_offered(chip(i), port));
    }
}

// disk_b, a mirror half of disk_a pulled long ago, beside disk_c, a copy from disk_a cut short:
// disk_a went on without disk_b, so rebuilding from disk_b asks, No by default, even though
// disk_a is not here to compare stamps with.
TEST_F(rebuild_test, a_half_whose_partner_was_rebuilt_from_since_is_asked_about_as_older)
{
    for (const char* note_stamp : {newer_stamp, older_stamp}) {
        SCOPED_TRACE(note_stamp);
        next_case();
        const int i = add_chip(disk_b(), disk_c(3000000));
        const ov::ovdisk a = disk_a(2000000);
        put_record(i, 0, record_for(2, 0, 1999984, a, older_stamp));
        put_record(i, 1, record_for(2, 1, 1999984, a, note_stamp));
        ASSERT_TRUE(ov::rebuild_notes::add({ov::bridge_key(chip(i).identity), a.serial, chip(i).disks[1].serial,
                                            note_stamp}));
        chip(i).read_raid_info();
        const bool later = note_stamp == std::string(newer_stamp);
        const ov::question q = ov::question_before(chip(i), ov::command::rebuild, 0);
        ASSERT_FALSE(q.text.empty());
        EXPECT_EQ(q.text[0].key, later ? "rebuild_from_superseded" : "disk1_to_disk2");
        EXPECT_EQ(q.no_by_default, later);
        std::string partner;
        EXPECT_EQ(ov::superseded_half(chip(i), 0, partner), later);
        if (later) {
            EXPECT_EQ(partner, a.serial);
        }
    }
}

TEST_F(rebuild_test, without_a_saved_note_no_rebuild_starts)
{
    // The notes' directory is a file: nothing can be saved there.
    const std::string blocker = ov::rebuild_notes::path() + "-dir";
    std::FILE* f = std::fopen(blocker.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ov::rebuild_notes::set_path(blocker + "/rebuilds");
    const int i = mirror(0, true);
    const sector before0 = stored_record(i, 0), before1 = stored_record(i, 1);
    EXPECT_FALSE(chip(i).rebuild(false));
    EXPECT_EQ(chip(i).last_write.fault, ov::write_fault::note_failed);
    EXPECT_EQ(chip(i).last_write.detail, blocker + "/rebuilds");
    EXPECT_EQ(lib.count("ovSetRaidInfo") + lib.count("ovWarmBoot"), 0u);
    EXPECT_EQ(stored_record(i, 0), before0);
    EXPECT_EQ(stored_record(i, 1), before1);
    std::remove(blocker.c_str());
}

// Front ends in several processes start rebuilds at one moment: every note is kept.
TEST_F(rebuild_test, notes_written_by_several_processes_at_once_are_all_kept)
{
    constexpr int processes = 6, each = 15;
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool all = true;
            for (int n = 0; n < each; ++n)
                all = ov::rebuild_notes::add({"bridge", "SRC", "T" + std::to_string(p) + "-" + std::to_string(n),
                                              older_stamp}) && all;
            std::_Exit(all ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(ov::rebuild_notes::load().size(), static_cast<size_t>(processes * each));
}

TEST_F(rebuild_test, a_source_mark_between_halves_of_two_sets_is_no_rebuild)
{
    // disk_a carries a mark from a rebuild onto disk_b; beside it sits disk_c of another mirror.
    const int i = add_chip(disk_a(2000000), disk_c(3000000));
    put_record(i, 0, record_for(2, 0, 1999984, disk_b(), older_stamp, 0x80));
    put_record(i, 1, record_for(2, 0, 2999984, disk_b(), newer_stamp));
    chip(i).read_raid_info();
    EXPECT_FALSE(chip(i).raid_configured);
    EXPECT_FALSE(chip(i).rebuilding);
    EXPECT_FALSE(chip(i).polling);
}

TEST_F(rebuild_test, rebuild_stops_running_monitors_before_writing)
{
    const int i = mirror(1);
    lib.rebuild_statuses.push_back(scripted_library::status(1000, 1));
    std::mutex m;
    bool seen = false, alive_at_first_write = true;
    lib.on_call = [&](const call& c) {
        if (c.name != "ovSetRaidInfo")
            return;
        std::lock_guard<std::mutex> g(m);
        if (!seen) {
            seen = true;
            alive_at_first_write = chip(i).poller_alive || chip(i).raid1_timer_alive;
        }
    };
    chip(i).start_raid1_timer();
    chip(i).polling = true;
    chip(i).start_polling();
    EXPECT_TRUE(eventually([&] { return lib.count("ovGetRegister") >= 2 && lib.count("ovGetRebuildStatus") >= 1; }));
    EXPECT_TRUE(chip(i).rebuild(true));
    lib.on_call = nullptr;
    EXPECT_TRUE(seen);
    EXPECT_FALSE(alive_at_first_write);
}

// ---- degrade -----------------------------------------------------------------------------

TEST_F(rebuild_test, degrade_rewrites_the_member_without_a_partner)
{
    for (int port : {0, 1}) {
        SCOPED_TRACE("port " + std::to_string(port));
        next_case();
        const ov::ovdisk member = disk_a();
        const int i = port == 0 ? add_chip(member, empty_port) : add_chip(empty_port, member);
        const ov::raid_info old = record_for(2, port, 1999984, disk_b(), older_stamp, 0, true);
        put_record(i, port, old);
        chip(i).read_raid_info();
        ASSERT_TRUE(chip(i).disks[port].degrade_needed);
        lib.clear_calls();

        EXPECT_TRUE(chip(i).raid_degrade(port == 1));
        const std::string p = std::to_string(port), lba = std::to_string(record_lba(i, port));
        EXPECT_THAT(describe(lib.calls()),
                    ElementsAre("ovGetDiskIdentify " + p, "ovGetRaidInfo " + p + " " + lba,
                                "ovGetRaidInfo " + p + " " + lba, "ovSetRaidInfo " + p + " " + lba,
                                "ovGetRaidInfo " + p + " " + lba, "ovFlushHDDCache " + p));
        const sector r = stored_record(i, port);
        EXPECT_EQ(r[2], 2);
        EXPECT_EQ(r[3], port);
        EXPECT_EQ(r[4], 0);
        EXPECT_EQ(ov::le::load64(r.data() + 8), 1999984u);
        EXPECT_TRUE(all_zero(r.data() + 16, 60)) << "no partner";
        EXPECT_EQ(r[496], 1) << "over-2-TB byte copied from the record";
        const ov::ovdisk& d = chip(i).disks[port];
        EXPECT_EQ(0, std::memcmp(d.record_stamp, r.data() + 480, 16));
        // Nothing else of the cache changes until the next read.
        EXPECT_EQ(0, std::memcmp(d.raid_record.data(), old.data(), 512));
        EXPECT_EQ(0, std::memcmp(d.partner_serial, old.partner_serial, 20));
        EXPECT_TRUE(d.degrade_needed);
    }
}

TEST_F(rebuild_test, a_failed_degrade_puts_the_record_back_and_keeps_the_cached_stamp)
{
    const int i = add_chip(disk_a(), empty_port);
    put_record(i, 0, record_for(2, 0, 1999984, disk_b(), older_stamp));
    const sector before = stored_record(i, 0);
    chip(i).read_raid_info();
    lib.clear_calls();
    lib.corrupt_writes("ovSetRaidInfo");
    EXPECT_FALSE(chip(i).raid_degrade(false));
    EXPECT_EQ(stored_record(i, 0), before);
    EXPECT_EQ(0, std::memcmp(chip(i).disks[0].record_stamp, stamp16(older_stamp).bytes, 16));
}

TEST_F(rebuild_test, a_degrade_stamp_is_always_later_than_the_one_it_replaces)
{
    // A stamp from the future (or from this very second) is passed by two seconds, with the
    // carry through minutes, days, months and years: one second on is what a bridge gives the
    // half it runs alone, which the partner may carry.
    const std::pair<const char*, const char*> cases[] = {
        {"29991231235959", "30000101000001"},
        {"29990228235959", "29990301000001"},
        {"29990101000000", "29990101000002"},
    };
    for (const auto& [previous, expected] : cases) {
        SCOPED_TRACE(previous);
        next_case();
        const int i = add_chip(disk_a(), empty_port);
        put_record(i, 0, record_for(2, 0, 1999984, disk_b(), previous));
        chip(i).read_raid_info();
        ASSERT_TRUE(chip(i).raid_degrade(false));
        EXPECT_EQ(0, std::memcmp(stored_record(i, 0).data() + 480, expected, 14));
    }
}

// ---- select_chip -------------------------------------------------------------------------

TEST_F(rebuild_test, selecting_a_lone_member_degrades_it_and_starts_the_timer)
{
    const int i = add_chip(empty_port, disk_b());
    put_record(i, 1, record_for(2, 1, 1999984, disk_a(), older_stamp));
    chip(i).read_raid_info();
    lib.clear_calls();
    chip(i).select_chip();
    EXPECT_EQ(lib.count("ovSetRaidInfo"), 1u);
    const sector r = stored_record(i, 1);
    EXPECT_EQ(r[2], 2);
    EXPECT_EQ(r[3], 1);
    EXPECT_EQ(r[4], 0);
    EXPECT_TRUE(all_zero(r.data() + 16, 60));
    EXPECT_TRUE(chip(i).raid1_timer_run);
    EXPECT_TRUE(eventually([&] { return lib.count("ovGetRegister") >= 2; }));
    EXPECT_TRUE(chip(i).raid1_timer_alive) << "the timer watches a lone member";
}

TEST_F(rebuild_test, a_member_next_to_a_blank_disk_is_rewritten_at_every_selection_the_blank_never)
{
    const int i = add_chip(disk_a(), disk_b());
    put_record(i, 0, record_for(2, 0, 1999984, disk_c(), older_stamp));
    put_record(i, 1, ov::zero_record());
    chip(i).read_raid_info();
    lib.clear_calls();
    chip(i).select_chip();
    chip(i).select_chip();
    ASSERT_EQ(lib.count("ovSetRaidInfo"), 2u);
    for (const call& c : lib.calls())
        EXPECT_TRUE(c.name != "ovSetRaidInfo" || c.port == 0);
    EXPECT_EQ(lib.count("ovFlushHDDCache"), 2u);
    EXPECT_TRUE(all_zero(stored_record(i, 1).data(), 512));
}

TEST_F(rebuild_test, a_silent_partner_is_not_an_empty_port)
{
    const int i = add_chip(disk_a(), silent_disk());
    put_record(i, 0, record_for(2, 0, 1999984, disk_b(), older_stamp));
    chip(i).read_raid_info();
    // The window shows no degraded member next to a disk that may be its partner.
    EXPECT_FALSE(chip(i).disks[0].degrade_needed);
    EXPECT_TRUE(chip(i).partner_unknown(false));
    lib.clear_calls();
    chip(i).select_chip();
    EXPECT_EQ(lib.count("ovSetRaidInfo"), 0u);
    EXPECT_EQ(lib.count("ovFlushHDDCache"), 0u);
    // The timer runs, and the silent disk raises no hot-swap notice.
    EXPECT_TRUE(eventually([&] { return lib.count("ovGetRegister") >= 8; }));
    EXPECT_TRUE(chip(i).raid1_timer_alive);
    EXPECT_FALSE(window.contains("show_hot_swap_message"));
}

TEST_F(rebuild_test, selection_marks_a_rebuild_only_for_one_mark_on_a_configured_mirror)
{
    struct mark_case {
        bool configured;
        uint32_t mode;
        bool flag0, flag1;
        bool marked;
    };
    for (const mark_case& mc : {mark_case{true, 2, false, true, true}, mark_case{true, 2, true, false, true},
                                mark_case{true, 2, true, true, false}, mark_case{true, 2, false, false, false},
                                mark_case{false, 2, false, true, false}, mark_case{true, 1, false, true, false},
                                mark_case{true, 4, true, false, false}}) {
        SCOPED_TRACE("configured " + std::to_string(mc.configured) + " mode " + std::to_string(mc.mode) +
                     " flags " + std::to_string(mc.flag0) + std::to_string(mc.flag1));
        next_case();
        const int i = add_chip(disk_a(), disk_b());
        ov::ovchip& c = chip(i);
        c.raid_configured = mc.configured;
        c.raid_mode = mc.mode;
        for (int d = 0; d < 2; ++d)
            c.disks[d].raid_mode = mc.mode;
        c.disks[0].rebuild_flag = mc.flag0;
        c.disks[1].rebuild_flag = mc.flag1;
        c.select_chip();
        EXPECT_EQ(bool(c.rebuilding), mc.marked);
        EXPECT_EQ(bool(c.polling), mc.marked);
        EXPECT_EQ(bool(c.raid1_timer_run), mc.mode == 2);
    }
}

// ---- clear_rebuild -----------------------------------------------------------------------

TEST_F(rebuild_test, clearing_the_mark_of_an_empty_port_makes_no_call)
{
    const int i = add_chip(disk_a(), empty_port);
    chip(i).clear_rebuild(true);
    EXPECT_THAT(lib.names(), IsEmpty());
}

TEST_F(rebuild_test, clearing_the_mark_writes_back_the_sector_then_the_cached_record_without_flags)
{
    const int i = mirror(0, false, 0x80);
    const ov::raid_info cached = chip(i).disks[0].raid_record;
    ASSERT_EQ(cached.flags, 0x80);
    // What is on the disk now differs from what the last scan read.
    const ov::raid_info now = record_for(2, 0, 1999984, chip(i).disks[1], newer_stamp, 0x80, true);
    put_record(i, 0, now);
    sector written_back{};
    lib.on_call = [&](const call& c) {
        // The read-back that follows the first write shows what that write stored.
        if (c.name == "ovGetRaidInfo" && lib.count("ovSetRaidInfo") == 1 && written_back == sector{})
            written_back = stored_record(i, 0);
    };
    chip(i).clear_rebuild(false);
    lib.on_call = nullptr;
    const std::string lba = std::to_string(record_lba(i, 0));
    EXPECT_THAT(describe(lib.calls()),
                ElementsAre("ovGetRaidInfo 0 " + lba, "ovSetRaidInfo 0 " + lba, "ovGetRaidInfo 0 " + lba,
                            "ovSetRaidInfo 0 " + lba, "ovGetRaidInfo 0 " + lba, "ovFlushHDDCache 0"));
    EXPECT_EQ(written_back, bytes_of(now)) << "the sector read is written back unchanged";

    ov::raid_info want = cached;
    std::memset(want.data() + 4, 0, 4);
    EXPECT_EQ(stored_record(i, 0), bytes_of(want));
    EXPECT_EQ(0, std::memcmp(chip(i).disks[0].raid_record.data(), want.data(), 512));
    EXPECT_TRUE(chip(i).disks[0].rebuild_flag) << "the cached mark is left to the caller";
}

TEST_F(rebuild_test, a_failed_read_is_not_written_back)
{
    const int i = mirror(1, false, 0x80);
    lib.fail("ovGetRaidInfo");
    chip(i).clear_rebuild(true);
    const std::string lba = std::to_string(record_lba(i, 1));
    EXPECT_THAT(describe(lib.calls()), ElementsAre("ovGetRaidInfo 1 " + lba, "ovSetRaidInfo 1 " + lba,
                                                   "ovGetRaidInfo 1 " + lba, "ovFlushHDDCache 1"));
    const sector r = stored_record(i, 1);
    EXPECT_EQ(r[2], 2);
    EXPECT_EQ(r[4], 0);
}

TEST_F(rebuild_test, clearing_the_mark_on_firewire_uses_the_firewire_calls)
{
    const int i = add_chip(disk_a(), disk_b(), true);
    put_record(i, 0, record_for(2, 0, 1999984, chip(i).disks[1], older_stamp, 0x80));
    chip(i).read_raid_info_disk(false);
    lib.clear_calls();
    chip(i).clear_rebuild(false);
    EXPECT_THAT(lib.names(), ElementsAre("ovGetRaidInfoFW", "ovSetRaidInfoFW", "ovGetRaidInfoFW", "ovSetRaidInfoFW",
                                         "ovGetRaidInfoFW", "ovFlushHDDCache"));
}

TEST_F(rebuild_test, after_a_rebuild_and_both_clears_the_records_are_the_rebuilt_ones_without_marks)
{
    const int i = mirror(1);
    ASSERT_TRUE(chip(i).rebuild(true));
    const sector written0 = stored_record(i, 0), written1 = stored_record(i, 1);

    // The bridge returns: a new chip object reads the records the rebuild wrote.
    const ov::ovdisk d0 = chip(i).disks[0], d1 = chip(i).disks[1];
    ov::j.chips.clear();
    const int k = add_chip(d0, d1);
    chip(k).read_raid_info();
    ASSERT_TRUE(chip(k).raid_configured);
    ASSERT_TRUE(chip(k).rebuilding);
    chip(k).clear_rebuild(false);
    chip(k).clear_rebuild(true);
    sector want0 = written0, want1 = written1;
    std::fill(want0.begin() + 4, want0.begin() + 8, 0);
    std::fill(want1.begin() + 4, want1.begin() + 8, 0);
    EXPECT_EQ(stored_record(k, 0), want0);
    EXPECT_EQ(stored_record(k, 1), want1);
}

}  // namespace
}  // namespace ovtest
