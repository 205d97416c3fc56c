#include "udev_registry.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <type_traits>
#include <utility>

#include "diag.h"

namespace ov {

namespace {


// Entry names. Only the FireWire bus entry may hold "FireWire": the scan tells the buses
// apart by that word four levels above the service.
const char* const usb_chain[] = {"USB interface", "SCSI host", "SCSI target"};
const char* const firewire_chain[] = {"SBP-2 unit", "SCSI host", "SCSI target"};
const char* const below_service[] = {"SCSI disk", "block driver"};

// Whatever a diagnostic costs, it does not end the loop: the text is put together here too.
template <class... Parts>
void note(const Parts&... parts) noexcept
{
    try {
        std::string text;
        const auto add = [&text](const auto& part) {
            if constexpr (std::is_integral_v<std::decay_t<decltype(part)>>)
                text += std::to_string(part);
            else
                text += part;
        };
        (add(parts), ...);
        diag(diag_level::warning, text);
    } catch (...) {
    }
}

std::string errno_text(int error)
{
    return std::strerror(error);
}

// A value for a diagnostic: short, printable.
std::string shown(const char* value)
{
    std::string out;
    for (const char* p = value; *p && out.size() < 32; ++p)
        out += (*p >= 0x20 && *p < 0x7F) ? *p : '?';
    return '"' + out + '"';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Sysfs prints these numbers in hex, USB ids without a prefix, FireWire ones with "0x".
std::optional<uint64_t> parse_hex(std::string_view text, uint64_t max)
{
    text = trimmed(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 16)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    if (value > max)
        return std::nullopt;
    return value;
}

std::optional<uint32_t> parse_decimal(std::string_view text, uint32_t max)
{
    text = trimmed(text);
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > max)
        return std::nullopt;
    return value;
}

struct device_ref {
    udev_device* dev;
    ~device_ref() { udev_device_unref(dev); }
};

struct enumerate_ref {
    udev_enumerate* e;
    ~enumerate_ref() { udev_enumerate_unref(e); }
};

// What the registry keeps of a matched device.
struct found {
    bool firewire = false;
    std::string syspath, sysname, devnode;
    uint32_t vendor = 0, product = 0, location = 0;
    std::optional<std::string> serial;
    uint64_t guid = 0;
};

}  // namespace

struct udev_registry::impl {
    struct node {
        std::string name;
        registry_entry parent = 0;
        registry_entry child = 0;
        std::map<std::string, registry_value> props;
        registry_entry volume_of = 0;  // the service whose block device this entry names
    };
    struct bridge {
        std::string syspath;
        std::vector<registry_entry> entries;
        std::vector<interest_handler> interests;
        bool announced = false;
    };

    std::vector<bridge_match> matches;
    device_binder* binder = nullptr;
    udev* u = nullptr;
    udev_monitor* monitor = nullptr;
    int monitor_fd = -1;
    int wake = -1;

    std::mutex m;  // everything below, and every libudev call
    uint32_t last_id = 0;
    std::map<registry_entry, node> nodes;
    std::map<registry_entry, bridge> bridges;        // by service, until its termination is delivered
    std::map<std::string, registry_entry> present;   // syspath -> service, while the device is there
    registry_iterators iterators;
    std::vector<added_handler> matchers;
    std::deque<std::function<void()>> queue;
    bool stopping = false;
    bool resync = false;
    std::set<std::string> reported;  // syspath and attribute of each fault already told

    ~impl()
    {
        if (monitor)
            udev_monitor_unref(monitor);
        if (u)
            udev_unref(u);
        if (wake >= 0)
            ::close(wake);
    }

    uint32_t new_id_locked()
    {
        // Handles are never reused: a bridge that comes back is a new service.
        return ++last_id;
    }

