// ovraid-soak: thousands of hot-plug events against a simulation while an engine follows
// them, with a watchdog on every handling and the process's threads, descriptors and
// resident memory compared before and after.
//
// The front end is the monitor's engine (the command line's session, following hot-plug
// on the notification thread), not the offscreen window: the notification thread, the
// scans, the restart and rebuild writes are the same code, while Qt's event loop and its
// caches stay out of the figures, so a thread, descriptor or allocation that does not come
// back is the engine's or the simulator's. It also runs fast enough for 10,000 events.
//
//   ovraid-soak [--seed N] [--events N] [--scale X] [--verbose]
//
// Exit status: 0 every figure met (or no events: nothing to compare); 1 a figure missed
// (threads, descriptors, memory); 2 a hang (the watchdog); 3 a wrong state; 4 the simulation
// could not be made; 64 a wrong command line. Ended by SIGINT, SIGTERM or SIGPIPE, it removes
// its directory first, then ends by that signal.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "diag.h"
#include "health.h"
#include "ovtool.h"
#include "panel.h"
#include "safety.h"
#include "session.h"
#include "sim/service.h"
#include "sim/store.h"
#include "threads.h"

namespace {

using ov::cli::controller_view;
using ov::cli::session;
using ov::cli::snapshot;

// System time one event may take to be handled and settle: an unplug's 8 s pause and a
// scan of three bridges at 2 s each, a restart's return, and a few rescans besides.
constexpr double event_bound_s = 180;
// Never less than this in real time, for a loaded machine or a sanitizer's pace.
constexpr double event_floor_real_s = 30;
// Rescans asked for when what the engine shows is not yet what the hands did.
constexpr int settle_rescans = 3;
// A finished copy is believed after this many readings at its end, as the poller does.
constexpr int end_readings = 6;
constexpr uint64_t follow_ms = 4000;
constexpr long rss_bound_kb = 1024;
// A sanitizer's own bookkeeping (access histories, freed memory held back) grows with the
// run: resident memory is judged only in a plain build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OVRAID_SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define OVRAID_SOAK_SANITIZED 1
#endif
#endif
#ifdef OVRAID_SOAK_SANITIZED
constexpr bool rss_judged = false;
#else
constexpr bool rss_judged = true;
#endif

// ---- the process's figures ---------------------------------------------------------------

int entries(const char* dir)
{
    int n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        ::closedir(d);
    }
    return n;
}

struct figures {
    int threads = 0, fds = 0;
    long rss_kb = 0;
};

figures measure()
{
    figures f;
    f.threads = entries("/proc/self/task");
    f.fds = entries("/proc/self/fd") - 1;  // the listing's own descriptor
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            f.rss_kb = std::strtol(line.c_str() + 6, nullptr, 10);
    return f;
}

// ---- what the hands did: the model the engine must come to show -------------------------

struct bridge_model {
    std::string name, shown;  // directory name; the controller's name in a snapshot
    bool plugged = true;
    std::string ports[2];      // disk names, "" empty
    std::string start_ports[2];
};

std::string serial_of(const std::string& disk)
{
    return "SN-" + disk;
}

struct model {
    std::vector<bridge_model> bridges;
    std::set<std::string> shelf;
    // Disks a copy was started onto and not finished: never to be offered as a source.
    std::map<std::string, std::string> copy_targets;  // target disk -> source disk

    bridge_model* by_shown(const std::string& shown)
    {
        for (bridge_model& b : bridges)
            if (b.shown == shown)
                return &b;
        return nullptr;
    }
    std::string text() const
    {
        std::string out;
        for (const bridge_model& b : bridges)
            out += "  " + b.name + (b.plugged ? " plugged" : " unplugged") + ": bay 1 " +
                   (b.ports[0].empty() ? "-" : b.ports[0]) + ", bay 2 " + (b.ports[1].empty() ? "-" : b.ports[1]) +
                   "\n";
        out += "  shelf:";
        for (const std::string& d : shelf)
            out += " " + d;
        out += "\n  unfinished copies:";
        for (const auto& [target, source] : copy_targets)
            out += " " + source + "->" + target;
        return out + "\n";
    }
};

