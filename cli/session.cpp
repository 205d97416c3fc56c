#include "session.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "clock.h"
#include "library.h"
#include "ovtool.h"
#include "panel.h"
#include "threads.h"

namespace ov::cli {

std::string controller_name(const controller_t& identity)
{
    if (identity.is_firewire) {
        char text[24];
        std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(identity.guid));
        return text;
    }
    if (!identity.usb_serial.empty())
        return identity.usb_serial;
    // Without a serial the port it hangs on is all that tells it apart.
    char text[24];
    std::snprintf(text, sizeof text, "usb@%08X", static_cast<uint32_t>(identity.location_id));
    return text;
}

namespace {

bool same_name(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

int find_controller(const snapshot& s, const std::string& wanted)
{
    int found = -1;
    bool by_name = false;
    for (size_t i = 0; i < s.controllers.size(); ++i) {
        const bool named = same_name(s.controllers[i].name, wanted);
        if (!named && std::to_string(s.controllers[i].number) != wanted)
            continue;
        if (found >= 0)
            return -2;
        found = static_cast<int>(i);
        by_name = named;
    }
    // An enclosure left out moves the numbers after it: a number may mean another one.
    return found >= 0 && !by_name && s.unreadable > 0 ? -3 : found;
}

int find_identity(const snapshot& s, const controller_t& identity)
{
    for (size_t i = 0; i < s.controllers.size(); ++i)
        if (s.controllers[i].identity == identity)
            return static_cast<int>(i);
    return -1;
}

double system_seconds()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count() * time_scale();
}

std::unique_ptr<session> session::open(const backend_options& options, std::string& error)
{
    std::unique_ptr<backend> bridges = backend::open(options, error);
    if (!bridges)
        return nullptr;
    std::unique_ptr<session> s(new session);
    s->backend_ = std::move(bridges);
    s->backend_->install();
    set_ctrller(s.get());
    return s;
}

session::~session()
{
    if (following_)
        stop_engine_threads();
    else
        j.monitor_threads.stop_all();
    {
        std::lock_guard<std::mutex> handling(j.handling);
        j.flush_chips();
    }
    set_ctrller(nullptr);
    install_library(nullptr);
    install_registry(nullptr);
}

bool session::scan_once()
{
    std::lock_guard<std::mutex> handling(j.handling);
    if (!j.scandevices())
        return false;
    j.updatediskinformation();
    j.read_raid();
    return true;
}

bool session::follow()
{
    const uint64_t before = handlings_;
    if (!start_notification_thread())
        return false;
    following_ = true;
    // The first handling is the scan of what is attached now.
    return await_handling(before, 60000);
}

bool session::await_handling(uint64_t after, uint64_t timeout_ms)
{
    return pause_until([&] { return handlings_ > after; }, static_cast<int>(timeout_ms / 10));
}

void session::stopworking()
{
    ++handlings_;
}

void session::refresh()
{
    if (following_)
        request_refresh();
}

void session::show_error_and_exit(const std::string& text)
{
    std::fprintf(stderr, "ovraidctl: %s\n", text.c_str());
    std::fflush(stderr);
    std::_Exit(3);
}

void session::show_message(const std::string& text)
{
    notice(text);
}

void session::notice(const std::string& text)
{
    std::lock_guard<std::mutex> guard(mutex_);
    notices_.push_back(text);
}

std::vector<std::string> session::take_notices()
{
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<std::string> out;
    out.swap(notices_);
    return out;
}

bool session::presence_changed()
{
    std::unique_lock<std::mutex> handling(j.handling, std::try_to_lock);
    if (!handling.owns_lock())
        return false;
    for (const ovchip& chip : j.chips) {
        const ovchip::presence now = chip.read_presence();
        for (int port = 0; port < 2; ++port)
            if (now.answered[port] && now.seen[port] != chip.disks[static_cast<size_t>(port)].register_present)
                return true;
    }
    return false;
}

namespace {

void add_rates(snapshot& s, std::map<std::string, rebuild_rate>& rates, double seconds)
{
    std::map<std::string, rebuild_rate> kept;
    for (controller_view& c : s.controllers) {
        if (!c.rebuild || !c.rebuild->known)
            continue;
        rebuild_rate& rate = kept[c.name];
        if (const auto old = rates.find(c.name); old != rates.end())
            rate = old->second;
        rate.add(seconds, c.rebuild->total, c.rebuild->current);
        c.rebuild->bytes_per_second = rate.bytes_per_second();
        c.rebuild->seconds_left = c.rebuild->complete ? std::optional<double>(0) : rate.seconds_left();
    }
    rates.swap(kept);
}

}  // namespace

snapshot session::look(std::map<std::string, rebuild_rate>& rates)
{
    snapshot now = look();
    add_rates(now, rates, system_seconds());
    return now;
}

void session::rescan()
{
    const uint64_t before = handlings_;
    request_refresh();
    await_handling(before, 60000);
}

void session::print_notices()
{
    for (const std::string& text : take_notices())
        std::fprintf(stderr, "ovraidctl: %s\n", text.c_str());
}

snapshot session::look(bool rebuild_positions)
{
    snapshot s;
    std::lock_guard<std::mutex> handling(j.handling);
    // Left out of the list (files unreadable) or of the scan (could not be opened).
    s.unreadable = static_cast<int>(backend_->registry().unreadable_devices().size()) + j.left_out;
    int number = 0;
    for (const auto& [key, index] : j.controller_map) {
        (void)key;
        if (index < 0 || index >= static_cast<int>(j.chips.size()))
            continue;
        const ovchip& chip = j.chips[static_cast<size_t>(index)];
        controller_view v;
        v.number = ++number;
        v.identity = chip.identity;
        v.name = controller_name(chip.identity);
        v.presents = chip.get_raid_name();
        v.summary = summarize(chip);
        if (v.summary.state == chip_state::rebuilding) {
            rebuild_view r;
            for (const bay_summary& bay : v.summary.bays) {
                if (bay.rebuild_source)
                    r.source_bay = bay.bay;
                if (bay.rebuild_target)
                    r.target_bay = bay.bay;
            }
            if (rebuild_positions) {
                rebuild_status status;
                int rc;
                {
                    std::lock_guard<std::mutex> calls(j.mutex);
                    rc = library().ovGetRebuildStatus(chip.service, status.data(), sizeof status);
                }
                if (rc == 0 && status.total() != 0) {
                    r.known = true;
                    r.total = status.total();
                    r.current = status.current();
                    r.complete = r.current >= r.total;
                    r.percent = progress_percent(r.total, r.current, r.complete);
                }
            }
            v.rebuild = r;
        }
        s.controllers.push_back(std::move(v));
    }
    return s;
}

}  // namespace ov::cli
