// The bridge library seam: every vendor command that reaches a RAID bridge.
// Result senses are those of the closed library: 0 is success everywhere except
// ovGetRegister, where a negative value is failure.
#pragma once

#include <cstdint>
#include <cstring>

#include "little_endian.h"

namespace ov {

constexpr int device_list_capacity = 256;   // handles getDeviceList can return
constexpr uint32_t reg_port0_presence = 0x7095;
constexpr uint32_t reg_port1_presence = 0x709D;

// The 12 bytes ovGetRebuildStatus answers with: how far the bridge's copy has come.
struct rebuild_status {
    unsigned char total_lba[6];    // 0: end of the copied range, 48-bit little-endian
    unsigned char current_lba[6];  // 6: sector reached, 48-bit little-endian

    static constexpr rebuild_status encode(uint64_t total, uint64_t current)
    {
        rebuild_status s{};
        le::store48(s.total_lba, total);
        le::store48(s.current_lba, current);
        return s;
    }
    static rebuild_status decode(const unsigned char* buffer)
    {
        rebuild_status s;
        std::memcpy(s.data(), buffer, sizeof s);
        return s;
    }
    constexpr uint64_t total() const { return le::load48(total_lba); }
    constexpr uint64_t current() const { return le::load48(current_lba); }
    unsigned char* data() { return reinterpret_cast<unsigned char*>(this); }
    const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(this); }
};
static_assert(sizeof(rebuild_status) == 12, "rebuild status is 12 bytes");

class bridge_library {
public:
    virtual ~bridge_library() = default;

    // handles: room for device_list_capacity entries; count is preset to 0 by the caller.
    virtual int getDeviceList(uint32_t* handles, uint32_t* count) = 0;
    virtual int openConnection(uint32_t service) = 0;
    virtual int closeConnection(uint32_t service) = 0;
    // addressing: 1 for 48-bit commands, 0 for 28-bit commands.
    virtual int ovGetRaidInfo(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port,
                              int addressing) = 0;
    virtual int ovGetRaidInfoFW(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port) = 0;
    virtual int ovSetRaidInfo(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port,
                              int addressing) = 0;
    virtual int ovSetRaidInfoFW(uint32_t service, const unsigned char* record, int length, uint64_t lba,
                                int port) = 0;
    virtual int ovFlushHDDCache(uint32_t service, int port) = 0;
    virtual int ovGetDiskIdentify(uint32_t service, unsigned char* buffer, int length, int port) = 0;
    virtual int ovGetRegister(uint32_t service, unsigned char* buffer, int length, int count, uint32_t address) = 0;
    virtual int ovGetRebuildStatus(uint32_t service, unsigned char* buffer, int length) = 0;
    virtual int ovWarmBoot(uint32_t service) = 0;
};

// The one process-wide library. Until one is installed every call fails.
bridge_library& library();
void install_library(bridge_library* lib);

}  // namespace ov
