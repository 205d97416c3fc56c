// The library calls and the registry of the simulated bridges. Firmware behaviour
// (assembly, rebuild copy, warm boot) lives in firmware.cpp, the inotify watcher in
// watcher.cpp.
#include "enclosure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "enclosure_impl.h"
#include "identify.h"

namespace ov::sim {

namespace {

const char* const usb_chain[] = {"USBHostController", "IOUSBHostDevice", "USBInterface", "MassStorageDriver",
                                 "SCSIPeripheralNub"};
// No intermediate name holds "FireWire": only the bus entry four levels up may.
const char* const firewire_chain[] = {"OHCI1394Controller", "IOFireWireDevice", "IEEE1394Unit", "SBP2Target",
                                      "SBP2LUN"};

std::string errno_text(const std::string& what, int err)
{
    return what + ": " + std::strerror(err);
}

bool missing(const bridge_desc& cfg, const char* property)
{
    return std::find(cfg.missing_properties.begin(), cfg.missing_properties.end(), property) !=
           cfg.missing_properties.end();
}

int register_port(uint32_t address)
{
    if (address == reg_port0_presence)
        return 0;
    if (address == reg_port1_presence)
        return 1;
    return -1;
}

bool full_io(int fd, unsigned char* buf, size_t n, off_t off, bool write)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t r = write ? ::pwrite(fd, buf + done, n - done, off + static_cast<off_t>(done))
                                : ::pread(fd, buf + done, n - done, off + static_cast<off_t>(done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            if (r == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(r);
    }
    return true;
}

}  // namespace

enclosure::impl::impl(std::string root) : st(std::move(root)) {}

void enclosure::impl::note(const std::string& message, bool print)
{
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(m);
        last_error = message;
        if (print)
            first = printed.insert(message).second;
    }
    if (first)
        std::fprintf(stderr, "ovraid simulator: %s\n", message.c_str());
}

registry_entry enclosure::impl::add_node(const std::string& name, registry_entry parent)
{
    const registry_entry id = new_id();
    node n;
    n.name = name;
    n.parent = parent;
    nodes[id] = n;
    if (parent != 0)
        nodes[parent].child = id;
    return id;
}

uint32_t enclosure::impl::attach_locked(const bridge_desc& cfg)
{
    const char* const* chain = cfg.firewire ? firewire_chain : usb_chain;
    attachment a;
    a.bridge = cfg.name;
    a.cfg = cfg;
    // host controller -> bus device -> three nubs -> service -> three children
    registry_entry parent = 0;
    registry_entry bus = 0;
    for (int i = 0; i < 5; ++i) {
        parent = add_node(chain[i], parent);
        a.entries.push_back(parent);
        if (i == 1)
            bus = parent;
    }
    const uint32_t service = add_node(bridge_service_class, parent);
    a.entries.push_back(service);
    registry_entry child = add_node("BlockStorageServices", service);
    a.entries.push_back(child);
    child = add_node("BlockStorageDriver", child);
    a.entries.push_back(child);
    a.entries.push_back(add_node(cfg.device_name, child));

    auto& props = nodes[bus].props;
    if (cfg.firewire) {
        if (!missing(cfg, "GUID"))
            props["GUID"] = registry_value::make_number(static_cast<int64_t>(cfg.guid));
    } else {
        if (!missing(cfg, "idVendor"))
            props["idVendor"] = registry_value::make_number(cfg.vendor_id);
        if (!missing(cfg, "idProduct"))
            props["idProduct"] = registry_value::make_number(cfg.product_id);
        if (!missing(cfg, "locationID"))
            props["locationID"] = registry_value::make_number(cfg.location_id);
        if (!missing(cfg, "USB Serial Number"))
            props["USB Serial Number"] = registry_value::make_text(cfg.usb_serial);
    }
    attached[service] = std::move(a);
    bridges[cfg.name].service = service;
    return service;
}

std::unique_ptr<copy_job> enclosure::impl::detach_locked(uint32_t service)
{
    auto it = attached.find(service);
    if (it == attached.end())
        return nullptr;
    for (registry_entry e : it->second.entries)
        nodes.erase(e);
    for (auto& h : it->second.interests)
        queue_task([h, service] { h(service, msg_service_terminated, nullptr); });
    bridge_state& b = bridges[it->second.bridge];
    b.service = 0;
    attached.erase(it);
    // The bridge lost power: its copy ends where it is.
    return std::move(b.job);
}

void enclosure::impl::queue_task(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(qm);
        queue.push_back(std::move(task));
    }
    qcv.notify_one();
}

