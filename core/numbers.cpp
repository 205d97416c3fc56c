#include "numbers.h"

#include <cstdio>

namespace ov {

namespace {

number_format installed;

}  // namespace

void set_number_format(const number_format& format)
{
    installed = format;
}

const number_format& current_number_format()
{
    return installed;
}

std::string decimal_text(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string out = text;
    // printf writes the C locale's mark: the program never changes LC_NUMERIC.
    if (const size_t dot = out.find('.'); dot != std::string::npos)
        out.replace(dot, 1, installed.decimal_point);
    return out;
}

std::string grouped(uint64_t value)
{
    std::string digits = std::to_string(value);
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += installed.group_separator;
        out += digits[i];
    }
    return out;
}

}  // namespace ov
