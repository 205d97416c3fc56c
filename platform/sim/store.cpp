#include "store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "firmware.h"
#include "identify.h"
#include "raid.h"

namespace fs = std::filesystem;

namespace ov::sim {

namespace {

const char* const registry_property_names[] = {"GUID", "idVendor", "idProduct", "locationID", "USB Serial Number"};

std::string errno_text(const std::string& what, int err)
{
    return what + ": " + std::strerror(err);
}

std::string trimmed(const std::string& text)
{
    const size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    const size_t e = text.find_last_not_of(" \t\r\n");
    return text.substr(b, e - b + 1);
}

bool path_exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool is_dir(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool read_file(const std::string& path, std::string& text, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno_text(path, errno);
        return false;
    }
    text.clear();
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno_text(path, errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > (1u << 20)) {
            error = path + ": file too large for an identity file";
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

bool write_all(int fd, const std::string& text, off_t offset)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Whole-file replacement through a rename, so that a reader in another process never
// sees half a file.
bool write_file_atomic(const std::string& path, const std::string& text, std::string& error)
{
    const fs::path p(path);
    const std::string tmp = (p.parent_path() / ("." + p.filename().string() + ".tmp")).string();
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errno_text(tmp, errno);
        return false;
    }
    if (!write_all(fd, text, 0)) {
        error = errno_text(tmp, errno);
        ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    }
    ::close(fd);
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = errno_text(path, errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

using conf_map = std::map<std::string, std::pair<std::string, int>>;  // key -> value, line

// Hands each trimmed line with its number to take, skipping blank lines and lines that
// start with '#'; stops at the first line take refuses.
template <typename Take>
bool for_each_line(const std::string& text, Take take)
{
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string t = trimmed(line);
        if (t.empty() || t[0] == '#')
            continue;
        if (!take(number, t))
            return false;
    }
    return true;
}

// "key = value" lines.
bool parse_conf(const std::string& path, const std::string& text, conf_map& out, std::string& error)
{
    return for_each_line(text, [&](int number, const std::string& t) {
        const size_t eq = t.find('=');
        if (eq == std::string::npos || trimmed(t.substr(0, eq)).empty()) {
            error = path + ":" + std::to_string(number) + ": expected 'key = value', found '" + t + "'";
            return false;
        }
        const std::string key = trimmed(t.substr(0, eq));
        if (out.count(key) != 0) {
            error = path + ":" + std::to_string(number) + ": '" + key + "' given twice";
            return false;
        }
        out[key] = {trimmed(t.substr(eq + 1)), number};
        return true;
    });
}

bool parse_u64(const std::string& text, uint64_t& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return false;
    value = v;
    return true;
}

bool parse_i64(const std::string& text, int64_t& value)
{
    if (!text.empty() && text[0] == '-') {
        errno = 0;
        char* end = nullptr;
        const long long v = std::strtoll(text.c_str(), &end, 0);
        if (errno != 0 || end == text.c_str() || *end != '\0')
            return false;
        value = v;
        return true;
    }
    uint64_t u = 0;
    if (!parse_u64(text, u) || u > static_cast<uint64_t>(INT64_MAX))
        return false;
    value = static_cast<int64_t>(u);
    return true;
}

bool parse_bool(const std::string& text, bool& value)
{
    if (text == "yes" || text == "true" || text == "1") {
        value = true;
        return true;
    }
    if (text == "no" || text == "false" || text == "0") {
        value = false;
        return true;
    }
    return false;
}

bool printable(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::string hex(uint64_t v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

std::string hex4(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", v);
    return buf;
}

std::string human_size(uint64_t sectors)
{
    static const char* units[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    double v = static_cast<double>(sectors) * 512.0;
    int u = 0;
    while (v >= 1000.0 && u < 5) {
        v /= 1000.0;
        ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f %s", v, units[u]);
    return buf;
}

bool valid_addressing(const std::string& a)
{
    return a == "lba48" || a == "lba28" || a == "chs";
}

bool known_property(const std::string& p)
{
    for (const char* n : registry_property_names)
        if (p == n)
            return true;
    return false;
}

std::vector<std::string> split_list(const std::string& text)
{
    std::vector<std::string> items;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, ','))
        if (!trimmed(item).empty())
            items.push_back(trimmed(item));
    return items;
}

bool parse_failure_line(const std::string& path, int number, const std::string& line, failure_desc& f,
                        std::string& error)
{
    std::istringstream in(line);
    std::string token;
    f = failure_desc{};
    while (in >> token) {
        const size_t eq = token.find('=');
        const std::string key = eq == std::string::npos ? std::string() : token.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : token.substr(eq + 1);
        int64_t n = 0;
        if (key == "call")
            f.call = value;
        else if (key == "mode")
            f.mode = value;
        else if (key == "port" && parse_i64(value, n) && n >= -1 && n <= 1)
            f.port = static_cast<int>(n);
        else if (key == "skip" && parse_i64(value, n) && n >= 0 && n <= INT32_MAX)
            f.skip = static_cast<int>(n);
        else {
            error = path + ":" + std::to_string(number) + ": cannot read '" + token + "'";
            return false;
        }
    }
    const auto& calls = store::call_names();
    if (std::find(calls.begin(), calls.end(), f.call) == calls.end()) {
        error = path + ":" + std::to_string(number) + ": unknown call '" + f.call + "'";
        return false;
    }
    if (f.mode != "once" && f.mode != "always" && f.mode != "mismatch" && f.mode != "vanish") {
        error = path + ":" + std::to_string(number) + ": unknown mode '" + f.mode + "'";
        return false;
    }
    return true;
}

bool parse_failures(const std::string& path, const std::string& text, std::vector<failure_desc>& out,
                    std::string& error)
{
    out.clear();
    return for_each_line(text, [&](int number, const std::string& t) {
        failure_desc f;
        if (!parse_failure_line(path, number, t, f, error))
            return false;
        out.push_back(f);
        return true;
    });
}

std::string format_failure(const failure_desc& f)
{
    return "call=" + f.call + " mode=" + f.mode + " port=" + std::to_string(f.port) + " skip=" +
           std::to_string(f.skip) + "\n";
}

std::string format_failures(const std::vector<failure_desc>& failures)
{
    std::string text = "# injected failures, one per line, judged in order\n";
    for (const auto& f : failures)
        text += format_failure(f);
    return text;
}

// The failures file is rewritten in place under flock, so its inode (and the lock) stay.
class locked_file {
public:
    locked_file(const std::string& path, bool create) : path_(path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~locked_file()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    locked_file(const locked_file&) = delete;
    locked_file& operator=(const locked_file&) = delete;
    int fd() const { return fd_; }

    bool read(std::string& text, std::string& error)
    {
        text.clear();
        char buf[4096];
        off_t off = 0;
        for (;;) {
            const ssize_t n = ::pread(fd_, buf, sizeof buf, off);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                error = errno_text(path_, errno);
                return false;
            }
            if (n == 0)
                return true;
            text.append(buf, static_cast<size_t>(n));
            off += n;
        }
    }
    bool replace(const std::string& text, std::string& error)
    {
        if (::ftruncate(fd_, 0) != 0 || !write_all(fd_, text, 0)) {
            error = errno_text(path_, errno);
            return false;
        }
        return true;
    }

private:
    std::string path_;
    int fd_ = -1;
};

bool image_sectors(const std::string& path, uint64_t& sectors, std::string& error)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error = errno_text(path, errno);
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
    return true;
}

bool pwrite_sector(const std::string& image, uint64_t lba, const unsigned char* data, std::string& error)
{
    const int fd = ::open(image.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno_text(image, errno);
        return false;
    }
    const bool ok = write_all(fd, std::string(reinterpret_cast<const char*>(data), 512), static_cast<off_t>(lba * 512));
    if (!ok)
        error = errno_text(image, errno);
    ::close(fd);
    return ok;
}

}  // namespace

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

const std::vector<std::string>& store::call_names()
{
    static const std::vector<std::string> names = {
        "getDeviceList",   "openConnection",    "closeConnection",   "ovGetRaidInfo",
        "ovGetRaidInfoFW", "ovSetRaidInfo",     "ovSetRaidInfoFW",   "ovFlushHDDCache",
        "ovGetDiskIdentify", "ovGetRegister",   "ovGetRebuildStatus", "ovWarmBoot"};
    return names;
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

bool store::parse_size(const std::string& text, uint64_t& sectors, std::string& error)
{
    // Integer part, optional fraction, optional unit.
    size_t i = 0;
    uint64_t whole = 0;
    bool digits = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (whole > (UINT64_MAX - 9) / 10) {
            error = "size '" + text + "' is too large";
            return false;
        }
        whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
        digits = true;
        ++i;
    }
    uint64_t frac = 0, frac_scale = 1;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (frac_scale < 1000000000ULL) {
                frac = frac * 10 + static_cast<uint64_t>(text[i] - '0');
                frac_scale *= 10;
            }
            digits = true;
            ++i;
        }
    }
    std::string unit = text.substr(i);
    for (auto& c : unit)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!digits) {
        error = "size '" + text + "' is not a number with an optional unit (e.g. 1TB, 500GB, 2TiB or sectors)";
        return false;
    }
    static const std::map<std::string, uint64_t> units = {
        {"b", 1},           {"kb", 1000ULL},         {"mb", 1000000ULL},         {"gb", 1000000000ULL},
        {"tb", 1000000000000ULL}, {"pb", 1000000000000000ULL}, {"kib", 1ULL << 10}, {"mib", 1ULL << 20},
        {"gib", 1ULL << 30}, {"tib", 1ULL << 40},   {"pib", 1ULL << 50}};
    if (unit.empty() || unit == "s") {
        if (frac != 0 || frac_scale != 1) {
            error = "size '" + text + "': a sector count must be a whole number";
            return false;
        }
        sectors = whole;
    } else {
        auto it = units.find(unit);
        if (it == units.end()) {
            error = "size '" + text + "': unknown unit '" + text.substr(i) + "' (B, KB, MB, GB, TB, PB, KiB ... PiB)";
            return false;
        }
        const long double bytes = static_cast<long double>(whole) * it->second +
                                  static_cast<long double>(frac) * it->second / static_cast<long double>(frac_scale);
        if (bytes / 512.0L >= static_cast<long double>(1ULL << 48)) {
            error = "size '" + text + "' is beyond 48-bit addressing";
            return false;
        }
        sectors = static_cast<uint64_t>(bytes / 512.0L);
    }
    if (sectors == 0) {
        error = "size '" + text + "' is less than one sector";
        return false;
    }
    if (sectors >= (1ULL << 48)) {
        error = "size '" + text + "' is beyond 48-bit addressing";
        return false;
    }
    return true;
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
    std::error_code ec;
    for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (valid_name(name) && path_exists(it->path().string() + "/" + bridge_conf_file))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
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
    if (!path_exists(path)) {
        error = "no bridge '" + bridge + "' in " + root_ + " (" + path + " missing)";
        return false;
    }
    std::string text;
    conf_map m;
    if (!read_file(path, text, error) || !parse_conf(path, text, m, error))
        return false;
    bridge_desc s;
    s.name = bridge;
    for (const auto& [key, vl] : m) {
        const std::string& v = vl.first;
        const std::string at = path + ":" + std::to_string(vl.second);
        uint64_t u = 0;
        bool ok = true;
        if (key == "bus") {
            ok = v == "usb" || v == "firewire";
            s.firewire = v == "firewire";
        } else if (key == "vendor") {
            ok = parse_u64(v, u) && u <= 0xFFFFFFFFULL;
            s.vendor_id = static_cast<uint32_t>(u);
        } else if (key == "product") {
            ok = parse_u64(v, u) && u <= 0xFFFFFFFFULL;
            s.product_id = static_cast<uint32_t>(u);
        } else if (key == "location") {
            ok = parse_i64(v, s.location_id);
        } else if (key == "serial") {
            s.usb_serial = v;
        } else if (key == "guid") {
            ok = parse_u64(v, s.guid);
        } else if (key == "device_name") {
            s.device_name = v;
        } else if (key == "plugged") {
            ok = parse_bool(v, s.plugged);
        } else if (key == "rebuild_seconds") {
            char* end = nullptr;
            s.rebuild_seconds = std::strtod(v.c_str(), &end);
            ok = !v.empty() && *end == '\0' && std::isfinite(s.rebuild_seconds) && s.rebuild_seconds >= 0;
        } else if (key == "missing") {
            s.missing_properties = split_list(v);
            for (const auto& p : s.missing_properties)
                if (!known_property(p)) {
                    error = at + ": unknown registry property '" + p + "'";
                    return false;
                }
        } else {
            error = at + ": unknown key '" + key + "'";
            return false;
        }
        if (!ok) {
            error = at + ": bad value '" + v + "' for '" + key + "'";
            return false;
        }
    }
    if (m.count("bus") == 0) {
        error = path + ": 'bus = usb' or 'bus = firewire' missing";
        return false;
    }
    cfg = s;
    return true;
}

bool store::write_bridge(const bridge_desc& s, std::string& error) const
{
    std::string text = "# ovraid simulated bridge\n";
    text += std::string("bus = ") + (s.firewire ? "firewire" : "usb") + "\n";
    if (s.firewire) {
        text += "guid = " + hex(s.guid) + "\n";
    } else {
        text += "vendor = " + hex4(s.vendor_id) + "\n";
        text += "product = " + hex4(s.product_id) + "\n";
        text += "location = " + (s.location_id >= 0 ? hex(static_cast<uint64_t>(s.location_id))
                                                     : std::to_string(s.location_id)) + "\n";
        text += "serial = " + s.usb_serial + "\n";
    }
    text += "device_name = " + s.device_name + "\n";
    text += std::string("plugged = ") + (s.plugged ? "yes" : "no") + "\n";
    char secs[64];
    std::snprintf(secs, sizeof secs, "%g", s.rebuild_seconds);
    text += std::string("rebuild_seconds = ") + secs + "\n";
    if (!s.missing_properties.empty()) {
        text += "missing = ";
        for (size_t i = 0; i < s.missing_properties.size(); ++i)
            text += (i ? ", " : "") + s.missing_properties[i];
        text += "\n";
    }
    return write_file_atomic(bridge_dir(s.name) + "/" + bridge_conf_file, text, error);
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
        trimmed(cfg.device_name) != cfg.device_name) {
        error = "bridge '" + cfg.name + "': device name and serial must be printable ASCII without outer spaces";
        return false;
    }
    if (!std::isfinite(cfg.rebuild_seconds) || cfg.rebuild_seconds < 0) {
        error = "bridge '" + cfg.name + "': rebuild seconds must be 0 or more";
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
    return write_bridge(cfg, error);
}

bool store::write_disk_conf(const std::string& dir, const std::string& disk, const disk_desc& cfg,
                            std::string& error) const
{
    std::string text = "# ovraid simulated disk; its capacity is the size of disk.img\n";
    text += "name = " + disk + "\n";
    text += "model = " + cfg.model + "\n";
    text += "serial = " + cfg.serial + "\n";
    text += "addressing = " + cfg.addressing + "\n";
    text += std::string("hpa = ") + (cfg.hpa_enabled ? "yes" : "no") + "\n";
    return write_file_atomic(dir + "/" + disk_conf_file, text, error);
}

bool store::read_disk(const std::string& dir, disk_desc& cfg, std::string& disk, std::string& error) const
{
    error.clear();
    const std::string image = dir + "/" + image_file;
    const std::string conf = dir + "/" + disk_conf_file;
    const bool has_image = path_exists(image), has_conf = path_exists(conf);
    if (!has_image && !has_conf)
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
    conf_map m;
    if (!read_file(conf, text, error) || !parse_conf(conf, text, m, error))
        return false;
    disk_desc s;
    std::string name = fs::path(dir).filename().string();
    for (const auto& [key, vl] : m) {
        const std::string& v = vl.first;
        const std::string at = conf + ":" + std::to_string(vl.second);
        bool ok = true;
        if (key == "name") {
            name = v;
        } else if (key == "model") {
            ok = v.size() <= 40 && printable(v);
            s.model = v;
        } else if (key == "serial") {
            ok = v.size() <= 20 && printable(v);
            s.serial = v;
        } else if (key == "addressing") {
            ok = valid_addressing(v);
            s.addressing = v;
        } else if (key == "hpa") {
            ok = parse_bool(v, s.hpa_enabled);
        } else {
            error = at + ": unknown key '" + key + "'";
            return false;
        }
        if (!ok) {
            error = at + ": bad value '" + v + "' for '" + key + "'";
            return false;
        }
    }
    for (const char* required : {"model", "serial", "addressing"})
        if (m.count(required) == 0) {
            error = conf + ": '" + required + " = ...' missing";
            return false;
        }
    if (!image_sectors(image, s.sectors, error))
        return false;
    cfg = s;
    disk = name;
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
    if (path_exists(override_path)) {
        std::string raw;
        if (!read_file(override_path, raw, error))
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
    const int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    if (!ok)
        error = errno_text(image, errno);
    // Sparse: the size is set, no block is written.
    if (ok && ::ftruncate(fd, static_cast<off_t>(cfg.sectors * 512)) != 0) {
        error = errno_text(shelf_dir(disk) + "/" + image_file, errno);
        ok = false;
    }
    if (fd >= 0)
        ::close(fd);
    ok = ok && write_disk_conf(tmp, disk, cfg, error);
    if (ok && ::rename(tmp.c_str(), shelf_dir(disk).c_str()) != 0) {
        error = errno_text(shelf_dir(disk), errno);
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
                    : errno_text(dir, errno);
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
        error = errno_text(dir, errno);
        return false;
    }
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        error = errno_text(dir, errno);
        return false;
    }
    if (readable && name != wanted && !write_disk_conf(shelf_dir(name), name, d, error))
        return false;
    disk = name;
    return true;
}

bool store::read_failures(const std::string& bridge, std::vector<failure_desc>& failures, std::string& error) const
{
    failures.clear();
    const std::string path = bridge_dir(bridge) + "/" + failures_file;
    if (!path_exists(path))
        return true;
    locked_file f(path, false);
    std::string text;
    if (f.fd() < 0) {
        error = errno_text(path, errno);
        return false;
    }
    return f.read(text, error) && parse_failures(path, text, failures, error);
}

bool store::add_failure(const std::string& bridge, const failure_desc& failure, std::string& error)
{
    bridge_desc cfg;
    if (!read_bridge(bridge, cfg, error))
        return false;
    const std::string line = format_failure(failure);
    failure_desc check;
    if (!parse_failure_line("failure", 1, trimmed(line), check, error))
        return false;
    const std::string path = bridge_dir(bridge) + "/" + failures_file;
    locked_file f(path, true);
    std::string text;
    std::vector<failure_desc> list;
    if (f.fd() < 0) {
        error = errno_text(path, errno);
        return false;
    }
    if (!f.read(text, error) || !parse_failures(path, text, list, error))
        return false;
    list.push_back(failure);
    return f.replace(format_failures(list), error);
}

bool store::clear_failures(const std::string& bridge, std::string& error)
{
    bridge_desc cfg;
    if (!read_bridge(bridge, cfg, error))
        return false;
    const std::string path = bridge_dir(bridge) + "/" + failures_file;
    if (!path_exists(path))
        return true;
    locked_file f(path, false);
    if (f.fd() < 0) {
        error = errno_text(path, errno);
        return false;
    }
    return f.replace(std::string(), error);
}

std::string store::take_failure(const std::string& bridge, const std::string& call, int port, std::string& error)
{
    error.clear();
    const std::string path = bridge_dir(bridge) + "/" + failures_file;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || st.st_size == 0)
        return std::string();  // the common case costs one stat
    locked_file f(path, false);
    if (f.fd() < 0) {
        if (errno != ENOENT)
            error = errno_text(path, errno);
        return std::string();
    }
    std::string text;
    std::vector<failure_desc> list;
    if (!f.read(text, error) || !parse_failures(path, text, list, error))
        return std::string();
    std::string fired;
    bool changed = false;
    for (auto it = list.begin(); it != list.end();) {
        const bool matches = it->call == call && (it->port == -1 || it->port == port);
        if (!matches) {
            ++it;
            continue;
        }
        if (it->skip > 0) {
            --it->skip;
            changed = true;
            ++it;
        } else if (fired.empty()) {
            fired = it->mode;
            if (it->mode != "always") {
                it = list.erase(it);
                changed = true;
            } else {
                ++it;
            }
        } else {
            ++it;
        }
    }
    if (changed && !f.replace(format_failures(list), error))
        return std::string();
    return fired;
}

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

