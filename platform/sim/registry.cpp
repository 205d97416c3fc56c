// The device registry of the simulated bridges: the entry tree each attached bridge
// hangs in it, attached and removed as the tree on disk changes, and the run loop
// that delivers the notifications.
#include <exception>
#include <optional>

#include "clock.h"
#include "enclosure_impl.h"
#include "firmware_state.h"
#include "service.h"

namespace ov::sim {

namespace {

const char* const usb_chain[] = {"USBHostController", "IOUSBHostDevice", "USBInterface", "MassStorageDriver",
                                 "SCSIPeripheralNub"};
// No intermediate name holds "FireWire": only the bus entry four levels up may.
const char* const firewire_chain[] = {"OHCI1394Controller", "IOFireWireDevice", "IEEE1394Unit", "SBP2Target",
                                      "SBP2LUN"};

bool missing(const bridge_desc& cfg, const char* property)
{
    return std::find(cfg.missing_properties.begin(), cfg.missing_properties.end(), property) !=
           cfg.missing_properties.end();
}

}  // namespace

registry_entry enclosure::impl::add_node(const std::string& name, registry_entry parent)
{
    const registry_entry id = new_id();
    node n;
    n.name = name;
    n.parent = parent;
    nodes[id] = n;
    if (parent != 0)
        nodes[parent].child = id;
    return id;
}

uint32_t enclosure::impl::attach_locked(const bridge_desc& cfg, uint64_t boot)
{
    const char* const* chain = cfg.firewire ? firewire_chain : usb_chain;
    attachment a;
    a.bridge = cfg.name;
    a.cfg = cfg;
    // host controller -> bus device -> three nubs -> service -> three children
    registry_entry parent = 0;
    registry_entry bus = 0;
    for (int i = 0; i < 5; ++i) {
        parent = add_node(chain[i], parent);
        a.entries.push_back(parent);
        if (i == 1)
            bus = parent;
    }
    const uint32_t service = add_node(bridge_service_class, parent);
    a.entries.push_back(service);
    registry_entry child = add_node("BlockStorageServices", service);
    a.entries.push_back(child);
    child = add_node("BlockStorageDriver", child);
    a.entries.push_back(child);
    a.entries.push_back(add_node(cfg.device_name, child));

    auto& props = nodes[bus].props;
    if (cfg.firewire) {
        if (!missing(cfg, "GUID"))
            props["GUID"] = registry_value::make_number(static_cast<int64_t>(cfg.guid));
    } else {
        if (!missing(cfg, "idVendor"))
            props["idVendor"] = registry_value::make_number(cfg.vendor_id);
        if (!missing(cfg, "idProduct"))
            props["idProduct"] = registry_value::make_number(cfg.product_id);
        if (!missing(cfg, "locationID"))
            props["locationID"] = registry_value::make_number(cfg.location_id);
        if (!missing(cfg, "USB Serial Number"))
            props["USB Serial Number"] = registry_value::make_text(cfg.usb_serial);
    }
    attached[service] = std::move(a);
    bridges[cfg.name] = {service, boot};
    return service;
}

void enclosure::impl::unplug_locked(uint32_t service)
{
    auto it = attached.find(service);
    if (it == attached.end())
        return;
    for (registry_entry e : it->second.entries)
        nodes.erase(e);
    for (auto& h : it->second.interests)
        queue_task([h, service] { h(service, msg_service_terminated, nullptr); });
    // The library hears of the end after every handler has.
    if (binder != nullptr)
        queue_task([b = binder, service] { b->detach(service); });
    bridges[it->second.bridge].service = 0;
    attached.erase(it);
}

void enclosure::impl::queue_task(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(qm);
        queue.push_back(std::move(task));
    }
    qcv.notify_one();
}

void enclosure::impl::queue_first_match_locked(const std::vector<uint32_t>& services)
{
    if (services.empty())
        return;
    for (const auto& h : matchers) {
        const uint32_t it = new_id();
        iterators.add(it, std::deque<registry_entry>(services.begin(), services.end()));
        queue_task([h, it] { h(it); });
    }
}

