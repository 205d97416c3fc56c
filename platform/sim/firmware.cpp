// The simulated bridge firmware: set assembly at enumeration, the rebuild copy, and
// the warm boot.
#include "firmware.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <system_error>
#include <vector>

#include "clock.h"
#include "enclosure_impl.h"
#include "identify.h"
#include "ovdisk.h"
#include "posix_io.h"
#include "raid.h"

namespace ov::sim {

record_summary decode_record(const unsigned char* sector)
{
    const raid_info r = raid_info::of(sector);
    if (!r.valid())
        return {};
    const std::string partner(reinterpret_cast<const char*>(r.partner_serial), sizeof r.partner_serial);
    return {true, r.mode(), r.member(), r.source(), r.capacity(), r.stamp_text(), partner};
}

bool record_sector(const unsigned char* identify, uint64_t image_sectors, uint64_t& lba)
{
    return record_lba_for(identify_capacity(identify), lba) && lba < image_sectors;
}

namespace {

std::string errno_text(const char* what, int err)
{
    return std::string(what) + ": " + std::strerror(err);
}

// All n bytes at offset at, through short writes and interruptions.
bool pwrite_all(int dst, const unsigned char* p, size_t n, uint64_t at, const char* what, std::string& error)
{
    if (io::pwrite_all(dst, p, n, static_cast<off_t>(at)))
        return true;
    error = errno_text(what, errno);
    return false;
}

bool write_zeros(int dst, uint64_t begin, uint64_t end, std::string& error)
{
    static const std::vector<unsigned char> zeros(1 << 20, 0);
    for (; begin < end; begin += zeros.size()) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(end - begin, zeros.size()));
        if (!pwrite_all(dst, zeros.data(), n, begin, "writing zeros to the target", error))
            return false;
    }
    return true;
}

// Makes [begin, end) of the target read zero, touching only the parts that hold data.
bool zero_range(int dst, uint64_t begin, uint64_t end, std::string& error)
{
    uint64_t pos = begin;
    while (pos < end) {
        off_t data = ::lseek(dst, static_cast<off_t>(pos), SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO)
                return true;  // no data up to the end of the file
            data = static_cast<off_t>(pos);  // no hole information: treat all as data
        }
        if (static_cast<uint64_t>(data) >= end)
            return true;
        off_t hole = ::lseek(dst, data, SEEK_HOLE);
        const uint64_t stop = hole < 0 ? end : std::min<uint64_t>(static_cast<uint64_t>(hole), end);
        const uint64_t from = static_cast<uint64_t>(data);
        if (::fallocate(dst, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                        static_cast<off_t>(stop - from)) != 0) {
            if (errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) {
                error = errno_text("punching a hole in the target", errno);
                return false;
            }
            if (!write_zeros(dst, from, stop, error))
                return false;
        }
        pos = stop;
    }
    return true;
}

bool copy_data(int src, int dst, uint64_t begin, uint64_t end, std::string& error)
{
    // In-kernel copy first; plain reads and writes where the file systems refuse it.
    loff_t in = static_cast<loff_t>(begin), out = static_cast<loff_t>(begin);
    while (static_cast<uint64_t>(in) < end) {
        const ssize_t n = ::copy_file_range(src, &in, dst, &out, static_cast<size_t>(end - static_cast<uint64_t>(in)), 0);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
            error = errno_text("copying to the target", errno);
            return false;
        }
        break;  // refused, or the source ended early: finish by hand
    }
    std::vector<unsigned char> buf(1 << 20);
    uint64_t pos = static_cast<uint64_t>(in);
    while (pos < end) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(end - pos, buf.size()));
        const ssize_t r = ::pread(src, buf.data(), want, static_cast<off_t>(pos));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            error = errno_text("reading the source", errno);
            return false;
        }
        if (r == 0) {
            error = "reading the source: unexpected end of the image";
            return false;
        }
        if (!pwrite_all(dst, buf.data(), static_cast<size_t>(r), pos, "writing the target", error))
            return false;
        pos += static_cast<uint64_t>(r);
    }
    return true;
}

}  // namespace

bool copy_extents(int src, int dst, uint64_t begin, uint64_t end, std::string& error)
{
    uint64_t pos = begin;
    while (pos < end) {
        uint64_t data;
        const off_t d = ::lseek(src, static_cast<off_t>(pos), SEEK_DATA);
        if (d >= 0)
            data = static_cast<uint64_t>(d);
        else if (errno == ENXIO)
            data = end;  // only a hole is left
        else
            data = pos;  // no hole information: copy everything
        data = std::min(data, end);
        if (data > pos && !zero_range(dst, pos, data, error))
            return false;
        if (data >= end)
            break;
        const off_t h = ::lseek(src, static_cast<off_t>(data), SEEK_HOLE);
        const uint64_t hole = h < 0 ? end : std::min<uint64_t>(static_cast<uint64_t>(h), end);
        if (!copy_data(src, dst, data, hole, error))
            return false;
        pos = hole;
    }
    return true;
}

