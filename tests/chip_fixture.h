// Shared set-up of the engine suites that drive chips through the scripted library:
// disks built from IDENTIFY blocks, records built the way the engine builds them, a
// registry reset before and after every test, and helpers that look at the registry
// mutex from another thread.
#pragma once

#include "engine_reset.h"
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "library.h"
#include "ovchip.h"
#include "ovdisk.h"
#include "ovtool.h"
#include "raid.h"
#include "recording_window.h"
#include "requests.h"
#include "scripted_library.h"

namespace ovtest {

using namespace std::chrono_literals;

// A disk as the identity reading leaves it: decoded from a real IDENTIFY block, present,
// and seen by its presence register.
inline ov::ovdisk make_disk(const std::string& model, const std::string& serial, uint64_t sectors,
                            const std::string& addressing = "lba48")
{
    ov::ovdisk d;
    const sector id = make_identify(model, serial, sectors, addressing);
    d.initialize(id.data());
    d.present = true;
    d.register_present = true;
    return d;
}

// The calls of a configuration write from its first sector write on: before it come the
// identity checks and the reads of what is there, which their own tests look at.
inline std::vector<call> from_first_write(const std::vector<call>& calls)
{
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].name == "ovSetRaidInfo" || calls[i].name == "ovSetRaidInfoFW")
            return std::vector<call>(calls.begin() + static_cast<std::ptrdiff_t>(i), calls.end());
    return {};
}

// An empty port.
inline ov::ovdisk no_disk()
{
    return ov::ovdisk{};
}

// A disk the presence register reports but that gave no valid IDENTIFY (spinning up).
inline ov::ovdisk silent_disk()
{
    ov::ovdisk d;
    d.register_present = true;
    return d;
}

inline ov::ovdisk disk_a(uint64_t sectors = 2000000)
{
    return make_disk("ST2000DM001-1CH164", "Z1E2A3B4", sectors);
}

inline ov::ovdisk disk_b(uint64_t sectors = 2000100)
{
    return make_disk("WDC WD20EZRX-00D8PB0", "WD-WCC4M0123456", sectors);
}

inline ov::ovdisk disk_c(uint64_t sectors = 3000000)
{
    return make_disk("Hitachi HDS723030ALA640", "MK0301YHG1AB2C", sectors);
}

// A 16-byte stamp field: the 14 digits and two zero bytes.
struct stamp16 {
    unsigned char bytes[16] = {};
    explicit stamp16(const char* digits) { std::memcpy(bytes, digits, std::min<size_t>(16, std::strlen(digits))); }
};

constexpr const char* older_stamp = "20110203090507";
constexpr const char* newer_stamp = "20110203090508";

// A record naming `partner` as the other member.
inline ov::raid_info record_for(int mode, int member, uint64_t capacity, const ov::ovdisk& partner,
                                const char* stamp = older_stamp, int flags = 0, bool over_2tb = false)
{
    const stamp16 s(stamp);
    return ov::create_raid_struct(mode, member, flags, 0, capacity, partner.serial_raw, partner.model_raw, over_2tb,
                                  s.bytes);
}

inline sector bytes_of(const ov::raid_info& r)
{
    sector s;
    std::memcpy(s.data(), r.data(), 512);
    return s;
}

inline bool all_zero(const unsigned char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

// Polls a condition in real time.
inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20000ms)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Whether the registry mutex is held by someone, judged from a thread of its own (the
// caller may be the holder, and a std::mutex cannot be probed by its owner).
inline bool registry_mutex_held()
{
    bool taken = false;
    std::thread probe([&] {
        taken = ov::j.mutex.try_lock();
        if (taken)
            ov::j.mutex.unlock();
    });
    probe.join();
    return !taken;
}

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
    bool queued() const { return thread_.joinable(); }
    size_t acquired_after()
    {
        if (thread_.joinable())
            thread_.join();
        return acquired_after_;
    }
    ~lock_contender()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
    size_t acquired_after_ = 0;
};

// Windows are never destroyed: a RAID 1 timer's last act is a refresh request, made after
// it cleared its alive flag, so nothing orders the end of that request before a
// destruction. They stay reachable from the pool, so they are no leak either.
inline recording_window& fresh_window()
{
    static std::mutex guard;
    static auto* pool = new std::vector<recording_window*>();
    std::lock_guard<std::mutex> lock(guard);
    pool->push_back(new recording_window());
    return *pool->back();
}

class engine_test : public ::testing::Test {
protected:
    scripted_library lib;
    recording_window& win = fresh_window();

    void SetUp() override
    {
        if (!std::getenv("OVRAID_TIME_SCALE"))
            ov::set_time_scale(50);
        stop_all_monitors();
        reset_registry();
        ov::install_library(&lib);
        ov::set_ctrller(&win);
    }