void enclosure::impl::queue_first_match_locked(const std::vector<uint32_t>& services)
{
    if (services.empty())
        return;
    for (const auto& h : matchers) {
        const uint32_t it = new_id();
        iterators[it] = std::deque<registry_entry>(services.begin(), services.end());
        queue_task([h, it] { h(it); });
    }
}

void enclosure::impl::sync()
{
    std::lock_guard<std::mutex> serial(sync_m);
    std::map<std::string, bridge_desc> plugged;
    std::set<std::string> unreadable;
    for (const auto& name : st.bridges()) {
        bridge_desc cfg;
        std::string error;
        if (!st.read_bridge(name, cfg, error)) {
            // A broken identity file changes nothing: an attached bridge stays.
            unreadable.insert(name);
            note(error, true);
        } else if (cfg.plugged) {
            plugged[name] = cfg;
        }
    }
    std::vector<std::unique_ptr<copy_job>> gone;
    std::vector<bridge_desc> arriving;
    {
        std::lock_guard<std::mutex> lock(m);
        std::vector<uint32_t> leaving;
        for (const auto& [service, a] : attached)
            if (plugged.count(a.bridge) == 0 && unreadable.count(a.bridge) == 0)
                leaving.push_back(service);
        for (uint32_t s : leaving)
            gone.push_back(detach_locked(s));
        for (const auto& [name, cfg] : plugged) {
            const bridge_state& b = bridges[name];
            if (b.service == 0 && !b.rebooting)
                arriving.push_back(cfg);
        }
    }
    for (auto& job : gone)
        if (job) {
            job->stop = true;
            job->thread.join();
        }
    if (arriving.empty())
        return;
    std::vector<rebuild_plan> plans;
    for (const auto& cfg : arriving) {
        retire_job(cfg.name);
        plans.push_back(assemble(cfg));
    }
    std::lock_guard<std::mutex> lock(m);
    std::vector<uint32_t> services;
    for (size_t i = 0; i < arriving.size(); ++i) {
        services.push_back(attach_locked(arriving[i]));
        start_rebuild_locked(arriving[i].name, plans[i]);
    }
    queue_first_match_locked(services);
}

enclosure::enclosure(std::string root) : d_(std::make_unique<impl>(std::move(root)))
{
    // Bridges plugged in before we start are attached (and assembled) at once, so the
    // first matching registration finds them.
    d_->sync();
}

enclosure::~enclosure()
{
    d_->shutdown();
}

void enclosure::sync()
{
    d_->sync();
}

std::string enclosure::last_error()
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->last_error;
}

uint32_t enclosure::service_of(const std::string& bridge)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->bridges.find(bridge);
    return it == d_->bridges.end() ? 0 : it->second.service;
}

bool enclosure::rebuild_running(const std::string& bridge)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->bridges.find(bridge);
    return it != d_->bridges.end() && it->second.job && it->second.job->running;
}

// ---- library calls --------------------------------------------------------------

// Resolves a service handle to its bridge and makes sure the bridge is still plugged
// in on disk (an unplug is seen at once, even without the watcher).
bool enclosure::resolve(uint32_t service, bridge_desc& cfg)
{
    std::string bridge;
    {
        std::lock_guard<std::mutex> lock(d_->m);
        auto it = d_->attached.find(service);
        if (it != d_->attached.end())
            bridge = it->second.bridge;
    }
    if (bridge.empty()) {
        d_->note("no attached bridge has service handle " + std::to_string(service));
        return false;
    }
    std::string error;
    if (!d_->st.read_bridge(bridge, cfg, error)) {
        struct stat st;
        const bool removed = ::stat((d_->st.bridge_dir(bridge) + "/" + bridge_conf_file).c_str(), &st) != 0;
        d_->note(removed ? "bridge '" + bridge + "' was removed" : error, !removed);
        if (removed)
            d_->sync();
        return false;
    }
    if (!cfg.plugged) {
        d_->note("bridge '" + bridge + "' is unplugged");
        d_->sync();
        return false;
    }
    return true;
}

