// What users feel of the engine, on the simulated enclosures:
//  1. the engine's own work per bridge in a scan, identity read and record read,
//     with every specified pause taken out (time scale 1e9); target <= 2 ms per bridge;
//  2. the CPU cost of watching an idle RAID 1 (1 s watcher, 4 s poller); target <= 0.1 %.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "clock.h"
#include "ovtool.h"
#include "sim/enclosure.h"
#include "sim/store.h"

namespace {

double cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string make_root(const char* name)
{
    std::string root = std::filesystem::temp_directory_path() / name;
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::filesystem::create_directories(root, ec);
    return root;
}

bool scan_cost(int bridges)
{
    const std::string root = make_root("ovraid-bench-scan");
    ov::sim::store store(root);
    std::string error;
    for (int b = 0; b < bridges; ++b) {
        ov::sim::bridge_desc cfg;
        cfg.name = "bridge" + std::to_string(b);
        cfg.location_id = 0x14100000 + b;
        cfg.usb_serial = "BENCH" + std::to_string(b);
        if (!store.add_bridge(cfg, error))
            return std::fprintf(stderr, "%s\n", error.c_str()), false;
        for (int port = 0; port < 2; ++port) {
            ov::sim::disk_desc disk;
            disk.model = "Bench Disk 1000";
            disk.serial = "B" + std::to_string(b) + "P" + std::to_string(port);
            disk.sectors = 1953525168ULL;
            const std::string name = cfg.name + "-" + std::to_string(port);
            if (!store.make_disk(name, disk, error) || !store.insert_disk(cfg.name, port, name, error))
                return std::fprintf(stderr, "%s\n", error.c_str()), false;
        }
    }
    ov::sim::enclosure sim(root);
    ov::install_library(&sim);
    ov::install_registry(&sim);
    ov::set_time_scale(1e9);
    const int rounds = 20;
    double worst = 0, total = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        ov::j.scandevices();
        ov::j.updatediskinformation();
        ov::j.read_raid();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        worst = std::max(worst, ms);
        total += ms;
    }
    std::fprintf(stderr, "\nscan + identity + records, %d bridges: mean %.3f ms, worst %.3f ms, %.3f ms per bridge "
                "(target <= 2 ms)\n", bridges, total / rounds, worst, total / rounds / bridges);
    ov::j.flush_chips();
    ov::install_library(nullptr);
    ov::install_registry(nullptr);
    std::filesystem::remove_all(root);
    return total / rounds / bridges <= 2.0;
}

bool idle_watch_cost(int seconds)
{
    const std::string root = make_root("ovraid-bench-idle");
    ov::sim::store store(root);
    std::string error;
    if (!store.create_demo(error))
        return std::fprintf(stderr, "%s\n", error.c_str()), false;
    ov::sim::enclosure sim(root);
    ov::install_library(&sim);
    ov::install_registry(&sim);
    ov::set_time_scale(1.0);
    ov::j.scandevices();
    ov::j.updatediskinformation();
    ov::j.read_raid();
    ov::ovchip* mirror = nullptr;
    for (ov::ovchip& chip : ov::j.chips)
        if (chip.raid_configured && chip.raid_mode == ov::mode_raid1)
            mirror = &chip;
    if (!mirror)
        return std::fprintf(stderr, "no RAID 1 in the demo\n"), false;
    ov::j.current = mirror->identity;
    mirror->select_chip();
    mirror->polling = true;
    mirror->start_polling();
    const double cpu0 = cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    ov::pause_ms(static_cast<uint64_t>(seconds) * 1000);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double share = (cpu_seconds() - cpu0) / wall * 100.0;
    std::fprintf(stderr, "idle RAID 1 watched by both monitors for %.0f s: %.4f %% of one core (target <= 0.1 %%)\n", wall,
                share);
    ov::j.stop_monitors(ov::j.get_controller_num(ov::j.current));
    ov::j.flush_chips();
    ov::install_library(nullptr);
    ov::install_registry(nullptr);
    std::filesystem::remove_all(root);
    return share <= 0.1;
}

}  // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const bool scan_ok = scan_cost(32);
    const bool idle_ok = idle_watch_cost(seconds);
    return scan_ok && idle_ok ? 0 : 1;
}
