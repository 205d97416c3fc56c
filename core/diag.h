// The one way out for diagnostics. The engine's trace words, the words it prints on the
// console as it works, the system log lines and the simulator's complaints all leave
// through diag(); a front end that owns the console (a command line printing JSON, say)
// points them elsewhere with set_diag_sink().
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ov {

enum class diag_level {
    trace,    // progress words of the engine; nobody reads them unless a sink asks
    console,  // words the engine prints on standard output as it works, as they stand
    info,     // the same on standard error
    notice,   // system log lines
    warning,  // something failed and the system goes on; standard error, one line each
};

void diag(diag_level level, std::string_view text);

using diag_sink = std::function<void(diag_level level, std::string_view text)>;
// Replaces where diagnostics go; an empty sink restores the default (trace discarded,
// console to stdout, info and warning to stderr, notice to syslog).
void set_diag_sink(diag_sink sink);

// Text for a terminal: control bytes (from a typed path, a device, a file) as \xNN, so that
// nothing printed can steer the terminal. Other bytes stay as they are.
std::string without_controls(std::string_view text);

}  // namespace ov
