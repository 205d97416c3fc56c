#include "functions.h"

#include <cstring>

namespace ov {

QString stringtonsstring(const std::string& text)
{
    return QString::fromUtf8(text.c_str(), static_cast<qsizetype>(std::strlen(text.c_str())));
}

}  // namespace ov
