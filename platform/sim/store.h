// The simulated enclosures on disk: one directory per bridge with its identity and
// up to two disks, each an image file (size = capacity) with its identity beside it.
// Every change a user or a test makes to the hardware is a change to this tree.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "conf.h"
#include "failures.h"

namespace ov::sim {

// Where a disk lives: a port of a bridge or a slot of the shelf. Both are directories
// holding disk.img, disk.conf and optionally identify.bin.
constexpr const char* image_file = "disk.img";
constexpr const char* disk_conf_file = "disk.conf";
constexpr const char* identify_file = "identify.bin";
constexpr const char* bridge_conf_file = "bridge.conf";
constexpr const char* failures_file = "failures";
constexpr const char* shelf_dir_name = "shelf";

// Whether path, followed through every link, stays inside the simulation at root. Links
// inside it are followed: they lead only to the simulation's own files, and an image in two
// bays is caught by the same-image check. A link out of it is refused for reading too, not
// only for writing: a disk there belongs to someone else, and one that reads but fails every
// write would only puzzle. A dangling link or a loop is an error naming the link. A path that
// does not exist, or that leads to something other than a file or a directory, is left to
// the caller's own checks (true).
bool within_root(const std::string& root, const std::string& path, std::string& error);

// Something other than a directory (a link to nowhere too) stands where a bay's or a shelf
// slot's directory belongs: the bay is not empty, its disk unreadable.
bool bay_not_a_directory(const std::string& dir);

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

    bool add_bridge(const bridge_desc& cfg, std::string& error);
    bool remove_bridge(const std::string& bridge, std::string& error);
    bool set_plugged(const std::string& bridge, bool plugged, std::string& error);

    // Disks are made on the shelf (outside every bridge) and inserted into a port.
    bool make_disk(const std::string& disk, const disk_desc& cfg, std::string& error);
    bool insert_disk(const std::string& bridge, int port, const std::string& disk, std::string& error);
    // Moves the disk in that port back to the shelf; its name is returned in disk.
    bool pull_disk(const std::string& bridge, int port, std::string& disk, std::string& error);

    bool add_failure(const std::string& bridge, const failure_desc& failure, std::string& error);
    bool clear_failures(const std::string& bridge, std::string& error);

    // Path of the image in a bridge's port ("" when the port is empty), and of a shelf disk.
    std::string port_image(const std::string& bridge, int port) const;
    std::string shelf_image(const std::string& disk) const;

    // Every directory of the root that holds a bridge.conf, or that cannot be looked into
    // (reading it then says why). The second form says what could not be read: the root
    // (no names then) or a bridge directory; a root that does not exist holds no bridges.
    std::vector<std::string> bridges() const;
    bool bridges(std::vector<std::string>& names, std::string& error) const;

    // Reading the tree back. Every error names the file it is about.
    bool read_bridge(const std::string& bridge, bridge_desc& cfg, std::string& error) const;
    std::string bridge_dir(const std::string& bridge) const;
    std::string port_dir(const std::string& bridge, int port) const;
    std::string shelf_dir(const std::string& disk = std::string()) const;
    std::vector<std::string> shelf() const;
    // A disk directory holds an image (its size gives cfg.sectors) and a valid disk.conf.
    // An empty port or slot gives false with an empty error.
    bool read_disk(const std::string& dir, disk_desc& cfg, std::string& disk, std::string& error) const;
    // The 512 bytes the disk answers IDENTIFY with: identify.bin when present, otherwise
    // generated from disk.conf and the image size.
    bool read_identify(const std::string& dir, std::array<unsigned char, 512>& block, std::string& error) const;

    bool read_failures(const std::string& bridge, std::vector<failure_desc>& failures, std::string& error) const;
    // Lets the bridge's failures file judge one call (see judge_call).
    std::string take_failure(const std::string& bridge, const std::string& call, int port, std::string& error);

    // The twelve library call names failures can be set on.
    static const std::vector<std::string>& call_names() { return failure_calls(); }
    static bool valid_name(const std::string& name);
    bool inside(const std::string& path, std::string& error) const { return within_root(root_, path, error); }

private:
    bool write_bridge(const bridge_desc& cfg, std::string& error) const;
    bool write_disk_conf(const std::string& dir, const std::string& disk, const disk_desc& cfg,
                         std::string& error) const;
    std::string free_shelf_name(const std::string& wanted) const;
    bool image_first_in_use(const std::string& dir, std::string& error) const;

    std::string root_;
};

}  // namespace ov::sim