// ---- set assembly and the rebuild copy -------------------------------------------

void enclosure::impl::retire_job(const std::string& bridge)
{
    std::unique_ptr<copy_job> job;
    {
        std::lock_guard<std::mutex> lock(m);
        auto it = bridges.find(bridge);
        if (it != bridges.end())
            job = std::move(it->second.job);
    }
    if (job) {
        job->stop = true;
        job->thread.join();
    }
}

rebuild_plan enclosure::impl::assemble(const bridge_desc& cfg)
{
    rebuild_plan plan;
    plan.seconds = cfg.rebuild_seconds;
    record_summary rec[2];
    uint64_t image_sectors[2] = {0, 0};
    uint64_t record_lba[2] = {0, 0};
    std::string serial_raw[2];
    for (int port = 0; port < 2; ++port) {
        const std::string dir = st.port_dir(cfg.name, port);
        disk_desc disk;
        std::string name, error;
        std::array<unsigned char, 512> id;
        if (!st.read_disk(dir, disk, name, error) || !st.read_identify(dir, id, error)) {
            if (!error.empty())
                note(error, true);
            return plan;
        }
        // The record lies where the host computes it: from the IDENTIFY capacity.
        if (!record_sector(id.data(), disk.sectors, record_lba[port]))
            return plan;
        image_sectors[port] = disk.sectors;
        serial_raw[port].assign(reinterpret_cast<const char*>(id.data()) + identify::serial_offset,
                                identify::serial_length);
        unsigned char sector[512];
        const std::string image = dir + "/" + image_file;
        const io::unique_fd fd = io::open_fd(image, O_RDONLY);
        const bool ok = fd && io::pread_all(fd.get(), sector, 512, static_cast<off_t>(record_lba[port] * 512));
        if (!ok) {
            note(image + ": cannot read the record sector", true);
            return plan;
        }
        rec[port] = decode_record(sector);
    }
    const bool mirror = rec[0].valid && rec[1].valid && rec[0].mode == mode_raid1 && rec[1].mode == mode_raid1;
    if (!mirror || rec[0].source == rec[1].source)
        return plan;
    // Only two halves of one mirror are a rebuild: a flagged disk left over from another set
    // is never copied over a disk that its record does not name.
    if (rec[0].partner_serial != serial_raw[1] || rec[1].partner_serial != serial_raw[0])
        return plan;
    const int src = rec[0].source ? 0 : 1, dst = 1 - src;
    plan.copy = true;
    plan.source_port = src;
    plan.source_image = st.port_dir(cfg.name, src) + "/" + image_file;
    plan.target_image = st.port_dir(cfg.name, dst) + "/" + image_file;
    // A record claiming more than either disk holds is clipped to what exists.
    plan.end = std::min({rec[src].capacity, image_sectors[0], image_sectors[1]});
    plan.skip[0] = record_lba[0];
    plan.skip[1] = record_lba[1];
    return plan;
}