    void queue_locked(std::function<void()> task)
    {
        queue.push_back(std::move(task));
        const uint64_t one = 1;
        // A full counter already wakes the loop, so a failed write loses nothing.
        [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
    }

    void report_locked(const std::string& syspath, const char* attribute, const std::string& what,
                       std::vector<std::string>& warnings)
    {
        if (reported.insert(syspath + '\n' + attribute).second)
            warnings.push_back("udev: " + syspath + ": " + attribute + " " + what +
                               "; the device is not taken for a bridge");
    }

    std::optional<uint64_t> hex_attribute_locked(udev_device* dev, const found& f, const char* attribute,
                                                 uint64_t max, std::vector<std::string>& warnings)
    {
        const char* text = udev_device_get_sysattr_value(dev, attribute);
        if (!text) {
            report_locked(f.syspath, attribute, "is missing", warnings);
            return std::nullopt;
        }
        auto value = parse_hex(text, max);
        if (!value) {
            char limit[32];
            std::snprintf(limit, sizeof limit, "%#llx", static_cast<unsigned long long>(max));
            report_locked(f.syspath, attribute, shown(text) + " is not a hex number up to " + limit, warnings);
        }
        return value;
    }

    bool vendor_listed(bool firewire, uint64_t vendor) const
    {
        for (const bridge_match& line : matches)
            if (line.firewire == firewire && line.vendor == vendor)
                return true;
        return false;
    }

    bool listed(bool firewire, uint64_t vendor, uint64_t product) const
    {
        for (const bridge_match& line : matches)
            if (line.firewire == firewire && line.vendor == vendor && line.product == product)
                return true;
        return false;
    }

    // The device as a bridge, or nothing. A device of a vendor no table line names is
    // passed over in silence; faults in the attributes of one that may be ours are told.
    std::optional<found> inspect_locked(udev_device* dev, std::vector<std::string>& warnings)
    {
        const char* subsystem = udev_device_get_subsystem(dev);
        const char* syspath = udev_device_get_syspath(dev);
        const char* sysname = udev_device_get_sysname(dev);
        if (!subsystem || !syspath || !sysname)
            return std::nullopt;
        found f;
        f.syspath = syspath;
        f.sysname = sysname;
        if (const char* devnode = udev_device_get_devnode(dev))
            f.devnode = devnode;
        if (std::strcmp(subsystem, "usb") == 0) {
            const char* devtype = udev_device_get_devtype(dev);
            if (!devtype || std::strcmp(devtype, "usb_device") != 0)
                return std::nullopt;
            const auto vendor = hex_attribute_locked(dev, f, "idVendor", 0xFFFF, warnings);
            if (!vendor || !vendor_listed(false, *vendor))
                return std::nullopt;
            const auto product = hex_attribute_locked(dev, f, "idProduct", 0xFFFF, warnings);
            if (!product || !listed(false, *vendor, *product))
                return std::nullopt;
            const char* bus_text = udev_device_get_sysattr_value(dev, "busnum");
            const auto bus = bus_text ? parse_decimal(bus_text, 255) : std::nullopt;
            if (!bus || *bus == 0) {
                report_locked(f.syspath, "busnum",
                              bus_text ? shown(bus_text) + " is not a bus number 1-255" : "is missing", warnings);
                return std::nullopt;
            }
            const auto location = usb_location_id(*bus, f.sysname);
            if (!location) {
                report_locked(f.syspath, "the port path in the name", shown(sysname) + " holds none", warnings);
                return std::nullopt;
            }
            f.vendor = static_cast<uint32_t>(*vendor);
            f.product = static_cast<uint32_t>(*product);
            f.location = *location;
            if (const char* serial = udev_device_get_sysattr_value(dev, "serial"))
                f.serial = std::string(trimmed(serial));
            return f;
        }
        if (std::strcmp(subsystem, "firewire") == 0) {
            // A node stands for the device; its unit directories ("fw1.0") and the host's own
            // node are no bridges.
            if (std::strchr(sysname, '.'))
                return std::nullopt;
            const char* local = udev_device_get_sysattr_value(dev, "is_local");
            if (local && trimmed(local) == "1")
                return std::nullopt;
            const auto vendor = hex_attribute_locked(dev, f, "vendor", 0xFFFFFF, warnings);
            if (!vendor || !vendor_listed(true, *vendor))
                return std::nullopt;
            const auto model = hex_attribute_locked(dev, f, "model", 0xFFFFFF, warnings);
            if (!model || !listed(true, *vendor, *model))
                return std::nullopt;
            const auto guid = hex_attribute_locked(dev, f, "guid", UINT64_MAX, warnings);
            if (!guid)
                return std::nullopt;
            f.firewire = true;
            f.vendor = static_cast<uint32_t>(*vendor);
            f.product = static_cast<uint32_t>(*model);
            f.guid = *guid;
            return f;
        }
        return std::nullopt;
    }

    registry_entry add_node_locked(const std::string& name, registry_entry parent)
    {
        const registry_entry id = new_id_locked();
        nodes[id].name = name;
        nodes[id].parent = parent;
        if (parent != 0)
            nodes[parent].child = id;
        return id;
    }

    registry_entry build_locked(const found& f)
    {
        bridge b;
        b.syspath = f.syspath;
        registry_entry entry = add_node_locked((f.firewire ? "FireWire node " : "USB device ") + f.sysname, 0);
        b.entries.push_back(entry);
        auto& props = nodes[entry].props;
        if (f.firewire) {
            props["GUID"] = registry_value::make_number(static_cast<int64_t>(f.guid));
        } else {
            props["idVendor"] = registry_value::make_number(f.vendor);
            props["idProduct"] = registry_value::make_number(f.product);
            props["locationID"] = registry_value::make_number(f.location);
            if (f.serial)
                props["USB Serial Number"] = registry_value::make_text(*f.serial);
        }
        for (const char* name : f.firewire ? firewire_chain : usb_chain) {
            entry = add_node_locked(name, entry);
            b.entries.push_back(entry);
        }
        const registry_entry service = add_node_locked(bridge_service_class, entry);
        b.entries.push_back(service);
        entry = service;
        for (const char* name : below_service) {
            entry = add_node_locked(name, entry);
            b.entries.push_back(entry);
        }
        entry = add_node_locked(udev_volume_placeholder, entry);
        nodes[entry].volume_of = service;
        b.entries.push_back(entry);
        bridges[service] = std::move(b);
        return service;
    }

    // The first whole disk below the bridge: its name, the placeholder when there is none
    // yet, nothing when the bridge itself is gone.
    std::optional<std::string> block_device_locked(registry_entry service)
    {
        const auto b = bridges.find(service);
        if (b == bridges.end())
            return std::nullopt;
        const auto p = present.find(b->second.syspath);
        if (p == present.end() || p->second != service)
            return std::nullopt;
        udev_device* dev = udev_device_new_from_syspath(u, b->second.syspath.c_str());
        if (!dev)
            return std::nullopt;
        const device_ref hold{dev};
        udev_enumerate* e = udev_enumerate_new(u);
        if (!e)
            return std::nullopt;
        const enumerate_ref hold_e{e};
        if (udev_enumerate_add_match_subsystem(e, "block") < 0 || udev_enumerate_add_match_parent(e, dev) < 0 ||
            udev_enumerate_scan_devices(e) < 0)
            return std::nullopt;
        udev_list_entry* item;
        udev_list_entry_foreach(item, udev_enumerate_get_list_entry(e))
        {
            udev_device* block = udev_device_new_from_syspath(u, udev_list_entry_get_name(item));
            if (!block)
                continue;
            const device_ref hold_block{block};
            const char* devtype = udev_device_get_devtype(block);
            const char* sysname = udev_device_get_sysname(block);
            if (devtype && sysname && std::strcmp(devtype, "disk") == 0)
                return std::string(sysname);
        }
        return std::string(udev_volume_placeholder);
    }

    void queue_first_match_locked(const std::vector<registry_entry>& services)
    {
        for (registry_entry s : services)
            bridges[s].announced = true;
        if (services.empty())
            return;
        for (const auto& h : matchers) {
            const uint32_t it = new_id_locked();
            iterators.add(it, std::deque<registry_entry>(services.begin(), services.end()));
            queue_locked([h, it] { h(it); });
        }
    }

    // Builds the entries of newly found bridges, tells the binder, then announces them.
    void arrive(const std::vector<found>& devices)
    {
        if (devices.empty())
            return;
        std::vector<registry_entry> services;
        {
            std::lock_guard<std::mutex> lock(m);
            for (const found& f : devices) {
                services.push_back(build_locked(f));
                present[f.syspath] = services.back();
            }
        }
        for (size_t i = 0; binder && i < devices.size(); ++i) {
            int rc;
            try {
                rc = binder->attach(services[i], devices[i].syspath, devices[i].devnode);
            } catch (...) {
                rc = -1;
            }
            if (rc != 0)
                note("udev: the bridge library does not drive ", devices[i].syspath, " (attach gave ", rc,
                     "); it shows, and its calls fail");
        }
        std::lock_guard<std::mutex> lock(m);
        queue_first_match_locked(services);
    }

    void leave(const std::string& syspath)
    {
        std::lock_guard<std::mutex> lock(m);
        const auto p = present.find(syspath);
        if (p == present.end())
            return;
        const registry_entry service = p->second;
        present.erase(p);
        queue_locked([this, service] { terminate(service); });
    }

    // Runs as a task, so interests registered by handlings queued before it are told too.
    void terminate(registry_entry service)
    {
        std::vector<interest_handler> told;
        {
            std::lock_guard<std::mutex> lock(m);
            const auto b = bridges.find(service);
            if (b == bridges.end())
                return;
            told = b->second.interests;
        }
        for (const auto& h : told) {
            try {
                h(service, msg_service_terminated, nullptr);
            } catch (const std::exception& e) {
                note("udev: a termination handler threw: ", e.what());
            } catch (...) {
                note("udev: a termination handler threw");
            }
        }
        {
            std::lock_guard<std::mutex> lock(m);
            const auto b = bridges.find(service);
            if (b != bridges.end()) {
                for (registry_entry e : b->second.entries)
                    nodes.erase(e);
                bridges.erase(b);
            }
        }
        if (binder) {
            try {
                binder->detach(service);
            } catch (...) {
                note("udev: the bridge library failed to let go of service ", service);
            }
        }
    }

    void emit(const std::vector<std::string>& warnings)
    {
        for (const auto& w : warnings)
            note(w);
    }

    // Makes the registry agree with sysfs: at open, and after the monitor lost events.
    bool sync(std::string& error)
    {
        std::vector<found> arriving;
        std::vector<std::string> leaving;
        std::vector<std::string> warnings;
        {
            std::lock_guard<std::mutex> lock(m);
            udev_enumerate* e = udev_enumerate_new(u);
            if (!e) {
                error = "udev_enumerate_new failed: " + errno_text(errno);
                return false;
            }
            const enumerate_ref hold{e};
            int rc = udev_enumerate_add_match_subsystem(e, "usb");
            if (rc >= 0)
                rc = udev_enumerate_add_match_subsystem(e, "firewire");
            if (rc >= 0)
                rc = udev_enumerate_scan_devices(e);
            if (rc < 0) {
                error = "listing the USB and FireWire devices failed: " + errno_text(-rc);
                return false;
            }
            std::set<std::string> seen;
            udev_list_entry* item;
            udev_list_entry_foreach(item, udev_enumerate_get_list_entry(e))
            {
                udev_device* dev = udev_device_new_from_syspath(u, udev_list_entry_get_name(item));
                if (!dev)
                    continue;
                const device_ref hold_dev{dev};
                auto f = inspect_locked(dev, warnings);
                if (!f)
                    continue;
                seen.insert(f->syspath);
                if (present.count(f->syspath) == 0)
                    arriving.push_back(std::move(*f));
            }
            for (const auto& [syspath, service] : present)
                if (seen.count(syspath) == 0)
                    leaving.push_back(syspath);
        }
        emit(warnings);
        for (const auto& syspath : leaving)
            leave(syspath);
        arrive(arriving);
        return true;
    }

    // One event off the monitor; false when none is waiting.
    bool take_event()
    {
        std::optional<found> arriving;
        std::string leaving;
        std::vector<std::string> warnings;
        {
            std::lock_guard<std::mutex> lock(m);
            errno = 0;
            udev_device* dev = udev_monitor_receive_device(monitor);
            if (!dev) {
                // The socket overflowed: what the lost events said is read from sysfs.
                if (errno == ENOBUFS)
                    resync = true;
                return false;
            }
            const device_ref hold{dev};
            const char* action = udev_device_get_action(dev);
            const char* syspath = udev_device_get_syspath(dev);
            if (!action || !syspath)
                return true;
            // "change", "bind" and the like leave a bridge what it is.
            if (std::strcmp(action, "add") == 0 && present.count(syspath) == 0)
                arriving = inspect_locked(dev, warnings);
            else if (std::strcmp(action, "remove") == 0 && present.count(syspath) != 0)
                leaving = syspath;
        }
        emit(warnings);
        if (arriving)
            arrive({*arriving});
        if (!leaving.empty())
            leave(leaving);
        return true;
    }
};

// ---- set-up ----------------------------------------------------------------------------

udev_registry::udev_registry(std::unique_ptr<impl> d) : d_(std::move(d)) {}

std::unique_ptr<udev_registry> udev_registry::open(std::vector<bridge_match> matches, device_binder* binder,
                                                   std::string& error)
{
    try {
        auto d = std::make_unique<impl>();
        d->matches = std::move(matches);
        d->binder = binder;
        d->u = udev_new();
        if (!d->u) {
            error = "udev_new failed: " + errno_text(errno);
            return nullptr;
        }
        d->monitor = udev_monitor_new_from_netlink(d->u, "udev");
        if (!d->monitor) {
            error = "the udev monitor (netlink source \"udev\") could not be made: " + errno_text(errno);
            return nullptr;
        }
        int rc = udev_monitor_filter_add_match_subsystem_devtype(d->monitor, "usb", "usb_device");
        if (rc >= 0)
            rc = udev_monitor_filter_add_match_subsystem_devtype(d->monitor, "firewire", nullptr);
        if (rc < 0) {
            error = "the udev monitor's filter could not be set: " + errno_text(-rc);
            return nullptr;
        }
        // Receiving starts before the listing, so a device arriving in between is not missed;
        // its "add" then finds it known.
        rc = udev_monitor_enable_receiving(d->monitor);
        if (rc < 0) {
            error = "the udev monitor could not start receiving: " + errno_text(-rc);
            return nullptr;
        }
        d->monitor_fd = udev_monitor_get_fd(d->monitor);
        d->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (d->wake < 0) {
            error = "eventfd for the run loop failed: " + errno_text(errno);
            return nullptr;
        }
        if (!d->sync(error))
            return nullptr;
        return std::unique_ptr<udev_registry>(new udev_registry(std::move(d)));
    } catch (const std::exception& e) {
        error = std::string("setting up the udev registry failed: ") + e.what();
        return nullptr;
    }
}

udev_registry::~udev_registry()
{
    if (!d_->binder)
        return;
    for (const auto& [service, b] : d_->bridges) {
        try {
            d_->binder->detach(service);
        } catch (...) {
        }
    }
}

// ---- queries ---------------------------------------------------------------------------

std::string udev_registry::name(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    const auto it = d_->nodes.find(entry);
    if (it == d_->nodes.end())
        return {};
    // The disk shows some time after the bridge: asked for each time, kept once the bridge left.
    if (it->second.volume_of != 0)
        if (auto block = d_->block_device_locked(it->second.volume_of))
            it->second.name = std::move(*block);
    return it->second.name;
}

registry_entry udev_registry::parent(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    const auto it = d_->nodes.find(entry);
    return it == d_->nodes.end() ? 0 : it->second.parent;
}

registry_entry udev_registry::first_child(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    const auto it = d_->nodes.find(entry);
    return it == d_->nodes.end() ? 0 : it->second.child;
}

registry_value udev_registry::property(registry_entry entry, const std::string& key)
{
    std::lock_guard<std::mutex> lock(d_->m);
    const auto it = d_->nodes.find(entry);
    if (it == d_->nodes.end())
        return {};
    const auto p = it->second.props.find(key);
    return p == it->second.props.end() ? registry_value{} : p->second;
}

// ---- notifications ---------------------------------------------------------------------

bool udev_registry::matching_available(const std::string& service_class)
{
    return service_class == bridge_service_class;
}

uint32_t udev_registry::add_matching_notification(const std::string& service_class, added_handler handler)
{
    if (!matching_available(service_class) || !handler)
        return 0;
    std::lock_guard<std::mutex> lock(d_->m);
    d_->matchers.push_back(std::move(handler));
    const uint32_t it = d_->new_id_locked();
    std::deque<registry_entry> services;
    for (const auto& [service, b] : d_->bridges) {
        const auto p = d_->present.find(b.syspath);
        if (b.announced && p != d_->present.end() && p->second == service)
            services.push_back(service);
    }
    d_->iterators.add(it, std::move(services));
    return it;
}

registry_entry udev_registry::iterator_next(uint32_t iterator)
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->iterators.next(iterator);
}

int udev_registry::add_interest_notification(registry_entry service, interest_handler handler)
{
    std::lock_guard<std::mutex> lock(d_->m);
    const auto b = d_->bridges.find(service);
    if (b == d_->bridges.end() || !handler)
        return registry_no_such_device;
    b->second.interests.push_back(std::move(handler));
    return 0;
}

void udev_registry::release(uint32_t object)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->iterators.release(object);
}

