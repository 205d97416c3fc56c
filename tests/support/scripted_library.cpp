#include "scripted_library.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "sim/identify.h"

namespace ovtest {

sector make_identify(const std::string& model, const std::string& serial, uint64_t sectors,
                     const std::string& addressing, bool hpa_enabled)
{
    return ov::sim::make_identify({model, serial, sectors, addressing, hpa_enabled});
}

void scripted_library::set_sector(uint32_t service, int port, uint64_t lba, const sector& data)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sectors_[{service, port, lba}] = data;
}

bool scripted_library::get_sector(uint32_t service, int port, uint64_t lba, sector& data) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sectors_.find({service, port, lba});
    if (it == sectors_.end())
        return false;
    data = it->second;
    return true;
}

void scripted_library::fail(const std::string& name, int nth, int result, int times)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back({name, nth - 1, result, times, false});
}

void scripted_library::corrupt_writes(const std::string& name, int nth)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back({name, nth - 1, 0, 1, true});
}

std::array<unsigned char, 12> scripted_library::status(uint64_t total, uint64_t current)
{
    std::array<unsigned char, 12> s{};
    std::memcpy(s.data(), ov::rebuild_status::encode(total, current).data(), s.size());
    return s;
}

void scripted_library::set_register(uint32_t service, uint32_t address, int value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    register_values[{service, address}] = value;
}

std::vector<call> scripted_library::calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> scripted_library::names() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const call& c : calls_)
        out.push_back(c.name);
    return out;
}

void scripted_library::clear_calls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

size_t scripted_library::count(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(
        std::count_if(calls_.begin(), calls_.end(), [&](const call& c) { return c.name == name; }));
}

size_t scripted_library::threads(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::set<std::thread::id> seen;
    for (const call& c : calls_)
        if (c.name == name)
            seen.insert(c.thread);
    return seen.size();
}

int scripted_library::enter(const call& c)
{
    std::function<void(const call&)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(c);
        hook = on_call;
    }
    if (hook)
        hook(c);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->name != c.name)
            continue;
        if (it->skip > 0) {
            --it->skip;
            continue;
        }
        const int result = it->corrupt ? 1000 : it->result;
        if (--it->times <= 0)
            failures_.erase(it);
        return result;
    }
    return 0;
}

int scripted_library::read(const call& c, unsigned char* buffer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sectors_.find({c.service, c.port, c.lba});
    if (it == sectors_.end())
        std::memset(buffer, 0, 512);
    else
        std::memcpy(buffer, it->second.data(), 512);
    return 0;
}

int scripted_library::write(const call& c, const unsigned char* record)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sector s;
    std::memcpy(s.data(), record, 512);
    sectors_[{c.service, c.port, c.lba}] = s;
    return 0;
}

int scripted_library::getDeviceList(uint32_t* handles, uint32_t* count)
{
    const int injected = enter({"getDeviceList"});
    if (injected != 0)
        return injected;
    std::lock_guard<std::mutex> lock(mutex_);
    if (device_list_result != 0)
        return device_list_result;
    *count = static_cast<uint32_t>(std::min<size_t>(devices.size(), ov::device_list_capacity));
    std::copy(devices.begin(), devices.begin() + *count, handles);
    return 0;
}

int scripted_library::openConnection(uint32_t service)
{
    const int injected = enter({"openConnection", service});
    if (injected != 0)
        return injected;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = open_results.find(service);
    return it == open_results.end() ? 0 : it->second;
}

int scripted_library::closeConnection(uint32_t service)
{
    return enter({"closeConnection", service});
}

int scripted_library::ovGetRaidInfo(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port,
                                    int addressing)
{
    const call c{"ovGetRaidInfo", service, port, lba, addressing};
    const int injected = enter(c);
    if (injected != 0 || length != 512)
        return injected ? injected : -1;
    return read(c, buffer);
}

int scripted_library::ovGetRaidInfoFW(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port)
{
    const call c{"ovGetRaidInfoFW", service, port, lba};
    const int injected = enter(c);
    if (injected != 0 || length != 512)
        return injected ? injected : -1;
    return read(c, buffer);
}