void enclosure::impl::start_rebuild_locked(const std::string& bridge, const rebuild_plan& plan)
{
    bridge_state& b = bridges[bridge];
    // A restarted bridge reports no rebuild until it starts one.
    b.total = plan.copy ? plan.end : 0;
    b.current = 0;
    if (!plan.copy || closing)
        return;
    auto job = std::make_unique<copy_job>();
    copy_job* raw = job.get();
    try {
        job->thread = std::thread(&impl::run_copy, this, bridge, plan, raw);
    } catch (const std::system_error& e) {
        last_error = "bridge '" + bridge + "': cannot start the rebuild copy: " + e.what();
        return;
    }
    b.job = std::move(job);
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

void enclosure::impl::run_copy(std::string bridge, rebuild_plan plan, copy_job* job)
{
    open_image src, dst;
    std::string error;
    if (!src.open(plan.source_image, O_RDONLY) || !dst.open(plan.target_image, O_RDWR)) {
        note("bridge '" + bridge + "': rebuild cannot open " + (!src.fd ? src.path : dst.path), true);
        job->running = false;
        return;
    }
    // Paced: the whole copy takes plan.seconds of system time in equal steps. Unpaced:
    // large steps, only so that a stop or a pulled disk is noticed in time.
    const uint64_t steps = plan.seconds > 0
                               ? std::max<uint64_t>(1, static_cast<uint64_t>(std::llround(plan.seconds * 1000.0 /
                                                                                           rebuild_step_ms)))
                               : 0;
    const uint64_t step = steps > 0 ? std::max<uint64_t>(1, (plan.end + steps - 1) / steps) : (1ULL << 20);
    uint64_t pos = 0;
    bool ok = true;
    while (pos < plan.end) {
        if (job->stop || closing || !src.present() || !dst.present()) {
            ok = false;
            break;
        }
        const uint64_t next = std::min(plan.end, pos + step);
        // Copy [pos, next) around the two record sectors.
        uint64_t from = pos;
        uint64_t cuts[2] = {std::min(plan.skip[0], plan.skip[1]), std::max(plan.skip[0], plan.skip[1])};
        for (uint64_t cut : cuts) {
            if (cut < from || cut >= next)
                continue;
            if (cut > from && !copy_extents(src.fd.get(), dst.fd.get(), from * sector_size, cut * sector_size, error)) {
                ok = false;
                break;
            }
            from = cut + 1;
        }
        if (ok && from < next &&
            !copy_extents(src.fd.get(), dst.fd.get(), from * sector_size, next * sector_size, error))
            ok = false;
        if (!ok) {
            note("bridge '" + bridge + "': rebuild stopped: " + error + " (" + dst.path + ")", true);
            break;
        }
        pos = next;
        {
            std::lock_guard<std::mutex> lock(m);
            bridges[bridge].current = pos;
        }
        if (steps > 0 && pos < plan.end)
            pause_ms(rebuild_step_ms);
    }
    if (ok) {
        std::lock_guard<std::mutex> lock(m);
        bridges[bridge].current = bridges[bridge].total;
    }
    job->running = false;
}

// ---- warm boot -------------------------------------------------------------------

void enclosure::impl::warm_boot(uint32_t service, const std::string& bridge)
{
    std::unique_ptr<copy_job> job;
    std::vector<std::thread> finished;
    auto done = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard<std::mutex> lock(m);
        job = unplug_locked(service);
        bridges[bridge].rebooting = true;
        for (auto it = reboots.begin(); it != reboots.end();) {
            if (*it->done) {
                finished.push_back(std::move(it->thread));
                it = reboots.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& t : finished)
        t.join();
    if (job) {
        job->stop = true;
        job->thread.join();
    }
    std::lock_guard<std::mutex> lock(m);
    if (closing) {
        bridges[bridge].rebooting = false;
        return;
    }
    try {
        reboots.push_back({std::thread(&impl::reboot, this, bridge, done), done});
    } catch (const std::system_error& e) {
        // Without a thread the bridge comes back at the next sync instead.
        bridges[bridge].rebooting = false;
        last_error = "bridge '" + bridge + "': cannot start the reboot: " + e.what();
    }
}

void enclosure::impl::reboot(std::string bridge, std::shared_ptr<std::atomic<bool>> done)
{
    constexpr uint64_t slice_ms = 50;
    for (uint64_t waited = 0; waited < reboot_ms && !closing; waited += slice_ms)
        pause_ms(slice_ms);
    {
        std::lock_guard<std::mutex> serial(sync_m);
        bridge_desc cfg;
        std::string error;
        const bool back = !closing && st.read_bridge(bridge, cfg, error) && cfg.plugged;
        if (!back) {
            // Unplugged or removed meanwhile: it stays away until a sync finds it again.
            std::lock_guard<std::mutex> lock(m);
            bridges[bridge].rebooting = false;
        } else {
            retire_job(bridge);
            const rebuild_plan plan = assemble(cfg);
            std::lock_guard<std::mutex> lock(m);
            bridges[bridge].rebooting = false;
            if (bridges[bridge].service == 0) {
                const uint32_t service = attach_locked(cfg);
                start_rebuild_locked(bridge, plan);
                queue_first_match_locked({service});
            }
        }
    }
    *done = true;
}

void enclosure::impl::shutdown()
{
    closing = true;
    stop_watching_thread();
    std::list<reboot_thread> pending;
    {
        std::lock_guard<std::mutex> lock(m);
        pending.swap(reboots);
    }
    for (auto& r : pending)
        r.thread.join();
    std::vector<std::unique_ptr<copy_job>> jobs;
    {
        std::lock_guard<std::mutex> lock(m);
        for (auto& [name, b] : bridges)
            if (b.job)
                jobs.push_back(std::move(b.job));
    }
    for (auto& job : jobs) {
        job->stop = true;
        job->thread.join();
    }
    {
        std::lock_guard<std::mutex> lock(qm);
        stop_loop = true;
    }
    qcv.notify_all();
}

}  // namespace ov::sim