bool enclosure::impl::sync()
{
    std::lock_guard<std::mutex> serial(sync_m);
    struct seen {
        bridge_desc cfg;
        power_state power;
    };
    std::map<std::string, seen> plugged;
    std::set<std::string> unreadable;
    std::vector<std::string> unreadable_why;
    std::vector<std::string> to_power;
    // Whether a firmware service runs, asked once per sync and only when it matters.
    std::optional<bool> served;
    const auto serving = [&] {
        if (!served)
            served = firmware_running(st.root());
        return *served;
    };
    std::vector<std::string> names;
    std::string listed;
    if (!st.bridges(names, listed)) {
        note(listed, true);
        // A root that cannot be read changes nothing: what is attached stays.
        if (names.empty())
            return false;
    }
    // A bridge directory copied by hand is the same bridge twice: a host tells bridges apart
    // by these, and would show only one of them.
    std::map<std::string, std::string> identities;
    for (const auto& name : names) {
        seen s;
        std::string error;
        rebuild_progress progress;
        if (!st.read_bridge(name, s.cfg, error) || !read_power(st.root(), name, s.power, error)) {
            // A broken file changes nothing: an attached bridge stays.
            unreadable.insert(name);
            unreadable_why.push_back(error);
            note(error, true);
            continue;
        }
        if (!s.cfg.plugged)
            continue;
        const std::string identity =
            s.cfg.firewire ? "firewire " + std::to_string(s.cfg.guid)
                           : "usb " + std::to_string(s.cfg.vendor_id) + " " + std::to_string(s.cfg.product_id) + " " +
                                 std::to_string(s.cfg.location_id) + " " + s.cfg.usb_serial;
        if (const auto [it, fresh] = identities.emplace(identity, name); !fresh) {
            error = st.bridge_dir(name) + "/bridge.conf: the same ids and place as bridge '" + it->second +
                    "': a host cannot tell the two apart";
            unreadable.insert(name);
            unreadable_why.push_back(error);
            note(error, true);
            continue;
        }
        // Plugged but not running (or running a copy nobody serves): the firmware powers it up.
        // A restart in progress comes back by itself while its service lives.
        if (s.power.state == power_state::kind::off ||
            (s.power.state == power_state::kind::rebooting && !serving()) ||
            (s.power.state == power_state::kind::up && read_progress(st.root(), name, progress, error) &&
             progress.state == rebuild_progress::kind::running && !serving()))
            to_power.push_back(name);
        plugged[name] = s;
    }
    for (const auto& name : to_power) {
        std::string error, why;
        const bool asked = firmware_request(st.root(), "power-up", name, error);
        const bool read = read_power(st.root(), name, plugged[name].power, why);
        const std::string reason = "bridge '" + name + "': " + (!asked ? error : !read ? why : "it did not power up");
        if (!asked || !read)
            note(reason, true);
        // Plugged in but not running: what it holds is not known, which is never "no enclosure".
        if (!read || plugged[name].power.state == power_state::kind::off)
            unreadable_why.push_back(reason);
    }
    {
        std::lock_guard<std::mutex> lock(m);
        unreadable_bridges = std::move(unreadable_why);
    }
    // Restarting (ours, another process's, or one a power-up found under way): it is
    // attached when it is back.
    for (const auto& [name, s] : plugged)
        if (s.power.state == power_state::kind::rebooting)
            await_return(name);
    std::vector<std::pair<uint32_t, std::string>> arrived;
    {
        std::lock_guard<std::mutex> lock(m);
        std::vector<uint32_t> leaving;
        for (const auto& [service, a] : attached) {
            if (unreadable.count(a.bridge) != 0)
                continue;
            auto it = plugged.find(a.bridge);
            // Gone, down, or restarted since we attached it: each restart is a new service.
            if (it == plugged.end() || it->second.power.state != power_state::kind::up ||
                it->second.power.boot != bridges[a.bridge].boot)
                leaving.push_back(service);
        }
        for (uint32_t s : leaving)
            unplug_locked(s);
        for (const auto& [name, s] : plugged)
            if (s.power.state == power_state::kind::up && bridges[name].service == 0)
                arrived.emplace_back(attach_locked(s.cfg, s.power.boot), st.bridge_dir(name));
    }
    if (arrived.empty())
        return true;
    // The library learns of each bridge before anyone hears of it.
    if (binder != nullptr)
        for (const auto& [service, dir] : arrived)
            binder->attach(service, dir, std::string());
    std::lock_guard<std::mutex> lock(m);
    std::vector<uint32_t> services;
    for (const auto& a : arrived)
        services.push_back(a.first);
    queue_first_match_locked(services);
    return true;
}

