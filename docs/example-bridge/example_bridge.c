/* An example bridge library for an imaginary USB bridge: the shape of a real one, with
 * the disks replaced by a small table in memory. A real library would send each call's
 * vendor command to the device node it was given at attach and return what the bridge
 * answered.
 *
 * Build against the installed <ovraid/bridge.h> (see bridge-library.md; in a source checkout
 * add -I include):
 *   cc -std=c99 -Wall -Wextra -O2 -fPIC -shared -fvisibility=hidden -pthread \
 *      -o libovraid-example.so example_bridge.c
 */
#define _POSIX_C_SOURCE 200809L

#include <pthread.h>
#include <stdint.h>
#include <string.h>

#include <ovraid/bridge.h>

#define EXAMPLE_VENDOR 0x1E91
#define EXAMPLE_PRODUCT 0x0E01
#define MAX_DEVICES 16
#define PATH_ROOM 256
#define REMEMBERED_SECTORS 8      /* sectors one disk keeps; enough for its records */
#define DISK_SECTORS 2000000u     /* the example disk: about 1 GB */

struct stored_sector {
    int used;
    uint64_t lba;
    unsigned char data[OVRAID_SECTOR_SIZE];
};

struct disk {
    int present;
    unsigned char identify[OVRAID_IDENTIFY_SIZE];
    struct stored_sector sectors[REMEMBERED_SECTORS];
};

struct device {
    int used;
    uint32_t service;
    char syspath[PATH_ROOM];
    char devnode[PATH_ROOM];
    struct disk ports[2];  /* a disk in port 0, port 1 empty */
};

/* attach and detach can come while a device call runs, so every call takes this lock. */
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static struct device devices[MAX_DEVICES];

static const struct ovraid_bridge_match matches[] = {
    {OVRAID_BUS_USB, EXAMPLE_VENDOR, EXAMPLE_PRODUCT},
};

/* ---- the example disk's IDENTIFY block: 256 little-endian words ---- */

static void put_word(unsigned char* block, int word, uint16_t value)
{
    block[2 * word] = (unsigned char)(value & 0xFF);
    block[2 * word + 1] = (unsigned char)(value >> 8);
}

/* ATA strings: two characters a word, the first in the high byte, space padded. */
static void put_text(unsigned char* block, int first, int words, const char* text)
{
    size_t n = strlen(text);
    int i;
    for (i = 0; i < 2 * words; ++i)
        block[2 * first + (i ^ 1)] = (unsigned char)((size_t)i < n ? text[i] : ' ');
}

static void make_identify(unsigned char* block, const char* model, const char* serial, uint32_t sectors)
{
    unsigned sum = 0;
    int i;
    memset(block, 0, OVRAID_IDENTIFY_SIZE);
    put_text(block, 10, 10, serial);                         /* 10-19 serial number */
    put_text(block, 27, 20, model);                          /* 27-46 model number */
    put_word(block, 49, 1u << 9);                            /* LBA supported */
    put_word(block, 60, (uint16_t)(sectors & 0xFFFF));       /* 60-61 28-bit sectors */
    put_word(block, 61, (uint16_t)(sectors >> 16));
    put_word(block, 83, (1u << 14) | (1u << 10));            /* 48-bit supported */
    put_word(block, 86, 1u << 10);                           /* 48-bit enabled */
    put_word(block, 100, (uint16_t)(sectors & 0xFFFF));      /* 100-103 48-bit sectors */
    put_word(block, 101, (uint16_t)(sectors >> 16));
    block[510] = 0xA5;                                       /* 255: signature, checksum */
    for (i = 0; i < 511; ++i)
        sum += block[i];
    block[511] = (unsigned char)(0x100 - (sum & 0xFF));
}

/* ---- the device table; callers hold the lock ---- */

static struct device* find(uint32_t service)
{
    int i;
    for (i = 0; i < MAX_DEVICES; ++i)
        if (devices[i].used && devices[i].service == service)
            return &devices[i];
    return NULL;
}

/* The disk in port of the device, or NULL when either is not there. */
static struct disk* disk_of(uint32_t service, int port)
{
    struct device* d = find(service);
    if (d == NULL || port < 0 || port > 1 || !d->ports[port].present)
        return NULL;
    return &d->ports[port];
}

/* A command the disk can take: inside it, and inside 28 bits unless 48-bit. */
static int reachable(uint64_t lba, int addressing)
{
    return lba < DISK_SECTORS && (addressing == 1 || lba < (1u << 28));
}

static struct stored_sector* stored(struct disk* k, uint64_t lba, int make)
{
    int i;
    for (i = 0; i < REMEMBERED_SECTORS; ++i)
        if (k->sectors[i].used && k->sectors[i].lba == lba)
            return &k->sectors[i];
    if (!make)
        return NULL;
    for (i = 0; i < REMEMBERED_SECTORS; ++i)
        if (!k->sectors[i].used) {
            k->sectors[i].used = 1;
            k->sectors[i].lba = lba;
            return &k->sectors[i];
        }
    return NULL;  /* full: the write fails rather than vanish */
}

/* ---- the interface ---- */

uint32_t ovraid_bridge_api_version(void)
{
    return OVRAID_BRIDGE_API_VERSION;
}

const struct ovraid_bridge_match* ovraid_bridge_match_table(uint32_t* count)
{
    *count = sizeof matches / sizeof matches[0];
    return matches;
}

