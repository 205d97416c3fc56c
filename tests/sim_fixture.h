// Shared set-up of the simulator suites: a simulation root in a temporary directory,
// helpers to build bridges and disks in it, and a notification thread that records
// what the enclosure's run loop delivers.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "posix_io.h"
#include "registry.h"
#include "sim/enclosure.h"
#include "sim/store.h"
#include "temp_dir.h"

namespace simtest {

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void spit(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string pread_bytes(const std::string& image, uint64_t offset, size_t n)
{
    std::string s(n, '\0');
    const ov::io::unique_fd fd = ov::io::open_fd(image, O_RDONLY);
    EXPECT_TRUE(fd && ov::io::pread_all(fd.get(), s.data(), n, static_cast<off_t>(offset))) << image;
    return s;
}

inline void pwrite_bytes(const std::string& image, uint64_t offset, const std::string& data)
{
    const ov::io::unique_fd fd = ov::io::open_fd(image, O_WRONLY);
    ASSERT_TRUE(fd && ov::io::pwrite_all(fd.get(), data.data(), data.size(), static_cast<off_t>(offset))) << image;
}

// Polls through the clock until pred holds or real_ms of real time have passed.
inline bool wait_until(const std::function<bool()>& pred, int real_ms = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(real_ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        ov::pause_ms(50);
    }
    return true;
}

// What the run loop delivered, in order.
struct event {
    enum kind { matched, terminated, task } what;
    uint32_t service;
    uint32_t message;
};

// Runs the enclosure's run loop on its own thread, like the app's notification thread,
// with a first-match handler that drains its iterator and arms interest on every service.
class notification_thread {
public:
    explicit notification_thread(ov::sim::enclosure& e) : enc_(e)
    {
        const uint32_t it = enc_.add_matching_notification(ov::bridge_service_class,
                                                           [this](uint32_t iterator) { drain(iterator); });
        drain(it);
        thread_ = std::thread([this] { enc_.run_loop(); });
    }
    ~notification_thread() { stop(); }

    void stop()
    {
        if (thread_.joinable()) {
            enc_.stop_run_loop();
            thread_.join();
        }
    }

    void post_marker(uint32_t marker)
    {
        enc_.post([this, marker] { record({event::task, marker, 0}); });
    }

    std::vector<event> events()
    {
        std::lock_guard<std::mutex> lock(m_);
        return events_;
    }
    std::vector<uint32_t> initial() const { return initial_; }

    // Waits (real time) until n events have been delivered.
    bool wait_events(size_t n, int real_ms = 10000)
    {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, std::chrono::milliseconds(real_ms), [&] { return events_.size() >= n; });
    }

private:
    void drain(uint32_t iterator)
    {
        std::vector<uint32_t> services;
        while (uint32_t s = enc_.iterator_next(iterator)) {
            services.push_back(s);
            enc_.add_interest_notification(s, [this](ov::registry_entry service, uint32_t message, void*) {
                record({event::terminated, service, message});
            });
        }
        if (!started_) {
            started_ = true;
            initial_ = services;
            return;
        }
        for (uint32_t s : services)
            record({event::matched, s, 0});
    }
    void record(const event& e)
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            events_.push_back(e);
        }
        cv_.notify_all();
    }

    ov::sim::enclosure& enc_;
    std::thread thread_;
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<event> events_;
    std::vector<uint32_t> initial_;
    bool started_ = false;
};

class sim_test : public ::testing::Test {
protected:
    ovtest::temp_dir dir;
    std::string root = dir.path() + "/sim";
    ov::sim::store st{root};
    std::string error;

    void add_usb(const std::string& name, double rebuild_seconds = 0, bool plugged = true)
    {
        ov::sim::bridge_desc b;
        b.name = name;
        b.vendor_id = 0x1E91;
        b.product_id = 0x0A12;
        b.location_id = 0x14100000;
        b.usb_serial = "USB-" + name;
        b.rebuild_seconds = rebuild_seconds;
        b.plugged = plugged;
        ASSERT_TRUE(st.add_bridge(b, error)) << error;
    }
    void add_firewire(const std::string& name, uint64_t guid = 0x80004601A2B3C4D5ULL, double rebuild_seconds = 0)
    {
        ov::sim::bridge_desc b;
        b.name = name;
        b.firewire = true;
        b.guid = guid;
        b.device_name = "FW Volume";
        b.rebuild_seconds = rebuild_seconds;
        ASSERT_TRUE(st.add_bridge(b, error)) << error;
    }
    // A disk made and put into a port; returns its image path.
    std::string add_disk(const std::string& bridge, int port, const std::string& name, uint64_t sectors,
                         const std::string& addressing = "lba48")
    {
        ov::sim::disk_desc d{"Harbor HD" + name, "SN-" + name, sectors, addressing, false};
        EXPECT_TRUE(st.make_disk(name, d, error)) << error;
        EXPECT_TRUE(st.insert_disk(bridge, port, name, error)) << error;
        return st.port_image(bridge, port);
    }
};

}  // namespace simtest
