#include "ovtool.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "clock.h"
#include "diag.h"
#include "library.h"
#include "registry.h"
#include "requests.h"

namespace ov {

ovtool j;

namespace {

std::atomic<int> architecture_override{-1};

int detect_architecture()
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return 1;
#elif defined(__i386__) || defined(__x86_64__)
    return 0;
#else
    return 2;
#endif
}

}  // namespace

int getArchitecture()
{
    const int forced = architecture_override.load();
    return forced >= 0 ? forced : detect_architecture();
}

void override_architecture(int code)
{
    architecture_override.store(code);
}

void ovtool::note_warm_boot(uint32_t service)
{
    std::lock_guard<std::mutex> lock(warm_boot_mutex_);
    warm_booting_.insert(service);
    warm_boot_noted_ = true;
}

void ovtool::forget_warm_boot(uint32_t service)
{
    std::lock_guard<std::mutex> lock(warm_boot_mutex_);
    warm_booting_.erase(service);
}

bool ovtool::take_warm_boot(uint32_t service)
{
    std::lock_guard<std::mutex> lock(warm_boot_mutex_);
    return warm_booting_.erase(service) > 0;
}

bool ovtool::warm_boots_noted()
{
    std::lock_guard<std::mutex> lock(warm_boot_mutex_);
    return warm_boot_noted_;
}

void ovtool::end_warm_boot_window()
{
    std::lock_guard<std::mutex> lock(warm_boot_mutex_);
    warm_boot_noted_ = false;
}

bool ovtool::controller_exists(controller_t identity) const
{
    return std::any_of(chips.begin(), chips.end(), [&](const ovchip& c) { return c.identity == identity; });
}

int ovtool::get_controller_num(const controller_t& identity) const
{
    for (size_t i = 0; i < chips.size(); ++i)
        if (chips[i].identity == identity)
            return static_cast<int>(i);
    return -1;
}

bool ovtool::curr_chip_exists() const
{
    return get_controller_num(current) != -1;
}

ovchip* ovtool::current_chip()
{
    const int index = get_controller_num(current);
    return index < 0 ? nullptr : &chips[static_cast<size_t>(index)];
}

bool ovtool::add_controller(controller_t identity, const uint32_t& service)
{
    ovchip chip;
    chip.service = service;
    chip.identity = identity;
    chips.push_back(chip);
    return true;
}

bool ovtool::setup_controller_map()
{
    controller_map.clear();
    for (size_t i = 0; i < chips.size(); ++i)
        controller_map.emplace_back(chips[i].identity.order_key, static_cast<int>(i));
    std::sort(controller_map.begin(), controller_map.end());
    return true;
}

bool ovtool::updatediskinformation()
{
    for (ovchip& chip : chips)
        chip.retrievediskinformation();
    return true;
}

void ovtool::stop_monitors(int index)
{
    if (index < 0 || index >= static_cast<int>(chips.size()))
        return;
    chips[index].quiesce();
}

bool ovtool::flush_chips()
{
    for (size_t i = 0; i < chips.size(); ++i) {
        const int selected = get_controller_num(current);
        if (selected != -1)
            stop_monitors(selected);
        if (chips[i].connection_open)
            library().closeConnection(chips[i].service);
    }
    // Monitors serve only the selected chip; should one still run elsewhere, it reads this
    // list, so it must end before the list goes.
    for (size_t i = 0; i < chips.size(); ++i)
        if (chips[i].raid1_timer_alive || chips[i].poller_alive)
            stop_monitors(static_cast<int>(i));
    if (!chips.empty())
        chips.clear();
    return true;
}

bool ovtool::clear_raid(int index)
{
    if (index < 0 || index >= static_cast<int>(chips.size()))
        return false;
    return chips[index].clear_raid();
}

bool ovtool::build_raid(int index, int mode)
{
    if (index < 0 || index >= static_cast<int>(chips.size()))
        return false;
    return chips[index].create_raid(mode);
}

