// A chip's state as a small icon for the device tree: drawn in code so it scales with the
// tree's icon size and needs no image files.
#pragma once

#include <QIcon>

#include "health.h"

namespace ov {

// A filled disc whose colour says how bad the state is, with a white mark that tells the
// states of one colour apart (colour alone does not reach every eye). Drawn anew on each
// call: the caller keeps it.
QIcon state_icon(chip_state state);

}  // namespace ov
