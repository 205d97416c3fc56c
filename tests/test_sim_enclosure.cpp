// The simulated bridges behind the library and registry seams: handles, sectors and
// their limits, presence registers, IDENTIFY, bad input, failure injection, warm boot,
// the registry tree and the notifications.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"
#include "sim/enclosure.h"
#include "sim/firmware_state.h"
#include "sim/identify.h"

using namespace ov::sim;
using namespace ovtest;

namespace {

std::string sector_of(char fill)
{
    return std::string(512, fill);
}

int write_sector(enclosure& e, uint32_t h, uint64_t lba, int port, const std::string& data, int addressing = 1)
{
    return e.ovSetRaidInfo(h, reinterpret_cast<const unsigned char*>(data.data()), 512, lba, port, addressing);
}

std::string read_sector(enclosure& e, uint32_t h, uint64_t lba, int port, int& rc, int addressing = 1)
{
    std::string s(512, '\0');
    rc = e.ovGetRaidInfo(h, reinterpret_cast<unsigned char*>(s.data()), 512, lba, port, addressing);
    return s;
}

int presence(enclosure& e, uint32_t h, uint32_t reg)
{
    unsigned char buf[512];
    std::memset(buf, 0xEE, sizeof buf);
    const int rc = e.ovGetRegister(h, buf, 512, 4, reg);
    return rc < 0 ? rc : buf[0];
}

// What the run loop delivered, in order.
struct event {
    enum kind { matched, terminated, task } what;
    uint32_t service;
    uint32_t message;
    bool operator==(const event&) const = default;
};

// Runs the enclosure's run loop on its own thread, like the app's notification thread,
// with a first-match handler that drains its iterator and arms interest on every service.
class notification_thread {
public:
    explicit notification_thread(ov::sim::enclosure& e) : enc_(e)
    {
        const uint32_t it = enc_.add_matching_notification(ov::bridge_service_class,
                                                           [this](uint32_t iterator) { drain(iterator); });
        drain(it);
        thread_ = std::thread([this] { enc_.run_loop(); });
    }
    ~notification_thread() { stop(); }

    void stop()
    {
        if (thread_.joinable()) {
            enc_.stop_run_loop();
            thread_.join();
        }
    }

    void post_marker(uint32_t marker)
    {
        enc_.post([this, marker] { record({event::task, marker, 0}); });
    }

    std::vector<event> events()
    {
        std::lock_guard<std::mutex> lock(m_);
        return events_;
    }
    std::vector<uint32_t> initial() const { return initial_; }

    // Waits (real time) until n events have been delivered.
    bool wait_events(size_t n)
    {
        return eventually([&] { return events().size() >= n; });
    }

private:
    void drain(uint32_t iterator)
    {
        std::vector<uint32_t> services;
        while (uint32_t s = enc_.iterator_next(iterator)) {
            services.push_back(s);
            enc_.add_interest_notification(s, [this](ov::registry_entry service, uint32_t message, void*) {
                record({event::terminated, service, message});
            });
        }
        if (!started_) {
            started_ = true;
            initial_ = services;
            return;
        }
        for (uint32_t s : services)
            record({event::matched, s, 0});
    }
    void record(const event& e)
    {
        std::lock_guard<std::mutex> lock(m_);
        events_.push_back(e);
    }

    ov::sim::enclosure& enc_;
    std::thread thread_;
    std::mutex m_;
    std::vector<event> events_;
    std::vector<uint32_t> initial_;
    bool started_ = false;
};

class SimEnclosure : public ::testing::Test, public sim_tree {};

}  // namespace

TEST_F(SimEnclosure, HandlesBelongToAttachedBridgesAndAreNeverReused)
{
    add_usb("a");
    add_firewire("b");
    ASSERT_TRUE(st.set_plugged("b", false, error));
    enclosure e(root);
    uint32_t handles[ov::device_list_capacity];
    uint32_t count = 0;
    ASSERT_EQ(e.getDeviceList(handles, &count), 0);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(handles[0], e.service_of("a"));
    EXPECT_EQ(e.service_of("b"), 0u);
    EXPECT_NE(e.getDeviceList(nullptr, &count), 0);

    ASSERT_TRUE(st.set_plugged("b", true, error));
    count = 0;
    ASSERT_EQ(e.getDeviceList(handles, &count), 0);
    EXPECT_EQ(count, 2u);

    // Every enumeration gets a fresh handle; the old one is dead for every call.
    const uint32_t first = e.service_of("a");
    EXPECT_EQ(e.openConnection(first), 0);
    ASSERT_TRUE(st.set_plugged("a", false, error));
    EXPECT_NE(e.openConnection(first), 0) << "an unplug is seen at the next call";
    EXPECT_EQ(e.service_of("a"), 0u);
    ASSERT_TRUE(st.set_plugged("a", true, error));
    e.sync();
    const uint32_t second = e.service_of("a");
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    EXPECT_NE(second, e.service_of("b"));
    unsigned char buf[512];
    EXPECT_NE(e.openConnection(first), 0);
    EXPECT_NE(e.closeConnection(first), 0);
    EXPECT_NE(e.ovGetDiskIdentify(first, buf, 512, 0), 0);
    EXPECT_LT(e.ovGetRegister(first, buf, 512, 4, ov::reg_port0_presence), 0);
    EXPECT_NE(e.ovGetRebuildStatus(first, buf, 12), 0);
    EXPECT_NE(e.ovWarmBoot(first), 0);
    EXPECT_NE(e.last_error().find(std::to_string(first)), std::string::npos) << e.last_error();
    EXPECT_EQ(e.openConnection(second), 0);

    ASSERT_TRUE(st.remove_bridge("b", error));
    count = 0;
    ASSERT_EQ(e.getDeviceList(handles, &count), 0);
    EXPECT_EQ(count, 1u);
}

