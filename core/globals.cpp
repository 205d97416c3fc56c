// The process-wide seams: the installed library, registry, window and string table.
#include <atomic>
#include <memory>
#include <mutex>

#include "library.h"
#include "registry.h"
#include "requests.h"

namespace ov {

namespace {

// Stands in until a real library is installed: every call fails.
class absent_library : public bridge_library {
public:
    int getDeviceList(uint32_t*, uint32_t*) override { return -1; }
    int openConnection(uint32_t) override { return -1; }
    int closeConnection(uint32_t) override { return -1; }
    int ovGetRaidInfo(uint32_t, unsigned char*, int, uint64_t, int, int) override { return -1; }
    int ovGetRaidInfoFW(uint32_t, unsigned char*, int, uint64_t, int) override { return -1; }
    int ovSetRaidInfo(uint32_t, const unsigned char*, int, uint64_t, int, int) override { return -1; }
    int ovSetRaidInfoFW(uint32_t, const unsigned char*, int, uint64_t, int) override { return -1; }
    int ovFlushHDDCache(uint32_t, int) override { return -1; }
    int ovGetDiskIdentify(uint32_t, unsigned char*, int, int) override { return -1; }
    int ovGetRegister(uint32_t, unsigned char*, int, int, uint32_t) override { return -1; }
    int ovGetRebuildStatus(uint32_t, unsigned char*, int) override { return -1; }
    int ovWarmBoot(uint32_t) override { return -1; }
};

class absent_registry : public device_registry {
public:
    std::string name(registry_entry) override { return {}; }
    registry_entry parent(registry_entry) override { return 0; }
    registry_entry first_child(registry_entry) override { return 0; }
    registry_value property(registry_entry, const std::string&) override { return {}; }
    bool matching_available(const std::string&) override { return false; }
    uint32_t add_matching_notification(const std::string&, added_handler) override { return 0; }
    registry_entry iterator_next(uint32_t) override { return 0; }
    int add_interest_notification(registry_entry, interest_handler) override { return -1; }
    void run_loop() override {}
    void stop_run_loop() override {}
    void post(std::function<void()> task) override { task(); }
};

absent_library no_library;
absent_registry no_registry;
null_window no_window;
std::atomic<bridge_library*> installed_library{&no_library};
std::atomic<device_registry*> installed_registry{&no_registry};

std::mutex localizer_mutex;
std::shared_ptr<std::function<std::string(const std::string&)>> localizer;

}  // namespace

window_requests* ctrller = &no_window;

bridge_library& library()
{
    return *installed_library.load();
}

void install_library(bridge_library* lib)
{
    installed_library.store(lib ? lib : &no_library);
}

device_registry& registry()
{
    return *installed_registry.load();
}

void install_registry(device_registry* reg)
{
    installed_registry.store(reg ? reg : &no_registry);
}

void set_ctrller(window_requests* window)
{
    ctrller = window ? window : &no_window;
}

std::string localized(const std::string& key)
{
    std::shared_ptr<std::function<std::string(const std::string&)>> lookup;
    {
        std::lock_guard<std::mutex> lock(localizer_mutex);
        lookup = localizer;
    }
    if (!lookup)
        return key;
    std::string text = (*lookup)(key);
    return text.empty() ? key : text;
}

void set_localizer(std::function<std::string(const std::string&)> lookup)
{
    std::lock_guard<std::mutex> lock(localizer_mutex);
    localizer = lookup ? std::make_shared<std::function<std::string(const std::string&)>>(std::move(lookup))
                       : nullptr;
}

}  // namespace ov
