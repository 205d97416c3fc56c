// The 512-byte RAID record: its exact bytes, the stamp, the byte-order switch, and the
// bridge identity rules that decide which controller is which across rescans.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include "harness.h"
#include "library.h"
#include "raid.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes record_bytes(const ov::raid_info& r)
{
    return bytes(r.data(), r.data() + sizeof r);
}

bytes slice(const bytes& b, size_t from, size_t n)
{
    return bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n));
}

// Sources longer than the fields, so a copy that runs past the field shows.
struct partner_source {
    unsigned char serial[64];
    unsigned char model[64];
    unsigned char stamp[32];
    partner_source()
    {
        for (int i = 0; i < 64; ++i) {
            serial[i] = static_cast<unsigned char>(0xA0 + i % 20);
            model[i] = static_cast<unsigned char>(0x30 + i % 40);
        }
        std::memset(stamp, 0xEE, sizeof stamp);
        std::memcpy(stamp, "20110203090507\0\0", 16);
    }
};

class host_order_guard : public ::testing::Test {
protected:
    void TearDown() override { ov::override_architecture(-1); }
};

using RaidRecord = host_order_guard;

TEST_F(RaidRecord, HeaderBytesAreTheSameOnEveryHost)
{
    // The disk holds the capacity little-endian whatever the host order, so a set built
    // on one machine reads the same on another.
    partner_source src;
    const bytes expected = {'O', 'V', 0x02, 0x01, 0x80, 0x00, 0x00, 0x00,
                            0x89, 0x67, 0x45, 0x23, 0x01, 0x00, 0x00, 0x00};
    bytes first;
    for (int code : {0, 1, 2}) {
        ov::override_architecture(code);
        const auto r = record_bytes(
            ov::create_raid_struct(2, 1, 0x80, 0, 0x0123456789ULL, src.serial, src.model, false, src.stamp));
        EXPECT_EQ(slice(r, 0, 16), expected) << "host order " << code;
        if (first.empty())
            first = r;
        EXPECT_EQ(r, first) << "host order " << code;
    }
}

TEST_F(RaidRecord, TwentyFourBitValueIsLeastSignificantFirst)
{
    partner_source src;
    for (int code : {0, 1}) {
        ov::override_architecture(code);
        const auto r = record_bytes(ov::create_raid_struct(2, 1, 0x80, 0x12345678, 1, src.serial, src.model, false,
                                                           src.stamp));
        EXPECT_EQ(slice(r, 5, 3), (bytes{0x78, 0x56, 0x34})) << "host order " << code;
    }
}

TEST_F(RaidRecord, WholeSectorMatchesTheLayout)
{
    ov::override_architecture(0);
    partner_source src;
    const uint64_t capacity = (1ULL << 32) + 5;
    const auto got = record_bytes(
        ov::create_raid_struct(0x104, 0x100, 0x180, 0x12345678, capacity, src.serial, src.model, true, src.stamp));

    bytes want(512, 0);
    want[0] = 'O';
    want[1] = 'V';
    want[2] = 0x04;  // low byte of the mode
    want[3] = 0x00;  // low byte of the member
    want[4] = 0x80;  // low byte of the flags
    want[5] = 0x78;  // 24-bit value, least significant first, top byte dropped
    want[6] = 0x56;
    want[7] = 0x34;
    for (int i = 0; i < 8; ++i)
        want[8 + i] = static_cast<unsigned char>(capacity >> (8 * i));
    std::memcpy(&want[16], src.serial, 20);
    std::memcpy(&want[36], src.model, 40);
    std::memcpy(&want[480], src.stamp, 16);
    want[496] = 1;
    std::memcpy(&want[504], "Orvelan ", 8);
    EXPECT_EQ(got, want);
    EXPECT_EQ(slice(got, 480, 16), bytes({'2', '0', '1', '1', '0', '2', '0', '3', '0', '9', '0', '5', '0', '7', 0, 0}));
    // The accessors read back what the layout says.
    const auto r = ov::raid_info::of(got.data());
    EXPECT_TRUE(r.valid() && r.source());
    EXPECT_EQ(std::tuple(r.mode(), r.member(), r.value24(), r.capacity()), std::tuple(4u, 0u, 0x345678u, capacity));
    EXPECT_EQ(r.stamp_text(), "20110203090507");

    const auto small = record_bytes(ov::create_raid_struct(1, 0, 0, 0, 10, src.serial, src.model, false, src.stamp));
    EXPECT_EQ(small[496], 0);
    EXPECT_EQ(small[2], 1);
    EXPECT_EQ(slice(small, 5, 3), bytes(3, 0));
}

