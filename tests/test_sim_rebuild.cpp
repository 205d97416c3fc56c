// The simulated firmware's set assembly and rebuild copy: what starts a copy, what it
// copies (data, holes, never the records), how it reports progress and how it stops.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "harness.h"
#include "ovdisk.h"
#include "raid.h"
#include "sim/enclosure.h"
#include "sim/firmware.h"
#include "sim/firmware_state.h"
#include "sim/identify.h"
#include "sim/service.h"
#include "posix_io.h"

using namespace ov::sim;
using namespace ovtest;

namespace {

struct status {
    int rc;
    uint64_t total, current;
};

status read_status(enclosure& e, uint32_t h)
{
    unsigned char b[12];
    std::memset(b, 0xEE, sizeof b);
    const int rc = e.ovGetRebuildStatus(h, b, 12);
    const ov::rebuild_status decoded = ov::rebuild_status::decode(b);
    return {rc, decoded.total(), decoded.current()};
}

class SimRebuild : public ::testing::Test, public sim_tree {
protected:
    // Bridge "u" with two disks of n sectors whose mirror records mark the disk in port
    // source to be copied onto the other, in seconds; the source's image is returned.
    std::string flagged_mirror(double seconds, uint64_t n, int source = 0)
    {
        add_usb("u", seconds);
        add_disk("u", 0, "s", n);
        add_disk("u", 1, "t", n);
        write_record("u", 0, 2, source == 0, n - 16);
        write_record("u", 1, 2, source == 1, n - 16);
        return st.port_image("u", source);
    }
};

}  // namespace

TEST_F(SimRebuild, CopiesTheSetFromSourceToTargetAroundHolesAndRecords)
{
    add_usb("u", 0);
    const uint64_t src_sectors = 200000, dst_sectors = 260000;
    const std::string src = add_disk("u", 0, "src", src_sectors);
    const std::string dst = add_disk("u", 1, "dst", dst_sectors);
    const uint64_t set = src_sectors - 16;

    // Source: scattered data with holes between; target: stale data everywhere,
    // including where the source has holes and past the set.
    write_bytes(src, 0, random_bytes(1 << 20, 1));
    write_bytes(src, 37 * 512 * 1024 + 512, random_bytes(3 * 512, 2));
    write_bytes(src, 60ULL << 20, random_bytes(64 << 10, 3));
    write_bytes(src, (set - 1) * 512, random_bytes(512, 4));
    for (uint64_t off = 0; off < dst_sectors * 512; off += 7 << 20)
        write_bytes(dst, off, random_bytes(300 << 10, 5));
    const std::string src_record = write_record("u", 0, ov::mode_raid1, true, set);
    const std::string dst_record = write_record("u", 1, ov::mode_raid1, false, set);
    const std::string dst_tail = read_bytes(dst, set * 512, (dst_sectors - set) * 512);

    enclosure e(root);
    e.sync();  // plugging in assembles the set and starts the copy
    const uint32_t h = e.service_of("u");
    ASSERT_TRUE(eventually([&] { return !e.rebuild_running("u"); }));

    EXPECT_EQ(read_bytes(dst, 0, set * 512), read_bytes(src, 0, set * 512));
    EXPECT_EQ(read_bytes(src, (src_sectors - 15) * 512, 512), src_record) << "the records are the host's";
    EXPECT_EQ(read_bytes(dst, (dst_sectors - 15) * 512, 512), dst_record);
    EXPECT_EQ(read_bytes(dst, set * 512, (dst_sectors - set) * 512), dst_tail) << "nothing past the set is touched";

    const status s = read_status(e, h);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.total, set);
    EXPECT_EQ(s.current, set);

    // Where the source has a hole the target's stale blocks are gone, not overwritten.
    const int fd = ::open(dst.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_GE(::lseek(fd, 7 << 20, SEEK_DATA), (7 << 20) + (300 << 10));
    ::close(fd);
}