// A write answered by an injected result: 1000 stores the record with one byte changed.
int scripted_library::store(const call& c, const unsigned char* record, int length)
{
    const int injected = enter(c);
    if (length != 512)
        return -1;
    if (injected == 1000) {
        sector s;
        std::memcpy(s.data(), record, 512);
        s[100] ^= 0x01;
        return write(c, s.data());
    }
    if (injected != 0)
        return injected;
    return write(c, record);
}

int scripted_library::ovSetRaidInfo(uint32_t service, const unsigned char* record, int length, uint64_t lba,
                                    int port, int addressing)
{
    return store({"ovSetRaidInfo", service, port, lba, addressing}, record, length);
}

int scripted_library::ovSetRaidInfoFW(uint32_t service, const unsigned char* record, int length, uint64_t lba,
                                      int port)
{
    return store({"ovSetRaidInfoFW", service, port, lba}, record, length);
}

int scripted_library::ovFlushHDDCache(uint32_t service, int port)
{
    return enter({"ovFlushHDDCache", service, port});
}

int scripted_library::ovGetDiskIdentify(uint32_t service, unsigned char* buffer, int length, int port)
{
    const int injected = enter({"ovGetDiskIdentify", service, port});
    if (injected != 0)
        return injected;
    if (length != 512)
        return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    auto rit = identify_results.find({service, port});
    auto it = identify.find({service, port});
    if (it != identify.end())
        std::memcpy(buffer, it->second.data(), 512);
    if (rit != identify_results.end())
        return rit->second;
    return it == identify.end() ? -1 : 0;
}

int scripted_library::ovGetRegister(uint32_t service, unsigned char* buffer, int length, int count,
                                    uint32_t address)
{
    call c{"ovGetRegister", service};
    c.address = address;
    c.flag = count;
    const int injected = enter(c);
    if (injected != 0)
        return injected;
    if (length < 1)
        return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    auto rit = register_results.find({service, address});
    if (rit != register_results.end() && rit->second < 0)
        return rit->second;
    auto it = register_values.find({service, address});
    buffer[0] = static_cast<unsigned char>(it == register_values.end() ? 0 : it->second);
    return 0;
}

int scripted_library::ovGetRebuildStatus(uint32_t service, unsigned char* buffer, int length)
{
    const int injected = enter({"ovGetRebuildStatus", service});
    if (injected != 0)
        return injected;
    std::lock_guard<std::mutex> lock(mutex_);
    if (rebuild_status_result != 0 || length != 12)
        return rebuild_status_result ? rebuild_status_result : -1;
    std::array<unsigned char, 12> s{};
    if (!rebuild_statuses.empty()) {
        s = rebuild_statuses.front();
        if (rebuild_statuses.size() > 1)
            rebuild_statuses.pop_front();
    }
    std::memcpy(buffer, s.data(), 12);
    return 0;
}

int scripted_library::ovWarmBoot(uint32_t service)
{
    const int injected = enter({"ovWarmBoot", service});
    if (injected != 0)
        return injected;
    std::lock_guard<std::mutex> lock(mutex_);
    return warm_boot_result;
}

// ---- fake_registry ----------------------------------------------------------------------

ov::registry_entry fake_registry::add_entry(const std::string& name, ov::registry_entry parent)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const ov::registry_entry id = next_++;
    entries_[id].name = name;
    entries_[id].parent = parent;
    if (parent != 0)
        entries_[parent].children.push_back(id);
    return id;
}

void fake_registry::set_property(ov::registry_entry entry, const std::string& key, ov::registry_value value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[entry].properties[key] = std::move(value);
}

namespace {

// Below a bus entry: the unit, the transport and the protocol, the bridge service, and
// three first children down to the presented device.
ov::registry_entry add_chain(fake_registry& reg, ov::registry_entry bus, const std::string& unit,
                             const std::string& device_name)
{
    const auto transport = reg.add_entry("ovBridgeTransport", reg.add_entry(unit, bus));
    const auto service = reg.add_entry(ov::bridge_service_class, reg.add_entry("ovBridgeProtocol", transport));
    reg.add_entry(device_name, reg.add_entry("ovBlockDriver", reg.add_entry("ovBlockServices", service)));
    return service;
}

}  // namespace

