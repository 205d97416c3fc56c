// Many plugs, unplugs, disk swaps, warm boots and refreshes at once from several threads
// while the notification thread runs: the handlings must stay one at a time and end with
// the chip list matching what is attached. Meant to run under the thread sanitizer too.
#include <gtest/gtest.h>

#include <array>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <random>
#include <set>

#include "harness.h"
#include "sim/enclosure.h"

namespace ovtest {
namespace {

// Reads every outline the window is told to reload on a thread of its own, as the window
// does while the next rebuilds go on.
class outline_reader {
public:
    outline_reader()
        : thread_([this] {
              std::unique_lock<std::mutex> lock(mutex_);
              for (;;) {
                  cv_.wait(lock, [this] { return done_ || !queue_.empty(); });
                  if (queue_.empty())
                      return;
                  const ov::treeview::node_list snap = std::move(queue_.front());
                  queue_.pop_front();
                  lock.unlock();
                  outline_text(snap);   // every question on every node
                  lock.lock();
                  ++read_;
              }
          })
    {
    }
    ~outline_reader() { finish(); }

    void push(ov::treeview::node_list snap)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(snap));
        }
        cv_.notify_one();
    }

    // Reads what is queued, stops, and tells how many outlines were read.
    size_t finish()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_one();
        if (thread_.joinable())
            thread_.join();
        return read_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<ov::treeview::node_list> queue_;
    bool done_ = false;
    size_t read_ = 0;
    std::thread thread_;
};

// The storm runs on the simulated enclosure: bridges are plugged and unplugged and disks
// pulled and put back in its directory tree, the enclosure turns that into arrivals and
// terminations, warm boots really restart the bridge, and the RAID 1 watcher of the
// selected mirror sees disk swaps and asks for refreshes.
class sim_storm_test : public hotplug_fixture, public sim_tree {
protected:
    std::unique_ptr<ov::sim::enclosure> enc;
    outline_reader reader;
    // Each thread changes only its own bridges: two writers of one bridge's files would
    // race in the file system, which is not what is under test.
    std::vector<std::vector<std::string>> owned{{"usb-raid", "u2"}, {"firewire-pair", "u3"}, {"u4"}, {"u5"}};

    void SetUp() override
    {
        hotplug_fixture::SetUp();
        saved_scale_ = ov::time_scale();
        // Every handling pauses 2 s per bridge to read the disks; ten times the usual test
        // scale keeps a storm of about a hundred handlings within seconds.
        ov::set_time_scale(std::max(saved_scale_, 500.0));
        ASSERT_TRUE(st.create_demo(error)) << error;
        for (int i = 2; i <= 5; ++i) {
            ov::sim::bridge_desc b;
            b.name = "u" + std::to_string(i);
            b.location_id = 0x14300000 + i;
            b.usb_serial = "SER" + std::to_string(i);
            ASSERT_TRUE(st.add_bridge(b, error)) << error;
            for (int port = 0; port < 2; ++port) {
                const std::string disk = b.name + "-d" + std::to_string(port);
                ASSERT_TRUE(st.make_disk(disk, {"Harbor " + disk, "SN-" + disk, 4000000, "lba48", false}, error))
                    << error;
                ASSERT_TRUE(st.insert_disk(b.name, port, disk, error)) << error;
            }
            make_mirror(b.name, 4000000);
        }
        enc = std::make_unique<ov::sim::enclosure>(st.root());
        ov::install_library(enc.get());
        ov::install_registry(enc.get());
    }

    void TearDown() override
    {
        hotplug_fixture::TearDown();
        enc.reset();
        ov::set_time_scale(saved_scale_);
    }

    // Whichever bridge ends up selected holds a mirror, so its RAID 1 watcher runs and
    // sees the disk swaps.
    void make_mirror(const std::string& bridge, uint64_t sectors)
    {
        std::array<unsigned char, 512> id[2];
        for (int port = 0; port < 2; ++port)
            ASSERT_TRUE(st.read_identify(st.port_dir(bridge, port), id[port], error)) << error;
        const unsigned char stamp[16] = "20240102030405";
        for (int port = 0; port < 2; ++port) {
            const auto& other = id[1 - port];
            const ov::raid_info r = ov::create_raid_struct(ov::mode_raid1, port, 0, 0, sectors - 16,
                                                           other.data() + 20, other.data() + 54, false, stamp);
            write_bytes(st.port_image(bridge, port), (sectors - 15) * 512,
                        std::string(reinterpret_cast<const char*>(r.data()), 512));
        }
    }

    static std::string key_of(const ov::controller_t& id)
    {
        return id.is_firewire ? "fw:" + std::to_string(id.guid) : "usb:" + std::to_string(id.location_id);
    }

