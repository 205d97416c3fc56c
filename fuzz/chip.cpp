// Two disks' IDENTIFY blocks and record sectors as a bridge serves them, read by a chip the
// way a scan reads it (no monitor thread is started), then judged as the window and the
// command line judge it. Checks the rules the combination and the panel promise.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "clock.h"
#include "fuzz_input.h"
#include "health.h"
#include "library.h"
#include "ovchip.h"
#include "panel.h"
#include "safety.h"

namespace {

// Byte 0 of an input: what the bridge does besides answering.
constexpr uint8_t firewire = 1 << 0;
constexpr uint8_t register0 = 1 << 1;      // presence registers set
constexpr uint8_t register1 = 1 << 2;
constexpr uint8_t silent0 = 1 << 3;        // IDENTIFY fails
constexpr uint8_t silent1 = 1 << 4;
constexpr uint8_t unreadable0 = 1 << 5;    // the record read fails
constexpr uint8_t unreadable1 = 1 << 6;
constexpr uint8_t binary_units = 1 << 7;

// The serials of the two rebuild notes every run knows: a copy onto "FUZZ-TARGET" from
// "FUZZ-SOURCE" that never finished, and "FUZZ-TARGET" degraded alone while "FUZZ-SOURCE" was
// away, after the two had carried a stamp of 2025.
constexpr const char* note_target = "FUZZ-TARGET";
constexpr const char* note_source = "FUZZ-SOURCE";

// A bridge that answers from the input; it never stores a write.
class input_bridge : public ov::bridge_library {
public:
    uint8_t flags = 0;
    unsigned char identify[2][512] = {};
    unsigned char record[2][512] = {};

