// The device tree outline: chip nodes in controller-map order, the RAID node of a
// configured set, and the present disks. Plain data; the window wraps it in a model.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "health.h"
#include "raid.h"

namespace ov {

enum class node_kind { chip, raid, disk };

// What a disk said of itself at the scan, for the texts a disk node shows beside its label.
struct disk_facts {
    int bay = 0;            // 1 or 2, as printed on the enclosure
    std::string model, serial;
    uint64_t sectors = 0;
};

struct tree_node {
    std::string label;
    bool branch = false;   // a leaf is a bare label
    node_kind kind = node_kind::chip;
    // The bridge the node belongs to, for every node under a chip too: chip positions change
    // at every scan, the identity does not.
    controller_t controller;
    chip_state state = chip_state::not_configured;   // chip nodes: the state at the scan
    disk_facts disk;                                 // disk nodes
    std::vector<std::shared_ptr<tree_node>> children;
};

class treeview {
public:
    using node_list = std::vector<std::shared_ptr<tree_node>>;

    void cleartree();
    node_list getdata() const;
    void addchipFirewire(bool firewire);
    void addchip(const controller_t& identity, chip_state state);
    void addraid(int chip, const std::string& label);
    void adddisk(int chip, const std::string& label, bool raid, const disk_facts& facts = {});

    // The outline questions, answered on a snapshot taken with getdata() (the window
    // keeps its snapshot alive while it shows it); a null item is the invisible root.
    static int number_of_children(const node_list& root, const tree_node* item);
    static const tree_node* child(const node_list& root, int index, const tree_node* item);
    static bool is_expandable(const node_list& root, const tree_node* item);
    static std::string object_value(const tree_node* item);

private:
    mutable std::mutex mutex_;   // the window reads while the notification thread rebuilds
    node_list data_;
};

}  // namespace ov
