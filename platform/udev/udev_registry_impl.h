// The udev registry's inner state and the work on it: the devices found, the entry chains,
// the hot-plug events. Included by udev_registry.cpp alone (its anonymous namespace is that
// file's); kept apart for its size.
#pragma once

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
#include "udev_registry.h"
#include "udev_text.h"

namespace ov {

namespace {


// Entry names. Only the FireWire bus entry may hold "FireWire": the scan tells the buses
// apart by that word four levels above the service.
const char* const usb_chain[] = {"USB interface", "SCSI host", "SCSI target"};
const char* const firewire_chain[] = {"SBP-2 unit", "SCSI host", "SCSI target"};
const char* const below_service[] = {"SCSI disk", "block driver"};

using namespace udev_text;

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
                       std::vector<std::string>& warnings, bool still_a_bridge = false)
    {
        if (reported.insert(syspath + '\n' + attribute).second)
            warnings.push_back("udev: " + syspath + ": " + attribute + " " + what +
                               (still_a_bridge ? "" : "; the device is not taken for a bridge"));
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
            // A bridge without a usable serial is told apart by its port alone: said once.
            const char* serial = udev_device_get_sysattr_value(dev, "serial");
            const std::string_view text = serial ? trimmed(serial) : std::string_view();
            if (serial && std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
                f.serial = std::string(text);
            else
                report_locked(f.syspath, "serial",
                              (serial ? shown(serial) + " is not text" : std::string("is missing")) +
                                  "; the bridge is told apart by its port alone",
                              warnings, true);
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
                     "); it is left out of the bridges");
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

}  // namespace ov
