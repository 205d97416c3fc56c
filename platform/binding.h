// How a device registry and a bridge library meet on Linux. The registry finds the
// bridges (udev, or the simulation's tree) and hands out the service handles; the
// library is told which device each handle stands for before the handle is announced,
// and when it is gone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ov {

// One line of a library's match table: the bus devices it drives.
struct bridge_match {
    bool firewire = false;
    uint32_t vendor = 0;   // USB idVendor, or FireWire vendor (24-bit OUI)
    uint32_t product = 0;  // USB idProduct, or FireWire model
    bool operator==(const bridge_match&) const = default;
};

class device_binder {
public:
    virtual ~device_binder() = default;
    // The bridge at syspath (its device node, "" when it has none) is now service.
    // 0 when the library will drive it. The registry announces it either way; a bridge the
    // library refuses is simply not in its device list.
    virtual int attach(uint32_t service, const std::string& syspath, const std::string& devnode) = 0;
    // The service is gone; its handle is not used again.
    virtual void detach(uint32_t service) = 0;
};

}  // namespace ov
