// Finding the bridges: identities from the device registry, duplicates, the display
// order, connections, and tearing the list down again with the monitors stopped.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

using map_t = std::vector<std::pair<uint64_t, int>>;

class Scan : public ovtest::engine_fixture {
protected:
    std::vector<uint32_t> services_of_chips() const
    {
        std::vector<uint32_t> out;
        for (const auto& c : ov::j.chips)
            out.push_back(c.service);
        return out;
    }

    std::vector<uint32_t> services_of(const std::string& name) const
    {
        std::vector<uint32_t> out;
        for (const auto& c : lib.calls())
            if (c.name == name)
                out.push_back(c.service);
        return out;
    }

    // A bridge service under a chain of `levels` entries ending at a bus named bus_name.
    ov::registry_entry short_chain(int levels, const std::string& bus_name)
    {
        ov::registry_entry e = reg.add_entry(bus_name);
        for (int i = 1; i < levels; ++i)
            e = reg.add_entry("level", e);
        return reg.add_entry(ov::bridge_service_class, e);
    }
};

TEST_F(Scan, SameBridgeTwiceGivesOneChipFromTheFirstHandle)
{
    const auto first = reg.add_usb_bridge(0x1234, 0x5678, 0x14100000, "SN-FIRST");
    const auto again = reg.add_usb_bridge(0x1234, 0x5678, 0x14100000, "SN-OTHER");
    lib.devices = {first, again};
    ASSERT_TRUE(ov::j.scandevices());

    ASSERT_EQ(ov::j.chips.size(), 1u);
    const auto& chip = ov::j.chips[0];
    EXPECT_EQ(chip.service, first);  // the library's handle, not the bus entry
    EXPECT_EQ(chip.identity.usb_serial, "SN-FIRST");
    EXPECT_FALSE(chip.identity.is_firewire);
    EXPECT_EQ(chip.identity.vendor_id, 0x1234u);
    EXPECT_EQ(chip.identity.product_id, 0x5678u);
    EXPECT_EQ(chip.identity.location_id, 0x14100000);
    EXPECT_EQ(chip.identity.order_key, 0x14100000u);
    EXPECT_TRUE(chip.connection_open);
    EXPECT_FALSE(chip.disks[0].present);
    EXPECT_EQ(services_of("openConnection"), std::vector<uint32_t>{first});
    EXPECT_EQ(ov::j.controller_map, (map_t{{0x14100000u, 0}}));
}

TEST_F(Scan, SameModelAtTwoLocationsIsTwoChips)
{
    const auto a = reg.add_usb_bridge(0x1234, 0x5678, 0x14100000, "SAME");
    const auto b = reg.add_usb_bridge(0x1234, 0x5678, 0x14200000, "SAME");
    lib.devices = {a, b};
    ASSERT_TRUE(ov::j.scandevices());
    EXPECT_EQ(services_of_chips(), (std::vector<uint32_t>{a, b}));
    EXPECT_EQ(services_of("openConnection"), (std::vector<uint32_t>{a, b}));
}

TEST_F(Scan, MapSortsByUnsignedKeyWithLocationsSignExtended)
{
    const auto high = reg.add_usb_bridge(0x1234, 0x5678, static_cast<int32_t>(0x80000000u), "HIGH");
    const auto low = reg.add_usb_bridge(0x1234, 0x5678, 0x14100000, "LOW");
    const auto fw = reg.add_firewire_bridge(0x0000000100000000LL);
    const auto fw_top = reg.add_firewire_bridge(static_cast<int64_t>(0xFFFFFFFFFFFFFFF0ULL));
    const auto mid = reg.add_usb_bridge(0x1234, 0x5678, 0x7FFFFFFF, "MID");
    // A registry may hand the same 32-bit pattern over as a positive 64-bit number.
    const auto wide = reg.add_usb_bridge(0x1234, 0x5678, 0, "WIDE");
    reg.set_property(reg.parent(reg.parent(reg.parent(reg.parent(wide)))), "locationID",
                     ov::registry_value::make_number(0xFA000000LL));
    lib.devices = {high, low, fw, fw_top, mid, wide};
    ASSERT_TRUE(ov::j.scandevices());
    ASSERT_EQ(ov::j.chips.size(), 6u);

    const auto& h = ov::j.chips[0].identity;
    EXPECT_EQ(h.location_id, -2147483648LL);
    EXPECT_EQ(h.order_key, 0xFFFFFFFF80000000ULL);
    EXPECT_EQ(ov::j.chips[3].identity.guid, 0xFFFFFFFFFFFFFFF0ULL);
    EXPECT_EQ(ov::j.controller_map, (map_t{{0x14100000u, 1},
                                           {0x7FFFFFFFu, 4},
                                           {0x0000000100000000ULL, 2},
                                           {0xFFFFFFFF80000000ULL, 0},
                                           {0xFFFFFFFFFA000000ULL, 5},
                                           {0xFFFFFFFFFFFFFFF0ULL, 3}}));
    EXPECT_EQ(ov::j.chips[5].identity.location_id, static_cast<int32_t>(0xFA000000u));
}

