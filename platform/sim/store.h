// The simulated enclosures on disk: one directory per bridge with its identity and
// up to two disks, each an image file (size = capacity) with its identity beside it.
// Every change a user or a test makes to the hardware is a change to this tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ov::sim {

struct bridge_spec {
    std::string name;                 // directory name under the root
    bool firewire = false;
    uint32_t vendor_id = 0x1E91;      // USB only
    uint32_t product_id = 0x0A12;     // USB only
    int64_t location_id = 0;          // USB only; a 32-bit value, stored as given
    std::string usb_serial;           // USB only
    uint64_t guid = 0;                // FireWire only
    std::string device_name = "RAID Volume";  // name of the device the bridge presents
    bool plugged = true;
    double rebuild_seconds = 120;     // system time a whole rebuild copy takes; 0 = unpaced
    std::vector<std::string> missing_properties;  // registry properties left out, for tests
};

struct disk_spec {
    std::string model;
    std::string serial;
    uint64_t sectors = 0;
    std::string addressing = "lba48";  // lba48, lba28 or chs
    bool hpa_enabled = false;          // Host Protected Area feature set enabled (word 85 bit 10)
};

// One injected failure of a library call on a bridge.
struct failure_spec {
    std::string call;            // library call name, e.g. "ovSetRaidInfo"
    std::string mode = "once";   // once | always | mismatch | vanish
    int port = -1;               // -1: any port
    int skip = 0;                // let this many matching calls succeed first
};

class store {
public:
    explicit store(std::string root);
    const std::string& root() const { return root_; }
    // $XDG_DATA_HOME/ovraid/sim, or ~/.local/share/ovraid/sim.
    static std::string default_root();

    bool exists() const;
    // A USB bridge with a healthy RAID 1 of two 1 TB disks and a FireWire bridge with two
    // blank disks of different sizes.
    bool create_demo(std::string& error);

    bool add_bridge(const bridge_spec& spec, std::string& error);
    bool remove_bridge(const std::string& bridge, std::string& error);
    bool set_plugged(const std::string& bridge, bool plugged, std::string& error);

    // Disks are made on the shelf (outside every bridge) and inserted into a port.
    bool make_disk(const std::string& disk, const disk_spec& spec, std::string& error);
    bool insert_disk(const std::string& bridge, int port, const std::string& disk, std::string& error);
    // Moves the disk in that port back to the shelf; its name is returned in disk.
    bool pull_disk(const std::string& bridge, int port, std::string& disk, std::string& error);

    bool add_failure(const std::string& bridge, const failure_spec& failure, std::string& error);
    bool clear_failures(const std::string& bridge, std::string& error);

    // Path of the image in a bridge's port ("" when the port is empty), and of a shelf disk.
    std::string port_image(const std::string& bridge, int port) const;
    std::string shelf_image(const std::string& disk) const;

    std::vector<std::string> bridges() const;
    // A human-readable listing of bridges, ports, disks, records and failures.
    std::string describe() const;

private:
    std::string root_;
};

}  // namespace ov::sim
