// The identity files of the simulation: bridge.conf describes a bridge, disk.conf a disk,
// both as "key = value" lines. Reading names the file and line of the first fault, so a
// user who edits one by hand is told where it went wrong.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ov::sim {

// A rebuild paced slower than a week is a typo, and an endless one never ends.
constexpr double max_rebuild_seconds = 7 * 24 * 3600;
// A USB string descriptor (serial, product name) holds at most 126 characters.
constexpr size_t max_descriptor_text = 126;

struct bridge_desc {
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

struct disk_desc {
    std::string model;
    std::string serial;
    uint64_t sectors = 0;
    std::string addressing = "lba48";  // lba48, lba28 or chs
    bool hpa_enabled = false;          // Host Protected Area feature set enabled (word 85 bit 10)
};

// bridge.conf. The bridge's name is its directory's, not part of the file: cfg keeps its own.
std::string format_bridge_conf(const bridge_desc& cfg);
bool parse_bridge_conf(const std::string& path, const std::string& text, bridge_desc& cfg, std::string& error);

// disk.conf. It carries the disk's name, so a disk keeps it through ports and the shelf;
// disk is left as it is when the file names none. The capacity is the image's size and
// is not read here.
std::string format_disk_conf(const std::string& disk, const disk_desc& cfg);
bool parse_disk_conf(const std::string& path, const std::string& text, disk_desc& cfg, std::string& disk,
                     std::string& error);

// The text files' common syntax: each trimmed line with its number, blank lines and
// '#' comments skipped; stops at the first line take refuses.
bool for_each_line(const std::string& text, const std::function<bool(int, const std::string&)>& take);
std::string trimmed(const std::string& text);
bool parse_i64(const std::string& text, int64_t& value);  // decimal or 0x hex, optional '-'

// A disk size as a user gives it: "1TB", "500GB", "2TiB", "750MiB" (bytes, rounded down
// to whole sectors) or a plain number of sectors.
bool parse_size(const std::string& text, uint64_t& sectors, std::string& error);

// What the files accept, for the store to check descriptions before writing them.
bool printable(const std::string& text);                  // ASCII 0x20-0x7E only
// Text from a file as a terminal may show it: every byte outside 0x20-0x7E as \xNN.
std::string escaped(const std::string& text);
// The same, cut after limit bytes with "..." : a garbage line may be a megabyte long.
std::string clipped(const std::string& text, size_t limit = 60);
bool valid_addressing(const std::string& addressing);
bool known_property(const std::string& property);         // a registry property a bridge may omit

// Numbers as the files write them ("0x1E91", "0x80004601A2B3C4D5"); the listing shows
// them the same way.
std::string hex(uint64_t v);
std::string hex4(uint32_t v);

}  // namespace ov::sim
