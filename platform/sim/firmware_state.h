// What the simulated bridges' firmware shares with every front end, in <root>/.firmware/:
// per bridge its power state (<bridge>.power: boot count, up or rebooting), its rebuild
// progress (<bridge>.rebuild) and the mirror it ran when it lost power (<bridge>.set). Only
// the firmware service writes them, except that unplugging a bridge removes its power state
// and writes the mirror it ran. Each file is replaced whole, so a reader sees one state or the
// next.
#pragma once

#include <cstdint>
#include <string>

namespace ov::sim {

constexpr const char* firmware_dir_name = ".firmware";
constexpr const char* power_suffix = ".power";
constexpr const char* progress_suffix = ".rebuild";
constexpr const char* set_suffix = ".set";

std::string firmware_dir(const std::string& root);
// The firmware directory is a real directory (made when make and missing); a link or a
// file there is an error naming it. Missing and not made is fine.
bool firmware_dir_usable(const std::string& root, bool make, std::string& error);

struct power_state {
    enum class kind { off, up, rebooting };
    kind state = kind::off;  // off: no file; the bridge has not been powered up since it was plugged
    uint64_t boot = 0;       // counts power-ups; a front end re-enumerates the bridge when it changes
};

struct rebuild_progress {
    enum class kind { none, running, stopped, done };
    kind state = kind::none;
    uint64_t total = 0, current = 0;
    int source_port = 0;
    // The images copied, by device and inode: a copy is resumed only onto the same files.
    std::string source_id, target_id;
};

// Absent files read as off and none; false with error only for a file that cannot be read or
// does not parse (a reader then keeps what it had).
bool read_power(const std::string& root, const std::string& bridge, power_state& p, std::string& error);
// Writes fail once the firmware directory is gone: it is never made again behind a removal.
bool write_power(const std::string& root, const std::string& bridge, const power_state& p, std::string& error);
bool read_progress(const std::string& root, const std::string& bridge, rebuild_progress& p, std::string& error);
bool write_progress(const std::string& root, const std::string& bridge, const rebuild_progress& p,
                    std::string& error);
// Bytes (a stamp, a serial) as one word of a request line or a state file: hex, so any pass.
std::string hex_word(const std::string& bytes);

// The mirror a bridge ran in step when it lost power: its halves' serials and their stamp, each
// a hex_word. Written by the unplug; the next power-up takes it (reads and removes it) to
// notice a half that went meanwhile.
struct powered_down_set {
    std::string serial[2];
    std::string stamp;
};
bool write_powered_down_set(const std::string& root, const std::string& bridge, const powered_down_set& set,
                            std::string& error);
// found false when there is none. Taken away when read; one that cannot be read is an error
// and stays, so each power-up says so.
bool take_powered_down_set(const std::string& root, const std::string& bridge, powered_down_set& set, bool& found,
                           std::string& error);
void forget_powered_down_set(const std::string& root, const std::string& bridge);

// The bridge lost power (unplugged or removed): its power state goes; its last progress stays
// readable until it is powered up again.
void forget_power(const std::string& root, const std::string& bridge);
void forget_firmware_state(const std::string& root, const std::string& bridge);

}  // namespace ov::sim
