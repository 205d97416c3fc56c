// ATA IDENTIFY DEVICE data of a simulated disk: 256 little-endian 16-bit words,
// generated from the disk's identity the way a real drive fills them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "store.h"

namespace ov::sim {

constexpr size_t identify_size = 512;
using identify_block = std::array<unsigned char, identify_size>;

// Word numbers of the fields the bridge, the engine and hdparm look at.
namespace idw {
constexpr int general_config = 0;
constexpr int default_cylinders = 1;
constexpr int default_heads = 3;
constexpr int default_sectors = 6;
constexpr int serial = 10;             // 10-19: serial number, 20 ATA characters
constexpr int firmware = 23;           // 23-26: firmware revision, 8 characters
constexpr int model = 27;              // 27-46: model number, 40 characters
constexpr int max_multiple = 47;
constexpr int capabilities = 49;       // bit 9: LBA supported, bit 8: DMA supported
constexpr int field_validity = 53;     // bit 0: words 54-58 valid, bit 1: 64-70, bit 2: 88
constexpr int current_cylinders = 54;
constexpr int current_heads = 55;
constexpr int current_sectors = 56;
constexpr int current_capacity = 57;   // 57-58: cylinders x heads x sectors
constexpr int lba28_count = 60;        // 60-61: 28-bit addressable sectors
constexpr int major_version = 80;
constexpr int minor_version = 81;
constexpr int cmdset_supported1 = 82;  // bit 10: Host Protected Area supported
constexpr int cmdset_supported2 = 83;  // bit 10: 48-bit Address supported
constexpr int cmdset_supported3 = 84;
constexpr int cmdset_enabled1 = 85;    // bit 10: Host Protected Area enabled
constexpr int cmdset_enabled2 = 86;    // bit 10: 48-bit Address enabled
constexpr int cmdset_default = 87;
constexpr int udma_modes = 88;
constexpr int lba48_count = 100;       // 100-103: 48-bit addressable sectors
constexpr int integrity = 255;         // low byte 0xA5, high byte checksum
}  // namespace idw

constexpr uint16_t bit_lba_supported = 1u << 9;
constexpr uint16_t bit_hpa = 1u << 10;    // in words 82 and 85
constexpr uint16_t bit_lba48 = 1u << 10;  // in words 83 and 86
constexpr uint32_t lba28_limit = 0x0FFFFFFF;
constexpr unsigned char integrity_signature = 0xA5;

inline uint16_t identify_word(const unsigned char* block, int word)
{
    return static_cast<uint16_t>(block[2 * word] | (block[2 * word + 1] << 8));
}

// Current CHS geometry for a disk of that many sectors: an exact factorisation with at
// most 16 heads and 63 sectors per track when one exists, otherwise the largest
// geometry that fits (the product then stays below the sector count).
struct chs_geometry {
    uint16_t cylinders = 0;
    uint16_t heads = 0;
    uint16_t sectors = 0;
    uint64_t product() const { return uint64_t(cylinders) * heads * sectors; }
};
chs_geometry chs_for(uint64_t sectors, bool exact_only);

// The block a disk of that identity answers with; cfg.sectors is its capacity.
identify_block make_identify(const disk_desc& cfg);

// The capacity a reader of the block gets: the 48-bit count when 48-bit addressing is
// enabled, else the 28-bit count when LBA is supported, else the geometry product.
uint64_t identify_capacity(const unsigned char* block);
// True when the disk accepts 48-bit commands (word 83 bit 10).
bool identify_supports_lba48(const unsigned char* block);
// The ATA string of words [first, first + words): pair-swapped back and trimmed.
std::string identify_string(const unsigned char* block, int first, int words);
// Low byte 0xA5 and all 512 bytes summing to 0 modulo 256.
bool identify_checksum_ok(const unsigned char* block);

}  // namespace ov::sim
