#include "service.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "clock.h"
#include "diag.h"
#include "firmware.h"
#include "firmware_state.h"
#include "identify.h"
#include "ovdisk.h"
#include "posix_io.h"
#include "raid.h"
#include "store.h"
#include "threads.h"

extern char** environ;

namespace ov::sim {

namespace {

constexpr uint64_t reboot_ms = 1500;      // a warm boot's absence
constexpr uint64_t rebuild_step_ms = 100; // a paced copy moves in steps of this length
constexpr uint64_t idle_ms = 5000;        // the service ends after this long with nothing to do
constexpr uint64_t tick_ms = 100;
constexpr int reply_timeout_s = 60;       // a warm boot waits for a copy step to end

std::mutex program_m;
std::string program_override;

std::string socket_path(const std::string& root) { return firmware_dir(root) + "/socket"; }
std::string lock_path(const std::string& root) { return firmware_dir(root) + "/lock"; }

// A socket address for the firmware directory's socket. Paths too long for sun_path go
// through the directory's descriptor, which must stay open while the address is used.
bool socket_address(const std::string& root, sockaddr_un& addr, io::unique_fd& dir, std::string& error)
{
    addr = {};
    addr.sun_family = AF_UNIX;
    std::string path = socket_path(root);
    if (path.size() >= sizeof addr.sun_path) {
        dir = io::open_fd(firmware_dir(root), O_RDONLY | O_DIRECTORY);
        if (!dir) {
            error = io::errno_text(firmware_dir(root), errno);
            return false;
        }
        path = "/proc/self/fd/" + std::to_string(dir.get()) + "/socket";
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

io::unique_fd connect_service(const std::string& root, std::string& error)
{
    sockaddr_un addr;
    io::unique_fd dir;
    if (!socket_address(root, addr, dir, error))
        return {};
    io::unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = io::errno_text(socket_path(root), errno);
        return {};
    }
    timeval tv{reply_timeout_s, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return fd;
}

// One line, without its newline; false at an end of stream or error before the newline.
bool read_line(int fd, std::string& line)
{
    line.clear();
    char c;
    while (line.size() < 4096) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

bool start_service(const std::string& root, std::string& error)
{
    const std::string program = firmware_program();
    const char* argv[] = {program.c_str(), "--sim", root.c_str(), "firmware", "--detach", nullptr};
    pid_t pid = 0;
    const int rc = program.find('/') == std::string::npos
                       ? ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ)
                       : ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ);
    if (rc != 0) {
        error = "cannot start the simulated firmware (" + program + "): " + std::strerror(rc) +
                "; OVRAID_SIM_TOOL names the ovraid-sim program";
        return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "the simulated firmware did not start (" + program + "); see " + firmware_dir(root) + "/log";
        return false;
    }
    return true;
}

// ---- the service ------------------------------------------------------------------

// What set assembly decided for a bridge at power-up.
struct rebuild_plan {
    bool copy = false;
    int source_port = 0;
    std::string source_image, target_image;
    uint64_t end = 0;          // sectors [0, end) are copied
    uint64_t skip[2] = {0, 0}; // the two record sectors, never written
    double seconds = 0;
};

std::string file_id(const std::string& path)
{
    struct stat s;
    if (::stat(path.c_str(), &s) != 0)
        return std::string();
    return std::to_string(s.st_dev) + ":" + std::to_string(s.st_ino);
}

class service {
public:
    explicit service(std::string root) : st_(std::move(root)) {}

    void adopt();
    std::string handle(const std::string& request);
    bool busy();
    void stop_all();
    const store& st() const { return st_; }

private:
    struct bridge_fw {
        owned_thread copy;
        owned_thread reboot;
    };

    void note(const std::string& text) { diag(diag_level::warning, "ovraid firmware: " + text); }
    std::string power_up(const std::string& bridge);
    std::string warm_boot(const std::string& bridge);
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

bool service::write(const std::string& bridge, const rebuild_progress& p)
{
    std::string error;
    if (write_progress(st_.root(), bridge, p, error))
        return true;
    note(error);
    return false;
}

rebuild_plan service::assemble(const bridge_desc& cfg)
{
    rebuild_plan plan;
    plan.seconds = cfg.rebuild_seconds;
    record_summary rec[2];
    uint64_t image_sectors[2] = {0, 0};
    uint64_t record_lba[2] = {0, 0};
    std::string serial_raw[2];
    for (int port = 0; port < 2; ++port) {
        const std::string dir = st_.port_dir(cfg.name, port);
        disk_desc disk;
        std::string name, error;
        std::array<unsigned char, 512> id;
        if (!st_.read_disk(dir, disk, name, error) || !st_.read_identify(dir, id, error)) {
            if (!error.empty())
                note(error);
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
        if (!fd || !io::pread_all(fd.get(), sector, 512, static_cast<off_t>(record_lba[port] * 512))) {
            note(image + ": cannot read the record sector");
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
    plan.source_image = st_.port_dir(cfg.name, src) + "/" + image_file;
    plan.target_image = st_.port_dir(cfg.name, dst) + "/" + image_file;
    // A record claiming more than either disk holds is clipped to what exists.
    plan.end = std::min({rec[src].capacity, image_sectors[0], image_sectors[1]});
    plan.skip[0] = record_lba[0];
    plan.skip[1] = record_lba[1];
    return plan;
}

void service::start_copy(const std::string& bridge, const rebuild_plan& plan, uint64_t from)
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

std::string service::power_up(const std::string& bridge)
{
    bridge_fw& fw = fw_[bridge];
    if (fw.reboot.running())
        return std::string();  // it comes up by itself
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

std::string service::boot(const std::string& bridge, const bridge_desc& cfg, power_state power)
{
    fw_[bridge].copy.stop();
    const rebuild_plan plan = assemble(cfg);
    if (plan.copy)
        start_copy(bridge, plan, 0);
    else
        write(bridge, rebuild_progress{});  // a bridge that came up without a rebuild reports none
    power.state = power_state::kind::up;
    ++power.boot;
    std::string error;
    return write_power(st_.root(), bridge, power, error) ? std::string() : error;
}

std::string service::warm_boot(const std::string& bridge)
{
    bridge_fw& fw = fw_[bridge];
    if (fw.reboot.running())
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
    if (!fw.reboot.start([this, bridge](std::stop_token stop) { reboot(bridge, stop); })) {
        // Without a thread the bridge comes back at the next power-up request instead.
        return "bridge '" + bridge + "': cannot start the reboot";
    }
    return std::string();
}

void service::reboot(const std::string& bridge, std::stop_token stop)
{
    constexpr uint64_t slice_ms = 50;
    for (uint64_t waited = 0; waited < reboot_ms; waited += slice_ms) {
        if (stop.stop_requested())
            return;
        pause_ms(slice_ms);
    }
    std::lock_guard<std::mutex> lock(m_);
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

void service::run_copy(const std::string& bridge, rebuild_plan plan, uint64_t from, std::stop_token stop)
{
    rebuild_progress p;
    p.state = rebuild_progress::kind::running;
    p.total = plan.end;
    p.current = from;
    p.source_port = plan.source_port;
    open_image src, dst;
    std::string error;
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

void service::adopt()
{
    std::lock_guard<std::mutex> lock(m_);
    for (const auto& bridge : st_.bridges()) {
        const std::string error = power_up(bridge);
        if (!error.empty())
            note(error);
    }
}

std::string service::handle(const std::string& request)
{
    const size_t space = request.find(' ');
    const std::string verb = request.substr(0, space);
    const std::string bridge = space == std::string::npos ? std::string() : request.substr(space + 1);
    if (!store::valid_name(bridge))
        return "not a bridge name: '" + bridge + "'";
    std::lock_guard<std::mutex> lock(m_);
    if (verb == "power-up")
        return power_up(bridge);
    if (verb == "warm-boot")
        return warm_boot(bridge);
    return "unknown request '" + verb + "'";
}

bool service::busy()
{
    std::lock_guard<std::mutex> lock(m_);
    for (auto& [name, fw] : fw_)
        if (fw.copy.running() || fw.reboot.running())
            return true;
    return false;
}

void service::stop_all()
{
    std::lock_guard<std::mutex> lock(m_);
    for (auto& [name, fw] : fw_) {
        fw.reboot.request_stop();
        fw.copy.stop();
    }
}

int run_service(const std::string& root, int ready_fd)
{
    auto tell = [&ready_fd](char c) {
        if (ready_fd >= 0) {
            io::write_all(ready_fd, &c, 1);
            ::close(ready_fd);
            ready_fd = -1;
        }
    };
    std::string error;
    if (::mkdir(firmware_dir(root).c_str(), 0755) != 0 && errno != EEXIST) {
        diag(diag_level::warning, "ovraid firmware: " + io::errno_text(firmware_dir(root), errno));
        return 1;
    }
    const io::unique_fd lock = io::open_fd(lock_path(root), O_RDWR | O_CREAT, 0644);
    if (!lock) {
        diag(diag_level::warning, "ovraid firmware: " + io::errno_text(lock_path(root), errno));
        return 1;
    }
    // One service per simulation: a live one answers; one on its way out lets go soon.
    for (int tries = 0; ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0; ++tries) {
        if (connect_service(root, error)) {
            tell('R');
            return 0;
        }
        if (tries == 500) {
            diag(diag_level::warning, "ovraid firmware: " + lock_path(root) + " stays locked");
            return 1;
        }
        ::usleep(10000);
    }
    sockaddr_un addr;
    io::unique_fd dir;
    io::unique_fd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket_address(root, addr, dir, error) || !listener) {
        diag(diag_level::warning, "ovraid firmware: " + (error.empty() ? io::errno_text("socket", errno) : error));
        return 1;
    }
    ::unlink(socket_path(root).c_str());  // left by a service that died; the lock is ours
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener.get(), 64) != 0) {
        diag(diag_level::warning, "ovraid firmware: " + io::errno_text(socket_path(root), errno));
        return 1;
    }
    service fw(root);
    fw.adopt();
    tell('L');
    using clock = std::chrono::steady_clock;
    auto last = clock::now();
    const auto idle = std::chrono::microseconds(static_cast<int64_t>(idle_ms * 1000.0 / time_scale()));
    const int tick = std::max(1, static_cast<int>(std::lround(tick_ms / time_scale())));
    for (;;) {
        pollfd p{listener.get(), POLLIN, 0};
        const int n = ::poll(&p, 1, tick);
        if (n > 0) {
            io::unique_fd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client) {
                timeval tv{5, 0};
                ::setsockopt(client.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
                std::string request;
                if (read_line(client.get(), request)) {
                    const std::string refused = fw.handle(request);
                    const std::string reply = refused.empty() ? "ok\n" : "error " + refused + "\n";
                    io::write_all(client.get(), reply.data(), reply.size());
                }
            }
            last = clock::now();
        }
        if (!fw.st().exists())
            break;  // the simulation was removed
        if (fw.busy())
            last = clock::now();
        else if (clock::now() - last > idle)
            break;
    }
    // Whoever connects from now on starts a new service, which waits for this lock.
    ::unlink(socket_path(root).c_str());
    listener.reset();
    fw.stop_all();
    return 0;
}

}  // namespace

void set_firmware_program(const std::string& path)
{
    std::lock_guard<std::mutex> lock(program_m);
    program_override = path;
}

std::string firmware_program()
{
    {
        std::lock_guard<std::mutex> lock(program_m);
        if (!program_override.empty())
            return program_override;
    }
    if (const char* env = std::getenv("OVRAID_SIM_TOOL"); env != nullptr && *env != '\0')
        return env;
#ifdef OVRAID_SIM_TOOL_BUILT
    if (::access(OVRAID_SIM_TOOL_BUILT, X_OK) == 0)
        return OVRAID_SIM_TOOL_BUILT;
#endif
#ifdef OVRAID_SIM_TOOL_INSTALLED
    if (::access(OVRAID_SIM_TOOL_INSTALLED, X_OK) == 0)
        return OVRAID_SIM_TOOL_INSTALLED;
#endif
    return "ovraid-sim";
}

bool firmware_running(const std::string& root)
{
    const io::unique_fd fd = io::open_fd(lock_path(root), O_RDONLY);
    if (!fd)
        return false;
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0)
        return false;  // closing the descriptor lets go
    return errno == EWOULDBLOCK;
}

bool firmware_request(const std::string& root, const std::string& verb, const std::string& bridge,
                      std::string& error)
{
    // A service on its way out drops connections it has not served: ask again, starting
    // a new one when none answers.
    for (int attempt = 0; attempt < 4; ++attempt) {
        io::unique_fd fd = connect_service(root, error);
        if (!fd) {
            if (!start_service(root, error))
                return false;
            continue;
        }
        const std::string line = verb + " " + bridge + "\n";
        std::string reply;
        if (!io::write_all(fd.get(), line.data(), line.size()) || !read_line(fd.get(), reply))
            continue;
        if (reply == "ok")
            return true;
        error = reply.rfind("error ", 0) == 0 ? reply.substr(6) : "the simulated firmware said '" + reply + "'";
        return false;
    }
    error = "the simulated firmware of " + root + " does not answer";
    return false;
}

int serve_firmware(const std::string& root, bool detach)
{
    if (!detach)
        return run_service(root, -1);
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return 1;
    const pid_t pid = ::fork();
    if (pid < 0)
        return 1;
    if (pid > 0) {
        ::close(ready[1]);
        char c = 0;
        const bool ok = ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
        return ok ? 0 : 1;
    }
    // The service: its own session, away from the terminal and the caller's output, so a
    // front end's end (or a test runner waiting for output to close) does not wait for it.
    ::close(ready[0]);
    ::setsid();
    ::mkdir(firmware_dir(root).c_str(), 0755);
    const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int log_fd = ::open((firmware_dir(root) + "/log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (null_fd >= 0)
        ::dup2(null_fd, 0);
    const int out = log_fd >= 0 ? log_fd : null_fd;
    if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
    }
    ::_exit(run_service(root, ready[1]));
}

}  // namespace ov::sim
