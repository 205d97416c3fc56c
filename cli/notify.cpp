#include "notify.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include <systemd/sd-bus.h>

#include "json.h"
#include "texts.h"

extern char** environ;

namespace ov::cli {

namespace {

void say(const std::string& text)
{
    std::fprintf(stderr, "ovraidctl: %s\n", text.c_str());
    std::fflush(stderr);
}

int on_answer(sd_bus_message* reply, void* notifier, sd_bus_error*)
{
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    static_cast<desktop_notifier*>(notifier)->answered(
        !error ? nullptr : error->message ? error->message : error->name ? error->name : "");
    return 0;
}

}  // namespace

// ---- system log ------------------------------------------------------------------------

syslog_sink::syslog_sink()
{
    const char* path = std::getenv("OVRAID_SYSLOG_SOCKET");
    if (path == nullptr || *path == '\0') {
        ::openlog("ovraidctl", LOG_PID, LOG_DAEMON);
        return;
    }
    path_ = path;
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        noted_ = true;
        say(tr("mon_no_syslog", path_, std::strerror(errno)));
    }
}

syslog_sink::~syslog_sink()
{
    if (fd_ >= 0)
        ::close(fd_);
    else if (path_.empty())
        ::closelog();
}

void syslog_sink::send(const event& e)
{
    const std::string line = event_log_line(e);
    const int level = e.problem ? LOG_WARNING : LOG_INFO;
    if (path_.empty()) {
        ::syslog(level, "%s", line.c_str());
        return;
    }
    if (fd_ < 0)
        return;
    // As syslog(3) writes to its socket: priority, time, ident[pid], message.
    const std::time_t now = std::chrono::system_clock::to_time_t(e.time);
    std::tm local{};
    localtime_r(&now, &local);
    char when[32];
    std::strftime(when, sizeof when, "%b %e %H:%M:%S", &local);
    char head[96];
    std::snprintf(head, sizeof head, "<%d>%s ovraidctl[%d]: ", LOG_DAEMON | level, when, static_cast<int>(::getpid()));
    const std::string datagram = head + line;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) {
        if (!noted_)
            say(tr("mon_no_syslog", path_, std::strerror(ENAMETOOLONG)));
        noted_ = true;
        return;
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    // A logger that does not read is not waited for: the line is lost, the monitor goes on.
    if (::sendto(fd_, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 &&
        !noted_) {
        noted_ = true;
        say(tr("mon_no_syslog", path_, std::strerror(errno)));
    }
}

// ---- desktop notifications -------------------------------------------------------------

// Never flushed on the way out: a bus that accepts but never answers would hold the exit for
// the bus library's whole handshake timeout. What was answered was delivered.
desktop_notifier::~desktop_notifier()
{
    if (bus_)
        sd_bus_close_unref(bus_);
}

void desktop_notifier::note(const std::string& why)
{
    if (noted_)
        return;
    noted_ = true;
    say(tr("mon_no_notifications", why));
}

void desktop_notifier::drop(const std::string& why)
{
    note(why);
    if (bus_)
        sd_bus_close_unref(bus_);
    bus_ = nullptr;
    pending_ = 0;
}

bool desktop_notifier::connect()
{
    // A server has no session bus: that is no fault, and nothing to say.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if ((address == nullptr || *address == '\0') &&
        (runtime == nullptr || ::access((std::string(runtime) + "/bus").c_str(), F_OK) != 0))
        return false;
    const int r = sd_bus_open_user(&bus_);
    if (r < 0) {
        bus_ = nullptr;
        note(std::strerror(-r));
        return false;
    }
    return true;
}

void desktop_notifier::answered(const char* error)
{
    --pending_;
    if (error)
        note(error);
}

void desktop_notifier::send(const event& e)
{
    if (!bus_ && !connect())
        return;
    const std::string summary = utf8_text(tr("mon_controller", std::to_string(e.controller), e.controller_name));
    const std::string body = utf8_text(e.text);
    const char* category = e.name == "controller-added" || e.name == "disk-inserted" ? "device.added"
                           : e.name == "controller-removed" || e.name == "disk-removed" ? "device.removed"
                           : e.problem ? "device.error"
                                       : "device";
    // Urgency: 1 normal, 2 critical.
    const uint8_t urgency = e.problem ? 2 : 1;
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &m, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                           "org.freedesktop.Notifications", "Notify");
    if (r >= 0)
        r = sd_bus_message_append(m, "susssas", "ovraidctl", 0u, "drive-harddisk", summary.c_str(), body.c_str(), 0);
    if (r >= 0)
        r = sd_bus_message_open_container(m, 'a', "{sv}");
    if (r >= 0)
        r = sd_bus_message_append(m, "{sv}", "urgency", "y", urgency);
    if (r >= 0)
        r = sd_bus_message_append(m, "{sv}", "category", "s", category);
    if (r >= 0)
        r = sd_bus_message_close_container(m);
    if (r >= 0)
        r = sd_bus_message_append(m, "i", -1);
    if (r >= 0)
        r = sd_bus_call_async(bus_, nullptr, m, on_answer, this, 25 * 1000000ULL);
    sd_bus_message_unref(m);
    if (r < 0) {
        drop(std::strerror(-r));
        return;
    }
    ++pending_;
    service();
}

