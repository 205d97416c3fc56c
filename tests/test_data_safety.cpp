// Data safety of the configuration writes on the simulated enclosure. A fault matrix
// makes every library call of every write fail in turn (once, with the bridge vanishing,
// or with the data changed on the way) and judges what is left on the disks; the tests
// after it each hold one fault that was seen, in the setting that showed it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>

#include "safety_fixture.h"

namespace ovtest {
namespace {

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

class data_safety : public safety_test {
protected:
    void lay_out(layout l)
    {
        ASSERT_NO_FATAL_FAILURE(open_root());
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
            put_record(0, ov::mode_raid1, mirror_size, nullptr, older_stamp);
            break;
        case layout::lone1:
            put_record(1, ov::mode_raid1, mirror_size, nullptr, older_stamp);
            break;
        case layout::newer0:
        case layout::newer1: {
            ov::ovchip* c = scan();
            ASSERT_NE(c, nullptr);
            const ov::ovdisk d0 = c->disks[0], d1 = c->disks[1];
            put_record(0, ov::mode_raid1, mirror_size, &d1, l == layout::newer0 ? newer_stamp : older_stamp);
            put_record(1, ov::mode_raid1, mirror_size, &d0, l == layout::newer1 ? newer_stamp : older_stamp);
            break;
        }
        case layout::lone_half: {
            const ov::ovdisk gone = disk_c();
            put_record(0, ov::mode_raid1, mirror_size, &gone, older_stamp);
            break;
        }
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
        for (const ov::sim::failure_spec& f : failures_left())
            made[f.call] = counting_skip - f.skip;
        ASSERT_NO_FATAL_FAILURE(settle_bridge());
        c = scan();
        ASSERT_NE(c, nullptr);
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

        bool fresh = false;  // the chip in the list is not yet the one the bytes give
        std::remove(ov::rebuild_notes::path().c_str());
        put_bytes(before);
        c = scan();
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(judgement(*c), before_text);
        for (const planned& p : plan) {
            ++runs;
            if (fresh) {
                ov::j.chips[0] = pristine;
                ov::j.chips[0].service = enc->service_of(safety_bridge);
                c = &ov::j.chips[0];
            }
            fresh = true;
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
                fresh = false;
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
            else if (op.rebuild && completed != noted)
                problem = completed ? "the rebuild note is missing" : "the rebuild note was left behind";
            else if (!completed) {
                for (int port = 0; port < 2; ++port) {
                    if (after[port] == before[port])
                        continue;
                    if (rep.restore_failed && rep.restore_bay == port + 1)
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
            if (after != before) {
                put_bytes(before);
                c = nullptr;
            }
            if (!fresh && (c == nullptr || judgement(*c) != before_text)) {
                c = scan();
                ASSERT_NE(c, nullptr);
                ASSERT_EQ(judgement(*c), before_text) << "could not put the disks back";
                fresh = false;
            }
            if (c == nullptr) {
                c = scan();
                ASSERT_NE(c, nullptr);
                ASSERT_EQ(judgement(*c), before_text) << "could not put the disks back";
                fresh = false;
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

// Fails: once the bridge is gone nothing can be put back, and the report names one bay
// (restore_bay) while sectors of BOTH disks stay changed. E.g. create raid1 on a blank
// pair, ovSetRaidInfo vanishing at skip 1 (sector 0 of bay 2): false, write_failed,
// restore-failed bay 2, but sector 0 of bay 1 is left zeroed and unreported; delete
// raid0 with the second record write vanishing leaves bay 1's record zeroed while only
// bay 2 is named. A report able to name both bays would make this pass.
TEST_F(data_safety, DISABLED_a_bridge_vanishing_mid_write_names_every_disk_it_leaves_changed)
{
    run_matrix({"vanish"});
}

}  // namespace
}  // namespace ovtest
