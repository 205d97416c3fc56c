// Host queries the window needs.
#pragma once

namespace ov {

struct system_version {
    int major = 10;
    int minor = 6;
    int patch = 0;
};

// 10.6.0 (sizes in powers of ten, as Linux desktops show them) unless
// OVRAID_SYSTEM_VERSION (for example "10.5.8") says otherwise.
system_version host_system_version();

}  // namespace ov