TEST_F(SimRebuild, TheSourceMayBeEitherPortAndTheRecordCannotReachPastTheDisks)
{
    add_firewire("f", 0x8000000000000002ULL, 0);
    const std::string small = add_disk("f", 0, "small", 50000);
    const std::string big = add_disk("f", 1, "big", 90000);
    write_bytes(big, 4096, "from port 1");
    write_bytes(big, (50000 - 1) * 512, "last sector of the small disk");
    write_bytes(small, 8192, "stale");
    // A record that claims more than either disk: the copy stops at the smaller image
    // and still leaves both record sectors alone.
    const std::string big_record = write_record("f", 1, ov::mode_raid1, true, 1000000);
    const std::string small_record = write_record("f", 0, ov::mode_raid1, false, 1000000);

    enclosure e(root);
    e.sync();
    ASSERT_TRUE(eventually([&] { return !e.rebuild_running("f"); }));
    EXPECT_EQ(read_bytes(small, 4096, 11), "from port 1");
    EXPECT_EQ(read_bytes(small, 8192, 5), std::string(5, '\0'));
    EXPECT_EQ(read_bytes(small, (50000 - 15) * 512, 512), small_record);
    EXPECT_EQ(read_bytes(big, (90000 - 15) * 512, 512), big_record);
    EXPECT_EQ(read_bytes(small, (50000 - 1) * 512, 29), "last sector of the small disk");
    const status s = read_status(e, e.service_of("f"));
    EXPECT_EQ(s.total, 50000u);
    EXPECT_EQ(s.current, 50000u);
}

TEST_F(SimRebuild, OnlyAMirrorWithExactlyOneSourceRebuilds)
{
    add_usb("u", 0);
    const std::string a = add_disk("u", 0, "a", 3000);
    const std::string b = add_disk("u", 1, "b", 3000);
    write_bytes(a, 0, "data of a");
    enclosure e(root);
    e.sync();
    EXPECT_EQ(read_status(e, e.service_of("u")).rc, 0);
    EXPECT_EQ(read_status(e, e.service_of("u")).total, 0u) << "no rebuild ever ran";
    unsigned char buf[12];
    EXPECT_NE(e.ovGetRebuildStatus(e.service_of("u"), buf, 11), 0);

    struct layout {
        int mode0, mode1;
        bool src0, src1;
        bool strangers = false;  // halves of two different mirrors: the records name other disks
    };
    for (const layout& l : {layout{2, 2, true, true}, layout{2, 2, false, false}, layout{1, 1, true, false},
                            layout{2, 4, true, false}, layout{0, 2, false, true}, layout{2, 2, true, false, true}}) {
        write_record("u", 0, l.mode0, l.src0, 2984, !l.strangers);
        write_record("u", 1, l.mode1, l.src1, 2984, !l.strangers);
        ASSERT_EQ(e.ovWarmBoot(e.service_of("u")), 0);
        ASSERT_TRUE(eventually([&] { return e.service_of("u") != 0; }));
        EXPECT_FALSE(e.rebuild_running("u"));
        EXPECT_EQ(read_status(e, e.service_of("u")).total, 0u) << l.mode0 << l.mode1 << l.src0 << l.src1;
        EXPECT_EQ(read_bytes(b, 0, 9), std::string(9, '\0'));
    }
    // One disk alone does not rebuild either.
    std::string name;
    ASSERT_TRUE(st.pull_disk("u", 1, name, error));
    write_record("u", 0, 2, true, 2984);
    ASSERT_EQ(e.ovWarmBoot(e.service_of("u")), 0);
    ASSERT_TRUE(eventually([&] { return e.service_of("u") != 0; }));
    EXPECT_EQ(read_status(e, e.service_of("u")).total, 0u);
}