TEST(RebuildStatus, TwoFortyEightBitFieldsLeastSignificantFirst)
{
    const auto s = ov::rebuild_status::encode(0x0000BA9876543210ULL, 0x12345);
    EXPECT_EQ(bytes(s.data(), s.data() + 12), (bytes{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0x45, 0x23, 0x01, 0, 0, 0}));
    const auto back = ov::rebuild_status::decode(s.data());
    EXPECT_EQ(back.total(), 0x0000BA9876543210ULL);
    EXPECT_EQ(back.current(), 0x12345u);
    EXPECT_EQ(ov::rebuild_status::encode(1ULL << 48, 0).total(), 0u) << "bits above 48 are not kept";
}

TEST_F(RaidRecord, ZeroRecordAndSignature)
{
    const auto zero = record_bytes(ov::zero_record());
    EXPECT_EQ(zero, bytes(512, 0));
    EXPECT_FALSE(ov::has_signature(zero.data()));

    const unsigned char ov_sig[2] = {'O', 'V'}, swapped[2] = {'V', 'O'}, lower[2] = {'O', 'v'};
    EXPECT_TRUE(ov::has_signature(ov_sig));
    EXPECT_FALSE(ov::has_signature(swapped));
    EXPECT_FALSE(ov::has_signature(lower));
}

// Reading a record back: what the writer stored is what the reader finds, on every host.
class RecordReadBack : public ovtest::engine_fixture {
protected:
    static constexpr uint32_t service = 0x51;
    static constexpr uint64_t disk_size = 1000000;
    ov::ovchip chip;

    void SetUp() override
    {
        engine_fixture::SetUp();
        chip.service = service;
        chip.disks[0].present = true;
        chip.disks[0].capacity = disk_size;
    }

    void store(const ov::raid_info& r) { lib.set_sector(service, 0, disk_size - 15, ovtest::bytes_of(r)); }
};

TEST_F(RecordReadBack, CapacityAndFieldsSurviveOnEveryHost)
{
    partner_source src;
    const uint64_t capacity = (1ULL << 32) + 0x0123456789ULL;
    for (int code : {0, 1}) {
        ov::override_architecture(code);
        store(ov::create_raid_struct(2, 0, 0x80, 0, capacity, src.serial, src.model, true, src.stamp));
        chip.disks[0].rebuild_flag = false;
        chip.read_raid_info_disk(false);
        const ov::ovdisk& d = chip.disks[0];
        EXPECT_EQ(d.record_capacity, capacity) << "host order " << code;
        EXPECT_EQ(d.raid_mode, 2u);
        EXPECT_TRUE(d.rebuild_flag);
        EXPECT_EQ(0, std::memcmp(d.partner_serial, src.serial, 20));
        EXPECT_EQ(0, std::memcmp(d.partner_model, src.model, 40));
        EXPECT_EQ(0, std::memcmp(d.record_stamp, src.stamp, 16));
    }
}

TEST_F(RecordReadBack, WithoutTheSignatureThereIsNoRecord)
{
    partner_source src;
    auto r = ov::create_raid_struct(2, 0, 0x80, 0, 5000, src.serial, src.model, false, src.stamp);
    r.signature[1] = 'W';
    store(r);
    chip.disks[0].raid_mode = 2;
    chip.read_raid_info_disk(false);
    EXPECT_EQ(chip.disks[0].raid_mode, 0u);
    EXPECT_FALSE(chip.disks[0].rebuild_flag);
    EXPECT_EQ(chip.disks[0].record_capacity, 0u);
}

class TimeStamp : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        had_tz_ = tz != nullptr;
        if (tz)
            old_tz_ = tz;
    }
    void TearDown() override
    {
        if (had_tz_)
            setenv("TZ", old_tz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    static std::string format(std::time_t t, bool local)
    {
        std::tm tm{};
        if (local)
            localtime_r(&t, &tm);
        else
            gmtime_r(&t, &tm);
        char text[32];
        std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                      tm.tm_hour, tm.tm_min, tm.tm_sec);
        return text;
    }

private:
    bool had_tz_ = false;
    std::string old_tz_;
};