std::string snapshot_text(const snapshot& s)
{
    std::string out;
    for (const controller_view& c : s.controllers) {
        out += "  " + c.name + ": " + ov::state_name(c.summary.state);
        for (const ov::bay_summary& bay : c.summary.bays) {
            out += ", bay " + std::to_string(bay.bay) + " ";
            out += bay.content == ov::bay_content::empty ? "-" : bay.serial.empty() ? "?" : bay.serial;
            if (bay.rebuild_source)
                out += " (source)";
            if (bay.rebuild_target)
                out += " (target)";
            if (bay.incomplete_copy)
                out += " (partial)";
        }
        if (c.rebuild && c.rebuild->known)
            out += ", copy at " + std::to_string(c.rebuild->current) + "/" + std::to_string(c.rebuild->total);
        out += "\n";
    }
    return out;
}

// ---- the watchdog ------------------------------------------------------------------------

// The last words of the simulator and the engine, for a dump.
std::mutex said_m;
std::deque<std::string> said;
std::atomic<uint64_t> warnings{0};

void keep_said(ov::diag_level level, std::string_view text)
{
    if (level == ov::diag_level::trace)
        return;
    if (level == ov::diag_level::warning)
        ++warnings;
    std::lock_guard<std::mutex> guard(said_m);
    said.emplace_back(text);
    if (said.size() > 20)
        said.pop_front();
}

class watchdog {
public:
    explicit watchdog(uint64_t seed) : seed_(seed)
    {
        thread_ = std::thread([this] { watch(); });
    }
    ~watchdog()
    {
        stop_ = true;
        thread_.join();
    }
    // From now on the event must be over within the bound, or the process ends as hung.
    void arm(int number, const std::string& event, const std::string& state)
    {
        std::lock_guard<std::mutex> guard(m_);
        number_ = number;
        event_ = event;
        state_ = state;
        const double real_s = std::max(event_bound_s / ov::time_scale(), event_floor_real_s);
        deadline_ = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                            std::chrono::duration<double>(real_s));
        armed_ = true;
    }
    void disarm()
    {
        std::lock_guard<std::mutex> guard(m_);
        armed_ = false;
    }
    void last_seen(const std::string& shown)
    {
        std::lock_guard<std::mutex> guard(m_);
        shown_ = shown;
    }

private:
    void watch()
    {
        while (!stop_) {
            ov::pause_ms(2000);
            std::lock_guard<std::mutex> guard(m_);
            if (armed_ && std::chrono::steady_clock::now() > deadline_)
                hung();
        }
    }
    // Called with m_ held; never returns.
    void hung()
    {
        std::unique_lock<std::mutex> handling(ov::j.handling, std::try_to_lock);
        std::fprintf(stderr,
                     "ovraid-soak: HANG: seed %" PRIu64 ", event %d (%s) not handled within %.0f s of system time\n"
                     "  a device handling %s, a restart %s\n"
                     "what the hands had done before it:\n%s"
                     "what the engine showed last:\n%s",
                     seed_, number_, event_.c_str(), event_bound_s,
                     handling.owns_lock() ? "is not running" : "holds the chip list",
                     ov::j.warm_boot_pending ? "is pending" : "is not pending", state_.c_str(), shown_.c_str());
        std::lock_guard<std::mutex> words(said_m);
        std::fprintf(stderr, "the last words of the engine and the simulator:\n");
        for (const std::string& s : said)
            std::fprintf(stderr, "  %s\n", s.c_str());
        std::fflush(stderr);
        std::_Exit(2);
    }

    const uint64_t seed_;
    std::mutex m_;
    bool armed_ = false;
    int number_ = 0;
    std::string event_, state_, shown_;
    std::chrono::steady_clock::time_point deadline_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// ---- the soak ----------------------------------------------------------------------------

// The simulation could not be changed as the script asked. exit() would join the engine's
// threads, which may be waiting for this one.
[[noreturn]] void give_up(const std::string& error)
{
    std::fprintf(stderr, "ovraid-soak: %s\n", error.c_str());
    std::fflush(stderr);
    std::_Exit(4);
}

bool handling_running()
{
    std::unique_lock<std::mutex> handling(ov::j.handling, std::try_to_lock);
    return !handling.owns_lock();
}

// Waits in steps of 100 ms of system time, without a limit of its own: the watchdog is
// the limit.
void wait_for(const std::function<bool()>& done)
{
    while (!done())
        ov::pause_ms(100);
}

class soak {
public:
    soak(uint64_t seed, const std::string& root) : seed_(seed), rng_(seed), st_(root), dog_(seed) {}

