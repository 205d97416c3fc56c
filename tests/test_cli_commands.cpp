// ovraidctl's commands as a script runs them: each writes exactly what it says or nothing,
// refuses what the window refuses, asks unless told not to, and never calls a failure done.
#include "cli_suite.h"

using namespace ovtest;

namespace {

class cli_commands : public cli_suite {
protected:
    // What a command said, on either stream.
    program_run run(const std::vector<std::string>& args)
    {
        program_run r = ctl(args);
        r.output += r.errors;
        return r;
    }

    ov::raid_info record(const std::string& bridge, int port, uint64_t sectors = disk_sectors)
    {
        const std::string bytes = read_bytes(st.port_image(bridge, port), (sectors - 15) * 512, 512);
        return ov::raid_info::of(reinterpret_cast<const unsigned char*>(bytes.data()));
    }

    // Both records of the bridge: "raid1/raid1", "-/-" for none.
    std::string records(const std::string& bridge)
    {
        std::string out;
        for (int port = 0; port < 2; ++port) {
            const ov::raid_info r = record(bridge, port);
            out += port ? "/" : "";
            out += !r.valid() ? "-" : r.mode() == 2 ? "raid1" : r.mode() == 1 ? "raid0" : r.mode() == 4 ? "span"
                                                                                                    : "none";
            if (r.valid() && r.source())
                out += "*";
        }
        return out;
    }
};

// One command after the other on one enclosure: what each prints, its exit status, and what
// the disks' records say afterwards.
TEST_F(cli_commands, each_command_writes_what_it_says_or_nothing)
{
    ASSERT_NO_FATAL_FAILURE(add_usb("u"));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 0, "a", disk_sectors));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 1, "b", disk_sectors));
    struct step {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> words;   // found in the output
        std::string records;              // afterwards
        std::vector<std::string> fail = {};   // ovraid-sim fail arguments before the command
    };
    const std::vector<step> steps = {
        // No terminal to ask on: nothing happens without --yes.
        {{"create", "raid1"}, 1, {"give --yes"}, "-/-"},
        {{"create", "raid5", "--yes"}, 64, {"\"raid5\" is no mode"}, "-/-"},
        {{"clear-disk", "3", "--yes"}, 64, {"\"3\" is no bay"}, "-/-"},
        // A usage error is one line, control bytes shown, not sent to the terminal.
        {{"status", "--x\x1b[2J\ny"}, 64, {"unknown option --x\\x1b[2J\\x0ay\n"}, "-/-"},
        {{"create", "r\x1b[2J", "--yes"}, 64, {"\"r\\x1b[2J\" is no mode"}, "-/-"},
        {{"delete", "u\x1b[2J", "--yes"}, 3, {"no controller \"u\\x1b[2J\" is attached"}, "-/-"},
        {{"create", "USB-u", "raid1", "--yes"}, 0,
         {"Done.", "State:   healthy", "Set:     RAID 1", "SN-a", "SN-b"}, "raid1/raid1"},
        {{"clear-disk", "USB-u", "2", "--yes"}, 1, {"the disk in Bay 2 is a member of the set"}, "raid1/raid1"},
        {{"rebuild", "1", "--from", "1", "--yes"}, 1, {"the mirror is whole"}, "raid1/raid1"},
        {{"restart", "usb-u"}, 0, {"Done.", "State:   healthy"}, "raid1/raid1"},
        // The second record write fails: the first is put back, and the bay and disk are named.
        {{"delete", "--yes"}, 2, {"Writing to the disk in Bay 2 (S/N SN-b) failed", "put back"}, "raid1/raid1",
         {"u", "ovSetRaidInfo", "--mode", "once", "--port", "1"}},
        {{"delete", "--yes"}, 0, {"Done.", "State:   not configured"}, "-/-"},
        {{"delete", "--yes"}, 1, {"there is no set to delete"}, "-/-"},
        {{"clear-disk", "1", "--yes"}, 1, {"carries no RAID record"}, "-/-"},
        // A silent bay may hold the other half: no clear of the other is advised beside it.
        {{"create", "raid1", "--yes"}, 0, {"Done."}, "raid1/raid1"},
        {{"delete", "--yes"}, 1, {"the disk in Bay 1 does not answer"}, "raid1/raid1",
         {"u", "ovGetDiskIdentify", "--mode", "once", "--port", "0", "--skip", "0"}},
        {{"delete", "--yes"}, 2, {"Bay 1 did not answer when the controller came back"}, "-/-",
         {"u", "ovGetDiskIdentify", "--mode", "once", "--port", "0", "--skip", "2"}},
        // Written, but a bay silent on the controller's return: not called done, nor a change by another.
        {{"create", "raid0", "--yes"}, 2, {"Bay 1 did not answer when the controller came back"}, "raid0/raid0",
         {"u", "ovGetDiskIdentify", "--mode", "once", "--port", "0", "--skip", "2"}},
        {{"create", "raid0", "--yes", "--json"}, 0, {"\"result\":\"done\"", "\"mode\":\"raid0\""}, "raid0/raid0"},
        {{"create", "span", "--yes"}, 0, {"Set:     Span"}, "span/span"},
        {{"status", "9"}, 3, {"no controller \"9\""}, "span/span"},
    };
    for (const step& s : steps) {
        SCOPED_TRACE(s.args[0] + (s.args.size() > 1 ? " " + s.args[1] : ""));
        if (!s.fail.empty()) {
            std::vector<std::string> fail = {"fail"};
            fail.insert(fail.end(), s.fail.begin(), s.fail.end());
            ASSERT_EQ(sim(fail).status, 0);
        }
        const program_run out = run(s.args);
        EXPECT_EQ(out.status, s.status) << out.output;
        for (const std::string& w : s.words)
            EXPECT_NE(out.output.find(w), std::string::npos) << w << " not in:\n" << out.output;
        EXPECT_EQ(records("u"), s.records) << out.output;
        if (!s.fail.empty()) {
            ASSERT_EQ(sim({"clear-failures", "u"}).status, 0);
        }
    }
}

