// Configuration writes: the verified sector write, creating and deleting sets, clearing
// one disk and the warm boot, checked call by call against the scripted library, with
// every write failing in turn.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"

namespace ovtest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Each;
using ::testing::IsEmpty;

class config_writes : public engine_fixture {
protected:
    int two_disks(uint64_t c0 = 1000, uint64_t c1 = 2000) { return add_chip(disk_a(c0), disk_b(c1)); }

    void fill(int index, int port, uint64_t lba, unsigned char value)
    {
        sector s;
        s.fill(value);
        lib.set_sector(chip(index).service, port, lba, s);
    }

    bool zeroed(int index, int port, uint64_t lba) { return all_zero(stored(index, port, lba).data(), 512); }
};

// A thread queued on the registry mutex while the engine is inside a library call. It
// notes how many library calls had been made when it finally got the mutex, which
// shows whether the engine let go of the lock inside a group of calls.
class lock_contender {
public:
    void queue(const scripted_library& lib)
    {
        if (thread_.joinable())
            return;
        thread_ = std::thread([this, &lib] {
            std::lock_guard<std::mutex> guard(ov::j.mutex);
            acquired_after_ = lib.calls().size();
        });
        // Let it reach the mutex and block there.
        std::this_thread::sleep_for(30ms);
    }
    size_t acquired_after()
    {
        if (thread_.joinable())
            thread_.join();
        return acquired_after_;
    }
    ~lock_contender() { acquired_after(); }

private:
    std::thread thread_;
    size_t acquired_after_ = 0;
};

// ---- the verified write ------------------------------------------------------------------

TEST_F(config_writes, a_sector_write_and_its_read_back_share_one_hold_of_the_mutex)
{
    const uint64_t big = (1ULL << 34) + 3;
    const int i = add_chip(disk_a(big), disk_b(big));
    const ov::raid_info r = record_for(2, 1, big - 16, chip(i).disks[0]);
    lock_contender contender;
    std::vector<bool> held;
    lib.on_call = [&](const call& c) {
        held.push_back(registry_mutex_held());
        if (c.name == "ovSetRaidInfo")
            contender.queue(lib);
    };
    EXPECT_TRUE(chip(i).execute_set_raid_info(r, static_cast<int64_t>(big - 15), true));
    // The queued thread got the mutex only after the read-back had been made.
    EXPECT_GE(contender.acquired_after(), 2u);
    lib.on_call = nullptr;
    EXPECT_THAT(held, ElementsAre(true, true));
    EXPECT_THAT(describe(lib.calls()),
                ElementsAre("ovSetRaidInfo 1 " + std::to_string(big - 15), "ovGetRaidInfo 1 " + std::to_string(big - 15)));
    for (const call& c : lib.calls())
        EXPECT_EQ(c.flag, 1);
    EXPECT_EQ(stored(i, 1, big - 15), bytes_of(r));
}

TEST_F(config_writes, a_failed_or_unverified_write_reports_false)
{
    const int i = two_disks();
    const ov::raid_info r = record_for(1, 0, 1968, chip(i).disks[1]);
    {
        SCOPED_TRACE("write fails: nothing is read back");
        lib.fail("ovSetRaidInfo");
        EXPECT_FALSE(chip(i).execute_set_raid_info(r, 985, false));
        EXPECT_THAT(lib.names(), ElementsAre("ovSetRaidInfo"));
    }
    {
        SCOPED_TRACE("read-back fails");
        lib.clear_calls();
        lib.fail("ovGetRaidInfo");
        EXPECT_FALSE(chip(i).execute_set_raid_info(r, 985, false));
        EXPECT_THAT(lib.names(), ElementsAre("ovSetRaidInfo", "ovGetRaidInfo"));
    }
    {
        SCOPED_TRACE("read-back differs in one byte");
        lib.clear_calls();
        lib.corrupt_writes("ovSetRaidInfo");
        EXPECT_FALSE(chip(i).execute_set_raid_info(r, 985, false));
        EXPECT_THAT(lib.names(), ElementsAre("ovSetRaidInfo", "ovGetRaidInfo"));
    }
    lib.clear_calls();
    EXPECT_TRUE(chip(i).execute_set_raid_info(r, 985, false));
    EXPECT_FALSE(registry_mutex_held());
}

