// Shared set-up of the hot-plug, tree and storm suites: the scripted library, the
// in-memory registry and the recording window installed, and the notification thread
// run for real with a watch on how device handlings nest and where they run.
#pragma once

#include "engine_reset.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "library.h"
#include "ovtool.h"
#include "raid.h"
#include "recording_window.h"
#include "registry.h"
#include "requests.h"
#include "scripted_library.h"

namespace ovtest {

constexpr int32_t usb_vendor = 0x1E91;
constexpr int32_t usb_product = 0x0A12;

// No chip, no selection, no monitor left running from an earlier test.
inline void reset_engine()
{
    ovtest::stop_all_monitors();
    ovtest::reset_engine_globals();
}

inline ov::controller_t usb_identity(int32_t location, const std::string& serial = std::string())
{
    ov::controller_t id;
    id.is_firewire = false;
    id.vendor_id = static_cast<uint32_t>(usb_vendor);
    id.product_id = static_cast<uint32_t>(usb_product);
    id.location_id = location;
    id.order_key = static_cast<uint64_t>(static_cast<int64_t>(location));
    id.usb_serial = serial;
    return id;
}

inline ov::controller_t firewire_identity(uint64_t guid)
{
    ov::controller_t id;
    id.is_firewire = true;
    id.guid = guid;
    id.order_key = guid;
    return id;
}

// The outline as indented text, walked only through the outline questions.
inline void outline_walk(const ov::treeview::node_list& root, const ov::tree_node* item, int depth,
                         std::string& out)
{
    const int n = ov::treeview::number_of_children(root, item);
    for (int i = 0; i < n; ++i) {
        const ov::tree_node* c = ov::treeview::child(root, i, item);
        if (!c) {
            out += "<null child>\n";
            continue;
        }
        out += std::string(static_cast<size_t>(2 * depth), ' ') + ov::treeview::object_value(c) + "\n";
        outline_walk(root, c, depth + 1, out);
    }
}

inline std::string outline_text(const ov::treeview::node_list& root)
{
    std::string out;
    outline_walk(root, nullptr, 0, out);
    return out;
}

class hotplug_fixture : public ::testing::Test {
protected:
    scripted_library lib;
    fake_registry reg;
    recording_window window;

    // Largest number of device handlings (and window commands) seen inside the engine at
    // once, and handlings that ran off the notification thread.
    std::atomic<int> depth{0};
    std::atomic<int> max_depth{0};
    std::atomic<int> off_thread{0};
    // Extra reactions to window requests, run on the requesting thread.
    std::function<void(const std::string&)> also;

    void SetUp() override
    {
        reset_engine();
        ov::install_library(&lib);
        ov::install_registry(&reg);
        ov::set_ctrller(&window);
        window.select_like_window = true;
        window.on_request = [this](const std::string& r) { watch(r); };
    }

