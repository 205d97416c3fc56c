// Conversions between the engine's standard strings and the window's strings.
#pragma once

#include <QString>
#include <string>

namespace ov {

// The characters up to the first NUL, as UTF-8.
QString stringtonsstring(const std::string& text);

}  // namespace ov
