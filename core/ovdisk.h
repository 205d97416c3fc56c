// One disk port of a bridge: identity decoded from ATA IDENTIFY DEVICE data, and
// the RAID fields read from the disk's record.
#pragma once

#include <cstdint>
#include <string>

#include "ata_identify.h"
#include "raid.h"

namespace ov {

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
    // A note says the partner its record names was written later, while this disk was away
    // (degraded alone, or rebuilt from onto another disk): this half holds older data and is
    // never degraded into the newer one.
    bool superseded = false;
    // This half and the one beside it were each written alone (see rebuild_notes::diverged):
    // neither holds all the newest data, and a copy either way loses some.
    bool diverged = false;

    void initialize(const unsigned char* block);
    // The partner its record names, read as a serial is shown ("" when none).
    std::string partner_serial_text() const;
    // The record's stamp: its 14 characters, as notes hold it.
    std::string stamp_text() const { return std::string(reinterpret_cast<const char*>(record_stamp), 14); }
    static void unscramble(std::string& text);
    std::string get_display_string(bool port1, bool in_set) const;

    // The record address, or false when the disk is too small to hold one.
    bool record_lba(uint64_t& lba) const;
    // The addressing flag passed to the plain record calls.
    int addressing_flag() const { return addressing_mode == addressing_lba48 ? 1 : 0; }
};

}  // namespace ov
