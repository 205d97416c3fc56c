// Reading what sysfs says of a bridge: its numbers as the kernel prints them, the value of
// an attribute as a diagnostic shows it. Used by the udev registry; kept apart so the parsing
// is one small piece.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "diag.h"

namespace ov::udev_text {

// A value for a diagnostic: short, printable.
std::string shown(const char* value);
std::string_view trimmed(std::string_view text);
// Sysfs prints these numbers in hex, USB ids without a prefix, FireWire ones with "0x".
std::optional<uint64_t> parse_hex(std::string_view text, uint64_t max);
std::optional<uint32_t> parse_decimal(std::string_view text, uint32_t max);

// Whatever a diagnostic costs, it does not end the loop: the text is put together here too.
template <class... Parts>
void note(const Parts&... parts) noexcept
{
    try {
        std::string text;
        const auto add = [&text](const auto& part) {
            if constexpr (std::is_integral_v<std::decay_t<decltype(part)>>)
                text += std::to_string(part);
            else
                text += part;
        };
        (add(parts), ...);
        diag(diag_level::warning, text);
    } catch (...) {
    }
}

inline std::string errno_text(int error)
{
    return std::strerror(error);
}

}  // namespace ov::udev_text
