// Writes the seed corpora of the fuzz targets from the engine's and the simulator's own
// builders: real IDENTIFY blocks, records, statuses, files and command lines.
//   fuzz_seeds DIR     writes DIR/<target>/<seed>; found crash inputs there are kept
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "ata_identify.h"
#include "library.h"
#include "raid.h"
#include "sim/conf.h"
#include "sim/failures.h"

namespace {

using bytes = std::string;
std::string root;

void put(const std::string& target, const std::string& name, const bytes& content)
{
    const std::string dir = root + "/" + target;
    ::mkdir(root.c_str(), 0755);
    ::mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/" + name, std::ios::binary) << content;
}

bytes raw(const void* data, size_t n)
{
    return bytes(static_cast<const char*>(data), n);
}

struct disk {
    std::string model, serial;
    uint64_t sectors;
    uint32_t addressing = ov::addressing_lba48;
    ov::identify_data block() const { return ov::build_identify({model, serial, sectors, addressing}); }
};

const disk big{"OV Disk 1000", "WD-0001", 1953525168};
const disk other{"OV Disk 1000", "WD-0002", 1953525168};
const disk small28{"Old Disk 80", "OLD-80", 156301488, ov::addressing_lba28};
const disk tiny_chs{"Tiny CHS", "CHS-1", 1032192, ov::addressing_chs};
const disk huge{"OV Disk 4000", "WD-4000", 7814037168};
const disk target{"OV Disk 1000", "FUZZ-TARGET", 1953525168};
const disk source{"OV Disk 1000", "FUZZ-SOURCE", 1953525168};

const unsigned char stamp_a[16] = "20260101120000";
const unsigned char stamp_b[16] = "20260202120000";

// The record a disk in port carries for a set with partner.
bytes record(uint32_t mode, int port, const disk& self, const disk& partner, const unsigned char* stamp,
             bool source_mark = false)
{
    (void)self;
    const ov::identify_data p = partner.block();
    uint64_t size = 0;
    if (mode == ov::mode_raid1)
        size = std::min(self.sectors, partner.sectors) - 16;
    else if (mode == ov::mode_raid0)
        size = 2 * std::min(self.sectors, partner.sectors) - 32;
    else
        size = self.sectors + partner.sectors - 65568;
    const ov::raid_info r = ov::create_raid_struct(
        static_cast<int>(mode), port, source_mark ? ov::source_mark : 0, 0, size,
        p.bytes.data() + ov::identify::serial_offset, p.bytes.data() + ov::identify::model_offset,
        size >= ov::two_tb_sectors, stamp);
    return raw(r.data(), sizeof r);
}

bytes blank()
{
    return bytes(512, '\0');
}

bytes identify_of(const disk& d)
{
    const ov::identify_data b = d.block();
    return raw(b.bytes.data(), b.bytes.size());
}

// The chip target's input: flags, panel row, two IDENTIFY blocks, two records.
void chip(const std::string& name, uint8_t flags, const disk& d0, const disk& d1, const bytes& r0, const bytes& r1)
{
    const char row = 1;  // the mirror
    put("chip", name, bytes{static_cast<char>(flags), row} + identify_of(d0) + identify_of(d1) + r0 + r1);
}

void identify_seeds()
{
    for (const disk* d : {&big, &small28, &tiny_chs, &huge})
        put("identify", d->serial, identify_of(*d));
    ov::identify_data hpa = ov::build_identify({"HPA Disk", "HPA-1", 976773168, ov::addressing_lba48, true});
    put("identify", "hpa", raw(hpa.bytes.data(), hpa.bytes.size()));
}

void chip_seeds()
{
    const uint8_t regs = 2 | 4;
    chip("mirror", regs, big, other, record(2, 0, big, other, stamp_a), record(2, 1, other, big, stamp_a));
    chip("mirror-rebuilding", regs, big, other, record(2, 0, big, other, stamp_a, true),
         record(2, 1, other, big, stamp_a));
    chip("mirror-out-of-step", regs, big, other, record(2, 0, big, other, stamp_a), record(2, 1, other, big, stamp_b));
    chip("mirror-half", 2 | 16, big, disk{}, record(2, 0, big, other, stamp_a), blank());
    chip("stripe", regs, big, other, record(1, 0, big, other, stamp_a), record(1, 1, other, big, stamp_a));
    chip("span-firewire", regs | 1, big, huge, record(4, 0, big, huge, stamp_a), record(4, 1, huge, big, stamp_a));
    chip("stripe-mismatch", regs, big, small28, record(1, 0, big, other, stamp_a), record(1, 1, small28, big, stamp_a));
    chip("partial-copy", regs, target, other, record(2, 0, target, source, stamp_a), blank());
    chip("silent-partner", regs | 16, big, other, record(2, 0, big, other, stamp_a), blank());
    chip("unreadable", regs | 32, big, tiny_chs, blank(), blank());
    chip("blank-pair", regs | 128, big, other, blank(), blank());
}

void rebuild_status_seeds()
{
    const uint64_t total = 1953525152;
    bytes run;
    for (uint64_t step = 0; step <= 10; ++step) {
        const ov::rebuild_status s = ov::rebuild_status::encode(total, total / 10 * step);
        run += raw(s.data(), sizeof s) + bytes{char(20), char(step == 10)};
    }
    put("rebuild_status", "whole-copy", run);
    const ov::rebuild_status start = ov::rebuild_status::encode(total, 0);
    put("rebuild_status", "start", raw(start.data(), sizeof start) + bytes{char(4), 0});
    const ov::rebuild_status over = ov::rebuild_status::encode(1000, 2500);
    put("rebuild_status", "past-total", raw(over.data(), sizeof over) + bytes{char(4), 1});
}

void sim_file_seeds()
{
    using namespace ov::sim;
    const auto file = [](const std::string& name, char which, const std::string& text) {
        put("sim_files", name, bytes{which} + text);
    };
    bridge_desc usb;
    usb.usb_serial = "ABC123";
    usb.location_id = 0x14100000;
    usb.missing_properties = {"USB Serial Number"};
    file("bridge-usb", 0, format_bridge_conf(usb));
    bridge_desc fw;
    fw.firewire = true;
    fw.guid = 0x0030E0F4E0001234ULL;
    fw.plugged = false;
    fw.rebuild_seconds = 0;
    file("bridge-firewire", 0, format_bridge_conf(fw));
    disk_desc d;
    d.model = "OV Disk 1000";
    d.serial = "WD-0001";
    file("disk", 1, format_disk_conf("disk1", d));
    d.addressing = "chs";
    d.hpa_enabled = true;
    file("disk-chs", 1, format_disk_conf("old", d));
    file("failures", 2, format_failures({{"ovSetRaidInfo", "once", 1, 0}, {"ovGetDiskIdentify", "vanish", -1, 3},
                                         {"ovGetRegister", "mismatch", 0, 0}, {"ovWarmBoot", "always", -1, 0}}));
    for (const char* s : {"1TB", "500GB", "2TiB", "750MiB", "1953525168", "1.5TB"})
        file(std::string("size-") + s, 3, s);
    for (const char* n : {"0x1E91", "-5", "9223372036854775807"})
        file(std::string("number-") + n, 4, n);
    d.addressing = "lba28";
    file("identity-lba28", 5, "80GB\n" + format_disk_conf("disk2", d));
    d.addressing = "lba48";
    file("identity-lba48", 5, "4TB\n" + format_disk_conf("disk3", d));
}

void cli_seeds()
{
    const auto line = [](const std::string& name, const std::vector<std::string>& words) {
        bytes b;
        for (size_t i = 0; i < words.size(); ++i)
            b += (i ? bytes(1, '\0') : bytes()) + words[i];
        put("cli_args", name, b);
    };
    line("status", {"status", "--json"});
    line("rebuild", {"rebuild", "1", "--from", "2", "--yes", "--wait"});
    line("monitor", {"monitor", "--interval", "5", "--program", "/bin/true", "--no-syslog", "--oneshot"});
    line("create", {"--sim", "/tmp/sim", "create", "1", "mirror", "--force"});
    line("clear", {"--library", "/usr/lib/libbridge.so", "clear-disk", "1", "2", "-y"});
    line("help", {"help", "rebuild"});
    line("watch", {"status", "--watch", "--interval", "0.5"});
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-DIRECTORY\n", argv[0]);
        return 2;
    }
    root = argv[1];
    identify_seeds();
    chip_seeds();
    rebuild_status_seeds();
    sim_file_seeds();
    cli_seeds();
    return 0;
}
