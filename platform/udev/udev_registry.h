// The device registry of real bridges, built on libudev. Each USB or FireWire device that
// a line of the bridge library's match table names hangs a short chain of entries in the
// registry, shaped as the scan and the name lookup walk it:
//
//   bus entry -> three intermediate entries -> service ("ovPeripheralDeviceType00")
//             -> two entries -> the presented block device ("sdb")
//
// The bus entry carries the identity: idVendor, idProduct, locationID and (when the device
// has one) "USB Serial Number" for USB; GUID for FireWire, whose bus entry alone has
// "FireWire" in its name. Devices present at open and devices arriving later go through
// the same path; a udev monitor read inside run_loop() reports arrivals and removals.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding.h"
#include "registry.h"

namespace ov {

// The third entry below a service before the bridge presents a block device.
constexpr const char* udev_volume_placeholder = "RAID Volume";

class udev_registry : public device_registry {
public:
    // A registry over the bridges matches names, with binder (may be null) told of each
    // one before it is announced and after its termination was delivered. The binder must
    // outlive the registry: services still attached are detached when it is destroyed.
    // Null with error naming what failed when libudev or its monitor cannot be set up.
    static std::unique_ptr<udev_registry> open(std::vector<bridge_match> matches, device_binder* binder,
                                               std::string& error);
    ~udev_registry() override;
    udev_registry(const udev_registry&) = delete;
    udev_registry& operator=(const udev_registry&) = delete;

    std::string name(registry_entry entry) override;
    registry_entry parent(registry_entry entry) override;
    registry_entry first_child(registry_entry entry) override;
    registry_value property(registry_entry entry, const std::string& key) override;

    bool matching_available(const std::string& service_class) override;
    uint32_t add_matching_notification(const std::string& service_class, added_handler handler) override;
    registry_entry iterator_next(uint32_t iterator) override;
    int add_interest_notification(registry_entry service, interest_handler handler) override;
    void release(uint32_t object) override;

    void run_loop() override;
    void stop_run_loop() override;
    void post(std::function<void()> task) override;

    struct impl;

private:
    explicit udev_registry(std::unique_ptr<impl> d);
    std::unique_ptr<impl> d_;
};

// locationID of a USB device from its bus number and sysfs name ("2-1.4": ports 1, then 4):
// the bus in bits 24-31, each port a nibble from bit 20 downwards. A path that does not fit
// (a port above 15, or deeper than six) keeps the bus, leaves bits 20-23 zero, which no
// fitting path does, and holds a non-zero 20-bit hash of the port path below: stable for
// one socket, and apart from every fitting path. Empty when the name holds no port path or
// the bus is outside 1-255.
std::optional<uint32_t> usb_location_id(uint32_t busnum, std::string_view sysname);

// A udev rules file giving the user at the seat access to every device of the table.
std::string udev_rules_for(const std::vector<bridge_match>& matches);

}  // namespace ov
