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
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <vector>
#include <mutex>

#include "clock.h"
#include "diag.h"
#include "bridge_firmware.h"
#include "firmware_state.h"
#include "posix_io.h"

extern char** environ;

namespace ov::sim {

namespace {

constexpr uint64_t idle_ms = 5000;        // the service ends after this long with nothing to do
constexpr uint64_t tick_ms = 100;
constexpr int reply_timeout_s = 60;       // a warm boot waits for a copy step to end
constexpr int request_timeout_ms = 1000;  // a whole request line

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
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return fd;
}

// All of a line onto a socket; a peer that hung up is a failed write, never a SIGPIPE.
bool send_all(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// One line, without its newline, within ms milliseconds; false at an end of stream, an
// error or the time limit before the newline.
bool read_line(int fd, std::string& line, int ms)
{
    line.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char c;
    while (line.size() < 4096) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) == 0)
            return false;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
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
    // Said here, where someone reads it: the service's own words go to a log in that place.
    const std::string dir = firmware_dir(root);
    if (!firmware_dir_usable(root, true, error)) {
        error = "cannot start the simulated firmware: " + error;
        return false;
    }
    if (::access(dir.c_str(), W_OK) != 0) {
        error = "cannot start the simulated firmware: " + io::errno_text(dir, errno);
        return false;
    }
    const std::string program = firmware_program();
    const char* argv[] = {program.c_str(), "--sim", root.c_str(), "firmware", "--detach", nullptr};
    // The firmware keeps the time of the process that starts it (a test's faster clock too).
    char scale[64];
    std::snprintf(scale, sizeof scale, "OVRAID_TIME_SCALE=%.17g", time_scale());
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "OVRAID_TIME_SCALE=", 18) != 0)
            env.push_back(*e);
    env.push_back(scale);
    env.push_back(nullptr);
    pid_t pid = 0;
    const int rc =
        program.find('/') == std::string::npos
            ? ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv), env.data())
            : ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv), env.data());
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
    if (!firmware_dir_usable(root, true, error)) {
        diag(diag_level::warning, "ovraid firmware: " + error);
        return 1;
    }
    // Not through a link: the pid written here stays in the simulation.
    const io::unique_fd lock = io::open_regular(lock_path(root), O_RDWR | O_CREAT | O_NOFOLLOW, error);
    if (!lock) {
        diag(diag_level::warning, "ovraid firmware: " + error);
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
        pause_ms(10);
    }
    // Who serves, for a user (or a test) who wants to know.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(lock.get(), 0) != 0 || !io::pwrite_all(lock.get(), pid.data(), pid.size(), 0))
        diag(diag_level::warning, "ovraid firmware: " + io::errno_text(lock_path(root), errno));
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
    bridge_firmware fw(root);
    fw.adopt();
    tell('L');
    using clock = std::chrono::steady_clock;
    auto last = clock::now();
    // Never under a second of real time: the caller that started the service is still
    // waiting for the starter to return (slow under a sanitizer) when a fast clock's idle ends.
    const auto idle = std::max<std::chrono::microseconds>(
        std::chrono::seconds(1), std::chrono::microseconds(static_cast<int64_t>(idle_ms * 1000.0 / time_scale())));
    const int tick = std::max(1, static_cast<int>(std::lround(tick_ms / time_scale())));
    for (;;) {
        pollfd p{listener.get(), POLLIN, 0};
        const int n = ::poll(&p, 1, tick);
        if (n > 0) {
            io::unique_fd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client) {
                // One request at a time, so a client that does not finish its line within a
                // second is not waited for.
                timeval tv{1, 0};
                ::setsockopt(client.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
                std::string request;
                if (read_line(client.get(), request, request_timeout_ms)) {
                    const std::string refused = fw.handle(request);
                    const std::string reply = refused.empty() ? "ok\n" : "error " + refused + "\n";
                    send_all(client.get(), reply);
                }
            }
            last = clock::now();
        }
        // The simulation is gone or being removed (its state directory first, maybe).
        struct stat state_dir;
        if (!fw.st().exists() || ::lstat(firmware_dir(root).c_str(), &state_dir) != 0)
            break;
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
    // An installed program, under whatever prefix, runs the ovraid-sim installed with it, never
    // one a build tree on the same machine happens to hold.
    char self[4096];
    if (const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1); n > 0) {
        std::string beside(self, static_cast<size_t>(n));
        beside = beside.substr(0, beside.rfind('/') + 1) + "ovraid-sim";
        if (::access(beside.c_str(), X_OK) == 0)
            return beside;
    }
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
    std::string error;
    const io::unique_fd fd = io::open_regular(lock_path(root), O_RDONLY, error);
    if (!fd)
        return false;
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0)
        return false;  // closing the descriptor lets go
    return errno == EWOULDBLOCK;
}

