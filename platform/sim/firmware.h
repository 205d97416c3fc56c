// Pieces of the simulated bridge firmware shared by the store (listing, demo), the
// enclosure (set assembly, rebuild copy) and the tools: the record as the firmware
// reads it, and the hole-aware sector copy.
#pragma once

#include <cstdint>
#include <string>

namespace ov::sim {

constexpr uint64_t sector_size = 512;

// What the firmware reads from a member's record: signature, mode, source mark, size.
struct record_summary {
    bool valid = false;        // bytes 0-1 are "OV"
    unsigned mode = 0;         // byte 2
    unsigned member = 0;       // byte 3
    bool source = false;       // byte 4 bit 7
    uint64_t capacity = 0;     // bytes 8-15, little-endian
    std::string stamp;         // bytes 480-495 up to the first NUL
    std::string partner_serial;  // bytes 16-35, raw IDENTIFY bytes of the other member
};
record_summary decode_record(const unsigned char* sector);

// Copies bytes [begin, end) of src to dst without reading or writing the source's holes:
// data extents are copied, and where the source has a hole the target is made to read
// zero (its blocks punched out, or zeros written where punching is not supported).
// Offsets are multiples of 512. Returns false with an errno-based message on failure.
bool copy_extents(int src, int dst, uint64_t begin, uint64_t end, std::string& error);

}  // namespace ov::sim
