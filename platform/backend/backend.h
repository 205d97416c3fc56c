// Which bridges a front end talks to. The simulated enclosures are the default (and the
// demo). A bridge library named on the command line (--library) or in the configuration
// file is loaded instead, and its bridges are found through udev; named on the command
// line together with --sim, it is driven over the simulation's registry (that is how the
// simulator's own loadable form goes through the same door).
#pragma once

#include <memory>
#include <string>

#include "library.h"
#include "registry.h"

namespace ov {

struct backend_options {
    std::string sim_root;        // the simulation to use; "" for the default
    bool sim_given = false;      // --sim was on the command line
    std::string library;         // --library PATH, "" when not given
    bool create_demo = true;     // make the demo when the simulation does not exist (else an error)
};

// "library = PATH" from $XDG_CONFIG_HOME/ovraid/ovraid.conf (or ~/.config/...), else from
// /etc/ovraid/ovraid.conf. library "" when neither names one; false, with error naming the
// file and line, for a file that exists but cannot be read or understood.
bool configured_library(std::string& library, std::string& error);

class backend {
public:
    // The front end's bridges as the options and the configuration choose them; null with
    // error (naming the file and what is wrong) when that cannot be opened.
    static std::unique_ptr<backend> open(const backend_options& options, std::string& error);
    virtual ~backend() = default;

    virtual bridge_library& library() = 0;
    virtual device_registry& registry() = 0;
    // Installs both as the process's own and starts following hot-plug.
    virtual void install() = 0;
    // One line for a user: what is being looked at.
    virtual std::string description() const = 0;
};

}  // namespace ov
