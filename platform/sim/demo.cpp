// The demo: what a new user sees first, a working mirror and an enclosure with two blank
// disks to build one from.
#include <fcntl.h>

#include <algorithm>

#include "firmware.h"
#include "identify.h"
#include "posix_io.h"
#include "raid.h"
#include "store.h"

namespace ov::sim {

namespace {

bool pwrite_sector(const std::string& image, uint64_t lba, const unsigned char* data, std::string& error)
{
    const io::unique_fd fd = io::open_fd(image, O_WRONLY);
    if (!fd || !io::pwrite_all(fd.get(), data, 512, static_cast<off_t>(lba * 512))) {
        error = io::errno_text(image, errno);
        return false;
    }
    return true;
}

}  // namespace

bool store::create_demo(std::string& error)
{
    if (!bridges().empty()) {
        error = root_ + " already holds simulated bridges; the demo goes into an empty root";
        return false;
    }
    bridge_desc usb;
    usb.name = "usb-raid";
    usb.firewire = false;
    usb.vendor_id = 0x1E91;
    usb.product_id = 0x0A12;
    usb.location_id = 0x14200000;
    usb.usb_serial = "OVB20110203A1";
    usb.device_name = "RAID Volume";
    bridge_desc fw;
    fw.name = "firewire-pair";
    fw.firewire = true;
    fw.guid = 0x80004601A2B3C4D5ULL;
    fw.device_name = "RAID Volume";

    const uint64_t one_tb = 1953525168, two_tb = 3907029168, three_tb = 5860533168;
    struct demo_disk {
        const char* name;
        const char* bridge;
        int port;
        disk_desc cfg;
    };
    const demo_disk disks[] = {
        {"mirror-a", "usb-raid", 0, {"Kestrel KS1000 SATA", "KS1T04A7731", one_tb, "lba48", false}},
        {"mirror-b", "usb-raid", 1, {"Kestrel KS1000 SATA", "KS1T04A7802", one_tb, "lba48", false}},
        {"blank-2tb", "firewire-pair", 0, {"Northwind ND2000AS", "NW2K9C11245", two_tb, "lba48", false}},
        {"blank-3tb", "firewire-pair", 1, {"Northwind ND3000AS", "NW3K1D00318", three_tb, "lba48", false}},
    };
    if (!add_bridge(usb, error) || !add_bridge(fw, error))
        return false;
    // Sparse, the demo's disks take a few KiB but look like terabytes: a backup tool that
    // honours the cache directory tag leaves them out instead of copying zeros.
    if (!io::atomic_replace(root_ + "/CACHEDIR.TAG",
                            "Signature: 8a477f597d28d172789f06886806bc55\n"
                            "# Simulated disks of ovraid: sparse images, terabytes in apparent size.\n",
                            error))
        return false;
    for (const auto& d : disks)
        if (!make_disk(d.name, d.cfg, error) || !insert_disk(d.bridge, d.port, d.name, error))
            return false;

    // A healthy mirror: each record names the other disk by its raw IDENTIFY bytes.
    const identify_block id0 = make_identify(disks[0].cfg), id1 = make_identify(disks[1].cfg);
    const uint64_t c0 = identify_capacity(id0.data()), c1 = identify_capacity(id1.data());
    const uint64_t size = std::min(c0, c1) - 16;
    unsigned char stamp[16] = {};
    GetTimeString(stamp);
    using namespace identify;
    const raid_info r0 = create_raid_struct(mode_raid1, 0, 0, 0, size, id1.data() + serial_offset,
                                            id1.data() + model_offset, size >= two_tb_sectors, stamp);
    const raid_info r1 = create_raid_struct(mode_raid1, 1, 0, 0, size, id0.data() + serial_offset,
                                            id0.data() + model_offset, size >= two_tb_sectors, stamp);
    uint64_t lba0 = 0, lba1 = 0;
    return record_lba_for(c0, lba0) && record_lba_for(c1, lba1) &&
           pwrite_sector(port_image("usb-raid", 0), lba0, r0.data(), error) &&
           pwrite_sector(port_image("usb-raid", 1), lba1, r1.data(), error);
}

}  // namespace ov::sim
