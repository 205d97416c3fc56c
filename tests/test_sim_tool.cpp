// ovraid-sim as a user runs it: exit statuses, messages, and the changes it makes
// being seen by an enclosure in another process.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>

#include "harness.h"
#include "sim/enclosure.h"
#include "sim/identify.h"

using namespace ov::sim;
using namespace ovtest;

namespace {

using result = program_run;

class SimTool : public ::testing::Test, public sim_tree {
protected:
    // stdout and stderr together in output.
    result tool(const std::vector<std::string>& args, bool with_root = true)
    {
        std::vector<std::string> argv = {OVRAID_SIM_TOOL};
        if (with_root)
            argv.insert(argv.end(), {"--sim", root});
        argv.insert(argv.end(), args.begin(), args.end());
        return run_program(argv, {}, true);
    }
};

#define EXPECT_TOOL(status_, args_)                                     \
    do {                                                                \
        const result r_ = tool args_;                                   \
        EXPECT_EQ(r_.status, status_) << #args_ << "\n" << r_.output;   \
    } while (0)

}  // namespace

TEST_F(SimTool, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(tool({}, false).status, 2);
    EXPECT_EQ(tool({"--sim"}, false).status, 2);
    EXPECT_TOOL(2, ({"frobnicate"}));
    EXPECT_TOOL(2, ({"list", "extra"}));
    EXPECT_TOOL(2, ({"add-bridge", "b"}));                           // no bus
    EXPECT_TOOL(2, ({"add-bridge", "b", "--usb", "--firewire"}));
    EXPECT_TOOL(2, ({"add-bridge", "b", "--usb", "--guid", "5"}));  // a FireWire option
    EXPECT_TOOL(2, ({"add-bridge", "b", "--usb", "--vendor", "0x1FFFF"}));
    EXPECT_TOOL(2, ({"add-bridge", "b", "--usb", "--colour", "red"}));
    EXPECT_TOOL(2, ({"make-disk", "d", "--model", "M", "--serial", "S"}));  // no size
    EXPECT_TOOL(2, ({"make-disk", "d", "--size", "12XB", "--model", "M", "--serial", "S"}));
    EXPECT_TOOL(2, ({"make-disk", "d", "--size", "1TB", "--model", "M", "--serial", "S", "--addressing", "lba64"}));
    EXPECT_TOOL(2, ({"insert", "b", "2", "d"}));
    EXPECT_TOOL(2, ({"pull", "b"}));
    EXPECT_TOOL(2, ({"fail", "b", "ovNothing"}));
    EXPECT_TOOL(2, ({"fail", "b", "ovWarmBoot", "--mode", "sometimes"}));
    EXPECT_TOOL(2, ({"fail", "b", "ovWarmBoot", "--skip", "-1"}));
    const result r = tool({"fail", "b", "ovNothing"});
    EXPECT_NE(r.output.find("ovNothing"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("ovSetRaidInfoFW"), std::string::npos) << "lists the calls: " << r.output;
    EXPECT_FALSE(st.exists()) << "a wrong command line changes nothing";
    const result help = tool({"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("make-disk"), std::string::npos);
}

TEST_F(SimTool, DemoAndList)
{
    EXPECT_TOOL(0, ({"demo"}));
    EXPECT_EQ(st.bridges().size(), 2u);
    const result list = tool({"list", "--sim", root}, false);
    EXPECT_EQ(list.status, 0);
    for (const char* want : {"usb-raid", "FireWire", "RAID 1, member 0", "RAID 1, member 1", "Kestrel KS1000 SATA",
                             "lba48", "shelf: empty"})
        EXPECT_NE(list.output.find(want), std::string::npos) << want << "\n" << list.output;
    const result again = tool({"demo"});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.output.find(root), std::string::npos) << again.output;
}

// Two enclosures never share the place the scan tells them apart by, and values that would
// stall a rebuild for ever are refused.
TEST_F(SimTool, BridgesGetDistinctPlacesAndSaneValues)
{
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } rows[] = {
        {{"add-bridge", "u1", "--usb"}, 0, ""},
        {{"add-bridge", "u2", "--usb"}, 0, ""},
        {{"add-bridge", "u3", "--usb", "--location", "0x100000"}, 1, "'u2'"},
        {{"add-bridge", "u3", "--usb", "--location", "0x14100000"}, 0, ""},
        {{"add-bridge", "u4", "--usb"}, 0, ""},
        {{"add-bridge", "f1", "--firewire"}, 0, ""},
        {{"add-bridge", "f2", "--firewire", "--guid", "7"}, 0, ""},
        {{"add-bridge", "f3", "--firewire", "--guid", "7"}, 1, "'f2'"},
        {{"add-bridge", "f3", "--firewire", "--guid", "8"}, 0, ""},
        {{"add-bridge", "s1", "--usb", "--rebuild-seconds", "1e300"}, 2, "1e300"},
        {{"add-bridge", "s1", "--usb", "--rebuild-seconds", "604801"}, 2, "604801"},
        {{"add-bridge", "s1", "--usb", "--rebuild-seconds", "inf"}, 2, "inf"},
        {{"add-bridge", "s1", "--usb", "--rebuild-seconds", "nan"}, 2, "nan"},
        {{"add-bridge", "s1", "--usb", "--rebuild-seconds", "604800"}, 0, ""},
    };
    for (const auto& row : rows) {
        const result r = tool(row.args);
        EXPECT_EQ(r.status, row.status) << row.args[1] << ": " << r.output;
        EXPECT_NE(r.output.find(row.says), std::string::npos) << row.args[1] << ": " << r.output;
    }
    // f5's GUID is taken before it comes: it gets another.
    const uint64_t f5_guid = 0x8000460100000000ULL | (std::hash<std::string>{}("f5") & 0xFFFFFFFFULL);
    ASSERT_EQ(tool({"add-bridge", "f4", "--firewire", "--guid", std::to_string(f5_guid)}).status, 0);
    ASSERT_EQ(tool({"add-bridge", "f5", "--firewire"}).status, 0);
    std::set<int64_t> locations;
    std::set<uint64_t> guids;
    for (const auto& name : st.bridges()) {
        bridge_desc b;
        ASSERT_TRUE(st.read_bridge(name, b, error)) << error;
        EXPECT_TRUE(b.firewire ? guids.insert(b.guid).second : locations.insert(b.location_id).second) << name;
    }
    EXPECT_EQ(locations.size() + guids.size(), 10u);

    // What the files hold reaches the terminal escaped, in the listing and in errors.
    spit(st.bridge_dir("u1") + "/bridge.conf", "bus = usb\ndevice_name = \x1b[2J\n");
    spit(st.bridge_dir("u2") + "/failures", "call=\x1b]0;owned\x07\n");
    const result list = tool({"list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.output.find('\x1b'), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("\\x1b[2J"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("\\x1b]0;owned\\x07"), std::string::npos) << list.output;
    const result plug = tool({"plug", "u1"});
    EXPECT_EQ(plug.status, 1);
    EXPECT_NE(plug.output.find("\\x1b[2J"), std::string::npos) << plug.output;
    EXPECT_EQ(plug.output.find('\x1b'), std::string::npos) << plug.output;
}

// A simulation that cannot be read is an error, never an empty one.
TEST_F(SimTool, UnreadableRootOrBridgeIsAnError)
{
    ASSERT_EQ(tool({"demo"}).status, 0);
    const std::string moved = dir.path() + "/moved";
    const std::string bridge = st.bridge_dir("usb-raid");
    const struct {
        const char* what;
        std::function<void()> spoil, mend;
        std::string names;
        bool others_listed;
        int status = 1;
    } rows[] = {
        // Kept apart from an empty simulation, with ovraidctl's status for "no simulation there".
        {"root missing", [&] { ::rename(root.c_str(), moved.c_str()); }, [&] { ::rename(moved.c_str(), root.c_str()); },
         root + " (does not exist)\nno bridges", false, 3},
        {"root is a symlink loop",
         [&] { ::rename(root.c_str(), moved.c_str()), ::symlink(root.c_str(), root.c_str()); },
         [&] { ::unlink(root.c_str()), ::rename(moved.c_str(), root.c_str()); }, root, false},
        {"root is a file", [&] { ::rename(root.c_str(), moved.c_str()), spit(root, "x"); },
         [&] { ::unlink(root.c_str()), ::rename(moved.c_str(), root.c_str()); }, root, false},
        {"bridge is a symlink loop",
         [&] { ::rename(bridge.c_str(), moved.c_str()), ::symlink(bridge.c_str(), bridge.c_str()); },
         [&] { ::unlink(bridge.c_str()), ::rename(moved.c_str(), bridge.c_str()); }, bridge, true},
        // Permissions hold back everyone but root.
        {"root unreadable", [&] { ::chmod(root.c_str(), 0); }, [&] { ::chmod(root.c_str(), 0755); }, root, false},
        {"bridge unreadable", [&] { ::chmod(bridge.c_str(), 0); }, [&] { ::chmod(bridge.c_str(), 0755); }, bridge,
         true},
    };
    for (const auto& row : rows) {
        if (std::string(row.what).find("unreadable") != std::string::npos && ::geteuid() == 0)
            continue;
        row.spoil();
        const result r = tool({"list"});
        row.mend();
        EXPECT_EQ(r.status, row.status) << row.what << ": " << r.output;
        EXPECT_NE(r.output.find((row.status == 1 ? "ovraid-sim: " : "") + row.names), std::string::npos)
            << row.what << ": " << r.output;
        EXPECT_EQ(r.output.find("no bridges") != std::string::npos, row.status == 3) << row.what << ": " << r.output;
        EXPECT_EQ(r.output.find("bridge firewire-pair") != std::string::npos, row.others_listed)
            << row.what << ": " << r.output;
    }
    EXPECT_EQ(tool({"list"}).status, 0);
}

TEST_F(SimTool, CommandsChangeTheTree)
{
    EXPECT_TOOL(0, ({"add-bridge", "fw", "--firewire", "--guid", "0x8000460000000009", "--device-name", "Vault",
                     "--rebuild-seconds", "3"}));
    EXPECT_TOOL(0, ({"add-bridge", "u", "--usb", "--vendor", "0x1E91", "--product", "0x0A12", "--location",
                     "0xFA100000", "--serial", "X1", "--missing", "idProduct,USB Serial Number", "--unplugged"}));
    bridge_desc b;
    ASSERT_TRUE(st.read_bridge("fw", b, error)) << error;
    EXPECT_TRUE(b.firewire);
    EXPECT_EQ(b.guid, 0x8000460000000009ULL);
    EXPECT_EQ(b.device_name, "Vault");
    EXPECT_DOUBLE_EQ(b.rebuild_seconds, 3);
    ASSERT_TRUE(st.read_bridge("u", b, error)) << error;
    EXPECT_FALSE(b.plugged);
    EXPECT_EQ(b.location_id, 0xFA100000);
    EXPECT_EQ(b.missing_properties, (std::vector<std::string>{"idProduct", "USB Serial Number"}));

    EXPECT_TOOL(0, ({"make-disk", "d1", "--size", "2TB", "--model", "Harbor HD2000", "--serial", "H1"}));
    EXPECT_TOOL(0, ({"make-disk", "d2", "--size", "120GB", "--model", "Old One", "--serial", "O1", "--addressing",
                     "lba28", "--hpa"}));
    disk_desc d;
    std::string name;
    ASSERT_TRUE(st.read_disk(st.shelf_dir("d2"), d, name, error)) << error;
    EXPECT_EQ(d.sectors, 234375000u);
    EXPECT_EQ(d.addressing, "lba28");
    EXPECT_TRUE(d.hpa_enabled);

    EXPECT_TOOL(0, ({"insert", "fw", "1", "d1"}));
    EXPECT_NE(st.port_image("fw", 1), "");
    const result busy = tool({"insert", "fw", "1", "d2"});
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.output.find("d1"), std::string::npos) << busy.output;
    const result pulled = tool({"pull", "fw", "1"});
    EXPECT_EQ(pulled.status, 0);
    EXPECT_NE(pulled.output.find("d1"), std::string::npos) << pulled.output;
    EXPECT_EQ(st.port_image("fw", 1), "");

    EXPECT_TOOL(0, ({"plug", "u"}));
    ASSERT_TRUE(st.read_bridge("u", b, error));
    EXPECT_TRUE(b.plugged);
    EXPECT_TOOL(0, ({"unplug", "u"}));
    ASSERT_TRUE(st.read_bridge("u", b, error));
    EXPECT_FALSE(b.plugged);

    EXPECT_TOOL(0, ({"insert", "u", "0", "d2"}));
    EXPECT_TOOL(0, ({"remove-bridge", "u"}));
    EXPECT_NE(st.shelf_image("d2"), "") << "the disk survives its bridge";

    // Failures name the object they are about.
    for (const auto& args : std::vector<std::vector<std::string>>{{"plug", "ghost"},
                                                                 {"remove-bridge", "ghost"},
                                                                 {"pull", "ghost", "0"},
                                                                 {"insert", "fw", "0", "ghost"},
                                                                 {"fail", "ghost", "ovWarmBoot"},
                                                                 {"clear-failures", "ghost"}}) {
        const result r = tool(args);
        EXPECT_EQ(r.status, 1) << args[0] << "\n" << r.output;
        EXPECT_NE(r.output.find("ghost"), std::string::npos) << args[0] << "\n" << r.output;
    }
    const result dup = tool({"make-disk", "d1", "--size", "1TB", "--model", "M", "--serial", "S"});
    EXPECT_EQ(dup.status, 1);
    EXPECT_NE(dup.output.find("d1"), std::string::npos);

    // A broken identity file is reported with its path.
    spit(st.bridge_dir("fw") + "/bridge.conf", "bus = fw\n");
    const result broken = tool({"unplug", "fw"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.output.find(st.bridge_dir("fw") + "/bridge.conf"), std::string::npos) << broken.output;
    const result listed = tool({"list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.output.find("unreadable"), std::string::npos) << listed.output;
}

TEST_F(SimTool, FailuresSetByTheToolAreObeyedHere)
{
    EXPECT_TOOL(0, ({"add-bridge", "u", "--usb"}));
    EXPECT_TOOL(0, ({"make-disk", "d", "--size", "1000", "--model", "M", "--serial", "S"}));
    EXPECT_TOOL(0, ({"insert", "u", "0", "d"}));
    enclosure e(root);
    const uint32_t h = e.service_of("u");
    EXPECT_TOOL(0, ({"fail", "u", "ovGetDiskIdentify", "--port", "0", "--skip", "1"}));
    EXPECT_NE(tool({"list"}).output.find("ovGetDiskIdentify once in Bay 1 after 1"), std::string::npos);
    unsigned char id[512];
    EXPECT_EQ(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    EXPECT_NE(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    EXPECT_EQ(e.ovGetDiskIdentify(h, id, 512, 0), 0);

    EXPECT_TOOL(0, ({"fail", "u", "ovGetDiskIdentify", "--mode", "always"}));
    EXPECT_NE(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    EXPECT_TOOL(0, ({"clear-failures", "u"}));
    EXPECT_EQ(e.ovGetDiskIdentify(h, id, 512, 0), 0);

    // An unplug by the tool is an unplug here.
    EXPECT_TOOL(0, ({"unplug", "u"}));
    EXPECT_NE(e.openConnection(h), 0);
    EXPECT_TOOL(0, ({"plug", "u"}));
    uint32_t handles[ov::device_list_capacity], count = 0;
    ASSERT_EQ(e.getDeviceList(handles, &count), 0);
    ASSERT_EQ(count, 1u);
    EXPECT_NE(handles[0], h);
}

// What a user reads names bays as printed on the enclosure, sizes in the window's one form
// with the exact sector count, and enclosures by S/N or GUID; ports are still taken as 0/1.
TEST_F(SimTool, OutputSpeaksOfBaysSizesAndSerials)
{
    struct step {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> says;   // each somewhere in the output
    };
    const std::vector<step> steps = {
        {{"demo"}, 0, {}},
        {{"list"},
         0,
         {"bridge usb-raid: USB enclosure, S/N OVB20110203A1, plugged\n",
          "bridge firewire-pair: FireWire enclosure, GUID 80004601A2B3C4D5, plugged\n",
          "  Bay 1: mirror-a: \"Kestrel KS1000 SATA\", S/N KS1T04A7731, 1.00 TB (1953525168 sectors), lba48\n",
          "  Bay 2: mirror-b: ", "set capacity 1.00 TB (1953525152 sectors)",
          "  Bay 2: blank-3tb: \"Northwind ND3000AS\", S/N NW3K1D00318, 3.00 TB (5860533168 sectors)"}},
        {{"make-disk", "small", "--size", "999GB", "--model", "M", "--serial", "S1"},
         0,
         {"made disk small: 999 GB (1951171875 sectors), on the shelf"}},
        {{"make-disk", "tiny", "--size", "1000", "--model", "M", "--serial", ""}, 0, {"0 GB (1000 sectors)"}},
        {{"pull", "usb-raid", "bay2"}, 0, {"pulled mirror-b from Bay 2 of usb-raid"}},
        {{"pull", "usb-raid", "1"}, 1, {"Bay 2 of bridge 'usb-raid' is empty"}},
        {{"insert", "usb-raid", "1", "small"}, 0, {"inserted small into Bay 2 of usb-raid"}},
        {{"insert", "usb-raid", "bay1", "tiny"}, 1, {"Bay 1 of bridge 'usb-raid' already holds disk 'mirror-a'"}},
        {{"insert", "usb-raid", "bay3", "tiny"}, 2, {"no bay 'bay3'", "Bay 1 is 0 or bay1"}},
        {{"make-disk", "mirror-a", "--size", "1TB", "--model", "M", "--serial", "S"}, 1, {"in Bay 1 of bridge"}},
        {{"fail", "usb-raid", "ovGetDiskIdentify", "--port", "bay2"}, 0, {}},
        {{"list"},
         0,
         {"  Bay 2: small: \"M\", S/N S1, 999 GB (1951171875 sectors)", "failure: ovGetDiskIdentify once in Bay 2\n",
          "  tiny: \"M\", no S/N, 0 GB (1000 sectors)", "  mirror-b: "}},
        {{"help"}, 0, {"0 (or bay1) is Bay 1", "1 (or bay2) is Bay 2"}},
    };
    for (const step& s : steps) {
        const result r = tool(s.args);
        std::string command;
        for (const auto& a : s.args)
            command += a + " ";
        EXPECT_EQ(r.status, s.status) << command << "\n" << r.output;
        for (const std::string& want : s.says)
            EXPECT_NE(r.output.find(want), std::string::npos) << command << "wants: " << want << "\n" << r.output;
        EXPECT_EQ(r.output.find(" port "), std::string::npos) << command << "\n" << r.output;
        if (s.args[0] != "help") {   // which names the --serial option
            EXPECT_EQ(r.output.find("serial"), std::string::npos) << command << "\n" << r.output;
        }
    }
}

// A bad file of every kind in enclosure "a": list and the scan name it (with its line where
// it has one), no program hangs or crashes, nothing outside the simulation nor in enclosure
// "b" is written (not even by a create aimed at "a"), and "b" stays listed and usable.
TEST_F(SimTool, BadFilesAreNamedAndHarmNothingElse)
{
    add_usb("a");
    add_usb("b", 0, true, 0x14200000);
    add_disk("a", 0, "a0", 4000);
    add_disk("a", 1, "a1", 4000);
    add_disk("b", 0, "b0", 6000);
    const std::string out = dir.path() + "/out";
    std::filesystem::create_directories(out);
    spit(out + "/keep", "not the simulation's\n");
    ASSERT_EQ(::truncate((spit(out + "/big.img", ""), out + "/big.img").c_str(), 4000 * 512), 0);
    const identify_block own = make_identify(disk_desc{"Harbor HDa0", "SN-a0", 4000, "lba48", false});
    const identify_block other = make_identify(disk_desc{"Harbor HDb0", "SN-b0", 6000, "lba48", false});
    const auto block = [](identify_block b, int at, int flip) {
        b[static_cast<size_t>(at)] ^= static_cast<unsigned char>(flip);
        return std::string(b.begin(), b.end());
    };
    const std::string disk_text = "model = M\nserial = S\naddressing = lba48\n";
    const std::string bridge_text = "bus = usb\nserial = USB-a\n";
    const std::string garbage = "\x89PNG\r\n\x1a\n" + random_bytes(3000, 7);
    const auto link = [](const std::string& to, const std::string& at) {
        std::filesystem::remove_all(at);
        ASSERT_EQ(::symlink(to.c_str(), at.c_str()), 0) << at;
    };
    const auto move_out = [&](const std::string& from, const std::string& to) {
        ASSERT_EQ(::rename(from.c_str(), to.c_str()), 0) << from;
        link(to, from);
    };
    const auto state_dir = [](const std::string& r) {
        std::filesystem::create_directories(r + "/.firmware");
        return r + "/.firmware";
    };
    enum : unsigned { scan_names = 1, others_stop = 2, not_answering = 4 };
    const struct {
        const char* what;
        std::function<void(const std::string& r)> spoil;
        std::string names;  // after the root
        unsigned flags;
    } rows[] = {
        {"image is a directory",
         [&](auto r) {
             std::filesystem::remove(r + "/a/port0/disk.img");
             ::mkdir((r + "/a/port0/disk.img").c_str(), 0755);
         },
         "/a/port0/disk.img: not a regular file", scan_names | not_answering},
        {"bay is a file",
         [&](auto r) { std::filesystem::remove_all(r + "/a/port0"), spit(r + "/a/port0", "hi\n"); },
         "/a/port0: not a directory", scan_names | not_answering},
        {"image links to nowhere", [&](auto r) { link("/nonexistent/x", r + "/a/port0/disk.img"); },
         "/a/port0/disk.img: a symbolic link to nowhere", scan_names | not_answering},
        {"image links to itself", [&](auto r) { link("disk.img", r + "/a/port0/disk.img"); },
         "/a/port0/disk.img: a loop of symbolic links", scan_names | not_answering},
        {"image links out", [&](auto r) { link(out + "/big.img", r + "/a/port0/disk.img"); },
         "/a/port0/disk.img: leads to " + out + "/big.img, outside", scan_names},
        {"bay links out", [&](auto r) { move_out(r + "/a/port0", out + "/port0"); }, "/a/port0: leads to", scan_names},
        {"enclosure links out", [&](auto r) { move_out(r + "/a", out + "/a"); }, "/a/bridge.conf: leads to",
         scan_names},
        {"failures link out", [&](auto r) { link(out + "/keep", r + "/a/failures"); }, "/a/failures: leads to",
         scan_names},
        {"firmware state links out", [&](auto r) { link(out, r + "/.firmware"); }, "/.firmware: a symbolic link",
         scan_names | others_stop},
        {"image not whole sectors", [&](auto r) { ::truncate((r + "/a/port0/disk.img").c_str(), 4000 * 512 + 100); },
         "/a/port0/disk.img: size 2048100 bytes is not a positive multiple of 512", scan_names},
        {"image empty", [&](auto r) { ::truncate((r + "/a/port0/disk.img").c_str(), 0); },
         "/a/port0/disk.img: size 0 bytes", scan_names},
        {"identify short", [&](auto r) { spit(r + "/a/port0/identify.bin", std::string(100, 'i')); },
         "/a/port0/identify.bin: 100 bytes", scan_names},
        {"identify long", [&](auto r) { spit(r + "/a/port0/identify.bin", std::string(1000, 'i')); },
         "/a/port0/identify.bin: 1000 bytes", scan_names},
        {"identify zeros", [&](auto r) { spit(r + "/a/port0/identify.bin", std::string(512, '\0')); },
         "/a/port0/identify.bin: not signed", scan_names},
        {"identify unsigned", [&](auto r) { spit(r + "/a/port0/identify.bin", block(own, 510, 0xA5)); },
         "/a/port0/identify.bin: not signed", scan_names},
        {"identify checksum", [&](auto r) { spit(r + "/a/port0/identify.bin", block(own, 54, 1)); },
         "/a/port0/identify.bin: checksum wrong", scan_names},
        {"identify of another disk", [&](auto r) { spit(r + "/a/port0/identify.bin", block(other, 0, 0)); },
         "/a/port0/identify.bin: claims 6000 sectors, the image holds 4000", scan_names},
        {"bridge.conf garbage", [&](auto r) { spit(r + "/a/bridge.conf", garbage); },
         "/a/bridge.conf:1: expected 'key = value', found '\\x89PNG'", scan_names},
        {"bridge.conf line over 1 MiB",
         [&](auto r) { spit(r + "/a/bridge.conf", "bus = usb\nserial = " + std::string(1100000, 'x')); },
         "/a/bridge.conf: file too large", scan_names},
        {"bridge.conf of 10 MB", [&](auto r) { spit(r + "/a/bridge.conf", std::string(10000000, '\n')); },
         "/a/bridge.conf: file too large", scan_names},
        {"bridge.conf long value",
         [&](auto r) { spit(r + "/a/bridge.conf", bridge_text + "device_name = " + std::string(900000, 'x')); },
         "/a/bridge.conf:3: bad value 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...'", scan_names},
        {"location negative", [&](auto r) { spit(r + "/a/bridge.conf", bridge_text + "location = -5\n"); },
         "/a/bridge.conf:3: bad value '-5' for 'location'", scan_names},
        {"location over 32 bits", [&](auto r) { spit(r + "/a/bridge.conf", bridge_text + "location = 0x100000000\n"); },
         "/a/bridge.conf:3: bad value '0x100000000'", scan_names},
        {"vendor over 16 bits", [&](auto r) { spit(r + "/a/bridge.conf", bridge_text + "vendor = 0x10000\n"); },
         "/a/bridge.conf:3: bad value '0x10000' for 'vendor'", scan_names},
        {"bridge.conf NUL",
         [&](auto r) { spit(r + "/a/bridge.conf", bridge_text + std::string("device_name = a\0b\n", 18)); },
         "/a/bridge.conf:3: bad value 'a\\x00b'", scan_names},
        {"bridge.conf not UTF-8", [&](auto r) { spit(r + "/a/bridge.conf", "bus = usb\nserial = \xff\xfe\n"); },
         "/a/bridge.conf:2: bad value '\\xff\\xfe' for 'serial'", scan_names},
        {"bridge.conf key twice", [&](auto r) { spit(r + "/a/bridge.conf", bridge_text + "bus = usb\n"); },
         "/a/bridge.conf:3: 'bus' given twice", scan_names},
        {"bridge.conf unknown key", [&](auto r) { spit(r + "/a/bridge.conf", bridge_text + "colour = red\n"); },
         "/a/bridge.conf:3: unknown key 'colour'", scan_names},
        {"disk.conf garbage", [&](auto r) { spit(r + "/a/port0/disk.conf", garbage); },
         "/a/port0/disk.conf:1: expected 'key = value', found '\\x89PNG'", scan_names},
        {"disk.conf of 10 MB", [&](auto r) { spit(r + "/a/port0/disk.conf", disk_text + std::string(10000000, '#')); },
         "/a/port0/disk.conf: file too large", scan_names},
        {"disk.conf NUL", [&](auto r) { spit(r + "/a/port0/disk.conf", disk_text + std::string("hpa = \0\n", 8)); },
         "/a/port0/disk.conf:4: bad value '\\x00' for 'hpa'", scan_names},
        {"disk.conf negative", [&](auto r) { spit(r + "/a/port0/disk.conf", disk_text + "hpa = -1\n"); },
         "/a/port0/disk.conf:4: bad value '-1' for 'hpa'", scan_names},
        {"disk.conf key twice", [&](auto r) { spit(r + "/a/port0/disk.conf", disk_text + "model = N\n"); },
         "/a/port0/disk.conf:4: 'model' given twice", scan_names},
        {"disk.conf unknown key", [&](auto r) { spit(r + "/a/port0/disk.conf", disk_text + "sectors = 5\n"); },
         "/a/port0/disk.conf:4: unknown key 'sectors'", scan_names},
        {"shelf image links out",
         [&](auto r) {
             std::filesystem::create_directories(r + "/shelf/s");
             spit(r + "/shelf/s/disk.conf", disk_text);
             link(out + "/big.img", r + "/shelf/s/disk.img");
         },
         "/shelf/s/disk.img: leads to", 0},
        {"rebuild state garbage", [&](auto r) { spit(state_dir(r) + "/a.rebuild", "state = \x1b[2J\n"); },
         "/.firmware/a.rebuild:1: cannot read 'state = \\x1b[2J'", 0},
        {"rebuild state a FIFO", [&](auto r) { ::mkfifo((state_dir(r) + "/a.rebuild").c_str(), 0644); },
         "/.firmware/a.rebuild: not a regular file", 0},
        {"power state negative", [&](auto r) { spit(state_dir(r) + "/a.power", "boot = -1\nstate = up\n"); },
         "/.firmware/a.power:1: cannot read 'boot = -1'", 0},
    };
    int n = 0;
    for (const auto& row : rows) {
        const std::string r = dir.path() + "/sim" + std::to_string(++n);
        std::filesystem::copy(root, r, std::filesystem::copy_options::recursive);
        row.spoil(r);
        const std::string outside = tree_digest(out), b = tree_digest(r + "/b");
        const auto run = [&](std::vector<std::string> argv) {
            const result got = run_program(argv, {}, true, {}, 60s);
            EXPECT_TRUE(got.status >= 0 && got.status < 128) << row.what << ": " << argv[3] << " ended " << got.status;
            EXPECT_LT(got.output.size(), 20000u) << row.what << ": no file is echoed whole";
            return got.output;
        };
        const std::string listed = run({OVRAID_SIM_TOOL, "--sim", r, "list"});
        const std::string scanned = run({OVRAID_CTL, "--sim", r, "status"});
        run({OVRAID_CTL, "--sim", r, "create", "USB-a", "raid1", "--yes"});
        EXPECT_NE(listed.find(r + row.names), std::string::npos) << row.what << "\n" << listed;
        EXPECT_NE(listed.find("bridge b: USB enclosure, S/N USB-b"), std::string::npos) << row.what << "\n" << listed;
        if (row.flags & scan_names) {
            EXPECT_NE(scanned.find(r + row.names), std::string::npos) << row.what << "\n" << scanned;
        }
        if (row.flags & not_answering) {
            EXPECT_NE(scanned.find("Bay 1: a disk is there but does not answer"), std::string::npos) << scanned;
        }
        EXPECT_EQ(scanned.find("S/N USB-b") != std::string::npos, !(row.flags & others_stop))
            << row.what << "\n" << scanned;
        EXPECT_EQ(scanned.find('\x1b'), std::string::npos) << row.what;
        EXPECT_EQ(tree_digest(out), outside) << row.what;
        EXPECT_EQ(tree_digest(r + "/b"), b) << row.what;
    }
}
