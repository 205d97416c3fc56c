// The simulated enclosure as a loadable bridge library (libovraid-sim.so). The host's
// registry (the simulation's, in the host process) attaches each bridge by its directory,
// <root>/<bridge>; inside, one enclosure over that root answers the calls. The host's
// handles and the inner enclosure's are different numbers for the same bridge, so each
// call goes host handle -> bridge name -> the inner enclosure's handle of that bridge.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/enclosure.h"

// Everything else in this library stays hidden (it is built with -fvisibility=hidden and
// its static archives with --exclude-libs), so the header's functions are all it exports.
#include "ovraid/bridge.h"

namespace {

using ov::sim::enclosure;

struct simulation {
    std::mutex m;
    std::string root;                      // fixed by the first attach
    std::unique_ptr<enclosure> inner;      // made at the first attach, kept until unload
    std::map<uint32_t, std::string> bridges;  // host handle -> bridge name
};

simulation& sim()
{
    // Destroyed when the library is unloaded, which stops the enclosure's threads.
    static simulation s;
    return s;
}

// Splits a bridge directory into the simulation root and the bridge's name.
bool split(const char* syspath, std::string& root, std::string& bridge)
{
    if (syspath == nullptr)
        return false;
    std::string path = syspath;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == path.size())
        return false;
    root = path.substr(0, slash);
    bridge = path.substr(slash + 1);
    // Only a simulated bridge's directory: this library drives no real device, and says so.
    struct stat st;
    if (::stat((path + "/bridge.conf").c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return true;
    std::fprintf(stderr, "ovraid simulator library: %s is not a simulated bridge (use --sim DIR)\n", path.c_str());
    return false;
}

// The inner enclosure and its handle for the bridge the host calls service; 0 when the
// host never attached it or the inner enclosure has it not (unplugged, restarting).
uint32_t resolve(uint32_t service, enclosure*& inner)
{
    std::string bridge;
    {
        std::lock_guard<std::mutex> lock(sim().m);
        auto it = sim().bridges.find(service);
        if (it == sim().bridges.end() || !sim().inner)
            return 0;
        bridge = it->second;
        inner = sim().inner.get();
    }
    return inner->service_of(bridge);
}

// One device call passed on; nothing thrown crosses into the C caller.
template <typename Call>
int forward(uint32_t service, Call call)
{
    try {
        enclosure* inner = nullptr;
        const uint32_t own = resolve(service, inner);
        return own == 0 ? -1 : call(*inner, own);
    } catch (...) {
        return -1;
    }
}

// The ids the simulator gives its bridges: USB by default, FireWire GUIDs beginning with
// this company id.
const ovraid_bridge_match match_table[] = {
    {OVRAID_BUS_USB, 0x1E91, 0x0A12},
    {OVRAID_BUS_FIREWIRE, 0x800046, 0x0A12},
};

}  // namespace

extern "C" {

uint32_t ovraid_bridge_api_version(void)
{
    return OVRAID_BRIDGE_API_VERSION;
}

const struct ovraid_bridge_match* ovraid_bridge_match_table(uint32_t* count)
{
    if (count != nullptr)
        *count = sizeof match_table / sizeof match_table[0];
    return match_table;
}

int ovraid_bridge_attach(uint32_t service, const char* syspath, const char* devnode)
{
    (void)devnode;  // simulated bridges have no device node
    try {
        std::string root, bridge;
        if (!split(syspath, root, bridge))
            return -1;
        std::lock_guard<std::mutex> lock(sim().m);
        if (!sim().inner) {
            sim().inner = std::make_unique<enclosure>(root);
            sim().root = root;
        } else if (root != sim().root) {
            return -1;  // one simulation per process
        }
        sim().bridges[service] = bridge;
        return 0;
    } catch (...) {
        return -1;
    }
}

void ovraid_bridge_detach(uint32_t service)
{
    std::lock_guard<std::mutex> lock(sim().m);
    sim().bridges.erase(service);
}

int getDeviceList(uint32_t* handles, uint32_t* count)
{
    if (handles == nullptr || count == nullptr)
        return -1;
    try {
        *count = 0;
        std::map<uint32_t, std::string> bridges;
        enclosure* inner = nullptr;
        {
            std::lock_guard<std::mutex> lock(sim().m);
            bridges = sim().bridges;
            inner = sim().inner.get();
        }
        if (inner == nullptr)
            return 0;
        // The inner list first: it brings the inner enclosure up to date with the tree.
        uint32_t own[OVRAID_DEVICE_LIST_CAPACITY];
        uint32_t own_count = 0;
        const int rc = inner->getDeviceList(own, &own_count);
        if (rc != 0)
            return rc;
        own_count = std::min<uint32_t>(own_count, OVRAID_DEVICE_LIST_CAPACITY);
        std::map<uint32_t, uint32_t> host_of;  // inner handle -> host handle
        for (const auto& [service, bridge] : bridges)
            if (const uint32_t s = inner->service_of(bridge); s != 0)
                host_of[s] = service;
        // In the inner list's order (by bridge name), so the host sees a steady order.
        for (uint32_t i = 0; i < own_count && *count < OVRAID_DEVICE_LIST_CAPACITY; ++i)
            if (auto it = host_of.find(own[i]); it != host_of.end())
                handles[(*count)++] = it->second;
        return 0;
    } catch (...) {
        return -1;
    }
}

int openConnection(uint32_t service)
{
    return forward(service, [](enclosure& e, uint32_t s) { return e.openConnection(s); });
}

int closeConnection(uint32_t service)
{
    return forward(service, [](enclosure& e, uint32_t s) { return e.closeConnection(s); });
}

int ovGetRaidInfo(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port, int addressing)
{
    return forward(service, [&](enclosure& e, uint32_t s) {
        return e.ovGetRaidInfo(s, buffer, length, lba, port, addressing);
    });
}

int ovGetRaidInfoFW(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port)
{
    return forward(service, [&](enclosure& e, uint32_t s) { return e.ovGetRaidInfoFW(s, buffer, length, lba, port); });
}

int ovSetRaidInfo(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port, int addressing)
{
    return forward(service, [&](enclosure& e, uint32_t s) {
        return e.ovSetRaidInfo(s, record, length, lba, port, addressing);
    });
}

int ovSetRaidInfoFW(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port)
{
    return forward(service, [&](enclosure& e, uint32_t s) { return e.ovSetRaidInfoFW(s, record, length, lba, port); });
}

int ovFlushHDDCache(uint32_t service, int port)
{
    return forward(service, [&](enclosure& e, uint32_t s) { return e.ovFlushHDDCache(s, port); });
}

int ovGetDiskIdentify(uint32_t service, unsigned char* buffer, int length, int port)
{
    return forward(service, [&](enclosure& e, uint32_t s) { return e.ovGetDiskIdentify(s, buffer, length, port); });
}

int ovGetRegister(uint32_t service, unsigned char* buffer, int length, int count, uint32_t address)
{
    return forward(service,
                   [&](enclosure& e, uint32_t s) { return e.ovGetRegister(s, buffer, length, count, address); });
}

int ovGetRebuildStatus(uint32_t service, unsigned char* buffer, int length)
{
    return forward(service, [&](enclosure& e, uint32_t s) { return e.ovGetRebuildStatus(s, buffer, length); });
}

int ovWarmBoot(uint32_t service)
{
    return forward(service, [](enclosure& e, uint32_t s) { return e.ovWarmBoot(s); });
}

}  // extern "C"