    std::set<std::string> plugged_keys()
    {
        std::set<std::string> out;
        for (const std::string& name : st.bridges()) {
            ov::sim::bridge_desc b;
            std::string e;
            if (st.read_bridge(name, b, e) && b.plugged)
                out.insert(b.firewire ? "fw:" + std::to_string(b.guid)
                                      : "usb:" + std::to_string(static_cast<int32_t>(b.location_id)));
        }
        return out;
    }

    bool all_settled_in_enclosure()
    {
        for (const std::string& name : st.bridges()) {
            ov::sim::bridge_desc b;
            std::string e;
            if (!st.read_bridge(name, b, e))
                return false;
            if (b.plugged != (enc->service_of(name) != 0))
                return false;
        }
        return true;
    }

private:
    double saved_scale_ = 1;
};

TEST_F(sim_storm_test, plugs_disk_swaps_warm_boots_and_refreshes_on_the_simulated_enclosure_settle)
{
    also = [this](const std::string& r) {
        if (r == "refreshtree")
            reader.push(ov::j.tree.getdata());
    };
    start();
    ASSERT_EQ(ov::j.chips.size(), 6u);
    for (const ov::ovchip& chip : ov::j.chips)
        ASSERT_EQ(chip.raid_configured, !chip.identity.is_firewire) << "every USB bridge holds a mirror";

    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (size_t t = 0; t < owned.size(); ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(4321u + static_cast<unsigned>(t));
            std::map<std::pair<std::string, int>, std::string> shelved;   // pulled disks by port
            for (int op = 0; op < 30; ++op) {
                const std::string& bridge = owned[t][rng() % owned[t].size()];
                std::string e;
                switch (rng() % 4) {
                case 0: {
                    ov::sim::bridge_desc b;
                    if (!st.read_bridge(bridge, b, e) || !st.set_plugged(bridge, !b.plugged, e))
                        ++failures;
                    enc->sync();
                    break;
                }
                case 1: {
                    const int port = static_cast<int>(rng() % 2);
                    auto it = shelved.find({bridge, port});
                    if (it == shelved.end()) {
                        std::string disk;
                        if (st.pull_disk(bridge, port, disk, e))
                            shelved[{bridge, port}] = disk;
                    } else {
                        if (!st.insert_disk(bridge, port, it->second, e))
                            ++failures;
                        shelved.erase(it);
                    }
                    break;
                }
                case 2: {
                    std::lock_guard<std::mutex> command(ov::j.handling);
                    enter_engine();
                    ov::j.warm_boot();
                    leave_engine();
                    break;
                }
                default:
                    ov::request_refresh();
                    break;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0) << "the store refused a change of the test's own";

    // Bridges still restarting come back on their own; then the queue runs dry.
    enc->sync();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!all_settled_in_enclosure() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(all_settled_in_enclosure());
    // A bridge reads as attached a moment before its sync queues the handling; one more sync
    // waits for any still running, so the queue holds every handling before settle() looks.
    enc->sync();
    settle();

    std::set<std::string> listed;
    for (const ov::ovchip& chip : ov::j.chips)
        listed.insert(key_of(chip.identity));
    EXPECT_EQ(listed, plugged_keys());
    EXPECT_EQ(ov::j.chips.size(), plugged_keys().size()) << "a bridge listed twice";
    EXPECT_FALSE(ov::j.warm_boot_pending) << "a warm boot never ended";
    if (!ov::j.chips.empty()) {
        EXPECT_TRUE(ov::j.curr_chip_exists()) << "a bridge is attached but none is selected";
    }
    EXPECT_EQ(max_depth.load(), 1) << "two device handlings or a handling and a command overlapped";
    EXPECT_EQ(off_thread.load(), 0) << "a device handling ran off the notification thread";
    EXPECT_EQ(window.count("startworking"), window.count("stopworking"));

    // Disk swaps show only in rescans: after one more, every port reads as it is.
    ov::request_refresh();
    settle();
    for (const ov::ovchip& chip : ov::j.chips) {
        for (const std::string& name : st.bridges()) {
            ov::sim::bridge_desc b;
            std::string e;
            if (!st.read_bridge(name, b, e) || !b.plugged)
                continue;
            const bool same = b.firewire ? chip.identity.is_firewire && chip.identity.guid == b.guid
                                         : !chip.identity.is_firewire &&
                                               chip.identity.location_id ==
                                                   static_cast<int32_t>(b.location_id);
            if (!same)
                continue;
            for (int port = 0; port < 2; ++port)
                EXPECT_EQ(chip.disks[port].present, !st.port_image(name, port).empty())
                    << name << " port " << port;
        }
    }

    stop();
    EXPECT_GT(reader.finish(), 0u);
    RecordProperty("handlings", static_cast<int>(window.count("startworking")));
    RecordProperty("hot_swaps", static_cast<int>(window.count("show_hot_swap_message")));
}

}  // namespace
}  // namespace ovtest