    bool make_simulation(std::string& error);
    bool open(std::string& error);
    bool make_sets(std::string& error);
    // One random act of the hands; the engine must show it within the bound.
    void event(int number, bool verbose);
    // Every bridge plugged and every disk back in its first bay, nothing copying.
    void restore(int number);

    int extra_rescans = 0, rebuilds_started = 0, rebuilds_finished = 0, notices = 0;
    std::map<std::string, int> kinds;
    session* engine() { return session_.get(); }
    void close() { session_.reset(); }

private:
    void settle(uint64_t handlings_before, bool expect_handling, const std::string& event, int number);
    bool shows_model(const snapshot& s, std::string& why);
    bool copies_kept_safe(std::string& why);
    void finish_copies(const std::string& event, int number);
    bool restart(const std::string& shown);
    bool start_rebuild(std::string& what);
    [[noreturn]] void wrong(int number, const std::string& event, const std::string& why);
    void plug(bridge_model& b, bool plugged);
    void pull(bridge_model& b, int port);
    void insert(bridge_model& b, int port, const std::string& disk);
    template <class T>
    T& pick(std::vector<T>& items)
    {
        return items[std::uniform_int_distribution<size_t>(0, items.size() - 1)(rng_)];
    }

    uint64_t seed_;
    std::mt19937_64 rng_;
    ov::sim::store st_;
    model m_;
    std::unique_ptr<session> session_;
    watchdog dog_;
    snapshot last_;
};

bool soak::make_simulation(std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(st_.root(), ec);
    // A mirror on USB, a stripe on FireWire, an empty USB enclosure, and disks on the
    // shelf: one of the mirror's size, one larger, one too small to hold the set.
    struct bridge_plan {
        const char* name;
        bool firewire;
        int64_t location;
        const char* serial;
        const char* disks[2];
    };
    const bridge_plan plans[] = {{"mirror", false, 0x14100000, "SOAK-MIRROR", {"m0", "m1"}},
                                 {"stripe", true, 0, "", {"s0", "s1"}},
                                 {"spare", false, 0x14200000, "SOAK-SPARE", {"", ""}}};
    const std::pair<const char*, uint64_t> disks[] = {{"m0", 100000}, {"m1", 100000}, {"s0", 100000},
                                                      {"s1", 120000}, {"x0", 100000}, {"x1", 140000},
                                                      {"x2", 60000}};
    for (const auto& [name, sectors] : disks) {
        ov::sim::disk_desc d;
        d.model = std::string("Soak Disk ") + name;
        d.serial = serial_of(name);
        d.sectors = sectors;
        if (!st_.make_disk(name, d, error))
            return false;
        m_.shelf.insert(name);
    }
    for (const bridge_plan& p : plans) {
        ov::sim::bridge_desc b;
        b.name = p.name;
        b.firewire = p.firewire;
        b.location_id = p.location;
        b.usb_serial = p.serial;
        b.guid = 0x80004601000000A1ULL;
        // Short copies, so that some of them end between the events.
        b.rebuild_seconds = 10;
        if (!st_.add_bridge(b, error))
            return false;
        bridge_model bm;
        bm.name = p.name;
        bm.shown = p.firewire ? "80004601000000A1" : p.serial;
        for (int port = 0; port < 2; ++port) {
            if (*p.disks[port] == '\0')
                continue;
            if (!st_.insert_disk(p.name, port, p.disks[port], error))
                return false;
            bm.ports[port] = bm.start_ports[port] = p.disks[port];
            m_.shelf.erase(p.disks[port]);
        }
        m_.bridges.push_back(bm);
    }
    return true;
}

bool soak::open(std::string& error)
{
    ov::backend_options options;
    options.sim_root = st_.root();
    options.sim_given = true;
    options.create_demo = false;
    session_ = session::open(options, error);
    if (!session_)
        return false;
    if (!session_->follow()) {
        error = "the engine could not follow the simulation";
        return false;
    }
    return true;
}

