// ovraidctl status and check as scripts and monitoring systems run them: the built program
// against simulated enclosures in every state, its words, its JSON against the published
// schema, its exit codes, and disks left exactly as they were.
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "cli_suite.h"
#include "sim/firmware_state.h"

using namespace ovtest;

namespace {

// One controller in one state: how it is built, and what status and check say of it.
struct state_case {
    std::string bridge;        // its USB serial is "USB-" + bridge
    std::string state;         // as JSON names it
    int severity;              // in JSON, and check's exit status for this controller alone
    std::string words;         // the state in words, in the text and check's line
    std::vector<std::string> text;  // found in its part of the status text; '*': anything within a line
    std::vector<std::pair<std::string, std::string>> json;  // path below the controller -> JSON value
};

const std::vector<state_case> cases = {
    {"mirror", "healthy", 0, "healthy", {"Set: *RAID 1, "},
     {{"set/mode", "\"raid1\""}, {"set/size_sectors", std::to_string(set_sectors)},
      {"set/size_bytes", std::to_string(set_sectors * 512)}, {"current_data_bay", "null"}, {"rebuild", "null"},
      {"bays/0/current_data", "true"}, {"bays/1/current_data", "true"}, {"bays/1/warnings", "[]"}}},
    // The half left alone is the one the window would degrade when selected.
    {"lone", "degraded", 1, "degraded: the mirror has only one disk",
     {"Bay 1: empty\n", "Bay 2: *holds the current data\n"},
     {{"bays/0/content", "\"empty\""}, {"bays/0/model", absent}, {"current_data_bay", "2"}, {"set", "null"}}},
    {"stepped", "out_of_step", 1, "out of step: the mirror halves were written at different times",
     {"Bay 2: *holds the current data\n"},
     {{"current_data_bay", "2"}, {"bays/0/current_data", "false"}, {"bays/1/current_data", "true"}}},
    {"copying", "rebuilding", 1, "rebuilding",
     {"Rebuild: Bay 1 onto Bay 2: *%, */s", "Bay 1: *copy source\n", "Bay 2: *being rebuilt\n"},
     {{"current_data_bay", "1"}, {"rebuild/source_bay", "1"}, {"rebuild/target_bay", "2"},
      {"rebuild/total_sectors", std::to_string(set_sectors)}, {"rebuild/complete", "false"},
      {"bays/0/rebuild_role", "\"source\""}, {"bays/1/rebuild_role", "\"target\""}}},
    {"stripe", "broken", 2, "broken stripe: a member is missing or does not match", {"Bay 2: empty\n"},
     {{"set", "null"}, {"bays/0/record_mode", "\"raid0\""}, {"bays/1/content", "\"empty\""}}},
    {"silent", "disk_not_responding", 2, "a disk is not responding", {"Bay 2: a disk is there but does not answer"},
     {{"bays/0/content", "\"disk\""}, {"bays/1/content", "\"not_responding\""}, {"bays/1/model", absent}}},
    {"empty", "not_configured", 0, "not configured", {"Bay 1: empty\n", "Bay 2: empty\n"},
     {{"set", "null"}, {"current_data_bay", "null"}, {"bays/1/content", "\"empty\""}}},
    // A stamp that is no date on both halves (so they are not out of step), and bay 1's
    // record claiming to be member 1.
    {"warned", "healthy", 0, "healthy",
     {"Bay 1: *\n    Warning: The record's date stamp is not a real date.\n"
      "    Warning: The record names another bay than the one this disk is in.\n  Bay 2"},
     {{"bays/0/warnings/0/code", "\"stamp_not_a_date\""}, {"bays/0/warnings/1/code", "\"member_not_bay\""},
      {"bays/0/warnings/1/text", "\"The record names another bay than the one this disk is in.\""},
      {"bays/1/warnings/0/code", "\"stamp_not_a_date\""}, {"bays/1/warnings/1", absent}}},
    // A copy the bridge has ended, its marks not yet cleared: status says how to finish it.
    {"copied", "rebuilding", 1, "rebuilding",
     {"Rebuild: Bay 1 onto Bay 2: 100.0%",
      "\n    The copy is complete: \"ovraidctl rebuild USB-copied --wait\" (or the window) finishes the mirror.\n"},
     {{"rebuild/complete", "true"}}},
    // Two disks that report one serial: each is warned of the other.
    {"twins", "healthy", 0, "healthy",
     {"Bay 1: *\n    Warning: The other disk reports the same serial number: the RAID records cannot tell the two "
      "apart.\n  Bay 2: *\n    Warning: The other disk reports the same serial number"},
     {{"bays/0/warnings/0/code", "\"serial_shared\""}, {"bays/1/warnings/0/code", "\"serial_shared\""}}},
};

// The path prefix of the controller with this name in a document, "" when it is not there.
std::string controller_path(const flat_json& doc, const std::string& name, const std::string& line = "")
{
    for (int i = 0;; ++i) {
        const std::string at = line + "controllers/" + std::to_string(i) + "/";
        const std::string found = value_at(doc, at + "name");
        if (found == absent)
            return "";
        if (found == "\"" + name + "\"")
            return at;
    }
}

int occurrences(const std::string& text, const std::string& word)
{
    int n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

// Whether the pieces of pattern between its '*'s are in text in this order, a '*' standing
// for anything within one line.
bool matches(const std::string& text, const std::string& pattern)
{
    std::vector<std::string> pieces;
    std::istringstream in(pattern);
    for (std::string piece; std::getline(in, piece, '*');)
        pieces.push_back(piece);
    for (size_t start = text.find(pieces[0]); start != std::string::npos; start = text.find(pieces[0], start + 1)) {
        size_t end = start + pieces[0].size();
        bool found = true;
        for (size_t k = 1; k < pieces.size() && found; ++k) {
            const size_t at = text.find(pieces[k], end);
            found = at != std::string::npos && text.find('\n', end) >= at;
            end = at + pieces[k].size();
        }
        if (found)
            return true;
    }
    return false;
}

// The lines of the status text about one controller: from its heading to the next blank line.
std::string block_of(const std::string& text, const std::string& name)
{
    const size_t at = text.find(", S/N " + name + "\n");
    if (at == std::string::npos)
        return "";
    const size_t start = text.rfind("Controller ", at);
    const size_t end = text.find("\n\n", at);
    return text.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
}

class Cli : public cli_suite {
protected:
    // Every state of the table, one bridge each.
    void build_cases()
    {
        mirror("mirror");
        mirror("lone");
        pull("lone", 0);
        // As when bay 1 was pulled, its partner went on alone and was re-stamped, and bay 1
        // came back.
        mirror("stepped", older_stamp, newer_stamp);
        // Slow enough to be copying still when the last look is over.
        add_usb("copying", 2000, true, location());
        add_disk("copying", 0, "copying0", disk_sectors);
        add_disk("copying", 1, "copying1", disk_sectors);
        write_record("copying", 0, ov::mode_raid1, true, set_sectors);
        write_record("copying", 1, ov::mode_raid1, false, set_sectors);
        mirror("stripe", older_stamp, older_stamp, ov::mode_raid0);
        pull("stripe", 1);
        mirror("silent");
        const program_run mute = sim({"fail", "silent", "ovGetDiskIdentify", "--mode", "always", "--port", "1"});
        ASSERT_EQ(mute.status, 0) << mute.output;
        add_usb("empty", 0, true, location());
        mirror("warned", "20111341250000", "20111341250000");
        write_record("warned", 0, ov::mode_raid1, false, set_sectors, true, "20111341250000", 1);
        mirror("copied");
        write_record("copied", 0, ov::mode_raid1, true, set_sectors);
        // Up, its copy over: nothing starts another one at the first look.
        std::filesystem::create_directories(root + "/.firmware");
        ASSERT_TRUE(ov::sim::write_power(root, "copied", {ov::sim::power_state::kind::up, 1}, error)) << error;
        ov::sim::rebuild_progress done;
        done.state = ov::sim::rebuild_progress::kind::done;
        done.total = done.current = set_sectors;
        ASSERT_TRUE(ov::sim::write_progress(root, "copied", done, error)) << error;
        add_usb("twins", 0, true, location());
        for (int port : {0, 1}) {
            const std::string name = "twin" + std::to_string(port);
            ASSERT_TRUE(st.make_disk(name, {"Harbor HD", "SN-TWIN", disk_sectors, "lba48", false}, error)) << error;
            ASSERT_TRUE(st.insert_disk("twins", port, name, error)) << error;
        }
        write_record("twins", 0, ov::mode_raid1, false, set_sectors);
        write_record("twins", 1, ov::mode_raid1, false, set_sectors);
    }

    // Copies of every disk image that looking must leave as it is (a copy's target changes).
    void keep_images()
    {
        for (const std::string& bridge : st.bridges())
            for (int port = 0; port < 2; ++port) {
                const std::string image = st.port_image(bridge, port);
                if (image.empty() || (bridge == "copying" && port == 1))
                    continue;
                const std::string copy = dir.path() + "/" + bridge + std::to_string(port) + ".img";
                ASSERT_EQ(run_program({"cp", "--sparse=always", image, copy}).status, 0);
                kept_.emplace_back(image, copy);
            }
    }
    void expect_images_kept()
    {
        EXPECT_FALSE(kept_.empty());
        for (const auto& [image, copy] : kept_) {
            struct stat s {};
            ASSERT_EQ(::stat(image.c_str(), &s), 0) << image;
            EXPECT_EQ(first_difference(image, copy, static_cast<uint64_t>(s.st_size)), -1) << image;
        }
    }

private:
    std::vector<std::pair<std::string, std::string>> kept_;
};

}  // namespace

TEST_F(Cli, EveryStateInWordsJsonAndExitStatus)
{
    build_cases();
    keep_images();

    const program_run text = ctl({"status"});
    EXPECT_EQ(text.status, 2) << text.output << text.errors;
    EXPECT_EQ(text.errors, "");
    const program_run json = ctl({"status", "--json"});
    EXPECT_EQ(json.status, 2);
    EXPECT_EQ(json.errors, "");
    const flat_json doc = validated(OVRAID_STATUS_SCHEMA, json.output);
    EXPECT_EQ(value_at(doc, "schema_version"), "1");
    EXPECT_EQ(value_at(doc, "severity"), "2");
    EXPECT_EQ(value_at(doc, "controllers/" + std::to_string(cases.size())), absent) << "one entry per bridge";
    const program_run all = ctl({"check"});
    EXPECT_EQ(all.status, 2);
    EXPECT_TRUE(all.output.starts_with("RAID CRITICAL - ")) << all.output;
    EXPECT_EQ(std::count(all.output.begin(), all.output.end(), '\n'), 1) << all.output;

    const char* levels[] = {"OK", "WARNING", "CRITICAL"};
    for (const state_case& c : cases) {
        SCOPED_TRACE(c.bridge);
        const std::string name = "USB-" + c.bridge;
        const std::string block = block_of(text.output, name);
        EXPECT_NE(block.find("  State:   " + c.words + "\n"), std::string::npos) << block;
        for (const std::string& pattern : c.text)
            EXPECT_TRUE(matches(block, pattern)) << pattern << "\nin:\n" << block;
        // Never of both halves: the words single out the one to keep.
        EXPECT_LE(occurrences(block, "holds the current data"), 1) << block;

        const std::string at = controller_path(doc, name);
        ASSERT_NE(at, "") << json.output;
        EXPECT_EQ(value_at(doc, at + "state"), "\"" + c.state + "\"");
        EXPECT_EQ(value_at(doc, at + "state_text"), "\"" + c.words + "\"");
        EXPECT_EQ(value_at(doc, at + "severity"), std::to_string(c.severity));
        for (const auto& [path, want] : c.json)
            EXPECT_EQ(value_at(doc, at + path), want) << path;

        const std::string number = value_at(doc, at + "number");
        const std::string entry = "controller " + number + " (" + name + "): " + c.words;
        EXPECT_EQ(all.output.find(entry) != std::string::npos, c.severity > 0) << all.output;
        const program_run one = ctl({"check", name});
        EXPECT_EQ(one.status, c.severity);
        EXPECT_TRUE(one.output.starts_with(std::string("RAID ") + levels[c.severity] + " - " + entry))
            << one.output;
    }

    // One controller alone, named by its number, in German.
    const std::string lone = value_at(doc, controller_path(doc, "USB-lone") + "number");
    const program_run german = ctl({"status", lone}, {"LANG=de_DE.UTF-8"});
    EXPECT_EQ(german.status, 1);
    EXPECT_EQ(german.output.find("Controller " + lone + ": USB 1E91:0A12, S/N USB-lone\n"), 0u)
        << german.output;
    EXPECT_EQ(occurrences(german.output, "Controller "), 1) << german.output;
    for (const char* word : {"  Zustand: eingeschränkt: der Spiegel hat nur eine Platte\n", "  Schacht 1: leer\n",
                             "hat die aktuellen Daten"})
        EXPECT_NE(german.output.find(word), std::string::npos) << word << "\nin:\n" << german.output;

    expect_images_kept();
}

// Where there is nothing to look at, or the controller named is not there.
TEST_F(Cli, NothingToLookAt)
{
    const std::string missing = dir.path() + "/nowhere";
    for (const char* command : {"status", "check"}) {
        SCOPED_TRACE(command);
        const program_run r = ctl({"--sim", missing, command});
        EXPECT_EQ(r.status, 3);
        EXPECT_NE(r.errors.find(missing), std::string::npos) << r.errors;
        EXPECT_EQ(r.output, command == std::string("check") ? "RAID UNKNOWN - " + r.errors.substr(11) : "");
    }
    struct stat s {};
    EXPECT_NE(::stat(missing.c_str(), &s), 0) << "looking made no simulation";

    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    const program_run text = ctl({"status"});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.output, "No enclosure attached.\n");
    const program_run json = ctl({"status", "--json"});
    EXPECT_EQ(json.status, 0);
    const flat_json doc = validated(OVRAID_STATUS_SCHEMA, json.output);
    EXPECT_EQ(value_at(doc, "controllers"), "[]");
    EXPECT_EQ(value_at(doc, "severity"), "0");
    const program_run check = ctl({"check"});
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.output, "RAID OK - No enclosure attached.\n");

    add_usb("only", 0, true, location());
    for (const char* command : {"status", "check"}) {
        SCOPED_TRACE(command);
        const program_run r = ctl({command, "USB-other"});
        EXPECT_EQ(r.status, 3);
        EXPECT_NE((r.output + r.errors).find("no controller \"USB-other\" is attached"), std::string::npos)
            << r.output << r.errors;
    }
    const program_run named = ctl({"check", "usb-ONLY"});
    EXPECT_EQ(named.status, 0) << "a name in any case: " << named.output;

    // An enclosure whose files cannot be read is not an enclosure that is not there.
    add_usb("broken", 0, true, location());
    spit(root + "/broken/failures", "garbage\n");
    const std::string unread = "1 enclosure(s) could not be read (the reason is on standard error).";
    const program_run part = ctl({"status"});
    EXPECT_EQ(part.status, 3);
    EXPECT_NE(part.output.find("USB-only"), std::string::npos) << part.output;
    EXPECT_NE(part.output.find("\n\n" + unread + "\n"), std::string::npos) << part.output;
    EXPECT_NE(part.errors.find(root + "/broken/failures"), std::string::npos) << part.errors;
    const flat_json part_doc = validated(OVRAID_STATUS_SCHEMA, ctl({"status", "--json"}).output);
    EXPECT_EQ(value_at(part_doc, "severity"), "3");
    EXPECT_EQ(value_at(part_doc, "unreadable_enclosures"), "1");
    EXPECT_EQ(ctl({"check"}).output, "RAID UNKNOWN - " + unread + "\n");
    EXPECT_EQ(ctl({"check", "usb-only"}).status, 0) << "the one named was read";
    // Its list number may now be another's: neither it nor the only one shown is guessed.
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{"check", "1"}, {"status", "1"}, {"delete", "1", "--yes"}, {"restart", "--yes"}}) {
        const program_run r = ctl(argv);
        EXPECT_EQ(r.status, 3) << argv[0] << ": " << r.output << r.errors;
    }
    // Nor is one that is listed but cannot be opened.
    ASSERT_EQ(std::remove((root + "/broken/failures").c_str()), 0);
    ASSERT_EQ(sim({"fail", "broken", "openConnection", "--mode", "always"}).status, 0);
    const program_run unopened = ctl({"check"});
    EXPECT_EQ(unopened.status, 3) << unopened.output;
    EXPECT_EQ(unopened.output, "RAID UNKNOWN - " + unread + "\n");
    // Nor is a second copy of one enclosure, which a host could not tell from the first.
    ASSERT_EQ(sim({"remove-bridge", "broken"}).status, 0);
    std::filesystem::copy(root + "/only", root + "/only-copy", std::filesystem::copy_options::recursive);
    const program_run twice = ctl({"check"});
    EXPECT_EQ(twice.status, 3) << twice.output;
    EXPECT_NE(twice.errors.find("/only-copy/bridge.conf: the same ids and place as bridge 'only'"), std::string::npos)
        << twice.errors;

    // Nor is a plugged enclosure whose firmware cannot start (its lock no file); and a firmware
    // log that is a FIFO holds neither the firmware nor, through its output, the caller.
    const std::string cold = dir.path() + "/cold";
    ASSERT_EQ(run_program({OVRAID_SIM_TOOL, "--sim", cold, "add-bridge", "cold", "--usb"}).status, 0);
    ASSERT_TRUE(std::filesystem::create_directories(cold + "/.firmware/lock"));
    const program_run unstarted = ctl({"--sim", cold, "check"});
    EXPECT_EQ(unstarted.status, 3) << unstarted.output << unstarted.errors;
    EXPECT_EQ(unstarted.output, "RAID UNKNOWN - " + unread + "\n");
    std::filesystem::remove(cold + "/.firmware/lock");
    std::filesystem::remove(cold + "/.firmware/log");
    ASSERT_EQ(::mkfifo((cold + "/.firmware/log").c_str(), 0644), 0);
    const program_run piped = ctl({"--sim", cold, "status"}, {}, {}, 30s);
    EXPECT_EQ(piped.status, 0) << piped.output << piped.errors;
    EXPECT_NE(piped.output.find("Controller 1"), std::string::npos) << piped.output;
}

