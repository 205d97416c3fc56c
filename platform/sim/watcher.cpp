// Watches the simulation root with inotify, so that a bridge plugged, unplugged, added
// or removed by another process (ovraid-sim) becomes a registry event here. Disk changes
// inside a port are not watched: as on the hardware they show only in the presence
// registers.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "clock.h"
#include "enclosure_impl.h"
#include "firmware_state.h"

namespace ov::sim {

namespace {

constexpr uint32_t root_events =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t bridge_events =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_ONLYDIR;

}  // namespace

bool enclosure::start_watching()
{
    return d_->start_watching_thread();
}

void enclosure::stop_watching()
{
    d_->stop_watching_thread();
}

bool enclosure::impl::add_watches(std::map<int, watched>& wds)
{
    const int root_wd = ::inotify_add_watch(inotify_fd.get(), st.root().c_str(), root_events);
    if (root_wd < 0) {
        note(st.root() + ": cannot watch: " + std::strerror(errno), true);
        return false;
    }
    wds[root_wd] = watched::root;
    // The firmware's power states: a restart, or a power-up another process asked for. Not
    // made here when missing (made behind a removal of the root, it would keep the root): its
    // coming shows in the root's watch.
    const std::string fw = firmware_dir(st.root());
    const int fw_wd = ::inotify_add_watch(inotify_fd.get(), fw.c_str(), IN_MOVED_TO | IN_DELETE | IN_ONLYDIR);
    if (fw_wd >= 0)
        wds[fw_wd] = watched::firmware;
    // Every directory that may be a bridge, also one still being made: its identity file
    // comes last and may land before or after this watch.
    std::error_code ec, gone;
    for (std::filesystem::directory_iterator it(st.root(), ec), end; !ec && it != end; it.increment(ec)) {
        if (!store::valid_name(it->path().filename().string()) || !it->is_directory(gone))
            continue;
        const int wd = ::inotify_add_watch(inotify_fd.get(), it->path().c_str(), bridge_events);
        if (wd >= 0)
            wds[wd] = watched::bridge;
    }
    return true;
}

bool enclosure::impl::start_watching_thread()
{
    std::lock_guard<std::mutex> lock(watch_m);
    if (watcher.joinable())
        return true;
    if (!st.exists()) {
        note(st.root() + ": the simulation root does not exist; nothing to watch", true);
        return false;
    }
    inotify_fd.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    int wake[2];
    if (!inotify_fd || ::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        note(std::string("inotify: ") + std::strerror(errno), true);
        stop_watching_thread_locked();
        return false;
    }
    wake_read.reset(wake[0]);
    wake_write.reset(wake[1]);
    if (!add_watches(watches)) {
        stop_watching_thread_locked();
        return false;
    }
    try {
        watcher = std::thread(&impl::watch_loop, this);
    } catch (const std::system_error& e) {
        note(std::string("cannot start the watcher: ") + e.what(), true);
        stop_watching_thread_locked();
        return false;
    }
    return true;
}

void enclosure::impl::stop_watching_thread()
{
    std::lock_guard<std::mutex> lock(watch_m);
    stop_watching_thread_locked();
}

void enclosure::impl::stop_watching_thread_locked()
{
    if (watcher.joinable()) {
        const char wake = 'x';
        io::write_all(wake_write.get(), &wake, 1);
        watcher.join();
    }
    inotify_fd.reset();
    wake_read.reset();
    wake_write.reset();
    watches.clear();
}

// Reads every pending event; true when one of them can change which bridges exist.
bool enclosure::impl::drain_events()
{
    alignas(inotify_event) char buf[8192];
    bool relevant = false;
    for (;;) {
        const ssize_t n = ::read(inotify_fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return relevant;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            const std::string name = ev->len > 0 ? std::string(ev->name) : std::string();
            if (ev->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                relevant = true;
                if (ev->mask & IN_IGNORED)
                    watches.erase(ev->wd);
                continue;
            }
            auto it = watches.find(ev->wd);
            const watched where = it == watches.end() ? watched::bridge : it->second;
            // Hidden names are the store's temporary files and half-made disks; the firmware's
            // progress changes nothing about which bridges exist.
            if (where == watched::root ? (!name.empty() && (name[0] != '.' || name == firmware_dir_name))
                : where == watched::firmware
                    ? name.size() > std::strlen(power_suffix) &&
                          name.compare(name.size() - std::strlen(power_suffix), std::string::npos, power_suffix) == 0
                    : name == bridge_conf_file)
                relevant = true;
        }
    }
}

void enclosure::impl::watch_loop()
{
    for (;;) {
        pollfd fds[2] = {{inotify_fd.get(), POLLIN, 0}, {wake_read.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            note(std::string("watcher: poll: ") + std::strerror(errno), true);
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (!drain_events())
            continue;
        // Let a burst of changes (a tool writing several files) settle first.
        pause_ms(watch_debounce_ms);
        drain_events();
        pollfd wake = {wake_read.get(), POLLIN, 0};
        if (::poll(&wake, 1, 0) > 0)
            return;
        add_watches(watches);
        sync();
    }
}

}  // namespace ov::sim