// A mirror short of a half: the replacement too small is refused with the shortfall, the
// older half is never a source without --force, and a rebuild is followed to its end.
TEST_F(cli_commands, a_rebuild_refused_then_followed_to_its_end)
{
    ASSERT_NO_FATAL_FAILURE(add_usb("u", 2));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 0, "a", disk_sectors));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 1, "small", disk_sectors - 1000));
    write_record("u", 0, ov::mode_raid1, false, disk_sectors - 16, false);
    program_run out = run({"rebuild", "--from", "1", "--yes"});
    EXPECT_EQ(out.status, 1) << out.output;
    EXPECT_NE(out.output.find("the replacement disk in Bay 2 is 1,000 sectors (0.5 MiB) smaller than the mirror"),
              std::string::npos)
        << out.output;
    out = run({"rebuild", "--from", "2", "--yes"});
    EXPECT_EQ(out.status, 1) << out.output;
    EXPECT_NE(out.output.find("the disk in Bay 2 is not a mirror (RAID 1) half"), std::string::npos) << out.output;
    out = run({"rebuild", "--wait"});
    EXPECT_EQ(out.status, 1) << out.output;
    EXPECT_NE(out.output.find("no rebuild is running"), std::string::npos) << out.output;

    // Both halves back, bay 2's written later: bay 1 is the older one.
    std::string pulled;
    ASSERT_TRUE(st.pull_disk("u", 1, pulled, error)) << error;
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 1, "b", disk_sectors));
    write_record("u", 0, ov::mode_raid1, false, disk_sectors - 16, true, older_stamp);
    write_record("u", 1, ov::mode_raid1, false, disk_sectors - 16, true, newer_stamp);
    out = run({"rebuild", "--from", "1", "--yes"});
    EXPECT_EQ(out.status, 1) << out.output;
    EXPECT_NE(out.output.find("--yes --force"), std::string::npos) << out.output;
    EXPECT_EQ(records("u"), "raid1/raid1");

    // From the current half. Its end cannot be written at first: a failure naming the bay
    // that keeps the mark. Followed again: JSON lines of progress, then the result with the
    // mirror whole and the marks cleared.
    out = run({"rebuild", "--from", "2", "--yes"});
    EXPECT_EQ(out.status, 0) << out.output;
    ASSERT_EQ(sim({"fail", "u", "ovSetRaidInfo", "--mode", "always"}).status, 0);
    out = run({"rebuild", "--wait"});
    EXPECT_EQ(out.status, 2) << out.output;
    EXPECT_NE(out.output.find("Bay 2 (S/N SN-b) still carries the copy's mark"), std::string::npos) << out.output;
    ASSERT_EQ(sim({"clear-failures", "u"}).status, 0);
    ASSERT_EQ(sim({"unplug", "u"}).status, 0);
    ASSERT_EQ(sim({"plug", "u"}).status, 0);
    out = run({"rebuild", "--wait", "--json"});
    EXPECT_EQ(out.status, 0) << out.output;
    EXPECT_NE(out.output.find("{\"event\":\"rebuild-progress\",\"controller\":\"USB-u\",\"source_bay\":2"),
              std::string::npos)
        << out.output;
    EXPECT_NE(out.output.find("\"result\":\"done\""), std::string::npos) << out.output;
    EXPECT_NE(out.output.find("\"state\":\"healthy\""), std::string::npos) << out.output;
    EXPECT_EQ(records("u"), "raid1/raid1");

    // A copy whose target is pulled while it is followed: the following ends with a failure.
    ASSERT_NO_FATAL_FAILURE(pull("u", 0));
    ASSERT_NO_FATAL_FAILURE(add_disk("u", 0, "c", disk_sectors));
    out = run({"rebuild", "--from", "2", "--yes"});
    EXPECT_EQ(out.status, 0) << out.output;
    bool pulled_target = false;
    out = ctl({"rebuild", "--wait"}, {}, [&](const std::string& so_far) {
        if (!pulled_target && so_far.find("Bay 2 onto Bay 1") != std::string::npos) {
            pull("u", 0);
            pulled_target = true;
        }
        return false;
    });
    EXPECT_EQ(out.status, 2) << out.output << out.errors;
    EXPECT_NE(out.errors.find("the rebuild stopped before its end; the controller is now: degraded"),
              std::string::npos)
        << out.errors;
}

// Two bridges with one serial number: the name is refused, the list number is not.
TEST_F(cli_commands, a_name_two_controllers_share_is_never_guessed)
{
    for (const char* bridge : {"one", "two"}) {
        ASSERT_EQ(sim({"add-bridge", bridge, "--usb", "--serial", "123456789ABC", "--location",
                       std::string(bridge) == "one" ? "1" : "2"})
                      .status,
                  0);
    }
    for (const auto& args : std::vector<std::vector<std::string>>{{"delete", "123456789abc", "--yes"},
                                                                  {"status", "123456789ABC"}}) {
        const program_run out = run(args);
        EXPECT_EQ(out.status, 3) << out.output;
        EXPECT_NE(out.output.find("names more than one controller"), std::string::npos) << out.output;
    }
    EXPECT_EQ(run({"status", "2"}).status, 0);
}

}  // namespace
