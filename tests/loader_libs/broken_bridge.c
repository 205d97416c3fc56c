/* A bridge library wrong in one way, chosen when it is built: BROKEN_MISSING leaves out
 * two functions, BROKEN_VERSION speaks version 0, BROKEN_TABLE answers the match table
 * named by the environment variable OVRAID_TEST_TABLE (null, huge, bus, vendor, wide),
 * BROKEN_LISTS loads but lists handles it was never given. */
#define _POSIX_C_SOURCE 200809L

#include <stdlib.h>
#include <string.h>

#include <ovraid/bridge.h>

static const struct ovraid_bridge_match good[] = {{OVRAID_BUS_USB, 0x1E91, 0x0A12}};

uint32_t ovraid_bridge_api_version(void)
{
#ifdef BROKEN_VERSION
    return 0;
#else
    return OVRAID_BRIDGE_API_VERSION;
#endif
}

const struct ovraid_bridge_match* ovraid_bridge_match_table(uint32_t* count)
{
#ifdef BROKEN_TABLE
    static const struct ovraid_bridge_match bus[] = {{OVRAID_BUS_USB, 0x1E91, 1}, {3, 0x1E91, 2}};
    static const struct ovraid_bridge_match vendor[] = {{1, 1, 1}, {2, 0x800046, 1}, {1, 0, 5}};
    static const struct ovraid_bridge_match wide[] = {{OVRAID_BUS_FIREWIRE, 0x1000000, 1}};
    const char* fault = getenv("OVRAID_TEST_TABLE");
    fault = fault ? fault : "bus";
    if (strcmp(fault, "null") == 0) {
        *count = 1;
        return NULL;
    }
    if (strcmp(fault, "huge") == 0) {
        *count = 5000;
        return good;
    }
    if (strcmp(fault, "vendor") == 0) {
        *count = 3;
        return vendor;
    }
    if (strcmp(fault, "wide") == 0) {
        *count = 1;
        return wide;
    }
    *count = 2;
    return bus;
#else
    *count = 1;
    return good;
#endif
}

int ovraid_bridge_attach(uint32_t service, const char* syspath, const char* devnode)
{
    (void)service; (void)syspath; (void)devnode;
    return 0;
}

void ovraid_bridge_detach(uint32_t service)
{
    (void)service;
}

#if defined(BROKEN_LISTS)
/* Lists a handle it was given, one it was never given, the first again, and claims far more
 * than it wrote. */
int getDeviceList(uint32_t* handles, uint32_t* count)
{
    handles[0] = 7;
    handles[1] = 0xDEADBEEF;
    handles[2] = 7;
    *count = 1000;
    return 0;
}
#elif !defined(BROKEN_MISSING)
int getDeviceList(uint32_t* handles, uint32_t* count)
{
    (void)handles; (void)count;
    return 0;
}
#endif

int openConnection(uint32_t service) { (void)service; return -1; }
int closeConnection(uint32_t service) { (void)service; return -1; }
int ovGetRaidInfo(uint32_t s, unsigned char* b, int n, uint64_t lba, int p, int a)
{
    (void)s; (void)b; (void)n; (void)lba; (void)p; (void)a;
    return -1;
}
int ovGetRaidInfoFW(uint32_t s, unsigned char* b, int n, uint64_t lba, int p)
{
    (void)s; (void)b; (void)n; (void)lba; (void)p;
    return -1;
}
int ovSetRaidInfo(uint32_t s, const unsigned char* b, int n, uint64_t lba, int p, int a)
{
    (void)s; (void)b; (void)n; (void)lba; (void)p; (void)a;
    return -1;
}
int ovSetRaidInfoFW(uint32_t s, const unsigned char* b, int n, uint64_t lba, int p)
{
    (void)s; (void)b; (void)n; (void)lba; (void)p;
    return -1;
}
int ovFlushHDDCache(uint32_t s, int p) { (void)s; (void)p; return -1; }
int ovGetDiskIdentify(uint32_t s, unsigned char* b, int n, int p)
{
    (void)s; (void)b; (void)n; (void)p;
    return -1;
}
int ovGetRegister(uint32_t s, unsigned char* b, int n, int c, uint32_t a)
{
    (void)s; (void)b; (void)n; (void)c; (void)a;
    return -1;
}
int ovGetRebuildStatus(uint32_t s, unsigned char* b, int n) { (void)s; (void)b; (void)n; return -1; }

#ifndef BROKEN_MISSING
int ovWarmBoot(uint32_t s) { (void)s; return -1; }
#endif