namespace {

std::string describe_disk(const store& s, const std::string& dir, const std::string& indent)
{
    disk_desc d;
    std::string name, error;
    if (!s.read_disk(dir, d, name, error))
        return error.empty() ? "empty\n" : "unreadable: " + error + "\n";
    std::string out = name + ": \"" + d.model + "\" serial \"" + d.serial + "\", " + std::to_string(d.sectors) +
                      " sectors (" + human_size(d.sectors) + "), " + d.addressing + (d.hpa_enabled ? ", HPA" : "");
    identify_block id;
    if (!s.read_identify(dir, id, error))
        return out + "\n" + indent + "identify: " + error + "\n";
    if (path_exists(dir + "/" + identify_file))
        out += ", IDENTIFY from identify.bin";
    out += "\n";
    uint64_t lba = 0;
    if (!record_sector(id.data(), d.sectors, lba))
        return out + indent + "record: none (no record sector inside the image)\n";
    unsigned char sector[512];
    const std::string image = dir + "/" + image_file;
    const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::pread(fd, sector, 512, static_cast<off_t>(lba * 512)) != 512) {
        if (fd >= 0)
            ::close(fd);
        return out + indent + "record: unreadable (" + image + ")\n";
    }
    ::close(fd);
    const record_summary r = decode_record(sector);
    if (!r.valid)
        return out + indent + "record: none at sector " + std::to_string(lba) + "\n";
    static const char* modes[] = {"none", "RAID 0", "RAID 1", "mode 3", "span"};
    out += indent + "record at sector " + std::to_string(lba) + ": " +
           (r.mode <= 4 ? modes[r.mode] : "mode " + std::to_string(r.mode)) + ", member " + std::to_string(r.member) +
           (r.source ? ", rebuild source" : "") + ", set capacity " + std::to_string(r.capacity) + " sectors, stamp " +
           (r.stamp.empty() ? "(none)" : r.stamp) + "\n";
    return out;
}

}  // namespace