TEST_F(SimRebuild, StatusFieldsAre48Bit)
{
    add_usb("u", 0);
    const uint64_t n = (1ULL << 32) + 4096;  // a set above 2 TiB, sparse
    const std::string src = add_disk("u", 0, "s", n);
    const std::string dst = add_disk("u", 1, "t", n);
    write_bytes(src, (1ULL << 32) * 512, "beyond 2 TiB");
    write_record("u", 0, 2, true, n - 16);
    write_record("u", 1, 2, false, n - 16);
    enclosure e(root);
    e.sync();
    ASSERT_TRUE(eventually([&] { return !e.rebuild_running("u"); }, 60s));
    unsigned char b[12];
    ASSERT_EQ(e.ovGetRebuildStatus(e.service_of("u"), b, 12), 0);
    const unsigned char want[6] = {0xF0, 0x0F, 0x00, 0x00, 0x01, 0x00};  // 2^32 + 4080, little-endian
    EXPECT_EQ(std::memcmp(b, want, 6), 0);
    EXPECT_EQ(std::memcmp(b + 6, want, 6), 0);
    EXPECT_EQ(read_bytes(dst, (1ULL << 32) * 512, 12), "beyond 2 TiB");
}

TEST_F(SimRebuild, APacedCopyStopsWhenADiskIsPulledAndKeepsItsStatus)
{
    add_usb("u", 200);  // 200 s of system time: 4 s under the test clock
    const uint64_t n = 400000;
    const std::string src = add_disk("u", 0, "s", n);
    add_disk("u", 1, "t", n);
    for (uint64_t off = 0; off < n * 512; off += 1 << 20)
        write_bytes(src, off, random_bytes(4096, static_cast<unsigned>(off >> 20)));
    write_record("u", 0, 2, true, n - 16);
    write_record("u", 1, 2, false, n - 16);
    enclosure e(root);
    e.sync();
    const uint32_t h = e.service_of("u");
    EXPECT_TRUE(e.rebuild_running("u"));
    EXPECT_EQ(read_status(e, h).total, n - 16) << "the total is known from the start";
    ASSERT_TRUE(eventually([&] { return read_status(e, h).current > 0; }));
    const status early = read_status(e, h);
    EXPECT_LT(early.current, early.total) << "paced: still running";

    std::string name;
    ASSERT_TRUE(st.pull_disk("u", 1, name, error));
    ASSERT_TRUE(eventually([&] { return !e.rebuild_running("u"); }));
    const status stopped = read_status(e, h);
    EXPECT_GE(stopped.current, early.current);
    EXPECT_LT(stopped.current, stopped.total);
    ov::pause_ms(2000);
    const status later = read_status(e, h);
    EXPECT_EQ(later.current, stopped.current) << "the status keeps its last value";
    EXPECT_EQ(later.total, stopped.total);
    EXPECT_EQ(e.service_of("u"), h) << "the bridge itself stays";
}

TEST_F(SimRebuild, UnpluggingOrWarmBootingStopsTheCopyButClosingTheFrontEndDoesNot)
{
    const uint64_t n = 100000;
    flagged_mirror(500, n, 1);
    {
        enclosure e(root);
        e.sync();
        ASSERT_TRUE(e.rebuild_running("u"));
        ASSERT_TRUE(st.set_plugged("u", false, error));
        e.sync();
        EXPECT_EQ(e.service_of("u"), 0u);
        ASSERT_TRUE(eventually([&] { return !e.rebuild_running("u"); })) << "the firmware lost power";
        ASSERT_TRUE(st.set_plugged("u", true, error));
        e.sync();
        ASSERT_TRUE(e.rebuild_running("u")) << "plugged again: assembled again";
        ASSERT_TRUE(eventually([&] { return read_status(e, e.service_of("u")).current > 0; }));
        ASSERT_EQ(e.ovWarmBoot(e.service_of("u")), 0);
        EXPECT_FALSE(e.rebuild_running("u"));
        EXPECT_EQ(e.service_of("u"), 0u) << "gone while it restarts";
        ASSERT_TRUE(eventually([&] { return e.service_of("u") != 0 && e.rebuild_running("u"); }));
        EXPECT_LT(read_status(e, e.service_of("u")).current, n - 16) << "a reboot starts the copy over";
    }
    // The firmware is not the front end's: the copy goes on with no enclosure object open, and
    // one opened later sees the same copy further on.
    rebuild_progress before;
    ASSERT_TRUE(read_progress(root, "u", before, error)) << error;
    ASSERT_TRUE(eventually([&] {
        rebuild_progress now;
        return read_progress(root, "u", now, error) && now.current > before.current;
    }));
    enclosure again(root);
    again.sync();
    EXPECT_TRUE(again.rebuild_running("u"));
    EXPECT_GT(read_status(again, again.service_of("u")).current, before.current);

    // Removing the simulation takes the state directory first, maybe: the service, still
    // copying, ends rather than make it again behind the removal.
    const pid_t pid = std::atoi(slurp(root + "/.firmware/lock").c_str());
    ASSERT_EQ(::rename((root + "/.firmware").c_str(), (dir.path() + "/removed").c_str()), 0);
    EXPECT_TRUE(eventually([&] { return ::kill(pid, 0) != 0; }, 60s)) << "the service goes on";
    EXPECT_FALSE(std::filesystem::exists(root + "/.firmware")) << "made again behind the removal";
}

