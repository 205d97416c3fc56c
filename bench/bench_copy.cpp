// The simulated rebuild copy against cp --sparse=always: a 2 TB sparse image holding
// about 1 GiB of data in scattered extents, copied by
//   - cp --sparse=always,
//   - copy_extents (the hole-aware copy alone),
//   - the enclosure's unpaced rebuild (set assembly, copy thread, presence checks).
// Target: the rebuild takes at most 1.5 times as long as cp.
// Usage: bench_copy [DIR] [RUNS]   (DIR: where the images go, default /tmp; a few KiB
// of metadata plus 2 GiB of data per copy)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "clock.h"
#include "raid.h"
#include "sim/enclosure.h"
#include "sim/firmware.h"
#include "sim/identify.h"
#include "sim/store.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr uint64_t disk_sectors = 3907029168ULL;  // 2 TB
constexpr size_t extent_bytes = 4 << 20;
constexpr int extents = 256;                       // 1 GiB of data

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

[[noreturn]] void die(const std::string& what)
{
    std::fprintf(stderr, "bench_copy: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

// Scattered 4 MiB extents of random bytes (never zero, so no copier can skip them).
std::vector<uint64_t> fill_source(const std::string& image)
{
    const int fd = ::open(image.c_str(), O_WRONLY);
    if (fd < 0)
        die(image);
    std::mt19937_64 gen(42);
    std::vector<unsigned char> buf(extent_bytes);
    std::vector<uint64_t> offsets;
    const uint64_t span = (disk_sectors - 64) * 512 / extents;
    for (int i = 0; i < extents; ++i) {
        for (size_t j = 0; j < buf.size(); j += 8) {
            const uint64_t r = gen() | 1;
            std::memcpy(buf.data() + j, &r, 8);
        }
        const uint64_t off = (span * i + (gen() % (span - extent_bytes))) & ~uint64_t(4095);
        if (::pwrite(fd, buf.data(), buf.size(), static_cast<off_t>(off)) != static_cast<ssize_t>(buf.size()))
            die(image);
        offsets.push_back(off);
    }
    ::close(fd);
    return offsets;
}

bool same_extents(const std::string& a, const std::string& b, const std::vector<uint64_t>& offsets)
{
    const int fa = ::open(a.c_str(), O_RDONLY), fb = ::open(b.c_str(), O_RDONLY);
    std::vector<unsigned char> x(extent_bytes), y(extent_bytes);
    bool same = fa >= 0 && fb >= 0;
    for (uint64_t off : offsets) {
        if (!same)
            break;
        same = ::pread(fa, x.data(), x.size(), static_cast<off_t>(off)) == static_cast<ssize_t>(x.size()) &&
               ::pread(fb, y.data(), y.size(), static_cast<off_t>(off)) == static_cast<ssize_t>(y.size()) && x == y;
    }
    struct stat sa, sb;
    same = same && ::fstat(fa, &sa) == 0 && ::fstat(fb, &sb) == 0 && sa.st_size == sb.st_size &&
           sb.st_blocks < sa.st_blocks + 2048;  // holes stayed holes
    ::close(fa);
    ::close(fb);
    return same;
}

void fresh_sparse(const std::string& path)
{
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(disk_sectors * 512)) != 0)
        die(path);
    ::close(fd);
}

