// One harness for the engine suites: the engine put back to its start between tests with
// its threads stopped and joined, one way to wait on real threads, the scripted hardware
// behind the seams, a simulation tree, and the builders of identities, disks and records
// that more than one suite needs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "library.h"
#include "ovchip.h"
#include "ovdisk.h"
#include "ovtool.h"
#include "raid.h"
#include "recording_window.h"
#include "registry.h"
#include "requests.h"
#include "scripted_library.h"
#include "sim/store.h"
#include "temp_dir.h"

namespace ovtest {

using namespace std::chrono_literals;

// ---- the engine and time -------------------------------------------------------------------

// The engine as at start: its threads stopped and joined, no chip, no selection, no
// outline, default texts and host order, rebuild notes of this process only (and none
// yet), no waiter.
void reset_engine();

// Polls cond until it holds or `limit` of real time has passed; for waiting on real
// threads, never for measuring them. Between polls runs the process's wait step: a short
// sleep, or in the window suites a pass over the window's events, so that requests other
// threads make of the window are served while a test waits on its thread.
bool eventually(const std::function<bool()>& cond, std::chrono::milliseconds limit = 60s);
void set_wait_step(std::function<void()> step);

// Whether the registry mutex is held by someone, judged from a thread of its own (the
// caller may be the holder, and a std::mutex cannot be probed by its owner).
bool registry_mutex_held();
// The same for any mutex.
bool held(std::mutex& m);

// ---- identities, disks and records ---------------------------------------------------------

constexpr uint32_t usb_vendor = 0x1E91, usb_product = 0x0A12;

ov::controller_t usb_identity(int64_t location, const std::string& serial = std::string(),
                              uint32_t vendor = usb_vendor, uint32_t product = usb_product);
ov::controller_t firewire_identity(uint64_t guid);

// A disk as the identity reading leaves it: decoded from a real IDENTIFY block, present,
// and seen by its presence register.
ov::ovdisk make_disk(const std::string& model, const std::string& serial, uint64_t sectors,
                     const std::string& addressing = "lba48");
inline const ov::ovdisk empty_port{};
// A disk the presence register reports but that gave no valid IDENTIFY (spinning up).
ov::ovdisk silent_disk();
// Three disks of different makes and sizes.
ov::ovdisk disk_a(uint64_t sectors = 2000000);
ov::ovdisk disk_b(uint64_t sectors = 2000100);
ov::ovdisk disk_c(uint64_t sectors = 3000000);
// A present disk of exactly this capacity, outside every set; and a member of a set.
ov::ovdisk blank_disk(uint64_t capacity, const std::string& model = "Model", const std::string& serial = "SER");
ov::ovdisk member_disk(uint32_t mode, uint64_t capacity, uint64_t record_capacity,
                       const std::string& model = "Member", const std::string& serial = "MSER");

// A 16-byte stamp field: the 14 digits and two zero bytes.
struct stamp16 {
    unsigned char bytes[16] = {};
    explicit stamp16(const char* digits) { std::memcpy(bytes, digits, std::min<size_t>(16, std::strlen(digits))); }
};
constexpr const char* older_stamp = "20110203090507";
constexpr const char* newer_stamp = "20110203090508";

// A record naming `partner` as the other member.
ov::raid_info record_for(int mode, int member, uint64_t capacity, const ov::ovdisk& partner,
                         const char* stamp = older_stamp, int flags = 0, bool over_2tb = false);
inline sector bytes_of(const ov::raid_info& r)
{
    sector s;
    std::memcpy(s.data(), r.data(), 512);
    return s;
}
inline bool all_zero(const unsigned char* p, size_t n)
{
    return std::all_of(p, p + n, [](unsigned char c) { return c == 0; });
}

// The calls of a configuration write from its first sector write on: before it come the
// identity checks and the reads of what is there, which their own tests look at.
std::vector<call> from_first_write(const std::vector<call>& calls);
// "ovSetRaidInfo 0 985" and the like: enough to compare call sequences at a glance.
std::string describe(const call& c);
std::vector<std::string> describe(const std::vector<call>& calls);

// The outline as indented text, walked only through the outline questions.
std::string outline_text(const ov::treeview::node_list& root);

// ---- disk images and files -----------------------------------------------------------------

// Data for disk images that a test can make again from its seed.
std::string random_bytes(size_t n, unsigned seed);
std::string read_bytes(const std::string& path, uint64_t offset, size_t n);
void write_bytes(const std::string& path, uint64_t offset, const std::string& data);
std::string slurp(const std::string& path);
void spit(const std::string& path, const std::string& text);
// The first byte at which two images differ in [0, bytes), or -1. Where both have holes
// they read as zeros alike, so only the places where either holds data are read.
int64_t first_difference(const std::string& a, const std::string& b, uint64_t bytes);
// Everything under dir as text: each entry's path, kind, size, time of change and link
// target, and a hash of each file's data (holes skipped, so sparse images cost little).
// Equal before and after: nothing there was written, made or removed.
std::string tree_digest(const std::string& dir);

// ---- other programs ------------------------------------------------------------------------

struct program_run {
    int status = -1;       // the exit status, 128 + the signal that ended it, -1 when it did not run
    std::string output;    // standard output, with standard error when merged
    std::string errors;    // standard error
};
// Runs argv[0] (a path, or a name looked up in PATH) with standard input empty and the
// environment changed by `env`: "NAME=value" sets, a bare "NAME" removes. Once `enough`
// says so of the output so far, or after `limit`, the program is sent SIGTERM.
program_run run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                        bool merge_errors = false, const std::function<bool(const std::string&)>& enough = {},
                        std::chrono::milliseconds limit = 120s);

