#include "raid.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "little_endian.h"

namespace ov {

namespace {
const unsigned char signature_bytes[2] = {'O', 'V'};
const unsigned char trailer_bytes[8] = {'O', 'r', 'v', 'e', 'l', 'a', 'n', ' '};
}  // namespace

raid_info raid_info::of(const unsigned char* sector)
{
    raid_info r;
    std::memcpy(r.data(), sector, sizeof r);
    return r;
}

bool raid_info::valid() const
{
    return has_signature(data());
}

uint32_t raid_info::value24() const
{
    return static_cast<uint32_t>(le::load(reserved24, sizeof reserved24));
}

void raid_info::set_value24(uint32_t value)
{
    le::store(reserved24, value, sizeof reserved24);
}

uint64_t raid_info::capacity() const
{
    return le::load64(capacity_le);
}

void raid_info::set_capacity(uint64_t sectors)
{
    le::store64(capacity_le, sectors);
}

std::string raid_info::stamp_text() const
{
    const char* text = reinterpret_cast<const char*>(stamp);
    return std::string(text, strnlen(text, sizeof stamp));
}

bool record_lba_for(uint64_t capacity, uint64_t& lba)
{
    if (capacity < record_offset_from_end)
        return false;
    lba = capacity - record_offset_from_end;
    return true;
}

raid_info create_raid_struct(int mode, int member, int flags, int value24, uint64_t capacity,
                             const unsigned char* partner_serial, const unsigned char* partner_model, bool over_2tb,
                             const unsigned char* stamp)
{
    raid_info r = zero_record();
    std::memcpy(r.signature, signature_bytes, sizeof r.signature);
    r.raid_mode = static_cast<unsigned char>(mode & 0xFF);
    r.member_index = static_cast<unsigned char>(member & 0xFF);
    r.flags = static_cast<unsigned char>(flags & 0xFF);
    r.set_value24(static_cast<uint32_t>(value24));
    r.set_capacity(capacity);
    std::memcpy(r.partner_model, partner_model, sizeof r.partner_model);
    std::memcpy(r.partner_serial, partner_serial, sizeof r.partner_serial);
    std::memcpy(r.trailer, trailer_bytes, sizeof r.trailer);
    r.over_2tb = over_2tb ? 1 : 0;
    std::memcpy(r.stamp, stamp, sizeof r.stamp);
    return r;
}

raid_info zero_record()
{
    raid_info r;
    std::memset(&r, 0, sizeof r);
    return r;
}

bool has_signature(const unsigned char* sector)
{
    return sector[0] == signature_bytes[0] && sector[1] == signature_bytes[1];
}

void ppcReverse(unsigned char* bytes, int n)
{
    if (n > 1)
        std::reverse(bytes, bytes + n);
}

int GetTimeString(unsigned char* dst)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900,
                                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::memcpy(dst, text, 15);  // 14 digits and the NUL
    return n;
}

int str_equal(const unsigned char* a, const unsigned char* b, int n)
{
    if (n <= 0)
        return 1;
    return std::memcmp(a, b, static_cast<size_t>(n)) == 0 ? 1 : 0;
}

int compare_stamps(const unsigned char* a, const unsigned char* b)
{
    return std::memcmp(a, b, 16);
}

bool stamp_is_digits(const unsigned char* stamp)
{
    return std::all_of(stamp, stamp + 14, [](unsigned char c) { return c >= '0' && c <= '9'; });
}

bool stamp_after(unsigned char* out, const unsigned char* previous)
{
    std::memset(out, 0, 16);
    if (!stamp_is_digits(previous))
        return false;  // nothing is sure to sort after it
    char digits[15] = {};
    std::memcpy(digits, previous, 14);
    int f[6] = {};
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    for (int k = 0, at = 0; k < 6; ++k)
        for (int n = 0; n < widths[k]; ++n, ++at)
            f[k] = f[k] * 10 + (digits[at] - '0');
    std::tm t{};
    t.tm_year = f[0] - 1900;
    t.tm_mon = f[1] - 1;
    t.tm_mday = f[2];
    t.tm_hour = f[3];
    t.tm_min = f[4];
    t.tm_sec = f[5] + 1;
    t.tm_isdst = -1;
    std::mktime(&t);  // carries the second into minutes, days, months and years
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    // A date the calendar does not carry forward (day 0, year 9999, an hour a clock went back
    // over) sorts no later: then the digits plus one, later in every comparison.
    if (n != 14 || std::memcmp(text, digits, 14) <= 0) {
        int k = 13;
        for (; k >= 0 && digits[k] == '9'; --k)
            digits[k] = '0';
        if (k < 0)
            return false;
        ++digits[k];
        std::memcpy(text, digits, 14);
    }
    std::memcpy(out, text, 14);
    return true;
}

bool later_stamp(unsigned char* out, const unsigned char* previous)
{
    unsigned char now[16] = {};
    GetTimeString(now);
    if (compare_stamps(now, previous) > 0) {
        std::memcpy(out, now, 16);
        return true;
    }
    return stamp_after(out, previous);
}

bool controller_t::operator==(const controller_t& other) const
{
    if (is_firewire != other.is_firewire)
        return false;
    if (is_firewire)
        return guid == other.guid;
    return vendor_id == other.vendor_id && product_id == other.product_id && location_id == other.location_id;
}

void controller_t::clear()
{
    is_firewire = false;
    product_id = 0;
    usb_serial.clear();
    guid = 0;
    order_key = 0;
}

std::string inttostring(uint64_t value)
{
    if (value == 0)
        return "0";
    std::string text;
    while (value != 0) {
        text.insert(text.begin(), static_cast<char>('0' + value % 10));
        value /= 10;
    }
    return text;
}

std::string inttohexstring(int64_t value, int width)
{
    // The 64-bit pattern is printed, so a GUID with its top bit set keeps its digits.
    static const char digits[] = "0123456789ABCDEF";
    uint64_t bits = static_cast<uint64_t>(value);
    std::string text;
    while (bits != 0) {
        text.insert(text.begin(), digits[bits & 0xF]);
        bits >>= 4;
        --width;
    }
    if (width > 0)
        text.insert(0, static_cast<size_t>(width), '0');
    return text;
}

void trim(std::string& text)
{
    const char* ws = " \n\t";
    const size_t first = text.find_first_not_of(ws);
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    const size_t last = text.find_last_not_of(ws);
    text = text.substr(first, last - first + 1);
}

std::string cfstringtostring(const std::string& registry_text)
{
    for (unsigned char c : registry_text)
        if (c > 0x7F)
            return std::string();
    std::string text = registry_text.substr(0, 99);
    const size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}


}  // namespace ov