double time_cp(const std::string& src, const std::string& dst)
{
    ::unlink(dst.c_str());
    ::sync();
    const auto start = clock_type::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execlp("cp", "cp", "--sparse=always", src.c_str(), dst.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double t = seconds_since(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench_copy: cp failed\n");
        std::exit(1);
    }
    return t;
}

double time_copy_extents(const std::string& src, const std::string& dst)
{
    fresh_sparse(dst);
    ::sync();
    const auto start = clock_type::now();
    const int s = ::open(src.c_str(), O_RDONLY), d = ::open(dst.c_str(), O_RDWR);
    std::string error;
    if (s < 0 || d < 0 || !ov::sim::copy_extents(s, d, 0, disk_sectors * 512, error)) {
        std::fprintf(stderr, "bench_copy: copy_extents: %s\n", error.c_str());
        std::exit(1);
    }
    ::close(s);
    ::close(d);
    return seconds_since(start);
}

// A whole simulated rebuild: a USB bridge whose port-0 disk is the marked source.
double time_rebuild(const std::string& root, const std::string& source_image, std::string& target_image)
{
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    ov::sim::store st(root);
    std::string error;
    ov::sim::bridge_desc b;
    b.name = "bench";
    b.rebuild_seconds = 0;
    ov::sim::disk_desc d{"Bench Disk", "B0", disk_sectors, "lba48", false};
    if (!st.add_bridge(b, error) || !st.make_disk("src", d, error) || !st.make_disk("dst", d, error) ||
        !st.insert_disk("bench", 0, "src", error) || !st.insert_disk("bench", 1, "dst", error)) {
        std::fprintf(stderr, "bench_copy: %s\n", error.c_str());
        std::exit(1);
    }
    // The source image is a hard link to the prepared one: no second gigabyte to write.
    const std::string src = st.port_image("bench", 0);
    ::unlink(src.c_str());
    if (::link(source_image.c_str(), src.c_str()) != 0)
        die(src);
    const uint64_t set = disk_sectors - 16;
    unsigned char none[40] = {}, stamp[16] = "20110203090507";
    for (int port = 0; port < 2; ++port) {
        const ov::raid_info r = ov::create_raid_struct(ov::mode_raid1, port, port == 0 ? ov::source_mark : 0, 0,
                                                       set, none, none, false, stamp);
        const int fd = ::open(st.port_image("bench", port).c_str(), O_WRONLY);
        if (fd < 0 || ::pwrite(fd, r.data(), 512, static_cast<off_t>((disk_sectors - 15) * 512)) != 512)
            die("record");
        ::close(fd);
    }
    target_image = st.port_image("bench", 1);
    ::sync();
    const auto start = clock_type::now();
    ov::sim::enclosure e(root);
    e.sync();  // plugging in assembles the set and starts the copy
    while (e.rebuild_running("bench"))
        ov::pause_ms(1);
    return seconds_since(start);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string base = argc > 1 ? argv[1] : "/tmp";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    char pattern[4096];
    std::snprintf(pattern, sizeof pattern, "%s/bench-copy-XXXXXX", base.c_str());
    if (::mkdtemp(pattern) == nullptr)
        die(pattern);
    const std::string dir = pattern;
    const std::string src = dir + "/source.img", cp_dst = dir + "/cp.img", ext_dst = dir + "/extents.img";
    fresh_sparse(src);
    const auto offsets = fill_source(src);
    std::printf("source: %.2f TB sparse image, %d MiB of data in %d extents, %s\n", disk_sectors * 512 / 1e12,
                static_cast<int>(extents * (extent_bytes >> 20)), extents, dir.c_str());

    std::vector<double> cp_t, ext_t, reb_t;
    std::string target;
    bool correct = true;
    for (int i = 0; i < runs; ++i) {
        cp_t.push_back(time_cp(src, cp_dst));
        correct = correct && same_extents(src, cp_dst, offsets);
        ext_t.push_back(time_copy_extents(src, ext_dst));
        correct = correct && same_extents(src, ext_dst, offsets);
        reb_t.push_back(time_rebuild(dir + "/sim", src, target));
        correct = correct && same_extents(src, target, offsets);
    }
    const double cp_m = median(cp_t), ext_m = median(ext_t), reb_m = median(reb_t);
    std::printf("cp --sparse=always      median %.3f s\n", cp_m);
    std::printf("copy_extents            median %.3f s  (%.2f x cp)\n", ext_m, ext_m / cp_m);
    std::printf("enclosure rebuild copy  median %.3f s  (%.2f x cp)\n", reb_m, reb_m / cp_m);
    std::printf("copies identical to the source: %s\n", correct ? "yes" : "NO");
    const bool within = reb_m <= 1.5 * cp_m;
    std::printf("target: rebuild at most 1.5 x cp: %s\n", within ? "met" : "MISSED");

    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return correct && within ? 0 : 1;
}