TEST_F(TimeStamp, FourteenDigitsOfLocalTimeAndANul)
{
    // A zone far from UTC, so a stamp taken in UTC cannot pass for local time.
    setenv("TZ", "XST-05:30", 1);
    tzset();
    unsigned char buffer[16];
    std::memset(buffer, 0xEE, sizeof buffer);
    const std::time_t before = std::time(nullptr);
    const int n = ov::GetTimeString(buffer);
    const std::time_t after = std::time(nullptr);

    EXPECT_EQ(n, 14);
    for (int i = 0; i < 14; ++i)
        EXPECT_TRUE(buffer[i] >= '0' && buffer[i] <= '9') << "position " << i;
    EXPECT_EQ(buffer[14], 0);
    EXPECT_EQ(buffer[15], 0xEE) << "only 15 bytes are written";

    const std::string got(reinterpret_cast<const char*>(buffer), 14);
    bool matched = false;
    for (std::time_t t = before; t <= after; ++t)
        matched = matched || got == format(t, true);
    EXPECT_TRUE(matched) << got << " is not local time " << format(before, true);
    EXPECT_NE(got, format(before, false));
}

TEST(StrEqual, ComparesExactlyNBytes)
{
    const unsigned char a[4] = {1, 2, 0x80, 4};
    const unsigned char b[4] = {1, 2, 0x7F, 4};
    const unsigned char c[4] = {1, 2, 0x80, 5};
    EXPECT_EQ(ov::str_equal(a, a, 4), 1);
    EXPECT_EQ(ov::str_equal(a, b, 4), 0);
    EXPECT_EQ(ov::str_equal(a, c, 4), 0);
    EXPECT_EQ(ov::str_equal(a, c, 3), 1);  // the difference lies past n
    EXPECT_EQ(ov::str_equal(a, b, 2), 1);
    EXPECT_EQ(ov::str_equal(a, b, 0), 1);
    EXPECT_EQ(ov::str_equal(a, b, -7), 1);
}

TEST(CompareStamps, LaterStampIsGreaterOverAllSixteenBytes)
{
    const unsigned char early[16] = "20110203090507";
    const unsigned char late[16] = "20110203090508";
    const unsigned char next_year[16] = "20120101000000";
    EXPECT_LT(ov::compare_stamps(early, late), 0);
    EXPECT_GT(ov::compare_stamps(late, early), 0);
    EXPECT_GT(ov::compare_stamps(next_year, late), 0);
    EXPECT_EQ(ov::compare_stamps(early, early), 0);

    // The last byte counts too, and bytes compare unsigned.
    unsigned char x[16], y[16];
    std::memcpy(x, early, 16);
    std::memcpy(y, early, 16);
    y[15] = 1;
    EXPECT_LT(ov::compare_stamps(x, y), 0);
    x[0] = 0x80;
    y[0] = 0x7F;
    EXPECT_GT(ov::compare_stamps(x, y), 0);
}

// A stamp that must sort after the one a record carries: one second on where the calendar
// carries it, the digits plus one where it does not, none where nothing sorts after.
TEST_F(TimeStamp, StampAfterAlwaysSortsLaterOrThereIsNone)
{
    setenv("TZ", "UTC", 1);
    tzset();
    const struct {
        const char* previous;
        const char* after;  // nullptr: none
    } rows[] = {
        {"20261209015959", "20261209020000"}, {"20261231235959", "20270101000000"},
        {"99991231235959", "99991231235960"}, {"20300400120000", "20300400120001"},
        {"99999999999999", nullptr},          {"2026120901595x", nullptr},
        {"", nullptr},
    };
    for (const auto& r : rows) {
        unsigned char previous[16] = {}, out[16];
        std::memcpy(previous, r.previous, std::strlen(r.previous));
        previous[15] = 0x80;  // a byte beyond the digits does not leak into the stamp
        std::memset(out, 0xEE, sizeof out);
        const bool ok = ov::stamp_after(out, previous);
        EXPECT_EQ(ok, r.after != nullptr) << r.previous;
        EXPECT_EQ(out[14], 0) << r.previous;
        EXPECT_EQ(out[15], 0) << r.previous;
        if (!ok)
            continue;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), 14), r.after) << r.previous;
        EXPECT_GT(ov::compare_stamps(out, previous), 0) << r.previous;
        // Now sorts after any of these only when it is later.
        unsigned char later[16];
        ASSERT_TRUE(ov::later_stamp(later, previous));
        EXPECT_GT(ov::compare_stamps(later, previous), 0) << r.previous;
    }
}