// A write command as `ovraidctl ... --yes` runs it: the chip list held still, the chip
// selected only for the write, then the controller's return awaited.
template <class Write>
bool run_write(session& s, const std::string& shown, Write write, std::string* why = nullptr)
{
    const snapshot now = s.look(false);
    const int at = ov::cli::find_controller(now, shown);
    if (at < 0) {
        if (why)
            *why = shown + " is not shown";
        return false;
    }
    const ov::controller_t identity = now.controllers[static_cast<size_t>(at)].identity;
    uint64_t before = 0;
    {
        std::lock_guard<std::mutex> handling(ov::j.handling);
        const int index = ov::j.get_controller_num(identity);
        if (index < 0) {
            if (why)
                *why = shown + " left the list";
            return false;
        }
        before = s.handlings_ended();
        ov::j.current = identity;
        ov::ovchip& chip = ov::j.chips[static_cast<size_t>(index)];
        const bool ok = write(index, chip);
        ov::j.current.clear();
        if (!ok) {
            if (why)
                *why = shown + ": " + ov::failure_text(chip.last_write);
            return false;
        }
    }
    wait_for([&] { return !ov::j.warm_boot_pending && s.handlings_ended() > before; });
    return true;
}

bool soak::make_sets(std::string& error)
{
    const auto create = [](uint32_t mode) {
        return [mode](int index, ov::ovchip&) { return ov::j.build_raid(index, static_cast<int>(mode)); };
    };
    if (!run_write(*session_, "SOAK-MIRROR", create(ov::mode_raid1), &error) ||
        !run_write(*session_, "80004601000000A1", create(ov::mode_raid0), &error))
        return false;
    settle(session_->handlings_ended(), false, "making the sets", 0);
    return true;
}

void soak::plug(bridge_model& b, bool plugged)
{
    std::string error;
    // As ovraid-sim's plug and unplug: plugged in, a bridge powers up at once.
    if (!ov::sim::set_plugged(st_.root(), b.name, plugged, error)) {
        give_up(error);
    }
    b.plugged = plugged;
}

void soak::pull(bridge_model& b, int port)
{
    std::string error, disk;
    // The bridge notices it, as ovraid-sim's pull has it do.
    if (!ov::sim::pull_disk(st_.root(), b.name, port, disk, error)) {
        give_up(error);
    }
    m_.shelf.insert(b.ports[port]);
    b.ports[port].clear();
}

void soak::insert(bridge_model& b, int port, const std::string& disk)
{
    std::string error;
    // The bridge notices the disk, as ovraid-sim's insert has it do.
    if (!st_.insert_disk(b.name, port, disk, error) || !ov::sim::disk_inserted(st_.root(), b.name, error)) {
        give_up(error);
    }
    m_.shelf.erase(disk);
    b.ports[port] = disk;
}

bool soak::restart(const std::string& shown)
{
    return run_write(*session_, shown, [](int, ov::ovchip&) { return ov::j.warm_boot(); });
}

// A rebuild a careful user would start: one the panel offers, without the question whose
// safe answer is No. Chosen and started with the chip list held, so it is the one offered.
bool soak::start_rebuild(std::string& what)
{
    struct offer {
        ov::controller_t identity;
        int source;
    };
    std::vector<offer> offers;
    uint64_t before = 0;
    {
        std::lock_guard<std::mutex> handling(ov::j.handling);
        if (ov::j.warm_boot_pending)
            return false;
        for (const ov::ovchip& chip : ov::j.chips)
            for (int port = 0; port < 2; ++port)
                if (ov::refusal(chip, ov::command::rebuild, port).empty() &&
                    !ov::question_before(chip, ov::command::rebuild, port).no_by_default)
                    offers.push_back({chip.identity, port});
        if (offers.empty())
            return false;
        const offer o = pick(offers);
        const int index = ov::j.get_controller_num(o.identity);
        ov::ovchip& chip = ov::j.chips[static_cast<size_t>(index)];
        bridge_model* b = m_.by_shown(ov::cli::controller_name(o.identity));
        if (!b)
            return false;
        what = "rebuild " + b->name + " from bay " + std::to_string(o.source + 1) + " (" + b->ports[o.source] +
               " onto " + b->ports[1 - o.source] + ")";
        before = session_->handlings_ended();
        ov::j.current = o.identity;
        const bool ok = chip.rebuild(o.source == 1);
        ov::j.current.clear();
        if (!ok) {
            what += ": refused by the engine";
            return true;
        }
        m_.copy_targets[b->ports[1 - o.source]] = b->ports[o.source];
        ++rebuilds_started;
    }
    wait_for([&] { return !ov::j.warm_boot_pending && session_->handlings_ended() > before; });
    return true;
}

