// The firmware of every simulated bridge under one root, as the firmware service runs it:
// power-up with set assembly, the rebuild copy, and the warm boot. Its state goes to the
// files of firmware_state.h. One instance per simulation, in the service's process.
#pragma once

#include <map>
#include <mutex>
#include <stop_token>
#include <string>

#include "firmware.h"
#include "firmware_state.h"
#include "store.h"
#include "threads.h"

namespace ov::sim {

// A bay's disk as the firmware reads it: its record and where that lies.
struct bay_record {
    record_summary rec;
    std::string serial_raw;  // the 20 serial bytes of its IDENTIFY block
    std::string image;
    uint64_t image_sectors = 0, record_lba = 0;
};
// False for an empty bay (error empty) or a disk whose record cannot be read (error says why,
// unless the disk is too small to hold one).
bool read_bay_record(const store& st, const std::string& bridge, int port, bay_record& bay, std::string& error);
// Two halves of one mirror running in step: each names the other, one stamp, no copy marked.
bool in_step_mirror(const bay_record& a, const bay_record& b);

// What set assembly decided for a bridge at power-up.
struct rebuild_plan {
    bool copy = false;
    int source_port = 0;
    std::string source_image, target_image;
    uint64_t end = 0;          // sectors [0, end) are copied
    uint64_t skip[2] = {0, 0}; // the two record sectors, never written
    double seconds = 0;
};

class bridge_firmware {
public:
    explicit bridge_firmware(std::string root) : st_(std::move(root)) {}

    // Powers up every plugged bridge that is not running, and resumes a copy left behind.
    void adopt();
    // "power-up NAME", "warm-boot NAME", "disk-in NAME" or "disk-out NAME PORT STAMP": "" when
    // done, otherwise why not.
    std::string handle(const std::string& request);
    // A copy or a restart is running.
    bool busy();
    void stop_all();
    const store& st() const { return st_; }

private:
    struct bridge_fw {
        owned_thread copy;
        owned_thread reboot;
        bool restarting = false;  // from a warm boot until its reboot has decided; under m_
    };

    void note(const std::string& text);
    std::string power_up(const std::string& bridge);
    std::string warm_boot(const std::string& bridge);
    // A disk went into a bay: a cut copy whose two halves are back runs again.
    std::string disk_in(const std::string& bridge);
    // The disk in port went, and the half left beside it carried stamp (hex) in step with it:
    // that half is marked newer, so the one pulled is known as the older when it comes back.
    std::string disk_out(const std::string& bridge, int port, const std::string& stamp);
    // Gives half a later stamp, nothing else changed: "" when done, otherwise why not.
    std::string mark_newer(const bay_record& half);
    // At power-up: the mirror it ran when it lost power, one half of it back alone, is marked.
    // "" when done or nothing to do, otherwise why not (the set is then kept to try again).
    std::string mark_half_left(const std::string& bridge);
    // Powers the bridge up from off: assembles its set and starts a rebuild it finds.
    std::string boot(const std::string& bridge, const bridge_desc& cfg, power_state power);
    rebuild_plan assemble(const bridge_desc& cfg);
    void start_copy(const std::string& bridge, const rebuild_plan& plan, uint64_t from);
    void run_copy(const std::string& bridge, rebuild_plan plan, uint64_t from, std::stop_token stop);
    void reboot(const std::string& bridge, std::stop_token stop);
    bool write(const std::string& bridge, const rebuild_progress& p);

    store st_;
    std::mutex m_;  // one request or power-up at a time
    std::map<std::string, bridge_fw> fw_;
};

}  // namespace ov::sim