bool disk_inserted(const std::string& root, const std::string& bridge, std::string& error)
{
    // Only a copy has anything to do (one a pull cut short, one running that has yet to notice
    // the pull, one at its end, or one a record asks for that a power-up without this disk did
    // not start): no service is started for the rest.
    rebuild_progress progress;
    bridge_desc cfg;
    const store st(root);
    if (!read_progress(root, bridge, progress, error) || !st.read_bridge(bridge, cfg, error))
        return false;
    bool copy = progress.state != rebuild_progress::kind::none;
    for (int port = 0; port < 2 && !copy; ++port) {
        bay_record bay;
        std::string ignored;
        copy = read_bay_record(st, bridge, port, bay, ignored) && bay.rec.valid && bay.rec.source;
    }
    return !copy || !cfg.plugged || firmware_request(root, "disk-in", bridge, error);
}

namespace {

// Whether the bridge's bays hold a mirror running in step, read into bay.
bool in_step_pair(const store& st, const std::string& bridge, bay_record (&bay)[2])
{
    std::string ignored;
    return read_bay_record(st, bridge, 0, bay[0], ignored) && read_bay_record(st, bridge, 1, bay[1], ignored) &&
           in_step_mirror(bay[0], bay[1]);
}

}  // namespace

bool set_plugged(const std::string& root, const std::string& bridge, bool plugged, std::string& error)
{
    store st(root);
    if (plugged)
        return st.set_plugged(bridge, true, error) && firmware_request(root, "power-up", bridge, error);
    // What it ran is kept for its next power-up, which notices a half that went meanwhile.
    bay_record bay[2];
    if (in_step_pair(st, bridge, bay)) {
        const powered_down_set ran{{hex_word(bay[0].serial_raw), hex_word(bay[1].serial_raw)}, hex_word(bay[0].rec.stamp)};
        if (!write_powered_down_set(root, bridge, ran, error))
            return false;
    } else {
        forget_powered_down_set(root, bridge);
    }
    if (st.set_plugged(bridge, false, error))
        return true;
    forget_powered_down_set(root, bridge);
    return false;
}

bool pull_disk(const std::string& root, const std::string& bridge, int port, std::string& disk, std::string& error)
{
    store st(root);
    bay_record bay[2];
    // Judged before the pull: once out, the disk that went can no longer be read.
    const bool pair = in_step_pair(st, bridge, bay);
    const bay_record& left = bay[1 - port];
    if (!st.pull_disk(bridge, port, disk, error))
        return false;
    if (!pair)
        return true;
    bridge_desc cfg;
    if (st.read_bridge(bridge, cfg, error) &&
        (!cfg.plugged || firmware_request(root, "disk-out",
                                          bridge + " " + std::to_string(port) + " " + hex_word(left.rec.stamp),
                                          error)))
        return true;
    // Unnoticed, the half left would pass for the newer one's equal later: the pull is undone.
    std::string again;
    if (st.insert_disk(bridge, port, disk, again)) {
        disk.clear();
        error = "the bridge's firmware could not be told, so the disk was put back: " + error;
    } else {
        error = "the bridge's firmware could not be told (" + error + "), and putting the disk back failed: " + again;
    }
    return false;
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
        if (!send_all(fd.get(), line) || !read_line(fd.get(), reply, reply_timeout_s * 1000))
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
    std::string unusable;
    const bool usable = firmware_dir_usable(root, true, unusable);
    const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    // A log that is no regular file (a FIFO would hold the service, and with it the caller's
    // output, for ever) is not written.
    const io::unique_fd log =
        usable ? io::open_regular(firmware_dir(root) + "/log", O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, unusable)
               : io::unique_fd();
    if (null_fd >= 0)
        ::dup2(null_fd, 0);
    const int out = log ? log.get() : null_fd;
    if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
    }
    ::_exit(run_service(root, ready[1]));
}

}  // namespace ov::sim
