// The simulator's files as a user may leave them: bridge.conf, disk.conf, failures, the
// sizes and numbers inside them, and the IDENTIFY block a disk.conf makes. The first byte
// picks the file; the rest is its text. What reads is written back and must read the same.
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "ovdisk.h"
#include "sim/conf.h"
#include "sim/failures.h"
#include "sim/identify.h"

namespace {

using namespace ov::sim;

bool same(const bridge_desc& a, const bridge_desc& b)
{
    return a.name == b.name && a.firewire == b.firewire && a.guid == b.guid && a.device_name == b.device_name &&
           a.plugged == b.plugged && a.rebuild_seconds == b.rebuild_seconds &&
           a.missing_properties == b.missing_properties &&
           // The USB fields are written only for a USB bridge.
           (a.firewire || (a.vendor_id == b.vendor_id && a.product_id == b.product_id &&
                           a.location_id == b.location_id && a.usb_serial == b.usb_serial));
}

bool same(const disk_desc& a, const disk_desc& b)
{
    return a.model == b.model && a.serial == b.serial && a.addressing == b.addressing &&
           a.hpa_enabled == b.hpa_enabled;
}

bool same(const std::vector<failure_desc>& a, const std::vector<failure_desc>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].call != b[i].call || a[i].mode != b[i].mode || a[i].port != b[i].port || a[i].skip != b[i].skip)
            return false;
    return true;
}

// An error names the file it is about.
void check_error(bool ok, const std::string& error, const std::string& path)
{
    FUZZ_CHECK(ok || error.compare(0, path.size(), path) == 0);
}

void bridge_conf(const std::string& text)
{
    bridge_desc cfg;
    cfg.name = "b";
    std::string error;
    const bool ok = parse_bridge_conf("bridge.conf", text, cfg, error);
    check_error(ok, error, "bridge.conf");
    if (!ok)
        return;
    bridge_desc again;
    again.name = "b";
    FUZZ_CHECK(parse_bridge_conf("again", format_bridge_conf(cfg), again, error));
    FUZZ_CHECK(same(cfg, again));
}

void disk_conf(const std::string& text)
{
    disk_desc cfg;
    std::string name = "d", error;
    const bool ok = parse_disk_conf("disk.conf", text, cfg, name, error);
    check_error(ok, error, "disk.conf");
    if (!ok)
        return;
    disk_desc again;
    std::string again_name;
    FUZZ_CHECK(parse_disk_conf("again", format_disk_conf(name, cfg), again, again_name, error));
    FUZZ_CHECK(same(cfg, again) && again_name == name);
}

void failures(const std::string& text)
{
    std::vector<failure_desc> list;
    std::string error;
    const bool ok = parse_failures("failures", text, list, error);
    check_error(ok, error, "failures");
    if (!ok)
        return;
    std::vector<failure_desc> again;
    for (const failure_desc& f : list)
        FUZZ_CHECK(valid_failure(f, error));
    FUZZ_CHECK(parse_failures("again", format_failures(list), again, error));
    FUZZ_CHECK(same(list, again));
}

void size(const std::string& text)
{
    uint64_t sectors = 0;
    std::string error;
    if (!parse_size(text, sectors, error)) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    FUZZ_CHECK(sectors != 0 && sectors < (1ULL << 48));
    uint64_t again = 0;
    FUZZ_CHECK(parse_size(std::to_string(sectors), again, error) && again == sectors);
}

void number(const std::string& text)
{
    int64_t value = 0, again = 0;
    if (!parse_i64(text, value))
        return;
    FUZZ_CHECK(parse_i64(std::to_string(value), again) && again == value);
    if (value >= 0)
        FUZZ_CHECK(parse_i64(hex(static_cast<uint64_t>(value)), again) && again == value);
}

// "size" on the first line, a disk.conf after it: the block the simulated disk answers
// with, decoded as the engine decodes it, is that disk.
void identity(const std::string& text)
{
    const size_t eol = text.find('\n');
    uint64_t sectors = 0;
    disk_desc cfg;
    std::string name, error;
    if (eol == std::string::npos || !parse_size(text.substr(0, eol), sectors, error) ||
        !parse_disk_conf("disk.conf", text.substr(eol + 1), cfg, name, error))
        return;
    cfg.sectors = sectors;
    const identify_block block = make_identify(cfg);
    FUZZ_CHECK(ov::identify_data::of(block.data()).checksum_ok());
    FUZZ_CHECK(identify_supports_lba48(block.data()) == (cfg.addressing == "lba48"));
    ov::ovdisk disk;
    disk.initialize(block.data());
    FUZZ_CHECK(disk.model == cfg.model && disk.serial == cfg.serial);
    if (cfg.addressing == "lba48" || (cfg.addressing == "lba28" && sectors <= ov::identify::lba28_limit))
        FUZZ_CHECK(identify_capacity(block.data()) == sectors);
    else
        FUZZ_CHECK(identify_capacity(block.data()) <= sectors);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size_)
{
    ovfuzz::input in(data, size_);
    const uint8_t which = in.byte();
    const std::string text = in.rest();
    switch (which % 6) {
    case 0: bridge_conf(text); break;
    case 1: disk_conf(text); break;
    case 2: failures(text); break;
    case 3: size(text); break;
    case 4: number(text); break;
    case 5: identity(text); break;
    }
    return 0;
}
