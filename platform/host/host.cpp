#include "host.h"

#include <cstdio>
#include <cstdlib>

namespace ov {

system_version host_system_version()
{
    system_version v;
    if (const char* env = std::getenv("OVRAID_SYSTEM_VERSION")) {
        system_version parsed{0, 0, 0};
        const int n = std::sscanf(env, "%d.%d.%d", &parsed.major, &parsed.minor, &parsed.patch);
        if (n >= 2)
            v = parsed;
    }
    return v;
}

}  // namespace ov