TEST_F(Scan, EqualKeysKeepListOrder)
{
    // A FireWire GUID and a USB location with the same number, and two USB bridges of
    // different makers at the same location: equal keys, different controllers.
    const auto fw = reg.add_firewire_bridge(0x500);
    const auto small = reg.add_usb_bridge(1, 1, 0x100, "S");
    const auto usb = reg.add_usb_bridge(1, 1, 0x500, "U");
    const auto other_maker = reg.add_usb_bridge(2, 1, 0x500, "V");
    lib.devices = {fw, small, usb, other_maker};
    ASSERT_TRUE(ov::j.scandevices());
    ASSERT_EQ(ov::j.chips.size(), 4u);
    EXPECT_EQ(ov::j.controller_map, (map_t{{0x100, 1}, {0x500, 0}, {0x500, 2}, {0x500, 3}}));
}

TEST_F(Scan, FireWireIsFoundByTheCaseSensitiveBusName)
{
    const auto inside = reg.add_firewire_bridge(0x0030E0F0000000AALL, "RAID Volume", "IOFireWireDevice");
    const auto exact = reg.add_firewire_bridge(0x0030E0F0000000BBLL, "RAID Volume", "FireWire");
    const auto lower = reg.add_firewire_bridge(0x0030E0F0000000CCLL, "RAID Volume", "IOfirewireDevice");
    const auto upper = reg.add_firewire_bridge(0x0030E0F0000000DDLL, "RAID Volume", "FIREWIRE");
    lib.devices = {inside, exact, lower, upper};
    ASSERT_TRUE(ov::j.scandevices());

    // The two wrongly cased names are taken as USB with no USB properties: both become
    // the same all-zero USB identity, so the second is dropped as a duplicate.
    ASSERT_EQ(services_of_chips(), (std::vector<uint32_t>{inside, exact, lower}));
    EXPECT_TRUE(ov::j.chips[0].identity.is_firewire);
    EXPECT_EQ(ov::j.chips[0].identity.guid, 0x0030E0F0000000AAULL);
    EXPECT_EQ(ov::j.chips[0].identity.order_key, 0x0030E0F0000000AAULL);
    EXPECT_EQ(ov::j.chips[0].identity.vendor_id, 0u);
    EXPECT_EQ(ov::j.chips[0].identity.location_id, 0);
    EXPECT_TRUE(ov::j.chips[1].identity.is_firewire);
    const auto& usb = ov::j.chips[2].identity;
    EXPECT_FALSE(usb.is_firewire);
    EXPECT_EQ(usb.guid, 0u);
    EXPECT_EQ(usb.order_key, 0u);
}

TEST_F(Scan, GuidWithItsTopBitSet)
{
    const auto fw = reg.add_firewire_bridge(static_cast<int64_t>(0x8000000000000001ULL));
    lib.devices = {fw};
    ASSERT_TRUE(ov::j.scandevices());
    ASSERT_EQ(ov::j.chips.size(), 1u);
    EXPECT_EQ(ov::j.chips[0].identity.guid, 0x8000000000000001ULL);
    EXPECT_EQ(ov::j.chips[0].identity.order_key, 0x8000000000000001ULL);
    EXPECT_EQ(ov::j.chips[0].identity.usb_serial, "");
}

