// Shared set-up of the data-safety suite: one simulated bridge with two disks whose
// first sectors hold data, records laid down directly on the images, a scan the way a
// device handling makes it, and the bytes a configuration write may touch, so a test
// can tell "as before" from "as completed".
#pragma once

#include <stdlib.h>

#include <array>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "chip_fixture.h"
#include "registry.h"
#include "safety.h"
#include "sim/enclosure.h"
#include "sim/store.h"
#include "sim_fixture.h"
#include "temp_dir.h"
#include "test_data.h"

namespace ovtest {

constexpr const char* safety_bridge = "u";
constexpr uint64_t head_sectors = 64;

// What a configuration write may touch on one disk: sectors 0..63 and the record.
struct disk_bytes {
    std::string head;
    std::string record;
    bool operator==(const disk_bytes& o) const { return head == o.head && record == o.record; }
    bool operator!=(const disk_bytes& o) const { return !(*this == o); }
};
using pair_bytes = std::array<disk_bytes, 2>;

inline const char* fault_name(ov::write_fault f)
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

inline std::string printable(const unsigned char* p, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '.';
    ov::trim(s);
    return s;
}

// What a scan makes of one chip, stamps left out: the same text means the same judgement.
inline std::string judgement(const ov::ovchip& c)
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

class safety_test : public engine_test {
protected:
    temp_dir dir;
    std::unique_ptr<ov::sim::store> st;
    std::unique_ptr<ov::sim::enclosure> enc;
    std::string error;
    uint64_t cap[2] = {0, 0};  // sectors of the disk in each port, 0 = empty
    std::string serial[2];
    int roots = 0;
    int disks_made = 0;

private:
    std::string shm_dir_;

protected:

    void TearDown() override
    {
        close_root();
        engine_test::TearDown();
        if (!shm_dir_.empty() && shm_dir_ != "-") {
            std::error_code ec;
            std::filesystem::remove_all(shm_dir_, ec);
        }
    }

    // Every write ends in a cache flush, which the simulator makes an fdatasync of the
    // image: on a memory file system that costs nothing, on a disk it dominates the matrix.
    std::string base_dir()
    {
        if (shm_dir_.empty()) {
            char pattern[] = "/dev/shm/ovraid-safety-XXXXXX";
            shm_dir_ = ::mkdtemp(pattern) ? pattern : "-";
        }
        return shm_dir_ != "-" ? shm_dir_ : dir.path();
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
        stop_all_monitors();
        reset_registry();
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
        simtest::pwrite_bytes(image(port), 0, random_bytes(head_sectors * 512, static_cast<unsigned>(disks_made)));
    }

    // Back to the shelf; the name is returned for a later insert_back.
    std::string pull(int port)
    {
        std::string name;
        EXPECT_TRUE(st->pull_disk(safety_bridge, port, name, error)) << error;
        cap[port] = 0;
        return name;
    }

    void insert_back(int port, const std::string& name, uint64_t sectors, const std::string& disk_serial)
    {
        ASSERT_TRUE(st->insert_disk(safety_bridge, port, name, error)) << error;
        cap[port] = sectors;
        serial[port] = disk_serial;
    }

    // A record written straight onto the image, naming partner (nullptr: no partner).
    void put_record(int port, int mode, uint64_t size, const ov::ovdisk* partner, const char* stamp, int flags = 0)
    {
        static const unsigned char none[40] = {};
        const stamp16 s(stamp);
        const ov::raid_info r = ov::create_raid_struct(mode, port, flags, 0, size, partner ? partner->serial_raw : none,
                                                       partner ? partner->model_raw : none, false, s.bytes);
        simtest::pwrite_bytes(image(port), (cap[port] - 15) * 512,
                              std::string(reinterpret_cast<const char*>(r.data()), 512));
    }

    // Both records of one set made at one moment.
    void put_set(int mode, uint64_t size, const char* stamp = older_stamp)
    {
        ov::ovchip* c = scan();
        ASSERT_NE(c, nullptr);
        const ov::ovdisk d0 = c->disks[0], d1 = c->disks[1];
        put_record(0, mode, size, &d1, stamp);
        put_record(1, mode, size, &d0, stamp);
    }

    // What a device handling does before it selects: list, identities, records. Nullptr
    // when the bridge is not listed.
    ov::ovchip* scan()
    {
        stop_all_monitors();
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

    pair_bytes bytes() const
    {
        pair_bytes b;
        for (int p = 0; p < 2; ++p)
            if (cap[p]) {
                b[p].head = simtest::pread_bytes(image(p), 0, head_sectors * 512);
                b[p].record = simtest::pread_bytes(image(p), (cap[p] - 15) * 512, 512);
            }
        return b;
    }

    void put_bytes(const pair_bytes& b)
    {
        for (int p = 0; p < 2; ++p)
            if (cap[p]) {
                simtest::pwrite_bytes(image(p), 0, b[p].head);
                simtest::pwrite_bytes(image(p), (cap[p] - 15) * 512, b[p].record);
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
};

}  // namespace ovtest
