// The udev device registry over a mock sysfs: which devices become bridges, the entries
// and identities the scan reads from them, hot-plug through the monitor, and the rules file.
// Runs under umockdev's preload (tests/udev.cmake sets it).
#include <umockdev.h>

#include <filesystem>
#include <map>
#include <set>
#include <mutex>
#include <thread>

#include "diag.h"
#include "harness.h"
#include "sim/conf.h"
#include "udev_registry.h"

namespace {

using namespace std::chrono_literals;
using ov::registry_entry;
using ov::registry_value;
using ovtest::eventually;
using pairs = std::vector<std::pair<std::string, std::string>>;

const std::vector<ov::bridge_match> table = {{false, 0x1E91, 0x0A12}, {true, 0x00D04B, 0x000A12}};

// Everything the registry tells, in order, with services named by their sysfs name.
class udev_registry_test : public ::testing::Test, public ov::device_binder {
protected:
    UMockdevTestbed* bed = nullptr;
    std::unique_ptr<ov::udev_registry> reg;
    std::thread loop;
    std::mutex jm;
    std::vector<std::string> journal, warnings;
    std::map<uint32_t, std::string> names;  // service -> sysfs name, as attach said

    void SetUp() override
    {
        bed = umockdev_testbed_new();
        // Asked with a testbed in place: without one the preload passes sysfs through.
        ASSERT_TRUE(umockdev_in_mock_environment()) << "needs LD_PRELOAD=libumockdev-preload.so.0";
        ov::set_diag_sink([this](ov::diag_level level, std::string_view text) {
            if (level == ov::diag_level::warning)
                log(std::string(text), warnings);
        });
    }
    void TearDown() override
    {
        if (loop.joinable()) {
            reg->stop_run_loop();
            loop.join();
        }
        reg.reset();
        ov::set_diag_sink({});
        if (bed)
            g_object_unref(bed);
    }

    void log(const std::string& line, std::vector<std::string>& to)
    {
        std::lock_guard<std::mutex> lock(jm);
        to.push_back(line);
    }
    std::vector<std::string> told(const std::vector<std::string>& of)
    {
        std::lock_guard<std::mutex> lock(jm);
        return of;
    }
    // Waits for n lines of the journal, then takes them all.
    std::vector<std::string> take(size_t n)
    {
        EXPECT_TRUE(eventually([&] { return told(journal).size() >= n; }, 10s))
            << testing::PrintToString(told(journal));
        std::lock_guard<std::mutex> lock(jm);
        return std::exchange(journal, {});
    }
    std::string name_of(uint32_t service)
    {
        std::lock_guard<std::mutex> lock(jm);
        return names[service];
    }
    registry_entry service_of(const std::string& sysname)  // the newest
    {
        std::lock_guard<std::mutex> lock(jm);
        const auto it = std::find_if(names.rbegin(), names.rend(), [&](const auto& n) { return n.second == sysname; });
        return it == names.rend() ? 0 : it->first;
    }

    int attach(uint32_t service, const std::string& syspath, const std::string& devnode) override
    {
        // Arriving later: the entries are there already and the registry's lock is free.
        if (reg) {
            EXPECT_EQ(reg->name(service), ov::bridge_service_class);
        }
        const std::string sysname = syspath.substr(syspath.rfind('/') + 1);
        {
            std::lock_guard<std::mutex> lock(jm);
            names[service] = sysname;
        }
        log("attach " + sysname + (devnode.empty() ? "" : " " + devnode), journal);
        return 0;
    }
    void detach(uint32_t service) override { log("detach " + name_of(service), journal); }

    void open()
    {
        std::string error;
        reg = ov::udev_registry::open(table, this, error);
        ASSERT_TRUE(reg) << error;
    }
    // The engine's part: first matches and terminations into the journal.
    void watch()
    {
        drain(reg->add_matching_notification(ov::bridge_service_class, [this](uint32_t it) { drain(it); }));
    }
    void drain(uint32_t iterator)
    {
        while (const registry_entry s = reg->iterator_next(iterator)) {
            log("added " + name_of(s), journal);
            EXPECT_EQ(0, reg->add_interest_notification(s, [this](registry_entry gone, uint32_t type, void* arg) {
                const bool plain = type == ov::msg_service_terminated && !arg;
                log((plain ? "terminated " : "strange message ") + name_of(gone), journal);
            }));
        }
    }
    void start_loop()
    {
        loop = std::thread([this] { reg->run_loop(); });
    }
    // A task through the loop: everything sent before it has been handled once it shows.
    void settle()
    {
        reg->post([this] { log("posted", journal); });
        EXPECT_EQ(take(1).back(), "posted");
    }

