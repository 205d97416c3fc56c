#include "json.h"

#include <cmath>
#include <cstdio>

namespace ov::cli {

std::string utf8_text(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = c < 0x80                              ? 1
                              : (c & 0xe0) == 0xc0 && c >= 0xc2     ? 2
                              : (c & 0xf0) == 0xe0                  ? 3
                              : (c & 0xf8) == 0xf0 && c <= 0xf4     ? 4
                                                                    : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
        // No overlong forms, no surrogates, nothing past U+10FFFF.
        const unsigned char d = valid && length > 1 ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (valid && length == 3)
            valid = !(c == 0xe0 && d < 0xa0) && !(c == 0xed && d >= 0xa0);
        if (valid && length == 4)
            valid = !(c == 0xf0 && d < 0x90) && !(c == 0xf4 && d >= 0x90);
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
            ++i;
        }
    }
    return out;
}

std::string json_string(std::string_view text)
{
    std::string out = "\"";
    for (const char ch : utf8_text(text)) {
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
