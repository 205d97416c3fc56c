#include "json.h"

#include <cmath>
#include <cstdio>

namespace ov::cli {

std::string json_string(std::string_view text)
{
    std::string out = "\"";
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7f) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else if (c >= 0x80) {
            // Latin-1 to UTF-8: two bytes.
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

void json::separate()
{
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back())
            out_ += ',';
        first_.back() = false;
    }
}

json& json::begin_object()
{
    separate();
    out_ += '{';
    first_.push_back(true);
    return *this;
}

json& json::end_object()
{
    out_ += '}';
    first_.pop_back();
    return *this;
}

json& json::begin_array()
{
    separate();
    out_ += '[';
    first_.push_back(true);
    return *this;
}

json& json::end_array()
{
    out_ += ']';
    first_.pop_back();
    return *this;
}

json& json::key(std::string_view name)
{
    separate();
    out_ += json_string(name);
    out_ += ':';
    after_key_ = true;
    return *this;
}

json& json::value(std::string_view text)
{
    separate();
    out_ += json_string(text);
    return *this;
}

json& json::value(bool b)
{
    separate();
    out_ += b ? "true" : "false";
    return *this;
}

json& json::value(int64_t n)
{
    separate();
    out_ += std::to_string(n);
    return *this;
}

json& json::value(uint64_t n)
{
    separate();
    out_ += std::to_string(n);
    return *this;
}

json& json::value(double d)
{
    if (!std::isfinite(d))
        return null();
    separate();
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", d);
    out_ += text;
    return *this;
}

json& json::raw(std::string_view text)
{
    separate();
    out_ += text;
    return *this;
}

json& json::null()
{
    separate();
    out_ += "null";
    return *this;
}

}  // namespace ov::cli