    int getDeviceList(uint32_t*, uint32_t*) override { return -1; }
    int openConnection(uint32_t) override { return 0; }
    int closeConnection(uint32_t) override { return 0; }
    int ovGetRaidInfo(uint32_t, unsigned char* buffer, int length, uint64_t, int port, int) override
    {
        return sector(buffer, length, port);
    }
    int ovGetRaidInfoFW(uint32_t, unsigned char* buffer, int length, uint64_t, int port) override
    {
        return sector(buffer, length, port);
    }
    int ovSetRaidInfo(uint32_t, const unsigned char*, int, uint64_t, int, int) override { return -1; }
    int ovSetRaidInfoFW(uint32_t, const unsigned char*, int, uint64_t, int) override { return -1; }
    int ovFlushHDDCache(uint32_t, int) override { return -1; }
    int ovGetDiskIdentify(uint32_t, unsigned char* buffer, int length, int port) override
    {
        if (length < 512 || (port != 0 && port != 1) || (flags & (port ? silent1 : silent0)))
            return -1;
        std::memcpy(buffer, identify[port], 512);
        return 0;
    }
    int ovGetRegister(uint32_t, unsigned char* buffer, int length, int count, uint32_t address) override
    {
        if (length < count || count < 1)
            return -1;
        std::memset(buffer, 0, static_cast<size_t>(count));
        buffer[0] = (address == ov::reg_port0_presence && (flags & register0)) ||
                    (address == ov::reg_port1_presence && (flags & register1));
        return 0;
    }
    int ovGetRebuildStatus(uint32_t, unsigned char*, int) override { return -1; }
    int ovWarmBoot(uint32_t) override { return -1; }

private:
    int sector(unsigned char* buffer, int length, int port)
    {
        if (length < 512 || (port != 0 && port != 1) || (flags & (port ? unreadable1 : unreadable0)))
            return -1;
        std::memcpy(buffer, record[port], 512);
        return 0;
    }
};

std::string notes_dir;

void remove_notes()
{
    ::unlink(ov::rebuild_notes::path().c_str());
    ::unlink((ov::rebuild_notes::path() + ".lock").c_str());
    ::rmdir(notes_dir.c_str());
}

input_bridge& bridge()
{
    static input_bridge* b = [] {
        auto* made = new input_bridge;
        ov::install_library(made);
        // The engine's pauses (two seconds between the presence registers) take no time.
        ov::set_time_scale(1e12);
        char dir[] = "/tmp/ovraid-fuzz-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            std::abort();
        notes_dir = dir;
        ov::rebuild_notes::set_path(notes_dir + "/rebuilds");
        ov::rebuild_notes::add({"fuzz", note_source, note_target, "20260101120000"});
        ov::rebuild_notes::add({"fuzz", note_target, note_source, "20260101120000", true, "20250101000000"});
        std::atexit(remove_notes);
        return made;
    }();
    return *b;
}

bool member(uint32_t mode)
{
    return mode == ov::mode_raid0 || mode == ov::mode_raid1 || mode == ov::mode_span;
}

void check_chip(const ov::ovchip& chip)
{
    const ov::ovdisk* d = chip.disks.data();
    if (chip.raid_configured) {
        FUZZ_CHECK(d[0].present && d[1].present && member(chip.raid_mode));
        FUZZ_CHECK(d[0].raid_mode == chip.raid_mode && d[1].raid_mode == chip.raid_mode);
        FUZZ_CHECK(!d[0].partner_mismatch && !d[1].partner_mismatch);
        FUZZ_CHECK(chip.raid_capacity == d[0].record_capacity);
    }
    if (chip.rebuilding)
        FUZZ_CHECK(chip.raid_configured && chip.raid_mode == ov::mode_raid1 && d[0].rebuild_flag != d[1].rebuild_flag);
    const bool halves = d[0].present && d[1].present && d[0].raid_mode == ov::mode_raid1 &&
                        d[1].raid_mode == ov::mode_raid1;
    if (halves && (d[0].incomplete_copy || d[1].incomplete_copy)) {
        // Beside a half copy the whole half holds the current data, the copy never.
        FUZZ_CHECK(!chip.raid_configured);
        for (int p = 0; p < 2; ++p)
            FUZZ_CHECK(d[p].raid1_role == (!d[p].incomplete_copy && d[1 - p].incomplete_copy ? 1u : 0u));
    } else {
        FUZZ_CHECK((d[0].raid1_role == 0) == (d[1].raid1_role == 0));
        // One newer and one older, or two each written alone, neither newer.
        if (d[0].raid1_role != 0)
            FUZZ_CHECK(!chip.raid_configured &&
                       (d[0].raid1_role + d[1].raid1_role == 3 ||
                        (d[0].diverged && d[0].raid1_role == 2 && d[1].raid1_role == 2)));
    }
    FUZZ_CHECK(d[0].diverged == d[1].diverged);
    if (d[0].diverged)
        FUZZ_CHECK(d[0].present && d[1].present && d[0].raid_mode == ov::mode_raid1 &&
                   d[1].raid_mode == ov::mode_raid1);
    for (int p = 0; p < 2; ++p) {
        if (d[p].degrade_needed)
            FUZZ_CHECK(d[p].present && d[p].raid_mode == ov::mode_raid1 && !d[p].incomplete_copy);
        if (d[p].incomplete_copy)
            // Known from the notes, or from a source beside it marked for a copy onto it.
            FUZZ_CHECK(d[p].raid_mode == ov::mode_raid1 && !d[p].rebuild_flag &&
                       (d[p].serial == note_target ||
                        (d[1 - p].rebuild_flag && ov::str_equal(d[1 - p].partner_serial, d[p].serial_raw, 20))));
        if (!d[p].present)
            FUZZ_CHECK(d[p].raid_mode == 0 && !d[p].degrade_needed);
    }
}

void check_views(const ov::ovchip& chip, const ov::panel_options& options)
{
    const ov::panel_state panel = ov::panel_of(&chip, options);
    FUZZ_CHECK(panel.chip);
    for (int p = 0; p < 2; ++p) {
        const ov::ovdisk& source = chip.disks[p];
        const ov::ovdisk& target = chip.disks[1 - p];
        // The command line runs a rebuild when refusal() is empty, the window when the
        // action is offered: the same rule, and never from a partial copy or onto a disk
        // that cannot hold the set.
        const bool refused = !ov::refusal(chip, ov::command::rebuild, p).empty();
        FUZZ_CHECK(panel.actions.rebuild[p] == !refused);
        if (!refused)
            FUZZ_CHECK(!source.incomplete_copy && target.capacity >= 16 &&
                       source.record_capacity <= target.capacity - 16);
        const ov::question asked = ov::question_before(chip, ov::command::rebuild, p);
        // Over a half written alone, a copy is never the plain answer.
        if (source.diverged)
            FUZZ_CHECK(asked.no_by_default);
    }

    const ov::chip_summary summary = ov::summarize(chip);
    const bool healthy = summary.state == ov::chip_state::healthy || summary.state == ov::chip_state::rebuilding;
    if (healthy)
        FUZZ_CHECK(chip.raid_configured && summary.set_mode == chip.raid_mode);
    else
        FUZZ_CHECK(summary.set_mode == 0);
    FUZZ_CHECK(summary.current_bay >= 0 && summary.current_bay <= 2);
    if (summary.current_bay != 0)
        FUZZ_CHECK(!chip.disks[summary.current_bay - 1].diverged);
    // A lone half holds the current data, unless it may be a half copy (the notes could not
    // be read) or a note shows its partner written later.
    if (summary.state == ov::chip_state::degraded)
        FUZZ_CHECK(summary.current_bay != 0
                       ? !summary.bays[summary.current_bay - 1].incomplete_copy &&
                             !chip.disks[summary.current_bay - 1].superseded
                       : !chip.notes_error.empty() || chip.disks[0].superseded || chip.disks[1].superseded);
    for (int p = 0; p < 2; ++p) {
        if (summary.bays[p].rebuild_source)
            FUZZ_CHECK(!summary.bays[p].incomplete_copy && summary.state == ov::chip_state::rebuilding);
        for (ov::record_warning w : summary.bays[p].warnings)
            FUZZ_CHECK(ov::warning_key(w) != nullptr && ov::warning_name(w) != nullptr);
    }
    FUZZ_CHECK(ov::state_severity(summary.state) >= 0 && ov::state_severity(summary.state) <= 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ovfuzz::input in(data, size);
    input_bridge& b = bridge();
    b.flags = in.byte();
    const uint8_t row = in.byte();
    for (auto& block : b.identify)
        in.take(block, sizeof block);
    for (auto& sector : b.record)
        in.take(sector, sizeof sector);

    ov::ovchip chip;
    chip.service = 1;
    chip.identity.is_firewire = (b.flags & firewire) != 0;
    chip.retrievediskinformation();
    chip.read_raid_info();
    check_chip(chip);
    ov::panel_options options;
    options.row = row % ov::mode_rows;
    options.decimal = (b.flags & binary_units) == 0;
    check_views(chip, options);
    return 0;
}
