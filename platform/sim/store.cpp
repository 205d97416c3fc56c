#include "store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "firmware_state.h"
#include "identify.h"
#include "posix_io.h"

namespace fs = std::filesystem;

namespace ov::sim {

namespace {

using io::path_exists;

bool is_dir(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Identity files are small; a huge one is a mistake, not something to load.
bool read_identity_file(const std::string& path, std::string& text, std::string& error)
{
    if (io::read_file(path, text, error, 1u << 20))
        return true;
    if (errno == EFBIG)
        error = path + ": file too large for an identity file";
    return false;
}

bool image_sectors(const std::string& path, uint64_t& sectors, std::string& error)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error = io::errno_text(path, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    if (st.st_size == 0 || st.st_size % 512 != 0) {
        error = path + ": size " + std::to_string(st.st_size) + " bytes is not a positive multiple of 512";
        return false;
    }
    sectors = static_cast<uint64_t>(st.st_size) / 512;
    // A sparse file can be any size; IDENTIFY cannot tell a host of more than 48 bits.
    if (sectors >= (1ULL << 48)) {
        error = path + ": " + std::to_string(sectors) + " sectors, beyond what 48-bit addressing reaches";
        return false;
    }
    return true;
}

// Something is there, a dangling link too (stat would say nothing is).
bool entry_exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool bay_not_a_directory(const std::string& dir)
{
    struct stat st;
    return entry_exists(dir) && (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode));
}

namespace {

std::string real_path(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return std::string();
    std::string out(real);
    std::free(real);
    return out;
}

}  // namespace

bool within_root(const std::string& root, const std::string& path, std::string& error)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return true;
    const std::string real = real_path(path);
    if (real.empty()) {
        const int err = errno;
        char target[4096];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        const std::string to = n > 0 ? escaped(std::string(target, static_cast<size_t>(n))) : std::string();
        error = err == ELOOP    ? path + ": a loop of symbolic links"
                : err == ENOENT ? path + ": a symbolic link to nowhere (" + to + ")"
                                : io::errno_text(path, err);
        return false;
    }
    if (::stat(real.c_str(), &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)))
        return true;
    const std::string base = real_path(root);
    if (base.empty() || (real != base && real.compare(0, base.size() + 1, base + "/") != 0)) {
        error = path + ": leads to " + escaped(real) + ", outside the simulation; its files and disks stay inside it";
        return false;
    }
    return true;
}

store::store(std::string root) : root_(std::move(root)) {}

std::string store::default_root()
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/ovraid/sim";
    std::string home;
    if (const char* h = std::getenv("HOME"); h != nullptr && h[0] != '\0')
        home = h;
    else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
        home = pw->pw_dir;
    else
        home = "/tmp";
    return home + "/.local/share/ovraid/sim";
}

bool store::exists() const
{
    return is_dir(root_);
}

bool store::valid_name(const std::string& name)
{
    if (name.empty() || name.size() > 64 || name[0] == '.' || name == shelf_dir_name)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.';
    });
}

std::string store::bridge_dir(const std::string& bridge) const
{
    return root_ + "/" + bridge;
}

std::string store::port_dir(const std::string& bridge, int port) const
{
    return bridge_dir(bridge) + "/port" + std::to_string(port);
}

std::string store::shelf_dir(const std::string& disk) const
{
    return disk.empty() ? root_ + "/" + shelf_dir_name : root_ + "/" + shelf_dir_name + "/" + disk;
}

std::string store::port_image(const std::string& bridge, int port) const
{
    if (!valid_name(bridge) || (port != 0 && port != 1))
        return std::string();
    const std::string p = port_dir(bridge, port) + "/" + image_file;
    return path_exists(p) ? p : std::string();
}

std::string store::shelf_image(const std::string& disk) const
{
    if (!valid_name(disk))
        return std::string();
    const std::string p = shelf_dir(disk) + "/" + image_file;
    return path_exists(p) ? p : std::string();
}

std::vector<std::string> store::bridges() const
{
    std::vector<std::string> names;
    std::string error;
    bridges(names, error);
    return names;
}

