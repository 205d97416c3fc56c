// The device registry seam: the operating system's tree of devices, as far as the
// scan, the name lookup and the hot-plug notifications need it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ov {

using registry_entry = uint32_t;   // 0 means "no entry"

constexpr uint32_t msg_service_terminated = 0xE0000010;
constexpr const char* bridge_service_class = "ovPeripheralDeviceType00";

struct registry_value {
    enum class kind { absent, number, text };
    kind type = kind::absent;
    int64_t number = 0;
    std::string text;

    static registry_value make_number(int64_t n) { return {kind::number, n, {}}; }
    static registry_value make_text(std::string t) { return {kind::text, 0, std::move(t)}; }
};

class device_registry {
public:
    virtual ~device_registry() = default;

    // Queries on the service plane. Unknown entries give "", 0 and absent values.
    virtual std::string name(registry_entry entry) = 0;
    virtual registry_entry parent(registry_entry entry) = 0;
    virtual registry_entry first_child(registry_entry entry) = 0;
    virtual registry_value property(registry_entry entry, const std::string& key) = 0;

    // Notifications. Handlers run on the thread inside run_loop(), one at a time.
    using added_handler = std::function<void(uint32_t iterator)>;
    using interest_handler = std::function<void(registry_entry service, uint32_t message_type, void* argument)>;

    // False when no matching description can be made for the class.
    virtual bool matching_available(const std::string& service_class) = 0;
    // Registers for first appearances of services of the class; returns an iterator over
    // those already present (draining it arms the notification).
    virtual uint32_t add_matching_notification(const std::string& service_class, added_handler handler) = 0;
    // Next service of an iterator, 0 at the end.
    virtual registry_entry iterator_next(uint32_t iterator) = 0;
    // 0 on success, otherwise an error code.
    virtual int add_interest_notification(registry_entry service, interest_handler handler) = 0;
    virtual void release(uint32_t object) { (void)object; }
    // Why each device there at the last look could not be read, one line each: a look that
    // left them out is incomplete, not a look at fewer devices.
    virtual std::vector<std::string> unreadable_devices() { return {}; }

    // The event loop of the notification thread: delivers notifications and posted tasks
    // in arrival order until stop_run_loop().
    virtual void run_loop() = 0;
    virtual void stop_run_loop() = 0;
    // Queue work onto the event loop thread (runs after everything queued before it).
    virtual void post(std::function<void()> task) = 0;
};

// What add_interest_notification answers for a service it does not know.
constexpr int registry_no_such_device = static_cast<int>(0xE00002C0);

// The iterators a registry hands to first-match handlers, by number. Not locked: the
// registry guards it with its own lock.
class registry_iterators {
public:
    void add(uint32_t id, std::deque<registry_entry> services) { its_[id] = std::move(services); }
    // The next service, 0 at the end (the iterator is then forgotten).
    registry_entry next(uint32_t id)
    {
        auto it = its_.find(id);
        if (it == its_.end())
            return 0;
        if (it->second.empty()) {
            its_.erase(it);
            return 0;
        }
        const registry_entry service = it->second.front();
        it->second.pop_front();
        return service;
    }
    void release(uint32_t id) { its_.erase(id); }

private:
    std::map<uint32_t, std::deque<registry_entry>> its_;
};

device_registry& registry();
void install_registry(device_registry* reg);

}  // namespace ov
