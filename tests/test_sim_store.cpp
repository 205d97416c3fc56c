// The simulation tree: sparse disks, the demo's records, moving disks between ports and
// the shelf, the identity files and their errors, the failures file, and the whole-file
// writes under them.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <thread>

#include "harness.h"
#include "posix_io.h"
#include "raid.h"
#include "sim/firmware.h"
#include "sim/identify.h"

using namespace ov::sim;
using namespace ovtest;

namespace {

std::string read_sector(const std::string& image, uint64_t lba)
{
    return read_bytes(image, lba * 512, 512);
}

disk_desc cfg(uint64_t sectors, const std::string& serial = "S0001")
{
    return disk_desc{"Harbor HD2000", serial, sectors, "lba48", false};
}

bridge_desc usb(const std::string& name)
{
    bridge_desc b;
    b.name = name;
    b.location_id = 0x14100000;
    b.usb_serial = "U1";
    return b;
}

class SimStore : public ::testing::Test, public sim_tree {};

}  // namespace

TEST_F(SimStore, DisksAreSparse)
{
    const uint64_t two_tb = 3907029168ULL;
    ASSERT_TRUE(st.make_disk("big", cfg(two_tb), error)) << error;
    struct stat s;
    ASSERT_EQ(::stat(st.shelf_image("big").c_str(), &s), 0);
    EXPECT_EQ(static_cast<uint64_t>(s.st_size), two_tb * 512);
    EXPECT_LT(static_cast<uint64_t>(s.st_blocks) * 512, 64u * 1024);
}

TEST_F(SimStore, DemoHoldsAHealthyMirrorAndTwoBlankDisks)
{
    ASSERT_TRUE(st.create_demo(error)) << error;
    const auto bridges = st.bridges();
    ASSERT_EQ(bridges.size(), 2u);

    bridge_desc usb_bridge, fw_bridge;
    for (const auto& b : bridges) {
        bridge_desc s;
        ASSERT_TRUE(st.read_bridge(b, s, error)) << error;
        (s.firewire ? fw_bridge : usb_bridge) = s;
        EXPECT_TRUE(s.plugged);
    }
    EXPECT_TRUE(fw_bridge.guid >> 63) << "FireWire GUIDs with the top bit set are the common case";
    EXPECT_FALSE(usb_bridge.name.empty());

    // The USB mirror: each record names the other disk by its raw IDENTIFY bytes.
    std::array<unsigned char, 512> id[2];
    uint64_t cap[2];
    for (int p = 0; p < 2; ++p) {
        ASSERT_TRUE(st.read_identify(st.port_dir(usb_bridge.name, p), id[p], error)) << error;
        cap[p] = identify_capacity(id[p].data());
    }
    const uint64_t set_size = std::min(cap[0], cap[1]) - 16;
    std::string stamps[2];
    for (int p = 0; p < 2; ++p) {
        const std::string rec = read_sector(st.port_image(usb_bridge.name, p), cap[p] - 15);
        const auto* r = reinterpret_cast<const unsigned char*>(rec.data());
        const record_summary sum = decode_record(r);
        ASSERT_TRUE(sum.valid);
        EXPECT_EQ(sum.mode, 2u);
        EXPECT_EQ(sum.member, static_cast<unsigned>(p));
        EXPECT_FALSE(sum.source);
        EXPECT_EQ(sum.capacity, set_size);
        EXPECT_EQ(r[496], 0) << "over_2tb";
        EXPECT_EQ(std::memcmp(r + 16, id[1 - p].data() + 20, 20), 0) << "partner serial, raw";
        EXPECT_EQ(std::memcmp(r + 36, id[1 - p].data() + 54, 40), 0) << "partner model, raw";
        EXPECT_EQ(std::memcmp(r + 504, "Orvelan ", 8), 0);
        EXPECT_EQ(sum.stamp.size(), 14u);
        stamps[p] = sum.stamp;
    }
    EXPECT_EQ(stamps[0], stamps[1]);

    // The FireWire pair: blank, of different sizes.
    disk_desc d0, d1;
    std::string n0, n1;
    ASSERT_TRUE(st.read_disk(st.port_dir(fw_bridge.name, 0), d0, n0, error)) << error;
    ASSERT_TRUE(st.read_disk(st.port_dir(fw_bridge.name, 1), d1, n1, error)) << error;
    EXPECT_NE(d0.sectors, d1.sectors);
    for (int p = 0; p < 2; ++p) {
        std::array<unsigned char, 512> fid;
        ASSERT_TRUE(st.read_identify(st.port_dir(fw_bridge.name, p), fid, error));
        const std::string rec = read_sector(st.port_image(fw_bridge.name, p), identify_capacity(fid.data()) - 15);
        EXPECT_FALSE(decode_record(reinterpret_cast<const unsigned char*>(rec.data())).valid);
    }

    // Four disks of 1 to 3 TB cost next to nothing.
    uint64_t used = 0;
    for (const auto& b : bridges)
        for (int p = 0; p < 2; ++p) {
            struct stat s;
            ASSERT_EQ(::stat(st.port_image(b, p).c_str(), &s), 0);
            used += static_cast<uint64_t>(s.st_blocks) * 512;
        }
    EXPECT_LT(used, 256u * 1024);

    EXPECT_FALSE(st.create_demo(error));
    EXPECT_NE(error.find(st.root()), std::string::npos) << error;
}