// ---- the run loop ----------------------------------------------------------------------

void udev_registry::run_loop()
{
    const auto guarded = [](const char* what, auto&& work) noexcept {
        try {
            work();
        } catch (const std::exception& e) {
            note("udev: ", what, " threw: ", e.what());
        } catch (...) {
            note("udev: ", what, " threw");
        }
    };
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(d_->m);
            if (d_->stopping) {
                d_->stopping = false;
                return;
            }
        }
        // Events are taken in before each task, so they wait behind at most one.
        guarded("reading a device event", [this] {
            while (d_->take_event()) {
            }
        });
        bool resync;
        {
            std::lock_guard<std::mutex> lock(d_->m);
            resync = std::exchange(d_->resync, false);
        }
        if (resync)
            guarded("reading the devices anew", [this] {
                std::string error;
                if (!d_->sync(error))
                    note("udev: device events were lost and ", error);
            });
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> lock(d_->m);
            if (d_->stopping)
                continue;
            if (!d_->queue.empty()) {
                task = std::move(d_->queue.front());
                d_->queue.pop_front();
            }
        }
        if (task) {
            guarded("a notification handler", task);
            continue;
        }
        pollfd fds[2] = {{d_->monitor_fd, POLLIN, 0}, {d_->wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ENOMEM)
                continue;
            note("udev: the run loop cannot wait for events: ", std::strerror(errno));
            return;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(d_->wake, &count, sizeof count);
        }
    }
}

