// What the command line's suites share: ovraidctl run on a simulation as a user runs it,
// mirrors built on that simulation, and its JSON checked against a published schema and
// read back as "path -> value". For the suites of tests/cli.cmake, which define OVRAID_CTL,
// OVRAID_SIM_TOOL, OVRAID_PYTHON and OVRAID_JSON_CHECK.
#pragma once

#include <map>
#include <sstream>

#include "harness.h"
#include "raid.h"

namespace ovtest {

constexpr uint64_t disk_sectors = 40000;
constexpr uint64_t set_sectors = disk_sectors - 16;

// Paths like "controllers/0/bays/1/content" (with --lines, "3/event": the line first), each
// holding its value as JSON.
using flat_json = std::map<std::string, std::string>;
// What a path of a JSON document holds when it is not there at all.
inline const std::string absent = "<absent>";

inline std::string value_at(const flat_json& doc, const std::string& path)
{
    const auto it = doc.find(path);
    if (it != doc.end())
        return it->second;
    // An object or array that is there has paths below it.
    const auto below = doc.lower_bound(path + "/");
    return below != doc.end() && below->first.starts_with(path + "/") ? "<container>" : absent;
}

class cli_suite : public ::testing::Test, public sim_tree {
protected:
    // English whatever the caller's locale ("LANG=..." in env says otherwise), the firmware
    // service of this build, and no state of the user's.
    program_run ctl(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                    const std::function<bool(const std::string&)>& enough = {}, std::chrono::milliseconds limit = 120s)
    {
        std::vector<std::string> argv = {OVRAID_CTL};
        if (args.empty() || args[0] != "--sim")
            argv.insert(argv.end(), {"--sim", root});
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> environment = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG=C",
                                                "OVRAID_SIM_TOOL=" OVRAID_SIM_TOOL,
                                                "XDG_STATE_HOME=" + dir.path() + "/state",
                                                "XDG_DATA_HOME=" + dir.path() + "/data"};
        environment.insert(environment.end(), env.begin(), env.end());
        return run_program(argv, environment, false, enough, limit);
    }

    // ovraid-sim on the same simulation, its two streams together.
    program_run sim(std::vector<std::string> args)
    {
        args.insert(args.begin(), {OVRAID_SIM_TOOL, "--sim", root});
        return run_program(args, {}, true);
    }

    // The output checked against the schema (one document, or one a line) and flattened; a
    // failure when it is not valid.
    flat_json validated(const std::string& schema, const std::string& output, bool lines = false)
    {
        const std::string file = dir.path() + "/output.json";
        spit(file, output);
        std::vector<std::string> argv = {OVRAID_PYTHON, OVRAID_JSON_CHECK, schema, file};
        if (lines)
            argv.push_back("--lines");
        const program_run check = run_program(argv);
        EXPECT_EQ(check.status, 0) << check.errors << "\nin:\n" << output;
        flat_json doc;
        std::istringstream in(check.output);
        for (std::string line; std::getline(in, line);)
            if (const size_t tab = line.find('\t'); tab != std::string::npos)
                doc[line.substr(0, tab)] = line.substr(tab + 1);
        return doc;
    }

    // Two disks whose records make one set (a RAID 1 unless mode says otherwise), on a USB
    // bridge of its own whose serial is "USB-" + bridge.
    void mirror(const std::string& bridge, const char* stamp0 = older_stamp, const char* stamp1 = older_stamp,
                int mode = ov::mode_raid1, double rebuild_seconds = 0)
    {
        add_usb(bridge, rebuild_seconds, true, location());
        add_disk(bridge, 0, bridge + "0", disk_sectors);
        add_disk(bridge, 1, bridge + "1", disk_sectors);
        write_record(bridge, 0, mode, false, set_sectors, true, stamp0);
        write_record(bridge, 1, mode, false, set_sectors, true, stamp1);
    }
    void pull(const std::string& bridge, int port)
    {
        std::string disk;
        ASSERT_TRUE(st.pull_disk(bridge, port, disk, error)) << error;
    }
    // Bridges on ports of their own, listed in the order they were added.
    int64_t location() { return 0x14100000 + 0x10000 * bridges_++; }

private:
    int bridges_ = 0;
};

}  // namespace ovtest
