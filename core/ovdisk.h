// One disk port of a bridge: identity decoded from ATA IDENTIFY DEVICE data, and
// the RAID fields read from the disk's record.
#pragma once

#include <cstdint>
#include <string>

#include "raid.h"

namespace ov {

// Offsets into the 512-byte IDENTIFY DEVICE block (256 little-endian words).
namespace identify {
constexpr int serial_offset = 20;   // words 10-19: serial number, 20 ASCII
constexpr int serial_length = 20;
constexpr int model_offset = 54;    // words 27-46: model number, 40 ASCII
constexpr int model_length = 40;
constexpr int word_capabilities = 49;     // bit 9: LBA supported
constexpr int word_cur_cylinders = 54;
constexpr int word_cur_heads = 55;
constexpr int word_cur_sectors = 56;
constexpr int word_lba28_count = 60;      // words 60-61
constexpr int word_cmdset_supported = 83; // bit 10: 48-bit address feature set supported
constexpr int word_cmdset_enabled1 = 85;  // bit 10: Host Protected Area enabled
constexpr int word_cmdset_enabled2 = 86;  // bit 10: 48-bit address feature set enabled
constexpr int word_lba48_count = 100;     // words 100-103
constexpr int signature_offset = 510;     // word 255 low byte
constexpr unsigned char signature_value = 0xA5;
}  // namespace identify

constexpr uint32_t addressing_lba48 = 1;
constexpr uint32_t addressing_lba28 = 2;
constexpr uint32_t addressing_chs = 3;

class ovdisk {
public:
    uint64_t capacity = 0;
    std::string model;
    std::string serial;
    uint32_t raid_mode = 0;
    bool partner_mismatch = false;
    bool degrade_needed = false;
    bool rebuild_flag = false;
    bool present = false;
    uint32_t raid1_role = 0;
    raid_info raid_record = zero_record();
    uint64_t record_capacity = 0;
    unsigned char model_raw[40] = {};
    unsigned char serial_raw[20] = {};
    unsigned char partner_model[40] = {};
    unsigned char partner_serial[20] = {};
    unsigned char record_stamp[16] = {};
    uint32_t addressing_mode = addressing_lba48;
    // What the port's presence register said at the last identity reading; a disk can be
    // there (register set) without answering IDENTIFY.
    bool register_present = false;
    // The record read failed: what the disk holds is unknown, which is not "no record".
    bool record_unknown = false;
    // A rebuild note names this disk as the target of a copy whose source is not here: it
    // holds a partial copy and must never be a source or be degraded into a set of its own.
    bool incomplete_copy = false;
    std::string copy_source_serial;

    void initialize(const unsigned char* identify_data);
    static void unscramble(std::string& text);
    std::string get_display_string(bool port1, bool in_set) const;

    // The record address, or false when the disk is too small to hold one.
    bool record_lba(uint64_t& lba) const;
    // The addressing flag passed to the plain record calls.
    int addressing_flag() const { return addressing_mode == addressing_lba48 ? 1 : 0; }
};

}  // namespace ov