TEST_F(Scan, EmptyListIsASuccessWithNothingOpened)
{
    EXPECT_TRUE(ov::j.scandevices());
    EXPECT_TRUE(ov::j.chips.empty());
    EXPECT_TRUE(ov::j.controller_map.empty());
    EXPECT_EQ(lib.names(), std::vector<std::string>{"getDeviceList"});
}

TEST_F(Scan, FailedListLeavesNoChips)
{
    const auto a = reg.add_usb_bridge(1, 2, 0x100, "A");
    const auto b = reg.add_firewire_bridge(0x77);
    lib.devices = {a, b};
    ASSERT_TRUE(ov::j.scandevices());
    const auto old_map = ov::j.controller_map;
    lib.clear_calls();

    lib.device_list_result = -1;
    EXPECT_FALSE(ov::j.scandevices());
    EXPECT_TRUE(ov::j.chips.empty());
    // The old chips were closed before the list was asked for; nothing was opened.
    EXPECT_EQ(lib.names(), (std::vector<std::string>{"closeConnection", "closeConnection", "getDeviceList"}));
    EXPECT_EQ(services_of("closeConnection"), (std::vector<uint32_t>{a, b}));
    EXPECT_EQ(ov::j.controller_map, old_map);
}

TEST_F(Scan, RescanClosesTheOldConnectionsFirst)
{
    const auto a = reg.add_usb_bridge(1, 2, 0x100, "A");
    lib.devices = {a};
    ASSERT_TRUE(ov::j.scandevices());
    ASSERT_TRUE(ov::j.scandevices());
    EXPECT_EQ(lib.names(), (std::vector<std::string>{"getDeviceList", "openConnection", "closeConnection",
                                                     "getDeviceList", "openConnection"}));
    EXPECT_EQ(ov::j.chips.size(), 1u);
}

TEST_F(Scan, MissingPropertiesGiveDefaultsAndTheScanGoesOn)
{
    // A USB bus entry with only a product id and a location.
    const auto bus = reg.add_entry("IOUSBHostDevice");
    reg.set_property(bus, "idProduct", ov::registry_value::make_number(0x5678));
    reg.set_property(bus, "locationID", ov::registry_value::make_number(0x14300000));
    auto e = reg.add_entry("a", bus);
    e = reg.add_entry("b", e);
    e = reg.add_entry("c", e);
    const auto sparse = reg.add_entry(ov::bridge_service_class, e);
    // A FireWire bus without a GUID, and a chain two levels short.
    const auto no_guid = short_chain(4, "IOFireWireDevice");
    const auto stub = short_chain(2, "IOFireWireDevice");
    const auto normal = reg.add_usb_bridge(0x1234, 0x5678, 0x14100000, "SN");
    lib.devices = {sparse, no_guid, stub, normal};
    ASSERT_TRUE(ov::j.scandevices());
    ASSERT_EQ(ov::j.chips.size(), 4u);

    const auto& s = ov::j.chips[0].identity;
    EXPECT_FALSE(s.is_firewire);
    EXPECT_EQ(s.vendor_id, 0u);
    EXPECT_EQ(s.product_id, 0x5678u);
    EXPECT_EQ(s.location_id, 0x14300000);
    EXPECT_EQ(s.usb_serial, "");

    EXPECT_TRUE(ov::j.chips[1].identity.is_firewire);
    EXPECT_EQ(ov::j.chips[1].identity.guid, 0u);

    // Climbing past the top of the chain finds no bus: a USB identity of zeros.
    const auto& t = ov::j.chips[2].identity;
    EXPECT_FALSE(t.is_firewire);
    EXPECT_EQ(t.vendor_id, 0u);
    EXPECT_EQ(t.location_id, 0);
    EXPECT_EQ(ov::j.chips[2].service, stub);

    EXPECT_EQ(ov::j.chips[3].identity.usb_serial, "SN");
    EXPECT_EQ(services_of("openConnection"), (std::vector<uint32_t>{sparse, no_guid, stub, normal}));
}

