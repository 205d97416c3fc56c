// Numbers as a reader of the user's language writes them: the decimal mark, the thousands
// separator and the percent sign. The window installs its locale's; a program that installs
// nothing (the command line, whose output scripts parse) keeps the C form: 1.5, 1,000, 21.7%.
#pragma once

#include <cstdint>
#include <string>

namespace ov {

struct number_format {
    std::string decimal_point = ".";
    std::string group_separator = ",";
    std::string percent_suffix = "%";   // after the number: "%" or a no-break space and "%"
};

// Installed once at start, before any thread reads it.
void set_number_format(const number_format& format);
const number_format& current_number_format();

// value with `decimals` digits after the decimal mark ("%.*f" in the installed form).
std::string decimal_text(double value, int decimals);
// 400168 -> "400,168" in the installed form.
std::string grouped(uint64_t value);

}  // namespace ov