bool store::bridges(std::vector<std::string>& names, std::string& error) const
{
    names.clear();
    error.clear();
    struct stat st;
    if (::stat(root_.c_str(), &st) != 0) {
        // No simulation yet is no fault; a root that cannot be reached is.
        if (errno == ENOENT)
            return true;
        error = io::errno_text(root_, errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = root_ + ": not a directory";
        return false;
    }
    std::error_code ec;
    for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!valid_name(name))
            continue;
        const std::string conf = it->path().string() + "/" + bridge_conf_file;
        if (::stat(conf.c_str(), &st) == 0) {
            names.push_back(name);
        } else if (errno != ENOENT && errno != ENOTDIR) {
            // A bridge directory that cannot be looked into is listed, so reading it says why.
            if (error.empty())
                error = io::errno_text(conf, errno);
            names.push_back(name);
        }
    }
    if (ec) {
        names.clear();
        error = root_ + ": " + ec.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    return error.empty();
}

std::vector<std::string> store::shelf() const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(shelf_dir(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (valid_name(name) && it->is_directory(ec))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool store::read_bridge(const std::string& bridge, bridge_desc& cfg, std::string& error) const
{
    if (!valid_name(bridge)) {
        error = "'" + bridge + "' is not a bridge name";
        return false;
    }
    const std::string path = bridge_dir(bridge) + "/" + bridge_conf_file;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        error = missing ? "no bridge '" + bridge + "' in " + root_ + " (" + path + " missing)"
                        : io::errno_text(path, errno);
        return false;
    }
    std::string text;
    bridge_desc s;
    s.name = bridge;
    if (!inside(path, error) || !read_identity_file(path, text, error) || !parse_bridge_conf(path, text, s, error))
        return false;
    cfg = s;
    return true;
}

bool store::write_bridge(const bridge_desc& s, std::string& error) const
{
    return io::atomic_replace(bridge_dir(s.name) + "/" + bridge_conf_file, format_bridge_conf(s), error);
}

bool store::add_bridge(const bridge_desc& cfg, std::string& error)
{
    if (!valid_name(cfg.name)) {
        error = "'" + cfg.name + "' is not a valid bridge name (letters, digits, '-', '_', '.'; not 'shelf')";
        return false;
    }
    if (path_exists(bridge_dir(cfg.name))) {
        error = "bridge '" + cfg.name + "' already exists in " + root_;
        return false;
    }
    if (!printable(cfg.device_name) || !printable(cfg.usb_serial) || trimmed(cfg.usb_serial) != cfg.usb_serial ||
        trimmed(cfg.device_name) != cfg.device_name || cfg.device_name.size() > max_descriptor_text ||
        cfg.usb_serial.size() > max_descriptor_text) {
        error = "bridge '" + cfg.name +
                "': device name and serial must be printable ASCII without outer spaces, at most 126 characters";
        return false;
    }
    if (!std::isfinite(cfg.rebuild_seconds) || cfg.rebuild_seconds < 0 || cfg.rebuild_seconds > max_rebuild_seconds) {
        error = "bridge '" + cfg.name + "': rebuild seconds must be from 0 to 604800 (a week)";
        return false;
    }
    for (const auto& p : cfg.missing_properties)
        if (!known_property(p)) {
            error = "bridge '" + cfg.name + "': unknown registry property '" + p + "'";
            return false;
        }
    std::error_code ec;
    fs::create_directories(port_dir(cfg.name, 0), ec);
    if (!ec)
        fs::create_directories(port_dir(cfg.name, 1), ec);
    if (ec) {
        error = bridge_dir(cfg.name) + ": " + ec.message();
        return false;
    }
    // The identity file comes last: a watcher sees the bridge complete or not at all.
    return write_bridge(cfg, error);
}

bool store::remove_bridge(const std::string& bridge, std::string& error)
{
    bridge_desc cfg;
    if (!valid_name(bridge) || !is_dir(bridge_dir(bridge))) {
        error = "no bridge '" + bridge + "' in " + root_;
        return false;
    }
    if (!inside(bridge_dir(bridge), error))
        return false;
    // Unplug first so a running app sees a clean termination, then shelve the disks:
    // removing an enclosure never destroys a disk.
    if (read_bridge(bridge, cfg, error) && cfg.plugged && !set_plugged(bridge, false, error))
        return false;
    for (int port = 0; port < 2; ++port) {
        if (path_exists(port_dir(bridge, port) + "/" + image_file) ||
            path_exists(port_dir(bridge, port) + "/" + disk_conf_file)) {
            std::string disk;
            if (!pull_disk(bridge, port, disk, error))
                return false;
        }
    }
    std::error_code ec;
    ::unlink((bridge_dir(bridge) + "/" + bridge_conf_file).c_str());
    forget_firmware_state(root_, bridge);
    fs::remove_all(bridge_dir(bridge), ec);
    if (ec) {
        error = bridge_dir(bridge) + ": " + ec.message();
        return false;
    }
    error.clear();
    return true;
}

bool store::set_plugged(const std::string& bridge, bool plugged, std::string& error)
{
    bridge_desc cfg;
    if (!read_bridge(bridge, cfg, error))
        return false;
    cfg.plugged = plugged;
    if (!write_bridge(cfg, error))
        return false;
    // Unplugged, it has lost power: the next plug powers it up afresh.
    if (!plugged)
        forget_power(root_, bridge);
    return true;
}

bool store::write_disk_conf(const std::string& dir, const std::string& disk, const disk_desc& cfg,
                            std::string& error) const
{
    return io::atomic_replace(dir + "/" + disk_conf_file, format_disk_conf(disk, cfg), error);
}

bool store::read_disk(const std::string& dir, disk_desc& cfg, std::string& disk, std::string& error) const
{
    error.clear();
    // A file where the bay's directory belongs is something put there, not an empty bay.
    if (bay_not_a_directory(dir)) {
        if (inside(dir, error))
            error = dir + ": not a directory; a bay or shelf slot is a directory holding the disk's files";
        return false;
    }
    const std::string image = dir + "/" + image_file;
    const std::string conf = dir + "/" + disk_conf_file;
    const bool has_image = entry_exists(image), has_conf = entry_exists(conf);
    if (!has_image && !has_conf)
        return false;
    if (!inside(dir, error) || !inside(image, error) || !inside(conf, error))
        return false;
    if (!has_image) {
        error = image + ": missing (" + conf + " has no image beside it)";
        return false;
    }
    if (!has_conf) {
        error = conf + ": missing (the image has no identity)";
        return false;
    }
    std::string text;
    disk_desc s;
    std::string name = fs::path(dir).filename().string();
    if (!read_identity_file(conf, text, error) || !parse_disk_conf(conf, text, s, name, error) ||
        !image_sectors(image, s.sectors, error) || !image_first_in_use(dir, error))
        return false;
    cfg = s;
    disk = name;
    return true;
}

// One image linked into two bays would be one disk in two places: a set written through
// one bay would re-stamp a member of the other's. The first bay in bridge and port order
// keeps it; every later one is refused. A disk on the shelf is in no bay: an image linked
// to it is refused in every bay.
bool store::image_first_in_use(const std::string& dir, std::string& error) const
{
    struct stat mine;
    if (::stat((dir + "/" + image_file).c_str(), &mine) != 0)
        return true;
    for (const auto& disk : shelf()) {
        struct stat other;
        if (shelf_dir(disk) != dir && ::stat(shelf_image(disk).c_str(), &other) == 0 && other.st_dev == mine.st_dev &&
            other.st_ino == mine.st_ino) {
            error = dir + "/" + image_file + ": the same image as the shelf disk '" + disk + "'; a disk sits in one place only";
            return false;
        }
    }
    std::string earlier;
    for (const auto& b : bridges())
        for (int port = 0; port < 2; ++port) {
            if (port_dir(b, port) == dir) {
                if (earlier.empty())
                    return true;
                error = dir + "/" + image_file + ": the same image as " + earlier + "; a disk sits in one bay only";
                return false;
            }
            struct stat other;
            if (earlier.empty() && ::stat((port_dir(b, port) + "/" + image_file).c_str(), &other) == 0 &&
                other.st_dev == mine.st_dev && other.st_ino == mine.st_ino)
                earlier = "the disk in port " + std::to_string(port) + " of bridge '" + b + "'";
        }
    return true;
}

bool store::read_identify(const std::string& dir, std::array<unsigned char, 512>& block, std::string& error) const
{
    disk_desc cfg;
    std::string disk;
    if (!read_disk(dir, cfg, disk, error)) {
        if (error.empty())
            error = dir + ": no disk";
        return false;
    }
    const std::string override_path = dir + "/" + identify_file;
    if (entry_exists(override_path)) {
        std::string raw;
        if (!inside(override_path, error) || !read_identity_file(override_path, raw, error))
            return false;
        if (raw.size() != block.size()) {
            error = override_path + ": " + std::to_string(raw.size()) + " bytes, an IDENTIFY block is 512";
            return false;
        }
        std::memcpy(block.data(), raw.data(), block.size());
        return true;
    }
    block = make_identify(cfg);
    return true;
}

bool store::make_disk(const std::string& disk, const disk_desc& cfg, std::string& error)
{
    if (!valid_name(disk)) {
        error = "'" + disk + "' is not a valid disk name (letters, digits, '-', '_', '.'; not 'shelf')";
        return false;
    }
    if (cfg.sectors == 0 || cfg.sectors >= (1ULL << 48)) {
        error = "disk '" + disk + "': size must be 1 to 2^48-1 sectors";
        return false;
    }
    if (!valid_addressing(cfg.addressing)) {
        error = "disk '" + disk + "': addressing must be lba48, lba28 or chs, not '" + cfg.addressing + "'";
        return false;
    }
    if (cfg.model.size() > 40 || cfg.serial.size() > 20 || !printable(cfg.model) || !printable(cfg.serial) ||
        trimmed(cfg.model) != cfg.model || trimmed(cfg.serial) != cfg.serial) {
        error = "disk '" + disk +
                "': model (at most 40) and serial (at most 20) must be printable ASCII without outer spaces";
        return false;
    }
    if (path_exists(shelf_dir(disk))) {
        error = "disk '" + disk + "' already exists on the shelf (" + shelf_dir(disk) + ")";
        return false;
    }
    for (const auto& b : bridges())
        for (int port = 0; port < 2; ++port) {
            disk_desc other;
            std::string name, ignored;
            if (read_disk(port_dir(b, port), other, name, ignored) && name == disk) {
                error = "disk '" + disk + "' already exists in port " + std::to_string(port) + " of bridge '" + b + "'";
                return false;
            }
        }
    // Built in a hidden slot and renamed into place, so nobody sees half a disk.
    const std::string tmp = shelf_dir("." + disk + ".new");
    std::error_code ec;
    fs::remove_all(tmp, ec);
    fs::create_directories(tmp, ec);
    if (ec) {
        error = tmp + ": " + ec.message();
        return false;
    }
    const std::string image = tmp + "/" + image_file;
    const io::unique_fd fd = io::open_fd(image, O_WRONLY | O_CREAT | O_EXCL, 0644);
    bool ok = static_cast<bool>(fd);
    if (!ok)
        error = io::errno_text(image, errno);
    // Sparse: the size is set, no block is written.
    if (ok && ::ftruncate(fd.get(), static_cast<off_t>(cfg.sectors * 512)) != 0) {
        error = io::errno_text(shelf_dir(disk) + "/" + image_file, errno);
        ok = false;
    }
    ok = ok && write_disk_conf(tmp, disk, cfg, error);
    if (ok && ::rename(tmp.c_str(), shelf_dir(disk).c_str()) != 0) {
        error = io::errno_text(shelf_dir(disk), errno);
        ok = false;
    }
    if (!ok)
        fs::remove_all(tmp, ec);
    return ok;
}

std::string store::free_shelf_name(const std::string& wanted) const
{
    if (!path_exists(shelf_dir(wanted)))
        return wanted;
    for (int i = 2;; ++i) {
        const std::string name = wanted + "-" + std::to_string(i);
        if (!path_exists(shelf_dir(name)))
            return name;
    }
}

bool store::insert_disk(const std::string& bridge, int port, const std::string& disk, std::string& error)
{
    bridge_desc cfg;
    if (!read_bridge(bridge, cfg, error))
        return false;
    if (port != 0 && port != 1) {
        error = "port " + std::to_string(port) + " does not exist (a bridge has ports 0 and 1)";
        return false;
    }
    if (!valid_name(disk) || !is_dir(shelf_dir(disk))) {
        error = "no disk '" + disk + "' on the shelf (" + shelf_dir() + ")";
        return false;
    }
    const std::string dir = port_dir(bridge, port);
    if (!inside(dir, error) || !inside(shelf_dir(disk), error))
        return false;
    if (path_exists(dir + "/" + image_file) || path_exists(dir + "/" + disk_conf_file)) {
        disk_desc other;
        std::string name, ignored;
        read_disk(dir, other, name, ignored);
        error = "port " + std::to_string(port) + " of bridge '" + bridge + "' already holds disk '" + name + "'";
        return false;
    }
    // Keep the shelf name with the disk, so pulling it puts it back under that name.
    disk_desc d;
    std::string name, ignored;
    if (read_disk(shelf_dir(disk), d, name, ignored) && name != disk && !write_disk_conf(shelf_dir(disk), disk, d, error))
        return false;
    std::error_code ec;
    fs::create_directories(dir, ec);
    // One rename: the disk appears in the port whole (rename replaces an empty directory).
    if (::rename(shelf_dir(disk).c_str(), dir.c_str()) != 0) {
        error = errno == ENOTEMPTY || errno == EEXIST
                    ? dir + ": holds stray files; cannot insert '" + disk + "'"
                    : io::errno_text(dir, errno);
        return false;
    }
    return true;
}

bool store::pull_disk(const std::string& bridge, int port, std::string& disk, std::string& error)
{
    if (!valid_name(bridge) || !is_dir(bridge_dir(bridge))) {
        error = "no bridge '" + bridge + "' in " + root_;
        return false;
    }
    if (port != 0 && port != 1) {
        error = "port " + std::to_string(port) + " does not exist (a bridge has ports 0 and 1)";
        return false;
    }
    const std::string dir = port_dir(bridge, port);
    if (!inside(bridge_dir(bridge), error) || !inside(dir, error))
        return false;
    if (!path_exists(dir + "/" + image_file) && !path_exists(dir + "/" + disk_conf_file)) {
        error = "port " + std::to_string(port) + " of bridge '" + bridge + "' is empty";
        return false;
    }
    disk_desc d;
    std::string name, ignored;
    const bool readable = read_disk(dir, d, name, ignored);
    if (!readable || !valid_name(name))
        name = bridge + "-port" + std::to_string(port);
    const std::string wanted = name;
    name = free_shelf_name(name);
    std::error_code ec;
    fs::create_directories(shelf_dir(), ec);
    if (::rename(dir.c_str(), shelf_dir(name).c_str()) != 0) {
        error = io::errno_text(dir, errno);
        return false;
    }
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        error = io::errno_text(dir, errno);
        return false;
    }
    if (readable && name != wanted && !write_disk_conf(shelf_dir(name), name, d, error))
        return false;
    disk = name;
    return true;
}

// The failures file belongs to an existing bridge; failures.cpp keeps its format and lock.
bool store::read_failures(const std::string& bridge, std::vector<failure_desc>& failures, std::string& error) const
{
    const std::string path = bridge_dir(bridge) + "/" + failures_file;
    return inside(path, error) && read_failures_file(path, failures, error);
}

bool store::add_failure(const std::string& bridge, const failure_desc& failure, std::string& error)
{
    bridge_desc cfg;
    const std::string path = bridge_dir(bridge) + "/" + failures_file;
    return read_bridge(bridge, cfg, error) && inside(path, error) && add_failure_to_file(path, failure, error);
}

bool store::clear_failures(const std::string& bridge, std::string& error)
{
    bridge_desc cfg;
    const std::string path = bridge_dir(bridge) + "/" + failures_file;
    return read_bridge(bridge, cfg, error) && inside(path, error) && clear_failures_file(path, error);
}

std::string store::take_failure(const std::string& bridge, const std::string& call, int port, std::string& error)
{
    const std::string path = bridge_dir(bridge) + "/" + failures_file;
    return inside(path, error) ? take_failure_from_file(path, call, port, error) : std::string();
}

}  // namespace ov::sim
