// The device outline: what build_tree and read_raid put in it, and how the outline
// questions answer on it.
#include <gtest/gtest.h>

#include <functional>

#include "harness.h"

namespace ovtest {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class tree_test : public engine_fixture {
protected:
    // A chip as a scan and a record reading would leave it.
    void add_chip(uint32_t service, const ov::controller_t& id, const std::string& model0,
                  const std::string& model1, bool configured = false)
    {
        ov::ovchip chip;
        chip.service = service;
        chip.identity = id;
        chip.raid_configured = configured;
        chip.disks[0].present = !model0.empty();
        chip.disks[0].model = model0;
        chip.disks[1].present = !model1.empty();
        chip.disks[1].model = model1;
        ov::j.chips.push_back(chip);
        ov::j.setup_controller_map();
    }

    std::string built_outline()
    {
        ov::j.build_tree();
        return outline_text(ov::j.tree.getdata());
    }
};

TEST_F(tree_test, no_chips_gives_an_empty_outline_that_is_still_reloaded_and_expanded)
{
    // A tree left from an earlier scan must go: the outline is rebuilt, never edited.
    add_chip(reg.add_usb_bridge(usb_vendor, usb_product, 1, "S"), usb_identity(1), "A", "");
    ov::j.build_tree();
    ov::j.chips.clear();
    ov::j.setup_controller_map();
    window.clear();

    CaptureStdout();
    ov::j.build_tree();
    EXPECT_EQ(GetCapturedStdout(), "tree built");

    const auto root = ov::j.tree.getdata();
    EXPECT_EQ(ov::treeview::number_of_children(root, nullptr), 0);
    EXPECT_FALSE(ov::treeview::is_expandable(root, nullptr));
    EXPECT_EQ(ov::treeview::child(root, 0, nullptr), nullptr);
    EXPECT_EQ(ov::treeview::object_value(nullptr), "Root");
    EXPECT_EQ(window.requests(), (std::vector<std::string>{"refreshtree", "expandtree"}));
}

TEST_F(tree_test, usb_bridge_without_a_set_holds_its_disks_directly)
{
    add_chip(reg.add_usb_bridge(usb_vendor, usb_product, 1, "S1"), usb_identity(1, "S1"), "Model A", "Model B");

    CaptureStdout();
    ov::j.build_tree();
    EXPECT_EQ(GetCapturedStdout(), "addedtree built");

    const auto root = ov::j.tree.getdata();
    EXPECT_EQ(outline_text(root), "device 1 (USB)\n"
                                  "  P0: Model A\n"
                                  "  P1: Model B\n");
    ASSERT_EQ(ov::treeview::number_of_children(root, nullptr), 1);
    const ov::tree_node* chip = ov::treeview::child(root, 0, nullptr);
    EXPECT_TRUE(ov::treeview::is_expandable(root, chip));
    const ov::tree_node* leaf = ov::treeview::child(root, 1, chip);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(ov::treeview::number_of_children(root, leaf), 0);
    EXPECT_FALSE(ov::treeview::is_expandable(root, leaf));
    EXPECT_EQ(ov::treeview::child(root, 2, chip), nullptr);
    EXPECT_EQ(window.requests(), (std::vector<std::string>{"refreshtree", "expandtree"}));

    // The chip label's word comes from the string table.
    ov::set_localizer([](const std::string& key) { return key == "device" ? std::string("Laufwerk") : ""; });
    EXPECT_EQ(built_outline().substr(0, 17), "Laufwerk 1 (USB)\n");
}

TEST_F(tree_test, configured_sets_hang_their_disks_under_the_raid_node)
{
    add_chip(reg.add_firewire_bridge(0x0123456789AB), firewire_identity(0x0123456789AB), "Model A", "Model B", true);
    add_chip(reg.add_usb_bridge(usb_vendor, usb_product, 0x7000, "S123"), usb_identity(0x7000, "S123"), "Model C",
             "Model D", true);

    const auto text = built_outline();
    // FireWire: no space before "(GUID: ", upper-case digits without leading zeros;
    // USB: the serial after a space.
    // USB and FireWire keys sort as one sequence: location 0x7000 comes before the GUID.
    EXPECT_EQ(text, "device 1 (USB)\n"
                    "  RAID Volume (SN: S123)\n"
                    "    M0: Model C\n"
                    "    M1: Model D\n"
                    "device 2 (1394)\n"
                    "  RAID Volume(GUID: 123456789AB)\n"
                    "    M0: Model A\n"
                    "    M1: Model B\n");
    const auto root = ov::j.tree.getdata();
    const ov::tree_node* raid = ov::treeview::child(root, 0, ov::treeview::child(root, 1, nullptr));
    ASSERT_NE(raid, nullptr);
    EXPECT_TRUE(ov::treeview::is_expandable(root, raid));
    EXPECT_EQ(ov::treeview::number_of_children(root, raid), 2);
}

TEST_F(tree_test, only_present_disks_get_leaves_and_an_empty_chip_is_not_expandable)
{
    add_chip(reg.add_firewire_bridge(7), firewire_identity(7), "", "Model B", true);
    add_chip(reg.add_usb_bridge(usb_vendor, usb_product, 8, "S"), usb_identity(8), "", "");
    add_chip(reg.add_usb_bridge(usb_vendor, usb_product, 9, "S"), usb_identity(9), "", "Model E");

    EXPECT_EQ(built_outline(), "device 1 (1394)\n"
                               "  RAID Volume(GUID: 7)\n"
                               "    M1: Model B\n"
                               "device 2 (USB)\n"
                               "device 3 (USB)\n"
                               "  P1: Model E\n");
    const auto root = ov::j.tree.getdata();
    const ov::tree_node* empty = ov::treeview::child(root, 1, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(ov::treeview::number_of_children(root, empty), 0);
    EXPECT_FALSE(ov::treeview::is_expandable(root, empty));
}

TEST_F(tree_test, guid_with_its_top_bit_set_shows_all_its_digits)
{
    add_chip(reg.add_firewire_bridge(static_cast<int64_t>(0x8000000000000001ULL)),
             firewire_identity(0x8000000000000001ULL), "A", "B", true);
    add_chip(reg.add_firewire_bridge(-1), firewire_identity(~0ULL), "", "", true);

    EXPECT_EQ(built_outline(), "device 1 (1394)\n"
                               "  RAID Volume(GUID: 8000000000000001)\n"
                               "    M0: A\n"
                               "    M1: B\n"
                               "device 2 (1394)\n"
                               "  RAID Volume(GUID: FFFFFFFFFFFFFFFF)\n");
}

TEST_F(tree_test, chip_nodes_follow_key_order_not_list_order)
{
    // Listed: a USB bridge whose location has bit 31 set (its key sign-extends past every
    // GUID below 2^63), a USB bridge at location 9, a FireWire bridge with GUID 5.
    add_chip(reg.add_usb_bridge(usb_vendor, usb_product, INT32_MIN, "S"), usb_identity(INT32_MIN), "Top", "");
    add_chip(reg.add_usb_bridge(usb_vendor, usb_product, 9, "S"), usb_identity(9), "Nine", "");
    add_chip(reg.add_firewire_bridge(5), firewire_identity(5), "Five", "");

    EXPECT_EQ(built_outline(), "device 1 (1394)\n"
                               "  P0: Five\n"
                               "device 2 (USB)\n"
                               "  P0: Nine\n"
                               "device 3 (USB)\n"
                               "  P0: Top\n");
}

TEST_F(tree_test, labels_end_at_their_first_nul_byte)
{
    const uint32_t s = reg.add_usb_bridge(usb_vendor, usb_product, 1, "S", std::string("Mirror\0Set", 10));
    add_chip(s, usb_identity(1, "S"), std::string("AB\0CD", 5), "", false);
    EXPECT_EQ(built_outline(), "device 1 (USB)\n"
                               "  P0: AB\n");

    ov::j.chips[0].raid_configured = true;
    ov::j.chips[0].disks[1].present = true;
    ov::j.chips[0].disks[1].model = std::string("X\0Y", 3);
    EXPECT_EQ(built_outline(), "device 1 (USB)\n"
                               "  Mirror\n"
                               "    M0: AB\n"
                               "    M1: X\n");
}

// read_raid rereads every chip's records before the outline is built, so the tree
// shows what the disks say now, not what a chip remembered.
TEST_F(tree_test, read_raid_builds_the_outline_from_the_records_just_read)
{
    const uint32_t usb = plug_usb(0x100, "S1");
    const uint32_t fw = plug_firewire(0x42);
    insert_mirror(usb, "Disk A", "SA", "Disk B", "SB");
    insert_disk(fw, 0, "Disk C", "SC");
    insert_disk(fw, 1, "Disk D", "SD");

    ASSERT_TRUE(ov::j.scandevices());
    ov::j.updatediskinformation();
    CaptureStdout();
    ov::j.read_raid();
    EXPECT_EQ(GetCapturedStdout(), "addedaddedtree built");
    EXPECT_EQ(outline_text(ov::j.tree.getdata()), "device 1 (1394)\n"
                                                  "  P0: Disk C\n"
                                                  "  P1: Disk D\n"
                                                  "device 2 (USB)\n"
                                                  "  RAID Volume (SN: S1)\n"
                                                  "    M0: Disk A\n"
                                                  "    M1: Disk B\n");

    // The set is deleted on the disks: the next reading drops the RAID node.
    const sector zero{};
    lib.set_sector(usb, 0, 1000000 - 15, zero);
    lib.set_sector(usb, 1, 1000000 - 15, zero);
    ov::j.read_raid();
    EXPECT_EQ(outline_text(ov::j.tree.getdata()), "device 1 (1394)\n"
                                                  "  P0: Disk C\n"
                                                  "  P1: Disk D\n"
                                                  "device 2 (USB)\n"
                                                  "  P0: Disk A\n"
                                                  "  P1: Disk B\n");
}

// Every node carries its bridge's identity (the window finds the chip by it after chips
// moved), a chip node the state of its set, a disk node its bay and what the disk says.
TEST_F(tree_test, nodes_carry_their_bridge_chips_their_state_and_disks_their_bay)
{
    const uint32_t fw = plug_firewire(0x42);
    const uint32_t mirror = plug_usb(0x100, "S1");
    const uint32_t lone = plug_usb(0x200, "S2");
    insert_disk(fw, 1, "Disk E", "SE", 3000000);
    insert_mirror(mirror, "Disk A", "SA", "Disk B", "SB");
    insert_mirror(lone, "Disk C", "SC", "Disk D", "SD", 2000000);
    // One half of the second mirror pulled.
    lib.identify.erase({lone, 1});
    lib.set_register(lone, ov::reg_port1_presence, 0);
    ASSERT_TRUE(ov::j.scandevices());
    ov::j.updatediskinformation();
    ov::j.read_raid();

    std::string seen;
    const auto root = ov::j.tree.getdata();
    std::function<void(const ov::treeview::node_list&, int)> list = [&](const ov::treeview::node_list& nodes,
                                                                         int depth) {
        for (const auto& n : nodes) {
            const ov::controller_t& c = n->controller;
            seen += std::string(static_cast<size_t>(depth) * 2, ' ') + n->label + " |" +
                    (c.is_firewire ? " guid " + ov::inttohexstring(static_cast<int64_t>(c.guid), 0)
                                   : " usb " + c.usb_serial);
            if (n->kind == ov::node_kind::chip)
                seen += std::string(" ") + ov::state_name(n->state);
            if (n->kind == ov::node_kind::disk)
                seen += " bay " + std::to_string(n->disk.bay) + " " + n->disk.model + " " + n->disk.serial + " " +
                        std::to_string(n->disk.sectors);
            seen += "\n";
            list(n->children, depth + 1);
        }
    };
    list(root, 0);
    EXPECT_EQ(seen, "device 1 (1394) | guid 42 not_configured\n"
                    "  P1: Disk E | guid 42 bay 2 Disk E SE 3000000\n"
                    "device 2 (USB) | usb S1 healthy\n"
                    "  RAID Volume (SN: S1) | usb S1\n"
                    "    M0: Disk A | usb S1 bay 1 Disk A SA 1000000\n"
                    "    M1: Disk B | usb S1 bay 2 Disk B SB 1000000\n"
                    "device 3 (USB) | usb S2 degraded\n"
                    "  P0: Disk C | usb S2 bay 1 Disk C SC 2000000\n");
    ASSERT_EQ(root.size(), 3u);
    EXPECT_EQ(root[1]->children[0]->kind, ov::node_kind::raid);
    EXPECT_EQ(root[1]->children[0]->children[1]->kind, ov::node_kind::disk);
    // The identity finds the chip wherever the scan put it.
    const int chip = ov::j.get_controller_num(root[2]->controller);
    ASSERT_GE(chip, 0);
    EXPECT_EQ(ov::j.chips[static_cast<size_t>(chip)].service, lone);
}

// A registry that looks at the outline while the tree builder asks for a set's name,
// i.e. in the middle of a rebuild, the way a window repaint on another thread could.
class peeking_registry : public fake_registry {
public:
    std::string name(ov::registry_entry entry) override
    {
        if (!peeked) {
            peeked = true;
            snapshot = ov::j.tree.getdata();
            text_then = outline_text(snapshot);
        }
        return fake_registry::name(entry);
    }
    bool peeked = false;
    ov::treeview::node_list snapshot;
    std::string text_then;
};

// The outline questions are answered on a snapshot from getdata(), which the window may
// take while the notification thread rebuilds. A snapshot must then stay as it was:
// if the builder keeps filling nodes the snapshot shares, a reader on another thread
// races with it.
TEST_F(tree_test, a_snapshot_taken_during_a_rebuild_does_not_change_afterwards)
{
    peeking_registry peek;
    ov::install_registry(&peek);
    add_chip(peek.add_usb_bridge(usb_vendor, usb_product, 1, "S"), usb_identity(1, "S"), "Model A", "Model B", true);

    ov::j.build_tree();
    ASSERT_TRUE(peek.peeked);
    EXPECT_EQ(peek.text_then, "device 1 (USB)\n");
    EXPECT_EQ(outline_text(peek.snapshot), peek.text_then) << "the builder changed nodes a reader already held";
    ov::install_registry(&reg);
}

}  // namespace
}  // namespace ovtest