TEST_F(SimStore, DisksMoveBetweenShelfAndPorts)
{
    ASSERT_TRUE(st.add_bridge(usb("b"), error)) << error;
    ASSERT_TRUE(st.make_disk("d1", cfg(4096, "A"), error)) << error;
    ASSERT_TRUE(st.make_disk("d2", cfg(8192, "B"), error)) << error;
    EXPECT_FALSE(st.make_disk("d1", cfg(10), error)) << "names are unique";

    ASSERT_TRUE(st.insert_disk("b", 0, "d1", error)) << error;
    EXPECT_EQ(st.shelf_image("d1"), "");
    EXPECT_NE(st.port_image("b", 0), "");
    EXPECT_FALSE(st.make_disk("d1", cfg(10), error)) << "a name in a port is taken too";
    EXPECT_NE(error.find("port 0"), std::string::npos) << error;

    // A port holds one disk; a missing disk, port or bridge is refused.
    EXPECT_FALSE(st.insert_disk("b", 0, "d2", error));
    EXPECT_NE(error.find("d1"), std::string::npos) << error;
    EXPECT_FALSE(st.insert_disk("b", 2, "d2", error));
    EXPECT_FALSE(st.insert_disk("nobridge", 1, "d2", error));
    EXPECT_NE(error.find("nobridge"), std::string::npos) << error;
    EXPECT_FALSE(st.insert_disk("b", 1, "nodisk", error));
    EXPECT_NE(st.shelf_image("d2"), "") << "failed inserts leave the disk where it was";

    // Data survives the trip, and the disk comes back under its name.
    write_bytes(st.port_image("b", 0), 512 * 100, "payload");
    std::string name;
    ASSERT_TRUE(st.pull_disk("b", 0, name, error)) << error;
    EXPECT_EQ(name, "d1");
    EXPECT_EQ(st.port_image("b", 0), "");
    EXPECT_EQ(read_sector(st.shelf_image("d1"), 100).substr(0, 7), "payload");
    EXPECT_FALSE(st.pull_disk("b", 0, name, error)) << "an empty port";
    EXPECT_NE(error.find("empty"), std::string::npos);

    // Pulling onto a shelf that already holds the name keeps both disks.
    ASSERT_TRUE(st.insert_disk("b", 1, "d1", error)) << error;
    ASSERT_TRUE(st.make_disk("spare", cfg(10), error));
    ASSERT_TRUE(st.insert_disk("b", 0, "spare", error)) << error;
    ASSERT_EQ(::mkdir(st.shelf_dir("d1").c_str(), 0755), 0);  // a stray slot with that name
    ASSERT_TRUE(st.pull_disk("b", 1, name, error)) << error;
    EXPECT_EQ(name, "d1-2");
    disk_desc d;
    std::string conf_name;
    ASSERT_TRUE(st.read_disk(st.shelf_dir("d1-2"), d, conf_name, error)) << error;
    EXPECT_EQ(conf_name, "d1-2");
    EXPECT_EQ(d.serial, "A");
}

TEST_F(SimStore, RemovingABridgeShelvesItsDisks)
{
    ASSERT_TRUE(st.add_bridge(usb("b"), error));
    ASSERT_TRUE(st.make_disk("d1", cfg(64), error));
    ASSERT_TRUE(st.insert_disk("b", 1, "d1", error));
    EXPECT_FALSE(st.add_bridge(usb("b"), error)) << "names are unique";
    ASSERT_TRUE(st.remove_bridge("b", error)) << error;
    EXPECT_TRUE(st.bridges().empty());
    EXPECT_NE(st.shelf_image("d1"), "");
    EXPECT_FALSE(st.remove_bridge("b", error));
}