// ---- the firmware service: one per simulation, whatever front ends come and go ------------

namespace {

pid_t service_pid(const std::string& root)
{
    std::string text, error;
    return ov::io::read_file(root + "/.firmware/lock", text, error) ? static_cast<pid_t>(std::atol(text.c_str())) : 0;
}

}  // namespace

TEST_F(SimRebuild, TwoFrontEndsShareOneCopyAndEachSeesTheOthersRestart)
{
    const uint64_t n = 100000;
    flagged_mirror(300, n);
    enclosure a(root), b(root);
    ASSERT_TRUE(b.start_watching());
    const uint32_t ha = a.service_of("u"), hb = b.service_of("u");
    ASSERT_NE(ha, 0u);
    ASSERT_NE(hb, 0u);
    ASSERT_TRUE(eventually([&] { return read_status(a, ha).current > 0; }));
    const status sa = read_status(a, ha), sb = read_status(b, hb);
    EXPECT_EQ(sa.total, sb.total);
    EXPECT_LE(sa.current, sb.current) << "one copy, read later by b";

    // A restart asked by one front end is a leave and a return in the other.
    ASSERT_EQ(a.ovWarmBoot(ha), 0);
    ASSERT_TRUE(eventually([&] { return b.service_of("u") != 0 && b.service_of("u") != hb; }));
    ASSERT_TRUE(eventually([&] { return a.service_of("u") != 0; }));
    EXPECT_EQ(read_status(a, a.service_of("u")).total, n - 16);

    // An unplug and a plug between two looks is still a power cycle: a new handle.
    const uint32_t before = a.service_of("u");
    ASSERT_TRUE(st.set_plugged("u", false, error));
    ASSERT_TRUE(st.set_plugged("u", true, error));
    a.sync();
    EXPECT_NE(a.service_of("u"), before);
    EXPECT_NE(a.service_of("u"), 0u);
}

