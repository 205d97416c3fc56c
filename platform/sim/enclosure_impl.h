// The enclosure's inner state, shared by enclosure.cpp (library calls), registry.cpp
// (the device tree, attachment) and watcher.cpp (inotify). The firmware runs in its own
// service (service.h).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "enclosure.h"
#include "binding.h"
#include "firmware.h"
#include "threads.h"
#include "posix_io.h"
#include "store.h"

namespace ov::sim {

constexpr int call_failed = -1;
constexpr uint64_t watch_debounce_ms = 100;
constexpr size_t mismatch_offset = 256;   // the byte a mismatch failure changes

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
        uint64_t boot = 0;           // the power-up it was attached under
    };
    std::map<std::string, bridge_state> bridges;

    std::vector<device_registry::added_handler> matchers;
    registry_iterators iterators;

    // The run loop's queue, with its own lock (taken after m when both are needed).
    std::mutex qm;
    std::condition_variable qcv;
    std::deque<std::function<void()>> queue;
    bool stop_loop = false;

    std::string last_error;
    std::set<std::string> printed;

    std::atomic<bool> closing{false};
    // Why bridges were left out, their files unreadable: at the last sync, at the last
    // device list. Under m.
    std::vector<std::string> unreadable_bridges, unlisted_bridges;
    device_binder* binder = nullptr;  // set before the first sync that may attach
    // Follow a restart's return even where no watcher runs: one waiter per bridge.
    thread_group return_waiters;
    std::set<std::string> awaited;  // guarded by m

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
    uint32_t attach_locked(const bridge_desc& cfg, uint64_t boot);
    void unplug_locked(uint32_t service);
    void queue_task(std::function<void()> task);
    void queue_first_match_locked(const std::vector<uint32_t>& services);

    // Attaches the bridges plugged in and powered up, detaches the rest; asks the firmware
    // to power up a plugged bridge that is not. False (nothing changed) when the root
    // cannot be read.
    bool sync();
    // The bridge went down for its warm boot: detached at once, attached again when the
    // firmware has it up.
    void warm_booted(uint32_t service);
    // Syncs once the bridge's firmware is no longer restarting.
    void await_return(const std::string& bridge);
    void shutdown();

    enum class watched { bridge, root, firmware };
    std::map<int, watched> watches;  // inotify descriptors; used by the watcher thread once started
    bool start_watching_thread();
    void stop_watching_thread();
    void stop_watching_thread_locked();
    bool drain_events();
    void watch_loop();
    // Watches the root, every bridge directory and the firmware's state.
    bool add_watches(std::map<int, watched>& wds);
};

}  // namespace ov::sim
