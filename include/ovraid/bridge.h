/* The C interface of a bridge library: what ovraid looks up in a shared object that
 * drives a two-bay RAID bridge. The calls carry the names, arguments and result senses
 * the engine uses; docs/bridge-library.md is the guide to writing one.
 *
 * A library exports every function below with C linkage. ovraid loads it once, checks
 * the version and the match table, then tells it about each device before using it.
 *
 * Threads: attach, detach and getDeviceList never run at the same time as each other.
 * The nine device calls (ovGetRaidInfo to ovWarmBoot) come one at a time. openConnection
 * and closeConnection, and attach and detach, may come on other threads while a device
 * call runs, also for the very handle being detached: a call on a handle the library no
 * longer knows fails.
 *
 * Buffers: ovraid never passes a null buffer or one shorter than the call needs; a
 * library writes no more than the stated sizes. */
#ifndef OVRAID_BRIDGE_H
#define OVRAID_BRIDGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Exported even when the library is built with -fvisibility=hidden. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* The interface described here. A library answering another number is not loaded. */
#define OVRAID_BRIDGE_API_VERSION 1

/* Room the host gives getDeviceList. */
#define OVRAID_DEVICE_LIST_CAPACITY 256

/* Sizes of the buffers the calls fill or read. */
#define OVRAID_SECTOR_SIZE 512
#define OVRAID_IDENTIFY_SIZE 512
#define OVRAID_REBUILD_STATUS_SIZE 12

/* The two presence registers: byte 0 is non-zero when a disk sits in the port. */
#define OVRAID_REG_PORT0_PRESENCE 0x7095u
#define OVRAID_REG_PORT1_PRESENCE 0x709Du

#define OVRAID_BUS_USB 1
#define OVRAID_BUS_FIREWIRE 2

/* One device the library drives. USB: vendor = idVendor, product = idProduct (16-bit each).
 * FireWire: vendor = the 24-bit vendor OUI, product = the model id. vendor is never 0. */
struct ovraid_bridge_match {
    uint32_t bus;
    uint32_t vendor;
    uint32_t product;
};

/* The version the library speaks: OVRAID_BRIDGE_API_VERSION of the header it was built
 * against. Called first, before anything else. */
uint32_t ovraid_bridge_api_version(void);

/* The devices the library drives: *count entries in static storage that stays valid
 * while the library is loaded. At most 4096 entries. */
const struct ovraid_bridge_match* ovraid_bridge_match_table(uint32_t* count);

/* The host found a matching device and names it service from now on. syspath is its
 * sysfs path, devnode its device node ("" when it has none); both strings are the
 * host's and valid only during the call. 0: the library will drive it; any other value:
 * it will not (the device still shows, and its calls fail). Comes before the handle is
 * announced to the engine. */
int ovraid_bridge_attach(uint32_t service, const char* syspath, const char* devnode);

/* The device is gone. The handle is not used again; free what belongs to it. */
void ovraid_bridge_detach(uint32_t service);

/* ---- the twelve calls. 0 is success, any other value failure, except for
 * ovGetRegister, where a negative value is failure. ---------------------------------- */

/* Fills handles with the attached devices the library drives (at most
 * OVRAID_DEVICE_LIST_CAPACITY) and sets *count. *count is 0 on entry. */
int getDeviceList(uint32_t* handles, uint32_t* count);

/* Before the engine uses a device, and after it has done. */
int openConnection(uint32_t service);
int closeConnection(uint32_t service);

/* Reads the sector at lba of the disk in port (0 or 1) into buffer (length >= 512).
 * addressing: 1 for 48-bit commands, 0 for 28-bit commands. */
int ovGetRaidInfo(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port, int addressing);

/* The same over FireWire, always 48-bit. */
int ovGetRaidInfoFW(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port);

/* Writes 512 bytes of record (length >= 512) to the sector at lba of the disk in port. */
int ovSetRaidInfo(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port,
                  int addressing);

/* The same over FireWire, always 48-bit. */
int ovSetRaidInfoFW(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port);

/* Makes what was written to the disk in port reach the platters. */
int ovFlushHDDCache(uint32_t service, int port);

/* The 512-byte ATA IDENTIFY DEVICE block of the disk in port (length >= 512). */
int ovGetDiskIdentify(uint32_t service, unsigned char* buffer, int length, int port);

/* Reads count bytes (1 <= count <= length) of the bridge register at address into buffer.
 * Negative: failure. */
int ovGetRegister(uint32_t service, unsigned char* buffer, int length, int count, uint32_t address);

/* The RAID 1 rebuild's progress, 12 bytes (length >= 12): bytes 0-5 the end of the copied
 * range, bytes 6-11 the sector reached, each 48-bit little-endian. Both 0 when no copy runs. */
int ovGetRebuildStatus(uint32_t service, unsigned char* buffer, int length);

/* Restarts the bridge: it leaves the bus and comes back (the host detaches it and attaches
 * it anew, under a new handle). */
int ovWarmBoot(uint32_t service);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* OVRAID_BRIDGE_H */