TEST_F(SimRebuild, ACopyWhoseServiceDiedResumesOnlyOntoTheSameDisks)
{
    const uint64_t n = 200000;
    const std::string src = flagged_mirror(100, n);
    write_bytes(src, 0, random_bytes(1 << 20, 7));
    write_bytes(src, (n - 20) * 512, random_bytes(512, 8));
    enclosure e(root);
    ASSERT_TRUE(eventually([&] { return read_status(e, e.service_of("u")).current > 0; }));
    // Killed, the service leaves its copy marked as running.
    const pid_t pid = service_pid(root);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(eventually([&] { return !firmware_running(root); }));
    rebuild_progress left;
    ASSERT_TRUE(read_progress(root, "u", left, error)) << error;
    ASSERT_EQ(left.state, rebuild_progress::kind::running);
    ASSERT_LT(left.current, n - 16);

    // The open front end's next look at the progress starts a new service, and the copy goes
    // on from where it was to the end, the target a copy of the source.
    EXPECT_GE(read_status(e, e.service_of("u")).current, left.current);
    ASSERT_TRUE(eventually([&] { return !e.rebuild_running("u"); }, 60s));
    rebuild_progress done;
    ASSERT_TRUE(read_progress(root, "u", done, error));
    EXPECT_EQ(done.state, rebuild_progress::kind::done);
    EXPECT_EQ(first_difference(src, st.port_image("u", 1), (n - 16) * 512), -1);

    // Left running again, then the target swapped for another disk while no service runs:
    // that disk is never written.
    write_record("u", 0, 2, true, n - 16);
    write_record("u", 1, 2, false, n - 16);
    ASSERT_TRUE(eventually([&] { return !firmware_running(root); }, 60s));
    rebuild_progress again = left;
    again.target_id = "0:0";  // as if another disk now sat in the port
    ASSERT_TRUE(write_progress(root, "u", again, error)) << error;
    write_bytes(st.port_image("u", 1), 0, std::string(1 << 20, 'x'));
    enclosure later(root);
    ASSERT_TRUE(eventually([&] { return !later.rebuild_running("u"); }));
    rebuild_progress stopped;
    ASSERT_TRUE(read_progress(root, "u", stopped, error));
    EXPECT_EQ(stopped.state, rebuild_progress::kind::stopped);
    EXPECT_EQ(read_bytes(st.port_image("u", 1), 0, 1 << 20), std::string(1 << 20, 'x'));
}

TEST_F(SimRebuild, TheServiceRefusesNonsenseAndEndsWhenIdle)
{
    add_usb("u", 0);
    add_disk("u", 0, "s", 100000);
    add_disk("u", 1, "t", 100000);
    const struct {
        const char* verb;
        const char* bridge;
        const char* says;
    } refused[] = {{"frobnicate", "u", "unknown request 'frobnicate'"},
                   {"power-up", "../u", "not a bridge name"},
                   {"warm-boot", "nobody", "bridge 'nobody' is not running"},
                   {"power-up", "", "not a bridge name"}};
    for (const auto& r : refused) {
        EXPECT_FALSE(firmware_request(root, r.verb, r.bridge, error)) << r.verb << " " << r.bridge;
        EXPECT_NE(error.find(r.says), std::string::npos) << error;
    }
    // A client that hangs up before the answer does not take the service down with it.
    ASSERT_TRUE(firmware_request(root, "power-up", "u", error)) << error;
    const pid_t serving = service_pid(root);
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s/.firmware/socket", root.c_str());
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(::write(fd, "warm-boot nobody\n", 17), 17);
        ::close(fd);
    }
    ASSERT_TRUE(firmware_request(root, "power-up", "u", error)) << error;
    EXPECT_EQ(service_pid(root), serving) << "the same service answers";

    // A power state that cannot be read changes nothing and is said, naming the file.
    enclosure e(root);
    const uint32_t h = e.service_of("u");
    ASSERT_NE(h, 0u);
    write_bytes(root + "/.firmware/u.power", 0, "state = sideways\n");
    e.sync();
    EXPECT_EQ(e.service_of("u"), h);
    EXPECT_NE(e.last_error().find("u.power"), std::string::npos) << e.last_error();
    EXPECT_TRUE(eventually([&] { return !firmware_running(root); }, 60s)) << "the service never ended";

    // A starter slow to return (a sanitizer's checks at exit take a tenth of a second) still
    // finds the service it started, however fast the clock makes its idle end.
    const std::string slow = dir.path() + "/slow-starter";
    spit(slow, "#!/bin/sh\n\"" + firmware_program() + "\" \"$@\"; rc=$?; sleep 0.3; exit $rc\n");
    ASSERT_EQ(::chmod(slow.c_str(), 0755), 0);
    set_firmware_program(slow);
    EXPECT_TRUE(firmware_request(root, "power-up", "u", error)) << error;
    set_firmware_program("");
}
