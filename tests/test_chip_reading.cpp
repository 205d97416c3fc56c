// Reading each disk's record and judging the pair: which calls are made, and what the
// chip and its disks say afterwards for every kind of pair.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"

namespace ovtest {
namespace {

using ::testing::ElementsAre;

// What the rest of the program reads after a record read, in one place.
struct judged {
    bool configured = false;
    uint32_t mode = 0;
    uint64_t capacity = 0;
    bool rebuilding = false;
    bool polling = false;
    bool mismatch0 = false, mismatch1 = false;
    bool degrade0 = false, degrade1 = false;
    bool pair_present = false;
    uint32_t role0 = 0, role1 = 0;
};

class chip_reading : public engine_fixture {
protected:
    // Stores the given records (nullptr: the disk holds none) and reads the chip.
    int read_pair(const ov::ovdisk& d0, const ov::ovdisk& d1, const ov::raid_info* r0, const ov::raid_info* r1)
    {
        const int index = add_chip(d0, d1);
        // Blank disks read zeros, whatever an earlier chip with this handle left there.
        if (d0.present)
            put_record(index, 0, r0 ? *r0 : ov::zero_record());
        if (d1.present)
            put_record(index, 1, r1 ? *r1 : ov::zero_record());
        chip(index).read_raid_info();
        return index;
    }

