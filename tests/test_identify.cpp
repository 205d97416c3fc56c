// Disk identity from IDENTIFY data, and the per-chip reading of both ports. The
// decoded capacity places the RAID record, so a wrong size writes into user data.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "harness.h"
#include "little_endian.h"
#include "ovdisk.h"

namespace {

using ovtest::make_identify;
using ovtest::sector;
namespace id = ov::identify;

sector with_words(sector s, std::initializer_list<std::pair<int, uint64_t>> words, int count = 1)
{
    auto block = ov::identify_data::of(s.data());
    for (const auto& [word, value] : words)
        block.set_words(word, count, value);
    return block.bytes;
}

// A block with no capability bits: the geometry product decides.
sector geometry_block(uint16_t cylinders, uint16_t heads, uint16_t sectors)
{
    return with_words(make_identify("GEOMETRY DISK", "G1", 0, "chs"),
                      {{id::current_cylinders, cylinders}, {id::current_heads, heads}, {id::current_sectors, sectors}});
}

ov::ovdisk decoded(const sector& block)
{
    ov::ovdisk d;
    d.initialize(block.data());
    return d;
}

struct size_case {
    const char* what;
    sector block;
    uint64_t sectors;
    uint32_t addressing;
};

void expect_sizes(const std::vector<size_case>& cases)
{
    for (const auto& c : cases) {
        const auto d = decoded(c.block);
        EXPECT_EQ(d.capacity, c.sectors) << c.what;
        EXPECT_EQ(d.addressing_mode, c.addressing) << c.what;
    }
}

constexpr uint64_t three_tb = 5860533168ULL;
constexpr auto lba48 = ov::addressing_lba48, lba28 = ov::addressing_lba28, chs = ov::addressing_chs;

// ---- decoding ------------------------------------------------------------------------

TEST(IdentifyCapacity, FortyEightBitCountWins)
{
    expect_sizes({{"2 TB", make_identify("OVD-1000", "S1", 1953525168ULL), 1953525168ULL, lba48},
                  {"all four words, low word first",
                   with_words(make_identify("OVD-X", "S2", 1), {{id::lba48_count, 0x8001000200030004ULL}}, 4),
                   0x8001000200030004ULL, lba48}});
}

TEST(IdentifyCapacity, LargeDiskWithoutProtectedAreaGetsItsFullSize)
{
    // 3 TB: the 28-bit count saturates, only the 48-bit count is right.
    expect_sizes({{"no HPA", make_identify("OVD-3000", "S3", three_tb, "lba48", false), three_tb, lba48},
                  {"HPA", make_identify("OVD-3000", "S3", three_tb, "lba48", true), three_tb, lba48}});
    uint64_t lba = 0;
    ASSERT_TRUE(decoded(make_identify("OVD-3000", "S3", three_tb)).record_lba(lba));
    EXPECT_EQ(lba, three_tb - 15);
}

TEST(IdentifyCapacity, ProtectedAreaBitIsNotFortyEightBit)
{
    // Word 85 bit 10 set, word 86 bit 10 clear, a 48-bit count present anyway.
    const sector s = with_words(make_identify("OVD-HPA", "S4", three_tb, "lba28", true), {{id::lba48_count, three_tb}}, 4);
    expect_sizes({{"HPA", s, 0x0FFFFFFFULL, lba28}});
}

TEST(IdentifyCapacity, ZeroFortyEightBitCountFallsBack)
{
    // 48-bit enabled, count left zero.
    const std::pair<int, uint64_t> enabled{id::cmdset_enabled2, id::bit_lba48};
    expect_sizes({{"lba28", with_words(make_identify("OVD-Z", "S5", 1000000, "lba28"), {enabled}), 1000000, lba28},
                  {"chs", with_words(geometry_block(1000, 16, 63), {enabled}), 1000u * 16 * 63, chs}});
}

TEST(IdentifyCapacity, TwentyEightBitCountIsUnsigned)
{
    const sector s = make_identify("OVD-28", "S6", 1, "lba28");
    expect_sizes({{"top bit", with_words(s, {{id::lba28_count, 0x80000001ULL}}, 2), 0x80000001ULL, lba28},
                  {"all bits", with_words(s, {{id::lba28_count, 0xFFFFFFFFULL}}, 2), 0xFFFFFFFFULL, lba28}});
}

TEST(IdentifyCapacity, GeometryIsAnUnsigned64BitProduct)
{
    expect_sizes({{"legacy limit", geometry_block(16383, 16, 63), 16514064u, chs},
                  {"largest", geometry_block(65535, 65535, 65535), 65535ULL * 65535ULL * 65535ULL, chs},
                  {"above 2^31", geometry_block(40000, 255, 255), 40000ULL * 255 * 255, chs},
                  {"no cylinders", geometry_block(0, 16, 63), 0, chs}});
    uint64_t lba = 0;
    EXPECT_FALSE(decoded(geometry_block(0, 16, 63)).record_lba(lba));
}

// The builder and the decoder agree around the 28-bit and 2 TB limits; the words sit at
// the byte offsets every drive uses.
TEST(IdentifyCapacity, BuilderAndDecoderAgreeAroundTheLimits)
{
    for (uint64_t n : {uint64_t(id::lba28_limit) - 1, uint64_t(id::lba28_limit), uint64_t(id::lba28_limit) + 1,
                       ov::two_tb_sectors - 1, ov::two_tb_sectors, ov::two_tb_sectors + 1, three_tb}) {
        SCOPED_TRACE(n);
        const sector b48 = make_identify("R", "R", n, "lba48"), b28 = make_identify("R", "R", n, "lba28");
        expect_sizes({{"lba48", b48, n, lba48}, {"lba28", b28, std::min<uint64_t>(n, id::lba28_limit), lba28}});
        EXPECT_EQ(ov::le::load64(b48.data() + 200), n) << "words 100-103";
        EXPECT_EQ(ov::le::load32(b48.data() + 120), std::min<uint64_t>(n, id::lba28_limit)) << "words 60-61";
        EXPECT_EQ(b48[173] & 0x04, 0x04) << "word 86 bit 10";
        EXPECT_EQ(b28[173] & 0x04, 0) << "word 86 bit 10";
        EXPECT_EQ(b28[99] & 0x02, 0x02) << "word 49 bit 9";
        EXPECT_TRUE(ov::identify_data::of(b48.data()).checksum_ok());
    }
}

class ForcedHostOrder : public ::testing::Test {
protected:
    void TearDown() override { ov::override_architecture(-1); }
};

TEST_F(ForcedHostOrder, IdentifyWordsAreLittleEndianOnEveryHost)
{
    ov::override_architecture(1);
    expect_sizes({{"lba48", make_identify("OVD-BE", "S7", three_tb), three_tb, lba48},
                  {"lba28", make_identify("OVD-BE", "S7", 123456789, "lba28"), 123456789u, lba28},
                  {"chs", geometry_block(1000, 16, 63), 1008000u, chs}});
}

TEST(IdentifyText, SwappedPaddedTextsAreUnswappedAndTrimmed)
{
    const sector s = make_identify("OVD-3000 Deluxe", "  Z1F0ABCD", 1000);
    const auto d = decoded(s);
    EXPECT_EQ(d.model, "OVD-3000 Deluxe");
    EXPECT_EQ(d.serial, "Z1F0ABCD");
    // The raw bytes are what a partner record names: exactly as received.
    EXPECT_EQ(0, std::memcmp(d.model_raw, s.data() + 54, 40));
    EXPECT_EQ(0, std::memcmp(d.serial_raw, s.data() + 20, 20));
    EXPECT_EQ(d.model_raw[0], 'V');
    EXPECT_EQ(d.model_raw[1], 'O');

    // An odd length puts the last letter beside its padding space.
    EXPECT_EQ(decoded(make_identify("ABC", "12345", 1000)).model, "ABC");
    EXPECT_EQ(decoded(make_identify("ABC", "12345", 1000)).serial, "12345");

    // NUL padding is no white space: it stays in the text.
    sector nul = s;
    std::memset(nul.data() + 54, 0, 40);
    nul[54] = 'B';
    nul[55] = 'A';
    const auto n = decoded(nul);
    EXPECT_EQ(n.model.size(), 40u);
    EXPECT_STREQ(n.model.c_str(), "AB");
}

TEST(IdentifyText, DecodingLeavesPresenceAlone)
{
    ov::ovdisk d;
    EXPECT_EQ(d.addressing_mode, ov::addressing_lba48);
    EXPECT_FALSE(d.present);
    d.initialize(make_identify("OVD", "S", 1000).data());
    EXPECT_FALSE(d.present);
    d.present = true;
    d.initialize(make_identify("OVD", "S", 1000, "lba28").data());
    EXPECT_TRUE(d.present);
    EXPECT_EQ(d.addressing_mode, ov::addressing_lba28);
}

TEST(IdentifyText, UnscrambleSwapsEachPair)
{
    const auto swapped = [](std::string s) {
        ov::ovdisk::unscramble(s);
        return s;
    };
    EXPECT_EQ(swapped("abcd"), "badc");
    EXPECT_EQ(swapped("abcde"), "badce");
    EXPECT_EQ(swapped("a"), "a");
    EXPECT_EQ(swapped(""), "");
}

TEST(IdentifyText, DisplayString)
{
    ov::ovdisk d;
    d.model = "OVD-3000";
    EXPECT_EQ(d.get_display_string(true, true), "M1: OVD-3000");
    EXPECT_EQ(d.get_display_string(false, false), "P0: OVD-3000");
    EXPECT_EQ(d.get_display_string(true, false), "P1: OVD-3000");
    EXPECT_EQ(d.get_display_string(false, true), "M0: OVD-3000");
}

TEST(RecordAddress, FifteenthSectorFromTheEnd)
{
    ov::ovdisk d;
    for (const auto& [capacity, fits, want] : {std::tuple{14ULL, false, 0ULL}, std::tuple{0ULL, false, 0ULL},
                                               std::tuple{15ULL, true, 0ULL}, std::tuple{1000ULL, true, 985ULL}}) {
        uint64_t lba = 77;
        d.capacity = capacity;
        EXPECT_EQ(d.record_lba(lba), fits) << capacity;
        EXPECT_EQ(lba, fits ? want : 77u) << capacity;
    }
}

// ---- reading a chip's disks ------------------------------------------------------------

class DiskReading : public ovtest::engine_fixture {
protected:
    static constexpr uint32_t service = 0x4242;
    ov::ovchip chip;