void soak::event(int number, bool verbose)
{
    enum kind { plug_kind, pull_kind, insert_kind, swap_kind, restart_kind, rebuild_kind };
    // How often each act comes, out of 20.
    const std::pair<kind, int> weights[] = {{plug_kind, 4},    {pull_kind, 4},    {insert_kind, 4},
                                            {swap_kind, 3},    {restart_kind, 3}, {rebuild_kind, 2}};
    std::vector<std::pair<bridge_model*, int>> full, empty;
    std::vector<bridge_model*> plugged;
    for (bridge_model& b : m_.bridges) {
        for (int port = 0; port < 2; ++port)
            (b.ports[port].empty() ? empty : full).push_back({&b, port});
        if (b.plugged)
            plugged.push_back(&b);
    }
    std::vector<std::string> shelf(m_.shelf.begin(), m_.shelf.end());
    const std::string state = m_.text();
    for (;;) {
        int roll = std::uniform_int_distribution<int>(0, 19)(rng_);
        kind k = plug_kind;
        for (const auto& [what, weight] : weights)
            if ((roll -= weight) < 0) {
                k = what;
                break;
            }
        std::string text;
        bool handled = false;  // the engine has a handling to run for it
        const uint64_t before = session_->handlings_ended();
        if (k == plug_kind) {
            bridge_model& b = pick(m_.bridges);
            text = std::string(b.plugged ? "unplug " : "plug ") + b.name;
            dog_.arm(number, text, state);
            plug(b, !b.plugged);
            handled = true;
        } else if ((k == pull_kind || k == swap_kind) && !full.empty() && (k == pull_kind || !shelf.empty())) {
            auto [b, port] = pick(full);
            const std::string out = b->ports[port];
            const std::string in = k == swap_kind ? pick(shelf) : "";
            text = (k == swap_kind ? "swap " + out + " for " + in : "pull " + out) + " in bay " +
                   std::to_string(port + 1) + " of " + b->name;
            dog_.arm(number, text, state);
            pull(*b, port);
            if (k == swap_kind)
                insert(*b, port, in);
            handled = b->plugged;
        } else if (k == insert_kind && !empty.empty() && !shelf.empty()) {
            auto [b, port] = pick(empty);
            const std::string in = pick(shelf);
            text = "insert " + in + " into bay " + std::to_string(port + 1) + " of " + b->name;
            dog_.arm(number, text, state);
            insert(*b, port, in);
            handled = b->plugged;
        } else if (k == restart_kind && !plugged.empty()) {
            bridge_model* b = pick(plugged);
            text = "restart " + b->name;
            dog_.arm(number, text, state);
            if (!restart(b->shown))
                text += ": not restarted";
        } else if (k == rebuild_kind) {
            dog_.arm(number, "rebuild", state);
            if (!start_rebuild(text))
                continue;
        } else {
            continue;
        }
        // Restarts and rebuilds the engine did not carry out are counted apart.
        ++kinds[text.substr(0, text.find(' ')) + (text.find(": ") != std::string::npos ? " (not done)" : "")];
        if (verbose)
            std::printf("%6d %s\n", number, text.c_str());
        // A disk pulled or put in shows only in the presence registers, which a monitor
        // reads every interval; asking for the rescan at once is what it does then.
        if (handled && (k != plug_kind))
            ov::request_refresh();
        settle(before, handled, text, number);
        finish_copies(text, number);
        if (verbose)
            std::printf("%s", snapshot_text(last_).c_str());
        dog_.disarm();
        return;
    }
}

bool soak::shows_model(const snapshot& s, std::string& why)
{
    std::set<std::string> shown, wanted;
    for (const controller_view& c : s.controllers)
        shown.insert(c.name);
    for (const bridge_model& b : m_.bridges)
        if (b.plugged)
            wanted.insert(b.shown);
    if (shown != wanted) {
        why = "the controllers shown are not the bridges plugged in";
        return false;
    }
    for (const controller_view& c : s.controllers) {
        const bridge_model* b = m_.by_shown(c.name);
        for (int port = 0; port < 2; ++port) {
            const ov::bay_summary& bay = c.summary.bays[port];
            const std::string want = b->ports[port].empty() ? "" : serial_of(b->ports[port]);
            const std::string got = bay.content == ov::bay_content::empty ? "" : bay.serial;
            if (got != want) {
                why = b->name + " bay " + std::to_string(port + 1) + " shows '" + got + "' for '" + want + "'";
                return false;
            }
        }
    }
    return true;
}