    void expect_state(int index, const judged& want)
    {
        const ov::ovchip& c = chip(index);
        EXPECT_EQ(c.raid_configured, want.configured);
        if (want.configured) {
            EXPECT_EQ(c.raid_mode, want.mode);
            EXPECT_EQ(c.raid_capacity, want.capacity);
        }
        EXPECT_EQ(bool(c.rebuilding), want.rebuilding);
        EXPECT_EQ(bool(c.polling), want.polling);
        EXPECT_EQ(c.disks[0].partner_mismatch, want.mismatch0);
        EXPECT_EQ(c.disks[1].partner_mismatch, want.mismatch1);
        EXPECT_EQ(c.disks[0].degrade_needed, want.degrade0);
        EXPECT_EQ(c.disks[1].degrade_needed, want.degrade1);
        EXPECT_EQ(c.raid1_pair_present, want.pair_present);
        EXPECT_EQ(c.disks[0].raid1_role, want.role0);
        EXPECT_EQ(c.disks[1].raid1_role, want.role1);
    }
};

TEST_F(chip_reading, healthy_sets_take_their_capacity_from_disk_0)
{
    for (int mode : {1, 2, 4}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        next_case();
        const ov::ovdisk a = disk_a(), b = disk_b();
        // Disk 1's record states another capacity; disk 0's decides.
        const ov::raid_info r0 = record_for(mode, 0, 3999968, b);
        const ov::raid_info r1 = record_for(mode, 1, 1234567, a);
        const int i = read_pair(a, b, &r0, &r1);
        expect_state(i, {.configured = true, .mode = uint32_t(mode), .capacity = 3999968, .pair_present = mode == 2});
        EXPECT_EQ(chip(i).disks[0].raid_mode, static_cast<uint32_t>(mode));
        EXPECT_EQ(chip(i).disks[1].record_capacity, 1234567u);
    }
}

TEST_F(chip_reading, record_fields_are_kept_with_the_disk)
{
    const ov::ovdisk a = disk_a(), b = disk_b();
    const ov::raid_info r0 = record_for(2, 0, 0x0123456789ULL, b, "20110203090507", 0x80, true);
    const ov::raid_info r1 = record_for(2, 1, 0x0123456789ULL, a, "20110203090507");
    const int i = read_pair(a, b, &r0, &r1);
    const ov::ovdisk& d = chip(i).disks[0];
    EXPECT_EQ(d.record_capacity, 0x0123456789ULL);
    EXPECT_TRUE(d.rebuild_flag);
    EXPECT_FALSE(chip(i).disks[1].rebuild_flag);
    EXPECT_EQ(0, std::memcmp(d.partner_serial, b.serial_raw, 20));
    EXPECT_EQ(0, std::memcmp(d.partner_model, b.model_raw, 40));
    EXPECT_EQ(0, std::memcmp(d.record_stamp, stamp16("20110203090507").bytes, 16));
    // The whole sector is kept: its over-2-TB byte is copied by later rewrites.
    EXPECT_EQ(0, std::memcmp(d.raid_record.data(), r0.data(), 512));
}

TEST_F(chip_reading, one_mark_means_a_rebuild_whatever_the_stamps)
{
    const ov::ovdisk a = disk_a(), b = disk_b();
    const ov::raid_info r0 = record_for(2, 0, 1999984, b, older_stamp);
    const ov::raid_info r1 = record_for(2, 1, 1999984, a, newer_stamp, 0x80);
    const int i = read_pair(a, b, &r0, &r1);
    expect_state(i, {.configured = true, .mode = 2, .capacity = 1999984, .rebuilding = true, .polling = true,
                     .pair_present = true});
}

TEST_F(chip_reading, mirror_halves_out_of_step_get_roles_by_stamp)
{
    struct pair_case {
        const char* stamp0;
        const char* stamp1;
        int flags;  // applied to both records
        uint32_t role0, role1;
    };
    for (const pair_case& pc : {pair_case{newer_stamp, older_stamp, 0, 1, 2}, pair_case{older_stamp, newer_stamp, 0, 2, 1},
                                pair_case{newer_stamp, older_stamp, 0x80, 1, 2},
                                pair_case{older_stamp, newer_stamp, 0x80, 2, 1}}) {
        SCOPED_TRACE(std::string(pc.stamp0) + " / " + pc.stamp1 + " flags " + std::to_string(pc.flags));
        next_case();
        const ov::ovdisk a = disk_a(), b = disk_b();
        const ov::raid_info r0 = record_for(2, 0, 1999984, b, pc.stamp0, pc.flags);
        const ov::raid_info r1 = record_for(2, 1, 1999984, a, pc.stamp1, pc.flags);
        const int i = read_pair(a, b, &r0, &r1);
        expect_state(i, {.pair_present = true, .role0 = pc.role0, .role1 = pc.role1});
    }
}

TEST_F(chip_reading, stamps_compare_as_unsigned_bytes)
{
    // Equal digits; the stamps differ in a byte past them, where a signed comparison
    // would take 0x80 for the smaller.
    const ov::ovdisk a = disk_a(), b = disk_b();
    ov::raid_info r0 = record_for(2, 0, 1999984, b);
    ov::raid_info r1 = record_for(2, 1, 1999984, a);
    r0.stamp[15] = 0x80;
    r1.stamp[15] = 0x01;
    const int i = read_pair(a, b, &r0, &r1);
    EXPECT_FALSE(chip(i).raid_configured);
    EXPECT_EQ(chip(i).disks[0].raid1_role, 1u);
    EXPECT_EQ(chip(i).disks[1].raid1_role, 2u);
}

TEST_F(chip_reading, a_stray_mark_on_a_stripe_or_span_is_no_rebuild)
{
    for (int mode : {1, 4}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        next_case();
        const ov::ovdisk a = disk_a(), b = disk_b();
        const ov::raid_info r0 = record_for(mode, 0, 3999968, b, older_stamp, 0x80);
        const ov::raid_info r1 = record_for(mode, 1, 3999968, a, older_stamp);
        const int i = read_pair(a, b, &r0, &r1);
        expect_state(i, {.configured = true, .mode = uint32_t(mode), .capacity = 3999968});
    }
}

TEST_F(chip_reading, stripe_whose_partner_model_differs_is_broken)
{
    const ov::ovdisk a = disk_a(), b = disk_b(), c = disk_c();
    // Disk 0 names disk 1's serial but another model; disk 1's own record matches disk 0.
    const ov::raid_info r0 =
        ov::create_raid_struct(1, 0, 0, 0, 3999968, b.serial_raw, c.model_raw, false, stamp16(older_stamp).bytes);
    const ov::raid_info r1 = record_for(1, 1, 3999968, a);
    expect_state(read_pair(a, b, &r0, &r1), {.mismatch0 = true});
}

TEST_F(chip_reading, stripe_whose_partner_serial_differs_is_broken)
{
    const ov::ovdisk a = disk_a(), b = disk_b(), c = disk_c();
    const ov::raid_info r0 = record_for(4, 0, 3934532, b);
    const ov::raid_info r1 =
        ov::create_raid_struct(4, 1, 0, 0, 3934532, c.serial_raw, a.model_raw, false, stamp16(older_stamp).bytes);
    expect_state(read_pair(a, b, &r0, &r1), {.mismatch1 = true});
}

TEST_F(chip_reading, stripe_member_missing_blank_or_of_another_mode)
{
    const ov::ovdisk a = disk_a(), b = disk_b();
    const ov::raid_info r0 = record_for(1, 0, 3999968, b), span1 = record_for(4, 1, 3934532, a);
    struct lone_case {
        const char* what;
        ov::ovdisk d1;
        const ov::raid_info* r1;
        judged want;
    };
    for (const lone_case& lc :
         {lone_case{"port 1 empty", empty_port, nullptr, {.mismatch0 = true}},
          lone_case{"port 1 blank", b, nullptr, {.mismatch0 = true}},
          lone_case{"port 1 a span member", b, &span1, {.mismatch0 = true, .mismatch1 = true}}}) {
        SCOPED_TRACE(lc.what);
        next_case();
        expect_state(read_pair(a, lc.d1, &r0, lc.r1), lc.want);
    }
}

TEST_F(chip_reading, lone_mirror_member_needs_a_degrade)
{
    const ov::ovdisk a = disk_a(), b = disk_b();
    const ov::raid_info r0 = record_for(2, 0, 1999984, b), r1 = record_for(2, 1, 1999984, a),
                        stray1 = record_for(3, 1, 1999984, a);
    struct lone_case {
        const char* what;
        ov::ovdisk d0, d1;
        const ov::raid_info *r0, *r1;
        judged want;
    };
    for (const lone_case& lc :
         {lone_case{"port 1 empty", a, empty_port, &r0, nullptr, {.degrade0 = true}},
          lone_case{"port 0 empty", empty_port, b, nullptr, &r1, {.degrade1 = true}},
          lone_case{"blank disk on port 1", a, b, &r0, nullptr, {.degrade0 = true, .pair_present = true}},
          lone_case{"mode-3 record on port 1 belongs to no set", a, b, &r0, &stray1,
                    {.degrade0 = true, .pair_present = true}}}) {
        SCOPED_TRACE(lc.what);
        next_case();
        expect_state(read_pair(lc.d0, lc.d1, lc.r0, lc.r1), lc.want);
    }
}

TEST_F(chip_reading, mirror_next_to_a_span_member_is_not_degraded)
{
    const ov::ovdisk a = disk_a(), b = disk_b();
    const ov::raid_info r0 = record_for(2, 0, 1999984, b);
    const ov::raid_info r1 = record_for(4, 1, 3934532, a);
    // The span member's partner is of another mode.
    expect_state(read_pair(a, b, &r0, &r1), {.mismatch1 = true, .pair_present = true});
}

TEST_F(chip_reading, pairs_outside_the_set_modes_are_not_configured)
{
    for (int mode : {3, 5, 0}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        next_case();
        const ov::ovdisk a = disk_a(), b = disk_b();
        const ov::raid_info r0 = record_for(mode, 0, 1999984, b);
        const ov::raid_info r1 = record_for(mode, 1, 1999984, a);
        const int i = read_pair(a, b, &r0, &r1);
        EXPECT_FALSE(chip(i).raid_configured);
        EXPECT_EQ(chip(i).disks[0].raid_mode, static_cast<uint32_t>(mode));
        EXPECT_FALSE(chip(i).rebuilding);
    }
}

TEST_F(chip_reading, a_sector_without_the_signature_is_no_record)
{
    const ov::ovdisk a = disk_a(), b = disk_b();
    const ov::raid_info r0 = record_for(1, 0, 3999968, b);
    ov::raid_info r1 = record_for(1, 1, 3999968, a);
    r1.signature[1] = 'W';
    const int i = read_pair(a, b, &r0, &r1);
    EXPECT_EQ(chip(i).disks[1].raid_mode, 0u);
    EXPECT_EQ(chip(i).disks[1].record_capacity, 0u);
    expect_state(i, {.mismatch0 = true});
}

TEST_F(chip_reading, no_disk_or_one_disk_is_not_configured)
{
    const int none = add_chip(empty_port, empty_port);
    chip(none).read_raid_info();
    EXPECT_FALSE(chip(none).raid_configured);
    EXPECT_EQ(lib.calls().size(), 0u);

    const ov::ovdisk a = disk_a(), b = disk_b();
    const ov::raid_info r0 = record_for(1, 0, 3999968, b);
    const int one = read_pair(a, empty_port, &r0, nullptr);
    EXPECT_FALSE(chip(one).raid_configured);
}

TEST_F(chip_reading, a_failed_read_drops_the_mode_but_keeps_the_other_fields)
{
    const ov::ovdisk a = disk_a(), b = disk_b();
    const ov::raid_info r0 = record_for(2, 0, 1999984, b, older_stamp, 0, true);
    const ov::raid_info r1 = record_for(2, 1, 1999984, a, older_stamp);
    const int i = read_pair(a, b, &r0, &r1);
    ASSERT_TRUE(chip(i).raid_configured);

    lib.fail("ovGetRaidInfo");
    chip(i).read_raid_info();
    const ov::ovdisk& d = chip(i).disks[0];
    EXPECT_EQ(d.raid_mode, 0u);
    EXPECT_EQ(d.record_capacity, 1999984u);
    EXPECT_EQ(0, std::memcmp(d.partner_serial, b.serial_raw, 20));
    EXPECT_EQ(0, std::memcmp(d.partner_model, b.model_raw, 40));
    EXPECT_EQ(0, std::memcmp(d.record_stamp, stamp16(older_stamp).bytes, 16));
    // The sector kept is the zero-filled buffer the failed call left.
    EXPECT_TRUE(all_zero(d.raid_record.data(), 512));
    EXPECT_FALSE(chip(i).raid_configured);
    EXPECT_EQ(chip(i).disks[1].raid_mode, 2u);
}

TEST_F(chip_reading, reading_never_clears_a_mark)
{
    const ov::ovdisk a = disk_a(), b = disk_b();
    const ov::raid_info flagged = record_for(2, 0, 1999984, b, older_stamp, 0x80);
    const ov::raid_info r1 = record_for(2, 1, 1999984, a, older_stamp);
    const int i = read_pair(a, b, &flagged, &r1);
    ASSERT_TRUE(chip(i).disks[0].rebuild_flag);
    put_record(i, 0, record_for(2, 0, 1999984, b, older_stamp));
    chip(i).read_raid_info_disk(false);
    EXPECT_TRUE(chip(i).disks[0].rebuild_flag);
}

TEST_F(chip_reading, an_absent_disk_is_not_read_and_keeps_its_fields)
{
    const ov::ovdisk a = disk_a();
    ov::ovdisk gone = empty_port;
    gone.raid_mode = 2;
    gone.record_capacity = 777;
    const int i = add_chip(a, gone);
    chip(i).read_raid_info_disk(true);
    EXPECT_EQ(lib.calls().size(), 0u);
    EXPECT_EQ(chip(i).disks[1].raid_mode, 2u);
    EXPECT_EQ(chip(i).disks[1].record_capacity, 777u);
}

TEST_F(chip_reading, records_are_read_at_capacity_minus_15_under_the_mutex)
{
    const ov::ovdisk a = disk_a(1000), b = make_disk("LBA28 DISK", "L28", 5000, "lba28");
    const int i = add_chip(a, b);
    std::vector<bool> held;
    lib.on_call = [&](const call&) { held.push_back(registry_mutex_held()); };
    chip(i).read_raid_info();
    lib.on_call = nullptr;
    const auto calls = lib.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "ovGetRaidInfo");
    EXPECT_EQ(calls[0].service, chip(i).service);
    EXPECT_EQ(calls[0].port, 0);
    EXPECT_EQ(calls[0].lba, 985u);
    EXPECT_EQ(calls[0].flag, 1);
    EXPECT_EQ(calls[1].port, 1);
    EXPECT_EQ(calls[1].lba, 4985u);
    EXPECT_EQ(calls[1].flag, 0);
    EXPECT_THAT(held, ElementsAre(true, true));
    // Not held between calls or afterwards.
    EXPECT_FALSE(registry_mutex_held());
}

TEST_F(chip_reading, a_large_disk_is_read_with_a_64_bit_address)
{
    const uint64_t big = (1ULL << 33) + 7;
    const ov::ovdisk a = disk_a(big), b = disk_b(big);
    const ov::raid_info r0 = record_for(2, 0, big - 16, b, older_stamp, 0, true);
    const ov::raid_info r1 = record_for(2, 1, big - 16, a, older_stamp, 0, true);
    const int i = read_pair(a, b, &r0, &r1);
    EXPECT_EQ(lib.calls().at(0).lba, big - 15);
    EXPECT_TRUE(chip(i).raid_configured);
    EXPECT_EQ(chip(i).raid_capacity, big - 16);
}

struct entry_case {
    bool firewire;
    const char* addressing;
    const char* read_call;
    const char* write_call;
    int flag;  // -1: the FireWire calls carry none
};

class entry_points : public chip_reading, public ::testing::WithParamInterface<entry_case> {};

TEST_P(entry_points, follow_the_bus_and_the_addressing_mode)
{
    const entry_case& p = GetParam();
    const ov::ovdisk d = make_disk("ENTRY DISK", "E1", 1 << 20, p.addressing);
    const int i = add_chip(d, d, p.firewire);
    chip(i).read_raid_info_disk(true);
    ASSERT_TRUE(chip(i).execute_set_raid_info(ov::zero_record(), 12345, true));
    const auto calls = lib.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].name, p.read_call);
    EXPECT_EQ(calls[1].name, p.write_call);
    EXPECT_EQ(calls[2].name, p.read_call);
    for (const call& c : calls) {
        EXPECT_EQ(c.port, 1);
        EXPECT_EQ(c.flag, p.flag) << c.name;
    }
    EXPECT_EQ(calls[0].lba, chip(i).disks[1].capacity - 15);
    EXPECT_EQ(calls[1].lba, 12345u);
}

INSTANTIATE_TEST_SUITE_P(
    all, entry_points,
    ::testing::Values(entry_case{false, "lba48", "ovGetRaidInfo", "ovSetRaidInfo", 1},
                      entry_case{false, "lba28", "ovGetRaidInfo", "ovSetRaidInfo", 0},
                      entry_case{false, "chs", "ovGetRaidInfo", "ovSetRaidInfo", 0},
                      entry_case{true, "lba48", "ovGetRaidInfoFW", "ovSetRaidInfoFW", -1},
                      entry_case{true, "lba28", "ovGetRaidInfo", "ovSetRaidInfo", 0},
                      entry_case{true, "chs", "ovGetRaidInfo", "ovSetRaidInfo", 0}));

TEST_F(chip_reading, the_raid_name_is_three_entries_below_the_bridge)
{
    const int i = add_chip(disk_a(), disk_b());
    chip(i).service = reg.add_usb_bridge(usb_vendor, usb_product, 0x14100000, "SN1", "Orvelan Mirror Media");
    EXPECT_EQ(chip(i).get_raid_name(), "Orvelan Mirror Media");
}

}  // namespace
}  // namespace ovtest
