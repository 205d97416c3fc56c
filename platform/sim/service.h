// The simulated bridges' firmware runs once per simulation, in a small service of its own,
// as real firmware runs in the enclosure whatever hosts come and go: set assembly at
// power-up, the rebuild copy and the warm boot. Front ends ask it for a power-up or a warm
// boot over a socket in <root>/.firmware; the first to ask starts it, and it ends once
// nothing has run for a while. Its state reaches every front end through firmware_state.h.
#pragma once

#include <string>

namespace ov::sim {

// The program that serves ("ovraid-sim firmware"): set_firmware_program(), else
// OVRAID_SIM_TOOL, else the one in the running program's directory, else the one built beside
// this code, else the installed one, else PATH.
void set_firmware_program(const std::string& path);
std::string firmware_program();

// verb: "power-up", "warm-boot", "disk-in" or "disk-out" (bridge then carries the port and the
// stamp too). Starts the service when none answers. False with error
// when the request was refused or no service could be reached.
bool firmware_request(const std::string& root, const std::string& verb, const std::string& bridge,
                      std::string& error);
// Tells the firmware that a disk went into one of the bridge's bays, as a bridge notices it
// by itself: a rebuild copy that a pulled disk stopped starts again once both halves are back.
bool disk_inserted(const std::string& root, const std::string& bridge, std::string& error);
// Plugs a bridge in (it powers up at once, whether or not a front end looks) or unplugs it
// (what it ran is kept for its next power-up), as store::set_plugged otherwise.
bool set_plugged(const std::string& root, const std::string& bridge, bool plugged, std::string& error);
// Takes the disk in port out to the shelf (store::pull_disk) as the bridge notices it: when it
// was half of a mirror running in step, the firmware marks the half left behind newer, so the
// pulled half is known as the older one when it comes back, whether or not a front end looked.
// When the firmware cannot be told, the disk is put back (disk then empty) and false returned.
bool pull_disk(const std::string& root, const std::string& bridge, int port, std::string& disk, std::string& error);
// Whether a service holds the simulation's lock.
bool firmware_running(const std::string& root);

// Serves until idle, or until the root is gone. detach: forks into the background and
// returns in the parent as soon as the service listens (0) or could not start (1).
// Must be called while the process has one thread.
int serve_firmware(const std::string& root, bool detach);

}  // namespace ov::sim
