// Pieces of the simulated bridge firmware shared by the store (listing, demo), the
// enclosure (set assembly, rebuild copy) and the tools: the record as the firmware
// reads it, and the hole-aware sector copy.
#pragma once

#include <cstdint>
#include <string>

namespace ov::sim {

constexpr uint64_t sector_size = 512;

// What the firmware reads from a member's record, decoded by the engine's record type.
struct record_summary {
    bool valid = false;          // the "OV" signature
    unsigned mode = 0;
    unsigned member = 0;
    bool source = false;         // the rebuild source mark
    uint64_t capacity = 0;       // set size in sectors
    std::string stamp;           // up to the first NUL
    std::string partner_serial;  // raw IDENTIFY bytes of the other member
};
record_summary decode_record(const unsigned char* sector);

// The sector where the host looks for a disk's record, from the capacity its IDENTIFY
// block reports; false when there is none inside an image of image_sectors.
bool record_sector(const unsigned char* identify, uint64_t image_sectors, uint64_t& lba);

// Copies bytes [begin, end) of src to dst without reading or writing the source's holes:
// data extents are copied, and where the source has a hole the target is made to read
// zero (its blocks punched out, or zeros written where punching is not supported).
// Offsets are multiples of 512. Returns false with an errno-based message on failure.
bool copy_extents(int src, int dst, uint64_t begin, uint64_t end, std::string& error);

}  // namespace ov::sim
