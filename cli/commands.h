// The commands of ovraidctl; each returns the process's exit code.
#pragma once

#include "options.h"
#include "session.h"

namespace ov::cli {

int run_status(session& s, const options& o);
int run_check(session& s, const options& o);
// create, delete, clear-disk, rebuild, restart.
int run_command(session& s, const options& o);
int run_monitor(session& s, const options& o);

// The line's words went wrong: one line on standard error, and the usage code.
int usage_error(const std::string& text);

}  // namespace ov::cli