    void SetUp() override
    {
        engine_fixture::SetUp();
        chip.service = service;
    }

    // One scripted identity per port of a service.
    void give_disks(uint32_t on, const sector& port0, const sector& port1)
    {
        lib.identify[{on, 0}] = port0;
        lib.identify[{on, 1}] = port1;
    }
};

TEST_F(DiskReading, RegistersThenBothPortsInOrder)
{
    give_disks(service, make_identify("OVD-A", "SA", 1000000), make_identify("OVD-B", "SB", 2000000, "lba28"));
    EXPECT_TRUE(chip.retrievediskinformation());

    const auto calls = lib.calls();
    ASSERT_EQ(lib.names(), (std::vector<std::string>{"ovGetRegister", "ovGetRegister", "ovGetDiskIdentify",
                                                     "ovGetDiskIdentify"}));
    EXPECT_EQ(calls[0].address, 0x7095u);
    EXPECT_EQ(calls[0].flag, 4);  // register reads ask for 4 bytes
    EXPECT_EQ(calls[1].address, 0x709Du);
    EXPECT_EQ(calls[1].flag, 4);
    EXPECT_EQ(calls[2].port, 0);
    EXPECT_EQ(calls[3].port, 1);
    for (const auto& c : calls)
        EXPECT_EQ(c.service, service);

    EXPECT_TRUE(chip.disks[0].present);
    EXPECT_TRUE(chip.disks[1].present);
    EXPECT_EQ(chip.disks[0].model, "OVD-A");
    EXPECT_EQ(chip.disks[1].serial, "SB");
    EXPECT_EQ(chip.disks[0].capacity, 1000000u);
    EXPECT_EQ(chip.disks[1].addressing_mode, ov::addressing_lba28);
}

TEST_F(DiskReading, RegisterReadsAndTheirPauseFormOneLockedStretch)
{
    give_disks(service, make_identify("OVD-A", "SA", 1000), make_identify("OVD-B", "SB", 1000));

    struct pause_seen {
        uint64_t real_ms;
        size_t calls_before;
        bool held;
    };
    std::mutex seen_mutex;
    std::vector<pause_seen> pauses;
    ov::set_waiter([&](uint64_t real_ms) {
        const pause_seen p{real_ms, lib.calls().size(), ovtest::registry_mutex_held()};
        std::lock_guard<std::mutex> lock(seen_mutex);
        pauses.push_back(p);
        return false;  // the clock still sleeps
    });

    // A second thread asks for the mutex while the first register is being read: it may
    // have it only once both registers are read.
    std::atomic<int> registers_when_locked{-1};
    std::vector<bool> held_in_call;
    std::thread rival;
    lib.on_call = [&](const ovtest::call& c) {
        held_in_call.push_back(ovtest::registry_mutex_held());
        if (c.name == "ovGetRegister" && c.address == ov::reg_port0_presence && !rival.joinable())
            rival = std::thread([&] {
                std::lock_guard<std::mutex> lock(ov::j.mutex);
                registers_when_locked = static_cast<int>(lib.count("ovGetRegister"));
            });
    };

    chip.retrievediskinformation();
    ASSERT_TRUE(rival.joinable());
    rival.join();
    ov::set_waiter(nullptr);

    EXPECT_EQ(registers_when_locked.load(), 2);
    EXPECT_EQ(held_in_call, std::vector<bool>(4, true)) << "every library call is made under the mutex";
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_EQ(pauses[0].calls_before, 1u) << "the pause lies between the two register reads";
    EXPECT_TRUE(pauses[0].held) << "the mutex stays held through the pause";
    const uint64_t two_seconds = static_cast<uint64_t>(2000.0 * 1000.0 / ov::time_scale());
    EXPECT_EQ(pauses[0].real_ms, (two_seconds + 999) / 1000);
}

TEST_F(DiskReading, BadSignatureIsNoDisk)
{
    sector bad = make_identify("OVD-BAD", "SX", 1000);
    bad[510] = 0x5A;
    give_disks(service, bad, make_identify("OVD-B", "SB", 1000));
    chip.retrievediskinformation();

    EXPECT_FALSE(chip.disks[0].present);
    EXPECT_EQ(chip.disks[0].model, "");
    EXPECT_EQ(chip.disks[0].capacity, 0u);
    EXPECT_EQ(chip.disks[0].addressing_mode, ov::addressing_lba48);
    EXPECT_TRUE(chip.disks[1].present);
    EXPECT_EQ(chip.disks[1].model, "OVD-B");
}

TEST_F(DiskReading, PositiveResultIsPresentButNotDecoded)
{
    give_disks(service, make_identify("OVD-A", "SA", 1000, "lba28"), make_identify("OVD-B", "SB", 2000));
    lib.identify_results[{service, 0}] = 1;
    lib.identify_results[{service, 1}] = -1;
    chip.retrievediskinformation();

    EXPECT_TRUE(chip.disks[0].present);
    EXPECT_EQ(chip.disks[0].model, "");
    EXPECT_EQ(chip.disks[0].serial, "");
    EXPECT_EQ(chip.disks[0].capacity, 0u);
    EXPECT_EQ(chip.disks[0].addressing_mode, ov::addressing_lba48);

    EXPECT_FALSE(chip.disks[1].present);
    EXPECT_EQ(chip.disks[1].model, "");
    EXPECT_EQ(chip.disks[1].capacity, 0u);
}

TEST_F(DiskReading, EmptyPortsStayEmpty)
{
    chip.retrievediskinformation();  // no block scripted: both calls fail
    EXPECT_FALSE(chip.disks[0].present);
    EXPECT_FALSE(chip.disks[1].present);
    EXPECT_EQ(lib.count("ovGetDiskIdentify"), 2u);
}

TEST_F(DiskReading, PresenceRegistersAreKept)
{
    lib.set_register(service, ov::reg_port0_presence, 0x01);
    lib.set_register(service, ov::reg_port1_presence, 0x00);
    chip.retrievediskinformation();
    // A disk the register sees but that does not answer IDENTIFY.
    EXPECT_TRUE(chip.disks[0].register_present);
    EXPECT_FALSE(chip.disks[0].present);
    EXPECT_FALSE(chip.disks[1].register_present);

    ov::ovchip other;
    other.service = service;
    lib.set_register(service, ov::reg_port1_presence, 0x80);
    lib.register_results[{service, ov::reg_port0_presence}] = -2;
    other.retrievediskinformation();
    EXPECT_FALSE(other.disks[0].register_present);
    EXPECT_TRUE(other.disks[1].register_present);
}

TEST_F(DiskReading, LargeDiskRecordIsReadAtItsEnd)
{
    give_disks(service, make_identify("OVD-3000", "S3", 5860533168ULL), make_identify("OVD-B", "SB", 2000, "lba28"));
    chip.retrievediskinformation();
    lib.clear_calls();
    chip.read_raid_info_disk(false);
    chip.read_raid_info_disk(true);

    const auto calls = lib.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "ovGetRaidInfo");
    EXPECT_EQ(calls[0].lba, 5860533168ULL - 15);
    EXPECT_EQ(calls[0].flag, 1);
    EXPECT_EQ(calls[1].lba, 2000u - 15);
    EXPECT_EQ(calls[1].flag, 0);
}

