// What a configuration write reports when it does not complete, and the host-side
// notes that keep a half-copied mirror disk from ever becoming a rebuild source.
#pragma once

#include <string>
#include <vector>

#include "raid.h"

namespace ov {

// Why a configuration write stopped. Bays are the enclosure's numbers (port + 1).
enum class write_fault {
    none,
    disk_changed,     // a bay no longer holds the disk that was shown; nothing written
    disk_unknown,     // a bay's record could not be read, so it could not be kept; nothing written
    write_failed,     // a sector write or its read-back failed; what was written is put back
    flush_failed,     // a disk did not confirm its cache flush; what was written is put back
    restart_failed,   // records written and flushed, but the bridge did not restart
    note_failed,      // a rebuild's note could not be saved (detail: where); nothing written
};

struct write_report {
    write_fault fault = write_fault::none;
    int bay = 0;                  // 1 or 2; 0 when the fault names no bay
    std::string serial;           // serial of the disk in that bay, as shown
    bool restore_failed = false;  // a touched sector could not be put back
    int restore_bay = 0;          // the first bay that could not be put back
    std::string restore_serial;
    bool unrestored[2] = {false, false};  // by port: left changed (a vanished bridge can leave both)
    std::string unrestored_serial[2];
    bool plain_restart = false;   // the operation was the restart alone
    std::string detail;           // note_failed: the file that could not be written
    bool rebuild = false;         // the operation was a rebuild (changes the restart text)

    bool ok() const { return fault == write_fault::none && !restore_failed; }
    void clear() { *this = write_report{}; }
};

// The user's words for a report, by localisation key ("" for a report without fault).
std::string failure_text(const write_report& report);

// A running rebuild, noted on the host before its records are written and dropped when
// it ends, so a target pulled mid-copy is never taken for a mirror half with current data.
struct rebuild_note {
    std::string bridge;          // bridge_key() of the enclosure
    std::string source_serial;   // trimmed serials, as shown
    std::string target_serial;
    std::string stamp;           // the 14 digits both rebuild records carry
    // Not a copy: the source was degraded alone at stamp while target, its partner, was away.
    bool degrade = false;
    // A degrade: the stamp the source carried with its partner before (empty in older notes).
    // A partner back with a later one went on alone too.
    std::string before{};
};

// A stable name for an enclosure: USB vendor, product and serial (location when it has
// none), or the FireWire GUID.
std::string bridge_key(const controller_t& identity);

namespace rebuild_notes {
// $XDG_STATE_HOME/ovraid/rebuilds, or ~/.local/state/ovraid/rebuilds; tests point it elsewhere.
std::string path();
void set_path(const std::string& file);   // "" restores the default
std::vector<rebuild_note> load();  // what can be read; see read()
// The notes; false, with why, when they are there but cannot be read (no file is no notes).
// A change (add, remove_targets) is then refused rather than writing them away.
bool read(std::vector<rebuild_note>& notes, std::string& error);
// Replaces a note for the same target. Notes are found by the target's serial, in any
// enclosure: a half copy carried to another enclosure is still a half copy.
bool add(const rebuild_note& note);
// Drops the notes naming these disks as targets: their records were replaced, or the copy
// onto them ended.
bool remove_targets(const std::vector<std::string>& serials);
bool find_target(const std::string& serial, rebuild_note& note);
// Whether a note says partner was written later than stamp (rebuilt from, or degraded alone),
// this disk unchanged since.
bool superseded(const std::vector<rebuild_note>& notes, const std::string& partner, const std::string& stamp);
// Whether the two halves of a mirror were each written alone: one was degraded while the other
// was away, and the other came back with a stamp later than the pair had (its enclosure marked
// it, or it was degraded elsewhere). Neither then holds all the newest data.
// Only while the degraded half still carries its degrade's stamp: a rebuild since settled it.
bool diverged(const std::vector<rebuild_note>& notes, const std::string& serial, const std::string& stamp,
              const std::string& partner, const std::string& partner_stamp);
}  // namespace rebuild_notes

}  // namespace ov