TEST(PpcReverse, ReversesInPlace)
{
    // Only the first n bytes turn; n of 0 or 1 leaves everything.
    for (const auto& [n, want] : {std::pair{8, bytes{8, 7, 6, 5, 4, 3, 2, 1}}, {6, bytes{6, 5, 4, 3, 2, 1, 7, 8}},
                                  {5, bytes{5, 4, 3, 2, 1, 6, 7, 8}}, {1, bytes{1, 2, 3, 4, 5, 6, 7, 8}},
                                  {0, bytes{1, 2, 3, 4, 5, 6, 7, 8}}}) {
        bytes b = {1, 2, 3, 4, 5, 6, 7, 8};
        ov::ppcReverse(b.data(), n);
        EXPECT_EQ(b, want) << n;
    }
}

TEST_F(RaidRecord, ArchitectureOfThisHostAndItsOverride)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    const int expected = 1;
#elif defined(__x86_64__) || defined(__i386__)
    const int expected = 0;
#else
    const int expected = 2;
#endif
    EXPECT_EQ(ov::getArchitecture(), expected);
    ov::override_architecture(1);
    EXPECT_EQ(ov::getArchitecture(), 1);
    ov::override_architecture(-1);
    EXPECT_EQ(ov::getArchitecture(), expected);
}

using ovtest::firewire_identity;
using ovtest::usb_identity;

TEST(ControllerIdentity, UsbIsVendorProductAndFullLocation)
{
    const auto a = usb_identity(0x14100000, "SN-A", 0x1234, 0x5678);
    EXPECT_TRUE(a == usb_identity(0x14100000, "another serial", 0x1234, 0x5678));
    EXPECT_FALSE(a != usb_identity(0x14100000, "", 0x1234, 0x5678));
    EXPECT_FALSE(a == usb_identity(0x14200000, "SN-A", 0x1234, 0x5678));  // moved to another port
    EXPECT_FALSE(a == usb_identity(0x14100000, "SN-A", 0x1235, 0x5678));
    EXPECT_FALSE(a == usb_identity(0x14100000, "SN-A", 0x1234, 0x5679));
    // Locations differing only above bit 31 are different places.
    EXPECT_FALSE(usb_identity(-1, "", 1, 2) == usb_identity(0xFFFFFFFFLL, "", 1, 2));

    auto b = a;
    b.order_key = 99;
    b.guid = 42;  // the GUID is no part of a USB identity
    EXPECT_TRUE(a == b);
}

TEST(ControllerIdentity, FireWireIsTheGuidAndNeverEqualsUsb)
{
    auto f = firewire_identity(0x0030E0F0AABBCCDDULL);
    auto g = firewire_identity(0x0030E0F0AABBCCDDULL);
    g.vendor_id = 7;
    g.product_id = 8;
    g.location_id = 9;
    g.usb_serial = "x";
    EXPECT_TRUE(f == g);
    EXPECT_FALSE(f == firewire_identity(0x0030E0F0AABBCCDEULL));

    // Same numbers everywhere, different bus.
    ov::controller_t u = f;
    u.is_firewire = false;
    EXPECT_FALSE(f == u);
    EXPECT_FALSE(u == f);
    EXPECT_FALSE(ov::controller_t{} == firewire_identity(0));
    EXPECT_TRUE(ov::controller_t{} == ov::controller_t{});
}

TEST(ControllerIdentity, ClearKeepsVendorAndLocation)
{
    auto c = usb_identity(-5, "SN", 0x1234, 0x5678);
    c.is_firewire = true;
    c.guid = 77;
    c.clear();
    EXPECT_FALSE(c.is_firewire);
    EXPECT_EQ(c.product_id, 0u);
    EXPECT_EQ(c.usb_serial, "");
    EXPECT_EQ(c.guid, 0u);
    EXPECT_EQ(c.order_key, 0u);
    EXPECT_EQ(c.vendor_id, 0x1234u);
    EXPECT_EQ(c.location_id, -5);
}

}  // namespace