// Lets the failures file judge the call. True: go on (mismatch set when the data is to
// be changed); false: the call fails.
bool enclosure::judge(const bridge_desc& cfg, const char* call, int port, bool& mismatch)
{
    mismatch = false;
    std::string error;
    const std::string mode = d_->st.take_failure(cfg.name, call, port, error);
    if (!error.empty()) {
        d_->note(error, true);
        return false;
    }
    if (mode.empty())
        return true;
    const std::string what = "injected failure (" + mode + ") of " + call + " on bridge '" + cfg.name + "'" +
                             (port >= 0 ? " port " + std::to_string(port) : "");
    if (mode == "mismatch") {
        mismatch = true;
        d_->note(what);
        return true;
    }
    if (mode == "vanish") {
        std::string e;
        if (!d_->st.set_plugged(cfg.name, false, e))
            d_->note(e, true);
        d_->sync();
    }
    d_->note(what);
    return false;
}

bool enclosure::open_disk(const bridge_desc& cfg, int port, bool write, int& fd, uint64_t& sectors,
                          bool& lba48)
{
    const std::string dir = d_->st.port_dir(cfg.name, port);
    disk_desc disk;
    std::string name, error;
    if (!d_->st.read_disk(dir, disk, name, error)) {
        if (error.empty())
            d_->note("port " + std::to_string(port) + " of bridge '" + cfg.name + "' holds no disk");
        else
            d_->note(error, true);
        return false;
    }
    std::array<unsigned char, 512> id;
    if (!d_->st.read_identify(dir, id, error)) {
        d_->note(error, true);
        return false;
    }
    lba48 = identify_supports_lba48(id.data());
    sectors = disk.sectors;
    const std::string image = dir + "/" + image_file;
    fd = ::open(image.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        d_->note(errno_text(image, errno), true);
        return false;
    }
    return true;
}

int enclosure::sector_call(const char* call, uint32_t service, unsigned char* buffer, int length, uint64_t lba,
                           int port, int addressing, bool fw, bool write)
{
    bridge_desc cfg;
    if (buffer == nullptr || length < 512 || (port != 0 && port != 1) || (addressing != 0 && addressing != 1)) {
        d_->note(std::string(call) + ": bad arguments (buffer, length " + std::to_string(length) + ", port " +
                 std::to_string(port) + ", addressing " + std::to_string(addressing) + ")");
        return call_failed;
    }
    if (!resolve(service, cfg))
        return call_failed;
    if (fw && !cfg.firewire) {
        d_->note(std::string(call) + ": bridge '" + cfg.name + "' is not a FireWire bridge");
        return call_failed;
    }
    bool mismatch = false;
    if (!judge(cfg, call, port, mismatch))
        return call_failed;
    int fd = -1;
    uint64_t sectors = 0;
    bool lba48 = false;
    if (!open_disk(cfg, port, write, fd, sectors, lba48))
        return call_failed;
    std::string refused;
    if (addressing == 1 && !lba48)
        refused = "the disk does not support 48-bit commands";
    else if (addressing == 0 && lba >= (1ULL << 28))
        refused = "LBA " + std::to_string(lba) + " is beyond a 28-bit command";
    else if (lba >= sectors)
        refused = "LBA " + std::to_string(lba) + " is beyond the disk's " + std::to_string(sectors) + " sectors";
    if (!refused.empty()) {
        ::close(fd);
        d_->note(std::string(call) + " on bridge '" + cfg.name + "' port " + std::to_string(port) + ": " + refused);
        return call_failed;
    }
    unsigned char sector[512];
    const off_t offset = static_cast<off_t>(lba * 512);
    bool ok;
    if (write) {
        std::memcpy(sector, buffer, 512);
        if (mismatch)
            sector[mismatch_offset] ^= 0xFF;
        ok = full_io(fd, sector, 512, offset, true);
    } else {
        ok = full_io(fd, sector, 512, offset, false);
        if (ok) {
            if (mismatch)
                sector[mismatch_offset] ^= 0xFF;
            std::memcpy(buffer, sector, 512);
        }
    }
    if (!ok)
        d_->note(errno_text(d_->st.port_dir(cfg.name, port) + "/" + image_file, errno), true);
    ::close(fd);
    return ok ? 0 : call_failed;
}

int enclosure::getDeviceList(uint32_t* handles, uint32_t* count)
{
    if (handles == nullptr || count == nullptr) {
        d_->note("getDeviceList: bad arguments");
        return call_failed;
    }
    sync();
    std::vector<std::pair<std::string, uint32_t>> list;
    {
        std::lock_guard<std::mutex> lock(d_->m);
        for (const auto& [service, a] : d_->attached)
            list.emplace_back(a.bridge, service);
    }
    std::sort(list.begin(), list.end());
    for (const auto& [bridge, service] : list) {
        bridge_desc cfg;
        cfg.name = bridge;
        bool mismatch = false;
        if (!judge(cfg, "getDeviceList", -1, mismatch) || mismatch)
            return call_failed;
    }
    uint32_t n = 0;
    for (const auto& entry : list) {
        if (n == static_cast<uint32_t>(device_list_capacity))
            break;
        handles[n++] = entry.second;
    }
    *count = n;
    return 0;
}

