// Data safety of the configuration writes on the simulated enclosure. A fault matrix
// makes every library call of every write fail in turn (once, with the bridge vanishing,
// or with the data changed on the way) and judges what is left on the disks; the tests
// after it each hold one fault that was seen, in the setting that showed it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "harness.h"
#include "health.h"
#include "panel.h"
#include "safety.h"
#include "sim/enclosure.h"
#include "sim/firmware_state.h"
#include "sim/service.h"

namespace ovtest {
namespace {

constexpr const char* safety_bridge = "u";
constexpr uint64_t head_sectors = 64;

// What a configuration write may touch on one disk: sectors 0..63 and the record.
struct disk_bytes {
    std::string head;
    std::string record;
    bool operator==(const disk_bytes&) const = default;
};
using pair_bytes = std::array<disk_bytes, 2>;

const char* fault_name(ov::write_fault f)
{
    switch (f) {
    case ov::write_fault::none: return "none";
    case ov::write_fault::disk_changed: return "disk_changed";
    case ov::write_fault::disk_unknown: return "disk_unknown";
    case ov::write_fault::write_failed: return "write_failed";
    case ov::write_fault::flush_failed: return "flush_failed";
    case ov::write_fault::restart_failed: return "restart_failed";
    case ov::write_fault::note_failed: return "note_failed";
    }
    return "?";
}

std::string printable(const unsigned char* p, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '.';
    ov::trim(s);
    return s;
}

// What a scan makes of one chip, stamps left out: the same text means the same judgement.
std::string judgement(const ov::ovchip& c)
{
    std::ostringstream o;
    for (int d = 0; d < 2; ++d) {
        const ov::ovdisk& k = c.disks[d];
        o << "disk" << d;
        if (!k.present) {
            o << " absent; ";
            continue;
        }
        o << " mode " << k.raid_mode;
        if (k.raid_mode != 0)
            o << " size " << k.record_capacity << " partner '" << printable(k.partner_serial, 20) << "' '"
              << printable(k.partner_model, 40) << "'";
        if (k.rebuild_flag)
            o << " source";
        if (k.record_unknown)
            o << " unknown";
        if (k.incomplete_copy)
            o << " partial-copy-of " << k.copy_source_serial;
        o << "; ";
    }
    if (c.raid_configured)
        o << "set mode " << c.raid_mode;
    else
        o << "no set";
    if (c.rebuilding)
        o << " rebuilding";
    o << " roles " << c.disks[0].raid1_role << c.disks[1].raid1_role;
    return o.str();
}

constexpr uint64_t cap0 = 40000, cap1 = 40960;  // small sparse images of different sizes
constexpr uint64_t mirror_size = cap0 - 16;
constexpr uint64_t stripe_size = 2 * cap0 - 32;

// The records the disks carry before a write.
enum class layout {
    blank,       // two disks with data and no record
    stripe,      // a healthy RAID 0
    mirror,      // a healthy RAID 1
    lone0,       // a degraded mirror half in port 0, a blank disk in port 1
    lone1,       // the same the other way round
    newer0,      // two mirror halves out of step, port 0 written later
    newer1,      // the same, port 1 written later
    lone_half,   // a mirror half in port 0 naming a partner that is gone; port 1 empty
};

class data_safety : public engine_fixture {
protected:
    temp_dir dir;
    std::unique_ptr<ov::sim::store> st;
    std::unique_ptr<ov::sim::enclosure> enc;
    std::string error;
    uint64_t cap[2] = {0, 0};  // sectors of the disk in each port, 0 = empty
    std::string serial[2];
    int roots = 0;
    int disks_made = 0;
    std::string shm_dir;  // "-" when no memory file system could be used

    void TearDown() override
    {
        close_root();
        engine_fixture::TearDown();
        if (!shm_dir.empty() && shm_dir != "-") {
            std::error_code ec;
            std::filesystem::remove_all(shm_dir, ec);
        }
    }

    // Every write ends in a cache flush, which the simulator makes an fdatasync of the
    // image: on a memory file system that costs nothing, on a disk it dominates the matrix.
    std::string base_dir()
    {
        if (shm_dir.empty()) {
            char pattern[] = "/dev/shm/ovraid-safety-XXXXXX";
            shm_dir = ::mkdtemp(pattern) ? pattern : "-";
        }
        return shm_dir != "-" ? shm_dir : dir.path();
    }

    // A fresh simulation root with one USB bridge and no disk.
    void open_root(double rebuild_seconds = 0)
    {
        close_root();
        st = std::make_unique<ov::sim::store>(base_dir() + "/sim" + std::to_string(++roots));
        ov::sim::bridge_desc b;
        b.name = safety_bridge;
        b.location_id = 0x14300000;
        b.usb_serial = "SAFE";
        b.rebuild_seconds = rebuild_seconds;
        ASSERT_TRUE(st->add_bridge(b, error)) << error;
        cap[0] = cap[1] = 0;
    }

    void plug_in()
    {
        enc = std::make_unique<ov::sim::enclosure>(st->root());
        enc->sync();
        ov::install_library(enc.get());
        ov::install_registry(enc.get());
    }

    void close_root()
    {
        reset_engine();
        if (enc) {
            ov::install_library(&lib);
            ov::install_registry(nullptr);
            // The enclosure joins its own reboot and copy threads.
            enc.reset();
        }
    }

    std::string image(int port) const { return st->port_image(safety_bridge, port); }

    // A new disk in a port, its first 64 sectors full of data.
    void insert(int port, uint64_t sectors)
    {
        const std::string name = "d" + std::to_string(++disks_made);
        ov::sim::disk_desc d{"Harbor HD" + name, "SN-" + name, sectors, "lba48", false};
        ASSERT_TRUE(st->make_disk(name, d, error)) << error;
        ASSERT_TRUE(st->insert_disk(safety_bridge, port, name, error)) << error;
        cap[port] = sectors;
        serial[port] = "SN-" + name;
        write_bytes(image(port), 0, random_bytes(head_sectors * 512, static_cast<unsigned>(disks_made)));
    }

    // Back to the shelf, as ovraid-sim's pull: the bridge notices it. The name is returned for
    // a later insert_back.
    std::string pull(int port)
    {
        std::string name;
        EXPECT_TRUE(ov::sim::pull_disk(st->root(), safety_bridge, port, name, error)) << error;
        cap[port] = 0;
        return name;
    }

    // As ovraid-sim's insert: the bridge notices the disk.
    void insert_back(int port, const std::string& name, uint64_t sectors, const std::string& disk_serial)
    {
        ASSERT_TRUE(st->insert_disk(safety_bridge, port, name, error)) << error;
        ASSERT_TRUE(ov::sim::disk_inserted(st->root(), safety_bridge, error)) << error;
        cap[port] = sectors;
        serial[port] = disk_serial;
    }

    // A record written straight onto the image, naming partner (empty_port: no partner).
    void put_record(int port, int mode, uint64_t size, const ov::ovdisk& partner, const char* stamp)
    {
        const ov::raid_info r = record_for(mode, port, size, partner, stamp);
        write_bytes(image(port), (cap[port] - 15) * 512, std::string(reinterpret_cast<const char*>(r.data()), 512));
    }