TEST_F(SimStore, NamesAndDescriptionsAreChecked)
{
    for (const char* bad : {"", ".hidden", "shelf", "a/b", "sp ace", "../up"}) {
        EXPECT_FALSE(st.add_bridge(usb(bad), error)) << bad;
        EXPECT_FALSE(st.make_disk(bad, cfg(10), error)) << bad;
    }
    disk_desc d = cfg(10);
    d.model = std::string(41, 'x');
    EXPECT_FALSE(st.make_disk("long", d, error));
    d = cfg(10);
    d.addressing = "lba64";
    EXPECT_FALSE(st.make_disk("addr", d, error));
    EXPECT_NE(error.find("lba64"), std::string::npos);
    EXPECT_FALSE(st.make_disk("zero", cfg(0), error));
    bridge_desc b = usb("props");
    b.missing_properties = {"idVendor", "Nonsense"};
    EXPECT_FALSE(st.add_bridge(b, error));
    EXPECT_NE(error.find("Nonsense"), std::string::npos);
    for (const double seconds : {-1.0, 604801.0, 1e300, std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN()}) {
        b = usb("slow");
        b.rebuild_seconds = seconds;
        EXPECT_FALSE(st.add_bridge(b, error)) << seconds;
    }
    // An accepted pace is written to the last digit: it reads back as given.
    for (const double seconds : {123.4567, 0.1, 604799.999999}) {
        b = usb("paced");
        b.rebuild_seconds = seconds;
        bridge_desc back;
        EXPECT_TRUE(parse_bridge_conf("c", format_bridge_conf(b), back, error)) << error;
        EXPECT_EQ(back.rebuild_seconds, seconds);
    }
    b = usb("wordy");
    b.usb_serial = std::string(127, 'S');
    EXPECT_FALSE(st.add_bridge(b, error)) << "a USB string descriptor holds 126 characters";
    EXPECT_TRUE(st.bridges().empty());
    EXPECT_TRUE(st.shelf().empty());
}

// What a change to the tree does where a link leads out of the simulation: refused, naming
// the link, with nothing written outside. Links inside it are followed.
TEST_F(SimStore, ChangesNeverReachThroughALinkOut)
{
    const std::string out = dir.path() + "/out";
    std::filesystem::create_directories(out + "/shelf-disk");
    spit(out + "/failures", "# someone else's\n");
    ASSERT_TRUE(st.add_bridge(usb("b"), error)) << error;
    ASSERT_TRUE(st.make_disk("d", cfg(100), error)) << error;
    ASSERT_TRUE(st.make_disk("e", cfg(100), error)) << error;
    ASSERT_TRUE(st.insert_disk("b", 1, "e", error)) << error;
    const auto relink = [](const std::string& to, const std::string& at) {
        std::filesystem::remove_all(at);
        ASSERT_EQ(::symlink(to.c_str(), at.c_str()), 0) << at;
    };
    std::string disk;
    // Inside the simulation a link is followed: the disk reads as the file it leads to.
    ASSERT_EQ(::rename(st.port_image("b", 1).c_str(), (root + "/e.img").c_str()), 0);
    ASSERT_EQ(::symlink("../../e.img", (st.port_dir("b", 1) + "/disk.img").c_str()), 0);
    disk_desc d;
    EXPECT_TRUE(st.read_disk(st.port_dir("b", 1), d, disk, error)) << error;
    EXPECT_EQ(d.sectors, 100u);
    failure_desc f;
    f.call = "ovWarmBoot";
    f.mode = "once";
    const struct {
        const char* what;
        std::function<void()> spoil;
        std::function<bool()> change;
        std::string names;
    } rows[] = {
        {"add a failure through a linked failures file",
         [&] { relink(out + "/failures", st.bridge_dir("b") + "/failures"); },
         [&] { return st.add_failure("b", f, error); }, st.bridge_dir("b") + "/failures"},
        {"clear them", [] {}, [&] { return st.clear_failures("b", error); }, st.bridge_dir("b") + "/failures"},
        {"take one", [] {}, [&] { return !st.take_failure("b", "ovWarmBoot", -1, error).empty() || error.empty(); },
         st.bridge_dir("b") + "/failures"},
        {"insert into a bay linked out", [&] { relink(out, st.port_dir("b", 0)); },
         [&] { return st.insert_disk("b", 0, "d", error); }, st.port_dir("b", 0)},
        {"pull from it", [] {}, [&] { return st.pull_disk("b", 0, disk, error); }, st.port_dir("b", 0)},
        {"insert a shelf disk linked out",
         [&] { std::filesystem::remove(st.port_dir("b", 0)), relink(out + "/shelf-disk", st.shelf_dir("d")); },
         [&] { return st.insert_disk("b", 0, "d", error); }, st.shelf_dir("d")},
        {"unplug a bridge whose identity is linked out",
         [&] { ::rename((st.bridge_dir("b") + "/bridge.conf").c_str(), (out + "/bridge.conf").c_str()),
               relink(out + "/bridge.conf", st.bridge_dir("b") + "/bridge.conf"); },
         [&] { return st.set_plugged("b", false, error); }, st.bridge_dir("b") + "/bridge.conf"},
        {"remove a bridge whose directory is linked out",
         [&] { ::rename(st.bridge_dir("b").c_str(), (out + "/b").c_str()), relink(out + "/b", st.bridge_dir("b")); },
         [&] { return st.remove_bridge("b", error); }, st.bridge_dir("b")},
    };
    for (const auto& row : rows) {
        row.spoil();
        const std::string before = tree_digest(out);
        EXPECT_FALSE(row.change()) << row.what;
        EXPECT_NE(error.find(row.names + ": leads to " + out), std::string::npos) << row.what << ": " << error;
        EXPECT_EQ(tree_digest(out), before) << row.what;
    }
}

