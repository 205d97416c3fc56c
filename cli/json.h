// A small JSON writer: what the command line prints for scripts. Every text is written
// as valid UTF-8 JSON whatever bytes a disk or a registry hands over: bytes outside ASCII
// that form no UTF-8 are taken as Latin-1, control characters are escaped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ov::cli {

class json {
public:
    json& begin_object();
    json& end_object();
    json& begin_array();
    json& end_array();
    json& key(std::string_view name);
    json& value(std::string_view text);
    json& value(const char* text) { return value(std::string_view(text)); }
    json& value(const std::string& text) { return value(std::string_view(text)); }
    json& value(bool b);
    json& value(int64_t n);
    json& value(uint64_t n);
    json& value(int n) { return value(static_cast<int64_t>(n)); }
    json& value(uint32_t n) { return value(static_cast<uint64_t>(n)); }
    json& value(double d);
    json& null();
    // A value already written as JSON (a whole document).
    json& raw(std::string_view text);
    template <class T>
    json& value(const std::optional<T>& v)
    {
        return v ? value(*v) : null();
    }
    template <class T>
    json& field(std::string_view name, const T& v)
    {
        key(name);
        return value(v);
    }

    const std::string& text() const { return out_; }

private:
    void separate();
    std::string out_;
    std::vector<bool> first_;   // per open container: nothing written in it yet
    bool after_key_ = false;
};

std::string json_string(std::string_view text);
// Text as valid UTF-8: sequences that are UTF-8 already (the translations) stay, any other
// byte is taken as Latin-1.
std::string utf8_text(std::string_view text);

}  // namespace ov::cli
