#include "udev_registry_impl.h"

namespace ov {

// ---- set-up ----------------------------------------------------------------------------

udev_registry::udev_registry(std::unique_ptr<impl> d) : d_(std::move(d)) {}

std::unique_ptr<udev_registry> udev_registry::open(std::vector<bridge_match> matches, device_binder* binder,
                                                   std::string& error)
{
    try {
        auto d = std::make_unique<impl>();
        d->matches = std::move(matches);
        d->binder = binder;
        d->u = udev_new();
        if (!d->u) {
            error = "udev_new failed: " + errno_text(errno);
            return nullptr;
        }
        d->monitor = udev_monitor_new_from_netlink(d->u, "udev");
        if (!d->monitor) {
            error = "the udev monitor (netlink source \"udev\") could not be made: " + errno_text(errno);
            return nullptr;
        }
        int rc = udev_monitor_filter_add_match_subsystem_devtype(d->monitor, "usb", "usb_device");
        if (rc >= 0)
            rc = udev_monitor_filter_add_match_subsystem_devtype(d->monitor, "firewire", nullptr);
        if (rc < 0) {
            error = "the udev monitor's filter could not be set: " + errno_text(-rc);
            return nullptr;
        }
        // Receiving starts before the listing, so a device arriving in between is not missed;
        // its "add" then finds it known.
        rc = udev_monitor_enable_receiving(d->monitor);
        if (rc < 0) {
            error = "the udev monitor could not start receiving: " + errno_text(-rc);
            return nullptr;
        }
        d->monitor_fd = udev_monitor_get_fd(d->monitor);
        d->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (d->wake < 0) {
            error = "eventfd for the run loop failed: " + errno_text(errno);
            return nullptr;
        }
        if (!d->sync(error))
            return nullptr;
        return std::unique_ptr<udev_registry>(new udev_registry(std::move(d)));
    } catch (const std::exception& e) {
        error = std::string("setting up the udev registry failed: ") + e.what();
        return nullptr;
    }
}

udev_registry::~udev_registry()
{
    if (!d_->binder)
        return;
    for (const auto& [service, b] : d_->bridges) {
        try {
            d_->binder->detach(service);
        } catch (...) {
        }
    }
}

// ---- queries ---------------------------------------------------------------------------

std::string udev_registry::name(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    const auto it = d_->nodes.find(entry);
    if (it == d_->nodes.end())
        return {};
    // The disk shows some time after the bridge: asked for each time, kept once the bridge left.
    if (it->second.volume_of != 0)
        if (auto block = d_->block_device_locked(it->second.volume_of))
            it->second.name = std::move(*block);
    return it->second.name;
}

registry_entry udev_registry::parent(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    const auto it = d_->nodes.find(entry);
    return it == d_->nodes.end() ? 0 : it->second.parent;
}

registry_entry udev_registry::first_child(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    const auto it = d_->nodes.find(entry);
    return it == d_->nodes.end() ? 0 : it->second.child;
}

registry_value udev_registry::property(registry_entry entry, const std::string& key)
{
    std::lock_guard<std::mutex> lock(d_->m);
    const auto it = d_->nodes.find(entry);
    if (it == d_->nodes.end())
        return {};
    const auto p = it->second.props.find(key);
    return p == it->second.props.end() ? registry_value{} : p->second;
}

// ---- notifications ---------------------------------------------------------------------

bool udev_registry::matching_available(const std::string& service_class)
{
    return service_class == bridge_service_class;
}

uint32_t udev_registry::add_matching_notification(const std::string& service_class, added_handler handler)
{
    if (!matching_available(service_class) || !handler)
        return 0;
    std::lock_guard<std::mutex> lock(d_->m);
    d_->matchers.push_back(std::move(handler));
    const uint32_t it = d_->new_id_locked();
    std::deque<registry_entry> services;
    for (const auto& [service, b] : d_->bridges) {
        const auto p = d_->present.find(b.syspath);
        if (b.announced && p != d_->present.end() && p->second == service)
            services.push_back(service);
    }
    d_->iterators.add(it, std::move(services));
    return it;
}

registry_entry udev_registry::iterator_next(uint32_t iterator)
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->iterators.next(iterator);
}

int udev_registry::add_interest_notification(registry_entry service, interest_handler handler)
{
    std::lock_guard<std::mutex> lock(d_->m);
    const auto b = d_->bridges.find(service);
    if (b == d_->bridges.end() || !handler)
        return registry_no_such_device;
    b->second.interests.push_back(std::move(handler));
    return 0;
}

void udev_registry::release(uint32_t object)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->iterators.release(object);
}

// ---- the run loop ----------------------------------------------------------------------

void udev_registry::run_loop()
{
    const auto guarded = [](const char* what, auto&& work) noexcept {
        try {
            work();
        } catch (const std::exception& e) {
            note("udev: ", what, " threw: ", e.what());
        } catch (...) {
            note("udev: ", what, " threw");
        }
    };
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(d_->m);
            if (d_->stopping) {
                d_->stopping = false;
                return;
            }
        }
        // Events are taken in before each task, so they wait behind at most one.
        guarded("reading a device event", [this] {
            while (d_->take_event()) {
            }
        });
        bool resync;
        {
            std::lock_guard<std::mutex> lock(d_->m);
            resync = std::exchange(d_->resync, false);
        }
        if (resync)
            guarded("reading the devices anew", [this] {
                std::string error;
                if (!d_->sync(error))
                    note("udev: device events were lost and ", error);
            });
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> lock(d_->m);
            if (d_->stopping)
                continue;
            if (!d_->queue.empty()) {
                task = std::move(d_->queue.front());
                d_->queue.pop_front();
            }
        }
        if (task) {
            guarded("a notification handler", task);
            continue;
        }
        pollfd fds[2] = {{d_->monitor_fd, POLLIN, 0}, {d_->wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ENOMEM)
                continue;
            note("udev: the run loop cannot wait for events: ", std::strerror(errno));
            return;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(d_->wake, &count, sizeof count);
        }
    }
}

void udev_registry::stop_run_loop()
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->stopping = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(d_->wake, &one, sizeof one);
}

void udev_registry::post(std::function<void()> task)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->queue_locked(std::move(task));
}

}  // namespace ov
