#include "identify.h"

#include <algorithm>

namespace ov::sim {

namespace {

constexpr uint64_t legacy_chs_limit = 16383ULL * 16 * 63;  // largest geometry an LBA disk reports

void put_word(identify_block& b, int word, uint16_t value)
{
    b[2 * word] = static_cast<unsigned char>(value & 0xFF);
    b[2 * word + 1] = static_cast<unsigned char>(value >> 8);
}

// ATA strings: space padded, two characters per word, the first one in the high byte.
void put_string(identify_block& b, int first, int words, const std::string& text)
{
    std::string padded = text.substr(0, static_cast<size_t>(words) * 2);
    padded.resize(static_cast<size_t>(words) * 2, ' ');
    for (int i = 0; i < words; ++i) {
        const auto hi = static_cast<unsigned char>(padded[2 * i]);
        const auto lo = static_cast<unsigned char>(padded[2 * i + 1]);
        put_word(b, first + i, static_cast<uint16_t>((hi << 8) | lo));
    }
}

}  // namespace

chs_geometry chs_for(uint64_t sectors, bool exact_only)
{
    chs_geometry g;
    for (uint16_t h = 16; h >= 1; --h)
        for (uint16_t s = 63; s >= 1; --s) {
            const uint64_t track = uint64_t(h) * s;
            if (sectors % track == 0 && sectors / track >= 1 && sectors / track <= 65535) {
                g.cylinders = static_cast<uint16_t>(sectors / track);
                g.heads = h;
                g.sectors = s;
                return g;
            }
        }
    if (exact_only)
        return g;
    g.heads = 16;
    g.sectors = 63;
    g.cylinders = static_cast<uint16_t>(std::min<uint64_t>(sectors / (16 * 63), 65535));
    if (g.cylinders == 0)
        g = chs_geometry{};
    return g;
}

identify_block make_identify(const disk_desc& cfg)
{
    identify_block b{};
    const bool chs_only = cfg.addressing == "chs";
    const bool lba48 = cfg.addressing == "lba48";

    // Geometry: a CHS-only disk is sized by it, so it must match the capacity where it
    // can; an LBA disk reports the customary translated geometry.
    chs_geometry g;
    if (chs_only) {
        g = chs_for(cfg.sectors, false);
    } else {
        const uint64_t n = std::min(cfg.sectors, legacy_chs_limit);
        g.heads = 16;
        g.sectors = 63;
        g.cylinders = static_cast<uint16_t>(n / (16 * 63));
    }

    put_word(b, idw::general_config, 0x0040);  // fixed, non-removable ATA device
    put_word(b, idw::default_cylinders, g.cylinders);
    put_word(b, idw::default_heads, g.heads);
    put_word(b, idw::default_sectors, g.sectors);
    put_string(b, idw::serial, 10, cfg.serial);
    put_string(b, idw::firmware, 4, "OVS1.00");
    put_string(b, idw::model, 20, cfg.model);
    put_word(b, idw::max_multiple, 0x8010);  // READ/WRITE MULTIPLE up to 16 sectors
    put_word(b, idw::capabilities, static_cast<uint16_t>(0x0100 | (chs_only ? 0 : bit_lba_supported)));
    put_word(b, 50, 0x4000);
    put_word(b, idw::field_validity, 0x0007);
    put_word(b, idw::current_cylinders, g.cylinders);
    put_word(b, idw::current_heads, g.heads);
    put_word(b, idw::current_sectors, g.sectors);
    const uint64_t chs_capacity = g.product();
    put_word(b, idw::current_capacity, static_cast<uint16_t>(chs_capacity & 0xFFFF));
    put_word(b, idw::current_capacity + 1, static_cast<uint16_t>(chs_capacity >> 16));
    put_word(b, 59, 0x0110);  // multiple sector setting valid, 16
    if (!chs_only) {
        const uint32_t n28 = static_cast<uint32_t>(std::min<uint64_t>(cfg.sectors, lba28_limit));
        put_word(b, idw::lba28_count, static_cast<uint16_t>(n28 & 0xFFFF));
        put_word(b, idw::lba28_count + 1, static_cast<uint16_t>(n28 >> 16));
    }
    put_word(b, 63, 0x0007);  // multiword DMA 0-2 supported
    put_word(b, 64, 0x0003);  // PIO 3 and 4
    for (int w = 65; w <= 68; ++w)
        put_word(b, w, 120);  // cycle times, ns
    put_word(b, idw::major_version, 0x01F0);  // ATA/ATAPI-4 to ATA8-ACS
    put_word(b, idw::minor_version, 0x0042);  // ATA8-ACS revision 3f

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
    if (cfg.hpa_enabled)
        e1 |= bit_hpa;
    put_word(b, idw::cmdset_supported1, s1);
    put_word(b, idw::cmdset_supported2, s2);
    put_word(b, idw::cmdset_supported3, 0x4000);
    put_word(b, idw::cmdset_enabled1, e1);
    put_word(b, idw::cmdset_enabled2, e2);
    put_word(b, idw::cmdset_default, 0x4000);
    put_word(b, idw::udma_modes, 0x203F);  // UDMA 0-5 supported, mode 5 selected
    if (lba48)
        for (int i = 0; i < 4; ++i)
            put_word(b, idw::lba48_count + i, static_cast<uint16_t>(cfg.sectors >> (16 * i)));

    b[510] = integrity_signature;
    unsigned sum = 0;
    for (size_t i = 0; i < 511; ++i)
        sum += b[i];
    b[511] = static_cast<unsigned char>((256 - (sum & 0xFF)) & 0xFF);
    return b;
}

uint64_t identify_capacity(const unsigned char* block)
{
    if (identify_word(block, idw::cmdset_enabled2) & bit_lba48) {
        uint64_t n = 0;
        for (int i = 3; i >= 0; --i)
            n = (n << 16) | identify_word(block, idw::lba48_count + i);
        if (n != 0)
            return n;
    }
    if (identify_word(block, idw::capabilities) & bit_lba_supported)
        return (uint64_t(identify_word(block, idw::lba28_count + 1)) << 16) | identify_word(block, idw::lba28_count);
    return uint64_t(identify_word(block, idw::current_cylinders)) * identify_word(block, idw::current_heads) *
           identify_word(block, idw::current_sectors);
}

bool identify_supports_lba48(const unsigned char* block)
{
    return (identify_word(block, idw::cmdset_supported2) & bit_lba48) != 0;
}

std::string identify_string(const unsigned char* block, int first, int words)
{
    std::string text;
    for (int i = 0; i < words; ++i) {
        const uint16_t w = identify_word(block, first + i);
        text += static_cast<char>(w >> 8);
        text += static_cast<char>(w & 0xFF);
    }
    const size_t end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    const size_t begin = text.find_first_not_of(' ');
    text.erase(0, begin == std::string::npos ? text.size() : begin);
    return text;
}

bool identify_checksum_ok(const unsigned char* block)
{
    unsigned sum = 0;
    for (size_t i = 0; i < identify_size; ++i)
        sum += block[i];
    return block[510] == integrity_signature && (sum & 0xFF) == 0;
}

}  // namespace ov::sim
