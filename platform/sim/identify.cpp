#include "identify.h"

namespace ov::sim {

namespace {

// "lba48", "lba28" or "chs" as in disk.conf; any other name is a 28-bit disk.
uint32_t addressing_named(const std::string& name)
{
    return name == "lba48" ? addressing_lba48 : name == "chs" ? addressing_chs : addressing_lba28;
}

}  // namespace

identify_block make_identify(const disk_desc& cfg)
{
    return build_identify({cfg.model, cfg.serial, cfg.sectors, addressing_named(cfg.addressing), cfg.hpa_enabled})
        .bytes;
}

std::string identify_doubts(const identify_block& block, uint64_t image_sectors)
{
    const identify_data id = identify_data::of(block.data());
    if (!identify_signed(block.data()))
        return "not signed (word 255), a host takes it for no answer";
    if (!id.checksum_ok())
        return "checksum wrong (word 255), a host takes it for no answer";
    const uint64_t claimed = id.capacity().sectors;
    if (claimed > image_sectors)
        return "claims " + std::to_string(claimed) + " sectors, the image holds " + std::to_string(image_sectors);
    return std::string();
}

}  // namespace ov::sim
