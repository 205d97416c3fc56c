#pragma once

#include "ovtool.h"
#include "raid.h"
#include "requests.h"
#include "safety.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace ovtest {

// No monitor left running: they read the chip list and talk to the window.
inline void stop_all_monitors()
{
    for (size_t i = 0; i < ov::j.chips.size(); ++i)
        ov::j.stop_monitors(static_cast<int>(i));
}

// The one global registry as at start: no chip, no selection, no outline, default texts.
inline void reset_engine_globals()
{
    ov::j.chips.clear();
    ov::j.controller_map.clear();
    ov::j.current = ov::controller_t{};
    ov::j.warm_boot_pending = false;
    ov::j.tree.cleartree();
    ov::override_architecture(-1);
    ov::set_localizer(nullptr);
    // Rebuild notes of this test process only, never the user's.
    ov::rebuild_notes::set_path("/tmp/ovraid-test-notes-" + std::to_string(::getpid()));
    std::remove(ov::rebuild_notes::path().c_str());
}

}  // namespace ovtest
