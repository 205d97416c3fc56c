// The engine as the command line drives it: the bridges chosen as for every front end, a
// scan that only reads, and what a scan found as plain values (a snapshot) that the
// reports, the commands and the monitor share.
#pragma once

#include <atomic>
#include <map>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "backend.h"
#include "health.h"
#include "raid.h"
#include "rebuild_rate.h"
#include "requests.h"

namespace ov::cli {

struct rebuild_view {
    int source_bay = 0, target_bay = 0;
    bool known = false;               // the bridge answered with a position
    uint64_t total = 0, current = 0;  // sectors
    std::optional<double> percent, bytes_per_second, seconds_left;
    bool complete = false;            // the copy has reached its end
};

struct controller_view {
    int number = 0;                   // place in the list, from 1
    std::string name;                 // what a user types: USB serial or FireWire GUID
    controller_t identity;
    std::string presents;             // the name the bridge presents its set under
    chip_summary summary;
    std::optional<rebuild_view> rebuild;
};

struct snapshot {
    std::vector<controller_view> controllers;
    int unreadable = 0;  // enclosures there but not read: what is shown is not all there is
};

// A stable, typeable name for a bridge.
std::string controller_name(const controller_t& identity);
// The controller a user named: its list number or its name (any case). -1 when nothing
// matches, -2 when more than one does (two bridges with one serial, a serial that is
// another controller's number), -3 when only a list number matches while an enclosure could
// not be read: a name that may mean two enclosures is never guessed.
int find_controller(const snapshot& s, const std::string& wanted);
// The controller with exactly this identity, -1 when it is not there.
int find_identity(const snapshot& s, const controller_t& identity);

// Seconds of system time on a steady clock (scaled like every pause, so figures in tests
// read as they would on real hardware).
double system_seconds();

class session : public null_window {
public:
    // Opens the bridges the options choose; null with error when that fails.
    static std::unique_ptr<session> open(const backend_options& options, std::string& error);
    ~session() override;

    // Reads every bridge once on this thread; false when the bridge list cannot be read.
    bool scan_once();
    // Follows hot-plug on the engine's notification thread and waits for its first scan.
    bool follow();
    // How many device handlings have ended; waiting for one more than a count seen before
    // a command waits for the rescan after it (false when timeout_ms of system time passed).
    uint64_t handlings_ended() const { return handlings_; }
    bool await_handling(uint64_t after, uint64_t timeout_ms);

    // What the bridges hold now; rebuild positions are read for mirrors being copied.
    // Holds the engine's handling lock while it reads the chip list.
    snapshot look(bool rebuild_positions = true);
    // The same, each rebuild's speed and time left taken from the rates kept between looks
    // (those of controllers no longer rebuilding are dropped).
    snapshot look(std::map<std::string, rebuild_rate>& rates);
    // Asks for a rescan on the notification thread and waits until it has ended.
    void rescan();
    // The engine's notices since the last call, on standard error.
    void print_notices();

    // Whether a bay's presence register says otherwise than at the last scan: a disk pulled
    // or put in shows nowhere else. Not while a device handling runs (its rescan reads them
    // anyway); a register that cannot be read says nothing (a bridge restarting).
    bool presence_changed();

    std::string description() const { return backend_->description(); }

    // Engine notices of the last scans (a bridge left out), for the reports.
    std::vector<std::string> take_notices();

    // The engine's requests: the command line shows nothing while the engine works; it
    // counts the handlings that end and keeps the notices for its reports.
    void show_error_and_exit(const std::string& text) override;
    void stopworking() override;
    void refresh() override;
    void show_message(const std::string& text) override;
    void notice(const std::string& text) override;

private:
    session() = default;
    std::unique_ptr<backend> backend_;
    bool following_ = false;
    std::atomic<uint64_t> handlings_{0};
    std::mutex mutex_;
    std::vector<std::string> notices_;
};

}  // namespace ov::cli
