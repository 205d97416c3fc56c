#include "safety.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>

#include "posix_io.h"
#include "threads.h"
#include "requests.h"

namespace ov {

namespace {

std::string substitute(std::string text, const std::string& one, const std::string& two = std::string())
{
    const auto put = [&text](const std::string& marker, const std::string& value) {
        for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + value.size()))
            text.replace(at, marker.size(), value);
    };
    put("%1", one);
    put("%2", two);
    return text;
}

std::string bay_text(int bay, const std::string& serial, const char* key)
{
    return substitute(localized(key), std::to_string(bay), serial);
}

}  // namespace

std::string failure_text(const write_report& report)
{
    std::string text;
    switch (report.fault) {
    case write_fault::none:
        break;
    case write_fault::disk_changed:
        text = bay_text(report.bay, report.serial, "fault_disk_changed");
        break;
    case write_fault::disk_unknown:
        text = bay_text(report.bay, report.serial, "fault_disk_unknown");
        break;
    case write_fault::write_failed:
        text = bay_text(report.bay, report.serial, "fault_write_failed");
        break;
    case write_fault::flush_failed:
        text = bay_text(report.bay, report.serial, "fault_flush_failed");
        break;
    case write_fault::note_failed:
        text = substitute(localized("fault_note_failed"), report.detail);
        break;
    case write_fault::restart_failed:
        text = localized(report.rebuild         ? "fault_rebuild_restart_failed"
                         : report.plain_restart ? "fault_plain_restart_failed"
                                                : "fault_restart_failed");
        break;
    }
    // Only a write that was made and then undone says whether undoing it worked.
    if (report.fault == write_fault::write_failed || report.fault == write_fault::flush_failed ||
        report.restore_failed) {
        if (!text.empty())
            text += " ";
        if (!report.restore_failed) {
            text += localized("fault_restored");
        } else {
            bool named = false;
            for (int port = 0; port < 2; ++port)
                if (report.unrestored[port]) {
                    text += (named ? " " : "") + bay_text(port + 1, report.unrestored_serial[port], "fault_restore_failed");
                    named = true;
                }
            if (!named)
                text += bay_text(report.restore_bay, report.restore_serial, "fault_restore_failed");
        }
    }
    return text;
}

std::string bridge_key(const controller_t& identity)
{
    char text[96];
    if (identity.is_firewire) {
        std::snprintf(text, sizeof text, "fw:%016llx", static_cast<unsigned long long>(identity.guid));
        return text;
    }
    std::snprintf(text, sizeof text, "usb:%04x:%04x:", identity.vendor_id, identity.product_id);
    std::string key = text;
    // A serial survives a move to another port; without one the port is all we have.
    if (!identity.usb_serial.empty())
        return key + "sn=" + identity.usb_serial;
    return key + "loc=" + std::to_string(identity.location_id);
}

namespace rebuild_notes {

namespace {

std::mutex notes_mutex;
std::string notes_path_override;

std::string default_path()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string dir;
    if (state && *state == '/') {
        dir = state;
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home && *home ? home : "/tmp") + "/.local/state";
    }
    return dir + "/ovraid/rebuilds";
}

