#include "conf.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace ov::sim {

namespace {

const char* const registry_property_names[] = {"GUID", "idVendor", "idProduct", "locationID", "USB Serial Number"};

using conf_map = std::map<std::string, std::pair<std::string, int>>;  // key -> value, line

// "key = value" lines.
bool parse_conf(const std::string& path, const std::string& text, conf_map& out, std::string& error)
{
    return for_each_line(text, [&](int number, const std::string& t) {
        const size_t eq = t.find('=');
        if (eq == std::string::npos || trimmed(t.substr(0, eq)).empty()) {
            error = path + ":" + std::to_string(number) + ": expected 'key = value', found '" + clipped(t) + "'";
            return false;
        }
        const std::string key = trimmed(t.substr(0, eq));
        if (out.count(key) != 0) {
            error = path + ":" + std::to_string(number) + ": '" + clipped(key) + "' given twice";
            return false;
        }
        out[key] = {trimmed(t.substr(eq + 1)), number};
        return true;
    });
}

// Hands every key with its value to take, which answers "" or what is wrong with it;
// the first complaint is given with the file and line.
bool take_keys(const std::string& path, const conf_map& m, std::string& error,
               const std::function<std::string(const std::string& key, const std::string& value)>& take)
{
    for (const auto& [key, vl] : m) {
        const std::string complaint = take(key, vl.first);
        if (!complaint.empty()) {
            error = path + ":" + std::to_string(vl.second) + ": " + complaint;
            return false;
        }
    }
    return true;
}

std::string unknown_key(const std::string& key)
{
    return "unknown key '" + clipped(key) + "'";
}

std::string bad_value(const std::string& key, const std::string& value)
{
    return "bad value '" + clipped(value) + "' for '" + key + "'";
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

// The shortest text that reads back as the same number: the file is the only copy of it.
std::string seconds_text(double seconds)
{
    char secs[64];
    for (int digits = 6; digits <= 17; ++digits) {
        std::snprintf(secs, sizeof secs, "%.*g", digits, seconds);
        if (std::strtod(secs, nullptr) == seconds)
            break;
    }
    return secs;
}

}  // namespace

bool for_each_line(const std::string& text, const std::function<bool(int, const std::string&)>& take)
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

std::string trimmed(const std::string& text)
{
    const size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    const size_t e = text.find_last_not_of(" \t\r\n");
    return text.substr(b, e - b + 1);
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

bool printable(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::string escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += c;
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += code;
        }
    }
    return out;
}

std::string clipped(const std::string& text, size_t limit)
{
    return text.size() <= limit ? escaped(text) : escaped(text.substr(0, limit)) + "...";
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

bool parse_size(const std::string& text, uint64_t& sectors, std::string& error)
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

std::string format_bridge_conf(const bridge_desc& s)
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
    text += "rebuild_seconds = " + seconds_text(s.rebuild_seconds) + "\n";
    if (!s.missing_properties.empty()) {
        text += "missing = ";
        for (size_t i = 0; i < s.missing_properties.size(); ++i)
            text += (i ? ", " : "") + s.missing_properties[i];
        text += "\n";
    }
    return text;
}

bool parse_bridge_conf(const std::string& path, const std::string& text, bridge_desc& cfg, std::string& error)
{
    conf_map m;
    if (!parse_conf(path, text, m, error))
        return false;
    bridge_desc s;
    s.name = cfg.name;
    const bool ok = take_keys(path, m, error, [&s](const std::string& key, const std::string& v) -> std::string {
        uint64_t u = 0;
        bool ok = true;
        if (key == "bus") {
            ok = v == "usb" || v == "firewire";
            s.firewire = v == "firewire";
        } else if (key == "vendor") {
            // USB ids are 16 bits and a location 32, as the command line takes them.
            ok = parse_u64(v, u) && u <= 0xFFFFULL;
            s.vendor_id = static_cast<uint32_t>(u);
        } else if (key == "product") {
            ok = parse_u64(v, u) && u <= 0xFFFFULL;
            s.product_id = static_cast<uint32_t>(u);
        } else if (key == "location") {
            ok = parse_u64(v, u) && u <= 0xFFFFFFFFULL;
            s.location_id = static_cast<int64_t>(u);
        } else if (key == "serial") {
            ok = v.size() <= max_descriptor_text && printable(v);
            s.usb_serial = v;
        } else if (key == "guid") {
            ok = parse_u64(v, s.guid);
        } else if (key == "device_name") {
            ok = v.size() <= max_descriptor_text && printable(v);
            s.device_name = v;
        } else if (key == "plugged") {
            ok = parse_bool(v, s.plugged);
        } else if (key == "rebuild_seconds") {
            char* end = nullptr;
            s.rebuild_seconds = std::strtod(v.c_str(), &end);
            ok = !v.empty() && *end == '\0' && std::isfinite(s.rebuild_seconds) && s.rebuild_seconds >= 0 &&
                 s.rebuild_seconds <= max_rebuild_seconds;
        } else if (key == "missing") {
            s.missing_properties = split_list(v);
            for (const auto& p : s.missing_properties)
                if (!known_property(p))
                    return "unknown registry property '" + clipped(p) + "'";
        } else {
            return unknown_key(key);
        }
        return ok ? std::string() : bad_value(key, v);
    });
    if (!ok)
        return false;
    if (m.count("bus") == 0) {
        error = path + ": 'bus = usb' or 'bus = firewire' missing";
        return false;
    }
    cfg = s;
    return true;
}

std::string format_disk_conf(const std::string& disk, const disk_desc& cfg)
{
    std::string text = "# ovraid simulated disk; its capacity is the size of disk.img\n";
    text += "name = " + disk + "\n";
    text += "model = " + cfg.model + "\n";
    text += "serial = " + cfg.serial + "\n";
    text += "addressing = " + cfg.addressing + "\n";
    text += std::string("hpa = ") + (cfg.hpa_enabled ? "yes" : "no") + "\n";
    return text;
}

bool parse_disk_conf(const std::string& path, const std::string& text, disk_desc& cfg, std::string& disk,
                     std::string& error)
{
    conf_map m;
    if (!parse_conf(path, text, m, error))
        return false;
    disk_desc s;
    std::string name = disk;
    const bool ok = take_keys(path, m, error, [&](const std::string& key, const std::string& v) -> std::string {
        bool ok = true;
        if (key == "name") {
            ok = printable(v);
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
            return unknown_key(key);
        }
        return ok ? std::string() : bad_value(key, v);
    });
    if (!ok)
        return false;
    for (const char* required : {"model", "serial", "addressing"})
        if (m.count(required) == 0) {
            error = path + ": '" + required + " = ...' missing";
            return false;
        }
    cfg = s;
    disk = name;
    return true;
}

}  // namespace ov::sim