int ovraid_bridge_attach(uint32_t service, const char* syspath, const char* devnode)
{
    struct device* d;
    int i;
    if (strlen(syspath) >= PATH_ROOM || strlen(devnode) >= PATH_ROOM)
        return -1;
    pthread_mutex_lock(&lock);
    d = find(service);
    for (i = 0; i < MAX_DEVICES && d == NULL; ++i)
        if (!devices[i].used)
            d = &devices[i];
    if (d != NULL) {
        memset(d, 0, sizeof *d);
        d->used = 1;
        d->service = service;
        strcpy(d->syspath, syspath);
        strcpy(d->devnode, devnode);
        d->ports[0].present = 1;
        make_identify(d->ports[0].identify, "Example Disk 1000", "EX0001", DISK_SECTORS);
    }
    pthread_mutex_unlock(&lock);
    return d != NULL ? 0 : -1;  /* full: this device goes undriven */
}

void ovraid_bridge_detach(uint32_t service)
{
    struct device* d;
    pthread_mutex_lock(&lock);
    d = find(service);
    if (d != NULL)
        d->used = 0;
    pthread_mutex_unlock(&lock);
}

int getDeviceList(uint32_t* handles, uint32_t* count)
{
    int i;
    pthread_mutex_lock(&lock);
    for (i = 0; i < MAX_DEVICES; ++i)
        if (devices[i].used)
            handles[(*count)++] = devices[i].service;
    pthread_mutex_unlock(&lock);
    return 0;
}

int openConnection(uint32_t service)
{
    int rc;
    pthread_mutex_lock(&lock);
    rc = find(service) != NULL ? 0 : -1;
    pthread_mutex_unlock(&lock);
    return rc;
}

int closeConnection(uint32_t service)
{
    return openConnection(service);
}

int ovGetRaidInfo(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port, int addressing)
{
    struct disk* k;
    struct stored_sector* s;
    int rc = -1;
    (void)length;  /* at least one sector, as the host promises */
    pthread_mutex_lock(&lock);
    k = disk_of(service, port);
    if (k != NULL && reachable(lba, addressing)) {
        s = stored(k, lba, 0);
        if (s != NULL)
            memcpy(buffer, s->data, OVRAID_SECTOR_SIZE);
        else
            memset(buffer, 0, OVRAID_SECTOR_SIZE);  /* never written: a blank disk */
        rc = 0;
    }
    pthread_mutex_unlock(&lock);
    return rc;
}

int ovSetRaidInfo(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port, int addressing)
{
    struct disk* k;
    struct stored_sector* s;
    int rc = -1;
    (void)length;
    pthread_mutex_lock(&lock);
    k = disk_of(service, port);
    if (k != NULL && reachable(lba, addressing) && (s = stored(k, lba, 1)) != NULL) {
        memcpy(s->data, record, OVRAID_SECTOR_SIZE);
        rc = 0;
    }
    pthread_mutex_unlock(&lock);
    return rc;
}

/* A USB bridge: the FireWire commands fail. */
int ovGetRaidInfoFW(uint32_t service, unsigned char* buffer, int length, uint64_t lba, int port)
{
    (void)service; (void)buffer; (void)length; (void)lba; (void)port;
    return -1;
}

int ovSetRaidInfoFW(uint32_t service, const unsigned char* record, int length, uint64_t lba, int port)
{
    (void)service; (void)record; (void)length; (void)lba; (void)port;
    return -1;
}

int ovFlushHDDCache(uint32_t service, int port)
{
    int rc;
    pthread_mutex_lock(&lock);
    rc = disk_of(service, port) != NULL ? 0 : -1;
    pthread_mutex_unlock(&lock);
    return rc;
}

int ovGetDiskIdentify(uint32_t service, unsigned char* buffer, int length, int port)
{
    struct disk* k;
    int rc = -1;
    (void)length;
    pthread_mutex_lock(&lock);
    k = disk_of(service, port);
    if (k != NULL) {
        memcpy(buffer, k->identify, OVRAID_IDENTIFY_SIZE);
        rc = 0;
    }
    pthread_mutex_unlock(&lock);
    return rc;
}

/* Only the two presence registers are known; any other address fails. */
int ovGetRegister(uint32_t service, unsigned char* buffer, int length, int count, uint32_t address)
{
    struct device* d;
    int port = address == OVRAID_REG_PORT0_PRESENCE ? 0 : address == OVRAID_REG_PORT1_PRESENCE ? 1 : -1;
    int rc = -1;
    (void)length;
    pthread_mutex_lock(&lock);
    d = find(service);
    if (d != NULL && port >= 0) {
        memset(buffer, 0, (size_t)count);
        buffer[0] = (unsigned char)d->ports[port].present;
        rc = 0;
    }
    pthread_mutex_unlock(&lock);
    return rc;
}

/* No copy ever runs here: both positions 0. */
int ovGetRebuildStatus(uint32_t service, unsigned char* buffer, int length)
{
    int rc;
    (void)length;
    pthread_mutex_lock(&lock);
    rc = find(service) != NULL ? 0 : -1;
    if (rc == 0)
        memset(buffer, 0, OVRAID_REBUILD_STATUS_SIZE);
    pthread_mutex_unlock(&lock);
    return rc;
}

/* A real bridge restarts and leaves the bus; the host then detaches it. This one cannot. */
int ovWarmBoot(uint32_t service)
{
    (void)service;
    return -1;
}