// ---- create ------------------------------------------------------------------------------

TEST_F(config_writes, create_quiesces_zeroes_sector_0_writes_both_records_flushes_and_boots)
{
    const int i = two_disks(1000, 2000);
    fill(i, 0, 0, 0xAB);
    fill(i, 1, 0, 0xCD);
    std::vector<std::string> requests_at_first_call;
    std::vector<bool> held;
    lock_contender contender;
    lib.on_call = [&](const call& c) {
        if (held.empty())
            requests_at_first_call = window.requests();
        held.push_back(registry_mutex_held());
        if (c.name == "ovFlushHDDCache" && c.port == 0)
            contender.queue(lib);
    };
    ASSERT_TRUE(chip(i).create_raid(2));
    const size_t contender_after = contender.acquired_after();
    lib.on_call = nullptr;

    EXPECT_THAT(requests_at_first_call, ElementsAre("stopprogressbar"));
    // Both disks are identified again and every sector to be written is read twice (what a
    // failure puts back) before the first write.
    EXPECT_THAT(describe(lib.calls()),
                ElementsAre("ovGetDiskIdentify 0", "ovGetDiskIdentify 1", "ovGetRaidInfo 0 0", "ovGetRaidInfo 0 0",
                            "ovGetRaidInfo 1 0", "ovGetRaidInfo 1 0", "ovGetRaidInfo 0 985", "ovGetRaidInfo 0 985",
                            "ovGetRaidInfo 1 1985", "ovGetRaidInfo 1 1985", "ovSetRaidInfo 0 0", "ovGetRaidInfo 0 0",
                            "ovSetRaidInfo 1 0", "ovGetRaidInfo 1 0", "ovSetRaidInfo 0 985", "ovGetRaidInfo 0 985",
                            "ovSetRaidInfo 1 1985", "ovGetRaidInfo 1 1985", "ovFlushHDDCache 0", "ovFlushHDDCache 1",
                            "ovWarmBoot"));
    EXPECT_THAT(held, Each(true));
    // Both flushes were made before anyone else could take the mutex.
    EXPECT_GE(contender_after, 10u);
    for (const call& c : lib.calls())
        EXPECT_EQ(c.service, chip(i).service);

    EXPECT_TRUE(zeroed(i, 0, 0));
    EXPECT_TRUE(zeroed(i, 1, 0));

    const sector r0 = stored(i, 0, 985), r1 = stored(i, 1, 1985);
    const ov::ovdisk &a = chip(i).disks[0], &b = chip(i).disks[1];
    for (int port = 0; port < 2; ++port) {
        SCOPED_TRACE("record of port " + std::to_string(port));
        const sector& r = port == 0 ? r0 : r1;
        const ov::ovdisk& partner = port == 0 ? b : a;
        EXPECT_EQ(r[0], 'O');
        EXPECT_EQ(r[1], 'V');
        EXPECT_EQ(r[2], 2);
        EXPECT_EQ(r[3], port);
        EXPECT_TRUE(all_zero(r.data() + 4, 4));  // flags and the 24 reserved bits
        EXPECT_EQ(ov::le::load64(r.data() + 8), 984u);
        EXPECT_EQ(0, std::memcmp(r.data() + 16, partner.serial_raw, 20));
        EXPECT_EQ(0, std::memcmp(r.data() + 36, partner.model_raw, 40));
        EXPECT_TRUE(all_zero(r.data() + 76, 404));
        for (int k = 480; k < 494; ++k)
            EXPECT_TRUE(r[k] >= '0' && r[k] <= '9') << "stamp byte " << k;
        EXPECT_EQ(r[494], 0);
        EXPECT_EQ(r[495], 0);
        EXPECT_EQ(r[496], 0);
        EXPECT_TRUE(all_zero(r.data() + 497, 7));
        EXPECT_EQ(0, std::memcmp(r.data() + 504, "Orvelan ", 8));
    }
    EXPECT_EQ(0, std::memcmp(r0.data() + 480, r1.data() + 480, 16)) << "one stamp for both records";

    EXPECT_THAT(window.requests(), ElementsAre("stopprogressbar", "stopprogressbar"));
    EXPECT_TRUE(ov::j.warm_boot_pending);
    EXPECT_FALSE(chip(i).connection_open);
    EXPECT_FALSE(chip(i).polling);
    EXPECT_FALSE(chip(i).raid1_timer_run);
}

