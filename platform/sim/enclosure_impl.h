// The enclosure's inner state, shared by enclosure.cpp (library and registry calls),
// firmware.cpp (set assembly, rebuild copy, warm boot) and watcher.cpp (inotify).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "enclosure.h"
#include "firmware.h"
#include "posix_io.h"
#include "store.h"

namespace ov::sim {

constexpr int call_failed = -1;
constexpr uint64_t reboot_ms = 1500;      // a warm boot's absence, scaled by the clock
constexpr uint64_t rebuild_step_ms = 100; // a paced rebuild copies in steps of this length
constexpr uint64_t watch_debounce_ms = 100;
constexpr size_t mismatch_offset = 256;   // the byte a mismatch failure changes

// One running rebuild copy of a bridge.
struct copy_job {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> running{true};
};

// What set assembly decided for a bridge at enumeration.
struct rebuild_plan {
    bool copy = false;
    int source_port = 0;
    std::string source_image, target_image;
    uint64_t end = 0;                  // sectors [0, end) are copied
    uint64_t skip[2] = {0, 0};         // the two record sectors, never written
    double seconds = 0;
};

struct enclosure::impl {
    explicit impl(std::string root);

    store st;

    // Guards everything below except the queue; never held while calling a handler,
    // joining a thread or doing disk I/O of a rebuild.
    std::mutex m;
    // One sync (tree comparison and attachment) at a time.
    std::mutex sync_m;
    uint32_t next_id = 0x1A00;

    struct node {
        std::string name;
        registry_entry parent = 0;
        registry_entry child = 0;
        std::map<std::string, registry_value> props;
    };
    std::map<registry_entry, node> nodes;

    struct attachment {
        std::string bridge;
        bridge_desc cfg;
        std::vector<registry_entry> entries;
        std::vector<device_registry::interest_handler> interests;
    };
    std::map<uint32_t, attachment> attached;  // by service handle

    // Per bridge name; survives enumerations.
    struct bridge_state {
        uint32_t service = 0;        // 0 while not attached
        bool rebooting = false;
        uint64_t total = 0, current = 0;
        std::unique_ptr<copy_job> job;
    };
    std::map<std::string, bridge_state> bridges;

    std::vector<device_registry::added_handler> matchers;
    std::map<uint32_t, std::deque<registry_entry>> iterators;

    // The run loop's queue, with its own lock (taken after m when both are needed).
    std::mutex qm;
    std::condition_variable qcv;
    std::deque<std::function<void()>> queue;
    bool stop_loop = false;

    std::string last_error;
    std::set<std::string> printed;

    std::atomic<bool> closing{false};
    struct reboot_thread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<reboot_thread> reboots;  // guarded by m

    // inotify watcher
    std::mutex watch_m;
    std::thread watcher;
    io::unique_fd inotify_fd;
    io::unique_fd wake_read, wake_write;  // a byte written wakes the watcher to stop

    // Errors: file problems are printed once per distinct message; operational ones
    // (stale handle, empty port, injected failure) are only remembered.
    void note(const std::string& message, bool print = false);

    // Under m.
    uint32_t new_id() { return next_id++; }
    registry_entry add_node(const std::string& name, registry_entry parent);
    uint32_t attach_locked(const bridge_desc& cfg);
    std::unique_ptr<copy_job> unplug_locked(uint32_t service);
    void queue_task(std::function<void()> task);
    void queue_first_match_locked(const std::vector<uint32_t>& services);

    void sync();
    // Stops and joins the bridge's copy, if any (no lock held).
    void retire_job(const std::string& bridge);
    // Reads both records; the plan says whether a rebuild copy starts. Disk I/O, no lock.
    rebuild_plan assemble(const bridge_desc& cfg);
    // Under m: sets the status and starts the copy thread of a plan.
    void start_rebuild_locked(const std::string& bridge, const rebuild_plan& plan);
    void run_copy(std::string bridge, rebuild_plan plan, copy_job* job);
    void warm_boot(uint32_t service, const std::string& bridge);
    void reboot(std::string bridge, std::shared_ptr<std::atomic<bool>> done);
    void shutdown();

    std::map<int, bool> watches;  // inotify descriptors; used by the watcher thread once started
    bool start_watching_thread();
    void stop_watching_thread();
    void stop_watching_thread_locked();
    bool drain_events();
    void watch_loop();
    // Watches the root and every bridge directory; wds maps descriptors to "is the root".
    bool add_watches(std::map<int, bool>& wds);
};

}  // namespace ov::sim