// A sparse image can claim what no IDENTIFY can tell: from 2^48 sectors on it is refused.
// Only a file system that holds files that large (tmpfs) can show it.
TEST_F(SimStore, ImagesBeyond48BitAddressingAreRefused)
{
    const std::string shm = "/dev/shm/ovraid-sim-" + std::to_string(::getpid());
    store big(shm);
    ASSERT_TRUE(big.make_disk("d", cfg(100), error)) << error;
    const std::string image = big.shelf_image("d");
    disk_desc d;
    std::string name;
    for (const uint64_t sectors : {(1ULL << 48) - 1, 1ULL << 48, 1ULL << 53}) {
        if (::truncate(image.c_str(), static_cast<off_t>(sectors * 512)) != 0)
            break;
        EXPECT_EQ(big.read_disk(big.shelf_dir("d"), d, name, error), sectors < (1ULL << 48)) << sectors;
        if (sectors >= (1ULL << 48)) {
            EXPECT_NE(error.find(image + ": " + std::to_string(sectors) + " sectors, beyond"), std::string::npos)
                << error;
        }
    }
    std::filesystem::remove_all(shm);
}

TEST_F(SimStore, MalformedFilesAreNamedWithTheirLine)
{
    ASSERT_TRUE(st.add_bridge(usb("b"), error));
    ASSERT_TRUE(st.make_disk("d", cfg(100), error));
    const std::string conf = st.bridge_dir("b") + "/bridge.conf";
    bridge_desc b;
    struct bad_file {
        std::string text, expect;
    };
    for (const auto& c : std::vector<bad_file>{{"bus = usb\nthis line has no equals\n", ":2:"},
                                               {"bus = usb\nvendor = 0x1E91\nvendor = 2\n", ":3:"},
                                               {"bus = scsi\n", "scsi"},
                                               {"bus = usb\nvendor = banana\n", "banana"},
                                               {"bus = usb\ncolour = red\n", "colour"},
                                               {"vendor = 1\n", "bus"},
                                               {"bus = usb\nloca", ":2:"},  // cut short
                                               {"bus = usb\nrebuild_seconds = 1e300\n", "1e300"},
                                               {"bus = usb\nrebuild_seconds = 604801\n", "604801"},
                                               {"bus = usb\ndevice_name = A\x1b[31mB\n", "'A\\x1b[31mB'"},
                                               {"bus = usb\nserial = \x01\x7f\n", "'\\x01\\x7f'"},
                                               {"bus = usb\n\x1b[2J = 1\n", "'\\x1b[2J'"},
                                               {"bus = usb\nmissing = \x9b\n", "'\\x9b'"},
                                               {"bus = usb\nrebuild_seconds = -1\n", "-1"}}) {
        spit(conf, c.text);
        EXPECT_FALSE(st.read_bridge("b", b, error)) << c.text;
        EXPECT_NE(error.find(conf), std::string::npos) << error;
        EXPECT_NE(error.find(c.expect), std::string::npos) << error;
        EXPECT_TRUE(printable(error)) << "control characters reach a terminal escaped: " << error;
    }
    EXPECT_FALSE(st.set_plugged("b", false, error)) << "a broken identity is not rewritten";
    EXPECT_EQ(slurp(conf), "bus = usb\nrebuild_seconds = -1\n");

    const std::string dconf = st.shelf_dir("d") + "/disk.conf";
    disk_desc d;
    std::string name;
    for (const auto& c : std::vector<bad_file>{{"model = M\nserial = S\n", "addressing"},
                                               {"model = M\nserial = S\naddressing = lba12\n", "lba12"},
                                               {"model = M\nserial = S\naddressing = chs\nhpa = maybe\n", "maybe"},
                                               {"model M\n", ":1:"},
                                               {"name = d\x07\nmodel = M\nserial = S\naddressing = chs\n", "'d\\x07'"},
                                               {"model = M\x1b\nserial = S\naddressing = chs\n", "'M\\x1b'"},
                                               {"model = M\nserial = S\naddr", ":3:"}}) {
        spit(dconf, c.text);
        EXPECT_FALSE(st.read_disk(st.shelf_dir("d"), d, name, error)) << c.text;
        EXPECT_NE(error.find(dconf), std::string::npos) << error;
        EXPECT_NE(error.find(c.expect), std::string::npos) << error;
        EXPECT_TRUE(printable(error)) << error;
    }
    spit(dconf, "# fine\nmodel = M\nserial = S\naddressing = chs\n");
    EXPECT_TRUE(st.read_disk(st.shelf_dir("d"), d, name, error)) << error;

    // An image that is not a whole number of sectors, or empty.
    ASSERT_EQ(::truncate(st.shelf_image("d").c_str(), 100 * 512 + 7), 0);
    EXPECT_FALSE(st.read_disk(st.shelf_dir("d"), d, name, error));
    EXPECT_NE(error.find(st.shelf_image("d")), std::string::npos) << error;
    EXPECT_NE(error.find("multiple of 512"), std::string::npos) << error;

    // An IDENTIFY override must be exactly one block.
    ASSERT_EQ(::truncate(st.shelf_image("d").c_str(), 100 * 512), 0);
    spit(st.shelf_dir("d") + "/identify.bin", std::string(500, 'x'));
    std::array<unsigned char, 512> id;
    EXPECT_FALSE(st.read_identify(st.shelf_dir("d"), id, error));
    EXPECT_NE(error.find("identify.bin"), std::string::npos) << error;
    std::string block(512, '\0');
    block[0] = 0x5A;
    spit(st.shelf_dir("d") + "/identify.bin", block);
    ASSERT_TRUE(st.read_identify(st.shelf_dir("d"), id, error)) << error;
    EXPECT_EQ(id[0], 0x5A) << "the override is served as it is";
}

