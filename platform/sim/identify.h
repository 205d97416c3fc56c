// ATA IDENTIFY DEVICE data of a simulated disk: the engine's block built from the
// disk's description, the way a real drive fills it.
#pragma once

#include <array>

#include "ata_identify.h"
#include "store.h"

namespace ov::sim {

using identify_block = std::array<unsigned char, identify_size>;

// The engine's decoders, for the simulator's readers of the block.
using ov::identify_capacity;
using ov::identify_supports_lba48;

// The block a disk of that identity answers with; cfg.sectors is its capacity.
identify_block make_identify(const disk_desc& cfg);

// What a host would stumble on in a block given by identify.bin, for the messages about
// it: unsigned, a wrong checksum, or a capacity other than the image's ("" when none).
// The block is still served as it is: the file is there to show hosts odd disks.
std::string identify_doubts(const identify_block& block, uint64_t image_sectors);

}  // namespace ov::sim