    // ---- the mock sysfs -------------------------------------------------------------------
    std::string add(const char* subsystem, const std::string& name, const std::string& parent, const pairs& attributes,
                    const pairs& properties)
    {
        const auto list = [](const pairs& p) {
            std::vector<gchar*> out;
            for (const auto& [k, v] : p) {
                out.push_back(const_cast<gchar*>(k.c_str()));
                out.push_back(const_cast<gchar*>(v.c_str()));
            }
            out.push_back(nullptr);
            return out;
        };
        auto a = list(attributes), p = list(properties);
        gchar* path = umockdev_testbed_add_devicev(bed, subsystem, name.c_str(),
                                                   parent.empty() ? nullptr : parent.c_str(), a.data(), p.data());
        std::string out = path ? path : "";
        g_free(path);
        return out;
    }
    // A USB device with its interface; the bus number is the one its name starts with.
    std::string usb_device(const std::string& name, pairs attributes)
    {
        attributes.emplace_back("busnum", name.substr(0, name.find('-')));
        const std::string path = add("usb", name, "", attributes, {{"DEVTYPE", "usb_device"}});
        add("usb", name + ":1.0", path, {}, {{"DEVTYPE", "usb_interface"}});
        return path;
    }
    std::string usb_bridge(const std::string& name, const std::string& serial = "")
    {
        pairs a = {{"idVendor", "1e91"}, {"idProduct", "0a12"}};
        if (!serial.empty())
            a.emplace_back("serial", serial);
        return usb_device(name, a);
    }
    std::string firewire_node(const std::string& name, const std::string& guid, const std::string& model = "0x000a12")
    {
        return add("firewire", name, "", {{"vendor", "0x00d04b"}, {"model", model}, {"guid", guid}}, {});
    }
    // The disk a bridge presents, below its interface (or unit).
    void present_disk(const std::string& parent, const std::string& disk)
    {
        add("block", disk, parent, {{"size", "1000"}}, {{"DEVTYPE", "disk"}});
    }
    void unplug(const std::string& path)
    {
        umockdev_testbed_uevent(bed, path.c_str(), "remove");
        umockdev_testbed_remove_device(bed, path.c_str());
        // The testbed leaves its children's bus links behind, and they would stop the same
        // device from coming back.
        gchar* sys = umockdev_testbed_get_sys_dir(bed);
        std::error_code ec;
        for (const auto& link : std::filesystem::recursive_directory_iterator(std::string(sys) + "/bus", ec))
            if (link.is_symlink(ec) && !std::filesystem::exists(link.path(), ec))
                std::filesystem::remove(link.path(), ec);
        g_free(sys);
    }

