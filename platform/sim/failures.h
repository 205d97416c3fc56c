// Injected failures of library calls: a bridge's "failures" file, one entry a line
// ("call=ovSetRaidInfo mode=once port=-1 skip=0"), judged in order. Every process reads
// and changes it under an exclusive lock, so all of them see the same counts.
#pragma once

#include <string>
#include <vector>

namespace ov::sim {

// One injected failure of a library call on a bridge.
struct failure_desc {
    std::string call;            // library call name, e.g. "ovSetRaidInfo"
    std::string mode = "once";   // once | always | mismatch | vanish
    int port = -1;               // -1: any port
    int skip = 0;                // let this many matching calls succeed first
};
// once: the call fails, then the entry is gone. always: every matching call fails.
// mismatch: the call reports success but one byte is changed: a sector write stores it
// so, a sector read or IDENTIFY returns it so (calls without data fail instead); once
// only. vanish: the call fails and the bridge unplugs itself; once only. Calls without
// a port match only entries for any port, except the presence registers 0x7095 /
// 0x709D, which count as ports 0 / 1.

// The twelve library call names failures can be set on.
const std::vector<std::string>& failure_calls();

std::string format_failures(const std::vector<failure_desc>& failures);
// Errors name path and the line.
bool parse_failures(const std::string& path, const std::string& text, std::vector<failure_desc>& failures,
                    std::string& error);
// Whether an entry could be written and read back: a known call and mode, port -1 to 1, skip >= 0.
bool valid_failure(const failure_desc& failure, std::string& error);

// Judges one call: every matching entry with a skip left counts it down; the first
// matching entry without one fires and its mode is returned ("" when none fires); a
// firing once, mismatch or vanish entry is removed. changed: the list was changed.
std::string judge_call(std::vector<failure_desc>& failures, const std::string& call, int port, bool& changed);

// The file at path, read and changed under its lock. A missing file holds no failures;
// clearing leaves it empty, adding creates it.
bool read_failures_file(const std::string& path, std::vector<failure_desc>& failures, std::string& error);
bool add_failure_to_file(const std::string& path, const failure_desc& failure, std::string& error);
bool clear_failures_file(const std::string& path, std::string& error);
// judge_call on the file, written back when it changed. "" with error set when the file
// cannot be read or written.
std::string take_failure_from_file(const std::string& path, const std::string& call, int port, std::string& error);

}  // namespace ov::sim