TEST_F(SimEnclosure, SectorsReachTheImageWithinItsRange)
{
    add_usb("u");
    const std::string image = add_disk("u", 0, "d0", 10000);
    enclosure e(root);
    const uint32_t h = e.service_of("u");

    ASSERT_EQ(write_sector(e, h, 9999, 0, sector_of('L')), 0);
    EXPECT_EQ(read_bytes(image, 9999 * 512, 512), sector_of('L'));
    int rc = -1;
    EXPECT_EQ(read_sector(e, h, 9999, 0, rc), sector_of('L'));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(e.ovFlushHDDCache(h, 0), 0);

    const std::string before = slurp(image);
    EXPECT_NE(write_sector(e, h, 10000, 0, sector_of('X')), 0) << "past the end";
    EXPECT_NE(e.last_error().find("10000"), std::string::npos) << e.last_error();
    EXPECT_NE(write_sector(e, h, UINT64_MAX, 0, sector_of('X')), 0);
    EXPECT_NE(e.ovSetRaidInfo(h, reinterpret_cast<const unsigned char*>(sector_of('X').data()), 511, 5, 0, 1), 0)
        << "a short buffer";
    EXPECT_NE(write_sector(e, h, 5, 2, sector_of('X')), 0) << "no port 2";
    EXPECT_NE(write_sector(e, h, 5, 0, sector_of('X'), 7), 0) << "addressing is 0 or 1";
    EXPECT_NE(write_sector(e, h, 5, 1, sector_of('X')), 0) << "an empty port";
    EXPECT_NE(e.ovSetRaidInfo(h, nullptr, 512, 5, 0, 1), 0);
    EXPECT_NE(e.ovFlushHDDCache(h, 1), 0);
    EXPECT_EQ(slurp(image), before) << "refused writes change nothing";
    read_sector(e, h, 10000, 0, rc);
    EXPECT_NE(rc, 0);
}

TEST_F(SimEnclosure, CommandWidthLimitsAddresses)
{
    add_usb("u");
    const uint64_t beyond = (1ULL << 28) + 64;
    add_disk("u", 0, "wide", beyond, "lba48");
    add_disk("u", 1, "narrow", beyond, "lba28");
    enclosure e(root);
    const uint32_t h = e.service_of("u");
    const uint64_t limit = 1ULL << 28;

    EXPECT_NE(write_sector(e, h, limit, 0, sector_of('a'), 0), 0) << "a 28-bit command cannot reach 2^28";
    EXPECT_EQ(write_sector(e, h, limit, 0, sector_of('a'), 1), 0);
    EXPECT_EQ(write_sector(e, h, limit - 1, 0, sector_of('b'), 0), 0);

    // A disk without the 48-bit feature set refuses 48-bit commands.
    EXPECT_NE(write_sector(e, h, 100, 1, sector_of('c'), 1), 0);
    EXPECT_NE(e.last_error().find("48-bit"), std::string::npos) << e.last_error();
    EXPECT_EQ(write_sector(e, h, limit - 1, 1, sector_of('c'), 0), 0);
}

TEST_F(SimEnclosure, FirmwareEntryPointsServeOnlyFireWire)
{
    add_usb("u");
    add_firewire("f");
    add_disk("u", 0, "du", 5000);
    const std::string fimage = add_disk("f", 0, "df", 5000);
    enclosure e(root);
    const std::string data = sector_of('F');
    unsigned char buf[512];
    EXPECT_NE(e.ovSetRaidInfoFW(e.service_of("u"), reinterpret_cast<const unsigned char*>(data.data()), 512, 7, 0),
              0);
    EXPECT_NE(e.ovGetRaidInfoFW(e.service_of("u"), buf, 512, 7, 0), 0);
    ASSERT_EQ(e.ovSetRaidInfoFW(e.service_of("f"), reinterpret_cast<const unsigned char*>(data.data()), 512, 7, 0),
              0);
    EXPECT_EQ(read_bytes(fimage, 7 * 512, 512), data);
    ASSERT_EQ(e.ovGetRaidInfoFW(e.service_of("f"), buf, 512, 7, 0), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 512), data);
    EXPECT_NE(e.ovGetRaidInfoFW(e.service_of("f"), buf, 512, 5000, 0), 0);
}