// A disk a copy went onto and did not finish is never offered as a rebuild source, and is
// known as a partial copy unless the copy goes on: its source beside it still carrying the
// mark of a copy onto this very disk.
bool soak::copies_kept_safe(std::string& why)
{
    std::lock_guard<std::mutex> handling(ov::j.handling);
    for (const ov::ovchip& chip : ov::j.chips) {
        const bridge_model* b = m_.by_shown(ov::cli::controller_name(chip.identity));
        if (!b)
            continue;
        for (int port = 0; port < 2; ++port) {
            const auto target = m_.copy_targets.find(b->ports[port]);
            const ov::ovdisk &disk = chip.disks[port], &other = chip.disks[1 - port];
            if (target == m_.copy_targets.end() || !disk.present)
                continue;
            const bool goes_on = b->ports[1 - port] == target->second && other.rebuild_flag &&
                                 std::memcmp(other.partner_serial, disk.serial_raw, sizeof disk.serial_raw) == 0;
            const std::string where = b->name + " bay " + std::to_string(port + 1) + ": " + b->ports[port] +
                                      ", a copy from " + target->second + " that did not finish, ";
            if (ov::refusal(chip, ov::command::rebuild, port).empty()) {
                why = where + "is offered as a rebuild source (" + b->ports[1 - port] + " beside it)";
                return false;
            }
            if (!goes_on && !disk.incomplete_copy) {
                why = where + "is not known as a partial copy";
                return false;
            }
        }
    }
    return true;
}

void soak::wrong(int number, const std::string& event, const std::string& why)
{
    std::fprintf(stderr,
                 "ovraid-soak: WRONG STATE: seed %" PRIu64 ", event %d (%s): %s\n"
                 "what the hands have done:\n%swhat the engine shows:\n%s",
                 seed_, number, event.c_str(), why.c_str(), m_.text().c_str(), snapshot_text(last_).c_str());
    std::lock_guard<std::mutex> words(said_m);
    for (const std::string& s : said)
        std::fprintf(stderr, "  %s\n", s.c_str());
    std::fflush(stderr);
    std::_Exit(3);
}

// Waits for the engine to have handled the event, then for it to show what the hands did,
// asking for a few rescans as a monitor would; a handling that never ends is left to the
// watchdog.
void soak::settle(uint64_t handlings_before, bool expect_handling, const std::string& event, int number)
{
    session& s = *session_;
    if (expect_handling)
        wait_for([&] { return s.handlings_ended() > handlings_before; });
    std::string why;
    for (int rescan = 0;; ++rescan) {
        wait_for([] { return !ov::j.warm_boot_pending && !handling_running(); });
        last_ = s.look(true);
        dog_.last_seen(snapshot_text(last_));
        notices += static_cast<int>(s.take_notices().size());
        if (shows_model(last_, why))
            break;
        if (rescan == settle_rescans)
            wrong(number, event, why);
        ++extra_rescans;
        const uint64_t before = s.handlings_ended();
        ov::request_refresh();
        wait_for([&] { return s.handlings_ended() > before; });
    }
    if (!copies_kept_safe(why))
        wrong(number, event, why);
}

// A copy at its end is finished by the user's rebuild --wait: its marks cleared, then a
// rescan. The end is believed after several readings at it.
void soak::finish_copies(const std::string& event, int number)
{
    const snapshot seen = last_;  // settling below looks again
    for (const controller_view& c : seen.controllers) {
        if (!c.rebuild || !c.rebuild->complete)
            continue;
        bool ended = true;
        for (int reading = 1; ended && reading < end_readings; ++reading) {
            ov::pause_ms(follow_ms);
            const snapshot now = session_->look(true);
            const int at = ov::cli::find_identity(now, c.identity);
            ended = at >= 0 && now.controllers[static_cast<size_t>(at)].rebuild &&
                    now.controllers[static_cast<size_t>(at)].rebuild->complete;
        }
        if (!ended)
            continue;
        bridge_model* b = m_.by_shown(c.name);
        {
            std::lock_guard<std::mutex> handling(ov::j.handling);
            const int index = ov::j.get_controller_num(c.identity);
            if (index < 0)
                continue;
            ov::j.chips[static_cast<size_t>(index)].finish_rebuild();
        }
        // Both halves hold the whole set now, as the engine's notes have it.
        if (b)
            for (const std::string& disk : b->ports)
                m_.copy_targets.erase(disk);
        ++rebuilds_finished;
        const uint64_t before = session_->handlings_ended();
        ov::request_refresh();
        settle(before, true, event + ", then the finished copy", number);
    }
}

