#include "ata_identify.h"

#include <algorithm>
#include <cstring>

#include "little_endian.h"

namespace ov {

namespace {

using namespace identify;

constexpr uint64_t legacy_chs_limit = 16383ULL * 16 * 63;  // largest geometry an LBA disk reports

bool in_block(int first, int count)
{
    return first >= 0 && count >= 0 && first + count <= int(identify_size / 2);
}

struct chs_geometry {
    uint16_t cylinders = 0;
    uint16_t heads = 0;
    uint16_t sectors = 0;
};

// An exact factorisation with at most 16 heads and 63 sectors per track when one exists,
// otherwise the largest geometry that fits (the product then stays below the count).
chs_geometry chs_for(uint64_t sectors)
{
    chs_geometry g;
    for (uint16_t h = 16; h >= 1; --h)
        for (uint16_t s = 63; s >= 1; --s) {
            const uint64_t track = uint64_t(h) * s;
            if (sectors % track == 0 && sectors / track >= 1 && sectors / track <= 65535)
                return {static_cast<uint16_t>(sectors / track), h, s};
        }
    g.cylinders = static_cast<uint16_t>(std::min<uint64_t>(sectors / (16 * 63), 65535));
    if (g.cylinders != 0) {
        g.heads = 16;
        g.sectors = 63;
    }
    return g;
}

}  // namespace

identify_data identify_data::of(const unsigned char* block)
{
    identify_data d;
    std::memcpy(d.bytes.data(), block, identify_size);
    return d;
}

uint16_t identify_data::word(int n) const
{
    return static_cast<uint16_t>(words(n, 1));
}

void identify_data::set_word(int n, uint16_t value)
{
    set_words(n, 1, value);
}

uint64_t identify_data::words(int first, int count) const
{
    return in_block(first, count) && count <= 4 ? le::load(bytes.data() + 2 * first, 2 * size_t(count)) : 0;
}

void identify_data::set_words(int first, int count, uint64_t value)
{
    if (in_block(first, count) && count <= 4)
        le::store(bytes.data() + 2 * first, value, 2 * size_t(count));
}

// The first character of each pair sits in the word's high byte, the second byte on disk.
std::string identify_data::text(int first, int count) const
{
    std::string out;
    if (!in_block(first, count))
        return out;
    for (size_t at = 2 * size_t(first); at < 2 * size_t(first + count); at += 2) {
        out += static_cast<char>(bytes[at + 1]);
        out += static_cast<char>(bytes[at]);
    }
    return out;
}

void identify_data::set_text(int first, int count, const std::string& text)
{
    if (!in_block(first, count))
        return;
    std::string padded = text.substr(0, size_t(count) * 2);
    padded.resize(size_t(count) * 2, ' ');
    for (size_t i = 0; i < padded.size(); i += 2) {
        bytes[2 * size_t(first) + i] = static_cast<unsigned char>(padded[i + 1]);
        bytes[2 * size_t(first) + i + 1] = static_cast<unsigned char>(padded[i]);
    }
}

disk_size identify_data::capacity() const
{
    if (word(cmdset_enabled2) & bit_lba48) {
        const uint64_t n = words(lba48_count, 4);
        if (n != 0)
            return {n, addressing_lba48};
    }
    if (word(capabilities) & bit_lba_supported)
        return {words(lba28_count, 2), addressing_lba28};
    return {uint64_t(word(current_cylinders)) * word(current_heads) * word(current_sectors), addressing_chs};
}

bool identify_data::checksum_ok() const
{
    unsigned sum = 0;
    for (unsigned char b : bytes)
        sum += b;
    return identify_signed(bytes.data()) && (sum & 0xFF) == 0;
}

void identify_data::seal()
{
    bytes[signature_offset] = signature_value;
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < identify_size; ++i)
        sum += bytes[i];
    bytes[identify_size - 1] = static_cast<unsigned char>((256 - (sum & 0xFF)) & 0xFF);
}

identify_data build_identify(const identify_fields& disk)
{
    identify_data b;
    const bool chs_only = disk.addressing == addressing_chs;
    const bool lba48 = disk.addressing == addressing_lba48;

    // Geometry: a CHS-only disk is sized by it, so it must match the capacity where it
    // can; an LBA disk reports the customary translated geometry.
    chs_geometry g;
    if (chs_only) {
        g = chs_for(disk.sectors);
    } else {
        g.heads = 16;
        g.sectors = 63;
        g.cylinders = static_cast<uint16_t>(std::min(disk.sectors, legacy_chs_limit) / (16 * 63));
    }

    b.set_word(general_config, 0x0040);  // fixed, non-removable ATA device
    b.set_word(default_cylinders, g.cylinders);
    b.set_word(default_heads, g.heads);
    b.set_word(default_sectors, g.sectors);
    b.set_text(serial, 10, disk.serial);
    b.set_text(firmware, 4, "OVS1.00");
    b.set_text(model, 20, disk.model);
    b.set_word(max_multiple, 0x8010);  // READ/WRITE MULTIPLE up to 16 sectors
    b.set_word(capabilities, static_cast<uint16_t>(0x0100 | (chs_only ? 0 : bit_lba_supported)));
    b.set_word(50, 0x4000);
    b.set_word(field_validity, 0x0007);
    b.set_word(current_cylinders, g.cylinders);
    b.set_word(current_heads, g.heads);
    b.set_word(current_sectors, g.sectors);
    b.set_words(current_capacity, 2, uint64_t(g.cylinders) * g.heads * g.sectors);
    b.set_word(59, 0x0110);  // multiple sector setting valid, 16
    if (!chs_only)
        b.set_words(lba28_count, 2, std::min<uint64_t>(disk.sectors, lba28_limit));
    b.set_word(63, 0x0007);  // multiword DMA 0-2 supported
    b.set_word(64, 0x0003);  // PIO 3 and 4
    for (int w = 65; w <= 68; ++w)
        b.set_word(w, 120);  // cycle times, ns
    b.set_word(major_version, 0x01F0);  // ATA/ATAPI-4 to ATA8-ACS
    b.set_word(minor_version, 0x0042);  // ATA8-ACS revision 3f

    // Supported / enabled feature sets. The HPA and 48-bit bits are independent, as on
    // real drives: HPA is always supported and enabled only when configured.
    uint16_t s1 = 0x0001 | 0x0020 | 0x0040 | bit_hpa | 0x4000;  // SMART, write cache, look-ahead, HPA, NOP
    uint16_t s2 = 0x4000 | 0x1000;                              // valid, FLUSH CACHE
    uint16_t e1 = 0x0001 | 0x0020 | 0x0040 | 0x4000;
    uint16_t e2 = 0x1000;
    if (lba48) {
        s2 |= bit_lba48 | 0x2000;  // 48-bit Address, FLUSH CACHE EXT
        e2 |= bit_lba48 | 0x2000;
    }
    if (disk.hpa_enabled)
        e1 |= bit_hpa;
    b.set_word(cmdset_supported1, s1);
    b.set_word(cmdset_supported2, s2);
    b.set_word(cmdset_supported3, 0x4000);
    b.set_word(cmdset_enabled1, e1);
    b.set_word(cmdset_enabled2, e2);
    b.set_word(cmdset_default, 0x4000);
    b.set_word(udma_modes, 0x203F);  // UDMA 0-5 supported, mode 5 selected
    if (lba48)
        b.set_words(lba48_count, 4, disk.sectors);
    b.seal();
    return b;
}

}  // namespace ov