ov::registry_entry fake_registry::add_usb_bridge(int32_t vendor, int32_t product, int32_t location,
                                                 const std::string& serial, const std::string& device_name)
{
    const auto bus = add_entry("IOUSBHostDevice");
    set_property(bus, "idVendor", ov::registry_value::make_number(vendor));
    set_property(bus, "idProduct", ov::registry_value::make_number(product));
    set_property(bus, "locationID", ov::registry_value::make_number(location));
    set_property(bus, "USB Serial Number", ov::registry_value::make_text(serial));
    return add_chain(*this, bus, "IOUSBHostInterface", device_name);
}

ov::registry_entry fake_registry::add_firewire_bridge(int64_t guid, const std::string& device_name,
                                                      const std::string& bus_name)
{
    const auto bus = add_entry(bus_name);
    set_property(bus, "GUID", ov::registry_value::make_number(guid));
    return add_chain(*this, bus, "IOFireWireUnit", device_name);
}

std::string fake_registry::name(ov::registry_entry entry)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(entry);
    return it == entries_.end() ? std::string() : it->second.name;
}

ov::registry_entry fake_registry::parent(ov::registry_entry entry)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(entry);
    return it == entries_.end() ? 0 : it->second.parent;
}

ov::registry_entry fake_registry::first_child(ov::registry_entry entry)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(entry);
    return it == entries_.end() || it->second.children.empty() ? 0 : it->second.children.front();
}

ov::registry_value fake_registry::property(ov::registry_entry entry, const std::string& key)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(entry);
    if (it == entries_.end())
        return {};
    auto p = it->second.properties.find(key);
    return p == it->second.properties.end() ? ov::registry_value{} : p->second;
}

bool fake_registry::matching_available(const std::string& service_class)
{
    return matching && service_class == ov::bridge_service_class;
}

uint32_t fake_registry::add_matching_notification(const std::string&, added_handler handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    added_ = std::move(handler);
    const uint32_t it = next_iterator_++;
    auto& list = iterators_[it];
    for (const auto& [id, e] : entries_)
        if (e.name == ov::bridge_service_class)
            list.push_back(id);
    return it;
}

ov::registry_entry fake_registry::iterator_next(uint32_t iterator)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = iterators_.find(iterator);
    if (it == iterators_.end() || it->second.empty())
        return 0;
    const auto s = it->second.front();
    it->second.pop_front();
    return s;
}

int fake_registry::add_interest_notification(ov::registry_entry service, interest_handler handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (interest_result != 0)
        return interest_result;
    interest_[service] = std::move(handler);
    return 0;
}

std::vector<ov::registry_entry> fake_registry::interest_registered() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ov::registry_entry> out;
    for (const auto& [s, h] : interest_)
        out.push_back(s);
    return out;
}

void fake_registry::announce(const std::vector<ov::registry_entry>& services)
{
    uint32_t it;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        it = next_iterator_++;
        iterators_[it] = std::deque<ov::registry_entry>(services.begin(), services.end());
    }
    post([this, it] {
        added_handler h;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            h = added_;
        }
        if (h)
            h(it);
    });
}

void fake_registry::terminate(ov::registry_entry service, uint32_t message)
{
    post([this, service, message] {
        interest_handler h;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = interest_.find(service);
            if (it != interest_.end())
                h = it->second;
        }
        if (h)
            h(service, message, nullptr);
    });
}

void fake_registry::run_loop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (stop_)
            break;
        auto task = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        task();
        lock.lock();
        busy_ = false;
        idle_.notify_all();
    }
    stop_ = false;
    idle_.notify_all();
}

void fake_registry::stop_run_loop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
}

std::vector<std::string> fake_registry::unreadable_devices()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return unreadable;
}

void fake_registry::post(std::function<void()> task)
{
    if (hold_posts) {
        ++posted;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(task));
    }
    wake_.notify_all();
}

void fake_registry::drain()
{
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [&] { return queue_.empty() && !busy_; });
}

}  // namespace ovtest