TEST_F(DiskReading, DiskTooSmallForARecordIsNotRead)
{
    give_disks(service, make_identify("OVD-TINY", "T0", 14, "lba28"), make_identify("OVD-15", "T1", 15, "lba28"));
    chip.retrievediskinformation();
    ASSERT_TRUE(chip.disks[0].present);
    ASSERT_TRUE(chip.disks[1].present);
    chip.disks[0].raid_mode = ov::mode_raid1;  // left from an earlier reading
    lib.clear_calls();

    chip.read_raid_info_disk(false);
    EXPECT_TRUE(lib.calls().empty());
    EXPECT_EQ(chip.disks[0].raid_mode, 0u);

    chip.read_raid_info_disk(true);  // the smallest disk that has a record address
    ASSERT_EQ(lib.calls().size(), 1u);
    EXPECT_EQ(lib.calls()[0].lba, 0u);
}

TEST_F(DiskReading, EveryChipIsReadInListOrder)
{
    ov::j.add_controller(ov::controller_t{}, 7);
    ov::controller_t second;
    second.location_id = 1;
    ov::j.add_controller(second, 3);
    give_disks(3, make_identify("ON-3", "S", 1000), make_identify("ON-3B", "S", 1000));
    give_disks(7, make_identify("ON-7", "S", 1000), make_identify("ON-7B", "S", 1000));
    EXPECT_TRUE(ov::j.updatediskinformation());

    const auto calls = lib.calls();
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(calls[0].service, 7u);
    EXPECT_EQ(calls[7].service, 3u);
    EXPECT_EQ(ov::j.chips[0].disks[0].model, "ON-7");
    EXPECT_EQ(ov::j.chips[1].disks[1].model, "ON-3B");
}

}  // namespace