void soak::restore(int number)
{
    const std::string text = "put everything back";
    dog_.arm(number, text, m_.text());
    for (bridge_model& b : m_.bridges)
        for (int port = 0; port < 2; ++port)
            if (b.ports[port] != b.start_ports[port] && !b.ports[port].empty())
                pull(b, port);
    for (bridge_model& b : m_.bridges)
        for (int port = 0; port < 2; ++port)
            if (b.ports[port].empty() && !b.start_ports[port].empty())
                insert(b, port, b.start_ports[port]);
    uint64_t before = session_->handlings_ended();
    for (bridge_model& b : m_.bridges)
        if (!b.plugged)
            plug(b, true);
    ov::request_refresh();
    settle(before, true, text, number);
    // A copy left running is followed to its end; a bridge showing a copy it does not run
    // (a disk put back while it was powered) is restarted, as a user would.
    for (int round = 0; round < 50; ++round) {
        finish_copies(text, number);
        const auto copying = std::find_if(last_.controllers.begin(), last_.controllers.end(), [](const auto& c) {
            return c.summary.state == ov::chip_state::rebuilding;
        });
        if (copying == last_.controllers.end())
            break;
        before = session_->handlings_ended();
        if (!copying->rebuild || !copying->rebuild->known)
            restart(copying->name);
        else
            ov::pause_ms(follow_ms);
        dog_.arm(number, text, m_.text());
        settle(before, false, text, number);
    }
    dog_.disarm();
}

constexpr int usage_status = 64;

uint64_t number_option(const char* name, const char* text, uint64_t max)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (*text == '\0' || *end != '\0' || *text == '-' || errno == ERANGE || v > max) {
        std::fprintf(stderr, "ovraid-soak: %s wants a number from 0 to %" PRIu64 ", not '%s'\n", name, max, text);
        std::exit(usage_status);
    }
    return v;
}

// Set by SIGINT, SIGTERM and SIGPIPE: the loop ends after the act under way, and the
// simulation's directory goes (its firmware service ends once its root is gone).
volatile std::sig_atomic_t stop_signal = 0;

void on_stop_signal(int sig)
{
    stop_signal = sig;
}

}  // namespace

