#include "udev_text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "udev_registry.h"

namespace ov {

namespace udev_text {

std::string shown(const char* value)
{
    std::string out;
    for (const char* p = value; *p && out.size() < 32; ++p)
        out += (*p >= 0x20 && *p < 0x7F) ? *p : '?';
    return '"' + out + '"';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::optional<uint64_t> parse_hex(std::string_view text, uint64_t max)
{
    text = trimmed(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 16)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    if (value > max)
        return std::nullopt;
    return value;
}

std::optional<uint32_t> parse_decimal(std::string_view text, uint32_t max)
{
    text = trimmed(text);
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > max)
        return std::nullopt;
    return value;
}

}  // namespace udev_text

using namespace udev_text;

std::optional<uint32_t> usb_location_id(uint32_t busnum, std::string_view sysname)
{
    if (busnum < 1 || busnum > 255)
        return std::nullopt;
    const size_t dash = sysname.find('-');
    if (dash == std::string_view::npos || dash == 0 ||
        sysname.substr(0, dash).find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const std::string_view path = sysname.substr(dash + 1);
    std::vector<uint32_t> ports;
    for (size_t start = 0;;) {
        const size_t dot = path.find('.', start);
        const auto port = parse_decimal(path.substr(start, dot == std::string_view::npos ? dot : dot - start), 255);
        if (!port || *port == 0)
            return std::nullopt;
        ports.push_back(*port);
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    uint32_t id = busnum << 24;
    bool fits = ports.size() <= 6;
    for (uint32_t port : ports)
        fits = fits && port <= 15;
    if (fits) {
        int shift = 20;
        for (uint32_t port : ports) {
            id |= port << shift;
            shift -= 4;
        }
        return id;
    }
    uint32_t hash = 2166136261u;  // FNV-1a over the port path
    for (char c : path)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    uint32_t low = (hash ^ (hash >> 20)) & 0xFFFFF;
    return id | (low != 0 ? low : 1);
}

std::string udev_rules_for(const std::vector<bridge_match>& matches)
{
    std::string out =
        "# Lets the user at the seat reach the RAID bridges ovraid drives.\n"
        "# Made by \"ovraidctl udev-rules\" from the bridge library's match table: make it again, do not edit it.\n";
    std::vector<bridge_match> written;
    for (const bridge_match& m : matches) {
        if (std::find(written.begin(), written.end(), m) != written.end())
            continue;
        written.push_back(m);
        char line[320];
        if (m.firewire)
            std::snprintf(line, sizeof line,
                          "SUBSYSTEM==\"firewire\", ATTR{vendor}==\"0x%06x\", ATTR{model}==\"0x%06x\", "
                          "TAG+=\"uaccess\"\n",
                          m.vendor, m.product);
        else
            // The device itself (for a library on usbfs) and its SCSI generic node (for one
            // that sends commands through the disk the bridge presents).
            std::snprintf(line, sizeof line,
                          "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"%04x\", "
                          "ATTR{idProduct}==\"%04x\", TAG+=\"uaccess\"\n"
                          "SUBSYSTEM==\"scsi_generic\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"%04x\", "
                          "ATTRS{idProduct}==\"%04x\", TAG+=\"uaccess\"\n",
                          m.vendor, m.product, m.vendor, m.product);
        out += line;
    }
    return out;
}

}  // namespace ov