// What sits where a small text file belongs: each is refused with its path, at once
// (a FIFO must not be waited on, a device not read to its endless end).
TEST_F(SimStore, HostileFilesAreRefusedNamingThem)
{
    ASSERT_TRUE(st.add_bridge(usb("b"), error));
    ASSERT_TRUE(st.make_disk("d", cfg(100), error));
    ASSERT_TRUE(st.insert_disk("b", 0, "d", error));
    enum class kind { fifo, zero, dir, garbage, huge, control };
    const std::string port = st.port_dir("b", 0);
    const auto reads = [&](const std::string& file) {
        bridge_desc b;
        disk_desc d;
        std::string name;
        std::array<unsigned char, 512> id;
        std::vector<failure_desc> list;
        if (file == "failures")
            return st.read_failures("b", list, error);
        if (file == "bridge.conf")
            return st.read_bridge("b", b, error);
        return file == "disk.conf" ? st.read_disk(port, d, name, error) : st.read_identify(port, id, error);
    };
    const struct {
        std::string file;
        kind what;
        const char* says;
    } rows[] = {
        {"failures", kind::fifo, "not a regular file"},     {"failures", kind::zero, "not a regular file"},
        {"failures", kind::dir, "directory"},               {"failures", kind::garbage, "failures:1"},
        {"failures", kind::huge, "too large"},              {"failures", kind::control, "'\\x1b[2J'"},
        {"bridge.conf", kind::fifo, "not a regular file"},  {"bridge.conf", kind::zero, "not a regular file"},
        {"disk.conf", kind::fifo, "not a regular file"},    {"identify.bin", kind::fifo, "not a regular file"},
        {"identify.bin", kind::zero, "not a regular file"},
    };
    for (const auto& row : rows) {
        const std::string path = (row.file == "failures" || row.file == "bridge.conf" ? st.bridge_dir("b") : port) +
                                 "/" + row.file;
        const std::string saved = ov::io::path_exists(path) && row.file != "failures" ? slurp(path) : std::string();
        ::unlink(path.c_str());
        switch (row.what) {
        case kind::fifo: ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); break;
        case kind::zero: ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0); break;
        case kind::dir: ASSERT_EQ(::mkdir(path.c_str(), 0755), 0); break;
        case kind::garbage: spit(path, "garbage\n"); break;
        case kind::huge: spit(path, std::string(2u << 20, '#')); break;
        case kind::control: spit(path, "call=\x1b[2J\n"); break;
        }
        EXPECT_FALSE(reads(row.file)) << row.file;
        EXPECT_NE(error.find(path), std::string::npos) << row.file << ": " << error;
        EXPECT_NE(error.find(row.says), std::string::npos) << row.file << ": " << error;
        std::filesystem::remove_all(path);
        if (!saved.empty())
            spit(path, saved);
    }
    EXPECT_TRUE(reads("failures") && reads("bridge.conf") && reads("identify.bin")) << error;
}