int main(int argc, char** argv)
{
    uint64_t seed = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) % 1000000;
    int events = 1000;
    bool verbose = false;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if ((arg == "--seed" || arg == "--events" || arg == "--scale") && k + 1 < argc) {
            const char* value = argv[++k];
            if (arg == "--seed")
                seed = number_option("--seed", value, UINT64_MAX);
            else if (arg == "--events")
                events = static_cast<int>(number_option("--events", value, 10000000));
            else if (double scale; ov::parse_time_scale(value, scale))
                ov::set_time_scale(scale);
            else {
                std::fprintf(stderr, "ovraid-soak: --scale wants a number from 0.001 to 10000\n");
                return usage_status;
            }
        } else if (arg == "--verbose") {
            verbose = true;
        } else {
            std::fprintf(stderr, "usage: ovraid-soak [--seed N] [--events N] [--scale X] [--verbose]\n");
            return usage_status;
        }
    }
    // Without a scale the soak runs at the pace it was measured at (see bench/README.md).
    if (!std::getenv("OVRAID_TIME_SCALE") && !std::any_of(argv, argv + argc, [](const char* a) {
            return std::strcmp(a, "--scale") == 0;
        }))
        ov::set_time_scale(200);
    std::printf("ovraid-soak --seed %" PRIu64 " --events %d (time scale %g)\n", seed, events, ov::time_scale());
    if (events == 0) {
        std::printf("no events: nothing to compare\n");
        return 0;
    }
    std::fflush(stdout);

    struct sigaction stop = {};
    stop.sa_handler = on_stop_signal;
    stop.sa_flags = SA_RESTART;
    ::sigemptyset(&stop.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGPIPE})
        ::sigaction(sig, &stop, nullptr);

    char dir_template[] = "/tmp/ovraid-soak.XXXXXX";
    if (!::mkdtemp(dir_template)) {
        std::perror("ovraid-soak: mkdtemp");
        return 4;
    }
    const std::string dir = dir_template;
    std::printf("simulation in %s\n", dir.c_str());
    std::fflush(stdout);
    // Nothing of the user's is read or written: the rebuild notes and the simulation
    // stay in the temporary directory.
    ov::rebuild_notes::set_path(dir + "/rebuilds");
    if (!std::getenv("OVRAID_SIM_TOOL"))
        ov::sim::set_firmware_program(OVRAID_SIM_TOOL);
    ov::set_diag_sink(keep_said);

    const int warmup = events >= 1000 ? 200 : events / 10;
    figures start, end;
    int code = 0;
    std::error_code ec;
    bool stopped = false;
    auto began = std::chrono::steady_clock::now();
    auto keep = std::make_unique<soak>(seed, dir + "/sim");
    {
        soak& run = *keep;
        std::string error;
        if (!run.make_simulation(error) || !run.open(error) || !run.make_sets(error)) {
            std::fprintf(stderr, "ovraid-soak: %s\n", error.empty() ? "the sets could not be made" : error.c_str());
            std::filesystem::remove_all(dir, ec);
            return 4;
        }
        began = std::chrono::steady_clock::now();
        for (int n = 1; n <= events && !stop_signal; ++n) {
            if (n == warmup + 1 || (n == 1 && warmup == 0)) {
                run.restore(n);
                start = measure();
            }
            run.event(n, verbose);
            if (n % 500 == 0)
                std::fprintf(stderr, "ovraid-soak: %d events, %.0f s\n", n,
                             std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
        }
        if (stop_signal) {
            run.close();
            stopped = true;
        }
    }
    if (stopped) {
        keep.reset();
        std::filesystem::remove_all(dir, ec);
        std::fprintf(stderr, "ovraid-soak: stopped by signal %d; %s removed\n", static_cast<int>(stop_signal),
                     dir.c_str());
        std::signal(stop_signal, SIG_DFL);
        std::raise(stop_signal);
        return 128 + stop_signal;
    }
    {
        soak& run = *keep;
        run.restore(events + 1);
        // Threads that carried a restart's return end on their own a moment after it.
        end = measure();
        for (int wait = 0; wait < 40 && (end.threads != start.threads || end.fds != start.fds); ++wait) {
            ov::pause_ms(500);
            end = measure();
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

        std::printf("events handled: %d in %.0f s (%.0f ms each)\n", events, seconds,
                    events ? seconds * 1000 / events : 0.0);
        std::printf("acts:");
        for (const auto& [what, count] : run.kinds)
            std::printf("%s %s %d", what == run.kinds.begin()->first ? "" : ",", what.c_str(), count);
        std::printf("\nrebuilds started %d, finished %d; rescans asked beyond the events' own: %d; "
                    "engine notices %d; warnings %" PRIu64 "\n",
                    run.rebuilds_started, run.rebuilds_finished, run.extra_rescans, run.notices, warnings.load());
        std::printf("crashes: 0, hangs: 0, wrong states: 0\n");
        const long growth = end.rss_kb - start.rss_kb;
        std::printf("threads: %d before, %d after\n", start.threads, end.threads);
        std::printf("descriptors: %d before, %d after\n", start.fds, end.fds);
        std::printf("resident memory: %ld kB before, %ld kB after (%+ld kB, measured after %d warm-up events)\n",
                    start.rss_kb, end.rss_kb, growth, warmup);
        if (end.threads != start.threads || end.fds != start.fds) {
            std::printf("FAILED: threads or descriptors are not back to their start\n");
            code = 1;
        }
        if (!rss_judged)
            std::printf("resident memory is not judged under a sanitizer\n");
        else if (events >= 1000 && growth >= rss_bound_kb) {
            std::printf("FAILED: resident memory grew by 1 MB or more\n");
            code = 1;
        }
        std::fflush(stdout);
        run.close();
    }
    keep.reset();
    // The firmware runs in a process of its own: once it has ended, what a sanitizer said
    // there is in its log.
    const std::string root = dir + "/sim";
    const auto give_up_at = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ov::sim::firmware_running(root) && std::chrono::steady_clock::now() < give_up_at)
        ov::pause_ms(100);
    std::ifstream log_file(root + "/.firmware/log");
    const std::string log((std::istreambuf_iterator<char>(log_file)), std::istreambuf_iterator<char>());
    if (log.find("Sanitizer") != std::string::npos || log.find("runtime error") != std::string::npos) {
        std::printf("FAILED: the simulated firmware's log says:\n%s", log.c_str());
        code = 1;
    }
    ov::set_diag_sink({});
    std::filesystem::remove_all(dir, ec);
    return code;
}
