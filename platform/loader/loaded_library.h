// A bridge library loaded at run time from a shared object that implements
// include/ovraid/bridge.h. Opening checks the file before the dynamic loader sees it (a
// library for another machine gives a clear word instead of a bare loader error), then
// every function, the version and the match table; each refusal names the file.
//
// Threads: the engine makes the nine device calls one at a time; getDeviceList,
// openConnection and closeConnection may come from other threads, and attach and detach
// from the registry's thread at any time. This adapter keeps attach, detach and
// getDeviceList from overlapping each other; the library guards the rest itself.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "binding.h"
#include "library.h"

namespace ov {

class loaded_library : public bridge_library, public device_binder {
public:
    // The library at path, checked and loaded; null with error set (starting with path).
    static std::unique_ptr<loaded_library> open(const std::string& path, std::string& error);
    ~loaded_library() override;
    loaded_library(const loaded_library&) = delete;
    loaded_library& operator=(const loaded_library&) = delete;

    // The devices it drives, as checked at open.
    std::vector<bridge_match> match_table() const { return table_; }
    const std::string& path() const { return path_; }

    // device_binder
    int attach(uint32_t service, const std::string& syspath, const std::string& devnode) override;
    void detach(uint32_t service) override;

    // bridge_library: forwarded. Arguments no library could answer safely (a null or
    // short buffer, a port other than 0 or 1) fail here without reaching it.
    int getDeviceList(uint32_t* handles, uint32_t* count) override;
    int openConnection(uint32_t service) override;
    int closeConnection(uint32_t service) override;
    int ovGetRaidInfo(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port,
                      int addressing) override;
    int ovGetRaidInfoFW(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port) override;
    int ovSetRaidInfo(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port,
                      int addressing) override;
    int ovSetRaidInfoFW(uint32_t service, const unsigned char* record, int length, uint64_t lba,
                        int port) override;
    int ovFlushHDDCache(uint32_t service, int port) override;
    int ovGetDiskIdentify(uint32_t service, unsigned char* buffer, int length, int port) override;
    int ovGetRegister(uint32_t service, unsigned char* buffer, int length, int count, uint32_t address) override;
    int ovGetRebuildStatus(uint32_t service, unsigned char* buffer, int length) override;
    int ovWarmBoot(uint32_t service) override;

    struct functions;

private:
    loaded_library(std::string path, void* handle);
    // Logs why a call stops here; the failure result.
    int refuse(const char* call, const std::string& why) const;

    std::string path_;
    void* handle_ = nullptr;
    std::unique_ptr<functions> fn_;
    std::vector<bridge_match> table_;
    std::mutex binding_m_;  // attach, detach, getDeviceList
    std::set<uint32_t> attached_;  // the handles the library took; guarded by binding_m_
};

}  // namespace ov