void enclosure::impl::warm_booted(uint32_t service)
{
    std::string bridge;
    {
        std::lock_guard<std::mutex> lock(m);
        auto it = attached.find(service);
        if (it == attached.end())
            return;
        bridge = it->second.bridge;
        unplug_locked(service);
    }
    await_return(bridge);
}

void enclosure::impl::await_return(const std::string& bridge)
{
    if (closing)
        return;
    {
        std::lock_guard<std::mutex> lock(m);
        if (!awaited.insert(bridge).second)
            return;
    }
    return_waiters.reap();
    const bool started = return_waiters.start([this, bridge](std::stop_token stop) {
        constexpr uint64_t slice_ms = 50;
        constexpr int slices = 400;  // far beyond a restart's length
        for (int i = 0; i < slices && !stop.stop_requested(); ++i) {
            pause_ms(slice_ms);
            power_state p;
            std::string error;
            if (read_power(st.root(), bridge, p, error) && p.state != power_state::kind::rebooting)
                break;
        }
        {
            std::lock_guard<std::mutex> lock(m);
            awaited.erase(bridge);
        }
        if (!stop.stop_requested())
            sync();
    });
    if (!started) {
        std::lock_guard<std::mutex> lock(m);
        awaited.erase(bridge);
    }
}

// ---- registry -------------------------------------------------------------------

std::string enclosure::name(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->nodes.find(entry);
    return it == d_->nodes.end() ? std::string() : it->second.name;
}

registry_entry enclosure::parent(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->nodes.find(entry);
    return it == d_->nodes.end() ? 0 : it->second.parent;
}

registry_entry enclosure::first_child(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->nodes.find(entry);
    return it == d_->nodes.end() ? 0 : it->second.child;
}

registry_value enclosure::property(registry_entry entry, const std::string& key)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->nodes.find(entry);
    if (it == d_->nodes.end())
        return {};
    auto p = it->second.props.find(key);
    return p == it->second.props.end() ? registry_value{} : p->second;
}

bool enclosure::matching_available(const std::string& service_class)
{
    return service_class == bridge_service_class;
}

uint32_t enclosure::add_matching_notification(const std::string& service_class, added_handler handler)
{
    if (!matching_available(service_class) || !handler)
        return 0;
    d_->sync();
    std::lock_guard<std::mutex> lock(d_->m);
    d_->matchers.push_back(std::move(handler));
    const uint32_t it = d_->new_id();
    std::deque<registry_entry> services;
    for (const auto& entry : d_->attached)
        services.push_back(entry.first);
    d_->iterators.add(it, std::move(services));
    return it;
}

registry_entry enclosure::iterator_next(uint32_t iterator)
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->iterators.next(iterator);
}

int enclosure::add_interest_notification(registry_entry service, interest_handler handler)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->attached.find(service);
    if (it == d_->attached.end() || !handler)
        return registry_no_such_device;
    it->second.interests.push_back(std::move(handler));
    return 0;
}

std::vector<std::string> enclosure::unreadable_devices()
{
    std::lock_guard<std::mutex> lock(d_->m);
    std::vector<std::string> why = d_->unreadable_bridges;
    why.insert(why.end(), d_->unlisted_bridges.begin(), d_->unlisted_bridges.end());
    return why;
}

void enclosure::release(uint32_t object)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->iterators.release(object);
}

void enclosure::run_loop()
{
    std::unique_lock<std::mutex> lock(d_->qm);
    for (;;) {
        d_->qcv.wait(lock, [this] { return d_->stop_loop || !d_->queue.empty(); });
        if (d_->stop_loop) {
            d_->stop_loop = false;
            return;
        }
        std::function<void()> task = std::move(d_->queue.front());
        d_->queue.pop_front();
        lock.unlock();
        try {
            if (task)
                task();
        } catch (const std::exception& e) {
            d_->note(std::string("a notification handler threw: ") + e.what(), true);
        } catch (...) {
            d_->note("a notification handler threw", true);
        }
        lock.lock();
    }
}

void enclosure::stop_run_loop()
{
    {
        std::lock_guard<std::mutex> lock(d_->qm);
        d_->stop_loop = true;
    }
    d_->qcv.notify_all();
}

void enclosure::post(std::function<void()> task)
{
    d_->queue_task(std::move(task));
}

}  // namespace ov::sim
