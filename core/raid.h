// The RAID metadata record each member disk carries, the bridge identity, and the
// small text and number helpers shared by engine and window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ov {

// RAID mode numbers shared by records, chip state and the window.
constexpr uint32_t mode_none = 0;
constexpr uint32_t mode_raid0 = 1;
constexpr uint32_t mode_raid1 = 2;
constexpr uint32_t mode_span = 4;

constexpr uint8_t source_mark = 0x80;            // flags bit 7: rebuild source
constexpr uint64_t record_offset_from_end = 15;  // record sits at capacity - 15
constexpr uint64_t two_tb_sectors = 1ULL << 32;

// The 512-byte record, stored at the fifteenth sector from the end of each member.
// Every field is a byte array, so the layout has no padding and is the on-disk one; the
// multi-byte numbers are little-endian on every host and read through the accessors.
struct raid_info {
    unsigned char signature[2];       //   0: "OV"
    unsigned char raid_mode;          //   2: 0, 1, 2, 4
    unsigned char member_index;       //   3: port of the disk carrying it
    unsigned char flags;              //   4: bit 7 = source_mark
    unsigned char reserved24[3];      //   5: little-endian, written 0
    unsigned char capacity_le[8];     //   8: set size in sectors, little-endian
    unsigned char partner_serial[20]; //  16: other member's serial, raw IDENTIFY bytes
    unsigned char partner_model[40];  //  36: other member's model, raw IDENTIFY bytes
    unsigned char unused1[404];       //  76
    unsigned char stamp[16];          // 480: "YYYYMMDDhhmmss" NUL NUL, local time
    unsigned char over_2tb;           // 496: set size >= 2^32 sectors
    unsigned char unused2[7];         // 497
    unsigned char trailer[8];         // 504: "Orvelan "

    unsigned char* data() { return reinterpret_cast<unsigned char*>(this); }
    const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(this); }

    // The record in a sector as read; whether it is one says valid().
    static raid_info of(const unsigned char* sector);
    bool valid() const;
    uint32_t mode() const { return raid_mode; }
    uint32_t member() const { return member_index; }
    bool source() const { return (flags & source_mark) != 0; }
    uint32_t value24() const;
    void set_value24(uint32_t value);
    uint64_t capacity() const;
    void set_capacity(uint64_t sectors);
    // The stamp up to its first NUL.
    std::string stamp_text() const;
};
static_assert(sizeof(raid_info) == 512, "a RAID record is exactly one sector");
static_assert(offsetof(raid_info, raid_mode) == 2 && offsetof(raid_info, flags) == 4 &&
                  offsetof(raid_info, reserved24) == 5 && offsetof(raid_info, capacity_le) == 8 &&
                  offsetof(raid_info, partner_serial) == 16 && offsetof(raid_info, partner_model) == 36 &&
                  offsetof(raid_info, stamp) == 480 && offsetof(raid_info, over_2tb) == 496 &&
                  offsetof(raid_info, trailer) == 504,
              "record field offsets");

// Where a disk of that capacity keeps its record (capacity - 15); false when it is too
// small to hold one.
bool record_lba_for(uint64_t capacity, uint64_t& lba);

raid_info create_raid_struct(int mode, int member, int flags, int value24, uint64_t capacity,
                             const unsigned char* partner_serial, const unsigned char* partner_model, bool over_2tb,
                             const unsigned char* stamp);
raid_info zero_record();

// True when the two bytes at the start are the record signature.
bool has_signature(const unsigned char* sector);

void ppcReverse(unsigned char* bytes, int n);

// 1 exactly on a big-endian host, 0 on x86, 2 otherwise. The record and the rebuild
// status are little-endian byte by byte, so their byte order does not depend on it.
int getArchitecture();
// Tests force a host order with this; a negative value restores detection.
void override_architecture(int code);

// "YYYYMMDDhhmmss" in local time plus NUL into dst (at least 15 bytes); returns 14.
int GetTimeString(unsigned char* dst);
int str_equal(const unsigned char* a, const unsigned char* b, int n);
// <0, 0, >0 as a's 16-byte stamp is earlier, equal or later than b's.
int compare_stamps(const unsigned char* a, const unsigned char* b);
// Whether the 14 characters of a record's stamp are all digits (a stamp this system can order).
bool stamp_is_digits(const unsigned char* stamp);
// A stamp into out (16 bytes) that sorts after previous (compare_stamps): previous plus one
// second. False, out all zero, when there is none (previous is not 14 digits, or all nines).
bool stamp_after(unsigned char* out, const unsigned char* previous);
// The same, but now when now sorts after previous (it does unless two writes fall in one
// second or a clock was set back).
bool later_stamp(unsigned char* out, const unsigned char* previous);

// The identity of one bridge; survives rescans, unlike its position in the chip list.
class controller_t {
public:
    uint64_t order_key = 0;
    bool is_firewire = false;
    uint32_t vendor_id = 0;
    uint32_t product_id = 0;
    std::string usb_serial;
    int64_t location_id = 0;
    uint64_t guid = 0;

    bool operator==(const controller_t& other) const;
    bool operator!=(const controller_t& other) const { return !(*this == other); }
    void clear();
};

// Text and number helpers.
std::string inttostring(uint64_t value);
std::string inttohexstring(int64_t value, int width);
void trim(std::string& text);
// A registry text as a standard string: ASCII only (otherwise empty), at most 99 characters.
std::string cfstringtostring(const std::string& registry_text);

}  // namespace ov