TEST_F(Scan, LongSerialIsCutAndForeignTextDropped)
{
    const std::string long_serial(120, 'Q');
    const auto a = reg.add_usb_bridge(1, 2, 0x100, long_serial);
    const auto b = reg.add_usb_bridge(1, 2, 0x200, "N\xC3\xBCmmer");
    lib.devices = {a, b};
    ASSERT_TRUE(ov::j.scandevices());
    ASSERT_EQ(ov::j.chips.size(), 2u);
    EXPECT_EQ(ov::j.chips[0].identity.usb_serial, std::string(99, 'Q'));
    EXPECT_EQ(ov::j.chips[1].identity.usb_serial, "");
}

TEST_F(Scan, ABridgeThatCannotBeOpenedIsLeftOutWithANotice)
{
    // It may have been unplugged between the list and the open: the others stay, and
    // the program goes on.
    ov::set_localizer([](const std::string& key) {
        return key == "bridge_left_out" ? std::string("A controller was left out") : key;
    });
    const auto late = reg.add_usb_bridge(1, 2, 0x300, "LATE");
    const auto early = reg.add_usb_bridge(1, 2, 0x100, "EARLY");
    const auto fw = reg.add_firewire_bridge(0x42);
    lib.devices = {late, early, fw};
    lib.open_results[late] = -3;
    lib.open_results[fw] = -1;
    EXPECT_TRUE(ov::j.scandevices());

    // List order, not map order.
    EXPECT_EQ(services_of("openConnection"), (std::vector<uint32_t>{late, early, fw}));
    EXPECT_EQ(window.requests(), std::vector<std::string>{"notice A controller was left out"});
    ASSERT_EQ(ov::j.chips.size(), 1u);
    EXPECT_EQ(ov::j.chips[0].service, early);
    EXPECT_TRUE(ov::j.chips[0].connection_open);
    ASSERT_EQ(ov::j.controller_map.size(), 1u);
    EXPECT_EQ(ov::j.controller_map[0].second, 0);
}

// ---- flushing --------------------------------------------------------------------------

TEST_F(Scan, FlushOfAnEmptyListDoesNothing)
{
    EXPECT_TRUE(ov::j.flush_chips());
    EXPECT_TRUE(lib.calls().empty());
    EXPECT_TRUE(window.requests().empty());
}

TEST_F(Scan, FlushWithoutCurrentClosesOnlyOpenConnections)
{
    const auto a = reg.add_usb_bridge(1, 2, 0x100, "A");
    const auto b = reg.add_usb_bridge(1, 2, 0x200, "B");
    const auto c = reg.add_firewire_bridge(0x99);
    lib.devices = {a, b, c};
    ASSERT_TRUE(ov::j.scandevices());
    ov::j.chips[1].connection_open = false;
    ov::j.current.location_id = 0x999;  // a controller that is not attached
    const auto map = ov::j.controller_map;
    lib.clear_calls();
    window.clear();

    EXPECT_TRUE(ov::j.flush_chips());
    EXPECT_EQ(lib.names(), (std::vector<std::string>{"closeConnection", "closeConnection"}));
    EXPECT_EQ(services_of("closeConnection"), (std::vector<uint32_t>{a, c}));
    EXPECT_TRUE(window.requests().empty()) << "nothing was stopped";
    EXPECT_TRUE(ov::j.chips.empty());
    EXPECT_EQ(ov::j.controller_map, map);
}