TEST_F(SimEnclosure, PresenceRegistersFollowInsertAndPull)
{
    add_usb("u");
    add_disk("u", 0, "d0", 4000);
    add_disk("u", 1, "d1", 4000);
    enclosure e(root);
    const uint32_t h = e.service_of("u");
    EXPECT_EQ(presence(e, h, ov::reg_port0_presence), 1);
    EXPECT_EQ(presence(e, h, ov::reg_port1_presence), 1);
    EXPECT_EQ(presence(e, h, 0x7000), 0) << "other registers read zero";

    std::string name;
    ASSERT_TRUE(st.pull_disk("u", 1, name, error));
    EXPECT_EQ(presence(e, h, ov::reg_port0_presence), 1);
    EXPECT_EQ(presence(e, h, ov::reg_port1_presence), 0);
    unsigned char id[512];
    EXPECT_NE(e.ovGetDiskIdentify(h, id, 512, 1), 0);
    EXPECT_EQ(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    EXPECT_EQ(e.service_of("u"), h) << "a disk change does not re-enumerate the bridge";

    ASSERT_TRUE(st.insert_disk("u", 1, name, error));
    EXPECT_EQ(presence(e, h, ov::reg_port1_presence), 1);
    EXPECT_EQ(e.ovGetDiskIdentify(h, id, 512, 1), 0);

    unsigned char small[4];
    EXPECT_LT(e.ovGetRegister(h, small, 2, 4, ov::reg_port0_presence), 0) << "length below the count";
    EXPECT_EQ(e.ovGetRegister(h, small, 4, 4, ov::reg_port0_presence), 0);
}

TEST_F(SimEnclosure, IdentifyComesFromTheDiskOrItsOverride)
{
    add_usb("u");
    add_disk("u", 0, "d0", 123456);
    enclosure e(root);
    const uint32_t h = e.service_of("u");
    unsigned char id[512];
    ASSERT_EQ(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    const identify_block want = make_identify(disk_desc{"Harbor HDd0", "SN-d0", 123456, "lba48", false});
    EXPECT_EQ(std::memcmp(id, want.data(), 512), 0);
    EXPECT_NE(e.ovGetDiskIdentify(h, id, 511, 0), 0) << "a short buffer";

    std::string block(512, '\0');
    block[510] = static_cast<char>(0xA5);
    block[20] = 'Q';
    spit(st.port_dir("u", 0) + "/identify.bin", block);
    ASSERT_EQ(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(id), 512), block);
}

TEST_F(SimEnclosure, BadInputFailsNamesTheFileAndChangesNothing)
{
    add_usb("u");
    const std::string image = add_disk("u", 0, "d0", 2000);
    enclosure e(root);
    const uint32_t h = e.service_of("u");
    write_bytes(image, 512 * 3, "original");
    const std::string data = sector_of('Z');
    unsigned char id[512];
    testing::internal::CaptureStderr();

    // An image that is not a whole number of sectors.
    ASSERT_EQ(::truncate(image.c_str(), 2000 * 512 + 100), 0);
    std::string before = slurp(image);
    EXPECT_NE(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    EXPECT_NE(e.last_error().find(image), std::string::npos) << e.last_error();
    EXPECT_NE(write_sector(e, h, 3, 0, data), 0);
    EXPECT_EQ(slurp(image), before);
    EXPECT_EQ(presence(e, h, ov::reg_port0_presence), 1) << "the disk is there, it just does not answer";
    ASSERT_EQ(::truncate(image.c_str(), 2000 * 512), 0);

    // A malformed identity file.
    const std::string conf = st.port_dir("u", 0) + "/disk.conf";
    const std::string good_conf = slurp(conf);
    spit(conf, "model = X\nserial = Y\naddressing = sideways\n");
    before = slurp(image);
    EXPECT_NE(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    EXPECT_NE(e.last_error().find(conf), std::string::npos) << e.last_error();
    EXPECT_NE(write_sector(e, h, 3, 0, data), 0);
    EXPECT_EQ(slurp(image), before);
    spit(conf, good_conf);

    // An IDENTIFY override that is not one block.
    const std::string idbin = st.port_dir("u", 0) + "/identify.bin";
    spit(idbin, std::string(100, 'i'));
    EXPECT_NE(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    EXPECT_NE(e.last_error().find(idbin), std::string::npos) << e.last_error();
    EXPECT_NE(write_sector(e, h, 3, 0, data), 0);
    EXPECT_EQ(slurp(image), before);
    ::unlink(idbin.c_str());

    // A malformed bridge identity: calls fail, the bridge is not dropped.
    const std::string bconf = st.bridge_dir("u") + "/bridge.conf";
    const std::string good_bridge = slurp(bconf);
    spit(bconf, "bus = parallel\n");
    EXPECT_NE(e.openConnection(h), 0);
    EXPECT_NE(e.last_error().find(bconf), std::string::npos) << e.last_error();
    e.sync();
    EXPECT_EQ(e.service_of("u"), h);
    spit(bconf, good_bridge);
    EXPECT_EQ(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    EXPECT_EQ(read_bytes(image, 512 * 3, 8), "original");

    // Each distinct problem is printed once, naming its file.
    e.sync();
    EXPECT_NE(e.ovGetDiskIdentify(h, id, 510, 0), 0);
    spit(bconf, "bus = parallel\n");
    e.sync();
    e.sync();
    spit(bconf, good_bridge);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find(image), std::string::npos) << printed;
    EXPECT_NE(printed.find(idbin), std::string::npos) << printed;
    size_t times = 0;
    for (size_t at = printed.find("parallel"); at != std::string::npos; at = printed.find("parallel", at + 1))
        ++times;
    EXPECT_EQ(times, 1u) << printed;
}

TEST_F(SimEnclosure, OneBridgesBrokenFailuresFileHidesThatBridgeOnly)
{
    add_usb("a");
    add_firewire("b");
    add_disk("b", 0, "d0", 2000);
    enclosure e(root);
    const uint32_t hb = e.service_of("b");
    const std::string path = st.bridge_dir("a") + "/failures";
    testing::internal::CaptureStderr();
    const std::function<void()> breakers[] = {
        [&] { spit(path, "garbage\n"); },
        [&] { ASSERT_EQ(::mkdir(path.c_str(), 0755), 0); },
        [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); },
        [&] { ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0); },
    };
    for (size_t row = 0; row < std::size(breakers); ++row) {
        breakers[row]();
        uint32_t handles[16] = {}, count = 0;
        EXPECT_EQ(e.getDeviceList(handles, &count), 0) << row;
        EXPECT_EQ(std::vector<uint32_t>(handles, handles + count), std::vector<uint32_t>{hb}) << row;
        EXPECT_NE(e.last_error().find(path), std::string::npos) << row << ": " << e.last_error();
        unsigned char id[512];
        EXPECT_EQ(e.ovGetDiskIdentify(hb, id, 512, 0), 0) << row;
        std::filesystem::remove_all(path);
    }
    uint32_t handles[16] = {}, count = 0;
    EXPECT_EQ(e.getDeviceList(handles, &count), 0);
    EXPECT_EQ(count, 2u) << "mended, the bridge is back";
    EXPECT_NE(testing::internal::GetCapturedStderr().find(path), std::string::npos) << "the problem is said";
}

TEST_F(SimEnclosure, UnreadableRootFailsTheListAndKeepsWhatIsAttached)
{
    add_usb("a");
    enclosure e(root);
    const uint32_t h = e.service_of("a");
    const std::string moved = dir.path() + "/moved";
    testing::internal::CaptureStderr();
    ASSERT_EQ(::rename(root.c_str(), moved.c_str()), 0);
    ASSERT_EQ(::symlink(root.c_str(), root.c_str()), 0);
    uint32_t handles[16] = {}, count = 0;
    EXPECT_NE(e.getDeviceList(handles, &count), 0) << "an unreadable root is no empty one";
    EXPECT_NE(e.last_error().find(root), std::string::npos) << e.last_error();
    EXPECT_EQ(e.service_of("a"), h);
    ::unlink(root.c_str());
    ASSERT_EQ(::rename(moved.c_str(), root.c_str()), 0);
    EXPECT_EQ(e.getDeviceList(handles, &count), 0);
    EXPECT_EQ(std::vector<uint32_t>(handles, handles + count), std::vector<uint32_t>{h});
    EXPECT_NE(testing::internal::GetCapturedStderr().find(root), std::string::npos);
}

// One image linked into a second bay is one disk in two places: the first bay keeps it,
// the later one neither answers nor takes a write.
TEST_F(SimEnclosure, ImageLinkedIntoASecondBayIsRefusedThere)
{
    add_usb("a", 0, true, 0x100);
    add_usb("b", 0, true, 0x200);
    const std::string image = add_disk("a", 0, "d0", 2000);
    write_bytes(image, 512 * 3, "original");
    testing::internal::CaptureStderr();
    const struct {
        const char* what;
        std::string bridge;
        int port;
        bool symbolic;
    } rows[] = {
        {"hard link into another bridge", "b", 1, false},
        {"symlink into another bridge", "b", 0, true},
        {"hard link into the other bay", "a", 1, false},
    };
    for (const auto& row : rows) {
        const std::string dir = st.port_dir(row.bridge, row.port);
        const std::string copy = dir + "/disk.img";
        ASSERT_EQ(row.symbolic ? ::symlink(image.c_str(), copy.c_str()) : ::link(image.c_str(), copy.c_str()), 0);
        spit(dir + "/disk.conf", slurp(st.port_dir("a", 0) + "/disk.conf"));
        enclosure e(root);
        const uint32_t first = e.service_of("a"), second = e.service_of(row.bridge);
        unsigned char id[512];
        EXPECT_NE(e.ovGetDiskIdentify(second, id, 512, row.port), 0) << row.what;
        EXPECT_NE(e.last_error().find(copy), std::string::npos) << row.what << ": " << e.last_error();
        EXPECT_NE(e.last_error().find("port 0 of bridge 'a'"), std::string::npos) << row.what << ": " << e.last_error();
        EXPECT_NE(write_sector(e, second, 3, row.port, sector_of('Z')), 0) << row.what;
        EXPECT_EQ(read_bytes(image, 512 * 3, 8), "original") << row.what;
        EXPECT_EQ(e.ovGetDiskIdentify(first, id, 512, 0), 0) << row.what << ": the first bay keeps it";
        ::unlink(copy.c_str());
        ::unlink((dir + "/disk.conf").c_str());
    }
    shelf_disk("s", 2000);
    const std::string shelved = st.port_dir("b", 1) + "/disk.img";
    ASSERT_EQ(::link(st.shelf_image("s").c_str(), shelved.c_str()), 0);
    spit(st.port_dir("b", 1) + "/disk.conf", slurp(st.shelf_dir("s") + "/disk.conf"));
    enclosure e(root);
    unsigned char id[512];
    EXPECT_NE(e.ovGetDiskIdentify(e.service_of("b"), id, 512, 1), 0) << "a shelf disk's image in a bay";
    EXPECT_NE(e.last_error().find(shelved + ": the same image as the shelf disk 's'"), std::string::npos)
        << e.last_error();
    testing::internal::GetCapturedStderr();
}

// A link out of the simulation is never written through: not by a library call, not by the
// firmware's rebuild copy, whose target here lies outside. A bay whose disk is linked out
// does not answer and says why; the bridges beside it go on.
TEST_F(SimEnclosure, LinksOutOfTheSimulationAreNeverWrittenThrough)
{
    const std::string out = dir.path() + "/out";
    std::filesystem::create_directories(out);
    const auto move_out = [&](const std::string& from, const std::string& name) {
        ASSERT_EQ(::rename(from.c_str(), (out + "/" + name).c_str()), 0) << from;
        ASSERT_EQ(::symlink((out + "/" + name).c_str(), from.c_str()), 0) << from;
    };
    add_usb("good", 0, true, 0x100);
    add_usb("img", 0, true, 0x200);
    add_usb("bay", 0, true, 0x300);
    add_usb("copy", 0, true, 0x400);
    const std::string good = add_disk("good", 0, "g0", 2000);
    add_disk("img", 0, "i0", 2000);
    add_disk("bay", 1, "b1", 2000);
    add_disk("copy", 0, "c0", 2000);
    add_disk("copy", 1, "c1", 2000);
    write_record("copy", 0, ov::mode_raid1, true, 1984);
    write_record("copy", 1, ov::mode_raid1, false, 1984);
    write_bytes(st.port_image("copy", 0), 512 * 7, "source data");
    move_out(st.port_dir("img", 0) + "/disk.img", "i0.img");
    move_out(st.port_dir("bay", 1), "bay1");
    move_out(st.port_dir("copy", 1) + "/disk.img", "c1.img");
    const std::string before = tree_digest(out);
    testing::internal::CaptureStderr();
    enclosure e(root);
    const struct {
        std::string bridge;
        int port;
        std::string names;
    } rows[] = {
        {"img", 0, st.port_dir("img", 0) + "/disk.img: leads to " + out + "/i0.img, outside"},
        {"bay", 1, st.port_dir("bay", 1) + ": leads to " + out + "/bay1, outside"},
        {"copy", 1, st.port_dir("copy", 1) + "/disk.img: leads to " + out + "/c1.img, outside"},
    };
    unsigned char id[512];
    for (const auto& row : rows) {
        const uint32_t h = e.service_of(row.bridge);
        ASSERT_NE(h, 0u) << row.bridge;
        EXPECT_NE(write_sector(e, h, 3, row.port, sector_of('Z')), 0) << row.bridge;
        EXPECT_NE(e.last_error().find(row.names), std::string::npos) << row.bridge << ": " << e.last_error();
        EXPECT_NE(e.ovGetDiskIdentify(h, id, 512, row.port), 0) << row.bridge;
        EXPECT_NE(e.ovFlushHDDCache(h, row.port), 0) << row.bridge;
    }
    // The mirror whose target is outside was powered up without a copy.
    power_state power;
    ASSERT_TRUE(eventually([&] {
        return read_power(root, "copy", power, error) && power.state == power_state::kind::up;
    })) << error;
    rebuild_progress progress;
    ASSERT_TRUE(read_progress(root, "copy", progress, error)) << error;
    EXPECT_EQ(progress.state, rebuild_progress::kind::none);
    EXPECT_EQ(write_sector(e, e.service_of("good"), 3, 0, sector_of('G')), 0) << e.last_error();
    EXPECT_EQ(read_bytes(good, 512 * 3, 512), sector_of('G'));
    EXPECT_EQ(tree_digest(out), before);
    testing::internal::GetCapturedStderr();
}

TEST_F(SimEnclosure, InjectedFailuresHitTheNthCall)
{
    add_usb("u");
    const std::string image = add_disk("u", 0, "d0", 1000);
    add_disk("u", 1, "d1", 1000);
    enclosure e(root);
    const uint32_t h = e.service_of("u");

    // For every n, the n-th matching call fails and writes nothing; the others land.
    for (int n = 0; n < 4; ++n) {
        ASSERT_TRUE(st.add_failure("u", {"ovSetRaidInfo", "once", 0, n}, error)) << error;
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(write_sector(e, h, 500, 1, sector_of('o')), 0) << "port 1 is not meant";
            const std::string data = sector_of(static_cast<char>('a' + i));
            const int rc = write_sector(e, h, 10 * n + i, 0, data);
            EXPECT_EQ(rc != 0, i == n) << "n " << n << " call " << i;
            EXPECT_EQ(read_bytes(image, (10 * n + i) * 512ULL, 512), i == n ? std::string(512, '\0') : data);
        }
    }

    ASSERT_TRUE(st.add_failure("u", {"ovGetDiskIdentify", "always", 1, 0}, error));
    unsigned char id[512];
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(e.ovGetDiskIdentify(h, id, 512, 1), 0);
        EXPECT_EQ(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    }
    ASSERT_TRUE(st.clear_failures("u", error));
    EXPECT_EQ(e.ovGetDiskIdentify(h, id, 512, 1), 0);

    // A presence register counts as its port.
    ASSERT_TRUE(st.add_failure("u", {"ovGetRegister", "once", 1, 0}, error));
    EXPECT_EQ(presence(e, h, ov::reg_port0_presence), 1);
    EXPECT_LT(presence(e, h, ov::reg_port1_presence), 0);
    EXPECT_EQ(presence(e, h, ov::reg_port1_presence), 1);

    ASSERT_TRUE(st.add_failure("u", {"getDeviceList"}, error));
    uint32_t handles[ov::device_list_capacity], count = 0;
    EXPECT_NE(e.getDeviceList(handles, &count), 0);
    EXPECT_EQ(e.getDeviceList(handles, &count), 0);
}

TEST_F(SimEnclosure, MismatchStoresAChangedByte)
{
    add_usb("u");
    const std::string image = add_disk("u", 1, "d1", 1000);
    enclosure e(root);
    const uint32_t h = e.service_of("u");
    ASSERT_TRUE(st.add_failure("u", {"ovSetRaidInfo", "mismatch"}, error));
    const std::string data = sector_of('m');
    ASSERT_EQ(write_sector(e, h, 985, 1, data), 0) << "the write reports success";
    int rc = -1;
    const std::string back = read_sector(e, h, 985, 1, rc);
    ASSERT_EQ(rc, 0);
    int differing = 0;
    for (size_t i = 0; i < 512; ++i)
        differing += back[i] != data[i];
    EXPECT_EQ(differing, 1);
    EXPECT_EQ(read_bytes(image, 985 * 512, 512), back);
    ASSERT_EQ(write_sector(e, h, 985, 1, data), 0);
    EXPECT_EQ(read_sector(e, h, 985, 1, rc), data) << "a mismatch happens once";

    ASSERT_TRUE(st.add_failure("u", {"ovGetRaidInfo", "mismatch"}, error));
    EXPECT_NE(read_sector(e, h, 985, 1, rc), data) << "a read can come back changed too";
    EXPECT_EQ(read_bytes(image, 985 * 512, 512), data) << "without touching the disk";
}

TEST_F(SimEnclosure, VanishingBridgeTerminatesDuringTheCall)
{
    add_usb("u");
    add_usb("other");
    add_disk("u", 0, "d0", 1000);
    enclosure e(root);
    const uint32_t h = e.service_of("u");
    notification_thread loop(e);
    ASSERT_EQ(loop.initial().size(), 2u);

    ASSERT_TRUE(st.add_failure("u", {"ovGetDiskIdentify", "vanish", -1, 1}, error));
    unsigned char id[512];
    EXPECT_EQ(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    EXPECT_NE(e.ovGetDiskIdentify(h, id, 512, 0), 0);
    ASSERT_TRUE(loop.wait_events(1));
    const auto ev = loop.events();
    EXPECT_EQ(ev[0], (event{event::terminated, h, ov::msg_service_terminated}));
    EXPECT_EQ(e.service_of("u"), 0u);
    EXPECT_NE(e.service_of("other"), 0u);
    bridge_desc b;
    ASSERT_TRUE(st.read_bridge("u", b, error));
    EXPECT_FALSE(b.plugged) << "it stays away, as an unplugged bridge";
    std::vector<failure_desc> left;
    ASSERT_TRUE(st.read_failures("u", left, error));
    EXPECT_TRUE(left.empty());
}

TEST_F(SimEnclosure, WarmBootLeavesAndReturnsWithANewHandle)
{
    add_usb("u");
    add_firewire("f");
    add_disk("u", 0, "d0", 1000);
    enclosure e(root);
    const uint32_t old = e.service_of("u");
    const uint32_t fw = e.service_of("f");
    notification_thread loop(e);
    ASSERT_EQ(loop.initial().size(), 2u);

    ASSERT_EQ(e.ovWarmBoot(old), 0);
    EXPECT_NE(e.openConnection(old), 0) << "gone at once";
    uint32_t handles[ov::device_list_capacity], count = 0;
    ASSERT_EQ(e.getDeviceList(handles, &count), 0);
    EXPECT_EQ(std::count(handles, handles + count, old), 0);
    ASSERT_TRUE(loop.wait_events(2));
    auto ev = loop.events();
    EXPECT_EQ(ev[0], (event{event::terminated, old, ov::msg_service_terminated}));
    EXPECT_EQ(ev[1].what, event::matched);
    const uint32_t fresh = ev[1].service;
    EXPECT_NE(fresh, old);
    EXPECT_NE(fresh, fw);
    EXPECT_EQ(e.service_of("u"), fresh);
    EXPECT_EQ(e.name(fresh), ov::bridge_service_class);
    unsigned char id[512];
    EXPECT_EQ(e.ovGetDiskIdentify(fresh, id, 512, 0), 0);
    EXPECT_EQ(e.service_of("f"), fw) << "the other bridge is untouched";

    // The interest armed on the new service sees the next warm boot.
    ASSERT_EQ(e.ovWarmBoot(fresh), 0);
    ASSERT_TRUE(loop.wait_events(4));
    ev = loop.events();
    EXPECT_EQ(ev[2].what, event::terminated);
    EXPECT_EQ(ev[2].service, fresh);
    EXPECT_EQ(ev[3].what, event::matched);
    EXPECT_NE(ev[3].service, fresh);

    // While it reboots a sync does not bring it back early; unplugged meanwhile, it
    // stays away.
    const double scale = ov::time_scale();
    ov::set_time_scale(2);  // a reboot long enough to look inside
    ASSERT_EQ(e.ovWarmBoot(ev[3].service), 0);
    e.sync();
    EXPECT_EQ(e.service_of("u"), 0u);
    ASSERT_TRUE(st.set_plugged("u", false, error));
    ov::set_time_scale(scale);
    ASSERT_TRUE(loop.wait_events(5));
    ov::pause_ms(3000);
    EXPECT_EQ(loop.events().size(), 5u);
    EXPECT_EQ(e.service_of("u"), 0u);
    ASSERT_TRUE(st.set_plugged("u", true, error));
    e.sync();
    ASSERT_TRUE(loop.wait_events(6));
    EXPECT_EQ(loop.events()[5].what, event::matched);
}

TEST_F(SimEnclosure, RunLoopDeliversInArrivalOrder)
{
    add_usb("a");
    enclosure e(root);
    notification_thread loop(e);
    loop.post_marker(1);
    add_usb("b");
    e.sync();
    loop.post_marker(2);
    ASSERT_TRUE(st.set_plugged("a", false, error));
    e.sync();
    loop.post_marker(3);
    ASSERT_TRUE(loop.wait_events(5));
    const auto ev = loop.events();
    ASSERT_EQ(ev.size(), 5u);
    EXPECT_EQ(ev[0], (event{event::task, 1, 0}));
    EXPECT_EQ(ev[1], (event{event::matched, e.service_of("b"), 0}));
    EXPECT_EQ(ev[2].what, event::task);
    EXPECT_EQ(ev[3].what, event::terminated);
    EXPECT_EQ(ev[4], (event{event::task, 3, 0}));

    // A stopped loop returns; tasks posted meanwhile wait for the next run.
    loop.stop();
    bool ran = false;
    e.post([&] { ran = true; });
    e.post([&] { e.stop_run_loop(); });
    e.run_loop();
    EXPECT_TRUE(ran);
}

TEST_F(SimEnclosure, RegistryTreeLeadsToBusAndPresentedDevice)
{
    add_usb("u");
    add_firewire("f", 0x8000460011223344ULL);
    ov::sim::bridge_desc bare;
    bare.name = "bare";
    bare.location_id = 0x1D000000;
    bare.missing_properties = {"USB Serial Number", "idProduct"};
    ASSERT_TRUE(st.add_bridge(bare, error));
    enclosure e(root);
    EXPECT_TRUE(e.matching_available(ov::bridge_service_class));
    EXPECT_FALSE(e.matching_available("IOMedia"));
    EXPECT_EQ(e.add_matching_notification("IOMedia", [](uint32_t) {}), 0u);

    auto up = [&](uint32_t entry, int levels) {
        for (int i = 0; i < levels; ++i)
            entry = e.parent(entry);
        return entry;
    };
    auto down = [&](uint32_t entry, int levels) {
        for (int i = 0; i < levels; ++i)
            entry = e.first_child(entry);
        return entry;
    };
    for (const char* b : {"u", "f", "bare"}) {
        const uint32_t s = e.service_of(b);
        EXPECT_EQ(e.name(s), ov::bridge_service_class);
        for (int level = 1; level < 4; ++level)
            EXPECT_EQ(e.name(up(s, level)).find("FireWire"), std::string::npos) << b << " level " << level;
        EXPECT_EQ(e.name(up(s, 5)).find("FireWire"), std::string::npos) << "above the bus";
        EXPECT_EQ(e.first_child(up(s, 4)), up(s, 3));
        EXPECT_EQ(e.parent(down(s, 1)), s);
        EXPECT_EQ(down(s, 4), 0u);
    }
    const uint32_t ubus = up(e.service_of("u"), 4), fbus = up(e.service_of("f"), 4),
                   bbus = up(e.service_of("bare"), 4);
    EXPECT_EQ(e.name(fbus).find("FireWire") != std::string::npos, true) << e.name(fbus);
    EXPECT_EQ(e.name(ubus).find("FireWire"), std::string::npos) << e.name(ubus);
    EXPECT_EQ(e.name(down(e.service_of("u"), 3)), "RAID Volume");
    EXPECT_EQ(e.name(down(e.service_of("f"), 3)), "FW Volume");

    const auto guid = e.property(fbus, "GUID");
    ASSERT_EQ(guid.type, ov::registry_value::kind::number);
    EXPECT_EQ(static_cast<uint64_t>(guid.number), 0x8000460011223344ULL);
    EXPECT_EQ(e.property(fbus, "idVendor").type, ov::registry_value::kind::absent);
    EXPECT_EQ(e.property(ubus, "idVendor").number, 0x1E91);
    EXPECT_EQ(e.property(ubus, "idProduct").number, 0x0A12);
    EXPECT_EQ(e.property(ubus, "locationID").number, 0x14100000);
    EXPECT_EQ(e.property(ubus, "USB Serial Number").type, ov::registry_value::kind::text);
    EXPECT_EQ(e.property(ubus, "USB Serial Number").text, "USB-u");
    EXPECT_EQ(e.property(ubus, "GUID").type, ov::registry_value::kind::absent);
    EXPECT_EQ(e.property(e.service_of("u"), "idVendor").type, ov::registry_value::kind::absent)
        << "properties live on the bus entry";
    EXPECT_EQ(e.property(bbus, "USB Serial Number").type, ov::registry_value::kind::absent);
    EXPECT_EQ(e.property(bbus, "idProduct").type, ov::registry_value::kind::absent);
    EXPECT_EQ(e.property(bbus, "locationID").number, 0x1D000000);

    // Unknown and departed entries.
    EXPECT_EQ(e.name(0), "");
    EXPECT_EQ(e.parent(0xFFFFFFF0u), 0u);
    EXPECT_EQ(e.first_child(0xFFFFFFF0u), 0u);
    const uint32_t gone = e.service_of("u");
    ASSERT_TRUE(st.set_plugged("u", false, error));
    e.sync();
    EXPECT_EQ(e.name(gone), "");
    EXPECT_EQ(e.parent(gone), 0u);
    EXPECT_EQ(e.property(ubus, "idVendor").type, ov::registry_value::kind::absent);
    EXPECT_NE(e.add_interest_notification(gone, [](ov::registry_entry, uint32_t, void*) {}), 0);
}

TEST_F(SimEnclosure, WatcherTurnsDirectoryChangesIntoEvents)
{
    add_usb("a");
    enclosure e(root);
    notification_thread loop(e);
    ASSERT_TRUE(e.start_watching());
    EXPECT_TRUE(e.start_watching()) << "a second start is harmless";

    // Another process (another store) adds, unplugs and removes bridges.
    store other(root);
    ov::sim::bridge_desc b;
    b.name = "late";
    b.firewire = true;
    b.guid = 0x8000000000000001ULL;
    ASSERT_TRUE(other.add_bridge(b, error)) << error;
    ASSERT_TRUE(loop.wait_events(1));
    EXPECT_EQ(loop.events()[0], (event{event::matched, e.service_of("late"), 0}));

    ASSERT_TRUE(other.set_plugged("a", false, error));
    ASSERT_TRUE(loop.wait_events(2));
    EXPECT_EQ(loop.events()[1].what, event::terminated);
    ASSERT_TRUE(other.remove_bridge("late", error));
    ASSERT_TRUE(loop.wait_events(3));
    EXPECT_EQ(loop.events()[2].what, event::terminated);

    // Disk moves are not bridge events.
    ASSERT_TRUE(other.set_plugged("a", true, error));
    ASSERT_TRUE(loop.wait_events(4));
    ASSERT_TRUE(other.make_disk("d", disk_desc{"M", "S", 100, "lba48", false}, error));
    ASSERT_TRUE(other.insert_disk("a", 0, "d", error));
    ov::pause_ms(2000);
    EXPECT_EQ(loop.events().size(), 4u);
    e.stop_watching();
    e.stop_watching();
}

TEST_F(SimEnclosure, ConcurrentCallersAndEvents)
{
    add_usb("a");
    add_firewire("f");
    add_disk("a", 0, "a0", 4000);
    add_disk("f", 1, "f1", 4000);
    enclosure e(root);
    ASSERT_TRUE(e.start_watching());
    notification_thread loop(e);
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t)
        workers.emplace_back([&, t] {
            unsigned char buf[512] = {};
            while (!stop) {
                uint32_t handles[ov::device_list_capacity], count = 0;
                e.getDeviceList(handles, &count);
                for (uint32_t i = 0; i < count; ++i) {
                    e.ovGetDiskIdentify(handles[i], buf, 512, t % 2);
                    e.ovGetRegister(handles[i], buf, 512, 4, ov::reg_port1_presence);
                    e.ovSetRaidInfo(handles[i], buf, 512, 100 + t, 0, 1);
                    e.ovGetRaidInfoFW(handles[i], buf, 512, 100, 1);
                    e.ovGetRebuildStatus(handles[i], buf, 12);
                    uint32_t up = e.parent(handles[i]);
                    e.name(up);
                    e.property(e.parent(e.parent(e.parent(up))), "GUID");
                }
            }
        });
    for (int round = 0; round < 6; ++round) {
        e.ovWarmBoot(e.service_of("a"));
        ASSERT_TRUE(st.set_plugged("f", round % 2 != 0, error));
        e.sync();
        ov::pause_ms(500);
    }
    stop = true;
    for (auto& w : workers)
        w.join();
    ASSERT_TRUE(st.set_plugged("f", true, error));
    ASSERT_TRUE(eventually([&] { return e.service_of("a") != 0; }));
    e.sync();
    EXPECT_NE(e.service_of("f"), 0u);
    e.stop_watching();
}
