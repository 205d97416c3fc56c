// The simulated bridges: a bridge_library and a device_registry over a store.
// Sectors are read and written with pread/pwrite on the images; IDENTIFY and the presence
// registers are answered here. Set assembly, the rebuild copy and the warm boot belong to
// the firmware, which runs once per simulation in its own service (service.h), so every
// process on the simulation sees one rebuild and it goes on while none is open.
#pragma once

#include <memory>
#include <string>

#include "binding.h"
#include "library.h"
#include "registry.h"
#include "store.h"

namespace ov::sim {

class enclosure : public bridge_library, public device_registry {
public:
    explicit enclosure(std::string root);
    ~enclosure() override;

    // bridge_library
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

    // device_registry
    std::string name(registry_entry entry) override;
    registry_entry parent(registry_entry entry) override;
    registry_entry first_child(registry_entry entry) override;
    registry_value property(registry_entry entry, const std::string& key) override;
    bool matching_available(const std::string& service_class) override;
    uint32_t add_matching_notification(const std::string& service_class, added_handler handler) override;
    registry_entry iterator_next(uint32_t iterator) override;
    int add_interest_notification(registry_entry service, interest_handler handler) override;
    void run_loop() override;
    void stop_run_loop() override;
    void post(std::function<void()> task) override;
    void release(uint32_t object) override;
    std::vector<std::string> unreadable_devices() override;

    // Compares the tree on disk with the attached bridges: a bridge plugged in gets a
    // new service handle (first match), one unplugged or removed terminates.
    void sync();
    // A library loaded through the C interface (the simulation as a shared object) is told
    // each bridge's directory as it attaches; null to stop.
    void set_binder(device_binder* binder);
    // Watches the root with inotify and syncs on every change.
    bool start_watching();
    void stop_watching();

    // For tests and tools: the service handle of an attached bridge (0 when not attached),
    // whether the firmware says its rebuild copy runs, and the last error met (naming the file).
    uint32_t service_of(const std::string& bridge);
    bool rebuild_running(const std::string& bridge);
    std::string last_error();

private:
    struct impl;
    bool resolve(uint32_t service, bridge_desc& cfg);
    bool judge(const bridge_desc& cfg, const char* call, int port, bool& mismatch);
    // What a fired failure of mode does to the call (judge without the file).
    bool act_on_failure(const bridge_desc& cfg, const std::string& mode, const char* call, int port, bool& mismatch);
    struct port_disk;
    bool open_disk(const bridge_desc& cfg, int port, bool write, port_disk& disk);
    int sector_call(const char* call, uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port,
                    int addressing, bool fw, bool write);

    std::unique_ptr<impl> d_;
};

}  // namespace ov::sim
