#pragma once

#include <array>
#include <condition_variable>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "library.h"
#include "ovdisk.h"
#include "registry.h"

namespace ovtest {

using sector = std::array<unsigned char, 512>;

// The IDENTIFY block of a disk, built as the simulator builds it.
// addressing: "lba48", "lba28" or "chs".
sector make_identify(const std::string& model, const std::string& serial, uint64_t sectors,
                     const std::string& addressing = "lba48", bool hpa_enabled = false);

// The IDENTIFY block a disk with these texts, size and addressing answers with: what the
// engine compares with the disk it shows before it writes.
inline sector identify_of(const ov::ovdisk& d)
{
    return ov::build_identify({d.model, d.serial, d.capacity, d.addressing_mode}).bytes;
}

struct call {
    std::string name;
    uint32_t service = 0;
    int port = -1;
    uint64_t lba = 0;
    int flag = -1;         // addressing flag of the plain record calls
    uint32_t address = 0;  // register address
    std::thread::id thread = std::this_thread::get_id();  // made where the call is
};

// A bridge library whose every call is recorded in order and whose answers are set up
// by the test: sectors are kept in memory per (service, port, lba), so writes can be
// read back. Thread safe.
class scripted_library : public ov::bridge_library {
public:
    // --- set-up ---
    std::vector<uint32_t> devices;
    int device_list_result = 0;
    std::map<uint32_t, int> open_results;  // service -> result (default 0)
    std::map<std::pair<uint32_t, int>, sector> identify;           // (service, port)
    std::map<std::pair<uint32_t, int>, int> identify_results;      // (service, port) -> result
    std::map<std::pair<uint32_t, uint32_t>, int> register_values;  // (service, address) -> byte 0
    std::map<std::pair<uint32_t, uint32_t>, int> register_results; // (service, address) -> result
    std::deque<std::array<unsigned char, 12>> rebuild_statuses;    // popped per call; the last repeats
    int rebuild_status_result = 0;
    int warm_boot_result = 0;

    void set_sector(uint32_t service, int port, uint64_t lba, const sector& data);
    bool get_sector(uint32_t service, int port, uint64_t lba, sector& data) const;
    // The nth (1-based) following call named `name` returns `result`; with `times` > 1 the
    // calls after it fail too.
    void fail(const std::string& name, int nth = 1, int result = -1, int times = 1);
    // Write calls named `name` store one byte changed: their read-back differs.
    void corrupt_writes(const std::string& name, int nth = 1);
    static std::array<unsigned char, 12> status(uint64_t total, uint64_t current);
    void set_register(uint32_t service, uint32_t address, int value);

    // Runs inside every call, after recording and before answering, outside the lock.
    std::function<void(const call&)> on_call;

    // --- inspection ---
    std::vector<call> calls() const;
    std::vector<std::string> names() const;
    void clear_calls();
    size_t count(const std::string& name) const;
    // How many threads made calls of that name.
    size_t threads(const std::string& name) const;

    // --- the library ---
    int getDeviceList(uint32_t* handles, uint32_t* count) override;
    int openConnection(uint32_t service) override;
    int closeConnection(uint32_t service) override;
    int ovGetRaidInfo(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port,
                      int addressing) override;
    int ovGetRaidInfoFW(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port) override;
    int ovSetRaidInfo(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port,
                      int addressing) override;
    int ovSetRaidInfoFW(uint32_t service, const unsigned char* record, int length, uint64_t lba,
                        int port) override;
    int ovFlushHDDCache(uint32_t service, int port) override;
    int ovGetDiskIdentify(uint32_t service, unsigned char* buffer, int length, int port) override;
    int ovGetRegister(uint32_t service, unsigned char* buffer, int length, int count, uint32_t address) override;
    int ovGetRebuildStatus(uint32_t service, unsigned char* buffer, int length) override;
    int ovWarmBoot(uint32_t service) override;

private:
    int enter(const call& c);   // records, runs on_call, returns an injected result or 0
    int read(const call& c, unsigned char* buffer);
    int write(const call& c, const unsigned char* record);
    int store(const call& c, const unsigned char* record, int length);

    struct failure {
        std::string name;
        int skip;
        int result;
        int times;
        bool corrupt;
    };
    mutable std::mutex mutex_;
    std::vector<call> calls_;
    std::vector<failure> failures_;
    std::map<std::tuple<uint32_t, int, uint64_t>, sector> sectors_;
};

// A device registry held in memory, with a real event loop for posted tasks and
// notifications. Entries are made by the test.
class fake_registry : public ov::device_registry {
public:
    ov::registry_entry add_entry(const std::string& name, ov::registry_entry parent = 0);
    void set_property(ov::registry_entry entry, const std::string& key, ov::registry_value value);
    // A bus entry with a chain of three more entries below it, ending at a bridge service
    // and three children below that one, the last named device_name. Returns the service.
    ov::registry_entry add_usb_bridge(int32_t vendor, int32_t product, int32_t location, const std::string& serial,
                                      const std::string& device_name = "RAID Volume");
    ov::registry_entry add_firewire_bridge(int64_t guid, const std::string& device_name = "RAID Volume",
                                           const std::string& bus_name = "IOFireWireDevice");

    // Notifications a test fires by hand.
    void announce(const std::vector<ov::registry_entry>& services);   // first match
    void terminate(ov::registry_entry service, uint32_t message = ov::msg_service_terminated);
    bool matching = true;
    int interest_result = 0;
    // Posted work counted and dropped, for tests whose chips a refresh would replace.
    bool hold_posts = false;
    std::atomic<int> posted{0};
    std::vector<ov::registry_entry> interest_registered() const;
    // Waits until the loop has run everything queued so far.
    void drain();

    std::string name(ov::registry_entry entry) override;
    ov::registry_entry parent(ov::registry_entry entry) override;
    ov::registry_entry first_child(ov::registry_entry entry) override;
    ov::registry_value property(ov::registry_entry entry, const std::string& key) override;
    bool matching_available(const std::string& service_class) override;
    uint32_t add_matching_notification(const std::string& service_class, added_handler handler) override;
    ov::registry_entry iterator_next(uint32_t iterator) override;
    int add_interest_notification(ov::registry_entry service, interest_handler handler) override;
    void run_loop() override;
    void stop_run_loop() override;
    void post(std::function<void()> task) override;
    std::vector<std::string> unreadable_devices() override;
    std::vector<std::string> unreadable;  // what unreadable_devices() answers

private:
    struct entry_data {
        std::string name;
        ov::registry_entry parent = 0;
        std::vector<ov::registry_entry> children;
        std::map<std::string, ov::registry_value> properties;
    };
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::map<ov::registry_entry, entry_data> entries_;
    ov::registry_entry next_ = 100;
    std::map<uint32_t, std::deque<ov::registry_entry>> iterators_;
    uint32_t next_iterator_ = 1;
    added_handler added_;
    std::map<ov::registry_entry, interest_handler> interest_;
    std::deque<std::function<void()>> queue_;
    bool stop_ = false;
    bool busy_ = false;
    std::condition_variable idle_;
};

}  // namespace ovtest
