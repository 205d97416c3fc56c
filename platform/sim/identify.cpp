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

}  // namespace ov::sim