int enclosure::openConnection(uint32_t service)
{
    bridge_desc cfg;
    bool mismatch = false;
    return resolve(service, cfg) && judge(cfg, "openConnection", -1, mismatch) && !mismatch ? 0 : call_failed;
}

int enclosure::closeConnection(uint32_t service)
{
    bridge_desc cfg;
    bool mismatch = false;
    return resolve(service, cfg) && judge(cfg, "closeConnection", -1, mismatch) && !mismatch ? 0 : call_failed;
}

int enclosure::ovGetRaidInfo(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port,
                             int addressing)
{
    return sector_call("ovGetRaidInfo", service, buffer, length, lba, port, addressing, false, false);
}

int enclosure::ovGetRaidInfoFW(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port)
{
    return sector_call("ovGetRaidInfoFW", service, buffer, length, lba, port, 1, true, false);
}

int enclosure::ovSetRaidInfo(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port,
                             int addressing)
{
    return sector_call("ovSetRaidInfo", service, const_cast<unsigned char*>(record), length, lba, port, addressing,
                       false, true);
}

int enclosure::ovSetRaidInfoFW(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port)
{
    return sector_call("ovSetRaidInfoFW", service, const_cast<unsigned char*>(record), length, lba, port, 1, true,
                       true);
}

int enclosure::ovFlushHDDCache(uint32_t service, int port)
{
    bridge_desc cfg;
    bool mismatch = false;
    if (port != 0 && port != 1) {
        d_->note("ovFlushHDDCache: no port " + std::to_string(port));
        return call_failed;
    }
    if (!resolve(service, cfg) || !judge(cfg, "ovFlushHDDCache", port, mismatch) || mismatch)
        return call_failed;
    int fd = -1;
    uint64_t sectors = 0;
    bool lba48 = false;
    if (!open_disk(cfg, port, true, fd, sectors, lba48))
        return call_failed;
    const bool ok = ::fdatasync(fd) == 0;
    if (!ok)
        d_->note(errno_text(d_->st.port_dir(cfg.name, port) + "/" + image_file, errno), true);
    ::close(fd);
    return ok ? 0 : call_failed;
}

int enclosure::ovGetDiskIdentify(uint32_t service, unsigned char* buffer, int length, int port)
{
    bridge_desc cfg;
    bool mismatch = false;
    if (buffer == nullptr || length < static_cast<int>(identify_size) || (port != 0 && port != 1)) {
        d_->note("ovGetDiskIdentify: bad arguments (length " + std::to_string(length) + ", port " +
                 std::to_string(port) + ")");
        return call_failed;
    }
    if (!resolve(service, cfg) || !judge(cfg, "ovGetDiskIdentify", port, mismatch))
        return call_failed;
    const std::string dir = d_->st.port_dir(cfg.name, port);
    std::array<unsigned char, 512> id;
    disk_desc disk;
    std::string name, error;
    if (!d_->st.read_disk(dir, disk, name, error) && error.empty()) {
        d_->note("port " + std::to_string(port) + " of bridge '" + cfg.name + "' holds no disk");
        return call_failed;
    }
    if (!d_->st.read_identify(dir, id, error)) {
        d_->note(error, true);
        return call_failed;
    }
    if (mismatch)
        id[mismatch_offset] ^= 0xFF;
    std::memcpy(buffer, id.data(), id.size());
    return 0;
}

int enclosure::ovGetRegister(uint32_t service, unsigned char* buffer, int length, int count, uint32_t address)
{
    bridge_desc cfg;
    bool mismatch = false;
    if (buffer == nullptr || count < 1 || length < count) {
        d_->note("ovGetRegister: bad arguments (length " + std::to_string(length) + ", count " +
                 std::to_string(count) + ")");
        return call_failed;
    }
    const int port = register_port(address);
    if (!resolve(service, cfg) || !judge(cfg, "ovGetRegister", port, mismatch) || mismatch)
        return call_failed;
    std::memset(buffer, 0, static_cast<size_t>(count));
    if (port >= 0) {
        // The register says whether a drive is attached, not whether it answers.
        struct stat st;
        const std::string image = d_->st.port_dir(cfg.name, port) + "/" + image_file;
        buffer[0] = ::stat(image.c_str(), &st) == 0 ? 1 : 0;
    }
    return 0;
}