    void TearDown() override
    {
        stop_all_monitors();
        ov::simulate_thread_creation_failure(false);
        ov::override_architecture(-1);
        ov::install_library(nullptr);
        ov::set_ctrller(nullptr);
        reset_registry();
    }

    // Ends every monitor of every chip and makes sure none is left behind.
    static void stop_all_monitors()
    {
        for (ov::ovchip& c : ov::j.chips) {
            c.raid1_timer_run = false;
            c.polling = false;
        }
        const bool ended = eventually([] {
            for (const ov::ovchip& c : ov::j.chips)
                if (c.poller_alive || c.raid1_timer_alive)
                    return false;
            return true;
        });
        if (!ended) {
            // Clearing the list under a live monitor would crash later tests in confusing ways.
            std::fprintf(stderr, "a monitor thread did not end\n");
            std::abort();
        }
        for (size_t i = 0; i < ov::j.chips.size(); ++i)
            ov::j.stop_monitors(static_cast<int>(i));
    }

    static void reset_registry() { ovtest::reset_engine_globals(); }

    // Puts a chip into the registry's list; its presence registers follow the disks.
    int add_chip(const ov::ovdisk& d0, const ov::ovdisk& d1, bool firewire = false, bool make_current = true)
    {
        const int index = static_cast<int>(ov::j.chips.size());
        ov::ovchip c;
        c.service = 0x3000 + static_cast<uint32_t>(index) * 0x10;
        c.identity.is_firewire = firewire;
        if (firewire) {
            c.identity.guid = 0x0030E00000A00000ULL + static_cast<uint64_t>(index);
            c.identity.order_key = c.identity.guid;
        } else {
            c.identity.vendor_id = 0x1E91;
            c.identity.product_id = 0x0A12;
            c.identity.location_id = 0x14100000 + index;
            c.identity.order_key = static_cast<uint64_t>(c.identity.location_id);
            c.identity.usb_serial = "SN" + std::to_string(index);
        }
        c.disks[0] = d0;
        c.disks[1] = d1;
        c.connection_open = true;
        // The disks answer IDENTIFY as they did at the scan, so writes find them unchanged.
        for (int port = 0; port < 2; ++port) {
            const ov::ovdisk& d = port == 0 ? d0 : d1;
            if (d.present)
                lib.identify[{c.service, port}] = identify_of(d);
        }
        lib.set_register(c.service, ov::reg_port0_presence, d0.register_present ? 1 : 0);
        lib.set_register(c.service, ov::reg_port1_presence, d1.register_present ? 1 : 0);
        ov::j.chips.push_back(c);
        if (make_current)
            ov::j.current = c.identity;
        ov::j.setup_controller_map();
        return index;
    }

    ov::ovchip& chip(int index = 0) { return ov::j.chips[static_cast<size_t>(index)]; }

    // Lets another scripted library answer IDENTIFY for the chip's disks as lib does.
    void identify_in(scripted_library& other, int index)
    {
        for (int port = 0; port < 2; ++port)
            if (chip(index).disks[port].present)
                other.identify[{chip(index).service, port}] = identify_of(chip(index).disks[port]);
    }

    uint64_t record_lba(int index, int port) { return chip(index).disks[port].capacity - 15; }

    void put_record(int index, int port, const ov::raid_info& r)
    {
        lib.set_sector(chip(index).service, port, record_lba(index, port), bytes_of(r));
    }

    sector stored(int index, int port, uint64_t lba)
    {
        sector s{};
        lib.get_sector(chip(index).service, port, lba, s);
        return s;
    }

    sector stored_record(int index, int port) { return stored(index, port, record_lba(index, port)); }

    // The library calls of one name, in order.
    std::vector<call> calls_named(const std::string& name) const
    {
        std::vector<call> out;
        for (const call& c : lib.calls())
            if (c.name == name)
                out.push_back(c);
        return out;
    }

    // The library calls that touch records and caches, leaving out the monitors' polling.
    std::vector<call> record_calls() const
    {
        static const std::set<std::string> wanted = {"ovGetRaidInfo", "ovGetRaidInfoFW", "ovSetRaidInfo",
                                                     "ovSetRaidInfoFW", "ovFlushHDDCache", "ovWarmBoot"};
        std::vector<call> out;
        for (const call& c : lib.calls())
            if (wanted.count(c.name))
                out.push_back(c);
        return out;
    }
};

// "ovSetRaidInfo 0 985" and the like: enough to compare call sequences at a glance.
inline std::string describe(const call& c)
{
    std::string s = c.name;
    if (c.port >= 0)
        s += " " + std::to_string(c.port);
    if (c.name.find("RaidInfo") != std::string::npos)
        s += " " + std::to_string(c.lba);
    return s;
}

inline std::vector<std::string> describe(const std::vector<call>& calls)
{
    std::vector<std::string> out;
    for (const call& c : calls)
        out.push_back(describe(c));
    return out;
}

}  // namespace ovtest