bool ovtool::warm_boot()
{
    // The selected controller, never whichever bridge happens to be first in the list.
    ovchip* chip = current_chip();
    if (!chip)
        return false;
    chip->last_write.clear();
    chip->last_write.plain_restart = true;
    return chip->warm_boot();
}

bool ovtool::scandevices()
{
    flush_chips();
    uint32_t handles[device_list_capacity] = {};
    uint32_t count = 0;
    if (library().getDeviceList(handles, &count) != 0)
        return false;
    count = std::min<uint32_t>(count, device_list_capacity);

    device_registry& reg = registry();
    const auto number = [&](registry_entry entry, const char* key) {
        const registry_value v = reg.property(entry, key);
        return v.type == registry_value::kind::number ? v.number : 0;
    };
    for (uint32_t n = 0; n < count; ++n) {
        const uint32_t service = handles[n];
        registry_entry bus = service;
        for (int level = 0; level < 4; ++level)
            bus = reg.parent(bus);
        controller_t identity;
        if (reg.name(bus).find("FireWire") != std::string::npos) {
            identity.is_firewire = true;
            identity.guid = static_cast<uint64_t>(number(bus, "GUID"));
            identity.order_key = identity.guid;
        } else {
            // The USB numbers are 32-bit; the location keeps its sign into the 64-bit key.
            identity.is_firewire = false;
            identity.vendor_id = static_cast<uint32_t>(static_cast<int32_t>(number(bus, "idVendor")));
            identity.product_id = static_cast<uint32_t>(static_cast<int32_t>(number(bus, "idProduct")));
            identity.location_id = static_cast<int32_t>(number(bus, "locationID"));
            identity.order_key = static_cast<uint64_t>(identity.location_id);
            const registry_value serial = reg.property(bus, "USB Serial Number");
            if (serial.type == registry_value::kind::text)
                identity.usb_serial = cfstringtostring(serial.text);
        }
        if (!controller_exists(identity))
            add_controller(identity, service);
    }
    // A bridge that cannot be opened (it may have left between the list and the open) is
    // left out of this scan; the next device event or refresh tries it again.
    left_out = 0;
    for (size_t i = 0; i < chips.size();) {
        if (library().openConnection(chips[i].service) != 0) {
            chips.erase(chips.begin() + static_cast<std::ptrdiff_t>(i));
            ++left_out;
            continue;
        }
        chips[i].connection_open = true;
        ++i;
    }
    setup_controller_map();
    if (left_out > 0)
        ctrller->notice(localized("bridge_left_out"));
    return true;
}

bool ovtool::read_raid()
{
    for (size_t i = 0; i < chips.size(); ++i) {
        diag(diag_level::trace, "reading raid info for chip " + inttostring(i));
        chips[i].read_raid_info();
    }
    build_tree();
    return true;
}

bool ovtool::build_tree()
{
    tree.cleartree();
    int node = -1;
    for (size_t k = 0; k < controller_map.size() && k < chips.size(); ++k) {
        const int index = controller_map[k].second;
        if (index < 0 || index >= static_cast<int>(chips.size()))
            continue;
        const ovchip& chip = chips[static_cast<size_t>(index)];
        ++node;
        // The state is judged here, on the scan's thread, from what the scan just read.
        tree.addchip(chip.identity, summarize(chip).state);
        if (chip.raid_configured) {
            std::string label = chip.get_raid_name();
            if (chip.identity.is_firewire)
                label += "(GUID: " + inttohexstring(static_cast<int64_t>(chip.identity.guid), 0) + ")";
            else
                label += " (SN: " + chip.identity.usb_serial + ")";
            tree.addraid(node, label);
        }
        for (int d = 0; d < 2; ++d) {
            const ovdisk& disk = chip.disks[d];
            if (disk.present)
                tree.adddisk(node, disk.get_display_string(d == 1, chip.raid_configured), chip.raid_configured,
                             {d + 1, disk.model, disk.serial, disk.capacity});
        }
    }
    diag(diag_level::console, "tree built");
    std::fflush(stdout);
    ctrller->refreshtree();
    ctrller->expandtree();
    return true;
}

}  // namespace ov
