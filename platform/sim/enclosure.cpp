// The library calls of the simulated bridges. The device registry lives in registry.cpp,
// the inotify watcher in watcher.cpp; the firmware (assembly, rebuild copy, warm boot)
// runs in its own service (service.cpp), which every process on the simulation shares.
#include "enclosure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "diag.h"
#include "enclosure_impl.h"
#include "firmware_state.h"
#include "service.h"
#include "identify.h"
#include "posix_io.h"

namespace ov::sim {

namespace {

int register_port(uint32_t address)
{
    if (address == reg_port0_presence)
        return 0;
    if (address == reg_port1_presence)
        return 1;
    return -1;
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
        diag(diag_level::warning, "ovraid simulator: " + message);
}

enclosure::enclosure(std::string root) : d_(std::make_unique<impl>(std::move(root)))
{
    // Bridges plugged in before we start are attached at once (powered up first where
    // needed), so the first matching registration finds them.
    d_->sync();
}

enclosure::~enclosure()
{
    d_->shutdown();
}

void enclosure::impl::shutdown()
{
    closing = true;
    stop_watching_thread();
    return_waiters.stop_all();
    {
        std::lock_guard<std::mutex> lock(qm);
        stop_loop = true;
    }
    qcv.notify_all();
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

void enclosure::set_binder(device_binder* binder)
{
    std::lock_guard<std::mutex> serial(d_->sync_m);
    std::vector<std::pair<uint32_t, std::string>> known;
    {
        std::lock_guard<std::mutex> lock(d_->m);
        d_->binder = binder;
        for (const auto& [service, a] : d_->attached)
            known.emplace_back(service, d_->st.bridge_dir(a.bridge));
    }
    // Bridges attached before the library was there are told now.
    if (binder != nullptr)
        for (const auto& [service, dir] : known)
            binder->attach(service, dir, std::string());
}

uint32_t enclosure::service_of(const std::string& bridge)
{
    std::lock_guard<std::mutex> lock(d_->m);
    auto it = d_->bridges.find(bridge);
    return it == d_->bridges.end() ? 0 : it->second.service;
}

bool enclosure::rebuild_running(const std::string& bridge)
{
    rebuild_progress p;
    std::string error;
    return read_progress(d_->st.root(), bridge, p, error) && p.state == rebuild_progress::kind::running;
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
    return mode.empty() || act_on_failure(cfg, mode, call, port, mismatch);
}

bool enclosure::act_on_failure(const bridge_desc& cfg, const std::string& mode, const char* call, int port,
                               bool& mismatch)
{
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

// The image in a port, open, with what bounds a command on it.
struct enclosure::port_disk {
    io::unique_fd fd;
    uint64_t sectors = 0;
    bool lba48 = false;
};

bool enclosure::open_disk(const bridge_desc& cfg, int port, bool write, port_disk& out)
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
    out.lba48 = identify_supports_lba48(id.data());
    out.sectors = disk.sectors;
    const std::string image = dir + "/" + image_file;
    out.fd = io::open_fd(image, write ? O_RDWR : O_RDONLY);
    if (!out.fd) {
        d_->note(io::errno_text(image, errno), true);
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
    port_disk disk;
    if (!open_disk(cfg, port, write, disk))
        return call_failed;
    std::string refused;
    if (addressing == 1 && !disk.lba48)
        refused = "the disk does not support 48-bit commands";
    else if (addressing == 0 && lba >= (1ULL << 28))
        refused = "LBA " + std::to_string(lba) + " is beyond a 28-bit command";
    else if (lba >= disk.sectors)
        refused = "LBA " + std::to_string(lba) + " is beyond the disk's " + std::to_string(disk.sectors) + " sectors";
    if (!refused.empty()) {
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
        ok = io::pwrite_all(disk.fd.get(), sector, 512, offset);
    } else {
        ok = io::pread_all(disk.fd.get(), sector, 512, offset);
        if (ok) {
            if (mismatch)
                sector[mismatch_offset] ^= 0xFF;
            std::memcpy(buffer, sector, 512);
        }
    }
    if (!ok)
        d_->note(io::errno_text(d_->st.port_dir(cfg.name, port) + "/" + image_file, errno), true);
    return ok ? 0 : call_failed;
}

int enclosure::getDeviceList(uint32_t* handles, uint32_t* count)
{
    if (handles == nullptr || count == nullptr) {
        d_->note("getDeviceList: bad arguments");
        return call_failed;
    }
    // An unreadable root is a failed list, never an empty one.
    if (!d_->sync())
        return call_failed;
    std::vector<std::pair<std::string, uint32_t>> list;
    {
        std::lock_guard<std::mutex> lock(d_->m);
        for (const auto& [service, a] : d_->attached)
            list.emplace_back(a.bridge, service);
    }
    std::sort(list.begin(), list.end());
    std::vector<std::string> unlisted;
    for (auto it = list.begin(); it != list.end();) {
        std::string error;
        const std::string mode = d_->st.take_failure(it->first, "getDeviceList", -1, error);
        if (!error.empty()) {
            // One bridge's broken failures file hides that bridge only.
            d_->note(error, true);
            it = list.erase(it);
            unlisted.push_back(error);
            continue;
        }
        bridge_desc cfg;
        cfg.name = it->first;
        bool mismatch = false;
        if (!mode.empty() && (!act_on_failure(cfg, mode, "getDeviceList", -1, mismatch) || mismatch))
            return call_failed;
        ++it;
    }
    {
        std::lock_guard<std::mutex> lock(d_->m);
        d_->unlisted_bridges = std::move(unlisted);
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
    port_disk disk;
    if (!open_disk(cfg, port, true, disk))
        return call_failed;
    const bool ok = ::fdatasync(disk.fd.get()) == 0;
    if (!ok)
        d_->note(io::errno_text(d_->st.port_dir(cfg.name, port) + "/" + image_file, errno), true);
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
    // Served as it is, but said once: the host will only report a disk that does not answer.
    if (const std::string idbin = dir + "/" + identify_file; io::path_exists(idbin))
        if (const std::string doubts = identify_doubts(id, disk.sectors); !doubts.empty())
            d_->note(idbin + ": " + doubts, true);
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
        // The register says whether a drive is attached, not whether it answers: an image
        // that cannot be opened (a dangling link, a loop) is a drive that does not answer.
        struct stat st;
        const std::string dir = d_->st.port_dir(cfg.name, port);
        buffer[0] = ::lstat((dir + "/" + image_file).c_str(), &st) == 0 || bay_not_a_directory(dir) ? 1 : 0;
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
    rebuild_progress p;
    std::string error;
    if (!read_progress(d_->st.root(), cfg.name, p, error)) {
        d_->note(error, true);
        return call_failed;
    }
    // A copy whose service died is resumed by a new one (the poll asks every few seconds).
    if (p.state == rebuild_progress::kind::running && !firmware_running(d_->st.root()) &&
        !firmware_request(d_->st.root(), "power-up", cfg.name, error))
        d_->note("bridge '" + cfg.name + "': " + error, true);
    const rebuild_status status = rebuild_status::encode(p.total, p.current);
    std::memcpy(buffer, status.data(), sizeof status);
    return 0;
}

int enclosure::ovWarmBoot(uint32_t service)
{
    bridge_desc cfg;
    bool mismatch = false;
    if (!resolve(service, cfg) || !judge(cfg, "ovWarmBoot", -1, mismatch) || mismatch)
        return call_failed;
    std::string error;
    if (!firmware_request(d_->st.root(), "warm-boot", cfg.name, error)) {
        d_->note("bridge '" + cfg.name + "': " + error, true);
        return call_failed;
    }
    d_->warm_booted(service);
    return 0;
}

}  // namespace ov::sim