// A simulation tree in a temporary directory, and the bridges and disks built in it.
struct sim_tree {
    temp_dir dir;
    std::string root = dir.path() + "/sim";
    ov::sim::store st{root};
    std::string error;
    // Disk models are this followed by the disk's name.
    std::string model_prefix = "Harbor HD";
    // The simulated firmware runs in a process of its own: what a sanitizer said there is
    // in its log, and fails the test.
    ~sim_tree();

    // A USB bridge whose serial is "USB-<name>".
    void add_usb(const std::string& name, double rebuild_seconds = 0, bool plugged = true,
                 int64_t location = 0x14100000);
    void add_firewire(const std::string& name, uint64_t guid = 0x80004601A2B3C4D5ULL, double rebuild_seconds = 0);
    // A disk "<model_prefix><name>", serial "SN-<name>", made on the shelf; and one made and put
    // into a port, whose image is returned.
    void shelf_disk(const std::string& name, uint64_t sectors, const std::string& addressing = "lba48");
    std::string add_disk(const std::string& bridge, int port, const std::string& name, uint64_t sectors,
                         const std::string& addressing = "lba48");
    // Writes a record where the host looks for it (IDENTIFY capacity - 15) on the disk in a
    // port, naming the disk in the other port as its partner as the members of one set do;
    // member -1 is the port. Returns the 512 bytes written.
    std::string write_record(const std::string& bridge, int port, int mode, bool source, uint64_t set_size,
                             bool name_partner = true, const char* stamp = older_stamp, int member = -1);
};

// ---- the fixtures --------------------------------------------------------------------------

// The engine over the scripted library, the in-memory registry and the recording window,
// reset before and after every test.
class engine_fixture : public ::testing::Test {
protected:
    scripted_library lib;
    fake_registry reg;
    recording_window window;

    void SetUp() override;
    void TearDown() override;
    // Between the cases of one test: monitors joined, no chip, no restart pending, nothing recorded.
    void next_case();

    // A chip in the registry's list, its disks answering IDENTIFY as shown and its presence
    // registers following them; USB at 0x14100000 + index, or FireWire. Returns its index.
    int add_chip(const ov::ovdisk& d0, const ov::ovdisk& d1, bool firewire = false, bool make_current = true);
    ov::ovchip& chip(int index = 0) { return ov::j.chips[static_cast<size_t>(index)]; }
    // Lets another scripted library answer IDENTIFY for the chip's disks as lib does.
    void identify_in(scripted_library& other, int index);
    uint64_t record_lba(int index, int port) { return chip(index).disks[port].capacity - 15; }
    void put_record(int index, int port, const ov::raid_info& r)
    {
        lib.set_sector(chip(index).service, port, record_lba(index, port), bytes_of(r));
    }
    sector stored(int index, int port, uint64_t lba);
    sector stored_record(int index, int port) { return stored(index, port, record_lba(index, port)); }

    // A bridge known to the registry and listed by the library.
    uint32_t plug_usb(int32_t location, const std::string& serial = "S");
    uint32_t plug_firewire(uint64_t guid);
    void unplug(uint32_t service) { std::erase(lib.devices, service); }
    // A disk in a port: IDENTIFY answers and the presence register shows it.
    void insert_disk(uint32_t service, int port, const std::string& model, const std::string& serial,
                     uint64_t sectors = 1000000);
    // Disks in both ports carrying the records of one healthy RAID 1 made at one moment.
    void insert_mirror(uint32_t service, const std::string& model0, const std::string& serial0,
                       const std::string& model1, const std::string& serial1, uint64_t sectors = 1000000);
};

// The notification thread run for real, with a watch on how device handlings (and window
// commands) nest and on which thread they run.
class hotplug_fixture : public engine_fixture {
protected:
    std::atomic<int> depth{0};
    std::atomic<int> max_depth{0};
    std::atomic<int> off_thread{0};
    // Extra reactions to window requests, run on the requesting thread.
    std::function<void(const std::string&)> also;

    void SetUp() override;
    void TearDown() override;
    void enter_engine();
    void leave_engine() { --depth; }
    bool on_notifier();
    // Starts the notification thread and waits until its first handling is over.
    void start();
    // Waits until everything queued to the notification thread so far has run.
    void settle();
    void stop();
    int chip_of(const ov::controller_t& id) const { return ov::j.get_controller_num(id); }
    // The recorded requests cut into handlings: each from its "cleargui" to its "stopworking".
    std::vector<std::vector<std::string>> handlings() const;

private:
    void watch(const std::string& r);
    std::thread notifier_;
    std::mutex id_mutex_;
    std::thread::id notifier_id_;
};

}  // namespace ovtest
