// Little-endian fields of the on-disk and on-wire formats (IDENTIFY words, the RAID
// record's capacity, the rebuild status). Assembled byte by byte, so no host swaps them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ov::le {

constexpr uint64_t load(const unsigned char* p, size_t bytes)
{
    uint64_t value = 0;
    for (size_t i = bytes; i-- > 0;)
        value = (value << 8) | p[i];
    return value;
}

constexpr void store(unsigned char* p, uint64_t value, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i, value >>= 8)
        p[i] = static_cast<unsigned char>(value & 0xFF);
}

constexpr uint16_t load16(const unsigned char* p) { return static_cast<uint16_t>(load(p, 2)); }
constexpr uint32_t load32(const unsigned char* p) { return static_cast<uint32_t>(load(p, 4)); }
constexpr uint64_t load48(const unsigned char* p) { return load(p, 6); }
constexpr uint64_t load64(const unsigned char* p) { return load(p, 8); }
constexpr void store16(unsigned char* p, uint16_t value) { store(p, value, 2); }
constexpr void store32(unsigned char* p, uint32_t value) { store(p, value, 4); }
constexpr void store48(unsigned char* p, uint64_t value) { store(p, value, 6); }
constexpr void store64(unsigned char* p, uint64_t value) { store(p, value, 8); }

}  // namespace ov::le