    // Both records of one set, each naming the other disk.
    void put_set(int mode, uint64_t size, const char* stamp0 = older_stamp, const char* stamp1 = older_stamp)
    {
        ov::ovchip* c = scan();
        ASSERT_NE(c, nullptr);
        const ov::ovdisk d0 = c->disks[0], d1 = c->disks[1];
        put_record(0, mode, size, d1, stamp0);
        put_record(1, mode, size, d0, stamp1);
    }

    // What a device handling does before it selects: list, identities, records. Nullptr
    // when the bridge is not listed.
    ov::ovchip* scan()
    {
        ov::stop_engine_threads();
        ov::j.scandevices();
        ov::j.updatediskinformation();
        ov::j.read_raid();
        ov::j.warm_boot_pending = false;
        return ov::j.chips.empty() ? nullptr : &ov::j.chips[0];
    }

    // The chip made current, as the window leaves it, so select_chip runs its timer.
    void make_current(ov::ovchip& c) { ov::j.current = c.identity; }

    // Ends the RAID 1 timer a select_chip may have started, before the list is rebuilt.
    void end_timer(ov::ovchip& c)
    {
        c.raid1_timer_run = false;
        ASSERT_TRUE(eventually([&] { return !c.raid1_timer_alive; }));
    }

    // A selection as the window makes it: made current, selected, its timer ended.
    void select(ov::ovchip& c)
    {
        make_current(c);
        c.select_chip();
        end_timer(c);
    }

    // A device handling: a look, then the selection. Nullptr when the bridge is not listed.
    ov::ovchip* handle()
    {
        ov::ovchip* c = scan();
        if (c != nullptr)
            select(*c);
        return c;
    }

    pair_bytes bytes() const
    {
        pair_bytes b;
        for (int p = 0; p < 2; ++p)
            if (cap[p]) {
                b[p].head = read_bytes(image(p), 0, head_sectors * 512);
                b[p].record = read_bytes(image(p), (cap[p] - 15) * 512, 512);
            }
        return b;
    }

    void put_bytes(const pair_bytes& b)
    {
        for (int p = 0; p < 2; ++p)
            if (cap[p]) {
                write_bytes(image(p), 0, b[p].head);
                write_bytes(image(p), (cap[p] - 15) * 512, b[p].record);
            }
    }

    void fail(const std::string& call, const std::string& mode = "once", int port = -1, int skip = 0)
    {
        ASSERT_TRUE(st->add_failure(safety_bridge, ov::sim::failure_desc{call, mode, port, skip}, error)) << error;
    }

    std::vector<ov::sim::failure_desc> failures_left()
    {
        std::vector<ov::sim::failure_desc> left;
        EXPECT_TRUE(st->read_failures(safety_bridge, left, error)) << error;
        return left;
    }

    // After a write: no failure left, the bridge plugged and attached (back from a
    // restart), and no copy running that could still change a disk.
    void settle_bridge()
    {
        ASSERT_TRUE(st->clear_failures(safety_bridge, error)) << error;
        ASSERT_TRUE(st->set_plugged(safety_bridge, true, error)) << error;
        enc->sync();
        ASSERT_TRUE(eventually([&] { return enc->service_of(safety_bridge) != 0; })) << "the bridge never came back";
        ASSERT_TRUE(eventually([&] { return !enc->rebuild_running(safety_bridge); })) << "the copy never ended";
    }

    // The same, leaving a rebuild copy running.
    void settle_bridge_keeping_copy()
    {
        ASSERT_TRUE(st->clear_failures(safety_bridge, error)) << error;
        ASSERT_TRUE(eventually([&] { return enc->service_of(safety_bridge) != 0; })) << "the bridge never came back";
    }

    void lay_out(layout l, double rebuild_seconds = 0)
    {
        ASSERT_NO_FATAL_FAILURE(open_root(rebuild_seconds));
        ASSERT_NO_FATAL_FAILURE(insert(0, cap0));
        if (l != layout::lone_half) {
            ASSERT_NO_FATAL_FAILURE(insert(1, cap1));
        }
        ASSERT_NO_FATAL_FAILURE(plug_in());
        switch (l) {
        case layout::blank:
            break;
        case layout::stripe:
            ASSERT_NO_FATAL_FAILURE(put_set(ov::mode_raid0, stripe_size));
            break;
        case layout::mirror:
            ASSERT_NO_FATAL_FAILURE(put_set(ov::mode_raid1, mirror_size));
            break;
        case layout::lone0:
            put_record(0, ov::mode_raid1, mirror_size, empty_port, older_stamp);
            break;
        case layout::lone1:
            put_record(1, ov::mode_raid1, mirror_size, empty_port, older_stamp);
            break;
        case layout::newer0:
            ASSERT_NO_FATAL_FAILURE(put_set(ov::mode_raid1, mirror_size, newer_stamp, older_stamp));
            break;
        case layout::newer1:
            ASSERT_NO_FATAL_FAILURE(put_set(ov::mode_raid1, mirror_size, older_stamp, newer_stamp));
            break;
        case layout::lone_half:
            put_record(0, ov::mode_raid1, mirror_size, disk_c(), older_stamp);  // a partner that is gone
            break;
        }
    }