struct size_case {
    int mode;
    uint64_t c0, c1;
    uint64_t size;
    int over_2tb;
};

class set_sizes : public config_writes, public ::testing::WithParamInterface<size_case> {};

TEST_P(set_sizes, records_carry_the_set_size_and_the_2tb_byte)
{
    const size_case& p = GetParam();
    const int i = two_disks(p.c0, p.c1);
    ASSERT_TRUE(chip(i).create_raid(p.mode));
    for (int port = 0; port < 2; ++port) {
        SCOPED_TRACE("port " + std::to_string(port));
        const sector r = stored(i, port, (port == 0 ? p.c0 : p.c1) - 15);
        EXPECT_EQ(r[2], p.mode);
        EXPECT_EQ(ov::le::load64(r.data() + 8), p.size);
        EXPECT_EQ(r[496], p.over_2tb);
    }
}

constexpr uint64_t g31 = 1ULL << 31;
constexpr uint64_t g32 = 1ULL << 32;

INSTANTIATE_TEST_SUITE_P(all, set_sizes,
                         ::testing::Values(size_case{1, 1000, 2000, 1968, 0}, size_case{1, 2000, 1000, 1968, 0},
                                           size_case{2, 1000, 2000, 984, 0}, size_case{2, 2000, 1000, 984, 0},
                                           size_case{4, 1000, 70000, 5432, 0},
                                           size_case{1, g31, g31, g32 - 32, 0},
                                           size_case{4, g31, g31, g32 - 65568, 0},
                                           size_case{1, g31 + 16, g31 + 16, g32, 1},
                                           size_case{2, g32 + 16, g32 + 20, g32, 1},
                                           size_case{2, g32 + 15, g32 + 20, g32 - 1, 0},
                                           size_case{4, g31, g31 + 65568, g32, 1}));

struct wrap_case {
    int mode;
    uint64_t c0, c1;
};

class wrapping_sizes : public config_writes, public ::testing::WithParamInterface<wrap_case> {};

TEST_P(wrapping_sizes, are_refused_before_anything_is_written)
{
    const wrap_case& p = GetParam();
    const int i = two_disks(p.c0, p.c1);
    EXPECT_FALSE(chip(i).create_raid(p.mode));
    EXPECT_THAT(lib.names(), IsEmpty());
    EXPECT_FALSE(ov::j.warm_boot_pending);
}

INSTANTIATE_TEST_SUITE_P(all, wrapping_sizes,
                         ::testing::Values(wrap_case{1, 15, 2000}, wrap_case{1, 2000, 15}, wrap_case{2, 15, 2000},
                                           wrap_case{2, 2000, 0}, wrap_case{4, 30000, 35567},
                                           wrap_case{4, 0, 65567}, wrap_case{4, 10, 70000}));

TEST_F(config_writes, modes_that_build_no_set_delete_instead)
{
    // What a delete of this chip does, call by call.
    const int reference = two_disks();
    chip(reference).raid_mode = 1;
    ASSERT_TRUE(chip(reference).clear_raid());
    const std::vector<std::string> delete_calls = describe(lib.calls());
    ASSERT_EQ(from_first_write(lib.calls()).size(), 2u * 64 * 2 + 2 * 2 + 3);

    for (int mode : {3, 0, 5}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        next_case();
        const int i = two_disks();
        chip(i).raid_mode = 1;
        put_record(i, 0, record_for(1, 0, 1968, chip(i).disks[1]));
        EXPECT_TRUE(chip(i).create_raid(mode));
        EXPECT_THAT(describe(lib.calls()), ElementsAreArray(delete_calls));
        EXPECT_TRUE(zeroed(i, 0, 985));
    }
}

