// Pieces of the simulated bridge firmware: the record as it reads it, and the hole-aware
// copy. The firmware itself runs in service.cpp.
#include "firmware.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "identify.h"
#include "posix_io.h"
#include "raid.h"

namespace ov::sim {

record_summary decode_record(const unsigned char* sector)
{
    const raid_info r = raid_info::of(sector);
    if (!r.valid())
        return {};
    const std::string partner(reinterpret_cast<const char*>(r.partner_serial), sizeof r.partner_serial);
    return {true, r.mode(), r.member(), r.source(), r.capacity(), r.stamp_text(), partner};
}

bool record_sector(const unsigned char* identify, uint64_t image_sectors, uint64_t& lba)
{
    return record_lba_for(identify_capacity(identify), lba) && lba < image_sectors;
}

namespace {

std::string errno_text(const char* what, int err)
{
    return std::string(what) + ": " + std::strerror(err);
}

// All n bytes at offset at, through short writes and interruptions.
bool pwrite_all(int dst, const unsigned char* p, size_t n, uint64_t at, const char* what, std::string& error)
{
    if (io::pwrite_all(dst, p, n, static_cast<off_t>(at)))
        return true;
    error = errno_text(what, errno);
    return false;
}

bool write_zeros(int dst, uint64_t begin, uint64_t end, std::string& error)
{
    static const std::vector<unsigned char> zeros(1 << 20, 0);
    for (; begin < end; begin += zeros.size()) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(end - begin, zeros.size()));
        if (!pwrite_all(dst, zeros.data(), n, begin, "writing zeros to the target", error))
            return false;
    }
    return true;
}

// Makes [begin, end) of the target read zero, touching only the parts that hold data.
bool zero_range(int dst, uint64_t begin, uint64_t end, std::string& error)
{
    uint64_t pos = begin;
    while (pos < end) {
        off_t data = ::lseek(dst, static_cast<off_t>(pos), SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO)
                return true;  // no data up to the end of the file
            data = static_cast<off_t>(pos);  // no hole information: treat all as data
        }
        if (static_cast<uint64_t>(data) >= end)
            return true;
        off_t hole = ::lseek(dst, data, SEEK_HOLE);
        const uint64_t stop = hole < 0 ? end : std::min<uint64_t>(static_cast<uint64_t>(hole), end);
        const uint64_t from = static_cast<uint64_t>(data);
        if (::fallocate(dst, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                        static_cast<off_t>(stop - from)) != 0) {
            if (errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) {
                error = errno_text("punching a hole in the target", errno);
                return false;
            }
            if (!write_zeros(dst, from, stop, error))
                return false;
        }
        pos = stop;
    }
    return true;
}

bool copy_data(int src, int dst, uint64_t begin, uint64_t end, std::string& error)
{
    // In-kernel copy first; plain reads and writes where the file systems refuse it.
    loff_t in = static_cast<loff_t>(begin), out = static_cast<loff_t>(begin);
    while (static_cast<uint64_t>(in) < end) {
        const ssize_t n = ::copy_file_range(src, &in, dst, &out, static_cast<size_t>(end - static_cast<uint64_t>(in)), 0);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
            error = errno_text("copying to the target", errno);
            return false;
        }
        break;  // refused, or the source ended early: finish by hand
    }
    std::vector<unsigned char> buf(1 << 20);
    uint64_t pos = static_cast<uint64_t>(in);
    while (pos < end) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(end - pos, buf.size()));
        const ssize_t r = ::pread(src, buf.data(), want, static_cast<off_t>(pos));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            error = errno_text("reading the source", errno);
            return false;
        }
        if (r == 0) {
            error = "reading the source: unexpected end of the image";
            return false;
        }
        if (!pwrite_all(dst, buf.data(), static_cast<size_t>(r), pos, "writing the target", error))
            return false;
        pos += static_cast<uint64_t>(r);
    }
    return true;
}

}  // namespace

bool copy_extents(int src, int dst, uint64_t begin, uint64_t end, std::string& error)
{
    uint64_t pos = begin;
    while (pos < end) {
        uint64_t data;
        const off_t d = ::lseek(src, static_cast<off_t>(pos), SEEK_DATA);
        if (d >= 0)
            data = static_cast<uint64_t>(d);
        else if (errno == ENXIO)
            data = end;  // only a hole is left
        else
            data = pos;  // no hole information: copy everything
        data = std::min(data, end);
        if (data > pos && !zero_range(dst, pos, data, error))
            return false;
        if (data >= end)
            break;
        const off_t h = ::lseek(src, static_cast<off_t>(data), SEEK_HOLE);
        const uint64_t hole = h < 0 ? end : std::min<uint64_t>(static_cast<uint64_t>(h), end);
        if (!copy_data(src, dst, data, hole, error))
            return false;
        pos = hole;
    }
    return true;
}

}  // namespace ov::sim
