// Loading bridge libraries: every way a file can be wrong is named with the file, the
// example library answers through the loader, and the simulator built as a library serves
// a bridge that a simulation registry in this process announces.
#include <elf.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string_view>
#include <thread>

#include "backend.h"
#include "diag.h"
#include "harness.h"
#include "loaded_library.h"
#include "ata_identify.h"
#include "raid.h"
#include "sim/conf.h"
#include "sim/enclosure.h"

namespace {

using namespace ovtest;

std::string put(const temp_dir& dir, const std::string& name, const std::string& bytes)
{
    const std::string path = dir.path() + "/" + name;
    spit(path, bytes);
    return path;
}

std::string fifo(const temp_dir& dir, const std::string& name)
{
    const std::string path = dir.path() + "/" + name;
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
    return path;
}

// A copy of the example library with the bytes at offset replaced.
std::string patched(const temp_dir& dir, const std::string& name, size_t offset, const std::string& bytes)
{
    std::string image = slurp(OVRAID_EXAMPLE_LIBRARY);
    image.replace(offset, bytes.size(), bytes);
    return put(dir, name, image);
}

std::string u16(uint16_t v)
{
    return std::string(reinterpret_cast<const char*>(&v), 2);
}

// Diagnostics collected for the length of a test.
struct captured_diag {
    std::vector<std::string> lines;
    captured_diag()
    {
        ov::set_diag_sink([this](ov::diag_level, std::string_view text) { lines.emplace_back(text); });
    }
    ~captured_diag() { ov::set_diag_sink(nullptr); }
};

TEST(loader, each_refusal_names_the_file_and_the_fault)
{
    temp_dir dir;
    const size_t type_at = offsetof(Elf64_Ehdr, e_type);
    const bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
#if defined(__x86_64__)
    const uint16_t other = EM_AARCH64;
    const std::string other_name = "built for AArch64, this program is x86-64";
#else
    const uint16_t other = EM_X86_64;
    const std::string other_name = "built for x86-64, this program is ";
#endif
    struct refusal {
        std::string path;
        const char* table;  // the broken table library's fault, or null
        std::string said;
    };
    const std::vector<refusal> cases = {
        {dir.path() + "/absent.so", nullptr, {"No such file or directory"}},
        {dir.path(), nullptr, {"not a shared library (not a regular file)"}},
        {fifo(dir, "fifo.so"), nullptr, {"not a shared library (not a regular file)"}},
        {put(dir, "notes.txt", "library = here\n"), nullptr, {"not a shared library (not an ELF file)"}},
        {patched(dir, "class.so", EI_CLASS, std::string(1, sizeof(void*) == 8 ? ELFCLASS32 : ELFCLASS64)),
         nullptr,
         {sizeof(void*) == 8 ? "a 32-bit library; this program is 64-bit" : "a 64-bit library"}},
        {patched(dir, "order.so", EI_DATA, std::string(1, little ? ELFDATA2MSB : ELFDATA2LSB)), nullptr,
         {little ? "built for big-endian machines" : "built for little-endian machines"}},
        {patched(dir, "damaged.so", EI_CLASS, std::string(1, '\x07')), nullptr, {"a damaged ELF file"}},
        {patched(dir, "machine.so", offsetof(Elf64_Ehdr, e_machine), u16(other)), nullptr, {other_name}},
        {patched(dir, "program.so", type_at, u16(ET_EXEC)), nullptr, {"a program, not a shared library"}},
        {patched(dir, "object.so", type_at, u16(ET_REL)), nullptr, {"an object file (.o), not a shared library"}},
        {put(dir, "short.so", slurp(OVRAID_EXAMPLE_LIBRARY).substr(0, 64)), nullptr, {"a truncated library"}},
        {put(dir, "half.so", slurp(OVRAID_EXAMPLE_LIBRARY).substr(0, 5000)), nullptr, {"a truncated library"}},
        {OVRAID_BROKEN_MISSING, nullptr, {"not a bridge library: it does not export getDeviceList, ovWarmBoot"}},
        {OVRAID_BROKEN_VERSION, nullptr, {"speaks interface version 0; ovraid needs 1"}},
        {OVRAID_BROKEN_TABLE, "bus", {"match table entry 1: bus 3 is neither USB (1) nor FireWire (2)"}},
        {OVRAID_BROKEN_TABLE, "vendor", {"match table entry 2: vendor is 0"}},
        {OVRAID_BROKEN_TABLE, "wide", {"entry 0: FireWire vendor 0x1000000 is wider than 24 bits"}},
        {OVRAID_BROKEN_TABLE, "null", {"gives no match table"}},
        {OVRAID_BROKEN_TABLE, "huge", {"its match table has 5000 entries (1 to 4096 make sense)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + (c.table ? std::string(" ") + c.table : ""));
        if (c.table)
            ::setenv("OVRAID_TEST_TABLE", c.table, 1);
        std::string error = "stale";
        EXPECT_EQ(ov::loaded_library::open(c.path, error), nullptr);
        EXPECT_EQ(error.rfind(c.path + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
    }
    ::unsetenv("OVRAID_TEST_TABLE");
}

TEST(loader, example_library_answers_through_the_loader)
{
    std::string error;
    auto lib = ov::loaded_library::open(OVRAID_EXAMPLE_LIBRARY, error);
    ASSERT_NE(lib, nullptr) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(lib->path(), OVRAID_EXAMPLE_LIBRARY);
    EXPECT_EQ(lib->match_table(), (std::vector<ov::bridge_match>{{false, 0x1E91, 0x0E01}}));

    uint32_t handles[ov::device_list_capacity] = {};
    uint32_t count = 99;
    ASSERT_EQ(lib->getDeviceList(handles, &count), 0);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(lib->attach(7, "/sys/devices/usb1/1-2", "/dev/sg3"), 0);
    ASSERT_EQ(lib->getDeviceList(handles, &count), 0);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(handles[0], 7u);
    EXPECT_EQ(lib->openConnection(7), 0);

    ov::identify_data id;
    ASSERT_EQ(lib->ovGetDiskIdentify(7, id.bytes.data(), 512, 0), 0);
    EXPECT_TRUE(id.checksum_ok());
    EXPECT_EQ(ov::sim::trimmed(id.text(ov::identify::model, 20)), "Example Disk 1000");
    EXPECT_EQ(id.capacity().sectors, 2000000u);
    EXPECT_NE(lib->ovGetDiskIdentify(7, id.bytes.data(), 512, 1), 0) << "port 1 is empty";
    unsigned char reg[512] = {};
    EXPECT_EQ(lib->ovGetRegister(7, reg, 512, 4, ov::reg_port0_presence), 0);
    EXPECT_EQ(reg[0], 1);
    EXPECT_EQ(lib->ovGetRegister(7, reg, 512, 4, ov::reg_port1_presence), 0);
    EXPECT_EQ(reg[0], 0);

    uint64_t lba = 0;
    ASSERT_TRUE(ov::record_lba_for(2000000, lba));
    const std::string written = random_bytes(512, 3);
    const auto* bytes = reinterpret_cast<const unsigned char*>(written.data());
    ASSERT_EQ(lib->ovSetRaidInfo(7, bytes, 512, lba, 0, 1), 0);
    unsigned char back[512] = {};
    ASSERT_EQ(lib->ovGetRaidInfo(7, back, 512, lba, 0, 1), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 512), written);
    EXPECT_NE(lib->ovGetRaidInfoFW(7, back, 512, lba, 0), 0) << "a USB bridge";

    // Arguments no library may be handed stop at the loader: the buffer stays as it was.
    captured_diag diag;
    unsigned char buffer[512];
    std::memset(buffer, 0xEE, sizeof buffer);
    const std::vector<std::pair<const char*, std::function<int()>>> refused = {
        {"short sector", [&] { return lib->ovGetRaidInfo(7, buffer, 511, lba, 0, 1); }},
        {"no buffer", [&] { return lib->ovGetRaidInfo(7, nullptr, 512, lba, 0, 1); }},
        {"port 2", [&] { return lib->ovGetRaidInfo(7, buffer, 512, lba, 2, 1); }},
        {"addressing 2", [&] { return lib->ovGetRaidInfo(7, buffer, 512, lba, 0, 2); }},
        {"short record", [&] { return lib->ovSetRaidInfo(7, buffer, 100, lba, 0, 1); }},
        {"short identify", [&] { return lib->ovGetDiskIdentify(7, buffer, 256, 0); }},
        {"count over length", [&] { return lib->ovGetRegister(7, buffer, 2, 4, ov::reg_port0_presence); }},
        {"count 0", [&] { return lib->ovGetRegister(7, buffer, 512, 0, ov::reg_port0_presence); }},
        {"short status", [&] { return lib->ovGetRebuildStatus(7, buffer, 11); }},
        {"flush port -1", [&] { return lib->ovFlushHDDCache(7, -1); }},
        {"no list", [&] { return lib->getDeviceList(nullptr, &count); }},
    };
    for (const auto& [what, call] : refused) {
        SCOPED_TRACE(what);
        EXPECT_EQ(call(), -1);
        EXPECT_TRUE(std::all_of(buffer, buffer + 512, [](unsigned char c) { return c == 0xEE; }));
    }
    ASSERT_EQ(diag.lines.size(), refused.size());
    for (const auto& line : diag.lines)
        EXPECT_EQ(line.rfind(std::string(OVRAID_EXAMPLE_LIBRARY) + ": ", 0), 0u) << line;

    lib->detach(7);
    ASSERT_EQ(lib->getDeviceList(handles, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(lib->openConnection(7), 0);
}

TEST(loader, simulator_library_serves_a_bridge_the_registry_attaches)
{
    sim_tree t;
    t.add_usb("usb-raid");
    const std::string image = t.add_disk("usb-raid", 0, "a", 2000000);
    uint64_t lba = 0;
    ASSERT_TRUE(ov::record_lba_for(2000000, lba));
    const ov::raid_info record = record_for(ov::mode_raid1, 0, 2000000, disk_b());
    write_bytes(image, lba * 512, std::string(reinterpret_cast<const char*>(record.data()), 512));

    std::string error;
    auto lib = ov::loaded_library::open(OVRAID_SIM_LIBRARY, error);
    ASSERT_NE(lib, nullptr) << error;
    EXPECT_EQ(lib->match_table(),
              (std::vector<ov::bridge_match>{{false, 0x1E91, 0x0A12}, {true, 0x800046, 0x0A12}}));

    // The simulation's registry in this process hands out the handles and tells the
    // library of each bridge; the library's own enclosure has other numbers for them.
    ov::sim::enclosure registry(t.root);
    registry.set_binder(lib.get());
    struct running_loop {
        ov::sim::enclosure& reg;
        std::thread thread{[this] { reg.run_loop(); }};
        ~running_loop()
        {
            reg.set_binder(nullptr);
            reg.stop_run_loop();
            thread.join();
        }
    } loop{registry};
    const uint32_t service = registry.service_of("usb-raid");
    ASSERT_NE(service, 0u);
    EXPECT_EQ(lib->attach(service + 1000, t.dir.path() + "/other/usb-raid", ""), -1) << "a second simulation";
    EXPECT_EQ(lib->attach(service + 1001, t.root + "/no-such-bridge", ""), -1);

    uint32_t handles[ov::device_list_capacity] = {};
    uint32_t count = 0;
    ASSERT_EQ(lib->getDeviceList(handles, &count), 0);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(handles[0], service);
    ASSERT_EQ(lib->openConnection(service), 0);
    EXPECT_NE(lib->openConnection(service + 1), 0) << "a handle the registry never gave";

    ov::identify_data id;
    ASSERT_EQ(lib->ovGetDiskIdentify(service, id.bytes.data(), 512, 0), 0);
    EXPECT_EQ(ov::sim::trimmed(id.text(ov::identify::model, 20)), "Harbor HDa");
    EXPECT_EQ(ov::sim::trimmed(id.text(ov::identify::serial, 10)), "SN-a");
    unsigned char sector[512] = {};
    ASSERT_EQ(lib->ovGetRaidInfo(service, sector, 512, lba, 0, 1), 0);
    EXPECT_EQ(std::memcmp(sector, record.data(), 512), 0);

    // A write through the library lands in the bridge's disk image.
    const std::string written = random_bytes(512, 9);
    ASSERT_EQ(lib->ovSetRaidInfo(service, reinterpret_cast<const unsigned char*>(written.data()), 512, lba, 0, 1), 0);
    EXPECT_EQ(read_bytes(image, lba * 512, 512), written);

    // Unplugged: no longer listed. Plugged again: listed under its new handle, while the
    // old one, detached, stays dead.
    ASSERT_TRUE(t.st.set_plugged("usb-raid", false, t.error)) << t.error;
    registry.sync();
    ASSERT_EQ(lib->getDeviceList(handles, &count), 0);
    EXPECT_EQ(count, 0u);
    ASSERT_TRUE(t.st.set_plugged("usb-raid", true, t.error)) << t.error;
    ASSERT_TRUE(eventually([&] {
        registry.sync();
        return registry.service_of("usb-raid") != 0;
    }));
    const uint32_t again = registry.service_of("usb-raid");
    EXPECT_NE(again, service);
    ASSERT_TRUE(eventually([&] { return lib->getDeviceList(handles, &count) == 0 && count == 1; }));
    EXPECT_EQ(handles[0], again);
    EXPECT_EQ(lib->ovGetDiskIdentify(again, id.bytes.data(), 512, 0), 0);
    EXPECT_TRUE(eventually([&] { return lib->ovGetDiskIdentify(service, id.bytes.data(), 512, 0) != 0; }));
}

}  // namespace

TEST(loader, a_device_list_keeps_only_handles_the_registry_gave_each_once)
{
    std::string error;
    const auto lib = ov::loaded_library::open(OVRAID_BROKEN_LISTS, error);
    ASSERT_TRUE(lib) << error;
    ASSERT_EQ(lib->attach(7, "/sys/devices/x", ""), 0);
    std::vector<uint32_t> handles(ov::device_list_capacity, 0);
    uint32_t count = 0;
    ASSERT_EQ(lib->getDeviceList(handles.data(), &count), 0);
    ASSERT_EQ(count, 1u) << "not the stranger, not the repeat, not the slots it never wrote";
    EXPECT_EQ(handles[0], 7u);
    lib->detach(7);
    ASSERT_EQ(lib->getDeviceList(handles.data(), &count), 0);
    EXPECT_EQ(count, 0u) << "gone once detached";
}

// ---- choosing the bridges: configuration and command line ----------------------------------

namespace {

struct config_case {
    std::string_view text; // "": no file; "<dir>": a directory in its place
    bool ok;
    const char* library;   // when ok
    const char* says;      // when not ok
};

}  // namespace

TEST(backend_choice, the_configuration_names_a_library_or_says_what_is_wrong_with_it)
{
    const config_case cases[] = {
        {"", true, "", nullptr},
        {"# nothing yet\n\n", true, "", nullptr},
        {"library = /opt/bridge/libb.so\n", true, "/opt/bridge/libb.so", nullptr},
        {"  library=/a.so  \n", true, "/a.so", nullptr},
        {"library = libb.so\n", false, nullptr, ":1: the library must be an absolute path"},
        {"library =\n", false, nullptr, "absolute path"},
        {"\nlibary = /a.so\n", false, nullptr, ":2: expected 'library = PATH'"},
        {"\x01\xff garbage", false, nullptr, "expected 'library = PATH'"},
        {"library = /a.so\nlibrary = /b.so\n", false, nullptr, ":2: the library is named twice"},
        {std::string_view("library = /a.so\0junk\n", 21), false, nullptr, "control characters"},
        {"<dir>", false, nullptr, "ovraid.conf"},
    };
    for (const config_case& c : cases) {
        SCOPED_TRACE(c.text.empty() ? std::string("(no file)") : std::string(c.text));
        temp_dir home;
        ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
        const std::string file = home.path() + "/ovraid/ovraid.conf";
        if (!c.text.empty()) {
            ::mkdir((home.path() + "/ovraid").c_str(), 0755);
            if (c.text == "<dir>")
                ::mkdir(file.c_str(), 0755);
            else
                std::ofstream(file) << c.text;
        }
        std::string library = "stale", error;
        ASSERT_EQ(ov::configured_library(library, error), c.ok) << error;
        if (c.ok)
            EXPECT_EQ(library, c.library);
        else {
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
            EXPECT_EQ(error.rfind(file, 0), 0u) << "names the file: " << error;
        }
    }
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(backend_choice, a_simulation_on_the_command_line_wins_and_a_library_beside_it_drives_it)
{
    temp_dir home;
    ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
    ::mkdir((home.path() + "/ovraid").c_str(), 0755);
    std::ofstream(home.path() + "/ovraid/ovraid.conf") << "library = " OVRAID_BROKEN_VERSION "\n";
    const std::string sim = home.path() + "/sim";
    std::string error;

    ov::backend_options configured;
    EXPECT_FALSE(ov::backend::open(configured, error)) << "the configured library is broken";
    EXPECT_NE(error.find("version 0"), std::string::npos) << error;

    ov::backend_options missing{sim, true, "", false};
    EXPECT_FALSE(ov::backend::open(missing, error));
    EXPECT_NE(error.find("no simulation there"), std::string::npos) << error;

    ov::backend_options simulated{sim, true, "", true};
    auto b = ov::backend::open(simulated, error);
    ASSERT_TRUE(b) << error;
    EXPECT_EQ(b->description(), "simulated enclosures in " + sim);
    b.reset();

    ov::backend_options loaded{sim, true, OVRAID_SIM_LIBRARY, true};
    b = ov::backend::open(loaded, error);
    ASSERT_TRUE(b) << error;
    EXPECT_NE(b->description().find("bridges of the simulation in " + sim), std::string::npos);
    uint32_t handles[ov::device_list_capacity], count = 0;
    ASSERT_EQ(b->library().getDeviceList(handles, &count), 0);
    EXPECT_EQ(count, 2u) << "the demo's two bridges, through the loaded library";
    b.reset();

    // Where the machine gives no udev monitor (some containers), the refusal must say so.
    ov::backend_options udev{"", false, OVRAID_EXAMPLE_LIBRARY, true};
    b = ov::backend::open(udev, error);
    if (b)
        EXPECT_NE(b->description().find("devices from udev"), std::string::npos);
    else
        EXPECT_NE(error.find("cannot follow devices through udev"), std::string::npos) << error;
    ::unsetenv("XDG_CONFIG_HOME");
}