// --watch --json: one valid document a line, following a bridge that goes away and then a
// disk pulled (which shows only in the bays' presence registers).
TEST_F(Cli, WatchPrintsOneDocumentALine)
{
    mirror("mirror");
    add_usb("other", 0, true, location());
    int phase = 0;
    const auto enough = [&](const std::string& out) {
        const size_t end = out.rfind('\n');
        if (end == std::string::npos)
            return false;
        const size_t start = out.rfind('\n', end - 1);
        const std::string last = out.substr(start == std::string::npos ? 0 : start, end - start);
        if (phase == 0) {
            EXPECT_TRUE(st.set_plugged("other", false, error)) << error;
            phase = 1;
        } else if (phase == 1 && last.find("USB-other") == std::string::npos) {
            pull("mirror", 1);
            phase = 2;
        }
        return phase == 2 && last.find("\"degraded\"") != std::string::npos;
    };
    const program_run watch = ctl({"status", "--json", "--watch", "--interval", "0.5"}, {}, enough, 30s);
    EXPECT_EQ(watch.errors, "");
    const flat_json doc = validated(OVRAID_STATUS_SCHEMA, watch.output, true);
    const int lines = static_cast<int>(std::count(watch.output.begin(), watch.output.end(), '\n'));
    ASSERT_GE(lines, 3) << watch.output;
    EXPECT_NE(controller_path(doc, "USB-other", "0/"), "");
    const std::string last = std::to_string(lines - 1) + "/";
    EXPECT_EQ(controller_path(doc, "USB-other", last), "") << watch.output.substr(watch.output.rfind('\n', watch.output.size() - 2));
    EXPECT_EQ(value_at(doc, controller_path(doc, "USB-mirror", last) + "state"), "\"degraded\"");
    EXPECT_EQ(value_at(doc, controller_path(doc, "USB-mirror", last) + "bays/1/content"), "\"empty\"");

    // A controller named that is not there (yet) is shown as none, not as every one.
    const program_run gone = ctl({"status", "USB-other", "--json", "--watch"}, {},
                                 [](const std::string& out) { return out.ends_with("\n"); }, 30s);
    const flat_json none = validated(OVRAID_STATUS_SCHEMA, gone.output.substr(0, gone.output.find('\n') + 1));
    EXPECT_EQ(value_at(none, "controllers"), "[]");
    EXPECT_EQ(value_at(none, "severity"), "0");
}