// Every sector write of each operation fails in turn, three ways: the operation reports
// failure, never restarts the bridge, and every sector it touched holds its old bytes.
TEST_F(config_writes, a_failing_write_anywhere_is_undone_and_reported_with_its_bay)
{
    struct operation {
        const char* name;
        int writes;  // sector writes it makes
        std::function<bool(ov::ovchip&)> run;
    };
    const std::vector<operation> operations = {
        {"create", 4, [](ov::ovchip& c) { return c.create_raid(1); }},
        {"delete", 130, [](ov::ovchip& c) { return c.clear_raid(); }},
        {"clear disk 2", 65, [](ov::ovchip& c) { return c.clear_disk(true); }},
    };
    struct injection {
        const char* what;
        std::function<void(scripted_library&, int)> arm;
    };
    const std::vector<injection> injections = {
        {"write fails", [](scripted_library& l, int n) { l.fail("ovSetRaidInfo", n); }},
        {"read-back differs", [](scripted_library& l, int n) { l.corrupt_writes("ovSetRaidInfo", n); }},
    };
    for (const operation& op : operations)
        for (const injection& inj : injections)
            for (int n : {1, 2, op.writes / 2, op.writes}) {
                SCOPED_TRACE(std::string(op.name) + ": " + inj.what + " at write " + std::to_string(n));
                next_case();
                scripted_library fresh;
                ov::install_library(&fresh);
                const int i = add_chip(disk_a(1000), disk_b(2000));
                identify_in(fresh, i);
                chip(i).raid_mode = 1;
                sector before[2][65];
                for (int port = 0; port < 2; ++port)
                    for (int s = 0; s < 65; ++s) {
                        before[port][s].fill(static_cast<unsigned char>(0x10 * port + s));
                        const uint64_t lba = s < 64 ? static_cast<uint64_t>(s) : record_lba(i, port);
                        fresh.set_sector(chip(i).service, port, lba, before[port][s]);
                    }
                inj.arm(fresh, n);
                const bool ok = op.run(chip(i));
                ov::install_library(&lib);
                EXPECT_FALSE(ok);
                EXPECT_EQ(fresh.count("ovWarmBoot"), 0u);
                EXPECT_FALSE(ov::j.warm_boot_pending);
                const ov::write_report& r = chip(i).last_write;
                EXPECT_EQ(r.fault, ov::write_fault::write_failed);
                EXPECT_FALSE(r.restore_failed);
                ASSERT_TRUE(r.bay == 1 || r.bay == 2);
                EXPECT_EQ(r.serial, chip(i).disks[r.bay - 1].serial);
                for (int port = 0; port < 2; ++port)
                    for (int s = 0; s < 65; ++s) {
                        sector now;
                        const uint64_t lba = s < 64 ? static_cast<uint64_t>(s) : record_lba(i, port);
                        fresh.get_sector(chip(i).service, port, lba, now);
                        EXPECT_EQ(now, before[port][s]) << "port " << port << " sector " << lba;
                    }
            }
}

TEST_F(config_writes, nothing_is_written_to_a_disk_that_changed_or_cannot_be_read)
{
    struct fault {
        const char* what;
        std::function<void(scripted_library&, uint32_t)> arm;
        ov::write_fault expected;
    };
    const std::vector<fault> faults = {
        {"another disk in bay 2",
         [](scripted_library& l, uint32_t s) { l.identify[{s, 1}] = make_identify("Other", "X1", 2000); },
         ov::write_fault::disk_changed},
        {"bay 2 silent", [](scripted_library& l, uint32_t s) { l.identify_results[{s, 1}] = -1; },
         ov::write_fault::disk_unknown},
        {"a sector read fails", [](scripted_library& l, uint32_t) { l.fail("ovGetRaidInfo", 3); },
         ov::write_fault::disk_unknown},
    };
    const std::vector<std::pair<const char*, std::function<bool(ov::ovchip&)>>> operations = {
        {"create", [](ov::ovchip& c) { return c.create_raid(2); }},
        {"delete", [](ov::ovchip& c) { return c.clear_raid(); }},
        {"clear disk 2", [](ov::ovchip& c) { return c.clear_disk(true); }},
        {"rebuild", [](ov::ovchip& c) { return c.rebuild(false); }},
    };
    for (const fault& f : faults)
        for (const auto& [name, run] : operations) {
            SCOPED_TRACE(std::string(name) + ", " + f.what);
            next_case();
            lib.identify.clear();
            lib.identify_results.clear();
            const int i = two_disks(1000, 2000);
            chip(i).disks[0].raid_mode = 2;
            f.arm(lib, chip(i).service);
            EXPECT_FALSE(run(chip(i)));
            EXPECT_EQ(chip(i).last_write.fault, f.expected);
            EXPECT_EQ(chip(i).last_write.bay, 2);
            EXPECT_EQ(lib.count("ovSetRaidInfo") + lib.count("ovFlushHDDCache") + lib.count("ovWarmBoot"), 0u);
            EXPECT_FALSE(ov::failure_text(chip(i).last_write).empty());
        }
    lib.identify.clear();
    lib.identify_results.clear();
}