std::string store::describe() const
{
    std::string out = "simulation root: " + root_ + (exists() ? "" : " (does not exist)") + "\n";
    const auto names = bridges();
    if (names.empty())
        out += "no bridges\n";
    for (const auto& b : names) {
        bridge_desc s;
        std::string error;
        if (!read_bridge(b, s, error)) {
            out += "bridge " + b + ": unreadable: " + error + "\n";
            continue;
        }
        out += "bridge " + b + ": " + (s.firewire ? "FireWire" : "USB") + ", " + (s.plugged ? "plugged" : "unplugged") +
               "\n";
        if (s.firewire)
            out += "  guid " + hex(s.guid) + "\n";
        else
            out += "  vendor " + hex4(s.vendor_id) + ", product " + hex4(s.product_id) + ", location " +
                   (s.location_id >= 0 ? hex(static_cast<uint64_t>(s.location_id)) : std::to_string(s.location_id)) +
                   ", serial \"" + s.usb_serial + "\"\n";
        char secs[64];
        std::snprintf(secs, sizeof secs, "%g", s.rebuild_seconds);
        out += "  device \"" + s.device_name + "\", rebuild " + secs + " s\n";
        if (!s.missing_properties.empty()) {
            out += "  missing properties:";
            for (const auto& p : s.missing_properties)
                out += " \"" + p + "\"";
            out += "\n";
        }
        for (int port = 0; port < 2; ++port)
            out += "  port " + std::to_string(port) + ": " + describe_disk(*this, port_dir(b, port), "          ");
        std::vector<failure_desc> failures;
        if (!read_failures(b, failures, error))
            out += "  failures: unreadable: " + error + "\n";
        for (const auto& f : failures)
            out += "  failure: " + f.call + " " + f.mode + (f.port >= 0 ? " port " + std::to_string(f.port) : "") +
                   (f.skip > 0 ? " after " + std::to_string(f.skip) + " matching calls" : "") + "\n";
    }
    const auto slots = shelf();
    out += "shelf:" + std::string(slots.empty() ? " empty" : "") + "\n";
    for (const auto& d : slots)
        out += "  " + describe_disk(*this, shelf_dir(d), "    ");
    return out;
}

}  // namespace ov::sim