int enclosure::ovGetRebuildStatus(uint32_t service, unsigned char* buffer, int length)
{
    bridge_desc cfg;
    bool mismatch = false;
    if (buffer == nullptr || length < 12) {
        d_->note("ovGetRebuildStatus: bad arguments (length " + std::to_string(length) + ")");
        return call_failed;
    }
    if (!resolve(service, cfg) || !judge(cfg, "ovGetRebuildStatus", -1, mismatch) || mismatch)
        return call_failed;
    uint64_t total = 0, current = 0;
    {
        std::lock_guard<std::mutex> lock(d_->m);
        const auto& b = d_->bridges[cfg.name];
        total = b.total;
        current = b.current;
    }
    const rebuild_status status = rebuild_status::encode(total, current);
    std::memcpy(buffer, status.data(), sizeof status);
    return 0;
}

int enclosure::ovWarmBoot(uint32_t service)
{
    bridge_desc cfg;
    bool mismatch = false;
    if (!resolve(service, cfg) || !judge(cfg, "ovWarmBoot", -1, mismatch) || mismatch)
        return call_failed;
    d_->warm_boot(service, cfg.name);
    return 0;
}

// ---- registry -------------------------------------------------------------------

std::string enclosure::name(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->nodes.find(entry);
    return it == d_->nodes.end() ? std::string() : it->second.name;
}

registry_entry enclosure::parent(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->nodes.find(entry);
    return it == d_->nodes.end() ? 0 : it->second.parent;
}

registry_entry enclosure::first_child(registry_entry entry)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->nodes.find(entry);
    return it == d_->nodes.end() ? 0 : it->second.child;
}

registry_value enclosure::property(registry_entry entry, const std::string& key)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->nodes.find(entry);
    if (it == d_->nodes.end())
        return {};
    auto p = it->second.props.find(key);
    return p == it->second.props.end() ? registry_value{} : p->second;
}

bool enclosure::matching_available(const std::string& service_class)
{
    return service_class == bridge_service_class;
}

uint32_t enclosure::add_matching_notification(const std::string& service_class, added_handler handler)
{
    if (!matching_available(service_class) || !handler)
        return 0;
    d_->sync();
    std::lock_guard<std::mutex> lock(d_->m);
    d_->matchers.push_back(std::move(handler));
    const uint32_t it = d_->new_id();
    auto& services = d_->iterators[it];
    for (const auto& entry : d_->attached)
        services.push_back(entry.first);
    return it;
}

registry_entry enclosure::iterator_next(uint32_t iterator)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->iterators.find(iterator);
    if (it == d_->iterators.end())
        return 0;
    if (it->second.empty()) {
        d_->iterators.erase(it);
        return 0;
    }
    const registry_entry next = it->second.front();
    it->second.pop_front();
    return next;
}

int enclosure::add_interest_notification(registry_entry service, interest_handler handler)
{
    constexpr int no_such_device = static_cast<int>(0xE00002C0);
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->attached.find(service);
    if (it == d_->attached.end() || !handler)
        return no_such_device;
    it->second.interests.push_back(std::move(handler));
    return 0;
}

void enclosure::release(uint32_t object)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->iterators.erase(object);
}

void enclosure::run_loop()
{
    std::unique_lock<std::mutex> lock(d_->qm);
    for (;;) {
        d_->qcv.wait(lock, [this] { return d_->stop_loop || !d_->queue.empty(); });
        if (d_->stop_loop) {
            d_->stop_loop = false;
            return;
        }
        std::function<void()> task = std::move(d_->queue.front());
        d_->queue.pop_front();
        lock.unlock();
        try {
            if (task)
                task();
        } catch (const std::exception& e) {
            d_->note(std::string("a notification handler threw: ") + e.what(), true);
        } catch (...) {
            d_->note("a notification handler threw", true);
        }
        lock.lock();
    }
}

void enclosure::stop_run_loop()
{
    {
        std::lock_guard<std::mutex> lock(d_->qm);
        d_->stop_loop = true;
    }
    d_->qcv.notify_all();
}

void enclosure::post(std::function<void()> task)
{
    d_->queue_task(std::move(task));
}

}  // namespace ov::sim
