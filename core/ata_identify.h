// The 512-byte ATA IDENTIFY DEVICE block: 256 little-endian words, kept as received and
// decoded on demand. Its capacity places the RAID record, so the rule lives here once,
// with the builder the simulator and the tests make their disks' blocks with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ov {

constexpr size_t identify_size = 512;

// Word numbers of the fields the bridge, the engine and hdparm look at.
namespace identify {
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

constexpr uint16_t bit_lba_supported = 1u << 9;
constexpr uint16_t bit_hpa = 1u << 10;    // in words 82 and 85
constexpr uint16_t bit_lba48 = 1u << 10;  // in words 83 and 86
constexpr uint32_t lba28_limit = 0x0FFFFFFF;

// Byte offsets of the raw texts a record names its partner by, and of the signature.
constexpr int serial_offset = 2 * serial;
constexpr int serial_length = 20;
constexpr int model_offset = 2 * model;
constexpr int model_length = 40;
constexpr int signature_offset = 2 * integrity;
constexpr unsigned char signature_value = 0xA5;
}  // namespace identify

constexpr uint32_t addressing_lba48 = 1;
constexpr uint32_t addressing_lba28 = 2;
constexpr uint32_t addressing_chs = 3;

// What the capacity rule makes of a block: the sectors and the commands that reach them.
struct disk_size {
    uint64_t sectors = 0;
    uint32_t addressing = addressing_chs;
};

// Word 255 low byte: a block without it is no answer.
inline bool identify_signed(const unsigned char* block)
{
    return block[identify::signature_offset] == identify::signature_value;
}

struct identify_data {
    std::array<unsigned char, identify_size> bytes{};

    static identify_data of(const unsigned char* block);

    // A word outside 0-255 reads 0 and is never written.
    uint16_t word(int n) const;
    void set_word(int n, uint16_t value);
    // Words [first, first + count) as one little-endian number, low word first.
    uint64_t words(int first, int count) const;
    void set_words(int first, int count, uint64_t value);
    // ATA strings: two characters a word, the first in the high byte, space padded.
    std::string text(int first, int count) const;
    void set_text(int first, int count, const std::string& text);

    // The 48-bit count when 48-bit addressing is enabled (word 86, not the HPA bit of
    // word 85) and not zero, else the 28-bit count when LBA is supported, else the
    // current geometry's product.
    disk_size capacity() const;
    // The disk accepts 48-bit commands (word 83 bit 10).
    bool supports_lba48() const { return (word(identify::cmdset_supported2) & identify::bit_lba48) != 0; }
    // Word 255: the signature byte, and all 512 bytes summing to 0 modulo 256.
    bool checksum_ok() const;
    void seal();
};
static_assert(sizeof(identify_data) == identify_size, "an IDENTIFY block is exactly one sector");

// The identity a disk answers IDENTIFY with; sectors is its capacity.
struct identify_fields {
    std::string model;
    std::string serial;
    uint64_t sectors = 0;
    uint32_t addressing = addressing_lba48;
    bool hpa_enabled = false;
};

// The block a drive of that identity fills: LBA disks report the customary translated
// geometry, a CHS-only disk the geometry that sizes it.
identify_data build_identify(const identify_fields& disk);

// The same rules over raw bytes as a bridge returns them.
inline uint64_t identify_capacity(const unsigned char* block)
{
    return identify_data::of(block).capacity().sectors;
}
inline bool identify_supports_lba48(const unsigned char* block)
{
    return identify_data::of(block).supports_lba48();
}
}  // namespace ov