TEST_F(SimStore, SizesParse)
{
    uint64_t n = 0;
    const std::pair<const char*, uint64_t> good[] = {
        {"1TB", 1953125000ULL}, {"500GB", 976562500ULL}, {"2TiB", 1ULL << 32}, {"750MiB", 1536000ULL},
        {"1.5TB", 2929687500ULL}, {"3907029168", 3907029168ULL}, {"1000s", 1000}, {"1kb", 1}};
    for (const auto& [text, sectors] : good) {
        EXPECT_TRUE(parse_size(text, n, error)) << text << ": " << error;
        EXPECT_EQ(n, sectors) << text;
    }
    for (const char* bad : {"", "TB", "1XB", "-5", "0", "100B", "1.5", "1EB", "99999999999999999999999"})
        EXPECT_FALSE(parse_size(bad, n, error)) << bad;
}

TEST_F(SimStore, FailuresCountSkipsAndExpire)
{
    ASSERT_TRUE(st.add_bridge(usb("b"), error));
    EXPECT_EQ(st.take_failure("b", "ovSetRaidInfo", 0, error), "") << "no failures file";

    ASSERT_TRUE(st.add_failure("b", {"ovSetRaidInfo", "once", -1, 2}, error)) << error;
    EXPECT_EQ(st.take_failure("b", "ovGetRaidInfo", 0, error), "") << "another call";
    EXPECT_EQ(st.take_failure("b", "ovSetRaidInfo", 0, error), "");
    EXPECT_EQ(st.take_failure("b", "ovSetRaidInfo", 1, error), "");
    EXPECT_EQ(st.take_failure("b", "ovSetRaidInfo", 0, error), "once") << "the third call";
    EXPECT_EQ(st.take_failure("b", "ovSetRaidInfo", 0, error), "") << "once is gone";

    // A port-bound entry ignores the other port; always stays.
    ASSERT_TRUE(st.add_failure("b", {"ovGetDiskIdentify", "always", 1, 0}, error));
    EXPECT_EQ(st.take_failure("b", "ovGetDiskIdentify", 0, error), "");
    EXPECT_EQ(st.take_failure("b", "ovGetDiskIdentify", 1, error), "always");
    EXPECT_EQ(st.take_failure("b", "ovGetDiskIdentify", 1, error), "always");

    // A second process (another store on the same root) sees the same counts.
    store other(st.root());
    ASSERT_TRUE(other.add_failure("b", {"ovWarmBoot", "vanish", -1, 1}, error));
    EXPECT_EQ(st.take_failure("b", "ovWarmBoot", -1, error), "");
    EXPECT_EQ(other.take_failure("b", "ovWarmBoot", -1, error), "vanish");
    EXPECT_EQ(st.take_failure("b", "ovWarmBoot", -1, error), "");

    std::vector<failure_desc> list;
    ASSERT_TRUE(st.read_failures("b", list, error));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].mode, "always");
    ASSERT_TRUE(st.clear_failures("b", error));
    ASSERT_TRUE(st.read_failures("b", list, error));
    EXPECT_TRUE(list.empty());

    EXPECT_FALSE(st.add_failure("b", {"ovNoSuchCall"}, error));
    EXPECT_FALSE(st.add_failure("nobridge", failure_desc{"ovWarmBoot"}, error));

    // A bad line stops every call's judgement and is named with its line.
    for (const char* bad : {"call=ovWarmBoot mode=sometimes", "call=ovWarmBoot port=2", "call=ovWarmBoot skip=-1",
                            "call=ovWarmBoot once", "call=ovNoSuchCall", "mode=always"}) {
        spit(st.bridge_dir("b") + "/failures", std::string("# first\n") + bad + "\n");
        EXPECT_EQ(st.take_failure("b", "ovWarmBoot", -1, error), "") << bad;
        EXPECT_NE(error.find("failures:2"), std::string::npos) << bad << ": " << error;
        EXPECT_FALSE(st.read_failures("b", list, error)) << bad;
    }
}