    // ---- what the engine reads ------------------------------------------------------------
    // The bus entry's identity, four parents above the service, as the scan reads it.
    std::string identity(registry_entry service)
    {
        registry_entry bus = service;
        for (int i = 0; i < 4; ++i)
            bus = reg->parent(bus);
        std::string out = reg->name(bus).find("FireWire") != std::string::npos ? "FireWire" : "USB";
        for (const char* key : {"idVendor", "idProduct", "locationID", "USB Serial Number", "GUID"}) {
            const registry_value v = reg->property(bus, key);
            if (v.type == registry_value::kind::number)
                out += std::string(" ") + key + "=" + ov::sim::hex(static_cast<uint64_t>(v.number));
            else if (v.type == registry_value::kind::text)
                out += std::string(" ") + key + "=" + v.text;
        }
        return out;
    }
    // The presented device's name, three first children below the service.
    std::string volume(registry_entry service)
    {
        for (int i = 0; i < 3 && service; ++i)
            service = reg->first_child(service);
        return service && reg->first_child(service) == 0 ? reg->name(service) : "<no chain>";
    }
};

TEST_F(udev_registry_test, start_up_finds_the_bridges_with_their_identities_and_disks)
{
    present_disk(usb_bridge("2-1.4", "SN-ONE") + "/2-1.4:1.0", "sdb");
    add("block", "sdb1", "/sys/devices/2-1.4/2-1.4:1.0/sdb", {}, {{"DEVTYPE", "partition"}});
    usb_bridge("3-2", "SN-TWO");
    usb_device("3-1", {{"idVendor", "1e91"}, {"idProduct", "0b00"}});  // the vendor's, not a bridge
    add("firewire", "fw0", "", {{"vendor", "0x00d04b"}, {"is_local", "1"}}, {});
    const std::string fw = firewire_node("fw1", "0x80004601a2b3c4d5");
    present_disk(add("firewire", "fw1.0", fw, {{"vendor", "0x00d04b"}, {"model", "0x000a12"}}, {}), "sdc");
    firewire_node("fw2", "0x1", "0x000b00");
    open();
    watch();

    EXPECT_EQ(take(6), (std::vector<std::string>{"attach 2-1.4", "attach 3-2", "attach fw1", "added 2-1.4",
                                                 "added 3-2", "added fw1"}));
    const struct {
        const char *sysname, *identity, *volume;
    } expected[] = {
        {"2-1.4", "USB idVendor=0x1E91 idProduct=0xA12 locationID=0x2140000 USB Serial Number=SN-ONE", "sdb"},
        {"3-2", "USB idVendor=0x1E91 idProduct=0xA12 locationID=0x3200000 USB Serial Number=SN-TWO",
         ov::udev_volume_placeholder},
        {"fw1", "FireWire GUID=0x80004601A2B3C4D5", "sdc"},
    };
    for (const auto& row : expected) {
        SCOPED_TRACE(row.sysname);
        EXPECT_EQ(identity(service_of(row.sysname)), row.identity);
        EXPECT_EQ(volume(service_of(row.sysname)), row.volume);
    }
    EXPECT_EQ(told(warnings), std::vector<std::string>{});
}

TEST(udev_location, keeps_bus_and_ports)
{
    constexpr uint32_t none = 0, folded = 1;
    const struct {
        uint32_t bus;
        const char* sysname;
        uint32_t location;
    } rows[] = {
        {2, "2-1.4", 0x02140000}, {1, "1-3", 0x01300000},  {4, "4-1.2.3.4.5.6", 0x04123456},
        {7, "7-15.15", 0x07FF0000}, {255, "255-1", 0xFF100000}, {5, "5-1.2.3.4.5.6.7", folded},
        {6, "6-16", folded},      {6, "6-1.16", folded}, {2, "usb2", none},
        {0, "0-1", none},         {256, "256-1", none},  {2, "2-1.0", none},
        {2, "2-1..4", none},      {2, "2-", none},       {2, "2-1.4:1.0", none},
        {2, "x-1", none},
    };
    std::set<uint32_t> seen;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sysname);
        const auto id = ov::usb_location_id(row.bus, row.sysname);
        if (row.location != folded) {
            EXPECT_EQ(id, row.location == none ? std::nullopt : std::optional<uint32_t>(row.location));
            continue;
        }
        // The bus kept, bits 20-23 clear (as no fitting path has them), something below, apart.
        ASSERT_TRUE(id);
        EXPECT_EQ(*id >> 20, row.bus << 4);
        EXPECT_NE(*id & 0xFFFFF, 0u);
        EXPECT_TRUE(seen.insert(*id & 0xFFFFF).second);
    }
}

TEST_F(udev_registry_test, missing_and_malformed_attributes_are_told_once_and_match_nothing)
{
    usb_device("2-1", {{"idVendor", "1e91"}, {"idProduct", "0a12"}});  // no serial: a bridge all the same, said
    const struct {
        const char* name;
        pairs attributes;
        const char* fault;  // the attribute the one warning names; null: passed over in silence
    } rows[] = {
        {"2-2", {{"idVendor", "zz12"}, {"idProduct", "0a12"}}, "idVendor"},
        {"2-3", {{"idVendor", "11e91"}, {"idProduct", "0a12"}}, "idVendor"},
        {"2-4", {{"idVendor", "1e91"}}, "idProduct"},
        {"2-5", {{"idVendor", "1e91"}, {"idProduct", "0x"}}, "idProduct"},
        {"2-6", {{"idVendor", "046d"}, {"idProduct", "junk"}}, nullptr},
        {"2-7", {}, "idVendor"},
    };
    std::vector<std::string> faults = {"2-1: serial is missing; the bridge is told apart by its port alone",
                                       "2-8: busnum", "bridge: the port path", "fw1: guid", "fw2: model"};
    for (const auto& row : rows) {
        usb_device(row.name, row.attributes);
        if (row.fault)
            faults.push_back(std::string(row.name) + ": " + row.fault);
    }
    const pairs ids = {{"idVendor", "1e91"}, {"idProduct", "0a12"}};
    add("usb", "2-8", "", {ids[0], ids[1], {"busnum", "two"}}, {{"DEVTYPE", "usb_device"}});
    add("usb", "bridge", "", {ids[0], ids[1], {"busnum", "2"}}, {{"DEVTYPE", "usb_device"}});
    firewire_node("fw1", "0xnothex");
    add("firewire", "fw2", "", {{"vendor", "0x00d04b"}, {"guid", "0x2"}}, {});
    open();
    watch();

    EXPECT_EQ(take(2), (std::vector<std::string>{"attach 2-1", "added 2-1"}));
    EXPECT_EQ(identity(service_of("2-1")), "USB idVendor=0x1E91 idProduct=0xA12 locationID=0x2100000");
    const auto check_warnings = [&] {
        const auto said = told(warnings);
        EXPECT_EQ(said.size(), faults.size()) << testing::PrintToString(said);
        for (const auto& fault : faults)
            EXPECT_EQ(1, std::count_if(said.begin(), said.end(), [&](const std::string& w) {
                          return w.find("/sys/devices/" + fault) != std::string::npos;
                      })) << fault;
    };
    check_warnings();
    // Told once: the same devices announced again say nothing more.
    start_loop();
    for (const char* name : {"2-2", "2-4", "fw1"})
        umockdev_testbed_uevent(bed, ("/sys/devices/" + std::string(name)).c_str(), "add");
    settle();
    check_warnings();
}