TEST_F(config_writes, flush_and_restart_failures_are_failures)
{
    // A flush that fails undoes the records; a restart that fails leaves them for the
    // next restart, and says so.
    for (const bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "restart fails" : "flush fails");
        next_case();
        scripted_library fresh;
        ov::install_library(&fresh);
        const int i = add_chip(disk_a(1000), disk_b(2000));
        identify_in(fresh, i);
        if (restart)
            fresh.warm_boot_result = -1;
        else
            fresh.fail("ovFlushHDDCache", 2);
        EXPECT_FALSE(chip(i).create_raid(2));
        ov::install_library(&lib);
        sector r1;
        fresh.get_sector(chip(i).service, 1, record_lba(i, 1), r1);
        if (restart) {
            EXPECT_EQ(chip(i).last_write.fault, ov::write_fault::restart_failed);
            EXPECT_EQ(r1[2], 2) << "the new set waits for the next restart";
        } else {
            EXPECT_EQ(chip(i).last_write.fault, ov::write_fault::flush_failed);
            EXPECT_EQ(chip(i).last_write.bay, 2);
            EXPECT_TRUE(all_zero(r1.data(), 512));
            EXPECT_EQ(fresh.count("ovWarmBoot"), 0u);
        }
    }
}

// ---- delete ------------------------------------------------------------------------------

TEST_F(config_writes, deleting_a_mirror_writes_only_the_two_records)
{
    const int i = two_disks(1000, 2000);
    chip(i).raid_mode = 2;
    put_record(i, 0, record_for(2, 0, 984, chip(i).disks[1]));
    put_record(i, 1, record_for(2, 1, 984, chip(i).disks[0]));
    fill(i, 0, 0, 0xEE);
    std::vector<std::string> requests_at_first_call;
    lib.on_call = [&](const call&) {
        if (requests_at_first_call.empty())
            requests_at_first_call = window.requests();
    };
    EXPECT_TRUE(chip(i).clear_raid());
    lib.on_call = nullptr;
    EXPECT_THAT(requests_at_first_call, ElementsAre("stopprogressbar"));
    EXPECT_THAT(describe(from_first_write(lib.calls())),
                ElementsAre("ovSetRaidInfo 0 985", "ovGetRaidInfo 0 985", "ovSetRaidInfo 1 1985",
                            "ovGetRaidInfo 1 1985", "ovFlushHDDCache 0", "ovFlushHDDCache 1", "ovWarmBoot"));
    EXPECT_TRUE(zeroed(i, 0, 985));
    EXPECT_TRUE(zeroed(i, 1, 1985));
    EXPECT_FALSE(zeroed(i, 0, 0)) << "a mirror keeps its data";
}