TEST_F(Scan, FlushWaitsForTheCurrentChipsMonitors)
{
    const auto other = reg.add_usb_bridge(1, 2, 0x100, "OTHER");
    const auto watched = reg.add_usb_bridge(1, 2, 0x200, "WATCHED");
    lib.devices = {other, watched};
    ASSERT_TRUE(ov::j.scandevices());
    ov::j.current = ov::j.chips[1].identity;

    // A healthy mirror half and an unfinished rebuild keep both monitors going.
    ov::ovchip& chip = ov::j.chips[1];
    chip.disks[0].present = true;
    chip.disks[0].raid_mode = ov::mode_raid1;
    lib.rebuild_statuses.push_back(ovtest::scripted_library::status(1000000, 10));

    // Both threads must be gone before any connection closes. Installed before the
    // threads start; only the closing thread touches the vector.
    std::vector<bool> monitors_alive_at_close;
    lib.on_call = [&](const ovtest::call& c) {
        if (c.name == "closeConnection")
            for (const auto& ch : ov::j.chips)
                monitors_alive_at_close.push_back(ch.raid1_timer_alive || ch.poller_alive);
    };
    chip.start_raid1_timer();
    chip.start_polling();
    ASSERT_TRUE(ovtest::eventually([&] { return lib.count("ovGetRegister") >= 4; }));
    ASSERT_TRUE(ovtest::eventually([&] { return lib.count("ovGetRebuildStatus") >= 2; }));
    ASSERT_TRUE(chip.raid1_timer_alive);
    ASSERT_TRUE(chip.poller_alive);

    window.clear();
    EXPECT_TRUE(ov::j.flush_chips());
    lib.on_call = nullptr;

    EXPECT_EQ(monitors_alive_at_close, std::vector<bool>(4, false));
    EXPECT_TRUE(ov::j.chips.empty());
    EXPECT_TRUE(window.contains("stopprogressbar"));
    const auto names = lib.names();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], "closeConnection");
    EXPECT_EQ(names.back(), "closeConnection");
}

// ---- registry operations ------------------------------------------------------------------

TEST_F(Scan, RaidNameIsThreeFirstChildrenDown)
{
    const auto a = reg.add_usb_bridge(1, 2, 0x100, "A", "OV RAID Mirror Media");
    ov::ovchip chip;
    chip.service = a;
    EXPECT_EQ(chip.get_raid_name(), "OV RAID Mirror Media");

    // Only first children are followed.
    const auto service = reg.add_entry(ov::bridge_service_class);
    const auto first = reg.add_entry("first", service);
    const auto second = reg.add_entry("second", service);
    reg.add_entry("Wrong Volume", reg.add_entry("x", second));
    reg.add_entry("Right Volume", reg.add_entry("y", first));
    chip.service = service;
    EXPECT_EQ(chip.get_raid_name(), "Right Volume");

    // A chain that ends early names nothing.
    const auto shallow = reg.add_entry(ov::bridge_service_class);
    reg.add_entry("only two", reg.add_entry("one", shallow));
    chip.service = shallow;
    EXPECT_EQ(chip.get_raid_name(), "");
    chip.service = reg.add_entry(ov::bridge_service_class);
    EXPECT_EQ(chip.get_raid_name(), "");
}

TEST_F(Scan, WarmBootActsOnTheCurrentChip)
{
    const auto a = reg.add_usb_bridge(1, 2, 0x100, "A");
    const auto b = reg.add_usb_bridge(1, 2, 0x200, "B");
    lib.devices = {a, b};
    ASSERT_TRUE(ov::j.scandevices());
    lib.clear_calls();

    EXPECT_FALSE(ov::j.warm_boot()) << "no controller selected";
    EXPECT_TRUE(lib.calls().empty());
    EXPECT_FALSE(ov::j.warm_boot_pending);

    ov::j.current = ov::j.chips[1].identity;
    EXPECT_TRUE(ov::j.warm_boot());
    EXPECT_EQ(services_of("ovWarmBoot"), std::vector<uint32_t>{b});
    EXPECT_TRUE(ov::j.warm_boot_pending);
    EXPECT_TRUE(ov::j.chips[0].connection_open);
    EXPECT_FALSE(ov::j.chips[1].connection_open);
}

TEST_F(Scan, IndexedOperationsRefuseABadIndex)
{
    EXPECT_FALSE(ov::j.build_raid(0, ov::mode_raid1));
    EXPECT_FALSE(ov::j.clear_raid(0));
    const auto a = reg.add_usb_bridge(1, 2, 0x100, "A");
    lib.devices = {a};
    ASSERT_TRUE(ov::j.scandevices());
    lib.clear_calls();
    window.clear();

    EXPECT_FALSE(ov::j.build_raid(1, ov::mode_raid1));
    EXPECT_FALSE(ov::j.build_raid(-1, ov::mode_raid0));
    EXPECT_FALSE(ov::j.clear_raid(1));
    EXPECT_FALSE(ov::j.clear_raid(-1));
    EXPECT_TRUE(lib.calls().empty());
    EXPECT_TRUE(window.requests().empty());
}

}  // namespace