// Every directory above the file, as mkdir -p would.
bool make_parents(const std::string& file)
{
    for (size_t at = file.find('/', 1); at != std::string::npos; at = file.find('/', at + 1)) {
        const std::string dir = file.substr(0, at);
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// Another process (a second window, the command line) may change the notes at the same
// moment: a read-modify-write under only this process's mutex could drop its note. A
// record lock on a file beside the notes is held for the whole change; it is waited for
// through the clock, and a change that cannot get it fails (a rebuild then does not start).
// The holder only reads and replaces a small file, but its disk syncs do not shrink with a
// test's clock: the bound is ten seconds of real time, there only for a stopped holder.
class file_lock {
public:
    explicit file_lock(const std::string& notes)
    {
        if (!make_parents(notes))
            return;
        fd_ = ::open((notes + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0)
            return;
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        pause_until([&] {
            held_ = ::fcntl(fd_, F_SETLK, &whole) == 0;
            return held_ || std::chrono::steady_clock::now() >= until;
        });
    }
    ~file_lock()
    {
        if (fd_ >= 0)
            ::close(fd_);  // releases the lock
    }
    file_lock(const file_lock&) = delete;
    file_lock& operator=(const file_lock&) = delete;
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

// One note a line: four tab-separated fields. Serials and keys hold no tabs or newlines.
bool clean(const std::string& field)
{
    return field.find_first_of("\t\n\r") == std::string::npos;
}

// False, with why, when the notes are there but cannot be read: that is not "no notes", or a
// half copy would pass for a whole disk and a change would write the others away.
bool read_all(std::vector<rebuild_note>& notes, std::string& error)
{
    notes.clear();
    const std::string file = path();
    struct stat st;
    if (::lstat(file.c_str(), &st) != 0 && errno == ENOENT)
        return true;  // no file, no notes
    constexpr size_t notes_limit = 4 << 20;  // far beyond any number of enclosures
    std::string text;
    if (!io::read_file(file, text, error, notes_limit))
        return false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream s(line);
        std::string field;
        while (std::getline(s, field, '\t'))
            fields.push_back(field);
        const bool degrade = (fields.size() == 5 || fields.size() == 6) && fields[4] == "degrade";
        if ((fields.size() == 4 || degrade) && !fields[0].empty())
            notes.push_back({fields[0], fields[1], fields[2], fields[3], degrade, fields.size() == 6 ? fields[5] : ""});
    }
    return true;
}

// Replaced whole, so a crash leaves the old notes or the new.
bool write_all(const std::vector<rebuild_note>& notes)
{
    const std::string file = path();
    if (!make_parents(file))
        return false;
    std::string text, error;
    for (const rebuild_note& n : notes)
        text += n.bridge + '\t' + n.source_serial + '\t' + n.target_serial + '\t' + n.stamp +
                (n.degrade ? "\tdegrade" + (n.before.empty() ? "" : "\t" + n.before) + "\n" : "\n");
    return io::atomic_replace(file, text, error, 0666);
}

}  // namespace

std::string path()
{
    return notes_path_override.empty() ? default_path() : notes_path_override;
}

void set_path(const std::string& file)
{
    std::lock_guard<std::mutex> lock(notes_mutex);
    notes_path_override = file;
}

std::vector<rebuild_note> load()
{
    std::lock_guard<std::mutex> lock(notes_mutex);
    std::vector<rebuild_note> notes;
    std::string error;
    read_all(notes, error);
    return notes;
}

bool read(std::vector<rebuild_note>& notes, std::string& error)
{
    std::lock_guard<std::mutex> lock(notes_mutex);
    return read_all(notes, error);
}

bool add(const rebuild_note& note)
{
    if (note.target_serial.empty() || !clean(note.bridge) || !clean(note.source_serial) ||
        !clean(note.target_serial) || !clean(note.stamp))
        return false;
    std::lock_guard<std::mutex> lock(notes_mutex);
    const file_lock others(path());
    if (!others.held())
        return false;
    std::vector<rebuild_note> notes, kept;
    std::string error;
    if (!read_all(notes, error))
        return false;
    for (const rebuild_note& n : notes)
        if (n.target_serial != note.target_serial)
            kept.push_back(n);
    kept.push_back(note);
    return write_all(kept);
}

bool remove_targets(const std::vector<std::string>& serials)
{
    std::lock_guard<std::mutex> lock(notes_mutex);
    const file_lock others(path());
    if (!others.held())
        return false;
    std::vector<rebuild_note> notes, kept;
    std::string error;
    if (!read_all(notes, error))
        return false;
    for (const rebuild_note& n : notes)
        if (std::find(serials.begin(), serials.end(), n.target_serial) == serials.end())
            kept.push_back(n);
    if (kept.size() == notes.size())
        return true;
    return write_all(kept);
}

bool find_target(const std::string& serial, rebuild_note& note)
{
    if (serial.empty())
        return false;
    std::lock_guard<std::mutex> lock(notes_mutex);
    std::vector<rebuild_note> notes;
    std::string error;
    read_all(notes, error);
    for (const rebuild_note& n : notes)
        if (n.target_serial == serial) {
            note = n;
            return true;
        }
    return false;
}

bool superseded(const std::vector<rebuild_note>& notes, const std::string& partner, const std::string& stamp)
{
    if (partner.empty())
        return false;
    for (const rebuild_note& note : notes)
        if (note.source_serial == partner && note.stamp > stamp && (note.before.empty() || stamp <= note.before))
            return true;
    return false;
}

bool diverged(const std::vector<rebuild_note>& notes, const std::string& serial, const std::string& stamp,
              const std::string& partner, const std::string& partner_stamp)
{
    for (const rebuild_note& note : notes)
        if (note.degrade && !note.before.empty() && !serial.empty() && note.source_serial == serial &&
            note.stamp == stamp && note.target_serial == partner && partner_stamp > note.before)
            return true;
    return false;
}

}  // namespace rebuild_notes

}  // namespace ov