void udev_registry::stop_run_loop()
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->stopping = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(d_->wake, &one, sizeof one);
}

void udev_registry::post(std::function<void()> task)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->queue_locked(std::move(task));
}

// ---- locations and rules ---------------------------------------------------------------

std::optional<uint32_t> usb_location_id(uint32_t busnum, std::string_view sysname)
{
    if (busnum < 1 || busnum > 255)
        return std::nullopt;
    const size_t dash = sysname.find('-');
    if (dash == std::string_view::npos || dash == 0 ||
        sysname.substr(0, dash).find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const std::string_view path = sysname.substr(dash + 1);
    std::vector<uint32_t> ports;
    for (size_t start = 0;;) {
        const size_t dot = path.find('.', start);
        const auto port = parse_decimal(path.substr(start, dot == std::string_view::npos ? dot : dot - start), 255);
        if (!port || *port == 0)
            return std::nullopt;
        ports.push_back(*port);
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    uint32_t id = busnum << 24;
    bool fits = ports.size() <= 6;
    for (uint32_t port : ports)
        fits = fits && port <= 15;
    if (fits) {
        int shift = 20;
        for (uint32_t port : ports) {
            id |= port << shift;
            shift -= 4;
        }
        return id;
    }
    uint32_t hash = 2166136261u;  // FNV-1a over the port path
    for (char c : path)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    uint32_t low = (hash ^ (hash >> 20)) & 0xFFFFF;
    return id | (low != 0 ? low : 1);
}

std::string udev_rules_for(const std::vector<bridge_match>& matches)
{
    std::string out =
        "# Lets the user at the seat reach the RAID bridges ovraid drives.\n"
        "# Made by udev_rules_for() from the bridge library's match table: change the table, not this file.\n";
    std::vector<bridge_match> written;
    for (const bridge_match& m : matches) {
        if (std::find(written.begin(), written.end(), m) != written.end())
            continue;
        written.push_back(m);
        char line[320];
        if (m.firewire)
            std::snprintf(line, sizeof line,
                          "SUBSYSTEM==\"firewire\", ATTR{vendor}==\"0x%06x\", ATTR{model}==\"0x%06x\", "
                          "TAG+=\"uaccess\"\n",
                          m.vendor, m.product);
        else
            // The device itself (for a library on usbfs) and its SCSI generic node (for one
            // that sends commands through the disk the bridge presents).
            std::snprintf(line, sizeof line,
                          "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"%04x\", "
                          "ATTR{idProduct}==\"%04x\", TAG+=\"uaccess\"\n"
                          "SUBSYSTEM==\"scsi_generic\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"%04x\", "
                          "ATTRS{idProduct}==\"%04x\", TAG+=\"uaccess\"\n",
                          m.vendor, m.product, m.vendor, m.product);
        out += line;
    }
    return out;
}

}  // namespace ov