    void TearDown() override
    {
        // A monitor thread that asked for a refresh is detached; it must be out of the
        // registry before the registry goes.
        while (refreshes_queued_.load() != refreshes_asked_.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ov::set_waiter(nullptr);
        stop();
        reset_engine();
        also = nullptr;
        lib.on_call = nullptr;
        window.on_request = nullptr;
        ov::set_ctrller(nullptr);
        ov::install_registry(nullptr);
        ov::install_library(nullptr);
    }

    void enter_engine()
    {
        const int d = ++depth;
        int seen = max_depth.load();
        while (d > seen && !max_depth.compare_exchange_weak(seen, d)) {
        }
    }
    void leave_engine() { --depth; }

    void watch(const std::string& r)
    {
        if (r == "startworking") {
            enter_engine();
            if (!on_notifier())
                ++off_thread;
        } else if (r == "stopworking") {
            leave_engine();
        }
        if (r == "refresh")
            ++refreshes_asked_;
        if (also)
            also(r);
        // What the window's refresh action does: queue a refresh to the notification thread.
        if (r == "refresh") {
            ov::request_refresh();
            ++refreshes_queued_;
        }
    }

    bool on_notifier()
    {
        std::lock_guard<std::mutex> lock(id_mutex_);
        return std::this_thread::get_id() == notifier_id_;
    }

    // Starts the notification thread and waits until its first handling is over and it
    // sits in its loop.
    void start()
    {
        notifier_ = std::thread([this] {
            {
                std::lock_guard<std::mutex> lock(id_mutex_);
                notifier_id_ = std::this_thread::get_id();
            }
            ov::start_device_notification(nullptr);
        });
        ASSERT_TRUE(window.wait_for("stopworking")) << "the first handling never ended";
        settle();
    }

    // Waits until everything queued to the notification thread so far has run.
    void settle()
    {
        auto done = std::make_shared<std::promise<void>>();
        auto ran = done->get_future();
        ov::registry().post([done] { done->set_value(); });
        ASSERT_EQ(ran.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "notification thread hangs";
        if (&ov::registry() == &reg)
            reg.drain();
    }

    void stop()
    {
        if (!notifier_.joinable())
            return;
        ov::registry().stop_run_loop();
        notifier_.join();
    }

    // A USB bridge known to the registry and listed by the library (only while the
    // notification thread is idle).
    uint32_t plug_usb(int32_t location, const std::string& serial = "S")
    {
        const uint32_t s = reg.add_usb_bridge(usb_vendor, usb_product, location, serial);
        lib.devices.push_back(s);
        return s;
    }

    uint32_t plug_firewire(uint64_t guid)
    {
        const uint32_t s = reg.add_firewire_bridge(static_cast<int64_t>(guid));
        lib.devices.push_back(s);
        return s;
    }

    void unplug(uint32_t service)
    {
        lib.devices.erase(std::remove(lib.devices.begin(), lib.devices.end(), service), lib.devices.end());
    }

    // A disk in a port: IDENTIFY answers and the presence register shows it.
    void insert_disk(uint32_t service, int port, const std::string& model, const std::string& serial,
                     uint64_t sectors = 1000000)
    {
        lib.identify[{service, port}] = make_identify(model, serial, sectors);
        lib.set_register(service, port ? ov::reg_port1_presence : ov::reg_port0_presence, 1);
    }

    // Both disks carry the records of one healthy RAID 1 made at the same moment.
    void write_mirror(uint32_t service, const std::string& model0, const std::string& serial0,
                      const std::string& model1, const std::string& serial1, uint64_t sectors = 1000000)
    {
        const unsigned char stamp[16] = "20240102030405";
        const auto m0 = ata_string(model0, 40), s0 = ata_string(serial0, 20);
        const auto m1 = ata_string(model1, 40), s1 = ata_string(serial1, 20);
        const ov::raid_info r0 = ov::create_raid_struct(ov::mode_raid1, 0, 0, 0, sectors - 16, s1.data(), m1.data(),
                                                        false, stamp);
        const ov::raid_info r1 = ov::create_raid_struct(ov::mode_raid1, 1, 0, 0, sectors - 16, s0.data(), m0.data(),
                                                        false, stamp);
        sector b0, b1;
        std::memcpy(b0.data(), r0.data(), 512);
        std::memcpy(b1.data(), r1.data(), 512);
        lib.set_sector(service, 0, sectors - 15, b0);
        lib.set_sector(service, 1, sectors - 15, b1);
    }

    int chip_of(const ov::controller_t& id) const { return ov::j.get_controller_num(id); }

    // The recorded requests cut into handlings: each from its "cleargui" to its "stopworking".
    std::vector<std::vector<std::string>> handlings() const
    {
        std::vector<std::vector<std::string>> out;
        std::vector<std::string> cur;
        bool open = false;
        for (const std::string& r : window.requests()) {
            if (r == "cleargui" && !open) {
                open = true;
                cur.clear();
            }
            if (open)
                cur.push_back(r);
            if (r == "stopworking" && open) {
                out.push_back(cur);
                open = false;
            }
        }
        return out;
    }

private:
    std::atomic<int> refreshes_asked_{0};
    std::atomic<int> refreshes_queued_{0};
    std::thread notifier_;
    std::mutex id_mutex_;
    std::thread::id notifier_id_;
};

}  // namespace ovtest
