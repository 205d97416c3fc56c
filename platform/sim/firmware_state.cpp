#include "firmware_state.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "conf.h"
#include "posix_io.h"

namespace ov::sim {

namespace {

constexpr size_t state_file_limit = 4096;

std::string state_path(const std::string& root, const std::string& bridge, const char* suffix)
{
    return firmware_dir(root) + "/" + bridge + suffix;
}

// "key = value" lines into take(key, value); absent: true with found false.
template <typename Take>
bool read_state(const std::string& root, const std::string& path, bool& found, std::string& error, Take take)
{
    found = false;
    std::string text;
    if (!firmware_dir_usable(root, false, error))
        return false;
    if (!io::path_exists(path))
        return true;
    if (!io::read_file(path, text, error, state_file_limit))
        return !io::path_exists(path);  // replaced or removed while reading: as absent
    found = true;
    std::string bad;
    for_each_line(text, [&](int number, const std::string& line) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos || !take(trimmed(line.substr(0, eq)), trimmed(line.substr(eq + 1)))) {
            bad = path + ":" + std::to_string(number) + ": cannot read '" + clipped(line) + "'";
            return false;
        }
        return true;
    });
    if (!bad.empty())
        error = bad;
    return bad.empty();
}

bool parse_u64(const std::string& text, uint64_t& value)
{
    int64_t v = 0;
    if (!parse_i64(text, v) || v < 0)
        return false;
    value = static_cast<uint64_t>(v);
    return true;
}

// The service made the directory when it started. Gone since, the simulation is being
// removed: made again, it would keep the root from going, so the write fails instead.
bool dir_still_there(const std::string& root, std::string& error)
{
    struct stat st;
    if (::lstat(firmware_dir(root).c_str(), &st) != 0 && errno == ENOENT) {
        error = firmware_dir(root) + ": gone; the simulation was removed";
        return false;
    }
    return firmware_dir_usable(root, false, error);
}

const char* const progress_names[] = {"none", "running", "stopped", "done"};

}  // namespace

std::string firmware_dir(const std::string& root)
{
    return root + "/" + firmware_dir_name;
}

bool firmware_dir_usable(const std::string& root, bool make, std::string& error)
{
    const std::string dir = firmware_dir(root);
    if (make && ::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        error = io::errno_text(dir, errno);
        return false;
    }
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) {
        if (errno == ENOENT && !make)
            return true;
        error = io::errno_text(dir, errno);
        return false;
    }
    // Followed, a link would put the state, lock and log wherever it points.
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
        error = dir + (S_ISLNK(st.st_mode) ? ": a symbolic link" : ": not a directory") +
                "; the firmware keeps its state in a directory of the simulation itself";
        return false;
    }
    return true;
}

bool read_power(const std::string& root, const std::string& bridge, power_state& p, std::string& error)
{
    power_state got;
    bool found = false;
    const bool ok = read_state(root, state_path(root, bridge, power_suffix), found, error,
                               [&](const std::string& key, const std::string& value) {
                                   if (key == "boot")
                                       return parse_u64(value, got.boot);
                                   if (key != "state" || (value != "up" && value != "rebooting"))
                                       return false;
                                   got.state = value == "up" ? power_state::kind::up : power_state::kind::rebooting;
                                   return true;
                               });
    if (!ok)
        return false;
    if (found && got.state == power_state::kind::off) {
        error = state_path(root, bridge, power_suffix) + ": no state line";
        return false;
    }
    p = got;
    return true;
}

bool write_power(const std::string& root, const std::string& bridge, const power_state& p, std::string& error)
{
    const std::string text = "boot = " + std::to_string(p.boot) + "\nstate = " +
                             (p.state == power_state::kind::up ? "up" : "rebooting") + "\n";
    return dir_still_there(root, error) && io::atomic_replace(state_path(root, bridge, power_suffix), text, error);
}

bool read_progress(const std::string& root, const std::string& bridge, rebuild_progress& p, std::string& error)
{
    rebuild_progress got;
    bool found = false;
    const bool ok = read_state(root, state_path(root, bridge, progress_suffix), found, error,
                               [&](const std::string& key, const std::string& value) {
                                   if (key == "total")
                                       return parse_u64(value, got.total);
                                   if (key == "current")
                                       return parse_u64(value, got.current);
                                   if (key == "source") {
                                       got.source_port = value == "1" ? 1 : 0;
                                       return value == "0" || value == "1";
                                   }
                                   if (key == "source_id")
                                       return got.source_id = value, true;
                                   if (key == "target_id")
                                       return got.target_id = value, true;
                                   if (key != "state")
                                       return false;
                                   for (int k = 0; k < 4; ++k)
                                       if (value == progress_names[k]) {
                                           got.state = static_cast<rebuild_progress::kind>(k);
                                           return true;
                                       }
                                   return false;
                               });
    if (!ok)
        return false;
    if (got.current > got.total) {
        error = state_path(root, bridge, progress_suffix) + ": current beyond total";
        return false;
    }
    p = got;
    return true;
}

bool write_progress(const std::string& root, const std::string& bridge, const rebuild_progress& p,
                    std::string& error)
{
    const std::string text = "state = " + std::string(progress_names[static_cast<int>(p.state)]) +
                             "\ntotal = " + std::to_string(p.total) + "\ncurrent = " + std::to_string(p.current) +
                             "\nsource = " + std::to_string(p.source_port) + "\nsource_id = " + p.source_id +
                             "\ntarget_id = " + p.target_id + "\n";
    // Rewritten at every step of a copy: not synced; a crash loses at most the last steps.
    return dir_still_there(root, error) &&
           io::atomic_replace(state_path(root, bridge, progress_suffix), text, error, 0644, false);
}

bool write_powered_down_set(const std::string& root, const std::string& bridge, const powered_down_set& set,
                            std::string& error)
{
    const std::string text =
        "half = " + set.serial[0] + "\nhalf = " + set.serial[1] + "\nstamp = " + set.stamp + "\n";
    return firmware_dir_usable(root, true, error) &&
           io::atomic_replace(state_path(root, bridge, set_suffix), text, error);
}

bool take_powered_down_set(const std::string& root, const std::string& bridge, powered_down_set& set, bool& found,
                           std::string& error)
{
    powered_down_set got;
    int halves = 0;
    const std::string path = state_path(root, bridge, set_suffix);
    const bool ok = read_state(root, path, found, error, [&](const std::string& key, const std::string& value) {
        if (key == "half" && halves < 2)
            return got.serial[halves++] = value, true;
        return key == "stamp" && (got.stamp = value, true);
    });
    if (!ok || !found)
        return ok;  // one that cannot be read stays, so every power-up says so
    if (halves != 2 || got.stamp.empty()) {
        error = path + ": not two halves and a stamp";
        return false;
    }
    forget_powered_down_set(root, bridge);
    set = got;
    return true;
}

void forget_powered_down_set(const std::string& root, const std::string& bridge)
{
    ::unlink(state_path(root, bridge, set_suffix).c_str());
}

std::string hex_word(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string word = "x";  // never empty
    for (const unsigned char c : bytes) {
        word += digits[c >> 4];
        word += digits[c & 15];
    }
    return word;
}

void forget_power(const std::string& root, const std::string& bridge)
{
    ::unlink(state_path(root, bridge, power_suffix).c_str());
}

void forget_firmware_state(const std::string& root, const std::string& bridge)
{
    forget_power(root, bridge);
    forget_powered_down_set(root, bridge);
    ::unlink(state_path(root, bridge, progress_suffix).c_str());
}

}  // namespace ov::sim
