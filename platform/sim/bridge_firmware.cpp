#include "bridge_firmware.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>

#include "clock.h"
#include "diag.h"
#include "firmware.h"
#include "identify.h"
#include "ovdisk.h"
#include "posix_io.h"
#include "raid.h"

namespace ov::sim {

namespace {

constexpr uint64_t reboot_ms = 1500;      // a warm boot's absence
constexpr uint64_t rebuild_step_ms = 100; // a paced copy moves in steps of this length

std::string file_id(const std::string& path)
{
    struct stat s;
    if (::stat(path.c_str(), &s) != 0)
        return std::string();
    return std::to_string(s.st_dev) + ":" + std::to_string(s.st_ino);
}

}  // namespace

void bridge_firmware::note(const std::string& text)
{
    diag(diag_level::warning, "ovraid firmware: " + text);
}

bool bridge_firmware::write(const std::string& bridge, const rebuild_progress& p)
{
    std::string error;
    if (write_progress(st_.root(), bridge, p, error))
        return true;
    note(error);
    return false;
}

bool read_bay_record(const store& st, const std::string& bridge, int port, bay_record& bay, std::string& error)
{
    const std::string dir = st.port_dir(bridge, port);
    disk_desc disk;
    std::string name;
    std::array<unsigned char, 512> id;
    if (!st.read_disk(dir, disk, name, error) || !st.read_identify(dir, id, error))
        return false;
    // The record lies where the host computes it: from the IDENTIFY capacity.
    if (!record_sector(id.data(), disk.sectors, bay.record_lba))
        return false;
    bay.image_sectors = disk.sectors;
    bay.serial_raw.assign(reinterpret_cast<const char*>(id.data()) + identify::serial_offset, identify::serial_length);
    bay.image = dir + "/" + image_file;
    unsigned char sector[512];
    const io::unique_fd fd = io::open_fd(bay.image, O_RDONLY);
    if (!fd || !io::pread_all(fd.get(), sector, 512, static_cast<off_t>(bay.record_lba * 512))) {
        error = bay.image + ": cannot read the record sector";
        return false;
    }
    bay.rec = decode_record(sector);
    return true;
}

bool in_step_mirror(const bay_record& a, const bay_record& b)
{
    return a.rec.valid && b.rec.valid && a.rec.mode == mode_raid1 && b.rec.mode == mode_raid1 && !a.rec.source &&
           !b.rec.source && a.rec.stamp == b.rec.stamp && a.rec.partner_serial == b.serial_raw &&
           b.rec.partner_serial == a.serial_raw;
}

rebuild_plan bridge_firmware::assemble(const bridge_desc& cfg)
{
    rebuild_plan plan;
    plan.seconds = cfg.rebuild_seconds;
    bay_record bay[2];
    for (int port = 0; port < 2; ++port) {
        std::string error;
        if (!read_bay_record(st_, cfg.name, port, bay[port], error)) {
            if (!error.empty())
                note(error);
            return plan;
        }
    }
    const record_summary rec[2] = {bay[0].rec, bay[1].rec};
    const bool mirror = rec[0].valid && rec[1].valid && rec[0].mode == mode_raid1 && rec[1].mode == mode_raid1;
    if (!mirror || rec[0].source == rec[1].source)
        return plan;
    // Only two halves of one mirror are a rebuild: a flagged disk left over from another set
    // is never copied over a disk that its record does not name.
    if (rec[0].partner_serial != bay[1].serial_raw || rec[1].partner_serial != bay[0].serial_raw)
        return plan;
    const int src = rec[0].source ? 0 : 1, dst = 1 - src;
    plan.copy = true;
    plan.source_port = src;
    plan.source_image = bay[src].image;
    plan.target_image = bay[dst].image;
    // A record claiming more than either disk holds is clipped to what exists.
    plan.end = std::min({rec[src].capacity, bay[0].image_sectors, bay[1].image_sectors});
    plan.skip[0] = bay[0].record_lba;
    plan.skip[1] = bay[1].record_lba;
    return plan;
}

void bridge_firmware::start_copy(const std::string& bridge, const rebuild_plan& plan, uint64_t from)
{
    rebuild_progress p;
    p.state = rebuild_progress::kind::running;
    p.total = plan.end;
    p.current = from;
    p.source_port = plan.source_port;
    p.source_id = file_id(plan.source_image);
    p.target_id = file_id(plan.target_image);
    if (!write(bridge, p))
        return;
    if (!fw_[bridge].copy.start([this, bridge, plan, from](std::stop_token stop) { run_copy(bridge, plan, from, stop); })) {
        note("bridge '" + bridge + "': cannot start the rebuild copy");
        p.state = rebuild_progress::kind::stopped;
        write(bridge, p);
    }
}

std::string bridge_firmware::power_up(const std::string& bridge)
{
    bridge_fw& fw = fw_[bridge];
    if (fw.restarting) {
        // It comes up by itself. An unplug and plug meanwhile took its state away: say it
        // is restarting, so whoever asked waits for it instead of taking it for off.
        power_state power;
        std::string error;
        if (read_power(st_.root(), bridge, power, error) && power.state != power_state::kind::rebooting) {
            power.state = power_state::kind::rebooting;
            if (!write_power(st_.root(), bridge, power, error))
                return error;
        }
        return std::string();
    }
    bridge_desc cfg;
    std::string error;
    if (!st_.read_bridge(bridge, cfg, error))
        return error;
    if (!cfg.plugged) {
        forget_power(st_.root(), bridge);
        return std::string();
    }
    power_state power;
    rebuild_progress progress;
    if (!read_power(st_.root(), bridge, power, error))
        note(error);  // unreadable: powered up anew below
    if (power.state != power_state::kind::up)
        return boot(bridge, cfg, power);
    // Running already; a copy left by a service that ended resumes where it was, onto the
    // very same images.
    if (!read_progress(st_.root(), bridge, progress, error))
        note(error);
    if (progress.state == rebuild_progress::kind::running && !fw.copy.running()) {
        const rebuild_plan plan = assemble(cfg);
        if (plan.copy && plan.end == progress.total && plan.source_port == progress.source_port &&
            file_id(plan.source_image) == progress.source_id && file_id(plan.target_image) == progress.target_id) {
            start_copy(bridge, plan, progress.current);
        } else {
            progress.state = rebuild_progress::kind::stopped;
            write(bridge, progress);
        }
    }
    return std::string();
}

std::string bridge_firmware::disk_in(const std::string& bridge)
{
    bridge_fw& fw = fw_[bridge];
    if (fw.restarting)
        return std::string();
    // A copy still running has a pull to notice (a disk went into a bay it copies with):
    // it ends first, writing where it stopped.
    fw.copy.stop();
    bridge_desc cfg;
    power_state power;
    rebuild_progress progress;
    std::string error;
    if (!st_.read_bridge(bridge, cfg, error) || !read_power(st_.root(), bridge, power, error) ||
        !read_progress(st_.root(), bridge, progress, error))
        return error;
    // Off, it assembles its set when it powers up. Running, it starts the copy its records ask
    // for: one a pull cut short, one that ended while the records still ask for it (the disk
    // back may have missed what was written meanwhile), or one whose half was away when the
    // bridge last powered up.
    if (!cfg.plugged || power.state != power_state::kind::up)
        return std::string();
    // From the start: the bridge cannot know that the disk that came back is unchanged.
    const rebuild_plan plan = assemble(cfg);
    if (plan.copy)
        start_copy(bridge, plan, 0);
    return std::string();
}

std::string bridge_firmware::mark_newer(const bay_record& half)
{
    std::string error;
    if (!st_.inside(half.image, error))
        return error;
    raid_info record;
    const io::unique_fd fd = io::open_fd(half.image, O_RDWR);
    const off_t at = static_cast<off_t>(half.record_lba * 512);
    if (!fd)
        return io::errno_text(half.image, errno);
    if (!io::pread_all(fd.get(), record.data(), 512, at))
        return half.image + ": cannot read the record sector";
    // Only the stamp changes: the record still names the partner, so a front end that
    // degrades this half later still knows whom to note as the older half. One second on, not
    // the clock: a bridge keeps no time of its own, and a host's clock or time zone may differ.
    unsigned char stamp_bytes[16] = {};
    if (!stamp_after(stamp_bytes, record.stamp))
        return half.image + ": no stamp sorts after the record's; not marked";
    std::memcpy(record.stamp, stamp_bytes, sizeof record.stamp);
    if (!io::pwrite_all(fd.get(), record.data(), 512, at) || ::fdatasync(fd.get()) != 0)
        return io::errno_text(half.image, errno);
    return std::string();
}

std::string bridge_firmware::disk_out(const std::string& bridge, int port, const std::string& stamp)
{
    bridge_desc cfg;
    rebuild_progress progress;
    std::string error;
    if (!st_.read_bridge(bridge, cfg, error) || !read_progress(st_.root(), bridge, progress, error))
        return error;
    // Without power nothing is noticed; the halves of a copy are the copy's to judge.
    if (!cfg.plugged || fw_[bridge].copy.running() || progress.state == rebuild_progress::kind::running ||
        progress.state == rebuild_progress::kind::stopped)
        return std::string();
    bay_record left, back;
    if (!read_bay_record(st_, bridge, 1 - port, left, error))
        return error;
    // Only the half that ran in step with the pulled one, unchanged since (a front end may
    // have degraded or rewritten it meanwhile), and not beside its partner put straight back.
    std::string ignored;
    if (!left.rec.valid || left.rec.mode != mode_raid1 || left.rec.source || hex_word(left.rec.stamp) != stamp ||
        (read_bay_record(st_, bridge, port, back, ignored) && in_step_mirror(left, back)))
        return std::string();
    return mark_newer(left);
}

std::string bridge_firmware::mark_half_left(const std::string& bridge)
{
    powered_down_set ran;
    bool found = false;
    std::string error;
    if (!take_powered_down_set(st_.root(), bridge, ran, found, error) || !found)
        return error;
    // One half of the mirror it ran, as it was, and its partner not beside it: the partner went
    // while the bridge had no power, and this half runs alone from now on.
    bay_record bay[2];
    bool there[2];
    std::string unreadable;
    for (int port = 0; port < 2; ++port) {
        there[port] = read_bay_record(st_, bridge, port, bay[port], error);
        if (!there[port] && !error.empty())
            unreadable = error;  // perhaps the partner, silent: nothing is marked
    }
    // Kept for a power-up that reads both.
    if (!unreadable.empty())
        return write_powered_down_set(st_.root(), bridge, ran, error) ? std::string() : error;
    for (int port = 0; port < 2; ++port) {
        const bay_record &half = bay[port], &other = bay[1 - port];
        const std::string serial = hex_word(half.serial_raw), partner = hex_word(half.rec.partner_serial);
        const bool of_the_set = (serial == ran.serial[0] && partner == ran.serial[1]) ||
                                (serial == ran.serial[1] && partner == ran.serial[0]);
        if (!there[port] || !of_the_set || !half.rec.valid || half.rec.mode != mode_raid1 || half.rec.source ||
            hex_word(half.rec.stamp) != ran.stamp || (there[1 - port] && other.serial_raw == half.rec.partner_serial))
            continue;
        error = mark_newer(half);
        // Kept for the next power-up to try again.
        std::string again;
        if (!error.empty() && !write_powered_down_set(st_.root(), bridge, ran, again))
            error += "; " + again;
        return error.empty() ? error : "bridge '" + bridge + "': the half left alone is not marked: " + error;
    }
    return std::string();
}

std::string bridge_firmware::boot(const std::string& bridge, const bridge_desc& cfg, power_state power)
{
    fw_[bridge].copy.stop();
    // It powers up all the same; whoever asked hears why the half was not marked.
    const std::string unmarked = mark_half_left(bridge);
    const rebuild_plan plan = assemble(cfg);
    if (plan.copy)
        start_copy(bridge, plan, 0);
    else
        write(bridge, rebuild_progress{});  // a bridge that came up without a rebuild reports none
    power.state = power_state::kind::up;
    // A boot number never seen before, also after an unplug took the old one away: a front
    // end that missed the power cycle (an unplug and plug within one look) still sees a restart.
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    power.boot = std::max<uint64_t>(power.boot + 1, static_cast<uint64_t>(now));
    std::string error;
    if (!write_power(st_.root(), bridge, power, error))
        return unmarked.empty() ? error : unmarked + "; " + error;
    return unmarked;
}

std::string bridge_firmware::warm_boot(const std::string& bridge)
{
    bridge_fw& fw = fw_[bridge];
    if (fw.restarting)
        return std::string();  // already restarting
    power_state power;
    std::string error;
    if (!read_power(st_.root(), bridge, power, error))
        return error;
    if (power.state != power_state::kind::up)
        return "bridge '" + bridge + "' is not running";
    // The bridge loses power: its copy ends where it is.
    fw.copy.stop();
    rebuild_progress progress;
    if (read_progress(st_.root(), bridge, progress, error) && progress.state == rebuild_progress::kind::running) {
        progress.state = rebuild_progress::kind::stopped;
        write(bridge, progress);
    }
    power.state = power_state::kind::rebooting;
    if (!write_power(st_.root(), bridge, power, error))
        return error;
    // A previous restart has decided (restarting is false) and is only returning: let it.
    fw.reboot.join();
    fw.restarting = true;
    if (!fw.reboot.start([this, bridge](std::stop_token stop) { reboot(bridge, stop); })) {
        fw.restarting = false;
        // Without a thread the bridge comes back at the next power-up request instead.
        return "bridge '" + bridge + "': cannot start the reboot";
    }
    return std::string();
}

void bridge_firmware::reboot(const std::string& bridge, std::stop_token stop)
{
    constexpr uint64_t slice_ms = 50;
    for (uint64_t waited = 0; waited < reboot_ms; waited += slice_ms) {
        if (stop.stop_requested())
            return;
        pause_ms(slice_ms);
    }
    std::lock_guard<std::mutex> lock(m_);
    fw_[bridge].restarting = false;
    bridge_desc cfg;
    power_state power;
    std::string error;
    if (!st_.read_bridge(bridge, cfg, error) || !cfg.plugged) {
        // Unplugged or removed meanwhile: it stays off until it is plugged again.
        forget_power(st_.root(), bridge);
        return;
    }
    if (!read_power(st_.root(), bridge, power, error))
        note(error);
    error = boot(bridge, cfg, power);
    if (!error.empty())
        note(error);
}

namespace {

struct open_image {
    io::unique_fd fd;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string path;
    bool open(const std::string& p, int flags)
    {
        path = p;
        fd = io::open_fd(p, flags);
        struct stat s;
        if (!fd || ::fstat(fd.get(), &s) != 0)
            return false;
        dev = s.st_dev;
        ino = s.st_ino;
        return true;
    }
    // Still the same file in the port: the disk was not pulled.
    bool present() const
    {
        struct stat s;
        return ::stat(path.c_str(), &s) == 0 && s.st_dev == dev && s.st_ino == ino;
    }
};

}  // namespace

void bridge_firmware::run_copy(const std::string& bridge, rebuild_plan plan, uint64_t from, std::stop_token stop)
{
    rebuild_progress p;
    p.state = rebuild_progress::kind::running;
    p.total = plan.end;
    p.current = from;
    p.source_port = plan.source_port;
    open_image src, dst;
    std::string error;
    // The plan was made from images inside the simulation; a link swapped in since must not
    // carry the copy out of it.
    if (!st_.inside(plan.source_image, error) || !st_.inside(plan.target_image, error)) {
        note("bridge '" + bridge + "': rebuild refused: " + error);
        p.state = rebuild_progress::kind::stopped;
        write(bridge, p);
        return;
    }
    if (!src.open(plan.source_image, O_RDONLY) || !dst.open(plan.target_image, O_RDWR)) {
        note("bridge '" + bridge + "': rebuild cannot open " + (!src.fd ? src.path : dst.path));
        p.state = rebuild_progress::kind::stopped;
        write(bridge, p);
        return;
    }
    p.source_id = std::to_string(src.dev) + ":" + std::to_string(src.ino);
    p.target_id = std::to_string(dst.dev) + ":" + std::to_string(dst.ino);
    // Paced: the whole copy takes plan.seconds of system time in equal steps. Unpaced:
    // large steps, only so that a stop or a pulled disk is noticed in time.
    const uint64_t steps =
        plan.seconds > 0
            ? std::max<uint64_t>(1, static_cast<uint64_t>(std::llround(plan.seconds * 1000.0 / rebuild_step_ms)))
            : 0;
    const uint64_t step = steps > 0 ? std::max<uint64_t>(1, (plan.end + steps - 1) / steps) : (1ULL << 20);
    uint64_t pos = from;
    bool ok = true;
    while (pos < plan.end) {
        bridge_desc cfg;
        // Unplugged, a disk pulled or the service ending: the copy stops where it is.
        if (stop.stop_requested() || !src.present() || !dst.present() || !st_.read_bridge(bridge, cfg, error) ||
            !cfg.plugged) {
            ok = false;
            break;
        }
        const uint64_t next = std::min(plan.end, pos + step);
        // Copy [pos, next) around the two record sectors.
        uint64_t at = pos;
        const uint64_t cuts[2] = {std::min(plan.skip[0], plan.skip[1]), std::max(plan.skip[0], plan.skip[1])};
        for (uint64_t cut : cuts) {
            if (cut < at || cut >= next)
                continue;
            if (cut > at && !copy_extents(src.fd.get(), dst.fd.get(), at * sector_size, cut * sector_size, error)) {
                ok = false;
                break;
            }
            at = cut + 1;
        }
        if (ok && at < next && !copy_extents(src.fd.get(), dst.fd.get(), at * sector_size, next * sector_size, error))
            ok = false;
        if (!ok) {
            note("bridge '" + bridge + "': rebuild stopped: " + error + " (" + dst.path + ")");
            break;
        }
        pos = next;
        p.current = pos;
        if (pos < plan.end)
            write(bridge, p);
        if (steps > 0 && pos < plan.end)
            pause_ms(rebuild_step_ms);
    }
    p.state = ok ? rebuild_progress::kind::done : rebuild_progress::kind::stopped;
    if (ok)
        p.current = p.total;
    // A stop for a warm boot or an unplug is written by whoever stopped it; a stale write
    // here must not bring back "running".
    write(bridge, p);
}

void bridge_firmware::adopt()
{
    std::lock_guard<std::mutex> lock(m_);
    for (const auto& bridge : st_.bridges()) {
        const std::string error = power_up(bridge);
        if (!error.empty())
            note(error);
    }
}

std::string bridge_firmware::handle(const std::string& request)
{
    std::istringstream words(request);
    std::string verb, bridge, port, stamp, more;
    words >> verb >> bridge;
    if (!store::valid_name(bridge))
        return "not a bridge name: '" + bridge + "'";
    if (verb == "disk-out" && !(words >> port >> stamp && (port == "0" || port == "1")))
        return "disk-out needs a bridge, a port and a stamp";
    if (words >> more)
        return "too many words in the request";
    std::lock_guard<std::mutex> lock(m_);
    if (verb == "disk-out")
        return disk_out(bridge, port == "1" ? 1 : 0, stamp);
    if (verb == "power-up")
        return power_up(bridge);
    if (verb == "warm-boot")
        return warm_boot(bridge);
    if (verb == "disk-in")
        return disk_in(bridge);
    return "unknown request '" + verb + "'";
}

bool bridge_firmware::busy()
{
    std::lock_guard<std::mutex> lock(m_);
    for (auto& [name, fw] : fw_)
        if (fw.copy.running() || fw.reboot.running())
            return true;
    return false;
}

void bridge_firmware::stop_all()
{
    std::lock_guard<std::mutex> lock(m_);
    for (auto& [name, fw] : fw_) {
        fw.reboot.request_stop();
        fw.copy.stop();
    }
}

}  // namespace ov::sim