// A whole-file write either lands whole or leaves the old file and no temporary.
TEST_F(SimStore, WholeFileWritesFailCleanly)
{
    const std::string dir_path = dir.path() + "/files", file = dir_path + "/f";
    ASSERT_EQ(::mkdir(dir_path.c_str(), 0755), 0);
    ASSERT_TRUE(ov::io::atomic_replace(file, "old\n", error)) << error;
    EXPECT_FALSE(ov::io::atomic_replace(dir.path() + "/none/f", "x", error));
    EXPECT_NE(error.find("/none/.f."), std::string::npos) << error;
    ASSERT_EQ(::mkdir((dir_path + "/d").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir_path + "/d/inside").c_str(), 0755), 0);
    EXPECT_FALSE(ov::io::atomic_replace(dir_path + "/d", "x", error)) << "a directory is not replaced";
    EXPECT_NE(error.find(dir_path + "/d"), std::string::npos) << error;

    // A file size limit turns the second write of a long text into a failure.
    const std::string big(10000, 'b');
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit, limit;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    limit = old_limit;
    limit.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool replaced = ov::io::atomic_replace(file, big, error);
    const ov::io::unique_fd fd = ov::io::open_fd(dir_path + "/g", O_WRONLY | O_CREAT);
    const bool written = ov::io::write_all(fd.get(), big.data(), big.size());
    const int written_errno = errno;
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    EXPECT_FALSE(replaced);
    EXPECT_NE(error.find("/.f."), std::string::npos) << error;
    EXPECT_FALSE(written);
    EXPECT_EQ(written_errno, EFBIG);
    EXPECT_EQ(slurp(file), "old\n");
    std::string text;
    EXPECT_TRUE(ov::io::read_file(dir_path + "/g", text, error));
    EXPECT_EQ(text.size(), 4096u) << "the short write came first";
    EXPECT_FALSE(ov::io::read_file(dir_path + "/g", text, error, 4095)) << "over the limit";
    EXPECT_EQ(errno, EFBIG);

    // Reading past the end is an error, not a short success.
    char buf[16];
    const ov::io::unique_fd in = ov::io::open_fd(dir_path + "/g", O_RDONLY);
    EXPECT_TRUE(ov::io::pread_all(in.get(), buf, sizeof buf, 4096 - 16));
    EXPECT_FALSE(ov::io::pread_all(in.get(), buf, sizeof buf, 4096 - 8));
    EXPECT_EQ(errno, EIO);
    for (const auto& entry : std::filesystem::directory_iterator(dir_path))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "a temporary was left: " << entry.path();

    // Two writers of one file at once: every replace lands, and a reader only ever sees
    // one whole version.
    std::atomic<int> failed{0};
    auto writer = [&](char c) {
        std::string e;
        for (int i = 0; i < 100; ++i)
            failed += !ov::io::atomic_replace(file, std::string(512, c), e);
    };
    std::thread one(writer, 'x'), two(writer, 'y');
    for (int i = 0; i < 200; ++i) {
        const std::string seen = slurp(file);
        EXPECT_TRUE(seen == "old\n" || seen == std::string(512, 'x') || seen == std::string(512, 'y')) << seen;
    }
    one.join();
    two.join();
    EXPECT_EQ(failed.load(), 0);
}