TEST_F(config_writes, deleting_other_sets_wipes_sectors_0_to_63_disk_0_first)
{
    for (uint32_t mode : {0u, 1u, 4u}) {
        SCOPED_TRACE("chip mode " + std::to_string(mode));
        next_case();
        const int i = two_disks(1000, 2000);
        chip(i).raid_mode = mode;
        for (uint64_t s = 0; s < 64; ++s) {
            fill(i, 0, s, 0x11);
            fill(i, 1, s, 0x22);
        }
        fill(i, 0, 64, 0x33);
        EXPECT_TRUE(chip(i).clear_raid());
        // The records go first: once they are gone no set is left to half-wipe.
        std::vector<std::string> want = {"ovSetRaidInfo 0 985", "ovGetRaidInfo 0 985", "ovSetRaidInfo 1 1985",
                                         "ovGetRaidInfo 1 1985"};
        for (int s = 0; s < 64; ++s)
            for (int port = 0; port < 2; ++port) {
                want.push_back("ovSetRaidInfo " + std::to_string(port) + " " + std::to_string(s));
                want.push_back("ovGetRaidInfo " + std::to_string(port) + " " + std::to_string(s));
            }
        for (const char* tail : {"ovFlushHDDCache 0", "ovFlushHDDCache 1", "ovWarmBoot"})
            want.push_back(tail);
        EXPECT_THAT(describe(from_first_write(lib.calls())), ElementsAreArray(want));
        for (uint64_t s = 0; s < 64; ++s) {
            EXPECT_TRUE(zeroed(i, 0, s)) << s;
            EXPECT_TRUE(zeroed(i, 1, s)) << s;
        }
        EXPECT_FALSE(zeroed(i, 0, 64));
    }
}

// ---- clear one disk ----------------------------------------------------------------------

TEST_F(config_writes, clearing_a_disk_touches_only_that_port)
{
    for (int port : {0, 1}) {
        SCOPED_TRACE("port " + std::to_string(port));
        next_case();
        const int i = two_disks(1000, 2000);
        put_record(i, 1 - port, record_for(1, 1 - port, 1968, chip(i).disks[port]));
        std::vector<std::string> requests_at_first_call;
        lib.on_call = [&](const call&) {
            if (requests_at_first_call.empty())
                requests_at_first_call = window.requests();
        };
        EXPECT_TRUE(chip(i).clear_disk(port == 1));
        lib.on_call = nullptr;
        EXPECT_THAT(requests_at_first_call, ElementsAre("stopprogressbar"));
        const std::string p = std::to_string(port);
        // The record before the wipe: a member is never wiped while its set is still valid.
        const std::string lba = std::to_string(record_lba(i, port));
        std::vector<std::string> want = {"ovSetRaidInfo " + p + " " + lba, "ovGetRaidInfo " + p + " " + lba};
        for (int s = 0; s < 64; ++s) {
            want.push_back("ovSetRaidInfo " + p + " " + std::to_string(s));
            want.push_back("ovGetRaidInfo " + p + " " + std::to_string(s));
        }
        for (const std::string& tail : {"ovFlushHDDCache " + p, std::string("ovWarmBoot")})
            want.push_back(tail);
        EXPECT_THAT(describe(from_first_write(lib.calls())), ElementsAreArray(want));
        for (const call& c : lib.calls())
            EXPECT_EQ(c.port == 1 - port && c.name != "ovGetRegister", false) << describe(c);
        EXPECT_FALSE(zeroed(i, 1 - port, record_lba(i, 1 - port))) << "the other disk keeps its record";
    }
}

// ---- quiescing ---------------------------------------------------------------------------

