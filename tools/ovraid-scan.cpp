// Scans the bridges once (the simulated enclosures, or a bridge library's) and prints what it found: each bridge's identity
// and each disk's model, serial, capacity and addressing mode, and the RAID state.
#include <cstdio>
#include <memory>
#include <string>

#include "ovtool.h"
#include "requests.h"
#include "backend.h"
#include "loader/loaded_library.h"
#include "udev/udev_registry.h"

namespace {

const char* addressing_name(uint32_t mode)
{
    switch (mode) {
    case ov::addressing_lba48: return "48-bit LBA";
    case ov::addressing_lba28: return "28-bit LBA";
    case ov::addressing_chs: return "CHS";
    default: return "?";
    }
}

const char* mode_name(uint32_t mode)
{
    switch (mode) {
    case ov::mode_raid0: return "RAID 0";
    case ov::mode_raid1: return "RAID 1";
    case ov::mode_span: return "span";
    default: return "none";
    }
}

std::string size_text(uint64_t sectors)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(sectors) * 512.0 / 1e9);
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    ov::backend_options options;
    bool rules = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--sim" && i + 1 < argc) {
            options.sim_root = argv[++i];
            options.sim_given = true;
        } else if (arg == "--library" && i + 1 < argc) {
            options.library = argv[++i];
        } else if (arg == "--udev-rules") {
            rules = true;
        } else {
            std::fprintf(stderr, "usage: ovraid-scan [--sim DIR] [--library PATH]\n"
                                 "       ovraid-scan --udev-rules [--library PATH]   the udev rules that give the\n"
                                 "                   logged-in user the library's bridges\n");
            return 2;
        }
    }
    std::string error;
    if (rules) {
        // From the library named, or the configured one; nothing is scanned.
        if (options.library.empty() && !ov::configured_library(options.library, error)) {
            std::fprintf(stderr, "ovraid-scan: %s\n", error.c_str());
            return 1;
        }
        if (options.library.empty()) {
            std::fprintf(stderr, "ovraid-scan: --udev-rules needs a bridge library (--library PATH)\n");
            return 2;
        }
        const auto lib = ov::loaded_library::open(options.library, error);
        if (!lib) {
            std::fprintf(stderr, "ovraid-scan: %s\n", error.c_str());
            return 1;
        }
        std::fputs(ov::udev_rules_for(lib->match_table()).c_str(), stdout);
        return 0;
    }
    const std::unique_ptr<ov::backend> bridges = ov::backend::open(options, error);
    if (!bridges) {
        std::fprintf(stderr, "ovraid-scan: %s\n", error.c_str());
        return 1;
    }
    bridges->install();
    // What the engine tells a user in passing (a bridge left out) goes to standard error.
    struct notices : ov::null_window {
        void notice(const std::string& text) override { std::fprintf(stderr, "ovraid-scan: %s\n", text.c_str()); }
    } window;
    ov::set_ctrller(&window);
    ov::set_localizer([](const std::string& key) {
        return key == "bridge_left_out" ? std::string("a bridge could not be opened and is left out of this scan") : key;
    });

    if (!ov::j.scandevices()) {
        std::fprintf(stderr, "ovraid-scan: the bridge list could not be read\n");
        return 1;
    }
    ov::j.updatediskinformation();
    ov::j.read_raid();
    std::printf("\n%zu bridge(s): %s\n", ov::j.chips.size(), bridges->description().c_str());
    for (const auto& [key, index] : ov::j.controller_map) {
        const ov::ovchip& chip = ov::j.chips[static_cast<size_t>(index)];
        const ov::controller_t& id = chip.identity;
        if (id.is_firewire)
            std::printf("\nFireWire bridge, GUID %s, presents \"%s\"\n",
                        ov::inttohexstring(static_cast<int64_t>(id.guid), 0).c_str(), chip.get_raid_name().c_str());
        else
            std::printf("\nUSB bridge %04X:%04X, location %s, serial \"%s\", presents \"%s\"\n", id.vendor_id,
                        id.product_id, ov::inttohexstring(static_cast<uint32_t>(id.location_id), 8).c_str(),
                        id.usb_serial.c_str(), chip.get_raid_name().c_str());
        if (chip.raid_configured)
            std::printf("  set: %s, %s%s\n", mode_name(chip.raid_mode), size_text(chip.raid_capacity).c_str(),
                        chip.rebuilding ? ", rebuilding" : "");
        else if (chip.disks[0].record_unknown || chip.disks[1].record_unknown ||
                 (chip.disks[0].register_present && !chip.disks[0].present) ||
                 (chip.disks[1].register_present && !chip.disks[1].present))
            std::printf("  set: unknown (a disk did not answer)\n");
        else
            std::printf("  set: none\n");
        for (int d = 0; d < 2; ++d) {
            const ov::ovdisk& disk = chip.disks[static_cast<size_t>(d)];
            // A disk that is there but did not answer, or whose record could not be read, is
            // unknown: never shown as an empty bay or a disk without a record.
            if (!disk.present) {
                std::printf("  disk %d: %s\n", d + 1, disk.register_present ? "present, did not answer" : "none");
                continue;
            }
            std::printf("  disk %d: %s, serial %s, %s (%llu sectors), %s, record: %s%s\n", d + 1, disk.model.c_str(),
                        disk.serial.c_str(), size_text(disk.capacity).c_str(),
                        static_cast<unsigned long long>(disk.capacity), addressing_name(disk.addressing_mode),
                        disk.record_unknown ? "unknown (the read failed)" : mode_name(disk.raid_mode),
                        disk.incomplete_copy ? (", incomplete copy of " + disk.copy_source_serial).c_str() : "");
        }
    }
    ov::set_ctrller(nullptr);
    ov::set_localizer(nullptr);
    ov::install_library(nullptr);
    ov::install_registry(nullptr);
    return 0;
}