TEST_F(udev_registry_test, hot_plug_arrival_removal_and_a_warm_boots_return)
{
    usb_bridge("2-1.5", "SN-TWO");
    open();
    watch();
    start_loop();
    EXPECT_EQ(take(2).size(), 2u);
    usb_device("4-1", {{"idVendor", "046d"}, {"idProduct", "c52b"}});
    const std::string path = add("usb", "4-2", "", {{"idVendor", "1e91"}, {"idProduct", "0a12"}, {"busnum", "4"}},
                                 {{"DEVTYPE", "usb_device"}, {"DEVNAME", "/dev/bus/usb/004/007"}});
    EXPECT_EQ(take(2), (std::vector<std::string>{"attach 4-2 /dev/bus/usb/004/007", "added 4-2"}));
    const registry_entry before = service_of("4-2");
    const std::string who = identity(before);
    EXPECT_EQ(who, "USB idVendor=0x1E91 idProduct=0xA12 locationID=0x4200000");
    // A change, or another add of a known bridge, announces nothing.
    umockdev_testbed_uevent(bed, path.c_str(), "change");
    umockdev_testbed_uevent(bed, path.c_str(), "add");
    settle();
    // Its disk shows a moment after the bridge; the name follows.
    EXPECT_EQ(volume(before), ov::udev_volume_placeholder);
    present_disk(add("usb", "4-2:1.0", path, {}, {{"DEVTYPE", "usb_interface"}}), "sde");
    EXPECT_EQ(volume(before), "sde");

    unplug(path);
    EXPECT_EQ(take(2), (std::vector<std::string>{"terminated 4-2", "detach 4-2"}));
    EXPECT_EQ(reg->name(before), "");
    EXPECT_EQ(reg->parent(before), 0u);
    EXPECT_NE(reg->add_interest_notification(before, [](registry_entry, uint32_t, void*) {}), 0);
    EXPECT_EQ(identity(service_of("2-1.5")),
              "USB idVendor=0x1E91 idProduct=0xA12 locationID=0x2150000 USB Serial Number=SN-TWO");
    // Back from its restart: a new handle, the same identity.
    add("usb", "4-2", "", {{"idVendor", "1e91"}, {"idProduct", "0a12"}, {"busnum", "4"}}, {{"DEVTYPE", "usb_device"}});
    EXPECT_EQ(take(2), (std::vector<std::string>{"attach 4-2", "added 4-2"}));
    EXPECT_NE(service_of("4-2"), before);
    EXPECT_EQ(identity(service_of("4-2")), who);
    // The removal of a device that is no bridge is nothing.
    unplug("/sys/devices/4-1");
    settle();
}

TEST_F(udev_registry_test, run_loop_keeps_order_survives_a_throwing_task_and_stops)
{
    open();
    reg->stop_run_loop();
    reg->run_loop();  // a stop before the loop ends it at once
    reg->post([this] { log("first", journal); });
    reg->post([] { throw std::runtime_error("boom"); });
    reg->post([this] {
        log("third", journal);
        reg->stop_run_loop();
    });
    reg->post([this] { log("after the stop", journal); });
    reg->run_loop();
    EXPECT_EQ(told(journal), (std::vector<std::string>{"first", "third"}));
    ASSERT_EQ(told(warnings).size(), 1u);
    EXPECT_NE(told(warnings)[0].find("boom"), std::string::npos);
    start_loop();
    EXPECT_EQ(take(3).back(), "after the stop");
}

// The rules are made from a library's table, once per device and ahead of nothing else.
TEST(udev_rules, one_rule_per_device_of_the_table)
{
    const std::string rules = ov::udev_rules_for({table[0], table[1], table[0]});
    EXPECT_EQ(rules.substr(rules.find("\nSUBSYSTEM") + 1),
              "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"1e91\", "
              "ATTR{idProduct}==\"0a12\", TAG+=\"uaccess\"\n"
              "SUBSYSTEM==\"scsi_generic\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"1e91\", "
              "ATTRS{idProduct}==\"0a12\", TAG+=\"uaccess\"\n"
              "SUBSYSTEM==\"firewire\", ATTR{vendor}==\"0x00d04b\", ATTR{model}==\"0x000a12\", "
              "TAG+=\"uaccess\"\n");
}

}  // namespace