TEST_F(config_writes, every_write_operation_stops_running_monitors_before_its_first_command)
{
    const std::vector<std::pair<const char*, std::function<bool(ov::ovchip&)>>> operations = {
        {"create", [](ov::ovchip& c) { return c.create_raid(2); }},
        {"delete", [](ov::ovchip& c) { return c.clear_raid(); }},
        {"clear disk", [](ov::ovchip& c) { return c.clear_disk(false); }},
        {"warm boot", [](ov::ovchip& c) { return c.warm_boot(); }},
    };
    for (const auto& [name, operation] : operations) {
        SCOPED_TRACE(name);
        next_case();
        scripted_library fresh;
        const int i = two_disks(1000, 2000);
        identify_in(fresh, i);
        fresh.set_register(chip(i).service, ov::reg_port0_presence, 1);
        fresh.set_register(chip(i).service, ov::reg_port1_presence, 1);
        fresh.rebuild_statuses.push_back(scripted_library::status(1000, 10));
        chip(i).raid_mode = 2;
        chip(i).disks[0].raid_mode = 2;
        chip(i).disks[1].raid_mode = 2;
        std::mutex m;
        bool seen_first = false, alive_at_first = true;
        fresh.on_call = [&](const call& c) {
            if (c.name != "ovSetRaidInfo" && c.name != "ovWarmBoot")
                return;
            std::lock_guard<std::mutex> g(m);
            if (!seen_first) {
                seen_first = true;
                alive_at_first = chip(i).poller_alive || chip(i).raid1_timer_alive;
            }
        };
        ov::install_library(&fresh);
        chip(i).start_raid1_timer();
        chip(i).polling = true;
        chip(i).start_polling();
        // Both monitors are at work (the operation below ends them whatever happens).
        EXPECT_TRUE(eventually(
            [&] { return fresh.count("ovGetRegister") >= 2 && fresh.count("ovGetRebuildStatus") >= 1; }));

        operation(chip(i));
        fresh.on_call = nullptr;
        ov::install_library(&lib);
        EXPECT_TRUE(seen_first);
        EXPECT_FALSE(alive_at_first);
        EXPECT_FALSE(chip(i).polling);
        EXPECT_FALSE(chip(i).raid1_timer_run);
        // No poll came after the first write.
        const auto calls = fresh.calls();
        bool writing = false;
        for (const call& c : calls) {
            writing = writing || c.name == "ovSetRaidInfo" || c.name == "ovWarmBoot";
            if (writing) {
                EXPECT_TRUE(c.name != "ovGetRegister" && c.name != "ovGetRebuildStatus") << c.name;
            }
        }
    }
}

// ---- warm boot ---------------------------------------------------------------------------

TEST_F(config_writes, warm_boot_marks_the_boot_pending_before_restarting_under_the_mutex)
{
    const int i = two_disks();
    bool pending = false, closed = false, held = false;
    lib.on_call = [&](const call& c) {
        if (c.name != "ovWarmBoot")
            return;
        pending = ov::j.warm_boot_pending;
        closed = !chip(i).connection_open;
        held = registry_mutex_held();
    };
    EXPECT_TRUE(chip(i).warm_boot());
    lib.on_call = nullptr;
    EXPECT_TRUE(pending);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(held);
    EXPECT_TRUE(ov::j.warm_boot_pending);
    EXPECT_THAT(lib.names(), ElementsAre("ovWarmBoot"));
    EXPECT_EQ(lib.calls()[0].service, chip(i).service);
    EXPECT_THAT(window.requests(), ElementsAre("stopprogressbar"));
}

TEST_F(config_writes, a_failed_warm_boot_clears_the_pending_flag_and_asks_for_a_rescan)
{
    const int i = two_disks();
    lib.warm_boot_result = -5;
    bool held_at_refresh = true;
    window.on_request = [&](const std::string& r) {
        if (r == "refresh")
            held_at_refresh = registry_mutex_held();
    };
    EXPECT_FALSE(chip(i).warm_boot());
    window.on_request = nullptr;
    EXPECT_FALSE(ov::j.warm_boot_pending);
    EXPECT_THAT(window.requests(), ElementsAre("stopprogressbar", "refresh"));
    EXPECT_FALSE(held_at_refresh);
}

TEST_F(config_writes, the_registry_boots_the_selected_controller)
{
    add_chip(disk_a(), disk_b(), false, false);
    const int second = add_chip(disk_a(), disk_b(), true, true);
    EXPECT_TRUE(ov::j.warm_boot());
    ASSERT_THAT(lib.names(), ElementsAre("ovWarmBoot"));
    EXPECT_EQ(lib.calls()[0].service, chip(second).service);
    EXPECT_TRUE(chip(0).connection_open);

    lib.clear_calls();
    ov::j.current = ov::controller_t{};
    ov::j.current.location_id = 99;
    EXPECT_FALSE(ov::j.warm_boot());
    EXPECT_THAT(lib.names(), IsEmpty());
}

}  // namespace
}  // namespace ovtest