    void run_matrix(const std::vector<std::string>& modes);
};

// ---- the fault matrix -----------------------------------------------------------------

// Skips to walk for a call made n times: every one when few, otherwise the first and
// last few and an even sample between, which reaches every phase of a long write
// (identity, backup reads, record writes, wipe writes, read-backs).
std::vector<int> skips_for(int n)
{
    std::vector<int> out;
    if (n <= 12) {
        for (int k = 0; k < n; ++k)
            out.push_back(k);
        return out;
    }
    for (int k = 0; k < 6; ++k)
        out.push_back(k);
    constexpr int samples = 6;
    for (int k = 1; k <= samples; ++k)
        out.push_back(6 + (n - 10) * k / (samples + 1));
    for (int k = n - 4; k < n; ++k)
        out.push_back(k);
    return out;
}

// Calls whose "mismatch" changes data rather than failing plainly.
bool carries_data(const std::string& call)
{
    return call == "ovGetRaidInfo" || call == "ovSetRaidInfo" || call == "ovGetDiskIdentify";
}

struct run_row {
    std::string op, call, mode;
    int skip = 0;
    bool result = false;
    bool fired = false;
    ov::write_report report;
    std::string problem;
};

std::string format_row(const run_row& r)
{
    char line[512];
    std::snprintf(line, sizeof line, "%-20s %-18s skip %3d %-8s -> %-5s fired %-3s fault %-14s bay %d%s",
                  r.op.c_str(), r.call.c_str(), r.skip, r.mode.c_str(), r.result ? "true" : "false",
                  r.fired ? "yes" : "no", fault_name(r.report.fault), r.report.bay,
                  r.report.restore_failed ? (" restore-failed bay " + std::to_string(r.report.restore_bay)).c_str()
                                          : "");
    return std::string(line) + "\n      " + r.problem;
}

bool note_left()
{
    return !ov::rebuild_notes::load().empty();
}

// For every write: a clean run counts its calls by name and shows what the completed
// write leaves; then each call fails in turn at each (sampled) position, in each mode.
// A run that returned false with the disks as before needs no scan to be judged, and
// the next run starts from the chip that scan of the same bytes gave.
void data_safety::run_matrix(const std::vector<std::string>& modes)
{
    struct matrix_op {
        const char* name;
        layout start;
        bool rebuild;
        std::function<bool(ov::ovchip&)> run;
    };
    const std::vector<matrix_op> ops = {
        {"create raid0", layout::blank, false, [](ov::ovchip& c) { return c.create_raid(1); }},
        {"create raid1", layout::blank, false, [](ov::ovchip& c) { return c.create_raid(2); }},
        {"create span", layout::blank, false, [](ov::ovchip& c) { return c.create_raid(4); }},
        {"delete raid0", layout::stripe, false, [](ov::ovchip& c) { return c.clear_raid(); }},
        {"delete raid1", layout::mirror, false, [](ov::ovchip& c) { return c.clear_raid(); }},
        {"clear-disk port0", layout::stripe, false, [](ov::ovchip& c) { return c.clear_disk(false); }},
        {"clear-disk port1", layout::stripe, false, [](ov::ovchip& c) { return c.clear_disk(true); }},
        {"rebuild 0->1 new", layout::lone0, true, [](ov::ovchip& c) { return c.rebuild(false); }},
        {"rebuild 1->0 new", layout::lone1, true, [](ov::ovchip& c) { return c.rebuild(true); }},
        {"rebuild 0->1 halves", layout::newer0, true, [](ov::ovchip& c) { return c.rebuild(false); }},
        {"rebuild 1->0 halves", layout::newer1, true, [](ov::ovchip& c) { return c.rebuild(true); }},
        // The automatic degrade: select_chip on a lone half; it reports through last_write.
        {"degrade lone half", layout::lone_half, false,
         [this](ov::ovchip& c) {
             c.select_chip();
             end_timer(c);
             return c.last_write.fault == ov::write_fault::none;
         }},
    };
    constexpr int counting_skip = 1000000;

    std::vector<run_row> bad;
    int runs = 0;
    const auto started = std::chrono::steady_clock::now();
    for (const matrix_op& op : ops) {
        SCOPED_TRACE(op.name);
        ASSERT_NO_FATAL_FAILURE(lay_out(op.start));
        ov::ovchip* c = scan();
        ASSERT_NE(c, nullptr);
        const std::string before_text = judgement(*c);
        const pair_bytes before = bytes();
        const ov::ovchip pristine = *c;

        // The clean run, counting the calls by name.
        for (const std::string& call : ov::sim::store::call_names())
            ASSERT_NO_FATAL_FAILURE(fail(call, "once", -1, counting_skip));
        ASSERT_TRUE(op.run(*c)) << fault_name(c->last_write.fault);
        std::map<std::string, int> made;
        for (const ov::sim::failure_desc& f : failures_left())
            made[f.call] = counting_skip - f.skip;
        ASSERT_NO_FATAL_FAILURE(settle_bridge());
        ASSERT_NE(c = scan(), nullptr);
        const std::string done_text = judgement(*c);
        ASSERT_NE(done_text, before_text) << "the write changes nothing a scan shows";

        // Each call one past its last use, all at once: nothing fires, the write completes.
        std::vector<std::pair<std::string, int>> plan_calls;
        for (const std::string& call : ov::sim::store::call_names())
            plan_calls.emplace_back(call, made[call]);

        struct planned {
            std::string call, mode;
            int skip;
        };
        std::vector<planned> plan = {{"(every call)", "once", -1}};
        for (const auto& [call, n] : plan_calls)
            for (int skip : skips_for(n))
                for (const std::string& mode : modes)
                    if (mode != "mismatch" || carries_data(call))
                        plan.push_back({call, mode, skip});

        bool used = false;  // the chip in the list ran a write since the scan that made it
        std::remove(ov::rebuild_notes::path().c_str());
        put_bytes(before);
        ASSERT_NE(c = scan(), nullptr);
        ASSERT_EQ(judgement(*c), before_text);
        for (const planned& p : plan) {
            ++runs;
            if (used) {
                ov::j.chips[0] = pristine;
                ov::j.chips[0].service = enc->service_of(safety_bridge);
                c = &ov::j.chips[0];
            }
            used = true;
            run_row row;
            row.op = op.name;
            row.call = p.call;
            row.mode = p.mode;
            row.skip = p.skip;
            const bool should_fire = p.skip >= 0;
            if (should_fire) {
                ASSERT_NO_FATAL_FAILURE(fail(p.call, p.mode, -1, p.skip));
            } else {
                for (const auto& [call, n] : plan_calls)
                    ASSERT_NO_FATAL_FAILURE(fail(call, "once", -1, n));
            }
            const uint32_t service = c->service;
            row.result = op.run(*c);
            row.report = c->last_write;
            const size_t left = failures_left().size();
            row.fired = should_fire ? left == 0 : left != plan_calls.size();
            const bool noted = note_left();
            ASSERT_NO_FATAL_FAILURE(settle_bridge());
            const pair_bytes after = bytes();
            const ov::write_report& rep = row.report;
            const bool completed = row.result || rep.fault == ov::write_fault::restart_failed;
            std::string now_text;
            if (completed || after != before || enc->service_of(safety_bridge) != service) {
                c = scan();
                now_text = c ? judgement(*c) : std::string("bridge not listed");
                used = false;
            }

            std::string& problem = row.problem;
            if (row.fired != should_fire)
                problem = should_fire ? "the failure did not fire" : "a failure past the last call fired";
            // A changed IDENTIFY byte outside model, serial and capacity is no other disk.
            else if (row.fired && row.result && !(p.call == "ovGetDiskIdentify" && p.mode == "mismatch"))
                problem = "a failure was reported as success";
            else if (!row.fired && !row.result)
                problem = std::string("failed with nothing failing: ") + fault_name(rep.fault);
            else if (row.result && !rep.ok())
                problem = "returned true with a fault reported";
            else if (!row.result && rep.fault == ov::write_fault::none)
                problem = "returned false with no fault reported";
            else if (!row.result && rep.fault != ov::write_fault::restart_failed &&
                     (rep.bay < 1 || rep.bay > 2 || rep.serial != serial[rep.bay - 1]))
                problem = "the report names bay " + std::to_string(rep.bay) + " serial '" + rep.serial + "'";
            else if (completed && now_text != done_text)
                problem = std::string(row.result ? "returned true" : "restart failed") + ", but the scan shows\n        " +
                          now_text + "\n      instead of the completed\n        " + done_text;
            else if (op.rebuild && rep.fault == ov::write_fault::restart_failed && !rep.rebuild)
                problem = "a rebuild's failed restart is not marked as a rebuild";
            else if (op.rebuild && (completed || rep.restore_failed) != noted)
                problem = noted ? "the rebuild note was left behind" : "the rebuild note is missing";
            else if (!completed) {
                for (int port = 0; port < 2; ++port) {
                    if (after[port] == before[port])
                        continue;
                    if (rep.restore_failed && rep.unrestored[port])
                        continue;
                    // A source left flagged starts, when its bridge returns, the copy the
                    // user asked for: the target then changes under the kept rebuild note.
                    if (op.rebuild && rep.restore_failed && rep.unrestored[1 - port] && noted)
                        continue;
                    problem += "bay " + std::to_string(port + 1) + " differs from before (" +
                               (after[port].record != before[port].record ? "record" : "sectors 0..63") +
                               (rep.restore_failed
                                    ? ") though the report names only bay " + std::to_string(rep.restore_bay)
                                    : ") and no failed restore is reported") +
                               "; ";
                }
            }
            if (!problem.empty())
                bad.push_back(row);

            std::remove(ov::rebuild_notes::path().c_str());
            if (after != before)
                put_bytes(before);
            if (after != before || !c || (!used && judgement(*c) != before_text)) {
                ASSERT_NE(c = scan(), nullptr);
                ASSERT_EQ(judgement(*c), before_text) << "could not put the disks back";
                used = false;
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::string table;
    for (const run_row& r : bad)
        table += "  " + format_row(r) + "\n";
    EXPECT_TRUE(bad.empty()) << bad.size() << " of " << runs << " runs went wrong:\n" << table;
    std::printf("fault matrix (%zu modes): %d runs in %.1f s\n", modes.size(), runs, seconds);
}

TEST_F(data_safety, a_failing_call_leaves_every_write_undone_or_completed)
{
    run_matrix({"once", "mismatch"});
}

// Once the bridge is gone nothing can be put back: the report must name every disk the
// write left changed (a create vanishing at its second sector-0 write leaves both).
TEST_F(data_safety, a_bridge_vanishing_mid_write_names_every_disk_it_leaves_changed)
{
    run_matrix({"vanish"});
}


// ---- one test per fault that was seen ----------------------------------------------------

TEST_F(data_safety, a_rebuild_whose_record_write_fails_changes_no_disk_and_no_role)
{
    struct rebuild_case {
        const char* name;
        layout start;
        bool source;     // the rebuild's source port
        int failing;     // the port whose record write fails
    };
    const rebuild_case cases[] = {
        {"blank target, the half's write fails", layout::lone0, false, 0},
        {"blank target in bay 1, the half's write fails", layout::lone1, true, 1},
        {"halves out of step, the newer half's write fails", layout::newer0, false, 0},
        {"halves out of step, the older half's write fails", layout::newer0, false, 1},
    };
    for (const rebuild_case& rc : cases) {
        SCOPED_TRACE(rc.name);
        ASSERT_NO_FATAL_FAILURE(lay_out(rc.start));
        ov::ovchip* c = scan();
        ASSERT_NE(c, nullptr);
        const std::string before_text = judgement(*c);
        const pair_bytes before = bytes();
        ASSERT_NO_FATAL_FAILURE(fail("ovSetRaidInfo", "once", rc.failing));
        EXPECT_FALSE(c->rebuild(rc.source));
        EXPECT_EQ(c->last_write.fault, ov::write_fault::write_failed) << fault_name(c->last_write.fault);
        EXPECT_EQ(c->last_write.bay, rc.failing + 1);
        EXPECT_TRUE(c->last_write.rebuild);
        EXPECT_TRUE(failures_left().empty());
        EXPECT_FALSE(note_left()) << "a failed rebuild leaves its note";
        ASSERT_NO_FATAL_FAILURE(settle_bridge());
        ASSERT_NE(c = scan(), nullptr);
        EXPECT_TRUE(bytes() == before);
        EXPECT_EQ(judgement(*c), before_text);
        EXPECT_FALSE(c->rebuilding);
        const int dst = rc.source ? 0 : 1;
        if (rc.start == layout::newer0) {
            EXPECT_EQ(c->disks[0].raid1_role, 1u) << "the newer half holds the current data";
            EXPECT_EQ(c->disks[1].raid1_role, 2u);
        } else {
            EXPECT_EQ(c->disks[dst].raid_mode, 0u) << "the blank disk got a record";
            EXPECT_NE(c->disks[dst].raid1_role, 1u);
        }
    }
}

TEST_F(data_safety, a_target_pulled_mid_copy_never_becomes_current_or_a_set_of_its_own)
{
    // A paced copy (25 minutes of system time) is still running when the disks are pulled.
    ASSERT_NO_FATAL_FAILURE(lay_out(layout::lone0, 1500));
    const std::string source_serial = serial[0], target_serial = serial[1];
    ov::ovchip* c = scan();
    ASSERT_NE(c, nullptr);
    // Several rounds, so that the rebuild's and the degrade's writes share a second.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(c->rebuild(false)) << fault_name(c->last_write.fault);
        ASSERT_NO_FATAL_FAILURE(settle_bridge_keeping_copy());
        EXPECT_TRUE(enc->rebuild_running(safety_bridge)) << "the copy is over before the pull";

        // Each change is followed by a device handling: scan, then select.
        const std::string target = pull(1);
        ASSERT_NE(c = handle(), nullptr);
        const std::string source = pull(0);
        ASSERT_NE(c = handle(), nullptr);

        // The target alone.
        ASSERT_NO_FATAL_FAILURE(insert_back(1, target, cap1, target_serial));
        const std::string target_record = bytes()[1].record;
        ASSERT_NE(c = scan(), nullptr);
        EXPECT_TRUE(c->disks[1].incomplete_copy);
        EXPECT_EQ(c->disks[1].copy_source_serial, source_serial);
        EXPECT_FALSE(c->disks[1].degrade_needed) << "a partial copy would become a set of its own";
        EXPECT_NE(c->disks[1].raid1_role, 1u);
        select(*c);
        EXPECT_EQ(bytes()[1].record, target_record) << "the partial copy was degraded";
        if (round == 0) {
            // Notes that are there but cannot be read are no notes to go by: the copy is
            // neither degraded nor rebuilt from, and no change writes the notes away.
            const std::string notes = ov::rebuild_notes::path();
            ASSERT_EQ(std::rename(notes.c_str(), (notes + ".aside").c_str()), 0);
            ASSERT_EQ(::mkdir(notes.c_str(), 0755), 0);
            ASSERT_NE(c = scan(), nullptr);
            EXPECT_NE(c->notes_error.find(notes), std::string::npos) << c->notes_error;
            EXPECT_FALSE(c->disks[1].degrade_needed) << judgement(*c);
            EXPECT_EQ(ov::summarize(*c).current_bay, 0) << "a disk that may be a half copy called current";
            EXPECT_FALSE(ov::rebuild_offered(*c, 1));
            EXPECT_FALSE(ov::refusal(*c, ov::command::rebuild, 1).empty()) << judgement(*c);
            EXPECT_FALSE(ov::rebuild_notes::add({"b", "s", "t", "20260101000000"}));
            EXPECT_FALSE(ov::rebuild_notes::remove_targets({target_serial}));
            select(*c);
            EXPECT_EQ(bytes()[1].record, target_record) << "degraded while the notes could not be read";
            ASSERT_EQ(::rmdir(notes.c_str()), 0);
            ASSERT_EQ(std::rename((notes + ".aside").c_str(), notes.c_str()), 0);
        }

        // The source comes back: it stays the source.
        ASSERT_NO_FATAL_FAILURE(insert_back(0, source, cap0, source_serial));
        ASSERT_NE(c = scan(), nullptr);
        EXPECT_NE(c->disks[1].raid1_role, 1u) << judgement(*c);
        EXPECT_FALSE(c->disks[1].degrade_needed);
        EXPECT_TRUE(c->disks[0].raid1_role == 1 || (c->rebuilding && c->disks[0].rebuild_flag)) << judgement(*c);
        select(*c);
        EXPECT_EQ(bytes()[1].record, target_record);
        ov::j.current = ov::controller_t{};
    }
}

TEST_F(data_safety, an_unreadable_record_during_a_scan_degrades_no_partner)
{
    ASSERT_NO_FATAL_FAILURE(lay_out(layout::mirror));
    ov::ovchip* c = scan();
    ASSERT_NE(c, nullptr);
    const std::string healthy = judgement(*c);
    ASSERT_TRUE(c->raid_configured);
    const pair_bytes before = bytes();

    ASSERT_NO_FATAL_FAILURE(fail("ovGetRaidInfo", "once", 1));
    ASSERT_NE(c = scan(), nullptr);
    EXPECT_TRUE(failures_left().empty());
    EXPECT_TRUE(c->disks[1].record_unknown);
    EXPECT_FALSE(c->disks[0].record_unknown);
    EXPECT_FALSE(c->disks[0].degrade_needed);
    select(*c);
    EXPECT_EQ(c->last_write.fault, ov::write_fault::none);
    EXPECT_TRUE(bytes() == before) << "a record was written next to an unreadable one";

    ASSERT_NE(c = scan(), nullptr);
    EXPECT_EQ(judgement(*c), healthy);
}

TEST_F(data_safety, a_disk_swapped_without_a_rescan_is_not_written)
{
    for (int port = 0; port < 2; ++port) {
        SCOPED_TRACE("port " + std::to_string(port));
        ASSERT_NO_FATAL_FAILURE(lay_out(layout::blank));
        ov::ovchip* c = scan();
        ASSERT_NE(c, nullptr);
        const uint64_t old_cap = cap[port];
        pull(port);
        ASSERT_NO_FATAL_FAILURE(insert(port, old_cap + 20000));
        write_bytes(image(port), (old_cap - 15) * 512, random_bytes(512, 99));
        const std::string old_record_sector = read_bytes(image(port), (old_cap - 15) * 512, 512);
        const pair_bytes before = bytes();

        EXPECT_FALSE(c->create_raid(1));
        EXPECT_EQ(c->last_write.fault, ov::write_fault::disk_changed) << fault_name(c->last_write.fault);
        EXPECT_EQ(c->last_write.bay, port + 1);
        EXPECT_TRUE(bytes() == before);
        EXPECT_EQ(read_bytes(image(port), (old_cap - 15) * 512, 512), old_record_sector);
    }
}

TEST_F(data_safety, a_cleared_disk_whose_write_fails_stays_in_its_set)
{
    // The record write, and the last wipe write after the record and 63 sectors are gone.
    for (const int skip : {0, 64})
        for (int port = 0; port < 2; ++port) {
            SCOPED_TRACE("port " + std::to_string(port) + " skip " + std::to_string(skip));
            ASSERT_NO_FATAL_FAILURE(lay_out(layout::stripe));
            ov::ovchip* c = scan();
            ASSERT_NE(c, nullptr);
            ASSERT_TRUE(c->raid_configured);
            const std::string before_text = judgement(*c);
            const pair_bytes before = bytes();
            ASSERT_NO_FATAL_FAILURE(fail("ovSetRaidInfo", "once", port, skip));
            EXPECT_FALSE(c->clear_disk(port == 1));
            EXPECT_EQ(c->last_write.fault, ov::write_fault::write_failed) << fault_name(c->last_write.fault);
            EXPECT_EQ(c->last_write.bay, port + 1);
            EXPECT_FALSE(c->last_write.restore_failed);
            ASSERT_NO_FATAL_FAILURE(settle_bridge());
            EXPECT_TRUE(bytes()[port].head == before[port].head) << "sectors 0..63 were wiped";
            EXPECT_TRUE(bytes() == before);
            ASSERT_NE(c = scan(), nullptr);
            EXPECT_EQ(judgement(*c), before_text);
        }
}

TEST_F(data_safety, failed_flushes_restarts_and_read_backs_are_reported)
{
    struct fault_case {
        const char* name;
        layout start;
        std::function<bool(ov::ovchip&)> run;
        const char* call;
        const char* mode;
        int port;
        int skip;
        ov::write_fault expected;
    };
    const auto create = [](ov::ovchip& c) { return c.create_raid(2); };
    const auto rebuild = [](ov::ovchip& c) { return c.rebuild(false); };
    const fault_case cases[] = {
        {"create, flush", layout::blank, create, "ovFlushHDDCache", "once", 1, 0, ov::write_fault::flush_failed},
        {"delete, flush", layout::stripe, [](ov::ovchip& c) { return c.clear_raid(); }, "ovFlushHDDCache", "once", 0,
         0, ov::write_fault::flush_failed},
        {"clear-disk, flush", layout::stripe, [](ov::ovchip& c) { return c.clear_disk(true); }, "ovFlushHDDCache",
         "once", 1, 0, ov::write_fault::flush_failed},
        {"rebuild, flush", layout::lone0, rebuild, "ovFlushHDDCache", "once", 1, 0, ov::write_fault::flush_failed},
        {"rebuild, restart", layout::lone0, rebuild, "ovWarmBoot", "once", -1, 0, ov::write_fault::restart_failed},
        // Port 0 is read twice for each of its two sectors, then sector 0 is written and
        // read back, then the record: the sixth read is the record's read-back.
        {"create, record read-back", layout::blank, create, "ovGetRaidInfo", "mismatch", 0, 5,
         ov::write_fault::write_failed},
    };
    for (const fault_case& fc : cases) {
        SCOPED_TRACE(fc.name);
        ASSERT_NO_FATAL_FAILURE(lay_out(fc.start));
        ov::ovchip* c = scan();
        ASSERT_NE(c, nullptr);
        const std::string before_text = judgement(*c);
        const pair_bytes before = bytes();
        ASSERT_NO_FATAL_FAILURE(fail(fc.call, fc.mode, fc.port, fc.skip));
        EXPECT_FALSE(fc.run(*c));
        const ov::write_report rep = c->last_write;
        EXPECT_EQ(rep.fault, fc.expected) << fault_name(rep.fault);
        EXPECT_FALSE(rep.restore_failed);
        EXPECT_TRUE(failures_left().empty());
        ASSERT_NO_FATAL_FAILURE(settle_bridge());
        ASSERT_NE(c = scan(), nullptr);
        if (fc.expected == ov::write_fault::restart_failed) {
            // The records stay: the rebuild starts with the next restart.
            EXPECT_TRUE(rep.rebuild);
            EXPECT_TRUE(c->rebuilding) << judgement(*c);
            EXPECT_TRUE(note_left());
        } else {
            EXPECT_EQ(rep.bay, fc.port + 1);
            EXPECT_TRUE(bytes() == before);
            EXPECT_EQ(judgement(*c), before_text);
        }
    }
}

// The window degrades a lone half as it is selected. The older half, selected alone later,
// must not be degraded too: its stamp would then pass the newer half's, and it would be
// taken for the current data and rebuilt over that half.
TEST_F(data_safety, the_older_half_alone_is_never_made_the_newer)
{
    ASSERT_NO_FATAL_FAILURE(lay_out(layout::mirror));
    const std::string serial0 = serial[0], serial1 = serial[1];
    const std::string older = pull(1);
    ASSERT_NE(handle(), nullptr);
    const std::string newer_record = bytes()[0].record;
    write_bytes(image(0), 1000 * 512, random_bytes(4096, 11));
    const std::string newer = pull(0);
    ASSERT_NO_FATAL_FAILURE(insert_back(1, older, cap1, serial1));
    const std::string older_record = bytes()[1].record;
    ov::ovchip* c = handle();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(bytes()[1].record, older_record) << "the older half was degraded: " << judgement(*c);
    EXPECT_EQ(ov::summarize(*c).current_bay, 0) << judgement(*c);

    ASSERT_NO_FATAL_FAILURE(insert_back(0, newer, cap0, serial0));
    ASSERT_NE(c = handle(), nullptr);
    EXPECT_EQ(bytes()[0].record, newer_record);
    EXPECT_EQ(c->disks[0].raid1_role, 1u) << judgement(*c);
    EXPECT_TRUE(ov::rebuild_offered(*c, 0)) << judgement(*c);
    std::string partner;
    EXPECT_TRUE(ov::superseded_half(*c, 1, partner)) << "rebuilding from the older half is not asked about";
}

// With no front end looking, the bridge marks the half it goes on running alone (at the pull,
// or at its next power-up when it had none), so the half pulled is the older one when it comes
// back; nothing it does not run in step is marked, nor the older half powered up alone.
TEST_F(data_safety, a_pull_marks_newer_only_the_half_left_running_in_step)
{
    const auto plug = [&](bool plugged) {
        ASSERT_TRUE(ov::sim::set_plugged(st->root(), safety_bridge, plugged, error)) << error;
        enc->sync();
        if (plugged) {
            ASSERT_TRUE(eventually([&] { return enc->service_of(safety_bridge) != 0; }));
        }
    };
    const auto stamp_of = [&](int port) { return bytes()[port].record.substr(480, 16); };
    struct row {
        layout l;
        int pulled;
        bool unplugged, marked;
        const char* name;
    };
    const row rows[] = {
        {layout::mirror, 1, false, true, "mirror, Bay 2 pulled"},
        {layout::mirror, 0, false, true, "mirror, Bay 1 pulled"},
        {layout::mirror, 1, true, true, "mirror, pulled unplugged: marked when plugged"},
        {layout::newer0, 0, false, false, "out of step, the newer half pulled"},
        {layout::newer1, 0, true, false, "out of step, the older half pulled unplugged"},
        {layout::stripe, 1, false, false, "stripe"},
        {layout::lone0, 1, false, false, "degraded half beside a blank disk"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        ASSERT_NO_FATAL_FAILURE(lay_out(r.l));
        const int left = 1 - r.pulled;
        const uint64_t pulled_cap = cap[r.pulled];
        const std::string pulled_serial = serial[r.pulled], before = bytes()[left].record;
        if (r.unplugged) {
            ASSERT_NO_FATAL_FAILURE(plug(false));
        }
        const std::string disk = pull(r.pulled);
        if (r.unplugged) {
            EXPECT_EQ(bytes()[left].record, before) << "marked without power";
            ASSERT_NO_FATAL_FAILURE(plug(true));
        }
        const std::string after = bytes()[left].record;
        if (!r.marked) {
            EXPECT_EQ(after, before);
            continue;
        }
        // Only the stamp changes: the record still names the partner a front end notes.
        EXPECT_EQ(after.substr(0, 480), before.substr(0, 480));
        EXPECT_EQ(after.substr(496), before.substr(496));
        EXPECT_GT(ov::compare_stamps(reinterpret_cast<const unsigned char*>(after.data()) + 480,
                                     reinterpret_cast<const unsigned char*>(before.data()) + 480),
                  0);
        // Written while alone, then the pulled half put back: not healthy, and the half that
        // ran alone is the current one.
        write_bytes(image(left), 1000 * 512, random_bytes(4096, 12));
        ASSERT_NO_FATAL_FAILURE(insert_back(r.pulled, disk, pulled_cap, pulled_serial));
        ov::ovchip* c = scan();
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(ov::summarize(*c).state, ov::chip_state::out_of_step) << judgement(*c);
        EXPECT_EQ(ov::summarize(*c).current_bay, left + 1) << judgement(*c);
        EXPECT_TRUE(ov::rebuild_offered(*c, left)) << judgement(*c);
        EXPECT_TRUE(ov::question_before(*c, ov::command::rebuild, r.pulled).no_by_default) << judgement(*c);
    }

    // The older half alone at a power-up is not what the bridge last ran: left as it is.
    SCOPED_TRACE("the older half powered up alone");
    ASSERT_NO_FATAL_FAILURE(lay_out(layout::mirror));
    const std::string serial0 = serial[0], serial1 = serial[1];
    const std::string older = pull(1);
    ASSERT_NO_FATAL_FAILURE(plug(false));
    const std::string newer = pull(0);
    ASSERT_NO_FATAL_FAILURE(insert_back(1, older, cap1, serial1));
    const std::string older_stamp_was = stamp_of(1);
    ASSERT_NO_FATAL_FAILURE(plug(true));
    EXPECT_EQ(stamp_of(1), older_stamp_was);
    ASSERT_NO_FATAL_FAILURE(insert_back(0, newer, cap0, serial0));
    ov::ovchip* c = scan();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(ov::summarize(*c).current_bay, 1) << judgement(*c);
}

// A half pulled with no window looking goes on alone (its bridge marks it), and the other, put
// in alone later, is degraded by the window: each was written alone, and neither may be copied
// over the other on a plain answer, whatever the stamps say (a future stamp makes them equal).
TEST_F(data_safety, two_halves_each_written_alone_are_neither_current)
{
    for (const char* pair_stamp : {older_stamp, "29990101000000"}) {
        SCOPED_TRACE(pair_stamp);
        ASSERT_NO_FATAL_FAILURE(lay_out(layout::mirror));
        ASSERT_NO_FATAL_FAILURE(put_set(ov::mode_raid1, mirror_size, pair_stamp, pair_stamp));
        const std::string serial0 = serial[0], serial1 = serial[1];
        const std::string a = pull(0);
        write_bytes(image(1), 1000 * 512, random_bytes(4096, 13));
        const std::string b = pull(1);
        ASSERT_NO_FATAL_FAILURE(insert_back(0, a, cap0, serial0));
        ASSERT_NE(handle(), nullptr);
        ASSERT_NO_FATAL_FAILURE(insert_back(1, b, cap1, serial1));
        ov::ovchip* c = handle();
        ASSERT_NE(c, nullptr);
        const ov::chip_summary shown = ov::summarize(*c);
        EXPECT_EQ(shown.state, ov::chip_state::out_of_step) << judgement(*c);
        EXPECT_EQ(shown.current_bay, 0) << judgement(*c);
        EXPECT_EQ(ov::question_before(*c, ov::command::rebuild, 0).text.at(0).key, "rebuild_from_diverged");
        for (int port = 0; port < 2; ++port)
            EXPECT_TRUE(ov::question_before(*c, ov::command::rebuild, port).no_by_default) << port;

        // Without the notes (another user) the stamps alone never read as one healthy set:
        // a degrade never takes the stamp a bridge's mark gives.
        const std::string notes = ov::rebuild_notes::path();
        ASSERT_EQ(std::rename(notes.c_str(), (notes + ".aside").c_str()), 0);
        ASSERT_NE(c = scan(), nullptr);
        EXPECT_EQ(ov::summarize(*c).state, ov::chip_state::out_of_step) << judgement(*c);
        ASSERT_EQ(std::rename((notes + ".aside").c_str(), notes.c_str()), 0);

        // Settled since (a rebuild elsewhere left both records alike): the note no longer counts.
        ASSERT_NO_FATAL_FAILURE(put_set(ov::mode_raid1, mirror_size, newer_stamp, newer_stamp));
        ASSERT_NE(c = scan(), nullptr);
        EXPECT_EQ(ov::summarize(*c).state, ov::chip_state::healthy) << judgement(*c);
    }

    // A mark the bridge cannot make at its power-up (no stamp sorts after the record's) fails
    // the plug, and is tried again at the next.
    ASSERT_NO_FATAL_FAILURE(lay_out(layout::mirror));
    ASSERT_NO_FATAL_FAILURE(put_set(ov::mode_raid1, mirror_size, "99999999999999", "99999999999999"));
    ASSERT_TRUE(ov::sim::set_plugged(st->root(), safety_bridge, false, error)) << error;
    pull(0);
    for (const char* spoiled : {"", "garbage\n"}) {
        // One that cannot be read is not dropped either: each power-up says so.
        if (*spoiled)
            spit(st->root() + "/.firmware/" + safety_bridge + ".set", spoiled);
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_FALSE(ov::sim::set_plugged(st->root(), safety_bridge, true, error)) << attempt;
            EXPECT_NE(error.find(*spoiled ? "/u.set:1: cannot read" : "not marked"), std::string::npos) << error;
            ASSERT_TRUE(st->set_plugged(safety_bridge, false, error)) << error;
        }
    }
}

TEST_F(data_safety, a_degrade_stamps_later_than_the_record_it_replaces_within_one_second)
{
    ASSERT_NO_FATAL_FAILURE(lay_out(layout::lone_half));
    unsigned char now[16] = {};
    ov::GetTimeString(now);
    put_record(0, ov::mode_raid1, mirror_size, disk_c(), reinterpret_cast<const char*>(now));
    ov::ovchip* c = scan();
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(c->disks[0].degrade_needed);
    select(*c);
    ASSERT_EQ(c->last_write.fault, ov::write_fault::none);
    const std::string record = bytes()[0].record;
    EXPECT_GT(ov::compare_stamps(reinterpret_cast<const unsigned char*>(record.data()) + 480, now), 0)
        << record.substr(480, 14) << " is not later than " << reinterpret_cast<const char*>(now);
}

// ---- interrupted rebuilds -------------------------------------------------------------

// How a running copy is cut short, and how things are put back afterwards.
enum class cut { target, source, target_then_source, source_then_target, unplug, restart, source_then_power_cycle };

struct cut_row {
    cut how;
    bool target_back_first;  // when both were pulled
    const char* name;
};

TEST_F(data_safety, a_rebuild_cut_short_anywhere_never_overwrites_the_current_disk_nor_copies_the_partial_one)
{
    const cut_row cuts[] = {
        {cut::target, true, "target pulled"},
        {cut::source, true, "source pulled"},
        {cut::target_then_source, true, "target, source pulled; target back first"},
        {cut::target_then_source, false, "target, source pulled; source back first"},
        {cut::source_then_target, true, "source, target pulled; target back first"},
        {cut::source_then_target, false, "source, target pulled; source back first"},
        {cut::unplug, true, "enclosure unplugged"},
        {cut::restart, true, "controller restarted"},
        {cut::source_then_power_cycle, true, "source pulled, the enclosure unplugged and plugged"},
    };
    for (const int percent : {0, 1, 50, 99, 100}) {
        for (const cut_row& row : cuts) {
            SCOPED_TRACE(std::string(row.name) + " at " + std::to_string(percent) + " %");
            // 500 steps of the copy, 2 ms each on the suites' clock: every percentage is
            // reached within a step or two.
            ASSERT_NO_FATAL_FAILURE(lay_out(layout::lone0, 50));
            const std::string source_serial = serial[0], target_serial = serial[1];
            write_bytes(image(0), 20000 * 512, random_bytes(64 << 10, 7));
            write_bytes(image(0), (mirror_size - 1) * 512, random_bytes(512, 8));
            const std::string current_data = base_dir() + "/current-data";
            spit(current_data, read_bytes(image(0), 0, mirror_size * 512));
            ov::ovchip* c = scan();
            ASSERT_NE(c, nullptr);
            ASSERT_TRUE(c->rebuild(false)) << fault_name(c->last_write.fault);
            ASSERT_NO_FATAL_FAILURE(settle_bridge_keeping_copy());
            ASSERT_NE(c = scan(), nullptr);
            const std::string target_record = bytes()[1].record;

            // What every look and every selection must keep: the source's data as it was,
            // the partial copy never a source, never current, never a set of its own.
            const auto check = [&](const char* when) {
                SCOPED_TRACE(when);
                if (cap[0] != 0 && serial[0] == source_serial) {
                    EXPECT_EQ(first_difference(image(0), current_data, mirror_size * 512), -1)
                        << "the disk with the current data was written";
                }
                if (c == nullptr || cap[1] == 0)
                    return;
                EXPECT_FALSE(ov::rebuild_offered(*c, 1)) << judgement(*c);
                EXPECT_FALSE(ov::refusal(*c, ov::command::rebuild, 1).empty()) << judgement(*c);
                EXPECT_NE(c->disks[1].raid1_role, 1u) << judgement(*c);
                EXPECT_FALSE(c->disks[1].degrade_needed) << judgement(*c);
                if (cap[0] == 0) {
                    EXPECT_EQ(bytes()[1].record, target_record) << "the partial copy was rewritten alone";
                }
            };
            // A device handling: a look, then the selection and what it may write.
            const auto handle = [&](const char* when) {
                enc->sync();
                c = scan();
                check(when);
                if (c == nullptr)
                    return;
                select(*c);
                c = scan();
                check(when);
            };

            // Run the copy up to the percentage (100: to its end, its marks not yet cleared).
            ov::sim::rebuild_progress p;
            const auto reached = [&] {
                std::string e;
                if (!ov::sim::read_progress(st->root(), safety_bridge, p, e))
                    return false;
                if (percent == 100)
                    return p.state == ov::sim::rebuild_progress::kind::done;
                return p.state == ov::sim::rebuild_progress::kind::done ||
                       (p.state == ov::sim::rebuild_progress::kind::running && p.total > 0 &&
                        p.current * 100 >= p.total * static_cast<uint64_t>(percent));
            };
            const auto deadline = std::chrono::steady_clock::now() + 60s;
            while (!reached() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(100us);
            ASSERT_TRUE(reached()) << "the copy never got there";
            // What follows needs no pacing: a copy started anew runs at once.
            ov::sim::bridge_desc b;
            ASSERT_TRUE(st->read_bridge(safety_bridge, b, error)) << error;
            b.rebuild_seconds = 0;
            const auto unpaced = [&] {
                // Replaced whole, as the store writes it, so the firmware never reads half a file.
                const std::string conf = st->bridge_dir(safety_bridge) + "/bridge.conf";
                spit(conf + ".new", ov::sim::format_bridge_conf(b));
                ASSERT_EQ(std::rename((conf + ".new").c_str(), conf.c_str()), 0);
            };

            std::string target_disk, source_disk;
            switch (row.how) {
            case cut::target:
                target_disk = pull(1);
                break;
            case cut::source:
                source_disk = pull(0);
                break;
            case cut::target_then_source:
                target_disk = pull(1);
                handle("target pulled");
                source_disk = pull(0);
                break;
            case cut::source_then_target:
                source_disk = pull(0);
                handle("source pulled");
                target_disk = pull(1);
                break;
            case cut::unplug:
                ASSERT_TRUE(st->set_plugged(safety_bridge, false, error)) << error;
                break;
            case cut::restart:
                ASSERT_NO_FATAL_FAILURE(unpaced());
                ASSERT_TRUE(c->warm_boot());
                break;
            case cut::source_then_power_cycle:
                // Powered up without the source: the copy its records ask for waits for it.
                source_disk = pull(0);
                handle("source pulled");
                ASSERT_TRUE(ov::sim::set_plugged(st->root(), safety_bridge, false, error)) << error;
                ASSERT_TRUE(ov::sim::set_plugged(st->root(), safety_bridge, true, error)) << error;
                break;
            }
            ASSERT_NO_FATAL_FAILURE(unpaced());
            handle("cut");

            // Put back in the row's order, each step handled.
            const auto put_target = [&] {
                if (!target_disk.empty())
                    insert_back(1, target_disk, cap1, target_serial);
                handle("target back");
            };
            const auto put_source = [&] {
                if (!source_disk.empty())
                    insert_back(0, source_disk, cap0, source_serial);
                handle("source back");
            };
            if (row.target_back_first) {
                put_target();
                put_source();
            } else {
                put_source();
                put_target();
            }
            ASSERT_NO_FATAL_FAILURE(settle_bridge());
            handle("back");

            // What a user does next ends with one healthy mirror holding the source's data. A
            // copy the records still ask for has run again once both halves were back: none is
            // left standing still. One whose source the selection made stand alone starts anew.
            c = scan();
            ASSERT_NE(c, nullptr);
            if (!c->raid_configured || c->rebuilding) {
                ASSERT_TRUE(ov::sim::read_progress(st->root(), safety_bridge, p, error)) << error;
                if (c->rebuilding) {
                    ASSERT_NE(p.state, ov::sim::rebuild_progress::kind::stopped) << judgement(*c);
                } else {
                    ASSERT_TRUE(ov::rebuild_offered(*c, 0)) << judgement(*c);
                    ASSERT_TRUE(c->rebuild(false)) << fault_name(c->last_write.fault);
                    ASSERT_NO_FATAL_FAILURE(settle_bridge());
                    c = scan();
                    ASSERT_NE(c, nullptr);
                }
                check("finishing");
                ASSERT_TRUE(ov::sim::read_progress(st->root(), safety_bridge, p, error)) << error;
                ASSERT_EQ(p.state, ov::sim::rebuild_progress::kind::done) << judgement(*c);
                ASSERT_TRUE(c->rebuilding) << judgement(*c);
                c->finish_rebuild();
                ASSERT_NO_FATAL_FAILURE(settle_bridge());
                ASSERT_TRUE(c->warm_boot());
                ASSERT_NO_FATAL_FAILURE(settle_bridge());
                c = scan();
                ASSERT_NE(c, nullptr);
            }
            EXPECT_TRUE(c->raid_configured) << judgement(*c);
            EXPECT_EQ(c->raid_mode, ov::mode_raid1);
            EXPECT_FALSE(c->rebuilding) << judgement(*c);
            EXPECT_EQ(first_difference(image(0), current_data, mirror_size * 512), -1);
            EXPECT_EQ(first_difference(image(1), current_data, mirror_size * 512), -1)
                << "the mirror's second half does not hold the set";
            if (HasFatalFailure() || HasNonfatalFailure())
                return;
        }
    }
}

TEST_F(data_safety, a_bridge_that_cannot_be_opened_is_left_out_with_a_notice)
{
    ASSERT_NO_FATAL_FAILURE(open_root());
    ASSERT_NO_FATAL_FAILURE(insert(0, cap0));
    ov::sim::bridge_desc other;
    other.name = "v";
    other.location_id = 0x14400000;
    other.usb_serial = "OTHER";
    ASSERT_TRUE(st->add_bridge(other, error)) << error;
    ov::sim::disk_desc d{"Harbor HDv", "SN-v", cap0, "lba48", false};
    ASSERT_TRUE(st->make_disk("v0", d, error)) << error;
    ASSERT_TRUE(st->insert_disk("v", 0, "v0", error)) << error;
    ASSERT_NO_FATAL_FAILURE(plug_in());
    ASSERT_TRUE(st->add_failure("v", ov::sim::failure_desc{"openConnection", "once", -1, 0}, error)) << error;

    window.clear();
    scan();
    ASSERT_EQ(ov::j.chips.size(), 1u);
    EXPECT_EQ(ov::j.chips[0].identity.location_id, 0x14300000);
    EXPECT_EQ(ov::j.chips[0].disks[0].serial, serial[0]);
    bool noticed = false;
    for (const std::string& r : window.requests()) {
        EXPECT_NE(r.rfind("show_error_and_exit", 0), 0u) << r;
        noticed = noticed || r.rfind("notice ", 0) == 0;
    }
    EXPECT_TRUE(noticed);

    // The next scan finds both.
    scan();
    EXPECT_EQ(ov::j.chips.size(), 2u);
}

}  // namespace
}  // namespace ovtest