void desktop_notifier::service()
{
    if (!bus_)
        return;
    int r;
    while ((r = sd_bus_process(bus_, nullptr)) > 0) {
    }
    // The bus went away (the session ended): a later event connects again.
    if (r < 0)
        drop(std::strerror(-r));
}

void desktop_notifier::drain(int real_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(real_ms);
    while (bus_ && pending_ > 0) {
        service();
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        if (!bus_ || pending_ <= 0 || left.count() <= 0)
            break;
        sd_bus_wait(bus_, static_cast<uint64_t>(left.count()));
    }
    if (bus_ && pending_ > 0)
        note(tr("mon_bus_silent"));
}

// ---- the user's program ----------------------------------------------------------------

void program_sink::send(const event& e)
{
    reap();
    // A program that never ends must not pile up processes.
    constexpr size_t most_running = 16;
    if (running_.size() >= most_running) {
        say(tr("mon_program_busy", program_, e.name));
        return;
    }
    const std::string bay = e.bay ? std::to_string(e.bay) : std::string();
    std::vector<std::string> ours = {"OVRAID_EVENT=" + e.name, "OVRAID_CONTROLLER=" + e.controller_name,
                                     "OVRAID_BAY=" + bay, "OVRAID_SERIAL=" + e.serial,
                                     std::string("OVRAID_LEVEL=") + (e.problem ? "warning" : "info")};
    std::vector<char*> env;
    for (char** v = environ; *v != nullptr; ++v) {
        const std::string_view entry(*v);
        const bool replaced = std::any_of(ours.begin(), ours.end(), [&](const std::string& o) {
            return entry.starts_with(std::string_view(o).substr(0, o.find('=') + 1));
        });
        if (!replaced)
            env.push_back(*v);
    }
    for (std::string& v : ours)
        env.push_back(v.data());
    env.push_back(nullptr);
    std::string name = e.name, controller = e.controller_name, text = e.text;
    char* argv[] = {program_.data(), name.data(), controller.data(), text.data(), nullptr};

    // Standard output stays the monitor's own (JSON lines must parse): the program's goes to
    // standard error.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, program_.c_str(), &actions, nullptr, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        if (!noted_missing_)
            say(tr("mon_program_failed", program_, std::strerror(rc)));
        noted_missing_ = true;
        return;
    }
    running_.push_back(pid);
}

void program_sink::reap()
{
    std::erase_if(running_, [this](pid_t pid) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == 0)
            return false;
        if (r == pid && WIFEXITED(status) && WEXITSTATUS(status) != 0)
            say(tr("mon_program_status", program_, std::to_string(WEXITSTATUS(status))));
        else if (r == pid && WIFSIGNALED(status))
            say(tr("mon_program_signal", program_, std::to_string(WTERMSIG(status))));
        return true;
    });
}

// ---- all of them -----------------------------------------------------------------------

event_sinks::event_sinks(bool json, bool syslog, bool notify, const std::string& program) : json_(json)
{
    if (syslog)
        log_ = std::make_unique<syslog_sink>();
    if (notify)
        desktop_ = std::make_unique<desktop_notifier>();
    if (!program.empty())
        program_ = std::make_unique<program_sink>(program);
}

void event_sinks::deliver(const std::vector<event>& events)
{
    for (const event& e : events) {
        const std::string line = json_ ? event_json(e) : event_text_line(e);
        std::fputs((line + "\n").c_str(), stdout);
        std::fflush(stdout);
        if (log_)
            log_->send(e);
        if (desktop_)
            desktop_->send(e);
        if (program_)
            program_->send(e);
    }
}

void event_sinks::service()
{
    if (desktop_)
        desktop_->service();
    if (program_)
        program_->reap();
}

void event_sinks::finish()
{
    if (desktop_)
        desktop_->drain(2000);
    if (program_)
        program_->reap();
}

}  // namespace ov::cli
